// Console markup on arbitrary text: as raw bytes (nothing may fail) and as
// the UTF-8 a message holds, where every range must lie on visible
// characters, colours follow in the order of their tags, and a text without
// tag openers comes through unchanged. A colour tag made by colorToStrR
// gives its colour back.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "shell/TextCodec.h"
#include "shell/Utilscolor.h"

namespace {

using namespace zarvik;

void CheckRanges(const std::vector<TextRange>& ranges, int length) {
  for (const TextRange& r : ranges) FUZZ_CHECK(r.first >= 0 && r.first <= r.last && r.last < length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ParseConsoleMarkup(fuzz::AsText(data, size));

  const std::string text = Cp1251ToUtf8(fuzz::AsText(data, size));
  const ConsoleLine line = ParseConsoleMarkup(text);
  const int length = static_cast<int>(Utf8Length(line.text));
  FUZZ_CHECK(U32ToUtf8(Utf8ToU32(line.text)) == line.text);
  FUZZ_CHECK(Utf8Length(line.text) <= Utf8Length(text));
  CheckRanges(line.italic, length);
  CheckRanges(line.bold, length);
  CheckRanges(line.underline, length);
  int previous = 0;
  for (const ColorRange& c : line.colors) {
    FUZZ_CHECK(c.first >= previous && c.first <= c.last && c.last == length - 1);
    previous = c.first;
  }
  if (text.find_first_of("<{") == std::string::npos) {
    FUZZ_CHECK(line.text == text && line.colors.empty() && line.bold.empty());
  }

  if (size >= 4) {
    TColor color = 0;
    std::memcpy(&color, data, sizeof color);
    const ConsoleLine tagged = ParseConsoleMarkup(colorToStrR(color) + "x" + text);
    FUZZ_CHECK(!tagged.colors.empty() && tagged.colors.front().first == 0 &&
               tagged.colors.front().color == color);
    FUZZ_CHECK(tagged.text.starts_with("x"));
  }
  return 0;
}
