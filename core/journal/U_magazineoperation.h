// The register's operations journal: record kinds, the record classes that
// decode a record's bytes into a record line (fields separated by ";"), the
// decoding of one ReadJournal reply, and the rendering of a record line as
// receipt text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "journal/JournalKinds.h"
#include "journal/JournalMoney.h"
#include "model/Typessimpledata.h"

namespace zarvik {

// ---------------------------------------------------------------------------
// Records

// The longest record (TCodeMagOper, TNalichMagOper).
inline constexpr int kMaxJournalRecordLength = 18;
// The command bytes of ReadJournal open every reply, followed by the reply's
// result code; the decoder steps over all three wherever they stand at a
// record boundary.
inline constexpr std::uint8_t kJournalReplyCommand[] = {0x01, 0x0F};
inline constexpr std::size_t kJournalReplyHeaderLength = 3;
// The fiscal mark byte of a fiscal receipt (ASCII "K").
inline constexpr std::uint8_t kFiscalMarkByte = 75;

// A journal record: a set of field codecs that Attach points at the bytes of
// one record (owned by the caller; the codecs neither copy nor free them).
// Decode gives the fields as texts in offset order, separated by ";". The
// record's last byte is never decoded.
class TAbstMagOper {
 public:
  TAbstMagOper() = default;
  TAbstMagOper(const TAbstMagOper&) = delete;
  TAbstMagOper& operator=(const TAbstMagOper&) = delete;
  virtual ~TAbstMagOper() = default;

  // Points the field codecs at a record starting with its code byte, which
  // must hold the whole record; returns the record length.
  virtual int Attach(std::uint8_t* record) = 0;
  virtual std::string Decode() const;

 protected:
  // The record code as two upper-case hexadecimal digits.
  static std::string CodeText(const TBinKKM& code);
};

// Sum operations (A1, A2, A6, A7, AC):
// code;operation number;quantity;price;tax group;department.
class TSumMagOper : public TAbstMagOper {
 public:
  int Attach(std::uint8_t* record) override;
  std::string Decode() const override;

  TBinKKM code{nullptr, 1};
  TBinKKM operationNumber{nullptr, 1};
  TNumberKKM quantity{nullptr, 5};  // thousandths
  TNumberKKM price{nullptr, 5};     // kopecks
  TNumberKKM taxGroup{nullptr, 1};
  TBinKKM department{nullptr, 1};
};

// Operations by goods code (A3..A5, A8, A9, AB, AD, AE):
// code;operation number;goods code;quantity;price;tax group;department.
class TCodeMagOper : public TAbstMagOper {
 public:
  int Attach(std::uint8_t* record) override;
  std::string Decode() const override;

  TBinKKM code{nullptr, 1};
  TBinKKM operationNumber{nullptr, 1};
  TNumberKKM goodsCode{nullptr, 3};
  TNumberKKM quantity{nullptr, 5};  // thousandths
  TNumberKKM price{nullptr, 5};     // kopecks
  TNumberKKM taxGroup{nullptr, 1};
  TBinKKM department{nullptr, 1};
};

// Discount or surcharge on an operation and their annulments (B1..B4):
// code;operation number;second value;amount;tax group;department.
class TSkidkiOperMagOper : public TAbstMagOper {
 public:
  int Attach(std::uint8_t* record) override;
  std::string Decode() const override;

  TBinKKM code{nullptr, 1};
  TBinKKM operationNumber{nullptr, 1};
  TNumberKKM secondValue{nullptr, 2};
  TNumberKKM amount{nullptr, 5};  // kopecks
  TNumberKKM taxGroup{nullptr, 1};
  TBinKKM department{nullptr, 1};
};

// Subtotal and its discount or surcharge (B5..B9): code;operation number;amount.
class TPiMagOper : public TAbstMagOper {
 public:
  int Attach(std::uint8_t* record) override;
  std::string Decode() const override;

  TBinKKM code{nullptr, 1};
  TBinKKM operationNumber{nullptr, 1};
  TNumberKKM amount{nullptr, 7};  // kopecks
};

// Sum by tax rate (C1..C5): code;operation number;tax rate;amount.
class TSumTaxMagOper : public TAbstMagOper {
 public:
  int Attach(std::uint8_t* record) override;
  std::string Decode() const override;

  TBinKKM code{nullptr, 1};
  TBinKKM operationNumber{nullptr, 1};
  TNumberKKM taxRate{nullptr, 1};
  TNumberKKM amount{nullptr, 7};  // kopecks
};

// Amount due with payment kind and amount tendered (C9):
// code;operation number;payment kind + 1;amount due;amount tendered.
class TNalichMagOper : public TAbstMagOper {
 public:
  int Attach(std::uint8_t* record) override;
  std::string Decode() const override;

  TBinKKM code{nullptr, 1};
  TBinKKM operationNumber{nullptr, 1};
  TBinKKM paymentKind{nullptr, 1};  // counted from 0
  TNumberKKM amountDue{nullptr, 7};
  TNumberKKM amountTendered{nullptr, 7};
};

// Receipt closing (CA): code;receipt kind;receipt number;date;time;mark;operator,
// the mark "F" for a fiscal receipt and "NF" otherwise.
class TCloseCheckMagOper : public TAbstMagOper {
 public:
  int Attach(std::uint8_t* record) override;
  std::string Decode() const override;

  TBinKKM code{nullptr, 1};
  TBinKKM checkKind{nullptr, 1};
  TNumberKKM checkNumber{nullptr, 4};
  TDateKKM date{nullptr};
  TTimeKKM time{nullptr};
  TBinKKM fiscalMark{nullptr, 1};
  TBinKKM operatorNumber{nullptr, 1};
};

// Repeat print (CB) and annulment (CC) of a receipt: code;operator.
class TCheckOperMagOper : public TAbstMagOper {
 public:
  int Attach(std::uint8_t* record) override;
  std::string Decode() const override;

  TBinKKM code{nullptr, 1};
  TBinKKM operatorNumber{nullptr, 1};
};

// Decodes one reply of ReadJournal into record lines, each ended by CR LF.
// Bytes of no record kind become a line of hexadecimal digits up to and
// including the next byte AA; a record cut short by the end of the reply
// becomes a hexadecimal line of its bytes. Never reads outside `reply`;
// keeps no state between calls.
std::string DecodeJournalReply(std::span<const std::uint8_t> reply);

// Whether a reply of ReadJournal has the form a register gives it: the
// command bytes 01 0F and a result code, then records of known kinds that
// fill the rest exactly (the command bytes with a result code may stand
// between two records; a reply that ends the journal or says an error may
// carry records too). A byte
// lost or gained on the line that the frame's 8-bit check cannot see (a
// lost 00 inside a record) leaves a record cut short at the end or a byte
// of no record kind where a record should start.
bool JournalReplyWhole(std::span<const std::uint8_t> reply);

// ---------------------------------------------------------------------------
// Rendering

// Fixed texts of the rendering.
inline constexpr std::string_view kJournalDash = "--------------------\r\n";
inline constexpr std::string_view kJournalAnnulMark = "----- АННУЛЯЦИЯ ----\r\n";
inline constexpr std::size_t kJournalSeparatorStars = 69;
// CR LF, 69 asterisks, CR LF, CR LF: the line that sets receipts apart.
std::string JournalSeparator();
inline constexpr std::string_view kJournalErrorSuffix = " - ошибка!";
inline constexpr std::string_view kJournalDecodeErrorText = "ошибка декодирования операций чека";
// Fields of a record line beyond this count are not looked at.
inline constexpr std::size_t kJournalMaxFields = 20;

// The receipt kind name of a number 1..5 ("Продажа", "Возврат ", "Внесено ",
// "Выплата ", "Безнал  "), "unknown" for any other number.
std::string_view ReceiptKindName(std::int64_t number);

// Splits a record line at each ";" into at most kJournalMaxFields fields;
// empty fields between two ";" keep their place.
std::vector<std::string_view> SplitJournalLine(std::string_view line);

// Renders one record line as receipt text (possibly several lines joined by
// CR LF, never ending with CR LF). Returns false, and leaves `text` empty,
// when a field that must be a number is not one; reports nothing.
bool TryRenderJournalLine(std::string_view line, std::string& text);

// Renders one record line. A line that cannot be rendered comes back as
// itself followed by " - ошибка!", and the error "ошибка декодирования
// операций чека" is reported once on the console and in the log, and in a
// message box when `box` is set.
std::string RenderJournalLine(std::string_view line, bool box = true);

}  // namespace zarvik
