#include "protocol/LinkExchange.h"

#include <algorithm>
#include <span>
#include <utility>

#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "shell/UiHooks.h"

namespace zarvik {
namespace {

bool SameBytes(std::span<const std::uint8_t> a, const std::vector<std::uint8_t>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace

TLinkExchange::TLinkExchange(TProtocolKKM& protocol, TMessageBuffer& request, TMessageBuffer& answer,
                             bool continuation)
    : p_(protocol),
      request_(request),
      answer_(answer),
      continuation_(continuation),
      hasRequest_(request.count != 0) {}

bool TLinkExchange::Run() {
  TState state = TState::Start;
  for (;;) {
    switch (state) {
      case TState::Start: state = Start(); break;
      case TState::Poll: state = Poll(); break;
      case TState::AwaitPacket: state = AwaitPacket(); break;
      case TState::SendRequest: state = SendRequest(); break;
      case TState::ReadFrame: state = ReadFrame(); break;
      case TState::AskAgain: state = AskAgain(); break;
      case TState::PlaceFrame: state = PlaceFrame(); break;
      case TState::Resynchronise: state = Resynchronise(); break;
      case TState::ReceiptAgain: state = ReceiptAgain(); break;
      case TState::TakeFrame: state = TakeFrame(); break;
      case TState::ReceiptSent: state = ReceiptSent(); break;
      case TState::CycleEnd: state = CycleEnd(); break;
      case TState::Close: state = Close(); break;
      case TState::Done:
      case TState::Failed:
      case TState::Unreachable:
      case TState::Abandoned:
      case TState::TooLong: return Finish(state);
    }
  }
}

void TLinkExchange::Note(TNote note, const std::string& detail) {
  switch (note) {
    case TNote::Begin: MT("----- начало синхронизации с ККМ -----", mdFunctional); break;
    case TNote::End: MT("----- конец синхронизации с ККМ  -----", mdFunctional); break;
    case TNote::PollFailed: ET("SendKvit:" + detail, mdFunctional); break;
    case TNote::NoPacket: WT("Sync>WaitKvit:" + detail, mdFunctional); break;
    case TNote::ReceiptWhileData:
      ET("Во время ожидания данных не должно быть квитанций из ККМ: " + detail, mdFunctional);
      break;
    case TNote::RequestFailed: WT("Syn>Send:" + detail, mdFunctional); break;
    case TNote::FrameGarbled: WT("WaitData:" + detail, mdFunctional); break;
    case TNote::FrameWrongForm: WT("WaitData:frame of a wrong size, asked again", mdFunctional); break;
    case TNote::FrameFailed: ET("WaitData:" + detail, mdFunctional); break;
    case TNote::FrameOfEarlierExchange: WT("WaitData:answer of an earlier exchange, dropped", mdFunctional); break;
    case TNote::LastFrameRepeated: WT("WaitData:last frame repeated, acknowledged again", mdFunctional); break;
    case TNote::FrameBeforeResync:
      WT("WaitData:frame sent before the resynchronisation, dropped", mdFunctional);
      break;
    case TNote::TakenFrameAgain:
      WT("WaitData:frame taken before sent again, acknowledged again", mdFunctional);
      break;
    case TNote::TakenFrameResent: WT("WaitData:frame taken before sent again", mdFunctional); break;
    case TNote::BadPacketNumber: WT("WaitData:bad paket number", mdFunctional); break;
    case TNote::Looped: ET("зацикливание", mdFunctional); break;
  }
}

void TLinkExchange::ForgetHandlers() {
  // A streaming handler must not outlive its exchange: the next command
  // would hand its answer to it.
  p_.onData = nullptr;
  p_.frameForm = nullptr;
}

TLinkExchange::TState TLinkExchange::NextPacket() {
  ++step_;
  return TState::AwaitPacket;
}

// Start: the line open, the start trace.
TLinkExchange::TState TLinkExchange::Start() {
  line_ = p_.Line();
  p_.lastExchangeFailed_ = true;
  p_.awaitRepeat_ = false;
  p_.heard_ = false;
  p_.answerTooLong_ = false;
  if (p_.kkm == nullptr || line_ == nullptr || (!line_->IsOpen() && !line_->Open())) {
    return TState::Unreachable;
  }
  Note(TNote::Begin);
  p_.Wait(p_.waits.atStart);
  p_.kkm->linkState = lsNotSynchronised;
  return TState::Poll;
}

// Poll: a new cycle asks the register with RDY what it has.
TLinkExchange::TState TLinkExchange::Poll() {
  answer_.count = 0;
  UiHooks().ProcessEvents();
  if (UiHooks().IsTerminating()) return TState::Abandoned;
  code_ = p_.SendControl(kRDY);
  if (haveTaken_) polledSinceTaken_ = true;
  if (code_ != TLinkCode::Ok) {
    Note(TNote::PollFailed, ResultText(code_));
    p_.kkm->linkState = lsNotSynchronised;
    return TState::Close;  // no pauses: nothing was asked
  }
  step_ = 0;
  cutAskedAgain_ = false;
  return TState::AwaitPacket;
}

// AwaitPacket: the register's next packet, at most kMaxStepsPerCycle in a
// cycle.
TLinkExchange::TState TLinkExchange::AwaitPacket() {
  if (step_ >= kMaxStepsPerCycle) {
    Note(TNote::Looped);
    return TState::CycleEnd;
  }
  std::uint8_t control = 0;
  code_ = p_.SeekControl(control);
  if (code_ != TLinkCode::Ok) {
    Note(TNote::NoPacket, ResultText(code_));
    p_.kkm->linkState = lsNoAnswer;
    return TState::CycleEnd;
  }
  if (IsDataHeader(control)) {
    control_ = control;
    more_ = (control & kContinuationBit) != 0;
    return TState::ReadFrame;
  }
  return OnControl(control);
}

// The control packets of the register and the PC's answer to each.
TLinkExchange::TState TLinkExchange::OnControl(std::uint8_t control) {
  const std::uint8_t kind = ControlKind(control);
  if (dataPhase_ && kind != kRepeatRequest && kind != kSYN) Note(TNote::ReceiptWhileData, PacketKindName(control));
  switch (kind) {
    case kRepeatRequest:  // the PC's last packet was garbled on the way
      if (dataPhase_) {
        p_.SendControlAgain(p_.lastSentControl);
        return NextPacket();
      }
      return sending_ ? TState::SendRequest : NextPacket();
    case kREJ:  // refused: the cycle ends
      return TState::CycleEnd;
    case kDISC:  // the register gives the answer up
    case kBUSY:
      // BUSY where an answer is still owed (the request was acknowledged,
      // or a stream goes on): the answer has not come and the exchange is
      // not done. A stream may still bring its frames in the next cycles.
      if (dataPhase_ && kind == kBUSY) p_.kkm->linkState = lsBusy;
      dataPhase_ = false;
      return TState::CycleEnd;
    case kWAIT:
    case kRST:
      p_.kkm->linkState = lsBusy;
      return TState::CycleEnd;
    case kACK:  // the receipt of the request: now the answer is owed
      if (!sending_) return NextPacket();
      p_.kkm->linkState = lsDone;
      ++p_.kkm->txSeq;
      sending_ = false;
      dataPhase_ = true;
      return continuation_ ? NextPacket() : TState::CycleEnd;
    case kRDY:  // ready for the request, if there is one
      sending_ = request_.count != 0;
      if (!sending_) {
        p_.kkm->linkState = lsDone;
        return TState::CycleEnd;
      }
      return TState::SendRequest;
    case kSYN:  // the numbers start again: the request again, if owed
      return sending_ ? TState::SendRequest : NextPacket();
    default:
      return NextPacket();
  }
}

// SendRequest: the request (again, when the register asked for it once more).
TLinkExchange::TState TLinkExchange::SendRequest() {
  if (requestSent_) ++p_.lineCounts.framesResent;
  // A request sent again, in this exchange or in the repetition of its
  // command, is marked as a repetition.
  p_.retryTrace_ = requestSent_ || p_.repeatingCommand_;
  code_ = p_.SendDataPacket(request_, continuation_);
  p_.retryTrace_ = false;
  if (code_ != TLinkCode::Ok) {
    Note(TNote::RequestFailed, ResultText(code_));
    p_.kkm->linkState = lsNoAnswer;
    return TState::CycleEnd;
  }
  requestSent_ = true;
  return NextPacket();
}

// ReadFrame: the data frame after its header, checked.
TLinkExchange::TState TLinkExchange::ReadFrame() {
  if (p_.onData) answer_.count = 0;
  at_ = static_cast<std::size_t>(
      std::clamp<std::int32_t>(answer_.count, 0, static_cast<std::int32_t>(kMaxAnswerBytes)));
  n_ = 0;
  code_ = p_.ReceiveData(answer_.bytes.data() + at_, kFramePayloadCapacity, n_);
  // A garbled frame (its check byte, a broken escape, no end within the
  // capacity) is asked for again; what is left of it on the line is dropped
  // by the next read of a control packet. So is a frame cut short (bytes
  // lost: the line fell silent before its end), at once instead of in a new
  // poll cycle, once in a cycle: each costs a read time-out, and a second
  // one ends the cycle as before.
  const bool cut = code_ == TLinkCode::ReadFailed && !cutAskedAgain_;
  if (code_ == TLinkCode::BadCrc || code_ == TLinkCode::FrameFormat || code_ == TLinkCode::Overflow || cut) {
    if (cut) cutAskedAgain_ = true;
    if (code_ != TLinkCode::BadCrc) Note(TNote::FrameGarbled, ResultText(code_));
    return TState::AskAgain;
  }
  if (code_ == TLinkCode::Ok && p_.frameForm &&
      !p_.frameForm(std::span<const std::uint8_t>(answer_.bytes.data() + at_, static_cast<std::size_t>(n_)))) {
    Note(TNote::FrameWrongForm);
    return TState::AskAgain;
  }
  if (code_ != TLinkCode::Ok) {
    Note(TNote::FrameFailed, ResultText(code_));
    p_.kkm->linkState = lsNoAnswer;
    return TState::CycleEnd;
  }
  return TState::PlaceFrame;
}

// AskAgain: a repeat request for the frame just read.
TLinkExchange::TState TLinkExchange::AskAgain() {
  p_.SendControl(kRepeatRequest);
  ++p_.lineCounts.repeatsAsked;
  p_.awaitRepeat_ = true;
  p_.kkm->linkState = lsNoAnswer;
  return NextPacket();
}

// PlaceFrame: whose frame this is, by its packet number and its bytes.
TLinkExchange::TState TLinkExchange::PlaceFrame() {
  if (hasRequest_ && !requestSent_) {
    Note(TNote::FrameOfEarlierExchange);
    p_.SendControl(kDISC);
    line_->DiscardInput();
    staleDropped_ = true;
    return TState::CycleEnd;
  }
  const auto number = static_cast<std::uint8_t>(control_ & kPacketNumberMask);
  const std::span<const std::uint8_t> frame(answer_.bytes.data() + at_, static_cast<std::size_t>(n_));
  if (finalTaken_ && number == finalNumber_ && SameBytes(frame, finalFrame_)) {
    Note(TNote::LastFrameRepeated);
    ++p_.lineCounts.framesResent;
    p_.SendControl(kACK);
    p_.kkm->linkState = lsDone;
    return TState::CycleEnd;
  }
  frameInStep_ = number == (p_.kkm->rxSeq & kPacketNumberMask);
  const bool copyOfTaken = haveTaken_ && SameBytes(frame, lastTaken_);
  if (!frameInStep_ && resyncSent_) {
    Note(TNote::FrameBeforeResync);
    ++p_.lineCounts.framesResent;
    return NextPacket();
  }
  // The register still waits for the receipt of the frame taken.
  if (frameInStep_ && resyncSent_ && copyOfTaken) return TState::ReceiptAgain;
  if (!frameInStep_ || (copyOfTaken && polledSinceTaken_)) return TState::Resynchronise;
  return TState::TakeFrame;
}

// Resynchronise: SYN (RST within a stream); the register starts its numbers
// again and sends its current frame once more.
TLinkExchange::TState TLinkExchange::Resynchronise() {
  if (frameInStep_) {
    Note(TNote::TakenFrameResent);
    ++p_.lineCounts.framesResent;
  }
  Note(TNote::BadPacketNumber);
  ++p_.lineCounts.resyncs;
  answer_.count = 0;
  p_.kkm->linkState = lsNotSynchronised;
  p_.kkm->rxSeq = 0;
  p_.kkm->txSeq = 0;
  p_.SendControl(more_ ? kRST : kSYN);
  p_.Wait(p_.waits.afterResync);
  dataPhase_ = true;
  resyncSent_ = true;
  return NextPacket();
}

// ReceiptAgain: the frame taken before the resynchronisation, acknowledged
// again as it was, not taken twice.
TLinkExchange::TState TLinkExchange::ReceiptAgain() {
  Note(TNote::TakenFrameAgain);
  ++p_.lineCounts.framesResent;
  resyncSent_ = false;
  polledSinceTaken_ = false;
  ++p_.kkm->rxSeq;
  p_.SendControl(lastReceipt_);
  dataPhase_ = (lastReceipt_ & kContinuationBit) != 0;
  return TState::ReceiptSent;
}

// TakeFrame: the frame goes into the answer (or to the streaming handler)
// and is acknowledged.
TLinkExchange::TState TLinkExchange::TakeFrame() {
  resyncSent_ = false;
  p_.awaitRepeat_ = false;
  const auto number = static_cast<std::uint8_t>(control_ & kPacketNumberMask);
  const auto* first = answer_.bytes.data() + at_;
  std::vector<std::uint8_t> taken(first, first + n_);
  if (sending_) {
    ++p_.kkm->txSeq;  // the register's frame also acknowledges the request
    sending_ = false;
  }
  if (p_.onData) {
    answer_.count = n_;
    p_.onData(answer_, more_);
    delivered_ = true;
    request_.count = 0;
  } else {
    answer_.count = static_cast<std::int32_t>(at_) + n_;
  }
  ++p_.kkm->rxSeq;
  if (answer_.count > static_cast<std::int32_t>(kMaxAnswerBytes)) return TState::TooLong;
  lastReceipt_ = more_ ? static_cast<std::uint8_t>(kACK | kContinuationBit) : kACK;
  p_.SendControl(lastReceipt_);
  // The window's events once the receipt is out: they are handled while the
  // register sends its next frame, not before it may.
  UiHooks().ProcessEvents();
  haveTaken_ = true;
  polledSinceTaken_ = false;
  finalTaken_ = !more_;
  if (finalTaken_) {
    finalNumber_ = number;
    finalFrame_ = taken;
  }
  lastTaken_ = std::move(taken);
  dataPhase_ = more_;
  return TState::ReceiptSent;
}

// ReceiptSent: a stream goes on in this cycle, which starts its count again;
// else the answer is complete.
TLinkExchange::TState TLinkExchange::ReceiptSent() {
  step_ = 1;
  cycle_ = 1;
  if (dataPhase_) return NextPacket();
  p_.kkm->linkState = lsDone;
  return TState::CycleEnd;
}

// CycleEnd: the pauses of a cycle that waits for more.
TLinkExchange::TState TLinkExchange::CycleEnd() {
  if (dataPhase_ || code_ != TLinkCode::Ok) p_.Wait(p_.waits.afterWaitingCycle);
  if (delivered_) p_.Wait(p_.waits.afterStreamCycle);
  return TState::Close;
}

// Close: another cycle while something is owed or went wrong (at most
// kMaxPollCycles), else the end of the exchange.
TLinkExchange::TState TLinkExchange::Close() {
  if (cycle_ < kMaxPollCycles) {
    ++cycle_;
    if (delivered_ || sending_ || dataPhase_ || code_ != TLinkCode::Ok || std::exchange(staleDropped_, false)) {
      return TState::Poll;
    }
  }
  Note(TNote::End);
  p_.Wait(p_.waits.atEnd);
  const bool ok = p_.kkm->linkState == lsDone && !dataPhase_ && !sending_;
  return ok ? TState::Done : TState::Failed;
}

bool TLinkExchange::Finish(TState state) {
  switch (state) {
    case TState::Unreachable:  // no register, no line, or it does not open
      ForgetHandlers();
      return false;
    case TState::Abandoned:  // the program is closing: nothing more is sent
      p_.lastExchangeFailed_ = false;
      return true;
    case TState::TooLong:  // the register's doing, not the line's
      p_.answerTooLong_ = true;
      Error("слишком много данных", false, true, true);
      ForgetHandlers();
      return false;
    default:
      break;
  }
  const bool ok = state == TState::Done;
  p_.lastExchangeFailed_ = !ok;
  p_.awaitRepeat_ = false;
  if (!ok) line_->Reopen();
  ForgetHandlers();
  return ok;
}

}  // namespace zarvik
