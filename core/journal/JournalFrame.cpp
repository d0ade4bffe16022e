#include "journal/JournalFrame.h"

#include <utility>

#include "journal/U_magazineoperation.h"

namespace zarvik {

namespace {
constexpr std::string_view kCrLf = "\r\n";
}  // namespace

std::vector<std::string> SplitCrLfLines(std::string_view text) {
  std::vector<std::string> lines;
  for (;;) {
    const std::size_t end = text.find(kCrLf);
    if (end == std::string_view::npos) {
      lines.emplace_back(text);
      return lines;
    }
    lines.emplace_back(text.substr(0, end));
    text.remove_prefix(end + kCrLf.size());
    if (text.empty()) return lines;
  }
}

TJournalFrame TakeJournalFrame(std::span<const std::uint8_t> reply, bool box) {
  TJournalFrame frame;
  if (reply.size() >= kJournalReplyHeaderLength) frame.resultCode = reply[kJournalReplyHeaderLength - 1];
  const std::string decoded = DecodeJournalReply(reply);
  if (decoded.empty()) return frame;
  frame.records = SplitCrLfLines(decoded);
  for (const std::string& record : frame.records) {
    for (std::string& line : SplitCrLfLines(RenderJournalLine(record, box)))
      frame.text.push_back(std::move(line));
  }
  return frame;
}

}  // namespace zarvik
