// The free-text tab against the simulated register: shown only with "okb",
// printing line by line with the chosen font and brightness, clearing.
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QtTest>

#include "ConfigTestSupport.h"
#include "SpeedButtonEx.h"
#include "WaitForm.h"
#include "pages/ConfigPage.h"
#include "pages/TextTab.h"

using namespace zarvik;

namespace {

constexpr std::uint8_t kPrintLine = 25;

std::vector<sim::PrintedLine> Printed(uitest::TTestBed& bed) {
  return bed.Sim().State().printed;
}

}  // namespace

class TextTest : public QObject {
  Q_OBJECT
 private slots:
  void shownOnlyWithOkb_data() {
    QTest::addColumn<bool>("okb");
    QTest::newRow("okb") << true;
    QTest::newRow("without") << false;
  }
  void shownOnlyWithOkb() {
    QFETCH(bool, okb);
    cfgtest::TConfigBed bed(okb ? std::vector<std::string>{"okb"} : std::vector<std::string>{});
    ui::TfmMain& w = bed.OpenWindow();
    QTabWidget& tabs = w.ConfigPage().Tabs();
    ui::TTextTab& tab = w.ConfigPage().Text();
    QCOMPARE(tabs.isTabVisible(tabs.indexOf(&tab)), okb);
    QCOMPARE(tabs.tabText(tabs.indexOf(&tab)), QString::fromUtf8("Текст"));
    QCOMPARE(tab.objectName(), QString("TabSheetTxt"));
    QCOMPARE(tab.findChild<QLabel*>("Label30")->text(), QString::fromUtf8("Шрифт"));
    QCOMPARE(tab.findChild<QLabel*>("Label31")->text(), QString::fromUtf8("Яркость"));
    QCOMPARE(tab.bPrintText->text(), QString::fromUtf8("Печать текста"));
    QCOMPARE(tab.BClearText->text(), QString::fromUtf8("Очистить"));
    QCOMPARE(tab.cbFontText->count(), 9);
    QCOMPARE(tab.cbFontText->currentIndex(), 0);
    QStringList levels;
    for (int i = 0; i < tab.cbLiteLetter->count(); ++i) levels << tab.cbLiteLetter->itemText(i);
    QCOMPARE(levels, QStringList({"0", "1", "2", "3", "4", "5"}));
    QCOMPARE(tab.cbLiteLetter->currentText(), QString("0"));
    QVERIFY(tab.mText->font().bold());
    QVERIFY(QFontInfo(tab.mText->font()).fixedPitch());
    QVERIFY(!tab.mText->accessibleName().isEmpty());
  }

  void emptyTextPrintsNothing() {
    cfgtest::TConfigBed bed({"okb"});
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    ui::TTextTab& tab = w.ConfigPage().Text();
    QVERIFY(tab.TextLines().isEmpty());
    QTest::mouseClick(tab.bPrintText, Qt::LeftButton);
    QCOMPARE(cfgtest::Executed(bed, kPrintLine), 0);
    QCOMPARE(cfgtest::ConsoleCount(bed, "напечатано"), 1);
    QCOMPARE(cfgtest::LogCount(bed, "напечатано"), 1);
    QVERIFY(bed.Boxes().empty());
  }

  void linesPrintedWithFontAndBrightness() {
    cfgtest::TConfigBed bed({"okb"});
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    ui::TTextTab& tab = w.ConfigPage().Text();
    w.SelectPage(ui::pgGoods);
    const std::string longLine = "0123456789ABCDEFGHIJKLMNOPQRSTUV-40-chars";
    tab.mText->setPlainText(QString::fromUtf8("ПРИВЕТ\n\n") + QString::fromStdString(longLine) + "\n");
    tab.cbFontText->setCurrentIndex(2);
    tab.cbLiteLetter->setCurrentIndex(3);
    QCOMPARE(tab.TextLines().size(), 3);
    tab.bPrintTextClick();
    const std::vector<sim::PrintedLine> expected = {
        {2, 3, "ПРИВЕТ"}, {2, 3, ""}, {2, 3, longLine.substr(0, 32)}};
    QCOMPARE(Printed(bed), expected);
    QCOMPARE(cfgtest::ConsoleCount(bed, "напечатано"), 1);
    // The page stays where it was and the window enabled.
    QCOMPARE(w.CurrentPage(), int(ui::pgGoods));
    QVERIFY(w.isEnabled());
    QVERIFY(tab.bPrintText->isEnabled());
    QVERIFY(!w.WaitForm().isVisible());
    QVERIFY(!w.RegisterBusy());

    // Clearing empties the box and sends nothing.
    QTest::mouseClick(tab.BClearText, Qt::LeftButton);
    QVERIFY(tab.mText->toPlainText().isEmpty());
    QCOMPARE(Printed(bed).size(), expected.size());
  }

  void printingFailure() {
    cfgtest::TConfigBed bed({"okb"});
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    ui::TTextTab& tab = w.ConfigPage().Text();
    tab.mText->setPlainText("one\ntwo\nthree");
    {
      cfgtest::TFaultAfter fault(bed, kPrintLine, 1, "result=25:3");
      tab.bPrintTextClick();
      QVERIFY(fault.Armed());
    }
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>({"Неверный формат команды или данных", "не удалось напечатать текст"}));
    QCOMPARE(Printed(bed), (std::vector<sim::PrintedLine>{{0, 0, "one"}}));
    QCOMPARE(cfgtest::ConsoleCount(bed, "напечатано"), 0);
    QVERIFY(tab.bPrintText->isEnabled());
  }

  void printingConnectsFirst() {
    cfgtest::TConfigBed bed({"okb"});
    bed.StartSimulator(cfgtest::ShopScenario());
    bed.UseSimulatorPort();
    ui::TfmMain& w = bed.OpenWindow();
    w.Protocol().waits = kNoLinkWaits;
    ui::TTextTab& tab = w.ConfigPage().Text();
    tab.mText->setPlainText("line");
    tab.bPrintTextClick();
    QVERIFY(w.RegisterPort().IsOpen());
    QCOMPARE(Printed(bed), (std::vector<sim::PrintedLine>{{0, 0, "line"}}));
  }

  void noConnection() {
    cfgtest::TConfigBed bed({"okb"});
    ui::TfmMain& w = cfgtest::OpenUnconnectable(bed);
    ui::TTextTab& tab = w.ConfigPage().Text();
    tab.mText->setPlainText("line");
    tab.bPrintTextClick();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>({"не удалось откыть порт", "Не удалось подключиться!"}));
    QCOMPARE(cfgtest::ConsoleCount(bed, "напечатано"), 0);
    QVERIFY(tab.bPrintText->isEnabled());
  }
};

QTEST_MAIN(TextTest)
#include "test_text.moc"
