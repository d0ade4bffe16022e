// What the simulated register holds, and how it carries out one command of
// its command set against that state.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "SimWire.h"

namespace zarvik::sim {

// Register-side limits.
inline constexpr int kMaxDepartments = 99;
inline constexpr int kTaxCount = 5;
inline constexpr int kTextLineCount = 6;  // header and footer lines
inline constexpr int kMaxOperators = 8;
inline constexpr int kMaxGoods = 4000;       // highest goods number a register may have
inline constexpr int kMaxOptionCount = 252;  // what fits one answer frame
inline constexpr int kMaxFont = 8;
inline constexpr int kMaxBrightness = 5;
inline constexpr std::size_t kGoodsRecordSize = 64;
inline constexpr std::size_t kGoodsWrittenSize = 54;  // bytes 0..53 come with a write

// Status bytes of a department.
inline constexpr std::uint8_t kDepGoods = 0xA1;
inline constexpr std::uint8_t kDepService = 0xA2;
inline constexpr std::uint8_t kDepClosed = 0xA3;
// Marker of a record in use (goods) and of a defined tax.
inline constexpr std::uint8_t kInUse = 0xAA;
// Last byte of every journal record.
inline constexpr std::uint8_t kRecordTail = 0xAA;

// Result codes the register answers with.
enum ResultCode : std::uint8_t {
  rcOk = 0,
  rcUnknownCommand = 1,
  rcBadFormat = 3,
  rcNotFound = 9,
  rcBadGoodsCode = 17,
};

// Command codes (second byte of every request).
enum CommandCode : std::uint8_t {
  cmdGetInfo = 1,
  cmdGetDateTime = 2,
  cmdGetHeaderLine = 3,
  cmdSetHeaderLine = 4,
  cmdGetFooterLine = 5,
  cmdSetFooterLine = 6,
  cmdGetDepartment = 7,
  cmdSetDepartment = 8,
  cmdGetOptions = 9,
  cmdSetOptions = 10,
  cmdGetTax = 13,
  cmdReadJournal = 15,
  cmdGetGoods = 16,
  cmdSetGoods = 17,
  cmdGetOperatorName = 21,
  cmdSetOperatorName = 22,
  cmdGetPosition = 23,
  cmdSetPosition = 24,
  cmdPrintLine = 25,
};

struct Department {
  std::uint8_t status = kDepClosed;  // 0xA1 goods, 0xA2 service, else closed
  std::string name;                  // up to 22 characters
  std::uint8_t taxGroup = 0;         // 1..5, 0 none
  std::uint64_t priceLimit = 0;      // kopecks
  bool operator==(const Department&) const = default;
};

struct Tax {
  std::uint8_t defined = 0;  // 0xAA when defined
  std::uint8_t kind = 0;
  int rateHundredths = 0;  // 18.5 % -> 1850
  std::string name;        // up to 12 characters
  bool operator==(const Tax&) const = default;
};

struct TextLine {
  std::uint8_t font = 0;
  std::string text;  // up to 32 characters
  bool operator==(const TextLine&) const = default;
};

// One goods record, decoded.
struct Goods {
  std::uint8_t type = kInUse;
  std::uint8_t flags = 1;     // bit 0 sold by piece, bit 1 blocked
  int code = 0;               // 1..capacity
  std::string name;           // up to 32 characters
  std::uint64_t price = 0;    // kopecks
  std::uint8_t taxGroup = 1;  // 1..5
  std::uint8_t section = 0;
  std::string barcode;     // up to 20 digits, no leading zeros
  std::uint64_t sold = 0;  // thousandths
  bool operator==(const Goods&) const = default;
};

struct PrintedLine {
  std::uint8_t font = 0;
  std::uint8_t brightness = 0;
  std::string text;
  bool operator==(const PrintedLine&) const = default;
};

struct RegisterState {
  // Identity.
  std::string model = "Зарвик-01Ф";
  std::string serialNumber = "000000000001";
  std::string version = "B 003";
  std::uint8_t workMode = 2;  // 0 AUTONOM, 1 ON-LINE, 2 OFF-LINE, 3 FR
  int networkNumber = 1;
  // Register clock: "DD.MM.YY HH:MM:SS" frozen at that value, or empty for
  // the computer's local time.
  std::string dateTime;

  std::vector<std::uint8_t> options;  // size = option count
  int maxCountDepat = 4;              // departments the register has
  std::array<Department, kMaxDepartments> departments{};
  std::array<Tax, kTaxCount> taxes{};
  std::array<TextLine, kTextLineCount> header{};
  std::array<TextLine, kTextLineCount> footer{};
  int operatorCount = 4;  // 0, 4 or 8
  std::array<std::string, kMaxOperators> operatorNames{};
  std::array<std::string, kMaxOperators> positions{};
  int goodsCapacity = 2000;                             // highest goods number
  std::map<int, Goods> goods;                           // by code
  std::vector<Bytes> journal;                           // raw records in journal order
  std::size_t journalFrameLimit = kMaxRegisterPayload;  // bytes per journal frame

  // What the register has done (for the tests' assertions).
  std::vector<PrintedLine> printed;
  std::vector<std::uint8_t> commandsExecuted;  // command codes, in order
};

// The 64 bytes of a goods record.
std::array<std::uint8_t, kGoodsRecordSize> EncodeGoods(const Goods& goods);
// False when a BCD field holds a nibble above 9.
bool DecodeGoods(const std::uint8_t* record, Goods& out);

// Carries out one request (its bytes as the PC sent them: 01, command code,
// parameters). `continued` is the continuation bit of the request's data
// header: command 16 with it set streams every goods record from the given
// code on. Returns the answer frames' payloads in order (one for an ordinary
// command, several for the two streaming reads).
std::vector<Bytes> ExecuteCommand(RegisterState& state, const Bytes& request, bool continued);

}  // namespace zarvik::sim
