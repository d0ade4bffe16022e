#include "shell/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <random>
#include <string>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "WriterKill.h"

namespace zarvik {
namespace {

TEST(IniFile, ReadsWithWindowsSemantics) {
  const TIniFile ini = TIniFile::FromText(
      "; comment\n"
      "[Port]\r\n"
      "  COMPort = 3 \r\n"
      "Speed=19200\n"
      "Bad=12abc\n"
      "Huge=99999999999\n"
      "Neg=-5\n"
      "Plus=+7\n"
      "this line is garbage\n"
      "=no key\n"
      "[NET]\n"
      "NUMBER=12\n"
      "[port]\n"
      "Extra=later section with the same name is not read\n");
  EXPECT_EQ(ini.ReadInteger("port", "comport", 1), 3);
  EXPECT_EQ(ini.ReadInteger("PORT", "SPEED", 0), 19200);
  EXPECT_EQ(ini.ReadInteger("Port", "Bad", 42), 42);
  EXPECT_EQ(ini.ReadInteger("Port", "Huge", 42), 42);
  EXPECT_EQ(ini.ReadInteger("Port", "Neg", 0), -5);
  EXPECT_EQ(ini.ReadInteger("Port", "Plus", 0), 7);
  EXPECT_EQ(ini.ReadInteger("Port", "Missing", 17), 17);
  EXPECT_EQ(ini.ReadInteger("Nowhere", "COMPort", 1), 1);
  EXPECT_EQ(ini.ReadInteger("net", "number", 1), 12);
  EXPECT_EQ(ini.ReadString("Port", "Extra", "def"), "def");
  EXPECT_EQ(ini.ReadSection("Port"), (std::vector<std::string>{"COMPort", "Speed", "Bad", "Huge", "Neg", "Plus"}));
}

TEST(IniFile, BooleansAreZeroOrAnyOtherNumber) {
  const TIniFile ini = TIniFile::FromText("[S]\nA=0\nB=1\nC=5\nD=yes\n");
  EXPECT_FALSE(ini.ReadBool("S", "A", true));
  EXPECT_TRUE(ini.ReadBool("S", "B", false));
  EXPECT_TRUE(ini.ReadBool("S", "C", false));
  EXPECT_TRUE(ini.ReadBool("S", "D", true));
  EXPECT_FALSE(ini.ReadBool("S", "D", false));
  EXPECT_FALSE(ini.ReadBool("S", "E", false));
}

TEST(IniFile, MissingFileIsEmptyAndWriteCreatesIt) {
  test::TempDir dir;
  const std::string path = dir.File("ZarvikConfig.ini");
  TIniFile ini(path);
  EXPECT_FALSE(ini.SectionExists("Port"));
  ini.WriteInteger("Port", "COMPort", 4);
  ini.WriteBool("PortScan", "ENABLED", true);
  ini.WriteString("Lang", "Name", "Русский");
  ASSERT_TRUE(ini.UpdateFile());
  const std::string bytes = test::ReadAll(path);
  EXPECT_EQ(bytes, "[Port]\r\nCOMPort=4\r\n\r\n[PortScan]\r\nENABLED=1\r\n\r\n[Lang]\r\nName=\xD0\xF3\xF1\xF1\xEA\xE8\xE9\r\n");
  const TIniFile again(path);
  EXPECT_EQ(again.ReadString("lang", "name", ""), "Русский");
  EXPECT_TRUE(again.ReadBool("PortScan", "ENABLED", false));
}

TEST(IniFile, WritingKeepsOtherLinesAndReplacesInPlace) {
  test::TempDir dir;
  const std::string path = dir.File("a.ini");
  test::WriteAll(path, "; keep me\r\n[Port]\r\nCOMPort=1\r\nOther=x\r\n\r\n[Devices]\r\nCOM200=/dev/pts/3\r\n");
  TIniFile ini(path);
  ini.WriteInteger("port", "comport", 9);
  ini.WriteInteger("Port", "Speed", 115200);
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(test::ReadAll(path),
            "; keep me\r\n[Port]\r\nCOMPort=9\r\nOther=x\r\nSpeed=115200\r\n\r\n[Devices]\r\nCOM200=/dev/pts/3\r\n");
}

// What keeps a file from being used as it stands is said; a missing file
// is no problem, and neither is the end-of-file mark old editors leave.
TEST(IniFile, ProblemSaysWhyAFileCannotBeUsed) {
  test::TempDir dir;
  struct Case {
    std::string name;
    std::string bytes;  // empty name: nothing is written
    std::string problem;
  };
  const std::vector<Case> cases = {
      {"plain.ini", "[Port]\r\nSpeed=9600\r\n", ""},
      {"eof-mark.ini", std::string("[Port]\r\nSpeed=9600\r\n\x1A"), ""},
      {"nul.ini",
       std::string("[Port]\r\nSpeed=96\0"
                   "00\r\n",
                   20),
       "it is not a text file (a control byte in line 2)"},
      {"mark-inside.ini", std::string("[Port]\x1A\r\nSpeed=9600\r\n"),
       "it is not a text file (a control byte in line 1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteAll(dir.File(c.name), c.bytes);
    const TIniFile ini(dir.File(c.name));
    EXPECT_EQ(ini.Problem(), c.problem);
    EXPECT_EQ(ini.ReadString("Port", "Speed", "?").substr(0, 2), "96");  // what can be read is read
  }
  EXPECT_EQ(TIniFile(dir.File("missing.ini")).Problem(), "");
  EXPECT_EQ(TIniFile(dir.Path()).Problem(), "it is a folder");
}

TEST(IniFile, UnwritableFolderFailsWithoutTouchingAnything) {
  TIniFile ini("/nonexistent-folder/x.ini");
  ini.WriteInteger("A", "B", 1);
  EXPECT_FALSE(ini.UpdateFile());
}

TEST(IniFile, RewritingKeepsTheBytesOfLinesItDidNotChange) {
  test::TempDir dir;
  const std::string path = dir.File("ZarvikConfig.ini");
  // A comment saved by a UTF-8 editor ("И" is D0 98, and 98 has no character
  // in code page 1251), a line without its CR, a raw 98 in a value.
  const std::string comment = "; \xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD: \xD0\x9F\xD0\xBE\xD1\x80\xD1\x82";
  const std::string devices = "[Devices]\r\nCOM5=/dev/serial/by-id/usb-\x98\xC0-port0\n";
  test::WriteAll(path, comment + "\r\n[Port]\r\nCOMPort=1\r\n\r\n" + devices);
  TIniFile ini(path);
  ini.WriteInteger("Port", "COMPort", 7);
  ini.WriteInteger("Port", "Speed", 9600);
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(test::ReadAll(path), comment + "\r\n[Port]\r\nCOMPort=7\r\nSpeed=9600\r\n\r\n" +
                                     "[Devices]\r\nCOM5=/dev/serial/by-id/usb-\x98\xC0-port0\r\n");
  // A line the program changes is written in code page 1251.
  ini.WriteString("Devices", "COM5", "/dev/ttyUSB0 Ж");
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_NE(test::ReadAll(path).find("COM5=/dev/ttyUSB0 \xC6\r\n"), std::string::npos);
}

// A file of many sections with every value set from `version`.
void WriteVersion(const std::string& path, int version) {
  TIniFile ini(path);
  for (int s = 0; s < 400; ++s) {
    ini.WriteInteger("Раздел" + std::to_string(s), "Value", version * 1000 + s);
    ini.WriteString("Раздел" + std::to_string(s), "Text", std::string(40, version == 1 ? 'a' : 'b'));
  }
  ini.UpdateFile();
}

TEST(IniFile, AWriterKilledAtRandomPointsLeavesTheOldOrTheNewFile) {
  test::TempDir dir;
  const std::string path = dir.File("ZarvikConfig.ini");
  // The two versions, also as the program holds them: the writer child
  // replaces the file with one and the other in turn.
  WriteVersion(path, 1);
  const std::string first = test::ReadAll(path);
  const TIniFile one(path);
  WriteVersion(path, 2);
  const std::string second = test::ReadAll(path);
  const TIniFile two(path);
  ASSERT_NE(first, second);
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  // Each kill falls after a stage of the child's first or second write (a
  // write reports five stages), every stage of both writes twice over.
  constexpr int kStagesOfTwoWrites = 10;
  for (int round = 0; round < 2 * kStagesOfTwoWrites; ++round) {
    const int at = 1 + round % kStagesOfTwoWrites;
    const test::WriterKill kill = test::KillWriterAtStep(
        [&](const test::StepReport& report) {
          test::ReportEveryFileWriteStage(report);
          for (int i = 0;; ++i) (i % 2 == 0 ? one : two).UpdateFile();
        },
        at);
    EXPECT_TRUE(kill.killed) << "round " << round;
    EXPECT_EQ(kill.steps, at) << "round " << round;
    const std::string got = test::ReadAll(path);
    EXPECT_TRUE(got == first || got == second) << "round " << round << ": " << got.size() << " bytes";
    EXPECT_LE(test::CountTemporaryFiles(dir.Path()), 1);
    test::RemoveTemporaryFiles(dir.Path());
  }
  // Every replacement kept the mode of the file the user set.
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, mode_t{0600});
}

}  // namespace
}  // namespace zarvik
