// Connecting and disconnecting the register: opening the port, identifying
// the register, reading its options and adapting the program to it.
#include <QAction>
#include <QComboBox>
#include <QLabel>

#include "ActionList.h"
#include "MainWindow.h"
#include "PortListBox.h"
#include "SidePanel.h"
#include "shell/DiaLog.h"
#include "shell/U_language.h"
#include "store/UnitBD.h"

namespace zarvik::ui {

namespace {

constexpr std::string_view kDescriptorMissingMark = "def:";

QString WorkModeText(std::uint8_t mode) {
  switch (mode) {
    case 0: return QStringLiteral("AUTONOM");
    case 1: return QStringLiteral("ON-LINE");
    case 2: return QStringLiteral("OFF-LINE");
    case 3: return QStringLiteral("FR");
    default: return QStringLiteral("???: ") + QString::number(mode);
  }
}

// Brings a working table to exactly `count` rows (of the profile on display):
// the last rows are deleted, empty rows appended.
void ResizeTable(TWorkTable& table, int count) {
  while (table.RecordCount() > count) {
    table.Last();
    table.Delete();
  }
  while (table.RecordCount() < count) {
    table.Append();
    table.Post();
  }
}

}  // namespace

bool TfmMain::ToggleConnection() {
  if (registerPort_.IsOpen()) {
    Disconnect();
    return false;
  }
  return Connect();
}

void TfmMain::Disconnect() {
  registerPort_.Close();
  for (QWidget* w : {static_cast<QWidget*>(side_->cbSpeedPort), static_cast<QWidget*>(side_->cbComPort),
                     static_cast<QWidget*>(side_->cbNetNum)})
    w->setEnabled(true);
  actions_->Find("aConnectDisConnect")->setText(QString::fromStdString(LangResStrHandler.Text(ltConnect)));
  side_->SetIdentityColor(kIdentityDisconnected);
  Mess("Отключились!", false, true, true);
  emit signals_.connectionChanged(false);
}

bool TfmMain::Connect() {
  // C1: the port.
  if (!registerPort_.Open()) {
    Error("не удалось откыть порт", true, true, true);
    return false;
  }
  // C2: a port listed as busy is now ours.
  QComboBox* ports = side_->cbComPort;
  if (const int i = ports->currentIndex(); i >= 0 && ports->itemText(i).contains(QLatin1Char(' '))) {
    const QSignalBlocker block(ports);
    ports->setItemText(i, ports->itemText(i).section(QLatin1Char(' '), 0, 0));
    ports->setCurrentIndex(i);
    MarkPortInUse(ports, i);
  }
  ++busy_;
  UpdateFindAction();
  const TScopeExit done([this] {
    --busy_;
    UpdateFindAction();
    ClosePendingWindow();
  });
  // C3 to C6.
  if (!IdentifyRegister()) {
    // C10.
    registerPort_.Close();
    return false;
  }
  // C7.
  for (QWidget* w : {static_cast<QWidget*>(side_->cbSpeedPort), static_cast<QWidget*>(side_->cbComPort),
                     static_cast<QWidget*>(side_->cbNetNum)})
    w->setEnabled(false);
  actions_->Find("aConnectDisConnect")->setText(QString::fromStdString(LangResStrHandler.Text(ltDisconnect)));
  // C8.
  for (QLabel* l : {side_->lModel, side_->lSN, side_->lMode, side_->lDate, side_->lTime})
    TSidePanel::SetLabelColor(l, kIdentityConnected);
  const bool described = kkm_.Info().OptionDescription(1).find(kDescriptorMissingMark) == std::string::npos;
  TSidePanel::SetLabelColor(side_->lVer, described ? kIdentityConnected : kIdentityNoDescriptor);
  emit signals_.connectionChanged(true);
  // C9.
  AdaptToRegister();
  return true;
}

bool TfmMain::IdentifyRegister() {
  // C3.
  if (!protocol_.GetInfo()) {
    Error(kkm_.linkState == lsNoAnswer ? "ККМ не отвечает" : "не удалось получить информацию о ККМ", true,
          true, true);
    return false;
  }
  // C4.
  const TKKMInfo& info = kkm_.Info();
  side_->lModel->setText(QString::fromStdString(info.model));
  side_->lSN->setText(QString::fromStdString(info.serialNumber));
  side_->lVer->setText(QString::fromStdString(info.version));
  side_->lMode->setText(WorkModeText(info.workMode));
  // C5.
  if (!protocol_.GetDateTime()) {
    Error("не удалось получить информацию о Дате и времени", true, true, true);
    return false;
  }
  side_->lDate->setText(QString::fromStdString(info.dateText));
  side_->lTime->setText(QString::fromStdString(info.timeText));
  // C6.
  return FetchOptions();
}

bool TfmMain::FetchOptions() {
  if (!protocol_.GetOptions()) {
    Error("не удалось получить опции", true, true, true);
    return false;
  }
  TBD& bd = *bd_;
  bd.mtProfile.First();
  TWorkTable& options = bd.mtOptions;
  options.DisableControls();
  // Only the register's own rows are replaced: the rows of the profiles kept
  // in memory (and what was edited in them) stay.
  options.SetFilter("LN='" + std::string(kRegisterProfileKey) + "'");
  options.SetFiltered(true);
  ClearRows(options);
  const TKKMInfo& info = kkm_.Info();
  const int count = std::min<int>(info.OptionCount(), kOptionSlotCount);
  for (int i = 1; i <= count; ++i) {
    const TOptionsInfo& d = info.options[static_cast<std::size_t>(i - 1)];
    options.Append();
    options.SetInteger("num", i);
    options.SetInteger("Min", d.minValue);
    options.SetInteger("Max", d.maxValue);
    options.SetInteger("CanNul", d.canNull ? 1 : 0);
    options.SetInteger("Value", info.optionValues[static_cast<std::size_t>(i - 1)]);
    options.Post();
  }
  options.First();
  options.EnableControls();
  flags_.optionsLoaded = true;
  return true;
}

void TfmMain::AdaptToRegister() {
  const TKKMInfo& info = kkm_.Info();
  RefreshProfileList();
  Mess("Подключились!", false, true, true);
  if (info.maxCountGoods != 0) Mess("Макс.№ товара:" + std::to_string(info.maxCountGoods), false, true, true);
  const int operators = protocol_.GetOperatorCount();
  if (operators == 4) Mess("программируется:4 оператора", false, true, true);
  if (operators == 8) Mess("программируется:8 операторов", false, true, true);
  actions_->SetEnabled("OperatorLoad", operators > 0);
  actions_->SetEnabled("OperatorSave", operators > 0);
  ResizeTable(bd_->tmOperators, operators);
  ResizeTable(bd_->mtDepatment, info.maxCountDepat);
  emit signals_.registerAdapted(operators);
}

}  // namespace zarvik::ui
