#include "protocol/U_protocolkkm.h"

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

#include "protocol/LinkExchange.h"
#include "shell/DiaLog.h"
#include "shell/UiHooks.h"

namespace zarvik {
namespace {

// The trace form of up to three bytes: decimal, separated by ",".
std::string FirstBytesText(std::span<const std::uint8_t> bytes) {
  std::string text;
  const std::size_t n = std::min<std::size_t>(bytes.size(), 3);
  for (std::size_t i = 0; i < n; ++i) {
    if (i != 0) text += ",";
    text += std::to_string(bytes[i]);
  }
  return text;
}

}  // namespace

void TMessageBuffer::Assign(std::span<const std::uint8_t> data) {
  const std::size_t n = std::min(data.size(), bytes.size());
  std::copy_n(data.begin(), n, bytes.begin());
  count = static_cast<std::int32_t>(n);
}

std::span<const std::uint8_t> TMessageBuffer::View() const {
  const auto n =
      static_cast<std::size_t>(std::clamp<std::int32_t>(count, 0, static_cast<std::int32_t>(bytes.size())));
  return std::span<const std::uint8_t>(bytes.data(), n);
}

std::span<std::uint8_t> TMessageBuffer::View() {
  const auto n =
      static_cast<std::size_t>(std::clamp<std::int32_t>(count, 0, static_cast<std::int32_t>(bytes.size())));
  return std::span<std::uint8_t>(bytes.data(), n);
}

IByteStream* TProtocolKKM::Line() {
  if (line_ != nullptr) return line_;
  if (kkm == nullptr || kkm->port == nullptr) return nullptr;
  if (!portLine_ || &portLine_->Port() != kkm->port) {
    portLine_.reset();
    portLine_.emplace(*kkm->port);
  }
  return &*portLine_;
}

void TProtocolKKM::Wait(std::chrono::milliseconds d) {
  if (d <= std::chrono::milliseconds::zero()) return;
  if (sleep) {
    sleep(d);
  } else {
    std::this_thread::sleep_for(d);
  }
}

std::uint8_t TProtocolKKM::NetworkNumber() const {
  return kkm != nullptr ? kkm->networkNumber : 0;
}

TLinkCode TProtocolKKM::SendControl(std::uint8_t control) {
  lastSentControl = control;
  const int number = NetworkNumber();
  if (number < kMinNetworkNumber || number > kMaxNetworkNumber) return TLinkCode::BadNetworkNumber;
  const auto packet = BuildControlPacket(NetworkAddress(number), control);
  if (IsResyncKind(control)) {
    kkm->rxSeq = 0;
    kkm->txSeq = 0;
  }
  IByteStream* line = Line();
  std::uint32_t count = kControlPacketSize;
  const bool written = line != nullptr && line->Write(packet.data(), count) && count == kControlPacketSize;
  if (ControlKind(control) == kDISC) Wait(waits.afterDisc);
  if (!written) return TLinkCode::WriteFailed;
  MT(">" + PacketKindName(control) + "  ККМ=" + std::to_string(number) +
         (retryTrace_ ? std::string(kRetryMark) : std::string()),
     mdFunctional);
  return TLinkCode::Ok;
}

TLinkCode TProtocolKKM::CheckControlPacket(const TControlPacket& packet) const {
  if (static_cast<std::uint8_t>(packet[2] + packet[3] + packet[4]) != 0) return TLinkCode::BadCrc;
  if (packet[0] != kFrameStart || packet[1] != kControlMark || packet[2] != NetworkAddress(NetworkNumber())) {
    return TLinkCode::FrameFormat;
  }
  return TLinkCode::Ok;
}

void TProtocolKKM::TakeControlPacket(const TControlPacket& packet, std::uint8_t& control) {
  control = packet[3];
  heard_ = true;
  if (IsResyncKind(control) && kkm != nullptr) {
    kkm->rxSeq = 0;
    kkm->txSeq = 0;
  }
  lastReceivedControl = control;
  MT(">" + PacketKindName(control) + "  ККМ=" + std::to_string(NetworkNumber()) +
         (awaitRepeat_ && IsDataHeader(control) ? std::string(kRetryMark) : std::string()),
     mdFunctional);
}

TLinkCode TProtocolKKM::ReceiveControl(std::uint8_t& control) {
  TControlPacket packet{};
  IByteStream* line = Line();
  std::uint32_t count = kControlPacketSize;
  if (line == nullptr || !line->Read(packet.data(), count) || count != kControlPacketSize) {
    return TLinkCode::ReadFailed;
  }
  const TLinkCode code = CheckControlPacket(packet);
  if (code != TLinkCode::Ok) return code;
  TakeControlPacket(packet, control);
  return TLinkCode::Ok;
}

TLinkCode TProtocolKKM::SeekControl(std::uint8_t& control) {
  TControlPacket packet{};
  IByteStream* line = Line();
  std::uint32_t count = kControlPacketSize;
  if (line == nullptr || !line->Read(packet.data(), count) || count != kControlPacketSize) {
    return TLinkCode::ReadFailed;
  }
  const TLinkCode first = CheckControlPacket(packet);
  // A packet in step, taken or refused as it is: garbled (its check byte),
  // or meant for another register.
  const auto inStep = [&packet] { return packet[0] == kFrameStart && packet[1] == kControlMark; };
  if (first == TLinkCode::Ok || inStep()) {
    if (first == TLinkCode::Ok) TakeControlPacket(packet, control);
    return first;
  }
  // Out of step: the bytes before the next possible start (0x7F followed by
  // 0x02, or a 0x7F at the end) are dropped and the packet is read on, until
  // a valid packet, the end of what the line brings, or kMaxSkippedBytes.
  std::size_t dropped = 0;
  for (;;) {
    std::size_t start = 1;
    while (start < kControlPacketSize &&
           !(packet[start] == kFrameStart &&
             (start + 1 == kControlPacketSize || packet[start + 1] == kControlMark)))
      ++start;
    dropped += start;
    if (dropped > kMaxSkippedBytes) return first;
    std::copy(packet.begin() + static_cast<std::ptrdiff_t>(start), packet.end(), packet.begin());
    const std::size_t kept = kControlPacketSize - start;
    std::uint32_t wanted = static_cast<std::uint32_t>(start);
    if (!line->Read(packet.data() + kept, wanted) || wanted != start) return first;
    // Only a whole valid packet ends the search: a 0x7F 0x02 among junk
    // may be junk too.
    if (!inStep() || CheckControlPacket(packet) != TLinkCode::Ok) continue;
    ++lineCounts.resyncs;
    WT("Sync>WaitKvit:" + std::to_string(dropped) + " bytes dropped before a packet", mdFunctional);
    TakeControlPacket(packet, control);
    return TLinkCode::Ok;
  }
}

TLinkCode TProtocolKKM::SendControlAgain(std::uint8_t control) {
  ++lineCounts.framesResent;
  retryTrace_ = true;
  const TLinkCode code = SendControl(control);
  retryTrace_ = false;
  return code;
}

TLinkCode TProtocolKKM::SendData(const std::uint8_t* payload, std::int32_t length) {
  const std::size_t n = payload == nullptr || length <= 0 ? 0 : static_cast<std::size_t>(length);
  const std::vector<std::uint8_t> frame =
      BuildDataFrame(std::span<const std::uint8_t>(payload, n), kFramePayloadCapacity);
  IByteStream* line = Line();
  const auto size = static_cast<std::uint32_t>(frame.size());
  std::uint32_t count = size;
  if (line == nullptr || !line->Write(frame.data(), count) || count != size) return TLinkCode::WriteFailed;
  MT(">data ПК->ККМ             size:" + std::to_string(length) + "  :" +
         FirstBytesText(std::span(frame).subspan(1)) +
         (retryTrace_ ? std::string(kRetryMark) : std::string()),
     mdFunctional);
  return TLinkCode::Ok;
}

TLinkCode TProtocolKKM::ReceiveData(std::uint8_t* buffer, std::size_t capacity, std::int32_t& length) {
  length = 0;
  IByteStream* line = Line();
  if (line == nullptr) return TLinkCode::ReadFailed;
  // One byte per read, so that every byte has its own time-out and nothing
  // beyond the frame is taken from the line.
  auto readByte = [line](std::uint8_t& b) {
    std::uint32_t count = 1;
    return line->Read(&b, count) && count == 1;
  };
  std::uint8_t b = 0;
  if (!readByte(b)) return TLinkCode::ReadFailed;  // lead byte, value ignored
  std::size_t stored = 0;
  std::uint8_t sum = 0;
  bool escape = false;
  bool ended = false;
  while (stored < capacity && !ended) {
    if (!readByte(b)) return TLinkCode::ReadFailed;
    if (escape) {
      escape = false;
      if (b == kEndMark) {
        ended = true;
      } else if (b == kStuffByte) {
        buffer[stored++] = kEscapedByte;
        sum = static_cast<std::uint8_t>(sum + kEscapedByte);
      } else {
        return TLinkCode::FrameFormat;
      }
    } else if (b == kEscapedByte) {
      escape = true;
    } else {
      buffer[stored++] = b;
      sum = static_cast<std::uint8_t>(sum + b);
    }
  }
  if (!ended) return TLinkCode::Overflow;
  std::uint8_t check = 0;
  if (!readByte(check)) return TLinkCode::ReadFailed;
  if (static_cast<std::uint8_t>(sum + check) != 0) return TLinkCode::BadCrc;
  length = static_cast<std::int32_t>(stored);
  MT(">data ПК<-ККМ             size:" + std::to_string(length) + "  :" +
         FirstBytesText(std::span<const std::uint8_t>(buffer, stored)) +
         (awaitRepeat_ ? std::string(kRetryMark) : std::string()),
     mdFunctional);
  return TLinkCode::Ok;
}

TLinkCode TProtocolKKM::SendDataPacket(const TMessageBuffer& request, bool continuation) {
  const std::uint8_t seq = kkm != nullptr ? kkm->txSeq : 0;
  std::uint8_t header = static_cast<std::uint8_t>(kClassDataHeader + (seq & kPacketNumberMask));
  if (continuation) header = static_cast<std::uint8_t>(header + kContinuationBit);
  const TLinkCode code = SendControl(header);
  if (code != TLinkCode::Ok) return code;
  const std::int32_t length =
      std::min<std::int32_t>(request.count, static_cast<std::int32_t>(request.bytes.size()));
  return SendData(request.bytes.data(), length);
}

bool TProtocolKKM::Exchange(TMessageBuffer& request, TMessageBuffer& answer, bool continuation) {
  return TLinkExchange(*this, request, answer, continuation).Run();
}

}  // namespace zarvik
