#include "store/ProfileDiff.h"

#include <cmath>
#include <variant>

#include "model/RegisterText.h"
#include "shell/U_language.h"

namespace zarvik {

namespace {

constexpr double kRateTolerance = 1e-9;

enum class DepKind { Goods, Service, Closed };

DepKind KindOf(const std::string& status) {
  if (status == LangResStrHandler.Text(ltDepGoods)) return DepKind::Goods;
  if (status == LangResStrHandler.Text(ltDepService)) return DepKind::Service;
  return DepKind::Closed;
}

// The tax group letter a write sends; empty for none.
std::string SentTaxGroup(const std::string& group) {
  return group.size() == 1 && group[0] >= 'A' && group[0] <= 'E' ? group : std::string();
}

std::string TextOf(const WtValue& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* n = std::get_if<std::int64_t>(&v)) return std::to_string(*n);
  return {};
}

double PriceOf(const WtValue& v) {
  if (const auto* n = std::get_if<std::int64_t>(&v)) return CurrencyToDouble(Currency::FromRaw(*n));
  return 0.0;
}

// Reads the values of one row, either a row on display or a stored one.
struct TRowReader {
  const TWorkTable& table;
  int row;
  bool stored;
  const WtValue& operator()(std::string_view field) const {
    const int f = table.FieldIndex(field);
    return stored ? table.StoredValue(row, f) : table.ViewValue(row, f);
  }
};

TDepRec DepartmentOf(const TRowReader& r) {
  TDepRec d;
  d.status = TextOf(r("Status"));
  d.name = TextOf(r("Name"));
  d.taxGroup = TextOf(r("NG"));
  d.price = PriceOf(r("Price"));
  return d;
}

bool SameTax(const TRowReader& a, const TRowReader& b) {
  const auto flag = [](const WtValue& v) { return std::holds_alternative<bool>(v) && std::get<bool>(v); };
  const auto rate = [](const WtValue& v) {
    if (const auto* d = std::get_if<double>(&v)) return *d;
    return 0.0;
  };
  return flag(a("isDefined")) == flag(b("isDefined")) && TextOf(a("Name")) == TextOf(b("Name")) &&
         TextOf(a("Type")) == TextOf(b("Type")) &&
         std::fabs(rate(a("Percent")) - rate(b("Percent"))) < kRateTolerance;
}

bool SameRow(TDiffTable kind, const TRowReader& a, const TRowReader& b) {
  switch (kind) {
    case TDiffTable::Departments: return SameDepartment(DepartmentOf(a), DepartmentOf(b));
    case TDiffTable::Header:
    case TDiffTable::Footer: return SameRegisterText(TextOf(a("Caption")), TextOf(b("Caption")));
    case TDiffTable::Operators:
      return SameRegisterText(TextOf(a("operator")), TextOf(b("operator"))) &&
             SameRegisterText(TextOf(a("dolgn")), TextOf(b("dolgn")));
    case TDiffTable::Taxes: return SameTax(a, b);
  }
  return true;
}

}  // namespace

std::vector<int> ProfileRows(const TWorkTable& table, std::string_view ln) {
  std::vector<int> rows;
  const int field = table.FieldIndex("LN");
  if (field < 0) return rows;
  for (int r = 0; r < table.StoredRowCount(); ++r) {
    const WtValue& v = table.StoredValue(r, field);
    if (const auto* s = std::get_if<std::string>(&v); s != nullptr && *s == ln) rows.push_back(r);
  }
  return rows;
}

TDepRec DepartmentOfViewRow(const TWorkTable& table, int viewRow) {
  return DepartmentOf(TRowReader{table, viewRow, false});
}

TDepRec DepartmentOfStoredRow(const TWorkTable& table, int storedRow) {
  return DepartmentOf(TRowReader{table, storedRow, true});
}

bool IsOpenDepartment(const TDepRec& d) {
  return KindOf(d.status) != DepKind::Closed;
}

bool SameDepartment(const TDepRec& a, const TDepRec& b) {
  const DepKind kind = KindOf(a.status);
  if (kind != KindOf(b.status)) return false;
  // A closed department is written without name, tax group or price.
  if (kind == DepKind::Closed) return true;
  return SameRegisterText(a.name, b.name, kDepartmentNameWidth) &&
         SentTaxGroup(a.taxGroup) == SentTaxGroup(b.taxGroup) &&
         DepartmentPriceHundredths(a.price) == DepartmentPriceHundredths(b.price);
}

bool SameRegisterText(std::string_view a, std::string_view b, std::size_t width) {
  return RegisterFieldText(a, width) == RegisterFieldText(b, width);
}

bool ViewRowDiffers(const TWorkTable& table, TDiffTable kind, int viewRow, std::string_view otherLn) {
  if (otherLn.empty() || viewRow < 0 || viewRow >= table.ViewRowCount()) return false;
  const std::vector<int> other = ProfileRows(table, otherLn);
  if (other.empty()) return false;
  if (static_cast<std::size_t>(viewRow) >= other.size()) return true;
  return !SameRow(kind, TRowReader{table, viewRow, false},
                  TRowReader{table, other[static_cast<std::size_t>(viewRow)], true});
}

int FontNumberOfCaption(std::string_view caption) {
  if (caption.empty() || caption[0] < '0' || caption[0] > '9') return 0;
  return caption[0] - '0';
}

bool FontDiffers(const TWorkTable& fonts, bool footer, std::string_view otherLn) {
  if (otherLn.empty() || fonts.ViewRowCount() == 0) return false;
  const std::vector<int> other = ProfileRows(fonts, otherLn);
  if (other.empty()) return false;
  const int field = fonts.FieldIndex(footer ? "footerFont" : "TitleFont");
  return FontNumberOfCaption(TextOf(fonts.ViewValue(0, field))) !=
         FontNumberOfCaption(TextOf(fonts.StoredValue(other.front(), field)));
}

}  // namespace zarvik
