// The goods table `mtTOBAP` and what it is exchanged with: the register's
// 64-byte goods record (record to row, row to record, which rows may be
// written) and the goods exchange files, a dBASE IV table of ten fields and a
// CSV text, both written in code page 1251 and read also as other programs
// write them. Shared by the goods page and zarvikctl.
//
// The table functions work on the rows the table shows (through its filter)
// and leave it in browse state. Failures are reported with the message
// helpers of DiaLog.h and returned as false.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/GoodsReport.h"
#include "store/WorkTable.h"

namespace zarvik {

class TKKM;
class TKKMInfo;

// Field order of `mtTOBAP`, of the CSV values and of the dBASE fields.
inline constexpr int kGoodsFieldCount = 10;
inline constexpr std::string_view kGoodsFields[kGoodsFieldCount] = {
    "Code", "Type", "Name", "NG", "Price", "Section", "Vesovoy", "Shtrih", "isBlock", "Count"};
// CSV import reads only the first nine values of a line (`Count` is not read).
inline constexpr int kGoodsCsvReadFields = 9;
// Index of each goods field in kGoodsFields.
enum GoodsField : int {
  gfCode,
  gfType,
  gfName,
  gfNG,
  gfPrice,
  gfSection,
  gfVesovoy,
  gfShtrih,
  gfIsBlock,
  gfCount
};
// Widths of the goods text fields.
inline constexpr int kGoodsNameWidth = 32;
inline constexpr int kGoodsBarcodeWidth = 20;

// The column of each goods field in a table, resolved once for bulk work:
// the field's own position for a table defined in the goods field order
// (`mtTOBAP`), else looked up by name; -1 when the table lacks it.
class GoodsColumns {
 public:
  explicit GoodsColumns(const TWorkTable& table);
  int operator[](int field) const { return index_[static_cast<std::size_t>(field)]; }

 private:
  int index_[kGoodsFieldCount];
};

// Goods record flag bits.
inline constexpr std::uint8_t kGoodsFlagByPiece = 0x01;
inline constexpr std::uint8_t kGoodsFlagBlocked = 0x02;
// Scale of the record's numbers: price in kopecks, quantity in thousandths.
inline constexpr std::int64_t kGoodsKopecksPerRouble = 100;
inline constexpr std::int64_t kGoodsThousandthsPerUnit = 1000;

// Row limit of a dBASE import while no register has been identified.
inline constexpr int kGoodsImportLimitWithoutRegister = 2000;

// CSV text.
inline constexpr std::string_view kCsvLineEnd = "\r\n";
inline constexpr char kCsvWriteSeparator = ';';

// Messages.
inline constexpr std::string_view kDbfOpenFailedText = "Не удалось открыть DBF файл";
inline constexpr std::string_view kDbfCreateFailedText = "Не удалось создать DBF файл";
inline constexpr std::string_view kDbfImportedText = "Данные считаны из DBF файла";
inline constexpr std::string_view kDbfExportedText = "Данные записаны в DBF файл";
inline constexpr std::string_view kCsvReadFailedText = "Не удалось прочитать CSV файл";
inline constexpr std::string_view kCsvWriteFailedText = "Не удалось записать CSV файл";
inline constexpr std::string_view kCsvBadValueText = "Неверное значение в строке ";
inline constexpr std::string_view kCsvUtf16Text =
    ": текст в кодировке UTF-16, сохраните файл в UTF-8 или 1251";
inline constexpr std::string_view kGoodsFileKindText =
    "файл товаров должен иметь расширение .csv, .dbf, .xlsx или .ods";
inline constexpr std::string_view kGoodsWriteKindText =
    "файл товаров для записи должен иметь расширение .csv, .dbf или .xlsx";

// The kind of a goods exchange file by its name's extension (any case).
enum class GoodsFileKind { Unknown, Csv, Dbf, Xlsx, Ods };
// Whether goods can be written to a file of that kind (.ods is only read).
bool GoodsFileWritable(GoodsFileKind kind);

// A column the user chose for a goods field in a sheet: a header text, or a
// column letter ("D") when no header has that text.
struct GoodsColumnChoice {
  int field = -1;
  std::string header;
};
// How a sheet is read (GoodsSheet.h).
struct GoodsSheetOptions {
  std::string sheet;                       // empty: the first sheet
  std::vector<GoodsColumnChoice> columns;  // one per field at most
};
GoodsFileKind GoodsFileKindOf(std::string_view path);

// Adds to `report` what becomes of a name read from a file at line or record
// `place`: cut to 32 characters, characters outside code page 1251.
void NoteGoodsName(std::string_view name, int place, const std::string& code, GoodsImportReport& report);

// ---------------------------------------------------------------------------
// Register record and table row

// The goods code of info.GoodsRecord; false when it is not a register number.
bool GoodsRecordCode(const TKKMInfo& info, std::int64_t& code);
// Fills the current row (edit or insert state) from info.GoodsRecord. For a
// record of type other than goods, `Vesovoy` and `Shtrih` are left as they
// are; `Count` is set only when the record's quantity is a register number.
// False, with the row untouched, when the goods code is not a number.
bool GoodsRecordToRow(const TKKMInfo& info, TWorkTable& table);
// Builds info.GoodsRecord from the current row (the quantity sold is never
// sent). False when a value does not fit its record field (code outside
// 0..999999, price not a whole number of kopecks or too large, a barcode that
// is not digits or longer than 20, a byte field outside 0..255).
bool GoodsRowToRecord(const TWorkTable& table, TKKMInfo& info);
// Whether the current row may be written to a register with `maxCountDepat`
// departments: `Code` set and either type 0 (a row marked for deletion) or
// price set, no invalid mark (255) in `Type`, `NG`, `Vesovoy`, a barcode of
// digits only (or none) and a section 0..maxCountDepat. A transfer decides
// with GoodsRowSkipReason (GoodsReport.h), which adds the register's goods
// capacity and the record's limits and says why.
bool IsGoodsRowWritable(const TWorkTable& table, int maxCountDepat);

// ---------------------------------------------------------------------------
// Number text and CSV values

// The shortest decimal form with the locale's decimal separator, "0" for 0.
std::string GoodsNumberText(Currency value);
// Every double quote doubled; the result enclosed in double quotes when it
// contains a double quote, a comma or a semicolon, or starts with a single
// quote (which the import would take for quoting).
std::string QuoteCsvField(std::string_view value);
// Each pair of adjacent double quotes becomes one, scanning from the left.
std::string UnquoteCsvField(std::string_view value);
// ";" when the text contains one, else TAB when it contains one, else ",".
char CsvSeparator(std::string_view text);

// ---------------------------------------------------------------------------
// Files
//
// The importers empty the table and fill it, and fill `report` with the line
// or record number of each row and every value they cut or drop; the
// overloads without a report publish what they found (PublishGoodsReport).
// Failures that stop an import are reported with Error, as before.

// The values of the current row as the CSV file writes them (before
// quoting): integers in decimal, `Price` and `Count` as number text,
// `isBlock` "True" or "False", an empty field as the empty text.
std::vector<std::string> GoodsCsvValues(const TWorkTable& table);
// The rows as CSV text (UTF-8; the file holds it in code page 1251).
std::string GoodsCsvText(TWorkTable& table);
// Writes the rows to a CSV file; "Не удалось записать CSV файл" on failure.
bool ExportGoodsCsv(TWorkTable& table, const std::string& path);

// The text of a goods CSV file as UTF-8. A file that starts with the UTF-8
// byte order mark (dropped), or is well-formed UTF-8 with some non-ASCII
// text, is read as UTF-8; any other file as code page 1251.
std::string GoodsCsvTextOf(std::string_view bytes, GoodsTextEncoding& encoding);
// Whether a CSV line is the header line the command line writes (its first
// value "Code" or "Код", in any case); the import skips it when it is the
// first line.
bool IsGoodsCsvHeader(std::string_view line, char separator);
// Empties the table and reads the CSV text (UTF-8) into it. A line ends at LF
// (a CR before it is dropped); a last line without an end is read too. A
// value of a number field that is not a number ends the import at that line
// with "Неверное значение в строке " + line number + ": " + value + " (поле
// " + field + ")"; the rows before it stay. An empty or missing number takes
// the new row's default (type 170, sold by the piece; the fields without one
// stay empty). `Count` of every row is 0.
bool ImportGoodsCsvText(std::string_view utf8, TWorkTable& table, GoodsImportReport& report);
bool ImportGoodsCsvText(std::string_view utf8, TWorkTable& table);
// The same from a file (GoodsCsvTextOf); a file that cannot be read, or is
// UTF-16 (it starts with that byte order mark), is reported with "Не удалось
// прочитать CSV файл" and leaves the table as it was.
bool ImportGoodsCsv(const std::string& path, TWorkTable& table, GoodsImportReport& report);
bool ImportGoodsCsv(const std::string& path, TWorkTable& table);

// The row limit of a dBASE import: maxCountGoods of an identified register,
// else 2000.
int GoodsImportLimit(const TKKM* kkm);
// Empties the table and reads at most `limit` records of a goods table into
// it; the records beyond the limit are counted in the report. The file may
// come from another program: fields are matched by name in any case and
// order, the text is in the code page a .cpg file beside it names (1251 or
// UTF-8), else in 1251 whatever the code page mark says; numbers may be N, F
// or C fields; the blocked flag an L field, an N field of 0 and 1 or a C
// field of T, F, Y, N, Д or Н. A file that cannot be used (unreadable,
// truncated, a bad header, a missing field, a field of another type, a value
// that is not a number, a code page the program does not read) is reported
// with "Не удалось открыть DBF файл " + the file's name + ": " + the field
// and the cause, and the table is left as it was.
bool ImportGoodsDbf(const std::string& path, TWorkTable& table, int limit, GoodsImportReport& report);
bool ImportGoodsDbf(const std::string& path, TWorkTable& table, int limit);
// Creates the goods exchange table (replacing the file) with one record per
// row; "Не удалось создать DBF файл" when it cannot be created or written.
bool ExportGoodsDbf(TWorkTable& table, const std::string& path);

// Reads the goods file `in` into `table` (no row limit: no register is
// involved) and writes the rows to `out`, each by its extension (.csv, .dbf,
// .xlsx; .ods is read only), with the rules of the import and export above;
// `options` say how a sheet is read. False, with the failure reported, when
// either file fails or a name has another extension.
bool ConvertGoodsFile(const std::string& in, const std::string& out, TWorkTable& table,
                      GoodsImportReport& report, const GoodsSheetOptions& options = {});

}  // namespace zarvik
