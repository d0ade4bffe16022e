// Figures of the register link: the PC side (TComPort + TProtocolKKM) against
// the register simulator on a pseudo-terminal paced at a real line speed.
//
// For each task it prints the time measured and the floor: every byte on the
// line in both directions at 10 bits per byte, plus the waits the protocol
// itself prescribes (counted as the exchange asks for them). The ratio shows
// what the program and the simulator add on top of the line.
//
//   bench_link [--baud 19200,115200]
//              [--rows info,settings,goods-read,goods-write,goods-update,journal]
//              [--goods N] [--changed N] [--receipts N] [--data DIR] [--realtime] [--trace]
//
// goods-update is a price change as a goods write makes it: the checks'
// reads (departments, taxes), the register's goods read as one stream for
// the comparison, then only the --changed records written (N of the goods).
// Its floor is those reads plus the N record writes.
//
// Under each row, what the line cost: the link's repairs (repeats asked,
// frames resent, resynchronisations, commands repeated) and the
// simulator's late hand-overs (its serving thread standing still).
//
// Defaults: both speeds, all rows but goods-update, 4000 goods, 20 changed, 2000 receipts. --data is the
// folder holding ECR_CFG (the model descriptor of the simulated register);
// by default the source tree's data/. --realtime runs the PC side and the
// simulator's serving thread (it inherits the policy) at a real-time
// priority, so that other work on a busy machine does not delay their
// wake-ups; both sleep almost all the time.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sched.h>
#include <sys/prctl.h>

#include "BenchSupport.h"
#include "Scenario.h"
#include "Simulator.h"
#include "port/Comport.h"
#include "port/PortDevices.h"
#include "protocol/LineCounts.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"
#include "store/GoodsExchange.h"
#include "store/GoodsPlan.h"
#include "store/UnitBD.h"

namespace {

using zarvik::bench::CountingLine;
using zarvik::bench::IntList;
using zarvik::bench::kBitsPerByte;
using zarvik::bench::ShopScenario;
using zarvik::bench::SplitList;
using zarvik::bench::StderrConsole;
using zarvik::bench::TuneTimedThread;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kBenchPort = 250;
constexpr std::size_t kStreamRecordOffset = 3;  // frame: 01 10 00 + record

struct Options {
  std::vector<int> bauds{19200, 115200};
  std::vector<std::string> rows{"info", "settings", "goods-read", "goods-write", "journal"};
  int goods = 4000;
  int changed = 20;
  int receipts = 2000;
  bool realtime = false;
  bool trace = false;
  std::string dataDir = zarvik::bench::SourcePath("data");
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--baud" && hasValue) {
      o.bauds = IntList(argv[++i]);
    } else if (arg == "--rows" && hasValue) {
      o.rows = SplitList(argv[++i]);
    } else if (arg == "--goods" && hasValue) {
      o.goods = std::atoi(argv[++i]);
    } else if (arg == "--changed" && hasValue) {
      o.changed = std::atoi(argv[++i]);
    } else if (arg == "--receipts" && hasValue) {
      o.receipts = std::atoi(argv[++i]);
    } else if (arg == "--data" && hasValue) {
      o.dataDir = argv[++i];
    } else if (arg == "--realtime") {
      o.realtime = true;
    } else if (arg == "--trace") {
      o.trace = true;
    } else {
      std::fprintf(
          stderr,
          "usage: bench_link [--baud 19200,115200] "
          "[--rows info,settings,goods-read,goods-write,goods-update,journal] [--goods N] [--changed N] "
          "[--receipts N] "
          "[--data DIR] [--realtime] [--trace]\n");
      return false;
    }
  }
  if (!zarvik::bench::PortSpeeds("bench_link", o.bauds)) return false;
  if (o.goods < 1 || o.goods > 4000 || o.receipts < 0 || o.changed < 0 || o.changed > o.goods) {
    std::fprintf(stderr, "bench_link: --goods 1..4000, --changed 0..goods, --receipts 0 or more\n");
    return false;
  }
  return true;
}

// The simulated register: a shop with 16 departments, 8 operators, taxes,
// receipt texts, a full goods table and a long journal.
std::string ScenarioText(const Options& o) {
  return ShopScenario(o.goods, o.receipts);
}

struct Row {
  std::string name;
  int baud = 0;
  int commands = 0;
  bool ok = true;
  std::uint64_t pcToRegister = 0;
  std::uint64_t registerToPc = 0;
  milliseconds waits{0};
  double measured = 0.0;  // seconds
  double floor = 0.0;     // seconds
  // The floor less the time the PC's last bytes before a wait (its closing
  // ACK, DISC) cross the line during that wait: the strict lower bound.
  double strictFloor = 0.0;
  bool countsAgree = true;
  zarvik::TLineCounts line;  // the link's repairs during the row
  int stalls = 0;            // the simulator's late hand-overs
  milliseconds longestStall{0};
};

class Bench {
 public:
  Bench(const Options& o, int baud) : options_(o), baud_(baud) {}

  bool SetUp() {
    if (!register_.StartWithPort(ScenarioText(options_), baud_, port_)) return false;
    sim_ = &register_.Sim();
    protocol_.SetLine(&line_);
    // The waits the exchange asks for are counted and then taken for real.
    protocol_.sleep = [this](milliseconds d) {
      waits_ += d;
      overlap_ += std::min(std::chrono::duration<double>(d), LineTime(line_.unanswered));
      line_.unanswered = 0;
      std::this_thread::sleep_for(d);
    };
    return true;
  }

  ~Bench() { port_.Close(); }

  Row Run(const std::string& name) {
    Row row;
    row.name = name;
    row.baud = baud_;
    // Writing goods writes back what the register holds: read it first,
    // outside the measurement, when no reading row came before.
    if ((name == "goods-write" || name == "goods-update") && records_.empty()) Task("goods-read");
    if (name == "goods-update" && !PrepareUpdate()) {
      row.ok = false;
      return row;
    }
    const auto simBefore = sim_->LineByteCounts();
    const int stallsBefore = sim_->Stalls();
    protocol_.lineCounts = {};
    const std::uint64_t inBefore = line_.in;
    const std::uint64_t outBefore = line_.out;
    waits_ = milliseconds{0};
    overlap_ = std::chrono::duration<double>{0};
    commands_ = 0;
    const auto start = Clock::now();
    row.ok = Task(name);
    row.measured = std::chrono::duration<double>(Clock::now() - start).count();
    row.commands = commands_;
    row.waits = waits_;
    row.line = protocol_.lineCounts;
    row.stalls = sim_->Stalls() - stallsBefore;
    row.longestStall = sim_->LongestStall();
    if (name == "goods-update")
      row.name += " (" + std::to_string(options_.changed) + " of " + std::to_string(options_.goods) + ")";
    // Bytes on the line as the register saw them; the PC's own count must
    // agree (the last DISC has reached the register during its wait).
    const auto simAfter = sim_->LineByteCounts();
    row.pcToRegister = simAfter.fromPc - simBefore.fromPc;
    row.registerToPc = simAfter.toPc - simBefore.toPc;
    row.countsAgree = row.pcToRegister == line_.out - outBefore && row.registerToPc == line_.in - inBefore;
    const double lineSeconds =
        static_cast<double>((row.pcToRegister + row.registerToPc) * kBitsPerByte) / baud_;
    row.floor = lineSeconds + std::chrono::duration<double>(row.waits).count();
    row.strictFloor = row.floor - overlap_.count();
    return row;
  }

 private:
  // The file of a price change: the goods as read, every (goods / changed)-th
  // one a kopeck dearer; the checks need the register's departments and
  // taxes, which the task reads.
  bool PrepareUpdate() {
    // The goods lie in departments 1..16, which a register that holds them
    // has open.
    sim_->ModifyState([](zarvik::sim::RegisterState& s) {
      for (int n = 0; n < s.maxCountDepat; ++n) {
        zarvik::sim::Department& d = s.departments[static_cast<std::size_t>(n)];
        if (d.status == zarvik::sim::kDepGoods || d.status == zarvik::sim::kDepService) continue;
        d.status = zarvik::sim::kDepGoods;
        d.name = "Отдел " + std::to_string(n + 1);
        d.taxGroup = 1;
      }
    });
    // Identified, as a write connects first: the model's departments and goods.
    if (!protocol_.GetInfo()) return false;
    zarvik::TKKMInfo& info = kkm_.Info();
    // The simulated register holds --goods records whatever its descriptor
    // says of its largest goods number.
    info.maxCountGoods = std::max(info.maxCountGoods, options_.goods);
    zarvik::TWorkTable& t = file_.mtTOBAP;
    zarvik::ClearRows(t);
    const int step = options_.changed > 0 ? options_.goods / options_.changed : 0;
    int changed = 0;
    for (std::size_t k = 0; k < records_.size(); ++k) {
      std::copy(records_[k].begin(), records_[k].end(), info.GoodsRecord.begin());
      t.Append();
      zarvik::GoodsRecordToRow(info, t);
      if (step > 0 && changed < options_.changed && k % static_cast<std::size_t>(step) == 0) {
        t.SetCurrency("Price",
                      zarvik::Currency::FromRaw(t.Cur("Price").raw + zarvik::Currency::kScale / 100));
        ++changed;
      }
      t.Post();
    }
    return changed == options_.changed;
  }

  // One command; counted, and its failure ends the task.
  bool Cmd(bool ok) {
    ++commands_;
    return ok;
  }

  // Connecting: GetInfo (descriptor and goods probes), the date and time,
  // the options and the operator probe.
  bool Connect() {
    if (!Cmd(protocol_.GetInfo()) || !Cmd(protocol_.GetDateTime()) || !Cmd(protocol_.GetOptions())) {
      return false;
    }
    operatorCount_ = protocol_.GetOperatorCount();
    return Cmd(operatorCount_ > 0);
  }

  bool Task(const std::string& name) {
    zarvik::TKKMInfo& info = kkm_.Info();
    if (name == "info") return Cmd(protocol_.GetInfo());
    if (name == "settings") {
      // Connecting, then reading all: every department of the model, the
      // receipt header and footer, the taxes, and the operators with their
      // positions.
      if (!Connect()) return false;
      for (int n = 1; n <= info.maxCountDepat; ++n) {
        if (!Cmd(protocol_.GetDepartment(n))) return false;
      }
      for (int n = 1; n <= zarvik::kReceiptLineCount; ++n) {
        if (!Cmd(protocol_.GetHeaderLine(n))) return false;
      }
      for (int n = 1; n <= zarvik::kReceiptLineCount; ++n) {
        if (!Cmd(protocol_.GetFooterLine(n))) return false;
      }
      for (int n = 1; n <= zarvik::kTaxCount; ++n) {
        if (!Cmd(protocol_.GetTax(n))) return false;
      }
      for (int n = 1; n <= operatorCount_; ++n) {
        if (!Cmd(protocol_.GetOperatorName(n)) || !Cmd(protocol_.GetPosition(n))) return false;
      }
      return true;
    }
    if (name == "goods-read") {
      records_.clear();
      const bool ok = protocol_.ReadAllGoods([this](zarvik::TMessageBuffer& answer, bool&) {
        if (answer.count != static_cast<std::int32_t>(kStreamRecordOffset + zarvik::kGoodsRecordSize)) return;
        std::array<std::uint8_t, zarvik::kGoodsRecordSize> r{};
        std::copy_n(answer.bytes.begin() + kStreamRecordOffset, r.size(), r.begin());
        records_.push_back(r);
      });
      Cmd(ok);
      if (static_cast<int>(records_.size()) != options_.goods) {
        std::fprintf(stderr, "bench_link: %zu goods read, %d expected\n", records_.size(), options_.goods);
        return false;
      }
      return ok;
    }
    if (name == "goods-write") {
      if (records_.empty()) return false;
      info.keepSoldCount = true;
      for (const auto& r : records_) {
        std::copy(r.begin(), r.end(), info.GoodsRecord.begin());
        if (!Cmd(protocol_.SetGoods())) return false;
      }
      return true;
    }
    if (name == "goods-update") {
      zarvik::TWorkTable& t = file_.mtTOBAP;
      zarvik::GoodsRegisterLimits limits;
      if (!Cmd(zarvik::ReadGoodsLimits(protocol_, t, false, limits))) return false;
      zarvik::TRegisterGoods held;
      if (!Cmd(zarvik::ReadRegisterGoods(protocol_, zarvik::GoodsCodesToRead(t, info), {}, held)))
        return false;
      const zarvik::GoodsImportReport report;
      const zarvik::GoodsWritePlan plan = zarvik::PlanGoodsWrite(t, limits, report, held, false, false);
      if (plan.HasErrors() || static_cast<int>(plan.send.size()) != options_.changed) {
        const auto error = std::find_if(plan.checks.begin(), plan.checks.end(),
                                        [](const zarvik::GoodsCheck& c) { return c.error; });
        std::fprintf(
            stderr, "bench_link: the plan sends %zu records, %d expected (%d errors%s%s)\n", plan.send.size(),
            options_.changed, plan.errorCount, error == plan.checks.end() ? "" : ", first: ",
            error == plan.checks.end() ? "" : zarvik::GoodsCheckText(*error, plan.placeKind).c_str());
        return false;
      }
      info.keepSoldCount = true;
      for (const zarvik::GoodsPlanRow& r : plan.send) {
        t.SetRecNo(r.row + 1);
        if (!zarvik::GoodsRowToRecord(t, info) || !Cmd(protocol_.SetGoods())) return false;
      }
      return true;
    }
    if (name == "journal") {
      std::uint64_t bytes = 0;
      const bool ok = protocol_.ReadJournal([&bytes](zarvik::TMessageBuffer& answer, bool&) {
        bytes += static_cast<std::uint64_t>(answer.count);
      });
      return Cmd(ok) && bytes > 0;
    }
    std::fprintf(stderr, "bench_link: no row \"%s\"\n", name.c_str());
    return false;
  }

  const Options& options_;
  int baud_;
  zarvik::bench::PacedRegister register_{"bench_link", kBenchPort};
  zarvik::sim::Simulator* sim_ = nullptr;
  zarvik::TComPort port_;
  zarvik::TKKM kkm_{&port_};
  zarvik::TProtocolKKM protocol_{&kkm_};
  CountingLine line_{port_};
  // The line time of `bytes` bytes at this speed.
  std::chrono::duration<double> LineTime(std::uint64_t bytes) const {
    return std::chrono::duration<double>(static_cast<double>(bytes * kBitsPerByte) / baud_);
  }

  milliseconds waits_{0};
  std::chrono::duration<double> overlap_{0};
  int commands_ = 0;
  int operatorCount_ = 0;
  std::vector<std::array<std::uint8_t, zarvik::kGoodsRecordSize>> records_;
  zarvik::TBD file_;  // the goods file of goods-update
};

void PrintHeader() {
  std::printf(
      "| task | baud | commands | bytes PC→register | bytes register→PC | prescribed waits, s | floor, s "
      "| measured, s | ratio | strict floor, s | ratio to strict |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
}

void PrintRow(const Row& r) {
  std::printf("| %s%s | %d | %d | %llu | %llu | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f |\n", r.name.c_str(),
              r.ok ? "" : " (FAILED)", r.baud, r.commands, static_cast<unsigned long long>(r.pcToRegister),
              static_cast<unsigned long long>(r.registerToPc), std::chrono::duration<double>(r.waits).count(),
              r.floor, r.measured, r.floor > 0 ? r.measured / r.floor : 0.0, r.strictFloor,
              r.strictFloor > 0 ? r.measured / r.strictFloor : 0.0);
  if (!r.countsAgree) std::printf("  (the PC's and the register's byte counts differ)\n");
  // What the line cost the row: nothing on a clean line.
  std::printf(
      "  line: repeats asked %d, frames resent %d, resynchronisations %d, commands repeated %d; "
      "simulator's late hand-overs %d (longest %lld ms)\n",
      r.line.repeatsAsked, r.line.framesResent, r.line.resyncs, r.line.commandsRepeated, r.stalls,
      static_cast<long long>(r.longestStall.count()));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return 2;
  // The model descriptor ("B 003") is looked up next to the program.
  zarvik::SetProgramPath((std::filesystem::path(options.dataDir) / "bench_link").string());
  zarvik::MessDepth = options.trace ? zarvik::mdFunctional : zarvik::mdUser;
  StderrConsole console;
  zarvik::SetConsole(&console);
  // The prescribed waits are slept on this thread: wake-ups close to them.
  if (!TuneTimedThread("bench_link", options.realtime)) return 1;

  PrintHeader();
  double worst = 0.0;
  bool allOk = true;
  for (int baud : options.bauds) {
    Bench bench(options, baud);
    if (!bench.SetUp()) return 1;
    for (const std::string& name : options.rows) {
      const Row row = bench.Run(name);
      PrintRow(row);
      allOk = allOk && row.ok && row.countsAgree;
      if (row.floor > 0) worst = std::max(worst, row.measured / row.floor);
    }
  }
  std::printf("\nworst ratio %.3f\n", worst);
  return allOk ? 0 : 1;
}
