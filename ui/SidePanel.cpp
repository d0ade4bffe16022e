#include "SidePanel.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>
#include <iterator>

#include "SpeedButtonEx.h"

namespace zarvik::ui {

namespace {

// The side panel is wider than its drawn design so that the captions fit in
// the platform's default font; a selected selector still reaches one pixel
// further and covers the border line, reading as attached to the page.
constexpr int kPanelWidth = 214;
constexpr int kSelectorWidth = kPanelWidth - 6;

struct TSelectorDef {
  const char* panel;
  const char* shape;
  const char* caption;
};
constexpr TSelectorDef kSelectors[] = {
    {"PanelSelConfig", "ShapeCon", "Настройки ККМ(ЧПМ)"},
    {"PanelSelGood", "ShapeTov", "Товары и Услуги"},
    {"PanelSelMagazine", "ShapeMag", "Электронный журнал"},
    {"PanelConfSys", "ShapeConSys", "Настройки конфигуратора"},
    {"PanelSelShop", "ShapeShop", "Магазин"},
};
static_assert(std::size(kSelectors) == kSelectorCount);

// A page selector as assistive technology should know it: one of the radio
// buttons of the page list, the selected page checked (a checkable tool
// button would be announced as a check box).
class TSelectorAccessible : public QAccessibleWidget {
 public:
  explicit TSelectorAccessible(QToolButton* button) : QAccessibleWidget(button, QAccessible::RadioButton) {}
  QToolButton* Button() const { return static_cast<QToolButton*>(widget()); }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name) {
      const QString name = Button()->accessibleName();
      return name.isEmpty() ? Button()->text() : name;
    }
    return QAccessibleWidget::text(t);
  }
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.checkable = true;
    s.checked = Button()->isChecked();
    s.selected = Button()->isChecked();
    s.selectable = true;
    return s;
  }
  QStringList actionNames() const override {
    return QStringList{QAccessibleActionInterface::pressAction()} + QAccessibleWidget::actionNames();
  }
  void doAction(const QString& action) override {
    if (action == QAccessibleActionInterface::pressAction()) {
      Button()->click();
      return;
    }
    QAccessibleWidget::doAction(action);
  }
};

QAccessibleInterface* SelectorFactory(const QString&, QObject* object) {
  auto* button = qobject_cast<QToolButton*>(object);
  if (button == nullptr || !button->property("pageSelector").toBool()) return nullptr;
  return new TSelectorAccessible(button);
}

QLabel* Caption(const char* text, const char* name, QWidget* parent) {
  auto* l = new QLabel(QString::fromUtf8(text), parent);
  l->setObjectName(name);
  return l;
}

// A value label: assistive technology reads its text as its name; the
// caption is its description and, as the caption's buddy, its label.
QLabel* Identity(const char* name, const char* caption, QWidget* parent) {
  auto* l = new QLabel(parent);
  l->setObjectName(name);
  l->setAccessibleDescription(QString::fromUtf8(caption));
  QFont f = l->font();
  f.setBold(true);
  l->setFont(f);
  l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return l;
}

// Clears a flag when it goes out of scope.
class TMarking {
 public:
  explicit TMarking(bool& flag) : flag_(flag) {}
  TMarking(const TMarking&) = delete;
  TMarking& operator=(const TMarking&) = delete;
  ~TMarking() { flag_ = false; }

 private:
  bool& flag_;
};

}  // namespace

TSidePanel::TSidePanel(QWidget* parent) : QFrame(parent) {
  setObjectName("PanelMenu");
  setFixedWidth(kPanelWidth);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::ToolTipBase));
  setPalette(pal);
  setFrameShape(QFrame::NoFrame);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 6, 0, 6);
  layout->setSpacing(4);
  static const bool factory = [] {
    QAccessible::installFactory(SelectorFactory);
    return true;
  }();
  (void)factory;
  for (std::size_t i = 0; i < std::size(kSelectors); ++i) {
    auto* panel = new QFrame(this);
    panel->setObjectName(kSelectors[i].panel);
    panel->setAutoFillBackground(true);
    panel->setFrameShape(QFrame::StyledPanel);
    auto* pl = new QVBoxLayout(panel);
    pl->setContentsMargins(2, 2, 2, 2);
    auto* shape = new QToolButton(panel);
    // First: assistive technology may ask for the button's interface as soon
    // as its name is set, and the interface is kept.
    shape->setProperty("pageSelector", true);
    shape->setObjectName(kSelectors[i].shape);
    shape->setText(QString::fromUtf8(kSelectors[i].caption));
    shape->setAccessibleName(QString::fromUtf8(kSelectors[i].caption));
    shape->setAutoRaise(true);
    shape->setCheckable(true);
    shape->setAccessibleDescription(QStringLiteral("Страница %1 из %2").arg(i + 1).arg(kSelectorCount));
    shape->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    shape->setMinimumHeight(30);
    QFont f = shape->font();
    f.setBold(true);
    shape->setFont(f);
    const int page = static_cast<int>(i) + 1;
    // A click, the Space key and the toggle action of assistive technology
    // all change the checked state: each of them asks for the page, and the
    // main window's choice marks the selectors again.
    connect(shape, &QToolButton::toggled, this, [this, page] {
      if (!marking_) emit pageRequested(page);
    });
    pl->addWidget(shape);
    layout->addWidget(panel);
    selectors_[i] = panel;
    shapes_[i] = shape;
  }
  layout->addSpacing(10);

  auto* form = new QFormLayout;
  form->setContentsMargins(2, 0, 6, 0);
  // A value beside its caption where it fits, under it where it does not:
  // the panel stays short enough for a small screen.
  form->setRowWrapPolicy(QFormLayout::WrapLongRows);
  form->setVerticalSpacing(1);
  lModel = Identity("lModel", "Модель", this);
  lSN = Identity("lSN", "Серийный номер", this);
  lVer = Identity("lVer", "Версия", this);
  lMode = Identity("lMode", "Режим", this);
  lDate = Identity("lDate", "Дата", this);
  lTime = Identity("lTime", "Время", this);
  const std::pair<QLabel*, QLabel*> identity[] = {
      {Caption("Модель", "Label1", this), lModel}, {Caption("Серийный номер", "Label10", this), lSN},
      {Caption("Версия", "Label8", this), lVer},   {Caption("Режим", "Label13", this), lMode},
      {Caption("Дата", "Label14", this), lDate},   {Caption("Время", "Label3", this), lTime},
  };
  for (const auto& [caption, value] : identity) {
    caption->setBuddy(value);
    form->addRow(caption, value);
  }
  SetIdentityColor(kIdentityConnected);
  layout->addLayout(form);
  layout->addStretch(1);

  auto* connection = new QFormLayout;
  connection->setContentsMargins(2, 0, 6, 0);
  connection->setHorizontalSpacing(8);
  cbComPort = new QComboBox(this);
  cbComPort->setObjectName("cbComPort");
  cbComPort->setAccessibleName(QString::fromUtf8("Порт"));
  cbSpeedPort = new QComboBox(this);
  cbSpeedPort->setObjectName("cbSpeedPort");
  cbSpeedPort->setAccessibleName(QString::fromUtf8("Скорость"));
  for (const char* s : kSpeedItems) cbSpeedPort->addItem(QString::fromLatin1(s));
  cbNetNum = new QComboBox(this);
  cbNetNum->setObjectName("cbNetNum");
  cbNetNum->setAccessibleName(QString::fromUtf8("Сетевой №"));
  for (int n = 1; n <= kHighestNetworkNumber; ++n) cbNetNum->addItem(QString::number(n));
  const std::pair<QLabel*, QComboBox*> boxes[] = {
      {Caption("Порт", "Label7", this), cbComPort},
      {Caption("Скорость", "Label2", this), cbSpeedPort},
      {Caption("Сетевой №", "Label4", this), cbNetNum},
  };
  for (const auto& [caption, box] : boxes) {
    caption->setBuddy(box);
    connection->addRow(caption, box);
  }
  layout->addLayout(connection);
  bConnect = new TSpeedButtonEx(this);
  bConnect->setObjectName("bConnect");
  bConnect->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  bConnect->setMinimumHeight(32);
  QFont bf = bConnect->font();
  bf.setBold(true);
  bConnect->setFont(bf);
  layout->addSpacing(4);
  auto* buttonRow = new QVBoxLayout;
  buttonRow->setContentsMargins(2, 0, 6, 0);
  buttonRow->addWidget(bConnect);
  bFindKKM = new TSpeedButtonEx(this);
  bFindKKM->setObjectName("bFindKKM");
  bFindKKM->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  bFindKKM->setMinimumHeight(26);
  buttonRow->addWidget(bFindKKM);
  layout->addLayout(buttonRow);
  MarkSelected(1);
}

void TSidePanel::MarkSelected(int page) {
  marking_ = true;
  const TMarking done(marking_);
  for (std::size_t i = 0; i < selectors_.size(); ++i) {
    const bool chosen = static_cast<int>(i) + 1 == page;
    QWidget* panel = selectors_[i];
    QPalette p = panel->palette();
    p.setColor(QPalette::Window, palette().color(chosen ? QPalette::Button : QPalette::Window));
    panel->setPalette(p);
    panel->setFixedWidth(chosen ? kSelectorWidth + 1 : kSelectorWidth);
    shapes_[i]->setChecked(chosen);
  }
}

void TSidePanel::SetLabelColor(QLabel* label, const QColor& color) {
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, color);
  label->setPalette(p);
}

QColor TSidePanel::LabelColor(const QLabel* label) {
  return label->palette().color(QPalette::WindowText);
}

void TSidePanel::SetIdentityColor(const QColor& color) {
  for (QLabel* l : {lModel, lSN, lVer, lMode, lDate, lTime}) SetLabelColor(l, color);
}

}  // namespace zarvik::ui
