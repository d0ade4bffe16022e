// The help window "fmHelp": the user manual (HTML built from docs/manual)
// in a text browser of the program, with the chapters as contents, back and
// forward, and a find field that searches the chapter on display and then the
// following ones. It needs neither a web browser nor a network.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QTextBrowser;
class QToolButton;
class QTreeWidget;

namespace zarvik::ui {

inline constexpr const char* kHelpWindowTitle = "Руководство пользователя";
inline constexpr const char* kManualMissingText =
    "Руководство не найдено. Оно устанавливается с пакетом zarvikconfig в "
    "/usr/share/doc/zarvikconfig/manual; в дереве сборки оно лежит в папке manual.";
inline constexpr const char* kHelpNotFoundText = "не найдено";

class THelpWindow : public QWidget {
  Q_OBJECT
 public:
  explicit THelpWindow(QWidget* parent = nullptr);

  // Shows `topic` ("config.html#taxes") of the manual in `folder`; false when
  // the manual or the chapter is missing (the window then says so).
  bool ShowTopic(const QString& folder, const QString& topic);
  // The chapter file and anchor on display ("config.html#taxes").
  QString CurrentTopic() const;
  // Finds `text` after the cursor, then in the chapters after this one (in
  // the order of the contents, round to the start); false when no chapter
  // holds it.
  bool Find(const QString& text, bool backward = false);

  QTextBrowser& Browser() { return *browser_; }
  QTreeWidget& Contents() { return *contents_; }

 private:
  void FillContents();
  void SelectContentsItem();
  void UpdateButtons();
  void OpenChapter(const QString& file);
  void ScrollToPlace(const QString& anchor);

  QString folder_;
  QToolButton* back_ = nullptr;
  QToolButton* forward_ = nullptr;
  QToolButton* home_ = nullptr;
  QLineEdit* findField_ = nullptr;
  QToolButton* findNext_ = nullptr;
  QToolButton* findPrevious_ = nullptr;
  QLabel* findResult_ = nullptr;
  QTreeWidget* contents_ = nullptr;
  QTextBrowser* browser_ = nullptr;
};

}  // namespace zarvik::ui
