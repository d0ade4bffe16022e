#include "NetPasswordDialog.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QThread>
#include <QVBoxLayout>

#include "port/NetSecurity.h"

namespace zarvik::ui {

bool AskNetPasswordDialog(QWidget* parent, const std::string& portKey, const std::string& where,
                          const std::string& user, std::string& password) {
  QDialog dialog(parent);
  dialog.setObjectName("NetPasswordDialog");
  dialog.setWindowTitle(QString::fromUtf8("Пароль"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* label = new QLabel(
      QString::fromUtf8("Пароль пользователя %1 для %2 (%3):")
          .arg(QString::fromStdString(user), QString::fromStdString(portKey), QString::fromStdString(where)),
      &dialog);
  label->setObjectName("lbNetPassword");
  layout->addWidget(label);
  auto* edit = new QLineEdit(&dialog);
  edit->setObjectName("edNetPassword");
  edit->setEchoMode(QLineEdit::Password);
  // No completion or undo history keeps the text.
  edit->setAttribute(Qt::WA_InputMethodEnabled, false);
  layout->addWidget(edit);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  buttons->setObjectName("bbNetPassword");
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  edit->setFocus();
  const bool ok = dialog.exec() == QDialog::Accepted;
  QString text = edit->text();
  edit->clear();
  if (ok && !text.isEmpty()) {
    QByteArray bytes = text.toUtf8();
    password.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    bytes.fill('\0');
  }
  text.fill(QChar(u'\0'));
  return ok && !password.empty();
}

void InstallNetPasswordDialog(QWidget* parent) {
  if (parent == nullptr) {
    SetNetPasswordSource(nullptr);
    return;
  }
  QPointer<QWidget> owner(parent);
  SetNetPasswordSource([owner](const std::string& portKey, const std::string& where, const std::string& user,
                               std::string& password) {
    if (owner.isNull() || QThread::currentThread() != qApp->thread()) return false;
    return AskNetPasswordDialog(owner.data(), portKey, where, user, password);
  });
}

}  // namespace zarvik::ui
