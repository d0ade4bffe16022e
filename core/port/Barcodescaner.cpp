#include "port/Barcodescaner.h"

namespace zarvik {

namespace {

bool IsTerminator(std::uint8_t b) {
  return b == kBarcodeEtx || b == kBarcodeCr || b == kBarcodeLf;
}

}  // namespace

std::string TBarCodeScaner::ReadBarcode() {
  std::string code;
  if (!IsOpen() || InputQueueLength() == 0) return code;
  for (int n = 0; n < kBarcodeReadLimit; ++n) {
    std::uint8_t b = 0;
    std::uint32_t count = 1;
    if (!Read(&b, count) || count != 1) return code;
    if (b >= '0' && b <= '9') {
      code.push_back(static_cast<char>(b));
    } else if (IsTerminator(b)) {
      if (!code.empty()) return code;
      // The LF of a CR LF: no need to wait for a code that has not come.
      if (InputQueueLength() == 0) return code;
    }
  }
  return code;
}

}  // namespace zarvik
