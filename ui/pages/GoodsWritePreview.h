// What "Записать все в ККМ" is about to do, shown before anything is
// written: the summary line, the warnings of the checks and a table of the
// changed rows (code, name, field, register, file), with "Записать" and
// "Отмена".
#pragma once

#include <QDialog>

#include "store/GoodsPlan.h"

class QLabel;
class QPlainTextEdit;
class QTableWidget;
class QPushButton;

namespace zarvik::ui {

inline constexpr std::string_view kGoodsPreviewTitle = "Запись товаров в ККМ";
inline constexpr std::string_view kGoodsPreviewWrite = "Записать";
inline constexpr std::string_view kGoodsPreviewCancel = "Отмена";

class TGoodsWritePreview : public QDialog {
  Q_OBJECT
 public:
  TGoodsWritePreview(const GoodsWritePlan& plan, QWidget* parent = nullptr);

  QLabel* lGoodsWriteSummary = nullptr;
  QPlainTextEdit* mGoodsWriteWarnings = nullptr;  // hidden when there are none
  QTableWidget* tbGoodsWriteChanges = nullptr;
  QPushButton* bGoodsWriteConfirm = nullptr;
  QPushButton* bGoodsWriteCancel = nullptr;
};

}  // namespace zarvik::ui
