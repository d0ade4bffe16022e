// A test bed for the window tests: a temporary working folder, the register
// simulator on a pseudo-terminal reached as a numbered port, and the real
// main window with its message boxes and questions captured instead of shown.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ConsoleWidget.h"
#include "MainWindow.h"
#include "Scenario.h"
#include "Simulator.h"
#include "UiHooksQt.h"
#include "pages/GoodsPage.h"
#include "UiTestMain.h"
#include "port/PortDevices.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"
#include "shell/TextCodec.h"
#include "shell/U_language.h"
#include "store/GoodsPlan.h"
#include "store/UnitBD.h"

namespace uitest {

// The port number the simulator is reached as.
inline constexpr int kSimPort = 200;

struct TBox {
  zarvik::BoxKind kind;
  std::string text;
};

// The shipped shop scenario (copied beside the test programs by the build).
inline std::string DefaultScenarioPath() { return std::string(ZARVIK_SOURCE_DIR) + "/sim/scenarios/default.ini"; }

inline zarvik::sim::Scenario LoadScenario(const std::string& path = DefaultScenarioPath()) {
  zarvik::sim::Scenario sc;
  std::string error;
  if (!zarvik::sim::LoadScenarioFile(path, sc, error)) qFatal("scenario %s: %s", path.c_str(), error.c_str());
  return sc;
}

class TTestBed {
 public:
  // Switch words as on the command line ("debug", "okb", "CONFIG_STOP", ...).
  explicit TTestBed(std::vector<std::string> words = {}) : words_(std::move(words)) {
    zarvik::ResetSwitches();
    zarvik::LangResStrHandler.SetDefaults();
    std::vector<std::string> switches;
    for (const std::string& w : words_)
      if (w != "CONFIG_STOP") switches.push_back(w);
    zarvik::ParseSwitches(switches);
    if (!dir_.isValid()) qFatal("no temporary folder");
    // The model descriptors and language files lie beside the test program;
    // the log beside it is named for the test (ui_test_goods.log), as tests
    // of the one program run side by side.
    zarvik::SetProgramPath(
        (QCoreApplication::applicationDirPath() + "/ui_" + QString::fromStdString(uitest::RunningTest()))
            .toStdString());
    QDir::setCurrent(dir_.path());
    zarvik::NameLogFile.clear();
  }
  ~TTestBed() {
    window_.reset();
    if (sim_) sim_->Close();
    zarvik::SetPortDevice(kSimPort, "");
    zarvik::SetConsole(nullptr);
    zarvik::ResetSwitches();
  }
  TTestBed(const TTestBed&) = delete;
  TTestBed& operator=(const TTestBed&) = delete;

  QString Path(const QString& name) const { return dir_.filePath(name); }

  // Writes ZarvikConfig.ini of the working folder.
  void WriteIni(const QByteArray& text) {
    QFile f(Path("ZarvikConfig.ini"));
    if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write ZarvikConfig.ini");
    f.write(text);
  }
  // The register port of the window is the simulator's port at `baud`.
  void UseSimulatorPort(int baud = 115200) {
    WriteIni(QByteArray("[Port]\r\nCOMPort=") + QByteArray::number(kSimPort) + "\r\nSpeed=" +
             QByteArray::number(baud) + "\r\n");
  }

  // Starts the simulator with `scenario` on a pseudo-terminal reached as
  // port kSimPort (unpaced unless `baud` is given).
  zarvik::sim::Simulator& StartSimulator(const zarvik::sim::Scenario& scenario = LoadScenario(), int baud = 0) {
    sim_ = std::make_unique<zarvik::sim::Simulator>(scenario);
    std::string slave;
    if (!sim_->OpenPty(slave)) qFatal("simulator: no pseudo-terminal");
    if (baud > 0) sim_->SetPacing(baud, true);
    zarvik::SetPortDevice(kSimPort, slave);
    if (!sim_->Start()) qFatal("simulator did not start");
    return *sim_;
  }
  zarvik::sim::Simulator& Sim() { return *sim_; }

  // Creates the main window with the switch words given to the test bed.
  zarvik::ui::TfmMain& OpenWindow() {
    std::vector<QByteArray> storage{QByteArray("ZarvikConfig")};
    for (const std::string& w : words_) storage.emplace_back(w.c_str());
    std::vector<char*> argv;
    for (QByteArray& a : storage) argv.push_back(a.data());
    window_ = std::make_unique<zarvik::ui::TfmMain>(static_cast<int>(argv.size()), argv.data());
    zarvik::ui::QtUiHooks& hooks = window_->Hooks();
    hooks.boxHandler = [this](zarvik::BoxKind kind, const std::string& text) { boxes_.push_back({kind, text}); };
    hooks.questionHandler = [this](zarvik::QueryKind, const std::string& text, zarvik::QueryButton def) {
      questions_.push_back(text);
      if (answers_.empty()) return def;
      const zarvik::QueryButton a = answers_.front();
      answers_.erase(answers_.begin());
      return a;
    };
    // The preview of a goods write is answered as a question is: the
    // summary line is kept, the answer is "Записать" unless told otherwise.
    window_->GoodsPage().confirmWrite = [this](const zarvik::GoodsWritePlan& plan) {
      previews_.push_back(zarvik::GoodsPlanSummary(plan));
      return confirmWrites_;
    };
    window_->show();
    return *window_;
  }
  zarvik::ui::TfmMain& Window() { return *window_; }
  void CloseWindow() { window_.reset(); }

  // Connects through the window's connect action; true when connected.
  bool Connect() {
    window_->ToggleConnection();
    return window_->RegisterPort().IsOpen();
  }

  // Message boxes shown so far (text without the caption), then cleared.
  std::vector<TBox> TakeBoxes() { return std::exchange(boxes_, {}); }
  const std::vector<TBox>& Boxes() const { return boxes_; }
  // Answers the next questions will get, in order (the default afterwards).
  void Answer(std::vector<zarvik::QueryButton> answers) { answers_ = std::move(answers); }
  const std::vector<std::string>& Questions() const { return questions_; }
  // The summaries of the goods write previews shown so far; whether they are
  // answered with "Записать".
  const std::vector<std::string>& Previews() const { return previews_; }
  void ConfirmWrites(bool confirm) { confirmWrites_ = confirm; }
  // The console's text.
  QString ConsoleText() { return window_->Console().toPlainText(); }
  // The lines of the log file written so far (UTF-8).
  QStringList LogLines() const {
    QFile f(QString::fromStdString(zarvik::NameLogFile.empty() ? zarvik::DefaultLogPath() : zarvik::NameLogFile));
    if (!f.open(QIODevice::ReadOnly)) return {};
    const std::string text = zarvik::Cp1251ToUtf8(f.readAll().toStdString());
    return QString::fromStdString(text).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  }

 private:
  std::vector<std::string> words_;
  QTemporaryDir dir_;
  std::unique_ptr<zarvik::sim::Simulator> sim_;
  std::unique_ptr<zarvik::ui::TfmMain> window_;
  std::vector<TBox> boxes_;
  std::vector<std::string> questions_;
  std::vector<zarvik::QueryButton> answers_;
  std::vector<std::string> previews_;
  bool confirmWrites_ = true;
};

// How long a test waits for what must happen: far longer than it takes even
// in a sanitizer build on a busy machine, so only a fault runs into it.
inline constexpr int kEventWaitMs = 30000;

// Waits up to `ms` for `condition`, processing events.
inline bool WaitFor(const std::function<bool()>& condition, int ms = kEventWaitMs) {
  QElapsedTimer t;
  t.start();
  while (!condition()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qWait(5);
  }
  return true;
}

// Makes the profile list show its first entry whose name begins with
// `prefix`.
inline bool SelectEntry(zarvik::ui::TfmMain& w, const std::string& prefix) {
  zarvik::TWorkTable& list = w.Bd().mtProfile;
  for (int i = 1; i <= list.RecordCount(); ++i) {
    if (list.ViewText(i - 1, list.FieldIndex("Name")).rfind(prefix, 0) != 0) continue;
    return list.SetRecNo(i);
  }
  return false;
}

// The scanner's end of a pseudo-terminal pair, reached as port number `port`
// while it lives.
class TScannerLine {
 public:
  explicit TScannerLine(int port) : port_(port) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0)
      qFatal("no pseudo-terminal");
    zarvik::SetPortDevice(port_, name);
  }
  ~TScannerLine() {
    zarvik::SetPortDevice(port_, "");
    ::close(master_);
  }
  TScannerLine(const TScannerLine&) = delete;
  TScannerLine& operator=(const TScannerLine&) = delete;
  void Send(const std::string& bytes) const {
    if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) qFatal("write");
  }

 private:
  int port_;
  int master_ = -1;
};

}  // namespace uitest
