// The wait window: borderless, always on top, partly transparent, centred on
// the desktop; a rounded tooltip-coloured box with a drop shadow and one
// message line. It hides itself when its time-out runs out.
#pragma once

#include <QTimer>
#include <QWidget>
#include <chrono>

class QLabel;

namespace zarvik::ui {

inline constexpr const char* kDefaultWaitText = "Пожалуйста, подождите...";

class TWaitForm : public QWidget {
  Q_OBJECT
 public:
  explicit TWaitForm(QWidget* parent = nullptr);

  // Stops the timer, sets the text (the default one when empty), restarts
  // the timer with `timeout` and shows the window (not modal).
  void ShowWait(std::chrono::milliseconds timeout, const QString& text);
  void HideWait();

  QString Text() const;
  QTimer& Timer() { return timer_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QLabel* lMsg_ = nullptr;
  QTimer timer_;
};

}  // namespace zarvik::ui
