#include "Scenario.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "shell/IniFile.h"
#include "shell/TextCodec.h"

namespace zarvik::sim {
namespace {

// Journal record codes the receipts are built from.
constexpr std::uint8_t kRecSumSale = 0xA1;
constexpr std::uint8_t kRecSubtotal = 0xB5;
constexpr std::uint8_t kRecSubtotalDiscount = 0xB6;
constexpr std::uint8_t kRecTaxSum = 0xC1;
constexpr std::uint8_t kRecPayment = 0xC9;
constexpr std::uint8_t kRecClose = 0xCA;
constexpr std::uint8_t kRecRepeat = 0xCB;
constexpr std::uint8_t kRecAnnul = 0xCC;
constexpr std::uint8_t kFiscalMark = 75;  // 'K'
constexpr std::uint8_t kUnsetDateByte = 0xFF;
constexpr int kMaxReceipts = 100000;
constexpr int kMaxLines = 1000;
constexpr std::size_t kTextFieldChars = 32;    // receipt lines, operator names and positions
constexpr std::uint64_t kRoundTender = 10000;  // "round": the next 100 roubles

std::string Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return std::string(s);
}

std::vector<std::string> Split(std::string_view s, char sep) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (true) {
    const std::size_t next = s.find(sep, pos);
    out.push_back(Trim(s.substr(pos, next == std::string_view::npos ? std::string_view::npos : next - pos)));
    if (next == std::string_view::npos) break;
    pos = next + 1;
  }
  return out;
}

bool ToInt(std::string_view text, long long& out) {
  const std::string t = Trim(text);
  if (t.empty()) return false;
  const auto res = std::from_chars(t.data(), t.data() + t.size(), out);
  return res.ec == std::errc() && res.ptr == t.data() + t.size();
}

bool IsValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    if (c < 0x80)
      n = 0;
    else if ((c & 0xE0) == 0xC0 && c >= 0xC2)
      n = 1;
    else if ((c & 0xF0) == 0xE0)
      n = 2;
    else if ((c & 0xF8) == 0xF0 && c <= 0xF4)
      n = 3;
    else
      return false;
    if (n > 0 && i + n >= s.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    // No overlong forms, no surrogates, nothing above U+10FFFF: such bytes
    // are code page 1251 text (say "р‹‹‹"), not UTF-8.
    const auto second = n > 0 ? static_cast<unsigned char>(s[i + 1]) : 0;
    if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second >= 0xA0) || (c == 0xF0 && second < 0x90) ||
        (c == 0xF4 && second >= 0x90)) {
      return false;
    }
    i += n + 1;
  }
  return true;
}

// Reads scenario values; the first error wins.
class Reader {
 public:
  Reader(const TIniFile& ini, std::string& error) : ini_(ini), error_(error) {}
  bool Ok() const { return error_.empty(); }
  void Fail(std::string_view where, std::string_view what) {
    if (error_.empty()) error_ = std::string(where) + ": " + std::string(what);
  }
  std::string Str(std::string_view sec, std::string_view key, std::string_view def) const {
    return ini_.ReadString(sec, key, def);
  }
  long long Int(std::string_view sec, std::string_view key, long long def, long long lo, long long hi) {
    if (!ini_.ValueExists(sec, key)) return def;
    long long v = 0;
    if (!ToInt(ini_.ReadString(sec, key, ""), v) || v < lo || v > hi) {
      Fail(std::string(sec) + "/" + std::string(key),
           "expected a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
      return def;
    }
    return v;
  }
  const TIniFile& Ini() const { return ini_; }

 private:
  const TIniFile& ini_;
  std::string& error_;
};

bool ParseTaxGroup(const std::string& text, std::uint8_t& out) {
  if (text.size() == 1 && text[0] >= 'A' && text[0] <= 'E') {
    out = static_cast<std::uint8_t>(text[0] - 'A' + 1);
    return true;
  }
  long long v = 0;
  if (!ToInt(text, v) || v < 0 || v > kTaxCount) return false;
  out = static_cast<std::uint8_t>(v);
  return true;
}

bool ParseDigits(const std::string& text, std::size_t maxDigits) {
  if (text.size() > maxDigits) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

void ReadRegister(Reader& r, RegisterState& s) {
  constexpr std::string_view sec = "Register";
  s.model = r.Str(sec, "Model", s.model);
  s.serialNumber = r.Str(sec, "SerialNumber", s.serialNumber);
  s.version = r.Str(sec, "Version", s.version);
  s.workMode = static_cast<std::uint8_t>(r.Int(sec, "WorkMode", s.workMode, 0, 255));
  s.networkNumber = static_cast<int>(r.Int(sec, "NetworkNumber", s.networkNumber, 1, 98));
  std::string dt = r.Str(sec, "DateTime", "now");
  if (Utf8EqualNoCase(dt, "now")) dt.clear();
  if (!dt.empty()) {
    // DD.MM.YY HH:MM:SS, all two-digit groups
    bool ok = dt.size() == 17;
    for (std::size_t i = 0; ok && i < dt.size(); ++i) {
      const char c = dt[i];
      if (i % 3 == 2)
        ok = (i == 2 || i == 5) ? c == '.' : (i == 8 ? c == ' ' : c == ':');
      else
        ok = c >= '0' && c <= '9';
    }
    if (!ok) r.Fail("Register/DateTime", "expected DD.MM.YY HH:MM:SS or now");
  }
  s.dateTime = dt;
  s.goodsCapacity = static_cast<int>(r.Int(sec, "GoodsCapacity", s.goodsCapacity, 0, kMaxGoods));
  s.operatorCount = static_cast<int>(r.Int(sec, "OperatorCount", s.operatorCount, 0, kMaxOperators));
  if (s.operatorCount != 0 && s.operatorCount != 4 && s.operatorCount != 8) {
    r.Fail("Register/OperatorCount", "expected 0, 4 or 8");
  }
  const std::string_view depKey = r.Ini().ValueExists(sec, "maxCountDepat") ? "maxCountDepat" : "Departments";
  s.maxCountDepat = static_cast<int>(r.Int(sec, depKey, s.maxCountDepat, 1, kMaxDepartments));
  s.journalFrameLimit =
      static_cast<std::size_t>(r.Int(sec, "JournalFrameBytes", static_cast<long long>(s.journalFrameLimit),
                                     16, static_cast<long long>(kMaxRegisterPayload)));
}

void ReadOptions(Reader& r, RegisterState& s) {
  constexpr std::string_view sec = "Options";
  const auto count = static_cast<std::size_t>(r.Int(sec, "Count", 64, 0, kMaxOptionCount));
  s.options.assign(count, 0);
  const std::string values = r.Str(sec, "Values", "");
  if (!values.empty()) {
    const auto parts = Split(values, ',');
    for (std::size_t i = 0; i < parts.size(); ++i) {
      long long v = 0;
      if (i >= count || !ToInt(parts[i], v) || v < 0 || v > 255) {
        r.Fail("Options/Values", "value " + std::to_string(i + 1) + " is not a byte within Count");
        return;
      }
      s.options[i] = static_cast<std::uint8_t>(v);
    }
  }
  for (std::size_t i = 1; i <= count; ++i) {
    const std::string key = "op" + std::to_string(i);
    s.options[i - 1] = static_cast<std::uint8_t>(r.Int(sec, key, s.options[i - 1], 0, 255));
  }
}

void ReadDepartments(Reader& r, RegisterState& s) {
  constexpr std::string_view sec = "Departments";
  for (int n = 1; n <= kMaxDepartments; ++n) {
    const std::string key = std::to_string(n);
    if (!r.Ini().ValueExists(sec, key)) continue;
    const std::string where = "Departments/" + key;
    const auto f = Split(r.Str(sec, key, ""), ';');
    Department d;
    if (Utf8EqualNoCase(f[0], "Товар") || Utf8EqualNoCase(f[0], "goods")) {
      d.status = kDepGoods;
    } else if (Utf8EqualNoCase(f[0], "Услуга") || Utf8EqualNoCase(f[0], "service")) {
      d.status = kDepService;
    } else if (Utf8EqualNoCase(f[0], "Закрыто") || Utf8EqualNoCase(f[0], "closed")) {
      d.status = kDepClosed;
    } else {
      r.Fail(where, "status must be Товар, Услуга or Закрыто");
      return;
    }
    if (d.status != kDepClosed) {
      if (f.size() < 4) {
        r.Fail(where, "expected status;name;tax group;price limit");
        return;
      }
      d.name = f[1];
      const auto price = ParseScaled(f[3], 2);
      if (!ParseTaxGroup(f[2], d.taxGroup) || !price || Utf8Length(d.name) > 22) {
        r.Fail(where, "bad name, tax group or price limit");
        return;
      }
      d.priceLimit = *price;
    }
    s.departments[static_cast<std::size_t>(n - 1)] = d;
  }
}

void ReadTaxes(Reader& r, RegisterState& s) {
  constexpr std::string_view sec = "Taxes";
  for (int n = 1; n <= kTaxCount; ++n) {
    const std::string key = std::to_string(n);
    if (!r.Ini().ValueExists(sec, key)) continue;
    const auto f = Split(r.Str(sec, key, ""), ';');
    Tax t;
    t.defined = kInUse;
    t.name = f[0];
    const auto rate = f.size() > 1 ? ParseScaled(f[1], 2) : std::nullopt;
    long long kind = 1;
    if (!rate || *rate > 9999 || (f.size() > 2 && (!ToInt(f[2], kind) || kind < 0 || kind > 255)) ||
        Utf8Length(t.name) > 12) {
      r.Fail("Taxes/" + key, "expected name;rate;kind with a rate below 100");
      return;
    }
    t.rateHundredths = static_cast<int>(*rate);
    t.kind = static_cast<std::uint8_t>(kind);
    s.taxes[static_cast<std::size_t>(n - 1)] = t;
  }
}

void ReadTextLines(Reader& r, std::string_view sec, std::array<TextLine, kTextLineCount>& lines) {
  for (int n = 1; n <= kTextLineCount; ++n) {
    const std::string key = std::to_string(n);
    if (!r.Ini().ValueExists(sec, key)) continue;
    const std::string value = r.Str(sec, key, "");
    const std::size_t semi = value.find(';');
    long long font = 0;
    if (semi == std::string::npos || !ToInt(value.substr(0, semi), font) || font < 0 || font > 255) {
      r.Fail(std::string(sec) + "/" + key, "expected font;text");
      return;
    }
    if (Utf8Length(value.substr(semi + 1)) > kTextFieldChars) {
      r.Fail(std::string(sec) + "/" + key, "text longer than 32 characters");
      return;
    }
    lines[static_cast<std::size_t>(n - 1)] =
        TextLine{static_cast<std::uint8_t>(font), value.substr(semi + 1)};
  }
}

void ReadOperators(Reader& r, RegisterState& s) {
  constexpr std::string_view sec = "Operators";
  for (int n = 1; n <= kMaxOperators; ++n) {
    const std::string key = std::to_string(n);
    if (!r.Ini().ValueExists(sec, key)) continue;
    const auto f = Split(r.Str(sec, key, ""), ';');
    const std::string position = f.size() > 1 ? f[1] : std::string();
    if (Utf8Length(f[0]) > kTextFieldChars || Utf8Length(position) > kTextFieldChars) {
      r.Fail(std::string(sec) + "/" + key, "name or position longer than 32 characters");
      return;
    }
    s.operatorNames[static_cast<std::size_t>(n - 1)] = f[0];
    s.positions[static_cast<std::size_t>(n - 1)] = position;
  }
}

bool ParseGoods(const std::string& value, int code, int departments, Goods& g) {
  const auto f = Split(value, ';');
  if (f.size() < 3) return false;
  g = Goods{};
  g.code = code;
  g.name = f[0];
  const auto price = ParseScaled(f[1], 2);
  if (!price || *price > 9999999999ULL || Utf8Length(g.name) > 32 || !ParseTaxGroup(f[2], g.taxGroup)) {
    return false;
  }
  g.price = *price;
  long long section = 0;
  if (f.size() > 3 && !f[3].empty() && (!ToInt(f[3], section) || section < 0 || section > departments)) {
    return false;
  }
  g.section = static_cast<std::uint8_t>(section);
  if (f.size() > 4) {
    if (!ParseDigits(f[4], 20)) return false;
    const std::size_t first = f[4].find_first_not_of('0');
    g.barcode = first == std::string::npos ? std::string() : f[4].substr(first);
  }
  g.flags = 1;
  if (f.size() > 5 && !f[5].empty()) {
    if (Utf8EqualNoCase(f[5], "weight") || Utf8EqualNoCase(f[5], "весовой")) {
      g.flags = 0;
    } else if (!Utf8EqualNoCase(f[5], "piece") && !Utf8EqualNoCase(f[5], "штучный")) {
      return false;
    }
  }
  if (f.size() > 6 && !f[6].empty()) {
    const auto sold = ParseScaled(f[6], 3);
    if (!sold || *sold > 9999999999ULL) return false;
    g.sold = *sold;
  }
  if (f.size() > 7 && f[7] == "1") g.flags = static_cast<std::uint8_t>(g.flags | 2);
  return true;
}

void ReadGoods(Reader& r, RegisterState& s) {
  constexpr std::string_view sec = "Goods";
  const auto generate = static_cast<int>(r.Int(sec, "Generate", 0, 0, kMaxGoods));
  if (generate > s.goodsCapacity) {
    r.Fail("Goods/Generate", "more goods than Register/GoodsCapacity");
    return;
  }
  for (int code = 1; code <= generate; ++code) s.goods[code] = GeneratedGoods(code, s.maxCountDepat);
  for (const std::string& key : r.Ini().ReadSection(sec)) {
    if (Utf8EqualNoCase(key, "Generate")) continue;
    long long code = 0;
    Goods g;
    if (!ToInt(key, code) || code < 1 || code > s.goodsCapacity) {
      r.Fail("Goods/" + key, "goods number outside 1..GoodsCapacity");
      return;
    }
    if (!ParseGoods(r.Str(sec, key, ""), static_cast<int>(code), s.maxCountDepat, g)) {
      r.Fail("Goods/" + key, "expected name;price;tax group;section;barcode;piece|weight;sold;blocked");
      return;
    }
    s.goods[static_cast<int>(code)] = g;
  }
}

// ---- journal ----

struct LineKind {
  std::string_view word;
  std::uint8_t code;
};
constexpr LineKind kLineKinds[] = {
    {"sale", 0xA1},     {"buy", 0xA2},       {"code", 0xA3},       {"codebuy", 0xA4},
    {"service", 0xA5},  {"return", 0xAC},    {"codereturn", 0xAD}, {"servicereturn", 0xAE},
    {"discount", 0xB1}, {"surcharge", 0xB2}, {"annulsale", 0xA6},  {"annulcode", 0xA8},
};

bool IsSumCode(std::uint8_t c) {
  return c == 0xA1 || c == 0xA2 || c == 0xA6 || c == 0xA7 || c == 0xAC;
}
bool IsCodeCode(std::uint8_t c) {
  return c == 0xA3 || c == 0xA4 || c == 0xA5 || c == 0xA8 || c == 0xA9 || c == 0xAB || c == 0xAD || c == 0xAE;
}
bool IsAdjustCode(std::uint8_t c) {
  return c >= 0xB1 && c <= 0xB4;
}
bool IsAnnulment(std::uint8_t c) {
  return c == 0xA6 || c == 0xA7 || c == 0xA8 || c == 0xA9 || c == 0xAB;
}

std::uint64_t LineAmount(std::uint64_t quantity, std::uint64_t price) {
  return (quantity * price + 500) / 1000;
}

struct ReceiptTotals {
  long long total = 0;
  std::map<int, long long> byTax;
};

// One "LineN" of a receipt section; appends its record and updates totals.
bool EncodeLine(const RegisterState& s, const std::string& value, int& op, int& lastTax, int& lastDep,
                ReceiptTotals& t, std::vector<Bytes>& out) {
  const auto f = Split(value, ';');
  std::uint8_t code = 0;
  for (const auto& k : kLineKinds) {
    if (Utf8EqualNoCase(f[0], k.word)) code = k.code;
  }
  if (code == 0) {
    const auto hex = ParseHexBytes(f[0]);
    if (!hex || hex->size() != 1) return false;
    code = (*hex)[0];
  }
  long long tax = 0, dep = 0;
  if (IsSumCode(code)) {  // qty;price;tax;dept
    if (f.size() < 5) return false;
    const auto q = ParseScaled(f[1], 3), p = ParseScaled(f[2], 2);
    if (!q || !p || !ToInt(f[3], tax) || !ToInt(f[4], dep) || tax < 0 || tax > 99 || dep < 0 || dep > 255) {
      return false;
    }
    out.push_back(SumRecord(code, ++op, *q, *p, static_cast<int>(tax), static_cast<int>(dep)));
    const auto amount = static_cast<long long>(LineAmount(*q, *p));
    t.total += IsAnnulment(code) ? -amount : amount;
    t.byTax[static_cast<int>(tax)] += IsAnnulment(code) ? -amount : amount;
  } else if (IsCodeCode(code)) {  // goods code;qty[;price;tax;dept]
    long long goodsCode = 0;
    if (f.size() < 3 || !ToInt(f[1], goodsCode) || goodsCode < 0 || goodsCode > 999999) return false;
    const auto q = ParseScaled(f[2], 3);
    if (!q) return false;
    const auto it = s.goods.find(static_cast<int>(goodsCode));
    std::optional<std::uint64_t> p;
    if (f.size() > 3 && !f[3].empty())
      p = ParseScaled(f[3], 2);
    else if (it != s.goods.end())
      p = it->second.price;
    tax = it != s.goods.end() ? it->second.taxGroup : 1;
    dep = it != s.goods.end() ? it->second.section : 1;
    if (!p || (f.size() > 4 && !ToInt(f[4], tax)) || (f.size() > 5 && !ToInt(f[5], dep)) || tax < 0 ||
        tax > 99 || dep < 0 || dep > 255) {
      return false;
    }
    out.push_back(CodeRecord(code, ++op, static_cast<int>(goodsCode), *q, *p, static_cast<int>(tax),
                             static_cast<int>(dep)));
    const auto amount = static_cast<long long>(LineAmount(*q, *p));
    t.total += IsAnnulment(code) ? -amount : amount;
    t.byTax[static_cast<int>(tax)] += IsAnnulment(code) ? -amount : amount;
  } else if (IsAdjustCode(code)) {  // amount[;second]
    const auto a = f.size() > 1 ? ParseScaled(f[1], 2) : std::nullopt;
    long long second = 0;
    if (!a || (f.size() > 2 && (!ToInt(f[2], second) || second < 0 || second > 9999))) return false;
    tax = lastTax;
    dep = lastDep;
    out.push_back(AdjustRecord(code, ++op, static_cast<std::uint64_t>(second), *a, static_cast<int>(tax),
                               static_cast<int>(dep)));
    const long long sign = (code == 0xB1 || code == 0xB4) ? -1 : 1;
    t.total += sign * static_cast<long long>(*a);
    t.byTax[static_cast<int>(tax)] += sign * static_cast<long long>(*a);
  } else {
    return false;
  }
  lastTax = static_cast<int>(tax);
  lastDep = static_cast<int>(dep);
  return true;
}

void ReadReceipt(Reader& r, RegisterState& s, const std::string& sec) {
  const auto special = r.Str(sec, "Special", "");
  const auto oper = static_cast<int>(r.Int(sec, "Operator", 1, 0, 255));
  if (Utf8EqualNoCase(special, "repeat")) {
    s.journal.push_back(CheckOperRecord(kRecRepeat, oper));
  } else if (Utf8EqualNoCase(special, "annul")) {
    s.journal.push_back(CheckOperRecord(kRecAnnul, oper));
  } else if (!special.empty()) {
    r.Fail(sec + "/Special", "expected repeat or annul");
    return;
  } else {
    std::vector<Bytes> recs;
    ReceiptTotals t;
    int op = 0, lastTax = 1, lastDep = 1;
    for (int n = 1; n <= kMaxLines; ++n) {
      const std::string key = "Line" + std::to_string(n);
      if (!r.Ini().ValueExists(sec, key)) break;
      if (!EncodeLine(s, r.Str(sec, key, ""), op, lastTax, lastDep, t, recs)) {
        r.Fail(sec + "/" + key, "not a receipt line (see sim/README.md)");
        return;
      }
    }
    if (t.total < 0) t.total = 0;
    recs.push_back(SubtotalRecord(kRecSubtotal, ++op, static_cast<std::uint64_t>(t.total)));
    const std::string discount = r.Str(sec, "SubtotalDiscount", "");
    if (!discount.empty()) {
      const auto d = ParseScaled(discount, 2);
      if (!d || static_cast<long long>(*d) > t.total) {
        r.Fail(sec + "/SubtotalDiscount", "expected an amount up to the subtotal");
        return;
      }
      recs.push_back(SubtotalRecord(kRecSubtotalDiscount, ++op, *d));
      t.total -= static_cast<long long>(*d);
    }
    if (r.Int(sec, "TaxSums", 1, 0, 1) == 1) {
      for (const auto& [tax, amount] : t.byTax) {
        recs.push_back(
            TaxSumRecord(kRecTaxSum, ++op, tax, static_cast<std::uint64_t>(amount < 0 ? 0 : amount)));
      }
    }
    const auto kind = static_cast<int>(r.Int(sec, "Payment", 0, 0, 255));
    std::uint64_t tendered = 0;
    const std::string tenderedText = r.Str(sec, "Tendered", "0");
    const auto due = static_cast<std::uint64_t>(t.total);
    if (Utf8EqualNoCase(tenderedText, "exact")) {
      tendered = due;
    } else if (Utf8EqualNoCase(tenderedText, "round")) {
      tendered = (due / kRoundTender + 1) * kRoundTender;
    } else if (const auto v = ParseScaled(tenderedText, 2)) {
      tendered = *v;
    } else {
      r.Fail(sec + "/Tendered", "expected an amount");
      return;
    }
    recs.push_back(PaymentRecord(++op, kind, static_cast<std::uint64_t>(t.total), tendered));
    const auto receiptKind = static_cast<int>(r.Int(sec, "Kind", 1, 0, 255));
    const auto number = static_cast<std::uint64_t>(r.Int(sec, "Number", 1, 0, 99999999));
    recs.push_back(CloseRecord(receiptKind, number, r.Str(sec, "Date", ""), r.Str(sec, "Time", ""),
                               r.Int(sec, "Fiscal", 1, 0, 1) == 1, oper));
    for (auto& rec : recs) s.journal.push_back(std::move(rec));
  }
  const std::string raw = r.Str(sec, "Raw", "");
  if (!raw.empty()) {
    const auto bytes = ParseHexBytes(raw);
    if (!bytes) {
      r.Fail(sec + "/Raw", "expected hexadecimal bytes");
      return;
    }
    s.journal.push_back(*bytes);
  }
}

std::string TwoDigits(int v) {
  return std::string(1, static_cast<char>('0' + v / 10 % 10)) + static_cast<char>('0' + v % 10);
}

// Receipts made up from the goods: 1 to 3 lines each, cash or card.
void GenerateReceipts(RegisterState& s, int count, int firstNumber) {
  std::vector<const Goods*> goods;
  for (const auto& [code, g] : s.goods) goods.push_back(&g);
  for (int i = 0; i < count; ++i) {
    int op = 0;
    long long total = 0;
    std::map<int, long long> byTax;
    const int lines = 1 + i % 3;
    for (int k = 0; k < lines; ++k) {
      std::uint64_t q = 1000 * static_cast<std::uint64_t>(1 + (i + k) % 2);
      if (goods.empty()) {
        const std::uint64_t price = 1000 + static_cast<std::uint64_t>(i * 137 % 5000);
        s.journal.push_back(SumRecord(kRecSumSale, ++op, q, price, 1, 1));
        total += static_cast<long long>(LineAmount(q, price));
        byTax[1] += static_cast<long long>(LineAmount(q, price));
        continue;
      }
      const Goods& g = *goods[static_cast<std::size_t>(i * 7 + k * 3) % goods.size()];
      if ((g.flags & 1) == 0) q = 250 + static_cast<std::uint64_t>((i * 113) % 1500);
      s.journal.push_back(CodeRecord(0xA3, ++op, g.code, q, g.price, g.taxGroup, g.section));
      total += static_cast<long long>(LineAmount(q, g.price));
      byTax[g.taxGroup] += static_cast<long long>(LineAmount(q, g.price));
    }
    s.journal.push_back(SubtotalRecord(kRecSubtotal, ++op, static_cast<std::uint64_t>(total)));
    for (const auto& [tax, amount] : byTax) {
      s.journal.push_back(TaxSumRecord(kRecTaxSum, ++op, tax, static_cast<std::uint64_t>(amount)));
    }
    const bool card = i % 4 == 3;
    const auto tendered = card ? 0ULL : static_cast<std::uint64_t>((total / 10000 + 1) * 10000);
    s.journal.push_back(PaymentRecord(++op, card ? 4 : 0, static_cast<std::uint64_t>(total), tendered));
    const int minutes = 9 * 60 + (i * 11) % (12 * 60);
    const std::string time = TwoDigits(minutes / 60) + ":" + TwoDigits(minutes % 60);
    const std::string date = TwoDigits(1 + (i / 20) % 28) + ".12.10";
    s.journal.push_back(
        CloseRecord(1, static_cast<std::uint64_t>(firstNumber + i), date, time, true, 1 + i % 2));
  }
}

void ReadJournal(Reader& r, RegisterState& s) {
  for (int n = 1; n <= kMaxReceipts && r.Ok(); ++n) {
    const std::string sec = "Receipt" + std::to_string(n);
    if (!r.Ini().SectionExists(sec)) break;
    ReadReceipt(r, s, sec);
  }
  const auto generate = static_cast<int>(r.Int("Journal", "GenerateReceipts", 0, 0, kMaxReceipts));
  const auto first = static_cast<int>(r.Int("Journal", "FirstNumber", 1, 0, 99999999));
  if (generate > 0) GenerateReceipts(s, generate, first);
}

void ReadFaults(Reader& r, Scenario& sc) {
  constexpr std::string_view sec = "Faults";
  for (const std::string& key : r.Ini().ReadSection(sec)) {
    Fault f;
    std::string err;
    if (!ParseFault(r.Str(sec, key, ""), f, err)) {
      r.Fail("Faults/" + key, err);
      return;
    }
    sc.faults.push_back(f);
  }
}

}  // namespace

std::string ScenarioTextToUtf8(std::string_view bytes) {
  if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
      static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF) {
    bytes.remove_prefix(3);
  }
  if (IsValidUtf8(bytes)) return std::string(bytes);
  return Cp1251ToUtf8(bytes);
}

bool LoadScenarioText(std::string_view utf8Text, Scenario& out, std::string& error) {
  error.clear();
  const TIniFile ini = TIniFile::FromText(utf8Text);
  Scenario sc;
  Reader r(ini, error);
  ReadRegister(r, sc.state);
  if (r.Ok()) ReadOptions(r, sc.state);
  if (r.Ok()) ReadDepartments(r, sc.state);
  if (r.Ok()) ReadTaxes(r, sc.state);
  if (r.Ok()) ReadTextLines(r, "Header", sc.state.header);
  if (r.Ok()) ReadTextLines(r, "Footer", sc.state.footer);
  if (r.Ok()) ReadOperators(r, sc.state);
  if (r.Ok()) ReadGoods(r, sc.state);
  if (r.Ok()) ReadJournal(r, sc.state);
  if (r.Ok()) ReadFaults(r, sc);
  if (!r.Ok()) return false;
  out = std::move(sc);
  return true;
}

bool LoadScenarioFile(const std::string& path, Scenario& out, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot be read";
    return false;
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  if (!LoadScenarioText(ScenarioTextToUtf8(ss.str()), out, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

Goods GeneratedGoods(int code, int departments) {
  static constexpr const char* kNames[] = {"Хлеб",     "Молоко",  "Кефир", "Сыр",  "Масло", "Чай",
                                           "Кофе",     "Сахар",   "Соль",  "Мука", "Рис",   "Гречка",
                                           "Макароны", "Печенье", "Сок",   "Вода"};
  Goods g;
  g.code = code;
  const auto idx = static_cast<std::size_t>(code - 1) % std::size(kNames);
  g.name = std::string(kNames[idx]) + " №" + std::to_string(code);
  g.price = 1000 + static_cast<std::uint64_t>((code * 7919) % 90000);
  g.taxGroup = static_cast<std::uint8_t>(1 + code % 2);
  g.section = static_cast<std::uint8_t>(departments > 0 ? 1 + (code - 1) % departments : 0);
  // EAN-13 of the shop's own range 200.....: 12 digits and a check digit.
  std::string digits = "200" + std::string(9 - std::to_string(code).size(), '0') + std::to_string(code);
  int sum = 0;
  for (std::size_t i = 0; i < 12; ++i) sum += (digits[i] - '0') * (i % 2 ? 3 : 1);
  digits.push_back(static_cast<char>('0' + (10 - sum % 10) % 10));
  g.barcode = digits;
  g.flags = code % 10 == 0 ? 0 : 1;  // every tenth is sold by weight
  return g;
}

Goods GeneratedGoods(int code, const RegisterState& s) {
  std::vector<std::uint8_t> open;
  for (int n = 1; n <= s.maxCountDepat && n <= kMaxDepartments; ++n) {
    const std::uint8_t status = s.departments[static_cast<std::size_t>(n - 1)].status;
    if (status == kDepGoods || status == kDepService) open.push_back(static_cast<std::uint8_t>(n));
  }
  Goods g = GeneratedGoods(code, 0);
  if (!open.empty()) g.section = open[static_cast<std::size_t>(code - 1) % open.size()];
  return g;
}

Bytes SumRecord(std::uint8_t code, int op, std::uint64_t quantity, std::uint64_t price, int taxGroup,
                int department) {
  Bytes r(15, 0);
  r[0] = code;
  r[1] = static_cast<std::uint8_t>(op);
  PutBcd(&r[2], 5, quantity);
  PutBcd(&r[7], 5, price);
  r[12] = BcdByte(taxGroup);
  r[13] = static_cast<std::uint8_t>(department);
  r[14] = kRecordTail;
  return r;
}

Bytes CodeRecord(std::uint8_t code, int op, int goodsCode, std::uint64_t quantity, std::uint64_t price,
                 int taxGroup, int department) {
  Bytes r(18, 0);
  r[0] = code;
  r[1] = static_cast<std::uint8_t>(op);
  PutBcd(&r[2], 3, static_cast<std::uint64_t>(goodsCode));
  PutBcd(&r[5], 5, quantity);
  PutBcd(&r[10], 5, price);
  r[15] = BcdByte(taxGroup);
  r[16] = static_cast<std::uint8_t>(department);
  r[17] = kRecordTail;
  return r;
}

Bytes AdjustRecord(std::uint8_t code, int op, std::uint64_t second, std::uint64_t amount, int taxGroup,
                   int department) {
  Bytes r(12, 0);
  r[0] = code;
  r[1] = static_cast<std::uint8_t>(op);
  PutBcd(&r[2], 2, second);
  PutBcd(&r[4], 5, amount);
  r[9] = BcdByte(taxGroup);
  r[10] = static_cast<std::uint8_t>(department);
  r[11] = kRecordTail;
  return r;
}

Bytes SubtotalRecord(std::uint8_t code, int op, std::uint64_t amount) {
  Bytes r(10, 0);
  r[0] = code;
  r[1] = static_cast<std::uint8_t>(op);
  PutBcd(&r[2], 7, amount);
  r[9] = kRecordTail;
  return r;
}

Bytes TaxSumRecord(std::uint8_t code, int op, int taxRate, std::uint64_t amount) {
  Bytes r(11, 0);
  r[0] = code;
  r[1] = static_cast<std::uint8_t>(op);
  r[2] = BcdByte(taxRate);
  PutBcd(&r[3], 7, amount);
  r[10] = kRecordTail;
  return r;
}

Bytes PaymentRecord(int op, int paymentKind, std::uint64_t due, std::uint64_t tendered) {
  Bytes r(18, 0);
  r[0] = kRecPayment;
  r[1] = static_cast<std::uint8_t>(op);
  r[2] = static_cast<std::uint8_t>(paymentKind);
  PutBcd(&r[3], 7, due);
  PutBcd(&r[10], 7, tendered);
  r[17] = kRecordTail;
  return r;
}

namespace {
// "AA.BB.CC" or "AA:BB": the two-digit groups as BCD bytes; false when the
// text is not of that form.
bool PutClockGroups(std::uint8_t* out, std::string_view text, std::size_t groups, char sep) {
  if (text.size() != groups * 3 - 1) return false;
  for (std::size_t g = 0; g < groups; ++g) {
    const char a = text[g * 3], b = text[g * 3 + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return false;
    if (g + 1 < groups && text[g * 3 + 2] != sep) return false;
  }
  for (std::size_t g = 0; g < groups; ++g) {
    out[g] = static_cast<std::uint8_t>((text[g * 3] - '0') * 16 + (text[g * 3 + 1] - '0'));
  }
  return true;
}
}  // namespace

Bytes CloseRecord(int receiptKind, std::uint64_t number, std::string_view date, std::string_view time,
                  bool fiscal, int operatorNumber) {
  Bytes r(14, 0);
  r[0] = kRecClose;
  r[1] = static_cast<std::uint8_t>(receiptKind);
  PutBcd(&r[2], 4, number);
  if (!PutClockGroups(&r[6], date, 3, '.')) r[6] = r[7] = r[8] = kUnsetDateByte;
  if (!PutClockGroups(&r[9], time, 2, ':')) r[9] = r[10] = kUnsetDateByte;
  r[11] = fiscal ? kFiscalMark : 0;
  r[12] = static_cast<std::uint8_t>(operatorNumber);
  r[13] = kRecordTail;
  return r;
}

Bytes CheckOperRecord(std::uint8_t code, int operatorNumber) {
  return Bytes{code, static_cast<std::uint8_t>(operatorNumber), kRecordTail};
}

}  // namespace zarvik::sim
