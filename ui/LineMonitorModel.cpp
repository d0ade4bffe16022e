#include "LineMonitorModel.h"

#include <QColor>
#include <QDateTime>
#include <algorithm>
#include <array>

#include "protocol/LinkFrames.h"
#include "protocol/ResultTexts.h"
#include "shell/Utilscolor.h"

namespace zarvik::ui {
namespace {

constexpr std::int64_t kMicrosPerMilli = 1000;
constexpr int kControlPacketBytes = 5;
constexpr int kRequestMark = 1;          // the first byte of every request and answer
constexpr int kReadJournalCommand = 15;  // its result byte says "more" or "end", not an error
constexpr int kLastLinkCode = 32;
// A tenth of the rows goes at once when the limit is reached, so that rows
// are not dropped one by one with every batch.
constexpr int kDropShare = 10;

const QString kToRegister = QStringLiteral("ПК->ККМ");
const QString kFromRegister = QStringLiteral("ПК<-ККМ");
const QString kContinued = QStringLiteral("асинх.");
const QString kRetried = QString::fromUtf8(kRetryMark.data(), static_cast<qsizetype>(kRetryMark.size()));
const QString kRetriedKind = QStringLiteral("повтор");
const QString kReadBytes = QStringLiteral("ReadFromCOM");
const QString kWriteBytes = QStringLiteral("WriteToCOM");

// The steps of an exchange that fail with a link code; the code's text
// follows the prefix.
const std::array<QString, 4> kLinkStepPrefixes = {QStringLiteral("SendKvit:"),
                                                  QStringLiteral("Sync>WaitKvit:"),
                                                  QStringLiteral("WaitData:"), QStringLiteral("Syn>Send:")};

const char* const kHeaders[lcCount] = {"Время",  "+мс",     "От начала, мс", "Вид",  "Направление",
                                       "Размер", "Команда", "Результат",     "Текст"};

QString Millis(std::int64_t us) {
  return QString::number(static_cast<double>(us) / static_cast<double>(kMicrosPerMilli), 'f', 1);
}

// The result code whose text ends a failed link step ("Sync>WaitKvit:" and
// the text of code 32, ...), or -1.
int LinkStepCode(const QString& text) {
  for (const QString& prefix : kLinkStepPrefixes) {
    if (!text.startsWith(prefix)) continue;
    const std::string rest = text.mid(prefix.size()).toStdString();
    for (int code = 0; code <= kLastLinkCode; ++code) {
      if (ResultText(code) == rest) return code;
    }
    return -1;
  }
  return -1;
}

// Up to three decimal numbers after "  :" separated by ",".
std::vector<int> FirstBytes(const QString& text) {
  std::vector<int> bytes;
  const qsizetype colon = text.lastIndexOf(QStringLiteral("  :"));
  if (colon < 0) return bytes;
  const QStringList parts = text.mid(colon + 3).split(QLatin1Char(','), Qt::SkipEmptyParts);
  for (const QString& p : parts) {
    bool ok = false;
    const int v = p.trimmed().toInt(&ok);
    if (!ok) break;
    bytes.push_back(v);
  }
  return bytes;
}

void ReadDataFrame(TLineRecord& r) {
  r.category = TLineCategory::Data;
  r.name = QStringLiteral("data");
  r.direction = r.text.contains(kFromRegister) ? TLineDirection::FromRegister : TLineDirection::ToRegister;
  const qsizetype at = r.text.indexOf(QStringLiteral("size:"));
  if (at >= 0) {
    qsizetype end = at + 5;
    while (end < r.text.size() && r.text[end].isDigit()) ++end;
    bool ok = false;
    const int size = r.text.mid(at + 5, end - at - 5).toInt(&ok);
    if (ok) r.size = size;
  }
  const std::vector<int> bytes = FirstBytes(r.text);
  if (bytes.size() >= 2 && bytes[0] == kRequestMark) r.command = bytes[1];
  if (r.direction == TLineDirection::FromRegister && bytes.size() >= 3 && bytes[0] == kRequestMark)
    r.result = bytes[2];
}

void ReadControlPacket(TLineRecord& r) {
  r.category = TLineCategory::Control;
  r.size = kControlPacketBytes;
  const QString body = r.text.mid(1);
  qsizetype dir = body.indexOf(kToRegister);
  r.direction = TLineDirection::ToRegister;
  if (const qsizetype from = body.indexOf(kFromRegister); from >= 0 && (dir < 0 || from < dir)) {
    dir = from;
    r.direction = TLineDirection::FromRegister;
  }
  r.name = (dir >= 0 ? body.left(dir) : body.section(QLatin1Char(' '), 0, 0)).trimmed();
  r.continuation = dir >= 0 && body.mid(dir + kToRegister.size()).trimmed().startsWith(kContinued);
}

void ReadBytes(TLineRecord& r, const QString& name, TLineDirection direction) {
  r.category = TLineCategory::Bytes;
  r.name = name;
  r.direction = direction;
  const qsizetype hexLength = r.text.size() - name.size() - 1;
  r.size = hexLength <= 0 ? 0 : static_cast<int>((hexLength + 1) / 3);
}

}  // namespace

QString CommandName(int code) {
  switch (code) {
    case 1: return QStringLiteral("GetInfo");
    case 2: return QStringLiteral("GetDateTime");
    case 3: return QStringLiteral("GetHeaderLine");
    case 4: return QStringLiteral("SetHeaderLine");
    case 5: return QStringLiteral("GetFooterLine");
    case 6: return QStringLiteral("SetFooterLine");
    case 7: return QStringLiteral("GetDepartment");
    case 8: return QStringLiteral("SetDepartment");
    case 9: return QStringLiteral("GetOptions");
    case 10: return QStringLiteral("SetOptions");
    case 13: return QStringLiteral("GetTax");
    case 15: return QStringLiteral("ReadJournal");
    case 16: return QStringLiteral("GetGoods");
    case 17: return QStringLiteral("SetGoods");
    case 21: return QStringLiteral("GetOperatorName");
    case 22: return QStringLiteral("SetOperatorName");
    case 23: return QStringLiteral("GetPosition");
    case 24: return QStringLiteral("SetPosition");
    case 25: return QStringLiteral("PrintLine");
    default: return {};
  }
}

TLineRecord TLineTraceReader::Read(const TLineTrace& trace) {
  TLineRecord r;
  r.timeUs = r.lastTimeUs = trace.timeUs;
  r.kind = trace.kind;
  r.text = QString::fromUtf8(trace.text.data(), static_cast<qsizetype>(trace.text.size()));
  // Messages of the workflows may carry console markup; traces never do (and
  // their "ПК<-ККМ" would read as a tag).
  const bool message = trace.depth == mdUser && trace.kind != TTraceKind::Trace;
  if (message && (r.text.contains(QLatin1Char('<')) || r.text.contains(QLatin1Char('{'))))
    r.text = QString::fromStdString(ParseConsoleMarkup(trace.text).text);
  bool endsExchange = false;
  switch (trace.kind) {
    case TTraceKind::Warning:
    case TTraceKind::Error:
      r.category = TLineCategory::Errors;
      r.name =
          trace.kind == TTraceKind::Warning ? QStringLiteral("предупреждение") : QStringLiteral("ошибка");
      r.result = LinkStepCode(r.text);
      break;
    case TTraceKind::Message:
      r.category = TLineCategory::Commands;
      r.name = QStringLiteral("сообщение");
      endsExchange = true;
      break;
    case TTraceKind::Trace:
      if (r.text.startsWith(QStringLiteral("----- начало синхронизации"))) {
        exchangeStartUs_ = trace.timeUs;
        r.category = TLineCategory::Commands;
        r.exchangeMark = true;
        r.name = QStringLiteral("начало синхронизации");
      } else if (r.text.startsWith(QStringLiteral("----- конец синхронизации"))) {
        r.category = TLineCategory::Commands;
        r.exchangeMark = true;
        r.name = QStringLiteral("конец синхронизации");
      } else if (r.text.startsWith(QLatin1Char('>'))) {
        // A packet sent or received again ends with the mark; the rest is
        // read as any packet's trace.
        const QString full = r.text;
        r.retried = r.text.endsWith(kRetried);
        if (r.retried) r.text.chop(kRetried.size());
        if (r.text.startsWith(QStringLiteral(">data "))) {
          ReadDataFrame(r);
        } else {
          ReadControlPacket(r);
        }
        r.text = full;
      } else if (r.text.startsWith(kReadBytes + QLatin1Char(':'))) {
        ReadBytes(r, kReadBytes, TLineDirection::FromRegister);
      } else if (r.text.startsWith(kWriteBytes + QLatin1Char(':'))) {
        ReadBytes(r, kWriteBytes, TLineDirection::ToRegister);
      } else if (trace.depth >= mdHardWare) {
        r.category = TLineCategory::Bytes;
        r.name = QStringLiteral("порт");
      } else {
        // A command step ("получаем инфо. о ККМ") begins the next exchange.
        r.category = TLineCategory::Commands;
        r.name = trace.depth == mdUser ? QStringLiteral("сообщение") : QStringLiteral("команда");
        endsExchange = true;
      }
      break;
  }
  if (endsExchange) {
    exchangeStartUs_ = -1;
  } else if (exchangeStartUs_ >= 0) {
    r.sinceStartUs = trace.timeUs - exchangeStartUs_;
  }
  return r;
}

TLineMonitorModel::TLineMonitorModel(QObject* parent) : QAbstractTableModel(parent) {}

int TLineMonitorModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TLineMonitorModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : lcCount;
}

QString TLineMonitorModel::CellText(const TLineRecord& r, int column) {
  switch (column) {
    case lcTime:
      return QDateTime::fromMSecsSinceEpoch(r.timeUs / kMicrosPerMilli)
          .toString(QStringLiteral("hh:mm:ss.zzz"));
    case lcSinceStart: return r.sinceStartUs >= 0 ? Millis(r.sinceStartUs) : QString();
    case lcKind: {
      QString kind = r.continuation ? r.name + QLatin1Char(' ') + kContinued : r.name;
      if (r.retried) kind += QLatin1Char(' ') + kRetriedKind;
      return kind;
    }
    case lcDirection:
      return r.direction == TLineDirection::ToRegister     ? kToRegister
             : r.direction == TLineDirection::FromRegister ? kFromRegister
                                                           : QString();
    case lcSize: return r.size >= 0 ? QString::number(r.size) : QString();
    case lcCommand:
      return r.command >= 0
                 ? (QString::number(r.command) + QLatin1Char(' ') + CommandName(r.command)).trimmed()
                 : QString();
    case lcResult: {
      if (r.result < 0) return {};
      if (r.result == 0 || r.command == kReadJournalCommand) return QString::number(r.result);
      // A register's answer says it with the answer texts, a link step with its own.
      const std::string text = r.category == TLineCategory::Data ? ErrorText(r.result) : ResultText(r.result);
      return QString::number(r.result) + QLatin1Char(' ') + QString::fromStdString(text);
    }
    case lcText: return r.text;
    default: return {};
  }
}

QVariant TLineMonitorModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  const TLineRecord& r = Record(index.row());
  switch (role) {
    case Qt::DisplayRole: return CellText(r, index.column());
    case Qt::ToolTipRole:
      return index.column() == lcText || index.column() == lcResult ? CellText(r, index.column())
                                                                    : QVariant();
    case Qt::TextAlignmentRole:
      if (index.column() == lcDelta || index.column() == lcSinceStart || index.column() == lcSize)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      return {};
    case Qt::ForegroundRole:
      if (r.kind == TTraceKind::Error) return QColor(0xC0, 0x00, 0x00);
      if (r.kind == TTraceKind::Warning) return QColor(0xA0, 0x00, 0xA0);
      if (r.result > 0 && r.command != kReadJournalCommand) return QColor(0xC0, 0x00, 0x00);
      if (r.category == TLineCategory::Bytes) return QColor(0x60, 0x60, 0x60);
      if (r.direction == TLineDirection::FromRegister) return QColor(0x00, 0x70, 0x00);
      if (r.direction == TLineDirection::ToRegister) return QColor(0x00, 0x00, 0xA0);
      return {};
    case Qt::BackgroundRole:
      if (r.exchangeMark) return QColor(0xE8, 0xE8, 0xE8);
      if (r.retried) return QColor(0xFF, 0xE6, 0xB3);
      return {};
    default: return {};
  }
}

QVariant TLineMonitorModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= lcCount) return {};
  if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return QString::fromUtf8(kHeaders[section]);
  return {};
}

bool TLineMonitorModel::JoinBytes(TLineRecord& last, const TLineRecord& next) const {
  // A data frame comes one byte per read; its bytes make one row.
  if (next.category != TLineCategory::Bytes || last.category != TLineCategory::Bytes) return false;
  if (next.name != kReadBytes || last.name != kReadBytes) return false;
  if (last.size + next.size > kMaxJoinedBytes) return false;
  last.text += QLatin1Char(' ') + next.text.mid(kReadBytes.size() + 1);
  last.size += next.size;
  last.lastTimeUs = next.timeUs;
  return true;
}

void TLineMonitorModel::Append(const std::vector<TLineTrace>& traces) {
  std::vector<TLineRecord> fresh;
  fresh.reserve(traces.size());
  bool lastRowGrew = false;
  for (const TLineTrace& t : traces) {
    TLineRecord r = reader_.Read(t);
    if (!fresh.empty()) {
      if (JoinBytes(fresh.back(), r)) continue;
    } else if (!rows_.empty() && JoinBytes(rows_.back(), r)) {
      lastRowGrew = true;
      continue;
    }
    fresh.push_back(std::move(r));
  }
  if (lastRowGrew) {
    const int last = static_cast<int>(rows_.size()) - 1;
    emit dataChanged(index(last, 0), index(last, lcCount - 1));
  }
  if (fresh.empty()) return;
  // More than the limit in one batch: only its newest rows are kept.
  const auto limit = static_cast<std::size_t>(maxRows_);
  if (fresh.size() > limit) {
    dropped_ += static_cast<std::int64_t>(fresh.size() - limit);
    fresh.erase(fresh.begin(), fresh.end() - static_cast<std::ptrdiff_t>(limit));
  }
  if (rows_.size() + fresh.size() > limit) {
    const std::size_t over = rows_.size() + fresh.size() - limit;
    DropOldest(static_cast<int>(std::min(rows_.size(), std::max(over, limit / kDropShare))));
  }
  const int first = static_cast<int>(rows_.size());
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(fresh.size()) - 1);
  std::move(fresh.begin(), fresh.end(), std::back_inserter(rows_));
  endInsertRows();
}

void TLineMonitorModel::DropOldest(int count) {
  if (count <= 0) return;
  beginRemoveRows(QModelIndex(), 0, count - 1);
  rows_.erase(rows_.begin(), rows_.begin() + count);
  endRemoveRows();
  dropped_ += count;
}

void TLineMonitorModel::Clear() {
  beginResetModel();
  rows_.clear();
  reader_.Reset();
  endResetModel();
}

void TLineMonitorModel::SetMaxRows(int rows) {
  maxRows_ = std::max(rows, 1);
  if (static_cast<int>(rows_.size()) > maxRows_) DropOldest(static_cast<int>(rows_.size()) - maxRows_);
}

TLineMonitorFilter::TLineMonitorFilter(TLineMonitorModel& model, QObject* parent)
    : QSortFilterProxyModel(parent), model_(model) {
  setSourceModel(&model);
  for (int c = 0; c < kLineCategoryCount; ++c) categories_ |= 1u << c;
}

void TLineMonitorFilter::SetCategory(TLineCategory category, bool shown) {
  const unsigned bit = 1u << static_cast<unsigned>(category);
  const unsigned next = shown ? categories_ | bit : categories_ & ~bit;
  if (next == categories_) return;
  categories_ = next;
  invalidateFilter();
}

bool TLineMonitorFilter::CategoryShown(TLineCategory category) const {
  return (categories_ & (1u << static_cast<unsigned>(category))) != 0;
}

void TLineMonitorFilter::SetText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  invalidateFilter();
}

bool TLineMonitorFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
  const TLineRecord& r = model_.Record(sourceRow);
  if (!CategoryShown(r.category)) return false;
  if (text_.isEmpty()) return true;
  for (const int column : {lcKind, lcCommand, lcResult, lcText}) {
    if (TLineMonitorModel::CellText(r, column).contains(text_, Qt::CaseInsensitive)) return true;
  }
  return false;
}

QString TLineMonitorFilter::DeltaText(int proxyRow) const {
  if (proxyRow <= 0 || proxyRow >= rowCount()) return {};
  const int row = mapToSource(index(proxyRow, 0)).row();
  const int previous = mapToSource(index(proxyRow - 1, 0)).row();
  return Millis(model_.Record(row).timeUs - model_.Record(previous).lastTimeUs);
}

QVariant TLineMonitorFilter::data(const QModelIndex& idx, int role) const {
  if (idx.isValid() && idx.column() == lcDelta && role == Qt::DisplayRole) return DeltaText(idx.row());
  return QSortFilterProxyModel::data(idx, role);
}

QStringList TLineMonitorFilter::Lines() const {
  // One line per row: line breaks and tabs inside a text become blanks.
  const auto clean = [](QString s) {
    for (QChar& c : s) {
      if (c.unicode() < 32) c = QLatin1Char(' ');
    }
    return s;
  };
  QStringList lines;
  QStringList cells;
  for (int c = 0; c < lcCount; ++c) cells << QString::fromUtf8(kHeaders[c]);
  lines << cells.join(QLatin1Char('\t'));
  for (int row = 0; row < rowCount(); ++row) {
    const TLineRecord& r = model_.Record(mapToSource(index(row, 0)).row());
    cells.clear();
    for (int c = 0; c < lcCount; ++c)
      cells << clean(c == lcDelta ? DeltaText(row) : TLineMonitorModel::CellText(r, c));
    lines << cells.join(QLatin1Char('\t'));
  }
  return lines;
}

}  // namespace zarvik::ui
