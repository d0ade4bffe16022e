// The summary of the journal read: its table, the date range it covers, and
// the sales by hour and by day as bar charts that can be saved as pictures.
#pragma once

#include <QDate>
#include <QWidget>
#include <optional>

#include "journal/JournalSummary.h"
#include "journal/JournalTables.h"

class QCheckBox;
class QChart;
class QChartView;
class QDateEdit;
class QPushButton;
class QTableView;

namespace zarvik::ui {

class TDataTableModel;

inline constexpr const char* kSummaryRangeCaption = "За период с";
inline constexpr const char* kSummaryToCaption = "по";
inline constexpr const char* kSummarySaveChartsCaption = "Сохранить диаграммы...";
inline constexpr const char* kSummaryByHourTitle = "Продажи по часам";
inline constexpr const char* kSummaryByDayTitle = "Продажи по дням";
inline constexpr const char* kSummaryChartsSavedText = "Диаграммы сохранены: ";

class TJournalSummaryView : public QWidget {
  Q_OBJECT
 public:
  explicit TJournalSummaryView(QWidget* parent = nullptr);

  // The tables of a read and the goods names; the range is kept.
  void SetTables(const TJournalTables* tables, TGoodsNames names);
  const TJournalSummary& Summary() const { return summary_; }
  // Saves both charts as PNG files: `base` + "_часы.png" and "_дни.png"
  // (without an extension of its own; ".png" is taken off first). False when
  // one cannot be written.
  bool SaveCharts(const QString& base, QStringList& written);

  QCheckBox* cbSummaryRange = nullptr;
  QDateEdit* deSummaryFrom = nullptr;
  QDateEdit* deSummaryTo = nullptr;
  QPushButton* bSaveCharts = nullptr;
  QTableView* GridSummary = nullptr;
  QChartView* ChartByHour = nullptr;
  QChartView* ChartByDay = nullptr;

 private:
  void Recompute();
  void SaveChartsClicked();
  static void Fill(QChart* chart, const std::vector<TJournalSummaryRow>& rows, const QString& title);

  const TJournalTables* tables_ = nullptr;
  TGoodsNames names_;
  TJournalSummary summary_;
  TDataTableModel* model_ = nullptr;
};

}  // namespace zarvik::ui
