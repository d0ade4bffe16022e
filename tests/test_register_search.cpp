// Finding the register over ports and speeds, against the simulator on a
// pseudo-terminal that answers only at its own line speed.
#include "protocol/RegisterSearch.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "Simulator.h"
#include "TestSupport.h"
#include "port/Comport.h"
#include "port/PortDevices.h"
#include "protocol/LinkFrames.h"

namespace zarvik {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kMissingPort = 221;
constexpr int kSilentPort = 222;
constexpr int kSimPort = 223;
constexpr std::uint32_t kSimSpeed = 19200;
// Short time-outs keep the silent polls quick; the simulator answers within
// a few milliseconds.
constexpr std::uint32_t kTestReadTimeout = 80;

sim::RegisterState SearchedRegister(int networkNumber = 1) {
  sim::RegisterState s;
  s.model = "Зарвик-02Ф";
  s.serialNumber = "000777000111";
  s.version = "B 003";
  s.networkNumber = static_cast<std::uint8_t>(networkNumber);
  return s;
}

// Everything the PC wrote to a line nobody serves.
std::vector<std::uint8_t> Drain(int master) {
  std::vector<std::uint8_t> bytes;
  std::uint8_t buf[256];
  for (;;) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) break;
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) break;
    bytes.insert(bytes.end(), buf, buf + n);
  }
  return bytes;
}

class RegisterSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(silent.Ok());
    timeouts.readTotalTimeoutConstant = kTestReadTimeout;
    SetPortDevice(kMissingPort, guard.Dir().File("no-such-tty"));
    SetPortDevice(kSilentPort, silent.SlavePath());
  }
  void TearDown() override {
    if (simulator) simulator->Close();
    for (const int p : {kMissingPort, kSilentPort, kSimPort}) SetPortDevice(p, "");
  }
  void StartSimulator(sim::RegisterState state, std::uint32_t speed) {
    simulator = std::make_unique<sim::Simulator>(std::move(state));
    std::string slave;
    ASSERT_TRUE(simulator->OpenPty(slave)) << simulator->LastError();
    simulator->SetPacing(static_cast<int>(speed), false);
    simulator->SetSpeedMatch(true);
    SetPortDevice(kSimPort, slave);
    ASSERT_TRUE(simulator->Start());
  }
  TSearchRequest Request(std::vector<int> ports, std::uint32_t configured = 9600, int net = 1) {
    TSearchRequest r;
    r.ports = std::move(ports);
    r.speeds = SearchSpeedOrder(configured);
    r.networkNumber = net;
    r.timeouts = &timeouts;
    return r;
  }

  test::MessageStateGuard guard;
  test::PtyPair silent;  // opens, nobody answers
  TComPort timeouts;
  std::unique_ptr<sim::Simulator> simulator;
};

TEST_F(RegisterSearchTest, FindsTheRegisterOnTheThirdPortAtTheSecondSpeed) {
  StartSimulator(SearchedRegister(), kSimSpeed);
  std::vector<TSearchAttempt> reported;
  const TSearchResult r =
      FindRegister(Request({kMissingPort, kSilentPort, kSimPort}, 9600),
                   {[&](const TSearchAttempt& a) { reported.push_back(a); }, [] { return false; }});
  ASSERT_TRUE(r.found) << SearchResultText(r);
  EXPECT_FALSE(r.stopped);
  EXPECT_EQ(r.port, kSimPort);
  EXPECT_EQ(r.speed, kSimSpeed);
  EXPECT_EQ(r.model, "Зарвик-02Ф");
  EXPECT_EQ(r.serialNumber, "000777000111");
  EXPECT_EQ(SearchResultText(r), "ККМ найдена: COM223, 19200");

  // What was tried, in order: the missing port skipped without a speed, the
  // silent one at all five speeds, the simulator at 9600 (heard as noise)
  // and at 19200.
  struct Expected {
    int port;
    std::uint32_t speed;
    TSearchOutcome outcome;
  };
  const std::vector<Expected> expected = {
      {kMissingPort, 0, TSearchOutcome::Skipped},     {kSilentPort, 9600, TSearchOutcome::NoAnswer},
      {kSilentPort, 19200, TSearchOutcome::NoAnswer}, {kSilentPort, 38400, TSearchOutcome::NoAnswer},
      {kSilentPort, 57600, TSearchOutcome::NoAnswer}, {kSilentPort, 115200, TSearchOutcome::NoAnswer},
      {kSimPort, 9600, TSearchOutcome::NoAnswer},     {kSimPort, 19200, TSearchOutcome::Found},
  };
  ASSERT_EQ(r.attempts.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(SearchAttemptText(r.attempts[i]));
    EXPECT_EQ(r.attempts[i].port, expected[i].port);
    EXPECT_EQ(r.attempts[i].speed, expected[i].speed);
    EXPECT_EQ(r.attempts[i].outcome, expected[i].outcome);
    EXPECT_EQ(r.attempts[i].total, 15);
  }
  EXPECT_EQ(r.attempts[0].done, 5);  // a skipped port counts all its speeds
  EXPECT_EQ(r.attempts.back().done, 12);
  EXPECT_NE(r.attempts[0].detail.find("MISSING"), std::string::npos);
  EXPECT_EQ(SearchAttemptText(r.attempts[1]), "COM222 (" + silent.SlavePath() + ") 9600: нет ответа");
  EXPECT_EQ(
      SearchAttemptText(r.attempts.back()),
      "COM223 (" + simulator->DevicePath() + ") 19200: ответила ККМ Зарвик-02Ф № 000777000111, версия B 003");
  // Each speed was announced before it was tried; the skipped port was not.
  std::size_t trying = 0;
  for (const TSearchAttempt& a : reported) trying += a.outcome == TSearchOutcome::Trying ? 1 : 0;
  EXPECT_EQ(trying, expected.size() - 1);
  EXPECT_EQ(reported.size(), expected.size() + trying);

  // One poll per speed on the silent line: five RDY packets and nothing else.
  const std::vector<std::uint8_t> written = Drain(silent.Master());
  std::vector<std::uint8_t> polls;
  const auto rdy = BuildControlPacket(NetworkAddress(1), kRDY);
  for (int i = 0; i < 5; ++i) polls.insert(polls.end(), rdy.begin(), rdy.end());
  EXPECT_EQ(written, polls);
  // The register heard the poll at 9600 only as noise.
  EXPECT_EQ(simulator->WrongSpeedBytes(), kControlPacketSize);
  EXPECT_EQ(simulator->State().commandsExecuted.front(), 0x01);  // GetInfo
  // The port is free again for the connection that follows.
  TComPort port;
  ASSERT_TRUE(port.SetPortNumber(kSimPort));
  EXPECT_TRUE(port.Open());
}

TEST_F(RegisterSearchTest, StopsWhenAskedWhileAPollWaits) {
  timeouts.readTotalTimeoutConstant = 3000;  // a poll that would wait long
  std::atomic<bool> stop{false};
  Clock::time_point asked{};
  std::vector<TSearchAttempt> reported;
  const auto start = Clock::now();
  const TSearchResult r = FindRegister(Request({kSilentPort, kSilentPort + 100}),
                                       {[&](const TSearchAttempt& a) {
                                          reported.push_back(a);
                                          if (a.outcome == TSearchOutcome::Trying && a.speed == 19200) {
                                            stop = true;
                                            asked = Clock::now();
                                          }
                                        },
                                        [&] { return stop.load(); }});
  const auto end = Clock::now();
  EXPECT_TRUE(r.stopped);
  EXPECT_FALSE(r.found);
  // The first speed was waited for in full, the second given up at once.
  ASSERT_EQ(r.attempts.size(), 2u);
  EXPECT_EQ(r.attempts[1].speed, 19200u);
  // Given up long before its 3 s were over, even on a busy machine.
  EXPECT_LT(end - asked, 1500ms);
  EXPECT_GE(end - start, 3000ms);
  EXPECT_EQ(SearchResultText(r).rfind("Поиск ККМ остановлен (", 0), 0u) << SearchResultText(r);
  // Asked before the first attempt, the search tries nothing.
  const TSearchResult none = FindRegister(Request({kSilentPort}), {nullptr, [] { return true; }});
  EXPECT_TRUE(none.stopped);
  EXPECT_TRUE(none.attempts.empty());
}

// What answers a poll but is not a register of this network number is not
// taken for one.
TEST_F(RegisterSearchTest, OnlyTheRegistersOwnAnswerCounts) {
  // A register with another network number stays silent to our address.
  StartSimulator(SearchedRegister(5), kSimSpeed);
  TSearchResult r = FindRegister(Request({kSimPort}, kSimSpeed, 1));
  EXPECT_FALSE(r.found);
  ASSERT_EQ(r.attempts.size(), 5u);
  for (const TSearchAttempt& a : r.attempts) EXPECT_EQ(a.outcome, TSearchOutcome::NoAnswer);
  EXPECT_EQ(SearchResultText(r).rfind("ККМ не найдена (5 попыток", 0), 0u) << SearchResultText(r);
  // With its number it is found at once.
  r = FindRegister(Request({kSimPort}, kSimSpeed, 5));
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.attempts.size(), 1u);

  // A line that echoes what it gets (a loop-back plug) hands the poll back
  // unchanged: the PC's own packet, not an answer.
  std::atomic<bool> echoing{true};
  std::thread echo([&] {
    std::uint8_t buf[64];
    while (echoing) {
      pollfd p{silent.Master(), POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      const ssize_t n = ::read(silent.Master(), buf, sizeof buf);
      if (n > 0) (void)!::write(silent.Master(), buf, static_cast<std::size_t>(n));
    }
  });
  TSearchRequest one = Request({kSilentPort});
  one.speeds = {9600};
  r = FindRegister(one);
  echoing = false;
  echo.join();
  ASSERT_EQ(r.attempts.size(), 1u);
  EXPECT_EQ(r.attempts[0].outcome, TSearchOutcome::NoAnswer);
  EXPECT_EQ(SearchAttemptText(r.attempts[0]),
            "COM222 (" + silent.SlavePath() + ") 9600: нет ответа (5 байт не от ККМ)");
}

// A device that goes away in the middle of the search costs no waiting: its
// port no longer opens, and its other speeds are not tried.
TEST_F(RegisterSearchTest, ADeviceThatGoesAwayIsLeftAtOnce) {
  StartSimulator(SearchedRegister(), kSimSpeed);
  const auto start = Clock::now();
  const TSearchResult r =
      FindRegister(Request({kSilentPort, kSimPort}, 9600),
                   {[&](const TSearchAttempt& a) {
                      if (a.port == kSilentPort && a.outcome == TSearchOutcome::Trying && a.speed == 19200)
                        silent.CloseMaster();
                    },
                    nullptr});
  ASSERT_TRUE(r.found) << SearchResultText(r);
  EXPECT_LT(Clock::now() - start, 10s);  // a hang; the attempts below tell what was tried
  ASSERT_EQ(r.attempts.size(), 4u);
  EXPECT_EQ(SearchAttemptText(r.attempts[0]), "COM222 (" + silent.SlavePath() + ") 9600: нет ответа");
  EXPECT_EQ(SearchAttemptText(r.attempts[1]),
            "COM222 (" + silent.SlavePath() + ") 19200: нет ответа (порт не открылся)");
  EXPECT_EQ(r.attempts[1].done, 5);
  EXPECT_EQ(r.attempts[2].port, kSimPort);
}

TEST_F(RegisterSearchTest, RequestsThatCannotRun) {
  struct Case {
    const char* what;
    std::vector<int> ports;
    std::vector<std::uint32_t> speeds;
    int net;
    const char* text;
  };
  const Case cases[] = {
      {"network number 0", {kSilentPort}, {9600}, 0, "Поиск ККМ невозможен: сетевой № 0 вне 1..98"},
      {"network number 99", {kSilentPort}, {9600}, 99, "Поиск ККМ невозможен: сетевой № 99 вне 1..98"},
      {"no ports", {}, {9600}, 1, "Поиск ККМ невозможен: нет портов для поиска"},
      {"ports out of range", {0, 257}, {9600}, 1, "Поиск ККМ невозможен: нет портов для поиска"},
      {"no speeds", {kSilentPort}, {}, 1, "Поиск ККМ невозможен: нет скоростей для поиска"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TSearchRequest r;
    r.ports = c.ports;
    r.speeds = c.speeds;
    r.networkNumber = c.net;
    const TSearchResult result = FindRegister(r);
    EXPECT_FALSE(result.found);
    EXPECT_TRUE(result.attempts.empty());
    EXPECT_EQ(SearchResultText(result), c.text);
  }
  EXPECT_TRUE(Drain(silent.Master()).empty());
}

TEST(RegisterSearch, SpeedOrderStartsWithTheConfiguredSpeed) {
  struct Case {
    std::uint32_t configured;
    std::vector<std::uint32_t> order;
  };
  const Case cases[] = {
      {9600, {9600, 19200, 38400, 57600, 115200}},
      {19200, {19200, 9600, 38400, 57600, 115200}},
      {115200, {115200, 9600, 19200, 38400, 57600}},
      {2400, {2400, 9600, 19200, 38400, 57600, 115200}},  // allowed, though not in the list
      {12345, {9600, 19200, 38400, 57600, 115200}},       // not a speed of the port
      {0, {9600, 19200, 38400, 57600, 115200}},
  };
  for (const Case& c : cases) EXPECT_EQ(SearchSpeedOrder(c.configured), c.order) << c.configured;
  const std::uint32_t doubled[] = {4800, 4800, 300, 9600};
  EXPECT_EQ(SearchSpeedOrder(9600, doubled), (std::vector<std::uint32_t>{9600, 4800}));
}

}  // namespace
}  // namespace zarvik
