// A numbered serial port: fixed line set-up, Windows-style read and write
// time-outs, block reads and writes, traces of the bytes at mdHardWare, and
// settings kept in a section of an INI file.
#pragma once

#include <cstdint>
#include <string>

namespace zarvik {

// Baud rates the port accepts.
bool IsAllowedBaudRate(std::uint32_t rate);

class TComPort {
 public:
  TComPort() = default;
  ~TComPort();
  TComPort(const TComPort&) = delete;
  TComPort& operator=(const TComPort&) = delete;

  bool SetPortNumber(int n);
  int PortNumber() const { return portNumber_; }
  bool SetBaudRate(std::uint32_t rate);
  std::uint32_t BaudRate() const { return baudRate_; }
  bool IsOpen() const { return fd_ >= 0; }

  bool Open();
  bool Close();
  // count: in, the bytes wanted; out, the bytes received / written.
  bool Read(std::uint8_t* buffer, std::uint32_t& count);
  bool Write(const std::uint8_t* buffer, std::uint32_t& count);
  // Bytes waiting in the driver's input queue; 0 when closed.
  std::uint32_t InputQueueLength() const;

  bool LoadSettings(const std::string& iniFileName, const std::string& section);
  void SaveSettings(const std::string& iniFileName, const std::string& section) const;

  // "\\.\COM" + number, as traces name the port.
  std::string PortName() const;
  // The device path the port number stands for (see PortDevices.h).
  std::string DevicePath() const;

  std::uint32_t readTotalTimeoutConstant = 250;
  std::uint32_t readTotalTimeoutMultiplier = 9;
  std::uint32_t readIntervalTimeout = 6;
  std::uint32_t writeTotalTimeoutConstant = 100;
  std::uint32_t writeTotalTimeoutMultiplier = 15;

 private:
  // 0 on success; -2 settings unreadable, -3 settings refused, -4 time-outs,
  // -1 line-error flags unreadable, otherwise the pending line-error flags.
  int ConfigureLine();
  void CloseHandle();

  int fd_ = -1;
  std::string openDevice_;
  std::uint32_t baudRate_ = 19200;
  int portNumber_ = 0;
};

// "COM" + n + CR LF for each existing port, "COM" + n + "  BUSY" + CR LF for
// one that exists but cannot be opened, in port order.
std::string ListPorts();
// The system's text for the last failed system call, at most 1000 characters.
std::string SystemErrorText();

// Line-error flag bits reported by a failed open.
inline constexpr int kLineErrorOverrun = 0x0002;
inline constexpr int kLineErrorParity = 0x0004;
inline constexpr int kLineErrorFrame = 0x0008;
inline constexpr int kLineErrorBreak = 0x0010;

}  // namespace zarvik
