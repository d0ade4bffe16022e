// The dBASE goods import, for the program's own exchange files and for goods
// tables written by other programs (GDAL's ogr2ogr, spreadsheets, shop
// software): fields matched by name, numbers in N, F or C fields, the blocked
// flag in several forms, the code page from a .cpg file.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shell/DiaLog.h"
#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"
#include "store/Dbf.h"
#include "store/GoodsExchange.h"
#include "store/UnitBD.h"

namespace zarvik {
namespace {

constexpr std::string_view kCpgExtensions[] = {".cpg", ".CPG"};

// What a goods field may be stored as in a file of another program.
enum class Accepts { Integer, Text, Number, Flag };

Accepts AcceptsOf(int f) {
  switch (f) {
    case gfName: return Accepts::Text;
    case gfShtrih:
    case gfPrice:
    case gfCount: return Accepts::Number;
    case gfIsBlock: return Accepts::Flag;
    default: return Accepts::Integer;
  }
}

bool KindAccepted(int f, DbfFieldKind kind) {
  switch (AcceptsOf(f)) {
    case Accepts::Text: return kind == DbfFieldKind::Character;
    case Accepts::Integer:
    case Accepts::Number: return kind == DbfFieldKind::Character || kind == DbfFieldKind::Numeric;
    case Accepts::Flag:
      return kind == DbfFieldKind::Logical || kind == DbfFieldKind::Numeric ||
             kind == DbfFieldKind::Character;
  }
  return false;
}

std::string_view AcceptedTypesText(int f) {
  switch (AcceptsOf(f)) {
    case Accepts::Text: return "C";
    case Accepts::Integer:
    case Accepts::Number: return "N, F или C";
    case Accepts::Flag: return "L, N или C";
  }
  return {};
}

// The cause of a failed open, as the user reads it.
std::string CauseOf(DbfResult r) {
  switch (r) {
    case DbfResult::CannotOpen: return "файл не открывается";
    case DbfResult::TooLarge: return "файл слишком велик";
    case DbfResult::TruncatedHeader:
    case DbfResult::RecordsBeyondEnd:
    case DbfResult::MissingEndMark: return "файл обрезан";
    case DbfResult::BadVersion: return "файл не таблица dBASE";
    case DbfResult::BadDeletedFlag: return "повреждена запись";
    default: return "неверный заголовок";
  }
}

std::string Quoted(std::string_view value) {
  return "«" + std::string(value) + "»";
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The text without blanks and control characters at either end.
std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

// The .cpg file beside a table: same name, extension ".cpg" (or ".CPG").
bool ReadCpgFile(const std::string& dbfPath, std::string& cpgPath, std::string& text) {
  const auto slash = dbfPath.find_last_of('/');
  const auto dot = dbfPath.find_last_of('.');
  const std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                               ? dbfPath.substr(0, dot)
                               : dbfPath;
  for (const std::string_view ext : kCpgExtensions) {
    cpgPath = stem + std::string(ext);
    if (ReadTextFile(cpgPath, text)) return true;
  }
  return false;
}

// The code page a .cpg file names: "CP1251", "1251", "ANSI 1251",
// "windows-1251", "UTF-8", "UTF8", "65001" and the like. Nothing for an
// empty file; false for a code page the program does not read.
bool CodePageOfCpg(std::string_view text, std::optional<GoodsTextEncoding>& encoding) {
  encoding.reset();
  std::string name = Utf8Upper(Trimmed(text));
  if (name.empty()) return true;
  if (name == "UTF-8" || name == "UTF8" || name == "65001") {
    encoding = GoodsTextEncoding::Utf8;
    return true;
  }
  for (const std::string_view prefix : {"ANSI ", "WINDOWS-", "WINDOWS", "CP-", "CP", "WIN"})
    if (name.starts_with(prefix)) {
      name.erase(0, prefix.size());
      break;
    }
  if (name == "1251") {
    encoding = GoodsTextEncoding::Cp1251;
    return true;
  }
  return false;
}

bool ParseWhole(std::string_view t, std::int64_t& out) {
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  // Whole numbers written with decimals ("12.00") are whole numbers.
  if (const auto dot = t.find_first_of(".,");
      dot != std::string_view::npos && t.find_first_not_of('0', dot + 1) == std::string_view::npos)
    t = t.substr(0, dot);
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
  return !t.empty() && ec == std::errc() && end == t.data() + t.size();
}

// Reads the records of one goods table file into rows of goods values.
class GoodsDbfReader {
 public:
  GoodsDbfReader(TDbfTable& file, GoodsTextEncoding encoding) : file_(file), encoding_(encoding) {}

  // Finds the ten fields; false with `error_` set when one is missing or of
  // another type.
  bool MatchFields() {
    const std::vector<DbfFieldDef>& fields = GoodsExchangeFields();
    for (int f = 0; f < kGoodsFieldCount; ++f) {
      const std::string& name = fields[static_cast<std::size_t>(f)].name;
      const int index = file_.FieldIndex(name);
      if (index < 0) return Refuse("нет поля " + name);
      const DbfFieldDef& def = file_.Field(index);
      if (!KindAccepted(f, def.kind))
        return Refuse("поле " + name + " типа " + std::string(1, def.typeChar) + ", нужен " +
                      std::string(AcceptedTypesText(f)));
      column_[f] = index;
    }
    return true;
  }

  // Reads the current record into `values` (null for a blank field); values
  // changed on the way go to `report`. Without a report only what can make
  // the file unusable is read: the whole numbers and the blocked flag. False
  // with `error_` set when a value cannot be taken.
  bool Read(std::vector<WtValue>& values, GoodsImportReport* report) {
    values.assign(kGoodsFieldCount, WtValue{});
    const int place = file_.PhysicalRecNo();
    std::string code;
    for (int f = 0; f < kGoodsFieldCount; ++f) {
      const Accepts accepts = AcceptsOf(f);
      if (report == nullptr && (accepts == Accepts::Text || accepts == Accepts::Number)) continue;
      const int i = column_[f];
      file_.GetBytes(i, bytes_);
      // "?" is dBASE's mark of a logical value never set.
      if (bytes_.empty() || (file_.Field(i).kind == DbfFieldKind::Logical && bytes_ == "?")) continue;
      WtValue& v = values[static_cast<std::size_t>(f)];
      switch (accepts) {
        case Accepts::Integer: {
          std::int64_t n = 0;
          if (!ReadInteger(i, n)) return false;
          v = n;
          if (f == gfCode) code = std::to_string(n);
          break;
        }
        case Accepts::Flag: {
          bool flag = false;
          if (!ReadFlag(i, flag)) return false;
          v = flag;
          break;
        }
        case Accepts::Text:
        case Accepts::Number: {
          std::string text = Decoded();
          if (f == gfPrice || f == gfCount) {
            // Number text of any locale: a point or a comma before the decimals.
            Currency value;
            if (CurrencyFromText(text, value))
              v = value.raw;
            else
              report->Add({f == gfPrice ? GoodsIssueKind::PriceNotNumber : GoodsIssueKind::CountNotNumber,
                           place, code, text, 0});
            break;
          }
          if (f == gfShtrih && file_.Field(i).kind == DbfFieldKind::Numeric) {
            // A barcode kept as a number: its digits ("4601234567890.00" too).
            if (const auto dot = text.find('.');
                dot != std::string::npos && text.find_first_not_of('0', dot + 1) == std::string::npos)
              text.resize(dot);
          }
          if (f == gfName)
            NoteGoodsName(text, place, code, *report);
          else if (text.size() > static_cast<std::size_t>(kGoodsBarcodeWidth) &&
                   Utf8Length(text) > static_cast<std::size_t>(kGoodsBarcodeWidth))
            report->Add({GoodsIssueKind::BarcodeCut, place, code, text, kGoodsBarcodeWidth});
          // The table keeps the first characters of a long value. Blanks and
          // NULs left at the end of that part go too: in a dBASE field they
          // are padding, so an export of the row would not give them back.
          text = Utf8Left(text, static_cast<std::size_t>(f == gfName ? kGoodsNameWidth : kGoodsBarcodeWidth));
          while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
          if (!text.empty()) v = std::move(text);
          break;
        }
      }
    }
    return true;
  }

  const std::string& Cause() const { return error_; }

 private:
  bool Refuse(std::string cause) {
    error_ = std::move(cause);
    return false;
  }
  bool RefuseValue(int i, std::string_view what) {
    return Refuse("запись " + std::to_string(file_.PhysicalRecNo()) + ", поле " + file_.Field(i).name + ": " +
                  Quoted(Decoded()) + " " + std::string(what));
  }

  // The field read last as UTF-8.
  std::string Decoded() const {
    if (encoding_ == GoodsTextEncoding::Cp1251) return Cp1251ToUtf8(bytes_);
    return IsUtf8Text(bytes_) ? bytes_ : U32ToUtf8(Utf8ToU32(bytes_));
  }

  std::string_view TrimmedBytes() const {
    std::string_view t = bytes_;
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    return t;
  }

  bool ReadInteger(int i, std::int64_t& n) {
    if (!ParseWhole(TrimmedBytes(), n)) return RefuseValue(i, "не целое число");
    if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max())
      return RefuseValue(i, "вне диапазона");
    return true;
  }

  bool ReadFlag(int i, bool& flag) {
    const DbfFieldKind kind = file_.Field(i).kind;
    if (kind == DbfFieldKind::Logical) {
      if (file_.GetBool(i, flag) == DbfResult::Ok) return true;
      return RefuseValue(i, "не логическое значение");
    }
    if (kind == DbfFieldKind::Numeric) {
      std::int64_t n = -1;
      if (ParseWhole(TrimmedBytes(), n) && (n == 0 || n == 1)) {
        flag = n == 1;
        return true;
      }
      return RefuseValue(i, "не 0 и не 1");
    }
    std::string_view t = TrimmedBytes();
    const std::string letter =
        Utf8Upper(encoding_ == GoodsTextEncoding::Cp1251 ? Cp1251ToUtf8(t) : std::string(t));
    for (const std::string_view yes : {"T", "Y", "Д", "1"})
      if (letter == yes) {
        flag = true;
        return true;
      }
    for (const std::string_view no : {"F", "N", "Н", "0"})
      if (letter == no) {
        flag = false;
        return true;
      }
    return RefuseValue(i, "не логическое значение (T, F, Y, N, Д, Н)");
  }

  TDbfTable& file_;
  GoodsTextEncoding encoding_;
  int column_[kGoodsFieldCount] = {};
  std::string error_;
  std::string bytes_;  // the field read last, as the file holds it
};

bool Refused(const std::string& file, const std::string& cause, const std::string& detail) {
  Error(std::string(kDbfOpenFailedText) + " " + file + ": " + cause, true, true, true);
  if (!detail.empty()) WritelnLog(detail);
  return false;
}

}  // namespace

bool ImportGoodsDbf(const std::string& path, TWorkTable& table, int limit, GoodsImportReport& report) {
  const std::string name = BaseName(path);
  report.Reset(name, GoodsPlaceKind::Record);
  report.rowLimit = limit;
  TDbfTable file;
  if (const DbfResult r = file.Open(path); r != DbfResult::Ok)
    return Refused(name, CauseOf(r), file.LastError());

  // The code page: a .cpg file beside the table names it; without one the
  // text is read as 1251, also under the code page mark 0 that writers use
  // when they leave the code page to the .cpg file.
  GoodsTextEncoding encoding = GoodsTextEncoding::Cp1251;
  std::string cpgPath, cpgText;
  if (ReadCpgFile(path, cpgPath, cpgText)) {
    std::optional<GoodsTextEncoding> named;
    if (!CodePageOfCpg(cpgText, named))
      return Refused(name,
                     "кодовая страница " + Quoted(Cp1251ToUtf8(Trimmed(cpgText).substr(0, 40))) + " файла " +
                         BaseName(cpgPath) + " не поддерживается (нужна 1251 или UTF-8)",
                     {});
    if (named) encoding = *named;
  }
  report.encoding = encoding;

  GoodsDbfReader reader(file, encoding);
  if (!reader.MatchFields()) return Refused(name, reader.Cause(), {});
  // A first pass finds a value that cannot be taken before the table is
  // touched.
  std::vector<WtValue> values;
  int rows = 0;
  for (bool more = file.First(); more; more = file.Next()) {
    if (rows >= limit) {
      ++report.recordsNotRead;
      continue;
    }
    if (!reader.Read(values, nullptr)) return Refused(name, reader.Cause(), {});
    ++rows;
  }

  const GoodsColumns c(table);
  table.DisableControls();
  ClearRows(table);
  rows = 0;
  for (bool more = file.First(); more && rows < limit; more = file.Next(), ++rows) {
    reader.Read(values, &report);
    table.Append();
    for (int f = 0; f < kGoodsFieldCount; ++f) table.SetValue(c[f], values[static_cast<std::size_t>(f)]);
    if (table.Post() == WtResult::DuplicateKey) {
      // The table holds each code once: the first record with it stays.
      std::string code = table.Text(c[gfCode]);
      table.Cancel();
      report.Add({GoodsIssueKind::DuplicateCode, file.PhysicalRecNo(), std::move(code), {}, 0});
      continue;
    }
    // The row took its place by code; its record number goes to the same place.
    report.rowPlaces.insert(report.rowPlaces.begin() + std::max(table.RecNo() - 1, 0), file.PhysicalRecNo());
    ++report.rowsRead;
  }
  file.Close();
  table.First();
  table.EnableControls();
  Mess(std::string(kDbfImportedText), false, true, true);
  return true;
}

bool ImportGoodsDbf(const std::string& path, TWorkTable& table, int limit) {
  GoodsImportReport report;
  const bool ok = ImportGoodsDbf(path, table, limit, report);
  PublishGoodsReport(report);
  return ok;
}

}  // namespace zarvik
