// The register link protocol over one register (TKKM): the frame primitives,
// the polled exchange with receipts and resynchronisation, and the
// register's command set.
//
// The protocol talks to an IByteStream. By default that is the register's
// serial port (kkm->port); tests and the fuzzer hand it an in-memory stream
// with SetLine.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "model/U_kkms.h"
#include "protocol/ByteStream.h"
#include "protocol/ComPortStream.h"
#include "protocol/LineCounts.h"
#include "protocol/LinkFrames.h"
#include "protocol/ResultTexts.h"
#include "protocol/Timing.h"

namespace zarvik {

// A request or an answer: a signed 32-bit byte count and the bytes. A
// request uses at most kFramePayloadCapacity bytes; an answer collects up to
// kMaxAnswerBytes and has room for one more frame beyond that.
struct TMessageBuffer {
  std::int32_t count = 0;
  std::array<std::uint8_t, kMessageBufferCapacity> bytes{};

  TMessageBuffer() = default;
  TMessageBuffer(std::initializer_list<std::uint8_t> init) { Assign(std::span(init.begin(), init.size())); }
  // Replaces the contents (cut to the capacity).
  void Assign(std::span<const std::uint8_t> data);
  // The first count bytes (count clamped to 0..capacity).
  std::span<const std::uint8_t> View() const;
  std::span<std::uint8_t> View();
};

// Receives one streamed frame: answer holds exactly that frame; more comes
// in as the frame's continuation bit, and cleared it ends the transfer.
using TOnData = std::function<void(TMessageBuffer& answer, bool& more)>;

// Commands asked again after their exchange failed on the line.
//
// A command whose repetition leaves the register as one execution would is
// sent again, in a new exchange, when its exchange failed (or brought an
// answer of a size the command cannot have: a byte lost or gained that the
// 8-bit check could not see): every read (identification and the goods
// probes, clock, options, departments, receipt lines, taxes, operators,
// single goods), and the writes that set a value (options, departments,
// receipt lines, operator names and positions, a goods record: writing the
// same value twice leaves what writing it once leaves). Printing a line is
// never sent again: the register may have printed it and only its answer was
// lost. The streamed reads are not repeated here either (their frames have
// been handed over as they came); TransferResume.h goes on with them.
// Before a repetition the register is told to drop what it still holds of
// the failed exchange (DISC) and what came meanwhile is discarded; the
// packet numbers are brought in step by the link's own resynchronisation.
// A command is not repeated once the user asked to stop or the program is
// closing, nor when the register refused it (its result code).
//
// Repetitions of one command after a failed exchange or a malformed answer.
inline constexpr int kMaxCommandRepeats = 3;
// Of those, repetitions after an exchange that heard nothing valid from the
// register at all (about two seconds of silence): a register that is off or
// on another port is not waited for several times over; one more attempt
// covers a register that was busy for a moment.
inline constexpr int kMaxSilentCommandRepeats = 1;

// Outcome of the last exchange (TKKM::linkState).
enum TLinkState : std::uint8_t {
  lsDone = 0,
  lsNoAnswer = 1,
  lsNotSynchronised = 2,
  lsBusy = 3,
};

class TProtocolKKM {
 public:
  explicit TProtocolKKM(TKKM* kkmIn = nullptr) : kkm(kkmIn) {}
  TProtocolKKM(const TProtocolKKM&) = delete;
  TProtocolKKM& operator=(const TProtocolKKM&) = delete;

  TKKM* kkm = nullptr;
  std::uint8_t lastReceivedControl = 0;
  std::uint8_t lastSentControl = 0;
  TOnData onData;
  // When set, the form every answer frame of the next exchange must have
  // (its length for the command): a frame whose check byte holds but whose
  // form is wrong lost or gained a byte the 8-bit check cannot see (a lost
  // 0x00) and is asked for again like a garbled one. Emptied by Exchange as
  // onData is.
  std::function<bool(std::span<const std::uint8_t> frame)> frameForm;
  // The repairs of the link since the counts were last cleared (a transfer
  // clears them at its start and shows them at its end).
  TLineCounts lineCounts;

  // Repetitions of a command after a failed exchange (see above); 0 turns
  // them off.
  int commandRepeats = kMaxCommandRepeats;
  // Asked before a command is sent again: true when the user asked the
  // running action to stop (it is then not repeated).
  std::function<bool()> stopRequested;

  // The waits of the exchange and how to wait (a real sleep by default).
  TLinkWaits waits = kLinkWaits;
  std::function<void(std::chrono::milliseconds)> sleep;

  // Uses `line` instead of the register's serial port (not owned; nullptr
  // goes back to the port).
  void SetLine(IByteStream* line) { line_ = line; }
  // The line in use, or nullptr when there is neither a line nor a port.
  IByteStream* Line();

  // Frame primitives.
  TLinkCode SendControl(std::uint8_t control);
  TLinkCode ReceiveControl(std::uint8_t& control);
  // ReceiveControl for the exchange: when what arrives cannot be the start
  // of a control packet (bytes left between packets by a noisy line, the
  // rest of a garbled frame), bytes are dropped until the start of a packet
  // whose check byte holds, as the register itself drops them. A packet
  // that starts as one (0x7F 0x02) is taken or refused as ReceiveControl
  // does, so a clean line reads exactly as with ReceiveControl. Gives the
  // first failure's code when no valid packet follows.
  TLinkCode SeekControl(std::uint8_t& control);
  TLinkCode SendData(const std::uint8_t* payload, std::int32_t length);
  TLinkCode ReceiveData(std::uint8_t* buffer, std::size_t capacity, std::int32_t& length);
  TLinkCode SendDataPacket(const TMessageBuffer& request, bool continuation);

  // One complete conversation. request.count is set to 0 once a streamed
  // frame has been delivered (the request is never sent again). A data
  // frame that arrives before a non-empty request has been sent is what an
  // abandoned earlier exchange left behind: it is dropped, the register is
  // stopped with DISC, pending input is discarded and the poll starts again.
  bool Exchange(TMessageBuffer& request, TMessageBuffer& answer, bool continuation);
  // Whether the last exchange failed (a command that returned false was then
  // not answered; else the register refused it).
  bool LastExchangeFailed() const { return lastExchangeFailed_; }
  // Whether the last exchange took at least one valid packet from the
  // register (false: the line brought nothing the register could have sent).
  bool LastExchangeHeard() const { return heard_; }

  // The register's command set. Each is one exchange, a DISC and a check of
  // the answer; true when done. Results go into kkm->Info(). Numbered
  // commands refuse numbers outside their range, and commands that send
  // model data refuse to run without a TKKMInfo, in both cases sending
  // nothing.
  bool GetInfo();
  bool GetDateTime();
  bool GetHeaderLine(int n);  // n = 1..6
  bool SetHeaderLine(int n);
  bool GetFooterLine(int n);
  bool SetFooterLine(int n);
  bool GetDepartment(int n);  // n = 1..99
  bool SetDepartment(int n);
  bool GetOptions();
  bool SetOptions();
  bool GetTax(int n);       // n = 1..5
  bool GetGoods(int code);  // code = 0..9999
  // Whether goods number `code` exists or may exist (result 0 or 9); no
  // message.
  bool ProbeGoods(int code);
  bool SetGoods();
  bool GetOperatorName(int n);  // n = 1..8
  bool SetOperatorName(int n);
  bool GetPosition(int n);
  bool SetPosition(int n);
  // 0, 4 or 8 operators.
  int GetOperatorCount();
  bool PrintLine(int font, int brightness, const std::string& text);
  // Streaming reads: every frame of the answer goes to onData (set it first,
  // or pass the handler here). No DISC follows.
  // ReadAllGoods streams the goods from `firstCode` on (1: all of them).
  bool ReadAllGoods(TOnData handler = {}, int firstCode = 1);
  bool ReadJournal(TOnData handler = {});

  // True ("bad") when the answer carries a result code other than 0 or has
  // another length than expected; the cause is shown with Error.
  static bool CheckAnswer(const TMessageBuffer& answer, std::int32_t expectedLength);
  // The result code of an answer (byte 2), or -1 when the answer is shorter.
  static int AnswerCode(const TMessageBuffer& answer);

  // The answer of the last command.
  const TMessageBuffer& LastAnswer() const { return answer_; }

 private:
  // The exchange's states live there; it works on the members below.
  friend class TLinkExchange;
  // Whether a command may be sent again after a failed exchange.
  enum class TRepeat : std::uint8_t { Never, Harmless };
  // An answer of a size the command can have; anything else lost or gained
  // a byte on the way.
  using TAnswerForm = std::function<bool(const TMessageBuffer& answer)>;
  // The exchange of the request built, sent again while it fails (or its
  // answer has not the form) and the command may be repeated. True when the
  // last exchange succeeded, whatever the form of its answer (the command's
  // check reports it).
  bool Converse(bool continuation, TRepeat repeat, const TAnswerForm& form);
  // Exchange, then DISC; false (and no DISC) when the exchange failed.
  bool Ask(bool continuation, const TAnswerForm& form = {});
  // Read pattern: Ask for an answer of expectedLength bytes, then
  // CheckAnswer.
  bool AskChecked(std::int32_t expectedLength, bool continuation = true);
  // Write pattern: exchange, CheckAnswer, then DISC. A write that sets a
  // value is Harmless to repeat; printing is not.
  bool Tell(TRepeat repeat = TRepeat::Harmless);
  void NewRequest(std::initializer_list<std::uint8_t> head, std::size_t length);
  bool GetReceiptLine(int n, std::uint8_t command, bool footer);
  bool SetReceiptLine(int n, std::uint8_t command, bool footer);
  bool GetOperatorText(int n, std::uint8_t command, bool position);
  bool SetOperatorText(int n, std::uint8_t command, bool position);
  bool GoodsRequest(int code);

  using TControlPacket = std::array<std::uint8_t, kControlPacketSize>;
  // The check of a received control packet: the sum first, then the form.
  TLinkCode CheckControlPacket(const TControlPacket& packet) const;
  // A checked packet taken: the counters, lastReceivedControl, the trace.
  void TakeControlPacket(const TControlPacket& packet, std::uint8_t& control);
  // Sends a packet again; its trace is marked as a repetition.
  TLinkCode SendControlAgain(std::uint8_t control);

  TMessageBuffer request_;
  TMessageBuffer answer_;
  bool lastExchangeFailed_ = false;
  // The last exchange took a valid packet from the register.
  bool heard_ = false;
  // The last exchange gave up on an answer beyond kMaxAnswerBytes (the
  // register's doing, not the line's: not repeated).
  bool answerTooLong_ = false;
  // Set while a command is sent again: the request's traces are marked.
  bool repeatingCommand_ = false;
  // Set while a packet is sent again: its trace ends with kRetryMark.
  bool retryTrace_ = false;
  // Set from a repeat request sent until the next frame is taken: the frame
  // that comes is a repetition, and its traces say so.
  bool awaitRepeat_ = false;
  void Wait(std::chrono::milliseconds d);
  std::uint8_t NetworkNumber() const;

  IByteStream* line_ = nullptr;
  std::optional<TComPortStream> portLine_;
};

}  // namespace zarvik
