#include "OptionRules.h"

#include <variant>

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

bool OptionDiffers(const TBD& bd, bool storedProfilesFound, const TOptionRow& row) {
  if (row.num < 1 || row.num >= kOptionCopySize) return false;
  const auto slot = static_cast<std::size_t>(row.num);
  if (row.ln == kRegisterProfileKey) return storedProfilesFound && row.value != bd.profileOptionCopy[slot];
  return row.value != bd.registerOptionCopy[slot];
}

}  // namespace zarvik::ui
