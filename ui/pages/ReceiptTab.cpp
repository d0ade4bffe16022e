#include "ReceiptTab.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QVBoxLayout>

#include "ConfigTabSupport.h"
#include "DBComboBox.h"
#include "DBGridEh.h"
#include "SpeedButtonEx.h"
#include "model/U_kkms.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"
#include "store/UnitBD.h"

namespace zarvik::ui {

namespace {

constexpr int kLineNumberChars = 3;
constexpr int kLineChars = 33;

TDBGridEh* LineGrid(TWorkTable& table, const char* name, QWidget* parent) {
  auto* grid = new TDBGridEh(
      table, {ReadOnlyColumn("Num", kLineNumberChars), Column("Caption", {false, kLineChars})}, parent);
  grid->setObjectName(name);
  grid->setAccessibleName(QString::fromStdString(table.Field(table.FieldIndex("Caption")).Caption()));
  grid->verticalHeader()->hide();
  grid->horizontalHeader()->setStretchLastSection(false);
  SetGridFont(*grid, FixedPitchFont(grid->font()));
  // The header row keeps the window's font.
  grid->horizontalHeader()->setFont(OwnFont(parent->font()));
  grid->FitColumns();
  FitGridToRows(*grid, kDefaultReceiptLines);
  return grid;
}

// Copies the six lines into the rows of `table`, in row order.
void FillLines(TWorkTable& table, const std::array<std::string, kReceiptLineCount>& lines) {
  table.DisableControls();
  for (int j = 1; j <= kReceiptLineCount; ++j) {
    EditOrAppendRow(table, j);
    table.SetInteger("Num", j);
    table.SetText("Caption", lines[static_cast<std::size_t>(j - 1)]);
    table.Post();
  }
  table.First();
  table.EnableControls();
}

// The captions of the rows of `table`, in row order; missing rows give
// empty lines.
void TakeLines(TWorkTable& table, std::array<std::string, kReceiptLineCount>& lines) {
  const int rows = table.RecordCount();
  const int keep = table.RecNo();
  for (int i = 1; i <= kReceiptLineCount; ++i) {
    lines[static_cast<std::size_t>(i - 1)] =
        i <= rows && table.SetRecNo(i) ? table.Text("Caption") : std::string();
  }
  if (keep > 0) table.SetRecNo(keep);
}

}  // namespace

QStringList AllPrintFontNames() {
  QStringList names;
  for (std::string_view n : PrintFontNames) names << Utf8(n);
  return names;
}

int TReceiptTab::FontNumber(const std::string& name) {
  if (name.empty() || name[0] < '0' || name[0] > '9') return 0;
  return name[0] - '0';
}

TReceiptTab::TReceiptTab(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetCheck");
  TBD& bd = host_.Bd();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(4);
  buttons->addWidget(ActionButton(host_, this, "bLoadTitle", "aCheckLoad"));
  buttons->addWidget(ActionButton(host_, this, "bSaveToKKM", "aCheckSave"));
  buttons->addStretch(1);
  layout->addLayout(buttons);

  auto* blocks = new QGridLayout;
  blocks->setHorizontalSpacing(10);
  blocks->setVerticalSpacing(8);
  title_ = LineGrid(bd.mtTitle, "DBGridEhTitleCheck", this);
  footer_ = LineGrid(bd.mtFooter, "DBGridEhFooterCheck", this);
  int row = 0;
  for (auto [grid, box, name, labelName] :
       {std::tuple{title_, &titleFont_, "cbDbTitleFont", "LabelTitleFont"},
        std::tuple{footer_, &footerFont_, "cbDbfooterFont", "LabelFooterFont"}}) {
    auto* fontColumn = new QVBoxLayout;
    fontColumn->setSpacing(2);
    auto* label = new QLabel(QString::fromUtf8("Шрифт"), this);
    label->setObjectName(labelName);
    *box = new TDBComboBox(this);
    (*box)->setObjectName(name);
    (*box)->setAccessibleName(QString::fromUtf8("Шрифт"));
    // Tells the two lists apart: the block whose font each one chooses.
    (*box)->setAccessibleDescription(grid->accessibleName());
    (*box)->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    label->setBuddy(*box);
    fontColumn->addWidget(label);
    fontColumn->addWidget(*box);
    fontColumn->addStretch(1);
    blocks->addWidget(grid, row, 0, Qt::AlignTop | Qt::AlignLeft);
    blocks->addLayout(fontColumn, row, 1);
    ++row;
  }
  blocks->setColumnStretch(2, 1);
  layout->addLayout(blocks);
  layout->addStretch(1);
  titleFont_->SetDataSource(&bd.mtCheckFont, "TitleFont");
  footerFont_->SetDataSource(&bd.mtCheckFont, "footerFont");
  SetFontNames(AllPrintFontNames());

  connect(host_.Action("aCheckLoad"), &QAction::triggered, this, &TReceiptTab::LoadReceiptText);
  connect(host_.Action("aCheckSave"), &QAction::triggered, this, &TReceiptTab::SaveReceiptText);
  host_.SetActionEnabled("aCheckLoad", true);
  host_.SetActionEnabled("aCheckSave", true);
}

void TReceiptTab::SetFontNames(const QStringList& names) {
  titleFont_->SetItems(names);
  footerFont_->SetItems(names);
}

void TReceiptTab::LoadReceiptText() {
  if (host_.RegisterBusy()) return;
  title_->PostEditor();
  footer_->PostEditor();
  BringTabToFront(this);
  host_.RunRegisterAction(pgConfig, kCheckLoadWait, [this] { ReadReceiptText(); });
}

void TReceiptTab::ReadReceiptText() {
  TBD& bd = host_.Bd();
  TProtocolKKM& protocol = host_.Protocol();
  bd.mtProfile.First();
  for (int n = 1; n <= kReceiptLineCount; ++n) {
    if (!protocol.GetHeaderLine(n)) {
      Error("не удалось получить информацию о заголовках", true, true, true);
      return;
    }
  }
  TKKMInfo& info = host_.Kkm().Info();
  FillLines(bd.mtTitle, info.headerLines);
  for (int n = 1; n <= kReceiptLineCount; ++n) {
    if (!protocol.GetFooterLine(n)) {
      Error("не удалось получить информацию об окончании чека", true, true, true);
      return;
    }
  }
  FillLines(bd.mtFooter, info.footerLines);

  // The font lists offer the register's fonts only.
  QStringList names;
  for (int m = 0; m <= info.maxCountFont; ++m) names << QString::fromStdString(info.FontName(m));
  SetFontNames(names);
  emit fontNamesChanged(names);

  TWorkTable& fonts = bd.mtCheckFont;
  EditOrAppendRow(fonts, 1);
  fonts.SetText("TitleFont", info.FontName(info.headerFont));
  fonts.SetText("footerFont", info.FontName(info.footerFont));
  fonts.Post();
  Mess("Загружены заголовок и окончание чека", false, true, true);
  HideWait();
  host_.Flags().receiptTextLoaded = true;
}

void TReceiptTab::SaveReceiptText() {
  if (host_.RegisterBusy()) return;
  title_->PostEditor();
  footer_->PostEditor();
  BringTabToFront(this);
  host_.RunRegisterAction(pgConfig, kCheckSaveWait, [this] { WriteReceiptText(); });
}

void TReceiptTab::WriteReceiptText() {
  TBD& bd = host_.Bd();
  TProtocolKKM& protocol = host_.Protocol();
  TWorkTable& fonts = bd.mtCheckFont;
  if (fonts.GetState() != TWorkTable::State::Browse) fonts.Post();
  TKKMInfo& info = host_.Kkm().Info();
  const bool haveFonts = fonts.RecordCount() > 0;
  if (haveFonts) fonts.First();
  info.headerFont =
      static_cast<std::uint8_t>(FontNumber(haveFonts ? fonts.Text("TitleFont") : std::string()));
  info.footerFont =
      static_cast<std::uint8_t>(FontNumber(haveFonts ? fonts.Text("footerFont") : std::string()));

  TakeLines(bd.mtTitle, info.headerLines);
  for (int i = 1; i <= kReceiptLineCount; ++i) {
    if (!protocol.SetHeaderLine(i)) {
      Error("не удалось записать информацию о заголовках", true, true, true);
      return;
    }
  }
  Mess("Начало Footer", false, true, true);
  TakeLines(bd.mtFooter, info.footerLines);
  for (int i = 1; i <= kReceiptLineCount; ++i) {
    if (!protocol.SetFooterLine(i)) {
      Error("не удалось записать информацию об окончаниях", true, true, true);
      return;
    }
  }
  Mess("Записаны заголовок и окончание чека", false, true, true);
  HideWait();
}

}  // namespace zarvik::ui
