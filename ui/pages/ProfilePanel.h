// The profile panel "Список настроек": the list of profiles of the connected
// register (its values read from the register, its stored profile, the
// templates of its version) and the buttons that save and delete profiles.
#pragma once

#include <QFrame>

#include "PageHost.h"

namespace zarvik::ui {

class TProfilePanel : public QFrame {
  Q_OBJECT
 public:
  TProfilePanel(TPageHost& host, QWidget* parent = nullptr);

  // Rebuilds the list for the connected register.
  void RefreshProfileList();
  // The main window's close query: false keeps the window open.
  bool CloseQuery();

 private:
  TPageHost& host_;
};

}  // namespace zarvik::ui
