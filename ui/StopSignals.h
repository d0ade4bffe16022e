// SIGTERM, SIGINT and SIGHUP close the main window as its close button does
// (settings saved, the questions of closing asked), so that a session's
// logout or a Ctrl-C in the starting terminal loses nothing. The signal
// handler only writes a byte to a pipe; the window is closed from the event
// loop.
#pragma once

#include <QObject>

class QSocketNotifier;
class QWidget;

namespace zarvik::ui {

class TStopSignals : public QObject {
 public:
  // Installs the handlers for the object's lifetime (one instance at a
  // time). A signal that comes before the window is set closes it as soon as
  // the event loop runs.
  TStopSignals();
  void SetWindow(QWidget* window) { window_ = window; }
  ~TStopSignals() override;
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

  // Signals received so far.
  int Received() const { return received_; }

 private:
  void OnSignal();

  QWidget* window_ = nullptr;
  QSocketNotifier* notifier_ = nullptr;
  int received_ = 0;
};

}  // namespace zarvik::ui
