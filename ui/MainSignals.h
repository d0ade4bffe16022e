// Notifications of the main window that pages follow.
#pragma once

#include <QObject>

namespace zarvik::ui {

class TMainSignals : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;

 signals:
  // The register port was opened (connect) or closed (disconnect).
  void connectionChanged(bool connected);
  // A connect identified the register and adapted the program to it:
  // `operatorCount` programmable operators (0, 4 or 8).
  void registerAdapted(int operatorCount);
  // The language captions were applied (start-up and language change).
  void languageApplied();
  // A page became the current page.
  void pageSelected(int page);
};

}  // namespace zarvik::ui
