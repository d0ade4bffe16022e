// The barcode scanner on its own serial port: a TComPort that reads the
// digits of one scanned code. The scanner sends the digits followed by ETX,
// CR or LF; anything else it sends is dropped.
#pragma once

#include <cstdint>
#include <string>

#include "port/Comport.h"

namespace zarvik {

// Bytes that end a code.
inline constexpr std::uint8_t kBarcodeEtx = 3;
inline constexpr std::uint8_t kBarcodeCr = 13;
inline constexpr std::uint8_t kBarcodeLf = 10;
// At most this many bytes are read in one call, so a device that never
// stops sending cannot hold the caller; the rest waits for the next call.
inline constexpr int kBarcodeReadLimit = 256;

class TBarCodeScaner : public TComPort {
 public:
  TBarCodeScaner() = default;

  // The digits of the next code, or "" when the port is closed or nothing
  // waits. Reads byte by byte (each read waits at most the port's read
  // time-outs) until a terminator follows at least one digit; terminators
  // before the first digit are skipped, and when nothing more has arrived
  // after them the call returns at once. A read that gets no byte ends the
  // code with what was gathered.
  std::string ReadBarcode();
};

}  // namespace zarvik
