// The collection zarvik.registers run by ansible-playbook against an
// inventory of three hosts with ansible_connection=local, each with its own
// register simulator on a pseudo-terminal and its own folder (its
// ZarvikConfig.ini maps the port to its simulator). A few playbook runs,
// each checked by several assertions: check mode writes nothing and reports
// where the file differs, --diff shows the values, a host whose register
// answers with another serial number fails alone, the apply writes exactly
// the differing values and goods records, a second apply changes nothing,
// the journal file equals zarvikctl journal read. Skipped when
// ansible-playbook is missing.
#include <gtest/gtest.h>

#ifdef ZARVIK_CTL_EXE

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "CtlProcess.h"
#include "CtlSimSupport.h"
#include "Simulator.h"
#include "TestSupport.h"
#include "shell/TextCodec.h"

namespace zarvik {
namespace {

using namespace std::chrono_literals;

constexpr const char* kAnsiblePlaybook = "/usr/bin/ansible-playbook";
constexpr const char* kAnsibleDoc = "/usr/bin/ansible-doc";
constexpr const char* kAnsibleGalaxy = "/usr/bin/ansible-galaxy";
// A playbook run of three hosts takes seconds; a sanitized build on a busy
// machine many times that. Only a hang runs into this.
constexpr auto kPlaybookLimit = std::chrono::minutes(10);
constexpr int kHosts = 3;
constexpr int kPort = 240;

struct Ran {
  int status = -1;
  std::string out;  // standard output and error together
  std::chrono::milliseconds took{0};
};

// Runs `argv` in `folder` with `env`, its output collected; killed after
// `limit`.
Ran RunProgram(const std::string& folder, const std::vector<std::string>& argv,
               const std::vector<std::string>& env, std::chrono::milliseconds limit) {
  Ran ran;
  const auto start = std::chrono::steady_clock::now();
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return ran;
  std::vector<std::string> argStore = argv;
  std::vector<std::string> envStore = env;
  std::vector<char*> args;
  std::vector<char*> envp;
  for (std::string& a : argStore) args.push_back(a.data());
  args.push_back(nullptr);
  for (std::string& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::setpgid(0, 0);
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    ::dup2(pipeFds[1], 1);
    ::dup2(pipeFds[1], 2);
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  const auto deadline = start + limit;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(-pid, SIGKILL);
      ::kill(pid, SIGKILL);
      ran.out += "\n[killed after the time limit]\n";
      break;
    }
    pollfd p{pipeFds[0], POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[4096];
    const ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
    if (n > 0) {
      ran.out.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) ran.status = WEXITSTATUS(status);
  ran.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  return ran;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The recap line of `host`: ok, changed and failed.
struct Recap {
  int ok = -1;
  int changed = -1;
  int failed = -1;
};
Recap RecapOf(const std::string& out, const std::string& host) {
  const std::regex line(host + R"(\s*:\s*ok=(\d+)\s+changed=(\d+)\s+unreachable=\d+\s+failed=(\d+))");
  std::smatch m;
  Recap r;
  if (std::regex_search(out, m, line)) {
    r.ok = std::stoi(m[1]);
    r.changed = std::stoi(m[2]);
    r.failed = std::stoi(m[3]);
  }
  return r;
}

std::size_t Index(int k) {
  return static_cast<std::size_t>(k);
}

std::string Host(int k) {
  return "shop" + std::to_string(k + 1);
}

// The shop of every register, with a few receipts in its journal.
std::string Shop(int k) {
  return test::FleetShop(test::FleetSerial(k)) + "[Journal]\nGenerateReceipts=" + std::to_string(1 + k) +
         "\nFirstNumber=200\n[Receipt1]\nKind=1\nNumber=101\nDate=13.12.10\nTime=08:05\nOperator=1\n"
         "Line1=code;2;0.750\nPayment=0\nTendered=round\n";
}

// The chain's settings: an option, a department's name and a first
// operator whose name is longer than the window's column.
constexpr const char* kChainConf = R"(# the chain's settings
[options]
1 = 0
[departments]
2.name = "Курьер"
[operators]
1.name = "Иванова Анна Петровна"
)";

constexpr const char* kPlaybook = R"(- hosts: shops
  gather_facts: false
  tasks:
    - name: settings
      zarvik.registers.config:
        src: "{{ conf }}"
        port: "{{ port }}"
        speed: 19200
        serial: "{{ serial }}"
        chdir: "{{ chdir }}"
        zarvikctl: "{{ ctl }}"
        backup: false
    - name: prices
      zarvik.registers.goods:
        src: "{{ prices }}"
        port: "{{ port }}"
        serial: "{{ serial }}"
        chdir: "{{ chdir }}"
        zarvikctl: "{{ ctl }}"
        backup: false
    - name: journal
      zarvik.registers.journal:
        dest: "{{ chdir }}/journal.txt"
        port: "{{ port }}"
        serial: "{{ serial }}"
        chdir: "{{ chdir }}"
        zarvikctl: "{{ ctl }}"
    - name: register
      zarvik.registers.info:
        port: "{{ port }}"
        serial: "{{ serial }}"
        chdir: "{{ chdir }}"
        zarvikctl: "{{ ctl }}"
      register: kkm
      when: ansible_check_mode
    - name: shown
      ansible.builtin.debug:
        msg: "register {{ kkm.register.serial }} {{ kkm.register.model }} {{ kkm.register.mode }}, goods {{ kkm.register.goods_count }} of {{ kkm.register.max_goods }}"
      when: ansible_check_mode
)";

// The register's goods write command on the wire.
constexpr std::uint8_t kSetGoods = 0x11;

// The price list from the register's own goods file (code page 1251): bread
// gets another price, cheese stays as it is, butter is new.
std::string PriceList(const std::string& registerFile) {
  std::string text = Cp1251ToUtf8(registerFile);
  const std::size_t end = text.find('\n');
  EXPECT_TRUE(text.starts_with("1;") && end != std::string::npos) << text;
  if (!text.starts_with("1;") || end == std::string::npos) return {};
  // Code;Type;Name;NG;Price;Section;Vesovoy;Shtrih;isBlock;Count
  std::vector<std::string> fields;
  for (std::size_t at = 0;;) {
    const std::size_t semicolon = text.find(';', at);
    if (semicolon == std::string::npos || semicolon > end) {
      fields.push_back(text.substr(at, end - at));
      break;
    }
    fields.push_back(text.substr(at, semicolon - at));
    at = semicolon + 1;
  }
  EXPECT_EQ(fields.size(), 10u) << text;
  if (fields.size() != 10) return {};
  EXPECT_EQ(fields[4], "52.9");
  const auto join = [](const std::vector<std::string>& f) {
    std::string line;
    for (const std::string& x : f) line += (line.empty() ? "" : ";") + x;
    return line + "\n";
  };
  std::vector<std::string> bread = fields;
  bread[4] = "54.9";
  std::vector<std::string> butter = fields;
  butter[0] = "3";
  butter[2] = "Масло";
  butter[4] = "120";
  butter[7] = "";
  butter[9] = "0";
  return Utf8ToCp1251(join(bread) + text.substr(end + 1) + join(butter));
}

int Writes(const sim::RegisterState& s, std::uint8_t code) {
  return static_cast<int>(std::count(s.commandsExecuted.begin(), s.commandsExecuted.end(), code));
}
// Settings and goods writes.
int AllWrites(const sim::RegisterState& s) {
  return test::SettingsWrites(s) + Writes(s, test::kSetOperatorName) + Writes(s, test::kSetPosition) +
         Writes(s, kSetGoods);
}

// Three registers, their folders, the inventory and the playbook; the
// playbook runs of the suite, made once and checked by the tests below.
class Chain : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (::access(kAnsiblePlaybook, X_OK) != 0) return;
    dir = std::make_unique<test::TempDir>();
    std::string inventory = "[shops]\n";
    for (int k = 0; k < kHosts; ++k) {
      std::string slave;
      sims.push_back(test::StartSimulator(Shop(k), slave));
      ASSERT_FALSE(slave.empty());
      const std::string folder = dir->File(Host(k));
      std::filesystem::create_directory(folder);
      test::WriteAll(folder + "/ZarvikConfig.ini", test::CtlSettings(kPort, slave));
      inventory += Host(k) + " chdir=" + folder + " serial=" + test::FleetSerial(k) + "\n";
    }
    // The second register holds the chain's settings already.
    sims[1]->ModifyState([](sim::RegisterState& s) {
      s.options[0] = 0;
      s.departments[1].name = "Курьер";
      s.operatorNames[0] = "Иванова Анна Петровна";
    });
    inventory += "\n[shops:vars]\nansible_connection=local\nansible_python_interpreter=/usr/bin/python3\n";
    inventory += "port=" + std::to_string(kPort) + "\nconf=" + dir->File("chain.conf") +
                 "\nctl=" + ZARVIK_CTL_EXE + "\nprices=" + dir->File("prices.csv") + "\n";
    test::WriteAll(dir->File("inventory.ini"), inventory);
    test::WriteAll(dir->File("chain.conf"), kChainConf);
    const test::RunResult goods =
        test::RunCtl(dir->File(Host(0)), {"goods", "read-all", "--out", "base.csv"});
    ASSERT_EQ(goods.status, 0) << goods.err;
    test::WriteAll(dir->File("prices.csv"), PriceList(test::ReadAll(dir->File(Host(0) + "/base.csv"))));
    test::WriteAll(dir->File("site.yml"), kPlaybook);
    std::filesystem::create_directory(dir->File("home"));

    for (const auto& sim : sims) statesBefore.push_back(sim->State());
    // 1. Check mode with the differences shown; the third register answers
    // with another serial number.
    sims[2]->ModifyState([](sim::RegisterState& s) { s.serialNumber = "999999999999"; });
    check = Playbook({"--check", "--diff"});
    for (int k = 0; k < kHosts; ++k) {
      writesAfterCheck.push_back(AllWrites(sims[Index(k)]->State()));
      journalAfterCheck.push_back(std::filesystem::exists(dir->File(Host(k) + "/journal.txt")));
    }
    sims[2]->ModifyState([](sim::RegisterState& s) { s.serialNumber = test::FleetSerial(2); });
    // 2. The apply, then 3. the same again.
    apply = Playbook({});
    for (int k = 0; k < kHosts; ++k) {
      statesAfterApply.push_back(sims[Index(k)]->State());
      journalsAfterApply.push_back(test::ReadAll(dir->File(Host(k) + "/journal.txt")));
    }
    again = Playbook({});
  }
  static void TearDownTestSuite() {
    for (auto& s : sims)
      if (s) s->Close();
    sims.clear();
    dir.reset();
  }
  void SetUp() override {
    if (::access(kAnsiblePlaybook, X_OK) != 0)
      GTEST_SKIP() << kAnsiblePlaybook
                   << " is missing (Debian package ansible-core): the collection is not tested";
  }

  static std::vector<std::string> Environment() {
    return {"PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8", "HOME=" + dir->File("home"),
            "ANSIBLE_COLLECTIONS_PATH=" + std::string(ZARVIK_SOURCE_DIR) + "/ansible", "ANSIBLE_NOCOLOR=1",
            // ansible-doc imports the collection's files from the source tree.
            "PYTHONDONTWRITEBYTECODE=1", "ANSIBLE_RETRY_FILES_ENABLED=0",
            "ANSIBLE_LOCAL_TEMP=" + dir->File("home/tmp"), "ANSIBLE_FORKS=" + std::to_string(kHosts),
            "ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3"};
  }
  static Ran Playbook(const std::vector<std::string>& options) {
    std::vector<std::string> argv{kAnsiblePlaybook, "-i", "inventory.ini", "site.yml"};
    argv.insert(argv.end(), options.begin(), options.end());
    Ran r = RunProgram(dir->Path(), argv, Environment(), kPlaybookLimit);
    std::cout << "ansible-playbook " << (options.empty() ? "" : options[0]) << " over " << kHosts
              << " hosts: " << r.took.count() << " ms\n";
    return r;
  }

  static inline std::unique_ptr<test::TempDir> dir;
  static inline std::vector<std::unique_ptr<sim::Simulator>> sims;
  static inline Ran check;
  static inline Ran apply;
  static inline Ran again;
  static inline std::vector<sim::RegisterState> statesBefore;
  static inline std::vector<int> writesAfterCheck;
  static inline std::vector<bool> journalAfterCheck;
  static inline std::vector<sim::RegisterState> statesAfterApply;
  static inline std::vector<std::string> journalsAfterApply;
};

TEST_F(Chain, CheckModeWritesNothingAndReportsWhereTheFileDiffers) {
  ASSERT_EQ(writesAfterCheck.size(), static_cast<std::size_t>(kHosts));
  for (int k = 0; k < kHosts; ++k) EXPECT_EQ(writesAfterCheck[Index(k)], 0) << Host(k);
  const Recap first = RecapOf(check.out, Host(0));
  const Recap second = RecapOf(check.out, Host(1));
  // The first differs in three settings, the second holds the file's
  // settings; both differ from the price list, neither has the journal file.
  EXPECT_EQ(first.failed, 0) << check.out;
  EXPECT_EQ(first.changed, 3) << check.out;
  EXPECT_EQ(second.failed, 0) << check.out;
  EXPECT_EQ(second.changed, 2) << check.out;
  ASSERT_EQ(journalAfterCheck.size(), static_cast<std::size_t>(kHosts));
  for (int k = 0; k < kHosts; ++k) EXPECT_FALSE(journalAfterCheck[Index(k)]) << Host(k);
}

TEST_F(Chain, DiffShowsTheDifferingValuesAsBeforeAndAfterLines) {
  for (const char* line : {"-[options] 1 = 1", "+[options] 1 = 0", "-[departments] 2.name = \"Доставка\"",
                           "+[departments] 2.name = \"Курьер\"", "-[operators] 1.name = \"\"",
                           "+[operators] 1.name = \"Иванова Анна Петровна\"", "-1 цена = 52.90",
                           "+1 цена = 54.90", "+3: новый товар «Масло»"})
    EXPECT_TRUE(Has(check.out, line)) << line << "\n" << check.out;
}

TEST_F(Chain, AHostWhoseRegisterHasAnotherSerialNumberFailsAlone) {
  const Recap third = RecapOf(check.out, Host(2));
  EXPECT_EQ(third.failed, 1) << check.out;
  EXPECT_EQ(RecapOf(check.out, Host(0)).failed, 0);
  EXPECT_EQ(RecapOf(check.out, Host(1)).failed, 0);
  EXPECT_TRUE(Has(check.out, "fatal: [" + Host(2) + "]")) << check.out;
  EXPECT_TRUE(Has(check.out, "Серийный номер ККМ 999999999999 вместо " + test::FleetSerial(2))) << check.out;
  EXPECT_NE(check.status, 0);
}

TEST_F(Chain, TheApplyWritesExactlyTheDifferingValues) {
  ASSERT_EQ(statesAfterApply.size(), static_cast<std::size_t>(kHosts));
  EXPECT_EQ(apply.status, 0) << apply.out;
  for (int k = 0; k < kHosts; ++k) {
    const sim::RegisterState& s = statesAfterApply[Index(k)];
    SCOPED_TRACE(Host(k));
    const bool differed = k != 1;
    EXPECT_EQ(Writes(s, test::kSetOptions), differed ? 1 : 0);
    EXPECT_EQ(Writes(s, test::kSetDepartment), differed ? 1 : 0);
    EXPECT_EQ(Writes(s, test::kSetOperatorName), differed ? 1 : 0);
    EXPECT_EQ(test::SettingsWrites(s) + Writes(s, test::kSetOperatorName), differed ? 3 : 0);
    EXPECT_EQ(s.options[0], 0);
    EXPECT_EQ(s.departments[1].name, "Курьер");
    EXPECT_EQ(s.departments[0].name, "Бакалея");
    EXPECT_EQ(s.operatorNames[0], "Иванова Анна Петровна");
    // Only the changed goods: bread and the new butter, not the cheese.
    EXPECT_EQ(Writes(s, kSetGoods), 2);
    ASSERT_EQ(s.goods.count(1), 1u);
    ASSERT_EQ(s.goods.count(3), 1u);
    EXPECT_EQ(s.goods.at(1).price, 5490u);
    EXPECT_EQ(s.goods.at(1).sold, 87000u);
    EXPECT_EQ(s.goods.at(3).name, "Масло");
    EXPECT_EQ(s.goods.at(2), statesBefore[Index(k)].goods.at(2));
    // Settings, goods and the new journal file, or goods and the file.
    EXPECT_EQ(RecapOf(apply.out, Host(k)).changed, differed ? 3 : 2) << apply.out;
  }
}

TEST_F(Chain, ASecondApplyChangesNothingOnAnyHost) {
  EXPECT_EQ(again.status, 0) << again.out;
  for (int k = 0; k < kHosts; ++k) {
    const Recap r = RecapOf(again.out, Host(k));
    EXPECT_EQ(r.changed, 0) << Host(k) << "\n" << again.out;
    EXPECT_EQ(r.failed, 0) << Host(k);
    EXPECT_EQ(AllWrites(sims[Index(k)]->State()), AllWrites(statesAfterApply[Index(k)])) << Host(k);
  }
}

TEST_F(Chain, TheJournalFileEqualsZarvikctlJournalRead) {
  for (int k = 0; k < kHosts; ++k) {
    SCOPED_TRACE(Host(k));
    const std::string folder = dir->File(Host(k));
    const test::RunResult read = test::RunCtl(folder, {"journal", "read", "--out", "reference.txt"});
    ASSERT_EQ(read.status, 0) << read.err;
    const std::string reference = test::ReadAll(folder + "/reference.txt");
    EXPECT_TRUE(Has(Cp1251ToUtf8(reference), "по коду:2 ")) << Cp1251ToUtf8(reference);
    EXPECT_EQ(journalsAfterApply[Index(k)], reference);
    EXPECT_EQ(test::ReadAll(folder + "/journal.txt"), reference);
  }
}

TEST_F(Chain, TheInfoModuleReturnsTheRegisterWithItsGoodsCount) {
  for (int k = 0; k < 2; ++k)
    EXPECT_TRUE(
        Has(check.out, "\"msg\": \"register " + test::FleetSerial(k) + " Зарвик-ТЕСТ OFF-LINE, goods 2 of "))
        << Host(k) << "\n"
        << check.out;
  // Never changed: the check run's changes are those of the other modules.
  EXPECT_EQ(RecapOf(check.out, Host(0)).ok, 5) << check.out;
}

TEST_F(Chain, AnsibleDocPrintsEveryModulesDocumentation) {
  const std::vector<std::string> modules{"info", "config", "goods", "journal"};
  std::vector<std::string> argv{kAnsibleDoc};
  for (const std::string& m : modules) argv.push_back("zarvik.registers." + m);
  const Ran doc = RunProgram(dir->Path(), argv, Environment(), kPlaybookLimit);
  EXPECT_EQ(doc.status, 0) << doc.out;
  for (const std::string& m : modules) {
    // Each module's page: its title, the common options, examples, returns.
    const std::size_t at = doc.out.find("> ZARVIK.REGISTERS." + Utf8Upper(m) + " ");
    ASSERT_NE(at, std::string::npos) << m << "\n" << doc.out;
    const std::size_t end = doc.out.find("> ZARVIK.REGISTERS.", at + 1);
    const std::string page = doc.out.substr(at, end == std::string::npos ? std::string::npos : end - at);
    for (const char* part : {"serial", "chdir", "zarvikctl", "EXAMPLES", "RETURN VALUES"})
      EXPECT_TRUE(Has(page, part)) << m << ": " << part << "\n" << page;
  }
}

TEST_F(Chain, TheCollectionBuildsIntoATarball) {
  const Ran build =
      RunProgram(dir->Path(),
                 {kAnsibleGalaxy, "collection", "build",
                  std::string(ZARVIK_SOURCE_DIR) + "/ansible/ansible_collections/zarvik/registers",
                  "--output-path", dir->File("dist")},
                 Environment(), kPlaybookLimit);
  EXPECT_EQ(build.status, 0) << build.out;
  EXPECT_TRUE(std::filesystem::exists(dir->File("dist/zarvik-registers-1.0.0.tar.gz"))) << build.out;
}

}  // namespace
}  // namespace zarvik

#endif  // ZARVIK_CTL_EXE
