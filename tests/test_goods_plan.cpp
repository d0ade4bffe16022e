// The plan of a goods write: the barcode check, the comparison with the
// register's records (only what differs is sent) and the row checks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/U_kkms.h"
#include "store/GoodsExchange.h"
#include "store/GoodsPlan.h"
#include "store/UnitBD.h"

namespace zarvik {
namespace {

TEST(GoodsBarcode, LengthsCheckDigitsAndTheInStoreRange) {
  struct Case {
    const char* barcode;
    BarcodeVerdict verdict;
  };
  const Case cases[] = {
      {"", BarcodeVerdict::None},
      {"0", BarcodeVerdict::None},
      {"4600605000014", BarcodeVerdict::Valid},          // EAN-13
      {"4600605000015", BarcodeVerdict::BadCheckDigit},  // one digit off
      {"40170725", BarcodeVerdict::Valid},               // EAN-8
      {"40170726", BarcodeVerdict::BadCheckDigit},
      {"036000291452", BarcodeVerdict::Valid},  // UPC-A
      {"36000291452", BarcodeVerdict::Valid},   // the same as the register keeps it
      {"1234565", BarcodeVerdict::Valid},       // EAN-8 01234565 without its leading zero
      {"2100008000008", BarcodeVerdict::InStore},
      {"2100008000009", BarcodeVerdict::InStore},  // no check digit test
      {"123456", BarcodeVerdict::BadLength},
      {"12345678901234", BarcodeVerdict::BadLength},
      {"46006O5000014", BarcodeVerdict::NotDigits},
      {" 4600605000014", BarcodeVerdict::NotDigits},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckBarcode(c.barcode), c.verdict) << c.barcode;
}

class GoodsPlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    info.maxCountGoods = 100;
    info.maxCountDepat = 4;
    limits = GoodsLimitsOf(info);
    limits.sectionOpen = {false, true, true, false, true};
    limits.taxDefined = {true, true, false, false, false};
  }
  void Row(std::int64_t code, const std::string& name, const std::string& price, std::int64_t ng = 1,
           std::int64_t section = 1, const std::string& barcode = "4600605000014", std::int64_t type = 170) {
    TWorkTable& t = bd.mtTOBAP;
    t.Append();
    t.SetInteger("Code", code);
    t.SetInteger("Type", type);
    t.SetText("Name", name);
    t.SetInteger("NG", ng);
    t.SetText("Price", price);
    t.SetInteger("Section", section);
    t.SetInteger("Vesovoy", 1);
    t.SetText("Shtrih", barcode);
    t.SetBoolean("isBlock", false);
    t.Post();
  }
  // What the register holds: the table's rows as records, the quantity sold set.
  TRegisterGoods Held(std::int64_t sold = 0) {
    TRegisterGoods held;
    held.read = true;
    TWorkTable& t = bd.mtTOBAP;
    for (t.First(); !t.Eof(); t.Next()) {
      EXPECT_TRUE(GoodsRowToRecord(t, info));
      if (sold > 0) {
        EXPECT_TRUE(info.goodsSold.FromText(std::to_string(sold)));
      }
      held.records[t.Int("Code")] = info.GoodsRecord;
    }
    return held;
  }
  TKKMInfo info;
  GoodsRegisterLimits limits;
  TBD bd;
  GoodsImportReport report;
};

TEST_F(GoodsPlanTest, OnlyTheRowsThatDifferAreSentWithTheirFields) {
  Row(1, "Хлеб", "52.9");
  Row(2, "Сыр", "589", 2, 2, "");
  Row(3, "Пакет", "5");
  const TRegisterGoods held = Held(5000);
  // Equal in everything but the quantity sold: nothing to send.
  GoodsWritePlan plan = PlanGoodsWrite(bd.mtTOBAP, limits, report, held, false, false);
  EXPECT_FALSE(plan.HasErrors());
  EXPECT_TRUE(plan.send.empty());
  EXPECT_EQ(GoodsPlanSummary(plan), "изменится 0, новых 0, без изменений 3");
  // A reset of the quantity sold sends every row that has sold.
  plan = PlanGoodsWrite(bd.mtTOBAP, limits, report, held, false, true);
  ASSERT_EQ(plan.send.size(), 3U);
  EXPECT_EQ(GoodsPlanRowLines(plan.send[0]), std::vector<std::string>{"1: продано: 5 -> 0"});

  TWorkTable& t = bd.mtTOBAP;
  t.SetRecNo(2);
  t.Edit();
  t.SetText("Price", "599.5");
  t.SetInteger("Section", 1);
  t.Post();
  Row(4, "Чай", "10");
  plan = PlanGoodsWrite(t, limits, report, held, false, false);
  ASSERT_EQ(plan.send.size(), 2U);
  EXPECT_EQ(plan.send[0].row, 1);
  EXPECT_EQ(GoodsPlanRowLines(plan.send[0]),
            (std::vector<std::string>{"2: цена: 589.00 -> 599.50", "2: отдел: 2 -> 1"}));
  EXPECT_TRUE(plan.send[1].isNew);
  EXPECT_EQ(GoodsPlanRowLines(plan.send[1]), std::vector<std::string>{"4: новый товар"});
  EXPECT_EQ(GoodsPlanSummary(plan), "изменится 1, новых 1, без изменений 2");
  // --all sends every row.
  plan = PlanGoodsWrite(t, limits, report, held, true, false);
  EXPECT_EQ(plan.send.size(), 4U);

  // A deletion of a code the register holds is a change; of one it lacks, nothing.
  t.SetRecNo(4);
  t.Edit();
  t.SetInteger("Type", kGoodsTypeNone);
  t.Post();
  t.SetRecNo(1);
  t.Edit();
  t.SetInteger("Type", kGoodsTypeNone);
  t.Post();
  plan = PlanGoodsWrite(t, limits, report, held, false, false);
  ASSERT_EQ(plan.send.size(), 2U);
  EXPECT_EQ(GoodsPlanRowLines(plan.send[0]), std::vector<std::string>{"1: тип: товар -> удалён"});
  EXPECT_EQ(plan.unchanged, 2);
}

TEST_F(GoodsPlanTest, ErrorsNameTheRowAndStopThePlan) {
  Row(1, "Хлеб", "52.9");
  Row(2, "Сыр", "589", 3, 1, "4600605000021");
  Row(3, "Чай", "5", 1, 3, "");
  Row(4, "Соль", "7", 1, 1, "4600605000021");  // a warning: the barcode of code 2
  report.rowPlaces = {4, 5, 6, 7};
  const GoodsWritePlan plan = PlanGoodsWrite(bd.mtTOBAP, limits, report, {}, false, false);
  EXPECT_EQ(plan.errorCount, 2);
  EXPECT_EQ(plan.warningCount, 1);
  EXPECT_TRUE(plan.send.empty());
  std::vector<std::string> texts;
  for (const GoodsCheck& c : plan.checks) texts.push_back(GoodsCheckText(c, plan.placeKind));
  EXPECT_EQ(texts,
            (std::vector<std::string>{
                "Строка 5, код 2: налог. группа «3»: такого налога в ККМ нет (ККМ допускает: 0 (без "
                "налога), 1 (A), 2 (B))",
                "Строка 6, код 3: отдел «3»: отдел закрыт (ККМ допускает: 0 (без отдела), открытые "
                "отделы 1, 2, 4)",
                "Строка 7, код 4: штрих-код «4600605000021»: тот же штрих-код у кода 2 (строка 5) (ККМ "
                "допускает: свой штрих-код у каждого товара)"}));
}

}  // namespace
}  // namespace zarvik
