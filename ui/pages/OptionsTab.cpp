#include "OptionsTab.h"

namespace zarvik::ui {

TOptionsTab::TOptionsTab(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetOptions");
}

}  // namespace zarvik::ui
