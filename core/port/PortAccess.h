// Opening a serial device the way every port of the program opens it: read
// and write, no controlling terminal, non-blocking, and an exclusive lock
// (flock) that tells another holder even when both run as root. Shared by
// the port itself and by the port table.
#pragma once

#include <string>

namespace zarvik::detail {

enum class OpenOutcome {
  Opened,    // fd holds the device, locked
  Missing,   // no node, or a node with no hardware behind it
  Busy,      // another open holds it (lock or exclusive mode), or another refusal
  NoAccess,  // the user may not open it (its mode or folder denies access)
};

// `error` is the errno of the failed call (0 when opened).
OpenOutcome OpenDevice(const std::string& path, int& fd, int& error);
// Releases the lock and the exclusive mode and closes.
void CloseDevice(int fd);
// Whether an open device is a terminal (a serial line or a pseudo-terminal);
// `error` as above.
bool IsSerialDevice(int fd, int& error);

}  // namespace zarvik::detail
