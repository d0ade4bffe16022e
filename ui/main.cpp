#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "MainWindow.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"

namespace {

// Any exception that reaches the event loop is reported with Error (console
// and log, no box) and the program goes on.
class TApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      zarvik::Error(e.what(), false, true, true);
    } catch (...) {
      zarvik::Error("", false, true, true);
    }
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  // Module initialisation: switches and program path, before any window.
  zarvik::InitProgram(argc, argv);
  TApplication app(argc, argv);
  QApplication::setApplicationName("ZarvikConfig");
  try {
    zarvik::ui::TfmMain window(argc, argv);
    window.show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    // Outside the event loop (while a window is created): the standard box,
    // then the end.
    QMessageBox::critical(nullptr, "ZarvikConfig", QString::fromUtf8(e.what()));
  } catch (...) {
    QMessageBox::critical(nullptr, "ZarvikConfig", QString());
  }
  return 1;
}
