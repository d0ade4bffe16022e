// Goods from a spreadsheet's sheet (.xlsx, .ods) and goods to a workbook
// (.xlsx): the header row found among the first rows, columns matched to the
// goods fields by their names (or chosen by the user), cells taken as the
// spreadsheet holds them, every refused cell named as "Лист1!D7". The goods
// page, its mapping dialog and zarvikctl share it.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "store/GoodsExchange.h"
#include "store/GoodsReport.h"
#include "store/SheetReader.h"

namespace zarvik {
class TIniFile;
}

namespace zarvik {

// The header row is looked for among this many first rows that hold something.
inline constexpr int kGoodsHeaderSearchRows = 10;

// The Russian names the workbook's header row gets, in goods field order; the
// first name of each field in the name table.
inline constexpr std::string_view kGoodsSheetHeaders[kGoodsFieldCount] = {
    "Код", "Тип", "Наименование", "Налоговая группа", "Цена", "Отдел", "Весовой", "Штрихкод", "Блокировка",
    "Продано"};

// Messages.
inline constexpr std::string_view kSheetReadFailedText = "Не удалось прочитать файл книги";
inline constexpr std::string_view kSheetNoHeaderText = "Не найдены столбцы товаров в файле";
inline constexpr std::string_view kXlsxCreateFailedText = "Не удалось создать XLSX файл";
inline constexpr std::string_view kXlsxExportedText = "Данные записаны в XLSX файл";

// A header name made comparable: lower case, without blanks, dots and
// hyphens, "ё" as "е".
std::string GoodsHeaderKey(std::string_view name);
// The goods field a header names by the name table (the fields' own names
// and their usual Russian names), or -1.
int GoodsFieldOfHeader(std::string_view name);
// The goods field of a name as `--column` gives it: a field's own name in any
// case, or a name of the table; -1 for none.
int GoodsFieldOfName(std::string_view name);

// A choice with an empty header leaves its field without a column.
// "FIELD=HEADER" of `--column`; false with `error` (for the command line).
bool ParseGoodsColumnChoice(std::string_view text, GoodsColumnChoice& choice, std::string& error);

// Where the goods are in a sheet.
struct GoodsSheetLayout {
  int headerIndex = -1;  // index into TSheet::rows of the header row; -1 when none was found
  int headerRow = 0;     // its number as the spreadsheet shows it
  std::array<int, kGoodsFieldCount> column{};  // 0-based column of each field, -1 for none
  std::vector<std::string> headers;            // text of each column's header cell (by column)
  std::vector<int> ignored;                    // header columns no field takes
  std::vector<std::string> problems;           // why the layout cannot be used as it is
  bool ambiguous = false;                      // a field matches more than one column

  GoodsSheetLayout() { column.fill(-1); }
  // The code and the name or the price have columns, and nothing is wrong.
  bool Usable() const;
  // "D «Цена»": a column as the texts name it.
  std::string ColumnText(int column) const;
};

// Finds the header row and the columns of the goods fields: the first of the
// first rows whose cells name the code and the name or the price (a choice's
// header counts for its field); the choices take their columns first, the
// name table the rest. A field that two columns name is left without a
// column and reported as ambiguous. When no header row is found, the first
// row that holds something stands for it and the problem is reported.
GoodsSheetLayout FindGoodsSheetLayout(const TSheet& sheet, const std::vector<GoodsColumnChoice>& choices);
// The same with the header row given (index into TSheet::rows).
GoodsSheetLayout GoodsSheetLayoutAt(const TSheet& sheet, int headerIndex,
                                    const std::vector<GoodsColumnChoice>& choices);

// One goods row as the import takes it from a sheet row: the values by goods
// field (null for none), or the reason the row is refused.
struct GoodsSheetRow {
  enum class State { Taken, Empty, Refused };
  State state = State::Empty;
  std::array<WtValue, kGoodsFieldCount> values;
  std::vector<GoodsIssue> issues;  // changes of a taken row, or the one refusal
};
GoodsSheetRow TakeGoodsSheetRow(const TSheet& sheet, const GoodsSheetLayout& layout, const TSheetRow& row);

// Empties the table and reads the rows below the header into it, as the CSV
// import does: a row whose code the table has already is left out, values
// cut or changed are reported. A field without a column, or with an empty
// cell, takes the new row's default (type 170, sold by the piece, not
// blocked; the fields without one stay empty). Empty rows are skipped; a row without a code
// (a total line below the table) and a row with a cell that cannot be taken
// are skipped and named. The layout must be usable.
bool ImportGoodsSheet(const TSheet& sheet, const GoodsSheetLayout& layout, TWorkTable& table,
                      GoodsImportReport& report);
// Reads the sheet of a file and imports it; the failures (the file, the
// sheet, the columns) are reported with Error and leave the table as it was.
bool ImportGoodsSheetFile(const std::string& path, const GoodsSheetOptions& options, TWorkTable& table,
                          GoodsImportReport& report);

// The columns the user chose in the window, kept for the next file with the
// same header row: a section per header (named by a hash of its texts) with
// the column letter of each goods field ("" for none) and the header's texts.
inline constexpr std::string_view kGoodsColumnsFile = "GoodsColumns.ini";
std::string GoodsHeaderSection(const TSheetRow& header);
// The layout remembered for the first of the first rows whose texts have a
// section in `file`; false when none has.
bool RememberedGoodsLayout(const TSheet& sheet, const TIniFile& file, GoodsSheetLayout& layout);
void RememberGoodsColumns(TIniFile& file, const TSheet& sheet, const GoodsSheetLayout& layout);

// Writes the rows to a workbook of one sheet "Товары": the Russian header,
// frozen, with an auto-filter; codes and quantities as numbers, prices as
// numbers with two decimals, barcodes as text; widths that fit. "Не удалось
// создать XLSX файл" on failure.
bool ExportGoodsXlsx(TWorkTable& table, const std::string& path);

// Any goods file by its extension (.csv, .dbf, .xlsx, .ods): `limit` applies
// to dBASE tables, `options` to sheets.
bool ImportGoodsFile(const std::string& path, TWorkTable& table, int limit, const GoodsSheetOptions& options,
                     GoodsImportReport& report);
// .csv, .dbf or .xlsx.
bool ExportGoodsFile(TWorkTable& table, const std::string& path);

}  // namespace zarvik
