// The journal as data: its receipts and operations as tables, its summary and
// its consistency check, from the register or from a saved journal.
#include "CtlOutput.h"
#include "CtlSession.h"
#include "journal/JournalCheck.h"
#include "journal/JournalExport.h"
#include "journal/JournalFrame.h"
#include "journal/JournalGoodsNames.h"
#include "journal/U_magazineoperation.h"
#include "shell/DiaLog.h"
#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"
#include "store/GoodsExchange.h"
#include "store/GoodsSheet.h"
#include "store/WorkTable.h"

namespace zarvik::ctl {
namespace {

constexpr std::string_view kXlsxExtension = ".xlsx";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// Goods codes run up to 999999: a goods file for the names has no row limit.
constexpr int kGoodsNamesRows = 1000000;

// "DD.MM.YY" or "DD.MM.YYYY" (2000..2099) as YYYYMMDD.
std::optional<int> DateOption(const std::string& text) {
  if (text.size() == 10) {
    if (text.compare(6, 2, "20") != 0) return std::nullopt;
    return JournalDateKey(text.substr(0, 6) + text.substr(8, 2));
  }
  return JournalDateKey(text);
}

// The record lines of a saved journal: one a line, CR LF or LF, code page
// 1251 or UTF-8; empty lines are left out.
std::vector<std::string> RecordLinesOf(std::string bytes) {
  if (bytes.starts_with(kUtf8Bom)) bytes.erase(0, kUtf8Bom.size());
  const std::string text = IsUtf8Text(bytes) ? bytes : Cp1251ToUtf8(bytes);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::string CsvOrXlsxFailed(const std::string& path) {
  return "Не удалось записать файл " + path;
}

}  // namespace

int TCtlSession::JournalRecords(std::vector<std::string>& records) {
  if (!args_.in.empty()) {
    std::string bytes;
    if (!ReadTextFile(args_.in, bytes)) return Fail("Не удалось прочитать файл " + args_.in);
    records = RecordLinesOf(std::move(bytes));
    return ceOk;
  }
  journalRecordsOnly_ = true;
  const int rc = CmdJournalRead();
  journalRecordsOnly_ = false;
  records = std::move(journalRecords_);
  return rc;
}

int TCtlSession::CmdJournalReadData() {
  const bool tables = !args_.receipts.empty() || !args_.lines.empty() || !args_.xlsx.empty();
  if (args_.in.empty() && !tables) return CmdJournalRead();
  int rc = ceOk;
  std::vector<std::string> records;
  if (args_.in.empty()) {
    // The read shows or writes the journal as it always does.
    rc = CmdJournalRead();
    records = std::move(journalRecords_);
    if (records.empty() && rc != ceOk) return rc;
  } else {
    if (const int read = JournalRecords(records); read != ceOk) return read;
    std::vector<std::string> lines;
    for (const std::string& record : records) {
      if (args_.data) {
        lines.push_back(record);
        continue;
      }
      for (std::string& line : SplitCrLfLines(RenderJournalLine(record, false)))
        lines.push_back(std::move(line));
    }
    if (Json()) report_->Counts().Int("records", static_cast<std::int64_t>(records.size()));
    if (!ShowJournalLines(lines)) return Fail(CsvOrXlsxFailed(args_.out));
  }
  if (!tables) return rc;
  const TJournalTables built = BuildJournalTables(records);
  const TDataTable receipts = JournalReceiptTable(built);
  const TDataTable lines = JournalLineTable(built);
  const TCsvEncoding encoding = args_.utf8 ? TCsvEncoding::Utf8Bom : TCsvEncoding::Cp1251;
  const auto write = [&](const std::string& path, const TDataTable& table) {
    if (path.empty()) return true;
    std::string error;
    const bool ok = HasExtension(path, kXlsxExtension)
                        ? WriteDataWorkbook({&table}, path, error)
                        : WriteDataTableCsv(table, path, encoding, DecimalSeparator());
    if (!ok) Error(CsvOrXlsxFailed(path) + (error.empty() ? "" : ": " + error), false, true, true);
    return ok;
  };
  bool ok = write(args_.receipts, receipts) && write(args_.lines, lines);
  if (ok && !args_.xlsx.empty()) {
    std::string error;
    ok = WriteDataWorkbook({&receipts, &lines}, args_.xlsx, error);
    if (!ok) Error(CsvOrXlsxFailed(args_.xlsx) + ": " + error, false, true, true);
  }
  if (!ok) return ceFailed;
  if (Json()) {
    report_->Counts()
        .Int("receipts", static_cast<std::int64_t>(receipts.rows.size()))
        .Int("operations", static_cast<std::int64_t>(lines.rows.size()));
    TJson files = TJson::Object();
    if (!args_.receipts.empty()) files.Str("receipts", args_.receipts);
    if (!args_.lines.empty()) files.Str("lines", args_.lines);
    if (!args_.xlsx.empty()) files.Str("xlsx", args_.xlsx);
    report_->Result().Sub("files", files);
  }
  Note("Записано чеков: " + std::to_string(receipts.rows.size()) +
       ", операций: " + std::to_string(lines.rows.size()));
  return rc;
}

int TCtlSession::CmdJournalSummary() {
  std::optional<int> from;
  std::optional<int> to;
  if (!args_.from.empty() && !(from = DateOption(args_.from)))
    return Usage("--from: \"" + args_.from + "\" is not a date DD.MM.YY");
  if (!args_.to.empty() && !(to = DateOption(args_.to)))
    return Usage("--to: \"" + args_.to + "\" is not a date DD.MM.YY");
  TGoodsNames names;
  if (!args_.goods.empty()) {
    TWorkTable& goods = bd_->mtTOBAP;
    const GoodsFileKind kind = GoodsFileKindOf(args_.goods);
    if (kind == GoodsFileKind::Unknown) return Usage(std::string(kGoodsFileKindText));
    GoodsImportReport report;
    const bool read = ImportGoodsFile(args_.goods, goods, kGoodsNamesRows, {}, report);
    PublishGoodsReport(report);
    if (!read) return ceFailed;
    names = GoodsNamesOf(goods);
  }
  std::vector<std::string> records;
  const int rc = JournalRecords(records);
  if (records.empty() && rc != ceOk) return rc;
  const TJournalSummary summary = SummarizeJournal(BuildJournalTables(records), names, from, to);
  const TDataTable table = JournalSummaryDataTable(summary);
  CtlTable out;
  out.header = table.header;
  for (const auto& row : table.rows) {
    std::vector<std::string> cells;
    for (const TDataCell& cell : row) cells.push_back(cell.Text());
    out.rows.push_back(std::move(cells));
  }
  PrintTable(out_, out, args_.csv);
  return rc;
}

int TCtlSession::CmdJournalCheck() {
  std::vector<std::string> records;
  const int rc = JournalRecords(records);
  if (records.empty() && rc != ceOk) return rc;
  const std::vector<TJournalFinding> findings = CheckJournal(BuildJournalTables(records));
  for (const std::string& line : JournalFindingLines(findings)) PrintLine(out_, line);
  if (rc != ceOk) return rc;
  return findings.empty() ? ceOk : ceFailed;
}

}  // namespace zarvik::ctl
