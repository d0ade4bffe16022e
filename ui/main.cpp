#include "Application.h"
#include "MainWindow.h"
#include "shell/ProjectsVars.h"

int main(int argc, char** argv) {
  // Module initialisation: switches and program path, before any window.
  zarvik::InitProgram(argc, argv);
  zarvik::ui::TApplication app(argc, argv);
  return zarvik::ui::RunMainWindow([argc, argv] { return std::make_unique<zarvik::ui::TfmMain>(argc, argv); },
                                   &zarvik::ui::ShowFatalBox);
}
