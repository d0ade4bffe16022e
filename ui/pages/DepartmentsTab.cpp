#include "DepartmentsTab.h"

namespace zarvik::ui {

TDepartmentsTab::TDepartmentsTab(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetDep");
}

}  // namespace zarvik::ui
