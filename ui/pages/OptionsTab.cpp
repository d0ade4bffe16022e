#include "OptionsTab.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QStackedLayout>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>

#include "ConfigTabSupport.h"
#include "DBGridEh.h"
#include "DBLabel.h"
#include "DiffMarks.h"
#include "OptionCardGrid.h"
#include "OptionRules.h"
#include "SpeedButtonEx.h"
#include "WriteGuard.h"
#include "model/OptionTable.h"
#include "model/U_kkms.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "store/UnitBD.h"

namespace zarvik::ui {

namespace {

// Colours of the drawing rules.
const QColor kOutOfRangeColor(0xFF, 0x00, 0x00);  // red

constexpr int kHighestOptionValue = 255;
constexpr int kNumberChars = 4;
constexpr const char* kCardHeading = "№   знач.    интервал";

// The value column of the option table: whole numbers of one byte.
class TOptionValueDelegate : public TGridDelegate {
 public:
  using TGridDelegate::TGridDelegate;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* w = TGridDelegate::createEditor(parent, option, index);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      edit->setValidator(new QIntValidator(0, kHighestOptionValue, edit));
      QFont f = edit->font();
      f.setBold(true);
      edit->setFont(f);
    }
    return w;
  }
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
    // A text that is no value of one byte keeps the stored value.
    if (auto* edit = qobject_cast<QLineEdit*>(editor); edit != nullptr && !edit->hasAcceptableInput()) return;
    TGridDelegate::setModelData(editor, model, index);
  }
};

// The full description of the option under the pointer of the table view.
class TCaptionTips : public QObject {
 public:
  explicit TCaptionTips(TDBGridEh& grid) : QObject(&grid), grid_(grid) {}
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() != QEvent::ToolTip) return QObject::eventFilter(object, event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex i = grid_.indexAt(help->pos());
    const int column = grid_.Model().ColumnOf("Captions");
    if (i.isValid() && column >= 0) {
      const QString text = i.siblingAtColumn(column).data(Qt::DisplayRole).toString();
      QToolTip::showText(help->globalPos(), text, grid_.viewport());
    } else {
      QToolTip::hideText();
    }
    return true;
  }

 private:
  TDBGridEh& grid_;
};

}  // namespace

TOptionsTab::TOptionsTab(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetOptions");
  BuildControls();

  const auto bind = [this](const char* name, void (TOptionsTab::*handler)()) {
    connect(host_.Action(name), &QAction::triggered, this, handler);
    host_.SetActionEnabled(name, true);
  };
  bind("aLoadOptions", &TOptionsTab::LoadOptions);
  bind("aSaveOptions", &TOptionsTab::SaveOptions);
  bind("aSetDefaultOptions", &TOptionsTab::SetDefaultOptions);
  bind("aViewOptions", &TOptionsTab::ViewOptions);
}

void TOptionsTab::BuildControls() {
  TWorkTable& options = host_.Bd().mtOptions;
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(4);
  buttons->addWidget(ActionButton(host_, this, "bLoadOptions", "aLoadOptions"));
  buttons->addWidget(ActionButton(host_, this, "bSaveOptions", "aSaveOptions"));
  buttons->addWidget(ActionButton(host_, this, "bSetDefaultOptions", "aSetDefaultOptions"));
  buttons->addWidget(ActionButton(host_, this, "bVid", "aViewOptions"));
  buttons->addStretch(1);
  layout->addLayout(buttons);

  // The card view: two columns of cards with their headings, the
  // description of the current option beside them.
  cardView_ = new QWidget(this);
  cardView_->setObjectName("PanelOptionCards");
  auto* cardRow = new QHBoxLayout(cardView_);
  cardRow->setContentsMargins(0, 0, 0, 0);
  auto* cardColumn = new QVBoxLayout;
  cardColumn->setSpacing(0);
  cards_ = new TOptionCardGrid(options, cardView_);
  cards_->setAccessibleName(QString::fromUtf8("Опции"));
  auto* headings = new QHBoxLayout;
  headings->setContentsMargins(cards_->frameWidth(), 0, 0, 0);
  headings->setSpacing(0);
  for (const char* name : {"Label11", "Label12"}) {
    auto* heading = new TCardHeading(QString::fromUtf8(kCardHeading), *cards_, cardView_);
    heading->setObjectName(name);
    headings->addWidget(heading);
  }
  headings->addStretch(1);
  cardColumn->addLayout(headings);
  cardColumn->addWidget(cards_);
  cardColumn->addStretch(1);
  cardRow->addLayout(cardColumn);

  auto* descriptionColumn = new QVBoxLayout;
  descriptionColumn->setSpacing(2);
  auto* label16 = new QLabel(QString::fromUtf8("Описание"), cardView_);
  label16->setObjectName("Label16");
  descriptionColumn->addWidget(label16);
  description_ = new TDBLabel(cardView_);
  description_->setObjectName("DBText4");
  // The text is the value read aloud; the caption describes it.
  description_->setAccessibleDescription(label16->text());
  label16->setBuddy(description_);
  description_->setWordWrap(true);
  description_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  description_->setFrameShape(QFrame::StyledPanel);
  description_->setMargin(4);
  description_->setAutoFillBackground(true);
  description_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QPalette tip = description_->palette();
  tip.setColor(QPalette::Window, tip.color(QPalette::ToolTipBase));
  tip.setColor(QPalette::WindowText, tip.color(QPalette::ToolTipText));
  description_->setPalette(tip);
  description_->SetDataSource(&options, "Captions");
  label16->setBuddy(description_);
  descriptionColumn->addWidget(description_, 1);
  cardRow->addLayout(descriptionColumn, 1);

  // The table view over the same rows, hidden at start.
  grid_ = new TDBGridEh(options,
                        {ReadOnlyColumn("num", kNumberChars), Column("Value"), ReadOnlyColumn("Diapazon"),
                         ReadOnlyColumn("Captions")},
                        this);
  grid_->setObjectName("DBGridEhOptions");
  grid_->verticalHeader()->hide();
  grid_->setAccessibleName(QString::fromUtf8("Опции"));
  grid_->setItemDelegateForColumn(grid_->Model().ColumnOf("Value"),
                                  new TOptionValueDelegate(grid_->Model(), grid_));
  grid_->viewport()->installEventFilter(new TCaptionTips(*grid_));

  auto* stack = new QWidget(this);
  views_ = new QStackedLayout(stack);
  views_->addWidget(cardView_);
  views_->addWidget(grid_);
  views_->setCurrentWidget(cardView_);
  layout->addWidget(stack, 1);

  // Drawing rules of the card labels and of the table cells.
  cards_->BeforeDrawCell = [this](int row, TCardPart part, QFont& font, QColor& color) {
    if (part == TCardPart::Number && RowDiffers(row)) {
      font.setBold(true);
      color = kDifferColor;
    } else if (part == TCardPart::Interval && RowOutOfInterval(row)) {
      font.setBold(true);
      color = kOutOfRangeColor;
    }
  };
  TWorkTableModel& model = grid_->Model();
  const int numColumn = model.ColumnOf("num");
  const int valueColumn = model.ColumnOf("Value");
  const int rangeColumn = model.ColumnOf("Diapazon");
  model.cellStyle = [this, numColumn, valueColumn, rangeColumn](int row, int column) {
    TCellStyle s;
    if (column != valueColumn) s.background = palette().color(QPalette::Button);
    if (column == valueColumn) s.bold = true;
    if (column == numColumn && RowDiffers(row)) {
      s.foreground = kDifferColor;
      s.bold = true;
    }
    const QModelIndex focused = grid_->currentIndex();
    const bool isFocused = focused.row() == row && focused.column() == column;
    if (column == rangeColumn && !isFocused && RowOutOfInterval(row)) {
      s.foreground = kOutOfRangeColor;
      s.bold = true;
    }
    return s;
  };
}

bool TOptionsTab::RowDiffers(int row) const {
  const TWorkTable& t = host_.Bd().mtOptions;
  if (row < 0 || row >= t.ViewRowCount()) return false;
  return OptionDiffers(t, OptionViewRow(t, row), ComparisonKey(host_));
}

bool TOptionsTab::RowOutOfInterval(int row) const {
  const TWorkTable& t = host_.Bd().mtOptions;
  if (row < 0 || row >= t.ViewRowCount()) return false;
  return !OptionInInterval(OptionViewRow(t, row));
}

bool TOptionsTab::TableViewShown() const {
  return views_->currentWidget() == grid_;
}

void TOptionsTab::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The comparison copies and the stored-profile flag may have changed
  // while the tab was out of view.
  cards_->viewport()->update();
  grid_->viewport()->update();
}

void TOptionsTab::PostEditors() {
  cards_->PostEditor();
  grid_->PostEditor();
}

void TOptionsTab::LoadOptions() {
  if (host_.RegisterBusy()) return;
  PostEditors();
  BringTabToFront(this);
  const bool ran = host_.RunRegisterAction(pgConfig, kOptionsLoadWait, [this] {
    if (host_.FetchOptions()) Mess("Опции загружены", false, true, true);
    HideWait();
  });
  if (!ran) HideWait();
}

void TOptionsTab::SaveOptions() {
  if (host_.RegisterBusy()) return;
  PostEditors();
  BringTabToFront(this);
  host_.RunRegisterAction(pgConfig, kOptionsSaveWait, [this] { WriteOptions(); });
}

void TOptionsTab::WriteOptions() {
  TKKMInfo* info = host_.Info();
  if (info == nullptr) return;
  TWorkTable& t = host_.Bd().mtOptions;
  const int count = info->OptionCount();
  const int rows = t.RecordCount();
  // Rows are sent by position: a profile with fewer rows than the register
  // has options would leave the rest of the table undefined.
  if (rows < count) {
    HideWait();
    Error(
        "опции не записаны: в настройке " + std::to_string(rows) + " опций, а в ККМ " + std::to_string(count),
        true, true, true);
    return;
  }
  TWriteGuard guard(host_, stOptions);
  if (!guard.Prepare()) return;
  const int keep = t.RecNo();
  t.First();
  for (int i = 1; i <= count; ++i) {
    const TOptionRow row = OptionCurrentRow(t);
    if (!OptionInInterval(row)) Warning("опция вне интервала!", false, true, true);
    info->optionValues[static_cast<std::size_t>(i - 1)] = static_cast<std::uint8_t>(row.value & 0xFF);
    t.Next();
  }
  if (keep > 0) t.SetRecNo(keep);
  // The options go in one command: with "только отличия" they are written
  // when any of them differs from the register's, else not at all.
  if (const TRegisterSnapshot* snapshot = guard.Snapshot();
      guard.OnlyDifferences() && snapshot->options &&
      std::equal(snapshot->options->begin(), snapshot->options->end(), info->optionValues.begin(),
                 info->optionValues.begin() + count)) {
    Mess("Опции не отличаются от ККМ, запись не нужна", false, true, true);
    HideWait();
    return;
  }
  if (host_.Protocol().SetOptions())
    Mess("опции записаны", false, true, true);
  else
    Mess("опции не записались", true, true, true);
  HideWait();
}

void TOptionsTab::SetDefaultOptions() {
  if (host_.RegisterBusy()) return;
  host_.SelectPage(pgConfig);
  BringTabToFront(this);
  PostEditors();
  TWorkTable& t = host_.Bd().mtOptions;
  const TKKMInfo* info = host_.Info();
  const int count = info != nullptr ? info->OptionCount() : kDefaultOptionRows;
  t.DisableControls();
  ClearRows(t);
  for (int i = 1; i <= count; ++i) {
    t.Append();
    t.SetInteger("num", i);
    if (info != nullptr) {
      const TOptionsInfo& d = info->options[static_cast<std::size_t>(i - 1)];
      t.SetInteger("Min", d.minValue);
      t.SetInteger("Max", d.maxValue);
      t.SetInteger("CanNul", d.canNull ? 1 : 0);
      t.SetInteger("Value", d.defaultValue);
    } else if (const TOptionTableRow* r = OptionTableRow(i)) {
      t.SetInteger("Min", r->Min);
      t.SetInteger("Max", r->Max);
      t.SetInteger("CanNul", 0);
      t.SetInteger("Value", r->Default);
    }
    t.Post();
  }
  t.First();
  t.EnableControls();
}

void TOptionsTab::ViewOptions() {
  host_.SelectPage(pgConfig);
  BringTabToFront(this);
  PostEditors();
  views_->setCurrentWidget(TableViewShown() ? cardView_ : grid_);
}

}  // namespace zarvik::ui
