#include "TextTab.h"

namespace zarvik::ui {

TTextTab::TTextTab(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetTxt");
}

}  // namespace zarvik::ui
