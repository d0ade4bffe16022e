#include "JournalPage.h"

namespace zarvik::ui {

TJournalPage::TJournalPage(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetMagazine");
}

}  // namespace zarvik::ui
