// A summary of the journal (or of the days of a date range in it): totals of
// sales, returns, annulments, discounts and surcharges, the receipt count and
// the average receipt, and the sales broken down by payment kind, tax group,
// department, goods, hour of the day and day.
//
// Sales are the receipts of kinds "Продажа" and "Безнал" that were closed and
// not annulled, with the amounts due of their payment records; returns the
// closed receipts of kind "Возврат". The breakdowns by tax group, department
// and goods add up the sales' lines with their own discounts and surcharges
// (a discount on the subtotal belongs to no line and shows only in the
// totals); the breakdowns by payment kind, hour and day add up amounts due.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "journal/JournalTables.h"

namespace zarvik {

struct TJournalSummaryRow {
  std::string key;         // caption of the row ("Наличные", "2", "Хлеб (12)", "09", "13.12.10")
  std::int64_t count = 0;  // receipts, or lines, or thousandths for goods
  std::int64_t sum = 0;    // kopecks
};

struct TJournalSummary {
  // The date range asked for (YYYYMMDD, inclusive); receipts without a date
  // are left out of a range.
  std::optional<int> from;
  std::optional<int> to;
  std::int64_t receipts = 0;  // sales receipts
  std::int64_t sales = 0;
  std::int64_t average = 0;  // sales / receipts, rounded half away from zero
  std::int64_t returnReceipts = 0;
  std::int64_t returns = 0;
  std::int64_t cashIn = 0;
  std::int64_t cashOut = 0;
  std::int64_t annulledLines = 0;  // count of annulment lines in sales and returns
  std::int64_t annulledLinesSum = 0;
  std::int64_t annulledReceipts = 0;
  std::int64_t annulledReceiptsSum = 0;  // their lines with adjustments
  std::int64_t discounts = 0;
  std::int64_t surcharges = 0;
  std::vector<TJournalSummaryRow> byPayment;     // count: receipts
  std::vector<TJournalSummaryRow> byTax;         // count: lines
  std::vector<TJournalSummaryRow> byDepartment;  // count: lines
  std::vector<TJournalSummaryRow> byGoods;       // count: quantity in thousandths
  std::vector<TJournalSummaryRow> byHour;        // "00".."23", only hours with sales
  std::vector<TJournalSummaryRow> byDay;         // "DD.MM.YY" in date order
};

// Goods code → name, for the goods breakdown (the goods table when loaded).
using TGoodsNames = std::map<std::int64_t, std::string>;

TJournalSummary SummarizeJournal(const TJournalTables& tables, const TGoodsNames& names = {},
                                 std::optional<int> from = std::nullopt,
                                 std::optional<int> to = std::nullopt);

}  // namespace zarvik
