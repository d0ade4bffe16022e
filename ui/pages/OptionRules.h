// The two rules the options tab draws by: whether a value lies inside its
// interval, and whether an option differs from the profile it is compared with.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "store/WorkTable.h"

namespace zarvik::ui {

// One row of the options table as the rules read it (empty numbers read 0).
struct TOptionRow {
  std::int64_t num = 0;
  std::int64_t value = 0;
  std::int64_t min = 0;
  std::int64_t max = 0;
  std::int64_t canNul = 0;  // 0 also when empty
  std::string ln;
};

// The row at view position `row` of the options table.
TOptionRow OptionViewRow(const TWorkTable& options, int row);
// The current row of the options table.
TOptionRow OptionCurrentRow(const TWorkTable& options);

// Min <= value <= Max, or value 0 where zero is allowed besides the interval.
bool OptionInInterval(const TOptionRow& row);

// Whether the option of `row` differs from the same option (by number) of
// profile `otherLn` in the options table; the comparison key is the one
// every configuration tab uses (the register's values for a stored profile,
// a backup or a template; the stored profile "Сохраненная" for the
// register's own values). Nothing differs when `otherLn` is empty or holds
// no such option.
bool OptionDiffers(const TWorkTable& options, const TOptionRow& row, std::string_view otherLn);

}  // namespace zarvik::ui
