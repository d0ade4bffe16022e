#include "WorkTableModel.h"

#include <QBrush>
#include <QSize>
#include <algorithm>

namespace zarvik::ui {

TWorkTableModel::TWorkTableModel(TWorkTable& table, std::vector<TGridColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), table_(table), columns_(std::move(columns)) {
  for (const TGridColumn& c : columns_) fieldIndex_.push_back(table_.FieldIndex(c.field));
  rows_ = table_.ViewRowCount();
  table_.AddObserver(this);
}

TWorkTableModel::~TWorkTableModel() {
  table_.RemoveObserver(this);
}

int TWorkTableModel::ColumnOf(std::string_view field) const {
  for (std::size_t c = 0; c < columns_.size(); ++c)
    if (columns_[c].field == field) return static_cast<int>(c);
  return -1;
}

int TWorkTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int TWorkTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TWorkTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_) return {};
  const int field = FieldOf(index.column());
  if (field < 0) return {};
  const TWorkField& f = table_.Field(field);
  const TGridColumn& col = columns_[static_cast<std::size_t>(index.column())];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::AccessibleTextRole: {
      if (f.type == TFieldType::Boolean && role != Qt::AccessibleTextRole) return {};
      const QString text = QString::fromStdString(table_.ViewText(index.row(), field));
      if (role == Qt::EditRole) {
        // Numbers are edited without their display format.
        const WtValue& v = table_.ViewValue(index.row(), field);
        if (f.type == TFieldType::Currency && std::holds_alternative<std::int64_t>(v))
          return QString::fromStdString(
              CurrencyToText(Currency::FromRaw(std::get<std::int64_t>(v)), DecimalSeparator()));
        return text;
      }
      return displayText ? displayText(index.row(), index.column(), text) : text;
    }
    case Qt::CheckStateRole: {
      if (f.type != TFieldType::Boolean) return {};
      const WtValue& v = table_.ViewValue(index.row(), field);
      const bool on = std::holds_alternative<bool>(v) && std::get<bool>(v);
      return on ? Qt::Checked : Qt::Unchecked;
    }
    case Qt::TextAlignmentRole: {
      if (col.alignment != Qt::Alignment()) return QVariant::fromValue(col.alignment | Qt::AlignVCenter);
      switch (f.alignment) {
        case TFieldAlignment::Left: return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        case TFieldAlignment::Right: return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        case TFieldAlignment::Center: return QVariant::fromValue(Qt::AlignHCenter | Qt::AlignVCenter);
        case TFieldAlignment::Default: break;
      }
      if (f.IsNumeric()) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
    case Qt::BackgroundRole:
    case Qt::ForegroundRole:
    case Qt::FontRole:
    case Qt::ToolTipRole: {
      if (!cellStyle) return {};
      const TCellStyle s = cellStyle(index.row(), index.column());
      if (role == Qt::ToolTipRole) return s.toolTip ? QVariant(*s.toolTip) : QVariant();
      if (role == Qt::BackgroundRole && s.background) return QBrush(*s.background);
      if (role == Qt::ForegroundRole && s.foreground) return QBrush(*s.foreground);
      if (role == Qt::FontRole && s.bold) {
        QFont font;
        font.setBold(*s.bold);
        return font;
      }
      return {};
    }
    default: return {};
  }
}

bool TWorkTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.row() >= rows_) return false;
  const int field = FieldOf(index.column());
  if (field < 0 || columns_[static_cast<std::size_t>(index.column())].readOnly) return false;
  const TWorkField& f = table_.Field(field);
  const bool inserting =
      table_.GetState() == TWorkTable::State::Insert && index.row() == table_.RecordCount();
  if (role == Qt::EditRole && acceptEdit && !acceptEdit(index.row(), index.column(), value.toString()))
    return false;
  if (!inserting && table_.CurrentViewRow() != index.row() && !table_.SetRecNo(index.row() + 1)) return false;
  if (table_.Edit() != WtResult::Ok) return false;
  WtResult r = WtResult::Ok;
  if (role == Qt::CheckStateRole && f.type == TFieldType::Boolean) {
    r = table_.SetBoolean(f.name, value.toInt() == Qt::Checked);
  } else if (role == Qt::EditRole) {
    r = table_.SetText(f.name, value.toString().toStdString());
  } else {
    return false;
  }
  if (r != WtResult::Ok) {
    emit editRefused(QString::fromStdString(table_.LastError()));
    return false;
  }
  if (afterEdit) afterEdit(index.row(), index.column());
  if (postOnEdit && table_.Post() != WtResult::Ok) {
    // A row the table cannot take (a key another row holds) is not kept.
    emit editRefused(QString::fromStdString(table_.LastError()));
    table_.Cancel();
    return false;
  }
  return true;
}

Qt::ItemFlags TWorkTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags fl = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  const int field = FieldOf(index.column());
  if (field < 0 || columns_[static_cast<std::size_t>(index.column())].readOnly) return fl;
  if (table_.Field(field).type == TFieldType::Boolean) return fl | Qt::ItemIsUserCheckable;
  if (table_.Field(field).IsCalculated()) return fl;
  return fl | Qt::ItemIsEditable;
}

QVariant TWorkTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role == Qt::SizeHintRole && orientation == Qt::Vertical && rowHeaderMetrics.digitWidth > 0) {
    constexpr int kMinimumDigits = 2;
    int digits = 1;
    for (int n = rows_; n >= 10; n /= 10) ++digits;
    return QSize(rowHeaderMetrics.digitWidth * std::max(digits, kMinimumDigits) + rowHeaderMetrics.padding,
                 rowHeaderMetrics.height);
  }
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  if (section < 0 || section >= static_cast<int>(columns_.size())) return {};
  const TGridColumn& c = columns_[static_cast<std::size_t>(section)];
  if (!c.title.isEmpty()) return c.title;
  const int field = FieldOf(section);
  return field < 0 ? QString::fromStdString(c.field) : QString::fromStdString(table_.Field(field).Caption());
}

void TWorkTableModel::Redraw() {
  if (rows_ > 0 && !columns_.empty()) emit dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1));
}

void TWorkTableModel::RowsInserted(int first, int count) {
  if (count <= 0) return;
  first = std::clamp(first, 0, rows_);
  beginInsertRows(QModelIndex(), first, first + count - 1);
  rows_ += count;
  endInsertRows();
}

void TWorkTableModel::RowsRemoved(int first, int count) {
  if (count <= 0 || first < 0 || first >= rows_) {
    Reset();
    return;
  }
  count = std::min(count, rows_ - first);
  beginRemoveRows(QModelIndex(), first, first + count - 1);
  rows_ -= count;
  endRemoveRows();
}

void TWorkTableModel::RowChanged(int row) {
  if (row < 0 || row >= rows_ || columns_.empty()) return;
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void TWorkTableModel::CurrentChanged(int row) {
  emit currentRowChanged(row);
}

void TWorkTableModel::Reset() {
  beginResetModel();
  rows_ = table_.ViewRowCount();
  endResetModel();
  emit currentRowChanged(table_.CurrentViewRow());
}

}  // namespace zarvik::ui
