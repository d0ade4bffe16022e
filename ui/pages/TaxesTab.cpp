#include "TaxesTab.h"

namespace zarvik::ui {

TTaxesTab::TTaxesTab(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetTax");
}

}  // namespace zarvik::ui
