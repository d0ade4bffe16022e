// Rendering of journal record lines as receipt text.
#include <optional>

#include "journal/U_magazineoperation.h"
#include "shell/DiaLog.h"

namespace zarvik {
namespace {

namespace jc = journal_code;

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kUnknownKind = "unknown";
constexpr std::string_view kFirstOperation = "1";
constexpr std::string_view kCashPayment = "1";
constexpr std::string_view kNoTender = "0";
constexpr std::string_view kFiscalMark = "F";

// Printf widths of the receipt formats.
constexpr std::size_t kDepartmentWidth = 2;      // %-2s
constexpr std::size_t kOperationWidth = 2;       // %2s
constexpr std::size_t kOperatorWidth = 2;        // %2s
constexpr std::size_t kGoodsCodeWidth = 4;       // %-4s
constexpr std::size_t kQuantityPriceWidth = 15;  // %-15s
constexpr std::size_t kDiscountDigitsWidth = 2;  // %2s
constexpr int kLineAmountWidth = 15;             // %15.2f
constexpr int kDiscountAmountWidth = 8;          // %8.2f
constexpr int kSubtotalAmountWidth = 10;         // %10.2f
constexpr int kKindAmountWidth = 11;             // %11.2f
constexpr int kCashWidth = 10;                   // %10.2f
constexpr int kChangeWidth = 14;                 // %14.2f
constexpr int kPriceWidth = 0;                   // %.2f

constexpr std::string_view kReceiptKinds[] = {"Продажа", "Возврат ", "Внесено ", "Выплата ", "Безнал  "};

// The fields of one line; a missing field is the empty text.
class Fields {
 public:
  explicit Fields(std::string_view line) : f_(SplitJournalLine(line)) {}
  std::string_view operator[](std::size_t i) const { return i < f_.size() ? f_[i] : std::string_view(); }

 private:
  std::vector<std::string_view> f_;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The code byte from the first two characters of F0; nothing when they are
// not two hexadecimal digits.
std::optional<std::uint8_t> CodeOf(std::string_view f0) {
  if (f0.size() < 2) return std::nullopt;
  const int hi = HexDigit(f0[0]);
  const int lo = HexDigit(f0[1]);
  if (hi < 0 || lo < 0) return std::nullopt;
  return static_cast<std::uint8_t>(hi * 16 + lo);
}

// "%gx%.2f" of quantity and price.
std::string QuantityPrice(Quantity q, Money p) {
  return q.Format() + "x" + p.Format(kPriceWidth);
}

// The receipt kind name of a field that must hold a number.
std::optional<std::string_view> KindNameOf(std::string_view field) {
  if (field.empty()) return std::nullopt;
  for (char c : field) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  const auto n = ParseJournalNumber(field);
  // A number too long for 64 bits is a number all the same, just no kind.
  return ReceiptKindName(n ? *n : -1);
}

std::string ReceiptStart() {
  return JournalSeparator() + std::string(kJournalDash);
}

// "%-2sСК %15.2f //%2s.%s" — department, amount, operation number, name.
std::string OperationHead(std::string_view department, Money amount, std::string_view operation,
                          std::string_view name) {
  return PadRight(department, kDepartmentWidth) + "СК " + amount.Format(kLineAmountWidth) + " //" +
         PadLeft(operation, kOperationWidth) + "." + std::string(name);
}

std::optional<std::string> RenderSum(std::uint8_t code, const Fields& f) {
  const auto q = QuantityFromField(f[2]);
  const auto p = MoneyFromField(f[3]);
  if (!q || !p) return std::nullopt;
  const auto amount = q->Times(*p);
  if (!amount) return std::nullopt;
  std::string text = OperationHead(f[5], *amount, f[1], JournalRecordName(code)) + " " +
                     PadRight(QuantityPrice(*q, *p), kQuantityPriceWidth) + " налог.гр." + std::string(f[4]);
  if (code == jc::kSumSaleAnnul || code == jc::kSumPurchaseAnnul)
    text = std::string(kJournalAnnulMark) + text;
  if (f[1] == kFirstOperation) text = ReceiptStart() + text;
  return text;
}

std::optional<std::string> RenderCode(std::uint8_t code, const Fields& f) {
  const auto q = QuantityFromField(f[3]);
  const auto p = MoneyFromField(f[4]);
  if (!q || !p) return std::nullopt;
  const auto amount = q->Times(*p);
  if (!amount) return std::nullopt;
  std::string text = OperationHead(f[6], *amount, f[1], JournalRecordName(code)) + ":" +
                     PadRight(f[2], kGoodsCodeWidth) + " " +
                     PadRight(QuantityPrice(*q, *p), kQuantityPriceWidth) + " налог.гр." + std::string(f[5]);
  if (code == jc::kCodeSaleAnnul || code == jc::kCodePurchaseAnnul || code == jc::kServicePaymentAnnul) {
    text = std::string(kJournalAnnulMark) + text;
  }
  if (f[1] == kFirstOperation) text = ReceiptStart() + text;
  return text;
}

std::string_view AdjustmentWord(std::uint8_t code) {
  switch (code) {
    case jc::kOperDiscount:
    case jc::kSubtotalDiscount: return "Скидка";
    case jc::kOperSurcharge:
    case jc::kSubtotalSurcharge: return "Надбав";
    case jc::kOperDiscountAnnul:
    case jc::kSubtotalDiscountAnnul: return "Ан.ск.";
    case jc::kOperSurchargeAnnul:
    case jc::kSubtotalSurchargeAnnul: return "Ан.над";
    default: return "      ";
  }
}

std::optional<std::string> RenderOperAdjustment(std::uint8_t code, const Fields& f) {
  const auto amount = MoneyFromField(f[3]);
  if (!amount) return std::nullopt;
  return PadRight(f[5], kDepartmentWidth) + "СК " + std::string(AdjustmentWord(code)) + " " +
         amount->Format(kDiscountAmountWidth) + " //" + PadLeft(f[1], kOperationWidth) + "." +
         std::string(JournalRecordName(code)) + ":" + PadLeft(f[3], kDiscountDigitsWidth) + "  налог.гр." +
         std::string(f[4]);
}

std::optional<std::string> RenderSubtotal(std::uint8_t code, const Fields& f) {
  const auto amount = MoneyFromField(f[2]);
  if (!amount) return std::nullopt;
  return "ПИ " + std::string(AdjustmentWord(code)) + " " + amount->Format(kSubtotalAmountWidth) + " //" +
         PadLeft(f[1], kOperationWidth) + "." + std::string(JournalRecordName(code));
}

std::optional<std::string> RenderTaxSum(std::uint8_t code, const Fields& f) {
  const auto amount = MoneyFromField(f[3]);
  if (!amount) return std::nullopt;
  return "Нал.ст." + std::string(f[2]) + " " + amount->Format(kLineAmountWidth) + " //" +
         PadLeft(f[1], kOperationWidth) + "." + std::string(JournalRecordName(code)) + " " +
         std::string(f[0]);
}

std::optional<std::string> RenderPayment(const Fields& f) {
  const auto due = MoneyFromField(f[3]);
  if (!due) return std::nullopt;
  std::string text;
  if (f[2] == kCashPayment) {
    text = "ИТОГ " + due->Format(kLineAmountWidth);
  } else {
    const auto kind = KindNameOf(f[2]);
    if (!kind) return std::nullopt;
    text = std::string(*kind) + " " + due->Format(kKindAmountWidth);
  }
  if (f[4] != kNoTender) {
    const auto tendered = MoneyFromField(f[4]);
    if (!tendered) return std::nullopt;
    const auto change = tendered->Minus(*due);
    if (!change) return std::nullopt;
    text += "\r\nНАЛИЧНЫМИ " + tendered->Format(kCashWidth) + "\r\nСДАЧА " + change->Format(kChangeWidth);
  }
  if (f[1] == kFirstOperation) text = ReceiptStart() + text;
  return text;
}

std::optional<std::string> RenderClosing(const Fields& f) {
  const auto kind = KindNameOf(f[1]);
  if (!kind) return std::nullopt;
  return std::string(kJournalDash) + std::string(f[3]) + " " + std::string(f[4]) +
         " ОП:" + PadLeft(f[6], kOperatorWidth) + " //" + std::string(*kind) +
         "\r\nЧЕК:" + std::string(f[2]) + (f[5] == kFiscalMark ? "     ФИСКАЛЬНЫЙ" : "  НЕ ФИСКАЛЬНЫЙ");
}

std::optional<std::string> Render(std::string_view line) {
  const Fields f(line);
  const auto code = CodeOf(f[0]);
  if (!code) return std::string("???");
  switch (JournalRecordClass(*code)) {
    case TMagOperClass::Sum: return RenderSum(*code, f);
    case TMagOperClass::Code: return RenderCode(*code, f);
    case TMagOperClass::SkidkiOper: return RenderOperAdjustment(*code, f);
    case TMagOperClass::Pi: return RenderSubtotal(*code, f);
    case TMagOperClass::SumTax: return RenderTaxSum(*code, f);
    case TMagOperClass::Nalich: return RenderPayment(f);
    case TMagOperClass::CloseCheck: return RenderClosing(f);
    case TMagOperClass::CheckOper:
      if (*code == jc::kRepeatPrint) return "Повторный чек  ОП:" + PadLeft(f[1], kOperatorWidth);
      return std::string(kJournalDash) + "Аннуляция чека ОП:" + PadLeft(f[1], kOperatorWidth);
    case TMagOperClass::None: break;
  }
  return std::string("???");
}

}  // namespace

std::string JournalSeparator() {
  return std::string(kCrLf) + std::string(kJournalSeparatorStars, '*') + std::string(kCrLf) +
         std::string(kCrLf);
}

std::string_view ReceiptKindName(std::int64_t number) {
  if (number >= 1 && number <= static_cast<std::int64_t>(std::size(kReceiptKinds))) {
    return kReceiptKinds[static_cast<std::size_t>(number - 1)];
  }
  return kUnknownKind;
}

std::vector<std::string_view> SplitJournalLine(std::string_view line) {
  std::vector<std::string_view> fields;
  while (fields.size() < kJournalMaxFields) {
    const std::size_t sep = line.find(';');
    if (sep == std::string_view::npos) {
      if (!line.empty()) fields.push_back(line);
      break;
    }
    fields.push_back(line.substr(0, sep));
    line.remove_prefix(sep + 1);
  }
  return fields;
}

bool TryRenderJournalLine(std::string_view line, std::string& text) {
  auto rendered = Render(line);
  if (!rendered) {
    text.clear();
    return false;
  }
  text = std::move(*rendered);
  return true;
}

std::string RenderJournalLine(std::string_view line, bool box) {
  std::string text;
  if (TryRenderJournalLine(line, text)) return text;
  Error(std::string(kJournalDecodeErrorText), box, true, true);
  return std::string(line) + std::string(kJournalErrorSuffix);
}

}  // namespace zarvik
