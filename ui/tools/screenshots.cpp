// zarvik-screenshots: pictures of the main window without a person at the
// screen. It opens the real main window in the current folder (its
// ZarvikConfig.ini says which port the register is on, usually the
// simulator's), connects, optionally runs actions, visits the pages and the
// tabs of the configuration page and saves each as a PNG file. Message boxes
// are written to standard error instead of shown; questions take their
// default answer (the close question: No).
//
//   zarvik-screenshots --out DIR [--pages LIST] [--trigger ACTIONS] [--size WxH]
//                      [--no-connect] [WORD...]
//
// LIST: names separated by commas, in any order (the pictures are taken in
// the order below); default: all of them.
//   start       the window as it opens, before connecting
//   find        "Найти ККМ" while it searches (lines of this tool listed as
//               ports 197 to 199, busy, not serial and silent, come before
//               the register's port)
//   ports       the register's port list opened over the window (after find:
//               with those lines)
//   connected   the window right after connecting (configuration page)
//   options departments receipt taxes operators text
//               the tabs of the configuration page
//   goods journal configsys
//               pages 2, 3 and 4
//   journaltables journalsummary
//               the journal page's tables (receipts) and its summary with
//               the charts (the journal is read first when it is empty)
//   shop shopday
//               page 5 with a list of the register's own port ("касса 1",
//               written into DIR as shop.ini unless a list is open) after
//               "Опросить", and the shop's day of its journal (read into
//               DIR/journals); the window disconnects first, as the workers
//               open the port themselves
//   monitor     the window with the line monitor open, after connecting
//               again so that it shows the traffic
//   wait        the wait window
//   differences the departments of the register's stored profile, edited so
//               that rows differ from the register and a name holds
//               characters the register cannot print (reads all and saves
//               the stored profile first)
//   backup      after writing those departments with "только отличия": the
//               backup profile in the list and the messages
//   help helpjournal
//               the help window as F1 opens it on the departments tab and
//               on the journal page
//   about       "О программе"
// ACTIONS: objectNames of actions triggered in order after connecting (for
// example aLoadAll,tovarLoadAll), so that the pages show what they read.
// WORDs are the program's own switch words (okb shows the text tab, ...).
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <QCheckBox>
#include "Application.h"
#include "LineMonitor.h"
#include "MainWindow.h"
#include "SidePanel.h"
#include "SpeedButtonEx.h"
#include "UiHooksQt.h"
#include "WaitForm.h"
#include "AboutDialog.h"
#include "HelpWindow.h"
#include "pages/ConfigPage.h"
#include "pages/DepartmentsTab.h"
#include "pages/JournalPage.h"
#include "pages/JournalSummaryView.h"
#include "pages/JournalTablesView.h"
#include "pages/JournalView.h"
#include "pages/ProfilePanel.h"
#include "pages/ShopPage.h"
#include "port/Comport.h"
#include "port/PortDevices.h"
#include "shell/ProjectsVars.h"
#include "store/UnitBD.h"

namespace {

using zarvik::ui::TfmMain;

constexpr int kSettleMs = 150;
constexpr int kDefaultWidth = 1180;
constexpr int kDefaultHeight = 760;
constexpr std::chrono::milliseconds kWaitShown{5000};
// The ports of the lines the search picture shows, and when the picture is
// taken after the search began.
constexpr int kHeldPort = 197;
constexpr int kNotSerialPort = 198;
constexpr int kSilentPort = 199;
constexpr int kFindShotMs = 700;
constexpr int kMonitorExtraHeight = 240;
constexpr int kMonitorHeight = 300;

const char* const kAllPages[] = {"start",     "find",      "ports",     "connected", "options",
                                 "departments", "receipt", "taxes",     "operators", "text",
                                 "goods",     "journal",   "configsys", "monitor",   "wait",
                                 "differences", "backup", "journaltables", "journalsummary", "shop", "shopday",
                                 "help",      "helpjournal", "about"};
const char* const kTabs[] = {"options", "departments", "receipt", "taxes", "operators", "text"};

struct Options {
  QString out;
  std::set<std::string> pages;
  std::vector<std::string> triggers;
  bool connect = true;
  int width = kDefaultWidth;
  int height = kDefaultHeight;
  std::vector<std::string> words;  // for the program
};

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> out;
  std::size_t from = 0;
  while (from <= list.size()) {
    const std::size_t comma = std::min(list.find(',', from), list.size());
    if (comma > from) out.push_back(list.substr(from, comma - from));
    from = comma + 1;
  }
  return out;
}

int Usage() {
  std::fprintf(stderr,
               "usage: zarvik-screenshots --out DIR [--pages LIST] [--trigger ACTIONS] [--size WxH] "
               "[--no-connect] [WORD...]\npages:");
  for (const char* p : kAllPages) std::fprintf(stderr, " %s", p);
  std::fprintf(stderr, "\n");
  return 2;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool value = i + 1 < argc;
    if (a == "--out" && value) {
      o.out = QString::fromLocal8Bit(argv[++i]);
    } else if (a == "--pages" && value) {
      for (const std::string& p : Split(argv[++i])) {
        if (std::find_if(std::begin(kAllPages), std::end(kAllPages), [&](const char* k) { return p == k; }) ==
            std::end(kAllPages)) {
          std::fprintf(stderr, "zarvik-screenshots: no page \"%s\"\n", p.c_str());
          return false;
        }
        o.pages.insert(p);
      }
    } else if (a == "--trigger" && value) {
      o.triggers = Split(argv[++i]);
    } else if (a == "--size" && value) {
      if (std::sscanf(argv[++i], "%dx%d", &o.width, &o.height) != 2 || o.width < 200 || o.height < 200)
        return false;
    } else if (a == "--no-connect") {
      o.connect = false;
    } else if (a.rfind("--", 0) == 0) {
      return false;
    } else {
      o.words.push_back(a);
    }
  }
  if (o.pages.empty())
    for (const char* p : kAllPages) o.pages.insert(p);
  return !o.out.isEmpty();
}

// Lets the window lay itself out and paint.
void Settle(int ms = kSettleMs) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

class Shooter {
 public:
  Shooter(const Options& o, TfmMain& w) : options_(o), window_(w) {}

  bool Wanted(const char* name) const { return options_.pages.count(name) != 0; }

  void Shoot(const char* name, QWidget& widget) {
    Settle();
    const QString path = QDir(options_.out).filePath(QString::fromLatin1(name) + ".png");
    if (widget.grab().save(path, "PNG")) {
      std::printf("%s\n", path.toLocal8Bit().constData());
    } else {
      std::fprintf(stderr, "zarvik-screenshots: cannot write %s\n", path.toLocal8Bit().constData());
      failed = true;
    }
    std::fflush(stdout);
  }

  // The window during "Найти ККМ". Lines of this tool are listed before the
  // register's port: one nobody serves (searched at every speed), one held
  // by another open (skipped as busy) and one that is no serial line.
  void ShootFind() {
    if (!OpenSilentLine(silentMaster_, kSilentPort) || !OpenSilentLine(heldMaster_, kHeldPort)) {
      std::fprintf(stderr, "zarvik-screenshots: no pseudo-terminal for the search picture\n");
      failed = true;
      return;
    }
    zarvik::SetPortDevice(kNotSerialPort, "/dev/null");
    held_.SetPortNumber(kHeldPort);
    held_.Open();
    QTimer::singleShot(kFindShotMs, &window_, [this] {
      const QString path = QDir(options_.out).filePath(QStringLiteral("find.png"));
      if (window_.grab().save(path, "PNG")) {
        std::printf("%s\n", path.toLocal8Bit().constData());
      } else {
        failed = true;
      }
    });
    window_.Action("aFindKKM")->trigger();
    Settle();
  }

  // The register's port list opened over the window.
  void ShootPorts() {
    QComboBox* box = window_.Side().cbComPort;
    box->showPopup();
    Settle();
    QWidget* popup = box->view()->window();
    QPixmap picture = window_.grab();
    {
      QPainter painter(&picture);
      painter.drawPixmap(window_.mapFromGlobal(popup->mapToGlobal(QPoint(0, 0))), popup->grab());
    }
    box->hidePopup();
    const QString path = QDir(options_.out).filePath(QStringLiteral("ports.png"));
    if (picture.save(path, "PNG")) {
      std::printf("%s\n", path.toLocal8Bit().constData());
    } else {
      failed = true;
    }
  }

  void Run() {
    window_.SelectPage(zarvik::ui::pgConfig);
    if (Wanted("start")) Shoot("start", window_);
    if (Wanted("find")) ShootFind();
    if (Wanted("ports")) ShootPorts();
    if (options_.connect && !window_.ToggleConnection())
      std::fprintf(stderr, "zarvik-screenshots: the register did not connect\n");
    for (const std::string& name : options_.triggers) {
      QAction* a = window_.Action(name);
      if (a == nullptr || !a->isEnabled()) {
        std::fprintf(stderr, "zarvik-screenshots: action %s is %s\n", name.c_str(),
                     a == nullptr ? "unknown" : "disabled");
        continue;
      }
      a->trigger();
      while (window_.RegisterBusy()) Settle(50);
    }
    window_.SelectPage(zarvik::ui::pgConfig);
    if (Wanted("connected")) Shoot("connected", window_);
    QTabWidget& tabs = window_.ConfigPage().Tabs();
    for (int i = 0; i < tabs.count() && i < static_cast<int>(std::size(kTabs)); ++i) {
      if (!Wanted(kTabs[i])) continue;
      if (!tabs.isTabVisible(i)) {
        std::fprintf(stderr, "zarvik-screenshots: tab %s is hidden (the word okb shows it)\n", kTabs[i]);
        continue;
      }
      tabs.setCurrentIndex(i);
      Shoot(kTabs[i], window_);
    }
    tabs.setCurrentIndex(0);
    const std::pair<const char*, int> pages[] = {{"goods", zarvik::ui::pgGoods},
                                                 {"journal", zarvik::ui::pgMagazine},
                                                 {"configsys", zarvik::ui::pgConfigSys}};
    for (const auto& [name, page] : pages) {
      if (!Wanted(name)) continue;
      window_.SelectPage(page);
      Shoot(name, window_);
    }
    window_.SelectPage(zarvik::ui::pgConfig);
    if (Wanted("monitor")) {
      zarvik::ui::TLineMonitor& monitor = window_.LineMonitor();
      // Taller, so that the pages keep their room and the monitor shows lines.
      const QSize size = window_.size();
      window_.resize(size.width(), size.height() + kMonitorExtraHeight);
      monitor.show();
      window_.resizeDocks({&monitor}, {kMonitorHeight}, Qt::Vertical);
      // The connection once more, now that the monitor listens.
      if (options_.connect && window_.RegisterPort().IsOpen()) {
        window_.ToggleConnection();
        window_.ToggleConnection();
      }
      monitor.Flush();
      Shoot("monitor", window_);
      monitor.hide();
      window_.resize(size);
    }
    if (Wanted("wait")) {
      window_.WaitForm().ShowWait(kWaitShown, QString());
      Shoot("wait", window_.WaitForm());
      window_.WaitForm().HideWait();
    }
    if (Wanted("differences") || Wanted("backup")) Differences();
    if (Wanted("journaltables") || Wanted("journalsummary")) JournalTables();
    if (Wanted("shop") || Wanted("shopday")) Shop();
    if (Wanted("help") || Wanted("helpjournal")) Help();
    if (Wanted("about")) About();
  }

  // The shop page after "Опросить", and the shop's day.
  void Shop() {
    zarvik::ui::TShopPage& page = window_.ShopPage();
    const int port = window_.RegisterPort().PortNumber();
    const std::uint32_t speed = window_.RegisterPort().BaudRate();
    if (window_.RegisterPort().IsOpen()) window_.ToggleConnection();
    if (page.Registers().empty()) {
      const QString list = QDir(options_.out).filePath(QStringLiteral("shop.ini"));
      QFile f(list);
      if (f.open(QIODevice::WriteOnly)) {
        f.write(QStringLiteral("[касса 1]\r\nport=%1\r\nspeed=%2\r\n").arg(port).arg(speed).toUtf8());
        f.close();
        page.OpenList(list);
      }
    }
    window_.SelectPage(zarvik::ui::pgShop);
    const auto wait = [&] {
      while (page.Running()) Settle(50);
    };
    page.Poll();
    wait();
    if (Wanted("shop")) Shoot("shop", window_);
    if (Wanted("shopday")) {
      const QString folder = QDir(options_.out).filePath(QStringLiteral("journals"));
      page.ReadJournals(folder);
      wait();
      page.ShowDaySummary(folder);
      if (auto* view = page.findChild<QWidget*>(QStringLiteral("ShopDayView")); view != nullptr) {
        Shoot("shopday", *view);
        view->hide();
      }
    }
  }

  // The help window as F1 opens it: on the departments tab and on the
  // journal page.
  void Help() {
    window_.SelectPage(zarvik::ui::pgConfig);
    QTabWidget& tabs = window_.ConfigPage().Tabs();
    tabs.setCurrentIndex(1);
    const std::pair<const char*, int> views[] = {{"help", zarvik::ui::pgConfig},
                                                 {"helpjournal", zarvik::ui::pgMagazine}};
    for (const auto& [name, page] : views) {
      if (!Wanted(name)) continue;
      window_.SelectPage(page);
      // The help window at the main window's size before it finds the place.
      if (window_.HelpWindow() != nullptr) window_.HelpWindow()->resize(window_.size());
      window_.ShowManual();
      zarvik::ui::THelpWindow* help = window_.HelpWindow();
      if (help == nullptr) {
        failed = true;
        return;
      }
      if (help->size() != window_.size()) {
        help->resize(window_.size());
        Settle();
        window_.ShowManual();
      }
      Shoot(name, *help);
    }
    if (window_.HelpWindow() != nullptr) window_.HelpWindow()->hide();
    tabs.setCurrentIndex(0);
    window_.SelectPage(zarvik::ui::pgConfig);
  }

  // "О программе".
  void About() {
    zarvik::ui::TAboutDialog dialog(&window_);
    dialog.show();
    Shoot("about", dialog);
    dialog.hide();
  }

  // The journal as tables and its summary with the charts.
  void JournalTables() {
    zarvik::ui::TJournalPage& page = window_.JournalPage();
    if (page.MemoMagazineSource->LineCount() == 0) Trigger("aLoadMagazin");
    window_.SelectPage(zarvik::ui::pgMagazine);
    page.TabsMagazine->setCurrentWidget(page.JournalTables);
    QTabWidget* tabs = page.JournalTables->TabsMagazineData;
    if (Wanted("journaltables")) {
      tabs->setCurrentWidget(page.JournalTables->GridMagazineReceipts);
      Shoot("journaltables", window_);
    }
    if (Wanted("journalsummary")) {
      tabs->setCurrentWidget(&page.JournalTables->Summary());
      Shoot("journalsummary", window_);
    }
    page.TabsMagazine->setCurrentIndex(0);
  }

  // The stored profile with departments that differ from the register's.
  void Differences() {
    if (!window_.RegisterPort().IsOpen()) return;
    Trigger("aLoadAll");
    window_.ConfigPage().Profiles().bSavePropKKMtoBD->click();
    zarvik::TWorkTable& t = window_.Bd().mtDepatment;
    const auto set = [&t](int recNo, const char* field, const char* text) {
      if (!t.SetRecNo(recNo)) return;
      t.Edit();
      t.SetText(field, text);
      t.Post();
    };
    set(2, "Name", "Кофе «Арабика» ø");
    set(3, "Price", "2500");
    t.First();
    QTabWidget& tabs = window_.ConfigPage().Tabs();
    tabs.setCurrentWidget(&window_.ConfigPage().Departments());
    if (Wanted("differences")) Shoot("differences", window_);
    window_.ConfigPage().OnlyDifferences().setChecked(true);
    Trigger("aDepSave");
    if (Wanted("backup")) Shoot("backup", window_);
  }

  void Trigger(const char* name) {
    if (QAction* a = window_.Action(name); a != nullptr && a->isEnabled()) a->trigger();
    while (window_.RegisterBusy()) Settle(50);
  }

  bool failed = false;

  ~Shooter() {
    held_.Close();
    for (const int fd : {silentMaster_, heldMaster_})
      if (fd >= 0) ::close(fd);
    for (const int port : {kHeldPort, kNotSerialPort, kSilentPort}) zarvik::SetPortDevice(port, "");
  }

 private:
  // A pseudo-terminal nobody serves, reached as `port`.
  static bool OpenSilentLine(int& master, int port) {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0)
      return false;
    zarvik::SetPortDevice(port, name);
    return true;
  }

  int silentMaster_ = -1;
  int heldMaster_ = -1;
  zarvik::TComPort held_;
  const Options& options_;
  TfmMain& window_;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return Usage();
  std::vector<std::string> programArgs{argv[0]};
  programArgs.insert(programArgs.end(), options.words.begin(), options.words.end());
  std::vector<char*> programArgv;
  for (std::string& a : programArgs) programArgv.push_back(a.data());
  int programArgc = static_cast<int>(programArgv.size());
  zarvik::InitProgram(programArgc, programArgv.data());
  zarvik::ui::TApplication app(argc, argv);
  if (!QDir().mkpath(options.out)) {
    std::fprintf(stderr, "zarvik-screenshots: cannot create %s\n", options.out.toLocal8Bit().constData());
    return 1;
  }

  TfmMain window(programArgc, programArgv.data());
  zarvik::ui::QtUiHooks& hooks = window.Hooks();
  hooks.boxHandler = [](zarvik::BoxKind, const std::string& text) {
    std::fprintf(stderr, "box: %s\n", text.c_str());
  };
  hooks.questionHandler = [](zarvik::QueryKind, const std::string& text, zarvik::QueryButton def) {
    std::fprintf(stderr, "question: %s\n", text.c_str());
    return text == zarvik::ui::kSaveProfileQuestion ? zarvik::QueryButton::No : def;
  };
  window.resize(options.width, options.height);
  window.show();
  QCoreApplication::processEvents();
  if (window.width() > options.width || window.height() > options.height) {
    // The window could not be made as small as asked: a page would be cut
    // on such a screen.
    std::fprintf(stderr, "zarvik-screenshots: the window is %dx%d, larger than %dx%d\n", window.width(),
                 window.height(), options.width, options.height);
    return 1;
  }
  Shooter shooter(options, window);
  shooter.Run();
  window.close();
  return shooter.failed ? 1 : 0;
}
