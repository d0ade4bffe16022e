// The rows of two profiles compared table by table, as the register would
// hold them: what the configuration tabs mark as differing, and what a write
// with "только отличия" sends.
//
// Rows are matched by position (the i-th row of one profile with the i-th of
// the other), as the writes take them. Two rows are the same when writing
// either would leave the register with the same values:
// - departments: both closed (neither "Товар" nor "Услуга"), or the same
//   status, the same name as the register keeps it (22 characters without
//   the ones it cannot print), the same tax group ("A".."E", anything else
//   is none) and the same price limit in hundredths as it is sent;
// - receipt lines, operator names and positions: the same text as the
//   register keeps it (32 characters without the unprintable ones);
// - taxes (shown only, never written): the same defined mark, name, kind and
//   rate.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/U_kkms.h"
#include "store/WorkTable.h"

namespace zarvik {

// Width of the register's receipt line, operator and position fields.
inline constexpr std::size_t kRegisterTextWidth = 32;
inline constexpr std::size_t kDepartmentNameWidth = 22;

enum class TDiffTable { Departments, Header, Footer, Operators, Taxes };

// Stored row numbers (TWorkTable::StoredValue) of profile `ln`'s rows, in
// table order.
std::vector<int> ProfileRows(const TWorkTable& table, std::string_view ln);

// A department row as the department record a write fills from it.
TDepRec DepartmentOfViewRow(const TWorkTable& table, int viewRow);
TDepRec DepartmentOfStoredRow(const TWorkTable& table, int storedRow);

// Whether the department is open ("Товар" or "Услуга"): only then are its
// name, tax group and price written.
bool IsOpenDepartment(const TDepRec& d);
// Whether the register would end up with the same department / text.
bool SameDepartment(const TDepRec& a, const TDepRec& b);
bool SameRegisterText(std::string_view a, std::string_view b, std::size_t width = kRegisterTextWidth);

// Whether row `viewRow` of what `table` shows differs from the row at the
// same position of profile `otherLn` in the same table. A row without a
// counterpart differs; when `otherLn` has no rows in the table at all (or is
// empty) nothing differs: there is nothing to compare with.
bool ViewRowDiffers(const TWorkTable& table, TDiffTable kind, int viewRow, std::string_view otherLn);

// The print font number of a font caption (its first digit), 0 when none.
int FontNumberOfCaption(std::string_view caption);
// Whether the header (`footer` false) or footer font of the profile on
// display in `fonts` (mtCheckFont) differs from that of `otherLn`; false
// when either has no font row.
bool FontDiffers(const TWorkTable& fonts, bool footer, std::string_view otherLn);

}  // namespace zarvik
