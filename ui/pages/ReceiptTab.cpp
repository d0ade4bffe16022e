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
#include "DiffMarks.h"
#include "SpeedButtonEx.h"
#include "WriteGuard.h"
#include "model/RegisterText.h"
#include "model/U_kkms.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"
#include "store/UnitBD.h"

namespace zarvik::ui {

namespace {

constexpr int kLineNumberChars = 3;
constexpr int kLineChars = 33;

TDBGridEh* LineGrid(TPageHost& host, TWorkTable& table, TDiffTable kind, const char* name, QWidget* parent) {
  auto* grid = new TDBGridEh(
      table, {ReadOnlyColumn("Num", kLineNumberChars), Column("Caption", {false, kLineChars})}, parent);
  const int numColumn = grid->Model().ColumnOf("Num");
  const int captionColumn = grid->Model().ColumnOf("Caption");
  grid->Model().cellStyle = [&host, &table, kind, numColumn, captionColumn](int row, int column) {
    TCellStyle s;
    if (column == numColumn && RowDiffers(host, table, kind, row)) MarkDifference(s);
    if (column == captionColumn) MarkUnprintable(s, table.ViewText(row, table.FieldIndex("Caption")));
    return s;
  };
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
  title_ = LineGrid(host_, bd.mtTitle, TDiffTable::Header, "DBGridEhTitleCheck", this);
  footer_ = LineGrid(host_, bd.mtFooter, TDiffTable::Footer, "DBGridEhFooterCheck", this);
  int row = 0;
  for (auto [grid, box, name, labelName, labelSlot] :
       {std::tuple{title_, &titleFont_, "cbDbTitleFont", "LabelTitleFont", &titleFontLabel_},
        std::tuple{footer_, &footerFont_, "cbDbfooterFont", "LabelFooterFont", &footerFontLabel_}}) {
    auto* fontColumn = new QVBoxLayout;
    fontColumn->setSpacing(2);
    auto* label = new QLabel(QString::fromUtf8("Шрифт"), this);
    *labelSlot = label;
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

  // The font labels follow the profile on display and the edits.
  for (TDBGridEh* grid : {title_, footer_}) {
    connect(&grid->Model(), &QAbstractItemModel::modelReset, this, &TReceiptTab::UpdateFontMarks);
    connect(&grid->Model(), &QAbstractItemModel::dataChanged, this, &TReceiptTab::UpdateFontMarks);
  }
  for (TDBComboBox* box : {titleFont_, footerFont_})
    connect(box, &QComboBox::currentIndexChanged, this, &TReceiptTab::UpdateFontMarks);
  UpdateFontMarks();

  connect(host_.Action("aCheckLoad"), &QAction::triggered, this, &TReceiptTab::LoadReceiptText);
  connect(host_.Action("aCheckSave"), &QAction::triggered, this, &TReceiptTab::SaveReceiptText);
  host_.SetActionEnabled("aCheckLoad", true);
  host_.SetActionEnabled("aCheckSave", true);
}

bool TReceiptTab::FontDiffersShown(bool footer) {
  return FontDiffers(host_.Bd().mtCheckFont, footer, ComparisonKey(host_));
}

void TReceiptTab::UpdateFontMarks() {
  for (auto [label, footer] : {std::pair{titleFontLabel_, false}, std::pair{footerFontLabel_, true}}) {
    const bool differs = FontDiffersShown(footer);
    QFont f = font();
    f.setBold(differs);
    label->setFont(f);
    QPalette p = palette();
    if (differs) p.setColor(QPalette::WindowText, kDifferColor);
    label->setPalette(p);
    label->setToolTip(differs ? QString::fromUtf8("Шрифт отличается") : QString());
  }
}

void TReceiptTab::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  UpdateFontMarks();
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
  // A profile without receipt lines (a backup of other tables) would blank
  // the register's lines.
  if (bd.mtTitle.RecordCount() == 0 && bd.mtFooter.RecordCount() == 0) {
    HideWait();
    Error("заголовок и окончание чека не записаны: в настройке нет строк", true, true, true);
    return;
  }
  TWriteGuard guard(host_, stReceipt);
  if (!guard.Prepare()) return;
  const TRegisterSnapshot* snapshot = guard.Snapshot();
  const bool onlyDifferences = guard.OnlyDifferences() && snapshot->receipt.has_value();
  TKKMInfo& info = host_.Kkm().Info();
  const bool haveFonts = fonts.RecordCount() > 0;
  if (haveFonts) fonts.First();
  info.headerFont =
      static_cast<std::uint8_t>(FontNumber(haveFonts ? fonts.Text("TitleFont") : std::string()));
  info.footerFont =
      static_cast<std::uint8_t>(FontNumber(haveFonts ? fonts.Text("footerFont") : std::string()));

  TakeLines(bd.mtTitle, info.headerLines);
  TakeLines(bd.mtFooter, info.footerLines);
  // Only the lines that differ; a changed font goes with every line of its block.
  const auto lines = [&](bool footer) {
    std::vector<int> sent;
    const auto& mine = footer ? info.footerLines : info.headerLines;
    for (int i = 1; i <= kReceiptLineCount; ++i) {
      const auto k = static_cast<std::size_t>(i - 1);
      if (onlyDifferences) {
        const TReceiptSnapshot& r = *snapshot->receipt;
        const bool fontSame = footer ? r.footerFont == info.footerFont : r.headerFont == info.headerFont;
        if (fontSame && SameRegisterText(mine[k], (footer ? r.footer : r.header)[k])) continue;
      }
      sent.push_back(i);
      const std::string what =
          std::string(footer ? "Окончание чека" : "Заголовок чека") + ", строка " + std::to_string(i);
      if (const std::string w = UnprintableWarning(what, mine[k]); !w.empty())
        Warning(w + ", они не будут записаны", false, true, true);
    }
    return sent;
  };
  const std::vector<int> header = lines(false);
  const std::vector<int> footer = lines(true);
  if (onlyDifferences && header.empty() && footer.empty()) {
    Mess("Заголовок и окончание чека не отличаются от ККМ, запись не нужна", false, true, true);
    HideWait();
    return;
  }
  for (const int i : header) {
    if (!protocol.SetHeaderLine(i)) {
      Error("не удалось записать информацию о заголовках", true, true, true);
      return;
    }
  }
  Mess("Начало Footer", false, true, true);
  for (const int i : footer) {
    if (!protocol.SetFooterLine(i)) {
      Error("не удалось записать информацию об окончаниях", true, true, true);
      return;
    }
  }
  Mess("Записаны заголовок и окончание чека", false, true, true);
  HideWait();
}

}  // namespace zarvik::ui
