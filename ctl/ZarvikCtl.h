// zarvikctl: the register's commands from the command line, over the same
// core as the window program. It shares ZarvikConfig.ini (current folder)
// and the port mapping with it and follows the window program's rules for
// what it reads and writes; it runs as under "autonom" (no boxes, questions
// take their defaults).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zarvik::ctl {

// Exit status.
enum CtlExit : int {
  ceOk = 0,
  ceFailed = 1,         // the register, the port or a file failed; the system's message is on stderr
  ceUsage = 2,          // bad arguments, or a command this run may not carry out
  ceInterrupted = 130,  // SIGINT or SIGTERM stopped a transfer (128 + SIGINT, as a shell reports it)
};

// Runs one command line (the arguments after the program name). Data goes
// to `out`, messages and progress to `err`. `programPath` is the program's
// own name as started: like any argument, it may be "CONFIG_STOP".
int RunZarvikCtl(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                 const std::string& programPath = {});

}  // namespace zarvik::ctl
