#include "WebLabel.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>

namespace zarvik::ui {

TWebLabel::TWebLabel(QWidget* parent) : QLabel(parent) {
  setCursor(Qt::PointingHandCursor);
  // Reachable from the keyboard and by assistive technologies as a link.
  setFocusPolicy(Qt::StrongFocus);
  connect(this, &TWebLabel::OnEnterMouse, this, [this] {
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
  });
  connect(this, &TWebLabel::OnLeaveMouse, this, [this] {
    QFont f = font();
    f.setUnderline(false);
    setFont(f);
  });
}

void TWebLabel::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  emit OnEnterMouse();
}

void TWebLabel::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  emit OnLeaveMouse();
}

void TWebLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) Open();
}

void TWebLabel::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space) {
    Open();
    return;
  }
  QLabel::keyPressEvent(event);
}

void TWebLabel::Open() {
  emit clicked();
  if (!url_.isEmpty()) QDesktopServices::openUrl(url_);
}

}  // namespace zarvik::ui
