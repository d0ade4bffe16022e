// The line as the link protocol sees it: a byte stream that can be opened,
// closed and reopened. The serial port is one implementation
// (TComPortStream); an in-memory stream (TScriptedStream) stands in for the
// register in tests and fuzzing.
#pragma once

#include <cstdint>

namespace zarvik {

class IByteStream {
 public:
  virtual ~IByteStream() = default;
  // As TComPort: count is in the bytes wanted, out the bytes moved; true
  // only when all of them were moved within the time-outs.
  virtual bool Read(std::uint8_t* buffer, std::uint32_t& count) = 0;
  virtual bool Write(const std::uint8_t* buffer, std::uint32_t& count) = 0;
  virtual bool Open() = 0;
  virtual bool Close() = 0;
  virtual bool IsOpen() const = 0;
  // Drops whatever has been received and not read yet.
  virtual void DiscardInput() {}
  // Close and open again, so that the next conversation starts with empty
  // queues. The result is that of the open.
  bool Reopen() {
    Close();
    return Open();
  }
};

}  // namespace zarvik
