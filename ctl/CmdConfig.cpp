// config export | diff | apply: the register's settings as a text file
// (store/ConfigText.h).
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "CtlOutput.h"
#include "CtlSession.h"
#include "shell/DiaLog.h"
#include "shell/U_filedirwork.h"
#include "store/ProfileStore.h"

namespace zarvik::ctl {
namespace {

// The lock file inside the profile folder that keeps two zarvikctl
// processes (the workers of a fleet run) from saving backups at once: each
// save rewrites the database files whole, and the later one would lose the
// earlier one's profile.
constexpr std::string_view kProfileLockName = ".zarvikctl.lock";

class TFolderLock {
 public:
  explicit TFolderLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~TFolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFolderLock(const TFolderLock&) = delete;
  TFolderLock& operator=(const TFolderLock&) = delete;

 private:
  int fd_ = -1;
};

std::string TablesText(const TConfigWrites& w) {
  std::string text;
  const auto part = [&text](const std::string& what, const std::vector<int>& numbers) {
    if (numbers.empty()) return;
    if (!text.empty()) text += "; ";
    text += what;
    for (std::size_t k = 0; k < numbers.size(); ++k)
      text += (k == 0 ? " " : ",") + std::to_string(numbers[k]);
  };
  if (w.options) text = "опции";
  part("отделы", w.departments);
  part("заголовок", w.headerLines);
  part("окончание", w.footerLines);
  part("операторы", w.operatorNames);
  part("должности", w.positions);
  return text;
}

// The changes as the JSON report lists them: the values as the file writes
// them (texts in quotes).
TJson ChangesJson(const std::vector<TConfigChange>& changes) {
  TJson list = TJson::Array();
  for (const TConfigChange& c : changes)
    list.Push(TJson::Object()
                  .Int("line", c.line)
                  .Str("section", c.section)
                  .Str("key", c.key)
                  .Str("from", c.from)
                  .Str("to", c.to));
  return list;
}

}  // namespace

bool TCtlSession::LoadConfigFile(const std::string& path, TConfigFile& file) {
  std::string text;
  if (!ReadTextFile(path, text)) {
    Error("не удалось прочитать файл " + path, true, true, true);
    return false;
  }
  std::vector<TConfigError> errors;
  if (ParseConfigText(text, file, errors)) return true;
  for (const TConfigError& e : errors) ErrorLine(path + ":" + ConfigErrorText(e));
  return false;
}

bool TCtlSession::ReadConfigTables(unsigned tables, bool taxes, TRegisterSnapshot& snapshot,
                                   TConfigTables& which) {
  which = TConfigTables{};
  if ((tables & stOperators) != 0) {
    which.operatorCount = protocol_.GetOperatorCount();
    if (which.operatorCount == 0 && kkm_.linkState != lsDone) {
      Error(std::string(kOperatorsFailed), true, true, true);
      return false;
    }
  }
  FleetNote("progress", "чтение 0 0");
  if (!ReadRegisterSnapshot(protocol_, tables, which.operatorCount, snapshot)) return false;
  which.tables = tables;
  if (taxes) {
    for (int n = 1; n <= kTaxCount; ++n) {
      if (!protocol_.GetTax(n)) {
        Error("не удалось получить информацию о налогах", true, true, true);
        return false;
      }
    }
    which.taxes = true;
  }
  return true;
}

bool TCtlSession::SaveConfigBackup(const TRegisterSnapshot& snapshot) {
  const std::string folder(kProfileFolder);
  EnsureFolder(folder);
  TFolderLock lock(JoinPath(folder, std::string(kProfileLockName)));
  TProfileStore store(*bd_);
  const TKKMInfo& info = Info();
  TBackupMade made;
  made.name = BackupProfileName(store.clock());
  if (!store.SaveSnapshot(made.name, info.serialNumber, info.version, snapshot, made.key)) {
    Error(std::string(kBackupFailedText), true, true, true);
    return false;
  }
  Mess(std::string(kBackupSavedText) + "«" + made.name + "»", false, true, true);
  backupName_ = made.name;
  // The report has the message already.
  if (!Json()) Note(std::string(kBackupSavedText) + "«" + made.name + "» (" + folder + "/)");
  store.PruneBackups(info.serialNumber, backup_.keep, {});
  return true;
}

int TCtlSession::CmdConfigExport() {
  if (words_.size() != 3) return Usage("config export needs one FILE");
  const std::string path = words_[2];
  if (!Connect()) return ceFailed;
  TRegisterSnapshot snapshot;
  TConfigTables which;
  if (!ReadConfigTables(stAllSettings, true, snapshot, which)) return ceFailed;
  if (!WriteTextFile(path, ConfigText(Info(), which))) return Fail("не удалось записать файл " + path);
  FleetNote("done", "выгружено в " + path);
  Done("Настройки ККМ выгружены в файл " + path);
  return ceOk;
}

int TCtlSession::CmdConfigDiff() {
  if (words_.size() != 3) return Usage("config diff needs one FILE");
  const std::string path = words_[2];
  TConfigFile file;
  if (!LoadConfigFile(path, file)) return ceUsage;
  if (!Connect()) return ceFailed;
  TRegisterSnapshot snapshot;
  TConfigTables which;
  if (!ReadConfigTables(file.Tables(), false, snapshot, which)) return ceFailed;
  std::vector<TConfigChange> changes;
  std::vector<TConfigError> errors;
  const bool ok = DiffConfig(file, Info(), which, changes, errors);
  if (Json()) {
    report_->Result()
        .Str("file", path)
        .Str("serial", Info().serialNumber)
        .Sub("changes", ChangesJson(changes));
    report_->Counts().Int("changes", static_cast<std::int64_t>(changes.size()));
    report_->Counts().Int("errors", static_cast<std::int64_t>(errors.size()));
  }
  for (const TConfigChange& c : changes)
    if (!Json()) PrintLine(out_, path + ":" + std::to_string(c.line) + ": " + c.Text());
  for (const TConfigError& e : errors) ErrorLine(path + ":" + ConfigErrorText(e));
  const std::string summary =
      changes.empty() ? std::string("Отличий нет") : "Отличий: " + std::to_string(changes.size());
  FleetNote("done", summary);
  if (Json())
    report_->Message("info", summary);
  else
    PrintLine(out_, summary);
  return ok ? ceOk : ceUsage;
}

int TCtlSession::CmdConfigApply() {
  if (words_.size() != 3) return Usage("config apply needs one FILE");
  const std::string path = words_[2];
  TConfigFile file;
  if (!LoadConfigFile(path, file)) return ceUsage;
  if (!Connect()) return ceFailed;
  TRegisterSnapshot snapshot;
  TConfigTables which;
  if (!ReadConfigTables(file.Tables(), false, snapshot, which)) return ceFailed;
  std::vector<TConfigChange> changes;
  std::vector<TConfigError> errors;
  const bool valid = DiffConfig(file, Info(), which, changes, errors);
  const TConfigWrites writes = ConfigWrites(changes);
  int done = 0;
  if (Json()) {
    report_->Result().Str("file", path).Str("serial", Info().serialNumber).Bool("dry_run", args_.dryRun);
    report_->Result().Sub("changes", ChangesJson(valid ? changes : std::vector<TConfigChange>{}));
  }
  // The counts as they stand when the command ends, whichever way it ends.
  struct TCounts {
    TCtlSession* session;
    const std::vector<TConfigChange>& changes;
    const std::vector<TConfigError>& errors;
    const TConfigWrites& writes;
    const int& done;
    bool valid;
    ~TCounts() {
      if (session->report_ == nullptr) return;
      session->report_->Counts()
          .Int("changes", valid ? static_cast<std::int64_t>(changes.size()) : 0)
          .Int("errors", static_cast<std::int64_t>(errors.size()))
          .Int("writes", valid ? writes.Count() : 0)
          .Int("written", done);
      if (!session->backupName_.empty()) session->report_->Result().Str("backup", session->backupName_);
    }
  } counts{this, changes, errors, writes, done, valid};
  if (!valid) {
    // Not a single value is written when one of them cannot be.
    for (const TConfigError& e : errors) ErrorLine(path + ":" + ConfigErrorText(e));
    const std::string text = "Файл " + path + " не записан: ошибок " + std::to_string(errors.size());
    FleetNote("refused", text);
    Error(text, false, true, true);
    return ceUsage;
  }
  for (const TConfigChange& c : changes)
    if (!Json()) PrintLine(out_, path + ":" + std::to_string(c.line) + ": " + c.Text());
  if (writes.Empty()) {
    FleetNote("done", "Отличий нет");
    Done("Отличий нет, ничего не записано");
    return ceOk;
  }
  if (args_.dryRun) {
    const std::string text = "Будет записано (--dry-run, не записано): " + TablesText(writes);
    FleetNote("done", text);
    if (Json())
      report_->Message("info", text);
    else
      PrintLine(out_, text);
    return ceOk;
  }
  if (BackupsOn()) {
    // The backup keeps what was just read of the tables the write changes.
    TRegisterSnapshot kept;
    if ((writes.Tables() & stOptions) != 0) kept.options = snapshot.options;
    if ((writes.Tables() & stDepartments) != 0) kept.departments = snapshot.departments;
    if ((writes.Tables() & stReceipt) != 0) kept.receipt = snapshot.receipt;
    if ((writes.Tables() & stOperators) != 0) kept.operators = snapshot.operators;
    if (!SaveConfigBackup(kept)) return ceFailed;
  }
  TKKMInfo& i = Info();
  // A font the register reported that has no name here is written as 0, as
  // the window program's font list does.
  for (std::uint8_t* font : {&i.headerFont, &i.footerFont})
    if (i.FontName(*font).empty()) *font = 0;
  ApplyConfigChanges(changes, i);
  TStopSignals stop;
  TProgress progress(err_, "запись");
  const int total = writes.Count();
  const auto step = [&](bool ok, const std::string& failure) {
    if (!ok) {
      Error(failure, true, true, true);
      if (done > 0)
        Error("Записано только " + std::to_string(done) + " из " + std::to_string(total), true, true, true);
      return false;
    }
    ++done;
    progress.Show(done, total);
    return true;
  };
  const auto stopped = [&] { return TStopSignals::Requested(); };
  if (writes.options && !step(protocol_.SetOptions(), "опции не записались")) return ceFailed;
  for (const int n : writes.departments) {
    if (stopped()) break;
    if (!step(protocol_.SetDepartment(n), "не удалось записать информацию о отделах")) return ceFailed;
  }
  for (const int n : writes.headerLines) {
    if (stopped()) break;
    if (!step(protocol_.SetHeaderLine(n), "не удалось записать информацию о заголовках")) return ceFailed;
  }
  for (const int n : writes.footerLines) {
    if (stopped()) break;
    if (!step(protocol_.SetFooterLine(n), "не удалось записать информацию об окончаниях")) return ceFailed;
  }
  for (const int n : writes.operatorNames) {
    if (stopped()) break;
    if (!step(protocol_.SetOperatorName(n), "не удалось записать информацию о операторах")) return ceFailed;
  }
  for (const int n : writes.positions) {
    if (stopped()) break;
    if (!step(protocol_.SetPosition(n), "не удалось записать информацию о должностях")) return ceFailed;
  }
  progress.Done();
  if (done < total) {
    const std::string text = "Записано только " + std::to_string(done) + " из " + std::to_string(total);
    FleetNote("stopped", text);
    return Interrupted(text);
  }
  const std::string text = "Записаны настройки из файла " + path + ": " + TablesText(writes);
  FleetNote("done", "записано: " + TablesText(writes));
  Done(text);
  return ceOk;
}

}  // namespace zarvik::ctl
