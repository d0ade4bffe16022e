#include "store/WorkTable.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "shell/TextCodec.h"

namespace zarvik {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
constexpr int kCurrencyDecimals = 4;
constexpr int kFloatTextDigits = 15;  // significant digits of a float shown as text
constexpr std::string_view kTrueText = "True";
constexpr std::string_view kFalseText = "False";

std::optional<char> g_separator;

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ParseInt64(std::string_view text, std::int64_t& out) {
  std::string_view t = TrimBlanks(text);
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  if (t.empty()) return false;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
  return ec == std::errc() && end == t.data() + t.size();
}

bool ParseDouble(std::string_view text, double& out) {
  std::string t(TrimBlanks(text));
  if (!t.empty() && t.front() == '+') t.erase(0, 1);
  if (t.empty()) return false;
  std::replace(t.begin(), t.end(), ',', '.');
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
  return ec == std::errc() && end == t.data() + t.size() && std::isfinite(out);
}

bool FitsInteger(std::int64_t v) {
  return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
}

// Rounds half away from zero; false when out of the 64-bit range.
bool RoundToInt64(double v, std::int64_t& out) {
  if (!std::isfinite(v) || std::fabs(v) >= 9.2e18) return false;
  out = std::llround(v);
  return true;
}

std::string FloatText(double v, char separator) {
  char buffer[64];
  const auto res =
      std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, kFloatTextDigits);
  std::string s(buffer, res.ptr);
  std::replace(s.begin(), s.end(), '.', separator);
  return s;
}

bool EqualNoCaseAscii(std::string_view a, std::string_view b) {
  return Utf8EqualNoCase(a, b);
}

// Decimals a numeric display format shows at most: the characters after
// its point.
std::size_t FormatDecimals(std::string_view format) {
  const auto point = format.find('.');
  return point == std::string_view::npos ? 0 : format.size() - point - 1;
}

// The magnitude of a double with `decimals` decimals ("12.50").
std::string FixedDigits(double value, std::size_t decimals) {
  char buffer[400];
  const auto res = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::fixed,
                                 static_cast<int>(decimals));
  return std::string(buffer, res.ptr);
}

// The magnitude of a Currency value with `decimals` decimals, the exact
// decimal rounded half away from zero.
std::string FixedDigits(Currency value, std::size_t decimals) {
  const std::uint64_t magnitude = value.raw < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(value.raw)
                                                : static_cast<std::uint64_t>(value.raw);
  const auto scale = static_cast<std::uint64_t>(Currency::kScale);
  std::string whole = std::to_string(magnitude / scale);
  std::string fraction = std::to_string(magnitude % scale);
  fraction.insert(0, static_cast<std::size_t>(kCurrencyDecimals) - fraction.size(), '0');
  if (decimals >= fraction.size())
    return whole + "." + fraction + std::string(decimals - fraction.size(), '0');
  const bool up = fraction[decimals] >= '5';
  std::string digits = whole + fraction.substr(0, decimals);
  if (up) {
    std::size_t i = digits.size();
    while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
    if (i == 0)
      digits.insert(0, 1, '1');
    else
      ++digits[i - 1];
  }
  if (decimals == 0) return digits;
  return digits.substr(0, digits.size() - decimals) + "." + digits.substr(digits.size() - decimals);
}

// Delphi-style numeric display format made of "#", "0" and one ".":
// the count of "0" before the point gives the least whole digits, "0" after
// it the least decimals, "#" after it further optional decimals. `digits` is
// the value's magnitude with as many decimals as the format has places.
std::string FormatNumber(std::string_view format, bool negative, const std::string& digits, char separator) {
  const auto point = format.find('.');
  const std::string_view whole = format.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : format.substr(point + 1);
  const auto minWhole = static_cast<std::size_t>(std::count(whole.begin(), whole.end(), '0'));
  const auto minDecimals = static_cast<std::size_t>(std::count(fraction.begin(), fraction.end(), '0'));
  const std::size_t maxDecimals = fraction.size();
  std::string w = digits.substr(0, digits.find('.'));
  std::string f = maxDecimals ? digits.substr(digits.find('.') + 1) : std::string();
  while (f.size() > minDecimals && f.back() == '0') f.pop_back();
  const auto firstNonZero = w.find_first_not_of('0');
  w = firstNonZero == std::string::npos ? std::string() : w.substr(firstNonZero);
  if (w.size() < minWhole) w.insert(0, minWhole - w.size(), '0');
  const bool zero =
      w.find_first_not_of('0') == std::string::npos && f.find_first_not_of('0') == std::string::npos;
  std::string out = (negative && !zero ? "-" : "") + w;
  if (!f.empty()) out += separator + f;
  return out;
}

}  // namespace

// ---- Currency ----------------------------------------------------------------

bool CurrencyFromText(std::string_view text, Currency& out) {
  const std::string_view t = TrimBlanks(text);
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  std::int64_t raw = 0;
  int digits = 0;
  const auto addDigit = [&](char c) {
    return !__builtin_mul_overflow(raw, 10, &raw) && !__builtin_add_overflow(raw, c - '0', &raw);
  };
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
    if (!addDigit(t[i++])) return false;
    ++digits;
  }
  int decimals = 0;
  bool roundUp = false;
  if (i < t.size() && (t[i] == '.' || t[i] == ',')) {
    ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
      if (decimals < kCurrencyDecimals) {
        if (!addDigit(t[i])) return false;
        ++decimals;
      } else if (decimals == kCurrencyDecimals) {
        roundUp = t[i] >= '5';
        ++decimals;
      }
      ++i;
      ++digits;
    }
  }
  if (i != t.size() || digits == 0) return false;
  for (int d = std::min(decimals, kCurrencyDecimals); d < kCurrencyDecimals; ++d)
    if (__builtin_mul_overflow(raw, 10, &raw)) return false;
  if (roundUp && __builtin_add_overflow(raw, 1, &raw)) return false;
  out.raw = negative ? -raw : raw;
  return true;
}

std::string CurrencyToText(Currency value, char separator) {
  const bool negative = value.raw < 0;
  // Magnitude as unsigned so that the lowest value has one too.
  const std::uint64_t magnitude =
      negative ? static_cast<std::uint64_t>(-(value.raw + 1)) + 1 : static_cast<std::uint64_t>(value.raw);
  const auto scale = static_cast<std::uint64_t>(Currency::kScale);
  std::string out = (negative ? "-" : "") + std::to_string(magnitude / scale);
  std::string fraction = std::to_string(magnitude % scale);
  fraction.insert(0, static_cast<std::size_t>(kCurrencyDecimals) - fraction.size(), '0');
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  if (!fraction.empty()) out += separator + fraction;
  return out;
}

bool CurrencyFromDouble(double value, Currency& out) {
  std::int64_t raw = 0;
  if (!RoundToInt64(value * static_cast<double>(Currency::kScale), raw)) return false;
  out.raw = raw;
  return true;
}

double CurrencyToDouble(Currency value) {
  return static_cast<double>(value.raw) / static_cast<double>(Currency::kScale);
}

char DecimalSeparator() {
  if (!g_separator) {
    char separator = '.';
    if (locale_t loc = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr))) {
      const char* radix = ::nl_langinfo_l(RADIXCHAR, loc);
      if (radix != nullptr && radix[0] != '\0' && radix[1] == '\0') separator = radix[0];
      ::freelocale(loc);
    }
    g_separator = separator;
  }
  return *g_separator;
}

void SetDecimalSeparator(char separator) {
  g_separator = separator;
}

std::string WtResultText(WtResult result) {
  switch (result) {
    case WtResult::Ok: return "ok";
    case WtResult::NotActive: return "table is not open";
    case WtResult::NoCurrentRow: return "no current row";
    case WtResult::NotEditing: return "table is not in edit or insert state";
    case WtResult::UnknownField: return "no such field";
    case WtResult::ConversionError: return "value cannot be converted";
    case WtResult::ReadOnlyField: return "field cannot be changed";
    case WtResult::BadFilter: return "filter expression is invalid";
    case WtResult::DuplicateKey: return "another row has that key";
  }
  return "unknown result";
}

// ---- TWorkTable ----------------------------------------------------------------

TWorkTable::TWorkTable(std::string name) : name_(std::move(name)) {}

TWorkField& TWorkTable::AddField(std::string name, TFieldType type, int size) {
  TWorkField f;
  f.name = std::move(name);
  f.type = type;
  f.size = size;
  fields_.push_back(std::move(f));
  return fields_.back();
}

int TWorkTable::FieldIndex(std::string_view name) const {
  for (std::size_t i = 0; i < fields_.size(); ++i)
    if (EqualNoCaseAscii(fields_[i].name, name)) return static_cast<int>(i);
  return -1;
}

TWorkField* TWorkTable::FindField(std::string_view name) {
  const int i = FieldIndex(name);
  return i < 0 ? nullptr : &fields_[static_cast<std::size_t>(i)];
}

WtResult TWorkTable::Fail(WtResult result, const std::string& detail) const {
  lastError_ = name_ + ": " + WtResultText(result);
  if (!detail.empty()) lastError_ += " (" + detail + ")";
  return result;
}

int TWorkTable::Resolve(std::string_view field) const {
  const int i = FieldIndex(field);
  if (i < 0) Fail(WtResult::UnknownField, std::string(field));
  return i;
}

void TWorkTable::Open() {
  if (Active()) return;
  rows_.clear();
  state_ = State::Browse;
  cursor_ = kNone;
  eof_ = bof_ = true;
  modified_ = false;
  NotifyReset();
}

void TWorkTable::Close() {
  if (!Active()) return;
  rows_.clear();
  pending_.values.clear();
  state_ = State::Inactive;
  cursor_ = kNone;
  eof_ = bof_ = true;
  modified_ = false;
  NotifyReset();
}

bool TWorkTable::Visible(std::size_t row) const {
  if (!filtered_ || filterField_ < 0) return true;
  const TWorkField& f = fields_[static_cast<std::size_t>(filterField_)];
  return ValueText(f, rows_[row].values[static_cast<std::size_t>(filterField_)]) == filterValue_;
}

std::size_t TWorkTable::NextVisible(std::size_t from) const {
  for (std::size_t i = from; i < rows_.size(); ++i)
    if (Visible(i)) return i;
  return kNone;
}

std::size_t TWorkTable::PriorVisible(std::size_t before) const {
  for (std::size_t i = std::min(before, rows_.size()); i-- > 0;)
    if (Visible(i)) return i;
  return kNone;
}

int TWorkTable::VisibleIndex(std::size_t row) const {
  if (row >= rows_.size() || !Visible(row)) return -1;
  if (!filtered_) return static_cast<int>(row);
  int n = 0;
  for (std::size_t i = 0; i < row; ++i)
    if (Visible(i)) ++n;
  return n;
}

int TWorkTable::RecordCount() const {
  if (!Active()) return 0;
  if (!filtered_) return static_cast<int>(rows_.size());
  int n = 0;
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (Visible(i)) ++n;
  return n;
}

int TWorkTable::RecNo() const {
  if (state_ == State::Insert) return RecordCount() + 1;
  if (cursor_ == kNone) return 0;
  return VisibleIndex(cursor_) + 1;
}

bool TWorkTable::SetRecNo(int recNo) {
  if (!Active() || recNo < 1) return false;
  CheckBrowseMode();
  int n = 0;
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (Visible(i) && ++n == recNo) {
      MoveTo(i, false);
      return true;
    }
  return false;
}

bool TWorkTable::CheckBrowseMode() {
  if (state_ == State::Edit || state_ == State::Insert) {
    if (modified_ && Post() == WtResult::Ok) return true;
    // Unchanged, or a row the table cannot take (a key another row holds):
    // the cursor never leaves a pending row behind.
    const bool unchanged = !modified_;
    Cancel();
    return unchanged;
  }
  return true;
}

void TWorkTable::MoveTo(std::size_t row, bool alwaysEvents) {
  if (row == cursor_ && !alwaysEvents) {
    eof_ = bof_ = false;
    return;
  }
  if (beforeScroll) beforeScroll(*this);
  cursor_ = row;
  eof_ = bof_ = row == kNone;
  if (afterScroll) afterScroll(*this);
  NotifyCurrent();
}

void TWorkTable::First() {
  if (!Active()) return;
  CheckBrowseMode();
  MoveTo(NextVisible(0), true);
  bof_ = true;
}

void TWorkTable::Last() {
  if (!Active()) return;
  CheckBrowseMode();
  MoveTo(PriorVisible(rows_.size()), true);
  eof_ = true;
}

void TWorkTable::Next() {
  if (!Active()) return;
  CheckBrowseMode();
  if (eof_ || cursor_ == kNone) return;
  const std::size_t next = NextVisible(cursor_ + 1);
  if (next == kNone) {
    eof_ = true;
    return;
  }
  MoveTo(next, false);
}

void TWorkTable::Prior() {
  if (!Active()) return;
  CheckBrowseMode();
  if (bof_ || cursor_ == kNone) return;
  const std::size_t prior = PriorVisible(cursor_);
  if (prior == kNone) {
    bof_ = true;
    return;
  }
  MoveTo(prior, false);
}

WtResult TWorkTable::SetFilter(std::string_view e) {
  if (!Active()) return Fail(WtResult::NotActive, "");
  std::size_t i = 0;
  const auto skip = [&] {
    while (i < e.size() && e[i] == ' ') ++i;
  };
  skip();
  const std::size_t nameStart = i;
  while (i < e.size() && e[i] != ' ' && e[i] != '=') ++i;
  const std::string_view name = e.substr(nameStart, i - nameStart);
  skip();
  const int field = FieldIndex(name);
  if (name.empty() || field < 0 || i >= e.size() || e[i] != '=')
    return Fail(WtResult::BadFilter, std::string(e));
  ++i;
  skip();
  if (i >= e.size() || e[i] != '\'') return Fail(WtResult::BadFilter, std::string(e));
  ++i;
  std::string value;
  for (;;) {
    if (i >= e.size()) return Fail(WtResult::BadFilter, std::string(e));
    if (e[i] == '\'') {
      if (i + 1 < e.size() && e[i + 1] == '\'') {
        value.push_back('\'');
        i += 2;
        continue;
      }
      ++i;
      break;
    }
    value.push_back(e[i++]);
  }
  skip();
  if (i != e.size()) return Fail(WtResult::BadFilter, std::string(e));
  filterText_ = std::string(e);
  filterField_ = field;
  filterValue_ = std::move(value);
  if (filtered_) {
    NotifyReset();
    First();
  }
  return WtResult::Ok;
}

void TWorkTable::SetFiltered(bool on) {
  if (filtered_ == on) return;
  CheckBrowseMode();
  filtered_ = on;
  if (!Active()) return;
  NotifyReset();
  First();
}

const std::vector<WtValue>& TWorkTable::CurrentValues() const {
  if (calcRow_ != nullptr) return *calcRow_;
  if (state_ == State::Edit || state_ == State::Insert) return pending_.values;
  if (cursor_ != kNone && cursor_ < rows_.size()) return rows_[cursor_].values;
  static const std::vector<WtValue> kNoRow(256);  // nulls; tables have fewer fields
  return kNoRow;
}

void TWorkTable::Calculate(const std::vector<WtValue>& row) const {
  auto* self = const_cast<TWorkTable*>(this);
  calc_.assign(fields_.size(), WtValue{});
  if (!onCalcFields || row.size() < fields_.size()) return;
  const State saved = state_;
  calcRow_ = &row;
  self->state_ = State::CalcFields;
  onCalcFields(*self);
  self->state_ = saved;
  calcRow_ = nullptr;
}

const WtValue& TWorkTable::ValueOf(int field) const {
  static const WtValue kNull;
  if (field < 0 || field >= FieldCount()) return kNull;
  const auto f = static_cast<std::size_t>(field);
  if (fields_[f].IsCalculated()) {
    if (calcRow_ == nullptr) Calculate(CurrentValues());
    return calc_.size() > f ? calc_[f] : kNull;
  }
  const std::vector<WtValue>& values = CurrentValues();
  return values.size() > f ? values[f] : kNull;
}

std::string TWorkTable::ValueText(const TWorkField& f, const WtValue& v) const {
  if (std::holds_alternative<std::monostate>(v)) return {};
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* b = std::get_if<bool>(&v)) return std::string(*b ? kTrueText : kFalseText);
  if (const auto* d = std::get_if<double>(&v)) return FloatText(*d, DecimalSeparator());
  const std::int64_t i = std::get<std::int64_t>(v);
  if (f.type == TFieldType::Currency) return CurrencyToText(Currency::FromRaw(i), DecimalSeparator());
  return std::to_string(i);
}

std::string TWorkTable::Text(int field) const {
  if (field < 0 || field >= FieldCount()) return {};
  return ValueText(fields_[static_cast<std::size_t>(field)], ValueOf(field));
}

std::string TWorkTable::Text(std::string_view field) const {
  return Text(Resolve(field));
}

bool TWorkTable::IsNull(int field) const {
  return std::holds_alternative<std::monostate>(ValueOf(field));
}
bool TWorkTable::IsNull(std::string_view field) const {
  return IsNull(Resolve(field));
}

WtResult TWorkTable::ToInteger(int field, const WtValue& v, std::int64_t& out) const {
  out = 0;
  const TWorkField& f = fields_[static_cast<std::size_t>(field)];
  if (std::holds_alternative<std::monostate>(v)) {
    if (f.type == TFieldType::String || f.type == TFieldType::CalcString)
      return Fail(WtResult::ConversionError, "'' is not a valid number for field '" + f.name + "'");
    return WtResult::Ok;
  }
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (ParseInt64(*s, out)) return WtResult::Ok;
    out = 0;
    return Fail(WtResult::ConversionError, "'" + *s + "' is not a valid integer for field '" + f.name + "'");
  }
  if (const auto* b = std::get_if<bool>(&v)) {
    out = *b ? 1 : 0;
    return WtResult::Ok;
  }
  if (const auto* d = std::get_if<double>(&v)) {
    if (RoundToInt64(*d, out)) return WtResult::Ok;
    return Fail(WtResult::ConversionError, "field '" + f.name + "' out of range");
  }
  const std::int64_t i = std::get<std::int64_t>(v);
  if (f.type == TFieldType::Currency) {
    const std::int64_t q = i / Currency::kScale;
    const std::int64_t r = i % Currency::kScale;
    out = q + (2 * r >= Currency::kScale ? 1 : (2 * r <= -Currency::kScale ? -1 : 0));
  } else {
    out = i;
  }
  return WtResult::Ok;
}

WtResult TWorkTable::GetInteger(std::string_view field, std::int64_t& out) const {
  out = 0;
  const int i = Resolve(field);
  if (i < 0) return WtResult::UnknownField;
  return ToInteger(i, ValueOf(i), out);
}

WtResult TWorkTable::GetCurrency(std::string_view field, Currency& out) const {
  out = Currency{};
  const int i = Resolve(field);
  if (i < 0) return WtResult::UnknownField;
  const TWorkField& f = fields_[static_cast<std::size_t>(i)];
  const WtValue& v = ValueOf(i);
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (CurrencyFromText(*s, out)) return WtResult::Ok;
    out = Currency{};
    return Fail(WtResult::ConversionError, "'" + *s + "' is not a valid number for field '" + f.name + "'");
  }
  if (const auto* d = std::get_if<double>(&v)) {
    if (CurrencyFromDouble(*d, out)) return WtResult::Ok;
    return Fail(WtResult::ConversionError, "field '" + f.name + "' out of range");
  }
  if (f.type == TFieldType::Currency && std::holds_alternative<std::int64_t>(v)) {
    out.raw = std::get<std::int64_t>(v);
    return WtResult::Ok;
  }
  std::int64_t whole = 0;
  const WtResult r = ToInteger(i, v, whole);
  if (r != WtResult::Ok) return r;
  if (__builtin_mul_overflow(whole, Currency::kScale, &out.raw)) {
    out = Currency{};
    return Fail(WtResult::ConversionError, "field '" + f.name + "' out of range");
  }
  return WtResult::Ok;
}

WtResult TWorkTable::GetFloat(std::string_view field, double& out) const {
  out = 0;
  const int i = Resolve(field);
  if (i < 0) return WtResult::UnknownField;
  const TWorkField& f = fields_[static_cast<std::size_t>(i)];
  const WtValue& v = ValueOf(i);
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (ParseDouble(*s, out)) return WtResult::Ok;
    out = 0;
    return Fail(WtResult::ConversionError, "'" + *s + "' is not a valid number for field '" + f.name + "'");
  }
  if (const auto* d = std::get_if<double>(&v)) {
    out = *d;
    return WtResult::Ok;
  }
  if (f.type == TFieldType::Currency && std::holds_alternative<std::int64_t>(v)) {
    out = CurrencyToDouble(Currency::FromRaw(std::get<std::int64_t>(v)));
    return WtResult::Ok;
  }
  std::int64_t whole = 0;
  const WtResult r = ToInteger(i, v, whole);
  out = static_cast<double>(whole);
  return r;
}

WtResult TWorkTable::GetBoolean(std::string_view field, bool& out) const {
  out = false;
  const int i = Resolve(field);
  if (i < 0) return WtResult::UnknownField;
  const TWorkField& f = fields_[static_cast<std::size_t>(i)];
  const WtValue& v = ValueOf(i);
  if (const auto* b = std::get_if<bool>(&v)) {
    out = *b;
    return WtResult::Ok;
  }
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (EqualNoCaseAscii(*s, kTrueText) || EqualNoCaseAscii(*s, "T")) {
      out = true;
      return WtResult::Ok;
    }
    if (EqualNoCaseAscii(*s, kFalseText) || EqualNoCaseAscii(*s, "F")) return WtResult::Ok;
    return Fail(WtResult::ConversionError, "'" + *s + "' is not a valid boolean for field '" + f.name + "'");
  }
  if (f.type == TFieldType::String || f.type == TFieldType::CalcString)
    return Fail(WtResult::ConversionError, "'' is not a valid boolean for field '" + f.name + "'");
  std::int64_t n = 0;
  const WtResult r = ToInteger(i, v, n);
  out = n != 0;
  return r;
}

std::int64_t TWorkTable::Int(std::string_view field) const {
  std::int64_t v = 0;
  GetInteger(field, v);
  return v;
}
Currency TWorkTable::Cur(std::string_view field) const {
  Currency v;
  GetCurrency(field, v);
  return v;
}
double TWorkTable::Flt(std::string_view field) const {
  double v = 0;
  GetFloat(field, v);
  return v;
}
bool TWorkTable::Bool(std::string_view field) const {
  bool v = false;
  GetBoolean(field, v);
  return v;
}

WtResult TWorkTable::ConvertText(const TWorkField& f, std::string_view text, WtValue& out) const {
  out = WtValue{};
  switch (f.type) {
    case TFieldType::String:
    case TFieldType::CalcString: {
      std::string s = Utf8Left(text, static_cast<std::size_t>(std::max(f.size, 0)));
      if (!s.empty()) out = std::move(s);
      return WtResult::Ok;
    }
    case TFieldType::Integer: {
      if (TrimBlanks(text).empty()) return WtResult::Ok;
      std::int64_t v = 0;
      if (!ParseInt64(text, v) || !FitsInteger(v))
        return Fail(WtResult::ConversionError,
                    "'" + std::string(text) + "' is not a valid integer for field '" + f.name + "'");
      out = v;
      return WtResult::Ok;
    }
    case TFieldType::Currency: {
      if (TrimBlanks(text).empty()) return WtResult::Ok;
      Currency c;
      if (!CurrencyFromText(text, c))
        return Fail(WtResult::ConversionError,
                    "'" + std::string(text) + "' is not a valid number for field '" + f.name + "'");
      out = c.raw;
      return WtResult::Ok;
    }
    case TFieldType::Float: {
      if (TrimBlanks(text).empty()) return WtResult::Ok;
      double d = 0;
      if (!ParseDouble(text, d))
        return Fail(WtResult::ConversionError,
                    "'" + std::string(text) + "' is not a valid number for field '" + f.name + "'");
      out = d;
      return WtResult::Ok;
    }
    case TFieldType::Boolean: {
      const std::string_view t = TrimBlanks(text);
      if (t.empty()) return WtResult::Ok;
      if (EqualNoCaseAscii(t, kTrueText) || EqualNoCaseAscii(t, "T"))
        out = true;
      else if (EqualNoCaseAscii(t, kFalseText) || EqualNoCaseAscii(t, "F"))
        out = false;
      else
        return Fail(WtResult::ConversionError,
                    "'" + std::string(text) + "' is not a valid boolean for field '" + f.name + "'");
      return WtResult::Ok;
    }
  }
  return WtResult::Ok;
}

WtResult TWorkTable::Store(int field, WtValue value) {
  const auto f = static_cast<std::size_t>(field);
  if (fields_[f].IsCalculated()) {
    if (state_ != State::CalcFields) return Fail(WtResult::ReadOnlyField, fields_[f].name);
    calc_.resize(fields_.size());
    calc_[f] = std::move(value);
    return WtResult::Ok;
  }
  if (state_ != State::Edit && state_ != State::Insert) return Fail(WtResult::NotEditing, fields_[f].name);
  pending_.values[f] = std::move(value);
  modified_ = true;
  NotifyChanged(CurrentViewRow());
  if (fields_[f].onChange) fields_[f].onChange(*this, fields_[f]);
  return WtResult::Ok;
}

WtResult TWorkTable::SetText(int field, std::string_view text) {
  if (!Active()) return Fail(WtResult::NotActive, "");
  if (field < 0 || field >= FieldCount()) return Fail(WtResult::UnknownField, std::to_string(field));
  WtValue v;
  if (const WtResult r = ConvertText(fields_[static_cast<std::size_t>(field)], text, v); r != WtResult::Ok)
    return r;
  return Store(field, std::move(v));
}

WtResult TWorkTable::SetText(std::string_view field, std::string_view text) {
  const int i = Resolve(field);
  if (i < 0) return WtResult::UnknownField;
  return SetText(i, text);
}

WtResult TWorkTable::SetValue(int field, const WtValue& value) {
  if (!Active()) return Fail(WtResult::NotActive, "");
  if (field < 0 || field >= FieldCount()) return Fail(WtResult::UnknownField, std::to_string(field));
  const TWorkField& f = fields_[static_cast<std::size_t>(field)];
  if (std::holds_alternative<std::monostate>(value)) return Store(field, value);
  bool ok = false;
  switch (f.type) {
    case TFieldType::String:
    case TFieldType::CalcString:
      if (const auto* s = std::get_if<std::string>(&value)) return SetText(field, *s);
      break;
    case TFieldType::Integer:
      ok = std::holds_alternative<std::int64_t>(value) && FitsInteger(std::get<std::int64_t>(value));
      break;
    case TFieldType::Currency: ok = std::holds_alternative<std::int64_t>(value); break;
    case TFieldType::Float: ok = std::holds_alternative<double>(value); break;
    case TFieldType::Boolean: ok = std::holds_alternative<bool>(value); break;
  }
  if (!ok) return Fail(WtResult::ConversionError, "value of another type for field '" + f.name + "'");
  return Store(field, value);
}

WtResult TWorkTable::SetInteger(std::string_view field, std::int64_t value) {
  const int i = Resolve(field);
  if (i < 0) return WtResult::UnknownField;
  const TWorkField& f = fields_[static_cast<std::size_t>(i)];
  switch (f.type) {
    case TFieldType::Integer:
      if (!FitsInteger(value))
        return Fail(WtResult::ConversionError,
                    std::to_string(value) + " out of range for field '" + f.name + "'");
      return SetValue(i, value);
    case TFieldType::Currency: {
      std::int64_t raw = 0;
      if (__builtin_mul_overflow(value, Currency::kScale, &raw))
        return Fail(WtResult::ConversionError,
                    std::to_string(value) + " out of range for field '" + f.name + "'");
      return SetValue(i, raw);
    }
    case TFieldType::Float: return SetValue(i, static_cast<double>(value));
    case TFieldType::Boolean: return SetValue(i, value != 0);
    case TFieldType::String:
    case TFieldType::CalcString: return SetText(i, std::to_string(value));
  }
  return WtResult::Ok;
}

WtResult TWorkTable::SetCurrency(std::string_view field, Currency value) {
  const int i = Resolve(field);
  if (i < 0) return WtResult::UnknownField;
  const TWorkField& f = fields_[static_cast<std::size_t>(i)];
  switch (f.type) {
    case TFieldType::Currency: return SetValue(i, value.raw);
    case TFieldType::Float: return SetValue(i, CurrencyToDouble(value));
    case TFieldType::String:
    case TFieldType::CalcString: return SetText(i, CurrencyToText(value, DecimalSeparator()));
    case TFieldType::Integer: {
      std::int64_t n = 0;
      RoundToInt64(CurrencyToDouble(value), n);
      return SetInteger(f.name, n);
    }
    case TFieldType::Boolean: break;
  }
  return Fail(WtResult::ConversionError, "a number for boolean field '" + f.name + "'");
}

WtResult TWorkTable::SetFloat(std::string_view field, double value) {
  const int i = Resolve(field);
  if (i < 0) return WtResult::UnknownField;
  const TWorkField& f = fields_[static_cast<std::size_t>(i)];
  if (!std::isfinite(value))
    return Fail(WtResult::ConversionError, "not a finite number for '" + f.name + "'");
  switch (f.type) {
    case TFieldType::Float: return SetValue(i, value);
    case TFieldType::Currency: {
      Currency c;
      if (!CurrencyFromDouble(value, c))
        return Fail(WtResult::ConversionError, "out of range for '" + f.name + "'");
      return SetValue(i, c.raw);
    }
    case TFieldType::Integer: {
      std::int64_t n = 0;
      if (!RoundToInt64(value, n))
        return Fail(WtResult::ConversionError, "out of range for '" + f.name + "'");
      return SetInteger(f.name, n);
    }
    case TFieldType::String:
    case TFieldType::CalcString: return SetText(i, FloatText(value, DecimalSeparator()));
    case TFieldType::Boolean: break;
  }
  return Fail(WtResult::ConversionError, "a number for boolean field '" + f.name + "'");
}

WtResult TWorkTable::SetBoolean(std::string_view field, bool value) {
  const int i = Resolve(field);
  if (i < 0) return WtResult::UnknownField;
  const TWorkField& f = fields_[static_cast<std::size_t>(i)];
  switch (f.type) {
    case TFieldType::Boolean: return SetValue(i, value);
    case TFieldType::String:
    case TFieldType::CalcString: return SetText(i, value ? kTrueText : kFalseText);
    default: break;
  }
  return Fail(WtResult::ConversionError, "a boolean for field '" + f.name + "'");
}

WtResult TWorkTable::SetNull(std::string_view field) {
  const int i = Resolve(field);
  if (i < 0) return WtResult::UnknownField;
  return SetValue(i, WtValue{});
}

// ---- states ----------------------------------------------------------------

WtResult TWorkTable::Append() {
  if (!Active()) return Fail(WtResult::NotActive, "");
  CheckBrowseMode();
  if (beforeScroll) beforeScroll(*this);
  pending_.values.assign(fields_.size(), WtValue{});
  for (std::size_t i = 0; i < fields_.size(); ++i)
    if (!fields_[i].IsCalculated()) pending_.values[i] = fields_[i].defaultValue;
  state_ = State::Insert;
  modified_ = false;
  eof_ = bof_ = false;
  NotifyInserted(RecordCount());
  if (afterInsert) afterInsert(*this);
  if (afterScroll) afterScroll(*this);
  NotifyCurrent();
  return WtResult::Ok;
}

WtResult TWorkTable::Edit() {
  if (!Active()) return Fail(WtResult::NotActive, "");
  if (state_ == State::Edit || state_ == State::Insert) return WtResult::Ok;
  if (cursor_ == kNone || cursor_ >= rows_.size() || !Visible(cursor_)) {
    if (RecordCount() == 0) return Append();
    return Fail(WtResult::NoCurrentRow, "");
  }
  pending_ = rows_[cursor_];
  state_ = State::Edit;
  modified_ = false;
  return WtResult::Ok;
}

void TWorkTable::SetUniqueKey(std::string_view field) {
  keyField_ = Resolve(field);
}

std::size_t TWorkTable::KeyPlace(const WtValue& key, std::size_t self, bool& taken) const {
  taken = false;
  const auto k = static_cast<std::size_t>(keyField_);
  // Rows with a value come first, in ascending order; then the rows without.
  const auto numbered = [&](const Row& r) { return std::holds_alternative<std::int64_t>(r.values[k]); };
  const auto end = std::partition_point(rows_.begin(), rows_.end(), numbered);
  const auto* value = std::get_if<std::int64_t>(&key);
  if (value == nullptr) return rows_.size();
  const auto at = std::lower_bound(rows_.begin(), end, *value, [&](const Row& r, std::int64_t v) {
    return std::get<std::int64_t>(r.values[k]) < v;
  });
  std::size_t place = static_cast<std::size_t>(at - rows_.begin());
  // The row itself (being edited) neither blocks its own value nor counts.
  for (std::size_t i = place; i < static_cast<std::size_t>(end - rows_.begin()); ++i) {
    if (i == self) continue;
    taken = std::get<std::int64_t>(rows_[i].values[k]) == *value;
    break;
  }
  if (self != kNone && self < place) --place;
  return place;
}

WtResult TWorkTable::Post() {
  if (!Active()) return Fail(WtResult::NotActive, "");
  if (state_ != State::Edit && state_ != State::Insert) return WtResult::Ok;
  if (beforePost) beforePost(*this);
  const int viewRow = CurrentViewRow();
  std::size_t place = kNone;
  if (keyField_ >= 0) {
    bool taken = false;
    const WtValue& key = pending_.values[static_cast<std::size_t>(keyField_)];
    place = KeyPlace(key, state_ == State::Edit ? cursor_ : kNone, taken);
    if (taken) return Fail(WtResult::DuplicateKey, ValueText(fields_[static_cast<std::size_t>(keyField_)], key));
    // A row without a value that was already placed stays where it is.
    if (state_ == State::Edit && !std::holds_alternative<std::int64_t>(key) &&
        !std::holds_alternative<std::int64_t>(rows_[cursor_].values[static_cast<std::size_t>(keyField_)]))
      place = kNone;
  }
  bool moved = false;
  if (state_ == State::Insert) {
    if (place == kNone || place >= rows_.size()) {
      rows_.push_back(std::move(pending_));
      cursor_ = rows_.size() - 1;
    } else {
      rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(place), std::move(pending_));
      cursor_ = place;
      moved = true;
    }
  } else if (place != kNone && place != cursor_) {
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(cursor_));
    place = std::min(place, rows_.size());
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(place), std::move(pending_));
    cursor_ = place;
    moved = true;
  } else {
    rows_[cursor_] = std::move(pending_);
  }
  pending_.values.clear();
  state_ = State::Browse;
  modified_ = false;
  eof_ = bof_ = false;
  if (!Visible(cursor_)) {
    NotifyRemoved(viewRow);
  } else if (moved) {
    // The row left its place and took the one its key gives it.
    NotifyRemoved(viewRow);
    NotifyInserted(VisibleIndex(cursor_));
    NotifyCurrent();
  } else {
    NotifyChanged(viewRow);
  }
  if (afterPost) afterPost(*this);
  return WtResult::Ok;
}

void TWorkTable::Cancel() {
  if (state_ == State::Insert) {
    const int viewRow = RecordCount();
    state_ = State::Browse;
    pending_.values.clear();
    modified_ = false;
    eof_ = bof_ = cursor_ == kNone;
    NotifyRemoved(viewRow);
    NotifyCurrent();
  } else if (state_ == State::Edit) {
    state_ = State::Browse;
    pending_.values.clear();
    modified_ = false;
    NotifyChanged(CurrentViewRow());
  }
}

WtResult TWorkTable::Delete() {
  if (!Active()) return Fail(WtResult::NotActive, "");
  if (state_ == State::Insert) {
    Cancel();
    return WtResult::Ok;
  }
  Cancel();
  if (cursor_ == kNone || cursor_ >= rows_.size() || !Visible(cursor_))
    return Fail(WtResult::NoCurrentRow, "");
  if (beforeScroll) beforeScroll(*this);
  const int viewRow = VisibleIndex(cursor_);
  const std::size_t removed = cursor_;
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(removed));
  NotifyRemoved(viewRow);
  std::size_t next = NextVisible(removed);
  if (next == kNone) next = PriorVisible(removed);
  cursor_ = next;
  eof_ = bof_ = next == kNone;
  if (afterScroll) afterScroll(*this);
  NotifyCurrent();
  return WtResult::Ok;
}

// ---- grid support ------------------------------------------------------------

int TWorkTable::ViewRowCount() const {
  return RecordCount() + (state_ == State::Insert ? 1 : 0);
}

int TWorkTable::CurrentViewRow() const {
  if (state_ == State::Insert) return RecordCount();
  if (cursor_ == kNone) return -1;
  return VisibleIndex(cursor_);
}

const WtValue& TWorkTable::ViewValue(int row, int field) const {
  static const WtValue kNull;
  if (!Active() || row < 0 || field < 0 || field >= FieldCount()) return kNull;
  const std::vector<WtValue>* values = nullptr;
  if (state_ == State::Insert && row == RecordCount()) {
    values = &pending_.values;
  } else if (!filtered_) {
    // Without a filter the view row is the row itself: no scan, so a grid of
    // thousands of rows draws in constant time per cell.
    const auto i = static_cast<std::size_t>(row);
    if (i < rows_.size())
      values = state_ == State::Edit && i == cursor_ ? &pending_.values : &rows_[i].values;
  } else {
    int n = 0;
    for (std::size_t i = 0; i < rows_.size() && values == nullptr; ++i)
      if (Visible(i) && n++ == row)
        values = state_ == State::Edit && i == cursor_ ? &pending_.values : &rows_[i].values;
  }
  if (values == nullptr) return kNull;
  const auto f = static_cast<std::size_t>(field);
  if (fields_[f].IsCalculated()) {
    Calculate(*values);
    return calc_.size() > f ? calc_[f] : kNull;
  }
  return (*values)[f];
}

const WtValue& TWorkTable::StoredValue(int row, int field) const {
  static const WtValue kNull;
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size() || field < 0 || field >= FieldCount() ||
      fields_[static_cast<std::size_t>(field)].IsCalculated())
    return kNull;
  return rows_[static_cast<std::size_t>(row)].values[static_cast<std::size_t>(field)];
}

std::string TWorkTable::ViewText(int row, int field) const {
  if (field < 0 || field >= FieldCount()) return {};
  const TWorkField& f = fields_[static_cast<std::size_t>(field)];
  const WtValue& v = ViewValue(row, field);
  if (!f.displayFormat.empty() && f.IsNumeric() && !std::holds_alternative<std::monostate>(v)) {
    const std::size_t decimals = FormatDecimals(f.displayFormat);
    if (const auto* n = std::get_if<std::int64_t>(&v); n != nullptr && f.type == TFieldType::Currency)
      return FormatNumber(f.displayFormat, *n < 0, FixedDigits(Currency::FromRaw(*n), decimals),
                          DecimalSeparator());
    double d = 0;
    if (const auto* x = std::get_if<double>(&v))
      d = *x;
    else if (const auto* n = std::get_if<std::int64_t>(&v))
      d = static_cast<double>(*n);
    return FormatNumber(f.displayFormat, d < 0, FixedDigits(d, decimals), DecimalSeparator());
  }
  return ValueText(f, v);
}

void TWorkTable::AddObserver(IWorkTableObserver* observer) {
  if (observer != nullptr && std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
    observers_.push_back(observer);
}

void TWorkTable::RemoveObserver(IWorkTableObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void TWorkTable::DisableControls() {
  ++disableCount_;
}

void TWorkTable::EnableControls() {
  if (disableCount_ == 0) return;
  if (--disableCount_ > 0) return;
  if (changedWhileDisabled_) {
    changedWhileDisabled_ = false;
    NotifyReset();
  }
  NotifyCurrent();
}

void TWorkTable::NotifyInserted(int first) {
  if (disableCount_ > 0) {
    changedWhileDisabled_ = true;
    return;
  }
  for (IWorkTableObserver* o : observers_) o->RowsInserted(first, 1);
}

void TWorkTable::NotifyRemoved(int first) {
  if (first < 0) return;
  if (disableCount_ > 0) {
    changedWhileDisabled_ = true;
    return;
  }
  for (IWorkTableObserver* o : observers_) o->RowsRemoved(first, 1);
}

void TWorkTable::NotifyChanged(int row) {
  if (row < 0) return;
  if (disableCount_ > 0) {
    changedWhileDisabled_ = true;
    return;
  }
  for (IWorkTableObserver* o : observers_) o->RowChanged(row);
}

void TWorkTable::NotifyCurrent() {
  if (disableCount_ > 0) return;
  const int row = CurrentViewRow();
  for (IWorkTableObserver* o : observers_) o->CurrentChanged(row);
}

void TWorkTable::NotifyReset() {
  if (disableCount_ > 0) {
    changedWhileDisabled_ = true;
    return;
  }
  for (IWorkTableObserver* o : observers_) o->Reset();
}

// ---- utilities ----------------------------------------------------------------

int CountRows(TWorkTable& table) {
  int n = 0;
  for (table.First(); !table.Eof(); table.Next()) ++n;
  return n;
}

void ClearRows(TWorkTable& table) {
  // From the last row: erasing at the end moves no other row, so emptying a
  // large table takes time in proportion to its rows.
  table.Last();
  while (table.RecordCount() > 0)
    if (table.Delete() != WtResult::Ok) break;
}

}  // namespace zarvik
