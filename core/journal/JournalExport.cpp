#include "journal/JournalExport.h"

#include <xlsxwriter.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "journal/U_magazineoperation.h"
#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"

namespace zarvik {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr char kCsvSeparator = ';';
constexpr const char* kMoneyFormat = "0.00";
constexpr const char* kQuantityFormat = "0.000";
constexpr double kKopecks = 100.0;
constexpr double kThousandths = 1000.0;
constexpr double kColumnWidth = 14.0;
constexpr const char* kTempSuffix = ".tmp";

TDataCell Optional(const std::optional<std::int64_t>& v, TDataCell (*make)(std::int64_t)) {
  return v ? make(*v) : TDataCell{};
}

TDataCell Yes(bool v) {
  return v ? TDataCell::Of(kYesText) : TDataCell{};
}

std::string HexCode(std::uint8_t code) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[code >> 4], kDigits[code & 0x0F]};
}

// A value enclosed in double quotes (its own doubled) when it holds the
// separator, a double quote or a line end.
std::string CsvField(const std::string& value) {
  if (value.find_first_of(";\"\r\n") == std::string::npos) return value;
  std::string out = "\"";
  for (const char c : value) {
    out.push_back(c);
    if (c == '"') out.push_back('"');
  }
  out.push_back('"');
  return out;
}

}  // namespace

std::string TDataCell::Text(char decimal) const {
  switch (kind) {
    case Kind::Empty: return {};
    case Kind::Text: return text;
    case Kind::Integer: return std::to_string(value);
    case Kind::Money: return KopecksText(value, decimal);
    case Kind::Quantity: return ThousandthsText(value, decimal);
  }
  return {};
}

TDataTable JournalReceiptTable(const TJournalTables& tables) {
  TDataTable t;
  t.name = kJournalReceiptSheet;
  std::set<int> rates;
  for (const TJournalReceiptRow& r : tables.receipts) {
    for (const auto& [rate, sum] : r.taxSums) rates.insert(rate);
  }
  t.header = {"Чек",    "Вид",      "Номер",   "Дата", "Время",      "Оператор", "Фискальный", "Позиции",
              "Скидки", "Надбавки", "Подытог", "Итог", "Вид оплаты", "Внесено",  "Сдача"};
  for (const int rate : rates) t.header.push_back("Налог.ст." + std::to_string(rate));
  t.header.emplace_back("Аннулирован");
  t.header.emplace_back("Повторная печать");
  t.rows.reserve(tables.receipts.size());
  for (std::size_t i = 0; i < tables.receipts.size(); ++i) {
    const TJournalReceiptRow& r = tables.receipts[i];
    std::vector<TDataCell> row;
    row.reserve(t.header.size());
    row.push_back(TDataCell::Int(static_cast<std::int64_t>(i + 1)));
    row.push_back(r.kind ? TDataCell::Of(ReceiptKindCaption(r.kind)) : TDataCell{});
    row.push_back(Optional(r.number, TDataCell::Int));
    row.push_back(TDataCell::Of(r.date));
    row.push_back(TDataCell::Of(r.time));
    row.push_back(r.operatorNumber ? TDataCell::Int(*r.operatorNumber) : TDataCell{});
    row.push_back(r.closed ? Yes(r.fiscal) : TDataCell{});
    row.push_back(TDataCell::Kopecks(r.linesSum));
    row.push_back(TDataCell::Kopecks(r.discounts));
    row.push_back(TDataCell::Kopecks(r.surcharges));
    row.push_back(Optional(r.subtotal, TDataCell::Kopecks));
    row.push_back(Optional(r.total, TDataCell::Kopecks));
    row.push_back(r.paymentKind ? TDataCell::Of(PaymentKindCaption(*r.paymentKind)) : TDataCell{});
    row.push_back(r.tendered != 0 ? TDataCell::Kopecks(r.tendered) : TDataCell{});
    row.push_back(r.tendered != 0 ? TDataCell::Kopecks(r.change) : TDataCell{});
    for (const int rate : rates) {
      const auto it = r.taxSums.find(rate);
      row.push_back(it != r.taxSums.end() ? TDataCell::Kopecks(it->second) : TDataCell{});
    }
    row.push_back(Yes(r.annulled));
    row.push_back(Yes(r.repeated));
    t.rows.push_back(std::move(row));
  }
  return t;
}

TDataTable JournalLineTable(const TJournalTables& tables) {
  TDataTable t;
  t.name = kJournalLineSheet;
  t.header = {"Чек",   "Номер чека", "Позиция", "Код записи", "Запись",    "Код товара",
              "Отдел", "Количество", "Цена",    "Сумма",      "Налог.гр.", "Аннулирована"};
  t.rows.reserve(tables.lines.size());
  for (const TJournalLineRow& l : tables.lines) {
    const TJournalReceiptRow& r = tables.receipts[l.receipt];
    std::vector<TDataCell> row;
    row.reserve(t.header.size());
    row.push_back(TDataCell::Int(static_cast<std::int64_t>(l.receipt + 1)));
    row.push_back(Optional(r.number, TDataCell::Int));
    row.push_back(TDataCell::Int(l.position));
    row.push_back(TDataCell::Of(HexCode(l.code)));
    row.push_back(TDataCell::Of(std::string(JournalRecordName(l.code))));
    row.push_back(Optional(l.goodsCode, TDataCell::Int));
    row.push_back(l.onSubtotal ? TDataCell{} : TDataCell::Int(l.department));
    row.push_back(Optional(l.quantity, TDataCell::Thousandths));
    row.push_back(Optional(l.price, TDataCell::Kopecks));
    row.push_back(TDataCell::Kopecks(l.sum));
    row.push_back(l.taxGroup ? TDataCell::Int(*l.taxGroup) : TDataCell{});
    row.push_back(Yes(l.annulled));
    t.rows.push_back(std::move(row));
  }
  return t;
}

TDataTable JournalSummaryDataTable(const TJournalSummary& s) {
  TDataTable t;
  t.name = kJournalSummarySheet;
  t.header = {"Раздел", "Строка", "Количество", "Сумма"};
  const auto row = [&t](const char* section, std::string key, TDataCell count, std::int64_t sum) {
    t.rows.push_back(
        {TDataCell::Of(section), TDataCell::Of(std::move(key)), std::move(count), TDataCell::Kopecks(sum)});
  };
  constexpr const char* kTotals = "Итоги";
  row(kTotals, "Продажи", TDataCell::Int(s.receipts), s.sales);
  row(kTotals, "Средний чек", {}, s.average);
  row(kTotals, "Возвраты", TDataCell::Int(s.returnReceipts), s.returns);
  row(kTotals, "Аннулированные позиции", TDataCell::Int(s.annulledLines), s.annulledLinesSum);
  row(kTotals, "Аннулированные чеки", TDataCell::Int(s.annulledReceipts), s.annulledReceiptsSum);
  row(kTotals, "Скидки", {}, s.discounts);
  row(kTotals, "Надбавки", {}, s.surcharges);
  row(kTotals, "Внесено", {}, s.cashIn);
  row(kTotals, "Выплачено", {}, s.cashOut);
  const auto section = [&row](const char* name, const std::vector<TJournalSummaryRow>& rows, bool quantity) {
    for (const TJournalSummaryRow& r : rows)
      row(name, r.key, quantity ? TDataCell::Thousandths(r.count) : TDataCell::Int(r.count), r.sum);
  };
  section(kSummaryPayment, s.byPayment, false);
  section(kSummaryTax, s.byTax, false);
  section(kSummaryDepartment, s.byDepartment, false);
  section(kSummaryGoods, s.byGoods, true);
  section(kSummaryHour, s.byHour, false);
  section(kSummaryDay, s.byDay, false);
  return t;
}

std::string DataTableCsv(const TDataTable& table, char decimal) {
  std::string out;
  const auto line = [&out](const std::vector<std::string>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i > 0) out += kCsvSeparator;
      out += CsvField(values[i]);
    }
    out += "\r\n";
  };
  line(table.header);
  std::vector<std::string> values;
  for (const auto& row : table.rows) {
    values.clear();
    for (const TDataCell& c : row) values.push_back(c.Text(decimal));
    line(values);
  }
  return out;
}

bool WriteDataTableCsv(const TDataTable& table, const std::string& path, TCsvEncoding encoding,
                       char decimal) {
  const std::string text = DataTableCsv(table, decimal);
  return WriteTextFile(path,
                       encoding == TCsvEncoding::Utf8Bom ? std::string(kUtf8Bom) + text : Utf8ToCp1251(text));
}

bool WriteDataWorkbook(const std::vector<const TDataTable*>& tables, const std::string& path,
                       std::string& error) {
  const std::string temp = path + kTempSuffix;
  // The library would name a missing folder on standard error itself.
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
    error = "нет папки " + folder.string();
    return false;
  }
  lxw_workbook* book = workbook_new(temp.c_str());
  if (book == nullptr) {
    error = "не удалось создать файл " + temp;
    return false;
  }
  lxw_format* bold = workbook_add_format(book);
  format_set_bold(bold);
  lxw_format* money = workbook_add_format(book);
  format_set_num_format(money, kMoneyFormat);
  lxw_format* quantity = workbook_add_format(book);
  format_set_num_format(quantity, kQuantityFormat);
  for (const TDataTable* table : tables) {
    lxw_worksheet* sheet = workbook_add_worksheet(book, table->name.c_str());
    if (sheet == nullptr) continue;
    worksheet_set_column(sheet, 0, static_cast<lxw_col_t>(table->header.size()), kColumnWidth, nullptr);
    worksheet_freeze_panes(sheet, 1, 0);
    for (std::size_t c = 0; c < table->header.size(); ++c)
      worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(c), table->header[c].c_str(), bold);
    for (std::size_t r = 0; r < table->rows.size(); ++r) {
      const auto row = static_cast<lxw_row_t>(r + 1);
      const std::vector<TDataCell>& cells = table->rows[r];
      for (std::size_t c = 0; c < cells.size(); ++c) {
        const auto col = static_cast<lxw_col_t>(c);
        const TDataCell& cell = cells[c];
        switch (cell.kind) {
          case TDataCell::Kind::Empty: break;
          case TDataCell::Kind::Text:
            worksheet_write_string(sheet, row, col, cell.text.c_str(), nullptr);
            break;
          case TDataCell::Kind::Integer:
            worksheet_write_number(sheet, row, col, static_cast<double>(cell.value), nullptr);
            break;
          case TDataCell::Kind::Money:
            worksheet_write_number(sheet, row, col, static_cast<double>(cell.value) / kKopecks, money);
            break;
          case TDataCell::Kind::Quantity:
            worksheet_write_number(sheet, row, col, static_cast<double>(cell.value) / kThousandths, quantity);
            break;
        }
      }
    }
  }
  const lxw_error result = workbook_close(book);
  if (result != LXW_NO_ERROR) {
    error = lxw_strerror(result);
    std::remove(temp.c_str());
    return false;
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    error = "не удалось записать файл " + path;
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace zarvik
