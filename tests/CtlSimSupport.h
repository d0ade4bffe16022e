// Register simulators for the tests that run zarvikctl: one on a
// pseudo-terminal with the settings that map a port number to it, or a shop
// of them for the fleet runs, each with its own serial number, the section
// "Devices" of ZarvikConfig.ini that maps port numbers to them and the fleet
// file that names them; the settings writes counted on the simulators and an
// edit long enough to act in the middle of.
#pragma once

#ifdef ZARVIK_CTL_EXE

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Scenario.h"
#include "Simulator.h"
#include "TestSupport.h"

namespace zarvik::test {

// Waits for something a running fleet must reach; generous for a busy,
// sanitized build.
inline constexpr std::chrono::seconds kFleetEventWait{60};
inline constexpr int kFleetPacedBaud = 19200;

// The register's settings write commands on the wire.
inline constexpr std::uint8_t kSetHeaderLine = 0x04;
inline constexpr std::uint8_t kSetFooterLine = 0x06;
inline constexpr std::uint8_t kSetDepartment = 0x08;
inline constexpr std::uint8_t kSetOptions = 0x0A;
inline constexpr std::uint8_t kSetOperatorName = 0x16;
inline constexpr std::uint8_t kSetPosition = 0x18;

// Starts a simulator of `scenarioText` on a new pseudo-terminal, paced as a
// line of `pacedBaud` unless 0; its terminal in `slave`. Failures are test
// failures (and leave `slave` empty).
inline std::unique_ptr<sim::Simulator> StartSimulator(const std::string& scenarioText, std::string& slave,
                                                      int pacedBaud = 0) {
  slave.clear();
  sim::Scenario scenario;
  std::string error;
  const bool loaded = sim::LoadScenarioText(scenarioText, scenario, error);
  EXPECT_TRUE(loaded) << error;
  auto simulator = std::make_unique<sim::Simulator>(scenario);
  if (pacedBaud > 0) simulator->SetPacing(pacedBaud, true);
  std::string path;
  const bool opened = loaded && simulator->OpenPty(path);
  EXPECT_TRUE(opened) << simulator->LastError();
  const bool started = opened && simulator->Start();
  EXPECT_TRUE(started) << simulator->LastError();
  if (started) slave = path;
  return simulator;
}

// ZarvikConfig.ini choosing port `port` at 19200 baud, with `sections`
// (whole sections, CR LF lines) and the device of the port in "Devices".
inline std::string CtlSettings(int port, const std::string& device, const std::string& sections = {}) {
  const std::string n = std::to_string(port);
  return "[Port]\r\nCOMPort=" + n + "\r\nSpeed=19200\r\n" + sections + "[Devices]\r\nCOM" + n + "=" + device +
         "\r\n";
}

// Register k's serial number.
inline std::string FleetSerial(int k) {
  return "00010000000" + std::to_string(k);
}

// A small shop: four departments, a receipt line each side, two goods.
inline std::string FleetShop(const std::string& serial) {
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
[Taxes]
1=НДС 18%;18.00;1
2=Без НДС;0;0
3=НДС 10%;10.00;1
[Header]
1=1;ООО "Ромашка"
[Footer]
1=2;Спасибо!
[Goods]
1=Хлеб;52.90;1;1;4600605000014;piece;87.000;0
2=Сыр весовой;589.00;2;2;2100008000008;weight;12.345;0
)";
}

// The settings writes (receipt lines, departments, options) a simulator has
// carried out.
inline int SettingsWrites(const sim::RegisterState& s) {
  return static_cast<int>(
      std::count_if(s.commandsExecuted.begin(), s.commandsExecuted.end(), [](std::uint8_t c) {
        return c == kSetHeaderLine || c == kSetFooterLine || c == kSetDepartment || c == kSetOptions;
      }));
}

// Option 1, every department and all twelve receipt lines: 1 + 4 + 12
// writes, long enough at 19200 baud for a test to act in the middle.
inline constexpr const char* kBigEdit = R"([options]
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
inline constexpr int kBigEditWrites = 1 + 4 + 12;

// Waits until `done` or kFleetEventWait has passed; whether `done` held.
template <typename Pred>
bool WaitForFleet(Pred done) {
  const auto deadline = std::chrono::steady_clock::now() + kFleetEventWait;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Simulators of FleetShop(FleetSerial(k)) on pseudo-terminals; closed when
// the shop goes.
class FleetShopSims {
 public:
  ~FleetShopSims() { Close(); }
  // Starts `count` simulators; `paced` ones behave as lines of
  // kFleetPacedBaud. Failures are test failures.
  void Start(int count, bool paced) {
    for (int k = 0; k < count; ++k) {
      std::string slave;
      sims.push_back(StartSimulator(FleetShop(FleetSerial(k)), slave, paced ? kFleetPacedBaud : 0));
      ASSERT_FALSE(slave.empty());
      terminals.push_back(slave);
    }
  }
  void Close() {
    for (auto& s : sims)
      if (s) s->Close();
  }
  sim::Simulator& operator[](int k) { return *sims[static_cast<std::size_t>(k)]; }
  int Count() const { return static_cast<int>(sims.size()); }

  std::vector<std::unique_ptr<sim::Simulator>> sims;
  std::vector<std::string> terminals;  // the pseudo-terminal of each
};

// Writes ZarvikConfig.ini with COM<firstPort + k>=devices[k] and fleet.ini
// with a section "[<names[k]>]" per device (port, speed 19200, the serial
// number FleetSerial(k)) into `dir`.
inline void WriteFleetFiles(const TempDir& dir, int firstPort, const std::vector<std::string>& devices,
                            const std::vector<std::string>& names) {
  std::string ini = "[Devices]\r\n";
  std::string fleet;
  for (std::size_t k = 0; k < devices.size(); ++k) {
    const std::string port = std::to_string(firstPort + static_cast<int>(k));
    ini += "COM" + port + "=" + devices[k] + "\r\n";
    fleet += "[" + names[k] + "]\r\nport=" + port +
             "\r\nspeed=19200\r\nserial=" + FleetSerial(static_cast<int>(k)) + "\r\n";
  }
  WriteAll(dir.File("ZarvikConfig.ini"), ini);
  WriteAll(dir.File("fleet.ini"), fleet);
}

// The names "shop 0" .. "shop N-1".
inline std::vector<std::string> ShopNames(int count) {
  std::vector<std::string> names;
  for (int k = 0; k < count; ++k) names.push_back("shop " + std::to_string(k));
  return names;
}

// How often `part` stands in `text`.
inline int Occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

}  // namespace zarvik::test

#endif  // ZARVIK_CTL_EXE
