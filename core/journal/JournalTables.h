// The journal as data: the record lines of a journal read (the lines the data
// view shows and the receipt text is rendered from) gathered into receipts and
// their operations, one row each, for the tables, the summary and the
// consistency check. Fields are read with the same helpers the receipt text
// uses (SplitJournalLine, MoneyFromField, QuantityFromField), so a table and
// the text never disagree about a record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik {

// Receipt kinds of the closing record.
inline constexpr int kReceiptKindSale = 1;
inline constexpr int kReceiptKindReturn = 2;
inline constexpr int kReceiptKindCashIn = 3;
inline constexpr int kReceiptKindCashOut = 4;
inline constexpr int kReceiptKindCashless = 5;
// The payment kind text (kind + 1) of cash.
inline constexpr int kPaymentKindCash = 1;

// A position of the journal that is not part of any receipt row.
inline constexpr std::size_t kNoReceipt = static_cast<std::size_t>(-1);

// One operation of a receipt: a sale, purchase, return or annulment line, or
// a discount or surcharge (on the line or on the subtotal) and their
// annulments. Sums are signed as they count towards the receipt: annulment
// lines, discounts and annulled surcharges are negative.
struct TJournalLineRow {
  std::size_t receipt = kNoReceipt;  // index into TJournalTables::receipts
  std::size_t record = 0;            // index of the record line
  int position = 0;                  // operation number within the receipt
  std::uint8_t code = 0;
  std::optional<std::int64_t> goodsCode;  // operations by goods code
  int department = 0;                     // 0 for subtotal adjustments
  std::optional<std::int64_t> quantity;   // thousandths; lines only
  std::optional<std::int64_t> price;      // kopecks; lines only
  std::int64_t sum = 0;                   // kopecks, signed
  std::optional<int> taxGroup;            // none for subtotal adjustments
  bool annulment = false;                 // an annulment line or annulled adjustment
  bool annulled = false;                  // an annulment, or a line of an annulled receipt
  bool adjustment = false;                // a discount or surcharge, not a goods line
  bool onSubtotal = false;                // a discount or surcharge on the subtotal
};

struct TJournalReceiptRow {
  std::size_t firstRecord = 0;  // record lines of the receipt, inclusive
  std::size_t lastRecord = 0;
  int kind = 0;                        // receipt kind of the closing, 0 without one
  std::optional<std::int64_t> number;  // receipt number of the closing
  std::string date;                    // "DD.MM.YY" as the journal has it
  std::string time;                    // "HH:MM"
  std::optional<int> operatorNumber;   // of the closing, the annulment or the repeat
  bool fiscal = false;
  bool closed = false;    // a closing record ended it
  bool annulled = false;  // an annulment record ended it
  bool repeated = false;  // a repeat print followed it
  // Sums in kopecks.
  std::int64_t linesSum = 0;               // goods lines, annulments taken off
  std::int64_t discounts = 0;              // discounts less their annulments, positive
  std::int64_t surcharges = 0;             // surcharges less their annulments, positive
  std::int64_t lineAdjust = 0;             // signed adjustments of the lines
  std::int64_t totalAdjust = 0;            // signed adjustments of the subtotal
  std::optional<std::int64_t> subtotal;    // the subtotal record
  std::optional<std::int64_t> total;       // amount due of the payment record
  std::optional<int> paymentKind;          // payment kind text (kind + 1)
  std::int64_t tendered = 0;               // 0 when none was entered
  std::int64_t change = 0;                 // tendered less due, when tendered
  std::map<int, std::int64_t> taxSums;     // tax rate → sum of the tax sum records
  std::map<int, std::int64_t> linesByTax;  // tax group → lines with their adjustments
  bool hasTaxSums = false;
  std::vector<std::size_t> lines;  // indices into TJournalTables::lines
};

// A record that could not be read into the rows (a line of unknown bytes or
// a field that is not a number).
struct TJournalBadRecord {
  std::size_t record = 0;
  std::size_t receipt = kNoReceipt;  // the receipt it stands in, or the one before it
  std::string line;
};

struct TJournalTables {
  std::vector<TJournalReceiptRow> receipts;
  std::vector<TJournalLineRow> lines;
  std::vector<TJournalBadRecord> badRecords;
  // Record lines a receipt ended without a closing record, before the next
  // receipt started (its receipt index).
  std::vector<std::size_t> unclosed;
  std::size_t records = 0;
};

// Gathers record lines into receipts and operations. A receipt starts at an
// operation or payment record with operation number 1 (or at the first
// record after a closing), and ends at its closing record (CA) or at a
// receipt annulment (CC), which annuls it. A repeat print (CB) marks the
// receipt closed before it. An annulment with no receipt open is a receipt
// row of its own, without lines.
TJournalTables BuildJournalTables(const std::vector<std::string>& records);

// "Продажа", "Возврат", "Внесено", "Выплата", "Безнал" (the receipt text's
// kind names without their padding), "" for 0 and "unknown" for others.
std::string ReceiptKindCaption(int kind);
// "Наличные" for cash (1), else the receipt text's name of the number.
std::string PaymentKindCaption(int kind);
// Amount in kopecks as text with two decimals and `decimal` as separator.
std::string KopecksText(std::int64_t kopecks, char decimal = '.');
// Quantity in thousandths with three decimals.
std::string ThousandthsText(std::int64_t thousandths, char decimal = '.');
// "чек 105", or "чек без номера (запись 12)" naming its first record (from 1).
std::string ReceiptLabel(const TJournalReceiptRow& receipt);

// A journal date "DD.MM.YY" as a sortable number YYYYMMDD (years 2000..2099);
// nothing for an empty or bad date.
std::optional<int> JournalDateKey(std::string_view date);
// The hour of a journal time "HH:MM"; nothing for a bad time.
std::optional<int> JournalHour(std::string_view time);

}  // namespace zarvik
