// The journal page's tables, summary with charts and check, after a read of
// the simulated register: the grids hold one row per receipt and operation,
// the summary the shop's totals, the check's findings are marked at their
// receipts in the text view, and the export and the charts write their files.
#include <QtTest>

#include <QAction>
#include <QChartView>
#include <QCheckBox>
#include <QDateEdit>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <string>
#include <vector>

#include "Scenario.h"
#include "UiTestSupport.h"
#include "journal/JournalCheck.h"
#include "journal/JournalExport.h"
#include "pages/JournalExportDialog.h"
#include "pages/JournalPage.h"
#include "pages/JournalSummaryView.h"
#include "pages/JournalTablesView.h"
#include "pages/JournalView.h"
#include "store/UnitBD.h"
#include "store/WorkTable.h"

using namespace zarvik;

namespace {

const std::string kShop = std::string(ZARVIK_TEST_DATA) + "/scenarios/journal_shop.ini";

// The text of a summary row (section, row) as the grid shows it: count and sum.
QString SummaryCell(QTableView* grid, const QString& section, const QString& row, int column) {
  QAbstractItemModel* m = grid->model();
  for (int r = 0; r < m->rowCount(); ++r) {
    if (m->index(r, 0).data().toString() == section && m->index(r, 1).data().toString() == row)
      return m->index(r, column).data().toString();
  }
  return QStringLiteral("<none>");
}

}  // namespace

class JournalTablesTest : public QObject {
  Q_OBJECT

  struct TBed {
    explicit TBed(sim::Scenario sc) {
      bed.StartSimulator(sc);
      bed.UseSimulatorPort();
      w = &bed.OpenWindow();
      page = &w->JournalPage();
      connected = bed.Connect();
    }
    void Read() { w->Action("aLoadMagazin")->trigger(); }
    uitest::TTestBed bed;
    ui::TfmMain* w = nullptr;
    ui::TJournalPage* page = nullptr;
    bool connected = false;
  };

 private slots:
  void init() { SetDecimalSeparator('.'); }

  void tablesSummaryAndCheckFollowTheRead() {
    TBed b(uitest::LoadScenario(kShop));
    QVERIFY(b.connected);
    ui::TJournalTablesView* t = b.page->JournalTables;
    // Before a read: empty tables, nothing to export.
    QCOMPARE(t->GridMagazineReceipts->model()->rowCount(), 0);
    QVERIFY(!t->bExportMagazine->isEnabled());
    b.Read();
    QCOMPARE(t->GridMagazineReceipts->model()->rowCount(), 5);
    QCOMPARE(t->GridMagazineLines->model()->rowCount(), 11);
    QVERIFY(t->bExportMagazine->isEnabled());
    QTableView* summary = t->Summary().GridSummary;
    QCOMPARE(SummaryCell(summary, "Итоги", "Продажи", 2), QStringLiteral("3"));
    QCOMPARE(SummaryCell(summary, "Итоги", "Продажи", 3), QStringLiteral("899.90"));
    QCOMPARE(SummaryCell(summary, "Вид оплаты", "Безнал", 3), QStringLiteral("604.90"));
    QCOMPARE(t->ListMagazineFindings->count(), 1);
    QCOMPARE(t->ListMagazineFindings->item(0)->text(), QString::fromUtf8(kJournalCleanText));
    QVERIFY(b.page->MemoMagazine->Marks().empty());

    // The range of the second day only.
    t->Summary().cbSummaryRange->setChecked(true);
    t->Summary().deSummaryFrom->setDate(QDate(2010, 12, 14));
    t->Summary().deSummaryTo->setDate(QDate(2010, 12, 14));
    QCOMPARE(SummaryCell(summary, "Итоги", "Продажи", 3), QStringLiteral("500.00"));
    QCOMPARE(SummaryCell(summary, "Итоги", "Возвраты", 3), QStringLiteral("30.00"));
    t->Summary().cbSummaryRange->setChecked(false);
    QCOMPARE(SummaryCell(summary, "Итоги", "Продажи", 3), QStringLiteral("899.90"));

    // Goods names from the goods table once it holds them.
    TWorkTable& goods = b.w->Bd().mtTOBAP;
    QCOMPARE(goods.Append(), WtResult::Ok);
    QCOMPARE(goods.SetValue(goods.FieldIndex("Code"), WtValue{std::int64_t{20}}), WtResult::Ok);
    QCOMPARE(goods.SetValue(goods.FieldIndex("Name"), WtValue{std::string("Сыр")}), WtResult::Ok);
    QCOMPARE(goods.Post(), WtResult::Ok);
    b.page->UpdateTables();
    QCOMPARE(SummaryCell(summary, "Товар", "Сыр (20)", 3), QStringLiteral("750.00"));
  }

  void findingsAreMarkedAtTheirReceiptInTheText() {
    // Receipt 2 paid 10.00 in cash for 104.90; receipt number 3 missing.
    sim::Scenario sc = uitest::LoadScenario(kShop);
    int payments = 0;
    for (sim::Bytes& r : sc.state.journal) {
      if (r[0] == 0xC9 && ++payments == 2) r = sim::PaymentRecord(r[1], 0, 10490, 1000);
      if (r[0] == 0xCA && r[2] == 0x03) r[2] = 0x05;  // number 3 becomes 5
    }
    TBed b(sc);
    QVERIFY(b.connected);
    b.Read();
    ui::TJournalTablesView* t = b.page->JournalTables;
    QCOMPARE(t->ListMagazineFindings->count(), 3);
    QCOMPARE(t->ListMagazineFindings->item(0)->text(),
             QString::fromUtf8("чек 2: внесено 10.00 меньше итога 104.90, сдача -94.90"));
    const auto& marks = b.page->MemoMagazine->Marks();
    QCOMPARE(marks.size(), std::size_t{3});
    // The mark covers receipt 2's text: its payment and its closing lines.
    const std::vector<std::string> text = b.page->MemoMagazine->Lines();
    bool paymentMarked = false, closingMarked = false;
    for (int l = marks[0].firstLine; l <= marks[0].lastLine; ++l) {
      const std::string& line = text[static_cast<std::size_t>(l)];
      if (line.find("СДАЧА") != std::string::npos && line.find("-94.90") != std::string::npos)
        paymentMarked = true;
      if (line == "ЧЕК:2     ФИСКАЛЬНЫЙ") closingMarked = true;
      QVERIFY(line.find("ЧЕК:1 ") == std::string::npos);
    }
    QVERIFY(paymentMarked);
    QVERIFY(closingMarked);
    QCOMPARE(b.page->MemoMagazine->MarkText(marks[0].lastLine), t->ListMagazineFindings->item(0)->text());
    // Choosing a finding shows its receipt in the text view.
    b.page->TabsMagazine->setCurrentWidget(t);
    emit t->ListMagazineFindings->itemActivated(t->ListMagazineFindings->item(1));
    QVERIFY(b.page->TabsMagazine->currentIndex() == 0);
    QCOMPARE(b.page->MemoMagazine->textCursor().blockNumber(), marks[1].firstLine);
  }

  void exportAndChartsWriteTheirFiles() {
    TBed b(uitest::LoadScenario(kShop));
    QVERIFY(b.connected);
    b.Read();
    ui::TJournalTablesView* t = b.page->JournalTables;
    const QString csv = b.bed.Path("receipts.csv");
    QVERIFY(t->Export(csv, ui::kExportCsv1251, ui::kExportReceipts));
    QFile f(csv);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QCOMPARE(bytes.count('\n'), 6);
    QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY(t->Export(b.bed.Path("lines.csv"), ui::kExportCsvUtf8, ui::kExportLines));
    QVERIFY(t->Export(b.bed.Path("journal.xlsx"), ui::kExportXlsx, 0));
    QVERIFY(QFileInfo(b.bed.Path("journal.xlsx")).size() > 0);
    QVERIFY(!t->Export(b.bed.Path("missing/journal.xlsx"), ui::kExportXlsx, 0));
    const std::vector<uitest::TBox> boxes = b.bed.TakeBoxes();
    QCOMPARE(boxes.size(), std::size_t{1});
    QCOMPARE(boxes[0].kind, BoxKind::Error);

    QStringList written;
    QVERIFY(t->Summary().SaveCharts(b.bed.Path("sales.png"), written));
    QCOMPARE(written, (QStringList{b.bed.Path("sales_часы.png"), b.bed.Path("sales_дни.png")}));
    for (const QString& path : written) {
      const QImage image(path);
      QVERIFY(!image.isNull());
      QVERIFY(image.width() >= 200 && image.height() >= 100);
    }
  }

  void everyNewControlHasANameAndACaption() {
    TBed b(uitest::LoadScenario(kShop));
    ui::TJournalTablesView* t = b.page->JournalTables;
    ui::TJournalSummaryView& s = t->Summary();
    const QList<QWidget*> controls{t->GridMagazineReceipts, t->GridMagazineLines, t->ListMagazineFindings,
                                   t->bExportMagazine,      s.cbSummaryRange,     s.deSummaryFrom,
                                   s.deSummaryTo,           s.bSaveCharts,        s.GridSummary,
                                   s.ChartByHour,           s.ChartByDay};
    for (QWidget* c : controls) {
      QVERIFY(!c->objectName().isEmpty());
      QVERIFY2(!c->accessibleName().isEmpty(), qPrintable(c->objectName()));
    }
  }
};

QTEST_MAIN(JournalTablesTest)
#include "test_journal_tables.moc"
