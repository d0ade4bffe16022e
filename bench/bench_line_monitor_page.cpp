// Figures of the line monitor: what it costs a long transfer and how it keeps
// up with one. The window reads all goods from the register simulator paced
// at a real line speed three times: with the monitor closed, open (protocol
// traces), and open with "Байты" (every byte on the line traced). For each:
// the time of the read, the GUI thread's CPU time, the longest gap between
// two turns of the event loop, the traces the monitor took and the rows it
// shows. Then the traces of the last read are fed again into a monitor in
// batches as its timer takes them, timed per batch as the view fills up to
// its row limit; and the cost of one trace for the code that reports it.
//
//   bench_line_monitor_page [--baud N] [--goods N] [--modes closed,open,bytes] [--data DIR]
//                           [--realtime]
//
// Each read also has its floor, as bench_link counts it: every byte on the
// line both ways at 10 bits per byte plus the waits the exchange asks for
// (through the protocol's sleep hook); ratio = measured / floor. --modes
// chooses the reads (the replay needs a monitor that was open).
//
// Defaults: 115200 baud, 4000 goods. The window runs offscreen unless
// QT_QPA_PLATFORM says otherwise. --data is the folder holding ECR_CFG; by
// default the source tree's data/. --realtime: SCHED_FIFO for the process.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include "BenchSupport.h"
#include "BenchWindowSupport.h"
#include "LineMonitor.h"
#include "MainWindow.h"
#include "Scenario.h"
#include "Simulator.h"
#include "UiHooksQt.h"
#include "port/PortDevices.h"
#include "port/SerialSpeed.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"
#include "store/UnitBD.h"

namespace {

using zarvik::bench::kBitsPerByte;
using zarvik::bench::Percentile;
using zarvik::bench::SplitList;
using zarvik::bench::ShopScenario;
using zarvik::bench::ThreadCpuSeconds;
using zarvik::bench::TuneTimedThread;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr int kBenchPort = 252;
constexpr int kTickMs = 10;
// The replay: batches of this many traces (what 100 ms of a byte-traced
// read at 115200 baud brings).
constexpr std::size_t kReplayBatch = 1500;
constexpr int kViewWidth = 1180;
constexpr int kViewHeight = 300;
constexpr int kTraceCalls = 1000000;

struct Options {
  int baud = 115200;
  int goods = 4000;
  bool realtime = false;
  std::vector<std::string> modes{"closed", "open", "bytes"};
  std::string dataDir = zarvik::bench::SourcePath("data");
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--baud" && hasValue) {
      o.baud = std::atoi(argv[++i]);
    } else if (arg == "--goods" && hasValue) {
      o.goods = std::atoi(argv[++i]);
    } else if (arg == "--data" && hasValue) {
      o.dataDir = argv[++i];
    } else if (arg == "--modes" && hasValue) {
      o.modes = SplitList(argv[++i]);
    } else if (arg == "--realtime") {
      o.realtime = true;
    } else {
      std::fprintf(stderr,
                   "usage: bench_line_monitor_page [--baud N] [--goods N] [--modes closed,open,bytes] "
                   "[--data DIR] [--realtime]\n");
      return false;
    }
  }
  if (!zarvik::IsAllowedBaudRate(static_cast<std::uint32_t>(o.baud)) || o.goods < 1 || o.goods > 9999) {
    std::fprintf(stderr, "bench_line_monitor_page: --baud a port speed, --goods 1..9999\n");
    return false;
  }
  return true;
}

std::string ScenarioText(const Options& o) {
  return ShopScenario(o.goods, 0);
}

enum class Mode { Closed, Open, Bytes };
const char* ModeName(Mode m) {
  switch (m) {
    case Mode::Closed: return "closed";
    case Mode::Open: return "open";
    case Mode::Bytes: return "open, bytes";
  }
  return "";
}

struct Result {
  double measured = 0;
  double floor = 0;  // line time of every byte both ways plus the prescribed waits
  double cpu = 0;
  double longestGap = 0;  // ms
  double gap99 = 0;       // ms
  std::size_t traces = 0;
  int rows = 0;
  long long dropped = 0;
  int goods = 0;
  int boxes = 0;
};

// One read of all goods in the window, the monitor as `mode` says. The
// traces the monitor took are kept in `recorded` (for the replay).
bool ReadGoods(const Options& o, Mode mode, Result& r, std::vector<zarvik::ui::TLineTrace>& recorded) {
  zarvik::bench::PacedRegister reg("bench_line_monitor_page", kBenchPort);
  if (!reg.Start(ScenarioText(o), o.baud)) return false;
  zarvik::sim::Simulator& sim = reg.Sim();
  if (!zarvik::bench::WriteWindowPortIni(kBenchPort, o.baud)) return false;
  bool ok = false;
  {
    char arg0[] = "ZarvikConfig";
    char* argv[] = {arg0};
    zarvik::ui::TfmMain w(1, argv);
    w.Hooks().boxHandler = [&r](zarvik::BoxKind, const std::string& text) {
      ++r.boxes;
      std::fprintf(stderr, "box: %s\n", text.c_str());
    };
    w.resize(kViewWidth, 1000);
    w.show();
    zarvik::ui::TLineMonitor& monitor = w.LineMonitor();
    if (mode != Mode::Closed) {
      monitor.show();
      monitor.cbMonBytes->setChecked(mode == Mode::Bytes);
    }
    QApplication::processEvents();
    if (!w.ToggleConnection()) {
      std::fprintf(stderr, "bench_line_monitor_page: the window does not connect\n");
      return false;
    }
    w.SelectPage(zarvik::ui::pgGoods);
    QApplication::processEvents();
    monitor.Flush();
    const int rowsBefore = monitor.Model().rowCount();
    // Every trace the monitor takes, counted and kept for the replay.
    recorded.clear();
    const int counter = mode == Mode::Closed
                            ? 0
                            : zarvik::AddTraceListener(
                                  [&recorded](const zarvik::TTraceEvent& e) {
                                    recorded.push_back({e.depth, e.kind, std::string(e.text), 0});
                                  },
                                  mode == Mode::Bytes ? zarvik::mdHardWare : zarvik::mdFunctional);

    // The waits the exchange asks for, counted and taken for real.
    std::chrono::milliseconds waits{0};
    w.Protocol().sleep = [&waits](std::chrono::milliseconds d) {
      waits += d;
      std::this_thread::sleep_for(d);
    };
    const auto lineBefore = sim.LineByteCounts();
    std::vector<Clock::time_point> ticks;
    ticks.reserve(1 << 16);
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&ticks] { ticks.push_back(Clock::now()); });
    tick.start(kTickMs);
    const double cpuBefore = ThreadCpuSeconds();
    const auto start = Clock::now();
    w.Action("tovarLoadAll")->trigger();
    while (w.Transfer().transferProgress != 0 || w.RegisterBusy()) QApplication::processEvents();
    const auto end = Clock::now();
    r.cpu = ThreadCpuSeconds() - cpuBefore;
    const auto lineAfter = sim.LineByteCounts();
    w.Protocol().sleep = nullptr;
    const std::uint64_t bytes =
        (lineAfter.fromPc - lineBefore.fromPc) + (lineAfter.toPc - lineBefore.toPc);
    r.floor = static_cast<double>(bytes * kBitsPerByte) / o.baud + Seconds(waits).count();
    tick.stop();
    if (counter != 0) zarvik::RemoveTraceListener(counter);
    monitor.Flush();

    std::vector<double> gaps;
    Clock::time_point last = start;
    for (const Clock::time_point t : ticks) {
      gaps.push_back(Seconds(t - last).count() * 1000.0);
      last = t;
    }
    gaps.push_back(Seconds(end - last).count() * 1000.0);
    r.measured = Seconds(end - start).count();
    r.longestGap = *std::max_element(gaps.begin(), gaps.end());
    r.gap99 = Percentile(gaps, 0.99);
    r.traces = recorded.size();
    r.rows = monitor.Model().rowCount() - rowsBefore;
    r.dropped = monitor.Model().DroppedRows();
    r.goods = w.Bd().mtTOBAP.RecordCount();
    ok = r.goods == o.goods && r.boxes == 0;
  }
  reg.Stop();
  return ok;
}

// The recorded traces fed into a shown monitor in batches, each batch added
// and the view repainted, as the monitor's timer does; timed per batch.
void Replay(const std::vector<zarvik::ui::TLineTrace>& traces) {
  if (traces.empty()) return;
  zarvik::ui::TLineMonitorModel model;
  zarvik::ui::TLineMonitorFilter filter(model);
  filter.SetCategory(zarvik::ui::TLineCategory::Bytes, true);
  QTableView view;
  view.setModel(&filter);
  view.resize(kViewWidth, kViewHeight);
  view.show();
  QApplication::processEvents();
  std::vector<double> ms;
  std::vector<int> rowsBefore;
  std::vector<bool> dropping;
  // Three times over, so that the view reaches its row limit.
  constexpr int kRounds = 3;
  std::vector<zarvik::ui::TLineTrace> batch;
  std::int64_t us = 0;
  for (int round = 0; round < kRounds; ++round) {
    for (std::size_t i = 0; i < traces.size(); i += kReplayBatch) {
      batch.assign(traces.begin() + static_cast<std::ptrdiff_t>(i),
                   traces.begin() + static_cast<std::ptrdiff_t>(std::min(traces.size(), i + kReplayBatch)));
      for (zarvik::ui::TLineTrace& t : batch) t.timeUs = us += 50;
      rowsBefore.push_back(model.rowCount());
      const long long droppedBefore = model.DroppedRows();
      const auto t0 = Clock::now();
      model.Append(batch);
      view.scrollToBottom();
      view.repaint();
      ms.push_back(Seconds(Clock::now() - t0).count() * 1000.0);
      dropping.push_back(model.DroppedRows() != droppedBefore);
    }
  }
  std::printf(
      "\nreplay: %zu traces %d times in batches of %zu, each added and the view repainted; row limit %d, "
      "%d rows in the end, %lld dropped\n\n",
      traces.size(), kRounds, kReplayBatch, model.MaxRows(), model.rowCount(),
      static_cast<long long>(model.DroppedRows()));
  std::printf("| rows before | batches | mean, ms | median, ms | longest, ms |\n|---|---:|---:|---:|---:|\n");
  const int quarter = model.MaxRows() / 4;
  const auto band = [&](const char* label, const std::function<bool(std::size_t)>& in) {
    std::vector<double> part;
    for (std::size_t i = 0; i < ms.size(); ++i)
      if (in(i)) part.push_back(ms[i]);
    if (part.empty()) return;
    double sum = 0;
    for (double x : part) sum += x;
    std::printf("| %s | %zu | %.2f | %.2f | %.2f |\n", label, part.size(),
                sum / static_cast<double>(part.size()), Percentile(part, 0.5),
                *std::max_element(part.begin(), part.end()));
  };
  for (int q = 0; q < 4; ++q) {
    const std::string label = std::to_string(q * quarter) + " .. " + std::to_string((q + 1) * quarter - 1);
    band(label.c_str(), [&](std::size_t i) {
      return !dropping[i] && rowsBefore[i] >= q * quarter && rowsBefore[i] < (q + 1) * quarter;
    });
  }
  band("at the limit, the oldest tenth dropped", [&](std::size_t i) { return dropping[i]; });
}

// The cost of one protocol trace for the code that makes it: nobody listens
// (the trace depth of the run is mdUser), or the monitor's queue does.
void TraceCost() {
  zarvik::ui::TLineMonitorModel sink;
  std::vector<zarvik::ui::TLineTrace> queue;
  queue.reserve(kTraceCalls);
  const auto time = [](const char* label) {
    const auto t0 = Clock::now();
    for (int i = 0; i < kTraceCalls; ++i) zarvik::MT(">RDY  ПК->ККМ синх.   ККМ=1", zarvik::mdFunctional);
    const double ns = Seconds(Clock::now() - t0).count() * 1e9 / kTraceCalls;
    std::printf("| %s | %.0f |\n", label, ns);
  };
  std::printf("\none protocol trace (MT at mdFunctional, run depth mdUser), %d calls\n\n", kTraceCalls);
  std::printf("| listener | ns per trace |\n|---|---:|\n");
  time("none");
  const int id = zarvik::AddTraceListener(
      [&queue](const zarvik::TTraceEvent& e) {
        queue.push_back(
            {e.depth, e.kind, std::string(e.text),
             std::chrono::duration_cast<std::chrono::microseconds>(e.time.time_since_epoch()).count()});
      },
      zarvik::mdFunctional);
  time("a queue as the monitor's");
  zarvik::RemoveTraceListener(id);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return 2;
  zarvik::bench::OffscreenUnlessAsked();
  QApplication app(argc, argv);
  QTemporaryDir dir;
  if (!zarvik::bench::EnterScratchFolder("bench_line_monitor_page", options.dataDir, dir)) return 1;
  if (!TuneTimedThread("bench_line_monitor_page", options.realtime)) return 1;
  std::printf("goods read in the window, %d baud, %d goods\n\n", options.baud, options.goods);
  std::printf(
      "| monitor | floor, s | measured, s | ratio | vs closed | GUI thread CPU, s | longest event-loop gap, ms | 99th "
      "percentile, ms "
      "| traces taken | rows added | rows dropped |\n|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  bool ok = true;
  double closed = 0;
  std::vector<zarvik::ui::TLineTrace> recorded;
  for (const Mode mode : {Mode::Closed, Mode::Open, Mode::Bytes}) {
    const char* key = mode == Mode::Closed ? "closed" : mode == Mode::Open ? "open" : "bytes";
    if (std::find(options.modes.begin(), options.modes.end(), key) == options.modes.end()) continue;
    Result r;
    if (!ReadGoods(options, mode, r, recorded)) {
      std::fprintf(stderr, "bench_line_monitor_page: the read (%s) failed: %d goods\n", ModeName(mode),
                   r.goods);
      ok = false;
    }
    if (mode == Mode::Closed) closed = r.measured;
    std::printf("| %s | %.3f | %.3f | %.3f | %.3f | %.3f | %.1f | %.1f | %zu | %d | %lld |\n", ModeName(mode),
                r.floor, r.measured, r.floor > 0 ? r.measured / r.floor : 0.0,
                closed > 0 ? r.measured / closed : 0.0, r.cpu, r.longestGap, r.gap99, r.traces, r.rows,
                r.dropped);
    std::fflush(stdout);
  }
  Replay(recorded);
  TraceCost();
  return ok ? 0 : 1;
}
