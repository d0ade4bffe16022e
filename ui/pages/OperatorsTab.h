// The operators tab "Операторы": the names of the register's operators and
// their positions, read from the register and written back.
#pragma once

#include <QWidget>

#include "PageHost.h"

class QLabel;

namespace zarvik::ui {

class TDBGridEh;

class TOperatorsTab : public QWidget {
  Q_OBJECT
 public:
  TOperatorsTab(TPageHost& host, QWidget* parent = nullptr);

  static constexpr const char* kCaption = "Операторы";

  // The two actions (also run by the read-all and write-all actions).
  void LoadOperators();
  void SaveOperators();

  TDBGridEh& Grid() { return *grid_; }
  QLabel& Warning() { return *lWarningCHPM_; }

 private:
  void ReadOperators();
  void WriteOperators();
  void FollowOperatorCount(int count);

  TPageHost& host_;
  TDBGridEh* grid_ = nullptr;
  QLabel* lWarningCHPM_ = nullptr;
};

}  // namespace zarvik::ui
