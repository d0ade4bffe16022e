// The journal's own figures checked against each other, receipt by receipt:
// lines with their discounts and surcharges against the subtotal, the
// subtotal with its adjustments against the amount due, the sums by tax rate
// against the lines of that group, the payment against the amount due, and
// the receipt numbers against each other.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "journal/JournalTables.h"

namespace zarvik {

enum class TJournalFindingKind {
  Subtotal,      // the subtotal is not the lines with their adjustments
  Total,         // the amount due is not the subtotal with its adjustments
  TaxSum,        // a sum by tax rate is not the lines of its group
  Payment,       // the amount tendered does not cover the amount due
  Change,        // change given on a payment other than cash
  NumberGap,     // receipt numbers missing before this receipt
  NumberRepeat,  // the number of the receipt before, or a smaller one
  Unclosed,      // a receipt that ended without a closing record
  BadRecord,     // a record that could not be read
};

struct TJournalFinding {
  std::size_t receipt = kNoReceipt;  // index into TJournalTables::receipts
  std::size_t record = 0;            // the record line it points at
  TJournalFindingKind kind = TJournalFindingKind::Subtotal;
  std::string text;  // "чек 105: ..." — the receipt is named in the text
};

// The text of a clean journal.
inline constexpr const char* kJournalCleanText = "Расхождений в журнале не найдено";

// Every finding in journal order. Annulled receipts are checked only for
// their number; a receipt without a subtotal, tax sums or payment record is
// not checked for what it lacks (the register writes them as it is set up).
std::vector<TJournalFinding> CheckJournal(const TJournalTables& tables);

// The findings as lines of text, or the clean journal's text alone.
std::vector<std::string> JournalFindingLines(const std::vector<TJournalFinding>& findings);

}  // namespace zarvik
