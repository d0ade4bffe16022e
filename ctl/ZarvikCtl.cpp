#include "ZarvikCtl.h"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "CtlArgs.h"
#include "CtlConsole.h"
#include "CtlHelp.h"
#include "CtlOutput.h"
#include "CtlSession.h"
#include "port/NetSecurity.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"
#include "shell/TextCodec.h"

namespace zarvik::ctl {

int TCtlSession::UnknownCommand(const std::string& word) {
  if (Json()) {
    report_->Message("error", "unknown command \"" + word + "\"");
    return ceUsage;
  }
  std::fprintf(err_, "zarvikctl: unknown command \"%s\"\n%sTry 'zarvikctl --help'.\n", word.c_str(),
               CommandList().c_str());
  return ceUsage;
}

int TCtlSession::Run() {
  words_ = args_.words;
  if (words_.empty() && Json()) return Usage("a command is needed");
  if (words_.empty()) {
    std::fputs(ProgramHelp().c_str(), args_.help ? out_ : err_);
    return args_.help ? ceOk : ceUsage;
  }
  const std::string command = Utf8Lower(words_[0]);
  if (command == "help") {
    if (words_.size() == 1) {
      std::fputs(ProgramHelp().c_str(), out_);
      return ceOk;
    }
    const char* text = FindHelp(Utf8Lower(words_[1]));
    if (text == nullptr) return UnknownCommand(words_[1]);
    std::fputs(text, out_);
    return ceOk;
  }
  const char* help = FindHelp(command);
  if (help == nullptr) return UnknownCommand(words_[0]);
  if (args_.help) {
    std::fputs(help, out_);
    return ceOk;
  }
  const std::string sub = words_.size() > 1 ? Utf8Lower(words_[1]) : std::string();
  using Handler = int (TCtlSession::*)();
  struct Entry {
    std::string_view command;
    std::string_view sub;  // empty: the command takes no subcommand
    Handler handler;
    std::vector<std::string_view> options;
    bool writesSettings = false;  // refused under CONFIG_STOP
  };
  static const Entry kEntries[] = {
      {"info", "", &TCtlSession::CmdInfo, {"json"}},
      {"options", "get", &TCtlSession::CmdOptionsGet, {}},
      {"options", "set", &TCtlSession::CmdOptionsSet, {"no-backup"}, true},
      {"departments", "get", &TCtlSession::CmdDepartmentsGet, {}},
      {"departments", "set", &TCtlSession::CmdDepartmentsSet, {"no-backup"}, true},
      {"receipt", "get", &TCtlSession::CmdReceiptGet, {}},
      {"receipt", "set", &TCtlSession::CmdReceiptSet, {"header-font", "footer-font", "no-backup"}, true},
      {"taxes", "get", &TCtlSession::CmdTaxesGet, {}},
      {"operators", "get", &TCtlSession::CmdOperatorsGet, {}},
      {"operators", "set", &TCtlSession::CmdOperatorsSet, {"no-backup"}, true},
      {"goods", "get", &TCtlSession::CmdGoodsGet, {}},
      {"goods", "read-all", &TCtlSession::CmdGoodsReadAll, {"out"}},
      {"goods", "write", &TCtlSession::CmdGoodsWrite, {"reset-sold", "no-backup", "all", "dry-run", "json", "sheet", "column"}},
      {"goods", "diff", &TCtlSession::CmdGoodsDiff, {"reset-sold", "json", "sheet", "column"}},
      {"goods", "convert", &TCtlSession::CmdGoodsConvert, {"sheet", "column"}},
      {"journal", "read", &TCtlSession::CmdJournalReadData,
       {"data", "out", "in", "receipts", "lines", "xlsx", "utf8", "json"}},
      {"journal", "summary", &TCtlSession::CmdJournalSummary, {"in", "from", "to", "goods"}},
      {"journal", "check", &TCtlSession::CmdJournalCheck, {"in"}},
      {"print", "", &TCtlSession::CmdPrint, {"font", "brightness"}},
      {"ports", "", &TCtlSession::CmdPorts, {"all"}},
      {"find", "", &TCtlSession::CmdFind, {"save"}},
      {"config", "export", &TCtlSession::CmdConfigExport, {}},
      {"config", "diff", &TCtlSession::CmdConfigDiff, {"json"}},
      {"config", "apply", &TCtlSession::CmdConfigApply, {"dry-run", "no-backup", "json"}, true},
      {"fleet", "", &TCtlSession::CmdFleet,
       {"jobs", "report", "out", "dry-run", "no-backup", "reset-sold", "data", "all", "sheet", "column", "utf8"}},
  };
  for (const Entry& e : kEntries) {
    if (e.command != command) continue;
    if (!e.sub.empty() && e.sub != sub) continue;
    if (e.sub.empty() && command != "print" && command != "find" && command != "fleet" &&
        words_.size() > 1)
      return Usage(command + " takes no arguments");
    if (!Allow(e.options)) return Usage(usageError_);
    if (e.writesSettings && args_.configStop)
      return Usage(command + " " + sub +
                   ": writing settings to the register is switched off by CONFIG_STOP, as in the window "
                   "program (goods, journal and print stay available)");
    Setup();
    bd_ = std::make_unique<TBD>();
    const int code = (this->*e.handler)();
    // What the line cost beyond what a transfer has said already: commands
    // sent again, repairs of single exchanges.
    ShowLineCounts();
    return code;
  }
  return Usage(sub.empty() ? command + " needs a subcommand" : "unknown subcommand \"" + words_[1] + "\"");
}

namespace {

// The password of a device with password authentication: the environment
// variable, else asked on the terminal without echo (never by a worker of a
// fleet run, which has no terminal of its own). Never shown or logged.
bool CtlNetPassword(bool mayAsk, std::FILE* err, const std::string& portKey, const std::string& where,
                    const std::string& user, std::string& password) {
  if (const char* env = std::getenv(kNetPasswordVariable); env != nullptr && *env != '\0') {
    password = env;
    return true;
  }
  const int in = ::fileno(stdin);
  if (!mayAsk || ::isatty(in) != 1) return false;
  termios saved{};
  if (::tcgetattr(in, &saved) != 0) return false;
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  std::fprintf(err, "Пароль пользователя %s для %s (%s): ", user.c_str(), portKey.c_str(), where.c_str());
  std::fflush(err);
  if (::tcsetattr(in, TCSAFLUSH, &quiet) != 0) return false;
  char buffer[512] = {};
  const bool got = std::fgets(buffer, sizeof buffer, stdin) != nullptr;
  ::tcsetattr(in, TCSAFLUSH, &saved);
  std::size_t n = got ? std::strlen(buffer) : 0;
  while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r')) --n;
  password.assign(buffer, n);
  std::memset(buffer, 0, sizeof buffer);
  return got && n > 0;
}

}  // namespace

int RunZarvikCtl(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                 const std::string& programPath) {
  CtlArgs parsed;
  std::string error;
  if (!ParseCtlArgs(args, parsed, error)) {
    // Asked for JSON, a script gets its object even for a bad command line.
    if (std::find(args.begin(), args.end(), "--json") != args.end()) {
      TCtlReport report;
      report.Message("error", error);
      std::fputs((report.Text(ceUsage) + "\n").c_str(), out);
      std::fflush(out);
      return ceUsage;
    }
    std::fprintf(err, "zarvikctl: %s\nTry 'zarvikctl --help'.\n", error.c_str());
    return ceUsage;
  }
  if (HasConfigStop({programPath})) parsed.configStop = true;
  // Switches as the window program's command line would set them, with
  // "autonom" always on.
  ResetSwitches();
  std::vector<std::string> switches{"autonom"};
  if (!parsed.depth.empty()) switches.push_back(parsed.depth);
  ParseSwitches(switches);
  // A worker of a fleet run marks its lines of the shared log.
  LogLinePrefix = parsed.fleetWorker.empty() ? std::string() : "[" + parsed.fleetWorker + "] ";
  TProgress::SetFleetLines(!parsed.fleetWorker.empty());
  TStderrConsole console(MessDepth > mdUser, err);
  // Help is text; any other run with --json answers with its report.
  const bool json = parsed.json && !parsed.help && (parsed.words.empty() || Utf8Lower(parsed.words[0]) != "help");
  TCtlReport report;
  {
    std::string command;
    for (std::size_t k = 0; k < parsed.words.size() && k < 2; ++k)
      command += (k > 0 ? " " : "") + Utf8Lower(parsed.words[k]);
    report.SetCommand(command);
  }
  if (json) console.CollectInto(&report);
  SetConsole(&console);
  const bool mayAsk = parsed.fleetWorker.empty();
  SetNetPasswordSource([mayAsk, err](const std::string& portKey, const std::string& where,
                                     const std::string& user, std::string& password) {
    return CtlNetPassword(mayAsk, err, portKey, where, user, password);
  });
  int result = ceFailed;
  {
    TCtlSession session(parsed, out, err, json ? &report : nullptr);
    result = session.Run();
  }
  SetNetPasswordSource(nullptr);
  SetConsole(nullptr);
  if (json) std::fputs((report.Text(result) + "\n").c_str(), out);
  std::fflush(out);
  return result;
}

}  // namespace zarvik::ctl
