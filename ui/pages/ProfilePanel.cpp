#include "ProfilePanel.h"

namespace zarvik::ui {

TProfilePanel::TProfilePanel(TPageHost& host, QWidget* parent) : QFrame(parent), host_(host) {
  setObjectName("PanelBDConfig");
}

void TProfilePanel::RefreshProfileList() {}

bool TProfilePanel::CloseQuery() {
  return true;
}

}  // namespace zarvik::ui
