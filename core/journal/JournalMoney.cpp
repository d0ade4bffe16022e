#include "journal/JournalMoney.h"

#include <cstddef>

#include "shell/TextCodec.h"

namespace zarvik {
namespace {

// Magnitude of a signed value without overflow for the smallest one.
std::uint64_t Magnitude(std::int64_t v) {
  return v < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
}

std::string Spaces(std::size_t count) {
  return std::string(count, ' ');
}

// Rounds a string of decimal digits to `keep` digits, halves up. Returns true
// when the rounding carried into a new leading digit (the result is then
// "1" followed by keep - 1 zeros).
bool RoundDigits(std::string& digits, std::size_t keep) {
  if (digits.size() <= keep) return false;
  const bool up = digits[keep] >= '5';
  digits.resize(keep);
  if (!up) return false;
  for (std::size_t i = keep; i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return false;
    }
    digits[i] = '0';
  }
  digits.insert(digits.begin(), '1');
  digits.resize(keep);
  return true;
}

}  // namespace

std::optional<std::int64_t> ParseJournalNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  int significant = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    if (significant == 0 && c == '0') continue;
    if (++significant > kMaxJournalNumberDigits) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<Money> MoneyFromField(std::string_view text) {
  const auto v = ParseJournalNumber(text);
  if (!v) return std::nullopt;
  return Money::FromKopecks(*v);
}

std::optional<Quantity> QuantityFromField(std::string_view text) {
  const auto v = ParseJournalNumber(text);
  if (!v) return std::nullopt;
  return Quantity::FromThousandths(*v);
}

std::optional<Money> Money::Minus(Money other) const {
  std::int64_t r = 0;
  if (__builtin_sub_overflow(kopecks_, other.kopecks_, &r)) return std::nullopt;
  return Money(r);
}

std::string Money::Format(int width) const {
  return FormatHundredths(kopecks_, width);
}

std::optional<Money> Quantity::Times(Money price) const {
  // q × p is in hundred-thousandths; split the quantity into whole units and
  // thousandths so that only the thousandths part carries a fraction of a
  // kopeck. Both parts have the sign of the product, so one rounding of the
  // second part is the exact rounding of the whole.
  const std::int64_t whole = thousandths_ / kThousandthsPerUnit;
  const std::int64_t part = thousandths_ % kThousandthsPerUnit;
  std::int64_t wholeKopecks = 0;
  std::int64_t partScaled = 0;
  if (__builtin_mul_overflow(whole, price.Kopecks(), &wholeKopecks)) return std::nullopt;
  if (__builtin_mul_overflow(part, price.Kopecks(), &partScaled)) return std::nullopt;
  std::int64_t partKopecks = partScaled / kThousandthsPerUnit;
  const std::int64_t rest = partScaled % kThousandthsPerUnit;
  if (rest >= kThousandthsPerUnit / 2) ++partKopecks;
  if (rest <= -kThousandthsPerUnit / 2) --partKopecks;
  std::int64_t total = 0;
  if (__builtin_add_overflow(wholeKopecks, partKopecks, &total)) return std::nullopt;
  return Money::FromKopecks(total);
}

std::string Quantity::Format() const {
  return FormatGeneral(thousandths_, 3);
}

std::string FormatGeneral(std::int64_t units, int scale, int precision) {
  if (units == 0) return "0";
  if (precision < 1) precision = 1;
  const auto keep = static_cast<std::size_t>(precision);
  std::string digits = std::to_string(Magnitude(units));
  int exponent = static_cast<int>(digits.size()) - 1 - scale;
  if (RoundDigits(digits, keep)) ++exponent;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = units < 0 ? "-" : "";
  if (exponent < -4 || exponent >= precision) {
    out += digits[0];
    if (digits.size() > 1) {
      out += '.';
      out.append(digits, 1);
    }
    out += exponent < 0 ? "e-" : "e+";
    const int e = exponent < 0 ? -exponent : exponent;
    if (e < 10) out += '0';
    out += std::to_string(e);
    return out;
  }
  if (exponent < 0) {
    out += "0.";
    out += std::string(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
    return out;
  }
  const auto intDigits = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= intDigits) {
    out += digits;
    out += std::string(intDigits - digits.size(), '0');
  } else {
    out.append(digits, 0, intDigits);
    out += '.';
    out.append(digits, intDigits);
  }
  return out;
}

std::string FormatHundredths(std::int64_t hundredths, int width) {
  const std::uint64_t m = Magnitude(hundredths);
  const std::uint64_t fraction = m % 100;
  std::string out = hundredths < 0 ? "-" : "";
  out += std::to_string(m / 100);
  out += '.';
  out += static_cast<char>('0' + fraction / 10);
  out += static_cast<char>('0' + fraction % 10);
  return PadLeft(out, width > 0 ? static_cast<std::size_t>(width) : 0);
}

std::string PadRight(std::string_view text, std::size_t width) {
  const std::size_t n = Utf8Length(text);
  std::string out(text);
  if (n < width) out += Spaces(width - n);
  return out;
}

std::string PadLeft(std::string_view text, std::size_t width) {
  const std::size_t n = Utf8Length(text);
  if (n >= width) return std::string(text);
  return Spaces(width - n) + std::string(text);
}

}  // namespace zarvik
