// Rendering of journal record lines as receipt text, and the exact decimal
// amounts behind it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "journal/U_magazineoperation.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"
#include "shell/TextCodec.h"
#include "shell/UiHooks.h"

namespace zarvik {
namespace {

const std::string kSep = "\r\n" + std::string(69, '*') + "\r\n\r\n";
const std::string kDash = "--------------------\r\n";

// Counts the message boxes the renderer asks for; the log goes to a
// temporary file so that nothing is written beside the test program.
class JournalRenderTest : public ::testing::Test {
 protected:
  class BoxCounter : public IUiHooks {
   public:
    void ShowMessageBox(BoxKind kind, const std::string& caption, const std::string& text) override {
      boxes.push_back({kind, caption, text});
    }
    struct Box {
      BoxKind kind;
      std::string caption;
      std::string text;
    };
    std::vector<Box> boxes;
  };

  void SetUp() override {
    // A log of this process's own: ctest runs the cases of this fixture as
    // parallel processes, and one's TearDown must not remove another's log.
    logPath_ = (std::filesystem::temp_directory_path() /
                ("zarvik_journal_render_test_" + std::to_string(::getpid()) + ".log"))
                   .string();
    std::filesystem::remove(logPath_);
    savedLog_ = NameLogFile;
    savedAutonom_ = isAUTONOM;
    NameLogFile = logPath_;
    isAUTONOM = false;
    LastErrorMessage.clear();
    SetUiHooks(&hooks_);
  }
  void TearDown() override {
    SetUiHooks(nullptr);
    NameLogFile = savedLog_;
    isAUTONOM = savedAutonom_;
    std::filesystem::remove(logPath_);
  }
  std::string LogText() const {
    std::ifstream in(logPath_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  BoxCounter hooks_;
  std::string logPath_;
  std::string savedLog_;
  bool savedAutonom_ = false;
};

struct RenderCase {
  const char* line;
  std::string expected;
};

// One case per record group and per branch of the formats.
TEST_F(JournalRenderTest, RendersEveryRecordGroup) {
  const std::string sale = "2 СК           12.50 // 1.суммовая продажа 1x12.50         налог.гр.1";
  const RenderCase cases[] = {
      // First operation of a receipt: separator and dashed rule in front.
      {"A1;1;1000;1250;1;2", kSep + kDash + sale},
      {"A1;2;1000;1250;1;2", "2 СК           12.50 // 2.суммовая продажа 1x12.50         налог.гр.1"},
      // Two-digit operation numbers and departments fill their columns.
      {"AC;12;1500;200;3;15", "15СК            3.00 //12.суммовой возврат 1.5x2.00        налог.гр.3"},
      // Annulments: the mark after the receipt start, before the line.
      {"A6;1;1000;1250;1;2",
       kSep + kDash + "----- АННУЛЯЦИЯ ----\r\n" +
           "2 СК           12.50 // 1.аннуляция суммовой подажи 1x12.50         налог.гр.1"},
      {"A7;4;1;100;1;2",
       "----- АННУЛЯЦИЯ ----\r\n2 СК            0.00 // 4.аннуляция суммовой покупки 0.001x1.00      "
       "налог.гр.1"},
      {"A3;1;42;2500;3990;2;1",
       kSep + kDash + "1 СК           99.75 // 1.пр. по коду:42   2.5x39.90       налог.гр.2"},
      {"AD;3;123456;1000;100;1;7",
       "7 СК            1.00 // 3.возврат продажи по коду:123456 1x1.00          налог.гр.1"},
      {"AB;2;5;1000;100;1;7",
       "----- АННУЛЯЦИЯ ----\r\n7 СК            1.00 // 2.аннуляция оплаты за услугу:5    1x1.00          "
       "налог.гр.1"},
      // Discounts and surcharges on an operation show the amount's digits too.
      {"B1;2;0;500;2;1", "1 СК Скидка     5.00 // 2.скидка на операцию:500  налог.гр.2"},
      {"B2;2;0;5;2;1", "1 СК Надбав     0.05 // 2.надбавка операцию: 5  налог.гр.2"},
      {"B3;2;0;500;2;1", "1 СК Ан.ск.     5.00 // 2.анн. скидки на операцию:500  налог.гр.2"},
      {"B4;2;0;500;2;1", "1 СК Ан.над     5.00 // 2.анн. надбавки на операцию:500  налог.гр.2"},
      // Subtotal and its adjustments.
      {"B5;2;1250", "ПИ             12.50 // 2.сумма ПИ (ИТОГО)"},
      {"B6;5;85", "ПИ Скидка       0.85 // 5.скидка на ПИ"},
      {"B7;5;85", "ПИ Надбав       0.85 // 5.надбавка на ПИ"},
      {"B8;5;85", "ПИ Ан.ск.       0.85 // 5.анн скидки на ПИ"},
      {"B9;5;85", "ПИ Ан.над       0.85 // 5.анн набавки на ПИ"},
      // Sums by tax rate end with the code; C2..C5 have no name.
      {"C1;6;1;5400", "Нал.ст.1           54.00 // 6.0x\u04215 суммы по налоговым ставкам C1"},
      {"C3;6;3;0", "Нал.ст.3            0.00 // 6.??? C3"},
      // Payments.
      {"C9;3;1;1250;2000", "ИТОГ           12.50\r\nНАЛИЧНЫМИ      20.00\r\nСДАЧА           7.50"},
      {"C9;3;1;1250;0", "ИТОГ           12.50"},
      {"C9;1;1;1250;0", kSep + kDash + "ИТОГ           12.50"},
      {"C9;3;5;1250;0", "Безнал         12.50"},
      {"C9;3;2;1250;0", "Возврат        12.50"},
      {"C9;3;7;1250;0", "unknown       12.50"},
      {"C9;3;5;1250;1000", "Безнал         12.50\r\nНАЛИЧНЫМИ      10.00\r\nСДАЧА          -2.50"},
      // Closings.
      {"CA;1;123;15.12.10;14:05;F;1", kDash + "15.12.10 14:05 ОП: 1 //Продажа\r\nЧЕК:123     ФИСКАЛЬНЫЙ"},
      {"CA;5;9;16.12.10;09:30;NF;12", kDash + "16.12.10 09:30 ОП:12 //Безнал  \r\nЧЕК:9  НЕ ФИСКАЛЬНЫЙ"},
      {"CA;3;9;;09:30;F;2", kDash + " 09:30 ОП: 2 //Внесено \r\nЧЕК:9     ФИСКАЛЬНЫЙ"},
      {"CA;0;9;16.12.10;09:30;F;2", kDash + "16.12.10 09:30 ОП: 2 //unknown\r\nЧЕК:9     ФИСКАЛЬНЫЙ"},
      {"CA;4;9;16.12.10;09:30;f;2", kDash + "16.12.10 09:30 ОП: 2 //Выплата \r\nЧЕК:9  НЕ ФИСКАЛЬНЫЙ"},
      // Repeat print and receipt annulment.
      {"CB;3", "Повторный чек  ОП: 3"},
      {"CC;12", kDash + "Аннуляция чека ОП:12"},
      // Lines of unknown bytes and codes of no kind.
      {"AF12AA", "???"},
      {"0102AA", "???"},
      {"C6;1;2", "???"},
      {"Z1;1;2", "???"},
      {"", "???"},
  };
  for (const RenderCase& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(RenderJournalLine(c.line), c.expected);
  }
  EXPECT_TRUE(hooks_.boxes.empty());
}

TEST_F(JournalRenderTest, RenderedTextNeverEndsWithCrLf) {
  for (const char* line : {"A1;1;1000;1250;1;2", "C9;3;1;1250;2000", "CA;1;123;15.12.10;14:05;F;1", "CC;1"}) {
    const std::string text = RenderJournalLine(line);
    ASSERT_GE(text.size(), 2u);
    EXPECT_NE(text.substr(text.size() - 2), "\r\n") << line;
  }
}

// Lines a field of which must be a number but is not: the line comes back
// with " - ошибка!" and one error report per line.
TEST_F(JournalRenderTest, FailingLinesAreMarkedAndReportedOnce) {
  const char* lines[] = {
      "A1;1;1000;er;1;2",                   // amount field "er"
      "A1;1;1000",                          // sale line cut after its third field
      "A1;1",                               //
      "A10100",                             // a truncated record's hexadecimal line
      "A3;1;42;1A00;3990;2;1",              // BCD nibble above 9
      "A1;1;;1250;1;2",                     // empty quantity
      "B1;2;0;;2;1",                        //
      "B5;2;er",                            //
      "C1;6;1;12F0",                        //
      "C9;3;1;er;0",                        //
      "C9;3;1;1250;",                       // tendered field missing
      "C9;3;x;1250;0",                      // payment kind not a number
      "CA;x;123;15.12.10;14:05;F;1",        // receipt kind not a number
      "CA",                                 //
      "A1;1;1000;-1250;1;2",                // signs are not register digits
      "A1;1;1000;1234567890123456789;1;2",  // wider than any register field
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    hooks_.boxes.clear();
    EXPECT_EQ(RenderJournalLine(line), std::string(line) + " - ошибка!");
    ASSERT_EQ(hooks_.boxes.size(), 1u);
    EXPECT_EQ(hooks_.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(hooks_.boxes[0].text, "ошибка декодирования операций чека");
    EXPECT_EQ(LastErrorMessage, "ошибка декодирования операций чека");
    std::string quiet;
    EXPECT_FALSE(TryRenderJournalLine(line, quiet));
    EXPECT_TRUE(quiet.empty());
  }
  EXPECT_NE(LogText().find(Utf8ToCp1251("Error:ошибка декодирования операций чека")), std::string::npos);
}

TEST_F(JournalRenderTest, CallerDecidesAboutTheBox) {
  EXPECT_EQ(RenderJournalLine("B5;2;er", false), "B5;2;er - ошибка!");
  EXPECT_TRUE(hooks_.boxes.empty());
  EXPECT_EQ(LastErrorMessage, "ошибка декодирования операций чека");
  EXPECT_NE(LogText().find(Utf8ToCp1251("ошибка декодирования операций чека")), std::string::npos);
}

// Fields that are not read as numbers pass through unchanged, even when
// they would not be numbers (an empty date, a BCD letter in a goods code).
TEST_F(JournalRenderTest, TextFieldsPassThrough) {
  EXPECT_EQ(RenderJournalLine("A3;2;4F;1000;100;;"),
            "  СК            1.00 // 2.пр. по коду:4F   1x1.00          налог.гр.");
  EXPECT_EQ(RenderJournalLine("CB"), "Повторный чек  ОП:  ");
  EXPECT_TRUE(hooks_.boxes.empty());
}

// Amounts where binary floating point loses or gains a kopeck, and the
// quantities printed with "%g".
TEST_F(JournalRenderTest, AmountsAreExactToTheKopeck) {
  struct AmountCase {
    const char* quantity;  // thousandths
    const char* price;     // kopecks
    const char* amount;    // %15.2f without its padding
    const char* qp;        // %gx%.2f
  };
  const AmountCase cases[] = {
      {"1005", "100", "1.01", "1.005x1.00"},  // double: 1.00
      {"2675", "100", "2.68", "2.675x1.00"},  // double: 2.67
      {"1015", "100", "1.02", "1.015x1.00"},  // double: 1.01
      {"125", "100", "0.13", "0.125x1.00"},   // double tie, printf rounds to even: 0.12
      {"3000", "3333", "99.99", "3x33.33"},   //
      {"300", "10", "0.03", "0.3x0.10"},      //
      {"1", "1", "0.00", "0.001x0.01"},       //
      {"1", "500", "0.01", "0.001x5.00"},     // half a kopeck rounds up
      {"1", "499", "0.00", "0.001x4.99"},     //
      {"1500", "200", "3.00", "1.5x2.00"},    //
      {"9999999999", "9999999999", "999999999800000.00", "1e+07x99999999.99"},  // double: ...799999.88
      {"1234567891", "100", "1234567.89", "1.23457e+06x1.00"},
      {"999999499", "100", "999999.50", "999999x1.00"},
      {"999999500", "100", "999999.50", "1e+06x1.00"},
      {"0001000", "0001250", "12.50", "1x12.50"},  // leading zeros
  };
  for (const AmountCase& c : cases) {
    const std::string line = std::string("A1;2;") + c.quantity + ";" + c.price + ";1;2";
    SCOPED_TRACE(line);
    const std::string text = RenderJournalLine(line);
    const std::string amount(c.amount);
    const std::string expectedAmount = std::string(amount.size() < 15 ? 15 - amount.size() : 0, ' ') + amount;
    EXPECT_EQ(text.substr(0, std::string("2 СК ").size() + expectedAmount.size()), "2 СК " + expectedAmount);
    EXPECT_NE(text.find(std::string(" ") + c.qp), std::string::npos) << text;
  }
}

TEST_F(JournalRenderTest, ChangeIsExact) {
  // 0.30 tendered for 0.10 + 0.20 worth: the change is exactly 0.00.
  EXPECT_EQ(RenderJournalLine("C9;3;1;30;30"),
            "ИТОГ            0.30\r\nНАЛИЧНЫМИ       0.30\r\nСДАЧА           0.00");
  EXPECT_EQ(RenderJournalLine("C9;3;1;9999999999999;99999999999999"),
            "ИТОГ  99999999999.99\r\nНАЛИЧНЫМИ 999999999999.99\r\nСДАЧА 900000000000.00");
}

// The receipt file holds what the page shows for a run of record lines:
// each rendering, one after another, split into lines.
std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2) {
    lines.push_back(text.substr(start, pos - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

TEST_F(JournalRenderTest, WholeReceiptsMatchTheExpectedText) {
  const std::filesystem::path dir = std::filesystem::path(ZARVIK_TEST_DATA) / "journal";
  const std::vector<std::string> records = ReadLines(dir / "receipts_records.txt");
  const std::vector<std::string> expected = ReadLines(dir / "receipts.txt");
  ASSERT_FALSE(records.empty());
  std::string shown;
  for (const std::string& record : records) {
    if (!shown.empty()) shown += "\r\n";
    shown += RenderJournalLine(record);
  }
  const std::vector<std::string> lines = SplitCrLf(shown);
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i], expected[i]) << "line " << i + 1;
  }
  EXPECT_TRUE(hooks_.boxes.empty());
}

TEST(JournalFields, SplitKeepsEmptyFieldsAndStopsAtTwenty) {
  EXPECT_EQ(SplitJournalLine("CA;1;123;;14:05;F;1"),
            (std::vector<std::string_view>{"CA", "1", "123", "", "14:05", "F", "1"}));
  EXPECT_EQ(SplitJournalLine("A1;1;"), (std::vector<std::string_view>{"A1", "1"}));
  EXPECT_EQ(SplitJournalLine(";"), (std::vector<std::string_view>{""}));
  EXPECT_TRUE(SplitJournalLine("").empty());
  std::string many;
  for (int i = 0; i < 25; ++i) many += std::to_string(i) + ";";
  const auto fields = SplitJournalLine(many);
  ASSERT_EQ(fields.size(), 20u);
  EXPECT_EQ(fields.back(), "19");
}

TEST(JournalNames, ReceiptKindsKeepTheirTrailingSpaces) {
  EXPECT_EQ(ReceiptKindName(1), "Продажа");
  EXPECT_EQ(ReceiptKindName(2), "Возврат ");
  EXPECT_EQ(ReceiptKindName(3), "Внесено ");
  EXPECT_EQ(ReceiptKindName(4), "Выплата ");
  EXPECT_EQ(ReceiptKindName(5), "Безнал  ");
  EXPECT_EQ(ReceiptKindName(0), "unknown");
  EXPECT_EQ(ReceiptKindName(6), "unknown");
  EXPECT_EQ(ReceiptKindName(-1), "unknown");
}

// "%g" and "%.2f" agree with printf wherever the exact decimal value is not
// a tie that printf would settle on its binary approximation.
TEST(JournalMoney, FormatsAgreeWithPrintf) {
  const long long samples[] = {0,         1,         9,         10,          99,         100,
                               101,       999,       1000,      1001,        1234,       12345,
                               123456,    999999,    1000000,   1234567,     9999999,    99999994,
                               100000000, 123456789, 999999999, 1000000000,  1234567891, 9999999999,
                               54321,     4000,      50,        12000000000, 5,          -1500};
  char buf[64];
  for (long long u : samples) {
    SCOPED_TRACE(u);
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(u) / 1000.0);
    EXPECT_EQ(FormatGeneral(u, 3), buf);
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(u) / 100000000.0);
    EXPECT_EQ(FormatGeneral(u, 8), buf);
    std::snprintf(buf, sizeof buf, "%15.2f", static_cast<double>(u) / 100.0);
    EXPECT_EQ(FormatHundredths(u, 15), buf);
    std::snprintf(buf, sizeof buf, "%.2f", static_cast<double>(u) / 100.0);
    EXPECT_EQ(FormatHundredths(u, 0), buf);
  }
  EXPECT_EQ(FormatHundredths(INT64_MIN, 0), "-92233720368547758.08");
}

TEST(JournalMoney, ProductRoundsOnceHalvesAwayFromZero) {
  const auto times = [](std::int64_t q, std::int64_t p) {
    return Quantity::FromThousandths(q).Times(Money::FromKopecks(p)).value().Kopecks();
  };
  EXPECT_EQ(times(1005, 100), 101);
  EXPECT_EQ(times(1004, 100), 100);
  EXPECT_EQ(times(-1005, 100), -101);
  EXPECT_EQ(times(1005, -100), -101);
  EXPECT_EQ(times(12495, 1), 12);  // 0.12495: no double rounding through 0.1250
  EXPECT_FALSE(Quantity::FromThousandths(INT64_MAX).Times(Money::FromKopecks(2000)).has_value());
  EXPECT_FALSE(Money::FromKopecks(INT64_MIN).Minus(Money::FromKopecks(1)).has_value());
}

TEST(JournalMoney, ParsesOnlyRegisterDigits) {
  EXPECT_EQ(ParseJournalNumber("0"), 0);
  EXPECT_EQ(ParseJournalNumber("000123"), 123);
  EXPECT_EQ(ParseJournalNumber("999999999999999999"), 999999999999999999);
  EXPECT_EQ(ParseJournalNumber("0000999999999999999999"), 999999999999999999);
  EXPECT_FALSE(ParseJournalNumber("1000000000000000000").has_value());
  for (const char* bad : {"", "er", "1A", " 1", "1 ", "+1", "-1", "1.5", "１"}) {
    EXPECT_FALSE(ParseJournalNumber(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace zarvik
