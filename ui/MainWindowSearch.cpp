// "Найти ККМ": the register searched over the listed ports and the speeds of
// the speed list, with the progress in the main window's progress bar and
// the attempts on the console. The search itself is the core's, shared with
// `zarvikctl find`.
#include <QAction>
#include <QComboBox>
#include <QProgressBar>

#include "ActionList.h"
#include "MainWindow.h"
#include "SidePanel.h"
#include "pages/ConfigSysPage.h"
#include "pages/ScannerPanel.h"
#include "protocol/RegisterSearch.h"
#include "shell/DiaLog.h"
#include "shell/UiHooks.h"

namespace zarvik::ui {

namespace {

constexpr const char* kFindCaption = "Найти ККМ";
constexpr const char* kStopCaption = "Остановить поиск";

}  // namespace

void TfmMain::UpdateFindAction() {
  actions_->SetEnabled("aFindKKM", searching_ || (!registerPort_.IsOpen() && busy_ == 0));
}

void TfmMain::FindRegisterAction() {
  if (searching_) {
    // The press was a stop request.
    searchStopRequested_ = true;
    return;
  }
  if (registerPort_.IsOpen() || RegisterBusy()) return;
  searching_ = true;
  searchStopRequested_ = false;
  ++busy_;
  QAction* find = actions_->Find("aFindKKM");
  QAction* connectAction = actions_->Find("aConnectDisConnect");
  const std::initializer_list<QWidget*> boxes = {side_->cbComPort, side_->cbSpeedPort, side_->cbNetNum};
  for (QWidget* w : boxes) w->setEnabled(false);
  connectAction->setEnabled(false);
  find->setText(QString::fromUtf8(kStopCaption));
  UpdateFindAction();
  const TScopeExit done([this, find, connectAction, boxes] {
    searching_ = false;
    searchStopRequested_ = false;
    transfer_.transferStopRequested = false;
    --busy_;
    for (QWidget* w : boxes) w->setEnabled(!registerPort_.IsOpen());
    connectAction->setEnabled(true);
    find->setText(QString::fromUtf8(kFindCaption));
    progressBar_->hide();
    progressBar_->resetFormat();
    UpdateFindAction();
    ClosePendingWindow();
  });

  // The lists are read again, so that an adapter plugged in since the start
  // is searched too; the selections stay on their ports.
  const std::vector<TPortEntry> listed = FillPortList();
  SelectPortItem(side_->cbComPort, registerPort_.PortNumber());
  SelectPortItem(configSysPage_->Scanner().cbComPortScan, scannerPort_.PortNumber());

  TSearchRequest request;
  for (const TPortEntry& e : listed) {
    // The scanner's own line is no register's.
    if (scannerPort_.IsOpen() && e.number == scannerPort_.PortNumber()) {
      Mess("COM" + std::to_string(e.number) + ": пропущен, порт сканера", false, true, true);
      continue;
    }
    request.ports.push_back(e.number);
  }
  std::vector<std::uint32_t> listSpeeds;
  for (int i = 0; i < side_->cbSpeedPort->count(); ++i) {
    bool ok = false;
    const uint speed = side_->cbSpeedPort->itemText(i).toUInt(&ok);
    if (ok) listSpeeds.push_back(speed);
  }
  request.speeds = SearchSpeedOrder(registerPort_.BaudRate(), listSpeeds);
  request.networkNumber = kkm_.networkNumber;
  request.timeouts = &registerPort_;
  std::string speedsText;
  for (const std::uint32_t s : request.speeds)
    speedsText += (speedsText.empty() ? "" : ", ") + std::to_string(s);
  Mess("Поиск ККМ: портов " + std::to_string(request.ports.size()) + ", скорости " + speedsText +
           ", сетевой № " + std::to_string(request.networkNumber),
       false, true, true);

  progressBar_->reset();
  progressBar_->setRange(0, std::max<int>(1, static_cast<int>(request.ports.size() * request.speeds.size())));
  progressBar_->setValue(0);
  progressBar_->setFormat(QString::fromUtf8("Поиск ККМ (%v из %m)"));
  progressBar_->show();
  TSearchCallbacks callbacks;
  callbacks.report = [this](const TSearchAttempt& a) {
    progressBar_->setMaximum(std::max(1, a.total));
    progressBar_->setValue(a.done);
    if (a.outcome == TSearchOutcome::Trying) {
      progressBar_->setFormat(QString::fromUtf8("Поиск ККМ: COM%1, %2 (%v из %m)").arg(a.port).arg(a.speed));
      return;
    }
    Mess(SearchAttemptText(a), false, true, true);
  };
  callbacks.stopRequested = [this] {
    UiHooks().ProcessEvents();
    // Closing the window also ends the search.
    return searchStopRequested_ || transfer_.transferStopRequested || UiHooks().IsTerminating();
  };
  const TSearchResult result = FindRegister(request, callbacks);
  const std::string text = SearchResultText(result);
  if (result.found) {
    registerPort_.SetPortNumber(result.port);
    registerPort_.SetBaudRate(result.speed);
    SelectPortItem(side_->cbComPort, result.port);
    SelectSpeedItem(side_->cbSpeedPort, result.speed);
    Mess(text, false, true, true);
  } else if (!result.error.empty()) {
    Error(text, true, true, true);
  } else if (result.stopped) {
    Warning(text, false, true, true);
  } else {
    Warning(text, true, true, true);
  }
}

}  // namespace zarvik::ui
