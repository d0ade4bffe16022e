#include "CtlConsole.h"

#include "CtlJson.h"
#include "shell/TextCodec.h"

namespace zarvik::ctl {

std::string MessageOfLine(const ConsoleLine& line, bool& errorOrWarning) {
  errorOrWarning = false;
  // The first colour range is the time stamp; the second starts the message.
  if (line.colors.size() < 2) return line.text;
  const ColorRange& message = line.colors[1];
  errorOrWarning = message.color == C_Error || message.color == C_Warning;
  return Utf8Mid(line.text, static_cast<std::size_t>(message.first), Utf8Length(line.text));
}

void TStderrConsole::AppendLine(const ConsoleLine& line) {
  bool important = false;
  const std::string message = MessageOfLine(line, important);
  if (report_ != nullptr) {
    const bool error = line.colors.size() >= 2 && line.colors[1].color == C_Error;
    // The level says what the log's "Error:" and "Warning:" say.
    std::string_view text = message;
    for (const std::string_view mark : {std::string_view("Error:"), std::string_view("Warning:")})
      if (text.starts_with(mark)) text.remove_prefix(mark.size());
    report_->Message(error ? "error" : important ? "warning" : "info", std::string(text));
    return;
  }
  if (!verbose_ && !important) return;
  const std::string& text = verbose_ ? line.text : message;
  std::fwrite(text.data(), 1, text.size(), stream_);
  std::fputc('\n', stream_);
  ++lines_;
}

}  // namespace zarvik::ctl
