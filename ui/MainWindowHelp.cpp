// The window's help: "Справка" -> "Руководство" (F1) opens the manual in the
// program's help window at the chapter of what is on display, "О программе"
// shows the version, licence and the user's files.
#include <QAction>
#include <QApplication>
#include <QScrollArea>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <cctype>

#include "AboutDialog.h"
#include "ActionList.h"
#include "HelpTopics.h"
#include "HelpWindow.h"
#include "MainWindow.h"
#include "shell/DiaLog.h"

namespace zarvik::ui {

namespace {

constexpr Qt::Key kManualKey = Qt::Key_F1;
// The switch word that opens the manual as the window opens.
constexpr std::string_view kHelpWord = "help";

}  // namespace

void TfmMain::BuildHelp(const std::vector<std::string>& args) {
  QAction* manual = actions_->Find("aHelpManual");
  manual->setShortcut(QKeySequence(kManualKey));
  // F1 works wherever the keyboard is in the program's windows.
  manual->setShortcutContext(Qt::ApplicationShortcut);
  connect(manual, &QAction::triggered, this, &TfmMain::ShowManual);
  manual->setEnabled(true);
  addAction(manual);
  QAction* about = actions_->Find("aHelpAbout");
  connect(about, &QAction::triggered, this, &TfmMain::ShowAbout);
  about->setEnabled(true);
  const bool helpAsked = std::any_of(args.begin() + (args.empty() ? 0 : 1), args.end(), [](const std::string& a) {
    return a.size() == kHelpWord.size() &&
           std::equal(a.begin(), a.end(), kHelpWord.begin(),
                      [](char x, char y) { return std::tolower(static_cast<unsigned char>(x)) == y; });
  });
  if (helpAsked) QTimer::singleShot(0, this, &TfmMain::ShowManual);
}

void TfmMain::ShowManual() {
  QWidget* page = pages_->currentWidget();
  if (auto* area = qobject_cast<QScrollArea*>(page)) page = area->widget();
  const QString topic = HelpTopicFor(QApplication::focusWidget(), page);
  if (helpWindow_ == nullptr) helpWindow_ = new THelpWindow(this);
  // Shown first, so that the place is found in the text as laid out at the
  // window's size.
  helpWindow_->show();
  helpWindow_->raise();
  helpWindow_->activateWindow();
  const QString folder = ManualFolder();
  if (helpWindow_->ShowTopic(folder, topic)) {
    WritelnLog("Руководство: " + (folder + QLatin1Char('/') + topic).toStdString());
  } else {
    Warning("Руководство не найдено: " + ManualFolderCandidates().join(QStringLiteral(", ")).toStdString(), false,
            true, true);
  }
}

void TfmMain::ShowAbout() {
  TAboutDialog dialog(this);
  dialog.exec();
}

}  // namespace zarvik::ui
