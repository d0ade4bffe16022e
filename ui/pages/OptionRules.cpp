#include "OptionRules.h"

#include <variant>

#include "store/ProfileDiff.h"
#include "store/UnitBD.h"

namespace zarvik::ui {

namespace {

std::int64_t NumberOf(const WtValue& v) {
  if (const auto* n = std::get_if<std::int64_t>(&v)) return *n;
  return 0;
}

}  // namespace

TOptionRow OptionViewRow(const TWorkTable& options, int row) {
  TOptionRow r;
  const auto field = [&](const char* name) -> const WtValue& {
    return options.ViewValue(row, options.FieldIndex(name));
  };
  r.num = NumberOf(field("num"));
  r.value = NumberOf(field("Value"));
  r.min = NumberOf(field("Min"));
  r.max = NumberOf(field("Max"));
  r.canNul = NumberOf(field("CanNul"));
  if (const auto* s = std::get_if<std::string>(&field("LN"))) r.ln = *s;
  return r;
}

TOptionRow OptionCurrentRow(const TWorkTable& options) {
  TOptionRow r;
  r.num = options.Int("num");
  r.value = options.Int("Value");
  r.min = options.Int("Min");
  r.max = options.Int("Max");
  r.canNul = options.Int("CanNul");
  r.ln = options.Text("LN");
  return r;
}

bool OptionInInterval(const TOptionRow& row) {
  if (row.min <= row.value && row.value <= row.max) return true;
  return row.value == 0 && row.canNul != 0;
}

bool OptionDiffers(const TWorkTable& options, const TOptionRow& row, std::string_view otherLn) {
  if (otherLn.empty() || row.ln == otherLn) return false;
  const int num = options.FieldIndex("num");
  const int value = options.FieldIndex("Value");
  for (const int r : ProfileRows(options, otherLn))
    if (NumberOf(options.StoredValue(r, num)) == row.num) return NumberOf(options.StoredValue(r, value)) != row.value;
  return false;  // the other profile has no such option: nothing to compare with
}

}  // namespace zarvik::ui
