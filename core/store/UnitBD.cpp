// The data module. A fresh start holds one profile, "Загруженая из ККМ" with
// key "0", and for it 99 closed departments, 8 empty operators, 32 options
// (not 64) with value 0, 5 taxes of type "2", 6 empty header and 6 empty
// footer lines and no font row; the goods table is empty and both option
// comparison copies are zero.
#include "store/UnitBD.h"

#include "model/OptionTable.h"
#include "model/U_kkms.h"
#include "shell/U_filedirwork.h"
#include "shell/U_language.h"

namespace zarvik {

TBD* BD = nullptr;

namespace {

using K = DbfFieldKind;
constexpr int kDbfNumberWidth = 9;

DbfFieldDef C(const char* name, int length) {
  return {name, K::Character, length, 0};
}
DbfFieldDef N(const char* name) {
  return {name, K::Numeric, kDbfNumberWidth, 0};
}
DbfFieldDef L(const char* name) {
  return {name, K::Logical, 1, 0};
}

TWorkField& Labelled(TWorkField& f, const char* label, int width = 0) {
  f.displayLabel = label;
  f.displayWidth = width;
  return f;
}

}  // namespace

std::string_view ProfileFileName(ProfileFile file) {
  switch (file) {
    case ProfileFile::Profile: return "Profile.dbf";
    case ProfileFile::Options: return "options.dbf";
    case ProfileFile::Dept: return "Dept.dbf";
    case ProfileFile::Tax: return "Tax.dbf";
    case ProfileFile::Check: return "check.dbf";
    case ProfileFile::CheckFont: return "checkFont.dbf";
    case ProfileFile::Operators: return "Operators.dbf";
  }
  return {};
}

const std::vector<DbfFieldDef>& ProfileFileFields(ProfileFile file) {
  static const std::vector<DbfFieldDef> profile = {C("NAME", 30), C("SN", 30), C("TYPEKKM", 20), C("LN", 20)};
  static const std::vector<DbfFieldDef> options = {N("NUM"), N("VAL"), C("OLN", 20)};
  static const std::vector<DbfFieldDef> dept = {C("OLN", 20),  N("Sec"), N("Status"),
                                                C("Name", 22), N("ng"),  C("Price", 30)};
  static const std::vector<DbfFieldDef> tax = {L("ISDEFINED"),   C("NAME", 12), C("TYPE", 12),
                                               C("PERCENT", 10), C("OLN", 20),  N("NUM")};
  static const std::vector<DbfFieldDef> check = {N("LINE"), C("NAME", 32), C("OLN", 20)};
  static const std::vector<DbfFieldDef> checkFont = {N("TITLEFONT"), N("FOOTERFONT"), C("OLN", 20)};
  static const std::vector<DbfFieldDef> operators = {N("LINE"), C("NAME", 32), C("DOLGN", 32), C("OLN", 20)};
  switch (file) {
    case ProfileFile::Profile: return profile;
    case ProfileFile::Options: return options;
    case ProfileFile::Dept: return dept;
    case ProfileFile::Tax: return tax;
    case ProfileFile::Check: return check;
    case ProfileFile::CheckFont: return checkFont;
    case ProfileFile::Operators: return operators;
  }
  return profile;
}

const std::vector<DbfFieldDef>& GoodsExchangeFields() {
  static const std::vector<DbfFieldDef> goods = {
      N("CODE"),    N("TYPE"),    C("NAME", 32),   N("NG"),      C("PRICE", 20),
      N("SECTION"), N("VESOVOY"), C("SHTRIH", 20), L("ISBLOCK"), C("COUNT", 20),
  };
  return goods;
}

TBD::TBD() {
  DefineTables();
  DataModuleCreate();
}

std::array<TWorkTable*, 7> TBD::ProfileTables() {
  return {&mtOptions, &mtDepatment, &mtCheckFont, &mtTax, &mtTitle, &tmOperators, &mtFooter};
}

void TBD::DefineTables() {
  using T = TFieldType;
  mtProfile.AddField("LN", T::String, 20);
  Labelled(mtProfile.AddField("Name", T::String, 30), "", 10);

  Labelled(mtOptions.AddField("num", T::Integer), "№", 8);
  TWorkField& value = Labelled(mtOptions.AddField("Value", T::Integer), "Знач.", 8);
  value.alignment = TFieldAlignment::Left;
  Labelled(mtOptions.AddField("Captions", T::CalcString, 180), "Описание", 42);
  Labelled(mtOptions.AddField("Diapazon", T::CalcString, 12), "Интервал", 12);
  mtOptions.AddField("CanNul", T::Integer);
  mtOptions.AddField("Min", T::Integer);
  mtOptions.AddField("Max", T::Integer);
  mtOptions.AddField("LN", T::String, 20);

  Labelled(mtDepatment.AddField("Num", T::Integer), "№Сек.", 12);
  Labelled(mtDepatment.AddField("Status", T::String, 10), "Статус", 12);
  Labelled(mtDepatment.AddField("Name", T::String, 22), "Наименование", 27);
  Labelled(mtDepatment.AddField("NG", T::String, 1), "НГ", 4);
  Labelled(mtDepatment.AddField("Price", T::Currency), "Огр.Цены").displayFormat = "#";
  mtDepatment.AddField("LN", T::String, 20);

  Labelled(mtTax.AddField("Num", T::Integer), "№");
  Labelled(mtTax.AddField("isDefined", T::Boolean), "Опр.");
  Labelled(mtTax.AddField("Name", T::String, 12), "Наименование");
  Labelled(mtTax.AddField("Type", T::String, 12), "Вид налога");
  Labelled(mtTax.AddField("Percent", T::Float), "Ставка в %");
  mtTax.AddField("LN", T::String, 30);

  Labelled(mtTitle.AddField("Num", T::Integer), "№");
  Labelled(mtTitle.AddField("Caption", T::String, 32), "Заголовок чека");
  mtTitle.AddField("LN", T::String, 20);
  Labelled(mtFooter.AddField("Num", T::Integer), "№");
  Labelled(mtFooter.AddField("Caption", T::String, 32), "Окончание чека");
  mtFooter.AddField("LN", T::String, 20);

  mtCheckFont.AddField("TitleFont", T::String, 50);
  mtCheckFont.AddField("footerFont", T::String, 50);
  mtCheckFont.AddField("LN", T::String, 20);

  Labelled(tmOperators.AddField("Num", T::Integer), "№");
  Labelled(tmOperators.AddField("operator", T::String, 20), "Оператор (до 20 символов)");
  Labelled(tmOperators.AddField("dolgn", T::String, 18), "Должность (до 18 символов)");
  tmOperators.AddField("LN", T::String, 20);

  Labelled(mtTOBAP.AddField("Code", T::Integer), "Код", 5);
  Labelled(mtTOBAP.AddField("Type", T::Integer), "Тип").defaultValue = std::int64_t{kGoodsTypeGoods};
  Labelled(mtTOBAP.AddField("Name", T::String, 32), "Наименование");
  Labelled(mtTOBAP.AddField("NG", T::Integer), "НГ");
  Labelled(mtTOBAP.AddField("Price", T::Currency), "Цена");
  Labelled(mtTOBAP.AddField("Section", T::Integer), "Сек.");
  Labelled(mtTOBAP.AddField("Vesovoy", T::Integer), "Вес.,Шт.", 10).defaultValue =
      std::int64_t{kGoodsSaleByPiece};
  Labelled(mtTOBAP.AddField("Shtrih", T::String, 20), "Штрих-код");
  Labelled(mtTOBAP.AddField("isBlock", T::Boolean), "Блок").defaultValue = false;
  Labelled(mtTOBAP.AddField("Count", T::Currency), "Продано").displayFormat = "#0.000";
  // One row per goods code, in code order.
  mtTOBAP.SetUniqueKey("Code");

  for (TWorkTable* t : ProfileTables()) t->afterInsert = [this](TWorkTable& x) { mtDepatmentAfterInsert(x); };
  mtDepatment.FindField("Status")->onChange = [this](TWorkTable& x, TWorkField& f) {
    mtDepatmentStatusChange(x, f);
  };
  mtOptions.onCalcFields = [this](TWorkTable& x) { mtOptionsCalcFields(x); };
  mtOptions.afterPost = [this](TWorkTable& x) { mtOptionsAfterPost(x); };
  mtTOBAP.afterInsert = [this](TWorkTable& x) { mtTOBAPAfterInsert(x); };
  mtTOBAP.beforePost = [this](TWorkTable& x) { mtTOBAPBeforePost(x); };
}

void TBD::DataModuleCreate() {
  for (TWorkTable* t : {&mtProfile, &mtOptions, &mtDepatment, &mtTax, &mtTitle, &mtFooter, &mtCheckFont,
                        &tmOperators, &mtTOBAP}) {
    t->Close();
    t->Open();
  }
  const std::string key(kRegisterProfileKey);

  mtProfile.Append();
  mtProfile.SetText("Name", kRegisterProfileName);
  mtProfile.SetText("LN", key);
  mtProfile.Post();

  for (int i = 1; i <= kDefaultDepartmentRows; ++i) {
    mtDepatment.Append();
    mtDepatment.SetText("LN", key);
    mtDepatment.SetInteger("Num", i);
    mtDepatment.SetText("Status", LangResStrHandler.Text(ltDepClosed));
    mtDepatment.Post();
  }
  mtDepatment.First();

  for (int i = 1; i <= kDefaultOperatorRows; ++i) {
    tmOperators.Append();
    tmOperators.SetText("LN", key);
    tmOperators.Post();
  }
  tmOperators.First();

  for (int k = 1; k <= kDefaultOptionRows; ++k) {
    mtOptions.Append();
    mtOptions.SetText("LN", key);
    mtOptions.SetInteger("num", k);
    mtOptions.SetInteger("Value", 0);
    mtOptions.SetInteger("CanNul", 0);
    mtOptions.Post();
  }
  mtOptions.First();

  for (int i = 1; i <= kDefaultTaxRows; ++i) {
    mtTax.Append();
    mtTax.SetInteger("Num", i);
    mtTax.SetText("Type", kNewTaxType);
    mtTax.SetText("LN", key);
    mtTax.Post();
  }

  for (TWorkTable* lines : {&mtTitle, &mtFooter}) {
    for (int i = 1; i <= kDefaultReceiptLines; ++i) {
      lines->Append();
      lines->SetInteger("Num", i);
      lines->SetText("LN", key);
      lines->Post();
    }
  }

  registerOptionCopy.fill(0);
  profileOptionCopy.fill(0);
}

DbfResult TBD::OpenProfileFile(ProfileFile file, const std::string& folder) {
  return ProfileTable(file).OpenOrCreate(JoinPath(folder, std::string(ProfileFileName(file))),
                                         ProfileFileFields(file));
}

void TBD::mtDepatmentAfterInsert(TWorkTable& table) {
  table.SetText("LN", mtProfile.Text("LN"));
  if (&table == &mtDepatment) {
    table.SetInteger("Num", table.RecordCount() + 1);
    table.SetText("Status", kClosedStatusLiteral);
  } else if (&table == &tmOperators) {
    table.SetInteger("Num", table.RecordCount() + 1);
  }
}

void TBD::mtDepatmentStatusChange(TWorkTable& table, TWorkField& field) {
  if (table.Text(field.name) != LangResStrHandler.Text(ltDepClosed)) return;
  table.SetNull("Name");
  table.SetNull("NG");
  table.SetNull("Price");
}

void TBD::mtOptionsCalcFields(TWorkTable& table) {
  table.SetText("Diapazon", "0 - 0");
  std::int64_t num = 0;
  const bool haveNum = table.GetInteger("num", num) == WtResult::Ok && !table.IsNull("num");
  if (kkm != nullptr && kkm->info) {
    if (haveNum && num >= 1 && num <= kOptionSlotCount)
      table.SetText("Captions", kkm->info->OptionDescription(static_cast<int>(num)));
  } else if (haveNum && num >= 1 && num <= kOptionSlotCount) {
    table.SetText("Captions", OptionTableDescription(static_cast<int>(num)));
  }
  const std::string min = table.Text("Min");
  std::string range = min + " - " + table.Text("Max");
  if (!table.IsNull("CanNul") && table.Int("CanNul") != 0 && min != "0") range = "0; " + range;
  table.SetText("Diapazon", range);
}

void TBD::mtOptionsAfterPost(TWorkTable& table) {
  const std::int64_t num = table.Int("num");
  // Entry 0 is not used and option 64 has no entry; other numbers would fall
  // outside the copies, so only 1..63 are recorded.
  if (num < 1 || num >= kOptionCopySize) return;
  const auto value = static_cast<std::uint8_t>(table.Int("Value") & 0xFF);
  const std::string ln = table.Text("LN");
  if (ln == kRegisterProfileKey)
    registerOptionCopy[static_cast<std::size_t>(num)] = value;
  else if (ln.rfind(kTemplateKeyPrefix, 0) != 0)
    profileOptionCopy[static_cast<std::size_t>(num)] = value;
}

void TBD::mtTOBAPAfterInsert(TWorkTable&) {}

void TBD::mtTOBAPBeforePost(TWorkTable& table) {
  const std::int64_t type = table.Int("Type");
  if (type != kGoodsTypeNone && type != kGoodsTypeGoods && type != kGoodsTypeContainer &&
      type != kGoodsTypeService)
    table.SetInteger("Type", kGoodsInvalid);
  const std::int64_t ng = table.Int("NG");
  if (ng < 0 || ng > kGoodsHighestTaxGroup) table.SetInteger("NG", kGoodsInvalid);
  const std::int64_t vesovoy = table.Int("Vesovoy");
  if (vesovoy < 0 || vesovoy > kGoodsHighestSaleKind) table.SetInteger("Vesovoy", kGoodsInvalid);
}

}  // namespace zarvik
