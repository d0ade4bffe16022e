// The serial port as a byte stream for the link protocol.
#pragma once

#include "port/Comport.h"
#include "protocol/ByteStream.h"

namespace zarvik {

class TComPortStream final : public IByteStream {
 public:
  explicit TComPortStream(TComPort& port) : port_(port) {}
  bool Read(std::uint8_t* buffer, std::uint32_t& count) override { return port_.Read(buffer, count); }
  bool Write(const std::uint8_t* buffer, std::uint32_t& count) override { return port_.Write(buffer, count); }
  bool Open() override { return port_.Open(); }
  bool Close() override { return port_.Close(); }
  bool IsOpen() const override { return port_.IsOpen(); }
  void DiscardInput() override { port_.DiscardInput(); }
  TComPort& Port() { return port_; }

 private:
  TComPort& port_;
};

}  // namespace zarvik
