// Backups before a write: the settings, the backup profiles in the profile
// database (listed after the stored profile, newest first, loading back,
// the oldest deleted), the register's values read from the simulator, and
// the goods backup files.
#include "store/RegisterBackup.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Scenario.h"
#include "Simulator.h"
#include "TestSupport.h"
#include "port/Comport.h"
#include "port/PortDevices.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "shell/IniFile.h"
#include "shell/U_filedirwork.h"
#include "shell/U_language.h"
#include "store/GoodsExchange.h"
#include "store/ProfileDiff.h"
#include "store/ProfileStore.h"
#include "store/UnitBD.h"

namespace zarvik {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<std::string>>;

constexpr const char* kSerial = "002100457731";
constexpr const char* kVersion = "B 003";
constexpr int kSimPort = 202;

using test::LocalTime;

Rows Shown(TWorkTable& t, const std::vector<const char*>& fields) {
  Rows out;
  for (int r = 0; r < t.ViewRowCount(); ++r) {
    std::vector<std::string> row;
    for (const char* f : fields) row.push_back(t.ViewText(r, t.FieldIndex(f)));
    out.push_back(row);
  }
  return out;
}

std::vector<std::string> cfgCodes(const TWorkTable& t) {
  std::vector<std::string> out;
  for (int r = 0; r < t.ViewRowCount(); ++r) out.push_back(t.ViewText(r, t.FieldIndex("Code")));
  return out;
}

TDepRec Dep(const char* status, const char* name, const char* group, double price) {
  TDepRec d;
  d.status = status;
  d.name = name;
  d.taxGroup = group;
  d.price = price;
  return d;
}

TEST(BackupSettings, NamesAndTheIniSection) {
  EXPECT_EQ(BackupProfileName(LocalTime(2026, 12, 10, 14, 3, 12)), "Авто 10.12.2026 14:03:12");
  EXPECT_EQ(BackupProfileName(LocalTime(2027, 1, 2, 3, 4, 5)), "Авто 02.01.2027 03:04:05");
  EXPECT_TRUE(IsBackupName("Авто 10.12.2026 14:03:12"));
  EXPECT_FALSE(IsBackupName("Сохраненная"));
  EXPECT_FALSE(IsBackupName("Автомат"));

  struct Case {
    const char* ini;
    bool enabled;
    int keep;
  };
  const Case cases[] = {
      {"", true, kDefaultBackupsKept},
      {"[Backup]\r\nENABLED=0\r\nKEEP=3\r\n", false, 3},
      {"[backup]\r\nenabled=1\r\nkeep=1000\r\n", true, 1000},
      {"[Backup]\r\nKEEP=0\r\n", true, kDefaultBackupsKept},
      {"[Backup]\r\nKEEP=1001\r\n", true, kDefaultBackupsKept},
      {"[Backup]\r\nKEEP=zwei\r\nENABLED=nein\r\n", true, kDefaultBackupsKept},
  };
  for (const Case& c : cases) {
    TBackupSettings s;
    s.Read(TIniFile::FromText(c.ini));
    EXPECT_EQ(s.enabled, c.enabled) << c.ini;
    EXPECT_EQ(s.keep, c.keep) << c.ini;
  }
  TIniFile ini = TIniFile::FromText("");
  TBackupSettings off;
  off.enabled = false;
  off.keep = 4;
  off.Write(ini);
  TBackupSettings back;
  back.Read(ini);
  EXPECT_FALSE(back.enabled);
  EXPECT_EQ(back.keep, 4);
}

class BackupStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LangResStrHandler.SetDefaults();
    SetDecimalSeparator('.');
    SetConsole(&console_);
    TKKMInfo& info = kkm_.Info();
    info.serialNumber = kSerial;
    info.version = kVersion;
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
  }
  std::string Folder() const { return dir_.File("bd"); }

  static TRegisterSnapshot Snapshot(const std::string& firstName) {
    TRegisterSnapshot s;
    s.options = std::vector<std::uint8_t>{1, 0, 3};
    s.departments =
        std::vector<TDepRec>{Dep("Товар", firstName.c_str(), "A", 100.5), Dep("Закрыто", "", "0", 0)};
    TReceiptSnapshot r;
    r.header[0] = "ООО \"Ромашка\"";
    r.footer[1] = "Спасибо!";
    r.headerFont = 3;
    r.footerFont = 1;
    s.receipt = r;
    s.operators = std::vector<TOperatorSnapshot>{{"Иванова", "Кассир"}, {"Петров", ""}};
    return s;
  }
  // A backup made at the clock's moment, one minute after the last.
  std::string Backup(const TRegisterSnapshot& s, const std::string& serial = kSerial) {
    now_ += std::chrono::minutes(1);
    std::string key;
    EXPECT_TRUE(store_->SaveSnapshot(BackupProfileName(now_), serial, kVersion, s, key));
    return key;
  }
  std::vector<std::string> ListNames() {
    std::vector<std::string> out;
    for (const auto& r : Shown(bd_->mtProfile, {"Name"})) out.push_back(r[0]);
    return out;
  }
  bool Select(const std::string& name) {
    TWorkTable& list = bd_->mtProfile;
    for (int i = 1; i <= list.RecordCount(); ++i) {
      list.SetRecNo(i);
      if (list.Text("Name") == name) return true;
    }
    return false;
  }

  test::MessageStateGuard guard_;
  test::RecordingConsole console_;
  test::TempDir dir_;
  TKKM kkm_;
  std::unique_ptr<TBD> bd_;
  std::unique_ptr<TProfileStore> store_;
  std::chrono::system_clock::time_point now_ = LocalTime(2026, 12, 10, 14, 0, 0);
};

TEST_F(BackupStoreTest, BackupsAreListedAfterTheStoredProfileNewestFirstAndLoadBack) {
  ASSERT_TRUE(store_->RefreshProfileList(kSerial, kVersion));
  const std::string older = Backup(Snapshot("Бакалея"));
  ASSERT_TRUE(store_->SaveProfile(std::string(kStoredProfileName), kSerial, kVersion));
  ASSERT_TRUE(store_->SaveProfile("Шаблон", "", kVersion));
  const std::string newer = Backup(Snapshot("Бакалея новая"));
  Backup(Snapshot("чужая"), "999");  // another register's
  ASSERT_TRUE(store_->RefreshProfileList(kSerial, kVersion));
  EXPECT_EQ(ListNames(),
            (std::vector<std::string>{"Загруженая из ККМ", "Сохраненная", "Авто 10.12.2026 14:02:00",
                                      "Авто 10.12.2026 14:01:00", "Шаблон"}));
  // Backups are not the register's stored profiles.
  EXPECT_EQ(store_->StoredProfilesFound(), 1);
  EXPECT_NE(store_->StoredProfileKey(), "");
  EXPECT_EQ(bd_->mtProfile.RecNo(), 1);

  // The older backup shows what the register held then.
  bd_->mtDepatment.FindField("Price")->displayFormat = "#0.00";
  ASSERT_TRUE(store_->SelectEntry(older));
  EXPECT_EQ(bd_->mtProfile.Text("Name"), "Авто 10.12.2026 14:01:00");
  EXPECT_EQ(Shown(bd_->mtOptions, {"num", "Value"}), (Rows{{"1", "1"}, {"2", "0"}, {"3", "3"}}));
  EXPECT_EQ(Shown(bd_->mtDepatment, {"Num", "Status", "Name", "NG", "Price"}),
            (Rows{{"1", "Товар", "Бакалея", "A", "100.50"}, {"2", "Закрыто", "", "0", "0.00"}}));
  EXPECT_EQ(Shown(bd_->mtTitle, {"Num", "Caption"})[0], (std::vector<std::string>{"1", "ООО \"Ромашка\""}));
  EXPECT_EQ(Shown(bd_->mtFooter, {"Num", "Caption"})[1], (std::vector<std::string>{"2", "Спасибо!"}));
  EXPECT_EQ(Shown(bd_->mtCheckFont, {"TitleFont", "footerFont"}),
            (Rows{{std::string(PrintFontNames[3]), std::string(PrintFontNames[1])}}));
  EXPECT_EQ(Shown(bd_->tmOperators, {"Num", "operator", "dolgn"}),
            (Rows{{"1", "Иванова", "Кассир"}, {"2", "Петров", ""}}));
  EXPECT_EQ(bd_->mtTax.RecordCount(), 0);  // taxes are never written, never backed up
  EXPECT_TRUE(store_->SelectEntry(newer));
  EXPECT_EQ(Shown(bd_->mtDepatment, {"Name"})[0][0], "Бакалея новая");
  EXPECT_FALSE(store_->SelectEntry("12345"));
}

TEST_F(BackupStoreTest, ABackupHoldsOnlyTheTablesRead) {
  TRegisterSnapshot s;
  s.departments = std::vector<TDepRec>{Dep("Услуга", "Доставка", "B", 5)};
  const std::string key = Backup(s);
  ASSERT_TRUE(store_->RefreshProfileList(kSerial, kVersion));
  ASSERT_TRUE(store_->SelectEntry(key));
  EXPECT_EQ(bd_->mtDepatment.RecordCount(), 1);
  for (TWorkTable* t : {&bd_->mtOptions, &bd_->mtTitle, &bd_->mtFooter, &bd_->tmOperators, &bd_->mtTax})
    EXPECT_EQ(t->RecordCount(), 0) << t->Name();
  EXPECT_EQ(s.Tables(), unsigned{stDepartments});
}

TEST_F(BackupStoreTest, PruningKeepsTheNewestAndTheOneOnDisplay) {
  ASSERT_TRUE(store_->RefreshProfileList(kSerial, kVersion));
  ASSERT_TRUE(store_->SaveProfile(std::string(kStoredProfileName), kSerial, kVersion));
  std::vector<std::string> keys;
  for (int i = 0; i < 5; ++i) keys.push_back(Backup(Snapshot("Отдел " + std::to_string(i))));
  const std::string foreign = Backup(Snapshot("чужая"), "999");
  ASSERT_TRUE(store_->RefreshProfileList(kSerial, kVersion));
  // Backup 1 is loaded into memory, backup 0 is on display.
  ASSERT_TRUE(store_->SelectEntry(keys[1]));
  ASSERT_TRUE(store_->SelectEntry(keys[0]));
  ASSERT_FALSE(ProfileRows(bd_->mtDepatment, keys[1]).empty());

  EXPECT_EQ(store_->PruneBackups(kSerial, 2, keys[0]), 2);
  // The two newest stay, the one on display stays, its rows still shown.
  ASSERT_TRUE(store_->RefreshProfileList(kSerial, kVersion));
  EXPECT_EQ(ListNames(),
            (std::vector<std::string>{"Загруженая из ККМ", "Сохраненная", "Авто 10.12.2026 14:05:00",
                                      "Авто 10.12.2026 14:04:00", "Авто 10.12.2026 14:01:00"}));
  EXPECT_TRUE(ProfileRows(bd_->mtDepatment, keys[1]).empty());
  // The detail rows of the deleted ones left the files.
  TDbfTable dept;
  ASSERT_EQ(dept.Open(Folder() + "/Dept.dbf"), DbfResult::Ok);
  int rows = 0;
  std::map<std::string, int> byKey;
  for (bool more = dept.First(); more; more = dept.Next()) {
    std::string oln;
    dept.GetText("OLN", oln);
    ++byKey[oln];
    ++rows;
  }
  EXPECT_EQ(byKey.count(keys[1]), 0u);
  EXPECT_EQ(byKey.count(keys[2]), 0u);
  EXPECT_EQ(byKey[keys[3]], 2);
  EXPECT_EQ(byKey[foreign], 2);  // another register's backups are its own
  // Nothing more to delete.
  EXPECT_EQ(store_->PruneBackups(kSerial, 2, ""), 1);  // the one on display before
  EXPECT_EQ(store_->PruneBackups(kSerial, 2, ""), 0);
}

// The register side: the values read from the simulator and the goods files.
class BackupRegisterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LangResStrHandler.SetDefaults();
    SetDecimalSeparator('.');
    SetConsole(&console_);
    sim::RegisterState s;
    s.serialNumber = kSerial;
    s.version = kVersion;
    s.options = {1, 2, 3, 4};
    s.maxCountDepat = 4;
    s.departments[0] = {sim::kDepGoods, "Бакалея", 1, 150000};
    s.departments[1] = {sim::kDepService, "Доставка", 2, 50};
    s.header[0] = {2, "ООО \"Ромашка\""};
    s.header[1] = {2, "г. Тверь"};
    s.footer[0] = {1, "Спасибо за покупку!"};
    s.operatorCount = 4;
    s.operatorNames = {"Иванова", "Петров", "", "", "", "", "", ""};
    s.positions = {"Кассир", "", "", "", "", "", "", ""};
    s.goodsCapacity = 2000;
    for (int code = 1; code <= 60; ++code) s.goods[code] = sim::GeneratedGoods(code, s.maxCountDepat);
    simulator_ = std::make_unique<sim::Simulator>(s);
    std::string slave;
    ASSERT_TRUE(simulator_->OpenPty(slave)) << simulator_->LastError();
    SetPortDevice(kSimPort, slave);
    ASSERT_TRUE(simulator_->Start());
    ASSERT_TRUE(port_.SetPortNumber(kSimPort));
    ASSERT_TRUE(port_.Open());
    protocol_.waits = kNoLinkWaits;
    ASSERT_TRUE(protocol_.GetInfo());
  }
  void TearDown() override {
    port_.Close();
    simulator_->Close();
    SetPortDevice(kSimPort, "");
    SetConsole(nullptr);
  }
  int Executed(std::uint8_t code) const {
    const auto c = simulator_->State().commandsExecuted;
    return static_cast<int>(std::count(c.begin(), c.end(), code));
  }

  test::MessageStateGuard guard_;
  test::RecordingConsole console_;
  test::TempDir dir_;
  std::unique_ptr<sim::Simulator> simulator_;
  TComPort port_;
  TKKM kkm_{&port_};
  TProtocolKKM protocol_{&kkm_};
};

TEST_F(BackupRegisterTest, TheTablesAskedForAreReadAndNoOthers) {
  TRegisterSnapshot s;
  ASSERT_TRUE(ReadRegisterSnapshot(protocol_, stDepartments | stReceipt, 4, s));
  EXPECT_EQ(s.Tables(), unsigned{stDepartments | stReceipt});
  ASSERT_EQ(s.departments->size(), std::size_t{4});
  EXPECT_TRUE(SameDepartment((*s.departments)[0], Dep("Товар", "Бакалея", "A", 1500)));
  EXPECT_TRUE(SameDepartment((*s.departments)[1], Dep("Услуга", "Доставка", "B", 0.5)));
  EXPECT_FALSE(IsOpenDepartment((*s.departments)[2]));
  EXPECT_EQ(s.receipt->header[1], "г. Тверь");
  EXPECT_EQ(s.receipt->footer[0], "Спасибо за покупку!");
  EXPECT_EQ(s.receipt->headerFont, 2);
  EXPECT_EQ(s.receipt->footerFont, 1);
  EXPECT_EQ(Executed(7), 4);  // one read per department
  EXPECT_EQ(Executed(3) + Executed(5), 12);
  EXPECT_EQ(Executed(9), 0);   // options not asked for
  EXPECT_EQ(Executed(21), 0);  // nor operators

  ASSERT_TRUE(ReadRegisterSnapshot(protocol_, stOptions | stOperators, 4, s));
  EXPECT_EQ(s.Tables(), unsigned{stOptions | stOperators});
  EXPECT_EQ(*s.options, (std::vector<std::uint8_t>{1, 2, 3, 4}));
  ASSERT_EQ(s.operators->size(), std::size_t{4});
  EXPECT_EQ((*s.operators)[0].name, "Иванова");
  EXPECT_EQ((*s.operators)[0].position, "Кассир");
  // No operators to read on a register without them.
  ASSERT_TRUE(ReadRegisterSnapshot(protocol_, stOperators, 0, s));
  EXPECT_FALSE(s.operators.has_value());
}

TEST_F(BackupRegisterTest, AFailedReadIsReportedAndKeepsNoHalfBackup) {
  TBD bd;
  bd.kkm = &kkm_;
  TProfileStore store(bd, dir_.File("bd"));
  fs::create_directory(dir_.File("bd"));
  ASSERT_TRUE(simulator_->AddFault("result=7:3"));  // the first department read refused
  TRegisterSnapshot s;
  TBackupMade made;
  EXPECT_FALSE(BackupRegisterTables(protocol_, store, stDepartments, 0, s, made));
  EXPECT_TRUE(made.key.empty());
  ASSERT_TRUE(store.RefreshProfileList(kSerial, kVersion));
  EXPECT_EQ(bd.mtProfile.RecordCount(), 1);
  bool reported = false;
  for (const ConsoleLine& l : console_.lines)
    reported = reported || l.text.find("не удалось получить информацию о отделах") != std::string::npos;
  EXPECT_TRUE(reported);

  ASSERT_TRUE(BackupRegisterTables(protocol_, store, stDepartments, 0, s, made));
  EXPECT_TRUE(IsBackupName(made.name));
  ASSERT_TRUE(store.RefreshProfileList(kSerial, kVersion));
  EXPECT_EQ(bd.mtProfile.RecordCount(), 2);
}

// Few rows to write: those goods one by one; many, or codes a single read
// does not reach: the whole goods table.
TEST(GoodsBackupCodes, FewRowsAreReadOneByOne) {
  LangResStrHandler.SetDefaults();
  TKKMInfo info;
  info.maxCountGoods = 20000;
  info.maxCountDepat = 4;
  TBD bd;
  TWorkTable& t = bd.mtTOBAP;
  const auto add = [&t](int code, const char* price) {
    t.Append();
    t.SetInteger("Code", code);
    t.SetText("Name", "x");
    t.SetText("Price", price);
    t.Post();
  };
  add(5, "1");
  add(6, "");  // not written: no price
  add(9, "2");
  EXPECT_EQ(GoodsBackupCodes(t, info), (std::vector<int>{5, 9}));
  EXPECT_EQ(t.RecNo(), 1);
  ASSERT_TRUE(t.SetRecNo(3));
  EXPECT_EQ(GoodsBackupCode(t), std::vector<int>{9});
  add(10000, "1");
  EXPECT_TRUE(GoodsBackupCodes(t, info).empty());
  t.Last();
  EXPECT_TRUE(GoodsBackupCode(t).empty());
  t.Delete();
  for (int code = 100; code < 100 + kMostGoodsReadOneByOne - 2; ++code) add(code, "1");
  EXPECT_EQ(GoodsBackupCodes(t, info).size(), static_cast<std::size_t>(kMostGoodsReadOneByOne));
  add(500, "1");
  EXPECT_TRUE(GoodsBackupCodes(t, info).empty());
}

// A record read of the backup whose exchange fails (the register hears
// nothing for a while) is asked again instead of cancelling the write.
TEST_F(BackupRegisterTest, GoodsBackupReadsAgainAfterAFailedExchange) {
  const std::string path = GoodsBackupPath(GoodsBackupFolder(dir_.File("bd")), kSerial,
                                           LocalTime(2026, 12, 10, 14, 5, 0));
  protocol_.lineCounts = {};
  // The backup's own repetition, not the command's.
  protocol_.commandRepeats = 0;
  ASSERT_TRUE(simulator_->AddFault("silence*7"));  // the six polls of an exchange and more
  ASSERT_TRUE(BackupGoods(protocol_, path, {7, 8}, {}));
  EXPECT_GE(protocol_.lineCounts.resumptions, 1);
  TBD read;
  ASSERT_TRUE(ImportGoodsDbf(path, read.mtTOBAP, 4000));
  EXPECT_EQ(cfgCodes(read.mtTOBAP), (std::vector<std::string>{"7", "8"}));
}

TEST_F(BackupRegisterTest, GoodsBackupFiles) {
  const std::string folder = GoodsBackupFolder(dir_.File("bd"));
  const auto when = LocalTime(2026, 12, 10, 14, 3, 12);
  const std::string all = GoodsBackupPath(folder, kSerial, when);
  EXPECT_EQ(fs::path(all).filename(), "goods_002100457731_20261210_140312.dbf");
  int calls = 0;
  ASSERT_TRUE(BackupGoods(protocol_, all, {}, [&](int) { return ++calls > 0; }));
  EXPECT_GE(calls, 60);
  TBD read;
  ASSERT_TRUE(ImportGoodsDbf(all, read.mtTOBAP, 4000));
  ASSERT_EQ(read.mtTOBAP.RecordCount(), 60);
  read.mtTOBAP.Last();
  EXPECT_EQ(read.mtTOBAP.Int("Code"), 60);
  // A second backup in the same second gets a name of its own.
  const std::string one = GoodsBackupPath(folder, kSerial, when);
  EXPECT_EQ(fs::path(one).filename(), "goods_002100457731_20261210_140312_2.dbf");
  ASSERT_TRUE(BackupGoods(protocol_, one, {7}, {}));
  ASSERT_TRUE(ImportGoodsDbf(one, read.mtTOBAP, 4000));
  ASSERT_EQ(read.mtTOBAP.RecordCount(), 1);
  EXPECT_EQ(read.mtTOBAP.Int("Code"), 7);
  // Codes the register does not hold are left out, without a failure.
  const std::string none = GoodsBackupPath(folder, kSerial, when + std::chrono::seconds(1));
  ASSERT_TRUE(BackupGoods(protocol_, none, {1500, 9, 3}, {}));
  ASSERT_TRUE(ImportGoodsDbf(none, read.mtTOBAP, 4000));
  EXPECT_EQ(cfgCodes(read.mtTOBAP), (std::vector<std::string>{"3", "9"}));  // in code order
  ASSERT_TRUE(BackupGoods(protocol_, none, {1500}, {}));
  ASSERT_TRUE(ImportGoodsDbf(none, read.mtTOBAP, 4000));
  EXPECT_EQ(read.mtTOBAP.RecordCount(), 0);
  // Stopped: no file.
  const std::string stopped = GoodsBackupPath(folder, kSerial, when + std::chrono::seconds(2));
  EXPECT_FALSE(BackupGoods(protocol_, stopped, {}, [](int received) { return received < 10; }));
  EXPECT_FALSE(fs::exists(stopped));
  simulator_->DropPendingAnswer();

  // The oldest beyond the number kept go; another register's stay.
  const std::string foreign = GoodsBackupPath(folder, "999", when);
  WriteTextFile(foreign, "x");
  EXPECT_EQ(PruneGoodsBackups(folder, kSerial, 2), 1);
  EXPECT_FALSE(fs::exists(all));
  EXPECT_TRUE(fs::exists(one));
  EXPECT_TRUE(fs::exists(none));
  EXPECT_TRUE(fs::exists(foreign));
  EXPECT_EQ(PruneGoodsBackups(folder, kSerial, 2), 0);
}

}  // namespace
}  // namespace zarvik
