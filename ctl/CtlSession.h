// The session of one zarvikctl command: the settings shared with the window
// program, the port, the register and its protocol, and the helpers every
// command uses. Each command group lives in its own Cmd*.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CtlArgs.h"
#include "CtlJson.h"
#include "ZarvikCtl.h"
#include "model/U_kkms.h"
#include "port/Comport.h"
#include "protocol/U_protocolkkm.h"
#include "store/ConfigText.h"
#include "store/RegisterBackup.h"
#include "store/UnitBD.h"

namespace zarvik {
struct TShopJournal;
}

namespace zarvik::ctl {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Answer layout of the streamed goods and journal frames.
constexpr std::size_t kResultOffset = 2;
constexpr std::size_t kRecordOffset = 3;
constexpr int kResultNotFound = 9;
constexpr int kResultBadGoodsCode = 17;

// The system's texts used by more than one command.
constexpr std::string_view kOptionsFailed = "не удалось получить опции";
constexpr std::string_view kWrongAnswerSize = "Не верный размер полученых данных";
constexpr std::string_view kOperatorsFailed = "не удалось получить информацию о операторах";

// A money or quantity value rounded half away from zero to `decimals` and
// written with them all.
std::string FixedText(Currency value, int decimals);
// Roubles with two decimals.
std::string MoneyText(double roubles);
// A "key=value" operand: the key in lower case; false without "=" or key.
bool SplitAssignment(const std::string& operand, std::string& key, std::string& value);
// Whether `path` ends in `ext` (lower case, with its dot), in any case.
bool HasExtension(const std::string& path, std::string_view ext);
// Whether `text` fits a register text field of `width` characters that the
// register can print; else `error` says which character it cannot print or
// how long the text is, naming the field as `what`.
bool FitsRegisterText(const std::string& what, const std::string& text, std::size_t width,
                      std::string& error);

// SIGINT and SIGTERM while a transfer runs: the transfer stops at the next
// frame, as the window program's stop button stops it, and the command
// reports how far it got. A second signal ends the program at once. The
// handlers are in place while an object lives.
class TStopSignals {
 public:
  TStopSignals();
  ~TStopSignals();
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;
  // A signal has come since the object was made.
  static bool Requested();
};

class TCtlSession {
 public:
  // With --json the run's messages and result go into `report`.
  TCtlSession(const CtlArgs& args, std::FILE* out, std::FILE* err, TCtlReport* report = nullptr)
      : args_(args), out_(out), err_(err), report_(report) {}
  ~TCtlSession() { port_.Close(); }
  TCtlSession(const TCtlSession&) = delete;
  TCtlSession& operator=(const TCtlSession&) = delete;

  // Runs the command of the arguments; the exit status.
  int Run();

 private:
  // A usage error: the text and the hint to the help, exit status 2.
  int Usage(const std::string& text);
  // An unknown command word: the list of commands, exit status 2.
  int UnknownCommand(const std::string& word);
  // A failure: the system's text as an error, exit status 1.
  static int Fail(std::string_view text);
  // Prints a success message of the system on standard output and logs it.
  void Done(std::string_view text);
  // Whether every option given applies to the command (the global ones and
  // `options`); else the usage error is kept.
  bool Allow(const std::vector<std::string_view>& options);
  // Port, speed and network number from ZarvikConfig.ini and the command line.
  bool Setup();
  // Opens the port and identifies the register; false after a reported failure.
  bool Connect();
  // The exit status of a transfer stopped by a signal, after `text` (the
  // system's warning with the count) is reported.
  int Interrupted(const std::string& text);
  // After a transfer: one line with what the line cost, when it cost anything.
  void ShowLineCounts();
  TKKMInfo& Info() { return kkm_.Info(); }
  // Whether the register's values are kept before a write: [Backup] ENABLED
  // of ZarvikConfig.ini, unless --no-backup.
  bool BackupsOn() const { return backup_.enabled && !args_.noBackup; }
  // Reads `tables` of the register and keeps them as a backup profile in bd/
  // (as the window program does), the oldest beyond the number kept deleted.
  // The register model then holds the values read. False after a reported
  // failure: nothing may be written.
  bool BackupSettings(unsigned tables, int operatorCount = 0);
  // A line for the person at the terminal (standard error), unless the
  // trace shows the same message already.
  void Note(const std::string& text);
  // A line of errors (a file's lines that cannot be taken) on standard
  // error, or with --json an error message of the report.
  void ErrorLine(const std::string& text);
  // Whether this run answers with one JSON object (--json).
  bool Json() const { return report_ != nullptr; }

  // The commands (one file per group).
  int CmdInfo();
  int CmdOptionsGet();
  int CmdOptionsSet();
  int CmdDepartmentsGet();
  int CmdDepartmentsSet();
  int CmdReceiptGet();
  int CmdReceiptSet();
  int CmdTaxesGet();
  int CmdOperatorsGet();
  int CmdOperatorsSet();
  int CmdGoodsGet();
  int CmdGoodsReadAll();
  int CmdGoodsWrite();
  int CmdGoodsDiff();
  int GoodsWriteOrDiff(bool diffOnly);
  int CmdGoodsConvert();
  int CmdJournalRead();
  // The journal as data (CmdJournalData.cpp): journal read with its tables,
  // journal summary, journal check.
  int CmdJournalReadData();
  int CmdJournalSummary();
  int CmdJournalCheck();
  // The record lines of the saved journal of --in, or of a read of the
  // register (CmdJournalRead keeping them without showing them); the exit
  // status of a read that failed or stopped.
  int JournalRecords(std::vector<std::string>& records);
  // The journal's lines on standard output, in --out (code page 1251, CR LF)
  // or with --json in the report's result; false when --out failed.
  bool ShowJournalLines(const std::vector<std::string>& lines);
  int CmdPrint();
  int CmdPorts();
  int CmdFind();
  int CmdConfigExport();
  int CmdConfigDiff();
  int CmdConfigApply();
  int CmdFleet();
  // fleet ... journal summary: the shop's day of the journals read, printed
  // or written to --out (.csv or .xlsx).
  int FleetDaySummary(const std::vector<TShopJournal>& journals);

  // The configuration file of config diff and apply, parsed; false after
  // its errors were reported.
  bool LoadConfigFile(const std::string& path, TConfigFile& file);
  // Reads `tables` of the connected register (operators when it has them)
  // into `snapshot` and the register model; `which` says what was read.
  bool ReadConfigTables(unsigned tables, bool taxes, TRegisterSnapshot& snapshot, TConfigTables& which);
  // Keeps `snapshot` (just read) as a backup profile, the profile database
  // locked against other zarvikctl processes meanwhile.
  bool SaveConfigBackup(const TRegisterSnapshot& snapshot);
  // A line for the fleet that runs this process (--fleet-worker), on
  // standard error: "@fleet KIND TEXT".
  void FleetNote(std::string_view kind, const std::string& text);

  bool ReadReceipt();
  // Operators 1..count into the register model; false after a reported failure.
  bool ReadOperators(int count);

  const CtlArgs& args_;
  std::FILE* out_;
  std::FILE* err_;
  std::vector<std::string> words_;
  std::string usageError_;
  TComPort port_;
  TKKM kkm_{&port_};
  TProtocolKKM protocol_{&kkm_};
  TCtlReport* report_;
  std::unique_ptr<TBD> bd_;
  TBackupSettings backup_;
  // CmdJournalRead keeps the record lines it read here; with
  // journalRecordsOnly_ it shows and writes nothing else.
  std::vector<std::string> journalRecords_;
  bool journalRecordsOnly_ = false;
  // The backup profile the command saved, if it saved one.
  std::string backupName_;
};

}  // namespace zarvik::ctl
