// The register's side of the link protocol, without any device: bytes from
// the PC go in, the packets the register sends come out. The register
// answers only what the PC has sent: a poll (RDY) gets the pending answer
// frame, a WAIT, or RDY; a data frame gets ACK (or 0xC6 when garbled, SYN
// when its packet number is wrong) and, when its header carried the
// continuation bit, the first answer frame at once; an ACK with the
// continuation bit gets the next frame of a stream, one without it ends the
// stream; DISC ends the exchange; SYN and RST clear both packet counters.
//
// What the register does not take from the line:
// - packets that carry its own direction bit (the PC never sets it; the
//   register hears its own echo on a shared line): ignored, frame and all;
// - a data packet it did not ask for: the PC sends its request only in
//   reply to the register's RDY (or to SYN or 0xC6 asking for it again), so
//   a data packet after anything else is ignored, neither acknowledged nor
//   carried out.
// A DISC ends a stream, but the receipt of the frame the PC took may still
// follow it (a PC that stops a journal read sends DISC and then ACK); that
// ACK counts the frame as delivered, so the packet numbers stay in step.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "RegisterState.h"
#include "SimFaults.h"
#include "SimWire.h"

namespace zarvik::sim {

struct LinkStats {
  std::uint8_t rxSeq = 0;              // data frames accepted from the PC (number expected next, low 3 bits)
  std::uint8_t txSeq = 0;              // own data frames acknowledged by the PC (number sent next)
  std::vector<std::uint8_t> received;  // control bytes from the PC in order (data headers too)
  std::vector<std::uint8_t> sent;      // control bytes sent in order (data headers too)
  int badFrames = 0;                   // data frames answered with 0xC6
  int ignoredPackets = 0;              // control packets with a bad check byte or another address
  int resyncs = 0;                     // SYN sent for a wrong packet number
  int echoes = 0;                      // packets with the register's own direction bit, ignored
  int uninvited = 0;                   // data packets that no RDY, SYN or 0xC6 asked for, ignored
  int abandoned = 0;                   // answers given up because the PC fell silent
  std::size_t streamLeft = 0;          // answer frames not yet sent
  bool unacknowledged = false;         // a sent answer frame waits for its receipt
};

class RegisterLink {
 public:
  explicit RegisterLink(RegisterState state = {});

  // Bytes as they came from the line; returns the packets to send, in order
  // (a data packet is its header and frame together).
  std::vector<Bytes> Feed(const std::uint8_t* data, std::size_t length);
  // The line fell silent: a half-received packet is dropped.
  void LineIdle() { receiver_.Reset(); }
  // Forgets the answer of an exchange the PC abandoned (sent or not), as a
  // DISC would; the packet counters stay.
  void DropPendingAnswer();
  // The PC fell silent in the middle of an exchange: the answer is given up
  // and the register is idle again, as after a DISC. False when nothing was
  // pending.
  bool GiveUp();
  // An answer frame, a stream or a WAIT is still waiting for the PC.
  bool AnswerPending() const { return outstanding_.has_value() || !answer_.empty() || waitLeft_ > 0; }
  bool ReceiverIdle() const { return receiver_.Idle(); }

  RegisterState& State() { return state_; }
  const RegisterState& State() const { return state_; }
  FaultSet& Faults() { return faults_; }
  const FaultSet& Faults() const { return faults_; }
  LinkStats Stats() const;

 private:
  void OnControl(std::uint8_t control, bool lateAck);
  void OnData(std::uint8_t header, const Bytes& payload, bool invited);
  void SendControl(std::uint8_t control);
  void SendOutstanding();
  void SendNextAnswer();
  void Log(std::vector<std::uint8_t>& log, std::uint8_t control);

  RegisterState state_;
  FaultSet faults_;
  FrameReceiver receiver_;
  std::uint8_t address_;
  LinkStats stats_;
  std::deque<Bytes> answer_;          // frames not yet sent
  std::optional<Bytes> outstanding_;  // sent, not yet acknowledged
  bool outstandingMore_ = false;
  int waitLeft_ = 0;
  bool lastWasData_ = false;
  std::optional<std::uint8_t> lastControl_;
  // The last packet sent asks the PC for its request (RDY, SYN, 0xC6).
  bool invited_ = false;
  // A DISC dropped a sent frame; an ACK right after it still counts it.
  bool lateAck_ = false;
  std::vector<Bytes> out_;
};

}  // namespace zarvik::sim
