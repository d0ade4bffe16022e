#include "WaitForm.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>

namespace zarvik::ui {

namespace {
constexpr int kClientWidth = 331;
constexpr int kClientHeight = 138;
constexpr int kBoxWidth = 320;
constexpr int kBoxHeight = 128;
constexpr int kShadowOffset = 8;
constexpr int kCornerRadius = 14;
constexpr int kLabelWidth = 296;
constexpr int kLabelPixelSize = 19;
constexpr double kOpacity = 220.0 / 255.0;
}  // namespace

TWaitForm::TWaitForm(QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus) {
  setObjectName("WaitForm");
  setAccessibleName(QString::fromUtf8(kDefaultWaitText));
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setWindowOpacity(kOpacity);
  setFixedSize(kClientWidth, kClientHeight);
  lMsg_ = new QLabel(this);
  lMsg_->setObjectName("lMsg");
  QFont f("Arial");
  f.setPixelSize(kLabelPixelSize);
  lMsg_->setFont(f);
  lMsg_->setAlignment(Qt::AlignCenter);
  lMsg_->setWordWrap(true);
  lMsg_->setGeometry((kBoxWidth - kLabelWidth) / 2, 0, kLabelWidth, kBoxHeight);
  timer_.setObjectName("Timer");
  timer_.setSingleShot(true);
  // The window stays for its whole time-out, not a coarse timer's 5 % less.
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &TWaitForm::HideWait);
}

void TWaitForm::ShowWait(std::chrono::milliseconds timeout, const QString& text) {
  timer_.stop();
  const QString shown = text.isEmpty() ? QString::fromUtf8(kDefaultWaitText) : text;
  lMsg_->setText(shown);
  setAccessibleName(shown);
  timer_.setInterval(static_cast<int>(timeout.count()));
  timer_.start();
  if (!isVisible()) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect r = screen->availableGeometry();
      move(r.center() - QPoint(width() / 2, height() / 2));
    }
    show();
  }
  raise();
}

void TWaitForm::HideWait() {
  timer_.stop();
  hide();
}

QString TWaitForm::Text() const {
  return lMsg_->text();
}

void TWaitForm::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(palette().color(QPalette::Shadow));
  p.drawRoundedRect(QRect(kShadowOffset, kShadowOffset, kBoxWidth, kBoxHeight), kCornerRadius, kCornerRadius);
  p.setPen(QPen(palette().color(QPalette::Dark), 1));
  p.setBrush(palette().color(QPalette::ToolTipBase));
  p.drawRoundedRect(QRect(0, 0, kBoxWidth, kBoxHeight), kCornerRadius, kCornerRadius);
}

}  // namespace zarvik::ui
