#include "Simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "port/SerialSpeed.h"

namespace zarvik::sim {
namespace {

using Clock = std::chrono::steady_clock;

// Timer slack of the serving thread, so that paced packets leave close to
// their deadlines.
constexpr unsigned long kPacedTimerSlackNs = 1000;
// The niceness the serving thread asks for when real-time scheduling is not
// granted.
constexpr int kRaisedNice = -10;

// A register is a device of its own: however busy the PC's machine is, it
// answers in its own time. The serving thread asks for the lowest real-time
// priority (it sleeps in poll and between packets, so it never holds a
// core), or failing that a raised niceness; without the right to either it
// runs as it is, and a very busy machine may then delay its answers past
// the PC's time-outs. Which one was granted is told by Priority().
ServingPriority RaiseServingPriority() {
  // A thread that has real-time scheduling already (a benchmark run under
  // it) keeps what it has.
  int policy = SCHED_OTHER;
  sched_param current{};
  if (::pthread_getschedparam(::pthread_self(), &policy, &current) == 0 &&
      (policy == SCHED_FIFO || policy == SCHED_RR))
    return ServingPriority::RealTime;
  sched_param param{};
  param.sched_priority = ::sched_get_priority_min(SCHED_FIFO);
  if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param) == 0) return ServingPriority::RealTime;
  if (::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kRaisedNice) == 0) return ServingPriority::Raised;
  return ServingPriority::Normal;
}

// The time `bytes` bytes take on a line at `baud` (10 bits each), rounded up
// to whole nanoseconds so that pacing is never faster than the line.
std::chrono::nanoseconds LineTime(int baud, std::size_t bytes) {
  const auto bits = static_cast<long long>(bytes) * kBitsPerByte * 1'000'000'000LL;
  return std::chrono::nanoseconds((bits + baud - 1) / baud);
}

bool MakeRaw(int fd) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return false;
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

// Sleeps until kHandOverSpin before `when`, then waits for it awake.
void WaitUntil(Clock::time_point when) {
  if (when - Clock::now() > kHandOverSpin) std::this_thread::sleep_until(when - kHandOverSpin);
  while (Clock::now() < when) {
  }
}

std::string ErrnoText(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

}  // namespace

Simulator::Simulator(RegisterState state) : link_(std::move(state)) {}

Simulator::Simulator(const Scenario& scenario) : link_(scenario.state) {
  for (const Fault& f : scenario.faults) link_.Faults().Add(f);
}

Simulator::~Simulator() {
  Close();
}

void Simulator::SetError(std::string text) {
  std::lock_guard<std::mutex> lock(mutex_);
  lastError_ = std::move(text);
}

std::string Simulator::LastError() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastError_;
}

bool Simulator::OpenPty(std::string& slavePath) {
  if (running_ || fd_ >= 0) {
    SetError("the simulator already has a device");
    return false;
  }
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    SetError(ErrnoText("posix_openpt"));
    return false;
  }
  char name[256] = {};
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
    SetError(ErrnoText("pseudo-terminal set-up"));
    ::close(master);
    return false;
  }
  // Holding the slave open keeps the pair alive while the PC has it closed,
  // and lets the line settings be raw before the PC comes.
  const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0 || !MakeRaw(slave)) {
    SetError(ErrnoText(std::string("opening ") + name));
    if (slave >= 0) ::close(slave);
    ::close(master);
    return false;
  }
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  fd_ = master;
  slaveHold_ = slave;
  devicePath_ = name;
  slavePath = name;
  return true;
}

bool Simulator::OpenDevice(const std::string& path, int baud) {
  if (running_ || fd_ >= 0) {
    SetError("the simulator already has a device");
    return false;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SetError(ErrnoText("opening " + path));
    return false;
  }
  if (!MakeRaw(fd) || (baud > 0 && !zarvik::detail::SetLineSpeed(fd, static_cast<std::uint32_t>(baud)))) {
    SetError(ErrnoText("setting up " + path));
    ::close(fd);
    return false;
  }
  fd_ = fd;
  devicePath_ = path;
  if (baud > 0) baud_ = baud;
  return true;
}

void Simulator::SetPacing(int baud, bool pace) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (baud > 0) baud_ = baud;
  pace_ = pace;
}

void Simulator::SetSpeedMatch(bool match) {
  std::lock_guard<std::mutex> lock(mutex_);
  speedMatch_ = match;
}

bool Simulator::Start() {
  if (fd_ < 0 || running_) {
    SetError(fd_ < 0 ? "no device is open" : "the simulator runs already");
    return false;
  }
  stopRequested_ = false;
  running_ = true;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void Simulator::Stop() {
  {
    std::lock_guard<std::mutex> lock(pauseMutex_);
    stopRequested_ = true;
  }
  pauseChanged_.notify_all();
  if (thread_.joinable()) thread_.join();
  running_ = false;
}

void Simulator::Close() {
  Stop();
  if (fd_ >= 0) ::close(fd_);
  if (slaveHold_ >= 0) ::close(slaveHold_);
  fd_ = slaveHold_ = -1;
  devicePath_.clear();
}

void Simulator::Pause() {
  std::lock_guard<std::mutex> lock(pauseMutex_);
  paused_ = true;
}

void Simulator::Resume() {
  {
    std::lock_guard<std::mutex> lock(pauseMutex_);
    paused_ = false;
  }
  pauseChanged_.notify_all();
}

void Simulator::WaitWhilePaused() {
  std::unique_lock<std::mutex> lock(pauseMutex_);
  pauseChanged_.wait(lock, [this] { return !paused_ || stopRequested_; });
}

bool Simulator::AddFault(std::string_view text) {
  Fault f;
  std::string error;
  if (!ParseFault(text, f, error)) {
    SetError(error);
    return false;
  }
  AddFault(f);
  return true;
}

void Simulator::AddFault(const Fault& fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  link_.Faults().Add(fault);
}

void Simulator::ClearFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  link_.Faults().Clear();
}

void Simulator::SeedFaults(std::uint64_t seed) {
  std::lock_guard<std::mutex> lock(mutex_);
  link_.Faults().Seed(seed);
}

std::vector<Fault> Simulator::ArmedFaults() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return link_.Faults().Armed();
}

int Simulator::FaultsFired(FaultKind kind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return link_.Faults().Fired(kind);
}

RegisterState Simulator::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return link_.State();
}

void Simulator::ModifyState(const std::function<void(RegisterState&)>& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  change(link_.State());
}

LinkStats Simulator::Stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return link_.Stats();
}

void Simulator::DropPendingAnswer() {
  std::lock_guard<std::mutex> lock(mutex_);
  link_.DropPendingAnswer();
}

Bytes Simulator::Process(const Bytes& fromPc) {
  std::lock_guard<std::mutex> lock(mutex_);
  Bytes out;
  for (const Bytes& packet : link_.Feed(fromPc.data(), fromPc.size())) {
    out.insert(out.end(), packet.begin(), packet.end());
  }
  return out;
}

void Simulator::WritePacket(const Bytes& packet, int pacedBaud, Clock::time_point earliest) {
  Clock::time_point begin{};
  if (pacedBaud > 0) {
    // The packet's place on the line is fixed before anything is written:
    // it starts when the line is free, and the next one starts when this
    // one has crossed, however late the write below happens.
    begin = std::max(earliest, txLineEnd_);
    const auto duration = LineTime(pacedBaud, packet.size());
    const Clock::time_point handOver = begin + std::min<Clock::duration>(duration, kMaxPacketHold);
    WaitUntil(handOver);
    if (Clock::now() - handOver > kStallLimit) NoteStall(Clock::now() - handOver);
  }
  // The whole packet in one write; only a PC that does not drain the device
  // makes it take more than one.
  const auto giveUp = Clock::now() + kWriteGiveUp;
  std::size_t done = 0;
  while (done < packet.size() && !stopRequested_) {
    const ssize_t n = ::write(fd_, packet.data() + done, packet.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      bytesToPc_ += static_cast<std::uint64_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    if (Clock::now() > giveUp) break;
    pollfd p{fd_, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(kPollInterval.count()));
  }
  if (pacedBaud > 0) txLineEnd_ = begin + LineTime(pacedBaud, done);
}

void Simulator::NoteStall(Clock::duration pause) {
  stalled_ = true;
  ++stalls_;
  const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(pause).count();
  if (ms > longestStallMs_.load()) longestStallMs_ = ms;
}

void Simulator::DropStalledInput() {
  std::uint8_t buf[512];
  std::uint64_t dropped = 0;
  for (;;) {
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n <= 0) break;
    dropped += static_cast<std::uint64_t>(n);
  }
  bytesFromPc_ += dropped;
  const auto now = Clock::now();
  rxLineEnd_ = std::min(rxLineEnd_, now);
  txLineEnd_ = std::min(txLineEnd_, now);
  std::lock_guard<std::mutex> lock(mutex_);
  link_.GiveUp();
}

void Simulator::Serve() {
  // Ask the kernel for wake-ups close to the packets' deadlines instead of
  // its default 50 us slack.
  ::prctl(PR_SET_TIMERSLACK, kPacedTimerSlackNs, 0, 0, 0);
  servingPriority_ = RaiseServingPriority();
  std::uint8_t buf[512];
  auto lastByte = Clock::now();
  stalled_ = false;
  while (!stopRequested_) {
    pollfd p{fd_, POLLIN, 0};
    const auto beforePoll = Clock::now();
    const int ready = ::poll(&p, 1, static_cast<int>(kPollInterval.count()));
    // A paused register stands still here, as a stopped process would in
    // its poll; the pause is then measured as any other stall.
    if (paused_) WaitWhilePaused();
    if (Clock::now() - beforePoll > kPollInterval + kStallLimit) NoteStall(Clock::now() - beforePoll);
    if (stalled_) {
      stalled_ = false;
      DropStalledInput();
      lastByte = Clock::now();
      continue;
    }
    if (ready > 0 && (p.revents & POLLIN)) {
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n > 0) {
        const auto readAt = Clock::now();
        lastByte = readAt;
        bytesFromPc_ += static_cast<std::uint64_t>(n);
        int pacedBaud = 0;
        int matchBaud = 0;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          if (pace_) pacedBaud = baud_;
          if (speedMatch_) matchBaud = baud_;
        }
        if (matchBaud > 0 && zarvik::detail::LineSpeed(fd_) != static_cast<std::uint32_t>(matchBaud)) {
          // Sent at another speed: the register hears noise, nothing it
          // could frame.
          wrongSpeedBytes_ += static_cast<std::uint64_t>(n);
        } else if (pacedBaud == 0) {
          std::vector<Bytes> out;
          {
            std::lock_guard<std::mutex> lock(mutex_);
            out = link_.Feed(buf, static_cast<std::size_t>(n));
          }
          for (const Bytes& packet : out) WritePacket(packet, 0, readAt);
        } else {
          // The bytes were written by the PC just now and are on the line
          // one after another from now (or from the end of earlier ones
          // still crossing it). The register hears each at the end of its
          // time, and answers a packet only once its last byte is in.
          const Clock::time_point begin = std::max(readAt, rxLineEnd_);
          const auto count = static_cast<std::size_t>(n);
          rxLineEnd_ = begin + LineTime(pacedBaud, count);
          for (std::size_t i = 0; i < count && !stopRequested_; ++i) {
            std::vector<Bytes> out;
            {
              std::lock_guard<std::mutex> lock(mutex_);
              out = link_.Feed(buf + i, 1);
            }
            if (out.empty()) continue;
            const Clock::time_point heard = begin + LineTime(pacedBaud, i + 1);
            for (const Bytes& packet : out) WritePacket(packet, pacedBaud, heard);
          }
        }
      }
    } else if (ready > 0) {
      // Hang-up or error without data (a device going away): do not spin.
      std::this_thread::sleep_for(kPollInterval);
    }
    const auto silent = Clock::now() - lastByte;
    if (silent > kReceiverIdleReset) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!link_.ReceiverIdle()) link_.LineIdle();
      // A PC that stopped answering in the middle of an exchange (killed,
      // unplugged) is not waited for any longer: the next session finds an
      // idle register.
      if (silent > kAnswerGiveUp && link_.AnswerPending()) link_.GiveUp();
    }
  }
}

}  // namespace zarvik::sim
