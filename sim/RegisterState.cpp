#include "RegisterState.h"

#include <ctime>

namespace zarvik::sim {
namespace {

// Field offsets of the 64-byte goods record.
constexpr std::size_t kGoodsType = 0;
constexpr std::size_t kGoodsFlags = 1;
constexpr std::size_t kGoodsCode = 2, kGoodsCodeWidth = 3;
constexpr std::size_t kGoodsName = 5, kGoodsNameWidth = 32;
constexpr std::size_t kGoodsPrice = 37, kGoodsPriceWidth = 5;
constexpr std::size_t kGoodsTax = 42;
constexpr std::size_t kGoodsSection = 43;
constexpr std::size_t kGoodsBarcode = 44, kGoodsBarcodeWidth = 10;
constexpr std::size_t kGoodsSold = 54, kGoodsSoldWidth = 5;

// Request sizes the register insists on.
constexpr std::size_t kPlainRequest = 2;         // 01 code
constexpr std::size_t kNumberedRequest = 3;      // 01 code n
constexpr std::size_t kSetTextLineRequest = 36;  // 01 code n font text32
constexpr std::size_t kSetDepartmentRequest = 35;
constexpr std::size_t kSetNameRequest = 35;  // 01 code n text32
constexpr std::size_t kGoodsRequest = 4;     // 01 10 code(2)
constexpr std::size_t kJournalRequest = 4;   // 01 0F 00 00
constexpr std::size_t kSetGoodsRequest = 57;
constexpr std::size_t kPrintLineRequest = 39;
constexpr std::size_t kTextWidth = 32;
constexpr std::size_t kDepartmentNameWidth = 22;
constexpr std::size_t kTaxNameWidth = 12;
constexpr std::size_t kModelWidth = 16, kSerialWidth = 12, kVersionWidth = 12;
constexpr std::size_t kMaxCommandLog = 100000;
// Reset byte of a goods write: the quantity sold goes back to zero.
constexpr std::uint8_t kResetSold = 0xAA;
// Font byte a header or footer line may carry instead of a number (letter М).
constexpr std::uint8_t kFontLetter = 0xCC;
// Journal answers: status "records follow" and "end of the journal".
constexpr std::uint8_t kJournalMore = 0;
constexpr std::uint8_t kJournalEnd = 9;

Bytes Answer(std::uint8_t command, std::uint8_t result, std::size_t length = 3) {
  Bytes a(length < 3 ? 3 : length, 0);
  a[0] = 0x01;
  a[1] = command;
  a[2] = result;
  return a;
}

std::vector<Bytes> One(Bytes answer) {
  std::vector<Bytes> v;
  v.push_back(std::move(answer));
  return v;
}

// Two BCD digits from the clock text at position pos ("DD.MM.YY HH:MM:SS").
std::uint8_t ClockField(const std::string& text, std::size_t pos) {
  if (pos + 1 >= text.size()) return 0;
  const char a = text[pos], b = text[pos + 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return 0;
  return static_cast<std::uint8_t>((a - '0') * 16 + (b - '0'));
}

Bytes DateTimeAnswer(const RegisterState& s) {
  Bytes a = Answer(cmdGetDateTime, rcOk, 9);
  if (!s.dateTime.empty()) {
    a[3] = ClockField(s.dateTime, 0);
    a[4] = ClockField(s.dateTime, 3);
    a[5] = ClockField(s.dateTime, 6);
    a[6] = ClockField(s.dateTime, 9);
    a[7] = ClockField(s.dateTime, 12);
    a[8] = ClockField(s.dateTime, 15);
    return a;
  }
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  a[3] = BcdByte(tm.tm_mday);
  a[4] = BcdByte(tm.tm_mon + 1);
  a[5] = BcdByte(tm.tm_year % 100);
  a[6] = BcdByte(tm.tm_hour);
  a[7] = BcdByte(tm.tm_min);
  a[8] = BcdByte(tm.tm_sec);
  return a;
}

bool FontAllowed(std::uint8_t font) {
  return font <= kMaxFont || font == kFontLetter;
}

std::vector<Bytes> TextLineCommand(std::array<TextLine, kTextLineCount>& lines, const Bytes& r, bool write) {
  const std::uint8_t cmd = r[1];
  if (r.size() != (write ? kSetTextLineRequest : kNumberedRequest) || r[2] >= kTextLineCount) {
    return One(Answer(cmd, rcBadFormat));
  }
  TextLine& line = lines[r[2]];
  if (write) {
    if (!FontAllowed(r[3])) return One(Answer(cmd, rcBadFormat));
    line.font = r[3];
    line.text = GetText(&r[4], kTextWidth);
    return One(Answer(cmd, rcOk));
  }
  Bytes a = Answer(cmd, rcOk, 37);
  a[4] = line.font;
  PutText(&a[5], kTextWidth, line.text);
  return One(a);
}

std::vector<Bytes> NameCommand(const RegisterState& s, std::array<std::string, kMaxOperators>& names,
                               const Bytes& r, bool write) {
  const std::uint8_t cmd = r[1];
  if (s.operatorCount <= 0) return One(Answer(cmd, rcUnknownCommand));
  if (r.size() != (write ? kSetNameRequest : kNumberedRequest) || r[2] < 1 || r[2] > s.operatorCount) {
    return One(Answer(cmd, rcBadFormat));
  }
  std::string& name = names[static_cast<std::size_t>(r[2] - 1)];
  if (write) {
    name = GetText(&r[3], kTextWidth);
    return One(Answer(cmd, rcOk));
  }
  Bytes a = Answer(cmd, rcOk, 37);
  a[3] = r[2];
  PutText(&a[4], kTextWidth, name);
  return One(a);
}

std::vector<Bytes> GetDepartment(const RegisterState& s, const Bytes& r) {
  if (r.size() != kNumberedRequest || r[2] < 1 || r[2] > s.maxCountDepat) {
    return One(Answer(cmdGetDepartment, rcBadFormat));
  }
  const Department& d = s.departments[static_cast<std::size_t>(r[2] - 1)];
  Bytes a = Answer(cmdGetDepartment, rcOk, 36);
  a[4] = d.status;
  if (d.status == kDepGoods || d.status == kDepService) {
    PutText(&a[5], kDepartmentNameWidth, d.name);
    a[30] = d.taxGroup;
    PutBcd(&a[31], 5, d.priceLimit);
  }
  return One(a);
}

std::vector<Bytes> SetDepartment(RegisterState& s, const Bytes& r) {
  if (r.size() != kSetDepartmentRequest || r[2] < 1 || r[2] > s.maxCountDepat) {
    return One(Answer(cmdSetDepartment, rcBadFormat));
  }
  const std::uint8_t status = r[3];
  Department d;
  d.status = status;
  if (status == kDepGoods || status == kDepService) {
    const auto price = GetBcd(&r[30], 5);
    if (!price || r[29] > kTaxCount) return One(Answer(cmdSetDepartment, rcBadFormat));
    d.name = GetText(&r[4], kDepartmentNameWidth);
    d.taxGroup = r[29];
    d.priceLimit = *price;
  } else if (status != kDepClosed) {
    return One(Answer(cmdSetDepartment, rcBadFormat));
  }
  s.departments[static_cast<std::size_t>(r[2] - 1)] = d;
  return One(Answer(cmdSetDepartment, rcOk));
}

std::vector<Bytes> GetTax(const RegisterState& s, const Bytes& r) {
  if (r.size() != kNumberedRequest || r[2] < 1 || r[2] > kTaxCount)
    return One(Answer(cmdGetTax, rcBadFormat));
  const Tax& t = s.taxes[static_cast<std::size_t>(r[2] - 1)];
  Bytes a = Answer(cmdGetTax, rcOk, 19);
  a[3] = t.defined;
  a[4] = t.kind;
  a[5] = BcdByte(t.rateHundredths % 100);
  a[6] = BcdByte(t.rateHundredths / 100);
  PutText(&a[7], kTaxNameWidth, t.name);
  return One(a);
}

Bytes GoodsAnswer(std::uint8_t result, const Goods* g) {
  Bytes a = Answer(cmdGetGoods, result, 3 + kGoodsRecordSize);
  if (g) {
    const auto rec = EncodeGoods(*g);
    for (std::size_t i = 0; i < kGoodsRecordSize; ++i) a[3 + i] = rec[i];
  }
  return a;
}

std::vector<Bytes> GetGoods(const RegisterState& s, const Bytes& r, bool continued) {
  if (r.size() != kGoodsRequest) return One(Answer(cmdGetGoods, rcBadFormat));
  const auto code = GetBcd(&r[2], 2);
  if (!code || *code < 1 || *code > static_cast<std::uint64_t>(s.goodsCapacity)) {
    return One(GoodsAnswer(rcBadFormat, nullptr));
  }
  const int first = static_cast<int>(*code);
  if (!continued) {
    const auto it = s.goods.find(first);
    if (it == s.goods.end()) return One(GoodsAnswer(rcNotFound, nullptr));
    return One(GoodsAnswer(rcOk, &it->second));
  }
  std::vector<Bytes> frames;
  for (auto it = s.goods.lower_bound(first); it != s.goods.end() && it->first <= s.goodsCapacity; ++it) {
    frames.push_back(GoodsAnswer(rcOk, &it->second));
  }
  if (frames.empty()) frames.push_back(GoodsAnswer(rcNotFound, nullptr));
  return frames;
}

std::vector<Bytes> SetGoods(RegisterState& s, const Bytes& r) {
  if (r.size() != kSetGoodsRequest) return One(Answer(cmdSetGoods, rcBadFormat));
  std::array<std::uint8_t, kGoodsRecordSize> rec{};
  for (std::size_t i = 0; i < kGoodsWrittenSize; ++i) rec[i] = r[2 + i];
  const auto code = GetBcd(&rec[kGoodsCode], kGoodsCodeWidth);
  if (!code || *code < 1 || *code > static_cast<std::uint64_t>(s.goodsCapacity)) {
    return One(Answer(cmdSetGoods, rcBadGoodsCode));
  }
  const int c = static_cast<int>(*code);
  if (rec[kGoodsType] == 0) {  // type 0 deletes the record
    s.goods.erase(c);
    return One(Answer(cmdSetGoods, rcOk));
  }
  Goods g;
  if (!DecodeGoods(rec.data(), g) || g.taxGroup > kTaxCount || g.section > s.maxCountDepat) {
    return One(Answer(cmdSetGoods, rcBadFormat));
  }
  const auto old = s.goods.find(c);
  g.sold = (r[56] == kResetSold || old == s.goods.end()) ? 0 : old->second.sold;
  s.goods[c] = g;
  return One(Answer(cmdSetGoods, rcOk));
}

std::vector<Bytes> ReadJournal(const RegisterState& s, const Bytes& r) {
  if (r.size() != kJournalRequest) return One(Answer(cmdReadJournal, rcBadFormat));
  std::size_t limit = s.journalFrameLimit;
  if (limit > kMaxRegisterPayload) limit = kMaxRegisterPayload;
  std::vector<Bytes> frames;
  Bytes frame = Answer(cmdReadJournal, kJournalMore);
  for (const Bytes& rec : s.journal) {
    if (frame.size() > 3 && frame.size() + rec.size() > limit) {
      frames.push_back(frame);
      frame = Answer(cmdReadJournal, kJournalMore);
    }
    // A record longer than a frame is cut (a scenario's raw record may be).
    for (std::size_t i = 0; i < rec.size() && frame.size() < limit; ++i) frame.push_back(rec[i]);
  }
  if (frame.size() > 3) frames.push_back(frame);
  frames.push_back(Answer(cmdReadJournal, kJournalEnd));
  return frames;
}

std::vector<Bytes> PrintLine(RegisterState& s, const Bytes& r) {
  if (r.size() != kPrintLineRequest || r[2] > kMaxFont || r[3] > kMaxBrightness) {
    return One(Answer(cmdPrintLine, rcBadFormat));
  }
  s.printed.push_back(PrintedLine{r[2], r[3], GetText(&r[4], kTextWidth)});
  return One(Answer(cmdPrintLine, rcOk));
}

}  // namespace

std::array<std::uint8_t, kGoodsRecordSize> EncodeGoods(const Goods& g) {
  std::array<std::uint8_t, kGoodsRecordSize> rec{};
  rec[kGoodsType] = g.type;
  rec[kGoodsFlags] = g.flags;
  PutBcd(&rec[kGoodsCode], kGoodsCodeWidth, static_cast<std::uint64_t>(g.code < 0 ? 0 : g.code));
  PutText(&rec[kGoodsName], kGoodsNameWidth, g.name);
  PutBcd(&rec[kGoodsPrice], kGoodsPriceWidth, g.price);
  rec[kGoodsTax] = g.taxGroup;
  rec[kGoodsSection] = g.section;
  bool digits = !g.barcode.empty();
  std::uint8_t bcd[kGoodsBarcodeWidth] = {};
  // 20 digits do not fit 64 bits; place them nibble by nibble from the right.
  for (std::size_t i = 0; digits && i < g.barcode.size(); ++i) {
    if (g.barcode[i] < '0' || g.barcode[i] > '9') digits = false;
  }
  if (digits && g.barcode.size() <= kGoodsBarcodeWidth * 2) {
    std::size_t nibble = 0;
    for (std::size_t i = g.barcode.size(); i-- > 0; ++nibble) {
      const auto d = static_cast<std::uint8_t>(g.barcode[i] - '0');
      bcd[nibble / 2] = static_cast<std::uint8_t>(bcd[nibble / 2] | (nibble % 2 ? d << 4 : d));
    }
  }
  for (std::size_t i = 0; i < kGoodsBarcodeWidth; ++i) rec[kGoodsBarcode + i] = bcd[i];
  PutBcd(&rec[kGoodsSold], kGoodsSoldWidth, g.sold);
  return rec;
}

bool DecodeGoods(const std::uint8_t* rec, Goods& out) {
  Goods g;
  g.type = rec[kGoodsType];
  g.flags = rec[kGoodsFlags];
  const auto code = GetBcd(&rec[kGoodsCode], kGoodsCodeWidth);
  const auto price = GetBcd(&rec[kGoodsPrice], kGoodsPriceWidth);
  const auto sold = GetBcd(&rec[kGoodsSold], kGoodsSoldWidth);
  if (!code || !price || !sold) return false;
  g.code = static_cast<int>(*code);
  g.name = GetText(&rec[kGoodsName], kGoodsNameWidth);
  g.price = *price;
  g.taxGroup = rec[kGoodsTax];
  g.section = rec[kGoodsSection];
  std::string digits;
  for (std::size_t i = kGoodsBarcodeWidth; i-- > 0;) {
    const std::uint8_t b = rec[kGoodsBarcode + i];
    if ((b >> 4) > 9 || (b & 0x0F) > 9) return false;
    digits.push_back(static_cast<char>('0' + (b >> 4)));
    digits.push_back(static_cast<char>('0' + (b & 0x0F)));
  }
  const std::size_t first = digits.find_first_not_of('0');
  g.barcode = first == std::string::npos ? std::string() : digits.substr(first);
  g.sold = *sold;
  out = g;
  return true;
}

std::vector<Bytes> ExecuteCommand(RegisterState& s, const Bytes& r, bool continued) {
  if (r.size() < kPlainRequest || r[0] != 0x01) {
    return One(Answer(r.size() >= kPlainRequest ? r[1] : 0, rcBadFormat));
  }
  const std::uint8_t cmd = r[1];
  if (s.commandsExecuted.size() < kMaxCommandLog) s.commandsExecuted.push_back(cmd);
  switch (cmd) {
    case cmdGetInfo: {
      if (r.size() != kPlainRequest) return One(Answer(cmd, rcBadFormat));
      Bytes a = Answer(cmd, rcOk, 44);
      PutText(&a[3], kModelWidth, s.model);
      PutText(&a[19], kSerialWidth, s.serialNumber);
      PutText(&a[31], kVersionWidth, s.version);
      a[43] = s.workMode;
      return One(a);
    }
    case cmdGetDateTime:
      if (r.size() != kPlainRequest) return One(Answer(cmd, rcBadFormat));
      return One(DateTimeAnswer(s));
    case cmdGetHeaderLine: return TextLineCommand(s.header, r, false);
    case cmdSetHeaderLine: return TextLineCommand(s.header, r, true);
    case cmdGetFooterLine: return TextLineCommand(s.footer, r, false);
    case cmdSetFooterLine: return TextLineCommand(s.footer, r, true);
    case cmdGetDepartment: return GetDepartment(s, r);
    case cmdSetDepartment: return SetDepartment(s, r);
    case cmdGetOptions: {
      if (r.size() != kPlainRequest) return One(Answer(cmd, rcBadFormat));
      Bytes a = Answer(cmd, rcOk);
      a.insert(a.end(), s.options.begin(), s.options.end());
      return One(a);
    }
    case cmdSetOptions: {
      const std::size_t n = r.size() - kPlainRequest;
      if (n > s.options.size()) return One(Answer(cmd, rcBadFormat));
      for (std::size_t i = 0; i < n; ++i) s.options[i] = r[kPlainRequest + i];
      return One(Answer(cmd, rcOk));
    }
    case cmdGetTax: return GetTax(s, r);
    case cmdReadJournal: return ReadJournal(s, r);
    case cmdGetGoods: return GetGoods(s, r, continued);
    case cmdSetGoods: return SetGoods(s, r);
    case cmdGetOperatorName: return NameCommand(s, s.operatorNames, r, false);
    case cmdSetOperatorName: return NameCommand(s, s.operatorNames, r, true);
    case cmdGetPosition: return NameCommand(s, s.positions, r, false);
    case cmdSetPosition: return NameCommand(s, s.positions, r, true);
    case cmdPrintLine: return PrintLine(s, r);
    default: return One(Answer(cmd, rcUnknownCommand));
  }
}

}  // namespace zarvik::sim
