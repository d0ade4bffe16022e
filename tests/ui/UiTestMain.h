// Included into every file of the UI test program (ui_tests) before its own
// code: QTEST_MAIN(Class) and ZARVIK_UI_TEST_MAIN(Class, Application) register
// the file's test class under the file's name instead of defining main.
// `ui_tests test_goods` then runs the class of test_goods.cpp in a process of
// its own, as the program of that file alone did.
#pragma once

#include <QApplication>
#include <QtTest>
#include <string>

namespace uitest {

// Runs one file's tests: makes the application object and the test class and
// hands them to Qt Test; the result is the program's exit code.
using TTestMain = int (*)(int argc, char** argv);

// Registers `run` under the base name of `file` (its __FILE__); true, for a
// static initialiser.
bool RegisterTestMain(const char* file, TTestMain run);

// The name of the file whose tests run in this process ("test_goods").
const std::string& RunningTest();

}  // namespace uitest

#undef QTEST_MAIN
// The file's class with the application object that QTEST_MAIN makes.
#define QTEST_MAIN(TestObject)                                                                        \
  namespace {                                                                                         \
  const bool zarvikUiTestRegistered = ::uitest::RegisterTestMain(__FILE__, [](int argc, char** argv) { \
    TESTLIB_SELFCOVERAGE_START(#TestObject)                                                           \
    QT_PREPEND_NAMESPACE(QTest::Internal::callInitMain)<TestObject>();                                \
    QTEST_MAIN_SETUP()                                                                                \
    TestObject tc;                                                                                    \
    QTEST_SET_MAIN_SOURCE_PATH                                                                        \
    return QTest::qExec(&tc, argc, argv);                                                             \
  });                                                                                                 \
  }

// The file's class with an application object of the program's own (argc and
// argv as for QApplication).
#define ZARVIK_UI_TEST_MAIN(TestObject, Application)                                                  \
  namespace {                                                                                         \
  const bool zarvikUiTestRegistered = ::uitest::RegisterTestMain(__FILE__, [](int argc, char** argv) { \
    Application app(argc, argv);                                                                      \
    TestObject test;                                                                                  \
    return QTest::qExec(&test, argc, argv);                                                           \
  });                                                                                                 \
  }
