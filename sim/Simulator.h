// The register simulator: a register peer on a pseudo-terminal (or a serial
// device) served by its own thread.
//
//   zarvik::sim::Scenario sc;
//   std::string err;
//   zarvik::sim::LoadScenarioFile("sim/scenarios/default.ini", sc, err);
//   zarvik::sim::Simulator sim(sc);
//   std::string slave;
//   sim.OpenPty(slave);            // e.g. /dev/pts/7
//   zarvik::SetPortDevice(5, slave);  // the PC side reaches it as port 5
//   sim.Start();
//   ... TComPort + protocol against port 5 ...
//   sim.AddFault("crc");           // the next answer frame has a bad check byte
//   auto state = sim.State();      // a copy, for assertions
//   sim.Stop();
//
// Every method may be called from any thread; the state and the faults are
// guarded by one mutex, taken only briefly by the serving thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "RegisterLink.h"
#include "Scenario.h"

namespace zarvik::sim {

// Waits of the serving thread. The poll only bounds how long a stop request
// waits to be seen: bytes from the PC wake the thread at once.
inline constexpr std::chrono::milliseconds kPollInterval{10};
// A packet half received when the line has been silent this long is dropped.
inline constexpr std::chrono::milliseconds kReceiverIdleReset{300};
// An answer (a frame, a stream, a WAIT) the PC has not come back for within
// this time is given up and the register is idle again. A PC still in its
// exchange is never silent this long: a poll cycle with its waits takes
// under a second, and the PC gives up a silent register after about two.
inline constexpr std::chrono::milliseconds kAnswerGiveUp{3000};
// A serving thread that did not run for this long (the process was stopped)
// did not hear what came meanwhile: that input is dropped, as a register's
// receiver would have lost it, and a pending answer is given up. It is as
// long as kAnswerGiveUp: after a shorter pause the PC may still be in its
// exchange (its polls and receipts are still worth answering), after a
// longer one it has given up, and answering its old polls would only fill
// the line with answers nobody waits for.
inline constexpr std::chrono::milliseconds kStallLimit = kAnswerGiveUp;
// Paced, a packet is handed over whole when its last byte would have crossed
// the line, but a long packet at a slow speed no later than this after its
// first byte started: the PC waits at most 295 ms (default time-outs) for
// the first byte of a packet.
inline constexpr std::chrono::milliseconds kMaxPacketHold{240};
// Paced, the serving thread sleeps until this long before a packet's
// hand-over and waits out the rest awake: a wake-up from sleep comes tens of
// microseconds late (more on a busy machine), and every late hand-over is
// time the line would not have lost. The packet never leaves before its
// time.
inline constexpr std::chrono::microseconds kHandOverSpin{150};
// A write the PC does not drain within this time is given up.
inline constexpr std::chrono::milliseconds kWriteGiveUp{2000};
inline constexpr int kDefaultBaud = 9600;
inline constexpr int kBitsPerByte = 10;  // start, 8 data, stop

// The scheduling the serving thread got: real-time, a raised niceness, or
// the machine's normal one (when the process may not raise it).
enum class ServingPriority { Normal, Raised, RealTime };

class Simulator {
 public:
  explicit Simulator(RegisterState state = {});
  explicit Simulator(const Scenario& scenario);  // its state and armed faults
  ~Simulator();                                  // stops the thread and closes the device
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Creates a pseudo-terminal in raw mode and gives the path of its slave
  // side (the PC opens that). The simulator keeps the slave open itself, so
  // the PC may close and reopen it any number of times.
  bool OpenPty(std::string& slavePath);
  // Serves a serial device instead (raw, 8N1, the given speed).
  bool OpenDevice(const std::string& path, int baud);
  // Pacing: with `pace` the device behaves as a line at `baud` (10 bits per
  // byte) in both directions. Each packet from the register (a control
  // packet, or a data header with its frame) is scheduled in advance and
  // handed to the device in one write when its last byte would have crossed
  // the line (a long packet at a slow speed at most kMaxPacketHold after its
  // first byte started), so a late wake-up of the serving thread delays a
  // whole packet but never opens a gap inside one. A byte from the PC counts
  // as heard only once it would have crossed the line (the register answers
  // after the last byte of a packet has arrived). Both directions keep an
  // absolute schedule, so the total time is exactly the line's and a byte is
  // not early unless kMaxPacketHold says so. Without `pace`, bytes go as
  // fast as the device takes them (the default).
  void SetPacing(int baud, bool pace);
  // Speed matching: on a pseudo-terminal, the register hears the PC only
  // while the PC has set the line to the register's speed (`baud` of
  // SetPacing, kDefaultBaud unless set); bytes sent at another speed are
  // noise to it and are dropped unheard, as a real register's receiver
  // would garble them. Off by default (a pseudo-terminal has no speed).
  void SetSpeedMatch(bool match);
  // Bytes dropped because the PC's line speed was not the register's.
  std::uint64_t WrongSpeedBytes() const { return wrongSpeedBytes_.load(); }

  // Starts the serving thread; false when no device is open or it runs.
  bool Start();
  // Stops the thread (the device stays open; Start may be called again).
  void Stop();
  bool Running() const { return running_; }
  // Stops and closes the device.
  void Close();
  // Freezes the register as a stopped process would be (SIGSTOP): the
  // serving thread reads and sends nothing until Resume. It then goes on as
  // a continued process does: after a pause longer than kStallLimit what
  // came meanwhile is dropped unheard and a pending answer is given up,
  // after a shorter one the input is answered as it stands.
  void Pause();
  void Resume();
  bool Paused() const { return paused_; }

  // Faults (syntax in SimFaults.h). AddFault with text is false for a
  // malformed fault text (LastError says why).
  bool AddFault(std::string_view text);
  void AddFault(const Fault& fault);
  void ClearFaults();
  // Restarts the random numbers of the faults armed with a chance ("@P").
  void SeedFaults(std::uint64_t seed);
  std::vector<Fault> ArmedFaults() const;
  int FaultsFired(FaultKind kind) const;

  // A copy of the register state, and a change made under the lock.
  RegisterState State() const;
  void ModifyState(const std::function<void(RegisterState&)>& change);
  LinkStats Stats() const;
  // Bytes moved through the device since it was opened: read from the PC
  // and written to the PC (all of them, control packets, frames and
  // anything a fault adds).
  struct LineBytes {
    std::uint64_t fromPc = 0;
    std::uint64_t toPc = 0;
  };
  LineBytes LineByteCounts() const { return {bytesFromPc_.load(), bytesToPc_.load()}; }
  // How often the serving thread found it had stood still beyond
  // kStallLimit (and dropped the input that came meanwhile), and its longest
  // such pause.
  int Stalls() const { return stalls_.load(); }
  std::chrono::milliseconds LongestStall() const { return std::chrono::milliseconds(longestStallMs_.load()); }
  // The scheduling the serving thread was granted (Normal before it runs).
  ServingPriority Priority() const { return servingPriority_.load(); }
  // Forgets an answer the PC abandoned without DISC (for example after it
  // gave up on "слишком много данных"), so the next poll finds nothing
  // pending. Packet counters stay. The serving thread does this by itself
  // after kAnswerGiveUp of silence.
  void DropPendingAnswer();

  // Plays bytes into the register as if they came from the line and returns
  // all it sends back (no device, no thread, no pacing). Not to be mixed with
  // a running thread.
  Bytes Process(const Bytes& fromPc);

  std::string LastError() const;
  const std::string& DevicePath() const { return devicePath_; }

 private:
  using Clock = std::chrono::steady_clock;
  void Serve();
  // Writes one packet. Paced (baud > 0), its first byte starts on the line
  // at `earliest` or when the line is free, whichever is later.
  void WritePacket(const Bytes& packet, int pacedBaud, Clock::time_point earliest);
  // Input that piled up while the thread stood still: read and dropped.
  void DropStalledInput();
  // Holds the serving thread while it is paused.
  void WaitWhilePaused();
  void SetError(std::string text);

  mutable std::mutex mutex_;
  RegisterLink link_;
  int fd_ = -1;
  int slaveHold_ = -1;
  std::string devicePath_;
  int baud_ = kDefaultBaud;
  bool pace_ = false;
  bool speedMatch_ = false;
  // Paced schedules of the serving thread: when the line in each direction
  // is free again (the end of the last byte on it).
  Clock::time_point txLineEnd_{};
  Clock::time_point rxLineEnd_{};
  // Set when a wait of the serving thread overran by kStallLimit.
  bool stalled_ = false;
  void NoteStall(Clock::duration pause);
  std::atomic<int> stalls_{0};
  std::atomic<long long> longestStallMs_{0};
  std::atomic<ServingPriority> servingPriority_{ServingPriority::Normal};
  std::atomic<std::uint64_t> bytesFromPc_{0};
  std::atomic<std::uint64_t> bytesToPc_{0};
  std::atomic<std::uint64_t> wrongSpeedBytes_{0};
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> paused_{false};
  std::mutex pauseMutex_;
  std::condition_variable pauseChanged_;
  std::string lastError_;
};

}  // namespace zarvik::sim
