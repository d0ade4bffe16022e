#include "protocol/RegisterSearch.h"

#include <algorithm>
#include <array>

#include "model/U_kkms.h"
#include "port/Comport.h"
#include "port/NetLine.h"
#include "port/PortDevices.h"
#include "port/PortTable.h"
#include "protocol/LinkFrames.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"

namespace zarvik {
namespace {

using Clock = std::chrono::steady_clock;

// Bytes kept while waiting for the answer to the poll: a control packet,
// and room for noise in front of it.
constexpr std::size_t kProbeBufferSize = 64;

std::chrono::milliseconds Since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

void CopyTimeouts(const TComPort& from, TComPort& to) {
  to.readTotalTimeoutConstant = from.readTotalTimeoutConstant;
  to.readTotalTimeoutMultiplier = from.readTotalTimeoutMultiplier;
  to.readIntervalTimeout = from.readIntervalTimeout;
  to.writeTotalTimeoutConstant = from.writeTotalTimeoutConstant;
  to.writeTotalTimeoutMultiplier = from.writeTotalTimeoutMultiplier;
}

// A control packet of the register (direction bit set, so not the echo of
// the PC's own poll) for `address` anywhere in `bytes`; its control byte.
bool FindRegisterPacket(std::span<const std::uint8_t> bytes, std::uint8_t address, std::uint8_t& control) {
  for (std::size_t i = 0; i + kControlPacketSize <= bytes.size(); ++i) {
    if (bytes[i] != kFrameStart || bytes[i + 1] != kControlMark || bytes[i + 2] != address) continue;
    const std::uint8_t c = bytes[i + 3];
    if ((c & kDirectionBit) == 0) continue;
    const auto expected = BuildControlPacket(address, c);
    if (std::equal(expected.begin(), expected.end(), bytes.begin() + static_cast<std::ptrdiff_t>(i))) {
      control = c;
      return true;
    }
  }
  return false;
}

enum class PollResult { Answered, Silent, Stopped };

class TSearch {
 public:
  TSearch(const TSearchRequest& request, const TSearchCallbacks& callbacks)
      : request_(request), callbacks_(callbacks) {}

  TSearchResult Run();

 private:
  bool StopAsked() { return callbacks_.stopRequested && callbacks_.stopRequested(); }
  void Report(const TSearchAttempt& attempt) {
    if (callbacks_.report) callbacks_.report(attempt);
  }
  void Finish(TSearchAttempt& attempt, TSearchOutcome outcome, Clock::time_point start) {
    attempt.outcome = outcome;
    attempt.took = Since(start);
    result_.attempts.push_back(attempt);
    Report(attempt);
  }
  // Tries every speed on one port that opened; true when the search ends
  // (found or stopped).
  bool TryPort(int port, const std::string& device, int& done);
  // One RDY and the wait for the register's control packet.
  PollResult Poll(TComPort& port, TProtocolKKM& protocol, std::string& heard);

  const TSearchRequest& request_;
  const TSearchCallbacks& callbacks_;
  TSearchResult result_;
  int total_ = 0;
};

PollResult TSearch::Poll(TComPort& port, TProtocolKKM& protocol, std::string& heard) {
  port.DiscardInput();
  if (protocol.SendControl(kRDY) != TLinkCode::Ok) {
    heard = "опрос не передан";
    return PollResult::Silent;
  }
  // The answer is awaited as long as the exchange waits for a control
  // packet, in slices short enough for a stop request to be seen.
  const auto wait = std::chrono::milliseconds(port.readTotalTimeoutConstant +
                                              kControlPacketSize * port.readTotalTimeoutMultiplier) +
                    port.LatencyAllowance();
  const auto deadline = Clock::now() + wait;
  const std::uint32_t savedConstant = port.readTotalTimeoutConstant;
  const std::uint32_t savedMultiplier = port.readTotalTimeoutMultiplier;
  std::array<std::uint8_t, kProbeBufferSize> bytes{};
  std::size_t got = 0;
  std::uint8_t control = 0;
  const std::uint8_t address = NetworkAddress(request_.networkNumber);
  PollResult result = PollResult::Silent;
  while (got < bytes.size()) {
    if (StopAsked()) {
      result = PollResult::Stopped;
      break;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    const auto slice = std::min(left, kSearchStopCheck);
    port.readTotalTimeoutConstant = static_cast<std::uint32_t>(slice.count());
    port.readTotalTimeoutMultiplier = 0;
    std::uint32_t count = static_cast<std::uint32_t>(bytes.size() - got);
    const auto readStart = Clock::now();
    // A short read is the normal case here: count says what came.
    const bool complete = port.Read(bytes.data() + got, count);
    got += count;
    if (FindRegisterPacket(std::span(bytes.data(), got), address, control)) {
      result = PollResult::Answered;
      break;
    }
    // A read that gives up with nothing long before its time-out has failed
    // (the device went away): waiting on would only spin.
    if (!complete && count == 0 && Clock::now() - readStart < slice / 2) {
      heard = "порт не читается";
      break;
    }
  }
  port.readTotalTimeoutConstant = savedConstant;
  port.readTotalTimeoutMultiplier = savedMultiplier;
  if (result == PollResult::Answered) {
    MT(">" + PacketKindName(control) + "  ККМ=" + std::to_string(request_.networkNumber), mdFunctional);
    if (IsDataHeader(control)) {
      // The answer of an exchange abandoned earlier: the register drops it
      // at DISC, and GetInfo starts on a quiet line.
      protocol.SendControl(kDISC);
      port.DiscardInput();
    }
  } else if (got > 0) {
    heard = std::to_string(got) + " байт не от ККМ";
  }
  return result;
}

bool TSearch::TryPort(int portNumber, const std::string& device, int& done) {
  TComPort port;
  port.SetPortNumber(portNumber);
  if (request_.timeouts != nullptr) CopyTimeouts(*request_.timeouts, port);
  TKKM kkm(&port);
  kkm.networkNumber = static_cast<std::uint8_t>(request_.networkNumber);
  TProtocolKKM protocol(&kkm);
  protocol.stopRequested = [this] { return StopAsked(); };
  const int last = done + static_cast<int>(request_.speeds.size());
  // A raw network line runs at the speed its server gives it: one attempt.
  std::vector<std::uint32_t> speeds = request_.speeds;
  TNetAddress address;
  const bool fixedSpeed = ParseNetDevice(device, address) && address.mode == TNetMode::RawTcp;
  if (fixedSpeed) speeds.resize(1);
  for (const std::uint32_t speed : speeds) {
    if (StopAsked()) {
      result_.stopped = true;
      return true;
    }
    const auto start = Clock::now();
    TSearchAttempt attempt{portNumber, device, speed, TSearchOutcome::Trying, {}, done, total_, {}};
    Report(attempt);
    ++done;
    attempt.done = done;
    if (fixedSpeed) {
      done = last;
      attempt.done = done;
    }
    if (!port.SetBaudRate(speed) || !port.Open()) {
      // It opened a moment ago (the port has said why not now): the device
      // went away or another program took it. Its other speeds are not tried.
      attempt.detail = "порт не открылся";
      done = last;
      attempt.done = done;
      Finish(attempt, TSearchOutcome::NoAnswer, start);
      return false;
    }
    std::string heard;
    const PollResult poll = Poll(port, protocol, heard);
    if (poll == PollResult::Stopped) {
      port.Close();
      attempt.detail = "остановлен";
      Finish(attempt, TSearchOutcome::NoAnswer, start);
      result_.stopped = true;
      return true;
    }
    if (poll == PollResult::Silent) {
      port.Close();
      attempt.detail = heard;
      Finish(attempt, TSearchOutcome::NoAnswer, start);
      continue;
    }
    const bool identified = protocol.GetInfo();
    port.Close();
    if (!identified) {
      attempt.detail =
          kkm.linkState == lsNoAnswer ? "ККМ не отвечает" : "не удалось получить информацию о ККМ";
      Finish(attempt, TSearchOutcome::NotConfirmed, start);
      continue;
    }
    const TKKMInfo& info = kkm.Info();
    result_.found = true;
    result_.port = portNumber;
    result_.speed = speed;
    result_.model = info.model;
    result_.serialNumber = info.serialNumber;
    result_.version = info.version;
    attempt.detail = info.model + " № " + info.serialNumber + ", версия " + info.version;
    Finish(attempt, TSearchOutcome::Found, start);
    return true;
  }
  return false;
}

TSearchResult TSearch::Run() {
  const auto start = Clock::now();
  if (request_.networkNumber < kMinNetworkNumber || request_.networkNumber > kMaxNetworkNumber) {
    result_.error = "сетевой № " + std::to_string(request_.networkNumber) + " вне 1..98";
    return result_;
  }
  std::vector<int> ports;
  for (const int p : request_.ports)
    if (p >= kMinPortNumber && p <= kMaxPortNumber && std::find(ports.begin(), ports.end(), p) == ports.end())
      ports.push_back(p);
  if (ports.empty() || request_.speeds.empty()) {
    result_.error = ports.empty() ? "нет портов для поиска" : "нет скоростей для поиска";
    return result_;
  }
  const int speeds = static_cast<int>(request_.speeds.size());
  total_ = static_cast<int>(ports.size()) * speeds;
  int done = 0;
  for (const int p : ports) {
    if (StopAsked()) {
      result_.stopped = true;
      break;
    }
    const auto portStart = Clock::now();
    // A port that does not open is not tried at any speed.
    const TPortEntry entry = ProbePort(p);
    if (entry.state != TPortState::Free) {
      TSearchAttempt attempt{p,    entry.device, 0, TSearchOutcome::Trying, PortStateText(entry),
                             done, total_,       {}};
      done += speeds;
      attempt.done = done;
      Finish(attempt, TSearchOutcome::Skipped, portStart);
      continue;
    }
    if (TryPort(p, entry.device, done)) break;
  }
  result_.took = Since(start);
  return result_;
}

std::string PortWithDevice(int port, const std::string& device) {
  return "COM" + std::to_string(port) + (device.empty() ? "" : " (" + device + ")");
}

}  // namespace

std::vector<std::uint32_t> SearchSpeedOrder(std::uint32_t configured, std::span<const std::uint32_t> speeds) {
  std::vector<std::uint32_t> order;
  if (IsAllowedBaudRate(configured)) order.push_back(configured);
  for (const std::uint32_t s : speeds)
    if (IsAllowedBaudRate(s) && std::find(order.begin(), order.end(), s) == order.end()) order.push_back(s);
  return order;
}

TSearchResult FindRegister(const TSearchRequest& request, const TSearchCallbacks& callbacks) {
  return TSearch(request, callbacks).Run();
}

std::string SearchAttemptText(const TSearchAttempt& a) {
  std::string text = PortWithDevice(a.port, a.device);
  if (a.speed != 0) text += " " + std::to_string(a.speed);
  text += ": ";
  switch (a.outcome) {
    case TSearchOutcome::Trying: return text + "опрос...";
    case TSearchOutcome::Skipped: return text + "пропущен, " + a.detail;
    case TSearchOutcome::NoAnswer:
      return text + "нет ответа" + (a.detail.empty() ? "" : " (" + a.detail + ")");
    case TSearchOutcome::NotConfirmed: return text + "ответ на опрос есть, но " + a.detail;
    case TSearchOutcome::Found: return text + "ответила ККМ " + a.detail;
  }
  return text;
}

std::string SearchResultText(const TSearchResult& r) {
  if (!r.error.empty()) return "Поиск ККМ невозможен: " + r.error;
  if (r.found) return "ККМ найдена: COM" + std::to_string(r.port) + ", " + std::to_string(r.speed);
  int tried = 0;
  for (const TSearchAttempt& a : r.attempts)
    if (a.outcome != TSearchOutcome::Skipped) ++tried;
  const std::string counts =
      std::to_string(tried) + " попыток за " + std::to_string((r.took.count() + 500) / 1000) + " с";
  if (r.stopped) return "Поиск ККМ остановлен (" + counts + ")";
  return "ККМ не найдена (" + counts + ")";
}

}  // namespace zarvik
