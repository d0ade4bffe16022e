// Backups before a write: before the program writes a table of settings or
// goods to the register, it reads what the register holds of that table and
// keeps it, so that a wrong write can be undone.
//
// - Settings (options, departments, receipt header and footer with their
//   fonts, operators) become a profile of the register in the profile
//   database, named after the moment ("Авто 10.12.2026 14:03:12") and bound
//   to the register's serial number. It is listed after the register's
//   stored profile, newest first, and holds only the tables that were read;
//   selecting it and writing those tables back restores them.
// - Goods become a goods exchange dBASE file in bd/backup, named after the
//   register and the moment ("goods_002100457731_20261210_140312.dbf"); the
//   goods page or "zarvikctl goods write" takes it back.
// Of each kind the last `keep` backups per register are kept, the older ones
// deleted after each new one.
//
// The read costs one command per department, receipt line, operator name
// and position (and one for the options; one per goods record for a whole
// goods table) before the write starts.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/U_kkms.h"

namespace zarvik {

class TIniFile;
class TWorkTable;
class TProfileStore;
class TProtocolKKM;

// ZarvikConfig.ini, section "Backup".
inline constexpr std::string_view kBackupSection = "Backup";
inline constexpr std::string_view kBackupEnabledKey = "ENABLED";
inline constexpr std::string_view kBackupKeepKey = "KEEP";
inline constexpr int kDefaultBackupsKept = 10;
inline constexpr int kMostBackupsKept = 1000;

inline constexpr std::string_view kBackupNamePrefix = "Авто ";
// Goods backups: this folder inside the profile folder.
inline constexpr std::string_view kGoodsBackupFolder = "backup";
inline constexpr std::string_view kGoodsBackupPrefix = "goods_";

// Texts.
inline constexpr std::string_view kBackupSavedText = "Резервная копия сохранена: ";
inline constexpr std::string_view kBackupFailedText = "Резервная копия не сохранена, запись отменена";

struct TBackupSettings {
  bool enabled = true;
  int keep = kDefaultBackupsKept;  // per register and kind, 1..kMostBackupsKept
  // From [Backup] of the INI file; missing or unusable values keep the defaults.
  void Read(const TIniFile& ini);
  void Write(TIniFile& ini) const;
};

// The tables a backup or a comparison reads.
enum TSnapshotTable : unsigned {
  stOptions = 1u << 0,
  stDepartments = 1u << 1,
  stReceipt = 1u << 2,
  stOperators = 1u << 3,
  stAllSettings = stOptions | stDepartments | stReceipt | stOperators,
};

struct TReceiptSnapshot {
  std::array<std::string, kReceiptLineCount> header{};
  std::array<std::string, kReceiptLineCount> footer{};
  std::uint8_t headerFont = 0;
  std::uint8_t footerFont = 0;
};

struct TOperatorSnapshot {
  std::string name;
  std::string position;
};

// What the register held of the tables read (a table not read is empty).
struct TRegisterSnapshot {
  std::optional<std::vector<std::uint8_t>> options;  // values in option order
  std::optional<std::vector<TDepRec>> departments;   // 1..maxCountDepat
  std::optional<TReceiptSnapshot> receipt;
  std::optional<std::vector<TOperatorSnapshot>> operators;  // 1..operator count
  unsigned Tables() const;
};

// The name of a backup profile made at `when` (local time).
std::string BackupProfileName(std::chrono::system_clock::time_point when);
bool IsBackupName(std::string_view name);

// Reads `tables` of the connected register into `snapshot`; operators
// 1..operatorCount (none for 0). The register model's records of those
// tables are overwritten on the way. False after a reported failure (the
// read's own message, as the load actions give it).
bool ReadRegisterSnapshot(TProtocolKKM& protocol, unsigned tables, int operatorCount,
                          TRegisterSnapshot& snapshot);

// A backup profile made.
struct TBackupMade {
  std::string key;
  std::string name;
};
// Reads `tables` and stores them as a new backup profile of the connected
// register; reports kBackupSavedText with the name (console and log). False
// after a reported failure, in which case the write must not go on (the
// caller reports kBackupFailedText).
bool BackupRegisterTables(TProtocolKKM& protocol, TProfileStore& store, unsigned tables, int operatorCount,
                          TRegisterSnapshot& snapshot, TBackupMade& made);

// The folder of the goods backups inside `profileFolder`.
std::string GoodsBackupFolder(const std::string& profileFolder);
// A goods backup file of the register `serialNumber` made at `when`; a file
// of that name that exists already gets "_2", "_3", ... before ".dbf".
std::string GoodsBackupPath(const std::string& folder, const std::string& serialNumber,
                            std::chrono::system_clock::time_point when);

// A goods write of at most this many rows keeps just those goods, read one
// by one (about 0.23 s each at 9600 baud); a larger one keeps the whole goods
// table, read as one stream (about 0.09 s per goods record).
inline constexpr int kMostGoodsReadOneByOne = 50;
// The highest code a single goods read reaches.
inline constexpr int kHighestSingleGoodsRead = 9999;

// The codes a goods backup before writing `table` reads one by one: those of
// the rows the write sends (GoodsRowSkipReason), when they are few enough
// and within reach; empty when the whole goods table is to be read. The
// first row is current afterwards.
std::vector<int> GoodsBackupCodes(TWorkTable& table, const TKKMInfo& info);
// The same for the current row alone.
std::vector<int> GoodsBackupCode(const TWorkTable& table);

// Called with the count of records received so far; false stops the read.
using TGoodsBackupProgress = std::function<bool(int received)>;
// Reads the register's goods `codes` (a code it does not hold is left out),
// or all of them when `codes` is empty, into the goods backup file `path`
// (the folder is created). Reports the file and the count (console and
// log). False after a reported failure or a stop.
bool BackupGoods(TProtocolKKM& protocol, const std::string& path, const std::vector<int>& codes,
                 const TGoodsBackupProgress& progress);
// Writes the goods records read before a write into the goods backup file
// `path` (the folder is created) and reports the file and the count.
struct TRegisterGoods;
bool SaveGoodsBackup(const TRegisterGoods& goods, const std::string& path);
// Deletes the oldest goods backups of `serialNumber` in `folder` beyond
// `keep`; the number deleted.
int PruneGoodsBackups(const std::string& folder, const std::string& serialNumber, int keep);

}  // namespace zarvik
