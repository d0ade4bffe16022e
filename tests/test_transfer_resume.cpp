// Long transfers on a bad line: streamed reads and goods writes that go on
// where they stopped. First against small registers written here (exact
// requests and counts), then against the register simulator with its faults
// (the data must equal the simulator's).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "Simulator.h"
#include "port/Comport.h"
#include "port/PortDevices.h"
#include "protocol/TransferResume.h"
#include "protocol/U_protocolkkm.h"
#include "protocol_test_support.h"

namespace zarvik {
namespace {

using test::Bytes;
using test::Cat;
using test::RCtl;
using test::RData;
using namespace std::chrono_literals;

// A goods answer of a stream: 01 10 00, then a 64-byte record with `code`.
Bytes GoodsFrame(int code) {
  Bytes f(3 + kGoodsRecordSize, 0);
  f[0] = 0x01;
  f[1] = 0x10;
  f[3] = 0xAA;
  const int digits[3] = {code % 100, code / 100 % 100, code / 10000};
  for (int i = 0; i < 3; ++i)
    f[3 + 2 + static_cast<std::size_t>(i)] =
        static_cast<std::uint8_t>((digits[i] / 10) << 4 | digits[i] % 10);
  f[3 + 5] = static_cast<std::uint8_t>('A' + code % 26);
  return f;
}

Bytes Unstuff(std::span<const std::uint8_t> w) {
  Bytes payload;
  for (std::size_t i = 1; i + 3 < w.size(); ++i) {
    payload.push_back(w[i]);
    if (w[i] == kEscapedByte) ++i;
  }
  return payload;
}

// A register that streams `frames(request)` and falls silent after
// `silentAfter` frames of a stream, until the PC sends DISC (as a register
// that lost the line and found it again) or, with `deaf`, for good.
class StreamingRegister {
 public:
  using Frames = std::function<std::vector<Bytes>(const Bytes& request)>;
  StreamingRegister(TScriptedStream& line, Frames frames) : line_(line), frames_(std::move(frames)) {
    line_.onWrite = [this](std::span<const std::uint8_t> w) { OnWrite(w); };
  }
  ~StreamingRegister() { line_.onWrite = nullptr; }

  int silentAfter = -1;  // -1: never
  bool deaf = false;
  std::vector<Bytes> requests;

 private:
  void OnWrite(std::span<const std::uint8_t> w) {
    if (w.size() == kControlPacketSize && w[0] == kFrameStart && w[1] == kControlMark) {
      const std::uint8_t c = w[3];
      if (IsDataHeader(c)) return;
      const std::uint8_t kind = ControlKind(c);
      if (kind == kDISC) {
        stream_.clear();
        if (!deaf) silent_ = false;
        return;
      }
      if (IsResyncKind(c)) seq_ = 0;
      if (silent_) return;
      if (kind == kRDY) {
        line_.Feed(RCtl(kRDY));
      } else if (kind == kACK) {
        ++seq_;
        if ((c & kContinuationBit) != 0) SendNext();
      }
      return;
    }
    if (w.empty() || w[0] != kDataLeadByte || silent_) return;
    const Bytes request = Unstuff(w);
    requests.push_back(request);
    const std::vector<Bytes> frames = frames_(request);
    stream_.assign(frames.begin(), frames.end());
    sentInStream_ = 0;
    line_.Feed(RCtl(kACK | kContinuationBit));
    SendNext();
  }
  void SendNext() {
    if (stream_.empty()) return;
    if (silentAfter >= 0 && sentInStream_ == silentAfter) {
      silent_ = true;
      return;
    }
    const Bytes f = stream_.front();
    stream_.erase(stream_.begin());
    ++sentInStream_;
    line_.Feed(RData(seq_, !stream_.empty(), f));
  }

  TScriptedStream& line_;
  Frames frames_;
  std::vector<Bytes> stream_;
  std::uint8_t seq_ = 0;
  int sentInStream_ = 0;
  bool silent_ = false;
};

struct ScriptedResume : ::testing::Test {
  ScriptedResume() {
    protocol.SetLine(&line);
    protocol.waits = kNoLinkWaits;
    protocol.sleep = [this](std::chrono::milliseconds d) { slept.push_back(d); };
    kkm.Info().maxCountGoods = 100;
  }
  // Goods 1..`count` from the request's code on.
  static StreamingRegister::Frames Goods(int count) {
    return [count](const Bytes& request) {
      const int first =
          (request[2] >> 4) * 10 + (request[2] & 0x0F) + ((request[3] >> 4) * 10 + (request[3] & 0x0F)) * 100;
      std::vector<Bytes> frames;
      for (int code = first; code <= count; ++code) frames.push_back(GoodsFrame(code));
      return frames;
    };
  }
  TKKM kkm;
  TScriptedStream line;
  TProtocolKKM protocol{&kkm};
  std::vector<std::chrono::milliseconds> slept;
};

int CodeOf(const TMessageBuffer& a) {
  const auto v = a.View();
  return (v[5] >> 4) * 10 + (v[5] & 0x0F) + ((v[6] >> 4) * 10 + (v[6] & 0x0F)) * 100;
}

TEST_F(ScriptedResume, GoodsStreamGoesOnFromTheNextCode) {
  StreamingRegister reg(line, Goods(6));
  reg.silentAfter = 2;  // in the first stream only: DISC brings it back
  std::vector<int> codes;
  int resumedAt = 0;
  TResumeControl control;
  control.onResume = [&](int n) {
    resumedAt = n;
    reg.silentAfter = -1;
  };
  ASSERT_TRUE(ReadAllGoodsResuming(
      protocol, [&](TMessageBuffer& a, bool&) { codes.push_back(CodeOf(a)); }, control));
  EXPECT_EQ(codes, (std::vector<int>{1, 2, 3, 4, 5, 6}));
  ASSERT_EQ(reg.requests.size(), 2u);
  EXPECT_EQ(reg.requests[0], (Bytes{0x01, 0x10, 0x01, 0x00}));
  EXPECT_EQ(reg.requests[1], (Bytes{0x01, 0x10, 0x03, 0x00}));
  EXPECT_EQ(resumedAt, 1);
  EXPECT_EQ(protocol.lineCounts.resumptions, 1);
  EXPECT_EQ(std::count(slept.begin(), slept.end(), kResumePause), 1);
}

TEST_F(ScriptedResume, GoodsStreamBeyondTheReportedNumbersStartsAgainAndSkips) {
  kkm.Info().maxCountGoods = 2;  // the register said 2; it holds more
  StreamingRegister reg(line, Goods(4));
  reg.silentAfter = 2;
  std::vector<int> codes;
  TResumeControl control;
  control.onResume = [&](int) { reg.silentAfter = -1; };
  ASSERT_TRUE(ReadAllGoodsResuming(
      protocol, [&](TMessageBuffer& a, bool&) { codes.push_back(CodeOf(a)); }, control));
  EXPECT_EQ(codes, (std::vector<int>{1, 2, 3, 4}));
  ASSERT_EQ(reg.requests.size(), 2u);
  EXPECT_EQ(reg.requests[1], (Bytes{0x01, 0x10, 0x01, 0x00}));
}

TEST_F(ScriptedResume, ARegisterThatStaysAwayIsGivenUpAfterTheBound) {
  StreamingRegister reg(line, Goods(6));
  reg.silentAfter = 2;
  reg.deaf = true;
  std::vector<int> codes;
  EXPECT_FALSE(
      ReadAllGoodsResuming(protocol, [&](TMessageBuffer& a, bool&) { codes.push_back(CodeOf(a)); }, {}));
  EXPECT_EQ(codes, (std::vector<int>{1, 2}));
  EXPECT_EQ(protocol.lineCounts.resumptions, kMaxResumptionsInRow);
}

TEST_F(ScriptedResume, ALineThatFailsEveryFewRecordsIsGivenUpAfterTheTotalBound) {
  StreamingRegister reg(line, Goods(99));
  reg.silentAfter = 2;  // every stream breaks off after two records
  std::vector<int> codes;
  EXPECT_FALSE(
      ReadAllGoodsResuming(protocol, [&](TMessageBuffer& a, bool&) { codes.push_back(CodeOf(a)); }, {}));
  EXPECT_EQ(protocol.lineCounts.resumptions, kMaxResumptions);
  // Each stream brought its two records, once each, in order.
  ASSERT_EQ(codes.size(), static_cast<std::size_t>(2 * (kMaxResumptions + 1)));
  for (std::size_t i = 0; i < codes.size(); ++i) EXPECT_EQ(codes[i], static_cast<int>(i) + 1);
}

TEST_F(ScriptedResume, AStopByTheUserIsNeverResumed) {
  StreamingRegister reg(line, Goods(6));
  reg.silentAfter = 2;
  bool stop = false;
  TResumeControl control;
  control.stopRequested = [&] { return stop; };
  int resumed = 0;
  control.onResume = [&](int) { ++resumed; };
  EXPECT_FALSE(ReadAllGoodsResuming(
      protocol, [&](TMessageBuffer&, bool&) { stop = true; }, control));
  EXPECT_EQ(resumed, 0);
  EXPECT_EQ(reg.requests.size(), 1u);
  EXPECT_EQ(protocol.lineCounts.resumptions, 0);
}

// Journal replies of whole records (a repeat print by an operator: CB,
// the operator, the last byte).
std::vector<Bytes> JournalFrames(std::uint8_t firstOperator) {
  return {{0x01, 0x0F, 0x00, 0xCB, firstOperator, 0xAA},
          {0x01, 0x0F, 0x00, 0xCB, 0x02, 0xAA},
          {0x01, 0x0F, 0x00, 0xCB, 0x03, 0xAA},
          {0x01, 0x0F, 0x09}};
}

TEST_F(ScriptedResume, JournalStartsAgainAndSkipsWhatCameAlready) {
  StreamingRegister reg(line, [](const Bytes&) { return JournalFrames(0x01); });
  reg.silentAfter = 2;
  std::vector<Bytes> got;
  TResumeControl control;
  control.onResume = [&](int) { reg.silentAfter = -1; };
  ASSERT_TRUE(ReadJournalResuming(
      protocol,
      [&](TMessageBuffer& a, bool& more) {
        const auto v = a.View();
        got.emplace_back(v.begin(), v.end());
        if (TProtocolKKM::AnswerCode(a) == 9) more = false;
      },
      control));
  EXPECT_EQ(got, JournalFrames(0x01));
  EXPECT_EQ(reg.requests.size(), 2u);
  EXPECT_EQ(protocol.lineCounts.resumptions, 1);
}

TEST_F(ScriptedResume, AJournalThatChangedMeanwhileFailsInsteadOfMixing) {
  std::uint8_t first = 0x01;
  StreamingRegister reg(line, [&](const Bytes&) { return JournalFrames(first); });
  reg.silentAfter = 2;
  std::vector<Bytes> got;
  TResumeControl control;
  control.onResume = [&](int) {
    reg.silentAfter = -1;
    first = 0x04;
  };
  EXPECT_FALSE(ReadJournalResuming(
      protocol,
      [&](TMessageBuffer& a, bool&) {
        const auto v = a.View();
        got.emplace_back(v.begin(), v.end());
      },
      control));
  EXPECT_EQ(got.size(), 2u);
}

// ---------------------------------------------------------------------------
// Against the simulator.

constexpr int kSimPort = 202;
constexpr int kShopGoods = 400;

sim::RegisterState Shop() {
  sim::RegisterState s;
  s.serialNumber = "000123456789";
  s.version = "B 3";
  s.maxCountDepat = 4;
  s.goodsCapacity = 2000;
  for (int code = 1; code <= kShopGoods; ++code) s.goods[code] = sim::GeneratedGoods(code, s.maxCountDepat);
  for (std::uint64_t r = 0; r < 60; ++r) {
    s.journal.push_back(sim::SumRecord(0xA1, 0, 1000 + r, 4550, 1, 1));
    s.journal.push_back(sim::PaymentRecord(0, 0, 4550, 5000));
    s.journal.push_back(sim::CloseRecord(0, 1, "31.12.25", "12:00", true, 1));
  }
  return s;
}

class SimResume : public ::testing::Test {
 protected:
  void SetUp() override {
    simulator = std::make_unique<sim::Simulator>(Shop());
    std::string slave;
    ASSERT_TRUE(simulator->OpenPty(slave)) << simulator->LastError();
    SetPortDevice(kSimPort, slave);
    ASSERT_TRUE(simulator->Start());
    ASSERT_TRUE(port.SetPortNumber(kSimPort));
    ASSERT_TRUE(port.Open());
    protocol.waits = kNoLinkWaits;
    kkm.Info().maxCountGoods = 2000;
  }
  void TearDown() override {
    if (resumer.joinable()) resumer.join();
    port.Close();
    if (simulator) simulator->Close();
    SetPortDevice(kSimPort, "");
  }
  // A fault armed when the stream has brought `after` frames.
  std::function<void(int)> ArmAt(int after, std::function<void()> arm) {
    return [after, arm = std::move(arm)](int frames) {
      if (frames == after) arm();
    };
  }

  std::unique_ptr<sim::Simulator> simulator;
  TComPort port;
  TKKM kkm{&port};
  TProtocolKKM protocol{&kkm};
  std::thread resumer;
};

struct NoiseCase {
  const char* what;
  const char* fault;  // armed from the start (chance faults) or in the middle
  bool inTheMiddle;
  bool silence2s;
};

const NoiseCase kNoiseCases[] = {
    {"junk bytes after frames", "extra=3@8*inf", false, false},
    {"a byte dropped inside frames", "lose@4*inf", false, false},
    {"a burst garbling several packets", "garble*7", true, false},
    {"the register silent for 2 s", "", true, true},
};

TEST_F(SimResume, GoodsReadGetsThroughAndEqualsTheRegister) {
  for (const NoiseCase& c : kNoiseCases) {
    SCOPED_TRACE(c.what);
    simulator->ClearFaults();
    protocol.lineCounts = {};
    if (!c.inTheMiddle) {
      ASSERT_TRUE(simulator->AddFault(c.fault));
    }
    std::vector<Bytes> got;
    const bool ok = ReadAllGoodsResuming(protocol,
                                         [&](TMessageBuffer& a, bool&) {
                                           const auto v = a.View();
                                           got.emplace_back(v.begin(), v.end());
                                           if (got.size() != kShopGoods / 2 || !c.inTheMiddle) return;
                                           if (c.silence2s) {
                                             simulator->Pause();
                                             if (resumer.joinable()) resumer.join();
                                             resumer = std::thread([this] {
                                               std::this_thread::sleep_for(2s);
                                               simulator->Resume();
                                             });
                                           } else {
                                             simulator->AddFault(c.fault);
                                           }
                                         },
                                         {});
    if (resumer.joinable()) resumer.join();
    EXPECT_TRUE(ok);
    sim::RegisterState copy = simulator->State();
    const std::vector<Bytes> expected = sim::ExecuteCommand(copy, Bytes{0x01, 0x10, 0x01, 0x00}, true);
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(kShopGoods));
    EXPECT_EQ(got == expected, true) << "got " << got.size() << " records";
    EXPECT_TRUE(protocol.lineCounts.Any());
  }
}

TEST_F(SimResume, JournalReadGetsThroughAndEqualsTheRegister) {
  for (const NoiseCase& c : kNoiseCases) {
    SCOPED_TRACE(c.what);
    simulator->ClearFaults();
    protocol.lineCounts = {};
    if (!c.inTheMiddle) {
      ASSERT_TRUE(simulator->AddFault(c.fault));
    }
    std::vector<Bytes> got;
    const bool ok = ReadJournalResuming(protocol,
                                        [&](TMessageBuffer& a, bool& more) {
                                          const auto v = a.View();
                                          got.emplace_back(v.begin(), v.end());
                                          if (TProtocolKKM::AnswerCode(a) == 9) more = false;
                                          if (got.size() != 3 || !c.inTheMiddle) return;
                                          if (c.silence2s) {
                                            simulator->Pause();
                                            if (resumer.joinable()) resumer.join();
                                            resumer = std::thread([this] {
                                              std::this_thread::sleep_for(2s);
                                              simulator->Resume();
                                            });
                                          } else {
                                            simulator->AddFault(c.fault);
                                          }
                                        },
                                        {});
    if (resumer.joinable()) resumer.join();
    EXPECT_TRUE(ok);
    sim::RegisterState copy = simulator->State();
    const std::vector<Bytes> expected = sim::ExecuteCommand(copy, Bytes{0x01, 0x0F, 0x00, 0x00}, true);
    ASSERT_GT(expected.size(), 4u);
    EXPECT_EQ(got == expected, true) << "got " << got.size() << " frames of " << expected.size();
  }
}

TEST_F(SimResume, GoodsWriteGetsThroughAndTheRegisterHoldsWhatWasWritten) {
  ASSERT_TRUE(protocol.GetInfo());
  TKKMInfo& info = kkm.Info();
  info.keepSoldCount = true;
  for (const NoiseCase& c : kNoiseCases) {
    SCOPED_TRACE(c.what);
    simulator->ClearFaults();
    protocol.lineCounts = {};
    if (!c.inTheMiddle) {
      ASSERT_TRUE(simulator->AddFault(c.fault));
    }
    // Codes 1..60 get new names; the register's record is the request's.
    for (int code = 1; code <= 60; ++code) {
      if (c.inTheMiddle && code == 30) {
        if (c.silence2s) {
          simulator->Pause();
          resumer = std::thread([this] {
            std::this_thread::sleep_for(2s);
            simulator->Resume();
          });
        } else {
          simulator->AddFault(c.fault);
        }
      }
      sim::Goods g = sim::GeneratedGoods(code, 4);
      g.name = std::string(c.what).substr(0, 20) + " " + std::to_string(code);
      const auto rec = sim::EncodeGoods(g);
      std::copy(rec.begin(), rec.end(), info.GoodsRecord.begin());
      ASSERT_TRUE(SetGoodsResuming(protocol, {})) << code;
    }
    if (resumer.joinable()) resumer.join();
    const sim::RegisterState s = simulator->State();
    for (int code = 1; code <= 60; ++code) {
      ASSERT_EQ(s.goods.count(code), 1u);
      EXPECT_EQ(s.goods.at(code).name, std::string(c.what).substr(0, 20) + " " + std::to_string(code));
    }
  }
}

}  // namespace
}  // namespace zarvik
