// The goods page's transfers: the whole goods database or one record read
// from the register, the table or the current row written to it. The long
// ones keep the window working and stop at a second press of their button.
#include <QAction>
#include <QCheckBox>
#include <QProgressBar>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <limits>
#include <optional>

#include "DBGridEh.h"
#include "GoodsPage.h"
#include "GoodsWritePreview.h"
#include "model/U_kkms.h"
#include "protocol/TransferResume.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "shell/UiHooks.h"
#include "store/GoodsExchange.h"
#include "store/GoodsPlan.h"
#include "store/GoodsReport.h"
#include "store/RegisterBackup.h"
#include "store/UnitBD.h"

namespace zarvik::ui {

namespace {

constexpr std::uint8_t kOffLineMode = 2;
// Register replies of the stream: result code, then the record.
constexpr std::size_t kReplyResultOffset = 2;
constexpr std::size_t kReplyRecordOffset = 3;
constexpr int kResultGoodsNotFound = 9;
constexpr int kResultBadGoodsCode = 17;

constexpr std::string_view kCannotWriteOffline = "Запись возможна только в OFF-LINE режиме";
constexpr std::string_view kWrongReplySize = "Не верный размер полученых данных";

std::string Str(std::string_view s) {
  return std::string(s);
}

// What the line cost a transfer, when it cost anything, before its outcome.
void ShowLineCounts(TProtocolKKM& protocol) {
  if (protocol.lineCounts.Any()) Mess(LineCountsText(protocol.lineCounts), false, true, true);
  protocol.lineCounts = {};
}

// The progress bar's text while a transfer runs after a resumption.
QString ResumedFormat(int resumptions) {
  return QStringLiteral("%p% (возобновлений: %1)").arg(resumptions);
}

}  // namespace

void TGoodsPage::EndTransfer(std::string_view action, std::string_view caption) {
  EnableGoodsActions();
  host_.Action(action)->setText(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
  host_.ProgressBar()->hide();
  host_.ProgressBar()->resetFormat();
  TTransferState& state = host_.Transfer();
  state.transferStopRequested = false;
  state.transferProgress = 0;
  transferRunning_ = false;
  HideWait();
  // The current row in full view once the grid has laid out its new rows.
  QTimer::singleShot(0, DBGridEhTOBAP, [grid = DBGridEhTOBAP] { grid->scrollTo(grid->currentIndex()); });
}

// ---------------------------------------------------------------------------
// Reading all goods

void TGoodsPage::tovarLoadAll() {
  host_.SelectPage(pgGoods);
  TTransferState& state = host_.Transfer();
  if (transferRunning_) {
    state.transferStopRequested = true;  // the press was a stop request
    return;
  }
  // Another page's transfer (the journal) is neither joined nor stopped.
  if (host_.RegisterBusy() || state.transferProgress != 0) return;
  transferRunning_ = true;
  ShowWait(kGoodsWaitTime);
  DisableGoodsActions();
  host_.SetActionEnabled("tovarLoadAll", true);
  host_.RunTransfer([this, &state] {
    const TScopeExit end([this] { EndTransfer("tovarLoadAll", kLoadAllCaption); });
    if (!host_.EnsureConnected()) return;
    Mess("Загружаем товар...", false, true, true);
    report_.Reset({}, GoodsPlaceKind::Line);
    TWorkTable& table = Table();
    // The grid shows the rows received in steps (see OnGoodsRecord).
    table.DisableControls();
    const TScopeExit resume([&table] { table.EnableControls(); });
    ClearRows(table);
    gridShown_.start();
    state.transferProgress = 0;
    state.goodsLastCode = 0;
    host_.Action("tovarLoadAll")->setText(QString::fromUtf8(kStopCaption.data(), kStopCaption.size()));
    QProgressBar* progress = host_.ProgressBar();
    progress->reset();
    progress->show();
    if (TWorkField* price = table.FindField("Price")) price->displayFormat = "#0.00";
    host_.Protocol().lineCounts = {};
    TResumeControl control;
    control.stopRequested = [&state] { return state.transferStopRequested; };
    control.onResume = [this, &state, progress](int resumptions) {
      progress->setFormat(ResumedFormat(resumptions));
      Warning("Связь с ККМ прервалась, продолжаем после кода " + std::to_string(state.goodsLastCode), false,
              true, true);
      ShowWait(kGoodsWaitTime);
    };
    const bool ok = ReadAllGoodsResuming(
        host_.Protocol(), [this](TMessageBuffer& answer, bool& more) { OnGoodsRecord(answer, more); },
        control);
    ShowLineCounts(host_.Protocol());
    if (!ok) {
      Error("Сбой при загрузке товара", false, true, true);
    } else if (state.transferStopRequested) {
      Warning("Товар частично загружен", false, true, true);
    } else {
      Mess("Товар загружен", false, true, true);
    }
  });
}

void TGoodsPage::OnGoodsRecord(TMessageBuffer& answer, bool& more) {
  ShowWait(kGoodsWaitTime);
  TTransferState& state = host_.Transfer();
  TKKMInfo& info = host_.Kkm().Info();
  const std::span<const std::uint8_t> bytes = answer.View();
  const bool whole = bytes.size() >= kReplyRecordOffset + kGoodsRecordSize;
  if (whole) std::copy_n(bytes.begin() + kReplyRecordOffset, kGoodsRecordSize, info.GoodsRecord.begin());
  QProgressBar* progress = host_.ProgressBar();
  progress->setMaximum(info.MaxCountGoods());
  progress->setValue(std::min(state.transferProgress, info.MaxCountGoods()));
  ++state.transferProgress;
  if (UiHooks().IsTerminating() || state.transferStopRequested) more = false;
  if (bytes.size() <= kReplyResultOffset) return;
  const int status = bytes[kReplyResultOffset];
  if (status == kResultGoodsNotFound || status == kResultBadGoodsCode) return;
  if (status != 0) {
    Error(ErrorText(status), true, true, true);
    return;
  }
  if (!whole) {
    Error(Str(kWrongReplySize), true, true, true);
    return;
  }
  std::int64_t code = 0;
  if (!GoodsRecordCode(info, code)) {
    // A record whose code is no number is reported and skipped.
    Error(ErrorText(kResultBadGoodsCode), true, true, true);
    return;
  }
  if (code <= state.goodsLastCode) {
    state.transferProgress = 0;  // a repeated record
    return;
  }
  state.goodsLastCode = code;
  TWorkTable& table = Table();
  table.Append();
  GoodsRecordToRow(info, table);
  table.Post();
  // Redrawing the grid for every record would cost more than the record's
  // way over the line; it catches up a few times a second.
  if (gridShown_.hasExpired(kGridRefreshTime.count())) {
    table.EnableControls();
    table.DisableControls();
    gridShown_.start();
  }
}

// ---------------------------------------------------------------------------
// Reading the current record

void TGoodsPage::tovarLoadOne() {
  host_.SelectPage(pgGoods);
  if (transferRunning_ || host_.RegisterBusy()) return;
  DBGridEhTOBAP->PostEditor();
  TWorkTable& table = Table();
  if (table.IsEmpty() || table.IsNull("Code")) return;
  const std::int64_t code = table.Int("Code");
  transferRunning_ = true;
  DisableGoodsActions();
  host_.RunTransfer([&] {
    const TScopeExit end([this] {
      EnableGoodsActions();
      host_.Transfer().transferProgress = 0;
      transferRunning_ = false;
    });
    if (!host_.EnsureConnected()) return;
    host_.Transfer().transferProgress = 0;
    host_.Transfer().goodsLastCode = 0;
    // A refusal of the register is reported by the command itself.
    if (code < 0 || code > std::numeric_limits<int>::max() ||
        !host_.Protocol().GetGoods(static_cast<int>(code)))
      return;
    if (table.Edit() != WtResult::Ok) return;
    if (!GoodsRecordToRow(host_.Kkm().Info(), table)) {
      table.Cancel();
      Error(ErrorText(kResultBadGoodsCode), true, true, true);
      return;
    }
    table.Post();
    Mess("1 товар загружен", false, true, true);
  });
}

// ---------------------------------------------------------------------------
// Writing goods

void TGoodsPage::SaveGoods(bool singleRow) {
  host_.SelectPage(pgGoods);
  TTransferState& state = host_.Transfer();
  if (transferRunning_) {
    state.transferStopRequested = true;
    return;
  }
  if (host_.RegisterBusy() || state.transferProgress != 0) return;
  transferRunning_ = true;
  ShowWait(kGoodsWaitTime);
  DBGridEhTOBAP->PostEditor();
  DisableGoodsActions();
  host_.SetActionEnabled("tovarSaveAll", true);
  host_.RunTransfer([this, &state, singleRow] {
    const TScopeExit end([this] { EndTransfer("tovarSaveAll", kSaveAllCaption); });
    if (!host_.EnsureConnected()) return;
    TKKMInfo& info = host_.Kkm().Info();
    if (info.workMode != kOffLineMode) {
      Error(Str(kCannotWriteOffline), true, true, true);
      return;
    }
    if (!singleRow) {
      SaveChangedGoods();
      return;
    }
    // Everything the register will not get is named before the transfer.
    int toWrite = 0;
    int skipped = ReportRowsNotWritten(singleRow, info, toWrite);
    // What the register holds is kept first, when something will be written.
    host_.Action("tovarSaveAll")->setText(QString::fromUtf8(kStopCaption.data(), kStopCaption.size()));
    if (toWrite > 0 && host_.WriteSafety().backup.enabled && !BackupGoodsBeforeWrite(singleRow)) {
      Error(std::string(kBackupFailedText), true, true, true);
      return;
    }
    Mess("Записываем товар...", false, true, true);
    state.transferProgress = 0;
    state.goodsLastCode = 0;
    // A ticked box makes the register reset the quantity sold.
    info.keepSoldCount = !cbisSaveTOBAPCount->isChecked();
    TWorkTable& table = Table();
    if (!singleRow) table.First();
    host_.Action("tovarSaveAll")->setText(QString::fromUtf8(kStopCaption.data(), kStopCaption.size()));
    QProgressBar* progress = host_.ProgressBar();
    progress->reset();
    progress->setMaximum(table.RecordCount());
    progress->show();
    // The grid follows the rows a few times a second, not at every row.
    table.DisableControls();
    const TScopeExit resume([&table] { table.EnableControls(); });
    gridShown_.start();
    const int sections = info.maxCountDepat;
    const int highestCode = info.MaxCountGoods();
    int written = 0;
    host_.Protocol().lineCounts = {};
    TResumeControl control;
    control.stopRequested = [&state] { return state.transferStopRequested; };
    control.onResume = [&table, progress](int resumptions) {
      progress->setFormat(ResumedFormat(resumptions));
      Warning("Связь с ККМ прервалась, товар " + table.Text("Code") + " записываем снова", false, true, true);
      ShowWait(kGoodsWaitTime);
    };
    while (!table.Eof()) {
      ShowWait(kGoodsWaitTime);
      if (!GoodsRowSkipReason(table, highestCode, sections)) {
        state.transferProgress = table.RecNo();
        if (!GoodsRowToRecord(table, info)) {
          // A value the record cannot hold.
          Warning("Товар " + table.Text("Code") + " не записан", false, true, true);
          ++skipped;
        } else {
          progress->setValue(table.RecNo());
          if (state.transferStopRequested || UiHooks().IsTerminating()) break;
          if (!SetGoodsResuming(host_.Protocol(), control)) {
            // A stop during a resumption leaves the row unwritten.
            if (state.transferStopRequested) break;
            ShowLineCounts(host_.Protocol());
            Error("Сбой при записи товара", true, true, true);
            return;
          }
          ++written;
        }
      }
      if (singleRow) break;
      table.Next();
      if (gridShown_.hasExpired(kGridRefreshTime.count())) {
        table.EnableControls();
        table.DisableControls();
        gridShown_.start();
      }
    }
    ShowLineCounts(host_.Protocol());
    const std::string count = std::to_string(written);
    if (state.transferStopRequested) {
      Warning("Товары записаны частично, " + count + " тов.", false, true, true);
    } else if (!singleRow || written != 0) {
      if (!singleRow && skipped > 0)
        Warning(std::string(kGoodsSkippedText) + std::to_string(skipped) + " тов.", false, true, true);
      Mess("Записано " + count + " тов.", false, true, true);
    } else {
      Error("Товар не записан", true, true, true);
    }
  });
}

void TGoodsPage::SaveChangedGoods() {
  TTransferState& state = host_.Transfer();
  TKKMInfo& info = host_.Kkm().Info();
  TProtocolKKM& protocol = host_.Protocol();
  TWorkTable& table = Table();
  host_.Action("tovarSaveAll")->setText(QString::fromUtf8(kStopCaption.data(), kStopCaption.size()));
  protocol.lineCounts = {};
  // Rows keep the numbers of the file they came from while they are its rows.
  GoodsImportReport places;
  places.Reset(report_.file, report_.placeKind);
  places.rowPlaces = report_.rowPlaces;
  // Every row is checked against the register before anything is read or written.
  GoodsRegisterLimits limits;
  if (!ReadGoodsLimits(protocol, table, host_.Flags().taxesLoaded, limits)) {
    ShowLineCounts(protocol);
    Error("Сбой при загрузке товара: не прочитаны отделы и налоги ККМ", true, true, true);
    return;
  }
  const std::vector<GoodsCheck> checks = CheckGoodsRows(table, limits, places);
  std::string errors;
  int errorCount = 0;
  for (const GoodsCheck& c : checks) {
    const std::string text = GoodsCheckText(c, places.placeKind);
    if (!c.error) {
      Warning(text, false, true, true);
      continue;
    }
    Error(text, false, true, true);
    if (++errorCount <= GoodsImportReport::kIssuesInFull) errors += "\n" + text;
  }
  if (errorCount > 0) {
    if (errorCount > GoodsImportReport::kIssuesInFull) errors += "\n...";
    const std::string refused = std::string(kGoodsChecksRefusedText) + std::to_string(errorCount);
    Error(refused, false, true, true);
    // The box names the rows too (the first twenty).
    Error(refused + errors, true, false, false);
    return;
  }
  // What the register holds: for the comparison and for the backup.
  const bool all = cbGoodsWriteAll->isChecked();
  const bool backup = host_.WriteSafety().backup.enabled;
  const bool resetSold = cbisSaveTOBAPCount->isChecked();
  TRegisterGoods held;
  if (!all || backup) {
    Mess("Читаем товар ККМ для сравнения...", false, true, true);
    const bool read = ReadRegisterGoods(
        protocol, GoodsCodesToRead(table, info),
        [&](int) {
          ShowWait(kGoodsWaitTime);
          return !state.transferStopRequested && !UiHooks().IsTerminating();
        },
        held);
    if (!read) {
      ShowLineCounts(protocol);
      if (state.transferStopRequested)
        Warning("Товары записаны частично, 0 тов.", false, true, true);
      else
        Error("Сбой при загрузке товара: ничего не записано", true, true, true);
      return;
    }
  }
  const GoodsWritePlan plan = PlanGoodsWrite(table, limits, places, held, all, resetSold);
  Mess(GoodsPlanSummary(plan), false, true, true);
  if (plan.send.empty()) {
    ShowLineCounts(protocol);
    Mess(GoodsWriteResultText(0, 0, plan.unchanged, 0), false, true, true);
    return;
  }
  HideWait();
  if (!ConfirmWrite(plan)) {
    ShowLineCounts(protocol);
    Mess("Запись товаров отменена", false, true, true);
    return;
  }
  ShowWait(kGoodsWaitTime);
  // What the register holds is kept first.
  if (backup) {
    const std::string folder = GoodsBackupFolder(ProfileFolderPath());
    const std::string path = GoodsBackupPath(folder, info.serialNumber, std::chrono::system_clock::now());
    if (!SaveGoodsBackup(held, path)) {
      Error(std::string(kBackupFailedText), true, true, true);
      return;
    }
    PruneGoodsBackups(folder, info.serialNumber, host_.WriteSafety().backup.keep);
  }
  Mess("Записываем товар...", false, true, true);
  state.transferProgress = 0;
  state.goodsLastCode = 0;
  // A ticked box makes the register reset the quantity sold.
  info.keepSoldCount = !resetSold;
  QProgressBar* progress = host_.ProgressBar();
  progress->reset();
  progress->setMaximum(static_cast<int>(plan.send.size()));
  progress->show();
  // The grid follows the rows a few times a second, not at every row.
  table.DisableControls();
  const TScopeExit resume([&table] { table.EnableControls(); });
  gridShown_.start();
  int written = 0;
  int added = 0;
  int failed = 0;
  TResumeControl control;
  control.stopRequested = [&state] { return state.transferStopRequested; };
  control.onResume = [&table, progress](int resumptions) {
    progress->setFormat(ResumedFormat(resumptions));
    Warning("Связь с ККМ прервалась, товар " + table.Text("Code") + " записываем снова", false, true, true);
    ShowWait(kGoodsWaitTime);
  };
  int position = 0;
  for (const GoodsPlanRow& r : plan.send) {
    ShowWait(kGoodsWaitTime);
    table.SetRecNo(r.row + 1);
    state.transferProgress = table.RecNo();
    // The row being written shows; a stop pressed meanwhile leaves the next one unwritten.
    progress->setValue(++position);
    if (state.transferStopRequested || UiHooks().IsTerminating()) break;
    if (!GoodsRowToRecord(table, info)) {
      // A value the record cannot hold (the checks let none through).
      Warning("Товар " + table.Text("Code") + " не записан", false, true, true);
      ++failed;
      continue;
    }
    if (!SetGoodsResuming(protocol, control)) {
      // A stop during a resumption leaves the row unwritten.
      if (state.transferStopRequested) break;
      ShowLineCounts(protocol);
      Error("Сбой при записи товара", true, true, true);
      return;
    }
    ++written;
    if (r.isNew) ++added;
    if (gridShown_.hasExpired(kGridRefreshTime.count())) {
      table.EnableControls();
      table.DisableControls();
      gridShown_.start();
    }
  }
  ShowLineCounts(protocol);
  if (state.transferStopRequested) {
    Warning("Товары записаны частично, " + std::to_string(written) + " тов.", false, true, true);
    return;
  }
  Mess(GoodsWriteResultText(written, added, plan.unchanged, failed), false, true, true);
}

bool TGoodsPage::ConfirmWrite(const GoodsWritePlan& plan) {
  if (confirmWrite) return confirmWrite(plan);
  TGoodsWritePreview preview(plan, this);
  return preview.exec() == QDialog::Accepted;
}

int TGoodsPage::ReportRowsNotWritten(bool singleRow, const TKKMInfo& info, int& toWrite) {
  TWorkTable& table = Table();
  toWrite = 0;
  if (singleRow) {
    if (table.IsEmpty()) return 0;
    const int place = report_.PlaceOfRow(table.RecNo() - 1);
    std::optional<GoodsIssue> issue = GoodsRowSkipReason(table, info.MaxCountGoods(), info.maxCountDepat);
    if (!issue) {
      toWrite = 1;
      if (std::optional<GoodsIssue> name = GoodsNameIssue(table)) {
        name->place = place;
        Warning(GoodsIssueText(*name, report_.placeKind), false, true, true);
      }
      return 0;
    }
    issue->place = place;
    Warning(GoodsIssueText(*issue, report_.placeKind), false, true, true);
    return 1;
  }
  // Rows keep the numbers of the file they came from while they are its rows.
  GoodsImportReport check;
  check.Reset(report_.file, report_.placeKind);
  check.rowPlaces = report_.rowPlaces;
  toWrite = CheckGoodsForRegister(table, info, check);
  PublishGoodsReport(check);
  return check.rowsSkipped;
}

bool TGoodsPage::BackupGoodsBeforeWrite(bool singleRow) {
  TKKMInfo& info = host_.Kkm().Info();
  TTransferState& state = host_.Transfer();
  // The row written, a few rows one by one, or the whole goods table.
  const std::vector<int> codes = singleRow ? GoodsBackupCode(Table()) : GoodsBackupCodes(Table(), info);
  const std::string folder = GoodsBackupFolder(ProfileFolderPath());
  const std::string path = GoodsBackupPath(folder, info.serialNumber, std::chrono::system_clock::now());
  Mess("Резервная копия товаров ККМ...", false, true, true);
  // The grid keeps the table's rows: the backup reads into a table of its
  // own. The wait window stays up while records come; the progress bar is
  // the write's. The stop button stops the backup, and then the write.
  const bool ok = BackupGoods(host_.Protocol(), path, codes, [&](int) {
    ShowWait(kGoodsWaitTime);
    return !state.transferStopRequested && !UiHooks().IsTerminating();
  });
  if (ok) PruneGoodsBackups(folder, info.serialNumber, host_.WriteSafety().backup.keep);
  return ok;
}

}  // namespace zarvik::ui
