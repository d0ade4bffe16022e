// Goods record and table row, and the goods exchange files (CSV and dBASE).
#include <gtest/gtest.h>

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
  for (const Case& c : cases) AddRow(c.row);
  TWorkTable& t = bd.mtTOBAP;
  std::size_t i = 0;
  for (t.First(); !t.Eof(); t.Next(), ++i)
    EXPECT_EQ(IsGoodsRowWritable(t, 4), cases[i].writable) << "case " << i;
  EXPECT_EQ(i, cases.size());
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
  for (const auto& c : cases) text += "1;170;x;1;1;1;1;;" + c.first + "\r\n";
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
  t.First();
  t.Next();
  EXPECT_TRUE(t.IsNull("Code"));
  EXPECT_EQ(Cell("Type"), "170");
  EXPECT_EQ(Cell("Vesovoy"), "1");
  EXPECT_FALSE(t.Bool("isBlock"));
  EXPECT_EQ(Cell("Count"), "0");
  t.Next();
  EXPECT_EQ(Cell("Code"), "3");
  EXPECT_EQ(Cell("Type"), "165");
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

}  // namespace
}  // namespace zarvik
