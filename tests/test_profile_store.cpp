// The profile database: the seven files in "bd", the profile list for a
// register, loading a profile when it is first selected, saving the
// register's stored profile and templates, deleting, the profile keys, and
// the files as an independent dBASE reader (dbfread) sees them.
#include <sys/wait.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "model/U_kkms.h"
#include "shell/DiaLog.h"
#include "shell/U_language.h"
#include "store/ProfileStore.h"
#include "store/UnitBD.h"

namespace zarvik {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<std::string>>;

constexpr const char* kSerial = "002100457731";
constexpr const char* kVersion = "B 003";

using test::LocalTime;

// The visible rows of a working table, the given fields as text.
Rows TableRows(TWorkTable& t, const std::vector<const char*>& fields) {
  Rows out;
  const int keep = t.RecNo();
  for (t.First(); !t.Eof(); t.Next()) {
    std::vector<std::string> row;
    for (const char* f : fields) row.push_back(t.Text(f));
    out.push_back(row);
  }
  if (keep > 0) t.SetRecNo(keep);
  return out;
}

class ProfileStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LangResStrHandler.SetDefaults();
    SetDecimalSeparator('.');
    SetConsole(&console_);
    TKKMInfo& info = kkm_.Info();
    info.serialNumber = kSerial;
    info.version = kVersion;
    for (int i = 0; i < kOptionSlotCount; ++i) {
      info.options[static_cast<std::size_t>(i)].minValue = 1;
      info.options[static_cast<std::size_t>(i)].maxValue = 4 + i;
      info.options[static_cast<std::size_t>(i)].canNull = i % 2 == 0;
    }
    bd_ = std::make_unique<TBD>();
    bd_->kkm = &kkm_;
    fs::create_directory(Folder());
    store_ = std::make_unique<TProfileStore>(*bd_, Folder());
    store_->clock = [this] { return now_; };
  }
  void TearDown() override {
    store_.reset();
    bd_.reset();
    SetConsole(nullptr);
    SetDecimalSeparator('.');
    SetDbfWriteHook(nullptr);
  }

  std::string Folder() const { return dir_.File("bd"); }
  std::string FilePath(ProfileFile f) const { return Folder() + "/" + std::string(ProfileFileName(f)); }

  // The rows of a profile file as it is on disk, read by a table of its own.
  Rows FileRows(ProfileFile f, const std::vector<const char*>& fields) const {
    TDbfTable t;
    EXPECT_EQ(t.Open(FilePath(f)), DbfResult::Ok) << t.LastError();
    Rows out;
    for (bool more = t.First(); more; more = t.Next()) {
      std::vector<std::string> row;
      for (const char* name : fields) {
        std::string v;
        t.GetText(name, v);
        row.push_back(v);
      }
      out.push_back(row);
    }
    return out;
  }

  // Connecting: the list is rebuilt for the register and shows row 1.
  void Refresh() { ASSERT_TRUE(store_->RefreshProfileList(kSerial, kVersion)); }

  // Values the register's own settings (row 1) get in these tests.
  void FillRegisterRows() {
    TBD& bd = *bd_;
    bd.mtProfile.First();
    int n = 0;
    for (bd.mtOptions.First(); !bd.mtOptions.Eof(); bd.mtOptions.Next()) {
      bd.mtOptions.Edit();
      bd.mtOptions.SetInteger("Value", ++n % 5);
      bd.mtOptions.Post();
    }
    SetRow(bd.mtDepatment, 1, {{"Status", "Товар"}, {"Name", "Бакалея"}, {"NG", "A"}, {"Price", "10000"}});
    SetRow(bd.mtDepatment, 2, {{"Status", "Услуга"}, {"Name", "Доставка"}, {"Price", "25.5"}});
    SetRow(bd.mtTax, 1, {{"isDefined", "True"}, {"Name", "НДС 18%"}, {"Type", "1"}, {"Percent", "18.5"}});
    SetRow(bd.mtTitle, 1, {{"Caption", "ООО \"Ромашка\""}});
    SetRow(bd.mtFooter, 3, {{"Caption", "Спасибо за покупку"}});
    SetRow(bd.tmOperators, 1, {{"operator", "Иванова Анна"}, {"dolgn", "Кассир"}});
    bd.mtCheckFont.Append();
    bd.mtCheckFont.SetText("TitleFont", std::string(PrintFontNames[3]));
    bd.mtCheckFont.SetText("footerFont", std::string(PrintFontNames[1]));
    bd.mtCheckFont.Post();
  }
  static void SetRow(TWorkTable& t, int recNo, const std::map<std::string, std::string>& values) {
    ASSERT_TRUE(t.SetRecNo(recNo));
    t.Edit();
    for (const auto& [field, value] : values) ASSERT_EQ(t.SetText(field, value), WtResult::Ok) << field;
    t.Post();
  }
  // Makes the list show the entry named `name`.
  bool Select(const std::string& name) {
    TWorkTable& list = bd_->mtProfile;
    for (int i = 1; i <= list.RecordCount(); ++i) {
      list.SetRecNo(i);
      if (list.Text("Name") == name) return true;
    }
    return false;
  }
  std::vector<std::string> ListNames() {
    std::vector<std::string> out;
    for (const auto& r : TableRows(bd_->mtProfile, {"Name"})) out.push_back(r[0]);
    return out;
  }

  test::MessageStateGuard guard_;
  test::RecordingConsole console_;
  test::TempDir dir_;
  TKKM kkm_;
  std::unique_ptr<TBD> bd_;
  std::unique_ptr<TProfileStore> store_;
  std::chrono::system_clock::time_point now_ = LocalTime(2010, 12, 15, 14, 5, 0);
};

TEST(ProfileKey, SecondsFrom18991230LocalTime) {
  struct Case {
    int y, mo, d, h, mi, s;
    std::int64_t key;
  };
  const Case cases[] = {
      {1899, 12, 30, 0, 0, 0, 0},
      {1900, 1, 1, 0, 0, 1, 2 * 86400 + 1},
      {1970, 1, 1, 0, 0, 0, 25569LL * 86400},
      {2010, 12, 15, 14, 5, 0, 40527LL * 86400 + 14 * 3600 + 5 * 60},  // beyond 32 bits
      {2026, 12, 10, 23, 59, 59, 46366LL * 86400 + 86399},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProfileKeyAt(LocalTime(c.y, c.mo, c.d, c.h, c.mi, c.s)), c.key)
        << c.y << "-" << c.mo << "-" << c.d;
  }
  // The fraction of a second is dropped.
  EXPECT_EQ(ProfileKeyAt(LocalTime(2010, 12, 15, 14, 5, 0) + std::chrono::milliseconds(999)),
            40527LL * 86400 + 14 * 3600 + 5 * 60);
  EXPECT_GT(ProfileKeyAt(LocalTime(2010, 12, 15, 14, 5, 0)), std::int64_t{INT32_MAX});
}

TEST_F(ProfileStoreTest, TheFirstRebuildCreatesTheSevenFilesEmpty) {
  Refresh();
  for (int i = 0; i < kProfileFileCount; ++i) {
    const auto f = static_cast<ProfileFile>(i);
    ASSERT_TRUE(fs::exists(FilePath(f))) << ProfileFileName(f);
    TDbfTable t;
    ASSERT_EQ(t.Open(FilePath(f), ProfileFileFields(f)), DbfResult::Ok) << t.LastError();
    EXPECT_EQ(t.PhysicalRecordCount(), 0) << ProfileFileName(f);
    EXPECT_EQ(t.FieldCount(), static_cast<int>(ProfileFileFields(f).size()));
  }
  EXPECT_EQ(ListNames(), std::vector<std::string>{"Загруженая из ККМ"});
  EXPECT_EQ(store_->StoredProfilesFound(), 0);
  EXPECT_EQ(bd_->mtProfile.RecNo(), 1);
  EXPECT_EQ(bd_->mtOptions.Filter(), "LN='0'");
}

TEST_F(ProfileStoreTest, SavingTheRegisterSettingsTwiceKeepsOneStoredProfileAndItsKey) {
  Refresh();
  FillRegisterRows();
  bool registerRow = false;
  ASSERT_TRUE(store_->SaveStoredProfile(kSerial, kVersion, registerRow));
  EXPECT_TRUE(registerRow);
  const std::string key = std::to_string(ProfileKeyAt(now_));
  EXPECT_EQ(FileRows(ProfileFile::Profile, {"NAME", "SN", "TYPEKKM", "LN"}),
            (Rows{{"Сохраненная", kSerial, kVersion, key}}));
  // The list shows the stored profile, loaded from the files.
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"Загруженая из ККМ", "Сохраненная"}));
  EXPECT_EQ(bd_->mtProfile.RecNo(), 2);
  EXPECT_EQ(bd_->mtProfile.Text("LN"), key);
  EXPECT_EQ(store_->LoadCount(), 2);  // on the rebuild's way and afresh after it
  EXPECT_EQ(store_->StoredProfilesFound(), 1);
  EXPECT_EQ(TableRows(bd_->mtDepatment, {"Num", "Status", "Name", "NG", "Price", "LN"})[0],
            (std::vector<std::string>{"1", "Товар", "Бакалея", "A", "10000", key}));
  const std::size_t optionRows = FileRows(ProfileFile::Options, {"NUM"}).size();
  EXPECT_EQ(optionRows, 32u);

  // Back on row 1, a changed value saved again a minute later: same row,
  // same key, the detail rows written over in place.
  bd_->mtProfile.First();
  SetRow(bd_->mtOptions, 1, {{"Value", "3"}});
  SetRow(bd_->mtTitle, 1, {{"Caption", "ИП Петров"}});
  now_ += std::chrono::minutes(1);
  ASSERT_TRUE(store_->SaveStoredProfile(kSerial, kVersion, registerRow));
  EXPECT_EQ(FileRows(ProfileFile::Profile, {"NAME", "LN"}), (Rows{{"Сохраненная", key}}));
  const Rows options = FileRows(ProfileFile::Options, {"NUM", "VAL", "OLN"});
  ASSERT_EQ(options.size(), optionRows);
  EXPECT_EQ(options[0], (std::vector<std::string>{"1", "3", key}));
  EXPECT_EQ(FileRows(ProfileFile::Check, {"LINE", "NAME"})[0], (std::vector<std::string>{"1", "ИП Петров"}));
  // What the list shows is what was saved, not the rows loaded before.
  bd_->mtOptions.First();
  EXPECT_EQ(bd_->mtOptions.Text("Value"), "3");
  EXPECT_EQ(ListNames().size(), 2u);
}

TEST_F(ProfileStoreTest, SavingFromTheStoredProfileDoesNotCountAsSavingTheRegisterRow) {
  Refresh();
  FillRegisterRows();
  bool registerRow = false;
  ASSERT_TRUE(store_->SaveStoredProfile(kSerial, kVersion, registerRow));
  ASSERT_EQ(bd_->mtProfile.RecNo(), 2);
  ASSERT_TRUE(store_->SaveStoredProfile(kSerial, kVersion, registerRow));
  EXPECT_FALSE(registerRow);
}

TEST_F(ProfileStoreTest, DepartmentCodesAndTaxGroupsRoundTrip) {
  Refresh();
  FillRegisterRows();
  SetRow(bd_->mtDepatment, 3, {{"Status", "Закрыто"}});
  bool registerRow = false;
  ASSERT_TRUE(store_->SaveStoredProfile(kSerial, kVersion, registerRow));
  const Rows dept = FileRows(ProfileFile::Dept, {"Sec", "Status", "Name", "ng", "Price"});
  ASSERT_GE(dept.size(), 3u);
  EXPECT_EQ(dept[0], (std::vector<std::string>{"1", "161", "Бакалея", "65", "10000"}));
  EXPECT_EQ(dept[1], (std::vector<std::string>{"2", "162", "Доставка", "32", "25.5"}));
  EXPECT_EQ(dept[2], (std::vector<std::string>{"3", "163", "", "32", ""}));
  EXPECT_EQ(FileRows(ProfileFile::Tax, {"NUM", "ISDEFINED", "NAME", "TYPE", "PERCENT"})[0],
            (std::vector<std::string>{"1", "T", "НДС 18%", "1", "18.5"}));
  EXPECT_EQ(FileRows(ProfileFile::CheckFont, {"TITLEFONT", "FOOTERFONT"}), (Rows{{"3", "1"}}));
  EXPECT_EQ(FileRows(ProfileFile::Operators, {"LINE", "NAME", "DOLGN"})[0],
            (std::vector<std::string>{"", "Иванова Анна", "Кассир"}));

  // Loaded back (the stored profile is on display after the save).
  const Rows loaded = TableRows(bd_->mtDepatment, {"Status", "NG", "Price"});
  ASSERT_EQ(loaded.size(), 99u);
  EXPECT_EQ(Rows(loaded.begin(), loaded.begin() + 3),
            (Rows{{"Товар", "A", "10000"}, {"Услуга", "", "25.5"}, {"Закрыто", "", ""}}));
  EXPECT_EQ(TableRows(bd_->mtTax, {"Num", "isDefined", "Name", "Type", "Percent"})[0],
            (std::vector<std::string>{"1", "True", "НДС 18%", "1", "18.5"}));
  EXPECT_EQ(TableRows(bd_->mtCheckFont, {"TitleFont", "footerFont"}),
            (Rows{{std::string(PrintFontNames[3]), std::string(PrintFontNames[1])}}));
  EXPECT_EQ(TableRows(bd_->tmOperators, {"Num", "operator", "dolgn"})[0],
            (std::vector<std::string>{"1", "Иванова Анна", "Кассир"}));
}

TEST_F(ProfileStoreTest, ReceiptFooterLineThreeIsStoredAsLineNineAndLoadsBack) {
  Refresh();
  FillRegisterRows();
  bool registerRow = false;
  ASSERT_TRUE(store_->SaveStoredProfile(kSerial, kVersion, registerRow));
  const Rows check = FileRows(ProfileFile::Check, {"LINE", "NAME"});
  ASSERT_EQ(check.size(), 12u);
  EXPECT_EQ(check[8], (std::vector<std::string>{"9", "Спасибо за покупку"}));
  EXPECT_EQ(TableRows(bd_->mtFooter, {"Num", "Caption"})[2],
            (std::vector<std::string>{"3", "Спасибо за покупку"}));
  EXPECT_EQ(TableRows(bd_->mtTitle, {"Num"}).size(), 6u);
  EXPECT_EQ(TableRows(bd_->mtFooter, {"Num"}).size(), 6u);
}

TEST_F(ProfileStoreTest, ATemplateIsMarkedAndNeverTouchesTheProfileOptionCopy) {
  Refresh();
  FillRegisterRows();
  ASSERT_TRUE(store_->SaveTemplate("Магазин", kSerial, kVersion));
  EXPECT_NE(console_.AllText().find("Шаблон записан"), std::string::npos);
  const std::string key = std::to_string(ProfileKeyAt(now_));
  EXPECT_EQ(FileRows(ProfileFile::Profile, {"NAME", "SN", "TYPEKKM", "LN"}),
            (Rows{{"Магазин", "", kVersion, key}}));
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"Загруженая из ККМ", "Магазин"}));
  EXPECT_EQ(bd_->mtProfile.RecNo(), 1);  // back where the list was

  bd_->profileOptionCopy.fill(0x55);
  const OptionCopy before = bd_->profileOptionCopy;
  ASSERT_TRUE(Select("Магазин"));
  EXPECT_EQ(bd_->mtProfile.Text("LN"), "-" + key);
  EXPECT_TRUE(IsTemplateKey(bd_->mtProfile.Text("LN")));
  EXPECT_EQ(store_->ProposedTemplateName(), "Магазин");
  const Rows options = TableRows(bd_->mtOptions, {"num", "Value", "LN"});
  ASSERT_EQ(options.size(), 32u);
  EXPECT_EQ(options[0], (std::vector<std::string>{"1", "1", "-" + key}));
  EXPECT_EQ(bd_->profileOptionCopy, before);
  // Option limits come from the register's descriptor.
  bd_->mtOptions.SetRecNo(2);
  EXPECT_EQ(bd_->mtOptions.Text("Min"), "1");
  EXPECT_EQ(bd_->mtOptions.Text("Max"), "5");
  EXPECT_EQ(bd_->mtOptions.Text("CanNul"), "0");

  bd_->mtProfile.First();
  EXPECT_EQ(store_->ProposedTemplateName(), "");
}

TEST_F(ProfileStoreTest, AStoredProfileLoadUpdatesTheProfileOptionCopy) {
  Refresh();
  FillRegisterRows();
  bool registerRow = false;
  bd_->profileOptionCopy.fill(0);
  ASSERT_TRUE(store_->SaveStoredProfile(kSerial, kVersion, registerRow));
  EXPECT_EQ(bd_->profileOptionCopy[1], 1);
  EXPECT_EQ(bd_->profileOptionCopy[4], 4);
  EXPECT_EQ(bd_->profileOptionCopy, bd_->registerOptionCopy);
}

TEST_F(ProfileStoreTest, TemplatesAreFoundByNameAloneAndOverwrittenInPlace) {
  Refresh();
  FillRegisterRows();
  ASSERT_TRUE(store_->SaveTemplate("Общий", kSerial, kVersion));
  // The same name from a register of another version writes over it.
  SetRow(bd_->mtTitle, 2, {{"Caption", "второй"}});
  now_ += std::chrono::hours(1);
  ASSERT_TRUE(store_->SaveTemplate("Общий", kSerial, "C 001"));
  const Rows profiles = FileRows(ProfileFile::Profile, {"NAME", "TYPEKKM", "LN"});
  ASSERT_EQ(profiles.size(), 1u);
  EXPECT_EQ(profiles[0][1], kVersion);  // the row itself is not changed
  EXPECT_EQ(FileRows(ProfileFile::Check, {"NAME"})[1][0], "второй");
  EXPECT_EQ(FileRows(ProfileFile::Check, {"NAME"}).size(), 12u);
}

TEST_F(ProfileStoreTest, ATemplateNamedLikeTheStoredProfileOverwritesTheFirstOfThatName) {
  Refresh();
  FillRegisterRows();
  bool registerRow = false;
  ASSERT_TRUE(store_->SaveStoredProfile(kSerial, kVersion, registerRow));
  bd_->mtProfile.First();
  SetRow(bd_->mtOptions, 1, {{"Value", "4"}});
  now_ += std::chrono::hours(1);
  ASSERT_TRUE(store_->SaveTemplate("Сохраненная", kSerial, kVersion));
  EXPECT_EQ(FileRows(ProfileFile::Profile, {"NAME", "SN"}), (Rows{{"Сохраненная", kSerial}}));
  EXPECT_EQ(FileRows(ProfileFile::Options, {"VAL"})[0][0], "4");
}

TEST_F(ProfileStoreTest, SavesWithinOneSecondGetDistinctKeys) {
  Refresh();
  FillRegisterRows();
  ASSERT_TRUE(store_->SaveTemplate("Первый", kSerial, kVersion));
  ASSERT_TRUE(store_->SaveTemplate("Второй", kSerial, kVersion));
  bool registerRow = false;
  ASSERT_TRUE(store_->SaveStoredProfile(kSerial, kVersion, registerRow));
  const std::int64_t key = ProfileKeyAt(now_);
  EXPECT_EQ(FileRows(ProfileFile::Profile, {"NAME", "LN"}), (Rows{{"Первый", std::to_string(key)},
                                                                  {"Второй", std::to_string(key + 1)},
                                                                  {"Сохраненная", std::to_string(key + 2)}}));
  // Every profile keeps its own rows.
  EXPECT_EQ(FileRows(ProfileFile::Options, {"NUM"}).size(), 3u * 32u);
}

TEST_F(ProfileStoreTest, AnApostropheInATemplateNameIsStoredAndFoundAgain) {
  Refresh();
  FillRegisterRows();
  ASSERT_TRUE(store_->SaveTemplate("Кафе 'Уют'", kSerial, kVersion));
  now_ += std::chrono::minutes(5);
  ASSERT_TRUE(store_->SaveTemplate("Кафе 'Уют'", kSerial, kVersion));
  EXPECT_EQ(FileRows(ProfileFile::Profile, {"NAME"}), (Rows{{"Кафе 'Уют'"}}));
  ASSERT_TRUE(Select("Кафе 'Уют'"));
  EXPECT_EQ(TableRows(bd_->mtOptions, {"num"}).size(), 32u);
}

TEST_F(ProfileStoreTest, ASelectedProfileIsReadFromTheFilesOnlyOnce) {
  Refresh();
  FillRegisterRows();
  ASSERT_TRUE(store_->SaveTemplate("Первый", kSerial, kVersion));
  ASSERT_TRUE(store_->SaveTemplate("Шаблон", kSerial, kVersion));
  // The rebuild loads row 2 on its way; the second template is read when
  // it is first selected.
  const int loads = store_->LoadCount();
  ASSERT_TRUE(Select("Шаблон"));
  EXPECT_EQ(store_->LoadCount(), loads + 1);
  bd_->mtProfile.First();
  ASSERT_TRUE(Select("Шаблон"));
  EXPECT_EQ(store_->LoadCount(), loads + 1);
  // Edits stay in memory while the user switches profiles.
  SetRow(bd_->mtDepatment, 1, {{"Name", "Изменено"}});
  bd_->mtProfile.First();
  EXPECT_EQ(TableRows(bd_->mtDepatment, {"Name"})[0][0], "Бакалея");
  ASSERT_TRUE(Select("Шаблон"));
  EXPECT_EQ(TableRows(bd_->mtDepatment, {"Name"})[0][0], "Изменено");
}

TEST_F(ProfileStoreTest, SwitchingProfilesKeepsTheOptionPosition) {
  Refresh();
  FillRegisterRows();
  ASSERT_TRUE(store_->SaveTemplate("Шаблон", kSerial, kVersion));
  bd_->mtOptions.SetRecNo(7);
  ASSERT_TRUE(Select("Шаблон"));
  EXPECT_EQ(bd_->mtOptions.RecNo(), 7);
  EXPECT_EQ(bd_->mtOptions.Text("num"), "7");
}

TEST_F(ProfileStoreTest, ExtraDetailRowsStayInTheFileAndLoadBack) {
  Refresh();
  FillRegisterRows();
  bool registerRow = false;
  ASSERT_TRUE(store_->SaveStoredProfile(kSerial, kVersion, registerRow));
  ASSERT_EQ(FileRows(ProfileFile::Dept, {"Sec"}).size(), 99u);
  // A register with 16 departments: the table shows fewer rows than stored.
  bd_->mtProfile.First();
  while (bd_->mtDepatment.RecordCount() > 16) {
    bd_->mtDepatment.Last();
    bd_->mtDepatment.Delete();
  }
  SetRow(bd_->mtDepatment, 16, {{"Status", "Товар"}, {"Name", "Шестнадцатый"}});
  now_ += std::chrono::minutes(1);
  ASSERT_TRUE(store_->SaveStoredProfile(kSerial, kVersion, registerRow));
  const Rows dept = FileRows(ProfileFile::Dept, {"Sec", "Name"});
  ASSERT_EQ(dept.size(), 99u);
  EXPECT_EQ(dept[15], (std::vector<std::string>{"16", "Шестнадцатый"}));
  EXPECT_EQ(TableRows(bd_->mtDepatment, {"Num"}).size(), 99u);
}

TEST_F(ProfileStoreTest, DeletingRemovesTheProfileFromEveryFileAndFromMemory) {
  Refresh();
  FillRegisterRows();
  bool registerRow = false;
  ASSERT_TRUE(store_->SaveTemplate("Удаляемый", kSerial, kVersion));
  ASSERT_TRUE(store_->SaveStoredProfile(kSerial, kVersion, registerRow));
  const std::string storedKey = bd_->mtProfile.Text("LN");
  ASSERT_TRUE(Select("Удаляемый"));
  const std::string templateLn = bd_->mtProfile.Text("LN");

  ASSERT_TRUE(store_->DeleteSelectedProfile());
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"Загруженая из ККМ", "Сохраненная"}));
  EXPECT_EQ(bd_->mtProfile.Text("LN"), storedKey);  // the previous entry, at the end of the list
  EXPECT_EQ(FileRows(ProfileFile::Profile, {"NAME"}), (Rows{{"Сохраненная"}}));
  for (ProfileFile f : {ProfileFile::Options, ProfileFile::Dept, ProfileFile::Tax, ProfileFile::Check,
                        ProfileFile::Operators, ProfileFile::CheckFont})
    for (const auto& row : FileRows(f, {"OLN"})) EXPECT_EQ(row[0], storedKey) << ProfileFileName(f);
  // No row of the template is left in memory.
  for (TWorkTable* t : bd_->ProfileTables()) {
    t->SetFilter("LN='" + templateLn + "'");
    t->SetFiltered(false);
    t->SetFiltered(true);
    EXPECT_EQ(t->RecordCount(), 0) << t->Name();
  }
  store_->ApplyProfileFilter();

  // Row 1 is never deleted; the stored profile is.
  bd_->profileOptionCopy.fill(0x77);
  bd_->mtProfile.First();
  EXPECT_FALSE(store_->DeleteSelectedProfile());
  EXPECT_EQ(ListNames().size(), 2u);
  bd_->mtProfile.SetRecNo(2);
  ASSERT_TRUE(store_->DeleteSelectedProfile());
  EXPECT_EQ(bd_->profileOptionCopy, bd_->registerOptionCopy);
  EXPECT_EQ(ListNames(), std::vector<std::string>{"Загруженая из ККМ"});
  for (int i = 0; i < kProfileFileCount; ++i)
    EXPECT_TRUE(FileRows(static_cast<ProfileFile>(i), {}).empty()) << i;
  // The register's own rows are still there.
  EXPECT_EQ(TableRows(bd_->mtDepatment, {"Name"})[0][0], "Бакалея");
}

TEST_F(ProfileStoreTest, TheListShowsTheStoredProfileThenTheTemplatesOfTheVersion) {
  Refresh();
  FillRegisterRows();
  bool registerRow = false;
  ASSERT_TRUE(store_->SaveTemplate("Чужой", kSerial, "C 001"));  // another version: not listed
  ASSERT_TRUE(store_->SaveTemplate("Свой", kSerial, kVersion));
  ASSERT_TRUE(store_->SaveStoredProfile(kSerial, kVersion, registerRow));
  ASSERT_TRUE(store_->SaveStoredProfile("99999", kVersion, registerRow));  // another register
  Refresh();
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"Загруженая из ККМ", "Сохраненная", "Свой"}));
  EXPECT_EQ(store_->StoredProfilesFound(), 1);
  EXPECT_EQ(bd_->mtProfile.RecNo(), 1);
  EXPECT_EQ(bd_->mtOptions.Filter(), "LN='0'");
}

// A write that fails part-way: the file keeps its old content, and the
// profile row of a new profile is not written before its details.
int failAt = 0;
int writes = 0;
bool FailNthWrite(DbfWriteStage stage) {
  if (stage != DbfWriteStage::DataHalf) return true;
  return ++writes != failAt;
}

TEST_F(ProfileStoreTest, AFailedWriteNeverLeavesAProfileRowWithoutItsDetails) {
  Refresh();
  FillRegisterRows();
  // The six detail files are written first; the third write fails.
  writes = 0;
  failAt = 3;
  SetDbfWriteHook(&FailNthWrite);
  EXPECT_FALSE(store_->SaveTemplate("Прерванный", kSerial, kVersion));
  SetDbfWriteHook(nullptr);
  EXPECT_TRUE(FileRows(ProfileFile::Profile, {"NAME"}).empty());
  EXPECT_TRUE(FileRows(ProfileFile::Tax, {"NAME"}).empty());  // the failed file: old content
  EXPECT_EQ(FileRows(ProfileFile::Options, {"NUM"}).size(), 32u);
  EXPECT_NE(console_.AllText().find("Error:"), std::string::npos);
}

// The files as python3-dbfread reads them.
std::string Dbfread(const std::vector<std::string>& files, int& status) {
  std::string command =
      "PYTHONIOENCODING=utf-8 /usr/bin/python3 -c \"import sys\n"
      "from dbfread import DBF\n"
      "for p in sys.argv[1:]:\n"
      "    t = DBF(p, load=True)\n"
      "    print('FILE', t.name, t.encoding, len(t.records), len(t.deleted))\n"
      "    for r in t.records: print('|'.join(str(v) for v in r.values()))\n\"";
  for (const std::string& f : files) command += " '" + f + "'";
  std::string out;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) {
    status = -1;
    return out;
  }
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  const int raw = ::pclose(p);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

TEST_F(ProfileStoreTest, AnIndependentReaderReadsTheFiles) {
  Refresh();
  FillRegisterRows();
  bool registerRow = false;
  ASSERT_TRUE(store_->SaveTemplate("Шаблон", kSerial, kVersion));
  ASSERT_TRUE(store_->SaveStoredProfile(kSerial, kVersion, registerRow));
  ASSERT_TRUE(Select("Шаблон"));
  ASSERT_TRUE(store_->DeleteSelectedProfile());
  const std::string key = std::to_string(ProfileKeyAt(now_) + 1);

  std::vector<std::string> files;
  for (int i = 0; i < kProfileFileCount; ++i) files.push_back(FilePath(static_cast<ProfileFile>(i)));
  int status = -1;
  const std::string out = Dbfread(files, status);
  ASSERT_EQ(status, 0) << out;
  // Text in code page 1251, deleted rows counted apart, numbers as numbers.
  EXPECT_NE(out.find("FILE profile cp1251 1 1\nСохраненная|002100457731|B 003|" + key + "\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("FILE options cp1251 32 32\n1|1|" + key + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find("FILE dept cp1251 99 99\n" + key + "|1|161|Бакалея|65|10000\n" + key +
                     "|2|162|Доставка|32|25.5\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("FILE tax cp1251 5 5\nTrue|НДС 18%|1|18.5|" + key + "|1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("FILE check cp1251 12 12\n1|ООО \"Ромашка\"|" + key + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find("9|Спасибо за покупку|" + key + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find("FILE checkfont cp1251 1 1\n3|1|" + key + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find("FILE operators cp1251 8 8\nNone|Иванова Анна|Кассир|" + key + "\n"), std::string::npos)
      << out;
}

TEST_F(ProfileStoreTest, PricesAndRatesFollowTheLocaleSeparator) {
  SetDecimalSeparator(',');
  Refresh();
  FillRegisterRows();
  bool registerRow = false;
  ASSERT_TRUE(store_->SaveStoredProfile(kSerial, kVersion, registerRow));
  EXPECT_EQ(FileRows(ProfileFile::Dept, {"Price"})[1][0], "25,5");
  EXPECT_EQ(FileRows(ProfileFile::Tax, {"PERCENT"})[0][0], "18,5");
  EXPECT_EQ(TableRows(bd_->mtDepatment, {"Price"})[1][0], "25,5");
  EXPECT_EQ(TableRows(bd_->mtTax, {"Percent"})[0][0], "18,5");
}

TEST_F(ProfileStoreTest, AnUnreadablePriceEndsTheLoadWithAReport) {
  Refresh();
  FillRegisterRows();
  ASSERT_TRUE(store_->SaveTemplate("Порченый", kSerial, kVersion));
  // Another program wrote a price that is no number.
  {
    TDbfTable t;
    ASSERT_EQ(t.Open(FilePath(ProfileFile::Dept)), DbfResult::Ok);
    t.First();
    t.Next();
    ASSERT_EQ(t.Edit(), DbfResult::Ok);
    ASSERT_EQ(t.SetText("Price", "много"), DbfResult::Ok);
    ASSERT_EQ(t.Post(), DbfResult::Ok);
    ASSERT_EQ(t.Close(), DbfResult::Ok);
  }
  // A fresh program run reads the files anew.
  store_.reset();
  bd_ = std::make_unique<TBD>();
  bd_->kkm = &kkm_;
  store_ = std::make_unique<TProfileStore>(*bd_, Folder());
  console_.lines.clear();
  Refresh();  // loads row 2 on its way
  ASSERT_TRUE(Select("Порченый"));
  EXPECT_NE(console_.AllText().find("Error:"), std::string::npos) << console_.AllText();
  EXPECT_EQ(TableRows(bd_->mtOptions, {"num"}).size(), 32u);   // read before the failure
  EXPECT_EQ(TableRows(bd_->mtDepatment, {"Num"}).size(), 1u);  // the rows read so far
}

}  // namespace
}  // namespace zarvik
