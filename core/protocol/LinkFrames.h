// The two frames of the register link, byte by byte.
//
// Control packet, always 5 bytes:
//   7F 02 <address> <control> <check>, address = network number as two BCD
//   digits, check = (0 - address - control) mod 256.
// Data frame, sent after a control packet whose control byte is a data
// header:
//   00 <payload, each 7F followed by an inserted 10> 7F 03 <check>,
//   check = (0 - sum of the payload bytes) mod 256.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik {

// Framing bytes.
inline constexpr std::uint8_t kFrameStart = 0x7F;
inline constexpr std::uint8_t kControlMark = 0x02;
inline constexpr std::uint8_t kDataLeadByte = 0x00;
inline constexpr std::uint8_t kEscapedByte = 0x7F;
inline constexpr std::uint8_t kStuffByte = 0x10;
inline constexpr std::uint8_t kEndMark = 0x03;
inline constexpr std::size_t kControlPacketSize = 5;
// Bytes the reader drops at most while it looks for the start of a packet:
// two of the longest data packets. A line that brings more is no line.
inline constexpr std::size_t kMaxSkippedBytes = 2 * (kControlPacketSize + 3 + 2 * 256 + 1);
// The end of the trace of a packet that crosses the line again (the line
// monitor marks these rows).
inline constexpr std::string_view kRetryMark = " (повтор)";

// Control byte bits.
inline constexpr std::uint8_t kClassMask = 0xC0;
inline constexpr std::uint8_t kClassControl = 0xC0;
inline constexpr std::uint8_t kClassDataHeader = 0x80;
inline constexpr std::uint8_t kDirectionBit = 0x20;     // set: register to PC
inline constexpr std::uint8_t kContinuationBit = 0x10;  // more data without a new poll
inline constexpr std::uint8_t kKindMask = 0xCF;         // the kind: direction and continuation off
inline constexpr std::uint8_t kPacketNumberMask = 0x07;

// Control kinds (control byte AND kKindMask).
inline constexpr std::uint8_t kDISC = 0xC0;
inline constexpr std::uint8_t kREJ = 0xC3;
inline constexpr std::uint8_t kRDY = 0xC5;
inline constexpr std::uint8_t kRepeatRequest = 0xC6;
inline constexpr std::uint8_t kWAIT = 0xC7;
inline constexpr std::uint8_t kBUSY = 0xC9;
inline constexpr std::uint8_t kACK = 0xCA;
inline constexpr std::uint8_t kSYN = 0xCC;
inline constexpr std::uint8_t kRST = 0xCF;

// Network numbers a register may have.
inline constexpr int kMinNetworkNumber = 1;
inline constexpr int kMaxNetworkNumber = 98;

// Result codes of the link; they share the numbering of the register's own
// result codes (texts: ResultText).
enum class TLinkCode : int {
  Ok = 0,
  FrameFormat = 3,        // bad framing or another network address
  Overflow = 28,          // no end marker within the frame capacity
  BadNetworkNumber = 29,  // own network number outside 1..98
  WriteFailed = 30,       // the port write failed or was short
  BadCrc = 31,            // check byte mismatch
  ReadFailed = 32,        // the port read failed or timed out
};
constexpr int ToInt(TLinkCode code) {
  return static_cast<int>(code);
}

constexpr bool IsDataHeader(std::uint8_t control) {
  return (control & kClassMask) == kClassDataHeader;
}
constexpr std::uint8_t ControlKind(std::uint8_t control) {
  return static_cast<std::uint8_t>(control & kKindMask);
}
constexpr bool IsResyncKind(std::uint8_t control) {
  return ControlKind(control) == kSYN || ControlKind(control) == kRST;
}
// The network number as two BCD digits (12 -> 0x12); valid for 0..99.
constexpr std::uint8_t NetworkAddress(int networkNumber) {
  return static_cast<std::uint8_t>(((networkNumber / 10 % 10) << 4) | (networkNumber % 10));
}
constexpr std::uint8_t ControlCheckByte(std::uint8_t address, std::uint8_t control) {
  return static_cast<std::uint8_t>(0u - address - control);
}

std::array<std::uint8_t, kControlPacketSize> BuildControlPacket(std::uint8_t address, std::uint8_t control);
// The whole data frame of the first min(payload size, capacity) bytes.
std::vector<std::uint8_t> BuildDataFrame(std::span<const std::uint8_t> payload, std::size_t capacity);

// Name for traces: "RDY  ПК->ККМ синх. ", "DATA ПК<-ККМ асинх." ...
std::string PacketKindName(std::uint8_t control);

}  // namespace zarvik
