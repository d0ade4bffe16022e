// The goods page's files: the import and export menus and the dBASE, CSV and
// spreadsheet actions over the goods exchange functions the command line
// uses too.
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>

#include "DBGridEh.h"
#include "GoodsPage.h"
#include "GoodsSheetDialog.h"
#include "SpeedButtonEx.h"
#include "model/U_kkms.h"
#include "shell/DiaLog.h"
#include "shell/IniFile.h"
#include "shell/U_filedirwork.h"
#include "shell/UserFiles.h"
#include "store/GoodsExchange.h"
#include "store/GoodsSheet.h"
#include "store/UnitBD.h"

namespace zarvik::ui {

namespace {

// Filters and default extensions of the file dialogs.
const QString kDbfFilter = QStringLiteral("DBF (*.dbf)");
const QString kCsvFilter = QStringLiteral("CSV (*.csv)");
const QString kDbfSuffix = QStringLiteral("dbf");
const QString kCsvSuffix = QStringLiteral("csv");
const QString kSheetFilter = QStringLiteral("XLSX, ODS (*.xlsx *.ods)");
const QString kXlsxFilter = QStringLiteral("XLSX (*.xlsx)");
const QString kXlsxSuffix = QStringLiteral("xlsx");

}  // namespace

void TGoodsPage::TakeImportReport(bool imported, GoodsImportReport&& report) {
  // A file that could not be read left the table as it was, and the report
  // of the rows it holds stays; a file that failed part way brought rows.
  if (!imported && report.rowPlaces.empty()) return;
  report_ = std::move(report);
  PublishGoodsReport(report_);
}

void TGoodsPage::ShowPopup(QMenu* menu, QWidget* button) {
  menu->popup(button->mapToGlobal(button->rect().center()));
}

void TGoodsPage::tovarImport() {
  ShowPopup(PopupMenuImport, SpeedButtonExImpWares);
}

void TGoodsPage::tovarExport() {
  ShowPopup(PopupMenuExport, SpeedButtonExExpWares);
}

QString TGoodsPage::ChooseFile(QFileDialog& dialog, const QString& filter, const QString& defaultSuffix,
                               bool setSuffix) {
  dialog.setNameFilter(filter);
  if (setSuffix) dialog.setDefaultSuffix(defaultSuffix);
  if (runFileDialog) return runFileDialog(dialog);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

void TGoodsPage::ImportWith(const std::function<bool(TWorkTable&, GoodsImportReport&)>& import) {
  DBGridEhTOBAP->PostEditor();
  TWorkTable& table = Table();
  table.DisableControls();
  const TScopeExit resume([&] { table.EnableControls(); });
  GoodsImportReport report;
  const bool imported = import(table, report);
  TakeImportReport(imported, std::move(report));
}

void TGoodsPage::ExportWith(const QString& filter, const QString& suffix,
                            bool (*write)(TWorkTable& table, const std::string& path)) {
  host_.SelectPage(pgGoods);
  const QString path = ChooseFile(*SaveDialogDBF, filter, suffix, true);
  if (path.isEmpty()) return;
  DBGridEhTOBAP->PostEditor();
  TWorkTable& table = Table();
  const int current = table.RecNo();
  table.DisableControls();
  const TScopeExit resume([&] {
    if (current > 0) table.SetRecNo(current);
    table.EnableControls();
  });
  write(table, path.toStdString());
}

void TGoodsPage::tovarFromDBF() {
  host_.SelectPage(pgGoods);
  // The open dialog keeps the default extension the last action gave it.
  const QString path = ChooseFile(*OpenDialogDBF, kDbfFilter, {}, false);
  if (path.isEmpty()) return;
  const int limit = GoodsImportLimit(&host_.Kkm());
  ImportWith([&](TWorkTable& table, GoodsImportReport& report) {
    return ImportGoodsDbf(path.toStdString(), table, limit, report);
  });
}

void TGoodsPage::tovarToDBF() {
  ExportWith(kDbfFilter, kDbfSuffix, &ExportGoodsDbf);
}

void TGoodsPage::tovarFromCSV() {
  host_.SelectPage(pgGoods);
  const QString path = ChooseFile(*OpenDialogDBF, kCsvFilter, kCsvSuffix, true);
  if (path.isEmpty()) return;
  ImportWith([&](TWorkTable& table, GoodsImportReport& report) {
    return ImportGoodsCsv(path.toStdString(), table, report);
  });
}

void TGoodsPage::tovarToCSV() {
  ExportWith(kCsvFilter, kCsvSuffix, &ExportGoodsCsv);
}

void TGoodsPage::tovarFromSheet() {
  host_.SelectPage(pgGoods);
  const QString chosen = ChooseFile(*OpenDialogDBF, kSheetFilter, {}, false);
  if (chosen.isEmpty()) return;
  const std::string path = chosen.toStdString();
  const std::string name = QFileInfo(chosen).fileName().toStdString();
  TSheet sheet;
  std::vector<std::string> names;
  std::string error;
  if (!ReadSheetNames(path, names, error) || !ReadSheet(path, {}, sheet, error)) {
    Error(std::string(kSheetReadFailedText) + " " + name + ": " + error, true, true, true);
    return;
  }
  // The columns as the user chose them for this header before, else as the
  // names say.
  const std::string remembered = JoinPath(UserConfigFolder(), std::string(kGoodsColumnsFile));
  GoodsSheetLayout layout;
  if (!RememberedGoodsLayout(sheet, TIniFile(remembered), layout)) layout = FindGoodsSheetLayout(sheet, {});
  // The user chooses when the code or the name has no column, or a header
  // is not clear.
  if (!layout.Usable() || layout.column[gfName] < 0) {
    TGoodsSheetDialog dialog(path, names, std::move(sheet), layout, this);
    const bool accepted = runSheetDialog ? runSheetDialog(dialog) : dialog.exec() == QDialog::Accepted;
    if (!accepted || !dialog.Layout().Usable()) return;
    sheet = dialog.Sheet();
    layout = dialog.Layout();
    EnsureFolder(UserConfigFolder());
    TIniFile file(remembered);
    RememberGoodsColumns(file, sheet, layout);
    if (!file.UpdateFile()) Warning("не удалось записать " + remembered, false, true, true);
  }
  ImportWith([&](TWorkTable& table, GoodsImportReport& report) {
    report.file = name;
    return ImportGoodsSheet(sheet, layout, table, report);
  });
}

void TGoodsPage::tovarToXLSX() {
  ExportWith(kXlsxFilter, kXlsxSuffix, &ExportGoodsXlsx);
}

}  // namespace zarvik::ui
