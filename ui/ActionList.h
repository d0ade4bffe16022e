// The program's actions, each with its objectName and caption, and the main
// menu built from them. Pages connect their handlers to the actions by name;
// an action without a handler stays disabled.
#pragma once

#include <QObject>
#include <QString>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QMenu;
class QToolBar;

namespace zarvik::ui {

struct TActionDef {
  const char* name;
  const char* caption;
};

// Every action of the program with its caption, in menu order.
const std::vector<TActionDef>& ActionDefinitions();

// The actions the word CONFIG_STOP switches off for the run.
inline constexpr std::string_view kConfigStopActions[] = {"aSaveOptions", "aDepSave", "aCheckSave",
                                                          "OperatorSave", "aSaveAll", "shopApplyConfig"};

class TActionList : public QObject {
  Q_OBJECT
 public:
  explicit TActionList(QObject* parent);

  QAction* Find(std::string_view name) const;
  // Enabled state, except for the actions switched off for the run.
  void SetEnabled(std::string_view name, bool enabled);
  // Switches an action off for the whole run.
  void SwitchOff(std::string_view name);
  bool IsSwitchedOff(std::string_view name) const;

  // The main menu "MainMenu1" as a flat toolbar: one button per top-level
  // entry opening its menu.
  void BuildMainMenu(QToolBar* toolBar);

 private:
  QMenu* Menu(QWidget* parent, const QString& title, const char* objectName);
  std::map<std::string, QAction*, std::less<>> actions_;
  std::set<std::string, std::less<>> switchedOff_;
};

}  // namespace zarvik::ui
