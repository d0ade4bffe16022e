#include "ScannerPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>

#include "SidePanel.h"

namespace zarvik::ui {

TScannerPanel::TScannerPanel(TPageHost& host, QWidget* parent) : QFrame(parent), host_(host) {
  setObjectName("Panel11");
  setFrameShape(QFrame::StyledPanel);
  auto* grid = new QGridLayout(this);
  auto* title = new QLabel(
      QString::fromUtf8("Использование сканера штрих-кода (ШК) для ввода ШК в базу товаров/услуг"), this);
  title->setObjectName("LabelScanner");
  QFont f = title->font();
  f.setBold(true);
  title->setFont(f);
  title->setWordWrap(true);
  grid->addWidget(title, 0, 0, 1, 4);
  cbScaner = new QCheckBox(QString::fromUtf8("Разрешить ввод со сканера"), this);
  cbScaner->setObjectName("cbScaner");
  grid->addWidget(cbScaner, 1, 0, 1, 4);
  auto* portLabel = new QLabel(QString::fromUtf8("Порт"), this);
  portLabel->setObjectName("LabelPortScan");
  cbComPortScan = new QComboBox(this);
  cbComPortScan->setObjectName("cbComPortScan");
  cbComPortScan->setAccessibleName(QString::fromUtf8("Порт"));
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
}

}  // namespace zarvik::ui
