// Page 3 "Электронный журнал": reading the register's journal, its text and data views, saving them.
#pragma once

#include <QWidget>

#include "PageHost.h"

namespace zarvik::ui {

class TJournalPage : public QWidget {
  Q_OBJECT
 public:
  TJournalPage(TPageHost& host, QWidget* parent = nullptr);

 private:
  TPageHost& host_;
};

}  // namespace zarvik::ui
