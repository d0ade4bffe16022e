// The simulator's own framing, BCD and fault-text code, without a device.
#include <gtest/gtest.h>

#include <algorithm>

#include "SimFaults.h"
#include "SimTestLine.h"
#include "SimWire.h"

namespace zarvik::sim {
namespace {

using simtest::Control;
using simtest::Frame;

TEST(SimWire, ControlPacketsAndFramesMatchTheLineVectors) {
  EXPECT_EQ(BuildControlPacket(0x01, 0xC5), (Bytes{0x7F, 0x02, 0x01, 0xC5, 0x3A}));
  EXPECT_EQ(BuildControlPacket(NetworkAddress(98), 0xC0), (Bytes{0x7F, 0x02, 0x98, 0xC0, 0xA8}));
  EXPECT_EQ(BuildDataFrame(Bytes{0x01, 0x7F, 0x02}), (Bytes{0x00, 0x01, 0x7F, 0x10, 0x02, 0x7F, 0x03, 0x7E}));
  EXPECT_EQ(BuildDataFrame(Bytes{}), (Bytes{0x00, 0x7F, 0x03, 0x00}));
  // The test side's own builder agrees with the same vectors.
  EXPECT_EQ(Control(0x01, 0xC5), (Bytes{0x7F, 0x02, 0x01, 0xC5, 0x3A}));
  EXPECT_EQ(Frame(Bytes{0x01, 0x7F, 0x02}), (Bytes{0x00, 0x01, 0x7F, 0x10, 0x02, 0x7F, 0x03, 0x7E}));
  EXPECT_EQ(Frame(Bytes{}), (Bytes{0x00, 0x7F, 0x03, 0x00}));
  EXPECT_EQ(NetworkAddress(12), 0x12);
  EXPECT_EQ(NetworkAddress(7), 0x07);
  EXPECT_EQ(NetworkAddress(0), 0);
  EXPECT_EQ(NetworkAddress(99), 0);
  // 300 bytes are cut to 256 on sending.
  const Bytes big(300, 0x41);
  EXPECT_EQ(BuildDataFrame(big).size(), 1U + 256U + 3U);
}

std::vector<FrameReceiver::Event> FeedAll(FrameReceiver& rx, const Bytes& bytes) {
  std::vector<FrameReceiver::Event> events;
  for (const auto b : bytes) {
    if (auto ev = rx.Feed(b)) events.push_back(*ev);
  }
  return events;
}

TEST(SimWire, ReceiverSortsPacketsAndFrames) {
  using K = FrameReceiver::EventKind;
  struct Case {
    const char* what;
    Bytes bytes;
    K kind;
    Bytes payload;
  };
  const Bytes header = Control(0x01, 0x80);
  const Case cases[] = {
      {"poll", Control(0x01, 0xC5), K::Control, {}},
      {"other address", Control(0x02, 0xC5), K::Ignored, {}},
      {"bad check byte", Bytes{0x7F, 0x02, 0x01, 0xC5, 0x3B}, K::Ignored, {}},
      {"stuffed 7F",
       simtest::Cat(header, Bytes{0x00, 0x41, 0x7F, 0x10, 0x7F, 0x03, 0x40}),
       K::Data,
       {0x41, 0x7F}},
      {"empty payload", simtest::Cat(header, Frame({})), K::Data, {}},
      {"bad escape", simtest::Cat(header, Bytes{0x00, 0x41, 0x7F, 0x05}), K::BadFrame, {}},
      {"check off by one",
       simtest::Cat(header, Bytes{0x00, 0x41, 0x7F, 0x10, 0x7F, 0x03, 0x41}),
       K::BadFrame,
       {}},
      {"noise before a packet",
       simtest::Cat(Bytes{0x55, 0x7F, 0x7F}, Bytes{0x02, 0x01, 0xC5, 0x3A}),
       K::Control,
       {}},
  };
  for (const auto& c : cases) {
    FrameReceiver rx(0x01);
    const auto events = FeedAll(rx, c.bytes);
    ASSERT_EQ(events.size(), 1U) << c.what;
    EXPECT_EQ(events[0].kind, c.kind) << c.what;
    EXPECT_EQ(events[0].payload, c.payload) << c.what;
    EXPECT_TRUE(rx.Idle()) << c.what;
  }
}

TEST(SimWire, ReceiverRefusesOverlongFramesAndRecoversFromNoise) {
  FrameReceiver rx(0x01);
  Bytes bytes = simtest::Cat(Control(0x01, 0x80), Bytes{0x00});
  bytes.insert(bytes.end(), 257, 0x41);
  auto events = FeedAll(rx, bytes);
  ASSERT_EQ(events.size(), 1U);
  EXPECT_EQ(events[0].kind, FrameReceiver::EventKind::BadFrame);
  // A broken escape 7F 02 starts a new packet at once.
  events = FeedAll(rx, simtest::Cat(Control(0x01, 0x81), Bytes{0x00, 0x41, 0x7F, 0x02, 0x01, 0xC5, 0x3A}));
  ASSERT_EQ(events.size(), 2U);
  EXPECT_EQ(events[0].kind, FrameReceiver::EventKind::BadFrame);
  EXPECT_EQ(events[1].kind, FrameReceiver::EventKind::Control);
  // Reset drops half a packet.
  FeedAll(rx, Bytes{0x7F, 0x02, 0x01});
  EXPECT_FALSE(rx.Idle());
  rx.Reset();
  EXPECT_TRUE(FeedAll(rx, Bytes{0xC5, 0x3A}).empty());
}

TEST(SimWire, BcdAndScaledNumbers) {
  std::uint8_t b[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  ASSERT_TRUE(PutBcd(b, 3, 12345));
  EXPECT_EQ(b[0], 0x45);
  EXPECT_EQ(b[1], 0x23);
  EXPECT_EQ(b[2], 0x01);
  EXPECT_FALSE(PutBcd(b, 2, 12345));  // too many digits: nothing written
  EXPECT_EQ(b[0], 0x45);
  EXPECT_EQ(GetBcd(b, 3), 12345U);
  const std::uint8_t bad[2] = {0x4A, 0x00};
  EXPECT_FALSE(GetBcd(bad, 2).has_value());
  EXPECT_EQ(BcdByte(18), 0x18);
  EXPECT_EQ(BcdValue(0x50), 50);
  EXPECT_EQ(BcdValue(0xA0), -1);

  struct Case {
    const char* text;
    int decimals;
    std::optional<std::uint64_t> value;
  };
  const Case cases[] = {{"45.50", 2, 4550},         {"45,5", 2, 4550},        {"7", 2, 700},
                        {"0.005", 2, std::nullopt}, {"1.250", 3, 1250},       {"", 2, std::nullopt},
                        {"1.2.3", 2, std::nullopt}, {"12a", 2, std::nullopt}, {".", 2, std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(ParseScaled(c.text, c.decimals), c.value) << c.text;
  EXPECT_EQ(FormatScaled(4550, 2), "45.50");
  EXPECT_EQ(FormatScaled(5, 3), "0.005");
}

TEST(SimWire, TextFieldsAreCp1251AndZeroPadded) {
  std::uint8_t f[6];
  PutText(f, 6, "Чай");
  EXPECT_EQ(f[0], 0xD7);
  EXPECT_EQ(f[3], 0x00);
  EXPECT_EQ(GetText(f, 6), "Чай");
  PutText(f, 2, "Чай");  // cut to the width
  EXPECT_EQ(GetText(f, 2), "Ча");
  EXPECT_EQ(ParseHexBytes("A1 01 ff"), (Bytes{0xA1, 0x01, 0xFF}));
  EXPECT_FALSE(ParseHexBytes("A1 0").has_value());
  EXPECT_FALSE(ParseHexBytes("G1").has_value());
}

TEST(SimFaults, SpecsParseAndPrintBack) {
  struct Case {
    const char* faultText;
    FaultKind kind;
    int param, result, count;
    int chance = kChanceScale;
    int command = -1;
  };
  const Case good[] = {
      {"crc", FaultKind::Crc, 1, 0, 1},
      {"ctlcrc*2", FaultKind::ControlCrc, 1, 0, 2},
      {"drop=3", FaultKind::Drop, 3, 0, 1},
      {"extra=2*4", FaultKind::Extra, 2, 0, 4},
      {"lose=2", FaultKind::Lose, 2, 0, 1},
      {"garble*4", FaultKind::Garble, 1, 0, 4},
      {"seq", FaultKind::Sequence, 1, 0, 1},
      {"wait=2", FaultKind::Wait, 2, 0, 1},
      {"busy*inf", FaultKind::Busy, 1, 0, kFaultForever},
      {"rej", FaultKind::Reject, 1, 0, 1},
      {"silence*6", FaultKind::Silence, 1, 0, 6},
      {"result=16:9*3", FaultKind::Result, 16, 9, 3},
      {"flood", FaultKind::Flood, kDefaultFlood, 0, 1},
      {"crc@2.5*inf", FaultKind::Crc, 1, 0, kFaultForever, 25000},
      {"wait=3@0.0625*7", FaultKind::Wait, 3, 0, 7, 625},
      {"silence@0", FaultKind::Silence, 1, 0, 1, 0},
      {"busy@100", FaultKind::Busy, 1, 0, 1, kChanceScale},
      {"result=16:9@50", FaultKind::Result, 16, 9, 1, 500000},
      {"wait=9:21*2", FaultKind::Wait, 9, 0, 2, kChanceScale, 21},
  };
  for (const auto& c : good) {
    Fault f;
    std::string err;
    ASSERT_TRUE(ParseFault(c.faultText, f, err)) << c.faultText << ": " << err;
    EXPECT_EQ(f, (Fault{c.kind, c.param, c.result, c.count, c.chance, c.command})) << c.faultText;
    Fault back;
    ASSERT_TRUE(ParseFault(FaultText(f), back, err)) << FaultText(f);
    EXPECT_EQ(back, f) << c.faultText;
  }
  for (const char* bad : {"", "crcx", "crc=2", "wait=0", "busy*0", "busy*x", "result=16", "result=a:b",
                          "result=300:1", "drop=-1", "wait=2*", "crc@", "crc@101",
                          "crc@100.5", "crc@-1", "crc@1.00001", "crc@1.", "crc@1.-5", "crc@x", "crc@2@3", "wait=2:", "wait=:7",
                          "wait=0:7", "wait=2:300", "drop=2:7"}) {
    Fault f;
    std::string err;
    EXPECT_FALSE(ParseFault(bad, f, err)) << bad;
    EXPECT_FALSE(err.empty()) << bad;
  }
}

TEST(SimFaults, CountedFaultsRunOutAndResultFaultsMatchTheirCommand) {
  FaultSet set;
  set.Add(Fault{FaultKind::Busy, 1, 0, 2});
  set.Add(Fault{FaultKind::Result, 16, 9, 1});
  EXPECT_NE(set.Fire(FaultKind::Busy), nullptr);
  EXPECT_NE(set.Fire(FaultKind::Busy), nullptr);
  EXPECT_EQ(set.Fire(FaultKind::Busy), nullptr);
  EXPECT_EQ(set.Fire(FaultKind::Result, 7), nullptr);
  const Fault* r = set.Fire(FaultKind::Result, 16);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->result, 9);
  EXPECT_TRUE(set.Armed().empty());
  EXPECT_EQ(set.Fired(FaultKind::Busy), 2);
  set.Add(Fault{FaultKind::Silence, 1, 0, kFaultForever});
  for (int i = 0; i < 100; ++i) EXPECT_NE(set.Fire(FaultKind::Silence), nullptr);
  EXPECT_EQ(set.Armed().size(), 1U);
}

// A fault with a chance fires at about that share of the places where it
// could, passes the others by without using up its count, and the same seed
// gives the same choices.
TEST(SimFaults, ChanceFaultsFireAtTheirRateAndFollowTheSeed) {
  const auto firings = [](std::uint64_t seed, int places) {
    FaultSet set;
    set.Seed(seed);
    set.Add(Fault{FaultKind::Crc, 1, 0, kFaultForever, 25 * kChancePerPercent});
    std::vector<bool> fired;
    for (int i = 0; i < places; ++i) fired.push_back(set.Fire(FaultKind::Crc) != nullptr);
    return fired;
  };
  const std::vector<bool> a = firings(7, 8000);
  const auto count = std::count(a.begin(), a.end(), true);
  EXPECT_GT(count, 1800);  // 2000 expected; the bounds are over 5 standard deviations away
  EXPECT_LT(count, 2200);
  EXPECT_EQ(firings(7, 8000), a);
  EXPECT_NE(firings(8, 8000), a);

  FaultSet set;
  set.Add(Fault{FaultKind::Busy, 1, 0, 3, 10 * kChancePerPercent});
  int places = 0;
  while (!set.Armed().empty() && places < 100000) {
    set.Fire(FaultKind::Busy);
    ++places;
  }
  EXPECT_EQ(set.Fired(FaultKind::Busy), 3);  // the count is of firings, not of places
  EXPECT_GT(places, 3);
  // Never and always.
  set.Add(Fault{FaultKind::Reject, 1, 0, kFaultForever, 0});
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(set.Fire(FaultKind::Reject), nullptr);
  // A wait for one command lets the others by.
  set.Add(Fault{FaultKind::Wait, 9, 0, 1, kChanceScale, 21});
  EXPECT_EQ(set.Fire(FaultKind::Wait, 7), nullptr);
  ASSERT_NE(set.Fire(FaultKind::Wait, 21), nullptr);
  // A fault passed by leaves the place to the next armed fault of its kind.
  set.Add(Fault{FaultKind::Wait, 2, 0, kFaultForever, 0});
  set.Add(Fault{FaultKind::Wait, 5, 0, 1});
  const Fault* w = set.Fire(FaultKind::Wait);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->param, 5);
}

}  // namespace
}  // namespace zarvik::sim
