// Page 2 "Товары и Услуги": the goods table, its transfers to and from the register, import and export.
#pragma once

#include <QWidget>

#include "PageHost.h"

namespace zarvik::ui {

class TGoodsPage : public QWidget {
  Q_OBJECT
 public:
  TGoodsPage(TPageHost& host, QWidget* parent = nullptr);

 private:
  TPageHost& host_;
};

}  // namespace zarvik::ui
