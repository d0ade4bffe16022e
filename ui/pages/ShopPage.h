// The page "Магазин" (TabSheetShop): the registers of a fleet file in one
// table and the operations on the selected ones (or all), each register in a
// zarvikctl worker process of its own as `zarvikctl fleet` runs them, at most
// "Одновременно" at a time; the window only reads their progress lines, so it
// keeps painting while the registers work.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QProcess;
class QSpinBox;
class QTableWidget;
class QLabel;
class QPlainTextEdit;

namespace zarvik {
class TIniFile;
}

namespace zarvik::ui {

class TPageHost;
class TShopDayView;

// Texts of the page.
inline constexpr const char* kShopStateIdle = "не опрошена";
inline constexpr const char* kShopStateOnline = "на связи";
inline constexpr const char* kShopStateNoLink = "нет связи";
inline constexpr const char* kShopStateForeign = "чужой номер";
inline constexpr const char* kShopStateRunning = "работает";
inline constexpr const char* kShopStateDone = "готово";
inline constexpr const char* kShopStateFailed = "ошибка";
inline constexpr const char* kShopStateStopped = "остановлена";
inline constexpr const char* kShopStateWaiting = "ожидает";
// ZarvikConfig.ini: the fleet file last opened or saved.
inline constexpr const char* kFleetSection = "Fleet";
inline constexpr const char* kFleetFileKey = "File";

// Columns of the table.
enum TShopColumn : int {
  scName,
  scPort,
  scDevice,
  scSpeed,
  scNet,
  scExpected,
  scSerial,
  scModel,
  scState,
  scProgress,
  scResult,
  scTime,
  scColumns
};

// One register of the fleet and what its last operation left.
struct TShopRegister {
  std::string name;
  int port = 0;
  int speed = 0;  // 0: the worker's default
  int net = 0;    // 0: the worker's default
  std::string expected;  // serial number the fleet file expects; "" any
  std::string serial;    // the one that answered
  std::string model;
  std::string state = kShopStateIdle;
  std::string progress;
  std::string result;  // what was done, or the failure
  std::string time;    // "HH:MM:SS" of the last result
  std::vector<std::string> output;  // the worker's standard output lines
};

class TShopPage : public QWidget {
  Q_OBJECT
 public:
  TShopPage(TPageHost& host, QWidget* parent = nullptr);
  ~TShopPage() override;
  TShopPage(const TShopPage&) = delete;
  TShopPage& operator=(const TShopPage&) = delete;

  // The fleet file: read (false after a reported failure; the table stays as
  // it was) and written whole.
  bool OpenList(const QString& path);
  bool SaveList(const QString& path);
  QString ListPath() const { return listPath_; }
  // [Fleet] File= of ZarvikConfig.ini: opened at start, remembered at close.
  void LoadSettings(const TIniFile& file);
  void SaveSettings(TIniFile& file) const;

  // The operations on the selected registers (all when none is selected).
  void Poll();
  void ApplyConfig(const QString& path);
  void WriteGoods(const QString& path);
  void ReadJournals(const QString& folder);
  void Compare(const QString& path);
  // "Добавить найденные": the ports the system lists (zarvikctl ports), each
  // not in the list yet searched by a worker of its own (zarvikctl find);
  // the registers that answer are added with the speed they answered at.
  void AddFound();
  // Stops every worker at its next record; registers waiting are not started.
  void Stop();
  bool Running() const;

  // The zarvikctl program the workers run (found beside the window program).
  void SetWorkerProgram(const QString& path) { worker_ = path; }
  QString WorkerProgram() const { return worker_; }

  const std::vector<TShopRegister>& Registers() const { return registers_; }
  QTableWidget* Table() const { return table_; }
  QSpinBox* Jobs() const { return jobs_; }
  // The report of the last operation as CSV (code page 1251) or JSON.
  bool SaveReport(const QString& path);
  // The register rows the next operation takes.
  std::vector<int> TargetRows() const;
  // "Сводка дня по магазину": the day table of the journal files of `folder`
  // (record lines, one file per register, named by serial number).
  void ShowDaySummary(const QString& folder);

  // The file and folder dialogs (a test answers them): `kind` is
  // TFileAsk, the answer the path chosen or "" when cancelled.
  enum class TFileAsk { Open, Save, Folder };
  std::function<QString(TFileAsk kind, const QString& title, const QString& filter)> chooseFile;

 signals:
  // The last worker of an operation has ended.
  void operationFinished();

 private:
  struct TJob;
  void BuildLayout();
  void WireActions();
  void UpdateActions();
  void Refill();
  void ShowRow(int row);
  void TableEdited(int row, int column);
  void AddRegister();
  void RemoveRegisters();
  void OpenRegister(int row);
  void ShowDifferences();
  // Starts `command` on `rows`; `kind` says how a finished worker is read.
  enum class TOp { Poll, Compare, Apply, Goods, Journals };
  void Start(TOp op, const std::vector<int>& rows, const QStringList& command, const QString& outDir = {});
  void Launch();
  void WorkerOutput(TJob& job, bool error);
  void WorkerLine(TJob& job, const std::string& line, bool error);
  void WorkerEnded(TJob& job, int exitCode, bool crashed);
  QString Choose(TFileAsk kind, const char* title, const QString& filter);

  TPageHost& host_;
  QTableWidget* table_ = nullptr;
  QSpinBox* jobs_ = nullptr;
  QLabel* lListPath = nullptr;
  QPlainTextEdit* differences_ = nullptr;
  std::vector<TShopRegister> registers_;
  QString listPath_;
  QString worker_;
  bool filling_ = false;
  // The running operation.
  TOp op_ = TOp::Poll;
  QString opText_;
  QStringList command_;  // what each worker runs
  TShopDayView* dayView_ = nullptr;
  QString outDir_;
  bool stopping_ = false;
  std::vector<std::unique_ptr<TJob>> running_;
  // "Добавить найденные": the port list, then the searches.
  void FindOnPorts(const std::vector<int>& ports);
  void FinderEnded(QProcess* process, int port);
  QProcess* portLister_ = nullptr;
  std::vector<std::pair<QProcess*, int>> finders_;
  std::vector<int> findQueue_;
  int found_ = 0;
  std::function<void()> findNext_;
  std::chrono::steady_clock::time_point opStart_;
};

}  // namespace zarvik::ui
