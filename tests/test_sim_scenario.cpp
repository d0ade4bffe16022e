// Scenario files of the simulator, the journal records it encodes, and the
// zarvik-sim program itself.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include <spawn.h>
#include <sys/wait.h>
#include <csignal>

#include "SimTestLine.h"
#include "model/U_kkms.h"
#include "shell/IniFile.h"
#include "shell/TextCodec.h"

extern char** environ;

namespace zarvik::sim {
namespace {

Scenario Load(const std::string& text) {
  Scenario sc;
  std::string error;
  EXPECT_TRUE(LoadScenarioText(text, sc, error)) << error;
  return sc;
}

std::uint64_t Bcd(const Bytes& r, std::size_t at, std::size_t width) {
  const auto v = GetBcd(&r[at], width);
  EXPECT_TRUE(v.has_value()) << HexBytes(r.data(), r.size());
  return v.value_or(0);
}

TEST(SimScenario, DefaultShopIsComplete) {
  const Scenario sc = simtest::DefaultScenario();
  const RegisterState& s = sc.state;
  EXPECT_EQ(s.version, "B 003");
  EXPECT_EQ(s.workMode, 2);
  // Sixteen departments, as the model descriptor of version B 003 says; the
  // first four are open.
  EXPECT_EQ(s.maxCountDepat, 16);
  for (int d = 0; d < s.maxCountDepat; ++d) {
    const bool open = d < 4;
    EXPECT_EQ(s.departments[static_cast<std::size_t>(d)].status == kDepGoods, open) << d;
    EXPECT_EQ(s.departments[static_cast<std::size_t>(d)].name.empty(), !open) << d;
  }
  EXPECT_EQ(s.taxes[0], (Tax{0xAA, 1, 1800, "НДС 18%"}));
  EXPECT_EQ(s.header[0], (TextLine{1, "ООО \"ПРОДУКТЫ У ДОМА\""}));
  EXPECT_EQ(s.operatorCount, 4);
  EXPECT_EQ(s.positions[3], "Администратор");
  EXPECT_GE(s.goods.size(), 30U);
  int withBarcode = 0;
  for (const auto& [code, g] : s.goods) {
    EXPECT_EQ(code, g.code);
    EXPECT_LE(g.section, s.maxCountDepat);
    if (!g.barcode.empty()) ++withBarcode;
  }
  EXPECT_GE(withBarcode, 30);
  EXPECT_EQ(s.goods.at(8).flags & 1, 0);  // cheese is sold by weight
  EXPECT_EQ(s.goods.at(8).sold, 12345U);
  EXPECT_TRUE(sc.faults.empty());
}

// The option numbers whose value lies outside the interval the model
// descriptor of the scenario's version gives (0 allowed when the descriptor
// says so).
std::vector<int> OptionsOutsideTheirIntervals(const RegisterState& s) {
  TKKMInfo info;
  info.version = s.version;
  info.descriptorTag = "000000";
  const TIniFile descriptor(simtest::SourcePath("data/ECR_CFG/" + s.version + "_000000.ini"));
  EXPECT_TRUE(descriptor.SectionExists("opions")) << s.version;
  info.ReadDescriptor(descriptor);
  std::vector<int> outside;
  for (std::size_t i = 0; i < s.options.size(); ++i) {
    const TOptionsInfo& o = info.options[i];
    const int v = s.options[i];
    if (!((v >= o.minValue && v <= o.maxValue) || (v == 0 && o.canNull)))
      outside.push_back(static_cast<int>(i) + 1);
  }
  return outside;
}

// The shipped shop holds option values a register would hold; the values
// outside their intervals live in a test scenario of their own.
TEST(SimScenario, DefaultShopOptionsLieInTheirIntervals) {
  const RegisterState shop = simtest::DefaultScenario().state;
  ASSERT_EQ(shop.options.size(), 32U);
  EXPECT_EQ(OptionsOutsideTheirIntervals(shop), std::vector<int>{});

  Scenario odd;
  std::string error;
  ASSERT_TRUE(LoadScenarioFile(std::string(ZARVIK_TEST_DATA) + "/scenarios/options_outside_intervals.ini",
                               odd, error))
      << error;
  EXPECT_EQ(odd.state.version, shop.version);
  EXPECT_EQ(OptionsOutsideTheirIntervals(odd.state), (std::vector<int>{10, 12, 13, 14, 16, 17, 25}));
}

// Walks the journal with its own table of record lengths and checks every
// receipt adds up: lines = subtotal = tax sums = amount due.
TEST(SimScenario, DefaultJournalReceiptsAreConsistent) {
  const RegisterState s = simtest::DefaultScenario().state;
  const std::map<std::uint8_t, std::size_t> lengths = {{0xA1, 15}, {0xA3, 18}, {0xAD, 18}, {0xB1, 12},
                                                       {0xB5, 10}, {0xC1, 11}, {0xC9, 18}, {0xCA, 14},
                                                       {0xCB, 3},  {0xCC, 3}};
  int receipts = 0, op = 0;
  long long lines = 0, subtotal = -1, taxes = 0;
  for (const Bytes& r : s.journal) {
    ASSERT_TRUE(lengths.count(r[0])) << HexBytes(r.data(), r.size());
    ASSERT_EQ(r.size(), lengths.at(r[0]));
    EXPECT_EQ(r.back(), kRecordTail);
    const std::uint8_t code = r[0];
    if (code == 0xCA) {
      EXPECT_TRUE(GetBcd(&r[2], 4).has_value());
      EXPECT_GE(BcdValue(r[6]), 1);   // day
      EXPECT_LE(BcdValue(r[7]), 12);  // month
      EXPECT_EQ(r[11], 75);           // fiscal
      ++receipts;
      op = 0;
      lines = taxes = 0;
      subtotal = -1;
      continue;
    }
    if (code == 0xCB || code == 0xCC) continue;
    EXPECT_EQ(r[1], ++op) << "operation numbers count from 1 within a receipt";
    if (code == 0xA1) lines += static_cast<long long>((Bcd(r, 2, 5) * Bcd(r, 7, 5) + 500) / 1000);
    if (code == 0xA3 || code == 0xAD)
      lines += static_cast<long long>((Bcd(r, 5, 5) * Bcd(r, 10, 5) + 500) / 1000);
    if (code == 0xB1) lines -= static_cast<long long>(Bcd(r, 4, 5));
    if (code == 0xB5) {
      subtotal = static_cast<long long>(Bcd(r, 2, 7));
      EXPECT_EQ(subtotal, lines);
    }
    if (code == 0xC1) taxes += static_cast<long long>(Bcd(r, 3, 7));
    if (code == 0xC9) {
      EXPECT_EQ(static_cast<long long>(Bcd(r, 3, 7)), subtotal);
      EXPECT_EQ(taxes, subtotal);
      const auto tendered = static_cast<long long>(Bcd(r, 10, 7));
      EXPECT_TRUE(tendered == 0 || tendered >= subtotal);
    }
  }
  EXPECT_GE(receipts, 30);
}

TEST(SimScenario, ReceiptIsEncodedIntoJournalRecords) {
  const Scenario sc = Load(
      "[Receipt1]\nKind=1\nNumber=123\nDate=15.12.10\nTime=14:05\nOperator=1\nTaxSums=0\n"
      "Line1=sale;1.000;12.50;1;2\nTendered=20.00\n"
      "[Receipt2]\nSpecial=repeat\nOperator=3\nRaw=AF 12 AA\n"
      "[Receipt3]\nNumber=124\nDate=bad\nTime=14:06\nFiscal=0\nLine1=code;7;0.500;99.90;2;3\nLine2=discount;"
      "5.00;10\n"
      "Payment=4\n");
  const std::vector<Bytes> expected = {
      {0xA1, 0x01, 0x00, 0x10, 0x00, 0x00, 0x00, 0x50, 0x12, 0x00, 0x00, 0x00, 0x01, 0x02, 0xAA},
      {0xB5, 0x02, 0x50, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAA},
      {0xC9, 0x03, 0x00, 0x50, 0x12, 0, 0, 0, 0, 0, 0x00, 0x20, 0, 0, 0, 0, 0, 0xAA},
      {0xCA, 0x01, 0x23, 0x01, 0x00, 0x00, 0x15, 0x12, 0x10, 0x14, 0x05, 0x4B, 0x01, 0xAA},
      {0xCB, 0x03, 0xAA},
      {0xAF, 0x12, 0xAA},
      // 0.5 x 99.90 = 49.95, minus 5.00 = 44.95
      {0xA3, 0x01, 0x07, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x90, 0x99, 0x00, 0x00, 0x00, 0x02, 0x03,
       0xAA},
      {0xB1, 0x02, 0x10, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x02, 0x03, 0xAA},
      {0xB5, 0x03, 0x95, 0x44, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAA},
      {0xC1, 0x04, 0x02, 0x95, 0x44, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAA},
      {0xC9, 0x05, 0x04, 0x95, 0x44, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA},
      {0xCA, 0x01, 0x24, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x14, 0x06, 0x00, 0x01, 0xAA},
  };
  ASSERT_EQ(sc.state.journal.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(HexBytes(sc.state.journal[i].data(), sc.state.journal[i].size()),
              HexBytes(expected[i].data(), expected[i].size()))
        << i;
  }
}

TEST(SimScenario, JournalFramesHoldWholeRecords) {
  Scenario sc = Load("[Register]\nJournalFrameBytes=40\n[Journal]\nGenerateReceipts=5\n");
  const auto frames = ExecuteCommand(sc.state, Bytes{0x01, 0x0F, 0x00, 0x00}, true);
  Bytes all, expected;
  for (const auto& r : sc.state.journal) expected.insert(expected.end(), r.begin(), r.end());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_LE(frames[i].size(), 40U);
    // Every frame starts at a record boundary: its first code is a known kind.
    if (frames[i].size() > 3) {
      EXPECT_GE(frames[i][3], 0xA1) << i;
    }
    all.insert(all.end(), frames[i].begin() + 3, frames[i].end());
  }
  EXPECT_EQ(frames.back(), (Bytes{0x01, 0x0F, 0x09}));
  EXPECT_EQ(all, expected);
  // An empty journal is the end frame alone.
  RegisterState empty;
  EXPECT_EQ(ExecuteCommand(empty, Bytes{0x01, 0x0F, 0x00, 0x00}, true),
            (std::vector<Bytes>{{0x01, 0x0F, 0x09}}));
}

TEST(SimScenario, GeneratedGoodsFillTheCapacity) {
  const Scenario sc =
      Load("[Register]\nGoodsCapacity=4000\n[Goods]\nGenerate=4000\n17=Особый товар;1.00;1\n");
  ASSERT_EQ(sc.state.goods.size(), 4000U);
  EXPECT_EQ(sc.state.goods.at(17).name, "Особый товар");
  for (const auto& [code, g] : sc.state.goods) {
    if (code == 17) continue;
    ASSERT_EQ(g.barcode.size(), 13U) << code;
    int sum = 0;
    for (std::size_t i = 0; i < 13; ++i) sum += (g.barcode[i] - '0') * (i % 2 ? 3 : 1);
    EXPECT_EQ(sum % 10, 0) << "EAN-13 check digit of " << g.barcode;
    EXPECT_LE(Utf8Length(g.name), 32U);
    EXPECT_GE(g.section, 1);
    EXPECT_LE(g.section, 4);
  }
  // A stream of all of them ends in code order.
  RegisterState s = sc.state;
  const auto frames = ExecuteCommand(s, Bytes{0x01, 0x10, 0x01, 0x00}, true);
  ASSERT_EQ(frames.size(), 4000U);
  Goods last;
  ASSERT_TRUE(DecodeGoods(&frames.back()[3], last));
  EXPECT_EQ(last.code, 4000);
}

TEST(SimScenario, Cp1251AndUtf8FilesReadAlike) {
  const std::string text =
      "[Register]\nModel=Зарвик-Ё\n[Departments]\n1=Товар;Молочка;B;100\n[Operators]\n1=Ёлкин;Кассир\n";
  const auto dir = std::filesystem::temp_directory_path() / ("zarvik_sim_sc_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string utf8Path = (dir / "u.ini").string(), cpPath = (dir / "c.ini").string();
  std::ofstream(utf8Path, std::ios::binary) << "\xEF\xBB\xBF" << text;
  std::ofstream(cpPath, std::ios::binary) << Utf8ToCp1251(text);
  Scenario a, b;
  std::string error;
  ASSERT_TRUE(LoadScenarioFile(utf8Path, a, error)) << error;
  ASSERT_TRUE(LoadScenarioFile(cpPath, b, error)) << error;
  EXPECT_EQ(a.state.model, "Зарвик-Ё");
  EXPECT_EQ(b.state.model, a.state.model);
  EXPECT_EQ(b.state.departments[0], (Department{kDepGoods, "Молочка", 2, 10000}));
  EXPECT_EQ(b.state.operatorNames[0], "Ёлкин");
  EXPECT_FALSE(LoadScenarioFile((dir / "missing.ini").string(), a, error));
  std::filesystem::remove_all(dir);
}

TEST(SimScenario, OnlyWellFormedUtf8IsTakenForUtf8) {
  // Byte runs shaped like UTF-8 but overlong, a surrogate or above U+10FFFF
  // are code page 1251 text.
  for (const std::string cp :
       {"\xF0\x8B\x8B\x8B", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "Model=\xF0\x8B\x8B\x8B\n"}) {
    EXPECT_EQ(ScenarioTextToUtf8(cp), Cp1251ToUtf8(cp)) << cp;
  }
  // Well-formed UTF-8 at the edges of those ranges stays as it is.
  for (const std::string utf8 :
       {"\xE0\xA0\x80", "\xED\x9F\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "Зарвик"}) {
    EXPECT_EQ(ScenarioTextToUtf8(utf8), utf8);
  }
}

TEST(SimScenario, BadValuesNameTheirKey) {
  const struct {
    const char* text;
    const char* where;
  } cases[] = {
      {"[Register]\nWorkMode=x\n", "Register/WorkMode"},
      {"[Register]\nNetworkNumber=99\n", "Register/NetworkNumber"},
      {"[Register]\nOperatorCount=5\n", "Register/OperatorCount"},
      {"[Register]\nDateTime=15.12.2010\n", "Register/DateTime"},
      {"[Register]\nGoodsCapacity=4001\n", "Register/GoodsCapacity"},
      {"[Options]\nCount=2\nValues=1,2,3\n", "Options/Values"},
      {"[Departments]\n1=Товар;Имя\n", "Departments/1"},
      {"[Departments]\n1=Открыто\n", "Departments/1"},
      {"[Taxes]\n1=НДС;100.00\n", "Taxes/1"},
      {"[Header]\n1=Текст без шрифта\n", "Header/1"},
      // Texts longer than the register's 32-character fields.
      {"[Header]\n2=0;Строка в тридцать три символа длины\n", "Header/2"},
      {"[Footer]\n6=1;Спасибо за покупку! Приходите к нам ещё\n", "Footer/6"},
      {"[Operators]\n1=Иванова Мария Петровна из смены номер 1;Кассир\n", "Operators/1"},
      {"[Operators]\n2=Петров;Старший кассир торгового зала номер 2\n", "Operators/2"},
      {"[Goods]\n2001=Товар;1.00;1\n", "Goods/2001"},
      {"[Goods]\n1=Товар;1.00;1;9\n", "Goods/1"},
      {"[Goods]\n1=Товар;1.00;1;1;12a\n", "Goods/1"},
      {"[Goods]\nGenerate=3000\n", "Goods/Generate"},
      {"[Receipt1]\nLine1=sale;1.000\n", "Receipt1/Line1"},
      {"[Receipt1]\nLine1=FF;1\n", "Receipt1/Line1"},
      {"[Receipt1]\nSpecial=print\n", "Receipt1/Special"},
      {"[Receipt1]\nRaw=A1 0\n", "Receipt1/Raw"},
      {"[Faults]\n1=crc=2\n", "Faults/1"},
  };
  for (const auto& c : cases) {
    Scenario sc;
    std::string error;
    EXPECT_FALSE(LoadScenarioText(c.text, sc, error)) << c.text;
    EXPECT_NE(error.find(c.where), std::string::npos) << c.text << " gave: " << error;
  }
  const Scenario sc = Load("[Faults]\n1=wait=2\n2=busy*inf\n");
  EXPECT_EQ(sc.faults,
            (std::vector<Fault>{{FaultKind::Wait, 2, 0, 1}, {FaultKind::Busy, 1, 0, kFaultForever}}));
  EXPECT_EQ(Load("[Register]\nmaxCountDepat=16\n").state.maxCountDepat, 16);
  // Exactly 32 characters fit.
  std::string full;
  for (int i = 0; i < 32; ++i) full += "Ж";
  EXPECT_EQ(Load("[Header]\n1=0;" + full + "\n").state.header[0].text, full);
  EXPECT_EQ(Load("[Operators]\n1=" + full + ";" + full + "\n").state.positions[0], full);
  // An empty scenario is a working register with 64 options.
  EXPECT_EQ(Load("").state.options.size(), 64U);
}

#ifdef ZARVIK_SIM_EXE
// The program: maps its port number in ZarvikConfig.ini, serves the line,
// and leaves cleanly on SIGTERM.
TEST(SimProgram, ServesAPortNumberUntilTerminated) {
  const auto dir = std::filesystem::temp_directory_path() / ("zarvik_sim_exe_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  struct InDir {
    std::filesystem::path old = std::filesystem::current_path();
    explicit InDir(const std::filesystem::path& d) { std::filesystem::current_path(d); }
    ~InDir() { std::filesystem::current_path(old); }
  } inDir(dir);
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  const std::string scenario = simtest::SourcePath("sim/scenarios/default.ini");
  std::vector<std::string> args = {ZARVIK_SIM_EXE, "--com", "9", "--scenario", scenario, "--fault", "busy"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, ZARVIK_SIM_EXE, &fa, nullptr, argv.data(), environ), 0);
  ::close(out[1]);
  std::string first;
  char c = 0;
  while (::read(out[0], &c, 1) == 1 && c != '\n') first.push_back(c);
  EXPECT_NE(first.find("port 9 (COM9)"), std::string::npos) << first;
  const std::string slave = TIniFile("ZarvikConfig.ini").ReadString("Devices", "COM9", "");
  ASSERT_FALSE(slave.empty());
  EXPECT_NE(first.find(slave), std::string::npos);
  {
    simtest::PcLine pc;
    ASSERT_TRUE(pc.Open(slave));
    pc.SendControl(0xC5);
    EXPECT_EQ(pc.ReadControl(), 0xE9);  // the fault from the command line
    EXPECT_EQ(pc.One(Bytes{0x01, 0x01}).size(), 44U);
  }
  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(TIniFile("ZarvikConfig.ini").ReadString("Devices", "COM9", ""), "");
  ::close(out[0]);
  posix_spawn_file_actions_destroy(&fa);
  std::filesystem::remove_all(dir);
}

TEST(SimProgram, RefusesBadArguments) {
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{"--fault", "nope"}, std::vector<std::string>{"--com", "0"},
        std::vector<std::string>{"--scenario", "/nonexistent.ini"}, std::vector<std::string>{"--bogus"}}) {
    std::vector<std::string> args = {ZARVIK_SIM_EXE};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, ZARVIK_SIM_EXE, &fa, nullptr, argv.data(), environ), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << extra[0];
    posix_spawn_file_actions_destroy(&fa);
  }
}
#endif

}  // namespace
}  // namespace zarvik::sim
