// Figures of the register simulator: how fast it streams all goods and the
// journal over its pseudo-terminal, unpaced and paced.
//   bench_sim_stream [goods] [receipts] [paced-baud]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "Simulator.h"

namespace {

using zarvik::sim::Bytes;
using Clock = std::chrono::steady_clock;

constexpr int kReadWaitMs = 1000;

class Line {
 public:
  explicit Line(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    ::tcgetattr(fd_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd_, TCSANOW, &tio);
  }
  ~Line() { ::close(fd_); }
  void Send(const Bytes& b) {
    if (::write(fd_, b.data(), b.size()) < 0) std::perror("write");
  }
  bool Byte(std::uint8_t& out) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, kReadWaitMs) <= 0) return false;
    return ::read(fd_, &out, 1) == 1;
  }
  bool Control(std::uint8_t& control) {
    std::uint8_t b[5];
    for (auto& x : b) {
      if (!Byte(x)) return false;
    }
    control = b[3];
    return true;
  }
  // Frame after its header; returns the payload length or -1.
  int Frame() {
    std::uint8_t b = 0;
    if (!Byte(b)) return -1;
    int n = 0;
    while (Byte(b)) {
      if (b == 0x7F) {
        if (!Byte(b)) return -1;
        if (b == 0x03) return Byte(b) ? n : -1;
      }
      ++n;
    }
    return -1;
  }
  int fd_ = -1;
};

Bytes Ctl(std::uint8_t c) {
  return zarvik::sim::BuildControlPacket(0x01, c);
}

// One streaming read; returns frames and payload bytes.
bool Stream(Line& line, const Bytes& request, std::uint8_t& tx, long& frames, long& bytes) {
  line.Send(Ctl(0xC5));
  std::uint8_t c = 0;
  if (!line.Control(c)) return false;
  Bytes req = Ctl(static_cast<std::uint8_t>(0x90 | (tx & 7)));
  const Bytes f = zarvik::sim::BuildDataFrame(request);
  req.insert(req.end(), f.begin(), f.end());
  line.Send(req);
  if (!line.Control(c)) return false;
  ++tx;
  frames = bytes = 0;
  while (true) {
    if (!line.Control(c)) return false;
    const int n = line.Frame();
    if (n < 0) return false;
    ++frames;
    bytes += n;
    const bool more = (c & 0x10) != 0;
    line.Send(Ctl(more ? 0xDA : 0xCA));
    if (!more) break;
  }
  line.Send(Ctl(0xC0));
  return true;
}

void Run(const zarvik::sim::Scenario& sc, int baud, bool pace, const char* what, const Bytes& request) {
  zarvik::sim::Simulator sim(sc);
  std::string slave;
  if (!sim.OpenPty(slave) || !sim.Start()) {
    std::printf("cannot start: %s\n", sim.LastError().c_str());
    return;
  }
  sim.SetPacing(baud, pace);
  Line line(slave);
  std::uint8_t tx = 0;
  long frames = 0, bytes = 0;
  const auto start = Clock::now();
  const bool ok = Stream(line, request, tx, frames, bytes);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  std::printf("%-8s %-22s %s %6ld frames %8ld payload bytes %10.1f ms %8.0f frames/s\n", what,
              pace ? ("paced " + std::to_string(baud) + " baud").c_str() : "unpaced", ok ? "ok  " : "FAIL",
              frames, bytes, ms, static_cast<double>(frames) / (ms / 1000.0));
}

}  // namespace

int main(int argc, char** argv) {
  const int goods = argc > 1 ? std::atoi(argv[1]) : 4000;
  const int receipts = argc > 2 ? std::atoi(argv[2]) : 500;
  const int baud = argc > 3 ? std::atoi(argv[3]) : 115200;
  zarvik::sim::Scenario sc;
  std::string error;
  const std::string text = "[Register]\nGoodsCapacity=4000\n[Goods]\nGenerate=" + std::to_string(goods) +
                           "\n[Journal]\nGenerateReceipts=" + std::to_string(receipts) + "\n";
  const auto t0 = Clock::now();
  if (!zarvik::sim::LoadScenarioText(text, sc, error)) {
    std::printf("scenario: %s\n", error.c_str());
    return 1;
  }
  std::printf("scenario with %d goods and %d receipts (%zu records) loaded in %.1f ms\n", goods, receipts,
              sc.state.journal.size(), std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  const Bytes allGoods{0x01, 0x10, 0x01, 0x00};
  const Bytes journal{0x01, 0x0F, 0x00, 0x00};
  Run(sc, baud, false, "goods", allGoods);
  Run(sc, baud, false, "journal", journal);
  zarvik::sim::Scenario small;
  zarvik::sim::LoadScenarioText("[Goods]\nGenerate=100\n[Journal]\nGenerateReceipts=20\n", small, error);
  Run(small, baud, true, "goods", allGoods);
  Run(small, baud, true, "journal", journal);
  return 0;
}
