#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "shell/ProjectsVars.h"
#include "shell/U_filedirwork.h"

namespace zarvik {
namespace {

struct SwitchCase {
  std::vector<std::string> args;
  bool debug;
  bool autonom;
  bool okb;
  TMessDepth depth;
};

TEST(Switches, CommandLineWords) {
  const SwitchCase cases[] = {
      {{}, false, false, false, mdUser},
      {{"debug"}, true, false, false, mdFunctional},
      {{"DEBUG"}, true, false, false, mdFunctional},
      {{"mdhardware"}, false, false, false, mdHardWare},
      {{"mdhardware", "debug"}, true, false, false, mdFunctional},
      {{"debug", "mdhardware"}, true, false, false, mdFunctional},
      {{"mdsystem", "mdapplied"}, false, false, false, mdApplied},
      {{"MdFunctional"}, false, false, false, mdFunctional},
      {{"autonom", "OKB"}, false, true, true, mdUser},
      {{"admin", "fullfun", "whatever", "mdcomponents"}, false, false, false, mdUser},
  };
  for (const auto& c : cases) {
    ResetSwitches();
    ParseSwitches(c.args);
    std::string name;
    for (const auto& a : c.args) name += a + " ";
    EXPECT_EQ(isDEBUG, c.debug) << name;
    EXPECT_EQ(isAUTONOM, c.autonom) << name;
    EXPECT_EQ(isOKB, c.okb) << name;
    EXPECT_EQ(MessDepth, c.depth) << name;
  }
  ResetSwitches();
}

TEST(Switches, ConfigStopIsExactCaseAndChecksEveryArgument) {
  EXPECT_TRUE(HasConfigStop({"/opt/ZarvikConfig", "CONFIG_STOP"}));
  EXPECT_TRUE(HasConfigStop({"CONFIG_STOP"}));  // the program path counts too
  EXPECT_FALSE(HasConfigStop({"/opt/ZarvikConfig", "config_stop"}));
  EXPECT_FALSE(HasConfigStop({"/opt/ZarvikConfig"}));
}

TEST(Switches, PrintFontNames) {
  ASSERT_EQ(PrintFontNames.size(), 9u);
  EXPECT_EQ(PrintFontNames[0], "0 (по умолчанию)");
  EXPECT_EQ(PrintFontNames[5], "5 (24 символа, ДВОЙНОЙ по высоте, ЖИРНЫЙ)");
  EXPECT_EQ(PrintFontNames[8], "8 (32 символа, СЖАТЫЙ по высоте)");
  for (std::size_t i = 0; i < PrintFontNames.size(); ++i) {
    EXPECT_EQ(PrintFontNames[i].front(), static_cast<char>('0' + i));
  }
}

TEST(FileHelpers, WriteReadAndNulBytes) {
  test::TempDir dir;
  const std::string path = dir.File("sub/folder/f.csv");
  EnsureFolder(dir.File("sub/folder"));
  EnsureFolder(dir.File("sub/folder"));  // existing folder left alone
  const std::string bytes("a\0b\r\n\xC0\0", 7);
  ASSERT_TRUE(WriteTextFile(path, bytes));
  std::string back;
  ASSERT_TRUE(ReadTextFile(path, back));
  EXPECT_EQ(back, std::string("a b\r\n\xC0 ", 7));
  EXPECT_FALSE(ReadTextFile(dir.File("missing"), back));
  EXPECT_FALSE(WriteTextFile(dir.File("no/such/folder/x"), "x"));
}

TEST(FileHelpers, ReadsFilesLargerThanOneBlock) {
  test::TempDir dir;
  const std::string big(200000, 'x');
  ASSERT_TRUE(WriteTextFile(dir.File("big"), big));
  std::string back;
  ASSERT_TRUE(ReadTextFile(dir.File("big"), back));
  EXPECT_EQ(back, big);
}

}  // namespace
}  // namespace zarvik
