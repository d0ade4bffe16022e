// Page 1 "Настройка ККМ": the read-all and write-all buttons, the tabs of the
// register's configuration tables and the profile panel.
#pragma once

#include <QWidget>

#include "PageHost.h"

class QTabWidget;

namespace zarvik::ui {

class TOptionsTab;
class TDepartmentsTab;
class TReceiptTab;
class TTaxesTab;
class TOperatorsTab;
class TTextTab;
class TProfilePanel;

class TConfigPage : public QWidget {
  Q_OBJECT
 public:
  TConfigPage(TPageHost& host, QWidget* parent = nullptr);

  TOptionsTab& Options() { return *options_; }
  TDepartmentsTab& Departments() { return *departments_; }
  TReceiptTab& Receipt() { return *receipt_; }
  TTaxesTab& Taxes() { return *taxes_; }
  TOperatorsTab& Operators() { return *operators_; }
  TTextTab& Text() { return *text_; }
  TProfilePanel& Profiles() { return *profiles_; }
  QTabWidget& Tabs() { return *tabs_; }

  // The free-text tab is shown only with the switch "okb".
  void SetTextTabVisible(bool visible);

 private:
  TPageHost& host_;
  QTabWidget* tabs_ = nullptr;
  TOptionsTab* options_ = nullptr;
  TDepartmentsTab* departments_ = nullptr;
  TReceiptTab* receipt_ = nullptr;
  TTaxesTab* taxes_ = nullptr;
  TOperatorsTab* operators_ = nullptr;
  TTextTab* text_ = nullptr;
  TProfilePanel* profiles_ = nullptr;
};

}  // namespace zarvik::ui
