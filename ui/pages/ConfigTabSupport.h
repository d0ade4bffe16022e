// What the tabs of the configuration page share: the wait times of their
// register actions, grid columns, the flat buttons bound to actions, grid
// fonts and sizes, and a few steps on the working tables.
#pragma once

#include <QFont>
#include <QString>
#include <chrono>
#include <string>
#include <string_view>

#include "PageHost.h"
#include "WorkTableModel.h"
#include "store/WorkTable.h"

class QWidget;

namespace zarvik::ui {

class TDBGridEh;
class TSpeedButtonEx;

// How long the wait window of each action stays at most.
inline constexpr std::chrono::milliseconds kOptionsLoadWait{4000};
inline constexpr std::chrono::milliseconds kOptionsSaveWait{2000};
inline constexpr std::chrono::milliseconds kDepLoadWait{25000};
inline constexpr std::chrono::milliseconds kDepSaveWait{5000};
inline constexpr std::chrono::milliseconds kCheckLoadWait{4000};
inline constexpr std::chrono::milliseconds kCheckSaveWait{2000};
inline constexpr std::chrono::milliseconds kTaxLoadWait{4000};
inline constexpr std::chrono::milliseconds kOperatorsWait{4000};
inline constexpr std::chrono::milliseconds kPrintTextWait{4000};

// A grid column over `field`.
struct TColumnOptions {
  bool readOnly = false;
  int widthChars = 0;
  QStringList pickList = {};
  Qt::Alignment alignment = {};
};
TGridColumn Column(std::string field, const TColumnOptions& options);
inline TGridColumn Column(std::string field) {
  return Column(std::move(field), TColumnOptions());
}
inline TGridColumn ReadOnlyColumn(std::string field, int widthChars = 0) {
  TColumnOptions o;
  o.readOnly = true;
  o.widthChars = widthChars;
  return Column(std::move(field), o);
}

// A flat button named `objectName`, bound to the action `action` of the host.
TSpeedButtonEx* ActionButton(TPageHost& host, QWidget* parent, const char* objectName,
                             std::string_view action);

// Brings `tab` to the front of the tab widget that holds it.
void BringTabToFront(QWidget* tab);

// Makes row `n` (1-based, among the rows shown) current and puts it into
// edit state; when the table shows fewer rows, appends one instead. The
// caller sets the fields and posts.
void EditOrAppendRow(TWorkTable& table, int n);

// The fixed-pitch font of the receipt and operator grids.
QFont FixedPitchFont(const QFont& base);

// Gives a grid the font, row height and column widths for `font`.
void SetGridFont(TDBGridEh& grid, const QFont& font);
// Sizes a grid to show `rows` rows and all its columns without scrolling.
void FitGridToRows(TDBGridEh& grid, int rows);
// Makes a grid as wide as its columns and a vertical scroll bar.
void FitGridWidth(TDBGridEh& grid);
// A copy of `font` that a child keeps even under a parent with another font.
QFont OwnFont(const QFont& font);

// A UTF-8 text of the core as a Qt string.
inline QString Utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace zarvik::ui
