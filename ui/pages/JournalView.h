// A view of journal lines (the journal page's text view and data view): read
// only, fixed-pitch font, no word wrap, filled in batches. Lines wait in a
// queue until Flush appends them in one go, so that a long stream of frames
// costs one append and one repaint per batch however full the view already
// is (the document grows without limit).
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <string>
#include <vector>

namespace zarvik::ui {

// A marked run of lines of a view (a receipt with a finding): shaded, its
// text shown as the tooltip of those lines.
struct TJournalTextMark {
  int firstLine = 0;
  int lastLine = 0;
  std::string text;
};

class TJournalView : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit TJournalView(QWidget* parent = nullptr);

  // Empties the view and its queue.
  void Clear();
  // Queues lines (UTF-8); they show after the next Flush.
  void Queue(const std::vector<std::string>& lines);
  // Appends the queued lines; the view follows the end while it is scrolled
  // to the end.
  void Flush();
  bool HasQueued() const { return queued_ > 0; }

  // Lines shown (queued ones not included).
  int LineCount() const { return lines_; }
  // The lines shown, in order, as UTF-8.
  std::vector<std::string> Lines() const;

  // Shades the marked lines and shows their texts as tooltips; an empty list
  // takes the marks away. Clear takes them away too.
  void SetMarks(std::vector<TJournalTextMark> marks);
  const std::vector<TJournalTextMark>& Marks() const { return marks_; }
  // The texts of the marks over a line (0-based), joined by line ends.
  QString MarkText(int line) const;
  // Puts the cursor on the line and scrolls it into view.
  void ShowLine(int line);

 protected:
  bool viewportEvent(QEvent* event) override;

 private:
  QString queue_;
  int queued_ = 0;
  int lines_ = 0;
  std::vector<TJournalTextMark> marks_;
};

}  // namespace zarvik::ui
