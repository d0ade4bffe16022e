#include "store/GoodsSheet.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <variant>

#include "shell/DiaLog.h"
#include "shell/IniFile.h"
#include "shell/TextCodec.h"
#include "store/UnitBD.h"

namespace zarvik {
namespace {

// The names each goods field goes by in a header row: its own name first,
// then the usual Russian ones.
const std::vector<std::string_view> kGoodsHeaderNames[kGoodsFieldCount] = {
    {"Code", "Код", "Код товара", "ПЛУ", "PLU"},
    {"Type", "Тип"},
    {"Name", "Наименование", "Название", "Товар"},
    {"NG", "Налоговая группа", "НГ", "Налог"},
    {"Price", "Цена", "Цена продажи", "Розничная цена"},
    {"Section", "Отдел", "Секция"},
    {"Vesovoy", "Весовой"},
    {"Shtrih", "Штрихкод", "Штрих-код", "Штрих код", "EAN", "Barcode"},
    {"isBlock", "Блокировка"},
    {"Count", "Продано"},
};

// The workbook the export writes.
constexpr const char* kGoodsSheetName = "Товары";
constexpr const char* kPriceFormat = "0.00";
constexpr const char* kCountFormat = "0.000";
constexpr const char* kTextFormat = "@";
constexpr double kNarrowestColumn = 6;
constexpr double kWidestColumn = 60;
constexpr double kColumnMargin = 2;
constexpr std::string_view kTempSuffix = ".tmp";

constexpr std::int64_t kRawPerKopeck = Currency::kScale / kGoodsKopecksPerRouble;
// Significant digits a spreadsheet shows of a number.
constexpr int kShownDigits = 15;
// The table's whole-number fields hold 32 bits.
constexpr std::size_t kLongestWholeDigits = 10;

std::string Quoted(std::string_view value) {
  return "«" + std::string(value) + "»";
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string_view Trim(std::string_view t) {
  while (!t.empty() && static_cast<unsigned char>(t.front()) <= ' ') t.remove_prefix(1);
  while (!t.empty() && static_cast<unsigned char>(t.back()) <= ' ') t.remove_suffix(1);
  return t;
}

// The keys of the name table, made once.
const std::vector<std::pair<std::string, int>>& HeaderKeys() {
  static const std::vector<std::pair<std::string, int>> keys = [] {
    std::vector<std::pair<std::string, int>> out;
    for (int f = 0; f < kGoodsFieldCount; ++f)
      for (const std::string_view name : kGoodsHeaderNames[f]) out.emplace_back(GoodsHeaderKey(name), f);
    return out;
  }();
  return keys;
}

// The value of a number cell as the spreadsheet shows it. A file holds the
// binary number, written with as many digits as it takes to come back to
// the same bits ("89.90000000000001" for 89.9): a fraction is taken to the
// 15 significant digits a spreadsheet shows. A whole number keeps every
// digit the file gives (a barcode of 13 digits, or more).
bool NumberCellParts(std::string_view stored, TDecimalParts& parts) {
  if (!ParseDecimalText(stored, parts)) return false;
  if (parts.fraction.empty()) return true;
  double value = 0;
  const auto [end, ec] = std::from_chars(stored.data(), stored.data() + stored.size(), value);
  if (ec != std::errc()) return true;
  char shown[32];
  const auto [last, ec2] = std::to_chars(shown, shown + sizeof shown, value, std::chars_format::general,
                                         kShownDigits);
  if (ec2 != std::errc()) return true;
  TDecimalParts rounded;
  if (ParseDecimalText(std::string_view(shown, static_cast<std::size_t>(last - shown)), rounded)) parts = rounded;
  return true;
}

// What a cell says, as text.
std::string CellText(const TSheetCell* cell) {
  if (cell == nullptr) return {};
  switch (cell->kind) {
    case TSheetCell::Kind::Text: return std::string(Trim(cell->text));
    case TSheetCell::Kind::Number: {
      TDecimalParts parts;
      return NumberCellParts(cell->text, parts) ? DecimalPartsText(parts) : cell->text;
    }
    case TSheetCell::Kind::Bool: return cell->text == "1" ? "ИСТИНА" : "ЛОЖЬ";
    case TSheetCell::Kind::Error: return cell->text;
    case TSheetCell::Kind::Empty: break;
  }
  return {};
}

// The columns whose header has the key of `header`.
std::vector<int> ColumnsNamed(const std::vector<std::string>& keys, std::string_view header) {
  const std::string key = GoodsHeaderKey(header);
  std::vector<int> out;
  if (key.empty()) return out;
  for (std::size_t c = 0; c < keys.size(); ++c)
    if (keys[c] == key) out.push_back(static_cast<int>(c));
  return out;
}

// Whether a row names the code and the name or the price.
bool NamesGoods(const TSheetRow& row, const std::vector<GoodsColumnChoice>& choices) {
  bool found[kGoodsFieldCount] = {};
  for (const TSheetCell& cell : row.cells) {
    if (cell.kind != TSheetCell::Kind::Text) continue;
    const std::string key = GoodsHeaderKey(cell.text);
    bool chosen = false;
    for (const GoodsColumnChoice& c : choices)
      if (c.field >= 0 && GoodsHeaderKey(c.header) == key) {
        found[c.field] = true;
        chosen = true;
      }
    if (chosen) continue;
    const int f = GoodsFieldOfHeader(cell.text);
    if (f >= 0) found[f] = true;
  }
  // A field chosen by letter has its column whatever the header says.
  for (const GoodsColumnChoice& c : choices) {
    int column = 0;
    if (c.field >= 0 && SheetColumnIndex(c.header, column) && row.At(column) != nullptr) found[c.field] = true;
  }
  return found[gfCode] && (found[gfName] || found[gfPrice]);
}

// ---------------------------------------------------------------------------
// Cells to values

enum class Took { Ok, NotWhole, NotNumber, OutOfRange, Error };

GoodsIssueKind IssueOf(Took t) {
  switch (t) {
    case Took::NotWhole: return GoodsIssueKind::CellNotWhole;
    case Took::OutOfRange: return GoodsIssueKind::CellOutOfRange;
    case Took::Error: return GoodsIssueKind::CellError;
    default: return GoodsIssueKind::CellNotNumber;
  }
}

// The decimal value of a number cell, or of a text cell that holds a number
// written with a point or a comma.
bool NumberOf(const TSheetCell& cell, TDecimalParts& parts) {
  if (cell.kind == TSheetCell::Kind::Number) return NumberCellParts(cell.text, parts);
  if (cell.kind != TSheetCell::Kind::Text) return false;
  std::string text(Trim(cell.text));
  if (const auto comma = text.find(','); comma != std::string::npos && text.find('.') == std::string::npos)
    text[comma] = '.';
  return ParseDecimalText(text, parts);
}

// The whole digits of a cell (a code, a barcode kept as a number).
Took WholeDigits(const TSheetCell& cell, TDecimalParts& parts) {
  if (cell.kind == TSheetCell::Kind::Error) return Took::Error;
  if (!NumberOf(cell, parts)) return Took::NotNumber;
  if (!parts.fraction.empty()) return Took::NotWhole;
  return Took::Ok;
}

Took WholeNumber(const TSheetCell& cell, std::int64_t& n) {
  TDecimalParts parts;
  if (const Took t = WholeDigits(cell, parts); t != Took::Ok) return t;
  if (parts.whole.size() > kLongestWholeDigits) return Took::OutOfRange;
  n = std::stoll(parts.whole) * (parts.negative ? -1 : 1);
  if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max())
    return Took::OutOfRange;
  return Took::Ok;
}

// A money or quantity value, rounded to the table's four decimals.
bool CurrencyOf(const TSheetCell& cell, Currency& value, TDecimalParts& parts) {
  return NumberOf(cell, parts) && CurrencyFromText(DecimalPartsText(parts), value);
}

bool FlagOf(const TSheetCell& cell) {
  if (cell.kind == TSheetCell::Kind::Bool) return cell.text == "1";
  TDecimalParts parts;
  if (cell.kind == TSheetCell::Kind::Number) return ParseDecimalText(cell.text, parts) && parts.whole != "0";
  const std::string_view t = Trim(cell.text);
  if (t == "1") return true;
  for (const std::string_view yes : {"T", "t", "Y", "y", "И", "и", "Д", "д"})
    if (t.starts_with(yes)) return true;
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Names

std::string GoodsHeaderKey(std::string_view name) {
  const std::string lower = Utf8Lower(Trim(name));
  std::string key;
  key.reserve(lower.size());
  for (std::size_t i = 0; i < lower.size(); ++i) {
    const char c = lower[i];
    if (c == ' ' || c == '.' || c == '-' || c == '\t' || c == '\r' || c == '\n') continue;
    // A no-break space.
    if (c == '\xC2' && i + 1 < lower.size() && lower[i + 1] == '\xA0') {
      ++i;
      continue;
    }
    // "ё" as "е".
    if (c == '\xD1' && i + 1 < lower.size() && lower[i + 1] == '\x91') {
      key += "е";
      ++i;
      continue;
    }
    key.push_back(c);
  }
  return key;
}

int GoodsFieldOfHeader(std::string_view name) {
  const std::string key = GoodsHeaderKey(name);
  if (key.empty()) return -1;
  for (const auto& [k, f] : HeaderKeys())
    if (k == key) return f;
  return -1;
}

int GoodsFieldOfName(std::string_view name) {
  return GoodsFieldOfHeader(name);
}

bool ParseGoodsColumnChoice(std::string_view text, GoodsColumnChoice& choice, std::string& error) {
  const auto eq = text.find('=');
  if (eq == std::string_view::npos) {
    error = "--column: \"" + std::string(text) + "\" is not FIELD=HEADER";
    return false;
  }
  const std::string_view field = Trim(text.substr(0, eq));
  const std::string_view header = Trim(text.substr(eq + 1));
  choice.field = GoodsFieldOfName(field);
  if (choice.field < 0) {
    error = "--column: \"" + std::string(field) +
            "\" is not a goods field (Code, Type, Name, NG, Price, Section, Vesovoy, Shtrih, isBlock, Count)";
    return false;
  }
  if (header.empty()) {
    error = "--column " + std::string(field) + "= needs a header or a column letter";
    return false;
  }
  choice.header = header;
  return true;
}

// ---------------------------------------------------------------------------
// Layout

bool GoodsSheetLayout::Usable() const {
  return problems.empty() && column[gfCode] >= 0 && (column[gfName] >= 0 || column[gfPrice] >= 0);
}

std::string GoodsSheetLayout::ColumnText(int c) const {
  std::string text = SheetColumnName(c);
  if (c >= 0 && static_cast<std::size_t>(c) < headers.size() && !headers[static_cast<std::size_t>(c)].empty())
    text += " " + Quoted(headers[static_cast<std::size_t>(c)]);
  return text;
}

GoodsSheetLayout GoodsSheetLayoutAt(const TSheet& sheet, int headerIndex,
                                    const std::vector<GoodsColumnChoice>& choices) {
  GoodsSheetLayout layout;
  layout.headers.assign(static_cast<std::size_t>(sheet.columns), {});
  std::vector<std::string> keys(layout.headers.size());
  if (headerIndex >= 0 && static_cast<std::size_t>(headerIndex) < sheet.rows.size()) {
    const TSheetRow& row = sheet.rows[static_cast<std::size_t>(headerIndex)];
    layout.headerIndex = headerIndex;
    layout.headerRow = row.number;
    for (const TSheetCell& cell : row.cells) {
      layout.headers[static_cast<std::size_t>(cell.column)] = CellText(&cell);
      keys[static_cast<std::size_t>(cell.column)] = GoodsHeaderKey(layout.headers[static_cast<std::size_t>(cell.column)]);
    }
  }
  std::vector<bool> taken(layout.headers.size(), false);
  bool chosen[kGoodsFieldCount] = {};
  const auto fieldName = [](int f) { return std::string(kGoodsFields[static_cast<std::size_t>(f)]); };
  // The user's choices first.
  for (const GoodsColumnChoice& c : choices) {
    if (c.field < 0 || c.field >= kGoodsFieldCount) continue;
    chosen[c.field] = true;
    if (c.header.empty()) continue;  // the field is left without a column
    const std::vector<int> named = ColumnsNamed(keys, c.header);
    int column = -1;
    if (named.size() == 1) {
      column = named.front();
    } else if (named.size() > 1) {
      std::string list;
      for (const int n : named) list += (list.empty() ? "" : ", ") + SheetColumnName(n);
      layout.problems.push_back("заголовок " + Quoted(c.header) + " у нескольких столбцов (" + list +
                                "), укажите букву столбца для поля " + fieldName(c.field));
      layout.ambiguous = true;
      continue;
    } else if (!SheetColumnIndex(c.header, column)) {
      layout.problems.push_back("нет столбца " + Quoted(c.header) + " для поля " + fieldName(c.field));
      continue;
    }
    layout.column[static_cast<std::size_t>(c.field)] = column;
    if (static_cast<std::size_t>(column) < taken.size()) taken[static_cast<std::size_t>(column)] = true;
  }
  // Then the name table for the fields left.
  for (int f = 0; f < kGoodsFieldCount; ++f) {
    if (chosen[f]) continue;
    std::vector<int> named;
    for (std::size_t c = 0; c < keys.size(); ++c)
      if (!taken[c] && !keys[c].empty() && GoodsFieldOfHeader(layout.headers[c]) == f)
        named.push_back(static_cast<int>(c));
    if (named.size() == 1) {
      layout.column[static_cast<std::size_t>(f)] = named.front();
      taken[static_cast<std::size_t>(named.front())] = true;
    } else if (named.size() > 1) {
      std::string list;
      for (const int n : named) list += (list.empty() ? "" : ", ") + layout.ColumnText(n);
      layout.problems.push_back("для поля " + fieldName(f) + " подходят столбцы " + list);
      layout.ambiguous = true;
    }
  }
  for (std::size_t c = 0; c < keys.size(); ++c)
    if (!taken[c] && !layout.headers[c].empty()) layout.ignored.push_back(static_cast<int>(c));
  if (layout.column[gfCode] < 0 && !layout.ambiguous)
    layout.problems.push_back("нет столбца кода (" + Quoted(kGoodsSheetHeaders[gfCode]) + ")");
  if (layout.column[gfName] < 0 && layout.column[gfPrice] < 0 && !layout.ambiguous)
    layout.problems.push_back("нет столбца наименования или цены (" + Quoted(kGoodsSheetHeaders[gfName]) +
                              ", " + Quoted(kGoodsSheetHeaders[gfPrice]) + ")");
  return layout;
}

GoodsSheetLayout FindGoodsSheetLayout(const TSheet& sheet, const std::vector<GoodsColumnChoice>& choices) {
  const std::size_t rows = std::min(sheet.rows.size(), static_cast<std::size_t>(kGoodsHeaderSearchRows));
  for (std::size_t i = 0; i < rows; ++i)
    if (NamesGoods(sheet.rows[i], choices)) return GoodsSheetLayoutAt(sheet, static_cast<int>(i), choices);
  GoodsSheetLayout layout = GoodsSheetLayoutAt(sheet, sheet.rows.empty() ? -1 : 0, choices);
  layout.problems.insert(layout.problems.begin(),
                         sheet.rows.empty() ? std::string("лист пуст")
                                            : "в первых " + std::to_string(kGoodsHeaderSearchRows) +
                                                  " строках нет строки заголовка со столбцами " +
                                                  Quoted(kGoodsSheetHeaders[gfCode]) + " и " +
                                                  Quoted(kGoodsSheetHeaders[gfName]) + " или " +
                                                  Quoted(kGoodsSheetHeaders[gfPrice]));
  return layout;
}

// ---------------------------------------------------------------------------
// Rows

GoodsSheetRow TakeGoodsSheetRow(const TSheet& sheet, const GoodsSheetLayout& layout, const TSheetRow& row) {
  GoodsSheetRow out;
  const TSheetCell* cells[kGoodsFieldCount] = {};
  bool any = false;
  for (int f = 0; f < kGoodsFieldCount; ++f) {
    const int c = layout.column[static_cast<std::size_t>(f)];
    if (c >= 0) cells[f] = row.At(c);
    any = any || cells[f] != nullptr;
  }
  if (!any) return out;
  std::string code;
  const auto refuse = [&](int f, GoodsIssueKind kind, std::string value) {
    out.state = GoodsSheetRow::State::Refused;
    GoodsIssue issue{kind, row.number, code, std::move(value), 0};
    if (f >= 0) issue.cell = SheetCellName(sheet.name, row.number, layout.column[static_cast<std::size_t>(f)]);
    out.issues.assign(1, std::move(issue));
    return out;
  };
  const auto change = [&](int f, GoodsIssueKind kind, std::string value, long long limit) {
    GoodsIssue issue{kind, row.number, code, std::move(value), limit};
    issue.cell = SheetCellName(sheet.name, row.number, layout.column[static_cast<std::size_t>(f)]);
    out.issues.push_back(std::move(issue));
  };
  if (cells[gfCode] == nullptr) {
    // A line below the table (a total) or a row someone left without a
    // code: named by its first text.
    std::string first;
    for (const TSheetCell& cell : row.cells)
      if (cell.kind == TSheetCell::Kind::Text && !Trim(cell.text).empty()) {
        first = Trim(cell.text);
        break;
      }
    return refuse(-1, GoodsIssueKind::NoCode, first);
  }
  // The code first, so that every other issue names it.
  const int order[kGoodsFieldCount] = {gfCode, gfType, gfName, gfNG, gfPrice, gfSection, gfVesovoy, gfShtrih, gfIsBlock, gfCount};
  for (const int f : order) {
    const TSheetCell* cell = cells[f];
    if (cell == nullptr) continue;
    WtValue& v = out.values[static_cast<std::size_t>(f)];
    const std::string shown = CellText(cell);
    if (cell->kind == TSheetCell::Kind::Error) return refuse(f, GoodsIssueKind::CellError, cell->text);
    switch (f) {
      case gfName: {
        GoodsImportReport noted;
        NoteGoodsName(shown, row.number, code, noted);
        for (GoodsIssue& i : noted.changes) change(f, i.kind, std::move(i.value), i.limit);
        v = shown;
        break;
      }
      case gfShtrih: {
        std::string barcode;
        if (cell->kind == TSheetCell::Kind::Text) {
          barcode = Trim(cell->text);
        } else {
          TDecimalParts parts;
          if (const Took t = WholeDigits(*cell, parts); t != Took::Ok) return refuse(f, IssueOf(t), shown);
          if (parts.negative) return refuse(f, GoodsIssueKind::CellNotNumber, shown);
          barcode = parts.whole;
        }
        if (Utf8Length(barcode) > static_cast<std::size_t>(kGoodsBarcodeWidth))
          change(f, GoodsIssueKind::BarcodeCut, barcode, kGoodsBarcodeWidth);
        if (!barcode.empty()) v = std::move(barcode);
        break;
      }
      case gfPrice: {
        Currency price;
        TDecimalParts parts;
        if (!CurrencyOf(*cell, price, parts)) {
          change(f, GoodsIssueKind::PriceNotNumber, shown, 0);
          break;
        }
        // Whole kopecks: a price of more decimals is rounded, and said so.
        if (parts.fraction.size() > 2) {
          const std::int64_t half = price.raw < 0 ? -kRawPerKopeck / 2 : kRawPerKopeck / 2;
          const std::int64_t kopecks = (price.raw + half) / kRawPerKopeck;
          price.raw = kopecks * kRawPerKopeck;
          change(f, GoodsIssueKind::PriceRounded, shown, kopecks);
        }
        v = price.raw;
        break;
      }
      case gfCount: {
        Currency count;
        TDecimalParts parts;
        if (!CurrencyOf(*cell, count, parts)) {
          change(f, GoodsIssueKind::CountNotNumber, shown, 0);
          break;
        }
        v = count.raw;
        break;
      }
      case gfIsBlock: v = FlagOf(*cell); break;
      default: {
        std::int64_t n = 0;
        if (const Took t = WholeNumber(*cell, n); t != Took::Ok) return refuse(f, IssueOf(t), shown);
        v = n;
        if (f == gfCode) {
          code = std::to_string(n);
          for (GoodsIssue& i : out.issues) i.code = code;
        }
        break;
      }
    }
  }
  out.state = GoodsSheetRow::State::Taken;
  return out;
}

bool ImportGoodsSheet(const TSheet& sheet, const GoodsSheetLayout& layout, TWorkTable& table,
                      GoodsImportReport& report) {
  report.Reset(report.file, GoodsPlaceKind::Line);
  report.sheet = sheet.name;
  report.headerRow = layout.headerRow;
  for (const int c : layout.ignored) report.ignoredColumns.push_back(layout.ColumnText(c));
  const GoodsColumns c(table);
  table.DisableControls();
  ClearRows(table);
  for (std::size_t i = static_cast<std::size_t>(layout.headerIndex) + 1; i < sheet.rows.size(); ++i) {
    const TSheetRow& row = sheet.rows[i];
    GoodsSheetRow taken = TakeGoodsSheetRow(sheet, layout, row);
    if (taken.state == GoodsSheetRow::State::Empty) continue;
    if (taken.state == GoodsSheetRow::State::Refused) {
      for (GoodsIssue& issue : taken.issues) report.Add(std::move(issue));
      continue;
    }
    table.Append();
    for (int f = 0; f < kGoodsFieldCount; ++f) {
      const WtValue& v = taken.values[static_cast<std::size_t>(f)];
      // A field without a column, or with an empty cell, keeps the new row's
      // default (goods type 170, sold by the piece, not blocked), as an empty
      // CSV value does: a price list names weighed goods only, if any.
      if (layout.column[static_cast<std::size_t>(f)] < 0 || std::holds_alternative<std::monostate>(v)) continue;
      // Text goes through the table's rule, which cuts it to the field.
      if (const auto* s = std::get_if<std::string>(&v))
        table.SetText(c[f], *s);
      else
        table.SetValue(c[f], v);
    }
    if (table.Post() == WtResult::DuplicateKey) {
      table.Cancel();
      const std::string code = std::to_string(std::get<std::int64_t>(taken.values[gfCode]));
      report.Add({GoodsIssueKind::DuplicateCode, row.number, code, {}, 0});
      continue;
    }
    for (GoodsIssue& issue : taken.issues) report.Add(std::move(issue));
    report.rowPlaces.insert(report.rowPlaces.begin() + std::max(table.RecNo() - 1, 0), row.number);
    ++report.rowsRead;
  }
  table.First();
  table.EnableControls();
  return true;
}

bool ImportGoodsSheetFile(const std::string& path, const GoodsSheetOptions& options, TWorkTable& table,
                          GoodsImportReport& report) {
  const std::string name = BaseName(path);
  report.Reset(name, GoodsPlaceKind::Line);
  TSheet sheet;
  std::string error;
  if (!ReadSheet(path, options.sheet, sheet, error)) {
    Error(std::string(kSheetReadFailedText) + " " + name + ": " + error, true, true, true);
    return false;
  }
  const GoodsSheetLayout layout = FindGoodsSheetLayout(sheet, options.columns);
  if (!layout.Usable()) {
    std::string text = std::string(kSheetNoHeaderText) + " " + name + ", лист " + Quoted(sheet.name) + ": ";
    for (std::size_t k = 0; k < layout.problems.size(); ++k) text += (k > 0 ? "; " : "") + layout.problems[k];
    Error(text, true, true, true);
    return false;
  }
  return ImportGoodsSheet(sheet, layout, table, report);
}

// ---------------------------------------------------------------------------
// Remembered columns

namespace {

constexpr std::string_view kHeaderKey = "Заголовок";
constexpr std::uint64_t kFnvOffset = 14695981039346656037ull;
constexpr std::uint64_t kFnvPrime = 1099511628211ull;

std::string HeaderTexts(const TSheetRow& header) {
  std::string texts;
  for (const TSheetCell& cell : header.cells) texts += SheetColumnName(cell.column) + "=" + CellText(&cell) + " | ";
  return texts;
}

}  // namespace

std::string GoodsHeaderSection(const TSheetRow& header) {
  std::uint64_t hash = kFnvOffset;
  for (const char c : HeaderTexts(header)) {
    hash ^= static_cast<unsigned char>(c);
    hash *= kFnvPrime;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return std::string("Columns ") + hex;
}

bool RememberedGoodsLayout(const TSheet& sheet, const TIniFile& file, GoodsSheetLayout& layout) {
  const std::size_t rows = std::min(sheet.rows.size(), static_cast<std::size_t>(kGoodsHeaderSearchRows));
  for (std::size_t i = 0; i < rows; ++i) {
    const std::string section = GoodsHeaderSection(sheet.rows[i]);
    if (!file.SectionExists(section)) continue;
    std::vector<GoodsColumnChoice> choices;
    for (int f = 0; f < kGoodsFieldCount; ++f) {
      const std::string_view field = kGoodsFields[static_cast<std::size_t>(f)];
      if (file.ValueExists(section, field)) choices.push_back({f, file.ReadString(section, field, "")});
    }
    layout = GoodsSheetLayoutAt(sheet, static_cast<int>(i), choices);
    return true;
  }
  return false;
}

void RememberGoodsColumns(TIniFile& file, const TSheet& sheet, const GoodsSheetLayout& layout) {
  if (layout.headerIndex < 0 || static_cast<std::size_t>(layout.headerIndex) >= sheet.rows.size()) return;
  const TSheetRow& header = sheet.rows[static_cast<std::size_t>(layout.headerIndex)];
  const std::string section = GoodsHeaderSection(header);
  file.EraseSection(section);
  file.WriteString(section, kHeaderKey, HeaderTexts(header));
  for (int f = 0; f < kGoodsFieldCount; ++f) {
    const int c = layout.column[static_cast<std::size_t>(f)];
    file.WriteString(section, kGoodsFields[static_cast<std::size_t>(f)], c >= 0 ? SheetColumnName(c) : "");
  }
}

// ---------------------------------------------------------------------------
// Workbook

bool ExportGoodsXlsx(TWorkTable& table, const std::string& path) {
  const auto fail = [&](const std::string& why) {
    Error(std::string(kXlsxCreateFailedText) + " " + path + ": " + why, true, true, true);
    return false;
  };
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  // The library would name a missing folder on standard error itself.
  if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) return fail("нет папки " + folder.string());
  const std::string temp = path + std::string(kTempSuffix);
  lxw_workbook* book = workbook_new(temp.c_str());
  if (book == nullptr) return fail("файл не создаётся");
  lxw_format* bold = workbook_add_format(book);
  format_set_bold(bold);
  lxw_format* money = workbook_add_format(book);
  format_set_num_format(money, kPriceFormat);
  lxw_format* quantity = workbook_add_format(book);
  format_set_num_format(quantity, kCountFormat);
  lxw_format* text = workbook_add_format(book);
  format_set_num_format(text, kTextFormat);
  lxw_worksheet* sheet = workbook_add_worksheet(book, kGoodsSheetName);
  double widths[kGoodsFieldCount];
  for (int f = 0; f < kGoodsFieldCount; ++f) {
    widths[f] = static_cast<double>(Utf8Length(kGoodsSheetHeaders[f]));
    worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(f), std::string(kGoodsSheetHeaders[f]).c_str(), bold);
  }
  const GoodsColumns c(table);
  lxw_row_t row = 0;
  table.DisableControls();
  for (table.First(); !table.Eof(); table.Next()) {
    ++row;
    for (int f = 0; f < kGoodsFieldCount; ++f) {
      const auto col = static_cast<lxw_col_t>(f);
      const WtValue& v = table.Value(c[f]);
      std::string shown;
      if (std::holds_alternative<std::monostate>(v)) continue;
      if (const auto* b = std::get_if<bool>(&v)) {
        worksheet_write_boolean(sheet, row, col, *b ? 1 : 0, nullptr);
        shown = *b ? "ИСТИНА" : "ЛОЖЬ";
      } else if (const auto* n = std::get_if<std::int64_t>(&v)) {
        if (f == gfPrice || f == gfCount) {
          worksheet_write_number(sheet, row, col, CurrencyToDouble(Currency::FromRaw(*n)),
                                 f == gfPrice ? money : quantity);
          // Shown with two or three decimals.
          shown = CurrencyToText(Currency::FromRaw(*n));
          shown = shown.substr(0, shown.find('.')) + (f == gfPrice ? ".00" : ".000");
        } else {
          worksheet_write_number(sheet, row, col, static_cast<double>(*n), nullptr);
          shown = std::to_string(*n);
        }
      } else if (const auto* s = std::get_if<std::string>(&v)) {
        // Barcodes and names as text: no digit of a barcode is lost.
        worksheet_write_string(sheet, row, col, s->c_str(), f == gfShtrih ? text : nullptr);
        shown = *s;
      }
      widths[f] = std::max(widths[f], static_cast<double>(Utf8Length(shown)));
    }
  }
  table.EnableControls();
  for (int f = 0; f < kGoodsFieldCount; ++f)
    worksheet_set_column(sheet, static_cast<lxw_col_t>(f), static_cast<lxw_col_t>(f),
                         std::clamp(widths[f] + kColumnMargin, kNarrowestColumn, kWidestColumn),
                         f == gfShtrih ? text : nullptr);
  worksheet_freeze_panes(sheet, 1, 0);
  worksheet_autofilter(sheet, 0, 0, row, kGoodsFieldCount - 1);
  const lxw_error result = workbook_close(book);
  if (result != LXW_NO_ERROR) {
    std::remove(temp.c_str());
    return fail(lxw_strerror(result));
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return fail("файл не записывается");
  }
  Mess(std::string(kXlsxExportedText), false, true, true);
  return true;
}

// ---------------------------------------------------------------------------
// Any goods file

bool ImportGoodsFile(const std::string& path, TWorkTable& table, int limit, const GoodsSheetOptions& options,
                     GoodsImportReport& report) {
  switch (GoodsFileKindOf(path)) {
    case GoodsFileKind::Csv: return ImportGoodsCsv(path, table, report);
    case GoodsFileKind::Dbf: return ImportGoodsDbf(path, table, limit, report);
    case GoodsFileKind::Xlsx:
    case GoodsFileKind::Ods: return ImportGoodsSheetFile(path, options, table, report);
    case GoodsFileKind::Unknown: break;
  }
  Error(path + ": " + std::string(kGoodsFileKindText), true, true, true);
  return false;
}

bool ExportGoodsFile(TWorkTable& table, const std::string& path) {
  switch (GoodsFileKindOf(path)) {
    case GoodsFileKind::Csv: return ExportGoodsCsv(table, path);
    case GoodsFileKind::Dbf: return ExportGoodsDbf(table, path);
    case GoodsFileKind::Xlsx: return ExportGoodsXlsx(table, path);
    case GoodsFileKind::Ods:
    case GoodsFileKind::Unknown: break;
  }
  Error(path + ": " + std::string(kGoodsWriteKindText), true, true, true);
  return false;
}

}  // namespace zarvik
