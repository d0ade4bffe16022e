#include "ConfigPage.h"

#include <QHBoxLayout>
#include <QTabWidget>
#include <QVBoxLayout>

#include "DepartmentsTab.h"
#include "OperatorsTab.h"
#include "OptionsTab.h"
#include "ProfilePanel.h"
#include "ReceiptTab.h"
#include "TaxesTab.h"
#include "TextTab.h"

namespace zarvik::ui {

TConfigPage::TConfigPage(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetConfig");
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  auto* left = new QVBoxLayout;
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
}

void TConfigPage::SetTextTabVisible(bool visible) {
  tabs_->setTabVisible(tabs_->indexOf(text_), visible);
}

}  // namespace zarvik::ui
