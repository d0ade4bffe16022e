// The shop's day: two registers' journals in one table, one row per register
// and day, checked against a table worked out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "journal/ShopDay.h"
#include "shell/TextCodec.h"

namespace zarvik {
namespace {

using Lines = std::vector<std::string>;

// Register 1, two days. 15.12.10: receipt 101 cash 2 × 10.00; receipt 102 a
// line of 50.00 annulled, then 30.00 paid by card; receipts 103 and 104 are
// missing; receipt 105 a return of 10.00. 16.12.10: receipt 106 cash
// 3 × 20.00; a receipt of 15.00 annulled (no number, no date); receipt 107
// cash 40.00.
const Lines kRegister1 = {
    "A1;1;2000;1000;1;1",  "C9;2;1;2000;2000",  "CA;1;101;15.12.10;09:15;F;1",
    "A1;1;1000;5000;1;1",  "A6;2;1000;5000;1;1", "A1;3;1000;3000;1;2",
    "C9;4;5;3000;0",       "CA;1;102;15.12.10;10:40;F;1",
    "AC;1;1000;1000;1;1",  "C9;2;1;1000;1000",  "CA;2;105;15.12.10;11:00;F;1",
    "A1;1;3000;2000;1;1",  "C9;2;1;6000;10000", "CA;1;106;16.12.10;09:05;F;2",
    "A1;1;1000;1500;1;1",  "CC;2",
    "A1;1;1000;4000;1;1",  "C9;2;1;4000;5000",  "CA;1;107;16.12.10;12:30;F;2",
};

// Register 2, one day: 201 cash 25.00, 202 card 12.00, and 202 again, cash
// 8.00.
const Lines kRegister2 = {
    "A1;1;1000;2500;1;1", "C9;2;1;2500;3000", "CA;1;201;16.12.10;10:00;F;1",
    "A1;1;1000;1200;1;1", "C9;2;5;1200;0",    "CA;1;202;16.12.10;10:10;F;1",
    "A1;1;1000;800;1;1",  "C9;2;1;800;800",   "CA;1;202;16.12.10;10:20;F;1",
};

// The table as text, a line per row, cells between ";".
Lines TableText(const TDataTable& t) {
  Lines out;
  const auto join = [](const std::vector<std::string>& cells) {
    std::string line;
    for (const std::string& c : cells) line += (line.empty() ? "" : ";") + c;
    return line;
  };
  out.push_back(join(t.header));
  for (const auto& row : t.rows) {
    std::vector<std::string> cells;
    for (const TDataCell& c : row) cells.push_back(c.Text());
    out.push_back(join(cells));
  }
  return out;
}

TEST(ShopDay, TwoRegistersJournalsAreTheTableWorkedOutByHand) {
  const TDataTable table =
      ShopDayDataTable(BuildShopDay({{"касса 1", "0001", kRegister1}, {"касса 2", "0002", kRegister2}}));
  const Lines expected = {
      "Касса;Серийный №;День;Чеков продажи;Продажи;Чеков возврата;Возвраты;Аннулировано чеков;"
      "Сумма аннулированных чеков;Аннулировано позиций;Сумма аннулированных позиций;Наличные;Безнал;"
      "Первый чек;Последний чек;Нумерация",
      "касса 1;0001;15.12.10;2;50.00;1;10.00;0;0.00;1;50.00;20.00;30.00;101;105;"
      "чек 105: пропущены номера чеков 103–104",
      "касса 1;0001;16.12.10;2;100.00;0;0.00;1;15.00;0;0.00;100.00;0.00;106;107;без пропусков",
      "касса 2;0002;16.12.10;3;45.00;0;0.00;0;0.00;0;0.00;33.00;12.00;201;202;"
      "чек 202: номер чека повторяется",
  };
  EXPECT_EQ(TableText(table), expected);
  EXPECT_EQ(table.name, kShopDaySheet);
}

TEST(ShopDay, RowsOfJournalsWithoutDatesOrReceipts) {
  struct Case {
    const char* what;
    Lines records;
    Lines days;  // the rows' days, in order
    std::vector<std::int64_t> receipts;
  };
  const std::vector<Case> cases = {
      {"no receipts: one empty row", {}, {""}, {0}},
      // An annulled receipt before the first dated one belongs to its day.
      {"undated receipt first",
       {"A1;1;1000;1500;1;1", "CC;1", "A1;1;1000;4000;1;1", "C9;2;1;4000;5000", "CA;1;7;17.12.10;08:00;F;1"},
       {"17.12.10"},
       {1}},
      {"days in date order across a year",
       {"A1;1;1000;100;1;1", "CA;1;8;01.01.11;08:00;F;1", "A1;1;1000;100;1;1", "CA;1;9;31.12.10;23:00;F;1"},
       {"31.12.10", "01.01.11"},
       {1, 1}},
  };
  for (const Case& c : cases) {
    const std::vector<TShopDayRow> rows = BuildShopDay({{"k", "s", c.records}});
    Lines days;
    std::vector<std::int64_t> receipts;
    for (const TShopDayRow& r : rows) {
      days.push_back(r.date);
      receipts.push_back(r.receipts);
    }
    EXPECT_EQ(days, c.days) << c.what;
    EXPECT_EQ(receipts, c.receipts) << c.what;
  }
}

TEST(ShopDay, SavedJournalFilesAreReadInEitherEncoding) {
  const Lines expected = {"A1;1;1000;100;1;1", "CA;1;8;01.01.11;08:00;F;1"};
  EXPECT_EQ(JournalRecordLines("A1;1;1000;100;1;1\r\nCA;1;8;01.01.11;08:00;F;1\r\n"), expected);
  EXPECT_EQ(JournalRecordLines("\xEF\xBB\xBF" "A1;1;1000;100;1;1\n\nCA;1;8;01.01.11;08:00;F;1"), expected);
  EXPECT_EQ(JournalRecordLines(Utf8ToCp1251("строка\r\n")), Lines{"строка"});
}

}  // namespace
}  // namespace zarvik

#ifdef ZARVIK_CTL_EXE

#include <filesystem>

#include "CtlProcess.h"
#include "CtlSimSupport.h"
#include "Scenario.h"
#include "Simulator.h"
#include "TestSupport.h"
#include "store/WorkTable.h"

namespace zarvik {
namespace {

constexpr int kShopRegisters = 3;
constexpr int kShopFirstPort = 232;

// zarvikctl fleet FLEETFILE journal summary: each register's journal read by
// its own worker, the day table of them all printed or written to --out, and
// the journals read on the way not left behind.
TEST(ShopDayFleet, TheDayTableOfEveryRegistersJournal) {
  test::TempDir dir;
  test::FleetShopSims shop;
  shop.Start(kShopRegisters, false);
  test::WriteFleetFiles(dir, kShopFirstPort, shop.terminals, test::ShopNames(kShopRegisters));
  for (int k = 0; k < kShopRegisters; ++k) {
    shop.sims[static_cast<std::size_t>(k)]->ModifyState([k](sim::RegisterState& s) {
      s.journal.clear();
      // Receipts 1, 2 and 4 on register 1 (3 is missing), 1 and 2 elsewhere;
      // each of 10.00 * (k + 1), cash.
      for (const int number : k == 1 ? std::vector<int>{1, 2, 4} : std::vector<int>{1, 2}) {
        const auto price = static_cast<std::uint64_t>(1000 * (k + 1));
        s.journal.push_back(sim::SumRecord(0xA1, 1, 1000, price, 1, 1));
        s.journal.push_back(sim::PaymentRecord(2, 0, price, price));
        s.journal.push_back(
            sim::CloseRecord(1, static_cast<std::uint64_t>(number), "31.12.25", "12:00", true, 1));
      }
    });
  }
  const test::RunResult r =
      test::RunCtl(dir.Path(), {"fleet", "fleet.ini", "journal", "summary", "--out", "day.csv"}, {}, false, {});
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  const std::string csv = Cp1251ToUtf8(test::ReadAll(dir.File("day.csv")));
  // Money with the program's decimal separator, as the child has it too.
  const auto m = [](std::string text) {
    for (char& c : text)
      if (c == '.') c = DecimalSeparator();
    return text;
  };
  const std::vector<std::string> rows = {
      "shop 0;" + test::FleetSerial(0) + ";31.12.25;2;" + m("20.00;0;0.00;0;0.00;0;0.00;20.00") + ";1;2;без пропусков",
      "shop 1;" + test::FleetSerial(1) + ";31.12.25;3;" + m("60.00;0;0.00;0;0.00;0;0.00;60.00") +
          ";1;4;чек 4: пропущен номер чека 3",
      "shop 2;" + test::FleetSerial(2) + ";31.12.25;2;" + m("60.00;0;0.00;0;0.00;0;0.00;60.00") + ";1;2;без пропусков",
  };
  for (const std::string& row : rows) EXPECT_NE(csv.find(row), std::string::npos) << row << "\n" << csv;
  EXPECT_EQ(test::Occurrences(csv, "\r\n"), 1 + kShopRegisters) << csv;
  // Nothing of the reading is left in the working folder.
  for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
    EXPECT_NE(e.path().extension(), ".txt") << e.path();

  // Printed: the register table, then the day table.
  const test::RunResult printed =
      test::RunCtl(dir.Path(), {"fleet", "fleet.ini", "journal", "summary", "--csv"}, {}, false, {});
  EXPECT_EQ(printed.status, 0) << printed.err;
  EXPECT_NE(printed.out.find("Первый чек;Последний чек;Нумерация"), std::string::npos) << printed.out;
  EXPECT_NE(printed.out.find("чек 4: пропущен номер чека 3"), std::string::npos) << printed.out;

  // --out is a table file, never a folder.
  const test::RunResult refused =
      test::RunCtl(dir.Path(), {"fleet", "fleet.ini", "journal", "summary", "--out", "days"}, {}, false, {});
  EXPECT_EQ(refused.status, 2) << refused.err;
}

}  // namespace
}  // namespace zarvik

#endif  // ZARVIK_CTL_EXE
