// The operators tab against the simulated register: registers with four,
// eight and no programmable operators, reading, writing and the partial
// write report.
#include <QAction>
#include <QLabel>
#include <QtTest>

#include "ConfigTestSupport.h"
#include "DBGridEh.h"
#include "SpeedButtonEx.h"
#include "pages/ConfigPage.h"
#include "pages/OperatorsTab.h"

using namespace zarvik;

namespace {

constexpr std::uint8_t kGetOperatorName = 21;
constexpr std::uint8_t kSetOperatorName = 22;
constexpr std::uint8_t kSetPosition = 24;
constexpr const char* kBadFormat = "Неверный формат команды или данных";

sim::Scenario WithOperators(int count) {
  sim::Scenario sc = cfgtest::ShopScenario();
  sc.state.operatorCount = count;
  return sc;
}

// Fills the operator rows shown with "Кассир 1", "Должность 1", ...
void FillOperators(TWorkTable& t) {
  for (int i = 1; i <= t.RecordCount(); ++i) {
    QVERIFY(t.SetRecNo(i));
    t.Edit();
    t.SetText("operator", "Кассир " + std::to_string(i));
    t.SetText("dolgn", "Должность " + std::to_string(i));
    t.Post();
  }
}

std::vector<std::string> Names(const sim::RegisterState& s) {
  return {s.operatorNames.begin(), s.operatorNames.end()};
}

}  // namespace

class OperatorsTest : public QObject {
  Q_OBJECT
 private slots:
  void fourOperatorsReadWithoutAMessage() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed, WithOperators(4));
    TWorkTable& t = w.Bd().tmOperators;
    QCOMPARE(t.RecordCount(), 4);
    QCOMPARE(cfgtest::ConsoleCount(bed, "программируется:4 оператора"), 1);
    w.Action("OperatorLoad")->trigger();
    QVERIFY(bed.Boxes().empty());
    QCOMPARE(cfgtest::Column(t, "Num"), std::vector<std::string>({"1", "2", "3", "4"}));
    QCOMPARE(cfgtest::Column(t, "operator"),
             std::vector<std::string>(
                 {"Иванова Анна Петровн", "Петров Сергей", "Сидорова Мария", "Кузнецов Олег"}));
    QCOMPARE(cfgtest::Column(t, "dolgn"),
             std::vector<std::string>({"Старший кассир", "Кассир", "Кассир", "Администратор"}));
    QCOMPARE(cfgtest::Column(t, "LN"), std::vector<std::string>(4, "0"));
    // The name is cut to the 20 characters of the column.
    QCOMPARE(bed.Sim().State().operatorNames[0], std::string("Иванова Анна Петровна"));
    QCOMPARE(cfgtest::ConsoleCount(bed, "Загружены операторы и должности"), 1);
    QVERIFY(w.ConfigPage().Operators().Warning().isHidden());
    QVERIFY(w.isEnabled());
  }

  void eightOperatorsReadAndWritten() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed, WithOperators(8));
    TWorkTable& t = w.Bd().tmOperators;
    w.Action("OperatorLoad")->trigger();
    QCOMPARE(cfgtest::Column(t, "Num"), std::vector<std::string>({"1", "2", "3", "4", "5", "6", "7", "8"}));
    QCOMPARE(cfgtest::Column(t, "operator")[7], std::string("Зайцев Пётр"));
    FillOperators(t);
    w.Action("OperatorSave")->trigger();
    QVERIFY(bed.Boxes().empty());
    const sim::RegisterState s = bed.Sim().State();
    for (int i = 0; i < 8; ++i) {
      QCOMPARE(s.operatorNames[static_cast<std::size_t>(i)], "Кассир " + std::to_string(i + 1));
      QCOMPARE(s.positions[static_cast<std::size_t>(i)], "Должность " + std::to_string(i + 1));
    }
    QCOMPARE(cfgtest::ConsoleCount(bed, "Начало: операторы"), 1);
    QCOMPARE(cfgtest::ConsoleCount(bed, "Записаны операторы и должности"), 1);
  }

  void readFailuresLeaveTheTable() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed, WithOperators(8));
    TWorkTable& t = w.Bd().tmOperators;
    const std::vector<std::string> empty(8, "");
    {
      // Operator 6 answers with an error code.
      cfgtest::TFaultAfter fault(bed, kGetOperatorName, cfgtest::Executed(bed, kGetOperatorName) + 5,
                                 "result=21:3");
      w.Action("OperatorLoad")->trigger();
      QVERIFY(fault.Armed());
    }
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>({kBadFormat, "не удалось получить информацию о операторах"}));
    QCOMPARE(cfgtest::Column(t, "operator"), empty);
    {
      // Position 3 cannot be read at all: the register stays silent right
      // after the third name.
      cfgtest::TFaultAfter fault(bed, kGetOperatorName, cfgtest::Executed(bed, kGetOperatorName) + 3,
                                 cfgtest::EveryTry("wait=10"));
      w.Action("OperatorLoad")->trigger();
      QVERIFY(fault.Armed());
    }
    bed.Sim().DropPendingAnswer();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>{"не удалось получить информацию о должностях"});
    QCOMPARE(cfgtest::Column(t, "operator"), empty);
    QCOMPARE(cfgtest::ConsoleCount(bed, "Загружены операторы и должности"), 0);
    QVERIFY(w.isEnabled());
  }

  void registerWithoutOperators() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed, WithOperators(0));
    ui::TOperatorsTab& tab = w.ConfigPage().Operators();
    QCOMPARE(w.Bd().tmOperators.RecordCount(), 0);
    QVERIFY(!tab.Warning().isHidden());
    QCOMPARE(tab.Warning().text(),
             QString::fromUtf8("Данная ККМ не поддерживает программирование операторов"));
    QVERIFY(tab.Warning().font().bold());
    QCOMPARE(tab.Warning().palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QVERIFY(!w.Action("OperatorLoad")->isEnabled());
    QVERIFY(!w.Action("OperatorSave")->isEnabled());
    QVERIFY(!tab.findChild<ui::TSpeedButtonEx*>("bLoadOperators")->isEnabled());
    QCOMPARE(cfgtest::ConsoleCount(bed, "программируется:4 оператора"), 0);
    QCOMPARE(cfgtest::ConsoleCount(bed, "программируется:8 операторов"), 0);
  }

  void writingAnEmptyTableSendsNothing() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed, WithOperators(8));
    ClearRows(w.Bd().tmOperators);
    w.Action("OperatorSave")->trigger();
    QVERIFY(bed.Boxes().empty());
    QCOMPARE(cfgtest::Executed(bed, kSetOperatorName), 0);
    QCOMPARE(cfgtest::Executed(bed, kSetPosition), 0);
    QCOMPARE(cfgtest::ConsoleCount(bed, "Записаны операторы и должности"), 1);
  }

  void onlyTheFirstEightRowsAreWritten() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed, WithOperators(8));
    TWorkTable& t = w.Bd().tmOperators;
    t.Append();
    t.Post();
    t.Append();
    t.Post();
    QCOMPARE(t.RecordCount(), 10);
    QCOMPARE(cfgtest::Column(t, "Num")[9], std::string("10"));
    FillOperators(t);
    w.Action("OperatorSave")->trigger();
    QVERIFY(bed.Boxes().empty());
    QCOMPARE(cfgtest::Executed(bed, kSetOperatorName), 8);
    QCOMPARE(bed.Sim().State().operatorNames[7], std::string("Кассир 8"));
  }

  void partialWritesReported() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed, WithOperators(8));
    TWorkTable& t = w.Bd().tmOperators;
    FillOperators(t);
    const std::vector<std::string> before = Names(bed.Sim().State());

    // The third name is refused: two operators are written completely.
    {
      cfgtest::TFaultAfter fault(bed, kSetPosition, 2, "result=22:3");
      w.Action("OperatorSave")->trigger();
      QVERIFY(fault.Armed());
    }
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>({kBadFormat, "Записано только 2 стр."}));
    sim::RegisterState s = bed.Sim().State();
    std::vector<std::string> expected = before;
    expected[0] = "Кассир 1";
    expected[1] = "Кассир 2";
    QCOMPARE(Names(s), expected);
    QCOMPARE(s.positions[1], std::string("Должность 2"));
    QCOMPARE(s.positions[2], std::string("Кассир"));
    QCOMPARE(cfgtest::ConsoleCount(bed, "Записаны операторы и должности"), 0);

    // The first name or the first position refused: the texts of the first row.
    bed.Sim().AddFault("result=22:3");
    w.Action("OperatorSave")->trigger();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>({kBadFormat, "не удалось записать информацию о операторах"}));
    bed.Sim().AddFault("result=24:3");
    w.Action("OperatorSave")->trigger();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>({kBadFormat, "не удалось записать информацию о должностях"}));
    // A position refused later: the operators before it.
    {
      cfgtest::TFaultAfter fault(bed, kSetOperatorName, cfgtest::Executed(bed, kSetOperatorName) + 5,
                                 "result=24:3");
      w.Action("OperatorSave")->trigger();
      QVERIFY(fault.Armed());
    }
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>({kBadFormat, "Записано только 4 стр."}));
    QVERIFY(w.isEnabled());
  }

  void noConnection() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenUnconnectable(bed);
    for (const char* action : {"OperatorLoad", "OperatorSave"}) {
      w.Action(action)->trigger();
      QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
               std::vector<std::string>({"не удалось откыть порт", "Не удалось подключиться!"}));
    }
    QCOMPARE(w.Bd().tmOperators.RecordCount(), 8);
    QVERIFY(w.isEnabled());
  }

  void gridInAFixedPitchFont() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    ui::TDBGridEh& grid = w.ConfigPage().Operators().Grid();
    QCOMPARE(grid.objectName(), QString("DBGridEh2"));
    QVERIFY(QFontInfo(grid.font()).fixedPitch());
    ui::TWorkTableModel& m = grid.Model();
    QCOMPARE(m.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(),
             QString::fromUtf8("Оператор (до 20 символов)"));
    QCOMPARE(m.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(),
             QString::fromUtf8("Должность (до 18 символов)"));
    QVERIFY(!(m.flags(m.index(0, 0)) & Qt::ItemIsEditable));
    QVERIFY(m.flags(m.index(0, 1)) & Qt::ItemIsEditable);
    // Down from the last row adds none.
    grid.setCurrentIndex(m.index(7, 1));
    QTest::keyClick(&grid, Qt::Key_Down);
    QCOMPARE(m.rowCount(), 8);
    QVERIFY(w.ConfigPage().Operators().Warning().isHidden());
  }
};

QTEST_MAIN(OperatorsTest)
#include "test_operators.moc"
