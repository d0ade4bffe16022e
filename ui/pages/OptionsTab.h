// The options tab "Опции": the option cards with the description of the
// current option, the option table (switched with "Вид"), and reading,
// writing and the default values of the options.
#pragma once

#include <QWidget>

#include "PageHost.h"

class QStackedLayout;

namespace zarvik::ui {

class TDBGridEh;
class TDBLabel;
class TOptionCardGrid;

class TOptionsTab : public QWidget {
  Q_OBJECT
 public:
  TOptionsTab(TPageHost& host, QWidget* parent = nullptr);

  static constexpr const char* kCaption = "Опции";

  // The four actions (also run by the read-all and write-all actions).
  void LoadOptions();
  void SaveOptions();
  void SetDefaultOptions();
  void ViewOptions();

  TOptionCardGrid& Cards() { return *cards_; }
  TDBGridEh& Grid() { return *grid_; }
  TDBLabel& Description() { return *description_; }
  bool TableViewShown() const;

  // How the number and the interval of a row are drawn (view row of the
  // options table): blue and bold for a differing option, red and bold for
  // a value out of its interval.
  bool RowDiffers(int row) const;
  bool RowOutOfInterval(int row) const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void PostEditors();
  void WriteOptions();

  TPageHost& host_;
  TOptionCardGrid* cards_ = nullptr;
  TDBGridEh* grid_ = nullptr;
  TDBLabel* description_ = nullptr;
  QWidget* cardView_ = nullptr;
  QStackedLayout* views_ = nullptr;
};

}  // namespace zarvik::ui
