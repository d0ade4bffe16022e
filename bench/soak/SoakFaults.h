// Part of bench_soak, which alone includes it (each part includes the one
// before it: Options, Judgement, Faults, Process, Operations, Report): the
// fault plans: the random choices, the faults armed for a rate, and the events
// (freezes, bursts) during an operation.
#pragma once

#include "SoakJudgement.h"

namespace {

// ---------------------------------------------------------------------------
// Random values of what a user writes.

class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(engine_); }
  double Real(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(engine_); }
  bool Chance(double p) { return Real(0, 1) < p; }
  std::uint64_t Next() { return engine_(); }
  template <typename T>
  const T& Pick(const std::vector<T>& v) {
    return v[static_cast<std::size_t>(Int(0, static_cast<int>(v.size()) - 1))];
  }

  // A text of 1..width characters the register prints, without blanks at
  // either end: Cyrillic and Latin letters, digits, punctuation that needs
  // quoting in the files (; " , '), and now and then the byte 0x7F, which
  // the link escapes.
  std::string Text(std::size_t width) {
    static const std::vector<std::string> kChars = [] {
      std::vector<std::string> c;
      for (char ch = 'A'; ch <= 'Z'; ++ch) c.emplace_back(1, ch);
      for (char ch = 'a'; ch <= 'z'; ++ch) c.emplace_back(1, ch);
      for (char ch = '0'; ch <= '9'; ++ch) c.emplace_back(1, ch);
      for (char32_t cp = U'А'; cp <= U'я'; ++cp) {
        std::string s;
        zarvik::AppendUtf8(s, cp);
        c.push_back(s);
      }
      for (const char* s : {"Ё", "ё", " ", " ", " ", ";", "\"", ",", "'", ".", "-", "=", "%", "(", ")"})
        c.emplace_back(s);
      return c;
    }();
    const std::size_t n = static_cast<std::size_t>(Int(1, static_cast<int>(width)));
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
      std::string ch = Chance(0.01) ? std::string("\x7f") : Pick(kChars);
      if ((i == 0 || i + 1 == n) && ch == " ") ch = "x";
      text += ch;
    }
    return text;
  }

 private:
  std::mt19937_64 engine_;
};


// ---------------------------------------------------------------------------
// Events during an operation: a freeze of the simulator or a burst of
// faults, at a random moment; cancelled when the operation ends first.

class EventThread {
 public:
  explicit EventThread(sim::Simulator& s) : sim_(s) {}
  ~EventThread() { Finish(); }
  EventThread(const EventThread&) = delete;
  EventThread& operator=(const EventThread&) = delete;

  // `freeze` > 0: pause the simulator that long; else arm `burst`.
  void Start(Seconds at, Seconds freeze, std::string burst) {
    Finish();
    cancelled_ = false;
    fired_ = false;
    thread_ = std::thread([this, at, freeze, burst] {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (cv_.wait_for(lock, at, [this] { return cancelled_; })) return;
        fired_ = true;
      }
      if (freeze.count() > 0) {
        sim_.Pause();
        std::this_thread::sleep_for(freeze);
        sim_.Resume();
      } else {
        sim_.AddFault(burst);
      }
    });
  }
  // Cancels an event that has not come yet and waits for one under way (a
  // freeze ends before the next operation starts). Whether it came.
  bool Finish() {
    if (!thread_.joinable()) return false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cancelled_ = true;
    }
    cv_.notify_all();
    thread_.join();
    return fired_;
  }

 private:
  sim::Simulator& sim_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool cancelled_ = false;
  bool fired_ = false;
};

// ---------------------------------------------------------------------------
// One fault rate.

std::string ScenarioText(const Options& o) {
  return ShopScenario(kGoodsCapacity, o.receipts, kGoodsCapacity);
}

// The faults armed for the whole run at rate R %: about R % of the packets
// the simulator sends or hears are hit.
std::vector<std::string> RateFaults(double rate) {
  if (rate <= 0) return {};
  const auto armed = [](const std::string& kind, double percent) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s@%.4f*inf", kind.c_str(), std::min(percent, 100.0));
    return std::string(buf);
  };
  return {
      // Data frames of the register: a quarter each.
      armed("crc", rate / 4),
      armed("drop", rate / 8),
      armed("drop=6", rate / 8),
      armed("extra", rate / 8),
      armed("extra=7", rate / 8),
      armed("seq", rate / 4),
      // Control packets of the register.
      armed("ctlcrc", rate / 2),
      // Answers to polls.
      armed("busy", rate / 6),
      armed("rej", rate / 6),
      armed("flood=3", rate / 6),
      // WAIT before an answer: mostly within the six poll cycles, now and
      // then beyond them.
      armed("wait=2", rate / 3),
      armed("wait=5", rate / 8),
      armed("wait=9", rate / 24),
      // Packets from the PC that the register does not hear.
      armed("silence", rate / 2),
  };
}

}  // namespace
