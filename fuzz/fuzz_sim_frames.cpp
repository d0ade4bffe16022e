// Arbitrary PC-side bytes into the simulated register's receiver and link
// engine, in memory: no crash, no hang, and every answer it gives is a
// well-formed control packet or data packet.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "RegisterLink.h"
#include "Scenario.h"

namespace {

const zarvik::sim::Scenario& FuzzScenario() {
  static const zarvik::sim::Scenario sc = [] {
    zarvik::sim::Scenario s;
    std::string error;
    zarvik::sim::LoadScenarioText(
        "[Register]\nGoodsCapacity=200\nOperatorCount=8\n[Options]\nCount=40\n[Goods]\nGenerate=120\n"
        "[Journal]\nGenerateReceipts=12\n",
        s, error);
    return s;
  }();
  return sc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zarvik::sim::RegisterLink link(FuzzScenario().state);
  // The first byte, when present, arms a fault, so fault paths are played too.
  if (size > 0) {
    zarvik::sim::Fault f;
    f.kind = static_cast<zarvik::sim::FaultKind>(data[0] % zarvik::sim::kFaultKindCount);
    f.param = 1 + data[0] / zarvik::sim::kFaultKindCount % 4;
    f.result = data[0] % 20;
    f.count = 1 + data[0] % 3;
    link.Faults().Add(f);
    ++data;
    --size;
  }
  // Bytes in chunks of varying size, as reads from a line would give them.
  std::size_t pos = 0;
  while (pos < size) {
    const std::size_t chunk = 1 + (data[pos] % 17);
    const std::size_t n = chunk < size - pos ? chunk : size - pos;
    for (const auto& packet : link.Feed(data + pos, n)) {
      if (packet.size() < 5 || packet[0] != 0x7F || packet[1] != 0x02) std::abort();
    }
    pos += n;
    if (data[pos - 1] == 0x55) link.LineIdle();
  }
  return 0;
}
