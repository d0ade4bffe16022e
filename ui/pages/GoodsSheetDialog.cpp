#include "GoodsSheetDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <variant>

#include "shell/TextCodec.h"
#include "store/WorkTable.h"

namespace zarvik::ui {

namespace {

// Texts of a header row in the row list: the first cells, shortened.
constexpr int kHeaderRowCells = 6;
constexpr int kHeaderCellChars = 16;
constexpr const char* kRefusedColumnCaption = "Замечание";

QString Q(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString RowSummary(const TSheetRow& row) {
  QStringList cells;
  for (const TSheetCell& cell : row.cells) {
    if (cells.size() == kHeaderRowCells) {
      cells << QStringLiteral("...");
      break;
    }
    QString text = Q(cell.text);
    if (text.size() > kHeaderCellChars) text = text.left(kHeaderCellChars) + QStringLiteral("...");
    cells << text;
  }
  return QString::fromUtf8("Строка %1: %2").arg(row.number).arg(cells.join(QStringLiteral(" | ")));
}

QString ValueText(int field, const WtValue& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return Q(*s);
  if (const auto* b = std::get_if<bool>(&v)) return QString::fromUtf8(*b ? "да" : "нет");
  if (const auto* n = std::get_if<std::int64_t>(&v)) {
    if (field == gfPrice || field == gfCount)
      return Q(CurrencyToText(Currency::FromRaw(*n), DecimalSeparator()));
    return QString::number(*n);
  }
  return {};
}

}  // namespace

TGoodsSheetDialog::TGoodsSheetDialog(std::string path, std::vector<std::string> sheetNames, TSheet sheet,
                                     const GoodsSheetLayout& layout, QWidget* parent)
    : QDialog(parent), path_(std::move(path)), sheet_(std::move(sheet)), layout_(layout) {
  setObjectName("GoodsSheetDialog");
  setWindowTitle(QString::fromUtf8(kSheetDialogTitle) + QStringLiteral(" - ") +
                 QFileInfo(QString::fromStdString(path_)).fileName());
  setAccessibleName(QString::fromUtf8(kSheetDialogTitle));
  setSizeGripEnabled(true);
  auto* outer = new QVBoxLayout(this);
  auto* form = new QFormLayout();
  cbSheet = new QComboBox(this);
  cbSheet->setObjectName("cbSheet");
  cbSheet->setAccessibleName(QString::fromUtf8("Лист"));
  for (const std::string& name : sheetNames) cbSheet->addItem(Q(name));
  cbSheet->setCurrentText(Q(sheet_.name));
  form->addRow(QString::fromUtf8("Лист:"), cbSheet);
  cbHeaderRow = new QComboBox(this);
  cbHeaderRow->setObjectName("cbHeaderRow");
  cbHeaderRow->setAccessibleName(QString::fromUtf8("Строка заголовка"));
  form->addRow(QString::fromUtf8("Строка заголовка:"), cbHeaderRow);
  outer->addLayout(form);

  auto* grid = new QGridLayout();
  for (int f = 0; f < kGoodsFieldCount; ++f) {
    const QString field = Q(kGoodsFields[static_cast<std::size_t>(f)]);
    auto* label = new QLabel(Q(kGoodsSheetHeaders[f]) + QStringLiteral(" (") + field + QStringLiteral("):"), this);
    auto* box = new QComboBox(this);
    box->setObjectName(QStringLiteral("cbColumn") + field);
    box->setAccessibleName(Q(kGoodsSheetHeaders[f]));
    label->setBuddy(box);
    cbColumns[static_cast<std::size_t>(f)] = box;
    // Two columns of fields side by side.
    const int row = f % ((kGoodsFieldCount + 1) / 2);
    const int col = f / ((kGoodsFieldCount + 1) / 2) * 2;
    grid->addWidget(label, row, col);
    grid->addWidget(box, row, col + 1);
    connect(box, &QComboBox::currentIndexChanged, this, &TGoodsSheetDialog::ColumnChanged);
  }
  outer->addLayout(grid);
  lbProblems = new QLabel(this);
  lbProblems->setObjectName("lbProblems");
  lbProblems->setWordWrap(true);
  lbProblems->setStyleSheet(QStringLiteral("color: #b00000"));
  outer->addWidget(lbProblems);
  tbPreview = new QTableWidget(this);
  tbPreview->setObjectName("tbPreview");
  tbPreview->setAccessibleName(QString::fromUtf8("Первые строки, как они будут считаны"));
  tbPreview->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tbPreview->setColumnCount(kGoodsFieldCount + 1);
  QStringList headers;
  for (const std::string_view h : kGoodsSheetHeaders) headers << Q(h);
  headers << QString::fromUtf8(kRefusedColumnCaption);
  tbPreview->setHorizontalHeaderLabels(headers);
  tbPreview->horizontalHeader()->setStretchLastSection(true);
  outer->addWidget(tbPreview, 1);
  bButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  bButtons->setObjectName("bSheetButtons");
  bButtons->button(QDialogButtonBox::Ok)->setText(QString::fromUtf8("Считать"));
  bButtons->button(QDialogButtonBox::Ok)->setObjectName("bSheetOk");
  bButtons->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8("Отмена"));
  bButtons->button(QDialogButtonBox::Cancel)->setObjectName("bSheetCancel");
  for (QPushButton* b : {bButtons->button(QDialogButtonBox::Ok), bButtons->button(QDialogButtonBox::Cancel)})
    b->setAccessibleName(b->text());
  outer->addWidget(bButtons);
  connect(bButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(bButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(cbSheet, &QComboBox::currentIndexChanged, this, &TGoodsSheetDialog::SheetChanged);
  connect(cbHeaderRow, &QComboBox::currentIndexChanged, this, &TGoodsSheetDialog::HeaderRowChanged);
  resize(900, 600);
  ShowLayout();
}

void TGoodsSheetDialog::SheetChanged(int index) {
  if (filling_ || index < 0) return;
  TSheet sheet;
  std::string error;
  if (!ReadSheet(path_, cbSheet->itemText(index).toStdString(), sheet, error)) {
    lbProblems->setText(Q(error));
    return;
  }
  sheet_ = std::move(sheet);
  layout_ = FindGoodsSheetLayout(sheet_, {});
  ShowLayout();
}

void TGoodsSheetDialog::HeaderRowChanged(int index) {
  if (filling_ || index < 0) return;
  // Another header row: its columns are matched by name afresh.
  layout_ = GoodsSheetLayoutAt(sheet_, index, {});
  ShowLayout();
}

void TGoodsSheetDialog::ColumnChanged() {
  if (filling_) return;
  // Every field as the lists show it: a letter, or none.
  std::vector<GoodsColumnChoice> choices;
  for (int f = 0; f < kGoodsFieldCount; ++f) {
    const QVariant column = cbColumns[static_cast<std::size_t>(f)]->currentData();
    choices.push_back({f, column.toInt() >= 0 ? SheetColumnName(column.toInt()) : std::string()});
  }
  layout_ = GoodsSheetLayoutAt(sheet_, layout_.headerIndex, choices);
  // A column taken by two fields is no usable choice.
  for (int a = 0; a < kGoodsFieldCount; ++a)
    for (int b = a + 1; b < kGoodsFieldCount; ++b)
      if (layout_.column[static_cast<std::size_t>(a)] >= 0 &&
          layout_.column[static_cast<std::size_t>(a)] == layout_.column[static_cast<std::size_t>(b)])
        layout_.problems.push_back("столбец " + SheetColumnName(layout_.column[static_cast<std::size_t>(a)]) +
                                   " выбран для полей " + std::string(kGoodsFields[static_cast<std::size_t>(a)]) +
                                   " и " + std::string(kGoodsFields[static_cast<std::size_t>(b)]));
  ShowLayout();
}

void TGoodsSheetDialog::ShowLayout() {
  filling_ = true;
  cbHeaderRow->clear();
  const int rows = std::min(static_cast<int>(sheet_.rows.size()), kGoodsHeaderSearchRows);
  for (int i = 0; i < rows; ++i) cbHeaderRow->addItem(RowSummary(sheet_.rows[static_cast<std::size_t>(i)]));
  cbHeaderRow->setCurrentIndex(layout_.headerIndex);
  for (int f = 0; f < kGoodsFieldCount; ++f) {
    QComboBox* box = cbColumns[static_cast<std::size_t>(f)];
    box->clear();
    box->addItem(QString::fromUtf8(kSheetNoColumnText), -1);
    for (int c = 0; c < sheet_.columns; ++c) box->addItem(Q(layout_.ColumnText(c)), c);
    box->setCurrentIndex(std::max(0, box->findData(layout_.column[static_cast<std::size_t>(f)])));
  }
  filling_ = false;
  QStringList problems;
  for (const std::string& p : layout_.problems) problems << Q(p);
  lbProblems->setText(problems.join(QStringLiteral("; ")));
  lbProblems->setVisible(!problems.isEmpty());
  bButtons->button(QDialogButtonBox::Ok)->setEnabled(layout_.Usable());
  ShowPreview();
}

void TGoodsSheetDialog::ShowPreview() {
  tbPreview->setRowCount(0);
  if (layout_.headerIndex < 0) return;
  int shown = 0;
  for (std::size_t i = static_cast<std::size_t>(layout_.headerIndex) + 1;
       i < sheet_.rows.size() && shown < kSheetPreviewRows; ++i) {
    const TSheetRow& row = sheet_.rows[i];
    const GoodsSheetRow taken = TakeGoodsSheetRow(sheet_, layout_, row);
    if (taken.state == GoodsSheetRow::State::Empty) continue;
    tbPreview->insertRow(shown);
    tbPreview->setVerticalHeaderItem(shown, new QTableWidgetItem(QString::number(row.number)));
    if (taken.state == GoodsSheetRow::State::Taken)
      for (int f = 0; f < kGoodsFieldCount; ++f)
        tbPreview->setItem(shown, f, new QTableWidgetItem(ValueText(f, taken.values[static_cast<std::size_t>(f)])));
    QStringList notes;
    for (const GoodsIssue& issue : taken.issues) notes << Q(GoodsIssueText(issue, GoodsPlaceKind::Line));
    tbPreview->setItem(shown, kGoodsFieldCount, new QTableWidgetItem(notes.join(QStringLiteral("; "))));
    ++shown;
  }
  tbPreview->resizeColumnsToContents();
}

}  // namespace zarvik::ui
