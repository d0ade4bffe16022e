// Decoding of arbitrary ReadJournal replies: no crash, no read outside the
// reply, and every produced line renders.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "journal/U_magazineoperation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = zarvik::DecodeJournalReply(std::span<const std::uint8_t>(data, size));
  // Record lines are ASCII and each ends with CR LF.
  if (!text.empty() && !text.ends_with("\r\n")) __builtin_trap();
  std::string_view rest = text;
  std::string rendered;
  while (!rest.empty()) {
    const std::size_t end = rest.find("\r\n");
    if (end == std::string_view::npos) __builtin_trap();
    const std::string_view line = rest.substr(0, end);
    for (char c : line) {
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) __builtin_trap();
    }
    if (zarvik::TryRenderJournalLine(line, rendered) && rendered.ends_with("\r\n")) __builtin_trap();
    rest.remove_prefix(end + 2);
  }
  return 0;
}
