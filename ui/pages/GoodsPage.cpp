#include "GoodsPage.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "DBGridEh.h"
#include "DiffMarks.h"
#include "SpeedButtonEx.h"
#include "model/RegisterText.h"
#include "model/U_kkms.h"
#include "shell/DiaLog.h"
#include "shell/TextCodec.h"
#include "store/GoodsExchange.h"
#include "store/UnitBD.h"

namespace zarvik::ui {

namespace {

// The actions DisableGoodsActions switches off: the page's own and the file
// actions.
constexpr std::array<std::string_view, 17> kGoodsActions = {
    "tovarLoadAll",   "tovarLoadOne",      "tovarSaveAll",      "tovarSaveOne",     "tovarAddRec",
    "tovarDelRec",    "tovarRemarkDelOne", "tovarRemarkDelAll", "tovarCorrectData", "tovarImport",
    "tovarExport",    "tovarFromDBF",      "tovarToDBF",        "tovarFromCSV",     "tovarToCSV",
    "tovarFromSheet", "tovarToXLSX"};

// Display widths of the grid's columns (characters), in field order.
constexpr std::array<int, kGoodsFieldCount> kColumnChars = {6, 7, 32, 3, 10, 4, 5, 16, 4, 10};

constexpr int kButtonSpacing = 2;
constexpr int kGroupSpacing = 4;  // narrow: the bar fits a 1280-wide screen

// Choices of the coded columns and the values they stand for.
struct TChoice {
  int value;
  const char* text;
};
constexpr TChoice kTypeChoices[] = {
    {kGoodsTypeGoods, "товар"}, {kGoodsTypeService, "услуга"}, {kGoodsTypeContainer, "тара"}};
constexpr TChoice kTaxGroupChoices[] = {{1, "A"}, {2, "B"}, {3, "C"}, {4, "D"}, {5, "E"}};
constexpr TChoice kSaleKindChoices[] = {{kGoodsSaleByPiece, "шт."}, {2, "вес."}};
constexpr const char* kInvalidTypeText = "???";
constexpr const char* kInvalidTaxGroupText = "?";
constexpr const char* kInvalidSaleKindText = "???";

template <std::size_t N>
void SetChoices(TGridColumn& column, const TChoice (&choices)[N]) {
  for (const TChoice& c : choices) {
    column.pickList << QString::fromUtf8(c.text);
    column.keyList << QString::number(c.value);
  }
}

template <std::size_t N>
QString ChoiceText(const TChoice (&choices)[N], std::int64_t value) {
  for (const TChoice& c : choices)
    if (c.value == value) return QString::fromUtf8(c.text);
  return {};
}

bool AllDigits(std::string_view text) {
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

TGoodsPage::TGoodsPage(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetGood");
  BuildGrid();
  BuildLayout();
  ConnectActions();
}

TWorkTable& TGoodsPage::Table() {
  return host_.Bd().mtTOBAP;
}

int TGoodsPage::GoodsLimit() {
  const TKKMInfo* info = host_.Info();
  return info != nullptr ? info->MaxCountGoods() : kGoodsLimitWithoutRegister;
}

int TGoodsPage::SectionLimit() {
  const TKKMInfo* info = host_.Info();
  return info != nullptr ? info->maxCountDepat : kSectionLimitWithoutRegister;
}

QToolBar* TGoodsPage::MainToolBar() {
  return host_.Window()->findChild<QToolBar*>("ToolBar");
}

void TGoodsPage::BuildGrid() {
  std::vector<TGridColumn> columns;
  for (int f = 0; f < kGoodsFieldCount; ++f) {
    TGridColumn c;
    c.field = std::string(kGoodsFields[static_cast<std::size_t>(f)]);
    c.widthChars = kColumnChars[static_cast<std::size_t>(f)];
    columns.push_back(std::move(c));
  }
  SetChoices(columns[1], kTypeChoices);
  SetChoices(columns[3], kTaxGroupChoices);
  SetChoices(columns[6], kSaleKindChoices);
  for (const int f : {1, 3, 6}) columns[static_cast<std::size_t>(f)].alignment = Qt::AlignHCenter;

  TWorkTable& table = Table();
  // Prices are shown with kopecks.
  if (TWorkField* price = table.FindField("Price")) price->displayFormat = "#0.00";
  DBGridEhTOBAP = new TDBGridEh(table, std::move(columns), this);
  DBGridEhTOBAP->setObjectName("DBGridEhTOBAP");
  DBGridEhTOBAP->setAccessibleName(QString::fromUtf8("Товары и Услуги"));
  DBGridEhTOBAP->SetAllowAppend(true);
  DBGridEhTOBAP->horizontalHeader()->setStretchLastSection(false);
  DBGridEhTOBAP->installEventFilter(this);
  DBGridEhTOBAP->viewport()->installEventFilter(this);
  TWorkTableModel& model = DBGridEhTOBAP->Model();
  model.displayText = [this](int row, int column, const QString& text) {
    return DisplayText(row, column, text);
  };
  model.acceptEdit = [this](int row, int column, const QString& text) {
    return column != codeColumn_ || CodeAccepted(row, text);
  };
  model.cellStyle = [this](int row, int column) {
    TCellStyle s;
    const TGoodsCellState state = CellState(row, column);
    switch (state) {
      case TGoodsCellState::Deleted:
        s.background = palette().color(QPalette::Button);
        s.foreground = palette().color(QPalette::WindowText);
        break;
      case TGoodsCellState::Error: s.background = kGoodsErrorColor; break;
      case TGoodsCellState::Plain:
        if (row % 2 == 0) s.background = kGoodsOddRowColor;  // rows 1, 3, 5, ... as numbered
        break;
    }
    if (column == nameColumn_ && state == TGoodsCellState::Error) {
      const TWorkTable& t = Table();
      if (const QString tip =
              UnprintableTip(Utf8Left(t.ViewText(row, t.FieldIndex("Name")), kGoodsNameWidth));
          !tip.isEmpty())
        s.toolTip = tip;
    }
    return s;
  };
  // Rows added or deleted on the page are no longer numbered as in the file.
  for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
    connect(&model, signal, this, [this] { report_.rowPlaces.clear(); });
  nameColumn_ = model.ColumnOf("Name");
  codeColumn_ = model.ColumnOf("Code");
  DBGridEhTOBAP->FitColumns();
  nameWidth_ = DBGridEhTOBAP->columnWidth(nameColumn_);
}

void TGoodsPage::FitNameColumn() {
  // The name takes the width the other columns leave, never less than its
  // own display width.
  const int name = DBGridEhTOBAP->Model().ColumnOf("Name");
  int others = 0;
  for (int c = 0; c < DBGridEhTOBAP->Model().columnCount(); ++c)
    if (c != name) others += DBGridEhTOBAP->columnWidth(c);
  DBGridEhTOBAP->setColumnWidth(name, std::max(nameWidth_, DBGridEhTOBAP->viewport()->width() - others));
}

void TGoodsPage::BuildLayout() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);

  // The buttons in two rows, the transfers above the editing and the files:
  // in one row they were cut off at the window's first size.
  auto* bar = new QHBoxLayout;
  bar->setSpacing(kButtonSpacing);
  const auto button = [&](TSpeedButtonEx*& b, const char* name, const char* action) {
    b = new TSpeedButtonEx(this);
    b->setObjectName(name);
    b->SetAction(host_.Action(action));
    bar->addWidget(b);
  };
  button(bLoadTOBAP, "bLoadTOBAP", "tovarLoadAll");
  button(bLoadOneTOBAP, "bLoadOneTOBAP", "tovarLoadOne");
  bar->addSpacing(kGroupSpacing);
  button(bSaveTOBAP, "bSaveTOBAP", "tovarSaveAll");
  button(bSaveOneTOBAP, "bSaveOneTOBAP", "tovarSaveOne");
  bar->addStretch(1);
  layout->addLayout(bar);
  bar = new QHBoxLayout;
  bar->setSpacing(kButtonSpacing);
  button(bAddTOBAP, "bAddTOBAP", "tovarAddRec");
  button(bDelTovar, "bDelTovar", "tovarDelRec");
  button(bDelTOBAP, "bDelTOBAP", "tovarRemarkDelOne");
  button(bDelAllWares, "bDelAllWares", "tovarRemarkDelAll");
  bar->addSpacing(kGroupSpacing);
  button(SpeedButtonExImpWares, "SpeedButtonExImpWares", "tovarImport");
  button(SpeedButtonExExpWares, "SpeedButtonExExpWares", "tovarExport");
  bar->addStretch(1);
  layout->addLayout(bar);

  auto* resetRow = new QHBoxLayout;
  resetRow->setSpacing(4);
  cbisSaveTOBAPCount = new QCheckBox(this);
  cbisSaveTOBAPCount->setObjectName("cbisSaveTOBAPCount");
  cbisSaveTOBAPCount->setAccessibleName(QString::fromUtf8(kResetSoldLabel.data(), kResetSoldLabel.size()));
  Label9 = new QLabel(QString::fromUtf8(kResetSoldLabel.data(), kResetSoldLabel.size()), this);
  Label9->setObjectName("Label9");
  Label9->setBuddy(cbisSaveTOBAPCount);
  resetRow->addWidget(cbisSaveTOBAPCount);
  resetRow->addWidget(Label9);
  resetRow->addSpacing(kGroupSpacing);
  cbGoodsWriteAll =
      new QCheckBox(QString::fromUtf8(kWriteAllRowsLabel.data(), kWriteAllRowsLabel.size()), this);
  cbGoodsWriteAll->setObjectName("cbGoodsWriteAll");
  resetRow->addWidget(cbGoodsWriteAll);
  resetRow->addStretch(1);
  layout->addLayout(resetRow);
  layout->addWidget(DBGridEhTOBAP, 1);

  PopupMenuImport = new QMenu(this);
  PopupMenuImport->setObjectName("PopupMenuImport");
  PopupMenuImport->addAction(host_.Action("tovarFromDBF"));
  PopupMenuImport->addAction(host_.Action("tovarFromCSV"));
  PopupMenuImport->addAction(host_.Action("tovarFromSheet"));
  PopupMenuImport->addSeparator();
  PopupMenuImport->addAction(host_.Action("tovarCorrectData"));
  PopupMenuExport = new QMenu(this);
  PopupMenuExport->setObjectName("PopupMenuExport");
  PopupMenuExport->addAction(host_.Action("tovarToDBF"));
  PopupMenuExport->addAction(host_.Action("tovarToCSV"));
  PopupMenuExport->addAction(host_.Action("tovarToXLSX"));

  // One dialog of each kind for the page's life: it remembers its folder.
  OpenDialogDBF = new QFileDialog(this);
  OpenDialogDBF->setObjectName("OpenDialogDBF");
  OpenDialogDBF->setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialogDBF->setFileMode(QFileDialog::ExistingFile);
  SaveDialogDBF = new QFileDialog(this);
  SaveDialogDBF->setObjectName("SaveDialogDBF");
  SaveDialogDBF->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialogDBF->setFileMode(QFileDialog::AnyFile);
  for (QFileDialog* d : {OpenDialogDBF, SaveDialogDBF}) {
    d->setSizeGripEnabled(true);
    d->setModal(true);
  }
}

void TGoodsPage::ConnectActions() {
  const auto bind = [this](std::string_view name, void (TGoodsPage::*handler)()) {
    QAction* a = host_.Action(name);
    connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    host_.SetActionEnabled(name, true);
  };
  bind("tovarLoadAll", &TGoodsPage::tovarLoadAll);
  bind("tovarLoadOne", &TGoodsPage::tovarLoadOne);
  bind("tovarSaveAll", &TGoodsPage::tovarSaveAll);
  bind("tovarSaveOne", &TGoodsPage::tovarSaveOne);
  bind("tovarAddRec", &TGoodsPage::tovarAddRec);
  bind("tovarDelRec", &TGoodsPage::tovarDelRec);
  bind("tovarRemarkDelOne", &TGoodsPage::tovarRemarkDelOne);
  bind("tovarRemarkDelAll", &TGoodsPage::tovarRemarkDelAll);
  bind("tovarCorrectData", &TGoodsPage::tovarCorrectData);
  bind("tovarImport", &TGoodsPage::tovarImport);
  bind("tovarExport", &TGoodsPage::tovarExport);
  bind("tovarFromDBF", &TGoodsPage::tovarFromDBF);
  bind("tovarToDBF", &TGoodsPage::tovarToDBF);
  bind("tovarFromCSV", &TGoodsPage::tovarFromCSV);
  bind("tovarToCSV", &TGoodsPage::tovarToCSV);
  bind("tovarFromSheet", &TGoodsPage::tovarFromSheet);
  bind("tovarToXLSX", &TGoodsPage::tovarToXLSX);
}

// ---------------------------------------------------------------------------
// Display and drawing

QString TGoodsPage::DisplayText(int row, int column, const QString& text) {
  const std::string_view field = kGoodsFields[static_cast<std::size_t>(column)];
  if (field != "Type" && field != "NG" && field != "Vesovoy") return text;
  const TWorkTable& table = Table();
  const WtValue& v = table.ViewValue(row, DBGridEhTOBAP->Model().FieldOf(column));
  if (!std::holds_alternative<std::int64_t>(v)) return {};
  const std::int64_t n = std::get<std::int64_t>(v);
  if (n == 0) return {};
  QString shown;
  if (field == "Type") {
    shown = n == kGoodsInvalid ? QString::fromUtf8(kInvalidTypeText) : ChoiceText(kTypeChoices, n);
  } else if (field == "NG") {
    shown = n == kGoodsInvalid ? QString::fromUtf8(kInvalidTaxGroupText) : ChoiceText(kTaxGroupChoices, n);
  } else {
    shown = n == kGoodsInvalid ? QString::fromUtf8(kInvalidSaleKindText) : ChoiceText(kSaleKindChoices, n);
  }
  // A value the table has not checked yet (a row being edited) as a number.
  return shown.isEmpty() ? text : shown;
}

bool TGoodsPage::CodeAccepted(int row, const QString& text) {
  bool ok = false;
  const qlonglong code = text.trimmed().toLongLong(&ok);
  if (!ok) return true;  // the table itself refuses what is no number
  // The table holds each code once: another row with it refuses the edit.
  const TWorkTable& table = Table();
  const int field = table.FieldIndex("Code");
  for (int r = 0; r < table.ViewRowCount(); ++r) {
    if (r == row) continue;
    const WtValue& v = table.ViewValue(r, field);
    if (const auto* n = std::get_if<std::int64_t>(&v); n != nullptr && *n == code) {
      Error(std::string(kDuplicateCodeText) + std::to_string(code) + std::string(kDuplicateCodeTextEnd), true,
            true, true);
      return false;
    }
  }
  return true;
}

TGoodsCellState TGoodsPage::CellState(int row, int column) {
  const TWorkTable& table = Table();
  const auto value = [&](std::string_view field) -> const WtValue& {
    return table.ViewValue(row, table.FieldIndex(field));
  };
  const auto number = [&](std::string_view field, std::int64_t& out) {
    const WtValue& v = value(field);
    if (!std::holds_alternative<std::int64_t>(v)) return false;
    out = std::get<std::int64_t>(v);
    return true;
  };
  const std::string_view field = kGoodsFields[static_cast<std::size_t>(column)];
  std::int64_t type = 0;
  number("Type", type);  // an empty type counts as 0
  TGoodsCellState state = TGoodsCellState::Plain;
  if (type == kGoodsTypeNone) {
    state = TGoodsCellState::Deleted;
  } else if (field == "Code") {
    std::int64_t code = 0;
    if (!number("Code", code) || code > GoodsLimit()) state = TGoodsCellState::Error;
  } else if (field == "Price") {
    if (std::holds_alternative<std::monostate>(value("Price"))) state = TGoodsCellState::Error;
  }
  std::int64_t n = 0;
  if (field == "Name" && type != kGoodsTypeNone) {
    // Characters the register cannot print are left out of the record.
    const WtValue& v = value("Name");
    if (const auto* s = std::get_if<std::string>(&v);
        s != nullptr && !IsPrintableText(Utf8Left(*s, kGoodsNameWidth)))
      state = TGoodsCellState::Error;
  } else if (field == "Shtrih") {
    const WtValue& v = value("Shtrih");
    if (const auto* s = std::get_if<std::string>(&v); s != nullptr && !AllDigits(*s))
      state = TGoodsCellState::Error;
  } else if (field == "Type" || field == "NG" || field == "Vesovoy") {
    if (number(field, n) && n == kGoodsInvalid) state = TGoodsCellState::Error;
  } else if (field == "Section") {
    if (number("Section", n) && (n < 0 || n > SectionLimit())) state = TGoodsCellState::Error;
  }
  return state;
}

bool TGoodsPage::eventFilter(QObject* watched, QEvent* event) {
  // The Insert key adds a row (at the end; it takes its place by code once
  // its code is posted).
  if (watched == DBGridEhTOBAP && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Insert) {
    tovarAddRec();
    return true;
  }
  if (watched == DBGridEhTOBAP->viewport() && event->type() == QEvent::Resize) FitNameColumn();
  return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Editing actions

void TGoodsPage::tovarAddRec() {
  host_.SelectPage(pgGoods);
  DBGridEhTOBAP->PostEditor();
  TWorkTable& table = Table();
  if (host_.Info() != nullptr && table.RecordCount() >= GoodsLimit()) return;
  table.Append();
  DBGridEhTOBAP->setFocus();
}

void TGoodsPage::tovarDelRec() {
  host_.SelectPage(pgGoods);
  DBGridEhTOBAP->PostEditor();
  if (QueryOkCancel(std::string(kDeleteQuestion), true, true, QueryButton::Ok) != QueryButton::Ok) return;
  Table().Delete();
}

// Type 0 and every field after it emptied: the next write deletes the code
// in the register.
void TGoodsPage::MarkForDeletion() {
  TWorkTable& table = Table();
  if (table.Edit() != WtResult::Ok) return;
  table.SetInteger("Type", kGoodsTypeNone);
  for (std::size_t f = 2; f < std::size(kGoodsFields); ++f) table.SetNull(kGoodsFields[f]);
  table.Post();
}

void TGoodsPage::tovarRemarkDelOne() {
  host_.SelectPage(pgGoods);
  DBGridEhTOBAP->PostEditor();
  if (Table().IsEmpty()) return;
  MarkForDeletion();
}

void TGoodsPage::tovarRemarkDelAll() {
  host_.SelectPage(pgGoods);
  DBGridEhTOBAP->PostEditor();
  TWorkTable& table = Table();
  table.DisableControls();
  const TScopeExit resume([&] { table.EnableControls(); });
  for (table.First(); !table.Eof(); table.Next()) MarkForDeletion();
}

void TGoodsPage::tovarCorrectData() {
  host_.SelectPage(pgGoods);
  DBGridEhTOBAP->PostEditor();
  TWorkTable& table = Table();
  const int sections = SectionLimit();
  table.DisableControls();
  const TScopeExit resume([&] { table.EnableControls(); });
  for (table.First(); !table.Eof(); table.Next()) {
    if (table.Edit() != WtResult::Ok) break;
    if (table.Int("Type") == kGoodsInvalid) table.SetInteger("Type", kGoodsTypeGoods);
    if (table.Int("NG") == kGoodsInvalid) table.SetInteger("NG", 0);
    if (table.Int("Vesovoy") == kGoodsInvalid) table.SetInteger("Vesovoy", kGoodsSaleByPiece);
    const std::int64_t section = table.Int("Section");
    if (section < 0 || section > sections) table.SetInteger("Section", 0);
    table.Post();
  }
  table.First();
}

void TGoodsPage::EnterBarcode(const std::string& code) {
  TWorkTable& table = Table();
  if (code.empty() || table.ViewRowCount() == 0) return;
  // An open cell editor is stored first, so it cannot overwrite the scan.
  DBGridEhTOBAP->PostEditor();
  if (table.Edit() != WtResult::Ok) return;
  table.SetText("Shtrih", code);
}

// ---------------------------------------------------------------------------
// Action sets

void TGoodsPage::DisableGoodsActions() {
  for (std::string_view name : kGoodsActions) host_.SetActionEnabled(name, false);
  if (QToolBar* bar = MainToolBar()) bar->setEnabled(false);
  cbisSaveTOBAPCount->setEnabled(false);
  cbGoodsWriteAll->setEnabled(false);
  host_.PanelMenu()->setEnabled(false);
  // The grid follows the transfer; a click or an edit in it would move the
  // row the transfer works on.
  DBGridEhTOBAP->setEnabled(false);
}

void TGoodsPage::EnableGoodsActions() {
  for (std::string_view name : kGoodsActions) host_.SetActionEnabled(name, true);
  if (QToolBar* bar = MainToolBar()) bar->setEnabled(true);
  cbisSaveTOBAPCount->setEnabled(true);
  cbGoodsWriteAll->setEnabled(true);
  host_.PanelMenu()->setEnabled(true);
  DBGridEhTOBAP->setEnabled(true);
}

}  // namespace zarvik::ui
