#include "journal/JournalKinds.h"

namespace zarvik {
namespace {

constexpr std::string_view kNoName = "???";

struct KindRow {
  std::uint8_t code;
  TMagOperClass cls;
  std::string_view name;
};

// The C1 name begins with "0x" and a Cyrillic "С" (U+0421) before the 5.
constexpr KindRow kKinds[] = {
    {0xA1, TMagOperClass::Sum, "суммовая продажа"},
    {0xA2, TMagOperClass::Sum, "суммовая покупка"},
    {0xA3, TMagOperClass::Code, "пр. по коду"},
    {0xA4, TMagOperClass::Code, "пок.по коду"},
    {0xA5, TMagOperClass::Code, "прием оплаты за услугу"},
    {0xA6, TMagOperClass::Sum, "аннуляция суммовой подажи"},
    {0xA7, TMagOperClass::Sum, "аннуляция суммовой покупки"},
    {0xA8, TMagOperClass::Code, "аннуляция продажи по коду"},
    {0xA9, TMagOperClass::Code, "аннуляция покупки по коду"},
    {0xAB, TMagOperClass::Code, "аннуляция оплаты за услугу"},
    {0xAC, TMagOperClass::Sum, "суммовой возврат"},
    {0xAD, TMagOperClass::Code, "возврат продажи по коду"},
    {0xAE, TMagOperClass::Code, "возврат оплаты за услугу"},
    {0xB1, TMagOperClass::SkidkiOper, "скидка на операцию"},
    {0xB2, TMagOperClass::SkidkiOper, "надбавка операцию"},
    {0xB3, TMagOperClass::SkidkiOper, "анн. скидки на операцию"},
    {0xB4, TMagOperClass::SkidkiOper, "анн. надбавки на операцию"},
    {0xB5, TMagOperClass::Pi, "сумма ПИ (ИТОГО)"},
    {0xB6, TMagOperClass::Pi, "скидка на ПИ"},
    {0xB7, TMagOperClass::Pi, "надбавка на ПИ"},
    {0xB8, TMagOperClass::Pi, "анн скидки на ПИ"},
    {0xB9, TMagOperClass::Pi, "анн набавки на ПИ"},
    {0xC1, TMagOperClass::SumTax, "0x\u04215 суммы по налоговым ставкам"},
    {0xC2, TMagOperClass::SumTax, kNoName},
    {0xC3, TMagOperClass::SumTax, kNoName},
    {0xC4, TMagOperClass::SumTax, kNoName},
    {0xC5, TMagOperClass::SumTax, kNoName},
    {0xC9, TMagOperClass::Nalich, "сумма к оплате с типом оплаты и суммой внесения"},
    {0xCA, TMagOperClass::CloseCheck, "запись закрытия чека"},
    {0xCB, TMagOperClass::CheckOper, "регистрация повторной печати чека"},
    {0xCC, TMagOperClass::CheckOper, "аннуляция чека"},
};

const KindRow* FindKind(std::uint8_t code) {
  for (const KindRow& row : kKinds) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

}  // namespace

std::string_view JournalRecordName(std::uint8_t code) {
  const KindRow* row = FindKind(code);
  return row != nullptr ? row->name : kNoName;
}

TMagOperClass JournalRecordClass(std::uint8_t code) {
  const KindRow* row = FindKind(code);
  return row != nullptr ? row->cls : TMagOperClass::None;
}

int JournalRecordLength(TMagOperClass cls) {
  switch (cls) {
    case TMagOperClass::Sum: return kSumMagOperLength;
    case TMagOperClass::Code: return kCodeMagOperLength;
    case TMagOperClass::SkidkiOper: return kSkidkiOperMagOperLength;
    case TMagOperClass::Pi: return kPiMagOperLength;
    case TMagOperClass::SumTax: return kSumTaxMagOperLength;
    case TMagOperClass::Nalich: return kNalichMagOperLength;
    case TMagOperClass::CloseCheck: return kCloseCheckMagOperLength;
    case TMagOperClass::CheckOper: return kCheckOperMagOperLength;
    case TMagOperClass::None: break;
  }
  return 0;
}

}  // namespace zarvik
