#include "LineMonitor.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

#include "PageHost.h"
#include "SpeedButtonEx.h"
#include "shell/IniFile.h"
#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"

namespace zarvik::ui {
namespace {

// How often the queued traces are added to the view: each time costs a
// repaint of the lines in view (about 2 ms), which a running exchange waits
// for, so a few times a second.
constexpr std::chrono::milliseconds kFlushInterval{250};
// Traces kept in the queue when the view cannot take them (an event loop that
// does not turn): beyond this the oldest half goes.
constexpr std::size_t kMaxPending = 2 * static_cast<std::size_t>(TLineMonitorModel::kDefaultMaxRows);
constexpr int kFilterWidth = 180;
constexpr int kFilterMinimumWidth = 90;
constexpr int kMinimumHeight = 100;
// Height of the monitor when it is first opened below the pages.
constexpr int kFirstHeight = 230;
constexpr int kColumnPadding = 14;

struct TCategoryBox {
  TLineCategory category;
  const char* name;
  const char* caption;
  const char* key;
  bool shown;  // at first start
};
constexpr TCategoryBox kCategoryBoxes[] = {
    {TLineCategory::Control, "cbMonControl", "Управляющие пакеты", "CONTROL", true},
    {TLineCategory::Data, "cbMonData", "Кадры данных", "DATA", true},
    {TLineCategory::Bytes, "cbMonBytes", "Байты", "BYTES", false},
    {TLineCategory::Commands, "cbMonCommands", "Команды и результаты", "COMMANDS", true},
    {TLineCategory::Errors, "cbMonErrors", "Ошибки", "ERRORS", true},
};
constexpr const char* kVisibleKey = "VISIBLE";

// Column widths in average characters of the view's font.
constexpr int kColumnChars[lcCount] = {12, 6, 6, 20, 7, 3, 20, 24, 60};

}  // namespace

TLineMonitor::TLineMonitor(TPageHost& host, QWidget* parent) : QDockWidget(parent), host_(host) {
  setObjectName("LineMonitor");
  setWindowTitle(QString::fromUtf8(kLineMonitorCaption));
  setAccessibleName(windowTitle());
  setAllowedAreas(Qt::AllDockWidgetAreas);

  auto* body = new QWidget(this);
  body->setObjectName("LineMonitorBody");
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(4, 2, 4, 4);
  layout->setSpacing(2);
  auto* bar = new QHBoxLayout;
  bar->setSpacing(8);
  for (const TCategoryBox& c : kCategoryBoxes) {
    auto* box = new QCheckBox(QString::fromUtf8(c.caption), body);
    box->setObjectName(c.name);
    box->setChecked(c.shown);
    bar->addWidget(box);
  }
  cbMonControl = CategoryBox(TLineCategory::Control);
  cbMonData = CategoryBox(TLineCategory::Data);
  cbMonBytes = CategoryBox(TLineCategory::Bytes);
  cbMonCommands = CategoryBox(TLineCategory::Commands);
  cbMonErrors = CategoryBox(TLineCategory::Errors);
  cbMonBytes->setToolTip(QString::fromUtf8("Байты порта: каждый байт линии (замедляет обмен)"));

  eMonFilter = new QLineEdit(body);
  eMonFilter->setObjectName("eMonFilter");
  eMonFilter->setPlaceholderText(QString::fromUtf8("Фильтр"));
  eMonFilter->setAccessibleName(QString::fromUtf8("Фильтр текста"));
  eMonFilter->setClearButtonEnabled(true);
  eMonFilter->setMinimumWidth(kFilterMinimumWidth);
  eMonFilter->setMaximumWidth(kFilterWidth);
  eMonFilter->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  bar->addWidget(eMonFilter);
  bMonClear = new TSpeedButtonEx(body);
  bMonClear->setObjectName("bMonClear");
  bMonClear->setText(QString::fromUtf8("Очистить"));
  bMonClear->setAccessibleName(bMonClear->text());
  bar->addWidget(bMonClear);
  bMonSave = new TSpeedButtonEx(body);
  bMonSave->setObjectName("bMonSave");
  bMonSave->setText(QString::fromUtf8("Сохранить в файл"));
  bMonSave->setAccessibleName(bMonSave->text());
  bar->addWidget(bMonSave);
  lMonCount = new QLabel(body);
  lMonCount->setObjectName("lMonCount");
  // The count gives way first when the window is narrow.
  lMonCount->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  lMonCount->setMinimumWidth(0);
  lMonCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  bar->addWidget(lMonCount, 1);
  layout->addLayout(bar);

  model_ = new TLineMonitorModel(this);
  filter_ = new TLineMonitorFilter(*model_, this);
  MonitorGrid = new QTableView(body);
  MonitorGrid->setObjectName("MonitorGrid");
  MonitorGrid->setAccessibleName(QString::fromUtf8("Строки монитора линии"));
  MonitorGrid->setModel(filter_);
  MonitorGrid->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  MonitorGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
  MonitorGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  MonitorGrid->setWordWrap(false);
  MonitorGrid->setAlternatingRowColors(false);
  MonitorGrid->verticalHeader()->hide();
  // Fixed row heights: the view never measures rows as they come.
  MonitorGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  MonitorGrid->verticalHeader()->setDefaultSectionSize(MonitorGrid->fontMetrics().height() + 4);
  MonitorGrid->horizontalHeader()->setStretchLastSection(true);
  // Wide enough for the caption and for the usual content.
  const QFontMetrics cells = MonitorGrid->fontMetrics();
  const QFontMetrics captions = MonitorGrid->horizontalHeader()->fontMetrics();
  for (int c = 0; c < lcCount - 1; ++c) {
    const QString caption = model_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    MonitorGrid->setColumnWidth(
        c, std::max(captions.horizontalAdvance(caption),
                    cells.horizontalAdvance(QString(kColumnChars[c], QLatin1Char('0')))) +
               kColumnPadding);
  }
  // The register actions disable the window; the lines stay readable.
  QPalette palette = MonitorGrid->palette();
  for (const QPalette::ColorRole role : {QPalette::Text, QPalette::Base, QPalette::WindowText})
    palette.setColor(QPalette::Disabled, role, palette.color(QPalette::Active, role));
  MonitorGrid->setPalette(palette);
  layout->addWidget(MonitorGrid, 1);
  body->setMinimumHeight(kMinimumHeight);
  setWidget(body);

  SaveDialogMonitor = new QFileDialog(this, QString::fromUtf8("Сохранить монитор линии"));
  SaveDialogMonitor->setObjectName("SaveDialogMonitor");
  SaveDialogMonitor->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialogMonitor->setFileMode(QFileDialog::AnyFile);
  SaveDialogMonitor->setNameFilters(
      {QString::fromUtf8("Текстовые файлы (*.txt)"), QString::fromUtf8("Все файлы (*)")});

  for (const TCategoryBox& c : kCategoryBoxes) {
    QCheckBox* box = CategoryBox(c.category);
    filter_->SetCategory(c.category, box->isChecked());
    connect(box, &QCheckBox::toggled, this, [this, category = c.category](bool on) {
      filter_->SetCategory(category, on);
      // The port's bytes are traced only while they are shown: each byte read
      // makes a trace.
      if (category == TLineCategory::Bytes) {
        wantedDepth_ = static_cast<int>(WantedDepth());
        if (listenerId_ != 0) SetTraceListenerDepth(listenerId_, WantedDepth());
      }
      UpdateCount();
    });
  }
  connect(eMonFilter, &QLineEdit::textChanged, this, [this](const QString& text) {
    filter_->SetText(text);
    UpdateCount();
  });
  connect(bMonClear, &QToolButton::clicked, this, [this] {
    Flush();
    model_->Clear();
    UpdateCount();
  });
  connect(bMonSave, &QToolButton::clicked, this, &TLineMonitor::SaveExecute);

  flushTimer_ = new QTimer(this);
  flushTimer_->setInterval(kFlushInterval);
  connect(flushTimer_, &QTimer::timeout, this, &TLineMonitor::Flush);
  UpdateCount();
}

TLineMonitor::~TLineMonitor() {
  if (listenerId_ != 0) RemoveTraceListener(listenerId_);
  listenerId_ = 0;
}

QCheckBox* TLineMonitor::CategoryBox(TLineCategory category) const {
  for (const TCategoryBox& c : kCategoryBoxes) {
    if (c.category == category) return findChild<QCheckBox*>(QString::fromLatin1(c.name));
  }
  return nullptr;
}

void TLineMonitor::setVisible(bool visible) {
  QDockWidget::setVisible(visible);
  const bool open = !isHidden();
  if (open && !sized_) {
    // Below the pages it starts with room for some lines.
    sized_ = true;
    if (auto* window = qobject_cast<QMainWindow*>(parentWidget()); window != nullptr && !isFloating())
      window->resizeDocks({this}, {kFirstHeight}, Qt::Vertical);
  }
  Listen(open);
  if (open != open_) {
    open_ = open;
    emit openChanged(open);
  }
}

TMessDepth TLineMonitor::WantedDepth() const {
  return cbMonBytes != nullptr && cbMonBytes->isChecked() ? mdHardWare : mdFunctional;
}

void TLineMonitor::Listen(bool on) {
  wantedDepth_ = static_cast<int>(WantedDepth());
  if (on && listenerId_ == 0) {
    listenerId_ = AddTraceListener(
        [this](const TTraceEvent& e) {
          // The port's bytes the log takes at the run's depth "mdhardware"
          // come here too; without "Байты" they are not kept.
          if (static_cast<int>(e.depth) > wantedDepth_.load(std::memory_order_relaxed)) return;
          // Only queued here: the exchange that traces goes on at once.
          const auto us =
              std::chrono::duration_cast<std::chrono::microseconds>(e.time.time_since_epoch()).count();
          const std::lock_guard lock(pendingMutex_);
          if (pending_.size() >= kMaxPending)
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(kMaxPending / 2));
          pending_.push_back({e.depth, e.kind, std::string(e.text), static_cast<std::int64_t>(us)});
        },
        WantedDepth());
    flushTimer_->start();
  } else if (!on && listenerId_ != 0) {
    RemoveTraceListener(listenerId_);
    listenerId_ = 0;
    flushTimer_->stop();
    Flush();
  }
}

void TLineMonitor::Flush() {
  std::vector<TLineTrace> batch;
  {
    const std::lock_guard lock(pendingMutex_);
    batch.swap(pending_);
  }
  // Saving asks for a file name in a modal dialog, which would hold a running
  // exchange until it is closed.
  bMonSave->setEnabled(!host_.RegisterBusy());
  if (batch.empty()) return;
  QScrollBar* scroll = MonitorGrid->verticalScrollBar();
  const bool atEnd = scroll->value() >= scroll->maximum();
  model_->Append(batch);
  UpdateCount();
  if (atEnd) MonitorGrid->scrollToBottom();
}

void TLineMonitor::UpdateCount() {
  QString text = QString::fromUtf8("строк: %1 из %2").arg(filter_->rowCount()).arg(model_->rowCount());
  if (model_->DroppedRows() > 0) text += QString::fromUtf8(" (старые убраны: %1)").arg(model_->DroppedRows());
  lMonCount->setText(text);
}

bool TLineMonitor::SaveToFile(const QString& path) const {
  std::string text;
  for (const QString& line : filter_->Lines()) {
    text += line.toStdString();
    text += "\r\n";
  }
  return WriteTextFile(QFile::encodeName(path).toStdString(), Utf8ToCp1251(text));
}

void TLineMonitor::SaveExecute() {
  if (host_.RegisterBusy()) return;
  Flush();
  SaveDialogMonitor->selectFile(QStringLiteral("line-") +
                                QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
                                QStringLiteral(".txt"));
  if (SaveDialogMonitor->exec() != QDialog::Accepted) return;
  const QStringList files = SaveDialogMonitor->selectedFiles();
  if (files.isEmpty()) return;
  const QString& name = files.front();
  if (!SaveToFile(name)) {
    Error(kLineMonitorCannotWrite + name.toStdString(), true, true, true);
    return;
  }
  Mess(kLineMonitorSaved + name.toStdString(), false, true, true);
}

void TLineMonitor::LoadSettings(const TIniFile& file) {
  for (const TCategoryBox& c : kCategoryBoxes)
    CategoryBox(c.category)->setChecked(file.ReadBool(kLineMonitorSection, c.key, c.shown));
  setVisible(file.ReadBool(kLineMonitorSection, kVisibleKey, false));
}

void TLineMonitor::SaveSettings(TIniFile& file) const {
  file.WriteBool(kLineMonitorSection, kVisibleKey, !isHidden());
  for (const TCategoryBox& c : kCategoryBoxes)
    file.WriteBool(kLineMonitorSection, c.key, CategoryBox(c.category)->isChecked());
}

}  // namespace zarvik::ui
