// Messages: information, warnings and errors to message box, console and log;
// depth-filtered traces; questions. Every report of the program goes through
// here.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "shell/ProjectsVars.h"
#include "shell/UiHooks.h"
#include "shell/Utilscolor.h"

namespace zarvik {

// The console as the message writer sees it; the window program attaches a
// rich-text widget behind this interface.
class IConsole {
 public:
  virtual ~IConsole() = default;
  // Background colour, cleared, no word wrap, vertical scroll bar always on.
  virtual void Reset(TColor background) = 0;
  virtual int LineCount() const = 0;
  virtual void DeleteFirstLine() = 0;
  // Appends the visible text and applies italic, bold, underline, then the
  // colour ranges in order; text outside every colour range is red.
  virtual void AppendLine(const ConsoleLine& line) = 0;
  virtual void ScrollToEnd() = 0;
};

inline TColor C_Face = 0x000000;
inline TColor C_DataTime = 0x00FFFF;
inline TColor C_Message = 0x00FF00;
inline TColor C_Query = 0xF0CAA6;
inline TColor C_Warning = 0xFF00FF;
inline TColor C_Error = 0x0000FF;
inline int LimitLines = 100;
inline std::string NameLogFile;  // fixed at the first log write
// Put before the text of every log line after the date ("[shop 3] "): the
// workers of one run that share the log tell their lines apart by it.
inline std::string LogLinePrefix;
inline const std::string DateMaskaForLog = "dd.mm.yy hh:nn:ss ";
inline const std::string DateMaskaForLogDEBUG = "dd.mm.yy hh:nn:ss zzz ";
inline const std::string DateMaskaForConsole = "hh:nn:ss ";
inline std::string LastErrorMessage;  // text of the most recent Error

// Attaches the console (nullptr switches console output off). Not owned.
void SetConsole(IConsole* console);
IConsole* Console();

void Mess(std::string text, bool box, bool console, bool log);
void Warning(std::string text, bool box, bool console, bool log);
void Error(std::string text, bool box, bool console, bool log);
// Console and log, no box, only when MessDepth >= depth.
void MT(std::string text, TMessDepth depth);
void WT(std::string text, TMessDepth depth);
void ET(std::string text, TMessDepth depth);

// Questions: the answer first (a box, or the default under isAUTONOM), then
// "Query:" + text + suffix to log and console.
QueryButton QueryOkCancel(std::string text, bool console, bool log, QueryButton def);
QueryButton QueryYesNoCancel(std::string text, bool console, bool log, QueryButton def);

// Trace listeners: observers of what the message helpers report (a window
// that shows the line traffic, for example). A listener receives every
// message that goes to the console or the log, and besides the depth-filtered
// traces (MT, WT, ET) down to the depth it asked for, even when MessDepth
// keeps them from console and log. Console and log follow MessDepth alone: a
// listener never changes what they get.
enum class TTraceKind { Message, Warning, Error, Trace };

struct TTraceEvent {
  TMessDepth depth = mdUser;              // mdUser for Mess, Warning, Error and questions
  TTraceKind kind = TTraceKind::Message;  // MT is Trace; WT and ET are Warning and Error
  std::string_view text;                  // the text as the caller gave it, without "Warning:" or "Error:"
  std::chrono::system_clock::time_point time;
};

// Called on the thread that reports (the GUI thread in the window program).
// A listener must be quick and must not report itself: messages it would
// raise while called are not passed to any listener again.
using TTraceListener = std::function<void(const TTraceEvent&)>;

// Installs a listener that wants the traces down to `depth`; returns its id.
int AddTraceListener(TTraceListener listener, TMessDepth depth);
// Changes the depth a listener wants.
void SetTraceListenerDepth(int id, TMessDepth depth);
void RemoveTraceListener(int id);
// True when a trace of that depth goes anywhere (console and log by
// MessDepth, or a listener). Callers test it before building a costly text.
bool TraceWanted(TMessDepth depth);

void WritelnLog(const std::string& text);
void WritelnConsole(std::string text, TColor color);
void DelEnters(std::string& text);

// Formats a local time by a mask: dd mm yy hh nn ss zzz, other characters
// copied.
std::string FormatDateTime(std::string_view mask, std::chrono::system_clock::time_point when);

// The log file beside the program: its name with the extension ".log". When
// that folder cannot be written, the log goes to the user's state folder
// ($XDG_STATE_HOME or ~/.local/state, subfolder "ZarvikConfig").
std::string DefaultLogPath();
std::string FallbackLogPath();

}  // namespace zarvik
