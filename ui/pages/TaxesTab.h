// The taxes tab: the tax grid (read only) and its read action.
#pragma once

#include <QWidget>

#include "PageHost.h"

namespace zarvik::ui {

class TTaxesTab : public QWidget {
  Q_OBJECT
 public:
  TTaxesTab(TPageHost& host, QWidget* parent = nullptr);

  static constexpr const char* kCaption = "Налоги";

 private:
  TPageHost& host_;
};

}  // namespace zarvik::ui
