#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <iterator>
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

TEST(FileHelpers, WriteReplacesTheFileInOneStep) {
  test::TempDir dir;
  const std::string path = dir.File("journal.txt");
  ASSERT_TRUE(WriteTextFile(path, "old\r\n"));
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_EQ(::symlink(path.c_str(), dir.File("link.txt").c_str()), 0);
  // Through the link: the file it points to gets the text, the link stays,
  // the mode is kept, and no temporary file is left.
  ASSERT_TRUE(WriteTextFile(dir.File("link.txt"), "new\r\n"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.txt")));
  EXPECT_EQ(test::ReadAll(path), "new\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator{}),
      2);
  // A write that fails half-way (here the size limit of the process) leaves
  // the old text whole.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = WriteTextFile(path, std::string(5000, 'x'));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(written);
  EXPECT_EQ(test::ReadAll(path), "new\r\n");
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator{}),
      2);
  // A device is written as it is.
  EXPECT_TRUE(WriteTextFile("/dev/null", "x"));
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
