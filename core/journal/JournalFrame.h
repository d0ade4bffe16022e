// One reply frame of a streamed journal read taken apart for display: its
// result code, its record lines (the data view) and their receipt text, line
// by line (the text view). The window's journal page and the command-line
// companion handle every frame the same way.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik {

// Result code of a journal reply that ends the journal.
inline constexpr int kJournalEndCode = 9;

struct TJournalFrame {
  // The reply's third byte (after the command bytes 01 0F), or -1 when the
  // reply is shorter.
  int resultCode = -1;
  // The record lines of the reply, in order.
  std::vector<std::string> records;
  // The receipt text of those records, one entry per text line.
  std::vector<std::string> text;
};

// The lines of a text whose lines are ended or separated by CR LF. Empty
// lines keep their place; a CR LF at the very end ends the last line and
// adds none; an empty text is one empty line.
std::vector<std::string> SplitCrLfLines(std::string_view text);

// Decodes the reply and renders every record line. A line that cannot be
// rendered is reported as RenderJournalLine does (in a message box too when
// `box` is set) and kept with " - ошибка!".
TJournalFrame TakeJournalFrame(std::span<const std::uint8_t> reply, bool box);

}  // namespace zarvik
