// The protocol end to end: the serial port and TProtocolKKM against the
// register simulator serving a pseudo-terminal, with the simulator's faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "Simulator.h"
#include "port/Comport.h"
#include "port/PortDevices.h"
#include "protocol/U_protocolkkm.h"
#include "protocol_test_support.h"
#include "shell/U_language.h"

namespace zarvik {
namespace {

constexpr int kSimPort = 201;

class BoxHooks final : public IUiHooks {
 public:
  void ShowMessageBox(BoxKind, const std::string&, const std::string& text) override {
    boxes.push_back(text);
  }
  std::vector<std::string> boxes;
};

// A small shop: four departments (one closed), taxes, receipt texts, four
// operators, 150 goods and a short journal.
sim::RegisterState ShopState() {
  sim::RegisterState s;
  s.serialNumber = "000123456789";
  s.version = "B 3";
  s.dateTime = "31.12.25 23:59:58";
  s.options.assign(40, 0);
  for (std::size_t i = 0; i < s.options.size(); ++i) s.options[i] = static_cast<std::uint8_t>(i % 7);
  s.maxCountDepat = 4;
  s.departments[0] = {sim::kDepGoods, "Бакалея", 1, 150000};
  s.departments[1] = {sim::kDepService, "Доставка", 2, 0};
  s.departments[2] = {sim::kDepClosed, "", 0, 0};
  s.departments[3] = {sim::kDepGoods, "Молочные продукты", 3, 99999};
  s.taxes[0] = {sim::kInUse, 1, 1850, "НДС 18,5%"};
  s.taxes[1] = {sim::kInUse, 1, 1000, "НДС 10%"};
  s.header[0] = {2, "ООО \"Ромашка\""};
  s.header[1] = {2, "г. Тверь, ул. Мира, 5"};
  s.footer[0] = {1, "Спасибо за покупку!"};
  s.operatorCount = 4;
  s.operatorNames = {"Иванова", "Петров", "Сидорова", "Кузнецов", "", "", "", ""};
  s.positions = {"Кассир", "Старший кассир", "Кассир", "Администратор", "", "", "", ""};
  s.goodsCapacity = 2000;
  for (int code = 1; code <= 150; ++code) s.goods[code] = sim::GeneratedGoods(code, s.maxCountDepat);
  s.journal.push_back(sim::SumRecord(0xA1, 0, 1000, 4550, 1, 1));
  s.journal.push_back(sim::CodeRecord(0xA3, 0, 12, 2000, 5990, 1, 1));
  s.journal.push_back(sim::PaymentRecord(0, 0, 16530, 20000));
  s.journal.push_back(sim::CloseRecord(0, 1, "31.12.25", "12:00", true, 1));
  return s;
}

class ProtocolE2E : public ::testing::Test {
 protected:
  void SetUp() override { Connect(ShopState()); }
  void TearDown() override {
    port.Close();
    if (simulator) simulator->Close();
    SetPortDevice(kSimPort, "");
    SetUiHooks(nullptr);
  }

  void Connect(sim::RegisterState state) {
    simulator = std::make_unique<sim::Simulator>(std::move(state));
    std::string slave;
    ASSERT_TRUE(simulator->OpenPty(slave)) << simulator->LastError();
    SetPortDevice(kSimPort, slave);
    ASSERT_TRUE(simulator->Start());
    ASSERT_TRUE(port.SetPortNumber(kSimPort));
    ASSERT_TRUE(port.Open());
    SetUiHooks(&hooks);
  }
  // Round trips run without the fixed pauses of a real line; the behaviour
  // tests keep them.
  void NoPauses() { protocol.waits = kNoLinkWaits; }
  void Fault(const char* faultText) { ASSERT_TRUE(simulator->AddFault(faultText)) << simulator->LastError(); }
  std::vector<std::uint8_t> PcControls() const { return simulator->Stats().received; }
  // Waits (within a generous bound) until the register has heard `n`
  // DISC packets in all.
  bool DiscsHeard(std::ptrdiff_t n) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
      const auto r = PcControls();
      if (std::count(r.begin(), r.end(), kDISC) >= n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  int PcSent(std::uint8_t control) const {
    const auto r = PcControls();
    return static_cast<int>(std::count(r.begin(), r.end(), control));
  }

  std::unique_ptr<sim::Simulator> simulator;
  TComPort port;
  TKKM kkm{&port};
  TProtocolKKM protocol{&kkm};
  BoxHooks hooks;
};

TEST_F(ProtocolE2E, CommandFollowsTheUsualCourse) {
  ASSERT_TRUE(protocol.GetDepartment(1));
  EXPECT_EQ(PcControls(), (std::vector<std::uint8_t>{kRDY, 0x90, kACK, kDISC}));
  EXPECT_EQ(simulator->Stats().sent, (std::vector<std::uint8_t>{0xE5, 0xFA, 0xA0}));
  EXPECT_EQ(kkm.linkState, lsDone);
  EXPECT_EQ(kkm.info->departments[0].name, "Бакалея");
  EXPECT_DOUBLE_EQ(kkm.info->departments[0].price, 1500.0);

  // Without continuation the answer is fetched by a second poll.
  ASSERT_TRUE(protocol.GetGoods(12));
  const auto r = PcControls();
  EXPECT_EQ(std::vector<std::uint8_t>(r.begin() + 4, r.end()),
            (std::vector<std::uint8_t>{kRDY, 0x81, kRDY, kACK, kDISC}));
}

TEST_F(ProtocolE2E, PacedLineAtThePortSpeed) {
  // The register's bytes leave at 19200 baud, as on a real line; the
  // per-byte read time-outs of the port leave room for it.
  simulator->SetPacing(static_cast<int>(port.BaudRate()), true);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(protocol.GetInfo());
  ASSERT_TRUE(protocol.GetDepartment(4));
  Fault("crc");
  ASSERT_TRUE(protocol.GetGoods(150));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(kkm.info->maxCountGoods, 2000);
  EXPECT_EQ(kkm.info->departments[3].name, "Молочные продукты");
  EXPECT_EQ(kkm.info->goodsCode.ToText(), "150");
  EXPECT_LT(took, std::chrono::seconds(20));  // a hang; the exchanges themselves succeeded
}

TEST_F(ProtocolE2E, BadCheckByteIsRepaired) {
  Fault("crc");
  ASSERT_TRUE(protocol.GetDepartment(4));
  EXPECT_EQ(PcSent(kRepeatRequest), 1);
  EXPECT_EQ(simulator->FaultsFired(sim::FaultKind::Crc), 1);
  EXPECT_EQ(kkm.info->departments[3].name, "Молочные продукты");
}

TEST_F(ProtocolE2E, DroppedAndExtraBytesAreSurvived) {
  // A frame cut short times out and is asked for again at once, in the same
  // poll cycle, as a garbled one.
  test::TraceCapture trace;
  Fault("drop=3");
  EXPECT_TRUE(protocol.GetDepartment(2));
  EXPECT_EQ(trace.Count("Warning:WaitData:TimeOut"), 1);
  EXPECT_EQ(PcControls(), (std::vector<std::uint8_t>{kRDY, 0x90, kRepeatRequest, kACK, kDISC}));
  EXPECT_EQ(protocol.lineCounts.repeatsAsked, 1);
  EXPECT_EQ(kkm.info->departments[1].status, "Услуга");
  // Junk after the last frame of an exchange stays in the queue: the next
  // exchange drops it and finds the register's packet after it, in step.
  Fault("extra=7");
  EXPECT_TRUE(protocol.GetDepartment(2));
  EXPECT_TRUE(protocol.GetDepartment(1));
  EXPECT_EQ(trace.Count("Warning:Sync>WaitKvit:7 bytes dropped before a packet"), 1);
  EXPECT_EQ(trace.Count("Warning:Sync>WaitKvit:bad CRC"), 0);
  EXPECT_EQ(protocol.lineCounts.resyncs, 1);
  EXPECT_EQ(kkm.info->departments[0].name, "Бакалея");
}

TEST_F(ProtocolE2E, WrongPacketNumberIsAnsweredWithSyn) {
  test::TraceCapture trace;
  ASSERT_TRUE(protocol.GetDepartment(1));  // counters now at 1
  Fault("seq");
  ASSERT_TRUE(protocol.GetDepartment(4));
  EXPECT_EQ(PcSent(kSYN), 1);
  EXPECT_TRUE(trace.Contains("Warning:WaitData:bad paket number"));
  // Both counters went to 0; the repeated frame 0 was accepted.
  EXPECT_EQ(kkm.rxSeq, 1);
  EXPECT_EQ(kkm.txSeq, 0);
  EXPECT_EQ(kkm.info->departments[3].name, "Молочные продукты");
  ASSERT_TRUE(protocol.GetDepartment(2));
  EXPECT_EQ(kkm.rxSeq, 2);
}

TEST_F(ProtocolE2E, SilentRegisterFailsAfterSixCyclesAndThePortIsReopened) {
  test::TraceCapture trace;
  MessDepth = mdHardWare;
  Fault("silence*inf");
  // Each exchange polls six times; the command is sent again once (and only
  // once) after an exchange that heard nothing at all.
  constexpr int kExchanges = 1 + kMaxSilentCommandRepeats;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(protocol.GetDepartment(1));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(kkm.linkState, lsNoAnswer);
  EXPECT_EQ(PcSent(kRDY), 6 * kExchanges);
  EXPECT_EQ(trace.Count("Warning:Sync>WaitKvit:TimeOut"), 6 * kExchanges);
  EXPECT_EQ(trace.Count("init COM"), kExchanges) << "the port was closed and opened again";
  EXPECT_EQ(protocol.lineCounts.commandsRepeated, kMaxSilentCommandRepeats);
  EXPECT_TRUE(port.IsOpen());
  // Six cycles of time-outs, not fewer; the counts above tell the cycles.
  EXPECT_GT(took, kExchanges * std::chrono::milliseconds(1500));
  EXPECT_LT(took, std::chrono::seconds(40));
  EXPECT_TRUE(hooks.boxes.empty());
}

TEST_F(ProtocolE2E, BusyRegisterFailsAfterOneCycle) {
  // The exchange alone (the command not sent again).
  protocol.commandRepeats = 0;
  Fault("busy");
  EXPECT_FALSE(protocol.GetDepartment(1));
  EXPECT_EQ(kkm.linkState, lsNotSynchronised);
  EXPECT_EQ(PcControls(), std::vector<std::uint8_t>{kRDY});
  // The next command goes through.
  EXPECT_TRUE(protocol.GetDepartment(1));
}

TEST_F(ProtocolE2E, RejectedPollFails) {
  protocol.commandRepeats = 0;
  Fault("rej");
  EXPECT_FALSE(protocol.GetTax(1));
  EXPECT_TRUE(protocol.GetTax(1));
}

// An exchange that fails on the register's answer to a poll (BUSY, REJ, a
// flood of pointless packets) costs its read command nothing more than one
// repetition: DISC, and the command again.
TEST_F(ProtocolE2E, AReadIsSentAgainAfterItsExchangeFailed) {
  NoPauses();
  for (const char* fault : {"busy", "rej", "flood", "silence*6"}) {
    SCOPED_TRACE(fault);
    simulator->ClearFaults();
    protocol.lineCounts = {};
    const std::size_t before = PcControls().size();
    const int discsBefore = PcSent(kDISC);
    Fault(fault);
    ASSERT_TRUE(protocol.GetDepartment(4));
    EXPECT_EQ(kkm.info->departments[3].name, "Молочные продукты");
    EXPECT_EQ(protocol.lineCounts.commandsRepeated, 1);
    // The command's closing DISC has reached the register (a fault armed
    // for the next case must not meet it).
    ASSERT_TRUE(DiscsHeard(discsBefore + 2));
    const auto c = PcControls();
    const std::vector<std::uint8_t> tail(c.begin() + static_cast<std::ptrdiff_t>(before), c.end());
    // The failed exchange ended with DISC before the command went again.
    EXPECT_EQ(std::count(tail.begin(), tail.end(), kDISC), 2);
    EXPECT_EQ(tail.back(), kDISC);
    EXPECT_EQ(std::count_if(tail.begin(), tail.end(), [](std::uint8_t b) { return IsDataHeader(b); }), 1)
        << "the request went once: the failed exchange never sent it";
  }
}

TEST_F(ProtocolE2E, WaitThenTheAnswerInTheThirdCycle) {
  Fault("wait=2");
  ASSERT_TRUE(protocol.GetTax(1));
  EXPECT_EQ(PcSent(kRDY), 3);
  EXPECT_DOUBLE_EQ(kkm.info->taxes[0].rate, 18.5);
}

TEST_F(ProtocolE2E, TenPointlessPacketsAreALoop) {
  protocol.commandRepeats = 0;
  test::TraceCapture trace;
  Fault("flood");
  EXPECT_FALSE(protocol.GetDepartment(1));
  EXPECT_EQ(trace.Count("Error:зацикливание"), 1);
  EXPECT_TRUE(protocol.GetDepartment(1));
}

TEST_F(ProtocolE2E, MoreThan8192BytesAbort) {
  test::TraceCapture trace;
  TMessageBuffer request{0x01, 0x10, 0x01, 0x00};  // every goods record, without onData
  TMessageBuffer answer;
  EXPECT_FALSE(protocol.Exchange(request, answer, true));
  EXPECT_GT(answer.count, 8192);
  EXPECT_EQ(answer.count % 67, 0);
  EXPECT_TRUE(trace.Contains("Error:слишком много данных"));
  EXPECT_FALSE(trace.Contains("----- конец синхронизации с ККМ  -----"));
  EXPECT_EQ(PcSent(kDISC), 0);
}

TEST_F(ProtocolE2E, AllGoodsStreamUntilTheLastFrame) {
  std::vector<int> codes;
  ASSERT_TRUE(protocol.ReadAllGoods([&](TMessageBuffer& a, bool&) {
    ASSERT_EQ(a.count, 67);
    ASSERT_EQ(a.bytes[2], 0);
    codes.push_back(BcdToInt(a.bytes[5]) + 100 * BcdToInt(a.bytes[6]));
  }));
  ASSERT_EQ(codes.size(), 150u);
  EXPECT_EQ(codes.front(), 1);
  EXPECT_EQ(codes.back(), 150);
  EXPECT_EQ(PcSent(kACK | kContinuationBit), 149);
  EXPECT_EQ(PcSent(kDISC), 0);
  // Five quiet polls close the transfer.
  EXPECT_EQ(PcSent(kRDY), 6);
}

TEST_F(ProtocolE2E, OnDataClearingMoreStopsTheRegister) {
  NoPauses();
  int frames = 0;
  ASSERT_TRUE(protocol.ReadAllGoods([&](TMessageBuffer&, bool& more) {
    ++frames;
    more = false;
  }));
  EXPECT_EQ(frames, 1);
  EXPECT_EQ(PcSent(kACK), 1);
  EXPECT_EQ(PcSent(kACK | kContinuationBit), 0);
  EXPECT_EQ(simulator->Stats().streamLeft, 0u);
}

TEST_F(ProtocolE2E, JournalStreamsToItsEnd) {
  NoPauses();
  std::vector<int> statuses;
  ASSERT_TRUE(protocol.ReadJournal([&](TMessageBuffer& a, bool& more) {
    ASSERT_GE(a.count, 3);
    EXPECT_EQ(a.bytes[0], 0x01);
    EXPECT_EQ(a.bytes[1], 0x0F);
    statuses.push_back(a.bytes[2]);
    if (a.bytes[2] == 9) more = false;
  }));
  ASSERT_GE(statuses.size(), 2u);
  EXPECT_EQ(statuses.back(), 9);
  EXPECT_TRUE(std::all_of(statuses.begin(), statuses.end() - 1, [](int s) { return s == 0; }));
}

TEST_F(ProtocolE2E, PurePoll) {
  TMessageBuffer request;
  TMessageBuffer answer;
  ASSERT_TRUE(protocol.Exchange(request, answer, true));
  EXPECT_EQ(kkm.linkState, lsDone);
  EXPECT_EQ(PcControls(), std::vector<std::uint8_t>{kRDY});
}

TEST_F(ProtocolE2E, IdentificationProbesTheGoodsCapacity) {
  NoPauses();
  ASSERT_TRUE(protocol.GetInfo());
  const TKKMInfo& info = *kkm.info;
  EXPECT_EQ(info.model, "Зарвик-01Ф");
  EXPECT_EQ(info.serialNumber, "000123456789");
  EXPECT_EQ(info.version, "B 003");
  EXPECT_EQ(info.workMode, 2);
  EXPECT_EQ(info.maxCountGoods, 2000);  // 3000 is refused with result 3
  ASSERT_TRUE(protocol.GetDateTime());
  EXPECT_EQ(info.dateText, "31.12.25");
  EXPECT_EQ(info.timeText, "23:59:58");

  simulator->ModifyState([](sim::RegisterState& s) { s.goodsCapacity = 50; });
  ASSERT_TRUE(protocol.GetInfo());
  EXPECT_EQ(kkm.info->maxCountGoods, 0);
  EXPECT_TRUE(hooks.boxes.empty());
}

// A goods probe that gets no answer is no refusal: identification fails
// instead of reporting a register with fewer goods numbers.
TEST_F(ProtocolE2E, IdentificationFailsWhenAGoodsProbeGetsNoAnswer) {
  // Exchanges are counted by their start wait; the third is the probe of 500.
  protocol.waits = kNoLinkWaits;
  protocol.waits.atStart = std::chrono::milliseconds(1);
  int exchanges = 0;
  protocol.sleep = [&](std::chrono::milliseconds d) {
    if (d == protocol.waits.atStart && ++exchanges == 3) Fault("silence*inf");
  };
  EXPECT_FALSE(protocol.GetInfo());
  EXPECT_EQ(kkm.linkState, lsNoAnswer);
  // The probe was sent again once: its exchange heard nothing at all.
  EXPECT_EQ(exchanges, 3 + kMaxSilentCommandRepeats);
  EXPECT_TRUE(hooks.boxes.empty());
  simulator->ClearFaults();
  simulator->DropPendingAnswer();
  ASSERT_TRUE(protocol.GetInfo());
  EXPECT_EQ(kkm.info->maxCountGoods, 2000);
}

// The same when the register answers the poll for a probe's answer with
// BUSY: the probe has no answer, and no smaller register is made of it.
TEST_F(ProtocolE2E, IdentificationFailsWhenAGoodsProbeAnswerIsBusy) {
  // The probe not sent again: the answer it has is what identification
  // sees. (Sent again, it gets its answer: see below.)
  protocol.commandRepeats = 0;
  protocol.waits = kNoLinkWaits;
  protocol.waits.atStart = std::chrono::milliseconds(1);
  protocol.waits.afterWaitingCycle = std::chrono::milliseconds(2);
  int exchanges = 0;
  protocol.sleep = [&](std::chrono::milliseconds d) {
    if (d == protocol.waits.atStart) ++exchanges;
    // The probe of 500 sent and acknowledged: its answer is polled for next.
    if (d == protocol.waits.afterWaitingCycle && exchanges == 3) Fault("busy");
  };
  EXPECT_FALSE(protocol.GetInfo());
  EXPECT_EQ(kkm.linkState, lsBusy);
  EXPECT_EQ(exchanges, 3);
  simulator->ClearFaults();
  simulator->DropPendingAnswer();
  ASSERT_TRUE(protocol.GetInfo());
  EXPECT_EQ(kkm.info->maxCountGoods, 2000);

  // The same BUSY with the probe sent again: identification goes through.
  protocol.commandRepeats = kMaxCommandRepeats;
  protocol.lineCounts = {};
  exchanges = 0;
  EXPECT_TRUE(protocol.GetInfo());
  EXPECT_EQ(kkm.info->maxCountGoods, 2000);
  EXPECT_EQ(protocol.lineCounts.commandsRepeated, 1);
}

TEST_F(ProtocolE2E, DepartmentsRoundTripWithTheirRules) {
  NoPauses();
  for (int n = 1; n <= 4; ++n) ASSERT_TRUE(protocol.GetDepartment(n)) << n;
  TKKMInfo& info = *kkm.info;
  EXPECT_EQ(info.departments[2].status, "Закрыто");
  EXPECT_EQ(info.departments[2].taxGroup, "0");

  info.departments[0] = {LangResStrHandler.Text(ltDepService), "Ремонт", "F", 12.34};
  info.departments[1] = {LangResStrHandler.Text(ltDepGoods), "Овощи и фрукты", "E", 0.005};
  for (int n = 1; n <= 4; ++n) ASSERT_TRUE(protocol.SetDepartment(n)) << n;
  const sim::RegisterState s = simulator->State();
  EXPECT_EQ(s.departments[0], (sim::Department{sim::kDepService, "Ремонт", 0, 1234}));
  EXPECT_EQ(s.departments[1], (sim::Department{sim::kDepGoods, "Овощи и фрукты", 5, 0}));
  EXPECT_EQ(s.departments[2].status, sim::kDepClosed);
  EXPECT_EQ(s.departments[3], ShopState().departments[3]);

  const TKKMInfo before = info;
  for (int n = 1; n <= 4; ++n) ASSERT_TRUE(protocol.GetDepartment(n)) << n;
  EXPECT_EQ(info.departments[0].name, "Ремонт");
  EXPECT_EQ(info.departments[0].taxGroup, "@") << "tax group 0 reads back as the character before A";
  EXPECT_DOUBLE_EQ(info.departments[0].price, 12.34);
  EXPECT_EQ(info.departments[1].taxGroup, "E");
  EXPECT_DOUBLE_EQ(info.departments[1].price, 0.0);
  for (int n : {3, 4}) {
    EXPECT_EQ(info.departments[static_cast<std::size_t>(n - 1)].name,
              before.departments[static_cast<std::size_t>(n - 1)].name);
  }
}

TEST_F(ProtocolE2E, ReceiptTextsRoundTrip) {
  NoPauses();
  for (int n = 1; n <= 6; ++n) {
    ASSERT_TRUE(protocol.GetHeaderLine(n));
    ASSERT_TRUE(protocol.GetFooterLine(n));
  }
  TKKMInfo& info = *kkm.info;
  EXPECT_EQ(info.headerLines[0], "ООО \"Ромашка\"");
  EXPECT_EQ(info.headerFont, 2);
  EXPECT_EQ(info.footerFont, 1);
  info.headerLines[5] = "Добро пожаловать!";
  info.footerLines[2] = "Ждём вас снова";
  info.headerFont = 4;
  for (int n = 1; n <= 6; ++n) {
    ASSERT_TRUE(protocol.SetHeaderLine(n));
    ASSERT_TRUE(protocol.SetFooterLine(n));
  }
  const sim::RegisterState s = simulator->State();
  EXPECT_EQ(s.header[5], (sim::TextLine{4, "Добро пожаловать!"}));
  EXPECT_EQ(s.header[0], (sim::TextLine{4, "ООО \"Ромашка\""}));
  EXPECT_EQ(s.footer[2], (sim::TextLine{1, "Ждём вас снова"}));
  info.headerLines.fill("");
  for (int n = 1; n <= 6; ++n) ASSERT_TRUE(protocol.GetHeaderLine(n));
  EXPECT_EQ(info.headerLines[5], "Добро пожаловать!");
  EXPECT_EQ(info.headerLines[1], "г. Тверь, ул. Мира, 5");
}

TEST_F(ProtocolE2E, TaxesReadWithTheirRates) {
  NoPauses();
  for (int n = 1; n <= 5; ++n) ASSERT_TRUE(protocol.GetTax(n));
  const TKKMInfo& info = *kkm.info;
  EXPECT_EQ(info.taxes[0].defined, 0xAA);
  EXPECT_EQ(info.taxes[0].kind, 1);
  EXPECT_DOUBLE_EQ(info.taxes[0].rate, 18.5);
  EXPECT_EQ(info.taxes[0].name, "НДС 18,5%");
  EXPECT_DOUBLE_EQ(info.taxes[1].rate, 10.0);
  EXPECT_NE(info.taxes[2].defined, 0xAA);
}

TEST_F(ProtocolE2E, OptionsRoundTripAndImpossibleCounts) {
  NoPauses();
  test::TraceCapture trace;
  ASSERT_TRUE(protocol.GetOptions());
  TKKMInfo& info = *kkm.info;
  ASSERT_EQ(info.optionCount, 40);
  info.optionValues[0] = 9;
  info.optionValues[39] = 0x7F;
  ASSERT_TRUE(protocol.SetOptions());
  EXPECT_EQ(simulator->State().options[39], 0x7F);
  info.optionValues.fill(0);
  ASSERT_TRUE(protocol.GetOptions());
  EXPECT_EQ(info.optionValues[0], 9);
  EXPECT_EQ(info.optionValues[39], 0x7F);

  simulator->ModifyState([](sim::RegisterState& s) { s.options.clear(); });
  ASSERT_TRUE(protocol.GetOptions());
  EXPECT_EQ(info.optionCount, 0);
  simulator->ModifyState([](sim::RegisterState& s) { s.options.assign(67, 1); });
  EXPECT_FALSE(protocol.GetOptions());
  EXPECT_EQ(info.optionCount, 32);
  EXPECT_TRUE(trace.Contains("Error:ККМ вернула 67"));
}

TEST_F(ProtocolE2E, OperatorsRoundTripAndTheFourOperatorRegister) {
  NoPauses();
  EXPECT_EQ(protocol.GetOperatorCount(), 4);
  EXPECT_FALSE(protocol.GetOperatorName(5));
  EXPECT_TRUE(hooks.boxes.empty());
  for (int n = 1; n <= 4; ++n) {
    ASSERT_TRUE(protocol.GetOperatorName(n));
    ASSERT_TRUE(protocol.GetPosition(n));
  }
  TKKMInfo& info = *kkm.info;
  EXPECT_EQ(info.operatorNames[1], "Петров");
  EXPECT_EQ(info.positions[3], "Администратор");
  info.operatorNames[1] = "Смирнова Ольга";
  info.positions[1] = "Товаровед";
  ASSERT_TRUE(protocol.SetOperatorName(2));
  ASSERT_TRUE(protocol.SetPosition(2));
  info.operatorNames[1].clear();
  info.positions[1].clear();
  ASSERT_TRUE(protocol.GetOperatorName(2));
  ASSERT_TRUE(protocol.GetPosition(2));
  EXPECT_EQ(info.operatorNames[1], "Смирнова Ольга");
  EXPECT_EQ(info.positions[1], "Товаровед");

  simulator->ModifyState([](sim::RegisterState& s) { s.operatorCount = 8; });
  EXPECT_EQ(protocol.GetOperatorCount(), 8);
  ASSERT_TRUE(protocol.GetOperatorName(5));
}

TEST_F(ProtocolE2E, GoodsRoundTripAndTheResetByte) {
  NoPauses();
  ASSERT_TRUE(protocol.GetGoods(7));
  TKKMInfo& info = *kkm.info;
  EXPECT_EQ(info.GoodsRecord[0], 0xAA);
  EXPECT_EQ(info.goodsCode.ToText(), "7");
  const sim::Goods original = simulator->State().goods.at(7);
  EXPECT_EQ(TextFromField(info.GoodsRecord.data() + 5, 32), original.name);

  simulator->ModifyState([](sim::RegisterState& s) { s.goods[7].sold = 12500; });
  ASSERT_TRUE(info.goodsPrice.FromText("12345"));
  info.keepSoldCount = true;
  ASSERT_TRUE(protocol.SetGoods());
  EXPECT_EQ(simulator->State().goods.at(7).price, 12345u);
  EXPECT_EQ(simulator->State().goods.at(7).sold, 12500u);
  info.keepSoldCount = false;
  ASSERT_TRUE(protocol.SetGoods());
  EXPECT_EQ(simulator->State().goods.at(7).sold, 0u);

  info.GoodsRecord.fill(0);
  ASSERT_TRUE(protocol.GetGoods(7));
  EXPECT_EQ(info.goodsPrice.ToText(), "12345");
  EXPECT_EQ(info.goodsSold.ToText(), "0");
  // A goods number the register does not have.
  EXPECT_FALSE(protocol.GetGoods(1999));
  EXPECT_EQ(hooks.boxes.back(), "Товар/услуга не найдены");
}

TEST_F(ProtocolE2E, PrintLineLimitsFontAndBrightness) {
  kkm.Info();
  ASSERT_TRUE(protocol.PrintLine(9, 7, "Проверка печати: сорок символов в строке"));
  ASSERT_TRUE(protocol.PrintLine(3, 2, "Итого"));
  const auto printed = simulator->State().printed;
  ASSERT_EQ(printed.size(), 2u);
  EXPECT_EQ(printed[0], (sim::PrintedLine{0, 5, "Проверка печати: сорок символов "}));
  EXPECT_EQ(printed[1], (sim::PrintedLine{3, 2, "Итого"}));
}

TEST_F(ProtocolE2E, ResultCodesOfTheRegisterAreShown) {
  Fault("result=7:2");
  EXPECT_FALSE(protocol.GetDepartment(1));
  EXPECT_EQ(hooks.boxes, std::vector<std::string>{"Команда недоступна в текущем режиме"});
  EXPECT_EQ(PcSent(kDISC), 1) << "a read command has sent DISC before the check";
  kkm.Info();
  Fault("result=8:16");
  EXPECT_FALSE(protocol.SetDepartment(1));
  EXPECT_EQ(hooks.boxes.back(), "Неверный пароль при доступе к режим");
  EXPECT_EQ(PcSent(kDISC), 1) << "a write command sends no DISC after a bad answer";
}

}  // namespace
}  // namespace zarvik
