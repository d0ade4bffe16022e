// The journal as data: the receipt and operation tables, the summary and the
// consistency check of journals of several sizes, built from the record lines
// a read yields (the simulator's generated receipts, decoded as the journal
// page decodes them). Prints each stage's time, the total, and the time per
// record, which stays flat when the work grows linearly. Each figure is the
// best of the runs; the thread's CPU time is printed beside the wall time, as
// it is less disturbed by other work on the machine.
//
//   bench_journal_data [--sizes 12500,25000,50000,100000,200000] [--runs 5]
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Scenario.h"
#include "journal/JournalCheck.h"
#include "journal/JournalFrame.h"
#include "journal/JournalSummary.h"
#include "journal/JournalTables.h"
#include "journal/U_magazineoperation.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kGoods = 200;
// Generated receipts hold 6 to 9 records each.
constexpr int kRecordsPerReceiptAtLeast = 6;
constexpr double kNsPerMs = 1e6;
constexpr double kMsPerSecond = 1000.0;

// CPU time of this thread in milliseconds, to the nanosecond.
double ThreadCpuMs() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * kMsPerSecond + static_cast<double>(t.tv_nsec) / kNsPerMs;
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

std::vector<std::string> Records(std::size_t count) {
  const int receipts = static_cast<int>(count / kRecordsPerReceiptAtLeast) + 1;
  zarvik::sim::Scenario sc;
  std::string error;
  if (!zarvik::sim::LoadScenarioText(zarvik::bench::ShopScenario(kGoods, receipts), sc, error)) {
    std::fprintf(stderr, "bench_journal_data: %s\n", error.c_str());
    return {};
  }
  std::vector<std::uint8_t> reply{0x01, 0x0F, 0x00};
  for (const auto& r : sc.state.journal) reply.insert(reply.end(), r.begin(), r.end());
  std::vector<std::string> records = zarvik::SplitCrLfLines(zarvik::DecodeJournalReply(reply));
  if (records.size() > count) records.resize(count);
  return records;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes{12500, 25000, 50000, 100000, 200000};
  int runs = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--sizes") {
      sizes = zarvik::bench::IntList(argv[i + 1]);
    } else if (a == "--runs") {
      runs = std::max(1, std::atoi(argv[i + 1]));
    } else {
      std::fprintf(stderr, "usage: bench_journal_data [--sizes N,N,...] [--runs N]\n");
      return 2;
    }
  }
  std::printf("%9s %9s %9s %10s %10s %10s %10s %10s %12s\n", "records", "receipts", "findings", "tables ms",
              "summary ms", "check ms", "total ms", "cpu ms", "cpu ns/rec");
  for (const int size : sizes) {
    const std::vector<std::string> records = Records(static_cast<std::size_t>(size));
    double best[5] = {1e300, 1e300, 1e300, 1e300, 1e300};
    std::size_t receipts = 0, findings = 0;
    std::int64_t salesSeen = 0;
    for (int run = 0; run < runs; ++run) {
      const double cpu0 = ThreadCpuMs();
      const auto t0 = Clock::now();
      const zarvik::TJournalTables tables = zarvik::BuildJournalTables(records);
      const auto t1 = Clock::now();
      const zarvik::TJournalSummary summary = zarvik::SummarizeJournal(tables);
      const auto t2 = Clock::now();
      const std::vector<zarvik::TJournalFinding> found = zarvik::CheckJournal(tables);
      const auto t3 = Clock::now();
      const double cpu = ThreadCpuMs() - cpu0;
      best[0] = std::min(best[0], Ms(t1 - t0));
      best[1] = std::min(best[1], Ms(t2 - t1));
      best[2] = std::min(best[2], Ms(t3 - t2));
      best[3] = std::min(best[3], Ms(t3 - t0));
      best[4] = std::min(best[4], cpu);
      receipts = tables.receipts.size();
      salesSeen = summary.sales;
      findings = found.size();
    }
    std::printf("%9zu %9zu %9zu %10.1f %10.1f %10.1f %10.1f %10.1f %12.0f\n", records.size(), receipts,
                findings, best[0], best[1], best[2], best[3], best[4],
                best[4] * kNsPerMs / static_cast<double>(records.size()));
    if (salesSeen <= 0) std::fprintf(stderr, "bench_journal_data: no sales in the journal\n");
  }
  return 0;
}
