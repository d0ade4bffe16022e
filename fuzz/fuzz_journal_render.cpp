// Rendering of arbitrary record lines: no crash, a failing line comes back
// marked, a rendered one never ends with CR LF.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "journal/U_magazineoperation.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = [] {
    zarvik::NameLogFile = "/dev/null";  // error reports go nowhere
    zarvik::isAUTONOM = true;
    return true;
  }();
  (void)ready;
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  std::string text;
  const bool ok = zarvik::TryRenderJournalLine(line, text);
  // Text fields pass through as they stand, so only a line without line
  // breaks of its own is sure to render without a trailing CR LF.
  const bool oneLine = line.find_first_of("\r\n") == std::string_view::npos;
  if (ok && oneLine && text.ends_with("\r\n")) __builtin_trap();
  if (!ok && !text.empty()) __builtin_trap();
  const std::string shown = zarvik::RenderJournalLine(line, false);
  if (ok ? shown != text : shown != std::string(line) + std::string(zarvik::kJournalErrorSuffix))
    __builtin_trap();
  return 0;
}
