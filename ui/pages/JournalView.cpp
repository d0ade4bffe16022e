#include "JournalView.h"

#include <QFont>
#include <QFontDatabase>
#include <QTextBlock>
#include <QTextDocument>

namespace zarvik::ui {

namespace {
constexpr const char* kFixedFontFamily = "Courier";
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

}  // namespace zarvik::ui
