// The working table: typed fields and conversions, cursor and states, the
// profile filter, row events, grid notifications, CountRows and ClearRows.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "store/WorkTable.h"

namespace zarvik {
namespace {

// A table with one field of every kind.
struct Fixture : ::testing::Test {
  TWorkTable t{"mtTest"};
  void SetUp() override {
    SetDecimalSeparator('.');
    t.AddField("Num", TFieldType::Integer);
    t.AddField("Name", TFieldType::String, 5);
    t.AddField("Price", TFieldType::Currency);
    t.AddField("Percent", TFieldType::Float);
    t.AddField("isBlock", TFieldType::Boolean);
    t.AddField("LN", TFieldType::String, 20);
    t.Open();
  }
  void AddRow(int num, const char* ln) {
    ASSERT_EQ(t.Append(), WtResult::Ok);
    ASSERT_EQ(t.SetInteger("Num", num), WtResult::Ok);
    ASSERT_EQ(t.SetText("LN", ln), WtResult::Ok);
    ASSERT_EQ(t.Post(), WtResult::Ok);
  }
  std::vector<std::string> Nums() {
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) out.push_back(t.Text("num"));
    return out;
  }
};

TEST(Currency, TextConversions) {
  struct Case {
    const char* text;
    bool ok;
    std::int64_t raw;
    const char* back;
  };
  const Case cases[] = {
      {"25.5", true, 255000, "25.5"},
      {"25,50", true, 255000, "25.5"},
      {" -0.0001 ", true, -1, "-0.0001"},
      {"0", true, 0, "0"},
      {"-0", true, 0, "0"},
      {"1.23456", true, 12346, "1.2346"},  // rounded half away from zero
      {"-1.23455", true, -12346, "-1.2346"},
      {".5", true, 5000, "0.5"},
      {"922337203685477.5807", true, INT64_MAX, "922337203685477.5807"},
      {"922337203685477.5808", false, 0, nullptr},
      {"", false, 0, nullptr},
      {"-", false, 0, nullptr},
      {"1.2.3", false, 0, nullptr},
      {"1 000", false, 0, nullptr},
      {"12a", false, 0, nullptr},
  };
  for (const Case& c : cases) {
    Currency v;
    EXPECT_EQ(CurrencyFromText(c.text, v), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(v.raw, c.raw) << c.text;
    EXPECT_EQ(CurrencyToText(v), c.back) << c.text;
  }
  EXPECT_EQ(CurrencyToText(Currency::FromRaw(INT64_MIN)), "-922337203685477.5808");
  EXPECT_EQ(CurrencyToText(Currency::FromRaw(12345), ','), "1,2345");
  Currency c;
  ASSERT_TRUE(CurrencyFromDouble(0.1 + 0.2, c));
  EXPECT_EQ(c.raw, 3000);
  EXPECT_FALSE(CurrencyFromDouble(1e300, c));
}

TEST_F(Fixture, ValuesConvertByTheTableRules) {
  ASSERT_EQ(t.Append(), WtResult::Ok);
  // Empty numeric fields read as empty text and as 0.
  EXPECT_EQ(t.Text("Num"), "");
  EXPECT_EQ(t.Int("Num"), 0);
  EXPECT_TRUE(t.IsNull("Price"));
  EXPECT_EQ(t.Cur("Price").raw, 0);
  // An empty String field read as a number is a conversion error.
  std::int64_t n = 7;
  EXPECT_EQ(t.GetInteger("Name", n), WtResult::ConversionError);
  EXPECT_EQ(n, 0);
  EXPECT_NE(t.LastError().find("Name"), std::string::npos);

  struct Case {
    const char* field;
    const char* text;
    WtResult result;
    const char* readBack;
  };
  const Case cases[] = {
      {"Num", "42", WtResult::Ok, "42"},
      {"Num", " -7 ", WtResult::Ok, "-7"},
      {"Num", "2147483647", WtResult::Ok, "2147483647"},
      {"Num", "2147483648", WtResult::ConversionError, nullptr},
      {"Num", "4x", WtResult::ConversionError, nullptr},
      {"Num", "1.5", WtResult::ConversionError, nullptr},
      {"Num", "", WtResult::Ok, ""},
      {"Price", "25,50", WtResult::Ok, "25.5"},
      {"Price", "1234567890.1234", WtResult::Ok, "1234567890.1234"},
      {"Price", "abc", WtResult::ConversionError, nullptr},
      {"Percent", "18", WtResult::Ok, "18"},
      {"Percent", "0,5", WtResult::Ok, "0.5"},
      {"isBlock", "true", WtResult::Ok, "True"},
      {"isBlock", "F", WtResult::Ok, "False"},
      {"isBlock", "yes", WtResult::ConversionError, nullptr},
      {"Name", "Привет, мир", WtResult::Ok, "Приве"},  // cut to 5 characters
      {"Name", "", WtResult::Ok, ""},
  };
  for (const Case& c : cases) {
    const std::string before = t.Text(c.field);
    EXPECT_EQ(t.SetText(c.field, c.text), c.result) << c.field << " '" << c.text << "'";
    if (c.readBack != nullptr) {
      EXPECT_EQ(t.Text(c.field), c.readBack) << c.field << " '" << c.text << "'";
    } else {
      EXPECT_EQ(t.Text(c.field), before) << "a failed conversion keeps the value";
      EXPECT_NE(t.LastError().find(c.text), std::string::npos) << t.LastError();
    }
  }
  EXPECT_TRUE(t.IsNull("Name"));  // the empty text is null

  // Numbers into String fields become their decimal text; String fields read as numbers parse it.
  ASSERT_EQ(t.SetInteger("Name", 123), WtResult::Ok);
  EXPECT_EQ(t.Text("Name"), "123");
  EXPECT_EQ(t.Int("Name"), 123);
  EXPECT_DOUBLE_EQ(t.Flt("Name"), 123.0);
  ASSERT_EQ(t.SetCurrency("Name", Currency::FromRaw(15000)), WtResult::Ok);
  EXPECT_EQ(t.Text("Name"), "1.5");
  EXPECT_EQ(t.Cur("Name").raw, 15000);
  EXPECT_EQ(t.GetInteger("Name", n), WtResult::ConversionError);
  // Between numeric kinds.
  ASSERT_EQ(t.SetFloat("Price", 2.345678), WtResult::Ok);
  EXPECT_EQ(t.Text("Price"), "2.3457");
  EXPECT_EQ(t.Int("Price"), 2);
  ASSERT_EQ(t.SetCurrency("Num", Currency::FromRaw(25000)), WtResult::Ok);  // 2.5 rounds away from zero
  EXPECT_EQ(t.Int("Num"), 3);
  ASSERT_EQ(t.SetInteger("Price", 7), WtResult::Ok);
  EXPECT_EQ(t.Cur("Price").raw, 70000);
  EXPECT_EQ(t.SetInteger("Num", 1LL << 40), WtResult::ConversionError);
  EXPECT_EQ(t.SetFloat("isBlock", 1.0), WtResult::ConversionError);
  ASSERT_EQ(t.SetBoolean("isBlock", true), WtResult::Ok);
  EXPECT_TRUE(t.Bool("isBlock"));
  EXPECT_EQ(t.SetText("NoSuchField", "1"), WtResult::UnknownField);
  // The locale's separator when numbers become text.
  SetDecimalSeparator(',');
  EXPECT_EQ(t.Text("Price"), "7");
  ASSERT_EQ(t.SetText("Price", "7.25"), WtResult::Ok);
  EXPECT_EQ(t.Text("Price"), "7,25");
  SetDecimalSeparator('.');
}

TEST_F(Fixture, CursorStatesAndRowOrder) {
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(t.RecNo(), 0);
  EXPECT_EQ(t.SetText("Num", "1"), WtResult::NotEditing);
  for (int i = 1; i <= 5; ++i) AddRow(i * 10, "0");
  EXPECT_EQ(t.RecordCount(), 5);
  EXPECT_EQ(t.RecNo(), 5);  // the posted row stays current
  EXPECT_EQ(Nums(), (std::vector<std::string>{"10", "20", "30", "40", "50"}));
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(t.Text("Num"), "50");  // at the end the last row is still current
  t.First();
  EXPECT_TRUE(t.Bof());
  t.Next();
  t.Next();
  EXPECT_EQ(t.RecNo(), 3);
  t.Prior();
  EXPECT_EQ(t.Text("Num"), "20");
  t.Last();
  EXPECT_EQ(t.RecNo(), 5);
  EXPECT_TRUE(t.Eof());

  // Edit, cancel, and a move that posts a pending change.
  t.First();
  ASSERT_EQ(t.Edit(), WtResult::Ok);
  ASSERT_EQ(t.SetInteger("Num", 11), WtResult::Ok);
  t.Cancel();
  EXPECT_EQ(t.Text("Num"), "10");
  ASSERT_EQ(t.Edit(), WtResult::Ok);
  ASSERT_EQ(t.SetInteger("Num", 11), WtResult::Ok);
  t.Next();
  EXPECT_EQ(t.GetState(), TWorkTable::State::Browse);
  EXPECT_EQ(Nums(), (std::vector<std::string>{"11", "20", "30", "40", "50"}));

  // A cancelled insert leaves nothing.
  ASSERT_EQ(t.Append(), WtResult::Ok);
  EXPECT_EQ(t.RecNo(), 6);
  EXPECT_EQ(t.RecordCount(), 5);
  t.Cancel();
  EXPECT_EQ(t.RecordCount(), 5);

  // Delete: the next row becomes current; after the last, the one before.
  ASSERT_TRUE(t.SetRecNo(2));
  ASSERT_EQ(t.Delete(), WtResult::Ok);
  EXPECT_EQ(t.Text("Num"), "30");
  t.Last();
  ASSERT_EQ(t.Delete(), WtResult::Ok);
  EXPECT_EQ(t.Text("Num"), "40");
  EXPECT_EQ(Nums(), (std::vector<std::string>{"11", "30", "40"}));

  // Close drops every row; a table opens empty.
  t.Close();
  EXPECT_EQ(t.Append(), WtResult::NotActive);
  t.Open();
  EXPECT_EQ(t.RecordCount(), 0);
  // Edit of an empty table appends.
  ASSERT_EQ(t.Edit(), WtResult::Ok);
  EXPECT_EQ(t.GetState(), TWorkTable::State::Insert);
  t.SetInteger("Num", 1);
  t.Post();
  EXPECT_EQ(t.RecordCount(), 1);
  EXPECT_EQ(t.FieldIndex("isblock"), 4);
  EXPECT_EQ(t.FieldIndex("LN "), -1);
}

TEST_F(Fixture, TheFilterShowsOneProfileAndTheUtilitiesWorkOnVisibleRows) {
  AddRow(1, "0");
  AddRow(2, "5");
  AddRow(3, "0");
  AddRow(4, "-5");
  AddRow(5, "5");
  AddRow(6, "55");
  ASSERT_EQ(t.SetFilter("LN='5'"), WtResult::Ok);
  EXPECT_EQ(t.RecordCount(), 6);  // not yet on
  t.SetFiltered(true);
  EXPECT_EQ(t.RecordCount(), 2);
  EXPECT_EQ(t.Text("Num"), "2");  // switching the filter goes to the first visible row
  EXPECT_EQ(t.RecNo(), 1);
  EXPECT_EQ(Nums(), (std::vector<std::string>{"2", "5"}));
  ASSERT_EQ(t.SetFilter("LN='-5'"), WtResult::Ok);
  EXPECT_EQ(Nums(), (std::vector<std::string>{"4"}));
  ASSERT_EQ(t.SetFilter("LN = '0'"), WtResult::Ok);
  EXPECT_EQ(CountRows(t), 2);
  EXPECT_TRUE(t.Eof());
  // Appending under a filter: the row is visible when it carries the key.
  AddRow(7, "0");
  EXPECT_EQ(t.RecordCount(), 3);
  EXPECT_EQ(t.RecNo(), 3);
  AddRow(8, "9");  // another profile's row disappears from view
  EXPECT_EQ(t.RecordCount(), 3);
  ClearRows(t);
  EXPECT_EQ(t.RecordCount(), 0);
  t.SetFiltered(false);
  EXPECT_EQ(Nums(), (std::vector<std::string>{"2", "4", "5", "6", "8"}));

  for (const char* bad : {"LN=5", "LN='5", "XX='5'", "LN='5' and Num='1'", "LN<>'5'", ""})
    EXPECT_EQ(t.SetFilter(bad), WtResult::BadFilter) << bad;
  EXPECT_EQ(t.Filter(), "LN = '0'");
}

TEST_F(Fixture, EventsRunInTheirOrderAndMayChangeTheRow) {
  std::vector<std::string> log;
  t.beforeScroll = [&](TWorkTable&) { log.push_back("beforeScroll"); };
  t.afterScroll = [&](TWorkTable& x) { log.push_back("afterScroll " + x.Text("Num")); };
  t.afterInsert = [&](TWorkTable& x) {
    log.push_back("afterInsert");
    x.SetInteger("Num", x.RecordCount() + 1);
  };
  t.beforePost = [&](TWorkTable& x) {
    log.push_back("beforePost");
    if (x.Int("Num") > 2) x.SetInteger("Num", 99);
  };
  t.afterPost = [&](TWorkTable& x) { log.push_back("afterPost " + x.Text("Num")); };
  t.Field(t.FieldIndex("Name")).onChange = [&](TWorkTable& x, TWorkField& f) {
    log.push_back("change " + f.name + "=" + x.Text(f.name));
    if (x.Text("Name") == "X") x.SetNull("Price");
  };
  for (int i = 0; i < 3; ++i) {
    t.Append();
    t.Post();
  }
  EXPECT_EQ(log, (std::vector<std::string>{"beforeScroll", "afterInsert", "afterScroll 1", "beforePost",
                                           "afterPost 1", "beforeScroll", "afterInsert", "afterScroll 2",
                                           "beforePost", "afterPost 2", "beforeScroll", "afterInsert",
                                           "afterScroll 3", "beforePost", "afterPost 99"}));
  log.clear();
  t.First();
  t.Next();
  t.Next();
  t.Next();  // at the end: no move, no events
  EXPECT_EQ(log, (std::vector<std::string>{"beforeScroll", "afterScroll 1", "beforeScroll", "afterScroll 2",
                                           "beforeScroll", "afterScroll 99"}));
  log.clear();
  t.Edit();
  t.SetText("Price", "5");
  t.SetText("Name", "X");
  EXPECT_EQ(log, (std::vector<std::string>{"change Name=X"}));
  EXPECT_TRUE(t.IsNull("Price"));  // the change event ran after the value was stored
  t.Post();
  log.clear();
  t.First();
  t.Delete();
  EXPECT_EQ(log,
            (std::vector<std::string>{"beforeScroll", "afterScroll 1", "beforeScroll", "afterScroll 2"}));
}

TEST(WorkTable, CalculatedFieldsFollowTheRowAndCannotBeSetOutsideTheirEvent) {
  TWorkTable t("mtOptions");
  t.AddField("num", TFieldType::Integer);
  t.AddField("Diapazon", TFieldType::CalcString, 12);
  t.AddField("Min", TFieldType::Integer);
  int runs = 0;
  t.onCalcFields = [&](TWorkTable& x) {
    ++runs;
    EXPECT_EQ(x.GetState(), TWorkTable::State::CalcFields);
    x.SetText("Diapazon", "<" + x.Text("Min") + "> and a text too long");
  };
  t.Open();
  for (int i = 1; i <= 3; ++i) {
    t.Append();
    t.SetInteger("num", i);
    t.SetInteger("Min", i * 2);
    EXPECT_EQ(t.Text("Diapazon"), "<" + std::to_string(i * 2) + "> and a te");  // the pending row, cut to 12
    t.Post();
  }
  EXPECT_GT(runs, 0);
  t.First();
  t.Next();
  EXPECT_EQ(t.Text("Diapazon"), "<4> and a te");
  t.Edit();
  t.SetInteger("Min", 7);
  EXPECT_EQ(t.Text("Diapazon"), "<7> and a te");  // changed rows are recalculated
  t.Post();
  EXPECT_EQ(t.SetText("Diapazon", "x"), WtResult::ReadOnlyField);
  // A grid reads other rows than the current one.
  EXPECT_EQ(t.ViewText(0, 1), "<2> and a te");
  EXPECT_EQ(t.ViewText(2, 1), "<6> and a te");
  EXPECT_EQ(t.Text("Diapazon"), "<7> and a te");
}

// Records what a grid would be told.
struct Recorder : IWorkTableObserver {
  std::vector<std::string> log;
  void RowsInserted(int first, int count) override {
    log.push_back("ins " + std::to_string(first) + "+" + std::to_string(count));
  }
  void RowsRemoved(int first, int count) override {
    log.push_back("rem " + std::to_string(first) + "+" + std::to_string(count));
  }
  void RowChanged(int row) override { log.push_back("chg " + std::to_string(row)); }
  void CurrentChanged(int row) override { log.push_back("cur " + std::to_string(row)); }
  void Reset() override { log.push_back("reset"); }
};

TEST_F(Fixture, GridNotificationsFollowChangesAndBulkChangesSendOneReset) {
  Recorder r;
  t.AddObserver(&r);
  AddRow(1, "0");
  EXPECT_EQ(r.log, (std::vector<std::string>{"ins 0+1", "cur 0", "chg 0", "chg 0", "chg 0"}));
  EXPECT_EQ(t.ViewRowCount(), 1);
  r.log.clear();
  t.Append();
  EXPECT_EQ(t.ViewRowCount(), 2);  // the row being inserted is shown at the end
  t.SetText("Name", "Новый");
  EXPECT_EQ(t.ViewText(1, 1), "Новый");
  t.Cancel();
  EXPECT_EQ(t.ViewRowCount(), 1);
  EXPECT_EQ(r.log, (std::vector<std::string>{"ins 1+1", "cur 1", "chg 1", "rem 1+1", "cur 0"}));
  AddRow(2, "5");
  AddRow(3, "0");
  t.SetFilter("LN='0'");
  r.log.clear();
  t.SetFiltered(true);
  EXPECT_EQ(r.log, (std::vector<std::string>{"reset", "cur 0"}));
  EXPECT_EQ(t.ViewRowCount(), 2);
  EXPECT_EQ(t.ViewText(1, 0), "3");
  r.log.clear();
  t.Next();
  t.Delete();  // the second visible row
  EXPECT_EQ(r.log, (std::vector<std::string>{"cur 1", "rem 1+1", "cur 0"}));

  // A bulk change: nothing while disabled (nested), one reset at the end.
  r.log.clear();
  t.DisableControls();
  t.DisableControls();
  for (int i = 0; i < 50; ++i) AddRow(100 + i, "0");
  ClearRows(t);
  t.EnableControls();
  EXPECT_TRUE(r.log.empty());
  EXPECT_TRUE(t.ControlsDisabled());
  t.EnableControls();
  EXPECT_EQ(r.log, (std::vector<std::string>{"reset", "cur -1"}));
  EXPECT_FALSE(t.ControlsDisabled());
  t.RemoveObserver(&r);
  r.log.clear();
  AddRow(9, "0");
  EXPECT_TRUE(r.log.empty());
}

TEST_F(Fixture, DisplayFormatsShapeGridText) {
  t.Field(t.FieldIndex("Price")).displayFormat = "#";
  t.Field(t.FieldIndex("Percent")).displayFormat = "#0.000";
  struct Case {
    const char* price;
    const char* percent;
    const char* priceShown;
    const char* percentShown;
  };
  const Case cases[] = {
      {"25.5", "1.5", "26", "1.500"},
      {"0", "0", "", "0.000"},
      {"-3.4", "-0.0004", "-3", "0.000"},
      {"", "", "", ""},
      {"1000000", "12.3456", "1000000", "12.346"},
  };
  for (const Case& c : cases) {
    t.Append();
    t.SetText("Price", c.price);
    t.SetText("Percent", c.percent);
    t.Post();
    const int row = t.ViewRowCount() - 1;
    EXPECT_EQ(t.ViewText(row, 2), c.priceShown) << c.price;
    EXPECT_EQ(t.ViewText(row, 3), c.percentShown) << c.percent;
  }
}

// A Currency value is an exact decimal: its display rounds that decimal, a
// half away from zero, never the nearest binary double.
TEST_F(Fixture, CurrencyDisplayRoundsTheExactDecimalHalfAwayFromZero) {
  struct Case {
    const char* format;
    const char* price;
    const char* shown;
  };
  const Case cases[] = {
      {"#", "12.5", "13"},
      {"#", "0.5", "1"},
      {"#", "-12.5", "-13"},
      {"#", "2.4999", "2"},
      {"#", "0.4999", ""},
      {"#0.000", "1.0005", "1.001"},
      {"#0.000", "0.0625", "0.063"},
      {"#0.000", "-0.0005", "-0.001"},
      {"#0.000", "-0.0004", "0.000"},
      {"#0.##", "2.345", "2.35"},
      {"#0.##", "2.3", "2.3"},
  };
  const int price = t.FieldIndex("Price");
  for (const Case& c : cases) {
    t.Field(price).displayFormat = c.format;
    t.Append();
    t.SetText("Price", c.price);
    t.Post();
    EXPECT_EQ(t.ViewText(t.ViewRowCount() - 1, price), c.shown) << c.format << " " << c.price;
  }
}

}  // namespace
}  // namespace zarvik
