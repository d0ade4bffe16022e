// The register's command set against an answering register on an in-memory
// line: the requests byte by byte, the decoding of the answers, the DISC
// rules, the refusals and the result texts.
#include <gtest/gtest.h>

#include <map>

#include "protocol/U_protocolkkm.h"
#include "protocol_test_support.h"
#include "shell/TextCodec.h"
#include "shell/U_language.h"

namespace zarvik {
namespace {

using test::Bytes;

class BoxHooks final : public IUiHooks {
 public:
  void ShowMessageBox(BoxKind, const std::string&, const std::string& text) override {
    boxes.push_back(text);
  }
  std::vector<std::string> boxes;
};

Bytes Cp(const std::string& utf8) {
  const std::string b = Utf8ToCp1251(utf8);
  return Bytes(b.begin(), b.end());
}

// An answer: 01, the command code, the result code, then `data`.
Bytes Answer(std::uint8_t command, std::uint8_t result, const Bytes& data = {}) {
  Bytes a{0x01, command, result};
  a.insert(a.end(), data.begin(), data.end());
  return a;
}

// A field of `width` bytes holding `text` and zeros.
Bytes Field(const std::string& text, std::size_t width) {
  Bytes f = Cp(text);
  f.resize(width, 0x00);
  return f;
}

struct CommandsFixture : ::testing::Test {
  CommandsFixture() {
    protocol.SetLine(&line);
    protocol.waits = kNoLinkWaits;
    SetUiHooks(&hooks);
  }
  ~CommandsFixture() override { SetUiHooks(nullptr); }

  // The register answers with what `answers` holds for the command code,
  // else with a plain success of the write commands.
  Bytes Respond(const Bytes& request) {
    const std::uint8_t command = request.size() > 1 ? request[1] : 0;
    if (respond) return respond(request);
    auto it = answers.find(command);
    return it != answers.end() ? it->second : Answer(command, 0);
  }

  TKKM kkm;
  TScriptedStream line;
  TProtocolKKM protocol{&kkm};
  test::AnsweringRegister reg{line, [this](const Bytes& r) { return Respond(r); }};
  BoxHooks hooks;
  std::map<std::uint8_t, Bytes> answers;
  std::function<Bytes(const Bytes&)> respond;
};

Bytes InfoAnswer(const std::string& model, const std::string& serial, const std::string& version,
                 std::uint8_t mode) {
  return Answer(0x01, 0, test::Cat({Field(model, 16), Field(serial, 12), Field(version, 12), Bytes{mode}}));
}

TEST_F(CommandsFixture, GetInfoStoresIdentityAndProbesTheGoodsCapacity) {
  struct Case {
    std::map<int, std::uint8_t> probeResults;  // goods number -> result code (missing = 9)
    int maxCountGoods;
  };
  const Case cases[] = {
      {{{3000, 3}}, 2000},
      {{{100, 3}}, 0},
      {{}, 4000},
      {{{100, 0}, {500, 0}, {1000, 1}}, 500},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.maxCountGoods);
    std::vector<int> probed;
    respond = [&](const Bytes& r) {
      if (r[1] == 0x01) return InfoAnswer("  Зарвик-01Ф  ", "0012345678", "B 3", 2);
      const int number = BcdToInt(r[2]) + 100 * BcdToInt(r[3]);
      probed.push_back(number);
      auto it = c.probeResults.find(number);
      return Answer(0x10, it != c.probeResults.end() ? it->second : std::uint8_t{9});
    };
    reg.controls.clear();
    ASSERT_TRUE(protocol.GetInfo());
    const TKKMInfo& info = *kkm.info;
    EXPECT_EQ(info.model, "Зарвик-01Ф");
    EXPECT_EQ(info.serialNumber, "0012345678");
    EXPECT_EQ(info.version, "B 003");
    EXPECT_EQ(info.descriptorTag, "000000");
    EXPECT_EQ(info.workMode, 2);
    EXPECT_EQ(info.maxCountGoods, c.maxCountGoods);
    EXPECT_EQ(reg.Discs(), 1 + static_cast<int>(probed.size()));
    EXPECT_TRUE(hooks.boxes.empty());
  }
  EXPECT_EQ(reg.requests.front(), (Bytes{0x01, 0x01}));
  EXPECT_EQ(reg.requests[1], (Bytes{0x01, 0x10, 0x00, 0x01})) << "goods 100 as two BCD bytes";
}

TEST_F(CommandsFixture, GetInfoWithABadAnswerSendsNoDisc) {
  answers[0x01] = Answer(0x01, 0, Bytes(10, 0x41));
  EXPECT_FALSE(protocol.GetInfo());
  EXPECT_EQ(reg.Discs(), 0);
  EXPECT_EQ(hooks.boxes, std::vector<std::string>{"Не верный размер полученых данных"});
  EXPECT_EQ(kkm.info, nullptr);
  // An answer of a size the command cannot have may have lost a byte on the
  // way: asked again, without DISC (the exchange was done); the same answer
  // each time is then reported once.
  EXPECT_EQ(reg.requests.size(), static_cast<std::size_t>(1 + kMaxCommandRepeats));
  EXPECT_EQ(protocol.lineCounts.commandsRepeated, kMaxCommandRepeats);
}

// A goods probe left without an answer fails the identification, and the
// register information stays as it was: the new model, serial number and
// goods capacity are taken together or not at all.
TEST_F(CommandsFixture, AFailedIdentificationLeavesTheRegisterInformation) {
  bool probeAnswered = true;
  respond = [&](const Bytes& r) {
    if (r[1] == 0x01) return InfoAnswer(probeAnswered ? "Зарвик-01Ф" : "Другая", "0012345678", "B 3", 2);
    return probeAnswered ? Answer(0x10, 3) : Bytes{0x01, 0x10};
  };
  ASSERT_TRUE(protocol.GetInfo());
  probeAnswered = false;
  EXPECT_FALSE(protocol.GetInfo());
  EXPECT_EQ(kkm.linkState, lsNoAnswer);
  EXPECT_EQ(kkm.info->model, "Зарвик-01Ф");
  EXPECT_EQ(kkm.info->maxCountGoods, 0);

  TKKM fresh;
  TProtocolKKM other{&fresh};
  other.SetLine(&line);
  other.waits = protocol.waits;
  EXPECT_FALSE(other.GetInfo());
  EXPECT_EQ(fresh.info, nullptr);
}

TEST_F(CommandsFixture, ProbeGoodsAcceptsFoundAndNotFound) {
  for (const auto& [code, expected] :
       std::vector<std::pair<std::uint8_t, bool>>{{0, true}, {9, true}, {3, false}}) {
    answers[0x10] = Answer(0x10, code);
    EXPECT_EQ(protocol.ProbeGoods(1234), expected) << int{code};
  }
  EXPECT_EQ(reg.requests.back(), (Bytes{0x01, 0x10, 0x34, 0x12}));
  // The probe waits for the answer in a second poll (no continuation).
  EXPECT_EQ(reg.controls[1], 0x80 | (reg.controls[1] & 7));
  EXPECT_EQ(reg.Discs(), 3);
  EXPECT_TRUE(hooks.boxes.empty());
}

TEST_F(CommandsFixture, GetDateTimeShowsTheBcdBytes) {
  answers[0x02] = Answer(0x02, 0, {0x31, 0x12, 0x10, 0x23, 0x59, 0x58});
  ASSERT_TRUE(protocol.GetDateTime());
  EXPECT_EQ(kkm.info->dateText, "31.12.10");
  EXPECT_EQ(kkm.info->timeText, "23:59:58");
}

TEST_F(CommandsFixture, DepartmentsDecodeByStatus) {
  const Bytes price = {0x34, 0x12, 0x00, 0x00, 0x00};
  struct Case {
    std::uint8_t status;
    std::string state, name, taxGroup;
    double price;
    std::uint8_t tax;
  };
  const Case cases[] = {
      {0xA1, "Товар", "Бакалея", "B", 12.34, 2},
      {0xA2, "Услуга", "Доставка", "A", 12.34, 1},
      {0xA3, "Закрыто", "", "0", 0.0, 1},
      {0x00, "Закрыто", "", "0", 0.0, 1},
      // A tax byte that would give a control character (NUL, 0x15, DEL) is
      // no letter: the department shows no tax group.
      {0xA1, "Товар", "Бакалея", "0", 12.34, 0xC0},
      {0xA1, "Товар", "Бакалея", "0", 12.34, 0xD5},
      {0xA1, "Товар", "Бакалея", "0", 12.34, 0x3F},  // DEL
      {0xA1, "Товар", "Бакалея", "Я", 12.34, 0x9F},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state + " " + std::to_string(c.tax));
    const std::uint8_t tax = c.tax;
    answers[0x07] = Answer(
        0x07, 0,
        test::Cat({{0x00, c.status}, Field(c.state == "Закрыто" ? "X" : c.name, 22), {0, 0, 0, tax}, price}));
    ASSERT_TRUE(protocol.GetDepartment(7));
    const TDepRec& dep = kkm.info->departments[6];
    EXPECT_EQ(dep.status, c.state);
    EXPECT_EQ(dep.name, c.name);
    EXPECT_EQ(dep.taxGroup, c.taxGroup);
    EXPECT_DOUBLE_EQ(dep.price, c.price);
  }
  EXPECT_EQ(reg.requests.back(), (Bytes{0x01, 0x07, 0x07}));
}

TEST_F(CommandsFixture, ClosedDepartmentIsWrittenBackAsA3AndZeros) {
  answers[0x07] =
      Answer(0x07, 0, test::Cat({{0x00, 0xA3}, Field("Старое", 22), {0, 0, 0, 2}, {1, 2, 3, 4, 5}}));
  ASSERT_TRUE(protocol.GetDepartment(3));
  ASSERT_TRUE(protocol.SetDepartment(3));
  Bytes expected(35, 0x00);
  expected[0] = 0x01;
  expected[1] = 0x08;
  expected[2] = 0x03;
  expected[3] = 0xA3;
  EXPECT_EQ(reg.requests.back(), expected);
}

TEST_F(CommandsFixture, SetDepartmentTaxGroupAndPriceRules) {
  struct Case {
    std::string taxGroup;
    double price;
    std::uint8_t taxByte;
    Bytes priceBytes;
  };
  const Case cases[] = {
      {"A", 12.34, 1, {0x34, 0x12, 0x00, 0x00, 0x00}},
      {"E", 0.005, 5, {0, 0, 0, 0, 0}},
      {"F", 1.0, 0, {0x00, 0x01, 0, 0, 0}},
      {"a", 99999999.99, 0, {0x99, 0x99, 0x99, 0x99, 0x99}},
      {"", 100000000.0, 0, {0, 0, 0, 0, 0}},  // eleven digits of kopecks
      {"C", -5.0, 3, {0, 0, 0, 0, 0}},
      {"D", 0.1 + 0.2, 4, {0x30, 0, 0, 0, 0}},
  };
  kkm.Info();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.taxGroup + " " + std::to_string(c.price));
    TDepRec& dep = kkm.info->departments[0];
    dep.status = LangResStrHandler.Text(ltDepService);
    dep.name = "Ремонт обуви и прочие услуги населению";  // longer than 22
    dep.taxGroup = c.taxGroup;
    dep.price = c.price;
    ASSERT_TRUE(protocol.SetDepartment(1));
    const Bytes& r = reg.requests.back();
    ASSERT_EQ(r.size(), 35u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 4), (Bytes{0x01, 0x08, 0x01, 0xA2}));
    EXPECT_EQ(Bytes(r.begin() + 4, r.begin() + 26), Field("Ремонт обуви и прочие ", 22));
    EXPECT_EQ(Bytes(r.begin() + 26, r.begin() + 29), Bytes(3, 0x00));
    EXPECT_EQ(r[29], c.taxByte);
    EXPECT_EQ(Bytes(r.begin() + 30, r.end()), c.priceBytes);
  }
}

TEST_F(CommandsFixture, TaxRateFromBcdBytes) {
  answers[0x0D] = Answer(0x0D, 0, test::Cat({{0xAA, 0x01, 0x50, 0x18}, Field("НДС 18,5%", 12)}));
  ASSERT_TRUE(protocol.GetTax(2));
  const TTaxRec& tax = kkm.info->taxes[1];
  EXPECT_EQ(tax.defined, 0xAA);
  EXPECT_EQ(tax.kind, 1);
  EXPECT_DOUBLE_EQ(tax.rate, 18.5);
  EXPECT_EQ(tax.name, "НДС 18,5%");

  // An undefined tax keeps its other fields.
  answers[0x0D] = Answer(0x0D, 0, test::Cat({{0x00, 0x02, 0x00, 0x20}, Field("Другой", 12)}));
  ASSERT_TRUE(protocol.GetTax(2));
  EXPECT_EQ(tax.defined, 0x00);
  EXPECT_DOUBLE_EQ(tax.rate, 18.5);
  EXPECT_EQ(tax.name, "НДС 18,5%");
  EXPECT_EQ(reg.requests.back(), (Bytes{0x01, 0x0D, 0x02}));
}

TEST_F(CommandsFixture, OptionCountComesFromTheAnswerLength) {
  test::TraceCapture trace;
  answers[0x09] = Answer(0x09, 0);
  ASSERT_TRUE(protocol.GetOptions());
  EXPECT_EQ(kkm.info->optionCount, 0);

  Bytes values(40);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<std::uint8_t>(i + 1);
  answers[0x09] = Answer(0x09, 0, values);
  ASSERT_TRUE(protocol.GetOptions());
  EXPECT_EQ(kkm.info->optionCount, 40);
  EXPECT_EQ(kkm.info->optionValues[0], 1);
  EXPECT_EQ(kkm.info->optionValues[39], 40);

  answers[0x09] = Answer(0x09, 0, Bytes(67, 0x05));
  EXPECT_FALSE(protocol.GetOptions());
  EXPECT_EQ(kkm.info->optionCount, 32);
  EXPECT_TRUE(trace.Contains("Error:ККМ вернула 67"));
  EXPECT_EQ(reg.Discs(), 3);

  // An error answer is no option table: reported, and the values read
  // before stay.
  kkm.info->optionCount = 40;
  const struct {
    Bytes answer;
    const char* box;
  } errors[] = {{Answer(0x09, 2), "Команда недоступна в текущем режиме"},
                {Answer(0x09, 3, Bytes(10, 0x01)), "Неверный формат команды или данных"}};
  for (const auto& e : errors) {
    answers[0x09] = e.answer;
    hooks.boxes.clear();
    EXPECT_FALSE(protocol.GetOptions());
    EXPECT_EQ(kkm.info->optionCount, 40);
    EXPECT_EQ(kkm.info->optionValues[0], 1);
    EXPECT_EQ(hooks.boxes, std::vector<std::string>{e.box});
  }

  // Writing sends the values of the count in force.
  kkm.info->optionCount = 3;
  kkm.info->optionValues[2] = 0x7F;
  ASSERT_TRUE(protocol.SetOptions());
  EXPECT_EQ(reg.requests.back(), (Bytes{0x01, 0x0A, 0x01, 0x02, 0x7F}));
}

TEST_F(CommandsFixture, ReceiptLinesKeepTheFontOfLineOne) {
  for (int n = 1; n <= 2; ++n) {
    answers[0x03] = Answer(0x03, 0,
                           test::Cat({{0x00, static_cast<std::uint8_t>(n == 1 ? 3 : 6)},
                                      Field("Строка " + std::to_string(n), 32)}));
    ASSERT_TRUE(protocol.GetHeaderLine(n));
    EXPECT_EQ(reg.requests.back(), (Bytes{0x01, 0x03, static_cast<std::uint8_t>(n - 1)}));
  }
  answers[0x05] = Answer(0x05, 0, test::Cat({{0x00, 0x02}, Field("Спасибо за покупку!", 32)}));
  ASSERT_TRUE(protocol.GetFooterLine(1));
  const TKKMInfo& info = *kkm.info;
  EXPECT_EQ(info.headerFont, 3);
  EXPECT_EQ(info.footerFont, 2);
  EXPECT_EQ(info.headerLines[1], "Строка 2");
  EXPECT_EQ(info.footerLines[0], "Спасибо за покупку!");

  ASSERT_TRUE(protocol.SetHeaderLine(2));
  EXPECT_EQ(reg.requests.back(), test::Cat({{0x01, 0x04, 0x01, 0x03}, Field("Строка 2", 32)}));
  kkm.info->footerLines[5] = "Ждём вас\tснова";  // the tab is not a register character
  ASSERT_TRUE(protocol.SetFooterLine(6));
  EXPECT_EQ(reg.requests.back(), test::Cat({{0x01, 0x06, 0x05, 0x02}, Field("Ждём васснова", 32)}));
}

TEST_F(CommandsFixture, OperatorFiveOfAFourOperatorRegister) {
  answers[0x15] = Answer(0x15, 3);
  EXPECT_FALSE(protocol.GetOperatorName(5));
  EXPECT_TRUE(hooks.boxes.empty());
  // Operator 4 with the same answer is an error the user sees.
  EXPECT_FALSE(protocol.GetOperatorName(4));
  EXPECT_EQ(hooks.boxes, std::vector<std::string>{"Неверный формат команды или данных"});
  answers[0x15] = Answer(0x15, 1);
  EXPECT_FALSE(protocol.GetOperatorName(5));
  EXPECT_EQ(hooks.boxes.back(), "Команда не определена");
  EXPECT_EQ(reg.requests.back(), (Bytes{0x01, 0x15, 0x05}));
}

TEST_F(CommandsFixture, OperatorsAndPositionsRoundTheirTexts) {
  answers[0x15] = Answer(0x15, 0, test::Cat({{0x00}, Field("Иванова", 32), {0x00}}));
  answers[0x17] = Answer(0x17, 0, test::Cat({{0x00}, Field("Старший кассир", 32), {0x00}}));
  ASSERT_TRUE(protocol.GetOperatorName(2));
  ASSERT_TRUE(protocol.GetPosition(2));
  EXPECT_EQ(kkm.info->operatorNames[1], "Иванова");
  EXPECT_EQ(kkm.info->positions[1], "Старший кассир");
  ASSERT_TRUE(protocol.SetOperatorName(2));
  EXPECT_EQ(reg.requests.back(), test::Cat({{0x01, 0x16, 0x02}, Field("Иванова", 32)}));
  ASSERT_TRUE(protocol.SetPosition(2));
  EXPECT_EQ(reg.requests.back(), test::Cat({{0x01, 0x18, 0x02}, Field("Старший кассир", 32)}));
}

TEST_F(CommandsFixture, OperatorCountFromTwoProbes) {
  struct Case {
    std::uint8_t first, eighth;
    int count;
  };
  for (const Case c : {Case{0, 0, 8}, Case{0, 3, 4}, Case{1, 0, 0}}) {
    respond = [&](const Bytes& r) {
      return Answer(0x15, r[2] == 1 ? c.first : c.eighth, test::Cat({{0}, Field("x", 32), {0}}));
    };
    EXPECT_EQ(protocol.GetOperatorCount(), c.count);
  }
  EXPECT_TRUE(hooks.boxes.empty());
  line.failWrites = true;
  EXPECT_EQ(protocol.GetOperatorCount(), 0);
}

// A probe answered without its result code got no answer: no refusal is made
// of it (a register with fewer goods numbers or four operators); the probe
// fails with linkState "no answer", which identification takes as a failure.
TEST_F(CommandsFixture, ProbesAnsweredWithoutAResultCodeFail) {
  answers[0x10] = Bytes{0x01, 0x10};
  EXPECT_FALSE(protocol.ProbeGoods(100));
  EXPECT_EQ(kkm.linkState, lsNoAnswer);
  for (const bool firstCut : {true, false}) {
    respond = [&](const Bytes& r) {
      if ((r[2] == 1) == firstCut) return Bytes{0x01, 0x15};
      return Answer(0x15, 0, test::Cat({{0}, Field("x", 32), {0}}));
    };
    EXPECT_EQ(protocol.GetOperatorCount(), 0) << firstCut;
    EXPECT_EQ(kkm.linkState, lsNoAnswer) << firstCut;
  }
}

TEST_F(CommandsFixture, PrintLineLimitsFontBrightnessAndLength) {
  kkm.Info();
  const std::string text = "Проверка печати: сорок символов в строке";
  ASSERT_EQ(Utf8Length(text), 40u);
  ASSERT_TRUE(protocol.PrintLine(9, 7, text));
  const Bytes expected = test::Cat({{0x01, 0x19, 0x00, 0x05}, Cp(Utf8Left(text, 32)), {0x0A, 0x0D, 0x00}});
  EXPECT_EQ(reg.requests.back(), expected);
  ASSERT_TRUE(protocol.PrintLine(7, 5, "a\tb"));  // copied as it is
  EXPECT_EQ(reg.requests.back(),
            test::Cat({{0x01, 0x19, 0x07, 0x05}, Field("a\tb", 32), {0x0A, 0x0D, 0x00}}));
}

TEST_F(CommandsFixture, GoodsRecordGoesBothWays) {
  Bytes record(64);
  for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(i * 3);
  answers[0x10] = Answer(0x10, 0, record);
  ASSERT_TRUE(protocol.GetGoods(42));
  EXPECT_EQ(reg.requests.back(), (Bytes{0x01, 0x10, 0x42, 0x00}));
  EXPECT_EQ(Bytes(kkm.info->GoodsRecord.begin(), kkm.info->GoodsRecord.end()), record);

  for (bool keep : {false, true}) {
    kkm.info->keepSoldCount = keep;
    ASSERT_TRUE(protocol.SetGoods());
    const Bytes& r = reg.requests.back();
    ASSERT_EQ(r.size(), 57u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 2), (Bytes{0x01, 0x11}));
    EXPECT_EQ(Bytes(r.begin() + 2, r.begin() + 56), Bytes(record.begin(), record.begin() + 54));
    EXPECT_EQ(r[56], keep ? 0x00 : 0xAA);
  }
}

TEST_F(CommandsFixture, DiscRulesOfReadAndWriteCommands) {
  kkm.Info();
  // A read command sends DISC before it checks the answer.
  answers[0x0D] = Answer(0x0D, 2);
  EXPECT_FALSE(protocol.GetTax(1));
  EXPECT_EQ(reg.Discs(), 1);
  EXPECT_EQ(hooks.boxes, std::vector<std::string>{"Команда недоступна в текущем режиме"});
  // A write command does not after a bad answer.
  answers[0x16] = Answer(0x16, 7);
  EXPECT_FALSE(protocol.SetOperatorName(1));
  EXPECT_EQ(reg.Discs(), 1);
  answers[0x16] = Answer(0x16, 0, {0x00});  // one byte too many
  EXPECT_FALSE(protocol.SetOperatorName(1));
  EXPECT_EQ(hooks.boxes.back(), "Не верный размер полученых данных");
  EXPECT_EQ(reg.Discs(), 1);
  answers.erase(0x16);
  EXPECT_TRUE(protocol.SetOperatorName(1));
  EXPECT_EQ(reg.Discs(), 2);
  EXPECT_EQ(reg.controls.back(), kDISC);
}

TEST_F(CommandsFixture, FailedExchangeIsQuiet) {
  line.failWrites = true;
  EXPECT_FALSE(protocol.GetDepartment(1));
  EXPECT_FALSE(protocol.GetOptions());
  EXPECT_TRUE(hooks.boxes.empty());
}

TEST_F(CommandsFixture, RefusedCallsSendNothing) {
  // Commands that send model data need the register information.
  EXPECT_FALSE(protocol.SetDepartment(1));
  EXPECT_FALSE(protocol.SetOptions());
  EXPECT_FALSE(protocol.SetHeaderLine(1));
  EXPECT_FALSE(protocol.SetFooterLine(1));
  EXPECT_FALSE(protocol.SetOperatorName(1));
  EXPECT_FALSE(protocol.SetPosition(1));
  EXPECT_FALSE(protocol.SetGoods());
  EXPECT_FALSE(protocol.PrintLine(0, 0, "x"));
  kkm.Info();
  // Numbers outside their ranges.
  EXPECT_FALSE(protocol.GetDepartment(0));
  EXPECT_FALSE(protocol.SetDepartment(100));
  EXPECT_FALSE(protocol.GetTax(6));
  EXPECT_FALSE(protocol.GetHeaderLine(7));
  EXPECT_FALSE(protocol.SetFooterLine(0));
  EXPECT_FALSE(protocol.GetOperatorName(9));
  EXPECT_FALSE(protocol.SetPosition(0));
  EXPECT_FALSE(protocol.GetGoods(10000));
  EXPECT_FALSE(protocol.ProbeGoods(-1));
  EXPECT_TRUE(line.Written().empty());
}

TEST_F(CommandsFixture, StreamingReadsHandEveryFrameOver) {
  Bytes goodsRequest;
  std::vector<Bytes> got;
  respond = [&](const Bytes& r) {
    goodsRequest = r;
    return Answer(r[1], 0, Bytes(64, 0x11));
  };
  ASSERT_TRUE(protocol.ReadAllGoods([&](TMessageBuffer& a, bool&) {
    const auto v = a.View();
    got.emplace_back(v.begin(), v.end());
  }));
  EXPECT_EQ(goodsRequest, (Bytes{0x01, 0x10, 0x01, 0x00}));
  EXPECT_EQ(got.size(), 1u);
  EXPECT_EQ(reg.Discs(), 0);
  EXPECT_FALSE(protocol.onData);
  EXPECT_EQ(reg.controls[1], 0x90) << "continuation bit on the request";

  protocol.onData = [&](TMessageBuffer&, bool&) {};
  ASSERT_TRUE(protocol.ReadJournal());
  EXPECT_EQ(goodsRequest, (Bytes{0x01, 0x0F, 0x00, 0x00}));
  EXPECT_EQ(reg.Discs(), 0);
}

TEST_F(CommandsFixture, CommandsTraceTheirNames) {
  test::TraceCapture trace;
  answers[0x07] = Answer(0x07, 0, Bytes(33, 0));
  protocol.GetDepartment(1);
  kkm.Info();
  protocol.PrintLine(0, 0, "x");
  EXPECT_TRUE(trace.Contains("получаем отдел из ККМ"));
  EXPECT_TRUE(trace.Contains("Печатаем строчку"));
}

TEST_F(CommandsFixture, EveryCommandTracesItsNameAndSendsItsHead) {
  struct Case {
    const char* trace;  // nullptr: no trace of its own
    std::function<void()> call;
    Bytes head;  // the first request bytes
    bool continuation;
  };
  kkm.Info();
  const Case cases[] = {
      {"получаем инфо. о ККМ", [&] { protocol.GetInfo(); }, {0x01, 0x01}, true},
      {"получаем дату и время из ККМ", [&] { protocol.GetDateTime(); }, {0x01, 0x02}, true},
      {"получаем заголовки чека из ККМ", [&] { protocol.GetHeaderLine(3); }, {0x01, 0x03, 0x02}, true},
      {"записываем заголовки чека в ККМ", [&] { protocol.SetHeaderLine(3); }, {0x01, 0x04, 0x02}, true},
      {"получаем окончания чека из ККМ", [&] { protocol.GetFooterLine(6); }, {0x01, 0x05, 0x05}, true},
      {"записываем окончание чека в ККМ", [&] { protocol.SetFooterLine(6); }, {0x01, 0x06, 0x05}, true},
      {"получаем отдел из ККМ", [&] { protocol.GetDepartment(99); }, {0x01, 0x07, 99}, true},
      {"записываем отдел в ККМ", [&] { protocol.SetDepartment(99); }, {0x01, 0x08, 99}, true},
      {"получаем опции из ККМ", [&] { protocol.GetOptions(); }, {0x01, 0x09}, true},
      {"записываем опции в ККМ", [&] { protocol.SetOptions(); }, {0x01, 0x0A}, true},
      {"получаем налоги из ККМ", [&] { protocol.GetTax(5); }, {0x01, 0x0D, 0x05}, true},
      {"получаем товар из ККМ", [&] { protocol.GetGoods(9999); }, {0x01, 0x10, 0x99, 0x99}, false},
      {nullptr, [&] { protocol.ProbeGoods(0); }, {0x01, 0x10, 0x00, 0x00}, false},
      {"записываем товар в ККМ", [&] { protocol.SetGoods(); }, {0x01, 0x11}, true},
      {"получаем имя оператора из ККМ", [&] { protocol.GetOperatorName(8); }, {0x01, 0x15, 0x08}, true},
      {"записываем оператора в ККМ", [&] { protocol.SetOperatorName(8); }, {0x01, 0x16, 0x08}, true},
      {"получаем должность из ККМ", [&] { protocol.GetPosition(1); }, {0x01, 0x17, 0x01}, true},
      {"записываем должность в ККМ", [&] { protocol.SetPosition(1); }, {0x01, 0x18, 0x01}, true},
      {"Печатаем строчку", [&] { protocol.PrintLine(1, 2, "x"); }, {0x01, 0x19, 0x01, 0x02}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.trace != nullptr ? c.trace : "probe");
    test::TraceCapture trace;
    reg.requests.clear();
    reg.controls.clear();
    c.call();
    ASSERT_FALSE(reg.requests.empty());
    const Bytes& r = reg.requests.front();
    ASSERT_GE(r.size(), c.head.size());
    EXPECT_EQ(Bytes(r.begin(), r.begin() + static_cast<std::ptrdiff_t>(c.head.size())), c.head);
    const auto header = std::find_if(reg.controls.begin(), reg.controls.end(), IsDataHeader);
    ASSERT_NE(header, reg.controls.end());
    EXPECT_EQ((*header & kContinuationBit) != 0, c.continuation);
    const auto lines = trace.Lines();
    if (c.trace != nullptr) {
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.front(), c.trace);
    } else {
      EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                              [](const std::string& l) { return l.rfind("получаем", 0) == 0; }),
                0);
    }
  }
}

TEST(ResultTexts, FixedAndLanguageTables) {
  EXPECT_EQ(ErrorText(0), "Нет ошибок");
  EXPECT_EQ(ErrorText(9), "Товар/услуга не найдены");
  EXPECT_EQ(ErrorText(19), "Требуется регистрация на сервере");
  EXPECT_EQ(ErrorText(20), "Неизвестная ошибка:20");
  EXPECT_EQ(ErrorText(255), "Неизвестная ошибка:255");

  const std::pair<int, const char*> cases[] = {
      {0, "Нет ошибок"},
      {3, "неверный формат команды или данных"},
      {28, "переполнение (памяти, регистра и т.д.)"},
      {29, "не верный номер ККМ"},
      {30, "TX_ERR"},
      {31, "bad CRC"},
      {32, "TimeOut"},
      {90, "ошибка фискальной памяти"},
      {91, "конец данных"},
      {99, "user-defined error"},
      {33, "Неизвестная ошибка33"},
      {-1, "Неизвестная ошибка-1"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(ResultText(code), text) << code;
  EXPECT_EQ(ResultText(TLinkCode::ReadFailed), "TimeOut");

  // The link texts follow the language table.
  LangResStrHandler.SetText(ltNoError + 32, "Тайм-аут");
  EXPECT_EQ(ResultText(32), "Тайм-аут");
  LangResStrHandler.SetDefaults();
}

}  // namespace
}  // namespace zarvik
