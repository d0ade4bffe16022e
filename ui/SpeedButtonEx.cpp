#include "SpeedButtonEx.h"

#include <QAction>
#include <QEnterEvent>
#include <QPainter>

namespace zarvik::ui {

namespace {
constexpr int kHoverTimerMs = 50;
constexpr int kPressFrameMs = 100;
constexpr int kCornerStroke = 8;
constexpr int kMinimumHeight = 26;
constexpr int kHorizontalPadding = 16;
}  // namespace

TSpeedButtonEx::TSpeedButtonEx(QWidget* parent) : QToolButton(parent) {
  setAutoRaise(true);
  setToolButtonStyle(Qt::ToolButtonTextOnly);
  setFocusPolicy(Qt::TabFocus);
  timer_.setInterval(kHoverTimerMs);
  connect(&timer_, &QTimer::timeout, this, &TSpeedButtonEx::Tick);
  pressTimer_.setSingleShot(true);
  pressTimer_.setInterval(kPressFrameMs);
  connect(&pressTimer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

TSpeedButtonEx::Frame TSpeedButtonEx::CurrentFrame() const {
  if (!isEnabled()) return Frame::Rest;
  if (isDown() || pressTimer_.isActive()) return Frame::Pressed;
  return hovered_ ? Frame::Hover : Frame::Rest;
}

void TSpeedButtonEx::SetAction(QAction* action) {
  setDefaultAction(action);
  if (action != nullptr) setAccessibleName(action->text());
  if (action != nullptr)
    connect(action, &QAction::changed, this, [this, action] { setAccessibleName(action->text()); });
}

QSize TSpeedButtonEx::sizeHint() const {
  QSize s = QToolButton::sizeHint();
  s.setWidth(fontMetrics().horizontalAdvance(text()) + kHorizontalPadding);
  s.setHeight(std::max(s.height(), kMinimumHeight));
  return s;
}

void TSpeedButtonEx::enterEvent(QEnterEvent* event) {
  QToolButton::enterEvent(event);
  if (!isEnabled()) return;
  hovered_ = true;
  timer_.start();
  update();
}

void TSpeedButtonEx::Tick() {
  if (underMouse() && isEnabled()) return;
  hovered_ = false;
  timer_.stop();
  update();
}

void TSpeedButtonEx::DrawCornerMarks(QPainter& p, const QRect& r) const {
  p.setPen(QPen(Qt::black, 1));
  const int l = r.left(), t = r.top(), rt = r.right(), b = r.bottom();
  p.drawLine(l, t, l + kCornerStroke, t);
  p.drawLine(l, t, l, t + kCornerStroke);
  p.drawLine(rt - kCornerStroke, t, rt, t);
  p.drawLine(rt, t, rt, t + kCornerStroke);
  p.drawLine(l, b, l + kCornerStroke, b);
  p.drawLine(l, b - kCornerStroke, l, b);
  p.drawLine(rt - kCornerStroke, b, rt, b);
  p.drawLine(rt, b - kCornerStroke, rt, b);
}

void TSpeedButtonEx::paintEvent(QPaintEvent* event) {
  QToolButton::paintEvent(event);
  QPainter p(this);
  const QRect r = rect().adjusted(0, 0, -1, -1);
  const QColor face = palette().color(QPalette::Button);
  const QColor shadow = palette().color(QPalette::Dark);
  const Frame frame = CurrentFrame();
  if (frame == Frame::Pressed) {
    p.setPen(QPen(palette().color(QPalette::Highlight), 2));
    p.drawRect(r.adjusted(1, 1, 0, 0));
    DrawCornerMarks(p, r);
  } else if (frame == Frame::Hover) {
    p.setPen(QPen(shadow, 2));
    p.drawRect(r.adjusted(1, 1, 0, 0));
    DrawCornerMarks(p, r);
  } else {
    p.setPen(face);
    p.drawRect(r.adjusted(1, 1, -1, -1));
    p.setPen(shadow);
    p.drawRect(r);
    // Corner pixels back to the face colour: a rounded look.
    p.setPen(face);
    p.drawPoint(r.topLeft());
    p.drawPoint(r.topRight());
    p.drawPoint(r.bottomLeft());
    p.drawPoint(r.bottomRight());
  }
}

void TSpeedButtonEx::mousePressEvent(QMouseEvent* event) {
  QToolButton::mousePressEvent(event);
  if (isDown()) pressTimer_.start();
  repaint();
}

void TSpeedButtonEx::mouseReleaseEvent(QMouseEvent* event) {
  QToolButton::mouseReleaseEvent(event);
  update();
}

}  // namespace zarvik::ui
