// Part of bench_soak, which alone includes it (each part includes the one
// before it: Options, Judgement, Faults, Process, Operations, Report):
// zarvikctl as a child process, and the files it leaves (goods and journal
// tables) read back.
#pragma once

#include "SoakFaults.h"

namespace {

// ---------------------------------------------------------------------------
// zarvikctl as a child process.

struct CtlRun {
  int status = -1;  // exit status; -1 when ended by a signal
  int signal = 0;
  bool killed = false;  // by this program, on purpose
  bool hung = false;    // still running at its limit
  std::string out;
  std::string err;
  double seconds = 0;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

CtlRun RunCtl(const std::string& exe, const std::string& folder, const std::vector<std::string>& args,
              std::optional<Seconds> killAfter, Seconds limit) {
  CtlRun run;
  const std::string outPath = folder + "/ctl-out.txt";
  const std::string errPath = folder + "/ctl-err.txt";
  std::vector<std::string> argStore{exe};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string lang = "LC_ALL=C.UTF-8";
  std::string path = "PATH=/usr/bin:/bin";
  char* envp[] = {lang.data(), path.data(), nullptr};
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only what is safe between fork and exec in a process with threads.
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execve(exe.c_str(), argv.data(), envp);
    ::_exit(127);
  }
  if (pid < 0) return run;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    const Seconds took = Clock::now() - start;
    if (!run.killed && killAfter && took >= *killAfter) {
      ::kill(pid, SIGKILL);
      run.killed = true;
    } else if (!run.killed && took >= limit) {
      ::kill(pid, SIGKILL);
      run.hung = true;
      run.killed = true;
    }
    std::this_thread::sleep_for(kChildPoll);
  }
  run.seconds = Seconds(Clock::now() - start).count();
  if (WIFEXITED(status)) {
    run.status = WEXITSTATUS(status);
    run.killed = false;  // it ended by itself before the signal came
    run.hung = false;
  } else if (WIFSIGNALED(status)) {
    run.signal = WTERMSIG(status);
  }
  run.out = ReadFile(outPath);
  run.err = ReadFile(errPath);
  return run;
}

// A ";"-separated line as zarvikctl --csv writes it (fields quoted by
// QuoteCsvField).
std::vector<std::string> SplitCsvLine(const std::string& line) {
  std::vector<std::string> cells;
  std::size_t i = 0;
  for (;;) {
    std::string cell;
    if (i < line.size() && line[i] == '"') {
      ++i;
      while (i < line.size()) {
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            cell.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        cell.push_back(line[i++]);
      }
      while (i < line.size() && line[i] != ';') cell.push_back(line[i++]);
    } else {
      while (i < line.size() && line[i] != ';') cell.push_back(line[i++]);
    }
    cells.push_back(cell);
    if (i >= line.size()) break;
    ++i;  // the separator
  }
  return cells;
}

std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (header) {
      header = false;
      continue;
    }
    rows.push_back(SplitCsvLine(line));
  }
  return rows;
}

// "123,45" or "123.45" roubles in kopecks; -1 when not such a number.
std::int64_t Kopecks(const std::string& text) {
  zarvik::Currency c;
  std::string t = text;
  std::replace(t.begin(), t.end(), ',', '.');
  if (!zarvik::CurrencyFromText(t, c)) return -1;
  return c.raw / (zarvik::Currency::kScale / 100);
}

}  // namespace
