// Faults of the window found when it was used as a new user would and driven
// through the accessibility interfaces: values a screen reader could not
// read, selectors whose action did not choose their page, a window wider
// than a laptop screen, a stop request left behind by a cancelled close,
// option marks against the wrong profile, lost edits of a backup, a speed
// change that switched the scanner off, goods codes that were not unique and
// an all-zero barcode shown empty.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QScreen>
#include <QToolButton>
#include <QtTest>

#include "ConfigTestSupport.h"
#include "DBGridEh.h"
#include "SidePanel.h"
#include "UiTestSupport.h"
#include "pages/ConfigPage.h"
#include "pages/ConfigSysPage.h"
#include "pages/DepartmentsTab.h"
#include "pages/GoodsPage.h"
#include "pages/OptionsTab.h"
#include "pages/ProfilePanel.h"
#include "pages/ScannerPanel.h"
#include "port/Barcodescaner.h"
#include "store/ProfileStore.h"
#include "store/RegisterBackup.h"
#include "store/UnitBD.h"

using namespace zarvik;

namespace {

QString U(const char* text) {
  return QString::fromUtf8(text);
}

// Generous bound for what the window does while events are processed.
constexpr int kWaitMs = 20000;

constexpr int kScannerPort = 203;

// The scanner's end of a pseudo-terminal pair, reached as kScannerPort.
class TScannerLine : public uitest::TScannerLine {
 public:
  TScannerLine() : uitest::TScannerLine(kScannerPort) {}
};

// The configuration shop with goods.
sim::Scenario ShopWithGoods(const char* goods) {
  sim::Scenario sc;
  std::string error;
  const std::string text = std::string(cfgtest::kScenarioText) + "\n[Goods]\n" + goods;
  if (!sim::LoadScenarioText(text, sc, error)) qFatal("scenario: %s", error.c_str());
  return sc;
}

std::vector<std::string> Codes(TWorkTable& t) {
  return cfgtest::Column(t, "Code");
}

using uitest::SelectEntry;

void SetRowText(TWorkTable& t, int recNo, const char* field, const std::string& text) {
  QVERIFY(t.SetRecNo(recNo));
  QCOMPARE(t.Edit(), WtResult::Ok);
  QCOMPARE(t.SetText(field, text), WtResult::Ok);
  QCOMPARE(t.Post(), WtResult::Ok);
}

QByteArray IniText(uitest::TTestBed& bed) {
  QFile f(bed.Path("ZarvikConfig.ini"));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

}  // namespace

class WindowFaultsTest : public QObject {
  Q_OBJECT
 private slots:
  // Each value label reads as its value, with its caption as description
  // and as the label that names it.
  void readOnlyValuesExposeTheirText() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    ui::TSidePanel& side = w.Side();
    struct Case {
      QLabel* value;
      const char* caption;
    };
    const Case cases[] = {{side.lModel, "Модель"}, {side.lSN, "Серийный номер"}, {side.lVer, "Версия"},
                          {side.lMode, "Режим"},   {side.lDate, "Дата"},           {side.lTime, "Время"}};
    for (const Case& c : cases) {
      QVERIFY(!c.value->text().isEmpty());
      QAccessibleInterface* a = QAccessible::queryAccessibleInterface(c.value);
      QVERIFY(a != nullptr);
      QCOMPARE(a->text(QAccessible::Name), c.value->text());
      QCOMPARE(a->text(QAccessible::Description), U(c.caption));
      bool labelled = false;
      for (const auto& [other, relation] : a->relations(QAccessible::Label))
        labelled = labelled || other->text(QAccessible::Name) == U(c.caption);
      QVERIFY2(labelled, c.caption);
    }
    QCOMPARE(side.lModel->text(), U("Зарвик-02Ф"));
    // The option description under the cards reads as its text too.
    auto* description = w.findChild<QLabel*>("DBText4");
    QVERIFY(description != nullptr);
    QVERIFY(!description->text().isEmpty());
    QCOMPARE(QAccessible::queryAccessibleInterface(description)->text(QAccessible::Name), description->text());
  }

  // The action assistive technology offers on a page selector chooses its
  // page exactly as a click does, also on the selector already chosen.
  void pageSelectorsWorkThroughTheirAccessibleAction() {
    uitest::TTestBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    ui::TSidePanel& side = w.Side();
    for (const int page : {ui::pgGoods, ui::pgMagazine, ui::pgConfigSys, ui::pgConfigSys, ui::pgConfig}) {
      QAccessibleInterface* a = QAccessible::queryAccessibleInterface(side.ClickArea(page));
      QVERIFY(a != nullptr && a->actionInterface() != nullptr);
      const QStringList actions = a->actionInterface()->actionNames();
      QVERIFY(!actions.isEmpty());
      a->actionInterface()->doAction(actions.first());
      QTRY_COMPARE_WITH_TIMEOUT(w.CurrentPage(), page, kWaitMs);
      QTRY_VERIFY_WITH_TIMEOUT(side.ClickArea(page)->isChecked(), kWaitMs);
      for (int other = ui::pgConfig; other <= ui::pgConfigSys; ++other)
        if (other != page) QVERIFY(!side.ClickArea(other)->isChecked());
    }
  }

  // The window opens inside the screen's available area, centred, fits a
  // 1024 x 600 screen, and its size and place are remembered.
  void theWindowFitsTheScreenAndIsRemembered() {
    uitest::TTestBed bed;
    {
      ui::TfmMain& w = bed.OpenWindow();
      const QSize least = w.minimumSizeHint().expandedTo(w.minimumSize());
      QVERIFY2(least.width() <= 1024 && least.height() <= 560,
               qPrintable(QString("%1x%2").arg(least.width()).arg(least.height())));
      const QRect area = w.screen()->availableGeometry();
      QVERIFY2(area.contains(w.frameGeometry()),
               qPrintable(QString("%1,%2 %3x%4").arg(w.x()).arg(w.y()).arg(w.width()).arg(w.height())));
      QVERIFY(qAbs(w.frameGeometry().center().x() - area.center().x()) <= 4);
      QVERIFY(qAbs(w.frameGeometry().center().y() - area.center().y()) <= 16);
      // A smaller size and another place are kept at close.
      w.resize(least.width() + 10, least.height() + 10);
      w.move(area.left() + 3, area.top() + 5);
      QVERIFY(w.close());
    }
    const QByteArray ini = IniText(bed);
    QVERIFY2(ini.contains("[Window]\r\n"), ini.constData());
    bed.CloseWindow();
    {
      ui::TfmMain& w = bed.OpenWindow();
      const QRect area = w.screen()->availableGeometry();
      QCOMPARE(w.pos(), QPoint(area.left() + 3, area.top() + 5));
      const QSize least = w.minimumSizeHint().expandedTo(w.minimumSize());
      QCOMPARE(w.size(), QSize(least.width() + 10, least.height() + 10));
    }
    bed.CloseWindow();
    // A place off the screen and a size beyond it: inside the screen, centred.
    bed.WriteIni("[Window]\r\nLeft=5000\r\nTop=-4000\r\nWidth=9000\r\nHeight=7000\r\n");
    ui::TfmMain& w = bed.OpenWindow();
    const QRect area = w.screen()->availableGeometry();
    QVERIFY(area.contains(w.frameGeometry()));
    // Centred with room for a window manager's title bar above it.
    QVERIFY(qAbs(w.frameGeometry().center().y() - area.center().y()) <= 16);
  }

  // A close asked for during an exchange and then cancelled leaves no stop
  // request: the next read of the goods reads them all.
  void aCancelledCloseLeavesNoStopRequest() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(
        bed, ShopWithGoods("1=Хлеб;35.50;1;1;;piece;0;0\n2=Молоко;60;1;1;;piece;0;0\n3=Сыр;400;1;1;;piece;0;0\n"
                           "4=Чай;90;1;1;;piece;0;0\n5=Соль;12;1;1;;piece;0;0\n"));
    // Everything counts as read, so closing asks whether to save it.
    ui::TLoadedFlags& flags = w.Flags();
    flags.optionsLoaded = flags.departmentsLoaded = flags.receiptTextLoaded = flags.taxesLoaded = true;
    // The window is closed while the departments arrive.
    bool closeAsked = false;
    const auto closeNow = [&] {
      if (closeAsked || !w.RegisterBusy()) return;
      closeAsked = true;
      w.close();  // deferred: an exchange runs
    };
    QAbstractItemModel& departments = w.ConfigPage().Departments().Grid().Model();
    std::vector<QMetaObject::Connection> links = {
        connect(&departments, &QAbstractItemModel::rowsInserted, this, closeNow),
        connect(&departments, &QAbstractItemModel::modelReset, this, closeNow),
        connect(&departments, &QAbstractItemModel::dataChanged, this, closeNow)};
    bed.Answer({QueryButton::Cancel});
    w.Action("aDepLoad")->trigger();
    for (const QMetaObject::Connection& c : links) disconnect(c);
    QVERIFY(closeAsked);
    QTRY_VERIFY_WITH_TIMEOUT(!bed.Questions().empty(), kWaitMs);
    QCOMPARE(bed.Questions().back(), std::string(ui::kSaveProfileQuestion));
    QVERIFY(w.isVisible());
    QVERIFY(!w.Transfer().transferStopRequested);
    w.Action("tovarLoadAll")->trigger();
    QCOMPARE(Codes(w.Bd().mtTOBAP), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
    QVERIFY(bed.ConsoleText().endsWith(U("Товар загружен")));
  }

  // The register's options are marked against "Сохраненная" whatever was
  // viewed before and after a write, as the other tabs are.
  void optionMarksCompareWithTheStoredProfile() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    TBD& bd = w.Bd();
    ui::TOptionsTab* tab = w.findChild<ui::TOptionsTab*>();
    QVERIFY(tab != nullptr);
    // The stored profile: the register's options with option 5 changed.
    w.ConfigPage().Profiles().bSavePropKKMtoBDClick();
    QVERIFY(w.Flags().storedProfilesFound);
    QCOMPARE(bd.mtProfile.Text("Name"), std::string(kStoredProfileName));
    QCOMPARE(bd.mtOptions.Text("LN"), w.Profiles().StoredProfileKey());
    QVERIFY(bd.mtOptions.SetRecNo(5));
    QCOMPARE(bd.mtOptions.Int("num"), std::int64_t{5});
    QCOMPARE(bd.mtOptions.Edit(), WtResult::Ok);
    bd.mtOptions.SetInteger("Value", bd.mtOptions.Int("Value") == 0 ? 1 : 0);
    QCOMPARE(bd.mtOptions.Post(), WtResult::Ok);
    QVERIFY(tab->RowDiffers(4));  // the stored profile differs from the register
    bd.mtProfile.First();
    QCOMPARE(bd.mtOptions.Text("LN"), std::string(kRegisterProfileKey));
    QVERIFY(tab->RowDiffers(4));
    QVERIFY(!tab->RowDiffers(3));
    // A write of the options (kept as a backup first) rebuilds the list.
    w.Action("aSaveOptions")->trigger();
    QVERIFY(cfgtest::BoxTexts(bed.TakeBoxes()).empty());
    QCOMPARE(bd.mtOptions.Text("LN"), std::string(kRegisterProfileKey));
    QVERIFY(tab->RowDiffers(4));
    // The backup holds the register's options: nothing of it differs.
    QVERIFY(SelectEntry(w, std::string(kBackupNamePrefix)));
    QVERIFY(bd.mtOptions.RecordCount() > 0);
    for (int r = 0; r < bd.mtOptions.RecordCount(); ++r) QVERIFY(!tab->RowDiffers(r));
    // Viewed once, it does not become what the register is compared with.
    bd.mtProfile.First();
    QVERIFY(tab->RowDiffers(4));
    QVERIFY(!tab->RowDiffers(3));
  }

  // A backup of the departments holds no options; what was edited in it is
  // kept when it is selected again.
  void editsOfABackupAreKept() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    TWorkTable& deps = w.Bd().mtDepatment;
    w.Action("aDepLoad")->trigger();
    w.Action("aDepSave")->trigger();
    QVERIFY(cfgtest::BoxTexts(bed.TakeBoxes()).empty());
    QVERIFY(SelectEntry(w, std::string(kBackupNamePrefix)));
    QCOMPARE(w.Bd().mtOptions.RecordCount(), 0);
    QCOMPARE(cfgtest::Column(deps, "Name")[1], std::string("Доставка"));
    SetRowText(deps, 2, "Name", "Правка");
    const int loads = w.Profiles().LoadCount();
    w.Bd().mtProfile.First();
    QCOMPARE(cfgtest::Column(deps, "Name")[1], std::string("Доставка"));
    QVERIFY(SelectEntry(w, std::string(kBackupNamePrefix)));
    QCOMPARE(cfgtest::Column(deps, "Name")[1], std::string("Правка"));
    QCOMPARE(w.Profiles().LoadCount(), loads);
  }

  // A new scanner speed reopens the port; the box stays ticked and is saved so.
  void aScannerSpeedChangeKeepsTheScannerOn() {
    TScannerLine line;
    uitest::TTestBed bed;
    bed.WriteIni("[PortScan]\r\nCOMPort=" + QByteArray::number(kScannerPort) + "\r\nSpeed=9600\r\nENABLED=1\r\n");
    ui::TfmMain& w = bed.OpenWindow();
    ui::TScannerPanel& panel = w.ConfigSysPage().Scanner();
    QVERIFY(panel.cbScaner->isChecked());
    QVERIFY(w.ScannerPort().IsOpen());
    for (const char* speed : {"19200", "115200"}) {
      panel.cbSpeedPortScan->setCurrentText(speed);
      QCOMPARE(w.ScannerPort().BaudRate(), QByteArray(speed).toUInt());
      QVERIFY(panel.cbScaner->isChecked());
      QVERIFY(w.ScannerPort().IsOpen());
      QVERIFY(panel.TimerBarCode().isActive());
    }
    QVERIFY(w.close());
    const QByteArray ini = IniText(bed);
    QVERIFY2(ini.contains("Speed=115200\r\n") && ini.contains("ENABLED=1\r\n"), ini.constData());
  }

  // Goods codes are unique and in order: a duplicate of a file is reported
  // with its line and the first row kept; one typed in the grid is refused
  // naming the code; a new row takes its place by code.
  void goodsCodesAreUniqueAndInOrder() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    ui::TGoodsPage& page = w.GoodsPage();
    TWorkTable& t = w.Bd().mtTOBAP;
    const QString file = bed.Path("dup.csv");
    {
      QFile f(file);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("9;170;nine;1;9;1;1;;False;0\r\n"
              "3;170;three;1;3;1;1;;False;0\r\n"
              "9;170;again;1;1;1;1;;False;0\r\n"
              "5;170;five;1;5;1;1;;False;0\r\n");
    }
    page.runFileDialog = [&](QFileDialog&) { return file; };
    w.Action("tovarFromCSV")->trigger();
    QCOMPARE(Codes(t), (std::vector<std::string>{"3", "5", "9"}));
    QCOMPARE(cfgtest::Column(t, "Name")[2], std::string("nine"));
    QVERIFY2(bed.ConsoleText().contains(U("Строка 3, код 9")), qPrintable(bed.ConsoleText()));
    // The rows keep their file lines for later reports.
    QCOMPARE(page.ImportReport().PlaceOfRow(0), 2);
    QCOMPARE(page.ImportReport().PlaceOfRow(2), 1);
    bed.TakeBoxes();

    // A code another row has, typed into the grid, is refused.
    ui::TWorkTableModel& m = page.DBGridEhTOBAP->Model();
    const int code = m.ColumnOf("Code");
    QVERIFY(!m.setData(m.index(0, code), "9", Qt::EditRole));
    const std::vector<uitest::TBox> boxes = bed.TakeBoxes();
    QCOMPARE(boxes.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(boxes[0].text), U("Товар с кодом 9 уже есть в таблице, код не принят"));
    QCOMPARE(Codes(t), (std::vector<std::string>{"3", "5", "9"}));
    QCOMPARE(t.GetState(), TWorkTable::State::Browse);
    // Its own code again is no duplicate.
    QVERIFY(m.setData(m.index(0, code), "3", Qt::EditRole));
    // A new row takes its place by code.
    w.Action("tovarAddRec")->trigger();
    QCOMPARE(t.GetState(), TWorkTable::State::Insert);
    QVERIFY(m.setData(m.index(3, code), "7", Qt::EditRole));
    QCOMPARE(Codes(t), (std::vector<std::string>{"3", "5", "7", "9"}));
    QCOMPARE(t.Text("Code"), std::string("7"));
    QCOMPARE(page.DBGridEhTOBAP->currentIndex().row(), 2);
    // A changed code moves its row.
    QVERIFY(m.setData(m.index(0, code), "8", Qt::EditRole));
    QCOMPARE(Codes(t), (std::vector<std::string>{"5", "7", "8", "9"}));
    QVERIFY(bed.Boxes().empty());
  }

  // A goods record whose barcode field is all zeros shows the digit the
  // register holds.
  void anAllZeroBarcodeIsShown() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(
        bed, ShopWithGoods("1=Хлеб;35.50;1;1;;piece;0;0\n2=Молоко;60;1;1;4600000000017;piece;0;0\n"));
    w.Action("tovarLoadAll")->trigger();
    TWorkTable& t = w.Bd().mtTOBAP;
    QCOMPARE(Codes(t), (std::vector<std::string>{"1", "2"}));
    QCOMPARE(cfgtest::Column(t, "Shtrih"), (std::vector<std::string>{"0", "4600000000017"}));
    const int barcode = w.GoodsPage().DBGridEhTOBAP->Model().ColumnOf("Shtrih");
    QCOMPARE(w.GoodsPage().DBGridEhTOBAP->Model().index(0, barcode).data().toString(), QString("0"));
  }
};

QTEST_MAIN(WindowFaultsTest)
#include "test_window_faults.moc"
