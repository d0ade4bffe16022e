#include "shell/UserFiles.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "shell/ProjectsVars.h"
#include "shell/U_filedirwork.h"

namespace zarvik {

namespace fs = std::filesystem;

namespace {

bool g_portableRequested = false;

std::string CurrentFolder() {
  std::error_code ec;
  return fs::current_path(ec).string();
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') return home;
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return fs::temp_directory_path().string();
}

std::string PerUserFolder(const char* variable, std::string_view homeFallback) {
  return (fs::path(XdgBaseFolder(variable, homeFallback)) / kUserFolderName).string();
}

// Moves a file or folder; across file systems by copy and removal.
bool MoveEntry(const fs::path& from, const fs::path& to, std::string& problem) {
  std::error_code ec;
  fs::create_directories(to.parent_path(), ec);
  ec.clear();
  fs::rename(from, to, ec);
  if (!ec) return true;
  if (ec != std::errc::cross_device_link) {
    problem = ec.message();
    return false;
  }
  ec.clear();
  fs::copy(from, to, fs::copy_options::recursive, ec);
  if (ec) {
    problem = ec.message();
    std::error_code ignored;
    fs::remove_all(to, ignored);
    return false;
  }
  fs::remove_all(from, ec);
  if (ec) problem = "скопировано, но не удалено: " + ec.message();
  return !ec;
}

}  // namespace

bool IsInstalledProgram() {
  const fs::path folder(ProgramFolder());
  if (folder.filename() != "bin") return false;
  std::error_code ec;
  return fs::is_directory(folder / kInstalledDataFolder, ec);
}

void SetPortableRequested(bool on) { g_portableRequested = on; }
bool PortableRequested() { return g_portableRequested; }

bool PortableEnvSet() {
  const char* value = std::getenv(kPortableEnv);
  return value != nullptr && std::string_view(value) == "1";
}

TFileLayout FileLayout() {
  if (!IsInstalledProgram() || g_portableRequested || PortableEnvSet()) return TFileLayout::Portable;
  return TFileLayout::PerUser;
}

std::string SharedDataFolder() {
  const fs::path folder(ProgramFolder());
  if (IsInstalledProgram()) return (folder / kInstalledDataFolder).lexically_normal().string();
  return folder.string();
}

std::string XdgBaseFolder(const char* variable, std::string_view homeFallback) {
  if (const char* value = std::getenv(variable); value != nullptr && *value == '/') return value;
  return (fs::path(HomeFolder()) / homeFallback).string();
}

std::string UserConfigFolder() {
  if (FileLayout() == TFileLayout::Portable) return CurrentFolder();
  return PerUserFolder("XDG_CONFIG_HOME", ".config");
}

std::string UserDataFolder() {
  if (FileLayout() == TFileLayout::Portable) return CurrentFolder();
  return PerUserFolder("XDG_DATA_HOME", ".local/share");
}

std::string UserStateFolder() {
  if (FileLayout() == TFileLayout::Portable) return CurrentFolder();
  return PerUserFolder("XDG_STATE_HOME", ".local/state");
}

std::string ProfileFolderPath() {
  if (FileLayout() == TFileLayout::Portable) return "bd";
  return JoinPath(UserDataFolder(), "bd");
}

std::string LogFilePath() {
  fs::path program(ProgramPath().empty() ? std::string("ZarvikConfig") : ProgramPath());
  program.replace_extension(".log");
  // In a build tree the log stays beside the program; an installed program's
  // folder belongs to the system.
  if (!IsInstalledProgram()) return program.string();
  return (fs::path(UserStateFolder()) / program.filename()).string();
}

std::vector<TWorkingFolderFile> FindWorkingFolderFiles() {
  std::vector<TWorkingFolderFile> found;
  if (FileLayout() != TFileLayout::PerUser) return found;
  const fs::path here(CurrentFolder());
  const std::pair<std::string, std::string> places[] = {
      {std::string(kProgramIniName), JoinPath(UserConfigFolder(), std::string(kProgramIniName))},
      {"bd", ProfileFolderPath()},
  };
  for (const auto& [name, target] : places) {
    std::error_code ec;
    const fs::path source = here / name;
    const bool present = name == "bd" ? fs::is_directory(source, ec) : fs::is_regular_file(source, ec);
    if (!present) continue;
    const bool targetExists = fs::exists(target, ec);
    // Run from the per-user folder itself: the file is already in place.
    if (targetExists && fs::equivalent(source, target, ec)) continue;
    found.push_back({name, source.string(), target, targetExists});
  }
  return found;
}

std::vector<std::string> MoveWorkingFolderFiles(const std::vector<TWorkingFolderFile>& files) {
  std::vector<std::string> problems;
  for (const TWorkingFolderFile& f : files) {
    std::error_code ec;
    if (fs::exists(f.target, ec)) {
      problems.push_back(f.name + ": " + f.target + " уже есть, оставлено как есть");
      continue;
    }
    std::string problem;
    if (!MoveEntry(f.source, f.target, problem)) problems.push_back(f.name + ": " + problem);
  }
  return problems;
}

std::string WorkingFolderFileNames(const std::vector<TWorkingFolderFile>& files) {
  std::string names;
  for (const TWorkingFolderFile& f : files) names += (names.empty() ? "" : ", ") + f.name;
  return names;
}

}  // namespace zarvik
