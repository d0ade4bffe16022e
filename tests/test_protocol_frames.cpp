// Control packets and data frames byte by byte, through an in-memory line.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "protocol/U_protocolkkm.h"
#include "protocol_test_support.h"

namespace zarvik {
namespace {

using test::Bytes;

struct FramesFixture : ::testing::Test {
  FramesFixture() {
    protocol.SetLine(&line);
    protocol.waits = kLinkWaits;
    protocol.sleep = [this](std::chrono::milliseconds d) { slept.push_back(d); };
  }
  Bytes Written() const { return line.Written(); }
  TKKM kkm;
  TScriptedStream line;
  TProtocolKKM protocol{&kkm};
  std::vector<std::chrono::milliseconds> slept;
};

TEST_F(FramesFixture, ControlPacketsCarryBcdAddressAndCheckByte) {
  struct Case {
    int number;
    std::uint8_t control;
    Bytes bytes;
  };
  const Case cases[] = {
      {1, kRDY, {0x7F, 0x02, 0x01, 0xC5, 0x3A}},
      {98, kDISC, {0x7F, 0x02, 0x98, 0xC0, 0xA8}},
      {12, kACK | kContinuationBit, {0x7F, 0x02, 0x12, 0xDA, static_cast<std::uint8_t>(0u - 0x12u - 0xDAu)}},
      {7, 0x83, {0x7F, 0x02, 0x07, 0x83, static_cast<std::uint8_t>(0u - 0x07u - 0x83u)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    line.ClearWritten();
    kkm.networkNumber = static_cast<std::uint8_t>(c.number);
    EXPECT_EQ(protocol.SendControl(c.control), TLinkCode::Ok);
    EXPECT_EQ(Written(), c.bytes);
    EXPECT_EQ(protocol.lastSentControl, c.control);
  }
}

TEST_F(FramesFixture, NetworkNumberOutsideRangeWritesNothing) {
  for (int number : {0, 99, 200}) {
    kkm.networkNumber = static_cast<std::uint8_t>(number);
    EXPECT_EQ(protocol.SendControl(kRDY), TLinkCode::BadNetworkNumber) << number;
    EXPECT_EQ(protocol.lastSentControl, kRDY);
  }
  EXPECT_TRUE(Written().empty());
}

TEST_F(FramesFixture, DiscWaitsEvenWhenTheWriteFails) {
  EXPECT_EQ(protocol.SendControl(kDISC), TLinkCode::Ok);
  line.failWrites = true;
  EXPECT_EQ(protocol.SendControl(kDISC), TLinkCode::WriteFailed);
  EXPECT_EQ(protocol.SendControl(kRDY), TLinkCode::WriteFailed);
  EXPECT_EQ(slept, (std::vector<std::chrono::milliseconds>{kLinkWaits.afterDisc, kLinkWaits.afterDisc}));
}

TEST_F(FramesFixture, SendingOrReceivingSynOrRstClearsBothCounters) {
  for (std::uint8_t kind : {kSYN, kRST}) {
    kkm.rxSeq = 5;
    kkm.txSeq = 9;
    EXPECT_EQ(protocol.SendControl(kind), TLinkCode::Ok);
    EXPECT_EQ(kkm.rxSeq, 0);
    EXPECT_EQ(kkm.txSeq, 0);

    kkm.rxSeq = 3;
    kkm.txSeq = 4;
    line.Feed(test::RCtl(kind));
    std::uint8_t control = 0;
    EXPECT_EQ(protocol.ReceiveControl(control), TLinkCode::Ok);
    EXPECT_EQ(control, kind | kDirectionBit);
    EXPECT_EQ(protocol.lastReceivedControl, control);
    EXPECT_EQ(kkm.rxSeq, 0);
    EXPECT_EQ(kkm.txSeq, 0);
  }
  kkm.rxSeq = 3;
  line.Feed(test::RCtl(kACK));
  std::uint8_t control = 0;
  EXPECT_EQ(protocol.ReceiveControl(control), TLinkCode::Ok);
  EXPECT_EQ(kkm.rxSeq, 3);
}

// A protocol object not yet pointed at a register has no counters to clear:
// a resynchronisation packet reaching it is read without touching them.
TEST(FramesWithoutRegister, ResyncPacketIsReadWithoutCounters) {
  TScriptedStream line;
  TProtocolKKM protocol;
  protocol.SetLine(&line);
  protocol.waits = kNoLinkWaits;
  for (std::uint8_t kind : {kSYN, kRST}) {
    line.Feed(test::RCtl(kind, 0x00));
    std::uint8_t control = 0;
    EXPECT_EQ(protocol.ReceiveControl(control), TLinkCode::Ok);
    EXPECT_EQ(control, kind | kDirectionBit);
  }
  EXPECT_EQ(protocol.SendControl(kSYN), TLinkCode::BadNetworkNumber);
  EXPECT_TRUE(line.Written().empty());
}

TEST_F(FramesFixture, ReceivedControlPacketIsCheckedSumFirstThenFormat) {
  struct Case {
    const char* what;
    Bytes bytes;
    TLinkCode code;
  };
  const Case cases[] = {
      {"good", {0x7F, 0x02, 0x01, 0xE5, 0x1A}, TLinkCode::Ok},
      {"other address", test::RCtl(kRDY, 0x02), TLinkCode::FrameFormat},
      {"bad check and address", {0x7F, 0x02, 0x02, 0xE5, 0x00}, TLinkCode::BadCrc},
      {"bad check", {0x7F, 0x02, 0x01, 0xE5, 0x1B}, TLinkCode::BadCrc},
      {"bad start", {0x7E, 0x02, 0x01, 0xE5, 0x1A}, TLinkCode::FrameFormat},
      {"bad mark", {0x7F, 0x03, 0x01, 0xE5, 0x1A}, TLinkCode::FrameFormat},
      {"short", {0x7F, 0x02, 0x01, 0xE5}, TLinkCode::ReadFailed},
      {"nothing", {}, TLinkCode::ReadFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    line.DropPending();
    line.readSizes.clear();
    protocol.lastReceivedControl = 0;
    line.Feed(c.bytes);
    std::uint8_t control = 0;
    EXPECT_EQ(protocol.ReceiveControl(control), c.code);
    EXPECT_EQ(line.readSizes, std::vector<std::uint32_t>{5});  // one read of the whole packet
    EXPECT_EQ(protocol.lastReceivedControl, c.code == TLinkCode::Ok ? 0xE5 : 0);
  }
}

TEST_F(FramesFixture, DataFramesAreStuffedAndChecked) {
  struct Case {
    Bytes payload;
    Bytes frame;
  };
  const Case cases[] = {
      {{0x01, 0x7F, 0x02}, {0x00, 0x01, 0x7F, 0x10, 0x02, 0x7F, 0x03, 0x7E}},
      {{}, {0x00, 0x7F, 0x03, 0x00}},
      {{0x7F, 0x7F}, {0x00, 0x7F, 0x10, 0x7F, 0x10, 0x7F, 0x03, 0x02}},
      {{0x01, 0x07, 0x03}, {0x00, 0x01, 0x07, 0x03, 0x7F, 0x03, 0xF5}},
  };
  for (const auto& c : cases) {
    line.ClearWritten();
    EXPECT_EQ(protocol.SendData(c.payload.data(), static_cast<std::int32_t>(c.payload.size())),
              TLinkCode::Ok);
    EXPECT_EQ(Written(), c.frame);
    EXPECT_EQ(line.Writes().size(), 1u) << "the whole frame goes in one write";
  }
}

TEST_F(FramesFixture, LongPayloadIsCutTo256BytesButTracedWithItsLength) {
  test::TraceCapture trace;
  Bytes payload(300);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i % 0x7F);
  ASSERT_EQ(protocol.SendData(payload.data(), 300), TLinkCode::Ok);
  const Bytes expected = BuildDataFrame(std::span(payload).first(256), 256);
  EXPECT_EQ(Written(), expected);
  EXPECT_EQ(trace.Lines(), std::vector<std::string>{">data ПК->ККМ             size:300  :0,1,2"});
}

TEST_F(FramesFixture, ReceivedFramesDecodeOrFailWithTheirCode) {
  struct Case {
    const char* what;
    Bytes bytes;
    TLinkCode code;
    Bytes payload;
    std::size_t left;  // bytes left on the line afterwards
  };
  const Case cases[] = {
      {"stuffed", {0x00, 0x41, 0x7F, 0x10, 0x7F, 0x03, 0x40}, TLinkCode::Ok, {0x41, 0x7F}, 0},
      {"lead byte value ignored", {0x55, 0x41, 0x7F, 0x03, 0xBF}, TLinkCode::Ok, {0x41}, 0},
      {"empty", {0x00, 0x7F, 0x03, 0x00}, TLinkCode::Ok, {}, 0},
      {"bad escape", {0x00, 0x41, 0x7F, 0x05, 0x99, 0x7F, 0x03}, TLinkCode::FrameFormat, {}, 3},
      {"check off by one", {0x00, 0x41, 0x7F, 0x10, 0x7F, 0x03, 0x41}, TLinkCode::BadCrc, {}, 0},
      {"stops at its end", {0x00, 0x41, 0x7F, 0x03, 0xBF, 0x7F, 0x02}, TLinkCode::Ok, {0x41}, 2},
      {"nothing", {}, TLinkCode::ReadFailed, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    line.DropPending();
    line.Feed(c.bytes);
    std::array<std::uint8_t, 256> buffer{};
    std::int32_t length = -1;
    EXPECT_EQ(protocol.ReceiveData(buffer.data(), buffer.size(), length), c.code);
    EXPECT_EQ(length, static_cast<std::int32_t>(c.payload.size()));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(c.payload.size())),
              c.payload);
    EXPECT_EQ(line.Pending(), c.left);
  }
}

TEST_F(FramesFixture, EveryTruncationOfAFrameIsATimeOut) {
  const Bytes frame = test::Frame({0x01, 0x7F, 0x02, 0x7F, 0x44});
  for (std::size_t cut = 0; cut < frame.size(); ++cut) {
    line.DropPending();
    line.readSizes.clear();
    line.Feed(std::span(frame).first(cut));
    std::array<std::uint8_t, 256> buffer{};
    std::int32_t length = -1;
    EXPECT_EQ(protocol.ReceiveData(buffer.data(), buffer.size(), length), TLinkCode::ReadFailed) << cut;
    EXPECT_EQ(length, 0);
    // The frame is read byte by byte: never more than what the frame says comes next.
    for (auto n : line.readSizes) EXPECT_EQ(n, 1u);
  }
}

TEST_F(FramesFixture, FrameWithoutEndMarkerStopsAtTheCapacity) {
  Bytes endless(1000, 0x41);
  endless[0] = 0x00;
  line.Feed(endless);
  std::array<std::uint8_t, 256> buffer{};
  std::int32_t length = -1;
  EXPECT_EQ(protocol.ReceiveData(buffer.data(), buffer.size(), length), TLinkCode::Overflow);
  EXPECT_EQ(line.Pending(), 1000u - 1 - 256);

  // So the register can send at most 255 payload bytes, stuffed ones included.
  for (std::size_t n : {255u, 256u}) {
    line.DropPending();
    line.Feed(test::Frame(Bytes(n, 0x7F)));
    EXPECT_EQ(protocol.ReceiveData(buffer.data(), buffer.size(), length),
              n == 255 ? TLinkCode::Ok : TLinkCode::Overflow);
  }
}

TEST_F(FramesFixture, RandomPayloadsRoundTrip) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 200; ++round) {
    Bytes payload(rng() % 256);
    for (auto& b : payload) b = static_cast<std::uint8_t>(rng() % 3 == 0 ? 0x7F : rng());
    line.ClearWritten();
    ASSERT_EQ(protocol.SendData(payload.data(), static_cast<std::int32_t>(payload.size())), TLinkCode::Ok);
    line.DropPending();
    line.Feed(Written());
    std::array<std::uint8_t, 256> buffer{};
    std::int32_t length = 0;
    ASSERT_EQ(protocol.ReceiveData(buffer.data(), buffer.size(), length), TLinkCode::Ok);
    ASSERT_EQ(Bytes(buffer.begin(), buffer.begin() + length), payload);
  }
}

TEST_F(FramesFixture, DataPacketHeaderCarriesTxSeqAndContinuation) {
  test::ScriptedRegister reg(line);
  kkm.txSeq = 9;  // only the low three bits travel
  const TMessageBuffer request{0x01, 0x07, 0x03};
  EXPECT_EQ(protocol.SendDataPacket(request, true), TLinkCode::Ok);
  EXPECT_EQ(protocol.SendDataPacket(request, false), TLinkCode::Ok);
  EXPECT_EQ(reg.pcControls, (Bytes{0x91, 0x81}));
  EXPECT_EQ(reg.pcFrames, (std::vector<Bytes>{{0x01, 0x07, 0x03}, {0x01, 0x07, 0x03}}));
  EXPECT_EQ(kkm.txSeq, 9);

  line.failWrites = true;
  EXPECT_EQ(protocol.SendDataPacket(request, false), TLinkCode::WriteFailed);
  kkm.networkNumber = 0;
  EXPECT_EQ(protocol.SendDataPacket(request, false), TLinkCode::BadNetworkNumber);
}

TEST(PacketKindName, NamesKindDirectionAndContinuation) {
  struct Case {
    std::uint8_t control;
    const char* name;
  };
  const Case cases[] = {
      {0xC5, "RDY  ПК->ККМ синх. "}, {0xE5, "RDY  ПК<-ККМ синх. "}, {0xDA, "ACK  ПК->ККМ асинх."},
      {0xC0, "DISC ПК->ККМ синх. "}, {0xE3, "REJ  ПК<-ККМ синх. "}, {0xC6, "???ПК->ККМ синх. "},
      {0xE7, "WAIT ПК<-ККМ синх. "}, {0xE9, "BUSY ПК<-ККМ синх. "}, {0xCC, "SYN  ПК->ККМ синх. "},
      {0xDF, "RST  ПК->ККМ асинх."}, {0x93, "DATA ПК->ККМ асинх."}, {0xA2, "DATA ПК<-ККМ синх. "},
      {0x45, "???ПК->ККМ синх. "},   {0xC1, "???ПК->ККМ синх. "},
  };
  for (const auto& c : cases) EXPECT_EQ(PacketKindName(c.control), c.name) << int{c.control};
}

TEST_F(FramesFixture, PrimitivesTraceInTheirExactForm) {
  test::TraceCapture trace;
  protocol.SendControl(kRDY);
  line.Feed(test::RCtl(kACK | kContinuationBit));
  std::uint8_t control = 0;
  protocol.ReceiveControl(control);
  const Bytes request{0x01, 0x07, 0x03};
  protocol.SendData(request.data(), 3);
  line.Feed(test::Frame({0x01, 0x07, 0x00, 0x05}));
  std::array<std::uint8_t, 256> buffer{};
  std::int32_t length = 0;
  protocol.ReceiveData(buffer.data(), buffer.size(), length);
  line.Feed(test::Frame({0x09}));
  protocol.ReceiveData(buffer.data(), buffer.size(), length);
  EXPECT_EQ(trace.Lines(), (std::vector<std::string>{
                               ">RDY  ПК->ККМ синх.   ККМ=1",
                               ">ACK  ПК<-ККМ асинх.  ККМ=1",
                               ">data ПК->ККМ             size:3  :1,7,3",
                               ">data ПК<-ККМ             size:4  :1,7,0",
                               ">data ПК<-ККМ             size:1  :9",
                           }));
}

}  // namespace
}  // namespace zarvik
