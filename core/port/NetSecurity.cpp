#include "port/NetSecurity.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "port/PortDevices.h"
#include "shell/IniFile.h"
#include "shell/ProjectsVars.h"

namespace zarvik {
namespace {

namespace fs = std::filesystem;

// Key and certificate files are small; anything bigger is not one.
constexpr std::size_t kMaxPemFile = 1 << 20;

std::mutex g_mutex;
std::map<int, TNetSecurity>& Overrides() {
  static std::map<int, TNetSecurity> map;
  return map;
}
TNetPasswordSource& PasswordSource() {
  static TNetPasswordSource source;
  return source;
}

struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;

// An encrypted key is not asked for a pass phrase on the terminal: it is
// refused as no key the program can use.
int NoPassphrase(char* /*buf*/, int /*size*/, int /*rwflag*/, void* /*u*/) {
  return -1;
}

std::string InIniFolder(const std::string& file) {
  if (file.empty() || fs::path(file).is_absolute()) return file;
  const fs::path folder = fs::path(ProgramIniPath()).parent_path();
  return folder.empty() ? file : (folder / file).string();
}

// The whole of a small file, or false with the system's reason.
bool ReadSmallFile(const std::string& path, std::string& text, std::string& why) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  text.clear();
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      why = std::strerror(errno);
      OPENSSL_cleanse(buffer, sizeof buffer);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxPemFile) break;
  }
  OPENSSL_cleanse(buffer, sizeof buffer);
  ::close(fd);
  return true;
}

X509Ptr ParseCertificate(const std::string& pem) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return nullptr;
  return X509Ptr(PEM_read_bio_X509(bio.get(), nullptr, NoPassphrase, nullptr));
}

X509Ptr LoadCertificate(const std::string& path) {
  std::string text, why;
  if (!ReadSmallFile(path, text, why)) return nullptr;
  return ParseCertificate(text);
}

std::string CommonName(X509* x) {
  char cn[256] = {};
  const int n = X509_NAME_get_text_by_NID(X509_get_subject_name(x), NID_commonName, cn, sizeof cn);
  return n > 0 ? std::string(cn, static_cast<std::size_t>(n)) : std::string();
}

std::string DateText(const ASN1_TIME* t) {
  std::tm tm{};
  if (t == nullptr || ASN1_TIME_to_tm(t, &tm) != 1) return "?";
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d", &tm);
  return text;
}

// A file a secure device names: "" when it is there and readable.
std::string CheckReadable(const std::string& what, const std::string& path, const std::string& key,
                          std::string& text) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "нет файла " + what + " " + path + " (" + key + ")";
  std::string why;
  if (!S_ISREG(st.st_mode)) why = std::strerror(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  if (why.empty() && ReadSmallFile(path, text, why)) return {};
  return "файл " + what + " " + path + " (" + key + ") не читается: " + why;
}

}  // namespace

TNetSecurity PortSecurity(int n) {
  {
    std::lock_guard lock(g_mutex);
    if (auto it = Overrides().find(n); it != Overrides().end()) return it->second;
  }
  const TIniFile ini(ProgramIniPath());
  const std::string key = PortKey(n);
  TNetSecurity s;
  s.portKey = key;
  s.ca = InIniFolder(ini.ReadString(kDevicesSection, key + ".CA", ""));
  s.cert = InIniFolder(ini.ReadString(kDevicesSection, key + ".Cert", ""));
  s.key = InIniFolder(ini.ReadString(kDevicesSection, key + ".Key", ""));
  s.user = ini.ReadString(kDevicesSection, key + ".User", "");
  return s;
}

void SetPortSecurity(int n, const TNetSecurity& security) {
  std::lock_guard lock(g_mutex);
  if (security.ca.empty() && security.cert.empty() && security.key.empty() && security.user.empty()) {
    Overrides().erase(n);
  } else {
    TNetSecurity s = security;
    s.portKey = PortKey(n);
    Overrides()[n] = s;
  }
}

std::string CheckSecurityFiles(const std::string& portKey, const TNetSecurity& s) {
  if (s.ca.empty()) {
    return "не задан " + portKey + ".CA: добавьте в [Devices] " + portKey +
           ".CA=ФАЙЛ (сертификат УЦ, подписавшего сертификат сервера, или самоподписанный сертификат "
           "сервера)";
  }
  std::string text;
  if (std::string why = CheckReadable("сертификатов", s.ca, portKey + ".CA", text); !why.empty()) return why;
  if (!ParseCertificate(text)) return "файл " + s.ca + " (" + portKey + ".CA) не сертификат";
  if (s.cert.empty() != s.key.empty()) {
    return "сертификат клиента задаётся вместе с ключом: добавьте в [Devices] " + portKey +
           (s.cert.empty() ? ".Cert=ФАЙЛ" : ".Key=ФАЙЛ");
  }
  if (s.cert.empty()) return {};
  if (std::string why = CheckReadable("сертификата", s.cert, portKey + ".Cert", text); !why.empty())
    return why;
  const X509Ptr cert = ParseCertificate(text);
  if (!cert) return "файл " + s.cert + " (" + portKey + ".Cert) не сертификат";

  struct stat st {};
  if (::stat(s.key.c_str(), &st) != 0) return "нет файла ключа " + s.key + " (" + portKey + ".Key)";
  if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0 && S_ISREG(st.st_mode)) {
    return "файл ключа " + s.key + " доступен другим пользователям: выполните chmod 600 " + s.key;
  }
  std::string keyText;
  const std::string unreadable = CheckReadable("ключа", s.key, portKey + ".Key", keyText);
  if (!unreadable.empty()) return unreadable;
  BioPtr bio(BIO_new_mem_buf(keyText.data(), static_cast<int>(keyText.size())));
  KeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassphrase, nullptr) : nullptr);
  WipePassword(keyText);
  if (!key) return "файл " + s.key + " (" + portKey + ".Key) не закрытый ключ (или ключ зашифрован)";
  if (X509_check_private_key(cert.get(), key.get()) != 1) {
    return "ключ " + s.key + " не подходит к сертификату " + s.cert;
  }
  return {};
}

std::string SecurityUserName(const TNetSecurity& s) {
  if (!s.user.empty()) return s.user;
  if (s.cert.empty()) return {};
  const X509Ptr cert = LoadCertificate(s.cert);
  return cert ? CommonName(cert.get()) : std::string();
}

TServerCertificate ReadServerCertificate(const std::string& pem) {
  TServerCertificate c;
  const X509Ptr x = ParseCertificate(pem);
  if (!x) return c;
  c.parsed = true;
  const std::string cn = CommonName(x.get());
  std::string names = cn;
  std::string firstDns;
  auto* alt = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(x.get(), NID_subject_alt_name, nullptr, nullptr));
  if (alt != nullptr) {
    for (int i = 0; i < sk_GENERAL_NAME_num(alt); ++i) {
      const GENERAL_NAME* g = sk_GENERAL_NAME_value(alt, i);
      std::string one;
      if (g->type == GEN_DNS) {
        const auto* s = ASN1_STRING_get0_data(g->d.dNSName);
        one.assign(reinterpret_cast<const char*>(s),
                   static_cast<std::size_t>(ASN1_STRING_length(g->d.dNSName)));
        if (firstDns.empty()) firstDns = one;
      } else if (g->type == GEN_IPADD) {
        const int len = ASN1_STRING_length(g->d.iPAddress);
        const auto* bytes = ASN1_STRING_get0_data(g->d.iPAddress);
        char text[INET6_ADDRSTRLEN] = {};
        if ((len == 4 && inet_ntop(AF_INET, bytes, text, sizeof text) != nullptr) ||
            (len == 16 && inet_ntop(AF_INET6, bytes, text, sizeof text) != nullptr)) {
          one = text;
        }
      }
      if (!one.empty() && one != cn) names += (names.empty() ? "" : ", ") + one;
    }
    GENERAL_NAMES_free(alt);
  }
  c.name = cn.empty() ? firstDns : cn;
  c.names = names;
  c.expiry = DateText(X509_get0_notAfter(x.get()));
  c.notYetValid = X509_cmp_current_time(X509_get0_notBefore(x.get())) > 0;
  c.expired = X509_cmp_current_time(X509_get0_notAfter(x.get())) < 0;
  return c;
}

bool CertificateNamesHost(const std::string& pem, const std::string& host) {
  const X509Ptr x = ParseCertificate(pem);
  if (!x || host.empty()) return false;
  if (X509_check_ip_asc(x.get(), host.c_str(), 0) == 1) return true;
  unsigned char ip[16];
  const bool isAddress =
      inet_pton(AF_INET, host.c_str(), ip) == 1 || inet_pton(AF_INET6, host.c_str(), ip) == 1;
  if (isAddress) return false;
  return X509_check_host(x.get(), host.data(), host.size(), 0, nullptr) == 1;
}

void SetNetPasswordSource(TNetPasswordSource source) {
  std::lock_guard lock(g_mutex);
  PasswordSource() = std::move(source);
}

bool AskNetPassword(const std::string& portKey, const std::string& where, const std::string& user,
                    std::string& password) {
  TNetPasswordSource source;
  {
    std::lock_guard lock(g_mutex);
    source = PasswordSource();
  }
  password.clear();
  return source && source(portKey, where, user, password);
}

void WipePassword(std::string& password) {
  if (!password.empty()) OPENSSL_cleanse(password.data(), password.size());
  password.clear();
}

}  // namespace zarvik
