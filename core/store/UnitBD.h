// The data module: the working tables every page edits (profile list,
// options, departments, taxes, receipt header and footer lines, receipt
// fonts, operators, goods) with their fields, display settings, default rows
// and event rules; the two option comparison copies; the dBASE tables of the
// profile database in "bd" and the goods exchange table.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "shell/UserFiles.h"
#include "store/Dbf.h"
#include "store/WorkTable.h"

namespace zarvik {

class TKKM;

// Profile keys.
inline constexpr std::string_view kRegisterProfileKey = "0";  // the values read from the register
inline constexpr std::string_view kTemplateKeyPrefix = "-";
inline constexpr std::string_view kRegisterProfileName = "Загруженая из ККМ";
// Status a new department gets from the after-insert rule (this text, not the
// language table's).
inline constexpr std::string_view kClosedStatusLiteral = "Закрыто";

// Rows created at start.
inline constexpr int kDefaultDepartmentRows = 99;
inline constexpr int kDefaultOperatorRows = 8;
inline constexpr int kDefaultOptionRows = 32;
inline constexpr int kDefaultTaxRows = 5;
inline constexpr int kDefaultReceiptLines = 6;
inline constexpr std::string_view kNewTaxType = "2";  // no tax kind

// Option comparison copies: 64 entries indexed by option number; entry 0 is
// not used and options 1..63 are the only ones ever recorded.
inline constexpr int kOptionCopySize = 64;
using OptionCopy = std::array<std::uint8_t, kOptionCopySize>;

// Goods codes of `mtTOBAP`.
inline constexpr int kGoodsTypeNone = 0;
inline constexpr int kGoodsTypeGoods = 170;
inline constexpr int kGoodsTypeService = 165;
inline constexpr int kGoodsTypeContainer = 160;
inline constexpr int kGoodsInvalid = 255;  // shown as "???" or "?"
inline constexpr int kGoodsHighestTaxGroup = 5;
inline constexpr int kGoodsHighestSaleKind = 2;  // 1 by piece, 2 by weight
inline constexpr int kGoodsSaleByPiece = 1;

// The profile database: seven dBASE IV tables in the folder "bd" (of the
// current directory, or of the user's data folder: ProfileFolderPath()).
inline constexpr std::string_view kProfileFolder = "bd";
enum class ProfileFile { Profile, Options, Dept, Tax, Check, CheckFont, Operators };
inline constexpr int kProfileFileCount = 7;
std::string_view ProfileFileName(ProfileFile file);  // "Profile.dbf", ...
// The definition a missing file is created with (and the fields its readers need).
const std::vector<DbfFieldDef>& ProfileFileFields(ProfileFile file);
// Dept.dbf status codes.
inline constexpr int kDeptStatusGoods = 0xA1;
inline constexpr int kDeptStatusService = 0xA2;
inline constexpr int kDeptStatusClosed = 0xA3;
inline constexpr int kDeptNoTaxGroup = 32;   // `ng` of a department without tax group
inline constexpr int kFooterLineOffset = 6;  // check.dbf: footer line n is stored as n + 6

// The goods exchange table: ten fields, in the order of the goods fields.
const std::vector<DbfFieldDef>& GoodsExchangeFields();

class TBD {
 public:
  // Creates the tables, opens them and runs DataModuleCreate.
  TBD();
  TBD(const TBD&) = delete;
  TBD& operator=(const TBD&) = delete;

  // The default rows of a fresh start (see the file comment of UnitBD.cpp).
  void DataModuleCreate();

  TWorkTable mtProfile{"mtProfile"};
  TWorkTable mtOptions{"mtOptions"};
  TWorkTable mtDepatment{"mtDepatment"};
  TWorkTable mtTax{"mtTax"};
  TWorkTable mtTitle{"mtTitle"};
  TWorkTable mtFooter{"mtFooter"};
  TWorkTable mtCheckFont{"mtCheckFont"};
  TWorkTable tmOperators{"tmOperators"};
  TWorkTable mtTOBAP{"mtTOBAP"};

  OptionCopy registerOptionCopy{};
  OptionCopy profileOptionCopy{};

  // The register connection, set by the main window; its `info` exists once
  // a register has been identified. Not owned.
  const TKKM* kkm = nullptr;

  // The profile files and the goods exchange table.
  TDbfTable& ProfileTable(ProfileFile file) { return profileFiles_[static_cast<std::size_t>(file)]; }
  TDbfTable DbfFile;
  // Opens a profile file of `folder` (default: the profile folder),
  // creating it with its definition when it is missing.
  DbfResult OpenProfileFile(ProfileFile file, const std::string& folder = ProfileFolderPath());

  // Table events.
  void mtDepatmentAfterInsert(TWorkTable& table);  // shared by the seven per-profile tables
  void mtDepatmentStatusChange(TWorkTable& table, TWorkField& field);
  void mtOptionsCalcFields(TWorkTable& table);
  void mtOptionsAfterPost(TWorkTable& table);
  void mtTOBAPAfterInsert(TWorkTable& table);
  void mtTOBAPBeforePost(TWorkTable& table);

  // The per-profile tables in the order the profile filter visits them.
  std::array<TWorkTable*, 7> ProfileTables();

 private:
  void DefineTables();
  std::array<TDbfTable, kProfileFileCount> profileFiles_;
};

// The data module of the run, created at start-up (nullptr before).
extern TBD* BD;

}  // namespace zarvik
