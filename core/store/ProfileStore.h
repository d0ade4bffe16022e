// The profile database: the seven dBASE files in "bd", the profile list
// `mtProfile` built from them for the connected register, the loading of a
// profile's rows into the working tables the first time it is selected, and
// the saving and deleting of profiles.
//
// A profile is a named copy of a register's settings. The list shows, for
// the connected register, first its own settings ("Загруженая из ККМ", key
// "0"), then its stored profile ("Сохраненная", bound to its serial number),
// then the templates of its version (key "-" + the stored key). Rows of
// every profile live side by side in the working tables, tagged with the key
// in `LN`; the store installs the list's scroll events on the data module's
// `mtProfile`, so that every move of the list (by the panel or by a
// workflow calling `mtProfile.First()`) makes the working tables show the
// current entry's rows, loading them from the files when they are not yet in
// memory.
//
// Keys are whole seconds from 1899-12-30 00:00 local time to the first save,
// as 64-bit integers. Each save writes the detail files first and
// `Profile.dbf` last, every file replaced atomically, so a crash leaves each
// file old or new and never a profile row without its details.
//
// Failures of the files (a damaged or unwritable file, a missing folder) end
// the operation with what was done so far left in place; they are reported
// with Error (console and log) and the function returns false.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "store/UnitBD.h"

namespace zarvik {

class TKKMInfo;
struct TRegisterSnapshot;

inline constexpr std::string_view kStoredProfileName = "Сохраненная";
inline constexpr std::string_view kTemplateSavedText = "Шаблон записан";
inline constexpr std::int64_t kNoDetailKey = -1;  // selects no detail row
inline constexpr int kProfileMaxOperators = 8;
inline constexpr int kProfileFooterFirstRow = 7;  // check.dbf rows 7..12 are footer lines
inline constexpr int kProfileLastReceiptRow = 12;

// The profile key of a moment: whole seconds (fraction dropped) from
// 1899-12-30 00:00 local time.
std::int64_t ProfileKeyAt(std::chrono::system_clock::time_point when);
// A template's key in the list and the working tables begins with "-".
bool IsTemplateKey(std::string_view ln);

class TProfileStore {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  // Installs the list's events on `bd.mtProfile`; `folder` is the profile
  // folder (relative to the current directory when the files are opened).
  explicit TProfileStore(TBD& bd, std::string folder = ProfileFolderPath());
  ~TProfileStore();
  TProfileStore(const TProfileStore&) = delete;
  TProfileStore& operator=(const TProfileStore&) = delete;

  // The clock new keys are taken from.
  Clock clock = [] { return std::chrono::system_clock::now(); };

  // Opens the seven files that are not open yet, creating missing ones.
  bool OpenFiles();
  // Rebuilds the list for a register: its stored profile, its backups
  // (newest first), then the templates of its version; settles on row 1.
  bool RefreshProfileList(const std::string& serialNumber, const std::string& version);
  // Stored profiles the last rebuild found for the register's serial number
  // (backups do not count).
  int StoredProfilesFound() const { return storedFound_; }

  // Selects the profile row of `name` and `key` (a leading "-" dropped) in
  // Profile.dbf and its rows in the six detail files.
  bool SetProfileFilters(std::string_view name, std::string_view key);
  // Fills the working tables with the current list entry's rows from the
  // files; false without doing anything for row 1 or an entry without name.
  bool LoadProfileRows();
  // The working tables show the rows of the current list entry.
  void ApplyProfileFilter();

  // Writes the settings on display under the profile `name` (found by name,
  // and by serial number when one is given; created with a new key when
  // missing).
  bool SaveProfile(const std::string& name, const std::string& serialNumber, const std::string& version);
  // Removes the current list entry from the files and from memory.
  bool DeleteProfile();

  // The steps of the panel's buttons once the register is known:
  // the settings on display become the register's stored profile, which the
  // list then shows freshly loaded. `savedRegisterRow`: they were row 1's.
  bool SaveStoredProfile(const std::string& serialNumber, const std::string& version, bool& savedRegisterRow);
  // Template name the input box proposes: the current entry's name when it
  // is a template, else empty.
  std::string ProposedTemplateName() const;
  // The settings on display become the template `name` of `version`; the
  // list is rebuilt and returns to its position. Reports "Шаблон записан".
  bool SaveTemplate(const std::string& name, const std::string& serialNumber, const std::string& version);
  // Deletes the current entry; nothing on row 1 (false).
  bool DeleteSelectedProfile();

  // Backups (RegisterBackup.h). Stores the tables of `snapshot` as a new
  // profile `name` of the register `serialNumber` (the tables not read get
  // no rows); `key` is its key. The list is not rebuilt.
  bool SaveSnapshot(const std::string& name, const std::string& serialNumber, const std::string& version,
                    const TRegisterSnapshot& snapshot, std::string& key);
  // Deletes the backups of `serialNumber` beyond the newest `keep`, except
  // the one with key `shownKey` (the profile on display); their rows in
  // memory go too. The number deleted, or -1 after a reported failure. The
  // list is not rebuilt.
  int PruneBackups(const std::string& serialNumber, int keep, std::string_view shownKey);
  // Moves the list to the entry with key `ln`; false when it has none.
  bool SelectEntry(std::string_view ln);
  // The key of the register's stored profile in the list, "" when it has none.
  std::string StoredProfileKey() const;

  // The list's events.
  void mtProfileBeforeScroll(TWorkTable& list);
  void mtProfileAfterScroll(TWorkTable& list);
  void mtProfileAfterPost(TWorkTable& list);

  // How many times a profile's rows were read from the files.
  int LoadCount() const { return loads_; }
  // A new key: the clock's key, or one above the largest key in
  // Profile.dbf when that is not smaller (two saves within one second).
  std::int64_t NewProfileKey();

 private:
  TDbfTable& File(ProfileFile file) { return bd_.ProfileTable(file); }
  const TKKMInfo* Info() const;
  bool Check(DbfResult result, const TDbfTable& file);
  bool CheckWt(WtResult result, const TWorkTable& table);
  bool FilterProfiles(std::vector<DbfCondition> conditions);
  // Writes the visible rows of `table` over the profile's rows of `file`,
  // starting at the profile's row `skip` + 1.
  bool WriteRows(TDbfTable& file, int skip, TWorkTable& table, const std::string& key,
                 const std::function<bool(TDbfTable&, TWorkTable&, int)>& fill);
  bool FlushAll(bool profileFirst);
  // Every row of profile `ln` in the seven working tables.
  void DropProfileRows(const std::string& ln);
  // Deletes the rows the detail files' filters select (SetProfileFilters).
  bool DeleteDetailRows();

  // Every row of `f` (at most `limit`) into a row of a working table: `fill`
  // reads the row's fields (its number from 1 on) and appends and fills the
  // table's row, which is then posted; nullptr when a field failed (the load
  // ends, the failure said).
  bool LoadRows(TDbfTable& f, int limit, const std::function<TWorkTable*(int row)>& fill);
  // SetText checked; the row is cancelled when the text is refused.
  bool SetTextOrCancel(TWorkTable& t, const char* field, const std::string& text);
  bool LoadOptions(const TKKMInfo* info);
  bool LoadDepartments();
  bool LoadTaxes();
  bool LoadOperators();
  bool LoadReceiptLines();
  bool LoadFonts();

  TBD& bd_;
  std::string folder_;
  int storedFound_ = 0;
  int loads_ = 0;
  bool suppressLoad_ = false;
};

}  // namespace zarvik
