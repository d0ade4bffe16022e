// A numbered serial port: fixed line set-up, Windows-style read and write
// time-outs, block reads and writes, traces of the bytes at mdHardWare, and
// settings kept in a section of an INI file.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zarvik {

class TNetLine;

// Baud rates the port accepts.
bool IsAllowedBaudRate(std::uint32_t rate);

class TComPort {
 public:
  TComPort();
  ~TComPort();
  TComPort(const TComPort&) = delete;
  TComPort& operator=(const TComPort&) = delete;

  bool SetPortNumber(int n);
  int PortNumber() const { return portNumber_; }
  bool SetBaudRate(std::uint32_t rate);
  std::uint32_t BaudRate() const { return baudRate_; }
  bool IsOpen() const { return fd_ >= 0 || net_ != nullptr; }
  // Whether the port's device is a serial device server on the network
  // ("rfc2217://HOST:PORT" or "tcp://HOST:PORT" in the section "Devices").
  bool IsNetwork() const;
  // What every read's total time-out is widened by: the round trip of a
  // network line (measured when it opened, or COMn.Latency=MS of the section
  // "Devices"); 0 for a local line.
  std::chrono::milliseconds LatencyAllowance() const { return latency_; }

  bool Open();
  bool Close();
  // count: in, the bytes wanted; out, the bytes received / written.
  // A read takes from the device whatever has arrived (up to
  // kReadAheadSize) and keeps what it was not asked for for the next reads:
  // a frame read byte by byte costs one system call, not one per byte. The
  // bytes kept are the device's input queue as far as every caller can
  // tell: InputQueueLength counts them, DiscardInput and Close drop them,
  // and a read is never given more than it asked for.
  bool Read(std::uint8_t* buffer, std::uint32_t& count);
  static constexpr std::size_t kReadAheadSize = 1024;
  bool Write(const std::uint8_t* buffer, std::uint32_t& count);
  // Bytes waiting in the driver's input queue (with those read ahead); 0
  // when closed.
  std::uint32_t InputQueueLength() const;
  // Empties the driver's input queue (nothing when closed).
  void DiscardInput();

  // Port number, speed and time-outs from a section of an INI file. A value
  // that cannot be used is reported once with the file, the key, the value
  // and what is used instead. False when the port number or the speed was
  // refused. The time-outs are taken only within 0..kMaxTimeoutConstant ms
  // (constants), 0..kMaxTimeoutMultiplier ms per byte (multipliers) and
  // 0..kMaxIntervalTimeout ms (interval), and never so that a read or a
  // write has no time limit at all (both of its totals 0).
  bool LoadSettings(const std::string& iniFileName, const std::string& section);
  static constexpr std::uint32_t kMaxTimeoutConstant = 10000;
  static constexpr std::uint32_t kMaxTimeoutMultiplier = 100;  // a byte takes 4 ms at 2400 baud
  static constexpr std::uint32_t kMaxIntervalTimeout = 1000;
  void SaveSettings(const std::string& iniFileName, const std::string& section) const;

  // "\\.\COM" + number, as traces name the port.
  std::string PortName() const;
  // The device path the port number stands for (see PortDevices.h).
  std::string DevicePath() const;

  // Time-outs in ms (multipliers in ms per byte). LoadSettings takes them
  // from the file only within what a serial line can need (see below).
  static constexpr std::uint32_t kDefaultReadTotalTimeoutConstant = 250;
  static constexpr std::uint32_t kDefaultReadTotalTimeoutMultiplier = 9;
  static constexpr std::uint32_t kDefaultReadIntervalTimeout = 6;
  static constexpr std::uint32_t kDefaultWriteTotalTimeoutConstant = 100;
  static constexpr std::uint32_t kDefaultWriteTotalTimeoutMultiplier = 15;
  std::uint32_t readTotalTimeoutConstant = kDefaultReadTotalTimeoutConstant;
  std::uint32_t readTotalTimeoutMultiplier = kDefaultReadTotalTimeoutMultiplier;
  std::uint32_t readIntervalTimeout = kDefaultReadIntervalTimeout;
  std::uint32_t writeTotalTimeoutConstant = kDefaultWriteTotalTimeoutConstant;
  std::uint32_t writeTotalTimeoutMultiplier = kDefaultWriteTotalTimeoutMultiplier;

  // Called at least every kIdleSlice while a read waits for bytes that have
  // not come yet (the window processes its events there, so it keeps
  // painting during an exchange). It must not use this port. The read's
  // time-outs are not changed by it: a byte that arrives ends the wait at
  // once, and the deadlines are kept on the clock.
  std::function<void()> onIdle;
  static constexpr std::chrono::milliseconds kIdleSlice{20};

 private:
  // 0 on success; -2 settings unreadable, -3 settings refused, -4 time-outs,
  // -1 line-error flags unreadable, otherwise the pending line-error flags.
  int ConfigureLine();
  void CloseHandle();
  bool OpenNetwork(const std::string& device);
  bool ReadNetwork(std::uint8_t* buffer, std::uint32_t& count);
  bool WriteNetwork(const std::uint8_t* buffer, std::uint32_t& count);
  // Reports a lost network connection once, naming the port and the cause.
  void ReportNetworkLoss();
  // Moves up to `wanted` bytes read ahead into `buffer`; returns how many.
  std::uint32_t TakeReadAhead(std::uint8_t* buffer, std::uint32_t wanted);
  void DropReadAhead() { aheadBegin_ = aheadEnd_ = 0; }

  int fd_ = -1;
  // Bytes read from the device that no read has asked for yet:
  // ahead_[aheadBegin_, aheadEnd_).
  std::array<std::uint8_t, kReadAheadSize> ahead_{};
  std::size_t aheadBegin_ = 0;
  std::size_t aheadEnd_ = 0;
  std::string openDevice_;
  std::unique_ptr<TNetLine> net_;
  bool netLossReported_ = false;
  std::chrono::milliseconds latency_{0};
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
