// Single commands on a noisy line: identification, settings reads and
// setting writes are sent again after a failed exchange and get through,
// and the register ends up holding what was written; a print is never sent
// twice, nor a command the user stopped. Against the register simulator with
// its faults. Then the journal frames whose lost byte the 8-bit check cannot
// see.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Scenario.h"
#include "SimWire.h"
#include "Simulator.h"
#include "journal/U_magazineoperation.h"
#include "port/Comport.h"
#include "port/PortDevices.h"
#include "protocol/TransferResume.h"
#include "protocol/U_protocolkkm.h"
#include "protocol_test_support.h"
#include "shell/U_language.h"

namespace zarvik {
namespace {

using test::Bytes;
using namespace std::chrono_literals;

constexpr int kSimPort = 204;
constexpr int kDepartments = 4;
constexpr int kOperators = 4;
constexpr std::size_t kOptions = 40;

sim::RegisterState Shop() {
  sim::RegisterState s;
  s.serialNumber = "000123456789";
  s.maxCountDepat = kDepartments;
  s.operatorCount = kOperators;
  s.options.assign(kOptions, 1);
  s.taxes[0] = {sim::kInUse, 1, 1850, "НДС 18,5%"};
  s.goodsCapacity = 2000;
  for (int code = 1; code <= 20; ++code) s.goods[code] = sim::GeneratedGoods(code, kDepartments);
  return s;
}

class NoisyCommands : public ::testing::Test {
 protected:
  void SetUp() override { Start(Shop()); }
  void TearDown() override {
    if (resumer.joinable()) resumer.join();
    port.Close();
    if (simulator) simulator->Close();
    SetPortDevice(kSimPort, "");
  }
  void Start(sim::RegisterState state) {
    port.Close();
    if (simulator) simulator->Close();
    simulator = std::make_unique<sim::Simulator>(std::move(state));
    std::string slave;
    ASSERT_TRUE(simulator->OpenPty(slave)) << simulator->LastError();
    SetPortDevice(kSimPort, slave);
    ASSERT_TRUE(simulator->Start());
    ASSERT_TRUE(port.SetPortNumber(kSimPort));
    ASSERT_TRUE(port.Open());
    protocol.waits = kNoLinkWaits;
  }
  // The register frozen for `d` (a stopped program), from now on.
  void Freeze(std::chrono::milliseconds d) {
    simulator->Pause();
    if (resumer.joinable()) resumer.join();
    resumer = std::thread([this, d] {
      std::this_thread::sleep_for(d);
      simulator->Resume();
    });
  }
  int Executed(std::uint8_t command) const {
    const auto e = simulator->State().commandsExecuted;
    return static_cast<int>(std::count(e.begin(), e.end(), command));
  }

  std::unique_ptr<sim::Simulator> simulator;
  TComPort port;
  TKKM kkm{&port};
  TProtocolKKM protocol{&kkm};
  std::thread resumer;
};

// Settings of one round, different in each: what is written and must then
// be held by the register and read back.
struct Settings {
  std::vector<std::uint8_t> options;
  std::vector<std::string> departmentNames;
  std::vector<std::string> header, footer;
  std::vector<std::string> operatorNames, positions;
};

Settings RoundSettings(int round) {
  Settings s;
  // Option values of 1..7: see the note on the options below.
  for (std::size_t i = 0; i < kOptions; ++i) s.options.push_back(static_cast<std::uint8_t>(1 + (i + static_cast<std::size_t>(round)) % 7));
  const std::string r = std::to_string(round);
  for (int n = 1; n <= kDepartments; ++n) s.departmentNames.push_back("Отдел " + std::to_string(n) + "/" + r);
  for (int n = 1; n <= kReceiptLineCount; ++n) {
    s.header.push_back("Заголовок " + std::to_string(n) + " круг " + r);
    s.footer.push_back("Окончание " + std::to_string(n) + " круг " + r);
  }
  for (int n = 1; n <= kOperators; ++n) {
    s.operatorNames.push_back("Кассир " + std::to_string(n) + "-" + r);
    s.positions.push_back("Должность " + std::to_string(n) + "-" + r);
  }
  return s;
}

struct NoiseCase {
  const char* what;
  std::vector<const char*> faults;  // armed from the start, at random places
  sim::FaultKind fired;             // the fault that must have fired
  bool freeze2s;                    // the register frozen for 2 s before the writes
  bool counted;                     // the repairs show in the line counts
};

// The options answer has no fixed size: a 00 lost from it leaves the 8-bit
// check as it was and cannot be seen (the note of the issue says so); the
// option values written here are never 0, so a lost byte shows in the check.
const NoiseCase kNoiseCases[] = {
    {"junk bytes after frames", {"extra=3@8*inf"}, sim::FaultKind::Extra, false, true},
    {"a byte lost inside frames", {"lose@6*inf"}, sim::FaultKind::Lose, false, true},
    {"frames cut short", {"drop=6@8*inf"}, sim::FaultKind::Drop, false, true},
    {"packets garbled", {"garble@5*inf"}, sim::FaultKind::Garble, false, true},
    {"a burst garbling seven packets", {"garble*7"}, sim::FaultKind::Garble, false, true},
    {"control packets with a bad check byte", {"ctlcrc@8*inf"}, sim::FaultKind::ControlCrc, false, false},
    {"polls answered BUSY or REJ", {"busy@8*inf", "rej@8*inf"}, sim::FaultKind::Busy, false, true},
    {"the PC's packets unheard", {"silence@5*inf"}, sim::FaultKind::Silence, false, true},
    {"answers later than the six polls", {"wait=9@10*inf"}, sim::FaultKind::Wait, false, true},
    {"the register frozen for 2 s", {}, sim::FaultKind::Silence, true, true},
};

TEST_F(NoisyCommands, SettingsAndIdentificationGetThroughANoisyLine) {
  int round = 0;
  for (const NoiseCase& c : kNoiseCases) {
    SCOPED_TRACE(c.what);
    ++round;
    simulator->ClearFaults();
    protocol.lineCounts = {};
    for (const char* f : c.faults) ASSERT_TRUE(simulator->AddFault(f)) << f;

    // Identification: GetInfo and its goods probes.
    ASSERT_TRUE(protocol.GetInfo());
    TKKMInfo& info = kkm.Info();
    EXPECT_EQ(info.serialNumber, "000123456789");
    EXPECT_EQ(info.maxCountGoods, 2000);

    // Every setting written.
    const Settings w = RoundSettings(round);
    info.optionCount = static_cast<std::uint8_t>(w.options.size());
    std::copy(w.options.begin(), w.options.end(), info.optionValues.begin());
    for (int n = 1; n <= kDepartments; ++n) {
      TDepRec& d = info.departments[static_cast<std::size_t>(n - 1)];
      d.status = LangResStrHandler.Text(ltDepGoods);
      d.name = w.departmentNames[static_cast<std::size_t>(n - 1)];
      d.taxGroup = "A";
      d.price = 100.0 * n;
    }
    info.headerFont = 2;
    info.footerFont = 1;
    for (int n = 1; n <= kReceiptLineCount; ++n) {
      info.headerLines[static_cast<std::size_t>(n - 1)] = w.header[static_cast<std::size_t>(n - 1)];
      info.footerLines[static_cast<std::size_t>(n - 1)] = w.footer[static_cast<std::size_t>(n - 1)];
    }
    for (int n = 1; n <= kOperators; ++n) {
      info.operatorNames[static_cast<std::size_t>(n - 1)] = w.operatorNames[static_cast<std::size_t>(n - 1)];
      info.positions[static_cast<std::size_t>(n - 1)] = w.positions[static_cast<std::size_t>(n - 1)];
    }
    if (c.freeze2s) Freeze(2s);
    ASSERT_TRUE(protocol.SetOptions());
    for (int n = 1; n <= kDepartments; ++n) ASSERT_TRUE(protocol.SetDepartment(n)) << n;
    for (int n = 1; n <= kReceiptLineCount; ++n) {
      ASSERT_TRUE(protocol.SetHeaderLine(n)) << n;
      ASSERT_TRUE(protocol.SetFooterLine(n)) << n;
    }
    for (int n = 1; n <= kOperators; ++n) {
      ASSERT_TRUE(protocol.SetOperatorName(n)) << n;
      ASSERT_TRUE(protocol.SetPosition(n)) << n;
    }
    if (resumer.joinable()) resumer.join();

    // The register holds exactly what was written.
    const sim::RegisterState s = simulator->State();
    EXPECT_EQ(s.options, w.options);
    for (int n = 1; n <= kDepartments; ++n) {
      const sim::Department& d = s.departments[static_cast<std::size_t>(n - 1)];
      EXPECT_EQ(d.status, sim::kDepGoods) << n;
      EXPECT_EQ(d.name, w.departmentNames[static_cast<std::size_t>(n - 1)]) << n;
      EXPECT_EQ(d.taxGroup, 1) << n;
      EXPECT_EQ(d.priceLimit, 10000u * static_cast<unsigned>(n)) << n;
    }
    for (std::size_t i = 0; i < kReceiptLineCount; ++i) {
      EXPECT_EQ(s.header[i], (sim::TextLine{2, w.header[i]})) << i;
      EXPECT_EQ(s.footer[i], (sim::TextLine{1, w.footer[i]})) << i;
    }
    for (std::size_t i = 0; i < kOperators; ++i) {
      EXPECT_EQ(s.operatorNames[i], w.operatorNames[i]) << i;
      EXPECT_EQ(s.positions[i], w.positions[i]) << i;
    }

    // And everything reads back as written, into a register information
    // emptied first.
    info.optionCount = 0;
    info.optionValues.fill(0);
    for (auto& d : info.departments) d = {};
    info.headerLines.fill({});
    info.footerLines.fill({});
    info.operatorNames.fill({});
    info.positions.fill({});
    ASSERT_TRUE(protocol.GetOptions());
    EXPECT_EQ(std::vector<std::uint8_t>(info.optionValues.begin(), info.optionValues.begin() + info.optionCount),
              w.options);
    EXPECT_EQ(protocol.GetOperatorCount(), kOperators);
    for (int n = 1; n <= kDepartments; ++n) {
      ASSERT_TRUE(protocol.GetDepartment(n)) << n;
      EXPECT_EQ(info.departments[static_cast<std::size_t>(n - 1)].name,
                w.departmentNames[static_cast<std::size_t>(n - 1)]);
    }
    ASSERT_TRUE(protocol.GetTax(1));
    EXPECT_DOUBLE_EQ(info.taxes[0].rate, 18.5);
    for (int n = 1; n <= kReceiptLineCount; ++n) {
      ASSERT_TRUE(protocol.GetHeaderLine(n)) << n;
      ASSERT_TRUE(protocol.GetFooterLine(n)) << n;
    }
    for (std::size_t i = 0; i < kReceiptLineCount; ++i) {
      EXPECT_EQ(info.headerLines[i], w.header[i]);
      EXPECT_EQ(info.footerLines[i], w.footer[i]);
    }
    for (int n = 1; n <= kOperators; ++n) {
      ASSERT_TRUE(protocol.GetOperatorName(n)) << n;
      ASSERT_TRUE(protocol.GetPosition(n)) << n;
    }
    for (std::size_t i = 0; i < kOperators; ++i) {
      EXPECT_EQ(info.operatorNames[i], w.operatorNames[i]);
      EXPECT_EQ(info.positions[i], w.positions[i]);
    }
    EXPECT_GT(simulator->FaultsFired(c.fired) + (c.freeze2s ? 1 : 0), 0);
    // (A control packet with a bad check byte ends its poll cycle, and the
    // next poll is no repair of its own.)
    if (c.counted) {
      EXPECT_TRUE(protocol.lineCounts.Any());
    }
  }
}

// A register whose answers never get through: a command that may run twice
// is sent again up to its bound and executed by the register each time; a
// print, or any command once the user asked to stop, is sent once and
// executed once.
TEST_F(NoisyCommands, WhatIsNotHarmlessToRepeatIsSentOnce) {
  ASSERT_TRUE(protocol.GetInfo());
  kkm.Info().headerLines[0] = "Заголовок";
  struct Case {
    const char* what;
    std::uint8_t command;
    std::function<bool(TProtocolKKM&)> run;
    bool stop;
    int executed;
  };
  const Case cases[] = {
      {"a setting written", sim::cmdSetHeaderLine, [](TProtocolKKM& p) { return p.SetHeaderLine(1); }, false,
       1 + kMaxCommandRepeats},
      {"a setting read", sim::cmdGetDepartment, [](TProtocolKKM& p) { return p.GetDepartment(1); }, false,
       1 + kMaxCommandRepeats},
      {"a line printed", sim::cmdPrintLine, [](TProtocolKKM& p) { return p.PrintLine(0, 5, "Итого"); }, false, 1},
      {"a setting written after a stop", sim::cmdSetHeaderLine,
       [](TProtocolKKM& p) { return p.SetHeaderLine(1); }, true, 1},
      {"a setting read after a stop", sim::cmdGetDepartment, [](TProtocolKKM& p) { return p.GetDepartment(1); },
       true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    simulator->ClearFaults();
    simulator->DropPendingAnswer();
    protocol.lineCounts = {};
    protocol.stopRequested = [&c] { return c.stop; };
    const int before = Executed(c.command);
    const std::size_t printedBefore = simulator->State().printed.size();
    // Every data frame of the register is garbled: the command is executed,
    // its answer never gets through.
    ASSERT_TRUE(simulator->AddFault("crc*inf"));
    EXPECT_FALSE(c.run(protocol));
    EXPECT_EQ(Executed(c.command) - before, c.executed);
    EXPECT_EQ(protocol.lineCounts.commandsRepeated, c.executed - 1);
    if (c.command == sim::cmdPrintLine) {
      EXPECT_EQ(simulator->State().printed.size(), printedBefore + 1);
    }
  }
  // The register is there all along: with the line clean again the print
  // goes through, once.
  simulator->ClearFaults();
  simulator->DropPendingAnswer();
  protocol.stopRequested = nullptr;
  const std::size_t printed = simulator->State().printed.size();
  ASSERT_TRUE(protocol.PrintLine(0, 5, "Итого"));
  EXPECT_EQ(simulator->State().printed.size(), printed + 1);
}

// ---------------------------------------------------------------------------
// Journal frames.

Bytes Hex(std::string_view text) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
    i += 2;
  }
  return out;
}

TEST(JournalReplyForm, WholeRecordsOnly) {
  const std::string sale = "A1 01 00 10 00 00 00 50 12 00 00 00 01 02 AA";
  const std::string close = "CA 01 23 01 00 00 31 12 25 12 00 4B 01 AA";
  struct Case {
    const char* what;
    std::string hex;
    bool whole;
  };
  const Case cases[] = {
      {"one sale", "01 0F 00 " + sale, true},
      {"records of several kinds", "01 0F 00 " + sale + " B5 02 50 12 00 00 00 00 00 AA " + close, true},
      {"the command bytes between records", "01 0F 00 " + sale + " 01 0F 00 CB 03 AA", true},
      {"no records", "01 0F 00", true},
      {"the end of the journal", "01 0F 09", true},
      {"an error", "01 0F 12", true},
      {"the end with records", "01 0F 09 " + sale, true},
      {"a 00 lost inside the sale", "01 0F 00 A1 01 10 00 00 00 50 12 00 00 00 01 02 AA", false},
      {"a 00 lost in the first of two records", "01 0F 00 A1 01 10 00 00 00 50 12 00 00 00 01 02 AA " + close,
       false},
      {"a byte gained", "01 0F 00 " + sale + " 00", false},
      {"a byte of no record kind", "01 0F 00 AF 12 AA", false},
      {"the result code lost", "01 0F A1 01 00 10 00 00 00 50 12 00 00 00 01 02 AA", false},
      {"command bytes cut short", "01 0F 00 " + sale + " 01 0F", false},
      {"no result code", "01 0F", false},
      {"another command", "01 10 00", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(JournalReplyWhole(Hex(c.hex)), c.whole);
  }
}

// A journal whose first frame has a 00 at the place the simulator's "lose"
// takes a byte from: the frame then passes the 8-bit check one byte short.
sim::RegisterState JournalShop(bool withUnknownRecord) {
  sim::RegisterState s = Shop();
  s.journal.push_back(sim::SubtotalRecord(0xB5, 1, 100));
  if (withUnknownRecord) s.journal.push_back(Bytes{0xAF, 0x12, 0xAA});
  for (int r = 0; r < 30; ++r) {
    s.journal.push_back(sim::SumRecord(0xA1, 1, 1000, 4550 + static_cast<std::uint64_t>(r), 1, 1));
    s.journal.push_back(sim::CloseRecord(1, static_cast<std::uint64_t>(r + 1), "31.12.25", "12:00", true, 1));
  }
  // Frames of one or two records: the first holds the subtotal and a sale.
  s.journalFrameLimit = 28;
  return s;
}

std::vector<Bytes> JournalOf(const sim::Simulator& simulator) {
  sim::RegisterState copy = simulator.State();
  return sim::ExecuteCommand(copy, Bytes{0x01, 0x0F, 0x00, 0x00}, true);
}

TEST_F(NoisyCommands, AJournalFrameThatLostA00IsAskedForAgain) {
  Start(JournalShop(false));
  const std::vector<Bytes> expected = JournalOf(*simulator);
  ASSERT_GT(expected.size(), 3u);
  // Where "lose" takes its byte: the middle of the data packet (5 bytes of
  // header, then the frame).
  const Bytes wire = sim::BuildDataFrame(expected[0]);
  ASSERT_EQ(wire[wire.size() / 2], 0x00) << "the byte lost must be a 00";

  // The link alone takes the frame one byte short: its check cannot see it.
  ASSERT_TRUE(simulator->AddFault("lose"));
  std::vector<Bytes> got;
  const TOnData take = [&got](TMessageBuffer& a, bool& more) {
    const auto v = a.View();
    got.emplace_back(v.begin(), v.end());
    if (TProtocolKKM::AnswerCode(a) == 9) more = false;
  };
  ASSERT_TRUE(protocol.ReadJournal(take));
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_EQ(got[0].size() + 1, expected[0].size());

  // The journal read sees that its records do not fill it and asks again.
  got.clear();
  protocol.lineCounts = {};
  ASSERT_TRUE(simulator->AddFault("lose"));
  ASSERT_TRUE(ReadJournalResuming(protocol, take, {}));
  EXPECT_EQ(simulator->FaultsFired(sim::FaultKind::Lose), 2);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(protocol.lineCounts.repeatsAsked, 1);
}

TEST_F(NoisyCommands, AJournalFrameOfAnUnknownFormIsTakenWhenItComesTheSameEachTime) {
  Start(JournalShop(true));
  const std::vector<Bytes> expected = JournalOf(*simulator);
  ASSERT_FALSE(JournalReplyWhole(expected[0]));
  std::vector<Bytes> got;
  ASSERT_TRUE(ReadJournalResuming(
      protocol,
      [&got](TMessageBuffer& a, bool& more) {
        const auto v = a.View();
        got.emplace_back(v.begin(), v.end());
        if (TProtocolKKM::AnswerCode(a) == 9) more = false;
      },
      {}));
  EXPECT_EQ(got, expected);
  EXPECT_EQ(protocol.lineCounts.repeatsAsked, kJournalFrameCopies - 1);
}

}  // namespace
}  // namespace zarvik
