#include "journal/JournalCheck.h"

#include <algorithm>
#include <set>

namespace zarvik {
namespace {

std::string Amount(std::int64_t kopecks) {
  return KopecksText(kopecks);
}

class Checker {
 public:
  explicit Checker(const TJournalTables& t) : t_(t) {}

  std::vector<TJournalFinding> Run() {
    std::set<std::size_t> damaged;
    for (const TJournalBadRecord& bad : t_.badRecords) damaged.insert(bad.receipt);
    for (std::size_t i = 0; i < t_.receipts.size(); ++i) {
      const TJournalReceiptRow& r = t_.receipts[i];
      Numbers(i, r);
      // The figures of a receipt with a record that could not be read are
      // not checked: the missing record would be named again in every sum.
      if (!r.annulled && !damaged.contains(i)) Figures(i, r);
    }
    for (const std::size_t i : t_.unclosed) {
      Add(i, t_.receipts[i].lastRecord, TJournalFindingKind::Unclosed, "чек не закрыт записью закрытия");
    }
    for (const TJournalBadRecord& bad : t_.badRecords) {
      Add(bad.receipt, bad.record, TJournalFindingKind::BadRecord,
          "запись " + std::to_string(bad.record + 1) + " не разобрана: " + bad.line);
    }
    std::stable_sort(out_.begin(), out_.end(),
                     [](const TJournalFinding& a, const TJournalFinding& b) { return a.record < b.record; });
    return std::move(out_);
  }

 private:
  void Numbers(std::size_t i, const TJournalReceiptRow& r) {
    if (!r.number) return;
    const std::int64_t n = *r.number;
    if (previous_) {
      const std::int64_t p = *previous_;
      if (n == p + 2) {
        Add(i, r.lastRecord, TJournalFindingKind::NumberGap, "пропущен номер чека " + std::to_string(p + 1));
      } else if (n > p + 2) {
        Add(i, r.lastRecord, TJournalFindingKind::NumberGap,
            "пропущены номера чеков " + std::to_string(p + 1) + "–" + std::to_string(n - 1));
      } else if (n == p) {
        Add(i, r.lastRecord, TJournalFindingKind::NumberRepeat, "номер чека повторяется");
      } else if (n < p) {
        Add(i, r.lastRecord, TJournalFindingKind::NumberRepeat,
            "номер чека меньше номера чека перед ним (" + std::to_string(p) + ")");
      }
    }
    previous_ = n;
  }

  void Figures(std::size_t i, const TJournalReceiptRow& r) {
    const std::int64_t lines = r.linesSum + r.lineAdjust;
    if (r.subtotal && *r.subtotal != lines) {
      Add(i, r.lastRecord, TJournalFindingKind::Subtotal,
          "подытог " + Amount(*r.subtotal) + " не равен сумме позиций со скидками и надбавками " +
              Amount(lines));
    }
    // The amount due follows from the lines, whatever the subtotal record
    // says: a wrong subtotal is named once, not again in the total.
    const std::int64_t due = lines + r.totalAdjust;
    if (r.total && *r.total != due) {
      Add(i, r.lastRecord, TJournalFindingKind::Total,
          "итог " + Amount(*r.total) + " не равен подытогу со скидками и надбавками " + Amount(due));
    }
    if (r.hasTaxSums) {
      for (const auto& [group, sum] : r.linesByTax) {
        const auto it = r.taxSums.find(group);
        const std::int64_t tax = it == r.taxSums.end() ? 0 : it->second;
        // The register writes no negative sum; a group annulled below zero
        // shows as 0.
        if (tax != std::max<std::int64_t>(sum, 0)) {
          Add(i, r.lastRecord, TJournalFindingKind::TaxSum,
              "сумма по налоговой ставке " + std::to_string(group) + " " + Amount(tax) +
                  " не равна позициям этой группы " + Amount(sum));
        }
      }
      for (const auto& [rate, tax] : r.taxSums) {
        if (!r.linesByTax.contains(rate) && tax != 0) {
          Add(i, r.lastRecord, TJournalFindingKind::TaxSum,
              "сумма по налоговой ставке " + std::to_string(rate) + " " + Amount(tax) +
                  " без позиций этой группы");
        }
      }
    }
    if (r.total && r.tendered != 0) {
      if (r.tendered < *r.total) {
        Add(i, r.lastRecord, TJournalFindingKind::Payment,
            "внесено " + Amount(r.tendered) + " меньше итога " + Amount(*r.total) + ", сдача " +
                Amount(r.change));
      } else if (r.change != 0 && r.paymentKind && *r.paymentKind != kPaymentKindCash) {
        Add(i, r.lastRecord, TJournalFindingKind::Change,
            "сдача " + Amount(r.change) + " при оплате \"" + PaymentKindCaption(*r.paymentKind) + "\"");
      }
    }
  }

  void Add(std::size_t receipt, std::size_t record, TJournalFindingKind kind, const std::string& what) {
    TJournalFinding f;
    f.receipt = receipt;
    f.record = record;
    f.kind = kind;
    f.text = receipt == kNoReceipt ? what : ReceiptLabel(t_.receipts[receipt]) + ": " + what;
    out_.push_back(std::move(f));
  }

  const TJournalTables& t_;
  std::optional<std::int64_t> previous_;
  std::vector<TJournalFinding> out_;
};

}  // namespace

std::vector<TJournalFinding> CheckJournal(const TJournalTables& tables) {
  return Checker(tables).Run();
}

std::vector<std::string> JournalFindingLines(const std::vector<TJournalFinding>& findings) {
  std::vector<std::string> lines;
  if (findings.empty()) {
    lines.emplace_back(kJournalCleanText);
    return lines;
  }
  lines.reserve(findings.size());
  for (const TJournalFinding& f : findings) lines.push_back(f.text);
  return lines;
}

}  // namespace zarvik
