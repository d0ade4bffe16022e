#include "PortListBox.h"

#include <QComboBox>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QTableView>

namespace zarvik::ui {

namespace {

constexpr int kPortNumberRole = Qt::UserRole + 1;
constexpr int kPopupRowsShown = 16;
constexpr int kPopupMargin = 24;  // room for the frame and a scroll bar
constexpr const char* kInUseText = "открыт этой программой";

QString Qs(const std::string& s) {
  return QString::fromStdString(s);
}

QStandardItemModel* PortModel(QComboBox* box) {
  if (auto* model = qobject_cast<QStandardItemModel*>(box->model());
      model != nullptr && model->columnCount() == pcColumnCount && qobject_cast<QTableView*>(box->view()))
    return model;
  auto* model = new QStandardItemModel(0, pcColumnCount, box);
  box->setModel(model);
  box->setModelColumn(pcName);
  auto* view = new QTableView(box);
  view->horizontalHeader()->hide();
  view->verticalHeader()->hide();
  view->setShowGrid(false);
  view->setWordWrap(false);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->horizontalHeader()->setStretchLastSection(true);
  box->setView(view);
  box->setMaxVisibleItems(kPopupRowsShown);
  // The box tells, as tooltip and accessible description, what the chosen
  // entry stands for.
  QObject::connect(box, &QComboBox::currentIndexChanged, box, [box] { DescribeCurrentPort(box); });
  return model;
}

void SizePopup(QComboBox* box) {
  auto* view = qobject_cast<QTableView*>(box->view());
  if (view == nullptr) return;
  view->resizeColumnsToContents();
  view->resizeRowsToContents();
  int width = kPopupMargin;
  for (int c = 0; c < pcColumnCount; ++c) width += view->columnWidth(c);
  view->setMinimumWidth(width);
}

}  // namespace

void FillPortBox(QComboBox* box, const std::vector<TPortEntry>& ports) {
  QStandardItemModel* model = PortModel(box);
  model->removeRows(0, model->rowCount());
  for (const TPortEntry& e : ports) {
    const QString description = Qs(PortDescription(e));
    QList<QStandardItem*> row;
    for (const QString& text : {Qs(PortListItem(e)), Qs(e.node), Qs(e.byId), Qs(PortStateText(e))}) {
      auto* item = new QStandardItem(text);
      item->setEditable(false);
      item->setToolTip(description);
      item->setData(description, Qt::AccessibleDescriptionRole);
      item->setData(e.number, kPortNumberRole);
      row.append(item);
    }
    model->appendRow(row);
  }
  SizePopup(box);
}

void DescribeCurrentPort(QComboBox* box) {
  const int index = box->currentIndex();
  const QString text = index < 0 ? QString() : box->itemData(index, Qt::ToolTipRole).toString();
  box->setToolTip(text);
  box->setAccessibleDescription(text);
}

void MarkPortInUse(QComboBox* box, int index) {
  auto* model = qobject_cast<QStandardItemModel*>(box->model());
  if (model == nullptr || model->columnCount() != pcColumnCount || index < 0 || index >= model->rowCount())
    return;
  QString description = model->item(index, pcName)->toolTip();
  description =
      description.left(description.lastIndexOf(QLatin1Char('\n')) + 1) + QString::fromUtf8(kInUseText);
  model->item(index, pcState)->setText(QString::fromUtf8(kInUseText));
  for (int c = 0; c < pcColumnCount; ++c) {
    model->item(index, c)->setToolTip(description);
    model->item(index, c)->setData(description, Qt::AccessibleDescriptionRole);
  }
  DescribeCurrentPort(box);
  SizePopup(box);
}

int PortBoxNumber(const QComboBox* box, int index) {
  if (index < 0 || index >= box->count()) return 0;
  const QVariant number = box->itemData(index, kPortNumberRole);
  if (number.isValid()) return number.toInt();
  // An entry put there by other means: the number is in its text.
  return box->itemText(index).mid(3, 3).section(QLatin1Char(' '), 0, 0).toInt();
}

}  // namespace zarvik::ui
