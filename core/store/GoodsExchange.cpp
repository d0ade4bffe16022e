#include "store/GoodsExchange.h"

#include <algorithm>
#include <cstddef>

#include "model/Typessimpledata.h"
#include "model/U_kkms.h"
#include "shell/DiaLog.h"
#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"
#include "store/Dbf.h"
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

bool IsTrueText(std::string_view value) {
  if (value.empty()) return false;
  const std::u32string chars = Utf8ToU32(value);
  const char32_t first = chars.front();
  return first == U'T' || first == U't' || first == U'И' || first == U'и';
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
    std::int64_t barcode = 0;
    // An unset barcode (all zeros) is shown as no barcode.
    const bool zero = NumberValue(info.goodsBarcode, barcode) && barcode == 0;
    table.SetText(FieldName(gfShtrih), zero ? std::string() : info.goodsBarcode.ToText());
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
// CSV files

namespace {

// The value text of goods field f of the current row.
std::string ValueText(const TWorkTable& table, int f) {
  const std::string_view name = FieldName(f);
  if (table.IsNull(name)) return {};
  if (f == gfPrice || f == gfCount) return GoodsNumberText(table.Cur(name));
  if (f == gfIsBlock) return table.Bool(name) ? "True" : "False";
  return table.Text(name);
}

// Stores one CSV value into goods field f; false for a number field whose
// value is not a number.
bool StoreCsvValue(TWorkTable& table, int f, std::string_view raw) {
  const std::string_view value = TrimControls(raw);
  const std::string_view name = FieldName(f);
  if (f == gfPrice) {
    Currency price;
    if (!value.empty() && CurrencyFromText(LocalisePrice(std::string(value)), price))
      table.SetCurrency(name, price);
    return true;  // a price that is not a number leaves the field empty
  }
  if (f == gfIsBlock) {
    table.SetBoolean(name, IsTrueText(value));
    return true;
  }
  return table.SetText(name, UnquoteCsvField(value)) == WtResult::Ok;
}

}  // namespace

std::string GoodsCsvText(TWorkTable& table) {
  std::string out;
  table.DisableControls();
  for (table.First(); !table.Eof(); table.Next()) {
    for (int f = 0; f < kGoodsFieldCount; ++f) {
      if (f > 0) out.push_back(kCsvWriteSeparator);
      out += QuoteCsvField(ValueText(table, f));
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

bool ImportGoodsCsvText(std::string_view utf8, TWorkTable& table) {
  ClearRows(table);
  table.DisableControls();
  const char separator = CsvSeparator(utf8);
  std::string_view rest = utf8;
  int lineNumber = 0;
  bool ok = true;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view lineView = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (!lineView.empty() && lineView.back() == '\r') lineView.remove_suffix(1);
    ++lineNumber;
    std::string line(lineView);
    line.push_back(separator);
    std::string_view cursor = line;
    table.Append();
    std::string value;
    for (int f = 0; f < kGoodsCsvReadFields; ++f) {
      if (!NextCsvValue(cursor, separator, value)) break;
      if (!StoreCsvValue(table, f, value)) {
        Error(std::string(kCsvBadValueText) + std::to_string(lineNumber) + ": " +
                  std::string(TrimControls(value)),
              true, true, true);
        ok = false;
        break;
      }
    }
    if (!ok) {
      table.Cancel();
      break;
    }
    table.SetCurrency(FieldName(gfCount), Currency{});
    table.Post();
  }
  table.First();
  table.EnableControls();
  return ok;
}

bool ImportGoodsCsv(const std::string& path, TWorkTable& table) {
  std::string bytes;
  if (!ReadTextFile(path, bytes)) {
    Error(std::string(kCsvReadFailedText) + ": " + path, true, true, true);
    return false;
  }
  return ImportGoodsCsvText(Cp1251ToUtf8(bytes), table);
}

// ---------------------------------------------------------------------------
// dBASE files

int GoodsImportLimit(const TKKM* kkm) {
  if (kkm != nullptr && kkm->info) return kkm->info->MaxCountGoods();
  return kGoodsImportLimitWithoutRegister;
}

bool ImportGoodsDbf(const std::string& path, TWorkTable& table, int limit) {
  TDbfTable file;
  if (file.Open(path, GoodsExchangeFields()) != DbfResult::Ok) {
    Error(std::string(kDbfOpenFailedText), true, true, true);
    WritelnLog(file.LastError());
    return false;
  }
  ClearRows(table);
  table.DisableControls();
  const std::vector<DbfFieldDef>& fields = GoodsExchangeFields();
  int rows = 0;
  for (bool more = file.First(); more && !file.Eof() && rows < limit; more = file.Next()) {
    table.Append();
    for (int f = 0; f < kGoodsFieldCount; ++f) {
      const DbfFieldDef& def = fields[static_cast<std::size_t>(f)];
      const int index = file.FieldIndex(def.name);
      const std::string_view name = FieldName(f);
      if (file.IsBlank(index)) {
        table.SetNull(name);
        continue;
      }
      std::string text;
      std::int64_t number = 0;
      bool flag = false;
      Currency value;
      switch (f) {
        case gfName:
        case gfShtrih:
          file.GetText(index, text);
          table.SetText(name, text);
          break;
        case gfPrice:
        case gfCount:
          file.GetText(index, text);
          // Number text of any locale: a point or a comma before the decimals.
          if (CurrencyFromText(text, value))
            table.SetCurrency(name, value);
          else
            table.SetNull(name);
          break;
        case gfIsBlock:
          file.GetBool(index, flag);
          table.SetBoolean(name, flag);
          break;
        default:
          file.GetInt(index, number);
          table.SetInteger(name, number);
          break;
      }
    }
    table.Post();
    ++rows;
  }
  file.Close();
  table.First();
  table.EnableControls();
  Mess(std::string(kDbfImportedText), false, true, true);
  return true;
}

bool ExportGoodsDbf(TWorkTable& table, const std::string& path) {
  TDbfTable file;
  if (file.CreateAndOpen(path, GoodsExchangeFields()) != DbfResult::Ok) {
    Error(std::string(kDbfCreateFailedText), true, true, true);
    WritelnLog(file.LastError());
    return false;
  }
  const std::vector<DbfFieldDef>& fields = GoodsExchangeFields();
  bool ok = true;
  table.DisableControls();
  for (table.First(); ok && !table.Eof(); table.Next()) {
    ok = file.Append() == DbfResult::Ok;
    for (int f = 0; ok && f < kGoodsFieldCount; ++f) {
      const int index = file.FieldIndex(fields[static_cast<std::size_t>(f)].name);
      const std::string_view name = FieldName(f);
      DbfResult r = DbfResult::Ok;
      if (table.IsNull(name))
        r = file.SetBlank(index);
      else if (f == gfName || f == gfShtrih || f == gfPrice || f == gfCount)
        r = file.SetText(index, ValueText(table, f));
      else if (f == gfIsBlock)
        r = file.SetBool(index, table.Bool(name));
      else
        r = file.SetInt(index, table.Int(name));
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

}  // namespace zarvik
