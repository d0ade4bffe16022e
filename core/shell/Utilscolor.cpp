#include "shell/Utilscolor.h"

#include <cstdio>

#include "shell/TextCodec.h"

namespace zarvik {

std::string colorToStrR(TColor color) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(color));
  return std::string("<c:") + buf + ">";
}

namespace {

constexpr std::size_t kShortTag = 3;
constexpr std::size_t kColorTag = 12;
constexpr std::size_t kColorDigits = 8;

int HexDigit(char32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  return -1;
}

// Ranges of one style in the order they were opened. Closing records the last
// visible character so far in the most recently opened range (again, if it
// was closed before); a close before any open is ignored.
struct StyleRanges {
  std::vector<TextRange>* done;
  std::vector<bool> closed;
  void Open(int at) {
    done->push_back({at, at});
    closed.push_back(false);
  }
  void Close(int lastVisible) {
    if (done->empty()) return;
    done->back().last = lastVisible;
    closed.back() = true;
  }
  void Finish(int lastVisible) {
    for (std::size_t k = 0; k < done->size(); ++k) {
      if (!closed[k]) (*done)[k].last = lastVisible;
    }
  }
};

}  // namespace

ConsoleLine ParseConsoleMarkup(std::string_view markup) {
  ConsoleLine line;
  const std::u32string in = Utf8ToU32(markup);
  std::u32string visible;
  StyleRanges italic{&line.italic, {}};
  StyleRanges bold{&line.bold, {}};
  StyleRanges underline{&line.underline, {}};
  std::vector<std::pair<int, TColor>> colorStarts;

  const auto pos = [&] { return static_cast<int>(visible.size()); };
  const auto lastVisible = [&] { return static_cast<int>(visible.size()) - 1; };

  std::size_t i = 0;
  while (i < in.size()) {
    const char32_t c = in[i];
    if ((c != '<' && c != '{') || i + 1 >= in.size()) {
      visible.push_back(c);
      ++i;
      continue;
    }
    const char32_t letter = in[i + 1];
    switch (letter) {
      case 'B': bold.Open(pos()); i += kShortTag; break;
      case 'b': bold.Close(lastVisible()); i += kShortTag; break;
      case 'I': italic.Open(pos()); i += kShortTag; break;
      case 'i': italic.Close(lastVisible()); i += kShortTag; break;
      case 'U': underline.Open(pos()); i += kShortTag; break;
      case 'u': underline.Close(lastVisible()); i += kShortTag; break;
      case 'c': {
        TColor color = 0;
        for (std::size_t k = 0; k < kColorDigits && i + 3 + k < in.size(); ++k) {
          const int d = HexDigit(in[i + 3 + k]);
          if (d < 0) break;
          color = (color << 4) | static_cast<TColor>(d);
        }
        colorStarts.emplace_back(pos(), color);
        i += kColorTag;
        break;
      }
      case '<':
      case '{':
        visible.push_back(letter);
        i += kShortTag;
        break;
      default:
        // The opener alone is dropped; the letter is read as text.
        ++i;
        break;
    }
  }
  const int last = lastVisible();
  italic.Finish(last);
  bold.Finish(last);
  underline.Finish(last);
  for (const auto& [start, color] : colorStarts) line.colors.push_back({start, last, color});
  // Ranges that cover no visible character are dropped.
  const auto prune = [](std::vector<TextRange>& v) {
    std::erase_if(v, [](const TextRange& r) { return r.last < r.first; });
  };
  prune(line.italic);
  prune(line.bold);
  prune(line.underline);
  std::erase_if(line.colors, [](const ColorRange& r) { return r.last < r.first; });
  line.text = U32ToUtf8(visible);
  return line;
}

}  // namespace zarvik
