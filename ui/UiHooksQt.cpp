#include "UiHooksQt.h"

#include <QApplication>
#include <QMessageBox>

#include "WaitForm.h"

namespace zarvik::ui {

void QtUiHooks::ProcessEvents() {
  // Not re-entered from an event handler that itself waits for the register.
  if (depth_ > 0) return;
  ++depth_;
  QApplication::processEvents();
  --depth_;
}

bool QtUiHooks::IsTerminating() {
  return terminating || QCoreApplication::closingDown();
}

void QtUiHooks::ShowWait(std::chrono::milliseconds timeout, const std::string& text) {
  if (waitForm_ != nullptr) waitForm_->ShowWait(timeout, QString::fromStdString(text));
}

void QtUiHooks::HideWait() {
  if (waitForm_ != nullptr) waitForm_->HideWait();
}

void QtUiHooks::ShowMessageBox(BoxKind kind, const std::string& caption, const std::string& text) {
  if (boxHandler) {
    boxHandler(kind, text);
    return;
  }
  const QString c = QString::fromStdString(caption);
  const QString t = QString::fromStdString(text);
  QWidget* parent = QApplication::activeWindow();
  switch (kind) {
    case BoxKind::Information: QMessageBox::information(parent, c, t); break;
    case BoxKind::Warning: QMessageBox::warning(parent, c, t); break;
    case BoxKind::Error: QMessageBox::critical(parent, c, t); break;
  }
}

QueryButton QtUiHooks::AskQuestion(QueryKind kind, const std::string& text, QueryButton def) {
  if (questionHandler) return questionHandler(kind, text, def);
  QMessageBox box(QMessageBox::Question, "Confirm", QString::fromStdString(text), QMessageBox::NoButton,
                  QApplication::activeWindow());
  const auto toQt = [](QueryButton b) {
    switch (b) {
      case QueryButton::Ok: return QMessageBox::Ok;
      case QueryButton::Cancel: return QMessageBox::Cancel;
      case QueryButton::Yes: return QMessageBox::Yes;
      case QueryButton::No: return QMessageBox::No;
    }
    return QMessageBox::Cancel;
  };
  if (kind == QueryKind::OkCancel) {
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
  } else {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  }
  box.setDefaultButton(toQt(def));
  box.setEscapeButton(QMessageBox::Cancel);  // Escape answers "Cancel"
  switch (box.exec()) {
    case QMessageBox::Ok: return QueryButton::Ok;
    case QMessageBox::Yes: return QueryButton::Yes;
    case QMessageBox::No: return QueryButton::No;
    default: return QueryButton::Cancel;
  }
}

}  // namespace zarvik::ui
