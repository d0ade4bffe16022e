// The plan of a goods write: every row checked against what the connected
// register can hold, then compared with the register's records as read, so
// that only what differs is sent. The goods page, zarvikctl (goods diff,
// goods write, the fleet's workers) all build and show the same plan.
//
// The plan works on the goods table after a file was read into it (any file
// format) or as the page holds it, and is plain data: rows to send with
// their field differences, the count of rows left as they are, and the
// errors and warnings, each with its place, code, field and texts.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "model/U_kkms.h"
#include "store/GoodsReport.h"

namespace zarvik {

class TProtocolKKM;
class TWorkTable;

// ---------------------------------------------------------------------------
// What the connected register allows

struct GoodsRegisterLimits {
  int maxCountGoods = 0;  // the largest goods number
  int maxCountDepat = 0;  // departments 1..maxCountDepat
  // Open departments (index = department); a closed one takes no goods.
  std::vector<bool> sectionOpen;
  // Tax groups the register has (index = group - 1).
  std::array<bool, kTaxCount> taxDefined{};
};

// The limits from what `info` holds: its departments and taxes as read last.
GoodsRegisterLimits GoodsLimitsOf(const TKKMInfo& info);
// Reads what the checks need and the register information lacks: each
// department 1..maxCountDepat a row of `table` names (GetDepartment), and the
// taxes (GetTax) unless `taxesKnown`. False after a reported failure.
bool ReadGoodsLimits(TProtocolKKM& protocol, TWorkTable& table, bool taxesKnown, GoodsRegisterLimits& limits);

// ---------------------------------------------------------------------------
// Checks

enum class GoodsCheckKind {
  // Errors: the write is refused, nothing is written.
  NoCode,
  CodeOutOfRange,
  DuplicateCode,
  FileRowDropped,  // a row the file reading left out (its own reason)
  BadType,
  NoPrice,
  BadPrice,
  SectionOutOfRange,
  SectionClosed,
  BadTaxGroup,
  BadSaleKind,
  BarcodeNotDigits,
  BarcodeLength,
  BarcodeCheckDigit,
  // Warnings: the write goes on.
  NameCut,
  NameUnprintable,
  BarcodeInStore,
  BarcodeDuplicate,
};

bool IsGoodsCheckError(GoodsCheckKind kind);

struct GoodsCheck {
  GoodsCheckKind kind = GoodsCheckKind::NoCode;
  bool error = true;
  int place = 0;        // file line or record, else the table row (1-based)
  std::string code;     // `Code` as text, empty when there is none
  std::string field;    // the goods field ("Code", "Price", ...)
  std::string value;    // the value as the row holds it
  std::string problem;  // what is wrong with it
  std::string allowed;  // what the register allows, empty when nothing applies
};

// One field that a write changes.
struct GoodsFieldChange {
  std::string field;          // the goods field ("Price", ...)
  std::string registerValue;  // as the register holds it
  std::string fileValue;      // as the write sends it
};

// One row the write sends.
struct GoodsPlanRow {
  int row = 0;    // 0-based position in the table
  int place = 0;  // file line or record, else the table row (1-based)
  std::int64_t code = 0;
  std::string name;
  bool isNew = false;  // the register does not hold the code yet
  std::vector<GoodsFieldChange> changes;
};

struct GoodsWritePlan {
  GoodsPlaceKind placeKind = GoodsPlaceKind::Line;
  bool compared = false;           // false: every row is sent (--all)
  std::vector<GoodsCheck> checks;  // errors and warnings in row order
  std::vector<GoodsPlanRow> send;  // in table order
  int changed = 0;                 // rows sent that the register holds with other values
  int added = 0;                   // rows sent whose code the register lacks
  int unchanged = 0;               // rows not sent: the register holds them as they are
  int errorCount = 0;
  int warningCount = 0;

  bool HasErrors() const { return errorCount > 0; }
};

// The register's goods records as read before a write, by code; `read`
// once the codes the write sends (or the whole table) were read: a code
// missing is then a new one.
struct TRegisterGoods {
  std::map<std::int64_t, std::array<std::uint8_t, kGoodsRecordSize>> records;
  bool read = false;
};

// Checks every row of `table` (or only the current one) against `limits`.
// Rows keep the places of `report` (file line or record); the import's
// dropped rows (a code repeated in the file, ...) become errors too.
std::vector<GoodsCheck> CheckGoodsRows(TWorkTable& table, const GoodsRegisterLimits& limits,
                                       const GoodsImportReport& report, bool currentOnly = false);

// Whether `barcode` is a whole barcode: digits of EAN-13, EAN-8 or UPC-A with
// their check digit (seven or eleven digits are the same codes with the
// leading zero the register does not keep). An empty barcode or "0" is none.
enum class BarcodeVerdict { None, Valid, InStore, NotDigits, BadLength, BadCheckDigit };
BarcodeVerdict CheckBarcode(std::string_view barcode);

// Builds the plan: the checks, then, unless `all` or errors were found, the
// comparison of each row with `held` (rows equal in every field the write
// sends are left out; the quantity sold is not compared unless `resetSold`,
// which sends every row whose register record has a quantity sold). The
// first row is current afterwards.
GoodsWritePlan PlanGoodsWrite(TWorkTable& table, const GoodsRegisterLimits& limits,
                              const GoodsImportReport& report, const TRegisterGoods& held, bool all,
                              bool resetSold);

// The codes the comparison reads one by one (all of the rows that pass the
// checks, when they are few enough and within reach of a single read), or
// none: then the whole goods table is read as one stream.
std::vector<int> GoodsCodesToRead(TWorkTable& table, const TKKMInfo& info);

// Called with the count of records received so far; false stops the read.
using TGoodsReadProgress = std::function<bool(int received)>;
// Reads the register's goods `codes` one by one (a code it does not hold is
// left out), or the whole table when `codes` is empty. False after a
// reported failure or a stop.
bool ReadRegisterGoods(TProtocolKKM& protocol, const std::vector<int>& codes,
                       const TGoodsReadProgress& progress, TRegisterGoods& out);

// ---------------------------------------------------------------------------
// Texts

inline constexpr std::string_view kGoodsNewText = "новый товар";
inline constexpr std::string_view kGoodsChecksRefusedText =
    "Товары не записаны: файл не прошёл проверку, ошибок ";

// A field's name in the texts ("цена", "штрих-код", ...).
std::string GoodsFieldTitle(std::string_view field);
// "Строка 3, код 8: штрих-код «12A»: не только цифры (ККМ допускает: ...)".
std::string GoodsCheckText(const GoodsCheck& check, GoodsPlaceKind placeKind);
// The lines of one row: "CODE: field: register -> file" per field, or
// "CODE: новый товар".
std::vector<std::string> GoodsPlanRowLines(const GoodsPlanRow& row);
// "изменится N, новых M, без изменений K".
std::string GoodsPlanSummary(const GoodsWritePlan& plan);
// "записано N (новых M), без изменений K, пропущено с ошибками S".
std::string GoodsWriteResultText(int written, int added, int unchanged, int failed);

}  // namespace zarvik
