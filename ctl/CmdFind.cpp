#include "CtlSession.h"

#include "CtlOutput.h"
#include "port/PortDevices.h"
#include "port/PortTable.h"
#include "protocol/RegisterSearch.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"
#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"
#include "shell/UserFiles.h"
#include "store/GoodsExchange.h"

namespace zarvik::ctl {
namespace {

constexpr std::string_view kPortSection = "Port";
constexpr std::string_view kPortPrefix = "com";

// "5" or "COM5" (any case).
bool PortOperand(const std::string& word, int& port) {
  std::string_view text = word;
  const std::string lower = Utf8Lower(word);
  if (lower.rfind(kPortPrefix, 0) == 0) text.remove_prefix(kPortPrefix.size());
  std::int64_t n = 0;
  if (!ParseInteger(text, kMinPortNumber, kMaxPortNumber, n)) return false;
  port = static_cast<int>(n);
  return true;
}

std::string OutcomeWord(TSearchOutcome outcome) {
  switch (outcome) {
    case TSearchOutcome::Trying: return "опрос";
    case TSearchOutcome::Skipped: return "пропущен";
    case TSearchOutcome::NoAnswer: return "нет ответа";
    case TSearchOutcome::NotConfirmed: return "не подтверждена";
    case TSearchOutcome::Found: return "ККМ";
  }
  return {};
}

}  // namespace

int TCtlSession::CmdFind() {
  std::vector<int> ports;
  for (std::size_t k = 1; k < words_.size(); ++k) {
    int port = 0;
    if (!PortOperand(words_[k], port))
      return Usage("\"" + words_[k] + "\" is not a port (1..256 or COM1..COM256)");
    ports.push_back(port);
  }
  if (ports.empty() && args_.port > 0) ports.push_back(args_.port);
  if (ports.empty())
    for (const TPortEntry& e : PortTable()) ports.push_back(e.number);
  if (ports.empty()) return Fail("ККМ не найдена: нет ни одного последовательного порта (zarvikctl ports)");

  TSearchRequest request;
  request.ports = ports;
  request.speeds = SearchSpeedOrder(port_.BaudRate());
  request.networkNumber = kkm_.networkNumber;
  request.timeouts = &port_;
  if (args_.csv) PrintLine(out_, "Порт;Устройство;Скорость;Итог;Подробно");
  TSearchCallbacks callbacks;
  callbacks.report = [this](const TSearchAttempt& a) {
    if (a.outcome == TSearchOutcome::Trying) return;
    if (args_.csv) {
      const std::string cells[] = {"COM" + std::to_string(a.port), a.device,
                                   a.speed == 0 ? "" : std::to_string(a.speed), OutcomeWord(a.outcome),
                                   a.detail};
      std::string line = QuoteCsvField(cells[0]);
      for (std::size_t i = 1; i < std::size(cells); ++i) line += ";" + QuoteCsvField(cells[i]);
      PrintLine(out_, line);
    } else {
      PrintLine(out_, SearchAttemptText(a));
    }
    std::fflush(out_);
    Mess(SearchAttemptText(a), false, false, true);
  };
  callbacks.stopRequested = [] { return TStopSignals::Requested(); };
  const TStopSignals signals;
  const TSearchResult result = FindRegister(request, callbacks);
  const std::string summary = SearchResultText(result);
  if (!result.error.empty()) return Fail(summary);
  if (result.stopped) return Interrupted(summary);
  if (!result.found) return Fail(summary);
  Done(summary);
  if (args_.save) {
    port_.SetPortNumber(result.port);
    port_.SetBaudRate(result.speed);
    EnsureFolder(UserConfigFolder());
    port_.SaveSettings(ProgramIniPath(), std::string(kPortSection));
    Done("записано в " + ProgramIniPath() + " [" + std::string(kPortSection) + "]");
  }
  return ceOk;
}

}  // namespace zarvik::ctl
