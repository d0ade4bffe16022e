#include "JournalTablesView.h"

#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include "JournalExportDialog.h"
#include "JournalSummaryView.h"
#include "journal/JournalFrame.h"
#include "journal/U_magazineoperation.h"
#include "shell/DiaLog.h"
#include "store/WorkTable.h"

namespace zarvik::ui {

namespace {

constexpr int kMargin = 4;
constexpr int kRecordRole = Qt::UserRole + 1;

QTableView* MakeGrid(QWidget* parent, const char* name, const char* caption, TDataTableModel* model) {
  auto* grid = new QTableView(parent);
  grid->setObjectName(name);
  grid->setAccessibleName(QString::fromUtf8(caption));
  grid->setModel(model);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setAlternatingRowColors(true);
  grid->verticalHeader()->hide();
  grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
  grid->horizontalHeader()->setStretchLastSection(true);
  return grid;
}

}  // namespace

// ---------------------------------------------------------------------------

void TDataTableModel::SetTable(TDataTable table) {
  beginResetModel();
  table_ = std::move(table);
  endResetModel();
}

int TDataTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(table_.rows.size());
}

int TDataTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(table_.header.size());
}

QVariant TDataTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const auto& row = table_.rows[static_cast<std::size_t>(index.row())];
  if (static_cast<std::size_t>(index.column()) >= row.size()) return {};
  const TDataCell& cell = row[static_cast<std::size_t>(index.column())];
  if (role == Qt::DisplayRole) return QString::fromStdString(cell.Text(DecimalSeparator()));
  if (role == Qt::TextAlignmentRole) {
    const bool number = cell.kind != TDataCell::Kind::Text && cell.kind != TDataCell::Kind::Empty;
    return QVariant::fromValue(
        Qt::Alignment(number ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter));
  }
  return {};
}

QVariant TDataTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section < 0 || static_cast<std::size_t>(section) >= table_.header.size()) return {};
  return QString::fromStdString(table_.header[static_cast<std::size_t>(section)]);
}

// ---------------------------------------------------------------------------

TJournalTablesView::TJournalTablesView(QWidget* parent) : QWidget(parent) {
  setObjectName("JournalTables");
  setAccessibleName(QString::fromUtf8(kJournalTablesCaption));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);

  auto* bar = new QHBoxLayout;
  lMagazineCounts = new QLabel(this);
  lMagazineCounts->setObjectName("lMagazineCounts");
  bExportMagazine = new QPushButton(QString::fromUtf8(kJournalExportCaption), this);
  bExportMagazine->setObjectName("bExportMagazine");
  bExportMagazine->setAccessibleName(bExportMagazine->text());
  bar->addWidget(lMagazineCounts, 1);
  bar->addWidget(bExportMagazine);
  layout->addLayout(bar);

  TabsMagazineData = new QTabWidget(this);
  TabsMagazineData->setObjectName("TabsMagazineData");
  receipts_ = new TDataTableModel(this);
  lines_ = new TDataTableModel(this);
  GridMagazineReceipts =
      MakeGrid(TabsMagazineData, "GridMagazineReceipts", kJournalReceiptsCaption, receipts_);
  GridMagazineLines = MakeGrid(TabsMagazineData, "GridMagazineLines", kJournalLinesCaption, lines_);
  summary_ = new TJournalSummaryView(TabsMagazineData);
  summary_->setAccessibleName(QString::fromUtf8(kJournalSummaryCaption));
  ListMagazineFindings = new QListWidget(TabsMagazineData);
  ListMagazineFindings->setObjectName("ListMagazineFindings");
  ListMagazineFindings->setAccessibleName(QString::fromUtf8(kJournalCheckCaption));
  TabsMagazineData->addTab(GridMagazineReceipts, QString::fromUtf8(kJournalReceiptsCaption));
  TabsMagazineData->addTab(GridMagazineLines, QString::fromUtf8(kJournalLinesCaption));
  TabsMagazineData->addTab(summary_, QString::fromUtf8(kJournalSummaryCaption));
  TabsMagazineData->addTab(ListMagazineFindings, QString::fromUtf8(kJournalCheckCaption));
  layout->addWidget(TabsMagazineData, 1);

  connect(bExportMagazine, &QPushButton::clicked, this, &TJournalTablesView::ExportClicked);
  connect(ListMagazineFindings, &QListWidget::itemActivated, this, &TJournalTablesView::FindingActivated);
  Clear();
}

void TJournalTablesView::Clear() {
  SetRecords({}, {});
}

std::vector<TJournalTextMark> TJournalTablesView::SetRecords(const std::vector<std::string>& records,
                                                             const TGoodsNames& names) {
  tables_ = BuildJournalTables(records);
  findings_ = records.empty() ? std::vector<TJournalFinding>{} : CheckJournal(tables_);
  // Where each record's receipt text starts in the text view: the text view
  // shows every record's rendering, line after line.
  recordLines_.assign(records.size() + 1, 0);
  int line = 0;
  std::string text;
  for (std::size_t i = 0; i < records.size(); ++i) {
    recordLines_[i] = line;
    const int count =
        TryRenderJournalLine(records[i], text) ? static_cast<int>(SplitCrLfLines(text).size()) : 1;
    line += count;
  }
  recordLines_[records.size()] = line;

  receipts_->SetTable(JournalReceiptTable(tables_));
  lines_->SetTable(JournalLineTable(tables_));
  GridMagazineReceipts->resizeColumnsToContents();
  GridMagazineLines->resizeColumnsToContents();
  summary_->SetTables(&tables_, names);

  std::vector<TJournalTextMark> marks;
  ListMagazineFindings->clear();
  if (!records.empty()) {
    for (const std::string& finding : JournalFindingLines(findings_)) {
      ListMagazineFindings->addItem(QString::fromStdString(finding));
    }
  }
  for (std::size_t i = 0; i < findings_.size(); ++i) {
    const TJournalFinding& f = findings_[i];
    TJournalTextMark mark;
    if (f.receipt != kNoReceipt) {
      const TJournalReceiptRow& r = tables_.receipts[f.receipt];
      mark.firstLine = recordLines_[r.firstRecord];
      mark.lastLine = recordLines_[r.lastRecord + 1] - 1;
    } else {
      mark.firstLine = recordLines_[f.record];
      mark.lastLine = recordLines_[f.record + 1] - 1;
    }
    mark.text = f.text;
    ListMagazineFindings->item(static_cast<int>(i))->setData(kRecordRole, mark.firstLine);
    marks.push_back(std::move(mark));
  }
  const QString counts = records.empty() ? QString()
                                         : QString::fromUtf8("Чеков: %1, операций: %2, расхождений: %3")
                                               .arg(tables_.receipts.size())
                                               .arg(tables_.lines.size())
                                               .arg(findings_.size());
  lMagazineCounts->setText(counts);
  lMagazineCounts->setAccessibleName(counts);
  bExportMagazine->setEnabled(!records.empty());
  TabsMagazineData->setTabText(
      3,
      findings_.empty()
          ? QString::fromUtf8(kJournalCheckCaption)
          : QString::fromUtf8("%1 (%2)").arg(QString::fromUtf8(kJournalCheckCaption)).arg(findings_.size()));
  return marks;
}

void TJournalTablesView::FindingActivated(QListWidgetItem* item) {
  const QVariant line = item->data(kRecordRole);
  if (line.isValid()) emit FindingChosen(line.toInt());
}

bool TJournalTablesView::Export(const QString& path, int format, int table) {
  const std::string file = QFile::encodeName(path).toStdString();
  bool ok = false;
  std::string error;
  if (format == kExportXlsx) {
    const TDataTable summary = JournalSummaryDataTable(summary_->Summary());
    ok = WriteDataWorkbook({&receipts_->Table(), &lines_->Table(), &summary}, file, error);
  } else {
    const TDataTable summary = JournalSummaryDataTable(summary_->Summary());
    const TDataTable& chosen = table == kExportLines     ? lines_->Table()
                               : table == kExportSummary ? summary
                                                         : receipts_->Table();
    ok = WriteDataTableCsv(chosen, file,
                           format == kExportCsvUtf8 ? TCsvEncoding::Utf8Bom : TCsvEncoding::Cp1251,
                           DecimalSeparator());
  }
  if (!ok) {
    Error(kJournalExportFailedText + path.toStdString() + (error.empty() ? "" : ": " + error), true, true,
          true);
    return false;
  }
  Mess(kJournalExportedText + path.toStdString(), false, true, true);
  return true;
}

void TJournalTablesView::ExportClicked() {
  TJournalExportDialog dialog(this);
  if (dialog.exec() != QDialog::Accepted) return;
  const QString path = dialog.ChooseFile();
  if (path.isEmpty()) return;
  Export(path, dialog.Format(), dialog.Table());
}

}  // namespace zarvik::ui
