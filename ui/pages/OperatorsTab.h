// The operators tab: operator names and positions, read and write.
#pragma once

#include <QWidget>

#include "PageHost.h"

namespace zarvik::ui {

class TOperatorsTab : public QWidget {
  Q_OBJECT
 public:
  TOperatorsTab(TPageHost& host, QWidget* parent = nullptr);

  static constexpr const char* kCaption = "Операторы";

 private:
  TPageHost& host_;
};

}  // namespace zarvik::ui
