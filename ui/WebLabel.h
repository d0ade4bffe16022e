// A text label that reports the pointer entering and leaving it; used as the
// support mail link (underlined while hovered, a click opens the user's mail
// program through the desktop's URL handler).
#pragma once

#include <QLabel>
#include <QUrl>

namespace zarvik::ui {

class TWebLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TWebLabel(QWidget* parent = nullptr);
  // The address a click opens; empty: clicks do nothing.
  void SetUrl(const QUrl& url) { url_ = url; }
  const QUrl& Url() const { return url_; }

 signals:
  void OnEnterMouse();
  void OnLeaveMouse();
  void clicked();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Open();
  QUrl url_;
};

}  // namespace zarvik::ui
