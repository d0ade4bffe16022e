#include "port/SerialSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace zarvik::detail {

bool SetLineSpeed(int fd, std::uint32_t baud) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
  tio.c_cflag |= BOTHER;
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD << IBSHIFT);
  tio.c_cflag |= static_cast<tcflag_t>(BOTHER) << IBSHIFT;
  tio.c_ispeed = baud;
  tio.c_ospeed = baud;
  return ioctl(fd, TCSETS2, &tio) == 0;
}

std::uint32_t LineSpeed(int fd) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
  return tio.c_ospeed;
}

}  // namespace zarvik::detail
