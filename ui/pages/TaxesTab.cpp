#include "TaxesTab.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>
#include <cmath>

#include "ConfigTabSupport.h"
#include "DBGridEh.h"
#include "DiffMarks.h"
#include "SpeedButtonEx.h"
#include "model/U_kkms.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "store/UnitBD.h"

namespace zarvik::ui {

namespace {

constexpr int kRateDecimals = 4;
constexpr int kNumberChars = 3;
constexpr int kNameChars = 13;
constexpr int kKindChars = 13;
constexpr int kRateChars = 8;

double RoundRate(double rate) {
  const double scale = std::pow(10.0, kRateDecimals);
  return std::round(rate * scale) / scale;
}

}  // namespace

QString TTaxesTab::TaxKindText(const QString& code) {
  if (code == QLatin1String("0")) return QString::fromUtf8("Начисляемый");
  if (code == QLatin1String("1")) return QString::fromUtf8("Выделяемый");
  return {};
}

TTaxesTab::TTaxesTab(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetTax");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(ActionButton(host_, this, "bLoadTax", "aTaxLoad"));
  buttons->addStretch(1);
  layout->addLayout(buttons);

  grid_ =
      new TDBGridEh(host_.Bd().mtTax,
                    {ReadOnlyColumn("Num", kNumberChars), Column("isDefined", {true, 0, {}, Qt::AlignCenter}),
                     ReadOnlyColumn("Name", kNameChars), ReadOnlyColumn("Type", kKindChars),
                     ReadOnlyColumn("Percent", kRateChars)},
                    this);
  grid_->setObjectName("DBGridEh1");
  grid_->setAccessibleName(QString::fromUtf8(kCaption));
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->verticalHeader()->hide();
  grid_->horizontalHeader()->setStretchLastSection(false);
  const int typeColumn = grid_->Model().ColumnOf("Type");
  grid_->Model().displayText = [typeColumn](int, int column, const QString& text) {
    return column == typeColumn ? TaxKindText(text) : text;
  };
  const int numColumn = grid_->Model().ColumnOf("Num");
  grid_->Model().cellStyle = [this, numColumn](int row, int column) {
    TCellStyle s;
    if (column == numColumn && RowDiffers(host_, host_.Bd().mtTax, TDiffTable::Taxes, row)) MarkDifference(s);
    return s;
  };
  grid_->FitColumns();
  FitGridToRows(*grid_, kDefaultTaxRows);
  layout->addWidget(grid_, 0, Qt::AlignLeft);
  layout->addStretch(1);

  connect(host_.Action("aTaxLoad"), &QAction::triggered, this, &TTaxesTab::LoadTaxes);
  host_.SetActionEnabled("aTaxLoad", true);
}

void TTaxesTab::LoadTaxes() {
  if (host_.RegisterBusy()) return;
  BringTabToFront(this);
  host_.RunRegisterAction(pgConfig, kTaxLoadWait, [this] { ReadTaxes(); });
}

void TTaxesTab::ReadTaxes() {
  TBD& bd = host_.Bd();
  bd.mtProfile.First();
  for (int i = 1; i <= kTaxCount; ++i) {
    if (!host_.Protocol().GetTax(i)) {
      Error("не удалось получить информацию о налогах", true, true, true);
      return;
    }
  }
  const TKKMInfo& info = host_.Kkm().Info();
  TWorkTable& t = bd.mtTax;
  t.DisableControls();
  for (int j = 1; j <= kTaxCount; ++j) {
    const TTaxRec& tax = info.taxes[static_cast<std::size_t>(j - 1)];
    const bool defined = tax.defined == TTaxRec::kDefinedMark;
    EditOrAppendRow(t, j);
    t.SetInteger("Num", j);
    t.SetBoolean("isDefined", defined);
    t.SetText("Name", tax.name);
    t.SetText("Type", kNewTaxType);
    if (defined) {
      t.SetInteger("Type", tax.kind);
      t.SetFloat("Percent", RoundRate(tax.rate));
    }
    t.Post();
  }
  t.First();
  t.EnableControls();
  Mess("Загружена информация о налогах", false, true, true);
  HideWait();
  host_.Flags().taxesLoaded = true;
}

}  // namespace zarvik::ui
