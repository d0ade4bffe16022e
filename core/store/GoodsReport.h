// What became of the rows of a goods file and of the goods table on their way
// to the register: values the import cut or dropped, rows the register would
// not take, each with its line (CSV) or record (dBASE) number and reason, so
// that nothing is dropped or cut without a word. The goods page and zarvikctl
// fill one report through the importers and CheckGoodsForRegister and show
// the same texts (GoodsReportLines).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik {

class TKKMInfo;
class TWorkTable;

enum class GoodsIssueKind {
  // The import changed a value; the row stays.
  NameCut,          // name longer than 32 characters
  NameNotCp1251,    // characters the register cannot show, written as "?"
  NameUnprintable,  // on the way to the register: characters it cannot print, left out
  BarcodeCut,       // barcode longer than 20 characters
  PriceNotNumber,   // the price is left empty
  CountNotNumber,   // the quantity sold is left empty
  PriceRounded,     // a sheet's price rounded to whole kopecks
  // The row is not written to the register.
  DuplicateCode,  // a code an earlier row of the file has: the first row is kept
  NoCode,
  BadCode,             // below 1 or above the six digits of the record
  CodeBeyondCapacity,  // above the register's largest goods number
  NoPrice,
  BadPrice,  // negative, not whole kopecks or more than ten digits
  BadType,
  BadTaxGroup,
  BadSaleKind,
  BarcodeNotDigits,
  SectionOutOfRange,
  // A sheet's row is not read: a cell of it cannot be taken (the cell in
  // `cell`, its value in `value`).
  CellNotWhole,    // a fraction where a whole number goes
  CellNotNumber,   // text where a number goes
  CellOutOfRange,  // a whole number beyond the field's range
  CellError,       // the spreadsheet's error value (#DIV/0!, #REF!)
};

// True for the kinds that keep a row from the register.
bool IsGoodsSkip(GoodsIssueKind kind);

struct GoodsIssue {
  GoodsIssueKind kind = GoodsIssueKind::NoCode;
  int place = 0;        // line or record number; 0 when not known
  std::string code;     // `Code` of the row as text (empty when none)
  std::string value;    // the value concerned, as it was
  long long limit = 0;  // the bound that was crossed (largest goods number, section)
  std::string cell = {};  // a sheet's cell as "Лист1!D7"; named instead of the line when set
};

// How rows are numbered in the texts.
enum class GoodsPlaceKind { Line, Record };
enum class GoodsTextEncoding { Cp1251, Utf8 };

struct GoodsImportReport {
  // Issues of each group (values changed, rows skipped) shown in full; the
  // rest are counted.
  static constexpr int kIssuesInFull = 20;

  std::string file;  // file name for the texts; empty for the table itself
  GoodsPlaceKind placeKind = GoodsPlaceKind::Line;
  GoodsTextEncoding encoding = GoodsTextEncoding::Cp1251;  // of a CSV file
  bool headerSkipped = false;                              // a CSV header line was recognised
  // A sheet: its name, the row of its header and the header columns no goods
  // field takes ("E «Остаток»").
  std::string sheet;
  int headerRow = 0;
  std::vector<std::string> ignoredColumns;
  // Line or record number of each row of the table, in table order, as the
  // importer put them. When the table has changed since (rows added or
  // deleted on the page), clear it: rows are then numbered as the grid shows
  // them.
  std::vector<int> rowPlaces;
  int rowsRead = 0;
  int recordsNotRead = 0;  // dBASE records beyond the row limit
  int rowLimit = 0;

  // Filled by CheckGoodsForRegister.
  bool checked = false;
  int rowsToWrite = 0;
  int rowsSkipped = 0;
  int beyondCapacity = 0;  // rows skipped for a code above the largest goods number
  int maxCountGoods = 0;

  int changeCount = 0;              // values changed by the import
  std::vector<GoodsIssue> changes;  // the first kIssuesInFull of them
  std::vector<GoodsIssue> skips;    // the first kIssuesInFull skipped rows

  // Empties the report for a new file (or for the table when `file` is empty).
  void Reset(std::string fileName, GoodsPlaceKind kind);
  // Line or record number of the row at 0-based position `row`.
  int PlaceOfRow(int row) const;
  void Add(GoodsIssue issue);
  bool HasWarnings() const;
};

// One text of a report; warnings are shown as warnings, the rest as messages.
struct GoodsReportLine {
  bool warning = false;
  std::string text;
};

// Texts of the report.
inline constexpr std::string_view kGoodsLineText = "Строка ";
inline constexpr std::string_view kGoodsRecordText = "Запись ";
inline constexpr std::string_view kGoodsCodeText = ", код ";
inline constexpr std::string_view kGoodsNotWrittenText = " не записывается: ";
inline constexpr std::string_view kGoodsHeaderSkippedText = "Строка 1 - заголовок, пропущена";
inline constexpr std::string_view kGoodsReadAsUtf8Text = " прочитан в кодировке UTF-8";
inline constexpr std::string_view kGoodsMoreChangesText = "Всего изменено значений: ";
inline constexpr std::string_view kGoodsMoreSkipsText = "Всего не записывается строк: ";
inline constexpr std::string_view kGoodsBeyondCapacityText = "Кодов больше наибольшего номера товара ККМ (";
inline constexpr std::string_view kGoodsSkippedText = "Пропущено ";  // + count + " тов."

// The text of one issue: "Строка 12, код 7: " and the change, or "Строка 12,
// код 7 не записывается: " and the reason; a sheet's cell is named in place
// of the line: "Лист1!D7, код 7 не записывается: ".
std::string GoodsIssueText(const GoodsIssue& issue, GoodsPlaceKind placeKind);
// Every text of the report in order: how the file was read, the records left
// beyond the row limit, the first twenty changed values and the count of all,
// the first twenty skipped rows and the count of all, the rows beyond the
// register's goods capacity.
std::vector<GoodsReportLine> GoodsReportLines(const GoodsImportReport& report);
// Sends every line to console and log (Mess or Warning; no box).
void PublishGoodsReport(const GoodsImportReport& report);

// Why the current row cannot be written to a register with the given limits,
// or nothing when it can: `Code` set, 1..maxCountGoods, and either type 0 (a
// row marked for deletion needs nothing more) or a price in whole kopecks of
// at most ten digits, no invalid mark (255) in `Type`, `NG` and `Vesovoy`, a
// barcode of digits only (or none) and a section 0..maxCountDepat. The place
// of the issue is left 0.
std::optional<GoodsIssue> GoodsRowSkipReason(const TWorkTable& table, int maxCountGoods, int maxCountDepat);
// An issue NameUnprintable (the name in `value`) when the name of the
// current row holds characters the register cannot print, which the record
// leaves out; nothing for a row marked for deletion (type 0).
std::optional<GoodsIssue> GoodsNameIssue(const TWorkTable& table);
// Runs GoodsRowSkipReason over every row before a transfer: each row that
// will not be written is added to `report`, and so is each row to write
// whose name holds characters the register cannot print (GoodsNameIssue);
// rows beyond the register's goods capacity are counted. Returns the number
// of rows to write; the first row is current afterwards.
int CheckGoodsForRegister(TWorkTable& table, const TKKMInfo& info, GoodsImportReport& report);

}  // namespace zarvik
