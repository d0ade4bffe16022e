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
#include <string>
#include <thread>
#include <vector>

#include "CtlProcess.h"
#include "Scenario.h"
#include "Simulator.h"
#include "TestSupport.h"
#include "shell/TextCodec.h"

namespace zarvik {
namespace {

using namespace std::chrono_literals;
using test::RunResult;

constexpr int kRegisters = 8;
constexpr int kFirstPort = 220;
constexpr int kPacedBaud = 19200;
// Waits for something a running fleet must reach; generous for a busy,
// sanitized build.
constexpr auto kEventWait = 60s;

constexpr std::uint8_t kSetHeaderLine = 0x04;
constexpr std::uint8_t kSetFooterLine = 0x06;
constexpr std::uint8_t kSetDepartment = 0x08;
constexpr std::uint8_t kSetOptions = 0x0A;

std::string Shop(const std::string& serial) {
  return R"(
[Register]
Model=Зарвик-ТЕСТ
SerialNumber=)" +
         serial + R"(
Version=T 001
WorkMode=2
GoodsCapacity=100
Departments=4
OperatorCount=4
[Options]
Count=8
Values=1,0,2,0,1,1,0,0
[Departments]
1=Товар;Бакалея;A;100.00
2=Услуга;Доставка;B;0
3=Закрыто
4=Товар;Молоко;C;50.50
[Header]
1=1;ООО "Ромашка"
[Footer]
1=2;Спасибо!
[Goods]
1=Хлеб;52.90;1;1;4600605000011;piece;87.000;0
2=Сыр весовой;589.00;2;2;2100008000008;weight;12.345;0
)";
}

std::string Serial(int k) {
  return "00010000000" + std::to_string(k);
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

int Writes(const sim::RegisterState& s) {
  return static_cast<int>(
      std::count_if(s.commandsExecuted.begin(), s.commandsExecuted.end(), [](std::uint8_t c) {
        return c == kSetHeaderLine || c == kSetFooterLine || c == kSetDepartment || c == kSetOptions;
      }));
}

// Option 1, every department and all twelve receipt lines: 1 + 4 + 12
// writes, long enough at 19200 baud for a test to act in the middle.
constexpr const char* kBigEdit = R"([options]
1 = 0
[departments]
1.name = "Бакалея и чай"
2.name = "Доставка на дом"
3.status = goods
3.name = "Хлеб"
3.group = A
4.price = 60.00
[receipt]
header.1 = "ООО Ромашка-2"
header.2 = "г. Тверь"
header.3 = "ул. Мира, 1"
header.4 = "ИНН 6900000000"
header.5 = "тел. 55-55-55"
header.6 = "Добро пожаловать"
footer.1 = "Спасибо за покупку!"
footer.2 = "Ждём вас снова"
footer.3 = "www.example.ru"
footer.4 = "---"
footer.5 = "Касса 1"
footer.6 = "До свидания"
)";
constexpr int kBigEditWrites = 1 + 4 + 12;

class Fleet : public ::testing::Test {
 protected:
  // Registers 0..7 on ports 220..227; `paced` lines behave as 19200 baud.
  void Start(bool paced) {
    std::string devices;
    std::string fleet;
    for (int k = 0; k < kRegisters; ++k) {
      sim::Scenario scenario;
      std::string error;
      ASSERT_TRUE(sim::LoadScenarioText(Shop(Serial(k)), scenario, error)) << error;
      sims.push_back(std::make_unique<sim::Simulator>(scenario));
      if (paced) sims.back()->SetPacing(kPacedBaud, true);
      std::string slave;
      ASSERT_TRUE(sims.back()->OpenPty(slave)) << sims.back()->LastError();
      ASSERT_TRUE(sims.back()->Start());
      devices += "COM" + std::to_string(kFirstPort + k) + "=" + slave + "\r\n";
      fleet += "[shop " + std::to_string(k) + "]\r\nport=" + std::to_string(kFirstPort + k) +
               "\r\nspeed=19200\r\nserial=" + Serial(k) + "\r\n";
    }
    test::WriteAll(dir.File("ZarvikConfig.ini"), "[Devices]\r\n" + devices);
    test::WriteAll(dir.File("fleet.ini"), fleet);
  }
  void TearDown() override {
    for (auto& s : sims)
      if (s) s->Close();
  }
  RunResult Run(const std::vector<std::string>& args) {
    return test::RunCtl(dir.Path(), args, {}, false, {});
  }
  // Waits until `done` or kEventWait has passed.
  template <typename Pred>
  static bool WaitFor(Pred done) {
    const auto deadline = std::chrono::steady_clock::now() + kEventWait;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }

  test::TempDir dir;
  std::vector<std::unique_ptr<sim::Simulator>> sims;
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
      EXPECT_EQ(Writes(s), 0);
      EXPECT_EQ(s.departments[1].name, "Доставка");
    } else {
      EXPECT_EQ(Writes(s), 2) << k;
      EXPECT_EQ(s.departments[1].name, "Курьер") << k;
      EXPECT_EQ(s.options[0], 0) << k;
    }
  }
  const std::string report = test::ReadAll(dir.File("report.json"));
  EXPECT_EQ(std::count(report.begin(), report.end(), '{'), 1 + kRegisters) << report;
  EXPECT_TRUE(Has(
      report, "\"name\": \"shop 5\", \"port\": 225, \"serial\": \"999999999999\", \"expected_serial\": \"" +
                  Serial(5) + "\", \"result\": \"отказ\", \"ok\": false"))
      << report;
  EXPECT_TRUE(Has(report, "\"name\": \"shop 0\", \"port\": 220, \"serial\": \"" + Serial(0) +
                              "\", \"expected_serial\": \"" + Serial(0) +
                              "\", \"result\": \"готово\", \"ok\": true"))
      << report;
  std::size_t done = 0;
  for (std::size_t at = 0; (at = report.find("\"ok\": true", at)) != std::string::npos; ++at) ++done;
  EXPECT_EQ(done, 7u) << report;
  EXPECT_TRUE(Has(r.out, "Выполнено на 7 из 8 ККМ")) << r.out;
  // The backups of the seven registers written were all kept, one each.
  const std::string profiles = Cp1251ToUtf8(test::ReadAll(dir.File("bd/Profile.dbf")));
  for (int k = 0; k < kRegisters; ++k) EXPECT_EQ(Has(profiles, Serial(k)), k != 5) << k;

  // Applied again: nothing differs, nothing is written, the CSV report says so.
  sims[5]->ModifyState([](sim::RegisterState& s) { s.serialNumber = Serial(5); });
  const RunResult again =
      Run({"fleet", "fleet.ini", "config", "apply", "edit.conf", "--report", "report.csv"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(Writes(sims[0]->State()), 2);
  EXPECT_EQ(Writes(sims[5]->State()), 2);
  const std::string csv = Cp1251ToUtf8(test::ReadAll(dir.File("report.csv")));
  EXPECT_TRUE(Has(csv, "shop 0;220;" + Serial(0) + ";" + Serial(0) + ";готово;0;")) << csv;
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
    if (WaitFor([&] { return Writes(sims[3]->State()) > 0; })) sims[3]->Close();
  });
  const RunResult r = fleet.Wait(std::chrono::minutes(5));
  killer.join();
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 1) << r.err;
  const std::string report = test::ReadAll(dir.File("report.json"));
  EXPECT_TRUE(Has(report, "\"name\": \"shop 3\", \"port\": 223, \"serial\": \"" + Serial(3) +
                              "\", \"expected_serial\": \"" + Serial(3) + "\", \"result\": \"ошибка\""))
      << report;
  for (int k = 0; k < kRegisters; ++k) {
    if (k == 3) continue;
    EXPECT_EQ(Writes(sims[static_cast<std::size_t>(k)]->State()), kBigEditWrites) << k;
    EXPECT_TRUE(Has(report, "\"name\": \"shop " + std::to_string(k) + "\"")) << k;
  }
  std::size_t done = 0;
  for (std::size_t at = 0; (at = report.find("\"ok\": true", at)) != std::string::npos; ++at) ++done;
  EXPECT_EQ(done, 7u) << report;
}

TEST_F(Fleet, CtrlCStopsEveryWorkerAtItsNextRecord) {
  Start(true);
  test::WriteAll(dir.File("big.conf"), kBigEdit);
  test::CtlProcess fleet(dir.Path(), {"fleet", "fleet.ini", "config", "apply", "big.conf", "--no-backup",
                                      "--report", "report.json"});
  ASSERT_TRUE(fleet.Started());
  // Ctrl-C once every register is writing.
  std::atomic<bool> sent{false};
  std::thread interrupter([&] {
    if (WaitFor([&] {
          return std::all_of(sims.begin(), sims.end(), [](const auto& s) { return Writes(s->State()) > 0; });
        })) {
      fleet.Signal(SIGINT);
      sent = true;
    }
  });
  const RunResult r = fleet.Wait(std::chrono::minutes(5));
  interrupter.join();
  ASSERT_TRUE(sent.load()) << r.err;
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 130) << r.err;
  const std::string report = test::ReadAll(dir.File("report.json"));
  EXPECT_FALSE(Has(report, "\"result\": \"ошибка\"")) << report;
  int stopped = 0;
  for (int k = 0; k < kRegisters; ++k) {
    const int writes = Writes(sims[static_cast<std::size_t>(k)]->State());
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

TEST_F(Fleet, ReadsGoodsIntoFilesNamedBySerialNumberWithAJobLimit) {
  Start(false);
  const RunResult r = Run({"fleet", "fleet.ini", "goods", "read-all", "--out", "goods", "--jobs", "3"});
  EXPECT_EQ(r.status, 0) << r.err;
  for (int k = 0; k < kRegisters; ++k) {
    const std::string file = dir.File("goods/" + Serial(k) + ".csv");
    ASSERT_TRUE(std::filesystem::exists(file)) << file << "\n" << r.err;
    EXPECT_TRUE(Has(Cp1251ToUtf8(test::ReadAll(file)), "Сыр весовой")) << file;
  }
  // Nothing else is left in the folder.
  int files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.File("goods"))) ++files;
  EXPECT_EQ(files, kRegisters);
  EXPECT_TRUE(Has(r.out, "Выполнено на 8 из 8 ККМ")) << r.out;
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
      {"[a]\nport=220\nspeed=1234\n", {"info"}, "speed=1234"},
      {"[a]\nprot=220\n", {"info"}, "unknown key"},
      {"[a]\nport=250\n", {"info"}, "has no device"},
      {"", {"info"}, "names no register"},
      {"[a]\nport=220\n", {"options", "set", "1=0"}, "fleet runs info"},
      {"[a]\nport=220\n", {"goods", "read-all"}, "needs --out DIR"},
      {"[a]\nport=220\n", {"info", "--report", "r.txt"}, ".csv or a .json"},
      {"[a]\nport=220\n", {"info", "--port", "220"}, "--port does not apply to fleet"},
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
  test::WriteAll(dir.File("ZarvikConfig.ini"), ini + "COM240=" + device + "\r\n");
  test::WriteAll(dir.File("bad.ini"), "[a]\nport=220\n[b]\nport=240\n");
  const RunResult r = Run({"fleet", "bad.ini", "info"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(Has(r.err, "name the same device")) << r.err;
  for (const auto& s : sims) EXPECT_TRUE(s->State().commandsExecuted.empty());
}

}  // namespace
}  // namespace zarvik

#endif  // ZARVIK_CTL_EXE
