// The export dialog of the journal's tables: the format (CSV in UTF-8 with a
// byte order mark, CSV in code page 1251, or a workbook with every table) and,
// for CSV, the table; then the file.
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QDialogButtonBox;
class QLabel;

namespace zarvik::ui {

// Formats and tables of the dialog, in the order of its lists.
inline constexpr int kExportCsvUtf8 = 0;
inline constexpr int kExportCsv1251 = 1;
inline constexpr int kExportXlsx = 2;
inline constexpr int kExportReceipts = 0;
inline constexpr int kExportLines = 1;
inline constexpr int kExportSummary = 2;

inline constexpr const char* kExportDialogTitle = "Экспорт таблиц журнала";
inline constexpr const char* kExportFormatCaption = "Формат:";
inline constexpr const char* kExportTableCaption = "Таблица:";

class TJournalExportDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TJournalExportDialog(QWidget* parent = nullptr);

  int Format() const;
  int Table() const;
  // The file to write, asked in a save dialog with the format's extension;
  // empty when cancelled. The extension is added when the name has none.
  QString ChooseFile();

  QComboBox* cbExportFormat = nullptr;
  QComboBox* cbExportTable = nullptr;
  QDialogButtonBox* bExportButtons = nullptr;

 private:
  void FormatChanged();
  QLabel* tableLabel_ = nullptr;
};

}  // namespace zarvik::ui
