// The simulated register as a peer on its pseudo-terminal: polls, receipts,
// packet numbers, streams, stops, faults, pacing and reconnects.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <thread>

#include "SimTestLine.h"

namespace zarvik::sim {
namespace {

using simtest::Bytes;
using simtest::Cat;
using simtest::Control;
using simtest::Frame;
using simtest::kAddr;

class SimLink : public simtest::SimOnPty {};

const Bytes kGetInfo{0x01, 0x01};
const Bytes kJournal{0x01, 0x0F, 0x00, 0x00};
const Bytes kAllGoods{0x01, 0x10, 0x01, 0x00};

TEST_F(SimLink, AnswersOnlyWhenPolledAndAPurePollGetsRdy) {
  EXPECT_TRUE(pc_.Quiet());  // nothing unasked
  pc_.SendControl(0xC5);
  EXPECT_EQ(pc_.Read(5), (Bytes{0x7F, 0x02, 0x01, 0xE5, 0x1A}));  // RDY with the direction bit
  EXPECT_TRUE(pc_.Quiet());
  // Packets for another network number are not answered.
  pc_.Send(Control(0x02, 0xC5));
  EXPECT_TRUE(pc_.Quiet());
  // Neither are ACKs, DISCs or WAITs with nothing pending.
  for (const std::uint8_t c : Bytes{0xCA, 0xC0, 0xC7}) {
    pc_.SendControl(c);
    EXPECT_TRUE(pc_.Quiet()) << int{c};
  }
}

TEST_F(SimLink, ContinuedRequestIsAnsweredRightAfterTheReceiptAndNumbersRunOn) {
  for (int round = 0; round < 10; ++round) {  // across the wrap of the 3-bit numbers
    const Bytes answer = pc_.One(kGetInfo);
    ASSERT_EQ(answer.size(), 44U);
    EXPECT_EQ(answer[2], 0);
  }
  EXPECT_EQ(pc_.rx, 10);
  EXPECT_EQ(pc_.tx, 10);
  pc_.SendControl(0xC5);  // a pure poll: everything before it has been handled
  ASSERT_EQ(pc_.ReadControl(), 0xE5);
  const auto stats = sim_->Stats();
  EXPECT_EQ(stats.rxSeq, 10);
  EXPECT_EQ(stats.txSeq, 10);
}

TEST_F(SimLink, RequestWithoutContinuationWaitsForTheNextPoll) {
  pc_.SendControl(0xC5);
  ASSERT_EQ(pc_.ReadControl(), 0xE5);
  pc_.SendRequest(Bytes{0x01, 0x10, 0x03, 0x00}, false);
  EXPECT_EQ(pc_.ReadControl(), 0xEA);  // ACK without the continuation bit
  ++pc_.tx;
  EXPECT_TRUE(pc_.Quiet());  // the answer waits for the poll
  pc_.SendControl(0xC5);
  Bytes payload;
  bool more = false;
  ASSERT_TRUE(pc_.ReceiveAnswer(payload, more));
  EXPECT_FALSE(more);
  ASSERT_EQ(payload.size(), 67U);
  EXPECT_EQ(payload[2], 0);
  EXPECT_EQ(payload[3], 0xAA);
  pc_.SendControl(0xC0);
  EXPECT_TRUE(pc_.Quiet());
}

TEST_F(SimLink, WrongRequestNumberIsAnsweredWithSynAndBothCountersCleared) {
  pc_.One(kGetInfo);
  pc_.SendControl(0xC5);
  ASSERT_EQ(pc_.ReadControl(), 0xE5);
  pc_.Send(Cat(Control(kAddr, 0x90 | 5), Frame(kGetInfo)));  // number 5, expected 1
  EXPECT_EQ(pc_.ReadControl(), 0xEC);                        // SYN
  EXPECT_EQ(sim_->Stats().rxSeq, 0);
  EXPECT_EQ(sim_->Stats().txSeq, 0);
  pc_.rx = pc_.tx = 0;  // the PC clears its counters on SYN and resends
  pc_.SendRequest(kGetInfo, true);
  EXPECT_EQ(pc_.ReadControl(), 0xFA);
  ++pc_.tx;
  Bytes payload;
  bool more = false;
  ASSERT_TRUE(pc_.ReceiveAnswer(payload, more));
  EXPECT_EQ(payload.size(), 44U);
}

TEST_F(SimLink, GarbledRequestIsAnsweredWithRepeatRequest) {
  pc_.SendControl(0xC5);
  ASSERT_EQ(pc_.ReadControl(), 0xE5);
  Bytes bad = Cat(Control(kAddr, 0x90), Frame(kGetInfo));
  ++bad.back();
  pc_.Send(bad);
  EXPECT_EQ(pc_.ReadControl(), 0xE6);  // 0xC6, repeat
  EXPECT_EQ(sim_->Stats().badFrames, 1);
  pc_.SendRequest(kGetInfo, true);
  EXPECT_EQ(pc_.ReadControl(), 0xFA);
}

TEST_F(SimLink, JournalStreamsWithTheContinuationBitAndEndsWithStatus9) {
  const auto frames = pc_.Command(kJournal);
  ASSERT_GE(frames.size(), 3U);
  Bytes records;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    ASSERT_GE(frames[i].size(), 3U);
    EXPECT_LE(frames[i].size(), 255U);
    EXPECT_EQ(frames[i][0], 0x01);
    EXPECT_EQ(frames[i][1], 0x0F);
    EXPECT_EQ(frames[i][2], i + 1 == frames.size() ? 9 : 0);
    records.insert(records.end(), frames[i].begin() + 3, frames[i].end());
  }
  Bytes expected;
  for (const auto& r : sim_->State().journal) expected.insert(expected.end(), r.begin(), r.end());
  EXPECT_EQ(records, expected);
}

TEST_F(SimLink, ReceiptWithoutContinuationStopsTheStream) {
  pc_.SendControl(0xC5);
  ASSERT_EQ(pc_.ReadControl(), 0xE5);
  pc_.SendRequest(kAllGoods, true);
  ASSERT_EQ(pc_.ReadControl(), 0xFA);
  Bytes payload;
  bool more = false;
  ASSERT_TRUE(pc_.ReceiveAnswer(payload, more, /*wantMore=*/false));  // ACK 0xCA
  EXPECT_EQ(payload.size(), 67U);
  EXPECT_TRUE(pc_.Quiet());
  EXPECT_EQ(sim_->Stats().streamLeft, 0U);
  // A pure poll afterwards finds nothing pending.
  pc_.SendControl(0xC5);
  EXPECT_EQ(pc_.ReadControl(), 0xE5);
}

TEST_F(SimLink, DiscEndsAStreamAndTheNextCommandWorks) {
  pc_.SendControl(0xC5);
  ASSERT_EQ(pc_.ReadControl(), 0xE5);
  pc_.SendRequest(kJournal, true);
  ASSERT_EQ(pc_.ReadControl(), 0xFA);
  ++pc_.tx;
  Bytes payload;
  bool more = false;
  ASSERT_TRUE(pc_.ReceiveAnswer(payload, more));  // ACK 0xDA: the next frame comes
  ASSERT_TRUE(more);
  const int h = pc_.ReadControl();
  ASSERT_EQ(h & 0xC0, 0x80);
  ASSERT_TRUE(pc_.ReadFrame(payload));
  pc_.SendControl(0xC0);  // DISC instead of a receipt
  EXPECT_TRUE(pc_.Quiet());
  EXPECT_EQ(sim_->Stats().streamLeft, 0U);
  // The unacknowledged frame is not counted; the PC did not count it either.
  EXPECT_EQ(pc_.One(kGetInfo).size(), 44U);
}

TEST_F(SimLink, AbandonedAnswerIsPolledAgainUntilDropped) {
  pc_.SendControl(0xC5);
  ASSERT_EQ(pc_.ReadControl(), 0xE5);
  pc_.SendRequest(kAllGoods, true);
  ASSERT_EQ(pc_.ReadControl(), 0xFA);
  ++pc_.tx;
  const int h = pc_.ReadControl();
  Bytes first;
  ASSERT_TRUE(pc_.ReadFrame(first));
  // The PC gives up without a receipt; its next poll gets the same frame.
  pc_.SendControl(0xC5);
  EXPECT_EQ(pc_.ReadControl(), h);
  Bytes again;
  ASSERT_TRUE(pc_.ReadFrame(again));
  EXPECT_EQ(again, first);
  auto stats = sim_->Stats();
  EXPECT_TRUE(stats.unacknowledged);
  EXPECT_EQ(stats.streamLeft, sim_->State().goods.size() - 1);
  sim_->DropPendingAnswer();
  stats = sim_->Stats();
  EXPECT_FALSE(stats.unacknowledged);
  EXPECT_EQ(stats.streamLeft, 0U);
  pc_.SendControl(0xC5);
  EXPECT_EQ(pc_.ReadControl(), 0xE5);
}

TEST_F(SimLink, AllGoodsStreamInCodeOrder) {
  const auto frames = pc_.Command(kAllGoods);
  const auto state = sim_->State();
  ASSERT_EQ(frames.size(), state.goods.size());
  auto it = state.goods.begin();
  for (const auto& f : frames) {
    ASSERT_EQ(f.size(), 67U);
    EXPECT_EQ(f[2], 0);
    Goods g;
    ASSERT_TRUE(DecodeGoods(&f[3], g));
    EXPECT_EQ(g, it->second);
    ++it;
  }
}

TEST_F(SimLink, FaultsOnTheAnswerFrame) {
  // Bad check byte: the PC asks again with 0xC6 and gets a good copy.
  ASSERT_TRUE(sim_->AddFault("crc"));
  pc_.SendControl(0xC5);
  ASSERT_EQ(pc_.ReadControl(), 0xE5);
  pc_.SendRequest(kGetInfo, true);
  ASSERT_EQ(pc_.ReadControl(), 0xFA);
  ++pc_.tx;
  int h = pc_.ReadControl();
  ASSERT_EQ(h, 0xA0 | (pc_.rx & 7));
  Bytes payload;
  EXPECT_FALSE(pc_.ReadFrame(payload));
  pc_.SendControl(0xC6);
  bool more = false;
  ASSERT_TRUE(pc_.ReceiveAnswer(payload, more));
  EXPECT_EQ(payload.size(), 44U);
  pc_.SendControl(0xC0);
  EXPECT_EQ(sim_->FaultsFired(FaultKind::Crc), 1);

  // Wrong packet number: SYN from the PC clears the counters and the frame
  // comes again as number 0.
  ASSERT_TRUE(sim_->AddFault("seq"));
  pc_.SendControl(0xC5);
  ASSERT_EQ(pc_.ReadControl(), 0xE5);
  pc_.SendRequest(kGetInfo, true);
  ASSERT_EQ(pc_.ReadControl(), 0xFA);
  ++pc_.tx;
  h = pc_.ReadControl();
  EXPECT_EQ(h & 7, (pc_.rx + 1) & 7);
  ASSERT_TRUE(pc_.ReadFrame(payload));
  pc_.rx = pc_.tx = 0;
  pc_.SendControl(0xCC);  // SYN
  ASSERT_TRUE(pc_.ReceiveAnswer(payload, more));
  EXPECT_EQ(payload.size(), 44U);
  pc_.SendControl(0xC0);
  pc_.SendControl(0xC5);
  ASSERT_EQ(pc_.ReadControl(), 0xE5);
  EXPECT_EQ(sim_->Stats().txSeq, 1);
  EXPECT_EQ(sim_->Stats().rxSeq, 0);
  EXPECT_EQ(pc_.One(kGetInfo).size(), 44U);  // numbering runs on from there
}

TEST_F(SimLink, DroppedAndExtraBytes) {
  const Bytes info = pc_.One(kGetInfo);
  const Bytes whole = Frame(info);
  ASSERT_GE(whole.size(), 2U);
  const Bytes expected(whole.begin(), whole.end() - 2);  // all but the last two bytes
  ASSERT_TRUE(sim_->AddFault("drop=2"));
  pc_.SendControl(0xC5);
  ASSERT_EQ(pc_.ReadControl(), 0xE5);
  pc_.SendRequest(kGetInfo, true);
  ASSERT_EQ(pc_.ReadControl(), 0xFA);
  ++pc_.tx;
  ASSERT_EQ(pc_.ReadControl() & 0xC0, 0x80);
  EXPECT_EQ(pc_.Read(expected.size()), expected);
  EXPECT_TRUE(pc_.Quiet());
  // The next poll fetches the frame again, whole.
  pc_.SendControl(0xC5);
  Bytes payload;
  bool more = false;
  ASSERT_TRUE(pc_.ReceiveAnswer(payload, more));
  EXPECT_EQ(payload.size(), 44U);
  pc_.SendControl(0xC0);

  ASSERT_TRUE(sim_->AddFault("extra=3"));
  pc_.SendControl(0xC5);
  ASSERT_EQ(pc_.ReadControl(), 0xE5);
  pc_.SendRequest(kGetInfo, true);
  ASSERT_EQ(pc_.ReadControl(), 0xFA);
  ++pc_.tx;
  ASSERT_TRUE(pc_.ReceiveAnswer(payload, more));
  EXPECT_EQ(pc_.Read(3), (Bytes{0xA5, 0xA5, 0xA5}));
  EXPECT_TRUE(pc_.Quiet());
  pc_.SendControl(0xC0);
}

TEST_F(SimLink, LostAndGarbledBytes) {
  const Bytes info = pc_.One(kGetInfo);
  const Bytes whole = Frame(info);
  Bytes lost = whole;
  lost.erase(lost.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2));  // a byte from the middle
  ASSERT_TRUE(sim_->AddFault("lose"));
  pc_.SendControl(0xC5);
  ASSERT_EQ(pc_.ReadControl(), 0xE5);
  pc_.SendRequest(kGetInfo, true);
  ASSERT_EQ(pc_.ReadControl(), 0xFA);
  ++pc_.tx;
  ASSERT_EQ(pc_.ReadControl() & 0xC0, 0x80);
  EXPECT_EQ(pc_.Read(100, simtest::kSilenceWait), lost);
  pc_.SendControl(0xC0);

  // A garbled control packet: its address byte changed, its check byte as sent.
  ASSERT_TRUE(sim_->AddFault("garble"));
  pc_.SendControl(0xC5);
  EXPECT_EQ(pc_.Read(5, simtest::kAnswerWait), (Bytes{0x7F, 0x02, 0x01 ^ 0x5A, 0xE5, 0x1A}));
  pc_.SendControl(0xC5);
  EXPECT_EQ(pc_.ReadControl(), 0xE5);
  EXPECT_EQ(sim_->FaultsFired(FaultKind::Garble), 1);
}

TEST_F(SimLink, PollFaults) {
  constexpr int kSilent = -1, kBadCheck = -2;
  struct Case {
    const char* faultText;
    std::vector<int> answers;  // what answers consecutive polls
  };
  const Case cases[] = {
      {"busy", {0xE9, 0xE5}},
      {"rej*2", {0xE3, 0xE3, 0xE5}},
      {"busy*inf", {0xE9, 0xE9, 0xE9, 0xE9, 0xE9, 0xE9}},
      {"silence*2", {kSilent, kSilent, 0xE5}},
      {"silence*inf", {kSilent, kSilent, kSilent}},
      {"ctlcrc", {kBadCheck, 0xE5}},
  };
  for (const auto& c : cases) {
    sim_->ClearFaults();
    ASSERT_TRUE(sim_->AddFault(c.faultText));
    for (std::size_t i = 0; i < c.answers.size(); ++i) {
      pc_.SendControl(0xC5);
      if (c.answers[i] == kSilent) {
        EXPECT_TRUE(pc_.Quiet()) << c.faultText << " poll " << i;
      } else if (c.answers[i] == kBadCheck) {
        const Bytes got = pc_.Read(5);
        ASSERT_EQ(got.size(), 5U) << c.faultText;
        EXPECT_EQ(got[3], 0xE5);
        EXPECT_NE(static_cast<std::uint8_t>(got[2] + got[3] + got[4]), 0) << c.faultText;
      } else {
        EXPECT_EQ(pc_.ReadControl(), c.answers[i]) << c.faultText << " poll " << i;
      }
    }
  }
  EXPECT_EQ(sim_->FaultsFired(FaultKind::Silence), 5);
  sim_->ClearFaults();
  ASSERT_TRUE(sim_->AddFault("flood=10"));
  pc_.SendControl(0xC5);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(pc_.ReadControl(), 0xEA) << i;
  EXPECT_TRUE(pc_.Quiet());
}

TEST_F(SimLink, WaitThenTheAnswerInTheThirdCycle) {
  ASSERT_TRUE(sim_->AddFault("wait=2"));
  pc_.SendControl(0xC5);
  ASSERT_EQ(pc_.ReadControl(), 0xE5);
  pc_.SendRequest(kGetInfo, true);
  ASSERT_EQ(pc_.ReadControl(), 0xFA);
  ++pc_.tx;
  EXPECT_EQ(pc_.ReadControl(), 0xE7);  // WAIT ends cycle 1
  pc_.SendControl(0xC5);
  EXPECT_EQ(pc_.ReadControl(), 0xE7);  // cycle 2
  pc_.SendControl(0xC5);               // cycle 3: the answer
  Bytes payload;
  bool more = false;
  ASSERT_TRUE(pc_.ReceiveAnswer(payload, more));
  EXPECT_EQ(payload.size(), 44U);
  pc_.SendControl(0xC0);
}

// Faults armed with a chance fire on the line as often as asked; the polls
// they pass by are answered as usual.
TEST_F(SimLink, ChanceFaultsHitAShareOfThePolls) {
  sim_->SeedFaults(11);
  ASSERT_TRUE(sim_->AddFault("busy@25*inf"));
  int busy = 0;
  for (int i = 0; i < 200; ++i) {
    pc_.SendControl(0xC5);
    const int answer = pc_.ReadControl();
    ASSERT_TRUE(answer == 0xE5 || answer == 0xE9) << i << ": " << answer;
    busy += answer == 0xE9 ? 1 : 0;
  }
  EXPECT_EQ(busy, sim_->FaultsFired(FaultKind::Busy));
  EXPECT_GT(busy, 20);  // 50 expected
  EXPECT_LT(busy, 85);
}

// A paused register is a stopped process: it answers nothing; after a short
// pause it answers what came meanwhile, after one longer than kStallLimit it
// has heard nothing of it and has given up its pending answer.
TEST_F(SimLink, PausedRegisterAnswersAfterAShortPauseAndDropsWhatCameInALongOne) {
  using namespace std::chrono_literals;
  sim_->Pause();
  EXPECT_TRUE(sim_->Paused());
  pc_.SendControl(0xC5);
  EXPECT_TRUE(pc_.Quiet(300ms));
  sim_->Resume();
  EXPECT_EQ(pc_.ReadControl(), 0xE5);
  EXPECT_EQ(sim_->Stalls(), 0);

  // A goods answer waits for its poll when the register stops.
  pc_.SendControl(0xC5);
  ASSERT_EQ(pc_.ReadControl(), 0xE5);
  pc_.SendRequest(Bytes{0x01, 0x10, 0x03, 0x00}, false);
  ASSERT_EQ(pc_.ReadControl(), 0xEA);
  ++pc_.tx;
  sim_->Pause();
  pc_.SendControl(0xC5);
  std::this_thread::sleep_for(kStallLimit + 300ms);  // the pause, at least this long
  EXPECT_TRUE(pc_.Quiet());
  sim_->Resume();
  EXPECT_TRUE(simtest::WaitUntil([&] { return sim_->Stalls() == 1; }));
  EXPECT_TRUE(pc_.Quiet(300ms));  // the poll was not heard
  EXPECT_GE(sim_->LongestStall(), kStallLimit);
  pc_.SendControl(0xC5);
  EXPECT_EQ(pc_.ReadControl(), 0xE5);  // nothing pending any more
  EXPECT_EQ(pc_.One(kGetInfo).size(), 44U);
}

TEST_F(SimLink, ResultFaultHitsOnlyItsCommand) {
  ASSERT_TRUE(sim_->AddFault("result=16:3*2"));
  EXPECT_EQ(pc_.One(kGetInfo)[2], 0);
  for (int i = 0; i < 2; ++i) {
    const Bytes a = pc_.One(Bytes{0x01, 0x10, 0x01, 0x00}, false);
    EXPECT_EQ(a, (Bytes{0x01, 0x10, 0x03}));
  }
  EXPECT_EQ(pc_.One(Bytes{0x01, 0x10, 0x01, 0x00}, false)[2], 0);
}

TEST_F(SimLink, PcCanCloseAndReopenTheLine) {
  EXPECT_EQ(pc_.One(kGetInfo).size(), 44U);
  for (int i = 0; i < 3; ++i) {
    // Opening flushes the line, so the last receipt must have been read
    // before the PC goes away (the program waits after its DISC as well).
    EXPECT_TRUE(Heard());
    EXPECT_TRUE(pc_.Quiet());
    pc_.Close();
    ASSERT_TRUE(pc_.Open(slave_));
    EXPECT_EQ(pc_.One(kGetInfo).size(), 44U) << "reopen " << i;
  }
  // Half a packet left by a PC that went away is dropped after a silence.
  pc_.Send(Bytes{0x7F, 0x02, 0x01});
  ASSERT_TRUE(Heard());
  pc_.Close();
  std::this_thread::sleep_for(kReceiverIdleReset + std::chrono::milliseconds(100));  // the silence
  ASSERT_TRUE(pc_.Open(slave_));
  EXPECT_EQ(pc_.One(kGetInfo).size(), 44U);
}

TEST_F(SimLink, RawLineKeepsControlCharacters) {
  // 0A 0D 03 11 13 7F inside a printed line travel unchanged both ways.
  Bytes req{0x01, 0x19, 0x00, 0x05};
  const Bytes text{0x0A, 0x0D, 0x03, 0x11, 0x13, 0x7F, 0x41};
  req.insert(req.end(), text.begin(), text.end());
  req.resize(36, 0);
  req.insert(req.end(), {0x0A, 0x0D, 0x00});
  EXPECT_EQ(pc_.One(req), (Bytes{0x01, 0x19, 0x00}));
  const auto printed = sim_->State().printed;
  ASSERT_EQ(printed.size(), 1U);
  EXPECT_EQ(printed[0].text, std::string("\n\r\x03\x11\x13\x7F"
                                         "A"));
}

TEST(SimDevice, ServesAGivenSerialDevice) {
  // A pseudo-terminal pair made here stands for a serial cable: the
  // simulator serves the slave side as a device, the test talks on the master.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  char name[256] = {};
  ASSERT_EQ(::ptsname_r(master, name, sizeof name), 0);
  Simulator sim(simtest::DefaultScenario());
  ASSERT_TRUE(sim.OpenDevice(name, 19200)) << sim.LastError();
  EXPECT_EQ(sim.DevicePath(), name);
  EXPECT_FALSE(sim.OpenDevice(name, 19200));  // one device at a time
  ASSERT_TRUE(sim.Start());
  EXPECT_FALSE(sim.Start());
  const Bytes poll = Control(kAddr, 0xC5);
  ASSERT_EQ(::write(master, poll.data(), poll.size()), 5);
  std::uint8_t got[5] = {};
  std::size_t n = 0;
  simtest::WaitUntil([&] {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 10) > 0) {
      const ssize_t r = ::read(master, got + n, 5 - n);
      if (r > 0) n += static_cast<std::size_t>(r);
    }
    return n == 5;
  });
  EXPECT_EQ(Bytes(got, got + n), Control(kAddr, 0xE5));
  sim.Close();
  ::close(master);
  EXPECT_FALSE(sim.OpenDevice("/nonexistent/tty", 9600));
  EXPECT_NE(sim.LastError().find("/nonexistent/tty"), std::string::npos);
}

TEST(SimPacing, PacedLineIsNeverFasterThanTheLineInEitherDirection) {
  Simulator sim(simtest::DefaultScenario());
  std::string slave;
  ASSERT_TRUE(sim.OpenPty(slave));
  constexpr int kBaud = 2400;
  sim.SetPacing(kBaud, true);
  ASSERT_TRUE(sim.Start());
  simtest::PcLine pc;
  ASSERT_TRUE(pc.Open(slave));
  const auto start = std::chrono::steady_clock::now();
  const simtest::Bytes answer = pc.One(kGetInfo);  // ends with the PC's ACK and DISC sent
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(answer.size(), 44U);

  // PC: RDY, data header, frame 00 01 01 7F 03 sum, ACK, DISC. Register:
  // RDY, ACK, data header, frame (lead, payload with 7F doubled, 7F 03, sum).
  constexpr std::uint64_t kFromPc = 5 + 5 + 6 + 5 + 5;
  const auto escapes = static_cast<std::uint64_t>(std::count(answer.begin(), answer.end(), 0x7F));
  const std::uint64_t toPc = 5 + 5 + 5 + 1 + 44 + escapes + 3;
  EXPECT_TRUE(simtest::WaitUntil([&] { return sim.LineByteCounts().fromPc >= kFromPc; }));
  EXPECT_EQ(sim.LineByteCounts().fromPc, kFromPc);
  EXPECT_EQ(sim.LineByteCounts().toPc, toPc);

  // Everything up to the last answer byte crosses the line one byte after
  // the other: the register hears each PC packet whole before it answers,
  // and hands over each of its bytes only when the byte has crossed.
  const std::uint64_t serialBytes = kFromPc - 10 + toPc;  // not the closing ACK and DISC
  const auto lineTime = std::chrono::microseconds(serialBytes * 10 * 1000000 / kBaud);
  EXPECT_GE(elapsed, lineTime);
  // Only a gross fault (a hold per byte) is caught above: a busy machine
  // adds its own delays to every answer.
  EXPECT_LT(elapsed, lineTime + std::chrono::seconds(15));
}

// A PC that stops a journal read sends DISC and then the receipt of the frame
// it took: that frame counts, and the next answer carries the number the PC
// expects, with no resynchronisation.
TEST(SimInMemory, StoppedJournalReadKeepsThePacketNumbersInStep) {
  Scenario sc = simtest::DefaultScenario();
  sc.state.journalFrameLimit = 40;  // a journal of many frames
  Simulator sim(sc);
  EXPECT_EQ(sim.Process(Control(kAddr, 0xC5)), Control(kAddr, 0xE5));
  Bytes out = sim.Process(Cat(Control(kAddr, 0x90), Frame(kJournal)));
  ASSERT_GE(out.size(), 10U);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), Control(kAddr, 0xFA));
  EXPECT_EQ(Bytes(out.begin() + 5, out.begin() + 10), Control(kAddr, 0xB0));  // frame 0, more
  out = sim.Process(Control(kAddr, 0xDA));                                    // frame 0 taken
  ASSERT_GE(out.size(), 5U);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), Control(kAddr, 0xB1));  // frame 1, more
  // The user stops: DISC, then the receipt of frame 1 without the
  // continuation bit. Nothing more is sent.
  EXPECT_TRUE(sim.Process(Bytes{0x7F, 0x02, 0x01, 0xC0, 0x3F}).empty());
  EXPECT_TRUE(sim.Process(Bytes{0x7F, 0x02, 0x01, 0xCA, 0x35}).empty());
  EXPECT_EQ(sim.Stats().txSeq, 2);
  EXPECT_EQ(sim.Stats().streamLeft, 0U);
  // The next command: request number 1, answer number 2, as the PC counts.
  EXPECT_EQ(sim.Process(Control(kAddr, 0xC5)), Control(kAddr, 0xE5));
  out = sim.Process(Cat(Control(kAddr, 0x91), Frame(kGetInfo)));
  ASSERT_GE(out.size(), 10U);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), Control(kAddr, 0xFA));
  EXPECT_EQ(Bytes(out.begin() + 5, out.begin() + 10), Control(kAddr, 0xA2));
  EXPECT_EQ(sim.Stats().resyncs, 0);

  // A receipt that comes after something else than the DISC does not count.
  Simulator other(sc);
  other.Process(Control(kAddr, 0xC5));
  other.Process(Cat(Control(kAddr, 0x90), Frame(kJournal)));
  other.Process(Control(kAddr, 0xC0));
  EXPECT_EQ(other.Process(Control(kAddr, 0xC5)), Control(kAddr, 0xE5));
  EXPECT_TRUE(other.Process(Control(kAddr, 0xCA)).empty());
  EXPECT_EQ(other.Stats().txSeq, 0);
}

// The register's own packets heard back on the line (the direction bit set)
// are not from the PC: neither a poll nor a request, and they do not disturb
// what the PC's packets started.
TEST(SimInMemory, OwnEchoIsIgnored) {
  Simulator sim(simtest::DefaultScenario());
  for (const std::uint8_t c : Bytes{0xE5, 0xEA, 0xFA, 0xE0, 0xEC, 0xEF}) {
    EXPECT_TRUE(sim.Process(Control(kAddr, c)).empty()) << int{c};
  }
  // Its own answer packet, frame and all.
  EXPECT_TRUE(sim.Process(Cat(Control(kAddr, 0xA0), Frame(kGetInfo))).empty());
  EXPECT_TRUE(sim.State().commandsExecuted.empty());
  EXPECT_EQ(sim.Stats().echoes, 7);
  EXPECT_TRUE(sim.Stats().received.empty());
  // The echo of its RDY between the PC's poll and the PC's request.
  EXPECT_EQ(sim.Process(Control(kAddr, 0xC5)), Control(kAddr, 0xE5));
  EXPECT_TRUE(sim.Process(Control(kAddr, 0xE5)).empty());
  const Bytes out = sim.Process(Cat(Control(kAddr, 0x90), Frame(kGetInfo)));
  ASSERT_GE(out.size(), 5U);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), Control(kAddr, 0xFA));
  EXPECT_EQ(sim.State().commandsExecuted, (std::vector<std::uint8_t>{1}));
}

// The PC sends its request when the register asks for it: after the
// register's RDY, SYN (wrong number, send again) or 0xC6 (garbled, send
// again). A data packet after anything else is ignored and not carried out.
TEST(SimInMemory, DataPacketNobodyAskedForIsIgnored) {
  const Bytes request = Cat(Control(kAddr, 0x90), Frame(kGetInfo));
  Bytes garbled = request;
  ++garbled.back();
  struct Case {
    const char* what;
    std::vector<Bytes> before;  // what the PC sends first
    bool carriedOut;
  };
  const std::vector<Case> cases = {
      {"no poll", {}, false},
      {"after RDY", {Control(kAddr, 0xC5)}, true},
      {"after SYN", {Control(kAddr, 0xC5), Cat(Control(kAddr, 0x95), Frame(kGetInfo))}, true},
      {"after 0xC6", {Control(kAddr, 0xC5), garbled}, true},
      {"after the ACK of the same request",
       {Control(kAddr, 0xC5), Cat(Control(kAddr, 0x80), Frame(kGetInfo))},
       false},
      {"after a DISC", {Control(kAddr, 0xC5), Control(kAddr, 0xC0)}, false},
      {"after BUSY", {Control(kAddr, 0xC5)}, false},
      {"after a receipt", {Control(kAddr, 0xCA)}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scenario sc = simtest::DefaultScenario();
    if (std::string(c.what) == "after BUSY") sc.faults.push_back(Fault{FaultKind::Busy, 1, 0, 1});
    Simulator sim(sc);
    for (const Bytes& b : c.before) sim.Process(b);
    const auto executed = sim.State().commandsExecuted.size();
    const Bytes out = sim.Process(request);
    EXPECT_EQ(sim.State().commandsExecuted.size(), executed + (c.carriedOut ? 1 : 0));
    if (c.carriedOut) {
      ASSERT_GE(out.size(), 5U);
      EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), Control(kAddr, 0xFA));
    } else {
      EXPECT_TRUE(out.empty());
      EXPECT_EQ(sim.Stats().uninvited, 1);
    }
  }
}

// A PC that goes away in the middle of a stream is not waited for: after a
// silence the register gives the stream up and a poll finds it idle.
TEST_F(SimLink, StreamNobodyAcknowledgesIsGivenUpAfterASilence) {
  pc_.SendControl(0xC5);
  ASSERT_EQ(pc_.ReadControl(), 0xE5);
  // The PC is silent from its request on, so the register's silence began
  // after `silentSince`.
  const auto silentSince = std::chrono::steady_clock::now();
  pc_.SendRequest(kAllGoods, true);
  ASSERT_EQ(pc_.ReadControl(), 0xFA);
  ASSERT_EQ(pc_.ReadControl() & 0xC0, 0x80);
  Bytes first;
  ASSERT_TRUE(pc_.ReadFrame(first));
  // Shorter silences keep it (a PC between two poll cycles); on a busy
  // machine the check may come too late to tell.
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  const bool kept = sim_->Stats().unacknowledged;
  if (std::chrono::steady_clock::now() - silentSince < kAnswerGiveUp) {
    EXPECT_TRUE(kept);
  }
  EXPECT_TRUE(simtest::WaitUntil([&] { return sim_->Stats().abandoned == 1; }, kAnswerGiveUp + simtest::kAnswerWait));
  EXPECT_GE(std::chrono::steady_clock::now() - silentSince, kAnswerGiveUp);
  const auto stats = sim_->Stats();
  EXPECT_FALSE(stats.unacknowledged);
  EXPECT_EQ(stats.streamLeft, 0U);
  EXPECT_EQ(stats.abandoned, 1);
  pc_.SendControl(0xC5);
  EXPECT_EQ(pc_.ReadControl(), 0xE5);
}

TEST(SimInMemory, ProcessPlaysBytesWithoutADevice) {
  Simulator sim(simtest::DefaultScenario());
  EXPECT_EQ(sim.Process(Control(kAddr, 0xC5)), Control(kAddr, 0xE5));
  const Bytes out = sim.Process(Cat(Control(kAddr, 0x90), Frame(kGetInfo)));
  ASSERT_GE(out.size(), 10U);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), Control(kAddr, 0xFA));
  EXPECT_EQ(Bytes(out.begin() + 5, out.begin() + 10), Control(kAddr, 0xA0));
  EXPECT_FALSE(sim.Start());  // no device

  // Faults of a scenario are armed from the start.
  Scenario sc = simtest::DefaultScenario();
  sc.faults.push_back(Fault{FaultKind::Busy, 1, 0, 1});
  Simulator busy(sc);
  EXPECT_EQ(busy.ArmedFaults().size(), 1U);
  EXPECT_EQ(busy.Process(Control(kAddr, 0xC5)), Control(kAddr, 0xE9));
  EXPECT_EQ(busy.Process(Control(kAddr, 0xC5)), Control(kAddr, 0xE5));
  EXPECT_TRUE(busy.ArmedFaults().empty());
  EXPECT_FALSE(busy.AddFault("nope"));
  EXPECT_NE(busy.LastError().find("nope"), std::string::npos);
}

}  // namespace
}  // namespace zarvik::sim
