// The register model, version normalisation and the model descriptors.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "model/OptionTable.h"
#include "model/U_kkms.h"
#include "shell/ProjectsVars.h"
#include "shell/TextCodec.h"

namespace zarvik {
namespace {

namespace fs = std::filesystem;

const std::string kPrefix(kNoDescriptionPrefix);

bool StartsWith(const std::string& s, const std::string& head) {
  return s.rfind(head, 0) == 0;
}

// Expects option n to be row n of the built-in table with the prefix.
void ExpectBuiltIn(const TOptionsInfo& o, int n) {
  const TOptionTableRow& row = *OptionTableRow(n);
  EXPECT_EQ(o.minValue, row.Min) << n;
  EXPECT_EQ(o.maxValue, row.Max) << n;
  EXPECT_EQ(o.defaultValue, row.Default) << n;
  EXPECT_EQ(o.canNull, row.ZeroAllowed != 0) << n;
  EXPECT_EQ(o.description, kPrefix + OptionTableDescription(n)) << n;
}

// A program folder of its own for each test.
class ModelDescriptors : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::temp_directory_path() / ("zarvik-model-" + std::to_string(::getpid()) + "-" + info->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    savedProgramPath_ = ProgramPath();
    SetProgramPath((root_ / "ZarvikConfig").string());
  }
  void TearDown() override {
    SetProgramPath(savedProgramPath_);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  void PutDescriptor(const std::string& fileName, const std::string& bytes) const {
    fs::create_directories(root_ / "ECR_CFG");
    std::ofstream(root_ / "ECR_CFG" / fileName, std::ios::binary) << bytes;
  }
  static TKKMInfo Identified(const std::string& reportedVersion) {
    TKKMInfo info;
    info.version = NormalizeVersion(reportedVersion);
    info.descriptorTag = std::string(kDescriptorTag);
    return info;
  }
  fs::path root_;
  std::string savedProgramPath_;
};

// --- initial state ----------------------------------------------------------

TEST(KkmModel, InitialValues) {
  TKKM kkm;
  EXPECT_EQ(kkm.info, nullptr);
  EXPECT_EQ(kkm.port, nullptr);
  EXPECT_EQ(kkm.rxSeq, 0);
  EXPECT_EQ(kkm.txSeq, 0);
  EXPECT_EQ(kkm.linkState, 0);
  TKKMInfo& info = kkm.Info();
  EXPECT_EQ(&kkm.Info(), &info);  // created once, then kept

  EXPECT_EQ(info.model, "???");
  EXPECT_EQ(info.serialNumber, "???");
  EXPECT_EQ(info.version, "???");
  EXPECT_EQ(info.dateText, "");
  EXPECT_EQ(info.descriptorTag, "");
  EXPECT_EQ(info.maxCountDepat, 4);
  EXPECT_EQ(info.maxCountFont, 8);
  EXPECT_EQ(info.maxCountGoods, 100);
  EXPECT_EQ(info.OptionCount(), 0);
  EXPECT_EQ(info.FontCount(), 9);
  for (const TOptionsInfo& o : info.options) {
    EXPECT_EQ(o.minValue, 0);
    EXPECT_EQ(o.maxValue, 0);
    EXPECT_EQ(o.description, "");
    EXPECT_FALSE(o.canNull);
  }
  EXPECT_EQ(info.departments[98].name, "");
  EXPECT_EQ(info.departments[98].price, 0.0);
}

TEST(KkmModel, GoodsViewsCoverTheirBytesOfTheRecord) {
  TKKMInfo info;
  info.GoodsRecord.fill(0);
  ASSERT_TRUE(info.goodsCode.FromText("123456"));
  ASSERT_TRUE(info.goodsPrice.FromText("9999999999"));
  ASSERT_TRUE(info.goodsBarcode.FromText("4601234567890"));
  ASSERT_TRUE(info.goodsSold.FromText("1500"));
  std::vector<int> touched;
  for (int i = 0; i < kGoodsRecordSize; ++i) {
    if (info.GoodsRecord[static_cast<std::size_t>(i)] != 0) touched.push_back(i);
  }
  // 13 barcode digits fill 7 of its 10 bytes; 1500 sold leaves byte 54 at 0x00.
  const std::vector<int> expected = {2, 3, 4, 37, 38, 39, 40, 41, 44, 45, 46, 47, 48, 49, 50, 55};
  EXPECT_EQ(touched, expected);
  EXPECT_EQ(info.GoodsRecord[2], 0x56);
  EXPECT_EQ(info.GoodsRecord[4], 0x12);
  EXPECT_EQ(info.goodsBarcode.ToText(), "4601234567890");
  EXPECT_EQ(info.goodsBarcode.length, 10);
  EXPECT_EQ(info.goodsSold.ToText(), "1500");
}

TEST(KkmModel, CopyHasItsOwnRecordAndViews) {
  TKKMInfo a;
  a.GoodsRecord.fill(0);
  ASSERT_TRUE(a.goodsCode.FromText("77"));
  a.model = "Z-1";
  TKKMInfo b(a);
  EXPECT_EQ(b.goodsCode.ToText(), "77");
  ASSERT_TRUE(b.goodsCode.FromText("88"));
  EXPECT_EQ(a.goodsCode.ToText(), "77");
  EXPECT_EQ(b.model, "Z-1");
  TKKMInfo c;
  c = b;
  ASSERT_TRUE(b.goodsCode.FromText("99"));
  EXPECT_EQ(c.goodsCode.ToText(), "88");
  EXPECT_EQ(c.goodsCode.data, c.GoodsRecord.data() + kGoodsCodeOffset);
}

TEST(KkmModel, MoneyConvertsToTheHundredth) {
  const std::pair<double, std::int64_t> cases[] = {
      {0.0, 0},
      {1.15, 115},
      {0.29, 29},
      {19.99, 1999},
      {1234567.89, 123456789},
      {-2.5, -250},
      {0.004999, 0},
      {0.005, 1},
      {99999999.99, 9999999999},
  };
  for (const auto& [money, hundredths] : cases) {
    EXPECT_EQ(MoneyToHundredths(money), hundredths) << money;
    EXPECT_EQ(MoneyToHundredths(HundredthsToMoney(hundredths)), hundredths) << money;
  }
  EXPECT_EQ(HundredthsToMoney(115), 1.15);
  EXPECT_EQ(RoundMoney(2.675), 2.68);
  EXPECT_EQ(MoneyToHundredths(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_GT(MoneyToHundredths(1e300), 0);
}

// --- version normalisation ----------------------------------------------------

TEST(KkmModel, VersionNormalisation) {
  const std::pair<std::string, std::string> cases[] = {
      {"B 3", "B 003"},       {"V100", "V100"},   {"B 003", "B 003"},
      {"1.5", "1.005"},       {"X", "X000"},      {"", "000"},
      {"12", "012"},          {"A1234", "A1234"}, {"B 3 ", "B 3 000"},  // not trimmed: no trailing digits
      {"Верс 7", "Верс 007"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(NormalizeVersion(in), out) << in;
}

// --- descriptor lines -----------------------------------------------------------

TEST(KkmModel, DescriptorLineParsing) {
  struct Case {
    std::string line;
    int min, max, def;
    bool canNull;
    std::string description;
  };
  const std::vector<Case> cases = {
      {"5,99,10,'text'", 5, 99, 10, false, "text"},
      {"0,1,0,'x'", 0, 1, 0, true, "x"},
      {"05,9,7,'x'", 5, 9, 7, true, "x"},
      {" 7 , 8 , 9 , '  two words, one comma  ' tail", 7, 8, 9, false, "two words, one comma"},
      {"a,b,c,'letters'", 0, 0, 0, false, "letters"},
      {"-1,2,3,'sign'", 0, 2, 3, false, "sign"},
      {"99999999999,1,2,'huge'", 0, 1, 2, false, "huge"},
      {"2147483647,1,2,'largest'", 2147483647, 1, 2, false, "largest"},
      {"1,2,3'no comma'", 1, 2, 0, false, "no comma"},
      {"1,2,3,x'y'z'", 1, 2, 3, false, "y"},
      {"0,,,'empty fields'", 0, 0, 0, true, "empty fields"},
      {"9,1,5,'unchecked'", 9, 1, 5, false, "unchecked"},  // values are not checked against each other
  };
  for (const auto& c : cases) {
    TOptionsInfo o;
    ParseOptionDescriptor(c.line, 3, o);
    EXPECT_EQ(o.minValue, c.min) << c.line;
    EXPECT_EQ(o.maxValue, c.max) << c.line;
    EXPECT_EQ(o.defaultValue, c.def) << c.line;
    EXPECT_EQ(o.canNull, c.canNull) << c.line;
    EXPECT_EQ(o.description, c.description) << c.line;
  }
}

TEST(KkmModel, LinesWithoutADescriptionTakeTheBuiltInRow) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"1,2,3,''", 4},  {"1,2,3,'abc", 5}, {"1,2,3,'   '", 6}, {"12", 7}, {"", 8},
      {"0,0,0,''", 34}, {"7,7,7,'", 40},   {"1,2,3,''", 51},   {"'", 64}, {"\x01\x02,\xff'", 33},
  };
  for (const auto& [line, n] : cases) {
    TOptionsInfo o;
    o.description = "before";
    ParseOptionDescriptor(line, n, o);
    ExpectBuiltIn(o, n);
  }
  TOptionsInfo o;
  ParseOptionDescriptor("1,2,3,''", 51, o);
  EXPECT_EQ(o.description, kPrefix);  // a row without a description gives the prefix alone
  ParseOptionDescriptor("1,2,3,''", 34, o);
  EXPECT_TRUE(o.canNull);
  ParseOptionDescriptor("1,2,3,''", 65, o);  // no row at all
  EXPECT_EQ(o.description, kPrefix);
  EXPECT_EQ(o.maxValue, 0);
}

// --- descriptor files -------------------------------------------------------------

TEST_F(ModelDescriptors, PathIsVersionUnderscoreTagBesideTheProgram) {
  const TKKMInfo info = Identified("B 3");
  EXPECT_EQ(fs::path(info.DescriptorPath()), root_ / "ECR_CFG" / "B 003_000000.ini");
  TKKMInfo evil = Identified("../../etc/passwd");
  EXPECT_EQ(evil.DescriptorPath(), "");
  EXPECT_TRUE(evil.LoadDescriptor());
  ExpectBuiltIn(evil.options[0], 1);
}

TEST_F(ModelDescriptors, EveryFormOfLineInOneFile) {
  fs::create_directories(root_ / "ECR_CFG");
  fs::copy_file(fs::path(ZARVIK_TEST_DATA) / "model" / "descriptor_cases.ini",
                root_ / "ECR_CFG" / "B 003_000000.ini");
  TKKMInfo info = Identified("B 3");
  ASSERT_TRUE(info.LoadDescriptor());

  EXPECT_EQ(info.maxCountDepat, 12);
  EXPECT_EQ(info.DepartmentCount(), 12);
  EXPECT_EQ(info.maxCountFont, 6);
  EXPECT_EQ(info.MaxCountGoods(), 500);

  const auto& o = info.options;
  EXPECT_EQ(o[0].description, "text");
  EXPECT_FALSE(o[0].canNull);
  EXPECT_TRUE(o[1].canNull);
  EXPECT_EQ(o[2].minValue, 5);
  EXPECT_TRUE(o[2].canNull);
  ExpectBuiltIn(o[3], 4);  // empty description
  ExpectBuiltIn(o[4], 5);  // unclosed quote
  EXPECT_EQ(o[5].description, "Описание; с запятой, и точкой с запятой");
  EXPECT_EQ(o[5].maxValue, 8);
  ExpectBuiltIn(o[6], 7);  // no comma, no quote
  EXPECT_EQ(o[7].description, "буквы");
  EXPECT_EQ(o[8].minValue, 0);
  EXPECT_EQ(o[9].description, "без запятой");  // key names ignore case
  EXPECT_EQ(o[9].defaultValue, 0);
  for (int n = 11; n <= 33; ++n) ExpectBuiltIn(o[static_cast<std::size_t>(n - 1)], n);
  ExpectBuiltIn(o[33], 34);
  EXPECT_EQ(o[39].description, "Зарезервировано иначе");
  EXPECT_EQ(o[63].description, "последняя");

  std::uint8_t min = 0, max = 0;
  info.OptionLimits(1, min, max);
  EXPECT_EQ(min, 5);
  EXPECT_EQ(max, 99);
  EXPECT_EQ(info.OptionDefault(1), 10);
  EXPECT_EQ(info.OptionDescription(64), "последняя");
}

TEST_F(ModelDescriptors, MissingFolderGivesDefaultsAndTheBuiltInTable) {
  TKKMInfo info = Identified("V100");
  info.maxCountDepat = 50;
  info.maxCountFont = 8;
  ASSERT_TRUE(info.LoadDescriptor());
  EXPECT_EQ(info.maxCountDepat, 4);
  EXPECT_EQ(info.maxCountFont, 4);
  EXPECT_EQ(info.maxCountGoods, 100);
  for (int n = 1; n <= kOptionSlotCount; ++n) {
    ExpectBuiltIn(info.options[static_cast<std::size_t>(n - 1)], n);
    EXPECT_TRUE(StartsWith(info.OptionDescription(n), "нет описания,def: ")) << n;
  }
  EXPECT_NE(info.OptionDescription(1).find("def:"), std::string::npos);  // shown as an unknown model
}

TEST_F(ModelDescriptors, OutOfRangeLimitsFallBackToTheDefaults) {
  struct Case {
    std::string max;
    std::int32_t depat, font, goods;
  };
  const std::vector<Case> cases = {
      {"maxCountDepat=99\nmaxCountFont=0\nmaxCountGoods=999999", 99, 0, 999999},
      {"maxCountDepat=100\nmaxCountFont=9\nmaxCountGoods=1000000", 4, 4, 100},
      {"maxCountDepat=0\nmaxCountFont=-1\nmaxCountGoods=0", 4, 4, 100},
      {"maxCountDepat=4294967300\nmaxCountFont=x\nmaxCountGoods=", 4, 4, 100},
      {"maxCountDepat=-3\nmaxCountFont=8\nmaxCountGoods=1", 4, 8, 1},
  };
  for (const auto& c : cases) {
    PutDescriptor("V100_000000.ini", "[max]\n" + c.max + "\n");
    TKKMInfo info = Identified("V100");
    ASSERT_TRUE(info.LoadDescriptor());
    EXPECT_EQ(info.maxCountDepat, c.depat) << c.max;
    EXPECT_EQ(info.maxCountFont, c.font) << c.max;
    EXPECT_EQ(info.maxCountGoods, c.goods) << c.max;
  }
}

TEST_F(ModelDescriptors, GarbageFilesReadAsDefaults) {
  std::string junk;
  std::uint32_t x = 12345;
  for (int i = 0; i < 20000; ++i) {
    x = x * 1103515245u + 12345u;
    junk.push_back(static_cast<char>(x >> 24));
  }
  const std::string longLine = "[opions]\nop1=1,2,3,'" + std::string(100000, 'a') +
                               "'\nop2=" + std::string(50000, '9') + "," + std::string(50000, '\'') + "\n";
  for (const std::string& bytes : {junk, longLine, std::string("[opions]\nop1=\0\0\0,'x'\n", 21)}) {
    PutDescriptor("G 001_000000.ini", bytes);
    TKKMInfo info = Identified("G 1");
    ASSERT_TRUE(info.LoadDescriptor());
    EXPECT_GE(info.maxCountDepat, 1);
    EXPECT_LE(info.maxCountDepat, kMaxDepartments);
    EXPECT_LE(info.FontCount(), 9);
    for (int n = 1; n <= kOptionSlotCount; ++n) EXPECT_FALSE(info.OptionDescription(n).empty()) << n;
  }
}

// --- accessors --------------------------------------------------------------------

TEST(KkmModel, FontNamesFollowMaxCountFont) {
  TKKMInfo info;
  info.maxCountFont = 4;
  for (int n = 0; n <= 5; ++n) EXPECT_EQ(info.FontName(n), PrintFontNames[static_cast<std::size_t>(n)]) << n;
  EXPECT_EQ(info.FontName(6), "");
  EXPECT_EQ(info.FontName(-1), "");
  EXPECT_EQ(info.FontCount(), 5);
  info.maxCountFont = 8;
  EXPECT_EQ(info.FontName(8), PrintFontNames[8]);
  EXPECT_EQ(info.FontName(9), "");
  info.maxCountFont = 2147483647;
  EXPECT_EQ(info.FontName(9), "");
}

TEST(KkmModel, OptionAccessorsOutsideOneTo64) {
  TKKMInfo info;
  info.options[0] = {300, 511, 258, "first", false};  // low bytes
  info.options[63] = {1, 2, 3, "last", true};
  std::uint8_t min = 7, max = 7;
  info.OptionLimits(1, min, max);
  EXPECT_EQ(min, 44);
  EXPECT_EQ(max, 255);
  EXPECT_EQ(info.OptionDefault(1), 2);
  info.OptionLimits(64, min, max);
  EXPECT_EQ(max, 2);
  for (const int n : {0, 65, -1, 1000}) {
    min = 7;
    max = 7;
    info.OptionLimits(n, min, max);
    EXPECT_EQ(min, 0) << n;
    EXPECT_EQ(max, 0) << n;
    EXPECT_EQ(info.OptionDefault(n), 0) << n;
    EXPECT_EQ(info.OptionDescription(n), "") << n;
  }
  info.maxCountDepat = 0x1FF;
  EXPECT_EQ(info.DepartmentCount(), 0xFF);  // the low byte
}

// --- the shipped descriptor -------------------------------------------------------

TEST(ShippedDescriptor, DescribesVersionB003WithTheBuiltInTable) {
  const std::string saved = ProgramPath();
  SetProgramPath(std::string(ZARVIK_SOURCE_DIR) + "/data/ZarvikConfig");
  TKKMInfo info;
  info.version = NormalizeVersion("B 003");
  info.descriptorTag = std::string(kDescriptorTag);
  ASSERT_TRUE(fs::exists(info.DescriptorPath())) << info.DescriptorPath();
  ASSERT_TRUE(info.LoadDescriptor());
  SetProgramPath(saved);

  EXPECT_EQ(info.maxCountDepat, 16);
  EXPECT_EQ(info.maxCountFont, 8);
  EXPECT_EQ(info.OptionDescription(1).find("def:"), std::string::npos);
  for (int n = 1; n <= kOptionSlotCount; ++n) {
    const TOptionTableRow& row = *OptionTableRow(n);
    const TOptionsInfo& o = info.options[static_cast<std::size_t>(n - 1)];
    EXPECT_EQ(o.minValue, row.Min) << n;
    EXPECT_EQ(o.maxValue, row.Max) << n;
    EXPECT_EQ(o.defaultValue, row.Default) << n;
    if (row.Description != nullptr) {
      EXPECT_EQ(o.description, row.Description) << n;
      EXPECT_EQ(o.canNull, row.Min == 0 || row.ZeroAllowed != 0) << n;  // a leading "0" allows zero
    } else {
      ExpectBuiltIn(o, n);  // no line in the file
    }
  }
}

}  // namespace
}  // namespace zarvik
