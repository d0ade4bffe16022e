// The free-text tab "Текст" (shown only with the switch "okb"): lines of
// text printed on the register's receipt printer with a chosen font and
// brightness.
#pragma once

#include <QWidget>

#include "PageHost.h"

class QComboBox;
class QPlainTextEdit;

namespace zarvik::ui {

class TSpeedButtonEx;

class TTextTab : public QWidget {
  Q_OBJECT
 public:
  TTextTab(TPageHost& host, QWidget* parent = nullptr);

  static constexpr const char* kCaption = "Текст";

  // The print fonts offered (all nine at start, the register's after a
  // header load); the first is selected.
  void SetFontNames(const QStringList& names);

  // Handlers of the two buttons.
  void bPrintTextClick();
  void BClearTextClick();

  // The lines of the text box as they are printed (none for an empty box).
  QStringList TextLines() const;

  QComboBox* cbFontText = nullptr;
  QComboBox* cbLiteLetter = nullptr;
  QPlainTextEdit* mText = nullptr;
  TSpeedButtonEx* bPrintText = nullptr;
  TSpeedButtonEx* BClearText = nullptr;

 private:
  void PrintLines();

  TPageHost& host_;
};

}  // namespace zarvik::ui
