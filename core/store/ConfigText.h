// A register's settings as a text file a person reads, edits, diffs and keeps
// under version control: options, departments, receipt header and footer
// with their fonts, operators, and the taxes as comments (they are never
// written). UTF-8, one value per line, always in the same order:
//
//   # Зарвик-02Ф, serial number 002100457731, version B 003
//   [options]
//   # 1. Печать заголовка (0 - 1)
//   1 = 1
//   [departments]
//   1.status = goods            goods, service or closed
//   1.name = "Бакалея"
//   1.group = A
//   1.price = 100.00
//   2.status = closed           a closed department has no other field
//   [receipt]
//   header.font = 1
//   header.1 = "ООО \"Ромашка\""
//   footer.font = 0
//   footer.1 = ""
//   [operators]
//   1.name = "Иванова"
//   1.position = "Кассир"
//   [taxes]
//   # 1. "НДС 18%" 18.00 выделяемый
//
// On input, blank lines and lines starting with "#" or ";" are ignored, the
// words around "=" may have blanks, and a file may hold any part of the
// tables: what it does not mention is left as the register has it. Texts are
// in double quotes with the escapes \" \\ and \xHH (a control character,
// which the register cannot print and which is refused when checked).
//
// The checks against a register (DiffConfig) refuse the whole file, naming
// the line, for an option or a department the register does not have, a
// value outside the option's interval, a font the register does not have, a
// text longer than its field or with a character the register cannot print.
// A value equal to the register's own is no change and passes even when the
// register holds it outside its interval: a file exported from a register
// always applies to it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/U_kkms.h"

namespace zarvik {

// The sections of the file.
inline constexpr std::string_view kConfigOptionsSection = "options";
inline constexpr std::string_view kConfigDepartmentsSection = "departments";
inline constexpr std::string_view kConfigReceiptSection = "receipt";
inline constexpr std::string_view kConfigOperatorsSection = "operators";
inline constexpr std::string_view kConfigTaxesSection = "taxes";

// Widths of the register's text fields as a configuration file checks them:
// what the register's fields hold, so that a file exported from one
// register applies to another of the same model.
inline constexpr std::size_t kConfigDepartmentNameWidth = 22;
inline constexpr std::size_t kConfigReceiptLineWidth = 32;
inline constexpr std::size_t kConfigOperatorNameWidth = 32;
inline constexpr std::size_t kConfigPositionWidth = 32;
// The operator columns of a profile (the window's grid) are narrower.
inline constexpr std::size_t kProfileOperatorNameWidth = 20;
inline constexpr std::size_t kProfilePositionWidth = 18;

// Which tables of a TKKMInfo hold values (TSnapshotTable bits of
// RegisterBackup.h), how many operators the register has, and whether its
// taxes were read (they become comments).
struct TConfigTables {
  unsigned tables = 0;
  int operatorCount = 0;
  bool taxes = false;
  // What the operators' names and positions may hold where the values go.
  std::size_t operatorNameWidth = kConfigOperatorNameWidth;
  std::size_t positionWidth = kConfigPositionWidth;
};

// The text of the settings of `info` that `which` names.
std::string ConfigText(const TKKMInfo& info, const TConfigTables& which);

// One value of a file, as written there (texts unquoted).
struct TConfigEntry {
  std::string section;
  std::string key;
  std::string value;
  int line = 0;  // 1-based
};

struct TConfigError {
  int line = 0;  // 0: not bound to a line
  std::string text;
};
// "LINE: TEXT" (or TEXT alone).
std::string ConfigErrorText(const TConfigError& error);

struct TConfigFile {
  std::vector<TConfigEntry> entries;  // in file order
  // The TSnapshotTable bits of the sections that hold a value.
  unsigned Tables() const;
};

// Reads the text of a configuration file; false with every error found (an
// unknown section or key, a line that is not KEY = VALUE, an unclosed quote,
// a key given twice, text that is not UTF-8).
bool ParseConfigText(std::string_view text, TConfigFile& out, std::vector<TConfigError>& errors);

// One value of the file that differs from the register.
struct TConfigChange {
  unsigned table = 0;  // TSnapshotTable bit
  int line = 0;
  std::string section;
  std::string key;  // "5", "3.name", "header.font", ...
  std::string from;
  std::string to;
  int number = 0;         // option, department, receipt line or operator number (0 for a font)
  bool footer = false;    // a footer line or font
  bool position = false;  // an operator's position (not the name)
  // Display: "[departments] 3.name: \"Молоко\" -> \"Кефир\"".
  std::string Text() const;
};

// Checks `file` against the register `current` (its values and limits for
// the tables `which` names) and lists what differs, in file order. False with
// every error when any value may not be written: then nothing of the file
// may be written.
bool DiffConfig(const TConfigFile& file, const TKKMInfo& current, const TConfigTables& which,
                std::vector<TConfigChange>& changes, std::vector<TConfigError>& errors);

// Puts `changes` (from DiffConfig) into `info`, as the writes send them.
void ApplyConfigChanges(const std::vector<TConfigChange>& changes, TKKMInfo& info);

// What a write of `changes` sends: the options (all in one command), the
// departments, the header and footer lines (every line of a block whose
// font changes: each line carries the font), the operators' names and
// positions. Numbers are 1-based and ascending.
struct TConfigWrites {
  bool options = false;
  std::vector<int> departments;
  std::vector<int> headerLines;
  std::vector<int> footerLines;
  std::vector<int> operatorNames;
  std::vector<int> positions;
  bool Empty() const;
  int Count() const;  // register commands
  unsigned Tables() const;
};
TConfigWrites ConfigWrites(const std::vector<TConfigChange>& changes);

}  // namespace zarvik
