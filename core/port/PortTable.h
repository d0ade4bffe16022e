// The serial ports as the machine has them: for each port number the device
// behind it, the stable name /dev/serial/by-id gives that device (USB
// adapters keep it whichever ttyUSBn they get), and whether the program can
// use the port now: free, held by another program, refused for lack of
// permission, or not a serial device at all.
//
// The port lists of the window and `zarvikctl ports` show this table; a port
// list entry keeps the form "COMn" or "COMn" + two blanks + a mark, so that
// its characters 4 to 6 still give the port number.
#pragma once

#include <string>
#include <vector>

namespace zarvik {

inline constexpr const char* kSerialByIdFolder = "/dev/serial/by-id";

enum class TPortState {
  Free,       // opens and is a serial line
  Busy,       // another program (or another open of this one) holds it
  NoAccess,   // the user may not open it
  NotSerial,  // opens, but is no terminal (a plain file, /dev/null, ...)
  Missing,    // no device
  Refused,    // a network line whose server cannot be reached (refused,
              // unknown name, no route): systemText says why
};

struct TPortEntry {
  int number = 0;
  std::string device;  // the mapped path (port/PortDevices.h)
  std::string node;    // the node it resolves to (links followed); = device when unresolvable
  std::string byId;    // the name in the by-id folder standing for the node, or ""
  TPortState state = TPortState::Missing;
  std::string systemText;  // the system's text for a refused open, or ""
  std::string group;       // NoAccess: the group whose members may use the device
  // A network line: whether it is secure (TLS), and the name and end of
  // validity of the server's certificate as the probe saw it.
  bool secure = false;
  std::string certName;
  std::string certExpiry;
};

// The state of port n now (its device opened and closed again at once; a
// network line is connected to and closed again: Free when reachable, Busy
// when the server serves another client, Refused otherwise). A secure line
// is Free once its server's certificate has passed every check and the
// client has been let in; one with password authentication is not asked
// for its password here: a verified server is enough.
TPortEntry ProbePort(int n, const std::string& byIdFolder = kSerialByIdFolder);
// Ports 1..256 in order: those whose device exists (the port lists), and
// with `withMissing` also those mapped to a device of their own (section
// "Devices", SetPortDevice) that is not there.
std::vector<TPortEntry> PortTable(bool withMissing = false,
                                  const std::string& byIdFolder = kSerialByIdFolder);

// The port list entry: "COM3", "COM3  BUSY", "COM3  NO ACCESS",
// "COM3  NOT SERIAL", "COM3  MISSING", "COM3  REFUSED".
std::string PortListItem(const TPortEntry& entry);
// The mark behind the name ("" for a free port).
std::string PortStateMark(TPortState state);
// What the state means for the user, with the remedy where there is one:
// "свободен", "BUSY: занят другой программой", "NO ACCESS: нет прав ...";
// a network line says whether it is secure: "доступен по сети, TLS:
// shop12, до 2027-03-01" or "доступен по сети, без защиты".
std::string PortStateText(const TPortEntry& entry);
// The usual remedy for a device the user may not open.
std::string NoAccessRemedy(const std::string& group);
// When the table lists ports and the user may open none of them: the
// warning that says so, with the remedy (membership of the device's group);
// otherwise "".
std::string AllPortsDeniedText(const std::vector<TPortEntry>& table);
// The group to name for a device the user may not open: its own group when
// that group may read and write it, otherwise "dialout".
std::string DeviceAccessGroup(const std::string& device);
// Name, device, by-id name and state on one line each (tooltips, the
// accessible description of a list entry).
std::string PortDescription(const TPortEntry& entry);

}  // namespace zarvik
