// A serial line reached over the network through a serial device server:
// "rfc2217://HOST:PORT" (telnet with the com-port control, so the speed and
// the frame of the remote line are set from here) or "tcp://HOST:PORT" (the
// bytes of the line as they are; the server keeps the speed it was given).
//
// Built on libgensio, driven from the calling thread only: no thread of its
// own, no signal handlers. Every wait has a limit. A write to a connection
// the server has dropped raises no SIGPIPE: the signal is held back in the
// calling thread while the library works and taken away again.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "port/NetSecurity.h"

struct gensio;
struct gensio_os_funcs;
struct gensio_waiter;

namespace zarvik {

enum class TNetMode { Rfc2217, RawTcp };

struct TNetAddress {
  TNetMode mode = TNetMode::RawTcp;
  // TLS to the server ("rfc2217+tls://", "tcp+tls://"); never plain then.
  bool tls = false;
  std::string host;
  std::string port;
  // "shop12:3001" ("[::1]:3001" for an IPv6 address).
  std::string HostPort() const;
  // The device text again: "rfc2217+tls://shop12:3001".
  std::string Device() const;
};

inline constexpr const char* kRfc2217Scheme = "rfc2217://";
inline constexpr const char* kRawTcpScheme = "tcp://";
inline constexpr const char* kRfc2217TlsScheme = "rfc2217+tls://";
inline constexpr const char* kRawTcpTlsScheme = "tcp+tls://";

// Whether a device text names a network line (any of the four schemes).
bool IsNetDevice(const std::string& device);
// Whether it names a secure one (a "+tls" scheme).
bool IsSecureNetDevice(const std::string& device);
// "rfc2217://HOST:PORT" or "tcp://HOST:PORT" (or either with "+tls"), HOST
// a name, an IPv4 address or an IPv6 address in brackets, PORT 1..65535.
// False for anything else.
bool ParseNetDevice(const std::string& device, TNetAddress& out);
// Whether a host is this machine (localhost, 127.0.0.0/8, ::1).
bool IsLoopbackHost(const std::string& host);

enum class TNetFailure {
  None,
  Refused,      // nothing listens at the address
  Unresolved,   // the name does not resolve
  Unreachable,  // no route, host down, or no answer to the connection
  Busy,         // the server already serves another client on that line
  Lost,         // the connection ended during use
  NoControl,    // the server does not take the com-port control (RFC 2217)
  // Secure lines: nothing has been sent to the register in any of these.
  Settings,     // the device's files or keys will not do (CheckSecurityFiles)
  Untrusted,    // the server's certificate: not from COMn.CA, expired, not yet valid
  WrongHost,    // the server's certificate names another host
  AuthRefused,  // the server refused the client's certificate, user or password
  NoTls,        // the server does not answer TLS (a plain server)
  TlsServer,    // a plain address, and the server speaks TLS
  Other,
};

// The waits of a network line.
struct TNetWaits {
  // Connecting (name resolution and the connection itself).
  std::chrono::milliseconds connect{5000};
  // A com-port control request until the server confirms it.
  std::chrono::milliseconds control{3000};
  // How long a raw connection is watched after it opened for the server
  // closing it again at once (a server busy with another client).
  std::chrono::milliseconds settle{150};
  // How long a server that refuses as busy is asked again: one that is still
  // releasing the line of the connection closed just before (ours, when a
  // port is reopened) refuses for a moment.
  std::chrono::milliseconds busyRetry{1500};
  // The TLS handshake and the authentication of a secure line, each.
  std::chrono::milliseconds handshake{6000};
};
inline constexpr TNetWaits kNetWaits{};

class TNetLine {
 public:
  TNetLine() = default;
  ~TNetLine();
  TNetLine(const TNetLine&) = delete;
  TNetLine& operator=(const TNetLine&) = delete;

  // Connects; over RFC 2217 the remote line is then set to `baud`, 8 data
  // bits, no parity and 1 stop bit (baud 0: left as it is). False with Failure() and FailureText()
  // when it did not work out (nothing is left open then).
  // A secure address (tls) is opened with `security` (its files checked
  // first) and, for password authentication, `password`, which is wiped
  // once the connection is made or has failed.
  bool Open(const TNetAddress& address, std::uint32_t baud, const TNetWaits& waits = kNetWaits,
            const TNetSecurity& security = {}, std::string password = {});
  void Close();
  // Connected, and the connection has not been lost.
  bool IsOpen() const { return io_ != nullptr && !lost_; }
  // Connected at all (also after a loss, until Close).
  bool IsConnected() const { return io_ != nullptr; }

  // Up to n bytes: those already received at once, otherwise the first that
  // arrive within `wait`. False when the connection is lost (got may still
  // be > 0 with bytes received before the loss).
  bool ReadSome(std::uint8_t* buffer, std::size_t n, std::chrono::milliseconds wait, std::size_t& got);
  // All n bytes handed to the connection within `wait`; false on a loss or
  // when the time ran out (done tells how many went).
  bool WriteAll(const std::uint8_t* buffer, std::size_t n, std::chrono::milliseconds wait, std::size_t& done);
  // Drops whatever has been received and not read yet.
  void DiscardInput();
  // Bytes received and not read yet.
  std::size_t Pending();

  // RFC 2217: the remote line's speed; true when the server confirmed it.
  // Raw TCP: false (the speed is the server's).
  bool SetSpeed(std::uint32_t baud);
  // The speed the server last confirmed (0 for raw TCP or none yet).
  std::uint32_t ConfirmedSpeed() const { return confirmedSpeed_; }

  // The round trip seen while opening: the com-port control request over
  // RFC 2217, the connection itself over raw TCP.
  std::chrono::milliseconds RoundTrip() const { return roundTrip_; }

  // A plain line the server closed without having sent a byte: whether the
  // server speaks TLS (asked on a connection of its own, which goes no
  // further than the TLS greeting); if so the failure says which address to
  // write instead. Called outside the library's callbacks only.
  void ExplainLoss();
  // Whether the server at `address` answers a TLS greeting.
  static bool ServerSpeaksTls(const TNetAddress& address, std::chrono::milliseconds wait);

  // Secure lines: the server's certificate as it was checked (parsed once
  // the server has shown it, also when it was refused).
  const TServerCertificate& ServerCertificate() const { return serverCert_; }
  // The server's certificate passed every check (chain, validity, host).
  bool ServerVerified() const { return serverVerified_; }

  TNetFailure Failure() const { return failure_; }
  // The cause in the words a system message uses: "connection refused",
  // "name does not resolve", "connection lost", ...
  const std::string& FailureText() const { return failureText_; }
  const TNetAddress& Address() const { return address_; }

  // Used by the library's callbacks.
  int OnEvent(int event, int err, unsigned char* buf, std::size_t* buflen, const char* const* auxdata);
  void OnControlDone(int err, int value);
  void OnOpenDone(int err);
  void OnCloseDone();

 private:
  bool TryOpen(std::uint32_t baud, const TNetWaits& waits);
  // Opens the stack layer by layer: TCP, then TLS, authentication and
  // telnet each with its own wait.
  bool OpenSecure(const TNetWaits& waits);
  bool OpenLayer(const std::string& text, std::chrono::milliseconds wait, const char* phase);
  int CheckServerCertificate(int err, const char* const* auxdata);
  bool WaitFor(std::chrono::steady_clock::time_point deadline);
  bool Control(int which, int value, std::chrono::milliseconds wait, int& confirmed);
  void Fail(TNetFailure failure, std::string text);
  void FailFromError(int err, bool opening);
  void Release();

  gensio_os_funcs* o_ = nullptr;
  gensio_waiter* waiter_ = nullptr;
  gensio* io_ = nullptr;
  TNetAddress address_;
  std::vector<std::uint8_t> rx_;
  std::size_t rxStart_ = 0;
  bool lost_ = false;
  bool writeReady_ = false;
  bool opening_ = false;
  int openError_ = 0;
  bool closing_ = false;
  bool controlPending_ = false;
  int controlError_ = 0;
  int controlValue_ = 0;
  std::uint32_t confirmedSpeed_ = 0;
  std::chrono::milliseconds roundTrip_{0};
  TNetFailure failure_ = TNetFailure::None;
  std::string failureText_;
  TNetSecurity security_;
  std::string password_;
  bool passwordAsked_ = false;
  bool everReceived_ = false;
  bool tlsProbe_ = false;
  bool sawTls_ = false;
  gensio* ssl_ = nullptr;
  TServerCertificate serverCert_;
  bool serverVerified_ = false;
  // A failure found by a callback during the handshake, kept over the
  // library's more general error.
  TNetFailure handshakeFailure_ = TNetFailure::None;
  std::string handshakeText_;
};

// The text of a failure for the user, in the form every message uses:
// "нет соединения с shop12:3001: connection refused".
std::string NetFailureMessage(const TNetAddress& address, const std::string& cause);

}  // namespace zarvik
