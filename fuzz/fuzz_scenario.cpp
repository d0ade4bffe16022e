// The simulator's scenario files on arbitrary bytes (UTF-8 or code page
// 1251): loading fails with a message or gives a register the link can
// serve, whose state stays within what a register can hold and whose answers
// to the read commands are well-formed frames.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "RegisterState.h"
#include "Scenario.h"
#include "shell/TextCodec.h"

namespace {

using namespace zarvik;
using sim::Bytes;

constexpr std::size_t kMaxFramePayload = 256;
constexpr std::size_t kMaxJournalRecordsServed = 2000;

void CheckAnswers(const std::vector<Bytes>& frames, std::uint8_t command) {
  FUZZ_CHECK(!frames.empty());
  for (const Bytes& f : frames) {
    FUZZ_CHECK(f.size() >= 3 && f.size() <= kMaxFramePayload);
    FUZZ_CHECK(f[0] == 0x01 && f[1] == command);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = sim::ScenarioTextToUtf8(fuzz::AsText(data, size));
  FUZZ_CHECK(U32ToUtf8(Utf8ToU32(text)) == text);
  sim::Scenario scenario;
  std::string error;
  if (!sim::LoadScenarioText(text, scenario, error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  sim::RegisterState& s = scenario.state;
  FUZZ_CHECK(s.options.size() <= static_cast<std::size_t>(sim::kMaxOptionCount));
  FUZZ_CHECK(s.maxCountDepat >= 1 && s.maxCountDepat <= sim::kMaxDepartments);
  FUZZ_CHECK(s.operatorCount == 0 || s.operatorCount == 4 || s.operatorCount == 8);
  FUZZ_CHECK(s.goodsCapacity >= 0 && s.goodsCapacity <= sim::kMaxGoods);
  for (const auto& [code, goods] : s.goods) {
    FUZZ_CHECK(code >= 1 && code <= s.goodsCapacity);
    FUZZ_CHECK(Utf8Length(goods.name) <= 32 && goods.barcode.size() <= 20);
  }
  for (const auto& d : s.departments) FUZZ_CHECK(Utf8Length(d.name) <= 22);
  for (const auto& t : s.taxes) FUZZ_CHECK(Utf8Length(t.name) <= 12);
  for (const auto* lines : {&s.header, &s.footer}) {
    for (const auto& l : *lines) FUZZ_CHECK(Utf8Length(l.text) <= 32);
  }
  for (std::size_t i = 0; i < s.operatorNames.size(); ++i) {
    FUZZ_CHECK(Utf8Length(s.operatorNames[i]) <= 32 && Utf8Length(s.positions[i]) <= 32);
  }

  // The register serves the read commands of a full read-out.
  const auto ask = [&](std::initializer_list<std::uint8_t> request, bool continued) {
    const Bytes r(request);
    const auto frames = sim::ExecuteCommand(s, r, continued);
    CheckAnswers(frames, r[1]);
    return frames;
  };
  const auto info = ask({0x01, 0x01}, true);
  FUZZ_CHECK(info.size() == 1 && info[0].size() == 44);
  ask({0x01, 0x02}, true);
  ask({0x01, 0x09}, true);
  for (std::uint8_t n = 0; n < 6; ++n) {
    ask({0x01, 0x03, n}, true);
    ask({0x01, 0x05, n}, true);
  }
  for (std::uint8_t n = 1; n <= 99; ++n) ask({0x01, 0x07, n}, true);
  for (std::uint8_t n = 1; n <= 5; ++n) ask({0x01, 0x0D, n}, true);
  for (std::uint8_t n = 1; n <= 8; ++n) {
    ask({0x01, 0x15, n}, true);
    ask({0x01, 0x17, n}, true);
  }
  int asked = 0;
  for (const auto& [code, goods] : s.goods) {
    if (++asked > 20) break;
    const std::uint8_t lo = static_cast<std::uint8_t>((code % 10) | (code / 10 % 10) << 4);
    const std::uint8_t hi = static_cast<std::uint8_t>((code / 100 % 10) | (code / 1000 % 10) << 4);
    ask({0x01, 0x10, lo, hi}, false);
  }
  if (s.goods.size() <= 200) ask({0x01, 0x10, 0x01, 0x00}, true);
  if (s.journal.size() <= kMaxJournalRecordsServed) ask({0x01, 0x0F, 0x00, 0x00}, true);
  return 0;
}
