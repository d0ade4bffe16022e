// A drop-down list bound to one text field of a working table: it shows the
// field of the current row (no entry when the text is not in the list) and
// stores the chosen entry's text in it. On a table without rows the choice
// adds the row.
#pragma once

#include <QComboBox>
#include <string>

#include "store/WorkTable.h"

namespace zarvik::ui {

class TDBComboBox : public QComboBox, private IWorkTableObserver {
  Q_OBJECT
 public:
  explicit TDBComboBox(QWidget* parent = nullptr);
  ~TDBComboBox() override;

  void SetDataSource(TWorkTable* table, std::string field);
  // Replaces the entries and shows the field again.
  void SetItems(const QStringList& items);
  // Reads the field of the current row again.
  void Refresh();

 private:
  void Store(int index);

  void RowsInserted(int, int) override { Refresh(); }
  void RowsRemoved(int, int) override { Refresh(); }
  void RowChanged(int) override { Refresh(); }
  void CurrentChanged(int) override { Refresh(); }
  void Reset() override { Refresh(); }

  TWorkTable* table_ = nullptr;
  std::string field_;
  bool refreshing_ = false;
};

}  // namespace zarvik::ui
