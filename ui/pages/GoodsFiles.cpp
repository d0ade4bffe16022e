// The goods page's files: the import and export menus and the dBASE and CSV
// actions over the goods exchange functions the command line uses too.
#include <QFileDialog>
#include <QMenu>

#include "DBGridEh.h"
#include "GoodsPage.h"
#include "SpeedButtonEx.h"
#include "model/U_kkms.h"
#include "store/GoodsExchange.h"
#include "store/UnitBD.h"

namespace zarvik::ui {

namespace {

// Filters and default extensions of the file dialogs.
const QString kDbfFilter = QStringLiteral("DBF (*.dbf)");
const QString kCsvFilter = QStringLiteral("CSV (*.csv)");
const QString kDbfSuffix = QStringLiteral("dbf");
const QString kCsvSuffix = QStringLiteral("csv");

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

void TGoodsPage::tovarFromDBF() {
  host_.SelectPage(pgGoods);
  // The open dialog keeps the default extension the last action gave it.
  const QString path = ChooseFile(*OpenDialogDBF, kDbfFilter, {}, false);
  if (path.isEmpty()) return;
  DBGridEhTOBAP->PostEditor();
  TWorkTable& table = Table();
  table.DisableControls();
  const TScopeExit resume([&] { table.EnableControls(); });
  GoodsImportReport report;
  const bool imported = ImportGoodsDbf(path.toStdString(), table, GoodsImportLimit(&host_.Kkm()), report);
  TakeImportReport(imported, std::move(report));
}

void TGoodsPage::tovarToDBF() {
  host_.SelectPage(pgGoods);
  const QString path = ChooseFile(*SaveDialogDBF, kDbfFilter, kDbfSuffix, true);
  if (path.isEmpty()) return;
  DBGridEhTOBAP->PostEditor();
  TWorkTable& table = Table();
  const int current = table.RecNo();
  table.DisableControls();
  const TScopeExit resume([&] {
    if (current > 0) table.SetRecNo(current);
    table.EnableControls();
  });
  ExportGoodsDbf(table, path.toStdString());
}

void TGoodsPage::tovarFromCSV() {
  host_.SelectPage(pgGoods);
  const QString path = ChooseFile(*OpenDialogDBF, kCsvFilter, kCsvSuffix, true);
  if (path.isEmpty()) return;
  DBGridEhTOBAP->PostEditor();
  TWorkTable& table = Table();
  table.DisableControls();
  const TScopeExit resume([&] { table.EnableControls(); });
  GoodsImportReport report;
  const bool imported = ImportGoodsCsv(path.toStdString(), table, report);
  TakeImportReport(imported, std::move(report));
}

void TGoodsPage::tovarToCSV() {
  host_.SelectPage(pgGoods);
  const QString path = ChooseFile(*SaveDialogDBF, kCsvFilter, kCsvSuffix, true);
  if (path.isEmpty()) return;
  DBGridEhTOBAP->PostEditor();
  TWorkTable& table = Table();
  const int current = table.RecNo();
  table.DisableControls();
  const TScopeExit resume([&] {
    if (current > 0) table.SetRecNo(current);
    table.EnableControls();
  });
  ExportGoodsCsv(table, path.toStdString());
}

}  // namespace zarvik::ui
