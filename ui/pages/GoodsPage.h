// Page 2 "Товары и Услуги": the goods table `mtTOBAP` in its grid, the
// transfers of the whole table or one row to and from the register (long
// ones with progress, stopped by a second press of their button), the
// editing actions, and import and export through dBASE, CSV and spreadsheet files.
//
// The page's members are spread over GoodsPage.cpp (layout, grid, editing),
// GoodsTransfer.cpp (register transfers) and GoodsFiles.cpp (files).
#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QString>
#include <QWidget>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "PageHost.h"
#include "store/GoodsPlan.h"
#include "store/GoodsReport.h"

class QCheckBox;
class QFileDialog;
class QLabel;
class QMenu;
class QToolBar;

namespace zarvik {
class TWorkTable;
struct TMessageBuffer;
}  // namespace zarvik

namespace zarvik::ui {

class TDBGridEh;
class TSpeedButtonEx;
class TGoodsSheetDialog;

// The wait window stays up this long after each record of a transfer.
inline constexpr std::chrono::milliseconds kGoodsWaitTime{2000};
// How often the grid shows the rows a read-all has received so far.
inline constexpr std::chrono::milliseconds kGridRefreshTime{250};
// Limits while no register has been identified.
inline constexpr int kGoodsLimitWithoutRegister = 2000;
inline constexpr int kSectionLimitWithoutRegister = 4;

// Texts of the page.
inline constexpr std::string_view kStopCaption = "Остановить";
inline constexpr std::string_view kLoadAllCaption = "Считать все из ККМ";
inline constexpr std::string_view kSaveAllCaption = "Записать все в ККМ";
inline constexpr std::string_view kWriteAllRowsLabel = "Записывать все строки, а не только отличия";
inline constexpr std::string_view kResetSoldLabel = "При  записи в ККМ обнулять кол - во \"Продано\"";
inline constexpr std::string_view kDeleteQuestion = "Вы действительно желаете удалить";
inline constexpr std::string_view kDuplicateCodeText = "Товар с кодом ";
inline constexpr std::string_view kDuplicateCodeTextEnd = " уже есть в таблице, код не принят";

// Cell colours.
inline const QColor kGoodsErrorColor(255, 217, 217);
inline const QColor kGoodsOddRowColor(0xEE, 0xF3, 0xF9);

// How a goods cell is drawn.
enum class TGoodsCellState { Plain, Error, Deleted };

class TGoodsPage : public QWidget {
  Q_OBJECT
 public:
  TGoodsPage(TPageHost& host, QWidget* parent = nullptr);

  TDBGridEh* DBGridEhTOBAP = nullptr;
  TSpeedButtonEx* bLoadTOBAP = nullptr;
  TSpeedButtonEx* bLoadOneTOBAP = nullptr;
  TSpeedButtonEx* bSaveTOBAP = nullptr;
  TSpeedButtonEx* bSaveOneTOBAP = nullptr;
  TSpeedButtonEx* bAddTOBAP = nullptr;
  TSpeedButtonEx* bDelTovar = nullptr;
  TSpeedButtonEx* bDelTOBAP = nullptr;
  TSpeedButtonEx* bDelAllWares = nullptr;
  TSpeedButtonEx* SpeedButtonExImpWares = nullptr;
  TSpeedButtonEx* SpeedButtonExExpWares = nullptr;
  QCheckBox* cbisSaveTOBAPCount = nullptr;
  QLabel* Label9 = nullptr;
  // "Записать все в ККМ" sends every row, not only those that differ.
  QCheckBox* cbGoodsWriteAll = nullptr;
  QMenu* PopupMenuImport = nullptr;
  QMenu* PopupMenuExport = nullptr;
  QFileDialog* OpenDialogDBF = nullptr;
  QFileDialog* SaveDialogDBF = nullptr;

  // Shows a file dialog and returns the chosen file, or "" when cancelled.
  // Tests replace it to answer without a person.
  std::function<QString(QFileDialog& dialog)> runFileDialog;
  // Shows what "Записать все в ККМ" will write (TGoodsWritePreview) and
  // returns whether to go on. Tests replace it to answer without a person.
  std::function<bool(const GoodsWritePlan& plan)> confirmWrite;

  TWorkTable& Table();

  // Highest goods code and section the grid and the writes accept: the
  // identified register's, else 2000 and 4.
  int GoodsLimit();
  int SectionLimit();
  // The drawing state of a cell (view row, grid column).
  TGoodsCellState CellState(int row, int column);

  // Actions.
  void tovarLoadAll();
  void tovarLoadOne();
  void tovarSaveAll() { SaveGoods(false); }
  void tovarSaveOne() { SaveGoods(true); }
  void tovarAddRec();
  void tovarDelRec();
  void tovarRemarkDelOne();
  void tovarRemarkDelAll();
  void tovarCorrectData();
  void tovarImport();
  void tovarExport();
  void tovarFromDBF();
  void tovarToDBF();
  void tovarFromCSV();
  void tovarToCSV();
  void tovarFromSheet();
  void tovarToXLSX();

  // Shows the dialog of a sheet's columns; true when accepted. Tests replace
  // it to answer without a person.
  std::function<bool(TGoodsSheetDialog& dialog)> runSheetDialog;

  // What the last import found (or, after a read from the register, the
  // table itself): the file's line or record number of each row while the
  // rows are those it brought, used to name the rows a write skips.
  const GoodsImportReport& ImportReport() const { return report_; }

  // A barcode from the scanner: goes into `Shtrih` of the current row, which
  // is left in edit state. Nothing happens with an empty table.
  void EnterBarcode(const std::string& code);

  // Every goods action, the main menu bar, the reset box, the page
  // selectors and the grid off (on) for the duration of a transfer.
  void DisableGoodsActions();
  void EnableGoodsActions();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildLayout();
  void BuildGrid();
  void FitNameColumn();
  void ConnectActions();
  QString DisplayText(int row, int column, const QString& text);
  // A code typed into row `row` is taken unless another row has it (then
  // refused with a message naming it).
  bool CodeAccepted(int row, const QString& text);
  void MarkForDeletion();
  void SaveGoods(bool singleRow);
  // The checks, the comparison and the preview of a write of the whole
  // table, then the write of the rows that differ.
  void SaveChangedGoods();
  bool ConfirmWrite(const GoodsWritePlan& plan);
  void OnGoodsRecord(TMessageBuffer& answer, bool& more);
  // Ends a transfer on every way out.
  void EndTransfer(std::string_view action, std::string_view caption);
  QString ChooseFile(QFileDialog& dialog, const QString& filter, const QString& defaultSuffix,
                     bool setSuffix);
  void ShowPopup(QMenu* menu, QWidget* button);
  // Takes the report of an import into the table and shows it.
  void TakeImportReport(bool imported, GoodsImportReport&& report);
  // The steps every file import and export shares around `transfer`: the
  // editor posted, the grid suspended, the report taken (import), the
  // current row kept (export).
  void ImportWith(const std::function<bool(TWorkTable&, GoodsImportReport&)>& import);
  void ExportWith(const QString& filter, const QString& suffix,
                  bool (*write)(TWorkTable& table, const std::string& path));
  // Names, before a write, each row the register will not get (and each
  // name it cannot print whole); returns the number of rows skipped and
  // gives the number to write.
  int ReportRowsNotWritten(bool singleRow, const TKKMInfo& info, int& toWrite);
  // The register's goods (all, or only the current row's) kept in a goods
  // backup file before a write; false after a reported failure or a stop.
  bool BackupGoodsBeforeWrite(bool singleRow);
  QToolBar* MainToolBar();

  TPageHost& host_;
  // A transfer of this page runs (also while transferProgress reads 0, as
  // before the first record arrives or after a repeated one).
  bool transferRunning_ = false;
  int nameWidth_ = 0;  // the name column's display width
  int nameColumn_ = -1;
  int codeColumn_ = -1;
  GoodsImportReport report_;
  QElapsedTimer gridShown_;  // since the grid last showed the rows of a read-all
};

}  // namespace zarvik::ui
