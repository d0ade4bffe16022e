// The departments tab "Отделы": the department grid, reading the departments
// from the register and writing them back.
#pragma once

#include <QWidget>

#include "PageHost.h"

namespace zarvik::ui {

class TDBGridEh;

class TDepartmentsTab : public QWidget {
  Q_OBJECT
 public:
  TDepartmentsTab(TPageHost& host, QWidget* parent = nullptr);

  static constexpr const char* kCaption = "Отделы";

  // The two actions (also run by the read-all and write-all actions).
  void LoadDepartments();
  void SaveDepartments();

  TDBGridEh& Grid() { return *grid_; }

 private:
  void ApplyLanguage();
  void ReadDepartments();
  void WriteDepartments();

  TPageHost& host_;
  TDBGridEh* grid_ = nullptr;
};

}  // namespace zarvik::ui
