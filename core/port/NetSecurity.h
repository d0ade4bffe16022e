// What a secure network line (rfc2217+tls://, tcp+tls://) needs besides its
// address: the certificates to trust for the server, the client's
// certificate and key or a user name with a password, and the checks of
// those files made before anything is sent.
//
// The keys of the section "Devices" beside COMn:
//   COMn.CA=FILE    the CA (or the server's own self-signed certificate) to
//                   trust; required for a secure device
//   COMn.Cert=FILE  the client's certificate, with
//   COMn.Key=FILE   its private key (readable by its owner only)
//   COMn.User=NAME  the user the server checks (default: the certificate's
//                   common name); without a certificate the password of
//                   that user is asked for each connection and never kept
// A relative file name is taken from the folder of ZarvikConfig.ini.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace zarvik {

struct TNetSecurity {
  std::string ca;
  std::string cert;
  std::string key;
  std::string user;
  // The port's key in the section "Devices", for the messages: "COM7".
  std::string portKey = "COMn";
  // Password authentication: a user and no certificate.
  bool UsesPassword() const { return cert.empty() && key.empty() && !user.empty(); }
};

// The settings of port n (section "Devices", or this process's own entry).
TNetSecurity PortSecurity(int n);
// Sets (or, with an empty ca, removes) this process's own entry for port n.
void SetPortSecurity(int n, const TNetSecurity& security);

// The files of a secure device checked before a connection: "" when they
// will do, otherwise the cause for the user, naming the key to write or the
// command that mends it ("файл ключа k.pem доступен другим пользователям:
// выполните chmod 600 k.pem"). `portKey` is "COM7".
std::string CheckSecurityFiles(const std::string& portKey, const TNetSecurity& security);

// The user name certauth is given: COMn.User, else the certificate's common
// name ("" when neither).
std::string SecurityUserName(const TNetSecurity& security);

// What is read from a server's certificate (PEM text).
struct TServerCertificate {
  bool parsed = false;
  std::string name;    // the common name, else the first DNS name
  std::string names;   // every name it is issued to: "localhost, 127.0.0.1"
  std::string expiry;  // its end of validity, "2027-03-01"
  bool notYetValid = false;
  bool expired = false;
};
TServerCertificate ReadServerCertificate(const std::string& pem);
// Whether the certificate names `host`: an IP address against its IP
// addresses, a name against its DNS names (wildcards as usual) and, when it
// has none, its common name.
bool CertificateNamesHost(const std::string& pem, const std::string& host);

// Where a password for a password-authenticated device comes from: the
// window asks in a dialog, zarvikctl takes ZARVIK_NET_PASSWORD or asks on
// the terminal. False when none is given (cancelled). The password lives
// only for the connection it opens.
inline constexpr const char* kNetPasswordVariable = "ZARVIK_NET_PASSWORD";
using TNetPasswordSource = std::function<bool(const std::string& portKey, const std::string& where,
                                              const std::string& user, std::string& password)>;
void SetNetPasswordSource(TNetPasswordSource source);
bool AskNetPassword(const std::string& portKey, const std::string& where, const std::string& user,
                    std::string& password);
// Overwrites a password before its memory is given back.
void WipePassword(std::string& password);

}  // namespace zarvik
