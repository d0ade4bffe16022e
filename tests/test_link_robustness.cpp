// The link on a busy machine and after abandoned transfers: zarvikctl as a
// process against the paced register simulator.
//
// LinkUnderLoad: streamed reads at 19200 and 115200 baud while threads at
// normal priority keep twice as many cores busy as the machine has; every
// read must succeed and be complete. (A longer run is bench_link_load.)
//
// LinkRecovery: zarvikctl killed at random points of goods read-all,
// journal read and goods write, and a simulator process frozen during a
// journal read; each time the next zarvikctl info must succeed at its first
// attempt.
#include <gtest/gtest.h>

#ifdef ZARVIK_CTL_EXE

#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "CtlProcess.h"
#include "Scenario.h"
#include "Simulator.h"
#include "TestSupport.h"

namespace zarvik {
namespace {

using namespace std::chrono_literals;
using test::CtlProcess;
using test::RunResult;

constexpr int kSimPort = 200;
// The next session after an abandoned one must be served: one that finds
// the register still busy with the old transfer fails (the PC gives up a
// silent register within seconds), so the status tells; the limit only
// catches a hang, whatever the speed of the machine.
constexpr auto kNextSessionLimit = test::kCtlHangLimit;
// A line without a byte for this long has fallen silent (a transfer has
// pauses of a few hundred milliseconds at most).
constexpr auto kLineSilence = 30s;

std::string SourcePath(const std::string& rel) {
  return std::string(ZARVIK_SOURCE_DIR) + "/" + rel;
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// Busy threads at normal priority, as many as asked, until destroyed.
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
  std::size_t Threads() const { return threads_.size(); }

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

double LoadAverage() {
  double load[1] = {0};
  return ::getloadavg(load, 1) == 1 ? load[0] : -1;
}

// The shipped shop with `goods` generated goods and its journal `copies`
// times over, served paced on a pseudo-terminal that port 200 of the test
// folder's ZarvikConfig.ini reaches.
class PacedShop : public ::testing::Test {
 protected:
  void Serve(int baud, int goods, int copies) {
    sim::Scenario sc;
    std::string error;
    ASSERT_TRUE(sim::LoadScenarioFile(SourcePath("sim/scenarios/default.ini"), sc, error)) << error;
    sim::RegisterState& st = sc.state;
    st.goods.clear();
    for (int code = 1; code <= goods; ++code) st.goods[code] = sim::GeneratedGoods(code, st);
    const std::vector<sim::Bytes> journal = st.journal;
    for (int k = 1; k < copies; ++k) st.journal.insert(st.journal.end(), journal.begin(), journal.end());
    simulator = std::make_unique<sim::Simulator>(sc);
    std::string slave;
    ASSERT_TRUE(simulator->OpenPty(slave)) << simulator->LastError();
    simulator->SetPacing(baud, true);
    ASSERT_TRUE(simulator->Start());
    test::WriteAll(dir.File("ZarvikConfig.ini"), "[Port]\r\nCOMPort=" + std::to_string(kSimPort) +
                                                     "\r\nSpeed=" + std::to_string(baud) +
                                                     "\r\n[NET]\r\nNUMBER=1\r\n[Devices]\r\nCOM" +
                                                     std::to_string(kSimPort) + "=" + slave + "\r\n");
  }
  void TearDown() override {
    if (simulator) simulator->Close();
  }
  // Bytes the simulator's line has carried both ways.
  std::uint64_t LineBytes() const {
    const auto counts = simulator->LineByteCounts();
    return counts.fromPc + counts.toPc;
  }
  // Waits until the line has carried `bytes` in all; false when it falls
  // silent for kLineSilence first. What `program` writes meanwhile is taken
  // (a full pipe would stop it and the line with it).
  bool WaitForLineBytes(CtlProcess& program, std::uint64_t bytes) const {
    std::uint64_t seen = LineBytes();
    auto lastChange = std::chrono::steady_clock::now();
    while (seen < bytes) {
      program.Pump(1ms);
      const std::uint64_t now = LineBytes();
      if (now != seen) {
        seen = now;
        lastChange = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - lastChange > kLineSilence) {
        return false;
      }
    }
    return true;
  }
  RunResult Run(const std::vector<std::string>& args, std::chrono::milliseconds limit = 60s) {
    CtlProcess process(dir.Path(), args);
    return process.Wait(limit);
  }

  test::TempDir dir;
  std::unique_ptr<sim::Simulator> simulator;
};

class LinkUnderLoad : public PacedShop {};

TEST_F(LinkUnderLoad, StreamedReadsSucceedWhileTheMachineIsBusy) {
  struct Speed {
    int baud;
    int goods;
    int copies;  // of the shop's journal
  };
  const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
  int runs = 0;
  int failures = 0;
  for (const Speed s : {Speed{19200, 60, 1}, Speed{115200, 200, 2}}) {
    SCOPED_TRACE(s.baud);
    simulator.reset();
    Serve(s.baud, s.goods, s.copies);
    // What the reads must bring: every goods record and every journal line.
    simulator->SetPacing(s.baud, false);
    const std::string journal = Run({"journal", "read", "--data"}).out;
    const int journalLines = Count(journal, "\n");
    ASSERT_GT(journalLines, 0);
    simulator->SetPacing(s.baud, true);

    const CpuLoad load(2 * cores);
    {
      const RunResult goods = Run({"goods", "read-all", "--csv"});
      ++runs;
      const bool goodsOk = goods.status == 0 && Count(goods.out, "\n") == s.goods + 1;
      EXPECT_TRUE(goodsOk) << goods.status << "\n" << goods.err;
      failures += goodsOk ? 0 : 1;
      const RunResult j = Run({"journal", "read", "--data"});
      ++runs;
      const bool journalOk = j.status == 0 && j.out == journal;
      EXPECT_TRUE(journalOk) << j.status << "\n" << j.err;
      failures += journalOk ? 0 : 1;
      std::printf(
          "[ load     ] %d baud: goods %d in %lld ms, journal %d lines in %lld ms, %zu busy threads, "
          "load average %.2f\n",
          s.baud, s.goods, static_cast<long long>(goods.took.count()), journalLines,
          static_cast<long long>(j.took.count()), load.Threads(), LoadAverage());
    }
  }
  std::printf("[ load     ] %d streamed reads, %d failed, %u cores\n", runs, failures, cores);
  EXPECT_EQ(failures, 0);
}

class LinkRecovery : public PacedShop {};

// The transfers killed in the middle, each a test of its own so that they
// run side by side. The goods write sends every row (--all): the file is the
// register's own goods, of which a plain write would send none.
struct KilledTransfer {
  const char* name;
  std::vector<std::string> args;
  unsigned seed;
};

void PrintTo(const KilledTransfer& t, std::ostream* os) { *os << t.name; }

class LinkRecoveryAfterAKill : public PacedShop, public ::testing::WithParamInterface<KilledTransfer> {};

// zarvikctl killed at random points of a transfer; the next info is served
// at once.
TEST_P(LinkRecoveryAfterAKill, NextSessionConnectsAtOnce) {
  constexpr int kGoods = 300;
  constexpr int kKills = 7;
  const KilledTransfer& transfer = GetParam();
  Serve(19200, kGoods, 3);
  if (transfer.args[0] == "goods" && transfer.args[1] == "write") {
    // The file to write: the register's own goods, read unpaced.
    simulator->SetPacing(19200, false);
    const RunResult read = Run({"goods", "read-all", "--out", "goods.csv"});
    ASSERT_EQ(read.status, 0) << read.err;
    simulator->SetPacing(19200, true);
  }

  // The whole transfer once, unpaced: the bytes it carries on this line
  // (a kill point beyond its end would never come).
  simulator->SetPacing(19200, false);
  const std::uint64_t start = LineBytes();
  const RunResult whole = Run(transfer.args);
  ASSERT_EQ(whole.status, 0) << whole.err;
  const std::uint64_t length = LineBytes() - start;
  ASSERT_GT(length, 100u);
  simulator->SetPacing(19200, true);

  std::mt19937 random(transfer.seed);
  // Each kill falls once the line has carried a chosen number of bytes since
  // the program started, whatever the speed of the machine: from its first
  // poll to well inside the transfer (3500 bytes are nearly two seconds of
  // the line at 19200 baud, past the identification), and never in its last
  // tenth.
  std::uniform_int_distribution<std::uint64_t> killAfterBytes(1, std::min<std::uint64_t>(3500, length - length / 10));
  std::chrono::milliseconds worst{0};
  int firstAttemptFailures = 0;
  for (int k = 0; k < kKills; ++k) {
    const std::uint64_t after = killAfterBytes(random);
    SCOPED_TRACE(std::string(transfer.name) + " killed after " + std::to_string(after) + " bytes");
    {
      const std::uint64_t before = LineBytes();
      CtlProcess victim(dir.Path(), transfer.args);
      ASSERT_TRUE(victim.Started());
      EXPECT_TRUE(WaitForLineBytes(victim, before + after)) << "the line fell silent";
      victim.Signal(SIGKILL);
      victim.Wait(30s);
    }
    const RunResult next = Run({"info"}, 60s);
    worst = std::max(worst, next.took);
    if (next.status != 0) ++firstAttemptFailures;
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_LT(next.took, kNextSessionLimit) << next.err;
  }
  std::printf(
      "[ recovery ] %s (%llu bytes): %d kills, %d next sessions failed, worst time to the next info %lld ms\n",
      transfer.name, static_cast<unsigned long long>(length), kKills, firstAttemptFailures,
      static_cast<long long>(worst.count()));
}

INSTANTIATE_TEST_SUITE_P(
    Transfers, LinkRecoveryAfterAKill,
    ::testing::Values(KilledTransfer{"GoodsReadAll", {"goods", "read-all", "--csv"}, 20250110},
                      KilledTransfer{"JournalRead", {"journal", "read"}, 20250111},
                      KilledTransfer{"GoodsWrite", {"goods", "write", "goods.csv", "--all"}, 20250112}),
    [](const ::testing::TestParamInfo<KilledTransfer>& p) { return std::string(p.param.name); });

#ifdef ZARVIK_SIM_EXE
// The simulator program stopped (SIGSTOP) in the middle of a journal read
// and continued later: what the PCs sent meanwhile is not answered after the
// fact, and the next info is served at once.
TEST_F(LinkRecovery, NextSessionAfterAFrozenSimulatorConnectsAtOnce) {
  // The shop with a long journal in short frames.
  std::string scenario = test::ReadAll(SourcePath("sim/scenarios/default.ini"));
  const std::string reg = "[Register]\n";
  ASSERT_NE(scenario.find(reg), std::string::npos);
  scenario.insert(scenario.find(reg) + reg.size(), "JournalFrameBytes=40\n");
  test::WriteAll(dir.File("shop.ini"), scenario);
  test::WriteAll(dir.File("ZarvikConfig.ini"), "[Port]\r\nCOMPort=" + std::to_string(kSimPort) +
                                                   "\r\nSpeed=19200\r\n[NET]\r\nNUMBER=1\r\n");

  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t sim = ::fork();
  if (sim == 0) {
    // A test process that is killed takes its (perhaps stopped) simulator
    // with it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::dup2(out[1], 1);
    ::close(out[0]);
    if (::chdir(dir.Path().c_str()) != 0) ::_exit(126);
    ::execl(ZARVIK_SIM_EXE, ZARVIK_SIM_EXE, "--com", std::to_string(kSimPort).c_str(), "--baud", "19200",
            "--pace", "--scenario", "shop.ini", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  // Whatever happens below, the simulator does not outlive the test.
  struct Reaper {
    pid_t pid;
    int fd;
    ~Reaper() {
      ::kill(pid, SIGCONT);
      ::kill(pid, SIGKILL);
      int status = 0;
      ::waitpid(pid, &status, 0);
      ::close(fd);
    }
  } reaper{sim, out[0]};
  std::string first;
  char c = 0;
  while (::read(out[0], &c, 1) == 1 && c != '\n') first.push_back(c);
  ASSERT_NE(first.find("serving port"), std::string::npos) << first;

  ASSERT_EQ(Run({"info"}, 30s).status, 0);
  {
    // Standard error on a terminal shows the progress: the simulator is
    // stopped once the reader is well into the journal.
    CtlProcess reader(dir.Path(), {"journal", "read"}, {}, true);
    ASSERT_TRUE(reader.WaitFor([](const std::string&, const std::string& err) {
      return test::ProgressShown(err, "записи журнала") >= 10;
    })) << "no progress";
    ::kill(sim, SIGSTOP);
    const RunResult r = reader.Wait(30s);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Сбой при загрузке ОТЧЕТА"), std::string::npos) << r.err;
  }
  // Another session while it is frozen only piles up input.
  const RunResult frozen = Run({"info"}, 30s);
  EXPECT_EQ(frozen.status, 1);
  EXPECT_NE(frozen.err.find("ККМ не отвечает"), std::string::npos) << frozen.err;
  ::kill(sim, SIGCONT);
  const RunResult next = Run({"info"}, 30s);
  EXPECT_EQ(next.status, 0) << next.err;
  EXPECT_LT(next.took, kNextSessionLimit) << next.err;
  std::printf("[ recovery ] after a frozen simulator the next info took %lld ms\n",
              static_cast<long long>(next.took.count()));
  ::kill(sim, SIGTERM);
}
#endif  // ZARVIK_SIM_EXE

}  // namespace
}  // namespace zarvik

#endif  // ZARVIK_CTL_EXE
