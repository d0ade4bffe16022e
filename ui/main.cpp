#include <QApplication>

#include "MainWindow.h"
#include "UiHooksQt.h"
#include "shell/ProjectsVars.h"

int main(int argc, char** argv) {
  // Module initialisation: switches and program path, before any window.
  zarvik::InitProgram(argc, argv);
  QApplication app(argc, argv);
  QApplication::setApplicationName("ZarvikConfig");
  zarvik::ui::QtUiHooks hooks;
  zarvik::SetUiHooks(&hooks);
  zarvik::ui::TfmMain window(argc, argv);
  window.show();
  const int rc = QApplication::exec();
  zarvik::SetUiHooks(nullptr);
  return rc;
}
