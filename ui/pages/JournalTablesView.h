// The journal page's third view: the journal read as tables (receipts,
// operations), its summary with charts and the findings of its check, and
// the export of the tables to CSV files and workbooks.
#pragma once

#include <QAbstractTableModel>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "JournalView.h"
#include "journal/JournalCheck.h"
#include "journal/JournalExport.h"
#include "journal/JournalSummary.h"
#include "journal/JournalTables.h"

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTabWidget;
class QTableView;

namespace zarvik::ui {

class TJournalSummaryView;

// Texts of the view.
inline constexpr const char* kJournalTablesCaption = "Таблицы";
inline constexpr const char* kJournalReceiptsCaption = "Чеки";
inline constexpr const char* kJournalLinesCaption = "Операции";
inline constexpr const char* kJournalSummaryCaption = "Сводка";
inline constexpr const char* kJournalCheckCaption = "Проверка";
inline constexpr const char* kJournalExportCaption = "Экспорт таблиц...";
inline constexpr const char* kJournalExportedText = "Таблицы журнала сохранены в ";
inline constexpr const char* kJournalExportFailedText = "Не удалось записать файл ";

// A table of cells as a read-only item model: the header as column titles,
// numbers right-aligned.
class TDataTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit TDataTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}
  void SetTable(TDataTable table);
  const TDataTable& Table() const { return table_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  TDataTable table_;
};

class TJournalTablesView : public QWidget {
  Q_OBJECT
 public:
  explicit TJournalTablesView(QWidget* parent = nullptr);

  // Builds the tables, the summary and the check from the record lines of a
  // read (the data view's lines); `names` names the goods of the summary.
  // Returns the findings' places in the text view rendered from the same
  // lines.
  std::vector<TJournalTextMark> SetRecords(const std::vector<std::string>& records, const TGoodsNames& names);
  void Clear();

  const TJournalTables& Tables() const { return tables_; }
  const std::vector<TJournalFinding>& Findings() const { return findings_; }
  TJournalSummaryView& Summary() { return *summary_; }
  // Writes the tables as the export dialog chose; false after a reported
  // failure.
  bool Export(const QString& path, int format, int table);
  // The receipt tables as the export writes them.
  TDataTable ReceiptTable() const { return receipts_->Table(); }
  TDataTable LineTable() const { return lines_->Table(); }

  QTabWidget* TabsMagazineData = nullptr;
  QTableView* GridMagazineReceipts = nullptr;
  QTableView* GridMagazineLines = nullptr;
  QListWidget* ListMagazineFindings = nullptr;
  QPushButton* bExportMagazine = nullptr;
  QLabel* lMagazineCounts = nullptr;

 signals:
  // A finding was chosen: show its receipt in the text view.
  void FindingChosen(int textLine);

 private:
  void ExportClicked();
  void FindingActivated(QListWidgetItem* item);

  TJournalTables tables_;
  std::vector<TJournalFinding> findings_;
  std::vector<int> recordLines_;  // first text line of each record
  TDataTableModel* receipts_ = nullptr;
  TDataTableModel* lines_ = nullptr;
  TJournalSummaryView* summary_ = nullptr;
};

}  // namespace zarvik::ui
