#include "store/ConfigText.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <set>

#include "model/RegisterText.h"
#include "shell/TextCodec.h"
#include "shell/U_language.h"
#include "store/RegisterBackup.h"
#include "store/WorkTable.h"

namespace zarvik {
namespace {

constexpr int kHighestOptionNumber = 255;
constexpr int kHighestOptionValue = 255;
constexpr std::int64_t kHighestPriceHundredths = 9999999999;  // ten BCD digits

// Department states as the file writes them.
constexpr std::string_view kGoodsWord = "goods";
constexpr std::string_view kServiceWord = "service";
constexpr std::string_view kClosedWord = "closed";
constexpr std::string_view kNoGroupWord = "none";

enum class DepKind { Goods, Service, Closed };

DepKind KindOfStatus(const std::string& status) {
  if (status == LangResStrHandler.Text(ltDepGoods)) return DepKind::Goods;
  if (status == LangResStrHandler.Text(ltDepService)) return DepKind::Service;
  return DepKind::Closed;
}

std::string_view KindWord(DepKind kind) {
  return kind == DepKind::Goods ? kGoodsWord : kind == DepKind::Service ? kServiceWord : kClosedWord;
}

// The state word of the file (or the language table's text) as a kind.
bool KindOfWord(const std::string& word, DepKind& kind) {
  const std::string w = Utf8Lower(word);
  if (w == kGoodsWord || w == Utf8Lower(LangResStrHandler.Text(ltDepGoods))) {
    kind = DepKind::Goods;
  } else if (w == kServiceWord || w == Utf8Lower(LangResStrHandler.Text(ltDepService))) {
    kind = DepKind::Service;
  } else if (w == kClosedWord || w == Utf8Lower(LangResStrHandler.Text(ltDepClosed))) {
    kind = DepKind::Closed;
  } else {
    return false;
  }
  return true;
}

std::string StatusText(DepKind kind) {
  return LangResStrHandler.Text(kind == DepKind::Goods     ? ltDepGoods
                                : kind == DepKind::Service ? ltDepService
                                                           : ltDepClosed);
}

std::string GroupWord(const std::string& group) {
  return group.size() == 1 && group[0] >= 'A' && group[0] <= 'E' ? group : std::string(kNoGroupWord);
}

std::string PriceWord(std::int64_t hundredths) {
  std::string digits = std::to_string(hundredths);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  return digits.substr(0, digits.size() - 2) + "." + digits.substr(digits.size() - 2);
}

std::string Quote(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool ParseNumber(std::string_view text, int low, int high, int& out) {
  int v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() || v < low || v > high)
    return false;
  out = v;
  return true;
}

// "N.field" with N in 1..high.
bool SplitNumbered(std::string_view key, int high, int& number, std::string& field) {
  const std::size_t dot = key.find('.');
  if (dot == std::string_view::npos) return false;
  if (!ParseNumber(key.substr(0, dot), 1, high, number)) return false;
  field = std::string(key.substr(dot + 1));
  return true;
}

bool IsTextKey(std::string_view section, std::string_view key) {
  if (section == kConfigDepartmentsSection) return key.size() > 5 && key.substr(key.size() - 5) == ".name";
  if (section == kConfigReceiptSection) return key.find(".font") == std::string_view::npos;
  return section == kConfigOperatorsSection;
}

// Whether `key` belongs in `section`; else the reason.
bool KnownKey(std::string_view section, std::string_view key, std::string& why) {
  int n = 0;
  std::string field;
  if (section == kConfigOptionsSection) {
    if (ParseNumber(key, 1, kHighestOptionNumber, n)) return true;
    why = "\"" + std::string(key) + "\" is not an option number 1.." + std::to_string(kHighestOptionNumber);
    return false;
  }
  if (section == kConfigDepartmentsSection) {
    if (SplitNumbered(key, kMaxDepartments, n, field) &&
        (field == "status" || field == "name" || field == "group" || field == "price"))
      return true;
    why = "\"" + std::string(key) + "\" is not N.status, N.name, N.group or N.price with N = 1.." +
          std::to_string(kMaxDepartments);
    return false;
  }
  if (section == kConfigReceiptSection) {
    const bool header = key.rfind("header.", 0) == 0;
    const bool footer = key.rfind("footer.", 0) == 0;
    if ((header || footer) &&
        (key.substr(7) == "font" || ParseNumber(key.substr(7), 1, kReceiptLineCount, n)))
      return true;
    why = "\"" + std::string(key) + "\" is not header.font, footer.font, header.L or footer.L with L = 1.." +
          std::to_string(kReceiptLineCount);
    return false;
  }
  if (section == kConfigOperatorsSection) {
    if (SplitNumbered(key, kOperatorCount, n, field) && (field == "name" || field == "position")) return true;
    why = "\"" + std::string(key) + "\" is not N.name or N.position with N = 1.." +
          std::to_string(kOperatorCount);
    return false;
  }
  why = "the taxes are shown only and never written; \"" + std::string(key) + "\" must be a comment";
  return false;
}

unsigned TableOfSection(std::string_view section) {
  if (section == kConfigOptionsSection) return stOptions;
  if (section == kConfigDepartmentsSection) return stDepartments;
  if (section == kConfigReceiptSection) return stReceipt;
  if (section == kConfigOperatorsSection) return stOperators;
  return 0;
}

// A quoted text with its escapes; false with `why`.
bool Unquote(std::string_view v, std::string& out, std::string& why) {
  out.clear();
  for (std::size_t i = 1; i < v.size(); ++i) {
    const char c = v[i];
    if (c == '"') {
      if (!TrimBlanks(v.substr(i + 1)).empty()) {
        why = "text after the closing quote";
        return false;
      }
      return true;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i >= v.size()) break;
    const char e = v[i];
    if (e == '"' || e == '\\') {
      out += e;
    } else if (e == 'x' && i + 2 < v.size() && std::isxdigit(static_cast<unsigned char>(v[i + 1])) != 0 &&
               std::isxdigit(static_cast<unsigned char>(v[i + 2])) != 0) {
      const int code = std::stoi(std::string(v.substr(i + 1, 2)), nullptr, 16);
      if (code >= 0x80) {
        why = "\\x" + std::string(v.substr(i + 1, 2)) + " is not a character; write the character itself";
        return false;
      }
      out += static_cast<char>(code);
      i += 2;
    } else {
      why = "unknown escape \\" + std::string(1, e) + " (\\\" \\\\ \\xHH)";
      return false;
    }
  }
  why = "the closing quote is missing";
  return false;
}

std::string OptionComment(const TKKMInfo& info, int n) {
  const TOptionsInfo& o = info.options[static_cast<std::size_t>(n - 1)];
  std::string interval = std::to_string(o.minValue) + " - " + std::to_string(o.maxValue);
  if (o.canNull && o.minValue != 0) interval = "0; " + interval;
  std::string description = o.description;
  std::replace(description.begin(), description.end(), '\n', ' ');
  std::replace(description.begin(), description.end(), '\r', ' ');
  return "# " + std::to_string(n) + ". " + description + " (" + interval + ")";
}

bool InInterval(const TOptionsInfo& o, int v) {
  return (v >= o.minValue && v <= o.maxValue) || (v == 0 && o.canNull);
}

// A text value checked for its field; false with the reason.
bool CheckText(const std::string& text, std::size_t width, std::string& why) {
  if (const std::u32string bad = UnprintableChars(text); !bad.empty()) {
    why = "the register cannot print " + UnprintableList(bad) + " in \"" + text + "\"";
    return false;
  }
  if (const std::size_t length = Utf8Length(text); length > width) {
    why = "at most " + std::to_string(width) + " characters, not " + std::to_string(length);
    return false;
  }
  return true;
}

// The department as it stands after the file's fields of it.
struct DepartmentEdit {
  const TConfigEntry* status = nullptr;
  const TConfigEntry* name = nullptr;
  const TConfigEntry* group = nullptr;
  const TConfigEntry* price = nullptr;
};

}  // namespace

std::string ConfigText(const TKKMInfo& info, const TConfigTables& which) {
  std::string t;
  const auto line = [&t](const std::string& s) { t += s + "\n"; };
  line("# " + info.model + ", serial number " + info.serialNumber + ", version " + info.version);
  line("# UTF-8; one value per line; lines starting with # are comments. Texts in double quotes");
  line("# (\\\" for a quote, \\\\ for a backslash). A file may hold only some of the values:");
  line("# the ones it does not mention are left as the register has them.");
  if ((which.tables & stOptions) != 0) {
    line("");
    line("[" + std::string(kConfigOptionsSection) + "]");
    for (int n = 1; n <= info.OptionCount(); ++n) {
      line(OptionComment(info, n));
      line(std::to_string(n) + " = " + std::to_string(info.optionValues[static_cast<std::size_t>(n - 1)]));
    }
  }
  if ((which.tables & stDepartments) != 0) {
    line("");
    line("[" + std::string(kConfigDepartmentsSection) + "]");
    line("# status: goods, service or closed; group: A..E or none; price limit in roubles");
    for (int n = 1; n <= info.DepartmentCount(); ++n) {
      const TDepRec& d = info.departments[static_cast<std::size_t>(n - 1)];
      const std::string k = std::to_string(n) + ".";
      const DepKind kind = KindOfStatus(d.status);
      line(k + "status = " + std::string(KindWord(kind)));
      if (kind == DepKind::Closed) continue;
      line(k + "name = " + Quote(d.name));
      line(k + "group = " + GroupWord(d.taxGroup));
      line(k + "price = " + PriceWord(DepartmentPriceHundredths(d.price)));
    }
  }
  if ((which.tables & stReceipt) != 0) {
    line("");
    line("[" + std::string(kConfigReceiptSection) + "]");
    line("# fonts 0.." + std::to_string(info.maxCountFont) + "; lines of at most " +
         std::to_string(kConfigReceiptLineWidth) + " characters");
    for (int part = 0; part < 2; ++part) {
      const std::string block = part == 0 ? "header." : "footer.";
      line(block + "font = " + std::to_string(part == 0 ? info.headerFont : info.footerFont));
      const auto& lines = part == 0 ? info.headerLines : info.footerLines;
      for (int n = 1; n <= kReceiptLineCount; ++n)
        line(block + std::to_string(n) + " = " + Quote(lines[static_cast<std::size_t>(n - 1)]));
    }
  }
  if ((which.tables & stOperators) != 0 && which.operatorCount > 0) {
    line("");
    line("[" + std::string(kConfigOperatorsSection) + "]");
    for (int n = 1; n <= std::min(which.operatorCount, kOperatorCount); ++n) {
      const auto i = static_cast<std::size_t>(n - 1);
      line(std::to_string(n) + ".name = " + Quote(info.operatorNames[i]));
      line(std::to_string(n) + ".position = " + Quote(info.positions[i]));
    }
  }
  if (which.taxes) {
    line("");
    line("[" + std::string(kConfigTaxesSection) + "]");
    line("# shown only: the taxes are never written");
    for (int n = 1; n <= kTaxCount; ++n) {
      const TTaxRec& x = info.taxes[static_cast<std::size_t>(n - 1)];
      if (x.defined != TTaxRec::kDefinedMark) {
        line("# " + std::to_string(n) + ". не определен");
        continue;
      }
      const std::string kind = x.kind == 0   ? "начисляемый"
                               : x.kind == 1 ? "выделяемый"
                                             : std::to_string(x.kind);
      line("# " + std::to_string(n) + ". " + Quote(x.name) + " " + PriceWord(MoneyToHundredths(x.rate)) +
           " " + kind);
    }
  }
  return t;
}

std::string ConfigErrorText(const TConfigError& error) {
  return error.line > 0 ? std::to_string(error.line) + ": " + error.text : error.text;
}

unsigned TConfigFile::Tables() const {
  unsigned t = 0;
  for (const TConfigEntry& e : entries) t |= TableOfSection(e.section);
  return t;
}

bool ParseConfigText(std::string_view text, TConfigFile& out, std::vector<TConfigError>& errors) {
  out = TConfigFile{};
  errors.clear();
  if (!IsUtf8Text(text)) {
    errors.push_back({0, "the file is not UTF-8 text"});
    return false;
  }
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::string section;
  std::map<std::pair<std::string, std::string>, int> seen;
  int number = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    ++number;
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view raw = TrimBlanks(text.substr(pos, end - pos));
    pos = end + 1;
    if (raw.empty() || raw.front() == '#' || raw.front() == ';') continue;
    if (raw.front() == '[') {
      if (raw.back() != ']') {
        errors.push_back({number, "\"" + std::string(raw) + "\" is not a [section]"});
        continue;
      }
      section = Utf8Lower(TrimBlanks(raw.substr(1, raw.size() - 2)));
      if (section != kConfigOptionsSection && section != kConfigDepartmentsSection &&
          section != kConfigReceiptSection && section != kConfigOperatorsSection &&
          section != kConfigTaxesSection) {
        errors.push_back(
            {number, "unknown section [" + section + "] (options, departments, receipt, operators, taxes)"});
        section = "?";
      }
      continue;
    }
    const std::size_t eq = raw.find('=');
    if (eq == std::string_view::npos) {
      errors.push_back({number, "\"" + std::string(raw) + "\" is not KEY = VALUE"});
      continue;
    }
    if (section.empty()) {
      errors.push_back({number, "a value before the first [section]"});
      continue;
    }
    if (section == "?") continue;  // reported with the section
    const std::string key = Utf8Lower(TrimBlanks(raw.substr(0, eq)));
    const std::string_view v = TrimBlanks(raw.substr(eq + 1));
    std::string why;
    if (!KnownKey(section, key, why)) {
      errors.push_back({number, why});
      continue;
    }
    std::string value;
    if (!v.empty() && v.front() == '"') {
      if (!Unquote(v, value, why)) {
        errors.push_back({number, key + ": " + why});
        continue;
      }
    } else {
      value = std::string(v);
    }
    if (!IsTextKey(section, key) && value.empty()) {
      errors.push_back({number, key + ": the value is missing"});
      continue;
    }
    const auto [it, fresh] = seen.emplace(std::make_pair(section, key), number);
    if (!fresh) {
      errors.push_back({number, key + " is given already on line " + std::to_string(it->second)});
      continue;
    }
    out.entries.push_back({section, key, value, number});
  }
  return errors.empty();
}

std::string TConfigChange::Text() const {
  return "[" + section + "] " + key + ": " + from + " -> " + to;
}

bool DiffConfig(const TConfigFile& file, const TKKMInfo& current, const TConfigTables& which,
                std::vector<TConfigChange>& changes, std::vector<TConfigError>& errors) {
  changes.clear();
  errors.clear();
  std::map<int, DepartmentEdit> departments;
  for (const TConfigEntry& e : file.entries) {
    const unsigned table = TableOfSection(e.section);
    if ((which.tables & table) == 0) {
      errors.push_back({e.line, "[" + e.section + "] was not read from the register"});
      continue;
    }
    const auto change = [&](int number, bool footer, std::string from, std::string to) {
      if (from != to)
        changes.push_back({table, e.line, e.section, e.key, std::move(from), std::move(to), number, footer});
    };
    if (table == stOptions) {
      int n = 0;
      ParseNumber(e.key, 1, kHighestOptionNumber, n);
      if (n > current.OptionCount()) {
        errors.push_back({e.line, "option " + e.key + " does not exist on this register (it has " +
                                      std::to_string(current.OptionCount()) + " options)"});
        continue;
      }
      const TOptionsInfo& o = current.options[static_cast<std::size_t>(n - 1)];
      const int now = current.optionValues[static_cast<std::size_t>(n - 1)];
      int v = 0;
      // A value the register holds already is no change, even outside the
      // interval its descriptor gives: the file exported from it must apply.
      if (!ParseNumber(e.value, 0, kHighestOptionValue, v) || (v != now && !InInterval(o, v))) {
        std::string interval = std::to_string(o.minValue) + " - " + std::to_string(o.maxValue);
        if (o.canNull && o.minValue != 0) interval = "0; " + interval;
        errors.push_back({e.line, "option " + e.key + ": \"" + e.value + "\" is outside " + interval});
        continue;
      }
      change(n, false, std::to_string(now), std::to_string(v));
    } else if (table == stDepartments) {
      int n = 0;
      std::string field;
      SplitNumbered(e.key, kMaxDepartments, n, field);
      if (n > current.DepartmentCount()) {
        errors.push_back({e.line, "department " + std::to_string(n) +
                                      " does not exist on this register (it has " +
                                      std::to_string(current.DepartmentCount()) + ")"});
        continue;
      }
      DepartmentEdit& d = departments[n];
      (field == "status" ? d.status : field == "name" ? d.name : field == "group" ? d.group : d.price) = &e;
    } else if (table == stReceipt) {
      const bool footer = e.key[0] == 'f';
      const std::string_view rest = std::string_view(e.key).substr(7);
      if (rest == "font") {
        int font = 0;
        const int highest = std::min<int>(current.maxCountFont, kHighestFontNumber);
        const int now = footer ? current.footerFont : current.headerFont;
        if (!ParseNumber(e.value, 0, highest, font) && !(ParseNumber(e.value, 0, 255, font) && font == now)) {
          errors.push_back({e.line, e.key + ": \"" + e.value + "\" is not a font of this register (0.." +
                                        std::to_string(highest) + ")"});
          continue;
        }
        change(0, footer, std::to_string(now), std::to_string(font));
        continue;
      }
      int n = 0;
      ParseNumber(rest, 1, kReceiptLineCount, n);
      std::string why;
      const auto& lines = footer ? current.footerLines : current.headerLines;
      if (e.value != lines[static_cast<std::size_t>(n - 1)] &&
          !CheckText(e.value, kConfigReceiptLineWidth, why)) {
        errors.push_back({e.line, e.key + ": " + why});
        continue;
      }
      change(n, footer, Quote(lines[static_cast<std::size_t>(n - 1)]), Quote(e.value));
    } else if (table == stOperators) {
      int n = 0;
      std::string field;
      SplitNumbered(e.key, kOperatorCount, n, field);
      if (n > which.operatorCount) {
        errors.push_back({e.line, which.operatorCount == 0
                                      ? std::string("this register has no operators to program")
                                      : "operator " + std::to_string(n) +
                                            " does not exist on this register (it has " +
                                            std::to_string(which.operatorCount) + ")"});
        continue;
      }
      const bool name = field == "name";
      const auto i = static_cast<std::size_t>(n - 1);
      std::string why;
      if (e.value != (name ? current.operatorNames[i] : current.positions[i]) &&
          !CheckText(e.value, name ? which.operatorNameWidth : which.positionWidth, why)) {
        errors.push_back({e.line, e.key + ": " + why});
        continue;
      }
      const std::string from = Quote(name ? current.operatorNames[i] : current.positions[i]);
      if (from != Quote(e.value))
        changes.push_back({table, e.line, e.section, e.key, from, Quote(e.value), n, false, !name});
    }
  }
  // Departments: the fields of the file over those of the register.
  for (const auto& [n, d] : departments) {
    const TDepRec& now = current.departments[static_cast<std::size_t>(n - 1)];
    const DepKind was = KindOfStatus(now.status);
    DepKind kind = was;
    bool ok = true;
    if (d.status != nullptr && !KindOfWord(d.status->value, kind)) {
      errors.push_back(
          {d.status->line, d.status->key + ": \"" + d.status->value + "\" is not goods, service or closed"});
      ok = false;
    }
    if (ok && kind == DepKind::Closed) {
      for (const TConfigEntry* f : {d.name, d.group, d.price}) {
        if (f == nullptr) continue;
        errors.push_back(
            {f->line,
             "department " + std::to_string(n) + " is closed" +
                 (d.status != nullptr ? std::string() : std::string(" on the register")) +
                 ": a closed department has no " + f->key.substr(f->key.find('.') + 1) +
                 (d.status != nullptr ? std::string() : "; open it with " + std::to_string(n) + ".status")});
        ok = false;
      }
    }
    std::string group = GroupWord(now.taxGroup);
    if (d.group != nullptr) {
      const std::string g = Utf8Upper(d.group->value);
      if (g == Utf8Upper(kNoGroupWord) || (g.size() == 1 && g[0] >= 'A' && g[0] <= 'E')) {
        group = g.size() == 1 ? g : std::string(kNoGroupWord);
      } else {
        errors.push_back(
            {d.group->line, d.group->key + ": \"" + d.group->value + "\" is not a tax group A..E or none"});
        ok = false;
      }
    }
    std::int64_t price = DepartmentPriceHundredths(now.price);
    if (d.price != nullptr) {
      Currency c;
      if (!CurrencyFromText(d.price->value, c) || c.raw < 0 || c.raw % 100 != 0 ||
          c.raw / 100 > kHighestPriceHundredths) {
        errors.push_back({d.price->line, d.price->key + ": \"" + d.price->value +
                                             "\" is not an amount in roubles with at most two decimals"});
        ok = false;
      } else {
        price = c.raw / 100;
      }
    }
    if (d.name != nullptr && kind != DepKind::Closed &&
        !(was != DepKind::Closed && d.name->value == now.name)) {
      std::string why;
      if (!CheckText(d.name->value, kConfigDepartmentNameWidth, why)) {
        errors.push_back({d.name->line, d.name->key + ": " + why});
        ok = false;
      }
    }
    if (!ok) continue;
    // The number is copied: a lambda may not capture a structured binding on every compiler.
    const auto add = [&, number = n](const TConfigEntry* e, std::string from, std::string to) {
      if (from != to)
        changes.push_back(
            {stDepartments, e->line, e->section, e->key, std::move(from), std::move(to), number, false});
    };
    if (d.status != nullptr) add(d.status, std::string(KindWord(was)), std::string(KindWord(kind)));
    if (kind == DepKind::Closed) continue;
    if (d.name != nullptr)
      add(d.name, Quote(was == DepKind::Closed ? std::string() : now.name), Quote(d.name->value));
    if (d.group != nullptr)
      add(d.group, was == DepKind::Closed ? std::string(kNoGroupWord) : GroupWord(now.taxGroup), group);
    if (d.price != nullptr)
      add(d.price, PriceWord(was == DepKind::Closed ? 0 : DepartmentPriceHundredths(now.price)),
          PriceWord(price));
  }
  std::stable_sort(changes.begin(), changes.end(),
                   [](const TConfigChange& a, const TConfigChange& b) { return a.line < b.line; });
  std::stable_sort(errors.begin(), errors.end(),
                   [](const TConfigError& a, const TConfigError& b) { return a.line < b.line; });
  return errors.empty();
}

void ApplyConfigChanges(const std::vector<TConfigChange>& changes, TKKMInfo& info) {
  const auto unquoted = [](const std::string& q) {
    std::string out;
    std::string why;
    Unquote(q, out, why);
    return out;
  };
  // A department's state first: opening or closing one clears its fields,
  // which the other changes then fill.
  std::vector<const TConfigChange*> order;
  for (const TConfigChange& c : changes)
    if (c.table == stDepartments && c.key.ends_with(".status")) order.push_back(&c);
  for (const TConfigChange& c : changes)
    if (!(c.table == stDepartments && c.key.ends_with(".status"))) order.push_back(&c);
  for (const TConfigChange* next : order) {
    const TConfigChange& c = *next;
    const auto i = static_cast<std::size_t>(c.number > 0 ? c.number - 1 : 0);
    if (c.table == stOptions) {
      info.optionValues[i] = static_cast<std::uint8_t>(std::stoi(c.to));
    } else if (c.table == stReceipt) {
      if (c.number == 0)
        (c.footer ? info.footerFont : info.headerFont) = static_cast<std::uint8_t>(std::stoi(c.to));
      else
        (c.footer ? info.footerLines : info.headerLines)[i] = unquoted(c.to);
    } else if (c.table == stOperators) {
      (c.position ? info.positions : info.operatorNames)[i] = unquoted(c.to);
    } else if (c.table == stDepartments) {
      TDepRec& d = info.departments[i];
      const std::string field = c.key.substr(c.key.find('.') + 1);
      if (field == "status") {
        DepKind kind = DepKind::Closed;
        KindOfWord(c.to, kind);
        d.status = StatusText(kind);
        if (kind == DepKind::Closed) {
          // A closed department keeps neither name, tax group nor price.
          d.name.clear();
          d.taxGroup.clear();
          d.price = 0.0;
        } else if (c.from == kClosedWord) {
          d.name.clear();
          d.taxGroup.clear();
          d.price = 0.0;
        }
      } else if (field == "name") {
        d.name = unquoted(c.to);
      } else if (field == "group") {
        d.taxGroup = c.to == kNoGroupWord ? std::string() : c.to;
      } else if (field == "price") {
        Currency price;
        CurrencyFromText(c.to, price);
        d.price = HundredthsToMoney(price.raw / 100);
      }
    }
  }
}

bool TConfigWrites::Empty() const {
  return Count() == 0;
}

int TConfigWrites::Count() const {
  return (options ? 1 : 0) + static_cast<int>(departments.size() + headerLines.size() + footerLines.size() +
                                              operatorNames.size() + positions.size());
}

unsigned TConfigWrites::Tables() const {
  unsigned t = 0;
  if (options) t |= stOptions;
  if (!departments.empty()) t |= stDepartments;
  if (!headerLines.empty() || !footerLines.empty()) t |= stReceipt;
  if (!operatorNames.empty() || !positions.empty()) t |= stOperators;
  return t;
}

TConfigWrites ConfigWrites(const std::vector<TConfigChange>& changes) {
  std::set<int> departments;
  std::set<int> header;
  std::set<int> footer;
  std::set<int> names;
  std::set<int> positions;
  TConfigWrites w;
  for (const TConfigChange& c : changes) {
    if (c.table == stOptions) {
      w.options = true;
    } else if (c.table == stDepartments) {
      departments.insert(c.number);
    } else if (c.table == stReceipt) {
      std::set<int>& block = c.footer ? footer : header;
      if (c.number == 0)
        for (int n = 1; n <= kReceiptLineCount; ++n) block.insert(n);
      else
        block.insert(c.number);
    } else if (c.table == stOperators) {
      (c.position ? positions : names).insert(c.number);
    }
  }
  w.departments.assign(departments.begin(), departments.end());
  w.headerLines.assign(header.begin(), header.end());
  w.footerLines.assign(footer.begin(), footer.end());
  w.operatorNames.assign(names.begin(), names.end());
  w.positions.assign(positions.begin(), positions.end());
  return w;
}

}  // namespace zarvik
