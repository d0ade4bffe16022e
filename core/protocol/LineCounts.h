// What a transfer cost the line: the repairs the link made on the way. A
// clean line makes none; a bad cable shows itself here before it makes a
// transfer fail.
#pragma once

#include <string>

namespace zarvik {

struct TLineCounts {
  // Repeat requests (0xC6) the PC sent for a garbled data frame.
  int repeatsAsked = 0;
  // Packets that crossed the line again: the PC's packets sent again at the
  // register's request or for its request, and the register's frames that
  // came again (a frame taken before, acknowledged again or dropped).
  int framesResent = 0;
  // Times the PC lost step and found it again: bytes dropped until the
  // start of a valid packet, SYN or RST sent for a wrong packet number.
  int resyncs = 0;
  // Times a long transfer continued where it had stopped after a failed
  // exchange.
  int resumptions = 0;
  // Commands sent again in a new exchange after their exchange failed (or
  // brought an answer of a size the command cannot have).
  int commandsRepeated = 0;

  bool Any() const {
    return repeatsAsked != 0 || framesResent != 0 || resyncs != 0 || resumptions != 0 || commandsRepeated != 0;
  }
  TLineCounts& operator+=(const TLineCounts& o) {
    repeatsAsked += o.repeatsAsked;
    framesResent += o.framesResent;
    resyncs += o.resyncs;
    resumptions += o.resumptions;
    commandsRepeated += o.commandsRepeated;
    return *this;
  }
  bool operator==(const TLineCounts&) const = default;
};

// One line for the console and zarvikctl:
// "Линия: повторов запрошено 2, кадров переслано 3, ресинхронизаций 1, возобновлений 0,
// команд повторено 1".
std::string LineCountsText(const TLineCounts& counts);

}  // namespace zarvik
