// Text conversion between the program's UTF-8 and the single-byte code page
// 1251 that every outer boundary uses (wire fields, log, dBASE and CSV files,
// journal, language and descriptor files). All conversions go through here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zarvik {

// Code page 1251 bytes to UTF-8. Every byte has a meaning except 0x98, which
// becomes U+FFFD.
std::string Cp1251ToUtf8(std::string_view bytes);

// UTF-8 to code page 1251. A character the code page lacks (or a malformed
// UTF-8 sequence) becomes `replacement`.
std::string Utf8ToCp1251(std::string_view utf8, char replacement = '?');

// True when `bytes` is well-formed UTF-8: no stray or missing continuation
// bytes, overlong forms, surrogates or values past U+10FFFF. Files of unknown
// encoding are told apart by it (text in code page 1251 with letters is
// almost never well-formed UTF-8).
bool IsUtf8Text(std::string_view bytes);

// True when every character of `utf8` has a code page 1251 byte.
bool IsCp1251Text(std::string_view utf8);

// The code page 1251 byte of one code point, or -1 when there is none.
int Cp1251FromCodePoint(char32_t cp);
char32_t CodePointFromCp1251(unsigned char b);

// UTF-8 walking. Malformed sequences count as one character each (U+FFFD).
std::u32string Utf8ToU32(std::string_view utf8);
std::string U32ToUtf8(std::u32string_view text);
void AppendUtf8(std::string& out, char32_t cp);
std::size_t Utf8Length(std::string_view utf8);  // in characters
// The first `count` characters.
std::string Utf8Left(std::string_view utf8, std::size_t count);
// Characters [first, first + count).
std::string Utf8Mid(std::string_view utf8, std::size_t first, std::size_t count);

// Lower and upper case of ASCII and Cyrillic letters; other characters unchanged.
std::string Utf8Lower(std::string_view utf8);
std::string Utf8Upper(std::string_view utf8);
// Case-insensitive equality in the sense of Utf8Lower.
bool Utf8EqualNoCase(std::string_view a, std::string_view b);

}  // namespace zarvik
