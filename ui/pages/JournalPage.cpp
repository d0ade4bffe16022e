#include "JournalPage.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <thread>
#include <utility>

#include "JournalView.h"
#include "SpeedButtonEx.h"
#include "journal/JournalFrame.h"
#include "protocol/ResultTexts.h"
#include "protocol/TransferResume.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"
#include "shell/UiHooks.h"

namespace zarvik::ui {

namespace {

constexpr const char* kLoadAction = "aLoadMagazin";
constexpr const char* kSaveTextAction = "aSaveTextMagazin";
constexpr const char* kSaveDataAction = "aSaveDataMagazin";
constexpr const char* kTextViewName = "Текст журнала";
constexpr const char* kDataViewName = "Записи журнала";
constexpr const char* kSaveDialogTitle = "Сохранить как";
constexpr int kTextViewStretch = 3;
constexpr int kDataViewStretch = 1;
constexpr int kMargin = 6;

// A pause of the link taken in slices, with the window's events processed
// after each, so that the window keeps painting and answering (and a stop
// press is seen) through the long pauses at the end of a stream. `sleep` is
// how the protocol slept before (a real sleep when unset).
void WaitProcessingEvents(std::chrono::milliseconds d,
                          const std::function<void(std::chrono::milliseconds)>& sleep) {
  while (d > std::chrono::milliseconds::zero()) {
    const std::chrono::milliseconds slice = std::min(d, kJournalWaitSlice);
    if (sleep) {
      sleep(slice);
    } else {
      std::this_thread::sleep_for(slice);
    }
    d -= slice;
    UiHooks().ProcessEvents();
  }
}

}  // namespace

TJournalPage::TJournalPage(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetMagazine");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  layout->setSpacing(kMargin);

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(kMargin);
  const auto button = [&](const char* name, const char* action) {
    auto* b = new TSpeedButtonEx(this);
    b->setObjectName(name);
    b->SetAction(host_.Action(action));
    buttons->addWidget(b);
    return b;
  };
  bLoadMagazineFromKKM = button("bLoadMagazineFromKKM", kLoadAction);
  bMagazineToFile = button("bMagazineToFile", kSaveTextAction);
  bSave = button("bSave", kSaveDataAction);
  buttons->addStretch(1);
  QFont bold = bLoadMagazineFromKKM->font();
  bold.setBold(true);
  bLoadMagazineFromKKM->setFont(bold);
  // Wide enough for each of its captions: the buttons beside it stay put.
  const QFontMetrics metrics = bLoadMagazineFromKKM->fontMetrics();
  const int padding =
      bLoadMagazineFromKKM->sizeHint().width() - metrics.horizontalAdvance(bLoadMagazineFromKKM->text());
  int widest = 0;
  for (const QString& caption : {host_.Action(kLoadAction)->text(), QString::fromUtf8(kJournalStopCaption),
                                 QString::fromUtf8(kJournalReadAgainCaption)}) {
    widest = std::max(widest, metrics.horizontalAdvance(caption));
  }
  bLoadMagazineFromKKM->setMinimumWidth(widest + padding);
  // The button keeps its own caption when its action changes.
  connect(host_.Action(kLoadAction), &QAction::changed, this, &TJournalPage::ApplyLoadCaption);
  layout->addLayout(buttons);

  // The receipt text and, beside it, the record lines it was made from.
  views_ = new QSplitter(Qt::Horizontal, this);
  views_->setObjectName("SplitterMagazine");
  views_->setChildrenCollapsible(true);
  MemoMagazine = new TJournalView(views_);
  MemoMagazine->setObjectName("MemoMagazine");
  MemoMagazine->setAccessibleName(QString::fromUtf8(kTextViewName));
  MemoMagazine->setToolTip(MemoMagazine->accessibleName());
  MemoMagazineSource = new TJournalView(views_);
  MemoMagazineSource->setObjectName("MemoMagazineSource");
  MemoMagazineSource->setAccessibleName(QString::fromUtf8(kDataViewName));
  MemoMagazineSource->setToolTip(MemoMagazineSource->accessibleName());
  views_->addWidget(MemoMagazine);
  views_->addWidget(MemoMagazineSource);
  views_->setStretchFactor(0, kTextViewStretch);
  views_->setStretchFactor(1, kDataViewStretch);
  layout->addWidget(MakeViewTabs(), 1);

  SaveDialogMagazine = new QFileDialog(this, QString::fromUtf8(kSaveDialogTitle));
  SaveDialogMagazine->setObjectName("SaveDialogMagazine");
  SaveDialogMagazine->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialogMagazine->setFileMode(QFileDialog::AnyFile);
  SaveDialogMagazine->setOption(QFileDialog::DontConfirmOverwrite, true);
  SaveDialogMagazine->setDefaultSuffix(QString());

  connect(host_.Action(kLoadAction), &QAction::triggered, this, &TJournalPage::aLoadMagazinExecute);
  connect(host_.Action(kSaveTextAction), &QAction::triggered, this, &TJournalPage::aSaveTextMagazinExecute);
  connect(host_.Action(kSaveDataAction), &QAction::triggered, this, &TJournalPage::aSaveDataMagazinExecute);
  for (const char* name : {kLoadAction, kSaveTextAction, kSaveDataAction}) host_.SetActionEnabled(name, true);
}

void TJournalPage::SetLoadCaption(const QString& caption) {
  loadCaption_ = caption;
  ApplyLoadCaption();
}

void TJournalPage::ApplyLoadCaption() {
  if (loadCaption_.isEmpty()) return;
  bLoadMagazineFromKKM->setText(loadCaption_);
  bLoadMagazineFromKKM->setAccessibleName(loadCaption_);
}

void TJournalPage::SetSavesEnabled(bool enabled) {
  host_.SetActionEnabled(kSaveTextAction, enabled);
  host_.SetActionEnabled(kSaveDataAction, enabled);
}

void TJournalPage::FlushViews() {
  MemoMagazineSource->Flush();
  MemoMagazine->Flush();
  sinceFlush_.start();
}

void TJournalPage::aLoadMagazinExecute() {
  TTransferState& transfer = host_.Transfer();
  // Pressed again while the journal streams (the button says "Остановить"):
  // the read is asked to stop at its next frame. While the read is still
  // connecting the press is ignored; a read is never entered twice.
  if (reading_ != TReadStage::Idle) {
    if (reading_ == TReadStage::Streaming) transfer.transferStopRequested = true;
    return;
  }
  // Another exchange with the register runs: the exchange is not re-entrant.
  if (host_.RegisterBusy()) return;

  reading_ = TReadStage::Connecting;
  endReached_ = false;
  transfer.transferStopRequested = false;
  host_.SelectPage(pgMagazine);
  QWidget* panel = host_.PanelMenu();
  panel->setEnabled(false);
  SetSavesEnabled(false);
  host_.SetActionEnabled(kLoadAction, false);
  const TScopeExit idle([this, panel] {
    reading_ = TReadStage::Idle;
    host_.SetActionEnabled(kLoadAction, true);
    SetSavesEnabled(true);
    panel->setEnabled(true);
  });

  ShowWait(kJournalWait);
  if (!host_.EnsureConnected()) return;

  Mess(kJournalLoadingText, false, true, true);
  MemoMagazine->Clear();
  MemoMagazineSource->Clear();
  transfer.transferProgress = 0;
  SetLoadCaption(QString::fromUtf8(kJournalStopCaption));
  reading_ = TReadStage::Streaming;
  host_.SetActionEnabled(kLoadAction, true);
  sinceFlush_.start();

  bool ok = false;
  host_.RunTransfer([this, &ok, &transfer] {
    TProtocolKKM& protocol = host_.Protocol();
    auto sleep = protocol.sleep;
    protocol.sleep = [sleep](std::chrono::milliseconds d) { WaitProcessingEvents(d, sleep); };
    const TScopeExit restore([&protocol, &sleep] { protocol.sleep = std::move(sleep); });
    protocol.lineCounts = {};
    TResumeControl control;
    control.stopRequested = [&transfer] { return transfer.transferStopRequested; };
    control.onResume = [&transfer](int resumptions) {
      Warning("Связь с ККМ прервалась, продолжаем после " + std::to_string(transfer.transferProgress) +
                  " записей (возобновление " + std::to_string(resumptions) + ")",
              false, true, true);
      ShowWait(kJournalWait);
    };
    ok = ReadJournalResuming(
        protocol, [this](TMessageBuffer& answer, bool& more) { JournalReplyReceived(answer, more); },
        control);
  });
  // What the line cost, when it cost anything.
  if (host_.Protocol().lineCounts.Any()) Mess(LineCountsText(host_.Protocol().lineCounts), false, true, true);
  FlushViews();
  UpdateTables();

  if (!ok) {
    Error(kJournalFailedText, false, true, true);
  } else if (transfer.transferStopRequested && !endReached_) {
    Warning(kJournalPartlyLoadedText, false, true, true);
  } else {
    Mess(kJournalLoadedText, false, true, true);
  }
  SetLoadCaption(QString::fromUtf8(kJournalReadAgainCaption));
  host_.ProgressBar()->hide();
  transfer.transferStopRequested = false;
  transfer.transferProgress = 0;
  HideWait();
}

void TJournalPage::JournalReplyReceived(TMessageBuffer& answer, bool& more) {
  // The register marks its last frame by sending it without continuation.
  const bool last = !more;
  ShowWait(kJournalWait);
  UiHooks().ProcessEvents();
  TTransferState& transfer = host_.Transfer();
  if (UiHooks().IsTerminating() || transfer.transferStopRequested) {
    host_.Protocol().SendControl(kDISC);
    more = false;
  }
  const int code = TProtocolKKM::AnswerCode(answer);
  if (code == kJournalEndCode) {
    more = false;
  } else if (code > 0) {
    // What arrived before shows behind the message.
    FlushViews();
    Error(ErrorText(code), true, true, true);
  }
  if (last || code == kJournalEndCode) endReached_ = true;

  const TJournalFrame frame = TakeJournalFrame(answer.View(), true);
  transfer.transferProgress += static_cast<int>(frame.records.size());
  MemoMagazineSource->Queue(frame.records);
  MemoMagazine->Queue(frame.text);
  if (sinceFlush_.hasExpired(kJournalViewRefresh.count())) FlushViews();
}

void TJournalPage::aSaveTextMagazinExecute() {
  SaveView(*MemoMagazine);
}

void TJournalPage::aSaveDataMagazinExecute() {
  SaveView(*MemoMagazineSource);
}

void TJournalPage::SaveView(const TJournalView& view) {
  // A modal dialog would hold a running exchange (this page's read, or
  // another page's transfer) for as long as it is open.
  if (reading_ != TReadStage::Idle || host_.RegisterBusy()) return;
  host_.SelectPage(pgMagazine);
  if (SaveDialogMagazine->exec() != QDialog::Accepted) return;
  const QStringList files = SaveDialogMagazine->selectedFiles();
  if (files.isEmpty()) return;
  std::string text;
  for (const std::string& line : view.Lines()) {
    text += line;
    text += "\r\n";
  }
  const QString& name = files.front();
  if (!WriteTextFile(QFile::encodeName(name).toStdString(), Utf8ToCp1251(text))) {
    Error(kJournalCannotWriteText + name.toStdString(), true, true, true);
  }
}

}  // namespace zarvik::ui
