#include "OperatorsTab.h"

namespace zarvik::ui {

TOperatorsTab::TOperatorsTab(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetOperators");
}

}  // namespace zarvik::ui
