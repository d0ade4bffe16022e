// A register's settings as a text file: written, read back, checked against
// the register's limits and compared with its values field by field.
#include "store/ConfigText.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "shell/DiaLog.h"
#include "shell/U_language.h"
#include "store/ConfigProfile.h"
#include "store/ProfileStore.h"
#include "store/RegisterBackup.h"
#include "store/UnitBD.h"

namespace zarvik {
namespace {

// A register of eight options, four departments (one closed), fonts 0..4
// and four operators.
TKKMInfo Register() {
  LangResStrHandler.SetDefaults();
  TKKMInfo i;
  i.model = "Зарвик-ТЕСТ";
  i.serialNumber = "000111222333";
  i.version = "T 001";
  i.optionCount = 8;
  for (int n = 1; n <= 8; ++n) {
    TOptionsInfo& o = i.options[static_cast<std::size_t>(n - 1)];
    o.minValue = 0;
    o.maxValue = n == 3 ? 5 : 1;
    o.description = "Опция " + std::to_string(n);
  }
  i.options[5].minValue = 2;  // option 6: 0; 2 - 9
  i.options[5].maxValue = 9;
  i.options[5].canNull = true;
  const std::uint8_t values[] = {1, 0, 2, 0, 1, 0, 0, 0};
  for (int n = 0; n < 8; ++n) i.optionValues[static_cast<std::size_t>(n)] = values[n];
  i.maxCountDepat = 4;
  i.maxCountFont = 4;
  const std::string goods = LangResStrHandler.Text(ltDepGoods);
  i.departments[0] = {goods, "Бакалея", "A", 100.0};
  i.departments[1] = {LangResStrHandler.Text(ltDepService), "Доставка", "B", 0.0};
  i.departments[2] = {LangResStrHandler.Text(ltDepClosed), "", "0", 0.0};
  i.departments[3] = {goods, "Молоко \"3,2%\"", "C", 50.5};
  i.headerLines = {"ООО \"Ромашка\"", "  г. Тверь  ", "", "", "", ""};
  i.footerLines = {"Спасибо!", "", "", "", "", "C:\\касса"};
  i.headerFont = 1;
  i.footerFont = 2;
  i.operatorNames = {"Иванова", "Петров", "", ""};
  i.positions = {"Кассир", "Старший кассир", "", ""};
  i.taxes[0] = {TTaxRec::kDefinedMark, 1, "НДС 18%", 18.0};
  return i;
}

const TConfigTables kAll{stAllSettings, 4, true};

TConfigFile Parse(const std::string& text) {
  TConfigFile file;
  std::vector<TConfigError> errors;
  EXPECT_TRUE(ParseConfigText(text, file, errors)) << (errors.empty() ? "" : ConfigErrorText(errors[0]));
  return file;
}

std::vector<TConfigChange> Diff(const std::string& text, const TKKMInfo& info) {
  std::vector<TConfigChange> changes;
  std::vector<TConfigError> errors;
  EXPECT_TRUE(DiffConfig(Parse(text), info, kAll, changes, errors))
      << (errors.empty() ? "" : ConfigErrorText(errors[0]));
  return changes;
}

// `text` with the line holding `from` replaced by `to` (which must be there).
std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(ConfigText, ExportHasEveryValueOnItsOwnLineInAStableOrder) {
  const TKKMInfo info = Register();
  const std::string text = ConfigText(info, kAll);
  EXPECT_EQ(text, ConfigText(info, kAll));
  for (const char* line :
       {"\n[options]\n# 1. Опция 1 (0 - 1)\n1 = 1\n", "# 6. Опция 6 (0; 2 - 9)\n6 = 0\n",
        "\n1.status = goods\n1.name = \"Бакалея\"\n1.group = A\n1.price = 100.00\n", "\n2.status = service\n",
        "\n3.status = closed\n4.status = goods\n", "4.name = \"Молоко \\\"3,2%\\\"\"\n", "4.price = 50.50\n",
        "header.font = 1\n", "header.2 = \"  г. Тверь  \"\n", "footer.font = 2\n",
        "footer.6 = \"C:\\\\касса\"\n", "2.position = \"Старший кассир\"\n", "4.name = \"\"\n",
        "# 1. \"НДС 18%\" 18.00 выделяемый\n", "# 2. не определен\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  // The closed department has no other line; taxes are no values.
  const std::size_t departments = text.find("[departments]");
  const std::string section = text.substr(departments, text.find("[receipt]") - departments);
  EXPECT_EQ(section.find("3.name"), std::string::npos) << section;
  TConfigFile file = Parse(text);
  EXPECT_EQ(file.Tables(), static_cast<unsigned>(stAllSettings));
  // 8 options, 3 open departments * 4 + 1, 2 fonts + 12 lines, 8 operator values.
  EXPECT_EQ(file.entries.size(), 8u + 13u + 14u + 8u);
}

TEST(ConfigText, ExportReadBackHasNoDifferenceFromTheRegister) {
  TKKMInfo info = Register();
  // Characters of every kind the register prints, and a control character
  // the register sent (it cannot print it, but the file must carry it).
  info.departments[1].name = "Тест \\ \" ' ; # = [x]";
  const std::string text = ConfigText(info, kAll);
  EXPECT_TRUE(Diff(text, info).empty());
  info.footerLines[2] = "a\tb";
  const std::string withTab = ConfigText(info, kAll);
  EXPECT_NE(withTab.find("footer.3 = \"a\\x09b\""), std::string::npos) << withTab;
  TConfigFile file = Parse(withTab);
  bool found = false;
  for (const TConfigEntry& e : file.entries)
    if (e.key == "footer.3") found = e.value == "a\tb";
  EXPECT_TRUE(found);
}

TEST(ConfigText, EditsShowExactlyTheEditedFieldsAndApplyGivesTheEditedFile) {
  const TKKMInfo info = Register();
  std::string edited = ConfigText(info, kAll);
  edited = Replace(edited, "\n5 = 1\n", "\n5 = 0\n");
  edited = Replace(edited, "2.name = \"Доставка\"", "2.name = \"Доставка на дом\"");
  edited = Replace(edited, "footer.1 = \"Спасибо!\"", "footer.1 = \"Ждём вас снова\"");
  const std::vector<TConfigChange> changes = Diff(edited, info);
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0].Text(), "[options] 5: 1 -> 0");
  EXPECT_EQ(changes[1].Text(), "[departments] 2.name: \"Доставка\" -> \"Доставка на дом\"");
  EXPECT_EQ(changes[2].Text(), "[receipt] footer.1: \"Спасибо!\" -> \"Ждём вас снова\"");
  for (const TConfigChange& c : changes) EXPECT_GT(c.line, 0);
  const TConfigWrites w = ConfigWrites(changes);
  EXPECT_TRUE(w.options);
  EXPECT_EQ(w.departments, std::vector<int>{2});
  EXPECT_TRUE(w.headerLines.empty());
  EXPECT_EQ(w.footerLines, std::vector<int>{1});
  EXPECT_EQ(w.Count(), 3);
  EXPECT_EQ(w.Tables(), static_cast<unsigned>(stOptions | stDepartments | stReceipt));
  TKKMInfo after = info;
  ApplyConfigChanges(changes, after);
  EXPECT_EQ(ConfigText(after, kAll), edited);
  EXPECT_TRUE(Diff(edited, after).empty());
}

TEST(ConfigText, DepartmentsOpenAndCloseAsTheRegisterKeepsThem) {
  const TKKMInfo info = Register();
  // Opening the closed department 3 and closing department 4.
  const std::string text =
      "[departments]\n3.name = \"Хлеб\"\n3.status = goods\n3.group = e\n3.price = 12,5\n4.status = closed\n";
  const std::vector<TConfigChange> changes = Diff(text, info);
  ASSERT_EQ(changes.size(), 5u);
  EXPECT_EQ(changes[0].Text(), "[departments] 3.name: \"\" -> \"Хлеб\"");
  EXPECT_EQ(changes[1].Text(), "[departments] 3.status: closed -> goods");
  EXPECT_EQ(changes[2].Text(), "[departments] 3.group: none -> E");
  EXPECT_EQ(changes[3].Text(), "[departments] 3.price: 0.00 -> 12.50");
  EXPECT_EQ(changes[4].Text(), "[departments] 4.status: goods -> closed");
  TKKMInfo after = info;
  ApplyConfigChanges(changes, after);
  // The state is set first, whatever the order of the lines.
  EXPECT_EQ(after.departments[2].status, LangResStrHandler.Text(ltDepGoods));
  EXPECT_EQ(after.departments[2].name, "Хлеб");
  EXPECT_EQ(after.departments[2].taxGroup, "E");
  EXPECT_EQ(DepartmentPriceHundredths(after.departments[2].price), 1250);
  EXPECT_EQ(after.departments[3].status, LangResStrHandler.Text(ltDepClosed));
  EXPECT_TRUE(after.departments[3].name.empty());
  EXPECT_EQ(ConfigWrites(changes).departments, (std::vector<int>{3, 4}));
  EXPECT_TRUE(Diff(ConfigText(after, kAll), after).empty());
}

TEST(ConfigText, AFontChangeWritesEveryLineOfItsBlock) {
  const TKKMInfo info = Register();
  const std::vector<TConfigChange> changes = Diff("[receipt]\nheader.font = 3\nfooter.2 = \"x\"\n", info);
  ASSERT_EQ(changes.size(), 2u);
  const TConfigWrites w = ConfigWrites(changes);
  EXPECT_EQ(w.headerLines, (std::vector<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(w.footerLines, std::vector<int>{2});
  EXPECT_FALSE(w.options);
}

// What the register holds already is no change, even where its own limits
// would refuse it as a new value: its export applies to it again.
TEST(ConfigText, ValuesTheRegisterHoldsAlreadyAreNoChangeEvenOutsideItsLimits) {
  TKKMInfo info = Register();
  info.optionValues[1] = 7;          // option 2 is 0 - 1
  info.headerFont = 6;               // fonts 0..4
  info.footerLines[1] = "Касса №1";  // "№" does not print
  info.operatorNames[2] = "Оператор\t3";
  const std::string text = ConfigText(info, kAll);
  EXPECT_TRUE(Diff(text, info).empty());
  // Changed, each of them is refused.
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"\n2 = 7\n", "\n2 = 6\n"},
           {"header.font = 6", "header.font = 5"},
           {"footer.2 = \"Касса №1\"", "footer.2 = \"Касса №2\""},
           {"3.name = \"Оператор\\x093\"", "3.name = \"Оператор\\x09 3\""}}) {
    std::vector<TConfigChange> changes;
    std::vector<TConfigError> errors;
    EXPECT_FALSE(DiffConfig(Parse(Replace(text, from, to)), info, kAll, changes, errors)) << to;
    EXPECT_EQ(errors.size(), 1u) << to;
  }
}

TEST(ConfigText, APartialFileComparesOnlyWhatItMentions) {
  const TKKMInfo info = Register();
  const TConfigFile file = Parse("# only two values\n[operators]\n2.position = \"Кассир\"\n[options]\n3=2\n");
  EXPECT_EQ(file.Tables(), static_cast<unsigned>(stOperators | stOptions));
  std::vector<TConfigChange> changes;
  std::vector<TConfigError> errors;
  ASSERT_TRUE(DiffConfig(file, info, kAll, changes, errors));
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].Text(), "[operators] 2.position: \"Старший кассир\" -> \"Кассир\"");
  EXPECT_TRUE(changes[0].position);
  const TConfigWrites w = ConfigWrites(changes);
  EXPECT_EQ(w.positions, std::vector<int>{2});
  EXPECT_TRUE(w.operatorNames.empty());
  EXPECT_EQ(w.Tables(), static_cast<unsigned>(stOperators));
}

TEST(ConfigText, SyntaxErrorsNameTheirLines) {
  struct Case {
    const char* text;
    int line;
    const char* part;
  };
  const Case cases[] = {
      {"1 = 2\n", 1, "before the first [section]"},
      {"\n[opts]\n1 = 2\n", 2, "unknown section [opts]"},
      {"[options]\n\n0 = 1\n", 3, "not an option number"},
      {"[options]\nx\n", 2, "not KEY = VALUE"},
      {"[options]\n1 =\n", 2, "value is missing"},
      {"[options]\n1 = 1\n# again\n1 = 0\n", 4, "given already on line 2"},
      {"[departments]\n1.colour = red\n", 2, "N.status"},
      {"[departments]\n100.name = \"x\"\n", 2, "N.status"},
      {"[receipt]\nheader.7 = \"x\"\n", 2, "L = 1..6"},
      {"[receipt]\nheader.1 = \"open\n", 2, "closing quote is missing"},
      {"[receipt]\nheader.1 = \"a\" b\n", 2, "after the closing quote"},
      {"[receipt]\nheader.1 = \"a\\qb\"\n", 2, "unknown escape"},
      {"[operators]\n9.name = \"x\"\n", 2, "N = 1..8"},
      {"[taxes]\n1 = 18\n", 2, "never written"},
      {"[options]\n1 = 1\n[receipt]\n\xC0\xE1\n", 0, "not UTF-8"},
  };
  for (const Case& c : cases) {
    TConfigFile file;
    std::vector<TConfigError> errors;
    EXPECT_FALSE(ParseConfigText(c.text, file, errors)) << c.text;
    ASSERT_EQ(errors.size(), 1u) << c.text;
    EXPECT_EQ(errors[0].line, c.line) << c.text;
    EXPECT_NE(errors[0].text.find(c.part), std::string::npos) << c.text << ": " << errors[0].text;
  }
}

TEST(ConfigText, ValuesTheRegisterCannotTakeRefuseTheWholeFile) {
  const TKKMInfo info = Register();
  struct Case {
    const char* line;
    const char* part;
  };
  const Case cases[] = {
      {"[options]\n2 = 2", "option 2: \"2\" is outside 0 - 1"},
      {"[options]\n6 = 1", "outside 0; 2 - 9"},
      {"[options]\n2 = 300", "outside"},
      {"[options]\n9 = 0", "does not exist on this register (it has 8 options)"},
      {"[departments]\n5.status = goods", "department 5 does not exist"},
      {"[departments]\n1.name = \"Кофе №1\"", "cannot print «№»"},
      {"[departments]\n1.name = \"12345678901234567890123\"", "at most 22 characters, not 23"},
      {"[departments]\n1.status = open", "not goods, service or closed"},
      {"[departments]\n1.group = F", "not a tax group"},
      {"[departments]\n1.price = 1.005", "at most two decimals"},
      {"[departments]\n1.price = -1", "at most two decimals"},
      {"[departments]\n3.name = \"Хлеб\"", "closed on the register"},
      {"[departments]\n1.status = closed\n1.price = 5", "a closed department has no price"},
      {"[receipt]\nheader.font = 5", "not a font of this register (0..4)"},
      {"[receipt]\nfooter.1 = \"a\\x09b\"", "cannot print «U+0009»"},
      {"[receipt]\nfooter.1 = \"123456789012345678901234567890123\"", "at most 32"},
      {"[operators]\n5.name = \"x\"", "operator 5 does not exist"},
      {"[operators]\n1.name = \"123456789012345678901234567890123\"", "at most 32 characters, not 33"},
      {"[operators]\n1.position = \"123456789012345678901234567890123\"", "at most 32"},
  };
  for (const Case& c : cases) {
    // A valid change before the bad line: nothing of the file may be written.
    const std::string text = std::string("[options]\n1 = 0\n") + c.line + "\n";
    std::vector<TConfigChange> changes;
    std::vector<TConfigError> errors;
    EXPECT_FALSE(DiffConfig(Parse(text), info, kAll, changes, errors)) << c.line;
    ASSERT_FALSE(errors.empty()) << c.line;
    const TConfigError& e = errors.back();
    EXPECT_GE(e.line, 4) << c.line;
    EXPECT_NE(e.text.find(c.part), std::string::npos) << c.line << ": " << e.text;
  }
}

TEST(ConfigText, TablesNotReadAndRegistersWithoutOperatorsAreRefused) {
  const TKKMInfo info = Register();
  std::vector<TConfigChange> changes;
  std::vector<TConfigError> errors;
  const TConfigTables onlyOptions{stOptions, 0, false};
  EXPECT_FALSE(DiffConfig(Parse("[receipt]\nheader.1 = \"x\"\n"), info, onlyOptions, changes, errors));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].text.find("not read"), std::string::npos);
  const TConfigTables noOperators{stAllSettings, 0, false};
  EXPECT_FALSE(DiffConfig(Parse("[operators]\n1.name = \"x\"\n"), info, noOperators, changes, errors));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].text.find("no operators"), std::string::npos);
}

// A configuration file imported into the register's stored profile and
// exported from it again, the profile saved and read back from the files in
// between.
TEST(ConfigText, ImportIntoAStoredProfileAndExportGiveTheSameFile) {
  test::TempDir dir;
  test::RecordingConsole console;
  SetConsole(&console);
  SetDecimalSeparator('.');
  const std::string folder = dir.File("bd");
  std::filesystem::create_directory(folder);
  TKKM kkm;
  kkm.Info() = Register();
  std::string edited;
  {
    TBD bd;
    bd.kkm = &kkm;
    TProfileStore store(bd, folder);
    ASSERT_TRUE(store.RefreshProfileList(kkm.Info().serialNumber, kkm.Info().version));
    TKKMInfo shown;
    TConfigTables which;
    ProfileConfig(bd, kkm.Info(), shown, which);
    EXPECT_EQ(which.tables, static_cast<unsigned>(stAllSettings));
    EXPECT_EQ(shown.DepartmentCount(), 4);
    const std::string original = ConfigText(shown, which);
    edited = Replace(original, "\n2 = 0\n", "\n2 = 1\n");
    edited = Replace(edited, "1.status = closed",
                     "1.status = goods\n1.name = \"Кофе\"\n1.group = B\n1.price = 7.25");
    edited = Replace(edited, "header.3 = \"\"", "header.3 = \"Добро пожаловать\"");
    edited = Replace(edited, "header.font = 0", "header.font = 2");
    std::vector<TConfigChange> changes;
    std::vector<TConfigError> errors;
    ASSERT_TRUE(ImportProfileConfig(bd, kkm.Info(), edited, changes, errors))
        << (errors.empty() ? "" : ConfigErrorText(errors[0]));
    EXPECT_EQ(changes.size(), 7u);
    bool registerRow = false;
    ASSERT_TRUE(store.SaveStoredProfile(kkm.Info().serialNumber, kkm.Info().version, registerRow));
    // A refused file changes nothing.
    const std::string before = [&] {
      TKKMInfo i;
      TConfigTables w;
      ProfileConfig(bd, kkm.Info(), i, w);
      return ConfigText(i, w);
    }();
    EXPECT_FALSE(ImportProfileConfig(bd, kkm.Info(), "[options]\n1 = 0\n[departments]\n1.name = \"№\"\n",
                                     changes, errors));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].line, 4);
    TKKMInfo i;
    TConfigTables w;
    ProfileConfig(bd, kkm.Info(), i, w);
    EXPECT_EQ(ConfigText(i, w), before);
    // The profile's operator columns are narrower than the register's field:
    // a longer name or position is refused, not cut.
    for (const char* line : {"1.name = \"123456789012345678901\"", "1.position = \"1234567890123456789\""}) {
      EXPECT_FALSE(
          ImportProfileConfig(bd, kkm.Info(), std::string("[operators]\n") + line + "\n", changes, errors))
          << line;
      ASSERT_EQ(errors.size(), 1u) << line;
      EXPECT_NE(errors[0].text.find(line[2] == 'n' ? "at most 20" : "at most 18"), std::string::npos)
          << errors[0].text;
    }
  }
  // Another data module reads the stored profile from the files.
  TBD bd;
  bd.kkm = &kkm;
  TProfileStore store(bd, folder);
  ASSERT_TRUE(store.RefreshProfileList(kkm.Info().serialNumber, kkm.Info().version));
  ASSERT_FALSE(store.StoredProfileKey().empty());
  ASSERT_TRUE(store.SelectEntry(store.StoredProfileKey()));
  TKKMInfo stored;
  TConfigTables which;
  ProfileConfig(bd, kkm.Info(), stored, which);
  EXPECT_EQ(ConfigText(stored, which), edited);
  SetConsole(nullptr);
}

}  // namespace
}  // namespace zarvik
