// Page 1 "Настройка ККМ": the read-all and write-all buttons, the tabs of the
// register's configuration tables and the profile panel.
#pragma once

#include <QWidget>

#include "PageHost.h"

class QCheckBox;
class QTabWidget;

namespace zarvik::ui {

inline constexpr const char* kOnlyDifferencesCaption = "только отличия";
inline constexpr const char* kOnlyDifferencesTip =
    "Записывать в ККМ только то, что отличается от её текущих значений "
    "(перед записью они считываются из ККМ)";

class TOptionsTab;
class TDepartmentsTab;
class TReceiptTab;
class TTaxesTab;
class TOperatorsTab;
class TTextTab;
class TProfilePanel;
class TSpeedButtonEx;

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
  // "только отличия": the writes send only what differs from the register.
  QCheckBox& OnlyDifferences() { return *cbOnlyDifferences_; }

  // The free-text tab is shown only with the switch "okb".
  void SetTextTabVisible(bool visible);

  // Reading and writing the whole configuration: the table actions of the
  // tabs one after another, each to its end.
  void LoadAll();
  void SaveAll();

 private:
  // Whether the register has programmable operators (the probe).
  bool HasOperators();

  TPageHost& host_;
  QTabWidget* tabs_ = nullptr;
  TOptionsTab* options_ = nullptr;
  TDepartmentsTab* departments_ = nullptr;
  TReceiptTab* receipt_ = nullptr;
  TTaxesTab* taxes_ = nullptr;
  TOperatorsTab* operators_ = nullptr;
  TTextTab* text_ = nullptr;
  TProfilePanel* profiles_ = nullptr;
  TSpeedButtonEx* bLoadAllOptions_ = nullptr;
  TSpeedButtonEx* bSaveAllOptions_ = nullptr;
  QCheckBox* cbOnlyDifferences_ = nullptr;
};

}  // namespace zarvik::ui
