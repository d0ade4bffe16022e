// Where the program finds the files it ships with and where it keeps each
// user's files.
//
// Two layouts:
//  - portable: the user's files lie in the working folder (ZarvikConfig.ini,
//    the profile folder "bd") and the log beside the program. A program run
//    from a build tree always works so; an installed one when the
//    environment variable ZARVIK_PORTABLE is "1" (or the window's switch word
//    "portable" is given), and then its log lies in the working folder too.
//  - per user: an installed program (the file lies in a folder "bin" beside
//    which "share/zarvikconfig" holds its data) follows the XDG base
//    directories: ZarvikConfig.ini in $XDG_CONFIG_HOME/ZarvikConfig, the
//    profile folder "bd" (with the goods backups in it) in
//    $XDG_DATA_HOME/ZarvikConfig, the log in $XDG_STATE_HOME/ZarvikConfig.
//
// The window, zarvikctl and zarvik-sim ask here alike, so that they share one
// ZarvikConfig.ini (and its "Devices" section) in either layout.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zarvik {

enum class TFileLayout { Portable, PerUser };

inline constexpr const char* kPortableEnv = "ZARVIK_PORTABLE";
inline constexpr std::string_view kPortableSwitch = "portable";
// The folder of the user's files under each XDG base directory.
inline constexpr std::string_view kUserFolderName = "ZarvikConfig";
// The shipped data of an installed program, relative to its "bin" folder.
inline constexpr std::string_view kInstalledDataFolder = "../share/zarvikconfig";

// True when the program file lies in the installed layout (see above).
bool IsInstalledProgram();
// The window's switch word "portable" (ParseSwitches sets it).
void SetPortableRequested(bool on);
bool PortableRequested();
// True when ZARVIK_PORTABLE is "1".
bool PortableEnvSet();
TFileLayout FileLayout();

// The folder of the shipped files ("ECR_CFG", "lang", "scenarios"): beside
// the program in a build tree, ../share/zarvikconfig when installed.
std::string SharedDataFolder();

// An XDG base directory: the variable when it holds an absolute path,
// otherwise $HOME + the fallback (".config", ".local/share", ".local/state").
std::string XdgBaseFolder(const char* variable, std::string_view homeFallback);

// The folders of the user's files ("" = the working folder, portable).
std::string UserConfigFolder();
std::string UserDataFolder();
std::string UserStateFolder();
// The profile folder: "bd" (working folder) when portable, otherwise
// $XDG_DATA_HOME/ZarvikConfig/bd.
std::string ProfileFolderPath();
// The log file of the running program (named after the program file).
std::string LogFilePath();

// Files of a portable run found in the working folder while the per-user
// layout is in force: they are offered for moving, never used silently nor
// overwritten.
struct TWorkingFolderFile {
  std::string name;    // "ZarvikConfig.ini" or "bd"
  std::string source;  // in the working folder
  std::string target;  // the per-user place
  bool targetExists = false;
};
// Empty in the portable layout or when the working folder holds none of them
// (or is the per-user folder itself).
std::vector<TWorkingFolderFile> FindWorkingFolderFiles();
// Moves each file whose target does not exist yet (a rename, or a copy and
// removal across file systems); an existing target is never replaced. The
// texts of what could not be moved; empty when everything was moved.
std::vector<std::string> MoveWorkingFolderFiles(const std::vector<TWorkingFolderFile>& files);
// The names joined with ", " ("ZarvikConfig.ini, bd").
std::string WorkingFolderFileNames(const std::vector<TWorkingFolderFile>& files);

}  // namespace zarvik
