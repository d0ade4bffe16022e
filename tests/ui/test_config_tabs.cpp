// The departments, receipt header and footer, and taxes tabs against the
// simulated register: reading and writing each table, the font lists, the
// grids, and the failures (no connection, a register error code, an
// exchange failing in the middle of a table).
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QtTest>

#include "ConfigTestSupport.h"
#include "DBGridEh.h"
#include "WaitForm.h"
#include "pages/ConfigPage.h"
#include "pages/DBComboBox.h"
#include "pages/DepartmentsTab.h"
#include "pages/OptionCardGrid.h"
#include "pages/OptionsTab.h"
#include "pages/ReceiptTab.h"
#include "pages/TaxesTab.h"
#include "pages/TextTab.h"
#include "shell/ProjectsVars.h"

using namespace zarvik;

namespace {

constexpr std::uint8_t kGetHeaderLine = 3;
constexpr std::uint8_t kSetHeaderLine = 4;
constexpr std::uint8_t kGetDepartment = 7;
constexpr std::uint8_t kSetDepartment = 8;
constexpr std::uint8_t kGetTax = 13;
constexpr const char* kBadFormat = "Неверный формат команды или данных";

// A register version without a model descriptor: four departments and
// fonts 0 to 4.
constexpr const char* kUndescribedVersion = "X 001";

std::vector<std::string> Texts(std::initializer_list<const char*> list) {
  return {list.begin(), list.end()};
}

QStringList Items(const QComboBox& box) {
  QStringList items;
  for (int i = 0; i < box.count(); ++i) items << box.itemText(i);
  return items;
}

QStringList FontNames(int last) {
  QStringList names;
  for (int i = 0; i <= last; ++i)
    names << QString::fromUtf8(PrintFontNames[static_cast<std::size_t>(i)].data());
  return names;
}

// The open cell editor of a view.
template <class T>
T* CellEditor(QAbstractItemView& view) {
  for (T* e : view.viewport()->findChildren<T*>(QString(), Qt::FindDirectChildrenOnly))
    if (!e->isHidden()) return e;
  return nullptr;
}

void SetText(TWorkTable& t, int recNo, const char* field, const std::string& text) {
  QVERIFY(t.SetRecNo(recNo));
  t.Edit();
  t.SetText(field, text);
  t.Post();
}

}  // namespace

class ConfigTabsTest : public QObject {
  Q_OBJECT
 private slots:
  // --- departments -------------------------------------------------------

  void fourDepartmentsReadAsFourRows() {
    cfgtest::TConfigBed bed;
    sim::Scenario sc = cfgtest::ShopScenario();
    sc.state.version = kUndescribedVersion;
    ui::TfmMain& w = cfgtest::OpenConnected(bed, sc);
    TWorkTable& t = w.Bd().mtDepatment;
    QCOMPARE(w.Info()->maxCountDepat, 4);
    QCOMPARE(t.FindField("Price")->displayFormat, std::string("#"));
    SetText(t, 1, "Name", "старое");
    // The rows of a stored profile shown through the profile filter stay.
    t.Append();
    t.SetText("LN", "777");
    t.SetText("Name", "чужой");
    t.Post();
    t.SetFilter("LN='0'");
    t.SetFiltered(true);

    w.Action("aDepLoad")->trigger();
    QCOMPARE(cfgtest::Column(t, "Num"), Texts({"1", "2", "3", "4"}));
    QCOMPARE(cfgtest::Column(t, "LN"), Texts({"0", "0", "0", "0"}));
    QCOMPARE(cfgtest::Column(t, "Status"), Texts({"Товар", "Услуга", "Товар", "Закрыто"}));
    QCOMPARE(cfgtest::Column(t, "Name"), Texts({"Бакалея", "Доставка", "Овощи и фрукты", ""}));
    QCOMPARE(cfgtest::Column(t, "NG"), Texts({"A", "B", "C", "0"}));
    QCOMPARE(cfgtest::Column(t, "Price"), Texts({"10000.00", "500.50", "3000.00", "0.00"}));
    QCOMPARE(cfgtest::ConsoleCount(bed, "Загружаем отделы..."), 1);
    QCOMPARE(cfgtest::LogCount(bed, "Отделы загружены"), 1);
    QVERIFY(w.Flags().departmentsLoaded);
    QVERIFY(bed.Boxes().empty());
    QVERIFY(w.isEnabled());
    QVERIFY(!w.WaitForm().isVisible());
    t.SetFilter("LN='777'");
    QCOMPARE(cfgtest::Column(t, "Name"), Texts({"чужой"}));
  }

  void departmentsWrittenAsEdited() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    cfgtest::TRecordingLine line(w.RegisterPort());
    w.Protocol().SetLine(&line);
    TWorkTable& t = w.Bd().mtDepatment;
    w.Action("aDepLoad")->trigger();
    QCOMPARE(t.RecordCount(), 16);
    // A closed department reads with no name, tax group "0" and price 0.
    QVERIFY(t.SetRecNo(5));
    QCOMPARE(t.Text("Status"), std::string("Закрыто"));
    QCOMPARE(t.Text("Name"), std::string());
    QCOMPARE(t.Text("NG"), std::string("0"));
    QCOMPARE(t.Cur("Price"), Currency{});

    // Department 1 gets new values; 3 a status that is neither goods nor
    // service (written closed, its name not sent); 2 is being edited.
    QVERIFY(t.SetRecNo(1));
    t.Edit();
    t.SetText("Name", "Хлеб");
    t.SetText("NG", "E");
    t.SetText("Price", "12.34");
    t.Post();
    SetText(t, 3, "Status", "Удалён");
    ui::TDBGridEh& grid = w.ConfigPage().Departments().Grid();
    const QModelIndex name2 = grid.Model().index(1, grid.Model().ColumnOf("Name"));
    grid.setCurrentIndex(name2);
    grid.edit(name2);
    auto* editor = CellEditor<QLineEdit>(grid);
    QVERIFY(editor != nullptr);
    editor->setText("Доставка на дом");

    w.Action("aDepSave")->trigger();
    QCOMPARE(cfgtest::ConsoleCount(bed, "Записаны отделы"), 1);
    QVERIFY(bed.Boxes().empty());
    const sim::RegisterState s = bed.Sim().State();
    QCOMPARE(s.departments[0], (sim::Department{sim::kDepGoods, "Хлеб", 5, 1234}));
    QCOMPARE(s.departments[1], (sim::Department{sim::kDepService, "Доставка на дом", 2, 50050}));
    QCOMPARE(s.departments[2], (sim::Department{sim::kDepClosed, "", 0, 0}));
    QCOMPARE(cfgtest::Executed(bed, kSetDepartment), 16);
    std::vector<std::uint8_t> closed = {0x01, 0x08, 0x03, 0xA3};
    closed.resize(35, 0x00);
    QVERIFY(line.Sent(closed));
    w.Protocol().SetLine(nullptr);

    // Read back: what was written.
    w.Action("aDepLoad")->trigger();
    QCOMPARE(cfgtest::Column(t, "Name")[1], std::string("Доставка на дом"));
    QCOMPARE(cfgtest::Column(t, "Status")[2], std::string("Закрыто"));
  }

  void largestRegister() {
    // 99 departments and 64 options: a made-up model with the largest tables.
    cfgtest::TConfigBed bed;
    cfgtest::UseDescriptor(bed, "Z 099",
                           "[max]\r\nmaxCountDepat=99\r\nmaxCountFont=8\r\nmaxCountGoods=100\r\n");
    sim::Scenario sc = cfgtest::ShopScenario();
    sc.state.version = "Z 099";
    sc.state.maxCountDepat = 99;
    sc.state.options.assign(64, 1);
    sc.state.departments[98] = sim::Department{sim::kDepService, "Последний", 5, 123456};
    ui::TfmMain& w = cfgtest::OpenConnected(bed, sc);
    TWorkTable& t = w.Bd().mtDepatment;
    QCOMPARE(w.Info()->maxCountDepat, 99);
    QCOMPARE(w.Bd().mtOptions.RecordCount(), 64);
    w.Action("aDepLoad")->trigger();
    QVERIFY(bed.Boxes().empty());
    QCOMPARE(t.RecordCount(), 99);
    QVERIFY(t.SetRecNo(99));
    QCOMPARE(t.Text("Num"), std::string("99"));
    QCOMPARE(t.Text("Name"), std::string("Последний"));
    QCOMPARE(t.Text("NG"), std::string("E"));
    QCOMPARE(cfgtest::Column(t, "Price")[98], std::string("1234.56"));
    SetText(t, 99, "Name", "Девяносто девятый");
    SetText(t, 98, "Status", "Товар");
    SetText(t, 98, "Name", "Девяносто восьмой");
    w.Action("aDepSave")->trigger();
    QVERIFY(bed.Boxes().empty());
    const sim::RegisterState s = bed.Sim().State();
    QCOMPARE(s.departments[98], (sim::Department{sim::kDepService, "Девяносто девятый", 5, 123456}));
    QCOMPARE(s.departments[97], (sim::Department{sim::kDepGoods, "Девяносто восьмой", 0, 0}));
    QCOMPARE(cfgtest::Executed(bed, kSetDepartment), 99);

    // The options: 64 cards, twenty a column, scrolled sideways.
    ui::TOptionCardGrid& cards = w.ConfigPage().Options().Cards();
    w.ConfigPage().Tabs().setCurrentIndex(0);
    QCoreApplication::processEvents();
    QCOMPARE(cards.Model().rowCount(), 64);
    QCOMPARE(cards.visualRect(cards.Model().index(60, 0)).y(),
             cards.visualRect(cards.Model().index(0, 0)).y());
    QVERIFY(cards.horizontalScrollBar()->maximum() > 0);
    w.Bd().mtOptions.SetRecNo(64);
    QCoreApplication::processEvents();
    QVERIFY(cards.viewport()->rect().contains(cards.visualRect(cards.Model().index(63, 0))));
    QVERIFY(cards.viewport()->rect().contains(cards.visualRect(cards.Model().index(40, 0))));
    w.Bd().mtOptions.SetRecNo(1);
    QCoreApplication::processEvents();
    QCOMPARE(cards.horizontalScrollBar()->value(), 0);
  }

  void departmentGridEditing() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    ui::TDBGridEh& grid = w.ConfigPage().Departments().Grid();
    w.ConfigPage().Tabs().setCurrentWidget(&w.ConfigPage().Departments());
    QCoreApplication::processEvents();
    TWorkTable& t = w.Bd().mtDepatment;
    ui::TWorkTableModel& m = grid.Model();
    QCOMPARE(grid.objectName(), QString("DBGridEhDep"));
    QVERIFY(!(m.flags(m.index(0, m.ColumnOf("Num"))) & Qt::ItemIsEditable));

    // The status list: closed, goods, service; choosing closed empties the
    // name, tax group and price.
    SetText(t, 4, "Status", "Товар");
    SetText(t, 4, "Name", "Молоко");
    SetText(t, 4, "NG", "B");
    SetText(t, 4, "Price", "10");
    const QModelIndex status = m.index(3, m.ColumnOf("Status"));
    grid.setCurrentIndex(status);
    grid.edit(status);
    auto* box = CellEditor<QComboBox>(grid);
    QVERIFY(box != nullptr);
    QCOMPARE(Items(*box), QStringList({"Закрыто", "Товар", "Услуга"}));
    box->setCurrentIndex(0);
    grid.PostEditor();
    QVERIFY(t.SetRecNo(4));
    QCOMPARE(t.Text("Status"), std::string("Закрыто"));
    QCOMPARE(t.Text("Name"), std::string());
    QCOMPARE(t.Text("NG"), std::string());
    QCOMPARE(t.Text("Price"), std::string());
    const QModelIndex group = m.index(3, m.ColumnOf("NG"));
    grid.setCurrentIndex(group);
    grid.edit(group);
    box = CellEditor<QComboBox>(grid);
    QVERIFY(box != nullptr);
    QCOMPARE(Items(*box), QStringList({"", "A", "B", "C", "D", "E"}));
    grid.PostEditor();

    // Enter stores the cell and moves to the next one; a click on another
    // row while editing lands on the clicked cell.
    const QModelIndex name = m.index(1, m.ColumnOf("Name"));
    grid.setCurrentIndex(name);
    QTest::keyClick(&grid, Qt::Key_F2);
    QVERIFY(CellEditor<QLineEdit>(grid) != nullptr);
    CellEditor<QLineEdit>(grid)->insert(QString::fromUtf8("Рыба"));
    QTest::keyClick(CellEditor<QLineEdit>(grid), Qt::Key_Return);
    QVERIFY(uitest::WaitFor([&] { return grid.currentIndex().column() == m.ColumnOf("NG"); }));
    QCOMPARE(grid.currentIndex().row(), 1);
    QVERIFY(t.SetRecNo(2));
    QCOMPARE(t.Text("Name"), std::string("Рыба"));
    const QModelIndex other = m.index(6, m.ColumnOf("Name"));
    grid.setCurrentIndex(name);
    QTest::keyClick(&grid, Qt::Key_F2);
    QVERIFY(CellEditor<QLineEdit>(grid) != nullptr);
    QTest::keyClick(CellEditor<QLineEdit>(grid), Qt::Key_End);
    QTest::keyClicks(CellEditor<QLineEdit>(grid), "2");
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.visualRect(other).center());
    QCoreApplication::processEvents();
    QCOMPARE(grid.currentIndex(), other);
    QVERIFY(t.SetRecNo(2));
    QCOMPARE(t.Text("Name"), std::string("Рыба2"));
    QCOMPARE(m.rowCount(), 99);
  }

  void departmentFailures() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    TWorkTable& t = w.Bd().mtDepatment;
    const std::vector<std::string> before = cfgtest::Column(t, "Status");

    // A register error code on the first department.
    bed.Sim().AddFault("result=7:3");
    w.Action("aDepLoad")->trigger();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>({kBadFormat, "не удалось получить информацию о отделах"}));
    QCOMPARE(cfgtest::Column(t, "Status"), before);
    QVERIFY(!w.Flags().departmentsLoaded);
    QVERIFY(w.isEnabled());

    // An exchange failing in the middle of the table.
    {
      cfgtest::TFaultAfter fault(bed, kGetDepartment, cfgtest::Executed(bed, kGetDepartment) + 5, cfgtest::EveryTry("wait=10"));
      w.Action("aDepLoad")->trigger();
      QVERIFY(fault.Armed());
    }
    bed.Sim().DropPendingAnswer();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>{"не удалось получить информацию о отделах"});
    QCOMPARE(cfgtest::Column(t, "Status"), before);
    QVERIFY(!w.Flags().departmentsLoaded);
    QCOMPARE(cfgtest::ConsoleCount(bed, "Отделы загружены"), 0);

    // Writing stops at the failing department; the earlier ones are written.
    for (int i = 1; i <= 16; ++i) SetText(t, i, "Name", "Отдел " + std::to_string(i));
    for (int i = 1; i <= 16; ++i) SetText(t, i, "Status", "Товар");
    {
      cfgtest::TFaultAfter fault(bed, kSetDepartment, 5, cfgtest::EveryTry("wait=10"));
      w.Action("aDepSave")->trigger();
      QVERIFY(fault.Armed());
    }
    bed.Sim().DropPendingAnswer();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>{"не удалось записать информацию о отделах"});
    const sim::RegisterState s = bed.Sim().State();
    int written = 0;
    while (written < 16 &&
           s.departments[static_cast<std::size_t>(written)].name == "Отдел " + std::to_string(written + 1))
      ++written;
    QVERIFY2(written >= 5 && written < 16, std::to_string(written).c_str());
    for (int i = written; i < 16; ++i)
      QVERIFY(s.departments[static_cast<std::size_t>(i)].name.rfind("Отдел", 0) != 0);
    // The failing department's write was carried out and sent again, its
    // answer never came through; each earlier one was carried out once.
    QCOMPARE(cfgtest::Executed(bed, kSetDepartment), written + kMaxCommandRepeats);
    QCOMPARE(cfgtest::ConsoleCount(bed, "Записаны отделы"), 0);
    QVERIFY(w.isEnabled());
  }

  void departmentsWithoutConnection() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenUnconnectable(bed);
    for (const char* action : {"aDepLoad", "aDepSave"}) {
      w.Action(action)->trigger();
      QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
               std::vector<std::string>({"не удалось откыть порт", "Не удалось подключиться!"}));
      QVERIFY(w.isEnabled());
    }
    QCOMPARE(w.Bd().mtDepatment.RecordCount(), 99);
    QVERIFY(!w.Flags().departmentsLoaded);
  }

  // --- receipt header and footer -----------------------------------------

  void receiptTextRead() {
    cfgtest::TConfigBed bed({"okb"});
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    ui::TReceiptTab& tab = w.ConfigPage().Receipt();
    ui::TTextTab& text = w.ConfigPage().Text();
    // At start all nine fonts are offered.
    QCOMPARE(Items(tab.TitleFont()), FontNames(8));
    QCOMPARE(Items(*text.cbFontText), FontNames(8));
    QCOMPARE(tab.TitleFont().currentIndex(), -1);
    QCOMPARE(w.Bd().mtCheckFont.RecordCount(), 0);

    w.Action("aCheckLoad")->trigger();
    QVERIFY(bed.Boxes().empty());
    QCOMPARE(cfgtest::Column(w.Bd().mtTitle, "Caption"),
             Texts({"ООО \"ПРОДУКТЫ У ДОМА\"", "г. Тверь, ул. Советская, 12", "ИНН 6901234567", "", "", ""}));
    QCOMPARE(cfgtest::Column(w.Bd().mtTitle, "Num"), Texts({"1", "2", "3", "4", "5", "6"}));
    QCOMPARE(cfgtest::Column(w.Bd().mtFooter, "Caption"),
             Texts({"СПАСИБО ЗА ПОКУПКУ!", "Тел. (4822) 34-56-78", "", "", "", ""}));
    TWorkTable& fonts = w.Bd().mtCheckFont;
    QCOMPARE(fonts.RecordCount(), 1);
    QCOMPARE(cfgtest::Column(fonts, "TitleFont"), std::vector<std::string>{std::string(PrintFontNames[2])});
    QCOMPARE(cfgtest::Column(fonts, "footerFont"), std::vector<std::string>{std::string(PrintFontNames[1])});
    QCOMPARE(cfgtest::Column(fonts, "LN"), Texts({"0"}));
    QCOMPARE(tab.TitleFont().currentText(), FontNames(2).last());
    QCOMPARE(tab.FooterFont().currentText(), FontNames(1).last());
    QCOMPARE(cfgtest::ConsoleCount(bed, "Загружены заголовок и окончание чека"), 1);
    QVERIFY(w.Flags().receiptTextLoaded);
    QVERIFY(!w.WaitForm().isVisible());
  }

  void fontListsFollowTheRegister() {
    cfgtest::TConfigBed bed({"okb"});
    sim::Scenario sc = cfgtest::ShopScenario();
    sc.state.version = kUndescribedVersion;
    // Beyond the register's fonts 0..4 and beyond the one after them.
    sc.state.header[0].font = 6;
    ui::TfmMain& w = cfgtest::OpenConnected(bed, sc);
    ui::TReceiptTab& tab = w.ConfigPage().Receipt();
    ui::TTextTab& text = w.ConfigPage().Text();
    text.cbFontText->setCurrentIndex(7);
    w.Action("aCheckLoad")->trigger();
    QCOMPARE(w.Info()->maxCountFont, 4);
    QCOMPARE(Items(tab.TitleFont()), FontNames(4));
    QCOMPARE(Items(tab.FooterFont()), FontNames(4));
    QCOMPARE(Items(*text.cbFontText), FontNames(4));
    QCOMPARE(text.cbFontText->currentIndex(), 0);
    // Font 6 has no name here: an empty header font, sent as font 0.
    QCOMPARE(cfgtest::Column(w.Bd().mtCheckFont, "TitleFont"), Texts({""}));
    QCOMPARE(tab.TitleFont().currentIndex(), -1);
    w.Action("aCheckSave")->trigger();
    QVERIFY(bed.Boxes().empty());
    const sim::RegisterState s = bed.Sim().State();
    for (const sim::TextLine& l : s.header) QCOMPARE(l.font, std::uint8_t{0});
    for (const sim::TextLine& l : s.footer) QCOMPARE(l.font, std::uint8_t{1});
  }

  void headerFontChosenAndWritten() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    ui::TReceiptTab& tab = w.ConfigPage().Receipt();
    w.Action("aCheckLoad")->trigger();
    tab.TitleFont().setCurrentIndex(3);
    QCOMPARE(cfgtest::Column(w.Bd().mtCheckFont, "TitleFont"),
             Texts({"3 (24 символа, ВЫТЯНУТЫЙ по высоте)"}));
    SetText(w.Bd().mtTitle, 5, "Caption", "Новая строка");
    SetText(w.Bd().mtFooter, 6, "Caption", "До свидания");
    w.Action("aCheckSave")->trigger();
    QVERIFY(bed.Boxes().empty());
    const sim::RegisterState s = bed.Sim().State();
    for (const sim::TextLine& l : s.header) QCOMPARE(l.font, std::uint8_t{3});
    for (const sim::TextLine& l : s.footer) QCOMPARE(l.font, std::uint8_t{1});
    QCOMPARE(s.header[0].text, std::string("ООО \"ПРОДУКТЫ У ДОМА\""));
    QCOMPARE(s.header[4].text, std::string("Новая строка"));
    QCOMPARE(s.footer[5].text, std::string("До свидания"));
    QCOMPARE(cfgtest::ConsoleCount(bed, "Начало Footer"), 1);
    QCOMPARE(cfgtest::ConsoleCount(bed, "Записаны заголовок и окончание чека"), 1);
    QCOMPARE(tab.FontNumber(""), 0);
    QCOMPARE(tab.FontNumber("8 (32 символа, СЖАТЫЙ по высоте)"), 8);
  }

  void receiptTextFailures() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    TWorkTable& title = w.Bd().mtTitle;
    TWorkTable& footer = w.Bd().mtFooter;
    const std::vector<std::string> empty(6, "");

    // Header read fails in the middle: nothing changes.
    {
      cfgtest::TFaultAfter fault(bed, kGetHeaderLine, 2, cfgtest::EveryTry("wait=10"));
      w.Action("aCheckLoad")->trigger();
      QVERIFY(fault.Armed());
    }
    bed.Sim().DropPendingAnswer();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>{"не удалось получить информацию о заголовках"});
    QCOMPARE(cfgtest::Column(title, "Caption"), empty);
    QVERIFY(!w.Flags().receiptTextLoaded);

    // Footer read fails: the header rows are already replaced.
    bed.Sim().AddFault("result=5:3");
    w.Action("aCheckLoad")->trigger();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>({kBadFormat, "не удалось получить информацию об окончании чека"}));
    QCOMPARE(cfgtest::Column(title, "Caption")[0], std::string("ООО \"ПРОДУКТЫ У ДОМА\""));
    QCOMPARE(cfgtest::Column(footer, "Caption"), empty);
    QCOMPARE(w.Bd().mtCheckFont.RecordCount(), 0);
    QVERIFY(!w.Flags().receiptTextLoaded);

    // Header write fails in the middle: earlier lines written, no footer.
    for (int i = 1; i <= 6; ++i) SetText(title, i, "Caption", "Строка " + std::to_string(i));
    for (int i = 1; i <= 6; ++i) SetText(footer, i, "Caption", "Низ " + std::to_string(i));
    {
      cfgtest::TFaultAfter fault(bed, kSetHeaderLine, 2, cfgtest::EveryTry("wait=10"));
      w.Action("aCheckSave")->trigger();
      QVERIFY(fault.Armed());
    }
    bed.Sim().DropPendingAnswer();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>{"не удалось записать информацию о заголовках"});
    sim::RegisterState s = bed.Sim().State();
    QCOMPARE(s.header[0].text, std::string("Строка 1"));
    QCOMPARE(s.header[5].text, std::string());
    QCOMPARE(s.footer[0].text, std::string("СПАСИБО ЗА ПОКУПКУ!"));
    QCOMPARE(cfgtest::ConsoleCount(bed, "Начало Footer"), 0);

    // Footer write fails on its first line: the header is written.
    bed.Sim().AddFault("result=6:3");
    w.Action("aCheckSave")->trigger();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>({kBadFormat, "не удалось записать информацию об окончаниях"}));
    s = bed.Sim().State();
    QCOMPARE(s.header[5].text, std::string("Строка 6"));
    QCOMPARE(s.footer[0].text, std::string("СПАСИБО ЗА ПОКУПКУ!"));
    QCOMPARE(cfgtest::ConsoleCount(bed, "Начало Footer"), 1);
    QCOMPARE(cfgtest::ConsoleCount(bed, "Записаны заголовок и окончание чека"), 0);
    QVERIFY(w.isEnabled());
  }

  void receiptGridsInAFixedPitchFont() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = bed.OpenWindow();
    ui::TReceiptTab& tab = w.ConfigPage().Receipt();
    for (ui::TDBGridEh* grid : {&tab.TitleGrid(), &tab.FooterGrid()}) {
      QVERIFY(QFontInfo(grid->font()).fixedPitch());
      QCOMPARE(grid->Model().rowCount(), 6);
      QVERIFY(!(grid->Model().flags(grid->Model().index(0, 0)) & Qt::ItemIsEditable));
      QVERIFY(grid->Model().flags(grid->Model().index(0, 1)) & Qt::ItemIsEditable);
    }
    QCOMPARE(tab.TitleGrid().objectName(), QString("DBGridEhTitleCheck"));
    QCOMPARE(tab.FooterGrid().objectName(), QString("DBGridEhFooterCheck"));
    QCOMPARE(tab.TitleFont().accessibleName(), QString::fromUtf8("Шрифт"));
    QCOMPARE(tab.TitleFont().accessibleDescription(), QString::fromUtf8("Заголовок чека"));
    QCOMPARE(tab.FooterFont().accessibleDescription(), QString::fromUtf8("Окончание чека"));
    // A font chosen before any row exists adds the profile's font row.
    tab.FooterFont().setCurrentIndex(4);
    QCOMPARE(cfgtest::Column(w.Bd().mtCheckFont, "footerFont"),
             std::vector<std::string>{std::string(PrintFontNames[4])});
    QCOMPARE(cfgtest::Column(w.Bd().mtCheckFont, "LN"), Texts({"0"}));
  }

  // --- taxes ---------------------------------------------------------------

  void taxesRead() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    TWorkTable& t = w.Bd().mtTax;
    QVERIFY(t.SetRecNo(3));
    t.Edit();
    t.SetFloat("Percent", 7);
    t.Post();
    w.Action("aTaxLoad")->trigger();
    QVERIFY(bed.Boxes().empty());
    QCOMPARE(cfgtest::Column(t, "Num"), Texts({"1", "2", "3", "4", "5"}));
    QCOMPARE(cfgtest::Column(t, "isDefined"), Texts({"True", "True", "False", "True", "False"}));
    QCOMPARE(cfgtest::Column(t, "Name"), Texts({"НДС 18%", "НДС 10%", "", "Без НДС", ""}));
    QCOMPARE(cfgtest::Column(t, "Type"), Texts({"1", "1", "2", "0", "2"}));
    // An undefined tax keeps its rate.
    std::vector<std::string> rates = cfgtest::Column(t, "Percent");
    QCOMPARE(rates[0], std::string("18"));
    QCOMPARE(rates[2], std::string("7"));
    QCOMPARE(rates[3], std::string("0"));
    QVERIFY(rates[1] == "10.5" || rates[1] == "10,5");
    ui::TDBGridEh& grid = w.ConfigPage().Taxes().Grid();
    const int type = grid.Model().ColumnOf("Type");
    QStringList kinds;
    for (int r = 0; r < 5; ++r) kinds << grid.Model().index(r, type).data().toString();
    QCOMPARE(kinds, QStringList({"Выделяемый", "Выделяемый", "", "Начисляемый", ""}));
    for (int c = 0; c < grid.Model().columnCount(); ++c)
      QVERIFY(
          !(grid.Model().flags(grid.Model().index(0, c)) & (Qt::ItemIsEditable | Qt::ItemIsUserCheckable)));
    QCOMPARE(cfgtest::ConsoleCount(bed, "Загружена информация о налогах"), 1);
    QVERIFY(w.Flags().taxesLoaded);
  }

  void taxFailures() {
    cfgtest::TConfigBed bed;
    ui::TfmMain& w = cfgtest::OpenConnected(bed);
    {
      cfgtest::TFaultAfter fault(bed, kGetTax, 2, cfgtest::EveryTry("wait=10"));
      w.Action("aTaxLoad")->trigger();
      QVERIFY(fault.Armed());
    }
    bed.Sim().DropPendingAnswer();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>{"не удалось получить информацию о налогах"});
    QCOMPARE(cfgtest::Column(w.Bd().mtTax, "Name"), std::vector<std::string>(5, ""));
    QVERIFY(!w.Flags().taxesLoaded);
    bed.Sim().Close();
    w.ToggleConnection();
    zarvik::SetPortDevice(uitest::kSimPort, bed.Path("gone").toStdString());
    w.Action("aTaxLoad")->trigger();
    QCOMPARE(cfgtest::BoxTexts(bed.TakeBoxes()),
             std::vector<std::string>({"не удалось откыть порт", "Не удалось подключиться!"}));
    QVERIFY(w.isEnabled());
  }
};

QTEST_MAIN(ConfigTabsTest)
#include "test_config_tabs.moc"
