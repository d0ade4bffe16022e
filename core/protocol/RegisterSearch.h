// Finding the register: every given port at every given speed, with the
// network number set, until a register answers. The window's "Найти ККМ"
// and `zarvikctl find` both run this search.
//
// A port that does not open (missing, held by another program, no
// permission, not a serial device) is skipped at once. On a port that opens,
// each speed gets one poll: the PC's RDY, which a register answers with a
// control packet of its own at once (RDY when idle). Only a port and speed
// that answered the poll are confirmed with GetInfo, the command that
// identifies the register (it also loads the model descriptor and probes the
// goods numbers, so it is too slow to be the probe). The first register
// confirmed ends the search.
//
// A poll nobody answers costs the port's read time-out for a control packet
// (295 ms with the default time-outs), so a full search of N silent ports at
// five speeds takes about N x 5 x 0.3 s.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace zarvik {

class TComPort;

// The speeds a register is searched at (the side panel's list).
inline constexpr std::array<std::uint32_t, 5> kSearchSpeeds = {9600, 19200, 38400, 57600, 115200};
// How often the wait for an answer to the poll asks whether to stop.
inline constexpr std::chrono::milliseconds kSearchStopCheck{50};

enum class TSearchOutcome {
  Trying,        // the attempt begins (reported before the poll)
  Skipped,       // the port does not open; no speed was tried
  NoAnswer,      // nothing (or nothing valid) came back to the poll
  NotConfirmed,  // the poll was answered, GetInfo was not
  Found,         // GetInfo answered: the register is here
};

struct TSearchAttempt {
  int port = 0;
  std::string device;
  std::uint32_t speed = 0;  // 0 for a skipped port
  TSearchOutcome outcome = TSearchOutcome::Trying;
  // Skipped: the port's state; NoAnswer: what came instead, if anything;
  // Found: the register's model, serial number and version.
  std::string detail;
  int done = 0;   // port-and-speed slots behind this one (a skipped port counts all its speeds)
  int total = 0;  // slots of the whole search
  std::chrono::milliseconds took{0};
};

struct TSearchRequest {
  std::vector<int> ports;              // in the order they are tried
  std::vector<std::uint32_t> speeds;   // in the order they are tried (see SearchSpeedOrder)
  int networkNumber = 1;               // 1..98
  const TComPort* timeouts = nullptr;  // the port whose time-outs the search uses (defaults when null)
};

struct TSearchResult {
  bool found = false;
  bool stopped = false;
  int port = 0;
  std::uint32_t speed = 0;
  std::string model;
  std::string serialNumber;
  std::string version;
  std::vector<TSearchAttempt> attempts;  // the finished ones, in order
  std::chrono::milliseconds took{0};
  std::string error;  // a request the search cannot run (a bad network number, nothing to try)
};

struct TSearchCallbacks {
  // Each attempt when it begins (Trying) and when it ends.
  std::function<void(const TSearchAttempt&)> report;
  // Asked between attempts and at least every kSearchStopCheck while a poll
  // waits; true stops the search. The window processes its events here.
  std::function<bool()> stopRequested;
};

// `configured` first (when it is an allowed speed), then the others of
// `speeds` in their order, each once.
std::vector<std::uint32_t> SearchSpeedOrder(std::uint32_t configured,
                                            std::span<const std::uint32_t> speeds = kSearchSpeeds);

TSearchResult FindRegister(const TSearchRequest& request, const TSearchCallbacks& callbacks = {});

// One line for an attempt, as the console and `zarvikctl find` show it:
// "COM3 (/dev/ttyUSB0) 19200: нет ответа".
std::string SearchAttemptText(const TSearchAttempt& attempt);
// The outcome of the whole search: "ККМ найдена: COM3, 19200", "ККМ не
// найдена ...", "Поиск ККМ остановлен ...".
std::string SearchResultText(const TSearchResult& result);

}  // namespace zarvik
