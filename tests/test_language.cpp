// The language table, language files and the language switch.
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "shell/IniFile.h"
#include "shell/ProjectsVars.h"
#include "shell/TextCodec.h"
#include "shell/U_language.h"

namespace zarvik {
namespace {

namespace fs = std::filesystem;

// A program folder of its own, with an empty "lang" folder, for each test.
class LanguageFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::temp_directory_path() / ("zarvik-lang-" + std::to_string(::getpid()) + "-" + info->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "lang");
    savedProgramPath_ = ProgramPath();
    SetProgramPath((root_ / "ZarvikConfig").string());
  }
  void TearDown() override {
    SetProgramPath(savedProgramPath_);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  // Writes a language file; `utf8` is stored in code page 1251.
  void WriteLng(const std::string& name, const std::string& utf8) const {
    std::ofstream out(root_ / "lang" / (name + ".lng"), std::ios::binary);
    out << Utf8ToCp1251(utf8);
  }
  void WriteRaw(const std::string& fileName, const std::string& bytes) const {
    std::ofstream out(root_ / "lang" / fileName, std::ios::binary);
    out << bytes;
  }
  fs::path root_;
  std::string savedProgramPath_;
};

void ExpectDefaultsFrom(const TLangResStrHandler& t, int first) {
  for (int i = first; i < kLangTextCount; ++i) EXPECT_EQ(t.Text(i), TLangResStrHandler::DefaultText(i)) << i;
}

TEST(LanguageTable, StartsWithTheBuiltInTexts) {
  const TLangResStrHandler t;
  const std::pair<int, std::string> samples[] = {
      {0, "Старт"},
      {1, "Стоп"},
      {3, "Конфигуратор"},
      {4, "Нет ошибок"},
      {36, "TimeOut"},
      {37, "ошибка фискальной памяти"},
      {40, "Неизвестная ошибка"},
      {43, "Подключение"},
      {44, "Отключение"},
      {45, "Товар"},
      {46, "Услуга"},
      {47, "Закрыто"},
  };
  for (const auto& [i, text] : samples) EXPECT_EQ(t.Text(i), text) << i;
  for (int i = 0; i < kLangTextCount; ++i) EXPECT_FALSE(t.Text(i).empty()) << i;
  EXPECT_EQ(t.Text(-1), "");
  EXPECT_EQ(t.Text(48), "");
  EXPECT_EQ(LangResStrHandler.Text(ltDepClosed), "Закрыто");
}

TEST(LanguageTable, SetTextOutsideTheTableIsIgnored) {
  TLangResStrHandler t;
  t.SetText(48, "x");
  t.SetText(-1, "x");
  t.SetText(ltConnect, "Connect");
  EXPECT_EQ(t.Text(ltConnect), "Connect");
  ExpectDefaultsFrom(t, ltConnect + 1);
  t.SetDefaults();
  EXPECT_EQ(t.Text(ltConnect), "Подключение");
}

TEST_F(LanguageFiles, FolderIsBesideTheProgram) {
  EXPECT_EQ(fs::path(LanguageFolder()), root_ / "lang");
}

TEST_F(LanguageFiles, LinesReplaceEntriesInOrder) {
  struct Case {
    std::string file;
    std::vector<std::pair<int, std::string>> expected;
    int firstUnchanged;
  };
  std::string sixty;
  for (int i = 0; i < 60; ++i) sixty += "line" + std::to_string(i) + "\r\n";
  const std::vector<Case> cases = {
      {"Start;the first line\n", {{0, "Start"}}, 1},
      {"One\nTwo\r\nThree", {{0, "One"}, {1, "Two"}, {2, "Three"}}, 3},
      {"Старт   \nСтоп\t;\n", {{0, "Старт   "}, {1, "Стоп\t"}}, 2},  // blanks stay
      {"\n;only a comment\nx\n", {{0, ""}, {1, ""}, {2, "x"}}, 3},
      {"a;b;c\r\n", {{0, "a"}}, 1},
      {"tail\r", {{0, "tail"}}, 1},
      {"in\rside\n", {{0, "in\rside"}}, 1},  // a lone CR is text
      {sixty, {{0, "line0"}, {47, "line47"}}, 48},
      {"", {}, 0},
  };
  for (const auto& c : cases) {
    WriteLng("xx", c.file);
    TLangResStrHandler t;
    EXPECT_TRUE(LoadLanguageFile(t, "xx")) << c.file;
    for (const auto& [i, text] : c.expected) EXPECT_EQ(t.Text(i), text) << c.file;
    ExpectDefaultsFrom(t, c.firstUnchanged);
  }
}

TEST_F(LanguageFiles, NulEndsTheTextOfALine) {
  WriteRaw("nul.lng", std::string("ab\0cd\nef\n", 9));
  TLangResStrHandler t;
  ASSERT_TRUE(LoadLanguageFile(t, "nul"));
  EXPECT_EQ(t.Text(0), "ab");
  EXPECT_EQ(t.Text(1), "ef");
  ExpectDefaultsFrom(t, 2);
}

TEST_F(LanguageFiles, OverLongLinesAreCutAndDoNotSpillIntoTheNextEntry) {
  const std::string longLine(2500, 'x');
  WriteRaw("long.lng", longLine + "\r\nsecond\n" + std::string(999, 'y') + "\r\n");
  TLangResStrHandler t;
  ASSERT_TRUE(LoadLanguageFile(t, "long"));
  EXPECT_EQ(t.Text(0), std::string(999, 'x'));
  EXPECT_EQ(t.Text(1), "second");
  EXPECT_EQ(t.Text(2), std::string(999, 'y'));
  ExpectDefaultsFrom(t, 3);
}

TEST_F(LanguageFiles, BinaryGarbageGivesCodePageTextWithoutCrash) {
  std::string bytes;
  for (int i = 0; i < 4096; ++i) bytes.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
  WriteRaw("junk.lng", bytes);
  TLangResStrHandler t;
  ASSERT_TRUE(LoadLanguageFile(t, "junk"));
  for (int i = 0; i < kLangTextCount; ++i) {
    EXPECT_LE(Utf8Length(t.Text(i)), kLangMaxLineLength);
    EXPECT_EQ(t.Text(i).find(';'), std::string::npos);
    EXPECT_EQ(t.Text(i).find('\n'), std::string::npos);
  }
}

TEST_F(LanguageFiles, MissingFileOrUnsafeNameChangesNothing) {
  WriteRaw("evil.lng", "evil\n");
  fs::create_directories(root_ / "other");
  std::ofstream(root_ / "other" / "up.lng") << "up\n";
  for (const std::string name : {"none", "", "../other/up", "..", "a/b", "a\\b", "x\ny"}) {
    TLangResStrHandler t;
    EXPECT_FALSE(LoadLanguageFile(t, name)) << name;
    ExpectDefaultsFrom(t, 0);
  }
}

TEST_F(LanguageFiles, SwitchWritesTheChoiceEvenWithoutAFile) {
  TLangResStrHandler t;
  EXPECT_FALSE(SwitchLanguage(t, "Deutsch"));
  ExpectDefaultsFrom(t, 0);
  EXPECT_EQ(TIniFile((root_ / "lang" / "lang.ini").string()).ReadString("MAIN", "CurLang", ""), "Deutsch");

  WriteLng("English", std::string(43, '\n') + "Connect\nDisconnect\n");
  EXPECT_TRUE(SwitchLanguage(t, "English"));
  EXPECT_EQ(t.Text(ltConnect), "Connect");
  EXPECT_EQ(t.Text(ltDisconnect), "Disconnect");
  EXPECT_EQ(t.Text(0), "");  // the file's empty first lines are empty texts
  ExpectDefaultsFrom(t, ltDisconnect + 1);
  EXPECT_EQ(TIniFile((root_ / "lang" / "lang.ini").string()).ReadString("MAIN", "CurLang", ""), "English");
}

TEST_F(LanguageFiles, NamesOfTheLanguageFiles) {
  EXPECT_EQ(LanguageNames(), "");
  WriteRaw("Русский.lng", "");
  WriteRaw("English.lng", "");
  WriteRaw("en.us.lng", "");
  WriteRaw("notes.txt", "");
  WriteRaw("lang.ini", "");
  EXPECT_EQ(LanguageNameList(), (std::vector<std::string>{"English", "en.us", "Русский"}));
  EXPECT_EQ(LanguageNames(), "English\r\nen.us\r\nРусский");
}

TEST(LanguageText, ReadsFromAnyStream) {
  std::istringstream in(Utf8ToCp1251("Пуск ;комментарий\nОстанов"));
  TLangResStrHandler t;
  ReadLanguageText(t, in);
  EXPECT_EQ(t.Text(0), "Пуск ");
  EXPECT_EQ(t.Text(1), "Останов");
  ExpectDefaultsFrom(t, 2);
}

}  // namespace
}  // namespace zarvik
