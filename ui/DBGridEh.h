// A grid over a working table: a standard table view on a TWorkTableModel,
// kept in step with the table's cursor in both directions. Enter moves to
// the next cell like Tab; columns with a pick list edit through a drop-down
// list; rows can be edited but neither inserted nor deleted from the grid
// unless the page allows it.
#pragma once

#include <QStyledItemDelegate>
#include <QTableView>
#include <memory>
#include <vector>

#include "WorkTableModel.h"

namespace zarvik::ui {

class TDBGridEh : public QTableView {
  Q_OBJECT
 public:
  TDBGridEh(TWorkTable& table, std::vector<TGridColumn> columns, QWidget* parent = nullptr);

  TWorkTableModel& Model() { return *model_; }
  TWorkTable& Table() { return model_->Table(); }

  // Stores the text of an open cell editor in the table (what a Delphi grid
  // does when the user presses a button with a cell still being edited).
  void PostEditor();
  // Sets the pick list of a column (for instance after a language change).
  void SetPickList(std::string_view field, const QStringList& items);
  // Column widths from the fields' display widths (characters).
  void FitColumns();
  // Whether the grid appends a row when the user moves down from the last
  // one (the goods grid does; the configuration grids do not).
  void SetAllowAppend(bool allow) { allowAppend_ = allow; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

 private:
  void FollowTable(int row);
  void MoveToNextCell();

  TWorkTableModel* model_ = nullptr;
  bool following_ = false;
  bool allowAppend_ = false;
};

// The cell editor: a drop-down list for columns with a pick list.
class TGridDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  explicit TGridDelegate(TWorkTableModel& model, QObject* parent)
      : QStyledItemDelegate(parent), model_(model) {}
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

 private:
  TWorkTableModel& model_;
};

}  // namespace zarvik::ui
