// The barcode scanner panel and its polling over a pseudo-terminal: the test
// plays the scanner on the master side; the window reads the slave as a
// numbered port.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QtTest>
#include <string>

#include "UiTestSupport.h"
#include "pages/ConfigSysPage.h"
#include "pages/GoodsPage.h"
#include "pages/ScannerPanel.h"
#include "port/Barcodescaner.h"
#include "store/UnitBD.h"

using namespace zarvik;
using ui::TScannerPanel;

namespace {

constexpr int kScannerPort = 203;
constexpr int kMissingPort = 204;
// How long a scan may take to reach the port before it is taken as read
// already (the page takes it at its next tick, 100 ms after it came).
constexpr int kArrivalWaitMs = 2000;

// The scanner's end of a pseudo-terminal pair, reached as kScannerPort.
class TScannerLine : public uitest::TScannerLine {
 public:
  TScannerLine() : uitest::TScannerLine(kScannerPort) {}
};

QByteArray ScannerIni(bool enabled, int port = kScannerPort) {
  return QByteArray("[PortScan]\r\nCOMPort=") + QByteArray::number(port) +
         "\r\nSpeed=9600\r\nENABLED=" + (enabled ? "1" : "0") + "\r\n";
}

void AddGoods(TWorkTable& t, int code) {
  t.Append();
  t.SetInteger("Code", code);
  t.SetText("Name", "n" + std::to_string(code));
  t.Post();
}

}  // namespace

class ScannerTest : public QObject {
  Q_OBJECT

  struct TRig {
    TScannerLine line;
    uitest::TTestBed bed;
    ui::TfmMain* w = nullptr;
    TScannerPanel* panel = nullptr;
    explicit TRig(bool enabled = true) {
      bed.WriteIni(ScannerIni(enabled));
      w = &bed.OpenWindow();
      panel = &w->ConfigSysPage().Scanner();
    }
    TWorkTable& Table() { return w->Bd().mtTOBAP; }
    TBarCodeScaner& Port() { return w->ScannerPort(); }
    // Sends a scan and waits until the window has read all of it.
    // Sends a scan and waits until the page has taken it. The bytes are
    // first seen arriving (they wait for the next tick of the page's timer),
    // so that an empty queue is not taken for a scan still on its way on a
    // busy machine.
    bool Scan(const std::string& bytes) {
      line.Send(bytes);
      uitest::WaitFor([&] { return Port().InputQueueLength() > 0; }, kArrivalWaitMs);
      return uitest::WaitFor([&] { return Port().InputQueueLength() == 0; });
    }
  };

 private slots:
  void switchedOnFromTheIniFileAtStart() {
    TRig rig;
    QVERIFY(rig.panel->cbScaner->isChecked());
    QVERIFY(rig.Port().IsOpen());
    QCOMPARE(rig.Port().PortNumber(), kScannerPort);
    QVERIFY(rig.panel->TimerBarCode().isActive());
    QCOMPARE(rig.panel->TimerBarCode().interval(), 100);
    // Unticking stops the timer and closes the port.
    rig.panel->cbScaner->setChecked(false);
    QVERIFY(!rig.Port().IsOpen());
    QVERIFY(!rig.panel->TimerBarCode().isActive());
    rig.panel->cbScaner->setChecked(true);
    QVERIFY(rig.Port().IsOpen());
    QVERIFY(rig.panel->TimerBarCode().isActive());
  }

  void scansFillTheBarcodeOfTheCurrentRow() {
    TRig rig;
    TWorkTable& t = rig.Table();
    AddGoods(t, 1);
    AddGoods(t, 2);
    t.First();
    rig.w->SelectPage(ui::pgGoods);
    struct Case {
      const char* sent;
      const char* shtrih;
    };
    const Case cases[] = {
        {"4607001771012\r\n", "4607001771012"},  // the LF is skipped at the next tick
        {"46-07A001x7\r", "46070017"},           // letters and dashes dropped
        {"\x03"
         "123\x03",
         "123"},
        {"\n77\n", "77"},
    };
    for (const Case& c : cases) {
      QVERIFY(rig.Scan(c.sent));
      QVERIFY(uitest::WaitFor([&] { return t.Text("Shtrih") == c.shtrih; }));
      // The row stays in edit state until the next move.
      QCOMPARE(t.GetState(), TWorkTable::State::Edit);
      QCOMPARE(t.RecNo(), 1);
    }
    t.Next();
    QCOMPARE(t.RecNo(), 2);
    t.First();
    QCOMPARE(t.Text("Shtrih"), std::string("77"));
    QVERIFY(rig.bed.Boxes().empty());
  }

  void aScanOnAnotherPageWaitsForTheGoodsPage() {
    TRig rig;
    TWorkTable& t = rig.Table();
    AddGoods(t, 1);
    rig.w->SelectPage(ui::pgConfigSys);
    rig.line.Send("555\r\n");
    QVERIFY(uitest::WaitFor([&] { return rig.Port().InputQueueLength() == 5u; }));
    QTest::qWait(400);  // four ticks
    QVERIFY(t.IsNull("Shtrih"));
    QCOMPARE(rig.Port().InputQueueLength(), 5u);
    rig.w->SelectPage(ui::pgGoods);
    QVERIFY(uitest::WaitFor([&] { return t.Text("Shtrih") == "555"; }));
  }

  void aScanWaitsWhileAnExchangeRuns() {
    TRig rig;
    TWorkTable& t = rig.Table();
    AddGoods(t, 1);
    rig.w->SelectPage(ui::pgGoods);
    rig.w->RunTransfer([&] {
      rig.line.Send("9\r");
      QTest::qWait(300);
      QVERIFY(t.IsNull("Shtrih"));
    });
    QVERIFY(uitest::WaitFor([&] { return t.Text("Shtrih") == "9"; }));
  }

  void anEmptyTableChangesNothing() {
    TRig rig;
    TWorkTable& t = rig.Table();
    rig.w->SelectPage(ui::pgGoods);
    QVERIFY(rig.Scan("4600000000017\r\n"));
    QTest::qWait(150);
    QCOMPARE(t.ViewRowCount(), 0);
    QCOMPARE(t.GetState(), TWorkTable::State::Browse);
    // A new row being inserted takes the code.
    t.Append();
    QVERIFY(rig.Scan("42\r"));
    QVERIFY(uitest::WaitFor([&] { return t.Text("Shtrih") == "42"; }));
    QCOMPARE(t.RecordCount(), 1);
  }

  void portAndSpeedChoice() {
    TRig rig;
    QComboBox* ports = rig.panel->cbComPortScan;
    ports->addItem("COM12  BUSY");
    ports->addItem("COM7");
    ports->setCurrentIndex(ports->count() - 2);
    QCOMPARE(rig.Port().PortNumber(), 12);
    // The open port is not reopened: the number is for the next opening.
    QVERIFY(rig.Port().IsOpen());
    ports->setCurrentIndex(ports->count() - 1);
    QCOMPARE(rig.Port().PortNumber(), 7);
    struct Case {
      const char* entry;
      int number;
    };
    for (const Case c : {Case{"COM1", 1}, Case{"COM256", 256}, Case{"COM12  BUSY", 12}, Case{"COM3 ", 3},
                         Case{"COM", 0}, Case{"COMx", 0}, Case{"COM1234", 123}})
      QCOMPARE(TScannerPanel::PortEntryNumber(c.entry), c.number);

    // A new speed reopens the scanner's own port at that speed; the box
    // stays ticked.
    rig.Port().SetPortNumber(kScannerPort);
    QComboBox* speeds = rig.panel->cbSpeedPortScan;
    speeds->setCurrentText("115200");
    QCOMPARE(rig.Port().BaudRate(), 115200u);
    QVERIFY(rig.Port().IsOpen());
    QVERIFY(rig.panel->cbScaner->isChecked());
    QVERIFY(rig.panel->TimerBarCode().isActive());
  }

  void aPortThatDoesNotOpenUnticksTheBox() {
    SetPortDevice(kMissingPort, "/nonexistent/ttyZARVIKSCAN");
    uitest::TTestBed bed;
    bed.WriteIni(ScannerIni(true, kMissingPort));
    ui::TfmMain& w = bed.OpenWindow();
    TScannerPanel& panel = w.ConfigSysPage().Scanner();
    QVERIFY(!panel.cbScaner->isChecked());
    QVERIFY(!w.ScannerPort().IsOpen());
    QVERIFY(!panel.TimerBarCode().isActive());
    SetPortDevice(kMissingPort, "");
  }

  void stateKeptInTheIniFile() {
    TScannerLine line;
    uitest::TTestBed bed;
    bed.WriteIni(ScannerIni(false));
    bed.OpenWindow();
    TScannerPanel& panel = bed.Window().ConfigSysPage().Scanner();
    QVERIFY(!panel.cbScaner->isChecked());
    QVERIFY(!panel.TimerBarCode().isActive());
    panel.cbScaner->setChecked(true);
    QVERIFY(bed.Window().close());
    QFile f(bed.Path("ZarvikConfig.ini"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QVERIFY(text.contains("[PortScan]\r\nCOMPort=203\r\nSpeed=9600\r\n"));
    QVERIFY(text.contains("ENABLED=1"));
  }
};

QTEST_MAIN(ScannerTest)
#include "test_scanner.moc"
