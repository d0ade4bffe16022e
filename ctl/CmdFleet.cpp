// fleet FLEETFILE COMMAND ...: one command on every register of a fleet file
// at once.
//
// Each register gets its own worker, a zarvikctl child process started with
// the register's port, speed, network number and expected serial number.
// Processes rather than threads: the core keeps process-wide state (the data
// module, the log file and its prefix, the message depth and console, the
// language table, the port device table, the stop signal), and a register's
// exchange must not share any of it with another's. A child has its own port,
// protocol state and backup; it tells the parent how it gets on in lines
// "@fleet KIND TEXT" on its standard error (serial, progress, done, refused,
// stopped) and its other messages are kept for the report.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "CtlOutput.h"
#include "CtlSession.h"
#include "port/Comport.h"
#include "port/NetLine.h"
#include "journal/ShopDay.h"
#include "port/PortDevices.h"
#include "shell/DiaLog.h"
#include "shell/IniFile.h"
#include "shell/ReportCells.h"
#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"

namespace zarvik::ctl {
namespace {

using Clock = std::chrono::steady_clock;

// How often the parent looks at its workers and redraws the live table.
constexpr std::chrono::milliseconds kFleetTick{200};
constexpr int kLowestNet = 1;
constexpr int kHighestNet = 98;
constexpr std::string_view kFleetMark = "@fleet ";

// Signals received by the parent while the fleet runs; each one is passed on
// to every worker (the first stops them at their next record, a second ends
// them at once).
std::atomic<int> gFleetSignals{0};
static_assert(std::atomic<int>::is_always_lock_free);
extern "C" void OnFleetSignal(int) {
  gFleetSignals.fetch_add(1);
}

struct FleetRegister {
  std::string name;
  int port = 0;
  int speed = 0;  // 0: the worker's default
  int net = 0;
  std::string serial;  // expected; empty: any
  std::string device;
};

enum class WorkerState { Waiting, Running, Done, Failed, Refused, Stopped, NotStarted };

std::string StateText(WorkerState s) {
  switch (s) {
    case WorkerState::Waiting: return "ожидает";
    case WorkerState::Running: return "работает";
    case WorkerState::Done: return "готово";
    case WorkerState::Failed: return "ошибка";
    case WorkerState::Refused: return "отказ";
    case WorkerState::Stopped: return "остановлен";
    case WorkerState::NotStarted: return "не запущен";
  }
  return {};
}

struct Worker {
  FleetRegister reg;
  WorkerState state = WorkerState::Waiting;
  pid_t pid = -1;
  int fds[2] = {-1, -1};  // standard output, standard error
  std::string lineBuf[2];
  std::string serial;
  std::string progress;
  std::string what;         // what was changed or read
  std::string message;      // the last message of the worker
  std::string lastOutLine;  // the last line of its standard output
  std::string outTemp;      // --out: the file the worker writes
  std::string outFile;      // --out: the file named by serial number
  int status = -1;
  int signaled = 0;
  Clock::time_point start;
  Clock::time_point end;
  double Seconds() const {
    if (state == WorkerState::Waiting || state == WorkerState::NotStarted) return 0.0;
    return std::chrono::duration<double>((state == WorkerState::Running ? Clock::now() : end) - start)
        .count();
  }
};

// A file name part from a serial number or a section name.
std::string FileNamePart(const std::string& text) {
  std::string out;
  for (const char c : text)
    out += (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_') ? c : '_';
  return out.empty() ? std::string("_") : out;
}

// What two devices have in common when they are one line: the server's host
// and port of a network line (one server port is one line, whichever way it
// is spoken to; host names match without regard to case), the file a device
// path leads to.
std::string SameDevice(const std::string& device) {
  TNetAddress net;
  if (ParseNetDevice(device, net))
    return "net " + Utf8Lower(net.host) + " " + std::to_string(std::atoi(net.port.c_str()));
  if (device.find('/') == std::string::npos) return device;
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::weakly_canonical(device, ec);
  return ec ? device : p.string();
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Removes a folder with what it holds when it goes out of scope.
class TFolderRemover {
 public:
  explicit TFolderRemover(std::string path) : path_(std::move(path)) {}
  ~TFolderRemover() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TFolderRemover(const TFolderRemover&) = delete;
  TFolderRemover& operator=(const TFolderRemover&) = delete;

 private:
  std::string path_;
};

std::string SecondsText(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", s);
  return buf;
}

}  // namespace

int TCtlSession::CmdFleet() {
  // fleet FLEETFILE COMMAND [SUB] [ARGS]
  if (words_.size() < 3) return Usage("fleet needs a FLEETFILE and a command");
  for (const char* option : {"port", "speed", "net", "serial", "fleet-worker"})
    if (args_.given.count(option) != 0)
      return Usage(std::string("--") + option +
                   " does not apply to fleet: each register has its own in FLEETFILE");
  const std::string fleetPath = words_[1];
  const std::vector<std::string> command(words_.begin() + 2, words_.end());
  const std::string c0 = Utf8Lower(command[0]);
  const std::string c1 = command.size() > 1 ? Utf8Lower(command[1]) : std::string();
  // What each worker runs, and what kind of file --out DIR gets per register.
  std::string outExtension;
  bool writes = false;
  // journal summary: the workers read the journals as data into a private
  // temporary folder, and the day table is made of them at the end.
  bool daySummary = false;
  std::vector<std::string> workerCommand = command;
  std::string outDir = args_.out;
  if (c0 == "info" && command.size() == 1) {
  } else if (c0 == "config" && (c1 == "diff" || c1 == "apply") && command.size() == 3) {
    writes = c1 == "apply";
  } else if (c0 == "goods" && c1 == "write" && command.size() == 3) {
  } else if (c0 == "goods" && c1 == "read-all" && command.size() == 2) {
    outExtension = ".csv";
  } else if (c0 == "journal" && c1 == "read" && command.size() == 2) {
    outExtension = ".txt";
  } else if (c0 == "journal" && c1 == "summary" && command.size() == 2) {
    outExtension = ".txt";
    daySummary = true;
    workerCommand = {"journal", "read", "--data"};
    outDir.clear();
  } else {
    return Usage(
        "fleet runs info, config diff FILE, config apply FILE, goods write FILE, goods read-all --out "
        "DIR, journal read --out DIR or journal summary [--out FILE]");
  }
  if (daySummary && !args_.out.empty() && !HasExtension(args_.out, ".csv") && !HasExtension(args_.out, ".xlsx"))
    return Usage("fleet journal summary: --out is a .csv or an .xlsx file");
  if (!outExtension.empty() && !daySummary && args_.out.empty())
    return Usage("fleet " + c0 + " " + c1 +
                 " needs --out DIR (one file per register, named by serial number)");
  if (outExtension.empty() && !args_.out.empty()) return Usage("--out does not apply to fleet " + c0);
  const auto allowed = [&](std::string_view option) {
    if (option == "dry-run") return c1 == "apply" || c1 == "write";
    if (option == "all") return c1 == "write";
    if (option == "no-backup") return c1 == "apply" || c1 == "write";
    if (option == "reset-sold") return c1 == "write";
    if (option == "data") return c0 == "journal" && !daySummary;
    if (option == "sheet" || option == "column") return c0 == "goods" && c1 == "write";
    return true;
  };
  if (args_.given.count("utf8") != 0 && !daySummary) return Usage("--utf8 applies to fleet journal summary only");
  for (const char* option : {"dry-run", "no-backup", "reset-sold", "data", "all", "sheet", "column"})
    if (args_.given.count(option) != 0 && !allowed(option))
      return Usage(std::string("--") + option + " does not apply to fleet " + c0 +
                   (c1.empty() ? "" : " " + c1));
  if (writes && args_.configStop)
    return Usage("config apply: writing settings to the register is switched off by CONFIG_STOP");
  if (!args_.report.empty() && !HasExtension(args_.report, ".csv") && !HasExtension(args_.report, ".json"))
    return Usage("--report: the report is a .csv or a .json file");

  // The fleet file: one section per register.
  if (!std::filesystem::exists(fleetPath)) return Fail("не найден файл " + fleetPath);
  const TIniFile fleet = [&] {
    // Code page 1251 as ZarvikConfig.ini, or UTF-8 as the configuration
    // files kept beside it: the names are the report's and the log's.
    TIniFile file(fleetPath);
    if (!file.Problem().empty()) return file;
    const std::string bytes = FileBytes(fleetPath);
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; });
    return !ascii && IsUtf8Text(bytes) ? TIniFile::FromText(bytes) : file;
  }();
  if (!fleet.Problem().empty()) return Fail(fleet.Problem());
  std::vector<Worker> workers;
  std::map<std::string, std::string> devices;  // device -> section
  std::vector<std::string> problems;
  std::set<std::string> names;  // sections, as the INI file matches them
  for (const std::string& section : fleet.ReadSections()) {
    // A second section of the same name would read the first one's keys.
    if (!names.insert(Utf8Lower(section)).second) {
      problems.push_back("[" + section + "] is named twice");
      continue;
    }
    FleetRegister r;
    r.name = section;
    std::set<std::string> keys;
    for (const std::string& key : fleet.ReadSection(section)) {
      const std::string k = Utf8Lower(key);
      if (k != "port" && k != "speed" && k != "net" && k != "serial")
        problems.push_back("[" + section + "] " + key + ": unknown key (port, speed, net, serial)");
      else if (!keys.insert(k).second)
        problems.push_back("[" + section + "] " + key + "= is given twice");
    }
    const auto number = [&](std::string_view key, std::int64_t low, std::int64_t high, int& out) {
      if (!fleet.ValueExists(section, key)) return true;
      std::int64_t v = 0;
      const std::string text = fleet.ReadString(section, key, "");
      if (!ParseInteger(text, low, high, v)) {
        problems.push_back("[" + section + "] " + std::string(key) + "=" + text + " is not a number " +
                           std::to_string(low) + ".." + std::to_string(high));
        return false;
      }
      out = static_cast<int>(v);
      return true;
    };
    if (!fleet.ValueExists(section, "port")) {
      problems.push_back("[" + section + "] needs port=");
      continue;
    }
    if (!number("port", kMinPortNumber, kMaxPortNumber, r.port)) continue;
    number("net", kLowestNet, kHighestNet, r.net);
    if (number("speed", 1, INT_MAX, r.speed) && r.speed > 0 &&
        !IsAllowedBaudRate(static_cast<std::uint32_t>(r.speed)))
      problems.push_back("[" + section + "] speed=" + std::to_string(r.speed) +
                         " is not a speed of the port");
    r.serial = fleet.ReadString(section, "serial", "");
    r.device = PortDevicePath(r.port);
    if (r.device.empty()) {
      problems.push_back("[" + section + "] port " + std::to_string(r.port) + " has no device (section \"" +
                         std::string(kDevicesSection) + "\" of ZarvikConfig.ini)");
      continue;
    }
    // Two workers on one device would talk over each other.
    const auto [it, fresh] = devices.emplace(SameDevice(r.device), section);
    if (!fresh) {
      problems.push_back("[" + section + "] and [" + it->second + "] name the same device " + r.device);
      continue;
    }
    Worker w;
    w.reg = r;
    workers.push_back(std::move(w));
  }
  if (workers.empty() && problems.empty()) problems.push_back(fleetPath + " names no register");
  if (!problems.empty()) {
    for (const std::string& p : problems)
      std::fprintf(err_, "zarvikctl: %s: %s\n", fleetPath.c_str(), p.c_str());
    std::fprintf(err_, "Nothing was started.\n");
    return ceUsage;
  }
  if (daySummary) {
    std::error_code ec;
    const std::filesystem::path temp =
        std::filesystem::temp_directory_path(ec) / ("zarvikctl-day-" + std::to_string(::getpid()));
    // The journals are the shop's business: readable by their owner only.
    if (ec || !std::filesystem::create_directory(temp, ec) || ec)
      return Fail("не удалось создать папку " + temp.string());
    std::filesystem::permissions(temp, std::filesystem::perms::owner_all, ec);
    outDir = temp.string();
  }
  // The temporary folder of the day's journals goes on every way out.
  const TFolderRemover removeTemp(daySummary ? outDir : std::string());
  if (!outExtension.empty()) EnsureFolder(outDir);

  char exe[4096];
  const ssize_t len = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (len <= 0) return Fail("не найдена программа zarvikctl");
  exe[len] = '\0';

  const auto launch = [&](Worker& w) {
    std::vector<std::string> a{exe, "--fleet-worker", w.reg.name, "--port", std::to_string(w.reg.port)};
    if (w.reg.speed > 0) a.insert(a.end(), {"--speed", std::to_string(w.reg.speed)});
    if (w.reg.net > 0) a.insert(a.end(), {"--net", std::to_string(w.reg.net)});
    if (!w.reg.serial.empty()) a.insert(a.end(), {"--serial", w.reg.serial});
    if (!args_.depth.empty()) a.insert(a.end(), {"--depth", args_.depth});
    a.insert(a.end(), workerCommand.begin(), workerCommand.end());
    if (args_.dryRun) a.push_back("--dry-run");
    if (args_.noBackup) a.push_back("--no-backup");
    if (args_.resetSold) a.push_back("--reset-sold");
    if (args_.all) a.push_back("--all");
    if (args_.data && !daySummary) a.push_back("--data");
    // How the goods are found in a spreadsheet.
    if (!args_.sheet.empty()) a.insert(a.end(), {"--sheet", args_.sheet});
    for (const std::string& column : args_.columns) a.insert(a.end(), {"--column", column});
    if (args_.configStop) a.push_back("CONFIG_STOP");
    if (!outExtension.empty()) {
      // Named by the run and the worker's place in it: section names may
      // differ only in what no file name keeps (letters outside ASCII).
      w.outTemp = JoinPath(outDir, ".fleet" + std::to_string(::getpid()) + "_" +
                                          std::to_string(&w - workers.data() + 1) + ".part" + outExtension);
      a.insert(a.end(), {"--out", w.outTemp});
    }
    std::vector<char*> argv;
    for (std::string& s : a) argv.push_back(s.data());
    argv.push_back(nullptr);
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) return false;
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
      ::close(outPipe[0]);
      ::close(outPipe[1]);
      return false;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
      // Its own process group: Ctrl-C on the terminal reaches the parent
      // alone, which passes it on once to each worker.
      ::setpgid(0, 0);
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);
      const int null = ::open("/dev/null", O_RDONLY);
      ::dup2(null, 0);
      ::dup2(outPipe[1], 1);
      ::dup2(errPipe[1], 2);
      ::execv(exe, argv.data());
      ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (pid < 0) {
      ::close(outPipe[0]);
      ::close(errPipe[0]);
      return false;
    }
    w.pid = pid;
    w.fds[0] = outPipe[0];
    w.fds[1] = errPipe[0];
    w.state = WorkerState::Running;
    w.start = Clock::now();
    return true;
  };

  const auto takeLine = [](Worker& w, int k, const std::string& line) {
    if (k == 0) {
      if (!line.empty()) w.lastOutLine = line;
      return;
    }
    if (line.rfind(kFleetMark, 0) == 0) {
      const std::string rest = line.substr(kFleetMark.size());
      const std::size_t sp = rest.find(' ');
      const std::string kind = rest.substr(0, sp);
      const std::string text = sp == std::string::npos ? std::string() : rest.substr(sp + 1);
      if (kind == "serial") {
        w.serial = text;
      } else if (kind == "progress") {
        // "LABEL DONE TOTAL"
        std::string label = text;
        std::string counts;
        const std::size_t a = text.rfind(' ');
        if (a != std::string::npos) {
          const std::size_t b = text.rfind(' ', a - 1);
          if (b != std::string::npos) {
            label = text.substr(0, b);
            const std::string done = text.substr(b + 1, a - b - 1);
            const std::string total = text.substr(a + 1);
            counts = total == "0" ? (done == "0" ? "" : done) : done + "/" + total;
          }
        }
        w.progress = counts.empty() ? label : label + " " + counts;
      } else if (kind == "done") {
        w.what = text;
      } else if (kind == "refused" || kind == "stopped") {
        w.message = text;
        if (kind == "refused") w.what = "не записано";
      }
      return;
    }
    // The worker's own messages; the last one explains a failure.
    std::string t = line;
    while (!t.empty() && (t.back() == '\r' || t.back() == ' ')) t.pop_back();
    if (t.rfind("\r", 0) == 0) return;  // a progress line of a terminal
    if (!t.empty() && (t.rfind("Error:", 0) == 0 || w.message.empty())) w.message = t;
  };

  const auto finish = [&](Worker& w, int status) {
    w.end = Clock::now();
    w.pid = -1;
    if (WIFSIGNALED(status)) {
      w.signaled = WTERMSIG(status);
      w.state = WorkerState::Failed;
      w.message = "завершен сигналом " + std::to_string(w.signaled);
      return;
    }
    w.status = WEXITSTATUS(status);
    if (w.status == ceOk) {
      w.state = WorkerState::Done;
    } else if (w.status == ceInterrupted) {
      w.state = WorkerState::Stopped;
    } else if (!w.reg.serial.empty() && !w.serial.empty() && w.serial != w.reg.serial) {
      w.state = WorkerState::Refused;
    } else if (w.what == "не записано") {
      w.state = WorkerState::Refused;
    } else {
      w.state = WorkerState::Failed;
    }
    if (w.state == WorkerState::Done && w.what.empty()) w.what = w.lastOutLine;
    if (!w.outTemp.empty()) {
      std::error_code ec;
      if (w.state == WorkerState::Done && std::filesystem::exists(w.outTemp, ec)) {
        // Named by the serial number the register reported.
        std::string stem = FileNamePart(w.serial.empty() ? w.reg.name : w.serial);
        std::string path = JoinPath(outDir, stem + outExtension);
        for (int n = 2;
             std::any_of(workers.begin(), workers.end(), [&](const Worker& o) { return o.outFile == path; });
             ++n)
          path = JoinPath(outDir, stem + "_" + std::to_string(n) + outExtension);
        std::filesystem::rename(w.outTemp, path, ec);
        if (ec) {
          w.state = WorkerState::Failed;
          w.message = "не удалось переименовать " + w.outTemp + ": " + ec.message();
        } else {
          w.outFile = path;
          w.what = (w.what.empty() ? std::string() : w.what + "; ") + path;
          Mess("[" + w.reg.name + "] " + w.outTemp + " -> " + path, false, false, true);
        }
      } else {
        // A register whose file is missing has not done what was asked.
        if (w.state == WorkerState::Done) {
          w.state = WorkerState::Failed;
          w.message = "не записан файл " + w.outTemp;
        }
        std::filesystem::remove(w.outTemp, ec);
      }
    }
  };

  // The live table on a terminal; elsewhere a line per register that ends.
  const bool live = ::isatty(::fileno(err_)) == 1;
  std::size_t drawn = 0;
  const auto draw = [&] {
    if (!live) return;
    std::string text;
    if (drawn > 0) text += "\x1b[" + std::to_string(drawn) + "A";
    drawn = 0;
    const auto row = [&](const std::string& a, const std::string& b, const std::string& c,
                         const std::string& d, const std::string& e) {
      const auto pad = [](std::string s, std::size_t width) {
        const std::size_t n = Utf8Length(s);
        if (n < width) s.append(width - n, ' ');
        return s;
      };
      text +=
          "\r\x1b[K" + pad(a, 16) + " " + pad(b, 7) + " " + pad(c, 14) + " " + pad(d, 11) + " " + e + "\n";
      ++drawn;
    };
    row("Касса", "Порт", "Серийный №", "Состояние", "Ход");
    for (const Worker& w : workers)
      row(w.reg.name, "COM" + std::to_string(w.reg.port), w.serial, StateText(w.state),
          w.state == WorkerState::Running
              ? w.progress + " " + SecondsText(w.Seconds()) + " s"
              : (w.state == WorkerState::Waiting ? "" : SecondsText(w.Seconds()) + " s"));
    std::fputs(text.c_str(), err_);
    std::fflush(err_);
  };
  const auto said = [&](const Worker& w) {
    if (live) return;
    std::fprintf(err_, "%s: %s (%s s)%s%s\n", w.reg.name.c_str(), StateText(w.state).c_str(),
                 SecondsText(w.Seconds()).c_str(),
                 w.message.empty() || w.state == WorkerState::Done ? "" : ": ",
                 w.state == WorkerState::Done ? "" : w.message.c_str());
    std::fflush(err_);
  };

  struct sigaction sa {};
  struct sigaction oldInt {};
  struct sigaction oldTerm {};
  sa.sa_handler = OnFleetSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  gFleetSignals = 0;
  ::sigaction(SIGINT, &sa, &oldInt);
  ::sigaction(SIGTERM, &sa, &oldTerm);

  const std::size_t jobs = args_.jobs > 0 ? static_cast<std::size_t>(args_.jobs) : workers.size();
  const Clock::time_point started = Clock::now();
  int passed = 0;  // signals passed on to the workers
  auto lastDraw = Clock::now() - kFleetTick;
  for (;;) {
    const int signals = gFleetSignals.load();
    for (; passed < signals; ++passed) {
      for (Worker& w : workers) {
        if (w.state == WorkerState::Running && w.pid > 0) ::kill(w.pid, SIGINT);
        if (w.state == WorkerState::Waiting) w.state = WorkerState::NotStarted;
      }
    }
    std::size_t running = 0;
    for (const Worker& w : workers) running += w.state == WorkerState::Running ? 1 : 0;
    for (Worker& w : workers) {
      if (running >= jobs || signals > 0) break;
      if (w.state != WorkerState::Waiting) continue;
      if (launch(w)) {
        ++running;
      } else {
        w.state = WorkerState::Failed;
        w.message = "не удалось запустить zarvikctl";
        said(w);
      }
    }
    if (running == 0 && std::none_of(workers.begin(), workers.end(),
                                     [](const Worker& w) { return w.state == WorkerState::Waiting; }))
      break;
    std::vector<pollfd> fds;
    std::vector<std::pair<Worker*, int>> owners;
    for (Worker& w : workers)
      for (int k = 0; k < 2; ++k)
        if (w.fds[k] >= 0) {
          fds.push_back({w.fds[k], POLLIN, 0});
          owners.emplace_back(&w, k);
        }
    if (!fds.empty()) ::poll(fds.data(), fds.size(), static_cast<int>(kFleetTick.count()));
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      auto [w, k] = owners[i];
      char buf[4096];
      const ssize_t n = ::read(w->fds[k], buf, sizeof buf);
      if (n <= 0) {
        ::close(w->fds[k]);
        w->fds[k] = -1;
        if (!w->lineBuf[k].empty()) takeLine(*w, k, w->lineBuf[k]);
        w->lineBuf[k].clear();
        continue;
      }
      std::string& b = w->lineBuf[k];
      b.append(buf, static_cast<std::size_t>(n));
      for (std::size_t nl; (nl = b.find('\n')) != std::string::npos;) {
        takeLine(*w, k, b.substr(0, nl));
        b.erase(0, nl + 1);
      }
    }
    for (Worker& w : workers) {
      if (w.state != WorkerState::Running || w.fds[0] >= 0 || w.fds[1] >= 0) continue;
      int status = 0;
      if (::waitpid(w.pid, &status, 0) == w.pid) {
        finish(w, status);
        said(w);
      }
    }
    if (Clock::now() - lastDraw >= kFleetTick) {
      draw();
      lastDraw = Clock::now();
    }
  }
  draw();
  ::sigaction(SIGINT, &oldInt, nullptr);
  ::sigaction(SIGTERM, &oldTerm, nullptr);
  const double total = std::chrono::duration<double>(Clock::now() - started).count();

  // The report.
  const std::string commandText = [&] {
    std::string t;
    for (const std::string& s : command) t += (t.empty() ? "" : " ") + s;
    return t;
  }();
  CtlTable table{{"Касса", "Порт", "Серийный №", "Результат", "Время, с", "Что сделано", "Сообщение"}, {}};
  int ok = 0;
  for (const Worker& w : workers) {
    ok += w.state == WorkerState::Done ? 1 : 0;
    table.rows.push_back({w.reg.name, "COM" + std::to_string(w.reg.port), w.serial, StateText(w.state),
                          SecondsText(w.Seconds()), w.what, w.state == WorkerState::Done ? "" : w.message});
  }
  PrintTable(out_, table, args_.csv);
  const std::string summary = "Выполнено на " + std::to_string(ok) + " из " + std::to_string(workers.size()) +
                              " ККМ за " + SecondsText(total) + " с: " + commandText;
  PrintLine(out_, summary);
  Mess(summary, false, false, true);
  if (!args_.report.empty()) {
    std::string text;
    if (HasExtension(args_.report, ".json")) {
      text = "{\n  \"command\": " + JsonText(commandText) + ",\n  \"seconds\": " + SecondsText(total) +
             ",\n  \"registers\": [\n";
      for (std::size_t i = 0; i < workers.size(); ++i) {
        const Worker& w = workers[i];
        text += "    {\"name\": " + JsonText(w.reg.name) + ", \"port\": " + std::to_string(w.reg.port) +
                ", \"serial\": " + JsonText(w.serial) + ", \"expected_serial\": " + JsonText(w.reg.serial) +
                ", \"result\": " + JsonText(StateText(w.state)) +
                ", \"ok\": " + (w.state == WorkerState::Done ? "true" : "false") +
                ", \"exit_status\": " + std::to_string(w.status) +
                ", \"seconds\": " + SecondsText(w.Seconds()) + ", \"what\": " + JsonText(w.what) +
                ", \"message\": " + JsonText(w.message) + "}" + (i + 1 < workers.size() ? ",\n" : "\n");
      }
      text += "  ]\n}\n";
    } else {
      // Semicolons and code page 1251, as the program's other CSV files.
      text = "Касса;Порт;Серийный №;Ожидался №;Результат;Код;Время, с;Что сделано;Сообщение\r\n";
      for (const Worker& w : workers)
        text += CsvCell(w.reg.name) + ";" + std::to_string(w.reg.port) + ";" + CsvCell(w.serial) + ";" +
                CsvCell(w.reg.serial) + ";" + StateText(w.state) + ";" + std::to_string(w.status) + ";" +
                SecondsText(w.Seconds()) + ";" + CsvCell(w.what) + ";" + CsvCell(w.message) + "\r\n";
      text = Utf8ToCp1251(text);
    }
    if (!WriteTextFile(args_.report, text)) return Fail("не удалось записать файл " + args_.report);
  }
  if (gFleetSignals.load() > 0) return ceInterrupted;
  if (daySummary) {
    std::vector<TShopJournal> journals;
    for (const Worker& w : workers) {
      if (w.state != WorkerState::Done || w.outFile.empty()) continue;
      journals.push_back({w.reg.name, w.serial, JournalRecordLines(FileBytes(w.outFile))});
    }
    const int rc = FleetDaySummary(journals);
    if (rc != ceOk) return rc;
  }
  return ok == static_cast<int>(workers.size()) ? ceOk : ceFailed;
}

}  // namespace zarvik::ctl
