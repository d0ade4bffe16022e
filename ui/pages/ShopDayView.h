// The shop's day (ShopDayView): one row per register and day of the journals
// read, shown as a table of its own window and saved as CSV or .xlsx.
#pragma once

#include <QDialog>
#include <functional>

#include "journal/JournalExport.h"

class QTableWidget;
class QPushButton;

namespace zarvik::ui {

class TShopDayView : public QDialog {
  Q_OBJECT
 public:
  explicit TShopDayView(QWidget* parent = nullptr);

  void ShowTable(TDataTable table);
  const TDataTable& Data() const { return data_; }
  QTableWidget* Table() const { return table_; }
  // Writes the table: .xlsx as a workbook, else CSV (";", the program's
  // decimal separator, code page 1251). False after a reported failure.
  bool Save(const QString& path);

  // The save dialog (a test answers it): the path chosen or "".
  std::function<QString()> chooseFile;

 private:
  TDataTable data_;
  QTableWidget* table_ = nullptr;
  QPushButton* bSave_ = nullptr;
};

}  // namespace zarvik::ui
