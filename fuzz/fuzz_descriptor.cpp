// Model descriptor text and single option descriptor lines: any bytes must
// give options within the table and limits within what a register can have.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/OptionTable.h"
#include "model/U_kkms.h"
#include "shell/IniFile.h"
#include "shell/TextCodec.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zarvik;
  const std::string text = Cp1251ToUtf8(std::string_view(reinterpret_cast<const char*>(data), size));

  // The whole input as one descriptor line, for an option number taken from
  // the first byte (numbers outside 1..64 included).
  TOptionsInfo option;
  const int n = size > 0 ? static_cast<int>(data[0]) - 64 : 1;
  ParseOptionDescriptor(text, n, option);
  Check(!option.description.empty());
  Check(option.description.size() <= text.size() + kNoDescriptionPrefix.size() + 1024);

  // The whole input as a descriptor file.
  TKKMInfo info;
  Check(info.ReadDescriptor(TIniFile::FromText(text)));
  Check(info.maxCountDepat >= 1 && info.maxCountDepat <= kMaxDepartments);
  Check(info.FontCount() >= 1 && info.FontCount() <= kHighestFontNumber + 1);
  Check(info.MaxCountGoods() >= 1 && info.MaxCountGoods() <= kHighestGoodsNumber);
  for (int k = 0; k <= kOptionSlotCount + 1; ++k) {
    std::uint8_t lo = 0;
    std::uint8_t hi = 0;
    info.OptionLimits(k, lo, hi);
    static_cast<void>(info.OptionDefault(k));
    Check((k >= 1 && k <= kOptionSlotCount) == !info.OptionDescription(k).empty());
  }
  for (int f = -1; f <= 10; ++f) static_cast<void>(info.FontName(f));
  return 0;
}
