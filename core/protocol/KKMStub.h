// Link fields of the register object, until the register model is in.
#pragma once

#include <cstdint>

#include "port/Comport.h"

namespace zarvik {

struct TKKM {
  std::uint8_t networkNumber = 1;
  TComPort* port = nullptr;
  std::uint8_t rxSeq = 0;
  std::uint8_t txSeq = 0;
  std::uint8_t linkState = 0;
};

}  // namespace zarvik
