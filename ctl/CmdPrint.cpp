#include "CtlSession.h"

#include "CtlOutput.h"
#include "model/RegisterText.h"
#include "shell/DiaLog.h"

namespace zarvik::ctl {
namespace {

constexpr int kDefaultBrightness = 0;

}  // namespace

int TCtlSession::CmdPrint() {
  std::vector<std::string> lines(words_.begin() + 1, words_.end());
  if (words_.size() == 1) {
    std::string line;
    for (int c = std::fgetc(stdin); c != EOF; c = std::fgetc(stdin)) {
      if (c == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        line.clear();
      } else {
        line.push_back(static_cast<char>(c));
      }
    }
    if (!line.empty()) lines.push_back(line);
  }
  if (!Connect()) return ceFailed;
  const int font = args_.font < 0 ? 0 : args_.font;
  const int brightness = args_.brightness < 0 ? kDefaultBrightness : args_.brightness;
  if (font > Info().maxCountFont)
    return Usage("--font: the register's fonts are 0.." + std::to_string(Info().maxCountFont));
  for (std::size_t n = 0; n < lines.size(); ++n) {
    // The register prints what it has; the rest is named, not lost unseen.
    if (const std::string w = PrintedLineWarning(static_cast<int>(n + 1), lines[n]); !w.empty())
      Warning(w, false, true, true);
    if (!protocol_.PrintLine(font, brightness, lines[n])) return Fail("не удалось напечатать текст");
  }
  Done("напечатано");
  return ceOk;
}

}  // namespace zarvik::ctl
