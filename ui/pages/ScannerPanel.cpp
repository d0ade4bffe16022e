#include "ScannerPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>

#include "GoodsPage.h"
#include "SidePanel.h"
#include "port/Barcodescaner.h"

namespace zarvik::ui {

namespace {
// The number of a port entry: at most three characters from the fourth.
constexpr int kPortNumberStart = 3;
constexpr int kPortNumberLength = 3;
}  // namespace

TScannerPanel::TScannerPanel(TPageHost& host, QWidget* parent) : QFrame(parent), host_(host) {
  setObjectName("Panel11");
  setFrameShape(QFrame::StyledPanel);
  auto* grid = new QGridLayout(this);
  grid->setHorizontalSpacing(8);
  auto* title = new QLabel(
      QString::fromUtf8("Использование сканера штрих-кода (ШК) для ввода ШК в базу товаров/услуг"), this);
  title->setObjectName("LabelScanner");
  QFont f = title->font();
  f.setBold(true);
  title->setFont(f);
  title->setWordWrap(true);
  grid->addWidget(title, 0, 0, 1, 5);
  cbScaner = new QCheckBox(QString::fromUtf8("Разрешить ввод со сканера"), this);
  cbScaner->setObjectName("cbScaner");
  grid->addWidget(cbScaner, 1, 0, 1, 5);
  auto* portLabel = new QLabel(QString::fromUtf8("Порт"), this);
  portLabel->setObjectName("LabelPortScan");
  cbComPortScan = new QComboBox(this);
  cbComPortScan->setObjectName("cbComPortScan");
  cbComPortScan->setAccessibleName(QString::fromUtf8("Порт"));
  cbComPortScan->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  cbComPortScan->setMinimumContentsLength(11);  // "COM256  BUSY"
  portLabel->setBuddy(cbComPortScan);
  auto* speedLabel = new QLabel(QString::fromUtf8("Скорость"), this);
  speedLabel->setObjectName("LabelSpeedScan");
  cbSpeedPortScan = new QComboBox(this);
  cbSpeedPortScan->setObjectName("cbSpeedPortScan");
  cbSpeedPortScan->setAccessibleName(QString::fromUtf8("Скорость"));
  for (const char* s : kSpeedItems) cbSpeedPortScan->addItem(QString::fromLatin1(s));
  speedLabel->setBuddy(cbSpeedPortScan);
  grid->addWidget(portLabel, 2, 0);
  grid->addWidget(cbComPortScan, 2, 1);
  grid->addWidget(speedLabel, 2, 2);
  grid->addWidget(cbSpeedPortScan, 2, 3);
  grid->setColumnStretch(4, 1);

  timer_.setObjectName("TimerBarCode");
  timer_.setInterval(kScannerPollInterval);
  connect(&timer_, &QTimer::timeout, this, &TScannerPanel::TimerBarCodeTimer);
  connect(cbScaner, &QCheckBox::toggled, this, &TScannerPanel::cbScanerClick);
  connect(cbComPortScan, &QComboBox::currentIndexChanged, this, &TScannerPanel::cbComPortScanChange);
  connect(cbSpeedPortScan, &QComboBox::currentIndexChanged, this, &TScannerPanel::cbSpeedPortScanChange);
}

int TScannerPanel::PortEntryNumber(const QString& entry) {
  return entry.mid(kPortNumberStart, kPortNumberLength).section(QLatin1Char(' '), 0, 0).toInt();
}

void TScannerPanel::cbScanerClick() {
  TBarCodeScaner& port = host_.ScannerPort();
  if (cbScaner->isChecked()) {
    // A port that does not open has said why; the box unticks itself.
    if (!port.IsOpen() && !port.Open()) {
      cbScaner->setChecked(false);
      return;
    }
  } else {
    port.Close();
  }
  if (cbScaner->isChecked())
    timer_.start();
  else
    timer_.stop();
}

void TScannerPanel::cbComPortScanChange() {
  // The number is used at the next opening.
  host_.ScannerPort().SetPortNumber(PortEntryNumber(cbComPortScan->currentText()));
}

void TScannerPanel::cbSpeedPortScanChange() {
  bool ok = false;
  const uint speed = cbSpeedPortScan->currentText().toUInt(&ok);
  if (!ok || !host_.ScannerPort().SetBaudRate(speed)) return;
  // The new speed closed the port. The box stays as the user left it (and
  // is saved so): while it is ticked the port opens again at the new speed;
  // a port that does not open says why itself, and the next start tries again.
  if (cbScaner->isChecked()) host_.ScannerPort().Open();
}

void TScannerPanel::TimerBarCodeTimer() {
  // Codes wait in the port's queue while another page is shown, and while a
  // register exchange runs (a transfer works on the goods rows).
  if (host_.CurrentPage() != pgGoods || host_.RegisterBusy()) return;
  const std::string code = host_.ScannerPort().ReadBarcode();
  if (code.empty()) return;
  if (auto* goods = host_.Window()->findChild<TGoodsPage*>()) goods->EnterBarcode(code);
}

}  // namespace zarvik::ui
