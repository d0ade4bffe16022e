#include "shell/TextCodec.h"

#include <array>

namespace zarvik {
namespace {

// Code points of bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F.
constexpr std::array<char32_t, 64> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at `i`, advancing `i`.
char32_t DecodeOne(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra = 0;
  char32_t cp = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1Fu;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0Fu;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07u;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + static_cast<std::size_t>(extra) >= s.size()) {  // truncated sequence
    ++i;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3Fu);
  }
  i += static_cast<std::size_t>(extra) + 1;
  // Overlong forms, surrogates and values past Unicode are malformed.
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return kReplacement;
  }
  return cp;
}

char32_t LowerCp(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0x0410 && c <= 0x042F) return c + 32;
  if (c >= 0x0400 && c <= 0x040F) return c + 80;
  return c;
}

char32_t UpperCp(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0x0430 && c <= 0x044F) return c - 32;
  if (c >= 0x0450 && c <= 0x045F) return c - 80;
  return c;
}

}  // namespace

char32_t CodePointFromCp1251(unsigned char b) {
  if (b < 0x80) return b;
  if (b >= 0xC0) return 0x0410 + (b - 0xC0u);
  return kHigh[b - 0x80u];
}

int Cp1251FromCodePoint(char32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  if (cp >= 0x0410 && cp <= 0x044F) return static_cast<int>(cp - 0x0410 + 0xC0);
  if (cp == kReplacement) return -1;
  for (std::size_t k = 0; k < kHigh.size(); ++k) {
    if (kHigh[k] == cp) return static_cast<int>(0x80 + k);
  }
  return -1;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string Cp1251ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) AppendUtf8(out, CodePointFromCp1251(static_cast<unsigned char>(c)));
  return out;
}

std::string Utf8ToCp1251(std::string_view utf8, char replacement) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const int b = Cp1251FromCodePoint(DecodeOne(utf8, i));
    out.push_back(b < 0 ? replacement : static_cast<char>(b));
  }
  return out;
}

bool IsUtf8Text(std::string_view bytes) {
  constexpr std::string_view kEncodedReplacement = "\xEF\xBF\xBD";
  for (std::size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    // A malformed sequence decodes to U+FFFD; so does U+FFFD itself, written
    // as its three bytes.
    if (DecodeOne(bytes, i) == kReplacement && bytes.substr(start, i - start) != kEncodedReplacement)
      return false;
  }
  return true;
}

bool IsCp1251Text(std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size();) {
    if (Cp1251FromCodePoint(DecodeOne(utf8, i)) < 0) return false;
  }
  return true;
}

std::u32string Utf8ToU32(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) out.push_back(DecodeOne(utf8, i));
  return out;
}

std::string U32ToUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char32_t c : text) AppendUtf8(out, c);
  return out;
}

std::size_t Utf8Length(std::string_view utf8) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < utf8.size(); ++n) DecodeOne(utf8, i);
  return n;
}

std::string Utf8Mid(std::string_view utf8, std::size_t first, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t k = 0; k < first && i < utf8.size(); ++k) DecodeOne(utf8, i);
  const std::size_t begin = i;
  for (std::size_t k = 0; k < count && i < utf8.size(); ++k) DecodeOne(utf8, i);
  return std::string(utf8.substr(begin, i - begin));
}

std::string Utf8Left(std::string_view utf8, std::size_t count) { return Utf8Mid(utf8, 0, count); }

std::string Utf8Lower(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) AppendUtf8(out, LowerCp(DecodeOne(utf8, i)));
  return out;
}

std::string Utf8Upper(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) AppendUtf8(out, UpperCp(DecodeOne(utf8, i)));
  return out;
}

bool Utf8EqualNoCase(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (LowerCp(DecodeOne(a, i)) != LowerCp(DecodeOne(b, j))) return false;
  }
  return i == a.size() && j == b.size();
}

}  // namespace zarvik
