#include "journal/JournalTables.h"

#include "journal/U_magazineoperation.h"

namespace zarvik {
namespace {

namespace jc = journal_code;

constexpr std::string_view kFiscalMarkText = "F";
constexpr int kYearBase = 2000;
constexpr int kHoursPerDay = 24;
constexpr int kHighestMonth = 12;
constexpr int kHighestDay = 31;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::uint8_t> CodeOf(std::string_view f0) {
  if (f0.size() != 2) return std::nullopt;
  const int hi = HexDigit(f0[0]);
  const int lo = HexDigit(f0[1]);
  if (hi < 0 || lo < 0) return std::nullopt;
  return static_cast<std::uint8_t>(hi * 16 + lo);
}

std::optional<int> SmallNumber(std::string_view text) {
  const auto n = ParseJournalNumber(text);
  if (!n || *n > 1000000) return std::nullopt;
  return static_cast<int>(*n);
}

bool IsAnnulmentLine(std::uint8_t code) {
  return code == jc::kSumSaleAnnul || code == jc::kSumPurchaseAnnul || code == jc::kCodeSaleAnnul ||
         code == jc::kCodePurchaseAnnul || code == jc::kServicePaymentAnnul;
}

// The sign an adjustment counts with, and whether it is a discount.
struct Adjustment {
  int sign;
  bool discount;
  bool annulment;
};
Adjustment AdjustmentOf(std::uint8_t code) {
  switch (code) {
    case jc::kOperDiscount:
    case jc::kSubtotalDiscount: return {-1, true, false};
    case jc::kOperSurcharge:
    case jc::kSubtotalSurcharge: return {1, false, false};
    case jc::kOperDiscountAnnul:
    case jc::kSubtotalDiscountAnnul: return {1, true, true};
    default: return {-1, false, true};  // annulled surcharges
  }
}

class Builder {
 public:
  explicit Builder(TJournalTables& t) : t_(t) {}

  void Add(std::size_t index, std::string_view line) {
    const std::vector<std::string_view> f = SplitJournalLine(line);
    const auto field = [&f](std::size_t i) { return i < f.size() ? f[i] : std::string_view(); };
    const auto code = CodeOf(field(0));
    const TMagOperClass cls = code ? JournalRecordClass(*code) : TMagOperClass::None;
    if (cls == TMagOperClass::None || !Take(index, *code, cls, field)) Bad(index, line);
  }

  void Finish() {
    if (open_) {
      t_.unclosed.push_back(current_);
      open_ = false;
    }
  }

 private:
  template <typename Field>
  bool Take(std::size_t index, std::uint8_t code, TMagOperClass cls, const Field& field) {
    switch (cls) {
      case TMagOperClass::Sum:
      case TMagOperClass::Code: return TakeLine(index, code, cls == TMagOperClass::Code, field);
      case TMagOperClass::SkidkiOper: return TakeLineAdjustment(index, code, field);
      case TMagOperClass::Pi: return TakeSubtotal(index, code, field);
      case TMagOperClass::SumTax: return TakeTaxSum(index, field);
      case TMagOperClass::Nalich: return TakePayment(index, field);
      case TMagOperClass::CloseCheck: return TakeClosing(index, field);
      case TMagOperClass::CheckOper: return TakeCheckOper(index, code, field);
      case TMagOperClass::None: break;
    }
    return false;
  }

  TJournalReceiptRow& Receipt() { return t_.receipts[current_]; }

  // The receipt an operation record belongs to: a new one at operation 1 or
  // when none is open.
  TJournalReceiptRow& Operation(std::size_t index, int operation) {
    // A first operation while a receipt is open: that receipt ended without
    // a closing.
    if (open_ && operation == 1) {
      t_.unclosed.push_back(current_);
      open_ = false;
    }
    if (!open_) {
      t_.receipts.emplace_back();
      current_ = t_.receipts.size() - 1;
      Receipt().firstRecord = index;
      open_ = true;
    }
    Receipt().lastRecord = index;
    return Receipt();
  }

  template <typename Field>
  bool TakeLine(std::size_t index, std::uint8_t code, bool byCode, const Field& field) {
    const std::size_t shift = byCode ? 1 : 0;
    const auto operation = SmallNumber(field(1));
    const auto quantity = QuantityFromField(field(2 + shift));
    const auto price = MoneyFromField(field(3 + shift));
    const auto tax = SmallNumber(field(4 + shift));
    const auto department = SmallNumber(field(5 + shift));
    std::optional<std::int64_t> goods;
    if (byCode) {
      goods = ParseJournalNumber(field(2));
      if (!goods) return false;
    }
    if (!operation || !quantity || !price || !tax || !department) return false;
    const auto amount = quantity->Times(*price);
    if (!amount) return false;
    TJournalLineRow row;
    row.record = index;
    row.position = *operation;
    row.code = code;
    row.goodsCode = goods;
    row.department = *department;
    row.quantity = quantity->Thousandths();
    row.price = price->Kopecks();
    row.annulment = IsAnnulmentLine(code);
    row.sum = row.annulment ? -amount->Kopecks() : amount->Kopecks();
    row.taxGroup = *tax;
    TJournalReceiptRow& r = Operation(index, *operation);
    r.linesSum += row.sum;
    r.linesByTax[*tax] += row.sum;
    Append(std::move(row));
    return true;
  }

  template <typename Field>
  bool TakeLineAdjustment(std::size_t index, std::uint8_t code, const Field& field) {
    const auto operation = SmallNumber(field(1));
    const auto amount = MoneyFromField(field(3));
    const auto tax = SmallNumber(field(4));
    const auto department = SmallNumber(field(5));
    if (!operation || !amount || !tax || !department) return false;
    const Adjustment a = AdjustmentOf(code);
    TJournalLineRow row;
    row.record = index;
    row.position = *operation;
    row.code = code;
    row.department = *department;
    row.sum = a.sign * amount->Kopecks();
    row.taxGroup = *tax;
    row.adjustment = true;
    row.annulment = a.annulment;
    TJournalReceiptRow& r = Operation(index, *operation);
    r.lineAdjust += row.sum;
    r.linesByTax[*tax] += row.sum;
    Count(r, a, amount->Kopecks());
    Append(std::move(row));
    return true;
  }

  template <typename Field>
  bool TakeSubtotal(std::size_t index, std::uint8_t code, const Field& field) {
    const auto operation = SmallNumber(field(1));
    const auto amount = MoneyFromField(field(2));
    if (!operation || !amount) return false;
    TJournalReceiptRow& r = Operation(index, *operation);
    if (code == jc::kSubtotal) {
      r.subtotal = amount->Kopecks();
      return true;
    }
    const Adjustment a = AdjustmentOf(code);
    TJournalLineRow row;
    row.record = index;
    row.position = *operation;
    row.code = code;
    row.sum = a.sign * amount->Kopecks();
    row.adjustment = true;
    row.onSubtotal = true;
    row.annulment = a.annulment;
    r.totalAdjust += row.sum;
    Count(r, a, amount->Kopecks());
    Append(std::move(row));
    return true;
  }

  template <typename Field>
  bool TakeTaxSum(std::size_t index, const Field& field) {
    const auto operation = SmallNumber(field(1));
    const auto rate = SmallNumber(field(2));
    const auto amount = MoneyFromField(field(3));
    if (!operation || !rate || !amount) return false;
    TJournalReceiptRow& r = Operation(index, *operation);
    r.taxSums[*rate] += amount->Kopecks();
    r.hasTaxSums = true;
    return true;
  }

  template <typename Field>
  bool TakePayment(std::size_t index, const Field& field) {
    const auto operation = SmallNumber(field(1));
    const auto kind = SmallNumber(field(2));
    const auto due = MoneyFromField(field(3));
    const auto tendered = MoneyFromField(field(4));
    if (!operation || !kind || !due || !tendered) return false;
    TJournalReceiptRow& r = Operation(index, *operation);
    r.total = due->Kopecks();
    r.paymentKind = *kind;
    r.tendered = tendered->Kopecks();
    r.change = r.tendered != 0 ? r.tendered - *r.total : 0;
    return true;
  }

  template <typename Field>
  bool TakeClosing(std::size_t index, const Field& field) {
    const auto kind = SmallNumber(field(1));
    const auto number = ParseJournalNumber(field(2));
    const auto oper = SmallNumber(field(6));
    if (!kind || !number || !oper) return false;
    if (!open_) {
      t_.receipts.emplace_back();
      current_ = t_.receipts.size() - 1;
      Receipt().firstRecord = index;
    }
    TJournalReceiptRow& r = Receipt();
    r.lastRecord = index;
    r.kind = *kind;
    r.number = *number;
    r.date = std::string(field(3));
    r.time = std::string(field(4));
    r.fiscal = field(5) == kFiscalMarkText;
    r.operatorNumber = *oper;
    r.closed = true;
    open_ = false;
    last_ = current_;
    return true;
  }

  template <typename Field>
  bool TakeCheckOper(std::size_t index, std::uint8_t code, const Field& field) {
    const auto oper = SmallNumber(field(1));
    if (!oper) return false;
    if (code == jc::kRepeatPrint) {
      if (last_ == kNoReceipt) return false;
      t_.receipts[last_].repeated = true;
      return true;
    }
    if (!open_) {
      t_.receipts.emplace_back();
      current_ = t_.receipts.size() - 1;
      Receipt().firstRecord = index;
    }
    TJournalReceiptRow& r = Receipt();
    r.lastRecord = index;
    r.annulled = true;
    r.operatorNumber = *oper;
    for (const std::size_t l : r.lines) t_.lines[l].annulled = true;
    open_ = false;
    last_ = current_;
    return true;
  }

  static void Count(TJournalReceiptRow& r, const Adjustment& a, std::int64_t amount) {
    const std::int64_t signedAmount = a.annulment ? -amount : amount;
    if (a.discount) {
      r.discounts += signedAmount;
    } else {
      r.surcharges += signedAmount;
    }
  }

  void Append(TJournalLineRow row) {
    row.receipt = current_;
    if (row.annulment) row.annulled = true;
    Receipt().lines.push_back(t_.lines.size());
    t_.lines.push_back(std::move(row));
  }

  void Bad(std::size_t index, std::string_view line) {
    TJournalBadRecord bad;
    bad.record = index;
    bad.receipt = open_ ? current_ : last_;
    bad.line = std::string(line);
    t_.badRecords.push_back(std::move(bad));
  }

  TJournalTables& t_;
  bool open_ = false;
  std::size_t current_ = kNoReceipt;
  std::size_t last_ = kNoReceipt;  // the receipt ended last
};

}  // namespace

TJournalTables BuildJournalTables(const std::vector<std::string>& records) {
  TJournalTables tables;
  tables.records = records.size();
  tables.receipts.reserve(records.size() / 4 + 1);
  tables.lines.reserve(records.size() / 2 + 1);
  Builder builder(tables);
  for (std::size_t i = 0; i < records.size(); ++i) builder.Add(i, records[i]);
  builder.Finish();
  return tables;
}

std::string ReceiptKindCaption(int kind) {
  if (kind == 0) return {};
  std::string name(ReceiptKindName(kind));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

std::string PaymentKindCaption(int kind) {
  if (kind == kPaymentKindCash) return "Наличные";
  return ReceiptKindCaption(kind == 0 ? -1 : kind);
}

std::string KopecksText(std::int64_t kopecks, char decimal) {
  std::string text = FormatHundredths(kopecks, 0);
  if (decimal != '.') {
    if (const std::size_t dot = text.find('.'); dot != std::string::npos) text[dot] = decimal;
  }
  return text;
}

std::string ThousandthsText(std::int64_t thousandths, char decimal) {
  const bool negative = thousandths < 0;
  const std::uint64_t v =
      negative ? 0 - static_cast<std::uint64_t>(thousandths) : static_cast<std::uint64_t>(thousandths);
  const auto per = static_cast<std::uint64_t>(kThousandthsPerUnit);
  std::string frac = std::to_string(v % per);
  frac.insert(0, 3 - frac.size(), '0');
  return (negative ? "-" : "") + std::to_string(v / per) + decimal + frac;
}

std::string ReceiptLabel(const TJournalReceiptRow& receipt) {
  if (receipt.number) return "чек " + std::to_string(*receipt.number);
  return "чек без номера (запись " + std::to_string(receipt.firstRecord + 1) + ")";
}

std::optional<int> JournalDateKey(std::string_view date) {
  if (date.size() != 8 || date[2] != '.' || date[5] != '.') return std::nullopt;
  int parts[3] = {0, 0, 0};
  for (int p = 0; p < 3; ++p) {
    const std::string_view digits = date.substr(static_cast<std::size_t>(p) * 3, 2);
    if (digits[0] < '0' || digits[0] > '9' || digits[1] < '0' || digits[1] > '9') return std::nullopt;
    parts[p] = (digits[0] - '0') * 10 + (digits[1] - '0');
  }
  if (parts[0] < 1 || parts[0] > kHighestDay || parts[1] < 1 || parts[1] > kHighestMonth) return std::nullopt;
  return (kYearBase + parts[2]) * 10000 + parts[1] * 100 + parts[0];
}

std::optional<int> JournalHour(std::string_view time) {
  if (time.size() != 5 || time[2] != ':') return std::nullopt;
  if (time[0] < '0' || time[0] > '9' || time[1] < '0' || time[1] > '9') return std::nullopt;
  const int hour = (time[0] - '0') * 10 + (time[1] - '0');
  if (hour >= kHoursPerDay) return std::nullopt;
  return hour;
}

}  // namespace zarvik
