#include "store/GoodsReport.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <variant>

#include "model/RegisterText.h"
#include "model/U_kkms.h"
#include "shell/DiaLog.h"
#include "shell/TextCodec.h"
#include "store/GoodsExchange.h"
#include "store/UnitBD.h"

namespace zarvik {
namespace {

constexpr std::int64_t kHighestPriceKopecks = 9999999999;  // ten BCD digits
constexpr std::int64_t kLowestGoodsCode = 1;

std::string Quoted(std::string_view value) {
  return "«" + std::string(value) + "»";
}

std::string Reason(const GoodsIssue& i) {
  const std::string limit = std::to_string(i.limit);
  switch (i.kind) {
    case GoodsIssueKind::NameCut:
      return "наименование " + Quoted(i.value) + " длиннее " + limit + " символов, обрезано";
    case GoodsIssueKind::NameNotCp1251:
      return "наименование " + Quoted(i.value) +
             " содержит знаки вне кодировки 1251, они будут записаны как «?»";
    case GoodsIssueKind::NameUnprintable:
      return "наименование " + Quoted(i.value) + ": ККМ не печатает знаки " +
             UnprintableList(UnprintableChars(i.value)) + ", они не будут записаны";
    case GoodsIssueKind::BarcodeCut:
      return "штрих-код " + Quoted(i.value) + " длиннее " + limit + " знаков, обрезан";
    case GoodsIssueKind::PriceNotNumber: return "цена " + Quoted(i.value) + " не число, цена не задана";
    case GoodsIssueKind::CountNotNumber:
      return "количество " + Quoted(i.value) + " не число, количество не задано";
    case GoodsIssueKind::DuplicateCode: return "код уже есть в файле выше, оставлена первая строка с этим кодом";
    case GoodsIssueKind::PriceRounded:
      // `limit` holds the price taken, in kopecks.
      return "цена " + Quoted(i.value) + " округлена до копеек: " +
             GoodsNumberText(Currency::FromRaw(i.limit * (Currency::kScale / kGoodsKopecksPerRouble)));
    case GoodsIssueKind::NoCode: return i.value.empty() ? "нет кода" : "нет кода (" + Quoted(i.value) + ")";
    case GoodsIssueKind::BadCode: return "код вне диапазона 1.." + limit;
    case GoodsIssueKind::CodeBeyondCapacity:
      return "код больше наибольшего номера товара ККМ (" + limit + ")";
    case GoodsIssueKind::NoPrice: return "нет цены";
    case GoodsIssueKind::BadPrice: return "неверная цена " + i.value;
    case GoodsIssueKind::BadType: return "неверный тип";
    case GoodsIssueKind::BadTaxGroup: return "неверная налоговая группа";
    case GoodsIssueKind::BadSaleKind: return "неверный признак весового товара";
    case GoodsIssueKind::BarcodeNotDigits:
      return "штрих-код " + Quoted(i.value) + " содержит не только цифры";
    case GoodsIssueKind::SectionOutOfRange: return "секция " + i.value + " вне диапазона 0.." + limit;
    case GoodsIssueKind::CellNotWhole: return Quoted(i.value) + " не целое число";
    case GoodsIssueKind::CellNotNumber: return Quoted(i.value) + " не число";
    case GoodsIssueKind::CellOutOfRange: return Quoted(i.value) + " вне диапазона";
    case GoodsIssueKind::CellError: return "в ячейке ошибка " + Quoted(i.value);
  }
  return {};
}

// Values of the current row by column index.
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

}  // namespace

bool IsGoodsSkip(GoodsIssueKind kind) {
  switch (kind) {
    case GoodsIssueKind::NameCut:
    case GoodsIssueKind::NameNotCp1251:
    case GoodsIssueKind::NameUnprintable:
    case GoodsIssueKind::BarcodeCut:
    case GoodsIssueKind::PriceNotNumber:
    case GoodsIssueKind::CountNotNumber:
    case GoodsIssueKind::PriceRounded: return false;
    default: return true;
  }
}

void GoodsImportReport::Reset(std::string fileName, GoodsPlaceKind kind) {
  *this = GoodsImportReport{};
  file = std::move(fileName);
  placeKind = kind;
}

int GoodsImportReport::PlaceOfRow(int row) const {
  if (row >= 0 && static_cast<std::size_t>(row) < rowPlaces.size())
    return rowPlaces[static_cast<std::size_t>(row)];
  return row + 1;
}

void GoodsImportReport::Add(GoodsIssue issue) {
  const bool skip = IsGoodsSkip(issue.kind);
  if (skip) {
    ++rowsSkipped;
    if (issue.kind == GoodsIssueKind::CodeBeyondCapacity) ++beyondCapacity;
  } else {
    ++changeCount;
  }
  std::vector<GoodsIssue>& kept = skip ? skips : changes;
  if (kept.size() < static_cast<std::size_t>(kIssuesInFull)) kept.push_back(std::move(issue));
}

bool GoodsImportReport::HasWarnings() const {
  return recordsNotRead > 0 || changeCount > 0 || rowsSkipped > 0 || !ignoredColumns.empty();
}

std::string GoodsIssueText(const GoodsIssue& issue, GoodsPlaceKind placeKind) {
  std::string text;
  if (!issue.cell.empty())
    text = issue.cell;
  else
    text = std::string(placeKind == GoodsPlaceKind::Record ? kGoodsRecordText : kGoodsLineText) +
           std::to_string(issue.place);
  if (!issue.code.empty()) text += std::string(kGoodsCodeText) + issue.code;
  return text + std::string(IsGoodsSkip(issue.kind) ? kGoodsNotWrittenText : std::string_view(": ")) +
         Reason(issue);
}

std::vector<GoodsReportLine> GoodsReportLines(const GoodsImportReport& r) {
  std::vector<GoodsReportLine> lines;
  if (r.encoding == GoodsTextEncoding::Utf8)
    lines.push_back({false, "Файл " + r.file + std::string(kGoodsReadAsUtf8Text)});
  if (r.headerSkipped) lines.push_back({false, std::string(kGoodsHeaderSkippedText)});
  if (!r.sheet.empty())
    lines.push_back({false, "Лист " + Quoted(r.sheet) + ", заголовок в строке " + std::to_string(r.headerRow)});
  if (!r.ignoredColumns.empty()) {
    std::string text = "Не считаны столбцы: ";
    for (std::size_t k = 0; k < r.ignoredColumns.size(); ++k) text += (k > 0 ? ", " : "") + r.ignoredColumns[k];
    lines.push_back({true, text});
  }
  if (r.recordsNotRead > 0)
    lines.push_back({true, "Считано " + std::to_string(r.rowsRead) + " зап. из " +
                               std::to_string(r.rowsRead + r.recordsNotRead) +
                               ": в таблицу товаров считывается не более " + std::to_string(r.rowLimit)});
  for (const GoodsIssue& i : r.changes) lines.push_back({true, GoodsIssueText(i, r.placeKind)});
  if (r.changeCount > static_cast<int>(r.changes.size()))
    lines.push_back({true, std::string(kGoodsMoreChangesText) + std::to_string(r.changeCount)});
  for (const GoodsIssue& i : r.skips) lines.push_back({true, GoodsIssueText(i, r.placeKind)});
  if (r.rowsSkipped > static_cast<int>(r.skips.size()))
    lines.push_back({true, std::string(kGoodsMoreSkipsText) + std::to_string(r.rowsSkipped)});
  if (r.beyondCapacity > 0)
    lines.push_back({true, std::string(kGoodsBeyondCapacityText) + std::to_string(r.maxCountGoods) +
                               "): " + std::to_string(r.beyondCapacity)});
  return lines;
}

void PublishGoodsReport(const GoodsImportReport& report) {
  for (const GoodsReportLine& line : GoodsReportLines(report)) {
    if (line.warning)
      Warning(line.text, false, true, true);
    else
      Mess(line.text, false, true, true);
  }
}

std::optional<GoodsIssue> GoodsRowSkipReason(const TWorkTable& table, int maxCountGoods, int maxCountDepat) {
  const GoodsColumns c(table);
  GoodsIssue issue;
  const std::optional<std::int64_t> code = IntAt(table, c[gfCode]);
  const auto fail = [&](GoodsIssueKind kind, std::string value = {}, long long limit = 0) {
    issue.kind = kind;
    issue.value = std::move(value);
    issue.limit = limit;
    return std::optional<GoodsIssue>(std::move(issue));
  };
  if (!code) return fail(GoodsIssueKind::NoCode);
  issue.code = std::to_string(*code);
  // The record has six digits for the code, whatever a descriptor says.
  const int capacity = std::min(maxCountGoods, kHighestGoodsNumber);
  if (*code < kLowestGoodsCode) return fail(GoodsIssueKind::BadCode, issue.code, capacity);
  if (*code > capacity) return fail(GoodsIssueKind::CodeBeyondCapacity, issue.code, capacity);
  const std::optional<std::int64_t> type = IntAt(table, c[gfType]);
  if (type && *type == kGoodsTypeNone) return std::nullopt;
  const std::optional<std::int64_t> price = IntAt(table, c[gfPrice]);
  if (!price) return fail(GoodsIssueKind::NoPrice);
  if (type.value_or(0) == kGoodsInvalid) return fail(GoodsIssueKind::BadType);
  if (IntAt(table, c[gfNG]).value_or(0) == kGoodsInvalid) return fail(GoodsIssueKind::BadTaxGroup);
  if (IntAt(table, c[gfVesovoy]).value_or(0) == kGoodsInvalid) return fail(GoodsIssueKind::BadSaleKind);
  const std::string barcode = TextAt(table, c[gfShtrih]);
  if (!AllDigits(barcode)) return fail(GoodsIssueKind::BarcodeNotDigits, barcode);
  const std::int64_t section = IntAt(table, c[gfSection]).value_or(0);
  if (section < 0 || section > maxCountDepat)
    return fail(GoodsIssueKind::SectionOutOfRange, std::to_string(section), maxCountDepat);
  // The record holds whole kopecks, ten digits at most.
  constexpr std::int64_t kRawPerKopeck = Currency::kScale / kGoodsKopecksPerRouble;
  if (*price < 0 || *price % kRawPerKopeck != 0 || *price / kRawPerKopeck > kHighestPriceKopecks)
    return fail(GoodsIssueKind::BadPrice, GoodsNumberText(Currency::FromRaw(*price)));
  // A type or tax group beyond a byte cannot come through the table's rules,
  // which mark them invalid; the record check stays with GoodsRowToRecord.
  return std::nullopt;
}

std::optional<GoodsIssue> GoodsNameIssue(const TWorkTable& table) {
  const GoodsColumns c(table);
  // A row marked for deletion only needs its code.
  if (IntAt(table, c[gfType]).value_or(0) == kGoodsTypeNone) return std::nullopt;
  const std::string name = TextAt(table, c[gfName]);
  if (IsPrintableText(Utf8Left(name, kGoodsNameWidth))) return std::nullopt;
  GoodsIssue issue;
  issue.kind = GoodsIssueKind::NameUnprintable;
  issue.value = name;
  if (const std::optional<std::int64_t> code = IntAt(table, c[gfCode])) issue.code = std::to_string(*code);
  return issue;
}

int CheckGoodsForRegister(TWorkTable& table, const TKKMInfo& info, GoodsImportReport& report) {
  report.checked = true;
  report.maxCountGoods = info.MaxCountGoods();
  report.rowsToWrite = 0;
  int row = 0;
  table.DisableControls();
  for (table.First(); !table.Eof(); table.Next(), ++row) {
    std::optional<GoodsIssue> issue = GoodsRowSkipReason(table, info.MaxCountGoods(), info.maxCountDepat);
    if (!issue) {
      ++report.rowsToWrite;
      if (std::optional<GoodsIssue> name = GoodsNameIssue(table)) {
        name->place = report.PlaceOfRow(row);
        report.Add(std::move(*name));
      }
      continue;
    }
    issue->place = report.PlaceOfRow(row);
    report.Add(std::move(*issue));
  }
  table.First();
  table.EnableControls();
  return report.rowsToWrite;
}

}  // namespace zarvik
