#include "store/SheetReader.h"

#include <expat.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

#include "shell/TextCodec.h"

namespace zarvik {
namespace {

// Pieces of the archive are fed to the XML parser in blocks of this size.
constexpr std::size_t kReadBlock = 1 << 16;
// Exponents beyond this make no number a goods table can hold.
constexpr int kLargestExponent = 1000;
// expat joins a namespace and a local name with this character.
constexpr char kNsSeparator = '|';

constexpr std::string_view kXlsxRoot = "xl/workbook.xml";
constexpr std::string_view kOdsContent = "content.xml";

// ---------------------------------------------------------------------------
// Names and attributes of namespaced XML

// The local part of "namespace|local".
std::string_view LocalName(const XML_Char* name) {
  const std::string_view n(name);
  const auto bar = n.rfind(kNsSeparator);
  return bar == std::string_view::npos ? n : n.substr(bar + 1);
}

// The namespace part, empty when there is none.
std::string_view NamespaceOf(const XML_Char* name) {
  const std::string_view n(name);
  const auto bar = n.rfind(kNsSeparator);
  return bar == std::string_view::npos ? std::string_view() : n.substr(0, bar);
}

// The value of the attribute with local name `local` (and a namespace that
// contains `ns`, when given), or nullptr.
const XML_Char* Attr(const XML_Char** attrs, std::string_view local, std::string_view ns = {}) {
  for (int i = 0; attrs[i] != nullptr; i += 2) {
    if (LocalName(attrs[i]) != local) continue;
    if (!ns.empty() && NamespaceOf(attrs[i]).find(ns) == std::string_view::npos) continue;
    return attrs[i + 1];
  }
  return nullptr;
}

int ToInt(const XML_Char* text, int fallback) {
  if (text == nullptr) return fallback;
  int v = 0;
  const std::string_view t(text);
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  return ec == std::errc() && end == t.data() + t.size() ? v : fallback;
}

// ---------------------------------------------------------------------------
// The archive

struct ZipCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipFileCloser {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};

class TArchive {
 public:
  bool Open(const std::string& path, std::string& error) {
    int code = 0;
    zip_.reset(zip_open(path.c_str(), ZIP_RDONLY, &code));
    if (zip_) return true;
    if (code == ZIP_ER_NOENT)
      error = "файл не найден";
    else if (code == ZIP_ER_NOZIP || code == ZIP_ER_INCONS)
      error = "файл не книга электронной таблицы (не архив ZIP)";
    else if (code == ZIP_ER_OPEN || code == ZIP_ER_READ)
      error = "файл не открывается";
    else
      error = "файл не открывается (код libzip " + std::to_string(code) + ")";
    return false;
  }

  bool Has(const std::string& name) const { return zip_name_locate(zip_.get(), name.c_str(), 0) >= 0; }

  // Feeds the member `name` to `parser` block by block; false with `error`
  // when it is missing, damaged or not well-formed XML.
  bool Parse(const std::string& name, XML_Parser parser, std::string& error) {
    std::unique_ptr<zip_file_t, ZipFileCloser> file(zip_fopen(zip_.get(), name.c_str(), 0));
    if (!file) {
      error = "в книге нет части " + name;
      return false;
    }
    for (;;) {
      void* buffer = XML_GetBuffer(parser, static_cast<int>(kReadBlock));
      if (buffer == nullptr) {
        error = "не хватает памяти для " + name;
        return false;
      }
      const zip_int64_t got = zip_fread(file.get(), buffer, kReadBlock);
      if (got < 0) {
        error = "часть " + name + " повреждена: " + zip_file_strerror(file.get());
        return false;
      }
      const XML_Status status = XML_ParseBuffer(parser, static_cast<int>(got), got == 0 ? XML_TRUE : XML_FALSE);
      if (status == XML_STATUS_ERROR) {
        if (XML_GetErrorCode(parser) == XML_ERROR_ABORTED && !aborted_.empty()) {
          error = aborted_;
          return false;
        }
        error = "часть " + name + " не читается как XML (строка " +
                std::to_string(XML_GetCurrentLineNumber(parser)) + "): " +
                XML_ErrorString(XML_GetErrorCode(parser));
        return false;
      }
      if (got == 0) return true;
    }
  }

  // The reason a handler stopped the parser for.
  std::string aborted_;

 private:
  std::unique_ptr<zip_t, ZipCloser> zip_;
};

// An expat parser with namespaces that calls the members of `Handler`.
template <class Handler>
struct TXmlParser {
  explicit TXmlParser(Handler& h) : parser(XML_ParserCreateNS("UTF-8", kNsSeparator)) {
    XML_SetUserData(parser, &h);
    XML_SetElementHandler(
        parser,
        [](void* d, const XML_Char* name, const XML_Char** attrs) { static_cast<Handler*>(d)->Start(name, attrs); },
        [](void* d, const XML_Char* name) { static_cast<Handler*>(d)->End(name); });
    XML_SetCharacterDataHandler(parser, [](void* d, const XML_Char* s, int len) {
      static_cast<Handler*>(d)->Text(std::string_view(s, static_cast<std::size_t>(len)));
    });
  }
  ~TXmlParser() { XML_ParserFree(parser); }
  TXmlParser(const TXmlParser&) = delete;
  TXmlParser& operator=(const TXmlParser&) = delete;
  XML_Parser parser;
};

// The common state of the sheet handlers: the rows gathered, the limits.
struct TSheetBuilder {
  TSheet* sheet = nullptr;
  std::int64_t cells = 0;
  std::string overflow;  // set when a limit is crossed

  bool Count(std::size_t more) {
    cells += static_cast<std::int64_t>(more);
    if (cells > kSheetMaxCells && overflow.empty())
      overflow = "в листе больше " + std::to_string(kSheetMaxCells) + " непустых ячеек";
    return overflow.empty();
  }
  void AddRow(TSheetRow&& row) {
    if (row.cells.empty()) return;
    sheet->columns = std::max(sheet->columns, row.cells.back().column + 1);
    sheet->rows.push_back(std::move(row));
  }
  // Rows in order of their numbers, whatever order the file gave them in.
  void Finish() {
    auto& rows = sheet->rows;
    if (!std::is_sorted(rows.begin(), rows.end(), [](const TSheetRow& a, const TSheetRow& b) {
          return a.number < b.number;
        }))
      std::stable_sort(rows.begin(), rows.end(),
                       [](const TSheetRow& a, const TSheetRow& b) { return a.number < b.number; });
    for (TSheetRow& r : rows)
      if (!std::is_sorted(r.cells.begin(), r.cells.end(),
                          [](const TSheetCell& a, const TSheetCell& b) { return a.column < b.column; }))
        std::stable_sort(r.cells.begin(), r.cells.end(),
                         [](const TSheetCell& a, const TSheetCell& b) { return a.column < b.column; });
  }
};

// ---------------------------------------------------------------------------
// XLSX

struct TRelationships {
  std::map<std::string, std::string, std::less<>> targetById;
  std::map<std::string, std::string, std::less<>> targetByTypeEnd;  // the type's last path part

  void Start(const XML_Char* name, const XML_Char** attrs) {
    if (LocalName(name) != "Relationship") return;
    const XML_Char* id = Attr(attrs, "Id");
    const XML_Char* target = Attr(attrs, "Target");
    const XML_Char* type = Attr(attrs, "Type");
    if (target == nullptr) return;
    if (id != nullptr) targetById.emplace(id, target);
    if (type != nullptr) {
      const std::string_view t(type);
      targetByTypeEnd.emplace(std::string(t.substr(t.rfind('/') + 1)), target);
    }
  }
  void End(const XML_Char*) {}
  void Text(std::string_view) {}
};

// A target relative to the folder of the part that names it; a leading "/"
// starts from the archive's root.
std::string ResolvePart(std::string_view from, std::string_view target) {
  if (target.starts_with('/')) return std::string(target.substr(1));
  std::string folder(from.substr(0, from.rfind('/') + 1));
  while (target.starts_with("../")) {
    target.remove_prefix(3);
    if (!folder.empty()) folder.pop_back();
    folder.resize(folder.rfind('/') == std::string::npos ? 0 : folder.rfind('/') + 1);
  }
  return folder + std::string(target);
}

std::string RelsOf(std::string_view part) {
  const auto slash = part.rfind('/');
  const std::string_view folder = slash == std::string_view::npos ? std::string_view() : part.substr(0, slash + 1);
  const std::string_view file = slash == std::string_view::npos ? part : part.substr(slash + 1);
  return std::string(folder) + "_rels/" + std::string(file) + ".rels";
}

struct TWorkbookSheets {
  std::vector<std::pair<std::string, std::string>> sheets;  // name, relationship id
  void Start(const XML_Char* name, const XML_Char** attrs) {
    if (LocalName(name) != "sheet") return;
    const XML_Char* n = Attr(attrs, "name");
    const XML_Char* id = Attr(attrs, "id", "relationships");
    if (n != nullptr && id != nullptr) sheets.emplace_back(n, id);
  }
  void End(const XML_Char*) {}
  void Text(std::string_view) {}
};

struct TSharedStrings {
  std::vector<std::string> strings;
  std::string current;
  bool inItem = false;
  bool inText = false;
  int phonetic = 0;  // inside <rPh>: reading hints, not the text

  void Start(const XML_Char* name, const XML_Char**) {
    const std::string_view n = LocalName(name);
    if (n == "si") {
      inItem = true;
      current.clear();
    } else if (n == "rPh") {
      ++phonetic;
    } else if (n == "t" && inItem && phonetic == 0) {
      inText = true;
    }
  }
  void End(const XML_Char* name) {
    const std::string_view n = LocalName(name);
    if (n == "si") {
      strings.push_back(std::move(current));
      current.clear();
      inItem = false;
    } else if (n == "rPh") {
      --phonetic;
    } else if (n == "t") {
      inText = false;
    }
  }
  void Text(std::string_view s) {
    if (inText) current.append(s);
  }
};

// "D7" to column 3 and row 7; false when it is not a cell reference.
bool ParseCellRef(std::string_view ref, int& column, int& row) {
  std::size_t letters = 0;
  while (letters < ref.size() && ((ref[letters] >= 'A' && ref[letters] <= 'Z') || (ref[letters] >= 'a' && ref[letters] <= 'z')))
    ++letters;
  if (!SheetColumnIndex(ref.substr(0, letters), column)) return false;
  const std::string_view digits = ref.substr(letters);
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), row);
  return ec == std::errc() && end == digits.data() + digits.size() && row >= 1;
}

struct TXlsxSheet : TSheetBuilder {
  const std::vector<std::string>* strings = nullptr;
  TArchive* archive = nullptr;
  XML_Parser parser = nullptr;

  TSheetRow row;
  bool inRow = false;
  int lastRow = 0;
  int lastColumn = -1;
  std::size_t lastCells = 0;
  bool inCell = false;
  TSheetCell cell;
  std::string type;
  std::string value;
  bool inValue = false;  // <v>, or <t> of an inline string
  int phonetic = 0;

  void Stop(std::string reason) {
    archive->aborted_ = std::move(reason);
    XML_StopParser(parser, XML_FALSE);
  }

  void Start(const XML_Char* name, const XML_Char** attrs) {
    const std::string_view n = LocalName(name);
    if (n == "row") {
      inRow = true;
      row = TSheetRow{};
      // Rows of a table are alike: room for as many cells as the last one.
      row.cells.reserve(lastCells);
      row.number = ToInt(Attr(attrs, "r"), lastRow + 1);
      if (row.number < 1 || row.number > kSheetMaxRows) return Stop("строка " + std::to_string(row.number) + " вне листа");
      lastRow = row.number;
      lastColumn = -1;
    } else if (n == "c" && inRow) {
      inCell = true;
      cell = TSheetCell{};
      value.clear();
      const XML_Char* t = Attr(attrs, "t");
      type = t != nullptr ? t : "n";
      int column = lastColumn + 1;
      int r = 0;
      if (const XML_Char* ref = Attr(attrs, "r"); ref != nullptr && !ParseCellRef(ref, column, r))
        return Stop(std::string("неверная ссылка на ячейку ") + ref);
      if (column >= kSheetMaxColumns) return Stop("столбец вне листа");
      cell.column = column;
      lastColumn = column;
    } else if (inCell) {
      if (n == "f") cell.formula = true;
      if (n == "rPh") ++phonetic;
      if (n == "v" || (n == "t" && phonetic == 0)) inValue = true;
    }
  }

  void End(const XML_Char* name) {
    const std::string_view n = LocalName(name);
    if (n == "v" || n == "t") {
      inValue = false;
    } else if (n == "rPh") {
      --phonetic;
    } else if (n == "c" && inCell) {
      inCell = false;
      TakeCell();
    } else if (n == "row" && inRow) {
      inRow = false;
      lastCells = row.cells.size();
      AddRow(std::move(row));
    }
  }

  void Text(std::string_view s) {
    if (inValue) value.append(s);
  }

  void TakeCell() {
    using K = TSheetCell::Kind;
    if (type == "s") {
      const int index = ToInt(value.c_str(), -1);
      if (index < 0 || static_cast<std::size_t>(index) >= strings->size())
        return Stop("ячейка " + SheetColumnName(cell.column) + std::to_string(row.number) +
                    " ссылается на строку, которой нет в книге");
      cell.kind = K::Text;
      cell.text = (*strings)[static_cast<std::size_t>(index)];
    } else if (type == "str" || type == "inlineStr" || type == "d") {
      cell.kind = K::Text;
      cell.text = std::move(value);
    } else if (type == "b") {
      if (value.empty()) return;
      cell.kind = K::Bool;
      cell.text = value == "0" || value == "false" ? "0" : "1";
    } else if (type == "e") {
      cell.kind = K::Error;
      cell.text = std::move(value);
    } else {
      if (value.empty()) return;
      cell.kind = K::Number;
      cell.text = std::move(value);
    }
    value = std::string();
    if (cell.kind == K::Text && cell.text.empty()) return;
    if (!Count(1)) return Stop(overflow);
    row.cells.push_back(std::move(cell));
  }
};

struct TXlsxBook {
  TArchive archive;
  std::string workbookPart;
  std::vector<std::pair<std::string, std::string>> sheets;  // name, part
  TRelationships workbookRels;

  bool Open(const std::string& path, std::string& error) {
    if (!archive.Open(path, error)) return false;
    // The package's own relationships name the workbook part.
    workbookPart = std::string(kXlsxRoot);
    if (archive.Has("_rels/.rels")) {
      TRelationships root;
      TXmlParser<TRelationships> p(root);
      if (!archive.Parse("_rels/.rels", p.parser, error)) return false;
      if (auto it = root.targetByTypeEnd.find("officeDocument"); it != root.targetByTypeEnd.end())
        workbookPart = ResolvePart("", it->second);
    }
    TWorkbookSheets book;
    {
      TXmlParser<TWorkbookSheets> p(book);
      if (!archive.Parse(workbookPart, p.parser, error)) return false;
    }
    {
      TXmlParser<TRelationships> p(workbookRels);
      if (!archive.Parse(RelsOf(workbookPart), p.parser, error)) return false;
    }
    for (auto& [name, id] : book.sheets) {
      const auto it = workbookRels.targetById.find(id);
      if (it == workbookRels.targetById.end()) continue;
      sheets.emplace_back(name, ResolvePart(workbookPart, it->second));
    }
    if (sheets.empty()) {
      error = "в книге нет листов";
      return false;
    }
    return true;
  }

  bool ReadSheet(const std::string& part, TSheet& sheet, std::string& error) {
    TSharedStrings shared;
    std::string stringsPart;
    if (auto it = workbookRels.targetByTypeEnd.find("sharedStrings"); it != workbookRels.targetByTypeEnd.end())
      stringsPart = ResolvePart(workbookPart, it->second);
    if (!stringsPart.empty() && archive.Has(stringsPart)) {
      TXmlParser<TSharedStrings> p(shared);
      if (!archive.Parse(stringsPart, p.parser, error)) return false;
    }
    TXlsxSheet handler;
    handler.sheet = &sheet;
    handler.strings = &shared.strings;
    handler.archive = &archive;
    TXmlParser<TXlsxSheet> p(handler);
    handler.parser = p.parser;
    if (!archive.Parse(part, p.parser, error)) return false;
    handler.Finish();
    return true;
  }
};

// ---------------------------------------------------------------------------
// ODS

struct TOdsHandler : TSheetBuilder {
  // Names of the tables met so far; the wanted table is read when met.
  std::vector<std::string> names;
  std::string wanted;  // empty: the first table
  bool namesOnly = false;
  bool found = false;
  TArchive* archive = nullptr;
  XML_Parser parser = nullptr;

  int tableDepth = 0;  // tables nested in cells are not read
  bool reading = false;
  int rowNumber = 0;
  int rowRepeat = 1;
  bool inRow = false;
  TSheetRow row;
  int column = 0;
  bool inCell = false;
  int columnRepeat = 1;
  TSheetCell cell;
  std::string valueType;
  std::string errorType;
  std::string value;
  std::string text;
  int paragraphs = 0;  // <text:p> met in the cell
  int inParagraph = 0;
  int annotation = 0;

  void Stop(std::string reason) {
    archive->aborted_ = std::move(reason);
    XML_StopParser(parser, XML_FALSE);
  }

  void Start(const XML_Char* name, const XML_Char** attrs) {
    const std::string_view n = LocalName(name);
    if (n == "table" && NamespaceOf(name).find(":table:") != std::string_view::npos) {
      ++tableDepth;
      if (tableDepth != 1) return;
      const XML_Char* tableName = Attr(attrs, "name");
      names.emplace_back(tableName != nullptr ? tableName : "");
      if (namesOnly || found) return;
      if (wanted.empty() || names.back() == wanted) {
        found = true;
        reading = true;
        sheet->name = names.back();
      }
      return;
    }
    if (!reading || tableDepth != 1) return;
    if (n == "table-row") {
      inRow = true;
      row = TSheetRow{};
      rowRepeat = std::max(1, ToInt(Attr(attrs, "number-rows-repeated"), 1));
      column = 0;
    } else if (inRow && (n == "table-cell" || n == "covered-table-cell") && !inCell) {
      inCell = true;
      cell = TSheetCell{};
      columnRepeat = std::max(1, ToInt(Attr(attrs, "number-columns-repeated"), 1));
      const XML_Char* type = Attr(attrs, "value-type", "office");
      valueType = type != nullptr ? type : "";
      const XML_Char* calcType = Attr(attrs, "value-type", "calcext");
      errorType = calcType != nullptr ? calcType : "";
      value.clear();
      text.clear();
      paragraphs = 0;
      cell.formula = Attr(attrs, "formula") != nullptr;
      if (valueType == "float" || valueType == "percentage" || valueType == "currency") {
        const XML_Char* v = Attr(attrs, "value", "office");
        if (v != nullptr) value = v;
      } else if (valueType == "boolean") {
        const XML_Char* v = Attr(attrs, "boolean-value", "office");
        if (v != nullptr) value = v;
      } else if (valueType == "date") {
        const XML_Char* v = Attr(attrs, "date-value", "office");
        if (v != nullptr) value = v;
      } else if (valueType == "time") {
        const XML_Char* v = Attr(attrs, "time-value", "office");
        if (v != nullptr) value = v;
      }
    } else if (inCell) {
      if (n == "annotation") ++annotation;
      if (annotation > 0) return;
      if (n == "p" || n == "h") {
        if (inParagraph == 0 && paragraphs++ > 0) text.push_back('\n');
        ++inParagraph;
      } else if (inParagraph > 0 && n == "s") {
        text.append(static_cast<std::size_t>(std::clamp(ToInt(Attr(attrs, "c"), 1), 1, 1000)), ' ');
      } else if (inParagraph > 0 && n == "tab") {
        text.push_back('\t');
      } else if (inParagraph > 0 && n == "line-break") {
        text.push_back('\n');
      }
    }
  }

  void End(const XML_Char* name) {
    const std::string_view n = LocalName(name);
    if (n == "table" && NamespaceOf(name).find(":table:") != std::string_view::npos) {
      if (--tableDepth == 0 && reading) {
        reading = false;
        XML_StopParser(parser, XML_FALSE);  // the wanted table is read
      }
      return;
    }
    if (!reading || tableDepth != 1) return;
    if (inCell && (n == "table-cell" || n == "covered-table-cell")) {
      inCell = false;
      TakeCell();
    } else if (inCell && n == "annotation") {
      --annotation;
    } else if (inCell && annotation == 0 && (n == "p" || n == "h")) {
      --inParagraph;
    } else if (inRow && n == "table-row") {
      inRow = false;
      TakeRow();
    }
  }

  void Text(std::string_view s) {
    if (inCell && inParagraph > 0 && annotation == 0) text.append(s);
  }

  void TakeCell() {
    using K = TSheetCell::Kind;
    const int first = column;
    column += columnRepeat;
    if (errorType == "error") {
      cell.kind = K::Error;
      cell.text = std::move(text);
    } else if (valueType == "float" || valueType == "percentage" || valueType == "currency") {
      if (value.empty()) return;
      cell.kind = K::Number;
      cell.text = std::move(value);
    } else if (valueType == "boolean") {
      cell.kind = K::Bool;
      cell.text = value == "true" || value == "1" ? "1" : "0";
    } else if (valueType == "date" || valueType == "time") {
      cell.kind = K::Text;
      cell.text = value.empty() ? std::move(text) : std::move(value);
    } else {
      cell.kind = K::Text;
      cell.text = std::move(text);
    }
    if (cell.kind == K::Text && cell.text.empty()) return;
    // Repeated cells that hold something are taken up to the sheet's edge.
    const int last = std::min(first + columnRepeat, kSheetMaxColumns);
    if (first >= last) return;
    if (!Count(static_cast<std::size_t>(last - first))) return Stop(overflow);
    for (int c = first; c < last; ++c) {
      cell.column = c;
      row.cells.push_back(cell);
    }
  }

  void TakeRow() {
    const int first = rowNumber + 1;
    rowNumber += rowRepeat;
    if (row.cells.empty()) return;
    const int last = std::min(first + rowRepeat - 1, kSheetMaxRows);
    if (last > first && !Count(row.cells.size() * static_cast<std::size_t>(last - first)))
      return Stop(overflow);
    for (int r = first; r <= last; ++r) {
      TSheetRow copy = r == last ? std::move(row) : row;
      copy.number = r;
      AddRow(std::move(copy));
    }
  }
};

bool ReadOds(const std::string& path, const std::string& wanted, bool namesOnly, TSheet* sheet,
             std::vector<std::string>& names, std::string& error) {
  TArchive archive;
  if (!archive.Open(path, error)) return false;
  TSheet scratch;
  TOdsHandler handler;
  handler.sheet = sheet != nullptr ? sheet : &scratch;
  handler.wanted = wanted;
  handler.namesOnly = namesOnly;
  handler.archive = &archive;
  TXmlParser<TOdsHandler> p(handler);
  handler.parser = p.parser;
  if (!archive.Parse(std::string(kOdsContent), p.parser, error)) {
    // Stopped by the handler once the wanted table was read.
    if (!(XML_GetErrorCode(p.parser) == XML_ERROR_ABORTED && archive.aborted_.empty() && handler.found))
      return false;
    error.clear();
  }
  names = std::move(handler.names);
  if (namesOnly) {
    if (names.empty()) {
      error = "в книге нет листов";
      return false;
    }
    return true;
  }
  if (!handler.found) return false;
  handler.Finish();
  return true;
}

std::string NamesList(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------

const TSheetCell* TSheetRow::At(int column) const {
  const auto it = std::lower_bound(cells.begin(), cells.end(), column,
                                   [](const TSheetCell& c, int col) { return c.column < col; });
  return it != cells.end() && it->column == column ? &*it : nullptr;
}

TSheetFileKind SheetFileKindOf(std::string_view path) {
  const auto dot = path.find_last_of("./");
  if (dot == std::string_view::npos || path[dot] != '.') return TSheetFileKind::Unknown;
  const std::string ext = Utf8Lower(path.substr(dot));
  if (ext == ".xlsx") return TSheetFileKind::Xlsx;
  if (ext == ".ods") return TSheetFileKind::Ods;
  return TSheetFileKind::Unknown;
}

bool ReadSheetNames(const std::string& path, std::vector<std::string>& names, std::string& error) {
  names.clear();
  switch (SheetFileKindOf(path)) {
    case TSheetFileKind::Xlsx: {
      TXlsxBook book;
      if (!book.Open(path, error)) return false;
      for (const auto& s : book.sheets) names.push_back(s.first);
      return true;
    }
    case TSheetFileKind::Ods: return ReadOds(path, {}, true, nullptr, names, error);
    case TSheetFileKind::Unknown: break;
  }
  error = "файл книги должен иметь расширение .xlsx или .ods";
  return false;
}

bool ReadSheet(const std::string& path, const std::string& sheetName, TSheet& sheet, std::string& error) {
  sheet = TSheet{};
  const TSheetFileKind kind = SheetFileKindOf(path);
  // A name given in another case than the file's is found too.
  const auto choose = [&](const std::vector<std::string>& names, std::string& chosen) {
    if (sheetName.empty()) {
      chosen = names.front();
      return true;
    }
    for (const std::string& n : names)
      if (n == sheetName) {
        chosen = n;
        return true;
      }
    for (const std::string& n : names)
      if (Utf8EqualNoCase(n, sheetName)) {
        chosen = n;
        return true;
      }
    error = "нет листа «" + sheetName + "» (листы: " + NamesList(names) + ")";
    return false;
  };
  if (kind == TSheetFileKind::Xlsx) {
    TXlsxBook book;
    if (!book.Open(path, error)) return false;
    std::vector<std::string> names;
    for (const auto& s : book.sheets) names.push_back(s.first);
    std::string chosen;
    if (!choose(names, chosen)) return false;
    for (const auto& [name, part] : book.sheets)
      if (name == chosen) {
        sheet.name = name;
        return book.ReadSheet(part, sheet, error);
      }
    return false;
  }
  if (kind == TSheetFileKind::Ods) {
    std::vector<std::string> names;
    if (sheetName.empty()) return ReadOds(path, {}, false, &sheet, names, error);
    if (!ReadOds(path, {}, true, nullptr, names, error)) return false;
    std::string chosen;
    if (!choose(names, chosen)) return false;
    return ReadOds(path, chosen, false, &sheet, names, error);
  }
  error = "файл книги должен иметь расширение .xlsx или .ods";
  return false;
}

std::string SheetColumnName(int column) {
  std::string out;
  for (int c = column + 1; c > 0; c = (c - 1) / 26) out.insert(out.begin(), static_cast<char>('A' + (c - 1) % 26));
  return out;
}

bool SheetColumnIndex(std::string_view letters, int& column) {
  if (letters.empty() || letters.size() > 3) return false;
  int c = 0;
  for (const char ch : letters) {
    const char up = ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
    if (up < 'A' || up > 'Z') return false;
    c = c * 26 + (up - 'A' + 1);
  }
  if (c > kSheetMaxColumns) return false;
  column = c - 1;
  return true;
}

std::string SheetCellName(std::string_view sheet, int row, int column) {
  const bool plain = !sheet.empty() && std::all_of(sheet.begin(), sheet.end(), [](char ch) {
    const auto u = static_cast<unsigned char>(ch);
    return u >= 0x80 || (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || ch == '_';
  });
  std::string name;
  if (plain) {
    name = sheet;
  } else {
    name = "'";
    for (const char ch : sheet) {
      name.push_back(ch);
      if (ch == '\'') name.push_back('\'');
    }
    name += "'";
  }
  return name + "!" + SheetColumnName(column) + std::to_string(row);
}

bool ParseDecimalText(std::string_view t, TDecimalParts& parts) {
  parts = TDecimalParts{};
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
    parts.negative = t.front() == '-';
    t.remove_prefix(1);
  }
  std::string digits;
  int pointAt = -1;
  std::size_t i = 0;
  for (; i < t.size(); ++i) {
    const char ch = t[i];
    if (ch >= '0' && ch <= '9') {
      digits.push_back(ch);
    } else if (ch == '.' && pointAt < 0) {
      pointAt = static_cast<int>(digits.size());
    } else {
      break;
    }
  }
  if (digits.empty()) return false;
  if (pointAt < 0) pointAt = static_cast<int>(digits.size());
  int exponent = 0;
  if (i < t.size()) {
    if (t[i] != 'e' && t[i] != 'E') return false;
    std::string_view e = t.substr(i + 1);
    if (!e.empty() && e.front() == '+') e.remove_prefix(1);
    const auto [end, ec] = std::from_chars(e.data(), e.data() + e.size(), exponent);
    if (e.empty() || ec != std::errc() || end != e.data() + e.size()) return false;
    if (exponent > kLargestExponent || exponent < -kLargestExponent) return false;
  }
  pointAt += exponent;
  if (pointAt < 0) {
    digits.insert(0, static_cast<std::size_t>(-pointAt), '0');
    pointAt = 0;
  } else if (pointAt > static_cast<int>(digits.size())) {
    digits.append(static_cast<std::size_t>(pointAt) - digits.size(), '0');
  }
  parts.whole = digits.substr(0, static_cast<std::size_t>(pointAt));
  parts.fraction = digits.substr(static_cast<std::size_t>(pointAt));
  const auto nonZero = parts.whole.find_first_not_of('0');
  parts.whole = nonZero == std::string::npos ? "0" : parts.whole.substr(nonZero);
  while (!parts.fraction.empty() && parts.fraction.back() == '0') parts.fraction.pop_back();
  if (parts.whole == "0" && parts.fraction.empty()) parts.negative = false;
  return true;
}

std::string DecimalPartsText(const TDecimalParts& parts) {
  std::string out = parts.negative ? "-" : "";
  out += parts.whole;
  if (!parts.fraction.empty()) out += "." + parts.fraction;
  return out;
}

}  // namespace zarvik
