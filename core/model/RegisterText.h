// Texts on their way into the register's text fields (department names,
// receipt lines, operators, goods names, printed lines): which characters
// the register cannot print, and what a field holds once written. The wire
// carries code page 1251 bytes, and of those the register prints only
// IsRegisterChar ones; everything else is left out of a field (FieldFromText)
// or, on a printed line, arrives as a character the printer does not have.
// One check serves the window's grids, its writes and zarvikctl.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zarvik {

// The characters of `utf8` the register cannot print: those without a code
// page 1251 byte and those whose byte is no register character (control
// characters, "№", "«", "—", ...). Each once, in the order they first appear.
std::u32string UnprintableChars(std::string_view utf8);
// True when the register prints every character of `utf8`.
inline bool IsPrintableText(std::string_view utf8) {
  return UnprintableChars(utf8).empty();
}

// One character as a person reads it in a message: the character itself
// ("№"); followed by its code when code page 1251 lacks it ("ø U+00F8"), so
// that the log, written in that code page, still names it; only its code for
// a control character and the like ("U+0009").
std::string CharDisplay(char32_t c);
// The characters as a list for messages: «ø», «日», «U+0009».
std::string UnprintableList(std::u32string_view chars);

// What a register text field of `width` characters holds after `utf8` was
// written to it: the first `width` characters without the ones the register
// cannot print (as FieldFromText sends them), back as UTF-8.
std::string RegisterFieldText(std::string_view utf8, std::size_t width);

// The warning of a write or a print: `what` (e.g. "Отдел 3"), then
// ": ККМ не печатает знаки «ø», «日» в тексте «Кофе ø日»"; empty when every
// character prints.
std::string UnprintableWarning(std::string_view what, std::string_view utf8);

// The warning of printed line `number` (1-based): the characters of the
// part the register prints (its first 32) it cannot print; empty when none.
std::string PrintedLineWarning(int number, std::string_view utf8);

}  // namespace zarvik
