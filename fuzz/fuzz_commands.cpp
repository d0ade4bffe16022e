// A misbehaving register: every command of the command set gets answers made
// of arbitrary bytes, in well-formed frames, and what the program decodes
// from them into the register information is checked.
//
// Input: one byte (number of commands 1..8), then a byte pair per command
// (which command, its argument), then the register's answers in order, each
// a flags byte (bit 0: the frame carries the continuation bit, so the next
// answer follows the PC's receipt at once) and a length byte followed by
// that many bytes. When the answers run out the register falls silent.
//
// Checks after each command: every text is valid UTF-8 within its field
// width, numbers within what their fields can hold; a command that reports
// success had an answer with result 0 and the right length; a read command
// that failed left what it reads unchanged. A department price or goods
// record read from valid BCD digits is sent back with the same digits.
//
// With ZARVIK_FUZZ_SEEDS=<folder> set, the target writes seed inputs there
// (the simulator's answers for the shipped shop scenario) and ends.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "RegisterState.h"
#include "Scenario.h"
#include "journal/U_magazineoperation.h"
#include "model/U_kkms.h"
#include "protocol/LinkFrames.h"
#include "protocol/ScriptedStream.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"
#include "shell/TextCodec.h"
#include "shell/U_language.h"
#include "store/GoodsExchange.h"
#include "store/UnitBD.h"

namespace {

using namespace zarvik;
using Bytes = std::vector<std::uint8_t>;

struct Chunk {
  bool more = false;
  Bytes bytes;
};

// ---------------------------------------------------------------------------
// The register's side of the link: receipts, packet numbers and frames as a
// register gives them; the answers come from `next`.

Bytes Control(std::uint8_t control) {
  const auto p = BuildControlPacket(NetworkAddress(1), static_cast<std::uint8_t>(control | kDirectionBit));
  return Bytes(p.begin(), p.end());
}

class FuzzRegister {
 public:
  // `onRequest` sees each request; `next` gives the next answer frame.
  FuzzRegister(TScriptedStream& line, std::function<void(const Bytes&, bool)> onRequest,
               std::function<std::optional<Chunk>()> next)
      : line_(line), onRequest_(std::move(onRequest)), next_(std::move(next)) {
    line_.onWrite = [this](std::span<const std::uint8_t> w) { OnWrite(w); };
  }
  ~FuzzRegister() { line_.onWrite = nullptr; }
  FuzzRegister(const FuzzRegister&) = delete;
  FuzzRegister& operator=(const FuzzRegister&) = delete;

  // The request bytes of the last data frame of the PC.
  Bytes lastRequest;

 private:
  void SendFrame(const Chunk& c) {
    const auto header = static_cast<std::uint8_t>(kClassDataHeader | (seq_ & kPacketNumberMask) |
                                                  (c.more ? kContinuationBit : 0));
    Bytes out = Control(header);
    const auto frame = BuildDataFrame(c.bytes, c.bytes.size());
    out.insert(out.end(), frame.begin(), frame.end());
    line_.Feed(out);
    streaming_ = c.more;
  }

  void OnWrite(std::span<const std::uint8_t> w) {
    if (w.size() == kControlPacketSize && w[0] == kFrameStart && w[1] == kControlMark) {
      const std::uint8_t c = w[3];
      if (IsDataHeader(c)) {
        headerMore_ = (c & kContinuationBit) != 0;
        return;
      }
      const std::uint8_t kind = ControlKind(c);
      if (kind == kRDY) {
        if (pending_) {
          SendFrame(*pending_);
          pending_.reset();
        } else {
          line_.Feed(Control(kRDY));
        }
      } else if (kind == kACK) {
        ++seq_;
        if (streaming_ && (c & kContinuationBit) != 0) {
          if (auto chunk = next_()) SendFrame(*chunk);
        } else {
          streaming_ = false;
        }
      } else if (IsResyncKind(c)) {
        seq_ = 0;
        streaming_ = false;
      } else if (kind == kDISC) {
        streaming_ = false;
      }
      return;
    }
    if (w.empty() || w[0] != kDataLeadByte) return;
    Bytes payload;
    for (std::size_t i = 1; i + 3 < w.size(); ++i) {
      payload.push_back(w[i]);
      if (w[i] == kEscapedByte) ++i;
    }
    lastRequest = payload;
    onRequest_(payload, headerMore_);
    auto chunk = next_();
    if (!chunk) return;  // silent
    if (headerMore_) {
      line_.Feed(Control(static_cast<std::uint8_t>(kACK | kContinuationBit)));
      SendFrame(*chunk);
    } else {
      line_.Feed(Control(kACK));
      pending_ = std::move(chunk);
    }
  }

  TScriptedStream& line_;
  std::function<void(const Bytes&, bool)> onRequest_;
  std::function<std::optional<Chunk>()> next_;
  bool headerMore_ = false;
  bool streaming_ = false;
  std::uint8_t seq_ = 0;
  std::optional<Chunk> pending_;
};

// ---------------------------------------------------------------------------
// Checks of the decoded register information.

bool ValidUtf8(const std::string& s) {
  return U32ToUtf8(Utf8ToU32(s)) == s && s.find('\0') == std::string::npos;
}

void CheckText(const std::string& s, std::size_t width) {
  FUZZ_CHECK(ValidUtf8(s));
  FUZZ_CHECK(Utf8Length(s) <= width);
}

bool IsBcd(const std::uint8_t* bytes, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if ((bytes[i] >> 4) > 9 || (bytes[i] & 0x0F) > 9) return false;
  }
  return true;
}

void CheckInfo(const TKKMInfo& info) {
  CheckText(info.model, 16);
  CheckText(info.serialNumber, 12);
  CheckText(info.version, 15);  // 12 and up to three digits of padding
  for (const std::string* t : {&info.dateText, &info.timeText}) {
    FUZZ_CHECK(t->empty() || t->size() == 8);
  }
  FUZZ_CHECK(info.maxCountDepat >= 1 && info.maxCountDepat <= kMaxDepartments);
  FUZZ_CHECK(info.maxCountFont >= 0 && info.maxCountFont <= kHighestFontNumber);
  FUZZ_CHECK(info.maxCountGoods >= 0 && info.maxCountGoods <= kHighestGoodsNumber);
  FUZZ_CHECK(info.optionCount <= kOptionSlotCount);
  const std::string goods = LangResStrHandler.Text(ltDepGoods);
  const std::string service = LangResStrHandler.Text(ltDepService);
  const std::string closed = LangResStrHandler.Text(ltDepClosed);
  for (const TDepRec& d : info.departments) {
    CheckText(d.name, 22);
    FUZZ_CHECK(std::isfinite(d.price) && d.price >= 0.0 && d.price < 2e8);
    FUZZ_CHECK(RoundMoney(d.price) == d.price);
    if (d.status.empty()) continue;  // never read
    FUZZ_CHECK(d.status == goods || d.status == service || d.status == closed);
    if (d.status == closed) {
      FUZZ_CHECK(d.name.empty() && d.taxGroup == "0" && d.price == 0.0);
    } else {
      FUZZ_CHECK(ValidUtf8(d.taxGroup) && Utf8Length(d.taxGroup) == 1);
    }
  }
  for (const TTaxRec& t : info.taxes) {
    CheckText(t.name, 12);
    FUZZ_CHECK(std::isfinite(t.rate) && t.rate >= 0.0 && t.rate < 200.0);
  }
  for (std::size_t i = 0; i < kReceiptLineCount; ++i) {
    CheckText(info.headerLines[i], 32);
    CheckText(info.footerLines[i], 32);
  }
  for (std::size_t i = 0; i < kOperatorCount; ++i) {
    CheckText(info.operatorNames[i], 32);
    CheckText(info.positions[i], 32);
  }
}

// ---------------------------------------------------------------------------
// The commands.

constexpr int kCommandCount = 22;

struct Session {
  TKKM kkm;
  TScriptedStream line;
  TProtocolKKM protocol{&kkm};
  TBD* bd = nullptr;
  // The answer of the last department read, for the write-back check.
  Bytes lastDepartmentAnswer;
  int lastDepartment = -1;

  bool Run(int op, std::uint8_t arg, FuzzRegister& reg);
};

std::int32_t ExpectedLength(int op) {
  switch (op) {
    case 1: return 9;  // GetDateTime
    case 2:
    case 4: return 37;   // header and footer lines
    case 6: return 36;   // department
    case 10: return 19;  // tax
    case 11: return 67;  // goods
    case 13:
    case 15: return 37;  // operator name, position
    case 3:
    case 5:
    case 7:
    case 9:
    case 12:
    case 14:
    case 16:
    case 18: return 3;  // writes
    default: return -1;
  }
}

bool Session::Run(int op, std::uint8_t arg, FuzzRegister& reg) {
  const int n = arg % 10;  // numbers just outside the ranges too
  switch (op) {
    case 0: return protocol.GetInfo();
    case 1: return protocol.GetDateTime();
    case 2: return protocol.GetHeaderLine(n % 8);
    case 3: return protocol.SetHeaderLine(n % 8);
    case 4: return protocol.GetFooterLine(n % 8);
    case 5: return protocol.SetFooterLine(n % 8);
    case 6: {
      const bool ok = protocol.GetDepartment(arg % 101);
      if (ok) {
        const auto view = protocol.LastAnswer().View();
        lastDepartmentAnswer.assign(view.begin(), view.end());
        lastDepartment = arg % 101;
      }
      return ok;
    }
    case 7: {
      const int dep = arg % 101;
      reg.lastRequest.clear();
      const bool ok = protocol.SetDepartment(dep);
      // An open department read from BCD digits goes back with the same
      // status, tax group and price digits.
      const Bytes& a = lastDepartmentAnswer;
      const Bytes& r = reg.lastRequest;
      if (dep == lastDepartment && r.size() == 35 && r[1] == 0x08 && (a[4] == 0xA1 || a[4] == 0xA2) &&
          a[30] >= 1 && a[30] <= 5 && IsBcd(a.data() + 31, 5)) {
        FUZZ_CHECK(r[3] == a[4] && r[29] == a[30]);
        FUZZ_CHECK(std::equal(a.begin() + 31, a.begin() + 36, r.begin() + 30));
      }
      return ok;
    }
    case 8: return protocol.GetOptions();
    case 9: return protocol.SetOptions();
    case 10: return protocol.GetTax(n % 7);
    case 11: return protocol.GetGoods(arg * 40);
    case 12: return protocol.SetGoods();
    case 13: return protocol.GetOperatorName(n);
    case 14: return protocol.SetOperatorName(n);
    case 15: return protocol.GetPosition(n);
    case 16: return protocol.SetPosition(n);
    case 17: {
      const int count = protocol.GetOperatorCount();
      FUZZ_CHECK(count == 0 || count == 4 || count == 8);
      return count != 0;
    }
    case 18: return protocol.PrintLine(arg % 10, arg / 10 % 8, "Проверка " + std::to_string(arg));
    case 19: {
      // The goods stream, taken in as zarvikctl and the goods page take it.
      TWorkTable& t = bd->mtTOBAP;
      ClearRows(t);
      TKKMInfo& info = kkm.Info();
      return protocol.ReadAllGoods([&](TMessageBuffer& answer, bool&) {
        const std::span<const std::uint8_t> bytes = answer.View();
        FUZZ_CHECK(bytes.size() <= kFramePayloadCapacity);
        if (bytes.size() < 3 + static_cast<std::size_t>(kGoodsRecordSize) || bytes[2] != 0) return;
        std::copy_n(bytes.begin() + 3, kGoodsRecordSize, info.GoodsRecord.begin());
        const Bytes record(info.GoodsRecord.begin(), info.GoodsRecord.end());
        std::int64_t code = 0;
        if (!GoodsRecordCode(info, code)) return;
        t.Append();
        if (!GoodsRecordToRow(info, t)) {
          t.Cancel();
          return;
        }
        t.Post();
        // Code and price read from BCD digits are written back unchanged.
        if (GoodsRowToRecord(t, info)) {
          const auto* r = record.data();
          if (IsBcd(r + kGoodsCodeOffset, kGoodsCodeLength)) {
            FUZZ_CHECK(std::equal(r + kGoodsCodeOffset, r + kGoodsCodeOffset + kGoodsCodeLength,
                                  info.GoodsRecord.begin() + kGoodsCodeOffset));
          }
          if (IsBcd(r + kGoodsPriceOffset, kGoodsPriceLength)) {
            FUZZ_CHECK(std::equal(r + kGoodsPriceOffset, r + kGoodsPriceOffset + kGoodsPriceLength,
                                  info.GoodsRecord.begin() + kGoodsPriceOffset));
          }
        }
      });
    }
    case 20: {
      // The journal stream, decoded and rendered line by line.
      return protocol.ReadJournal([&](TMessageBuffer& answer, bool& more) {
        const std::span<const std::uint8_t> bytes = answer.View();
        FUZZ_CHECK(bytes.size() <= kFramePayloadCapacity);
        if (bytes.size() > 2 && bytes[2] == 9) more = false;
        const std::string lines = DecodeJournalReply(bytes);
        std::size_t pos = 0;
        while (pos < lines.size()) {
          const std::size_t end = lines.find("\r\n", pos);
          FUZZ_CHECK(end != std::string::npos);  // every line ends with CR LF
          const std::string rendered =
              RenderJournalLine(std::string_view(lines).substr(pos, end - pos), false);
          FUZZ_CHECK(ValidUtf8(rendered));
          pos = end + 2;
        }
      });
    }
    default: return protocol.ProbeGoods(arg * 40);
  }
}

// ---------------------------------------------------------------------------
// Seeds: command sequences answered by the simulated register of the shop
// scenario.

void WriteSeeds(const std::string& folder) {
  sim::Scenario scenario;
  std::string error;
  if (!sim::LoadScenarioFile(std::string(ZARVIK_SOURCE_DIR) + "/sim/scenarios/default.ini", scenario,
                             error)) {
    std::exit(1);
  }
  const std::vector<std::vector<std::pair<int, int>>> sequences = {{{0, 0}},
                                                                   {{1, 0}},
                                                                   {{2, 1}, {3, 1}},
                                                                   {{4, 6}, {5, 6}},
                                                                   {{6, 1}, {7, 1}},
                                                                   {{6, 3}, {7, 3}},
                                                                   {{8, 0}, {9, 0}},
                                                                   {{10, 1}, {10, 2}},
                                                                   {{11, 1}, {12, 0}},
                                                                   {{13, 1}, {14, 1}},
                                                                   {{15, 2}, {16, 2}},
                                                                   {{17, 0}},
                                                                   {{18, 23}},
                                                                   {{19, 0}},
                                                                   {{20, 0}},
                                                                   {{21, 3}},
                                                                   {{0, 0}, {8, 0}, {6, 2}, {17, 0}}};
  int serial = 0;
  TBD bd;
  for (const auto& sequence : sequences) {
    sim::RegisterState state = scenario.state;
    Session s;
    s.bd = &bd;
    std::deque<Chunk> queue;
    Bytes seed;
    seed.push_back(static_cast<std::uint8_t>(sequence.size() - 1));
    for (const auto& [op, arg] : sequence) {
      seed.push_back(static_cast<std::uint8_t>(op));
      seed.push_back(static_cast<std::uint8_t>(arg));
    }
    constexpr std::size_t kMaxSeedFrames = 24;
    FuzzRegister reg(
        s.line,
        [&](const Bytes& request, bool continued) {
          queue.clear();
          const auto frames = sim::ExecuteCommand(state, request, continued);
          for (std::size_t i = 0; i < frames.size() && i < kMaxSeedFrames; ++i) {
            queue.push_back({i + 1 < frames.size() && i + 1 < kMaxSeedFrames, frames[i]});
          }
        },
        [&]() -> std::optional<Chunk> {
          if (queue.empty()) return std::nullopt;
          Chunk c = queue.front();
          queue.pop_front();
          if (c.bytes.size() > 255) c.bytes.resize(255);
          seed.push_back(c.more ? 1 : 0);
          seed.push_back(static_cast<std::uint8_t>(c.bytes.size()));
          seed.insert(seed.end(), c.bytes.begin(), c.bytes.end());
          return c;
        });
    s.protocol.SetLine(&s.line);
    s.protocol.waits = kNoLinkWaits;
    for (const auto& [op, arg] : sequence) s.Run(op, static_cast<std::uint8_t>(arg), reg);
    std::ofstream(folder + "/register" + std::to_string(++serial), std::ios::binary)
        .write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MessDepth = mdUser;
  isAUTONOM = true;
  NameLogFile = "/dev/null";
  // The model descriptors of the source tree stand beside the "program".
  SetProgramPath(std::string(ZARVIK_SOURCE_DIR) + "/data/zarvik");
  if (const char* folder = std::getenv("ZARVIK_FUZZ_SEEDS"); folder != nullptr && *folder != '\0') {
    WriteSeeds(folder);
    std::exit(0);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TBD* bd = new TBD();
  if (size == 0) return 0;
  std::size_t pos = 0;
  const int commands = 1 + data[pos++] % 8;
  std::vector<std::pair<int, std::uint8_t>> ops;
  for (int i = 0; i < commands && pos + 1 < size; ++i, pos += 2) {
    ops.emplace_back(data[pos] % kCommandCount, data[pos + 1]);
  }
  std::deque<Chunk> answers;
  while (pos + 1 < size) {
    Chunk c;
    c.more = (data[pos] & 1) != 0;
    const std::size_t n = std::min<std::size_t>(data[pos + 1], size - pos - 2);
    c.bytes.assign(data + pos + 2, data + pos + 2 + n);
    answers.push_back(std::move(c));
    pos += 2 + n;
  }

  Session s;
  s.bd = bd;
  FuzzRegister reg(
      s.line, [](const Bytes&, bool) {},
      [&]() -> std::optional<Chunk> {
        if (answers.empty()) return std::nullopt;
        Chunk c = std::move(answers.front());
        answers.pop_front();
        return c;
      });
  s.protocol.SetLine(&s.line);
  s.protocol.waits = kNoLinkWaits;

  for (const auto& [op, arg] : ops) {
    const std::optional<TKKMInfo> before =
        s.kkm.info ? std::optional<TKKMInfo>(*s.kkm.info) : std::optional<TKKMInfo>();
    const bool ok = s.Run(op, arg, reg);
    if (!s.kkm.info) continue;
    const TKKMInfo& info = *s.kkm.info;
    CheckInfo(info);
    const TMessageBuffer& answer = s.protocol.LastAnswer();
    const std::int32_t expected = ExpectedLength(op);
    if (ok && expected > 0) {
      FUZZ_CHECK(answer.count == expected && TProtocolKKM::AnswerCode(answer) == 0);
    }
    if (ok && op == 8) FUZZ_CHECK(TProtocolKKM::AnswerCode(answer) == 0);
    if (ok || !before) continue;
    // A read that failed leaves what it reads as it was.
    const TKKMInfo& old = *before;
    const auto i = static_cast<std::size_t>(arg % 10 > 0 ? arg % 10 - 1 : 0);
    switch (op) {
      case 0: FUZZ_CHECK(info.model == old.model && info.serialNumber == old.serialNumber); break;
      case 1: FUZZ_CHECK(info.dateText == old.dateText && info.timeText == old.timeText); break;
      case 2: FUZZ_CHECK(info.headerLines == old.headerLines && info.headerFont == old.headerFont); break;
      case 4: FUZZ_CHECK(info.footerLines == old.footerLines && info.footerFont == old.footerFont); break;
      case 6: {
        const auto d = static_cast<std::size_t>(arg % 101 > 0 ? arg % 101 - 1 : 0);
        FUZZ_CHECK(info.departments[d].name == old.departments[d].name &&
                   info.departments[d].status == old.departments[d].status &&
                   info.departments[d].price == old.departments[d].price);
        break;
      }
      case 8:
        FUZZ_CHECK(info.optionValues == old.optionValues);
        FUZZ_CHECK(info.optionCount == old.optionCount || info.optionCount == 32);
        break;
      case 10: FUZZ_CHECK(info.taxes[i % kTaxCount].name == old.taxes[i % kTaxCount].name); break;
      case 11: FUZZ_CHECK(info.GoodsRecord == old.GoodsRecord); break;
      case 13: FUZZ_CHECK(info.operatorNames == old.operatorNames); break;
      case 15: FUZZ_CHECK(info.positions == old.positions); break;
      default: break;
    }
  }
  return 0;
}
