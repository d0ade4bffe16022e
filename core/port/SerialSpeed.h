// Setting any line speed (also 14400, 56000 and 128000, which have no Bxxx
// constant) through the kernel's termios2 interface. Kept in its own unit
// because the kernel's termios header cannot share one with <termios.h>.
#pragma once

#include <cstdint>

namespace zarvik::detail {

// True when the speed was applied.
bool SetLineSpeed(int fd, std::uint32_t baud);
// The output speed the line is set to, or 0 when it cannot be read. On the
// master side of a pseudo-terminal: the speed its slave side was given.
std::uint32_t LineSpeed(int fd);

}  // namespace zarvik::detail
