// The options tab against the simulated register: the card view and the
// table view, the interval and difference drawing, reading, writing and the
// default values.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include "ConfigTestSupport.h"
#include "DBGridEh.h"
#include "DBLabel.h"
#include "SpeedButtonEx.h"
#include "WaitForm.h"
#include "model/OptionTable.h"
#include "pages/ConfigPage.h"
#include "pages/OptionCardGrid.h"
#include "pages/OptionsTab.h"
#include "pages/ProfilePanel.h"

using namespace zarvik;
using ui::TCardPart;

namespace {

constexpr std::uint8_t kGetOptions = 9;
constexpr std::uint8_t kSetOptions = 10;
const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);

ui::TOptionsTab& OptionsOf(ui::TfmMain& w) {
  return w.ConfigPage().Options();
}

// Sets fields of the options row at 1-based position `recNo` and posts it.
void SetRow(TWorkTable& t, int recNo, std::initializer_list<std::pair<const char*, std::int64_t>> values,
            const char* ln = nullptr) {
  QVERIFY(t.SetRecNo(recNo));
  t.Edit();
  for (const auto& [field, value] : values) t.SetInteger(field, value);
  if (ln != nullptr) t.SetText("LN", ln);
  t.Post();
}

// The font and colour the card grid draws a part of row `row` with.
std::pair<QFont, QColor> CardLook(ui::TOptionCardGrid& cards, int row, TCardPart part) {
  QFont f = cards.font();
  QColor c = cards.palette().color(QPalette::WindowText);
  cards.BeforeDrawCell(row, part, f, c);
  return {f, c};
}

// Whether the drawn card of `row` has a pixel of `color` in `part`.
bool CardShows(ui::TOptionCardGrid& cards, int row, TCardPart part, const QColor& color) {
  const QImage image = cards.viewport()->grab().toImage();
  const QRect r = cards.PartRect(cards.visualRect(cards.Model().index(row, 0)), part);
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (image.pixelColor(x, y) == color) return true;
  return false;
}

int OutOfIntervalRows(ui::TOptionsTab& tab, int rows) {
  int n = 0;
  for (int r = 0; r < rows; ++r) n += tab.RowOutOfInterval(r) ? 1 : 0;
  return n;
}

}  // namespace

class OptionsTest : public QObject {
  Q_OBJECT
 private slots:
  void cardsTableViewAndCaptions() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    ui::TOptionsTab& tab = OptionsOf(w);
    ui::TOptionCardGrid& cards = tab.Cards();
    QCoreApplication::processEvents();
    QCOMPARE(cards.objectName(), QString("DBCtrlGrid2"));
    QCOMPARE(cards.Model().rowCount(), 32);

    // Twenty cards a column, two columns in view, the rest sideways.
    const auto at = [&](int row) { return cards.visualRect(cards.Model().index(row, 0)); };
    QCOMPARE(at(19).x(), at(0).x());
    QVERIFY(at(19).y() > at(18).y());
    QCOMPARE(at(20).y(), at(0).y());
    QCOMPARE(at(20).x(), at(0).x() + cards.CardSize().width());
    QVERIFY(cards.viewport()->width() >= 2 * cards.CardSize().width());
    QVERIFY(cards.viewport()->width() < 3 * cards.CardSize().width());

    for (const auto& [name, text] :
         {std::pair{"Label11", "№   знач.    интервал"}, std::pair{"Label12", "№   знач.    интервал"},
          std::pair{"Label16", "Описание"}}) {
      auto* l = tab.findChild<QLabel*>(name);
      QVERIFY2(l != nullptr, name);
      QCOMPARE(l->text(), QString::fromUtf8(text));
    }
    for (const auto& [name, text] :
         {std::pair{"bLoadOptions", "считать из ККМ"}, std::pair{"bSaveOptions", "записать в ККМ"},
          std::pair{"bSetDefaultOptions", "по умолчанию"}, std::pair{"bVid", "Вид"}}) {
      auto* b = tab.findChild<ui::TSpeedButtonEx*>(name);
      QVERIFY2(b != nullptr, name);
      QCOMPARE(b->text(), QString::fromUtf8(text));
      QVERIFY(b->isEnabled());
    }
    QCOMPARE(cards.accessibleName(), QString::fromUtf8("Опции"));
    QCOMPARE(cards.Model().index(2, 0).data(Qt::AccessibleTextRole).toString(),
             QString::fromUtf8("№ 3, знач. 0, интервал  - "));

    // The description beside the cards follows the current option.
    TWorkTable& t = w.Bd().mtOptions;
    t.SetRecNo(3);
    QCOMPARE(cards.currentIndex().row(), 2);
    QCOMPARE(tab.Description().objectName(), QString("DBText4"));
    QCOMPARE(tab.Description().text().toStdString(), OptionTableDescription(3));

    // "Вид" shows the table over the cards and, pressed again, the cards.
    ui::TDBGridEh& grid = tab.Grid();
    QCOMPARE(grid.objectName(), QString("DBGridEhOptions"));
    QVERIFY(grid.isHidden());
    w.Action("aViewOptions")->trigger();
    QVERIFY(!grid.isHidden());
    QVERIFY(cards.isHidden() || !cards.isVisibleTo(&tab));
    QCOMPARE(grid.currentIndex().row(), 2);
    w.Action("aViewOptions")->trigger();
    QVERIFY(grid.isHidden());
    QVERIFY(cards.isVisibleTo(&tab));

    // The table: number, value, interval and description; only the value
    // can be edited, and no row can be added.
    ui::TWorkTableModel& m = grid.Model();
    QStringList titles;
    for (int c = 0; c < m.columnCount(); ++c)
      titles << m.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    QCOMPARE(titles, QStringList({"№", "Знач.", "Интервал", "Описание"}));
    for (int c = 0; c < m.columnCount(); ++c)
      QCOMPARE(bool(m.flags(m.index(0, c)) & Qt::ItemIsEditable), c == m.ColumnOf("Value"));
    grid.setCurrentIndex(m.index(31, m.ColumnOf("Value")));
    QTest::keyClick(&grid, Qt::Key_Down);
    QCOMPARE(m.rowCount(), 32);
  }

  void editingInTheCards() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    ui::TOptionCardGrid& cards = OptionsOf(w).Cards();
    TWorkTable& t = w.Bd().mtOptions;
    QCoreApplication::processEvents();

    // A press on a card makes it current and opens its value editor with
    // the whole value selected, so typing replaces it.
    SetRow(t, 5, {{"Value", 42}});
    QTest::mouseClick(cards.viewport(), Qt::LeftButton, {},
                      cards.visualRect(cards.Model().index(4, 0)).center());
    QCOMPARE(t.RecNo(), 5);
    QLineEdit* editor = cards.Editor();
    QVERIFY(editor != nullptr);
    QCOMPARE(editor->objectName(), QString("DBEditOpt"));
    QVERIFY(editor->font().bold());
    QCOMPARE(editor->selectedText(), QString("42"));
    QTest::keyClicks(editor, "7");
    QTest::keyClick(editor, Qt::Key_Return);
    QVERIFY(uitest::WaitFor([&] { return t.RecNo() == 6; }));
    QCOMPARE(t.GetState(), TWorkTable::State::Browse);
    QCOMPARE(w.Bd().mtOptions.ViewText(4, t.FieldIndex("Value")), std::string("7"));

    // Enter went on to the next card and opened its editor; Up and Down
    // move between cards, storing what was typed.
    editor = cards.Editor();
    QVERIFY(editor != nullptr);
    QTest::keyClicks(editor, "3");
    QTest::keyClick(editor, Qt::Key_Down);
    QCOMPARE(t.RecNo(), 7);
    QCOMPARE(t.ViewText(5, t.FieldIndex("Value")), std::string("3"));
    editor = cards.Editor();
    QVERIFY(editor != nullptr);
    QTest::keyClick(editor, Qt::Key_Up);
    QTest::keyClick(cards.Editor(), Qt::Key_Up);
    QCOMPARE(t.RecNo(), 5);

    // A value is one byte: the editor takes no more.
    editor = cards.Editor();
    QTest::keyClicks(editor, "300");
    QTest::keyClick(editor, Qt::Key_Down);
    QVERIFY(t.ViewText(4, t.FieldIndex("Value")) != "300");

    // The table view edits the same rows.
    cards.PostEditor();
    OptionsOf(w).ViewOptions();
    ui::TDBGridEh& grid = OptionsOf(w).Grid();
    const QModelIndex value = grid.Model().index(9, grid.Model().ColumnOf("Value"));
    QVERIFY(grid.Model().setData(value, "9", Qt::EditRole));
    QCOMPARE(t.ViewText(9, t.FieldIndex("Value")), std::string("9"));
    QCOMPARE(cards.Model().index(9, 0).data().toString(), QString("9"));
  }

  void intervalAndDifferenceDrawing() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    ui::TOptionsTab& tab = OptionsOf(w);
    ui::TOptionCardGrid& cards = tab.Cards();
    TBD& bd = w.Bd();
    TWorkTable& t = bd.mtOptions;
    const int diapazon = t.FieldIndex("Diapazon");
    QCoreApplication::processEvents();

    // A value of 200 in the interval 0 - 3: the interval in red and bold.
    SetRow(t, 1, {{"Min", 0}, {"Max", 3}, {"Value", 200}});
    // Zero allowed besides 5 - 99: "0; 5 - 99", and 0 is drawn normally.
    SetRow(t, 2, {{"Min", 5}, {"Max", 99}, {"CanNul", 1}, {"Value", 0}});
    // Zero not allowed: 0 is out of 5 - 99.
    SetRow(t, 3, {{"Min", 5}, {"Max", 99}, {"CanNul", 0}, {"Value", 0}});
    SetRow(t, 4, {{"Min", 1}, {"Max", 4}, {"Value", 4}});
    QCOMPARE(t.ViewText(1, diapazon), std::string("0; 5 - 99"));
    QCOMPARE(t.ViewText(2, diapazon), std::string("5 - 99"));
    QCOMPARE(std::vector<bool>({tab.RowOutOfInterval(0), tab.RowOutOfInterval(1), tab.RowOutOfInterval(2),
                                tab.RowOutOfInterval(3)}),
             std::vector<bool>({true, false, true, false}));
    auto [font, color] = CardLook(cards, 0, TCardPart::Interval);
    QVERIFY(font.bold());
    QCOMPARE(color, kRed);
    std::tie(font, color) = CardLook(cards, 1, TCardPart::Interval);
    QVERIFY(!font.bold());
    QCOMPARE(color, cards.palette().color(QPalette::WindowText));
    cards.viewport()->repaint();
    QVERIFY(CardShows(cards, 0, TCardPart::Interval, kRed));
    QVERIFY(!CardShows(cards, 1, TCardPart::Interval, kRed));

    // The table view: red and bold in the interval column except in the
    // focused cell.
    ui::TDBGridEh& grid = tab.Grid();
    ui::TWorkTableModel& m = grid.Model();
    const int rangeColumn = m.ColumnOf("Diapazon");
    grid.setCurrentIndex(m.index(3, 0));
    ui::TCellStyle s = m.cellStyle(0, rangeColumn);
    QCOMPARE(s.foreground.value_or(QColor()), kRed);
    QVERIFY(s.bold.value_or(false));
    grid.setCurrentIndex(m.index(0, rangeColumn));
    QVERIFY(!m.cellStyle(0, rangeColumn).foreground.has_value());
    QVERIFY(!m.cellStyle(1, rangeColumn).foreground.has_value());
    QVERIFY(m.cellStyle(0, m.ColumnOf("Value")).bold.value_or(false));
  }

  void differencesAgainstAStoredProfile() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    ui::TOptionsTab& tab = OptionsOf(w);
    TBD& bd = w.Bd();
    QVERIFY(!w.Flags().storedProfilesFound);
    SetRow(bd.mtOptions, 3, {{"Value", 7}});
    QVERIFY(!tab.RowDiffers(2));
    // The register's settings stored as its profile; the list shows it.
    QTest::mouseClick(w.ConfigPage().Profiles().bSavePropKKMtoBD, Qt::LeftButton);
    QVERIFY(w.Flags().storedProfilesFound);
    QCOMPARE(bd.mtProfile.RecNo(), 2);
    for (int r = 0; r < 32; ++r) QVERIFY(!tab.RowDiffers(r));
    // A value of the stored profile that is not the register's.
    SetRow(bd.mtOptions, 5, {{"Value", 0}});
    QVERIFY(tab.RowDiffers(4));
    QVERIFY(!tab.RowDiffers(3));
    // Back on the register's settings: option 5 differs from the profile.
    bd.mtProfile.First();
    QCOMPARE(bd.mtOptions.Text("LN"), std::string("0"));
    QVERIFY(tab.RowDiffers(4));
    QVERIFY(!tab.RowDiffers(2));
    ui::TOptionCardGrid& cards = tab.Cards();
    QCoreApplication::processEvents();
    cards.viewport()->repaint();
    QVERIFY(CardShows(cards, 4, TCardPart::Number, kBlue));
    QVERIFY(!CardShows(cards, 2, TCardPart::Number, kBlue));
  }

  void defaultsWithoutRegister() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    TWorkTable& t = w.Bd().mtOptions;
    SetRow(t, 1, {{"Value", 77}});
    QVERIFY(w.Info() == nullptr);
    w.Action("aSetDefaultOptions")->trigger();
    QCOMPARE(t.RecordCount(), 32);
    for (int i = 1; i <= 32; ++i) {
      const TOptionTableRow* r = OptionTableRow(i);
      QVERIFY(t.SetRecNo(i));
      QCOMPARE(t.Int("num"), std::int64_t{i});
      QCOMPARE(t.Int("Min"), std::int64_t{r->Min});
      QCOMPARE(t.Int("Max"), std::int64_t{r->Max});
      QCOMPARE(t.Int("Value"), std::int64_t{r->Default});
      QCOMPARE(t.Text("CanNul"), std::string("0"));
      QCOMPARE(t.Text("LN"), std::string("0"));
    }
    QVERIFY(bed.Boxes().empty());
  }

  void defaultsFromTheRegistersDescriptors() {
    cfgtest::TConfigBed bed;
    sim::Scenario sc = cfgtest::ShopScenario();
    sc.state.options.assign(64, 0);
    ui::TfmMain& w = cfgtest::OpenConnected(bed, sc);
    TWorkTable& t = w.Bd().mtOptions;
    QCOMPARE(t.RecordCount(), 64);
    w.Action("aSetDefaultOptions")->trigger();
    QCOMPARE(t.RecordCount(), 64);
    const TKKMInfo& info = *w.Info();
    for (int i = 1; i <= 64; ++i) {
      const TOptionsInfo& d = info.options[static_cast<std::size_t>(i - 1)];
      QVERIFY(t.SetRecNo(i));
      QCOMPARE(t.Int("Min"), std::int64_t{d.minValue});
      QCOMPARE(t.Int("Max"), std::int64_t{d.maxValue});
      QCOMPARE(t.Int("CanNul"), std::int64_t{d.canNull ? 1 : 0});
      QCOMPARE(t.Int("Value"), std::int64_t{d.defaultValue});
    }
    QVERIFY(t.SetRecNo(34));
    QCOMPARE(t.Text("Diapazon"), std::string("0; 5 - 99"));
    QCOMPARE(t.Int("Value"), std::int64_t{10});
    // Nothing was sent.
    QCOMPARE(cfgtest::Executed(bed, kSetOptions), 0);
  }

  void defaultsOfARegisterWithoutOptions() {
    cfgtest::TConfigBed bed;
    sim::Scenario sc = cfgtest::ShopScenario();
    sc.state.options.clear();
    ui::TfmMain& w = cfgtest::OpenConnected(bed, sc);
    TWorkTable& t = w.Bd().mtOptions;
    QCOMPARE(w.Info()->OptionCount(), std::uint8_t{0});
    t.Append();
    t.SetInteger("num", 1);
    t.Post();
    w.Action("aSetDefaultOptions")->trigger();
    QCOMPARE(t.RecordCount(), 0);
  }

  void readingWhileDisconnectedConnectsAndReadsTwice() {
    cfgtest::TConfigBed bed;
    bed.StartSimulator(cfgtest::ShopScenario());
    bed.UseSimulatorPort();
    ui::TfmMain& w = bed.OpenWindow();
    w.Protocol().waits = kNoLinkWaits;
    w.Action("aLoadOptions")->trigger();
    QVERIFY(w.RegisterPort().IsOpen());
    QCOMPARE(cfgtest::Executed(bed, kGetOptions), 2);
    const std::vector<std::uint8_t> values = bed.Sim().State().options;
    std::vector<std::string> expected;
    for (std::uint8_t v : values) expected.push_back(std::to_string(v));
    QCOMPARE(cfgtest::Column(w.Bd().mtOptions, "Value"), expected);
    QCOMPARE(cfgtest::Column(w.Bd().mtOptions, "LN"), std::vector<std::string>(values.size(), "0"));
    QCOMPARE(cfgtest::ConsoleCount(bed, "Опции загружены"), 1);
    QCOMPARE(cfgtest::LogCount(bed, "Опции загружены"), 1);
    QVERIFY(w.Flags().optionsLoaded);
    QVERIFY(bed.Boxes().empty());
    QVERIFY(w.isEnabled());
    QVERIFY(!w.WaitForm().isVisible());
    QVERIFY(!w.RegisterBusy());
  }

  void readingFailureKeepsTheRows() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    TWorkTable& t = w.Bd().mtOptions;
    SetRow(t, 1, {{"Value", 3}});
    w.Flags().optionsLoaded = false;
    bed.Sim().AddFault(cfgtest::EveryTry("wait=10"));
    w.Action("aLoadOptions")->trigger();
    bed.Sim().ClearFaults();
    bed.Sim().DropPendingAnswer();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()), std::vector<std::string>{"не удалось получить опции"});
    QCOMPARE(t.RecordCount(), 32);
    QCOMPARE(cfgtest::Column(t, "Value")[0], std::string("3"));
    QVERIFY(!w.Flags().optionsLoaded);
    QCOMPARE(cfgtest::ConsoleCount(bed, "Опции загружены"), 0);
    QVERIFY(w.isEnabled());
    QVERIFY(!w.WaitForm().isVisible());
  }

  void writingSendsOutOfIntervalValuesWithAWarning() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    ui::TOptionsTab& tab = OptionsOf(w);
    TWorkTable& t = w.Bd().mtOptions;
    QCOMPARE(OutOfIntervalRows(tab, 32), 0);
    // Option 1 takes 0 - 3.
    SetRow(t, 1, {{"Value", 200}});
    SetRow(t, 32, {{"Value", 1}});
    // A value still in the card editor is written too.
    QVERIFY(t.SetRecNo(2));
    tab.Cards().EditCurrent();
    QVERIFY(tab.Cards().Editor() != nullptr);
    tab.Cards().Editor()->setText("16");
    t.SetRecNo(7);
    w.Action("aSaveOptions")->trigger();
    std::vector<std::uint8_t> expected = cfgtest::ShopScenario().state.options;
    expected[0] = 200;
    expected[1] = 16;
    expected[31] = 1;
    QCOMPARE(bed.Sim().State().options, expected);
    QCOMPARE(cfgtest::ConsoleCount(bed, "опция вне интервала!"), 1);
    QCOMPARE(cfgtest::LogCount(bed, "опция вне интервала!"), 1);
    QCOMPARE(cfgtest::ConsoleCount(bed, "опции записаны"), 1);
    QVERIFY(bed.Boxes().empty());
    // The user's place in the table is kept.
    QCOMPARE(t.RecNo(), 7);
    QVERIFY(w.isEnabled());
    QVERIFY(!w.WaitForm().isVisible());
  }

  void writingFailureKeepsTheRegistersValues() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    SetRow(w.Bd().mtOptions, 3, {{"Value", 9}});
    bed.Sim().AddFault("result=10:3");
    w.Action("aSaveOptions")->trigger();
    const std::vector<uitest::TBox> boxes = bed.TakeBoxes();
    QCOMPARE(cfgtest::BoxTexts(boxes), std::vector<std::string>{"Неверный формат команды или данных"});
    QCOMPARE(cfgtest::BoxTexts(boxes, BoxKind::Information), std::vector<std::string>{"опции не записались"});
    QCOMPARE(bed.Sim().State().options, cfgtest::ShopScenario().state.options);
    QCOMPARE(w.Info()->optionValues[2], std::uint8_t{9});
    QCOMPARE(cfgtest::ConsoleCount(bed, "опции не записались"), 1);
    QVERIFY(w.isEnabled());
  }

  void writingRefusesAProfileWithFewerRows() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    TWorkTable& t = w.Bd().mtOptions;
    while (t.RecordCount() > 10) {
      t.Last();
      t.Delete();
    }
    SetRow(t, 1, {{"Value", 2}});
    w.Action("aSaveOptions")->trigger();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>{"опции не записаны: в настройке 10 опций, а в ККМ 32"});
    QCOMPARE(cfgtest::Executed(bed, kSetOptions), 0);
    QCOMPARE(bed.Sim().State().options, cfgtest::ShopScenario().state.options);
    QVERIFY(w.isEnabled());
  }

  void noConnection() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenUnconnectable(bed);
    TWorkTable& t = w.Bd().mtOptions;
    SetRow(t, 1, {{"Value", 5}});
    w.Action("aLoadOptions")->trigger();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>({"не удалось откыть порт", "Не удалось подключиться!"}));
    QVERIFY(!w.WaitForm().isVisible());
    w.Action("aSaveOptions")->trigger();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>({"не удалось откыть порт", "Не удалось подключиться!"}));
    QCOMPARE(t.RecordCount(), 32);
    QCOMPARE(cfgtest::Column(t, "Value")[0], std::string("5"));
    QVERIFY(!w.Flags().optionsLoaded);
    QVERIFY(w.isEnabled());
  }
};

QTEST_MAIN(OptionsTest)
#include "test_options.moc"
