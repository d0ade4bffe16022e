// The polled exchange against a scripted register on an in-memory line.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "protocol/U_protocolkkm.h"
#include "protocol_test_support.h"

namespace zarvik {
namespace {

using test::Bytes;
using test::Cat;
using test::RCtl;
using test::RData;
using namespace std::chrono_literals;

class CountingHooks final : public IUiHooks {
 public:
  void ProcessEvents() override { ++events; }
  bool IsTerminating() override { return terminating; }
  int events = 0;
  bool terminating = false;
};

struct ExchangeFixture : ::testing::Test {
  ExchangeFixture() {
    protocol.SetLine(&line);
    protocol.sleep = [this](std::chrono::milliseconds d) { slept.push_back(d); };
    SetUiHooks(&hooks);
  }
  ~ExchangeFixture() override { SetUiHooks(nullptr); }

  bool Run(bool continuation) { return protocol.Exchange(request, answer, continuation); }
  Bytes Answer() const {
    const auto v = answer.View();
    return Bytes(v.begin(), v.end());
  }
  int Slept(std::chrono::milliseconds d) const {
    return static_cast<int>(std::count(slept.begin(), slept.end(), d));
  }

  TKKM kkm;
  TScriptedStream line;
  TProtocolKKM protocol{&kkm};
  test::ScriptedRegister reg{line};
  CountingHooks hooks;
  std::vector<std::chrono::milliseconds> slept;
  TMessageBuffer request{0x01, 0x07, 0x03};
  TMessageBuffer answer;
};

const Bytes kAnswer = {0x01, 0x07, 0x00, 0xA1, 0x7F, 0x42};

TEST_F(ExchangeFixture, CommandWithContinuationStaysInOneCycle) {
  test::TraceCapture trace;
  reg.Then(RCtl(kRDY));
  reg.Then(Cat({RCtl(kACK | kContinuationBit), RData(0, false, kAnswer)}));
  ASSERT_TRUE(Run(true));
  EXPECT_EQ(Answer(), kAnswer);
  EXPECT_EQ(reg.pcControls, (Bytes{kRDY, 0x90, kACK}));
  EXPECT_EQ(reg.pcFrames, (std::vector<Bytes>{{0x01, 0x07, 0x03}}));
  EXPECT_EQ(kkm.linkState, lsDone);
  EXPECT_EQ(kkm.rxSeq, 1);
  EXPECT_EQ(kkm.txSeq, 1);
  EXPECT_EQ(line.closes, 0);
  EXPECT_EQ(slept, (std::vector<std::chrono::milliseconds>{10ms, 10ms}));
  EXPECT_EQ(trace.Lines(), (std::vector<std::string>{
                               "----- начало синхронизации с ККМ -----",
                               ">RDY  ПК->ККМ синх.   ККМ=1",
                               ">RDY  ПК<-ККМ синх.   ККМ=1",
                               ">DATA ПК->ККМ асинх.  ККМ=1",
                               ">data ПК->ККМ             size:3  :1,7,3",
                               ">ACK  ПК<-ККМ асинх.  ККМ=1",
                               ">DATA ПК<-ККМ синх.   ККМ=1",
                               ">data ПК<-ККМ             size:6  :1,7,0",
                               ">ACK  ПК->ККМ синх.   ККМ=1",
                               "----- конец синхронизации с ККМ  -----",
                           }));
}

TEST_F(ExchangeFixture, CommandWithoutContinuationPollsAgainForTheAnswer) {
  kkm.rxSeq = 5;
  kkm.txSeq = 6;
  reg.Then(RCtl(kRDY));
  reg.Then(RCtl(kACK));
  reg.Then(RData(5, false, kAnswer));
  ASSERT_TRUE(Run(false));
  EXPECT_EQ(Answer(), kAnswer);
  EXPECT_EQ(reg.pcControls, (Bytes{kRDY, 0x86, kRDY, kACK}));
  EXPECT_EQ(kkm.rxSeq, 6);
  EXPECT_EQ(kkm.txSeq, 7);
  EXPECT_EQ(Slept(kLinkWaits.afterWaitingCycle), 1);
}

TEST_F(ExchangeFixture, PacketNumbersRunOnAcrossExchangesAndWrap) {
  kkm.rxSeq = 6;
  kkm.txSeq = 7;
  for (int i = 0; i < 3; ++i) {
    reg.Then(RCtl(kRDY));
    reg.Then(Cat({RCtl(kACK | kContinuationBit), RData(static_cast<std::uint8_t>(6 + i), false, kAnswer)}));
    request = {0x01, 0x07, 0x03};
    ASSERT_TRUE(Run(true)) << i;
  }
  EXPECT_EQ(reg.pcControls, (Bytes{kRDY, 0x97, kACK, kRDY, 0x90, kACK, kRDY, 0x91, kACK}));
  EXPECT_EQ(kkm.rxSeq, 9);
  EXPECT_EQ(kkm.txSeq, 10);
}

TEST_F(ExchangeFixture, StreamedFramesGoToOnDataThenFiveQuietCycles) {
  std::vector<Bytes> frames;
  protocol.onData = [&](TMessageBuffer& a, bool& more) {
    const auto v = a.View();
    frames.emplace_back(v.begin(), v.end());
    EXPECT_EQ(more, frames.size() < 3);
  };
  reg.Then(RCtl(kRDY));
  reg.Then(Cat({RCtl(kACK | kContinuationBit), RData(0, true, {1, 0x10, 0, 1})}));
  reg.Then(RData(1, true, {1, 0x10, 0, 2}));
  reg.Then(RData(2, false, {1, 0x10, 0, 3}));
  reg.Then(5, RCtl(kRDY));
  ASSERT_TRUE(Run(true));
  EXPECT_EQ(frames, (std::vector<Bytes>{{1, 0x10, 0, 1}, {1, 0x10, 0, 2}, {1, 0x10, 0, 3}}));
  EXPECT_EQ(reg.pcControls, (Bytes{kRDY, 0x90, kACK | kContinuationBit, kACK | kContinuationBit, kACK, kRDY,
                                   kRDY, kRDY, kRDY, kRDY}));
  EXPECT_EQ(reg.pcFrames.size(), 1u);
  EXPECT_EQ(request.count, 0);
  EXPECT_FALSE(protocol.onData);
  EXPECT_EQ(Slept(kLinkWaits.afterStreamCycle), 6);
  EXPECT_EQ(kkm.rxSeq, 3);
}

TEST_F(ExchangeFixture, OnDataClearingMoreEndsTheTransfer) {
  int calls = 0;
  protocol.onData = [&](TMessageBuffer&, bool& more) {
    ++calls;
    more = false;
  };
  reg.Then(RCtl(kRDY));
  reg.Then(Cat({RCtl(kACK | kContinuationBit), RData(0, true, {1, 0x10, 0})}));
  reg.Then(5, RCtl(kRDY));
  ASSERT_TRUE(Run(true));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(reg.pcControls, (Bytes{kRDY, 0x90, kACK, kRDY, kRDY, kRDY, kRDY, kRDY}));
}

TEST_F(ExchangeFixture, SilentRegisterFailsAfterSixCyclesAndThePortIsReopened) {
  test::TraceCapture trace;
  EXPECT_FALSE(Run(true));
  EXPECT_EQ(kkm.linkState, lsNoAnswer);
  EXPECT_EQ(reg.pcControls, Bytes(6, kRDY));
  EXPECT_EQ(trace.Count("Warning:Sync>WaitKvit:" + ResultText(32)), 6);
  EXPECT_EQ(line.closes, 1);
  EXPECT_EQ(line.opens, 1);
  EXPECT_TRUE(line.IsOpen());
  EXPECT_EQ(Slept(kLinkWaits.afterWaitingCycle), 6);
}

TEST_F(ExchangeFixture, BusyEndsAfterTheFirstCycle) {
  reg.Then(6, RCtl(kBUSY));
  EXPECT_FALSE(Run(true));
  EXPECT_EQ(kkm.linkState, lsNotSynchronised);
  EXPECT_EQ(reg.pcControls, Bytes{kRDY});
  EXPECT_EQ(line.closes, 1);
}

// BUSY where the answer is still owed: the request was acknowledged, the
// answer never came. The exchange fails; it was once reported done with an
// empty answer (a goods probe then read as a refusal, a smaller register).
TEST_F(ExchangeFixture, BusyInsteadOfTheOwedAnswerFails) {
  for (const bool continuation : {false, true}) {
    reg.Then(RCtl(kRDY));
    if (continuation) {
      reg.Then(Cat({RCtl(kACK | kContinuationBit), RCtl(kBUSY)}));
    } else {
      reg.Then(RCtl(kACK));
      reg.Then(RCtl(kBUSY));
    }
    request = {0x01, 0x07, 0x03};
    answer = TMessageBuffer{};
    EXPECT_FALSE(Run(continuation)) << continuation;
    EXPECT_EQ(kkm.linkState, lsBusy) << continuation;
    EXPECT_EQ(answer.count, 0) << continuation;
  }
  EXPECT_EQ(line.closes, 2);
}

// A BUSY in the middle of a stream is no end of it: the frames that follow
// in the next cycle complete it.
TEST_F(ExchangeFixture, BusyInTheMiddleOfAStreamIsRidden) {
  std::vector<Bytes> frames;
  protocol.onData = [&](TMessageBuffer& a, bool&) {
    const auto v = a.View();
    frames.emplace_back(v.begin(), v.end());
  };
  reg.Then(RCtl(kRDY));
  reg.Then(Cat({RCtl(kACK | kContinuationBit), RData(0, true, {1, 0x10, 0, 1})}));
  reg.Then(RCtl(kBUSY));
  reg.Then(RData(1, false, {1, 0x10, 0, 2}));
  reg.Then(5, RCtl(kRDY));
  ASSERT_TRUE(Run(true));
  EXPECT_EQ(frames, (std::vector<Bytes>{{1, 0x10, 0, 1}, {1, 0x10, 0, 2}}));
  EXPECT_EQ(kkm.linkState, lsDone);
}

TEST_F(ExchangeFixture, WaitThenTheAnswerInTheThirdCycle) {
  test::TraceCapture trace;
  reg.Then(RCtl(kRDY));
  reg.Then(Cat({RCtl(kACK | kContinuationBit), RCtl(kWAIT)}));
  reg.Then(RCtl(kWAIT));
  reg.Then(RData(0, false, kAnswer));
  ASSERT_TRUE(Run(true));
  EXPECT_EQ(Answer(), kAnswer);
  EXPECT_EQ(reg.pcControls, (Bytes{kRDY, 0x90, kRDY, kRDY, kACK}));
  EXPECT_EQ(
      trace.Count("Error:Во время ожидания данных не должно быть квитанций из ККМ: WAIT ПК<-ККМ синх. "), 2);
  EXPECT_EQ(Slept(kLinkWaits.afterWaitingCycle), 2);
}

TEST_F(ExchangeFixture, WaitForeverEndsWithRegisterBusy) {
  reg.Then(RCtl(kRDY));
  reg.Then(Cat({RCtl(kACK), RCtl(kWAIT)}));
  reg.Then(6, RCtl(kWAIT));
  EXPECT_FALSE(Run(true));
  EXPECT_EQ(kkm.linkState, lsBusy);
  EXPECT_EQ(std::count(reg.pcControls.begin(), reg.pcControls.end(), kRDY), 6);
}

TEST_F(ExchangeFixture, BadCheckByteIsRepairedByARepeatRequest) {
  Bytes garbled = RData(0, false, kAnswer);
  garbled.back() = static_cast<std::uint8_t>(garbled.back() + 1);
  reg.Then(RCtl(kRDY));
  reg.Then(Cat({RCtl(kACK | kContinuationBit), garbled}));
  reg.Then(RData(0, false, kAnswer));  // the packet again, after the repeat request
  ASSERT_TRUE(Run(true));
  EXPECT_EQ(Answer(), kAnswer);
  EXPECT_EQ(reg.pcControls, (Bytes{kRDY, 0x90, kRepeatRequest, kACK}));
  EXPECT_EQ(kkm.linkState, lsDone);
}

TEST_F(ExchangeFixture, RegisterRepeatRequestResendsTheLastControl) {
  reg.Then(RCtl(kRDY));
  reg.Then(RCtl(kACK));
  reg.Then(RCtl(kRepeatRequest));  // to the second poll
  reg.Then(RData(0, false, kAnswer));
  ASSERT_TRUE(Run(false));
  EXPECT_EQ(reg.pcControls, (Bytes{kRDY, 0x80, kRDY, kRDY, kACK}));
}

TEST_F(ExchangeFixture, WrongPacketNumberResynchronisesAndDropsTheAnswer) {
  struct Case {
    bool more;
    std::uint8_t sent;
  };
  for (const Case c : {Case{false, kSYN}, Case{true, kRST}}) {
    SCOPED_TRACE(int{c.sent});
    test::TraceCapture trace;
    slept.clear();
    kkm.rxSeq = 1;
    kkm.txSeq = 4;
    request = {0x01, 0x07, 0x03};
    reg.pcControls.clear();
    reg.Then(RCtl(kRDY));
    reg.Then(Cat({RCtl(kACK | kContinuationBit), RData(1, true, {0xEE, 0xEE})}));
    // Frame 3 while 2 is expected; after the resynchronisation frame 0 comes.
    reg.Then(RData(3, c.more, {0xDD}));
    reg.Then(RData(0, false, kAnswer));
    std::uint8_t rxAfterResync = 99;  // seen when the PC's packet goes out
    std::uint8_t txAfterResync = 99;
    std::int32_t countAfterResync = -1;
    auto inner = line.onWrite;
    line.onWrite = [&](std::span<const std::uint8_t> w) {
      if (w.size() == 5 && w[3] == c.sent) {
        rxAfterResync = kkm.rxSeq;
        txAfterResync = kkm.txSeq;
        countAfterResync = answer.count;
      }
      inner(w);
    };
    ASSERT_TRUE(Run(true));
    line.onWrite = inner;
    EXPECT_EQ(reg.pcControls, (Bytes{kRDY, 0x94, kACK | kContinuationBit, c.sent, kACK}));
    EXPECT_EQ(rxAfterResync, 0);
    EXPECT_EQ(txAfterResync, 0);
    EXPECT_EQ(countAfterResync, 0);
    EXPECT_EQ(Answer(), kAnswer);
    EXPECT_EQ(kkm.rxSeq, 1);
    EXPECT_EQ(kkm.txSeq, 0);
    EXPECT_EQ(trace.Count("Warning:WaitData:bad paket number"), 1);
    EXPECT_EQ(slept, (std::vector<std::chrono::milliseconds>{kLinkWaits.atStart, kLinkWaits.afterResync,
                                                             kLinkWaits.atEnd}));
  }
}

// A frame that came late (after the PC had polled again) is taken; the copy
// the register sends for the poll then carries an old number. The PC
// resynchronises once; the frame that was already on its way before the
// register heard the RST is dropped without a second RST, and the stream
// goes on with the register's copy numbered 0. (Answering it with another
// RST would keep two copies on the line for the rest of the stream.)
TEST_F(ExchangeFixture, FrameSentBeforeTheResynchronisationIsDroppedWithoutAnother) {
  test::TraceCapture trace;
  const Bytes a = {0x01, 0x10, 0x00, 0x0A};
  const Bytes b = {0x01, 0x10, 0x00, 0x0B};
  const Bytes c = {0x01, 0x10, 0x00, 0x0C};
  reg.Then(RCtl(kRDY));
  reg.Then(Cat({RCtl(kACK | kContinuationBit), RData(0, true, a)}));
  // After the receipt of A: the copy of A (number 0) and B (number 1).
  reg.Then(Cat({RData(0, true, a), RData(1, true, b)}));
  // After the RST: B again with number 0; then C ends the stream.
  reg.Then(RData(0, true, b));
  reg.Then(RData(1, false, c));
  reg.Then(5, RCtl(kRDY));
  std::vector<Bytes> delivered;
  protocol.onData = [&](TMessageBuffer& m, bool&) {
    const auto v = m.View();
    delivered.emplace_back(v.begin(), v.end());
  };
  ASSERT_TRUE(Run(true));
  EXPECT_EQ(delivered, (std::vector<Bytes>{a, b, c}));
  const std::uint8_t more = kACK | kContinuationBit;
  EXPECT_EQ(reg.pcControls, (Bytes{kRDY, 0x90, more, kRST, more, kACK, kRDY, kRDY, kRDY, kRDY, kRDY}));
  EXPECT_EQ(trace.Count("Warning:WaitData:bad paket number"), 1);
  EXPECT_EQ(trace.Count("Warning:WaitData:frame sent before the resynchronisation, dropped"), 1);
  EXPECT_EQ(kkm.rxSeq, 2);
}

// The last frame of a stream sent again (its receipt was not heard, or a
// poll crossed it) is acknowledged again and not taken twice; the transfer
// stays complete.
TEST_F(ExchangeFixture, LastFrameRepeatedIsAcknowledgedAgain) {
  test::TraceCapture trace;
  const Bytes last = {0x01, 0x0F, 0x09};
  reg.Then(RCtl(kRDY));
  reg.Then(Cat({RCtl(kACK | kContinuationBit), RData(0, false, last)}));
  reg.Then(Bytes{});                // the receipt: not heard
  reg.Then(RData(0, false, last));  // the next poll gets the frame again
  reg.Then(Bytes{});                // the second receipt
  reg.Then(4, RCtl(kRDY));
  int frames = 0;
  protocol.onData = [&](TMessageBuffer&, bool&) { ++frames; };
  ASSERT_TRUE(Run(true));
  EXPECT_EQ(frames, 1);
  EXPECT_EQ(reg.pcControls, (Bytes{kRDY, 0x90, kACK, kRDY, kACK, kRDY, kRDY, kRDY, kRDY}));
  EXPECT_EQ(trace.Count("Warning:WaitData:last frame repeated, acknowledged again"), 1);
  EXPECT_EQ(trace.Count("Warning:WaitData:bad paket number"), 0);
  EXPECT_EQ(kkm.linkState, lsDone);
  // Another frame with the same number is not a repeat: it is a wrong
  // number as before.
  kkm.rxSeq = kkm.txSeq = 0;
  request = {0x01, 0x0F, 0x00, 0x00};
  reg.pcControls.clear();
  reg.Then(RCtl(kRDY));
  reg.Then(Cat({RCtl(kACK | kContinuationBit), RData(0, false, last)}));
  reg.Then(Bytes{});
  reg.Then(RData(0, false, {0x01, 0x0F, 0x00, 0x55}));
  reg.Then(RData(0, false, {0x01, 0x0F, 0x00, 0x55}));
  reg.Then(4, RCtl(kRDY));
  protocol.onData = [&](TMessageBuffer&, bool&) { ++frames; };
  Run(true);
  EXPECT_EQ(std::count(reg.pcControls.begin(), reg.pcControls.end(), kSYN), 1);
}

// A frame of a stream whose receipt the register did not hear comes again
// once the PC polls. Whatever number the copy carries, it is not handed over
// a second time: the PC resynchronises, the register sends the frame it
// still waits to have acknowledged, and that is acknowledged again without
// being taken. Two equal frames in one cycle are two frames.
TEST_F(ExchangeFixture, StreamFrameSentAgainForALostReceiptIsTakenOnce) {
  const Bytes a = {0x01, 0x0F, 0x00, 0xA1, 0x7F};
  const Bytes b = {0x01, 0x0F, 0x09};
  const std::uint8_t more = kACK | kContinuationBit;
  struct Case {
    const char* what;
    Bytes afterReceipt;  // what follows the receipt of A
    Bytes afterPoll;     // what the next poll gets
    std::vector<Bytes> delivered;
    Bytes pcControls;
    int copiesSeen;  // "frame taken before sent again" without the acknowledgement
  };
  const Case cases[] = {
      {"receipt lost, the copy with its own number", {}, RData(0, true, a), {a, b},
       {kRDY, 0x90, more, kRDY, kRST, more, kACK, kRDY, kRDY, kRDY, kRDY, kRDY}, 0},
      {"receipt lost, the copy numbered as the next frame", {}, RData(1, true, a), {a, b},
       {kRDY, 0x90, more, kRDY, kRST, more, kACK, kRDY, kRDY, kRDY, kRDY, kRDY}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TraceCapture trace;
    kkm.rxSeq = kkm.txSeq = 0;
    request = {0x01, 0x0F, 0x00, 0x00};
    reg.pcControls.clear();
    reg.Then(RCtl(kRDY));
    reg.Then(Cat({RCtl(more), RData(0, true, a)}));
    reg.Then(c.afterReceipt);
    reg.Then(c.afterPoll);
    reg.Then(RData(0, true, a));  // after the RST: the frame not acknowledged
    reg.Then(RData(1, false, b));
    reg.Then(Bytes{});
    reg.Then(5, RCtl(kRDY));
    std::vector<Bytes> delivered;
    protocol.onData = [&](TMessageBuffer& m, bool&) {
      const auto v = m.View();
      delivered.emplace_back(v.begin(), v.end());
    };
    ASSERT_TRUE(Run(true));
    EXPECT_EQ(delivered, c.delivered);
    EXPECT_EQ(reg.pcControls, c.pcControls);
    EXPECT_EQ(trace.Count("Warning:WaitData:frame taken before sent again, acknowledged again"), 1);
    EXPECT_EQ(trace.Count("Warning:WaitData:frame taken before sent again"), c.copiesSeen);
    EXPECT_EQ(kkm.rxSeq, 2);
    EXPECT_EQ(kkm.linkState, lsDone);
  }
  // Equal frames that follow each other's receipts are both taken.
  test::TraceCapture trace;
  kkm.rxSeq = kkm.txSeq = 0;
  request = {0x01, 0x0F, 0x00, 0x00};
  reg.pcControls.clear();
  reg.Then(RCtl(kRDY));
  reg.Then(Cat({RCtl(more), RData(0, true, a)}));
  reg.Then(RData(1, true, a));
  reg.Then(RData(2, false, b));
  reg.Then(Bytes{});
  reg.Then(5, RCtl(kRDY));
  std::vector<Bytes> delivered;
  protocol.onData = [&](TMessageBuffer& m, bool&) {
    const auto v = m.View();
    delivered.emplace_back(v.begin(), v.end());
  };
  ASSERT_TRUE(Run(true));
  EXPECT_EQ(delivered, (std::vector<Bytes>{a, a, b}));
  EXPECT_EQ(trace.Count("Warning:WaitData:bad paket number"), 0);
}

TEST_F(ExchangeFixture, TenPointlessPacketsEndTheCycleAsALoop) {
  test::TraceCapture trace;
  line.purgeOnOpen = false;
  reg.Then(Cat({RCtl(kACK), RCtl(kACK), RCtl(kACK), RCtl(kACK), RCtl(kACK), RCtl(kACK), RCtl(kACK),
                RCtl(kACK), RCtl(kACK), RCtl(kACK), RCtl(kACK)}));
  EXPECT_FALSE(Run(true));
  EXPECT_EQ(trace.Count("Error:зацикливание"), 1);
  EXPECT_EQ(line.Pending(), 5u) << "the eleventh packet is never read";
  EXPECT_EQ(reg.pcControls, Bytes{kRDY});
  EXPECT_EQ(kkm.linkState, lsNotSynchronised);
}

TEST_F(ExchangeFixture, MoreThan8192BytesAbortsAtOnce) {
  test::TraceCapture trace;
  reg.Then(RCtl(kRDY));
  const Bytes big(255, 0x33);
  Bytes stream = RCtl(kACK | kContinuationBit);
  for (int i = 0; i < 40; ++i) {
    const Bytes f = RData(static_cast<std::uint8_t>(i), true, big);
    stream.insert(stream.end(), f.begin(), f.end());
  }
  reg.Then(stream);
  EXPECT_FALSE(Run(true));
  // 32 frames make 8160 bytes; the 33rd goes over.
  EXPECT_EQ(answer.count, 33 * 255);
  EXPECT_EQ(kkm.rxSeq, 33);
  EXPECT_EQ(std::count(reg.pcControls.begin(), reg.pcControls.end(), kACK | kContinuationBit), 32);
  EXPECT_EQ(trace.Count("Error:слишком много данных"), 1);
  EXPECT_EQ(trace.Count("----- конец синхронизации с ККМ  -----"), 0);
  EXPECT_EQ(line.closes, 0);
  EXPECT_EQ(std::count(reg.pcControls.begin(), reg.pcControls.end(), kDISC), 0);
}

// A program killed in the middle of a stream leaves the register streaming:
// the next program's first poll gets a frame of that old answer. A frame that
// comes before the request was sent is dropped, the register is stopped with
// DISC, what is queued behind it is discarded, and the poll starts again.
TEST_F(ExchangeFixture, AnswerOfAnAbandonedExchangeIsDroppedAndThePollStartsAgain) {
  for (const bool streaming : {false, true}) {
    SCOPED_TRACE(streaming);
    test::TraceCapture trace;
    kkm.rxSeq = kkm.txSeq = 0;
    reg.pcControls.clear();
    line.discards = 0;
    request = {0x01, 0x07, 0x03};
    const Bytes stale = {0x01, 0x10, 0x00, 0xAA, 0x01};
    // Reply to the poll: the old frame, and a receipt the old program caused.
    reg.Then(Cat({RData(5, true, stale), RCtl(kACK)}));
    reg.Then(Bytes{});  // the DISC
    reg.Then(RCtl(kRDY));
    reg.Then(Cat({RCtl(kACK | kContinuationBit), RData(0, false, kAnswer)}));
    std::vector<Bytes> delivered;
    if (streaming) {
      protocol.onData = [&](TMessageBuffer& a, bool&) {
        const auto v = a.View();
        delivered.emplace_back(v.begin(), v.end());
      };
    }
    Bytes expected{kRDY, kDISC, kRDY, 0x90, kACK};
    if (streaming) {
      reg.Then(5, RCtl(kRDY));  // the quiet cycles that close a stream
      expected.insert(expected.end(), 5, kRDY);
    }
    ASSERT_TRUE(Run(true));
    EXPECT_EQ(reg.pcControls, expected);
    EXPECT_EQ(line.discards, 1);
    EXPECT_EQ(trace.Count("Warning:WaitData:answer of an earlier exchange, dropped"), 1);
    EXPECT_EQ(trace.Count("Warning:WaitData:bad paket number"), 0);
    if (streaming) {
      EXPECT_EQ(delivered, std::vector<Bytes>{kAnswer});
    } else {
      EXPECT_EQ(Answer(), kAnswer);
    }
    EXPECT_EQ(kkm.rxSeq, 1);
    EXPECT_EQ(kkm.txSeq, 1);
    EXPECT_EQ(kkm.linkState, lsDone);
  }
  // A pure poll has no request of its own: a frame is what it asks for.
  request.count = 0;
  reg.pcControls.clear();
  reg.Then(RData(1, false, kAnswer));
  ASSERT_TRUE(Run(true));
  EXPECT_EQ(Answer(), kAnswer);
  EXPECT_EQ(reg.pcControls, (Bytes{kRDY, kACK}));
}

TEST_F(ExchangeFixture, PurePollSendsNothingButTheRdy) {
  request.count = 0;
  reg.Then(RCtl(kRDY));
  ASSERT_TRUE(Run(true));
  EXPECT_EQ(kkm.linkState, lsDone);
  EXPECT_EQ(line.Written(), test::Ctl(kRDY));
}

TEST_F(ExchangeFixture, RejectEndsTheCycleKeepingTheLinkState) {
  reg.Then(RCtl(kREJ));
  EXPECT_FALSE(Run(true));
  EXPECT_EQ(kkm.linkState, lsNotSynchronised);
  EXPECT_EQ(reg.pcControls, Bytes{kRDY});
}

TEST_F(ExchangeFixture, DiscFromTheRegisterGivesUpTheDataPhase) {
  reg.Then(RCtl(kRDY));
  reg.Then(Cat({RCtl(kACK | kContinuationBit), RCtl(kDISC)}));
  // The request was acknowledged; the register gave up the answer.
  EXPECT_TRUE(Run(true));
  EXPECT_EQ(answer.count, 0);
}

TEST_F(ExchangeFixture, FailedPollIsReportedAndRetried) {
  test::TraceCapture trace;
  kkm.networkNumber = 99;
  EXPECT_FALSE(Run(true));
  EXPECT_EQ(trace.Count("Error:SendKvit:" + ResultText(29)), 6);
  EXPECT_TRUE(slept == (std::vector<std::chrono::milliseconds>{10ms, 10ms}))
      << "a failed poll skips the waits";
  EXPECT_EQ(kkm.linkState, lsNotSynchronised);
}

TEST_F(ExchangeFixture, FailedRequestWriteIsNoAnswer) {
  test::TraceCapture trace;
  reg.Then(6, RCtl(kRDY));
  line.refuseWrite = [](std::span<const std::uint8_t> w) { return w[0] == kDataLeadByte; };
  EXPECT_FALSE(Run(true));
  EXPECT_EQ(kkm.linkState, lsNoAnswer);
  EXPECT_EQ(trace.Count("Warning:Syn>Send:" + ResultText(30)), 6);
}

TEST_F(ExchangeFixture, UserInterfaceRunsAtEachCycleAndFrame) {
  reg.Then(RCtl(kRDY));
  reg.Then(Cat({RCtl(kACK | kContinuationBit), RData(0, false, kAnswer)}));
  ASSERT_TRUE(Run(true));
  EXPECT_EQ(hooks.events, 2);  // one poll cycle, one frame
}

TEST_F(ExchangeFixture, ShutdownReturnsAtTheNextCycle) {
  hooks.terminating = true;
  protocol.onData = [](TMessageBuffer&, bool&) {};
  EXPECT_TRUE(Run(true));
  EXPECT_TRUE(line.Written().empty());
  EXPECT_TRUE(protocol.onData);
}

TEST_F(ExchangeFixture, ClosedLineIsOpenedFirst) {
  line.Close();
  line.failOpen = true;
  protocol.onData = [](TMessageBuffer&, bool&) {};
  EXPECT_FALSE(Run(true));
  EXPECT_TRUE(line.Written().empty());
  EXPECT_FALSE(protocol.onData);
  line.failOpen = false;
  reg.Then(RCtl(kRDY));
  reg.Then(Cat({RCtl(kACK | kContinuationBit), RData(0, false, kAnswer)}));
  EXPECT_TRUE(Run(true));
}

TEST_F(ExchangeFixture, AnswersOfOtherRegistersAreIgnored) {
  kkm.networkNumber = 12;
  reg.Then(Cat({RCtl(kRDY, 0x13), RCtl(kRDY, 0x12)}));
  reg.Then(Cat({RCtl(kACK | kContinuationBit, 0x12), RData(0, false, kAnswer, 0x12)}));
  // The foreign packet is a frame error: the cycle ends and the next poll succeeds.
  EXPECT_TRUE(Run(true));
  EXPECT_EQ(Answer(), kAnswer);
}

// Hostile lines: whatever comes in, the exchange ends, within its limits.
TEST_F(ExchangeFixture, EndlessRandomBytesEnd) {
  protocol.waits = kNoLinkWaits;
  std::mt19937 rng(7);
  line.onStarve = [&] {
    Bytes chunk(64);
    for (auto& b : chunk) b = static_cast<std::uint8_t>(rng());
    line.Feed(chunk);
  };
  for (int round = 0; round < 20; ++round) {
    request = {0x01, 0x07, 0x03};
    Run(round % 2 == 0);
    EXPECT_LE(answer.count, static_cast<std::int32_t>(kMessageBufferCapacity));
  }
  line.onStarve = nullptr;
}

TEST_F(ExchangeFixture, EndlessValidFramesStopAtTheAnswerLimit) {
  protocol.waits = kNoLinkWaits;
  std::uint8_t seq = 0;
  line.onStarve = [&] { line.Feed(RData(seq++, true, Bytes(200, 0x7F))); };
  reg.Then(RCtl(kRDY));
  reg.Then(RCtl(kACK | kContinuationBit));
  EXPECT_FALSE(Run(true));
  EXPECT_GT(answer.count, static_cast<std::int32_t>(kMaxAnswerBytes));
  line.onStarve = nullptr;
}

TEST_F(ExchangeFixture, RandomRepliesNeverOverrunTheAnswer) {
  protocol.waits = kNoLinkWaits;
  std::mt19937 rng(99);
  auto packet = [&]() -> Bytes {
    switch (rng() % 6) {
      case 0: return RCtl(static_cast<std::uint8_t>(rng()));
      case 1: return RData(static_cast<std::uint8_t>(rng()), rng() % 2 == 0, Bytes(rng() % 300, 0x7F));
      case 2: {
        Bytes b = RData(kkm.rxSeq, true, Bytes(rng() % 256, static_cast<std::uint8_t>(rng())));
        b.resize(rng() % (b.size() + 1));
        return b;
      }
      case 3: return RCtl(kRDY);
      case 4: return RCtl(kACK | kContinuationBit);
      default: return RData(kkm.rxSeq, rng() % 2 == 0, Bytes(255, 0x01));
    }
  };
  line.onWrite = [&](std::span<const std::uint8_t>) {
    for (int n = static_cast<int>(rng() % 4); n > 0; --n) line.Feed(packet());
  };
  for (int round = 0; round < 300; ++round) {
    request = {0x01, 0x10, 0x01, 0x00};
    int delivered = 0;
    if (round % 3 == 0) {
      protocol.onData = [&](TMessageBuffer& a, bool& more) {
        ASSERT_LE(a.count, 255);
        if (++delivered == 50) more = false;
      };
    }
    Run(round % 2 == 0);
    ASSERT_LE(answer.count, static_cast<std::int32_t>(kMessageBufferCapacity));
  }
}

}  // namespace
}  // namespace zarvik
