// Figures of the main window: how long it takes to open, and what its
// connect step costs against the protocol floor of the commands it sends.
//
// The window is the real TfmMain (Qt's offscreen platform unless another is
// chosen), connecting through its connect action's step (ToggleConnection:
// port, GetInfo with the model descriptor and the goods probes, GetDateTime,
// GetOptions into the options table, the profile list rebuilt from the files
// in "bd", the operator probe, the tables adapted) to the register simulator
// on a pseudo-terminal paced at a real line speed. The floor is counted as
// bench_link counts it: every byte on the line in both directions at 10 bits
// per byte, plus the waits the protocol prescribes (its sleep hook); the
// strict floor also takes off the time the PC's last bytes before a wait
// cross the line during that wait.
//
//   bench_connect [--baud 19200,115200] [--runs N] [--opens N] [--data DIR] [--realtime]
//
// The first connect of each speed runs in an empty working folder (it
// creates the seven profile files); the others find them.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include <sched.h>
#include <sys/prctl.h>

#include "Application.h"
#include "BenchSupport.h"
#include "MainWindow.h"
#include "Scenario.h"
#include "Simulator.h"
#include "UiHooksQt.h"
#include "port/Comport.h"
#include "port/PortDevices.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"

namespace {

using zarvik::bench::CountingLine;
using zarvik::bench::kBitsPerByte;
using zarvik::bench::TuneTimedThread;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kBenchPort = 251;
constexpr double kAllowedRatio = 1.05;
constexpr double kOpenLimitSeconds = 1.0;

struct Options {
  std::vector<int> bauds{19200, 115200};
  int runs = 5;
  int opens = 5;
  bool realtime = false;
  std::string dataDir = zarvik::bench::SourcePath("data");
  std::string scenario = zarvik::bench::SourcePath("sim/scenarios/default.ini");
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool value = i + 1 < argc;
    if (a == "--baud" && value) {
      o.bauds.clear();
      std::string list = argv[++i];
      std::size_t from = 0;
      while (from < list.size()) {
        const std::size_t comma = std::min(list.find(',', from), list.size());
        o.bauds.push_back(std::atoi(list.substr(from, comma - from).c_str()));
        from = comma + 1;
      }
    } else if (a == "--runs" && value) {
      o.runs = std::atoi(argv[++i]);
    } else if (a == "--opens" && value) {
      o.opens = std::atoi(argv[++i]);
    } else if (a == "--data" && value) {
      o.dataDir = argv[++i];
    } else if (a == "--realtime") {
      o.realtime = true;
    } else {
      std::fprintf(
          stderr,
          "usage: bench_connect [--baud 19200,115200] [--runs N] [--opens N] [--data DIR] [--realtime]\n");
      return false;
    }
  }
  for (int b : o.bauds)
    if (!zarvik::IsAllowedBaudRate(static_cast<std::uint32_t>(b))) return false;
  return o.runs >= 1 && o.opens >= 1;
}

struct Row {
  std::string task;
  int baud = 0;
  bool ok = true;
  std::uint64_t pcToRegister = 0;
  std::uint64_t registerToPc = 0;
  milliseconds waits{0};
  double floor = 0.0;
  double strictFloor = 0.0;
  double measured = 0.0;
  bool countsAgree = true;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

void PrintRow(const Row& r) {
  std::printf("| %s%s | %d | %llu | %llu | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f |\n", r.task.c_str(),
              r.ok ? "" : " (FAILED)", r.baud, static_cast<unsigned long long>(r.pcToRegister),
              static_cast<unsigned long long>(r.registerToPc), std::chrono::duration<double>(r.waits).count(),
              r.floor, r.measured, r.measured / r.floor, r.strictFloor, r.measured / r.strictFloor);
  if (!r.countsAgree) std::printf("  (the PC's and the register's byte counts differ)\n");
  std::fflush(stdout);
}

// Opening the window: construction (the opening steps), showing it and
// the first layout and painting.
double OpenWindowOnce() {
  char name[] = "ZarvikConfig";
  char* argv[] = {name};
  const auto start = Clock::now();
  zarvik::ui::TfmMain w(1, argv);
  w.show();
  QApplication::processEvents();
  w.repaint();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  w.close();
  return seconds;
}

bool ConnectRows(const Options& o, int baud, std::vector<Row>& rows) {
  zarvik::sim::Scenario scenario;
  std::string error;
  if (!zarvik::sim::LoadScenarioFile(o.scenario, scenario, error)) {
    std::fprintf(stderr, "bench_connect: scenario: %s\n", error.c_str());
    return false;
  }
  zarvik::sim::Simulator sim(scenario);
  std::string slave;
  if (!sim.OpenPty(slave)) {
    std::fprintf(stderr, "bench_connect: %s\n", sim.LastError().c_str());
    return false;
  }
  sim.SetPacing(baud, true);
  zarvik::SetPortDevice(kBenchPort, slave);
  if (!sim.Start()) return false;

  QTemporaryDir folder;
  QDir::setCurrent(folder.path());
  QFile ini(folder.filePath("ZarvikConfig.ini"));
  if (!ini.open(QIODevice::WriteOnly)) return false;
  ini.write(QByteArray("[Port]\r\nCOMPort=") + QByteArray::number(kBenchPort) +
            "\r\nSpeed=" + QByteArray::number(baud) + "\r\n");
  ini.close();

  char name[] = "ZarvikConfig";
  char* argv[] = {name};
  zarvik::ui::TfmMain w(1, argv);
  w.Hooks().boxHandler = [](zarvik::BoxKind, const std::string& text) {
    std::fprintf(stderr, "bench_connect: box: %s\n", text.c_str());
  };
  w.show();
  QApplication::processEvents();

  CountingLine line(w.RegisterPort());
  zarvik::TProtocolKKM& protocol = w.Protocol();
  protocol.SetLine(&line);
  milliseconds waits{0};
  std::chrono::duration<double> overlap{0};
  const auto lineTime = [baud](std::uint64_t bytes) {
    return std::chrono::duration<double>(static_cast<double>(bytes * kBitsPerByte) / baud);
  };
  protocol.sleep = [&](milliseconds d) {
    waits += d;
    overlap += std::min(std::chrono::duration<double>(d), lineTime(line.unanswered));
    line.unanswered = 0;
    std::this_thread::sleep_for(d);
  };

  for (int run = 0; run < o.runs; ++run) {
    Row r;
    r.task = run == 0 ? "connect (new bd)" : "connect";
    r.baud = baud;
    const auto simBefore = sim.LineByteCounts();
    const std::uint64_t inBefore = line.in;
    const std::uint64_t outBefore = line.out;
    waits = milliseconds{0};
    overlap = std::chrono::duration<double>{0};
    const auto start = Clock::now();
    r.ok = w.ToggleConnection();
    r.measured = std::chrono::duration<double>(Clock::now() - start).count();
    const auto simAfter = sim.LineByteCounts();
    r.pcToRegister = simAfter.fromPc - simBefore.fromPc;
    r.registerToPc = simAfter.toPc - simBefore.toPc;
    r.countsAgree = r.pcToRegister == line.out - outBefore && r.registerToPc == line.in - inBefore;
    r.waits = waits;
    r.floor = static_cast<double>((r.pcToRegister + r.registerToPc) * kBitsPerByte) / baud +
              std::chrono::duration<double>(waits).count();
    r.strictFloor = r.floor - overlap.count();
    rows.push_back(r);
    PrintRow(r);
    if (r.ok) w.ToggleConnection();  // disconnect: no command
    QApplication::processEvents();
  }
  protocol.SetLine(nullptr);
  w.close();
  sim.Close();
  zarvik::SetPortDevice(kBenchPort, "");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const auto programStart = Clock::now();
  Options options;
  if (!ParseOptions(argc, argv, options)) return 2;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The model descriptor ("B 003") is looked up next to the program.
  zarvik::SetProgramPath((std::filesystem::path(options.dataDir) / "bench_connect").string());
  if (!TuneTimedThread("bench_connect", options.realtime)) return 1;
  int qtArgc = 1;
  zarvik::ui::TApplication app(qtArgc, argv);
  QTemporaryDir folder;
  QDir::setCurrent(folder.path());
  // The program's log goes to the scratch folder, not beside the model descriptors.
  zarvik::NameLogFile = folder.filePath("bench_connect.log").toStdString();

  // Opening: the first window of the process pays for the fonts and styles;
  // from the program's start it also includes the application object.
  std::vector<double> opens;
  for (int i = 0; i < options.opens; ++i) opens.push_back(OpenWindowOnce());
  const double fromStart = std::chrono::duration<double>(Clock::now() - programStart).count() -
                           std::accumulate(opens.begin() + 1, opens.end(), 0.0);
  std::printf(
      "window opening, s: from the program's start %.3f; window alone: first %.3f, median %.3f, "
      "worst %.3f (limit %.1f)\n\n",
      fromStart, opens.front(), Median(opens), *std::max_element(opens.begin(), opens.end()),
      kOpenLimitSeconds);

  std::printf(
      "| task | baud | bytes PC→register | bytes register→PC | prescribed waits, s | floor, s | measured, s "
      "| "
      "ratio | strict floor, s | ratio to strict |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  std::vector<Row> rows;
  for (int baud : options.bauds)
    if (!ConnectRows(options, baud, rows)) return 1;
  double worst = 0.0;
  bool allOk = true;
  for (const Row& r : rows) {
    worst = std::max(worst, r.measured / r.floor);
    allOk = allOk && r.ok && r.countsAgree;
  }
  std::printf("\nworst ratio %.3f (limit %.2f)\n", worst, kAllowedRatio);
  const bool openOk = fromStart < kOpenLimitSeconds;
  return allOk && openOk && worst <= kAllowedRatio ? 0 : 1;
}
