// Editing on the configuration page with the largest tables: 99 departments
// and 64 options in each of several profiles. Prints how long a cell edit,
// a tab switch, a page switch and a profile switch take, each including the
// repaint of what the user sees (offscreen platform).
//
//   bench_config_page [--profiles N] [--rounds N]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "DBGridEh.h"
#include "MainWindow.h"
#include "pages/ConfigPage.h"
#include "pages/DepartmentsTab.h"
#include "pages/OptionCardGrid.h"
#include "pages/OptionsTab.h"
#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"
#include "store/UnitBD.h"

using namespace zarvik;

namespace {

constexpr int kDepartments = 99;
constexpr int kOptions = 64;
constexpr int kOperators = 8;
constexpr int kLines = 6;

struct TFigures {
  std::vector<double> ms;
  void Add(const QElapsedTimer& t) { ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6); }
  double Median() {
    std::sort(ms.begin(), ms.end());
    return ms.empty() ? 0 : ms[ms.size() / 2];
  }
  double Max() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

std::string Key(int profile) {
  return profile == 0 ? std::string("0") : std::to_string(45000000 + profile);
}

// Rows of `profiles` profiles in every per-profile table.
void FillProfiles(TBD& bd, int profiles) {
  for (TWorkTable* t : bd.ProfileTables()) {
    t->DisableControls();
    t->SetFiltered(false);
    t->Close();
    t->Open();
  }
  bd.mtProfile.Close();
  bd.mtProfile.Open();
  for (int p = 0; p < profiles; ++p) {
    bd.mtProfile.Append();
    bd.mtProfile.SetText("LN", Key(p));
    bd.mtProfile.SetText("Name", p == 0 ? std::string(kRegisterProfileName) : "Профиль " + std::to_string(p));
    bd.mtProfile.Post();
    for (int i = 1; i <= kDepartments; ++i) {
      TWorkTable& t = bd.mtDepatment;
      t.Append();
      t.SetText("LN", Key(p));
      t.SetInteger("Num", i);
      t.SetText("Status", i % 3 == 0 ? "Закрыто" : "Товар");
      if (i % 3 != 0) {
        t.SetText("Name", "Отдел номер " + std::to_string(i));
        t.SetText("NG", "B");
        t.SetText("Price", std::to_string(i * 10) + ".50");
      }
      t.Post();
    }
    for (int i = 1; i <= kOptions; ++i) {
      TWorkTable& t = bd.mtOptions;
      t.Append();
      t.SetText("LN", Key(p));
      t.SetInteger("num", i);
      t.SetInteger("Min", 0);
      t.SetInteger("Max", i % 5 == 0 ? 1 : 99);
      t.SetInteger("Value", (i * 7 + p) % 4);
      t.Post();
    }
    for (int i = 1; i <= kOperators; ++i) {
      bd.tmOperators.Append();
      bd.tmOperators.SetText("LN", Key(p));
      bd.tmOperators.SetText("operator", "Оператор " + std::to_string(i));
      bd.tmOperators.Post();
    }
    for (TWorkTable* lines : {&bd.mtTitle, &bd.mtFooter}) {
      for (int i = 1; i <= kLines; ++i) {
        lines->Append();
        lines->SetText("LN", Key(p));
        lines->SetInteger("Num", i);
        lines->SetText("Caption", "Строка " + std::to_string(i));
        lines->Post();
      }
    }
  }
}

// Another profile chosen in the profile list: the list's events make every
// per-profile table show that profile's rows.
void ShowProfile(TBD& bd, int profile) {
  bd.mtProfile.SetRecNo(profile + 1);
}

void Settle(QWidget& w) {
  QApplication::processEvents();
  w.repaint();
}

}  // namespace

int main(int argc, char** argv) {
  int profiles = 5;
  int rounds = 50;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--profiles") == 0) profiles = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  isAUTONOM = true;
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  // The window keeps its files (settings, profile folder, log) in a folder
  // of its own that goes away at the end.
  QTemporaryDir folder;
  if (!folder.isValid()) return 1;
  QDir::setCurrent(folder.path());
  SetProgramPath(folder.filePath("ZarvikConfig").toStdString());
  char arg0[] = "ZarvikConfig";
  char* args[] = {arg0};
  ui::TfmMain w(1, args);
  SetConsole(nullptr);
  w.show();
  TKKMInfo& info = w.Kkm().Info();
  info.maxCountDepat = kDepartments;
  info.optionCount = kOptions;
  TBD& bd = w.Bd();
  FillProfiles(bd, profiles);
  for (TWorkTable* t : bd.ProfileTables()) t->EnableControls();
  ShowProfile(bd, profiles > 1 ? 1 : 0);
  if (bd.mtDepatment.RecordCount() != kDepartments || bd.mtDepatment.Text("LN") != Key(profiles > 1 ? 1 : 0)) {
    std::fprintf(stderr, "the profile list does not switch the tables\n");
    return 1;
  }
  ShowProfile(bd, 0);
  ui::TConfigPage& page = w.ConfigPage();
  QTabWidget& tabs = page.Tabs();
  ui::TDBGridEh& deps = page.Departments().Grid();
  ui::TOptionCardGrid& cards = page.Options().Cards();
  Settle(w);

  TFigures depEdit, optionEdit, tabSwitch, pageSwitch, profileSwitch;
  const int name = deps.Model().ColumnOf("Name");
  for (int r = 0; r < rounds; ++r) {
    // A cell edit in the department grid, stored, posted and repainted.
    tabs.setCurrentWidget(&page.Departments());
    Settle(w);
    const int row = (r * 37) % kDepartments;
    deps.scrollTo(deps.Model().index(row, name));
    Settle(w);
    QElapsedTimer t;
    t.start();
    deps.Model().setData(deps.Model().index(row, name), QString::fromUtf8("Правка %1").arg(r), Qt::EditRole);
    Settle(deps);
    depEdit.Add(t);

    // A value edited on an option card.
    tabs.setCurrentWidget(&page.Options());
    Settle(w);
    const int option = (r * 13) % kOptions;
    t.restart();
    cards.Model().setData(cards.Model().index(option, 0), QString::number(r % 4), Qt::EditRole);
    Settle(cards);
    optionEdit.Add(t);

    // Options tab to departments tab.
    t.restart();
    tabs.setCurrentWidget(&page.Departments());
    Settle(w);
    tabSwitch.Add(t);

    // Goods page and back to the configuration page.
    t.restart();
    w.SelectPage(ui::pgGoods);
    Settle(w);
    w.SelectPage(ui::pgConfig);
    Settle(w);
    pageSwitch.Add(t);

    // Another profile on display, and the first one again.
    t.restart();
    ShowProfile(bd, 1 + r % std::max(1, profiles - 1));
    Settle(w);
    ShowProfile(bd, 0);
    Settle(w);
    profileSwitch.Add(t);
  }

  std::printf("configuration page, %d profiles x (%d departments, %d options), %d rounds, offscreen\n",
              profiles, kDepartments, kOptions, rounds);
  std::printf("%-46s %9s %9s\n", "step (including repaint)", "median ms", "max ms");
  const auto line = [](const char* what, TFigures& f) {
    std::printf("%-46s %9.2f %9.2f\n", what, f.Median(), f.Max());
  };
  line("department cell edit", depEdit);
  line("option card edit", optionEdit);
  line("tab switch options -> departments", tabSwitch);
  line("page switch goods -> configuration (two)", pageSwitch);
  line("profile switch and back (two)", profileSwitch);
  return 0;
}
