// Figures of the window's journal page reading a long journal from the
// register simulator paced at a real line speed: the time of the read against
// the time the line itself needs, and how responsive the window stays while
// the journal streams in (the longest gap between two turns of its event
// loop, seen by a 10 ms timer). Then the cost of appending a batch of lines to
// a journal view as the view fills.
//
//   bench_journal_page [--baud N] [--receipts N] [--data DIR] [--realtime] [--only read|views]
//
// Defaults: 115200 baud, 2000 receipts. The register is the shop of
// bench_link (16 departments, 4000 goods); the window runs offscreen unless
// QT_QPA_PLATFORM says otherwise. --data is the folder holding ECR_CFG; by
// default the source tree's data/. --realtime: see bench_link.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include "BenchSupport.h"
#include "BenchWindowSupport.h"
#include "MainWindow.h"
#include "Scenario.h"
#include "Simulator.h"
#include "UiHooksQt.h"
#include "journal/JournalFrame.h"
#include "pages/JournalPage.h"
#include "pages/JournalView.h"
#include "port/PortDevices.h"
#include "port/SerialSpeed.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"

namespace {

using zarvik::bench::kBitsPerByte;
using zarvik::bench::Percentile;
using zarvik::bench::ShopScenario;
using zarvik::bench::StderrConsole;
using zarvik::bench::ThreadCpuSeconds;
using zarvik::bench::TuneTimedThread;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;
using std::chrono::milliseconds;

constexpr int kBenchPort = 251;
constexpr int kTickMs = 10;
// The view scaling run: batches of this many lines, this many batches.
constexpr int kBatchLines = 40;
constexpr int kBatches = 5000;
constexpr int kViewWidth = 900;
constexpr int kViewHeight = 600;

struct Options {
  int baud = 115200;
  int receipts = 2000;
  bool realtime = false;
  bool read = true;
  bool views = true;
  std::string dataDir = zarvik::bench::SourcePath("data");
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--baud" && hasValue) {
      o.baud = std::atoi(argv[++i]);
    } else if (arg == "--receipts" && hasValue) {
      o.receipts = std::atoi(argv[++i]);
    } else if (arg == "--data" && hasValue) {
      o.dataDir = argv[++i];
    } else if (arg == "--realtime") {
      o.realtime = true;
    } else if (arg == "--only" && hasValue) {
      const std::string part = argv[++i];
      o.read = part == "read";
      o.views = part == "views";
    } else {
      std::fprintf(stderr,
                   "usage: bench_journal_page [--baud N] [--receipts N] [--data DIR] [--realtime] [--only "
                   "read|views]\n");
      return false;
    }
  }
  if (!zarvik::IsAllowedBaudRate(static_cast<std::uint32_t>(o.baud)) || o.receipts < 0) {
    std::fprintf(stderr, "bench_journal_page: --baud a port speed, --receipts 0 or more\n");
    return false;
  }
  return true;
}

std::string ScenarioText(const Options& o) {
  return ShopScenario(4000, o.receipts);
}

// The window's UI hooks with the time spent processing events measured.
class TimedHooks final : public zarvik::IUiHooks {
 public:
  explicit TimedHooks(zarvik::IUiHooks& inner) : inner_(inner) {}
  void ProcessEvents() override {
    const auto t0 = Clock::now();
    inner_.ProcessEvents();
    const double s = Seconds(Clock::now() - t0).count();
    ++calls;
    total += s;
    longest = std::max(longest, s);
  }
  bool IsTerminating() override { return inner_.IsTerminating(); }
  void ShowMessageBox(zarvik::BoxKind kind, const std::string& caption, const std::string& text) override {
    inner_.ShowMessageBox(kind, caption, text);
  }
  zarvik::QueryButton AskQuestion(zarvik::QueryKind kind, const std::string& text,
                                  zarvik::QueryButton def) override {
    return inner_.AskQuestion(kind, text, def);
  }
  void ShowWait(std::chrono::milliseconds timeout, const std::string& text) override {
    inner_.ShowWait(timeout, text);
  }
  void HideWait() override { inner_.HideWait(); }

  int calls = 0;
  double total = 0.0;    // seconds
  double longest = 0.0;  // seconds

 private:
  zarvik::IUiHooks& inner_;
};

// The read: the window connected to the paced register, then one press of
// "Считать все из ККМ", timed to the end of its outcome message.
bool ReadJournal(const Options& o) {
  zarvik::bench::PacedRegister reg("bench_journal_page", kBenchPort);
  if (!reg.Start(ScenarioText(o), o.baud)) return false;
  const std::size_t records = reg.Loaded().state.journal.size();
  zarvik::sim::Simulator& sim = reg.Sim();
  if (!zarvik::bench::WriteWindowPortIni(kBenchPort, o.baud)) return false;

  char arg0[] = "ZarvikConfig";
  char* argv[] = {arg0};
  zarvik::ui::TfmMain w(1, argv);
  int boxes = 0;
  w.Hooks().boxHandler = [&boxes](zarvik::BoxKind, const std::string& text) {
    ++boxes;
    std::fprintf(stderr, "box: %s\n", text.c_str());
  };
  zarvik::SetConsole(nullptr);
  StderrConsole console;
  zarvik::SetConsole(&console);
  w.show();
  QApplication::processEvents();
  if (!w.ToggleConnection()) {
    std::fprintf(stderr, "bench_journal_page: the window does not connect\n");
    return false;
  }
  w.SelectPage(zarvik::ui::pgMagazine);
  QApplication::processEvents();

  // The waits the exchange asks for, counted and taken for real.
  milliseconds waits{0};
  w.Protocol().sleep = [&waits](milliseconds d) {
    waits += d;
    std::this_thread::sleep_for(d);
  };
  // The event loop's turns, seen by a timer.
  std::vector<Clock::time_point> ticks;
  ticks.reserve(1 << 16);
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [&ticks] { ticks.push_back(Clock::now()); });
  tick.start(kTickMs);

  TimedHooks hooks(w.Hooks());
  zarvik::SetUiHooks(&hooks);
  const auto before = sim.LineByteCounts();
  const double cpuBefore = ThreadCpuSeconds();
  const auto start = Clock::now();
  w.Action("aLoadMagazin")->trigger();
  const auto end = Clock::now();
  const double cpu = ThreadCpuSeconds() - cpuBefore;
  tick.stop();
  zarvik::SetUiHooks(&w.Hooks());
  const auto after = sim.LineByteCounts();

  std::vector<double> gaps;
  Clock::time_point last = start;
  for (const Clock::time_point t : ticks) {
    gaps.push_back(Seconds(t - last).count() * 1000.0);
    last = t;
  }
  gaps.push_back(Seconds(end - last).count() * 1000.0);

  const zarvik::ui::TJournalPage& page = w.JournalPage();
  const std::uint64_t bytes = (after.fromPc - before.fromPc) + (after.toPc - before.toPc);
  const double line = static_cast<double>(bytes * kBitsPerByte) / o.baud;
  const double floor = line + Seconds(waits).count();
  const double measured = Seconds(end - start).count();
  const bool complete = static_cast<std::size_t>(page.MemoMagazineSource->LineCount()) == records;

  std::printf("journal read in the window, %d baud, %d receipts\n\n", o.baud, o.receipts);
  std::printf(
      "| records | text lines | bytes PC→register | bytes register→PC | line, s | prescribed waits, s "
      "| floor, s | measured, s | ratio | GUI thread CPU, s |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  std::printf("| %d%s | %d | %llu | %llu | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f |\n\n",
              page.MemoMagazineSource->LineCount(), complete ? "" : " (INCOMPLETE)",
              page.MemoMagazine->LineCount(), static_cast<unsigned long long>(after.fromPc - before.fromPc),
              static_cast<unsigned long long>(after.toPc - before.toPc), line, Seconds(waits).count(), floor,
              measured, measured / floor, cpu);
  std::printf(
      "event loop, %d ms timer: %zu turns seen (%.0f expected), gap between turns: longest %.1f ms, "
      "99th percentile %.1f ms, median %.1f ms\n",
      kTickMs, ticks.size(), measured * 1000.0 / kTickMs, *std::max_element(gaps.begin(), gaps.end()),
      Percentile(gaps, 0.99), Percentile(gaps, 0.5));
  std::printf("events processed by the exchange and the page: %d times, %.3f s in all, longest %.1f ms\n",
              hooks.calls, hooks.total, hooks.longest * 1000.0);
  if (boxes > 0) std::printf("%d message boxes\n", boxes);
  std::fflush(stdout);
  w.Protocol().sleep = nullptr;
  zarvik::SetConsole(nullptr);
  reg.Stop();
  return complete && boxes == 0;
}

// Appending batches of journal lines to a shown view as it fills: the time
// of each batch (append and repaint) at several fillings.
void ViewScaling() {
  zarvik::ui::TJournalView view;
  view.resize(kViewWidth, kViewHeight);
  view.show();
  QApplication::processEvents();
  std::vector<std::string> batch;
  const std::string rule(69, '*');
  for (int i = 0; i < kBatchLines; ++i) {
    batch.push_back(i % 10 == 0 ? rule
                                : "2 СК           12.50 // 1.пр. по коду:17   1x12.50         налог.гр.1 " +
                                      std::to_string(i));
  }
  std::vector<double> ms;
  ms.reserve(kBatches);
  for (int b = 0; b < kBatches; ++b) {
    const auto t0 = Clock::now();
    view.Queue(batch);
    view.Flush();
    view.repaint();
    ms.push_back(Seconds(Clock::now() - t0).count() * 1000.0);
  }
  std::printf("\nview appends: %d batches of %d lines, each appended and repainted; %d lines in the end\n\n",
              kBatches, kBatchLines, view.LineCount());
  std::printf(
      "| lines in the view before | mean, ms | median, ms | 99th percentile, ms |\n|---|---:|---:|---:|\n");
  constexpr int kSlices = 5;
  const int perSlice = kBatches / kSlices;
  for (int k = 0; k < kSlices; ++k) {
    const std::vector<double> part(ms.begin() + k * perSlice, ms.begin() + (k + 1) * perSlice);
    double sum = 0;
    for (double x : part) sum += x;
    std::printf("| %d .. %d | %.3f | %.3f | %.3f |\n", k * perSlice * kBatchLines,
                ((k + 1) * perSlice - 1) * kBatchLines, sum / static_cast<double>(part.size()),
                Percentile(part, 0.5), Percentile(part, 0.99));
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return 2;
  zarvik::bench::OffscreenUnlessAsked();
  QApplication app(argc, argv);
  QTemporaryDir dir;
  if (!zarvik::bench::EnterScratchFolder("bench_journal_page", options.dataDir, dir)) return 1;
  if (!TuneTimedThread("bench_journal_page", options.realtime)) return 1;
  const bool ok = !options.read || ReadJournal(options);
  if (options.views) ViewScaling();
  return ok ? 0 : 1;
}
