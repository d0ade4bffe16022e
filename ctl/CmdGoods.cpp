#include "CtlSession.h"

#include <algorithm>
#include <chrono>
#include <span>

#include "CtlOutput.h"
#include "protocol/TransferResume.h"
#include "shell/DiaLog.h"
#include "store/GoodsExchange.h"
#include "store/GoodsPlan.h"
#include "store/GoodsSheet.h"
#include "store/RegisterBackup.h"

namespace zarvik::ctl {
namespace {

constexpr int kHighestGoodsRequestCode = 9999;
constexpr int kOffLineMode = 2;

// The table's notifications off while a transfer moves through its rows.
struct TableQuiet {
  explicit TableQuiet(TWorkTable& t) : table(t) { table.DisableControls(); }
  ~TableQuiet() { table.EnableControls(); }
  TableQuiet(const TableQuiet&) = delete;
  TableQuiet& operator=(const TableQuiet&) = delete;
  TWorkTable& table;
};

// Display of the goods codes (the goods grid's texts).
std::string GoodsTypeText(const TWorkTable& t) {
  if (t.IsNull("Type")) return {};
  switch (t.Int("Type")) {
    case kGoodsTypeNone: return {};
    case kGoodsTypeGoods: return "товар";
    case kGoodsTypeService: return "услуга";
    case kGoodsTypeContainer: return "тара";
    case kGoodsInvalid: return "???";
    default: return t.Text("Type");
  }
}

std::string GoodsGroupText(const TWorkTable& t) {
  if (t.IsNull("NG")) return {};
  const std::int64_t ng = t.Int("NG");
  if (ng >= 1 && ng <= kGoodsHighestTaxGroup) return std::string(1, static_cast<char>('A' + ng - 1));
  return ng == kGoodsInvalid ? "?" : std::string();
}

std::string GoodsSaleText(const TWorkTable& t) {
  if (t.IsNull("Vesovoy")) return {};
  switch (t.Int("Vesovoy")) {
    case 1: return "шт.";
    case 2: return "вес.";
    case kGoodsInvalid: return "???";
    default: return {};
  }
}

// The cells of the current goods row: for a person the grid's texts, for
// --csv the values of the goods CSV file (which `goods write` reads back).
std::vector<std::string> GoodsCells(const TWorkTable& t, bool csv) {
  if (csv) return GoodsCsvValues(t);
  return {t.Text("Code"),
          GoodsTypeText(t),
          t.Text("Name"),
          GoodsGroupText(t),
          t.IsNull("Price") ? std::string() : FixedText(t.Cur("Price"), 2),
          t.Text("Section"),
          GoodsSaleText(t),
          t.Text("Shtrih"),
          t.Bool("isBlock") ? "да" : "",
          t.IsNull("Count") ? std::string() : FixedText(t.Cur("Count"), 3)};
}

std::vector<std::string> GoodsHeader(const TWorkTable& t, bool csv) {
  std::vector<std::string> header;
  for (const std::string_view f : kGoodsFields) {
    const int index = t.FieldIndex(f);
    header.push_back(csv ? std::string(f) : t.Field(index).Caption());
  }
  return header;
}

// --sheet and --column as the sheet import takes them; false with `error`
// when a choice is not FIELD=HEADER or names a field twice.
bool SheetOptionsOf(const CtlArgs& args, GoodsSheetOptions& options, std::string& error) {
  options.sheet = args.sheet;
  for (const std::string& text : args.columns) {
    GoodsColumnChoice choice;
    if (!ParseGoodsColumnChoice(text, choice, error)) return false;
    for (const GoodsColumnChoice& earlier : options.columns)
      if (earlier.field == choice.field) {
        error = "--column: " + std::string(kGoodsFields[static_cast<std::size_t>(choice.field)]) + " is given twice";
        return false;
      }
    options.columns.push_back(std::move(choice));
  }
  return true;
}

bool IsSheet(GoodsFileKind kind) {
  return kind == GoodsFileKind::Xlsx || kind == GoodsFileKind::Ods;
}

constexpr std::string_view kGoodsFileUsage = "a goods file ends in .csv, .dbf, .xlsx or .ods";
constexpr std::string_view kGoodsOutUsage = "a goods file to write ends in .csv, .dbf or .xlsx";
constexpr std::string_view kSheetOnlyUsage = "--sheet and --column apply to .xlsx and .ods files";

}  // namespace

int TCtlSession::CmdGoodsGet() {
  std::int64_t code = 0;
  if (words_.size() != 3 || !ParseInteger(words_[2], 1, kHighestGoodsRequestCode, code))
    return Usage("goods get needs one goods code 1..9999");
  if (!Connect()) return ceFailed;
  const int highest = Info().MaxCountGoods();
  if (code > highest)
    return Usage("goods " + std::to_string(code) + " is beyond the register's goods numbers (" +
                 (highest > 0 ? "1.." + std::to_string(highest) : std::string("it reports none")) +
                 "); nothing was asked");
  if (!protocol_.GetGoods(static_cast<int>(code))) return ceFailed;  // CheckAnswer said why
  TWorkTable& t = bd_->mtTOBAP;
  ClearRows(t);
  t.Append();
  if (!GoodsRecordToRow(Info(), t)) {
    t.Cancel();
    return Fail(ErrorText(kResultBadGoodsCode));
  }
  t.Post();
  const std::vector<std::string> header = GoodsHeader(t, args_.csv);
  const std::vector<std::string> cells = GoodsCells(t, args_.csv);
  if (args_.csv) {
    PrintTable(out_, CtlTable{header, {cells}}, true);
  } else {
    Pairs pairs;
    for (std::size_t k = 0; k < header.size(); ++k) pairs.emplace_back(header[k], cells[k]);
    PrintPairs(out_, pairs, false);
  }
  Mess("1 товар загружен", false, true, true);
  return ceOk;
}

int TCtlSession::CmdGoodsReadAll() {
  const std::string& file = args_.out;
  if (!file.empty() && !GoodsFileWritable(GoodsFileKindOf(file)))
    return Usage("--out: " + std::string(kGoodsOutUsage));
  if (!Connect()) return ceFailed;
  TWorkTable& t = bd_->mtTOBAP;
  TKKMInfo& i = Info();
  Mess("Загружаем товар...", false, true, true);
  ClearRows(t);
  std::int64_t lastCode = 0;
  int received = 0;
  int errors = 0;
  bool stopped = false;
  TProgress progress(err_, "товар");
  t.DisableControls();
  const TStopSignals signals;
  protocol_.lineCounts = {};
  TResumeControl control;
  control.stopRequested = [] { return TStopSignals::Requested(); };
  control.onResume = [&](int resumptions) {
    progress.SetResumptions(resumptions);
    progress.Done();
    Warning("Связь с ККМ прервалась, продолжаем после кода " + std::to_string(lastCode), false, true, true);
  };
  const bool ok = ReadAllGoodsResuming(
      protocol_,
      [&](TMessageBuffer& answer, bool& more) {
        progress.Show(++received, i.MaxCountGoods());
        if (TStopSignals::Requested()) {
          more = false;  // the register is told to stop with this frame's receipt
          stopped = true;
        }
        const std::span<const std::uint8_t> bytes = answer.View();
        if (bytes.size() <= kResultOffset) return;
        const int status = bytes[kResultOffset];
        if (status == kResultNotFound || status == kResultBadGoodsCode) return;
        if (status != 0) {
          Error(ErrorText(status), true, true, true);
          ++errors;
          return;
        }
        if (bytes.size() < kRecordOffset + kGoodsRecordSize) {
          Error(std::string(kWrongAnswerSize), true, true, true);
          ++errors;
          return;
        }
        std::copy_n(bytes.begin() + kRecordOffset, kGoodsRecordSize, i.GoodsRecord.begin());
        std::int64_t code = 0;
        if (!GoodsRecordCode(i, code)) {
          // A record whose code is no number is reported and skipped.
          Error(ErrorText(kResultBadGoodsCode), true, true, true);
          ++errors;
          return;
        }
        if (code <= lastCode) return;  // a repeated record
        lastCode = code;
        t.Append();
        GoodsRecordToRow(i, t);
        t.Post();
      },
      control);
  t.EnableControls();
  progress.Done();
  ShowLineCounts();
  const std::string got = "получено " + std::to_string(CountRows(t)) + " тов." +
                          (lastCode > 0 ? ", последний код " + std::to_string(lastCode) : std::string());
  if (!ok) return Fail("Сбой при загрузке товара: " + got);
  // Stopped: nothing is shown or written, an existing file stays as it was.
  if (stopped || TStopSignals::Requested()) return Interrupted("Товар частично загружен: " + got);
  Mess("Товар загружен", false, true, true);
  if (file.empty()) {
    CtlTable table{GoodsHeader(t, args_.csv), {}};
    for (t.First(); !t.Eof(); t.Next()) table.rows.push_back(GoodsCells(t, args_.csv));
    PrintTable(out_, table, args_.csv);
  } else {
    if (!ExportGoodsFile(t, file)) return ceFailed;
    Done("Записано " + std::to_string(CountRows(t)) + " тов. в " + file);
  }
  return errors == 0 ? ceOk : ceFailed;
}

namespace {

// The plan's rows as the JSON report lists them: code, name, place in the
// file, whether the register lacks the code, and the fields that differ.
TJson GoodsRowsJson(const GoodsWritePlan& plan) {
  TJson rows = TJson::Array();
  for (const GoodsPlanRow& r : plan.send) {
    TJson changes = TJson::Array();
    for (const GoodsFieldChange& c : r.changes)
      changes.Push(TJson::Object()
                       .Str("field", c.field)
                       .Str("title", GoodsFieldTitle(c.field))
                       .Str("from", c.registerValue)
                       .Str("to", c.fileValue));
    rows.Push(TJson::Object()
                  .Int("code", r.code)
                  .Str("name", r.name)
                  .Int("place", r.place)
                  .Bool("new", r.isNew)
                  .Sub("changes", changes));
  }
  return rows;
}

TJson GoodsChecksJson(const std::vector<GoodsCheck>& checks) {
  TJson list = TJson::Array();
  for (const GoodsCheck& c : checks)
    list.Push(TJson::Object()
                  .Bool("error", c.error)
                  .Int("place", c.place)
                  .Str("code", c.code)
                  .Str("field", c.field)
                  .Str("value", c.value)
                  .Str("problem", c.problem)
                  .Str("allowed", c.allowed));
  return list;
}

}  // namespace

int TCtlSession::CmdGoodsWrite() {
  return GoodsWriteOrDiff(false);
}

int TCtlSession::CmdGoodsDiff() {
  return GoodsWriteOrDiff(true);
}

// goods write FILE and goods diff FILE: the file is read, every row checked
// against the connected register, then compared with what the register
// holds; a write sends only the rows that differ (every row with --all).
int TCtlSession::GoodsWriteOrDiff(bool diffOnly) {
  const std::string command = diffOnly ? "goods diff" : "goods write";
  if (words_.size() != 3) return Usage(command + " needs one file");
  const std::string file = words_[2];
  const GoodsFileKind kind = GoodsFileKindOf(file);
  if (kind == GoodsFileKind::Unknown) return Usage(std::string(kGoodsFileUsage));
  GoodsSheetOptions sheet;
  std::string error;
  if (!SheetOptionsOf(args_, sheet, error)) return Usage(error);
  if (!IsSheet(kind) && (!sheet.sheet.empty() || !sheet.columns.empty())) return Usage(std::string(kSheetOnlyUsage));
  const bool preview = diffOnly || args_.dryRun;
  const bool all = !diffOnly && args_.all;
  if (!Connect()) return ceFailed;
  TKKMInfo& i = Info();
  if (Json()) report_->Result().Str("file", file).Str("serial", i.serialNumber).Bool("dry_run", preview);
  TWorkTable& t = bd_->mtTOBAP;
  GoodsImportReport report;
  if (!ImportGoodsFile(file, t, GoodsImportLimit(&kkm_), sheet, report)) return ceFailed;
  {
    // What the reading changed is told here; the rows it left out are
    // errors of the checks below.
    GoodsImportReport read = report;
    read.skips.clear();
    read.rowsSkipped = 0;
    PublishGoodsReport(read);
  }
  if (!preview && i.workMode != kOffLineMode) return Fail("Запись возможна только в OFF-LINE режиме");
  // A signal stops the reads as it stops the write.
  const TStopSignals signals;
  protocol_.lineCounts = {};
  // Every row is checked before anything is read or written.
  GoodsRegisterLimits limits;
  if (!ReadGoodsLimits(protocol_, t, false, limits)) return ceFailed;
  const std::vector<GoodsCheck> checks = CheckGoodsRows(t, limits, report);
  int errors = 0;
  for (const GoodsCheck& c : checks) {
    if (c.error) {
      ++errors;
      Error(GoodsCheckText(c, report.placeKind), true, true, true);
    } else {
      Warning(GoodsCheckText(c, report.placeKind), false, true, true);
    }
  }
  if (Json()) {
    report_->Result().Sub("checks", GoodsChecksJson(checks));
    report_->Counts().Int("errors", errors).Int("warnings", static_cast<std::int64_t>(checks.size()) - errors);
  }
  if (errors > 0) {
    const std::string refused = std::string(kGoodsChecksRefusedText) + std::to_string(errors);
    // The shop page shows one line per register: the count and the first error.
    const auto first = std::find_if(checks.begin(), checks.end(), [](const GoodsCheck& c) { return c.error; });
    FleetNote("refused", refused + "; " + GoodsCheckText(*first, report.placeKind));
    Error(refused, true, true, true);
    return ceUsage;
  }
  // What the register holds: for the comparison and for the backup.
  const bool backup = !preview && BackupsOn();
  TRegisterGoods held;
  if (!all || backup) {
    TProgress progress(err_, "товар ККМ");
    const bool read = ReadRegisterGoods(
        protocol_, GoodsCodesToRead(t, i),
        [&](int received) {
          progress.Show(received);
          return !TStopSignals::Requested();
        },
        held);
    progress.Done();
    if (!read) {
      if (TStopSignals::Requested()) return Interrupted("Товар ККМ не прочитан, ничего не записано");
      return Fail("Сбой при загрузке товара: ничего не записано");
    }
  }
  const GoodsWritePlan plan = PlanGoodsWrite(t, limits, report, held, all, args_.resetSold);
  if (Json()) {
    report_->Result().Sub("rows", GoodsRowsJson(plan));
    report_->Counts()
        .Int("send", static_cast<std::int64_t>(plan.send.size()))
        .Int("changed", plan.changed)
        .Int("new", plan.added)
        .Int("unchanged", plan.unchanged);
  }
  if (preview) {
    ShowLineCounts();
    std::vector<std::string> lines;
    for (const GoodsPlanRow& r : plan.send)
      for (std::string& line : GoodsPlanRowLines(r)) lines.push_back(std::move(line));
    if (!Json())
      for (const std::string& line : lines) PrintLine(out_, line);
    Done(GoodsPlanSummary(plan));
    return ceOk;
  }
  // What the register holds is kept first, when something will be written.
  if (backup && !plan.send.empty()) {
    const std::string folder = GoodsBackupFolder(ProfileFolderPath());
    const std::string path = GoodsBackupPath(folder, i.serialNumber, std::chrono::system_clock::now());
    if (!SaveGoodsBackup(held, path)) return Fail(kBackupFailedText);
    Note(std::string(kBackupSavedText) + path);
    if (Json()) report_->Result().Str("backup", path);
    PruneGoodsBackups(folder, i.serialNumber, backup_.keep);
  }
  Mess("Записываем товар...", false, true, true);
  Mess(GoodsPlanSummary(plan), false, true, true);
  i.keepSoldCount = !args_.resetSold;
  int written = 0;
  int added = 0;
  int failed = 0;
  const int rows = CountRows(t);
  const int toSend = static_cast<int>(plan.send.size());
  std::string lastWritten;
  // The counts of the report as they stand when the write ends, whichever
  // way it ends.
  struct TWrittenCounts {
    TCtlReport* report;
    const int& written;
    const int& added;
    const int& failed;
    ~TWrittenCounts() {
      if (report != nullptr) report->Counts().Int("written", written).Int("written_new", added).Int("failed", failed);
    }
  } writtenCounts{report_, written, added, failed};
  const auto sofar = [&] {
    return std::to_string(written) + " тов." +
           (lastWritten.empty() ? std::string() : ", последний записанный код " + lastWritten);
  };
  TProgress progress(err_, "товар");
  TResumeControl control;
  control.stopRequested = [] { return TStopSignals::Requested(); };
  control.onResume = [&](int resumptions) {
    progress.SetResumptions(resumptions);
    progress.Done();
    Warning("Связь с ККМ прервалась, товар " + t.Text("Code") + " записываем снова", false, true, true);
  };
  const TableQuiet quiet(t);
  for (const GoodsPlanRow& r : plan.send) {
    t.SetRecNo(r.row + 1);
    progress.Show(written + 1, toSend);
    // A stop takes effect before the next record, as with the window's
    // stop button: the current row is not written.
    if (TStopSignals::Requested()) {
      progress.Done();
      return Interrupted("Товары записаны частично, " + sofar());
    }
    if (!GoodsRowToRecord(t, i)) {
      Warning("Товар " + t.Text("Code") + " не записан", false, true, true);
      ++failed;
      continue;
    }
    if (!SetGoodsResuming(protocol_, control)) {
      progress.Done();
      ShowLineCounts();
      if (TStopSignals::Requested()) return Interrupted("Товары записаны частично, " + sofar());
      return Fail("Сбой при записи товара " + t.Text("Code") + " (строка " + std::to_string(r.row + 1) +
                  " из " + std::to_string(rows) + "): записано " + sofar());
    }
    ++written;
    if (r.isNew) ++added;
    lastWritten = t.Text("Code");
  }
  progress.Done();
  ShowLineCounts();
  Done(GoodsWriteResultText(written, added, plan.unchanged, failed));
  return ceOk;
}

int TCtlSession::CmdGoodsConvert() {
  if (words_.size() != 4) return Usage("goods convert needs a file to read and a file to write");
  const std::string& in = words_[2];
  const std::string& out = words_[3];
  if (GoodsFileKindOf(in) == GoodsFileKind::Unknown) return Usage(std::string(kGoodsFileUsage));
  if (!GoodsFileWritable(GoodsFileKindOf(out))) return Usage(std::string(kGoodsOutUsage));
  GoodsSheetOptions sheet;
  std::string error;
  if (!SheetOptionsOf(args_, sheet, error)) return Usage(error);
  if (!IsSheet(GoodsFileKindOf(in)) && (!sheet.sheet.empty() || !sheet.columns.empty()))
    return Usage(std::string(kSheetOnlyUsage));
  TWorkTable& t = bd_->mtTOBAP;
  GoodsImportReport report;
  const bool ok = ConvertGoodsFile(in, out, t, report, sheet);
  PublishGoodsReport(report);
  if (!ok) return ceFailed;
  Done("Записано " + std::to_string(report.rowsRead) + " тов. в " + out);
  return ceOk;
}

}  // namespace zarvik::ctl
