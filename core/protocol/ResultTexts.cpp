#include "protocol/ResultTexts.h"

#include <array>
#include <string_view>

#include "shell/U_language.h"

namespace zarvik {
namespace {

// Codes with a text of their own in the language table: 0..32 in order, then
// these three.
constexpr int kLastLinkCode = 32;
constexpr int kFiscalMemoryCode = 90;
constexpr int kEndOfDataCode = 91;
constexpr int kUserDefinedCode = 99;

constexpr std::array<std::string_view, 20> kErrorTexts = {
    "Нет ошибок",
    "Команда не определена",
    "Команда недоступна в текущем режиме",
    "Неверный формат команды или данных",
    "Отказано в регистрации-кассы нет в списке разрешенных",
    "Отказано в регистрации-базы налогов не соответствует",
    "Отказано в регистрации-не верный режим работы ККМ",
    "Команда может быть выполнена только при закрытой смене",
    "Команда может быть выполнена только при закрытом чеке",
    "Товар/услуга не найдены",
    "Нет такого количества",
    "Кол-во данного товара может быть только штучным",
    "Скидка не возможна",
    "Неверное значение скидки",
    "Отказано в оплате по данной карте",
    "На карте недостаточно денег",
    "Неверный пароль при доступе к режим",
    "Неверный код товара/услуги",
    "Критическая ошибка в ЭЖ",
    "Требуется регистрация на сервере",
};

}  // namespace

std::string ErrorText(int code) {
  if (code >= 0 && static_cast<std::size_t>(code) < kErrorTexts.size()) {
    return std::string(kErrorTexts[static_cast<std::size_t>(code)]);
  }
  return "Неизвестная ошибка:" + std::to_string(code);
}

std::string ResultText(int code) {
  if (code >= 0 && code <= kLastLinkCode) return LangResStrHandler.Text(ltNoError + code);
  switch (code) {
    case kFiscalMemoryCode: return LangResStrHandler.Text(ltFiscalMemoryError);
    case kEndOfDataCode: return LangResStrHandler.Text(ltEndOfData);
    case kUserDefinedCode: return LangResStrHandler.Text(ltUserDefinedError);
    default: return LangResStrHandler.Text(ltUnknownError) + std::to_string(code);
  }
}

}  // namespace zarvik
