// The user manual in the window: its chapters, where the built manual lies
// and which chapter explains each page, tab and panel of the window. The
// window's names (objectNames) are mapped here and nowhere else, so a new
// page or tab gets its chapter by one line of this file.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

class QWidget;

namespace zarvik::ui {

// A chapter of the manual: its HTML file in the manual's folder and its title.
struct THelpChapter {
  const char* file;
  const char* title;
};

// The chapters in the order of the contents; the first is the contents page.
const std::vector<THelpChapter>& HelpChapters();

// The place in the manual ("config.html#departments") that explains the
// widget named `objectName`; empty when the name has none.
QString HelpTopicForName(const QString& objectName);

// The place in the manual for what `page` shows now: the innermost tab on
// display inside it that has a place of its own, else the page's place.
QString HelpTopicForPage(QWidget* page);

// The place for F1: the line monitor's when the keyboard is in it (a panel
// beside the pages), else the place of the page and tab on display.
QString HelpTopicFor(QWidget* focus, QWidget* page);

// The file of the manual's contents page.
inline constexpr const char* kHelpIndexFile = "index.html";

// The folders searched for the manual, in order: beside the program (a
// build tree keeps it in "manual" of the build folder), then the installed
// place relative to the program ("../share/doc/zarvikconfig/manual") and the
// system's.
QStringList ManualFolderCandidates();
// The first of them that holds the contents page; empty when none does.
// SetManualFolder puts a folder before all others (the tests' build tree).
QString ManualFolder();
void SetManualFolder(const QString& folder);

}  // namespace zarvik::ui
