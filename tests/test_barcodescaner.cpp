#include "port/Barcodescaner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "port/PortDevices.h"

namespace zarvik {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::MessageStateGuard;
using test::PtyPair;

constexpr int kScannerPort = 202;

std::vector<unsigned char> Bytes(std::string_view s) {
  return {s.begin(), s.end()};
}

class BarcodeScanerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    SetPortDevice(kScannerPort, pty.SlavePath());
    ASSERT_TRUE(scaner.SetPortNumber(kScannerPort));
    ASSERT_TRUE(scaner.Open());
  }
  void TearDown() override {
    scaner.Close();
    SetPortDevice(kScannerPort, "");
  }
  // Sends `bytes` as the scanner and waits until the port sees all of them.
  void Scan(std::string_view bytes) {
    const std::uint32_t before = scaner.InputQueueLength();
    ASSERT_TRUE(pty.Send(Bytes(bytes)));
    const auto deadline = Clock::now() + 20s;  // only a fault runs into it
    while (scaner.InputQueueLength() < before + bytes.size() && Clock::now() < deadline)
      std::this_thread::sleep_for(1ms);
    ASSERT_EQ(scaner.InputQueueLength(), before + bytes.size());
  }
  MessageStateGuard guard;
  PtyPair pty;
  TBarCodeScaner scaner;
};

TEST_F(BarcodeScanerTest, CodesWithTheirTerminators) {
  struct Case {
    const char* sent;
    std::vector<std::string> reads;  // what successive calls return
  };
  const Case cases[] = {
      // The LF of CR LF is skipped by the next call, which returns at once.
      {"4607001771012\r\n", {"4607001771012", "", ""}},
      {"123\x03", {"123", ""}},
      {"77\n", {"77", ""}},
      // Only digits are kept.
      {"46-07A00x1\r", {"4607001", ""}},
      // Terminators before the first digit are skipped.
      {"\r\n\x03"
       "55\r",
       {"55", ""}},
      // Two codes in the queue come one per call.
      {"1\r2\r", {"1", "2", ""}},
      // Nothing but noise: no code.
      {"ABC-\r\n", {""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent);
    Scan(c.sent);
    for (const std::string& want : c.reads) EXPECT_EQ(scaner.ReadBarcode(), want);
    EXPECT_EQ(scaner.InputQueueLength(), 0u);
  }
}

TEST_F(BarcodeScanerTest, CodeWithoutTerminatorEndsWhenTheLineFallsSilent) {
  scaner.readTotalTimeoutConstant = 1000;
  scaner.readTotalTimeoutMultiplier = 0;
  Scan("9876");
  const auto start = Clock::now();
  EXPECT_EQ(scaner.ReadBarcode(), "9876");
  // One read time-out ended it, not two: the margin is for a busy machine.
  const auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, 1000ms);
  EXPECT_LT(elapsed, 1900ms);
}

TEST_F(BarcodeScanerTest, NothingWaitingOrPortClosedGivesNoCodeAtOnce) {
  scaner.readTotalTimeoutConstant = 10000;  // a read that waited would take this long
  const auto start = Clock::now();
  EXPECT_EQ(scaner.ReadBarcode(), "");
  EXPECT_LT(Clock::now() - start, 5000ms);
  Scan("42\r");
  scaner.Close();
  EXPECT_EQ(scaner.ReadBarcode(), "");
}

TEST_F(BarcodeScanerTest, AnEndlessStreamIsReadInBoundedPieces) {
  const std::string digits(kBarcodeReadLimit + 10, '7');
  Scan(digits);
  EXPECT_EQ(scaner.ReadBarcode(), std::string(kBarcodeReadLimit, '7'));
  EXPECT_EQ(scaner.InputQueueLength(), 10u);
}

TEST(BarcodeScaner, DestroyingTheScanerClosesItsPort) {
  MessageStateGuard guard;
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  SetPortDevice(kScannerPort, pty.SlavePath());
  {
    TBarCodeScaner scaner;
    ASSERT_TRUE(scaner.SetPortNumber(kScannerPort));
    ASSERT_TRUE(scaner.Open());
  }
  // The port opens again (exclusively), so the first one was closed.
  TBarCodeScaner again;
  ASSERT_TRUE(again.SetPortNumber(kScannerPort));
  EXPECT_TRUE(again.Open());
  again.Close();
  SetPortDevice(kScannerPort, "");
}

}  // namespace
}  // namespace zarvik
