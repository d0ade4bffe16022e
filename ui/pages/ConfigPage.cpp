#include "ConfigPage.h"

#include <QAction>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QTabWidget>
#include <QVBoxLayout>

#include "ConfigTabSupport.h"
#include "DepartmentsTab.h"
#include "OperatorsTab.h"
#include "OptionsTab.h"
#include "ProfilePanel.h"
#include "ReceiptTab.h"
#include "SpeedButtonEx.h"
#include "TaxesTab.h"
#include "TextTab.h"
#include "WriteGuard.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "store/UnitBD.h"

namespace zarvik::ui {

TConfigPage::TConfigPage(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetConfig");
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  auto* left = new QVBoxLayout;

  // The read-all and write-all buttons, in bold, above the tabs.
  auto* all = new QHBoxLayout;
  all->setSpacing(6);
  bLoadAllOptions_ = ActionButton(host_, this, "bLoadAllOptions", "aLoadAll");
  bSaveAllOptions_ = ActionButton(host_, this, "bSaveAllOptions", "aSaveAll");
  for (TSpeedButtonEx* b : {bLoadAllOptions_, bSaveAllOptions_}) {
    QFont f = b->font();
    f.setBold(true);
    b->setFont(f);
    all->addWidget(b);
  }
  cbOnlyDifferences_ = new QCheckBox(QString::fromUtf8(kOnlyDifferencesCaption), this);
  cbOnlyDifferences_->setObjectName("cbOnlyDifferences");
  cbOnlyDifferences_->setAccessibleName(QString::fromUtf8(kOnlyDifferencesCaption));
  cbOnlyDifferences_->setToolTip(QString::fromUtf8(kOnlyDifferencesTip));
  cbOnlyDifferences_->setChecked(host_.WriteSafety().onlyDifferences);
  connect(cbOnlyDifferences_, &QCheckBox::toggled, this,
          [this](bool on) { host_.WriteSafety().onlyDifferences = on; });
  all->addSpacing(8);
  all->addWidget(cbOnlyDifferences_);
  all->addStretch(1);
  left->addLayout(all);

  tabs_ = new QTabWidget(this);
  tabs_->setObjectName("PageControlConfig");
  options_ = new TOptionsTab(host, tabs_);
  departments_ = new TDepartmentsTab(host, tabs_);
  receipt_ = new TReceiptTab(host, tabs_);
  taxes_ = new TTaxesTab(host, tabs_);
  operators_ = new TOperatorsTab(host, tabs_);
  text_ = new TTextTab(host, tabs_);
  tabs_->addTab(options_, QString::fromUtf8(TOptionsTab::kCaption));
  tabs_->addTab(departments_, QString::fromUtf8(TDepartmentsTab::kCaption));
  tabs_->addTab(receipt_, QString::fromUtf8(TReceiptTab::kCaption));
  tabs_->addTab(taxes_, QString::fromUtf8(TTaxesTab::kCaption));
  tabs_->addTab(operators_, QString::fromUtf8(TOperatorsTab::kCaption));
  tabs_->addTab(text_, QString::fromUtf8(TTextTab::kCaption));
  left->addWidget(tabs_, 1);
  layout->addLayout(left, 1);
  profiles_ = new TProfilePanel(host, this);
  layout->addWidget(profiles_);

  connect(receipt_, &TReceiptTab::fontNamesChanged, text_, &TTextTab::SetFontNames);
  connect(host_.Action("aLoadAll"), &QAction::triggered, this, &TConfigPage::LoadAll);
  connect(host_.Action("aSaveAll"), &QAction::triggered, this, &TConfigPage::SaveAll);
  host_.SetActionEnabled("aLoadAll", true);
  host_.SetActionEnabled("aSaveAll", true);
}

void TConfigPage::SetTextTabVisible(bool visible) {
  tabs_->setTabVisible(tabs_->indexOf(text_), visible);
}

bool TConfigPage::HasOperators() {
  int count = 0;
  // The probe is an exchange like any other: nothing else may start meanwhile.
  host_.RunTransfer([&] { count = host_.Protocol().GetOperatorCount(); });
  return count > 0;
}

void TConfigPage::LoadAll() {
  if (host_.RegisterBusy()) return;
  host_.SelectPage(pgConfig);
  options_->LoadOptions();
  departments_->LoadDepartments();
  receipt_->LoadReceiptText();
  taxes_->LoadTaxes();
  if (HasOperators()) operators_->LoadOperators();
  Mess("Загрузка " + colorToStrR(C_Query) + "завершена!", false, true, true);
  TLoadedFlags& flags = host_.Flags();
  flags.optionsLoaded = flags.departmentsLoaded = flags.receiptTextLoaded = flags.taxesLoaded = true;
}

void TConfigPage::SaveAll() {
  if (host_.RegisterBusy()) return;
  host_.SelectPage(pgConfig);
  TBD& bd = host_.Bd();
  // The register's values of every table are read (and backed up) once, by
  // the first step that reaches the register.
  TWriteGuard batch(host_, stAllSettings);
  batch.BeginBatch();
  // A profile that lacks a table (a backup of other tables) leaves the
  // register's one as it is.
  const auto missing = [](const char* what) {
    Mess(std::string(what) + ": в настройке нет строк, не записаны", false, true, true);
  };
  if (bd.mtOptions.RecordCount() > 0)
    options_->SaveOptions();
  else
    missing("Опции");
  if (bd.mtDepatment.RecordCount() > 0)
    departments_->SaveDepartments();
  else
    missing("Отделы");
  if (bd.mtTitle.RecordCount() > 0 || bd.mtFooter.RecordCount() > 0)
    receipt_->SaveReceiptText();
  else
    missing("Заголовок и окончание чека");
  if (HasOperators()) operators_->SaveOperators();
  Mess("Запись" + colorToStrR(C_Query) + " завершена!", false, true, true);
}

}  // namespace zarvik::ui
