// A Qt item model over a working table: one row per row the table shows
// (through its profile filter, plus the row being inserted), one column per
// chosen field. The grid edits the table in place: an edited cell is stored
// in the row and posted, so the table's events run as for any other change.
// The model follows the table's notifications; while the table's controls
// are disabled (a bulk change) it waits for the single reset at the end.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "store/WorkTable.h"

namespace zarvik::ui {

struct TGridColumn {
  std::string field;
  QString title;  // empty: the field's display label
  bool readOnly = false;
  // Choices of a pick list (the editor becomes a drop-down list); the stored
  // value is the chosen text.
  QStringList pickList;
  // Stored values of the pick list's choices, in the same order (empty: the
  // chosen text itself is stored).
  QStringList keyList;
  int widthChars = 0;  // 0: the field's display width
  Qt::Alignment alignment = {};
};

// How one cell is drawn; unset members keep the grid's defaults.
struct TCellStyle {
  std::optional<QColor> background;
  std::optional<QColor> foreground;
  std::optional<bool> bold;
  std::optional<QString> toolTip;
};

class TWorkTableModel : public QAbstractTableModel, private IWorkTableObserver {
  Q_OBJECT
 public:
  TWorkTableModel(TWorkTable& table, std::vector<TGridColumn> columns, QObject* parent = nullptr);
  ~TWorkTableModel() override;

  TWorkTable& Table() { return table_; }
  const std::vector<TGridColumn>& Columns() const { return columns_; }
  int FieldOf(int column) const { return fieldIndex_[static_cast<std::size_t>(column)]; }
  int ColumnOf(std::string_view field) const;

  // Display text of a cell instead of the table's text (e.g. a code shown
  // as a word). Receives the view row, the column and the table's text.
  std::function<QString(int row, int column, const QString& text)> displayText;
  // Drawing of a cell (error and deleted states, differences).
  std::function<TCellStyle(int row, int column)> cellStyle;
  // Whether an edit may be stored (view row, column, text); a refusal has
  // said why. Unset: every edit the table can convert is taken.
  std::function<bool(int row, int column, const QString& text)> acceptEdit;
  // Called after an edit was stored, before it is posted; may post itself.
  std::function<void(int row, int column)> afterEdit;
  // Whether an edit posts the row at once (default) or leaves it in edit
  // state for the next move.
  bool postOnEdit = true;
  // Size of the row number sections, set by the grid: a digit's width times
  // the digits of the row count, plus padding. With it the header needs no
  // text layout per row, which keeps a grid of thousands of rows quick.
  struct TRowHeaderMetrics {
    int digitWidth = 0;  // 0: the header measures the numbers itself
    int padding = 0;
    int height = 0;
  };
  TRowHeaderMetrics rowHeaderMetrics;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Repaints every cell (e.g. after the limits behind the cell style changed).
  void Redraw();

 signals:
  // The table's current row moved (view row, -1 for none).
  void currentRowChanged(int row);
  // An edit could not be stored (the table's error text).
  void editRefused(const QString& text);

 private:
  void RowsInserted(int first, int count) override;
  void RowsRemoved(int first, int count) override;
  void RowChanged(int row) override;
  void CurrentChanged(int row) override;
  void Reset() override;

  TWorkTable& table_;
  std::vector<TGridColumn> columns_;
  std::vector<int> fieldIndex_;
  int rows_ = 0;  // the row count the views know
};

}  // namespace zarvik::ui
