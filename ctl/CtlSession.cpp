#include "CtlSession.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <iterator>

#include "CtlOutput.h"
#include "model/RegisterText.h"
#include "shell/DiaLog.h"
#include "shell/IniFile.h"
#include "shell/ProjectsVars.h"
#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"
#include "shell/UserFiles.h"
#include "store/ProfileStore.h"

namespace zarvik::ctl {
namespace {

// Settings shared with the window program.
constexpr std::string_view kPortSection = "Port";
constexpr std::string_view kNetSection = "NET";
constexpr std::string_view kNetKey = "NUMBER";
constexpr int kDefaultNetworkNumber = 1;
constexpr int kLowestNetworkNumber = 1;
constexpr int kHighestNetworkNumber = 98;

// The system's texts.
constexpr std::string_view kCannotConnect = "Не удалось подключиться!";
constexpr std::string_view kPortOpenFailed = "не удалось откыть порт";
constexpr std::string_view kNoAnswer = "ККМ не отвечает";
constexpr std::string_view kInfoFailed = "не удалось получить информацию о ККМ";

}  // namespace

std::string FixedText(Currency value, int decimals) {
  // Rounded half away from zero to `decimals`, then written with them all.
  std::int64_t scale = 1;
  for (int i = decimals; i < 4; ++i) scale *= 10;
  std::int64_t raw = value.raw;
  const std::int64_t half = scale / 2;
  raw = raw >= 0 ? (raw + half) / scale : -((-raw + half) / scale);
  std::string digits = std::to_string(raw < 0 ? -raw : raw);
  if (digits.size() <= static_cast<std::size_t>(decimals))
    digits.insert(0, static_cast<std::size_t>(decimals) + 1 - digits.size(), '0');
  std::string out =
      (raw < 0 ? "-" : "") + digits.substr(0, digits.size() - static_cast<std::size_t>(decimals));
  if (decimals > 0)
    out += DecimalSeparator() + digits.substr(digits.size() - static_cast<std::size_t>(decimals));
  return out;
}

std::string MoneyText(double roubles) {
  Currency c;
  CurrencyFromDouble(roubles, c);
  return FixedText(c, 2);
}

bool HasExtension(const std::string& path, std::string_view ext) {
  if (path.size() < ext.size()) return false;
  return Utf8Lower(path.substr(path.size() - ext.size())) == ext;
}

bool SplitAssignment(const std::string& operand, std::string& key, std::string& value) {
  const std::size_t eq = operand.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  key = Utf8Lower(operand.substr(0, eq));
  value = operand.substr(eq + 1);
  return true;
}

bool FitsRegisterText(const std::string& what, const std::string& text, std::size_t width,
                      std::string& error) {
  const std::u32string chars = Utf8ToU32(text);
  const std::u32string unprintable = UnprintableChars(text);
  if (!unprintable.empty()) {
    // Each character the register cannot print, with where it first stands.
    const auto shown = [](char32_t c) {
      std::string s;
      if (c >= U' ') {
        AppendUtf8(s, c);
        return s;
      }
      return "\\x" + std::string(1, "0123456789abcdef"[c >> 4]) + std::string(1, "0123456789abcdef"[c & 0xF]);
    };
    const auto place = [&](char32_t c) { return std::to_string(chars.find(c) + 1); };
    error = what + ": the register cannot print ";
    if (unprintable.size() == 1) {
      error +=
          "\"" + shown(unprintable[0]) + "\" (character " + place(unprintable[0]) + " of \"" + text + "\")";
    } else {
      for (std::size_t k = 0; k < unprintable.size(); ++k)
        error +=
            (k > 0 ? ", \"" : "\"") + shown(unprintable[k]) + "\" (character " + place(unprintable[k]) + ")";
      error += " of \"" + text + "\"";
    }
    return false;
  }
  if (chars.size() > width) {
    error = what + ": at most " + std::to_string(width) + " characters, not " + std::to_string(chars.size());
    return false;
  }
  return true;
}

namespace {

std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
  gStopRequested.store(true);
}

struct sigaction gOldInt {};
struct sigaction gOldTerm {};

}  // namespace

TStopSignals::TStopSignals() {
  gStopRequested = false;
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  // The first signal asks for the stop; the handler goes back to the
  // default at once, so a second one ends the program.
  sa.sa_flags = static_cast<int>(SA_RESETHAND | SA_RESTART);
  ::sigaction(SIGINT, &sa, &gOldInt);
  ::sigaction(SIGTERM, &sa, &gOldTerm);
}

TStopSignals::~TStopSignals() {
  ::sigaction(SIGINT, &gOldInt, nullptr);
  ::sigaction(SIGTERM, &gOldTerm, nullptr);
}

bool TStopSignals::Requested() {
  return gStopRequested.load();
}

int TCtlSession::Interrupted(const std::string& text) {
  Warning(text, false, true, true);
  return ceInterrupted;
}

void TCtlSession::ShowLineCounts() {
  // A warning, so that it shows without a trace depth: the line needed repairs.
  if (protocol_.lineCounts.Any()) Warning(LineCountsText(protocol_.lineCounts), false, true, true);
  protocol_.lineCounts = {};
}

int TCtlSession::Usage(const std::string& text) {
  if (Json()) {
    report_->Message("error", text);
    return ceUsage;
  }
  std::fprintf(err_, "zarvikctl: %s\n", text.c_str());
  std::fprintf(err_, "Try 'zarvikctl %s--help'.\n", words_.empty() ? "" : (words_[0] + " ").c_str());
  return ceUsage;
}

int TCtlSession::Fail(std::string_view text) {
  Error(std::string(text), true, true, true);
  return ceFailed;
}

void TCtlSession::Done(std::string_view text) {
  Mess(std::string(text), false, true, true);
  if (!Json()) PrintLine(out_, std::string(text));
}

bool TCtlSession::Allow(const std::vector<std::string_view>& options) {
  static constexpr std::string_view kGlobal[] = {"port", "speed", "net", "depth", "csv", "help", "serial",
                                                 "fleet-worker"};
  for (const std::string& given : args_.given) {
    const bool global = std::find(std::begin(kGlobal), std::end(kGlobal), given) != std::end(kGlobal);
    const bool own = std::find(options.begin(), options.end(), given) != options.end();
    if (!global && !own) {
      usageError_ = "--" + given + " does not apply to this command";
      return false;
    }
  }
  return true;
}

bool TCtlSession::Setup() {
  // Files of a portable run where an installed program does not look: said,
  // with the way to move them, on every run until they are moved.
  const std::vector<TWorkingFolderFile> found = FindWorkingFolderFiles();
  if (!found.empty()) {
    std::string text = "в рабочей папке есть " + WorkingFolderFileNames(found) +
                       ", они не используются (файлы пользователя: " + UserConfigFolder() + ", " +
                       UserDataFolder() + "). Работать с ними: " + kPortableEnv + "=1 zarvikctl ...";
    bool movable = false;
    for (const TWorkingFolderFile& f : found) {
      if (f.targetExists) continue;
      text += std::string(movable ? "; " : ". Перенести: ") + "mv " + f.source + " " + f.target;
      movable = true;
    }
    if (movable) text += " (или ответить \"Да\" на вопрос окна ZarvikConfig)";
    Warning(text, false, true, true);
  }
  // Defaults of the window program, then the command line.
  const std::string ini = ProgramIniPath();
  port_.LoadSettings(ini, std::string(kPortSection));
  if (args_.port > 0) port_.SetPortNumber(args_.port);
  if (args_.speed > 0) port_.SetBaudRate(static_cast<std::uint32_t>(args_.speed));
  int net = args_.net;
  if (net <= 0) {
    const TIniFile file(ini);
    file.ReportProblem();
    net = kDefaultNetworkNumber;
    if (file.ValueExists(kNetSection, kNetKey)) {
      const std::string text = file.ReadString(kNetSection, kNetKey, "");
      std::int64_t n = 0;
      if (ParseInteger(text, kLowestNetworkNumber, kHighestNetworkNumber, n)) {
        net = static_cast<int>(n);
      } else {
        Warning(std::string(kNetKey) + "=" + text + " in " + file.FileName() + " [" +
                    std::string(kNetSection) + "] is not a network number " +
                    std::to_string(kLowestNetworkNumber) + ".." + std::to_string(kHighestNetworkNumber) +
                    "; " + std::to_string(net) + " is used",
                false, true, true);
      }
    }
  }
  kkm_.networkNumber = static_cast<std::uint8_t>(net);
  backup_.Read(TIniFile(ini));
  // A command the user stopped (Ctrl+C where the command takes it) is not
  // sent again after a failed exchange.
  protocol_.stopRequested = [] { return TStopSignals::Requested(); };
  return true;
}

void TCtlSession::Note(const std::string& text) {
  if (Json())
    report_->Message("info", text);
  else if (MessDepth <= mdUser)
    PrintLine(err_, text);
}

void TCtlSession::ErrorLine(const std::string& text) {
  if (Json())
    report_->Message("error", text);
  else
    PrintLine(err_, text);
}

bool TCtlSession::BackupSettings(unsigned tables, int operatorCount) {
  // The profile folder of the window program, created as it creates it.
  EnsureFolder(ProfileFolderPath());
  TProfileStore store(*bd_);
  TRegisterSnapshot snapshot;
  TBackupMade made;
  if (!BackupRegisterTables(protocol_, store, tables, operatorCount, snapshot, made)) {
    Error(std::string(kBackupFailedText), true, true, true);
    return false;
  }
  Note(std::string(kBackupSavedText) + "«" + made.name + "» (" + ProfileFolderPath() + "/)");
  store.PruneBackups(Info().serialNumber, backup_.keep, {});
  return true;
}

bool TCtlSession::Connect() {
  if (!port_.Open()) {
    Error(std::string(kPortOpenFailed), true, true, true);
    Error(std::string(kCannotConnect), true, true, true);
    return false;
  }
  if (!protocol_.GetInfo()) {
    Error(std::string(kkm_.linkState == lsNoAnswer ? kNoAnswer : kInfoFailed), true, true, true);
    port_.Close();
    Error(std::string(kCannotConnect), true, true, true);
    return false;
  }
  FleetNote("serial", Info().serialNumber);
  if (!args_.serial.empty() && Info().serialNumber != args_.serial) {
    // Another register answers on this port: nothing is read or written.
    const std::string text = "Серийный номер ККМ " + Info().serialNumber + " вместо " + args_.serial +
                             ": команда не выполнена";
    FleetNote("refused", text);
    Error(text, true, true, true);
    port_.Close();
    return false;
  }
  return true;
}

void TCtlSession::FleetNote(std::string_view kind, const std::string& text) {
  if (args_.fleetWorker.empty()) return;
  std::string line = "@fleet " + std::string(kind) + " " + text;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  line += "\n";
  std::fputs(line.c_str(), err_);
  std::fflush(err_);
}

}  // namespace zarvik::ctl
