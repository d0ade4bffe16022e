#include "protocol/U_protocolkkm.h"

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

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
  IByteStream* line = Line();
  lastExchangeFailed_ = true;
  awaitRepeat_ = false;
  heard_ = false;
  answerTooLong_ = false;
  if (kkm == nullptr || line == nullptr) {
    onData = nullptr;
    frameForm = nullptr;
    return false;
  }
  if (!line->IsOpen() && !line->Open()) {
    // A streaming handler must not outlive its exchange: the next command
    // would hand its answer to it.
    onData = nullptr;
    frameForm = nullptr;
    return false;
  }
  MT("----- начало синхронизации с ККМ -----", mdFunctional);
  Wait(waits.atStart);

  bool dataPhase = false;
  bool sending = false;
  bool delivered = false;
  // A data frame that comes before this exchange has sent its request
  // cannot be its answer: it is what is left of an exchange abandoned
  // earlier (a program killed in a stream, a failed read). It is dropped,
  // the register is told to stop with DISC, and the poll starts again.
  const bool hasRequest = request.count != 0;
  bool requestSent = false;
  bool staleDropped = false;
  // After a wrong packet number the register is told to start again at 0
  // and sends its current frame again with that number; frames that come
  // before it were on their way before the register heard SYN or RST. They
  // are dropped without a new resynchronisation, which would only make the
  // register send yet another copy (one late frame would otherwise keep two
  // copies on the line for the rest of the stream).
  bool resyncSent = false;
  // The last frame taken with the receipt that ends the transfer (0xCA): the
  // register sends it again when it did not hear that receipt, or when a
  // poll crossed it; it is acknowledged again, not taken twice.
  bool finalTaken = false;
  std::uint8_t finalNumber = 0;
  std::vector<std::uint8_t> finalFrame;
  // The last frame taken and the receipt it got. When that receipt is lost,
  // the register sends the frame again once the PC polls, with the number
  // it had; taking it would hand the same frame over twice. A copy can also
  // come for a poll that crossed the receipt, and then the register moves on
  // when the receipt arrives: the PC cannot tell the two apart by the copy,
  // so it resynchronises, and the register answers a resynchronisation with
  // the frame it still waits to have acknowledged. When that is the frame
  // taken, it is acknowledged again and not taken; else it is the next one.
  // A copy is looked for only once the PC has polled since it took the
  // frame: within one cycle the next frame answers the receipt itself.
  std::vector<std::uint8_t> lastTaken;
  bool haveTaken = false;
  std::uint8_t lastReceipt = kACK;
  bool polledSinceTaken = false;
  TLinkCode code = TLinkCode::Ok;
  int cycle = 1;
  kkm->linkState = lsNotSynchronised;

  for (;;) {
    answer.count = 0;
    UiHooks().ProcessEvents();
    if (UiHooks().IsTerminating()) {
      lastExchangeFailed_ = false;
      return true;
    }

    code = SendControl(kRDY);
    if (haveTaken) polledSinceTaken = true;
    if (code != TLinkCode::Ok) {
      ET("SendKvit:" + ResultText(code), mdFunctional);
      kkm->linkState = lsNotSynchronised;
    } else {
      int step = 0;
      bool looped = true;  // false when the repetition was left early
      bool cutAskedAgain = false;  // a frame cut short was asked for again in this cycle
      while (step < kMaxStepsPerCycle) {
        std::uint8_t control = 0;
        code = SeekControl(control);
        if (code != TLinkCode::Ok) {
          WT("Sync>WaitKvit:" + ResultText(code), mdFunctional);
          kkm->linkState = lsNoAnswer;
          looped = false;
          break;
        }
        bool more = (control & kContinuationBit) != 0;

        if (IsDataHeader(control)) {
          if (onData) answer.count = 0;
          const auto at = static_cast<std::size_t>(
              std::clamp<std::int32_t>(answer.count, 0, static_cast<std::int32_t>(kMaxAnswerBytes)));
          std::int32_t n = 0;
          code = ReceiveData(answer.bytes.data() + at, kFramePayloadCapacity, n);
          // A garbled frame (its check byte, a broken escape, no end within
          // the capacity) is asked for again; what is left of it on the line
          // is dropped by the next read of a control packet. So is a frame
          // cut short (bytes lost: the line fell silent before its end), at
          // once instead of in a new poll cycle, once in a cycle: each costs
          // a read time-out, and a second one ends the cycle as before.
          const bool cut = code == TLinkCode::ReadFailed && !cutAskedAgain;
          if (code == TLinkCode::BadCrc || code == TLinkCode::FrameFormat || code == TLinkCode::Overflow || cut) {
            if (cut) cutAskedAgain = true;
            if (code != TLinkCode::BadCrc) WT("WaitData:" + ResultText(code), mdFunctional);
            SendControl(kRepeatRequest);
            ++lineCounts.repeatsAsked;
            awaitRepeat_ = true;
            kkm->linkState = lsNoAnswer;
            ++step;
            continue;
          }
          if (code == TLinkCode::Ok && frameForm &&
              !frameForm(
                  std::span<const std::uint8_t>(answer.bytes.data() + at, static_cast<std::size_t>(n)))) {
            WT("WaitData:frame of a wrong size, asked again", mdFunctional);
            SendControl(kRepeatRequest);
            ++lineCounts.repeatsAsked;
            awaitRepeat_ = true;
            kkm->linkState = lsNoAnswer;
            ++step;
            continue;
          }
          if (code != TLinkCode::Ok) {
            ET("WaitData:" + ResultText(code), mdFunctional);
            kkm->linkState = lsNoAnswer;
            looped = false;
            break;
          }
          if (hasRequest && !requestSent) {
            WT("WaitData:answer of an earlier exchange, dropped", mdFunctional);
            SendControl(kDISC);
            line->DiscardInput();
            staleDropped = true;
            looped = false;
            break;
          }
          const auto number = static_cast<std::uint8_t>(control & kPacketNumberMask);
          const std::span<const std::uint8_t> frame(answer.bytes.data() + at, static_cast<std::size_t>(n));
          if (finalTaken && number == finalNumber && std::equal(frame.begin(), frame.end(), finalFrame.begin(),
                                                                finalFrame.end())) {
            WT("WaitData:last frame repeated, acknowledged again", mdFunctional);
            ++lineCounts.framesResent;
            SendControl(kACK);
            kkm->linkState = lsDone;
            looped = false;
            break;
          }
          const bool inStep = number == (kkm->rxSeq & kPacketNumberMask);
          const bool copyOfTaken = haveTaken && std::equal(frame.begin(), frame.end(), lastTaken.begin(),
                                                           lastTaken.end());
          if (!inStep && resyncSent) {
            WT("WaitData:frame sent before the resynchronisation, dropped", mdFunctional);
            ++lineCounts.framesResent;
            ++step;
            continue;
          }
          if (inStep && resyncSent && copyOfTaken) {
            // The register still waits for the receipt of the frame taken.
            WT("WaitData:frame taken before sent again, acknowledged again", mdFunctional);
            ++lineCounts.framesResent;
            resyncSent = false;
            polledSinceTaken = false;
            ++kkm->rxSeq;
            SendControl(lastReceipt);
            dataPhase = (lastReceipt & kContinuationBit) != 0;
            step = 1;
            cycle = 1;
            if (dataPhase) {
              ++step;
              continue;
            }
            kkm->linkState = lsDone;
            looped = false;
            break;
          }
          if (!inStep || (copyOfTaken && polledSinceTaken)) {
            if (inStep) {
              WT("WaitData:frame taken before sent again", mdFunctional);
              ++lineCounts.framesResent;
            }
            WT("WaitData:bad paket number", mdFunctional);
            ++lineCounts.resyncs;
            answer.count = 0;
            kkm->linkState = lsNotSynchronised;
            kkm->rxSeq = 0;
            kkm->txSeq = 0;
            SendControl(more ? kRST : kSYN);
            Wait(waits.afterResync);
            dataPhase = true;
            resyncSent = true;
            ++step;
            continue;
          }
          // The frame is accepted.
          resyncSent = false;
          awaitRepeat_ = false;
          const std::vector<std::uint8_t> taken(frame.begin(), frame.end());
          if (sending) {
            ++kkm->txSeq;  // the register's frame also acknowledges the request
            sending = false;
          }
          if (onData) {
            answer.count = n;
            onData(answer, more);
            delivered = true;
            request.count = 0;
          } else {
            answer.count = static_cast<std::int32_t>(at) + n;
          }
          ++kkm->rxSeq;
          if (answer.count > static_cast<std::int32_t>(kMaxAnswerBytes)) {
            answerTooLong_ = true;
            Error("слишком много данных", false, true, true);
            onData = nullptr;
            frameForm = nullptr;
            return false;
          }
          lastReceipt = more ? static_cast<std::uint8_t>(kACK | kContinuationBit) : kACK;
          SendControl(lastReceipt);
          // The window's events once the receipt is out: they are handled
          // while the register sends its next frame, not before it may.
          UiHooks().ProcessEvents();
          lastTaken = taken;
          haveTaken = true;
          polledSinceTaken = false;
          finalTaken = !more;
          if (finalTaken) {
            finalNumber = number;
            finalFrame = taken;
          }
          dataPhase = more;
          step = 1;
          cycle = 1;
          if (more) {
            ++step;
            continue;
          }
          kkm->linkState = lsDone;
          looped = false;
          break;
        }

        const std::uint8_t kind = ControlKind(control);
        if (dataPhase && kind != kRepeatRequest && kind != kSYN) {
          ET("Во время ожидания данных не должно быть квитанций из ККМ: " + PacketKindName(control),
             mdFunctional);
        }
        if (kind == kRepeatRequest && dataPhase) {
          SendControlAgain(lastSentControl);
          ++step;
          continue;
        }
        if (kind == kREJ) {
          looped = false;
          break;
        }
        if (kind == kDISC || kind == kBUSY) {
          // BUSY where an answer is still owed (the request was
          // acknowledged, or a stream goes on): the answer has not come and
          // the exchange is not done. A stream may still bring its frames in
          // the next cycles. (A DISC is the register giving the answer up.)
          if (dataPhase && kind == kBUSY) kkm->linkState = lsBusy;
          dataPhase = false;
          looped = false;
          break;
        }
        if (kind == kWAIT || kind == kRST) {
          kkm->linkState = lsBusy;
          looped = false;
          break;
        }
        if (kind == kACK && sending) {
          kkm->linkState = lsDone;
          ++kkm->txSeq;
          sending = false;
          dataPhase = true;
          if (continuation) {
            ++step;
            continue;
          }
          looped = false;
          break;
        }
        if (kind == kRDY) {
          sending = request.count != 0;
          if (!sending) {
            kkm->linkState = lsDone;
            looped = false;
            break;
          }
        }
        if ((kind == kSYN || kind == kRDY || kind == kRepeatRequest) && sending) {
          // The request again: the register asked for it once more.
          if (requestSent) ++lineCounts.framesResent;
          // A request sent again, in this exchange or in the repetition of
          // its command, is marked as a repetition.
          retryTrace_ = requestSent || repeatingCommand_;
          code = SendDataPacket(request, continuation);
          retryTrace_ = false;
          if (code != TLinkCode::Ok) {
            WT("Syn>Send:" + ResultText(code), mdFunctional);
            kkm->linkState = lsNoAnswer;
            looped = false;
            break;
          }
          requestSent = true;
        }
        ++step;
      }
      if (looped) ET("зацикливание", mdFunctional);
      if (dataPhase || code != TLinkCode::Ok) Wait(waits.afterWaitingCycle);
      if (delivered) Wait(waits.afterStreamCycle);
    }

    if (cycle >= kMaxPollCycles) break;
    ++cycle;
    if (!(delivered || sending || dataPhase || code != TLinkCode::Ok || std::exchange(staleDropped, false)))
      break;
  }

  MT("----- конец синхронизации с ККМ  -----", mdFunctional);
  Wait(waits.atEnd);
  const bool ok = kkm->linkState == lsDone && !dataPhase && !sending;
  lastExchangeFailed_ = !ok;
  awaitRepeat_ = false;
  if (!ok) line->Reopen();
  onData = nullptr;
  frameForm = nullptr;
  return ok;
}

}  // namespace zarvik
