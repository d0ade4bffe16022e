// Part of bench_soak, which alone includes it (each part includes the one
// before it: Options, Judgement, Faults, Process, Operations, Report): the
// simulated shop, the limits of the run, its options and the console that
// keeps the program's messages.
#pragma once

// machine's timing still varies). --quick is a run of about a minute.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../BenchSupport.h"
#include "Scenario.h"
#include "Simulator.h"
#include "journal/U_magazineoperation.h"
#include "model/Typessimpledata.h"
#include "model/U_kkms.h"
#include "port/Comport.h"
#include "port/PortDevices.h"
#include "protocol/TransferResume.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"
#include "shell/TextCodec.h"
#include "shell/U_language.h"
#include "store/GoodsExchange.h"
#include "store/UnitBD.h"

#ifndef ZARVIK_CTL_EXE
#define ZARVIK_CTL_EXE ""
#endif

namespace {

namespace sim = zarvik::sim;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;
using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;
using zarvik::bench::ShopScenario;
using zarvik::bench::SplitList;

// The simulated shop.
constexpr int kSoakPort = 251;
constexpr int kDepartments = 16;  // the model descriptor "B 003" says so
constexpr int kOperators = 8;
constexpr int kOptions = 64;
constexpr int kLines = 6;
constexpr int kGoodsCapacity = 4000;
constexpr int kTaxGroups = 5;
constexpr int kHighestFont = 8;
constexpr std::uint8_t kDepGoods = 0xA1;
constexpr std::uint8_t kDepService = 0xA2;
constexpr std::uint8_t kDepClosed = 0xA3;
constexpr std::uint8_t kTaxLetterBase = 0x40;
constexpr int kTypeGoods = 170;
constexpr int kTypeService = 165;
constexpr int kTypeContainer = 160;
constexpr std::uint8_t kFlagByPiece = 0x01;
constexpr std::uint8_t kFlagBlocked = 0x02;
// Text widths as zarvikctl takes them.
constexpr std::size_t kDepartmentNameWidth = 22;
constexpr std::size_t kOperatorNameWidth = 20;
constexpr std::size_t kPositionWidth = 18;
constexpr std::size_t kLineWidth = 32;
constexpr std::size_t kGoodsNameWidth = 32;
// zarvikctl exit statuses.
constexpr int kCtlOk = 0;
constexpr int kCtlFailed = 1;
constexpr int kCtlUsage = 2;
// A zarvikctl process gets this much beyond four times its expected time.
constexpr Seconds kCtlGrace{60.0};
// The expected time of an operation is its time on a clean line (or what
// the same kind took so far at this rate); a line that is repaired as it
// goes takes longer: half as long again for every percent of the fault rate
// before a process that still runs counts as hung.
constexpr double kRepairAllowancePerPercent = 0.5;
constexpr milliseconds kChildPoll{5};
// Waits of the event thread.
constexpr Seconds kShortFreezeMin{0.2};
constexpr Seconds kShortFreezeMax{2.5};
constexpr Seconds kLongFreezeMin{3.2};
constexpr Seconds kLongFreezeMax{6.0};
// Trace lines kept for the report of a wrong result.
constexpr std::size_t kTraceKept = 400;


// ---------------------------------------------------------------------------
// Options

struct Options {
  std::vector<double> rates{0, 1, 5, 20};
  double minutes = 4.0;  // per rate
  int rounds = 0;        // per rate; 0: as many as the time allows
  int batch = 300;       // goods written per round
  int receipts = 1000;
  double events = 2.0;  // freezes, bursts and kills: rate x events % of the operations
  std::string mode = "both";
  // Instead of the mix of a rate: these faults, written as zarvik-sim --fault takes them (R for the rate).
  std::vector<std::string> faults;
  // Operations of a round (all by default).
  std::set<std::string> ops{"settings-write", "settings-read", "goods-write", "goods-read", "journal"};
  int baud = 0;  // 0: unpaced
  std::uint64_t seed = 0;
  bool seedGiven = false;
  std::string ctl = ZARVIK_CTL_EXE;
  std::string work;
  bool keep = false;
  bool verbose = false;
  bool trace = false;
};

bool ParseDouble(const std::string& text, double& out) {
  char* end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0';
}

bool ParseInt(const std::string& text, long long lo, long long hi, long long& out) {
  char* end = nullptr;
  out = std::strtoll(text.c_str(), &end, 10);
  return end != text.c_str() && *end == '\0' && out >= lo && out <= hi;
}

int Usage() {
  std::fprintf(stderr,
               "usage: bench_soak [--seed N] [--rates 0,1,5,20] [--minutes M] [--rounds N] [--quick]\n"
               "                  [--batch N] [--receipts N] [--events X] [--mode both|inproc|ctl]\n"
               "                  [--faults FAULT,...] [--ops "
               "settings-write,settings-read,goods-write,goods-read,journal]\n"
               "                  [--baud N] [--ctl PATH] [--work DIR] [--keep] [--verbose] [--trace]\n");
  return 2;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  // --quick first, so that the other options may change what it sets.
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--quick") {
      o.rates = {0, 5, 20};
      o.minutes = 0.3;
      o.batch = 40;
      o.receipts = 200;
      o.events = 3.0;
    }
  }
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    long long n = 0;
    if (a == "--quick") continue;
    if (a == "--seed" && hasValue) {
      char* end = nullptr;
      const char* text = argv[++i];
      o.seed = std::strtoull(text, &end, 10);
      if (end == text || *end != '\0') return false;
      o.seedGiven = true;
    } else if (a == "--rates" && hasValue) {
      o.rates.clear();
      for (const std::string& r : SplitList(argv[++i])) {
        double v = 0;
        if (!ParseDouble(r, v) || v < 0 || v > 100) return false;
        o.rates.push_back(v);
      }
      if (o.rates.empty()) return false;
    } else if (a == "--minutes" && hasValue) {
      if (!ParseDouble(argv[++i], o.minutes) || o.minutes <= 0) return false;
    } else if (a == "--rounds" && hasValue) {
      if (!ParseInt(argv[++i], 0, 1000000, n)) return false;
      o.rounds = static_cast<int>(n);
    } else if (a == "--batch" && hasValue) {
      if (!ParseInt(argv[++i], 1, kGoodsCapacity, n)) return false;
      o.batch = static_cast<int>(n);
    } else if (a == "--receipts" && hasValue) {
      if (!ParseInt(argv[++i], 0, 100000, n)) return false;
      o.receipts = static_cast<int>(n);
    } else if (a == "--events" && hasValue) {
      if (!ParseDouble(argv[++i], o.events) || o.events < 0) return false;
    } else if (a == "--mode" && hasValue) {
      o.mode = argv[++i];
      if (o.mode != "both" && o.mode != "inproc" && o.mode != "ctl") return false;
    } else if (a == "--faults" && hasValue) {
      o.faults = SplitList(argv[++i]);
    } else if (a == "--ops" && hasValue) {
      o.ops.clear();
      for (const std::string& op : SplitList(argv[++i])) o.ops.insert(op);
    } else if (a == "--baud" && hasValue) {
      if (!ParseInt(argv[++i], 0, 4000000, n)) return false;
      o.baud = static_cast<int>(n);
    } else if (a == "--ctl" && hasValue) {
      o.ctl = argv[++i];
    } else if (a == "--work" && hasValue) {
      o.work = argv[++i];
    } else if (a == "--keep") {
      o.keep = true;
    } else if (a == "--verbose") {
      o.verbose = true;
    } else if (a == "--trace") {
      o.trace = true;
    } else {
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Messages of the program: kept, not shown (a failure under faults is
// expected); the last lines go into the report of a wrong result.

class KeptConsole final : public zarvik::IConsole {
 public:
  void Reset(zarvik::TColor) override {}
  int LineCount() const override { return 0; }
  void DeleteFirstLine() override {}
  void AppendLine(const zarvik::ConsoleLine& line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line.text);
    if (lines_.size() > kTraceKept) lines_.erase(lines_.begin());
  }
  void ScrollToEnd() override {}
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

KeptConsole gConsole;

}  // namespace
