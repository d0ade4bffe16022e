// INI files with the usual Windows semantics: sections and keys matched
// without regard to case, defaults for what is missing, integers in decimal, a
// missing file is empty. The file is code page 1251 on disk and UTF-8 here.
// Writing keeps every other line (comments, other sections, unknown lines)
// as it was and replaces the file in one step.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik {

class TIniFile {
 public:
  // Reads `path` at once; a missing or unreadable file is empty, an
  // unreadable one with a Problem().
  explicit TIniFile(std::string path);

  const std::string& FileName() const { return path_; }
  // Why the file could not be used as it stands, or "" when it could (a
  // missing file is no problem): it cannot be read (a folder in its place,
  // no permission), or it is not text (control bytes such as NUL).
  const std::string& Problem() const { return problem_; }
  // Reports Problem() as a warning to console and log, once per file in the
  // life of the process; false when there is nothing to report.
  bool ReportProblem() const;

  // Value after the first "=", blanks around it removed; `def` when the
  // section or key is missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // Decimal integer with optional sign; `def` when missing or not a number
  // (or outside the 32-bit range).
  std::int32_t ReadInteger(std::string_view section, std::string_view key,
                           std::int32_t def) const;
  // "0" is false, any other number true; `def` when missing or not a number.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  // Keys of a section, in file order.
  std::vector<std::string> ReadSection(std::string_view section) const;
  std::vector<std::string> ReadSections() const;

  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int64_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);
  void EraseSection(std::string_view section);
  void DeleteKey(std::string_view section, std::string_view key);

  // Writes the file (temporary file and rename, so a failed write leaves the
  // old file). False when it cannot be written.
  bool UpdateFile() const;
  bool Modified() const { return modified_; }

  // Parses INI text (already UTF-8) instead of a file.
  static TIniFile FromText(std::string_view utf8Text);

 private:
  TIniFile() = default;
  struct Line {
    std::string raw;      // the line as it was, UTF-8
    // The line's bytes in the file, written back as they were while the line
    // is not changed (a byte code page 1251 lacks would not survive UTF-8).
    std::optional<std::string> fileBytes;
    std::string section;  // for a section line: its name
    std::string key;      // for a key line: key (trimmed)
    std::string value;    // for a key line: value (trimmed)
    enum Kind { kOther, kSection, kKey } kind = kOther;
  };
  void Parse(std::string_view text);
  // Index of the section line, or npos.
  std::size_t FindSection(std::string_view section) const;
  std::size_t SectionEnd(std::size_t sectionLine) const;
  std::optional<std::size_t> FindKey(std::string_view section, std::string_view key) const;

  std::string path_;
  std::string problem_;
  std::vector<Line> lines_;
  bool modified_ = false;
};

}  // namespace zarvik
