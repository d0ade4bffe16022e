// Texts on their way into the register's text fields: which characters it
// cannot print, what a field holds once written, and the warnings the
// writes and the printed lines give.
#include "model/RegisterText.h"

#include <gtest/gtest.h>

#include <string>

#include "model/Typessimpledata.h"
#include "model/U_kkms.h"
#include "shell/TextCodec.h"
#include "store/GoodsReport.h"
#include "store/UnitBD.h"

namespace zarvik {
namespace {

TEST(RegisterText, UnprintableCharactersEachOnceInOrder) {
  struct Case {
    std::string text;
    std::u32string unprintable;
  };
  const Case cases[] = {
      {"", U""},
      {"Бакалея 12, A-Z ~", U""},
      {"Ёлка ёж", U""},                  // Ё and ё are register characters
      {"日本 ø", U"日本ø"},              // no code page 1251 byte at all
      {"Кассир №½", U"№½"},              // № has a byte the register does not print
      {"«Арабика» — кофе", U"«»—"},      // quotes and dash of code page 1251
      {"Tab\there\tand\tagain", U"\t"},  // once, however often
      {"€ 5", U"€"},
      {"a\xC3", U"\uFFFD"},  // malformed UTF-8 is not printed either
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UnprintableChars(c.text), c.unprintable) << c.text;
    EXPECT_EQ(IsPrintableText(c.text), c.unprintable.empty()) << c.text;
  }
}

// The check says exactly what the wire drops: a text passes through a field
// unchanged when, and only when, every character prints.
TEST(RegisterText, TheCheckAgreesWithWhatTheFieldKeeps) {
  for (int b = 0; b < 256; ++b) {
    if (b == 0 || b == 0x98) continue;  // the end of a field; a byte without character
    const std::string one = Cp1251ToUtf8(std::string(1, static_cast<char>(b)));
    EXPECT_EQ(IsPrintableText(one), RegisterFieldText(one, 4) == one) << b;
    EXPECT_EQ(IsPrintableText(one), IsRegisterChar(static_cast<std::uint8_t>(b))) << b;
  }
}

TEST(RegisterText, FieldTextLeavesOutAndCuts) {
  EXPECT_EQ(RegisterFieldText("Кофе ø", 22), "Кофе ");
  EXPECT_EQ(RegisterFieldText("Кофе «Арабика»", 22), "Кофе Арабика");
  // Cut to the width first, then the unprintable ones left out (as sent).
  EXPECT_EQ(RegisterFieldText("ab№cd", 3), "ab");
  EXPECT_EQ(RegisterFieldText(std::string(40, 'x'), 32), std::string(32, 'x'));
}

TEST(RegisterText, WarningsNameTheCharacters) {
  EXPECT_EQ(UnprintableWarning("Отдел 3", "Бакалея"), "");
  // Characters code page 1251 lacks carry their code too: the log keeps it.
  EXPECT_EQ(UnprintableWarning("Отдел 3", "Кофе ø日№"),
            "Отдел 3: ККМ не печатает знаки «ø U+00F8», «日 U+65E5», «№» в тексте «Кофе ø日№»");
  // Characters a reader cannot see are named by their code alone.
  EXPECT_EQ(UnprintableList(U"\t\u00A0x"), "«U+0009», «U+00A0», «x»");
  EXPECT_EQ(CharDisplay(U'\U0001F600'), "\U0001F600 U+1F600");
  EXPECT_EQ(CharDisplay(U'\x7F'), "U+007F");
  EXPECT_EQ(CharDisplay(U'«'), "«");
  // A printed line: only its first 32 characters reach the paper.
  EXPECT_EQ(PrintedLineWarning(2, "日本 ø"),
            "Строка 2: ККМ не печатает знаки «日 U+65E5», «本 U+672C», «ø U+00F8» в тексте «日本 ø»");
  EXPECT_EQ(PrintedLineWarning(1, std::string(32, 'x') + "ø"), "");
}

// Before goods go to the register, every name it cannot print whole is
// named with the characters; the row is written all the same.
TEST(RegisterText, GoodsNamesTheRegisterCannotPrintAreReported) {
  TBD bd;
  TWorkTable& t = bd.mtTOBAP;
  const auto add = [&t](int code, const char* name, int type = kGoodsTypeGoods) {
    t.Append();
    t.SetInteger("Code", code);
    t.SetInteger("Type", type);
    t.SetText("Name", name);
    t.SetText("Price", "1");
    t.Post();
  };
  add(1, "Молоко");
  add(2, "Кофе «Арабика» ø");
  add(3, "Чай 日本", 0);  // marked for deletion: the name is not sent
  add(4, "Сыр №1");
  TKKMInfo info;
  info.maxCountGoods = 100;
  GoodsImportReport report;
  EXPECT_EQ(CheckGoodsForRegister(t, info, report), 4);
  EXPECT_EQ(report.rowsSkipped, 0);
  ASSERT_EQ(report.changes.size(), std::size_t{2});
  EXPECT_EQ(
      GoodsIssueText(report.changes[0], GoodsPlaceKind::Line),
      "Строка 2, код 2: наименование «Кофе «Арабика» ø»: ККМ не печатает знаки ««», «»», «ø U+00F8», они не "
      "будут записаны");
  EXPECT_EQ(report.changes[1].code, "4");
  EXPECT_EQ(report.changes[1].value, "Сыр №1");
}

}  // namespace
}  // namespace zarvik
