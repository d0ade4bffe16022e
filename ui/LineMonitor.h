// The line monitor "LineMonitor": a dockable view of the link traffic as the
// traces report it (control packets, data frames with sizes, command and
// result codes, the port's bytes on request, warnings and errors), with the
// time since the previous line shown and since the start of the exchange.
// While it is open it listens to the message helpers for the protocol traces
// (and the port's byte traces while "Байты" is on), whatever the trace depth
// of the run; console and log stay as the depth says. Traces are queued by
// the listener and added to the view a few times a second, so the monitor
// costs the exchange only the queueing and never runs inside it.
#pragma once

#include <QDockWidget>
#include <atomic>
#include <mutex>
#include <vector>

#include "LineMonitorModel.h"

class QCheckBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QTableView;
class QTimer;

namespace zarvik {
class TIniFile;
}

namespace zarvik::ui {

class TPageHost;
class TSpeedButtonEx;

inline constexpr const char* kLineMonitorCaption = "Монитор линии";
inline constexpr const char* kLineMonitorSection = "LineMonitor";
inline constexpr const char* kLineMonitorCannotWrite = "Не удалось записать файл ";
inline constexpr const char* kLineMonitorSaved = "Монитор линии записан в файл ";

class TLineMonitor : public QDockWidget {
  Q_OBJECT
 public:
  explicit TLineMonitor(TPageHost& host, QWidget* parent = nullptr);
  ~TLineMonitor() override;

  void setVisible(bool visible) override;

  // Adds the traces queued so far to the view (the timer does it too).
  void Flush();
  // Writes the lines shown to `path`: code page 1251, CR LF, a line of
  // column captions first. False when the file cannot be written.
  bool SaveToFile(const QString& path) const;
  // Open state and filters from / to the section "LineMonitor".
  void LoadSettings(const TIniFile& file);
  void SaveSettings(TIniFile& file) const;
  // True while it listens to the traces (it is open).
  bool Listening() const { return listenerId_ != 0; }

  TLineMonitorModel& Model() { return *model_; }
  TLineMonitorFilter& Filter() { return *filter_; }
  QCheckBox* CategoryBox(TLineCategory category) const;

  QCheckBox* cbMonControl = nullptr;
  QCheckBox* cbMonData = nullptr;
  QCheckBox* cbMonBytes = nullptr;
  QCheckBox* cbMonCommands = nullptr;
  QCheckBox* cbMonErrors = nullptr;
  QLineEdit* eMonFilter = nullptr;
  TSpeedButtonEx* bMonClear = nullptr;
  TSpeedButtonEx* bMonSave = nullptr;
  QLabel* lMonCount = nullptr;
  QTableView* MonitorGrid = nullptr;
  QFileDialog* SaveDialogMonitor = nullptr;

 signals:
  // The monitor was opened or closed (by its action, its close button or the
  // settings).
  void openChanged(bool open);

 private:
  void Listen(bool on);
  TMessDepth WantedDepth() const;
  void SaveExecute();
  void UpdateCount();

  TPageHost& host_;
  bool open_ = false;
  bool sized_ = false;
  TLineMonitorModel* model_ = nullptr;
  TLineMonitorFilter* filter_ = nullptr;
  QTimer* flushTimer_ = nullptr;
  int listenerId_ = 0;
  std::atomic<int> wantedDepth_{mdFunctional};
  std::mutex pendingMutex_;
  std::vector<TLineTrace> pending_;
};

}  // namespace zarvik::ui
