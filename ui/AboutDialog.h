// "О программе" (dlgAbout): the version, the licence, where the user's
// settings, profiles, log and the manual lie, and the libraries the program
// uses. The text can be selected and copied for a support request.
#pragma once

#include <QDialog>
#include <QString>

class QTextBrowser;

namespace zarvik::ui {

inline constexpr const char* kAboutTitle = "О программе";

class TAboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutDialog(QWidget* parent = nullptr);

  // The program's version ("2.092").
  static QString Version();
  // The dialog's text as HTML (the same every time it is built).
  static QString AboutHtml();

  QTextBrowser& Text() { return *text_; }

 private:
  QTextBrowser* text_ = nullptr;
};

}  // namespace zarvik::ui
