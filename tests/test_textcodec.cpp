#include "shell/TextCodec.h"

#include <gtest/gtest.h>

namespace zarvik {
namespace {

TEST(TextCodec, Cp1251RoundTripOfEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) {
    if (b != 0x98) all.push_back(static_cast<char>(b));  // 0x98 has no character
  }
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
}

TEST(TextCodec, KnownLetters) {
  struct Case {
    std::string utf8;
    std::string cp1251;
  };
  const Case cases[] = {
      {"СОМ", "\xD1\xCE\xCC"},
      {"Ёё", "\xA8\xB8"},
      {"№", "\xB9"},
      {"€", "\x88"},
      {"абвгдеж", "\xE0\xE1\xE2\xE3\xE4\xE5\xE6"},
      {"Яя", "\xDF\xFF"},
      {"Plain 123", "Plain 123"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToCp1251(c.utf8), c.cp1251) << c.utf8;
    EXPECT_EQ(Cp1251ToUtf8(c.cp1251), c.utf8) << c.utf8;
  }
}

TEST(TextCodec, UnmappableAndMalformedBecomeReplacement) {
  EXPECT_EQ(Utf8ToCp1251("a漢b"), "a?b");
  EXPECT_EQ(Utf8ToCp1251("a\xC3"), "a?");          // truncated sequence at the end
  EXPECT_EQ(Utf8ToCp1251("\xE0\x80\x80x"), "?x");  // overlong form
  EXPECT_EQ(Utf8ToCp1251("\xFF\xFE"), "??");
  EXPECT_FALSE(IsCp1251Text("漢"));
  EXPECT_TRUE(IsCp1251Text("Привет, мир №1"));
}

TEST(TextCodec, WellFormedUtf8IsToldFromCodePage1251) {
  EXPECT_TRUE(IsUtf8Text(""));
  EXPECT_TRUE(IsUtf8Text("plain ASCII;1;2"));
  EXPECT_TRUE(IsUtf8Text("Молоко утф8 № 5 €"));
  EXPECT_TRUE(IsUtf8Text("\xEF\xBF\xBD"));      // U+FFFD itself
  EXPECT_TRUE(IsUtf8Text("\xF0\x9F\x8D\x9E"));  // beyond the basic plane
  EXPECT_FALSE(IsUtf8Text(Utf8ToCp1251("Молоко утф8")));
  EXPECT_FALSE(IsUtf8Text(Utf8ToCp1251("Ёлка №1")));
  const char* const malformed[] = {
      "\xC3",              // truncated at the end
      "a\xC3(b",           // missing continuation
      "\x80",              // stray continuation
      "\xC0\xAF",          // overlong
      "\xE0\x80\x80",      // overlong
      "\xED\xA0\x80",      // surrogate
      "\xF4\x90\x80\x80",  // past U+10FFFF
      "\xFF",
  };
  for (const char* bytes : malformed) EXPECT_FALSE(IsUtf8Text(bytes)) << bytes;
}

TEST(TextCodec, CharacterCountsAndSlices) {
  EXPECT_EQ(Utf8Length("Товар"), 5u);
  EXPECT_EQ(Utf8Left("Товар 1", 3), "Тов");
  EXPECT_EQ(Utf8Mid("Товар 1", 2, 3), "вар");
  EXPECT_EQ(Utf8Mid("abc", 5, 2), "");
  EXPECT_EQ(Utf8Lower("ТоВАР Ё abc"), "товар ё abc");
  EXPECT_EQ(Utf8Upper("товар ё"), "ТОВАР Ё");
  EXPECT_TRUE(Utf8EqualNoCase("КоД", "код"));
  EXPECT_FALSE(Utf8EqualNoCase("код", "коды"));
}

}  // namespace
}  // namespace zarvik
