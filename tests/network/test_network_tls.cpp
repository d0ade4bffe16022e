// Secure network lines: ser2net with TLS and certauth on loopback in front
// of the simulator, reached as rfc2217+tls:// and tcp+tls:// with a client
// certificate or a password. The same results as on the local terminal;
// every refusal named, in bounded time, with nothing sent to the register.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CtlProcess.h"
#include "CtlSimSupport.h"
#include "NetTestSupport.h"
#include "Simulator.h"
#include "TestSupport.h"
#include "TlsTestSupport.h"
#include "port/Comport.h"
#include "port/NetLine.h"
#include "port/NetSecurity.h"
#include "port/PortDevices.h"
#include "port/PortTable.h"
#include "shell/TextCodec.h"

namespace zarvik {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using nettest::Ser2netTls;
using nettest::TestPki;

constexpr int kLocalPort = 236;
constexpr int kSecurePort = 237;
constexpr int kPlainPort = 238;
constexpr int kSer2netAttempts = 3;
// A refused connection ends within the connect wait and the handshake wait
// (and the busy server's retries); generous for a sanitizer build.
constexpr auto kRefusalLimit = 60s;

sim::RegisterState Shop() {
  sim::RegisterState s;
  s.serialNumber = "000555000222";
  s.options.assign(40, 0);
  for (std::size_t i = 0; i < s.options.size(); ++i) s.options[i] = static_cast<std::uint8_t>(i % 3);
  s.maxCountDepat = 4;
  s.departments[0] = {sim::kDepGoods, "Бакалея", 1, 150000};
  s.departments[1] = {sim::kDepService, "Доставка", 2, 0};
  // The taxes its goods use (tax groups 1 and 2).
  s.taxes[0] = {sim::kInUse, 1, 2000, "НДС 20%"};
  s.taxes[1] = {sim::kInUse, 1, 1000, "НДС 10%"};
  s.goodsCapacity = 4000;
  for (int code = 1; code <= 60; ++code) s.goods[code] = sim::GeneratedGoods(code, s);
  s.journal.push_back(sim::SumRecord(0xA1, 0, 1000, 4550, 1, 1));
  s.journal.push_back(sim::PaymentRecord(0, 0, 4550, 5000));
  s.journal.push_back(sim::CloseRecord(0, 1, "31.12.25", "12:00", true, 1));
  return s;
}

// zarvikctl's output without the lines that differ between runs or ports.
std::string Comparable(const std::string& text) {
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(at, end - at);
    if (line.rfind("Время:", 0) != 0 && line.rfind("Порт:", 0) != 0) out += line;
    at = end;
  }
  return out;
}

class SecureLine : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir.File("pki"));
    ASSERT_TRUE(pki.Make()) << "openssl could not make the test certificates";
    simulator = std::make_unique<sim::Simulator>(Shop());
    ASSERT_TRUE(simulator->OpenPty(slave)) << simulator->LastError();
    ASSERT_TRUE(simulator->Start());
    // A free port is free only until someone binds it: another set is tried.
    bool started = false;
    for (int attempt = 0; attempt < kSer2netAttempts && !started; ++attempt) {
      server = std::make_unique<Ser2netTls>(dir.Path(), slave);
      tlsRfc = server->Add("tlsrfc", Ser2netTls::SecureStack(pki, "server", true), true);
      tlsRaw = server->Add("tlsraw", Ser2netTls::SecureStack(pki, "server", false), true);
      expired = server->Add("expired", Ser2netTls::SecureStack(pki, "expired", false), true);
      notYet = server->Add("notyet", Ser2netTls::SecureStack(pki, "notyet", false), true);
      otherHost = server->Add("otherhost", Ser2netTls::SecureStack(pki, "otherhost", false), true);
      plainRaw = server->Add("plainraw", Ser2netTls::PlainStack(false), false);
      plainRfc = server->Add("plainrfc", Ser2netTls::PlainStack(true), false);
      started = server->Start(pki);
    }
    ASSERT_TRUE(started) << "ser2net did not start";
  }
  void TearDown() override {
    server.reset();
    if (simulator) simulator->Close();
    for (const int n : {kLocalPort, kSecurePort, kPlainPort}) {
      SetPortDevice(n, "");
      SetPortSecurity(n, {});
    }
  }
  static std::string At(const char* scheme, int port) {
    return scheme + std::string("127.0.0.1:") + std::to_string(port);
  }
  // The settings: the local terminal, the secure device with `keys`
  // ("COM237.CA=..." lines) and a plain one.
  void WriteIni(const std::string& secureDevice, const std::vector<std::string>& keys,
                const std::string& plainDevice = {}) {
    std::string text = "[Port]\r\nCOMPort=" + std::to_string(kLocalPort) +
                       "\r\nSpeed=19200\r\n[NET]\r\nNUMBER=1\r\n[Backup]\r\nENABLED=0\r\n[Devices]\r\nCOM" +
                       std::to_string(kLocalPort) + "=" + slave + "\r\nCOM" + std::to_string(kSecurePort) +
                       "=" + secureDevice + "\r\n";
    for (const std::string& k : keys) text += "COM" + std::to_string(kSecurePort) + "." + k + "\r\n";
    if (!plainDevice.empty()) text += "COM" + std::to_string(kPlainPort) + "=" + plainDevice + "\r\n";
    test::WriteAll(dir.File("ZarvikConfig.ini"), text);
  }
  std::vector<std::string> CertKeys(const std::string& ca = "ca.crt") const {
    return {"CA=" + pki.File(ca), "Cert=" + pki.File("client.crt"), "Key=" + pki.File("client.key")};
  }
  std::vector<std::string> PasswordKeys() const {
    return {"CA=" + pki.File("ca.crt"), std::string("User=") + nettest::kTlsUser};
  }
  test::RunResult Ctl(int portNumber, std::vector<std::string> args,
                      const std::vector<std::string>& env = {}) {
    args.insert(args.begin(), {"--port", std::to_string(portNumber)});
    test::CtlProcess process(dir.Path(), args, {}, false, {}, env);
    return process.Wait(180s);
  }

  test::TempDir dir;
  TestPki pki{dir.File("pki")};
  std::string slave;
  std::unique_ptr<sim::Simulator> simulator;
  std::unique_ptr<Ser2netTls> server;
  int tlsRfc = 0, tlsRaw = 0, expired = 0, notYet = 0, otherHost = 0, plainRaw = 0, plainRfc = 0;
};

// Everything reads and writes through both secure modes and both kinds of
// authentication as through the local terminal.
struct SecureMode {
  const char* name;
  bool rfc2217;
  bool password;
  // Every read and write, or (the other pairings of mode and
  // authentication) the connection and identification only.
  bool full;
};

class SecureLineModes : public SecureLine, public ::testing::WithParamInterface<SecureMode> {};

TEST_P(SecureLineModes, SameResultsAsTheLocalLine) {
  const SecureMode mode = GetParam();
  const std::string device = mode.rfc2217 ? At(kRfc2217TlsScheme, tlsRfc) : At(kRawTcpTlsScheme, tlsRaw);
  WriteIni(device, mode.password ? PasswordKeys() : CertKeys());
  const std::vector<std::string> env =
      mode.password
          ? std::vector<std::string>{std::string(kNetPasswordVariable) + "=" + nettest::kTlsPassword}
          : std::vector<std::string>{};
  std::vector<std::vector<std::string>> reads = {{"info"}};
  if (mode.full) reads.insert(reads.end(), {{"options", "get"}, {"goods", "read-all"}, {"journal", "read"}});
  for (const auto& args : reads) {
    const test::RunResult local = Ctl(kLocalPort, args);
    ASSERT_EQ(local.status, 0) << args[0] << ": " << local.err;
    const test::RunResult secure = Ctl(kSecurePort, args, env);
    ASSERT_EQ(secure.status, 0) << args[0] << ": " << secure.err;
    EXPECT_EQ(Comparable(secure.out), Comparable(local.out)) << args[0];
    // A password goes nowhere but to the server.
    EXPECT_EQ(secure.err.find(nettest::kTlsPassword), std::string::npos);
    EXPECT_EQ(secure.out.find(nettest::kTlsPassword), std::string::npos);
  }
  if (!mode.full) return;
  // A settings round trip and a goods write through the secure line read
  // back on the local one.
  ASSERT_EQ(Ctl(kSecurePort, {"options", "set", "3=2"}, env).status, 0);
  EXPECT_EQ(simulator->State().options[2], 2);
  // (A write keeps only what the register can print: the local write of the
  // same file is the measure.)
  ASSERT_EQ(Ctl(kLocalPort, {"goods", "read-all", "--out", "goods.csv"}).status, 0);
  simulator->ModifyState([](sim::RegisterState& s) { s.goods.clear(); });
  ASSERT_EQ(Ctl(kLocalPort, {"goods", "write", "goods.csv"}).status, 0);
  const auto writtenLocally = simulator->State().goods;
  simulator->ModifyState([](sim::RegisterState& s) { s.goods.clear(); });
  const test::RunResult written = Ctl(kSecurePort, {"goods", "write", "goods.csv"}, env);
  ASSERT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(simulator->State().goods.size(), 60u);
  EXPECT_TRUE(simulator->State().goods == writtenLocally);
  // Neither the settings nor the log keep the password.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.Path())) {
    if (!entry.is_regular_file() || entry.path().string().find("/auth/") != std::string::npos) continue;
    EXPECT_EQ(test::ReadAll(entry.path().string()).find(nettest::kTlsPassword), std::string::npos)
        << entry.path();
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, SecureLineModes,
                         ::testing::Values(SecureMode{"Rfc2217Certificate", true, false, true},
                                           SecureMode{"RawTcpPassword", false, true, true},
                                           SecureMode{"Rfc2217Password", true, true, false},
                                           SecureMode{"RawTcpCertificate", false, false, false}),
                         [](const auto& p) { return std::string(p.param.name); });

// Each refusal ends the command with exit status 1, names the port and the
// cause, in bounded time, and not one command reaches the register.
TEST_F(SecureLine, EveryRefusalIsNamedAndNothingIsWritten) {
  const std::string exposedKey = pki.File("exposed.key");
  std::filesystem::copy_file(pki.File("client.key"), exposedKey);
  ::chmod(exposedKey.c_str(), 0644);
  const std::string certAsKey = pki.File("cert-as.key");
  std::filesystem::copy_file(pki.File("client.crt"), certAsKey);
  ::chmod(certAsKey.c_str(), 0600);
  const std::string folderAsKey = pki.File("folder.key");
  std::filesystem::create_directory(folderAsKey);
  ::chmod(folderAsKey.c_str(), 0700);
  const std::string password = std::string(kNetPasswordVariable) + "=" + nettest::kTlsPassword;
  const auto withKey = [&](const std::string& key) {
    return std::vector<std::string>{"CA=" + pki.File("ca.crt"), "Cert=" + pki.File("client.crt"),
                                    "Key=" + key};
  };
  struct Case {
    std::string name;
    std::string device;
    std::vector<std::string> keys;
    std::vector<std::string> env;
    std::string message;
    // The bytes of a TLS greeting reach a plain server's line (as noise, no
    // command).
    bool lineTouched = false;
  };
  const std::vector<Case> cases = {
      {"untrusted",
       At(kRfc2217TlsScheme, tlsRfc),
       CertKeys("stranger.crt"),
       {},
       "сертификат сервера не заверен"},
      {"expired", At(kRawTcpTlsScheme, expired), CertKeys(), {}, "срок сертификата сервера истёк 2020-02-01"},
      {"not yet valid", At(kRawTcpTlsScheme, notYet), CertKeys(), {}, "сертификат сервера ещё не действует"},
      {"other host",
       At(kRawTcpTlsScheme, otherHost),
       CertKeys(),
       {},
       "сертификат сервера выдан не на 127.0.0.1, а на shop12.example, 10.0.0.12"},
      {"client certificate refused",
       At(kRawTcpTlsScheme, tlsRaw),
       {"CA=" + pki.File("ca.crt"), "Cert=" + pki.File("stranger.crt"), "Key=" + pki.File("stranger.key")},
       {},
       "сервер отклонил сертификат клиента"},
      {"password refused",
       At(kRfc2217TlsScheme, tlsRfc),
       PasswordKeys(),
       {std::string(kNetPasswordVariable) + "=wrong"},
       "сервер отклонил пароль пользователя engineer"},
      {"no password",
       At(kRfc2217TlsScheme, tlsRfc),
       PasswordKeys(),
       {},
       "не введён пароль пользователя engineer"},
      {"no CA",
       At(kRawTcpTlsScheme, tlsRaw),
       {},
       {password},
       "не задан COM237.CA: добавьте в [Devices] COM237.CA="},
      {"key missing", At(kRawTcpTlsScheme, tlsRaw), withKey(pki.File("none.key")), {}, "нет файла ключа "},
      {"key unreadable", At(kRawTcpTlsScheme, tlsRaw), withKey(folderAsKey), {}, "не читается"},
      {"not a key", At(kRawTcpTlsScheme, tlsRaw), withKey(certAsKey), {}, "не закрытый ключ"},
      {"key readable by others",
       At(kRawTcpTlsScheme, tlsRaw),
       withKey(exposedKey),
       {},
       "доступен другим пользователям: выполните chmod 600 " + exposedKey},
      {"plain raw server behind +tls",
       At(kRawTcpTlsScheme, plainRaw),
       CertKeys(),
       {},
       "нет ответа: рукопожатие TLS",
       true},
      {"plain telnet server behind +tls",
       At(kRfc2217TlsScheme, plainRfc),
       CertKeys(),
       {},
       "сервер не говорит по TLS"},
      {"TLS server behind tcp://",
       At(kRawTcpScheme, tlsRaw),
       {},
       {},
       "сервер закрыл соединение: он ждёт TLS; укажите COM237=" + At(kRawTcpTlsScheme, tlsRaw)},
      {"TLS server behind rfc2217://",
       At(kRfc2217Scheme, tlsRfc),
       {},
       {},
       "сервер закрыл соединение: он ждёт TLS; укажите COM237=" + At(kRfc2217TlsScheme, tlsRfc)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteIni(c.device, c.keys);
    const auto before = simulator->LineByteCounts().fromPc;
    const auto start = Clock::now();
    const test::RunResult r = Ctl(kSecurePort, {"info"}, c.env);
    const auto took = Clock::now() - start;
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("COM237"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_LT(took, kRefusalLimit);
    std::printf("%-32s %5lld ms  %s\n", c.name.c_str(),
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()),
                r.err.substr(0, r.err.find('\n')).c_str());
    EXPECT_TRUE(simulator->State().commandsExecuted.empty()) << "a command reached the register";
    if (!c.lineTouched) {
      EXPECT_EQ(simulator->LineByteCounts().fromPc, before) << "bytes reached the register";
    }
  }
  EXPECT_EQ(simulator->Stats().rxSeq, 0);
}

// The port lists say which network ports are secure, with the server's
// certificate; a plain port to another host is warned of once a session.
TEST_F(SecureLine, PortListsShowTlsAndPlainLines) {
  WriteIni(At(kRfc2217TlsScheme, tlsRfc), CertKeys(), At(kRawTcpScheme, plainRaw));
  const test::RunResult ports = Ctl(kLocalPort, {"ports", "--all"});
  ASSERT_EQ(ports.status, 0) << ports.err;
  EXPECT_NE(ports.out.find("доступен по сети, TLS: localhost, до "), std::string::npos) << ports.out;
  EXPECT_NE(ports.out.find("доступен по сети, без защиты"), std::string::npos) << ports.out;
  // A password device is listed without its password: a verified server
  // that asks for one is reachable.
  SetPortDevice(kSecurePort, At(kRawTcpTlsScheme, tlsRaw));
  SetPortSecurity(kSecurePort, {pki.File("ca.crt"), "", "", nettest::kTlsUser});
  const TPortEntry entry = ProbePort(kSecurePort);
  EXPECT_EQ(entry.state, TPortState::Free) << entry.systemText;
  EXPECT_TRUE(entry.secure);
  EXPECT_EQ(entry.certName, "localhost");
  SetPortSecurity(kSecurePort, {pki.File("stranger.crt"), "", "", nettest::kTlsUser});
  const TPortEntry untrusted = ProbePort(kSecurePort);
  EXPECT_EQ(untrusted.state, TPortState::Refused);
  EXPECT_NE(PortStateText(untrusted).find("сертификат сервера не заверен"), std::string::npos)
      << PortStateText(untrusted);
  EXPECT_EQ(simulator->Stats().rxSeq, 0);
}

// An IPv4 address of this machine that is not the loopback, or "".
std::string OwnAddress() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return {};
  std::string found;
  for (ifaddrs* a = list; a != nullptr && found.empty(); a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET || (a->ifa_flags & IFF_LOOPBACK) != 0)
      continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
    if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr) found = text;
  }
  ::freeifaddrs(list);
  return found;
}

TEST(PlainLineWarning, LoopbackIsNotWarnedAnotherHostOnceASession) {
  struct Case {
    const char* host;
    bool loopback;
  };
  for (const Case& c :
       {Case{"localhost", true}, Case{"127.0.0.1", true}, Case{"127.3.2.1", true}, Case{"::1", true},
        Case{"shop12", false}, Case{"10.0.0.7", false}, Case{"128.0.0.1", false}, Case{"fe80::1", false}}) {
    EXPECT_EQ(IsLoopbackHost(c.host), c.loopback) << c.host;
  }
  const std::string own = OwnAddress();
  if (own.empty()) GTEST_SKIP() << "no address but the loopback";
  // A listener on this machine's own address stands for a server on
  // another host: the kernel takes the connection, nobody closes it.
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(s, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  ASSERT_EQ(::inet_pton(AF_INET, own.c_str(), &a.sin_addr), 1);
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(s, 4), 0);
  ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
  const std::string device = "tcp://" + own + ":" + std::to_string(ntohs(a.sin_port));
  test::RecordingConsole console;
  SetConsole(&console);
  SetPortDevice(kPlainPort, device);
  for (int round = 0; round < 2; ++round) {
    TComPort port;
    ASSERT_TRUE(port.SetPortNumber(kPlainPort));
    EXPECT_TRUE(port.Open()) << console.AllText();
    port.Close();
  }
  SetPortDevice(kPlainPort, "");
  SetConsole(nullptr);
  ::close(s);
  const std::string text = console.AllText();
  const std::string warning = "линия не защищена: COM238 (" + device + ")";
  EXPECT_EQ(test::Occurrences(text, warning), 1) << text;
  EXPECT_NE(text.find("tcp+tls://" + own), std::string::npos) << text;
}

// A fleet run over registers behind secure lines (a client certificate,
// a password), a plain network line and a terminal: every one is written.
TEST(SecureFleet, SecureAndPlainLinesInOneRun) {
  constexpr int kFirst = 250;
  test::TempDir dir;
  std::filesystem::create_directory(dir.File("pki"));
  TestPki pki(dir.File("pki"));
  ASSERT_TRUE(pki.Make());
  test::FleetShopSims shop;
  shop.Start(4, false);
  ASSERT_EQ(shop.Count(), 4);
  std::vector<std::unique_ptr<Ser2netTls>> secure;
  std::vector<std::string> devices = shop.terminals;
  for (int k = 0; k < 2; ++k) {
    const std::string folder = dir.File("tls" + std::to_string(k));
    std::filesystem::create_directory(folder);
    bool started = false;
    for (int attempt = 0; attempt < kSer2netAttempts && !started; ++attempt) {
      secure.push_back(std::make_unique<Ser2netTls>(folder, shop.terminals[static_cast<std::size_t>(k)]));
      const int port = secure.back()->Add("shop", Ser2netTls::SecureStack(pki, "server", k == 0), true);
      started = secure.back()->Start(pki);
      devices[static_cast<std::size_t>(k)] =
          std::string(k == 0 ? kRfc2217TlsScheme : kRawTcpTlsScheme) + "127.0.0.1:" + std::to_string(port);
      if (!started) secure.pop_back();
    }
    ASSERT_TRUE(started);
  }
  const std::string plainFolder = dir.File("plain");
  std::filesystem::create_directory(plainFolder);
  nettest::Ser2net plain(plainFolder, shop.terminals[2], nettest::FreeLoopbackPort(),
                         nettest::FreeLoopbackPort());
  ASSERT_TRUE(plain.Start());
  devices[2] = plain.RawTcp();
  test::WriteFleetFiles(dir, kFirst, devices, test::ShopNames(4));
  // The secure devices' keys beside them: register 0 with a certificate,
  // register 1 with a password.
  std::string ini = test::ReadAll(dir.File("ZarvikConfig.ini"));
  const std::string k0 = "COM" + std::to_string(kFirst);
  const std::string k1 = "COM" + std::to_string(kFirst + 1);
  ini += k0 + ".CA=" + pki.File("ca.crt") + "\r\n" + k0 + ".Cert=" + pki.File("client.crt") + "\r\n" + k0 +
         ".Key=" + pki.File("client.key") + "\r\n" + k1 + ".CA=" + pki.File("ca.crt") + "\r\n" + k1 +
         ".User=" + nettest::kTlsUser + "\r\n";
  test::WriteAll(dir.File("ZarvikConfig.ini"), ini);
  test::WriteAll(dir.File("big.conf"), test::kBigEdit);
  test::CtlProcess fleet(dir.Path(), {"fleet", "fleet.ini", "config", "apply", "big.conf", "--no-backup"}, {},
                         false, {}, {std::string(kNetPasswordVariable) + "=" + nettest::kTlsPassword});
  const test::RunResult r = fleet.Wait(std::chrono::minutes(5));
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Выполнено на 4 из 4 ККМ"), std::string::npos) << r.out << r.err;
  for (int k = 0; k < 4; ++k) EXPECT_EQ(test::SettingsWrites(shop[k].State()), test::kBigEditWrites) << k;
  EXPECT_EQ(r.err.find(nettest::kTlsPassword), std::string::npos);
  secure.clear();
  plain.Kill();
  shop.Close();
}

}  // namespace
}  // namespace zarvik
