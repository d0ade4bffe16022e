#include "journal/JournalSummary.h"

#include <array>

namespace zarvik {
namespace {

constexpr int kHours = 24;

struct Tally {
  std::int64_t count = 0;
  std::int64_t sum = 0;
};

std::string TwoDigits(int v) {
  return std::string(1, static_cast<char>('0' + v / 10 % 10)) + static_cast<char>('0' + v % 10);
}

std::string DayText(int key) {
  return TwoDigits(key % 100) + "." + TwoDigits(key / 100 % 100) + "." + TwoDigits(key / 10000 % 100);
}

std::int64_t RoundedDivide(std::int64_t a, std::int64_t b) {
  if (b == 0) return 0;
  const std::int64_t q = a / b;
  const std::int64_t r = a % b;
  if (2 * (r < 0 ? -r : r) >= b) return q + (a < 0 ? -1 : 1);
  return q;
}

template <typename Key, typename Caption>
std::vector<TJournalSummaryRow> Rows(const std::map<Key, Tally>& tallies, const Caption& caption) {
  std::vector<TJournalSummaryRow> rows;
  rows.reserve(tallies.size());
  for (const auto& [key, t] : tallies) rows.push_back({caption(key), t.count, t.sum});
  return rows;
}

bool InRange(const TJournalReceiptRow& r, std::optional<int> from, std::optional<int> to) {
  if (!from && !to) return true;
  const auto day = JournalDateKey(r.date);
  if (!day) return false;
  return (!from || *day >= *from) && (!to || *day <= *to);
}

}  // namespace

TJournalSummary SummarizeJournal(const TJournalTables& tables, const TGoodsNames& names,
                                 std::optional<int> from, std::optional<int> to) {
  TJournalSummary s;
  s.from = from;
  s.to = to;
  std::map<int, Tally> payment, tax, department, day;
  std::map<std::int64_t, Tally> goods;
  std::array<Tally, kHours> hour{};
  for (const TJournalReceiptRow& r : tables.receipts) {
    if (!InRange(r, from, to)) continue;
    if (r.annulled) {
      ++s.annulledReceipts;
      s.annulledReceiptsSum += r.linesSum + r.lineAdjust + r.totalAdjust;
      continue;
    }
    if (!r.closed) continue;
    const std::int64_t due = r.total.value_or(r.subtotal.value_or(r.linesSum + r.lineAdjust) + r.totalAdjust);
    const bool sale = r.kind == kReceiptKindSale || r.kind == kReceiptKindCashless;
    if (r.kind == kReceiptKindCashIn) s.cashIn += due;
    if (r.kind == kReceiptKindCashOut) s.cashOut += due;
    if (r.kind == kReceiptKindReturn) {
      ++s.returnReceipts;
      s.returns += due;
    }
    if (sale || r.kind == kReceiptKindReturn) {
      s.discounts += r.discounts;
      s.surcharges += r.surcharges;
      for (const std::size_t l : r.lines) {
        const TJournalLineRow& line = tables.lines[l];
        if (line.annulment && !line.adjustment) {
          ++s.annulledLines;
          s.annulledLinesSum -= line.sum;
        }
      }
    }
    if (!sale) continue;
    ++s.receipts;
    s.sales += due;
    if (r.paymentKind) {
      Tally& p = payment[*r.paymentKind];
      ++p.count;
      p.sum += due;
    }
    if (const auto h = JournalHour(r.time)) {
      Tally& t = hour[static_cast<std::size_t>(*h)];
      ++t.count;
      t.sum += due;
    }
    if (const auto d = JournalDateKey(r.date)) {
      Tally& t = day[*d];
      ++t.count;
      t.sum += due;
    }
    for (const std::size_t l : r.lines) {
      const TJournalLineRow& line = tables.lines[l];
      if (line.onSubtotal) continue;
      if (line.taxGroup) {
        Tally& t = tax[*line.taxGroup];
        if (!line.adjustment) t.count += line.annulment ? -1 : 1;
        t.sum += line.sum;
      }
      Tally& d = department[line.department];
      if (!line.adjustment) d.count += line.annulment ? -1 : 1;
      d.sum += line.sum;
      if (line.goodsCode && line.quantity) {
        Tally& g = goods[*line.goodsCode];
        g.count += line.annulment ? -*line.quantity : *line.quantity;
        g.sum += line.sum;
      }
    }
  }
  s.average = RoundedDivide(s.sales, s.receipts);
  s.byPayment = Rows(payment, [](int k) { return PaymentKindCaption(k); });
  s.byTax = Rows(tax, [](int k) { return std::to_string(k); });
  s.byDepartment = Rows(department, [](int k) { return std::to_string(k); });
  s.byGoods = Rows(goods, [&names](std::int64_t code) {
    const auto it = names.find(code);
    if (it == names.end() || it->second.empty()) return std::to_string(code);
    return it->second + " (" + std::to_string(code) + ")";
  });
  for (int h = 0; h < kHours; ++h) {
    const Tally& t = hour[static_cast<std::size_t>(h)];
    if (t.count != 0) s.byHour.push_back({TwoDigits(h), t.count, t.sum});
  }
  s.byDay = Rows(day, [](int k) { return DayText(k); });
  return s;
}

}  // namespace zarvik
