// The barcode scanner panel of page 4 "Использование сканера штрих-кода (ШК)
// для ввода ШК в базу товаров/услуг": enable box, port and speed of the
// scanner's serial port.
#pragma once

#include <QFrame>

#include "PageHost.h"

class QCheckBox;
class QComboBox;

namespace zarvik::ui {

class TScannerPanel : public QFrame {
  Q_OBJECT
 public:
  TScannerPanel(TPageHost& host, QWidget* parent = nullptr);

  QCheckBox* cbScaner = nullptr;
  QComboBox* cbComPortScan = nullptr;
  QComboBox* cbSpeedPortScan = nullptr;

 private:
  TPageHost& host_;
};

}  // namespace zarvik::ui
