#include "CtlSession.h"

#include <algorithm>
#include <span>

#include "CtlOutput.h"
#include "protocol/TransferResume.h"
#include "shell/DiaLog.h"
#include "store/GoodsExchange.h"
#include "store/GoodsSheet.h"

namespace zarvik::ctl {
namespace {

constexpr int kHighestGoodsRequestCode = 9999;
constexpr int kOffLineMode = 2;

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

int TCtlSession::CmdGoodsWrite() {
  if (words_.size() != 3) return Usage("goods write needs one file");
  const std::string file = words_[2];
  const GoodsFileKind kind = GoodsFileKindOf(file);
  if (kind == GoodsFileKind::Unknown) return Usage(std::string(kGoodsFileUsage));
  GoodsSheetOptions sheet;
  std::string error;
  if (!SheetOptionsOf(args_, sheet, error)) return Usage(error);
  if (!IsSheet(kind) && (!sheet.sheet.empty() || !sheet.columns.empty())) return Usage(std::string(kSheetOnlyUsage));
  if (!Connect()) return ceFailed;
  TKKMInfo& i = Info();
  TWorkTable& t = bd_->mtTOBAP;
  GoodsImportReport report;
  if (!ImportGoodsFile(file, t, GoodsImportLimit(&kkm_), sheet, report)) return ceFailed;
  if (i.workMode != kOffLineMode) {
    PublishGoodsReport(report);
    return Fail("Запись возможна только в OFF-LINE режиме");
  }
  // Everything the register will not get is named before the transfer starts.
  const int toWrite = CheckGoodsForRegister(t, i, report);
  PublishGoodsReport(report);
  // A signal stops the backup as it stops the write.
  const TStopSignals signals;
  // What the register holds is kept first, when something will be written.
  if (toWrite > 0 && BackupsOn()) {
    if (const int status = BackupGoodsOf(t); status != ceOk) return status;
  }
  Mess("Записываем товар...", false, true, true);
  i.keepSoldCount = !args_.resetSold;
  int written = 0;
  int skipped = report.rowsSkipped;
  int row = 0;
  const int rows = CountRows(t);
  std::string lastWritten;
  const auto sofar = [&] {
    return std::to_string(written) + " тов." +
           (lastWritten.empty() ? std::string() : ", последний записанный код " + lastWritten);
  };
  TProgress progress(err_, "товар");
  protocol_.lineCounts = {};
  TResumeControl control;
  control.stopRequested = [] { return TStopSignals::Requested(); };
  control.onResume = [&](int resumptions) {
    progress.SetResumptions(resumptions);
    progress.Done();
    Warning("Связь с ККМ прервалась, товар " + t.Text("Code") + " записываем снова", false, true, true);
  };
  for (t.First(); !t.Eof(); t.Next()) {
    ++row;
    if (GoodsRowSkipReason(t, i.MaxCountGoods(), i.maxCountDepat)) continue;
    progress.Show(written + 1, toWrite);
    // A stop takes effect before the next record, as with the window's
    // stop button: the current row is not written.
    if (TStopSignals::Requested()) {
      progress.Done();
      return Interrupted("Товары записаны частично, " + sofar());
    }
    if (!GoodsRowToRecord(t, i)) {
      Warning("Товар " + t.Text("Code") + " не записан", false, true, true);
      ++skipped;
      continue;
    }
    if (!SetGoodsResuming(protocol_, control)) {
      progress.Done();
      ShowLineCounts();
      if (TStopSignals::Requested()) return Interrupted("Товары записаны частично, " + sofar());
      return Fail("Сбой при записи товара " + t.Text("Code") + " (строка " + std::to_string(row) + " из " +
                  std::to_string(rows) + "): записано " + sofar());
    }
    ++written;
    lastWritten = t.Text("Code");
  }
  progress.Done();
  ShowLineCounts();
  if (skipped > 0)
    Warning(std::string(kGoodsSkippedText) + std::to_string(skipped) + " тов.", false, true, true);
  Done("Записано " + std::to_string(written) + " тов.");
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
