#include "port/Comport.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "TestSupport.h"
#include "port/PortDevices.h"
#include "shell/IniFile.h"

namespace zarvik {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::MessageStateGuard;
using test::PtyPair;
using test::RecordingConsole;

constexpr int kTestPort = 200;
// How long a test waits for bytes that must come: only a fault runs into it,
// however busy the machine.
constexpr auto kEventWait = 20s;
// Far less than the long time-outs some tests set, far more than what a
// busy machine adds to a read that ends as it should.
constexpr auto kWellBeforeTheTimeOut = 5000ms;
constexpr std::uint32_t kLongTimeOut = 10000;

// The console's lines without their time ("hh:nn:ss "), one per line.
std::string Bodies(const RecordingConsole& console) {
  constexpr std::size_t kTimeLength = 9;
  std::string text;
  for (const auto& l : console.lines)
    text += (l.text.size() > kTimeLength ? l.text.substr(kTimeLength) : l.text) + "\n";
  return text;
}
constexpr int kMissingPort = 201;

class ComPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    SetPortDevice(kTestPort, pty.SlavePath());
    SetPortDevice(kMissingPort, "/nonexistent/ttyZARVIK");
    ASSERT_TRUE(port.SetPortNumber(kTestPort));
  }
  void TearDown() override {
    port.Close();
    SetPortDevice(kTestPort, "");
    SetPortDevice(kMissingPort, "");
  }
  std::vector<unsigned char> ReadMaster(std::size_t n) {
    std::vector<unsigned char> out;
    const auto deadline = Clock::now() + kEventWait;
    while (out.size() < n && Clock::now() < deadline) {
      unsigned char buf[256];
      const ssize_t r = ::read(pty.Master(), buf, std::min(sizeof buf, n - out.size()));
      if (r > 0) out.insert(out.end(), buf, buf + r);
    }
    return out;
  }
  MessageStateGuard guard;
  PtyPair pty;
  TComPort port;
};

TEST_F(ComPortTest, BytesRoundTripBothWays) {
  ASSERT_TRUE(port.Open());
  EXPECT_TRUE(port.IsOpen());
  const std::vector<unsigned char> in = {0x7F, 0x02, 0x01, 0xC5, 0x3A, 0x00, 0x11, 0x13};
  ASSERT_TRUE(pty.Send(in));
  std::uint8_t buf[8] = {};
  std::uint32_t count = 8;
  ASSERT_TRUE(port.Read(buf, count));
  EXPECT_EQ(count, 8u);
  EXPECT_EQ(std::vector<unsigned char>(buf, buf + 8), in);  // NUL, XON and XOFF pass as data

  const std::uint8_t out[] = {0x7F, 0x10, 0x0D, 0x0A, 0x03};
  count = 5;
  ASSERT_TRUE(port.Write(out, count));
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(ReadMaster(5), std::vector<unsigned char>(out, out + 5));  // no CR/LF translation
}

TEST_F(ComPortTest, ReadOfNothingGivesUpAfterTheTotalTimeOut) {
  RecordingConsole console;
  SetConsole(&console);
  ASSERT_TRUE(port.Open());
  std::uint8_t buf[5];
  std::uint32_t count = 5;
  const auto start = Clock::now();
  EXPECT_FALSE(port.Read(buf, count));
  const auto elapsed = Clock::now() - start;
  EXPECT_EQ(count, 0u);
  // 250 + 5 x 9 = 295 ms, once (a busy machine only adds to it).
  EXPECT_GE(elapsed, 290ms);
  EXPECT_LT(elapsed, 3000ms);
  EXPECT_TRUE(console.lines.empty());  // silent below mdHardWare
}

TEST_F(ComPortTest, InterByteGapEndsAShortRead) {
  ASSERT_TRUE(port.Open());
  port.readTotalTimeoutConstant = kLongTimeOut;
  std::thread sender([&] {
    std::this_thread::sleep_for(50ms);
    pty.Send({0x01, 0x02});
  });
  std::uint8_t buf[10];
  std::uint32_t count = 10;
  const auto start = Clock::now();
  EXPECT_FALSE(port.Read(buf, count));
  const auto elapsed = Clock::now() - start;
  sender.join();
  EXPECT_EQ(count, 2u);
  EXPECT_LT(elapsed, kWellBeforeTheTimeOut);  // the 6 ms gap, not the 10 s total, ended it
}

// The idle hook runs while a read waits, without changing when the read
// ends: a silent line still takes the whole time-out, a byte ends the wait
// at once, and a hook that closes the port ends the read as failed.
TEST_F(ComPortTest, IdleHookRunsDuringWaitsWithoutChangingTheTimeOuts) {
  ASSERT_TRUE(port.Open());
  int idle = 0;
  port.onIdle = [&] { ++idle; };
  std::uint8_t buf[5];
  std::uint32_t count = 5;
  auto start = Clock::now();
  EXPECT_FALSE(port.Read(buf, count));
  auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, 290ms);
  EXPECT_LT(elapsed, 3000ms);
  // 295 ms in slices of 20 ms; a busy machine may run fewer, never more.
  EXPECT_GE(idle, 2);
  EXPECT_LE(idle, 15);

  idle = 0;
  port.readTotalTimeoutConstant = kLongTimeOut;
  std::thread sender([&] {
    std::this_thread::sleep_for(100ms);
    pty.Send({0x01, 0x02, 0x03});
  });
  count = 3;
  start = Clock::now();
  EXPECT_TRUE(port.Read(buf, count));
  elapsed = Clock::now() - start;
  sender.join();
  EXPECT_EQ(count, 3u);
  EXPECT_GE(idle, 2);
  EXPECT_LT(elapsed, kWellBeforeTheTimeOut);

  port.onIdle = [&] { port.Close(); };
  count = 1;
  EXPECT_FALSE(port.Read(buf, count));
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(ComPortTest, HardwareTracesOnlyAtHardwareDepth) {
  RecordingConsole console;
  SetConsole(&console);
  ParseSwitches({"mdhardware"});
  ASSERT_TRUE(port.Open());
  ASSERT_TRUE(pty.Send({0x7F, 0x02, 0x01, 0xC5, 0x3A}));
  std::uint8_t buf[5];
  std::uint32_t count = 5;
  ASSERT_TRUE(port.Read(buf, count));
  const std::uint8_t out[] = {0x7F, 0x03};
  count = 2;
  ASSERT_TRUE(port.Write(out, count));
  count = 3;
  EXPECT_FALSE(port.Read(buf, count));
  const std::string text = Bodies(console);
  EXPECT_NE(text.find("\\\\.\\COM200 19200\n"), std::string::npos) << text;
  EXPECT_NE(text.find("init COM\n"), std::string::npos);
  EXPECT_NE(text.find("Config СОМ-port\n"), std::string::npos);
  EXPECT_NE(text.find("ReadFromCOM:7F 02 01 C5 3A\n"), std::string::npos) << text;
  EXPECT_NE(text.find("WriteToCOM:7F 03\n"), std::string::npos);
  EXPECT_NE(text.find("Error:no read from СОМ port(Length):"), std::string::npos);

  ResetSwitches();
  ParseSwitches({"mdsystem"});
  console.lines.clear();
  ASSERT_TRUE(pty.Send({0x7F, 0x02, 0x01, 0xC5, 0x3A}));
  count = 5;
  ASSERT_TRUE(port.Read(buf, count));
  EXPECT_EQ(console.AllText(), "");
}

TEST_F(ComPortTest, ByteTracesGoToAListenerThatAsksWithoutTouchingConsoleOrLog) {
  RecordingConsole console;
  SetConsole(&console);
  for (const TMessDepth listenerDepth : {mdFunctional, mdHardWare}) {
    std::vector<std::pair<TTraceKind, std::string>> heard;
    const int id = AddTraceListener(
        [&](const TTraceEvent& e) { heard.emplace_back(e.kind, std::string(e.text)); }, listenerDepth);
    ASSERT_TRUE(port.Open());
    ASSERT_TRUE(pty.Send({0x7F, 0x02, 0x01, 0xC5, 0x3A}));
    std::uint8_t buf[5];
    std::uint32_t count = 5;
    ASSERT_TRUE(port.Read(buf, count));
    const std::uint8_t out[] = {0x7F, 0x03};
    count = 2;
    ASSERT_TRUE(port.Write(out, count));
    count = 3;
    EXPECT_FALSE(port.Read(buf, count));
    port.Close();
    RemoveTraceListener(id);
    if (listenerDepth == mdFunctional) {
      EXPECT_TRUE(heard.empty());
      continue;
    }
    ASSERT_EQ(heard.size(), 6u);
    EXPECT_EQ(heard[0].second, "\\\\.\\COM200 19200");
    EXPECT_EQ(heard[3].second, "ReadFromCOM:7F 02 01 C5 3A");
    EXPECT_EQ(heard[4].second, "WriteToCOM:7F 03");
    EXPECT_EQ(heard[5].first, TTraceKind::Error);
    EXPECT_TRUE(heard[5].second.starts_with("no read from СОМ port(Length):")) << heard[5].second;
  }
  EXPECT_TRUE(console.lines.empty()) << console.AllText();
  EXPECT_EQ(guard.LogText(), "");
  EXPECT_EQ(LastErrorMessage, "");
}

TEST_F(ComPortTest, OpenOnAnOpenPortTracesAndKeepsIt) {
  RecordingConsole console;
  SetConsole(&console);
  ASSERT_TRUE(port.Open());
  ParseSwitches({"mdhardware"});
  EXPECT_TRUE(port.Open());
  EXPECT_TRUE(port.IsOpen());
  ASSERT_EQ(console.lines.size(), 1u);
  EXPECT_TRUE(console.lines[0].text.ends_with("\\\\.\\COM200 19200"));
}

TEST_F(ComPortTest, BusyWhenAnotherProcessHoldsTheDevice) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TComPort holder;
    holder.SetPortNumber(kTestPort);
    const char ok = holder.Open() ? '1' : '0';
    (void)!::write(ready[1], &ok, 1);
    ::pause();
    ::_exit(0);
  }
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, '1');
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(LastErrorMessage, "Selected СОМ-port busy!");
  EXPECT_NE(ListPorts().find("COM200  BUSY\r\n"), std::string::npos);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_TRUE(port.Open());  // free again once the holder is gone
}

TEST_F(ComPortTest, ListsExistingPortsAndSkipsMissingOnes) {
  const std::string list = ListPorts();
  EXPECT_NE(list.find("COM200\r\n"), std::string::npos) << list;
  EXPECT_EQ(list.find("COM201"), std::string::npos);
  EXPECT_FALSE(port.IsOpen());  // listing touches no port object
  ASSERT_TRUE(port.Open());
  EXPECT_NE(ListPorts().find("COM200  BUSY\r\n"), std::string::npos);
}

TEST_F(ComPortTest, MissingDeviceIsFileNotFound) {
  RecordingConsole console;
  test::RecordingHooks hooks;
  SetConsole(&console);
  SetUiHooks(&hooks);
  ASSERT_TRUE(port.SetPortNumber(kMissingPort));
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(LastErrorMessage, "Selected СОМ-port inaccessible!(file not found)");
  EXPECT_TRUE(hooks.boxes.empty());  // console and log only
  EXPECT_NE(console.AllText().find("Error:Selected СОМ-port inaccessible!(file not found)"),
            std::string::npos);
}

TEST_F(ComPortTest, NotATerminalFailsConfigurationWithABox) {
  test::RecordingHooks hooks;
  SetUiHooks(&hooks);
  const std::string file = guard.Dir().File("plain-file");
  test::WriteAll(file, "x");
  SetPortDevice(kMissingPort, file);
  ASSERT_TRUE(port.SetPortNumber(kMissingPort));
  EXPECT_FALSE(port.Open());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(LastErrorMessage, "Block dcb inaccessible!");
  ASSERT_EQ(hooks.boxes.size(), 1u);
  EXPECT_EQ(hooks.boxes[0].kind, BoxKind::Error);
}

// Before the system's message a line says which port and which device
// failed, and why.
TEST_F(ComPortTest, OpenFailuresNameThePortAndItsDevice) {
  RecordingConsole console;
  SetConsole(&console);
  const std::string file = guard.Dir().File("plain-file");
  test::WriteAll(file, "x");
  struct Case {
    int port;
    std::string device;  // "" leaves the port without a device
    std::string detail;
    std::string message;
  };
  const std::vector<Case> cases = {
      {100, "",
       "Error:COM100: no device stands for this port number (name one as COM100=/dev/... in the section "
       "\"Devices\" of ZarvikConfig.ini)",
       "Error:Selected СОМ-port inaccessible!(file not found)"},
      {kMissingPort, "/nonexistent/ttyZARVIK",
       "Error:COM201 (/nonexistent/ttyZARVIK): No such file or directory",
       "Error:Selected СОМ-port inaccessible!(file not found)"},
      {kMissingPort, file,
       "Error:COM201 (" + file + "): not a serial device (Inappropriate ioctl for device)",
       "Error:Block dcb inaccessible!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.detail);
    console.lines.clear();
    SetPortDevice(c.port, c.device);
    ASSERT_TRUE(port.SetPortNumber(c.port));
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(Bodies(console), c.detail + "\n" + c.message + "\n");
    EXPECT_EQ(LastErrorMessage, c.message.substr(6));
  }
  SetPortDevice(100, "");
}

TEST_F(ComPortTest, DeviceThatDisappearsWhileOpen) {
  ASSERT_TRUE(port.Open());
  port.readTotalTimeoutConstant = kLongTimeOut;
  pty.CloseMaster();
  std::uint8_t buf[5];
  std::uint32_t count = 5;
  const auto start = Clock::now();
  EXPECT_FALSE(port.Read(buf, count));
  EXPECT_LT(Clock::now() - start, kWellBeforeTheTimeOut);  // at once, not after the time-out
  const std::uint8_t out[] = {1, 2, 3};
  count = 3;
  EXPECT_FALSE(port.Write(out, count));
  EXPECT_TRUE(port.Close());
  EXPECT_FALSE(port.Close());
}

TEST_F(ComPortTest, ClosedPortReadsAndWritesNothing) {
  std::uint8_t buf[2] = {1, 2};
  std::uint32_t count = 2;
  EXPECT_FALSE(port.Read(buf, count));
  EXPECT_EQ(count, 0u);
  count = 2;
  EXPECT_FALSE(port.Write(buf, count));
  EXPECT_EQ(port.InputQueueLength(), 0u);
}

TEST_F(ComPortTest, InputQueueLength) {
  ASSERT_TRUE(port.Open());
  ASSERT_TRUE(pty.Send({'1', '2', '3', '\r'}));
  const auto deadline = Clock::now() + kEventWait;
  while (port.InputQueueLength() < 4 && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(port.InputQueueLength(), 4u);
}

// A read takes what has arrived ahead of what it was asked for; to every
// caller those bytes are still the input queue: counted, handed over in
// order and never twice, dropped by DiscardInput and by closing the port.
TEST_F(ComPortTest, BytesReadAheadStayTheInputQueue) {
  ASSERT_TRUE(port.Open());
  const auto arrived = [this](std::uint32_t n) {
    const auto deadline = Clock::now() + kEventWait;
    while (port.InputQueueLength() < n && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
    return port.InputQueueLength() == n;
  };
  const auto read = [this](std::uint32_t n) {
    std::vector<std::uint8_t> buf(n, 0xEE);
    std::uint32_t count = n;
    const bool ok = port.Read(buf.data(), count);
    buf.resize(count);
    return ok ? buf : std::vector<std::uint8_t>{};
  };
  ASSERT_TRUE(pty.Send({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  ASSERT_TRUE(arrived(10));
  EXPECT_EQ(read(1), std::vector<std::uint8_t>({0}));
  EXPECT_EQ(port.InputQueueLength(), 9u);
  EXPECT_EQ(read(3), std::vector<std::uint8_t>({1, 2, 3}));
  // More than is left: what is left, then the line's bytes as they come.
  ASSERT_TRUE(pty.Send({10, 11}));
  ASSERT_TRUE(arrived(8));
  EXPECT_EQ(read(8), std::vector<std::uint8_t>({4, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(port.InputQueueLength(), 0u);
  std::uint8_t b = 0;
  std::uint32_t count = 1;
  EXPECT_FALSE(port.Read(&b, count));  // nothing is handed over twice
  EXPECT_EQ(count, 0u);

  for (const bool close : {false, true}) {
    SCOPED_TRACE(close ? "closed and opened again" : "input discarded");
    ASSERT_TRUE(pty.Send({20, 21, 22, 23}));
    ASSERT_TRUE(arrived(4));
    EXPECT_EQ(read(1), std::vector<std::uint8_t>({20}));
    if (close) {
      ASSERT_TRUE(port.Close());
      EXPECT_EQ(port.InputQueueLength(), 0u);
      ASSERT_TRUE(port.Open());
    } else {
      port.DiscardInput();
    }
    EXPECT_EQ(port.InputQueueLength(), 0u);
    ASSERT_TRUE(pty.Send({30}));
    ASSERT_TRUE(arrived(1));
    EXPECT_EQ(read(1), std::vector<std::uint8_t>({30}));  // not a byte from before
  }
}

TEST_F(ComPortTest, BaudRateChangeClosesTheOpenPort) {
  ASSERT_TRUE(port.Open());
  EXPECT_FALSE(port.SetBaudRate(12345));
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.BaudRate(), 19200u);
  EXPECT_TRUE(port.SetBaudRate(19200));
  EXPECT_FALSE(port.IsOpen());
  for (std::uint32_t rate : {2400u, 14400u, 56000u, 128000u, 115200u}) {
    ASSERT_TRUE(port.SetBaudRate(rate));
    EXPECT_TRUE(port.Open()) << rate;  // every allowed rate configures
    EXPECT_EQ(port.BaudRate(), rate);
  }
}

TEST(ComPort, PortNumberRange) {
  TComPort port;
  EXPECT_EQ(port.PortNumber(), 0);
  EXPECT_FALSE(port.SetPortNumber(0));
  EXPECT_FALSE(port.SetPortNumber(257));
  EXPECT_FALSE(port.SetPortNumber(-1));
  EXPECT_EQ(port.PortNumber(), 0);
  EXPECT_TRUE(port.SetPortNumber(1));
  EXPECT_TRUE(port.SetPortNumber(256));
  EXPECT_EQ(port.PortNumber(), 256);
  for (std::uint32_t bad : {0u, 300u, 12345u, 19201u, 230400u}) EXPECT_FALSE(port.SetBaudRate(bad)) << bad;
}

TEST(ComPort, LoadSettingsRefusesBadValuesButReadsTheRest) {
  MessageStateGuard guard;
  const std::string ini = guard.Dir().File("ZarvikConfig.ini");
  test::WriteAll(
      ini,
      "[Port]\r\nCOMPort=3\r\nSpeed=300\r\nReadTotalTimeoutConstant=500\r\nReadIntervalTimeout=20\r\n"
      "[PortScan]\r\nCOMPort=999\r\nSpeed=9600\r\n");
  TComPort port;
  EXPECT_FALSE(port.LoadSettings(ini, "Port"));
  EXPECT_EQ(LastErrorMessage, "invalid speed");
  EXPECT_EQ(port.PortNumber(), 3);
  EXPECT_EQ(port.BaudRate(), 19200u);
  EXPECT_EQ(port.readTotalTimeoutConstant, 500u);
  EXPECT_EQ(port.readIntervalTimeout, 20u);
  EXPECT_EQ(port.readTotalTimeoutMultiplier, 9u);

  TComPort scan;
  EXPECT_FALSE(scan.LoadSettings(ini, "PortScan"));
  EXPECT_EQ(LastErrorMessage, "invalid COM port");
  EXPECT_EQ(scan.PortNumber(), 0);
  EXPECT_EQ(scan.BaudRate(), 9600u);

  TComPort none;
  EXPECT_TRUE(none.LoadSettings(guard.Dir().File("missing.ini"), "Port"));
  EXPECT_EQ(none.PortNumber(), 1);
  EXPECT_EQ(none.BaudRate(), 19200u);
}

// A hand-edited file must not freeze the program: time-outs outside what a
// serial line can need, or a read or write without any limit, are refused
// with the key, the value and what is used instead.
TEST(ComPort, LoadSettingsBoundsTheTimeOutsAndSaysWhatItUses) {
  MessageStateGuard guard;
  RecordingConsole console;
  SetConsole(&console);
  const std::string ini = guard.Dir().File("ZarvikConfig.ini");
  struct Case {
    std::string lines;  // of section [Port]
    std::uint32_t TComPort::*field;
    std::uint32_t expected;
    std::string message;  // after "<key>=<value> in <file> [Port]"; empty: none
  };
  const std::vector<Case> cases = {
      {"ReadTotalTimeoutConstant=-1", &TComPort::readTotalTimeoutConstant, 250,
       "ReadTotalTimeoutConstant=-1 in " + ini + " [Port] is not a time-out of 0..10000 ms; 250 is used"},
      {"ReadTotalTimeoutConstant=4294967295", &TComPort::readTotalTimeoutConstant, 250,
       "ReadTotalTimeoutConstant=4294967295 in " + ini +
           " [Port] is not a time-out of 0..10000 ms; 250 is used"},
      {"ReadTotalTimeoutConstant=10000", &TComPort::readTotalTimeoutConstant, 10000, ""},
      {"ReadTotalTimeoutConstant=10001", &TComPort::readTotalTimeoutConstant, 250,
       "ReadTotalTimeoutConstant=10001 in " + ini + " [Port] is not a time-out of 0..10000 ms; 250 is used"},
      {"ReadTotalTimeoutMultiplier=101", &TComPort::readTotalTimeoutMultiplier, 9,
       "ReadTotalTimeoutMultiplier=101 in " + ini +
           " [Port] is not a time-out of 0..100 ms per byte; 9 is used"},
      {"ReadIntervalTimeout=abc", &TComPort::readIntervalTimeout, 6,
       "ReadIntervalTimeout=abc in " + ini + " [Port] is not a time-out of 0..1000 ms; 6 is used"},
      {"ReadIntervalTimeout=0", &TComPort::readIntervalTimeout, 0, ""},
      {"WriteTotalTimeoutConstant=", &TComPort::writeTotalTimeoutConstant, 100,
       "WriteTotalTimeoutConstant= in " + ini + " [Port] is not a time-out of 0..10000 ms; 100 is used"},
      {"WriteTotalTimeoutMultiplier=0", &TComPort::writeTotalTimeoutMultiplier, 0, ""},
      // No limit at all: the three zero read time-outs, and a write without
      // any.
      {"ReadTotalTimeoutConstant=0\r\nReadTotalTimeoutMultiplier=0\r\nReadIntervalTimeout=0",
       &TComPort::readTotalTimeoutConstant, 250,
       "ReadTotalTimeoutConstant=0 and ReadTotalTimeoutMultiplier=0 in " + ini +
           " [Port] would let a read from a silent register wait forever; 250 and 9 are used"},
      {"WriteTotalTimeoutConstant=0\r\nWriteTotalTimeoutMultiplier=0", &TComPort::writeTotalTimeoutMultiplier,
       15,
       "WriteTotalTimeoutConstant=0 and WriteTotalTimeoutMultiplier=0 in " + ini +
           " [Port] would let a write to a line that does not take the bytes wait forever; 100 and 15 are "
           "used"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    console.lines.clear();
    test::WriteAll(ini, "[Port]\r\nCOMPort=4\r\n" + c.lines + "\r\n");
    TComPort port;
    EXPECT_TRUE(port.LoadSettings(ini, "Port"));  // time-outs never refuse the settings
    EXPECT_EQ(port.*c.field, c.expected);
    EXPECT_EQ(port.PortNumber(), 4);
    if (c.message.empty()) {
      EXPECT_TRUE(console.lines.empty()) << console.AllText();
    } else {
      ASSERT_EQ(console.lines.size(), 1U) << console.AllText();
      EXPECT_NE(console.lines[0].text.find("Warning:" + c.message), std::string::npos)
          << console.lines[0].text;
    }
  }
}

TEST(ComPort, ZeroReadTimeOutsInTheFileStillEndAReadFromASilentLine) {
  MessageStateGuard guard;
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  SetPortDevice(kTestPort, pty.SlavePath());
  const std::string ini = guard.Dir().File("ZarvikConfig.ini");
  test::WriteAll(ini, "[Port]\r\nCOMPort=" + std::to_string(kTestPort) +
                          "\r\nReadTotalTimeoutConstant=0\r\nReadTotalTimeoutMultiplier=0\r\n"
                          "ReadIntervalTimeout=0\r\n");
  TComPort port;
  ASSERT_TRUE(port.LoadSettings(ini, "Port"));
  ASSERT_TRUE(port.Open());
  std::uint8_t buf[5];
  std::uint32_t count = 5;
  const auto start = Clock::now();
  EXPECT_FALSE(port.Read(buf, count));
  EXPECT_LT(Clock::now() - start, kWellBeforeTheTimeOut);  // 295 ms; without a time-out it would not end
  port.Close();
  SetPortDevice(kTestPort, "");
}

// Port number and speed keep the system's messages and say, just before
// them, which key and value of which file failed and what is used instead.
TEST(ComPort, LoadSettingsNamesTheFileKeyAndValueOfARefusedSetting) {
  MessageStateGuard guard;
  RecordingConsole console;
  SetConsole(&console);
  const std::string ini = guard.Dir().File("ZarvikConfig.ini");
  test::WriteAll(ini, "[Port]\r\nCOMPort=3\r\nSpeed=12345\r\n[PortScan]\r\nCOMPort=x1\r\nSpeed=fast\r\n");
  TComPort port;
  EXPECT_FALSE(port.LoadSettings(ini, "Port"));
  EXPECT_EQ(port.BaudRate(), 19200U);
  EXPECT_EQ(Bodies(console),
            "Error:Speed=12345 in " + ini +
                " [Port] is not one of 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000; "
                "19200 is used\nError:invalid speed\n");
  console.lines.clear();
  TComPort scan;
  EXPECT_FALSE(scan.LoadSettings(ini, "PortScan"));
  EXPECT_EQ(scan.PortNumber(), 0);
  EXPECT_EQ(LastErrorMessage, "invalid speed");
  const std::string text = Bodies(console);
  EXPECT_NE(text.find("Error:COMPort=x1 in " + ini +
                      " [PortScan] is not a port number 1..256; no port is chosen\n"
                      "Error:invalid COM port\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Error:Speed=fast in " + ini + " [PortScan]"), std::string::npos) << text;
}

// A settings file that cannot be read, or is not text at all, is reported
// once (not once per section), and the defaults are used.
TEST(ComPort, UnreadableSettingsFileIsReportedOnce) {
  MessageStateGuard guard;
  RecordingConsole console;
  SetConsole(&console);
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
    std::string problem;
  };
  const std::vector<Case> cases = {
      {"folder", [](const std::string& p) { std::filesystem::create_directory(p); }, "it is a folder"},
      {"random bytes",
       [](const std::string& p) {
         std::string bytes;
         for (int i = 0; i < 512; ++i) bytes.push_back(static_cast<char>((i * 73 + 11) % 256));
         test::WriteAll(p, bytes);
       },
       "it is not a text file (a control byte in line 1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    console.lines.clear();
    const std::string ini = guard.Dir().File(std::string(c.what) + ".ini");
    c.make(ini);
    TComPort port;
    TComPort scan;
    EXPECT_TRUE(port.LoadSettings(ini, "Port"));
    EXPECT_TRUE(scan.LoadSettings(ini, "PortScan"));
    EXPECT_EQ(port.PortNumber(), 1);
    EXPECT_EQ(port.BaudRate(), 19200U);
    EXPECT_EQ(port.readTotalTimeoutConstant, 250U);
    EXPECT_EQ(Bodies(console),
              "Warning:" + ini + ": " + c.problem + "; the default settings are used where it gives none\n");
  }
}

TEST(ComPort, SaveSettingsWritesSevenKeysInOrderRelativeToTheCurrentFolder) {
  MessageStateGuard guard;
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(guard.Dir().Path());
  TComPort port;
  port.SetPortNumber(7);
  port.SetBaudRate(115200);
  port.SaveSettings("ZarvikConfig.ini", "Port");
  std::filesystem::current_path(cwd);
  EXPECT_EQ(test::ReadAll(guard.Dir().File("ZarvikConfig.ini")),
            "[Port]\r\nCOMPort=7\r\nSpeed=115200\r\nReadTotalTimeoutConstant=250\r\n"
            "ReadTotalTimeoutMultiplier=9\r\nReadIntervalTimeout=6\r\nWriteTotalTimeoutConstant=100\r\n"
            "WriteTotalTimeoutMultiplier=15\r\n");
  TComPort back;
  EXPECT_TRUE(back.LoadSettings(guard.Dir().File("ZarvikConfig.ini"), "port"));
  EXPECT_EQ(back.PortNumber(), 7);
  EXPECT_EQ(back.BaudRate(), 115200u);
}

TEST(PortDevices, DefaultsAndTheDevicesSection) {
  MessageStateGuard guard;
  EXPECT_EQ(DefaultPortDevice(1), "/dev/ttyS0");
  EXPECT_EQ(DefaultPortDevice(32), "/dev/ttyS31");
  EXPECT_EQ(DefaultPortDevice(33), "/dev/ttyUSB0");
  EXPECT_EQ(DefaultPortDevice(49), "/dev/ttyACM0");
  EXPECT_EQ(DefaultPortDevice(64), "/dev/ttyACM15");
  EXPECT_EQ(DefaultPortDevice(65), "");
  EXPECT_EQ(DefaultPortDevice(0), "");

  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(guard.Dir().Path());
  test::WriteAll("ZarvikConfig.ini", "[devices]\r\ncom5=/dev/serial/by-id/usb-x\r\nCOM100=/dev/pts/9\r\n");
  EXPECT_EQ(PortDevicePath(5), "/dev/serial/by-id/usb-x");
  EXPECT_EQ(PortDevicePath(100), "/dev/pts/9");
  EXPECT_EQ(PortDevicePath(6), "/dev/ttyS5");
  EXPECT_EQ(PortDevicePath(257), "");
  const auto table = PortDeviceTable();
  EXPECT_EQ(table[5], "/dev/serial/by-id/usb-x");
  EXPECT_EQ(table[34], "/dev/ttyUSB1");
  std::filesystem::current_path(cwd);
}

}  // namespace
}  // namespace zarvik
