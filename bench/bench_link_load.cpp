// The register link on a busy machine: streamed reads (all goods, the
// journal) by the PC side (TComPort + TProtocolKKM) against the register
// simulator on a pseudo-terminal paced at a real line speed, while threads
// at normal priority keep the cores busy. Every read must complete with
// every record; the figures are the runs, the failures and the load.
//
//   bench_link_load [--baud 19200,115200] [--runs 3,14] [--goods N] [--receipts N]
//                   [--busy N] [--data DIR] [--trace]
//
// Defaults: 3 runs at 19200 and 14 at 115200 baud, each run reading all
// 3000 goods and then the journal of 300 receipts; twice as many busy
// threads as the machine has cores. --runs gives one count per speed.
// --trace keeps the link trace and shows its last lines after a failed read.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/prctl.h>

#include "BenchSupport.h"
#include "Scenario.h"
#include "Simulator.h"
#include "port/Comport.h"
#include "port/PortDevices.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"

namespace {

using zarvik::bench::IntList;
using zarvik::bench::ShopScenario;
using zarvik::bench::StderrConsole;
using Clock = std::chrono::steady_clock;

constexpr int kBenchPort = 251;
constexpr std::size_t kStreamRecordOffset = 3;  // frame: 01 10 00 + record
constexpr int kJournalEnd = 9;                  // status of the journal's last frame

struct Options {
  std::vector<int> bauds{19200, 115200};
  std::vector<int> runs{3, 14};
  int goods = 3000;
  int receipts = 300;
  unsigned busy = 2 * std::max(1U, std::thread::hardware_concurrency());
  bool trace = false;
  std::string dataDir = zarvik::bench::SourcePath("data");
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--baud" && hasValue) {
      o.bauds = IntList(argv[++i]);
    } else if (arg == "--runs" && hasValue) {
      o.runs = IntList(argv[++i]);
    } else if (arg == "--goods" && hasValue) {
      o.goods = std::atoi(argv[++i]);
    } else if (arg == "--receipts" && hasValue) {
      o.receipts = std::atoi(argv[++i]);
    } else if (arg == "--busy" && hasValue) {
      o.busy = static_cast<unsigned>(std::max(0, std::atoi(argv[++i])));
    } else if (arg == "--data" && hasValue) {
      o.dataDir = argv[++i];
    } else if (arg == "--trace") {
      o.trace = true;
    } else {
      std::fprintf(stderr,
                   "usage: bench_link_load [--baud 19200,115200] [--runs 3,14] [--goods N] [--receipts N] "
                   "[--busy N] [--data DIR] [--trace]\n");
      return false;
    }
  }
  if (o.runs.size() != o.bauds.size()) {
    std::fprintf(stderr, "bench_link_load: --runs needs one count per speed\n");
    return false;
  }
  if (!zarvik::bench::PortSpeeds("bench_link_load", o.bauds)) return false;
  if (o.goods < 1 || o.goods > 4000 || o.receipts < 1) {
    std::fprintf(stderr, "bench_link_load: --goods 1..4000, --receipts 1 or more\n");
    return false;
  }
  return true;
}

std::string ScenarioText(const Options& o) {
  return ShopScenario(o.goods, o.receipts);
}

// Busy threads at normal priority until destroyed.
class CpuLoad {
 public:
  explicit CpuLoad(unsigned threads) {
    for (unsigned i = 0; i < threads; ++i) {
      threads_.emplace_back([this] {
        volatile std::uint64_t x = 0;
        while (!stop_.load(std::memory_order_relaxed)) x = x + 1;
      });
    }
  }
  ~CpuLoad() {
    stop_ = true;
    for (auto& t : threads_) t.join();
  }
  CpuLoad(const CpuLoad&) = delete;
  CpuLoad& operator=(const CpuLoad&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

double LoadAverage() {
  double load[1] = {0};
  return ::getloadavg(load, 1) == 1 ? load[0] : -1;
}

struct Outcome {
  bool ok = false;
  int records = 0;
  double seconds = 0;
};

class Bench {
 public:
  Bench(const Options& o, int baud) : options_(o), baud_(baud) {}
  ~Bench() { port_.Close(); }
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  bool SetUp() {
    if (!register_.StartWithPort(ScenarioText(options_), baud_, port_)) return false;
    journalRecords_ = static_cast<int>(register_.Loaded().state.journal.size());
    return true;
  }

  Outcome Goods() {
    Outcome o;
    const auto start = Clock::now();
    const bool ok = protocol_.ReadAllGoods([&o](zarvik::TMessageBuffer& answer, bool&) {
      if (answer.count == static_cast<std::int32_t>(kStreamRecordOffset + zarvik::kGoodsRecordSize) &&
          answer.bytes[2] == 0)
        ++o.records;
    });
    o.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    o.ok = ok && o.records == options_.goods;
    return o;
  }

  Outcome Journal() {
    Outcome o;
    int frames = 0;
    bool ended = false;
    const auto start = Clock::now();
    const bool ok = protocol_.ReadJournal([&](zarvik::TMessageBuffer& answer, bool& more) {
      ++frames;
      if (answer.count >= 3 && answer.bytes[2] == kJournalEnd) {
        ended = true;
        more = false;
      }
    });
    o.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    o.records = frames;
    o.ok = ok && ended;
    return o;
  }

  int JournalRecords() const { return journalRecords_; }
  // What the simulator saw, for a failed read.
  void ShowLinkStats() {
    zarvik::sim::Simulator& sim = register_.Sim();
    const zarvik::sim::LinkStats st = sim.Stats();
    std::fprintf(stderr,
                 "  register: bad frames %d, resyncs %d, echoes %d, uninvited %d, answers given up %d, "
                 "stalls of its thread %d (longest %lld ms); PC link state %d\n",
                 st.badFrames, st.resyncs, st.echoes, st.uninvited, st.abandoned, sim.Stalls(),
                 static_cast<long long>(sim.LongestStall().count()), kkm_.linkState);
  }

 private:
  const Options& options_;
  int baud_;
  int journalRecords_ = 0;
  zarvik::bench::PacedRegister register_{"bench_link_load", kBenchPort};
  zarvik::TComPort port_;
  zarvik::TKKM kkm_{&port_};
  zarvik::TProtocolKKM protocol_{&kkm_};
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return 2;
  zarvik::SetProgramPath((std::filesystem::path(options.dataDir) / "bench_link_load").string());
  zarvik::MessDepth = options.trace ? zarvik::mdFunctional : zarvik::mdUser;
  StderrConsole console(options.trace);
  zarvik::SetConsole(&console);

  const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
  std::printf("%u cores, %u busy threads at normal priority; %d goods, %d receipts per run\n\n", cores,
              options.busy, options.goods, options.receipts);
  std::printf("| baud | run | goods read | goods s | journal frames | journal s | load average |\n");
  std::printf("|---:|---:|---|---:|---|---:|---:|\n");
  std::fflush(stdout);
  int runs = 0;
  int failures = 0;
  const auto start = Clock::now();
  const CpuLoad load(options.busy);
  for (std::size_t k = 0; k < options.bauds.size(); ++k) {
    Bench bench(options, options.bauds[k]);
    if (!bench.SetUp()) return 1;
    for (int run = 1; run <= options.runs[k]; ++run) {
      const Outcome g = bench.Goods();
      if (!g.ok) {
        bench.ShowLinkStats();
        console.ShowKept();
      }
      const Outcome j = bench.Journal();
      runs += 2;
      failures += (g.ok ? 0 : 1) + (j.ok ? 0 : 1);
      std::printf("| %d | %d | %d%s | %.1f | %d%s | %.1f | %.2f |\n", options.bauds[k], run, g.records,
                  g.ok ? "" : " FAILED", g.seconds, j.records, j.ok ? "" : " FAILED", j.seconds,
                  LoadAverage());
      std::fflush(stdout);
      if (!j.ok) {
        bench.ShowLinkStats();
        console.ShowKept();
      }
    }
  }
  std::printf("\n%d streamed reads, %d failed, %.0f s, load average at the end %.2f\n", runs, failures,
              std::chrono::duration<double>(Clock::now() - start).count(), LoadAverage());
  return failures == 0 ? 0 : 1;
}
