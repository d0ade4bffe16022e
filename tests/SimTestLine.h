// The PC end of a line to the simulated register, for the simulator's tests:
// a small frame builder of its own (from the link's byte rules, not the
// program's protocol code) and a raw serial line on the pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "Scenario.h"
#include "Simulator.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// How long a test waits for bytes or an event that must come: far longer
// than they take even in a sanitizer build on a busy machine, so only a
// fault runs into it. Silence checks are short: on a slow machine they
// may pass where bytes would only have come later, never fail.
inline constexpr auto kAnswerWait = 20000ms;
inline constexpr auto kSilenceWait = 80ms;

// Waits until `done()` holds, at most `limit`; whether it held.
template <class Done>
bool WaitUntil(Done done, std::chrono::milliseconds limit = kAnswerWait) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return done();
    ::usleep(1000);
  }
  return true;
}
inline constexpr std::uint8_t kAddr = 0x01;  // network number 1

inline Bytes Control(std::uint8_t address, std::uint8_t control) {
  return Bytes{0x7F, 0x02, address, control, static_cast<std::uint8_t>(0 - address - control)};
}

inline Bytes Frame(const Bytes& payload) {
  Bytes out{0x00};
  std::uint8_t sum = 0;
  for (const std::uint8_t b : payload) {
    out.push_back(b);
    if (b == 0x7F) out.push_back(0x10);
    sum = static_cast<std::uint8_t>(sum + b);
  }
  out.push_back(0x7F);
  out.push_back(0x03);
  out.push_back(static_cast<std::uint8_t>(0 - sum));
  return out;
}

inline Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class PcLine {
 public:
  ~PcLine() { Close(); }
  bool Open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) return false;
    termios tio{};
    ::tcgetattr(fd_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd_, TCSANOW, &tio);
    ::tcflush(fd_, TCIOFLUSH);
    return true;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  void Send(const Bytes& bytes) {
    sent += bytes.size();
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0)
        done += static_cast<std::size_t>(n);
      else {
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, 10);
      }
    }
  }
  // Up to n bytes, waiting at most `timeout` in all.
  Bytes Read(std::size_t n, std::chrono::milliseconds timeout = kAnswerWait) {
    Bytes out;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (out.size() < n) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      std::uint8_t b[512];
      const std::size_t want = n - out.size() < sizeof b ? n - out.size() : sizeof b;
      const ssize_t got = ::read(fd_, b, want);
      if (got > 0) out.insert(out.end(), b, b + got);
    }
    return out;
  }
  bool Quiet(std::chrono::milliseconds wait = kSilenceWait) { return Read(1, wait).empty(); }
  // A control packet from the register; its control byte, or -1 when none
  // came or it is malformed (wrong start, address or check byte).
  int ReadControl() {
    const Bytes p = Read(5);
    if (p.size() != 5 || p[0] != 0x7F || p[1] != 0x02 || p[2] != kAddr ||
        static_cast<std::uint8_t>(p[2] + p[3] + p[4]) != 0) {
      return -1;
    }
    return p[3];
  }
  // The data frame after a data header: false on a bad frame or check byte.
  bool ReadFrame(Bytes& payload) {
    payload.clear();
    if (Read(1).size() != 1) return false;
    std::uint8_t sum = 0;
    while (payload.size() <= 256) {
      Bytes b = Read(1);
      if (b.empty()) return false;
      if (b[0] == 0x7F) {
        Bytes e = Read(1);
        if (e.empty()) return false;
        if (e[0] == 0x03) {
          Bytes c = Read(1);
          return c.size() == 1 && static_cast<std::uint8_t>(sum + c[0]) == 0;
        }
        if (e[0] != 0x10) return false;
      }
      payload.push_back(b[0]);
      sum = static_cast<std::uint8_t>(sum + b[0]);
    }
    return false;
  }
  void SendControl(std::uint8_t control) { Send(Control(kAddr, control)); }
  void SendRequest(const Bytes& request, bool continued) {
    const auto header = static_cast<std::uint8_t>(0x80 | (continued ? 0x10 : 0) | (tx & 7));
    Send(Cat(Control(kAddr, header), Frame(request)));
  }
  // Reads one answer data packet; checks its number against rx; ACKs it
  // (with the continuation bit when `wantMore` and the frame has it).
  // Returns false when no good frame came.
  bool ReceiveAnswer(Bytes& payload, bool& more, bool wantMore = true) {
    const int h = ReadControl();
    if (h < 0 || (h & 0xC0) != 0x80) {
      ADD_FAILURE() << "expected a data header, got " << h;
      return false;
    }
    EXPECT_EQ(h & 7, rx & 7) << "packet number";
    EXPECT_NE(h & 0x20, 0) << "direction bit of the register";
    if (!ReadFrame(payload)) {
      ADD_FAILURE() << "bad data frame";
      return false;
    }
    ++rx;
    more = (h & 0x10) != 0;
    SendControl(more && wantMore ? 0xDA : 0xCA);
    if (!wantMore) more = false;
    return true;
  }
  // One whole command as the PC runs it: poll, request, receipt, answer
  // frames (a stream is followed to its end), DISC. Empty on a failure.
  std::vector<Bytes> Command(const Bytes& request, bool continued = true) {
    std::vector<Bytes> frames;
    SendControl(0xC5);
    const int rdy = ReadControl();
    if (rdy < 0 || (rdy & 0xCF) != 0xC5) {
      ADD_FAILURE() << "poll not answered with RDY: " << rdy;
      return frames;
    }
    SendRequest(request, continued);
    const int ack = ReadControl();
    if (ack < 0 || (ack & 0xCF) != 0xCA) {
      ADD_FAILURE() << "request not acknowledged: " << ack;
      return frames;
    }
    EXPECT_EQ((ack & 0x10) != 0, continued) << "ACK carries the request's continuation bit";
    ++tx;
    if (!continued) SendControl(0xC5);
    bool more = true;
    while (more) {
      Bytes payload;
      if (!ReceiveAnswer(payload, more)) return {};
      frames.push_back(payload);
    }
    SendControl(0xC0);
    return frames;
  }
  Bytes One(const Bytes& request, bool continued = true) {
    auto frames = Command(request, continued);
    EXPECT_EQ(frames.size(), 1U);
    return frames.empty() ? Bytes{} : frames.front();
  }

  std::uint8_t rx = 0, tx = 0;
  std::uint64_t sent = 0;  // bytes sent since the line was made

 private:
  int fd_ = -1;
};

inline std::string SourcePath(const std::string& rel) {
  return std::string(ZARVIK_SOURCE_DIR) + "/" + rel;
}

inline zarvik::sim::Scenario DefaultScenario() {
  zarvik::sim::Scenario sc;
  std::string error;
  EXPECT_TRUE(zarvik::sim::LoadScenarioFile(SourcePath("sim/scenarios/default.ini"), sc, error)) << error;
  return sc;
}

// A running simulator with the PC end of its line open.
class SimOnPty : public ::testing::Test {
 protected:
  void StartWith(const zarvik::sim::Scenario& sc) {
    sim_ = std::make_unique<zarvik::sim::Simulator>(sc);
    ASSERT_TRUE(sim_->OpenPty(slave_)) << sim_->LastError();
    ASSERT_TRUE(sim_->Start());
    ASSERT_TRUE(pc_.Open(slave_));
  }
  void SetUp() override { StartWith(DefaultScenario()); }
  void TearDown() override {
    pc_.Close();
    if (sim_) sim_->Close();
  }
  // Waits until the simulator has heard every byte the PC has sent.
  bool Heard() const {
    return WaitUntil([&] { return sim_->LineByteCounts().fromPc >= pc_.sent; });
  }
  std::unique_ptr<zarvik::sim::Simulator> sim_;
  std::string slave_;
  PcLine pc_;
};

}  // namespace simtest
