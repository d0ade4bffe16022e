// The options tab: option cards and table, read, write, defaults, view switch.
#pragma once

#include <QWidget>

#include "PageHost.h"

namespace zarvik::ui {

class TOptionsTab : public QWidget {
  Q_OBJECT
 public:
  TOptionsTab(TPageHost& host, QWidget* parent = nullptr);

  static constexpr const char* kCaption = "Опции";

 private:
  TPageHost& host_;
};

}  // namespace zarvik::ui
