// Scenario files: the register's state (identity, options, departments,
// taxes, receipt texts, operators, goods, journal) and the faults armed at
// start. The format is described in sim/README.md; the file may be UTF-8 or
// code page 1251 (told apart by whether it is valid UTF-8).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "RegisterState.h"
#include "SimFaults.h"

namespace zarvik::sim {

struct Scenario {
  RegisterState state;
  std::vector<Fault> faults;
};

// False with `error` set ("line or key: what is wrong") for a file that
// cannot be read or holds a value the register cannot take.
bool LoadScenarioFile(const std::string& path, Scenario& out, std::string& error);
bool LoadScenarioText(std::string_view utf8Text, Scenario& out, std::string& error);

// The file bytes as UTF-8: kept when valid UTF-8, else read as code page 1251.
std::string ScenarioTextToUtf8(std::string_view fileBytes);

// Goods number n as the generator makes it (name, price, barcode with a
// check digit, tax group and section cycling through the departments).
Goods GeneratedGoods(int code, int departments);

// Goods number n as the generator makes it for the register s: the section
// cycles through the departments s has open (goods or service), none (0)
// when it has none open, so that the register's goods pass its own checks.
Goods GeneratedGoods(int code, const RegisterState& s);

// Journal records of a few kinds, for scenarios and tests. Amounts in
// kopecks, quantities in thousandths.
Bytes SumRecord(std::uint8_t code, int operation, std::uint64_t quantity, std::uint64_t price, int taxGroup,
                int department);
Bytes CodeRecord(std::uint8_t code, int operation, int goodsCode, std::uint64_t quantity, std::uint64_t price,
                 int taxGroup, int department);
Bytes AdjustRecord(std::uint8_t code, int operation, std::uint64_t second, std::uint64_t amount, int taxGroup,
                   int department);
Bytes SubtotalRecord(std::uint8_t code, int operation, std::uint64_t amount);
Bytes TaxSumRecord(std::uint8_t code, int operation, int taxRate, std::uint64_t amount);
Bytes PaymentRecord(int operation, int paymentKind, std::uint64_t due, std::uint64_t tendered);
// date "DD.MM.YY" and time "HH:MM"; a bad text leaves the field FF.
Bytes CloseRecord(int receiptKind, std::uint64_t number, std::string_view date, std::string_view time,
                  bool fiscal, int operatorNumber);
Bytes CheckOperRecord(std::uint8_t code, int operatorNumber);

}  // namespace zarvik::sim
