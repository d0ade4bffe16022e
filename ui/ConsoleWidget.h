// The console: a read-only rich-text box, black, coloured lines, the last
// LimitLines lines kept (the rule lives in the message writer).
#pragma once

#include <QTextEdit>

#include "shell/DiaLog.h"

namespace zarvik::ui {

class ConsoleWidget : public QTextEdit, public IConsole {
  Q_OBJECT
 public:
  explicit ConsoleWidget(QWidget* parent = nullptr);
  void Reset(TColor background) override;
  int LineCount() const override;
  void DeleteFirstLine() override;
  void AppendLine(const ConsoleLine& line) override;
  void ScrollToEnd() override;
};

// A colour of the console (blue in the high byte) as a Qt colour.
QColor ToQColor(TColor color);

}  // namespace zarvik::ui
