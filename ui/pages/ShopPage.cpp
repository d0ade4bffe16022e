#include "ShopPage.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <filesystem>
#include <map>
#include <set>

#include "../PageHost.h"
#include "../SpeedButtonEx.h"
#include "ShopDayView.h"
#include "journal/ShopDay.h"
#include "port/Comport.h"
#include "port/PortDevices.h"
#include "shell/DiaLog.h"
#include "shell/IniFile.h"
#include "shell/ReportCells.h"
#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"
#include "store/ConfigText.h"

namespace zarvik::ui {

namespace {

// zarvikctl's exit status of a run stopped by a signal.
constexpr int kExitInterrupted = 130;
// How long a worker that the page goes away from may take to end after
// SIGTERM before it is killed.
constexpr int kWorkerEndWaitMs = 3000;
// How much the workers give way to the window (nice(2)).
constexpr int kWorkerNice = 10;
constexpr int kLowestNet = 1;
constexpr int kHighestNet = 98;
constexpr int kMostJobs = 64;
constexpr int kDefaultJobs = 4;
constexpr std::string_view kFleetMark = "@fleet ";
constexpr const char* kFleetFilter = "Список ККМ (*.ini);;Все файлы (*)";
constexpr const char* kConfigFilter = "Настройки ККМ (*.conf *.txt);;Все файлы (*)";
constexpr const char* kGoodsFilter = "Товары (*.dbf *.csv);;Все файлы (*)";
constexpr const char* kReportFilter = "Отчет CSV (*.csv);;Отчет JSON (*.json)";
constexpr const char* kWorkerName = "zarvikctl";

struct TColumnDef {
  const char* caption;
  bool editable;
};
constexpr TColumnDef kColumns[scColumns] = {
    {"Касса", true},       {"Порт", true},         {"Устройство", false}, {"Скорость", true},
    {"Сеть", true},        {"Ожидаемый №", true},  {"Серийный №", false}, {"Модель", false},
    {"Состояние", false},  {"Ход", false},         {"Результат", false},  {"Время", false},
};

struct TActionDef {
  const char* name;
  const char* tip;
};

// A file name part from a serial number or a register name.
std::string FileNamePart(const std::string& text) {
  std::string out;
  for (const char c : text)
    out += (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_') ? c : '_';
  return out.empty() ? std::string("_") : out;
}

// A whole decimal number within low..high.
bool ParseInteger(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t& out) {
  std::int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() || v < low || v > high) return false;
  out = v;
  return true;
}

bool Has(const std::string& text, std::string_view ext) {
  return text.size() >= ext.size() && Utf8Lower(text.substr(text.size() - ext.size())) == ext;
}

// zarvikctl beside the window program: installed, both lie in one folder;
// in a build tree the window is in ui/ and zarvikctl in ctl/.
QString FindWorkerProgram() {
  const QDir here(QCoreApplication::applicationDirPath());
  for (const QString& candidate : {here.filePath(kWorkerName), here.filePath(QStringLiteral("../ctl/zarvikctl"))}) {
    const QFileInfo info(candidate);
    if (info.isFile() && info.isExecutable()) return info.canonicalFilePath();
  }
  return {};
}

}  // namespace

// A worker of the running operation.
struct TShopPage::TJob {
  int row = 0;
  QProcess* process = nullptr;
  std::string lineBuf[2];
  std::string what;     // what was done ("@fleet done")
  std::string message;  // the last message of the worker
  std::string refused;  // "@fleet refused"
  std::string outTemp;  // journals: the file the worker writes
  bool answered = false;  // the register told its serial number in this run
  bool started = false;
  bool ended = false;
};

TShopPage::TShopPage(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheetShop");
  worker_ = FindWorkerProgram();
  BuildLayout();
  WireActions();
  UpdateActions();
}

TShopPage::~TShopPage() {
  // No worker outlives the window: each is asked to end, then killed.
  std::vector<QProcess*> others;
  if (portLister_ != nullptr) others.push_back(portLister_);
  for (const auto& [process, port] : finders_) others.push_back(process);
  for (QProcess* p : others) {
    p->disconnect(this);
    p->kill();
    p->waitForFinished(kWorkerEndWaitMs);
  }
  for (const auto& job : running_) {
    if (job->process == nullptr || job->ended) continue;
    job->process->disconnect(this);
    job->process->terminate();
  }
  for (const auto& job : running_) {
    if (job->process == nullptr || job->ended) continue;
    if (!job->process->waitForFinished(kWorkerEndWaitMs)) {
      job->process->kill();
      job->process->waitForFinished(kWorkerEndWaitMs);
    }
  }
}

void TShopPage::BuildLayout() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->setSpacing(4);

  auto* title = new QLabel(QString::fromUtf8("Магазин"), this);
  title->setObjectName("lShopTitle");
  QFont f = title->font();
  f.setBold(true);
  title->setFont(f);
  lListPath = new QLabel(this);
  lListPath->setObjectName("lShopList");
  lListPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lListPath->setAccessibleDescription(QString::fromUtf8("Список ККМ"));
  auto* head = new QHBoxLayout;
  head->addWidget(title);
  head->addWidget(lListPath, 1);
  layout->addLayout(head);

  // The buttons in two rows: the list, then the operations; a small screen
  // keeps them all in view.
  const auto button = [this](const char* action) {
    auto* b = new TSpeedButtonEx(this);
    b->setObjectName(QStringLiteral("b") + QString::fromUtf8(action));
    b->SetAction(host_.Action(action));
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return b;
  };
  auto* listRow = new QHBoxLayout;
  for (const char* a : {"shopOpenList", "shopSaveList", "shopAddRegister", "shopRemoveRegister", "shopAddFound"})
    listRow->addWidget(button(a));
  listRow->addStretch(1);
  layout->addLayout(listRow);

  auto* jobsLabel = new QLabel(QString::fromUtf8("Одновременно:"), this);
  jobsLabel->setObjectName("lShopJobs");
  jobs_ = new QSpinBox(this);
  jobs_->setObjectName("seShopJobs");
  jobs_->setRange(1, kMostJobs);
  jobs_->setValue(kDefaultJobs);
  jobs_->setAccessibleName(QString::fromUtf8("Одновременно ККМ"));
  jobs_->setToolTip(QString::fromUtf8("Сколько ККМ работают одновременно, каждая своим процессом zarvikctl"));
  jobsLabel->setBuddy(jobs_);
  // The operations three a row: the captions are long, and the page fits
  // beside the side panel on a screen 1024 pixels wide.
  constexpr int kOperationColumns = 3;
  auto* opRow = new QGridLayout;
  opRow->setHorizontalSpacing(4);
  opRow->setVerticalSpacing(2);
  int column = 0;
  for (const char* a : {"shopPoll", "shopCompare", "shopApplyConfig", "shopWriteGoods", "shopReadJournals",
                        "shopDaySummary", "shopSaveReport", "shopStop"}) {
    TSpeedButtonEx* b = button(a);
    b->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    opRow->addWidget(b, column / kOperationColumns, column % kOperationColumns);
    ++column;
  }
  auto* jobsBox = new QHBoxLayout;
  jobsBox->addWidget(jobsLabel);
  jobsBox->addWidget(jobs_);
  jobsBox->addStretch(1);
  opRow->addLayout(jobsBox, column / kOperationColumns, column % kOperationColumns);
  opRow->setColumnStretch(kOperationColumns, 1);
  layout->addLayout(opRow);

  auto* split = new QSplitter(Qt::Vertical, this);
  split->setObjectName("ShopSplitter");
  table_ = new QTableWidget(0, scColumns, split);
  table_->setObjectName("ShopGrid");
  table_->setAccessibleName(QString::fromUtf8("ККМ магазина"));
  QStringList captions;
  for (const TColumnDef& c : kColumns) captions << QString::fromUtf8(c.caption);
  table_->setHorizontalHeaderLabels(captions);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed |
                          QAbstractItemView::SelectedClicked);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setTabKeyNavigation(false);
  differences_ = new QPlainTextEdit(split);
  differences_->setObjectName("ShopDifferences");
  differences_->setReadOnly(true);
  differences_->setAccessibleName(QString::fromUtf8("Отличия ККМ от файла"));
  differences_->setPlaceholderText(
      QString::fromUtf8("Здесь показаны отличия выбранной ККМ от файла после \"Сравнить с файлом...\""));
  split->addWidget(table_);
  split->addWidget(differences_);
  split->setStretchFactor(0, 4);
  split->setStretchFactor(1, 1);
  layout->addWidget(split, 1);

  connect(table_, &QTableWidget::cellChanged, this, &TShopPage::TableEdited);
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int col) {
    if (!kColumns[col].editable || Running()) OpenRegister(row);
  });
  connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
    ShowDifferences();
    UpdateActions();
  });
}

void TShopPage::WireActions() {
  const auto on = [this](const char* name, auto handler) {
    QAction* a = host_.Action(name);
    if (a != nullptr) connect(a, &QAction::triggered, this, handler);
  };
  on("shopOpenList", [this] {
    const QString path = Choose(TFileAsk::Open, "Открыть список ККМ", QString::fromUtf8(kFleetFilter));
    if (!path.isEmpty()) OpenList(path);
  });
  on("shopSaveList", [this] {
    const QString path = Choose(TFileAsk::Save, "Сохранить список ККМ", QString::fromUtf8(kFleetFilter));
    if (!path.isEmpty()) SaveList(path);
  });
  on("shopAddRegister", [this] { AddRegister(); });
  on("shopRemoveRegister", [this] { RemoveRegisters(); });
  on("shopPoll", [this] { Poll(); });
  on("shopAddFound", [this] { AddFound(); });
  on("shopCompare", [this] {
    const QString path = Choose(TFileAsk::Open, "Сравнить с файлом", QString::fromUtf8(kConfigFilter));
    if (!path.isEmpty()) Compare(path);
  });
  on("shopApplyConfig", [this] {
    const QString path = Choose(TFileAsk::Open, "Записать настройки из файла", QString::fromUtf8(kConfigFilter));
    if (!path.isEmpty()) ApplyConfig(path);
  });
  on("shopWriteGoods", [this] {
    const QString path = Choose(TFileAsk::Open, "Записать товары из файла", QString::fromUtf8(kGoodsFilter));
    if (!path.isEmpty()) WriteGoods(path);
  });
  on("shopReadJournals", [this] {
    const QString folder = Choose(TFileAsk::Folder, "Считать журналы в папку", {});
    if (!folder.isEmpty()) ReadJournals(folder);
  });
  on("shopDaySummary", [this] {
    // The journals now, or the files of an earlier read.
    const QueryButton answer = QueryYesNoCancel(
        "Считать журналы выбранных ККМ сейчас? \"Нет\" - взять сохраненные журналы из папки", false, false,
        QueryButton::Yes);
    if (answer == QueryButton::Cancel) return;
    const QString folder =
        Choose(TFileAsk::Folder,
               answer == QueryButton::Yes ? "Папка для журналов" : "Папка с сохраненными журналами", {});
    if (folder.isEmpty()) return;
    if (answer == QueryButton::No) {
      ShowDaySummary(folder);
      return;
    }
    ReadJournals(folder);
    if (!Running()) return;
    // The table once the read has ended.
    auto once = std::make_shared<QMetaObject::Connection>();
    *once = connect(this, &TShopPage::operationFinished, this, [this, folder, once] {
      disconnect(*once);
      ShowDaySummary(folder);
    });
  });
  on("shopSaveReport", [this] {
    const QString path = Choose(TFileAsk::Save, "Сохранить отчет", QString::fromUtf8(kReportFilter));
    if (!path.isEmpty()) SaveReport(path);
  });
  on("shopStop", [this] { Stop(); });
  const std::vector<std::pair<const char*, const char*>> tips = {
      {"shopOpenList", "Открывает файл со списком ККМ магазина (формат zarvikctl fleet)"},
      {"shopSaveList", "Сохраняет список ККМ в файл"},
      {"shopAddRegister", "Добавляет строку ККМ в список"},
      {"shopRemoveRegister", "Удаляет выбранные ККМ из списка"},
      {"shopAddFound", "Ищет ККМ на всех портах и добавляет найденные"},
      {"shopPoll", "Опознает выбранные ККМ (все, если ни одна не выбрана)"},
      {"shopCompare", "Сравнивает настройки выбранных ККМ с файлом настроек"},
      {"shopApplyConfig", "Записывает настройки из файла в выбранные ККМ (с резервной копией)"},
      {"shopWriteGoods", "Записывает товары из файла DBF или CSV в выбранные ККМ"},
      {"shopReadJournals", "Считывает журналы выбранных ККМ в файлы по серийным номерам"},
      {"shopDaySummary", "Сводка дня: чеки, выручка, возвраты и нумерация чеков всех ККМ"},
      {"shopSaveReport", "Сохраняет отчет последней операции в CSV или JSON"},
      {"shopStop", "Останавливает все ККМ на следующей записи (F8)"},
  };
  for (const auto& [name, tip] : tips)
    if (QAction* a = host_.Action(name)) a->setToolTip(QString::fromUtf8(tip));
}

QString TShopPage::Choose(TFileAsk kind, const char* title, const QString& filter) {
  const QString caption = QString::fromUtf8(title);
  if (chooseFile) return chooseFile(kind, caption, filter);
  const QString start = listPath_.isEmpty() ? QDir::currentPath() : QFileInfo(listPath_).absolutePath();
  switch (kind) {
    case TFileAsk::Open: return QFileDialog::getOpenFileName(this, caption, start, filter);
    case TFileAsk::Save: return QFileDialog::getSaveFileName(this, caption, start, filter);
    case TFileAsk::Folder: return QFileDialog::getExistingDirectory(this, caption, start);
  }
  return {};
}

void TShopPage::UpdateActions() {
  const bool running = Running();
  const bool any = !registers_.empty();
  const auto set = [this](const char* name, bool on) { host_.SetActionEnabled(name, on); };
  for (const char* name : {"shopOpenList", "shopAddRegister"}) set(name, !running);
  set("shopSaveList", !running && any);
  set("shopRemoveRegister", !running && any && !table_->selectionModel()->selectedRows().isEmpty());
  set("shopAddFound", !running);
  for (const char* name : {"shopPoll", "shopCompare", "shopWriteGoods", "shopReadJournals", "shopDaySummary"})
    set(name, !running && any);
  set("shopApplyConfig", !running && any && !host_.ConfigStop());
  set("shopSaveReport", !running && any);
  set("shopStop", running);
  jobs_->setEnabled(!running);
}

// ---------------------------------------------------------------------------
// The list

bool TShopPage::OpenList(const QString& path) {
  const std::string file = path.toStdString();
  std::string bytes;
  if (!ReadTextFile(file, bytes)) {
    Error("Не удалось прочитать файл " + file, true, true, true);
    return false;
  }
  // Code page 1251 as ZarvikConfig.ini, or UTF-8 as zarvikctl fleet reads it.
  const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; });
  const TIniFile ini = !ascii && IsUtf8Text(bytes) ? TIniFile::FromText(bytes) : TIniFile(file);
  if (!ini.Problem().empty()) {
    Error(ini.Problem(), true, true, true);
    return false;
  }
  std::vector<TShopRegister> list;
  std::vector<std::string> problems;
  std::set<std::string> names;
  for (const std::string& section : ini.ReadSections()) {
    if (!names.insert(Utf8Lower(section)).second) {
      problems.push_back("[" + section + "] встречается дважды");
      continue;
    }
    TShopRegister r;
    r.name = section;
    const auto number = [&](const char* key, std::int64_t low, std::int64_t high, int& out) {
      if (!ini.ValueExists(section, key)) return;
      std::int64_t v = 0;
      const std::string text = ini.ReadString(section, key, "");
      if (ParseInteger(text, low, high, v)) {
        out = static_cast<int>(v);
      } else {
        problems.push_back("[" + section + "] " + key + "=" + text + ": не число " + std::to_string(low) + ".." +
                           std::to_string(high));
      }
    };
    number("port", kMinPortNumber, kMaxPortNumber, r.port);
    number("speed", 1, INT_MAX, r.speed);
    number("net", kLowestNet, kHighestNet, r.net);
    if (r.port == 0) problems.push_back("[" + section + "] нет port=");
    r.expected = ini.ReadString(section, "serial", "");
    list.push_back(std::move(r));
  }
  if (!problems.empty()) {
    std::string text = "Список ККМ " + file + " не открыт:";
    for (const std::string& p : problems) text += "\n" + p;
    Error(text, true, true, true);
    return false;
  }
  registers_ = std::move(list);
  listPath_ = QFileInfo(path).absoluteFilePath();
  lListPath->setText(listPath_);
  Refill();
  Mess("Открыт список ККМ " + file + ": " + std::to_string(registers_.size()) + " ККМ", false, true, true);
  UpdateActions();
  return true;
}

bool TShopPage::SaveList(const QString& path) {
  // UTF-8, which zarvikctl fleet reads as well as code page 1251.
  std::string text;
  for (const TShopRegister& r : registers_) {
    text += "[" + r.name + "]\r\nport=" + std::to_string(r.port) + "\r\n";
    if (r.speed > 0) text += "speed=" + std::to_string(r.speed) + "\r\n";
    if (r.net > 0) text += "net=" + std::to_string(r.net) + "\r\n";
    if (!r.expected.empty()) text += "serial=" + r.expected + "\r\n";
  }
  const std::string file = path.toStdString();
  if (!WriteTextFile(file, text)) {
    Error("Не удалось записать файл " + file, true, true, true);
    return false;
  }
  listPath_ = QFileInfo(path).absoluteFilePath();
  lListPath->setText(listPath_);
  Mess("Список ККМ сохранен в " + file, false, true, true);
  return true;
}

void TShopPage::LoadSettings(const TIniFile& file) {
  const std::string path = file.ReadString(kFleetSection, kFleetFileKey, "");
  if (path.empty()) return;
  if (!QFileInfo::exists(QString::fromStdString(path))) {
    Warning("Список ККМ " + path + " не найден", false, true, true);
    return;
  }
  OpenList(QString::fromStdString(path));
}

void TShopPage::SaveSettings(TIniFile& file) const {
  if (!listPath_.isEmpty()) file.WriteString(kFleetSection, kFleetFileKey, listPath_.toStdString());
}

void TShopPage::Refill() {
  filling_ = true;
  table_->setRowCount(static_cast<int>(registers_.size()));
  for (int row = 0; row < static_cast<int>(registers_.size()); ++row) ShowRow(row);
  filling_ = false;
  table_->resizeColumnsToContents();
}

void TShopPage::ShowRow(int row) {
  const TShopRegister& r = registers_[static_cast<std::size_t>(row)];
  const bool wasFilling = filling_;
  filling_ = true;
  const auto number = [](int v) { return v > 0 ? QString::number(v) : QString(); };
  const QString cells[scColumns] = {
      QString::fromStdString(r.name),   number(r.port),
      QString::fromStdString(r.port > 0 ? PortDevicePath(r.port) : std::string()),
      number(r.speed),                  number(r.net),
      QString::fromStdString(r.expected), QString::fromStdString(r.serial),
      QString::fromStdString(r.model),  QString::fromStdString(r.state),
      QString::fromStdString(r.progress), QString::fromStdString(r.result),
      QString::fromStdString(r.time),
  };
  for (int c = 0; c < scColumns; ++c) {
    QTableWidgetItem* item = table_->item(row, c);
    if (item == nullptr) {
      item = new QTableWidgetItem;
      if (!kColumns[c].editable) item->setFlags(item->flags() & ~Qt::ItemIsEditable);
      table_->setItem(row, c, item);
    }
    if (item->text() != cells[c]) item->setText(cells[c]);
  }
  filling_ = wasFilling;
}

void TShopPage::TableEdited(int row, int column) {
  if (filling_ || row < 0 || row >= static_cast<int>(registers_.size())) return;
  TShopRegister& r = registers_[static_cast<std::size_t>(row)];
  const std::string text = table_->item(row, column)->text().trimmed().toStdString();
  std::int64_t v = 0;
  const auto number = [&](std::int64_t low, std::int64_t high, int& out, const char* what) {
    if (text.empty()) {
      out = 0;
    } else if (ParseInteger(text, low, high, v)) {
      out = static_cast<int>(v);
    } else {
      Error(std::string(what) + " " + text + ": не число " + std::to_string(low) + ".." + std::to_string(high),
            true, true, true);
    }
  };
  switch (column) {
    case scName:
      if (!text.empty()) r.name = text;
      break;
    case scPort: number(kMinPortNumber, kMaxPortNumber, r.port, "Порт"); break;
    case scSpeed:
      number(1, INT_MAX, r.speed, "Скорость");
      if (r.speed > 0 && !IsAllowedBaudRate(static_cast<std::uint32_t>(r.speed))) {
        Error("Скорость " + text + " не поддерживается портом", true, true, true);
        r.speed = 0;
      }
      break;
    case scNet: number(kLowestNet, kHighestNet, r.net, "Сетевой номер"); break;
    case scExpected: r.expected = text; break;
    default: break;
  }
  ShowRow(row);
}

void TShopPage::AddRegister() {
  TShopRegister r;
  std::set<std::string> names;
  for (const TShopRegister& o : registers_) names.insert(Utf8Lower(o.name));
  for (int n = static_cast<int>(registers_.size()) + 1;; ++n) {
    r.name = "касса " + std::to_string(n);
    if (names.count(r.name) == 0) break;
  }
  r.port = kMinPortNumber;
  registers_.push_back(std::move(r));
  Refill();
  table_->setCurrentCell(static_cast<int>(registers_.size()) - 1, scName);
  UpdateActions();
}

void TShopPage::RemoveRegisters() {
  if (Running()) return;
  std::vector<int> rows;
  for (const QModelIndex& i : table_->selectionModel()->selectedRows()) rows.push_back(i.row());
  std::sort(rows.rbegin(), rows.rend());
  for (const int row : rows)
    if (row >= 0 && row < static_cast<int>(registers_.size()))
      registers_.erase(registers_.begin() + row);
  Refill();
  UpdateActions();
}

std::vector<int> TShopPage::TargetRows() const {
  std::vector<int> rows;
  for (const QModelIndex& i : table_->selectionModel()->selectedRows()) rows.push_back(i.row());
  std::sort(rows.begin(), rows.end());
  if (rows.empty())
    for (int row = 0; row < static_cast<int>(registers_.size()); ++row) rows.push_back(row);
  return rows;
}

void TShopPage::OpenRegister(int row) {
  if (row < 0 || row >= static_cast<int>(registers_.size()) || host_.RegisterBusy()) return;
  const TShopRegister& r = registers_[static_cast<std::size_t>(row)];
  auto* panel = host_.PanelMenu();
  auto* ports = panel->findChild<QComboBox*>("cbComPort");
  auto* speeds = panel->findChild<QComboBox*>("cbSpeedPort");
  auto* nets = panel->findChild<QComboBox*>("cbNetNum");
  if (ports == nullptr) return;
  const QString key = QStringLiteral("COM%1").arg(r.port);
  int index = -1;
  for (int i = 0; i < ports->count(); ++i) {
    const QString text = ports->itemText(i);
    if (text == key || text.startsWith(key + QLatin1Char(' '))) index = i;
  }
  if (index < 0) {
    Error("Порт " + key.toStdString() + " не найден в списке портов", true, true, true);
    return;
  }
  if (host_.RegisterPort().IsOpen()) host_.ToggleConnection();
  ports->setCurrentIndex(index);
  if (speeds != nullptr && r.speed > 0) {
    const int s = speeds->findText(QString::number(r.speed));
    if (s >= 0) speeds->setCurrentIndex(s);
  }
  if (nets != nullptr && r.net > 0) {
    const int n = nets->findText(QString::number(r.net));
    if (n >= 0) nets->setCurrentIndex(n);
  }
  host_.SelectPage(pgConfig);
  host_.EnsureConnected();
}

// ---------------------------------------------------------------------------
// The operations

bool TShopPage::Running() const {
  return portLister_ != nullptr || !finders_.empty() ||
         std::any_of(running_.begin(), running_.end(), [](const auto& j) { return !j->ended; });
}

void TShopPage::AddFound() {
  if (Running()) return;
  if (worker_.isEmpty()) {
    Error("не найдена программа zarvikctl рядом с программой", true, true, true);
    return;
  }
  // The port list is made by a worker too: probing a network line takes
  // its time, which the window does not wait for.
  stopping_ = false;
  found_ = 0;
  portLister_ = new QProcess(this);
  portLister_->setProgram(worker_);
  portLister_->setArguments({"ports", "--csv"});
  portLister_->setStandardInputFile(QProcess::nullDevice());
  connect(portLister_, &QProcess::finished, this, [this] {
    const QStringList lines = QString::fromUtf8(portLister_->readAllStandardOutput()).split(QLatin1Char('\n'));
    portLister_->deleteLater();
    portLister_ = nullptr;
    std::set<int> listed;
    for (const TShopRegister& r : registers_) listed.insert(r.port);
    // The window's own connection holds its port.
    if (host_.RegisterPort().IsOpen()) listed.insert(host_.RegisterPort().PortNumber());
    std::vector<int> ports;
    for (const QString& line : lines) {
      if (!line.startsWith(QStringLiteral("COM"))) continue;
      // Only the free ports: a busy one is another program's.
      const QString state = line.section(QLatin1Char(';'), 3, 3);
      if (!state.startsWith(QString::fromUtf8("свободен")) && !state.startsWith(QString::fromUtf8("доступен по сети")))
        continue;
      bool ok = false;
      const int n = line.section(QLatin1Char(';'), 0, 0).mid(3).toInt(&ok);
      if (ok && listed.count(n) == 0) ports.push_back(n);
    }
    if (ports.empty() || stopping_) {
      Mess("Добавить найденные: нет портов, которых нет в списке", false, true, true);
      UpdateActions();
      emit operationFinished();
      return;
    }
    FindOnPorts(ports);
  });
  UpdateActions();
  Mess("Магазин: поиск ККМ на портах", false, true, true);
  portLister_->start();
}

void TShopPage::FindOnPorts(const std::vector<int>& ports) {
  findQueue_ = ports;
  const auto next = [this] {
    while (!findQueue_.empty() && !stopping_ && static_cast<int>(finders_.size()) < jobs_->value()) {
      const int port = findQueue_.front();
      findQueue_.erase(findQueue_.begin());
      auto* p = new QProcess(this);
      p->setProgram(worker_);
      p->setArguments({"find", QString::number(port), "--csv"});
      p->setStandardInputFile(QProcess::nullDevice());
      p->setChildProcessModifier([] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      });
      connect(p, &QProcess::finished, this, [this, p, port] { FinderEnded(p, port); });
      finders_.emplace_back(p, port);
      p->start();
    }
  };
  next();
  findNext_ = next;
}

void TShopPage::FinderEnded(QProcess* process, int port) {
  const QStringList lines = QString::fromUtf8(process->readAllStandardOutput()).split(QLatin1Char('\n'));
  finders_.erase(std::remove_if(finders_.begin(), finders_.end(), [&](const auto& f) { return f.first == process; }),
                 finders_.end());
  process->deleteLater();
  // "COMn;DEVICE;SPEED;ККМ;MODEL № SERIAL, версия VERSION"
  for (const QString& line : lines) {
    const QStringList cells = line.trimmed().split(QLatin1Char(';'));
    if (cells.size() < 5 || cells[3] != QString::fromUtf8("ККМ")) continue;
    TShopRegister r;
    std::set<std::string> names;
    for (const TShopRegister& o : registers_) names.insert(Utf8Lower(o.name));
    for (int n = static_cast<int>(registers_.size()) + 1;; ++n) {
      r.name = "касса " + std::to_string(n);
      if (names.count(r.name) == 0) break;
    }
    r.port = port;
    r.speed = cells[2].toInt();
    const QString detail = cells.mid(4).join(QLatin1Char(';'));
    const qsizetype mark = detail.indexOf(QString::fromUtf8(" № "));
    if (mark > 0) {
      r.model = detail.left(mark).toStdString();
      r.serial = detail.mid(mark + 3).section(QLatin1Char(','), 0, 0).trimmed().toStdString();
      r.expected = r.serial;
    }
    r.state = kShopStateOnline;
    r.result = "найдена: " + detail.toStdString();
    r.time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString();
    registers_.push_back(std::move(r));
    ++found_;
    Refill();
    break;
  }
  if (findNext_) findNext_();
  if (finders_.empty() && (findQueue_.empty() || stopping_)) {
    findQueue_.clear();
    findNext_ = nullptr;
    Mess("Добавлено найденных ККМ: " + std::to_string(found_), false, true, true);
    UpdateActions();
    emit operationFinished();
  }
}

void TShopPage::Poll() {
  Start(TOp::Poll, TargetRows(), {"info", "--csv"});
}

void TShopPage::Compare(const QString& path) {
  Start(TOp::Compare, TargetRows(), {"config", "diff", path});
}

void TShopPage::ApplyConfig(const QString& path) {
  if (host_.ConfigStop()) return;
  std::string text;
  if (!ReadTextFile(path.toStdString(), text)) {
    Error("Не удалось прочитать файл " + path.toStdString(), true, true, true);
    return;
  }
  TConfigFile file;
  std::vector<TConfigError> errors;
  if (!ParseConfigText(text, file, errors)) {
    std::string all = "Файл " + path.toStdString() + " не принят:";
    for (const TConfigError& e : errors) all += "\n" + ConfigErrorText(e);
    Error(all, true, true, true);
    return;
  }
  const std::vector<int> rows = TargetRows();
  const std::string question = "Записать " + std::to_string(file.entries.size()) + " значений из файла " +
                               QFileInfo(path).fileName().toStdString() + " в " + std::to_string(rows.size()) +
                               " ККМ? Перед записью настройки каждой ККМ сохраняются в резервную копию.";
  if (QueryOkCancel(question, false, true, QueryButton::Cancel) != QueryButton::Ok) return;
  QStringList command{"config", "apply", path};
  if (!host_.WriteSafety().backup.enabled) command << "--no-backup";
  Start(TOp::Apply, rows, command);
}

void TShopPage::WriteGoods(const QString& path) {
  QStringList command{"goods", "write", path};
  if (!host_.WriteSafety().backup.enabled) command << "--no-backup";
  Start(TOp::Goods, TargetRows(), command);
}

void TShopPage::ReadJournals(const QString& folder) {
  EnsureFolder(folder.toStdString());
  if (!QFileInfo(folder).isDir()) {
    Error("Не удалось создать папку " + folder.toStdString(), true, true, true);
    return;
  }
  Start(TOp::Journals, TargetRows(), {"journal", "read", "--data"}, folder);
}

void TShopPage::Start(TOp op, const std::vector<int>& rows, const QStringList& command, const QString& outDir) {
  if (Running() || rows.empty()) return;
  if (worker_.isEmpty()) {
    Error("не найдена программа zarvikctl рядом с программой", true, true, true);
    return;
  }
  // Two workers on one device would talk over each other.
  std::map<std::string, std::string> devices;
  for (const int row : rows) {
    const TShopRegister& r = registers_[static_cast<std::size_t>(row)];
    const std::string device = r.port > 0 ? PortDevicePath(r.port) : std::string();
    if (device.empty()) {
      Error("[" + r.name + "] порт " + std::to_string(r.port) + " без устройства", true, true, true);
      return;
    }
    const auto [it, fresh] = devices.emplace(device, r.name);
    if (!fresh) {
      Error("[" + r.name + "] и [" + it->second + "] указывают одно устройство " + device, true, true, true);
      return;
    }
  }
  // The window's own connection holds its port: a register of the list on
  // that port is given to its worker.
  if (host_.RegisterPort().IsOpen()) {
    const std::string own = PortDevicePath(host_.RegisterPort().PortNumber());
    if (devices.count(own) != 0) {
      if (host_.RegisterBusy()) {
        Error("Порт " + own + " занят обменом окна с ККМ", true, true, true);
        return;
      }
      Mess("Отключаемся от ККМ: порт " + own + " нужен ККМ [" + devices[own] + "]", false, true, true);
      host_.ToggleConnection();
    }
  }
  op_ = op;
  // What the messages call the operation: its caption, and the file or folder.
  const auto caption = [this](const char* action) {
    QAction* a = host_.Action(action);
    return a == nullptr ? QString() : a->text().remove(QStringLiteral("..."));
  };
  switch (op) {
    case TOp::Poll: opText_ = caption("shopPoll"); break;
    case TOp::Compare: opText_ = caption("shopCompare") + QLatin1Char(' ') + command.value(2); break;
    case TOp::Apply: opText_ = caption("shopApplyConfig") + QLatin1Char(' ') + command.value(2); break;
    case TOp::Goods: opText_ = caption("shopWriteGoods") + QLatin1Char(' ') + command.value(2); break;
    case TOp::Journals: opText_ = caption("shopReadJournals") + QLatin1Char(' ') + outDir; break;
  }
  outDir_ = outDir;
  stopping_ = false;
  running_.clear();
  opStart_ = std::chrono::steady_clock::now();
  for (const int row : rows) {
    auto job = std::make_unique<TJob>();
    job->row = row;
    TShopRegister& r = registers_[static_cast<std::size_t>(row)];
    r.state = kShopStateWaiting;
    r.progress.clear();
    r.output.clear();
    ShowRow(row);
    running_.push_back(std::move(job));
  }
  UpdateActions();
  Mess("Магазин: " + opText_.toStdString() + " на " + std::to_string(rows.size()) + " ККМ", false, true, true);
  command_ = command;
  Launch();
}

void TShopPage::Launch() {
  int active = 0;
  for (const auto& job : running_) active += job->started && !job->ended ? 1 : 0;
  for (const auto& holder : running_) {
    TJob& job = *holder;
    if (job.started || job.ended) continue;
    if (stopping_) {
      // Not started once a stop was asked for.
      job.ended = true;
      TShopRegister& r = registers_[static_cast<std::size_t>(job.row)];
      r.state = kShopStateStopped;
      r.result = "не запущена";
      r.time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString();
      ShowRow(job.row);
      continue;
    }
    if (active >= jobs_->value()) break;
    const TShopRegister& r = registers_[static_cast<std::size_t>(job.row)];
    QStringList args{"--fleet-worker", QString::fromStdString(r.name), "--port", QString::number(r.port)};
    if (r.speed > 0) args << "--speed" << QString::number(r.speed);
    if (r.net > 0) args << "--net" << QString::number(r.net);
    if (!r.expected.empty()) args << "--serial" << QString::fromStdString(r.expected);
    args << command_;
    if (host_.ConfigStop()) args << "CONFIG_STOP";
    if (op_ == TOp::Journals) {
      job.outTemp = JoinPath(outDir_.toStdString(), ".shop" + std::to_string(::getpid()) + "_" +
                                                         std::to_string(job.row + 1) + ".part.txt");
      args << "--out" << QString::fromStdString(job.outTemp);
    }
    auto* p = new QProcess(this);
    job.process = p;
    p->setProgram(worker_);
    p->setArguments(args);
    p->setStandardInputFile(QProcess::nullDevice());
    // A worker never outlives the window, and Ctrl-C of the window's
    // terminal reaches the window alone, which stops the workers itself. The
    // workers wait on their lines most of the time; what they compute gives
    // way to the window, which keeps painting when they all start at once.
    p->setChildProcessModifier([] {
      ::setpgid(0, 0);
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      [[maybe_unused]] const int niceness = ::nice(kWorkerNice);
    });
    TJob* j = &job;
    connect(p, &QProcess::readyReadStandardOutput, this, [this, j] { WorkerOutput(*j, false); });
    connect(p, &QProcess::readyReadStandardError, this, [this, j] { WorkerOutput(*j, true); });
    connect(p, &QProcess::finished, this, [this, j](int code, QProcess::ExitStatus status) {
      WorkerEnded(*j, code, status == QProcess::CrashExit);
    });
    connect(p, &QProcess::errorOccurred, this, [this, j](QProcess::ProcessError e) {
      if (e == QProcess::FailedToStart) {
        j->message = "не удалось запустить zarvikctl";
        WorkerEnded(*j, -1, true);
      }
    });
    job.started = true;
    ++active;
    TShopRegister& shown = registers_[static_cast<std::size_t>(job.row)];
    shown.state = kShopStateRunning;
    ShowRow(job.row);
    p->start();
  }
  if (!Running()) {
    UpdateActions();
    table_->resizeColumnsToContents();
    const auto ok = std::count_if(running_.begin(), running_.end(), [this](const auto& j) {
      const std::string& s = registers_[static_cast<std::size_t>(j->row)].state;
      return s == kShopStateDone || s == kShopStateOnline;
    });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - opStart_).count();
    char took[32];
    std::snprintf(took, sizeof took, "%.1f", seconds);
    Mess("Выполнено на " + std::to_string(ok) + " из " + std::to_string(running_.size()) + " ККМ за " + took +
             " с: " + opText_.toStdString(),
         false, true, true);
    emit operationFinished();
  }
}

void TShopPage::WorkerOutput(TJob& job, bool error) {
  if (job.process == nullptr) return;
  const QByteArray bytes = error ? job.process->readAllStandardError() : job.process->readAllStandardOutput();
  std::string& b = job.lineBuf[error ? 1 : 0];
  b.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  for (std::size_t nl; (nl = b.find('\n')) != std::string::npos;) {
    std::string line = b.substr(0, nl);
    b.erase(0, nl + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    WorkerLine(job, line, error);
  }
}

void TShopPage::WorkerLine(TJob& job, const std::string& line, bool error) {
  TShopRegister& r = registers_[static_cast<std::size_t>(job.row)];
  if (!error) {
    if (line.empty()) return;
    r.output.push_back(line);
    if (op_ == TOp::Poll) {
      // info --csv: "Модель;VALUE".
      const std::string key = "Модель;";
      if (line.rfind(key, 0) == 0) {
        r.model = line.substr(key.size());
        ShowRow(job.row);
      }
    }
    return;
  }
  if (line.rfind(kFleetMark, 0) == 0) {
    const std::string rest = line.substr(kFleetMark.size());
    const std::size_t sp = rest.find(' ');
    const std::string kind = rest.substr(0, sp);
    const std::string text = sp == std::string::npos ? std::string() : rest.substr(sp + 1);
    if (kind == "serial") {
      r.serial = text;
      job.answered = true;
    } else if (kind == "progress") {
      // "LABEL DONE TOTAL"
      std::string label = text;
      std::string counts;
      const std::size_t a = text.rfind(' ');
      if (a != std::string::npos && a > 0) {
        const std::size_t b = text.rfind(' ', a - 1);
        if (b != std::string::npos) {
          label = text.substr(0, b);
          const std::string done = text.substr(b + 1, a - b - 1);
          const std::string total = text.substr(a + 1);
          counts = total == "0" ? (done == "0" ? "" : done) : done + "/" + total;
        }
      }
      r.progress = counts.empty() ? label : label + " " + counts;
    } else if (kind == "done") {
      job.what = text;
    } else if (kind == "refused") {
      job.refused = text;
    } else if (kind == "stopped") {
      job.message = text;
    }
    ShowRow(job.row);
    return;
  }
  std::string t = line;
  while (!t.empty() && (t.back() == '\r' || t.back() == ' ')) t.pop_back();
  if (t.empty() || t.front() == '\r') return;
  if (t.rfind("Error:", 0) == 0 || job.message.empty()) job.message = t;
}

void TShopPage::WorkerEnded(TJob& job, int exitCode, bool crashed) {
  if (job.ended) return;
  if (job.process != nullptr) {
    WorkerOutput(job, false);
    WorkerOutput(job, true);
    for (int k = 0; k < 2; ++k)
      if (!job.lineBuf[k].empty()) WorkerLine(job, std::exchange(job.lineBuf[k], {}), k == 1);
  }
  job.ended = true;
  TShopRegister& r = registers_[static_cast<std::size_t>(job.row)];
  const bool foreign = job.answered && !r.expected.empty() && r.serial != r.expected;
  if (crashed) {
    r.state = kShopStateFailed;
    r.result = job.message.empty() ? "zarvikctl завершилась аварийно" : job.message;
  } else if (exitCode == 0) {
    r.state = op_ == TOp::Poll ? kShopStateOnline : kShopStateDone;
    r.result = job.what;
  } else if (exitCode == kExitInterrupted) {
    r.state = kShopStateStopped;
    r.result = job.message;
  } else if (foreign) {
    r.state = kShopStateForeign;
    r.result = "ответила ККМ " + r.serial + ", ожидалась " + r.expected + ": ничего не записано";
  } else if (!job.answered && job.what.empty()) {
    // The register never answered its identification.
    r.state = kShopStateNoLink;
    r.result = job.message;
  } else {
    r.state = kShopStateFailed;
    r.result = job.refused.empty() ? (job.message.empty() ? job.what : job.message) : job.refused;
  }
  if (op_ == TOp::Compare && !crashed && r.state != kShopStateForeign && r.state != kShopStateNoLink &&
      !job.what.empty()) {
    // config diff ends with status 2 for a file the register refuses; the
    // count of differing values is what it says.
    r.result = job.what;
    if (exitCode == 0) r.state = kShopStateDone;
  }
  if (op_ == TOp::Journals && !job.outTemp.empty()) {
    std::error_code ec;
    if (r.state == kShopStateDone && std::filesystem::exists(job.outTemp, ec)) {
      const std::string stem = FileNamePart(r.serial.empty() ? r.name : r.serial);
      std::string path = JoinPath(outDir_.toStdString(), stem + ".txt");
      const auto taken = [&](const std::string& p) {
        return std::any_of(running_.begin(), running_.end(), [&](const auto& o) {
          return o.get() != &job && registers_[static_cast<std::size_t>(o->row)].result == p;
        });
      };
      for (int n = 2; taken(path); ++n) path = JoinPath(outDir_.toStdString(), stem + "_" + std::to_string(n) + ".txt");
      std::filesystem::rename(job.outTemp, path, ec);
      if (ec) {
        r.state = kShopStateFailed;
        r.result = "не удалось переименовать " + job.outTemp + ": " + ec.message();
      } else {
        r.result = path;
      }
    } else {
      if (r.state == kShopStateDone) {
        r.state = kShopStateFailed;
        r.result = "не записан файл " + job.outTemp;
      }
      std::filesystem::remove(job.outTemp, ec);
    }
  }
  r.progress.clear();
  r.time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString();
  ShowRow(job.row);
  Mess("[" + r.name + "] " + r.state + (r.result.empty() ? "" : ": " + r.result), false, true, true);
  if (job.process != nullptr) {
    job.process->disconnect(this);
    job.process->deleteLater();
  }
  job.process = nullptr;
  if (table_->currentRow() == job.row) ShowDifferences();
  Launch();
}

void TShopPage::Stop() {
  if (!Running()) return;
  stopping_ = true;
  Mess("Магазин: остановка всех ККМ", false, true, true);
  for (const auto& [process, port] : finders_)
    if (const qint64 pid = process->processId(); pid > 0) ::kill(static_cast<pid_t>(pid), SIGINT);
  for (const auto& job : running_) {
    if (job->started && !job->ended && job->process != nullptr) {
      const qint64 pid = job->process->processId();
      // As Ctrl-C of zarvikctl: the worker stops at its next record.
      if (pid > 0) ::kill(static_cast<pid_t>(pid), SIGINT);
    }
  }
  Launch();
}

void TShopPage::ShowDifferences() {
  const int row = table_->currentRow();
  if (row < 0 || row >= static_cast<int>(registers_.size()) || op_ != TOp::Compare) {
    differences_->clear();
    return;
  }
  const TShopRegister& r = registers_[static_cast<std::size_t>(row)];
  QString text = QString::fromStdString(r.name) + ": " + QString::fromStdString(r.result) + "\n";
  for (const std::string& line : r.output) text += QString::fromStdString(line) + "\n";
  differences_->setPlainText(text);
}

bool TShopPage::SaveReport(const QString& path) {
  const std::string file = path.toStdString();
  std::vector<const TShopRegister*> rows;
  for (const auto& job : running_) rows.push_back(&registers_[static_cast<std::size_t>(job->row)]);
  std::string text;
  if (Has(file, ".json")) {
    text = "{\n  \"operation\": " + JsonText(opText_.toStdString()) +
           ",\n  \"command\": " + JsonText(command_.join(QLatin1Char(' ')).toStdString()) + ",\n  \"registers\": [\n";
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const TShopRegister& r = *rows[i];
      text += "    {\"name\": " + JsonText(r.name) + ", \"port\": " + std::to_string(r.port) +
              ", \"serial\": " + JsonText(r.serial) + ", \"expected_serial\": " + JsonText(r.expected) +
              ", \"model\": " + JsonText(r.model) + ", \"state\": " + JsonText(r.state) +
              ", \"result\": " + JsonText(r.result) + ", \"time\": " + JsonText(r.time) + "}" +
              (i + 1 < rows.size() ? ",\n" : "\n");
    }
    text += "  ]\n}\n";
  } else {
    // Semicolons and code page 1251, as the program's other CSV files.
    text = "Касса;Порт;Серийный №;Ожидался №;Модель;Состояние;Результат;Время\r\n";
    for (const TShopRegister* r : rows)
      text += CsvCell(r->name) + ";" + std::to_string(r->port) + ";" + CsvCell(r->serial) + ";" +
              CsvCell(r->expected) + ";" + CsvCell(r->model) + ";" + CsvCell(r->state) + ";" + CsvCell(r->result) +
              ";" + r->time + "\r\n";
    text = Utf8ToCp1251(text);
  }
  if (!WriteTextFile(file, text)) {
    Error("Не удалось записать файл " + file, true, true, true);
    return false;
  }
  Mess("Отчет сохранен в " + file, false, true, true);
  return true;
}

void TShopPage::ShowDaySummary(const QString& folder) {
  if (dayView_ == nullptr) dayView_ = new TShopDayView(this);
  std::vector<TShopJournal> journals;
  const QDir dir(folder);
  for (const QFileInfo& f : dir.entryInfoList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name)) {
    std::string bytes;
    if (!ReadTextFile(f.absoluteFilePath().toStdString(), bytes)) continue;
    const std::string stem = f.completeBaseName().toStdString();
    // The register of the fleet with that serial number names the row.
    std::string name = stem;
    for (const TShopRegister& r : registers_)
      if (!r.serial.empty() && FileNamePart(r.serial) == stem) name = r.name;
    journals.push_back({name, stem, JournalRecordLines(std::move(bytes))});
  }
  if (journals.empty()) {
    Error("В папке " + folder.toStdString() + " нет журналов (*.txt)", true, true, true);
    return;
  }
  dayView_->ShowTable(ShopDayDataTable(BuildShopDay(journals)));
  dayView_->show();
  dayView_->raise();
}

}  // namespace zarvik::ui
