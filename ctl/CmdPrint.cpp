#include "CtlSession.h"

#include "CtlOutput.h"
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
  for (const std::string& line : lines)
    if (!protocol_.PrintLine(font, brightness, line)) return Fail("не удалось напечатать текст");
  Done("напечатано");
  return ceOk;
}

}  // namespace zarvik::ctl
