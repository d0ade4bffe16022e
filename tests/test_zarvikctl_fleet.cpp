// zarvikctl fleet against eight register simulators on pseudo-terminals:
// one worker process per register, a register with the wrong serial number
// refused, a register that dies mid-run failed while the others succeed,
// Ctrl-C stopping every worker, the report and the per-register files.
#include <gtest/gtest.h>

#ifdef ZARVIK_CTL_EXE

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "CtlProcess.h"
#include "CtlSimSupport.h"
#include "Simulator.h"
#include "TestSupport.h"
#include "shell/TextCodec.h"
#include "store/GoodsExchange.h"
#include "store/UnitBD.h"

namespace zarvik {
namespace {

using namespace std::chrono_literals;
using test::FleetSerial;
using test::kBigEdit;
using test::kBigEditWrites;
using test::RunResult;
using test::SettingsWrites;

constexpr int kRegisters = 8;
constexpr int kFirstPort = 220;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class Fleet : public ::testing::Test {
 protected:
  // Registers 0..7 on ports 220..227, "shop 0" .. "shop 7" (or `names`);
  // `paced` lines behave as 19200 baud.
  void Start(bool paced, const std::vector<std::string>& names = test::ShopNames(kRegisters)) {
    shop.Start(kRegisters, paced);
    test::WriteFleetFiles(dir, kFirstPort, shop.terminals, names);
  }
  void TearDown() override { shop.Close(); }
  RunResult Run(const std::vector<std::string>& args) {
    return test::RunCtl(dir.Path(), args, {}, false, {});
  }
  // Runs config apply of kBigEdit with `extra` arguments and the report
  // report.json, and sends it SIGINT once `ready` holds; whether it was sent.
  template <typename Pred>
  RunResult ApplyInterrupted(const std::vector<std::string>& extra, Pred ready, bool& sent) {
    test::WriteAll(dir.File("big.conf"), kBigEdit);
    std::vector<std::string> args{"fleet",    "fleet.ini",   "config",   "apply",
                                  "big.conf", "--no-backup", "--report", "report.json"};
    args.insert(args.end(), extra.begin(), extra.end());
    test::CtlProcess fleet(dir.Path(), args);
    std::atomic<bool> signalled{false};
    std::thread interrupter([&] {
      if (fleet.Started() && test::WaitForFleet(ready)) {
        fleet.Signal(SIGINT);
        signalled = true;
      }
    });
    RunResult r = fleet.Wait(std::chrono::minutes(5));
    interrupter.join();
    sent = signalled.load();
    return r;
  }

  test::TempDir dir;
  test::FleetShopSims shop;
  std::vector<std::unique_ptr<sim::Simulator>>& sims = shop.sims;
};

TEST_F(Fleet, AppliesToEveryRegisterAndRefusesTheOneWithAnotherSerialNumber) {
  Start(false);
  // Register 5 is not the one the fleet file expects there.
  sims[5]->ModifyState([](sim::RegisterState& s) { s.serialNumber = "999999999999"; });
  test::WriteAll(dir.File("edit.conf"), "[options]\n1 = 0\n[departments]\n2.name = \"Курьер\"\n");
  const RunResult r = Run({"fleet", "fleet.ini", "config", "apply", "edit.conf", "--report", "report.json"});
  EXPECT_EQ(r.status, 1) << r.err;
  for (int k = 0; k < kRegisters; ++k) {
    const sim::RegisterState s = sims[static_cast<std::size_t>(k)]->State();
    if (k == 5) {
      EXPECT_EQ(SettingsWrites(s), 0);
      EXPECT_EQ(s.departments[1].name, "Доставка");
    } else {
      EXPECT_EQ(SettingsWrites(s), 2) << k;
      EXPECT_EQ(s.departments[1].name, "Курьер") << k;
      EXPECT_EQ(s.options[0], 0) << k;
    }
  }
  const std::string report = test::ReadAll(dir.File("report.json"));
  EXPECT_EQ(std::count(report.begin(), report.end(), '{'), 1 + kRegisters) << report;
  EXPECT_TRUE(Has(
      report, "\"name\": \"shop 5\", \"port\": 225, \"serial\": \"999999999999\", \"expected_serial\": \"" +
                  FleetSerial(5) + "\", \"result\": \"отказ\", \"ok\": false"))
      << report;
  EXPECT_TRUE(Has(report, "\"name\": \"shop 0\", \"port\": 220, \"serial\": \"" + FleetSerial(0) +
                              "\", \"expected_serial\": \"" + FleetSerial(0) +
                              "\", \"result\": \"готово\", \"ok\": true"))
      << report;
  std::size_t done = 0;
  for (std::size_t at = 0; (at = report.find("\"ok\": true", at)) != std::string::npos; ++at) ++done;
  EXPECT_EQ(done, 7u) << report;
  EXPECT_TRUE(Has(r.out, "Выполнено на 7 из 8 ККМ")) << r.out;
  // The backups of the seven registers written were all kept, one each.
  const std::string profiles = Cp1251ToUtf8(test::ReadAll(dir.File("bd/Profile.dbf")));
  for (int k = 0; k < kRegisters; ++k) EXPECT_EQ(Has(profiles, FleetSerial(k)), k != 5) << k;

  // Applied again: nothing differs, nothing is written, the CSV report says so.
  sims[5]->ModifyState([](sim::RegisterState& s) { s.serialNumber = FleetSerial(5); });
  const RunResult again =
      Run({"fleet", "fleet.ini", "config", "apply", "edit.conf", "--report", "report.csv"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(SettingsWrites(sims[0]->State()), 2);
  EXPECT_EQ(SettingsWrites(sims[5]->State()), 2);
  const std::string csv = Cp1251ToUtf8(test::ReadAll(dir.File("report.csv")));
  EXPECT_TRUE(Has(csv, "shop 0;220;" + FleetSerial(0) + ";" + FleetSerial(0) + ";готово;0;")) << csv;
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + kRegisters) << csv;
}

TEST_F(Fleet, ARegisterThatDiesMidRunFailsWhileTheOthersSucceed) {
  Start(true);
  test::WriteAll(dir.File("big.conf"), kBigEdit);
  test::CtlProcess fleet(dir.Path(), {"fleet", "fleet.ini", "config", "apply", "big.conf", "--no-backup",
                                      "--report", "report.json"});
  ASSERT_TRUE(fleet.Started());
  // Register 3 goes away once it has taken its first write.
  std::thread killer([&] {
    if (test::WaitForFleet([&] { return SettingsWrites(sims[3]->State()) > 0; })) sims[3]->Close();
  });
  const RunResult r = fleet.Wait(std::chrono::minutes(5));
  killer.join();
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 1) << r.err;
  const std::string report = test::ReadAll(dir.File("report.json"));
  EXPECT_TRUE(Has(report, "\"name\": \"shop 3\", \"port\": 223, \"serial\": \"" + FleetSerial(3) +
                              "\", \"expected_serial\": \"" + FleetSerial(3) + "\", \"result\": \"ошибка\""))
      << report;
  for (int k = 0; k < kRegisters; ++k) {
    if (k == 3) continue;
    EXPECT_EQ(SettingsWrites(sims[static_cast<std::size_t>(k)]->State()), kBigEditWrites) << k;
    EXPECT_TRUE(Has(report, "\"name\": \"shop " + std::to_string(k) + "\"")) << k;
  }
  std::size_t done = 0;
  for (std::size_t at = 0; (at = report.find("\"ok\": true", at)) != std::string::npos; ++at) ++done;
  EXPECT_EQ(done, 7u) << report;
}

TEST_F(Fleet, CtrlCStopsEveryWorkerAtItsNextRecord) {
  Start(true);
  // Ctrl-C once every register is writing.
  bool sent = false;
  const RunResult r = ApplyInterrupted(
      {},
      [&] {
        return std::all_of(sims.begin(), sims.end(),
                           [](const auto& s) { return SettingsWrites(s->State()) > 0; });
      },
      sent);
  ASSERT_TRUE(sent) << r.err;
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 130) << r.err;
  const std::string report = test::ReadAll(dir.File("report.json"));
  EXPECT_FALSE(Has(report, "\"result\": \"ошибка\"")) << report;
  int stopped = 0;
  for (int k = 0; k < kRegisters; ++k) {
    const int writes = SettingsWrites(sims[static_cast<std::size_t>(k)]->State());
    EXPECT_GT(writes, 0) << k;
    EXPECT_LE(writes, kBigEditWrites) << k;
    stopped += writes < kBigEditWrites ? 1 : 0;
  }
  EXPECT_GT(stopped, 0);
  std::size_t reportedStopped = 0;
  for (std::size_t at = 0; (at = report.find("\"result\": \"остановлен\"", at)) != std::string::npos; ++at)
    ++reportedStopped;
  EXPECT_EQ(reportedStopped, static_cast<std::size_t>(stopped)) << report;
  // The registers are left usable: each answers a new command.
  const RunResult info = Run({"fleet", "fleet.ini", "info"});
  EXPECT_EQ(info.status, 0) << info.err;
}

// With a job limit, Ctrl-C also keeps the registers still waiting from
// being started: they are reported so and never hear a command.
TEST_F(Fleet, CtrlCLeavesTheRegistersNotYetStartedAlone) {
  Start(true);
  bool sent = false;
  const RunResult r = ApplyInterrupted(
      {"--jobs", "2"},
      [&] {
        return std::any_of(sims.begin(), sims.end(),
                           [](const auto& s) { return SettingsWrites(s->State()) > 0; });
      },
      sent);
  ASSERT_TRUE(sent) << r.err;
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 130) << r.err;
  const std::string report = test::ReadAll(dir.File("report.json"));
  int untouched = 0;
  for (int k = 0; k < kRegisters; ++k) {
    const std::size_t at = report.find("\"name\": \"shop " + std::to_string(k) + "\"");
    ASSERT_NE(at, std::string::npos) << report;
    const std::string entry = report.substr(at, report.find('\n', at) - at);
    const bool heard = !sims[static_cast<std::size_t>(k)]->State().commandsExecuted.empty();
    EXPECT_EQ(Has(entry, "\"result\": \"не запущен\""), !heard) << entry;
    untouched += heard ? 0 : 1;
  }
  // Two at a time: most were still waiting.
  EXPECT_GE(untouched, kRegisters - 4) << report;
}

TEST_F(Fleet, ReadsGoodsIntoFilesNamedBySerialNumberWithAJobLimit) {
  Start(false);
  const RunResult r = Run({"fleet", "fleet.ini", "goods", "read-all", "--out", "goods", "--jobs", "3"});
  EXPECT_EQ(r.status, 0) << r.err;
  for (int k = 0; k < kRegisters; ++k) {
    const std::string file = dir.File("goods/" + FleetSerial(k) + ".csv");
    ASSERT_TRUE(std::filesystem::exists(file)) << file << "\n" << r.err;
    EXPECT_TRUE(Has(Cp1251ToUtf8(test::ReadAll(file)), "Сыр весовой")) << file;
  }
  // Nothing else is left in the folder.
  int files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.File("goods"))) ++files;
  EXPECT_EQ(files, kRegisters);
  EXPECT_TRUE(Has(r.out, "Выполнено на 8 из 8 ККМ")) << r.out;
}

// The same goods file on every register: each holds the same goods after,
// and each kept its own register's goods in a backup named by its serial
// number.
TEST_F(Fleet, WritesTheSameGoodsToEveryRegisterEachWithItsOwnBackup) {
  std::vector<std::string> names;
  for (int k = 0; k < kRegisters; ++k) names.push_back("Магазин " + std::to_string(k));
  Start(false, names);
  // A fleet file in code page 1251, as ZarvikConfig.ini.
  test::WriteAll(dir.File("fleet.ini"), Utf8ToCp1251(test::ReadAll(dir.File("fleet.ini"))));
  for (int k = 0; k < kRegisters; ++k)
    sims[static_cast<std::size_t>(k)]->ModifyState(
        [k](sim::RegisterState& s) { s.goods[1].name = "Хлеб " + std::to_string(k); });
  test::WriteAll(dir.File("goods.csv"), Utf8ToCp1251("1;170;Хлеб ржаной;1;60;1;1;;False\r\n"
                                                     "3;170;Молоко;3;89.9;4;1;4607001234562;False\r\n"
                                                     "7;165;Доставка;2;150;2;1;;False\r\n"
                                                     "9;170;Сахар;1;75.5;1;2;;True\r\n"));
  const RunResult r = Run({"fleet", "fleet.ini", "goods", "write", "goods.csv", "--report", "report.csv"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Выполнено на 8 из 8 ККМ")) << r.out;
  for (const std::string& name : names) EXPECT_TRUE(Has(r.out, name)) << name << "\n" << r.out;
  const auto written = sims[0]->State().goods;
  ASSERT_EQ(written.size(), 5u);  // the two it had, three new
  EXPECT_EQ(written.at(1).name, "Хлеб ржаной");
  EXPECT_EQ(written.at(1).price, 6000u);
  EXPECT_EQ(written.at(1).sold, 87000u);  // the quantity sold stays
  EXPECT_EQ(written.at(2).name, "Сыр весовой");
  EXPECT_EQ(written.at(3).name, "Молоко");
  EXPECT_EQ(written.at(3).barcode, "4607001234562");
  EXPECT_EQ(written.at(7).name, "Доставка");
  EXPECT_EQ(written.at(9).price, 7550u);
  for (int k = 1; k < kRegisters; ++k)
    EXPECT_EQ(sims[static_cast<std::size_t>(k)]->State().goods, written) << k;
  const std::string csv = Cp1251ToUtf8(test::ReadAll(dir.File("report.csv")));
  EXPECT_EQ(test::Occurrences(csv, ";готово;0;"), kRegisters) << csv;
  EXPECT_TRUE(Has(csv, "записано 4 (новых 3), без изменений 0, пропущено с ошибками 0")) << csv;

  std::vector<std::string> backups;
  for (const auto& e : std::filesystem::directory_iterator(dir.File("bd/backup")))
    backups.push_back(e.path().filename().string());
  ASSERT_EQ(backups.size(), static_cast<std::size_t>(kRegisters));
  for (int k = 0; k < kRegisters; ++k) {
    const auto at = std::find_if(backups.begin(), backups.end(), [k](const std::string& name) {
      return name.rfind("goods_" + FleetSerial(k) + "_", 0) == 0;
    });
    ASSERT_NE(at, backups.end()) << k;
    TBD read;
    ASSERT_TRUE(ImportGoodsDbf(dir.File("bd/backup/" + *at), read.mtTOBAP, 100)) << *at;
    EXPECT_EQ(read.mtTOBAP.RecordCount(), 1) << *at;
    EXPECT_EQ(read.mtTOBAP.Text("Name"), "Хлеб " + std::to_string(k)) << *at;
  }
}

// A price list from a spreadsheet on every register: --sheet and --column
// reach every worker as they were given. The sheet without its bad cells: a
// bad cell refuses the write (ZarvikCtl.GoodsFromSpreadsheetsAndToAWorkbook).
TEST_F(Fleet, WritesGoodsOfASpreadsheetWithTheColumnsGivenOnce) {
  Start(false);
  const std::string make = "PYTHONIOENCODING=utf-8 /usr/bin/python3 '" + std::string(ZARVIK_SOURCE_DIR) +
                           "/tests/goods_sheets.py' make '" + dir.File("") + "' 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0) << make;
  const RunResult r = Run({"fleet", "fleet.ini", "goods", "write", "clean.ods", "--no-backup", "--sheet", "лист1",
                           "--column", "Code=E", "--column", "Price=цена продажи"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Выполнено на 8 из 8 ККМ")) << r.out;
  for (int k = 0; k < kRegisters; ++k) {
    const auto goods = sims[static_cast<std::size_t>(k)]->State().goods;
    ASSERT_EQ(goods.count(12), 1u) << k;
    EXPECT_EQ(goods.at(12).name, "Молоко 3,2%") << k;
    EXPECT_EQ(goods.at(12).barcode, "4607001234562") << k;
    EXPECT_EQ(goods.at(15).price, 4568u) << k;
    EXPECT_EQ(goods.at(14).price, 17980u) << k;
  }
}

// Each register's journal in a file named by its serial number, the same
// bytes as `journal read --out` of that register alone. The section names
// are Cyrillic of equal length ("Касса 1", "Склад 1"), which no file name
// made of them keeps apart.
TEST_F(Fleet, ReadsEachJournalIntoAFileNamedBySerialNumber) {
  std::vector<std::string> names;
  for (int k = 0; k < kRegisters; ++k)
    names.push_back((k % 2 == 0 ? "Касса " : "Склад ") + std::to_string(k / 2));
  Start(false, names);
  for (int k = 0; k < kRegisters; ++k) {
    sims[static_cast<std::size_t>(k)]->ModifyState([k](sim::RegisterState& s) {
      // Two receipts per register, its own sums and numbers.
      for (int n = 0; n < 2; ++n) {
        const auto price = static_cast<std::uint64_t>(1000 * (k + 1) + n);
        s.journal.push_back(sim::SumRecord(0xA1, 0, 1000, price, 1, 1));
        s.journal.push_back(sim::PaymentRecord(0, 0, price, price));
        s.journal.push_back(
            sim::CloseRecord(0, static_cast<std::uint64_t>(100 * k + n + 1), "31.12.25", "12:00", true, 1));
      }
    });
  }
  const RunResult r = Run({"fleet", "fleet.ini", "journal", "read", "--out", "journals", "--jobs", "5"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Выполнено на 8 из 8 ККМ")) << r.out;
  // The fleet file is UTF-8: the report names the registers as it does.
  for (const std::string& name : names) EXPECT_TRUE(Has(r.out, name)) << name << "\n" << r.out;
  // Each register read alone (all at once: each is its own line).
  std::vector<std::unique_ptr<test::CtlProcess>> alone;
  for (int k = 0; k < kRegisters; ++k)
    alone.push_back(std::make_unique<test::CtlProcess>(
        dir.Path(), std::vector<std::string>{"--port", std::to_string(kFirstPort + k), "journal", "read",
                                             "--out", "alone" + std::to_string(k) + ".txt"}));
  std::vector<std::string> texts;
  for (int k = 0; k < kRegisters; ++k) {
    const RunResult one = alone[static_cast<std::size_t>(k)]->Wait();
    ASSERT_EQ(one.status, 0) << one.err;
    const std::string expected = test::ReadAll(dir.File("alone" + std::to_string(k) + ".txt"));
    EXPECT_TRUE(Has(Cp1251ToUtf8(expected), std::to_string(100 * k + 2))) << expected;
    EXPECT_EQ(test::ReadAll(dir.File("journals/" + FleetSerial(k) + ".txt")), expected) << k;
    texts.push_back(expected);
  }
  // The registers' journals differ, so no file could stand for another's.
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(std::unique(texts.begin(), texts.end()), texts.end());
  int files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.File("journals"))) ++files;
  EXPECT_EQ(files, kRegisters);
}

// The workers share the log file (in a build tree the one beside the
// program, which other tests' runs append to as well): each line is one
// worker's whole line, marked with that worker's "[NAME] ", and what a line
// says of a serial number is that worker's own.
TEST_F(Fleet, EachWorkerMarksItsOwnLinesOfTheSharedLog) {
  // Names no other test gives its registers.
  std::vector<std::string> names;
  for (int k = 0; k < kRegisters; ++k) names.push_back("логкасса " + std::to_string(k));
  Start(false, names);
  const std::string logPath = std::filesystem::path(ZARVIK_CTL_EXE).replace_extension(".log").string();
  const std::size_t from = test::ReadAll(logPath).size();
  // Every exchange byte traced, from eight processes at once.
  test::WriteAll(dir.File("big.conf"), kBigEdit);
  const RunResult applied =
      Run({"fleet", "fleet.ini", "--depth", "mdhardware", "config", "apply", "big.conf"});
  EXPECT_EQ(applied.status, 0) << applied.err;
  // Then each register answers with another serial number than expected.
  for (int k = 0; k < kRegisters; ++k)
    sims[static_cast<std::size_t>(k)]->ModifyState(
        [k](sim::RegisterState& s) { s.serialNumber = "99999999999" + std::to_string(k); });
  const RunResult refused = Run({"fleet", "fleet.ini", "--depth", "mdhardware", "info"});
  EXPECT_EQ(refused.status, 1) << refused.err;

  const std::string log = Cp1251ToUtf8(test::ReadAll(logPath).substr(from));
  const std::regex marked(R"(^\d\d\.\d\d\.\d\d \d\d:\d\d:\d\d(\.\d+)? \[логкасса ([0-7])\] (.*)$)");
  const std::regex serial(R"(Серийный номер ККМ (\d+) вместо (\d+))");
  std::vector<int> lines(kRegisters, 0);
  std::vector<int> saved(kRegisters, 0);
  std::vector<int> refusals(kRegisters, 0);
  for (std::size_t at = 0; at < log.size();) {
    std::size_t end = log.find("\r\n", at);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(at, end - at);
    at = end + 2;
    if (!Has(line, "[логкасса ")) continue;  // another process's line
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, marked)) << line;
    const int k = std::stoi(m[2].str());
    const std::string text = m[3].str();
    EXPECT_FALSE(Has(text, "[логкасса ")) << line;
    ++lines[static_cast<std::size_t>(k)];
    if (Has(text, "Записаны настройки из файла big.conf")) ++saved[static_cast<std::size_t>(k)];
    std::smatch sm;
    if (std::regex_search(text, sm, serial)) {
      ++refusals[static_cast<std::size_t>(k)];
      EXPECT_EQ(sm[1].str(), "99999999999" + std::to_string(k)) << line;
      EXPECT_EQ(sm[2].str(), FleetSerial(k)) << line;
    }
  }
  for (int k = 0; k < kRegisters; ++k) {
    const auto i = static_cast<std::size_t>(k);
    EXPECT_GT(lines[i], 100) << k;  // the traces of its exchanges
    EXPECT_EQ(saved[i], 1) << k;
    EXPECT_EQ(refusals[i], 1) << k;
  }
}

TEST_F(Fleet, ATerminalShowsTheLiveTable) {
  Start(false);
  const RunResult r = test::RunCtl(dir.Path(), {"fleet", "fleet.ini", "info", "--jobs", "4"}, {}, true);
  EXPECT_EQ(r.status, 0) << r.err;
  // The table's header, redrawn in place, and every register's last state.
  EXPECT_TRUE(Has(r.err, "Касса")) << r.err;
  EXPECT_TRUE(Has(r.err, "\x1b[")) << r.err;
  for (int k = 0; k < kRegisters; ++k) EXPECT_TRUE(Has(r.err, "shop " + std::to_string(k))) << k;
  EXPECT_TRUE(Has(r.err, "готово")) << r.err;
  EXPECT_TRUE(Has(r.out, "Выполнено на 8 из 8 ККМ")) << r.out;
}

TEST_F(Fleet, BadFleetFilesAreRefusedBeforeAnythingStarts) {
  Start(false);
  struct Case {
    std::string fleet;
    std::vector<std::string> args;
    std::string part;
  };
  const std::vector<Case> cases = {
      {"[a]\nport=220\n[b]\nport=220\n", {"info"}, "[b] and [a] name the same device"},
      {"[a]\nport=220\n[b]\nport=221\n[A]\nport=222\n", {"info"}, "[A] is named twice"},
      {"[a]\nport=220\nPort=221\n", {"info"}, "[a] Port= is given twice"},
      {"[a]\nport=220\nspeed=1234\n", {"info"}, "speed=1234"},
      {"[a]\nprot=220\n", {"info"}, "unknown key"},
      {"[a]\nport=250\n", {"info"}, "has no device"},
      {"", {"info"}, "names no register"},
      {"[a]\nport=220\n", {"options", "set", "1=0"}, "fleet runs info"},
      {"[a]\nport=220\n", {"goods", "read-all"}, "needs --out DIR"},
      {"[a]\nport=220\n", {"info", "--report", "r.txt"}, ".csv or a .json"},
      {"[a]\nport=220\n", {"info", "--port", "220"}, "--port does not apply to fleet"},
      {"[a]\nport=220\n", {"info", "--sheet", "Лист1"}, "--sheet does not apply to fleet info"},
  };
  for (const Case& c : cases) {
    test::WriteAll(dir.File("bad.ini"), c.fleet);
    std::vector<std::string> args{"fleet", "bad.ini"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = Run(args);
    EXPECT_EQ(r.status, 2) << c.part;
    EXPECT_TRUE(Has(r.err, c.part)) << c.part << "\n" << r.err;
  }
  // Two ports mapped to the same device are one device.
  const std::string ini = test::ReadAll(dir.File("ZarvikConfig.ini"));
  const std::size_t from = ini.find("COM220=") + 7;
  const std::string device = ini.substr(from, ini.find('\r', from) - from);
  // So are two network addresses of one server port, whichever way they
  // speak to it (nothing listens there: the run is refused before a
  // connection).
  test::WriteAll(dir.File("ZarvikConfig.ini"),
                 ini + "COM240=" + device +
                     "\r\nCOM241=rfc2217://Shop-12:3001\r\nCOM242=tcp://"
                     "shop-12:3001\r\nCOM243=tcp://[::1]:3002\r\nCOM244=rfc2217://"
                     "[::1]:3002\r\nCOM245=tcp://shop-12:3002\r\n");
  for (const std::string pair :
       {"port=220\n[b]\nport=240", "port=241\n[b]\nport=242", "port=243\n[b]\nport=244"}) {
    test::WriteAll(dir.File("bad.ini"), "[a]\n" + pair + "\n");
    const RunResult r = Run({"fleet", "bad.ini", "info"});
    EXPECT_EQ(r.status, 2) << pair << "\n" << r.err;
    EXPECT_TRUE(Has(r.err, "[b] and [a] name the same device")) << pair << "\n" << r.err;
  }
  // Another port of the same server is another line (the run is refused
  // for its other fault only).
  test::WriteAll(dir.File("bad.ini"), "[a]\nport=241\n[b]\nport=245\n[c]\nprot=1\n");
  const RunResult other = Run({"fleet", "bad.ini", "info"});
  EXPECT_EQ(other.status, 2) << other.err;
  EXPECT_TRUE(Has(other.err, "[c] prot: unknown key")) << other.err;
  EXPECT_FALSE(Has(other.err, "same device")) << other.err;
  for (const auto& s : sims) EXPECT_TRUE(s->State().commandsExecuted.empty());
}

}  // namespace
}  // namespace zarvik

#endif  // ZARVIK_CTL_EXE
