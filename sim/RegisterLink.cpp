#include "RegisterLink.h"

#include <algorithm>
#include <utility>

namespace zarvik::sim {
namespace {
constexpr std::size_t kMaxLog = 100000;
// How a garbled byte differs from the byte sent.
constexpr std::uint8_t kGarbleBits = 0x5A;
}  // namespace

RegisterLink::RegisterLink(RegisterState state)
    : state_(std::move(state)),
      receiver_(NetworkAddress(state_.networkNumber)),
      address_(NetworkAddress(state_.networkNumber)) {}

LinkStats RegisterLink::Stats() const {
  LinkStats s = stats_;
  s.streamLeft = answer_.size();
  s.unacknowledged = outstanding_.has_value();
  return s;
}

void RegisterLink::DropPendingAnswer() {
  answer_.clear();
  outstanding_.reset();
  waitLeft_ = 0;
}

bool RegisterLink::GiveUp() {
  receiver_.Reset();
  invited_ = false;
  lateAck_ = false;
  if (!AnswerPending()) return false;
  DropPendingAnswer();
  ++stats_.abandoned;
  return true;
}

void RegisterLink::Log(std::vector<std::uint8_t>& log, std::uint8_t control) {
  if (log.size() < kMaxLog) log.push_back(control);
}

std::vector<Bytes> RegisterLink::Feed(const std::uint8_t* data, std::size_t length) {
  out_.clear();
  for (std::size_t i = 0; i < length; ++i) {
    auto ev = receiver_.Feed(data[i]);
    if (!ev) continue;
    if (ev->kind == FrameReceiver::EventKind::Ignored) {
      ++stats_.ignoredPackets;
      continue;
    }
    if ((ev->control & kFromRegister) != 0) {
      ++stats_.echoes;  // not from the PC
      continue;
    }
    Log(stats_.received, ev->control);
    if (faults_.Fire(FaultKind::Silence)) continue;
    // What the previous packet left open lasts exactly one packet.
    const bool invited = std::exchange(invited_, false);
    const bool lateAck = std::exchange(lateAck_, false);
    switch (ev->kind) {
      case FrameReceiver::EventKind::Control: OnControl(ev->control, lateAck); break;
      case FrameReceiver::EventKind::Data: OnData(ev->control, ev->payload, invited); break;
      case FrameReceiver::EventKind::BadFrame:
        if (!invited) {
          ++stats_.uninvited;
          break;
        }
        ++stats_.badFrames;
        SendControl(kREPEAT);
        break;
      case FrameReceiver::EventKind::Ignored: break;
    }
  }
  return std::move(out_);
}

void RegisterLink::SendControl(std::uint8_t control) {
  const auto byte = static_cast<std::uint8_t>(control | kFromRegister);
  Bytes packet = BuildControlPacket(address_, byte);
  if (faults_.Fire(FaultKind::ControlCrc)) ++packet[4];
  if (faults_.Fire(FaultKind::Garble)) packet[2] ^= kGarbleBits;
  Log(stats_.sent, byte);
  lastWasData_ = false;
  lastControl_ = control;
  const std::uint8_t kind = control & kKindMask;
  invited_ = kind == kRDY || kind == kSYN || kind == kREPEAT;
  out_.push_back(std::move(packet));
}

void RegisterLink::SendOutstanding() {
  if (!outstanding_) return;
  auto header = static_cast<std::uint8_t>(kClassData | kFromRegister | (stats_.txSeq & kNumberMask));
  if (outstandingMore_) header = static_cast<std::uint8_t>(header | kContinuation);
  if (faults_.Fire(FaultKind::Sequence)) {
    header = static_cast<std::uint8_t>((header & ~kNumberMask) | ((header + 1) & kNumberMask));
  }
  Bytes packet = BuildControlPacket(address_, header);
  const Bytes frame = BuildDataFrame(*outstanding_);
  packet.insert(packet.end(), frame.begin(), frame.end());
  if (faults_.Fire(FaultKind::Crc)) ++packet.back();
  if (const Fault* f = faults_.Fire(FaultKind::Lose)) {
    // From the middle of the frame (after the 5 bytes of its header).
    const std::size_t frameStart = 5;
    const std::size_t middle = frameStart + (packet.size() - frameStart) / 2;
    const std::size_t n = std::min(static_cast<std::size_t>(f->param), packet.size() - middle);
    packet.erase(packet.begin() + static_cast<std::ptrdiff_t>(middle),
                 packet.begin() + static_cast<std::ptrdiff_t>(middle + n));
  }
  if (faults_.Fire(FaultKind::Garble)) packet[5 + (packet.size() - 5) / 2] ^= kGarbleBits;
  if (const Fault* f = faults_.Fire(FaultKind::Drop)) {
    const auto n = static_cast<std::size_t>(f->param);
    packet.resize(packet.size() > n ? packet.size() - n : 0);
  }
  if (const Fault* f = faults_.Fire(FaultKind::Extra)) {
    packet.insert(packet.end(), static_cast<std::size_t>(f->param), kJunkByte);
  }
  Log(stats_.sent, header);
  lastWasData_ = true;
  invited_ = false;
  out_.push_back(std::move(packet));
}

void RegisterLink::SendNextAnswer() {
  if (waitLeft_ > 0) {
    --waitLeft_;
    SendControl(kWAIT);
    return;
  }
  if (answer_.empty()) return;
  outstanding_ = std::move(answer_.front());
  answer_.pop_front();
  outstandingMore_ = !answer_.empty();
  SendOutstanding();
}

void RegisterLink::OnData(std::uint8_t header, const Bytes& payload, bool invited) {
  if (!invited) {
    ++stats_.uninvited;
    return;
  }
  if ((header & kNumberMask) != (stats_.rxSeq & kNumberMask)) {
    ++stats_.resyncs;
    stats_.rxSeq = 0;
    stats_.txSeq = 0;
    SendControl(kSYN);
    return;
  }
  ++stats_.rxSeq;
  const bool continued = (header & kContinuation) != 0;
  SendControl(continued ? static_cast<std::uint8_t>(kACK | kContinuation) : kACK);

  answer_.clear();
  outstanding_.reset();
  const std::uint8_t command = payload.size() >= 2 ? payload[1] : 0;
  if (const Fault* f = faults_.Fire(FaultKind::Result, command)) {
    answer_.push_back(Bytes{0x01, command, static_cast<std::uint8_t>(f->result)});
  } else {
    for (auto& frame : ExecuteCommand(state_, payload, continued)) answer_.push_back(std::move(frame));
  }
  const Fault* wait = faults_.Fire(FaultKind::Wait, command);
  waitLeft_ = wait ? wait->param : 0;
  if (continued) SendNextAnswer();
}

void RegisterLink::OnControl(std::uint8_t control, bool lateAck) {
  switch (control & kKindMask) {
    case kRDY:
      if (const Fault* f = faults_.Fire(FaultKind::Flood)) {
        for (int i = 0; i < f->param; ++i) SendControl(kACK);
      } else if (faults_.Fire(FaultKind::Busy)) {
        SendControl(kBUSY);
      } else if (faults_.Fire(FaultKind::Reject)) {
        SendControl(kREJ);
      } else if (outstanding_) {
        SendOutstanding();
      } else if (!answer_.empty()) {
        SendNextAnswer();
      } else {
        SendControl(kRDY);
      }
      break;
    case kACK:
      if (!outstanding_) {
        if (lateAck) ++stats_.txSeq;  // the frame a DISC cut off was taken
        break;
      }
      ++stats_.txSeq;
      outstanding_.reset();
      if (control & kContinuation) {
        SendNextAnswer();
      } else {
        answer_.clear();  // the PC wants no more
      }
      break;
    case kREPEAT:
      if (lastWasData_ && outstanding_) {
        SendOutstanding();
      } else if (lastControl_) {
        SendControl(*lastControl_);
      }
      break;
    case kSYN:
    case kRST:
      stats_.rxSeq = 0;
      stats_.txSeq = 0;
      if (outstanding_) SendOutstanding();
      break;
    case kDISC:
      lateAck_ = outstanding_.has_value();
      DropPendingAnswer();
      break;
    default: break;
  }
}

}  // namespace zarvik::sim
