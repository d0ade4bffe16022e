// Help texts of zarvikctl: the program's and one per command.
#pragma once

#include <string_view>

namespace zarvik::ctl {

extern const char* const kProgramHelp;

// The help of `command` (lower case); nullptr for an unknown command.
const char* FindHelp(std::string_view command);

}  // namespace zarvik::ctl
