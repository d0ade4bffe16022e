#include "CtlSession.h"

#include "CtlOutput.h"
#include "shell/DiaLog.h"
#include "shell/TextCodec.h"

namespace zarvik::ctl {
namespace {

constexpr std::size_t kOperatorNameWidth = 20;  // tmOperators "operator"
constexpr std::size_t kPositionWidth = 18;      // tmOperators "dolgn"

}  // namespace

bool TCtlSession::ReadOperators(int count) {
  for (int n = 1; n <= count; ++n) {
    if (!protocol_.GetOperatorName(n)) {
      Error(std::string(kOperatorsFailed), true, true, true);
      return false;
    }
    if (!protocol_.GetPosition(n)) {
      Error("не удалось получить информацию о должностях", true, true, true);
      return false;
    }
  }
  return true;
}

int TCtlSession::CmdOperatorsGet() {
  if (!Connect()) return ceFailed;
  const int count = protocol_.GetOperatorCount();
  if (count == 0 && kkm_.linkState != lsDone) return Fail(kOperatorsFailed);
  if (count == 0) return Fail("Данная ККМ не поддерживает программирование операторов");
  if (!ReadOperators(count)) return ceFailed;
  const TKKMInfo& i = Info();
  CtlTable table{{"№", "Оператор", "Должность"}, {}};
  for (int n = 1; n <= count; ++n)
    table.rows.push_back({std::to_string(n), i.operatorNames[static_cast<std::size_t>(n - 1)],
                          i.positions[static_cast<std::size_t>(n - 1)]});
  PrintTable(out_, table, args_.csv);
  Mess("Загружены операторы и должности", false, true, true);
  return ceOk;
}

int TCtlSession::CmdOperatorsSet() {
  std::int64_t number = 0;
  if (words_.size() < 3 || !ParseInteger(words_[2], 1, kOperatorCount, number))
    return Usage("operators set needs an operator number 1..8");
  if (words_.size() < 4) return Usage("operators set needs name= or position=");
  std::string name;
  std::string position;
  bool hasName = false;
  bool hasPosition = false;
  for (std::size_t k = 3; k < words_.size(); ++k) {
    std::string key;
    std::string value;
    if (!SplitAssignment(words_[k], key, value)) return Usage("\"" + words_[k] + "\" is not KEY=VALUE");
    if (key == "name") {
      std::string error;
      if (!FitsRegisterText("name", value, kOperatorNameWidth, error)) return Usage(error);
      name = value;
      hasName = true;
    } else if (key == "position") {
      std::string error;
      if (!FitsRegisterText("position", value, kPositionWidth, error)) return Usage(error);
      position = value;
      hasPosition = true;
    } else {
      return Usage("unknown operator field \"" + key + "\" (name, position)");
    }
  }
  if (!Connect()) return ceFailed;
  const int count = protocol_.GetOperatorCount();
  if (count == 0 && kkm_.linkState != lsDone) return Fail(kOperatorsFailed);
  if (count == 0) return Fail("Данная ККМ не поддерживает программирование операторов");
  if (number > count) return Usage("the register has " + std::to_string(count) + " operators");
  if (BackupsOn() ? !BackupSettings(stOperators, count) : !ReadOperators(count)) return ceFailed;
  TKKMInfo& i = Info();
  const auto index = static_cast<std::size_t>(number - 1);
  if (hasName) i.operatorNames[index] = name;
  if (hasPosition) i.positions[index] = position;
  Mess("Начало: операторы", false, true, true);
  for (int n = 1; n <= count; ++n) {
    const std::string partly = "Записано только " + std::to_string(n - 1) + " стр.";
    if (!protocol_.SetOperatorName(n))
      return Fail(n == 1 ? std::string("не удалось записать информацию о операторах") : partly);
    if (!protocol_.SetPosition(n))
      return Fail(n == 1 ? std::string("не удалось записать информацию о должностях") : partly);
  }
  Done("Записаны операторы и должности");
  return ceOk;
}

}  // namespace zarvik::ctl
