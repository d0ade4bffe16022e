#include "DBComboBox.h"

namespace zarvik::ui {

TDBComboBox::TDBComboBox(QWidget* parent) : QComboBox(parent) {
  // Every change of the choice that is not a refresh (the user, assistive
  // technologies, tests) is stored.
  connect(this, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (!refreshing_) Store(index);
  });
}

TDBComboBox::~TDBComboBox() {
  if (table_ != nullptr) table_->RemoveObserver(this);
}

void TDBComboBox::SetDataSource(TWorkTable* table, std::string field) {
  if (table_ != nullptr) table_->RemoveObserver(this);
  table_ = table;
  field_ = std::move(field);
  if (table_ != nullptr) table_->AddObserver(this);
  Refresh();
}

void TDBComboBox::SetItems(const QStringList& items) {
  refreshing_ = true;
  clear();
  addItems(items);
  refreshing_ = false;
  Refresh();
}

void TDBComboBox::Refresh() {
  if (refreshing_) return;
  refreshing_ = true;
  QString text;
  if (table_ != nullptr && table_->Active() && table_->CurrentViewRow() >= 0)
    text = QString::fromStdString(table_->Text(field_));
  setCurrentIndex(text.isEmpty() ? -1 : findText(text, Qt::MatchExactly));
  refreshing_ = false;
}

void TDBComboBox::Store(int index) {
  if (table_ == nullptr || !table_->Active() || index < 0) return;
  const std::string text = itemText(index).toStdString();
  if (table_->CurrentViewRow() >= 0 && table_->GetState() == TWorkTable::State::Browse &&
      table_->Text(field_) == text)
    return;
  refreshing_ = true;
  if (table_->Edit() == WtResult::Ok && table_->SetText(field_, text) == WtResult::Ok) table_->Post();
  refreshing_ = false;
  Refresh();
}

}  // namespace zarvik::ui
