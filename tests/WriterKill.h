// Child processes that write files and are killed with SIGKILL, for the tests
// of writes that must survive a process killed in the middle: the file then
// holds the old content or the new one, a log loses at most its last line.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace zarvik::test {

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

// Starts `loop` (a writer that runs until killed) in a child process, kills
// the child with SIGKILL `delay` after it has started and waits for it. True
// when the child was killed rather than ending by itself.
inline bool KillWriterAfter(const std::function<void()>& loop, std::chrono::microseconds delay) {
  int ready[2];
  if (::pipe(ready) != 0) return false;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(ready[0]);
    ::close(ready[1]);
    return false;
  }
  if (child == 0) {
    ::close(ready[0]);
    const char go = 'g';
    if (::write(ready[1], &go, 1) != 1) ::_exit(3);
    ::close(ready[1]);
    loop();
    ::_exit(0);
  }
  ::close(ready[1]);
  char go = 0;
  if (::read(ready[0], &go, 1) == 1) std::this_thread::sleep_for(delay);
  ::close(ready[0]);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  return KilledBySigkill(status);
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
