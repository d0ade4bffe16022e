// "Найти ККМ" and the port lists: the search over the listed ports and the
// speeds of the side panel, its progress and its stop, and the port entries
// with their device and state.
#include <QtTest>

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QProgressBar>
#include <QTimer>

#include "MainWindow.h"
#include "PortListBox.h"
#include "SidePanel.h"
#include "SpeedButtonEx.h"
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "pages/ConfigSysPage.h"
#include "pages/ScannerPanel.h"
#include "port/Comport.h"
#include "port/PortDevices.h"

using namespace zarvik;

namespace {

QString U(const char* text) {
  return QString::fromUtf8(text);
}

constexpr int kSilentPort = 150;  // listed before the simulator's port 200
constexpr int kBusyPort = 151;
constexpr int kNullPort = 152;
constexpr std::uint32_t kSimSpeed = 19200;

// The register port at `speed`, with short read time-outs so that a silent
// poll is quick.
QByteArray SearchIni(int port, std::uint32_t speed) {
  return "[Port]\r\nCOMPort=" + QByteArray::number(port) + "\r\nSpeed=" + QByteArray::number(speed) +
         "\r\nReadTotalTimeoutConstant=100\r\n";
}

// What the window looked like at one moment of a search.
struct TSeen {
  bool taken = false;
  QString caption;
  bool findEnabled = false;
  bool connectEnabled = true;
  bool portBoxEnabled = true;
  bool progressShown = false;
  QString progressText;
};

TSeen Look(ui::TfmMain& w) {
  TSeen s;
  s.taken = true;
  s.caption = w.Action("aFindKKM")->text();
  s.findEnabled = w.Side().bFindKKM->isEnabled();
  s.connectEnabled = w.Action("aConnectDisConnect")->isEnabled();
  s.portBoxEnabled = w.Side().cbComPort->isEnabled();
  s.progressShown = w.ProgressBar()->isVisible();
  s.progressText = w.ProgressBar()->text();
  return s;
}

}  // namespace

class FindTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() {
    for (const int p : {kSilentPort, kBusyPort, kNullPort}) SetPortDevice(p, "");
  }

  void findsTheRegisterAndSelectsItsPortAndSpeed() {
    test::PtyPair silent;
    QVERIFY(silent.Ok());
    SetPortDevice(kSilentPort, silent.SlavePath());
    uitest::TTestBed bed;
    sim::Simulator& simulator = bed.StartSimulator();
    simulator.SetPacing(static_cast<int>(kSimSpeed), false);
    simulator.SetSpeedMatch(true);
    bed.WriteIni(SearchIni(kSilentPort, 9600));
    ui::TfmMain& w = bed.OpenWindow();
    ui::TSidePanel& side = w.Side();
    QCOMPARE(side.cbComPort->currentText(), QString("COM150"));
    QCOMPARE(w.Action("aFindKKM")->text(), U("Найти ККМ"));
    QCOMPARE(side.bFindKKM->text(), U("Найти ККМ"));
    QVERIFY(side.bFindKKM->isEnabled());

    // A look at the window once the search shows where it is.
    TSeen during;
    QTimer look;
    look.setInterval(5);
    QObject::connect(&look, &QTimer::timeout, &w, [&] {
      if (!w.Searching() || !w.ProgressBar()->text().startsWith(U("Поиск ККМ: COM"))) return;
      look.stop();
      during = Look(w);
    });
    look.start();
    QTest::mouseClick(side.bFindKKM, Qt::LeftButton);
    look.stop();
    QVERIFY(!w.Searching());

    // While it ran: the same button stops it, the connection controls
    // wait, and the progress bar says where the search is.
    QVERIFY(during.taken);
    QCOMPARE(during.caption, U("Остановить поиск"));
    QVERIFY(during.findEnabled);
    QVERIFY(!during.connectEnabled);
    QVERIFY(!during.portBoxEnabled);
    QVERIFY(during.progressShown);
    QVERIFY2(during.progressText.startsWith(U("Поиск ККМ: COM")), qPrintable(during.progressText));

    // The register's port and speed are selected, and the port uses them.
    QCOMPARE(side.cbComPort->currentText(), QString("COM200"));
    QCOMPARE(side.cbSpeedPort->currentText(), QString("19200"));
    QCOMPARE(w.RegisterPort().PortNumber(), uitest::kSimPort);
    QCOMPARE(w.RegisterPort().BaudRate(), kSimSpeed);
    QVERIFY(!w.RegisterPort().IsOpen());
    QCOMPARE(w.Action("aFindKKM")->text(), U("Найти ККМ"));
    QVERIFY(!w.ProgressBar()->isVisible());
    QVERIFY(side.cbComPort->isEnabled());
    QVERIFY(bed.TakeBoxes().empty());

    // The console says what was tried, in order, and what answered.
    const QString console = bed.ConsoleText();
    const QString silentDevice = QString::fromStdString(silent.SlavePath());
    const QString simDevice = QString::fromStdString(simulator.DevicePath());
    const QStringList expected = {
        U("Поиск ККМ: портов "),
        U("COM150 (") + silentDevice + U(") 9600: нет ответа"),
        U("COM150 (") + silentDevice + U(") 115200: нет ответа"),
        U("COM200 (") + simDevice + U(") 9600: нет ответа"),
        U("COM200 (") + simDevice + U(") 19200: ответила ККМ Зарвик-02Ф № 002100457731, версия B 003"),
        U("ККМ найдена: COM200, 19200"),
    };
    qsizetype at = 0;
    for (const QString& line : expected) {
      const qsizetype found = console.indexOf(line, at);
      QVERIFY2(found >= 0, qPrintable(line + U("\n---\n") + console));
      at = found + line.size();
    }
    QVERIFY(bed.LogLines().join("\n").contains(U("ККМ найдена: COM200, 19200")));

    // Found means ready to connect; connected, the search is not offered.
    QVERIFY(bed.Connect());
    QVERIFY(!w.Action("aFindKKM")->isEnabled());
    QVERIFY(!side.bFindKKM->isEnabled());
    w.Action("aFindKKM")->trigger();  // refused: nothing happens
    QVERIFY(w.RegisterPort().IsOpen());
    QVERIFY(!bed.Connect());
    QVERIFY(w.Action("aFindKKM")->isEnabled());
  }

  void aSecondPressStopsTheSearchAndNothingFoundIsSaid() {
    test::PtyPair silent;
    QVERIFY(silent.Ok());
    SetPortDevice(kSilentPort, silent.SlavePath());
    uitest::TTestBed bed;
    bed.WriteIni(SearchIni(kSilentPort, 19200));
    ui::TfmMain& w = bed.OpenWindow();
    ui::TSidePanel& side = w.Side();

    // The scanner's open line is not searched.
    test::PtyPair scannerLine;
    QVERIFY(scannerLine.Ok());
    SetPortDevice(kNullPort, scannerLine.SlavePath());
    QVERIFY(w.ScannerPort().SetPortNumber(kNullPort));
    QVERIFY(w.ScannerPort().Open());

    // Nothing answers anywhere: a warning box, the selection unchanged.
    w.Action("aFindKKM")->trigger();
    QVERIFY(bed.ConsoleText().contains(U("COM152: пропущен, порт сканера")));
    QVERIFY(!bed.ConsoleText().contains(U("COM152 (")));
    QVERIFY(bed.ConsoleText().contains(U("COM150 (")));
    w.ScannerPort().Close();
    std::vector<uitest::TBox> boxes = bed.TakeBoxes();
    QCOMPARE(boxes.size(), std::size_t{1});
    QCOMPARE(boxes[0].kind, BoxKind::Warning);
    QVERIFY2(QString::fromStdString(boxes[0].text).startsWith(U("ККМ не найдена (")), boxes[0].text.c_str());
    QCOMPARE(side.cbComPort->currentText(), QString("COM150"));
    QCOMPARE(w.RegisterPort().BaudRate(), 19200u);

    // Pressed again while it runs (once its first attempt has ended), the
    // button stops it in the attempt it is making: of the attempts the full
    // search made, the stopped one makes at most one more after the press.
    const auto attempts = [&] { return bed.ConsoleText().count(U(": нет ответа")); };
    const qsizetype full = attempts();
    QVERIFY(full >= 3);
    qsizetype atPress = -1;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, &w, [&] {
      if (attempts() <= full) return;
      watch.stop();
      atPress = attempts() - full;
      QTest::mouseClick(side.bFindKKM, Qt::LeftButton);
    });
    watch.start();
    w.Action("aFindKKM")->trigger();
    watch.stop();
    QVERIFY(atPress >= 1);
    QVERIFY2(attempts() - full <= atPress + 1, qPrintable(bed.ConsoleText()));
    QVERIFY(attempts() - full < full);
    QVERIFY(!w.Searching());
    QVERIFY(bed.TakeBoxes().empty());
    QVERIFY(bed.ConsoleText().contains(U("Поиск ККМ остановлен (")));
    QCOMPARE(w.Action("aFindKKM")->text(), U("Найти ККМ"));
    QVERIFY(w.Action("aFindKKM")->isEnabled());
    QVERIFY(w.Action("aConnectDisConnect")->isEnabled());
    QVERIFY(!w.ProgressBar()->isVisible());
    QCOMPARE(side.cbComPort->currentText(), QString("COM150"));
  }

  void notOfferedWhileAnExchangeRuns() {
    uitest::TTestBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    QAction* find = w.Action("aFindKKM");
    QVERIFY(find->isEnabled());
    bool duringTransfer = true;
    w.RunTransfer([&] {
      duringTransfer = find->isEnabled();
      find->trigger();  // refused while the register is busy
      QVERIFY(!w.Searching());
    });
    QVERIFY(!duringTransfer);
    QVERIFY(find->isEnabled());
    QVERIFY(!bed.ConsoleText().contains(U("Поиск ККМ")));
  }

  // Both port lists show beside each entry its device and state, and the
  // entry's text keeps the form the rest of the window reads numbers from.
  void thePortListsShowDeviceAndState() {
    test::PtyPair free;
    test::PtyPair busy;
    QVERIFY(free.Ok() && busy.Ok());
    SetPortDevice(kSilentPort, free.SlavePath());
    SetPortDevice(kBusyPort, busy.SlavePath());
    SetPortDevice(kNullPort, "/dev/null");
    TComPort holder;
    QVERIFY(holder.SetPortNumber(kBusyPort));
    QVERIFY(holder.Open());
    uitest::TTestBed bed;
    bed.WriteIni(SearchIni(kBusyPort, 19200));
    ui::TfmMain& w = bed.OpenWindow();
    struct Row {
      QString item;
      QString device;
      QString state;
    };
    const Row rows[] = {
        {"COM150", QString::fromStdString(free.SlavePath()), U("свободен")},
        {"COM151  BUSY", QString::fromStdString(busy.SlavePath()), U("BUSY: занят другой программой")},
        {"COM152  NOT SERIAL", "/dev/null", U("NOT SERIAL: /dev/null не последовательный порт")},
    };
    for (QComboBox* box : {w.Side().cbComPort, w.ConfigSysPage().Scanner().cbComPortScan}) {
      const QAbstractItemModel* model = box->model();
      QCOMPARE(model->columnCount(), int{ui::pcColumnCount});
      for (const Row& r : rows) {
        const int i = box->findText(r.item);
        QVERIFY2(i >= 0, qPrintable(r.item));
        QCOMPARE(model->index(i, ui::pcDevice).data().toString(), r.device);
        QCOMPARE(model->index(i, ui::pcState).data().toString(), r.state);
        const QString tip = model->index(i, ui::pcName).data(Qt::ToolTipRole).toString();
        QVERIFY2(tip.startsWith(r.item.left(6) + U(": ") + r.device) && tip.endsWith(r.state),
                 qPrintable(tip));
        QCOMPARE(model->index(i, ui::pcName).data(Qt::AccessibleDescriptionRole).toString(), tip);
        QCOMPARE(ui::PortBoxNumber(box, i), r.item.mid(3, 3).toInt());
      }
      // The open list is wide enough for its columns.
      QVERIFY(box->view()->minimumWidth() > box->width());
    }
    // The register's box starts on the busy port and tells what it is.
    QComboBox* ports = w.Side().cbComPort;
    QCOMPARE(ports->currentText(), QString("COM151  BUSY"));
    QVERIFY(ports->toolTip().endsWith(U("BUSY: занят другой программой")));
    QCOMPARE(ports->accessibleDescription(), ports->toolTip());
    // The scanner's box takes the number from an entry with a mark.
    QComboBox* scanner = w.ConfigSysPage().Scanner().cbComPortScan;
    scanner->setCurrentIndex(scanner->findText("COM152  NOT SERIAL"));
    QCOMPARE(w.ScannerPort().PortNumber(), kNullPort);
    holder.Close();
  }

  // Connecting through a port listed as busy renames its entry and says
  // that this program now holds it.
  void aBusyEntryRenamedAfterConnectingSaysWhoHoldsIt() {
    uitest::TTestBed bed;
    bed.StartSimulator();
    bed.UseSimulatorPort();
    TComPort other;
    QVERIFY(other.SetPortNumber(uitest::kSimPort));
    QVERIFY(other.Open());
    ui::TfmMain& w = bed.OpenWindow();
    QComboBox* ports = w.Side().cbComPort;
    QCOMPARE(ports->currentText(), QString("COM200  BUSY"));
    other.Close();
    QVERIFY(bed.Connect());
    QCOMPARE(ports->currentText(), QString("COM200"));
    const int i = ports->currentIndex();
    QCOMPARE(ports->model()->index(i, ui::pcState).data().toString(), U("открыт этой программой"));
    QVERIFY(ports->toolTip().endsWith(U("открыт этой программой")));
  }
};

ZARVIK_UI_TEST_MAIN(FindTest, QApplication)
#include "test_find.moc"
