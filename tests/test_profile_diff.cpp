// The rows of two profiles compared as the register would hold them: what
// the configuration tabs mark, and what "только отличия" sends.
#include "store/ProfileDiff.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "shell/ProjectsVars.h"
#include "shell/U_language.h"
#include "store/UnitBD.h"

namespace zarvik {
namespace {

TDepRec Dep(const char* status, const char* name, const char* group, double price) {
  TDepRec d;
  d.status = status;
  d.name = name;
  d.taxGroup = group;
  d.price = price;
  return d;
}

class ProfileDiffTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LangResStrHandler.SetDefaults();
    bd_ = std::make_unique<TBD>();
  }

  // Appends a row of profile `ln` (the after-insert rule takes the list's
  // current key, so the key is set afterwards).
  static void Add(TWorkTable& t, const std::string& ln, const std::map<std::string, std::string>& values) {
    t.Append();
    for (const auto& [field, value] : values) ASSERT_EQ(t.SetText(field, value), WtResult::Ok) << field;
    t.SetText("LN", ln);
    t.Post();
  }
  static void Show(TWorkTable& t, const std::string& ln) {
    t.SetFilter("LN='" + ln + "'");
    t.SetFiltered(true);
  }

  std::unique_ptr<TBD> bd_;
};

TEST_F(ProfileDiffTest, DepartmentsAreTheSameWhenTheRegisterWouldHoldTheSame) {
  struct Case {
    TDepRec a;
    TDepRec b;
    bool same;
    const char* why;
  };
  const Case cases[] = {
      {Dep("Товар", "Бакалея", "A", 100), Dep("Товар", "Бакалея", "A", 100), true, "equal"},
      {Dep("Товар", "Бакалея", "A", 100), Dep("Услуга", "Бакалея", "A", 100), false, "status"},
      {Dep("Товар", "Бакалея", "A", 100), Dep("Товар", "Бакалея ", "A", 100), false, "name"},
      {Dep("Товар", "Бакалея", "A", 100), Dep("Товар", "Бакалея", "B", 100), false, "tax group"},
      {Dep("Товар", "Бакалея", "A", 100), Dep("Товар", "Бакалея", "A", 100.01), false, "price"},
      // Closed departments are written without name, group and price.
      {Dep("Закрыто", "", "0", 0), Dep("Закрыто", "старое", "", 5), true, "both closed"},
      {Dep("Закрыто", "", "0", 0), Dep("", "", "", 0), true, "any other status is closed"},
      // No tax group is sent as none: "", "0" and "@" (how the register reports none).
      {Dep("Товар", "x", "", 1), Dep("Товар", "x", "@", 1), true, "no tax group"},
      // What the register cannot print is not written, so it cannot differ.
      {Dep("Товар", "Кофе ø", "A", 1), Dep("Товар", "Кофе ", "A", 1), true, "unprintable left out"},
      {Dep("Товар", std::string(22, 'x').append("y").c_str(), "A", 1),
       Dep("Товар", std::string(22, 'x').c_str(), "A", 1), true, "cut to 22"},
      // A price that is no whole number of kopecks is sent as 0.
      {Dep("Товар", "x", "A", 0.005), Dep("Товар", "x", "A", 0), true, "price sent as 0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SameDepartment(c.a, c.b), c.same) << c.why;
    EXPECT_EQ(SameDepartment(c.b, c.a), c.same) << c.why;
  }
  EXPECT_TRUE(IsOpenDepartment(Dep("Услуга", "", "", 0)));
  EXPECT_FALSE(IsOpenDepartment(Dep("Закрыто", "x", "A", 1)));
}

TEST_F(ProfileDiffTest, RowsAreComparedByPositionWithTheOtherProfile) {
  TWorkTable& t = bd_->mtDepatment;
  t.Close();
  t.Open();
  for (const char* ln : {"0", "77"}) {
    Add(t, ln, {{"Status", "Товар"}, {"Name", "Бакалея"}, {"NG", "A"}, {"Price", "100"}});
    Add(t, ln, {{"Status", "Услуга"}, {"Name", "Доставка"}, {"NG", "B"}, {"Price", "5"}});
  }
  Add(t, "77", {{"Status", "Товар"}, {"Name", "Лишний"}});
  // One department changed in the register's rows.
  Show(t, "0");
  ASSERT_TRUE(t.SetRecNo(2));
  t.Edit();
  t.SetText("Name", "Доставка на дом");
  t.Post();

  Show(t, "77");
  EXPECT_FALSE(ViewRowDiffers(t, TDiffTable::Departments, 0, "0"));
  EXPECT_TRUE(ViewRowDiffers(t, TDiffTable::Departments, 1, "0"));
  EXPECT_TRUE(ViewRowDiffers(t, TDiffTable::Departments, 2, "0"));   // no counterpart
  EXPECT_FALSE(ViewRowDiffers(t, TDiffTable::Departments, 3, "0"));  // no such row shown
  // Nothing to compare with: nothing differs.
  EXPECT_FALSE(ViewRowDiffers(t, TDiffTable::Departments, 1, ""));
  EXPECT_FALSE(ViewRowDiffers(t, TDiffTable::Departments, 1, "5"));
  // An edit not yet posted counts.
  ASSERT_TRUE(t.SetRecNo(2));
  t.Edit();
  t.SetText("Name", "Доставка на дом");
  EXPECT_FALSE(ViewRowDiffers(t, TDiffTable::Departments, 1, "0"));
  t.Cancel();
  EXPECT_EQ(ProfileRows(t, "77").size(), std::size_t{3});
  EXPECT_EQ(ProfileRows(t, "0"), (std::vector<int>{0, 1}));
}

TEST_F(ProfileDiffTest, LinesOperatorsTaxesAndFonts) {
  TWorkTable& title = bd_->mtTitle;
  Add(title, "9", {{"Num", "1"}, {"Caption", ""}});
  Add(title, "9", {{"Num", "2"}, {"Caption", "ООО «Ромашка»"}});
  Show(title, "0");
  ASSERT_TRUE(title.SetRecNo(2));
  title.Edit();
  title.SetText("Caption", "ООО Ромашка");
  title.Post();
  Show(title, "9");
  EXPECT_FALSE(ViewRowDiffers(title, TDiffTable::Header, 0, "0"));
  // The quotes are not printed: the register would hold the same line.
  EXPECT_FALSE(ViewRowDiffers(title, TDiffTable::Header, 1, "0"));

  TWorkTable& ops = bd_->tmOperators;
  Add(ops, "9", {{"operator", "Иванова"}, {"dolgn", ""}});
  Show(ops, "9");
  EXPECT_TRUE(ViewRowDiffers(ops, TDiffTable::Operators, 0, "0"));
  Show(ops, "0");
  EXPECT_TRUE(ViewRowDiffers(ops, TDiffTable::Operators, 0, "9"));
  EXPECT_TRUE(ViewRowDiffers(ops, TDiffTable::Operators, 1, "9"));  // the profile has one operator
  EXPECT_TRUE(SameRegisterText("Кассир", "Кассир"));
  EXPECT_FALSE(SameRegisterText("Кассир", "кассир"));

  TWorkTable& tax = bd_->mtTax;
  Add(tax, "9", {{"Num", "1"}, {"Type", "2"}});
  Add(tax, "9", {{"Num", "2"}, {"isDefined", "True"}, {"Type", "1"}, {"Percent", "18"}});
  Show(tax, "9");
  EXPECT_FALSE(ViewRowDiffers(tax, TDiffTable::Taxes, 0, "0"));
  EXPECT_TRUE(ViewRowDiffers(tax, TDiffTable::Taxes, 1, "0"));

  TWorkTable& fonts = bd_->mtCheckFont;
  Add(fonts, "0", {{"TitleFont", std::string(PrintFontNames[2])}, {"footerFont", ""}});
  Add(fonts, "9",
      {{"TitleFont", std::string(PrintFontNames[3])}, {"footerFont", std::string(PrintFontNames[0])}});
  Show(fonts, "9");
  EXPECT_TRUE(FontDiffers(fonts, false, "0"));
  EXPECT_FALSE(FontDiffers(fonts, true, "0"));  // an empty caption is font 0
  EXPECT_FALSE(FontDiffers(fonts, false, "8"));
  EXPECT_EQ(FontNumberOfCaption(PrintFontNames[7]), 7);
  EXPECT_EQ(FontNumberOfCaption(""), 0);
}

}  // namespace
}  // namespace zarvik
