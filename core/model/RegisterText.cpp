#include "model/RegisterText.h"

#include <algorithm>
#include <array>
#include <vector>

#include "model/Typessimpledata.h"
#include "shell/TextCodec.h"

namespace zarvik {

namespace {

constexpr char32_t kFirstShownChar = 0x20;
constexpr char32_t kDeleteChar = 0x7F;
constexpr char32_t kFirstC1Char = 0x80;
constexpr char32_t kLastC1Char = 0x9F;
constexpr char32_t kNoBreakSpace = 0xA0;
constexpr char32_t kSoftHyphen = 0xAD;
constexpr char32_t kReplacementChar = 0xFFFD;

bool Printable(char32_t c) {
  const int b = Cp1251FromCodePoint(c);
  return b >= 0 && IsRegisterChar(static_cast<std::uint8_t>(b));
}

// Characters a person cannot see in a message: shown by their code.
bool ShownByCode(char32_t c) {
  return c < kFirstShownChar || c == kDeleteChar || (c >= kFirstC1Char && c <= kLastC1Char) ||
         c == kNoBreakSpace || c == kSoftHyphen || c == kReplacementChar || (c >= 0xD800 && c <= 0xDFFF);
}

}  // namespace

std::u32string UnprintableChars(std::string_view utf8) {
  std::u32string out;
  for (const char32_t c : Utf8ToU32(utf8))
    if (!Printable(c) && out.find(c) == std::u32string::npos) out.push_back(c);
  return out;
}

std::string CharDisplay(char32_t c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string code;
  for (char32_t v = c; v != 0 || code.size() < 4; v >>= 4) code.insert(code.begin(), kHex[v & 0xF]);
  code = "U+" + code;
  if (ShownByCode(c)) return code;
  std::string s;
  AppendUtf8(s, c);
  // The log is written in code page 1251: a character it lacks stays
  // recognisable there by its code.
  return Cp1251FromCodePoint(c) < 0 ? s + " " + code : s;
}

std::string UnprintableList(std::u32string_view chars) {
  std::string out;
  for (const char32_t c : chars) {
    if (!out.empty()) out += ", ";
    out += "«" + CharDisplay(c) + "»";
  }
  return out;
}

std::string RegisterFieldText(std::string_view utf8, std::size_t width) {
  std::vector<std::uint8_t> field(width + 1, 0);
  FieldFromText(field.data(), utf8, width);
  return TextFromField(field.data(), width);
}

std::string UnprintableWarning(std::string_view what, std::string_view utf8) {
  const std::u32string chars = UnprintableChars(utf8);
  if (chars.empty()) return {};
  return std::string(what) + ": ККМ не печатает знаки " + UnprintableList(chars) + " в тексте «" +
         std::string(utf8) + "»";
}

std::string PrintedLineWarning(int number, std::string_view utf8) {
  constexpr std::size_t kPrintedChars = 32;
  return UnprintableWarning("Строка " + std::to_string(number), Utf8Left(utf8, kPrintedChars));
}

}  // namespace zarvik
