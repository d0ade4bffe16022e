#include "Application.h"

#include <QMessageBox>
#include <exception>

#include "StopSignals.h"
#include "shell/DiaLog.h"

namespace zarvik::ui {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("ZarvikConfig"));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    Error(e.what(), false, true, true);
  } catch (...) {
    Error("", false, true, true);
  }
  return false;
}

int RunMainWindow(const std::function<std::unique_ptr<QWidget>()>& createWindow,
                  const std::function<void(const QString&)>& fatalBox) {
  // A stop signal closes the window as its close button does; one that comes
  // while the window is made closes it once the event loop runs.
  TStopSignals stopSignals;
  try {
    const std::unique_ptr<QWidget> window = createWindow();
    stopSignals.SetWindow(window.get());
    window->show();
    const int result = QApplication::exec();
    stopSignals.SetWindow(nullptr);
    return result;
  } catch (const std::exception& e) {
    fatalBox(QString::fromUtf8(e.what()));
  } catch (...) {
    fatalBox(QString());
  }
  return 1;
}

void ShowFatalBox(const QString& text) {
  QMessageBox::critical(nullptr, QApplication::applicationName(), text);
}

}  // namespace zarvik::ui
