// Console colours and the console markup: colour tags "<c:XXXXXXXX>", bold
// "<B>"/"<b>", italic "<I>"/"<i>", underline "<U>"/"<u>" ("{" acts as "<").
// Colours are 24-bit values with blue in the most significant byte, red in
// the least (0x0000FF is red).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik {

using TColor = std::uint32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clBlue = 0xFF0000;

// Red, green, blue parts of a colour.
constexpr int ColorRed(TColor c) { return static_cast<int>(c & 0xFF); }
constexpr int ColorGreen(TColor c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int ColorBlue(TColor c) { return static_cast<int>((c >> 16) & 0xFF); }

// "<c:" + 8 upper-case hexadecimal digits + ">".
std::string colorToStrR(TColor color);

// A range of visible characters, both ends included, counted in characters.
struct TextRange {
  int first = 0;
  int last = 0;
  bool operator==(const TextRange&) const = default;
};

struct ColorRange {
  int first = 0;
  int last = 0;  // the last visible character of the line
  TColor color = 0;
  bool operator==(const ColorRange&) const = default;
};

// One parsed console line: the visible text and its formatted ranges. Colour
// ranges run to the end of the line and are applied in order, so a later one
// overrides an earlier one from its own start.
struct ConsoleLine {
  std::string text;  // UTF-8
  std::vector<TextRange> italic;
  std::vector<TextRange> bold;
  std::vector<TextRange> underline;
  std::vector<ColorRange> colors;
};

// Scans markup from the left into visible text and ranges. Malformed tags
// never fail; a colour whose digits are not all hexadecimal reads the valid
// leading digits only.
ConsoleLine ParseConsoleMarkup(std::string_view markup);

}  // namespace zarvik
