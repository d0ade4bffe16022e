// Plays arbitrary register bytes into the exchange through an in-memory line.
//
// Input: one byte of switches, then chunks, each a length byte followed by
// that many bytes. Every write of the PC (except a data header, whose frame
// follows) releases the next chunk to the reader, so the bytes arrive as
// answers to what the PC sent. Two exchanges run in a row so that packet
// numbers carry over.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "protocol/ScriptedStream.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"

namespace {

using zarvik::TMessageBuffer;

struct Setup {
  Setup() {
    zarvik::MessDepth = zarvik::mdUser;
    zarvik::isAUTONOM = true;
    zarvik::NameLogFile = "/dev/null";
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Setup setup;
  if (size == 0) return 0;
  const std::uint8_t switches = data[0];
  std::deque<std::vector<std::uint8_t>> chunks;
  for (std::size_t i = 1; i < size;) {
    const std::size_t n = std::min<std::size_t>(data[i], size - i - 1);
    chunks.emplace_back(data + i + 1, data + i + 1 + n);
    i += 1 + n;
  }

  zarvik::TKKM kkm;
  kkm.networkNumber = (switches & 0x40) != 0 ? 98 : 1;
  kkm.rxSeq = static_cast<std::uint8_t>(switches >> 5);
  zarvik::TScriptedStream line;
  line.purgeOnOpen = (switches & 0x80) != 0;
  line.onWrite = [&](std::span<const std::uint8_t> w) {
    if (w.size() == zarvik::kControlPacketSize && zarvik::IsDataHeader(w[3])) return;
    if (chunks.empty()) return;
    line.Feed(chunks.front());
    chunks.pop_front();
  };
  zarvik::TProtocolKKM protocol(&kkm);
  protocol.SetLine(&line);
  protocol.waits = zarvik::kNoLinkWaits;

  for (int round = 0; round < 2; ++round) {
    TMessageBuffer request{0x01, 0x10, 0x01, 0x00};
    if ((switches & 0x08) != 0) request.count = 0;
    TMessageBuffer answer;
    int frames = 0;
    if ((switches & 0x02) != 0) {
      protocol.onData = [&](TMessageBuffer& a, bool& more) {
        if (a.count < 0 || a.count > static_cast<std::int32_t>(zarvik::kFramePayloadCapacity))
          __builtin_trap();
        if ((switches & 0x04) != 0 && ++frames >= 3) more = false;
      };
    }
    protocol.Exchange(request, answer, (switches & 0x01) != 0);
    if (answer.count < 0 || answer.count > static_cast<std::int32_t>(zarvik::kMessageBufferCapacity)) {
      __builtin_trap();
    }
    protocol.onData = nullptr;
  }
  return 0;
}
