#include "ConsoleWidget.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

namespace zarvik::ui {

QColor ToQColor(TColor color) {
  return QColor(ColorRed(color), ColorGreen(color), ColorBlue(color));
}

ConsoleWidget::ConsoleWidget(QWidget* parent) : QTextEdit(parent) {
  setReadOnly(true);
  setUndoRedoEnabled(false);
}

void ConsoleWidget::Reset(TColor background) {
  QPalette p = palette();
  p.setColor(QPalette::Base, ToQColor(background));
  p.setColor(QPalette::Text, ToQColor(clRed));
  setPalette(p);
  clear();
  setLineWrapMode(QTextEdit::NoWrap);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

int ConsoleWidget::LineCount() const {
  // An empty document still has one empty block.
  const QTextDocument* doc = document();
  if (doc->blockCount() == 1 && doc->firstBlock().length() <= 1) return 0;
  return doc->blockCount();
}

void ConsoleWidget::DeleteFirstLine() {
  QTextCursor c(document());
  c.movePosition(QTextCursor::Start);
  // The first line with the break after it, or the only line's text.
  if (!c.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor)) {
    c.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
  }
  c.removeSelectedText();
}

void ConsoleWidget::AppendLine(const ConsoleLine& line) {
  QTextCursor c(document());
  c.movePosition(QTextCursor::End);
  if (LineCount() > 0) c.insertBlock();
  const int base = c.position();
  QTextCharFormat plain;
  plain.setForeground(ToQColor(clRed));
  c.insertText(QString::fromStdString(line.text), plain);
  const auto apply = [&](int first, int last, const QTextCharFormat& fmt) {
    QTextCursor r(document());
    r.setPosition(base + first);
    r.setPosition(base + last + 1, QTextCursor::KeepAnchor);
    r.mergeCharFormat(fmt);
  };
  QTextCharFormat f;
  f.setFontItalic(true);
  for (const TextRange& r : line.italic) apply(r.first, r.last, f);
  f = QTextCharFormat();
  f.setFontWeight(QFont::Bold);
  for (const TextRange& r : line.bold) apply(r.first, r.last, f);
  f = QTextCharFormat();
  f.setFontUnderline(true);
  for (const TextRange& r : line.underline) apply(r.first, r.last, f);
  for (const ColorRange& r : line.colors) {
    f = QTextCharFormat();
    f.setForeground(ToQColor(r.color));
    apply(r.first, r.last, f);
  }
}

void ConsoleWidget::ScrollToEnd() {
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

}  // namespace zarvik::ui
