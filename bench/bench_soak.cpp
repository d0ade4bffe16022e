// Soak of the register link under injected faults: long transfers against
// the register simulator while it garbles, drops and adds bytes, numbers its
// frames wrongly, answers WAIT and BUSY, falls silent and is frozen, and
// while the PC side is killed in the middle of its work.
//
//   bench_soak [--seed N] [--rates 0,1,5,20] [--minutes M] [--rounds N] [--quick]
//              [--batch N] [--receipts N] [--events X] [--mode both|inproc|ctl]
//              [--faults FAULT,...] [--ops settings-write,settings-read,goods-write,goods-read,journal]
//              [--baud N] [--ctl PATH] [--work DIR] [--keep] [--verbose] [--trace]
//
// For each fault rate a fresh simulated shop (16 departments, 8 operators, 64
// options, 4000 goods, a journal) is served on a pseudo-terminal, and rounds
// of operations run against it until the rate's time is up:
//   settings written (options, departments, receipt lines and fonts,
//   operators) and read back; a batch of goods written (the batches go round
//   all 4000 codes) and all goods read back; the whole journal read.
// Each operation runs either in this process (the program's TComPort and
// TProtocolKKM, as the window uses them) or as a zarvikctl process (which
// goes through the goods and journal files as the window does), chosen at
// random. Every operation is judged against the simulator's own state:
//   ok      - it reported success and what it read or wrote is right, field
//             by field;
//   failed  - it reported an error (an in-process command returned false;
//             zarvikctl exited with 1 and an "Error:" text, or refused an
//             argument with 2); whatever it wrote is the old or the new value;
//   wrong   - it reported success but read or left other data, or it left a
//             value that is neither the old nor the new one: must stay 0;
//   killed  - a zarvikctl process this program killed (SIGKILL) at a random
//             point; what it left is judged like a failure.
// Crashes (a zarvikctl ended by a signal it was not sent) and hangs (a
// process still running after its time limit) are counted too.
//
// Faults at rate R %: every packet the simulator sends or hears is faulted
// with a chance of about R % (simulator faults armed with "@" chances: check
// bytes of data frames and control packets, frames cut short or followed by
// junk, wrong packet numbers, WAIT before an answer, BUSY, REJ, a flood of
// ACKs, a packet from the PC not heard). Besides, each operation meets with
// a chance of R × --events % one of: the simulator frozen for 0.2 to 6 s
// (Simulator::Pause, which behaves as SIGSTOP), or a burst of BUSY, WAIT,
// silence or bad check bytes; and each zarvikctl operation is killed with
// that chance at a random point.
//
// The seed is printed at the start; --seed repeats the run's choices (the
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

#include "BenchSupport.h"
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

// ---------------------------------------------------------------------------
// The register's state as items: each setting and each goods record has a
// key and a canonical text of its value as the register holds it. A write is
// judged item by item (new, old, or neither), a read by comparing the items
// the PC decoded with the register's.

using Items = std::map<std::string, std::string>;

std::string Hex2(unsigned v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return std::string{kDigits[(v >> 4) & 0xF], kDigits[v & 0xF]};
}

std::string Key(const char* what, int n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s %04d", what, n);
  return buf;
}

std::string DepartmentText(std::uint8_t status, const std::string& name, int tax, std::uint64_t price) {
  if (status != kDepGoods && status != kDepService) return "closed";
  return Hex2(status) + "|" + name + "|" + std::to_string(tax) + "|" + std::to_string(price);
}

std::string LineText(int font, const std::string& text) {
  return std::to_string(font) + "|" + text;
}

// A goods record: everything the register stores.
std::string GoodsText(const sim::Goods& g) {
  return std::to_string(g.type) + "|" + Hex2(g.flags) + "|" + g.name + "|" + std::to_string(g.price) + "|" +
         std::to_string(g.taxGroup) + "|" + std::to_string(g.section) + "|" + g.barcode + "|" +
         std::to_string(g.sold);
}

// A goods record as the PC shows it: the sale kind and the barcode only for
// goods, the quantity sold only when the PC read it. An all-zero barcode
// field (no barcode) is shown as "0", which writes the same field back; an
// empty text and "0" are the same field.
std::string GoodsSeenText(int type, bool byPiece, bool blocked, const std::string& name, std::int64_t price,
                          int tax, int section, const std::string& barcode,
                          std::optional<std::int64_t> sold) {
  std::string text = std::to_string(type) + "|" + (blocked ? "blocked" : "open") + "|" + name + "|" +
                     std::to_string(price) + "|" + std::to_string(tax) + "|" + std::to_string(section);
  if (type == kTypeGoods)
    text += std::string("|") + (byPiece ? "piece" : "weight") + "|" + (barcode.empty() ? "0" : barcode);
  if (sold) text += "|" + std::to_string(*sold);
  return text;
}

std::string GoodsSeenText(const sim::Goods& g, bool withSold) {
  return GoodsSeenText(
      g.type, (g.flags & kFlagByPiece) != 0, (g.flags & kFlagBlocked) != 0, g.name,
      static_cast<std::int64_t>(g.price), g.taxGroup, g.section, g.barcode,
      withSold ? std::optional<std::int64_t>(static_cast<std::int64_t>(g.sold)) : std::nullopt);
}

struct ItemGroups {
  bool options = true, departments = true, receipt = true, operators = true, goods = true;
};

Items ItemsOf(const sim::RegisterState& s, ItemGroups g = {}) {
  Items items;
  if (g.options) {
    for (std::size_t i = 0; i < s.options.size(); ++i)
      items[Key("option", static_cast<int>(i + 1))] = std::to_string(s.options[i]);
  }
  if (g.departments) {
    for (int n = 1; n <= kDepartments; ++n) {
      const sim::Department& d = s.departments[static_cast<std::size_t>(n - 1)];
      items[Key("department", n)] = DepartmentText(d.status, d.name, d.taxGroup, d.priceLimit);
    }
  }
  if (g.receipt) {
    for (int n = 1; n <= kLines; ++n) {
      const auto i = static_cast<std::size_t>(n - 1);
      items[Key("header", n)] = LineText(s.header[i].font, s.header[i].text);
      items[Key("footer", n)] = LineText(s.footer[i].font, s.footer[i].text);
    }
  }
  if (g.operators) {
    for (int n = 1; n <= kOperators; ++n) {
      const auto i = static_cast<std::size_t>(n - 1);
      items[Key("operator", n)] = s.operatorNames[i];
      items[Key("position", n)] = s.positions[i];
    }
  }
  if (g.goods) {
    for (const auto& [code, goods] : s.goods) items[Key("goods", code)] = GoodsText(goods);
  }
  return items;
}

// How a write came out, item by item.
struct WriteJudgement {
  int changed = 0;                    // items the write was to change
  int fresh = 0;                      // of them, holding the new value
  std::vector<std::string> neither;   // items holding neither the old nor the new value
  std::vector<std::string> stale;     // changed items still holding the old value
  std::vector<std::string> unwanted;  // items the write was not to change that changed
};

std::string ItemValue(const Items& items, const std::string& key) {
  const auto it = items.find(key);
  return it == items.end() ? std::string("(none)") : it->second;
}

WriteJudgement JudgeWrite(const Items& before, const Items& intended, const Items& after) {
  WriteJudgement j;
  std::set<std::string> keys;
  for (const Items* m : {&before, &intended, &after})
    for (const auto& kv : *m) keys.insert(kv.first);
  for (const std::string& key : keys) {
    const std::string b = ItemValue(before, key);
    const std::string w = ItemValue(intended, key);
    const std::string a = ItemValue(after, key);
    const std::string line = key + ": before \"" + b + "\", written \"" + w + "\", now \"" + a + "\"";
    if (b != w) {
      ++j.changed;
      if (a == w) {
        ++j.fresh;
      } else if (a == b) {
        j.stale.push_back(line);
      } else {
        j.neither.push_back(line);
      }
    } else if (a != b) {
      j.unwanted.push_back(line);
    }
  }
  return j;
}

// Differences between what the PC read and what the register holds.
std::vector<std::string> CompareRead(const Items& expected, const Items& read) {
  std::vector<std::string> diffs;
  std::set<std::string> keys;
  for (const Items* m : {&expected, &read})
    for (const auto& kv : *m) keys.insert(kv.first);
  for (const std::string& key : keys) {
    const std::string e = ItemValue(expected, key);
    const std::string r = ItemValue(read, key);
    if (e != r) diffs.push_back(key + ": register \"" + e + "\", read \"" + r + "\"");
  }
  return diffs;
}

// The settings items as the PC shows them.
Items SeenSettings(const sim::RegisterState& s, ItemGroups g) {
  g.goods = false;
  Items items = ItemsOf(s, g);
  // The PC reads one font per block: that of line 1.
  if (g.receipt) {
    for (int n = 1; n <= kLines; ++n) {
      items[Key("header", n)] = LineText(s.header[0].font, s.header[static_cast<std::size_t>(n - 1)].text);
      items[Key("footer", n)] = LineText(s.footer[0].font, s.footer[static_cast<std::size_t>(n - 1)].text);
    }
  }
  return items;
}

// ---------------------------------------------------------------------------
// Random values of what a user writes.

class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(engine_); }
  double Real(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(engine_); }
  bool Chance(double p) { return Real(0, 1) < p; }
  std::uint64_t Next() { return engine_(); }
  template <typename T>
  const T& Pick(const std::vector<T>& v) {
    return v[static_cast<std::size_t>(Int(0, static_cast<int>(v.size()) - 1))];
  }

  // A text of 1..width characters the register prints, without blanks at
  // either end: Cyrillic and Latin letters, digits, punctuation that needs
  // quoting in the files (; " , '), and now and then the byte 0x7F, which
  // the link escapes.
  std::string Text(std::size_t width) {
    static const std::vector<std::string> kChars = [] {
      std::vector<std::string> c;
      for (char ch = 'A'; ch <= 'Z'; ++ch) c.emplace_back(1, ch);
      for (char ch = 'a'; ch <= 'z'; ++ch) c.emplace_back(1, ch);
      for (char ch = '0'; ch <= '9'; ++ch) c.emplace_back(1, ch);
      for (char32_t cp = U'А'; cp <= U'я'; ++cp) {
        std::string s;
        zarvik::AppendUtf8(s, cp);
        c.push_back(s);
      }
      for (const char* s : {"Ё", "ё", " ", " ", " ", ";", "\"", ",", "'", ".", "-", "=", "%", "(", ")"})
        c.emplace_back(s);
      return c;
    }();
    const std::size_t n = static_cast<std::size_t>(Int(1, static_cast<int>(width)));
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
      std::string ch = Chance(0.01) ? std::string("\x7f") : Pick(kChars);
      if ((i == 0 || i + 1 == n) && ch == " ") ch = "x";
      text += ch;
    }
    return text;
  }

 private:
  std::mt19937_64 engine_;
};

// ---------------------------------------------------------------------------
// zarvikctl as a child process.

struct CtlRun {
  int status = -1;  // exit status; -1 when ended by a signal
  int signal = 0;
  bool killed = false;  // by this program, on purpose
  bool hung = false;    // still running at its limit
  std::string out;
  std::string err;
  double seconds = 0;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

CtlRun RunCtl(const std::string& exe, const std::string& folder, const std::vector<std::string>& args,
              std::optional<Seconds> killAfter, Seconds limit) {
  CtlRun run;
  const std::string outPath = folder + "/ctl-out.txt";
  const std::string errPath = folder + "/ctl-err.txt";
  std::vector<std::string> argStore{exe};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string lang = "LC_ALL=C.UTF-8";
  std::string path = "PATH=/usr/bin:/bin";
  char* envp[] = {lang.data(), path.data(), nullptr};
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only what is safe between fork and exec in a process with threads.
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execve(exe.c_str(), argv.data(), envp);
    ::_exit(127);
  }
  if (pid < 0) return run;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    const Seconds took = Clock::now() - start;
    if (!run.killed && killAfter && took >= *killAfter) {
      ::kill(pid, SIGKILL);
      run.killed = true;
    } else if (!run.killed && took >= limit) {
      ::kill(pid, SIGKILL);
      run.hung = true;
      run.killed = true;
    }
    std::this_thread::sleep_for(kChildPoll);
  }
  run.seconds = Seconds(Clock::now() - start).count();
  if (WIFEXITED(status)) {
    run.status = WEXITSTATUS(status);
    run.killed = false;  // it ended by itself before the signal came
    run.hung = false;
  } else if (WIFSIGNALED(status)) {
    run.signal = WTERMSIG(status);
  }
  run.out = ReadFile(outPath);
  run.err = ReadFile(errPath);
  return run;
}

// A ";"-separated line as zarvikctl --csv writes it (fields quoted by
// QuoteCsvField).
std::vector<std::string> SplitCsvLine(const std::string& line) {
  std::vector<std::string> cells;
  std::size_t i = 0;
  for (;;) {
    std::string cell;
    if (i < line.size() && line[i] == '"') {
      ++i;
      while (i < line.size()) {
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            cell.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        cell.push_back(line[i++]);
      }
      while (i < line.size() && line[i] != ';') cell.push_back(line[i++]);
    } else {
      while (i < line.size() && line[i] != ';') cell.push_back(line[i++]);
    }
    cells.push_back(cell);
    if (i >= line.size()) break;
    ++i;  // the separator
  }
  return cells;
}

std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (header) {
      header = false;
      continue;
    }
    rows.push_back(SplitCsvLine(line));
  }
  return rows;
}

// "123,45" or "123.45" roubles in kopecks; -1 when not such a number.
std::int64_t Kopecks(const std::string& text) {
  zarvik::Currency c;
  std::string t = text;
  std::replace(t.begin(), t.end(), ',', '.');
  if (!zarvik::CurrencyFromText(t, c)) return -1;
  return c.raw / (zarvik::Currency::kScale / 100);
}

// ---------------------------------------------------------------------------
// Figures

enum class Outcome { Ok, Failed, Wrong, Killed, Hung, Crashed };
constexpr int kOutcomeCount = 6;

struct Tally {
  std::array<int, kOutcomeCount> n{};
  int& operator[](Outcome o) { return n[static_cast<std::size_t>(o)]; }
  int operator[](Outcome o) const { return n[static_cast<std::size_t>(o)]; }
  int Total() const {
    int t = 0;
    for (int v : n) t += v;
    return t;
  }
};

struct RateFigures {
  double rate = 0;
  Tally all;
  std::map<std::string, Tally> byOperation;
  int freezes = 0;
  int longFreezes = 0;
  int bursts = 0;
  int kills = 0;
  int faultsFired = 0;
  int stalls = 0;
  int goodsWritten = 0;   // goods records the register holds as written by operations that succeeded
  int goodsChecked = 0;   // goods records read back and compared
  int journalFrames = 0;  // journal frames (or record lines) read and compared
  double seconds = 0;
  std::vector<std::string> wrong;  // what each wrong result was
};

const char* OutcomeName(Outcome o) {
  switch (o) {
    case Outcome::Ok: return "ok";
    case Outcome::Failed: return "failed";
    case Outcome::Wrong: return "WRONG";
    case Outcome::Killed: return "killed";
    case Outcome::Hung: return "HUNG";
    case Outcome::Crashed: return "CRASHED";
  }
  return "?";
}

// ---------------------------------------------------------------------------
// Events during an operation: a freeze of the simulator or a burst of
// faults, at a random moment; cancelled when the operation ends first.

class EventThread {
 public:
  explicit EventThread(sim::Simulator& s) : sim_(s) {}
  ~EventThread() { Finish(); }
  EventThread(const EventThread&) = delete;
  EventThread& operator=(const EventThread&) = delete;

  // `freeze` > 0: pause the simulator that long; else arm `burst`.
  void Start(Seconds at, Seconds freeze, std::string burst) {
    Finish();
    cancelled_ = false;
    fired_ = false;
    thread_ = std::thread([this, at, freeze, burst] {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (cv_.wait_for(lock, at, [this] { return cancelled_; })) return;
        fired_ = true;
      }
      if (freeze.count() > 0) {
        sim_.Pause();
        std::this_thread::sleep_for(freeze);
        sim_.Resume();
      } else {
        sim_.AddFault(burst);
      }
    });
  }
  // Cancels an event that has not come yet and waits for one under way (a
  // freeze ends before the next operation starts). Whether it came.
  bool Finish() {
    if (!thread_.joinable()) return false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cancelled_ = true;
    }
    cv_.notify_all();
    thread_.join();
    return fired_;
  }

 private:
  sim::Simulator& sim_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool cancelled_ = false;
  bool fired_ = false;
};

// ---------------------------------------------------------------------------
// One fault rate.

std::string ScenarioText(const Options& o) {
  return ShopScenario(kGoodsCapacity, o.receipts, kGoodsCapacity);
}

// The faults armed for the whole run at rate R %: about R % of the packets
// the simulator sends or hears are hit.
std::vector<std::string> RateFaults(double rate) {
  if (rate <= 0) return {};
  const auto armed = [](const std::string& kind, double percent) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s@%.4f*inf", kind.c_str(), std::min(percent, 100.0));
    return std::string(buf);
  };
  return {
      // Data frames of the register: a quarter each.
      armed("crc", rate / 4),
      armed("drop", rate / 8),
      armed("drop=6", rate / 8),
      armed("extra", rate / 8),
      armed("extra=7", rate / 8),
      armed("seq", rate / 4),
      // Control packets of the register.
      armed("ctlcrc", rate / 2),
      // Answers to polls.
      armed("busy", rate / 6),
      armed("rej", rate / 6),
      armed("flood=3", rate / 6),
      // WAIT before an answer: mostly within the six poll cycles, now and
      // then beyond them.
      armed("wait=2", rate / 3),
      armed("wait=5", rate / 8),
      armed("wait=9", rate / 24),
      // Packets from the PC that the register does not hear.
      armed("silence", rate / 2),
  };
}

class RateRun {
 public:
  RateRun(const Options& o, double rate, std::uint64_t seed, RateFigures& fig)
      : options_(o), rate_(rate), random_(seed), figures_(fig) {
    figures_.rate = rate;
  }
  ~RateRun() {
    events_.reset();
    port_.Close();
    if (sim_) sim_->Close();
  }
  RateRun(const RateRun&) = delete;
  RateRun& operator=(const RateRun&) = delete;

  bool SetUp(const std::string& work) {
    work_ = work;
    sim::Scenario scenario;
    std::string error;
    if (!sim::LoadScenarioText(ScenarioText(options_), scenario, error)) {
      std::fprintf(stderr, "bench_soak: scenario: %s\n", error.c_str());
      return false;
    }
    sim_ = std::make_unique<sim::Simulator>(scenario);
    sim_->SeedFaults(random_.Next());
    std::string slave;
    if (!sim_->OpenPty(slave)) {
      std::fprintf(stderr, "bench_soak: %s\n", sim_->LastError().c_str());
      return false;
    }
    if (options_.baud > 0) sim_->SetPacing(options_.baud, true);
    zarvik::SetPortDevice(kSoakPort, slave);
    std::ofstream ini(work_ + "/ZarvikConfig.ini", std::ios::binary | std::ios::trunc);
    ini << "[Port]\r\nCOMPort=" << kSoakPort << "\r\n";
    if (options_.baud > 0) ini << "Speed=" << options_.baud << "\r\n";
    ini << "[NET]\r\nNUMBER=1\r\n[Devices]\r\nCOM" << kSoakPort << "=" << slave << "\r\n";
    ini.close();
    if (!ini || !sim_->Start() || !port_.SetPortNumber(kSoakPort)) {
      std::fprintf(stderr, "bench_soak: the simulator does not start\n");
      return false;
    }
    if (options_.baud > 0) port_.SetBaudRate(static_cast<std::uint32_t>(options_.baud));
    std::vector<std::string> faults = RateFaults(rate_);
    if (!options_.faults.empty()) {
      // Given faults; "R" stands for the rate in percent.
      faults.clear();
      for (std::string f : options_.faults) {
        if (const std::size_t at = f.find("@R"); at != std::string::npos) {
          char buf[32];
          std::snprintf(buf, sizeof buf, "@%.4f", rate_);
          f.replace(at, 2, buf);
        }
        faults.push_back(f);
      }
    }
    for (const std::string& f : faults) {
      if (!sim_->AddFault(f)) {
        std::fprintf(stderr, "bench_soak: fault %s: %s\n", f.c_str(), sim_->LastError().c_str());
        return false;
      }
    }
    events_ = std::make_unique<EventThread>(*sim_);
    // The option intervals of the model, as the program reads them.
    descriptor_.version = "B 003";
    descriptor_.descriptorTag = std::string(zarvik::kDescriptorTag);
    descriptor_.LoadDescriptor();
    // What the journal read must bring: the register's own frames.
    sim::RegisterState copy = sim_->State();
    journalFrames_ = sim::ExecuteCommand(copy, Bytes{0x01, 0x0F, 0x00, 0x00}, true);
    for (const Bytes& f : journalFrames_) {
      for (const std::string& line :
           SplitLines(zarvik::DecodeJournalReply(std::span<const std::uint8_t>(f.data(), f.size()))))
        journalLines_.push_back(line);
    }
    return true;
  }

  void Run(Clock::time_point deadline) {
    const auto start = Clock::now();
    const auto timeLeft = [&] { return Clock::now() < deadline; };
    for (int round = 1; options_.rounds == 0 || round <= options_.rounds; ++round) {
      if (!timeLeft()) break;
      if (options_.verbose) std::printf("  round %d\n", round);
      const auto wanted = [&](const char* op) { return options_.ops.count(op) != 0 && timeLeft(); };
      if (wanted("settings-write")) UseCtl() ? CtlWriteSettings(timeLeft) : InprocWriteSettings();
      if (wanted("settings-read")) UseCtl() ? CtlReadSettings(timeLeft) : InprocReadSettings();
      if (wanted("goods-write")) UseCtl() ? CtlWriteGoods() : InprocWriteGoods();
      if (wanted("goods-read")) UseCtl() ? CtlReadGoods() : InprocReadGoods();
      if (wanted("journal")) UseCtl() ? CtlReadJournal() : InprocReadJournal();
    }
    figures_.seconds = Seconds(Clock::now() - start).count();
    for (int k = 0; k < sim::kFaultKindCount; ++k)
      figures_.faultsFired += sim_->FaultsFired(static_cast<sim::FaultKind>(k));
    figures_.stalls = sim_->Stalls();
  }

 private:
  static std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
      const std::size_t end = text.find("\r\n", pos);
      lines.push_back(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
      if (end == std::string::npos) break;
      pos = end + 2;
    }
    return lines;
  }

  bool UseCtl() {
    if (options_.mode == "ctl") return true;
    if (options_.mode == "inproc") return false;
    return random_.Chance(0.5);
  }

  double EventChance() const { return std::min(0.9, rate_ * options_.events / 100.0); }

  // Expected seconds of an operation: what the same kind took so far.
  Seconds Expected(const std::string& name, double guess) {
    const auto it = durations_.find(name);
    return Seconds(it == durations_.end() ? guess : it->second);
  }
  void Took(const std::string& name, double seconds) {
    auto [it, fresh] = durations_.emplace(name, seconds);
    if (!fresh) it->second = 0.7 * it->second + 0.3 * seconds;
  }

  // Plans the event of an operation that should take `expected`.
  void PlanEvent(Seconds expected) {
    if (!random_.Chance(EventChance())) return;
    const Seconds at(random_.Real(0.0, std::max(0.05, expected.count())));
    const int kind = random_.Int(0, 5);
    if (kind <= 1) {
      const bool longOne = kind == 1;
      const Seconds d(longOne ? random_.Real(kLongFreezeMin.count(), kLongFreezeMax.count())
                              : random_.Real(kShortFreezeMin.count(), kShortFreezeMax.count()));
      plannedFreeze_ = longOne ? 2 : 1;
      events_->Start(at, d, {});
      return;
    }
    static const std::vector<std::string> kBursts = {"busy*", "rej*", "wait=", "silence*", "crc*", "ctlcrc*"};
    plannedFreeze_ = 0;
    events_->Start(at, Seconds(0), random_.Pick(kBursts) + std::to_string(random_.Int(2, 7)));
  }
  void EndEvent() {
    if (!events_->Finish()) return;
    if (plannedFreeze_ == 0) {
      ++figures_.bursts;
    } else {
      ++figures_.freezes;
      if (plannedFreeze_ == 2) ++figures_.longFreezes;
    }
  }

  Clock::time_point lastRecord_ = Clock::now();

  void Record(const std::string& op, Outcome outcome, const std::string& detail = {},
              const std::vector<std::string>& evidence = {}, bool count = true) {
    if (count) {
      ++figures_.all[outcome];
      ++figures_.byOperation[op][outcome];
    }
    if (outcome == Outcome::Failed && detail.empty()) {
      // What the program said last: the reason it gave.
      const std::vector<std::string> lines = gConsole.Lines();
      const std::string said = lines.empty() ? zarvik::LastErrorMessage : lines.back();
      if (!said.empty()) return Record(op, outcome, said, evidence, false);
    }
    // The time since the last operation ended: this one's, with its checks.
    const Clock::time_point now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - lastRecord_).count();
    lastRecord_ = now;
    if (options_.verbose || outcome == Outcome::Wrong || outcome == Outcome::Hung ||
        outcome == Outcome::Crashed)
      std::printf("  %-22s %6.1f s  %s%s%s\n", op.c_str(), seconds, OutcomeName(outcome),
                  detail.empty() ? "" : ": ", detail.c_str());
    std::fflush(stdout);
    if (outcome == Outcome::Wrong || outcome == Outcome::Hung || outcome == Outcome::Crashed) {
      const int n = static_cast<int>(figures_.wrong.size()) + 1;
      char name[96];
      std::snprintf(name, sizeof name, "/rate%g-%s-%d.txt", rate_, OutcomeName(outcome), n);
      std::ofstream f(work_ + name, std::ios::binary);
      f << op << ": " << detail << "\n\n";
      for (const std::string& e : evidence) f << e << "\n";
      f << "\nlast messages:\n";
      for (const std::string& l : gConsole.Lines()) f << l << "\n";
      figures_.wrong.push_back(op + " (" + OutcomeName(outcome) + "): " + detail + " [" + work_ + name + "]");
      std::fflush(stdout);
    }
  }

  // The outcome of a write from its own report (ok: it said it succeeded)
  // and what the register holds now.
  Outcome JudgeWriteOutcome(const std::string& op, bool ok, const Items& before, const Items& intended,
                            std::vector<std::string>& evidence, std::string& detail,
                            int reportedWritten = 0) {
    const WriteJudgement j = JudgeWrite(before, intended, ItemsOf(sim_->State()));
    for (const auto* list : {&j.neither, &j.unwanted, &j.stale})
      evidence.insert(evidence.end(), list->begin(), list->end());
    if (!j.neither.empty() || !j.unwanted.empty()) {
      detail = std::to_string(j.neither.size()) + " values neither old nor new, " +
               std::to_string(j.unwanted.size()) + " values changed that were not written";
      return Outcome::Wrong;
    }
    if (ok && !j.stale.empty()) {
      detail = "reported written, but " + std::to_string(j.stale.size()) + " of " +
               std::to_string(j.changed) + " values are the old ones";
      return Outcome::Wrong;
    }
    if (!ok && j.fresh < reportedWritten) {
      detail = "reported " + std::to_string(reportedWritten) + " written, the register has " +
               std::to_string(j.fresh);
      return Outcome::Wrong;
    }
    (void)op;
    return ok ? Outcome::Ok : Outcome::Failed;
  }

  // ---- in process ----------------------------------------------------------

  // Opens the port and identifies the register as the window's connect does
  // (a failure here fails the operation).
  bool InprocConnect(bool full) {
    if (!port_.Open()) return false;
    if (!protocol_.GetInfo()) return false;
    if (!full) return true;
    if (!protocol_.GetDateTime() || !protocol_.GetOptions()) return false;
    operatorCount_ = protocol_.GetOperatorCount();
    return operatorCount_ > 0;
  }

  // Runs an in-process operation with its event; the port is closed after
  // it, so that zarvikctl can take the line.
  template <typename F>
  bool InprocRun(const std::string& op, double guess, F body) {
    gConsole.Clear();
    zarvik::LastErrorMessage.clear();
    PlanEvent(Expected(op, guess));
    const auto start = Clock::now();
    const bool ok = body();
    Took(op, Seconds(Clock::now() - start).count());
    EndEvent();
    port_.Close();
    return ok;
  }

  Items RandomSettings(const sim::RegisterState& before, zarvik::TKKMInfo& info, int& headerFont,
                       int& footerFont) {
    sim::RegisterState s = before;
    for (int n = 1; n <= kOptions; ++n) {
      const zarvik::TOptionsInfo& o = descriptor_.options[static_cast<std::size_t>(n - 1)];
      int v = random_.Int(o.minValue, o.maxValue);
      if (o.canNull && random_.Chance(0.2)) v = 0;
      s.options[static_cast<std::size_t>(n - 1)] = static_cast<std::uint8_t>(v);
      info.optionValues[static_cast<std::size_t>(n - 1)] = static_cast<std::uint8_t>(v);
    }
    info.optionCount = kOptions;
    for (int n = 1; n <= kDepartments; ++n) {
      sim::Department& d = s.departments[static_cast<std::size_t>(n - 1)];
      zarvik::TDepRec& r = info.departments[static_cast<std::size_t>(n - 1)];
      RandomDepartment(d);
      r.status = zarvik::LangResStrHandler.Text(d.status == kDepGoods     ? zarvik::ltDepGoods
                                                : d.status == kDepService ? zarvik::ltDepService
                                                                          : zarvik::ltDepClosed);
      r.name = d.name;
      r.taxGroup = d.status == kDepClosed ? "0" : std::string(1, static_cast<char>('A' + d.taxGroup - 1));
      r.price = zarvik::HundredthsToMoney(static_cast<std::int64_t>(d.priceLimit));
    }
    headerFont = random_.Int(0, kHighestFont);
    footerFont = random_.Int(0, kHighestFont);
    info.headerFont = static_cast<std::uint8_t>(headerFont);
    info.footerFont = static_cast<std::uint8_t>(footerFont);
    for (int n = 1; n <= kLines; ++n) {
      const auto i = static_cast<std::size_t>(n - 1);
      s.header[i] = sim::TextLine{static_cast<std::uint8_t>(headerFont), random_.Text(kLineWidth)};
      s.footer[i] = sim::TextLine{static_cast<std::uint8_t>(footerFont), random_.Text(kLineWidth)};
      info.headerLines[i] = s.header[i].text;
      info.footerLines[i] = s.footer[i].text;
    }
    for (int n = 1; n <= kOperators; ++n) {
      const auto i = static_cast<std::size_t>(n - 1);
      s.operatorNames[i] = random_.Text(kOperatorNameWidth);
      s.positions[i] = random_.Text(kPositionWidth);
      info.operatorNames[i] = s.operatorNames[i];
      info.positions[i] = s.positions[i];
    }
    return ItemsOf(s);
  }

  void RandomDepartment(sim::Department& d) {
    const int kind = random_.Int(0, 9);
    if (kind == 0) {
      d = sim::Department{};
      d.status = kDepClosed;
      return;
    }
    d.status = kind <= 6 ? kDepGoods : kDepService;
    d.name = random_.Text(kDepartmentNameWidth);
    d.taxGroup = static_cast<std::uint8_t>(random_.Int(1, kTaxGroups));
    d.priceLimit = random_.Chance(0.1) ? 0
                                       : static_cast<std::uint64_t>(random_.Int(1, 999999)) *
                                             static_cast<std::uint64_t>(random_.Int(1, 9999));
  }

  void InprocWriteSettings() {
    const std::string op = "settings write";
    const sim::RegisterState before = sim_->State();
    zarvik::TKKMInfo& info = kkm_.Info();
    std::vector<std::string> evidence;
    std::string detail;
    bool ok = false;
    const bool done = InprocRun(op, 5.0, [&] {
      if (!InprocConnect(false)) return false;
      // What the user edited replaces what was read.
      int headerFont = 0;
      int footerFont = 0;
      intended_ = RandomSettings(before, info, headerFont, footerFont);
      if (!protocol_.SetOptions()) return false;
      for (int n = 1; n <= kDepartments; ++n)
        if (!protocol_.SetDepartment(n)) return false;
      for (int n = 1; n <= kLines; ++n)
        if (!protocol_.SetHeaderLine(n)) return false;
      for (int n = 1; n <= kLines; ++n)
        if (!protocol_.SetFooterLine(n)) return false;
      for (int n = 1; n <= kOperators; ++n)
        if (!protocol_.SetOperatorName(n) || !protocol_.SetPosition(n)) return false;
      return true;
    });
    ok = done;
    // Identification failed before anything was chosen: nothing to write.
    const Items intended = intended_.empty() ? ItemsOf(before) : intended_;
    intended_.clear();
    Record(op, JudgeWriteOutcome(op, ok, ItemsOf(before), intended, evidence, detail), detail, evidence);
  }

  Items InprocSettingsItems(int operators) {
    const zarvik::TKKMInfo& info = kkm_.Info();
    Items items;
    for (int n = 1; n <= info.optionCount; ++n)
      items[Key("option", n)] = std::to_string(info.optionValues[static_cast<std::size_t>(n - 1)]);
    const std::string goods = zarvik::LangResStrHandler.Text(zarvik::ltDepGoods);
    const std::string service = zarvik::LangResStrHandler.Text(zarvik::ltDepService);
    for (int n = 1; n <= kDepartments; ++n) {
      const zarvik::TDepRec& d = info.departments[static_cast<std::size_t>(n - 1)];
      const std::uint8_t status = d.status == goods     ? kDepGoods
                                  : d.status == service ? kDepService
                                                        : kDepClosed;
      const std::string tax = zarvik::Utf8ToCp1251(d.taxGroup);
      const int group = tax.size() == 1 ? static_cast<std::uint8_t>(tax[0]) - kTaxLetterBase : -1;
      items[Key("department", n)] =
          status == kDepClosed && (d.name.empty() && d.taxGroup == "0" && d.price == 0.0)
              ? std::string("closed")
              : DepartmentText(status, d.name, group,
                               static_cast<std::uint64_t>(zarvik::MoneyToHundredths(d.price)));
    }
    for (int n = 1; n <= kLines; ++n) {
      const auto i = static_cast<std::size_t>(n - 1);
      items[Key("header", n)] = LineText(info.headerFont, info.headerLines[i]);
      items[Key("footer", n)] = LineText(info.footerFont, info.footerLines[i]);
    }
    for (int n = 1; n <= operators; ++n) {
      const auto i = static_cast<std::size_t>(n - 1);
      items[Key("operator", n)] = info.operatorNames[i];
      items[Key("position", n)] = info.positions[i];
    }
    return items;
  }

  void InprocReadSettings() {
    const std::string op = "settings read";
    const sim::RegisterState s = sim_->State();
    zarvik::TKKMInfo& info = kkm_.Info();
    const bool ok = InprocRun(op, 7.0, [&] {
      if (!InprocConnect(true)) return false;
      for (int n = 1; n <= info.maxCountDepat; ++n)
        if (!protocol_.GetDepartment(n)) return false;
      for (int n = 1; n <= kLines; ++n)
        if (!protocol_.GetHeaderLine(n)) return false;
      for (int n = 1; n <= kLines; ++n)
        if (!protocol_.GetFooterLine(n)) return false;
      for (int n = 1; n <= zarvik::kTaxCount; ++n)
        if (!protocol_.GetTax(n)) return false;
      for (int n = 1; n <= operatorCount_; ++n)
        if (!protocol_.GetOperatorName(n) || !protocol_.GetPosition(n)) return false;
      return true;
    });
    if (!ok) {
      Record(op, Outcome::Failed);
      return;
    }
    std::vector<std::string> diffs = CompareRead(SeenSettings(s, {}), InprocSettingsItems(operatorCount_));
    // Identity, clock and taxes.
    const auto expect = [&](const std::string& what, const std::string& want, const std::string& got) {
      if (want != got) diffs.push_back(what + ": register \"" + want + "\", read \"" + got + "\"");
    };
    expect("model", s.model, info.model);
    expect("serial number", s.serialNumber, info.serialNumber);
    expect("version", s.version, info.version);
    expect("work mode", std::to_string(s.workMode), std::to_string(info.workMode));
    expect("date", s.dateTime.substr(0, 8), info.dateText);
    expect("time", s.dateTime.substr(9, 8), info.timeText);
    expect("goods capacity", std::to_string(kGoodsCapacity), std::to_string(info.maxCountGoods));
    expect("departments", std::to_string(s.maxCountDepat), std::to_string(info.maxCountDepat));
    expect("operators", std::to_string(s.operatorCount), std::to_string(operatorCount_));
    for (int n = 1; n <= zarvik::kTaxCount; ++n) {
      const sim::Tax& t = s.taxes[static_cast<std::size_t>(n - 1)];
      const zarvik::TTaxRec& r = info.taxes[static_cast<std::size_t>(n - 1)];
      expect(Key("tax defined", n), std::to_string(t.defined), std::to_string(r.defined));
      if (t.defined == zarvik::TTaxRec::kDefinedMark) {
        expect(
            Key("tax", n), std::to_string(t.kind) + "|" + std::to_string(t.rateHundredths) + "|" + t.name,
            std::to_string(r.kind) + "|" + std::to_string(zarvik::MoneyToHundredths(r.rate)) + "|" + r.name);
      }
    }
    CountRead(op, diffs);
  }

  void CountRead(const std::string& op, const std::vector<std::string>& diffs) {
    if (!diffs.empty()) {
      Record(op, Outcome::Wrong, std::to_string(diffs.size()) + " values differ, e.g. " + diffs.front(),
             diffs);
      return;
    }
    Record(op, Outcome::Ok);
  }

  // The next batch of goods codes: the batches go round all codes.
  std::vector<int> NextBatch() {
    std::vector<int> codes;
    for (int k = 0; k < options_.batch; ++k) {
      codes.push_back(nextCode_);
      nextCode_ = nextCode_ % kGoodsCapacity + 1;
    }
    return codes;
  }

  // A random goods row for `code` in the goods table, and the record the
  // register is to hold after it is written (nullopt: deleted).
  std::optional<sim::Goods> RandomGoodsRow(zarvik::TWorkTable& t, int code, const sim::RegisterState& before,
                                           bool keepSold) {
    t.Append();
    t.SetInteger("Code", code);
    if (random_.Chance(0.02)) {  // marked for deletion
      t.SetInteger("Type", 0);
      t.SetText("Name", "");
      t.SetInteger("NG", 1);
      t.SetCurrency("Price", zarvik::Currency{});
      t.SetInteger("Section", 0);
      t.Post();
      return std::nullopt;
    }
    sim::Goods g;
    g.code = code;
    const int kind = random_.Int(0, 9);
    g.type = static_cast<std::uint8_t>(kind <= 6 ? kTypeGoods : kind <= 8 ? kTypeService : kTypeContainer);
    g.name = random_.Text(kGoodsNameWidth);
    g.price =
        static_cast<std::uint64_t>(random_.Int(0, 99999)) * static_cast<std::uint64_t>(random_.Int(0, 9999));
    g.taxGroup = static_cast<std::uint8_t>(random_.Int(1, kTaxGroups));
    g.section = static_cast<std::uint8_t>(random_.Int(0, kDepartments));
    const bool blocked = random_.Chance(0.1);
    const bool byPiece = random_.Chance(0.7);
    g.flags = static_cast<std::uint8_t>(blocked ? kFlagBlocked : 0);
    g.barcode.clear();
    const int barcodeKind = random_.Int(0, 3);
    std::string barcode;
    if (barcodeKind > 0) {
      const int digits = barcodeKind == 1 ? 8 : barcodeKind == 2 ? 13 : 20;
      barcode = std::to_string(random_.Int(1, 9));
      for (int i = 1; i < digits; ++i) barcode += std::to_string(random_.Int(0, 9));
    }
    if (g.type == kTypeGoods) {
      if (byPiece) g.flags = static_cast<std::uint8_t>(g.flags | kFlagByPiece);
      g.barcode = barcode;
    }
    const auto old = before.goods.find(code);
    g.sold = keepSold && old != before.goods.end() ? old->second.sold : 0;
    t.SetInteger("Type", g.type);
    t.SetText("Name", g.name);
    t.SetInteger("NG", g.taxGroup);
    t.SetCurrency("Price", zarvik::Currency::FromRaw(static_cast<std::int64_t>(g.price) * 100));
    t.SetInteger("Section", g.section);
    t.SetInteger("Vesovoy", byPiece ? 1 : 2);
    t.SetText("Shtrih", barcode);
    t.SetBoolean("isBlock", blocked);
    t.Post();
    return g;
  }

  Items GoodsIntended(const sim::RegisterState& before,
                      const std::map<int, std::optional<sim::Goods>>& rows) {
    sim::RegisterState s = before;
    for (const auto& [code, g] : rows) {
      if (g) {
        s.goods[code] = *g;
      } else {
        s.goods.erase(code);
      }
    }
    return ItemsOf(s);
  }

  void InprocWriteGoods() {
    const std::string op = "goods write";
    const sim::RegisterState before = sim_->State();
    zarvik::TWorkTable& t = bd_.mtTOBAP;
    zarvik::ClearRows(t);
    const bool keepSold = random_.Chance(0.5);
    std::map<int, std::optional<sim::Goods>> rows;
    for (const int code : NextBatch()) rows[code] = RandomGoodsRow(t, code, before, keepSold);
    zarvik::TKKMInfo& info = kkm_.Info();
    int written = 0;
    const bool ok = InprocRun(op, 0.08 * options_.batch + 1.0, [&] {
      if (!InprocConnect(false)) return false;
      info.keepSoldCount = keepSold;
      for (t.First(); !t.Eof(); t.Next()) {
        if (!zarvik::GoodsRowToRecord(t, info)) return false;
        // As the window writes: a record whose exchange failed is sent again.
        if (!zarvik::SetGoodsResuming(protocol_, {})) return false;
        ++written;
      }
      return true;
    });
    std::vector<std::string> evidence;
    std::string detail;
    const Outcome o =
        JudgeWriteOutcome(op, ok, ItemsOf(before), GoodsIntended(before, rows), evidence, detail, written);
    if (o == Outcome::Ok) figures_.goodsWritten += written;
    Record(op, o, detail, evidence);
  }

  Items ExpectedGoodsSeen(const sim::RegisterState& s, bool withSold) {
    Items items;
    for (const auto& [code, g] : s.goods) items[Key("goods", code)] = GoodsSeenText(g, withSold);
    return items;
  }

  void InprocReadGoods() {
    const std::string op = "goods read";
    const sim::RegisterState s = sim_->State();
    sim::RegisterState copy = s;
    const std::vector<Bytes> expected = sim::ExecuteCommand(copy, Bytes{0x01, 0x10, 0x01, 0x00}, true);
    std::vector<Bytes> frames;
    const bool ok = InprocRun(op, 6.0, [&] {
      if (!InprocConnect(false)) return false;
      // As the window reads: a stream that breaks off goes on where it stopped.
      return zarvik::ReadAllGoodsResuming(
          protocol_,
          [&](zarvik::TMessageBuffer& answer, bool&) {
            const auto v = answer.View();
            frames.emplace_back(v.begin(), v.end());
          },
          {});
    });
    if (!ok) {
      Record(op, Outcome::Failed);
      return;
    }
    CompareFrames(op, expected, frames);
    if (frames == expected) figures_.goodsChecked += static_cast<int>(s.goods.size());
  }

  // A streamed read must hand over exactly the register's frames, in order.
  void CompareFrames(const std::string& op, const std::vector<Bytes>& expected,
                     const std::vector<Bytes>& got) {
    if (got == expected) {
      Record(op, Outcome::Ok);
      return;
    }
    std::vector<std::string> diffs;
    diffs.push_back("frames: register " + std::to_string(expected.size()) + ", delivered " +
                    std::to_string(got.size()));
    for (std::size_t i = 0; i < std::max(expected.size(), got.size()) && diffs.size() < 20; ++i) {
      const Bytes none;
      const Bytes& e = i < expected.size() ? expected[i] : none;
      const Bytes& g = i < got.size() ? got[i] : none;
      if (e != g)
        diffs.push_back("frame " + std::to_string(i + 1) + ": register " +
                        sim::HexBytes(e.data(), std::min<std::size_t>(e.size(), 24)) + "... (" +
                        std::to_string(e.size()) + " bytes), delivered " +
                        sim::HexBytes(g.data(), std::min<std::size_t>(g.size(), 24)) + "... (" +
                        std::to_string(g.size()) + " bytes)");
    }
    Record(op, Outcome::Wrong, diffs.size() > 1 ? diffs[0] + "; " + diffs[1] : diffs[0], diffs);
  }

  void InprocReadJournal() {
    const std::string op = "journal read";
    std::vector<Bytes> frames;
    const bool ok = InprocRun(op, 5.0, [&] {
      if (!InprocConnect(false)) return false;
      return zarvik::ReadJournalResuming(
          protocol_,
          [&](zarvik::TMessageBuffer& answer, bool& more) {
            const auto v = answer.View();
            frames.emplace_back(v.begin(), v.end());
            // As the journal page: the end mark stops the transfer.
            if (v.size() > 2 && v[2] == 9) more = false;
          },
          {});
    });
    if (!ok) {
      Record(op, Outcome::Failed);
      return;
    }
    CompareFrames(op, journalFrames_, frames);
    if (frames == journalFrames_) figures_.journalFrames += static_cast<int>(frames.size());
  }

  // ---- zarvikctl -----------------------------------------------------------

  // Runs one zarvikctl command with its event and, by chance, a kill.
  CtlRun Ctl(const std::string& op, double guess, std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", std::to_string(kSoakPort)});
    const Seconds expected = Expected(op, guess);
    std::optional<Seconds> killAt;
    if (random_.Chance(EventChance())) killAt = Seconds(random_.Real(0.0, expected.count()));
    PlanEvent(expected);
    gConsole.Clear();
    CtlRun run = RunCtl(options_.ctl, work_, args, killAt,
                        expected * 4.0 * (1.0 + kRepairAllowancePerPercent * rate_) + kCtlGrace);
    EndEvent();
    if (!run.killed) Took(op, run.seconds);
    if (run.killed && !run.hung) ++figures_.kills;
    return run;
  }

  static std::string LastLine(const std::string& text) {
    std::size_t end = text.size();
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
    const std::size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end - (start == std::string::npos ? 0 : start + 1));
  }

  // What became of a zarvikctl run before its data is looked at: nullopt
  // when it says it succeeded.
  std::optional<Outcome> CtlStatus(const CtlRun& run, std::string& detail) {
    if (run.hung) {
      detail = "still running after " + std::to_string(static_cast<int>(run.seconds)) + " s";
      return Outcome::Hung;
    }
    if (run.killed) return Outcome::Killed;
    if (run.signal != 0) {
      detail = "ended by signal " + std::to_string(run.signal) + "; " + run.err;
      return Outcome::Crashed;
    }
    if (run.status == kCtlOk) return std::nullopt;
    if ((run.status == kCtlFailed && run.err.find("Error:") != std::string::npos) ||
        (run.status == kCtlUsage && !run.err.empty())) {
      detail = LastLine(run.err);
      return Outcome::Failed;
    }
    detail = "exit status " + std::to_string(run.status) + " without an error message: " + run.err;
    return Outcome::Wrong;
  }

  void CtlWrite(const std::string& op, double guess, const std::vector<std::string>& args,
                const Items& before, const Items& intended) {
    const CtlRun run = Ctl(op, guess, args);
    std::string detail;
    const std::optional<Outcome> status = CtlStatus(run, detail);
    std::vector<std::string> evidence{"zarvikctl " + Joined(args), "exit " + std::to_string(run.status),
                                      "stderr:", run.err};
    if (status && (*status == Outcome::Hung || *status == Outcome::Crashed || *status == Outcome::Wrong)) {
      Record(op, *status, detail, evidence);
      return;
    }
    const bool ok = !status;
    int reported = 0;
    // "... записано 12 тов." of a failed goods write.
    if (const std::size_t at = run.err.find("записано "); !ok && at != std::string::npos)
      reported = std::atoi(run.err.c_str() + at + std::strlen("записано "));
    Outcome o = JudgeWriteOutcome(op, ok, before, intended, evidence, detail, reported);
    if (o == Outcome::Failed && status) o = *status;  // killed stays killed
    if (o == Outcome::Ok && op == "ctl goods write") figures_.goodsWritten += options_.batch;
    Record(op, o, detail, evidence);
  }

  static std::string Joined(const std::vector<std::string>& args) {
    std::string s;
    for (const std::string& a : args) s += (s.empty() ? "" : " ") + ("'" + a + "'");
    return s;
  }

  template <typename TimeLeft>
  void CtlWriteSettings(const TimeLeft& timeLeft) {
    // Options: all of them in one command.
    {
      const sim::RegisterState before = sim_->State();
      sim::RegisterState s = before;
      std::vector<std::string> args{"options", "set"};
      for (int n = 1; n <= kOptions; ++n) {
        const zarvik::TOptionsInfo& o = descriptor_.options[static_cast<std::size_t>(n - 1)];
        int v = random_.Int(o.minValue, o.maxValue);
        if (o.canNull && random_.Chance(0.2)) v = 0;
        s.options[static_cast<std::size_t>(n - 1)] = static_cast<std::uint8_t>(v);
        args.push_back(std::to_string(n) + "=" + std::to_string(v));
      }
      CtlWrite("ctl options set", 1.5, args, ItemsOf(before), ItemsOf(s));
    }
    // A few departments, one command each.
    for (int k = random_.Int(1, 3); k > 0 && timeLeft(); --k) {
      const sim::RegisterState before = sim_->State();
      sim::RegisterState s = before;
      const int n = random_.Int(1, kDepartments);
      sim::Department& d = s.departments[static_cast<std::size_t>(n - 1)];
      RandomDepartment(d);
      std::vector<std::string> args{"departments", "set", std::to_string(n)};
      if (d.status == kDepClosed) {
        args.emplace_back("status=closed");
      } else {
        args.push_back(d.status == kDepGoods ? "status=goods" : "status=service");
        args.push_back("name=" + d.name);
        args.push_back(std::string("group=") + static_cast<char>('A' + d.taxGroup - 1));
        args.push_back("price=" + sim::FormatScaled(d.priceLimit, 2));
      }
      CtlWrite("ctl departments set", 1.5, args, ItemsOf(before), ItemsOf(s));
    }
    if (!timeLeft()) return;
    // Receipt lines: some of them, and the fonts now and then.
    {
      const sim::RegisterState before = sim_->State();
      sim::RegisterState s = before;
      std::vector<std::string> args{"receipt", "set"};
      int headerFont = before.header[0].font;
      int footerFont = before.footer[0].font;
      if (random_.Chance(0.5)) {
        headerFont = random_.Int(0, kHighestFont);
        args.push_back("--header-font");
        args.push_back(std::to_string(headerFont));
      }
      if (random_.Chance(0.5)) {
        footerFont = random_.Int(0, kHighestFont);
        args.push_back("--footer-font");
        args.push_back(std::to_string(footerFont));
      }
      for (int n = 1; n <= kLines; ++n) {
        const auto i = static_cast<std::size_t>(n - 1);
        if (random_.Chance(0.4)) {
          s.header[i].text = random_.Text(kLineWidth);
          args.push_back("header." + std::to_string(n) + "=" + s.header[i].text);
        }
        if (random_.Chance(0.4)) {
          s.footer[i].text = random_.Text(kLineWidth);
          args.push_back("footer." + std::to_string(n) + "=" + s.footer[i].text);
        }
        // Every line is written, with the block's font.
        s.header[i].font = static_cast<std::uint8_t>(headerFont);
        s.footer[i].font = static_cast<std::uint8_t>(footerFont);
      }
      if (args.size() == 2) {
        s.header[0].text = random_.Text(kLineWidth);
        args.push_back("header.1=" + s.header[0].text);
      }
      CtlWrite("ctl receipt set", 3.0, args, ItemsOf(before), ItemsOf(s));
    }
    // An operator or two.
    for (int k = random_.Int(1, 2); k > 0 && timeLeft(); --k) {
      const sim::RegisterState before = sim_->State();
      sim::RegisterState s = before;
      const int n = random_.Int(1, kOperators);
      const auto i = static_cast<std::size_t>(n - 1);
      std::vector<std::string> args{"operators", "set", std::to_string(n)};
      if (random_.Chance(0.8)) {
        s.operatorNames[i] = random_.Text(kOperatorNameWidth);
        args.push_back("name=" + s.operatorNames[i]);
      }
      if (args.size() == 3 || random_.Chance(0.8)) {
        s.positions[i] = random_.Text(kPositionWidth);
        args.push_back("position=" + s.positions[i]);
      }
      CtlWrite("ctl operators set", 4.0, args, ItemsOf(before), ItemsOf(s));
    }
  }

  // Runs a zarvikctl read; the rows of its --csv output when it succeeded.
  std::optional<std::vector<std::vector<std::string>>> CtlRead(const std::string& op, double guess,
                                                               const std::vector<std::string>& args) {
    const CtlRun run = Ctl(op, guess, args);
    std::string detail;
    if (const std::optional<Outcome> status = CtlStatus(run, detail)) {
      Record(op, *status, detail, {"stderr:", run.err});
      return std::nullopt;
    }
    return CsvRows(run.out);
  }

  template <typename TimeLeft>
  void CtlReadSettings(const TimeLeft& timeLeft) {
    const sim::RegisterState s = sim_->State();
    if (auto rows = CtlRead("ctl options get", 1.5, {"--csv", "options", "get"})) {
      Items read;
      for (const auto& r : *rows)
        if (r.size() >= 2) read[Key("option", std::atoi(r[0].c_str()))] = r[1];
      ItemGroups g{true, false, false, false, false};
      CountRead("ctl options get", CompareRead(SeenSettings(s, g), read));
    }
    if (!timeLeft()) return;
    if (auto rows = CtlRead("ctl departments get", 2.0, {"--csv", "departments", "get"})) {
      const std::string goods = zarvik::LangResStrHandler.Text(zarvik::ltDepGoods);
      const std::string service = zarvik::LangResStrHandler.Text(zarvik::ltDepService);
      Items read;
      for (const auto& r : *rows) {
        if (r.size() < 5) continue;
        const std::uint8_t status = r[1] == goods ? kDepGoods : r[1] == service ? kDepService : kDepClosed;
        const std::string tax = zarvik::Utf8ToCp1251(r[3]);
        const int group = tax.size() == 1 ? static_cast<std::uint8_t>(tax[0]) - kTaxLetterBase : -1;
        read[Key("department", std::atoi(r[0].c_str()))] =
            status == kDepClosed && r[2].empty() && r[3] == "0" && Kopecks(r[4]) == 0
                ? std::string("closed")
                : DepartmentText(status, r[2], group, static_cast<std::uint64_t>(Kopecks(r[4])));
      }
      ItemGroups g{false, true, false, false, false};
      CountRead("ctl departments get", CompareRead(SeenSettings(s, g), read));
    }
    if (!timeLeft()) return;
    if (auto rows = CtlRead("ctl receipt get", 3.0, {"--csv", "receipt", "get"})) {
      Items read;
      int index = 0;
      for (const auto& r : *rows) {
        if (r.size() < 4) continue;
        read[Key(index < kLines ? "header" : "footer", std::atoi(r[1].c_str()))] =
            LineText(std::atoi(r[2].c_str()), r[3]);
        ++index;
      }
      ItemGroups g{false, false, true, false, false};
      CountRead("ctl receipt get", CompareRead(SeenSettings(s, g), read));
    }
    if (!timeLeft()) return;
    if (auto rows = CtlRead("ctl operators get", 4.0, {"--csv", "operators", "get"})) {
      Items read;
      for (const auto& r : *rows) {
        if (r.size() < 3) continue;
        read[Key("operator", std::atoi(r[0].c_str()))] = r[1];
        read[Key("position", std::atoi(r[0].c_str()))] = r[2];
      }
      ItemGroups g{false, false, false, true, false};
      CountRead("ctl operators get", CompareRead(SeenSettings(s, g), read));
    }
  }

  void CtlWriteGoods() {
    const std::string op = "ctl goods write";
    const sim::RegisterState before = sim_->State();
    zarvik::TWorkTable& t = bd_.mtTOBAP;
    zarvik::ClearRows(t);
    const bool keepSold = random_.Chance(0.5);
    std::map<int, std::optional<sim::Goods>> rows;
    for (const int code : NextBatch()) rows[code] = RandomGoodsRow(t, code, before, keepSold);
    // The window's export writes the file zarvikctl reads, as a user would
    // hand it over.
    const bool dbf = random_.Chance(0.5);
    const std::string file = work_ + (dbf ? "/batch.dbf" : "/batch.csv");
    if (!(dbf ? zarvik::ExportGoodsDbf(t, file) : zarvik::ExportGoodsCsv(t, file))) {
      std::fprintf(stderr, "bench_soak: cannot write %s\n", file.c_str());
      return;
    }
    std::vector<std::string> args{"goods", "write", file};
    if (!keepSold) args.emplace_back("--reset-sold");
    CtlWrite(op, 0.08 * options_.batch + 1.5, args, ItemsOf(before), GoodsIntended(before, rows));
  }

  Items TableGoods(zarvik::TWorkTable& t, bool withSold) {
    Items items;
    for (t.First(); !t.Eof(); t.Next()) {
      const int type = static_cast<int>(t.Int("Type"));
      std::optional<std::int64_t> sold;
      if (withSold) sold = t.Cur("Count").raw / (zarvik::Currency::kScale / 1000);
      items[Key("goods", static_cast<int>(t.Int("Code")))] =
          GoodsSeenText(type, t.Int("Vesovoy") == 1, t.Bool("isBlock"), t.Text("Name"),
                        t.Cur("Price").raw / (zarvik::Currency::kScale / 100), static_cast<int>(t.Int("NG")),
                        static_cast<int>(t.Int("Section")), t.Text("Shtrih"), sold);
    }
    return items;
  }

  void CtlReadGoods() {
    const std::string op = "ctl goods read-all";
    const sim::RegisterState s = sim_->State();
    const bool dbf = random_.Chance(0.5);
    const std::string file = work_ + (dbf ? "/all.dbf" : "/all.csv");
    std::filesystem::remove(file);
    const CtlRun run = Ctl(op, 7.0, {"goods", "read-all", "--out", file});
    std::string detail;
    if (const std::optional<Outcome> status = CtlStatus(run, detail)) {
      Record(op, *status, detail, {"stderr:", run.err});
      return;
    }
    // The file as the window's import reads it; a CSV file does not carry
    // the quantities sold back.
    zarvik::TWorkTable& t = bd_.mtTOBAP;
    const bool imported =
        dbf ? zarvik::ImportGoodsDbf(file, t, kGoodsCapacity + 1) : zarvik::ImportGoodsCsv(file, t);
    if (!imported) {
      Record(op, Outcome::Wrong, "reported success, but its file " + file + " does not read back");
      return;
    }
    const std::vector<std::string> diffs = CompareRead(ExpectedGoodsSeen(s, dbf), TableGoods(t, dbf));
    if (diffs.empty()) figures_.goodsChecked += static_cast<int>(s.goods.size());
    if (!diffs.empty()) {
      Record(op, Outcome::Wrong, std::to_string(diffs.size()) + " goods differ, e.g. " + diffs.front(),
             diffs);
      return;
    }
    Record(op, Outcome::Ok);
  }

  void CtlReadJournal() {
    const std::string op = "ctl journal read";
    const std::string file = work_ + "/journal.txt";
    std::filesystem::remove(file);
    const CtlRun run = Ctl(op, 6.0, {"journal", "read", "--data", "--out", file});
    std::string detail;
    if (const std::optional<Outcome> status = CtlStatus(run, detail)) {
      Record(op, *status, detail, {"stderr:", run.err});
      return;
    }
    const std::vector<std::string> lines = SplitLines(zarvik::Cp1251ToUtf8(ReadFile(file)));
    if (lines == journalLines_) {
      figures_.journalFrames += static_cast<int>(journalFrames_.size());
      Record(op, Outcome::Ok);
      return;
    }
    std::vector<std::string> diffs{"lines: register " + std::to_string(journalLines_.size()) + ", file " +
                                   std::to_string(lines.size())};
    for (std::size_t i = 0; i < std::max(lines.size(), journalLines_.size()) && diffs.size() < 20; ++i) {
      const std::string e = i < journalLines_.size() ? journalLines_[i] : "(none)";
      const std::string g = i < lines.size() ? lines[i] : "(none)";
      if (e != g)
        diffs.push_back("line " + std::to_string(i + 1) + ": register \"" + e + "\", file \"" + g + "\"");
    }
    Record(op, Outcome::Wrong, diffs.size() > 1 ? diffs[0] + "; " + diffs[1] : diffs[0], diffs);
  }

  const Options& options_;
  double rate_;
  Random random_;
  RateFigures& figures_;
  std::string work_;
  std::unique_ptr<sim::Simulator> sim_;
  std::unique_ptr<EventThread> events_;
  int plannedFreeze_ = 0;
  zarvik::TComPort port_;
  zarvik::TKKM kkm_{&port_};
  zarvik::TProtocolKKM protocol_{&kkm_};
  zarvik::TBD bd_;
  zarvik::TKKMInfo descriptor_;
  int operatorCount_ = 0;
  int nextCode_ = 1;
  Items intended_;
  std::vector<Bytes> journalFrames_;
  std::vector<std::string> journalLines_;
  std::map<std::string, double> durations_;
};

// ---------------------------------------------------------------------------

void PrintTable(const std::vector<RateFigures>& all) {
  std::printf(
      "\n| fault rate | operations | ok | failed, error reported | wrong data, no error | killed | hung | "
      "crashed "
      "| faults fired | freezes (over 3 s) | bursts | goods written | goods read and compared | journal "
      "frames "
      "compared | minutes |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const RateFigures& f : all) {
    std::printf("| %g %% | %d | %d | %d | %d | %d | %d | %d | %d | %d (%d) | %d | %d | %d | %d | %.1f |\n",
                f.rate, f.all.Total(), f.all[Outcome::Ok], f.all[Outcome::Failed], f.all[Outcome::Wrong],
                f.all[Outcome::Killed], f.all[Outcome::Hung], f.all[Outcome::Crashed], f.faultsFired,
                f.freezes, f.longFreezes, f.bursts, f.goodsWritten, f.goodsChecked, f.journalFrames,
                f.seconds / 60.0);
  }
  std::printf("\nby operation (ok / failed / wrong / killed, all rates):\n\n");
  std::map<std::string, Tally> ops;
  for (const RateFigures& f : all)
    for (const auto& [name, t] : f.byOperation)
      for (int k = 0; k < kOutcomeCount; ++k)
        ops[name].n[static_cast<std::size_t>(k)] += t.n[static_cast<std::size_t>(k)];
  std::printf("| operation | ok | failed | wrong | killed |\n|---|---:|---:|---:|---:|\n");
  for (const auto& [name, t] : ops)
    std::printf("| %s | %d | %d | %d | %d |\n", name.c_str(), t[Outcome::Ok], t[Outcome::Failed],
                t[Outcome::Wrong], t[Outcome::Killed]);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return Usage();
  if (!options.seedGiven)
    options.seed = std::random_device{}() ^ (static_cast<std::uint64_t>(std::random_device{}()) << 32);
  if (options.mode != "inproc" && (options.ctl.empty() || ::access(options.ctl.c_str(), X_OK) != 0)) {
    std::fprintf(stderr, "bench_soak: zarvikctl not found (%s); give --ctl PATH or --mode inproc\n",
                 options.ctl.c_str());
    return 2;
  }
  // The model descriptors are those beside zarvikctl (the build copies them).
  const std::filesystem::path ctlDir = options.ctl.empty() ? std::filesystem::current_path()
                                                           : std::filesystem::path(options.ctl).parent_path();
  zarvik::SetProgramPath((ctlDir / "bench_soak").string());
  std::string work = options.work;
  bool madeWork = false;
  if (work.empty()) {
    char templ[] = "/tmp/zarvik-soak-XXXXXX";
    if (::mkdtemp(templ) == nullptr) {
      std::perror("bench_soak: mkdtemp");
      return 1;
    }
    work = templ;
    madeWork = true;
  } else {
    std::filesystem::create_directories(work);
  }
  zarvik::NameLogFile = work + "/bench_soak.log";
  zarvik::SetConsole(&gConsole);
  zarvik::isAUTONOM = true;
  zarvik::MessDepth = options.trace ? zarvik::mdFunctional : zarvik::mdUser;

  std::printf("bench_soak: seed %llu (repeat with --seed %llu)\n",
              static_cast<unsigned long long>(options.seed), static_cast<unsigned long long>(options.seed));
  std::printf("bench_soak: rates");
  for (double r : options.rates) std::printf(" %g %%", r);
  std::printf(", %.2f min each%s, goods batch %d, %d receipts, events x%g, mode %s, %s, work folder %s\n",
              options.minutes,
              options.rounds > 0 ? (" or " + std::to_string(options.rounds) + " rounds").c_str() : "",
              options.batch, options.receipts, options.events, options.mode.c_str(),
              options.baud > 0 ? ("paced at " + std::to_string(options.baud) + " baud").c_str() : "unpaced",
              work.c_str());
  std::fflush(stdout);

  std::mt19937_64 seeds(options.seed);
  std::vector<RateFigures> figures;
  for (double rate : options.rates) {
    figures.emplace_back();
    std::printf("rate %g %%\n", rate);
    std::fflush(stdout);
    RateRun run(options, rate, seeds(), figures.back());
    if (!run.SetUp(work)) return 1;
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(Seconds(options.minutes * 60.0));
    run.Run(deadline);
    const RateFigures& f = figures.back();
    std::printf(
        "rate %g %%: %d operations, %d ok, %d failed, %d wrong, %d killed, %d hung, %d crashed, %.1f min\n",
        rate, f.all.Total(), f.all[Outcome::Ok], f.all[Outcome::Failed], f.all[Outcome::Wrong],
        f.all[Outcome::Killed], f.all[Outcome::Hung], f.all[Outcome::Crashed], f.seconds / 60.0);
    std::fflush(stdout);
  }
  PrintTable(figures);
  int bad = 0;
  for (const RateFigures& f : figures) {
    for (const std::string& w : f.wrong) std::printf("rate %g %%: %s\n", f.rate, w.c_str());
    bad += f.all[Outcome::Wrong] + f.all[Outcome::Hung] + f.all[Outcome::Crashed];
  }
  std::printf("\nseed %llu; %s\n", static_cast<unsigned long long>(options.seed),
              bad == 0 ? "no wrong data, no hang, no crash" : "WRONG DATA, HANGS OR CRASHES: see above");
  if (madeWork && bad == 0 && !options.keep) {
    std::error_code ec;
    std::filesystem::remove_all(work, ec);
  } else {
    std::printf("work folder kept: %s\n", work.c_str());
  }
  return bad == 0 ? 0 : 1;
}
