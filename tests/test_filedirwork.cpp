// Replacing files in one step: WriteTextFile (journal files, CSV exports, the
// INI writer) under failures and under a writer killed at any point.
#include "shell/U_filedirwork.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>

#include "TestSupport.h"
#include "WriterKill.h"

namespace zarvik {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

// Two contents of different sizes whose every prefix differs from both.
std::string Content(const std::string& word, int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) text += word + " строка " + std::to_string(i) + "\r\n";
  return text;
}

FileWriteStage g_stage = FileWriteStage::TempCreated;
bool FailAtStage(FileWriteStage stage) {
  return stage != g_stage;
}
bool KillAtStage(FileWriteStage stage) {
  if (stage == g_stage) ::raise(SIGKILL);
  return true;
}

constexpr FileWriteStage kStages[] = {FileWriteStage::TempCreated, FileWriteStage::DataHalf,
                                      FileWriteStage::DataWritten, FileWriteStage::Synced,
                                      FileWriteStage::Renamed};

TEST(WriteTextFile, AFailureAtAnyStageLeavesTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir.File("journal.txt");
  const std::string old = Content("old", 100);
  for (FileWriteStage stage : kStages) {
    WriteAll(path, old);
    g_stage = stage;
    SetFileWriteHook(FailAtStage);
    const bool ok = WriteTextFile(path, Content("new", 300));
    SetFileWriteHook(nullptr);
    const int k = static_cast<int>(stage);
    EXPECT_FALSE(ok) << "stage " << k;
    // Failing after the rename: the new content is complete, the write is
    // still reported as failed.
    EXPECT_EQ(ReadAll(path), stage == FileWriteStage::Renamed ? Content("new", 300) : old) << "stage " << k;
    EXPECT_EQ(test::CountTemporaryFiles(dir.Path()), 0) << "stage " << k;
  }
}

TEST(WriteTextFile, ReplacesWithoutLeftoversAndRefusesWhatItCannotReplace) {
  TempDir dir;
  const std::string path = dir.File("export.csv");
  ASSERT_TRUE(WriteTextFile(path, "long old content\r\n"));
  ASSERT_TRUE(WriteTextFile(path, "new"));
  EXPECT_EQ(ReadAll(path), "new");
  ASSERT_TRUE(WriteTextFile(path, ""));
  EXPECT_EQ(ReadAll(path), "");
  EXPECT_EQ(test::CountTemporaryFiles(dir.Path()), 0);
  // A folder in the way, a missing folder, no name at all.
  fs::create_directory(dir.File("folder"));
  EXPECT_FALSE(WriteTextFile(dir.File("folder"), "x"));
  EXPECT_TRUE(fs::is_directory(dir.File("folder")));
  EXPECT_FALSE(WriteTextFile(dir.File("missing/x.txt"), "x"));
  EXPECT_FALSE(WriteTextFile("", "x"));
  EXPECT_EQ(test::CountTemporaryFiles(dir.Path()), 0);
}

TEST(WriteTextFile, KeepsThePermissionsOfTheFileItReplaces) {
  TempDir dir;
  const std::string path = dir.File("ZarvikConfig.ini");
  for (const mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0664}, mode_t{0755}}) {
    WriteAll(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    ASSERT_TRUE(WriteTextFile(path, "new"));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    EXPECT_EQ(ReadAll(path), "new");
  }
  // A new file gets the usual mode for new files (0666 less the umask).
  const mode_t mask = ::umask(022);
  ASSERT_TRUE(WriteTextFile(dir.File("fresh.txt"), "x"));
  ::umask(mask);
  struct stat st {};
  ASSERT_EQ(::stat(dir.File("fresh.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, mode_t{0644});
}

TEST(WriteTextFile, FollowsLinksAndWritesDevicesInPlace) {
  TempDir dir;
  fs::create_directory(dir.File("real"));
  const std::string target = dir.File("real/journal.txt");
  WriteAll(target, "old");
  // A relative link to a relative link.
  fs::create_symlink("real/journal.txt", dir.File("link1"));
  fs::create_symlink("link1", dir.File("link2"));
  ASSERT_TRUE(WriteTextFile(dir.File("link2"), "new"));
  EXPECT_TRUE(fs::is_symlink(dir.File("link2")));
  EXPECT_TRUE(fs::is_symlink(dir.File("link1")));
  EXPECT_EQ(ReadAll(target), "new");
  EXPECT_EQ(test::CountTemporaryFiles(dir.File("real")), 0);
  // A dangling link: its target is created.
  fs::create_symlink("real/later.txt", dir.File("dangling"));
  ASSERT_TRUE(WriteTextFile(dir.File("dangling"), "made"));
  EXPECT_EQ(ReadAll(dir.File("real/later.txt")), "made");
  // A link loop is no file.
  fs::create_symlink("loopB", dir.File("loopA"));
  fs::create_symlink("loopA", dir.File("loopB"));
  EXPECT_FALSE(WriteTextFile(dir.File("loopA"), "x"));
  // A device (an output given as /dev/null or /dev/stdout) stays a device.
  ASSERT_TRUE(WriteTextFile("/dev/null", "discarded"));
  struct stat st {};
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(test::CountTemporaryFiles("/dev"), 0);
}

TEST(WriteTextFile, AWriterKilledAtEachStageLeavesTheOldOrTheNewContent) {
  TempDir dir;
  const std::string old = Content("old", 2000);
  const std::string fresh = Content("new", 3000);
  int n = 0;
  for (FileWriteStage stage : kStages) {
    const std::string path = dir.File("stage" + std::to_string(n++) + ".txt");
    WriteAll(path, old);
    const int status = test::RunInChild([&] {
      g_stage = stage;
      SetFileWriteHook(KillAtStage);
      WriteTextFile(path, fresh);
    });
    const int k = static_cast<int>(stage);
    EXPECT_TRUE(test::KilledBySigkill(status)) << "stage " << k;
    EXPECT_EQ(ReadAll(path), stage == FileWriteStage::Renamed ? fresh : old) << "stage " << k;
    test::RemoveTemporaryFiles(dir.Path());
  }
}

TEST(WriteTextFile, AWriterKilledAtRandomPointsLeavesTheOldOrTheNewContent) {
  TempDir dir;
  const std::string path = dir.File("goods.csv");
  const std::string a = Content("первый", 20000);
  const std::string b = Content("второй", 30000);
  WriteAll(path, a);
  // A write reports five stages; each kill falls after a stage of the first
  // or the second write, chosen at random.
  std::minstd_rand random(20240611);
  std::uniform_int_distribution<int> stage(1, 2 * static_cast<int>(std::size(kStages)));
  int killed = 0;
  int sawA = 0;
  int sawB = 0;
  for (int round = 0; round < 40; ++round) {
    // The writer replaces the file again and again, alternating the contents.
    const int at = stage(random);
    const test::WriterKill kill = test::KillWriterAtStep(
        [&](const test::StepReport& report) {
          test::ReportEveryFileWriteStage(report);
          for (int i = 0;; ++i) WriteTextFile(path, i % 2 == 0 ? b : a);
        },
        at);
    EXPECT_EQ(kill.steps, at) << "round " << round;
    const bool wasKilled = kill.killed;
    killed += wasKilled ? 1 : 0;
    const std::string got = ReadAll(path);
    const bool isA = got == a;
    const bool isB = got == b;
    EXPECT_TRUE(isA || isB) << "round " << round << ": " << got.size() << " bytes";
    sawA += isA ? 1 : 0;
    sawB += isB ? 1 : 0;
    // At most the temporary file of the write that was cut short is left.
    EXPECT_LE(test::CountTemporaryFiles(dir.Path()), 1) << "round " << round;
    test::RemoveTemporaryFiles(dir.Path());
  }
  EXPECT_EQ(killed, 40);
  // Both ends of the cycle were hit, so kills fell at different points.
  EXPECT_GT(sawA, 0);
  EXPECT_GT(sawB, 0);
}

}  // namespace
}  // namespace zarvik
