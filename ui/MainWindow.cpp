#include "MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QToolButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <chrono>
#include <exception>
#include <limits>
#include <algorithm>
#include <thread>

#include "ActionList.h"
#include "ConsoleWidget.h"
#include "LineMonitor.h"
#include "NetPasswordDialog.h"
#include "PortListBox.h"
#include "SidePanel.h"
#include "SpeedButtonEx.h"
#include "UiHooksQt.h"
#include "WaitForm.h"
#include "pages/ConfigPage.h"
#include "pages/ConfigSysPage.h"
#include "pages/GoodsPage.h"
#include "pages/JournalPage.h"
#include "pages/ProfilePanel.h"
#include "pages/ScannerPanel.h"
#include "pages/ShopPage.h"
#include "shell/DiaLog.h"
#include "shell/IniFile.h"
#include "shell/ProjectsVars.h"
#include "shell/U_filedirwork.h"
#include "shell/U_language.h"
#include "shell/UserFiles.h"
#include "port/PortTable.h"
#include "store/ProfileStore.h"
#include "store/UnitBD.h"

#include <QCheckBox>
#include <filesystem>

namespace zarvik::ui {

namespace {

constexpr int kDefaultWidth = 1180;
constexpr int kDefaultHeight = 760;
constexpr int kTopBarHeight = 52;
constexpr int kConsoleMinimumWidth = 240;
// Where the window was and how big, kept between runs.
constexpr QMargins kFrameAllowance(4, 28, 4, 4);
// Keys of the window (the pages are Ctrl+1 .. Ctrl+5).
constexpr Qt::Key kFindKey = Qt::Key_F7;
constexpr Qt::Key kStopKey = Qt::Key_F8;
constexpr Qt::Key kConnectKey = Qt::Key_F9;
constexpr const char* kWindowSection = "Window";
constexpr const char* kWindowLeftKey = "Left";
constexpr const char* kWindowTopKey = "Top";
constexpr const char* kWindowWidthKey = "Width";
constexpr const char* kWindowHeightKey = "Height";
constexpr const char* kWindowMaximizedKey = "Maximized";

constexpr const char* kNetSection = "NET";
constexpr const char* kNetKey = "NUMBER";
constexpr int kDefaultNetworkNumber = 1;
constexpr const char* kScannerSection = "PortScan";
constexpr const char* kScannerEnabledKey = "ENABLED";
constexpr const char* kRegisterPortSection = "Port";
// The boxes that list the print fonts (receipt header, receipt footer, free text).
constexpr const char* kFontBoxes[] = {"cbDbTitleFont", "cbDbfooterFont", "cbFontText"};

// Longest stretch of a pause without processing the window's events.
constexpr std::chrono::milliseconds kPauseSlice{10};

void PauseProcessingEvents(std::chrono::milliseconds pause) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + pause;
  for (;;) {
    UiHooks().ProcessEvents();
    const auto left = end - Clock::now();
    if (left <= Clock::duration::zero()) return;
    std::this_thread::sleep_for(std::min<Clock::duration>(left, kPauseSlice));
  }
}

}  // namespace

TfmMain::TfmMain(int argc, char** argv, QWidget* parent)
    : QMainWindow(parent), kkm_(&registerPort_), protocol_(&kkm_) {
  setObjectName("fmMain");
  std::vector<std::string> all;
  for (int i = 0; i < argc; ++i) all.emplace_back(argv[i]);

  // The data module and the wait window come first: the pages bind their
  // grids to the working tables when they are built.
  bd_ = std::make_unique<TBD>();
  bd_->kkm = &kkm_;
  BD = bd_.get();
  profileStore_ = std::make_unique<TProfileStore>(*bd_);
  waitForm_ = std::make_unique<TWaitForm>();
  hooks_ = std::make_unique<QtUiHooks>();
  hooks_->SetWaitForm(waitForm_.get());
  SetUiHooks(hooks_.get());
  // The window keeps painting and answering during exchanges: the port's
  // waits for bytes and the link's pauses process its events in short
  // slices (what must not start meanwhile checks RegisterBusy).
  registerPort_.onIdle = [] { UiHooks().ProcessEvents(); };
  protocol_.sleep = [](std::chrono::milliseconds pause) { PauseProcessingEvents(pause); };
  // A command of an action the user stopped is not sent again after a
  // failed exchange.
  protocol_.stopRequested = [this] { return transfer_.transferStopRequested || searchStopRequested_; };

  // A network port with password authentication asks when it connects.
  InstallNetPasswordDialog(this);
  actions_ = new TActionList(this);
  BuildFrame();
  OpenWindow(all);
  BuildHelp(all);
}

TfmMain::~TfmMain() {
  SetConsole(nullptr);
  // The monitor stops listening before anything it shows goes away.
  delete lineMonitor_;
  lineMonitor_ = nullptr;
  // The pages go first: their grids and labels follow the data module's
  // tables, which are members and would be gone before the base class
  // deletes its children.
  delete takeCentralWidget();
  scannerPort_.Close();
  registerPort_.Close();
  InstallNetPasswordDialog(nullptr);
  SetUiHooks(nullptr);
  if (BD == bd_.get()) BD = nullptr;
}

QAction* TfmMain::Action(std::string_view name) {
  return actions_->Find(name);
}

void TfmMain::SetActionEnabled(std::string_view name, bool enabled) {
  actions_->SetEnabled(name, enabled);
}

QWidget* TfmMain::PanelMenu() {
  return side_;
}

void TfmMain::BuildFrame() {
  auto* central = new QWidget(this);
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);

  // Top bar: the maker's corner, the main menu as a toolbar, the title and
  // the console.
  auto* panel1 = new QFrame(central);
  panel1->setObjectName("Panel1");
  panel1->setFixedHeight(kTopBarHeight);
  panel1->setAutoFillBackground(true);
  QPalette barPalette = panel1->palette();
  barPalette.setColor(QPalette::Window, barPalette.color(QPalette::AlternateBase));
  panel1->setPalette(barPalette);
  auto* bar = new QHBoxLayout(panel1);
  bar->setContentsMargins(4, 2, 4, 2);
  auto* panel5 = new QFrame(panel1);
  panel5->setObjectName("Panel5");
  auto* maker = new QVBoxLayout(panel5);
  maker->setContentsMargins(2, 0, 8, 0);
  maker->setSpacing(0);
  for (const auto& [name, text] : {std::pair{"Label15", "KALVENT"}, std::pair{"Label18", "Кальвент"}}) {
    auto* l = new QLabel(QString::fromUtf8(text), panel5);
    l->setObjectName(name);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    TSidePanel::SetLabelColor(l, QColor(0x00, 0x80, 0x00));
    maker->addWidget(l);
  }
  bar->addWidget(panel5);

  auto* menuColumn = new QVBoxLayout;
  menuColumn->setSpacing(0);
  toolBar_ = new QToolBar(panel1);
  toolBar_->setObjectName("ToolBar");
  toolBar_->setMovable(false);
  toolBar_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  actions_->BuildMainMenu(toolBar_);
  // The button that shows the entries a narrow window has no room for.
  if (auto* more = toolBar_->findChild<QToolButton*>("qt_toolbar_ext_button")) {
    more->setAccessibleName(QString::fromUtf8("Другие пункты меню"));
    more->setToolTip(more->accessibleName());
  }
  menuColumn->addWidget(toolBar_);
  auto* label19 =
      new QLabel(QString::fromUtf8("Конфигуратор кассовых аппаратов и принтеров Зарвик (ККМ, ЧПМ)"), panel1);
  label19->setObjectName("Label19");
  // The title gives way on a narrow screen rather than widen the window.
  label19->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  label19->setMinimumWidth(0);
  TSidePanel::SetLabelColor(label19, QColor(0x80, 0x80, 0x80));
  menuColumn->addWidget(label19);
  bar->addLayout(menuColumn);
  bar->addStretch(1);

  console_ = new ConsoleWidget(panel1);
  console_->setObjectName("Console");
  console_->setAccessibleName(QString::fromUtf8("Консоль"));
  console_->setFrameShape(QFrame::NoFrame);
  console_->setMinimumWidth(kConsoleMinimumWidth);
  console_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  bar->addWidget(console_, 2);
  outer->addWidget(panel1);

  // Body: the side panel and the pages.
  auto* body = new QHBoxLayout;
  body->setContentsMargins(0, 0, 0, 0);
  body->setSpacing(0);
  side_ = new TSidePanel(central);
  side_->bConnect->SetAction(actions_->Find("aConnectDisConnect"));
  body->addWidget(side_);

  auto* right = new QVBoxLayout;
  right->setContentsMargins(0, 0, 0, 0);
  pages_ = new QTabWidget(central);
  pages_->setObjectName("MainPageControl");
  // The tabs are out of view: pages are chosen with the side panel only.
  pages_->tabBar()->hide();
  // The hidden tab row must not take the keyboard: Tab goes from the side
  // panel straight into the page.
  pages_->setFocusPolicy(Qt::NoFocus);
  pages_->tabBar()->setFocusPolicy(Qt::NoFocus);
  pages_->setDocumentMode(true);
  configPage_ = new TConfigPage(*this, pages_);
  goodsPage_ = new TGoodsPage(*this, pages_);
  journalPage_ = new TJournalPage(*this, pages_);
  configSysPage_ = new TConfigSysPage(*this, pages_);
  shopPage_ = new TShopPage(*this, pages_);
  // Each page scrolls when the window is smaller than the page needs, so
  // that a small screen cuts nothing off and the window never grows past it.
  const auto scrolled = [this](QWidget* page) {
    auto* area = new QScrollArea(pages_);
    area->setObjectName(page->objectName() + QStringLiteral("Scroll"));
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setWidget(page);
    return area;
  };
  pages_->addTab(scrolled(configPage_), QString::fromUtf8("Настройка ККМ"));
  pages_->addTab(scrolled(goodsPage_), QString::fromUtf8("Товары и Услуги"));
  pages_->addTab(scrolled(journalPage_), QString::fromUtf8("Электронный журнал"));
  pages_->addTab(scrolled(configSysPage_), QString::fromUtf8("Настройки конфигуратора"));
  pages_->addTab(scrolled(shopPage_), QString::fromUtf8("Магазин"));
  right->addWidget(pages_, 1);
  shownPageIndex_ = pages_->currentIndex();
  connect(pages_, &QTabWidget::currentChanged, this, &TfmMain::PageChanged);
  progressBar_ = new QProgressBar(central);
  progressBar_->setObjectName("ProgressBar");
  progressBar_->setAccessibleName(QString::fromUtf8("Ход передачи"));
  progressBar_->hide();
  right->addWidget(progressBar_);
  body->addLayout(right, 1);
  outer->addLayout(body, 1);
  setCentralWidget(central);
  resize(kDefaultWidth, kDefaultHeight);  // until OpenWindow places it

  // The line monitor, docked below the pages, closed until asked for.
  lineMonitor_ = new TLineMonitor(*this, this);
  addDockWidget(Qt::BottomDockWidgetArea, lineMonitor_);
  lineMonitor_->hide();
  QAction* monitorAction = actions_->Find("aLineMonitor");
  monitorAction->setCheckable(true);
  monitorAction->setEnabled(true);
  connect(monitorAction, &QAction::toggled, lineMonitor_, &TLineMonitor::setVisible);
  connect(lineMonitor_, &TLineMonitor::openChanged, monitorAction, &QAction::setChecked);

  connect(side_, &TSidePanel::pageRequested, this, &TfmMain::SelectPage);
  QAction* configConfig = actions_->Find("aConfigConfig");
  connect(configConfig, &QAction::triggered, this, [this] { SelectPage(pgConfigSys); });
  configConfig->setEnabled(true);
  QAction* connectAction = actions_->Find("aConnectDisConnect");
  connect(connectAction, &QAction::triggered, this, [this] {
    if (!RegisterBusy()) ToggleConnection();
  });
  connectAction->setEnabled(true);
  QAction* find = actions_->Find("aFindKKM");
  find->setToolTip(QString::fromUtf8(
      "Ищет ККМ на всех портах списка на всех скоростях; нажатие во время поиска останавливает его"));
  side_->bFindKKM->SetAction(find);
  connect(find, &QAction::triggered, this, &TfmMain::FindRegisterAction);
  connect(&signals_, &TMainSignals::connectionChanged, this, &TfmMain::UpdateFindAction);
  UpdateFindAction();
  WireSidePanel();
  BuildShortcuts();
}

void TfmMain::BuildShortcuts() {
  // Ctrl+1 .. Ctrl+5 bring the pages to the front as their selectors do.
  for (int page = pgConfig; page <= kLastPage; ++page) {
    auto* a = new QAction(this);
    a->setObjectName(QStringLiteral("aPage%1").arg(page));
    a->setShortcut(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_0 + page)));
    // The keys work whichever of the program's windows is active (the wait
    // window may be), never past a modal dialog.
    a->setShortcutContext(Qt::ApplicationShortcut);
    connect(a, &QAction::triggered, this, [this, page] {
      SelectPage(page);
      if (CurrentPage() == page) FocusPage();
    });
    addAction(a);
    side_->ClickArea(page)->setToolTip(QKeySequence(a->shortcut()).toString(QKeySequence::NativeText));
  }
  for (const auto& [name, key] : {std::pair{"aFindKKM", kFindKey}, std::pair{"aConnectDisConnect", kConnectKey}}) {
    QAction* a = actions_->Find(name);
    a->setShortcut(QKeySequence(key));
    a->setShortcutContext(Qt::ApplicationShortcut);
    addAction(a);
  }
  auto* stop = new QAction(QString::fromUtf8("Остановить"), this);
  stop->setObjectName("aStopTransfer");
  stop->setShortcut(QKeySequence(kStopKey));
  stop->setShortcutContext(Qt::ApplicationShortcut);
  connect(stop, &QAction::triggered, this, &TfmMain::StopTransfer);
  addAction(stop);
  // Alt pressed and released alone puts the focus on the main menu.
  qApp->installEventFilter(this);
}

void TfmMain::FocusPage() {
  // The keyboard goes to the first control of the page brought to the front.
  QWidget* page = pages_->currentWidget();
  if (page == nullptr) return;
  constexpr int kMostWidgets = 100000;  // the chain is a cycle; a bound all the same
  int n = 0;
  for (QWidget* w = page->nextInFocusChain(); w != nullptr && w != page && n < kMostWidgets;
       w = w->nextInFocusChain(), ++n) {
    if (!page->isAncestorOf(w)) continue;
    if ((w->focusPolicy() & Qt::TabFocus) != 0 && w->isVisible() && w->isEnabled()) {
      w->setFocus(Qt::TabFocusReason);
      return;
    }
  }
}

void TfmMain::StopTransfer() {
  if (shopPage_->Running()) {
    // The shop's workers stop at their next record, as Ctrl-C stops them.
    shopPage_->Stop();
  } else if (searching_) {
    searchStopRequested_ = true;
  } else if (RegisterBusy()) {
    // As the second press of the running transfer's button.
    transfer_.transferStopRequested = true;
  }
}

bool TfmMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    altAlone_ = key->key() == Qt::Key_Alt && key->modifiers() == Qt::AltModifier && !key->isAutoRepeat();
  } else if (event->type() == QEvent::KeyRelease) {
    const auto* key = static_cast<QKeyEvent*>(event);
    auto* target = qobject_cast<QWidget*>(watched);
    const bool ours = target != nullptr && (target->window() == this || target->window() == waitForm_.get());
    if (key->key() == Qt::Key_Alt && altAlone_ && ours && isEnabled() && toolBar_->isEnabled() &&
        QApplication::activePopupWidget() == nullptr && QApplication::activeModalWidget() == nullptr) {
      altAlone_ = false;
      if (auto* first = toolBar_->findChild<QToolButton*>("miConfigButton")) first->setFocus(Qt::ShortcutFocusReason);
      return true;
    }
    if (key->key() != Qt::Key_Alt) altAlone_ = false;
  } else if (event->type() == QEvent::MouseButtonPress) {
    altAlone_ = false;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TfmMain::OpenWindow(const std::vector<std::string>& args) {
  // 1-3: the free-text tab only with "okb"; the page tabs out of view.
  configPage_->SetTextTabVisible(isOKB);
  flags_.storedProfilesFound = false;
  configPage_->Profiles().setVisible(true);

  // 4: the console, unless the port trace is on (then the log alone).
  if (MessDepth == mdHardWare) {
    SetConsole(nullptr);
    console_->Reset(C_Face);
    for (const char* line : kHardwareConsoleLines) {
      ConsoleLine l;
      l.text = line;
      console_->AppendLine(l);
    }
  } else {
    SetConsole(console_);
  }

  // 5-6: captions, then the start line.
  try {
    ApplyLanguage();
  } catch (const std::exception&) {
    Error("не загружен язык", true, true, true);
  }
  Mess(LangResStrHandler.Text(ltStart), false, true, true);

  // Files of a portable run in the working folder of an installed program.
  OfferWorkingFolderFiles();

  // 7-10: ports and speeds.
  const std::string denied = AllPortsDeniedText(FillPortList());
  if (!denied.empty()) Warning(denied, false, true, true);
  const std::string ini = ProgramIniPath();
  try {
    registerPort_.LoadSettings(ini, kRegisterPortSection);
    scannerPort_.LoadSettings(ini, kScannerSection);
  } catch (const std::exception&) {
    Error("не загружены параметры порта", true, true, true);
  }
  TScannerPanel& scanner = configSysPage_->Scanner();
  SelectSpeedItem(side_->cbSpeedPort, registerPort_.BaudRate());
  SelectSpeedItem(scanner.cbSpeedPortScan, scannerPort_.BaudRate());
  SelectPortItem(side_->cbComPort, registerPort_.PortNumber());
  SelectPortItem(scanner.cbComPortScan, scannerPort_.PortNumber());

  // 11: the register object is bound to the register port (constructor).
  // 12: network number and scanner switch.
  try {
    const TIniFile file(ini);
    const std::int32_t net = file.ReadInteger(kNetSection, kNetKey, kDefaultNetworkNumber);
    kkm_.networkNumber = static_cast<std::uint8_t>(net & 0xFF);
    scanner.cbScaner->setChecked(file.ReadBool(kScannerSection, kScannerEnabledKey, false));
    writeSafety_.backup.Read(file);
    configSysPage_->ShowBackupSettings();
    side_->cbNetNum->setCurrentIndex(net >= 1 && net <= kHighestNetworkNumber ? net - 1 : -1);
    lineMonitor_->LoadSettings(file);
    shopPage_->LoadSettings(file);
    PlaceWindow(file);
  } catch (const std::exception&) {
    Error("не загружен ZarvikConfig.ini", true, true, true);
  }

  // 13: the profile folder.
  try {
    const std::string folder = ProfileFolderPath();
    EnsureFolder(folder);
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) Error("при проверке каталога bd", true, true, true);
  } catch (const std::exception&) {
    Error("при проверке каталога bd", true, true, true);
  }

  // 14: the print font names in the font boxes of the receipt and text tabs.
  for (const char* name : kFontBoxes) {
    auto* box = findChild<QComboBox*>(QString::fromLatin1(name));
    if (box == nullptr) continue;
    const QSignalBlocker block(box);
    box->clear();
    for (std::string_view font : PrintFontNames)
      box->addItem(QString::fromUtf8(font.data(), static_cast<int>(font.size())));
    if (std::string_view(name) == "cbFontText") box->setCurrentIndex(0);
  }

  // 15: nothing read yet.
  flags_.optionsLoaded = flags_.departmentsLoaded = flags_.receiptTextLoaded = flags_.taxesLoaded = false;

  // 16: CONFIG_STOP switches the register write actions off for the run.
  configStop_ = HasConfigStop(args);
  if (configStop_)
    for (std::string_view name : kConfigStopActions) actions_->SwitchOff(name);
  SelectPage(pgConfig);
}

void TfmMain::OfferWorkingFolderFiles() {
  const std::vector<TWorkingFolderFile> found = FindWorkingFolderFiles();
  if (found.empty()) return;
  const std::string names = WorkingFolderFileNames(found);
  std::vector<TWorkingFolderFile> movable;
  for (const TWorkingFolderFile& f : found)
    if (!f.targetExists) movable.push_back(f);
  if (movable.empty()) {
    // Moved before, or the user's own are there: both stay as they are.
    Warning("в рабочей папке есть " + names + ", но используются файлы пользователя (" +
                UserConfigFolder() + ", " + UserDataFolder() + "); для работы с файлами рабочей папки: " +
                kPortableEnv + "=1 или ключ " + std::string(kPortableSwitch),
            false, true, true);
    return;
  }
  std::string where;
  for (const TWorkingFolderFile& f : movable) where += "\n" + f.name + " -> " + f.target;
  const QueryButton answer = QueryYesNoCancel(
      "В рабочей папке найдены файлы прежней работы программы: " + WorkingFolderFileNames(movable) +
          ". Перенести их в папки пользователя?" + where +
          "\n\"Нет\": файлы останутся на месте, программа начнет с пустыми настройками (" + kPortableEnv +
          "=1 или ключ " + std::string(kPortableSwitch) + " - работать с файлами рабочей папки).",
      true, true, QueryButton::No);
  if (answer != QueryButton::Yes) return;
  const std::vector<std::string> problems = MoveWorkingFolderFiles(movable);
  for (const std::string& problem : problems) Error("не перенесено: " + problem, true, true, true);
  if (problems.empty()) Mess("перенесено: " + WorkingFolderFileNames(movable), false, true, true);
}

std::vector<TPortEntry> TfmMain::FillPortList() {
  // The entries are those of ListPorts, with the device and its state beside.
  std::vector<TPortEntry> ports = PortTable();
  for (QComboBox* box : {side_->cbComPort, configSysPage_->Scanner().cbComPortScan}) {
    const QSignalBlocker block(box);
    FillPortBox(box, ports);
  }
  return ports;
}

// The number of a port item: characters 4 to 6 cut at the first blank.
static int PortItemNumber(const QString& item) {
  return item.mid(3, 3).section(QLatin1Char(' '), 0, 0).toInt();
}

void TfmMain::SelectPortItem(QComboBox* box, int port) {
  {
    const QSignalBlocker block(box);
    box->setCurrentIndex(-1);
    for (int i = 0; i < box->count(); ++i) {
      if (PortItemNumber(box->itemText(i)) == port) {
        box->setCurrentIndex(i);
        break;
      }
    }
  }
  DescribeCurrentPort(box);
}

void TfmMain::SelectSpeedItem(QComboBox* box, std::uint32_t speed) {
  const QSignalBlocker block(box);
  box->setCurrentIndex(box->findText(QString::number(speed)));
}

void TfmMain::WireSidePanel() {
  connect(side_->cbComPort, &QComboBox::currentTextChanged, this, [this](const QString& item) {
    const int n = PortItemNumber(item);
    if (n > 0) registerPort_.SetPortNumber(n);
  });
  connect(side_->cbSpeedPort, &QComboBox::currentTextChanged, this, [this](const QString& item) {
    bool ok = false;
    const uint speed = item.toUInt(&ok);
    if (ok) registerPort_.SetBaudRate(speed);
  });
  connect(side_->cbNetNum, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index >= 0) kkm_.networkNumber = static_cast<std::uint8_t>(index + 1);
  });
}

void TfmMain::ApplyLanguage() {
  setWindowTitle(QString::fromStdString(LangResStrHandler.Text(ltCaption)) + kVersionSuffix);
  const QString caption =
      QString::fromStdString(LangResStrHandler.Text(registerPort_.IsOpen() ? ltDisconnect : ltConnect));
  actions_->Find("aConnectDisConnect")->setText(caption);
  emit signals_.languageApplied();
}

void TfmMain::SelectPage(int page) {
  if (transfer_.transferProgress != 0) {
    // A transfer runs: the page stays (a pressed selector shows it again).
    side_->MarkSelected(CurrentPage());
    return;
  }
  if (page < pgConfig || page > kLastPage) page = pgConfig;
  side_->MarkSelected(page);
  if (pages_->currentIndex() != page - 1) {
    pages_->setCurrentIndex(page - 1);
    emit signals_.pageSelected(page);
  }
}

void TfmMain::PageChanged(int index) {
  if (index == shownPageIndex_) return;
  if (transfer_.transferProgress != 0 && shownPageIndex_ >= 0) {
    // The page control refuses any change while a transfer runs.
    const QSignalBlocker block(pages_);
    pages_->setCurrentIndex(shownPageIndex_);
    return;
  }
  shownPageIndex_ = index;
  side_->MarkSelected(index + 1);
}

int TfmMain::CurrentPage() const {
  return pages_->currentIndex() + 1;
}

bool TfmMain::EnsureConnected() {
  if (registerPort_.IsOpen()) return true;
  ToggleConnection();
  if (registerPort_.IsOpen()) return true;
  Error(std::string(kCannotConnectText), true, true, true);
  return false;
}

void TfmMain::RefreshProfileList() {
  configPage_->Profiles().RefreshProfileList();
}

bool TfmMain::RunRegisterAction(int page, std::chrono::milliseconds wait, const std::function<void()>& body) {
  if (RegisterBusy()) return false;
  SelectPage(page);
  // A stop request left by an earlier action is not this one's.
  if (busy_ == 0) transfer_.transferStopRequested = false;
  ++busy_;
  // The disabled window loses the keyboard focus; it comes back afterwards.
  const QPointer<QWidget> focus = QApplication::focusWidget();
  setEnabled(false);
  UpdateFindAction();
  const TScopeExit done([this, focus] {
    --busy_;
    setEnabled(true);
    if (QWidget* f = focus.data(); f != nullptr && f->isVisible() && f->isEnabled()) f->setFocus(Qt::OtherFocusReason);
    UpdateFindAction();
    ClosePendingWindow();
  });
  ShowWait(wait);
  if (!EnsureConnected()) return false;
  body();
  return true;
}

void TfmMain::RunTransfer(const std::function<void()>& body) {
  // Every transfer starts without a stop request: one left by an earlier
  // exchange or a cancelled close must not end this one.
  if (busy_ == 0) transfer_.transferStopRequested = false;
  ++busy_;
  UpdateFindAction();
  const TScopeExit done([this] {
    --busy_;
    UpdateFindAction();
    ClosePendingWindow();
  });
  body();
}

void TfmMain::ClosePendingWindow() {
  if (closePending_ && busy_ == 0) QTimer::singleShot(0, this, &QWidget::close);
}

void TfmMain::closeEvent(QCloseEvent* event) {
  if (RegisterBusy()) {
    // An exchange is running: it is asked to stop, and the window closes
    // once it has ended.
    transfer_.transferStopRequested = true;
    closePending_ = true;
    event->ignore();
    return;
  }
  closePending_ = false;
  // The stop request of a deferred close was meant for the exchange that ran.
  transfer_.transferStopRequested = false;
  if (!configPage_->Profiles().CloseQuery()) {
    event->ignore();
    return;
  }
  Mess(LangResStrHandler.Text(ltStop), false, true, true);
  SaveConfiguration();
  waitForm_->HideWait();
  event->accept();
}

QRect TfmMain::AvailableArea() const {
  QScreen* screen = this->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->availableGeometry() : QRect(0, 0, kDefaultWidth, kDefaultHeight);
}

void TfmMain::PlaceWindow(const TIniFile& file) {
  // Inside the available area of the screen, never smaller than the window
  // can be (the pages scroll, so that is less than a small laptop screen).
  // Room for the frame the window manager adds (unknown before the window
  // is shown).
  const QRect screen = AvailableArea();
  const QRect area = screen.marginsRemoved(kFrameAllowance);
  const QSize least = minimumSizeHint().expandedTo(minimumSize());
  const int width = file.ReadInteger(kWindowSection, kWindowWidthKey, kDefaultWidth);
  const int height = file.ReadInteger(kWindowSection, kWindowHeightKey, kDefaultHeight);
  QRect placed(0, 0, std::clamp(width, least.width(), std::max(least.width(), area.width())),
               std::clamp(height, least.height(), std::max(least.height(), area.height())));
  // A remembered place is taken while the window lies wholly on the screen;
  // otherwise (first start, another screen) it opens centred.
  placed.moveCenter(area.center());
  const int left = file.ReadInteger(kWindowSection, kWindowLeftKey, std::numeric_limits<std::int32_t>::min());
  const int top = file.ReadInteger(kWindowSection, kWindowTopKey, std::numeric_limits<std::int32_t>::min());
  if (left != std::numeric_limits<std::int32_t>::min() && top != std::numeric_limits<std::int32_t>::min()) {
    // The place is the frame's; the frame is a little larger than the window.
    const QSize frame(kFrameAllowance.left() + kFrameAllowance.right(),
                      kFrameAllowance.top() + kFrameAllowance.bottom());
    if (screen.contains(QRect(QPoint(left, top), placed.size() + frame))) placed.moveTopLeft(QPoint(left, top));
  }
  resize(placed.size());
  move(placed.topLeft());
  if (file.ReadBool(kWindowSection, kWindowMaximizedKey, false)) setWindowState(windowState() | Qt::WindowMaximized);
}

void TfmMain::SavePlacement(TIniFile& file) const {
  // The size and place the window has when it is not maximised.
  const QRect normal = isMaximized() ? normalGeometry() : QRect(pos(), size());
  file.WriteInteger(kWindowSection, kWindowLeftKey, normal.x());
  file.WriteInteger(kWindowSection, kWindowTopKey, normal.y());
  file.WriteInteger(kWindowSection, kWindowWidthKey, normal.width());
  file.WriteInteger(kWindowSection, kWindowHeightKey, normal.height());
  file.WriteBool(kWindowSection, kWindowMaximizedKey, isMaximized());
}

void TfmMain::SaveConfiguration() {
  try {
    const std::string ini = ProgramIniPath();
    EnsureFolder(UserConfigFolder());
    registerPort_.SaveSettings(ini, kRegisterPortSection);
    scannerPort_.SaveSettings(ini, kScannerSection);
    TIniFile file(ini);
    file.WriteInteger(kNetSection, kNetKey, kkm_.networkNumber);
    file.WriteBool(kScannerSection, kScannerEnabledKey, configSysPage_->Scanner().cbScaner->isChecked());
    lineMonitor_->SaveSettings(file);
    shopPage_->SaveSettings(file);
    SavePlacement(file);
    writeSafety_.backup.Write(file);
    if (!file.UpdateFile()) Error("не удалось записать конфигурацию", false, true, true);
  } catch (const std::exception&) {
    Error("не удалось записать конфигурацию", false, true, true);
  }
}

}  // namespace zarvik::ui
