// The receipt header and footer tab "Заголовок и окончание чека": the six
// header and six footer lines in a fixed-pitch font, the print font of each
// block, reading them from the register and writing them back.
#pragma once

#include <QStringList>
#include <QWidget>

#include "PageHost.h"

class QLabel;

namespace zarvik::ui {

class TDBComboBox;
class TDBGridEh;

class TReceiptTab : public QWidget {
  Q_OBJECT
 public:
  TReceiptTab(TPageHost& host, QWidget* parent = nullptr);

  static constexpr const char* kCaption = "Заголовок и окончание чека";

  // The two actions (also run by the read-all and write-all actions).
  void LoadReceiptText();
  void SaveReceiptText();

  TDBGridEh& TitleGrid() { return *title_; }
  TDBGridEh& FooterGrid() { return *footer_; }
  TDBComboBox& TitleFont() { return *titleFont_; }
  TDBComboBox& FooterFont() { return *footerFont_; }

  // The font number a font name stands for: its first digit, 0 for an
  // empty name.
  static int FontNumber(const std::string& name);

 protected:
  void showEvent(QShowEvent* event) override;

 signals:
  // A header load narrowed the print fonts to the register's ones.
  void fontNamesChanged(const QStringList& names);

 private:
  void ReadReceiptText();
  void WriteReceiptText();
  void SetFontNames(const QStringList& names);
  // The "Шрифт" label of a block in blue and bold while the block's font
  // differs from the comparison profile's.
  void UpdateFontMarks();
  bool FontDiffersShown(bool footer);

  TPageHost& host_;
  TDBGridEh* title_ = nullptr;
  TDBGridEh* footer_ = nullptr;
  TDBComboBox* titleFont_ = nullptr;
  TDBComboBox* footerFont_ = nullptr;
  QLabel* titleFontLabel_ = nullptr;
  QLabel* footerFontLabel_ = nullptr;
};

// The nine print font names.
QStringList AllPrintFontNames();

}  // namespace zarvik::ui
