// The profile panel "Список настроек": the list of profiles of the connected
// register (its values read from the register, its stored profile, the
// templates of its version; templates in bold) and the buttons that save and
// delete profiles. The list is a standard item view over the data module's
// `mtProfile`; selecting an entry moves the list, whose events (installed by
// the profile store) show that profile on every configuration tab.
#pragma once

#include <QFrame>
#include <QString>
#include <functional>
#include <string>

#include "PageHost.h"
#include "WorkTableModel.h"

class QFileDialog;
class QLabel;

namespace zarvik::ui {

class TDBGridEh;
class TSpeedButtonEx;

inline constexpr const char* kProfileListCaption = "Список настроек";
inline constexpr const char* kSaveProfileQuestion = "Записать в БД загруженные из ККМ настройки?";
inline constexpr const char* kTemplateInputCaption = "Введите";
inline constexpr const char* kTemplateInputPrompt = "Имя шаблона";
inline constexpr int kProfileListVisibleEntries = 12;
inline constexpr int kProfileNameLength = 30;  // NAME of Profile.dbf
inline constexpr const char* kConfigFileFilter = "Настройки ККМ (*.conf *.txt);;Все файлы (*)";
inline constexpr const char* kConfigFileSuffix = "conf";

class TProfilePanel : public QFrame {
  Q_OBJECT
 public:
  TProfilePanel(TPageHost& host, QWidget* parent = nullptr);

  // Rebuilds the list for the connected register.
  void RefreshProfileList();
  // The main window's close query: false keeps the window open.
  bool CloseQuery();

  // The buttons.
  void bSavePropKKMtoBDClick();
  void bSavePropKKMtoBDasShablonClick();
  void bDelPropKKMtoBDClick();
  // The profile on display as a configuration text file, and such a file
  // read into it (checked like a write to the register; the result saved as
  // the register's stored profile).
  void bExportPropToFileClick();
  void bImportPropFromFileClick();

  // Runs a file dialog set up by the panel; the file chosen or empty. Tests
  // replace it.
  std::function<QString(QFileDialog& dialog)> runFileDialog;

  // How a list entry is drawn: a template (key beginning with "-") bold.
  static TCellStyle DBLabel1BeforeDraw(const std::string& key);

  // The input box (caption, prompt, proposed text) → the text entered, or
  // the proposed text when the box is cancelled. Tests replace it.
  std::function<QString(const QString&, const QString&, const QString&)> inputBox;

  TDBGridEh* DBCtrlGrid1 = nullptr;
  TSpeedButtonEx* bSavePropKKMtoBD = nullptr;
  TSpeedButtonEx* bSavePropKKMtoBDasShablon = nullptr;
  TSpeedButtonEx* bDelPropKKMtoBD = nullptr;
  TSpeedButtonEx* bImportPropFromFile = nullptr;
  TSpeedButtonEx* bExportPropToFile = nullptr;

 private:
  QString AskTemplateName(const QString& proposed);
  QString ChooseConfigFile(bool save);
  void UpdateStoredFlag();

  TPageHost& host_;
  QLabel* caption_ = nullptr;
};

}  // namespace zarvik::ui
