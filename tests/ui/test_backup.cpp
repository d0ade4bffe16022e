// Protection of the register's values against a wrong write, against the
// simulated register: the backup before each write (a profile of the
// register, goods in a file) and writing it back; the rows that differ from
// the register marked on every configuration tab and "только отличия"
// sending only those; the characters the register cannot print marked in
// the grids and named when written or printed.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <QtTest>

#include "ConfigTestSupport.h"
#include "DBGridEh.h"
#include "SpeedButtonEx.h"
#include "pages/ConfigPage.h"
#include "pages/ConfigSysPage.h"
#include "pages/DepartmentsTab.h"
#include "pages/DiffMarks.h"
#include "pages/GoodsPage.h"
#include "pages/OperatorsTab.h"
#include "pages/ProfilePanel.h"
#include "pages/ReceiptTab.h"
#include "pages/TextTab.h"
#include "shell/IniFile.h"
#include "store/GoodsExchange.h"
#include "store/ProfileStore.h"
#include "store/RegisterBackup.h"

using namespace zarvik;

namespace {

constexpr std::uint8_t kGetDepartment = 7;
constexpr std::uint8_t kSetDepartment = 8;
constexpr std::uint8_t kSetHeaderLine = 4;
constexpr std::uint8_t kSetFooterLine = 6;
constexpr std::uint8_t kSetOptions = 10;
constexpr std::uint8_t kSetGoods = 17;
constexpr std::uint8_t kSetOperatorName = 22;
constexpr std::uint8_t kSetPosition = 24;
constexpr const char* kSerial = "002100457731";

std::vector<std::string> Names(ui::TfmMain& w) {
  return cfgtest::Column(w.Bd().mtProfile, "Name");
}

int Backups(ui::TfmMain& w) {
  int n = 0;
  for (const std::string& name : Names(w)) n += IsBackupName(name) ? 1 : 0;
  return n;
}

using uitest::SelectEntry;

void SetText(TWorkTable& t, int recNo, const char* field, const std::string& text) {
  QVERIFY(t.SetRecNo(recNo));
  t.Edit();
  t.SetText(field, text);
  t.Post();
}

// How a grid draws a cell.
QVariant Cell(ui::TDBGridEh& grid, int row, const char* field, int role) {
  return grid.Model().data(grid.Model().index(row, grid.Model().ColumnOf(field)), role);
}
bool MarkedAsDiffering(ui::TDBGridEh& grid, int row) {
  const QVariant fg = Cell(grid, row, "Num", Qt::ForegroundRole);
  const QVariant font = Cell(grid, row, "Num", Qt::FontRole);
  return fg.isValid() && fg.value<QBrush>().color() == ui::kDifferColor && font.value<QFont>().bold();
}
std::vector<int> MarkedRows(ui::TDBGridEh& grid) {
  std::vector<int> rows;
  for (int r = 0; r < grid.Model().rowCount(); ++r)
    if (MarkedAsDiffering(grid, r)) rows.push_back(r + 1);
  return rows;
}

// Warnings as the log keeps them (code page 1251: what it lacks becomes "?").
QStringList Warnings(uitest::TTestBed& bed) {
  QStringList out;
  for (const QString& line : bed.LogLines())
    if (line.contains(QStringLiteral("Warning:"))) out << line.section(QStringLiteral("Warning:"), 1);
  return out;
}

QStringList GoodsBackupFiles(uitest::TTestBed& bed) {
  return QDir(bed.Path("bd/backup")).entryList({QStringLiteral("goods_*.dbf")}, QDir::Files, QDir::Name);
}

}  // namespace

class BackupTest : public QObject {
  Q_OBJECT
 private slots:
  // --- backup before a write ------------------------------------------------

  void aWrongDepartmentWriteIsUndoneFromItsBackup() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    TWorkTable& t = w.Bd().mtDepatment;
    w.Action("aDepLoad")->trigger();
    QVERIFY(w.ConfigSysPage().BackupBox().isChecked());
    SetText(t, 2, "Name", "Ошибка");
    const int reads = cfgtest::Executed(bed, kGetDepartment);
    w.Action("aDepSave")->trigger();
    QVERIFY(bed.Boxes().empty());
    QCOMPARE(bed.Sim().State().departments[1].name, std::string("Ошибка"));
    // The sixteen departments were read before the write and kept.
    QCOMPARE(cfgtest::Executed(bed, kGetDepartment), reads + 16);
    QCOMPARE(Backups(w), 1);
    QVERIFY(bed.ConsoleText().contains(QString::fromUtf8("Резервная копия сохранена: «Авто ")));
    QCOMPARE(Names(w)[0], std::string(kRegisterProfileName));
    QCOMPARE(w.Bd().mtProfile.RecNo(), 1);  // the profile on display stays
    QCOMPARE(cfgtest::Column(t, "Name")[1], std::string("Ошибка"));

    // Selected and written back, it restores the register's departments.
    QVERIFY(SelectEntry(w, std::string(kBackupNamePrefix)));
    QCOMPARE(cfgtest::Column(t, "Name")[1], std::string("Доставка"));
    QCOMPARE(t.RecordCount(), 16);
    w.Action("aDepSave")->trigger();
    QVERIFY(bed.Boxes().empty());
    const sim::RegisterState s = bed.Sim().State();
    QCOMPARE(s.departments[1].name, std::string("Доставка"));
    QCOMPARE(s.departments[1].priceLimit, std::uint64_t{50050});
    QCOMPARE(s.departments[0].name, std::string("Бакалея"));
    // That write was backed up as well; the backup on display stays on display.
    QCOMPARE(Backups(w), 2);
    QVERIFY(IsBackupName(w.Bd().mtProfile.Text("Name")));
  }

  void theSettingTurnsTheBackupOffAndIsRemembered() {
    cfgtest::TConfigBed bed;
    {
      ui::TfmMain& w = cfgtest::OpenConnected(bed);
      w.Action("aDepLoad")->trigger();
      w.ConfigSysPage().BackupBox().setChecked(false);
      const int reads = cfgtest::Executed(bed, kGetDepartment);
      w.Action("aDepSave")->trigger();
      QCOMPARE(cfgtest::Executed(bed, kGetDepartment), reads);
      QCOMPARE(cfgtest::Executed(bed, kSetDepartment), 16);
      QCOMPARE(Backups(w), 0);
      w.close();
      bed.CloseWindow();
    }
    const TIniFile ini(bed.Path("ZarvikConfig.ini").toStdString());
    QCOMPARE(ini.ReadString("Backup", "ENABLED", ""), std::string("0"));
    QCOMPARE(ini.ReadString("Backup", "KEEP", ""), std::string("10"));
    ui::TfmMain& w = bed.OpenWindow();
    QVERIFY(!w.ConfigSysPage().BackupBox().isChecked());
    QVERIFY(!w.WriteSafety().backup.enabled);
  }

  void aFailedBackupCancelsTheWrite() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    w.Action("aDepLoad")->trigger();
    bed.Sim().AddFault("result=7:3");
    w.Action("aDepSave")->trigger();
    const std::vector<std::string> errors = cfgtest::BoxTexts(bed.TakeBoxes());
    QVERIFY(!errors.empty());
    QCOMPARE(errors.back(), std::string(kBackupFailedText));
    QCOMPARE(cfgtest::Executed(bed, kSetDepartment), 0);
    QCOMPARE(Backups(w), 0);
    QVERIFY(w.isEnabled());
  }

  void writeAllKeepsOneBackupAndAPartialProfileWritesOnlyWhatItHolds() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    w.Action("aLoadAll")->trigger();
    w.Action("aSaveAll")->trigger();
    QVERIFY(bed.Boxes().empty());
    QCOMPARE(Backups(w), 1);
    QVERIFY(bed.ConsoleText().endsWith(QString::fromUtf8("Запись завершена!")));
    // The backup holds every table write-all writes.
    QVERIFY(SelectEntry(w, std::string(kBackupNamePrefix)));
    QCOMPARE(w.Bd().mtOptions.RecordCount(), 32);
    QCOMPARE(w.Bd().mtDepatment.RecordCount(), 16);
    QCOMPARE(w.Bd().mtTitle.RecordCount(), 6);
    QCOMPARE(w.Bd().mtFooter.RecordCount(), 6);
    QCOMPARE(w.Bd().tmOperators.RecordCount(), 8);

    // A backup of the departments alone, written with write-all, leaves the
    // register's other tables as they are.
    w.Bd().mtProfile.First();
    w.Action("aDepSave")->trigger();
    QCOMPARE(Backups(w), 2);
    QVERIFY(SelectEntry(w, std::string(kBackupNamePrefix)));  // the newest first
    QCOMPARE(w.Bd().mtOptions.RecordCount(), 0);
    const int options = cfgtest::Executed(bed, kSetOptions);
    const int header = cfgtest::Executed(bed, kSetHeaderLine);
    const int departments = cfgtest::Executed(bed, kSetDepartment);
    w.Action("aSaveAll")->trigger();
    QVERIFY(bed.Boxes().empty());
    QCOMPARE(cfgtest::Executed(bed, kSetOptions), options);
    QCOMPARE(cfgtest::Executed(bed, kSetHeaderLine), header);
    QCOMPARE(cfgtest::Executed(bed, kSetDepartment), departments + 16);
    QCOMPARE(cfgtest::ConsoleCount(bed, "Опции: в настройке нет строк, не записаны"), 1);
    QCOMPARE(cfgtest::ConsoleCount(bed, "Заголовок и окончание чека: в настройке нет строк, не записаны"), 1);
    // The single receipt write refuses such a profile rather than blank the lines.
    w.Action("aCheckSave")->trigger();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>{"заголовок и окончание чека не записаны: в настройке нет строк"});
    QCOMPARE(cfgtest::Executed(bed, kSetHeaderLine), header);
  }

  void theOldestBackupsGo() {
    cfgtest::TConfigBed bed;
    bed.StartSimulator(cfgtest::ShopScenario());
    bed.WriteIni(QByteArray("[Port]\r\nCOMPort=") + QByteArray::number(uitest::kSimPort) +
                 "\r\nSpeed=115200\r\n[Backup]\r\nKEEP=2\r\n");
    ui::TfmMain& w = bed.OpenWindow();
    w.Protocol().waits = kNoLinkWaits;
    QVERIFY(bed.Connect());
    // Each backup a second after the one before.
    w.Profiles().clock = [start = std::chrono::system_clock::now(), n = std::make_shared<int>(0)] {
      return start + std::chrono::seconds(++*n);
    };
    for (int i = 0; i < 3; ++i) w.Action("aSaveOptions")->trigger();
    QVERIFY(bed.Boxes().empty());
    QCOMPARE(Backups(w), 2);
    QCOMPARE(w.WriteSafety().backup.keep, 2);
  }

  void goodsAreKeptInAFileBeforeTheyAreWritten() {
    cfgtest::TConfigBed bed;
    bed.StartSimulator(cfgtest::ShopScenario());
    bed.WriteIni(QByteArray("[Port]\r\nCOMPort=") + QByteArray::number(uitest::kSimPort) +
                 "\r\nSpeed=115200\r\n[Backup]\r\nKEEP=2\r\n");
    bed.Sim().ModifyState([](sim::RegisterState& s) {
      for (int code = 1; code <= 3; ++code) {
        sim::Goods g;
        g.code = code;
        g.name = "Товар " + std::to_string(code);
        g.price = 1000u * static_cast<unsigned>(code);
        g.section = 1;
        s.goods[code] = g;
      }
    });
    ui::TfmMain& w = bed.OpenWindow();
    w.Protocol().waits = kNoLinkWaits;
    QVERIFY(bed.Connect());
    TWorkTable& t = w.Bd().mtTOBAP;
    w.Action("tovarLoadAll")->trigger();
    QVERIFY(uitest::WaitFor([&] { return !w.RegisterBusy(); }));
    QCOMPARE(t.RecordCount(), 3);
    SetText(t, 2, "Name", "Испорчено");
    w.Action("tovarSaveAll")->trigger();
    QVERIFY(uitest::WaitFor([&] { return !w.RegisterBusy(); }));
    QVERIFY(bed.Boxes().empty());
    QCOMPARE(bed.Sim().State().goods.at(2).name, std::string("Испорчено"));
    QStringList files = GoodsBackupFiles(bed);
    QCOMPARE(files.size(), 1);
    QVERIFY(files[0].startsWith(QString::fromLatin1("goods_") + kSerial + "_"));
    // The file holds what the register had; the goods page takes it back.
    TBD read;
    QVERIFY(ImportGoodsDbf(bed.Path("bd/backup/" + files[0]).toStdString(), read.mtTOBAP, 100));
    QCOMPARE(cfgtest::Column(read.mtTOBAP, "Name"),
             (std::vector<std::string>{"Товар 1", "Товар 2", "Товар 3"}));
    // One row written: one record kept; of each register the last two files stay.
    QVERIFY(t.SetRecNo(3));
    w.Action("tovarSaveOne")->trigger();
    QVERIFY(uitest::WaitFor([&] { return !w.RegisterBusy(); }));
    w.Action("tovarSaveOne")->trigger();
    QVERIFY(uitest::WaitFor([&] { return !w.RegisterBusy(); }));
    // (the write of the whole table sent the one row that differed)
    QCOMPARE(cfgtest::Executed(bed, kSetGoods), 3);
    files = GoodsBackupFiles(bed);
    QCOMPARE(files.size(), 2);
    QVERIFY(ImportGoodsDbf(bed.Path("bd/backup/" + files[1]).toStdString(), read.mtTOBAP, 100));
    QCOMPARE(cfgtest::Column(read.mtTOBAP, "Code"), std::vector<std::string>{"3"});
  }

  void theStopButtonStopsTheGoodsBackupAndTheWrite() {
    cfgtest::TConfigBed bed;
    sim::Scenario sc = cfgtest::ShopScenario();
    sc.state.goodsCapacity = 1000;
    // (in the open departments 1..3)
    for (int code = 1; code <= 60; ++code) sc.state.goods[code] = sim::GeneratedGoods(code, 3);
    ui::TfmMain& w = cfgtest::OpenConnected(bed, sc);
    TWorkTable& t = w.Bd().mtTOBAP;
    w.Action("tovarLoadAll")->trigger();
    QVERIFY(uitest::WaitFor([&] { return !w.RegisterBusy(); }));
    QCOMPARE(t.RecordCount(), 60);  // more than are read one by one: the whole table is kept
    // The stop button, pressed while the goods are being read (for the
    // comparison and the backup).
    QTimer press;
    connect(&press, &QTimer::timeout, this, [&] {
      if (!bed.ConsoleText().contains(QString::fromUtf8("Читаем товар ККМ для сравнения..."))) return;
      press.stop();
      w.GoodsPage().bSaveTOBAP->click();
    });
    press.start(0);
    w.Action("tovarSaveAll")->trigger();
    QVERIFY(uitest::WaitFor([&] { return !w.RegisterBusy(); }));
    QVERIFY(bed.TakeBoxes().empty());
    QVERIFY(bed.ConsoleText().endsWith(QString::fromUtf8("Warning:Товары записаны частично, 0 тов.")));
    QCOMPARE(cfgtest::Executed(bed, kSetGoods), 0);
    QVERIFY(GoodsBackupFiles(bed).isEmpty());
    QVERIFY(!w.Transfer().transferStopRequested);
    QCOMPARE(w.GoodsPage().bSaveTOBAP->text(), QString::fromUtf8("Записать все в ККМ"));
  }

  // --- differences -------------------------------------------------------------

  void aDepartmentChangedOnTheRegisterIsMarkedAndWrittenAlone() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    ui::TDBGridEh& grid = w.ConfigPage().Departments().Grid();
    w.Action("aLoadAll")->trigger();
    QVERIFY(MarkedRows(grid).empty());  // no stored profile: nothing to compare with
    QTest::mouseClick(w.ConfigPage().Profiles().bSavePropKKMtoBD, Qt::LeftButton);
    QVERIFY(w.Flags().storedProfilesFound);
    QCOMPARE(w.Bd().mtProfile.Text("Name"), std::string(kStoredProfileName));
    QVERIFY(MarkedRows(grid).empty());

    // Someone changes department 2 at the register; it is read again.
    bed.Sim().ModifyState([](sim::RegisterState& s) { s.departments[1].name = "Доставка на дом"; });
    w.Action("aDepLoad")->trigger();
    QCOMPARE(w.Bd().mtProfile.RecNo(), 1);
    QCOMPARE(MarkedRows(grid), std::vector<int>{2});  // the register's values against the stored profile
    QVERIFY(!MarkedAsDiffering(grid, 0));
    QVERIFY(!Cell(grid, 1, "Name", Qt::ForegroundRole).isValid());  // only the number is marked
    QVERIFY(SelectEntry(w, std::string(kStoredProfileName)));
    QCOMPARE(MarkedRows(grid), std::vector<int>{2});  // the stored profile against the register's values

    // "только отличия": the stored profile written back sends department 2 alone.
    w.ConfigPage().OnlyDifferences().setChecked(true);
    QVERIFY(w.WriteSafety().onlyDifferences);
    const int before = cfgtest::Executed(bed, kSetDepartment);
    w.Action("aDepSave")->trigger();
    QVERIFY(bed.Boxes().empty());
    QCOMPARE(cfgtest::Executed(bed, kSetDepartment), before + 1);
    QCOMPARE(bed.Sim().State().departments[1].name, std::string("Доставка"));
    QCOMPARE(cfgtest::ConsoleCount(bed, "Записываются отличающиеся отделы: 2"), 1);
    // Nothing differs any more: nothing is sent.
    w.Action("aDepSave")->trigger();
    QCOMPARE(cfgtest::Executed(bed, kSetDepartment), before + 1);
    QCOMPARE(cfgtest::ConsoleCount(bed, "Отделы не отличаются от ККМ, запись не нужна"), 1);
  }

  void onlyDifferencesForLinesOperatorsAndOptions() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    w.Action("aLoadAll")->trigger();
    QTest::mouseClick(w.ConfigPage().Profiles().bSavePropKKMtoBD, Qt::LeftButton);
    // The register's header font and operator 3's name change.
    bed.Sim().ModifyState([](sim::RegisterState& s) {
      for (sim::TextLine& l : s.header) l.font = 1;
      s.operatorNames[2] = "Сидорова-Петрова";
    });
    w.Action("aLoadAll")->trigger();
    ui::TReceiptTab& receipt = w.ConfigPage().Receipt();
    ui::TOperatorsTab& operators = w.ConfigPage().Operators();
    QCOMPARE(MarkedRows(receipt.TitleGrid()), std::vector<int>{});  // the lines themselves are the same
    QCOMPARE(MarkedRows(operators.Grid()), std::vector<int>{3});
    QVERIFY(SelectEntry(w, std::string(kStoredProfileName)));
    QLabel* titleFont = receipt.findChild<QLabel*>("LabelTitleFont");
    QLabel* footerFont = receipt.findChild<QLabel*>("LabelFooterFont");
    QVERIFY(titleFont->font().bold());
    QCOMPARE(titleFont->palette().color(QPalette::WindowText), ui::kDifferColor);
    QVERIFY(!footerFont->font().bold());

    w.ConfigPage().OnlyDifferences().setChecked(true);
    w.ConfigSysPage().BackupBox().setChecked(false);
    const int header = cfgtest::Executed(bed, kSetHeaderLine);
    const int footer = cfgtest::Executed(bed, kSetFooterLine);
    const int names = cfgtest::Executed(bed, kSetOperatorName);
    const int positions = cfgtest::Executed(bed, kSetPosition);
    const int options = cfgtest::Executed(bed, kSetOptions);
    w.Action("aSaveAll")->trigger();
    QVERIFY(bed.Boxes().empty());
    // A changed font goes with all six lines of its block; the footer is the same.
    QCOMPARE(cfgtest::Executed(bed, kSetHeaderLine), header + 6);
    QCOMPARE(cfgtest::Executed(bed, kSetFooterLine), footer);
    // Operator 3, and operator 1, whose name the register holds with 21
    // characters and the table with 20: writing it changes the register.
    QCOMPARE(cfgtest::Executed(bed, kSetOperatorName), names + 2);
    QCOMPARE(cfgtest::Executed(bed, kSetPosition), positions);
    QCOMPARE(cfgtest::Executed(bed, kSetOptions), options);
    QCOMPARE(cfgtest::ConsoleCount(bed, "Опции не отличаются от ККМ, запись не нужна"), 1);
    const sim::RegisterState s = bed.Sim().State();
    QCOMPARE(s.header[3].font, std::uint8_t{2});
    QCOMPARE(s.operatorNames[2], std::string("Сидорова Мария"));
    QCOMPARE(Backups(w), 0);
  }

  // --- characters the register cannot print ---------------------------------------

  void unprintableCharactersAreMarkedAndNamed() {
    cfgtest::TConfigBed bed({"okb"});
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    w.ConfigSysPage().BackupBox().setChecked(false);
    TBD& bd = w.Bd();
    w.Action("aLoadAll")->trigger();
    SetText(bd.mtDepatment, 2, "Name", "Кофе ø日");
    SetText(bd.mtTitle, 2, "Caption", "«Ромашка»");
    SetText(bd.tmOperators, 1, "dolgn", "Кассир №1");
    ui::TDBGridEh& deps = w.ConfigPage().Departments().Grid();
    QCOMPARE(Cell(deps, 1, "Name", Qt::BackgroundRole).value<QBrush>().color(), ui::kUnprintableColor);
    QCOMPARE(Cell(deps, 1, "Name", Qt::ToolTipRole).toString(),
             QString::fromUtf8("ККМ не печатает знаки «ø U+00F8», «日 U+65E5»; они не будут записаны"));
    QVERIFY(!Cell(deps, 0, "Name", Qt::BackgroundRole).isValid());
    QVERIFY(
        Cell(w.ConfigPage().Receipt().TitleGrid(), 1, "Caption", Qt::ToolTipRole).toString().contains("««»"));
    QVERIFY(Cell(w.ConfigPage().Operators().Grid(), 0, "dolgn", Qt::ToolTipRole).toString().contains("«№»"));

    w.Action("aSaveAll")->trigger();
    QVERIFY(bed.Boxes().empty());
    const QStringList warnings = Warnings(bed);
    for (const char* expected :
         {"Отдел 2: ККМ не печатает знаки «? U+00F8», «? U+65E5» в тексте «Кофе ??», они не будут записаны",
          "Заголовок чека, строка 2: ККМ не печатает знаки ««», «»» в тексте ««Ромашка»», они не будут "
          "записаны",
          "Должность 1: ККМ не печатает знаки «№» в тексте «Кассир №1», они не будут записаны"})
      QVERIFY2(warnings.contains(QString::fromUtf8(expected)), expected);
    const sim::RegisterState s = bed.Sim().State();
    QCOMPARE(s.departments[1].name, std::string("Кофе "));
    QCOMPARE(s.header[1].text, std::string("Ромашка"));
    QCOMPARE(s.positions[0], std::string("Кассир 1"));

    // Goods names in the goods grid, and printed lines.
    TWorkTable& goods = bd.mtTOBAP;
    goods.Append();
    goods.SetInteger("Code", 1);
    goods.SetText("Name", "Сыр «Российский»");
    goods.SetText("Price", "1");
    goods.Post();
    ui::TGoodsPage& page = w.GoodsPage();
    QCOMPARE(page.CellState(0, 2), ui::TGoodsCellState::Error);
    QVERIFY(Cell(*page.DBGridEhTOBAP, 0, "Name", Qt::ToolTipRole).toString().contains("«»»"));
    QCOMPARE(page.CellState(0, 0), ui::TGoodsCellState::Plain);
    ui::TTextTab& text = w.ConfigPage().Text();
    text.mText->setPlainText(QString::fromUtf8("Проверка\n日本 ø"));
    text.bPrintTextClick();
    QCOMPARE(
        cfgtest::ConsoleCount(
            bed, "Строка 2: ККМ не печатает знаки «日 U+65E5», «本 U+672C», «ø U+00F8» в тексте «日本 ø»"),
        1);
    QCOMPARE(bed.Sim().State().printed.size(), std::size_t{2});
  }
};

QTEST_MAIN(BackupTest)
#include "test_backup.moc"
