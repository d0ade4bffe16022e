// The register model: `TKKM`, the connection to the register, and
// `TKKMInfo`, everything read from the register or about to be written to it,
// together with the model descriptor files ("ECR_CFG" beside the program, one
// INI file per register version) that give capacity limits and the
// descriptions, intervals and defaults of the options.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "model/OptionTable.h"
#include "model/Typessimpledata.h"

namespace zarvik {

class TComPort;
class TIniFile;

// Capacities of the register's tables.
inline constexpr int kMaxDepartments = 99;
inline constexpr int kTaxCount = 5;
inline constexpr int kReceiptLineCount = 6;
inline constexpr int kOperatorCount = 8;
inline constexpr int kGoodsRecordSize = 64;
inline constexpr int kHighestFontNumber = 8;        // the nine print fonts 0..8
inline constexpr int kHighestGoodsNumber = 999999;  // six BCD digits of the goods code

// Goods record layout: the number fields the goods workflow converts.
inline constexpr int kGoodsCodeOffset = 2;
inline constexpr int kGoodsCodeLength = 3;
inline constexpr int kGoodsPriceOffset = 37;
inline constexpr int kGoodsPriceLength = 5;
inline constexpr int kGoodsBarcodeOffset = 44;
inline constexpr int kGoodsBarcodeLength = 10;
inline constexpr int kGoodsSoldOffset = 54;
inline constexpr int kGoodsSoldLength = 5;

// Model descriptor files.
inline constexpr std::string_view kDescriptorFolder = "ECR_CFG";
inline constexpr std::string_view kDescriptorTag = "000000";  // set by identification
inline constexpr std::string_view kDescriptorExtension = ".ini";
inline constexpr std::string_view kDescriptorMaxSection = "max";
inline constexpr std::string_view kDescriptorOptionSection = "opions";  // spelled so in every descriptor
inline constexpr std::string_view kDescriptorOptionKeyPrefix = "op";
inline constexpr std::string_view kDescriptorDefaultLine = "0,0,0,''";
// Description prefix of an option taken from the built-in table.
inline constexpr std::string_view kNoDescriptionPrefix = "нет описания,def: ";

inline constexpr std::int32_t kDefaultMaxCountDepat = 4;
inline constexpr std::int32_t kDefaultMaxCountFont = 4;  // when the descriptor lacks the key
inline constexpr std::int32_t kInitialMaxCountFont = 8;  // before any descriptor is read
inline constexpr std::int32_t kDefaultMaxCountGoods = 100;

// The descriptor of one option.
struct TOptionsInfo {
  std::int32_t minValue = 0;
  std::int32_t maxValue = 0;
  std::int32_t defaultValue = 0;
  std::string description;
  bool canNull = false;  // 0 is allowed besides the interval
};

// One department.
struct TDepRec {
  std::string status;    // a department-state text of the language table
  std::string name;      // up to 22 characters
  std::string taxGroup;  // "A".."E", "0" for a closed department
  double price = 0.0;    // price limit in roubles, two decimals
};

// One tax rate (read only).
struct TTaxRec {
  static constexpr std::uint8_t kDefinedMark = 0xAA;
  std::uint8_t defined = 0;
  std::uint8_t kind = 0;
  std::string name;   // up to 12 characters
  double rate = 0.0;  // percent
};

// Money in the model is roubles (and percent) with two decimals, held as
// double; the register counts hundredths. These convert exactly, rounding to
// the nearest hundredth.
std::int64_t MoneyToHundredths(double value);
double HundredthsToMoney(std::int64_t hundredths);
// The value rounded to the nearest hundredth.
double RoundMoney(double value);
// The price limit of a department as SetDepartment sends it, in hundredths:
// the value times 100 rounded to four decimals when that is a whole number
// of at most ten digits, else 0 (the field is left zero).
std::int64_t DepartmentPriceHundredths(double price);

class TKKMInfo {
 public:
  TKKMInfo();
  // A copy has its own goods record and its number views over it.
  TKKMInfo(const TKKMInfo& other);
  TKKMInfo& operator=(const TKKMInfo& other);
  ~TKKMInfo() = default;

  std::string model = "???";
  std::string serialNumber = "???";
  std::string version = "???";
  std::uint8_t workMode = 0;  // 0 AUTONOM, 1 ON-LINE, 2 OFF-LINE, 3 FR
  std::string dateText;       // DD.MM.YY
  std::string timeText;       // HH:MM:SS
  std::string descriptorTag;  // second half of the descriptor file name
  std::array<TOptionsInfo, kOptionSlotCount> options{};
  std::int32_t maxCountDepat = kDefaultMaxCountDepat;
  std::int32_t maxCountFont = kInitialMaxCountFont;
  std::int32_t maxCountGoods = kDefaultMaxCountGoods;
  std::array<TDepRec, kMaxDepartments> departments{};  // index = department - 1
  std::array<std::uint8_t, kOptionSlotCount> optionValues{};
  std::uint8_t optionCount = 0;
  std::array<TTaxRec, kTaxCount> taxes{};  // index = tax number - 1
  std::array<std::string, kReceiptLineCount> headerLines{};
  std::array<std::string, kReceiptLineCount> footerLines{};
  std::array<std::string, kOperatorCount> operatorNames{};
  std::array<std::string, kOperatorCount> positions{};
  std::uint8_t headerFont = 0;
  std::uint8_t footerFont = 0;
  std::array<std::uint8_t, kGoodsRecordSize> GoodsRecord{};
  // Views of GoodsRecord.
  TNumberKKM goodsCode;
  TNumberKKM goodsPrice;
  TNumberKKM goodsBarcode;
  TNumberKKM goodsSold;
  bool keepSoldCount = false;

  // Full path of the model descriptor of `version` and `descriptorTag`; an
  // empty text when the version could name a file outside "ECR_CFG".
  std::string DescriptorPath() const;
  // Reads the model descriptor into `options`, `maxCountDepat`,
  // `maxCountFont` and `maxCountGoods`. A missing file, section or key gives
  // the defaults, options without a description the built-in table. Limits
  // outside what the register can have (departments 1..99, fonts 0..8, goods
  // 1..999999) give the defaults as well.
  bool LoadDescriptor();
  // The same from descriptor text already read.
  bool ReadDescriptor(const TIniFile& ini);

  std::uint8_t OptionCount() const { return optionCount; }
  std::uint8_t DepartmentCount() const;
  std::int32_t FontCount() const { return maxCountFont + 1; }
  // Name of print font n; empty above maxCountFont + 1 or above 8.
  std::string FontName(int n) const;
  std::int32_t MaxCountGoods() const { return maxCountGoods; }
  // Low bytes of the interval of option n (1..64); 0 and 0 otherwise.
  void OptionLimits(int n, std::uint8_t& min, std::uint8_t& max) const;
  std::uint8_t OptionDefault(int n) const;
  std::string OptionDescription(int n) const;

 private:
  void BindGoodsViews();
};

// Parses an option descriptor line "min,max,default,'description'" into
// `option`; an empty description takes every value from row `n` of the
// built-in table, the description with the prefix "нет описания,def: ".
void ParseOptionDescriptor(std::string_view line, int n, TOptionsInfo& option);

// Version as the register reports it, normalised for the descriptor name: a
// run of fewer than three trailing digits is padded with "0" to three ("B 3"
// becomes "B 003", a text without trailing digits gains "000").
std::string NormalizeVersion(std::string_view version);

// The register connection.
class TKKM {
 public:
  explicit TKKM(TComPort* registerPort = nullptr) : port(registerPort) {}
  TKKM(const TKKM&) = delete;
  TKKM& operator=(const TKKM&) = delete;

  // The register information, created on first use and then kept.
  TKKMInfo& Info();

  std::uint8_t networkNumber = 1;  // 1..98
  TComPort* port = nullptr;        // not owned
  std::unique_ptr<TKKMInfo> info;  // empty until the first command stores a result
  std::uint8_t rxSeq = 0;
  std::uint8_t txSeq = 0;
  std::uint8_t linkState = 0;
};

}  // namespace zarvik
