#include "port/Comport.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <string_view>

#include "port/NetLine.h"
#include "port/NetSecurity.h"
#include "port/PortAccess.h"
#include "port/PortDevices.h"
#include "port/PortTable.h"
#include "port/SerialSpeed.h"
#include "shell/DiaLog.h"
#include "shell/IniFile.h"

namespace zarvik {
namespace {

using Clock = std::chrono::steady_clock;

// A plain line to another machine is said once a session (per device): its
// traffic can be read and changed on the way.
void WarnPlainLine(const std::string& which, const TNetAddress& address) {
  if (IsLoopbackHost(address.host)) return;
  static std::mutex mutex;
  static std::set<std::string> warned;
  {
    std::lock_guard lock(mutex);
    if (!warned.insert(address.Device()).second) return;
  }
  Warning("линия не защищена: " + which + " (" + address.Device() +
              ") передаёт команды и данные ККМ по сети открытым текстом; защищённая линия: " +
              (address.mode == TNetMode::Rfc2217 ? kRfc2217TlsScheme : kRawTcpTlsScheme) + address.HostPort(),
          false, true, true);
}

constexpr std::array<std::uint32_t, 10> kAllowedRates = {2400,  4800,  9600,  14400,  19200,
                                                         38400, 56000, 57600, 115200, 128000};
constexpr std::size_t kMaxSystemErrorText = 1000;
constexpr std::uint32_t kNoTimeout = 0xFFFFFFFFu;  // MAXDWORD as an interval time-out

int g_lastErrno = 0;

void RememberErrno() {
  g_lastErrno = errno;
}

std::string HexBytes(const std::uint8_t* p, std::size_t n) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(n * 3);
  for (std::size_t i = 0; i < n; ++i) {
    if (i != 0) s.push_back(' ');
    s.push_back(kDigits[p[i] >> 4]);
    s.push_back(kDigits[p[i] & 0x0F]);
  }
  return s;
}

// Line errors counted by the driver. The driver keeps totals since boot, so
// "pending" means counted since this process last closed the same device;
// a driver without counters (pseudo-terminals) has none pending.
struct LineCounts {
  int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};
std::map<std::string, LineCounts>& SeenCounts() {
  static std::map<std::string, LineCounts> seen;
  return seen;
}

// -1 when the driver has counters but they cannot be read; otherwise the flags.
int TakeLineErrors(int fd, const std::string& device) {
  serial_icounter_struct ic{};
  if (::ioctl(fd, TIOCGICOUNT, &ic) != 0) {
    if (errno == ENOTTY || errno == EINVAL) return 0;
    RememberErrno();
    return -1;
  }
  const LineCounts now{ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
  auto [it, first] = SeenCounts().try_emplace(device, now);
  if (first) return 0;
  const LineCounts before = it->second;
  it->second = now;
  int flags = 0;
  if (now.overrun != before.overrun || now.bufOverrun != before.bufOverrun) flags |= kLineErrorOverrun;
  if (now.parity != before.parity) flags |= kLineErrorParity;
  if (now.frame != before.frame) flags |= kLineErrorFrame;
  if (now.brk != before.brk) flags |= kLineErrorBreak;
  return flags;
}

void RememberLineCounts(int fd, const std::string& device) {
  serial_icounter_struct ic{};
  if (::ioctl(fd, TIOCGICOUNT, &ic) == 0) {
    SeenCounts()[device] = LineCounts{ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
  }
}

int MillisUntil(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  // Rounded up, so poll never returns a hair before the deadline.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<long long>(ms, 1'000'000'000));
}

// The INI rule: a name whose second character is ":" (a drive) or that is
// absolute is used as it is; anything else is taken from the current folder.
std::string ResolveIniName(const std::string& name) {
  if (name.size() >= 2 && name[1] == ':') return name;
  if (std::filesystem::path(name).is_absolute()) return name;
  std::error_code ec;
  return (std::filesystem::current_path(ec) / name).string();
}

}  // namespace

bool IsAllowedBaudRate(std::uint32_t rate) {
  return std::find(kAllowedRates.begin(), kAllowedRates.end(), rate) != kAllowedRates.end();
}

std::string SystemErrorText() {
  const int e = g_lastErrno != 0 ? g_lastErrno : errno;
  std::string text = std::strerror(e);
  if (text.size() > kMaxSystemErrorText) text.resize(kMaxSystemErrorText);
  return text;
}

TComPort::TComPort() = default;

TComPort::~TComPort() {
  CloseHandle();
}

bool TComPort::SetPortNumber(int n) {
  if (n < kMinPortNumber || n > kMaxPortNumber) return false;
  portNumber_ = n;
  return true;
}

bool TComPort::SetBaudRate(std::uint32_t rate) {
  if (!IsAllowedBaudRate(rate)) return false;
  Close();
  baudRate_ = rate;
  return true;
}

std::string TComPort::PortName() const {
  return "\\\\.\\COM" + std::to_string(portNumber_);
}

std::string TComPort::DevicePath() const {
  return PortDevicePath(portNumber_);
}

bool TComPort::Open() {
  MT(PortName() + " " + std::to_string(baudRate_), mdHardWare);
  if (IsOpen()) return true;
  MT("init COM", mdHardWare);
  const std::string device = DevicePath();
  if (IsNetDevice(device)) return OpenNetwork(device);
  int fd = -1;
  int error = 0;
  const detail::OpenOutcome outcome = detail::OpenDevice(device, fd, error);
  if (outcome != detail::OpenOutcome::Opened) {
    errno = error;
    RememberErrno();
  }
  // Which port and device failed goes in a line of its own before the
  // system's message.
  const std::string which = "COM" + std::to_string(portNumber_);
  switch (outcome) {
    case detail::OpenOutcome::Missing:
      if (device.empty()) {
        Error(which + ": no device stands for this port number (name one as " + PortKey(portNumber_) +
                  "=/dev/... in the section \"" + kDevicesSection + "\" of ZarvikConfig.ini)",
              false, true, true);
      } else {
        Error(which + " (" + device + "): " + SystemErrorText(), false, true, true);
      }
      Error("Selected СОМ-port inaccessible!(file not found)", false, true, true);
      return false;
    case detail::OpenOutcome::NoAccess:
      Error(which + " (" + device + "): " + SystemErrorText() + "; " +
                NoAccessRemedy(DeviceAccessGroup(device)),
            false, true, true);
      Error("Selected СОМ-port busy!", false, true, true);
      return false;
    case detail::OpenOutcome::Busy:
      Error(which + " (" + device + "): " + SystemErrorText() + "; another program may hold it", false, true,
            true);
      Error("Selected СОМ-port busy!", false, true, true);
      return false;
    case detail::OpenOutcome::Opened: break;
  }
  fd_ = fd;
  openDevice_ = device;
  MT("Config СОМ-port", mdHardWare);
  const int result = ConfigureLine();
  if (result != 0) {
    std::string text;
    switch (result) {
      case -4: text = "Config timeout!"; break;
      case -3: text = "Config inaccessible!"; break;
      case -2: text = "Block dcb inaccessible!"; break;
      case -1: text = "Selected СОМ-port inaccessible(Init)!"; break;
      default: text = "Selected СОМ-port inaccessible! error=" + std::to_string(result); break;
    }
    std::string cause = result < 0 ? SystemErrorText() : "line errors pending";
    if (result < 0 && g_lastErrno == ENOTTY) cause = "not a serial device (" + cause + ")";
    Error(which + " (" + device + "): " + cause, false, true, true);
    Error(text, true, true, true);
    CloseHandle();
    return false;
  }
  return true;
}

int TComPort::ConfigureLine() {
  termios tio{};
  if (::tcgetattr(fd_, &tio) != 0) {
    RememberErrno();
    return -2;
  }
  // Binary mode: no line editing, echo, signals or output processing.
  tio.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  // No XON/XOFF either way, no byte replacement or translation; NUL bytes
  // and breaks are delivered as data. Parity checking keeps its setting.
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IGNBRK | BRKINT | IUCLC | IMAXBEL);
  // 8 data bits, receiver on, no modem-control or hardware flow control.
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CRTSCTS);
  tio.c_cflag |= CS8 | CREAD | CLOCAL;
  // Reads never block in the driver; the time-outs are kept here.
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  // XON/XOFF characters have no effect while flow control is off; they are
  // set as the line set-up prescribes.
  tio.c_cc[VSTART] = 0x7F;
  tio.c_cc[VSTOP] = 0x7F;
  if (::tcsetattr(fd_, TCSANOW, &tio) != 0 || !detail::SetLineSpeed(fd_, baudRate_)) {
    RememberErrno();
    CloseHandle();
    return -3;
  }
  // DTR and RTS held off; a pseudo-terminal has no modem lines.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ::ioctl(fd_, TIOCMBIC, &lines);
  // Time-outs live in this object; nothing can fail here (-4 is kept for
  // the message table).
  ::tcflush(fd_, TCIOFLUSH);
  return TakeLineErrors(fd_, openDevice_);
}

bool TComPort::IsNetwork() const {
  return IsNetDevice(DevicePath());
}

bool TComPort::OpenNetwork(const std::string& device) {
  const std::string which = "COM" + std::to_string(portNumber_);
  TNetAddress address;
  if (!ParseNetDevice(device, address)) {
    Error(which + " (" + device + "): not a network address; write " + PortKey(portNumber_) + "=" +
              kRfc2217Scheme + "HOST:PORT or " + PortKey(portNumber_) + "=" + kRawTcpScheme + "HOST:PORT",
          false, true, true);
    Error("Selected СОМ-port inaccessible!(file not found)", false, true, true);
    return false;
  }
  TNetSecurity security;
  security.portKey = PortKey(portNumber_);
  std::string password;
  if (address.tls) {
    security = PortSecurity(portNumber_);
    // The files are checked before anyone is asked for a password.
    if (const std::string why = CheckSecurityFiles(PortKey(portNumber_), security); !why.empty()) {
      Error(which + " (" + device + "): " + why, false, true, true);
      Error("Selected СОМ-port inaccessible!", false, true, true);
      return false;
    }
    if (security.UsesPassword() && !AskNetPassword(which, address.HostPort(), security.user, password)) {
      WipePassword(password);
      Error(which + " (" + device + "): не введён пароль пользователя " + security.user, false, true, true);
      Error("Selected СОМ-port inaccessible!", false, true, true);
      return false;
    }
  }
  auto line = std::make_unique<TNetLine>();
  if (!line->Open(address, baudRate_, kNetWaits, security, std::move(password))) {
    Error(which + ": " + NetFailureMessage(address, line->FailureText()), false, true, true);
    Error(line->Failure() == TNetFailure::Busy ? "Selected СОМ-port busy!" : "Selected СОМ-port inaccessible!",
          false, true, true);
    return false;
  }
  const int configured = PortLatencySetting(portNumber_);
  latency_ = configured >= 0 ? std::chrono::milliseconds(configured) : line->RoundTrip();
  MT(which + " " + device + ": round trip " + std::to_string(line->RoundTrip().count()) + " ms, allowance " +
         std::to_string(latency_.count()) + " ms",
     mdHardWare);
  if (address.tls) {
    const TServerCertificate& cert = line->ServerCertificate();
    MT(which + " " + device + ": TLS, " + cert.name + " до " + cert.expiry, mdHardWare);
  } else {
    WarnPlainLine(which, address);
  }
  net_ = std::move(line);
  netLossReported_ = false;
  return true;
}

void TComPort::ReportNetworkLoss() {
  if (netLossReported_ || !net_) return;
  netLossReported_ = true;
  net_->ExplainLoss();
  Error("COM" + std::to_string(portNumber_) + ": " + NetFailureMessage(net_->Address(), net_->FailureText()),
        false, true, true);
}

bool TComPort::ReadNetwork(std::uint8_t* buffer, std::uint32_t& count) {
  const std::uint32_t wanted = count;
  std::uint32_t got = 0;
  bool failed = false;
  const auto start = Clock::now();
  const bool immediate =
      readIntervalTimeout == kNoTimeout && readTotalTimeoutConstant == 0 && readTotalTimeoutMultiplier == 0;
  // The round trip is added to the total: the answer has that much further
  // to come than on a local line.
  const auto totalDeadline =
      start + latency_ +
      std::chrono::milliseconds(static_cast<std::uint64_t>(readTotalTimeoutConstant) +
                                static_cast<std::uint64_t>(wanted) * readTotalTimeoutMultiplier);
  auto lastByte = start;
  while (got < wanted) {
    auto deadline = immediate ? start : totalDeadline;
    if (got > 0 && readIntervalTimeout != 0 && readIntervalTimeout != kNoTimeout) {
      deadline = std::min(deadline, lastByte + std::chrono::milliseconds(readIntervalTimeout) + latency_);
    }
    const int waitMs = MillisUntil(deadline);
    const bool sliced = onIdle && waitMs > static_cast<int>(kIdleSlice.count());
    const auto wait = sliced ? kIdleSlice : std::chrono::milliseconds(waitMs);
    std::size_t n = 0;
    if (!net_->ReadSome(buffer + got, wanted - got, wait, n)) {
      got += static_cast<std::uint32_t>(n);
      ReportNetworkLoss();
      failed = true;
      break;
    }
    if (n > 0) {
      got += static_cast<std::uint32_t>(n);
      lastByte = Clock::now();
      continue;
    }
    if (waitMs == 0) break;
    if (sliced) {
      onIdle();
      if (!IsOpen()) {
        failed = true;
        break;
      }
    }
  }
  count = got;
  if (TraceWanted(mdHardWare)) {
    if (failed) {
      ET("no read from СОМ port:" + (net_ ? net_->FailureText() : std::string("closed")), mdHardWare);
    } else if (got < wanted) {
      ET("no read from СОМ port(Length): timed out", mdHardWare);
    }
  }
  if (failed || got != wanted) return false;
  if (TraceWanted(mdHardWare)) MT("ReadFromCOM:" + HexBytes(buffer, got), mdHardWare);
  return true;
}

bool TComPort::WriteNetwork(const std::uint8_t* buffer, std::uint32_t& count) {
  const std::uint32_t wanted = count;
  const bool bounded = writeTotalTimeoutConstant != 0 || writeTotalTimeoutMultiplier != 0;
  const auto wait = bounded ? std::chrono::milliseconds(static_cast<std::uint64_t>(writeTotalTimeoutConstant) +
                                                        static_cast<std::uint64_t>(wanted) *
                                                            writeTotalTimeoutMultiplier)
                            : std::chrono::milliseconds(kMaxTimeoutConstant);
  std::size_t done = 0;
  const bool ok = net_->WriteAll(buffer, wanted, wait, done);
  count = static_cast<std::uint32_t>(done);
  if (!ok) {
    if (!net_->IsOpen()) ReportNetworkLoss();
    ET("no write to СОМ port", mdHardWare);
    return false;
  }
  return true;
}

std::uint32_t TComPort::TakeReadAhead(std::uint8_t* buffer, std::uint32_t wanted) {
  const std::size_t n = std::min<std::size_t>(wanted, aheadEnd_ - aheadBegin_);
  std::copy_n(ahead_.begin() + static_cast<std::ptrdiff_t>(aheadBegin_), n, buffer);
  aheadBegin_ += n;
  if (aheadBegin_ == aheadEnd_) DropReadAhead();
  return static_cast<std::uint32_t>(n);
}

void TComPort::CloseHandle() {
  DropReadAhead();
  net_.reset();
  latency_ = std::chrono::milliseconds{0};
  if (fd_ < 0) return;
  RememberLineCounts(fd_, openDevice_);
  detail::CloseDevice(fd_);
  fd_ = -1;
  openDevice_.clear();
}

bool TComPort::Close() {
  if (!IsOpen()) return false;
  CloseHandle();
  return true;
}

bool TComPort::Read(std::uint8_t* buffer, std::uint32_t& count) {
  if (net_) return ReadNetwork(buffer, count);
  const std::uint32_t wanted = count;
  std::uint32_t got = 0;
  bool failed = !IsOpen();
  if (failed) {
    errno = EBADF;
    RememberErrno();
  }
  // Bytes read ahead arrived before this read began.
  if (!failed) got = TakeReadAhead(buffer, wanted);
  const auto start = Clock::now();
  const bool immediate =
      readIntervalTimeout == kNoTimeout && readTotalTimeoutConstant == 0 && readTotalTimeoutMultiplier == 0;
  const bool totalBound = readTotalTimeoutConstant != 0 || readTotalTimeoutMultiplier != 0;
  const auto totalDeadline =
      start + std::chrono::milliseconds(static_cast<std::uint64_t>(readTotalTimeoutConstant) +
                                        static_cast<std::uint64_t>(wanted) * readTotalTimeoutMultiplier);
  auto lastByte = start;
  while (!failed && got < wanted) {
    int waitMs = -1;
    if (immediate) {
      waitMs = 0;
    } else {
      auto deadline = totalBound ? totalDeadline : Clock::time_point::max();
      if (got > 0 && readIntervalTimeout != 0 && readIntervalTimeout != kNoTimeout) {
        deadline = std::min(deadline, lastByte + std::chrono::milliseconds(readIntervalTimeout));
      }
      if (deadline != Clock::time_point::max()) waitMs = MillisUntil(deadline);
    }
    // A deadline that has passed still takes the bytes already waiting in
    // the driver: they arrived in time, and only this process was late to
    // look (a busy machine).
    const bool last = waitMs == 0 && !immediate;
    // With an idle hook a long wait is cut into slices, the hook running
    // between them.
    const int slice = static_cast<int>(kIdleSlice.count());
    const bool sliced = onIdle && (waitMs < 0 || waitMs > slice);
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, sliced ? slice : waitMs);
    if (r < 0) {
      if (errno == EINTR) continue;
      RememberErrno();
      failed = true;
      break;
    }
    if (r == 0) {
      if (immediate || last) break;
      if (sliced) {
        onIdle();
        if (!IsOpen()) {
          errno = EBADF;
          RememberErrno();
          failed = true;
          break;
        }
      }
      continue;  // the deadline is checked at the top
    }
    if ((p.revents & POLLIN) != 0) {
      // A short read takes what has arrived into the read-ahead (nothing is
      // kept from an earlier read here: the read took that first).
      const std::uint32_t need = wanted - got;
      const bool ahead = need < kReadAheadSize;
      const ssize_t n = ahead ? ::read(fd_, ahead_.data(), ahead_.size()) : ::read(fd_, buffer + got, need);
      if (n > 0) {
        if (ahead) {
          aheadBegin_ = 0;
          aheadEnd_ = static_cast<std::size_t>(n);
          got += TakeReadAhead(buffer + got, need);
        } else {
          got += static_cast<std::uint32_t>(n);
        }
        lastByte = Clock::now();
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      // End of file or an I/O error: the device has gone away.
      if (n == 0) errno = EIO;
      RememberErrno();
      failed = true;
      break;
    }
    if ((p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      errno = EIO;
      RememberErrno();
      failed = true;
      break;
    }
  }
  count = got;
  // The byte traces cost a text per read: built only when someone takes them.
  if (TraceWanted(mdHardWare)) {
    if (failed) {
      ET("no read from СОМ port:" + SystemErrorText(), mdHardWare);
    } else if (got < wanted) {
      ET("no read from СОМ port(Length):" + SystemErrorText(), mdHardWare);
    }
  }
  if (failed || got != wanted) return false;
  if (TraceWanted(mdHardWare)) MT("ReadFromCOM:" + HexBytes(buffer, got), mdHardWare);
  return true;
}

bool TComPort::Write(const std::uint8_t* buffer, std::uint32_t& count) {
  const std::uint32_t wanted = count;
  if (TraceWanted(mdHardWare)) MT("WriteToCOM:" + HexBytes(buffer, wanted), mdHardWare);
  if (net_) return WriteNetwork(buffer, count);
  std::uint32_t done = 0;
  bool failed = !IsOpen();
  const bool bounded = writeTotalTimeoutConstant != 0 || writeTotalTimeoutMultiplier != 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(
                                           static_cast<std::uint64_t>(writeTotalTimeoutConstant) +
                                           static_cast<std::uint64_t>(wanted) * writeTotalTimeoutMultiplier);
  while (!failed && done < wanted) {
    const ssize_t n = ::write(fd_, buffer + done, wanted - done);
    if (n > 0) {
      done += static_cast<std::uint32_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      RememberErrno();
      failed = true;
      break;
    }
    const int waitMs = bounded ? MillisUntil(deadline) : -1;
    if (bounded && waitMs == 0) break;
    pollfd p{fd_, POLLOUT, 0};
    const int r = ::poll(&p, 1, waitMs);
    if (r < 0 && errno != EINTR) {
      RememberErrno();
      failed = true;
    } else if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (p.revents & POLLOUT) == 0) {
      errno = EIO;
      RememberErrno();
      failed = true;
    }
  }
  count = done;
  if (failed || done != wanted) {
    ET("no write to СОМ port", mdHardWare);
    return false;
  }
  return true;
}

void TComPort::DiscardInput() {
  if (net_) {
    net_->DiscardInput();
    return;
  }
  DropReadAhead();
  if (IsOpen()) ::tcflush(fd_, TCIFLUSH);
}

std::uint32_t TComPort::InputQueueLength() const {
  if (net_) return static_cast<std::uint32_t>(net_->Pending());
  if (!IsOpen()) return 0;
  int n = 0;
  const auto ahead = static_cast<std::uint32_t>(aheadEnd_ - aheadBegin_);
  if (::ioctl(fd_, FIONREAD, &n) != 0 || n < 0) return ahead;
  return static_cast<std::uint32_t>(n) + ahead;
}

namespace {

// A key's raw value as a decimal integer (optional sign); false for
// anything else.
bool IniInteger(const std::string& text, std::int64_t& out) {
  std::string_view v = text;
  if (!v.empty() && v.front() == '+') v.remove_prefix(1);
  const auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), out);
  return !v.empty() && ec == std::errc() && ptr == v.data() + v.size();
}

std::string AllowedRatesText() {
  std::string text;
  for (const std::uint32_t r : kAllowedRates) text += (text.empty() ? "" : ", ") + std::to_string(r);
  return text;
}

}  // namespace

bool TComPort::LoadSettings(const std::string& iniFileName, const std::string& section) {
  const TIniFile ini(ResolveIniName(iniFileName));
  ini.ReportProblem();
  const auto where = [&](std::string_view key, const std::string& value) {
    return std::string(key) + "=" + value + " in " + ini.FileName() + " [" + section + "]";
  };
  bool ok = true;

  std::int64_t n = 1;
  const std::string portText = ini.ReadString(section, "COMPort", "1");
  if (!IniInteger(portText, n) || n < kMinPortNumber || n > kMaxPortNumber ||
      !SetPortNumber(static_cast<int>(n))) {
    Error(where("COMPort", portText) + " is not a port number " + std::to_string(kMinPortNumber) + ".." +
              std::to_string(kMaxPortNumber) + "; " +
              (portNumber_ > 0 ? "COM" + std::to_string(portNumber_) + " is kept" : "no port is chosen"),
          false, true, true);
    Error("invalid COM port", false, true, true);
    ok = false;
  }

  if (ini.ValueExists(section, "Speed")) {
    const std::string speedText = ini.ReadString(section, "Speed", "");
    std::int64_t speed = 0;
    if (!IniInteger(speedText, speed) || speed < 0 || speed > std::numeric_limits<std::uint32_t>::max() ||
        !SetBaudRate(static_cast<std::uint32_t>(speed))) {
      Error(where("Speed", speedText) + " is not one of " + AllowedRatesText() + "; " +
                std::to_string(baudRate_) + " is used",
            false, true, true);
      Error("invalid speed", false, true, true);
      ok = false;
    }
  }

  struct Setting {
    const char* key;
    std::uint32_t TComPort::*field;
    std::uint32_t max;
    const char* unit;
  };
  static constexpr Setting kSettings[] = {
      {"ReadTotalTimeoutConstant", &TComPort::readTotalTimeoutConstant, kMaxTimeoutConstant, "ms"},
      {"ReadTotalTimeoutMultiplier", &TComPort::readTotalTimeoutMultiplier, kMaxTimeoutMultiplier,
       "ms per byte"},
      {"ReadIntervalTimeout", &TComPort::readIntervalTimeout, kMaxIntervalTimeout, "ms"},
      {"WriteTotalTimeoutConstant", &TComPort::writeTotalTimeoutConstant, kMaxTimeoutConstant, "ms"},
      {"WriteTotalTimeoutMultiplier", &TComPort::writeTotalTimeoutMultiplier, kMaxTimeoutMultiplier,
       "ms per byte"},
  };
  for (const Setting& s : kSettings) {
    if (!ini.ValueExists(section, s.key)) continue;
    const std::string text = ini.ReadString(section, s.key, "");
    std::int64_t v = 0;
    if (IniInteger(text, v) && v >= 0 && v <= s.max) {
      this->*s.field = static_cast<std::uint32_t>(v);
      continue;
    }
    Warning(where(s.key, text) + " is not a time-out of 0.." + std::to_string(s.max) + " " + s.unit + "; " +
                std::to_string(this->*s.field) + " is used",
            false, true, true);
  }
  // Both totals 0 would leave a read from a silent register, or a write to a
  // line that does not drain, without any limit.
  const auto bothZero = [&](const char* constantKey, std::uint32_t& constant, std::uint32_t defConstant,
                            const char* multiplierKey, std::uint32_t& multiplier, std::uint32_t defMultiplier,
                            const char* what) {
    if (constant != 0 || multiplier != 0) return;
    Warning(std::string(constantKey) + "=0 and " + multiplierKey + "=0 in " + ini.FileName() + " [" +
                section + "] would let " + what + " wait forever; " + std::to_string(defConstant) + " and " +
                std::to_string(defMultiplier) + " are used",
            false, true, true);
    constant = defConstant;
    multiplier = defMultiplier;
  };
  bothZero("ReadTotalTimeoutConstant", readTotalTimeoutConstant, kDefaultReadTotalTimeoutConstant,
           "ReadTotalTimeoutMultiplier", readTotalTimeoutMultiplier, kDefaultReadTotalTimeoutMultiplier,
           "a read from a silent register");
  bothZero("WriteTotalTimeoutConstant", writeTotalTimeoutConstant, kDefaultWriteTotalTimeoutConstant,
           "WriteTotalTimeoutMultiplier", writeTotalTimeoutMultiplier, kDefaultWriteTotalTimeoutMultiplier,
           "a write to a line that does not take the bytes");
  return ok;
}

void TComPort::SaveSettings(const std::string& iniFileName, const std::string& section) const {
  TIniFile ini(ResolveIniName(iniFileName));
  ini.WriteInteger(section, "COMPort", portNumber_);
  ini.WriteInteger(section, "Speed", baudRate_);
  ini.WriteInteger(section, "ReadTotalTimeoutConstant", readTotalTimeoutConstant);
  ini.WriteInteger(section, "ReadTotalTimeoutMultiplier", readTotalTimeoutMultiplier);
  ini.WriteInteger(section, "ReadIntervalTimeout", readIntervalTimeout);
  ini.WriteInteger(section, "WriteTotalTimeoutConstant", writeTotalTimeoutConstant);
  ini.WriteInteger(section, "WriteTotalTimeoutMultiplier", writeTotalTimeoutMultiplier);
  ini.UpdateFile();
}

std::string ListPorts() {
  std::string list;
  for (const TPortEntry& entry : PortTable()) list += PortListItem(entry) + "\r\n";
  return list;
}

}  // namespace zarvik
