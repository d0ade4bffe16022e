// What the benchmark programs share: the simulated shop they run against and
// the paced register that serves it, the counted line, the console on
// standard error, the thread tuning of a timed run and small helpers for
// options, lists and percentiles. (The window benchmarks' own set-up is in
// BenchWindowSupport.h.)
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include "Scenario.h"
#include "Simulator.h"
#include "port/Comport.h"
#include "port/PortDevices.h"
#include "port/SerialSpeed.h"
#include "protocol/ByteStream.h"
#include "shell/DiaLog.h"

namespace zarvik::bench {

// Wake-ups of the timed thread this close to what it asked for.
inline constexpr unsigned long kTimerSlackNs = 1000;
inline constexpr int kRealtimePriority = 10;
// A byte on the line: start bit, eight data bits, stop bit.
inline constexpr int kBitsPerByte = 10;

// A path in the source tree (the shipped data/, sim/scenarios/), whatever
// the current folder.
inline std::string SourcePath(const std::string& relative) {
  return (std::filesystem::path(ZARVIK_SOURCE_DIR) / relative).string();
}

// The simulated register of the benchmarks: a shop with 16 departments, 8
// operators, taxes, receipt texts, `goods` generated goods (room for
// `capacity`) and a journal of `receipts` generated receipts.
inline std::string ShopScenario(int goods, int receipts, int capacity = 4000) {
  return "[Register]\n"
         "Model=Зарвик-02Ф\n"
         "SerialNumber=002100457731\n"
         "Version=B 003\n"
         "WorkMode=2\n"
         "NetworkNumber=1\n"
         "DateTime=15.12.10 14:05:00\n"
         "GoodsCapacity=" +
         std::to_string(std::max(goods, capacity)) +
         "\n"
         "Departments=16\n"
         "OperatorCount=8\n"
         "[Options]\n"
         "Count=64\n"
         "Values=1,0,2,0,1,1,0,0,3,0,1,0,0,0,1,0,5,0,0,1,0,0,0,0,2,0,0,0,0,1,0,0\n"
         "[Departments]\n"
         "1=Товар;Бакалея;A;10000.00\n"
         "2=Товар;Молочные продукты;B;5000.00\n"
         "3=Товар;Овощи и фрукты;A;3000.00\n"
         "4=Услуга;Доставка;A;0\n"
         "5=Закрыто\n"
         "[Taxes]\n"
         "1=НДС 18%;18.00;1\n"
         "2=НДС 10%;10.00;1\n"
         "3=НДС 0%;0;1\n"
         "[Header]\n"
         "1=1;ООО \"ПРОДУКТЫ У ДОМА\"\n"
         "2=0;г. Тверь, ул. Советская, 12\n"
         "[Footer]\n"
         "1=1;СПАСИБО ЗА ПОКУПКУ!\n"
         "[Operators]\n"
         "1=Иванова Анна Петровна;Старший кассир\n"
         "2=Петров Сергей;Кассир\n"
         "[Goods]\n"
         "Generate=" +
         std::to_string(goods) +
         "\n"
         "[Journal]\n"
         "GenerateReceipts=" +
         std::to_string(receipts) + "\n";
}

// The simulated register of a benchmark, served on a pseudo-terminal paced at
// the speed of the line, and reached as port number `portNumber` while it
// lives (the port's device is set for it and cleared again).
class PacedRegister {
 public:
  PacedRegister(const char* program, int portNumber) : program_(program), portNumber_(portNumber) {}
  ~PacedRegister() { Stop(); }
  PacedRegister(const PacedRegister&) = delete;
  PacedRegister& operator=(const PacedRegister&) = delete;

  // Loads the scenario, opens the pseudo-terminal, paces it at `baud` and
  // starts serving; false, with the reason on standard error, when any of
  // that fails.
  bool Start(const std::string& scenarioText, int baud) {
    std::string error;
    if (!zarvik::sim::LoadScenarioText(scenarioText, scenario_, error)) {
      std::fprintf(stderr, "%s: scenario: %s\n", program_, error.c_str());
      return false;
    }
    sim_ = std::make_unique<zarvik::sim::Simulator>(scenario_);
    std::string slave;
    if (!sim_->OpenPty(slave)) {
      std::fprintf(stderr, "%s: %s\n", program_, sim_->LastError().c_str());
      return false;
    }
    sim_->SetPacing(baud, true);
    zarvik::SetPortDevice(portNumber_, slave);
    if (!sim_->Start()) {
      std::fprintf(stderr, "%s: the simulator does not start\n", program_);
      return false;
    }
    return true;
  }
  // Start, then `port` opened on it at `baud`.
  bool StartWithPort(const std::string& scenarioText, int baud, zarvik::TComPort& port) {
    if (!Start(scenarioText, baud)) return false;
    if (!port.SetPortNumber(portNumber_) || !port.SetBaudRate(static_cast<std::uint32_t>(baud)) || !port.Open()) {
      std::fprintf(stderr, "%s: the simulator's port does not open\n", program_);
      return false;
    }
    return true;
  }
  // The simulator closed and the port's device cleared (the destructor does
  // it too).
  void Stop() {
    if (sim_) sim_->Close();
    zarvik::SetPortDevice(portNumber_, "");
  }

  zarvik::sim::Simulator& Sim() { return *sim_; }
  // The scenario as loaded (its generated goods and journal).
  const zarvik::sim::Scenario& Loaded() const { return scenario_; }
  int PortNumber() const { return portNumber_; }

 private:
  const char* program_;
  int portNumber_;
  zarvik::sim::Scenario scenario_;
  std::unique_ptr<zarvik::sim::Simulator> sim_;
};

// True when every speed is a port speed; else false, with the speed on
// standard error.
inline bool PortSpeeds(const char* program, const std::vector<int>& bauds) {
  for (int b : bauds) {
    if (!zarvik::IsAllowedBaudRate(static_cast<std::uint32_t>(b))) {
      std::fprintf(stderr, "%s: speed %d is not a port speed\n", program, b);
      return false;
    }
  }
  return true;
}

// The program's messages on standard error. With `keepTrace` they are kept
// instead (the last lines only), to be shown when something fails.
class StderrConsole final : public IConsole {
 public:
  explicit StderrConsole(bool keepTrace = false) : keepTrace_(keepTrace) {}
  void Reset(TColor) override {}
  int LineCount() const override { return 0; }
  void DeleteFirstLine() override {}
  void AppendLine(const ConsoleLine& line) override {
    if (!keepTrace_) {
      std::fprintf(stderr, "%s\n", line.text.c_str());
      return;
    }
    last_.push_back(line.text);
    if (last_.size() > kKeptLines) last_.pop_front();
  }
  void ScrollToEnd() override {}
  void ShowKept() {
    for (const std::string& l : last_) std::fprintf(stderr, "  %s\n", l.c_str());
    last_.clear();
  }

 private:
  static constexpr std::size_t kKeptLines = 80;
  bool keepTrace_;
  std::deque<std::string> last_;
};

// A line (the serial port itself) with every byte counted.
class CountingLine final : public IByteStream {
 public:
  explicit CountingLine(TComPort& port) : port_(port) {}
  bool Read(std::uint8_t* buffer, std::uint32_t& count) override {
    const bool ok = port_.Read(buffer, count);
    in += count;
    if (count > 0) unanswered = 0;
    return ok;
  }
  bool Write(const std::uint8_t* buffer, std::uint32_t& count) override {
    const bool ok = port_.Write(buffer, count);
    out += count;
    unanswered += count;
    return ok;
  }
  bool Open() override { return port_.Open(); }
  bool Close() override { return port_.Close(); }
  bool IsOpen() const override { return port_.IsOpen(); }

  std::uint64_t in = 0;
  std::uint64_t out = 0;
  // Bytes written since the PC last received one: still crossing the line
  // when the PC starts a wait right after them.
  std::uint64_t unanswered = 0;

 private:
  TComPort& port_;
};

// Tight timer wake-ups for the process's timed thread and, with `realtime`,
// SCHED_FIFO for it (threads started later inherit the policy), so that other
// work on a busy machine does not delay its wake-ups. False, with the reason
// on standard error, when the priority cannot be had.
inline bool TuneTimedThread(const char* program, bool realtime) {
  ::prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
  if (!realtime) return true;
  sched_param param{};
  param.sched_priority = kRealtimePriority;
  if (::sched_setscheduler(0, SCHED_FIFO, &param) == 0) return true;
  const std::string what = std::string(program) + ": real-time priority";
  std::perror(what.c_str());
  return false;
}

// "a,b,c" split at the commas; empty items are left out.
inline std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const std::size_t comma = std::min(text.find(',', pos), text.size());
    if (comma > pos) out.push_back(text.substr(pos, comma - pos));
    pos = comma + 1;
  }
  return out;
}

inline std::vector<int> IntList(const std::string& text) {
  std::vector<int> out;
  for (const std::string& item : SplitList(text)) out.push_back(std::atoi(item.c_str()));
  return out;
}

// The value below which the fraction `p` of `v` lies (nearest rank below).
inline double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
  return v[i];
}

// CPU time of the calling thread, in seconds.
inline double ThreadCpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_THREAD, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace zarvik::bench
