#include "JournalExportDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>

namespace zarvik::ui {

namespace {
constexpr const char* kFormats[] = {"CSV, UTF-8 с BOM", "CSV, Windows-1251",
                                    "Книга Excel (.xlsx), все таблицы"};
constexpr const char* kTables[] = {"Чеки", "Операции", "Сводка"};
constexpr const char* kCsvFilter = "Файл CSV (*.csv)";
constexpr const char* kXlsxFilter = "Книга Excel (*.xlsx)";
}  // namespace

TJournalExportDialog::TJournalExportDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("JournalExportDialog");
  setWindowTitle(QString::fromUtf8(kExportDialogTitle));
  setAccessibleName(windowTitle());
  auto* form = new QFormLayout(this);
  cbExportFormat = new QComboBox(this);
  cbExportFormat->setObjectName("cbExportFormat");
  for (const char* f : kFormats) cbExportFormat->addItem(QString::fromUtf8(f));
  cbExportFormat->setAccessibleName(QString::fromUtf8("Формат"));
  cbExportTable = new QComboBox(this);
  cbExportTable->setObjectName("cbExportTable");
  for (const char* t : kTables) cbExportTable->addItem(QString::fromUtf8(t));
  cbExportTable->setAccessibleName(QString::fromUtf8("Таблица"));
  auto* formatLabel = new QLabel(QString::fromUtf8(kExportFormatCaption), this);
  formatLabel->setBuddy(cbExportFormat);
  tableLabel_ = new QLabel(QString::fromUtf8(kExportTableCaption), this);
  tableLabel_->setBuddy(cbExportTable);
  form->addRow(formatLabel, cbExportFormat);
  form->addRow(tableLabel_, cbExportTable);
  bExportButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  bExportButtons->setObjectName("bExportButtons");
  bExportButtons->button(QDialogButtonBox::Ok)->setText(QString::fromUtf8("Сохранить..."));
  bExportButtons->button(QDialogButtonBox::Ok)->setObjectName("bExportOk");
  bExportButtons->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8("Отмена"));
  bExportButtons->button(QDialogButtonBox::Cancel)->setObjectName("bExportCancel");
  for (QPushButton* b :
       {bExportButtons->button(QDialogButtonBox::Ok), bExportButtons->button(QDialogButtonBox::Cancel)})
    b->setAccessibleName(b->text());
  form->addRow(bExportButtons);
  connect(bExportButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(bExportButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(cbExportFormat, &QComboBox::currentIndexChanged, this, &TJournalExportDialog::FormatChanged);
  FormatChanged();
}

int TJournalExportDialog::Format() const {
  return cbExportFormat->currentIndex();
}

int TJournalExportDialog::Table() const {
  return cbExportTable->currentIndex();
}

void TJournalExportDialog::FormatChanged() {
  // A workbook holds every table.
  const bool csv = Format() != kExportXlsx;
  cbExportTable->setEnabled(csv);
  tableLabel_->setEnabled(csv);
}

QString TJournalExportDialog::ChooseFile() {
  const bool xlsx = Format() == kExportXlsx;
  QString path = QFileDialog::getSaveFileName(parentWidget(), windowTitle(), QString(),
                                              QString::fromUtf8(xlsx ? kXlsxFilter : kCsvFilter));
  if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
    path += xlsx ? QStringLiteral(".xlsx") : QStringLiteral(".csv");
  return path;
}

}  // namespace zarvik::ui
