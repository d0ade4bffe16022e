#include "ConfigTabSupport.h"

#include <QFontDatabase>
#include <QHeaderView>
#include <QScrollBar>
#include <QTabWidget>

#include "DBGridEh.h"
#include "SpeedButtonEx.h"

namespace zarvik::ui {

namespace {

constexpr int kRowPadding = 6;

int ColumnsWidth(TDBGridEh& grid) {
  int width = 2 * grid.frameWidth();
  if (!grid.verticalHeader()->isHidden()) width += grid.verticalHeader()->sizeHint().width();
  for (int c = 0; c < grid.model()->columnCount(); ++c)
    if (!grid.isColumnHidden(c)) width += grid.columnWidth(c);
  return width;
}

}  // namespace

TGridColumn Column(std::string field, const TColumnOptions& options) {
  TGridColumn c;
  c.field = std::move(field);
  c.readOnly = options.readOnly;
  c.widthChars = options.widthChars;
  c.pickList = options.pickList;
  c.alignment = options.alignment;
  return c;
}

TSpeedButtonEx* ActionButton(TPageHost& host, QWidget* parent, const char* objectName,
                             std::string_view action) {
  auto* b = new TSpeedButtonEx(parent);
  b->setObjectName(objectName);
  b->SetAction(host.Action(action));
  return b;
}

void BringTabToFront(QWidget* tab) {
  for (QWidget* w = tab->parentWidget(); w != nullptr; w = w->parentWidget()) {
    if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
      if (tabs->indexOf(tab) >= 0) tabs->setCurrentWidget(tab);
      return;
    }
  }
}

void EditOrAppendRow(TWorkTable& table, int n) {
  if (table.GetState() != TWorkTable::State::Browse) table.Post();
  if (n <= table.RecordCount() && table.SetRecNo(n)) {
    table.Edit();
  } else {
    table.Append();
  }
}

QFont FixedPitchFont(const QFont& base) {
  QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  f.setFamilies({QStringLiteral("Courier"), QStringLiteral("Courier New"), f.family()});
  f.setStyleHint(QFont::TypeWriter);
  f.setPointSizeF(base.pointSizeF());
  return f;
}

void SetGridFont(TDBGridEh& grid, const QFont& font) {
  grid.setFont(font);
  grid.verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + kRowPadding);
  grid.FitColumns();
}

QFont OwnFont(const QFont& font) {
  QFont f = font;
  // Setting every attribute marks them as the widget's own.
  f.setFamilies(font.families().isEmpty() ? QStringList{font.family()} : font.families());
  f.setPointSizeF(font.pointSizeF());
  f.setWeight(font.weight());
  f.setStyle(font.style());
  return f;
}

void FitGridWidth(TDBGridEh& grid) {
  grid.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  grid.setFixedWidth(ColumnsWidth(grid) + grid.verticalScrollBar()->sizeHint().width());
}

void FitGridToRows(TDBGridEh& grid, int rows) {
  const int width = ColumnsWidth(grid);
  const int height = 2 * grid.frameWidth() + grid.horizontalHeader()->sizeHint().height() +
                     rows * grid.verticalHeader()->defaultSectionSize();
  grid.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid.setFixedSize(width, height);
}

}  // namespace zarvik::ui
