// zarvikctl run as a process against the register simulator on a
// pseudo-terminal, reached through the port mapping of a ZarvikConfig.ini in
// the child's working folder.
#include <gtest/gtest.h>

#ifdef ZARVIK_CTL_EXE

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CtlProcess.h"
#include "CtlSimSupport.h"
#include "Scenario.h"
#include "Simulator.h"
#include "TestSupport.h"
#include "model/OptionTable.h"
#include "model/RegisterText.h"
#include "port/Comport.h"
#include "port/PortDevices.h"
#include "protocol/U_protocolkkm.h"
#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"
#include "shell/U_language.h"
#include "store/GoodsExchange.h"
#include "store/ProfileStore.h"
#include "store/RegisterBackup.h"
#include "store/UnitBD.h"

namespace zarvik {
namespace {

constexpr int kSimPort = 200;
constexpr int kUnmappedPort = 201;

using test::RunCtl;
using test::RunResult;

// A small shop: four departments, two taxes, receipt texts, two of four
// operators, three goods, one receipt in the journal; a version without a
// model descriptor (4 departments, fonts 0..4, the built-in option table).
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
2=Без НДС;0;0
[Header]
1=1;ООО "Ромашка"
2=0;г. Тверь
[Footer]
1=2;Спасибо!
[Operators]
1=Иванова;Кассир
2=Петров;Старший кассир
[Goods]
1=Хлеб;52.90;1;1;4600605000014;piece;87.000;0
2=Сыр весовой;589.00;2;2;2100008000008;weight;12.345;0
5=Пакет;5.00;1;1;;piece;0;1
[Receipt1]
Kind=1
Number=101
Date=01.02.26
Time=10:05
Operator=1
Line1=code;1;2.000
Tendered=exact
)";

class ZarvikCtl : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string slave;
    simulator = test::StartSimulator(kShop, slave);
    ASSERT_FALSE(slave.empty());
    // The window program's settings: port and speed, network number, devices.
    test::WriteAll(dir.File("ZarvikConfig.ini"), test::CtlSettings(kSimPort, slave, "[NET]\r\nNUMBER=1\r\n"));
  }
  void TearDown() override {
    if (simulator) simulator->Close();
  }
  RunResult Run(const std::vector<std::string>& args, const std::string& input = {},
                bool errTerminal = false) {
    return RunCtl(dir.Path(), args, input, errTerminal);
  }
  // Runs a command that must succeed.
  std::string Ok(const std::vector<std::string>& args) {
    const RunResult r = Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("Error:"), std::string::npos) << r.err;
    return r.out;
  }
  sim::RegisterState State() const { return simulator->State(); }

  test::TempDir dir;
  std::unique_ptr<sim::Simulator> simulator;
};

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(ZarvikCtl, HelpForTheProgramAndEachCommand) {
  const RunResult program = Run({"--help"});
  EXPECT_EQ(program.status, 0);
  EXPECT_TRUE(Has(program.out, "Usage: zarvikctl")) << program.out;
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"info", "--help"}, "Usage: zarvikctl info"},
      {{"options", "set", "--help"}, "options set N=V"},
      {{"departments", "--help"}, "departments set N"},
      {{"receipt", "set", "-h"}, "--header-font"},
      {{"taxes", "get", "--help"}, "taxes get"},
      {{"operators", "--help"}, "operators set N"},
      {{"help", "goods"}, "goods write FILE"},
      {{"journal", "read", "--help"}, "--data"},
      {{"print", "--help"}, "--brightness"},
      {{"find", "--help"}, "Usage: zarvikctl find [PORT...] [--save]"},
      {{"help", "ports"}, "NO ACCESS"},
  };
  for (const auto& [args, text] : cases) {
    const RunResult r = Run(args);
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_TRUE(Has(r.out, text)) << args[0] << ":\n" << r.out;
  }
  EXPECT_TRUE(State().commandsExecuted.empty());
}

TEST_F(ZarvikCtl, BadArgumentsExitWithUsageStatusAndSendNothing) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "Usage"},
      {{"frobnicate"}, "unknown command"},
      {{"options"}, "needs a subcommand"},
      {{"options", "erase"}, "unknown subcommand"},
      {{"--speed", "1234", "info"}, "--speed"},
      {{"--port", "0", "info"}, "--port"},
      {{"--net", "99", "info"}, "--net"},
      {{"--depth", "deep", "info"}, "--depth"},
      {{"--bogus", "info"}, "unknown option --bogus"},
      {{"info", "--data"}, "--data does not apply"},
      {{"info", "extra"}, "takes no arguments"},
      {{"options", "set"}, "at least one N=V"},
      {{"options", "set", "1=x"}, "is not N=V"},
      {{"options", "set", "1=256"}, "is not N=V"},
      {{"departments", "set", "100", "name=x"}, "department number"},
      {{"departments", "set", "2", "status=open"}, "status"},
      {{"departments", "set", "2", "group=F"}, "tax group"},
      {{"departments", "set", "2", "price=1.005"}, "price"},
      {{"departments", "set", "2", "name=12345678901234567890123"}, "22 characters"},
      {{"receipt", "set", "header.7=x"}, "L = 1..6"},
      {{"operators", "set", "9", "name=x"}, "1..8"},
      {{"operators", "set", "1", "name=123456789012345678901"}, "20 characters"},
      {{"goods", "get", "abc"}, "1..9999"},
      {{"goods", "read-all", "--out", "goods.txt"}, ".csv, .dbf or .xlsx"},
      {{"goods", "read-all", "--out", "goods.ods"}, ".csv, .dbf or .xlsx"},
      {{"goods", "write", "goods.xls"}, ".csv, .dbf, .xlsx or .ods"},
      {{"goods", "write", "goods.csv", "--sheet", "Лист2"}, "--sheet and --column apply to .xlsx and .ods"},
      {{"goods", "write", "goods.xlsx", "--column", "Code"}, "is not FIELD=HEADER"},
      {{"goods", "write", "goods.xlsx", "--column", "Остаток=C"}, "is not a goods field"},
      {{"goods", "write", "goods.xlsx", "--column", "Code=A", "--column", "code=B"}, "Code is given twice"},
      {{"goods", "convert", "goods.xlsx", "goods.ods"}, ".csv, .dbf or .xlsx"},
      {{"goods", "read-all", "--sheet", "Лист2"}, "--sheet does not apply"},
      {{"print", "--font", "9", "x"}, "--font"},
      {{"print", "--brightness", "6", "x"}, "--brightness"},
  };
  for (const auto& [args, text] : cases) {
    const RunResult r = Run(args);
    const std::string line = args.empty() ? "(none)" : args[0] + (args.size() > 1 ? " " + args[1] : "");
    EXPECT_EQ(r.status, 2) << line;
    EXPECT_TRUE(Has(r.err, text)) << line << ":\n" << r.err;
  }
  EXPECT_TRUE(State().commandsExecuted.empty());
}

TEST_F(ZarvikCtl, InfoShowsIdentityDateAndCapacities) {
  const std::string out = Ok({"info"});
  for (const std::string part :
       {"Модель:          Зарвик-ТЕСТ", "Серийный номер:  000111222333", "Версия:          T 001",
        "Режим:           OFF-LINE", "Дата:            01.02.26", "Время:           10:20:30",
        "Порт:            COM200", "Сетевой №:       1", "Описание модели: нет", "Опций:           8",
        "Отделов:         4", "Макс.№ товара:   100", "Операторов:      4"})
    EXPECT_TRUE(Has(out, part)) << part << "\n" << out;
  // GetInfo with the goods probes 100 and 500, date and time, options, the
  // operator probe.
  EXPECT_EQ(State().commandsExecuted, (std::vector<std::uint8_t>{1, 16, 16, 2, 9, 21, 21}));
}

TEST_F(ZarvikCtl, MissingPortIsReportedWithTheSystemsMessage) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--port", std::to_string(kUnmappedPort), "info"},
        std::vector<std::string>{"--port", "202", "taxes", "get"}}) {
    if (args[1] == "202")
      test::WriteAll(dir.File("ZarvikConfig.ini"), "[Devices]\r\nCOM202=/nonexistent/tty\r\n");
    const RunResult r = Run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "Selected СОМ-port inaccessible!(file not found)")) << r.err;
    EXPECT_TRUE(Has(r.err, "Не удалось подключиться!")) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
}

TEST_F(ZarvikCtl, RegisterErrorCodeReachesTheUserAsItsText) {
  ASSERT_TRUE(simulator->AddFault("result=7:3"));
  RunResult r = Run({"departments", "get"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "Error:Неверный формат команды или данных")) << r.err;
  EXPECT_TRUE(Has(r.err, "Error:не удалось получить информацию о отделах")) << r.err;
  EXPECT_TRUE(r.out.empty());

  ASSERT_TRUE(simulator->AddFault("result=1:25"));
  r = Run({"info"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "Неизвестная ошибка:25")) << r.err;
  EXPECT_TRUE(Has(r.err, "не удалось получить информацию о ККМ")) << r.err;

  ASSERT_TRUE(simulator->AddFault("result=22:16"));
  r = Run({"operators", "set", "1", "name=Орлова"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "Неверный пароль при доступе к режим")) << r.err;
  EXPECT_TRUE(Has(r.err, "не удалось записать информацию о операторах")) << r.err;
}

// The operator probe without an answer (the register does not answer its
// first or its second request) is a failure, not a register without
// operators or with four.
TEST_F(ZarvikCtl, OperatorProbeWithoutAnAnswerIsAFailure) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> faults;
  };
  // The probe is sent again after its failed exchange: the register answers
  // it beyond the six polls every time.
  const Case cases[] = {
      {{"info"}, {"wait=9:21*inf"}},
      {{"info"}, {"wait=1:21", "wait=9:21*inf"}},  // the first probe answered, the second not
      {{"operators", "get"}, {"wait=9:21*inf"}},
      {{"operators", "set", "1", "name=Орлова"}, {"wait=1:21", "wait=9:21*inf"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.faults.back() + " " + std::to_string(c.faults.size()));
    simulator->ClearFaults();
    for (const std::string& f : c.faults) ASSERT_TRUE(simulator->AddFault(f));
    const RunResult r = Run(c.args);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(Has(r.err, "Error:не удалось получить информацию о операторах")) << r.err;
    EXPECT_FALSE(Has(r.err, "не поддерживает")) << r.err;
    EXPECT_FALSE(Has(r.out, "Операторов")) << r.out;
    // What the line cost is said after the failure.
    EXPECT_TRUE(Has(r.err, "команд повторено " + std::to_string(kMaxCommandRepeats))) << r.err;
    simulator->DropPendingAnswer();
  }
  simulator->ClearFaults();
  EXPECT_TRUE(Has(Ok({"info"}), "Операторов:      4"));
  // A probe whose answer is late once gets it when it is sent again.
  ASSERT_TRUE(simulator->AddFault("wait=9:21"));
  const RunResult r = Run({"info"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Операторов:      4")) << r.out;
  EXPECT_TRUE(Has(r.err, "команд повторено 1")) << r.err;
}

TEST_F(ZarvikCtl, OptionsWrittenWithinTheirIntervalsReadBack) {
  std::string out = Ok({"options", "get"});
  EXPECT_TRUE(Has(out, "№  Знач.  Интервал")) << out;
  const TOptionTableRow* row2 = OptionTableRow(2);
  ASSERT_NE(row2, nullptr);
  const int value = row2->Max;
  EXPECT_EQ(Ok({"options", "set", "2=" + std::to_string(value), "4=" + std::to_string(row2->Min)}),
            "опции записаны\n");
  const auto options = State().options;
  ASSERT_EQ(options.size(), 8U);
  EXPECT_EQ(options[1], value);
  EXPECT_EQ(options[0], 1);  // untouched options go back as they were

  out = Ok({"options", "get", "--csv"});
  EXPECT_TRUE(Has(out, "\n2;" + std::to_string(value) + ";")) << out;

  // Outside the interval: refused, nothing written.
  const RunResult r = Run({"options", "set", "2=" + std::to_string(row2->Max + 1)});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "опция вне интервала!")) << r.err;
  EXPECT_EQ(State().options[1], value);
  EXPECT_EQ(Run({"options", "set", "9=1"}).status, 2);  // the register has 8 options
}

TEST_F(ZarvikCtl, DepartmentsFollowTheWritingRules) {
  std::string out = Ok({"departments", "get"});
  EXPECT_TRUE(Has(out, "1  Товар    Бакалея       A   100.00")) << out;
  EXPECT_TRUE(Has(out, "3  Закрыто                0   0.00")) << out;

  // A closed department takes no name until it is opened.
  const RunResult closed = Run({"departments", "set", "3", "name=Овощи"});
  EXPECT_EQ(closed.status, 2);
  EXPECT_TRUE(Has(closed.err, "department 3 is closed")) << closed.err;
  Ok({"departments", "set", "3", "status=Товар", "name=Овощи", "group=b", "price=12.34"});
  Ok({"departments", "set", "1", "status=closed"});
  const auto deps = State().departments;
  EXPECT_EQ(deps[2], (sim::Department{sim::kDepGoods, "Овощи", 2, 1234}));
  EXPECT_EQ(deps[0], (sim::Department{sim::kDepClosed, "", 0, 0}));
  EXPECT_EQ(deps[1], (sim::Department{sim::kDepService, "Доставка", 2, 0}));  // only the one asked for

  out = Ok({"departments", "get", "--csv"});
  EXPECT_TRUE(Has(out, "№;Статус;Наименование;НГ;Цена\n")) << out;
  EXPECT_TRUE(Has(out, "3;Товар;Овощи;B;12.34\n")) << out;

  // Progress goes to standard error only when that is a terminal.
  const RunResult onTerminal = Run({"departments", "get"}, {}, true);
  EXPECT_EQ(onTerminal.status, 0);
  EXPECT_TRUE(Has(onTerminal.err, "\rотделы: 4 / 4\n")) << onTerminal.err;
  EXPECT_TRUE(Has(onTerminal.out, "3  Товар    Овощи         B   12.34")) << onTerminal.out;

  const RunResult r = Run({"departments", "set", "5", "name=x"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "the register has 4 departments")) << r.err;
}

TEST_F(ZarvikCtl, ReceiptLinesAndFontsWrittenReadBack) {
  Ok({"receipt", "set", "header.2=г. Тверь, ул. Мира, 5", "footer.6=До свидания", "--footer-font", "3"});
  const auto s = State();
  EXPECT_EQ(s.header[1].text, "г. Тверь, ул. Мира, 5");
  EXPECT_EQ(s.header[0].text, "ООО \"Ромашка\"");
  for (const auto& line : s.header) EXPECT_EQ(line.font, 1);  // the header font is kept
  for (const auto& line : s.footer) EXPECT_EQ(line.font, 3);
  EXPECT_EQ(s.footer[5].text, "До свидания");
  std::string out = Ok({"receipt", "get", "--csv"});
  EXPECT_TRUE(Has(out, "Блок;№;Шрифт;Текст\nЗаголовок;1;1;\"ООО \"\"Ромашка\"\"\"\n")) << out;
  EXPECT_TRUE(Has(out, "Заголовок;2;1;\"г. Тверь, ул. Мира, 5\"\n")) << out;
  EXPECT_TRUE(Has(out, "Окончание;1;3;Спасибо!\n")) << out;
  EXPECT_TRUE(Has(out, "Окончание;6;3;До свидания\n")) << out;

  const RunResult r = Run({"receipt", "set", "--header-font", "5"});  // fonts 0..4 without a descriptor
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "0..4")) << r.err;
}

TEST_F(ZarvikCtl, TaxesAreShown) {
  const std::string out = Ok({"taxes", "get"});
  EXPECT_TRUE(Has(out, "1  да         НДС 18%       Выделяемый   18.00")) << out;
  EXPECT_TRUE(Has(out, "2  да         Без НДС       Начисляемый  0.00")) << out;
  EXPECT_TRUE(Has(out, "3  нет")) << out;
}

TEST_F(ZarvikCtl, OperatorsWrittenReadBackAndMissingOperatorsReported) {
  EXPECT_EQ(Ok({"operators", "set", "3", "name=Смирнова", "position=Кассир"}),
            "Записаны операторы и должности\n");
  const auto s = State();
  EXPECT_EQ(s.operatorNames[2], "Смирнова");
  EXPECT_EQ(s.positions[2], "Кассир");
  EXPECT_EQ(s.operatorNames[0], "Иванова");
  EXPECT_EQ(Ok({"operators", "get", "--csv"}),
            "№;Оператор;Должность\n1;Иванова;Кассир\n2;Петров;Старший кассир\n3;Смирнова;Кассир\n4;;\n");

  simulator->ModifyState([](sim::RegisterState& st) { st.operatorCount = 0; });
  const RunResult r = Run({"operators", "get"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "Данная ККМ не поддерживает программирование операторов")) << r.err;
}

TEST_F(ZarvikCtl, OneGoodsRecord) {
  const std::string out = Ok({"goods", "get", "2"});
  for (const std::string part :
       {"Код:          2", "Тип:          товар", "Наименование: Сыр весовой", "НГ:           B",
        "Цена:         589.00", "Вес.,Шт.:     вес.", "Штрих-код:    2100008000008", "Продано:      12.345"})
    EXPECT_TRUE(Has(out, part)) << part << "\n" << out;
  const RunResult r = Run({"goods", "get", "3"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "Товар/услуга не найдены")) << r.err;
}

// A noisy line: the same goods, and one line that says what it cost.
TEST_F(ZarvikCtl, GoodsReadAllThroughNoiseSaysWhatTheLineCost) {
  const std::string clean = Ok({"goods", "read-all", "--csv"});
  RunResult r = Run({"goods", "read-all", "--csv"});
  EXPECT_FALSE(Has(r.err, "Линия:")) << r.err;  // nothing to say on a clean line
  ASSERT_TRUE(simulator->AddFault("extra=2@50*inf"));
  ASSERT_TRUE(simulator->AddFault("crc@30*inf"));
  r = Run({"goods", "read-all", "--csv"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, clean);
  EXPECT_TRUE(Has(r.err, "Линия: повторов запрошено ")) << r.err;
  EXPECT_TRUE(Has(r.err, ", ресинхронизаций ")) << r.err;
  simulator->ClearFaults();
}

TEST_F(ZarvikCtl, GoodsReadAllToFilesAndWrittenBack) {
  const std::string out = Ok({"goods", "read-all", "--csv"});
  EXPECT_EQ(out,
            "Code;Type;Name;NG;Price;Section;Vesovoy;Shtrih;isBlock;Count\n"
            "1;170;Хлеб;1;52.9;1;1;4600605000014;False;87\n"
            "2;170;Сыр весовой;2;589;2;2;2100008000008;False;12.345\n"
            "5;170;Пакет;1;5;1;1;0;True;0\n");  // no barcode: the register holds zeros

  EXPECT_EQ(Ok({"goods", "read-all", "--out", "goods.csv"}), "Записано 3 тов. в goods.csv\n");
  EXPECT_EQ(test::ReadAll(dir.File("goods.csv")),
            Utf8ToCp1251("1;170;Хлеб;1;52.9;1;1;4600605000014;False;87\r\n"
                         "2;170;Сыр весовой;2;589;2;2;2100008000008;False;12.345\r\n"
                         "5;170;Пакет;1;5;1;1;0;True;0\r\n"));
  Ok({"goods", "read-all", "--out", "goods.dbf"});

  const auto original = State().goods;
  for (const std::string file : {"goods.csv", "goods.dbf"}) {
    simulator->ModifyState([](sim::RegisterState& st) { st.goods.clear(); });
    EXPECT_EQ(Ok({"goods", "write", file}), "записано 3 (новых 3), без изменений 0, пропущено с ошибками 0\n")
        << file;
    const auto written = State().goods;
    ASSERT_EQ(written.size(), original.size()) << file;
    for (const auto& [code, g] : original) {
      sim::Goods expected = g;
      expected.sold = 0;  // a new record starts unsold
      EXPECT_EQ(written.at(code), expected) << file << " " << code;
    }
  }

  // Rows the register cannot take refuse the whole file, each named with
  // its line, field and what the register allows; nothing is written.
  test::WriteAll(dir.File("mixed.csv"), Utf8ToCp1251("7;170;Чай;1;10;9;1;;False\r\n"
                                                     "101;170;Кофе;1;10;1;1;;False\r\n"
                                                     "8;170;Сок;1;10;1;1;12A;False\r\n"
                                                     "9;165;Доставка;1;150;1;1;;False\r\n"));
  const RunResult mixed = Run({"goods", "write", "mixed.csv"});
  EXPECT_EQ(mixed.status, 2) << mixed.err;
  EXPECT_EQ(mixed.out, "");
  for (const std::string line :
       {"Error:Строка 1, код 7: отдел «9»: такого отдела в ККМ нет (ККМ допускает: 0 (без отдела), открытые "
        "отделы 1, 2, 4)",
        "Error:Строка 2, код 101: код «101»: код вне номеров товаров ККМ (ККМ допускает: 1..100)",
        "Error:Строка 3, код 8: штрих-код «12A»: не только цифры (ККМ допускает: EAN-13, EAN-8 или UPC-A",
        "Error:Товары не записаны: файл не прошёл проверку, ошибок 3"})
    EXPECT_TRUE(Has(mixed.err, line)) << line << "\n" << mixed.err;
  EXPECT_FALSE(Has(mixed.err, "Записываем товар...")) << mixed.err;
  EXPECT_EQ(State().goods.count(9), 0U);

  // The quantity sold stays unless the reset is asked for; a file equal to
  // the register writes nothing, a reset writes the record that has sold.
  simulator->ModifyState([](sim::RegisterState& st) { st.goods[1].sold = 5000; });
  EXPECT_EQ(Ok({"goods", "write", "goods.csv"}),
            "записано 0 (новых 0), без изменений 3, пропущено с ошибками 0\n");
  EXPECT_EQ(State().goods[1].sold, 5000U);
  EXPECT_EQ(Ok({"goods", "write", "goods.csv", "--reset-sold"}),
            "записано 1 (новых 0), без изменений 2, пропущено с ошибками 0\n");
  EXPECT_EQ(State().goods[1].sold, 0U);
  // --all sends every row, as before.
  const auto before = State().commandsExecuted;
  const auto writes = std::count(before.begin(), before.end(), std::uint8_t{17});
  EXPECT_EQ(Ok({"goods", "write", "goods.csv", "--all", "--no-backup"}),
            "записано 3 (новых 0), без изменений 0, пропущено с ошибками 0\n");
  const auto executed = State().commandsExecuted;
  EXPECT_EQ(std::count(executed.begin(), executed.end(), std::uint8_t{17}), writes + 3);

  simulator->ModifyState([](sim::RegisterState& st) { st.workMode = 1; });
  const RunResult r = Run({"goods", "write", "goods.csv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "Запись возможна только в OFF-LINE режиме")) << r.err;
  const RunResult missing = Run({"goods", "write", "none.dbf"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(Has(missing.err, "Не удалось открыть DBF файл")) << missing.err;
}

TEST_F(ZarvikCtl, JournalAsReceiptTextAndRecordLines) {
  const std::string out = Ok({"journal", "read"});
  EXPECT_TRUE(Has(out, "ЧЕК:101")) << out;
  EXPECT_TRUE(Has(out, "01.02.26 10:05 ОП: 1")) << out;

  // The record lines, to a file in code page 1251 with CR LF line ends.
  EXPECT_EQ(Ok({"journal", "read", "--data", "--out", "journal.txt"}), "");
  const std::string file = test::ReadAll(dir.File("journal.txt"));
  EXPECT_EQ(file.rfind("A3;1;1;2000;5290;1;1\r\n", 0), 0U) << file;
  EXPECT_TRUE(Has(file, "\r\nCA;")) << file;
  EXPECT_EQ(file.substr(file.size() - 2), "\r\n");
  EXPECT_EQ(file.find('\n'), file.find("\r\n") + 1);

  // With --json the same text is the result, escaped, with the counts.
  std::string escaped;
  for (const char c : out) escaped += c == '\n' ? std::string("\\n") : c == '"' ? std::string("\\\"") : std::string(1, c);
  const std::string json = Ok({"journal", "read", "--json"});
  EXPECT_TRUE(json.starts_with(R"({"command":"journal read","exit":0,"ok":true,"result":{"text":")" + escaped +
                               R"("},"counts":{"records":)"))
      << json;
  const std::size_t lines = static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n'));
  EXPECT_TRUE(Has(json, ",\"lines\":" + std::to_string(lines) + "}")) << json;
  const std::string toFile = Ok({"journal", "read", "--data", "--out", "again.txt", "--json"});
  EXPECT_TRUE(Has(toFile, R"("result":{"out":"again.txt"})")) << toFile;
  EXPECT_EQ(test::ReadAll(dir.File("again.txt")), file);
}

TEST_F(ZarvikCtl, PrintSendsTheLinesWithFontAndBrightness) {
  EXPECT_EQ(Ok({"print", "--font", "2", "--brightness", "3", "Привет", "", "Мир"}), "напечатано\n");
  auto printed = State().printed;
  ASSERT_EQ(printed.size(), 3U);
  EXPECT_EQ(printed[0], (sim::PrintedLine{2, 3, "Привет"}));
  EXPECT_EQ(printed[1].text, "");
  EXPECT_EQ(printed[2].text, "Мир");

  const RunResult fromInput = Run({"print"}, "строка 1\r\nстрока 2\n");
  EXPECT_EQ(fromInput.status, 0) << fromInput.err;
  printed = State().printed;
  ASSERT_EQ(printed.size(), 5U);
  EXPECT_EQ(printed[3], (sim::PrintedLine{0, 0, "строка 1"}));
  EXPECT_EQ(printed[4].text, "строка 2");

  const RunResult r = Run({"print", "--font", "5", "x"});  // fonts 0..4 without a descriptor
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(State().printed.size(), 5U);
}

TEST_F(ZarvikCtl, DepthShowsTheLinkTraceOnStandardError) {
  const RunResult quiet = Run({"taxes", "get"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_TRUE(quiet.err.empty()) << quiet.err;
  const RunResult traced = Run({"--depth", "mdfunctional", "taxes", "get"});
  EXPECT_EQ(traced.status, 0);
  EXPECT_TRUE(Has(traced.err, "получаем инфо. о ККМ")) << traced.err;
  EXPECT_TRUE(Has(traced.err, "получаем налоги из ККМ")) << traced.err;
  EXPECT_EQ(traced.out, quiet.out);
}

// What `--csv goods read-all` prints (UTF-8, a header line, LF line ends),
// `goods write` takes back.
TEST_F(ZarvikCtl, GoodsPrintedAsCsvAreWrittenBack) {
  const std::string printed = Ok({"--csv", "goods", "read-all"});
  test::WriteAll(dir.File("printed.csv"), printed);
  const auto original = State().goods;
  simulator->ModifyState([](sim::RegisterState& st) { st.goods.clear(); });
  // Messages (not only warnings and errors) are shown from depth mdapplied on.
  const RunResult r = Run({"--depth", "mdapplied", "goods", "write", "printed.csv"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "записано 3 (новых 3), без изменений 0, пропущено с ошибками 0\n");
  EXPECT_TRUE(Has(r.err, "Файл printed.csv прочитан в кодировке UTF-8")) << r.err;
  EXPECT_TRUE(Has(r.err, "Строка 1 - заголовок, пропущена")) << r.err;
  EXPECT_FALSE(Has(r.err, "Error:")) << r.err;
  const auto written = State().goods;
  ASSERT_EQ(written.size(), original.size());
  for (const auto& [code, g] : original) {
    sim::Goods expected = g;
    expected.sold = 0;  // a new record starts unsold
    EXPECT_EQ(written.at(code), expected) << code;
  }
}

// CSV and dBASE converted both ways without a register (the port is not even
// mapped), with the rules of the import and export.
TEST_F(ZarvikCtl, GoodsFilesConvertedWithoutARegister) {
  const std::string port = std::to_string(kUnmappedPort);
  test::WriteAll(dir.File("in.csv"),
                 "\xEF\xBB\xBF"
                 "Code;Type;Name;NG;Price;Section;Vesovoy;Shtrih;isBlock;Count\n"
                 "1;170;Молоко утф8;1;25,50;1;1;4601234567890;True;7\n"
                 "2;165;Доставка;2;100;2;1;;False;0\n");
  RunResult r = Run({"--port", port, "goods", "convert", "in.csv", "goods.dbf"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Записано 2 тов. в goods.dbf\n");
  r = Run({"--port", port, "goods", "convert", "goods.dbf", "back.csv"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadAll(dir.File("back.csv")),
            Utf8ToCp1251("1;170;Молоко утф8;1;25.5;1;1;4601234567890;True;0\r\n"
                         "2;165;Доставка;2;100;2;1;;False;0\r\n"));
  // A goods table written by GDAL's ogr2ogr (code page in its .cpg file).
  r = Run({"goods", "convert", std::string(ZARVIK_TEST_DATA) + "/store/gdal_goods_1251.dbf", "gdal.csv"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadAll(dir.File("gdal.csv")),
            Utf8ToCp1251("1;170;Молоко утф8;1;25.5;1;1;4601234567890;False;12.5\r\n"
                         "2;165;Доставка по городу;2;100;2;;;True;0\r\n"
                         "3;160;\"Ящик, тара\";5;0.01;;1;000123;False;\r\n"
                         "4;170;Ёлка № 4 «ель»;0;1999.99;4;2;;True;3.25\r\n"
                         "5;170;Сыр плавленый сливочный 45% 100г;3;89.9;3;1;2100000000005;False;1000\r\n"));
  // Values cut on the way are named; a file that cannot be read fails.
  test::WriteAll(dir.File("long.csv"), "1;170;" + std::string(40, 'x') + ";1;1;1;1;;False\r\n");
  r = Run({"goods", "convert", "long.csv", "long.dbf"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "Warning:Строка 1, код 1: наименование «" + std::string(40, 'x') +
                             "» длиннее 32 символов, обрезано"))
      << r.err;
  r = Run({"goods", "convert", "none.dbf", "x.csv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "Error:Не удалось открыть DBF файл none.dbf: файл не открывается")) << r.err;
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"goods", "convert", "in.csv"},
                                             {"goods", "convert", "in.txt", "x.csv"},
                                             {"goods", "convert", "in.csv", "x"}}) {
    r = Run(args);
    EXPECT_EQ(r.status, 2) << args.back();
  }
}

// Price lists from spreadsheets written by other programs (openpyxl, odfpy):
// converted and written by their columns' names, the rest named by --column;
// a sheet with bad cells is not written, each bad cell named; the clean sheet
// is; the register's goods written to a workbook and read back.
TEST_F(ZarvikCtl, GoodsFromSpreadsheetsAndToAWorkbook) {
  const std::string make = "PYTHONIOENCODING=utf-8 /usr/bin/python3 '" + std::string(ZARVIK_SOURCE_DIR) +
                           "/tests/goods_sheets.py' make '" + dir.File("") + "' 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0) << make;
  RunResult r = Run({"goods", "convert", "goods.xlsx", "sheet.csv"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Записано 4 тов. в sheet.csv\n");
  for (const char* text : {"Warning:Не считаны столбцы: C «Остаток»",
                           "Warning:Лист1!D7, код 15: цена «45.678» округлена до копеек: 45.68",
                           "Warning:Лист1!E8 не записывается: «15.5» не целое число",
                           "Warning:Строка 10 не записывается: нет кода («Итого»)",
                           "Warning:Лист1!D12, код 16 не записывается: в ячейке ошибка «#DIV/0!»"})
    EXPECT_TRUE(Has(r.err, text)) << text << "\n" << r.err;
  EXPECT_EQ(test::ReadAll(dir.File("sheet.csv")),
            Utf8ToCp1251("12;170;\"Молоко 3,2%\";;89.9;1;1;4607001234562;False;\r\n"
                         "13;170;Сыр Российский;;589.5;2;2;2100008000008;False;\r\n"
                         "14;170;Хлеб;;179.8;1;1;4601234567893;False;\r\n"
                         "15;170;Кефир;;45.68;;1;;False;\r\n"));
  // Another sheet, whose headers the name table does not know.
  r = Run({"goods", "convert", "goods.ods", "store.csv", "--sheet", "Склад"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "Error:Не найдены столбцы товаров в файле goods.ods, лист «Склад»")) << r.err;
  r = Run({"goods", "convert", "goods.ods", "store.xlsx", "--sheet", "Склад", "--column", "Code=Артикул",
           "--column", "Price=C"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = Run({"goods", "convert", "store.xlsx", "store.csv"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadAll(dir.File("store.csv")),
            Utf8ToCp1251("501;170;Гвозди;;12.5;;1;;False;\r\n502;170;Шурупы;;7;;1;;False;\r\n"));

  // Into the register: not the sheet with bad cells, every one of them
  // named and nothing written; the clean sheet, and back out into a workbook.
  simulator->ModifyState([](sim::RegisterState& st) {
    st.goods.clear();
    st.commandsExecuted.clear();
  });
  r = Run({"goods", "write", "goods.xlsx", "--no-backup"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.out, "");
  for (const char* text : {"Error:Лист1!E8 не записывается: «15.5» не целое число",
                           "Error:Строка 10 не записывается: нет кода («Итого»)",
                           "Error:Строка 11, код 12 не записывается: код уже есть в файле выше",
                           "Error:Лист1!D12, код 16 не записывается: в ячейке ошибка «#DIV/0!»",
                           "Error:Товары не записаны: файл не прошёл проверку, ошибок 4"})
    EXPECT_TRUE(Has(r.err, text)) << text << "\n" << r.err;
  EXPECT_TRUE(State().goods.empty());
  const auto executed = State().commandsExecuted;
  EXPECT_EQ(std::count(executed.begin(), executed.end(), std::uint8_t{17}), 0);  // no goods sent
  r = Run({"goods", "write", "clean.xlsx", "--no-backup"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "записано 4 (новых 4), без изменений 0, пропущено с ошибками 0\n");
  const auto written = State().goods;
  ASSERT_EQ(written.size(), 4u);
  ASSERT_EQ(written.count(12), 1u);
  EXPECT_EQ(written.at(12).barcode, "4607001234562");
  EXPECT_EQ(written.at(12).price, 8990u);
  EXPECT_EQ(written.at(14).price, 17980u);
  r = Run({"goods", "read-all", "--out", "back.xlsx"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = Run({"goods", "read-all", "--out", "direct.csv"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = Run({"goods", "convert", "back.xlsx", "back.csv"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadAll(dir.File("back.csv")), test::ReadAll(dir.File("direct.csv")));
}

// The messages name what failed and what to do, before anything is sent
// where the command line alone is wrong.
TEST_F(ZarvikCtl, MessagesNameWhatFailed) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> says;
    std::vector<std::string> doesNotSay;
  };
  const std::vector<Case> cases = {
      {{"goods", "get", "150"},
       2,
       {"goods 150 is beyond the register's goods numbers (1..100); nothing was asked"},
       {"Неверный формат"}},
      {{"departments", "set", "3", "name=Café"},
       2,
       {"name: the register cannot print \"é\" (character 4 of \"Café\")"},
       {"22 characters"}},
      {{"operators", "set", "1", "position=Кассир №½"},
       2,
       {"position: the register cannot print \"№\" (character 8), \"½\" (character 9) of \"Кассир №½\""},
       {}},
      // Code page 1251 has them, the register's character set has not: they
      // would be left out of the text without a word.
      {{"departments", "set", "2", "name=Молоко «Домик»"},
       2,
       {"name: the register cannot print \"«\" (character 8), \"»\" (character 14) of \"Молоко «Домик»\""},
       {}},
      {{"receipt", "set", "header.1=Цена 5€"}, 2, {"header.1: the register cannot print \"€\" (character 7"}, {}},
      {{"receipt", "set", "footer.2=Tab\there"}, 2, {"footer.2: the register cannot print \"\\x09\""}, {}},
      {{"options", "set", "99=1"},
       2,
       {"option 99 does not exist on this register (it has 8 options, 1..8)"},
       {}},
      {{"frobnicate"},
       2,
       {"unknown command \"frobnicate\"", "Commands:", "  goods read-all", "Try 'zarvikctl --help'."},
       {"frobnicate --help"}},
      {{"help", "frobnicate"}, 2, {"unknown command \"frobnicate\"", "Commands:"}, {}},
      {{"--port", "100", "info"},
       1,
       {"Error:COM100: no device stands for this port number (name one as COM100=/dev/... in the section "
        "\"Devices\" of ZarvikConfig.ini)",
        "Error:Selected СОМ-port inaccessible!(file not found)", "Не удалось подключиться!"},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    const RunResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    for (const std::string& part : c.says) EXPECT_TRUE(Has(r.err, part)) << part << "\n" << r.err;
    for (const std::string& part : c.doesNotSay) EXPECT_FALSE(Has(r.err, part)) << part << "\n" << r.err;
  }
  // Two runs identified the register (goods get 150, options set 99=1),
  // each with its two goods probes; no goods request of its own went out,
  // and nothing was written.
  const auto executed = State().commandsExecuted;
  EXPECT_EQ(std::count(executed.begin(), executed.end(), std::uint8_t{16}), 4);
  EXPECT_EQ(std::count(executed.begin(), executed.end(), std::uint8_t{1}), 2);
  EXPECT_EQ(std::count(executed.begin(), executed.end(), std::uint8_t{10}), 0);
}

// Values of ZarvikConfig.ini that cannot be used are reported once, with the
// file, the key, the value and what is used instead; the run goes on.
TEST_F(ZarvikCtl, UnusableSettingsAreReportedOnceAndTheRunGoesOn) {
  const std::string ini = dir.File("ZarvikConfig.ini");
  const std::string devices =
      "[Devices]\r\nCOM" + std::to_string(kSimPort) + "=" + simulator->DevicePath() + "\r\n";
  test::WriteAll(ini, "[Port]\r\nCOMPort=" + std::to_string(kSimPort) +
                          "\r\nSpeed=12345\r\nReadTotalTimeoutConstant=-1\r\n[NET]\r\nNUMBER=0\r\n" +
                          devices + "[Junk]\r\n\x01\x02\x03\r\n");
  const RunResult r = Run({"info"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = {
      "Warning:" + ini + ": it is not a text file (a control byte in line 10); the default settings are used",
      "Error:Speed=12345 in " + ini +
          " [Port] is not one of 2400, 4800, 9600, 14400, 19200, 38400, 56000, "
          "57600, 115200, 128000; 19200 is used",
      "Error:invalid speed",
      "Warning:ReadTotalTimeoutConstant=-1 in " + ini +
          " [Port] is not a time-out of 0..10000 ms; 250 is used",
      "Warning:NUMBER=0 in " + ini + " [NET] is not a network number 1..98; 1 is used",
  };
  for (const std::string& line : lines) {
    const std::size_t at = r.err.find(line);
    EXPECT_NE(at, std::string::npos) << line << "\n" << r.err;
    if (at != std::string::npos) {
      EXPECT_EQ(r.err.find(line, at + 1), std::string::npos) << "twice: " << line;
    }
  }
  EXPECT_TRUE(Has(r.out, "Модель:          Зарвик-ТЕСТ")) << r.out;
}

// CONFIG_STOP switches off the commands that write settings, as in the
// window program, whether it is an argument or the program's own name.
TEST_F(ZarvikCtl, ConfigStopRefusesTheSettingsWritesOnly) {
  const std::string refusal = "writing settings to the register is switched off by CONFIG_STOP";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"CONFIG_STOP", "options", "set", "2=1"},
        std::vector<std::string>{"departments", "set", "1", "name=Овощи", "CONFIG_STOP"},
        std::vector<std::string>{"receipt", "set", "CONFIG_STOP", "header.1=x"},
        std::vector<std::string>{"operators", "set", "1", "name=x", "CONFIG_STOP"}}) {
    const RunResult r = Run(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_TRUE(Has(r.err, refusal)) << r.err;
  }
  EXPECT_TRUE(State().commandsExecuted.empty());
  const RunResult named = test::RunCtl(dir.Path(), {"options", "set", "2=1"}, {}, false, "CONFIG_STOP");
  EXPECT_EQ(named.status, 2);
  EXPECT_TRUE(Has(named.err, refusal)) << named.err;
  EXPECT_TRUE(State().commandsExecuted.empty());
  // Lower case is no switch; reading, goods and printing stay available.
  EXPECT_EQ(Run({"config_stop", "options", "get"}).status, 2);  // an unknown command
  Ok({"options", "get", "CONFIG_STOP"});
  Ok({"goods", "read-all", "--out", "goods.csv", "CONFIG_STOP"});
  Ok({"goods", "write", "goods.csv", "CONFIG_STOP"});
  Ok({"print", "CONFIG_STOP", "x"});
}

// A failed goods write says which record failed and how far it got.
TEST_F(ZarvikCtl, FailedGoodsWriteSaysHowFarItGot) {
  Ok({"goods", "read-all", "--out", "goods.csv"});
  // Two writes answered as done, the third refused.
  ASSERT_TRUE(simulator->AddFault("result=17:0*2"));
  ASSERT_TRUE(simulator->AddFault("result=17:3"));
  const RunResult r = Run({"goods", "write", "goods.csv", "--all"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "Error:Неверный формат команды или данных")) << r.err;
  EXPECT_TRUE(Has(
      r.err, "Error:Сбой при записи товара 5 (строка 3 из 3): записано 2 тов., последний записанный код 2"))
      << r.err;
}

// The goods of `goods` as a goods CSV file (code page 1251).
std::string GoodsFile(const std::map<int, sim::Goods>& goods) {
  std::string text;
  for (const auto& [code, g] : goods) {
    const std::string kopecks = std::to_string(100 + g.price);  // at least three digits
    const std::string price = std::to_string(g.price / 100) + "." + kopecks.substr(kopecks.size() - 2);
    text += std::to_string(code) + ";" + std::to_string(g.type) + ";" + g.name + ";" +
            std::to_string(g.taxGroup) + ";" + price + ";" + std::to_string(g.section) + ";" +
            ((g.flags & 1) != 0 ? "1" : "2") + ";" + g.barcode + ";" +
            ((g.flags & 2) != 0 ? "True" : "False") + "\r\n";
  }
  return Utf8ToCp1251(text);
}

// Goods writes the register carried out.
int GoodsWrites(const sim::RegisterState& s) {
  return static_cast<int>(std::count(s.commandsExecuted.begin(), s.commandsExecuted.end(), std::uint8_t{17}));
}

// A price change: the file is compared with what the register holds and only
// the rows that differ are sent; the quantities sold stay.
TEST_F(ZarvikCtl, GoodsWriteSendsOnlyWhatDiffers) {
  constexpr int kGoods = 1998;  // of 2000
  simulator->ModifyState([](sim::RegisterState& st) {
    st.goodsCapacity = kGoods + 2;
    st.goods.clear();
    for (int code = 1; code <= kGoods; ++code) {
      st.goods[code] = sim::GeneratedGoods(code, 2);  // departments 1 and 2 are open
      st.goods[code].sold = static_cast<std::uint64_t>(code) * 10;
    }
  });
  const std::map<int, sim::Goods> held = State().goods;
  test::WriteAll(dir.File("same.csv"), GoodsFile(held));
  const int before = GoodsWrites(State());
  RunResult r = Run({"goods", "write", "same.csv", "--no-backup"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "записано 0 (новых 0), без изменений 1998, пропущено с ошибками 0\n");
  EXPECT_EQ(GoodsWrites(State()), before);

  // 20 new prices, one of them with a new name too, and two new codes.
  std::map<int, sim::Goods> file = held;
  for (int k = 1; k <= 20; ++k) file[k * 97].price += 150;
  file[97].name = "Хлеб новый";
  for (const int code : {1999, 2000}) file[code] = sim::GeneratedGoods(code, 2);
  test::WriteAll(dir.File("prices.csv"), GoodsFile(file));
  r = Run({"goods", "diff", "prices.csv"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string price97 = "97: цена: " + std::to_string(held.at(97).price / 100) + ".";
  EXPECT_TRUE(Has(r.out, price97)) << r.out;
  EXPECT_TRUE(Has(r.out, "97: наименование: Хлеб 97 -> Хлеб новый\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "1999: новый товар\n2000: новый товар\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "изменится 20, новых 2, без изменений 1978\n")) << r.out;
  // A dry run checks and shows the same, and writes nothing.
  const RunResult dry = Run({"goods", "write", "prices.csv", "--dry-run"});
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_EQ(dry.out, r.out);
  EXPECT_EQ(GoodsWrites(State()), before);

  r = Run({"goods", "write", "prices.csv"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "записано 22 (новых 2), без изменений 1978, пропущено с ошибками 0\n");
  EXPECT_EQ(GoodsWrites(State()), before + 22);
  const std::map<int, sim::Goods> after = State().goods;
  ASSERT_EQ(after.size(), file.size());
  for (const auto& [code, g] : file) {
    sim::Goods expected = g;
    expected.sold = code <= kGoods ? held.at(code).sold : 0;  // the quantity sold stays
    // A record written holds the name as the register prints it ("№" left out).
    sim::Goods got = after.at(code);
    got.name = RegisterFieldText(got.name, kGoodsNameWidth);
    expected.name = RegisterFieldText(expected.name, kGoodsNameWidth);
    EXPECT_EQ(got, expected) << code;
  }
  // The backup holds what the write overwrote: the whole table, read as one
  // stream for the comparison.
  std::vector<std::string> backups;
  for (const auto& e : std::filesystem::directory_iterator(dir.File("bd/backup")))
    backups.push_back(e.path().string());
  ASSERT_EQ(backups.size(), 1U);
  TBD backup;
  ASSERT_TRUE(ImportGoodsDbf(backups[0], backup.mtTOBAP, kGoods + 2));
  EXPECT_EQ(backup.mtTOBAP.RecordCount(), kGoods);
}

// A write the line gives up on in the middle, run again, sends each changed
// row once: the second run compares again and sends only what still differs.
TEST_F(ZarvikCtl, AnInterruptedGoodsWriteRunAgainSendsEachChangedRowOnce) {
  constexpr int kGoods = 100;
  constexpr int kChanged = 80;
  simulator->ModifyState([](sim::RegisterState& st) {
    st.goods.clear();
    st.goodsCapacity = kGoods;
    for (int code = 1; code <= kGoods; ++code) st.goods[code] = sim::GeneratedGoods(code, 2);
  });
  std::map<int, sim::Goods> file = State().goods;
  for (int code = 1; code <= kChanged; ++code) file[code].price += 1;
  test::WriteAll(dir.File("prices.csv"), GoodsFile(file));
  const int before = GoodsWrites(State());
  {
    test::CtlProcess process(dir.Path(), {"goods", "write", "prices.csv", "--no-backup"}, {}, true);
    ASSERT_TRUE(process.Started());
    // Slow records, so that the line fails while rows are still to send.
    ASSERT_TRUE(process.WaitFor([&](const std::string&, const std::string& err) {
      return test::ProgressShown(err, "товар") >= 1;
    })) << "no progress";
    simulator->SetPacing(19200, true);
    ASSERT_TRUE(process.WaitFor([&](const std::string&, const std::string& err) {
      return test::ProgressShown(err, "товар") >= 5;
    })) << "no progress";
    ASSERT_TRUE(simulator->AddFault("silence*inf"));
    const RunResult r = process.Wait(std::chrono::seconds(120));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(Has(r.err, "Error:Сбой при записи товара")) << r.err;
  }
  simulator->ClearFaults();
  simulator->SetPacing(0, false);
  const int first = GoodsWrites(State()) - before;
  EXPECT_GE(first, 4);
  EXPECT_LT(first, kChanged);
  const RunResult r = Run({"goods", "write", "prices.csv", "--no-backup"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "записано " + std::to_string(kChanged - first) + " (новых 0), без изменений " +
                       std::to_string(kGoods - kChanged + first) + ", пропущено с ошибками 0\n");
  EXPECT_EQ(GoodsWrites(State()) - before, kChanged);
  const std::map<int, sim::Goods> after = State().goods;
  for (const auto& [code, g] : file) EXPECT_EQ(after.at(code).price, g.price) << code;
}

// Every check refuses a file naming its row, with nothing written (exit
// status 2); the warnings let it through.
TEST_F(ZarvikCtl, GoodsChecksRefuseTheFileOrWarn) {
  struct Case {
    std::string line;  // one row of the file
    std::string says;  // in the messages
    bool refused;
  };
  const std::vector<Case> cases = {
      {"0;170;Чай;1;10;1;1;;False", "код «0»: код вне номеров товаров ККМ (ККМ допускает: 1..100)", true},
      {"150;170;Чай;1;10;1;1;;False", "код «150»: код вне номеров товаров ККМ", true},
      // (the file reading marks a type or sale kind it does not know as 255)
      {"7;99;Чай;1;10;1;1;;False", "тип «255»: неизвестный тип", true},
      {"7;170;Чай;1;;1;1;;False", "цена: нет цены", true},
      {"7;170;Чай;1;10.005;1;1;;False", "больше двух знаков после точки", true},
      {"7;170;Чай;1;10;3;1;;False",
       "отдел «3»: отдел закрыт (ККМ допускает: 0 (без отдела), открытые отделы 1, 2, 4)", true},
      {"7;170;Чай;1;10;5;1;;False", "отдел «5»: такого отдела в ККМ нет", true},
      {"7;170;Чай;4;10;1;1;;False",
       "налог. группа «4»: такого налога в ККМ нет (ККМ допускает: 0 (без налога), 1 (A), 2 (B))", true},
      {"7;170;Чай;1;10;1;3;;False",
       "продажа «255»: неизвестный признак (ККМ допускает: 1 (штучный), 2 (весовой))", true},
      {"7;170;Чай;1;10;1;1;36000291452;False", "", false},  // UPC-A as the register keeps it
      {"7;170;Чай;1;10;1;1;3600029145;False", "штрих-код «3600029145»: 10 цифр", true},
      {"7;170;Чай;1;10;1;1;123456;False",
       "штрих-код «123456»: 6 цифр (ККМ допускает: EAN-13, EAN-8 или UPC-A", true},
      {"7;170;Чай;1;10;1;1;4600605000015;False", "штрих-код «4600605000015»: неверная контрольная цифра",
       true},
      {"7;170;Чай;1;10;1;1;2000000000015;False", "внутреннего диапазона магазина", false},
      {"7;170;Чай;1;10;1;1;4600605000014;False", "тот же штрих-код у кода 1 (строка 1)", false},
      {"7;170;Чай;1;10;1;1;40170725;False", "", false},      // EAN-8
      {"7;170;Чай;1;10;1;1;036000291452;False", "", false},  // UPC-A
      {"7;170;Чай №1;1;10;1;1;;False", "наименование «Чай №1»: ККМ не печатает знаки «№»", false},
  };
  test::WriteAll(dir.File("base.csv"), Utf8ToCp1251("1;170;Хлеб;1;52.9;1;1;4600605000014;False\r\n"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    simulator->ModifyState([](sim::RegisterState& st) { st.goods.erase(7); });
    test::WriteAll(dir.File("case.csv"),
                   Utf8ToCp1251("1;170;Хлеб;1;52.9;1;1;4600605000014;False\r\n" + c.line + "\r\n"));
    const int before = GoodsWrites(State());
    const RunResult r = Run({"goods", "write", "case.csv", "--no-backup"});
    if (c.refused) {
      EXPECT_EQ(r.status, 2) << r.err;
      EXPECT_TRUE(Has(r.err, "Error:Строка 2, код ")) << r.err;
      EXPECT_TRUE(Has(r.err, "Error:Товары не записаны: файл не прошёл проверку, ошибок 1")) << r.err;
      EXPECT_EQ(GoodsWrites(State()), before);
      EXPECT_EQ(Run({"goods", "write", "case.csv", "--dry-run"}).status, 2);
    } else {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, "записано 1 (новых 1), без изменений 1, пропущено с ошибками 0\n") << r.err;
      EXPECT_EQ(State().goods.count(7), 1U);
    }
    if (!c.says.empty()) {
      EXPECT_TRUE(Has(r.err, c.says)) << r.err;
    }
  }
}

// SIGINT or SIGTERM during a transfer stops it at the next record like the
// window's stop button: the count and the last code are reported, an --out
// file keeps what it held, the exit status is 130, and the register is at
// once ready for the next command.
TEST_F(ZarvikCtl, SignalStopsATransferAtTheNextRecord) {
  constexpr int kGoods = 400;
  simulator->ModifyState([](sim::RegisterState& st) {
    st.goodsCapacity = 2000;
    st.goods.clear();
    // (in departments 1 and 2, the open ones)
    for (int code = 1; code <= kGoods; ++code) st.goods[code] = sim::GeneratedGoods(code, 2);
    // A long journal in short frames.
    const std::vector<sim::Bytes> one = st.journal;
    for (int k = 0; k < 80; ++k) st.journal.insert(st.journal.end(), one.begin(), one.end());
    st.journalFrameLimit = 40;
  });
  Ok({"goods", "read-all", "--out", "all.csv"});
  simulator->SetPacing(19200, true);
  const std::string old = "не трогать\r\n";
  test::WriteAll(dir.File("goods.csv"), old);
  test::WriteAll(dir.File("journal.txt"), old);

  struct Case {
    std::vector<std::string> args;
    int signal;
    std::string progress;  // the label of its progress on a terminal
    std::string says;      // followed by the count
  };
  const std::vector<Case> cases = {
      {{"goods", "read-all", "--out", "goods.csv"}, SIGINT, "товар", "Warning:Товар частично загружен: получено "},
      {{"journal", "read", "--out", "journal.txt"}, SIGTERM, "записи журнала",
       "Warning:ОТЧЕТ частично загружен: получено "},
      // (the backup before the write would take the first seconds)
      {{"goods", "write", "all.csv", "--no-backup"}, SIGINT, "товар", "Warning:Товары записаны частично, "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    if (c.args[1] == "write") simulator->ModifyState([](sim::RegisterState& st) { st.goods.clear(); });
    // Standard error on a terminal shows the progress: the signal comes once
    // the transfer is under way, however long the start takes.
    test::CtlProcess process(dir.Path(), c.args, {}, true);
    ASSERT_TRUE(process.Started());
    constexpr int kUnderWay = 3;
    ASSERT_TRUE(process.WaitFor([&](const std::string&, const std::string& err) {
      return test::ProgressShown(err, c.progress) >= kUnderWay;
    })) << "no progress";
    process.Signal(c.signal);
    const RunResult r = process.Wait(std::chrono::seconds(60));
    EXPECT_EQ(r.status, 130) << r.err;
    const std::size_t at = r.err.find(c.says);
    ASSERT_NE(at, std::string::npos) << r.err;
    const int count = std::atoi(r.err.c_str() + at + c.says.size());
    // A write's progress names the record it is writing, a read's the
    // records it has.
    EXPECT_GE(count, c.args[1] == "write" ? kUnderWay - 1 : kUnderWay) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    if (c.args[1] == "read-all") {
      EXPECT_LT(count, kGoods);
      EXPECT_TRUE(
          Has(r.err, "получено " + std::to_string(count) + " тов., последний код " + std::to_string(count)))
          << r.err;
      EXPECT_EQ(test::ReadAll(dir.File("goods.csv")), old);
    } else if (c.args[1] == "read") {
      EXPECT_TRUE(Has(r.err, " записей журнала")) << r.err;
      EXPECT_EQ(test::ReadAll(dir.File("journal.txt")), old);
    } else {
      const auto goods = State().goods;
      EXPECT_LT(count, kGoods);
      EXPECT_EQ(static_cast<int>(goods.size()), count);
      ASSERT_FALSE(goods.empty());
      EXPECT_TRUE(Has(r.err, std::to_string(count) + " тов., последний записанный код " +
                                 std::to_string(goods.rbegin()->first)))
          << r.err;
    }
    // The next command finds the register ready: one that had to wait for
    // the register to give up the stopped transfer would fail (the PC gives
    // up a silent register within seconds); the limit only catches a hang.
    const RunResult next = Run({"info"});
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_LT(next.took, test::kCtlHangLimit);
  }
}

// The ports of the search: a missing device, a line nobody answers, and
// the simulator answering only at 19200 baud.
class ZarvikCtlFind : public ZarvikCtl {
 protected:
  void SetUp() override {
    ZarvikCtl::SetUp();
    ASSERT_TRUE(silent.Ok());
    simulator->SetPacing(19200, false);
    simulator->SetSpeedMatch(true);
    test::WriteAll(dir.File("ZarvikConfig.ini"),
                   "[Port]\r\nCOMPort=1\r\nSpeed=9600\r\n[NET]\r\nNUMBER=1\r\n[Devices]\r\nCOM200=" +
                       simulator->DevicePath() + "\r\nCOM211=" + dir.File("no-such-tty") + "\r\nCOM212=" +
                       silent.SlavePath() + "\r\nCOM213=" + held.SlavePath() + "\r\nCOM214=/dev/null\r\n");
  }
  test::PtyPair silent;
  test::PtyPair held;
};

TEST_F(ZarvikCtlFind, SaysWhatItTriedAndWhatAnsweredAndSavesThePort) {
  const RunResult r = Run({"find", "211", "COM212", "com200", "--save"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string sim = simulator->DevicePath();
  const std::string pty = silent.SlavePath();
  EXPECT_EQ(r.out, "COM211 (" + dir.File("no-such-tty") + "): пропущен, MISSING: нет устройства " +
                       dir.File("no-such-tty") + "\n" + "COM212 (" + pty + ") 9600: нет ответа\n" +
                       "COM212 (" + pty + ") 19200: нет ответа\n" + "COM212 (" + pty +
                       ") 38400: нет ответа\n" + "COM212 (" + pty + ") 57600: нет ответа\n" + "COM212 (" +
                       pty + ") 115200: нет ответа\n" + "COM200 (" + sim + ") 9600: нет ответа\n" +
                       "COM200 (" + sim + ") 19200: ответила ККМ Зарвик-ТЕСТ № 000111222333, версия T 001\n" +
                       "ККМ найдена: COM200, 19200\n" + "записано в " + dir.File("ZarvikConfig.ini") +
                       " [Port]\n");
  EXPECT_LT(r.took, test::kCtlHangLimit);
  // The next command uses the port and speed found.
  const RunResult info = Run({"info"});
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_TRUE(Has(info.out, "Скорость:        19200")) << info.out;

  // Nothing answers: exit status 1 and the count; as CSV one row per attempt.
  const RunResult none = Run({"--csv", "find", "212", "--speed", "115200"});
  EXPECT_EQ(none.status, 1);
  EXPECT_TRUE(Has(none.err, "Error:ККМ не найдена (5 попыток за ")) << none.err;
  EXPECT_TRUE(none.out.starts_with("Порт;Устройство;Скорость;Итог;Подробно\nCOM212;" + pty +
                                   ";115200;нет ответа;\nCOM212;" + pty + ";9600;нет ответа;\n"))
      << none.out;
  const RunResult bad = Run({"find", "COM0"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(Has(bad.err, "\"COM0\" is not a port")) << bad.err;
}

TEST_F(ZarvikCtlFind, StopsAtASignal) {
  test::CtlProcess process(dir.Path(), {"find", "212"});
  ASSERT_TRUE(process.Started());
  // The signal comes once the first attempt has ended, during the second.
  const std::string first = "COM212 (" + silent.SlavePath() + ") 9600: нет ответа\n";
  ASSERT_TRUE(process.WaitFor([&](const std::string& out, const std::string&) { return out.starts_with(first); }))
      << "no attempt ended";
  process.Signal(SIGINT);
  const RunResult r = process.Wait(test::kCtlHangLimit);
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_TRUE(Has(r.err, "Warning:Поиск ККМ остановлен (")) << r.err;
  EXPECT_TRUE(r.out.starts_with(first)) << r.out;
  // The search stopped in the attempt it was making (or, on a slow machine,
  // the one after): of its five speeds it did not try them all.
  const auto attempts = std::count(r.out.begin(), r.out.end(), '\n');
  EXPECT_LE(attempts, 3) << r.out;
}

// The port table: a pseudo-terminal, a line another program holds, a device
// that is no serial line, and (asked for) a mapped device that is missing.
TEST_F(ZarvikCtlFind, PortsShowsDeviceAndState) {
  TComPort holder;
  ASSERT_TRUE(holder.SetPortNumber(213));
  SetPortDevice(213, held.SlavePath());
  ASSERT_TRUE(holder.Open());
  SetPortDevice(213, "");
  const std::string out = Ok({"ports", "--csv"});
  EXPECT_TRUE(out.starts_with("Порт;Устройство;by-id;Состояние\n")) << out;
  const std::vector<std::string> rows = {
      "COM200;" + simulator->DevicePath() + ";;свободен\n",
      "COM212;" + silent.SlavePath() + ";;свободен\n",
      "COM213;" + held.SlavePath() + ";;BUSY: занят другой программой\n",
      "COM214;/dev/null;;NOT SERIAL: /dev/null не последовательный порт\n",
  };
  for (const std::string& row : rows) EXPECT_TRUE(Has(out, row)) << row << out;
  EXPECT_FALSE(Has(out, "COM211"));
  const std::string all = Ok({"ports", "--all"});
  EXPECT_TRUE(Has(all, "COM211  " + dir.File("no-such-tty") + "  ")) << all;
  EXPECT_TRUE(Has(all, "MISSING: нет устройства " + dir.File("no-such-tty"))) << all;
  EXPECT_EQ(Run({"ports", "extra"}).status, 2);
}

// Before a write the register's values are kept where the window program
// finds them: settings as a backup profile of the register in bd/, goods in
// bd/backup. --no-backup and [Backup] ENABLED=0 skip it, KEEP bounds it.
TEST_F(ZarvikCtl, WritesKeepABackupUnlessToldNotTo) {
  const auto backups = [this] {
    LangResStrHandler.SetDefaults();
    TKKM kkm;
    kkm.Info().serialNumber = "000111222333";
    kkm.Info().version = "T 001";
    TBD bd;
    bd.kkm = &kkm;
    TProfileStore store(bd, dir.File("bd"));
    EXPECT_TRUE(store.RefreshProfileList("000111222333", "T 001"));
    std::vector<std::vector<std::string>> out;  // per backup: the department names
    for (int i = 2; i <= bd.mtProfile.RecordCount(); ++i) {
      bd.mtProfile.SetRecNo(i);
      EXPECT_TRUE(IsBackupName(bd.mtProfile.Text("Name")));
      std::vector<std::string> names;
      for (bd.mtDepatment.First(); !bd.mtDepatment.Eof(); bd.mtDepatment.Next())
        names.push_back(bd.mtDepatment.Text("Name"));
      out.push_back(names);
    }
    return out;
  };
  RunResult r = Run({"departments", "set", "2", "name=Курьер"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "Резервная копия сохранена: «Авто ")) << r.err;
  // All four departments were read once, for the backup and the change.
  const auto executed = State().commandsExecuted;
  EXPECT_EQ(std::count(executed.begin(), executed.end(), std::uint8_t{7}), 4);
  EXPECT_EQ(State().departments[1].name, "Курьер");
  EXPECT_EQ(backups(), (std::vector<std::vector<std::string>>{{"Бакалея", "Доставка", "", "Молоко"}}));

  EXPECT_EQ(Run({"departments", "set", "2", "name=Склад", "--no-backup"}).status, 0);
  EXPECT_EQ(backups().size(), std::size_t{1});
  test::WriteAll(dir.File("ZarvikConfig.ini"),
                 test::ReadAll(dir.File("ZarvikConfig.ini")) + "[Backup]\r\nENABLED=0\r\n");
  EXPECT_EQ(Run({"operators", "set", "1", "name=Сидорова"}).status, 0);
  EXPECT_EQ(backups().size(), std::size_t{1});
  EXPECT_EQ(State().operatorNames[0], "Сидорова");

  // Kept: the last two; a write with nothing left to keep fails before writing.
  const std::string ini = test::ReadAll(dir.File("ZarvikConfig.ini"));
  test::WriteAll(dir.File("ZarvikConfig.ini"),
                 ini.substr(0, ini.find("[Backup]")) + "[Backup]\r\nKEEP=2\r\n");
  for (const char* name : {"name=Один", "name=Два", "name=Три"})
    EXPECT_EQ(Run({"departments", "set", "4", name}).status, 0);
  const auto kept = backups();
  ASSERT_EQ(kept.size(), std::size_t{2});
  EXPECT_EQ(kept[0][3], "Два");  // the newest first: what department 4 held before "Три"
  EXPECT_EQ(kept[1][3], "Один");

  // Goods: the register's goods the file writes, in a file before they are written.
  test::WriteAll(dir.File("new.csv"), "1;170;Хлеб ржаной;1;60;1;1;;False\r\n");
  r = Run({"goods", "write", "new.csv"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> files = ListFiles(dir.File("bd/backup"), ".dbf");
  ASSERT_EQ(files.size(), std::size_t{1});
  EXPECT_EQ(files[0].rfind("goods_000111222333_", 0), 0u) << files[0];
  TBD read;
  ASSERT_TRUE(ImportGoodsDbf(dir.File("bd/backup/" + files[0]), read.mtTOBAP, 100));
  EXPECT_EQ(read.mtTOBAP.RecordCount(), 1);
  EXPECT_EQ(read.mtTOBAP.Text("Name"), "Хлеб");
  EXPECT_EQ(read.mtTOBAP.Text("Price"), "52.9");
  EXPECT_EQ(State().goods.at(1).name, "Хлеб ржаной");
}

// Characters the register cannot print are named, not lost unseen: a
// printed line warns and prints the rest; a setting is refused.
TEST_F(ZarvikCtl, CharactersTheRegisterCannotPrintAreNamed) {
  RunResult r = Run({"print", "日本 ø", "Проверка"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "напечатано\n");
  EXPECT_TRUE(
      Has(r.err,
          "Warning:Строка 1: ККМ не печатает знаки «日 U+65E5», «本 U+672C», «ø U+00F8» в тексте «日本 ø»"))
      << r.err;
  EXPECT_FALSE(Has(r.err, "Строка 2")) << r.err;
  ASSERT_EQ(State().printed.size(), std::size_t{2});
  EXPECT_EQ(State().printed[1].text, "Проверка");
  r = Run({"receipt", "set", "header.1=ООО «Ромашка»"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err,
                  "header.1: the register cannot print \"«\" (character 5), \"»\" (character 13) of "
                  "\"ООО «Ромашка»\""))
      << r.err;
  EXPECT_EQ(State().header[0].text, "ООО \"Ромашка\"");
  // A goods name is written without them, and said so.
  test::WriteAll(dir.File("g.csv"), "7;170;Кофе «Арабика»;1;100;1;1;;False\r\n");
  r = Run({"goods", "write", "g.csv", "--no-backup"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(
      Has(r.err,
          "Warning:Строка 1, код 7: наименование «Кофе «Арабика»»: ККМ не печатает знаки ««», «»», они не "
          "будут записаны"))
      << r.err;
  EXPECT_EQ(State().goods.at(7).name, "Кофе Арабика");
}

}  // namespace
}  // namespace zarvik

#endif  // ZARVIK_CTL_EXE
