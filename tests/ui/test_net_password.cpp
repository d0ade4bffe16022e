// The password of a network port with password authentication: asked in the
// window's dialog (hidden input), given to the connection only, refused when
// cancelled or asked from another thread than the window's.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <thread>

#include "NetPasswordDialog.h"
#include "port/NetSecurity.h"

using namespace zarvik;

namespace {

constexpr int kDialogWaitMs = 20000;

// Answers the dialog once it is shown: types `text` and presses OK, or
// Cancel when `accept` is false. Records what the dialog looked like.
struct Answer {
  QString text;
  bool accept = true;
  bool seen = false;
  QLineEdit::EchoMode echo = QLineEdit::Normal;
  bool enabled = false;
  QString label;
};

void AnswerWhenShown(Answer& answer) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDialogWaitMs);
  QObject::connect(timer, &QTimer::timeout, [timer, &answer, deadline] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || dialog->objectName() != "NetPasswordDialog") {
      if (std::chrono::steady_clock::now() > deadline) timer->deleteLater();
      return;
    }
    answer.seen = true;
    auto* edit = dialog->findChild<QLineEdit*>("edNetPassword");
    answer.echo = edit->echoMode();
    answer.enabled = edit->isEnabled() && dialog->isEnabled();
    answer.label = dialog->findChild<QLabel*>("lbNetPassword")->text();
    edit->insert(answer.text);
    auto* buttons = dialog->findChild<QDialogButtonBox*>("bbNetPassword");
    buttons->button(answer.accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    timer->stop();
    timer->deleteLater();
  });
  timer->start();
}

}  // namespace

class NetPasswordTest : public QObject {
  Q_OBJECT
 private slots:
  // Asked while the window connects, which disables the window.
  void askedInTheDialog() {
    QWidget window;
    window.show();
    window.setEnabled(false);
    ui::InstallNetPasswordDialog(&window);
    Answer answer;
    answer.text = QString::fromUtf8("Касса-7 secret");
    AnswerWhenShown(answer);
    std::string password;
    QVERIFY(AskNetPassword("COM7", "shop12:3001", "engineer", password));
    QVERIFY(answer.seen);
    QCOMPARE(answer.echo, QLineEdit::Password);
    QVERIFY(answer.enabled);
    QCOMPARE(answer.label, QString::fromUtf8("Пароль пользователя engineer для COM7 (shop12:3001):"));
    QCOMPARE(QString::fromStdString(password), QString::fromUtf8("Касса-7 secret"));
    WipePassword(password);
    QVERIFY(password.empty());
    ui::InstallNetPasswordDialog(nullptr);
  }
  void cancelledOrEmptyGivesNone_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accept");
    QTest::newRow("cancelled") << QString("typed") << false;
    QTest::newRow("empty") << QString() << true;
  }
  void cancelledOrEmptyGivesNone() {
    QFETCH(QString, text);
    QFETCH(bool, accept);
    QWidget window;
    ui::InstallNetPasswordDialog(&window);
    Answer answer;
    answer.text = text;
    answer.accept = accept;
    AnswerWhenShown(answer);
    std::string password;
    QVERIFY(!AskNetPassword("COM7", "shop12:3001", "engineer", password));
    QVERIFY(answer.seen);
    QVERIFY(password.empty());
    ui::InstallNetPasswordDialog(nullptr);
  }
  // A worker thread never opens a dialog: its connection gets no password.
  void anotherThreadIsNotAsked() {
    QWidget window;
    ui::InstallNetPasswordDialog(&window);
    bool given = true;
    std::thread worker([&given] {
      std::string password;
      given = AskNetPassword("COM7", "shop12:3001", "engineer", password);
    });
    worker.join();
    QVERIFY(!given);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    ui::InstallNetPasswordDialog(nullptr);
    std::string password;
    QVERIFY(!AskNetPassword("COM7", "shop12:3001", "engineer", password));
  }
};

QTEST_MAIN(NetPasswordTest)
#include "test_net_password.moc"
