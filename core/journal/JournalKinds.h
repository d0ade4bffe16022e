// The record kinds of the register's operations journal: code byte, name,
// decoding class and record length.
#pragma once

#include <cstdint>
#include <string_view>

namespace zarvik {

// The journal record classes, one per byte layout.
enum class TMagOperClass : std::uint8_t {
  None,        // not a record kind
  Sum,         // TSumMagOper
  Code,        // TCodeMagOper
  SkidkiOper,  // TSkidkiOperMagOper
  Pi,          // TPiMagOper
  SumTax,      // TSumTaxMagOper
  Nalich,      // TNalichMagOper
  CloseCheck,  // TCloseCheckMagOper
  CheckOper,   // TCheckOperMagOper
};

// Record lengths of the classes, the last (undecoded) byte included.
inline constexpr int kSumMagOperLength = 15;
inline constexpr int kCodeMagOperLength = 18;
inline constexpr int kSkidkiOperMagOperLength = 12;
inline constexpr int kPiMagOperLength = 10;
inline constexpr int kSumTaxMagOperLength = 11;
inline constexpr int kNalichMagOperLength = 18;
inline constexpr int kCloseCheckMagOperLength = 14;
inline constexpr int kCheckOperMagOperLength = 3;

// Record codes.
namespace journal_code {
inline constexpr std::uint8_t kSumSale = 0xA1;
inline constexpr std::uint8_t kSumPurchase = 0xA2;
inline constexpr std::uint8_t kCodeSale = 0xA3;
inline constexpr std::uint8_t kCodePurchase = 0xA4;
inline constexpr std::uint8_t kServicePayment = 0xA5;
inline constexpr std::uint8_t kSumSaleAnnul = 0xA6;
inline constexpr std::uint8_t kSumPurchaseAnnul = 0xA7;
inline constexpr std::uint8_t kCodeSaleAnnul = 0xA8;
inline constexpr std::uint8_t kCodePurchaseAnnul = 0xA9;
inline constexpr std::uint8_t kRecordEnd = 0xAA;  // not a record kind; ends a run of unknown bytes
inline constexpr std::uint8_t kServicePaymentAnnul = 0xAB;
inline constexpr std::uint8_t kSumReturn = 0xAC;
inline constexpr std::uint8_t kCodeReturn = 0xAD;
inline constexpr std::uint8_t kServiceReturn = 0xAE;
inline constexpr std::uint8_t kOperDiscount = 0xB1;
inline constexpr std::uint8_t kOperSurcharge = 0xB2;
inline constexpr std::uint8_t kOperDiscountAnnul = 0xB3;
inline constexpr std::uint8_t kOperSurchargeAnnul = 0xB4;
inline constexpr std::uint8_t kSubtotal = 0xB5;
inline constexpr std::uint8_t kSubtotalDiscount = 0xB6;
inline constexpr std::uint8_t kSubtotalSurcharge = 0xB7;
inline constexpr std::uint8_t kSubtotalDiscountAnnul = 0xB8;
inline constexpr std::uint8_t kSubtotalSurchargeAnnul = 0xB9;
inline constexpr std::uint8_t kTaxSumFirst = 0xC1;
inline constexpr std::uint8_t kTaxSumLast = 0xC5;
inline constexpr std::uint8_t kPayment = 0xC9;
inline constexpr std::uint8_t kCloseCheck = 0xCA;
inline constexpr std::uint8_t kRepeatPrint = 0xCB;
inline constexpr std::uint8_t kCheckAnnul = 0xCC;
}  // namespace journal_code

// The name of a record kind ("???" for a code without a name).
std::string_view JournalRecordName(std::uint8_t code);
// The decoding class of a code (TMagOperClass::None for no record kind).
TMagOperClass JournalRecordClass(std::uint8_t code);
// The record length of a class (0 for TMagOperClass::None).
int JournalRecordLength(TMagOperClass cls);

}  // namespace zarvik
