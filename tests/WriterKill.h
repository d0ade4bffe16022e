// Child processes that write files and are killed with SIGKILL, for the tests
// of writes that must survive a process killed in the middle: the file then
// holds the old content or the new one, a log loses at most its last line.
//
// A kill falls on an event of the writer, never after a guessed delay: the
// child reports each step it has made through a pipe, and the parent kills
// it as soon as the chosen step is reported, however slowly the child runs.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "shell/U_filedirwork.h"

namespace zarvik::test {

using namespace std::chrono_literals;

// How long the parent waits for the next step of a writer before it takes the
// writer for hung: far beyond what any step takes, even in a sanitizer build
// on a machine busy with other work.
inline constexpr std::chrono::milliseconds kWriterStepWait = 60s;

// Runs `body` in a child process and waits for it; the raw wait status, or
// -1 when no child could be started. The child ends with _exit, so nothing
// of the test process runs twice.
inline int RunInChild(const std::function<void()>& body) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    body();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

inline bool KilledBySigkill(int status) {
  return status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

// Tells the parent that the writer has made one more step.
using StepReport = std::function<void()>;

struct WriterKill {
  bool killed = false;  // the child died of the SIGKILL, not by itself
  int steps = 0;        // steps the child had reported when it was killed
};

// Starts `writer` (a loop that runs until killed and calls its StepReport
// after each step) in a child process, kills the child with SIGKILL once it
// has reported `steps` steps (at once when `steps` is 0) and waits for it.
// A child that stops reporting for `stepWait` is killed all the same, and the
// result shows fewer steps than asked for.
inline WriterKill KillWriterAtStep(const std::function<void(const StepReport&)>& writer, int steps,
                                   std::chrono::milliseconds stepWait = kWriterStepWait) {
  WriterKill result;
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return result;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return result;
  }
  if (child == 0) {
    ::close(pipeFds[0]);
    const int out = pipeFds[1];
    const StepReport report = [out] {
      const char step = 's';
      while (::write(out, &step, 1) != 1) {
        if (errno != EINTR) ::_exit(3);
      }
    };
    writer(report);
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  while (result.steps < steps) {
    pollfd p{pipeFds[0], POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(stepWait.count()));
    if (ready < 0 && errno == EINTR) continue;
    char step = 0;
    if (ready <= 0 || ::read(pipeFds[0], &step, 1) != 1) break;  // hung or gone
    ++result.steps;
  }
  ::kill(child, SIGKILL);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  result.killed = KilledBySigkill(status);
  return result;
}

// For a writer child: every stage of every file write (WriteTextFile) is
// reported as a step, so that a kill falls at a chosen stage of a write the
// child is known to be making.
inline void ReportEveryFileWriteStage(const StepReport& report) {
  static const StepReport* current = nullptr;
  current = &report;
  SetFileWriteHook([](FileWriteStage) {
    (*current)();
    return true;
  });
}

// How many files of `folder` have names ending with ".tmp".
inline int CountTemporaryFiles(const std::string& folder) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    n += e.path().filename().string().ends_with(".tmp") ? 1 : 0;
  }
  return n;
}

inline void RemoveTemporaryFiles(const std::string& folder) {
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    if (e.path().filename().string().ends_with(".tmp")) std::filesystem::remove(e.path());
  }
}

}  // namespace zarvik::test
