// Finding the packets again on a noisy line: bytes before, between and
// inside packets, through an in-memory line.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>

#include "protocol/U_protocolkkm.h"
#include "protocol_test_support.h"

namespace zarvik {
namespace {

using test::Bytes;
using test::Cat;
using test::RCtl;
using test::RData;

// "7F 02 01" -> bytes.
Bytes Hex(const std::string& text) {
  Bytes out;
  std::istringstream in(text);
  std::string word;
  while (in >> word) out.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
  return out;
}

struct SeekFixture : ::testing::Test {
  SeekFixture() {
    protocol.SetLine(&line);
    protocol.sleep = [](std::chrono::milliseconds) {};
  }
  TKKM kkm;
  TScriptedStream line;
  TProtocolKKM protocol{&kkm};
};

// The register's RDY at network number 1 is 7F 02 01 E5 1A, its ACK
// 7F 02 01 EA 15, its data header with number 0 7F 02 01 A0 5F.
TEST_F(SeekFixture, DropsBytesUntilAValidPacketStart) {
  struct Case {
    const char* what;
    const char* line;
    TLinkCode code;
    std::uint8_t control;              // taken when code is Ok
    std::vector<std::uint32_t> reads;  // the reads asked of the line
    std::size_t left;                  // bytes left on the line
    int resyncs;
  };
  const Case cases[] = {
      {"clean packet: one read", "7F 02 01 E5 1A", TLinkCode::Ok, 0xE5, {5}, 0, 0},
      {"one junk byte before", "A5 7F 02 01 E5 1A", TLinkCode::Ok, 0xE5, {5, 1}, 0, 1},
      {"seven junk bytes before",
       "A5 A5 A5 A5 A5 A5 A5 7F 02 01 E5 1A",
       TLinkCode::Ok,
       0xE5,
       {5, 5, 2},
       0,
       1},
      {"junk holding 7F before", "7F A5 7F 02 01 E5 1A", TLinkCode::Ok, 0xE5, {5, 2}, 0, 1},
      {"a doubled 7F", "7F 7F 02 01 E5 1A", TLinkCode::Ok, 0xE5, {5, 1}, 0, 1},
      {"the rest of a garbled frame", "41 42 7F 03 99 7F 02 01 EA 15", TLinkCode::Ok, 0xEA, {5, 5}, 0, 1},
      {"a data header after junk", "A5 A5 7F 02 01 A0 5F", TLinkCode::Ok, 0xA0, {5, 2}, 0, 1},
      {"the packet after stays on the line",
       "A5 7F 02 01 E5 1A 7F 02 01 EA 15",
       TLinkCode::Ok,
       0xE5,
       {5, 1},
       5,
       1},
      {"in step, bad check: refused at once",
       "7F 02 01 E5 1B 7F 02 01 E5 1A",
       TLinkCode::BadCrc,
       0,
       {5},
       5,
       0},
      {"in step, another address: refused at once", "7F 02 02 E5 19", TLinkCode::FrameFormat, 0, {5}, 0, 0},
      {"junk, then a garbled packet", "A5 7F 02 01 E5 1B", TLinkCode::BadCrc, 0, {5, 1, 5}, 0, 0},
      {"a false start among junk", "A5 7F 02 7F 02 01 E5 1A", TLinkCode::Ok, 0xE5, {5, 1, 2}, 0, 1},
      {"junk, then silence", "A5 A5 A5 A5 A5 A5", TLinkCode::BadCrc, 0, {5, 5}, 0, 0},
      {"too short", "A5 A5 A5", TLinkCode::ReadFailed, 0, {5}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    line.DropPending();
    line.readSizes.clear();
    protocol.lineCounts = {};
    protocol.lastReceivedControl = 0;
    line.Feed(Hex(c.line));
    std::uint8_t control = 0;
    EXPECT_EQ(protocol.SeekControl(control), c.code);
    EXPECT_EQ(line.readSizes, c.reads);
    EXPECT_EQ(line.Pending(), c.left);
    EXPECT_EQ(protocol.lineCounts.resyncs, c.resyncs);
    if (c.code == TLinkCode::Ok) {
      EXPECT_EQ(control, c.control);
      EXPECT_EQ(protocol.lastReceivedControl, c.control);
    } else {
      EXPECT_EQ(protocol.lastReceivedControl, 0) << "nothing is taken without its check";
    }
  }
}

TEST_F(SeekFixture, EndlessJunkIsGivenUpWithinItsBound) {
  line.Feed(Bytes(3 * kMaxSkippedBytes, 0xA5));
  line.Feed(Hex("7F 02 01 E5 1A"));
  std::uint8_t control = 0;
  EXPECT_EQ(protocol.SeekControl(control), TLinkCode::BadCrc);
  std::size_t read = 0;
  for (const auto n : line.readSizes) read += n;
  EXPECT_LE(read, kMaxSkippedBytes + kControlPacketSize);
  EXPECT_GT(line.Pending(), 0u);
}

TEST_F(SeekFixture, ReceiveControlItselfStillReadsOnePacketAsItComes) {
  // The primitive is unchanged: junk before a packet is a frame error.
  line.Feed(Hex("A5 7F 02 01 E5 1A"));
  std::uint8_t control = 0;
  EXPECT_EQ(protocol.ReceiveControl(control), TLinkCode::BadCrc);
  EXPECT_EQ(line.readSizes, std::vector<std::uint32_t>{5});
}

// The exchange over a line that adds bytes: the PC's side of the line is
// exactly that of a clean line, the frames are handed over once each.
struct NoisyExchange : ::testing::Test {
  NoisyExchange() {
    protocol.SetLine(&line);
    protocol.waits = kNoLinkWaits;
    protocol.onData = nullptr;
  }
  // A stream of three frames, `noise` after the first two (and `before`
  // ahead of the register's first answer).
  std::vector<Bytes> Stream(const Bytes& before, const Bytes& noise, Bytes& written) {
    line.DropPending();
    line.ClearWritten();
    kkm.rxSeq = 0;
    kkm.txSeq = 0;
    test::ScriptedRegister reg(line);
    reg.Then(Cat({before, RCtl(kRDY)}));
    reg.Then(Cat({RCtl(kACK | kContinuationBit), RData(0, true, {0x01, 0x10, 0x00, 0x01}), noise}));
    reg.Then(Cat({RData(1, true, {0x01, 0x10, 0x00, 0x02}), noise}));
    reg.Then(RData(2, false, {0x01, 0x10, 0x00, 0x03}));
    reg.Then(5, RCtl(kRDY));
    std::vector<Bytes> frames;
    TMessageBuffer request{0x01, 0x10, 0x01, 0x00};
    TMessageBuffer answer;
    protocol.onData = [&](TMessageBuffer& a, bool&) {
      const auto v = a.View();
      frames.emplace_back(v.begin(), v.end());
    };
    EXPECT_TRUE(protocol.Exchange(request, answer, true));
    written = line.Written();
    return frames;
  }
  TKKM kkm;
  TScriptedStream line;
  TProtocolKKM protocol{&kkm};
};

TEST_F(NoisyExchange, BytesBetweenPacketsChangeNothingTheRegisterSees) {
  Bytes clean;
  const std::vector<Bytes> expected = Stream({}, {}, clean);
  ASSERT_EQ(expected.size(), 3u);
  EXPECT_FALSE(protocol.lineCounts.Any());
  struct Case {
    const char* what;
    const char* before;
    const char* noise;
  };
  const Case cases[] = {
      {"one junk byte after each frame", "", "A5"},
      {"seven junk bytes", "", "A5 A5 A5 A5 A5 A5 A5"},
      {"junk that looks like a start", "", "7F 7F 02"},
      {"junk before the first answer", "00 FF 7F", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    protocol.lineCounts = {};
    Bytes written;
    EXPECT_EQ(Stream(Hex(c.before), Hex(c.noise), written), expected);
    EXPECT_EQ(written, clean);
    EXPECT_GT(protocol.lineCounts.resyncs, 0);
    EXPECT_EQ(protocol.lineCounts.repeatsAsked, 0);
  }
}

TEST_F(NoisyExchange, AFrameWithJunkInsideIsAskedAgainNeverTaken) {
  struct Case {
    const char* what;
    Bytes garbled;  // what comes in place of the register's first answer frame
    int repeats;    // repeat requests the PC sends
  };
  const Bytes good = RData(0, false, {0x01, 0x07, 0x00, 0x41, 0x42});
  Bytes badEscape = good;
  badEscape.insert(badEscape.begin() + 8, {0x7F, 0xA5});  // an escape no frame has
  Bytes badCheck = good;
  badCheck.insert(badCheck.begin() + 8, 0xA5);  // one byte more: the check fails
  const Case cases[] = {
      {"a broken escape", badEscape, 1},
      {"an extra byte inside", badCheck, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    line.DropPending();
    kkm.rxSeq = 0;
    kkm.txSeq = 0;
    protocol.lineCounts = {};
    test::ScriptedRegister reg(line);
    reg.Then(RCtl(kRDY));
    reg.Then(Cat({RCtl(kACK | kContinuationBit), c.garbled}));
    reg.Then(good);  // the repetition asked for
    TMessageBuffer request{0x01, 0x07, 0x01};
    TMessageBuffer answer;
    ASSERT_TRUE(protocol.Exchange(request, answer, true));
    const auto v = answer.View();
    EXPECT_EQ(Bytes(v.begin(), v.end()), (Bytes{0x01, 0x07, 0x00, 0x41, 0x42}));
    EXPECT_EQ(std::count(reg.pcControls.begin(), reg.pcControls.end(), kRepeatRequest), c.repeats);
    EXPECT_EQ(protocol.lineCounts.repeatsAsked, c.repeats);
  }
}

TEST_F(NoisyExchange, RetriedPacketsAreMarkedInTheTrace) {
  test::TraceCapture trace;
  test::ScriptedRegister reg(line);
  reg.Then(RCtl(kRDY));
  reg.Then(Cat({RCtl(kACK | kContinuationBit), Hex("7F 02 01 A0 5F 00 41 7F 03 00")}));  // bad check
  reg.Then(RData(0, false, {0x41}));
  TMessageBuffer request{0x01, 0x07, 0x01};
  TMessageBuffer answer;
  ASSERT_TRUE(protocol.Exchange(request, answer, true));
  const std::string mark(kRetryMark);
  int marked = 0;
  for (const std::string& l : trace.Lines()) {
    if (l.size() >= mark.size() && l.compare(l.size() - mark.size(), mark.size(), mark) == 0) ++marked;
  }
  // The repeated frame: its header and its data.
  EXPECT_EQ(marked, 2);
  EXPECT_TRUE(trace.Contains(">DATA ПК<-ККМ синх.   ККМ=1" + mark));
}

}  // namespace
}  // namespace zarvik
