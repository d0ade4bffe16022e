// The window driven with the keyboard alone: the keys of the pages, the
// connection and the stop, Alt to the main menu, Escape in the boxes, and a
// whole session (connect, read all settings, rename a department, write it,
// read the goods and the journal) with key events only.
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>
#include <functional>
#include <set>

#include "ConfigTestSupport.h"
#include "DBGridEh.h"
#include "SidePanel.h"
#include "SpeedButtonEx.h"
#include "UiHooksQt.h"
#include "UiTestSupport.h"
#include "pages/ConfigPage.h"
#include "pages/DepartmentsTab.h"
#include "pages/GoodsPage.h"
#include "pages/JournalPage.h"
#include "pages/JournalView.h"
#include "pages/ShopPage.h"
#include "store/UnitBD.h"

using namespace zarvik;

namespace {

constexpr int kWaitMs = 30000;
constexpr int kMostTabs = 300;

sim::Scenario ShopWithGoodsAndJournal() {
  // The shipped shop: goods and a journal of receipts.
  sim::Scenario sc = uitest::LoadScenario();
  return sc;
}

// Presses Tab (Ctrl+Tab inside a grid, where Tab moves between cells) until
// the focus is on a widget `wanted` accepts; false when it never comes.
bool TabTo(QWidget& window, const std::function<bool(QWidget*)>& wanted) {
  QStringList path;
  for (int i = 0; i < kMostTabs; ++i) {
    QWidget* focus = QApplication::focusWidget();
    if (focus != nullptr && wanted(focus)) return true;
    if (i < 60) path << (focus != nullptr ? focus->objectName() + ":" + focus->metaObject()->className() : "-");
    auto* view = qobject_cast<QAbstractItemView*>(focus);
    QWidget* target = focus != nullptr ? focus : &window;
    if (view != nullptr && view->tabKeyNavigation())
      QTest::keyClick(target, Qt::Key_Tab, Qt::ControlModifier);
    else
      QTest::keyClick(target, Qt::Key_Tab);
  }
  qWarning("the focus went: %s", qPrintable(path.join(QStringLiteral(" > "))));
  return false;
}

// The focus on the button bound to `action`.
bool TabToAction(ui::TfmMain& w, const char* action) {
  QAction* a = w.Action(action);
  return TabTo(w, [a](QWidget* x) {
    auto* b = qobject_cast<QToolButton*>(x);
    return b != nullptr && b->defaultAction() == a && b->isVisible();
  });
}

void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* focus = QApplication::focusWidget();
  QTest::keyClick(focus != nullptr ? focus : QApplication::activeWindow(), key, modifiers);
}

}  // namespace

class KeyboardTest : public QObject {
  Q_OBJECT

  static bool Activate(ui::TfmMain& w) {
    w.activateWindow();
    return QTest::qWaitForWindowActive(&w, kWaitMs);
  }

 private slots:
  void pagesConnectionStopAndMenuHaveKeys() {
    cfgtest::TConfigBed bed;
    bed.StartSimulator(cfgtest::ShopScenario());
    bed.UseSimulatorPort();
    ui::TfmMain& w = bed.OpenWindow();
    QVERIFY(Activate(w));
    struct Case {
      Qt::Key key;
      int page;
    };
    for (const Case c : {Case{Qt::Key_2, ui::pgGoods}, Case{Qt::Key_3, ui::pgMagazine},
                         Case{Qt::Key_4, ui::pgConfigSys}, Case{Qt::Key_5, ui::pgShop},
                         Case{Qt::Key_1, ui::pgConfig}}) {
      QTest::keyClick(&w, c.key, Qt::ControlModifier);
      QCOMPARE(w.CurrentPage(), c.page);
      QVERIFY(w.Side().ClickArea(c.page)->isChecked());
    }
    // F9 connects and disconnects.
    QTest::keyClick(&w, Qt::Key_F9);
    QVERIFY(w.RegisterPort().IsOpen());
    QTest::keyClick(&w, Qt::Key_F9);
    QVERIFY(!w.RegisterPort().IsOpen());
    // The main menu's entries open from the keyboard: Space on the entry's
    // button shows its menu, Escape closes it.
    auto* menuButton = w.findChild<QToolButton*>("miConfigButton");
    QVERIFY(menuButton != nullptr);
    QCOMPARE(menuButton->text(), QString::fromUtf8("&Настройки ККМ(ЧПМ)"));
    menuButton->setFocus(Qt::TabFocusReason);
    bool menuShown = false;
    QTimer::singleShot(0, this, [&] {
      QTRY_VERIFY_WITH_TIMEOUT(QApplication::activePopupWidget() != nullptr, kWaitMs);
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      menuShown = menu != nullptr && menu->objectName() == "miConfig";
      QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
    });
    QTest::keyClick(menuButton, Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::activePopupWidget() == nullptr, kWaitMs);
    QVERIFY(menuShown);
  }

  // The page "Магазин" from the keyboard: every control reached with Tab,
  // a register added with Space and named by typing in its cell.
  void theShopPageWithKeysOnly() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    QVERIFY(Activate(w));
    QTest::keyClick(&w, Qt::Key_5, Qt::ControlModifier);
    QCOMPARE(w.CurrentPage(), int(ui::pgShop));
    QVERIFY(TabToAction(w, "shopAddRegister"));
    Key(Qt::Key_Space);
    QTRY_COMPARE_WITH_TIMEOUT(w.ShopPage().Table()->rowCount(), 1, kWaitMs);
    // Every control of the page that takes the keyboard, now that the list
    // has a row, is reached by Tab.
    QWidget& page = w.ShopPage();
    std::set<QWidget*> wanted;
    for (QWidget* x : page.findChildren<QWidget*>())
      if ((x->focusPolicy() & Qt::TabFocus) != 0 && x->isVisible() && x->isEnabled() && x->focusProxy() == nullptr)
        wanted.insert(x);
    QVERIFY(wanted.size() > 5);
    std::set<QWidget*> reached;
    for (int i = 0; i < kMostTabs && reached.size() < wanted.size(); ++i) {
      QWidget* focus = QApplication::focusWidget();
      if (wanted.count(focus) != 0) reached.insert(focus);
      auto* view = qobject_cast<QAbstractItemView*>(focus);
      QTest::keyClick(focus != nullptr ? focus : &w, Qt::Key_Tab,
                      view != nullptr && view->tabKeyNavigation() ? Qt::ControlModifier : Qt::NoModifier);
    }
    QStringList missed;
    for (QWidget* x : wanted)
      if (reached.count(x) == 0) missed << x->objectName() + ":" + x->metaObject()->className();
    QVERIFY2(missed.isEmpty(), qPrintable(missed.join(QStringLiteral(", "))));
    // The register's name typed into its cell.
    QVERIFY(TabTo(w, [&](QWidget* x) { return x == w.ShopPage().Table(); }));
    w.ShopPage().Table()->setCurrentCell(0, ui::scName);
    Key(Qt::Key_F2);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("kassa"));
    Key(Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(w.ShopPage().Registers()[0].name, std::string("kassa"), kWaitMs);
  }

  void f8StopsARunningTransfer() {
    cfgtest::TConfigBed bed;
    sim::Scenario sc = uitest::LoadScenario();
    bed.StartSimulator(sc, 19200);  // paced: the transfer takes a while
    bed.UseSimulatorPort(19200);
    ui::TfmMain& w = bed.OpenWindow();
    QVERIFY(Activate(w));
    QVERIFY(bed.Connect());
    bool pressed = false;
    const auto c = connect(w.ProgressBar(), &QProgressBar::valueChanged, this, [&](int v) {
      if (v < 2 || pressed) return;
      pressed = true;
      QTest::keyClick(&w, Qt::Key_F8);
    });
    w.Action("tovarLoadAll")->trigger();
    disconnect(c);
    QVERIFY(pressed);
    QVERIFY2(bed.ConsoleText().endsWith(QString::fromUtf8("Warning:Товар частично загружен")),
             qPrintable(bed.ConsoleText().right(300) + (w.isActiveWindow() ? " active" : " inactive")));
    QVERIFY(!w.Transfer().transferStopRequested);
  }

  void escapeClosesTheBoxes() {
    uitest::TTestBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    QVERIFY(Activate(w));
    // The program's own question box, not the test bed's answers.
    w.Hooks().questionHandler = nullptr;
    w.Hooks().boxHandler = nullptr;
    for (const QueryKind kind : {QueryKind::OkCancel, QueryKind::YesNoCancel}) {
      bool escaped = false;
      QTimer::singleShot(0, this, [&] {
        QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget() != nullptr, kWaitMs);
        QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape);
        escaped = true;
      });
      QCOMPARE(UiHooks().AskQuestion(kind, "Продолжить?", QueryButton::Ok), QueryButton::Cancel);
      QVERIFY(escaped);
    }
    bool closed = false;
    QTimer::singleShot(0, this, [&] {
      QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr, kWaitMs);
      QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape);
      closed = true;
    });
    UiHooks().ShowMessageBox(BoxKind::Error, "Error", "Проверка");
    QVERIFY(closed);
  }

  // Connect, read all settings, rename a department and write it, read the
  // goods and the journal: keys only.
  void aWholeSessionWithKeysOnly() {
    cfgtest::TConfigBed bed;
    bed.StartSimulator(ShopWithGoodsAndJournal());
    bed.UseSimulatorPort();
    ui::TfmMain& w = bed.OpenWindow();
    w.Protocol().waits = kNoLinkWaits;
    QVERIFY(Activate(w));

    QTest::keyClick(&w, Qt::Key_F9);
    QVERIFY(w.RegisterPort().IsOpen());
    // The offscreen platform makes the wait window active, which a desktop's
    // window manager does not (it is shown without activation).
    QVERIFY(Activate(w));

    // "Считать все настройки из ККМ".
    QTest::keyClick(&w, Qt::Key_1, Qt::ControlModifier);
    QVERIFY(TabToAction(w, "aLoadAll"));
    Key(Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(w.Flags().AllLoaded() && !w.RegisterBusy(), kWaitMs);
    QVERIFY(Activate(w));

    // The departments tab, through the tab row (Ctrl+1 puts the focus on the
    // page's first control).
    QTest::keyClick(&w, Qt::Key_1, Qt::ControlModifier);
    QTabWidget& tabs = w.ConfigPage().Tabs();
    QVERIFY(TabTo(w, [&tabs](QWidget* x) { return x == tabs.tabBar(); }));
    const int departments = tabs.indexOf(&w.ConfigPage().Departments());
    while (tabs.currentIndex() != departments) {
      const int before = tabs.currentIndex();
      Key(before < departments ? Qt::Key_Right : Qt::Key_Left);
      QVERIFY(tabs.currentIndex() != before);
    }
    // Department 2's name, typed into its cell.
    ui::TDBGridEh& grid = w.ConfigPage().Departments().Grid();
    QVERIFY(TabTo(w, [&grid](QWidget* x) { return x == &grid; }));
    const int nameColumn = grid.Model().ColumnOf("Name");
    Key(Qt::Key_Home, Qt::ControlModifier);
    Key(Qt::Key_Down);
    while (grid.currentIndex().column() < nameColumn) Key(Qt::Key_Right);
    QCOMPARE(grid.currentIndex().row(), 1);
    Key(Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QVERIFY(editor != nullptr);
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(editor, "Moloko");
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(cfgtest::Column(w.Bd().mtDepatment, "Name")[1], std::string("Moloko"), kWaitMs);

    // "записать в ККМ" of the departments.
    QVERIFY(TabToAction(w, "aDepSave"));
    Key(Qt::Key_Space);
    QTRY_COMPARE_WITH_TIMEOUT(bed.Sim().State().departments[1].name, std::string("Moloko"), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!w.RegisterBusy(), kWaitMs);
    QVERIFY(Activate(w));

    // The goods.
    QTest::keyClick(&w, Qt::Key_2, Qt::ControlModifier);
    QCOMPARE(w.CurrentPage(), int(ui::pgGoods));
    QVERIFY(TabToAction(w, "tovarLoadAll"));
    Key(Qt::Key_Space);
    const auto goods = bed.Sim().State().goods.size();
    QTRY_VERIFY_WITH_TIMEOUT(!w.RegisterBusy() && w.Bd().mtTOBAP.RecordCount() == static_cast<int>(goods),
                             kWaitMs);
    QVERIFY(Activate(w));
    QVERIFY(goods > 0);

    // The journal.
    QTest::keyClick(&w, Qt::Key_3, Qt::ControlModifier);
    QCOMPARE(w.CurrentPage(), int(ui::pgMagazine));
    QVERIFY(TabToAction(w, "aLoadMagazin"));
    Key(Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(!w.RegisterBusy() && w.JournalPage().MemoMagazine->LineCount() > 0, kWaitMs);
    QVERIFY(bed.Boxes().empty());
  }
};

QTEST_MAIN(KeyboardTest)
#include "test_keyboard.moc"
