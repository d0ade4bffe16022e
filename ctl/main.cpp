// zarvikctl: the register's commands from the command line (see ZarvikCtl.h).
#include <string>
#include <vector>

#include "ZarvikCtl.h"
#include "shell/ProjectsVars.h"

int main(int argc, char** argv) {
  // The program's own path only: the switch words come from --depth.
  zarvik::InitProgram(argc > 0 ? 1 : 0, argv);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return zarvik::ctl::RunZarvikCtl(args, stdout, stderr, argc > 0 ? argv[0] : "");
}
