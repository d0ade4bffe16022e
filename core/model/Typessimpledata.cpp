#include "model/Typessimpledata.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

#include "shell/TextCodec.h"

namespace zarvik {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::uint8_t kUnsetByte = 0xFF;
constexpr std::uint8_t kEmptyByte = 0x00;
constexpr int kFirstYear = 2000;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Two decimal digit characters as one packed BCD byte.
std::uint8_t BcdFromDigits(char high, char low) {
  return static_cast<std::uint8_t>(((high - '0') << 4) | (low - '0'));
}

// Two decimal digit characters as a number.
int TwoDigits(char high, char low) {
  return (high - '0') * 10 + (low - '0');
}

bool IsBcdByte(std::uint8_t b) {
  return (b >> 4) <= 9 && (b & 0x0F) <= 9;
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDays[month - 1];
}

bool IsCalendarDate(int day, int month, int year) {
  if (month < 1 || month > 12) return false;
  return day >= 1 && day <= DaysInMonth(year, month);
}

bool IsClockTime(int hours, int minutes) {
  if (hours == 24 && minutes == 0) return true;
  return hours >= 0 && hours <= 23 && minutes >= 0 && minutes <= 59;
}

// "dd<sep>dd" groups of a fixed-form text: true when the characters at the
// given positions are decimal digits.
bool DigitsAt(std::string_view text, std::initializer_list<std::size_t> positions) {
  return std::all_of(positions.begin(), positions.end(),
                     [&](std::size_t p) { return p < text.size() && IsDigit(text[p]); });
}

}  // namespace

// --- base -------------------------------------------------------------------

bool TBaseTypeKKM::Assign(const std::uint8_t* source) {
  if (source == nullptr || !HasBytes()) return false;
  std::memmove(data, source, Size());
  return true;
}

bool TBaseTypeKKM::FromHex(std::string_view text) {
  if (text.empty() || !HasBytes()) return false;
  std::string digits;
  for (const char c : text) {
    if (HexDigitValue(c) >= 0) digits.push_back(c);
  }
  if (digits.size() > 2 * Size()) return false;
  std::memset(data, 0, Size());
  if (digits.size() % 2 != 0) digits.push_back('0');
  for (std::size_t k = 0; k * 2 < digits.size(); ++k) {
    data[k] =
        static_cast<std::uint8_t>((HexDigitValue(digits[2 * k]) << 4) | HexDigitValue(digits[2 * k + 1]));
  }
  return true;
}

void TBaseTypeKKM::Erase() {
  if (HasBytes()) std::memset(data, kUnsetByte, Size());
}

// --- date -------------------------------------------------------------------

std::string TDateKKM::ToText() const {
  if (length != kLength || data == nullptr) return std::string(kFieldErrorText);
  for (std::size_t i = 0; i < Size(); ++i) {
    if (data[i] == kEmptyByte || data[i] == kUnsetByte) return {};
  }
  return HexText(data, Size(), ".");
}

bool TDateKKM::FromText(std::string_view text) {
  if (length != kLength || data == nullptr) return false;
  if (text.size() != 8 || text[2] != '.' || text[5] != '.') return false;
  if (!DigitsAt(text, {0, 1, 3, 4, 6, 7})) return false;
  const int day = TwoDigits(text[0], text[1]);
  const int month = TwoDigits(text[3], text[4]);
  const int year = kFirstYear + TwoDigits(text[6], text[7]);
  if (!IsCalendarDate(day, month, year)) return false;
  data[0] = BcdFromDigits(text[0], text[1]);
  data[1] = BcdFromDigits(text[3], text[4]);
  data[2] = BcdFromDigits(text[6], text[7]);
  return true;
}

bool TDateKKM::IsValid() const {
  if (length != kLength || data == nullptr) return false;
  for (std::size_t i = 0; i < Size(); ++i) {
    if (data[i] == kEmptyByte || data[i] == kUnsetByte || !IsBcdByte(data[i])) return false;
  }
  return IsCalendarDate(BcdToInt(data[0]), BcdToInt(data[1]), kFirstYear + BcdToInt(data[2]));
}

// --- time -------------------------------------------------------------------

std::string TTimeKKM::ToText() const {
  if (length != kLength || data == nullptr) return std::string(kFieldErrorText);
  if (data[0] == kUnsetByte || data[1] == kUnsetByte) return {};
  return HexText(data, Size(), ":");
}

bool TTimeKKM::FromText(std::string_view text) {
  if (length != kLength || data == nullptr) return false;
  if (text.size() != 5 || text[2] != ':') return false;
  if (!DigitsAt(text, {0, 1, 3, 4})) return false;
  if (!IsClockTime(TwoDigits(text[0], text[1]), TwoDigits(text[3], text[4]))) return false;
  data[0] = BcdFromDigits(text[0], text[1]);
  data[1] = BcdFromDigits(text[3], text[4]);
  return true;
}

bool TTimeKKM::IsValid() const {
  if (length != kLength || data == nullptr) return false;
  if (!IsBcdByte(data[0]) || !IsBcdByte(data[1])) return false;
  return IsClockTime(BcdToInt(data[0]), BcdToInt(data[1]));
}

// --- BCD number -------------------------------------------------------------

std::string TNumberKKM::ToText() const {
  if (!HasBytes()) return std::string(kFieldErrorText);
  std::string out;
  out.reserve(2 * Size());
  for (std::size_t i = Size(); i-- > 0;) {
    out.push_back(kHexDigits[data[i] >> 4]);
    out.push_back(kHexDigits[data[i] & 0x0F]);
  }
  const std::size_t first = out.find_first_not_of('0');
  if (first == std::string::npos) return "0";
  return out.substr(first);
}

bool TNumberKKM::FromText(std::string_view text) {
  if (!HasBytes() || !IsNumberText(text) || text.size() > 2 * Size()) return false;
  std::memset(data, 0, Size());
  std::string digits;
  if (text.size() % 2 != 0) digits.push_back('0');
  digits.append(text);
  const std::size_t pairs = digits.size() / 2;
  for (std::size_t k = 0; k < pairs; ++k) {
    // The last pair goes to byte 0.
    const std::size_t at = digits.size() - 2 * (k + 1);
    data[k] = BcdFromDigits(digits[at], digits[at + 1]);
  }
  return true;
}

bool TNumberKKM::IsValid() const {
  if (!HasBytes()) return false;
  return std::all_of(data, data + Size(), IsBcdByte);
}

// --- hexadecimal ------------------------------------------------------------

std::string THEXKKM::ToText() const {
  if (!HasBytes()) return {};
  return HexText(data, Size(), " ");
}

bool THEXKKM::FromText(std::string_view text) {
  return FromHex(text);
}

bool THEXKKM::IsValid() const {
  return data != nullptr;
}

// --- binary -----------------------------------------------------------------

std::string TBinKKM::ToText() const {
  if (length > kMaxNumberLength) return HexText(data, data != nullptr ? Size() : 0, " ");
  if (!HasBytes()) return std::string(kFieldErrorText);
  std::uint64_t value = 0;
  for (std::size_t i = Size(); i-- > 0;) value = (value << 8) | data[i];
  if (length == kMaxNumberLength) return std::to_string(static_cast<std::int64_t>(value));
  return std::to_string(value);
}

bool TBinKKM::FromText(std::string_view text) {
  if (length > kMaxNumberLength) return FromHex(text);
  if (!HasBytes()) return false;
  std::string_view digits = text;
  bool negative = false;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  if (!IsNumberText(digits)) return false;
  std::uint64_t magnitude = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
  if (ec != std::errc() || end != digits.data() + digits.size()) return false;
  // The value must fit a signed 64-bit integer.
  constexpr auto kMaxPositive = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (magnitude > kMaxPositive + (negative ? 1u : 0u)) return false;
  const std::uint64_t value = negative ? (~magnitude + 1u) : magnitude;  // two's complement
  for (std::size_t i = 0; i < Size(); ++i) data[i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu);
  return true;
}

bool TBinKKM::IsValid() const {
  return data != nullptr;
}

// --- free helpers -----------------------------------------------------------

std::string HexText(const std::uint8_t* bytes, std::size_t count, std::string_view separator) {
  std::string out;
  if (bytes == nullptr || count == 0) return out;
  out.reserve(count * (2 + separator.size()));
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) out.append(separator);
    out.push_back(kHexDigits[bytes[i] >> 4]);
    out.push_back(kHexDigits[bytes[i] & 0x0F]);
  }
  return out;
}

int BcdToInt(std::uint8_t b) {
  return (b >> 4) * 10 + (b & 0x0F);
}

bool IsNumberText(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

std::int64_t BinValue(const TBinKKM& codec) {
  constexpr std::int32_t kMaxBytes = 4;
  if (codec.length > kMaxBytes || codec.data == nullptr) return -1;
  std::uint32_t value = 0;
  for (std::int32_t i = codec.length; i-- > 0;) {
    value = (value << 8) | codec.data[static_cast<std::size_t>(i)];
  }
  return value;
}

std::string TextFromField(const std::uint8_t* bytes, std::size_t width) {
  if (bytes == nullptr) return {};
  const std::uint8_t* end = std::find(bytes, bytes + width, kEmptyByte);
  return Cp1251ToUtf8(
      std::string_view(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(end - bytes)));
}

std::size_t FieldFromText(std::uint8_t* buffer, std::string_view text, std::size_t width) {
  if (buffer == nullptr) return 0;
  const std::u32string chars = Utf8ToU32(text);
  const std::size_t take = std::min(chars.size(), width);
  std::size_t written = 0;
  for (std::size_t i = 0; i < take; ++i) {
    const int b = Cp1251FromCodePoint(chars[i]);
    if (b < 0 || !IsRegisterChar(static_cast<std::uint8_t>(b))) continue;
    buffer[written++] = static_cast<std::uint8_t>(b);
  }
  return written;
}

bool IsRegisterChar(std::uint8_t c) {
  constexpr std::uint8_t kYoUpper = 0xA8;
  constexpr std::uint8_t kYoLower = 0xB8;
  return (c >= 0x20 && c <= 0x7F) || c == kYoUpper || c == kYoLower || c >= 0xC0;
}

}  // namespace zarvik
