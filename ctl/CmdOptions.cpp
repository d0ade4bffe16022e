#include "CtlSession.h"

#include <map>

#include "CtlOutput.h"
#include "shell/DiaLog.h"

namespace zarvik::ctl {
namespace {

constexpr std::int64_t kHighestOptionValue = 255;
constexpr std::int64_t kHighestOptionNumberWord = 999999;

std::string IntervalText(const TOptionsInfo& o) {
  std::string text = std::to_string(o.minValue) + " - " + std::to_string(o.maxValue);
  if (o.canNull && o.minValue != 0) text = "0; " + text;
  return text;
}

bool InInterval(const TOptionsInfo& o, std::int64_t v) {
  return (v >= o.minValue && v <= o.maxValue) || (v == 0 && o.canNull);
}

}  // namespace

int TCtlSession::CmdOptionsGet() {
  if (!Connect()) return ceFailed;
  if (!protocol_.GetOptions()) return Fail(kOptionsFailed);
  const TKKMInfo& i = Info();
  CtlTable table{{"№", "Знач.", "Интервал", "Описание"}, {}};
  for (int n = 1; n <= i.OptionCount(); ++n) {
    const TOptionsInfo& o = i.options[static_cast<std::size_t>(n - 1)];
    table.rows.push_back({std::to_string(n), std::to_string(i.optionValues[static_cast<std::size_t>(n - 1)]),
                          IntervalText(o), o.description});
  }
  PrintTable(out_, table, args_.csv);
  return ceOk;
}

int TCtlSession::CmdOptionsSet() {
  std::map<int, std::int64_t> changes;
  for (std::size_t k = 2; k < words_.size(); ++k) {
    std::string key;
    std::string value;
    std::int64_t n = 0;
    std::int64_t v = 0;
    // Any positive option number is taken here; whether the register has
    // it is known once its options are read.
    if (!SplitAssignment(words_[k], key, value) || !ParseInteger(key, 1, kHighestOptionNumberWord, n) ||
        !ParseInteger(value, 0, kHighestOptionValue, v))
      return Usage("\"" + words_[k] + "\" is not N=V with an option number N and a value 0..255");
    changes[static_cast<int>(n)] = v;
  }
  if (changes.empty()) return Usage("options set needs at least one N=V");
  if (!Connect()) return ceFailed;
  // The backup reads the options the change starts from.
  if (BackupsOn()) {
    if (!BackupSettings(stOptions)) return ceFailed;
  } else if (!protocol_.GetOptions()) {
    return Fail(kOptionsFailed);
  }
  TKKMInfo& i = Info();
  for (const auto& [n, v] : changes) {
    if (n > i.OptionCount())
      return Usage("option " + std::to_string(n) + " does not exist on this register (it has " +
                   std::to_string(i.OptionCount()) + " options, 1.." + std::to_string(i.OptionCount()) + ")");
    const TOptionsInfo& o = i.options[static_cast<std::size_t>(n - 1)];
    if (!InInterval(o, v)) {
      Error("опция вне интервала!", false, true, true);
      return Usage("option " + std::to_string(n) + ": " + std::to_string(v) + " is outside " +
                   IntervalText(o));
    }
  }
  for (const auto& [n, v] : changes)
    i.optionValues[static_cast<std::size_t>(n - 1)] = static_cast<std::uint8_t>(v);
  if (!protocol_.SetOptions()) return Fail("опции не записались");
  Done("опции записаны");
  return ceOk;
}

}  // namespace zarvik::ctl
