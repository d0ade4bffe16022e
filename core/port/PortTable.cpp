#include "port/PortTable.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "port/NetLine.h"
#include "port/NetSecurity.h"
#include "port/PortAccess.h"
#include "port/PortDevices.h"

namespace zarvik {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUsualSerialGroup = "dialout";
constexpr std::size_t kGroupBufferSize = 4096;

// The node a path stands for, links followed; the path itself when it
// cannot be resolved (a missing device, a folder the user may not enter).
std::string NodeOf(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  const fs::path real = fs::canonical(path, ec);
  return ec ? path : real.string();
}

// node -> by-id name, for every link of the by-id folder.
std::map<std::string, std::string> ByIdNames(const std::string& folder) {
  std::map<std::string, std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code rc;
    const fs::path real = fs::canonical(it->path(), rc);
    if (!rc) names.emplace(real.string(), it->path().filename().string());
  }
  return names;
}

// A probe of a network line waits less for the connection than an open:
// the port lists probe every mapped server each time they are filled.
constexpr TNetWaits kProbeWaits{std::chrono::milliseconds{2000}, std::chrono::milliseconds{2000},
                                std::chrono::milliseconds{150}, std::chrono::milliseconds{500},
                                std::chrono::milliseconds{3000}};

TPortEntry ProbeNetwork(int n, const std::string& device) {
  TPortEntry e;
  e.number = n;
  e.device = device;
  e.node = device;
  TNetAddress address;
  if (!ParseNetDevice(device, address)) {
    e.state = TPortState::Refused;
    e.systemText = "not a network address (rfc2217://HOST:PORT or tcp://HOST:PORT, +tls for TLS)";
    return e;
  }
  e.secure = address.tls;
  TNetSecurity security;
  if (address.tls) {
    security = PortSecurity(n);
    if (std::string why = CheckSecurityFiles(PortKey(n), security); !why.empty()) {
      e.state = TPortState::Refused;
      e.systemText = std::move(why);
      return e;
    }
  }
  TNetLine line;
  // Speed 0: the remote line is left as it is.
  const bool opened = line.Open(address, 0, kProbeWaits, security);
  if (line.ServerVerified()) {
    e.certName = line.ServerCertificate().name;
    e.certExpiry = line.ServerCertificate().expiry;
  }
  // No password is asked for a list: a server that has shown a good
  // certificate and wants the password is reachable.
  const bool awaitsPassword =
      security.UsesPassword() && line.ServerVerified() && line.Failure() == TNetFailure::AuthRefused;
  if (opened || awaitsPassword) {
    e.state = TPortState::Free;
    line.Close();
    return e;
  }
  e.state = line.Failure() == TNetFailure::Busy ? TPortState::Busy : TPortState::Refused;
  e.systemText = line.FailureText();
  return e;
}

TPortEntry Probe(int n, const std::string& device, const std::map<std::string, std::string>& byId) {
  if (IsNetDevice(device)) return ProbeNetwork(n, device);
  TPortEntry e;
  e.number = n;
  e.device = device;
  e.node = NodeOf(device);
  if (const auto it = byId.find(e.node); it != byId.end()) e.byId = it->second;
  int fd = -1;
  int error = 0;
  switch (detail::OpenDevice(device, fd, error)) {
    case detail::OpenOutcome::Missing: e.state = TPortState::Missing; break;
    case detail::OpenOutcome::Busy: e.state = TPortState::Busy; break;
    case detail::OpenOutcome::NoAccess:
      e.state = TPortState::NoAccess;
      e.group = DeviceAccessGroup(device);
      break;
    case detail::OpenOutcome::Opened:
      e.state = detail::IsSerialDevice(fd, error) ? TPortState::Free : TPortState::NotSerial;
      detail::CloseDevice(fd);
      break;
  }
  if (error != 0 && e.state != TPortState::Free) e.systemText = std::strerror(error);
  return e;
}

}  // namespace

std::string DeviceAccessGroup(const std::string& device) {
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0) return kUsualSerialGroup;
  const bool groupMayUse = (st.st_mode & S_IRGRP) != 0 && (st.st_mode & S_IWGRP) != 0;
  if (!groupMayUse || st.st_gid == 0) return kUsualSerialGroup;
  group g{};
  group* found = nullptr;
  char buffer[kGroupBufferSize];
  if (::getgrgid_r(st.st_gid, &g, buffer, sizeof buffer, &found) != 0 || found == nullptr)
    return kUsualSerialGroup;
  return found->gr_name;
}

TPortEntry ProbePort(int n, const std::string& byIdFolder) {
  return Probe(n, PortDevicePath(n), ByIdNames(byIdFolder));
}

std::vector<TPortEntry> PortTable(bool withMissing, const std::string& byIdFolder) {
  const auto devices = PortDeviceTable();
  const auto byId = ByIdNames(byIdFolder);
  std::vector<TPortEntry> table;
  for (int n = kMinPortNumber; n <= kMaxPortNumber; ++n) {
    const std::string& device = devices[static_cast<std::size_t>(n)];
    if (device.empty()) continue;
    TPortEntry e = Probe(n, device, byId);
    // A default device that is not there is no news; a mapped one is.
    const bool mapped = device != DefaultPortDevice(n);
    if (e.state != TPortState::Missing || (withMissing && mapped)) table.push_back(std::move(e));
  }
  return table;
}

std::string PortStateMark(TPortState state) {
  switch (state) {
    case TPortState::Free: return {};
    case TPortState::Busy: return "BUSY";
    case TPortState::NoAccess: return "NO ACCESS";
    case TPortState::NotSerial: return "NOT SERIAL";
    case TPortState::Missing: return "MISSING";
    case TPortState::Refused: return "REFUSED";
  }
  return {};
}

std::string PortListItem(const TPortEntry& entry) {
  const std::string mark = PortStateMark(entry.state);
  return "COM" + std::to_string(entry.number) + (mark.empty() ? "" : "  " + mark);
}

std::string NoAccessRemedy(const std::string& group) {
  return "добавьте пользователя в группу " + group + " (sudo usermod -aG " + group +
         " $USER) и войдите в систему заново";
}

std::string AllPortsDeniedText(const std::vector<TPortEntry>& table) {
  if (table.empty()) return {};
  for (const TPortEntry& e : table)
    if (e.state != TPortState::NoAccess) return {};
  const std::string group = table.front().group.empty() ? kUsualSerialGroup : table.front().group;
  return "все порты NO ACCESS: у пользователя нет прав на последовательные порты; " + NoAccessRemedy(group);
}

std::string PortStateText(const TPortEntry& entry) {
  const bool network = IsNetDevice(entry.device);
  TNetAddress address;
  const std::string where = ParseNetDevice(entry.device, address) ? address.HostPort() : entry.device;
  switch (entry.state) {
    case TPortState::Free:
      if (!network) return "свободен";
      if (!entry.secure) return "доступен по сети, без защиты";
      return "доступен по сети, TLS: " + entry.certName + ", до " + entry.certExpiry;
    case TPortState::Busy:
      return network ? "BUSY: " + where + " обслуживает другого клиента" : "BUSY: занят другой программой";
    case TPortState::Refused: return "REFUSED: нет соединения с " + where + ": " + entry.systemText;
    case TPortState::NoAccess:
      return "NO ACCESS: нет прав на " + entry.device + "; " +
             NoAccessRemedy(entry.group.empty() ? kUsualSerialGroup : entry.group);
    case TPortState::NotSerial: return "NOT SERIAL: " + entry.device + " не последовательный порт";
    case TPortState::Missing: return "MISSING: нет устройства " + entry.device;
  }
  return {};
}

std::string PortDescription(const TPortEntry& entry) {
  std::string text = "COM" + std::to_string(entry.number) + ": " + entry.device;
  if (entry.node != entry.device) text += " -> " + entry.node;
  if (!entry.byId.empty()) text += "\nby-id: " + entry.byId;
  text += "\n" + PortStateText(entry);
  return text;
}

}  // namespace zarvik
