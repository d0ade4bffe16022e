// The journal as data: receipts and operations as tables, the summary and the
// consistency check, built from journals the simulator's scenarios make.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "Scenario.h"
#include "TestSupport.h"
#include "journal/JournalCheck.h"
#include "journal/JournalExport.h"
#include "journal/JournalFrame.h"
#include "journal/JournalGoodsNames.h"
#include "journal/JournalSummary.h"
#include "journal/JournalTables.h"
#include "journal/U_magazineoperation.h"
#include "shell/TextCodec.h"
#include "store/UnitBD.h"

#ifdef ZARVIK_CTL_EXE
#include "CtlProcess.h"
#endif

namespace zarvik {
namespace {

const std::string kData = ZARVIK_TEST_DATA;

// The record lines of a scenario's journal, as a read of the register
// yields them: one reply holding every record, taken apart as the journal
// page takes apart each frame.
std::vector<std::string> RecordsOf(const sim::Scenario& sc) {
  std::vector<std::uint8_t> reply{0x01, 0x0F, 0x00};
  for (const sim::Bytes& record : sc.state.journal) reply.insert(reply.end(), record.begin(), record.end());
  return TakeJournalFrame(reply, false).records;
}

sim::Scenario LoadFile(const std::string& path) {
  sim::Scenario sc;
  std::string error;
  EXPECT_TRUE(sim::LoadScenarioFile(path, sc, error)) << error;
  return sc;
}

sim::Scenario LoadText(const std::string& text) {
  sim::Scenario sc;
  std::string error;
  EXPECT_TRUE(sim::LoadScenarioText(text, sc, error)) << error;
  return sc;
}

std::vector<std::string> ShopRecords() {
  return RecordsOf(LoadFile(kData + "/scenarios/journal_shop.ini"));
}

// ---------------------------------------------------------------------------
// Tables

struct ReceiptCase {
  std::optional<std::int64_t> number;
  int kind;
  std::int64_t linesSum, discounts, surcharges;
  std::optional<std::int64_t> subtotal, total;
  std::optional<int> payment;
  std::int64_t tendered, change;
  std::map<int, std::int64_t> taxSums;
  bool annulled, repeated;
  std::size_t lineCount;
};

TEST(JournalTables, ShopReceiptsAreTheFiguresWorkedOutByHand) {
  const TJournalTables t = BuildJournalTables(ShopRecords());
  // Receipt 1: bread 2 × 30.00 = 60.00 (tax 1, dep. 1), cheese 0.5 × 500.00 =
  // 250.00 (tax 2, dep. 2) less 10.00 on the line: subtotal 300.00, less 5.00
  // on the subtotal: 295.00; 400.00 tendered, 105.00 change.
  // Receipt 2: 99.90 (tax 1) + 30.00 - 30.00 annulled + 5.00 surcharge (tax
  // 2): 104.90 by card. Receipt 3: a return of one bread, 30.00 exact, then
  // printed again. An annulled receipt of 45.00 without a number. Receipt 4:
  // one cheese, 500.00 by card.
  const ReceiptCase expected[] = {
      {1, 1, 31000, 1500, 0, 30000, 29500, 1, 40000, 10500, {{1, 6000}, {2, 24000}}, false, false, 4},
      {2, 1, 9990, 0, 500, 10490, 10490, 5, 0, 0, {{1, 9990}, {2, 500}}, false, false, 4},
      {3, 2, 3000, 0, 0, 3000, 3000, 1, 3000, 0, {{1, 3000}}, false, true, 1},
      {std::nullopt, 0, 4500, 0, 0, std::nullopt, std::nullopt, std::nullopt, 0, 0, {}, true, false, 1},
      {4, 5, 50000, 0, 0, 50000, 50000, 5, 0, 0, {{2, 50000}}, false, false, 1},
  };
  ASSERT_EQ(t.receipts.size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE("receipt row " + std::to_string(i + 1));
    const TJournalReceiptRow& r = t.receipts[i];
    const ReceiptCase& e = expected[i];
    EXPECT_EQ(r.number, e.number);
    EXPECT_EQ(r.kind, e.kind);
    EXPECT_EQ(r.linesSum, e.linesSum);
    EXPECT_EQ(r.discounts, e.discounts);
    EXPECT_EQ(r.surcharges, e.surcharges);
    EXPECT_EQ(r.subtotal, e.subtotal);
    EXPECT_EQ(r.total, e.total);
    EXPECT_EQ(r.paymentKind, e.payment);
    EXPECT_EQ(r.tendered, e.tendered);
    EXPECT_EQ(r.change, e.change);
    EXPECT_EQ(r.taxSums, e.taxSums);
    EXPECT_EQ(r.annulled, e.annulled);
    EXPECT_EQ(r.repeated, e.repeated);
    EXPECT_EQ(r.lines.size(), e.lineCount);
    EXPECT_EQ(r.closed, !e.annulled);
  }
  EXPECT_EQ(t.receipts[0].date, "13.12.10");
  EXPECT_EQ(t.receipts[0].time, "09:15");
  EXPECT_EQ(t.receipts[1].operatorNumber, 2);
  EXPECT_TRUE(t.badRecords.empty());
  EXPECT_TRUE(t.unclosed.empty());
}

TEST(JournalTables, ShopOperationsAreOneRowEachWithSignedSums) {
  const TJournalTables t = BuildJournalTables(ShopRecords());
  ASSERT_EQ(t.lines.size(), 11U);
  struct LineCase {
    std::size_t receipt;
    int position;
    std::uint8_t code;
    std::optional<std::int64_t> goods;
    int department;
    std::optional<std::int64_t> quantity, price;
    std::int64_t sum;
    std::optional<int> tax;
    bool annulled;
  };
  const LineCase expected[] = {
      {0, 1, 0xA3, 10, 1, 2000, 3000, 6000, 1, false},
      {0, 2, 0xA3, 20, 2, 500, 50000, 25000, 2, false},
      {0, 3, 0xB1, std::nullopt, 2, std::nullopt, std::nullopt, -1000, 2, false},
      {0, 5, 0xB6, std::nullopt, 0, std::nullopt, std::nullopt, -500, std::nullopt, false},
      {1, 1, 0xA1, std::nullopt, 3, 1000, 9990, 9990, 1, false},
      {1, 2, 0xA1, std::nullopt, 1, 3000, 1000, 3000, 2, false},
      {1, 3, 0xA6, std::nullopt, 1, 3000, 1000, -3000, 2, true},
      {1, 4, 0xB2, std::nullopt, 1, std::nullopt, std::nullopt, 500, 2, false},
      {2, 1, 0xAD, 10, 1, 1000, 3000, 3000, 1, false},
      {3, 1, 0xA1, std::nullopt, 1, 1000, 4500, 4500, 1, true},
      {4, 1, 0xA3, 20, 2, 1000, 50000, 50000, 2, false},
  };
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE("operation row " + std::to_string(i + 1));
    const TJournalLineRow& l = t.lines[i];
    const LineCase& e = expected[i];
    EXPECT_EQ(l.receipt, e.receipt);
    EXPECT_EQ(l.position, e.position);
    EXPECT_EQ(l.code, e.code);
    EXPECT_EQ(l.goodsCode, e.goods);
    EXPECT_EQ(l.department, e.department);
    EXPECT_EQ(l.quantity, e.quantity);
    EXPECT_EQ(l.price, e.price);
    EXPECT_EQ(l.sum, e.sum);
    EXPECT_EQ(l.taxGroup, e.tax);
    EXPECT_EQ(l.annulled, e.annulled);
  }
  // The operations of a closed receipt add up to its total.
  for (const TJournalReceiptRow& r : t.receipts) {
    if (!r.total) continue;
    std::int64_t sum = 0;
    for (const std::size_t l : r.lines) sum += t.lines[l].sum;
    EXPECT_EQ(sum, *r.total) << ReceiptLabel(r);
  }
}

TEST(JournalTables, ARecordTheTextCannotShowIsARecordTheTablesCannotRead) {
  std::vector<std::string> records = ShopRecords();
  records.insert(records.begin() + 2, "A1;3;er;1250;1;2");
  records.insert(records.begin() + 5, "AF12AA");
  records.insert(records.begin() + 7, "A3;4;10;1000");
  const TJournalTables t = BuildJournalTables(records);
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::string text;
    const bool rendered = TryRenderJournalLine(records[i], text) && text != "???";
    const bool bad = std::any_of(t.badRecords.begin(), t.badRecords.end(),
                                 [i](const TJournalBadRecord& b) { return b.record == i; });
    EXPECT_EQ(rendered, !bad) << records[i];
  }
  ASSERT_EQ(t.badRecords.size(), 3U);
  EXPECT_EQ(t.badRecords[0].receipt, 0U);
}

// ---------------------------------------------------------------------------
// Summary

TEST(JournalSummary, ShopTotalsAndBreakdownsAreTheFiguresWorkedOutByHand) {
  TGoodsNames names{{10, "Хлеб"}};
  const TJournalSummary s = SummarizeJournal(BuildJournalTables(ShopRecords()), names);
  // Sales: receipts 1, 2 and 4: 295.00 + 104.90 + 500.00 = 899.90, average
  // 299.9666… = 299.97. The return: 30.00. Annulled: the line of 30.00 in
  // receipt 2 and the receipt of 45.00. Discounts 10.00 + 5.00; surcharge 5.00.
  EXPECT_EQ(s.receipts, 3);
  EXPECT_EQ(s.sales, 89990);
  EXPECT_EQ(s.average, 29997);
  EXPECT_EQ(s.returnReceipts, 1);
  EXPECT_EQ(s.returns, 3000);
  EXPECT_EQ(s.annulledLines, 1);
  EXPECT_EQ(s.annulledLinesSum, 3000);
  EXPECT_EQ(s.annulledReceipts, 1);
  EXPECT_EQ(s.annulledReceiptsSum, 4500);
  EXPECT_EQ(s.discounts, 1500);
  EXPECT_EQ(s.surcharges, 500);

  using Rows = std::vector<TJournalSummaryRow>;
  const auto rows = [](const Rows& r) {
    std::vector<std::tuple<std::string, std::int64_t, std::int64_t>> out;
    for (const auto& x : r) out.emplace_back(x.key, x.count, x.sum);
    return out;
  };
  using T = std::vector<std::tuple<std::string, std::int64_t, std::int64_t>>;
  // Cash: receipt 1; card: receipts 2 and 4 (104.90 + 500.00).
  EXPECT_EQ(rows(s.byPayment), (T{{"Наличные", 1, 29500}, {"Безнал", 2, 60490}}));
  // Tax 1: 60.00 + 99.90; tax 2: 250.00 - 10.00, 30.00 - 30.00 + 5.00, 500.00
  // (the line annulled takes its line off the count).
  EXPECT_EQ(rows(s.byTax), (T{{"1", 2, 15990}, {"2", 2, 74500}}));
  // Dep. 1: 60.00 + (30.00 - 30.00 + 5.00); dep. 2: 240.00 + 500.00; dep. 3: 99.90.
  EXPECT_EQ(rows(s.byDepartment), (T{{"1", 1, 6500}, {"2", 2, 74000}, {"3", 1, 9990}}));
  // Goods: bread 2 pieces (the return is no sale); cheese 0.5 + 1 kg at its
  // line sums (the discount on the line is no goods line).
  EXPECT_EQ(rows(s.byGoods), (T{{"Хлеб (10)", 2000, 6000}, {"20", 1500, 75000}}));
  EXPECT_EQ(rows(s.byHour), (T{{"09", 1, 29500}, {"10", 1, 10490}, {"11", 1, 50000}}));
  EXPECT_EQ(rows(s.byDay), (T{{"13.12.10", 2, 39990}, {"14.12.10", 1, 50000}}));
}

TEST(JournalSummary, ADateRangeKeepsTheReceiptsOfItsDays) {
  const TJournalTables t = BuildJournalTables(ShopRecords());
  struct RangeCase {
    const char* name;
    std::optional<int> from, to;
    std::int64_t receipts, sales, returns;
  };
  const RangeCase cases[] = {
      {"the first day", 20101213, 20101213, 2, 39990, 0},
      {"from the second day", 20101214, std::nullopt, 1, 50000, 3000},
      {"up to the first day", std::nullopt, 20101213, 2, 39990, 0},
      {"days without receipts", 20110101, 20110131, 0, 0, 0},
      {"both days", 20101213, 20101214, 3, 89990, 3000},
  };
  for (const RangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TJournalSummary s = SummarizeJournal(t, {}, c.from, c.to);
    EXPECT_EQ(s.receipts, c.receipts);
    EXPECT_EQ(s.sales, c.sales);
    EXPECT_EQ(s.returns, c.returns);
    // The annulled receipt has no date: no range holds it.
    EXPECT_EQ(s.annulledReceipts, 0);
  }
}

TEST(JournalSummary, GoodsNamesComeFromTheGoodsTable) {
  TBD bd;
  TWorkTable& goods = bd.mtTOBAP;
  for (const auto& [code, name] : std::vector<std::pair<int, const char*>>{{10, "Хлеб"}, {20, "Сыр"}}) {
    ASSERT_EQ(goods.Append(), WtResult::Ok);
    ASSERT_EQ(goods.SetValue(goods.FieldIndex("Code"), WtValue{std::int64_t{code}}), WtResult::Ok);
    ASSERT_EQ(goods.SetValue(goods.FieldIndex("Name"), WtValue{std::string(name)}), WtResult::Ok);
    ASSERT_EQ(goods.Post(), WtResult::Ok);
  }
  const TJournalSummary s = SummarizeJournal(BuildJournalTables(ShopRecords()), GoodsNamesOf(goods));
  ASSERT_EQ(s.byGoods.size(), 2U);
  EXPECT_EQ(s.byGoods[0].key, "Хлеб (10)");
  EXPECT_EQ(s.byGoods[1].key, "Сыр (20)");
}

// ---------------------------------------------------------------------------
// Consistency check

TEST(JournalCheck, TheShopJournalIsClean) {
  const auto findings = CheckJournal(BuildJournalTables(ShopRecords()));
  EXPECT_TRUE(findings.empty());
  EXPECT_EQ(JournalFindingLines(findings), std::vector<std::string>{kJournalCleanText});
}

// Six receipts of 30.00 each: 1 and 3 to 6 paid exactly in cash, 2 by card.
std::string SixReceipts(const std::vector<int>& numbers, const std::string& tenderedOfLast) {
  std::string text = "[Register]\nDepartments=4\n";
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const bool card = i == 1;
    const bool last = i + 1 == numbers.size();
    text += "[Receipt" + std::to_string(i + 1) + "]\nKind=1\nNumber=" + std::to_string(numbers[i]) +
            "\nDate=15.12.10\nTime=1" + std::to_string(i) + ":00\nLine1=sale;1.000;20.00;1;1\n" +
            "Line2=sale;2.000;5.00;2;2\nPayment=" + (card ? "4" : "0") + "\nTendered=" +
            (card   ? "0"
             : last ? tenderedOfLast
                    : "exact") +
            "\n";
  }
  return text;
}

// Replaces the first record line that starts with `prefix` after the
// `skip`-th one.
void Replace(std::vector<std::string>& records, const std::string& prefix, const std::string& line,
             int skip = 0) {
  for (std::string& r : records) {
    if (r.rfind(prefix, 0) == 0 && skip-- == 0) {
      r = line;
      return;
    }
  }
  ADD_FAILURE() << "no record " << prefix;
}

TEST(JournalCheck, AWrongTotalAMissingNumberAndAWrongChangeAreEachReportedOnceAtTheirReceipt) {
  // Numbers 1, 2, 3, 5, 6, 7: number 4 is missing. The last receipt takes
  // 10.00 for 30.00 (its change would be -20.00). Receipt 2's amount due is
  // raised to 31.00.
  std::vector<std::string> records = RecordsOf(LoadText(SixReceipts({1, 2, 3, 5, 6, 7}, "10.00")));
  Replace(records, "C9;", "C9;6;5;3100;0", 1);
  const TJournalTables t = BuildJournalTables(records);
  const auto findings = CheckJournal(t);
  ASSERT_EQ(findings.size(), 3U) << testing::PrintToString(JournalFindingLines(findings));
  EXPECT_EQ(findings[0].kind, TJournalFindingKind::Total);
  EXPECT_EQ(t.receipts[findings[0].receipt].number, 2);
  EXPECT_EQ(findings[0].text, "чек 2: итог 31.00 не равен подытогу со скидками и надбавками 30.00");
  EXPECT_EQ(findings[1].kind, TJournalFindingKind::NumberGap);
  EXPECT_EQ(t.receipts[findings[1].receipt].number, 5);
  EXPECT_EQ(findings[1].text, "чек 5: пропущен номер чека 4");
  EXPECT_EQ(findings[2].kind, TJournalFindingKind::Payment);
  EXPECT_EQ(t.receipts[findings[2].receipt].number, 7);
  EXPECT_EQ(findings[2].text, "чек 7: внесено 10.00 меньше итога 30.00, сдача -20.00");
}

TEST(JournalCheck, EachFaultIsNamedOnceWithItsReceipt) {
  struct FaultCase {
    const char* name;
    std::vector<int> numbers;
    std::function<void(std::vector<std::string>&)> spoil;
    TJournalFindingKind kind;
    std::optional<std::int64_t> receipt;  // its number
    std::string text;
  };
  const FaultCase cases[] = {
      {"a subtotal off by a kopeck",
       {1, 2, 3},
       [](auto& r) { Replace(r, "B5;", "B5;3;3001", 2); },
       TJournalFindingKind::Subtotal,
       3,
       "чек 3: подытог 30.01 не равен сумме позиций со скидками и надбавками 30.00"},
      {"a tax sum of the wrong amount",
       {1, 2, 3},
       [](auto& r) { Replace(r, "C1;5;2", "C1;5;2;900", 0); },
       TJournalFindingKind::TaxSum,
       1,
       "чек 1: сумма по налоговой ставке 2 9.00 не равна позициям этой группы 10.00"},
      {"change on a card",
       {1, 2, 3},
       [](auto& r) { Replace(r, "C9;", "C9;6;5;3000;5000", 1); },
       TJournalFindingKind::Change,
       2,
       "чек 2: сдача 20.00 при оплате \"Безнал\""},
      {"a gap of three numbers",
       {7, 8, 12},
       [](auto&) {},
       TJournalFindingKind::NumberGap,
       12,
       "чек 12: пропущены номера чеков 9–11"},
      {"a number repeated",
       {1, 2, 2},
       [](auto&) {},
       TJournalFindingKind::NumberRepeat,
       2,
       "чек 2: номер чека повторяется"},
      {"a number going back",
       {5, 6, 3},
       [](auto&) {},
       TJournalFindingKind::NumberRepeat,
       3,
       "чек 3: номер чека меньше номера чека перед ним (6)"},
      {"a record that is not a number",
       {1, 2, 3},
       [](auto& r) { Replace(r, "A1;2;", "A1;2;2000;5x0;2;2", 1); },
       TJournalFindingKind::BadRecord,
       2,
       "чек 2: запись 9 не разобрана: A1;2;2000;5x0;2;2"},
      {"a receipt without its closing",
       {1, 2, 3},
       [](auto& r) { r.erase(r.begin() + 6); },
       TJournalFindingKind::Unclosed,
       std::nullopt,
       "чек без номера (запись 1): чек не закрыт записью закрытия"},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> records = RecordsOf(LoadText(SixReceipts(c.numbers, "exact")));
    ASSERT_TRUE(
        CheckJournal(BuildJournalTables(records)).size() ==
        (c.kind == TJournalFindingKind::NumberGap || c.kind == TJournalFindingKind::NumberRepeat ? 1U : 0U));
    c.spoil(records);
    const TJournalTables t = BuildJournalTables(records);
    const auto findings = CheckJournal(t);
    ASSERT_EQ(findings.size(), 1U) << testing::PrintToString(JournalFindingLines(findings));
    EXPECT_EQ(findings[0].kind, c.kind);
    ASSERT_NE(findings[0].receipt, kNoReceipt);
    EXPECT_EQ(t.receipts[findings[0].receipt].number, c.receipt);
    EXPECT_EQ(findings[0].text, c.text);
  }
}

// ---------------------------------------------------------------------------
// Export

TEST(JournalExport, TablesHaveAHeaderAndOneRowPerReceiptAndOperation) {
  const TJournalTables t = BuildJournalTables(ShopRecords());
  const TDataTable receipts = JournalReceiptTable(t);
  const TDataTable lines = JournalLineTable(t);
  EXPECT_EQ(receipts.rows.size(), 5U);
  EXPECT_EQ(lines.rows.size(), 11U);
  for (const auto& row : receipts.rows) EXPECT_EQ(row.size(), receipts.header.size());
  for (const auto& row : lines.rows) EXPECT_EQ(row.size(), lines.header.size());
  // A column per tax rate found.
  EXPECT_NE(std::find(receipts.header.begin(), receipts.header.end(), "Налог.ст.2"), receipts.header.end());
  const auto column = [](const TDataTable& table, const std::string& name) {
    return static_cast<std::size_t>(std::find(table.header.begin(), table.header.end(), name) -
                                    table.header.begin());
  };
  const std::size_t total = column(receipts, "Итог");
  EXPECT_EQ(receipts.rows[0][total].Text(), "295.00");
  EXPECT_EQ(receipts.rows[0][total].Text(','), "295,00");
  EXPECT_EQ(receipts.rows[3][column(receipts, "Аннулирован")].Text(), kYesText);
  EXPECT_EQ(receipts.rows[2][column(receipts, "Повторная печать")].Text(), kYesText);
  EXPECT_EQ(lines.rows[1][column(lines, "Количество")].Text(), "0.500");
  EXPECT_EQ(lines.rows[6][column(lines, "Сумма")].Text(), "-30.00");
}

TEST(JournalExport, CsvFilesInBothEncodingsHoldTheSameText) {
  const TDataTable receipts = JournalReceiptTable(BuildJournalTables(ShopRecords()));
  const std::string text = DataTableCsv(receipts, ',');
  // Header and five rows, each ended by CR LF.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
  EXPECT_EQ(text.find(";\"295,00\";"), std::string::npos);  // ";" separates, "," needs no quoting
  EXPECT_NE(text.find(";295,00;"), std::string::npos);
  test::TempDir dir;
  ASSERT_TRUE(WriteDataTableCsv(receipts, dir.File("u.csv"), TCsvEncoding::Utf8Bom, ','));
  ASSERT_TRUE(WriteDataTableCsv(receipts, dir.File("w.csv"), TCsvEncoding::Cp1251, ','));
  EXPECT_EQ(test::ReadAll(dir.File("u.csv")), "\xEF\xBB\xBF" + text);
  const std::string cp1251 = test::ReadAll(dir.File("w.csv"));
  EXPECT_FALSE(IsUtf8Text(cp1251));
  EXPECT_EQ(Cp1251ToUtf8(cp1251), text);
  EXPECT_FALSE(WriteDataTableCsv(receipts, dir.File("missing/x.csv"), TCsvEncoding::Cp1251, ','));
}

TEST(JournalExport, AWorkbookIsWrittenWholeOrNotAtAll) {
  const TJournalTables t = BuildJournalTables(ShopRecords());
  const TDataTable receipts = JournalReceiptTable(t);
  const TDataTable lines = JournalLineTable(t);
  test::TempDir dir;
  std::string error;
  ASSERT_TRUE(WriteDataWorkbook({&receipts, &lines}, dir.File("j.xlsx"), error)) << error;
  const std::string book = test::ReadAll(dir.File("j.xlsx"));
  EXPECT_EQ(book.substr(0, 2), "PK");  // a zip container
  EXPECT_FALSE(std::filesystem::exists(dir.File("j.xlsx.tmp")));
  EXPECT_FALSE(WriteDataWorkbook({&receipts}, dir.File("missing/j.xlsx"), error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));
}

// The record file the read-back test of the exported files reads is the
// shop's journal as the journal page saves its data view.
TEST(JournalExport, TheSavedShopJournalIsTheScenarioJournal) {
  const std::string saved = test::ReadAll(kData + "/journal/shop_records.txt");
  std::string expected;
  for (const std::string& line : ShopRecords()) expected += line + "\r\n";
  EXPECT_EQ(saved, expected);
}

#ifdef ZARVIK_CTL_EXE
TEST(JournalCtl, SummaryCheckAndTablesOfASavedJournal) {
  test::TempDir dir;
  const std::string in = kData + "/journal/shop_records.txt";
  const test::RunResult summary = test::RunCtl(dir.Path(), {"journal", "summary", "--in", in, "--csv"});
  ASSERT_EQ(summary.status, 0) << summary.err;
  EXPECT_NE(summary.out.find("Итоги;Продажи;3;899.90"), std::string::npos) << summary.out;
  EXPECT_NE(summary.out.find("Итоги;Средний чек;;299.97"), std::string::npos) << summary.out;
  EXPECT_NE(summary.out.find("Вид оплаты;Безнал;2;604.90"), std::string::npos) << summary.out;
  const test::RunResult ranged =
      test::RunCtl(dir.Path(), {"journal", "summary", "--in", in, "--csv", "--from", "14.12.2010"});
  ASSERT_EQ(ranged.status, 0) << ranged.err;
  EXPECT_NE(ranged.out.find("Итоги;Продажи;1;500.00"), std::string::npos) << ranged.out;
  const test::RunResult badDate =
      test::RunCtl(dir.Path(), {"journal", "summary", "--in", in, "--to", "32.12.10"});
  EXPECT_EQ(badDate.status, 2);

  const test::RunResult clean = test::RunCtl(dir.Path(), {"journal", "check", "--in", in});
  EXPECT_EQ(clean.status, 0) << clean.err;
  EXPECT_EQ(clean.out, std::string(kJournalCleanText) + "\n");
  std::string spoiled = test::ReadAll(in);
  const std::size_t at = spoiled.find("CA;1;2;");
  ASSERT_NE(at, std::string::npos);
  spoiled.replace(at, 7, "CA;1;9;");
  test::WriteAll(dir.File("spoiled.txt"), spoiled);
  const test::RunResult found =
      test::RunCtl(dir.Path(), {"journal", "check", "--in", dir.File("spoiled.txt")});
  EXPECT_EQ(found.status, 1);
  EXPECT_EQ(found.out,
            "чек 9: пропущены номера чеков 2–8\nчек 3: номер чека меньше номера чека перед ним (9)\n");

  const test::RunResult tables = test::RunCtl(
      dir.Path(),
      {"journal", "read", "--in", in, "--data", "--receipts", "r.csv", "--lines", "l.csv", "--utf8"});
  ASSERT_EQ(tables.status, 0) << tables.err;
  // With --data the record lines themselves, as they were saved.
  std::string saved = test::ReadAll(in);
  std::erase(saved, '\r');
  EXPECT_EQ(tables.out, saved);
  const std::string receipts = test::ReadAll(dir.File("r.csv"));
  EXPECT_EQ(receipts.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(std::count(receipts.begin(), receipts.end(), '\n'), 6);
  const std::string lines = test::ReadAll(dir.File("l.csv"));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 12);
}
#endif

}  // namespace
}  // namespace zarvik
