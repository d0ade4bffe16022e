#include "GoodsWritePreview.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace zarvik::ui {
namespace {

QString Q(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

constexpr int kPreviewWidth = 720;
constexpr int kPreviewHeight = 480;
constexpr int kWarningLines = 5;

}  // namespace

TGoodsWritePreview::TGoodsWritePreview(const GoodsWritePlan& plan, QWidget* parent) : QDialog(parent) {
  setObjectName("GoodsWritePreview");
  setWindowTitle(Q(kGoodsPreviewTitle));
  auto* layout = new QVBoxLayout(this);

  lGoodsWriteSummary = new QLabel(Q(GoodsPlanSummary(plan)), this);
  lGoodsWriteSummary->setObjectName("lGoodsWriteSummary");
  layout->addWidget(lGoodsWriteSummary);

  mGoodsWriteWarnings = new QPlainTextEdit(this);
  mGoodsWriteWarnings->setObjectName("mGoodsWriteWarnings");
  mGoodsWriteWarnings->setReadOnly(true);
  mGoodsWriteWarnings->setAccessibleName(QStringLiteral("Предупреждения"));
  QStringList warnings;
  for (const GoodsCheck& c : plan.checks)
    if (!c.error) warnings << Q(GoodsCheckText(c, plan.placeKind));
  mGoodsWriteWarnings->setPlainText(warnings.join('\n'));
  mGoodsWriteWarnings->setMaximumHeight(mGoodsWriteWarnings->fontMetrics().lineSpacing() * kWarningLines);
  mGoodsWriteWarnings->setVisible(!warnings.isEmpty());
  layout->addWidget(mGoodsWriteWarnings);

  tbGoodsWriteChanges = new QTableWidget(this);
  tbGoodsWriteChanges->setObjectName("tbGoodsWriteChanges");
  tbGoodsWriteChanges->setAccessibleName(QStringLiteral("Изменения"));
  tbGoodsWriteChanges->setColumnCount(5);
  tbGoodsWriteChanges->setHorizontalHeaderLabels({QStringLiteral("Код"), QStringLiteral("Наименование"),
                                                  QStringLiteral("Поле"), QStringLiteral("В ККМ"),
                                                  QStringLiteral("В файле")});
  tbGoodsWriteChanges->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tbGoodsWriteChanges->setSelectionBehavior(QAbstractItemView::SelectRows);
  tbGoodsWriteChanges->verticalHeader()->hide();
  tbGoodsWriteChanges->horizontalHeader()->setStretchLastSection(true);
  int rows = 0;
  for (const GoodsPlanRow& r : plan.send)
    rows += r.isNew || r.changes.empty() ? 1 : static_cast<int>(r.changes.size());
  tbGoodsWriteChanges->setRowCount(rows);
  int at = 0;
  const auto put = [&](int column, const std::string& text) {
    tbGoodsWriteChanges->setItem(at, column, new QTableWidgetItem(Q(text)));
  };
  for (const GoodsPlanRow& r : plan.send) {
    const auto head = [&] {
      put(0, std::to_string(r.code));
      put(1, r.name);
    };
    if (r.isNew || r.changes.empty()) {
      head();
      put(2, r.isNew ? std::string(kGoodsNewText) : std::string("все поля"));
      ++at;
      continue;
    }
    for (const GoodsFieldChange& c : r.changes) {
      head();
      put(2, GoodsFieldTitle(c.field));
      put(3, c.registerValue);
      put(4, c.fileValue);
      ++at;
    }
  }
  tbGoodsWriteChanges->resizeColumnsToContents();
  layout->addWidget(tbGoodsWriteChanges, 1);

  auto* buttons = new QDialogButtonBox(this);
  bGoodsWriteConfirm = buttons->addButton(Q(kGoodsPreviewWrite), QDialogButtonBox::AcceptRole);
  bGoodsWriteConfirm->setObjectName("bGoodsWriteConfirm");
  bGoodsWriteCancel = buttons->addButton(Q(kGoodsPreviewCancel), QDialogButtonBox::RejectRole);
  bGoodsWriteCancel->setObjectName("bGoodsWriteCancel");
  bGoodsWriteConfirm->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(kPreviewWidth, kPreviewHeight);
}

}  // namespace zarvik::ui
