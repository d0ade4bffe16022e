// The two rules the options tab draws by: whether a value lies inside its
// interval, and whether an option differs from its comparison copy.
#pragma once

#include <cstdint>
#include <string>

#include "store/WorkTable.h"

namespace zarvik {
class TBD;
}

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

// The register's own settings (key "0") differ when stored profiles of this
// register exist and the value is not the one of the stored profile; a
// stored profile or a template differs where its value is not the
// register's. Options without a comparison entry never differ.
bool OptionDiffers(const TBD& bd, bool storedProfilesFound, const TOptionRow& row);

}  // namespace zarvik::ui
