// The goods page's files: the import and export menus, the file dialogs with
// their filters and default extensions, and the dBASE and CSV actions as the
// page runs them (the grid suspended, the row limit of an identified
// register, what a round trip keeps).
#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QScreen>
#include <QtTest>

#include "DBGridEh.h"
#include "SpeedButtonEx.h"
#include "UiTestSupport.h"
#include "model/U_kkms.h"
#include "pages/GoodsPage.h"
#include "pages/GoodsSheetDialog.h"
#include "shell/TextCodec.h"
#include "store/GoodsExchange.h"
#include "store/UnitBD.h"

using namespace zarvik;
using ui::TGoodsPage;

namespace {

QString RowText(const TWorkTable& t) {
  QStringList parts;
  for (std::string_view f : kGoodsFields) parts << QString::fromStdString(t.Text(f));
  return parts.join('|');
}

QStringList AllRows(TWorkTable& t) {
  QStringList rows;
  for (t.First(); !t.Eof(); t.Next()) rows << RowText(t);
  t.First();
  return rows;
}

void AddRow(TWorkTable& t, const QString& row) {
  const QStringList parts = row.split('|');
  t.Append();
  for (int f = 0; f < parts.size() && f < kGoodsFieldCount; ++f) {
    const std::string_view name = kGoodsFields[static_cast<std::size_t>(f)];
    if (parts[f].isEmpty())
      t.SetNull(name);
    else if (name == "isBlock")
      t.SetBoolean(name, parts[f] == "True");
    else
      t.SetText(name, parts[f].toStdString());
  }
  t.Post();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
  f.write(bytes);
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray Cp1251(const char* utf8) {
  return QByteArray::fromStdString(Utf8ToCp1251(utf8));
}

// What a file dialog was asked to be when it was shown.
struct TDialogSeen {
  QString name;
  QStringList filters;
  QString suffix;
  QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
};

}  // namespace

class GoodsFilesTest : public QObject {
  Q_OBJECT

  struct TRig {
    uitest::TTestBed bed;
    ui::TfmMain* w = nullptr;
    TGoodsPage* page = nullptr;
    std::vector<TDialogSeen> dialogs;
    QString answer;  // the file the next dialog returns ("" cancels)
    TRig() {
      w = &bed.OpenWindow();
      page = &w->GoodsPage();
      page->runFileDialog = [this](QFileDialog& d) {
        dialogs.push_back({d.objectName(), d.nameFilters(), d.defaultSuffix(), d.acceptMode()});
        return answer;
      };
      SetDecimalSeparator('.');
    }
    TWorkTable& Table() { return w->Bd().mtTOBAP; }
    void Run(const char* action, const QString& file) {
      answer = file;
      w->Action(action)->trigger();
    }
  };

 private slots:
  void init() { SetDecimalSeparator('.'); }

  void dialogsFiltersAndCancel() {
    TRig rig;
    AddRow(rig.Table(), "1|170|a|1|1|1|1||False|0");
    struct Case {
      const char* action;
      const char* dialog;
      const char* filter;
      const char* suffix;
      QFileDialog::AcceptMode mode;
    };
    // The dBASE import leaves the default extension as the CSV import set it.
    const Case cases[] = {
        {"tovarFromCSV", "OpenDialogDBF", "CSV (*.csv)", "csv", QFileDialog::AcceptOpen},
        {"tovarFromDBF", "OpenDialogDBF", "DBF (*.dbf)", "csv", QFileDialog::AcceptOpen},
        {"tovarToDBF", "SaveDialogDBF", "DBF (*.dbf)", "dbf", QFileDialog::AcceptSave},
        {"tovarToCSV", "SaveDialogDBF", "CSV (*.csv)", "csv", QFileDialog::AcceptSave},
        {"tovarFromSheet", "OpenDialogDBF", "XLSX, ODS (*.xlsx *.ods)", "csv", QFileDialog::AcceptOpen},
        {"tovarToXLSX", "SaveDialogDBF", "XLSX (*.xlsx)", "xlsx", QFileDialog::AcceptSave},
    };
    for (const Case& c : cases) {
      rig.w->SelectPage(ui::pgConfig);
      rig.Run(c.action, {});
      QCOMPARE(rig.w->CurrentPage(), int(ui::pgGoods));
      QCOMPARE(rig.dialogs.back().name, QString(c.dialog));
      QCOMPARE(rig.dialogs.back().filters, QStringList(c.filter));
      QCOMPARE(rig.dialogs.back().suffix, QString(c.suffix));
      QCOMPARE(rig.dialogs.back().mode, c.mode);
      // Cancelled: nothing changes, nothing is written.
      QCOMPARE(AllRows(rig.Table()), QStringList("1|170|a|1|1|1|1||False|0"));
    }
    QCOMPARE(int(rig.dialogs.size()), 6);
    QVERIFY(rig.bed.Boxes().empty());
    QVERIFY(rig.page->OpenDialogDBF->isSizeGripEnabled());
  }

  void popupMenus() {
    TRig rig;
    rig.w->SelectPage(ui::pgGoods);
    QVERIFY(QTest::qWaitForWindowExposed(rig.w));
    struct Case {
      const char* action;
      QMenu* menu;
      QWidget* button;
      QStringList entries;
    };
    const Case cases[] = {
        {"tovarImport",
         rig.page->PopupMenuImport,
         rig.page->SpeedButtonExImpWares,
         {"tovarFromDBF", "tovarFromCSV", "tovarFromSheet", "", "tovarCorrectData"}},
        {"tovarExport",
         rig.page->PopupMenuExport,
         rig.page->SpeedButtonExExpWares,
         {"tovarToDBF", "tovarToCSV", "tovarToXLSX"}},
    };
    for (const Case& c : cases) {
      QStringList entries;
      for (QAction* a : c.menu->actions()) entries << (a->isSeparator() ? QString() : a->objectName());
      QCOMPARE(entries, c.entries);
      rig.w->Action(c.action)->trigger();
      QVERIFY(c.menu->isVisible());
      // At the centre of the button, moved left only as far as the screen
      // needs.
      const QPoint centre = c.button->mapToGlobal(c.button->rect().center());
      const QRect screen = c.menu->screen()->availableGeometry();
      QCOMPARE(c.menu->pos(), QPoint(std::min(centre.x(), screen.right() + 1 - c.menu->width()), centre.y()));
      c.menu->hide();
    }
  }

  void csvImportAsTheFileSays() {
    TRig rig;
    TWorkTable& t = rig.Table();
    AddRow(t, "99|170|old|1|1|1|1||False|0");
    const QString file = rig.bed.Path("goods.csv");
    WriteFile(file, Cp1251("12;170;Молоко \"Домик\";1;25,50;1;1;4607001771012;True;5\r\n"
                           "13;165;\"Доставка; срочная\";0;150;0;1;;ИСТИНА;7\r\n"
                           "\r\n"
                           "14;160;'Ящик';2;\"10.5\";1;1;;ложь;0\r\n"));
    int resets = 0, inserts = 0;
    ui::TWorkTableModel& m = rig.page->DBGridEhTOBAP->Model();
    const auto r1 = connect(&m, &QAbstractItemModel::modelReset, this, [&] { ++resets; });
    const auto r2 = connect(&m, &QAbstractItemModel::rowsInserted, this, [&] { ++inserts; });
    rig.Run("tovarFromCSV", file);
    disconnect(r1);
    disconnect(r2);
    // The grid waits for the end of the import.
    QCOMPARE(inserts, 0);
    QCOMPARE(resets, 1);
    QCOMPARE(AllRows(t),
             QStringList({QString::fromUtf8("12|170|Молоко \"Домик\"|1|25.5|1|1|4607001771012|True|0"),
                          QString::fromUtf8("13|165|Доставка; срочная|0|150|0|1||True|0"),
                          QString::fromUtf8("14|160|Ящик|2|10.5|1|1||False|0"),
                          QString::fromUtf8("|170|||||1||False|0")}));
    QVERIFY(rig.bed.Boxes().empty());
  }

  void roundTrips() {
    TRig rig;
    TWorkTable& t = rig.Table();
    const QStringList rows = {
        QString::fromUtf8("1|170|Хлеб; \"Бородинский\"|1|25.5|1|1|4600000000017|False|12.5"),
        QString::fromUtf8("2|165|'Услуга|0|0.01|4|1||True|3"), "3|0||||||||"};
    for (const QString& r : rows) AddRow(t, r);
    t.SetRecNo(2);

    // dBASE keeps everything, `Count` too.
    const QString dbf = rig.bed.Path("goods.dbf");
    rig.Run("tovarToDBF", dbf);
    QCOMPARE(t.RecNo(), 2);  // the current row stays
    QVERIFY(rig.bed.ConsoleText().endsWith(QString::fromUtf8("Данные записаны в DBF файл")));
    ClearRows(t);
    rig.Run("tovarFromDBF", dbf);
    QCOMPARE(AllRows(t), rows);
    QVERIFY(rig.bed.ConsoleText().contains(QString::fromUtf8("Данные считаны из DBF файла")));

    // CSV: code page 1251, ";" between values, quotes where needed; `Count`
    // comes back as 0.
    const QString csv = rig.bed.Path("goods.csv");
    rig.Run("tovarToCSV", csv);
    const QByteArray bytes = ReadFile(csv);
    QVERIFY(bytes.startsWith(
        Cp1251("1;170;\"Хлеб; \"\"Бородинский\"\"\";1;25.5;1;1;4600000000017;False;12.5\r\n")));
    QVERIFY(bytes.endsWith("3;0;;;;;;;;\r\n"));
    rig.Run("tovarFromCSV", csv);
    // An empty blocked mark reads as false, an empty sale kind as the new
    // row's piece goods.
    QCOMPARE(AllRows(t),
             QStringList({QString::fromUtf8("1|170|Хлеб; \"Бородинский\"|1|25.5|1|1|4600000000017|False|0"),
                          QString::fromUtf8("2|165|'Услуга|0|0.01|4|1||True|0"), "3|0|||||1||False|0"}));
    QVERIFY(rig.bed.Boxes().empty());
  }

  void dbfImportLimitFollowsTheRegister() {
    TRig rig;
    TWorkTable& t = rig.Table();
    for (int code = 1; code <= 150; ++code) AddRow(t, QString("%1|170|n%1|1|1|1|1||False|0").arg(code));
    const QString dbf = rig.bed.Path("150.dbf");
    rig.Run("tovarToDBF", dbf);
    // Without an identified register up to 2000 rows are taken.
    rig.Run("tovarFromDBF", dbf);
    QCOMPARE(t.RecordCount(), 150);
    // A register of 100 goods takes the first 100.
    QVERIFY(!rig.bed.ConsoleText().contains("Warning:"));
    rig.w->Kkm().Info().maxCountGoods = 100;
    rig.Run("tovarFromDBF", dbf);
    QCOMPARE(t.RecordCount(), 100);
    t.Last();
    QCOMPARE(t.Text("Code"), std::string("100"));
    // Not without a word.
    QVERIFY(rig.bed.ConsoleText().contains(
        QString::fromUtf8("Warning:Считано 100 зап. из 150: в таблицу товаров считывается не более 100")));
    QCOMPARE(rig.page->ImportReport().recordsNotRead, 50);
  }

  void filesOfOtherProgramsAndOtherEncodings() {
    TRig rig;
    TWorkTable& t = rig.Table();
    // A goods table written by GDAL's ogr2ogr, its text in UTF-8 as the .cpg
    // file beside it says.
    for (const char* ext : {".dbf", ".cpg"})
      QVERIFY(QFile::copy(QString(ZARVIK_TEST_DATA) + "/store/gdal_goods_utf8" + ext,
                          rig.bed.Path("gdal") + ext));
    rig.Run("tovarFromDBF", rig.bed.Path("gdal.dbf"));
    const QStringList gdalRows = {
        QString::fromUtf8("1|170|Молоко утф8|1|25.5|1|1|4601234567890|False|12.5"),
        QString::fromUtf8("2|165|Доставка по городу|2|100|2|||True|0"),
        QString::fromUtf8("3|160|Ящик, тара|5|0.01||1|000123|False|"),
        QString::fromUtf8("4|170|Ёлка № 4 «ель»|0|1999.99|4|2||True|3.25"),
        QString::fromUtf8("5|170|Сыр плавленый сливочный 45% 100г|3|89.9|3|1|2100000000005|False|1000")};
    QCOMPARE(AllRows(t), gdalRows);
    QVERIFY(rig.bed.Boxes().empty());

    // The same CSV text saved in code page 1251 and in UTF-8 (with and
    // without a byte order mark) gives the same rows.
    const char* text =
        "1;170;Молоко утф8;1;25,50;1;1;4601234567890;False;0\r\n"
        "4;170;Ёлка № 4 «ель»;0;1999.99;4;2;;True;0\r\n";
    const std::pair<const char*, QByteArray> files[] = {{"cp1251.csv", Cp1251(text)},
                                                        {"utf8.csv", QByteArray(text)},
                                                        {"bom.csv", "\xEF\xBB\xBF" + QByteArray(text)}};
    QStringList first;
    for (const auto& [name, bytes] : files) {
      WriteFile(rig.bed.Path(name), bytes);
      rig.Run("tovarFromCSV", rig.bed.Path(name));
      if (first.isEmpty()) first = AllRows(t);
      QCOMPARE(AllRows(t), first);
    }
    QCOMPARE(first.front(), QString::fromUtf8("1|170|Молоко утф8|1|25.5|1|1|4601234567890|False|0"));
    QVERIFY(rig.bed.ConsoleText().contains(QString::fromUtf8("Файл utf8.csv прочитан в кодировке UTF-8")));
    QVERIFY(rig.bed.ConsoleText().contains(QString::fromUtf8("Файл bom.csv прочитан в кодировке UTF-8")));
    QVERIFY(!rig.bed.ConsoleText().contains("cp1251.csv"));
    // What the command line writes, with its header line, is read too.
    WriteFile(rig.bed.Path("ctl.csv"),
              QByteArray("Code;Type;Name;NG;Price;Section;Vesovoy;Shtrih;isBlock;Count\r\n") + text);
    rig.Run("tovarFromCSV", rig.bed.Path("ctl.csv"));
    QCOMPARE(AllRows(t), first);
    QVERIFY(rig.bed.ConsoleText().contains(QString::fromUtf8("Строка 1 - заголовок, пропущена")));
    QVERIFY(rig.bed.Boxes().empty());
  }

  // Price lists written by other programs (tests/goods_sheets.py): read by
  // their headers without a question; a sheet whose headers the program
  // does not know asks for its columns once, and the next file with that
  // header is read as chosen. The goods go back out as a workbook.
  void spreadsheetsInAndOut() {
    TRig rig;
    TWorkTable& t = rig.Table();
    const QString make = QStringLiteral("PYTHONIOENCODING=utf-8 /usr/bin/python3 '%1/tests/goods_sheets.py' make '%2'")
                             .arg(QString::fromUtf8(ZARVIK_SOURCE_DIR), rig.bed.Path(""));
    QCOMPARE(std::system(make.toUtf8().constData()), 0);
    int asked = 0;
    rig.page->runSheetDialog = [&](ui::TGoodsSheetDialog&) {
      ++asked;
      return false;
    };
    const QStringList priceList = {"12|170|Молоко 3,2%||89.9|1|1|4607001234562|False|",
                                   "13|170|Сыр Российский||589.5|2|2|2100008000008|False|",
                                   "14|170|Хлеб||179.8|1|1|4601234567893|False|", "15|170|Кефир||45.68||1||False|"};
    for (const char* file : {"goods.xlsx", "goods.ods"}) {
      rig.Run("tovarFromSheet", rig.bed.Path(file));
      QCOMPARE(AllRows(t), priceList);
    }
    QCOMPARE(asked, 0);
    QVERIFY(rig.bed.ConsoleText().contains(QString::fromUtf8("Лист1!E8 не записывается: «15.5» не целое число")));
    QVERIFY(rig.bed.Boxes().empty());

    // Headers the name table does not know: the user chooses.
    rig.page->runSheetDialog = [&](ui::TGoodsSheetDialog& d) {
      ++asked;
      if (d.bButtons->button(QDialogButtonBox::Ok)->isEnabled()) return false;  // nothing to choose
      if (!d.lbProblems->text().contains(QString::fromUtf8("нет строки заголовка"))) return false;
      QComboBox* code = d.findChild<QComboBox*>("cbColumnCode");
      QComboBox* price = d.findChild<QComboBox*>("cbColumnPrice");
      if (code == nullptr || price == nullptr) return false;
      code->setCurrentIndex(code->findText(QString::fromUtf8("A «Артикул»")));
      price->setCurrentIndex(price->findText(QString::fromUtf8("C «Цена, руб.»")));
      // The preview shows the rows as they will be read.
      if (d.tbPreview->rowCount() != 2 || d.tbPreview->item(0, 0)->text() != QStringLiteral("501") ||
          d.tbPreview->item(1, 4)->text() != QStringLiteral("7"))
        return false;
      return d.bButtons->button(QDialogButtonBox::Ok)->isEnabled();
    };
    const QStringList store = {"501|170|Гвозди||12.5||1||False|", "502|170|Шурупы||7||1||False|"};
    rig.Run("tovarFromSheet", rig.bed.Path("store.xlsx"));
    QCOMPARE(asked, 1);
    QCOMPARE(AllRows(t), store);
    // Remembered for the next file with that header.
    AddRow(t, "900|170|x|1|1|1|1||False|0");
    rig.Run("tovarFromSheet", rig.bed.Path("store.xlsx"));
    QCOMPARE(asked, 1);
    QCOMPARE(AllRows(t), store);

    // Out as a workbook and back.
    rig.Run("tovarFromSheet", rig.bed.Path("goods.xlsx"));
    rig.Run("tovarToXLSX", rig.bed.Path("out.xlsx"));
    ClearRows(t);
    rig.Run("tovarFromSheet", rig.bed.Path("out.xlsx"));
    QCOMPARE(AllRows(t), priceList);
    QCOMPARE(asked, 1);
    QVERIFY(rig.bed.Boxes().empty());
  }

  void filesThatCannotBeUsed() {
    TRig rig;
    TWorkTable& t = rig.Table();
    AddRow(t, "1|170|keep|1|1|1|1||False|0");
    struct Case {
      const char* action;
      const char* file;
      QByteArray bytes;  // empty: no such file
      const char* box;
    };
    const Case cases[] = {
        {"tovarFromDBF", "missing.dbf", {}, "Не удалось открыть DBF файл"},
        {"tovarFromDBF", "garbage.dbf", QByteArray(300, '\x7f'), "Не удалось открыть DBF файл"},
        {"tovarFromCSV", "missing.csv", {}, "Не удалось прочитать CSV файл"},
        {"tovarToDBF", "no/such/folder/x.dbf", {}, "Не удалось создать DBF файл"},
        {"tovarFromSheet", "missing.xlsx", {}, "Не удалось прочитать файл книги missing.xlsx: файл не найден"},
        {"tovarFromSheet", "garbage.ods", QByteArray(300, '\x7f'), "Не удалось прочитать файл книги garbage.ods"},
        {"tovarToXLSX", "no/such/folder/x.xlsx", {}, "Не удалось создать XLSX файл"},
    };
    for (const Case& c : cases) {
      const QString path = rig.bed.Path(c.file);
      if (!c.bytes.isEmpty()) WriteFile(path, c.bytes);
      rig.Run(c.action, path);
      const std::vector<uitest::TBox> boxes = rig.bed.TakeBoxes();
      QCOMPARE(int(boxes.size()), 1);
      QVERIFY2(QString::fromStdString(boxes[0].text).startsWith(QString::fromUtf8(c.box)),
               boxes[0].text.c_str());
      QCOMPARE(AllRows(t), QStringList("1|170|keep|1|1|1|1||False|0"));
    }
  }
};

QTEST_MAIN(GoodsFilesTest)
#include "test_goods_files.moc"
