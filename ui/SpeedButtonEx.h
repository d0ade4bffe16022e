// A flat push button with its own frame: a thin rounded frame at rest, a
// thicker frame with corner marks while the pointer is over it, a highlight
// frame when pressed (shown at least 100 ms, so a quick click is seen). A
// 50 ms timer notices when the pointer has left (a quick move across several
// buttons leaves no hover frame behind). It may be bound to an action, whose
// caption and enabled state it shows.
#pragma once

#include <QTimer>
#include <QToolButton>

namespace zarvik::ui {

class TSpeedButtonEx : public QToolButton {
  Q_OBJECT
 public:
  explicit TSpeedButtonEx(QWidget* parent = nullptr);
  // Binds the button to `action` (text, enabled state, trigger).
  void SetAction(QAction* action);

  bool Hovered() const { return hovered_; }
  // The frame drawn now: the press frame, the hover frame or the rest frame.
  enum class Frame { Rest, Hover, Pressed };
  Frame CurrentFrame() const;
  QTimer& HoverTimer() { return timer_; }

  QSize sizeHint() const override;

 protected:
  void enterEvent(QEnterEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void Tick();
  void DrawCornerMarks(QPainter& p, const QRect& r) const;

  QTimer timer_;
  QTimer pressTimer_;  // keeps the press frame for its minimum time
  bool hovered_ = false;
};

}  // namespace zarvik::ui
