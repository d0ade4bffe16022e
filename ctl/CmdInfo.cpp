#include "CtlSession.h"

#include "CtlOutput.h"

namespace zarvik::ctl {
namespace {

constexpr std::string_view kDateTimeFailed = "не удалось получить информацию о Дате и времени";
constexpr std::string_view kDefMark = "def:";

std::string WorkModeText(std::uint8_t mode) {
  switch (mode) {
    case 0: return "AUTONOM";
    case 1: return "ON-LINE";
    case 2: return "OFF-LINE";
    case 3: return "FR";
    default: return "???: " + std::to_string(mode);
  }
}

}  // namespace

int TCtlSession::CmdInfo() {
  if (!Connect()) return ceFailed;
  if (!protocol_.GetDateTime()) return Fail(kDateTimeFailed);
  if (!protocol_.GetOptions()) return Fail(kOptionsFailed);
  const int operators = protocol_.GetOperatorCount();
  // A probe without an answer is no register without operators.
  if (operators == 0 && kkm_.linkState != lsDone) return Fail(kOperatorsFailed);
  const TKKMInfo& i = Info();
  const bool described = i.OptionDescription(1).find(kDefMark) == std::string::npos;
  if (Json()) {
    report_->Result().Sub("register", TJson::Object()
                                          .Str("serial", i.serialNumber)
                                          .Str("model", i.model)
                                          .Str("version", i.version)
                                          .Str("mode", WorkModeText(i.workMode))
                                          .Str("date", i.dateText)
                                          .Str("time", i.timeText)
                                          .Int("port", port_.PortNumber())
                                          .Int("speed", port_.BaudRate())
                                          .Int("net", kkm_.networkNumber)
                                          .Str("descriptor", described ? i.DescriptorPath() : "")
                                          .Int("options", i.OptionCount())
                                          .Int("departments", i.maxCountDepat)
                                          .Int("fonts", i.FontCount())
                                          .Int("max_goods", i.MaxCountGoods())
                                          .Int("operators", operators));
    return ceOk;
  }
  PrintPairs(out_,
             {{"Модель", i.model},
              {"Серийный номер", i.serialNumber},
              {"Версия", i.version},
              {"Режим", WorkModeText(i.workMode)},
              {"Дата", i.dateText},
              {"Время", i.timeText},
              {"Порт", "COM" + std::to_string(port_.PortNumber())},
              {"Скорость", std::to_string(port_.BaudRate())},
              {"Сетевой №", std::to_string(kkm_.networkNumber)},
              {"Описание модели", described ? i.DescriptorPath() : "нет"},
              {"Опций", std::to_string(i.OptionCount())},
              {"Отделов", std::to_string(i.maxCountDepat)},
              {"Шрифтов", std::to_string(i.FontCount())},
              {"Макс.№ товара", std::to_string(i.MaxCountGoods())},
              {"Операторов", std::to_string(operators)}},
             args_.csv);
  return ceOk;
}

}  // namespace zarvik::ctl
