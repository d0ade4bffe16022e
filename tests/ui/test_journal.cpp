// The journal page against the simulated register: streaming read, stop,
// register error codes, damaged records, reading twice, never two reads at
// once, and saving both views.
#include <QtTest>

#include <QAction>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ActionList.h"
#include "SpeedButtonEx.h"
#include "UiTestSupport.h"
#include "WaitForm.h"
#include "journal/JournalFrame.h"
#include "journal/U_magazineoperation.h"
#include "pages/JournalPage.h"
#include "pages/JournalView.h"
#include "protocol/LinkFrames.h"
#include "protocol/ResultTexts.h"
#include "protocol/U_protocolkkm.h"

using namespace zarvik;
using sim::Bytes;

namespace {

using Lines = std::vector<std::string>;

// Most bytes in one journal frame: one receipt of the journal below per frame.
constexpr std::size_t kFrameLimit = 64;
constexpr std::size_t kFrameHead = 3;  // 01 0F code
constexpr std::chrono::milliseconds kQuickStreamCycle{20};

// A journal record and the record line it decodes to.
struct TRecord {
  Bytes bytes;
  std::string line;
};

// Receipt `number`: one sale of 1 × 12.50 in department 2, its subtotal, the
// payment with 20.00 tendered and the closing record.
std::vector<TRecord> Receipt(int number) {
  const std::string n = std::to_string(number);
  return {{sim::SumRecord(0xA1, 1, 1000, 1250, 1, 2), "A1;1;1000;1250;1;2"},
          {sim::SubtotalRecord(0xB5, 2, 1250), "B5;2;1250"},
          {sim::PaymentRecord(3, 0, 1250, 2000), "C9;3;1;1250;2000"},
          {sim::CloseRecord(1, static_cast<std::uint64_t>(number), "15.12.10", "14:05", true, 1),
           "CA;1;" + n + ";15.12.10;14:05;F;1"}};
}

// A sale whose quantity holds a nibble above 9: decoded, but not renderable.
TRecord DamagedSale() {
  return {{0xA1, 0x02, 0x00, 0x1A, 0x00, 0x00, 0x00, 0x50, 0x12, 0x00, 0x00, 0x00, 0x01, 0x02, 0xAA},
          "A1;2;1A00;1250;1;2"};
}

std::vector<TRecord> Journal(int receipts, int firstNumber = 101) {
  std::vector<TRecord> journal;
  for (int i = 0; i < receipts; ++i) {
    for (TRecord& r : Receipt(firstNumber + i)) journal.push_back(std::move(r));
  }
  return journal;
}

// The journal's frames as the register packs them: whole records after the
// head, at most kFrameLimit bytes a frame. Each entry: the records' indices.
std::vector<std::vector<std::size_t>> Frames(const std::vector<TRecord>& journal) {
  std::vector<std::vector<std::size_t>> frames;
  std::size_t size = kFrameLimit;
  for (std::size_t i = 0; i < journal.size(); ++i) {
    if (size + journal[i].bytes.size() > kFrameLimit) {
      frames.emplace_back();
      size = kFrameHead;
    }
    frames.back().push_back(i);
    size += journal[i].bytes.size();
  }
  return frames;
}

Lines RecordLines(const std::vector<TRecord>& journal, std::size_t count) {
  Lines lines;
  for (std::size_t i = 0; i < count; ++i) lines.push_back(journal[i].line);
  return lines;
}

// The receipt text of record lines, one entry per line of the view (a line
// that cannot be rendered marked as the page marks it, without a report).
Lines TextLines(const Lines& records) {
  Lines lines;
  for (const std::string& r : records) {
    std::string text;
    if (!TryRenderJournalLine(r, text)) text = r + std::string(kJournalErrorSuffix);
    for (std::string& l : SplitCrLfLines(text)) lines.push_back(std::move(l));
  }
  return lines;
}

// The register's line, with the result code of one of the register's data
// frames changed on its way to the PC (the check byte follows), so that the
// window meets a register that reports `code` in frame `frame` of a read
// (counted from 1 once installed).
class TFrameCodeLine final : public IByteStream {
 public:
  TFrameCodeLine(TComPort& port, int frame, std::uint8_t code) : port_(port), frame_(frame), code_(code) {}
  bool Read(std::uint8_t* buffer, std::uint32_t& count) override {
    const bool ok = port_.Read(buffer, count);
    if (count == kControlPacketSize && buffer[0] == kFrameStart && buffer[1] == kControlMark &&
        IsDataHeader(buffer[3])) {
      patching_ = ++frames_ == frame_;
      lead_ = true;
      escape_ = ended_ = false;
      index_ = 0;
    } else if (patching_ && count == 1) {
      Patch(buffer[0]);
    }
    return ok;
  }
  bool Write(const std::uint8_t* buffer, std::uint32_t& count) override { return port_.Write(buffer, count); }
  bool Open() override { return port_.Open(); }
  bool Close() override { return port_.Close(); }
  bool IsOpen() const override { return port_.IsOpen(); }

 private:
  // One byte of the frame being changed: lead byte, stuffed payload, end
  // mark, check byte (payload + check byte sum to 0).
  void Patch(std::uint8_t& b) {
    if (lead_) {
      lead_ = false;
    } else if (ended_) {
      b = static_cast<std::uint8_t>(b - delta_);
      patching_ = false;
    } else if (escape_) {
      escape_ = false;
      if (b == kEndMark) {
        ended_ = true;
      } else {
        ++index_;
      }
    } else if (b == kEscapedByte) {
      escape_ = true;
    } else {
      if (index_ == kFrameHead - 1) {
        delta_ = static_cast<std::uint8_t>(code_ - b);
        b = code_;
      }
      ++index_;
    }
  }

  TComPort& port_;
  int frame_;
  std::uint8_t code_;
  int frames_ = 0;
  bool patching_ = false;
  bool lead_ = false;
  bool escape_ = false;
  bool ended_ = false;
  std::size_t index_ = 0;
  std::uint8_t delta_ = 0;
};

// Runs `step` on every turn of the event loop (also the turns the exchange
// makes between frames) until it returns true.
class TOnEveryTurn {
 public:
  explicit TOnEveryTurn(std::function<bool()> step) : step_(std::move(step)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (step_()) timer_.stop();
    });
    timer_.start(0);
  }
  bool Done() const { return !timer_.isActive(); }

 private:
  std::function<bool()> step_;
  QTimer timer_;
};

// The console's lines without their time stamps.
QStringList Messages(uitest::TTestBed& bed) {
  QStringList lines = bed.ConsoleText().split(QLatin1Char('\n'));
  for (QString& l : lines) l = l.section(QLatin1Char(' '), 1);
  return lines;
}

int CountMessages(uitest::TTestBed& bed, const QString& text) {
  return static_cast<int>(Messages(bed).count(text));
}

QString LastMessage(uitest::TTestBed& bed) {
  return Messages(bed).last();
}

int CountStrings(const Lines& lines, const std::string& s) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), s));
}

}  // namespace

class JournalPageTest : public QObject {
  Q_OBJECT

  // The window against a register with `journal`, connected when `connect`.
  struct TBed {
    explicit TBed(const std::vector<TRecord>& journal, bool connect = true) {
      sim::Scenario sc = uitest::LoadScenario();
      sc.state.journal.clear();
      for (const TRecord& r : journal) sc.state.journal.push_back(r.bytes);
      sc.state.journalFrameLimit = kFrameLimit;
      bed.StartSimulator(sc);
      bed.UseSimulatorPort();
      w = &bed.OpenWindow();
      page = &w->JournalPage();
      // Six poll cycles close every stream; their pause is shortened here
      // (all other waits stay) to keep the program quick. readsTheWholeJournal
      // runs with the full pauses.
      w->Protocol().waits.afterStreamCycle = kQuickStreamCycle;
      connected = !connect || bed.Connect();
    }
    ~TBed() { w->Protocol().SetLine(nullptr); }
    int Progress() { return w->Transfer().transferProgress; }
    int JournalCommands() {
      const auto done = bed.Sim().State().commandsExecuted;
      return static_cast<int>(std::count(done.begin(), done.end(), sim::cmdReadJournal));
    }
    // DISC packets the register has received from the PC.
    int AllDiscs() {
      const auto received = bed.Sim().Stats().received;
      return static_cast<int>(std::count(received.begin(), received.end(), kDISC));
    }
    // Presses the read action; DiscsFromPc counts from here.
    void Read() {
      discs = AllDiscs();
      w->Action("aLoadMagazin")->trigger();
    }
    int DiscsFromPc() { return AllDiscs() - discs; }

    uitest::TTestBed bed;
    ui::TfmMain* w = nullptr;
    ui::TJournalPage* page = nullptr;
    bool connected = false;
    int discs = 0;
  };

  static void CheckIdle(TBed& b) {
    QCOMPARE(b.page->bLoadMagazineFromKKM->text(), QString::fromUtf8("Считать из ККМ"));
    QCOMPARE(b.page->bLoadMagazineFromKKM->accessibleName(), QString::fromUtf8("Считать из ККМ"));
    QVERIFY(!b.page->Reading());
    QCOMPARE(b.Progress(), 0);
    QVERIFY(!b.w->Transfer().transferStopRequested);
    QVERIFY(!b.w->RegisterBusy());
    QVERIFY(b.w->PanelMenu()->isEnabled());
    QVERIFY(!b.w->ProgressBar()->isVisible());
    for (const char* a : {"aLoadMagazin", "aSaveTextMagazin", "aSaveDataMagazin"})
      QVERIFY(b.w->Action(a)->isEnabled());
  }

  // The views hold exactly `records` and their receipt text.
  static void CheckViews(TBed& b, const Lines& records) {
    QCOMPARE(b.page->MemoMagazineSource->Lines(), records);
    QCOMPARE(b.page->MemoMagazine->Lines(), TextLines(records));
    QCOMPARE(b.page->MemoMagazineSource->LineCount(), static_cast<int>(records.size()));
  }

  static std::string ReadFileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    return f.readAll().toStdString();
  }

  static std::string CrLfFile(const Lines& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\r\n";
    return Utf8ToCp1251(text);
  }

  // Saves through `action` with `name` typed into SaveDialogMagazine (empty:
  // the dialog is cancelled).
  static void SaveAs(TBed& b, const char* action, const QString& name) {
    QFileDialog* dialog = b.page->SaveDialogMagazine;
    QTimer::singleShot(0, dialog, [dialog, name] {
      if (name.isEmpty()) {
        dialog->reject();
      } else {
        // Typed into the name field, as a person would.
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(name);
        static_cast<QDialog*>(dialog)->accept();
      }
    });
    b.w->Action(action)->trigger();
  }

 private slots:
  void init() { ResetSwitches(); }

  void pageControlsAndMenu() {
    TBed b({}, false);
    ui::TJournalPage& p = *b.page;
    QCOMPARE(p.objectName(), QString("TabSheetMagazine"));
    const struct {
      ui::TSpeedButtonEx* button;
      const char* name;
      const char* action;
      const char* caption;
    } buttons[] = {
        {p.bLoadMagazineFromKKM, "bLoadMagazineFromKKM", "aLoadMagazin", "Считать все из ККМ"},
        {p.bMagazineToFile, "bMagazineToFile", "aSaveTextMagazin", "Сохранить текст в файл"},
        {p.bSave, "bSave", "aSaveDataMagazin", "Сохранить данные в файл"},
    };
    for (const auto& c : buttons) {
      QCOMPARE(c.button->objectName(), QString(c.name));
      QCOMPARE(c.button->defaultAction(), b.w->Action(c.action));
      QCOMPARE(c.button->text(), QString::fromUtf8(c.caption));
      QCOMPARE(c.button->accessibleName(), QString::fromUtf8(c.caption));
      QVERIFY(c.button->isEnabled());
      QCOMPARE(c.button->font().bold(), c.button == p.bLoadMagazineFromKKM);
    }
    // The menu "Журнал": read, save text, save data.
    auto* menu = b.w->findChild<QMenu*>("miJournal");
    QVERIFY(menu != nullptr);
    QCOMPARE(menu->title(), QString::fromUtf8("Журнал"));
    QCOMPARE(menu->actions(), (QList<QAction*>{b.w->Action("aLoadMagazin"), b.w->Action("aSaveTextMagazin"),
                                               b.w->Action("aSaveDataMagazin")}));
    // Both views: fixed pitch, no wrap, read only, named for assistive tools.
    for (ui::TJournalView* v : {p.MemoMagazine, p.MemoMagazineSource}) {
      QVERIFY(QFontInfo(v->font()).fixedPitch());
      QCOMPARE(v->lineWrapMode(), QPlainTextEdit::NoWrap);
      QVERIFY(v->isReadOnly());
      QVERIFY(!v->accessibleName().isEmpty());
      QVERIFY(!v->isHidden());
      QCOMPARE(v->document()->maximumBlockCount(), 0);
    }
    QCOMPARE(p.MemoMagazine->objectName(), QString("MemoMagazine"));
    QCOMPARE(p.MemoMagazineSource->objectName(), QString("MemoMagazineSource"));
    QFileDialog* d = p.SaveDialogMagazine;
    QCOMPARE(d->objectName(), QString("SaveDialogMagazine"));
    QCOMPARE(d->acceptMode(), QFileDialog::AcceptSave);
    QVERIFY(d->testOption(QFileDialog::DontConfirmOverwrite));
    QVERIFY(d->defaultSuffix().isEmpty());
    QVERIFY(d->nameFilters().isEmpty() || d->nameFilters() == QStringList{QFileDialog::tr("All Files (*)")});
  }

  void readsTheWholeJournal() {
    const std::vector<TRecord> journal = Journal(5);
    TBed b(journal);
    QVERIFY(b.connected);
    b.w->Protocol().waits = kLinkWaits;
    b.w->SelectPage(ui::pgConfig);
    // While the read streams: the stop caption, the page selector and the
    // saves disabled, the read action enabled (it stops).
    bool seen = false;
    TOnEveryTurn watch([&] {
      if (b.Progress() == 0) return false;
      seen = b.page->bLoadMagazineFromKKM->text() == QString::fromUtf8("Остановить") &&
             b.page->bLoadMagazineFromKKM->accessibleName() == QString::fromUtf8("Остановить") &&
             !b.w->PanelMenu()->isEnabled() && !b.w->Action("aSaveTextMagazin")->isEnabled() &&
             !b.w->Action("aSaveDataMagazin")->isEnabled() && b.w->Action("aLoadMagazin")->isEnabled() &&
             b.w->RegisterBusy() && b.w->CurrentPage() == ui::pgMagazine;
      return true;
    });
    b.Read();
    QVERIFY(watch.Done());
    QVERIFY(seen);
    CheckIdle(b);
    CheckViews(b, RecordLines(journal, journal.size()));
    QCOMPARE(b.page->MemoMagazine->Lines().back(), std::string("ЧЕК:105     ФИСКАЛЬНЫЙ"));
    QCOMPARE(b.JournalCommands(), 1);
    QCOMPARE(b.DiscsFromPc(), 0);
    QVERIFY(b.bed.Boxes().empty());
    QCOMPARE(CountMessages(b.bed, QString::fromUtf8("Загружаем ОТЧЕТ...")), 1);
    QVERIFY(LastMessage(b.bed) == QString::fromUtf8("ОТЧЕТ загружен"));
    QVERIFY(b.bed.LogLines().last().endsWith(QString::fromUtf8(" ОТЧЕТ загружен")));
    QVERIFY(!b.w->WaitForm().isVisible());
  }

  // A frame with result code 9 ends the read, whatever it holds; a journal
  // whose first frame carries it ends with "ОТЧЕТ загружен" at once.
  void firstFrameEndsTheJournal_data() {
    QTest::addColumn<int>("receipts");
    QTest::addColumn<bool>("patchFirstFrame");
    QTest::newRow("empty journal") << 0 << false;
    QTest::newRow("records with code 9") << 3 << true;
  }
  void firstFrameEndsTheJournal() {
    QFETCH(int, receipts);
    QFETCH(bool, patchFirstFrame);
    const std::vector<TRecord> journal = Journal(receipts);
    TBed b(journal);
    QVERIFY(b.connected);
    TFrameCodeLine line(b.w->RegisterPort(), 1, 9);
    if (patchFirstFrame) b.w->Protocol().SetLine(&line);
    b.Read();
    CheckIdle(b);
    const std::size_t shown = journal.empty() ? 0 : Frames(journal)[0].size();
    CheckViews(b, RecordLines(journal, shown));
    QVERIFY(b.bed.Boxes().empty());
    QVERIFY(LastMessage(b.bed) == QString::fromUtf8("ОТЧЕТ загружен"));
    // The register was told to send no more: its stream was dropped.
    QCOMPARE(b.bed.Sim().Stats().streamLeft, std::size_t{0});
    // The line still works.
    b.w->Protocol().SetLine(nullptr);
    QVERIFY(b.w->Protocol().GetDateTime());
  }

  // A register error code in a frame: its text in a box once, the records
  // still shown, the read going on as the frame's continuation says.
  void registerErrorInAFrame_data() {
    QTest::addColumn<int>("frame");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("fault");
    QTest::newRow("second of four frames") << 2 << 5 << QString();
    QTest::newRow("last record frame") << 4 << 18 << QString();
    QTest::newRow("the register answers only the code") << 0 << 3 << QString("result=15:3");
  }
  void registerErrorInAFrame() {
    QFETCH(int, frame);
    QFETCH(int, code);
    QFETCH(QString, fault);
    const std::vector<TRecord> journal = Journal(4);
    TBed b(journal);
    QVERIFY(b.connected);
    TFrameCodeLine line(b.w->RegisterPort(), frame, static_cast<std::uint8_t>(code));
    if (frame > 0) b.w->Protocol().SetLine(&line);
    if (!fault.isEmpty()) QVERIFY(b.bed.Sim().AddFault(fault.toStdString()));
    // The records before the frame show behind the message.
    int shownAtBox = -1;
    const auto box = b.w->Hooks().boxHandler;
    b.w->Hooks().boxHandler = [&](BoxKind kind, const std::string& text) {
      shownAtBox = b.page->MemoMagazineSource->LineCount();
      box(kind, text);
    };
    b.Read();
    std::size_t before = 0;
    for (int f = 1; f < frame; ++f) before += Frames(journal)[static_cast<std::size_t>(f - 1)].size();
    QCOMPARE(shownAtBox, static_cast<int>(before));
    CheckIdle(b);
    CheckViews(b, fault.isEmpty() ? RecordLines(journal, journal.size()) : Lines{});
    const std::vector<uitest::TBox> boxes = b.bed.TakeBoxes();
    QCOMPARE(boxes.size(), std::size_t{1});
    QCOMPARE(boxes[0].kind, BoxKind::Error);
    QCOMPARE(boxes[0].text, ErrorText(code));
    QCOMPARE(CountMessages(b.bed, QString::fromStdString("Error:" + ErrorText(code))), 1);
    QVERIFY(LastMessage(b.bed) == QString::fromUtf8("ОТЧЕТ загружен"));
  }

  void damagedRecordIsMarkedAndReportedOnce() {
    std::vector<TRecord> journal = Journal(3);
    journal.insert(journal.begin() + 5, DamagedSale());
    TBed b(journal);
    QVERIFY(b.connected);
    b.Read();
    CheckIdle(b);
    const Lines records = RecordLines(journal, journal.size());
    QCOMPARE(b.page->MemoMagazineSource->Lines(), records);
    const Lines text = b.page->MemoMagazine->Lines();
    QCOMPARE(CountStrings(text, "A1;2;1A00;1250;1;2 - ошибка!"), 1);
    QCOMPARE(text, TextLines(records));
    // The receipts around it are whole.
    QCOMPARE(CountStrings(text, "ИТОГ           12.50"), 3);
    const std::vector<uitest::TBox> boxes = b.bed.TakeBoxes();
    QCOMPARE(boxes.size(), std::size_t{1});
    QCOMPARE(boxes[0].kind, BoxKind::Error);
    QCOMPARE(boxes[0].text, std::string("ошибка декодирования операций чека"));
    QVERIFY(LastMessage(b.bed) == QString::fromUtf8("ОТЧЕТ загружен"));
  }

  // A stop press after some records (the button, or closing the window):
  // DISC at the next frame, "ОТЧЕТ частично загружен", the records kept.
  void stopKeepsTheRecords_data() {
    QTest::addColumn<bool>("close");
    QTest::newRow("button") << false;
    QTest::newRow("window closed") << true;
  }
  void stopKeepsTheRecords() {
    QFETCH(bool, close);
    const std::vector<TRecord> journal = Journal(6);
    const auto frames = Frames(journal);
    TBed b(journal);
    QVERIFY(b.connected);
    QString captionAtStop;
    TOnEveryTurn press([&] {
      if (b.Progress() == 0) return false;
      captionAtStop = b.page->bLoadMagazineFromKKM->text();
      if (close) {
        b.w->close();
      } else {
        b.page->bLoadMagazineFromKKM->click();
      }
      return true;
    });
    b.Read();
    QVERIFY(press.Done());
    QCOMPARE(captionAtStop, QString::fromUtf8("Остановить"));
    QCOMPARE(b.DiscsFromPc(), 1);
    CheckIdle(b);
    // Whole frames from the first on, not all of them.
    const Lines shown = b.page->MemoMagazineSource->Lines();
    std::size_t count = 0;
    std::size_t whole = 0;
    while (whole < frames.size() && count < shown.size()) count += frames[whole++].size();
    QCOMPARE(count, shown.size());
    QVERIFY(whole >= 1 && whole < frames.size());
    CheckViews(b, RecordLines(journal, count));
    QVERIFY(b.bed.Boxes().empty());
    QVERIFY(LastMessage(b.bed) == QString::fromUtf8("Warning:ОТЧЕТ частично загружен"));
    QVERIFY(b.bed.LogLines().last().endsWith(QString::fromUtf8(" Warning:ОТЧЕТ частично загружен")));
    // The register dropped the rest and answers the next command.
    QCOMPARE(b.bed.Sim().Stats().streamLeft, std::size_t{0});
    if (close) {
      QVERIFY(uitest::WaitFor([&] { return !b.w->isVisible(); }));
    } else {
      QVERIFY(b.w->Protocol().GetDateTime());
    }
  }

  // A stop pressed once every record is in has nothing left to stop: before
  // the end frame (code 9) the DISC goes with it, after it (during the pauses
  // that close the stream) nothing more is sent; the journal is whole.
  void stopAfterTheLastRecordChangesNothing_data() {
    QTest::addColumn<bool>("endFrameIn");
    QTest::newRow("before the end frame") << false;
    QTest::newRow("after the end frame") << true;
  }
  void stopAfterTheLastRecordChangesNothing() {
    QFETCH(bool, endFrameIn);
    const std::vector<TRecord> journal = Journal(3);
    TBed b(journal);
    QVERIFY(b.connected);
    TOnEveryTurn press([&] {
      if (b.Progress() != static_cast<int>(journal.size())) return false;
      const sim::LinkStats stats = b.bed.Sim().Stats();
      if (endFrameIn && (stats.streamLeft != 0 || stats.unacknowledged)) return false;
      b.page->bLoadMagazineFromKKM->click();
      return true;
    });
    b.Read();
    QVERIFY(press.Done());
    QCOMPARE(b.DiscsFromPc(), endFrameIn ? 0 : 1);
    CheckIdle(b);
    CheckViews(b, RecordLines(journal, journal.size()));
    QVERIFY(LastMessage(b.bed) == QString::fromUtf8("ОТЧЕТ загружен"));
  }

  // Presses that come while a read runs never start a second one: while it
  // connects they are ignored, once it streams (even before the first
  // record has arrived) they ask it to stop.
  void noSecondReadWhileOneRuns_data() {
    QTest::addColumn<bool>("connected");
    QTest::newRow("press while connecting") << false;
    QTest::newRow("press before the first record") << true;
  }
  void noSecondReadWhileOneRuns() {
    QFETCH(bool, connected);
    const std::vector<TRecord> journal = Journal(3);
    TBed b(journal, connected);
    QVERIFY(b.connected);
    int presses = 0;
    TOnEveryTurn press([&] {
      if (!b.page->Reading()) return false;
      const bool streaming = b.page->bLoadMagazineFromKKM->text() == QString::fromUtf8("Остановить");
      // Pressing while connecting ends once the stream has begun; the press
      // before the first record is made once the stream has begun.
      if (streaming != connected) return streaming;
      if (connected && b.Progress() != 0) return true;
      // Every way in: the button, the menu's action, the handler itself.
      b.page->bLoadMagazineFromKKM->click();
      b.w->Action("aLoadMagazin")->trigger();
      b.page->aLoadMagazinExecute();
      ++presses;
      return connected;
    });
    b.Read();
    QVERIFY(presses > 0);
    QCOMPARE(b.JournalCommands(), 1);
    QCOMPARE(CountMessages(b.bed, QString::fromUtf8("Загружаем ОТЧЕТ...")), 1);
    CheckIdle(b);
    if (connected) {
      // The stop came before the first frame: DISC with it, whose records
      // still show.
      QCOMPARE(b.DiscsFromPc(), 1);
      CheckViews(b, RecordLines(journal, Frames(journal)[0].size()));
      QVERIFY(LastMessage(b.bed) == QString::fromUtf8("Warning:ОТЧЕТ частично загружен"));
    } else {
      CheckViews(b, RecordLines(journal, journal.size()));
      QVERIFY(LastMessage(b.bed) == QString::fromUtf8("ОТЧЕТ загружен"));
    }
    QVERIFY(b.bed.Boxes().empty());
  }

  void readingTwiceClearsBothViews() {
    TBed b(Journal(4));
    QVERIFY(b.connected);
    b.Read();
    QCOMPARE(b.page->MemoMagazineSource->LineCount(), 16);
    const std::vector<TRecord> second = Journal(2, 201);
    b.bed.Sim().ModifyState([&](sim::RegisterState& s) {
      s.journal.clear();
      for (const TRecord& r : second) s.journal.push_back(r.bytes);
    });
    b.Read();
    CheckIdle(b);
    CheckViews(b, RecordLines(second, second.size()));
    QCOMPARE(CountMessages(b.bed, QString::fromUtf8("Загружаем ОТЧЕТ...")), 2);
    QCOMPARE(CountMessages(b.bed, QString::fromUtf8("ОТЧЕТ загружен")), 2);
  }

  // A register that stops answering in mid-stream: "Сбой при загрузке
  // ОТЧЕТА" on console and log only, the records received so far kept.
  void exchangeFailureKeepsWhatArrived() {
    const std::vector<TRecord> journal = Journal(4);
    TBed b(journal);
    QVERIFY(b.connected);
    TOnEveryTurn silence([&] {
      if (b.Progress() == 0) return false;
      b.bed.Sim().AddFault("silence*inf");
      return true;
    });
    b.Read();
    b.bed.Sim().ClearFaults();
    CheckIdle(b);
    const std::size_t shown = b.page->MemoMagazineSource->Lines().size();
    QVERIFY(shown >= Frames(journal)[0].size() && shown < journal.size());
    CheckViews(b, RecordLines(journal, shown));
    QVERIFY(b.bed.Boxes().empty());
    QVERIFY(LastMessage(b.bed) == QString::fromUtf8("Error:Сбой при загрузке ОТЧЕТА"));
    QVERIFY(b.bed.LogLines().last().endsWith(QString::fromUtf8(" Error:Сбой при загрузке ОТЧЕТА")));
  }

  // The register cannot be reached: "Не удалось подключиться!" in a box, the
  // views untouched, no read.
  void noConnectionLeavesTheViews() {
    const std::vector<TRecord> journal = Journal(2);
    TBed b(journal);
    QVERIFY(b.connected);
    b.Read();
    QVERIFY(!b.bed.Connect());  // disconnected
    b.bed.Sim().AddFault("silence*inf");
    b.bed.TakeBoxes();
    const QString caption = b.page->bLoadMagazineFromKKM->text();
    b.Read();
    b.bed.Sim().ClearFaults();
    const std::vector<uitest::TBox> boxes = b.bed.TakeBoxes();
    QVERIFY(!boxes.empty());
    QCOMPARE(boxes.back().text, std::string(ui::kCannotConnectText));
    QCOMPARE(b.JournalCommands(), 1);
    CheckViews(b, RecordLines(journal, journal.size()));
    QCOMPARE(b.page->bLoadMagazineFromKKM->text(), caption);
    QVERIFY(b.w->PanelMenu()->isEnabled());
    QVERIFY(!b.page->Reading());
    QCOMPARE(CountMessages(b.bed, QString::fromUtf8("Загружаем ОТЧЕТ...")), 1);
  }

  // Both views saved in code page 1251, CR LF after every line, under
  // exactly the chosen name, replacing a file without asking; nothing
  // written when the dialog is cancelled, no message after a save.
  void savesBothViews() {
    std::vector<TRecord> journal = Journal(3);
    journal.insert(journal.begin() + 2, DamagedSale());
    TBed b(journal);
    QVERIFY(b.connected);
    b.Read();
    b.bed.TakeBoxes();
    const Lines records = RecordLines(journal, journal.size());
    const QString console = b.bed.ConsoleText();

    const QString data = b.bed.Path("journal.dat");
    QFile old(data);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(100000, 'x'));
    old.close();
    b.w->SelectPage(ui::pgConfig);
    SaveAs(b, "aSaveDataMagazin", data);
    QCOMPARE(b.w->CurrentPage(), int(ui::pgMagazine));
    QCOMPARE(ReadFileBytes(data), CrLfFile(records));

    const QString text = b.bed.Path("journal");  // no extension, none added
    SaveAs(b, "aSaveTextMagazin", text);
    const std::string bytes = ReadFileBytes(text);
    QCOMPARE(bytes, CrLfFile(TextLines(records)));
    QVERIFY(bytes.find(Utf8ToCp1251("ЧЕК:103     ФИСКАЛЬНЫЙ\r\n")) != std::string::npos);
    QVERIFY(bytes.find(Utf8ToCp1251("A1;2;1A00;1250;1;2 - ошибка!\r\n")) != std::string::npos);
    QCOMPARE(QDir(b.bed.Path("")).entryList(QStringList{"journal*"}, QDir::Files),
             (QStringList{"journal", "journal.dat"}));

    const QString cancelled = b.bed.Path("cancelled.txt");
    SaveAs(b, "aSaveDataMagazin", QString());
    QVERIFY(!QFile::exists(cancelled));
    // Saving changes neither the views nor the console.
    CheckViews(b, records);
    QCOMPARE(b.bed.ConsoleText(), console);
    QVERIFY(b.bed.Boxes().empty());
  }

  void emptyViewsSaveEmptyFiles() {
    TBed b({}, false);
    const QString path = b.bed.Path("empty.txt");
    SaveAs(b, "aSaveTextMagazin", path);
    QVERIFY(QFile::exists(path));
    QCOMPARE(ReadFileBytes(path), std::string());
  }

  void unwritableFileIsReported() {
    TBed b({}, false);
    const QString path = b.bed.Path("missing-folder/journal.txt");
    SaveAs(b, "aSaveDataMagazin", path);
    const std::vector<uitest::TBox> boxes = b.bed.TakeBoxes();
    QCOMPARE(boxes.size(), std::size_t{1});
    QCOMPARE(boxes[0].kind, BoxKind::Error);
    QCOMPARE(QString::fromStdString(boxes[0].text), QString::fromUtf8("Не удалось записать файл ") + path);
  }
};

QTEST_MAIN(JournalPageTest)
#include "test_journal.moc"
