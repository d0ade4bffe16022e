#include "OptionCardGrid.h"

#include <QIntValidator>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>

namespace zarvik::ui {

namespace {

constexpr int kPartPadding = 6;
constexpr int kCardVerticalPadding = 10;
constexpr int kValueBoxInset = 2;
constexpr int kValueTextIndent = 4;
constexpr int kLayoutSlack = 2;
// The widest texts a part must hold.
constexpr const char* kWidestNumber = "64";
constexpr const char* kWidestValue = "0000";
constexpr const char* kWidestInterval = "0; 10 - 255";
// A value is one byte.
constexpr int kHighestValue = 255;

std::vector<TGridColumn> CardColumns() {
  const auto column = [](const char* field, bool readOnly) {
    TGridColumn c;
    c.field = field;
    c.readOnly = readOnly;
    return c;
  };
  return {column("Value", false), column("num", true), column("Diapazon", true), column("Captions", true)};
}

QFont Bold(QFont f) {
  f.setBold(true);
  return f;
}

}  // namespace

TOptionCardModel::TOptionCardModel(TWorkTable& options, QObject* parent)
    : TWorkTableModel(options, CardColumns(), parent) {}

QVariant TOptionCardModel::data(const QModelIndex& index, int role) const {
  if (index.isValid() && (role == Qt::AccessibleTextRole || role == Qt::ToolTipRole)) {
    const auto text = [&](int column) {
      return TWorkTableModel::data(index.siblingAtColumn(column), Qt::DisplayRole).toString();
    };
    if (role == Qt::ToolTipRole) return text(colCaptions);
    if (index.column() == colValue)
      return QString::fromUtf8("№ %1, знач. %2, интервал %3")
          .arg(text(colNum), text(colValue), text(colDiapazon));
  }
  return TWorkTableModel::data(index, role);
}

TOptionCardGrid::TOptionCardGrid(TWorkTable& options, QWidget* parent) : QListView(parent) {
  setObjectName("DBCtrlGrid2");
  model_ = new TOptionCardModel(options, this);
  setModel(model_);
  setModelColumn(TOptionCardModel::colValue);
  setItemDelegate(new TOptionCardDelegate(*this));
  setViewMode(QListView::ListMode);
  setFlow(QListView::TopToBottom);
  setWrapping(true);
  setMovement(QListView::Static);
  setResizeMode(QListView::Adjust);
  setUniformItemSizes(true);
  setSpacing(0);
  setGridSize(CardSize());
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
  // Always there, so that a column holds exactly twenty cards.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  horizontalScrollBar()->setSingleStep(CardSize().width());
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  connect(model_, &TWorkTableModel::currentRowChanged, this, &TOptionCardGrid::FollowTable);
  FollowTable(options.CurrentViewRow());
}

QSize TOptionCardGrid::CardSize() const {
  const QFontMetrics fm(font());
  const QFontMetrics bm(Bold(font()));
  const int width =
      fm.horizontalAdvance(QLatin1String(kWidestNumber)) + bm.horizontalAdvance(QLatin1String(kWidestValue)) +
      fm.horizontalAdvance(QLatin1String(kWidestInterval)) + 6 * kPartPadding + 2 * kValueBoxInset;
  return {width, fm.height() + kCardVerticalPadding};
}

QRect TOptionCardGrid::PartRect(const QRect& card, TCardPart part) const {
  const QFontMetrics fm(font());
  const QFontMetrics bm(Bold(font()));
  const int number = fm.horizontalAdvance(QLatin1String(kWidestNumber)) + 2 * kPartPadding;
  const int value = bm.horizontalAdvance(QLatin1String(kWidestValue)) + 2 * kPartPadding + 2 * kValueBoxInset;
  switch (part) {
    case TCardPart::Number: return {card.left(), card.top(), number, card.height()};
    case TCardPart::Value:
      return QRect(card.left() + number, card.top(), value, card.height())
          .adjusted(0, kValueBoxInset, 0, -kValueBoxInset);
    case TCardPart::Interval:
      return {card.left() + number + value, card.top(), card.width() - number - value, card.height()};
  }
  return card;
}

QSize TOptionCardGrid::sizeHint() const {
  const QSize card = CardSize();
  const int frame = 2 * frameWidth();
  // The list lays out against the last pixel of the viewport, so twenty
  // cards a column and the last column scrolled into view need a pixel
  // more than the cards.
  return {
      kVisibleColumns * card.width() + kLayoutSlack + frame,
      kCardsPerColumn * card.height() + kLayoutSlack + frame + horizontalScrollBar()->sizeHint().height()};
}

void TOptionCardGrid::scrollTo(const QModelIndex& index, ScrollHint) {
  if (!index.isValid()) return;
  QScrollBar* bar = horizontalScrollBar();
  const int width = CardSize().width();
  const int column = (visualRect(index).x() + bar->value() + width / 2) / width;
  const int first = (bar->value() + width / 2) / width;
  if (column < first)
    bar->setValue(column * width);
  else if (column >= first + kVisibleColumns)
    bar->setValue(std::min((column - kVisibleColumns + 1) * width, bar->maximum()));
}

QLineEdit* TOptionCardGrid::Editor() const {
  for (QLineEdit* e : viewport()->findChildren<QLineEdit*>("DBEditOpt", Qt::FindDirectChildrenOnly))
    if (!e->isHidden()) return e;
  return nullptr;
}

void TOptionCardGrid::EditCurrent() {
  if (!currentIndex().isValid()) return;
  if (QLineEdit* e = Editor()) {
    e->setFocus();
    return;
  }
  edit(currentIndex());
}

void TOptionCardGrid::PostEditor() {
  if (QLineEdit* e = Editor()) {
    commitData(e);
    QListView::closeEditor(e, QAbstractItemDelegate::NoHint);
  }
  TWorkTable& t = Table();
  if (t.GetState() == TWorkTable::State::Edit || t.GetState() == TWorkTable::State::Insert) t.Post();
}

void TOptionCardGrid::StepCard(int step) {
  if (!currentIndex().isValid() || model_->rowCount() == 0) return;
  if (QLineEdit* e = Editor()) {
    commitData(e);
    QListView::closeEditor(e, QAbstractItemDelegate::NoHint);
  }
  const int row = std::clamp(currentIndex().row() + step, 0, model_->rowCount() - 1);
  setCurrentIndex(model_->index(row, TOptionCardModel::colValue));
  EditCurrent();
}

void TOptionCardGrid::mousePressEvent(QMouseEvent* event) {
  QListView::mousePressEvent(event);
  // A press anywhere on the cards puts the focus into the value editor.
  EditCurrent();
}

void TOptionCardGrid::FollowTable(int row) {
  if (following_) return;
  following_ = true;
  if (QLineEdit* e = Editor(); e != nullptr && currentIndex().row() != row) {
    // What was typed belongs to the card it was typed on; storing it puts
    // the table back on that card for a moment.
    commitData(e);
    QListView::closeEditor(e, QAbstractItemDelegate::NoHint);
    if (row >= 0) Table().SetRecNo(row + 1);
  }
  if (row < 0) {
    selectionModel()->clearCurrentIndex();
  } else if (currentIndex().row() != row) {
    setCurrentIndex(model_->index(row, TOptionCardModel::colValue));
  }
  following_ = false;
}

void TOptionCardGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  changingCurrent_ = true;
  QListView::currentChanged(current, previous);
  changingCurrent_ = false;
  if (following_ || !current.isValid()) return;
  TWorkTable& t = Table();
  if (current.row() == t.CurrentViewRow()) return;
  following_ = true;
  t.SetRecNo(current.row() + 1);
  following_ = false;
}

void TOptionCardGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  // Enter stores the value and goes on to the next card; a change of the
  // current card closes the editor where it was.
  if (hint == QAbstractItemDelegate::SubmitModelCache) {
    QListView::closeEditor(editor, QAbstractItemDelegate::NoHint);
    if (!changingCurrent_) StepCard(1);
    return;
  }
  QListView::closeEditor(editor, hint);
}

void TOptionCardDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
  const QRect card = option.rect;
  const QPalette& pal = option.palette;
  const bool current = index == grid_.currentIndex();
  const auto text = [&](int column) {
    return index.siblingAtColumn(column).data(Qt::DisplayRole).toString();
  };
  painter->save();
  painter->fillRect(card, pal.color(current ? QPalette::Button : QPalette::Base));
  painter->setPen(pal.color(QPalette::Midlight));
  painter->drawRect(card.adjusted(0, 0, -1, -1));

  const auto drawPart = [&](TCardPart part, int column) {
    QFont font = option.font;
    QColor color = pal.color(QPalette::WindowText);
    if (grid_.BeforeDrawCell) grid_.BeforeDrawCell(index.row(), part, font, color);
    painter->setFont(font);
    painter->setPen(color);
    painter->drawText(grid_.PartRect(card, part), Qt::AlignCenter, text(column));
  };
  drawPart(TCardPart::Number, TOptionCardModel::colNum);

  const QRect value = grid_.PartRect(card, TCardPart::Value);
  painter->fillRect(value, pal.color(QPalette::Base));
  painter->setPen(pal.color(QPalette::Mid));
  painter->drawRect(value.adjusted(0, 0, -1, -1));
  painter->setFont(Bold(option.font));
  painter->setPen(pal.color(QPalette::Text));
  painter->drawText(value.adjusted(kValueTextIndent, 0, -kValueTextIndent, 0),
                    Qt::AlignVCenter | Qt::AlignLeft, text(TOptionCardModel::colValue));

  drawPart(TCardPart::Interval, TOptionCardModel::colDiapazon);
  if (current && (option.state & QStyle::State_HasFocus)) {
    painter->setPen(QPen(pal.color(QPalette::Highlight), 1, Qt::DotLine));
    painter->drawRect(card.adjusted(1, 1, -2, -2));
  }
  painter->restore();
}

QSize TOptionCardDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
  return grid_.CardSize();
}

QWidget* TOptionCardDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                           const QModelIndex&) const {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName("DBEditOpt");
  edit->setFont(Bold(edit->font()));
  edit->setValidator(new QIntValidator(0, kHighestValue, edit));
  edit->setAccessibleName(QString::fromUtf8("знач."));
  edit->setTextMargins(0, 0, 0, 0);
  return edit;
}

void TOptionCardDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  auto* edit = qobject_cast<QLineEdit*>(editor);
  if (edit == nullptr) return;
  edit->setText(index.data(Qt::EditRole).toString());
  // Typing replaces the whole value.
  edit->selectAll();
}

void TOptionCardDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                       const QModelIndex& index) const {
  auto* edit = qobject_cast<QLineEdit*>(editor);
  // A text that is no value of one byte keeps the stored value.
  if (edit == nullptr || !edit->hasAcceptableInput() || edit->text() == index.data(Qt::EditRole).toString())
    return;
  model->setData(index, edit->text(), Qt::EditRole);
}

void TOptionCardDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                               const QModelIndex&) const {
  editor->setGeometry(grid_.PartRect(option.rect, TCardPart::Value));
}

bool TOptionCardDelegate::eventFilter(QObject* object, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
      case Qt::Key_Up: grid_.StepCard(-1); return true;
      case Qt::Key_Down: grid_.StepCard(1); return true;
      case Qt::Key_PageUp: grid_.StepCard(-TOptionCardGrid::kCardsPerColumn); return true;
      case Qt::Key_PageDown: grid_.StepCard(TOptionCardGrid::kCardsPerColumn); return true;
      default: break;
    }
  }
  return QStyledItemDelegate::eventFilter(object, event);
}

TCardHeading::TCardHeading(const QString& text, TOptionCardGrid& grid, QWidget* parent)
    : QLabel(text, parent), grid_(grid) {}

QSize TCardHeading::sizeHint() const {
  return {grid_.CardSize().width(), fontMetrics().height() + 4};
}

void TCardHeading::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setPen(palette().color(QPalette::WindowText));
  const QStringList words = text().split(QLatin1Char(' '), Qt::SkipEmptyParts);
  const QRect card(0, 0, grid_.CardSize().width(), height());
  const TCardPart parts[] = {TCardPart::Number, TCardPart::Value, TCardPart::Interval};
  for (int i = 0; i < std::min<int>(static_cast<int>(words.size()), 3); ++i)
    p.drawText(grid_.PartRect(card, parts[i]), Qt::AlignCenter, words[i]);
}

}  // namespace zarvik::ui
