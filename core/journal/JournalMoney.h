// Exact decimal amounts of the journal: money in kopecks, quantities in
// thousandths, both over 64-bit integers. No binary floating point takes part
// in the arithmetic; the texts follow the C printf formats the receipts use
// ("%g", "%.2f" with a width), produced digit by digit from the exact value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zarvik {

// Kopecks per rouble and thousandths per unit.
inline constexpr std::int64_t kKopecksPerUnit = 100;
inline constexpr std::int64_t kThousandthsPerUnit = 1000;
// The most significant digits a journal number field may carry (leading
// zeros not counted); every such value fits in 64 bits.
inline constexpr int kMaxJournalNumberDigits = 18;
// Significant digits of printf's "%g".
inline constexpr int kGeneralPrecision = 6;

class Money {
 public:
  constexpr Money() = default;
  static constexpr Money FromKopecks(std::int64_t kopecks) { return Money(kopecks); }
  constexpr std::int64_t Kopecks() const { return kopecks_; }

  // Exact difference; nothing when it does not fit.
  std::optional<Money> Minus(Money other) const;
  // printf "%<width>.2f": right-aligned, a leading "-" for negative amounts.
  std::string Format(int width) const;

  friend constexpr bool operator==(Money, Money) = default;

 private:
  constexpr explicit Money(std::int64_t kopecks) : kopecks_(kopecks) {}
  std::int64_t kopecks_ = 0;
};

class Quantity {
 public:
  constexpr Quantity() = default;
  static constexpr Quantity FromThousandths(std::int64_t thousandths) { return Quantity(thousandths); }
  constexpr std::int64_t Thousandths() const { return thousandths_; }

  // Quantity times price, rounded once to the kopeck, halves away from zero;
  // nothing when the result does not fit.
  std::optional<Money> Times(Money price) const;
  // printf "%g": six significant digits, no trailing zeros, exponent form
  // below 0.0001 and from 1e+06 on.
  std::string Format() const;

  friend constexpr bool operator==(Quantity, Quantity) = default;

 private:
  constexpr explicit Quantity(std::int64_t thousandths) : thousandths_(thousandths) {}
  std::int64_t thousandths_ = 0;
};

// The value of a field made only of decimal digits (at least one, at most
// kMaxJournalNumberDigits after the leading zeros); nothing otherwise.
std::optional<std::int64_t> ParseJournalNumber(std::string_view text);
// A journal field in hundredths as money, or in thousandths as a quantity.
std::optional<Money> MoneyFromField(std::string_view text);
std::optional<Quantity> QuantityFromField(std::string_view text);

// printf "%g" of units × 10^-scale, rounding the exact decimal value to
// `precision` significant digits (halves away from zero).
std::string FormatGeneral(std::int64_t units, int scale, int precision = kGeneralPrecision);
// printf "%<width>.2f" of an amount in hundredths.
std::string FormatHundredths(std::int64_t hundredths, int width);

// printf "%-<width>s" and "%<width>s"; the width counts characters of the
// UTF-8 text, a longer text is not cut.
std::string PadRight(std::string_view text, std::size_t width);
std::string PadLeft(std::string_view text, std::size_t width);

}  // namespace zarvik
