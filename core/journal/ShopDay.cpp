#include "journal/ShopDay.h"

#include <algorithm>
#include <map>
#include <tuple>
#include <utility>

#include "journal/JournalCheck.h"
#include "journal/JournalSummary.h"
#include "shell/TextCodec.h"

namespace zarvik {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Orders the days of a journal: dated days by date, a date that cannot be
// read after them by its text, the undated day first.
struct DayKey {
  int order = -1;  // YYYYMMDD; -1 undated; a large number for a bad date
  std::string date;
  bool operator<(const DayKey& o) const { return std::tie(order, date) < std::tie(o.order, o.date); }
};

constexpr int kBadDateOrder = 99999999;

DayKey KeyOf(const std::string& date) {
  if (date.empty()) return {};
  return {JournalDateKey(date).value_or(kBadDateOrder), date};
}

// The date each receipt counts under.
std::vector<std::string> ReceiptDays(const TJournalTables& t) {
  std::vector<std::string> days(t.receipts.size());
  std::string last;
  for (std::size_t i = 0; i < t.receipts.size(); ++i) {
    if (!t.receipts[i].date.empty()) last = t.receipts[i].date;
    days[i] = last;
  }
  // The undated receipts before the first dated one take its day.
  const auto first = std::find_if(t.receipts.begin(), t.receipts.end(),
                                  [](const TJournalReceiptRow& r) { return !r.date.empty(); });
  if (first != t.receipts.end()) {
    const auto n = static_cast<std::size_t>(first - t.receipts.begin());
    for (std::size_t i = 0; i < n; ++i) days[i] = first->date;
  }
  return days;
}

// The receipts `indices` of `t` with their operations, as tables of their own.
TJournalTables Part(const TJournalTables& t, const std::vector<std::size_t>& indices) {
  TJournalTables part;
  for (const std::size_t i : indices) {
    TJournalReceiptRow r = t.receipts[i];
    r.lines.clear();
    for (const std::size_t l : t.receipts[i].lines) {
      TJournalLineRow line = t.lines[l];
      line.receipt = part.receipts.size();
      r.lines.push_back(part.lines.size());
      part.lines.push_back(std::move(line));
    }
    part.receipts.push_back(std::move(r));
  }
  return part;
}

}  // namespace

std::vector<TShopDayRow> BuildShopDay(const std::vector<TShopJournal>& journals) {
  std::vector<TShopDayRow> rows;
  for (const TShopJournal& journal : journals) {
    const TJournalTables tables = BuildJournalTables(journal.records);
    const std::vector<std::string> days = ReceiptDays(tables);
    std::map<DayKey, std::vector<std::size_t>> byDay;
    for (std::size_t i = 0; i < tables.receipts.size(); ++i) byDay[KeyOf(days[i])].push_back(i);
    if (byDay.empty()) byDay[DayKey{}];  // a journal without receipts still has its row
    std::map<std::size_t, std::vector<std::string>> numbering;  // receipt → findings
    for (const TJournalFinding& f : CheckJournal(tables)) {
      if (f.receipt == kNoReceipt) continue;
      if (f.kind == TJournalFindingKind::NumberGap || f.kind == TJournalFindingKind::NumberRepeat)
        numbering[f.receipt].push_back(f.text);
    }
    for (const auto& [key, indices] : byDay) {
      TShopDayRow row;
      row.name = journal.name;
      row.serial = journal.serial;
      row.date = key.date;
      const TJournalSummary s = SummarizeJournal(Part(tables, indices));
      row.receipts = s.receipts;
      row.sales = s.sales;
      row.returnReceipts = s.returnReceipts;
      row.returns = s.returns;
      row.annulledReceipts = s.annulledReceipts;
      row.annulledReceiptsSum = s.annulledReceiptsSum;
      row.annulledLines = s.annulledLines;
      row.annulledLinesSum = s.annulledLinesSum;
      row.byPayment = s.byPayment;
      for (const std::size_t i : indices) {
        const TJournalReceiptRow& r = tables.receipts[i];
        if (r.number) {
          if (!row.firstNumber) row.firstNumber = r.number;
          row.lastNumber = r.number;
        }
        if (const auto it = numbering.find(i); it != numbering.end())
          row.numbering.insert(row.numbering.end(), it->second.begin(), it->second.end());
      }
      rows.push_back(std::move(row));
    }
  }
  return rows;
}

TDataTable ShopDayDataTable(const std::vector<TShopDayRow>& rows) {
  // The payment kinds of every row, each in the place it first shows.
  std::vector<std::string> payments;
  for (const TShopDayRow& row : rows)
    for (const TJournalSummaryRow& p : row.byPayment)
      if (std::find(payments.begin(), payments.end(), p.key) == payments.end()) payments.push_back(p.key);
  TDataTable table;
  table.name = kShopDaySheet;
  table.header = {"Касса",          "Серийный №",         "День",
                  "Чеков продажи",  "Продажи",            "Чеков возврата",
                  "Возвраты",       "Аннулировано чеков", "Сумма аннулированных чеков",
                  "Аннулировано позиций", "Сумма аннулированных позиций"};
  for (const std::string& p : payments) table.header.push_back(p);
  table.header.insert(table.header.end(), {"Первый чек", "Последний чек", "Нумерация"});
  const auto number = [](const std::optional<std::int64_t>& n) {
    return n ? TDataCell::Int(*n) : TDataCell{};
  };
  for (const TShopDayRow& row : rows) {
    std::vector<TDataCell> cells{TDataCell::Of(row.name),
                                 TDataCell::Of(row.serial),
                                 TDataCell::Of(row.date),
                                 TDataCell::Int(row.receipts),
                                 TDataCell::Kopecks(row.sales),
                                 TDataCell::Int(row.returnReceipts),
                                 TDataCell::Kopecks(row.returns),
                                 TDataCell::Int(row.annulledReceipts),
                                 TDataCell::Kopecks(row.annulledReceiptsSum),
                                 TDataCell::Int(row.annulledLines),
                                 TDataCell::Kopecks(row.annulledLinesSum)};
    for (const std::string& p : payments) {
      const auto it = std::find_if(row.byPayment.begin(), row.byPayment.end(),
                                   [&](const TJournalSummaryRow& r) { return r.key == p; });
      cells.push_back(TDataCell::Kopecks(it == row.byPayment.end() ? 0 : it->sum));
    }
    cells.push_back(number(row.firstNumber));
    cells.push_back(number(row.lastNumber));
    std::string flags;
    for (const std::string& f : row.numbering) flags += (flags.empty() ? "" : "; ") + f;
    cells.push_back(TDataCell::Of(flags.empty() ? std::string(kShopNumberingOk) : flags));
    table.rows.push_back(std::move(cells));
  }
  return table;
}

std::vector<std::string> JournalRecordLines(std::string bytes) {
  if (bytes.starts_with(kUtf8Bom)) bytes.erase(0, kUtf8Bom.size());
  const std::string text = IsUtf8Text(bytes) ? bytes : Cp1251ToUtf8(bytes);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

}  // namespace zarvik
