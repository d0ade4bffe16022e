#include "port/PortDevices.h"

#include <charconv>
#include <map>
#include <mutex>

#include "shell/IniFile.h"
#include "shell/ProjectsVars.h"

namespace zarvik {
namespace {

constexpr int kSerialFirst = 1;    // COM1 = ttyS0
constexpr int kSerialCount = 32;
constexpr int kUsbFirst = 33;      // COM33 = ttyUSB0
constexpr int kUsbCount = 16;
constexpr int kAcmFirst = 49;      // COM49 = ttyACM0
constexpr int kAcmCount = 16;

std::mutex g_mutex;
std::map<int, std::string>& Overrides() {
  static std::map<int, std::string> map;
  return map;
}

std::map<int, int>& LatencyOverrides() {
  static std::map<int, int> map;
  return map;
}

}  // namespace

std::string PortKey(int n) { return "COM" + std::to_string(n); }

std::string DefaultPortDevice(int n) {
  if (n >= kSerialFirst && n < kSerialFirst + kSerialCount) {
    return "/dev/ttyS" + std::to_string(n - kSerialFirst);
  }
  if (n >= kUsbFirst && n < kUsbFirst + kUsbCount) return "/dev/ttyUSB" + std::to_string(n - kUsbFirst);
  if (n >= kAcmFirst && n < kAcmFirst + kAcmCount) return "/dev/ttyACM" + std::to_string(n - kAcmFirst);
  return {};
}

std::array<std::string, kMaxPortNumber + 1> PortDeviceTable() {
  std::array<std::string, kMaxPortNumber + 1> table;
  const TIniFile ini(ProgramIniPath());
  std::lock_guard lock(g_mutex);
  for (int n = kMinPortNumber; n <= kMaxPortNumber; ++n) {
    const auto idx = static_cast<std::size_t>(n);
    if (auto it = Overrides().find(n); it != Overrides().end()) {
      table[idx] = it->second;
    } else {
      table[idx] = ini.ReadString(kDevicesSection, PortKey(n), DefaultPortDevice(n));
    }
  }
  return table;
}

std::string PortDevicePath(int n) {
  if (n < kMinPortNumber || n > kMaxPortNumber) return {};
  {
    std::lock_guard lock(g_mutex);
    if (auto it = Overrides().find(n); it != Overrides().end()) return it->second;
  }
  const TIniFile ini(ProgramIniPath());
  return ini.ReadString(kDevicesSection, PortKey(n), DefaultPortDevice(n));
}

void SetPortDevice(int n, const std::string& path) {
  std::lock_guard lock(g_mutex);
  if (path.empty()) {
    Overrides().erase(n);
  } else {
    Overrides()[n] = path;
  }
}

int PortLatencySetting(int n) {
  if (n < kMinPortNumber || n > kMaxPortNumber) return -1;
  {
    std::lock_guard lock(g_mutex);
    if (auto it = LatencyOverrides().find(n); it != LatencyOverrides().end()) return it->second;
  }
  const TIniFile ini(ProgramIniPath());
  const std::string text = ini.ReadString(kDevicesSection, PortKey(n) + ".Latency", "");
  int ms = -1;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), ms);
  if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || ms < 0 || ms > kMaxPortLatencyMs)
    return -1;
  return ms;
}

void SetPortLatency(int n, int ms) {
  std::lock_guard lock(g_mutex);
  if (ms < 0) {
    LatencyOverrides().erase(n);
  } else {
    LatencyOverrides()[n] = ms;
  }
}

}  // namespace zarvik
