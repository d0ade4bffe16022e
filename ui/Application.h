// The application object and the program's start: the handler for
// exceptions that reach the event loop, and the report of an exception
// that escapes while the windows are being created.
#pragma once

#include <QApplication>
#include <QString>
#include <functional>
#include <memory>

namespace zarvik::ui {

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  // Any exception that reaches the event loop is reported with Error (its
  // text, console and log, no box) and the program goes on.
  bool notify(QObject* receiver, QEvent* event) override;
};

// Creates the main window with `createWindow`, shows it and runs the event
// loop until it closes; returns the loop's result. An exception escaping
// outside the loop (while the window is created) is shown with `fatalBox`
// (its text; empty for an exception without one) and the result is 1.
// SIGTERM, SIGINT and SIGHUP close the window as its close button does
// (StopSignals.h).
int RunMainWindow(const std::function<std::unique_ptr<QWidget>()>& createWindow,
                  const std::function<void(const QString&)>& fatalBox);

// The platform's standard box for a fatal error.
void ShowFatalBox(const QString& text);

}  // namespace zarvik::ui
