#include "GoodsPage.h"

namespace zarvik::ui {

TGoodsPage::TGoodsPage(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetGood");
}

}  // namespace zarvik::ui
