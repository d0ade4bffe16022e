// Page 3 "Электронный журнал": reading the register's journal as a stream
// that the user can stop, its receipt text and record lines, saving either of
// them to a file.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QWidget>
#include <chrono>

#include "PageHost.h"

class QFileDialog;
class QSplitter;
class QTabWidget;

namespace zarvik {
struct TMessageBuffer;
}

namespace zarvik::ui {

class TJournalTablesView;
class TJournalView;
class TSpeedButtonEx;

// Texts of the page.
inline constexpr const char* kJournalLoadingText = "Загружаем ОТЧЕТ...";
inline constexpr const char* kJournalLoadedText = "ОТЧЕТ загружен";
inline constexpr const char* kJournalPartlyLoadedText = "ОТЧЕТ частично загружен";
inline constexpr const char* kJournalFailedText = "Сбой при загрузке ОТЧЕТА";
inline constexpr const char* kJournalStopCaption = "Остановить";
inline constexpr const char* kJournalReadAgainCaption = "Считать из ККМ";
inline constexpr const char* kJournalCannotWriteText = "Не удалось записать файл ";

// Waits of the journal read.
// The wait window of a read, renewed with every frame.
inline constexpr std::chrono::milliseconds kJournalWait{2000};
// The views show what has arrived at least this often while a read runs.
inline constexpr std::chrono::milliseconds kJournalViewRefresh{250};
// The link's own pauses during a read are taken in slices this long, with the
// window's events processed between them.
inline constexpr std::chrono::milliseconds kJournalWaitSlice{5};

class TJournalPage : public QWidget {
  Q_OBJECT
 public:
  TJournalPage(TPageHost& host, QWidget* parent = nullptr);

  // Reads the journal; pressed again while the read streams, asks it to
  // stop. Never starts a second read while one runs, nor while another
  // exchange with the register runs.
  void aLoadMagazinExecute();
  // Save the text view or the data view to the file chosen in
  // SaveDialogMagazine (code page 1251, CR LF after every line).
  void aSaveTextMagazinExecute();
  void aSaveDataMagazinExecute();
  // The read's handler of each frame of the register's answer.
  void JournalReplyReceived(TMessageBuffer& answer, bool& more);

  // A read runs (from the press until its outcome is reported).
  bool Reading() const { return reading_ != TReadStage::Idle; }

  TSpeedButtonEx* bLoadMagazineFromKKM = nullptr;
  TSpeedButtonEx* bMagazineToFile = nullptr;
  TSpeedButtonEx* bSave = nullptr;
  TJournalView* MemoMagazine = nullptr;
  TJournalView* MemoMagazineSource = nullptr;
  QFileDialog* SaveDialogMagazine = nullptr;
  // The text and data views on one tab, the journal as tables on the other
  // (JournalPageTables.cpp).
  QTabWidget* TabsMagazine = nullptr;
  TJournalTablesView* JournalTables = nullptr;
  // Builds the tables, the summary and the check from the data view's lines
  // and marks the findings in the text view.
  void UpdateTables();

 private:
  enum class TReadStage { Idle, Connecting, Streaming };

  void SaveView(const TJournalView& view);
  void FlushViews();
  void SetLoadCaption(const QString& caption);
  void ApplyLoadCaption();
  void SetSavesEnabled(bool enabled);
  // The tabs of the views, with the text and data views' splitter on the first.
  QWidget* MakeViewTabs();

  TPageHost& host_;
  QSplitter* views_ = nullptr;
  TReadStage reading_ = TReadStage::Idle;
  // The register sent the journal's last frame during this read.
  bool endReached_ = false;
  QElapsedTimer sinceFlush_;
  // The button's own caption while it differs from its action's (empty:
  // the action's caption).
  QString loadCaption_;
};

}  // namespace zarvik::ui
