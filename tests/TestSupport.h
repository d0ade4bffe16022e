// Small fixtures shared by the core tests: a temporary folder, a
// pseudo-terminal pair, a console that records its lines, UI hooks that
// record boxes and answer questions, and a guard that restores the switches
// and the message state after a test.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "shell/DiaLog.h"
#include "shell/ProjectsVars.h"
#include "shell/UiHooks.h"

namespace zarvik::test {

// A local time as a clock value.
inline std::chrono::system_clock::time_point LocalTime(int year, int month, int day, int hour, int minute,
                                                       int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zarvik-test-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data()) != nullptr ? tmpl : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return (std::filesystem::path(path_) / name).string(); }

 private:
  std::string path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// A pseudo-terminal: the master side stays here, the slave path is what a
// TComPort opens.
class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
      char name[128] = {};
      if (::ptsname_r(master_, name, sizeof name) == 0) slave_ = name;
    }
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;
  bool Ok() const { return master_ >= 0 && !slave_.empty(); }
  int Master() const { return master_; }
  const std::string& SlavePath() const { return slave_; }
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  bool Send(const std::vector<unsigned char>& bytes) const {
    return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

 private:
  int master_ = -1;
  std::string slave_;
};

class RecordingConsole : public IConsole {
 public:
  void Reset(TColor background) override {
    lines.clear();
    resetBackground = background;
  }
  int LineCount() const override { return static_cast<int>(lines.size()); }
  void DeleteFirstLine() override {
    if (!lines.empty()) lines.erase(lines.begin());
  }
  void AppendLine(const ConsoleLine& line) override { lines.push_back(line); }
  void ScrollToEnd() override { ++scrolls; }
  std::string AllText() const {
    std::string s;
    for (const auto& l : lines) s += l.text + "\n";
    return s;
  }
  std::vector<ConsoleLine> lines;
  TColor resetBackground = 1;
  int scrolls = 0;
};

class RecordingHooks : public IUiHooks {
 public:
  void ShowMessageBox(BoxKind kind, const std::string& caption, const std::string& text) override {
    boxes.push_back({kind, caption, text});
  }
  QueryButton AskQuestion(QueryKind kind, const std::string& text, QueryButton) override {
    questions.push_back({kind, text});
    return answer;
  }
  struct Box {
    BoxKind kind;
    std::string caption;
    std::string text;
  };
  std::vector<Box> boxes;
  std::vector<std::pair<QueryKind, std::string>> questions;
  QueryButton answer = QueryButton::Cancel;
};

// Restores switches, console, hooks, log name and program path on exit, and
// sends the log into a temporary folder for the test's duration.
class MessageStateGuard {
 public:
  MessageStateGuard() : savedPath_(ProgramPath()) {
    SetProgramPath(dir_.File("ZarvikConfig"));
    NameLogFile.clear();
  }
  ~MessageStateGuard() {
    ResetSwitches();
    SetConsole(nullptr);
    SetUiHooks(nullptr);
    NameLogFile.clear();
    LastErrorMessage.clear();
    SetProgramPath(savedPath_);
  }
  MessageStateGuard(const MessageStateGuard&) = delete;
  MessageStateGuard& operator=(const MessageStateGuard&) = delete;
  std::string LogPath() const { return dir_.File("ZarvikConfig.log"); }
  std::string LogText() const { return ReadAll(LogPath()); }
  const TempDir& Dir() const { return dir_; }

 private:
  TempDir dir_;
  std::string savedPath_;
};

}  // namespace zarvik::test
