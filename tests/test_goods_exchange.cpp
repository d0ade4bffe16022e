// Goods record and table row, and the goods exchange files (CSV and dBASE).
#include <algorithm>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "model/U_kkms.h"
#include "shell/TextCodec.h"
#include "store/Dbf.h"
#include "store/GoodsExchange.h"
#include "store/UnitBD.h"

namespace zarvik {
namespace {

class GoodsExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDecimalSeparator('.');
    SetConsole(&console);
  }
  void TearDown() override { SetDecimalSeparator('.'); }

  // Appends a goods row from "Code;Type;Name;NG;Price;Section;Vesovoy;Shtrih;isBlock;Count"
  // texts (empty = null).
  void AddRow(const std::vector<std::string>& values) {
    TWorkTable& t = bd.mtTOBAP;
    t.Append();
    for (int f = 0; f < kGoodsFieldCount && f < static_cast<int>(values.size()); ++f) {
      const std::string_view name = kGoodsFields[f];
      if (values[static_cast<std::size_t>(f)].empty())
        t.SetNull(name);
      else if (name == "isBlock")
        t.SetBoolean(name, values[static_cast<std::size_t>(f)] == "True");
      else
        ASSERT_EQ(t.SetText(name, values[static_cast<std::size_t>(f)]), WtResult::Ok) << name;
    }
    t.Post();
  }
  std::string Cell(std::string_view field) { return bd.mtTOBAP.Text(field); }
  bool ImportCsv(const std::string& utf8) { return ImportGoodsCsvText(utf8, bd.mtTOBAP); }
  bool ErrorShown(std::string_view text) { return console.AllText().find(text) != std::string::npos; }

  test::MessageStateGuard guard;
  test::RecordingConsole console;
  TBD bd;
  TKKMInfo info;
};

// --- record and row -----------------------------------------------------------

TEST_F(GoodsExchangeTest, RowToRecordAndBack) {
  AddRow({"12", "170", "Сыр Российский", "2", "589.5", "3", "2", "2100008000008", "True", "12.345"});
  TWorkTable& t = bd.mtTOBAP;
  t.First();
  ASSERT_TRUE(GoodsRowToRecord(t, info));
  const auto& r = info.GoodsRecord;
  EXPECT_EQ(r[0], 170);
  EXPECT_EQ(r[1], kGoodsFlagBlocked);  // by weight: bit 0 clear
  EXPECT_EQ(r[2], 0x12);
  EXPECT_EQ(r[3], 0x00);
  EXPECT_EQ(r[kGoodsPriceOffset], 0x50);  // 58950 kopecks, least significant byte first
  EXPECT_EQ(r[kGoodsPriceOffset + 1], 0x89);
  EXPECT_EQ(r[kGoodsPriceOffset + 2], 0x05);
  EXPECT_EQ(r[42], 2);
  EXPECT_EQ(r[43], 3);
  EXPECT_EQ(info.goodsBarcode.ToText(), "2100008000008");
  EXPECT_EQ(TextFromField(r.data() + 5, 32), "Сыр Российский");
  // The quantity sold is never sent.
  EXPECT_EQ(info.goodsSold.ToText(), "0");

  info.goodsSold.FromText("7250");
  ClearRows(t);
  t.Append();
  ASSERT_TRUE(GoodsRecordToRow(info, t));
  t.Post();
  t.First();
  EXPECT_EQ(Cell("Code"), "12");
  EXPECT_EQ(Cell("Name"), "Сыр Российский");
  EXPECT_EQ(Cell("Price"), "589.5");
  EXPECT_EQ(Cell("Vesovoy"), "2");
  EXPECT_EQ(Cell("Shtrih"), "2100008000008");
  EXPECT_EQ(Cell("isBlock"), "True");
  EXPECT_EQ(Cell("Count"), "7.25");
}

TEST_F(GoodsExchangeTest, RecordOfOtherTypeLeavesSaleAndBarcodeAndBadCodeIsRefused) {
  info.GoodsRecord.fill(0);
  info.GoodsRecord[0] = kGoodsTypeService;
  info.GoodsRecord[1] = kGoodsFlagByPiece;
  info.goodsCode.FromText("7");
  info.goodsBarcode.FromText("123");
  TWorkTable& t = bd.mtTOBAP;
  t.Append();
  t.SetText("Shtrih", "999");
  ASSERT_TRUE(GoodsRecordToRow(info, t));
  EXPECT_EQ(t.Text("Shtrih"), "999");
  EXPECT_EQ(t.Text("Vesovoy"), "1");  // the new row's default, untouched
  t.Cancel();

  // A code that is not BCD is refused and the row stays as it was.
  info.GoodsRecord[kGoodsCodeOffset] = 0xAB;
  t.Append();
  EXPECT_FALSE(GoodsRecordToRow(info, t));
  EXPECT_TRUE(t.IsNull("Code"));
  t.Cancel();
}

TEST_F(GoodsExchangeTest, RowMarkedForDeletionWritesTypeZeroAndCode) {
  AddRow({"45", "0", "", "", "", "", "", "", "", ""});
  bd.mtTOBAP.First();
  EXPECT_TRUE(IsGoodsRowWritable(bd.mtTOBAP, 4));
  ASSERT_TRUE(GoodsRowToRecord(bd.mtTOBAP, info));
  EXPECT_EQ(info.GoodsRecord[0], 0);
  EXPECT_EQ(info.goodsCode.ToText(), "45");
  EXPECT_EQ(info.GoodsRecord[1], 0);
}

TEST_F(GoodsExchangeTest, RowsThatCannotBecomeARecord) {
  const std::vector<std::vector<std::string>> rows = {
      {"1", "170", "a", "1", "1.005", "1", "1", "", "False", ""},      // part of a kopeck
      {"2", "170", "a", "1", "1", "1", "1", "12AB", "False", ""},      // letters in the barcode
      {"1000000", "170", "a", "1", "1", "1", "1", "", "False", ""},    // code too large
      {"3", "170", "a", "1", "-1", "1", "1", "", "False", ""},         // negative price
      {"4", "170", "a", "1", "100000000", "1", "1", "", "False", ""},  // eleven digits
  };
  for (const auto& row : rows) AddRow(row);
  TWorkTable& t = bd.mtTOBAP;
  int n = 0;
  for (t.First(); !t.Eof(); t.Next(), ++n) EXPECT_FALSE(GoodsRowToRecord(t, info)) << "row " << n;
  EXPECT_EQ(n, 5);
}

TEST_F(GoodsExchangeTest, WritableRows) {
  struct Case {
    std::vector<std::string> row;
    bool writable;
  };
  const std::vector<Case> cases = {
      {{"1", "170", "a", "1", "10", "4", "1", "4600000000000", "False", ""}, true},
      {{"1", "170", "a", "1", "10", "7", "1", "", "False", ""}, false},  // section above maxCountDepat 4
      {{"", "170", "a", "1", "10", "1", "1", "", "False", ""}, false},   // no code
      {{"1", "170", "a", "1", "", "1", "1", "", "False", ""}, false},    // no price
      {{"1", "170", "a", "9", "10", "1", "1", "", "False", ""}, false},  // NG becomes 255
      {{"1", "77", "a", "1", "10", "1", "1", "", "False", ""}, false},   // Type becomes 255
      {{"1", "170", "a", "1", "10", "1", "5", "", "False", ""}, false},  // Vesovoy becomes 255
      {{"1", "170", "a", "1", "10", "1", "1", "46A", "False", ""}, false},
      {{"1", "0", "", "9", "", "9", "9", "x", "", ""}, true},  // marked for deletion: only the code counts
  };
  // One row at a time: the table holds a code once.
  TWorkTable& t = bd.mtTOBAP;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    ClearRows(t);
    AddRow(cases[i].row);
    t.First();
    ASSERT_FALSE(t.Eof());
    EXPECT_EQ(IsGoodsRowWritable(t, 4), cases[i].writable) << "case " << i;
  }
}

// --- CSV values --------------------------------------------------------------

TEST(GoodsCsvValues, QuoteAndUnquote) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain", "plain"},
      {"", ""},
      {"a;b", "\"a;b\""},
      {"25,5", "\"25,5\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"tab\there", "tab\there"},
      {"'x'", "\"'x'\""},
      {"it's", "it's"},
  };
  for (const auto& [value, quoted] : cases) EXPECT_EQ(QuoteCsvField(value), quoted) << value;
  EXPECT_EQ(UnquoteCsvField("a\"\"b"), "a\"b");
  EXPECT_EQ(UnquoteCsvField("\"\"\"\""), "\"\"");
  EXPECT_EQ(UnquoteCsvField("a\"b"), "a\"b");
}

TEST(GoodsCsvValues, SeparatorAndNumberText) {
  EXPECT_EQ(CsvSeparator("1\t2;3"), ';');
  EXPECT_EQ(CsvSeparator("1\t2,3"), '\t');
  EXPECT_EQ(CsvSeparator("1,2"), ',');
  EXPECT_EQ(CsvSeparator(""), ',');
  SetDecimalSeparator(',');
  EXPECT_EQ(GoodsNumberText(Currency::FromRaw(255000)), "25,5");
  EXPECT_EQ(GoodsNumberText(Currency{}), "0");
  SetDecimalSeparator('.');
  EXPECT_EQ(GoodsNumberText(Currency::FromRaw(1)), "0.0001");
}

// --- CSV import and export -------------------------------------------------------

TEST_F(GoodsExchangeTest, SemicolonLineIsReadAndTenthValueIgnored) {
  ASSERT_TRUE(ImportCsv("12;170;Молоко \"Весёлый\";1;25,50;1;1;4607001771012;True;5\r\n"));
  TWorkTable& t = bd.mtTOBAP;
  ASSERT_EQ(CountRows(t), 1);
  t.First();
  EXPECT_EQ(Cell("Code"), "12");
  EXPECT_EQ(Cell("Type"), "170");
  EXPECT_EQ(Cell("Name"), "Молоко \"Весёлый\"");
  EXPECT_EQ(Cell("NG"), "1");
  EXPECT_EQ(t.Cur("Price").raw, 255000);
  EXPECT_EQ(Cell("Section"), "1");
  EXPECT_EQ(Cell("Vesovoy"), "1");
  EXPECT_EQ(Cell("Shtrih"), "4607001771012");
  EXPECT_TRUE(t.Bool("isBlock"));
  EXPECT_EQ(Cell("Count"), "0");
}

TEST_F(GoodsExchangeTest, SeparatorsTabAndComma) {
  ASSERT_TRUE(ImportCsv("1\t170\tЧай\t1\t2,5\t1\t1\t\tFalse\r\n"));
  bd.mtTOBAP.First();
  EXPECT_EQ(Cell("Name"), "Чай");
  EXPECT_EQ(bd.mtTOBAP.Cur("Price").raw, 25000);

  // Comma separated: a price with a point or in quotes is whole; an unquoted
  // decimal comma splits the value.
  ASSERT_TRUE(ImportCsv(
      "1,170,Чай,1,2.5,1,1,,False\r\n2,170,Кофе,1,\"3,5\",1,1,,False\r\n3,170,Сок,1,4,5,1,1,,False\r\n"));
  TWorkTable& t = bd.mtTOBAP;
  t.First();
  EXPECT_EQ(t.Cur("Price").raw, 25000);
  t.Next();
  EXPECT_EQ(t.Cur("Price").raw, 35000);
  t.Next();
  EXPECT_EQ(t.Cur("Price").raw, 40000);
  EXPECT_EQ(Cell("Section"), "5");
}

TEST_F(GoodsExchangeTest, BlockedValues) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"ИСТИНА", true}, {"истина", true}, {"True", true}, {"TRUE", true}, {"true", true},
      {"ЛОЖЬ", false},  {"False", false}, {"0", false},   {"1", false},   {"", false},
  };
  std::string text;
  for (std::size_t i = 0; i < cases.size(); ++i)
    text += std::to_string(i + 1) + ";170;x;1;1;1;1;;" + cases[i].first + "\r\n";
  ASSERT_TRUE(ImportCsv(text));
  TWorkTable& t = bd.mtTOBAP;
  std::size_t i = 0;
  for (t.First(); !t.Eof(); t.Next(), ++i) EXPECT_EQ(t.Bool("isBlock"), cases[i].second) << cases[i].first;
  EXPECT_EQ(i, cases.size());
}

TEST_F(GoodsExchangeTest, NamesWithSeparatorsAndQuotesSurviveExportAndImport) {
  const std::vector<std::string> names = {"Вино; красное", "Конфеты \"Мишка\"", "a\";b", "\"", "'single'",
                                          "'open"};
  for (std::size_t i = 0; i < names.size(); ++i)
    AddRow({std::to_string(i + 1), "170", names[i], "1", "1.5", "1", "1", "", "False", "3"});
  const test::TempDir dir;
  const std::string path = dir.File("goods.csv");
  ASSERT_TRUE(ExportGoodsCsv(bd.mtTOBAP, path));
  const std::string bytes = test::ReadAll(path);
  EXPECT_NE(bytes.find(Utf8ToCp1251("\"Вино; красное\"")), std::string::npos);
  EXPECT_NE(bytes.find(Utf8ToCp1251("\"Конфеты \"\"Мишка\"\"\"")), std::string::npos);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");

  ASSERT_TRUE(ImportGoodsCsv(path, bd.mtTOBAP));
  TWorkTable& t = bd.mtTOBAP;
  std::size_t i = 0;
  for (t.First(); !t.Eof(); t.Next(), ++i) {
    EXPECT_EQ(Cell("Name"), names[i]);
    EXPECT_EQ(Cell("Count"), "0");  // a CSV round trip drops the quantity sold
    EXPECT_EQ(Cell("Price"), "1.5");
  }
  EXPECT_EQ(i, names.size());
}

TEST_F(GoodsExchangeTest, EmptyLineGivesDefaultRowAndLastLineWithoutEndIsRead) {
  ASSERT_TRUE(ImportCsv("1;170;a;1;1;1;1;;False\r\n\r\n3;165;c;2;3;1;1;;False"));
  TWorkTable& t = bd.mtTOBAP;
  ASSERT_EQ(CountRows(t), 3);
  // In code order, the row without a code last.
  t.First();
  t.Next();
  EXPECT_EQ(Cell("Code"), "3");
  EXPECT_EQ(Cell("Type"), "165");
  t.Next();
  EXPECT_TRUE(t.IsNull("Code"));
  EXPECT_EQ(Cell("Type"), "170");
  EXPECT_EQ(Cell("Vesovoy"), "1");
  EXPECT_FALSE(t.Bool("isBlock"));
  EXPECT_EQ(Cell("Count"), "0");
}

// A price list marks weighed goods only: an empty type or sale kind is the
// new row's (goods, sold by the piece), which the register's checks accept;
// an empty section or tax group stays empty.
TEST_F(GoodsExchangeTest, EmptyTypeAndSaleKindTakeTheNewRowsDefault) {
  ASSERT_TRUE(ImportCsv("1;;a;;1;;;;False\r\n2;170;b;1;2;1;2;;False\r\n"));
  TWorkTable& t = bd.mtTOBAP;
  ASSERT_EQ(CountRows(t), 2);
  t.First();
  EXPECT_EQ(Cell("Type"), "170");
  EXPECT_EQ(Cell("Vesovoy"), "1");
  EXPECT_TRUE(t.IsNull("Section"));
  EXPECT_TRUE(t.IsNull("NG"));
  t.Next();
  EXPECT_EQ(Cell("Vesovoy"), "2");
}

TEST_F(GoodsExchangeTest, InvalidCodesBecomeTheInvalidMarkAndBadPriceStaysEmpty) {
  ASSERT_TRUE(ImportCsv("1;99;a;7;abc;1;3;;False\r\n"));
  bd.mtTOBAP.First();
  EXPECT_EQ(Cell("Type"), "255");
  EXPECT_EQ(Cell("NG"), "255");
  EXPECT_EQ(Cell("Vesovoy"), "255");
  EXPECT_TRUE(bd.mtTOBAP.IsNull("Price"));
}

TEST_F(GoodsExchangeTest, NumberFieldThatIsNoNumberEndsTheImport) {
  EXPECT_FALSE(ImportCsv("1;170;a;1;1;1;1;;False\r\n2;x170;b;1;1;1;1;;False\r\n3;170;c;1;1;1;1;;False\r\n"));
  EXPECT_EQ(CountRows(bd.mtTOBAP), 1);
  EXPECT_TRUE(ErrorShown(std::string(kCsvBadValueText) + "2: x170"));
}

TEST_F(GoodsExchangeTest, UnreadableCsvIsReportedAndTableKept) {
  AddRow({"5", "170", "keep", "1", "1", "1", "1", "", "False", ""});
  EXPECT_FALSE(ImportGoodsCsv("/nonexistent/goods.csv", bd.mtTOBAP));
  EXPECT_EQ(CountRows(bd.mtTOBAP), 1);
  EXPECT_TRUE(ErrorShown(kCsvReadFailedText));
  // UTF-16 text is refused rather than read as garbage.
  const test::TempDir dir;
  constexpr char kUtf16[] =
      "\xFF\xFE"
      "1\0;\0\x1C\x04\r\0\n\0";  // "1;М" and a line end
  test::WriteAll(dir.File("utf16.csv"), std::string(kUtf16, sizeof kUtf16 - 1));
  EXPECT_FALSE(ImportGoodsCsv(dir.File("utf16.csv"), bd.mtTOBAP));
  EXPECT_EQ(CountRows(bd.mtTOBAP), 1);
  EXPECT_TRUE(ErrorShown(std::string(kCsvUtf16Text))) << console.AllText();
  EXPECT_FALSE(ExportGoodsCsv(bd.mtTOBAP, "/nonexistent/goods.csv"));
  EXPECT_TRUE(ErrorShown(kCsvWriteFailedText));
}

// --- dBASE -----------------------------------------------------------------------

TEST_F(GoodsExchangeTest, DbfRoundTripKeepsCountAndEmptyFields) {
  SetDecimalSeparator(',');
  AddRow({"1", "170", "Хлеб", "1", "52,9", "1", "1", "4600605000011", "True", "87,5"});
  AddRow({"2", "0", "", "", "", "", "", "", "", ""});
  const test::TempDir dir;
  const std::string path = dir.File("goods.dbf");
  ASSERT_TRUE(ExportGoodsDbf(bd.mtTOBAP, path));

  TDbfTable file;
  ASSERT_EQ(file.Open(path, GoodsExchangeFields()), DbfResult::Ok);
  std::string price;
  file.GetText("PRICE", price);
  EXPECT_EQ(price, "52,9");  // number text with the locale's separator
  file.Close();

  ClearRows(bd.mtTOBAP);
  ASSERT_TRUE(ImportGoodsDbf(path, bd.mtTOBAP, 100));
  TWorkTable& t = bd.mtTOBAP;
  ASSERT_EQ(CountRows(t), 2);
  t.First();
  EXPECT_EQ(Cell("Name"), "Хлеб");
  EXPECT_EQ(t.Cur("Price").raw, 529000);
  EXPECT_EQ(t.Cur("Count").raw, 875000);
  EXPECT_TRUE(t.Bool("isBlock"));
  EXPECT_EQ(Cell("Shtrih"), "4600605000011");
  t.Next();
  EXPECT_EQ(Cell("Type"), "0");
  EXPECT_TRUE(t.IsNull("Price"));
  EXPECT_TRUE(t.IsNull("Name"));
  EXPECT_TRUE(ErrorShown(kDbfImportedText));
}

TEST_F(GoodsExchangeTest, DbfImportTakesAtMostTheLimit) {
  const test::TempDir dir;
  const std::string path = dir.File("many.dbf");
  for (int code = 1; code <= 150; ++code)
    AddRow({std::to_string(code), "170", "x", "1", "1", "1", "1", "", "", ""});
  ASSERT_TRUE(ExportGoodsDbf(bd.mtTOBAP, path));
  ASSERT_TRUE(ImportGoodsDbf(path, bd.mtTOBAP, 100));
  EXPECT_EQ(CountRows(bd.mtTOBAP), 100);
  // The records left out are not left out without a word.
  EXPECT_TRUE(ErrorShown("Считано 100 зап. из 150: в таблицу товаров считывается не более 100"))
      << console.AllText();

  TKKM kkm;
  EXPECT_EQ(GoodsImportLimit(&kkm), kGoodsImportLimitWithoutRegister);
  ASSERT_TRUE(ImportGoodsDbf(path, bd.mtTOBAP, GoodsImportLimit(&kkm)));
  EXPECT_EQ(CountRows(bd.mtTOBAP), 150);
  kkm.Info().maxCountGoods = 100;
  EXPECT_EQ(GoodsImportLimit(&kkm), 100);
}

TEST_F(GoodsExchangeTest, DbfThatIsNotAGoodsTableIsReportedAndTableKept) {
  AddRow({"5", "170", "keep", "1", "1", "1", "1", "", "False", ""});
  const test::TempDir dir;
  const std::string other = dir.File("other.dbf");
  ASSERT_EQ(TDbfTable::CreateTable(other, {{"CODE", DbfFieldKind::Numeric, 9, 0}}), DbfResult::Ok);
  for (const std::string& path : {other, dir.File("missing.dbf")}) {
    EXPECT_FALSE(ImportGoodsDbf(path, bd.mtTOBAP, 100)) << path;
    EXPECT_EQ(CountRows(bd.mtTOBAP), 1);
  }
  EXPECT_TRUE(ErrorShown(kDbfOpenFailedText));
  EXPECT_FALSE(ExportGoodsDbf(bd.mtTOBAP, dir.File("no/such/folder.dbf")));
  EXPECT_TRUE(ErrorShown(kDbfCreateFailedText));
}

// --- files as users have them: encodings, header lines, reports -------------------

// The rows of the goods table as "Code|Type|Name|NG|Price|Section|Vesovoy|Shtrih|isBlock|Count".
std::vector<std::string> Rows(TWorkTable& t) {
  std::vector<std::string> rows;
  for (t.First(); !t.Eof(); t.Next()) {
    std::string row;
    for (int f = 0; f < kGoodsFieldCount; ++f) row += (f ? "|" : "") + t.Text(kGoodsFields[f]);
    rows.push_back(row);
  }
  return rows;
}

std::vector<std::string> ReportTexts(const GoodsImportReport& r) {
  std::vector<std::string> texts;
  for (const GoodsReportLine& line : GoodsReportLines(r)) texts.push_back(line.text);
  return texts;
}

const std::string kSameGoods =
    "1;170;Молоко утф8;1;25,50;1;1;4601234567890;True;0\r\n"
    "2;165;Доставка «Ёлка» № 2;2;100;2;1;;Ложь;0\r\n";

TEST_F(GoodsExchangeTest, Utf8And1251FilesWithTheSameContentGiveTheSameRows) {
  const test::TempDir dir;
  struct Case {
    const char* name;
    std::string bytes;
    GoodsTextEncoding encoding;
  };
  const std::vector<Case> cases = {
      {"1251.csv", Utf8ToCp1251(kSameGoods), GoodsTextEncoding::Cp1251},
      {"utf8.csv", kSameGoods, GoodsTextEncoding::Utf8},
      {"bom.csv", "\xEF\xBB\xBF" + kSameGoods, GoodsTextEncoding::Utf8},
  };
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    test::WriteAll(dir.File(c.name), c.bytes);
    GoodsImportReport report;
    ASSERT_TRUE(ImportGoodsCsv(dir.File(c.name), bd.mtTOBAP, report)) << c.name;
    EXPECT_EQ(report.encoding, c.encoding) << c.name;
    EXPECT_EQ(report.file, c.name);
    const std::vector<std::string> rows = Rows(bd.mtTOBAP);
    if (expected.empty()) expected = rows;
    EXPECT_EQ(rows, expected) << c.name;
  }
  ASSERT_EQ(expected.size(), 2U);
  EXPECT_EQ(expected[0], "1|170|Молоко утф8|1|25.5|1|1|4601234567890|True|0");
  EXPECT_EQ(expected[1], "2|165|Доставка «Ёлка» № 2|2|100|2|1||False|0");

  // How the text is told apart.
  GoodsTextEncoding e = GoodsTextEncoding::Utf8;
  EXPECT_EQ(GoodsCsvTextOf("1;170;Tea\r\n", e), "1;170;Tea\r\n");
  EXPECT_EQ(e, GoodsTextEncoding::Cp1251);  // plain ASCII is the same either way
  // A byte order mark makes it UTF-8 even with a malformed byte after it.
  EXPECT_EQ(GoodsCsvTextOf("\xEF\xBB\xBF"
                           "a\xFF",
                           e),
            "a\xEF\xBF\xBD");
  EXPECT_EQ(e, GoodsTextEncoding::Utf8);
  // Mostly UTF-8 with one byte of code page 1251: not UTF-8.
  EXPECT_EQ(GoodsCsvTextOf("Молоко \xB9", e), Cp1251ToUtf8("Молоко \xB9"));
  EXPECT_EQ(e, GoodsTextEncoding::Cp1251);
  // Exports stay in code page 1251.
  ASSERT_TRUE(ExportGoodsCsv(bd.mtTOBAP, dir.File("out.csv")));
  EXPECT_EQ(test::ReadAll(dir.File("out.csv")),
            Utf8ToCp1251("1;170;Молоко утф8;1;25.5;1;1;4601234567890;True;0\r\n"
                         "2;165;Доставка «Ёлка» № 2;2;100;2;1;;False;0\r\n"));
}

TEST_F(GoodsExchangeTest, HeaderLineOfTheCommandLineIsSkippedOnlyOnTheFirstLine) {
  // What `zarvikctl --csv goods read-all` prints: UTF-8, LF line ends, a header.
  GoodsImportReport report;
  ASSERT_TRUE(
      ImportGoodsCsvText("Code;Type;Name;NG;Price;Section;Vesovoy;Shtrih;isBlock;Count\n"
                         "1;170;Хлеб;1;52.9;1;1;4600605000011;False;87\n"
                         "5;170;Пакет;1;5;1;1;;True;0\n",
                         bd.mtTOBAP, report));
  EXPECT_TRUE(report.headerSkipped);
  EXPECT_EQ(Rows(bd.mtTOBAP), (std::vector<std::string>{"1|170|Хлеб|1|52.9|1|1|4600605000011|False|0",
                                                        "5|170|Пакет|1|5|1|1||True|0"}));
  EXPECT_EQ(report.rowPlaces, (std::vector<int>{2, 3}));
  EXPECT_EQ(ReportTexts(report), (std::vector<std::string>{std::string(kGoodsHeaderSkippedText)}));

  for (const char* header : {"\"CODE\";TYPE\r\n7;170\r\n", "код\tтип\r\n7\t170\r\n", " Код ,Тип\n7,170\n"}) {
    ASSERT_TRUE(ImportGoodsCsvText(header, bd.mtTOBAP, report)) << header;
    EXPECT_TRUE(report.headerSkipped) << header;
    EXPECT_EQ(CountRows(bd.mtTOBAP), 1) << header;
  }
  // Not a header: a number first, or the header further down (an error there).
  ASSERT_TRUE(ImportGoodsCsvText("7;170\r\n", bd.mtTOBAP, report));
  EXPECT_FALSE(report.headerSkipped);
  EXPECT_FALSE(ImportGoodsCsvText("7;170\r\nCode;Type\r\n", bd.mtTOBAP, report));
  EXPECT_TRUE(ErrorShown(std::string(kCsvBadValueText) + "2: Code (поле Code)")) << console.AllText();
  EXPECT_EQ(CountRows(bd.mtTOBAP), 1);
}

TEST_F(GoodsExchangeTest, CutAndDroppedValuesAreReportedWithTheirLines) {
  const std::string name33(33, 'x');
  const std::string name32 = "Сыр плавленый сливочный 45% 100г";  // 32 letters, 59 bytes
  GoodsImportReport report;
  ASSERT_TRUE(ImportGoodsCsvText("1;170;" + name33 + ";1;1;1;1;;False\r\n" +                           //
                                     "2;170;" + name32 + ";1;1;1;1;123456789012345678901;False\r\n" +  //
                                     "3;170;b;1;12р;1;1;;False\r\n" +                                  //
                                     "4;170;Кофе «Café» ½ л;1;1;1;1;;False\r\n",
                                 bd.mtTOBAP, report));
  EXPECT_EQ(report.changeCount, 4);
  EXPECT_EQ(
      ReportTexts(report),
      (std::vector<std::string>{
          "Строка 1, код 1: наименование «" + name33 + "» длиннее 32 символов, обрезано",
          "Строка 2, код 2: штрих-код «123456789012345678901» длиннее 20 знаков, обрезан",
          "Строка 3, код 3: цена «12р» не число, цена не задана",
          "Строка 4, код 4: наименование «Кофе «Café» ½ л» содержит знаки вне кодировки 1251, они будут "
          "записаны как «?»",
      }));
  TWorkTable& t = bd.mtTOBAP;
  t.First();
  EXPECT_EQ(Cell("Name"), std::string(32, 'x'));
  t.Next();
  EXPECT_EQ(Cell("Name"), name32);
  EXPECT_EQ(Cell("Shtrih"), "12345678901234567890");
  t.Next();
  EXPECT_TRUE(t.IsNull("Price"));

  // Twenty in full, then the count of all.
  std::string many;
  for (int i = 1; i <= 25; ++i) many += std::to_string(i) + ";170;" + name33 + ";1;1;1;1;;False\r\n";
  ASSERT_TRUE(ImportGoodsCsvText(many, bd.mtTOBAP, report));
  const std::vector<std::string> texts = ReportTexts(report);
  ASSERT_EQ(texts.size(), 21U);
  EXPECT_EQ(texts[19].rfind("Строка 20, код 20: ", 0), 0U) << texts[19];
  EXPECT_EQ(texts[20], std::string(kGoodsMoreChangesText) + "25");
}

// The check before a transfer, with the rows' file lines (a header on line 1).
TEST_F(GoodsExchangeTest, RowsTheRegisterCannotTakeAreNamedBeforeTheTransfer) {
  struct Case {
    std::string line;
    std::string report;  // empty: written
  };
  const std::vector<Case> cases = {
      {"1;170;Чай;1;10;4;1;4600000000000;False", ""},
      {"150;170;Кофе;1;10;1;1;;False",
       "код 150 не записывается: код больше наибольшего номера товара ККМ (100)"},
      {"0;170;Сок;1;10;1;1;;False", "код 0 не записывается: код вне диапазона 1..100"},
      {";170;Без кода;1;10;1;1;;False", " не записывается: нет кода"},
      {"4;170;Без цены;1;;1;1;;False", "код 4 не записывается: нет цены"},
      {"5;170;Доли копейки;1;1,005;1;1;;False", "код 5 не записывается: неверная цена 1.005"},
      {"6;170;Минус;1;-1;1;1;;False", "код 6 не записывается: неверная цена -1"},
      {"7;170;Дорого;1;100000000;1;1;;False", "код 7 не записывается: неверная цена 100000000"},
      {"8;99;Тип;1;1;1;1;;False", "код 8 не записывается: неверный тип"},
      {"9;170;НГ;7;1;1;1;;False", "код 9 не записывается: неверная налоговая группа"},
      {"10;170;Вес;1;1;1;3;;False", "код 10 не записывается: неверный признак весового товара"},
      {"11;170;Буква;1;1;1;1;46A0;False",
       "код 11 не записывается: штрих-код «46A0» содержит не только цифры"},
      {"12;170;Секция;1;1;7;1;;False", "код 12 не записывается: секция 7 вне диапазона 0..4"},
      {"13;0;;;;;;;", ""},  // marked for deletion: the code is enough
      {"101;0;;;;;;;", "код 101 не записывается: код больше наибольшего номера товара ККМ (100)"},
      {"100;165;Услуга;0;0;0;2;;True", ""},
  };
  std::string text = "Code;Type;Name;NG;Price;Section;Vesovoy;Shtrih;isBlock\r\n";
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    text += cases[i].line + "\r\n";
    if (!cases[i].report.empty())
      expected.push_back("Строка " + std::to_string(i + 2) + (cases[i].line[0] == ';' ? "" : ", ") +
                         cases[i].report);
  }
  GoodsImportReport report;
  ASSERT_TRUE(ImportGoodsCsvText(text, bd.mtTOBAP, report));
  info.maxCountGoods = 100;
  info.maxCountDepat = 4;
  EXPECT_EQ(CheckGoodsForRegister(bd.mtTOBAP, info, report), 3);
  EXPECT_EQ(report.rowsSkipped, 13);
  EXPECT_EQ(report.beyondCapacity, 2);
  // The rows are named in the table's order (by code), each with its line.
  std::vector<std::string> texts = ReportTexts(report);
  ASSERT_EQ(texts.size(), expected.size() + 2);
  EXPECT_EQ(texts.front(), std::string(kGoodsHeaderSkippedText));
  EXPECT_EQ(texts.back(), std::string(kGoodsBeyondCapacityText) + "100): 2");
  texts = std::vector<std::string>(texts.begin() + 1, texts.end() - 1);
  std::sort(texts.begin(), texts.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(texts, expected);

  // The per-row decision the transfer uses is the same.
  TWorkTable& t = bd.mtTOBAP;
  int row = 0;
  for (t.First(); !t.Eof(); t.Next(), ++row) {
    const Case& c = cases[static_cast<std::size_t>(report.PlaceOfRow(row) - 2)];
    const std::optional<GoodsIssue> issue = GoodsRowSkipReason(t, 100, 4);
    EXPECT_EQ(!issue, c.report.empty()) << c.line;
    if (!issue) {
      EXPECT_TRUE(GoodsRowToRecord(t, info)) << c.line;
    }
  }
  EXPECT_EQ(row, static_cast<int>(cases.size()));
}

// Characters of a name the register does not print (code page 1251 has
// some of them: №, «, €) are left out of its record; each such row is
// named before the transfer instead of being changed without a word.
TEST_F(GoodsExchangeTest, NamesTheRegisterCannotPrintWhollyAreNamedBeforeTheTransfer) {
  GoodsImportReport report;
  ASSERT_TRUE(ImportGoodsCsvText("Code;Type;Name;NG;Price;Section;Vesovoy;Shtrih;isBlock\r\n"
                                 "1;170;Хлеб №1;1;10;1;1;;False\r\n"
                                 "2;165;Ёлка «ель» № 4 «x»;1;10;1;1;;False\r\n"
                                 "3;170;Чай Ёё;1;10;1;1;;False\r\n"
                                 "4;0;Удалить №;;;;;;\r\n"
                                 "5;170;Кофе €;1;10;9;1;;False\r\n",
                                 bd.mtTOBAP, report));
  EXPECT_FALSE(report.HasWarnings());
  info.maxCountGoods = 100;
  info.maxCountDepat = 4;
  EXPECT_EQ(CheckGoodsForRegister(bd.mtTOBAP, info, report), 4);
  EXPECT_EQ(report.changeCount, 2);
  EXPECT_EQ(report.rowsSkipped, 1);
  EXPECT_EQ(ReportTexts(report),
            (std::vector<std::string>{
                std::string(kGoodsHeaderSkippedText),
                "Строка 2, код 1: наименование «Хлеб №1»: ККМ не печатает знаки «№», они не будут записаны",
                "Строка 3, код 2: наименование «Ёлка «ель» № 4 «x»»: ККМ не печатает знаки ««», «»», «№», они "
                "не будут записаны",
                "Строка 6, код 5 не записывается: секция 9 вне диапазона 0..4",
            }));
  // What the record gets.
  TWorkTable& t = bd.mtTOBAP;
  t.First();
  ASSERT_TRUE(GoodsRowToRecord(t, info));
  EXPECT_EQ(TextFromField(info.GoodsRecord.data() + 5, 32), "Хлеб 1");
}

TEST_F(GoodsExchangeTest, ManyRowsBeyondTheCapacityAreCountedAndTwentyShown) {
  std::string text;
  for (int code = 1; code <= 3000; ++code) text += std::to_string(code) + ";170;x;1;1;1;1;;False\r\n";
  GoodsImportReport report;
  ASSERT_TRUE(ImportGoodsCsvText(text, bd.mtTOBAP, report));
  info.maxCountGoods = 100;
  EXPECT_EQ(CheckGoodsForRegister(bd.mtTOBAP, info, report), 100);
  const std::vector<std::string> texts = ReportTexts(report);
  ASSERT_EQ(texts.size(), 22U);
  EXPECT_EQ(texts.front(),
            "Строка 101, код 101 не записывается: код больше наибольшего номера товара ККМ (100)");
  EXPECT_EQ(texts[19].rfind("Строка 120, код 120 ", 0), 0U);
  EXPECT_EQ(texts[20], std::string(kGoodsMoreSkipsText) + "2900");
  EXPECT_EQ(texts[21], std::string(kGoodsBeyondCapacityText) + "100): 2900");
  // Without an import the rows are numbered as the table shows them.
  GoodsImportReport table;
  CheckGoodsForRegister(bd.mtTOBAP, info, table);
  EXPECT_EQ(GoodsIssueText(table.skips.front(), table.placeKind).rfind("Строка 101, ", 0), 0U);
}

// --- dBASE files of other programs ---------------------------------------------------

std::string Fixture(const std::string& name) {
  return std::string(ZARVIK_TEST_DATA) + "/store/" + name;
}

const std::vector<std::string> kGdalRows = {
    "1|170|Молоко утф8|1|25.5|1|1|4601234567890|False|12.5",
    "2|165|Доставка по городу|2|100|2|||True|0",
    "3|160|Ящик, тара|5|0.01||1|000123|False|",
    "4|170|Ёлка № 4 «ель»|0|1999.99|4|2||True|3.25",
    "5|170|Сыр плавленый сливочный 45% 100г|3|89.9|3|1|2100000000005|False|1000",
};

TEST_F(GoodsExchangeTest, GoodsFilesWrittenByOgr2ogrAreImportedWithTheirValues) {
  const test::TempDir dir;
  // As written (code page from the .cpg file, mark 0), and the 1251 file
  // without its .cpg file (mark 0 read as 1251).
  std::filesystem::copy_file(Fixture("gdal_goods_1251.dbf"), dir.File("alone.dbf"));
  for (const std::string& path :
       {Fixture("gdal_goods_1251.dbf"), Fixture("gdal_goods_utf8.dbf"), dir.File("alone.dbf")}) {
    GoodsImportReport report;
    ASSERT_TRUE(ImportGoodsDbf(path, bd.mtTOBAP, 100, report)) << path << "\n" << console.AllText();
    EXPECT_EQ(Rows(bd.mtTOBAP), kGdalRows) << path;
    EXPECT_EQ(report.rowPlaces, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_FALSE(report.HasWarnings()) << path;
  }
  // The .cpg file decides: the UTF-8 file read as 1251 would be mojibake.
  for (const auto& [cpg, ok] : std::vector<std::pair<std::string, bool>>{
           {"UTF-8", true}, {"utf8\r\n", true}, {"65001", true}, {"", false}, {"CP1251", false}}) {
    std::filesystem::copy_file(Fixture("gdal_goods_utf8.dbf"), dir.File("u.dbf"),
                               std::filesystem::copy_options::overwrite_existing);
    test::WriteAll(dir.File("u.cpg"), cpg);
    ASSERT_TRUE(ImportGoodsDbf(dir.File("u.dbf"), bd.mtTOBAP, 100)) << cpg;
    EXPECT_EQ(Rows(bd.mtTOBAP) == kGdalRows, ok) << cpg;
  }
  // Names of code page 1251 a .cpg file may use; other code pages are refused.
  for (const std::string cpg : {"1251", "ANSI 1251", "windows-1251", "cp1251", "WIN1251"}) {
    std::filesystem::copy_file(Fixture("gdal_goods_1251.dbf"), dir.File("w.dbf"),
                               std::filesystem::copy_options::overwrite_existing);
    test::WriteAll(dir.File("w.cpg"), cpg);
    ASSERT_TRUE(ImportGoodsDbf(dir.File("w.dbf"), bd.mtTOBAP, 100)) << cpg;
    EXPECT_EQ(Rows(bd.mtTOBAP), kGdalRows) << cpg;
  }
  // A .cpg file that names the wrong code page: the names are no UTF-8, they
  // are read with the replacement character, and each is named.
  std::filesystem::copy_file(Fixture("gdal_goods_1251.dbf"), dir.File("wrong.dbf"));
  test::WriteAll(dir.File("wrong.cpg"), "UTF-8");
  GoodsImportReport wrong;
  ASSERT_TRUE(ImportGoodsDbf(dir.File("wrong.dbf"), bd.mtTOBAP, 100, wrong));
  EXPECT_EQ(wrong.changeCount, 5);
  ASSERT_FALSE(wrong.changes.empty());
  EXPECT_EQ(wrong.changes.front().kind, GoodsIssueKind::NameNotCp1251);
  bd.mtTOBAP.First();
  EXPECT_TRUE(IsUtf8Text(bd.mtTOBAP.Text("Name")));
  EXPECT_EQ(bd.mtTOBAP.Text("Name").rfind("\xEF\xBF\xBD", 0), 0U);

  test::WriteAll(dir.File("w.cpg"), "CP866\r\n");
  EXPECT_FALSE(ImportGoodsDbf(dir.File("w.dbf"), bd.mtTOBAP, 100));
  EXPECT_TRUE(
      ErrorShown("Не удалось открыть DBF файл w.dbf: кодовая страница «CP866» файла w.cpg не "
                 "поддерживается (нужна 1251 или UTF-8)"))
      << console.AllText();
  EXPECT_EQ(CountRows(bd.mtTOBAP), 5);
}

// A goods table of another program: `flag` is the definition of ISBLOCK,
// `values` its text in each record.
std::string ForeignTable(const test::TempDir& dir, const std::string& name, const DbfFieldDef& flag,
                         const std::vector<std::string>& values) {
  std::vector<DbfFieldDef> fields = {
      {"Code", DbfFieldKind::Character, 10}, {"Type", DbfFieldKind::Numeric, 3},
      {"IsBlock", DbfFieldKind::Logical, 1}, {"Name", DbfFieldKind::Character, 40},
      {"NG", DbfFieldKind::Numeric, 5, 2},   {"Price", DbfFieldKind::Numeric, 12, 2},
      {"Section", DbfFieldKind::Numeric, 2}, {"Vesovoy", DbfFieldKind::Numeric, 1},
      {"Shtrih", DbfFieldKind::Numeric, 15}, {"Count", DbfFieldKind::Character, 10},
  };
  fields[2] = flag;
  const std::string path = dir.File(name);
  TDbfTable t;
  EXPECT_EQ(t.CreateAndOpen(path, fields), DbfResult::Ok) << t.LastError();
  int code = 0;
  for (const std::string& v : values) {
    t.Append();
    t.SetText("Code", " " + std::to_string(++code));
    t.SetText("Type", "170");
    t.SetText("IsBlock", v);
    t.SetText("Name", "Товар " + std::to_string(code));
    t.SetText("NG", "1.00");
    t.SetText("Price", "12.50");
    t.SetText("Shtrih", "4601234567890");
    t.SetText("Count", "1,5");
    EXPECT_EQ(t.Post(), DbfResult::Ok);
  }
  EXPECT_EQ(t.Close(), DbfResult::Ok);
  return path;
}

TEST_F(GoodsExchangeTest, BlockedFlagInTheFormsOtherProgramsWrite) {
  const test::TempDir dir;
  struct Case {
    DbfFieldDef flag;
    std::vector<std::string> values;
    std::string expected;  // isBlock of each record
  };
  const std::vector<Case> cases = {
      {{"ISBLOCK", DbfFieldKind::Logical, 1}, {"T", "F", "Y", "N", ""}, "True,False,True,False,False"},
      {{"ISBLOCK", DbfFieldKind::Numeric, 1}, {"1", "0", ""}, "True,False,False"},
      {{"ISBLOCK", DbfFieldKind::Character, 1},
       {"T", "f", "Y", "n", "Д", "н", "1", "0", ""},
       "True,False,True,False,True,False,True,False,False"},
  };
  for (const Case& c : cases) {
    const std::string path = ForeignTable(dir, "flags.dbf", c.flag, c.values);
    ASSERT_TRUE(ImportGoodsDbf(path, bd.mtTOBAP, 100)) << static_cast<char>(c.flag.kind) << console.AllText();
    std::string flags;
    TWorkTable& t = bd.mtTOBAP;
    for (t.First(); !t.Eof(); t.Next())
      flags += (flags.empty() ? "" : ",") + std::string(t.Bool("isBlock") ? "True" : "False");
    EXPECT_EQ(flags, c.expected) << static_cast<char>(c.flag.kind);
    t.First();
    EXPECT_TRUE(Rows(t).front().starts_with("1|170|Товар 1|1|12.5|||4601234567890|")) << Rows(t).front();
  }
  EXPECT_EQ(Rows(bd.mtTOBAP).front(), "1|170|Товар 1|1|12.5|||4601234567890|True|1.5");
}

// A name or barcode longer than the table keeps, whose kept part ends in
// blanks: the blanks go, so that an export and a second import give the same
// rows (a dBASE field cannot keep blanks at its end).
TEST_F(GoodsExchangeTest, DbfValuesCutToTheirWidthKeepNoBlanksAtTheEnd) {
  const test::TempDir dir;
  struct Case {
    std::string name, barcode;       // as the file holds them
    std::string keptName, keptCode;  // as the table holds them ("" = null)
  };
  const std::string elka = "Ёлка № 4 «ель»";  // 14 characters
  const Case cases[] = {
      {elka + std::string(18, ' ') + "X", "", elka, ""},
      {std::string(31, 'a') + " tail", "", std::string(31, 'a'), ""},
      {std::string(33, ' ') + "X", "", "", ""},
      {"  Сыр", "4601234567890       12", "  Сыр", "4601234567890"},
      {"Сыр", "1234567890123456789 5", "Сыр", "1234567890123456789"},
  };
  std::vector<DbfFieldDef> fields = GoodsExchangeFields();
  fields[2] = {"NAME", DbfFieldKind::Character, 40};
  fields[7] = {"SHTRIH", DbfFieldKind::Character, 25};
  TDbfTable file;
  ASSERT_EQ(file.CreateAndOpen(dir.File("long.dbf"), fields), DbfResult::Ok) << file.LastError();
  int code = 0;
  for (const Case& c : cases) {
    file.Append();
    file.SetText("CODE", std::to_string(++code));
    file.SetText("TYPE", "170");
    file.SetText("NAME", c.name);
    file.SetText("SHTRIH", c.barcode);
    ASSERT_EQ(file.Post(), DbfResult::Ok) << file.LastError();
  }
  ASSERT_EQ(file.Close(), DbfResult::Ok);

  TWorkTable& t = bd.mtTOBAP;
  ASSERT_TRUE(ImportGoodsDbf(dir.File("long.dbf"), t, 100)) << console.AllText();
  ASSERT_EQ(CountRows(t), 5);
  t.First();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + "|" + c.barcode);
    EXPECT_EQ(Cell("Name"), c.keptName);
    EXPECT_EQ(t.IsNull("Name"), c.keptName.empty());
    EXPECT_EQ(Cell("Shtrih"), c.keptCode);
    t.Next();
  }
  const std::string first = GoodsCsvText(t);
  ASSERT_TRUE(ExportGoodsDbf(t, dir.File("again.dbf")));
  ASSERT_TRUE(ImportGoodsDbf(dir.File("again.dbf"), t, 100));
  EXPECT_EQ(GoodsCsvText(t), first);
}

TEST_F(GoodsExchangeTest, DbfThatCannotBeUsedNamesTheFileTheFieldAndTheCause) {
  const test::TempDir dir;
  AddRow({"5", "170", "keep", "1", "1", "1", "1", "", "False", ""});
  std::vector<DbfFieldDef> noCount = GoodsExchangeFields();
  noCount.pop_back();
  ASSERT_EQ(TDbfTable::CreateTable(dir.File("nocount.dbf"), noCount), DbfResult::Ok);
  std::vector<DbfFieldDef> logicalPrice = GoodsExchangeFields();
  logicalPrice[4] = {"PRICE", DbfFieldKind::Logical, 1};
  ASSERT_EQ(TDbfTable::CreateTable(dir.File("price.dbf"), logicalPrice), DbfResult::Ok);
  std::vector<DbfFieldDef> numericName = GoodsExchangeFields();
  numericName[2] = {"NAME", DbfFieldKind::Numeric, 9};
  ASSERT_EQ(TDbfTable::CreateTable(dir.File("name.dbf"), numericName), DbfResult::Ok);
  ForeignTable(dir, "flag.dbf", {"ISBLOCK", DbfFieldKind::Character, 1}, {"T", "X"});
  ForeignTable(dir, "flagn.dbf", {"ISBLOCK", DbfFieldKind::Numeric, 1}, {"2"});
  // CODE as text: a value that is no whole number, one beyond the table's integers.
  for (const auto& [file, codes] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"code.dbf", {"1", "2", "12a", "4"}}, {"big.dbf", {"3000000000"}}}) {
    std::vector<DbfFieldDef> fields = GoodsExchangeFields();
    fields[0] = {"CODE", DbfFieldKind::Character, 12};
    TDbfTable t;
    ASSERT_EQ(t.CreateAndOpen(dir.File(file), fields), DbfResult::Ok);
    for (const std::string& code : codes) {
      t.Append();
      t.SetText("CODE", code);
      t.Post();
    }
  }
  // A good file, then damaged copies of it.
  ExportGoodsDbf(bd.mtTOBAP, dir.File("good.dbf"));
  const std::string good = test::ReadAll(dir.File("good.dbf"));
  test::WriteAll(dir.File("short.dbf"), good.substr(0, good.size() - 10));
  std::string badHeader = good;
  badHeader[8] = 40;  // header length below one field descriptor
  test::WriteAll(dir.File("header.dbf"), badHeader);
  std::string notDbase = good;
  notDbase[0] = 'P';
  test::WriteAll(dir.File("text.dbf"), notDbase);

  const std::vector<std::pair<std::string, std::string>> cases = {
      {"missing.dbf", "файл не открывается"},
      {"nocount.dbf", "нет поля COUNT"},
      {"price.dbf", "поле PRICE типа L, нужен N, F или C"},
      {"name.dbf", "поле NAME типа N, нужен C"},
      {"flag.dbf", "запись 2, поле ISBLOCK: «X» не логическое значение (T, F, Y, N, Д, Н)"},
      {"flagn.dbf", "запись 1, поле ISBLOCK: «2» не 0 и не 1"},
      {"code.dbf", "запись 3, поле CODE: «12a» не целое число"},
      {"big.dbf", "запись 1, поле CODE: «3000000000» вне диапазона"},
      {"short.dbf", "файл обрезан"},
      {"header.dbf", "неверный заголовок"},
      {"text.dbf", "файл не таблица dBASE"},
  };
  for (const auto& [file, cause] : cases) {
    EXPECT_FALSE(ImportGoodsDbf(dir.File(file), bd.mtTOBAP, 100)) << file;
    EXPECT_TRUE(ErrorShown(std::string(kDbfOpenFailedText) + " " + file + ": " + cause + "\n"))
        << file << "\n"
        << console.AllText();
    EXPECT_EQ(Rows(bd.mtTOBAP), (std::vector<std::string>{"5|170|keep|1|1|1|1||False|"})) << file;
  }
  // Records beyond the row limit are not read, so a bad value there does no harm.
  GoodsImportReport report;
  ASSERT_TRUE(ImportGoodsDbf(dir.File("code.dbf"), bd.mtTOBAP, 2, report));
  EXPECT_EQ(CountRows(bd.mtTOBAP), 2);
  EXPECT_EQ(report.recordsNotRead, 2);
}

// Debian's own interpreter, where python3-dbfread is installed.
std::string RunDbfread(const std::string& path, int& status) {
  constexpr const char* kScript = R"PY(
import sys
from dbfread import DBF
t = DBF(sys.argv[1], load=True)
print('FILE %d %s' % (t.header.language_driver, t.encoding))
print('F ' + ' '.join('%s:%s:%d:%d' % (f.name, f.type, f.length, f.decimal_count) for f in t.fields))
for r in t.records:
    print('R ' + '|'.join('<None>' if v is None else ('<T>' if v is True else ('<F>' if v is False else str(v)))
                          for v in r.values()))
)PY";
  const std::string script = std::filesystem::path(path).parent_path() / "read.py";
  test::WriteAll(script, kScript);
  std::string out;
  FILE* p =
      ::popen(("PYTHONIOENCODING=utf-8 /usr/bin/python3 '" + script + "' '" + path + "' 2>&1").c_str(), "r");
  if (p == nullptr) return out;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  const int raw = ::pclose(p);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

TEST_F(GoodsExchangeTest, DbfExportIsReadByDbfreadWithIdenticalValues) {
  SetDecimalSeparator(',');
  AddRow({"1", "170", "Сыр «Российский» № 1; Ёж", "2", "589,5", "3", "2", "0002100008000", "True", "12,345"});
  AddRow({"2", "165", "Доставка", "0", "0", "0", "1", "", "False", "0"});
  AddRow({"3", "0", "", "", "", "", "", "", "", ""});
  const test::TempDir dir;
  ASSERT_TRUE(ExportGoodsDbf(bd.mtTOBAP, dir.File("goods.dbf")));
  int status = -1;
  const std::string out = RunDbfread(dir.File("goods.dbf"), status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_EQ(out,
            "FILE 201 cp1251\n"
            "F CODE:N:9:0 TYPE:N:9:0 NAME:C:32:0 NG:N:9:0 PRICE:C:20:0 SECTION:N:9:0 VESOVOY:N:9:0 "
            "SHTRIH:C:20:0 ISBLOCK:L:1:0 COUNT:C:20:0\n"
            "R 1|170|Сыр «Российский» № 1; Ёж|2|589,5|3|2|0002100008000|<T>|12,345\n"
            "R 2|165|Доставка|0|0|0|1||<F>|0\n"
            "R 3|0||<None>||<None>|<None>||<None>|\n");
}

TEST_F(GoodsExchangeTest, ConversionBothWaysKeepsTheRowsWithTheImportRules) {
  const test::TempDir dir;
  test::WriteAll(dir.File("in.csv"),
                 "\xEF\xBB\xBF"
                 "Code;Type;Name;NG;Price;Section;Vesovoy;Shtrih;isBlock;Count\n"
                 "1;170;Молоко утф8;1;25,50;1;1;4601234567890;True;7\n"
                 "2;165;Доставка;2;100;2;1;;False;0\n");
  GoodsImportReport report;
  ASSERT_TRUE(ConvertGoodsFile(dir.File("in.csv"), dir.File("out.DBF"), bd.mtTOBAP, report));
  EXPECT_TRUE(report.headerSkipped);
  EXPECT_EQ(report.encoding, GoodsTextEncoding::Utf8);
  ASSERT_TRUE(ConvertGoodsFile(dir.File("out.DBF"), dir.File("back.csv"), bd.mtTOBAP, report));
  EXPECT_EQ(report.placeKind, GoodsPlaceKind::Record);
  EXPECT_EQ(test::ReadAll(dir.File("back.csv")),
            Utf8ToCp1251("1;170;Молоко утф8;1;25.5;1;1;4601234567890;True;0\r\n"
                         "2;165;Доставка;2;100;2;1;;False;0\r\n"));
  // No row limit without a register: a conversion is no import into the grid.
  std::string many;
  for (int code = 1; code <= kGoodsImportLimitWithoutRegister + 5; ++code)
    many += std::to_string(code) + ";170;x;1;1;1;1;;False;0\r\n";
  test::WriteAll(dir.File("many.csv"), many);
  ASSERT_TRUE(ConvertGoodsFile(dir.File("many.csv"), dir.File("many.dbf"), bd.mtTOBAP, report));
  ASSERT_TRUE(ConvertGoodsFile(dir.File("many.dbf"), dir.File("many2.csv"), bd.mtTOBAP, report));
  EXPECT_EQ(report.rowsRead, kGoodsImportLimitWithoutRegister + 5);
  EXPECT_TRUE(test::ReadAll(dir.File("many2.csv")) == many);
  EXPECT_FALSE(ConvertGoodsFile(dir.File("in.csv"), dir.File("out.xls"), bd.mtTOBAP, report));
  EXPECT_TRUE(ErrorShown(std::string(kGoodsWriteKindText)));
  EXPECT_FALSE(ConvertGoodsFile(dir.File("in.xls"), dir.File("out.csv"), bd.mtTOBAP, report));
  EXPECT_TRUE(ErrorShown(std::string(kGoodsFileKindText)));
  EXPECT_FALSE(ConvertGoodsFile(dir.File("none.csv"), dir.File("out.dbf"), bd.mtTOBAP, report));
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.dbf")));
}

}  // namespace
}  // namespace zarvik
