// The register's command set: requests, answer checks and decoding into the
// register information.
#include <algorithm>
#include <cmath>
#include <functional>

#include "model/Typessimpledata.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "shell/TextCodec.h"
#include "shell/U_language.h"
#include "shell/UiHooks.h"

namespace zarvik {
namespace {

// Command codes.
constexpr std::uint8_t kRequestMark = 0x01;
constexpr std::uint8_t cmdGetInfo = 0x01;
constexpr std::uint8_t cmdGetDateTime = 0x02;
constexpr std::uint8_t cmdGetHeaderLine = 0x03;
constexpr std::uint8_t cmdSetHeaderLine = 0x04;
constexpr std::uint8_t cmdGetFooterLine = 0x05;
constexpr std::uint8_t cmdSetFooterLine = 0x06;
constexpr std::uint8_t cmdGetDepartment = 0x07;
constexpr std::uint8_t cmdSetDepartment = 0x08;
constexpr std::uint8_t cmdGetOptions = 0x09;
constexpr std::uint8_t cmdSetOptions = 0x0A;
constexpr std::uint8_t cmdGetTax = 0x0D;
constexpr std::uint8_t cmdReadJournal = 0x0F;
constexpr std::uint8_t cmdGetGoods = 0x10;
constexpr std::uint8_t cmdSetGoods = 0x11;
constexpr std::uint8_t cmdGetOperatorName = 0x15;
constexpr std::uint8_t cmdSetOperatorName = 0x16;
constexpr std::uint8_t cmdGetPosition = 0x17;
constexpr std::uint8_t cmdSetPosition = 0x18;
constexpr std::uint8_t cmdPrintLine = 0x19;

// Answer layout.
constexpr std::size_t kResultCodeOffset = 2;
constexpr std::int32_t kWriteAnswerLength = 3;
constexpr std::size_t kAnswerDataOffset = 3;

// Result codes the commands look at.
constexpr int kResultNotFound = 9;
constexpr int kResultBadFormat = 3;

// GetInfo answer.
constexpr std::int32_t kInfoAnswerLength = 44;
constexpr std::size_t kInfoModelOffset = 3;
constexpr std::size_t kInfoModelWidth = 16;
constexpr std::size_t kInfoSerialOffset = 19;
constexpr std::size_t kInfoSerialWidth = 12;
constexpr std::size_t kInfoVersionOffset = 31;
constexpr std::size_t kInfoVersionWidth = 12;
constexpr std::size_t kInfoWorkModeOffset = 43;
constexpr std::array<int, 6> kGoodsProbeNumbers = {100, 500, 1000, 2000, 3000, 4000};

// GetDateTime answer.
constexpr std::int32_t kDateTimeAnswerLength = 9;
constexpr std::size_t kDateOffset = 3;
constexpr std::size_t kTimeOffset = 6;

// Receipt header and footer lines.
constexpr std::int32_t kReceiptLineAnswerLength = 37;
constexpr std::size_t kReceiptFontOffset = 4;
constexpr std::size_t kReceiptTextOffset = 5;
constexpr std::size_t kTextFieldWidth = 32;
constexpr std::size_t kSetReceiptLineLength = 36;
constexpr std::size_t kSetReceiptFontOffset = 3;
constexpr std::size_t kSetReceiptTextOffset = 4;

// Departments.
constexpr std::int32_t kDepartmentAnswerLength = 36;
constexpr std::size_t kDepStatusOffset = 4;
constexpr std::size_t kDepNameOffset = 5;
constexpr std::size_t kDepNameWidth = 22;
constexpr std::size_t kDepTaxOffset = 30;
constexpr std::size_t kDepPriceOffset = 31;
constexpr std::int32_t kDepPriceLength = 5;
constexpr std::size_t kSetDepartmentLength = 35;
constexpr std::size_t kSetDepStatusOffset = 3;
constexpr std::size_t kSetDepNameOffset = 4;
constexpr std::size_t kSetDepTaxOffset = 29;
constexpr std::size_t kSetDepPriceOffset = 30;
constexpr std::uint8_t kDepGoods = 0xA1;
constexpr std::uint8_t kDepService = 0xA2;
constexpr std::uint8_t kDepClosed = 0xA3;
constexpr std::uint8_t kTaxLetterBase = 0x40;  // tax group 1 is "A"
constexpr int kMaxPriceDigits = 10;

// Options.
constexpr int kMaxOptionCount = 64;
constexpr std::uint8_t kFallbackOptionCount = 32;
constexpr std::size_t kSetOptionsValuesOffset = 2;
constexpr std::size_t kOptionValuesOffset = 3;  // option i at answer byte 2 + i

// Taxes.
constexpr std::int32_t kTaxAnswerLength = 19;
constexpr std::size_t kTaxDefinedOffset = 3;
constexpr std::size_t kTaxKindOffset = 4;
constexpr std::size_t kTaxHundredthsOffset = 5;
constexpr std::size_t kTaxWholeOffset = 6;
constexpr std::size_t kTaxNameOffset = 7;
constexpr std::size_t kTaxNameWidth = 12;

// Goods.
constexpr std::int32_t kGoodsAnswerLength = 67;
constexpr std::size_t kGoodsRequestCodeOffset = 2;
constexpr std::int32_t kGoodsRequestCodeLength = 2;
constexpr int kMaxRequestGoodsCode = 9999;
constexpr std::size_t kSetGoodsLength = 57;
constexpr std::size_t kSetGoodsRecordOffset = 2;
constexpr std::size_t kSentGoodsBytes = 54;  // the quantity sold is never sent
constexpr std::size_t kSetGoodsResetOffset = 56;
constexpr std::uint8_t kKeepSold = 0x00;
constexpr std::uint8_t kResetSold = 0xAA;

// Operators and positions.
constexpr std::int32_t kOperatorAnswerLength = 37;
constexpr std::size_t kOperatorTextOffset = 4;
constexpr std::size_t kSetOperatorLength = 35;
constexpr std::size_t kSetOperatorTextOffset = 3;
constexpr int kFourOperatorRegisterProbe = 5;
constexpr std::uint8_t kFirstOperator = 1;
constexpr std::uint8_t kLastOperator = 8;

// PrintLine.
constexpr std::size_t kPrintLineLength = 39;
constexpr int kFontLimit = 8;
constexpr int kBrightnessLimit = 6;
constexpr std::uint8_t kDefaultBrightness = 5;
constexpr std::size_t kPrintFontOffset = 2;
constexpr std::size_t kPrintBrightnessOffset = 3;
constexpr std::size_t kPrintTextOffset = 4;
constexpr std::size_t kPrintEndOffset = 36;

bool InRange(int n, int first, int last) {
  return n >= first && n <= last;
}

std::string Trim(std::string text) {
  auto blank = [](unsigned char c) { return c <= ' '; };
  while (!text.empty() && blank(static_cast<unsigned char>(text.back()))) text.pop_back();
  std::size_t first = 0;
  while (first < text.size() && blank(static_cast<unsigned char>(text[first]))) ++first;
  return text.substr(first);
}

// The value of a packed-BCD little-endian field.
std::int64_t BcdValue(const std::uint8_t* bytes, std::size_t count) {
  std::int64_t value = 0;
  for (std::size_t i = count; i-- > 0;) value = value * 100 + BcdToInt(bytes[i]);
  return value;
}

}  // namespace

int TProtocolKKM::AnswerCode(const TMessageBuffer& answer) {
  if (answer.count <= static_cast<std::int32_t>(kResultCodeOffset)) return -1;
  return answer.bytes[kResultCodeOffset];
}

bool TProtocolKKM::CheckAnswer(const TMessageBuffer& answer, std::int32_t expectedLength) {
  const int code = AnswerCode(answer);
  if (code > 0) {
    Error(ErrorText(code), true, true, true);
    return true;
  }
  if (answer.count != expectedLength) {
    Error("Не верный размер полученых данных", true, true, true);
    return true;
  }
  return false;
}

void TProtocolKKM::NewRequest(std::initializer_list<std::uint8_t> head, std::size_t length) {
  request_.bytes.fill(0);
  std::copy(head.begin(), head.end(), request_.bytes.begin());
  request_.count = static_cast<std::int32_t>(std::max(length, head.size()));
}

bool TProtocolKKM::Converse(bool continuation, TRepeat repeat, const TAnswerForm& form) {
  int repeats = 0;
  int silentRepeats = 0;
  for (;;) {
    const bool done = Exchange(request_, answer_, continuation);
    repeatingCommand_ = false;
    if (done && (!form || form(answer_))) return true;
    // A program that is closing (the exchange gave up at once), an answer
    // beyond all bounds (the register's doing), a command that must not run
    // twice, a stop by the user: no repetition.
    if (repeat != TRepeat::Harmless || UiHooks().IsTerminating() || answerTooLong_ ||
        (stopRequested && stopRequested()))
      return done;
    // A port that did not open (again) is no line to ask on: its failure
    // has been said once.
    IByteStream* line = Line();
    if (line == nullptr || !line->IsOpen()) return done;
    const bool silent = !done && !heard_;
    if (repeats >= commandRepeats || (silent && silentRepeats >= kMaxSilentCommandRepeats)) return done;
    ++repeats;
    if (silent) ++silentRepeats;
    ++lineCounts.commandsRepeated;
    WT(std::string(done ? "Answer of a wrong size" : "Exchange failed") + ", command asked again (" +
           std::to_string(repeats) + ")",
       mdFunctional);
    // After a failed exchange, whatever the register still holds of it is
    // given up (an exchange that was done left nothing pending); what came
    // meanwhile is not the answer of the repetition.
    if (!done) SendControl(kDISC);
    line->DiscardInput();
    repeatingCommand_ = true;
  }
}

bool TProtocolKKM::Ask(bool continuation, const TAnswerForm& form) {
  if (!Converse(continuation, TRepeat::Harmless, form)) return false;
  SendControl(kDISC);
  return true;
}

namespace {

// The answer of a command whose answer has a fixed length: that length, or
// a refusal of three bytes (result code, no data). A refusal of the full
// length is taken too.
bool FixedForm(const TMessageBuffer& answer, std::int32_t expectedLength) {
  if (answer.count == expectedLength) return true;
  return answer.count == kWriteAnswerLength && TProtocolKKM::AnswerCode(answer) > 0;
}

// An answer that carries a result code (a probe looks at nothing else).
bool HasResultCode(const TMessageBuffer& answer) {
  return TProtocolKKM::AnswerCode(answer) >= 0;
}

// The form of an answer of a fixed length (FixedForm), for Converse and Ask.
std::function<bool(const TMessageBuffer&)> FixedLength(std::int32_t expectedLength) {
  return [expectedLength](const TMessageBuffer& a) { return FixedForm(a, expectedLength); };
}

}  // namespace

bool TProtocolKKM::AskChecked(std::int32_t expectedLength, bool continuation) {
  return Ask(continuation, FixedLength(expectedLength)) && !CheckAnswer(answer_, expectedLength);
}

bool TProtocolKKM::Tell(TRepeat repeat) {
  if (!Converse(true, repeat, [](const TMessageBuffer& a) { return a.count == kWriteAnswerLength; })) return false;
  if (CheckAnswer(answer_, kWriteAnswerLength)) return false;
  SendControl(kDISC);
  return true;
}

bool TProtocolKKM::GetInfo() {
  if (kkm == nullptr) return false;
  MT("получаем инфо. о ККМ", mdFunctional);
  NewRequest({kRequestMark, cmdGetInfo}, 2);
  if (!Converse(true, TRepeat::Harmless, FixedLength(kInfoAnswerLength))) return false;
  if (CheckAnswer(answer_, kInfoAnswerLength)) return false;
  // The answer is kept aside until the goods probes are through: an
  // identification that fails leaves the register information as it was.
  const std::uint8_t* a = answer_.bytes.data();
  std::string model = Trim(TextFromField(a + kInfoModelOffset, kInfoModelWidth));
  std::string serialNumber = TextFromField(a + kInfoSerialOffset, kInfoSerialWidth);
  std::string version = NormalizeVersion(TextFromField(a + kInfoVersionOffset, kInfoVersionWidth));
  const std::uint8_t workMode = a[kInfoWorkModeOffset];
  SendControl(kDISC);
  int maxCountGoods = 0;
  for (int number : kGoodsProbeNumbers) {
    if (!ProbeGoods(number)) {
      // A register that answers and refuses the number has the goods
      // numbers probed so far. A probe without an answer tells nothing:
      // taking it for a refusal would make a smaller register of it, so
      // the identification has failed.
      if (kkm->linkState != lsDone) return false;
      break;
    }
    maxCountGoods = number;
  }
  TKKMInfo& info = kkm->Info();
  info.model = std::move(model);
  info.descriptorTag = std::string(kDescriptorTag);
  info.serialNumber = std::move(serialNumber);
  info.version = std::move(version);
  info.workMode = workMode;
  info.LoadDescriptor();
  info.maxCountGoods = maxCountGoods;
  return true;
}

bool TProtocolKKM::GoodsRequest(int code) {
  if (!InRange(code, 0, kMaxRequestGoodsCode)) return false;
  NewRequest({kRequestMark, cmdGetGoods}, kGoodsRequestCodeOffset + kGoodsRequestCodeLength);
  TNumberKKM number(request_.bytes.data() + kGoodsRequestCodeOffset, kGoodsRequestCodeLength);
  return number.FromText(std::to_string(code));
}

bool TProtocolKKM::ProbeGoods(int code) {
  if (kkm == nullptr || !GoodsRequest(code)) return false;
  if (!Ask(false, HasResultCode)) return false;
  const int result = AnswerCode(answer_);
  if (result < 0) {
    // An answer without its result code is no refusal.
    kkm->linkState = lsNoAnswer;
    return false;
  }
  return result == 0 || result == kResultNotFound;
}

bool TProtocolKKM::GetDateTime() {
  if (kkm == nullptr) return false;
  MT("получаем дату и время из ККМ", mdFunctional);
  NewRequest({kRequestMark, cmdGetDateTime}, 2);
  if (!AskChecked(kDateTimeAnswerLength)) return false;
  TKKMInfo& info = kkm->Info();
  info.dateText = HexText(answer_.bytes.data() + kDateOffset, 3, ".");
  info.timeText = HexText(answer_.bytes.data() + kTimeOffset, 3, ":");
  return true;
}

bool TProtocolKKM::GetReceiptLine(int n, std::uint8_t command, bool footer) {
  if (kkm == nullptr || !InRange(n, 1, kReceiptLineCount)) return false;
  MT(footer ? "получаем окончания чека из ККМ" : "получаем заголовки чека из ККМ", mdFunctional);
  NewRequest({kRequestMark, command, static_cast<std::uint8_t>(n - 1)}, 3);
  if (!AskChecked(kReceiptLineAnswerLength)) return false;
  TKKMInfo& info = kkm->Info();
  const std::uint8_t font = answer_.bytes[kReceiptFontOffset];
  std::string text = TextFromField(answer_.bytes.data() + kReceiptTextOffset, kTextFieldWidth);
  const auto i = static_cast<std::size_t>(n - 1);
  if (footer) {
    if (n == 1) info.footerFont = font;
    info.footerLines[i] = std::move(text);
  } else {
    if (n == 1) info.headerFont = font;
    info.headerLines[i] = std::move(text);
  }
  return true;
}

bool TProtocolKKM::SetReceiptLine(int n, std::uint8_t command, bool footer) {
  if (kkm == nullptr || !kkm->info || !InRange(n, 1, kReceiptLineCount)) return false;
  MT(footer ? "записываем окончание чека в ККМ" : "записываем заголовки чека в ККМ", mdFunctional);
  const TKKMInfo& info = *kkm->info;
  const auto i = static_cast<std::size_t>(n - 1);
  NewRequest({kRequestMark, command, static_cast<std::uint8_t>(n - 1)}, kSetReceiptLineLength);
  request_.bytes[kSetReceiptFontOffset] = footer ? info.footerFont : info.headerFont;
  FieldFromText(request_.bytes.data() + kSetReceiptTextOffset,
                footer ? info.footerLines[i] : info.headerLines[i], kTextFieldWidth);
  return Tell();
}

bool TProtocolKKM::GetHeaderLine(int n) {
  return GetReceiptLine(n, cmdGetHeaderLine, false);
}
bool TProtocolKKM::SetHeaderLine(int n) {
  return SetReceiptLine(n, cmdSetHeaderLine, false);
}
bool TProtocolKKM::GetFooterLine(int n) {
  return GetReceiptLine(n, cmdGetFooterLine, true);
}
bool TProtocolKKM::SetFooterLine(int n) {
  return SetReceiptLine(n, cmdSetFooterLine, true);
}

bool TProtocolKKM::GetDepartment(int n) {
  if (kkm == nullptr || !InRange(n, 1, kMaxDepartments)) return false;
  MT("получаем отдел из ККМ", mdFunctional);
  NewRequest({kRequestMark, cmdGetDepartment, static_cast<std::uint8_t>(n)}, 3);
  if (!AskChecked(kDepartmentAnswerLength)) return false;
  TDepRec& dep = kkm->Info().departments[static_cast<std::size_t>(n - 1)];
  const std::uint8_t* a = answer_.bytes.data();
  const std::uint8_t status = a[kDepStatusOffset];
  if (status == kDepGoods || status == kDepService) {
    dep.status = LangResStrHandler.Text(status == kDepGoods ? ltDepGoods : ltDepService);
    dep.name = TextFromField(a + kDepNameOffset, kDepNameWidth);
    // The tax group is shown as a letter; a byte that would make a control
    // character of it (NUL would even end the text) shows no tax group.
    const auto letter = static_cast<std::uint8_t>(a[kDepTaxOffset] + kTaxLetterBase);
    dep.taxGroup = letter < 0x20 || letter == 0x7F ? "0" : Cp1251ToUtf8(std::string(1, static_cast<char>(letter)));
    dep.price = HundredthsToMoney(BcdValue(a + kDepPriceOffset, kDepPriceLength));
  } else {
    dep.status = LangResStrHandler.Text(ltDepClosed);
    dep.name.clear();
    dep.taxGroup = "0";
    dep.price = 0.0;
  }
  return true;
}

bool TProtocolKKM::SetDepartment(int n) {
  if (kkm == nullptr || !kkm->info || !InRange(n, 1, kMaxDepartments)) return false;
  MT("записываем отдел в ККМ", mdFunctional);
  const TDepRec& dep = kkm->info->departments[static_cast<std::size_t>(n - 1)];
  std::uint8_t status = kDepClosed;
  if (dep.status == LangResStrHandler.Text(ltDepGoods)) {
    status = kDepGoods;
  } else if (dep.status == LangResStrHandler.Text(ltDepService)) {
    status = kDepService;
  }
  NewRequest({kRequestMark, cmdSetDepartment, static_cast<std::uint8_t>(n)}, kSetDepartmentLength);
  request_.bytes[kSetDepStatusOffset] = status;
  if (status != kDepClosed) {
    std::uint8_t* r = request_.bytes.data();
    FieldFromText(r + kSetDepNameOffset, dep.name, kDepNameWidth);
    if (dep.taxGroup >= "A" && dep.taxGroup <= "E") {
      r[kSetDepTaxOffset] = static_cast<std::uint8_t>(dep.taxGroup[0] - kTaxLetterBase);
    }
    // Hundredths rounded to four decimals; only a whole number of them of at
    // most ten digits is sent, anything else leaves the field zero.
    const std::string digits = std::to_string(DepartmentPriceHundredths(dep.price));
    if (digits.size() <= static_cast<std::size_t>(kMaxPriceDigits)) {
      TNumberKKM price(r + kSetDepPriceOffset, kDepPriceLength);
      price.FromText(digits);
    }
  }
  return Tell();
}

bool TProtocolKKM::GetOptions() {
  if (kkm == nullptr) return false;
  MT("получаем опции из ККМ", mdFunctional);
  NewRequest({kRequestMark, cmdGetOptions}, 2);
  if (!Ask(true)) return false;
  // An answer with an error code carries no option values.
  if (const int code = AnswerCode(answer_); code > 0) {
    Error(ErrorText(code), true, true, true);
    return false;
  }
  TKKMInfo& info = kkm->Info();
  // The count is the answer's length less its head, modulo 256.
  const int count = ((answer_.count - static_cast<std::int32_t>(kOptionValuesOffset)) % 256 + 256) % 256;
  if (count > kMaxOptionCount) {
    ET("ККМ вернула " + std::to_string(count), mdFunctional);
    info.optionCount = kFallbackOptionCount;
    return false;
  }
  info.optionCount = static_cast<std::uint8_t>(count);
  for (int i = 1; i <= count; ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    info.optionValues[k] = answer_.bytes[kOptionValuesOffset + k];
  }
  return true;
}

bool TProtocolKKM::SetOptions() {
  if (kkm == nullptr || !kkm->info) return false;
  MT("записываем опции в ККМ", mdFunctional);
  const TKKMInfo& info = *kkm->info;
  const std::size_t count = std::min<std::size_t>(info.optionCount, kMaxOptionCount);
  NewRequest({kRequestMark, cmdSetOptions}, kSetOptionsValuesOffset + count);
  std::copy_n(info.optionValues.begin(), count, request_.bytes.begin() + kSetOptionsValuesOffset);
  return Tell();
}

bool TProtocolKKM::GetTax(int n) {
  if (kkm == nullptr || !InRange(n, 1, kTaxCount)) return false;
  MT("получаем налоги из ККМ", mdFunctional);
  NewRequest({kRequestMark, cmdGetTax, static_cast<std::uint8_t>(n)}, 3);
  if (!AskChecked(kTaxAnswerLength)) return false;
  TTaxRec& tax = kkm->Info().taxes[static_cast<std::size_t>(n - 1)];
  const std::uint8_t* a = answer_.bytes.data();
  tax.defined = a[kTaxDefinedOffset];
  if (tax.defined == TTaxRec::kDefinedMark) {
    tax.kind = a[kTaxKindOffset];
    tax.rate = BcdToInt(a[kTaxWholeOffset]) + BcdToInt(a[kTaxHundredthsOffset]) / 100.0;
    tax.name = TextFromField(a + kTaxNameOffset, kTaxNameWidth);
  }
  return true;
}

bool TProtocolKKM::GetGoods(int code) {
  if (kkm == nullptr || !GoodsRequest(code)) return false;
  MT("получаем товар из ККМ", mdFunctional);
  if (!AskChecked(kGoodsAnswerLength, false)) return false;
  TKKMInfo& info = kkm->Info();
  std::copy_n(answer_.bytes.begin() + kAnswerDataOffset, kGoodsRecordSize, info.GoodsRecord.begin());
  return true;
}

bool TProtocolKKM::SetGoods() {
  if (kkm == nullptr || !kkm->info) return false;
  MT("записываем товар в ККМ", mdFunctional);
  const TKKMInfo& info = *kkm->info;
  NewRequest({kRequestMark, cmdSetGoods}, kSetGoodsLength);
  std::copy_n(info.GoodsRecord.begin(), kSentGoodsBytes, request_.bytes.begin() + kSetGoodsRecordOffset);
  request_.bytes[kSetGoodsResetOffset] = info.keepSoldCount ? kKeepSold : kResetSold;
  // The answer is the three bytes of a write; anything else lost or gained
  // a byte on the way.
  frameForm = [](std::span<const std::uint8_t> frame) { return frame.size() == kWriteAnswerLength; };
  return Tell();
}

bool TProtocolKKM::GetOperatorText(int n, std::uint8_t command, bool position) {
  if (kkm == nullptr || !InRange(n, 1, kOperatorCount)) return false;
  MT(position ? "получаем должность из ККМ" : "получаем имя оператора из ККМ", mdFunctional);
  NewRequest({kRequestMark, command, static_cast<std::uint8_t>(n)}, 3);
  if (!Ask(true, FixedLength(kOperatorAnswerLength))) return false;
  // A register with four operators refuses the fifth.
  if (n == kFourOperatorRegisterProbe && AnswerCode(answer_) == kResultBadFormat) return false;
  if (CheckAnswer(answer_, kOperatorAnswerLength)) return false;
  TKKMInfo& info = kkm->Info();
  auto& texts = position ? info.positions : info.operatorNames;
  texts[static_cast<std::size_t>(n - 1)] =
      TextFromField(answer_.bytes.data() + kOperatorTextOffset, kTextFieldWidth);
  return true;
}

bool TProtocolKKM::SetOperatorText(int n, std::uint8_t command, bool position) {
  if (kkm == nullptr || !kkm->info || !InRange(n, 1, kOperatorCount)) return false;
  MT(position ? "записываем должность в ККМ" : "записываем оператора в ККМ", mdFunctional);
  const TKKMInfo& info = *kkm->info;
  const auto& texts = position ? info.positions : info.operatorNames;
  NewRequest({kRequestMark, command, static_cast<std::uint8_t>(n)}, kSetOperatorLength);
  FieldFromText(request_.bytes.data() + kSetOperatorTextOffset, texts[static_cast<std::size_t>(n - 1)],
                kTextFieldWidth);
  return Tell();
}

bool TProtocolKKM::GetOperatorName(int n) {
  return GetOperatorText(n, cmdGetOperatorName, false);
}
bool TProtocolKKM::SetOperatorName(int n) {
  return SetOperatorText(n, cmdSetOperatorName, false);
}
bool TProtocolKKM::GetPosition(int n) {
  return GetOperatorText(n, cmdGetPosition, true);
}
bool TProtocolKKM::SetPosition(int n) {
  return SetOperatorText(n, cmdSetPosition, true);
}

int TProtocolKKM::GetOperatorCount() {
  if (kkm == nullptr) return 0;
  MT("получаем имя оператора из ККМ", mdFunctional);
  // An answer without its result code is no refusal: the probe failed.
  const auto answered = [this] {
    if (!Ask(true, HasResultCode)) return false;
    if (AnswerCode(answer_) >= 0) return true;
    kkm->linkState = lsNoAnswer;
    return false;
  };
  NewRequest({kRequestMark, cmdGetOperatorName, kFirstOperator}, 3);
  if (!answered() || AnswerCode(answer_) != 0) return 0;
  NewRequest({kRequestMark, cmdGetOperatorName, kLastOperator}, 3);
  if (!answered()) return 0;
  return AnswerCode(answer_) != 0 ? 4 : 8;
}

bool TProtocolKKM::PrintLine(int font, int brightness, const std::string& text) {
  if (kkm == nullptr || !kkm->info) return false;
  MT("Печатаем строчку", mdFunctional);
  const auto fontByte = static_cast<std::uint8_t>(InRange(font, 0, kFontLimit - 1) ? font : 0);
  const auto brightnessByte = static_cast<std::uint8_t>(
      InRange(brightness, 0, kBrightnessLimit - 1) ? brightness : kDefaultBrightness);
  NewRequest({kRequestMark, cmdPrintLine}, kPrintLineLength);
  request_.bytes[kPrintFontOffset] = fontByte;
  request_.bytes[kPrintBrightnessOffset] = brightnessByte;
  // The characters go as they are, without the register's character filter.
  const std::string bytes = Utf8ToCp1251(Utf8Left(text, kTextFieldWidth));
  std::copy_n(bytes.begin(), std::min(bytes.size(), kTextFieldWidth),
              request_.bytes.begin() + kPrintTextOffset);
  request_.bytes[kPrintEndOffset] = 0x0A;
  request_.bytes[kPrintEndOffset + 1] = 0x0D;
  request_.bytes[kPrintEndOffset + 2] = 0x00;
  // Never sent again: the register may have printed the line and only its
  // answer was lost.
  return Tell(TRepeat::Never);
}

bool TProtocolKKM::ReadAllGoods(TOnData handler, int firstCode) {
  if (kkm == nullptr) return false;
  if (firstCode == 1) {
    NewRequest({kRequestMark, cmdGetGoods, 0x01, 0x00}, 4);
  } else if (firstCode < 1 || !GoodsRequest(firstCode)) {
    onData = nullptr;
    return false;
  }
  if (handler) onData = std::move(handler);
  // A record comes whole (the answer of GetGoods); a refusal as three bytes
  // or as a record's answer.
  frameForm = [](std::span<const std::uint8_t> frame) {
    const auto size = static_cast<std::int32_t>(frame.size());
    if (size < kWriteAnswerLength) return false;
    return size == kGoodsAnswerLength || (frame[kResultCodeOffset] != 0 && size == kWriteAnswerLength);
  };
  return Exchange(request_, answer_, true);
}

bool TProtocolKKM::ReadJournal(TOnData handler) {
  if (kkm == nullptr) return false;
  if (handler) onData = std::move(handler);
  NewRequest({kRequestMark, cmdReadJournal, 0x00, 0x00}, 4);
  return Exchange(request_, answer_, true);
}

}  // namespace zarvik
