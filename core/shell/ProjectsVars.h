// Process-wide switches set from the command line once, before any window
// exists, plus the program's own path and the print font names.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik {

// Trace depths, shallow to deep.
enum TMessDepth : int {
  mdUser = 0,
  mdApplied = 1,
  mdComponents = 2,
  mdFunctional = 3,
  mdSystem = 4,
  mdHardWare = 5,
};

inline bool isDEBUG = false;    // timestamps with milliseconds
inline bool isAUTONOM = false;  // no message boxes; questions take their default
inline bool isOKB = false;      // shows the free-text page
inline TMessDepth MessDepth = mdUser;

// Parses the switch words (arguments after the program path), left to right.
// An unknown argument is ignored; "debug" forces mdFunctional at the end.
void ParseSwitches(const std::vector<std::string>& args);
// Resets every switch to its initial value (for tests and repeated set-up).
void ResetSwitches();
// True when any argument (the program path included) is exactly "CONFIG_STOP".
bool HasConfigStop(const std::vector<std::string>& argvAll);

// Module initialisation of the shell: program path and switches from argv.
void InitProgram(int argc, char** argv);

// The program file's full path. Taken from /proc/self/exe at start-up; tests
// may set another one.
const std::string& ProgramPath();
void SetProgramPath(std::string path);
// The folder that holds the program file, without a trailing separator.
std::string ProgramFolder();

// The nine print font names; position = font number sent to the register.
inline constexpr int kPrintFontCount = 9;
extern const std::array<std::string_view, kPrintFontCount> PrintFontNames;

// Name of the program INI file.
inline constexpr std::string_view kProgramIniName = "ZarvikConfig.ini";
// Full path of the program INI file: in the current directory (portable), or
// in the user's configuration folder (shell/UserFiles.h).
std::string ProgramIniPath();

}  // namespace zarvik
