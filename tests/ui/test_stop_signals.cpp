// A stop signal (SIGTERM, SIGINT, SIGHUP) closes the window the program runs
// as its close button does, so that the closing steps (settings written)
// run and the event loop ends.
#include <QtTest>

#include <QCloseEvent>
#include <QTimer>
#include <QWidget>
#include <csignal>
#include <memory>

#include "Application.h"

using namespace zarvik::ui;

namespace {

class TClosingWindow : public QWidget {
 public:
  explicit TClosingWindow(int* closes) : closes_(closes) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    ++*closes_;
    event->accept();
  }

 private:
  int* closes_;
};

// Far longer than a loaded machine needs to deliver a signal to itself; only
// reached when the signal does not close the window.
constexpr int kSafetyMs = 60000;

}  // namespace

class StopSignalsTest : public QObject {
  Q_OBJECT
 private slots:
  void SignalClosesTheWindowAndEndsTheLoop_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
  }
  void SignalClosesTheWindowAndEndsTheLoop() {
    QFETCH(int, signal);
    int closes = 0;
    bool safetyFired = false;
    QTimer safety;
    safety.setSingleShot(true);
    connect(&safety, &QTimer::timeout, [&] {
      safetyFired = true;
      QApplication::closeAllWindows();
    });
    safety.start(kSafetyMs);
    QTimer::singleShot(0, [signal] { std::raise(signal); });
    const int result = RunMainWindow([&] { return std::make_unique<TClosingWindow>(&closes); },
                                     [](const QString&) { QFAIL("no fatal box expected"); });
    QVERIFY(!safetyFired);
    QCOMPARE(result, 0);
    QCOMPARE(closes, 1);
    // The handlers are gone with the window: the default action is back.
    struct sigaction now {};
    sigaction(signal, nullptr, &now);
    QVERIFY(now.sa_handler == SIG_DFL);
  }
};

ZARVIK_UI_TEST_MAIN(StopSignalsTest, TApplication)

#include "test_stop_signals.moc"
