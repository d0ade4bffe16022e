// The main window. It owns the register port; pages reach the register only
// through the commands it wires.
#pragma once

#include <QMainWindow>
#include <memory>

#include "port/Comport.h"

namespace zarvik::ui {

class ConsoleWidget;

class TfmMain : public QMainWindow {
  Q_OBJECT
 public:
  TfmMain(int argc, char** argv, QWidget* parent = nullptr);
  ~TfmMain() override;

  // Window caption, connect caption and the other language texts.
  void ApplyLanguage();
  bool ConfigStop() const { return configStop_; }
  TComPort& RegisterPort() { return registerPort_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  TComPort registerPort_;
  TComPort scannerPort_;
  ConsoleWidget* console_ = nullptr;
  bool configStop_ = false;
};

}  // namespace zarvik::ui
