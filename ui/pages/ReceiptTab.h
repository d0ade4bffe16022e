// The receipt header and footer tab: two line grids, their fonts, read and write.
#pragma once

#include <QWidget>

#include "PageHost.h"

namespace zarvik::ui {

class TReceiptTab : public QWidget {
  Q_OBJECT
 public:
  TReceiptTab(TPageHost& host, QWidget* parent = nullptr);

  static constexpr const char* kCaption = "Заголовок и окончание чека";

 private:
  TPageHost& host_;
};

}  // namespace zarvik::ui
