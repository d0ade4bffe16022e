// Figures of a register on the network: a goods read-all through ser2net on
// loopback (telnet with the com-port control, and raw TCP) against the same
// read through the local pseudo-terminal, and through a delaying proxy of
// our own (round trips of 2 x each delay); and through ser2net with TLS and
// certauth (a client certificate), rfc2217+tls:// and tcp+tls://, with the
// time of opening the port (connection, handshakes, line settings) beside
// each row and the ratios of TLS against plain RFC 2217 and the local line.
//
// The simulator is paced at the line speed. For each row it prints the time
// measured, the floor and the ratio: for the local line the floor is the
// line time of every byte in both directions (10 bits a byte); a network
// row's floor is the local row's measured time plus one round trip for each
// packet the PC sends (each waits for the register's answer).
//
//   bench_network [--baud 115200] [--goods 4000] [--delays 0,25,50]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../tests/NetTestSupport.h"
#include "../tests/network/TlsTestSupport.h"
#include "BenchSupport.h"
#include "Scenario.h"
#include "Simulator.h"
#include "port/Comport.h"
#include "port/NetLine.h"
#include "port/NetSecurity.h"
#include "port/PortDevices.h"
#include "protocol/U_protocolkkm.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kBenchPort = 251;

struct Result {
  bool ok = false;
  int records = 0;
  double seconds = 0.0;
  std::size_t pcPackets = 0;
  std::uint64_t bytes = 0;
  std::chrono::milliseconds roundTrip{0};
  double connectSeconds = 0.0;
};

Result ReadAll(zarvik::sim::Simulator& sim, const std::string& device, std::uint32_t baud) {
  Result r;
  zarvik::SetPortDevice(kBenchPort, device);
  zarvik::TComPort port;
  zarvik::TKKM kkm(&port);
  zarvik::TProtocolKKM protocol(&kkm);
  if (!port.SetPortNumber(kBenchPort) || !port.SetBaudRate(baud)) return r;
  const auto opening = Clock::now();
  if (!port.Open()) return r;
  r.connectSeconds = std::chrono::duration<double>(Clock::now() - opening).count();
  r.roundTrip = port.LatencyAllowance();
  const auto before = sim.Stats().received.size();
  const auto bytesBefore = sim.LineByteCounts();
  const auto start = Clock::now();
  r.ok = protocol.ReadAllGoods([&](zarvik::TMessageBuffer&, bool&) { ++r.records; });
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.pcPackets = sim.Stats().received.size() - before;
  const auto bytesAfter = sim.LineByteCounts();
  r.bytes = (bytesAfter.fromPc - bytesBefore.fromPc) + (bytesAfter.toPc - bytesBefore.toPc);
  port.Close();
  zarvik::SetPortDevice(kBenchPort, "");
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  int baud = 115200;
  int goods = 4000;
  std::vector<int> delays{0, 25, 50};
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--baud" && hasValue) {
      baud = std::atoi(argv[++i]);
    } else if (a == "--goods" && hasValue) {
      goods = std::atoi(argv[++i]);
    } else if (a == "--delays" && hasValue) {
      delays = zarvik::bench::IntList(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: bench_network [--baud N] [--goods 1..4000] [--delays MS,MS,...]\n");
      return 2;
    }
  }
  if (!zarvik::IsAllowedBaudRate(static_cast<std::uint32_t>(baud)) || goods < 1 || goods > 4000) {
    std::fprintf(stderr, "bench_network: a port speed and 1..4000 goods, please\n");
    return 2;
  }
  zarvik::sim::Scenario scenario;
  std::string error;
  if (!zarvik::sim::LoadScenarioText(zarvik::bench::ShopScenario(goods, 10), scenario, error)) {
    std::fprintf(stderr, "bench_network: scenario: %s\n", error.c_str());
    return 1;
  }
  zarvik::sim::Simulator sim(scenario);
  std::string slave;
  if (!sim.OpenPty(slave)) {
    std::fprintf(stderr, "bench_network: %s\n", sim.LastError().c_str());
    return 1;
  }
  sim.SetPacing(baud, true);
  if (!sim.Start()) return 1;
  const std::string folder = std::filesystem::temp_directory_path() / ("bench_network." + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const int rfcPort = nettest::FreeLoopbackPort();
  int tcpPort = nettest::FreeLoopbackPort();
  while (tcpPort == rfcPort) tcpPort = nettest::FreeLoopbackPort();
  nettest::Ser2net server(folder, slave, rfcPort, tcpPort);
  if (!server.Start()) {
    std::fprintf(stderr, "bench_network: ser2net did not start (is it installed?)\n");
    return 1;
  }
  const auto ubaud = static_cast<std::uint32_t>(baud);
  std::printf("goods read-all, %d records at %d baud, paced simulator\n", goods, baud);
  std::printf("%-28s %8s %10s %10s %7s %10s %s\n", "line", "records", "measured", "floor", "ratio", "connect",
              "round trip");
  const Result local = ReadAll(sim, slave, ubaud);
  const double lineSeconds = static_cast<double>(local.bytes) * zarvik::bench::kBitsPerByte / baud;
  const auto print = [](const std::string& name, const Result& r, double floor) {
    std::printf("%-28s %8d %9.2fs %9.2fs %7.3f %8.1fms %lld ms%s\n", name.c_str(), r.records, r.seconds,
                floor, floor > 0 ? r.seconds / floor : 0.0, r.connectSeconds * 1000.0,
                static_cast<long long>(r.roundTrip.count()), r.ok ? "" : "  FAILED");
  };
  print("local pty", local, lineSeconds);
  const auto netFloor = [&](const Result& r, double rtt) {
    return local.seconds + static_cast<double>(r.pcPackets) * rtt;
  };
  const Result rfc = ReadAll(sim, server.Rfc2217(), ubaud);
  print("ser2net rfc2217://", rfc, netFloor(rfc, 0.0));
  const Result raw = ReadAll(sim, server.RawTcp(), ubaud);
  print("ser2net tcp://", raw, netFloor(raw, 0.0));
  std::printf("ratio ser2net/local: rfc2217 %.3f, tcp %.3f\n", rfc.seconds / local.seconds,
              raw.seconds / local.seconds);
  // TLS with a client certificate, keys made for the run.
  const std::string pkiFolder = folder + "/pki";
  std::filesystem::create_directories(pkiFolder);
  nettest::TestPki pki(pkiFolder);
  nettest::Ser2netTls secure(folder, slave);
  const int tlsRfcPort = secure.Add("tlsrfc", nettest::Ser2netTls::SecureStack(pki, "server", true), true);
  const int tlsRawPort = secure.Add("tlsraw", nettest::Ser2netTls::SecureStack(pki, "server", false), true);
  if (!pki.Make() || !secure.Start(pki)) {
    std::fprintf(stderr, "bench_network: the TLS server did not start (openssl, ser2net?)\n");
    return 1;
  }
  zarvik::TNetSecurity keys;
  keys.ca = pki.File("ca.crt");
  keys.cert = pki.File("client.crt");
  keys.key = pki.File("client.key");
  zarvik::SetPortSecurity(kBenchPort, keys);
  const Result tlsRfc =
      ReadAll(sim, zarvik::kRfc2217TlsScheme + std::string("127.0.0.1:") + std::to_string(tlsRfcPort), ubaud);
  print("ser2net rfc2217+tls://", tlsRfc, netFloor(tlsRfc, 0.0));
  const Result tlsRaw =
      ReadAll(sim, zarvik::kRawTcpTlsScheme + std::string("127.0.0.1:") + std::to_string(tlsRawPort), ubaud);
  print("ser2net tcp+tls://", tlsRaw, netFloor(tlsRaw, 0.0));
  zarvik::SetPortSecurity(kBenchPort, {});
  secure.Kill();
  std::printf("ratio read-all: rfc2217+tls/rfc2217 %.3f, rfc2217+tls/local %.3f, tcp+tls/tcp %.3f\n",
              tlsRfc.seconds / rfc.seconds, tlsRfc.seconds / local.seconds, tlsRaw.seconds / raw.seconds);
  std::printf("ratio connect: rfc2217+tls/rfc2217 %.2f, rfc2217+tls/local %.1f, tcp+tls/tcp %.2f\n",
              tlsRfc.connectSeconds / rfc.connectSeconds, tlsRfc.connectSeconds / local.connectSeconds,
              tlsRaw.connectSeconds / raw.connectSeconds);
  for (const int d : delays) {
    if (d <= 0) continue;
    nettest::DelayProxy proxy(rfcPort, std::chrono::milliseconds(d));
    if (!proxy.Start()) return 1;
    const Result r = ReadAll(sim, "rfc2217://127.0.0.1:" + std::to_string(proxy.Port()), ubaud);
    print("proxy " + std::to_string(d) + " ms each way", r, netFloor(r, 2.0 * d / 1000.0));
  }
  server.Kill();
  sim.Close();
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return 0;
}
