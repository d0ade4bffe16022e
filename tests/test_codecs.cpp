// Field codecs and the fixed-width text helpers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "model/Typessimpledata.h"

namespace zarvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Bytes of a field surrounded by guard bytes, so that a write outside the
// field shows.
struct Guarded {
  static constexpr std::uint8_t kGuard = 0x5A;
  explicit Guarded(const Bytes& field) : all(field.size() + 2, kGuard) {
    std::copy(field.begin(), field.end(), all.begin() + 1);
  }
  std::uint8_t* Field() { return all.data() + 1; }
  Bytes FieldBytes() const { return Bytes(all.begin() + 1, all.end() - 1); }
  bool GuardsIntact() const { return all.front() == kGuard && all.back() == kGuard; }
  Bytes all;
};

std::int32_t Len(const Bytes& b) {
  return static_cast<std::int32_t>(b.size());
}

// --- date -------------------------------------------------------------------

struct DateShowCase {
  Bytes bytes;
  std::string text;
  bool valid;
};

TEST(DateCodec, ShowsBytesAndJudgesValidity) {
  const std::vector<DateShowCase> cases = {
      {{0x31, 0x12, 0x10}, "31.12.10", true},
      {{0x29, 0x02, 0x08}, "29.02.08", true},   // 2008 is a leap year
      {{0x29, 0x02, 0x09}, "29.02.09", false},  // 2009 is not
      {{0x29, 0x02, 0x00}, "", false},          // 0x00 marks the date unset
      {{0xFF, 0xFF, 0xFF}, "", false},
      {{0x01, 0xFF, 0x10}, "", false},
      {{0x31, 0x04, 0x10}, "31.04.10", false},  // April has 30 days
      {{0x01, 0x13, 0x10}, "01.13.10", false},
      {{0x1A, 0x01, 0x10}, "1A.01.10", false},  // not BCD: shown, not valid
      {{0x29, 0x02, 0x96}, "29.02.96", true},   // 2096 is a leap year
  };
  for (const auto& c : cases) {
    Bytes b = c.bytes;
    TDateKKM d(b.data());
    EXPECT_EQ(d.ToText(), c.text);
    EXPECT_EQ(d.IsValid(), c.valid) << c.text;
  }
}

struct TextInCase {
  std::string text;
  bool accepted;
  Bytes expected;  // field after the call (starts as kStart)
};

TEST(DateCodec, FromTextWritesOnlyValidCalendarDates) {
  const Bytes kStart = {0x11, 0x11, 0x11};
  const std::vector<TextInCase> cases = {
      {"31.12.10", true, {0x31, 0x12, 0x10}},
      {"29.02.08", true, {0x29, 0x02, 0x08}},
      {"29.02.00", true, {0x29, 0x02, 0x00}},  // 2000 is a leap year
      {"29.02.09", false, kStart},
      {"1.02.2009", false, kStart},
      {"01.02.2009", false, kStart},
      {"00.01.10", false, kStart},
      {"32.01.10", false, kStart},
      {"01.00.10", false, kStart},
      {"01-02-10", false, kStart},
      {"0a.02.10", false, kStart},
      {"", false, kStart},
      {"31.06.10", false, kStart},
  };
  for (const auto& c : cases) {
    Guarded g(kStart);
    TDateKKM d(g.Field());
    EXPECT_EQ(d.FromText(c.text), c.accepted) << c.text;
    EXPECT_EQ(g.FieldBytes(), c.expected) << c.text;
    EXPECT_TRUE(g.GuardsIntact()) << c.text;
  }
}

TEST(DateCodec, EraseGivesUnsetDateAndWrongLengthGivesEr) {
  Guarded g({0x31, 0x12, 0x10});
  TDateKKM d(g.Field());
  d.Erase();
  EXPECT_EQ(g.FieldBytes(), (Bytes{0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(d.ToText(), "");
  EXPECT_TRUE(g.GuardsIntact());

  TDateKKM none(nullptr);
  EXPECT_EQ(none.ToText(), "er");
  EXPECT_FALSE(none.IsValid());
  EXPECT_FALSE(none.FromText("01.01.10"));

  d.length = 2;
  EXPECT_EQ(d.ToText(), "er");
  EXPECT_FALSE(d.FromText("01.01.10"));
}

// --- time -------------------------------------------------------------------

TEST(TimeCodec, FromTextAcceptsClockTimesAndMidnightAs2400) {
  const Bytes kStart = {0x77, 0x77};
  const std::vector<TextInCase> cases = {
      {"00:00", true, {0x00, 0x00}}, {"23:59", true, {0x23, 0x59}}, {"24:00", true, {0x24, 0x00}},
      {"24:01", false, kStart},      {"12:60", false, kStart},      {"25:00", false, kStart},
      {"1:00", false, kStart},       {"12.00", false, kStart},      {"12:0x", false, kStart},
      {"12:000", false, kStart},     {"", false, kStart},
  };
  for (const auto& c : cases) {
    Guarded g(kStart);
    TTimeKKM t(g.Field());
    EXPECT_EQ(t.FromText(c.text), c.accepted) << c.text;
    EXPECT_EQ(g.FieldBytes(), c.expected) << c.text;
    EXPECT_TRUE(g.GuardsIntact()) << c.text;
  }
}

TEST(TimeCodec, ShowsBytesAndJudgesValidity) {
  const std::vector<DateShowCase> cases = {
      {{0x09, 0x05}, "09:05", true},  {{0x00, 0x00}, "00:00", true},  {{0x24, 0x00}, "24:00", true},
      {{0x24, 0x01}, "24:01", false}, {{0x12, 0x60}, "12:60", false}, {{0xFF, 0x00}, "", false},
      {{0x12, 0xFF}, "", false},      {{0x0A, 0x00}, "0A:00", false},
  };
  for (const auto& c : cases) {
    Bytes b = c.bytes;
    TTimeKKM t(b.data());
    EXPECT_EQ(t.ToText(), c.text);
    EXPECT_EQ(t.IsValid(), c.valid) << c.text;
  }
  TTimeKKM none(nullptr);
  EXPECT_EQ(none.ToText(), "er");
}

// --- BCD number -------------------------------------------------------------

TEST(NumberCodec, ShowsBcdBytesMostSignificantLast) {
  const std::vector<DateShowCase> cases = {
      {{0x00, 0x00, 0x00, 0x00, 0x00}, "0", true},
      {{0x50, 0x01, 0x00, 0x00, 0x00}, "150", true},
      {{0x45, 0x23, 0x01}, "12345", true},
      {{0x99, 0x99}, "9999", true},
      {{0x0A, 0x00}, "A", false},  // a non-BCD nibble shows as a letter
      {{0x00, 0xF1}, "F100", false},
  };
  for (const auto& c : cases) {
    Bytes b = c.bytes;
    TNumberKKM n(b.data(), Len(b));
    EXPECT_EQ(n.ToText(), c.text);
    EXPECT_EQ(n.IsValid(), c.valid) << c.text;
  }
  TNumberKKM none(nullptr, 3);
  EXPECT_EQ(none.ToText(), "er");
  Bytes one = {0x12};
  TNumberKKM empty(one.data(), 0);
  EXPECT_EQ(empty.ToText(), "er");
}

TEST(NumberCodec, FromTextWritesDigitPairsFromTheRight) {
  struct Case {
    Bytes start;
    std::string text;
    bool accepted;
    Bytes expected;
  };
  const Bytes five = {0x11, 0x11, 0x11, 0x11, 0x11};
  const std::vector<Case> cases = {
      {{0x11, 0x11, 0x11}, "12345", true, {0x45, 0x23, 0x01}},
      {{0x11, 0x11}, "7", true, {0x07, 0x00}},
      {{0x11, 0x11}, "1234", true, {0x34, 0x12}},
      {{0x11, 0x11}, "0", true, {0x00, 0x00}},
      {five, "9999999999", true, {0x99, 0x99, 0x99, 0x99, 0x99}},
      {five, "12345678901", false, five},  // 11 digits do not fit 5 bytes
      {five, "12a", false, five},
      {five, "", false, five},
      {five, "-1", false, five},
      {five, " 12", false, five},
  };
  for (const auto& c : cases) {
    Guarded g(c.start);
    TNumberKKM n(g.Field(), Len(c.start));
    EXPECT_EQ(n.FromText(c.text), c.accepted) << c.text;
    EXPECT_EQ(g.FieldBytes(), c.expected) << c.text;
    EXPECT_TRUE(g.GuardsIntact()) << c.text;
    if (c.accepted) {
      EXPECT_EQ(n.ToText(), c.text.find_first_not_of('0') == std::string::npos
                                ? "0"
                                : c.text.substr(c.text.find_first_not_of('0')));
    }
  }
}

// --- hexadecimal ------------------------------------------------------------

TEST(HexCodec, FromTextTakesHexDigitsInOrder) {
  struct Case {
    std::int32_t length;
    std::string text;
    bool accepted;
    Bytes expected;  // start is 0x33 in every byte
  };
  const std::vector<Case> cases = {
      {1, "F", true, {0xF0}},
      {1, "1 2", true, {0x12}},
      {1, "123", false, {0x33}},
      {1, "", false, {0x33}},
      {1, "zz", true, {0x00}},  // no hex digit at all: cleared, accepted
      {3, "ab", true, {0xAB, 0x00, 0x00}},
      {3, "01 02 0A", true, {0x01, 0x02, 0x0A}},
      {3, "1-2-3", true, {0x12, 0x30, 0x00}},
      {2, "de:AD", true, {0xDE, 0xAD}},
      {2, "ёж12", true, {0x12, 0x00}},  // non-ASCII characters are ignored
  };
  for (const auto& c : cases) {
    Guarded g(Bytes(static_cast<std::size_t>(c.length), 0x33));
    THEXKKM h(g.Field(), c.length);
    EXPECT_EQ(h.FromText(c.text), c.accepted) << c.text;
    EXPECT_EQ(g.FieldBytes(), c.expected) << c.text;
    EXPECT_TRUE(g.GuardsIntact()) << c.text;
  }
}

TEST(HexCodec, ShowsBytesSeparatedByBlanks) {
  Bytes b = {0x00, 0xAB, 0x7F};
  THEXKKM h(b.data(), Len(b));
  EXPECT_EQ(h.ToText(), "00 AB 7F");
  EXPECT_TRUE(h.IsValid());
  THEXKKM none(nullptr, 3);
  EXPECT_EQ(none.ToText(), "");
  EXPECT_FALSE(none.IsValid());
  EXPECT_FALSE(none.FromText("12"));
}

// --- binary -----------------------------------------------------------------

TEST(BinCodec, FromTextWritesLowBytesLittleEndian) {
  struct Case {
    std::int32_t length;
    std::string text;
    bool accepted;
    Bytes expected;  // start is 0x33 in every byte
  };
  const std::vector<Case> cases = {
      {2, "70000", true, {0x70, 0x11}},  // 0x011170: the third byte is dropped
      {2, "4660", true, {0x34, 0x12}},
      {1, "255", true, {0xFF}},
      {1, "256", true, {0x00}},
      {4, "-1", true, {0xFF, 0xFF, 0xFF, 0xFF}},
      {8, "9223372036854775807", true, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
      {8, "-9223372036854775808", true, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}},
      {8, "9223372036854775808", false, Bytes(8, 0x33)},  // beyond 64-bit signed
      {2, "99999999999999999999999", false, {0x33, 0x33}},
      {2, "12x", false, {0x33, 0x33}},
      {2, "", false, {0x33, 0x33}},
      {2, "-", false, {0x33, 0x33}},
      {9, "01 02", true, {0x01, 0x02, 0, 0, 0, 0, 0, 0, 0}},  // longer than 8 bytes: hexadecimal
  };
  for (const auto& c : cases) {
    Guarded g(Bytes(static_cast<std::size_t>(c.length), 0x33));
    TBinKKM bin(g.Field(), c.length);
    EXPECT_EQ(bin.FromText(c.text), c.accepted) << c.text;
    EXPECT_EQ(g.FieldBytes(), c.expected) << c.text;
    EXPECT_TRUE(g.GuardsIntact()) << c.text;
  }
}

TEST(BinCodec, ShowsLittleEndianValue) {
  const std::vector<std::pair<Bytes, std::string>> cases = {
      {{0x34, 0x12}, "4660"},
      {{0xFF, 0xFF, 0xFF, 0xFF}, "4294967295"},
      {{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, "1"},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "-1"},  // 8 bytes print signed
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "72057594037927935"},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9}, "01 02 03 04 05 06 07 08 09"},
  };
  for (const auto& [bytes, text] : cases) {
    Bytes b = bytes;
    TBinKKM bin(b.data(), Len(b));
    EXPECT_EQ(bin.ToText(), text);
  }
}

TEST(BinCodec, BinValueCoversUpToFourBytes) {
  Bytes b = {0x78, 0x56, 0x34, 0x12, 0x01};
  EXPECT_EQ(BinValue(TBinKKM(b.data(), 1)), 0x78);
  EXPECT_EQ(BinValue(TBinKKM(b.data(), 4)), 0x12345678);
  EXPECT_EQ(BinValue(TBinKKM(b.data(), 5)), -1);
  Bytes ff = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(BinValue(TBinKKM(ff.data(), 4)), 4294967295LL);
  EXPECT_EQ(BinValue(TBinKKM(nullptr, 2)), -1);
}

// --- shared operations ------------------------------------------------------

TEST(BaseCodec, AssignCopiesLengthBytesAndRefusesMissingBytes) {
  Guarded g({0, 0, 0});
  THEXKKM h(g.Field(), 3);
  const Bytes src = {1, 2, 3, 4};
  EXPECT_TRUE(h.Assign(src.data()));
  EXPECT_EQ(g.FieldBytes(), (Bytes{1, 2, 3}));
  EXPECT_TRUE(g.GuardsIntact());
  EXPECT_FALSE(h.Assign(nullptr));
  THEXKKM none(nullptr, 3);
  EXPECT_FALSE(none.Assign(src.data()));
  THEXKKM zero(g.Field(), 0);
  EXPECT_FALSE(zero.Assign(src.data()));
  EXPECT_FALSE(zero.FromHex("12"));
  zero.Erase();  // nothing to erase
  EXPECT_EQ(g.FieldBytes(), (Bytes{1, 2, 3}));
}

TEST(BaseCodec, ViewsShareTheBytesTheyPointAt) {
  Bytes record(6, 0);
  TNumberKKM number(record.data() + 1, 2);
  THEXKKM hex(record.data(), 6);
  ASSERT_TRUE(number.FromText("1234"));
  EXPECT_EQ(hex.ToText(), "00 34 12 00 00 00");
  TNumberKKM copy = number;  // a copy views the same bytes
  hex.Erase();
  EXPECT_EQ(copy.ToText(), "FFFF");
  EXPECT_FALSE(copy.IsValid());
}

// --- free helpers -----------------------------------------------------------

TEST(Helpers, HexTextBcdAndNumberText) {
  const Bytes b = {0x01, 0xAF, 0x10};
  EXPECT_EQ(HexText(b.data(), 3, " "), "01 AF 10");
  EXPECT_EQ(HexText(b.data(), 3, "."), "01.AF.10");
  EXPECT_EQ(HexText(b.data(), 1, ":"), "01");
  EXPECT_EQ(HexText(b.data(), 0, " "), "");
  EXPECT_EQ(HexText(nullptr, 5, " "), "");

  EXPECT_EQ(BcdToInt(0x45), 45);
  EXPECT_EQ(BcdToInt(0x00), 0);
  EXPECT_EQ(BcdToInt(0xFF), 165);  // nibbles are not checked

  EXPECT_TRUE(IsNumberText("0123456789"));
  EXPECT_FALSE(IsNumberText(""));
  EXPECT_FALSE(IsNumberText("12 "));
  EXPECT_FALSE(IsNumberText("-1"));
  EXPECT_FALSE(IsNumberText("１"));  // a full-width digit is not 0-9
}

TEST(Helpers, RegisterCharacters) {
  for (int c = 0; c < 256; ++c) {
    const bool expected = (c >= 0x20 && c <= 0x7F) || c == 0xA8 || c == 0xB8 || c >= 0xC0;
    EXPECT_EQ(IsRegisterChar(static_cast<std::uint8_t>(c)), expected) << c;
  }
}

TEST(Helpers, TextFromFieldStopsAtWidthOrZeroByte) {
  struct Case {
    Bytes bytes;
    std::size_t width;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{0x41, 0x42, 0x00, 0x43}, 4, "AB"},
      {{0x41, 0x42, 0x43, 0x44}, 3, "ABC"},
      {{0x00, 0x41}, 2, ""},
      {{0x41}, 0, ""},
      {{0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2}, 6, "Привет"},
      {{0xA8, 0xB8, 0x20}, 3, "Ёё "},
  };
  for (const auto& c : cases) EXPECT_EQ(TextFromField(c.bytes.data(), c.width), c.text);
  EXPECT_EQ(TextFromField(nullptr, 4), "");
}

TEST(Helpers, FieldFromTextLeavesOutNonRegisterCharacters) {
  struct Case {
    std::string text;
    std::size_t width;
    Bytes expected;  // the whole 6-byte buffer, cleared to 0x00 first
  };
  const std::vector<Case> cases = {
      {"A\tB", 3, {0x41, 0x42, 0, 0, 0, 0}},
      {"ABCDEFGH", 4, {0x41, 0x42, 0x43, 0x44, 0, 0}},
      {"Ёж", 6, {0xA8, 0xE6, 0, 0, 0, 0}},  // width counts characters, not UTF-8 bytes
      {"Привет!", 6, {0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2}},
      {"a€b", 3, {0x61, 0x62, 0, 0, 0, 0}},   // € is 0x88 in the code page: not printable
      {"a中b", 3, {0x61, 0x62, 0, 0, 0, 0}},  // no code page byte at all
      {"\r\nX", 2, {0, 0, 0, 0, 0, 0}},       // the cut is taken before leaving out
      {"", 6, {0, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    Guarded g(Bytes(6, 0));
    const std::size_t n = FieldFromText(g.Field(), c.text, c.width);
    EXPECT_EQ(g.FieldBytes(), c.expected) << c.text;
    EXPECT_TRUE(g.GuardsIntact()) << c.text;
    std::size_t nonZero = 0;
    for (const auto b : c.expected) nonZero += b != 0 ? 1u : 0u;
    EXPECT_EQ(n, nonZero) << c.text;
  }
}

TEST(Helpers, FieldRoundTripOfEveryRegisterCharacter) {
  Bytes all;
  for (int c = 0x20; c < 256; ++c) {
    if (IsRegisterChar(static_cast<std::uint8_t>(c))) all.push_back(static_cast<std::uint8_t>(c));
  }
  const std::string text = TextFromField(all.data(), all.size());
  Bytes back(all.size(), 0);
  EXPECT_EQ(FieldFromText(back.data(), text, back.size()), all.size());
  EXPECT_EQ(back, all);
}

}  // namespace
}  // namespace zarvik
