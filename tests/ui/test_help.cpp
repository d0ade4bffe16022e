// The window's help: F1 opens the built manual in the help window at the
// chapter of the page and tab on display, every page and tab of the running
// window has a place in the manual, the help window's contents, history and
// find work, and "О программе" names the version and the user's files.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include "AboutDialog.h"
#include "HelpTopics.h"
#include "HelpWindow.h"
#include "UiTestSupport.h"
#include "pages/ConfigPage.h"
#include "pages/JournalPage.h"
#include "pages/JournalTablesView.h"
#include "shell/ProjectsVars.h"
#include "shell/UserFiles.h"

using namespace zarvik;

namespace {

const QString kManual = QStringLiteral(ZARVIK_MANUAL_DIR);

// The places (<a name> and id) of a built chapter.
QSet<QString> Anchors(const QString& file) {
  QFile f(kManual + QLatin1Char('/') + file);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QSet<QString> anchors;
  const QRegularExpression re(QStringLiteral("(?:name|id)=\"([^\"]+)\""));
  for (auto it = re.globalMatch(QString::fromUtf8(f.readAll())); it.hasNext();) anchors.insert(it.next().captured(1));
  return anchors;
}

// True when `topic` ("config.html#taxes") is a chapter of the built manual
// and, with an anchor, a place in it.
bool InManual(const QString& topic) {
  const QString file = topic.section(QLatin1Char('#'), 0, 0);
  const QString anchor = topic.section(QLatin1Char('#'), 1);
  if (!QFileInfo(kManual + QLatin1Char('/') + file).isFile()) return false;
  return anchor.isEmpty() || Anchors(file).contains(anchor);
}

// The page widgets of the main window (inside their scroll areas).
QList<QWidget*> Pages(ui::TfmMain& w) {
  QList<QWidget*> pages;
  auto* control = w.findChild<QTabWidget*>(QStringLiteral("MainPageControl"));
  for (int i = 0; control != nullptr && i < control->count(); ++i) {
    QWidget* page = control->widget(i);
    if (auto* area = qobject_cast<QScrollArea*>(page)) page = area->widget();
    pages << page;
  }
  return pages;
}

// Presses F1 in the main window; the help window's topic afterwards.
QString PressF1(ui::TfmMain& w) {
  w.activateWindow();
  if (!QTest::qWaitForWindowActive(&w)) return QStringLiteral("main window not active");
  w.FocusPage();
  QTest::keyClick(QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : &w, Qt::Key_F1);
  ui::THelpWindow* help = w.HelpWindow();
  if (help == nullptr || !uitest::WaitFor([help] { return help->isVisible(); })) return QStringLiteral("no help");
  return help->CurrentTopic();
}

}  // namespace

class HelpTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    ui::SetManualFolder(kManual);
    QVERIFY2(QFileInfo(kManual + QStringLiteral("/index.html")).isFile(), "the manual is not built");
  }

  void f1OpensTheChapterOfThePageAndTabOnDisplay() {
    uitest::TTestBed bed({"okb"});  // okb: the text tab too
    ui::TfmMain& w = bed.OpenWindow();
    QTabWidget& configTabs = w.ConfigPage().Tabs();
    const QStringList configTopics = {"config.html#options",   "config.html#departments", "config.html#receipt",
                                      "config.html#taxes",     "config.html#operators",   "config.html#text"};
    QCOMPARE(configTabs.count(), configTopics.size());
    for (int i = 0; i < configTabs.count(); ++i) {
      w.SelectPage(ui::pgConfig);
      configTabs.setCurrentIndex(i);
      QCOMPARE(PressF1(w), configTopics[i]);
      // The browser shows that place: the page is scrolled to it (the first
      // place is the top).
      QTextBrowser& browser = w.HelpWindow()->Browser();
      QCOMPARE(browser.source().fileName(), QStringLiteral("config.html"));
      if (i > 0) QVERIFY(uitest::WaitFor([&browser] { return browser.verticalScrollBar()->value() > 0; }));
    }
    configTabs.setCurrentIndex(0);

    w.SelectPage(ui::pgGoods);
    QCOMPARE(PressF1(w), QStringLiteral("goods.html"));
    w.SelectPage(ui::pgConfigSys);
    QCOMPARE(PressF1(w), QStringLiteral("settings.html"));

    ui::TJournalPage& journal = w.JournalPage();
    w.SelectPage(ui::pgMagazine);
    journal.TabsMagazine->setCurrentIndex(0);
    QCOMPARE(PressF1(w), QStringLiteral("journal.html#text"));
    journal.TabsMagazine->setCurrentWidget(journal.JournalTables);
    QTabWidget* data = journal.JournalTables->TabsMagazineData;
    const QStringList dataTopics = {"journal-data.html#receipts", "journal-data.html#operations",
                                    "journal-data.html#summary", "journal-data.html#check"};
    QCOMPARE(data->count(), dataTopics.size());
    for (int i = 0; i < data->count(); ++i) {
      data->setCurrentIndex(i);
      QCOMPARE(PressF1(w), dataTopics[i]);
    }
    // The keyboard in the line monitor: its chapter, whatever page is shown.
    w.findChild<QAction*>(QStringLiteral("aLineMonitor"))->setChecked(true);
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto* monitorField = w.findChild<QWidget*>(QStringLiteral("LineMonitor"))->findChild<QLineEdit*>();
    QVERIFY(monitorField != nullptr);
    monitorField->setFocus();
    QVERIFY(uitest::WaitFor([monitorField] { return monitorField->hasFocus(); }));
    QTest::keyClick(monitorField, Qt::Key_F1);
    QCOMPARE(w.HelpWindow()->CurrentTopic(), QStringLiteral("line-monitor.html"));
    // The contents follow the chapter shown.
    QTreeWidgetItem* current = w.HelpWindow()->Contents().currentItem();
    QVERIFY(current != nullptr);
    QCOMPARE(current->data(0, Qt::UserRole).toString(), QStringLiteral("line-monitor.html"));
    // The menu entry does what F1 does.
    w.findChild<QAction*>(QStringLiteral("aLineMonitor"))->setChecked(false);
    w.SelectPage(ui::pgGoods);
    w.FocusPage();
    w.findChild<QAction*>(QStringLiteral("aHelpManual"))->trigger();
    QCOMPARE(w.HelpWindow()->CurrentTopic(), QStringLiteral("goods.html"));
  }

  // Every page and every tab of the running window, and the panels around
  // them, have their place in the built manual: a page or tab added later
  // without its chapter fails here.
  void everyPageAndTabHasItsChapter() {
    uitest::TTestBed bed({"okb"});
    ui::TfmMain& w = bed.OpenWindow();
    QStringList missing;
    const QList<QWidget*> pages = Pages(w);
    QVERIFY(pages.size() >= 4);
    for (QWidget* page : pages) {
      const QString topic = ui::HelpTopicForName(page->objectName());
      if (topic.isEmpty() || !InManual(topic))
        missing << QStringLiteral("page %1 -> \"%2\"").arg(page->objectName(), topic);
      for (QTabWidget* tabs : page->findChildren<QTabWidget*>()) {
        for (int i = 0; i < tabs->count(); ++i) {
          const QString name = tabs->widget(i)->objectName();
          const QString own = ui::HelpTopicForName(name);
          if (own.isEmpty() || !InManual(own))
            missing << QStringLiteral("tab \"%1\" (%2) of %3 -> \"%4\"")
                           .arg(tabs->tabText(i), name, page->objectName(), own);
        }
      }
    }
    for (const char* panel : {"PanelMenu", "LineMonitor"}) {
      QVERIFY2(w.findChild<QWidget*>(QString::fromLatin1(panel)) != nullptr, panel);
      const QString topic = ui::HelpTopicForName(QString::fromLatin1(panel));
      if (topic.isEmpty() || !InManual(topic)) missing << QStringLiteral("panel %1 -> \"%2\"").arg(panel, topic);
    }
    for (const ui::THelpChapter& c : ui::HelpChapters())
      if (!InManual(QString::fromLatin1(c.file))) missing << QStringLiteral("chapter ") + c.file;
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char('\n'))));
    // The check itself sees a page without a chapter.
    QVERIFY(ui::HelpTopicForName(QStringLiteral("TabSheetNothing")).isEmpty());
    QVERIFY(!InManual(QStringLiteral("config.html#nothing")));
  }

  void theHelpWindowGoesBackForwardAndFinds() {
    ui::THelpWindow help;
    help.show();
    QVERIFY(help.ShowTopic(kManual, QStringLiteral("index.html")));
    QVERIFY(!help.findChild<QWidget*>(QStringLiteral("bHelpBack"))->isEnabled());
    // A link of the contents page leads to its chapter.
    help.Browser().setSource(help.Browser().source().resolved(QUrl(QStringLiteral("goods.html"))));
    QCOMPARE(help.CurrentTopic(), QStringLiteral("goods.html"));
    QVERIFY(help.findChild<QWidget*>(QStringLiteral("bHelpBack"))->isEnabled());
    QTest::mouseClick(help.findChild<QWidget*>(QStringLiteral("bHelpBack")), Qt::LeftButton);
    QCOMPARE(help.CurrentTopic(), QStringLiteral("index.html"));
    QTest::mouseClick(help.findChild<QWidget*>(QStringLiteral("bHelpForward")), Qt::LeftButton);
    QCOMPARE(help.CurrentTopic(), QStringLiteral("goods.html"));
    // Find goes on into the chapters after this one: "nodelay" is only in the
    // ports chapter.
    QVERIFY(help.ShowTopic(kManual, QStringLiteral("index.html")));
    auto* field = help.findChild<QLineEdit*>(QStringLiteral("eHelpFind"));
    field->setText(QStringLiteral("nodelay"));
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(help.CurrentTopic(), QStringLiteral("ports.html"));
    QCOMPARE(help.Browser().textCursor().selectedText(), QStringLiteral("nodelay"));
    // Again: round through every chapter back to the same place.
    QVERIFY(help.Find(QStringLiteral("nodelay")));
    QCOMPARE(help.CurrentTopic(), QStringLiteral("ports.html"));
    // Backward from the contents page finds it too.
    QVERIFY(help.ShowTopic(kManual, QStringLiteral("index.html")));
    QVERIFY(help.Find(QStringLiteral("nodelay"), true));
    QCOMPARE(help.CurrentTopic(), QStringLiteral("ports.html"));
    // A text no chapter holds: said, and the chapter stays.
    QVERIFY(!help.Find(QStringLiteral("текст, которого нет ни в одной главе")));
    QCOMPARE(help.findChild<QLabel*>(QStringLiteral("lHelpFindResult"))->text(),
             QString::fromUtf8(ui::kHelpNotFoundText));
    QCOMPARE(help.CurrentTopic(), QStringLiteral("ports.html"));
    // The contents open their chapter.
    QTreeWidget& contents = help.Contents();
    QCOMPARE(contents.topLevelItemCount(), static_cast<int>(ui::HelpChapters().size()));
    QTreeWidgetItem* last = contents.topLevelItem(contents.topLevelItemCount() - 1);
    emit contents.itemActivated(last, 0);
    QCOMPARE(help.CurrentTopic(), QStringLiteral("messages.html"));
  }

  void aMissingManualIsSaid() {
    QTemporaryDir empty;
    ui::THelpWindow help;
    QVERIFY(!help.ShowTopic(empty.path(), QStringLiteral("config.html")));
    QVERIFY(help.Browser().toPlainText().contains(QString::fromUtf8("Руководство не найдено")));
    QVERIFY(!help.ShowTopic(QString(), QStringLiteral("index.html")));
    // A chapter the manual lacks.
    QVERIFY(!help.ShowTopic(kManual, QStringLiteral("nothing.html")));
  }

  void theWordHelpOpensTheManualAtStart() {
    uitest::TTestBed bed({"help"});
    ui::TfmMain& w = bed.OpenWindow();
    QVERIFY(uitest::WaitFor([&w] { return w.HelpWindow() != nullptr && w.HelpWindow()->isVisible(); }));
    QCOMPARE(w.HelpWindow()->CurrentTopic(), QStringLiteral("config.html#options"));
    // The log names where it found the manual (the lines of this window:
    // after its start line).
    QStringList lines = bed.LogLines();
    const qsizetype start = lines.lastIndexOf(QRegularExpression(QString::fromUtf8(".* Старт")));
    QVERIFY(start >= 0);
    lines = lines.mid(start).filter(QString::fromUtf8("Руководство: "));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].endsWith(QString::fromUtf8("Руководство: ") + QDir::cleanPath(kManual) +
                               QStringLiteral("/config.html#options")),
             qPrintable(lines[0]));
  }

  // "О программе" from both menus: the version the window's caption has, the
  // licence and the user's files.
  void aboutShowsTheVersionAndTheUsersFiles() {
    uitest::TTestBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    const QString caption = QString::fromUtf8(ui::kVersionSuffix).trimmed();  // "v2.092"
    for (const char* entry : {"aHelpAbout", "miAbout"}) {
      QString text;
      QTimer::singleShot(0, &w, [&text] {
        auto* dialog = qobject_cast<ui::TAboutDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        text = dialog->Text().toPlainText();
        dialog->reject();
      });
      QAction* a = w.findChild<QAction*>(QString::fromLatin1(entry));
      QVERIFY2(a != nullptr && a->isEnabled(), entry);
      a->trigger();
      QVERIFY2(!text.isEmpty(), entry);
      QVERIFY2(text.contains(QStringLiteral("ZarvikConfig ") + caption.mid(1)), qPrintable(text));
      QVERIFY2(text.contains(QString::fromUtf8("Лицензия")), qPrintable(text));
      for (const std::string& path : {ProgramIniPath(), ProfileFolderPath(), LogFilePath()})
        QVERIFY2(text.contains(QFileInfo(QString::fromStdString(path)).absoluteFilePath()), qPrintable(text));
      QVERIFY2(text.contains(QDir::cleanPath(kManual)), qPrintable(text));
      QVERIFY2(text.contains(QString::fromLatin1(qVersion())), qPrintable(text));
    }
  }
};

QTEST_MAIN(HelpTest)
#include "test_help.moc"
