// The journal page's third view: the journal read as tables, its summary and
// its check, beside the text and data views.
#include <QSplitter>
#include <QTabWidget>

#include "JournalPage.h"
#include "JournalTablesView.h"
#include "JournalView.h"
#include "journal/JournalGoodsNames.h"
#include "store/UnitBD.h"

namespace zarvik::ui {

namespace {
constexpr const char* kTextTabCaption = "Текст";
}  // namespace

QWidget* TJournalPage::MakeViewTabs() {
  TabsMagazine = new QTabWidget(this);
  TabsMagazine->setObjectName("TabsMagazine");
  TabsMagazine->addTab(views_, QString::fromUtf8(kTextTabCaption));
  JournalTables = new TJournalTablesView(TabsMagazine);
  TabsMagazine->addTab(JournalTables, QString::fromUtf8(kJournalTablesCaption));
  // A finding chosen in the list: its receipt in the text view.
  connect(JournalTables, &TJournalTablesView::FindingChosen, this, [this](int line) {
    TabsMagazine->setCurrentWidget(views_);
    MemoMagazine->ShowLine(line);
  });
  return TabsMagazine;
}

void TJournalPage::UpdateTables() {
  MemoMagazine->SetMarks(
      JournalTables->SetRecords(MemoMagazineSource->Lines(), GoodsNamesOf(host_.Bd().mtTOBAP)));
}

}  // namespace zarvik::ui
