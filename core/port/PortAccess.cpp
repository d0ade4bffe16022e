#include "port/PortAccess.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace zarvik::detail {

OpenOutcome OpenDevice(const std::string& path, int& fd, int& error) {
  fd = -1;
  error = 0;
  if (path.empty()) {
    error = ENOENT;
    return OpenOutcome::Missing;
  }
  const int h = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (h < 0) {
    error = errno;
    switch (error) {
      // Unused ttyS nodes answer EIO: the node is there, the hardware is not.
      case ENOENT:
      case ENXIO:
      case ENODEV:
      case EIO:
      case ENOTDIR: return OpenOutcome::Missing;
      case EACCES:
      case EPERM: return OpenOutcome::NoAccess;
      default: return OpenOutcome::Busy;
    }
  }
  // The kernel's exclusive-open flag alone is not enough: root ignores it.
  if (::flock(h, LOCK_EX | LOCK_NB) != 0) {
    error = errno;
    ::close(h);
    return OpenOutcome::Busy;
  }
  // Keeps other non-root processes out as well; not every device has it.
  ::ioctl(h, TIOCEXCL);
  fd = h;
  return OpenOutcome::Opened;
}

void CloseDevice(int fd) {
  if (fd < 0) return;
  ::ioctl(fd, TIOCNXCL);
  ::flock(fd, LOCK_UN);
  ::close(fd);
}

bool IsSerialDevice(int fd, int& error) {
  termios tio{};
  if (::tcgetattr(fd, &tio) == 0) {
    error = 0;
    return true;
  }
  error = errno;
  return false;
}

}  // namespace zarvik::detail
