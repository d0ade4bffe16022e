#pragma once
// Cells of the reports that the fleet and the shop page save: a value as a
// JSON string and as a CSV cell (";" between cells, quoted where needed).

#include <cstdio>
#include <string>

namespace zarvik {

// `s` in double quotes, with quotes, backslashes and control characters
// escaped.
inline std::string JsonText(const std::string& s) {
  std::string out = "\"";
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

// `s` as it stands, or quoted with its quotes doubled when it holds ";", a
// quote or a line end.
inline std::string CsvCell(const std::string& s) {
  if (s.find_first_of(";\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (const char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace zarvik
