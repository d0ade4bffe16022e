// Ports on the network: a real ser2net in front of the simulator on
// loopback, reached as rfc2217:// and tcp:// through the same port, link
// protocol and zarvikctl as a local line; refusals, losses and latency.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "CtlProcess.h"
#include "NetTestSupport.h"
#include "Simulator.h"
#include "TestSupport.h"
#include "port/Comport.h"
#include "port/NetLine.h"
#include "port/PortDevices.h"
#include "port/PortTable.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"

namespace zarvik {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using nettest::DelayProxy;
using nettest::FreeLoopbackPort;
using nettest::Ser2net;

constexpr int kLocalPort = 230;
constexpr int kRfcPort = 231;
constexpr int kTcpPort = 232;
constexpr int kOtherPort = 233;

sim::RegisterState Shop(int goods) {
  sim::RegisterState s;
  s.serialNumber = "000555000111";
  s.options.assign(40, 0);
  for (std::size_t i = 0; i < s.options.size(); ++i) s.options[i] = static_cast<std::uint8_t>(i % 5);
  s.maxCountDepat = 4;
  s.departments[0] = {sim::kDepGoods, "Бакалея", 1, 150000};
  s.departments[1] = {sim::kDepService, "Доставка", 2, 0};
  s.departments[2] = {sim::kDepClosed, "", 0, 0};
  s.departments[3] = {sim::kDepGoods, "Молочные продукты", 3, 99999};
  // The taxes its goods use (tax groups 1 and 2).
  s.taxes[0] = {sim::kInUse, 1, 2000, "НДС 20%"};
  s.taxes[1] = {sim::kInUse, 1, 1000, "НДС 10%"};
  s.goodsCapacity = 4000;
  for (int code = 1; code <= goods; ++code) s.goods[code] = sim::GeneratedGoods(code, s);
  s.journal.push_back(sim::SumRecord(0xA1, 0, 1000, 4550, 1, 1));
  s.journal.push_back(sim::CodeRecord(0xA3, 0, 12, 2000, 5990, 1, 1));
  s.journal.push_back(sim::PaymentRecord(0, 0, 16530, 20000));
  s.journal.push_back(sim::CloseRecord(0, 1, "31.12.25", "12:00", true, 1));
  return s;
}

std::string Bodies(const test::RecordingConsole& console) {
  std::string text;
  for (const auto& l : console.lines) text += l.text + "\n";
  return text;
}

// zarvikctl's output without the lines that differ between any two runs or
// ports (the register's clock, the port's name).
std::string WithoutClockAndPort(const std::string& text) {
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(at, end - at);
    if (line.rfind("Время:", 0) != 0 && line.rfind("Порт:", 0) != 0) out += line;
    at = end;
  }
  return out;
}

class NetworkPort : public ::testing::Test {
 protected:
  void SetUp() override { Serve(Shop(150)); }
  void TearDown() override {
    port.Close();
    server.reset();
    if (simulator) simulator->Close();
    for (const int n : {kLocalPort, kRfcPort, kTcpPort, kOtherPort}) {
      SetPortDevice(n, "");
      SetPortLatency(n, -1);
    }
    SetConsole(nullptr);
  }
  void Serve(sim::RegisterState state) {
    simulator = std::make_unique<sim::Simulator>(std::move(state));
    ASSERT_TRUE(simulator->OpenPty(slave)) << simulator->LastError();
    ASSERT_TRUE(simulator->Start());
    rfcPort = FreeLoopbackPort();
    tcpPort = FreeLoopbackPort();
    ASSERT_NE(rfcPort, 0);
    ASSERT_NE(tcpPort, rfcPort);
    server = std::make_unique<Ser2net>(dir.Path(), slave, rfcPort, tcpPort);
    ASSERT_TRUE(server->Start()) << "ser2net did not start";
    SetPortDevice(kLocalPort, slave);
    SetPortDevice(kRfcPort, server->Rfc2217());
    SetPortDevice(kTcpPort, server->RawTcp());
  }
  void WriteIni(int portNumber, int speed) {
    test::WriteAll(dir.File("ZarvikConfig.ini"),
                   "[Port]\r\nCOMPort=" + std::to_string(portNumber) + "\r\nSpeed=" + std::to_string(speed) +
                       "\r\n[NET]\r\nNUMBER=1\r\n[Backup]\r\nENABLED=0\r\n[Devices]\r\nCOM" +
                       std::to_string(kLocalPort) + "=" + slave + "\r\nCOM" + std::to_string(kRfcPort) + "=" +
                       server->Rfc2217() + "\r\nCOM" + std::to_string(kTcpPort) + "=" + server->RawTcp() +
                       "\r\n");
  }
  test::RunResult Ctl(int portNumber, std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", std::to_string(portNumber)});
    test::CtlProcess process(dir.Path(), args);
    return process.Wait(180s);
  }

  test::TempDir dir;
  std::string slave;
  int rfcPort = 0;
  int tcpPort = 0;
  std::unique_ptr<sim::Simulator> simulator;
  std::unique_ptr<Ser2net> server;
  TComPort port;
  TKKM kkm{&port};
  TProtocolKKM protocol{&kkm};
};

TEST(NetDevice, AddressesAreParsedStrictly) {
  struct Case {
    const char* text;
    bool ok;
    TNetMode mode;
    const char* hostPort;
    bool tls = false;
  };
  const Case cases[] = {
      {"rfc2217://shop12:3001", true, TNetMode::Rfc2217, "shop12:3001"},
      {"tcp://10.0.0.7:4001", true, TNetMode::RawTcp, "10.0.0.7:4001"},
      {"tcp://[::1]:4001", true, TNetMode::RawTcp, "[::1]:4001"},
      {"tcp://::1:4001", false, TNetMode::RawTcp, ""},
      {"rfc2217+tls://shop12.example:3001", true, TNetMode::Rfc2217, "shop12.example:3001", true},
      {"tcp+tls://[fd00::12]:3002", true, TNetMode::RawTcp, "[fd00::12]:3002", true},
      {"tcp+tls://shop12", false, TNetMode::RawTcp, ""},
      {"tls://shop12:3001", false, TNetMode::RawTcp, ""},
      {"rfc2217+ssl://shop12:3001", false, TNetMode::Rfc2217, ""},
      {"rfc2217://shop12", false, TNetMode::Rfc2217, ""},
      {"rfc2217://shop12:0", false, TNetMode::Rfc2217, ""},
      {"rfc2217://shop12:65536", false, TNetMode::Rfc2217, ""},
      {"rfc2217://:3001", false, TNetMode::Rfc2217, ""},
      {"rfc2217://shop,12:3001", false, TNetMode::Rfc2217, ""},
      {"udp://shop12:3001", false, TNetMode::RawTcp, ""},
      {"/dev/ttyS0", false, TNetMode::RawTcp, ""},
  };
  for (const Case& c : cases) {
    TNetAddress a;
    EXPECT_EQ(ParseNetDevice(c.text, a), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(a.mode, c.mode) << c.text;
    EXPECT_EQ(a.HostPort(), c.hostPort) << c.text;
    EXPECT_EQ(a.tls, c.tls) << c.text;
    EXPECT_EQ(IsSecureNetDevice(c.text), c.tls) << c.text;
    // The device text is given back as it was written.
    EXPECT_EQ(a.Device(), c.text) << c.text;
  }
}

// Everything zarvikctl reads gives the same bytes through ser2net in both
// modes as through the local pseudo-terminal.
TEST_F(NetworkPort, ZarvikctlGivesTheSameResultsOverTheNetwork) {
  WriteIni(kLocalPort, 19200);
  const std::vector<std::vector<std::string>> reads = {
      {"info"}, {"options", "get"}, {"goods", "read-all"}, {"journal", "read"}};
  std::vector<std::string> local;
  for (const auto& args : reads) {
    const test::RunResult r = Ctl(kLocalPort, args);
    ASSERT_EQ(r.status, 0) << args[0] << ": " << r.err;
    local.push_back(WithoutClockAndPort(r.out));
  }
  for (const int p : {kRfcPort, kTcpPort}) {
    for (std::size_t i = 0; i < reads.size(); ++i) {
      const test::RunResult r = Ctl(p, reads[i]);
      ASSERT_EQ(r.status, 0) << "COM" << p << " " << reads[i][0] << ": " << r.err;
      EXPECT_EQ(WithoutClockAndPort(r.out), local[i]) << "COM" << p << " " << reads[i][0];
    }
  }
}

// Settings and goods written through each mode are read back locally and
// through the other mode.
TEST_F(NetworkPort, WritesOverTheNetworkReadBackOnEveryLine) {
  WriteIni(kLocalPort, 19200);
  ASSERT_EQ(Ctl(kRfcPort, {"options", "set", "3=4"}).status, 0);
  ASSERT_EQ(Ctl(kTcpPort, {"options", "set", "5=1"}).status, 0);
  const sim::RegisterState after = simulator->State();
  EXPECT_EQ(after.options[2], 4);
  EXPECT_EQ(after.options[4], 1);
  EXPECT_EQ(Ctl(kLocalPort, {"options", "get"}).out, Ctl(kRfcPort, {"options", "get"}).out);
  ASSERT_EQ(Ctl(kLocalPort, {"goods", "read-all", "--out", "goods.csv"}).status, 0);
  simulator->ModifyState([](sim::RegisterState& s) { s.goods.clear(); });
  const test::RunResult written = Ctl(kRfcPort, {"goods", "write", "goods.csv"});
  ASSERT_EQ(written.status, 0) << written.err;
  // What was written reads back the same through every line (the write
  // itself keeps only what the register can print, as it does locally).
  EXPECT_EQ(simulator->State().goods.size(), 150u);
  const std::string back = Ctl(kLocalPort, {"goods", "read-all"}).out;
  EXPECT_EQ(Ctl(kTcpPort, {"goods", "read-all"}).out, back);
  EXPECT_EQ(Ctl(kRfcPort, {"goods", "read-all"}).out, back);
}

// The speed set on an RFC 2217 port reaches the server's line: a register
// that hears only 19200 answers through rfc2217:// at 19200, and not through
// tcp://, whose line the server keeps at 9600.
TEST_F(NetworkPort, SpeedIsSetOnTheServersLine) {
  simulator->SetPacing(19200, false);
  simulator->SetSpeedMatch(true);
  ASSERT_TRUE(port.SetPortNumber(kRfcPort));
  ASSERT_TRUE(port.SetBaudRate(19200));
  ASSERT_TRUE(protocol.GetInfo());
  EXPECT_EQ(simulator->WrongSpeedBytes(), 0u);
  port.Close();
  test::RecordingConsole console;
  SetConsole(&console);
  ASSERT_TRUE(port.SetPortNumber(kTcpPort));
  protocol.waits = kNoLinkWaits;
  EXPECT_FALSE(protocol.GetInfo());
  EXPECT_GT(simulator->WrongSpeedBytes(), 0u);
}

TEST_F(NetworkPort, RefusedAndUnresolvableAddressesNameDeviceAndCause) {
  const int closed = FreeLoopbackPort();
  struct Case {
    std::string device;
    std::string message;
  };
  const Case cases[] = {
      {"rfc2217://127.0.0.1:" + std::to_string(closed),
       "COM233: нет соединения с 127.0.0.1:" + std::to_string(closed) + ": connection refused"},
      {"tcp://127.0.0.1:" + std::to_string(closed),
       "COM233: нет соединения с 127.0.0.1:" + std::to_string(closed) + ": connection refused"},
      {"tcp://no-such-register.invalid:3001", "COM233: нет соединения с no-such-register.invalid:3001: "},
  };
  for (const Case& c : cases) {
    test::RecordingConsole console;
    SetConsole(&console);
    SetPortDevice(kOtherPort, c.device);
    TComPort other;
    ASSERT_TRUE(other.SetPortNumber(kOtherPort));
    const auto start = Clock::now();
    EXPECT_FALSE(other.Open()) << c.device;
    EXPECT_FALSE(other.IsOpen());
    EXPECT_LT(Clock::now() - start, 60s);
    EXPECT_NE(Bodies(console).find(c.message), std::string::npos) << Bodies(console);
    const TPortEntry entry = ProbePort(kOtherPort);
    EXPECT_EQ(entry.state, TPortState::Refused) << c.device;
    EXPECT_EQ(PortListItem(entry), "COM233  REFUSED");
    SetConsole(nullptr);
  }
}

TEST_F(NetworkPort, ASecondClientIsRefusedAsBusy) {
  for (const int p : {kRfcPort, kTcpPort}) {
    ASSERT_TRUE(port.SetPortNumber(p));
    ASSERT_TRUE(port.Open());
    EXPECT_EQ(ProbePort(p).state, TPortState::Busy) << p;
    test::RecordingConsole console;
    SetConsole(&console);
    SetPortDevice(kOtherPort, p == kRfcPort ? server->Rfc2217() : server->RawTcp());
    TComPort second;
    ASSERT_TRUE(second.SetPortNumber(kOtherPort));
    EXPECT_FALSE(second.Open()) << p;
    EXPECT_NE(Bodies(console).find("COM233: нет соединения с 127.0.0.1:"), std::string::npos) << Bodies(console);
    EXPECT_NE(Bodies(console).find("Selected СОМ-port busy!"), std::string::npos) << Bodies(console);
    SetConsole(nullptr);
    // The first client goes on undisturbed.
    EXPECT_TRUE(protocol.GetDepartment(1)) << p;
    port.Close();
  }
  // Once the line is free again it is listed as reachable.
  EXPECT_EQ(ProbePort(kRfcPort).state, TPortState::Free);
  EXPECT_EQ(PortStateText(ProbePort(kTcpPort)), "доступен по сети, без защиты");
}

// ser2net killed in the middle of a goods transfer: the transfer ends with
// a message naming the port and the cause, in bounded time; the next
// operation works once the server is back.
TEST_F(NetworkPort, ServerKilledMidTransferThenBack) {
  simulator->ModifyState([](sim::RegisterState& s) {
    for (int code = 151; code <= 1500; ++code) s.goods[code] = sim::GeneratedGoods(code, s);
  });
  test::RecordingConsole console;
  SetConsole(&console);
  ASSERT_TRUE(port.SetPortNumber(kRfcPort));
  protocol.waits = kNoLinkWaits;
  int frames = 0;
  const auto start = Clock::now();
  const bool ok = protocol.ReadAllGoods([&](TMessageBuffer&, bool&) {
    if (++frames == 20) server->Kill();
  });
  EXPECT_FALSE(ok);
  EXPECT_LT(frames, 1500);
  EXPECT_LT(Clock::now() - start, 120s);
  EXPECT_NE(Bodies(console).find("COM231: нет соединения с 127.0.0.1:" + std::to_string(rfcPort) + ": "),
            std::string::npos)
      << Bodies(console);
  // While it is down every attempt says so.
  EXPECT_FALSE(protocol.GetDepartment(1));
  EXPECT_NE(Bodies(console).find("connection refused"), std::string::npos) << Bodies(console);
  simulator->DropPendingAnswer();
  ASSERT_TRUE(server->Start());
  EXPECT_TRUE(protocol.GetDepartment(1));
  EXPECT_TRUE(protocol.GetInfo());
}

// Behind a round trip of 50 and 100 ms the transfers complete with the
// usual time-outs, widened by the measured round trip.
TEST_F(NetworkPort, TransfersCompleteBehindADelayingProxy) {
  // Every goods frame costs a round trip: a short table keeps the test quick.
  simulator->ModifyState([](sim::RegisterState& s) { s.goods.erase(s.goods.upper_bound(30), s.goods.end()); });
  for (const auto delay : {25ms, 50ms}) {
    DelayProxy proxy(rfcPort, delay);
    ASSERT_TRUE(proxy.Start());
    SetPortDevice(kOtherPort, "rfc2217://127.0.0.1:" + std::to_string(proxy.Port()));
    TComPort remote;
    ASSERT_TRUE(remote.SetPortNumber(kOtherPort));
    TKKM remoteKkm{&remote};
    TProtocolKKM remoteProtocol{&remoteKkm};
    ASSERT_TRUE(remote.Open());
    EXPECT_GE(remote.LatencyAllowance(), 2 * delay - 5ms);
    ASSERT_TRUE(remoteProtocol.GetInfo());
    int goods = 0;
    ASSERT_TRUE(remoteProtocol.ReadAllGoods([&](TMessageBuffer&, bool&) { ++goods; }));
    EXPECT_EQ(goods, 30);
    int frames = 0;
    ASSERT_TRUE(remoteProtocol.ReadJournal([&](TMessageBuffer&, bool&) { ++frames; }));
    EXPECT_GE(frames, 2);
    remote.Close();
  }
}

// `zarvikctl ports` lists the network ports with their address and state,
// and `zarvikctl find` searches them: an RFC 2217 port at the speeds of the
// search (the register hears only 38400 here), a raw one once.
TEST_F(NetworkPort, PortsAndFindCoverNetworkPorts) {
  WriteIni(kLocalPort, 9600);
  const test::RunResult ports = Ctl(kLocalPort, {"ports", "--all"});
  ASSERT_EQ(ports.status, 0) << ports.err;
  EXPECT_NE(ports.out.find(server->Rfc2217()), std::string::npos) << ports.out;
  EXPECT_NE(ports.out.find(server->RawTcp()), std::string::npos) << ports.out;
  EXPECT_NE(ports.out.find("доступен по сети"), std::string::npos) << ports.out;

  simulator->SetPacing(38400, false);
  simulator->SetSpeedMatch(true);
  const test::RunResult found = Ctl(kLocalPort, {"find", std::to_string(kRfcPort)});
  EXPECT_EQ(found.status, 0) << found.err;
  EXPECT_NE(found.out.find("ККМ найдена: COM231, 38400"), std::string::npos) << found.out << found.err;
  simulator->SetSpeedMatch(false);
  const test::RunResult raw = Ctl(kLocalPort, {"find", std::to_string(kTcpPort)});
  EXPECT_EQ(raw.status, 0) << raw.err;
  EXPECT_NE(raw.out.find("ККМ найдена: COM232"), std::string::npos) << raw.out << raw.err;
}

// A register that does not answer at all fails an exchange as on a local
// line, only later by the allowance: the attempts stay the same, the time
// stays bounded.
TEST_F(NetworkPort, ASilentRegisterFailsInBoundedTime) {
  ASSERT_TRUE(simulator->AddFault("silence*inf")) << simulator->LastError();
  SetPortLatency(kRfcPort, 100);
  struct Line {
    int port;
    std::chrono::milliseconds allowance;
  };
  for (const Line& line : {Line{kLocalPort, 0ms}, Line{kRfcPort, 100ms}}) {
    ASSERT_TRUE(port.SetPortNumber(line.port));
    ASSERT_TRUE(port.Open());
    EXPECT_EQ(port.LatencyAllowance(), line.allowance);
    const auto before = simulator->Stats().received.size();
    const auto start = Clock::now();
    EXPECT_FALSE(protocol.GetDepartment(1));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    const auto polls = simulator->Stats().received.size() - before;
    std::printf("silent register through COM%d (allowance %lld ms): failed after %lld ms, %zu packets\n",
                line.port, static_cast<long long>(line.allowance.count()), static_cast<long long>(took.count()),
                polls);
    EXPECT_LT(took, 120s);
    EXPECT_GE(took, 6 * line.allowance);
    port.Close();
  }
}

// A latency stated in the settings replaces the measured one.
TEST_F(NetworkPort, StatedLatencyIsUsed) {
  SetPortLatency(kTcpPort, 120);
  ASSERT_TRUE(port.SetPortNumber(kTcpPort));
  ASSERT_TRUE(port.Open());
  EXPECT_EQ(port.LatencyAllowance(), 120ms);
  EXPECT_TRUE(protocol.GetDepartment(1));
  port.Close();
  EXPECT_EQ(port.LatencyAllowance(), 0ms);
}

}  // namespace
}  // namespace zarvik
