// Messages: information, warnings and errors to message box, console and log;
// depth-filtered traces; questions. Every report of the program goes through
// here.
#pragma once

#include <chrono>
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
