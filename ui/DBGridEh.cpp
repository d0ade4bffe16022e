#include "DBGridEh.h"

#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyle>

namespace zarvik::ui {

namespace {
constexpr int kColumnPadding = 12;
constexpr int kMinimumColumnChars = 3;
}  // namespace

QWidget* TGridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const {
  const TGridColumn& c = model_.Columns()[static_cast<std::size_t>(index.column())];
  if (!c.pickList.isEmpty()) {
    auto* box = new QComboBox(parent);
    box->addItems(c.pickList);
    box->setAccessibleName(model_.headerData(index.column(), Qt::Horizontal, Qt::DisplayRole).toString());
    return box;
  }
  QWidget* w = QStyledItemDelegate::createEditor(parent, option, index);
  if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    const int field = model_.FieldOf(index.column());
    const TWorkField& f = model_.Table().Field(field);
    if (f.type == TFieldType::String && f.size > 0) edit->setMaxLength(f.size);
    edit->setAccessibleName(model_.headerData(index.column(), Qt::Horizontal, Qt::DisplayRole).toString());
  }
  return w;
}

void TGridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  if (auto* box = qobject_cast<QComboBox*>(editor)) {
    const QString v = index.data(Qt::EditRole).toString();
    const TGridColumn& c = model_.Columns()[static_cast<std::size_t>(index.column())];
    box->setCurrentIndex(c.keyList.isEmpty() ? box->findText(v) : static_cast<int>(c.keyList.indexOf(v)));
    return;
  }
  QStyledItemDelegate::setEditorData(editor, index);
}

void TGridDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const {
  if (auto* box = qobject_cast<QComboBox*>(editor)) {
    const TGridColumn& c = model_.Columns()[static_cast<std::size_t>(index.column())];
    const int i = box->currentIndex();
    if (i < 0) return;
    const QString value = i < c.keyList.size() ? c.keyList[i] : box->currentText();
    if (value != index.data(Qt::EditRole).toString()) model->setData(index, value, Qt::EditRole);
    return;
  }
  if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
    // An unchanged cell is not stored (no edit state, no events).
    if (edit->text() == index.data(Qt::EditRole).toString()) return;
  }
  QStyledItemDelegate::setModelData(editor, model, index);
}

TDBGridEh::TDBGridEh(TWorkTable& table, std::vector<TGridColumn> columns, QWidget* parent)
    : QTableView(parent) {
  model_ = new TWorkTableModel(table, std::move(columns), this);
  setModel(model_);
  setItemDelegate(new TGridDelegate(*model_, this));
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
  setTabKeyNavigation(true);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  const QHeaderView* rowHeader = verticalHeader();
  model_->rowHeaderMetrics = {
      rowHeader->fontMetrics().horizontalAdvance(QLatin1Char('0')),
      2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, rowHeader) + kColumnPadding,
      rowHeader->defaultSectionSize()};
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(true);
  setWordWrap(false);
  connect(model_, &TWorkTableModel::currentRowChanged, this, &TDBGridEh::FollowTable);
  FitColumns();
  FollowTable(table.CurrentViewRow());
}

void TDBGridEh::FitColumns() {
  const int charWidth = fontMetrics().horizontalAdvance(QLatin1Char('0'));
  for (int c = 0; c < model_->columnCount(); ++c) {
    const TGridColumn& col = model_->Columns()[static_cast<std::size_t>(c)];
    int chars = col.widthChars;
    if (chars == 0 && model_->FieldOf(c) >= 0) chars = model_->Table().Field(model_->FieldOf(c)).displayWidth;
    const QString title = model_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    const int titleWidth = horizontalHeader()->fontMetrics().horizontalAdvance(title) + kColumnPadding * 2;
    const int dataWidth = std::max(chars, kMinimumColumnChars) * charWidth + kColumnPadding;
    setColumnWidth(c, std::max(titleWidth, dataWidth));
  }
}

void TDBGridEh::SetPickList(std::string_view field, const QStringList& items) {
  const int c = model_->ColumnOf(field);
  if (c < 0) return;
  // The columns are the model's; the delegate reads them when it opens an editor.
  const_cast<TGridColumn&>(model_->Columns()[static_cast<std::size_t>(c)]).pickList = items;
}

void TDBGridEh::PostEditor() {
  const QModelIndex i = currentIndex();
  if (QWidget* editor = indexWidget(i)) {
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
  } else if (state() == QAbstractItemView::EditingState) {
    // The editor of the current cell (an index widget is not used for it).
    if (QWidget* w = focusWidget(); w != nullptr && w != this && isAncestorOf(w)) {
      commitData(w);
      closeEditor(w, QAbstractItemDelegate::NoHint);
    }
  }
  TWorkTable& t = Table();
  if (t.GetState() == TWorkTable::State::Edit || t.GetState() == TWorkTable::State::Insert) t.Post();
}

void TDBGridEh::FollowTable(int row) {
  if (following_) return;
  following_ = true;
  if (row < 0) {
    selectionModel()->clearCurrentIndex();
  } else if (currentIndex().row() != row) {
    const int column = currentIndex().isValid() ? currentIndex().column() : 0;
    setCurrentIndex(model_->index(row, column));
  }
  following_ = false;
}

void TDBGridEh::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableView::currentChanged(current, previous);
  if (following_ || !current.isValid()) return;
  TWorkTable& t = Table();
  if (current.row() == t.CurrentViewRow()) return;
  following_ = true;
  if (!(t.GetState() == TWorkTable::State::Insert && current.row() == t.RecordCount()))
    t.SetRecNo(current.row() + 1);
  following_ = false;
}

void TDBGridEh::MoveToNextCell() {
  const QModelIndex i = currentIndex();
  if (!i.isValid()) return;
  int row = i.row();
  int column = i.column() + 1;
  while (column < model_->columnCount() && isColumnHidden(column)) ++column;
  if (column >= model_->columnCount()) {
    column = 0;
    while (column < model_->columnCount() && isColumnHidden(column)) ++column;
    ++row;
  }
  if (row >= model_->rowCount()) {
    if (!allowAppend_) return;
    TWorkTable& t = Table();
    t.Post();
    t.Append();
    row = model_->rowCount() - 1;
  }
  setCurrentIndex(model_->index(row, column));
}

void TDBGridEh::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  // Enter in an editor moves on like Tab.
  if (hint == QAbstractItemDelegate::SubmitModelCache) {
    QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
    MoveToNextCell();
    return;
  }
  QTableView::closeEditor(editor, hint);
}

void TDBGridEh::keyPressEvent(QKeyEvent* event) {
  // Tab moves between the cells; Ctrl+Tab (Ctrl+Shift+Tab) leaves the grid
  // for the next (previous) control, so the keyboard is never caught in it.
  if ((event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) &&
      event->modifiers().testFlag(Qt::ControlModifier)) {
    const bool forward = event->key() == Qt::Key_Tab && !event->modifiers().testFlag(Qt::ShiftModifier);
    if (state() == EditingState) PostEditor();
    QWidget::focusNextPrevChild(forward);
    return;
  }
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && state() != EditingState) {
    MoveToNextCell();
    return;
  }
  if (event->key() == Qt::Key_Down && allowAppend_ && currentIndex().isValid() &&
      currentIndex().row() == model_->rowCount() - 1) {
    // Down from the last row appends a row, as in a database grid.
    const int column = currentIndex().column();
    TWorkTable& t = Table();
    t.Post();
    t.Append();
    setCurrentIndex(model_->index(model_->rowCount() - 1, column));
    return;
  }
  QTableView::keyPressEvent(event);
}

}  // namespace zarvik::ui
