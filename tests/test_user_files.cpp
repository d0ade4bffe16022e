// Where the programs keep the user's files: the working folder in a build
// tree or when asked for, the XDG base directories when installed; and the
// files of a portable run found in the working folder of an installed one.
#include "shell/UserFiles.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>

#include "TestSupport.h"
#include "port/PortTable.h"
#include "shell/U_filedirwork.h"

namespace zarvik {
namespace {

namespace fs = std::filesystem;
using test::MessageStateGuard;
using test::ReadAll;
using test::WriteAll;

constexpr const char* kVariables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME",
                                      kPortableEnv};

// A scratch machine: a program tree (installed under usr/, or a build tree),
// a home, a working folder; environment and current folder restored after.
class UserFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : kVariables) {
      const char* value = std::getenv(v);
      saved_[v] = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
      ::unsetenv(v);
    }
    savedCwd_ = fs::current_path();
    home = guard.Dir().File("home");
    work = guard.Dir().File("work");
    fs::create_directories(home);
    fs::create_directories(work);
    ::setenv("HOME", home.c_str(), 1);
    fs::current_path(work);
  }
  void TearDown() override {
    fs::current_path(savedCwd_);
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  // usr/bin/<name> with usr/share/zarvikconfig beside.
  std::string Installed(const std::string& name = "zarvikconfig") {
    fs::create_directories(guard.Dir().File("usr/bin"));
    fs::create_directories(guard.Dir().File("usr/share/zarvikconfig/ECR_CFG"));
    const std::string program = guard.Dir().File("usr/bin/" + name);
    SetProgramPath(program);
    return program;
  }
  std::string BuildTree() {
    fs::create_directories(guard.Dir().File("build/ui/ECR_CFG"));
    const std::string program = guard.Dir().File("build/ui/ZarvikConfig");
    SetProgramPath(program);
    return program;
  }
  static std::string Norm(const std::string& p) { return fs::path(p).lexically_normal().string(); }

  MessageStateGuard guard;
  std::string home, work;

 private:
  std::map<std::string, std::optional<std::string>> saved_;
  fs::path savedCwd_;
};

TEST_F(UserFilesTest, BuildTreeKeepsEverythingInTheWorkingFolderAndTheLogBesideTheProgram) {
  BuildTree();
  ::setenv("XDG_CONFIG_HOME", (home + "/cfg").c_str(), 1);
  EXPECT_FALSE(IsInstalledProgram());
  EXPECT_EQ(FileLayout(), TFileLayout::Portable);
  EXPECT_EQ(ProgramIniPath(), work + "/ZarvikConfig.ini");
  EXPECT_EQ(ProfileFolderPath(), "bd");
  EXPECT_EQ(LogFilePath(), guard.Dir().File("build/ui/ZarvikConfig.log"));
  EXPECT_EQ(SharedDataFolder(), guard.Dir().File("build/ui"));
  EXPECT_TRUE(FindWorkingFolderFiles().empty());
}

TEST_F(UserFilesTest, AFolderNamedBinWithoutSharedDataIsNoInstallation) {
  fs::create_directories(guard.Dir().File("opt/bin"));
  SetProgramPath(guard.Dir().File("opt/bin/zarvikctl"));
  EXPECT_FALSE(IsInstalledProgram());
  EXPECT_EQ(ProgramIniPath(), work + "/ZarvikConfig.ini");
}

// Each row: the XDG variables set (relative values are not absolute paths
// and so are ignored, as the XDG rules say), where each file is expected.
struct XdgCase {
  const char* config;
  const char* data;
  const char* state;
  const char* ini;  // relative to the scratch root
  const char* bd;
  const char* log;
};

TEST_F(UserFilesTest, InstalledProgramFollowsTheXdgBaseDirectories) {
  const XdgCase cases[] = {
      {nullptr, nullptr, nullptr, "home/.config/ZarvikConfig/ZarvikConfig.ini",
       "home/.local/share/ZarvikConfig/bd", "home/.local/state/ZarvikConfig/zarvikconfig.log"},
      {"ABS/c", "ABS/d", "ABS/s", "c/ZarvikConfig/ZarvikConfig.ini", "d/ZarvikConfig/bd",
       "s/ZarvikConfig/zarvikconfig.log"},
      {"relative", "", "relative/s", "home/.config/ZarvikConfig/ZarvikConfig.ini",
       "home/.local/share/ZarvikConfig/bd", "home/.local/state/ZarvikConfig/zarvikconfig.log"},
  };
  Installed();
  ASSERT_TRUE(IsInstalledProgram());
  for (const XdgCase& c : cases) {
    const std::pair<const char*, const char*> vars[] = {
        {"XDG_CONFIG_HOME", c.config}, {"XDG_DATA_HOME", c.data}, {"XDG_STATE_HOME", c.state}};
    for (const auto& [name, value] : vars) {
      if (value == nullptr) {
        ::unsetenv(name);
      } else {
        const std::string v(value);
        const std::string text = v.starts_with("ABS/") ? guard.Dir().File(v.substr(4)) : v;
        ::setenv(name, text.c_str(), 1);
      }
    }
    SCOPED_TRACE(c.ini);
    EXPECT_EQ(FileLayout(), TFileLayout::PerUser);
    EXPECT_EQ(ProgramIniPath(), guard.Dir().File(c.ini));
    EXPECT_EQ(ProfileFolderPath(), guard.Dir().File(c.bd));
    EXPECT_EQ(LogFilePath(), guard.Dir().File(c.log));
  }
  EXPECT_EQ(SharedDataFolder(), guard.Dir().File("usr/share/zarvikconfig"));
}

TEST_F(UserFilesTest, PortableByEnvironmentOrSwitchUsesTheWorkingFolderForEverything) {
  Installed("zarvikctl");
  // Only "1" asks for it; the switch word in any case.
  for (const char* value : {"0", "yes", ""}) {
    ::setenv(kPortableEnv, value, 1);
    EXPECT_EQ(FileLayout(), TFileLayout::PerUser) << value;
  }
  ::setenv(kPortableEnv, "1", 1);
  EXPECT_EQ(FileLayout(), TFileLayout::Portable);
  EXPECT_EQ(ProgramIniPath(), work + "/ZarvikConfig.ini");
  EXPECT_EQ(ProfileFolderPath(), "bd");
  EXPECT_EQ(LogFilePath(), work + "/zarvikctl.log");
  // The shipped data is still found in the installed place.
  EXPECT_EQ(SharedDataFolder(), guard.Dir().File("usr/share/zarvikconfig"));

  ::unsetenv(kPortableEnv);
  ParseSwitches({"PORTABLE"});
  EXPECT_EQ(FileLayout(), TFileLayout::Portable);
  ResetSwitches();
  EXPECT_EQ(FileLayout(), TFileLayout::PerUser);
}

TEST_F(UserFilesTest, TheLogOfAnInstalledProgramGoesToTheStateFolderItCreates) {
  Installed();
  Mess("erste Zeile", false, false, true);
  const std::string log = home + "/.local/state/ZarvikConfig/zarvikconfig.log";
  EXPECT_NE(ReadAll(log).find("erste Zeile"), std::string::npos);
  EXPECT_FALSE(fs::exists(guard.Dir().File("usr/bin/zarvikconfig.log")));
  EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(UserFilesTest, WorkingFolderFilesAreFoundAndMovedWithTheirContent) {
  Installed();
  WriteAll(work + "/ZarvikConfig.ini", "[Port]\nCOMPort=3\n");
  fs::create_directories(work + "/bd/goods");
  WriteAll(work + "/bd/Profile.dbf", "profiles");
  WriteAll(work + "/bd/goods/g.dbf", "goods");

  const std::vector<TWorkingFolderFile> found = FindWorkingFolderFiles();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(WorkingFolderFileNames(found), "ZarvikConfig.ini, bd");
  EXPECT_EQ(found[0].target, home + "/.config/ZarvikConfig/ZarvikConfig.ini");
  EXPECT_EQ(found[1].target, home + "/.local/share/ZarvikConfig/bd");
  EXPECT_FALSE(found[0].targetExists);

  EXPECT_TRUE(MoveWorkingFolderFiles(found).empty());
  EXPECT_EQ(ReadAll(ProgramIniPath()), "[Port]\nCOMPort=3\n");
  EXPECT_EQ(ReadAll(ProfileFolderPath() + "/Profile.dbf"), "profiles");
  EXPECT_EQ(ReadAll(ProfileFolderPath() + "/goods/g.dbf"), "goods");
  EXPECT_TRUE(fs::is_empty(work));
  EXPECT_TRUE(FindWorkingFolderFiles().empty());
}

TEST_F(UserFilesTest, ExistingUserFilesAreNeverOverwritten) {
  Installed();
  WriteAll(work + "/ZarvikConfig.ini", "old");
  fs::create_directories(work + "/bd");
  WriteAll(work + "/bd/Profile.dbf", "old profiles");
  EnsureFolder(home + "/.config/ZarvikConfig");
  WriteAll(ProgramIniPath(), "mine");

  std::vector<TWorkingFolderFile> found = FindWorkingFolderFiles();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_TRUE(found[0].targetExists);
  EXPECT_FALSE(found[1].targetExists);
  // Even when asked to move both, the one already there stays.
  const std::vector<std::string> problems = MoveWorkingFolderFiles(found);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("ZarvikConfig.ini"), std::string::npos);
  EXPECT_EQ(ReadAll(ProgramIniPath()), "mine");
  EXPECT_EQ(ReadAll(work + "/ZarvikConfig.ini"), "old");
  EXPECT_EQ(ReadAll(ProfileFolderPath() + "/Profile.dbf"), "old profiles");
  // What stays in the working folder is still reported, never dropped.
  found = FindWorkingFolderFiles();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, "ZarvikConfig.ini");
  EXPECT_TRUE(found[0].targetExists);
}

TEST_F(UserFilesTest, RunFromTheUserFolderItselfFindsNothingToMove) {
  Installed();
  const std::string data = home + "/.local/share/ZarvikConfig";
  EnsureFolder(data + "/bd");
  fs::current_path(data);
  EXPECT_TRUE(FindWorkingFolderFiles().empty());
  ::setenv(kPortableEnv, "1", 1);
  EXPECT_TRUE(FindWorkingFolderFiles().empty());
}

TEST(PortsDenied, OnlyATableOfRefusedPortsGivesTheGroupRemedy) {
  auto entry = [](int n, TPortState state, const std::string& group = "") {
    TPortEntry e;
    e.number = n;
    e.device = "/dev/ttyS" + std::to_string(n);
    e.state = state;
    e.group = group;
    return e;
  };
  EXPECT_EQ(AllPortsDeniedText({}), "");
  EXPECT_EQ(AllPortsDeniedText({entry(1, TPortState::NoAccess), entry(2, TPortState::Free)}), "");
  EXPECT_EQ(AllPortsDeniedText({entry(1, TPortState::Busy), entry(2, TPortState::NoAccess)}), "");
  const std::string usual = AllPortsDeniedText({entry(1, TPortState::NoAccess), entry(2, TPortState::NoAccess)});
  EXPECT_NE(usual.find("NO ACCESS"), std::string::npos);
  EXPECT_NE(usual.find("usermod -aG dialout"), std::string::npos);
  const std::string own = AllPortsDeniedText({entry(5, TPortState::NoAccess, "uucp")});
  EXPECT_NE(own.find("usermod -aG uucp"), std::string::npos);
}

}  // namespace
}  // namespace zarvik
