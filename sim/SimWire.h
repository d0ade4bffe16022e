// The register's side of the line: control packets and data frames as the
// register builds and receives them, packed-BCD numbers, BCD dates and times.
// This is the simulator's own code; it shares nothing with the PC side, so a
// fault in one cannot hide in the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik::sim {

using Bytes = std::vector<std::uint8_t>;

// Link constants as they travel on the line.
inline constexpr std::uint8_t kSync0 = 0x7F;     // first byte of a control packet
inline constexpr std::uint8_t kSync1 = 0x02;     // second byte of a control packet
inline constexpr std::uint8_t kEscape = 0x7F;    // escape byte inside a data frame
inline constexpr std::uint8_t kStuffed = 0x10;   // 0x7F 0x10 = one payload byte 0x7F
inline constexpr std::uint8_t kEndMark = 0x03;   // 0x7F 0x03 = end of the payload
inline constexpr std::uint8_t kLeadByte = 0x00;  // lead byte of a data frame
inline constexpr std::size_t kControlPacketSize = 5;
inline constexpr std::size_t kMaxPayload = 256;          // what a receiver stores at most
inline constexpr std::size_t kMaxRegisterPayload = 255;  // what the PC accepts from us

// Control byte bits.
inline constexpr std::uint8_t kKindMask = 0xCF;  // kind with direction and continuation masked
inline constexpr std::uint8_t kClassMask = 0xC0;
inline constexpr std::uint8_t kClassControl = 0xC0;
inline constexpr std::uint8_t kClassData = 0x80;
inline constexpr std::uint8_t kFromRegister = 0x20;  // direction bit, set on what we send
inline constexpr std::uint8_t kContinuation = 0x10;
inline constexpr std::uint8_t kNumberMask = 0x07;

// Control kinds (control byte AND 0xCF).
inline constexpr std::uint8_t kDISC = 0xC0;
inline constexpr std::uint8_t kREJ = 0xC3;
inline constexpr std::uint8_t kRDY = 0xC5;
inline constexpr std::uint8_t kREPEAT = 0xC6;
inline constexpr std::uint8_t kWAIT = 0xC7;
inline constexpr std::uint8_t kBUSY = 0xC9;
inline constexpr std::uint8_t kACK = 0xCA;
inline constexpr std::uint8_t kSYN = 0xCC;
inline constexpr std::uint8_t kRST = 0xCF;

// Network number 1..98 as it travels: two BCD digits. 0 for a number outside.
std::uint8_t NetworkAddress(int networkNumber);

// 7F 02 address control check, with address + control + check = 0 mod 256.
Bytes BuildControlPacket(std::uint8_t address, std::uint8_t control);
// 00, payload with 0x10 after every 0x7F, 7F 03, check over the payload.
// Payloads longer than 256 bytes are cut (a sender never sends more).
Bytes BuildDataFrame(const std::uint8_t* payload, std::size_t length);
inline Bytes BuildDataFrame(const Bytes& payload) {
  return BuildDataFrame(payload.data(), payload.size());
}
// (0 - sum of the bytes) mod 256.
std::uint8_t CheckByte(const std::uint8_t* bytes, std::size_t length);

// Byte-by-byte receiver of what the PC sends: control packets, and the data
// frame that follows a data header. Never reads past what it is given, keeps
// at most 256 payload bytes, and always comes back to hunting for 0x7F 0x02.
class FrameReceiver {
 public:
  enum class EventKind {
    Control,   // a control packet for our address (not a data header)
    Data,      // a data header and its frame, check byte good
    BadFrame,  // a data header whose frame failed: check byte, escape, overflow
    Ignored,   // a control packet with a bad check byte or another address
  };
  struct Event {
    EventKind kind = EventKind::Ignored;
    std::uint8_t control = 0;
    Bytes payload;
  };

  explicit FrameReceiver(std::uint8_t ownAddress) : address_(ownAddress) {}

  // Feeds one byte; returns an event when a packet or frame is complete.
  std::optional<Event> Feed(std::uint8_t byte);
  // Drops a half-received packet (the line fell silent in the middle).
  void Reset();
  bool Idle() const { return state_ == State::Hunt; }

 private:
  enum class State { Hunt, Sync1, Address, Control, Check, Lead, Payload, Escape, FrameCheck };
  std::optional<Event> FrameFailed();

  std::uint8_t address_;
  State state_ = State::Hunt;
  std::uint8_t packet_[kControlPacketSize] = {};
  std::uint8_t header_ = 0;
  Bytes payload_;
  std::uint8_t sum_ = 0;
};

// Packed BCD, least significant byte first (byte 0 holds the two lowest
// digits, tens in the high nibble).
// Writes `value` into `width` bytes; false (and nothing written) when it has
// more digits than fit.
bool PutBcd(std::uint8_t* out, std::size_t width, std::uint64_t value);
// Reads `width` bytes; nullopt when a nibble is above 9.
std::optional<std::uint64_t> GetBcd(const std::uint8_t* in, std::size_t width);
// One byte of two BCD digits (0..99).
std::uint8_t BcdByte(int value);
// 0..99 from one BCD byte; -1 when a nibble is above 9.
int BcdValue(std::uint8_t byte);

// Decimal text with up to `decimals` fraction digits ("45.5", "12,30", "7")
// scaled to an integer (decimals 2: kopecks; 3: thousandths). nullopt when
// the text is not such a number.
std::optional<std::uint64_t> ParseScaled(std::string_view text, int decimals);
// The inverse for messages and README examples: 4550, 2 -> "45.50".
std::string FormatScaled(std::uint64_t value, int decimals);

// Fixed-width text field: UTF-8 to code page 1251, cut to `width` bytes,
// the rest zero.
void PutText(std::uint8_t* out, std::size_t width, std::string_view utf8);
// Code page 1251 bytes up to `width` or the first 0x00, as UTF-8.
std::string GetText(const std::uint8_t* in, std::size_t width);

// Hexadecimal bytes separated by blanks ("A1 01 00"); nullopt on a bad digit
// or an odd count.
std::optional<Bytes> ParseHexBytes(std::string_view text);
std::string HexBytes(const std::uint8_t* bytes, std::size_t count);

}  // namespace zarvik::sim
