// The lines of the line monitor: each trace of the link (control packets,
// data frames, port bytes, command steps, messages, warnings and errors)
// read into one row with its kind, direction, size, command, result code and
// timings; a table model over those rows with a row limit, and the filter
// the monitor view shows them through.
#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QString>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "shell/DiaLog.h"

namespace zarvik::ui {

// What a row is, for the filters.
enum class TLineCategory : std::uint8_t {
  Control,   // a control packet (RDY, ACK, DISC, the data header DATA, ...)
  Data,      // a data frame
  Bytes,     // the port's bytes and port steps (depth mdHardWare)
  Commands,  // command steps, the start and end of an exchange, messages
  Errors,    // warnings and errors
};
inline constexpr int kLineCategoryCount = 5;

enum class TLineDirection : std::uint8_t { None, ToRegister, FromRegister };

// One trace as the monitor keeps it until it is read into a row.
struct TLineTrace {
  TMessDepth depth = mdUser;
  TTraceKind kind = TTraceKind::Trace;
  std::string text;
  std::int64_t timeUs = 0;  // microseconds since the epoch
};

struct TLineRecord {
  std::int64_t timeUs = 0;         // when the trace came (the first byte of joined byte traces)
  std::int64_t lastTimeUs = 0;     // the last trace joined into this row
  std::int64_t sinceStartUs = -1;  // since the start of the exchange; -1 outside one
  TLineCategory category = TLineCategory::Commands;
  TTraceKind kind = TTraceKind::Trace;
  TLineDirection direction = TLineDirection::None;
  bool continuation = false;  // "асинх." in a control packet's trace
  bool exchangeMark = false;  // the start or end line of an exchange
  bool retried = false;       // a packet that crossed the line again (a repetition)
  int size = -1;     // bytes: 5 for a control packet, the payload of a data frame, the bytes of a port trace
  int command = -1;  // command code of a data frame
  int result = -1;   // result code of an answer or of a failed link step
  QString name;      // the kind as the trace names it: "RDY", "ACK", "DATA", "data", "ReadFromCOM", ...
  QString text;      // the trace as it came
};

// Columns of the monitor.
enum TLineColumn : int {
  lcTime,
  lcDelta,
  lcSinceStart,
  lcKind,
  lcDirection,
  lcSize,
  lcCommand,
  lcResult,
  lcText,
  lcCount
};

// Reads traces into rows. It keeps the start of the current exchange, so the
// traces must come in the order they were made.
class TLineTraceReader {
 public:
  TLineRecord Read(const TLineTrace& trace);
  void Reset() { exchangeStartUs_ = -1; }

 private:
  std::int64_t exchangeStartUs_ = -1;
};

// The name of a command code as the program calls the command, or empty.
QString CommandName(int code);

// The rows, oldest first, at most MaxRows(): when more come, the oldest tenth
// goes. Byte traces that follow each other in one direction are joined into
// one row (a data frame is read one byte per trace), up to kMaxJoinedBytes.
class TLineMonitorModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr int kDefaultMaxRows = 50000;
  static constexpr int kMaxJoinedBytes = 600;

  explicit TLineMonitorModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Reads the traces into rows and adds them in one step.
  void Append(const std::vector<TLineTrace>& traces);
  void Clear();
  const TLineRecord& Record(int row) const { return rows_[static_cast<std::size_t>(row)]; }
  int MaxRows() const { return maxRows_; }
  void SetMaxRows(int rows);
  // Rows dropped so far for the row limit.
  std::int64_t DroppedRows() const { return dropped_; }

  // The text of a cell as shown (the time since the previous line is the
  // filter's: it depends on which lines are shown).
  static QString CellText(const TLineRecord& r, int column);

 private:
  bool JoinBytes(TLineRecord& last, const TLineRecord& next) const;
  void DropOldest(int count);

  std::deque<TLineRecord> rows_;
  TLineTraceReader reader_;
  int maxRows_ = kDefaultMaxRows;
  std::int64_t dropped_ = 0;
};

// The rows the monitor shows: the categories switched on and, when a text
// is given, the rows whose kind, command, result or text contain it (case
// ignored). The column "+мс" is the time since the previous row shown.
class TLineMonitorFilter : public QSortFilterProxyModel {
  Q_OBJECT
 public:
  explicit TLineMonitorFilter(TLineMonitorModel& model, QObject* parent = nullptr);

  void SetCategory(TLineCategory category, bool shown);
  bool CategoryShown(TLineCategory category) const;
  void SetText(const QString& text);
  const QString& Text() const { return text_; }

  QVariant data(const QModelIndex& index, int role) const override;
  // The shown rows as text lines: a line of column captions, then one line
  // per row, the columns separated by tabs.
  QStringList Lines() const;

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  QString DeltaText(int proxyRow) const;

  TLineMonitorModel& model_;
  unsigned categories_ = 0;
  QString text_;
};

}  // namespace zarvik::ui
