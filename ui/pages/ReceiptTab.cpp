#include "ReceiptTab.h"

namespace zarvik::ui {

TReceiptTab::TReceiptTab(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetCheck");
}

}  // namespace zarvik::ui
