// Goods from spreadsheets: the sheet reader (.xlsx, .ods), the header row and
// the columns found by name, cells taken as the spreadsheet holds them, and
// the goods workbook written and read back. The price lists are written by
// other programs' libraries (openpyxl, odfpy: tests/goods_sheets.py).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "shell/IniFile.h"
#include "shell/TextCodec.h"
#include "store/GoodsSheet.h"
#include "store/SheetReader.h"
#include "store/UnitBD.h"

namespace zarvik {
namespace {

const std::string kScript = std::string(ZARVIK_SOURCE_DIR) + "/tests/goods_sheets.py";

// Debian's own interpreter, where python3-openpyxl and python3-odf are installed.
std::string RunPython(const std::string& args, int& status) {
  std::string out;
  FILE* p = ::popen(("PYTHONIOENCODING=utf-8 /usr/bin/python3 '" + kScript + "' " + args + " 2>&1").c_str(), "r");
  if (p == nullptr) return out;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  const int raw = ::pclose(p);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

// --- pieces ---------------------------------------------------------------------

TEST(SheetReader, DecimalTextIsExact) {
  struct Case {
    const char* text;
    bool ok;
    const char* exact;
  };
  const Case cases[] = {
      {"12", true, "12"},
      {"12.0", true, "12"},
      {"-0.50", true, "-0.5"},
      {"4607001234567", true, "4607001234567"},
      {"4.607001234567E+12", true, "4607001234567"},
      {"4.607001234567e12", true, "4607001234567"},
      {"1.5E-3", true, "0.0015"},
      {"12345678901234567890123", true, "12345678901234567890123"},
      {"-0", true, "0"},
      {".5", true, "0.5"},
      {"", false, ""},
      {"abc", false, ""},
      {"1,5", false, ""},
      {"1e", false, ""},
      {"1E+99999", false, ""},
      {"1.2.3", false, ""},
  };
  for (const Case& c : cases) {
    TDecimalParts parts;
    EXPECT_EQ(ParseDecimalText(c.text, parts), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(DecimalPartsText(parts), c.exact) << c.text;
    }
  }
}

TEST(SheetReader, ColumnLettersAndCellNames) {
  const std::pair<int, const char*> columns[] = {{0, "A"}, {25, "Z"}, {26, "AA"}, {701, "ZZ"}, {702, "AAA"},
                                                 {16383, "XFD"}};
  for (const auto& [index, letters] : columns) {
    EXPECT_EQ(SheetColumnName(index), letters);
    int back = -1;
    EXPECT_TRUE(SheetColumnIndex(letters, back));
    EXPECT_EQ(back, index);
  }
  int column = 0;
  EXPECT_TRUE(SheetColumnIndex("d", column));
  EXPECT_EQ(column, 3);
  for (const char* bad : {"", "XFE", "AAAA", "A1", "Ц"}) EXPECT_FALSE(SheetColumnIndex(bad, column)) << bad;
  EXPECT_EQ(SheetCellName("Лист1", 7, 3), "Лист1!D7");
  EXPECT_EQ(SheetCellName("Прайс лист", 12, 0), "'Прайс лист'!A12");
  EXPECT_EQ(SheetCellName("O'Neil", 1, 1), "'O''Neil'!B1");
}

TEST(GoodsSheetNames, HeadersMatchTheirFieldsWhateverTheWriting) {
  const std::pair<const char*, int> cases[] = {
      {"Код", gfCode},          {"КОД ТОВАРА", gfCode},        {"код. товара", gfCode},
      {"plu", gfCode},          {"ПЛУ", gfCode},               {"Наименование", gfName},
      {"Товар", gfName},        {"Name", gfName},              {"ЦЕНА ПРОДАЖИ", gfPrice},
      {"Розничная  цена", gfPrice}, {"Штрих-код", gfShtrih},   {"Штрих код", gfShtrih},
      {"штрихкод", gfShtrih},   {"E.A.N.", gfShtrih},          {"Barcode", gfShtrih},
      {"Отдел", gfSection},     {"Секция", gfSection},         {"Налоговая группа", gfNG},
      {"НГ", gfNG},             {"Тип", gfType},               {"Весовой", gfVesovoy},
      {"Блокировка", gfIsBlock}, {"isblock", gfIsBlock},       {"Продано", gfCount},
      {"Остаток", -1},          {"Цена, руб.", -1},            {"", -1},
  };
  for (const auto& [name, field] : cases) EXPECT_EQ(GoodsFieldOfHeader(name), field) << name;
  // "ё" and "е" are one letter for the match.
  EXPECT_EQ(GoodsHeaderKey("Ёлка-Палка. Ё"), GoodsHeaderKey("елкапалкае"));

  GoodsColumnChoice choice;
  std::string error;
  ASSERT_TRUE(ParseGoodsColumnChoice("Price=Цена, руб.", choice, error));
  EXPECT_EQ(choice.field, gfPrice);
  EXPECT_EQ(choice.header, "Цена, руб.");
  ASSERT_TRUE(ParseGoodsColumnChoice("shtrih=D", choice, error));
  EXPECT_EQ(choice.field, gfShtrih);
  EXPECT_FALSE(ParseGoodsColumnChoice("Артикул", choice, error));
  EXPECT_FALSE(ParseGoodsColumnChoice("Остаток=C", choice, error));
  EXPECT_NE(error.find("not a goods field"), std::string::npos);
  EXPECT_FALSE(ParseGoodsColumnChoice("Code=", choice, error));
}

// A sheet made in memory: rows of texts, "#n" for a number cell.
TSheet MakeSheet(const std::vector<std::vector<std::string>>& rows) {
  TSheet sheet;
  sheet.name = "Лист1";
  int number = 0;
  for (const auto& values : rows) {
    TSheetRow row;
    row.number = ++number;
    for (std::size_t c = 0; c < values.size(); ++c) {
      if (values[c].empty()) continue;
      TSheetCell cell;
      cell.column = static_cast<int>(c);
      if (values[c].starts_with("#n")) {
        cell.kind = TSheetCell::Kind::Number;
        cell.text = values[c].substr(2);
      } else {
        cell.kind = TSheetCell::Kind::Text;
        cell.text = values[c];
      }
      row.cells.push_back(cell);
      sheet.columns = std::max(sheet.columns, cell.column + 1);
    }
    if (!row.cells.empty()) sheet.rows.push_back(row);
  }
  return sheet;
}

TEST(GoodsSheetLayout, TwoColumnsOfOneFieldAreAmbiguousUntilChosen) {
  const TSheet sheet = MakeSheet({{"Код", "Наименование", "Цена", "Розничная цена"}, {"#n1", "Чай", "#n10", "#n12"}});
  GoodsSheetLayout layout = FindGoodsSheetLayout(sheet, {});
  EXPECT_TRUE(layout.ambiguous);
  EXPECT_FALSE(layout.Usable());
  ASSERT_EQ(layout.problems.size(), 1u);
  EXPECT_EQ(layout.problems[0], "для поля Price подходят столбцы C «Цена», D «Розничная цена»");
  layout = FindGoodsSheetLayout(sheet, {{gfPrice, "розничная цена"}});
  EXPECT_TRUE(layout.Usable());
  EXPECT_EQ(layout.column[gfPrice], 3);
  // The other price column is now just a column no field takes.
  EXPECT_EQ(layout.ignored, std::vector<int>{2});
  layout = FindGoodsSheetLayout(sheet, {{gfPrice, "C"}});
  EXPECT_TRUE(layout.Usable());
  EXPECT_EQ(layout.column[gfPrice], 2);
}

TEST(GoodsSheetLayout, HeaderIsLookedForInTheFirstTenRowsOnly) {
  std::vector<std::vector<std::string>> rows(10, std::vector<std::string>{"заголовок"});
  rows.push_back({"Код", "Цена"});
  GoodsSheetLayout layout = FindGoodsSheetLayout(MakeSheet(rows), {});
  EXPECT_FALSE(layout.Usable());
  ASSERT_FALSE(layout.problems.empty());
  EXPECT_NE(layout.problems[0].find("в первых 10 строках"), std::string::npos);
  rows.erase(rows.begin());
  layout = FindGoodsSheetLayout(MakeSheet(rows), {});
  EXPECT_TRUE(layout.Usable());
  EXPECT_EQ(layout.headerRow, 10);
  // The code alone does not make a header; the code with the name does.
  layout = FindGoodsSheetLayout(MakeSheet({{"Код", "Остаток"}, {"Код", "Товар"}}), {});
  EXPECT_EQ(layout.headerRow, 2);
  EXPECT_TRUE(layout.Usable());
}

TEST(GoodsSheetLayout, ChosenColumnsAreRememberedForTheSameHeader) {
  const TSheet first = MakeSheet({{"Прайс"}, {"Артикул", "Товар", "Цена, руб.", "Остаток"}, {"#n1", "Чай", "#n10"}});
  GoodsSheetLayout layout = FindGoodsSheetLayout(first, {});
  ASSERT_FALSE(layout.Usable());
  // As the dialog leaves it: the header in row 2, the code in A, the price
  // in C, no barcode even if a column were named so.
  layout = GoodsSheetLayoutAt(first, 1, {{gfCode, "A"}, {gfPrice, "C"}, {gfShtrih, ""}});
  ASSERT_TRUE(layout.Usable());
  TIniFile file = TIniFile::FromText("");
  RememberGoodsColumns(file, first, layout);
  // The next price list: the same header, two title lines above it.
  const TSheet next =
      MakeSheet({{"Прайс"}, {"от 02.12"}, {"Артикул", "Товар", "Цена, руб.", "Остаток"}, {"#n2", "Кофе", "#n20"}});
  GoodsSheetLayout again;
  ASSERT_TRUE(RememberedGoodsLayout(next, file, again));
  EXPECT_EQ(again.headerRow, 3);
  EXPECT_EQ(again.column, layout.column);
  EXPECT_TRUE(again.Usable());
  // Another header is not the same file kind.
  EXPECT_FALSE(RememberedGoodsLayout(MakeSheet({{"Артикул", "Товар", "Цена"}}), file, again));
}

TEST(GoodsSheetRows, CellsAreTakenAsTheSpreadsheetHoldsThem) {
  // Code, name, price, barcode, section.
  const TSheet sheet = MakeSheet({
      {"Код", "Наименование", "Цена", "Штрихкод", "Отдел"},
      {"#n12.0", "Чай", "#n89.90000000000001", "#n4.607001234567E+12", "#n1"},  // 2
      {" 13 ", "#n123", "12,5", "0012", ""},                                      // 3
      {"#n14", "Сок", "#n1.005", "", ""},                                         // 4
      {"#n15.5", "Вода", "", "", ""},                                             // 5
      {"#n16", "Морс", "", "#n4607.5", ""},                                       // 6
      {"абв", "Квас", "", "", ""},                                                // 7
      {"#n17", "Лимонад", "", "", "#n99999999999"},                               // 8
      {"", "Итого", "#n100", "", ""},                                             // 9
      {"#n18", "Компот", "дорого", "", ""},                                       // 10
  });
  const GoodsSheetLayout layout = FindGoodsSheetLayout(sheet, {});
  ASSERT_TRUE(layout.Usable());
  struct Expect {
    GoodsSheetRow::State state;
    std::string code, name, price, barcode;
    GoodsIssueKind issue;
    std::string cell, value;
  };
  using S = GoodsSheetRow::State;
  using K = GoodsIssueKind;
  const Expect expected[] = {
      {S::Taken, "12", "Чай", "89.9", "4607001234567", K::NoCode, "", ""},
      {S::Taken, "13", "123", "12.5", "0012", K::NoCode, "", ""},
      {S::Taken, "14", "Сок", "1.01", "", K::PriceRounded, "Лист1!C4", "1.005"},
      {S::Refused, "", "", "", "", K::CellNotWhole, "Лист1!A5", "15.5"},
      {S::Refused, "", "", "", "", K::CellNotWhole, "Лист1!D6", "4607.5"},
      {S::Refused, "", "", "", "", K::CellNotNumber, "Лист1!A7", "абв"},
      {S::Refused, "", "", "", "", K::CellOutOfRange, "Лист1!E8", "99999999999"},
      {S::Refused, "", "", "", "", K::NoCode, "", "Итого"},
      {S::Taken, "18", "Компот", "", "", K::PriceNotNumber, "Лист1!C10", "дорого"},
  };
  ASSERT_EQ(sheet.rows.size(), std::size(expected) + 1);
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const Expect& e = expected[i];
    const GoodsSheetRow row = TakeGoodsSheetRow(sheet, layout, sheet.rows[i + 1]);
    SCOPED_TRACE("row " + std::to_string(i + 2));
    EXPECT_EQ(row.state, e.state);
    if (e.state == S::Taken) {
      EXPECT_EQ(std::to_string(std::get<std::int64_t>(row.values[gfCode])), e.code);
      EXPECT_EQ(std::get<std::string>(row.values[gfName]), e.name);
      if (e.price.empty()) {
        EXPECT_TRUE(std::holds_alternative<std::monostate>(row.values[gfPrice]));
      } else {
        EXPECT_EQ(CurrencyToText(Currency::FromRaw(std::get<std::int64_t>(row.values[gfPrice]))), e.price);
      }
      if (e.barcode.empty()) {
        EXPECT_TRUE(std::holds_alternative<std::monostate>(row.values[gfShtrih]));
      } else {
        EXPECT_EQ(std::get<std::string>(row.values[gfShtrih]), e.barcode);
      }
    }
    if (e.cell.empty() && e.value.empty()) {
      EXPECT_TRUE(row.issues.empty());
      continue;
    }
    ASSERT_EQ(row.issues.size(), 1u);
    EXPECT_EQ(row.issues[0].kind, e.issue);
    EXPECT_EQ(row.issues[0].cell, e.cell);
    EXPECT_EQ(row.issues[0].value, e.value);
    EXPECT_EQ(row.issues[0].place, static_cast<int>(i) + 2);
  }
}

// --- files written by other programs ---------------------------------------------

class GoodsSheetFiles : public ::testing::TestWithParam<const char*> {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir();
    int status = -1;
    made_ = RunPython("make '" + dir_->File("") + "'", status);
    if (status != 0) {
      made_ = "goods_sheets.py failed: " + made_;
    } else {
      made_.clear();
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(made_.empty()) << made_;
    SetDecimalSeparator('.');
    SetConsole(&console);
  }
  std::string Fixture() const { return dir_->File(std::string("goods.") + GetParam()); }
  bool Xlsx() const { return std::string(GetParam()) == "xlsx"; }

  static test::TempDir* dir_;
  static std::string made_;
  test::MessageStateGuard guard;
  test::RecordingConsole console;
  TBD bd;
};
test::TempDir* GoodsSheetFiles::dir_ = nullptr;
std::string GoodsSheetFiles::made_;

TEST_P(GoodsSheetFiles, SheetNamesInFileOrder) {
  std::vector<std::string> names;
  std::string error;
  ASSERT_TRUE(ReadSheetNames(Fixture(), names, error)) << error;
  EXPECT_EQ(names, (std::vector<std::string>{"Лист1", "Склад"}));
}

TEST_P(GoodsSheetFiles, PriceListImportsToExactlyTheExpectedGoods) {
  TWorkTable& t = bd.mtTOBAP;
  GoodsImportReport report;
  ASSERT_TRUE(ImportGoodsSheetFile(Fixture(), {}, t, report)) << console.AllText();
  // A new row's defaults, for the fields the sheet has no column of and for
  // empty cells: goods sold by the piece unless marked weighed; a field
  // without a default (the section) stays empty.
  TBD fresh;
  fresh.mtTOBAP.Append();
  fresh.mtTOBAP.SetInteger("Code", 1);
  fresh.mtTOBAP.Post();
  const auto defaultText = [&](std::string_view field) { return fresh.mtTOBAP.Text(field); };

  struct Row {
    const char *code, *name, *price, *section, *vesovoy, *barcode;
  };
  const Row rows[] = {
      {"12", "Молоко 3,2%", "89.9", "1", "1", "4607001234562"},
      {"13", "Сыр Российский", "589.5", "2", "2", "2100008000008"},
      {"14", "Хлеб", "179.8", "1", "1", "4601234567893"},
      {"15", "Кефир", "45.68", "", "1", ""},
  };
  ASSERT_EQ(CountRows(t), static_cast<int>(std::size(rows)));
  t.First();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.code);
    EXPECT_EQ(t.Text("Code"), r.code);
    EXPECT_EQ(t.Text("Name"), r.name);
    EXPECT_EQ(CurrencyToText(t.Cur("Price")), r.price);
    EXPECT_EQ(t.Text("Section"), r.section);
    EXPECT_EQ(t.Text("Vesovoy"), r.vesovoy);
    EXPECT_EQ(t.Text("Shtrih"), r.barcode);
    for (const char* field : {"Type", "NG", "isBlock", "Count"}) EXPECT_EQ(t.Text(field), defaultText(field)) << field;
    t.Next();
  }
  EXPECT_EQ(report.rowsRead, 4);
  EXPECT_EQ(report.sheet, "Лист1");
  EXPECT_EQ(report.headerRow, 3);
  EXPECT_EQ(report.ignoredColumns, std::vector<std::string>{"C «Остаток»"});
  EXPECT_EQ(report.rowPlaces, (std::vector<int>{4, 5, 6, 7}));
  std::vector<std::string> texts;
  for (const GoodsReportLine& line : GoodsReportLines(report)) texts.push_back(line.text);
  std::vector<std::string> expected = {
      "Лист «Лист1», заголовок в строке 3",
      "Не считаны столбцы: C «Остаток»",
      "Лист1!D7, код 15: цена «45.678» округлена до копеек: 45.68",
      "Лист1!E8 не записывается: «15.5» не целое число",
      "Строка 10 не записывается: нет кода («Итого»)",
      "Строка 11, код 12 не записывается: код уже есть в файле выше, оставлена первая строка с этим кодом",
  };
  if (Xlsx()) expected.push_back("Лист1!D12, код 16 не записывается: в ячейке ошибка «#DIV/0!»");
  EXPECT_EQ(texts, expected);
}

TEST_P(GoodsSheetFiles, OtherHeadersNeedColumnsChosen) {
  TWorkTable& t = bd.mtTOBAP;
  GoodsImportReport report;
  GoodsSheetOptions options;
  options.sheet = "склад";  // any case
  EXPECT_FALSE(ImportGoodsSheetFile(Fixture(), options, t, report));
  EXPECT_NE(console.AllText().find("Не найдены столбцы товаров в файле goods." + std::string(GetParam()) +
                                   ", лист «Склад»: в первых 10 строках нет строки заголовка"),
            std::string::npos)
      << console.AllText();
  options.columns = {{gfCode, "Артикул"}, {gfPrice, "Цена, руб."}};
  ASSERT_TRUE(ImportGoodsSheetFile(Fixture(), options, t, report)) << console.AllText();
  ASSERT_EQ(CountRows(t), 2);
  t.First();
  EXPECT_EQ(t.Text("Code") + " " + t.Text("Name") + " " + CurrencyToText(t.Cur("Price")), "501 Гвозди 12.5");
  t.Next();
  EXPECT_EQ(t.Text("Code") + " " + t.Text("Name") + " " + CurrencyToText(t.Cur("Price")), "502 Шурупы 7");
  options.columns = {{gfCode, "A"}, {gfPrice, "Цена руб"}};
  EXPECT_FALSE(ImportGoodsSheetFile(Fixture(), options, t, report));
  EXPECT_NE(console.AllText().find("нет столбца «Цена руб» для поля Price"), std::string::npos);
  options.sheet = "Нет такого";
  EXPECT_FALSE(ImportGoodsSheetFile(Fixture(), options, t, report));
  EXPECT_NE(console.AllText().find("нет листа «Нет такого» (листы: Лист1, Склад)"), std::string::npos);
  // A failed import leaves the table as it was.
  EXPECT_EQ(CountRows(t), 2);
}

INSTANTIATE_TEST_SUITE_P(Formats, GoodsSheetFiles, ::testing::Values("xlsx", "ods"));

class GoodsWorkbook : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDecimalSeparator('.');
    SetConsole(&console);
  }
  void TearDown() override { SetDecimalSeparator('.'); }
  test::MessageStateGuard guard;
  test::RecordingConsole console;
  TBD bd;
  test::TempDir dir;
};

TEST_F(GoodsWorkbook, FilesThatAreNoWorkbooksAreNamed) {
  test::WriteAll(dir.File("text.xlsx"), "Code;Name\r\n");
  test::WriteAll(dir.File("text.ods"), "");
  for (const char* file : {"text.xlsx", "text.ods", "none.xlsx"}) {
    GoodsImportReport report;
    EXPECT_FALSE(ImportGoodsSheetFile(dir.File(file), {}, bd.mtTOBAP, report)) << file;
    EXPECT_NE(console.AllText().find(std::string(kSheetReadFailedText) + " " + file + ": "), std::string::npos)
        << console.AllText();
  }
}

TEST_F(GoodsWorkbook, CsvToXlsxAndBackGivesTheSameGoods) {
  SetDecimalSeparator(',');
  const std::string csv =
      "12;170;Сыр «Российский» №1;2;589,5;3;2;4607001234567;True;0\r\n"
      "13;165;Доставка;1;100;1;1;;False;0\r\n"
      "14;170;Весы 0,005;1;0,01;0;2;00012345678901234567;False;0\r\n"
      "15;170;;;;;;;;\r\n";
  test::WriteAll(dir.File("in.csv"), Utf8ToCp1251(csv));
  TWorkTable& t = bd.mtTOBAP;
  GoodsImportReport report;
  ASSERT_TRUE(ConvertGoodsFile(dir.File("in.csv"), dir.File("goods.xlsx"), t, report)) << console.AllText();
  std::vector<std::vector<std::string>> before;
  for (t.First(); !t.Eof(); t.Next()) before.push_back(GoodsCsvValues(t));
  ASSERT_EQ(before.size(), 4u);
  ASSERT_TRUE(ImportGoodsSheetFile(dir.File("goods.xlsx"), {}, t, report)) << console.AllText();
  EXPECT_TRUE(report.ignoredColumns.empty());
  EXPECT_EQ(report.changeCount + report.rowsSkipped, 0);
  std::vector<std::vector<std::string>> after;
  for (t.First(); !t.Eof(); t.Next()) after.push_back(GoodsCsvValues(t));
  EXPECT_EQ(after, before);

  // As a spreadsheet reads it: the header, frozen, filtered; barcodes as
  // text; the widths.
  int status = -1;
  const std::string out = RunPython("readback '" + dir.File("goods.xlsx") + "'", status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_EQ(out,
            "SHEET Товары\n"
            "FREEZE A2\n"
            "FILTER A1:J5\n"
            // As wide as the longest value or header, two characters more.
            "WIDTHS A:6 B:6 C:21 D:18 E:8 F:7 G:9 H:22 I:12 J:9\n"
            "ROW s:Код|s:Тип|s:Наименование|s:Налоговая группа|s:Цена|s:Отдел|s:Весовой|s:Штрихкод|s:Блокировка|"
            "s:Продано\n"
            "ROW n:12|n:170|s:Сыр «Российский» №1|n:2|n:589.5|n:3|n:2|s:4607001234567|b:True|n:0\n"
            "ROW n:13|n:165|s:Доставка|n:1|n:100|n:1|n:1|n:|b:False|n:0\n"
            "ROW n:14|n:170|s:Весы 0,005|n:1|n:0.01|n:0|n:2|s:00012345678901234567|b:False|n:0\n"
            "ROW n:15|n:170|n:|n:|n:|n:|n:1|n:|b:False|n:0\n");
}

}  // namespace
}  // namespace zarvik
