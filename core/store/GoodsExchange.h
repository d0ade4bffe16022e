// The goods table `mtTOBAP` and what it is exchanged with: the register's
// 64-byte goods record (record to row, row to record, which rows may be
// written) and the goods exchange files, a dBASE IV table of ten fields and a
// CSV text, both in code page 1251. Shared by the goods page and zarvikctl.
//
// The table functions work on the rows the table shows (through its filter)
// and leave it in browse state. Failures are reported with the message
// helpers of DiaLog.h and returned as false.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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
// digits only (or none) and a section 0..maxCountDepat.
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

// The rows as CSV text (UTF-8; the file holds it in code page 1251).
std::string GoodsCsvText(TWorkTable& table);
// Writes the rows to a CSV file; "Не удалось записать CSV файл" on failure.
bool ExportGoodsCsv(TWorkTable& table, const std::string& path);
// Empties the table and reads the CSV text (UTF-8) into it. A line ends at LF
// (a CR before it is dropped); a last line without an end is read too. A
// value of a number field that is not a number ends the import at that line
// with "Неверное значение в строке " + line number + ": " + value; the rows
// before it stay. `Count` of every row is 0.
bool ImportGoodsCsvText(std::string_view utf8, TWorkTable& table);
// The same from a file; a file that cannot be read is reported with "Не
// удалось прочитать CSV файл" and leaves the table as it was.
bool ImportGoodsCsv(const std::string& path, TWorkTable& table);

// The row limit of a dBASE import: maxCountGoods of an identified register,
// else 2000.
int GoodsImportLimit(const TKKM* kkm);
// Empties the table and reads at most `limit` records of the goods exchange
// table into it. A file that cannot be opened as the goods exchange table is
// reported with "Не удалось открыть DBF файл" and leaves the table as it was.
bool ImportGoodsDbf(const std::string& path, TWorkTable& table, int limit);
// Creates the goods exchange table (replacing the file) with one record per
// row; "Не удалось создать DBF файл" when it cannot be created or written.
bool ExportGoodsDbf(TWorkTable& table, const std::string& path);

}  // namespace zarvik
