#include "store/GoodsPlan.h"

#include <algorithm>
#include <optional>
#include <set>
#include <span>
#include <unordered_map>
#include <utility>
#include <variant>

#include "model/RegisterText.h"
#include "model/Typessimpledata.h"
#include "protocol/TransferResume.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "shell/TextCodec.h"
#include "shell/U_language.h"
#include "store/GoodsExchange.h"
#include "store/RegisterBackup.h"
#include "store/UnitBD.h"

namespace zarvik {
namespace {

// The goods record as the write sends it: bytes 0..53; the quantity sold
// follows and is never sent.
constexpr std::size_t kTypeOffset = 0;
constexpr std::size_t kFlagsOffset = 1;
constexpr std::size_t kNameOffset = 5;
constexpr std::size_t kNameWidth = kGoodsNameWidth;
constexpr std::size_t kTaxGroupOffset = 42;
constexpr std::size_t kSectionOffset = 43;
constexpr std::int64_t kHighestPriceKopecks = 9999999999;  // ten BCD digits
constexpr std::int64_t kRawPerKopeck = Currency::kScale / kGoodsKopecksPerRouble;
constexpr std::uint8_t kOtherFlags = static_cast<std::uint8_t>(~(kGoodsFlagByPiece | kGoodsFlagBlocked));

// Register replies of the goods reads: result code, then the record.
constexpr std::size_t kReplyResultOffset = 2;
constexpr std::size_t kReplyRecordOffset = 3;
constexpr std::int32_t kGoodsAnswerLength = 67;
constexpr int kResultGoodsNotFound = 9;
constexpr int kResultBadGoodsCode = 17;

using Record = std::array<std::uint8_t, kGoodsRecordSize>;

std::optional<std::int64_t> IntAt(const TWorkTable& t, int column) {
  const WtValue& v = t.Value(column);
  if (const auto* n = std::get_if<std::int64_t>(&v)) return *n;
  return std::nullopt;
}

std::string TextAt(const TWorkTable& t, int column) {
  const WtValue& v = t.Value(column);
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  return {};
}

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// Packed BCD, least significant byte first, as decimal digits without
// leading zeros ("0" for zero); "?" for a nibble above 9.
std::string BcdText(const std::uint8_t* bytes, std::size_t length) {
  std::string digits;
  for (std::size_t i = length; i-- > 0;) {
    const int hi = bytes[i] >> 4;
    const int lo = bytes[i] & 0x0F;
    if (hi > 9 || lo > 9) return "?";
    digits += static_cast<char>('0' + hi);
    digits += static_cast<char>('0' + lo);
  }
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? std::string("0") : digits.substr(first);
}

std::string KopecksText(const std::string& kopecks) {
  if (kopecks == "?") return kopecks;
  std::string k = kopecks.size() < 3 ? std::string(3 - kopecks.size(), '0') + kopecks : kopecks;
  return k.substr(0, k.size() - 2) + "." + k.substr(k.size() - 2);
}

std::string TypeTitle(int type) {
  switch (type) {
    case kGoodsTypeNone: return "удалён";
    case kGoodsTypeGoods: return "товар";
    case kGoodsTypeService: return "услуга";
    case kGoodsTypeContainer: return "тара";
    default: return std::to_string(type);
  }
}

std::string TaxGroupTitle(int group) {
  if (group >= 1 && group <= kGoodsHighestTaxGroup) return std::string(1, static_cast<char>('A' + group - 1));
  return std::to_string(group);
}

// The name a record gives, as the register prints it.
std::string RecordName(const Record& r) {
  return TrimRight(RegisterFieldText(TextFromField(r.data() + kNameOffset, kNameWidth), kNameWidth));
}

std::string RecordPrice(const Record& r) {
  return KopecksText(BcdText(r.data() + kGoodsPriceOffset, kGoodsPriceLength));
}

std::string RecordBarcode(const Record& r) {
  return BcdText(r.data() + kGoodsBarcodeOffset, kGoodsBarcodeLength);
}

std::string RecordSold(const Record& r) {
  const std::string t = BcdText(r.data() + kGoodsSoldOffset, kGoodsSoldLength);
  if (t == "?" || t == "0") return t;
  std::string k = t.size() < 4 ? std::string(4 - t.size(), '0') + t : t;
  std::string text = k.substr(0, k.size() - 3) + "." + k.substr(k.size() - 3);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

bool SoldIsZero(const Record& r) {
  return std::all_of(r.begin() + kGoodsSoldOffset, r.begin() + kGoodsSoldOffset + kGoodsSoldLength,
                     [](std::uint8_t b) { return b == 0; });
}

bool SameBytes(const Record& a, const Record& b, std::size_t offset, std::size_t length) {
  return std::equal(a.begin() + static_cast<std::ptrdiff_t>(offset),
                    a.begin() + static_cast<std::ptrdiff_t>(offset + length),
                    b.begin() + static_cast<std::ptrdiff_t>(offset));
}

// The fields in which `sent` differs from `held`, in field order.
std::vector<GoodsFieldChange> RecordChanges(const Record& held, const Record& sent, bool resetSold) {
  std::vector<GoodsFieldChange> changes;
  const auto add = [&](std::string_view field, std::string from, std::string to) {
    changes.push_back({std::string(field), std::move(from), std::move(to)});
  };
  if (held[kTypeOffset] != sent[kTypeOffset])
    add("Type", TypeTitle(held[kTypeOffset]), TypeTitle(sent[kTypeOffset]));
  // A record deleted needs nothing more than its type.
  if (sent[kTypeOffset] == kGoodsTypeNone) return changes;
  if (RecordName(held) != RecordName(sent)) add("Name", RecordName(held), RecordName(sent));
  if (held[kTaxGroupOffset] != sent[kTaxGroupOffset])
    add("NG", TaxGroupTitle(held[kTaxGroupOffset]), TaxGroupTitle(sent[kTaxGroupOffset]));
  if (!SameBytes(held, sent, kGoodsPriceOffset, kGoodsPriceLength))
    add("Price", RecordPrice(held), RecordPrice(sent));
  if (held[kSectionOffset] != sent[kSectionOffset])
    add("Section", std::to_string(held[kSectionOffset]), std::to_string(sent[kSectionOffset]));
  const std::uint8_t hf = held[kFlagsOffset];
  const std::uint8_t sf = sent[kFlagsOffset];
  const auto sale = [](std::uint8_t f) { return std::string((f & kGoodsFlagByPiece) != 0 ? "шт." : "вес."); };
  if (((hf ^ sf) & kGoodsFlagByPiece) != 0) add("Vesovoy", sale(hf), sale(sf));
  if (!SameBytes(held, sent, kGoodsBarcodeOffset, kGoodsBarcodeLength))
    add("Shtrih", RecordBarcode(held), RecordBarcode(sent));
  const auto blocked = [](std::uint8_t f) {
    return std::string((f & kGoodsFlagBlocked) != 0 ? "да" : "нет");
  };
  if (((hf ^ sf) & kGoodsFlagBlocked) != 0) add("isBlock", blocked(hf), blocked(sf));
  if (((hf ^ sf) & kOtherFlags) != 0) add("Flags", std::to_string(hf), std::to_string(sf));
  // The code and the rest of what is sent are the same by construction.
  if (resetSold && !SoldIsZero(held)) add("Count", RecordSold(held), "0");
  return changes;
}

// Weighted sum of the EAN/UPC check: from the right, the digit before the
// check digit weighs 3, the next 1, and so on; leading zeros weigh nothing,
// so a code is checked the same with or without them.
bool CheckDigitHolds(std::string_view digits) {
  int sum = 0;
  int weight = 1;
  for (std::size_t i = digits.size(); i-- > 0;) {
    sum += (digits[i] - '0') * weight;
    weight = weight == 1 ? 3 : 1;
  }
  return sum % 10 == 0;
}

struct CheckContext {
  std::vector<GoodsCheck>& out;
  int place = 0;
  std::string code;
  void Add(GoodsCheckKind kind, std::string_view field, std::string value, std::string problem,
           std::string allowed = {}) {
    GoodsCheck c;
    c.kind = kind;
    c.error = IsGoodsCheckError(kind);
    c.place = place;
    c.code = code;
    c.field = std::string(field);
    c.value = std::move(value);
    c.problem = std::move(problem);
    c.allowed = std::move(allowed);
    out.push_back(std::move(c));
  }
};

std::string SectionsAllowed(const GoodsRegisterLimits& limits) {
  std::string open;
  for (int n = 1; n <= limits.maxCountDepat && static_cast<std::size_t>(n) < limits.sectionOpen.size(); ++n)
    if (limits.sectionOpen[static_cast<std::size_t>(n)])
      open += (open.empty() ? "" : ", ") + std::to_string(n);
  return "0 (без отдела)" + (open.empty() ? std::string() : ", открытые отделы " + open);
}

std::string TaxesAllowed(const GoodsRegisterLimits& limits) {
  std::string groups = "0 (без налога)";
  for (int n = 1; n <= kTaxCount; ++n)
    if (limits.taxDefined[static_cast<std::size_t>(n - 1)])
      groups += ", " + std::to_string(n) + " (" + TaxGroupTitle(n) + ")";
  return groups;
}

constexpr std::string_view kBarcodeAllowed =
    "EAN-13, EAN-8 или UPC-A: 13, 8 или 12 цифр с контрольной цифрой";

}  // namespace

bool IsGoodsCheckError(GoodsCheckKind kind) {
  switch (kind) {
    case GoodsCheckKind::NameCut:
    case GoodsCheckKind::NameUnprintable:
    case GoodsCheckKind::BarcodeInStore:
    case GoodsCheckKind::BarcodeDuplicate: return false;
    default: return true;
  }
}

GoodsRegisterLimits GoodsLimitsOf(const TKKMInfo& info) {
  GoodsRegisterLimits limits;
  limits.maxCountGoods = std::min(info.MaxCountGoods(), kHighestGoodsNumber);
  limits.maxCountDepat = std::clamp(info.maxCountDepat, 0, kMaxDepartments);
  limits.sectionOpen.assign(static_cast<std::size_t>(limits.maxCountDepat) + 1, false);
  const std::string goods = LangResStrHandler.Text(ltDepGoods);
  const std::string service = LangResStrHandler.Text(ltDepService);
  for (int n = 1; n <= limits.maxCountDepat; ++n) {
    const TDepRec& dep = info.departments[static_cast<std::size_t>(n - 1)];
    limits.sectionOpen[static_cast<std::size_t>(n)] = dep.status == goods || dep.status == service;
  }
  for (int n = 0; n < kTaxCount; ++n)
    limits.taxDefined[static_cast<std::size_t>(n)] =
        info.taxes[static_cast<std::size_t>(n)].defined == TTaxRec::kDefinedMark;
  return limits;
}

bool ReadGoodsLimits(TProtocolKKM& protocol, TWorkTable& table, bool taxesKnown,
                     GoodsRegisterLimits& limits) {
  if (protocol.kkm == nullptr) return false;
  TKKMInfo& info = protocol.kkm->Info();
  const int departments = std::clamp(info.maxCountDepat, 0, kMaxDepartments);
  const GoodsColumns c(table);
  std::set<std::int64_t> sections;
  table.DisableControls();
  for (table.First(); !table.Eof(); table.Next()) {
    if (IntAt(table, c[gfType]).value_or(kGoodsTypeNone) == kGoodsTypeNone) continue;
    if (const std::int64_t s = IntAt(table, c[gfSection]).value_or(0); s != 0) sections.insert(s);
  }
  table.First();
  table.EnableControls();
  std::set<int> read;
  const auto readDepartment = [&](int n) {
    if (!read.insert(n).second) return true;
    return RunResuming(protocol, {}, [&protocol, n] { return protocol.GetDepartment(n); });
  };
  for (const std::int64_t s : sections)
    if (s >= 1 && s <= departments && !readDepartment(static_cast<int>(s))) return false;
  if (!taxesKnown)
    for (int n = 1; n <= kTaxCount; ++n)
      if (!RunResuming(protocol, {}, [&protocol, n] { return protocol.GetTax(n); })) return false;
  limits = GoodsLimitsOf(info);
  // A row that names a closed department, or one the register lacks, is told
  // which are open: then the rest are read too.
  const bool refused = std::any_of(sections.begin(), sections.end(), [&](std::int64_t s) {
    return s < 1 || s > departments || !limits.sectionOpen[static_cast<std::size_t>(s)];
  });
  if (refused) {
    for (int n = 1; n <= departments; ++n)
      if (!readDepartment(n)) return false;
    limits = GoodsLimitsOf(info);
  }
  return true;
}

BarcodeVerdict CheckBarcode(std::string_view barcode) {
  if (barcode.empty() || barcode == "0") return BarcodeVerdict::None;
  if (!AllDigits(barcode)) return BarcodeVerdict::NotDigits;
  switch (barcode.size()) {
    case 7:          // EAN-8 without its leading zero
    case 8:          // EAN-8
    case 11:         // UPC-A without its leading zero
    case 12:         // UPC-A
    case 13: break;  // EAN-13
    default: return BarcodeVerdict::BadLength;
  }
  // The shop's own range: weight and price codes whose last digits are no
  // check digit.
  if (barcode.front() == '2') return BarcodeVerdict::InStore;
  return CheckDigitHolds(barcode) ? BarcodeVerdict::Valid : BarcodeVerdict::BadCheckDigit;
}

std::vector<GoodsCheck> CheckGoodsRows(TWorkTable& table, const GoodsRegisterLimits& limits,
                                       const GoodsImportReport& report, bool currentOnly) {
  std::vector<GoodsCheck> out;
  // Rows the file reading left out are named first: they would not be written.
  for (const GoodsIssue& issue : report.skips) {
    CheckContext ctx{out, issue.place, issue.code};
    ctx.Add(GoodsCheckKind::FileRowDropped, "Code", issue.code, GoodsIssueText(issue, report.placeKind));
  }
  if (report.rowsSkipped > static_cast<int>(report.skips.size())) {
    CheckContext ctx{out, 0, {}};
    ctx.Add(GoodsCheckKind::FileRowDropped, "Code", {},
            std::string(kGoodsMoreSkipsText) + std::to_string(report.rowsSkipped));
  }
  const GoodsColumns c(table);
  std::unordered_map<std::int64_t, int> codePlaces;
  std::unordered_map<std::string, std::pair<int, std::string>> barcodes;  // place and code
  int inStore = 0;
  std::optional<GoodsCheck> firstInStore;
  const int current = table.RecNo();
  const auto checkRow = [&](int row) {
    CheckContext ctx{out, report.PlaceOfRow(row), {}};
    const std::optional<std::int64_t> code = IntAt(table, c[gfCode]);
    const std::string codeRange = "1.." + std::to_string(limits.maxCountGoods);
    if (!code) {
      ctx.Add(GoodsCheckKind::NoCode, "Code", {}, "нет кода", codeRange);
      return;
    }
    ctx.code = std::to_string(*code);
    if (*code < 1 || *code > limits.maxCountGoods)
      ctx.Add(GoodsCheckKind::CodeOutOfRange, "Code", ctx.code, "код вне номеров товаров ККМ", codeRange);
    if (const auto [it, fresh] = codePlaces.emplace(*code, ctx.place); !fresh)
      ctx.Add(GoodsCheckKind::DuplicateCode, "Code", ctx.code,
              "код повторяет строку " + std::to_string(it->second), "каждый код один раз");
    const std::optional<std::int64_t> type = IntAt(table, c[gfType]);
    // A row marked for deletion needs nothing but its code.
    if (type && *type == kGoodsTypeNone) return;
    if (!type || (*type != kGoodsTypeGoods && *type != kGoodsTypeService && *type != kGoodsTypeContainer))
      ctx.Add(GoodsCheckKind::BadType, "Type", type ? std::to_string(*type) : std::string(),
              type ? "неизвестный тип" : "нет типа", "170 (товар), 165 (услуга), 160 (тара), 0 (удалить)");
    const std::string name = TextAt(table, c[gfName]);
    if (Utf8Length(name) > static_cast<std::size_t>(kGoodsNameWidth))
      ctx.Add(GoodsCheckKind::NameCut, "Name", name,
              "длиннее поля, будет записано «" + TrimRight(Utf8Left(name, kGoodsNameWidth)) + "»",
              "не более " + std::to_string(kGoodsNameWidth) + " знаков");
    if (const std::u32string bad = UnprintableChars(Utf8Left(name, kGoodsNameWidth)); !bad.empty())
      ctx.Add(GoodsCheckKind::NameUnprintable, "Name", name,
              "ККМ не печатает знаки " + UnprintableList(bad) + ", они не будут записаны",
              "знаки, которые ККМ печатает");
    const std::optional<std::int64_t> price = IntAt(table, c[gfPrice]);
    const std::string priceAllowed = "число не больше 99999999.99, не более двух знаков после точки";
    if (!price) {
      ctx.Add(GoodsCheckKind::NoPrice, "Price", {}, "нет цены", priceAllowed);
    } else if (*price < 0 || *price % kRawPerKopeck != 0 || *price / kRawPerKopeck > kHighestPriceKopecks) {
      ctx.Add(GoodsCheckKind::BadPrice, "Price", GoodsNumberText(Currency::FromRaw(*price)),
              *price < 0 ? "цена меньше нуля"
                         : (*price % kRawPerKopeck != 0 ? "больше двух знаков после точки"
                                                        : "не помещается в поле цены"),
              priceAllowed);
    }
    const std::optional<std::int64_t> section = IntAt(table, c[gfSection]);
    const std::int64_t s = section.value_or(0);
    if (s < 0 || s > limits.maxCountDepat)
      ctx.Add(GoodsCheckKind::SectionOutOfRange, "Section", std::to_string(s), "такого отдела в ККМ нет",
              SectionsAllowed(limits));
    else if (s > 0 && (static_cast<std::size_t>(s) >= limits.sectionOpen.size() ||
                       !limits.sectionOpen[static_cast<std::size_t>(s)]))
      ctx.Add(GoodsCheckKind::SectionClosed, "Section", std::to_string(s), "отдел закрыт",
              SectionsAllowed(limits));
    const std::int64_t ng = IntAt(table, c[gfNG]).value_or(0);
    if (ng < 0 || ng > kTaxCount || (ng > 0 && !limits.taxDefined[static_cast<std::size_t>(ng - 1)]))
      ctx.Add(GoodsCheckKind::BadTaxGroup, "NG", std::to_string(ng),
              ng == kGoodsInvalid ? "неверная налоговая группа" : "такого налога в ККМ нет",
              TaxesAllowed(limits));
    // The sale kind and the barcode travel with goods only.
    if (type && *type == kGoodsTypeGoods) {
      const std::optional<std::int64_t> sale = IntAt(table, c[gfVesovoy]);
      if (!sale || (*sale != kGoodsSaleByPiece && *sale != 2))
        ctx.Add(GoodsCheckKind::BadSaleKind, "Vesovoy", sale ? std::to_string(*sale) : std::string(),
                sale ? "неизвестный признак" : "не задан", "1 (штучный), 2 (весовой)");
      const std::string barcode = TextAt(table, c[gfShtrih]);
      switch (CheckBarcode(barcode)) {
        case BarcodeVerdict::None:
        case BarcodeVerdict::Valid: break;
        case BarcodeVerdict::InStore:
          if (++inStore == 1) {
            std::vector<GoodsCheck> one;
            CheckContext first{one, ctx.place, ctx.code};
            first.Add(GoodsCheckKind::BarcodeInStore, "Shtrih", barcode,
                      "штрих-код внутреннего диапазона магазина (начинается с 2), контрольная цифра не "
                      "проверяется",
                      std::string(kBarcodeAllowed));
            firstInStore = std::move(one.front());
            out.push_back(*firstInStore);
          }
          break;
        case BarcodeVerdict::NotDigits:
          ctx.Add(GoodsCheckKind::BarcodeNotDigits, "Shtrih", barcode, "не только цифры",
                  std::string(kBarcodeAllowed));
          break;
        case BarcodeVerdict::BadLength:
          ctx.Add(GoodsCheckKind::BarcodeLength, "Shtrih", barcode, std::to_string(barcode.size()) + " цифр",
                  std::string(kBarcodeAllowed));
          break;
        case BarcodeVerdict::BadCheckDigit:
          ctx.Add(GoodsCheckKind::BarcodeCheckDigit, "Shtrih", barcode, "неверная контрольная цифра",
                  std::string(kBarcodeAllowed));
          break;
      }
      if (CheckBarcode(barcode) != BarcodeVerdict::None && AllDigits(barcode)) {
        const std::string key = barcode.substr(std::min(barcode.find_first_not_of('0'), barcode.size()));
        if (const auto [it, fresh] = barcodes.emplace(key, std::make_pair(ctx.place, ctx.code)); !fresh)
          ctx.Add(GoodsCheckKind::BarcodeDuplicate, "Shtrih", barcode,
                  "тот же штрих-код у кода " + it->second.second + " (строка " +
                      std::to_string(it->second.first) + ")",
                  "свой штрих-код у каждого товара");
      }
    }
  };
  table.DisableControls();
  if (currentOnly) {
    if (current > 0) checkRow(current - 1);
  } else {
    int row = 0;
    for (table.First(); !table.Eof(); table.Next(), ++row) checkRow(row);
    table.First();
  }
  table.EnableControls();
  // A warning that many rows share is shown for the first of them, then counted.
  std::map<GoodsCheckKind, int> seen;
  std::vector<GoodsCheck> kept;
  for (GoodsCheck& check : out) {
    if (!check.error && ++seen[check.kind] > GoodsImportReport::kIssuesInFull) continue;
    kept.push_back(std::move(check));
  }
  for (const auto& [kind, count] : seen) {
    if (count <= GoodsImportReport::kIssuesInFull) continue;
    GoodsCheck more;
    more.kind = kind;
    more.error = false;
    more.problem =
        "то же предупреждение ещё в " + std::to_string(count - GoodsImportReport::kIssuesInFull) + " строках";
    kept.push_back(std::move(more));
  }
  out = std::move(kept);
  // The in-store range is named once, with how many rows have it.
  if (inStore > 1) {
    for (GoodsCheck& check : out)
      if (check.kind == GoodsCheckKind::BarcodeInStore)
        check.problem += "; таких штрих-кодов в файле: " + std::to_string(inStore);
  }
  return out;
}

GoodsWritePlan PlanGoodsWrite(TWorkTable& table, const GoodsRegisterLimits& limits,
                              const GoodsImportReport& report, const TRegisterGoods& held, bool all,
                              bool resetSold) {
  GoodsWritePlan plan;
  plan.placeKind = report.placeKind;
  plan.compared = !all;
  plan.checks = CheckGoodsRows(table, limits, report);
  for (const GoodsCheck& check : plan.checks) ++(check.error ? plan.errorCount : plan.warningCount);
  if (plan.HasErrors()) return plan;
  const GoodsColumns c(table);
  TKKMInfo scratch;
  int row = 0;
  table.DisableControls();
  for (table.First(); !table.Eof(); table.Next(), ++row) {
    GoodsPlanRow r;
    r.row = row;
    r.place = report.PlaceOfRow(row);
    r.code = IntAt(table, c[gfCode]).value_or(0);
    r.name = TextAt(table, c[gfName]);
    // The checks passed, so the record holds every value.
    if (!GoodsRowToRecord(table, scratch)) continue;
    const Record sent = scratch.GoodsRecord;
    const auto found = held.records.find(r.code);
    const bool known = found != held.records.end();
    r.isNew = held.read && !known;
    if (known) r.changes = RecordChanges(found->second, sent, resetSold);
    const bool deletion = sent[kTypeOffset] == kGoodsTypeNone;
    if (!all) {
      // Deleting a code the register lacks, or writing what it holds, changes nothing.
      if ((r.isNew && deletion) || (known && r.changes.empty())) {
        ++plan.unchanged;
        continue;
      }
    }
    ++(r.isNew ? plan.added : plan.changed);
    plan.send.push_back(std::move(r));
  }
  table.First();
  table.EnableControls();
  return plan;
}

std::vector<int> GoodsCodesToRead(TWorkTable& table, const TKKMInfo& info) {
  const GoodsColumns c(table);
  std::vector<int> codes;
  bool beyond = false;
  table.DisableControls();
  for (table.First(); !table.Eof() && !beyond; table.Next()) {
    const std::optional<std::int64_t> code = IntAt(table, c[gfCode]);
    if (!code || *code < 1 || *code > info.MaxCountGoods()) continue;
    beyond =
        *code > kHighestSingleGoodsRead || codes.size() >= static_cast<std::size_t>(kMostGoodsReadOneByOne);
    codes.push_back(static_cast<int>(*code));
  }
  table.First();
  table.EnableControls();
  if (beyond) codes.clear();
  return codes;
}

bool ReadRegisterGoods(TProtocolKKM& protocol, const std::vector<int>& codes,
                       const TGoodsReadProgress& progress, TRegisterGoods& out) {
  out = TRegisterGoods{};
  if (protocol.kkm == nullptr) return false;
  TKKMInfo& info = protocol.kkm->Info();
  const auto take = [&](const std::uint8_t* record) {
    std::copy_n(record, kGoodsRecordSize, info.GoodsRecord.begin());
    std::int64_t code = 0;
    if (!GoodsRecordCode(info, code)) return false;
    out.records[code] = info.GoodsRecord;
    return true;
  };
  bool ok = true;
  if (!codes.empty()) {
    // A code the register does not hold is a new one.
    const TMessageBuffer& answer = protocol.LastAnswer();
    int received = 0;
    for (const int code : codes) {
      // A read whose exchange failed is asked again, as the transfers do.
      ok = RunResuming(protocol, {}, [&protocol, code] { return protocol.ProbeGoods(code); });
      if (ok && TProtocolKKM::AnswerCode(answer) == 0) {
        ok = answer.count == kGoodsAnswerLength && take(answer.bytes.data() + kReplyRecordOffset);
      }
      if (!ok) {
        Error("не удалось прочитать товар " + std::to_string(code) + " из ККМ", true, true, true);
        return false;
      }
      if (progress && !progress(++received)) {
        Warning("Товар частично загружен", false, true, true);
        return false;
      }
    }
    out.read = true;
    return true;
  }
  std::int64_t last = 0;
  int received = 0;
  bool stopped = false;
  bool refused = false;
  TResumeControl control;
  control.stopRequested = [&stopped] { return stopped; };
  ok = ReadAllGoodsResuming(
      protocol,
      [&](TMessageBuffer& answer, bool& more) {
        ++received;
        if (progress && !progress(received)) {
          stopped = true;
          more = false;
        }
        const std::span<const std::uint8_t> bytes = answer.View();
        if (bytes.size() <= kReplyResultOffset) return;
        const int status = bytes[kReplyResultOffset];
        if (status == kResultGoodsNotFound || status == kResultBadGoodsCode) return;
        if (status != 0 || bytes.size() < kReplyRecordOffset + kGoodsRecordSize) {
          Error(status != 0 ? ErrorText(status) : std::string("Не верный размер полученых данных"), false,
                true, true);
          refused = true;
          more = false;
          return;
        }
        std::copy_n(bytes.begin() + kReplyRecordOffset, kGoodsRecordSize, info.GoodsRecord.begin());
        std::int64_t code = 0;
        if (!GoodsRecordCode(info, code) || code <= last) return;  // a repeated or unreadable record
        last = code;
        out.records[code] = info.GoodsRecord;
      },
      control);
  if (!ok || refused) Error("Сбой при загрузке товара", false, true, true);
  if (stopped) Warning("Товар частично загружен", false, true, true);
  ok = ok && !refused && !stopped;
  out.read = ok;
  return ok;
}

std::string GoodsFieldTitle(std::string_view field) {
  static const std::pair<std::string_view, std::string_view> kTitles[] = {
      {"Code", "код"},           {"Type", "тип"},      {"Name", "наименование"}, {"NG", "налог. группа"},
      {"Price", "цена"},         {"Section", "отдел"}, {"Vesovoy", "продажа"},   {"Shtrih", "штрих-код"},
      {"isBlock", "блокирован"}, {"Count", "продано"}, {"Flags", "флаги"}};
  for (const auto& [name, title] : kTitles)
    if (name == field) return std::string(title);
  return std::string(field);
}

std::string GoodsCheckText(const GoodsCheck& check, GoodsPlaceKind placeKind) {
  // A row the file reading left out, or a count, has its own whole text.
  if (check.kind == GoodsCheckKind::FileRowDropped || (check.place == 0 && check.code.empty()))
    return check.problem;
  std::string text(placeKind == GoodsPlaceKind::Record ? kGoodsRecordText : kGoodsLineText);
  text += std::to_string(check.place);
  if (!check.code.empty()) text += std::string(kGoodsCodeText) + check.code;
  text += ": " + GoodsFieldTitle(check.field);
  if (!check.value.empty()) text += " «" + check.value + "»";
  text += ": " + check.problem;
  if (!check.allowed.empty()) text += " (ККМ допускает: " + check.allowed + ")";
  return text;
}

std::vector<std::string> GoodsPlanRowLines(const GoodsPlanRow& row) {
  const std::string code = std::to_string(row.code);
  if (row.isNew) return {code + ": " + std::string(kGoodsNewText)};
  std::vector<std::string> lines;
  for (const GoodsFieldChange& change : row.changes)
    lines.push_back(code + ": " + GoodsFieldTitle(change.field) + ": " + change.registerValue + " -> " +
                    change.fileValue);
  // Sent without a comparison (every row asked for).
  if (lines.empty()) lines.push_back(code + ": записывается");
  return lines;
}

std::string GoodsPlanSummary(const GoodsWritePlan& plan) {
  return "изменится " + std::to_string(plan.changed) + ", новых " + std::to_string(plan.added) +
         ", без изменений " + std::to_string(plan.unchanged);
}

std::string GoodsWriteResultText(int written, int added, int unchanged, int failed) {
  return "записано " + std::to_string(written) + " (новых " + std::to_string(added) + "), без изменений " +
         std::to_string(unchanged) + ", пропущено с ошибками " + std::to_string(failed);
}

}  // namespace zarvik
