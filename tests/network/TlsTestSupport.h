// Secure lines for tests: certificates made with openssl in a scratch
// folder (a CA, server certificates good, expired, not yet valid and for
// another host, client certificates from the CA and from a stranger), and
// ser2net serving the simulator's terminal through TLS with certauth (client
// certificate or password) beside plain accepters, all on loopback.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../NetTestSupport.h"

namespace nettest {

// The user ser2net lets in, and its password.
inline constexpr const char* kTlsUser = "engineer";
inline constexpr const char* kTlsPassword = "Kassa-2026!";

// Runs a shell command quietly; whether it succeeded.
inline bool Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The files of a test PKI in `dir`. Keys are ECDSA P-256 (fast to make),
// each readable by its owner only.
class TestPki {
 public:
  explicit TestPki(std::string dir) : dir_(std::move(dir)) {}

  bool Make() {
    const std::string d = dir_;
    const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    // `openssl ca` for the certificates with dates of their own (expired,
    // not yet valid): it takes any start and end date.
    {
      std::ofstream conf(d + "/ca.cnf");
      conf << "[ca]\ndefault_ca=test\n[test]\ndir=" << d << "\ndatabase=" << d << "/index.txt\nserial=" << d
           << "/serial\nnew_certs_dir=" << d << "\ncertificate=" << d << "/ca.crt\nprivate_key=" << d
           << "/ca.key\ndefault_md=sha256\npolicy=any\ncopy_extensions=copy\nunique_subject=no\n"
           << "[any]\ncommonName=supplied\n";
      std::ofstream(d + "/index.txt");
      std::ofstream(d + "/serial") << "1000\n";
    }
    bool ok = Shell("openssl req -x509 " + ec + " -keyout " + d + "/ca.key -out " + d +
                    "/ca.crt -days 30 -subj '/CN=Zarvik Test CA'") &&
              Shell("openssl req -x509 " + ec + " -keyout " + d + "/stranger.key -out " + d +
                    "/stranger.crt -days 30 -subj '/CN=" + kTlsUser + "'");
    ok = ok && Server("server", "localhost", "DNS:localhost,IP:127.0.0.1", "", "") &&
         Server("expired", "localhost", "DNS:localhost,IP:127.0.0.1", "20200101000000Z", "20200201000000Z") &&
         Server("notyet", "localhost", "DNS:localhost,IP:127.0.0.1", "20990101000000Z", "20990201000000Z") &&
         Server("otherhost", "shop12.example", "DNS:shop12.example,IP:10.0.0.12", "", "") &&
         Server("client", kTlsUser, "", "", "");
    if (!ok) return false;
    for (const char* key : {"ca", "stranger", "server", "expired", "notyet", "otherhost", "client"})
      ::chmod((d + "/" + key + ".key").c_str(), 0600);
    return true;
  }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }

 private:
  // A key and a certificate signed by the CA; dates given or 30 days from now.
  bool Server(const std::string& name, const std::string& cn, const std::string& san,
              const std::string& start, const std::string& end) {
    const std::string d = dir_;
    std::string ext;
    if (!san.empty()) ext = " -addext 'subjectAltName=" + san + "'";
    if (!Shell("openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " + d + "/" +
               name + ".key -out " + d + "/" + name + ".csr -subj '/CN=" + cn + "'" + ext)) {
      return false;
    }
    const std::string dates =
        start.empty() ? std::string(" -days 30") : " -startdate " + start + " -enddate " + end;
    return Shell("openssl ca -batch -notext -config " + d + "/ca.cnf -in " + d + "/" + name + ".csr -out " +
                 d + "/" + name + ".crt" + dates);
  }
  std::string dir_;
};

// ser2net in front of one device with the accepters a test names: each a
// YAML connection of its own on a free loopback port.
class Ser2netTls {
 public:
  struct Accepter {
    std::string name;  // the connection's alias
    std::string
        stack;  // the accepter before the address: "telnet(rfc2217),certauth(...),ssl(...),tcp(nodelay)"
    bool auth = false;  // with the authentication options (authdir, allowed users)
    int port = 0;
  };
  Ser2netTls(std::string folder, std::string device)
      : folder_(std::move(folder)), device_(std::move(device)) {}
  ~Ser2netTls() { Kill(); }
  Ser2netTls(const Ser2netTls&) = delete;
  Ser2netTls& operator=(const Ser2netTls&) = delete;

  // The accepter with certauth (client certificate or password) over TLS
  // with the server certificate `cert` (a name in `pki`).
  static std::string SecureStack(const TestPki& pki, const std::string& cert, bool rfc2217) {
    return std::string(rfc2217 ? "telnet(rfc2217)," : "") +
           "certauth(enable-password),ssl(key=" + pki.File(cert + ".key") +
           ",cert=" + pki.File(cert + ".crt") + "),tcp(nodelay)";
  }
  static std::string PlainStack(bool rfc2217) {
    return rfc2217 ? "telnet(rfc2217),tcp(nodelay)" : "tcp(nodelay)";
  }

  int Add(const std::string& name, const std::string& stack, bool auth) {
    const int port = FreeLoopbackPort();
    accepters_.push_back({name, stack, auth, port});
    return port;
  }
  // The user's folder of allowed certificates holds the client CA (and its
  // hashes), and the password file its password.
  bool Start(const TestPki& pki) {
    Kill();
    const std::string auth = folder_ + "/auth";
    const std::string user = auth + "/" + kTlsUser;
    std::filesystem::create_directories(user + "/allowed_certs");
    std::filesystem::copy_file(pki.File("ca.crt"), user + "/allowed_certs/ca.crt",
                               std::filesystem::copy_options::overwrite_existing);
    if (!Shell("openssl rehash " + user + "/allowed_certs")) return false;
    std::ofstream(user + "/password") << kTlsPassword << "\n";
    const std::string config = folder_ + "/ser2net-tls.yaml";
    {
      std::ofstream out(config);
      for (const Accepter& a : accepters_) {
        out << "connection: &" << a.name << "\n"
            << "  accepter: " << a.stack << ",127.0.0.1," << a.port << "\n"
            << "  connector: serialdev," << device_ << ",9600n81,local\n";
        if (a.auth) out << "  options:\n    authdir: " << auth << "\n    allowed-users: " << kTlsUser << "\n";
      }
    }
    const std::string log = folder_ + "/ser2net-tls.log";
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      std::FILE* f = std::fopen(log.c_str(), "a");
      if (f != nullptr) {
        ::dup2(::fileno(f), 1);
        ::dup2(::fileno(f), 2);
      }
      ::execlp("ser2net", "ser2net", "-n", "-d", "-c", config.c_str(), "-P",
               (folder_ + "/ser2net-tls.pid").c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (pid_ < 0) return false;
    const auto deadline = Clock::now() + kListenWait;
    while (Clock::now() < deadline) {
      bool all = true;
      for (const Accepter& a : accepters_) all = all && Listening(a.port);
      if (all) return true;
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  std::string folder_;
  std::string device_;
  std::vector<Accepter> accepters_;
  pid_t pid_ = -1;
};

}  // namespace nettest
