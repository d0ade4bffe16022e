// The data module: default rows, the after-insert numbering, department
// status clearing, option ranges and descriptions, the option comparison
// copies, the goods coercion, and the profile and goods file definitions.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/OptionTable.h"
#include "model/U_kkms.h"
#include "shell/DiaLog.h"
#include "shell/U_language.h"
#include "store/UnitBD.h"

namespace zarvik {
namespace {

namespace fs = std::filesystem;

struct DataModule : ::testing::Test {
  void SetUp() override {
    LangResStrHandler.SetDefaults();
    SetDecimalSeparator('.');
  }
  void TearDown() override { LangResStrHandler.SetDefaults(); }

  // Text of `field` for every visible row.
  static std::vector<std::string> Column(TWorkTable& t, const char* field) {
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) out.push_back(t.Text(field));
    return out;
  }
  static std::vector<std::string> Numbers(int from, int to) {
    std::vector<std::string> out;
    for (int i = from; i <= to; ++i) out.push_back(std::to_string(i));
    return out;
  }
  // Adds a profile row and makes the per-profile tables show it.
  static void SelectNewProfile(TBD& bd, const char* name, const char* key) {
    bd.mtProfile.Append();
    bd.mtProfile.SetText("Name", name);
    bd.mtProfile.SetText("LN", key);
    bd.mtProfile.Post();
    for (TWorkTable* t : bd.ProfileTables()) {
      t->SetFilter(std::string("LN='") + key + "'");
      t->SetFiltered(false);
      t->SetFiltered(true);
    }
  }
};

TEST_F(DataModule, AFreshStartHoldsTheDefaultRows) {
  TBD bd;
  EXPECT_EQ(Column(bd.mtProfile, "Name"), (std::vector<std::string>{"Загруженая из ККМ"}));
  EXPECT_EQ(Column(bd.mtProfile, "LN"), (std::vector<std::string>{"0"}));

  EXPECT_EQ(bd.mtDepatment.RecNo(), 1);  // the cursor was left on the first row
  EXPECT_EQ(Column(bd.mtDepatment, "Num"), Numbers(1, 99));
  EXPECT_EQ(Column(bd.mtDepatment, "Status"), std::vector<std::string>(99, "Закрыто"));
  for (const char* f : {"Name", "NG", "Price"})
    EXPECT_EQ(Column(bd.mtDepatment, f), std::vector<std::string>(99, "")) << f;
  EXPECT_EQ(Column(bd.mtDepatment, "LN"), std::vector<std::string>(99, "0"));

  EXPECT_EQ(bd.tmOperators.RecNo(), 1);
  EXPECT_EQ(Column(bd.tmOperators, "Num"), Numbers(1, 8));
  EXPECT_EQ(Column(bd.tmOperators, "operator"), std::vector<std::string>(8, ""));
  EXPECT_EQ(Column(bd.tmOperators, "dolgn"), std::vector<std::string>(8, ""));
  EXPECT_EQ(Column(bd.tmOperators, "LN"), std::vector<std::string>(8, "0"));

  EXPECT_EQ(bd.mtOptions.RecNo(), 1);
  EXPECT_EQ(Column(bd.mtOptions, "num"), Numbers(1, 32));
  EXPECT_EQ(Column(bd.mtOptions, "Value"), std::vector<std::string>(32, "0"));
  EXPECT_EQ(Column(bd.mtOptions, "CanNul"), std::vector<std::string>(32, "0"));
  EXPECT_EQ(Column(bd.mtOptions, "Diapazon"), std::vector<std::string>(32, " - "));
  std::vector<std::string> descriptions;
  for (int n = 1; n <= 32; ++n) descriptions.push_back(OptionTableDescription(n));
  EXPECT_EQ(Column(bd.mtOptions, "Captions"), descriptions);
  EXPECT_EQ(Column(bd.mtOptions, "LN"), std::vector<std::string>(32, "0"));

  EXPECT_EQ(Column(bd.mtTax, "Num"), Numbers(1, 5));
  EXPECT_EQ(Column(bd.mtTax, "Type"), std::vector<std::string>(5, "2"));
  EXPECT_EQ(Column(bd.mtTax, "LN"), std::vector<std::string>(5, "0"));
  for (TWorkTable* lines : {&bd.mtTitle, &bd.mtFooter}) {
    EXPECT_EQ(Column(*lines, "Num"), Numbers(1, 6)) << lines->Name();
    EXPECT_EQ(Column(*lines, "Caption"), std::vector<std::string>(6, "")) << lines->Name();
    EXPECT_EQ(Column(*lines, "LN"), std::vector<std::string>(6, "0")) << lines->Name();
  }
  EXPECT_EQ(bd.mtCheckFont.RecordCount(), 0);
  EXPECT_EQ(bd.mtTOBAP.RecordCount(), 0);
  EXPECT_EQ(bd.registerOptionCopy, OptionCopy{});
  EXPECT_EQ(bd.profileOptionCopy, OptionCopy{});
}

TEST_F(DataModule, TablesCarryTheirLabelsWidthsFormatsAndDefaults) {
  TBD bd;
  struct Case {
    TWorkTable* table;
    const char* field;
    const char* label;
    int width;
    const char* format;
  };
  const Case cases[] = {
      {&bd.mtOptions, "num", "№", 8, ""},
      {&bd.mtOptions, "Captions", "Описание", 42, ""},
      {&bd.mtOptions, "Diapazon", "Интервал", 12, ""},
      {&bd.mtDepatment, "Num", "№Сек.", 12, ""},
      {&bd.mtDepatment, "Name", "Наименование", 27, ""},
      {&bd.mtDepatment, "Price", "Огр.Цены", 0, "#"},
      {&bd.mtTax, "Percent", "Ставка в %", 0, ""},
      {&bd.mtTitle, "Caption", "Заголовок чека", 0, ""},
      {&bd.mtFooter, "Caption", "Окончание чека", 0, ""},
      {&bd.tmOperators, "operator", "Оператор (до 20 символов)", 0, ""},
      {&bd.mtTOBAP, "Code", "Код", 5, ""},
      {&bd.mtTOBAP, "Vesovoy", "Вес.,Шт.", 10, ""},
      {&bd.mtTOBAP, "Count", "Продано", 0, "#0.000"},
  };
  for (const Case& c : cases) {
    const TWorkField* f = c.table->FindField(c.field);
    ASSERT_NE(f, nullptr) << c.field;
    EXPECT_EQ(f->Caption(), c.label) << c.field;
    EXPECT_EQ(f->displayWidth, c.width) << c.field;
    EXPECT_EQ(f->displayFormat, c.format) << c.field;
  }
  EXPECT_EQ(bd.mtOptions.FindField("Value")->alignment, TFieldAlignment::Left);
  EXPECT_EQ(bd.mtTax.FindField("LN")->size, 30);
  EXPECT_EQ(bd.mtDepatment.FindField("LN")->size, 20);
  // String widths count characters.
  bd.mtDepatment.First();
  bd.mtDepatment.Edit();
  bd.mtDepatment.SetText("Name", "Хлебобулочные изделия и прочее");
  EXPECT_EQ(bd.mtDepatment.Text("Name"), "Хлебобулочные изделия ");
  bd.mtDepatment.Cancel();
  // A new goods row gets the field defaults and nothing else.
  bd.mtTOBAP.Append();
  EXPECT_EQ(bd.mtTOBAP.Text("Type"), "170");
  EXPECT_EQ(bd.mtTOBAP.Text("Vesovoy"), "1");
  EXPECT_EQ(bd.mtTOBAP.Text("isBlock"), "False");
  for (const char* f : {"Code", "Name", "NG", "Price", "Section", "Shtrih", "Count"})
    EXPECT_TRUE(bd.mtTOBAP.IsNull(f)) << f;
}

TEST_F(DataModule, NewRowsBelongToTheProfileOnDisplayAndAreNumbered) {
  LangResStrHandler.SetText(ltDepClosed, "Closed");  // the rule uses the literal, not the language text
  TBD bd;
  EXPECT_EQ(Column(bd.mtDepatment, "Status"), std::vector<std::string>(99, "Closed"));
  SelectNewProfile(bd, "Сохраненная", "3912345678");
  for (int i = 0; i < 12; ++i) {
    bd.mtDepatment.Append();
    bd.mtDepatment.Post();
  }
  EXPECT_EQ(bd.mtDepatment.RecordCount(), 12);
  bd.mtDepatment.Append();
  EXPECT_EQ(bd.mtDepatment.Text("Num"), "13");
  EXPECT_EQ(bd.mtDepatment.Text("Status"), "Закрыто");
  EXPECT_EQ(bd.mtDepatment.Text("LN"), "3912345678");
  bd.mtDepatment.Post();
  EXPECT_EQ(Column(bd.mtDepatment, "Num"), Numbers(1, 13));

  for (int i = 0; i < 3; ++i) {
    bd.tmOperators.Append();
    bd.tmOperators.Post();
  }
  EXPECT_EQ(Column(bd.tmOperators, "Num"), Numbers(1, 3));
  EXPECT_EQ(Column(bd.tmOperators, "LN"), std::vector<std::string>(3, "3912345678"));
  // The other tables get only the key.
  for (TWorkTable* t : {&bd.mtOptions, &bd.mtTax, &bd.mtTitle, &bd.mtFooter, &bd.mtCheckFont}) {
    t->Append();
    EXPECT_EQ(t->Text("LN"), "3912345678") << t->Name();
    if (t->FieldIndex("Num") >= 0) {
      EXPECT_TRUE(t->IsNull("Num")) << t->Name();
    }
    t->Post();
  }
  // The register's rows stay as they were.
  bd.mtDepatment.SetFilter("LN='0'");
  EXPECT_EQ(bd.mtDepatment.RecordCount(), 99);
  EXPECT_EQ(bd.tmOperators.RecordCount(), 3);
}

TEST_F(DataModule, TheClosedStatusClearsNameTaxGroupAndPriceLimit) {
  TBD bd;
  TWorkTable& d = bd.mtDepatment;
  const auto fill = [&](const char* status) {
    d.Edit();
    d.SetText("Status", status);
    d.SetText("Name", "Молочный");
    d.SetText("NG", "A");
    d.SetText("Price", "1500");
    d.Post();
  };
  fill("Товар");
  d.Edit();
  d.SetText("Status", "Услуга");
  d.Post();
  EXPECT_EQ(d.Text("Name") + "|" + d.Text("NG") + "|" + d.Text("Price"), "Молочный|A|1500");
  d.Edit();
  d.SetText("Status", "Закрыто");
  EXPECT_EQ(d.Text("Name") + "|" + d.Text("NG") + "|" + d.Text("Price"), "||");
  EXPECT_TRUE(d.IsNull("Price"));
  d.Post();
  // The rule follows the language table's text 47.
  LangResStrHandler.SetText(ltDepClosed, "Closed");
  fill("Товар");
  d.Edit();
  d.SetText("Status", "Закрыто");
  EXPECT_EQ(d.Text("Name"), "Молочный");
  d.SetText("Status", "Closed");
  EXPECT_EQ(d.Text("Name") + "|" + d.Text("NG") + "|" + d.Text("Price"), "||");
}

TEST_F(DataModule, OptionRangesAndDescriptions) {
  TBD bd;
  TWorkTable& o = bd.mtOptions;
  struct Case {
    const char* min;
    const char* max;
    const char* canNul;
    const char* range;
  };
  const Case cases[] = {
      {"1", "4", "1", "0; 1 - 4"},     {"0", "4", "1", "0 - 4"},      {"1", "4", "0", "1 - 4"},
      {"1", "4", "", "1 - 4"},         {"", "", "", " - "},           {"", "", "1", "0;  - "},
      {"5", "255", "2", "0; 5 - 255"}, {"-1", "3", "1", "0; -1 - 3"},
  };
  o.First();
  for (const Case& c : cases) {
    o.Edit();
    o.SetText("Min", c.min);
    o.SetText("Max", c.max);
    o.SetText("CanNul", c.canNul);
    o.Post();
    EXPECT_EQ(o.Text("Diapazon"), c.range) << c.min << " " << c.max << " " << c.canNul;
  }

  // Descriptions: the built-in table without a register, the register's descriptor with one.
  TKKM kkm;
  bd.kkm = &kkm;
  struct Desc {
    const char* num;
    std::string withoutRegister;
    std::string withRegister;
  };
  const Desc descs[] = {
      {"1", OptionTableDescription(1), "Описание первой"},
      {"64", OptionTableDescription(64), ""},
      {"70", "", ""},
      {"0", "", ""},
      {"", "", ""},
  };
  for (const Desc& d : descs) {
    o.Edit();
    o.SetText("num", d.num);
    o.Post();
    bd.kkm = &kkm;
    kkm.info.reset();
    EXPECT_EQ(o.Text("Captions"), d.withoutRegister) << d.num;
    kkm.Info().options[0].description = "Описание первой";
    EXPECT_EQ(o.Text("Captions"), d.withRegister) << d.num;
    bd.kkm = nullptr;
    EXPECT_EQ(o.Text("Captions"), d.withoutRegister) << d.num;
  }
  EXPECT_FALSE(OptionTableDescription(1).empty());
}

TEST_F(DataModule, OnlyRegisterAndStoredProfileOptionsUpToSixtyThreeAreCopied) {
  TBD bd;
  TWorkTable& o = bd.mtOptions;
  struct Case {
    const char* ln;
    int num;
    int value;
    int registerEntry;  // expected entry `num` afterwards, -1 = copy unchanged
    int profileEntry;
  };
  const Case cases[] = {
      {"0", 5, 0x1FF, 0xFF, -1},                            // low byte of the value
      {"0", 63, 7, 7, -1},           {"0", 64, 9, -1, -1},  // option 64 is never recorded
      {"3912345678", 5, 3, -1, 3},   {"3912345678", 64, 3, -1, -1},
      {"-3912345678", 6, 4, -1, -1},                        // a template changes neither copy
      {"0", 0, 8, -1, -1},           {"0", -3, 8, -1, -1},  // outside the copies: ignored
      {"0", 1000, 8, -1, -1},
  };
  for (const Case& c : cases) {
    const OptionCopy reg = bd.registerOptionCopy;
    const OptionCopy prof = bd.profileOptionCopy;
    o.Append();
    o.SetText("LN", c.ln);
    o.SetInteger("num", c.num);
    o.SetInteger("Value", c.value);
    o.Post();
    OptionCopy wantReg = reg, wantProf = prof;
    if (c.registerEntry >= 0)
      wantReg[static_cast<std::size_t>(c.num)] = static_cast<std::uint8_t>(c.registerEntry);
    if (c.profileEntry >= 0)
      wantProf[static_cast<std::size_t>(c.num)] = static_cast<std::uint8_t>(c.profileEntry);
    EXPECT_EQ(bd.registerOptionCopy, wantReg) << c.ln << " " << c.num;
    EXPECT_EQ(bd.profileOptionCopy, wantProf) << c.ln << " " << c.num;
  }
  // Editing a posted row records again.
  o.First();
  o.Edit();
  o.SetInteger("Value", 42);
  o.Post();
  EXPECT_EQ(bd.registerOptionCopy[1], 42);
}

TEST_F(DataModule, GoodsCodesOutOfRangeBecome255WithoutAMessage) {
  TBD bd;
  TWorkTable& g = bd.mtTOBAP;
  struct Case {
    const char* type;
    const char* ng;
    const char* vesovoy;
    const char* after;
  };
  const Case cases[] = {
      {"100", "6", "3", "255|255|255"},   {"0", "0", "0", "0|0|0"},
      {"170", "5", "2", "170|5|2"},       {"165", "1", "1", "165|1|1"},
      {"160", "-1", "-1", "160|255|255"}, {"255", "255", "255", "255|255|255"},
      {"171", "", "", "255||"},  // empty fields stay empty
  };
  const std::string lastError = LastErrorMessage;
  for (const Case& c : cases) {
    g.Append();
    g.SetText("Type", c.type);
    g.SetText("NG", c.ng);
    g.SetText("Vesovoy", c.vesovoy);
    g.Post();
    EXPECT_EQ(g.Text("Type") + "|" + g.Text("NG") + "|" + g.Text("Vesovoy"), c.after) << c.type;
  }
  EXPECT_EQ(g.RecordCount(), static_cast<int>(std::size(cases)));
  EXPECT_EQ(LastErrorMessage, lastError);
}

TEST_F(DataModule, ProfileFilesAreCreatedWithTheirDefinitions) {
  const fs::path folder = fs::temp_directory_path() / ("zarvik-bd-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  TBD bd;
  const ProfileFile files[] = {ProfileFile::Profile,  ProfileFile::Options, ProfileFile::Dept,
                               ProfileFile::Tax,      ProfileFile::Check,   ProfileFile::CheckFont,
                               ProfileFile::Operators};
  for (ProfileFile f : files) {
    ASSERT_EQ(bd.OpenProfileFile(f, folder.string()), DbfResult::Ok) << bd.ProfileTable(f).LastError();
    EXPECT_TRUE(fs::exists(folder / std::string(ProfileFileName(f))));
    EXPECT_EQ(bd.ProfileTable(f).RecordCount(), 0);
  }
  EXPECT_EQ(fs::directory_iterator(folder) == fs::directory_iterator(), false);
  // Dept.dbf keeps its field order; names are found without regard to case.
  TDbfTable& dept = bd.ProfileTable(ProfileFile::Dept);
  ASSERT_EQ(dept.FieldCount(), 6);
  EXPECT_EQ(dept.Field(0).name, "OLN");
  EXPECT_EQ(dept.FieldIndex("sec"), 1);
  EXPECT_EQ(dept.FieldIndex("Ng"), 4);
  // A detail row selected by its profile key.
  for (const char* key : {"3912345678901", "391234567890"}) {
    dept.Append();
    dept.SetText("OLN", key);
    dept.SetInt("Sec", 1);
    dept.SetInt("Status", kDeptStatusGoods);
    dept.SetInt("ng", kDeptNoTaxGroup);
    dept.Post();
  }
  ASSERT_EQ(dept.Close(), DbfResult::Ok);
  ASSERT_EQ(bd.OpenProfileFile(ProfileFile::Dept, folder.string()), DbfResult::Ok);
  ASSERT_EQ(dept.SetFilter("OLN='391234567890'"), DbfResult::Ok);
  dept.SetFiltered(true);
  EXPECT_EQ(dept.RecordCount(), 1);
  std::string key;
  dept.GetText("oln", key);
  EXPECT_EQ(key, "391234567890");

  const std::vector<DbfFieldDef>& goods = GoodsExchangeFields();
  std::string names;
  for (const DbfFieldDef& f : goods) names += f.name + std::string(1, static_cast<char>(f.kind)) + " ";
  EXPECT_EQ(names, "CODEN TYPEN NAMEC NGN PRICEC SECTIONN VESOVOYN SHTRIHC ISBLOCKL COUNTC ");
  TDbfTable exchange;
  EXPECT_EQ(exchange.CreateAndOpen((folder / "goods.dbf").string(), goods), DbfResult::Ok);
  exchange.Close();
  EXPECT_EQ(exchange.Open((folder / "goods.dbf").string(), goods), DbfResult::Ok);
  for (ProfileFile f : files) bd.ProfileTable(f).Close();
  fs::remove_all(folder);
}

}  // namespace
}  // namespace zarvik
