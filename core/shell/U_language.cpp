#include "shell/U_language.h"

#include <algorithm>
#include <fstream>

#include "shell/IniFile.h"
#include "shell/ProjectsVars.h"
#include "shell/TextCodec.h"
#include "shell/UserFiles.h"
#include "shell/U_filedirwork.h"

namespace zarvik {
namespace {

const std::array<std::string, kLangTextCount> kDefaultTexts = {
    "Старт",
    "Стоп",
    "Кальвент",
    "Конфигуратор",
    "Нет ошибок",
    "команда не определена",
    "команда недоступна в текущем режиме",
    "неверный формат команды или данных",
    "отказ в регистрации - кассы нет в списке разрешенных",
    "отказ в регистрации - база налогов не соответствует",
    "отказ в регистрации - не в том режиме",
    "команда мб выполнена только при закрытой смене",
    "команда мб выполнена только при закрытом чеке!",
    "товар/услуга не найдены (on-line)",
    "нет такого количества (on-line)",
    "данный товар штучный!",
    "Скидки не будет",
    "Запрет скидки с таким значением",
    "ОТКАЗ в оплате по данной карте",
    "ОТКАЗ в оплате по карте - недостаточно денег",
    "Неверный пароль при доступе к режиму",
    "неверный код товара",
    "критическая ошибка в ЭЖ",
    "требуется регистрация на сервере",
    "ФР: ошибка принтера",
    "ФР: переполнение чековых регистров",
    "ФР: недопустимая операция",
    "ФР: требуемый налог не определен",
    "ФР: переполнение ЭЖ",
    "ФР: не хватает наличных",
    "ФР неверный отдел",
    "отклонение запроса, операции",
    "переполнение (памяти, регистра и т.д.)",
    "не верный номер ККМ",
    "TX_ERR",
    "bad CRC",
    "TimeOut",
    "ошибка фискальной памяти",
    "конец данных",
    "user-defined error",
    "Неизвестная ошибка",
    "Небыло необходимых настроек. Созданы образцы настроек",
    "ККМ",
    "Подключение",
    "Отключение",
    "Товар",
    "Услуга",
    "Закрыто",
};

const std::string kEmpty;

constexpr char kCommentChar = ';';
constexpr char kLineFeed = '\n';
constexpr char kCarriageReturn = '\r';
constexpr char kNul = '\0';

bool InRange(int index) {
  return index >= 0 && index < kLangTextCount;
}

// A language name names a file of the language folder and nothing else: no
// folder separators, no control characters, not "." or "..".
bool IsPlainName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20; });
}

// Reads one line of at most kLangMaxLineLength characters; the rest of a
// longer line is skipped. False at the end of the input (nothing read).
bool ReadLine(std::istream& in, std::string& line) {
  using Traits = std::istream::traits_type;
  line.clear();
  std::istream::int_type c = in.get();
  if (c == Traits::eof()) return false;
  bool cut = false;
  while (c != Traits::eof()) {
    const char ch = Traits::to_char_type(c);
    if (ch == kLineFeed) break;
    if (line.size() < kLangMaxLineLength) {
      line.push_back(ch);
    } else {
      cut = true;
    }
    c = in.get();
  }
  // The CR of a CR LF ending is not part of the text.
  if (!cut && !line.empty() && line.back() == kCarriageReturn) line.pop_back();
  return true;
}

}  // namespace

TLangResStrHandler LangResStrHandler;

TLangResStrHandler::TLangResStrHandler() {
  SetDefaults();
}

const std::string& TLangResStrHandler::Text(int index) const {
  return InRange(index) ? texts_[static_cast<std::size_t>(index)] : kEmpty;
}

void TLangResStrHandler::SetText(int index, std::string text) {
  if (InRange(index)) texts_[static_cast<std::size_t>(index)] = std::move(text);
}

void TLangResStrHandler::SetDefaults() {
  texts_ = kDefaultTexts;
}

const std::string& TLangResStrHandler::DefaultText(int index) {
  return InRange(index) ? kDefaultTexts[static_cast<std::size_t>(index)] : kEmpty;
}

std::string LanguageFolder() {
  return JoinPath(SharedDataFolder(), std::string(kLangFolderName));
}

void ReadLanguageText(TLangResStrHandler& table, std::istream& in) {
  std::string line;
  for (int entry = 0; entry < kLangTextCount; ++entry) {
    if (!ReadLine(in, line)) break;
    const std::size_t end = std::min(line.find(kCommentChar), line.find(kNul));
    if (end != std::string::npos) line.resize(end);
    table.SetText(entry, Cp1251ToUtf8(line));
  }
}

bool LoadLanguageFile(TLangResStrHandler& table, std::string_view name) {
  if (!IsPlainName(name)) return false;
  const std::string path = JoinPath(LanguageFolder(), std::string(name) + std::string(kLangFileSuffix));
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  ReadLanguageText(table, in);
  return true;
}

bool SwitchLanguage(TLangResStrHandler& table, std::string_view name) {
  if (!IsPlainName(name)) return false;
  TIniFile ini(JoinPath(LanguageFolder(), std::string(kLangIniName)));
  ini.WriteString(kLangIniSection, kLangIniKey, name);
  ini.UpdateFile();  // a read-only program folder only loses the remembered choice
  return LoadLanguageFile(table, name);
}

std::vector<std::string> LanguageNameList() {
  std::vector<std::string> names = ListFiles(LanguageFolder(), std::string(kLangFileSuffix));
  for (std::string& n : names) n.resize(n.size() - kLangFileSuffix.size());
  names.erase(std::remove(names.begin(), names.end(), std::string()), names.end());
  return names;
}

std::string LanguageNames() {
  std::string out;
  for (const std::string& n : LanguageNameList()) {
    if (!out.empty()) out += "\r\n";
    out += n;
  }
  return out;
}

}  // namespace zarvik
