// Decoding and rendering of a journal of 100 000 records, read as replies of
// the register (command bytes, result code, a run of records). Prints the
// time of each stage and the records per second.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "journal/U_magazineoperation.h"
#include "model/Typessimpledata.h"

namespace {

using zarvik::TBinKKM;
using zarvik::TDateKKM;
using zarvik::TNumberKKM;
using zarvik::TTimeKKM;

constexpr std::size_t kRecords = 100000;
constexpr std::size_t kRecordsPerReply = 12;
constexpr std::uint8_t kRecordEnd = 0xAA;

// A small deterministic generator for quantities and prices.
struct Lcg {
  std::uint64_t state = 0x2545F4914F6CDD1DULL;
  std::uint64_t Next(std::uint64_t bound) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return (state >> 33) % bound;
  }
};

class JournalBuilder {
 public:
  std::vector<std::uint8_t>& Record(std::uint8_t code, int length) {
    rec_.assign(static_cast<std::size_t>(length), 0);
    rec_[0] = code;
    rec_.back() = kRecordEnd;
    return rec_;
  }
  void Bcd(int offset, int width, std::uint64_t value) {
    TNumberKKM(rec_.data() + offset, width).FromText(std::to_string(value));
  }
  void Byte(int offset, std::uint64_t value) {
    TBinKKM(rec_.data() + offset, 1).FromText(std::to_string(value));
  }
  void Finish(std::vector<std::vector<std::uint8_t>>& replies) {
    if (replies.empty() || inReply_ == kRecordsPerReply) {
      replies.push_back({0x01, 0x0F, 0x00});
      inReply_ = 0;
    }
    replies.back().insert(replies.back().end(), rec_.begin(), rec_.end());
    ++inReply_;
  }
  std::vector<std::uint8_t> rec_;
  std::size_t inReply_ = 0;
};

std::vector<std::vector<std::uint8_t>> BuildJournal() {
  Lcg rnd;
  JournalBuilder b;
  std::vector<std::vector<std::uint8_t>> replies;
  std::size_t records = 0;
  std::uint64_t receipt = 1;
  const auto add = [&] {
    b.Finish(replies);
    ++records;
  };
  while (records < kRecords) {
    int op = 1;
    const std::uint64_t lines = 1 + rnd.Next(5);
    for (std::uint64_t i = 0; i < lines && records < kRecords; ++i) {
      if (i % 2 == 0) {
        b.Record(0xA1, zarvik::kSumMagOperLength);
        b.Byte(1, static_cast<std::uint64_t>(op++));
        b.Bcd(2, 5, 1 + rnd.Next(20000));
        b.Bcd(7, 5, 1 + rnd.Next(500000));
        b.Bcd(12, 1, 1 + rnd.Next(4));
        b.Byte(13, 1 + rnd.Next(16));
      } else {
        b.Record(0xA3, zarvik::kCodeMagOperLength);
        b.Byte(1, static_cast<std::uint64_t>(op++));
        b.Bcd(2, 3, 1 + rnd.Next(99999));
        b.Bcd(5, 5, 1 + rnd.Next(20000));
        b.Bcd(10, 5, 1 + rnd.Next(500000));
        b.Bcd(15, 1, 1 + rnd.Next(4));
        b.Byte(16, 1 + rnd.Next(16));
      }
      add();
    }
    if (records >= kRecords) break;
    b.Record(0xB5, zarvik::kPiMagOperLength);
    b.Byte(1, static_cast<std::uint64_t>(op++));
    b.Bcd(2, 7, 1 + rnd.Next(10000000));
    add();
    if (records >= kRecords) break;
    b.Record(0xC1, zarvik::kSumTaxMagOperLength);
    b.Byte(1, static_cast<std::uint64_t>(op++));
    b.Bcd(2, 1, 1);
    b.Bcd(3, 7, 1 + rnd.Next(10000000));
    add();
    if (records >= kRecords) break;
    b.Record(0xC9, zarvik::kNalichMagOperLength);
    b.Byte(1, static_cast<std::uint64_t>(op++));
    b.Byte(2, rnd.Next(5));
    const std::uint64_t due = 1 + rnd.Next(10000000);
    b.Bcd(3, 7, due);
    b.Bcd(10, 7, rnd.Next(2) == 0 ? 0 : due + rnd.Next(100000));
    add();
    if (records >= kRecords) break;
    b.Record(0xCA, zarvik::kCloseCheckMagOperLength);
    b.Byte(1, 1 + rnd.Next(5));
    b.Bcd(2, 4, receipt++);
    TDateKKM(b.rec_.data() + 6).FromText("15.12.10");
    TTimeKKM(b.rec_.data() + 9).FromText("14:05");
    b.Byte(11, 75);
    b.Byte(12, 1 + rnd.Next(8));
    add();
  }
  return replies;
}

double Ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main() {
  using Clock = std::chrono::steady_clock;
  const auto replies = BuildJournal();
  std::size_t bytes = 0;
  for (const auto& r : replies) bytes += r.size();

  const auto t0 = Clock::now();
  std::vector<std::string> decoded;
  decoded.reserve(replies.size());
  for (const auto& r : replies) decoded.push_back(zarvik::DecodeJournalReply(r));
  const auto t1 = Clock::now();

  std::size_t lines = 0;
  std::size_t failed = 0;
  std::size_t renderedBytes = 0;
  for (const std::string& text : decoded) {
    std::string_view rest = text;
    for (std::size_t end; (end = rest.find("\r\n")) != std::string_view::npos; rest.remove_prefix(end + 2)) {
      std::string shown;
      if (!zarvik::TryRenderJournalLine(rest.substr(0, end), shown)) ++failed;
      renderedBytes += shown.size();
      ++lines;
    }
  }
  const auto t2 = Clock::now();

  const double decodeMs = Ms(t1 - t0);
  const double renderMs = Ms(t2 - t1);
  std::printf("journal: %zu records in %zu replies, %zu bytes\n", kRecords, replies.size(), bytes);
  std::printf("decode:  %zu record lines in %.1f ms (%.0f records/s)\n", lines, decodeMs,
              static_cast<double>(lines) / (decodeMs / 1000.0));
  std::printf("render:  %zu lines, %zu failed, %zu bytes of text in %.1f ms (%.0f records/s)\n", lines,
              failed, renderedBytes, renderMs, static_cast<double>(lines) / (renderMs / 1000.0));
  std::printf("total:   %.1f ms for %zu records\n", decodeMs + renderMs, lines);
  return lines == kRecords && failed == 0 ? 0 : 1;
}
