// The UI test program: `ui_tests NAME [Qt Test arguments]` runs the tests of
// tests/ui/NAME.cpp; `ui_tests` alone lists the names.
#include "UiTestMain.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

namespace uitest {
namespace {

std::map<std::string, TTestMain>& Registry() {
  static std::map<std::string, TTestMain> registry;
  return registry;
}

std::string& RunningTestRef() {
  static std::string name;
  return name;
}

}  // namespace

const std::string& RunningTest() {
  return RunningTestRef();
}

bool RegisterTestMain(const char* file, TTestMain run) {
  const std::string name = std::filesystem::path(file).stem().string();
  const bool added = Registry().emplace(name, run).second;
  if (!added) {
    std::fprintf(stderr, "ui_tests: %s is registered twice\n", name.c_str());
    std::abort();
  }
  return added;
}

}  // namespace uitest

int main(int argc, char** argv) {
  const auto& registry = uitest::Registry();
  const auto found = argc > 1 ? registry.find(argv[1]) : registry.end();
  if (found == registry.end()) {
    std::fprintf(stderr, "usage: %s NAME [Qt Test arguments]; NAME is one of:\n", argv[0]);
    for (const auto& entry : registry) std::fprintf(stderr, "  %s\n", entry.first.c_str());
    return 2;
  }
  uitest::RunningTestRef() = found->first;
  // The name is the program's argument, not Qt Test's: the class sees the
  // program name and what follows the name.
  for (int i = 1; i + 1 < argc; ++i) argv[i] = argv[i + 1];
  argv[argc - 1] = nullptr;
  return found->second(argc - 1, argv);
}
