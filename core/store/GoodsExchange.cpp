#include "store/GoodsExchange.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <variant>

#include "model/Typessimpledata.h"
#include "model/U_kkms.h"
#include "shell/DiaLog.h"
#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"
#include "store/Dbf.h"
#include "store/GoodsSheet.h"
#include "store/UnitBD.h"

namespace zarvik {
namespace {

// Goods record layout beyond the number fields of U_kkms.h.
constexpr std::size_t kTypeOffset = 0;
constexpr std::size_t kFlagsOffset = 1;
constexpr std::size_t kNameOffset = 5;
constexpr std::size_t kNameWidth = 32;
constexpr std::size_t kTaxGroupOffset = 42;
constexpr std::size_t kSectionOffset = 43;
constexpr std::size_t kBarcodeDigits = 20;
constexpr std::int64_t kByteMax = 255;

std::string_view FieldName(int f) {
  return kGoodsFields[static_cast<std::size_t>(f)];
}

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A register number field as a value; false when it is not BCD.
bool NumberValue(const TNumberKKM& field, std::int64_t& out) {
  if (!field.IsValid()) return false;
  const std::string text = field.ToText();
  if (!IsNumberText(text) || text.size() > 18) return false;
  out = std::stoll(text);
  return true;
}

bool Blank(unsigned char c) {
  return c <= ' ';
}

std::string_view TrimControls(std::string_view text) {
  while (!text.empty() && Blank(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && Blank(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// Takes the next value off the front of `line` (which ends with a
// separator). A value in double quotes ends at a quote followed by the
// separator that is not half of a doubled quote; a value in single quotes at
// the first single quote followed by the separator. False when the value has
// no end (the row reads no more values).
bool NextCsvValue(std::string_view& line, char separator, std::string& value) {
  if (!line.empty() && (line.front() == '"' || line.front() == '\'')) {
    const char quote = line.front();
    std::size_t i = 1;
    while (i < line.size()) {
      if (line[i] == quote) {
        if (i + 1 < line.size() && line[i + 1] == separator) {
          value.assign(line.substr(1, i - 1));
          line.remove_prefix(i + 2);
          return true;
        }
        // A doubled double quote stands for one quote inside the value.
        if (quote == '"' && i + 1 < line.size() && line[i + 1] == '"') {
          i += 2;
          continue;
        }
      }
      ++i;
    }
    return false;
  }
  const std::size_t end = line.find(separator);
  if (end == std::string_view::npos) return false;
  value.assign(line.substr(0, end));
  line.remove_prefix(end + 1);
  return true;
}

// The first "." of a price, or when there is none the first ",", becomes the
// locale's decimal separator.
std::string LocalisePrice(std::string value) {
  std::size_t at = value.find('.');
  if (at == std::string::npos) at = value.find(',');
  if (at != std::string::npos) value[at] = DecimalSeparator();
  return value;
}

}  // namespace

// ---------------------------------------------------------------------------
// Register record and table row

bool GoodsRecordCode(const TKKMInfo& info, std::int64_t& code) {
  return NumberValue(info.goodsCode, code);
}

bool GoodsRecordToRow(const TKKMInfo& info, TWorkTable& table) {
  std::int64_t code = 0;
  if (!GoodsRecordCode(info, code)) return false;
  const auto& rec = info.GoodsRecord;
  const std::uint8_t type = rec[kTypeOffset];
  const std::uint8_t flags = rec[kFlagsOffset];
  table.SetInteger(FieldName(gfCode), code);
  table.SetInteger(FieldName(gfType), type);
  table.SetText(FieldName(gfName), TextFromField(rec.data() + kNameOffset, kNameWidth));
  table.SetInteger(FieldName(gfNG), rec[kTaxGroupOffset]);
  std::int64_t kopecks = 0;
  if (NumberValue(info.goodsPrice, kopecks))
    table.SetCurrency(FieldName(gfPrice),
                      Currency::FromRaw(kopecks * (Currency::kScale / kGoodsKopecksPerRouble)));
  else
    table.SetNull(FieldName(gfPrice));
  table.SetInteger(FieldName(gfSection), rec[kSectionOffset]);
  if (type == kGoodsTypeGoods) {
    table.SetInteger(FieldName(gfVesovoy), (flags & kGoodsFlagByPiece) != 0 ? kGoodsSaleByPiece : 2);
    // The digits the register holds, "0" for an all-zero field: a row
    // written back sends the same field.
    table.SetText(FieldName(gfShtrih), info.goodsBarcode.ToText());
  }
  table.SetBoolean(FieldName(gfIsBlock), (flags & kGoodsFlagBlocked) != 0);
  std::int64_t sold = 0;
  if (NumberValue(info.goodsSold, sold))
    table.SetCurrency(FieldName(gfCount),
                      Currency::FromRaw(sold * (Currency::kScale / kGoodsThousandthsPerUnit)));
  return true;
}

bool GoodsRowToRecord(const TWorkTable& table, TKKMInfo& info) {
  auto& rec = info.GoodsRecord;
  rec.fill(0);
  const auto byteField = [&](int f, std::size_t offset) {
    const std::int64_t v = table.Int(FieldName(f));
    if (v < 0 || v > kByteMax) return false;
    rec[offset] = static_cast<std::uint8_t>(v);
    return true;
  };
  const std::int64_t code = table.Int(FieldName(gfCode));
  if (code < 0 || code > kHighestGoodsNumber || !info.goodsCode.FromText(std::to_string(code))) return false;
  if (!byteField(gfType, kTypeOffset) || !byteField(gfNG, kTaxGroupOffset) ||
      !byteField(gfSection, kSectionOffset))
    return false;
  FieldFromText(rec.data() + kNameOffset, table.Text(FieldName(gfName)), kNameWidth);
  const Currency price = table.Cur(FieldName(gfPrice));
  constexpr std::int64_t kRawPerKopeck = Currency::kScale / kGoodsKopecksPerRouble;
  if (price.raw < 0 || price.raw % kRawPerKopeck != 0 ||
      !info.goodsPrice.FromText(std::to_string(price.raw / kRawPerKopeck)))
    return false;
  std::uint8_t flags = 0;
  if (rec[kTypeOffset] == kGoodsTypeGoods) {
    if (table.Int(FieldName(gfVesovoy)) == kGoodsSaleByPiece) flags |= kGoodsFlagByPiece;
    const std::string barcode = table.Text(FieldName(gfShtrih));
    if (!AllDigits(barcode) || barcode.size() > kBarcodeDigits) return false;
    if (!barcode.empty() && !info.goodsBarcode.FromText(barcode)) return false;
  }
  if (table.Bool(FieldName(gfIsBlock))) flags |= kGoodsFlagBlocked;
  rec[kFlagsOffset] = flags;
  return true;
}

bool IsGoodsRowWritable(const TWorkTable& table, int maxCountDepat) {
  if (table.IsNull(FieldName(gfCode))) return false;
  if (!table.IsNull(FieldName(gfType)) && table.Int(FieldName(gfType)) == kGoodsTypeNone) return true;
  const std::int64_t section = table.Int(FieldName(gfSection));
  return !table.IsNull(FieldName(gfPrice)) && table.Int(FieldName(gfType)) != kGoodsInvalid &&
         table.Int(FieldName(gfNG)) != kGoodsInvalid && table.Int(FieldName(gfVesovoy)) != kGoodsInvalid &&
         AllDigits(table.Text(FieldName(gfShtrih))) && section >= 0 && section <= maxCountDepat;
}

// ---------------------------------------------------------------------------
// Number text and CSV values

std::string GoodsNumberText(Currency value) {
  return CurrencyToText(value, DecimalSeparator());
}

std::string QuoteCsvField(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 2);
  for (const char c : value) {
    out.push_back(c);
    if (c == '"') out.push_back('"');
  }
  // A value that starts with a single quote is enclosed too: the import
  // would take that quote for the start of a quoted value.
  if (out.find_first_of("\",;") != std::string::npos || value.starts_with('\'')) out = '"' + out + '"';
  return out;
}

std::string UnquoteCsvField(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    out.push_back(value[i]);
    if (value[i] == '"' && i + 1 < value.size() && value[i + 1] == '"') ++i;
  }
  return out;
}

char CsvSeparator(std::string_view text) {
  if (text.find(';') != std::string_view::npos) return ';';
  if (text.find('\t') != std::string_view::npos) return '\t';
  return ',';
}

// ---------------------------------------------------------------------------
// Columns and file kinds

GoodsColumns::GoodsColumns(const TWorkTable& table) {
  for (int f = 0; f < kGoodsFieldCount; ++f) {
    const bool inOrder = f < table.FieldCount() && table.Field(f).name == FieldName(f);
    index_[static_cast<std::size_t>(f)] = inOrder ? f : table.FieldIndex(FieldName(f));
  }
}

GoodsFileKind GoodsFileKindOf(std::string_view path) {
  const auto dot = path.find_last_of("./");
  if (dot == std::string_view::npos || path[dot] != '.') return GoodsFileKind::Unknown;
  const std::string ext = Utf8Lower(path.substr(dot));
  if (ext == ".csv") return GoodsFileKind::Csv;
  if (ext == ".dbf") return GoodsFileKind::Dbf;
  if (ext == ".xlsx") return GoodsFileKind::Xlsx;
  if (ext == ".ods") return GoodsFileKind::Ods;
  return GoodsFileKind::Unknown;
}

bool GoodsFileWritable(GoodsFileKind kind) {
  return kind == GoodsFileKind::Csv || kind == GoodsFileKind::Dbf || kind == GoodsFileKind::Xlsx;
}

// ---------------------------------------------------------------------------
// CSV files

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeByteOrderMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeByteOrderMark = "\xFE\xFF";
constexpr std::string_view kCsvHeaderNames[] = {"code", "код"};

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The value text of goods field f of the current row.
std::string ValueText(const TWorkTable& table, const GoodsColumns& c, int f) {
  const WtValue& v = table.Value(c[f]);
  if (std::holds_alternative<std::monostate>(v)) return {};
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* b = std::get_if<bool>(&v)) return *b ? "True" : "False";
  if (const auto* n = std::get_if<std::int64_t>(&v)) {
    if (f == gfPrice || f == gfCount) return GoodsNumberText(Currency::FromRaw(*n));
    return std::to_string(*n);
  }
  return table.Text(c[f]);
}

// "T", "t", "И" or "и" first: true (the rule of the goods CSV file).
bool StartsTrue(std::string_view value) {
  if (value.empty()) return false;
  if (value.front() == 'T' || value.front() == 't') return true;
  return value.starts_with("И") || value.starts_with("и");
}

// A whole number of a goods integer field: decimal digits with an optional
// sign, within 32 bits (the range of the table's integer fields).
bool IntegerText(std::string_view t, std::int64_t& n) {
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
  return !t.empty() && ec == std::errc() && end == t.data() + t.size() &&
         n >= std::numeric_limits<std::int32_t>::min() && n <= std::numeric_limits<std::int32_t>::max();
}

bool LongerThan(std::string_view utf8, int width) {
  // A character takes at least one byte.
  return utf8.size() > static_cast<std::size_t>(width) && Utf8Length(utf8) > static_cast<std::size_t>(width);
}

}  // namespace

void NoteGoodsName(std::string_view name, int place, const std::string& code, GoodsImportReport& report) {
  if (LongerThan(name, kGoodsNameWidth))
    report.Add({GoodsIssueKind::NameCut, place, code, std::string(name), kGoodsNameWidth});
  // Only a name with bytes beyond ASCII can hold such characters; checked
  // within the part the table keeps.
  const bool ascii =
      std::all_of(name.begin(), name.end(), [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
  if (!ascii) {
    const std::string kept = Utf8Left(name, kGoodsNameWidth);
    if (!IsCp1251Text(kept)) report.Add({GoodsIssueKind::NameNotCp1251, place, code, kept, 0});
  }
}

std::vector<std::string> GoodsCsvValues(const TWorkTable& table) {
  const GoodsColumns c(table);
  std::vector<std::string> values;
  values.reserve(kGoodsFieldCount);
  for (int f = 0; f < kGoodsFieldCount; ++f) values.push_back(ValueText(table, c, f));
  return values;
}

std::string GoodsCsvText(TWorkTable& table) {
  const GoodsColumns c(table);
  std::string out;
  table.DisableControls();
  for (table.First(); !table.Eof(); table.Next()) {
    for (int f = 0; f < kGoodsFieldCount; ++f) {
      if (f > 0) out.push_back(kCsvWriteSeparator);
      const WtValue& v = table.Value(c[f]);
      // Whole numbers and flags need no quoting; only text goes through it.
      if (const auto* n = std::get_if<std::int64_t>(&v); n != nullptr && f != gfPrice && f != gfCount) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, *n).ptr;
        out.append(digits, end);
      } else if (const auto* b = std::get_if<bool>(&v)) {
        out += *b ? "True" : "False";
      } else if (const auto* text = std::get_if<std::string>(&v);
                 text != nullptr && text->find_first_of("\",;'") == std::string::npos) {
        out += *text;
      } else {
        out += QuoteCsvField(ValueText(table, c, f));
      }
    }
    out += kCsvLineEnd;
  }
  table.EnableControls();
  return out;
}

bool ExportGoodsCsv(TWorkTable& table, const std::string& path) {
  if (!WriteTextFile(path, Utf8ToCp1251(GoodsCsvText(table)))) {
    Error(std::string(kCsvWriteFailedText) + ": " + path, true, true, true);
    return false;
  }
  return true;
}

std::string GoodsCsvTextOf(std::string_view bytes, GoodsTextEncoding& encoding) {
  if (bytes.starts_with(kUtf8ByteOrderMark)) {
    encoding = GoodsTextEncoding::Utf8;
    bytes.remove_prefix(kUtf8ByteOrderMark.size());
    // A malformed sequence after the mark becomes U+FFFD.
    return IsUtf8Text(bytes) ? std::string(bytes) : U32ToUtf8(Utf8ToU32(bytes));
  }
  const bool ascii =
      std::all_of(bytes.begin(), bytes.end(), [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
  if (!ascii && IsUtf8Text(bytes)) {
    encoding = GoodsTextEncoding::Utf8;
    return std::string(bytes);
  }
  encoding = GoodsTextEncoding::Cp1251;
  return Cp1251ToUtf8(bytes);
}

bool IsGoodsCsvHeader(std::string_view line, char separator) {
  std::string text(line);
  text.push_back(separator);
  std::string_view cursor = text;
  std::string value;
  if (!NextCsvValue(cursor, separator, value)) return false;
  const std::string_view first = TrimControls(value);
  return std::any_of(std::begin(kCsvHeaderNames), std::end(kCsvHeaderNames),
                     [&](std::string_view name) { return Utf8EqualNoCase(first, name); });
}

bool ImportGoodsCsvText(std::string_view utf8, TWorkTable& table, GoodsImportReport& report) {
  report.Reset(report.file, GoodsPlaceKind::Line);
  if (utf8.starts_with(kUtf8ByteOrderMark)) utf8.remove_prefix(kUtf8ByteOrderMark.size());
  const GoodsColumns c(table);
  table.DisableControls();
  ClearRows(table);
  const char separator = CsvSeparator(utf8);
  std::string_view rest = utf8;
  int lineNumber = 0;
  bool ok = true;
  std::string line;
  std::string value;
  std::string unquoted;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view lineView = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (!lineView.empty() && lineView.back() == '\r') lineView.remove_suffix(1);
    ++lineNumber;
    if (lineNumber == 1 && IsGoodsCsvHeader(lineView, separator)) {
      report.headerSkipped = true;
      continue;
    }
    line.assign(lineView);
    line.push_back(separator);
    std::string_view cursor = line;
    table.Append();
    std::string code;
    for (int f = 0; f < kGoodsCsvReadFields; ++f) {
      if (!NextCsvValue(cursor, separator, value)) break;
      const std::string_view trimmed = TrimControls(value);
      const int column = c[f];
      if (f == gfPrice) {
        // A price that is not a number leaves the field empty.
        Currency price;
        if (trimmed.empty()) continue;
        if (CurrencyFromText(LocalisePrice(std::string(trimmed)), price))
          table.SetValue(column, price.raw);
        else
          report.Add({GoodsIssueKind::PriceNotNumber, lineNumber, code, std::string(trimmed), 0});
        continue;
      }
      if (f == gfIsBlock) {
        table.SetValue(column, StartsTrue(trimmed));
        continue;
      }
      // Most values hold no double quote to undouble.
      std::string_view text = trimmed;
      if (trimmed.find('"') != std::string_view::npos) {
        unquoted = UnquoteCsvField(trimmed);
        text = unquoted;
      }
      const bool number = f != gfName && f != gfShtrih;
      // An empty number keeps the new row's default (goods type 170, sold
      // by the piece); the fields without one stay empty.
      if (number && text.empty()) continue;
      std::int64_t n = 0;
      const WtResult stored = !number                ? table.SetText(column, text)
                              : IntegerText(text, n) ? table.SetValue(column, n)
                                                     : WtResult::ConversionError;
      if (stored != WtResult::Ok) {
        Error(std::string(kCsvBadValueText) + std::to_string(lineNumber) + ": " + std::string(trimmed) +
                  " (поле " + std::string(FieldName(f)) + ")",
              true, true, true);
        ok = false;
        break;
      }
      if (f == gfCode) code.assign(text);
      if (f == gfName) NoteGoodsName(text, lineNumber, code, report);
      if (f == gfShtrih && LongerThan(text, kGoodsBarcodeWidth))
        report.Add({GoodsIssueKind::BarcodeCut, lineNumber, code, std::string(text), kGoodsBarcodeWidth});
    }
    if (!ok) {
      table.Cancel();
      break;
    }
    table.SetValue(c[gfCount], std::int64_t{0});
    if (table.Post() == WtResult::DuplicateKey) {
      // The table holds each code once: the first row with it stays.
      table.Cancel();
      report.Add({GoodsIssueKind::DuplicateCode, lineNumber, code, {}, 0});
      continue;
    }
    // The row took its place by code; its line goes to the same place.
    report.rowPlaces.insert(report.rowPlaces.begin() + std::max(table.RecNo() - 1, 0), lineNumber);
    ++report.rowsRead;
  }
  table.First();
  table.EnableControls();
  return ok;
}

bool ImportGoodsCsvText(std::string_view utf8, TWorkTable& table) {
  GoodsImportReport report;
  const bool ok = ImportGoodsCsvText(utf8, table, report);
  PublishGoodsReport(report);
  return ok;
}

bool ImportGoodsCsv(const std::string& path, TWorkTable& table, GoodsImportReport& report) {
  report.Reset(BaseName(path), GoodsPlaceKind::Line);
  std::string bytes;
  if (!ReadTextFile(path, bytes)) {
    Error(std::string(kCsvReadFailedText) + ": " + path, true, true, true);
    return false;
  }
  // UTF-16 ("Unicode text" of some spreadsheets) would read as garbage.
  if (bytes.starts_with(kUtf16LeByteOrderMark) || bytes.starts_with(kUtf16BeByteOrderMark)) {
    Error(std::string(kCsvReadFailedText) + ": " + path + std::string(kCsvUtf16Text), true, true, true);
    return false;
  }
  GoodsTextEncoding encoding = GoodsTextEncoding::Cp1251;
  const std::string text = GoodsCsvTextOf(bytes, encoding);
  bytes = std::string();
  const bool ok = ImportGoodsCsvText(text, table, report);
  report.encoding = encoding;
  return ok;
}

bool ImportGoodsCsv(const std::string& path, TWorkTable& table) {
  GoodsImportReport report;
  const bool ok = ImportGoodsCsv(path, table, report);
  PublishGoodsReport(report);
  return ok;
}

// ---------------------------------------------------------------------------
// dBASE export and conversion (the dBASE import is in GoodsDbfImport.cpp)

int GoodsImportLimit(const TKKM* kkm) {
  if (kkm != nullptr && kkm->info) return kkm->info->MaxCountGoods();
  return kGoodsImportLimitWithoutRegister;
}

bool ExportGoodsDbf(TWorkTable& table, const std::string& path) {
  TDbfTable file;
  if (file.CreateAndOpen(path, GoodsExchangeFields()) != DbfResult::Ok) {
    Error(std::string(kDbfCreateFailedText), true, true, true);
    WritelnLog(file.LastError());
    return false;
  }
  const std::vector<DbfFieldDef>& fields = GoodsExchangeFields();
  const GoodsColumns c(table);
  int dbf[kGoodsFieldCount];
  for (int f = 0; f < kGoodsFieldCount; ++f)
    dbf[f] = file.FieldIndex(fields[static_cast<std::size_t>(f)].name);
  bool ok = true;
  table.DisableControls();
  for (table.First(); ok && !table.Eof(); table.Next()) {
    ok = file.Append() == DbfResult::Ok;
    for (int f = 0; ok && f < kGoodsFieldCount; ++f) {
      const WtValue& v = table.Value(c[f]);
      DbfResult r = DbfResult::Ok;
      if (std::holds_alternative<std::monostate>(v))
        r = file.SetBlank(dbf[f]);
      else if (const auto* b = std::get_if<bool>(&v))
        r = file.SetBool(dbf[f], *b);
      else if (const auto* n = std::get_if<std::int64_t>(&v); n != nullptr && f != gfPrice && f != gfCount)
        r = file.SetInt(dbf[f], *n);
      else
        r = file.SetText(dbf[f], ValueText(table, c, f));
      ok = r == DbfResult::Ok;
    }
    if (ok) ok = file.Post() == DbfResult::Ok;
  }
  table.EnableControls();
  if (ok) ok = file.Close() == DbfResult::Ok;
  if (!ok) {
    Error(std::string(kDbfCreateFailedText), true, true, true);
    WritelnLog(file.LastError());
    file.Cancel();
    return false;
  }
  Mess(std::string(kDbfExportedText), false, true, true);
  return true;
}

bool ConvertGoodsFile(const std::string& in, const std::string& out, TWorkTable& table,
                      GoodsImportReport& report, const GoodsSheetOptions& options) {
  if (GoodsFileKindOf(in) == GoodsFileKind::Unknown) {
    Error(in + ": " + std::string(kGoodsFileKindText), true, true, true);
    return false;
  }
  if (!GoodsFileWritable(GoodsFileKindOf(out))) {
    Error(out + ": " + std::string(kGoodsWriteKindText), true, true, true);
    return false;
  }
  if (!ImportGoodsFile(in, table, std::numeric_limits<int>::max(), options, report)) return false;
  return ExportGoodsFile(table, out);
}

}  // namespace zarvik
