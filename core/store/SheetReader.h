// Sheets of spreadsheet files (.xlsx and .ods) as their cells hold them: the
// archive is opened with libzip and its XML read with expat. A number cell
// keeps the decimal text the file stores (so a 13-digit barcode keeps every
// digit), a formula cell its stored result, an error cell its error text.
// Only the cells that hold something are kept.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik {

enum class TSheetFileKind { Unknown, Xlsx, Ods };

// The kind of a spreadsheet file by its name's extension (any case).
TSheetFileKind SheetFileKindOf(std::string_view path);

struct TSheetCell {
  enum class Kind { Empty, Number, Text, Bool, Error };
  Kind kind = Kind::Empty;
  int column = 0;      // 0-based: A is 0
  std::string text;    // Number: decimal text as stored ("12", "4607001234567",
                       // "1.5E-3"); Text: UTF-8; Bool: "1" or "0"; Error: "#DIV/0!"
  bool formula = false;  // the value is a formula's stored result
};

struct TSheetRow {
  int number = 0;  // 1-based, as the spreadsheet shows it
  std::vector<TSheetCell> cells;  // by column, only cells that hold something

  // The cell of `column`, or nullptr when it is empty.
  const TSheetCell* At(int column) const;
};

struct TSheet {
  std::string name;
  std::vector<TSheetRow> rows;  // rows that hold something, in order
  int columns = 0;              // one past the last column that holds something
};

// The largest sheet the reader takes: the limits of the spreadsheet programs.
inline constexpr int kSheetMaxRows = 1048576;
inline constexpr int kSheetMaxColumns = 16384;
// Cells kept in all: beyond it a file is refused rather than filling memory.
inline constexpr std::int64_t kSheetMaxCells = 10'000'000;

// The names of the sheets in file order; false with `error` (Russian, for
// the user) when the file cannot be read.
bool ReadSheetNames(const std::string& path, std::vector<std::string>& names, std::string& error);
// Reads the sheet `sheetName` (the first one when empty) into `sheet`. False
// with `error` when the file cannot be read or has no such sheet.
bool ReadSheet(const std::string& path, const std::string& sheetName, TSheet& sheet, std::string& error);

// Column letters: 0 -> "A", 25 -> "Z", 26 -> "AA".
std::string SheetColumnName(int column);
// "A".."XFD" in any case to a 0-based column; false for anything else.
bool SheetColumnIndex(std::string_view letters, int& column);
// The cell as a spreadsheet user reads it: "Лист1!D7"; a sheet name with
// characters other than letters, digits and "_" is quoted: "'Прайс лист'!D7".
std::string SheetCellName(std::string_view sheet, int row, int column);

// The exact decimal value of a number text ("12", "-1.50", "4.607001234567E+12"):
// the digits before and after the point, without an exponent. False when the
// text is not a number.
struct TDecimalParts {
  bool negative = false;
  std::string whole;     // no leading zeros; "0" for none
  std::string fraction;  // no trailing zeros; empty for a whole number
};
bool ParseDecimalText(std::string_view text, TDecimalParts& parts);
// The plain decimal text of the parts: "-12.5", "4607001234567".
std::string DecimalPartsText(const TDecimalParts& parts);

}  // namespace zarvik
