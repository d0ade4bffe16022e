// Which device stands for port number n.
//
// Ports are known by number (1..256). The device of port n is, first found:
//   1. an entry made by this process (SetPortDevice; the tests and an
//      in-process simulator use it),
//   2. the key "COM<n>" of the section "Devices" of ZarvikConfig.ini in the
//      current directory (for example COM5=/dev/serial/by-id/usb-...),
//   3. the built-in default: COM1..COM32 are /dev/ttyS0..ttyS31 (the built-in
//      serial ports), COM33..COM48 are /dev/ttyUSB0..ttyUSB15 (USB serial
//      adapters) and COM49..COM64 are /dev/ttyACM0..ttyACM15 (USB modems and
//      CDC devices); ports 65..256 have no default device.
// A device may also be a serial device server on the network:
// COM7=rfc2217://shop12:3001 or COM7=tcp://shop12:3002 (port/NetLine.h).
#pragma once

#include <array>
#include <string>

namespace zarvik {

inline constexpr int kMinPortNumber = 1;
inline constexpr int kMaxPortNumber = 256;
inline constexpr const char* kDevicesSection = "Devices";

// The built-in default device of port n, or "" when it has none.
std::string DefaultPortDevice(int n);
// The device of port n as described above, or "" when it has none.
std::string PortDevicePath(int n);
// All 256 device paths at once (index = port number; index 0 unused), reading
// ZarvikConfig.ini once.
std::array<std::string, kMaxPortNumber + 1> PortDeviceTable();
// Sets (or, with an empty path, removes) this process's own entry for port n.
void SetPortDevice(int n, const std::string& path);

// The key of port n in the section "Devices": "COM" + n.
std::string PortKey(int n);

// A network port's round trip as the user states it: "COM<n>.Latency" in the
// section "Devices" (ms, 0..kMaxPortLatencyMs), or this process's own entry
// (SetPortLatency). -1 when none is given, so that it is measured.
inline constexpr int kMaxPortLatencyMs = 5000;
int PortLatencySetting(int n);
// Sets (or, with -1, removes) this process's own latency entry for port n.
void SetPortLatency(int n, int ms);

}  // namespace zarvik
