// The fixed waits and limits of the register link. Every pause of the
// exchange is named here; an exchange takes its waits from a TLinkWaits
// value so that a test or a fuzzer can run it without sleeping.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace zarvik {

struct TLinkWaits {
  // After the start trace of an exchange.
  std::chrono::milliseconds atStart{10};
  // After the end trace of an exchange.
  std::chrono::milliseconds atEnd{10};
  // After a SYN or RST sent because of a wrong packet number.
  std::chrono::milliseconds afterResync{10};
  // After every DISC written (also when the write failed).
  std::chrono::milliseconds afterDisc{50};
  // After a poll cycle that expects data or ended with a failure.
  std::chrono::milliseconds afterWaitingCycle{50};
  // After each poll cycle once a frame has been handed to onData.
  std::chrono::milliseconds afterStreamCycle{350};
};

// The waits of a real line.
inline constexpr TLinkWaits kLinkWaits{};
// No waits at all (in-memory tests and fuzzing).
inline constexpr TLinkWaits kNoLinkWaits{std::chrono::milliseconds{0}, std::chrono::milliseconds{0},
                                         std::chrono::milliseconds{0}, std::chrono::milliseconds{0},
                                         std::chrono::milliseconds{0}, std::chrono::milliseconds{0}};

// Limits of one exchange.
inline constexpr int kMaxStepsPerCycle = 10;
inline constexpr int kMaxPollCycles = 6;
// Payload bytes of one data frame (sent at most; received up to one less).
inline constexpr std::size_t kFramePayloadCapacity = 256;
// Bytes an answer may collect before the exchange gives up.
inline constexpr std::size_t kMaxAnswerBytes = 8192;
// Room of a message buffer: a frame is stored before the total is checked.
inline constexpr std::size_t kMessageBufferCapacity = kMaxAnswerBytes + kFramePayloadCapacity;

}  // namespace zarvik
