#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QtTest>

#include <QAction>
#include <QCheckBox>
#include <QTabWidget>
#include <QToolButton>
#include <stdexcept>

#include <QComboBox>
#include <QLabel>
#include "ActionList.h"
#include "Application.h"
#include "ConsoleWidget.h"
#include "MainWindow.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"
#include "shell/U_language.h"

#include <QHBoxLayout>
#include <QThread>
#include "DBLabel.h"
#include "SidePanel.h"
#include "SpeedButtonEx.h"
#include "UiTestSupport.h"
#include "WaitForm.h"
#include "WebLabel.h"
#include "pages/ConfigSysPage.h"
#include "pages/ScannerPanel.h"
#include "store/UnitBD.h"

using namespace zarvik;

namespace {

QString U(const char* text) {
  return QString::fromUtf8(text);
}

// An object whose events throw, as a handler with a fault would.
class TThrower : public QObject {
 public:
  bool withText = true;

 protected:
  bool event(QEvent* e) override {
    if (e->type() != QEvent::User) return QObject::event(e);
    if (withText) throw std::runtime_error("сбой обработчика");
    throw 42;
  }
};

// The rows a working table shows.
int Rows(TWorkTable& t) {
  return t.RecordCount();
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void init() {
    ResetSwitches();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    SetProgramPath(dir_->filePath("ZarvikConfig").toStdString());
    NameLogFile.clear();
    QDir::setCurrent(dir_->path());
  }
  void cleanup() {
    SetConsole(nullptr);
    ResetSwitches();
  }

  void titleAndConsole() {
    char arg0[] = "ZarvikConfig";
    char* argv[] = {arg0};
    ui::TfmMain w(1, argv);
    QCOMPARE(w.windowTitle(), QString::fromUtf8("Конфигуратор v2.092 "));
    LangResStrHandler.SetText(ltCaption, "Configurator");
    w.ApplyLanguage();
    QCOMPARE(w.windowTitle(), QString("Configurator v2.092 "));
    LangResStrHandler.SetDefaults();
    QVERIFY(!w.ConfigStop());
    auto* console = w.findChild<ui::ConsoleWidget*>("Console");
    QVERIFY(console != nullptr);
    QCOMPARE(Console(), static_cast<IConsole*>(console));
    // The start line is the first line of the console.
    QCOMPARE(console->LineCount(), 1);
    QVERIFY(console->toPlainText().endsWith(QString::fromUtf8("Старт")));
    Error("проверка", false, true, false);
    QCOMPARE(console->LineCount(), 2);
    QVERIFY(console->toPlainText().endsWith(QString::fromUtf8("Error:проверка")));
    for (int i = 0; i < 150; ++i) Mess("line " + std::to_string(i), false, true, false);
    QCOMPARE(console->LineCount(), 100);
    QVERIFY(console->toPlainText().endsWith("line 149"));
    QVERIFY(console->toPlainText().contains("line 50\n"));
    QVERIFY(!console->toPlainText().contains("line 49\n"));
  }

  void consoleColoursAndStyles() {
    ui::ConsoleWidget console;
    console.Reset(C_Face);
    console.AppendLine(ParseConsoleMarkup("ab<B>cd<b><c:000000FF>ef"));
    QTextCursor c(console.document());
    c.setPosition(3);  // after "c"
    QCOMPARE(c.charFormat().fontWeight(), int(QFont::Bold));
    c.setPosition(6);  // after "f"
    QCOMPARE(c.charFormat().foreground().color(), QColor(255, 0, 0));
    c.setPosition(1);  // outside every colour: the console's own red
    QCOMPARE(c.charFormat().foreground().color(), QColor(255, 0, 0));
    QVERIFY(c.charFormat().fontWeight() != int(QFont::Bold));
  }

  void configStopAndHardwareDepth() {
    ParseSwitches({"mdhardware"});
    char arg0[] = "ZarvikConfig";
    char arg1[] = "CONFIG_STOP";
    char* argv[] = {arg0, arg1};
    ui::TfmMain w(2, argv);
    QVERIFY(w.ConfigStop());
    QVERIFY(Console() == nullptr);  // under mdHardWare the console stays off
  }

  void settingsSavedOnClose() {
    {
      char arg0[] = "ZarvikConfig";
      char* argv[] = {arg0};
      ui::TfmMain w(1, argv);
      w.RegisterPort().SetPortNumber(4);
      w.close();
    }
    QFile f(dir_->filePath("ZarvikConfig.ini"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QVERIFY(text.contains("[Port]\r\nCOMPort=4\r\n"));
    QVERIFY(text.contains("[PortScan]\r\nCOMPort=1\r\n"));
  }

  void connectAndDisconnect() {
    uitest::TTestBed bed;
    bed.StartSimulator();
    bed.UseSimulatorPort();
    ui::TfmMain& w = bed.OpenWindow();
    ui::TSidePanel& side = w.Side();
    QCOMPARE(side.bConnect->text(), QString::fromUtf8("Подключение"));
    QVERIFY(bed.Connect());
    QCOMPARE(side.lModel->text(), QString::fromStdString(bed.Sim().State().model));
    QCOMPARE(side.lSN->text(), QString::fromStdString(bed.Sim().State().serialNumber));
    QCOMPARE(ui::TSidePanel::LabelColor(side.lModel), ui::kIdentityConnected);
    QCOMPARE(ui::TSidePanel::LabelColor(side.lVer), ui::kIdentityConnected);
    QCOMPARE(side.bConnect->text(), QString::fromUtf8("Отключение"));
    QVERIFY(!side.cbComPort->isEnabled());
    QVERIFY(bed.ConsoleText().contains(QString::fromUtf8("Подключились!")));
    QVERIFY(bed.Boxes().empty());
    QVERIFY(!bed.Connect());
    QCOMPARE(ui::TSidePanel::LabelColor(side.lModel), ui::kIdentityDisconnected);
    QCOMPARE(side.lModel->text(), QString::fromStdString(bed.Sim().State().model));
    QVERIFY(bed.ConsoleText().endsWith(QString::fromUtf8("Отключились!")));
  }

  void startUpWithoutIniTakesDefaultsAndWritesTheFileAtClose() {
    uitest::TTestBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    ui::TSidePanel& side = w.Side();
    QCOMPARE(side.cbSpeedPort->currentText(), QString("19200"));
    QCOMPARE(side.cbNetNum->currentIndex(), 0);
    QCOMPARE(int(w.Kkm().networkNumber), 1);
    QVERIFY(!w.ConfigSysPage().Scanner().cbScaner->isChecked());
    QCOMPARE(w.CurrentPage(), int(ui::pgConfig));
    QVERIFY(!w.Flags().optionsLoaded && !w.Flags().departmentsLoaded && !w.Flags().receiptTextLoaded &&
            !w.Flags().taxesLoaded && !w.Flags().storedProfilesFound);
    QVERIFY(QDir(bed.Path("bd")).exists());
    QVERIFY(bed.Boxes().empty());
    QVERIFY(w.close());
    QVERIFY(bed.ConsoleText().endsWith(U("Стоп")));
    QFile f(bed.Path("ZarvikConfig.ini"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QVERIFY2(text.contains("[Port]\r\nCOMPort=1\r\nSpeed=19200\r\nReadTotalTimeoutConstant="),
             text.constData());
    QVERIFY(text.contains("WriteTotalTimeoutMultiplier="));
    QVERIFY(text.contains("[NET]\r\nNUMBER=1\r\n"));
    QVERIFY(text.contains("ENABLED=0\r\n"));
    const QStringList log = bed.LogLines();
    QVERIFY(log.size() >= 2);
    QVERIFY(log.first().endsWith(U("Старт")));
    QVERIFY(log.last().endsWith(U("Стоп")));
  }

  void startUpReadsTheIniFile_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("network");
    QTest::newRow("5") << 5 << 4 << 5;
    QTest::newRow("98") << 98 << 97 << 98;
    QTest::newRow("0") << 0 << -1 << 0;
    QTest::newRow("99") << 99 << -1 << 99;
    QTest::newRow("300") << 300 << -1 << 44;  // one byte
  }
  void startUpReadsTheIniFile() {
    QFETCH(int, number);
    QFETCH(int, index);
    QFETCH(int, network);
    uitest::TTestBed bed;
    // A pseudo-terminal stands for the scanner's COM2, so the ticked box
    // opens it and stays ticked.
    const int pty = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(pty >= 0 && ::grantpt(pty) == 0 && ::unlockpt(pty) == 0);
    SetPortDevice(2, ::ptsname(pty));
    const auto unmap = qScopeGuard([pty] {
      SetPortDevice(2, "");
      ::close(pty);
    });
    bed.WriteIni(
        "[Port]\r\nCOMPort=7\r\nSpeed=115200\r\n[PortScan]\r\nCOMPort=2\r\nSpeed=9600\r\nENABLED=1\r\n"
        "[NET]\r\nNUMBER=" +
        QByteArray::number(number) + "\r\n");
    ui::TfmMain& w = bed.OpenWindow();
    QCOMPARE(w.Side().cbSpeedPort->currentText(), QString("115200"));
    QCOMPARE(w.RegisterPort().PortNumber(), 7);
    QCOMPARE(w.Side().cbNetNum->currentIndex(), index);
    QCOMPARE(int(w.Kkm().networkNumber), network);
    ui::TScannerPanel& scanner = w.ConfigSysPage().Scanner();
    QVERIFY(scanner.cbScaner->isChecked());
    QCOMPARE(scanner.cbSpeedPortScan->currentText(), QString("9600"));
    QCOMPARE(w.ScannerPort().PortNumber(), 2);
    QVERIFY(w.ScannerPort().IsOpen());
    // A speed not in the list leaves no selection.
    bed.CloseWindow();
    bed.WriteIni("[Port]\r\nSpeed=300\r\n");
    ui::TfmMain& w2 = bed.OpenWindow();
    QCOMPARE(w2.Side().cbSpeedPort->currentIndex(), w2.Side().cbSpeedPort->findText("19200"));
    QVERIFY(bed.ConsoleText().contains(U("invalid speed")));
  }

  // The five of the configuration pages, and the shop's settings write.
  void configStopSwitchesOffExactlyTheSettingsWriteActions() {
    const QStringList writes = {"aSaveOptions", "aDepSave", "aCheckSave", "OperatorSave", "aSaveAll",
                                "shopApplyConfig"};
    for (const bool stop : {false, true}) {
      uitest::TTestBed bed(stop ? std::vector<std::string>{"CONFIG_STOP"} : std::vector<std::string>{});
      ui::TfmMain& w = bed.OpenWindow();
      QCOMPARE(w.ConfigStop(), stop);
      for (const ui::TActionDef& d : ui::ActionDefinitions()) {
        w.SetActionEnabled(d.name, true);
        const bool expected = !(stop && writes.contains(QString::fromLatin1(d.name)));
        QVERIFY2(w.Action(d.name)->isEnabled() == expected, d.name);
      }
    }
    // Exact case only.
    uitest::TTestBed lower({"config_stop"});
    QVERIFY(!lower.OpenWindow().ConfigStop());
  }

  void hardwareDepthShowsTheThreeFixedConsoleLines() {
    {
      uitest::TTestBed bed({"mdhardware"});
      ui::TfmMain& w = bed.OpenWindow();
      QCOMPARE(MessDepth, mdHardWare);
      QCOMPARE(w.Console().toPlainText(), U("Программа находится в режиме mdHardWare\n"
                                            "Консоль отключена и все сообщения выводятся\n"
                                            "ТОЛЬКО в LOG ФАЙЛ"));
      Mess("только в лог", false, true, true);
      Error("и в окно", true, true, true);
      QCOMPARE(w.Console().LineCount(), 3);
      QVERIFY(bed.LogLines().join("\n").contains(U("только в лог")));
      QCOMPARE(bed.TakeBoxes().size(), std::size_t{1});
    }
    {
      uitest::TTestBed bed({"mdhardware", "debug"});
      ui::TfmMain& w = bed.OpenWindow();
      QCOMPARE(Console(), static_cast<IConsole*>(&w.Console()));
      QVERIFY(w.Console().toPlainText().endsWith(U("Старт")));
    }
  }

  void connectAdaptsTheTablesToTheRegister() {
    uitest::TTestBed bed;
    bed.StartSimulator();  // 16 departments, 4 operators
    bed.UseSimulatorPort();
    ui::TfmMain& w = bed.OpenWindow();
    TBD& bd = w.Bd();
    QCOMPARE(Rows(bd.mtDepatment), 99);
    QCOMPARE(Rows(bd.tmOperators), 8);
    QVERIFY(bed.Connect());
    QCOMPARE(Rows(bd.mtDepatment), 16);
    QCOMPARE(Rows(bd.tmOperators), 4);
    QCOMPARE(Rows(bd.mtOptions), 32);
    QVERIFY(w.Flags().optionsLoaded);
    QVERIFY(w.Action("OperatorLoad")->isEnabled());
    QVERIFY(w.Action("OperatorSave")->isEnabled());
    const QString console = bed.ConsoleText();
    QVERIFY(console.contains(U("Подключились!")));
    QVERIFY(console.contains(U("Макс.№ товара:2000")));
    QVERIFY(console.contains(U("программируется:4 оператора")));
    QCOMPARE(w.Side().lMode->text(), QString("OFF-LINE"));
    QCOMPARE(w.Side().lDate->text(), QString("15.12.10"));
    QCOMPARE(w.Side().lTime->text(), QString("14:05:00"));
    QCOMPARE(ui::TSidePanel::LabelColor(w.Side().lTime), ui::kIdentityConnected);
    // The profile list was rebuilt: its files exist, it shows row 1.
    QVERIFY(QFile::exists(bed.Path("bd/Profile.dbf")));
    QCOMPARE(bd.mtProfile.RecNo(), 1);
    // Disconnecting keeps the rows on screen.
    QVERIFY(!bed.Connect());
    QCOMPARE(Rows(bd.mtDepatment), 16);
    QCOMPARE(Rows(bd.mtOptions), 32);
    QVERIFY(w.Side().cbComPort->isEnabled());
    QCOMPARE(w.Side().bConnect->text(), U("Подключение"));
    // Eight operators and 99 rows the next time: the tables grow back.
    bed.Sim().ModifyState([](sim::RegisterState& s) { s.operatorCount = 8; });
    QVERIFY(bed.Connect());
    QCOMPARE(Rows(bd.tmOperators), 8);
    QVERIFY(bed.ConsoleText().contains(U("программируется:8 операторов")));
  }

  void aRegisterWithoutDescriptorShowsTheVersionRed() {
    uitest::TTestBed bed;
    sim::Scenario sc = uitest::LoadScenario();
    sc.state.version = "X 999";
    bed.StartSimulator(sc);
    bed.UseSimulatorPort();
    ui::TfmMain& w = bed.OpenWindow();
    QVERIFY(bed.Connect());
    QCOMPARE(ui::TSidePanel::LabelColor(w.Side().lVer), ui::kIdentityNoDescriptor);
    QCOMPARE(ui::TSidePanel::LabelColor(w.Side().lSN), ui::kIdentityConnected);
    QVERIFY(QString::fromStdString(w.Info()->OptionDescription(1)).startsWith(U("нет описания,def: ")));
    QVERIFY(bed.Boxes().empty());
  }

  void aFailedOperatorProbeMeansNoOperators() {
    uitest::TTestBed bed;
    bed.StartSimulator();
    bed.UseSimulatorPort();
    ui::TfmMain& w = bed.OpenWindow();
    bed.Sim().AddFault("result=21:1");
    QVERIFY(bed.Connect());
    QCOMPARE(Rows(w.Bd().tmOperators), 0);
    QVERIFY(!w.Action("OperatorLoad")->isEnabled());
    QVERIFY(!w.Action("OperatorSave")->isEnabled());
    QVERIFY(!bed.ConsoleText().contains(U("программируется")));
  }

  void identificationFailuresLeaveTheRegisterDisconnected_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("identityShown");
    QTest::addColumn<bool>("dateShown");
    QTest::newRow("no answer") << "silence*inf" << U("ККМ не отвечает") << false << false;
    QTest::newRow("GetInfo refused") << "result=1:1" << U("не удалось получить информацию о ККМ") << false
                                     << false;
    QTest::newRow("GetDateTime refused")
        << "result=2:1" << U("не удалось получить информацию о Дате и времени") << true << false;
    // The option answer carries no result code: the register falls silent.
    QTest::newRow("GetOptions unanswered")
        << "silence after the date" << U("не удалось получить опции") << true << true;
  }
  void identificationFailuresLeaveTheRegisterDisconnected() {
    QFETCH(QString, fault);
    QFETCH(QString, message);
    QFETCH(bool, identityShown);
    QFETCH(bool, dateShown);
    uitest::TTestBed bed;
    bed.StartSimulator();
    bed.UseSimulatorPort();
    ui::TfmMain& w = bed.OpenWindow();
    ui::TSidePanel& side = w.Side();
    bool silenceArmed = false;
    const auto arm = [&] {
      if (fault != "silence after the date") {
        QVERIFY(bed.Sim().AddFault(fault.toStdString()));
        return;
      }
      // Once the date has been read, the register answers nothing more.
      silenceArmed = false;
      w.Info()->dateText.clear();
      const auto sleep = w.Protocol().sleep;
      w.Protocol().sleep = [&, sleep](std::chrono::milliseconds d) {
        if (!silenceArmed && w.Info() != nullptr && !w.Info()->dateText.empty()) {
          silenceArmed = bed.Sim().AddFault("silence*inf");
        }
        if (sleep)
          sleep(d);
        else
          QThread::msleep(static_cast<unsigned long>(d.count()));
      };
    };
    w.Kkm().Info();
    arm();
    QVERIFY(!bed.Connect());
    QVERIFY(!w.RegisterPort().IsOpen());
    const std::vector<uitest::TBox> boxes = bed.TakeBoxes();
    QVERIFY(!boxes.empty());
    QCOMPARE(QString::fromStdString(boxes.back().text), message);
    QCOMPARE(boxes.back().kind, BoxKind::Error);
    QVERIFY(bed.LogLines().last().endsWith("Error:" + message));
    QCOMPARE(side.lModel->text().isEmpty(), !identityShown);
    QCOMPARE(side.lDate->text().isEmpty(), !dateShown);
    // The labels keep their colour (green at the first attempt), the button
    // still offers to connect, the boxes stay enabled.
    QCOMPARE(ui::TSidePanel::LabelColor(side.lModel), ui::kIdentityConnected);
    QCOMPARE(side.bConnect->text(), U("Подключение"));
    QVERIFY(side.cbComPort->isEnabled());
    // After a disconnect the labels are silver, and a failure keeps them so.
    silenceArmed = true;
    bed.Sim().ClearFaults();
    bed.Sim().DropPendingAnswer();
    QVERIFY(bed.Connect());
    QVERIFY(!bed.Connect());
    arm();
    QVERIFY(!bed.Connect());
    QCOMPARE(ui::TSidePanel::LabelColor(side.lModel), ui::kIdentityDisconnected);
  }

  void aPortThatDoesNotOpenIsReported() {
    uitest::TTestBed bed;
    bed.WriteIni("[Port]\r\nCOMPort=250\r\n");  // no device behind it
    ui::TfmMain& w = bed.OpenWindow();
    QVERIFY(!w.ToggleConnection());
    QCOMPARE(bed.TakeBoxes().back().text, std::string("не удалось откыть порт"));
    QVERIFY(!w.EnsureConnected());
    const std::vector<uitest::TBox> boxes = bed.TakeBoxes();
    QCOMPARE(boxes.back().text, std::string("Не удалось подключиться!"));
  }

  void aBusyPortIsSelectedAtStartAndRenamedAfterConnecting() {
    uitest::TTestBed bed;
    bed.StartSimulator();
    bed.UseSimulatorPort();
    // Another program holds the line while the window opens.
    TComPort other;
    QVERIFY(other.SetPortNumber(uitest::kSimPort));
    QVERIFY(other.Open());
    ui::TfmMain& w = bed.OpenWindow();
    QComboBox* ports = w.Side().cbComPort;
    QCOMPARE(ports->currentText(), QString("COM200  BUSY"));
    other.Close();
    QVERIFY(bed.Connect());
    QCOMPARE(ports->currentText(), QString("COM200"));
    QCOMPARE(ports->findText("COM200  BUSY"), -1);
    QCOMPARE(w.RegisterPort().PortNumber(), uitest::kSimPort);
  }

  void theSideBoxesSetPortSpeedAndNetworkNumber() {
    uitest::TTestBed bed;
    bed.StartSimulator();
    ui::TfmMain& w = bed.OpenWindow();
    ui::TSidePanel& side = w.Side();
    const int item = side.cbComPort->findText("COM200");
    QVERIFY(item >= 0);
    side.cbComPort->setCurrentIndex(item);
    QCOMPARE(w.RegisterPort().PortNumber(), 200);
    side.cbSpeedPort->setCurrentIndex(side.cbSpeedPort->findText("57600"));
    QCOMPARE(w.RegisterPort().BaudRate(), 57600u);
    side.cbNetNum->setCurrentIndex(11);
    QCOMPARE(int(w.Kkm().networkNumber), 12);
  }

  void pagesAreChosenBySelectorsAndNotDuringATransfer() {
    uitest::TTestBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    ui::TSidePanel& side = w.Side();
    auto* pages = w.findChild<QTabWidget*>("MainPageControl");
    QVERIFY(pages != nullptr);
    QVERIFY(!pages->tabBar()->isVisible());
    QTest::mouseClick(side.ClickArea(ui::pgMagazine), Qt::LeftButton);
    QCOMPARE(w.CurrentPage(), int(ui::pgMagazine));
    QCOMPARE(side.Selector(ui::pgMagazine)->width(), side.Selector(ui::pgConfig)->width() + 1);
    QVERIFY(side.ClickArea(ui::pgMagazine)->isChecked());
    // A transfer runs: neither a selector, nor SelectPage, nor the page
    // control itself changes the page.
    w.Transfer().transferProgress = 1;
    QTest::mouseClick(side.ClickArea(ui::pgGoods), Qt::LeftButton);
    QCOMPARE(w.CurrentPage(), int(ui::pgMagazine));
    QVERIFY(!side.ClickArea(ui::pgGoods)->isChecked());
    QVERIFY(side.ClickArea(ui::pgMagazine)->isChecked());
    w.SelectPage(ui::pgConfigSys);
    QCOMPARE(w.CurrentPage(), int(ui::pgMagazine));
    pages->setCurrentIndex(0);
    QCOMPARE(w.CurrentPage(), int(ui::pgMagazine));
    w.Transfer().transferProgress = 0;
    // Numbers other than 2 to 5 select page 1.
    for (const int n : {0, 6, -1, 1}) {
      w.SelectPage(ui::pgGoods);
      w.SelectPage(n);
      QCOMPARE(w.CurrentPage(), int(ui::pgConfig));
    }
    // The scanner entry of the configurator menu shows page 4 ("О программе"
    // there opens the dialog of "Справка": test_help).
    w.SelectPage(ui::pgConfig);
    w.findChild<QAction*>("miScanner")->trigger();
    QCOMPARE(w.CurrentPage(), int(ui::pgConfigSys));
  }

  void theLanguageCaptionsFollowTheConnection() {
    uitest::TTestBed bed;
    bed.StartSimulator();
    bed.UseSimulatorPort();
    ui::TfmMain& w = bed.OpenWindow();
    LangResStrHandler.SetText(ltConnect, "Connect");
    LangResStrHandler.SetText(ltDisconnect, "Disconnect");
    w.ApplyLanguage();
    QCOMPARE(w.Side().bConnect->text(), QString("Connect"));
    QVERIFY(bed.Connect());
    QCOMPARE(w.Action("aConnectDisConnect")->text(), QString("Disconnect"));
    w.ApplyLanguage();
    QCOMPARE(w.Side().bConnect->text(), QString("Disconnect"));
    LangResStrHandler.SetDefaults();
  }

  void anExceptionReachingTheEventLoopIsReportedAndTheProgramGoesOn() {
    uitest::TTestBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    TThrower thrower;
    QEvent event(QEvent::User);
    QVERIFY(!QCoreApplication::sendEvent(&thrower, &event));
    QCOMPARE(QString::fromStdString(LastErrorMessage), U("сбой обработчика"));
    QVERIFY(bed.ConsoleText().endsWith(U("Error:сбой обработчика")));
    QVERIFY(bed.LogLines().last().endsWith(U("Error:сбой обработчика")));
    QVERIFY(bed.Boxes().empty());
    thrower.withText = false;
    QCoreApplication::sendEvent(&thrower, &event);
    QVERIFY(bed.ConsoleText().endsWith("Error:"));
#ifndef __SANITIZE_ADDRESS__
    // A fault in an action started from a button. Qt's widget code gives no
    // guarantee for exceptions passing through it (its mouse event objects
    // are lost on the way), which the leak checker of the sanitizer build
    // reports; the handler itself is covered above.
    auto* action = new QAction("x", &w);
    QObject::connect(action, &QAction::triggered, [] { throw std::logic_error("действие"); });
    ui::TSpeedButtonEx button;
    button.SetAction(action);
    button.resize(80, 24);
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);
    QVERIFY(bed.ConsoleText().endsWith(U("Error:действие")));
#endif
    QVERIFY(w.isVisible());
  }

  void anExceptionWhileCreatingTheWindowEndsTheProgramWithTheStandardBox() {
    QStringList shown;
    const auto box = [&shown](const QString& text) { shown << text; };
    QCOMPARE(
        ui::RunMainWindow([]() -> std::unique_ptr<QWidget> { throw std::runtime_error("нет окна"); }, box),
        1);
    QCOMPARE(ui::RunMainWindow([]() -> std::unique_ptr<QWidget> { throw 7; }, box), 1);
    QCOMPARE(shown, (QStringList{U("нет окна"), QString()}));
  }

  void theWaitWindowHidesItselfAfterItsTimeOut() {
    ui::TWaitForm wait;
    QVERIFY(wait.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(wait.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(qAbs(wait.windowOpacity() - 220.0 / 255.0) < 0.01);
    QElapsedTimer t;
    t.start();
    wait.ShowWait(std::chrono::milliseconds(2000), QString());
    QVERIFY(wait.isVisible());
    QCOMPARE(wait.Text(), U("Пожалуйста, подождите..."));
    QTest::qWait(1000);
    const bool shownStill = wait.isVisible();
    if (t.elapsed() < 1990) {
      QVERIFY(shownStill);  // looked at before its time-out
    }
    QVERIFY(uitest::WaitFor([&] { return !wait.isVisible(); }));
    QVERIFY(t.elapsed() >= 1990);
    // A second ShowWait replaces the text and starts the time-out again: the
    // window stays its whole time-out after the second call.
    wait.ShowWait(std::chrono::milliseconds(1000), U("Первое"));
    QTest::qWait(500);
    t.restart();
    wait.ShowWait(std::chrono::milliseconds(1000), U("Второе"));
    QVERIFY(wait.isVisible());
    QCOMPARE(wait.Text(), U("Второе"));
    QVERIFY(uitest::WaitFor([&] { return !wait.isVisible(); }));
    QVERIFY2(t.elapsed() >= 990, qPrintable(QString::number(t.elapsed())));
    // HideWait stops the timer.
    wait.ShowWait(std::chrono::milliseconds(400), QString());
    wait.HideWait();
    QVERIFY(!wait.isVisible());
    QVERIFY(!wait.Timer().isActive());
  }

  void flatButtonsLeaveNoHoverFrameBehind() {
    QWidget row;
    auto* layout = new QHBoxLayout(&row);
    std::vector<ui::TSpeedButtonEx*> buttons;
    for (int i = 0; i < 4; ++i) {
      auto* b = new ui::TSpeedButtonEx(&row);
      b->setText(QString("B%1").arg(i));
      b->setFixedSize(90, 28);
      layout->addWidget(b);
      buttons.push_back(b);
    }
    buttons[3]->setEnabled(false);
    row.show();
    QVERIFY(QTest::qWaitForWindowExposed(&row));
    // Quickly across all four, then off them.
    for (ui::TSpeedButtonEx* b : buttons) QTest::mouseMove(b, QPoint(45, 14));
    QTest::mouseMove(&row, QPoint(2, 2));
    QVERIFY(uitest::WaitFor(
        [&] {
          return std::none_of(buttons.begin(), buttons.end(),
                              [](ui::TSpeedButtonEx* b) { return b->Hovered(); });
        }));
    for (ui::TSpeedButtonEx* b : buttons) {
      QVERIFY(!b->HoverTimer().isActive());
      QCOMPARE(int(b->CurrentFrame()), int(ui::TSpeedButtonEx::Frame::Rest));
      // The rest frame: shadow edge, corners in the face colour.
      const QImage image = b->grab().toImage();
      const QPalette::ColorGroup group = !b->isEnabled()
                                             ? QPalette::Disabled
                                             : (b->isActiveWindow() ? QPalette::Active : QPalette::Inactive);
      QCOMPARE(image.pixelColor(20, 0).rgb(), b->palette().color(group, QPalette::Dark).rgb());
      QVERIFY(image.pixelColor(0, 0).rgb() != QColor(Qt::black).rgb());
    }
    // Over an enabled button: the hover frame with black corner marks.
    QTest::mouseMove(buttons[1], QPoint(45, 14));
    QVERIFY(uitest::WaitFor([&] { return buttons[1]->Hovered(); }));
    QCOMPARE(int(buttons[1]->CurrentFrame()), int(ui::TSpeedButtonEx::Frame::Hover));
    QCOMPARE(buttons[1]->grab().toImage().pixelColor(4, 0).rgb(), QColor(Qt::black).rgb());
    // A disabled button shows none.
    QTest::mouseMove(buttons[3], QPoint(45, 14));
    QTest::qWait(80);
    QVERIFY(!buttons[3]->Hovered());
    QVERIFY(!buttons[1]->Hovered());
    QCOMPARE(int(buttons[3]->CurrentFrame()), int(ui::TSpeedButtonEx::Frame::Rest));
    QVERIFY(buttons[3]->grab().toImage().pixelColor(4, 0).rgb() != QColor(Qt::black).rgb());
    // A press shows the highlight frame for at least 100 ms.
    QTest::mouseClick(buttons[0], Qt::LeftButton);
    QCOMPARE(int(buttons[0]->CurrentFrame()), int(ui::TSpeedButtonEx::Frame::Pressed));
    QVERIFY(uitest::WaitFor([&] { return buttons[0]->CurrentFrame() != ui::TSpeedButtonEx::Frame::Pressed; }));
  }

  void aDataLabelOffersItsFontBeforeEachDrawing() {
    TWorkTable table("t");
    table.AddField("Name", TFieldType::String, 30);
    table.Open();
    for (const char* name : {"обычный", "-шаблон"}) {
      table.Append();
      table.SetText("Name", name);
      table.Post();
    }
    table.First();
    ui::TDBLabel label;
    QStringList drawn;
    label.OnBeforeDraw = [&drawn](ui::TDBLabel& sender, const QString& text) {
      drawn << text;
      QFont f = sender.font();
      f.setBold(text.startsWith('-'));
      sender.setFont(f);
    };
    label.SetDataSource(&table, "Name");
    label.resize(200, 30);
    label.grab();
    QCOMPARE(drawn.last(), U("обычный"));
    QVERIFY(!label.font().bold());
    table.Next();  // the label follows the current row
    label.grab();
    QCOMPARE(drawn.last(), U("-шаблон"));
    QVERIFY(label.font().bold());
  }

  void theMailLinkUnderlinesWhileHovered() {
    uitest::TTestBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    ui::TWebLabel& link = w.ConfigSysPage().MailLink();
    QCOMPARE(link.Url().toString(), U("mailto:support@zarvikconfig.example?subject=Вопрос по конфигуратору"));
    emit link.OnEnterMouse();
    QVERIFY(link.font().underline());
    emit link.OnLeaveMouse();
    QVERIFY(!link.font().underline());
  }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
};

// The program's own application object, with its handler for exceptions
// that reach the event loop.
ZARVIK_UI_TEST_MAIN(MainWindowTest, ui::TApplication)
#include "test_mainwindow.moc"
