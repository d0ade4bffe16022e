#include "DBLabel.h"

namespace zarvik::ui {

TDBLabel::TDBLabel(QWidget* parent) : QLabel(parent) {}

TDBLabel::~TDBLabel() {
  if (table_ != nullptr) table_->RemoveObserver(this);
}

void TDBLabel::SetDataSource(TWorkTable* table, std::string field) {
  if (table_ != nullptr) table_->RemoveObserver(this);
  table_ = table;
  field_ = std::move(field);
  if (table_ != nullptr) table_->AddObserver(this);
  Refresh();
}

void TDBLabel::Refresh() {
  QString text;
  if (table_ != nullptr && table_->Active() && table_->CurrentViewRow() >= 0)
    text = QString::fromStdString(table_->Text(field_));
  if (text != this->text()) setText(text);
  update();
}

void TDBLabel::paintEvent(QPaintEvent* event) {
  if (OnBeforeDraw) OnBeforeDraw(*this, text());
  QLabel::paintEvent(event);
}

}  // namespace zarvik::ui
