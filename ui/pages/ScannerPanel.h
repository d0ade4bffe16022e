// The barcode scanner panel of page 4 "Использование сканера штрих-кода (ШК)
// для ввода ШК в базу товаров/услуг": enable box, port and speed of the
// scanner's serial port, and the timer that polls the scanner while input
// is enabled and puts each code into the current goods row.
#pragma once

#include <QFrame>
#include <QTimer>
#include <chrono>

#include "PageHost.h"

class QCheckBox;
class QComboBox;

namespace zarvik::ui {

// How often the scanner is polled.
inline constexpr std::chrono::milliseconds kScannerPollInterval{100};

class TScannerPanel : public QFrame {
  Q_OBJECT
 public:
  TScannerPanel(TPageHost& host, QWidget* parent = nullptr);

  QCheckBox* cbScaner = nullptr;
  QComboBox* cbComPortScan = nullptr;
  QComboBox* cbSpeedPortScan = nullptr;
  QTimer& TimerBarCode() { return timer_; }

  // The port number of a port list entry: "COM12  BUSY" gives 12, an entry
  // without a number 0.
  static int PortEntryNumber(const QString& entry);

  // Handlers (the box's change runs cbScanerClick, also when the start-up
  // sets it from the INI file).
  void cbScanerClick();
  void cbComPortScanChange();
  void cbSpeedPortScanChange();
  void TimerBarCodeTimer();

 private:
  TPageHost& host_;
  QTimer timer_;
};

}  // namespace zarvik::ui
