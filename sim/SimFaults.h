// Faults the simulated register can be told to make, one-shot or counted.
//
// Text form (command line, scenario section "Faults", Simulator::AddFault):
//   KIND[=PARAM][@PERCENT][*COUNT]
// COUNT is how many times the fault fires (default 1; "inf" = every time).
// PERCENT makes it fire only by chance: at each place where it could fire,
// with that probability (0..100, up to four decimals; default 100). A place
// it passes by does not count.
//   crc          the next data frame carries a wrong check byte
//   ctlcrc       the next control packet carries a wrong check byte
//   drop[=N]     the next data frame loses its last N bytes (default 1)
//   extra[=N]    N junk bytes (0xA5, default 1) follow the next data frame
//   lose[=N]     the next data frame loses N bytes from its middle (default 1)
//   garble       the next packet sent (control packet or data packet) has a
//                byte in its middle changed, as line noise would change it
//   seq          the next data frame carries a wrong packet number
//   wait[=K[:C]] the next command's answer is preceded by K WAIT packets
//                (default 1): one in place of each poll that would fetch it;
//                with :C only the answer of command C (decimal code)
//   busy         the next poll is answered with BUSY
//   rej          the next poll is answered with REJ
//   silence      the next packet from the PC is ignored (no answer at all)
//   flood[=N]    the next poll is answered with N ACK packets (default 10)
//   result=C:R   the next command C (decimal code) is answered with result R
// Examples: "crc", "wait=2", "busy*inf", "silence*6", "result=16:9*3",
// "crc@2.5*inf" (a bad check byte on one data frame in forty, at random).
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik::sim {

enum class FaultKind {
  Crc,
  ControlCrc,
  Drop,
  Extra,
  Sequence,
  Wait,
  Busy,
  Reject,
  Silence,
  Result,
  Flood,
  Lose,
  Garble
};
inline constexpr int kFaultKindCount = 13;
inline constexpr int kDefaultFlood = 10;

inline constexpr int kFaultForever = -1;
inline constexpr std::uint8_t kJunkByte = 0xA5;
// Chances are kept in millionths: 100 % is kChanceScale.
inline constexpr int kChanceScale = 1000000;
inline constexpr int kChancePerPercent = kChanceScale / 100;
// The seed of the chance faults' random numbers unless one is given.
inline constexpr std::uint64_t kDefaultFaultSeed = 1;

struct Fault {
  FaultKind kind = FaultKind::Crc;
  int param = 1;   // N of drop/extra/lose/flood, K of wait, the command of result
  int result = 0;  // result code of result
  int count = 1;   // times left to fire; kFaultForever never runs out
  int chance = kChanceScale;  // millionths: how likely it fires where it could
  int command = -1;           // wait: only for this command (-1: any)
  bool operator==(const Fault&) const = default;
};

// Parses the text form; false (and `error` set) for a malformed text.
bool ParseFault(std::string_view text, Fault& out, std::string& error);
// The text form of a fault (parses back to the same fault).
std::string FaultText(const Fault& fault);

class FaultSet {
 public:
  void Add(const Fault& fault) { faults_.push_back(fault); }
  void Clear() { faults_.clear(); }
  // Restarts the random numbers of the chance faults.
  void Seed(std::uint64_t seed) { random_.seed(seed); }
  // Fires the first armed fault of `kind` (for Result, and Wait with a
  // command: of that command) that
  // its chance lets fire; returns it, or nullptr when none does. The pointer
  // is valid until the next call.
  const Fault* Fire(FaultKind kind, int command = -1);
  // Faults still armed.
  std::vector<Fault> Armed() const;
  // How many times faults of `kind` have fired since the start.
  int Fired(FaultKind kind) const;

 private:
  std::vector<Fault> faults_;
  std::mt19937_64 random_{kDefaultFaultSeed};
  Fault fired_{};
  int firedCount_[kFaultKindCount] = {};
};

}  // namespace zarvik::sim
