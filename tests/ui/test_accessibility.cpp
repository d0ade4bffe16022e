// The connected window as assistive technology reaches it: the whole tree of
// accessibility interfaces walked on every page and tab. Every visible
// control has a name, every label exposes its text, combo boxes their
// choice, check boxes their state, grid cells what the grid shows, and the
// action a checkable button offers does what a click does.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTabWidget>
#include <QToolButton>
#include <QTextDocument>
#include <QtTest>
#include <functional>
#include <set>

#include "AboutDialog.h"
#include "ConfigTestSupport.h"
#include "HelpTopics.h"
#include "HelpWindow.h"
#include "SidePanel.h"
#include "UiTestSupport.h"
#include "pages/ConfigPage.h"

using namespace zarvik;

namespace {

constexpr int kWaitMs = 20000;

// Roles a user operates or reads values from: each must have a name.
const std::set<QAccessible::Role> kControls = {
    QAccessible::PushButton,  QAccessible::CheckBox,     QAccessible::RadioButton, QAccessible::ComboBox,
    QAccessible::SpinBox,     QAccessible::Slider,       QAccessible::EditableText, QAccessible::ProgressBar,
    QAccessible::Table,       QAccessible::List,         QAccessible::Tree,         QAccessible::PageTab,
    QAccessible::ButtonMenu,  QAccessible::ButtonDropDown, QAccessible::Link,       QAccessible::Dial};

// The text a label shows, as plain text (what a screen reader should say).
QString ShownText(const QLabel* label) {
  QString text = label->text();
  if (label->textFormat() == Qt::RichText || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text))) {
    QTextDocument doc;
    doc.setHtml(text);
    text = doc.toPlainText();
  }
  if (label->buddy() != nullptr) text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
  return text.trimmed();
}

QString Describe(QAccessibleInterface* a) {
  QObject* o = a->object();
  return QStringLiteral("%1 %2 (role %3)")
      .arg(o != nullptr ? QString::fromLatin1(o->metaObject()->className()) : QStringLiteral("?"),
           o != nullptr ? o->objectName() : QString())
      .arg(int(a->role()));
}

// Walks the visible part of the tree below `a`.
void Walk(QAccessibleInterface* a, const std::function<void(QAccessibleInterface*)>& visit, int depth = 0) {
  if (a == nullptr || depth > 64 || a->state().invisible) return;
  visit(a);
  const int n = a->childCount();
  for (int i = 0; i < n; ++i) Walk(a->child(i), visit, depth + 1);
}

// What a press or click changes that a user sees: the page, the tab, the
// checked controls and which widgets are visible.
QStringList Fingerprint(ui::TfmMain& w) {
  QStringList f;
  f << QString::number(w.CurrentPage());
  for (const QTabWidget* tabs : w.findChildren<QTabWidget*>())
    if (tabs->isVisible()) f << tabs->objectName() + QLatin1Char('=') + QString::number(tabs->currentIndex());
  for (const QAbstractButton* b : w.findChildren<QAbstractButton*>())
    if (b->isCheckable()) f << b->objectName() + (b->isChecked() ? QStringLiteral("+") : QStringLiteral("-"));
  for (const QWidget* x : w.findChildren<QWidget*>())
    if (x->isVisible() && !x->objectName().isEmpty()) f << x->objectName();
  return f;
}

}  // namespace

class AccessibilityTest : public QObject {
  Q_OBJECT

  // Checks everything visible now; the problems found are added to `faults`.
  void CheckTree(QWidget& w, const QString& where, QStringList& faults) {
    int cells = 0;
    Walk(QAccessible::queryAccessibleInterface(&w), [&](QAccessibleInterface* a) {
      const QString name = a->text(QAccessible::Name).trimmed();
      const QString at = where + QStringLiteral(": ") + Describe(a);
      QObject* o = a->object();
      if (kControls.count(a->role()) != 0 && name.isEmpty()) faults << at + QStringLiteral(" has no name");
      if (auto* label = qobject_cast<QLabel*>(o); label != nullptr && a->role() == QAccessible::StaticText) {
        const QString shown = ShownText(label);
        if (!shown.isEmpty() && name != shown && a->text(QAccessible::Value).trimmed() != shown)
          faults << at + QStringLiteral(" shows \"%1\" but exposes \"%2\"").arg(shown, name);
      }
      if (auto* box = qobject_cast<QComboBox*>(o); box != nullptr && a->text(QAccessible::Value) != box->currentText())
        faults << at + QStringLiteral(" exposes the value \"%1\" instead of \"%2\"")
                           .arg(a->text(QAccessible::Value), box->currentText());
      if (auto* button = qobject_cast<QAbstractButton*>(o); button != nullptr && button->isCheckable()) {
        if (a->state().checkable == 0 || bool(a->state().checked) != button->isChecked())
          faults << at + QStringLiteral(" hides its checked state");
      }
      if (auto* bar = qobject_cast<QProgressBar*>(o); bar != nullptr && a->valueInterface() != nullptr &&
                                                      a->valueInterface()->currentValue().toInt() != bar->value())
        faults << at + QStringLiteral(" hides its value");
      if (a->role() == QAccessible::Cell && cells < 400 && !a->state().offscreen) {
        ++cells;
        QAccessibleTableCellInterface* cell = a->tableCellInterface();
        auto* view = qobject_cast<QAbstractItemView*>(cell != nullptr ? cell->table()->object() : nullptr);
        if (view != nullptr) {
          const QModelIndex index = view->model()->index(cell->rowIndex(), cell->columnIndex(), view->rootIndex());
          const QString shown = index.data(Qt::DisplayRole).toString();
          if (!shown.isEmpty() && !name.contains(shown))
            faults << at + QStringLiteral(" cell %1,%2 shows \"%3\" but exposes \"%4\"")
                               .arg(cell->rowIndex())
                               .arg(cell->columnIndex())
                               .arg(shown, name);
          const QVariant check = index.data(Qt::CheckStateRole);
          // A cell the user may tick has the state; a read-only one says it in words.
          const bool stated = a->state().checkable != 0 && bool(a->state().checked) == (check.toInt() == Qt::Checked);
          if (check.isValid() && !stated && name.isEmpty())
            faults << at + QStringLiteral(" cell %1,%2 hides its check state").arg(cell->rowIndex()).arg(cell->columnIndex());
        }
      }
    });
  }

  // The accessible action of every visible, enabled checkable button leaves
  // the window as a click leaves it.
  void CheckCheckableActions(ui::TfmMain& w, const QString& where, QStringList& faults, uitest::TTestBed& bed) {
    for (QAbstractButton* b : w.findChildren<QAbstractButton*>()) {
      if (!b->isCheckable() || !b->isVisible() || !b->isEnabled()) continue;
      QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
      if (a == nullptr || a->actionInterface() == nullptr || a->actionInterface()->actionNames().isEmpty()) {
        faults << where + QStringLiteral(": ") + b->objectName() + QStringLiteral(" offers no action");
        continue;
      }
      const QStringList start = Fingerprint(w);
      const int page = w.CurrentPage();
      b->click();
      QCoreApplication::processEvents();
      const QStringList clicked = Fingerprint(w);
      // Back to where it was, by the same way.
      if (Fingerprint(w) != start) b->click();
      if (w.CurrentPage() != page) w.SelectPage(page);
      QCoreApplication::processEvents();
      a = QAccessible::queryAccessibleInterface(b);
      a->actionInterface()->doAction(a->actionInterface()->actionNames().first());
      QTest::qWait(150);  // a press action clicks after a moment
      if (!QTest::qWaitFor([&] { return Fingerprint(w) == clicked; }, 2000))
        faults << where + QStringLiteral(": the action of ") + b->objectName() +
                      QStringLiteral(" does not do what its click does");
      if (Fingerprint(w) != start) b->click();
      if (w.CurrentPage() != page) w.SelectPage(page);
      QCoreApplication::processEvents();
      bed.TakeBoxes();
    }
  }

 private slots:
  void theConnectedWindowIsReadableAndOperable() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    w.Action("aLoadAll")->trigger();
    w.Action("tovarLoadAll")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!w.RegisterBusy(), kWaitMs);
    bed.TakeBoxes();
    QStringList faults;
    auto* tabs = w.ConfigPage().findChild<QTabWidget*>();
    QVERIFY(tabs != nullptr);
    for (int t = 0; t < tabs->count(); ++t) {
      if (!tabs->isTabVisible(t)) continue;
      w.SelectPage(ui::pgConfig);
      tabs->setCurrentIndex(t);
      QCoreApplication::processEvents();
      CheckTree(w, QStringLiteral("config/") + tabs->tabText(t), faults);
    }
    for (const int page : {ui::pgGoods, ui::pgMagazine, ui::pgConfigSys, ui::pgShop}) {
      w.SelectPage(page);
      QCoreApplication::processEvents();
      CheckTree(w, QStringLiteral("page %1").arg(page), faults);
    }
    // The line monitor open, with some traffic in it.
    w.Action("aLineMonitor")->setChecked(true);
    w.Action("aDepLoad")->trigger();
    QTest::qWait(400);
    CheckTree(w, QStringLiteral("monitor"), faults);
    for (const int page : {ui::pgConfig, ui::pgGoods, ui::pgConfigSys, ui::pgShop}) {
      w.SelectPage(page);
      QCoreApplication::processEvents();
      CheckCheckableActions(w, QStringLiteral("page %1").arg(page), faults, bed);
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
  }

  // The page selectors are the page list: radio buttons named by their page,
  // the page in front checked, the others not; never check boxes.
  void thePageSelectorsAreAnnouncedAsThePageList() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    for (const int shown : {ui::pgConfig, ui::pgGoods, ui::pgShop}) {
      w.SelectPage(shown);
      QCoreApplication::processEvents();
      for (int page = ui::pgConfig; page <= ui::kLastPage; ++page) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w.Side().ClickArea(page));
        QVERIFY(a != nullptr);
        QCOMPARE(a->role(), QAccessible::RadioButton);
        QCOMPARE(a->text(QAccessible::Name), w.Side().ClickArea(page)->text());
        QCOMPARE(bool(a->state().checked), page == shown);
        QCOMPARE(bool(a->state().checkable), true);
        QCOMPARE(a->text(QAccessible::Description), QStringLiteral("Страница %1 из %2").arg(page).arg(ui::kLastPage));
      }
    }
    // Its action brings its page to the front.
    QAccessibleInterface* shop = QAccessible::queryAccessibleInterface(w.Side().ClickArea(ui::pgShop));
    shop->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_COMPARE_WITH_TIMEOUT(w.CurrentPage(), int(ui::pgShop), kWaitMs);
  }

  // The help window (F1) and "О программе": every control named, and every
  // control of the help window reached with Tab.
  void theHelpWindowAndAboutAreReadable() {
    ui::SetManualFolder(QStringLiteral(ZARVIK_MANUAL_DIR));
    uitest::TTestBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    w.SelectPage(ui::pgConfig);
    w.Action("aHelpManual")->trigger();
    ui::THelpWindow* help = w.HelpWindow();
    QVERIFY(help != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(help));
    QStringList faults;
    CheckTree(*help, QStringLiteral("help"), faults);
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(help);
    if (window == nullptr || window->text(QAccessible::Name).isEmpty()) faults << QStringLiteral("help: no name");
    // Tab goes round every control of the help window.
    help->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(help));
    QSet<QString> reached;
    help->findChild<QWidget*>(QStringLiteral("bHelpContents"))->setFocus();
    for (int i = 0; i < 12 && QApplication::focusWidget() != nullptr; ++i) {
      reached << QApplication::focusWidget()->objectName();
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    for (const char* name : {"eHelpFind", "bHelpFindNext", "bHelpFindPrevious", "tvHelpContents", "HelpBrowser"})
      if (!reached.contains(QString::fromLatin1(name))) faults << QStringLiteral("help: Tab never reaches ") + name;
    ui::TAboutDialog about(&w);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    CheckTree(about, QStringLiteral("about"), faults);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
  }

  // The walker itself finds what it is meant to find.
  void theWalkerFindsWhatItLooksFor() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    QStringList faults;
    CheckTree(w, QStringLiteral("clean"), faults);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    // A value label named by its caption instead of its text.
    w.Side().lModel->setAccessibleName(QStringLiteral("Модель"));
    // A button with neither text nor name.
    auto* nameless = new QToolButton(w.Side().Selector(1)->parentWidget());
    nameless->setObjectName("bNameless");
    nameless->show();
    CheckTree(w, QStringLiteral("broken"), faults);
    QVERIFY2(faults.filter(QRegularExpression(QStringLiteral("lModel .* shows"))).size() == 1,
             qPrintable(faults.join('\n')));
    QVERIFY2(faults.filter(QRegularExpression(QStringLiteral("bNameless .* has no name"))).size() == 1,
             qPrintable(faults.join('\n')));
    // A checkable button whose click does more than its toggle action.
    faults.clear();
    auto* extra = new QCheckBox(QStringLiteral("Проверка"), w.Side().Selector(1)->parentWidget());
    extra->setObjectName("cbProbe");
    extra->show();
    QObject::connect(extra, &QAbstractButton::clicked, &w, [&w] { w.SelectPage(ui::pgGoods); });
    w.SelectPage(ui::pgConfig);
    CheckCheckableActions(w, QStringLiteral("probe"), faults, bed);
    QVERIFY2(faults.filter(QStringLiteral("cbProbe does not do")).size() == 1, qPrintable(faults.join('\n')));
  }
};

QTEST_MAIN(AccessibilityTest)
#include "test_accessibility.moc"
