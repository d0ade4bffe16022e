// The line monitor against the simulator: what it shows of an exchange, its
// filters, saving, its settings, and that console and log do not change
// when it is open.
#include <QtTest>

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QTableView>
#include <QToolButton>

#include "ActionList.h"
#include "LineMonitor.h"
#include "SpeedButtonEx.h"
#include "UiTestSupport.h"
#include "shell/IniFile.h"
#include "store/UnitBD.h"

using namespace zarvik;
using zarvik::ui::TLineCategory;
using zarvik::ui::TLineDirection;
using zarvik::ui::TLineRecord;

namespace {

QString U(const char* text) {
  return QString::fromUtf8(text);
}

// The rows the monitor shows now.
std::vector<TLineRecord> Shown(ui::TLineMonitor& m) {
  m.Flush();
  std::vector<TLineRecord> rows;
  ui::TLineMonitorFilter& f = m.Filter();
  for (int r = 0; r < f.rowCount(); ++r) rows.push_back(m.Model().Record(f.mapToSource(f.index(r, 0)).row()));
  return rows;
}

int CountCategory(const std::vector<TLineRecord>& rows, TLineCategory c) {
  return static_cast<int>(
      std::count_if(rows.begin(), rows.end(), [c](const TLineRecord& r) { return r.category == c; }));
}

// The index of the first row at or after `from` whose text starts with `text`, or -1.
int FindRow(const std::vector<TLineRecord>& rows, const QString& text, std::size_t from = 0) {
  for (std::size_t i = from; i < rows.size(); ++i)
    if (rows[i].text.startsWith(text)) return static_cast<int>(i);
  return -1;
}

// Console lines without their "hh:nn:ss " stamp, log lines without
// "dd.mm.yy hh:nn:ss ".
QStringList Unstamped(const QStringList& lines) {
  static const QRegularExpression stamp(QStringLiteral("^(\\d\\d\\.\\d\\d\\.\\d\\d )?\\d\\d:\\d\\d:\\d\\d "));
  QStringList out;
  for (QString l : lines) out << l.remove(stamp);
  return out;
}

struct TBed {
  explicit TBed(bool start = true, std::vector<std::string> words = {}) : bed(std::move(words)) {
    bed.StartSimulator();
    bed.UseSimulatorPort();
    if (start) Open();
  }
  void Open() {
    w = &bed.OpenWindow();
    monitor = &w->LineMonitor();
  }
  uitest::TTestBed bed;
  ui::TfmMain* w = nullptr;
  ui::TLineMonitor* monitor = nullptr;
};

}  // namespace

class LineMonitorTest : public QObject {
  Q_OBJECT
 private slots:
  void opensFromTheMenuAndIsRememberedInTheIniFile() {
    TBed b;
    ui::TLineMonitor& m = *b.monitor;
    QCOMPARE(m.objectName(), QString("LineMonitor"));
    QCOMPARE(m.windowTitle(), U("Монитор линии"));
    QVERIFY(m.isHidden());
    QVERIFY(!m.Listening());
    QAction* action = b.w->Action("aLineMonitor");
    QVERIFY(action != nullptr && action->isEnabled() && action->isCheckable() && !action->isChecked());
    QCOMPARE(action->text(), U("Монитор линии"));
    auto* menu = b.w->findChild<QMenu*>("miConfigurator");
    QVERIFY(menu != nullptr && menu->actions().contains(action));
    // Every control carries its caption for assistive technologies.
    for (QWidget* c :
         std::initializer_list<QWidget*>{m.cbMonControl, m.cbMonData, m.cbMonBytes, m.cbMonCommands,
                                         m.cbMonErrors, m.bMonClear, m.bMonSave}) {
      const auto* button = qobject_cast<QAbstractButton*>(c);
      QVERIFY2(button != nullptr && !button->text().isEmpty(), qPrintable(c->objectName()));
    }
    QVERIFY(!m.eMonFilter->accessibleName().isEmpty());
    QVERIFY(!m.MonitorGrid->accessibleName().isEmpty());
    QCOMPARE(m.cbMonBytes->text(), U("Байты"));
    QVERIFY(!m.cbMonBytes->isChecked());

    action->trigger();
    QVERIFY(!m.isHidden() && m.isVisible());
    QVERIFY(m.Listening());
    QVERIFY(!TraceWanted(mdHardWare));
    m.cbMonBytes->setChecked(true);
    QVERIFY(TraceWanted(mdHardWare));
    m.cbMonErrors->setChecked(false);
    m.close();  // its own close button
    QVERIFY(!action->isChecked());
    QVERIFY(!m.Listening());
    QVERIFY(!TraceWanted(mdFunctional));
    action->trigger();
    QVERIFY(m.Listening() && action->isChecked());

    QVERIFY(b.w->close());
    const TIniFile ini(b.bed.Path("ZarvikConfig.ini").toStdString());
    QVERIFY(ini.ReadBool("LineMonitor", "VISIBLE", false));
    QVERIFY(ini.ReadBool("LineMonitor", "BYTES", false));
    QVERIFY(!ini.ReadBool("LineMonitor", "ERRORS", true));
    QVERIFY(ini.ReadBool("LineMonitor", "CONTROL", false));
    b.bed.CloseWindow();
    QVERIFY(!TraceWanted(mdFunctional));  // the window's monitor is gone, and so is its listener

    // The next start opens it again with the same filters.
    b.Open();
    ui::TLineMonitor& again = *b.monitor;
    QVERIFY(!again.isHidden() && again.Listening());
    QVERIFY(b.w->Action("aLineMonitor")->isChecked());
    QVERIFY(again.cbMonBytes->isChecked() && !again.cbMonErrors->isChecked() && again.cbMonData->isChecked());
    QVERIFY(!again.Filter().CategoryShown(TLineCategory::Errors));
    QVERIFY(TraceWanted(mdHardWare));
  }

  void showsGetInfoPacketByPacket() {
    TBed b;
    ui::TLineMonitor& m = *b.monitor;
    b.w->Action("aLineMonitor")->trigger();
    QVERIFY(b.bed.Connect());
    const std::vector<TLineRecord> rows = Shown(m);
    const int command = FindRow(rows, U("получаем инфо. о ККМ"));
    QVERIFY(command >= 0);
    QCOMPARE(rows[command].category, TLineCategory::Commands);
    QCOMPARE(rows[command].sinceStartUs, std::int64_t{-1});
    // The exchange of GetInfo, as the traces name its packets.
    struct Expected {
      const char* kind;
      TLineCategory category;
      TLineDirection direction;
      int size;
      int commandCode;
      int result;
    };
    const auto to = TLineDirection::ToRegister;
    const auto from = TLineDirection::FromRegister;
    const Expected expected[] = {
        {"начало синхронизации", TLineCategory::Commands, TLineDirection::None, -1, -1, -1},
        {"RDY", TLineCategory::Control, to, 5, -1, -1},
        {"RDY", TLineCategory::Control, from, 5, -1, -1},
        {"DATA асинх.", TLineCategory::Control, to, 5, -1, -1},
        {"data", TLineCategory::Data, to, 2, 1, -1},
        {"ACK асинх.", TLineCategory::Control, from, 5, -1, -1},
        {"DATA", TLineCategory::Control, from, 5, -1, -1},
        {"data", TLineCategory::Data, from, 44, 1, 0},
        {"ACK", TLineCategory::Control, to, 5, -1, -1},
        {"конец синхронизации", TLineCategory::Commands, TLineDirection::None, -1, -1, -1},
        {"DISC", TLineCategory::Control, to, 5, -1, -1},
    };
    QVERIFY(rows.size() >= command + 1 + std::size(expected));
    std::int64_t since = 0;
    for (std::size_t i = 0; i < std::size(expected); ++i) {
      const TLineRecord& r = rows[command + 1 + i];
      const Expected& e = expected[i];
      const QByteArray label = QByteArray::number(qulonglong(i)) + " " + r.text.toUtf8();
      QCOMPARE(ui::TLineMonitorModel::CellText(r, ui::lcKind), U(e.kind));
      QVERIFY2(r.category == e.category, label.constData());
      QVERIFY2(r.direction == e.direction, label.constData());
      QVERIFY2(r.size == e.size, label.constData());
      QVERIFY2(r.command == e.commandCode, label.constData());
      QVERIFY2(r.result == e.result, label.constData());
      // Time since the start of the exchange: 0 on its first line, growing.
      QVERIFY2(i == 0 ? r.sinceStartUs == 0 : r.sinceStartUs >= since, label.constData());
      since = r.sinceStartUs;
    }
    const TLineRecord& answer = rows[command + 8];
    QCOMPARE(ui::TLineMonitorModel::CellText(answer, ui::lcDirection), U("ПК<-ККМ"));
    QCOMPARE(ui::TLineMonitorModel::CellText(answer, ui::lcCommand), U("1 GetInfo"));
    QCOMPARE(ui::TLineMonitorModel::CellText(answer, ui::lcResult), U("0"));
    // The time since the previous line shown, in the view's own column.
    ui::TLineMonitorFilter& f = m.Filter();
    QVERIFY(f.index(0, ui::lcDelta).data().toString().isEmpty());
    bool number = false;
    QVERIFY(f.index(command + 1, ui::lcDelta).data().toString().toDouble(&number) >= 0 && number);
    QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$"))
                .match(f.index(command, ui::lcTime).data().toString())
                .hasMatch());
    // No port bytes: they are traced only while "Байты" is on.
    QCOMPARE(CountCategory(rows, TLineCategory::Bytes), 0);
  }

  void showsTheResultCodeOfAFailedCommandAndTheError() {
    TBed b;
    ui::TLineMonitor& m = *b.monitor;
    b.w->Action("aLineMonitor")->trigger();
    QVERIFY(b.bed.Connect());
    m.bMonClear->click();
    QCOMPARE(m.Model().rowCount(), 0);
    QVERIFY(b.bed.Sim().AddFault("result=13:3"));  // GetTax answers "wrong format"
    b.w->Action("aTaxLoad")->trigger();
    const std::vector<TLineRecord> rows = Shown(m);
    const auto answer = std::find_if(rows.begin(), rows.end(), [](const TLineRecord& r) {
      return r.category == TLineCategory::Data && r.direction == TLineDirection::FromRegister;
    });
    QVERIFY(answer != rows.end());
    QCOMPARE(answer->command, 13);
    QCOMPARE(answer->result, 3);
    QCOMPARE(ui::TLineMonitorModel::CellText(*answer, ui::lcResult),
             U("3 Неверный формат команды или данных"));
    QCOMPARE(ui::TLineMonitorModel::CellText(*answer, ui::lcCommand), U("13 GetTax"));
    const int error = FindRow(rows, U("Неверный формат команды или данных"));
    QVERIFY(error >= 0);
    QCOMPARE(rows[error].category, TLineCategory::Errors);
    QCOMPARE(rows[error].kind, TTraceKind::Error);
  }

  void filtersHideAndShowTheirLines() {
    TBed b;
    ui::TLineMonitor& m = *b.monitor;
    b.w->Action("aLineMonitor")->trigger();
    QVERIFY(b.bed.Connect());
    QVERIFY(b.bed.Sim().AddFault("silence"));  // one poll unanswered: a warning of the link
    b.w->Protocol().GetDateTime();
    const std::vector<TLineRecord> all = Shown(m);
    const TLineCategory kinds[] = {TLineCategory::Control, TLineCategory::Data, TLineCategory::Commands,
                                   TLineCategory::Errors};
    for (const TLineCategory c : kinds)
      QVERIFY2(CountCategory(all, c) > 0, qPrintable(QString::number(int(c))));
    // A link step that failed names its code.
    const auto wait = std::find_if(all.begin(), all.end(), [](const TLineRecord& r) {
      return r.text.startsWith(QStringLiteral("Sync>WaitKvit:"));
    });
    if (wait == all.end()) {
      QStringList texts;
      for (const TLineRecord& r : all) texts << r.text;
      QFAIL(qPrintable(QStringLiteral("no Sync>WaitKvit line among:\n") + texts.join(QLatin1Char('\n'))));
    }
    QCOMPARE(wait->result, 32);
    QCOMPARE(wait->kind, TTraceKind::Warning);

    // Each box hides exactly its own lines.
    for (const TLineCategory c : kinds) {
      QCheckBox* box = m.CategoryBox(c);
      box->setChecked(false);
      const std::vector<TLineRecord> shown = Shown(m);
      QCOMPARE(CountCategory(shown, c), 0);
      QCOMPARE(static_cast<int>(shown.size()), static_cast<int>(all.size()) - CountCategory(all, c));
      QVERIFY(m.lMonCount->text().contains(QString::number(shown.size())));
      box->setChecked(true);
      QCOMPARE(Shown(m).size(), all.size());
    }
    // The text filter, case ignored, over kind, command, result and text.
    m.eMonFilter->setText(QStringLiteral("getinfo"));
    std::vector<TLineRecord> shown = Shown(m);
    QVERIFY(!shown.empty());
    for (const TLineRecord& r : shown) QCOMPARE(r.command, 1);
    m.eMonFilter->setText(U("синхронизации"));
    shown = Shown(m);
    QVERIFY(shown.size() >= 4);
    for (const TLineRecord& r : shown) QVERIFY(r.exchangeMark);
    m.eMonFilter->clear();
    QCOMPARE(Shown(m).size(), all.size());

    // "Байты": the port's bytes are traced from now on; a frame read one byte
    // at a time is one line.
    m.cbMonBytes->setChecked(true);
    QVERIFY(b.w->Protocol().GetDateTime());
    shown = Shown(m);
    const int bytes = CountCategory(shown, TLineCategory::Bytes);
    QVERIFY(bytes > 0);
    const auto frame = std::find_if(shown.rbegin(), shown.rend(), [](const TLineRecord& r) {
      return r.name == QStringLiteral("ReadFromCOM") && r.size > 5;
    });
    QVERIFY(frame != shown.rend());
    // Lead byte 00, the 9 bytes of the answer, end mark 7F 03, check byte.
    QCOMPARE(frame->size, 1 + 9 + 2 + 1);
    QVERIFY(frame->text.startsWith(QStringLiteral("ReadFromCOM:00 01 02 00 ")));
    QCOMPARE(frame->direction, TLineDirection::FromRegister);
    const auto write = std::find_if(shown.begin(), shown.end(), [](const TLineRecord& r) {
      return r.name == QStringLiteral("WriteToCOM");
    });
    QVERIFY(write != shown.end());
    QCOMPARE(write->direction, TLineDirection::ToRegister);
    // Off again: hidden, and no more of them are made.
    m.cbMonBytes->setChecked(false);
    QCOMPARE(CountCategory(Shown(m), TLineCategory::Bytes), 0);
    QVERIFY(b.w->Protocol().GetDateTime());
    m.cbMonBytes->setChecked(true);
    QCOMPARE(CountCategory(Shown(m), TLineCategory::Bytes), bytes);
  }

  void savesTheShownLinesIn1251WithCrLf() {
    TBed b;
    ui::TLineMonitor& m = *b.monitor;
    b.w->Action("aLineMonitor")->trigger();
    QVERIFY(b.bed.Connect());
    m.cbMonControl->setChecked(false);
    const std::vector<TLineRecord> shown = Shown(m);
    const QString path = b.bed.Path("line.txt");
    QVERIFY(m.SaveToFile(path));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QVERIFY(bytes.endsWith("\r\n"));
    QCOMPARE(bytes.count("\n"), bytes.count("\r\n"));
    const QList<QByteArray> lines = bytes.left(bytes.size() - 2).split('\n');
    QCOMPARE(lines.size(), static_cast<qsizetype>(shown.size() + 1));
    QCOMPARE(QString::fromStdString(Cp1251ToUtf8(lines[0].chopped(1).toStdString())),
             U("Время\t+мс\tОт начала, мс\tВид\tНаправление\tРазмер\tКоманда\tРезультат\tТекст"));
    const QByteArray command = QByteArray::fromStdString(Utf8ToCp1251("получаем инфо. о ККМ"));
    QVERIFY(bytes.contains("\t" + command + "\r\n"));
    QVERIFY(!bytes.contains(QByteArray::fromStdString("получаем")));  // no UTF-8 left
    for (const QByteArray& l : lines) QCOMPARE(l.count('\t'), ui::lcCount - 1);
    // The control packets were filtered out, so the file has none.
    QVERIFY(!bytes.contains("\tRDY\t"));

    // Through the button and its dialog, as a person saves.
    const QString typed = b.bed.Path("support.txt");
    QFileDialog* dialog = m.SaveDialogMonitor;
    QTimer::singleShot(0, dialog, [dialog, typed] {
      dialog->findChild<QLineEdit*>("fileNameEdit")->setText(typed);
      static_cast<QDialog*>(dialog)->accept();
    });
    m.bMonSave->click();
    QVERIFY(QFile::exists(typed));
    QVERIFY(b.bed.ConsoleText().contains(U("Монитор линии записан в файл ") + typed));
    // A folder that does not exist: an error box, the old file stays.
    QTimer::singleShot(0, dialog, [dialog, &b] {
      dialog->findChild<QLineEdit*>("fileNameEdit")->setText(b.bed.Path("no/such/folder/x.txt"));
      static_cast<QDialog*>(dialog)->accept();
    });
    m.bMonSave->click();
    const std::vector<uitest::TBox> boxes = b.bed.TakeBoxes();
    QCOMPARE(boxes.size(), std::size_t{1});
    QCOMPARE(boxes[0].kind, BoxKind::Error);
    QVERIFY(QString::fromStdString(boxes[0].text).startsWith(U("Не удалось записать файл ")));

    // While a register action runs, saving (a modal dialog inside the
    // exchange) is not offered.
    bool dialogShown = false;
    b.w->RunRegisterAction(ui::pgConfig, std::chrono::milliseconds(5000), [&] {
      QVERIFY(b.w->Protocol().GetDateTime());
      m.Flush();
      QVERIFY(!m.bMonSave->isEnabled());
      QTimer::singleShot(0, dialog, [dialog, &dialogShown] {
        dialogShown = dialog->isVisible();
        if (dialogShown) dialog->reject();
      });
      QMetaObject::invokeMethod(m.bMonSave, "click");
      QCoreApplication::processEvents();
    });
    QVERIFY(!dialogShown);
    m.Flush();
    QVERIFY(m.bMonSave->isEnabled());
  }

  void consoleAndLogAreTheSameWithTheMonitorOpen() {
    QStringList consoles[2];
    QStringList logs[2];
    int monitorRows = 0;
    for (int open = 0; open < 2; ++open) {
      TBed b(false);
      // The log lies beside the test program and grows from test to test.
      const qsizetype logged = b.bed.LogLines().size();
      b.Open();
      if (open == 1) {
        b.w->Action("aLineMonitor")->trigger();
        b.monitor->cbMonBytes->setChecked(true);
      }
      QVERIFY(b.bed.Connect());
      QVERIFY(b.bed.Sim().AddFault("silence"));
      b.w->Protocol().GetDateTime();
      consoles[open] = Unstamped(b.bed.ConsoleText().split(QLatin1Char('\n')));
      logs[open] = Unstamped(b.bed.LogLines().mid(logged));
      if (open == 1) monitorRows = static_cast<int>(Shown(*b.monitor).size());
    }
    QVERIFY(monitorRows > 50);
    QVERIFY(logs[0].contains(U("Подключились!")));
    QVERIFY(consoles[0].contains(U("Подключились!")));
    QCOMPARE(consoles[1], consoles[0]);
    QCOMPARE(logs[1], logs[0]);
    for (const QString& l : logs[1]) {
      QVERIFY2(!l.contains(U("синхронизации")) && !l.startsWith(QStringLiteral(">")) &&
                   !l.contains(QStringLiteral("ReadFromCOM")) && !l.contains(QStringLiteral("WaitKvit")),
               qPrintable(l));
    }
  }

  void atTheRunsHardwareDepthBytesComeOnlyWhenAskedFor() {
    // The log takes every byte at this depth; the monitor only with "Байты".
    TBed b(false, {"mdhardware"});
    const qsizetype logged = b.bed.LogLines().size();
    b.Open();
    ui::TLineMonitor& m = *b.monitor;
    b.w->Action("aLineMonitor")->trigger();
    QVERIFY(b.bed.Connect());
    std::vector<TLineRecord> rows = Shown(m);
    QCOMPARE(CountCategory(rows, TLineCategory::Bytes), 0);
    QVERIFY(CountCategory(rows, TLineCategory::Control) > 0);
    m.cbMonBytes->setChecked(true);
    QCOMPARE(CountCategory(Shown(m), TLineCategory::Bytes), 0);  // none were kept
    QVERIFY(b.w->Protocol().GetDateTime());
    QVERIFY(CountCategory(Shown(m), TLineCategory::Bytes) > 0);
    const QStringList log = b.bed.LogLines().mid(logged);
    QVERIFY(std::any_of(log.begin(), log.end(), [](const QString& l) { return l.contains("ReadFromCOM:"); }));
  }

  void keepsUpWithAGoodsReadWithinItsRowLimit() {
    zarvik::sim::Scenario sc = uitest::LoadScenario();
    std::string error;
    QVERIFY2(
        zarvik::sim::LoadScenarioText("[Register]\nModel=Зарвик-02Ф\nSerialNumber=002100457731\nVersion=B "
                                      "003\nWorkMode=2\nNetworkNumber=1\nGoodsCapacity=2000\nDepartments="
                                      "16\nOperatorCount=4\n[Goods]\nGenerate=400\n",
                                      sc, error),
        qPrintable(QString::fromStdString(error)));
    uitest::TTestBed bed;
    bed.StartSimulator(sc);
    bed.UseSimulatorPort();
    ui::TfmMain& w = bed.OpenWindow();
    ui::TLineMonitor& m = w.LineMonitor();
    w.Action("aLineMonitor")->trigger();
    m.cbMonBytes->setChecked(true);
    m.Model().SetMaxRows(1000);
    QVERIFY(bed.Connect());
    w.SelectPage(ui::pgGoods);
    QVERIFY(w.Action("tovarLoadAll")->isEnabled());
    int flushesDuringTheRead = 0;
    QObject::connect(&m.Model(), &QAbstractItemModel::rowsInserted, &m, [&] {
      if (w.Transfer().transferProgress != 0) ++flushesDuringTheRead;
    });
    w.Action("tovarLoadAll")->trigger();
    QVERIFY(uitest::WaitFor([&] { return w.Transfer().transferProgress == 0 && !w.RegisterBusy(); }, 60000));
    const std::vector<TLineRecord> rows = Shown(m);
    QVERIFY(m.Model().rowCount() <= 1000);
    QVERIFY(m.Model().DroppedRows() > 0);
    QVERIFY(m.lMonCount->text().contains(U("старые убраны")));
    // The view took the lines while the transfer ran, in batches, not at its end.
    QVERIFY(flushesDuringTheRead > 1);
    // The last goods frame and the end of the read are there, in order.
    const auto lastFrame = std::find_if(rows.rbegin(), rows.rend(), [](const TLineRecord& r) {
      return r.category == TLineCategory::Data && r.direction == TLineDirection::FromRegister;
    });
    QVERIFY(lastFrame != rows.rend());
    QCOMPARE(lastFrame->command, 16);
    QVERIFY(FindRow(rows, U("----- конец синхронизации")) >= 0);
    QCOMPARE(w.Bd().mtTOBAP.RecordCount(), 400);
  }

  void marksThePacketsThatCrossedTheLineAgain() {
    struct Case {
      const char* text;
      bool retried;
      const char* kind;
      TLineDirection direction;
      int size;
      int command;
    };
    const Case cases[] = {
        {">RDY  ПК->ККМ синх.   ККМ=1", false, "RDY", TLineDirection::ToRegister, 5, -1},
        {">DATA ПК<-ККМ асинх.  ККМ=1 (повтор)", true, "DATA асинх. повтор", TLineDirection::FromRegister, 5,
         -1},
        {">data ПК<-ККМ             size:67  :1,16,0 (повтор)", true, "data повтор", TLineDirection::FromRegister,
         67, 16},
        {">data ПК->ККМ             size:4  :1,16,1 (повтор)", true, "data повтор", TLineDirection::ToRegister, 4,
         16},
        {">data ПК<-ККМ             size:67  :1,16,0", false, "data", TLineDirection::FromRegister, 67, 16},
    };
    ui::TLineMonitorModel model;
    for (const Case& c : cases) {
      model.Clear();
      model.Append({ui::TLineTrace{mdFunctional, TTraceKind::Trace, c.text, 1000}});
      QCOMPARE(model.rowCount(), 1);
      const TLineRecord& r = model.Record(0);
      QVERIFY2(r.retried == c.retried, c.text);
      QCOMPARE(ui::TLineMonitorModel::CellText(r, ui::lcKind), U(c.kind));
      QVERIFY2(r.direction == c.direction, c.text);
      QCOMPARE(r.size, c.size);
      QCOMPARE(r.command, c.command);
      QCOMPARE(r.text, U(c.text));  // shown as it came
      const QVariant background = model.data(model.index(0, ui::lcKind), Qt::BackgroundRole);
      QCOMPARE(background.isValid(), c.retried);
    }
  }
};

QTEST_MAIN(LineMonitorTest)
#include "test_line_monitor.moc"
