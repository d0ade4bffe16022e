// zarvikctl config export, diff and apply as a process against the register
// simulator on a pseudo-terminal: what is written is counted on the
// simulator.
#include <gtest/gtest.h>

#ifdef ZARVIK_CTL_EXE

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "CtlProcess.h"
#include "CtlSimSupport.h"
#include "Scenario.h"
#include "Simulator.h"
#include "TestSupport.h"
#include "shell/TextCodec.h"

namespace zarvik {
namespace {

constexpr int kSimPort = 210;

// The register's write commands on the wire.
using test::kSetDepartment;
using test::kSetFooterLine;
using test::kSetHeaderLine;
using test::kSetOperatorName;
using test::kSetOptions;
using test::kSetPosition;

constexpr const char* kShop = R"(
[Register]
Model=Зарвик-ТЕСТ
SerialNumber=000111222333
Version=T 001
WorkMode=2
DateTime=01.02.26 10:20:30
GoodsCapacity=100
Departments=4
OperatorCount=4
[Options]
Count=8
Values=1,0,2,0,1,1,0,0
[Departments]
1=Товар;Бакалея;A;100.00
2=Услуга;Доставка;B;0
3=Закрыто
4=Товар;Молоко;C;50.50
[Taxes]
1=НДС 18%;18.00;1
[Header]
1=1;ООО "Ромашка"
2=1;г. Тверь
3=1;
4=1;
5=1;
6=1;
[Footer]
1=2;Спасибо!
2=2;
3=2;
4=2;
5=2;
6=2;
[Operators]
1=Иванова;Кассир
2=Петров;Старший кассир
)";

using test::RunResult;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The write commands among those the register carried out.
std::vector<std::uint8_t> Writes(const std::vector<std::uint8_t>& executed) {
  std::vector<std::uint8_t> w;
  for (const std::uint8_t c : executed)
    if (c == kSetHeaderLine || c == kSetFooterLine || c == kSetDepartment || c == kSetOptions ||
        c == kSetOperatorName || c == kSetPosition)
      w.push_back(c);
  return w;
}

class CtlConfig : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string slave;
    simulator = test::StartSimulator(kShop, slave);
    ASSERT_FALSE(slave.empty());
    test::WriteAll(dir.File("ZarvikConfig.ini"), test::CtlSettings(kSimPort, slave));
  }
  void TearDown() override {
    if (simulator) simulator->Close();
  }
  RunResult Run(const std::vector<std::string>& args) { return test::RunCtl(dir.Path(), args); }
  // Exports the register's settings and returns the file's text.
  std::string Export(const std::string& name) {
    const RunResult r = Run({"config", "export", name});
    EXPECT_EQ(r.status, 0) << r.err;
    return test::ReadAll(dir.File(name));
  }
  std::vector<std::uint8_t> WritesSoFar() { return Writes(simulator->State().commandsExecuted); }

  test::TempDir dir;
  std::unique_ptr<sim::Simulator> simulator;
};

TEST_F(CtlConfig, EditedFileShowsItsEditsAndApplyWritesExactlyThose) {
  const std::string original = Export("shop.conf");
  EXPECT_TRUE(Has(original, "[options]\n# 1. ")) << original;
  EXPECT_TRUE(Has(original, "2.name = \"Доставка\"\n")) << original;
  EXPECT_TRUE(Has(original, "header.font = 1\n")) << original;
  EXPECT_TRUE(Has(original, "# 1. \"НДС 18%\" 18.00")) << original;
  EXPECT_TRUE(WritesSoFar().empty());

  std::string edited = Replace(original, "\n3 = 2\n", "\n3 = 0\n");
  edited = Replace(edited, "4.name = \"Молоко\"", "4.name = \"Молоко и сыр\"");
  edited = Replace(edited, "header.2 = \"г. Тверь\"", "header.2 = \"г. Тверь, ул. Мира 1\"");
  test::WriteAll(dir.File("edited.conf"), edited);

  const RunResult diff = Run({"config", "diff", "edited.conf"});
  EXPECT_EQ(diff.status, 0) << diff.err;
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < diff.out.size();) {
    const std::size_t end = diff.out.find('\n', at);
    lines.push_back(diff.out.substr(at, end - at));
    at = end == std::string::npos ? diff.out.size() : end + 1;
  }
  ASSERT_EQ(lines.size(), 4u) << diff.out;
  EXPECT_TRUE(Has(lines[0], ": [options] 3: 2 -> 0")) << lines[0];
  EXPECT_TRUE(Has(lines[1], ": [departments] 4.name: \"Молоко\" -> \"Молоко и сыр\"")) << lines[1];
  EXPECT_TRUE(Has(lines[2], ": [receipt] header.2: \"г. Тверь\" -> \"г. Тверь, ул. Мира 1\"")) << lines[2];
  EXPECT_EQ(lines[3], "Отличий: 3");
  EXPECT_TRUE(WritesSoFar().empty());

  const RunResult dry = Run({"config", "apply", "edited.conf", "--dry-run"});
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_TRUE(Has(dry.out, "--dry-run")) << dry.out;
  EXPECT_TRUE(WritesSoFar().empty());

  const RunResult apply = Run({"config", "apply", "edited.conf"});
  EXPECT_EQ(apply.status, 0) << apply.err;
  EXPECT_TRUE(Has(apply.out, "Записаны настройки из файла edited.conf")) << apply.out;
  EXPECT_TRUE(Has(apply.err, "Резервная копия сохранена")) << apply.err;
  EXPECT_EQ(WritesSoFar(), (std::vector<std::uint8_t>{kSetOptions, kSetDepartment, kSetHeaderLine}));
  const sim::RegisterState s = simulator->State();
  EXPECT_EQ(s.options[2], 0);
  EXPECT_EQ(s.departments[3].name, "Молоко и сыр");
  EXPECT_EQ(s.header[1].text, "г. Тверь, ул. Мира 1");
  EXPECT_EQ(s.departments[1].name, "Доставка");
  EXPECT_TRUE(test::ReadAll(dir.File("bd/Profile.dbf")).size() > 0);

  EXPECT_EQ(Export("again.conf"), edited);
  // Nothing differs any more: a second apply writes nothing.
  const std::size_t before = WritesSoFar().size();
  const RunResult again = Run({"config", "apply", "edited.conf"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(Has(again.out, "Отличий нет")) << again.out;
  EXPECT_EQ(WritesSoFar().size(), before);
}

TEST_F(CtlConfig, AnyValueTheRegisterCannotTakeRefusesTheWholeFileBeforeAWrite) {
  const std::string original = Export("shop.conf");
  struct Case {
    std::string from;
    std::string to;
    std::string part;
  };
  const std::vector<Case> cases = {
      {"\n1 = 1\n", "\n1 = 7\n", "option 1: \"7\" is outside"},
      {"1.name = \"Бакалея\"", "1.name = \"Бакалея №1\"", "cannot print «№»"},
      {"footer.1 = \"Спасибо!\"", "footer.1 = \"Спасибо!\\x07\"", "cannot print «U+0007»"},
      {"header.font = 1", "header.font = 8", "not a font of this register"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.to);
    // A good edit first, then the bad one.
    std::string text = Replace(original, "2.name = \"Доставка\"", "2.name = \"Курьер\"");
    text = Replace(text, c.from, c.to);
    test::WriteAll(dir.File("bad.conf"), text);
    const std::size_t at = text.find(c.to) + (c.to[0] == '\n' ? 1 : 0);
    const std::size_t line = static_cast<std::size_t>(
        std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n') + 1);
    const RunResult r = Run({"config", "apply", "bad.conf"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "bad.conf:" + std::to_string(line) + ": ")) << r.err;
    EXPECT_TRUE(Has(r.err, c.part)) << r.err;
    EXPECT_TRUE(Has(r.err, "не записан")) << r.err;
    EXPECT_TRUE(WritesSoFar().empty());
    EXPECT_EQ(simulator->State().departments[1].name, "Доставка");
  }
}

TEST_F(CtlConfig, APartialFileLeavesTheOtherTablesAlone) {
  const sim::RegisterState before = simulator->State();
  test::WriteAll(dir.File("part.conf"),
                 "# only the second footer line and an operator's position\n[receipt]\nfooter.2 = \"До "
                 "свидания\"\n\n[operators]\n2.position = \"Кассир\"\n");
  const RunResult r = Run({"config", "apply", "part.conf"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(WritesSoFar(), (std::vector<std::uint8_t>{kSetFooterLine, kSetPosition}));
  const sim::RegisterState after = simulator->State();
  EXPECT_EQ(after.footer[1].text, "До свидания");
  EXPECT_EQ(after.footer[1].font, 2);
  EXPECT_EQ(after.positions[1], "Кассир");
  EXPECT_EQ(after.operatorNames, before.operatorNames);
  EXPECT_EQ(after.options, before.options);
  for (std::size_t n = 0; n < 4; ++n) EXPECT_EQ(after.departments[n].name, before.departments[n].name) << n;
  EXPECT_EQ(after.header[0].text, before.header[0].text);
  EXPECT_EQ(after.footer[0].text, before.footer[0].text);
  // The register's departments and options were never even read.
  const auto& executed = after.commandsExecuted;
  EXPECT_EQ(std::count(executed.begin(), executed.end(), std::uint8_t{0x07}), 0);
}

// Operator names as long as the register's field holds (the default
// simulated shop has names of 21 and 22 characters): the file exported from
// one register applies to another of the same model, and only a name longer
// than the field is refused.
TEST_F(CtlConfig, LongOperatorNamesExportedFromOneRegisterApplyToAnother) {
  simulator->ModifyState([](sim::RegisterState& s) {
    s.operatorNames[0] = "Иванова Анна Петровна";
    s.operatorNames[1] = "Кузнецов Олег Иванович";
    s.positions[1] = "Старший кассир смены зала";
  });
  const std::string original = Export("long.conf");
  EXPECT_TRUE(Has(original, "1.name = \"Иванова Анна Петровна\"\n")) << original;
  EXPECT_TRUE(Has(original, "2.position = \"Старший кассир смены зала\"\n")) << original;
  // Another register of the model, with the short names of the shop.
  std::string slave;
  auto other =
      test::StartSimulator(Replace(kShop, "SerialNumber=000111222333", "SerialNumber=000111222444"), slave);
  ASSERT_FALSE(slave.empty());
  test::TempDir otherDir;
  test::WriteAll(otherDir.File("ZarvikConfig.ini"), test::CtlSettings(kSimPort, slave));
  test::WriteAll(otherDir.File("long.conf"), original);
  const RunResult apply = test::RunCtl(otherDir.Path(), {"config", "apply", "long.conf", "--no-backup"});
  EXPECT_EQ(apply.status, 0) << apply.err;
  const sim::RegisterState s = other->State();
  EXPECT_EQ(Writes(s.commandsExecuted),
            (std::vector<std::uint8_t>{kSetOperatorName, kSetOperatorName, kSetPosition}));
  EXPECT_EQ(s.operatorNames[0], "Иванова Анна Петровна");
  EXPECT_EQ(s.operatorNames[1], "Кузнецов Олег Иванович");
  EXPECT_EQ(s.positions[1], "Старший кассир смены зала");
  // The field's 32 characters pass, a 33rd is refused before any write.
  const std::string full(32, 'x');
  test::WriteAll(otherDir.File("full.conf"), "[operators]\n3.name = \"" + full + "\"\n");
  const RunResult fits = test::RunCtl(otherDir.Path(), {"config", "apply", "full.conf", "--no-backup"});
  EXPECT_EQ(fits.status, 0) << fits.err;
  EXPECT_EQ(other->State().operatorNames[2], full);
  test::WriteAll(otherDir.File("over.conf"), "[operators]\n4.position = \"" + full + "y\"\n");
  const RunResult over = test::RunCtl(otherDir.Path(), {"config", "apply", "over.conf", "--no-backup"});
  EXPECT_EQ(over.status, 2) << over.err;
  EXPECT_TRUE(Has(over.err, "over.conf:2: 4.position: at most 32 characters, not 33")) << over.err;
  EXPECT_EQ(other->State().positions[3], "");
  other->Close();
}

TEST_F(CtlConfig, AnotherRegistersSerialNumberIsRefused) {
  test::WriteAll(dir.File("one.conf"), "[options]\n1 = 0\n");
  const RunResult r = Run({"--serial", "999999999999", "config", "apply", "one.conf"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "Серийный номер ККМ 000111222333 вместо 999999999999")) << r.err;
  EXPECT_TRUE(WritesSoFar().empty());
  const RunResult ok = Run({"--serial", "000111222333", "config", "apply", "one.conf", "--no-backup"});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(WritesSoFar(), std::vector<std::uint8_t>{kSetOptions});
}

// --json: one JSON object on standard output, nothing on standard error,
// the exit statuses as without it.
TEST_F(CtlConfig, JsonGivesOneObjectWithTheResultTheCountsAndEveryMessage) {
  const auto single = [](const RunResult& r) {
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_TRUE(r.out.starts_with("{\"command\":")) << r.out;
  };
  const RunResult info = Run({"info", "--json"});
  EXPECT_EQ(info.status, 0);
  single(info);
  EXPECT_TRUE(Has(info.out, R"("exit":0,"ok":true,"result":{"register":{"serial":"000111222333",)"
                            R"("model":"Зарвик-ТЕСТ","version":"T 001","mode":"OFF-LINE","date":"01.02.26",)"
                            R"("time":"10:20:30","port":210,"speed":19200,"net":1,)"))
      << info.out;
  EXPECT_TRUE(Has(info.out, R"("max_goods":)")) << info.out;
  EXPECT_TRUE(Has(info.out, R"("operators":4}})")) << info.out;

  test::WriteAll(dir.File("edit.conf"),
                 "[options]\n3 = 0\n[departments]\n4.name = \"Молоко \\\"3,2%\\\"\"\n");
  const RunResult diff = Run({"config", "diff", "edit.conf", "--json"});
  EXPECT_EQ(diff.status, 0);
  single(diff);
  EXPECT_TRUE(Has(diff.out, R"("command":"config diff","exit":0,"ok":true,"result":{"file":"edit.conf",)"
                            R"("serial":"000111222333","changes":[)"
                            R"({"line":2,"section":"options","key":"3","from":"2","to":"0"},)"
                            R"({"line":4,"section":"departments","key":"4.name","from":"\"Молоко\"",)"
                            R"("to":"\"Молоко \\\"3,2%\\\"\""}]},"counts":{"changes":2,"errors":0},)"
                            R"("messages":[{"level":"info","text":"Отличий: 2"})"))
      << diff.out;
  EXPECT_TRUE(WritesSoFar().empty());

  const RunResult apply = Run({"config", "apply", "edit.conf", "--json"});
  EXPECT_EQ(apply.status, 0);
  single(apply);
  EXPECT_TRUE(Has(apply.out, R"("counts":{"changes":2,"errors":0,"writes":2,"written":2})")) << apply.out;
  EXPECT_TRUE(Has(apply.out, R"("backup":"Авто )")) << apply.out;
  EXPECT_EQ(test::Occurrences(apply.out, "Резервная копия сохранена"), 1) << apply.out;
  EXPECT_TRUE(Has(apply.out, R"({"level":"info","text":"Записаны настройки из файла edit.conf: )"))
      << apply.out;
  EXPECT_EQ(WritesSoFar(), (std::vector<std::uint8_t>{kSetOptions, kSetDepartment}));
  EXPECT_EQ(simulator->State().departments[3].name, "Молоко \"3,2%\"");

  // Refused file, another register, a command without JSON, a bad option:
  // the object says so with the usual exit status.
  test::WriteAll(dir.File("bad.conf"), "[options]\n1 = 7\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string part;
  };
  const std::vector<Case> cases = {
      {{"config", "apply", "bad.conf", "--json"},
       2,
       R"("counts":{"changes":0,"errors":1,"writes":0,"written":0},"messages":[{"level":"error",)"
       R"("text":"bad.conf:2: option 1: \"7\" is outside 0 - 3"},{"level":"error",)"
       R"("text":"Файл bad.conf не записан: ошибок 1"})"},
      {{"--serial", "999999999999", "config", "apply", "edit.conf", "--json"},
       1,
       R"({"level":"error","text":"Серийный номер ККМ 000111222333 вместо 999999999999: команда не выполнена"})"},
      {{"taxes", "get", "--json"}, 2, R"("text":"--json does not apply to this command")"},
      {{"--json"}, 2, R"("text":"a command is needed")"},
      {{"config", "apply", "edit.conf", "--json", "--bogus"}, 2, R"("text":"unknown option --bogus")"},
  };
  for (const Case& c : cases) {
    const RunResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0];
    single(r);
    EXPECT_TRUE(Has(r.out, "\"exit\":" + std::to_string(c.status) + ",\"ok\":false")) << r.out;
    EXPECT_TRUE(Has(r.out, c.part)) << r.out;
  }
  EXPECT_EQ(WritesSoFar().size(), 2u);
}

// goods diff and goods write with --json: the rows to send with their
// changed fields, the counts, the checks that refuse a file.
TEST_F(CtlConfig, GoodsJsonListsTheRowsTheCountsAndTheRefusedRows) {
  const auto goodsWrites = [&] {
    const auto& e = simulator->State().commandsExecuted;
    return std::count(e.begin(), e.end(), std::uint8_t{0x11});
  };
  test::WriteAll(dir.File("prices.csv"), Utf8ToCp1251("1;170;Хлеб;1;52.9;1;1;4600605000014;False;0\n"
                                                      "7;170;Соль;1;19.5;4;1;;False;0\n"));
  const RunResult diff = Run({"goods", "diff", "prices.csv", "--json"});
  EXPECT_EQ(diff.status, 0) << diff.out;
  EXPECT_TRUE(diff.err.empty()) << diff.err;
  EXPECT_TRUE(Has(diff.out,
                  R"("command":"goods diff","exit":0,"ok":true,"result":{"file":"prices.csv",)"
                  R"("serial":"000111222333","dry_run":true,"checks":[],"rows":[)"
                  R"({"code":1,"name":"Хлеб","place":1,"new":true,"changes":[]},)"
                  R"({"code":7,"name":"Соль","place":2,"new":true,"changes":[]}]},)"
                  R"("counts":{"errors":0,"warnings":0,"send":2,"changed":0,"new":2,"unchanged":0})"))
      << diff.out;
  EXPECT_EQ(goodsWrites(), 0);

  const RunResult write = Run({"goods", "write", "prices.csv", "--no-backup", "--json"});
  EXPECT_EQ(write.status, 0) << write.out;
  EXPECT_TRUE(
      Has(write.out, R"("send":2,"changed":0,"new":2,"unchanged":0,"written":2,"written_new":2,"failed":0})"))
      << write.out;
  EXPECT_EQ(goodsWrites(), 2);

  // One price changed: that row alone, with its field.
  test::WriteAll(dir.File("prices.csv"), Utf8ToCp1251("1;170;Хлеб;1;52.9;1;1;4600605000014;False;0\n"
                                                      "7;170;Соль;1;21;4;1;;False;0\n"));
  const RunResult again = Run({"goods", "write", "prices.csv", "--no-backup", "--json"});
  EXPECT_EQ(again.status, 0) << again.out;
  EXPECT_TRUE(Has(again.out, R"({"code":7,"name":"Соль","place":2,"new":false,"changes":[{"field":"Price",)"
                             R"("title":"цена","from":")"))
      << again.out;
  EXPECT_TRUE(Has(again.out, R"("send":1,"changed":1,"new":0,"unchanged":1,"written":1,"written_new":0)"))
      << again.out;
  EXPECT_EQ(goodsWrites(), 3);

  // A code beyond the register's goods numbers refuses the file, named.
  test::WriteAll(dir.File("bad.csv"), Utf8ToCp1251("1;170;Хлеб;1;60;1;1;4600605000014;False;0\n"
                                                   "500;170;Перец;1;30;1;1;;False;0\n"));
  const RunResult bad = Run({"goods", "write", "bad.csv", "--no-backup", "--json"});
  EXPECT_EQ(bad.status, 2) << bad.out;
  EXPECT_TRUE(Has(bad.out, R"("checks":[{"error":true,"place":2,"code":"500","field":"Code",)")) << bad.out;
  EXPECT_TRUE(Has(bad.out, R"("counts":{"errors":1,"warnings":0})")) << bad.out;
  EXPECT_TRUE(Has(bad.out, R"({"level":"error","text":"Строка 2, код 500: )")) << bad.out;
  EXPECT_EQ(goodsWrites(), 3);
}

TEST_F(CtlConfig, BadFilesAndArgumentsAreUsageErrors) {
  test::WriteAll(dir.File("syntax.conf"), "[options]\n1 = 1\n[bogus]\n");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"config"}, "needs a subcommand"},
      {{"config", "export"}, "needs one FILE"},
      {{"config", "diff", "a", "b"}, "needs one FILE"},
      {{"config", "apply", "syntax.conf"}, "syntax.conf:3: unknown section [bogus]"},
      {{"config", "diff", "syntax.conf"}, "syntax.conf:3: unknown section"},
      {{"config", "export", "x.conf", "--dry-run"}, "--dry-run does not apply"},
  };
  for (const auto& [args, text] : cases) {
    const RunResult r = Run(args);
    EXPECT_EQ(r.status, 2) << args.back();
    EXPECT_TRUE(Has(r.err, text)) << args.back() << ":\n" << r.err;
  }
  const RunResult missing = Run({"config", "apply", "missing.conf"});
  EXPECT_NE(missing.status, 0);
  EXPECT_TRUE(simulator->State().commandsExecuted.empty());
}

}  // namespace
}  // namespace zarvik

#endif  // ZARVIK_CTL_EXE
