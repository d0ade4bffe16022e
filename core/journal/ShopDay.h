// The shop's day: the journals of the registers of a shop in one table, one
// row per register and day. Each row counts that day's receipts the way the
// journal summary counts them (sales, returns, annulled receipts and lines
// with their sums, the sales by payment kind), gives the first and the last
// receipt number of the day and flags the gaps and repeats in the receipt
// numbers the journal check finds there.
//
// A receipt without a date (an annulment record carries none) belongs to the
// day of the receipt before it in its journal, or to the next dated one when
// it comes first.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "journal/JournalExport.h"

namespace zarvik {

// The journal of one register: its name in the fleet, its serial number and
// its record lines.
struct TShopJournal {
  std::string name;
  std::string serial;
  std::vector<std::string> records;
};

struct TShopDayRow {
  std::string name;
  std::string serial;
  std::string date;           // "DD.MM.YY", "" when no receipt of the journal has one
  std::int64_t receipts = 0;  // sales receipts
  std::int64_t sales = 0;     // kopecks
  std::int64_t returnReceipts = 0;
  std::int64_t returns = 0;
  std::int64_t annulledReceipts = 0;
  std::int64_t annulledReceiptsSum = 0;
  std::int64_t annulledLines = 0;
  std::int64_t annulledLinesSum = 0;
  std::vector<TJournalSummaryRow> byPayment;  // sales by payment kind, as the summary gives them
  std::optional<std::int64_t> firstNumber;
  std::optional<std::int64_t> lastNumber;
  std::vector<std::string> numbering;  // gaps and repeats, as the journal check words them
};

// The rows of every journal, in the order given, each journal's days in date
// order (an undated day first).
std::vector<TShopDayRow> BuildShopDay(const std::vector<TShopJournal>& journals);

// Texts of the table.
inline constexpr const char* kShopDaySheet = "День магазина";
inline constexpr const char* kShopNumberingOk = "без пропусков";

// The rows as a table: register, serial number, day, sales receipts, sales,
// return receipts, returns, annulled receipts and their sum, annulled lines
// and their sum, one column per payment kind found in any row, first and last
// receipt number, and the numbering ("без пропусков" or the findings, "; "
// between them).
TDataTable ShopDayDataTable(const std::vector<TShopDayRow>& rows);

// The record lines of a saved journal file's bytes: one a line, CR LF or LF,
// code page 1251 or UTF-8 (with or without a byte order mark); empty lines
// are left out.
std::vector<std::string> JournalRecordLines(std::string bytes);

}  // namespace zarvik
