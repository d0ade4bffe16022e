// zarvikctl fleet over a shop whose registers stand partly behind ser2net on
// loopback (rfc2217:// and tcp://) and partly on pseudo-terminals: the same
// run reaches all of them, and a network register lost mid-run fails alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CtlProcess.h"
#include "CtlSimSupport.h"
#include "NetTestSupport.h"
#include "Simulator.h"
#include "TestSupport.h"
#include "shell/TextCodec.h"

namespace zarvik {
namespace {

using nettest::FreeLoopbackPort;
using nettest::Ser2net;
using test::FleetSerial;
using test::RunResult;
using test::SettingsWrites;

constexpr int kRegisters = 8;
constexpr int kFirstPort = 240;
// Registers 0..3 are behind a ser2net each, the even ones reached as
// rfc2217://, the odd ones as tcp://; 4..7 are on pseudo-terminals.
constexpr int kBehindSer2net = 4;
constexpr auto kFleetLimit = std::chrono::minutes(5);
constexpr int kSer2netAttempts = 3;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The report's entry of register k up to its result.
std::string ReportEntry(int k, const std::string& result) {
  return "\"name\": \"shop " + std::to_string(k) + "\", \"port\": " + std::to_string(kFirstPort + k) +
         ", \"serial\": \"" + FleetSerial(k) + "\", \"expected_serial\": \"" + FleetSerial(k) +
         "\", \"result\": \"" + result + "\"";
}

class NetworkFleet : public ::testing::Test {
 protected:
  void Start(bool paced) {
    shop.Start(kRegisters, paced);
    ASSERT_EQ(shop.Count(), kRegisters);
    std::vector<std::string> devices = shop.terminals;
    std::set<int> taken;
    // A free port is free only until someone binds it: one taken meanwhile
    // (by another test) makes ser2net fail, and the next pair is tried.
    const auto freePort = [&] {
      int port = FreeLoopbackPort();
      for (int tries = 0; (port == 0 || taken.count(port) != 0) && tries < 20; ++tries)
        port = FreeLoopbackPort();
      taken.insert(port);
      return port;
    };
    for (int k = 0; k < kBehindSer2net; ++k) {
      const std::string folder = dir.File("ser2net" + std::to_string(k));
      std::filesystem::create_directory(folder);
      bool started = false;
      for (int attempt = 0; attempt < kSer2netAttempts && !started; ++attempt) {
        const int rfcPort = freePort();
        const int tcpPort = freePort();
        servers.push_back(
            std::make_unique<Ser2net>(folder, shop.terminals[static_cast<std::size_t>(k)], rfcPort, tcpPort));
        started = servers.back()->Start();
        if (!started) servers.pop_back();
      }
      ASSERT_TRUE(started) << "ser2net " << k << " did not start";
      devices[static_cast<std::size_t>(k)] =
          k % 2 == 0 ? servers.back()->Rfc2217() : servers.back()->RawTcp();
    }
    test::WriteFleetFiles(dir, kFirstPort, devices, test::ShopNames(kRegisters));
  }
  void TearDown() override {
    servers.clear();
    shop.Close();
  }
  RunResult Fleet(const std::vector<std::string>& args) {
    std::vector<std::string> all{"fleet", "fleet.ini"};
    all.insert(all.end(), args.begin(), args.end());
    test::CtlProcess process(dir.Path(), all);
    return process.Wait(kFleetLimit);
  }

  test::TempDir dir;
  test::FleetShopSims shop;
  std::vector<std::unique_ptr<Ser2net>> servers;
};

TEST_F(NetworkFleet, ConfigApplyReachesRegistersBehindSer2netAndOnTerminals) {
  Start(false);
  test::WriteAll(dir.File("big.conf"), test::kBigEdit);
  const RunResult r = Fleet({"config", "apply", "big.conf", "--report", "report.json"});
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Выполнено на 8 из 8 ККМ")) << r.out;
  const std::string report = test::ReadAll(dir.File("report.json"));
  for (int k = 0; k < kRegisters; ++k) {
    const sim::RegisterState s = shop[k].State();
    EXPECT_EQ(SettingsWrites(s), test::kBigEditWrites) << k;
    EXPECT_EQ(s.departments[0].name, "Бакалея и чай") << k;
    EXPECT_EQ(s.header[5].text, "Добро пожаловать") << k;
    EXPECT_EQ(s.options[0], 0) << k;
    EXPECT_TRUE(Has(report, ReportEntry(k, "готово") + ", \"ok\": true")) << k << "\n" << report;
  }
  // Each register's backup was kept, whatever line it is on.
  const std::string profiles = Cp1251ToUtf8(test::ReadAll(dir.File("bd/Profile.dbf")));
  for (int k = 0; k < kRegisters; ++k) EXPECT_TRUE(Has(profiles, FleetSerial(k))) << k;

  // Read back over the same lines: nothing differs, a second apply writes
  // nothing.
  const RunResult diff = Fleet({"config", "diff", "big.conf", "--report", "diff.csv"});
  EXPECT_EQ(diff.status, 0) << diff.err;
  EXPECT_EQ(test::Occurrences(Cp1251ToUtf8(test::ReadAll(dir.File("diff.csv"))), ";готово;0;"), kRegisters);
  const RunResult again = Fleet({"config", "apply", "big.conf", "--no-backup"});
  EXPECT_EQ(again.status, 0) << again.err;
  for (int k = 0; k < kRegisters; ++k) EXPECT_EQ(SettingsWrites(shop[k].State()), test::kBigEditWrites) << k;
}

// Register 0's ser2net dies after the register's first write, and the
// simulator behind register 3's ser2net (a raw TCP line) goes away after its
// first write: both are reported failed in bounded time, the six others get
// every write.
TEST_F(NetworkFleet, ANetworkRegisterLostMidRunFailsWhileTheOthersSucceed) {
  Start(true);
  test::WriteAll(dir.File("big.conf"), test::kBigEdit);
  test::CtlProcess fleet(dir.Path(), {"fleet", "fleet.ini", "config", "apply", "big.conf", "--no-backup",
                                      "--report", "report.json"});
  ASSERT_TRUE(fleet.Started());
  std::thread serverKiller([&] {
    if (test::WaitForFleet([&] { return SettingsWrites(shop[0].State()) > 0; })) servers[0]->Kill();
  });
  std::thread simulatorKiller([&] {
    if (test::WaitForFleet([&] { return SettingsWrites(shop[3].State()) > 0; })) shop[3].Close();
  });
  const RunResult r = fleet.Wait(kFleetLimit);
  serverKiller.join();
  simulatorKiller.join();
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(Has(r.out, "Выполнено на 6 из 8 ККМ")) << r.out;
  const std::string report = test::ReadAll(dir.File("report.json"));
  for (const int k : {0, 3}) {
    EXPECT_TRUE(Has(report, ReportEntry(k, "ошибка") + ", \"ok\": false")) << k << "\n" << report;
    EXPECT_LT(SettingsWrites(shop[k].State()), test::kBigEditWrites) << k;
  }
  for (const int k : {1, 2, 4, 5, 6, 7}) {
    EXPECT_TRUE(Has(report, ReportEntry(k, "готово") + ", \"ok\": true")) << k << "\n" << report;
    EXPECT_EQ(SettingsWrites(shop[k].State()), test::kBigEditWrites) << k;
  }
  // The failure names the lost line.
  EXPECT_TRUE(Has(r.err, "shop 0: ошибка")) << r.err;
  EXPECT_TRUE(Has(r.err, "shop 3: ошибка")) << r.err;
}

}  // namespace
}  // namespace zarvik
