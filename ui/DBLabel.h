// A label that shows one field of the current row of a working table and,
// just before each drawing, lets its owner choose the font for that drawing
// (OnBeforeDraw). For the cards of a card grid, where every card shows its
// own row, the same event is offered by BeforeDrawCell (see DBCtrlGrid.h).
#pragma once

#include <QLabel>
#include <functional>
#include <string>

#include "store/WorkTable.h"

namespace zarvik::ui {

class TDBLabel : public QLabel, private IWorkTableObserver {
  Q_OBJECT
 public:
  explicit TDBLabel(QWidget* parent = nullptr);
  ~TDBLabel() override;

  // Binds to `field` of `table` (nullptr unbinds).
  void SetDataSource(TWorkTable* table, std::string field);
  // Raised before every drawing with the text about to be drawn; the
  // handler may change the label's font (colour through the palette).
  std::function<void(TDBLabel& sender, const QString& text)> OnBeforeDraw;

  // Reads the field of the current row again.
  void Refresh();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void RowsInserted(int, int) override { Refresh(); }
  void RowsRemoved(int, int) override { Refresh(); }
  void RowChanged(int) override { Refresh(); }
  void CurrentChanged(int) override { Refresh(); }
  void Reset() override { Refresh(); }

  TWorkTable* table_ = nullptr;
  std::string field_;
};

}  // namespace zarvik::ui
