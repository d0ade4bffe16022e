#include "JournalSummaryView.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

#include "JournalTablesView.h"
#include "journal/JournalExport.h"
#include "shell/DiaLog.h"

namespace zarvik::ui {

namespace {

constexpr int kMargin = 4;
constexpr int kChartMinHeight = 220;
// The first split of the summary: the table as wide as its columns need.
constexpr int kGridWidth = 500;
constexpr int kChartsWidth = 500;
// Bars from this many on carry no value labels (they would overlap).
constexpr std::size_t kMostLabelledBars = 12;
constexpr double kKopecks = 100.0;
// Room above the highest bar for its label, and the axes' smaller font.
constexpr double kHeadroom = 1.15;
constexpr double kAxisFontScale = 0.85;
constexpr const char* kDateFormat = "dd.MM.yyyy";
constexpr const char* kHourSuffix = "_часы.png";
constexpr const char* kDaySuffix = "_дни.png";
constexpr const char* kSalesSetName = "Продажи, руб.";
constexpr const char* kPngFilter = "Рисунок PNG (*.png)";

int DateKey(const QDate& d) {
  return d.year() * 10000 + d.month() * 100 + d.day();
}

QDate DateOfKey(int key) {
  return QDate(key / 10000, key / 100 % 100, key % 100);
}

QChartView* MakeChart(QWidget* parent, const char* name, const char* title) {
  auto* chart = new QChart;
  chart->setTitle(QString::fromUtf8(title));
  chart->legend()->hide();
  chart->setAnimationOptions(QChart::NoAnimation);
  chart->setMargins(QMargins(kMargin, kMargin, kMargin, kMargin));
  chart->setBackgroundRoundness(0);
  auto* view = new QChartView(chart, parent);
  view->setObjectName(name);
  view->setAccessibleName(QString::fromUtf8(title));
  view->setRenderHint(QPainter::Antialiasing);
  view->setMinimumHeight(kChartMinHeight);
  return view;
}

}  // namespace

TJournalSummaryView::TJournalSummaryView(QWidget* parent) : QWidget(parent) {
  setObjectName("JournalSummary");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);

  auto* bar = new QHBoxLayout;
  cbSummaryRange = new QCheckBox(QString::fromUtf8(kSummaryRangeCaption), this);
  cbSummaryRange->setObjectName("cbSummaryRange");
  cbSummaryRange->setAccessibleName(cbSummaryRange->text());
  deSummaryFrom = new QDateEdit(this);
  deSummaryFrom->setObjectName("deSummaryFrom");
  deSummaryFrom->setAccessibleName(QString::fromUtf8("Начало периода"));
  auto* toLabel = new QLabel(QString::fromUtf8(kSummaryToCaption), this);
  deSummaryTo = new QDateEdit(this);
  deSummaryTo->setObjectName("deSummaryTo");
  deSummaryTo->setAccessibleName(QString::fromUtf8("Конец периода"));
  toLabel->setBuddy(deSummaryTo);
  for (QDateEdit* e : {deSummaryFrom, deSummaryTo}) {
    e->setDisplayFormat(QString::fromLatin1(kDateFormat));
    e->setCalendarPopup(true);
    e->setEnabled(false);
    e->setDate(QDate::currentDate());
  }
  bSaveCharts = new QPushButton(QString::fromUtf8(kSummarySaveChartsCaption), this);
  bSaveCharts->setObjectName("bSaveCharts");
  bSaveCharts->setAccessibleName(bSaveCharts->text());
  bar->addWidget(cbSummaryRange);
  bar->addWidget(deSummaryFrom);
  bar->addWidget(toLabel);
  bar->addWidget(deSummaryTo);
  bar->addStretch(1);
  bar->addWidget(bSaveCharts);
  layout->addLayout(bar);

  auto* split = new QSplitter(Qt::Horizontal, this);
  split->setObjectName("SplitterSummary");
  GridSummary = new QTableView(split);
  GridSummary->setObjectName("GridSummary");
  GridSummary->setAccessibleName(QString::fromUtf8("Сводка журнала"));
  model_ = new TDataTableModel(this);
  GridSummary->setModel(model_);
  GridSummary->verticalHeader()->hide();
  GridSummary->verticalHeader()->setDefaultSectionSize(GridSummary->fontMetrics().height() + 6);
  GridSummary->setMinimumWidth(kGridWidth);
  GridSummary->setEditTriggers(QAbstractItemView::NoEditTriggers);
  GridSummary->setSelectionBehavior(QAbstractItemView::SelectRows);
  auto* charts = new QWidget(split);
  auto* chartLayout = new QVBoxLayout(charts);
  chartLayout->setContentsMargins(0, 0, 0, 0);
  ChartByHour = MakeChart(charts, "ChartByHour", kSummaryByHourTitle);
  ChartByDay = MakeChart(charts, "ChartByDay", kSummaryByDayTitle);
  chartLayout->addWidget(ChartByHour, 1);
  chartLayout->addWidget(ChartByDay, 1);
  split->addWidget(GridSummary);
  split->addWidget(charts);
  split->setStretchFactor(0, 2);
  split->setStretchFactor(1, 3);
  split->setSizes({kGridWidth, kChartsWidth});
  layout->addWidget(split, 1);

  connect(cbSummaryRange, &QCheckBox::toggled, this, [this](bool on) {
    deSummaryFrom->setEnabled(on);
    deSummaryTo->setEnabled(on);
    Recompute();
  });
  connect(deSummaryFrom, &QDateEdit::dateChanged, this, [this] { Recompute(); });
  connect(deSummaryTo, &QDateEdit::dateChanged, this, [this] { Recompute(); });
  connect(bSaveCharts, &QPushButton::clicked, this, &TJournalSummaryView::SaveChartsClicked);
  Recompute();
}

void TJournalSummaryView::SetTables(const TJournalTables* tables, TGoodsNames names) {
  tables_ = tables;
  names_ = std::move(names);
  // A range not chosen yet covers the days of the journal.
  if (!cbSummaryRange->isChecked() && tables_ != nullptr) {
    std::optional<int> first, last;
    for (const TJournalReceiptRow& r : tables_->receipts) {
      if (const auto d = JournalDateKey(r.date)) {
        first = first ? std::min(*first, *d) : *d;
        last = last ? std::max(*last, *d) : *d;
      }
    }
    const QSignalBlocker a(deSummaryFrom);
    const QSignalBlocker b(deSummaryTo);
    if (first) deSummaryFrom->setDate(DateOfKey(*first));
    if (last) deSummaryTo->setDate(DateOfKey(*last));
  }
  Recompute();
}

void TJournalSummaryView::Recompute() {
  std::optional<int> from, to;
  if (cbSummaryRange->isChecked()) {
    from = DateKey(deSummaryFrom->date());
    to = DateKey(deSummaryTo->date());
  }
  static const TJournalTables kEmpty;
  summary_ = SummarizeJournal(tables_ != nullptr ? *tables_ : kEmpty, names_, from, to);
  model_->SetTable(JournalSummaryDataTable(summary_));
  GridSummary->resizeColumnsToContents();
  Fill(ChartByHour->chart(), summary_.byHour, QString::fromUtf8(kSummaryByHourTitle));
  Fill(ChartByDay->chart(), summary_.byDay, QString::fromUtf8(kSummaryByDayTitle));
}

void TJournalSummaryView::Fill(QChart* chart, const std::vector<TJournalSummaryRow>& rows,
                               const QString& title) {
  chart->removeAllSeries();
  for (QAbstractAxis* axis : chart->axes()) {
    chart->removeAxis(axis);
    delete axis;
  }
  chart->setTitle(title);
  auto* set = new QBarSet(QString::fromUtf8(kSalesSetName));
  QStringList categories;
  double highest = 0;
  for (const TJournalSummaryRow& r : rows) {
    const double roubles = static_cast<double>(r.sum) / kKopecks;
    *set << roubles;
    highest = std::max(highest, roubles);
    categories << QString::fromStdString(r.key);
  }
  auto* series = new QBarSeries;
  series->append(set);
  series->setLabelsVisible(rows.size() <= kMostLabelledBars);
  series->setLabelsFormat(QStringLiteral("@value"));
  series->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
  set->setLabelColor(Qt::black);
  chart->addSeries(series);
  auto* x = new QBarCategoryAxis;
  x->append(categories);
  QFont small = x->labelsFont();
  small.setPointSizeF(small.pointSizeF() * kAxisFontScale);
  x->setLabelsFont(small);
  auto* y = new QValueAxis;
  y->setRange(0, highest > 0 ? highest * kHeadroom : 1.0);
  y->applyNiceNumbers();
  y->setLabelFormat(QStringLiteral("%.0f"));
  y->setLabelsFont(small);
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  series->attachAxis(x);
  series->attachAxis(y);
}

bool TJournalSummaryView::SaveCharts(const QString& base, QStringList& written) {
  QString stem = base;
  if (stem.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) stem.chop(4);
  bool ok = true;
  for (const auto& [view, suffix] :
       {std::pair{ChartByHour, kHourSuffix}, std::pair{ChartByDay, kDaySuffix}}) {
    const QString path = stem + QString::fromUtf8(suffix);
    // The chart drawn at its shown size, or at a readable one when hidden.
    QSize size = view->size();
    if (!view->isVisible() || size.width() < 200) size = QSize(800, 400);
    QPixmap picture(size);
    picture.fill(Qt::white);
    {
      QPainter painter(&picture);
      painter.setRenderHint(QPainter::Antialiasing);
      view->resize(size);
      view->render(&painter);
    }
    if (picture.save(path, "PNG")) {
      written << path;
    } else {
      ok = false;
    }
  }
  return ok;
}

void TJournalSummaryView::SaveChartsClicked() {
  const QString base = QFileDialog::getSaveFileName(this, QString::fromUtf8(kSummarySaveChartsCaption),
                                                    QString(), QString::fromUtf8(kPngFilter));
  if (base.isEmpty()) return;
  QStringList written;
  if (!SaveCharts(base, written)) {
    Error(std::string(kJournalExportFailedText) + base.toStdString(), true, true, true);
    return;
  }
  Mess(kSummaryChartsSavedText + written.join(QStringLiteral(", ")).toStdString(), false, true, true);
}

}  // namespace zarvik::ui
