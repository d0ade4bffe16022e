// zarvikctl as a child process of a test: started in a folder with its own
// ZarvikConfig.ini, its standard output and error collected, signalled,
// and never waited for without a limit (a child that overstays is killed).
#pragma once

#ifdef ZARVIK_CTL_EXE

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace zarvik::test {

// Longer than any zarvikctl command of the tests takes when it works, even
// in a sanitizer build on a busy machine: a command that takes longer is
// taken for hung. Tests check what a command did, not how fast it was.
inline constexpr std::chrono::milliseconds kCtlHangLimit{20000};

struct RunResult {
  int status = -1;     // exit status; -1 when killed by a signal or not started
  int termSignal = 0;  // the signal that ended it, if one did
  bool timedOut = false;
  std::string out;
  std::string err;
  std::chrono::milliseconds took{0};
};

class CtlProcess {
 public:
  // Starts zarvikctl with `args` in `folder`, `input` on its standard input;
  // standard error is a pipe, or with `errTerminal` a pseudo-terminal.
  // `argv0` replaces the program's name in its argument list.
  // `env` adds "NAME=VALUE" entries to the child's environment.
  CtlProcess(const std::string& folder, const std::vector<std::string>& args, const std::string& input = {},
             bool errTerminal = false, const std::string& argv0 = {},
             const std::vector<std::string>& env = {}) {
    start_ = std::chrono::steady_clock::now();
    std::vector<std::string> argStore{argv0.empty() ? std::string(ZARVIK_CTL_EXE) : argv0};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    // A fixed locale, so that numbers are written with a point.
    std::string lang = "LC_ALL=C.UTF-8";
    std::string path = "PATH=/usr/bin:/bin";
    std::vector<std::string> envStore{lang, path};
    envStore.insert(envStore.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (std::string& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);

    int outPipe[2];
    int errPipe[2];
    int inPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0 ||
        ::pipe2(inPipe, O_CLOEXEC) != 0)
      return;
    if (errTerminal) {
      // The master side takes the place of the pipe's read end.
      const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
      const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
      termios tio{};
      ::tcgetattr(slave, &tio);
      ::cfmakeraw(&tio);
      ::tcsetattr(slave, TCSANOW, &tio);
      ::close(errPipe[0]);
      ::close(errPipe[1]);
      errPipe[0] = master;
      errPipe[1] = slave;
    }
    const std::string exe = ZARVIK_CTL_EXE;
    pid_ = ::fork();
    if (pid_ == 0) {
      // A test process that is killed takes its children with it.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::dup2(inPipe[0], 0);
      ::dup2(outPipe[1], 1);
      ::dup2(errPipe[1], 2);
      if (::chdir(folder.c_str()) != 0) ::_exit(126);
      ::execve(exe.c_str(), argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ::close(inPipe[0]);
    if (!input.empty() && ::write(inPipe[1], input.data(), input.size()) < 0) input_failed_ = true;
    ::close(inPipe[1]);
    fds_[0] = outPipe[0];
    fds_[1] = errPipe[0];
  }
  ~CtlProcess() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    for (const int fd : fds_)
      if (fd >= 0) ::close(fd);
  }
  CtlProcess(const CtlProcess&) = delete;
  CtlProcess& operator=(const CtlProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  void Signal(int sig) const {
    if (pid_ > 0 && !reaped_) ::kill(pid_, sig);
  }
  // Collects the output until `seen` holds for what the child has written
  // so far (its standard output and error), the child has closed both, or
  // `limit` has passed; whether `seen` held. What was read stays for Wait.
  // A test waits for an event of the child this way, never for a delay.
  bool WaitFor(const std::function<bool(const std::string& out, const std::string& err)>& seen,
               std::chrono::milliseconds limit = std::chrono::seconds(120)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!seen(out_, err_)) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(left)) return seen(out_, err_);
    }
    return true;
  }

  // Takes what the child has written so far, waiting at most `slice` for
  // it: a test that waits on something else (the line, a file) calls this
  // in its loop, so that a talkative child never stops on a full pipe.
  void Pump(std::chrono::milliseconds slice) {
    if (pid_ > 0 && !reaped_) ReadSome(slice);
  }

  // Collects the output until the child ends; a child still running after
  // `limit` is killed and the result says so.
  RunResult Wait(std::chrono::milliseconds limit = std::chrono::seconds(120)) {
    RunResult result;
    if (pid_ <= 0 || reaped_) return result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        result.timedOut = true;
        ::kill(pid_, SIGKILL);
        break;
      }
      if (!ReadSome(left)) break;
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    reaped_ = true;
    result.out = std::move(out_);
    result.err = std::move(err_);
    result.took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.termSignal = WTERMSIG(status);
    return result;
  }

 private:
  // Reads what is there, waiting at most `limit` for something; false once
  // both streams are closed.
  bool ReadSome(std::chrono::milliseconds limit) {
    std::string* sinks[2] = {&out_, &err_};
    pollfd fds[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    if (fds_[0] < 0 && fds_[1] < 0) return false;
    if (::poll(fds, 2, static_cast<int>(limit.count())) <= 0) return true;
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      char buf[4096];
      const ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[k]->append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        ::close(fds_[k]);
        fds_[k] = -1;
      }
    }
    return fds_[0] >= 0 || fds_[1] >= 0;
  }

  pid_t pid_ = -1;
  bool reaped_ = false;
  bool input_failed_ = false;
  int fds_[2] = {-1, -1};
  std::chrono::steady_clock::time_point start_;
  std::string out_;
  std::string err_;
};

// The highest count that progress lines ("\r<label>: N" or
// "\r<label>: N / M", written when standard error is a terminal) have shown
// in `err`; 0 before the first.
inline int ProgressShown(const std::string& err, const std::string& label) {
  const std::string mark = "\r" + label + ": ";
  int highest = 0;
  for (std::size_t at = err.find(mark); at != std::string::npos; at = err.find(mark, at + 1)) {
    highest = std::max(highest, std::atoi(err.c_str() + at + mark.size()));
  }
  return highest;
}

inline RunResult RunCtl(const std::string& folder, const std::vector<std::string>& args,
                        const std::string& input = {}, bool errTerminal = false,
                        const std::string& argv0 = {}) {
  CtlProcess process(folder, args, input, errTerminal, argv0);
  return process.Wait();
}

}  // namespace zarvik::test

#endif  // ZARVIK_CTL_EXE
