// The columns of a spreadsheet's goods, chosen by the user when the program
// cannot find them itself (no code or name column, a header two columns
// share): the sheet, the header row, a column for each goods field and a
// preview of the first rows as the import will take them.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <string>
#include <vector>

#include "store/GoodsSheet.h"

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QTableWidget;

namespace zarvik::ui {

inline constexpr const char* kSheetDialogTitle = "Столбцы товаров";
inline constexpr const char* kSheetNoColumnText = "(нет)";
// Rows of the preview.
inline constexpr int kSheetPreviewRows = 20;

class TGoodsSheetDialog : public QDialog {
  Q_OBJECT
 public:
  // `sheet` is the sheet read first (the first one), `layout` what the
  // program found in it.
  TGoodsSheetDialog(std::string path, std::vector<std::string> sheetNames, TSheet sheet,
                    const GoodsSheetLayout& layout, QWidget* parent = nullptr);

  const TSheet& Sheet() const { return sheet_; }
  const GoodsSheetLayout& Layout() const { return layout_; }

  QComboBox* cbSheet = nullptr;
  QComboBox* cbHeaderRow = nullptr;
  std::array<QComboBox*, kGoodsFieldCount> cbColumns{};  // "cbColumn" + field name
  QLabel* lbProblems = nullptr;
  QTableWidget* tbPreview = nullptr;
  QDialogButtonBox* bButtons = nullptr;

 private:
  void SheetChanged(int index);
  void HeaderRowChanged(int index);
  void ColumnChanged();
  // The lists and the preview from layout_.
  void ShowLayout();
  void ShowPreview();

  std::string path_;
  TSheet sheet_;
  GoodsSheetLayout layout_;
  bool filling_ = false;  // the lists are being filled: their signals change nothing
};

}  // namespace zarvik::ui
