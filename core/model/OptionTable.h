// The program's own table of the register's 64 option slots: interval,
// default, whether 0 is allowed besides the interval, and the description.
// Used wherever no model descriptor of the connected register says otherwise.
// Fixed data; nothing writes to it.
#pragma once

#include <cstdint>
#include <string>

namespace zarvik {

inline constexpr int kOptionSlotCount = 64;

struct TOptionTableRow {
  std::int32_t Min;
  std::int32_t Max;
  std::int32_t Default;
  std::int32_t ZeroAllowed;  // 0 = no
  const char* Description;   // UTF-8; nullptr for a row without any description
};

// Row of option n, 1 <= n <= 64; nullptr for any other number.
const TOptionTableRow* OptionTableRow(int n);
// Description of option n; an empty text for rows without one and for numbers
// outside 1..64.
std::string OptionTableDescription(int n);

}  // namespace zarvik
