#include <QtTest>

#include "ConsoleWidget.h"
#include "MainWindow.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"
#include "shell/U_language.h"
#include <QComboBox>
#include <QLabel>

#include "SidePanel.h"
#include "SpeedButtonEx.h"
#include "UiTestSupport.h"

using namespace zarvik;

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

 private:
  std::unique_ptr<QTemporaryDir> dir_;
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
