// One exchange of the register link (TProtocolKKM::Exchange) as a state
// machine. The PC polls with RDY; the register answers with a control packet
// or a data frame, and the PC answers that in turn, until the request is out
// and the whole answer is in, or the exchange gives up.
//
// States (one member function each; Run holds the transitions):
//   Poll           a poll cycle starts: RDY is sent.
//   AwaitPacket    the next packet of the register is read (a control packet,
//                  or the header of a data frame); the control kinds are
//                  answered here, in the table of OnControl.
//   SendRequest    the request goes out (the register asked for it: RDY, SYN,
//                  or a repeat request while it is owed).
//   ReadFrame      the data frame after its header is read and checked.
//   AskAgain       a garbled frame, or one of a wrong form, is asked for again.
//   PlaceFrame     where the frame belongs in the stream: the one awaited, one
//                  taken before, one left over from an earlier exchange.
//   Resynchronise  a wrong packet number: SYN or RST, the numbers start at 0.
//   ReceiptAgain   a frame taken before comes again: its receipt is repeated.
//   TakeFrame      the awaited frame is taken and acknowledged.
//   ReceiptSent    after a receipt: the next frame of the stream, or done.
//   CycleEnd       the poll cycle is over: its pauses, then a new cycle or
//                  the end.
//   Close          the end of the exchange: Done or Failed.
//   Done, Failed   the outcome; Unreachable (no register or line),
//                  Abandoned (the program is closing) and TooLong (an answer
//                  beyond kMaxAnswerBytes) leave at once.
// Every trace line of the exchange is written by Note.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/LinkFrames.h"

namespace zarvik {

class IByteStream;
class TProtocolKKM;
struct TMessageBuffer;

class TLinkExchange {
 public:
  TLinkExchange(TProtocolKKM& protocol, TMessageBuffer& request, TMessageBuffer& answer, bool continuation);
  TLinkExchange(const TLinkExchange&) = delete;
  TLinkExchange& operator=(const TLinkExchange&) = delete;

  // The whole exchange; true when the request was answered (see
  // TProtocolKKM::Exchange).
  bool Run();

 private:
  enum class TState : std::uint8_t {
    Start,
    Poll,
    AwaitPacket,
    SendRequest,
    ReadFrame,
    AskAgain,
    PlaceFrame,
    Resynchronise,
    ReceiptAgain,
    TakeFrame,
    ReceiptSent,
    CycleEnd,
    Close,
    Done,
    Failed,
    Unreachable,
    Abandoned,
    TooLong,
  };
  // The trace lines of the exchange (texts in Note).
  enum class TNote : std::uint8_t {
    Begin,
    End,
    PollFailed,
    NoPacket,
    ReceiptWhileData,
    RequestFailed,
    FrameGarbled,
    FrameWrongForm,
    FrameFailed,
    FrameOfEarlierExchange,
    LastFrameRepeated,
    FrameBeforeResync,
    TakenFrameAgain,
    TakenFrameResent,
    BadPacketNumber,
    Looped,
  };

  TState Start();
  TState Poll();
  TState AwaitPacket();
  TState OnControl(std::uint8_t control);
  TState SendRequest();
  TState ReadFrame();
  TState AskAgain();
  TState PlaceFrame();
  TState Resynchronise();
  TState ReceiptAgain();
  TState TakeFrame();
  TState ReceiptSent();
  TState CycleEnd();
  TState Close();
  // The terminal states: the result of the exchange.
  bool Finish(TState state);
  // The next packet of this cycle.
  TState NextPacket();
  void ForgetHandlers();
  void Note(TNote note, const std::string& detail = {});

  TProtocolKKM& p_;
  TMessageBuffer& request_;
  TMessageBuffer& answer_;
  const bool continuation_;
  IByteStream* line_ = nullptr;

  // The poll cycle and the packet within it.
  int cycle_ = 1;
  int step_ = 0;
  // The last result of a poll, a packet read, a frame read or a request sent.
  TLinkCode code_ = TLinkCode::Ok;
  // The control byte of the data header read, and its continuation bit
  // (which the streaming handler may clear).
  std::uint8_t control_ = 0;
  bool more_ = false;
  // The frame read: at answer_.bytes[at_], n_ bytes.
  std::size_t at_ = 0;
  std::int32_t n_ = 0;
  bool frameInStep_ = false;
  // A frame cut short was asked for again in this cycle (once per cycle:
  // each costs a read time-out).
  bool cutAskedAgain_ = false;

  // An answer is owed (the request was acknowledged, or a stream goes on).
  bool dataPhase_ = false;
  // The request is to be sent, or was sent and not yet acknowledged.
  bool sending_ = false;
  // A frame was handed to the streaming handler.
  bool delivered_ = false;
  // A data frame that comes before this exchange has sent its request
  // cannot be its answer: it is what is left of an exchange abandoned
  // earlier (a program killed in a stream, a failed read). It is dropped,
  // the register is told to stop with DISC, and the poll starts again.
  const bool hasRequest_;
  bool requestSent_ = false;
  bool staleDropped_ = false;
  // After a wrong packet number the register is told to start again at 0
  // and sends its current frame again with that number; frames that come
  // before it were on their way before the register heard SYN or RST. They
  // are dropped without a new resynchronisation, which would only make the
  // register send yet another copy (one late frame would otherwise keep two
  // copies on the line for the rest of the stream).
  bool resyncSent_ = false;
  // The last frame taken with the receipt that ends the transfer (0xCA): the
  // register sends it again when it did not hear that receipt, or when a
  // poll crossed it; it is acknowledged again, not taken twice.
  bool finalTaken_ = false;
  std::uint8_t finalNumber_ = 0;
  std::vector<std::uint8_t> finalFrame_;
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
  std::vector<std::uint8_t> lastTaken_;
  bool haveTaken_ = false;
  std::uint8_t lastReceipt_ = kACK;
  bool polledSinceTaken_ = false;
};

}  // namespace zarvik
