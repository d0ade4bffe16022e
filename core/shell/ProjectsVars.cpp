#include "shell/ProjectsVars.h"

#include <filesystem>
#include <system_error>

#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"
#include "shell/UserFiles.h"

namespace zarvik {

const std::array<std::string_view, kPrintFontCount> PrintFontNames = {
    "0 (по умолчанию)",
    "1 (24 символа, НОРМ по высоте)",
    "2 (24 символа, НОРМ по высоте, ЖИРНЫЙ)",
    "3 (24 символа, ВЫТЯНУТЫЙ по высоте)",
    "4 (24 символа, ВЫТЯНУТЫЙ по высоте, ЖИРНЫЙ)",
    "5 (24 символа, ДВОЙНОЙ по высоте, ЖИРНЫЙ)",
    "6 (32 символа, НОРМ по высоте)",
    "7 (32 символа, ВЫТЯНУТЫЙ по высоте)",
    "8 (32 символа, СЖАТЫЙ по высоте)",
};

namespace {
std::string& ProgramPathRef() {
  static std::string path;
  return path;
}
}  // namespace

void ResetSwitches() {
  isDEBUG = false;
  isAUTONOM = false;
  isOKB = false;
  MessDepth = mdUser;
  SetPortableRequested(false);
}

void ParseSwitches(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    const std::string word = Utf8Lower(arg);
    if (word == "debug") {
      isDEBUG = true;
      MessDepth = mdFunctional;
    } else if (word == "autonom") {
      isAUTONOM = true;
    } else if (word == "okb") {
      isOKB = true;
    } else if (word == "mdapplied") {
      MessDepth = mdApplied;
    } else if (word == "mdfunctional") {
      MessDepth = mdFunctional;
    } else if (word == "mdsystem") {
      MessDepth = mdSystem;
    } else if (word == "mdhardware") {
      MessDepth = mdHardWare;
    } else if (word == kPortableSwitch) {
      SetPortableRequested(true);
    }
    // "admin" and "fullfun" are accepted and change nothing; anything else
    // is ignored.
  }
  if (isDEBUG) MessDepth = mdFunctional;
}

bool HasConfigStop(const std::vector<std::string>& argvAll) {
  for (const std::string& arg : argvAll) {
    if (arg == "CONFIG_STOP") return true;
  }
  return false;
}

void InitProgram(int argc, char** argv) {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    SetProgramPath(self.string());
  } else if (argc > 0 && argv[0] != nullptr) {
    SetProgramPath(std::filesystem::absolute(argv[0], ec).string());
  }
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  ParseSwitches(args);
}

const std::string& ProgramPath() { return ProgramPathRef(); }

void SetProgramPath(std::string path) { ProgramPathRef() = std::move(path); }

std::string ProgramFolder() {
  const std::filesystem::path p(ProgramPathRef());
  if (p.has_parent_path()) return p.parent_path().string();
  std::error_code ec;
  return std::filesystem::current_path(ec).string();
}

std::string ProgramIniPath() { return JoinPath(UserConfigFolder(), std::string(kProgramIniName)); }

}  // namespace zarvik
