// The option cards: a standard list view over the options table in which
// every row is a small card with the option's number, its value and its
// interval, laid out top to bottom in columns of twenty cards and scrolled
// sideways. The value of the current card is edited in place (editor
// "DBEditOpt"); the current card is drawn in the button-face colour. The
// view follows the table's cursor in both directions.
#pragma once

#include <QLabel>
#include <QListView>
#include <QStyledItemDelegate>
#include <functional>

#include "WorkTableModel.h"

class QLineEdit;

namespace zarvik::ui {

enum class TCardPart { Number, Value, Interval };

// The model behind the cards: column 0 is the value (what the editor
// edits), the number, interval and description follow. Assistive
// technologies read a card as number, value and interval; its tooltip is the
// option's description.
class TOptionCardModel : public TWorkTableModel {
  Q_OBJECT
 public:
  TOptionCardModel(TWorkTable& options, QObject* parent);
  QVariant data(const QModelIndex& index, int role) const override;

  enum Column { colValue = 0, colNum, colDiapazon, colCaptions };
};

class TOptionCardGrid : public QListView {
  Q_OBJECT
 public:
  static constexpr int kCardsPerColumn = 20;
  static constexpr int kVisibleColumns = 2;

  TOptionCardGrid(TWorkTable& options, QWidget* parent = nullptr);

  TOptionCardModel& Model() { return *model_; }
  TWorkTable& Table() { return model_->Table(); }

  // Before the number or the interval of a card is drawn: the owner may
  // change the font and the colour of that drawing (row = view row).
  std::function<void(int row, TCardPart part, QFont& font, QColor& color)> BeforeDrawCell;

  QSize CardSize() const;
  // Where a part lies within a card whose rectangle is `card`.
  QRect PartRect(const QRect& card, TCardPart part) const;
  // The value editor of the current card while it is open.
  QLineEdit* Editor() const;
  // Opens the value editor on the current card.
  void EditCurrent();
  // Stores the text of an open editor in the table.
  void PostEditor();
  // Moves `step` cards on (negative: back) and opens the editor there.
  void StepCard(int step);

  // Scrolls by whole columns so that the card's column is in view.
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

 private:
  void FollowTable(int row);

  TOptionCardModel* model_ = nullptr;
  bool following_ = false;
  bool changingCurrent_ = false;
};

class TOptionCardDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  explicit TOptionCardDelegate(TOptionCardGrid& grid) : QStyledItemDelegate(&grid), grid_(grid) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
  void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const override;

 protected:
  bool eventFilter(QObject* object, QEvent* event) override;

 private:
  TOptionCardGrid& grid_;
};

// The heading above one column of cards, "№   знач.    интервал": its text
// is the one given, drawn word by word over the parts of the cards below.
class TCardHeading : public QLabel {
  Q_OBJECT
 public:
  TCardHeading(const QString& text, TOptionCardGrid& grid, QWidget* parent);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TOptionCardGrid& grid_;
};

}  // namespace zarvik::ui
