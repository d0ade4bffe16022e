// The journal's tables as cells (for the window's table view, CSV files and
// workbooks): one row per receipt and one row per operation, and the files
// they are written to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "journal/JournalSummary.h"
#include "journal/JournalTables.h"

namespace zarvik {

struct TDataCell {
  enum class Kind : std::uint8_t { Empty, Text, Integer, Money, Quantity };
  Kind kind = Kind::Empty;
  std::string text;        // Text
  std::int64_t value = 0;  // Integer, Money (kopecks), Quantity (thousandths)

  static TDataCell Of(std::string t) { return {Kind::Text, std::move(t), 0}; }
  static TDataCell Int(std::int64_t v) { return {Kind::Integer, {}, v}; }
  static TDataCell Kopecks(std::int64_t v) { return {Kind::Money, {}, v}; }
  static TDataCell Thousandths(std::int64_t v) { return {Kind::Quantity, {}, v}; }
  // The cell as text: money with two decimals, quantities with three, both
  // with `decimal` as separator.
  std::string Text(char decimal = '.') const;
};

struct TDataTable {
  std::string name;  // sheet name
  std::vector<std::string> header;
  std::vector<std::vector<TDataCell>> rows;
};

// Texts of the tables.
inline constexpr const char* kJournalReceiptSheet = "Чеки";
inline constexpr const char* kJournalLineSheet = "Операции";
inline constexpr const char* kJournalSummarySheet = "Сводка";
inline constexpr const char* kYesText = "да";
// Sections of the summary's breakdowns.
inline constexpr const char* kSummaryPayment = "Вид оплаты";
inline constexpr const char* kSummaryTax = "Налоговая группа";
inline constexpr const char* kSummaryDepartment = "Отдел";
inline constexpr const char* kSummaryGoods = "Товар";
inline constexpr const char* kSummaryHour = "Час";
inline constexpr const char* kSummaryDay = "День";

// One row per receipt: number in the journal, kind, number, date, time,
// operator, fiscal, lines, discounts, surcharges, subtotal, total, payment
// kind, tendered, change, one column per tax rate found in the journal,
// annulled, repeated.
TDataTable JournalReceiptTable(const TJournalTables& tables);
// One row per operation: receipt in the journal, receipt number, position,
// record code, record name, goods code, department, quantity, price, sum,
// tax group, annulled.
TDataTable JournalLineTable(const TJournalTables& tables);
// The summary as a table of four columns (section, row, count, sum): the
// totals first, then the breakdowns; the count of a goods row is its
// quantity.
TDataTable JournalSummaryDataTable(const TJournalSummary& summary);

enum class TCsvEncoding { Utf8Bom, Cp1251 };

// The table as CSV text in UTF-8: a header line, values separated by ";"
// (quoted where needed), numbers with `decimal` as separator, CR LF line ends.
std::string DataTableCsv(const TDataTable& table, char decimal);
// Writes the CSV file whole: UTF-8 after a byte order mark, or code page
// 1251. False when it cannot be written.
bool WriteDataTableCsv(const TDataTable& table, const std::string& path, TCsvEncoding encoding, char decimal);
// Writes a workbook with one sheet per table (numbers as numbers, money with
// two decimals, quantities with three) whole, through a temporary file beside
// it. False with `error` when it cannot be written.
bool WriteDataWorkbook(const std::vector<const TDataTable*>& tables, const std::string& path,
                       std::string& error);

}  // namespace zarvik
