#include "store/RegisterBackup.h"

#include <algorithm>
#include <ctime>
#include <filesystem>

#include "protocol/TransferResume.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "shell/IniFile.h"
#include "shell/U_filedirwork.h"
#include "store/GoodsExchange.h"
#include "store/GoodsPlan.h"
#include "store/GoodsReport.h"
#include "store/ProfileStore.h"
#include "store/UnitBD.h"

namespace zarvik {

namespace {

constexpr int kTmBaseYear = 1900;

std::tm LocalTime(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

std::string TwoDigits(int n) {
  return std::string(1, static_cast<char>('0' + n / 10 % 10)) + static_cast<char>('0' + n % 10);
}

// "10.12.2026 14:03:12"
std::string DisplayMoment(const std::tm& t) {
  return TwoDigits(t.tm_mday) + "." + TwoDigits(t.tm_mon + 1) + "." +
         std::to_string(t.tm_year + kTmBaseYear) + " " + TwoDigits(t.tm_hour) + ":" + TwoDigits(t.tm_min) +
         ":" + TwoDigits(t.tm_sec);
}

// "20261210_140312": file names sort by it.
std::string FileMoment(const std::tm& t) {
  return std::to_string(t.tm_year + kTmBaseYear) + TwoDigits(t.tm_mon + 1) + TwoDigits(t.tm_mday) + "_" +
         TwoDigits(t.tm_hour) + TwoDigits(t.tm_min) + TwoDigits(t.tm_sec);
}

// The serial number as a part of a file name.
std::string FileNamePart(const std::string& serialNumber) {
  std::string out;
  for (const char c : serialNumber) {
    const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
    out.push_back(plain ? c : '_');
  }
  return out.empty() ? std::string("_") : out;
}

bool ReadOperators(TProtocolKKM& protocol, int count, std::vector<TOperatorSnapshot>& out) {
  const TKKMInfo& info = protocol.kkm->Info();
  for (int n = 1; n <= count; ++n) {
    if (!protocol.GetOperatorName(n)) {
      Error("не удалось получить информацию о операторах", true, true, true);
      return false;
    }
    if (!protocol.GetPosition(n)) {
      Error("не удалось получить информацию о должностях", true, true, true);
      return false;
    }
    const auto i = static_cast<std::size_t>(n - 1);
    out.push_back({info.operatorNames[i], info.positions[i]});
  }
  return true;
}

}  // namespace

void TBackupSettings::Read(const TIniFile& ini) {
  enabled = ini.ReadBool(kBackupSection, kBackupEnabledKey, true);
  const int n = ini.ReadInteger(kBackupSection, kBackupKeepKey, kDefaultBackupsKept);
  keep = n >= 1 && n <= kMostBackupsKept ? n : kDefaultBackupsKept;
}

void TBackupSettings::Write(TIniFile& ini) const {
  ini.WriteBool(kBackupSection, kBackupEnabledKey, enabled);
  ini.WriteInteger(kBackupSection, kBackupKeepKey, keep);
}

unsigned TRegisterSnapshot::Tables() const {
  return (options ? stOptions : 0u) | (departments ? stDepartments : 0u) | (receipt ? stReceipt : 0u) |
         (operators ? stOperators : 0u);
}

std::string BackupProfileName(std::chrono::system_clock::time_point when) {
  return std::string(kBackupNamePrefix) + DisplayMoment(LocalTime(when));
}

bool IsBackupName(std::string_view name) {
  return name.substr(0, kBackupNamePrefix.size()) == kBackupNamePrefix;
}

bool ReadRegisterSnapshot(TProtocolKKM& protocol, unsigned tables, int operatorCount,
                          TRegisterSnapshot& snapshot) {
  if (protocol.kkm == nullptr) return false;
  snapshot = TRegisterSnapshot{};
  TKKMInfo& info = protocol.kkm->Info();
  if ((tables & stOptions) != 0) {
    if (!protocol.GetOptions()) {
      Error("не удалось получить опции", true, true, true);
      return false;
    }
    snapshot.options.emplace(info.optionValues.begin(), info.optionValues.begin() + info.OptionCount());
  }
  if ((tables & stDepartments) != 0) {
    const int count = std::clamp(info.maxCountDepat, 0, kMaxDepartments);
    for (int i = 1; i <= count; ++i) {
      if (!protocol.GetDepartment(i)) {
        Error("не удалось получить информацию о отделах", true, true, true);
        return false;
      }
    }
    snapshot.departments.emplace(info.departments.begin(), info.departments.begin() + count);
  }
  if ((tables & stReceipt) != 0) {
    for (int n = 1; n <= kReceiptLineCount; ++n) {
      if (!protocol.GetHeaderLine(n)) {
        Error("не удалось получить информацию о заголовках", true, true, true);
        return false;
      }
    }
    for (int n = 1; n <= kReceiptLineCount; ++n) {
      if (!protocol.GetFooterLine(n)) {
        Error("не удалось получить информацию об окончании чека", true, true, true);
        return false;
      }
    }
    snapshot.receipt.emplace(
        TReceiptSnapshot{info.headerLines, info.footerLines, info.headerFont, info.footerFont});
  }
  if ((tables & stOperators) != 0 && operatorCount > 0) {
    std::vector<TOperatorSnapshot> operators;
    if (!ReadOperators(protocol, std::min(operatorCount, kOperatorCount), operators)) return false;
    snapshot.operators = std::move(operators);
  }
  return true;
}

bool BackupRegisterTables(TProtocolKKM& protocol, TProfileStore& store, unsigned tables, int operatorCount,
                          TRegisterSnapshot& snapshot, TBackupMade& made) {
  if (!ReadRegisterSnapshot(protocol, tables, operatorCount, snapshot)) return false;
  const TKKMInfo& info = protocol.kkm->Info();
  made.name = BackupProfileName(store.clock());
  if (!store.SaveSnapshot(made.name, info.serialNumber, info.version, snapshot, made.key)) return false;
  Mess(std::string(kBackupSavedText) + "«" + made.name + "»", false, true, true);
  return true;
}

std::string GoodsBackupFolder(const std::string& profileFolder) {
  return JoinPath(profileFolder, std::string(kGoodsBackupFolder));
}

std::string GoodsBackupPath(const std::string& folder, const std::string& serialNumber,
                            std::chrono::system_clock::time_point when) {
  const std::string stem =
      std::string(kGoodsBackupPrefix) + FileNamePart(serialNumber) + "_" + FileMoment(LocalTime(when));
  std::string path = JoinPath(folder, stem + ".dbf");
  std::error_code ec;
  for (int n = 2; std::filesystem::exists(path, ec); ++n)
    path = JoinPath(folder, stem + "_" + std::to_string(n) + ".dbf");
  return path;
}

std::vector<int> GoodsBackupCodes(TWorkTable& table, const TKKMInfo& info) {
  std::vector<int> codes;
  bool beyond = false;
  table.DisableControls();
  for (table.First(); !table.Eof() && !beyond; table.Next()) {
    if (GoodsRowSkipReason(table, info.MaxCountGoods(), info.maxCountDepat)) continue;
    const std::int64_t code = table.Int("Code");
    beyond =
        code > kHighestSingleGoodsRead || codes.size() >= static_cast<std::size_t>(kMostGoodsReadOneByOne);
    codes.push_back(static_cast<int>(code));
  }
  table.First();
  table.EnableControls();
  if (beyond) codes.clear();
  return codes;
}

std::vector<int> GoodsBackupCode(const TWorkTable& table) {
  const std::int64_t code = table.Int("Code");
  if (code < 0 || code > kHighestSingleGoodsRead) return {};
  return {static_cast<int>(code)};
}

bool SaveGoodsBackup(const TRegisterGoods& goods, const std::string& path) {
  TBD scratch;
  TWorkTable& table = scratch.mtTOBAP;
  TKKMInfo info;
  for (const auto& [code, record] : goods.records) {
    info.GoodsRecord = record;
    table.Append();
    GoodsRecordToRow(info, table);
    table.Post();
  }
  EnsureFolder(std::filesystem::path(path).parent_path().string());
  if (!ExportGoodsDbf(table, path)) return false;
  Mess(std::string(kBackupSavedText) + path + " (" + std::to_string(CountRows(table)) + " тов.)", false, true,
       true);
  return true;
}

bool BackupGoods(TProtocolKKM& protocol, const std::string& path, const std::vector<int>& codes,
                 const TGoodsBackupProgress& progress) {
  TRegisterGoods goods;
  return ReadRegisterGoods(protocol, codes, progress, goods) && SaveGoodsBackup(goods, path);
}

int PruneGoodsBackups(const std::string& folder, const std::string& serialNumber, int keep) {
  const std::string prefix = std::string(kGoodsBackupPrefix) + FileNamePart(serialNumber) + "_";
  std::vector<std::string> own;
  for (const std::string& name : ListFiles(folder, ".dbf"))
    if (name.rfind(prefix, 0) == 0) own.push_back(name);
  // The names hold the moment: in name order the oldest come first.
  std::sort(own.begin(), own.end());
  int deleted = 0;
  std::error_code ec;
  for (std::size_t i = 0; i + static_cast<std::size_t>(std::max(keep, 1)) < own.size(); ++i)
    if (std::filesystem::remove(JoinPath(folder, own[i]), ec)) ++deleted;
  return deleted;
}

}  // namespace zarvik
