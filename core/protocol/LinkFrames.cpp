#include "protocol/LinkFrames.h"

#include <algorithm>

namespace zarvik {

std::array<std::uint8_t, kControlPacketSize> BuildControlPacket(std::uint8_t address, std::uint8_t control) {
  return {kFrameStart, kControlMark, address, control, ControlCheckByte(address, control)};
}

std::vector<std::uint8_t> BuildDataFrame(std::span<const std::uint8_t> payload, std::size_t capacity) {
  const std::size_t n = std::min(payload.size(), capacity);
  std::vector<std::uint8_t> frame;
  frame.reserve(n * 2 + 4);
  frame.push_back(kDataLeadByte);
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = payload[i];
    frame.push_back(b);
    if (b == kEscapedByte) frame.push_back(kStuffByte);
    sum = static_cast<std::uint8_t>(sum + b);
  }
  frame.push_back(kFrameStart);
  frame.push_back(kEndMark);
  frame.push_back(static_cast<std::uint8_t>(0u - sum));
  return frame;
}

std::string PacketKindName(std::uint8_t control) {
  std::string name;
  if (IsDataHeader(control)) {
    name = "DATA ";
  } else {
    switch (ControlKind(control)) {
      case kDISC: name = "DISC "; break;
      case kREJ: name = "REJ  "; break;
      case kRDY: name = "RDY  "; break;
      case kWAIT: name = "WAIT "; break;
      case kBUSY: name = "BUSY "; break;
      case kACK: name = "ACK  "; break;
      case kSYN: name = "SYN  "; break;
      case kRST: name = "RST  "; break;
      default: name = "???"; break;
    }
  }
  name += (control & kDirectionBit) != 0 ? "ПК<-ККМ " : "ПК->ККМ ";
  name += (control & kContinuationBit) != 0 ? "асинх." : "синх. ";
  return name;
}

}  // namespace zarvik
