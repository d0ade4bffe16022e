// Help texts of zarvikctl: the program's and one per command.
#pragma once

#include <string>
#include <string_view>

namespace zarvik::ctl {

// The program's help.
std::string ProgramHelp();
// The list of commands, one a line, under the heading "Commands:".
std::string CommandList();

// The help of `command` (lower case); nullptr for an unknown command.
const char* FindHelp(std::string_view command);

}  // namespace zarvik::ctl
