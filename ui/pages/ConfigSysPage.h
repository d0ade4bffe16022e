// Page 4 "Настройки конфигуратора": the barcode scanner panel and the
// program information (title, support mail link, version history,
// acknowledgements).
#pragma once

#include <QWidget>

#include "PageHost.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;

namespace zarvik::ui {

class TScannerPanel;
class TWebLabel;

inline constexpr const char* kSupportAddress = "support@zarvikconfig.example";
inline constexpr const char* kSupportSubject = "?subject=Вопрос по конфигуратору";
inline constexpr const char* kBackupBoxCaption = "Перед записью в ККМ сохранять резервную копию её значений";

class TConfigSysPage : public QWidget {
  Q_OBJECT
 public:
  TConfigSysPage(TPageHost& host, QWidget* parent = nullptr);

  TScannerPanel& Scanner() { return *scanner_; }
  TWebLabel& MailLink() { return *webLabel_; }
  // The backup before every write to the register (ZarvikConfig.ini [Backup]).
  QCheckBox& BackupBox() { return *cbBackupBeforeWrite_; }
  // Shows the backup settings the window read.
  void ShowBackupSettings();

  // The version history as shown: per version a line "dd.mm.yyyy - ZarvikConfig
  // N", lines of changes beginning with "- " and a line of 76 asterisks.
  static QString HistoryText();

 private:
  TPageHost& host_;
  TScannerPanel* scanner_ = nullptr;
  QCheckBox* cbBackupBeforeWrite_ = nullptr;
  QLabel* backupNote_ = nullptr;
  TWebLabel* webLabel_ = nullptr;
};

}  // namespace zarvik::ui
