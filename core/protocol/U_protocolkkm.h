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
  // Exchange, then DISC; false (and no DISC) when the exchange failed.
  bool Ask(bool continuation);
  // Read pattern: Ask, then CheckAnswer.
  bool AskChecked(std::int32_t expectedLength);
  // Write pattern: exchange, CheckAnswer, then DISC.
  bool Tell();
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
