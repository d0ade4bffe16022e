// Texts of result codes. ErrorText is the fixed table for the result code of
// a register answer; ResultText takes its texts from the language table and
// also covers the link's own codes (3, 28..32), which share the numbering.
#pragma once

#include <string>

#include "protocol/LinkFrames.h"

namespace zarvik {

std::string ErrorText(int code);
std::string ResultText(int code);
inline std::string ResultText(TLinkCode code) {
  return ResultText(ToInt(code));
}

}  // namespace zarvik
