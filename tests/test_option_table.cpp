// The built-in table of the 64 option slots.
#include <gtest/gtest.h>

#include <string>

#include "model/OptionTable.h"

namespace zarvik {
namespace {

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(OptionTable, RowsExistExactlyForOneTo64) {
  EXPECT_EQ(OptionTableRow(0), nullptr);
  EXPECT_EQ(OptionTableRow(-1), nullptr);
  EXPECT_EQ(OptionTableRow(65), nullptr);
  for (int n = 1; n <= kOptionSlotCount; ++n) ASSERT_NE(OptionTableRow(n), nullptr) << n;
  EXPECT_EQ(OptionTableDescription(0), "");
  EXPECT_EQ(OptionTableDescription(65), "");
}

TEST(OptionTable, DefaultsLieInsideTheirIntervals) {
  for (int n = 1; n <= kOptionSlotCount; ++n) {
    const TOptionTableRow& r = *OptionTableRow(n);
    EXPECT_LE(r.Min, r.Max) << n;
    EXPECT_TRUE((r.Default >= r.Min && r.Default <= r.Max) || (r.ZeroAllowed != 0 && r.Default == 0)) << n;
    EXPECT_GE(r.Min, 0) << n;
    EXPECT_LE(r.Max, 255) << n;  // option values are single bytes
  }
}

TEST(OptionTable, OnlyOption34AllowsZeroBesidesItsInterval) {
  for (int n = 1; n <= kOptionSlotCount; ++n) {
    EXPECT_EQ(OptionTableRow(n)->ZeroAllowed != 0, n == 34) << n;
  }
  const TOptionTableRow& r = *OptionTableRow(34);
  EXPECT_EQ(r.Min, 5);
  EXPECT_EQ(r.Max, 99);
  EXPECT_EQ(r.Default, 10);
}

TEST(OptionTable, ReservedAndUndescribedRows) {
  for (int n = 1; n <= kOptionSlotCount; ++n) {
    const TOptionTableRow& r = *OptionTableRow(n);
    const bool reserved = n == 27 || (n >= 38 && n <= 50);
    const bool undescribed = n >= 51;
    if (reserved || undescribed) {
      EXPECT_EQ(r.Min, 0) << n;
      EXPECT_EQ(r.Max, 0) << n;
      EXPECT_EQ(r.Default, 0) << n;
    }
    if (undescribed) {
      EXPECT_EQ(r.Description, nullptr) << n;
      EXPECT_EQ(OptionTableDescription(n), "") << n;
    } else {
      ASSERT_NE(r.Description, nullptr) << n;
      EXPECT_EQ(OptionTableDescription(n) == "Зарезервировано", reserved) << n;
    }
  }
}

TEST(OptionTable, SampleRowsCarryTheirTexts) {
  struct Case {
    int n;
    int min, max, def;
    std::string description;
  };
  const Case cases[] = {
      {2, 0, 16, 1, "Номер секции по умолчанию, 0 – режим отключен"},
      {12, 1, 7, 7, "Шрифт наименования товара"},
      {17, 6, 8, 6, "Шрифт печати отчетов по товарам и услугам"},
      {29, 0, 4, 0, "Скорость обмена с ПЭВМ, бод (0-9600, 1-19200, 2-38400, 3-57600, 4-115200)"},
      {30, 0, 98, 0, "Сетевой номер кассы (on-line)"},
      {37, 0, 1, 0, "Ф-совместимый интерфейс главного меню(1 - включен,0 - отключен)"},
  };
  for (const auto& c : cases) {
    const TOptionTableRow& r = *OptionTableRow(c.n);
    EXPECT_EQ(r.Min, c.min) << c.n;
    EXPECT_EQ(r.Max, c.max) << c.n;
    EXPECT_EQ(r.Default, c.def) << c.n;
    EXPECT_EQ(OptionTableDescription(c.n), c.description);
  }
  // Option 1 ends without a closing parenthesis, exactly as the register
  // documentation words it.
  const std::string first = OptionTableDescription(1);
  EXPECT_EQ(first.rfind("Распечатка журнала продаж при закрытии смены (0 - не печатать", 0), 0u);
  EXPECT_TRUE(EndsWith(first, "3 – полные копии чеков"));
  EXPECT_TRUE(EndsWith(OptionTableDescription(5), "подсветка автоматически отключается"));
}

}  // namespace
}  // namespace zarvik
