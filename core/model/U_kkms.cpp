#include "model/U_kkms.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <limits>

#include "shell/IniFile.h"
#include "shell/ProjectsVars.h"
#include "shell/U_filedirwork.h"
#include "shell/UserFiles.h"

namespace zarvik {
namespace {

constexpr int kNormalizedDigits = 3;
constexpr double kHundredthsPerUnit = 100.0;
// Beyond this the hundredths no longer fit a double exactly.
constexpr double kLargestMoney = 9.0e13;

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// A non-empty run of decimal digits that fits the field; anything else is 0.
std::int32_t FieldNumber(std::string_view field) {
  if (field.empty() ||
      !std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return 0;
  }
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
  if (ec != std::errc() || end != field.data() + field.size()) return 0;
  return value;
}

// Cuts the text before the next ","; with no "," the field is empty and
// nothing is removed.
std::string_view CutField(std::string_view& rest) {
  const std::size_t comma = rest.find(',');
  if (comma == std::string_view::npos) return {};
  const std::string_view field = Trim(rest.substr(0, comma));
  rest.remove_prefix(comma + 1);
  return field;
}

// A version or tag is part of one file name of "ECR_CFG": no separators, no
// control characters.
bool IsFileNamePart(std::string_view s) {
  return std::none_of(s.begin(), s.end(),
                      [](char c) { return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20; });
}

std::int32_t LimitOrDefault(std::int32_t value, std::int32_t lowest, std::int32_t highest, std::int32_t def) {
  return value >= lowest && value <= highest ? value : def;
}

std::uint8_t LowByte(std::int32_t v) {
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) & 0xFFu);
}

bool IsOptionNumber(int n) {
  return n >= 1 && n <= kOptionSlotCount;
}

}  // namespace

// --- money ------------------------------------------------------------------

std::int64_t MoneyToHundredths(double value) {
  if (!std::isfinite(value)) return 0;
  const double clamped = std::clamp(value, -kLargestMoney, kLargestMoney);
  return std::llround(clamped * kHundredthsPerUnit);
}

double HundredthsToMoney(std::int64_t hundredths) {
  return static_cast<double>(hundredths) / kHundredthsPerUnit;
}

std::int64_t DepartmentPriceHundredths(double price) {
  constexpr double kLargestPrice = 1e10;  // ten BCD digits of hundredths
  constexpr double kFourDecimals = 10000.0;
  const double hundredths = std::round(price * 100.0 * kFourDecimals) / kFourDecimals;
  if (!std::isfinite(hundredths) || hundredths < 0.0 || hundredths >= kLargestPrice ||
      hundredths != std::floor(hundredths))
    return 0;
  return static_cast<std::int64_t>(hundredths);
}

double RoundMoney(double value) {
  return HundredthsToMoney(MoneyToHundredths(value));
}

// --- version and descriptor lines -------------------------------------------

std::string NormalizeVersion(std::string_view version) {
  std::size_t digitsFrom = version.size();
  while (digitsFrom > 0 && version[digitsFrom - 1] >= '0' && version[digitsFrom - 1] <= '9') --digitsFrom;
  const std::size_t digits = version.size() - digitsFrom;
  if (digits >= kNormalizedDigits) return std::string(version);
  std::string out(version.substr(0, digitsFrom));
  out.append(kNormalizedDigits - digits, '0');
  out.append(version.substr(digitsFrom));
  return out;
}

void ParseOptionDescriptor(std::string_view line, int n, TOptionsInfo& option) {
  std::string_view rest = line;
  const std::string_view first = CutField(rest);
  option.minValue = FieldNumber(first);
  option.canNull = !first.empty() && first.front() == '0';
  option.maxValue = FieldNumber(CutField(rest));
  option.defaultValue = FieldNumber(CutField(rest));

  const std::size_t open = rest.find('\'');
  if (open != std::string_view::npos) rest.remove_prefix(open + 1);
  const std::size_t close = rest.find('\'');
  option.description =
      close == std::string_view::npos ? std::string() : std::string(Trim(rest.substr(0, close)));
  if (!option.description.empty()) return;

  // Nothing said about this option: the program's own table speaks for it.
  option.description = std::string(kNoDescriptionPrefix) + OptionTableDescription(n);
  const TOptionTableRow* row = OptionTableRow(n);
  option.minValue = row != nullptr ? row->Min : 0;
  option.maxValue = row != nullptr ? row->Max : 0;
  option.defaultValue = row != nullptr ? row->Default : 0;
  option.canNull = row != nullptr && row->ZeroAllowed != 0;
}

// --- TKKMInfo ---------------------------------------------------------------

TKKMInfo::TKKMInfo()
    : goodsCode(GoodsRecord.data() + kGoodsCodeOffset, kGoodsCodeLength),
      goodsPrice(GoodsRecord.data() + kGoodsPriceOffset, kGoodsPriceLength),
      goodsBarcode(GoodsRecord.data() + kGoodsBarcodeOffset, kGoodsBarcodeLength),
      goodsSold(GoodsRecord.data() + kGoodsSoldOffset, kGoodsSoldLength) {}

TKKMInfo::TKKMInfo(const TKKMInfo& other) : TKKMInfo() {
  *this = other;
}

TKKMInfo& TKKMInfo::operator=(const TKKMInfo& other) {
  if (this == &other) return *this;
  model = other.model;
  serialNumber = other.serialNumber;
  version = other.version;
  workMode = other.workMode;
  dateText = other.dateText;
  timeText = other.timeText;
  descriptorTag = other.descriptorTag;
  options = other.options;
  maxCountDepat = other.maxCountDepat;
  maxCountFont = other.maxCountFont;
  maxCountGoods = other.maxCountGoods;
  departments = other.departments;
  optionValues = other.optionValues;
  optionCount = other.optionCount;
  taxes = other.taxes;
  headerLines = other.headerLines;
  footerLines = other.footerLines;
  operatorNames = other.operatorNames;
  positions = other.positions;
  headerFont = other.headerFont;
  footerFont = other.footerFont;
  GoodsRecord = other.GoodsRecord;
  keepSoldCount = other.keepSoldCount;
  BindGoodsViews();
  return *this;
}

void TKKMInfo::BindGoodsViews() {
  goodsCode = TNumberKKM(GoodsRecord.data() + kGoodsCodeOffset, kGoodsCodeLength);
  goodsPrice = TNumberKKM(GoodsRecord.data() + kGoodsPriceOffset, kGoodsPriceLength);
  goodsBarcode = TNumberKKM(GoodsRecord.data() + kGoodsBarcodeOffset, kGoodsBarcodeLength);
  goodsSold = TNumberKKM(GoodsRecord.data() + kGoodsSoldOffset, kGoodsSoldLength);
}

std::string TKKMInfo::DescriptorPath() const {
  if (!IsFileNamePart(version) || !IsFileNamePart(descriptorTag)) return {};
  const std::string folder = JoinPath(SharedDataFolder(), std::string(kDescriptorFolder));
  return JoinPath(folder, version + "_" + descriptorTag + std::string(kDescriptorExtension));
}

bool TKKMInfo::LoadDescriptor() {
  try {
    const std::string path = DescriptorPath();
    return ReadDescriptor(path.empty() ? TIniFile::FromText("") : TIniFile(path));
  } catch (const std::exception&) {
    return false;
  }
}

bool TKKMInfo::ReadDescriptor(const TIniFile& ini) {
  try {
    maxCountDepat =
        LimitOrDefault(ini.ReadInteger(kDescriptorMaxSection, "maxCountDepat", kDefaultMaxCountDepat), 1,
                       kMaxDepartments, kDefaultMaxCountDepat);
    maxCountFont =
        LimitOrDefault(ini.ReadInteger(kDescriptorMaxSection, "maxCountFont", kDefaultMaxCountFont), 0,
                       kHighestFontNumber, kDefaultMaxCountFont);
    maxCountGoods =
        LimitOrDefault(ini.ReadInteger(kDescriptorMaxSection, "maxCountGoods", kDefaultMaxCountGoods), 1,
                       kHighestGoodsNumber, kDefaultMaxCountGoods);
    for (int n = 1; n <= kOptionSlotCount; ++n) {
      const std::string key = std::string(kDescriptorOptionKeyPrefix) + std::to_string(n);
      const std::string line = ini.ReadString(kDescriptorOptionSection, key, kDescriptorDefaultLine);
      ParseOptionDescriptor(line, n, options[static_cast<std::size_t>(n - 1)]);
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::uint8_t TKKMInfo::DepartmentCount() const {
  return LowByte(maxCountDepat);
}

std::string TKKMInfo::FontName(int n) const {
  if (n < 0 || n > static_cast<std::int64_t>(maxCountFont) + 1 || n > kHighestFontNumber) return {};
  return std::string(PrintFontNames[static_cast<std::size_t>(n)]);
}

void TKKMInfo::OptionLimits(int n, std::uint8_t& min, std::uint8_t& max) const {
  if (!IsOptionNumber(n)) {
    min = 0;
    max = 0;
    return;
  }
  const TOptionsInfo& o = options[static_cast<std::size_t>(n - 1)];
  min = LowByte(o.minValue);
  max = LowByte(o.maxValue);
}

std::uint8_t TKKMInfo::OptionDefault(int n) const {
  return IsOptionNumber(n) ? LowByte(options[static_cast<std::size_t>(n - 1)].defaultValue) : 0;
}

std::string TKKMInfo::OptionDescription(int n) const {
  return IsOptionNumber(n) ? options[static_cast<std::size_t>(n - 1)].description : std::string();
}

// --- TKKM -------------------------------------------------------------------

TKKMInfo& TKKM::Info() {
  if (!info) info = std::make_unique<TKKMInfo>();
  return *info;
}

}  // namespace zarvik
