// Journal records and the decoding of ReadJournal replies into record lines.
#include "journal/U_magazineoperation.h"

#include <algorithm>
#include <array>

namespace zarvik {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr char kFieldSeparator = ';';
constexpr std::string_view kFiscalText = "F";
constexpr std::string_view kNonFiscalText = "NF";

// Field offsets from the code byte, per layout.
namespace sum_at {
constexpr int kOperation = 1, kQuantity = 2, kPrice = 7, kTaxGroup = 12, kDepartment = 13;
}
namespace code_at {
constexpr int kOperation = 1, kGoodsCode = 2, kQuantity = 5, kPrice = 10, kTaxGroup = 15, kDepartment = 16;
}
namespace skidki_at {
constexpr int kOperation = 1, kSecondValue = 2, kAmount = 4, kTaxGroup = 9, kDepartment = 10;
}
namespace pi_at {
constexpr int kOperation = 1, kAmount = 2;
}
namespace sumtax_at {
constexpr int kOperation = 1, kTaxRate = 2, kAmount = 3;
}
namespace nalich_at {
constexpr int kOperation = 1, kPaymentKind = 2, kAmountDue = 3, kAmountTendered = 10;
}
namespace close_at {
constexpr int kCheckKind = 1, kCheckNumber = 2, kDate = 6, kTime = 9, kFiscalMark = 11, kOperator = 12;
}
namespace checkoper_at {
constexpr int kOperator = 1;
}

void Bind(TBaseTypeKKM& codec, std::uint8_t* record, int offset) {
  codec.data = record + offset;
}

// Joins field texts with ";".
class LineBuilder {
 public:
  explicit LineBuilder(std::string first) : text_(std::move(first)) {}
  LineBuilder& operator<<(const std::string& field) {
    text_ += kFieldSeparator;
    text_ += field;
    return *this;
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

// One object of each record class, re-attached for every record.
struct Decoders {
  TSumMagOper sum;
  TCodeMagOper code;
  TSkidkiOperMagOper skidki;
  TPiMagOper pi;
  TSumTaxMagOper sumTax;
  TNalichMagOper nalich;
  TCloseCheckMagOper closeCheck;
  TCheckOperMagOper checkOper;

  TAbstMagOper* For(TMagOperClass cls) {
    switch (cls) {
      case TMagOperClass::Sum: return &sum;
      case TMagOperClass::Code: return &code;
      case TMagOperClass::SkidkiOper: return &skidki;
      case TMagOperClass::Pi: return &pi;
      case TMagOperClass::SumTax: return &sumTax;
      case TMagOperClass::Nalich: return &nalich;
      case TMagOperClass::CloseCheck: return &closeCheck;
      case TMagOperClass::CheckOper: return &checkOper;
      case TMagOperClass::None: break;
    }
    return nullptr;
  }
};

void AppendHexLine(std::string& text, const std::uint8_t* bytes, std::size_t count) {
  text += HexText(bytes, count, "");
  text += kCrLf;
}

bool IsReplyCommand(std::span<const std::uint8_t> rest) {
  return rest.size() >= std::size(kJournalReplyCommand) &&
         std::equal(std::begin(kJournalReplyCommand), std::end(kJournalReplyCommand), rest.begin());
}

}  // namespace

// --- TAbstMagOper ------------------------------------------------------------

std::string TAbstMagOper::Decode() const {
  return std::string();
}

std::string TAbstMagOper::CodeText(const TBinKKM& code) {
  return HexText(code.data, code.data != nullptr ? 1 : 0, "");
}

// --- TSumMagOper --------------------------------------------------------------

int TSumMagOper::Attach(std::uint8_t* record) {
  Bind(code, record, 0);
  Bind(operationNumber, record, sum_at::kOperation);
  Bind(quantity, record, sum_at::kQuantity);
  Bind(price, record, sum_at::kPrice);
  Bind(taxGroup, record, sum_at::kTaxGroup);
  Bind(department, record, sum_at::kDepartment);
  return kSumMagOperLength;
}

std::string TSumMagOper::Decode() const {
  return (LineBuilder(CodeText(code)) << operationNumber.ToText() << quantity.ToText() << price.ToText()
                                      << taxGroup.ToText() << department.ToText())
      .Take();
}

// --- TCodeMagOper -------------------------------------------------------------

int TCodeMagOper::Attach(std::uint8_t* record) {
  Bind(code, record, 0);
  Bind(operationNumber, record, code_at::kOperation);
  Bind(goodsCode, record, code_at::kGoodsCode);
  Bind(quantity, record, code_at::kQuantity);
  Bind(price, record, code_at::kPrice);
  Bind(taxGroup, record, code_at::kTaxGroup);
  Bind(department, record, code_at::kDepartment);
  return kCodeMagOperLength;
}

std::string TCodeMagOper::Decode() const {
  return (LineBuilder(CodeText(code)) << operationNumber.ToText() << goodsCode.ToText() << quantity.ToText()
                                      << price.ToText() << taxGroup.ToText() << department.ToText())
      .Take();
}

// --- TSkidkiOperMagOper -------------------------------------------------------

int TSkidkiOperMagOper::Attach(std::uint8_t* record) {
  Bind(code, record, 0);
  Bind(operationNumber, record, skidki_at::kOperation);
  Bind(secondValue, record, skidki_at::kSecondValue);
  Bind(amount, record, skidki_at::kAmount);
  Bind(taxGroup, record, skidki_at::kTaxGroup);
  Bind(department, record, skidki_at::kDepartment);
  return kSkidkiOperMagOperLength;
}

std::string TSkidkiOperMagOper::Decode() const {
  return (LineBuilder(CodeText(code)) << operationNumber.ToText() << secondValue.ToText() << amount.ToText()
                                      << taxGroup.ToText() << department.ToText())
      .Take();
}

// --- TPiMagOper ---------------------------------------------------------------

int TPiMagOper::Attach(std::uint8_t* record) {
  Bind(code, record, 0);
  Bind(operationNumber, record, pi_at::kOperation);
  Bind(amount, record, pi_at::kAmount);
  return kPiMagOperLength;
}

std::string TPiMagOper::Decode() const {
  return (LineBuilder(CodeText(code)) << operationNumber.ToText() << amount.ToText()).Take();
}

// --- TSumTaxMagOper -----------------------------------------------------------

int TSumTaxMagOper::Attach(std::uint8_t* record) {
  Bind(code, record, 0);
  Bind(operationNumber, record, sumtax_at::kOperation);
  Bind(taxRate, record, sumtax_at::kTaxRate);
  Bind(amount, record, sumtax_at::kAmount);
  return kSumTaxMagOperLength;
}

std::string TSumTaxMagOper::Decode() const {
  return (LineBuilder(CodeText(code)) << operationNumber.ToText() << taxRate.ToText() << amount.ToText())
      .Take();
}

// --- TNalichMagOper -----------------------------------------------------------

int TNalichMagOper::Attach(std::uint8_t* record) {
  Bind(code, record, 0);
  Bind(operationNumber, record, nalich_at::kOperation);
  Bind(paymentKind, record, nalich_at::kPaymentKind);
  Bind(amountDue, record, nalich_at::kAmountDue);
  Bind(amountTendered, record, nalich_at::kAmountTendered);
  return kNalichMagOperLength;
}

std::string TNalichMagOper::Decode() const {
  // The kind is counted from 0 in the record and from 1 in the text.
  const std::int64_t kind = BinValue(paymentKind);
  const std::string kindText = kind < 0 ? std::string(kFieldErrorText) : std::to_string(kind + 1);
  return (LineBuilder(CodeText(code))
          << operationNumber.ToText() << kindText << amountDue.ToText() << amountTendered.ToText())
      .Take();
}

// --- TCloseCheckMagOper -------------------------------------------------------

int TCloseCheckMagOper::Attach(std::uint8_t* record) {
  Bind(code, record, 0);
  Bind(checkKind, record, close_at::kCheckKind);
  Bind(checkNumber, record, close_at::kCheckNumber);
  Bind(date, record, close_at::kDate);
  Bind(time, record, close_at::kTime);
  Bind(fiscalMark, record, close_at::kFiscalMark);
  Bind(operatorNumber, record, close_at::kOperator);
  return kCloseCheckMagOperLength;
}

std::string TCloseCheckMagOper::Decode() const {
  const std::string mark(BinValue(fiscalMark) == kFiscalMarkByte ? kFiscalText : kNonFiscalText);
  return (LineBuilder(CodeText(code)) << checkKind.ToText() << checkNumber.ToText() << date.ToText()
                                      << time.ToText() << mark << operatorNumber.ToText())
      .Take();
}

// --- TCheckOperMagOper --------------------------------------------------------

int TCheckOperMagOper::Attach(std::uint8_t* record) {
  Bind(code, record, 0);
  Bind(operatorNumber, record, checkoper_at::kOperator);
  return kCheckOperMagOperLength;
}

std::string TCheckOperMagOper::Decode() const {
  return (LineBuilder(CodeText(code)) << operatorNumber.ToText()).Take();
}

// --- DecodeJournalReply --------------------------------------------------------

std::string DecodeJournalReply(std::span<const std::uint8_t> reply) {
  Decoders decoders;
  // The codecs view a copy of the record: the reply stays untouched, and no
  // codec can reach past the record, whatever its bytes say.
  std::array<std::uint8_t, kMaxJournalRecordLength> record{};
  std::string text;
  std::size_t p = 0;
  while (p < reply.size()) {
    const std::span<const std::uint8_t> rest = reply.subspan(p);
    if (IsReplyCommand(rest)) {
      p += std::min(kJournalReplyHeaderLength, rest.size());
      continue;
    }
    const TMagOperClass cls = JournalRecordClass(rest[0]);
    if (cls != TMagOperClass::None) {
      const auto length = static_cast<std::size_t>(JournalRecordLength(cls));
      if (length > rest.size()) {
        // A record cut short by the end of the reply: its bytes as they are.
        AppendHexLine(text, rest.data(), rest.size());
        break;
      }
      std::copy_n(rest.begin(), length, record.begin());
      TAbstMagOper* oper = decoders.For(cls);
      oper->Attach(record.data());
      text += oper->Decode();
      text += kCrLf;
      p += length;
      continue;
    }
    // Bytes of no record kind: up to and including the next AA.
    const auto aa = std::find(rest.begin(), rest.end(), journal_code::kRecordEnd);
    const std::size_t count =
        aa == rest.end() ? rest.size() : static_cast<std::size_t>(aa - rest.begin()) + 1;
    AppendHexLine(text, rest.data(), count);
    p += count;
  }
  return text;
}

bool JournalReplyWhole(std::span<const std::uint8_t> reply) {
  if (reply.size() < kJournalReplyHeaderLength || !IsReplyCommand(reply)) return false;
  std::size_t p = kJournalReplyHeaderLength;
  while (p < reply.size()) {
    const std::span<const std::uint8_t> rest = reply.subspan(p);
    if (IsReplyCommand(rest)) {
      if (rest.size() < kJournalReplyHeaderLength) return false;
      p += kJournalReplyHeaderLength;
      continue;
    }
    const TMagOperClass cls = JournalRecordClass(rest[0]);
    if (cls == TMagOperClass::None) return false;
    const auto length = static_cast<std::size_t>(JournalRecordLength(cls));
    if (length > rest.size()) return false;
    p += length;
  }
  return true;
}

}  // namespace zarvik
