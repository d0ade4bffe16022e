// The departments tab: the department grid, read and write.
#pragma once

#include <QWidget>

#include "PageHost.h"

namespace zarvik::ui {

class TDepartmentsTab : public QWidget {
  Q_OBJECT
 public:
  TDepartmentsTab(TPageHost& host, QWidget* parent = nullptr);

  static constexpr const char* kCaption = "Отделы";

 private:
  TPageHost& host_;
};

}  // namespace zarvik::ui
