// The profile panel's "Импорт из файла" and "Экспорт в файл": a settings text
// file read into the register's stored profile and written from it again.
#include <QtTest>

#include <QFileDialog>

#include "DBGridEh.h"
#include "MainWindow.h"
#include "SpeedButtonEx.h"
#include "UiTestSupport.h"
#include "pages/ConfigPage.h"
#include "pages/ProfilePanel.h"
#include "shell/U_filedirwork.h"
#include "store/ProfileStore.h"
#include "store/UnitBD.h"

using namespace zarvik;

namespace {

QString U(const char* text) {
  return QString::fromUtf8(text);
}

std::string Read(const QString& path) {
  std::string text;
  ReadTextFile(path.toStdString(), text);
  return text;
}

}  // namespace

class ProfileFilesTest : public QObject {
  Q_OBJECT

  struct Session {
    uitest::TTestBed bed;
    ui::TfmMain* w = nullptr;
    ui::TProfilePanel* panel = nullptr;
    QString nextFile;  // what the file dialog answers
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;

    Session() {
      bed.StartSimulator();
      bed.UseSimulatorPort();
      w = &bed.OpenWindow();
      panel = &w->ConfigPage().Profiles();
      panel->runFileDialog = [this](QFileDialog& dialog) {
        mode = dialog.acceptMode();
        return nextFile;
      };
    }
    QStringList ListNames() {
      QStringList out;
      ui::TWorkTableModel& m = panel->DBCtrlGrid1->Model();
      for (int r = 0; r < m.rowCount(); ++r) out << m.index(r, 0).data().toString();
      return out;
    }
    void Click(ui::TSpeedButtonEx* b, const QString& file) {
      nextFile = file;
      QTest::mouseClick(b, Qt::LeftButton);
    }
  };

 private slots:
  void theButtonsAreThereInThePanelsStyle() {
    Session s;
    QCOMPARE(s.panel->bImportPropFromFile->objectName(), QString("bImportPropFromFile"));
    QCOMPARE(s.panel->bExportPropToFile->objectName(), QString("bExportPropToFile"));
    QCOMPARE(s.panel->bImportPropFromFile->text(), U("Импорт из файла"));
    QCOMPARE(s.panel->bExportPropToFile->text(), U("Экспорт в файл"));
    QCOMPARE(s.panel->bExportPropToFile->height(), s.panel->bDelPropKKMtoBD->height());
  }

  void anImportedFileBecomesTheStoredProfileAndExportsAgainAsItWas() {
    Session s;
    QVERIFY(s.bed.Connect());
    // Part of the settings: one department opened, one receipt line, an option.
    const QString part = s.bed.Path("part.conf");
    QVERIFY(
        WriteTextFile(part.toStdString(),
                      "# a partial file\n[departments]\n2.status = goods\n2.name = \"Кофе\"\n2.group = A\n"
                      "2.price = 10.00\n[receipt]\nheader.2 = \"Касса 2\"\n[options]\n1 = 1\n"));
    s.Click(s.panel->bImportPropFromFile, part);
    QCOMPARE(s.mode, QFileDialog::AcceptOpen);
    QVERIFY2(s.bed.Boxes().empty(), s.bed.Boxes().empty() ? "" : s.bed.Boxes()[0].text.c_str());
    QVERIFY(s.ListNames().contains(U("Сохраненная")));
    // The stored profile on display, read back from the files.
    TProfileStore& store = s.w->Profiles();
    QVERIFY(!store.StoredProfileKey().empty());
    QVERIFY(store.SelectEntry(store.StoredProfileKey()));
    const QString first = s.bed.Path("first.conf");
    s.Click(s.panel->bExportPropToFile, first);
    QCOMPARE(s.mode, QFileDialog::AcceptSave);
    const std::string exported = Read(first);
    for (const char* line : {"\n2.status = goods\n2.name = \"Кофе\"\n2.group = A\n2.price = 10.00\n",
                             "\nheader.2 = \"Касса 2\"\n", "\n1 = 1\n"})
      QVERIFY2(exported.find(line) != std::string::npos, exported.c_str());
    // The whole exported file imported again changes nothing and exports the same.
    s.Click(s.panel->bImportPropFromFile, first);
    QVERIFY(store.SelectEntry(store.StoredProfileKey()));
    const QString second = s.bed.Path("second.conf");
    s.Click(s.panel->bExportPropToFile, second);
    QCOMPARE(Read(second), exported);
    QVERIFY(s.bed.Boxes().empty());
  }

  void aFileWithAValueTheRegisterCannotTakeChangesNothing() {
    Session s;
    QVERIFY(s.bed.Connect());
    const QString bad = s.bed.Path("bad.conf");
    QVERIFY(WriteTextFile(bad.toStdString(), "[receipt]\nheader.2 = \"Касса 2\"\nfooter.1 = \"№ 1\"\n"));
    s.Click(s.panel->bImportPropFromFile, bad);
    const std::vector<uitest::TBox> boxes = s.bed.TakeBoxes();
    QCOMPARE(boxes.size(), std::size_t{1});
    QVERIFY2(boxes[0].text.find("3: footer.1") != std::string::npos, boxes[0].text.c_str());
    QVERIFY(!s.ListNames().contains(U("Сохраненная")));
    const QString out = s.bed.Path("out.conf");
    s.Click(s.panel->bExportPropToFile, out);
    QVERIFY(Read(out).find("Касса 2") == std::string::npos);
  }
};

QTEST_MAIN(ProfileFilesTest)
#include "test_profile_files.moc"
