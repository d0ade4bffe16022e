#include "ShopDayView.h"

#include <QBrush>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "journal/ShopDay.h"
#include "shell/DiaLog.h"
#include "store/WorkTable.h"

namespace zarvik::ui {

namespace {

constexpr int kViewWidth = 960;
constexpr int kViewHeight = 420;
// The shade of a row whose receipt numbers have a gap or a repeat.
const QColor kNumberingShade(0xFF, 0xE0, 0xE0);

}  // namespace

TShopDayView::TShopDayView(QWidget* parent) : QDialog(parent) {
  setObjectName("ShopDayView");
  setWindowTitle(QString::fromUtf8("Сводка дня по магазину"));
  auto* layout = new QVBoxLayout(this);
  auto* note = new QLabel(
      QString::fromUtf8("Одна строка на ККМ и день. Строки с пропусками или повторами номеров чеков выделены."),
      this);
  note->setObjectName("lShopDayNote");
  note->setWordWrap(true);
  layout->addWidget(note);
  table_ = new QTableWidget(this);
  table_->setObjectName("ShopDayGrid");
  table_->setAccessibleName(QString::fromUtf8("Сводка дня по магазину"));
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setTabKeyNavigation(false);
  layout->addWidget(table_, 1);
  auto* buttons = new QDialogButtonBox(this);
  bSave_ = buttons->addButton(QString::fromUtf8("Сохранить..."), QDialogButtonBox::ActionRole);
  bSave_->setObjectName("bShopDaySave");
  QPushButton* close = buttons->addButton(QString::fromUtf8("Закрыть"), QDialogButtonBox::RejectRole);
  close->setObjectName("bShopDayClose");
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(bSave_, &QPushButton::clicked, this, [this] {
    const QString path = chooseFile ? chooseFile()
                                    : QFileDialog::getSaveFileName(
                                          this, QString::fromUtf8("Сохранить сводку дня"), {},
                                          QString::fromUtf8("Таблица CSV (*.csv);;Книга Excel (*.xlsx)"));
    if (!path.isEmpty()) Save(path);
  });
  layout->addWidget(buttons);
  resize(kViewWidth, kViewHeight);
}

void TShopDayView::ShowTable(TDataTable table) {
  data_ = std::move(table);
  table_->clear();
  table_->setColumnCount(static_cast<int>(data_.header.size()));
  table_->setRowCount(static_cast<int>(data_.rows.size()));
  QStringList header;
  for (const std::string& h : data_.header) header << QString::fromStdString(h);
  table_->setHorizontalHeaderLabels(header);
  const char decimal = DecimalSeparator();
  for (int r = 0; r < static_cast<int>(data_.rows.size()); ++r) {
    const auto& row = data_.rows[static_cast<std::size_t>(r)];
    const bool flagged = !row.empty() && row.back().text != kShopNumberingOk;
    for (int c = 0; c < static_cast<int>(row.size()); ++c) {
      const TDataCell& cell = row[static_cast<std::size_t>(c)];
      auto* item = new QTableWidgetItem(QString::fromStdString(cell.Text(decimal)));
      if (cell.kind != TDataCell::Kind::Text && cell.kind != TDataCell::Kind::Empty)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      if (flagged) item->setBackground(QBrush(kNumberingShade));
      table_->setItem(r, c, item);
    }
  }
  table_->resizeColumnsToContents();
}

bool TShopDayView::Save(const QString& path) {
  const std::string file = path.toStdString();
  std::string error;
  const bool xlsx = path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive);
  const bool ok = xlsx ? WriteDataWorkbook({&data_}, file, error)
                       : WriteDataTableCsv(data_, file, TCsvEncoding::Cp1251, DecimalSeparator());
  if (!ok) {
    Error("Не удалось записать файл " + file + (error.empty() ? "" : ": " + error), true, true, true);
    return false;
  }
  Mess("Сводка дня записана в " + file, false, true, true);
  return true;
}

}  // namespace zarvik::ui
