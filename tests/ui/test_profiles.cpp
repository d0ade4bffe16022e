// The profile panel on the configuration page, driven like a user would:
// the list over the data module's profile list, the three buttons, the
// template name box and the question asked at close.
#include <QtTest>

#include <QDir>
#include <QHeaderView>
#include <QLabel>

#include "DBGridEh.h"
#include "MainWindow.h"
#include "SpeedButtonEx.h"
#include "UiTestSupport.h"
#include "pages/ConfigPage.h"
#include "pages/ProfilePanel.h"
#include "store/ProfileStore.h"
#include "store/UnitBD.h"

using namespace zarvik;

namespace {

QString U(const char* text) {
  return QString::fromUtf8(text);
}

// The rows of a profile file on disk.
int FileRows(const QString& path, const char* field = nullptr, std::vector<std::string>* values = nullptr) {
  TDbfTable t;
  if (t.Open(path.toStdString()) != DbfResult::Ok) return -1;
  int n = 0;
  for (bool more = t.First(); more; more = t.Next()) {
    ++n;
    if (field != nullptr && values != nullptr) {
      std::string v;
      t.GetText(field, v);
      values->push_back(v);
    }
  }
  return n;
}

const char* const kDetailFiles[] = {"options.dbf", "Dept.dbf",      "Tax.dbf",
                                    "check.dbf",   "checkFont.dbf", "Operators.dbf"};

}  // namespace

class ProfilesTest : public QObject {
  Q_OBJECT

  // A connected window over the shop register.
  struct Session {
    uitest::TTestBed bed;
    ui::TfmMain* w = nullptr;
    ui::TProfilePanel* panel = nullptr;
    QStringList names;  // what the template box is answered, in order
    QStringList proposed;

    Session() {
      bed.StartSimulator();
      bed.UseSimulatorPort();
      w = &bed.OpenWindow();
      panel = &w->ConfigPage().Profiles();
      panel->inputBox = [this](const QString& caption, const QString& prompt, const QString& value) {
        if (caption != U("Введите") || prompt != U("Имя шаблона")) return QString("?");
        proposed << value;
        return names.isEmpty() ? value : names.takeFirst();
      };
    }
    bool Connect() { return bed.Connect(); }
    TBD& Bd() { return w->Bd(); }
    QString File(const char* name) const { return bed.Path(QString("bd/") + name); }
    QStringList ListNames() {
      QStringList out;
      ui::TWorkTableModel& m = panel->DBCtrlGrid1->Model();
      for (int r = 0; r < m.rowCount(); ++r) out << m.index(r, 0).data().toString();
      return out;
    }
    bool Bold(int row) {
      const QVariant font = panel->DBCtrlGrid1->Model().index(row, 0).data(Qt::FontRole);
      return font.isValid() && font.value<QFont>().bold();
    }
    void Click(ui::TSpeedButtonEx* b) { QTest::mouseClick(b, Qt::LeftButton); }
    void ClickRow(int row) {
      ui::TDBGridEh* g = panel->DBCtrlGrid1;
      QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(g->Model().index(row, 0)).center());
    }
    void SetAllLoaded() {
      ui::TLoadedFlags& f = w->Flags();
      f.optionsLoaded = f.departmentsLoaded = f.receiptTextLoaded = f.taxesLoaded = true;
    }
  };

 private slots:
  void thePanelShowsItsCaptionListAndButtons() {
    Session s;
    ui::TProfilePanel& p = *s.panel;
    QCOMPARE(p.objectName(), QString("PanelBDConfig"));
    QVERIFY(p.isVisible());
    QVERIFY(p.findChild<QLabel*>()->text() == U("Список настроек"));
    QCOMPARE(p.DBCtrlGrid1->objectName(), QString("DBCtrlGrid1"));
    QCOMPARE(p.DBCtrlGrid1->accessibleName(), U("Список настроек"));
    QCOMPARE(p.bSavePropKKMtoBD->text(), U("Сохранить настройки"));
    QCOMPARE(p.bSavePropKKMtoBDasShablon->text(), U("Сохранить в шаблон"));
    QCOMPARE(p.bDelPropKKMtoBD->text(), U("Удалить"));
    // Twelve entries fit.
    QVERIFY(p.DBCtrlGrid1->viewport()->height() >=
            12 * p.DBCtrlGrid1->verticalHeader()->defaultSectionSize());
    QCOMPARE(s.ListNames(), QStringList{U("Загруженая из ККМ")});
  }

  void theFirstConnectCreatesTheSevenFilesEmpty() {
    Session s;
    QVERIFY(!QFile::exists(s.File("Profile.dbf")));
    QVERIFY(s.Connect());
    QCOMPARE(FileRows(s.File("Profile.dbf")), 0);
    for (const char* f : kDetailFiles) QCOMPARE(FileRows(s.File(f)), 0);
    QCOMPARE(s.ListNames(), QStringList{U("Загруженая из ККМ")});
    QVERIFY(!s.w->Flags().storedProfilesFound);
  }

  void savingTwiceKeepsOneStoredProfileWithTheSameKey() {
    Session s;
    QVERIFY(s.Connect());
    s.SetAllLoaded();
    s.Click(s.panel->bSavePropKKMtoBD);
    QCOMPARE(s.ListNames(), (QStringList{U("Загруженая из ККМ"), U("Сохраненная")}));
    QCOMPARE(s.Bd().mtProfile.RecNo(), 2);
    QCOMPARE(s.panel->DBCtrlGrid1->currentIndex().row(), 1);
    QVERIFY(s.w->Flags().storedProfilesFound);
    // Saved from row 1: the loaded flags are clear, so closing asks nothing.
    QVERIFY(!s.w->Flags().optionsLoaded && !s.w->Flags().taxesLoaded);
    std::vector<std::string> keys;
    QCOMPARE(FileRows(s.File("Profile.dbf"), "LN", &keys), 1);
    const int options = FileRows(s.File("options.dbf"));
    QCOMPARE(options, 32);
    // The stored profile shows the register's 16 departments, 4 operators.
    QCOMPARE(s.Bd().mtDepatment.RecordCount(), 16);
    QCOMPARE(s.Bd().tmOperators.RecordCount(), 4);
    QCOMPARE(QString::fromStdString(s.Bd().mtDepatment.Text("LN")), QString::fromStdString(keys[0]));

    s.ClickRow(0);
    QCOMPARE(s.Bd().mtProfile.RecNo(), 1);
    s.Click(s.panel->bSavePropKKMtoBD);
    std::vector<std::string> again;
    QCOMPARE(FileRows(s.File("Profile.dbf"), "LN", &again), 1);
    QCOMPARE(again, keys);
    QCOMPARE(FileRows(s.File("options.dbf")), options);
    QVERIFY(std::stoll(keys[0]) > std::numeric_limits<std::int32_t>::max());
    s.w->close();
    QVERIFY(s.bed.Questions().empty());
  }

  void savingTheStoredProfileConnectsFirst() {
    Session s;
    s.Click(s.panel->bSavePropKKMtoBD);
    QVERIFY(s.w->RegisterPort().IsOpen());
    QCOMPARE(FileRows(s.File("Profile.dbf")), 1);
    // Without a register: the failed connection is reported, nothing is written.
    uitest::TTestBed lone;
    lone.WriteIni("[Port]\r\nCOMPort=250\r\n");
    ui::TfmMain& w = lone.OpenWindow();
    ui::TProfilePanel& panel = w.ConfigPage().Profiles();
    QTest::mouseClick(panel.bSavePropKKMtoBD, Qt::LeftButton);
    QCOMPARE(lone.TakeBoxes().back().text, std::string("Не удалось подключиться!"));
    QVERIFY(!QFile::exists(lone.Path("bd/Profile.dbf")));
    // The template and delete buttons need no register and do nothing.
    QTest::mouseClick(panel.bSavePropKKMtoBDasShablon, Qt::LeftButton);
    QTest::mouseClick(panel.bDelPropKKMtoBD, Qt::LeftButton);
    QCOMPARE(w.Bd().mtProfile.RecordCount(), 1);
  }

  void aTemplateShowsBoldAndNeverTouchesTheProfileOptionCopy() {
    Session s;
    QVERIFY(s.Connect());
    s.names << U("Магазин у дома");
    s.Click(s.panel->bSavePropKKMtoBDasShablon);
    QCOMPARE(s.proposed, QStringList{QString()});  // row 1 proposes no name
    QVERIFY(s.bed.ConsoleText().endsWith(U("Шаблон записан")));
    QCOMPARE(s.ListNames(), (QStringList{U("Загруженая из ККМ"), U("Магазин у дома")}));
    QCOMPARE(s.Bd().mtProfile.RecNo(), 1);
    QVERIFY(!s.Bold(0));
    QVERIFY(s.Bold(1));
    std::vector<std::string> sn;
    QCOMPARE(FileRows(s.File("Profile.dbf"), "SN", &sn), 1);
    QCOMPARE(sn, std::vector<std::string>{""});

    s.Bd().profileOptionCopy.fill(0x33);
    const OptionCopy before = s.Bd().profileOptionCopy;
    s.ClickRow(1);
    QCOMPARE(s.Bd().mtProfile.RecNo(), 2);
    QVERIFY(QString::fromStdString(s.Bd().mtOptions.Text("LN")).startsWith('-'));
    QCOMPARE(s.Bd().mtOptions.RecordCount(), 32);
    QVERIFY(s.Bd().profileOptionCopy == before);
    // Saving again from the template proposes its name; cancelling the box
    // gives that name, so the template is written over.
    s.Click(s.panel->bSavePropKKMtoBDasShablon);
    QCOMPARE(s.proposed.last(), U("Магазин у дома"));
    QCOMPARE(FileRows(s.File("Profile.dbf")), 1);
    QCOMPARE(s.Bd().mtProfile.RecNo(), 2);
    // An empty name saves nothing; a long one is cut to the file's 30 characters.
    s.names << QString() << U("Очень длинное имя шаблона для проверки");
    s.ClickRow(0);
    s.Click(s.panel->bSavePropKKMtoBDasShablon);
    QCOMPARE(FileRows(s.File("Profile.dbf")), 1);
    s.Click(s.panel->bSavePropKKMtoBDasShablon);
    s.Click(s.panel->bSavePropKKMtoBDasShablon);  // the same long name again: found, not added
    std::vector<std::string> names;
    QCOMPARE(FileRows(s.File("Profile.dbf"), "NAME", &names), 2);
    QCOMPARE(QString::fromStdString(names[1]),
             U("Очень длинное имя шаблона для"));  // 30 characters, the blank trimmed
  }

  void theFooterLineNineOfCheckDbfIsFooterLineThree() {
    Session s;
    QVERIFY(s.Connect());
    TBD& bd = s.Bd();
    bd.mtFooter.SetRecNo(3);
    bd.mtFooter.Edit();
    bd.mtFooter.SetText("Caption", "Третья строка");
    bd.mtFooter.Post();
    s.Click(s.panel->bSavePropKKMtoBD);
    std::vector<std::string> lines;
    QCOMPARE(FileRows(s.File("check.dbf"), "LINE", &lines), 12);
    QCOMPARE(lines[8], std::string("9"));
    // The stored profile was loaded back from the files.
    bd.mtFooter.SetRecNo(3);
    QCOMPARE(QString::fromStdString(bd.mtFooter.Text("Num")), QString("3"));
    QCOMPARE(QString::fromStdString(bd.mtFooter.Text("Caption")), U("Третья строка"));
  }

  void deletingRemovesTheRowsFromAllSixDetailFiles() {
    Session s;
    QVERIFY(s.Connect());
    s.names << U("Временный");
    s.Click(s.panel->bSavePropKKMtoBDasShablon);
    s.Click(s.panel->bSavePropKKMtoBD);
    QCOMPARE(s.ListNames(), (QStringList{U("Загруженая из ККМ"), U("Сохраненная"), U("Временный")}));
    for (const char* f : kDetailFiles) QVERIFY2(FileRows(s.File(f)) > 0, f);
    s.ClickRow(2);
    s.Click(s.panel->bDelPropKKMtoBD);
    QCOMPARE(s.ListNames(), (QStringList{U("Загруженая из ККМ"), U("Сохраненная")}));
    QCOMPARE(s.Bd().mtProfile.RecNo(), 2);
    s.Click(s.panel->bDelPropKKMtoBD);
    QCOMPARE(s.ListNames(), QStringList{U("Загруженая из ККМ")});
    QCOMPARE(FileRows(s.File("Profile.dbf")), 0);
    for (const char* f : kDetailFiles) QVERIFY2(FileRows(s.File(f)) == 0, f);
    // Row 1 is never deleted.
    s.Click(s.panel->bDelPropKKMtoBD);
    QCOMPARE(s.ListNames(), QStringList{U("Загруженая из ККМ")});
    QCOMPARE(s.Bd().mtDepatment.RecordCount(), 16);
  }

  void aWorkflowMovingTheListToItsFirstEntryShowsTheRegisterRows() {
    Session s;
    QVERIFY(s.Connect());
    s.Click(s.panel->bSavePropKKMtoBD);
    QCOMPARE(s.Bd().mtProfile.RecNo(), 2);
    // What the read actions of the pages do before filling the tables.
    s.Bd().mtProfile.First();
    QCOMPARE(s.panel->DBCtrlGrid1->currentIndex().row(), 0);
    QCOMPARE(QString::fromStdString(s.Bd().mtDepatment.Text("LN")), QString("0"));
    QCOMPARE(QString::fromStdString(s.Bd().mtOptions.Filter()), QString("LN='0'"));
  }

  void theCloseQueryAfterAFullRead_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<int>("profiles");
    QTest::newRow("Yes") << int(QueryButton::Yes) << true << 1;
    QTest::newRow("No") << int(QueryButton::No) << true << 0;
    QTest::newRow("Cancel") << int(QueryButton::Cancel) << false << 0;
  }
  void theCloseQueryAfterAFullRead() {
    QFETCH(int, answer);
    QFETCH(bool, closes);
    QFETCH(int, profiles);
    Session s;
    QVERIFY(s.Connect());
    // The list is elsewhere (on a template); a Yes saves the register's own
    // settings.
    s.names << U("Шаблон");
    s.Click(s.panel->bSavePropKKMtoBDasShablon);
    s.SetAllLoaded();
    s.ClickRow(1);
    s.bed.Answer({static_cast<QueryButton>(answer)});
    QCOMPARE(s.w->close(), closes);
    QCOMPARE(s.bed.Questions(), std::vector<std::string>{"Записать в БД загруженные из ККМ настройки?"});
    std::vector<std::string> names;
    FileRows(s.File("Profile.dbf"), "NAME", &names);
    QCOMPARE(int(std::count(names.begin(), names.end(), "Сохраненная")), profiles);
    QVERIFY(s.bed.LogLines().join('\n').contains(U("Записать в БД загруженные из ККМ настройки?")));
    if (answer == int(QueryButton::Yes)) {
      // The saved rows are the register's (key "0" before the save).
      QVERIFY(!s.w->Flags().optionsLoaded);
      std::vector<std::string> oln;
      FileRows(s.File("Dept.dbf"), "OLN", &oln);
      QCOMPARE(int(oln.size()), 2 * 16);
    }
  }

  void closingAfterAPartialReadAsksNothing() {
    Session s;
    QVERIFY(s.Connect());
    s.w->Flags().departmentsLoaded = true;
    QVERIFY(s.w->Flags().optionsLoaded);
    QVERIFY(s.w->close());
    QVERIFY(s.bed.Questions().empty());
  }
};

QTEST_MAIN(ProfilesTest)
#include "test_profiles.moc"
