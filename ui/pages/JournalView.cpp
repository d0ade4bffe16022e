#include "JournalView.h"

#include <QFont>
#include <QFontDatabase>
#include <QTextBlock>
#include <QTextDocument>
#include <QHelpEvent>
#include <QToolTip>

namespace zarvik::ui {

namespace {
constexpr const char* kFixedFontFamily = "Courier";
// The shade of lines with a finding.
constexpr QRgb kMarkColor = 0xFFE0E0;
}  // namespace

TJournalView::TJournalView(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setUndoRedoEnabled(false);
  document()->setMaximumBlockCount(0);
  // Courier where it exists, else the system's fixed-pitch font.
  QFont font(QString::fromLatin1(kFixedFontFamily));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  if (!QFontInfo(font).fixedPitch()) {
    const int size = font.pointSize();
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (size > 0) font.setPointSize(size);
  }
  setFont(font);
}

void TJournalView::Clear() {
  SetMarks({});
  queue_.clear();
  queued_ = 0;
  lines_ = 0;
  clear();
}

void TJournalView::Queue(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (queued_ > 0) queue_ += QLatin1Char('\n');
    queue_ += QString::fromStdString(line);
    ++queued_;
  }
}

void TJournalView::Flush() {
  if (queued_ == 0) return;
  // A view holding a single empty line has an empty document, and an append
  // would fill that line instead of starting the next one.
  if (lines_ > 0 && document()->isEmpty()) queue_.prepend(QLatin1Char('\n'));
  appendPlainText(queue_);
  lines_ += queued_;
  queue_.clear();
  queued_ = 0;
}

std::vector<std::string> TJournalView::Lines() const {
  std::vector<std::string> lines;
  if (lines_ == 0) return lines;
  lines.reserve(static_cast<std::size_t>(lines_));
  for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) lines.push_back(b.text().toStdString());
  return lines;
}

void TJournalView::SetMarks(std::vector<TJournalTextMark> marks) {
  marks_ = std::move(marks);
  QList<QTextEdit::ExtraSelection> selections;
  for (const TJournalTextMark& m : marks_) {
    const QTextBlock first = document()->findBlockByNumber(m.firstLine);
    const QTextBlock last = document()->findBlockByNumber(m.lastLine);
    if (!first.isValid() || !last.isValid()) continue;
    QTextEdit::ExtraSelection s;
    s.format.setBackground(QColor(kMarkColor));
    s.format.setProperty(QTextFormat::FullWidthSelection, true);
    s.cursor = QTextCursor(first);
    s.cursor.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
    selections.push_back(s);
  }
  setExtraSelections(selections);
}

QString TJournalView::MarkText(int line) const {
  QStringList texts;
  for (const TJournalTextMark& m : marks_) {
    if (line >= m.firstLine && line <= m.lastLine) texts << QString::fromStdString(m.text);
  }
  return texts.join(QLatin1Char('\n'));
}

void TJournalView::ShowLine(int line) {
  const QTextBlock block = document()->findBlockByNumber(line);
  if (!block.isValid()) return;
  setTextCursor(QTextCursor(block));
  centerCursor();
}

bool TJournalView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip && !marks_.empty()) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QString text = MarkText(cursorForPosition(help->pos()).blockNumber());
    if (text.isEmpty()) {
      QToolTip::hideText();
    } else {
      QToolTip::showText(help->globalPos(), text, viewport());
    }
    return true;
  }
  return QPlainTextEdit::viewportEvent(event);
}

}  // namespace zarvik::ui
