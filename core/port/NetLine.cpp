#include "port/NetLine.h"

#include <gensio/gensio.h>
#include <gensio/gensio_err.h>
#include <gensio/gensio_os_funcs_public.h>
#include <gensio/sergensio.h>

#include <arpa/inet.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <thread>

namespace zarvik {
namespace {

using Clock = std::chrono::steady_clock;

// Which com-port control a request is.
constexpr int kControlBaud = 1;
constexpr int kControlDataSize = 2;
constexpr int kControlParity = 3;
constexpr int kControlStopBits = 4;

// Bytes the server may send before it closes a connection it refuses (its
// "already in use" notice); kept to recognise the refusal.
constexpr std::size_t kMaxRefusalText = 256;

// Between a busy server's refusals.
constexpr std::chrono::milliseconds kBusyRetryPause{50};

// SIGPIPE blocked in this thread while the library writes to a connection
// that may have been dropped; one raised meanwhile is taken away, so the
// process neither dies of it nor sees it later. The process's handling of
// the signal is not touched.
class TSigpipeGuard {
 public:
  TSigpipeGuard() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    pendingBefore_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    blocked_ = pthread_sigmask(SIG_BLOCK, &pipe_, &old_) == 0;
  }
  ~TSigpipeGuard() {
    if (!blocked_) return;
    sigset_t pending;
    sigemptyset(&pending);
    if (!pendingBefore_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
      const timespec zero{0, 0};
      sigtimedwait(&pipe_, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  TSigpipeGuard(const TSigpipeGuard&) = delete;
  TSigpipeGuard& operator=(const TSigpipeGuard&) = delete;

 private:
  sigset_t pipe_{};
  sigset_t old_{};
  bool pendingBefore_ = false;
  bool blocked_ = false;
};

bool StartsWith(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

gensio_time ToGensioTime(Clock::duration d) {
  if (d < Clock::duration::zero()) d = Clock::duration::zero();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  return gensio_time{ns / 1'000'000'000, static_cast<std::int32_t>(ns % 1'000'000'000)};
}

int EventThunk(struct gensio* /*io*/, void* user, int event, int err, unsigned char* buf, gensiods* buflen,
               const char* const* auxdata) {
  std::size_t len = buflen != nullptr ? static_cast<std::size_t>(*buflen) : 0;
  const int r =
      static_cast<TNetLine*>(user)->OnEvent(event, err, buf, buflen != nullptr ? &len : nullptr, auxdata);
  if (buflen != nullptr) *buflen = static_cast<gensiods>(len);
  return r;
}

void OpenDoneThunk(struct gensio* /*io*/, int err, void* data) {
  static_cast<TNetLine*>(data)->OnOpenDone(err);
}

void CloseDoneThunk(struct gensio* /*io*/, void* data) {
  static_cast<TNetLine*>(data)->OnCloseDone();
}

void ControlDoneThunk(struct sergensio* /*sio*/, int err, unsigned int val, void* data) {
  static_cast<TNetLine*>(data)->OnControlDone(err, static_cast<int>(val));
}

// A file name or user name as a value of a gensio option: quoted; the few
// characters that cannot be said so are refused.
bool GensioValue(const std::string& value, std::string& out) {
  if (value.find_first_of("\"\\\n\r") != std::string::npos) return false;
  out = "\"" + value + "\"";
  return true;
}

// The server's certificate as the library gives it (PEM text).
std::string PeerCertificate(struct gensio* ssl) {
  std::string text(16384, '\0');
  gensiods len = static_cast<gensiods>(text.size());
  if (ssl == nullptr ||
      gensio_control(ssl, 0, GENSIO_CONTROL_GET, GENSIO_CONTROL_CERT, text.data(), &len) != 0) {
    return {};
  }
  text.resize(std::min(static_cast<std::size_t>(len), text.size()));
  return text;
}

// The library's operating system functions: one set for the process, made
// at the first connection and never freed. The library keeps state of its
// own made with the first set it is given (and the default handler is the
// same pointer every time): freeing it when a line closed left the next
// connection of the process reading freed memory.
int AllocOsFuncs(struct gensio_os_funcs** o) {
  static gensio_os_funcs* const shared = [] {
    gensio_os_funcs* made = nullptr;
    if (gensio_default_os_hnd(0, &made) != 0) made = nullptr;
    return made;
  }();
  *o = shared;
  return shared != nullptr ? 0 : GE_NOMEM;
}

}  // namespace

// libgensio keeps the completion record of a com-port request until the
// server answers it; a server that drops the connection first (a busy
// ser2net refusing a second client does so right after the telnet
// negotiation) leaves that record unfreed inside the library, a few bytes a
// refusal. The leak check of a sanitizer build is told so; nothing of ours
// is hidden by it.
// The suppression is not listed at exit either: a leak check that prints
// nothing has found nothing.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
  return "leak:sergensio_baud\nleak:sergensio_datasize\nleak:sergensio_parity\nleak:sergensio_stopbits\n";
}
extern "C" const char* __lsan_default_options();
extern "C" const char* __lsan_default_options() {
  return "print_suppressions=0";
}

std::string TNetAddress::HostPort() const {
  if (host.find(':') != std::string::npos) return "[" + host + "]:" + port;
  return host + ":" + port;
}

std::string TNetAddress::Device() const {
  const char* scheme = mode == TNetMode::Rfc2217 ? (tls ? kRfc2217TlsScheme : kRfc2217Scheme)
                                                 : (tls ? kRawTcpTlsScheme : kRawTcpScheme);
  return scheme + HostPort();
}

bool IsNetDevice(const std::string& device) {
  return StartsWith(device, kRfc2217Scheme) || StartsWith(device, kRawTcpScheme) ||
         StartsWith(device, kRfc2217TlsScheme) || StartsWith(device, kRawTcpTlsScheme);
}

bool IsSecureNetDevice(const std::string& device) {
  return StartsWith(device, kRfc2217TlsScheme) || StartsWith(device, kRawTcpTlsScheme);
}

bool IsLoopbackHost(const std::string& host) {
  if (host == "localhost" || host == "::1" || host == "ip6-localhost") return true;
  in_addr a{};
  return inet_pton(AF_INET, host.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}

bool ParseNetDevice(const std::string& device, TNetAddress& out) {
  TNetAddress a;
  std::string rest;
  if (StartsWith(device, kRfc2217Scheme)) {
    a.mode = TNetMode::Rfc2217;
    rest = device.substr(std::strlen(kRfc2217Scheme));
  } else if (StartsWith(device, kRawTcpScheme)) {
    a.mode = TNetMode::RawTcp;
    rest = device.substr(std::strlen(kRawTcpScheme));
  } else if (StartsWith(device, kRfc2217TlsScheme)) {
    a.mode = TNetMode::Rfc2217;
    a.tls = true;
    rest = device.substr(std::strlen(kRfc2217TlsScheme));
  } else if (StartsWith(device, kRawTcpTlsScheme)) {
    a.mode = TNetMode::RawTcp;
    a.tls = true;
    rest = device.substr(std::strlen(kRawTcpTlsScheme));
  } else {
    return false;
  }
  std::string portText;
  if (!rest.empty() && rest.front() == '[') {
    const auto close = rest.find(']');
    if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return false;
    a.host = rest.substr(1, close - 1);
    portText = rest.substr(close + 2);
    if (a.host.find(':') == std::string::npos) return false;
  } else {
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos) return false;
    a.host = rest.substr(0, colon);
    portText = rest.substr(colon + 1);
    if (a.host.find(':') != std::string::npos) return false;  // IPv6 needs brackets
  }
  if (a.host.empty()) return false;
  for (const char c : a.host) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '-' || c == '_' || c == ':';
    if (!ok) return false;
  }
  unsigned port = 0;
  const auto [ptr, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (portText.empty() || ec != std::errc() || ptr != portText.data() + portText.size() || port < 1 ||
      port > 65535) {
    return false;
  }
  a.port = std::to_string(port);
  out = a;
  return true;
}

std::string NetFailureMessage(const TNetAddress& address, const std::string& cause) {
  return "нет соединения с " + address.HostPort() + ": " + cause;
}

TNetLine::~TNetLine() {
  Close();
}

void TNetLine::Fail(TNetFailure failure, std::string text) {
  failure_ = failure;
  failureText_ = std::move(text);
}

void TNetLine::FailFromError(int err, bool opening) {
  switch (err) {
    case GE_CONNREFUSE: Fail(TNetFailure::Refused, "connection refused"); return;
    case GE_NOTFOUND:
    case GE_UNKNOWN_NAME_ERROR:
    case GE_NAME_ERROR:
    case GE_NAME_INVALID:
    case GE_NAME_SERVER_FAILURE:
    case GE_NAME_NET_NOT_UP: Fail(TNetFailure::Unresolved, "name does not resolve"); return;
    case GE_HOSTDOWN: Fail(TNetFailure::Unreachable, "host unreachable"); return;
    case GE_TIMEDOUT: Fail(TNetFailure::Unreachable, "no answer (timed out)"); return;
    case GE_REMCLOSE:
      if (opening) {
        Fail(TNetFailure::Busy, "the server closed the connection (it may serve another client)");
      } else {
        Fail(TNetFailure::Lost, "connection closed by the server");
      }
      return;
    default: break;
  }
  std::string text = gensio_err_to_str(err);
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  Fail(opening ? TNetFailure::Other : TNetFailure::Lost, opening ? text : "connection lost (" + text + ")");
}

int TNetLine::OnEvent(int event, int err, unsigned char* buf, std::size_t* buflen,
                      const char* const* auxdata) {
  switch (event) {
    case GENSIO_EVENT_PRECERT_VERIFY:
      if (!tlsProbe_) return GE_NOTSUP;
      sawTls_ = true;
      return GE_AUTHREJECT;
    case GENSIO_EVENT_POSTCERT_VERIFY:
      if (tlsProbe_) {
        sawTls_ = true;
        return GE_AUTHREJECT;
      }
      return CheckServerCertificate(err, auxdata);
    case GENSIO_EVENT_REQUEST_PASSWORD:
      // Given only to the authentication of a password device, once.
      passwordAsked_ = true;
      if (password_.empty() || buf == nullptr || buflen == nullptr || password_.size() > *buflen)
        return GE_NOTSUP;
      std::memcpy(buf, password_.data(), password_.size());
      *buflen = password_.size();
      return 0;
    case GENSIO_EVENT_READ:
      if (err != 0) {
        if (!lost_) FailFromError(err, false);
        lost_ = true;
        if (buflen != nullptr) *buflen = 0;
      } else if (buf != nullptr && buflen != nullptr) {
        rx_.insert(rx_.end(), buf, buf + *buflen);
        if (*buflen > 0) everReceived_ = true;
      }
      if (waiter_ != nullptr) gensio_os_funcs_wake(o_, waiter_);
      return 0;
    case GENSIO_EVENT_WRITE_READY:
      writeReady_ = true;
      gensio_set_write_callback_enable(io_, false);
      if (waiter_ != nullptr) gensio_os_funcs_wake(o_, waiter_);
      return 0;
    default:
      // Modem and line state notices of the com-port control: not used.
      if (event >= SERGENSIO_EVENT_BASE && event <= SERGENSIO_EVENT_MAX) return 0;
      return GE_NOTSUP;
  }
}

void TNetLine::OnOpenDone(int err) {
  opening_ = false;
  openError_ = err;
  gensio_os_funcs_wake(o_, waiter_);
}

void TNetLine::OnCloseDone() {
  closing_ = false;
  gensio_os_funcs_wake(o_, waiter_);
}

void TNetLine::OnControlDone(int err, int value) {
  controlPending_ = false;
  controlError_ = err;
  controlValue_ = value;
  gensio_os_funcs_wake(o_, waiter_);
}

bool TNetLine::WaitFor(Clock::time_point deadline) {
  const TSigpipeGuard guard;
  gensio_time t = ToGensioTime(deadline - Clock::now());
  const int r = gensio_os_funcs_wait(o_, waiter_, 1, &t);
  return r == 0;
}

bool TNetLine::Open(const TNetAddress& address, std::uint32_t baud, const TNetWaits& waits,
                    const TNetSecurity& security, std::string password) {
  const TSigpipeGuard guard;
  Close();
  address_ = address;
  security_ = security;
  password_ = std::move(password);
  serverCert_ = {};
  serverVerified_ = false;
  bool opened = false;
  const auto giveUp = Clock::now() + waits.busyRetry;
  for (;;) {
    if (TryOpen(baud, waits)) {
      opened = true;
      break;
    }
    if (failure_ != TNetFailure::Busy || Clock::now() + kBusyRetryPause >= giveUp) break;
    std::this_thread::sleep_for(kBusyRetryPause);
  }
  WipePassword(password_);
  if (!opened && (failure_ == TNetFailure::Busy || failure_ == TNetFailure::NoControl)) ExplainLoss();
  return opened;
}

void TNetLine::ExplainLoss() {
  if (address_.tls || everReceived_ || failure_ == TNetFailure::TlsServer) return;
  if (!ServerSpeaksTls(address_, kNetWaits.handshake)) return;
  TNetAddress secure = address_;
  secure.tls = true;
  Fail(TNetFailure::TlsServer, "сервер закрыл соединение: он ждёт TLS; укажите " + security_.portKey + "=" +
                                   secure.Device() + " и " + security_.portKey + ".CA");
}

bool TNetLine::ServerSpeaksTls(const TNetAddress& address, std::chrono::milliseconds wait) {
  TNetLine probe;
  probe.address_ = address;
  probe.tlsProbe_ = true;
  if (AllocOsFuncs(&probe.o_) != 0 || probe.o_ == nullptr) {
    probe.o_ = nullptr;
    return false;
  }
  probe.waiter_ = gensio_os_funcs_alloc_waiter(probe.o_);
  if (probe.waiter_ == nullptr) return false;
  const std::string tcp = "tcp(nodelay)," + address.host + "," + address.port;
  if (str_to_gensio(tcp.c_str(), probe.o_, EventThunk, &probe, &probe.io_) != 0) {
    probe.io_ = nullptr;
    return false;
  }
  probe.opening_ = true;
  if (gensio_open(probe.io_, OpenDoneThunk, &probe) != 0) return false;
  const auto deadline = Clock::now() + kNetWaits.connect;
  while (probe.opening_ && Clock::now() < deadline) probe.WaitFor(deadline);
  if (probe.opening_ || probe.openError_ != 0) return false;
  probe.OpenLayer("ssl", wait, "рукопожатие TLS");
  return probe.sawTls_;
}

int TNetLine::CheckServerCertificate(int err, const char* const* auxdata) {
  serverCert_ = ReadServerCertificate(PeerCertificate(ssl_));
  const std::string cafile = security_.ca;
  if (err != 0 || !serverCert_.parsed) {
    handshakeFailure_ = TNetFailure::Untrusted;
    if (serverCert_.expired) {
      handshakeText_ = "срок сертификата сервера истёк " + serverCert_.expiry;
    } else if (serverCert_.notYetValid) {
      handshakeText_ = "сертификат сервера ещё не действует";
    } else {
      const char* why = auxdata != nullptr && auxdata[0] != nullptr ? auxdata[0] : gensio_err_to_str(err);
      handshakeText_ = "сертификат сервера не заверен " + cafile + " (" + why + ")";
    }
    return GE_AUTHREJECT;
  }
  // The library checks the chain and the dates, not the name.
  if (!CertificateNamesHost(PeerCertificate(ssl_), address_.host)) {
    handshakeFailure_ = TNetFailure::WrongHost;
    handshakeText_ = "сертификат сервера выдан не на " + address_.host + ", а на " + serverCert_.names;
    return GE_AUTHREJECT;
  }
  serverVerified_ = true;
  return 0;
}

bool TNetLine::OpenLayer(const std::string& text, std::chrono::milliseconds wait, const char* phase) {
  gensio* top = nullptr;
  int err = str_to_gensio_child(io_, text.c_str(), o_, EventThunk, this, &top);
  if (err != 0) {
    Fail(TNetFailure::Settings, std::string(phase) + ": " + gensio_err_to_str(err));
    return false;
  }
  io_ = top;
  if (text.rfind("ssl(", 0) == 0) ssl_ = top;
  opening_ = true;
  openError_ = 0;
  err = gensio_open_nochild(io_, OpenDoneThunk, this);
  if (err != 0) {
    opening_ = false;
    FailFromError(err, true);
    return false;
  }
  const auto deadline = Clock::now() + wait;
  while (opening_ && Clock::now() < deadline) WaitFor(deadline);
  if (opening_) {
    Fail(TNetFailure::NoTls,
         std::string("нет ответа: ") + phase + " (" + std::to_string(wait.count()) + " мс)");
    return false;
  }
  if (openError_ != 0) {
    if (handshakeFailure_ != TNetFailure::None) {
      Fail(handshakeFailure_, handshakeText_);
    } else {
      FailFromError(openError_, true);
    }
    return false;
  }
  return true;
}

bool TNetLine::OpenSecure(const TNetWaits& waits) {
  handshakeFailure_ = TNetFailure::None;
  handshakeText_.clear();
  passwordAsked_ = false;
  ssl_ = nullptr;
  // Never a connection with files that will not do, whoever opens.
  if (std::string why = CheckSecurityFiles(security_.portKey, security_); !why.empty()) {
    Fail(TNetFailure::Settings, why);
    return false;
  }
  std::string ca, cert, key, user;
  if (!GensioValue(security_.ca, ca) || !GensioValue(security_.cert, cert) ||
      !GensioValue(security_.key, key) || !GensioValue(SecurityUserName(security_), user)) {
    Fail(TNetFailure::Settings, "в имени файла или пользователя знаки \" \\, которых библиотека не примет");
    return false;
  }
  const std::string tcp = "tcp(nodelay)," + address_.host + "," + address_.port;
  const auto start = Clock::now();
  int err = str_to_gensio(tcp.c_str(), o_, EventThunk, this, &io_);
  if (err != 0) {
    io_ = nullptr;
    FailFromError(err, true);
    return false;
  }
  opening_ = true;
  openError_ = 0;
  err = gensio_open(io_, OpenDoneThunk, this);
  if (err != 0) {
    opening_ = false;
    FailFromError(err, true);
    return false;
  }
  const auto connectDeadline = start + waits.connect;
  while (opening_ && Clock::now() < connectDeadline) WaitFor(connectDeadline);
  if (opening_) {
    Fail(TNetFailure::Unreachable, "no answer (timed out)");
    return false;
  }
  if (openError_ != 0) {
    FailFromError(openError_, true);
    return false;
  }
  roundTrip_ = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);

  // TLS: the server is checked against COMn.CA only, never the system's
  // store, and a server that does not speak it ends the open.
  if (!OpenLayer("ssl(CA=" + ca + ")", waits.handshake, "рукопожатие TLS")) {
    if (failure_ == TNetFailure::Other || failure_ == TNetFailure::Busy || failure_ == TNetFailure::Lost) {
      Fail(TNetFailure::NoTls,
           "сервер не говорит по TLS (" + failureText_ + "): за адресом +tls открытая линия?");
    }
    return false;
  }
  if (!serverVerified_) {
    // The library opened without showing the certificate: not trusted.
    Fail(TNetFailure::Untrusted, "сервер не показал сертификат");
    return false;
  }
  if (!security_.cert.empty() || !security_.user.empty()) {
    const std::string auth = security_.cert.empty()
                                 ? "certauth(username=" + user + ",enable-password)"
                                 : "certauth(username=" + user + ",cert=" + cert + ",key=" + key + ")";
    if (!OpenLayer(auth, waits.handshake, "проверка клиента")) {
      if (failure_ != TNetFailure::NoTls) {
        Fail(TNetFailure::AuthRefused,
             security_.cert.empty()
                 ? (passwordAsked_ && !password_.empty()
                        ? "сервер отклонил пароль пользователя " + SecurityUserName(security_)
                        : "сервер требует пароль пользователя " + SecurityUserName(security_))
                 : "сервер отклонил сертификат клиента " + security_.cert + " (пользователь " +
                       SecurityUserName(security_) + ")");
      }
      return false;
    }
  }
  if (address_.mode == TNetMode::Rfc2217 &&
      !OpenLayer("telnet(rfc2217)", waits.control, "согласование telnet")) {
    if (failure_ == TNetFailure::NoTls) Fail(TNetFailure::Other, failureText_);
    return false;
  }
  return true;
}

bool TNetLine::TryOpen(std::uint32_t baud, const TNetWaits& waits) {
  const TNetAddress& address = address_;
  failure_ = TNetFailure::None;
  failureText_.clear();
  lost_ = false;
  everReceived_ = false;
  rx_.clear();
  rxStart_ = 0;
  confirmedSpeed_ = 0;
  roundTrip_ = std::chrono::milliseconds{0};
  if (AllocOsFuncs(&o_) != 0 || o_ == nullptr) {
    o_ = nullptr;
    Fail(TNetFailure::Other, "the network library could not start");
    return false;
  }
  waiter_ = gensio_os_funcs_alloc_waiter(o_);
  if (waiter_ == nullptr) {
    Fail(TNetFailure::Other, "out of memory");
    Release();
    return false;
  }
  if (address.tls) {
    if (!OpenSecure(waits)) {
      Release();
      return false;
    }
  } else {
    const std::string stack =
        address.mode == TNetMode::Rfc2217 ? "telnet(rfc2217),tcp(nodelay)," : "tcp(nodelay),";
    const std::string gensioText = stack + address.host + "," + address.port;
    const auto start = Clock::now();
    int err = str_to_gensio(gensioText.c_str(), o_, EventThunk, this, &io_);
    if (err != 0) {
      io_ = nullptr;
      FailFromError(err, true);
      Release();
      return false;
    }
    opening_ = true;
    openError_ = 0;
    err = gensio_open(io_, OpenDoneThunk, this);
    if (err != 0) {
      opening_ = false;
      FailFromError(err, true);
      Release();
      return false;
    }
    const auto connectDeadline = start + waits.connect;
    while (opening_ && Clock::now() < connectDeadline) WaitFor(connectDeadline);
    if (opening_) {
      Fail(TNetFailure::Unreachable, "no answer (timed out)");
      Release();
      return false;
    }
    if (openError_ != 0) {
      FailFromError(openError_, true);
      Release();
      return false;
    }
    roundTrip_ = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  }
  gensio_set_read_callback_enable(io_, true);

  if (address.mode == TNetMode::Rfc2217 && baud != 0) {
    // A refusal that has already come needs no request to find it.
    WaitFor(Clock::now());
    if (lost_) {
      Fail(TNetFailure::Busy, "the server closed the connection (busy with another client)");
      Release();
      return false;
    }
    const auto t0 = Clock::now();
    if (!SetSpeed(baud)) {
      if (failure_ == TNetFailure::None) Fail(TNetFailure::NoControl, "the server does not set the line (no RFC 2217)");
      if (failure_ == TNetFailure::Lost) Fail(TNetFailure::Busy, "the server closed the connection (busy with another client)");
      Release();
      return false;
    }
    roundTrip_ = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
    int confirmed = 0;
    const bool framed = Control(kControlDataSize, 8, waits.control, confirmed) &&
                        Control(kControlParity, static_cast<int>(SERGENSIO_PARITY_NONE), waits.control, confirmed) &&
                        Control(kControlStopBits, 1, waits.control, confirmed);
    if (!framed) {
      if (failure_ == TNetFailure::None) Fail(TNetFailure::NoControl, "the server does not set the line (no RFC 2217)");
      Release();
      return false;
    }
  } else {
    // A server busy with another client accepts and closes again at once,
    // usually with a line saying so (an open that sets the line learns it
    // from the server's answer).
    const auto settleDeadline = Clock::now() + waits.settle;
    while (!lost_ && Clock::now() < settleDeadline) WaitFor(settleDeadline);
  }
  if (lost_) {
    const std::string said(rx_.begin() + static_cast<std::ptrdiff_t>(rxStart_),
                           rx_.begin() + static_cast<std::ptrdiff_t>(std::min(rx_.size(), rxStart_ + kMaxRefusalText)));
    Fail(TNetFailure::Busy, said.find("in use") != std::string::npos
                                ? "the line is in use by another client"
                                : "the server closed the connection (it may serve another client)");
    Release();
    return false;
  }
  return true;
}

bool TNetLine::Control(int which, int value, std::chrono::milliseconds wait, int& confirmed) {
  if (io_ == nullptr || lost_) return false;
  struct sergensio* sio = gensio_to_sergensio(io_);
  if (sio == nullptr) return false;
  controlPending_ = true;
  controlError_ = 0;
  int err = 0;
  const auto v = static_cast<unsigned>(value);
  switch (which) {
    case kControlBaud: err = sergensio_baud(sio, v, ControlDoneThunk, this); break;
    case kControlDataSize: err = sergensio_datasize(sio, v, ControlDoneThunk, this); break;
    case kControlParity: err = sergensio_parity(sio, v, ControlDoneThunk, this); break;
    case kControlStopBits: err = sergensio_stopbits(sio, v, ControlDoneThunk, this); break;
    default: err = GE_INVAL; break;
  }
  if (err != 0) {
    controlPending_ = false;
    return false;
  }
  const auto deadline = Clock::now() + wait;
  while (controlPending_ && !lost_ && Clock::now() < deadline) WaitFor(deadline);
  if (controlPending_ || controlError_ != 0) return false;
  confirmed = controlValue_;
  return true;
}

bool TNetLine::SetSpeed(std::uint32_t baud) {
  const TSigpipeGuard guard;
  if (address_.mode != TNetMode::Rfc2217) return false;
  int confirmed = 0;
  if (!Control(kControlBaud, static_cast<int>(baud), kNetWaits.control, confirmed)) return false;
  confirmedSpeed_ = static_cast<std::uint32_t>(confirmed);
  return true;
}

bool TNetLine::ReadSome(std::uint8_t* buffer, std::size_t n, std::chrono::milliseconds wait, std::size_t& got) {
  got = 0;
  if (io_ == nullptr) return false;
  const auto deadline = Clock::now() + wait;
  bool looked = false;
  for (;;) {
    const std::size_t avail = rx_.size() - rxStart_;
    if (avail > 0) {
      got = std::min(avail, n);
      std::memcpy(buffer, rx_.data() + rxStart_, got);
      rxStart_ += got;
      if (rxStart_ == rx_.size()) {
        rx_.clear();
        rxStart_ = 0;
      }
      return true;
    }
    if (lost_) return false;
    // Once past the deadline the bytes that have arrived are still taken.
    if (looked && Clock::now() >= deadline) return true;
    WaitFor(std::max(deadline, Clock::now()));
    looked = true;
  }
}

bool TNetLine::WriteAll(const std::uint8_t* buffer, std::size_t n, std::chrono::milliseconds wait,
                        std::size_t& done) {
  const TSigpipeGuard guard;
  done = 0;
  if (io_ == nullptr || lost_) return false;
  const auto deadline = Clock::now() + wait;
  while (done < n) {
    gensiods count = 0;
    const int err = gensio_write(io_, &count, buffer + done, static_cast<gensiods>(n - done), nullptr);
    if (err != 0) {
      if (!lost_) FailFromError(err, false);
      lost_ = true;
      return false;
    }
    done += static_cast<std::size_t>(count);
    if (done >= n) break;
    if (Clock::now() >= deadline) return false;
    writeReady_ = false;
    gensio_set_write_callback_enable(io_, true);
    while (!writeReady_ && !lost_ && Clock::now() < deadline) WaitFor(deadline);
    if (lost_) return false;
  }
  return true;
}

std::size_t TNetLine::Pending() {
  if (io_ != nullptr && !lost_) WaitFor(Clock::now());
  return rx_.size() - rxStart_;
}

void TNetLine::DiscardInput() {
  if (io_ != nullptr && !lost_) WaitFor(Clock::now());
  rx_.clear();
  rxStart_ = 0;
}

void TNetLine::Close() {
  Release();
}

void TNetLine::Release() {
  const TSigpipeGuard guard;
  if (io_ != nullptr) {
    closing_ = true;
    if (gensio_close(io_, CloseDoneThunk, this) == 0) {
      // Bounded: the library finishes a close on its own, a dead peer included.
      const auto deadline = Clock::now() + kNetWaits.control;
      while (closing_ && Clock::now() < deadline) WaitFor(deadline);
    }
    closing_ = false;
    gensio_free(io_);
    io_ = nullptr;
  }
  ssl_ = nullptr;
  if (waiter_ != nullptr) {
    gensio_os_funcs_free_waiter(o_, waiter_);
    waiter_ = nullptr;
  }
  // The process's set (AllocOsFuncs) stays.
  o_ = nullptr;
  rx_.clear();
  rxStart_ = 0;
  controlPending_ = false;
  opening_ = false;
}

}  // namespace zarvik
