// What the window benchmarks (bench_*_page) share besides BenchSupport.h: the
// process without a display, the window's files in a scratch folder, and the
// window's port settings pointing at the paced register.
#pragma once

#include <filesystem>
#include <string>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"

namespace zarvik::bench {

// Qt without a display, unless QT_QPA_PLATFORM asks for one (before the
// application object is made).
inline void OffscreenUnlessAsked() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The model descriptor ("B 003") is looked up in `dataDir`, as if the program
// lay there; the window's files (ZarvikConfig.ini, bd/, the log) go to `dir`,
// which becomes the current folder. False when the folder could not be made.
inline bool EnterScratchFolder(const char* program, const std::string& dataDir, const QTemporaryDir& dir) {
  zarvik::SetProgramPath((std::filesystem::path(dataDir) / program).string());
  if (!dir.isValid()) return false;
  QDir::setCurrent(dir.path());
  zarvik::NameLogFile = dir.filePath(QString(program) + ".log").toStdString();
  return true;
}

// The window's settings in the current folder: the register on port number
// `port` at `baud`.
inline bool WriteWindowPortIni(int port, int baud) {
  QFile ini("ZarvikConfig.ini");
  if (!ini.open(QIODevice::WriteOnly)) return false;
  ini.write(QByteArray("[Port]\r\nCOMPort=") + QByteArray::number(port) + "\r\nSpeed=" + QByteArray::number(baud) +
            "\r\n");
  return true;
}

}  // namespace zarvik::bench
