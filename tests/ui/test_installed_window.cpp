// The window as an installed program: its files in the user's XDG folders,
// and the files of a portable run in its working folder offered for moving,
// never used or overwritten silently.
#include <QtTest>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>

#include "Application.h"
#include "UiTestSupport.h"
#include "shell/UserFiles.h"

using namespace zarvik;
namespace fs = std::filesystem;

namespace {

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
  f.write(bytes);
}

// Every file below `folder`, relative to it.
QStringList Files(const QString& folder) {
  QStringList files;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(folder.toStdString(), ec))
    if (e.is_regular_file()) files << QString::fromStdString(fs::relative(e.path(), folder.toStdString()).string());
  files.sort();
  return files;
}

}  // namespace

class InstalledWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void portableFilesAreOfferedAndNeverOverwritten() {
    // "autonom": the question takes its default answer, "Нет".
    uitest::TTestBed bed({"autonom"});
    QTemporaryDir machine;
    QVERIFY(machine.isValid());
    const QString usr = machine.filePath("usr");
    QDir().mkpath(usr + "/bin");
    QDir().mkpath(usr + "/share");
    std::error_code ec;
    fs::copy(ZARVIK_SOURCE_DIR "/data", (usr + "/share/zarvikconfig").toStdString(), fs::copy_options::recursive, ec);
    QVERIFY(!ec);
    SetProgramPath((usr + "/bin/zarvikconfig").toStdString());
    const QString xdg = machine.filePath("xdg");
    qputenv("XDG_CONFIG_HOME", (xdg + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (xdg + "/data").toUtf8());
    qputenv("XDG_STATE_HOME", (xdg + "/state").toUtf8());
    qunsetenv(kPortableEnv);
    const auto restore = qScopeGuard([] {
      qunsetenv("XDG_CONFIG_HOME");
      qunsetenv("XDG_DATA_HOME");
      qunsetenv("XDG_STATE_HOME");
    });
    QVERIFY(IsInstalledProgram());

    // A portable run left its settings and a profile in the working folder.
    const QByteArray portableIni = "[Port]\r\nCOMPort=7\r\nSpeed=9600\r\n";
    bed.WriteIni(portableIni);
    QDir().mkpath(bed.Path("bd"));
    WriteFile(bed.Path("bd/Profile.dbf"), "profiles of the portable run");

    ui::TfmMain& w = bed.OpenWindow();
    // Asked (the log keeps the question and its answer), not moved, not used.
    const QString log = xdg + "/state/ZarvikConfig/zarvikconfig.log";
    QCOMPARE(QString::fromStdString(NameLogFile), log);
    const QString logText = bed.LogLines().join(QLatin1Char('\n'));
    QVERIFY2(logText.contains(QString::fromUtf8("Query:В рабочей папке найдены файлы прежней работы программы: "
                                                "ZarvikConfig.ini, bd")),
             qPrintable(logText));
    QVERIFY(logText.contains(QStringLiteral(" - No")));
    QVERIFY(w.RegisterPort().PortNumber() != 7);
    w.close();
    bed.CloseWindow();

    QCOMPARE(ReadFile(bed.Path("ZarvikConfig.ini")), portableIni);
    QCOMPARE(ReadFile(bed.Path("bd/Profile.dbf")), QByteArray("profiles of the portable run"));
    QCOMPARE(Files(QDir::currentPath()), QStringList({"ZarvikConfig.ini", "bd/Profile.dbf"}));
    // The window's own files are in the XDG folders, nothing beside it.
    const QByteArray userIni = ReadFile(xdg + "/config/ZarvikConfig/ZarvikConfig.ini");
    QVERIFY(userIni.contains("[Port]"));
    QVERIFY(QDir(xdg + "/data/ZarvikConfig/bd").exists());
    QCOMPARE(Files(usr + "/bin"), QStringList());

    // The next start: the user's files exist, so nothing is asked; the
    // portable files are named on the console and left as they are.
    NameLogFile.clear();
    ui::TfmMain& again = bed.OpenWindow();
    const QString question = QString::fromUtf8("Query:В рабочей папке найдены");
    QCOMPARE(bed.LogLines().join(QLatin1Char('\n')).count(question), 1);
    QVERIFY2(bed.ConsoleText().contains(QString::fromUtf8("в рабочей папке есть ZarvikConfig.ini, bd")),
             qPrintable(bed.ConsoleText()));
    again.close();
    bed.CloseWindow();
    QCOMPARE(ReadFile(bed.Path("ZarvikConfig.ini")), portableIni);
    QCOMPARE(ReadFile(xdg + "/config/ZarvikConfig/ZarvikConfig.ini"), userIni);
  }
};

ZARVIK_UI_TEST_MAIN(InstalledWindowTest, ui::TApplication)

#include "test_installed_window.moc"
