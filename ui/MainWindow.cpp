#include "MainWindow.h"

#include <QCloseEvent>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "ConsoleWidget.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"
#include "shell/U_language.h"

namespace zarvik::ui {

namespace {
constexpr const char* kVersionSuffix = " v2.092 ";
}  // namespace

TfmMain::TfmMain(int argc, char** argv, QWidget* parent) : QMainWindow(parent) {
  setObjectName("fmMain");
  std::vector<std::string> all;
  for (int i = 0; i < argc; ++i) all.emplace_back(argv[i]);
  configStop_ = HasConfigStop(all);

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  console_ = new ConsoleWidget(central);
  console_->setObjectName("reConsole");
  layout->addWidget(console_);
  setCentralWidget(central);
  // Under mdHardWare the port trace is too dense for the console: log only.
  if (MessDepth != mdHardWare) SetConsole(console_);
  resize(800, 600);
  ApplyLanguage();

  registerPort_.LoadSettings(std::string(kProgramIniName), "Port");
  scannerPort_.LoadSettings(std::string(kProgramIniName), "PortScan");
}

TfmMain::~TfmMain() { SetConsole(nullptr); }

void TfmMain::ApplyLanguage() {
  setWindowTitle(QString::fromStdString(LangResStrHandler.Text(ltCaption)) + kVersionSuffix);
}

void TfmMain::closeEvent(QCloseEvent* event) {
  registerPort_.SaveSettings(std::string(kProgramIniName), "Port");
  scannerPort_.SaveSettings(std::string(kProgramIniName), "PortScan");
  registerPort_.Close();
  scannerPort_.Close();
  event->accept();
}

}  // namespace zarvik::ui
