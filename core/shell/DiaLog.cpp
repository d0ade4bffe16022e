#include "shell/DiaLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <vector>

#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"
#include "shell/UserFiles.h"

namespace zarvik {
namespace {

IConsole* g_console = nullptr;
std::mutex g_logMutex;

struct TListenerSlot {
  int id = 0;
  TMessDepth depth = mdUser;
  TTraceListener listener;
};
std::mutex g_listenerMutex;
std::vector<TListenerSlot> g_listeners;
int g_nextListenerId = 1;
// The deepest depth any listener wants, -1 without listeners: the one test
// every report makes when nobody listens.
std::atomic<int> g_listenerDepth{-1};
// Set while the listeners of this thread are being called.
thread_local bool t_notifying = false;

void UpdateListenerDepth() {
  int deepest = -1;
  for (const TListenerSlot& s : g_listeners) deepest = std::max(deepest, static_cast<int>(s.depth));
  g_listenerDepth.store(deepest, std::memory_order_relaxed);
}

bool ListenerWants(TMessDepth depth) {
  return static_cast<int>(depth) <= g_listenerDepth.load(std::memory_order_relaxed);
}

// `reported`: the text goes to console or log as well, so every listener gets
// it; otherwise only those that asked for its depth.
void Notify(TMessDepth depth, TTraceKind kind, std::string_view text, bool reported) {
  if (g_listenerDepth.load(std::memory_order_relaxed) < 0 || t_notifying) return;
  if (!reported && !ListenerWants(depth)) return;
  const TTraceEvent event{depth, kind, text, std::chrono::system_clock::now()};
  std::lock_guard lock(g_listenerMutex);
  struct TFlag {
    TFlag() { t_notifying = true; }
    ~TFlag() { t_notifying = false; }
    TFlag(const TFlag&) = delete;
    TFlag& operator=(const TFlag&) = delete;
  } flag;
  for (const TListenerSlot& s : g_listeners) {
    if (reported || depth <= s.depth) s.listener(event);
  }
}

const std::string& LogMask() { return isDEBUG ? DateMaskaForLogDEBUG : DateMaskaForLog; }
const std::string& ConsoleMask() { return isDEBUG ? DateMaskaForLogDEBUG : DateMaskaForConsole; }

void Append2(std::string& out, int v) {
  out.push_back(static_cast<char>('0' + (v / 10) % 10));
  out.push_back(static_cast<char>('0' + v % 10));
}

// The log file this process has checked for a cut last line.
std::string g_checkedLog;

// Whether the file ends in the middle of a line (a writer killed during its
// write).
bool EndsInsideALine(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  char last = '\n';
  const bool cut = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
                   ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n';
  ::close(fd);
  return cut;
}

// Appends one line with a single write on a file opened for appending, so
// that lines of several writers never interleave and a process killed while
// logging loses at most the line it was writing. The first line of a run
// that finds the file ending inside a line starts on a new line.
bool AppendLine(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  std::string line;
  if (g_checkedLog != path) {
    g_checkedLog = path;
    if (EndsInsideALine(path)) line = "\r\n";
  }
  line += bytes;
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return ::close(fd) == 0 && done == line.size();
}

void ShowBox(BoxKind kind, const std::string& text) {
  if (isAUTONOM) return;
  static constexpr const char* kCaptions[] = {"Information", "Warning", "Error"};
  UiHooks().ShowMessageBox(kind, kCaptions[static_cast<int>(kind)], text);
}

}  // namespace

std::string FormatDateTime(std::string_view mask, std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm tm{};
  localtime_r(&t, &tm);
  const auto ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000);
  std::string out;
  for (std::size_t i = 0; i < mask.size();) {
    const std::string_view rest = mask.substr(i);
    if (rest.starts_with("zzz")) {
      Append2(out, ms / 10);
      out.push_back(static_cast<char>('0' + ms % 10));
      i += 3;
    } else if (rest.starts_with("dd")) {
      Append2(out, tm.tm_mday);
      i += 2;
    } else if (rest.starts_with("mm")) {
      Append2(out, tm.tm_mon + 1);
      i += 2;
    } else if (rest.starts_with("yy")) {
      Append2(out, tm.tm_year % 100);
      i += 2;
    } else if (rest.starts_with("hh")) {
      Append2(out, tm.tm_hour);
      i += 2;
    } else if (rest.starts_with("nn")) {
      Append2(out, tm.tm_min);
      i += 2;
    } else if (rest.starts_with("ss")) {
      Append2(out, tm.tm_sec);
      i += 2;
    } else {
      out.push_back(mask[i]);
      ++i;
    }
  }
  return out;
}

std::string DefaultLogPath() { return LogFilePath(); }

std::string FallbackLogPath() {
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    base = std::filesystem::path(home) / ".local" / "state";
  } else {
    base = std::filesystem::temp_directory_path();
  }
  return (base / "ZarvikConfig" / std::filesystem::path(DefaultLogPath()).filename()).string();
}

void SetConsole(IConsole* console) {
  g_console = console;
  if (g_console != nullptr) g_console->Reset(C_Face);
}

IConsole* Console() { return g_console; }

void DelEnters(std::string& text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  }
}

void WritelnLog(const std::string& text) {
  std::lock_guard lock(g_logMutex);
  if (NameLogFile.empty()) NameLogFile = DefaultLogPath();
  const std::string line =
      Utf8ToCp1251(FormatDateTime(LogMask(), std::chrono::system_clock::now()) + LogLinePrefix + text) + "\r\n";
  if (AppendLine(NameLogFile, line)) return;
  // The user's state folder is made at the first line.
  EnsureFolder(std::filesystem::path(NameLogFile).parent_path().string());
  if (AppendLine(NameLogFile, line)) return;
  // The folder beside the program is not writable (an installed program):
  // keep the diagnosis in the user's state folder instead, from now on.
  const std::string fallback = FallbackLogPath();
  if (NameLogFile != fallback) {
    EnsureFolder(std::filesystem::path(fallback).parent_path().string());
    if (AppendLine(fallback, line)) {
      NameLogFile = fallback;
      return;
    }
  }
  // Neither place can be written. The message still reaches console and box;
  // the log failure is said once on the console.
  static bool said = false;
  if (!said && g_console != nullptr) {
    said = true;
    ConsoleLine warn = ParseConsoleMarkup("log file cannot be written: " + NameLogFile);
    g_console->AppendLine(warn);
  }
}

void WritelnConsole(std::string text, TColor color) {
  DelEnters(text);
  if (g_console == nullptr) return;
  const std::string markup = colorToStrR(C_DataTime) +
                             FormatDateTime(ConsoleMask(), std::chrono::system_clock::now()) +
                             colorToStrR(color) + text;
  while (g_console->LineCount() >= LimitLines && g_console->LineCount() > 0) {
    g_console->DeleteFirstLine();
  }
  g_console->AppendLine(ParseConsoleMarkup(markup));
  g_console->ScrollToEnd();
}

int AddTraceListener(TTraceListener listener, TMessDepth depth) {
  std::lock_guard lock(g_listenerMutex);
  const int id = g_nextListenerId++;
  g_listeners.push_back({id, depth, std::move(listener)});
  UpdateListenerDepth();
  return id;
}

void SetTraceListenerDepth(int id, TMessDepth depth) {
  std::lock_guard lock(g_listenerMutex);
  for (TListenerSlot& s : g_listeners) {
    if (s.id == id) s.depth = depth;
  }
  UpdateListenerDepth();
}

void RemoveTraceListener(int id) {
  std::lock_guard lock(g_listenerMutex);
  std::erase_if(g_listeners, [id](const TListenerSlot& s) { return s.id == id; });
  UpdateListenerDepth();
}

bool TraceWanted(TMessDepth depth) {
  return MessDepth >= depth || ListenerWants(depth);
}

namespace {

// The three kinds of message to log, console and box, in that order.
void WriteMessage(const std::string& text, bool box, bool console, bool log) {
  if (log) WritelnLog(text);
  if (console) WritelnConsole(text, C_Message);
  if (box) ShowBox(BoxKind::Information, text);
}

void WriteWarning(const std::string& text, bool box, bool console, bool log) {
  if (log) WritelnLog("Warning:" + text);
  if (console) WritelnConsole("Warning:" + colorToStrR(C_Message) + text, C_Warning);
  if (box) ShowBox(BoxKind::Warning, text);
}

void WriteError(const std::string& text, bool box, bool console, bool log) {
  LastErrorMessage = text;
  if (log) WritelnLog("Error:" + text);
  if (console) WritelnConsole("Error:" + colorToStrR(C_Message) + text, C_Error);
  if (box) ShowBox(BoxKind::Error, text);
}

}  // namespace

void Mess(std::string text, bool box, bool console, bool log) {
  if (console || log) Notify(mdUser, TTraceKind::Message, text, true);
  WriteMessage(text, box, console, log);
}

void Warning(std::string text, bool box, bool console, bool log) {
  if (console || log) Notify(mdUser, TTraceKind::Warning, text, true);
  WriteWarning(text, box, console, log);
}

void Error(std::string text, bool box, bool console, bool log) {
  if (console || log) Notify(mdUser, TTraceKind::Error, text, true);
  WriteError(text, box, console, log);
}

void MT(std::string text, TMessDepth depth) {
  const bool reported = MessDepth >= depth;
  Notify(depth, TTraceKind::Trace, text, reported);
  if (reported) WriteMessage(text, false, true, true);
}

void WT(std::string text, TMessDepth depth) {
  const bool reported = MessDepth >= depth;
  Notify(depth, TTraceKind::Warning, text, reported);
  if (reported) WriteWarning(text, false, true, true);
}

void ET(std::string text, TMessDepth depth) {
  const bool reported = MessDepth >= depth;
  Notify(depth, TTraceKind::Error, text, reported);
  if (reported) WriteError(text, false, true, true);
}

namespace {
void WriteQuery(const std::string& text, const char* suffix, bool console, bool log) {
  const std::string body = "Query:" + text + suffix;
  if (console || log) Notify(mdUser, TTraceKind::Message, body, true);
  if (log) WritelnLog(body);
  if (console) WritelnConsole(body, C_Query);
}
}  // namespace

QueryButton QueryOkCancel(std::string text, bool console, bool log, QueryButton def) {
  QueryButton answer;
  if (isAUTONOM) {
    answer = def == QueryButton::Ok ? QueryButton::Ok : QueryButton::Cancel;
  } else {
    answer = UiHooks().AskQuestion(QueryKind::OkCancel, text, def);
  }
  WriteQuery(text, answer == QueryButton::Ok ? " - OK" : " - cancel", console, log);
  return answer == QueryButton::Ok ? QueryButton::Ok : QueryButton::Cancel;
}

QueryButton QueryYesNoCancel(std::string text, bool console, bool log, QueryButton def) {
  QueryButton answer;
  if (isAUTONOM) {
    answer = (def == QueryButton::Yes || def == QueryButton::No) ? def : QueryButton::Cancel;
  } else {
    answer = UiHooks().AskQuestion(QueryKind::YesNoCancel, text, def);
  }
  const char* suffix = answer == QueryButton::Yes  ? " - Yes"
                       : answer == QueryButton::No ? " - No"
                                                   : " - Cancel";
  WriteQuery(text, suffix, console, log);
  if (answer != QueryButton::Yes && answer != QueryButton::No) answer = QueryButton::Cancel;
  return answer;
}

}  // namespace zarvik
