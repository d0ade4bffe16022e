#include "SimFaults.h"

#include <charconv>

namespace zarvik::sim {
namespace {

struct KindName {
  FaultKind kind;
  std::string_view name;
};
constexpr KindName kKindNames[] = {
    {FaultKind::Crc, "crc"},       {FaultKind::ControlCrc, "ctlcrc"}, {FaultKind::Drop, "drop"},
    {FaultKind::Extra, "extra"},   {FaultKind::Sequence, "seq"},      {FaultKind::Wait, "wait"},
    {FaultKind::Busy, "busy"},     {FaultKind::Reject, "rej"},        {FaultKind::Silence, "silence"},
    {FaultKind::Result, "result"}, {FaultKind::Flood, "flood"},       {FaultKind::Lose, "lose"},
    {FaultKind::Garble, "garble"},
};
constexpr int kMaxParam = 100000;
constexpr std::size_t kChanceDecimals = 4;

bool ToInt(std::string_view text, int& out) {
  if (text.empty()) return false;
  const auto* end = text.data() + text.size();
  const auto res = std::from_chars(text.data(), end, out);
  return res.ec == std::errc() && res.ptr == end;
}

// "2.5" -> 25000 millionths; 0..100 with up to four decimals.
bool ToChance(std::string_view text, int& out) {
  const std::size_t point = text.find('.');
  int whole = 0;
  if (!ToInt(text.substr(0, point), whole) || whole < 0 || whole > 100) return false;
  int fraction = 0;
  if (point != std::string_view::npos) {
    const std::string_view digits = text.substr(point + 1);
    if (digits.empty() || digits.size() > kChanceDecimals || !ToInt(digits, fraction) || fraction < 0 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos)
      return false;
    for (std::size_t i = digits.size(); i < kChanceDecimals; ++i) fraction *= 10;
  }
  out = whole * kChancePerPercent + fraction;
  return out <= kChanceScale;
}

std::string ChanceText(int chance) {
  std::string text = std::to_string(chance / kChancePerPercent);
  if (const int fraction = chance % kChancePerPercent; fraction != 0) {
    std::string digits = std::to_string(fraction);
    digits.insert(0, kChanceDecimals - digits.size(), '0');
    while (digits.back() == '0') digits.pop_back();
    text += "." + digits;
  }
  return text;
}

}  // namespace

bool ParseFault(std::string_view text, Fault& out, std::string& error) {
  Fault f;
  std::string_view rest = text;
  const std::size_t star = rest.find('*');
  if (star != std::string_view::npos) {
    const std::string_view count = rest.substr(star + 1);
    if (count == "inf") {
      f.count = kFaultForever;
    } else if (!ToInt(count, f.count) || f.count < 1 || f.count > kMaxParam) {
      error = "bad fault count in \"" + std::string(text) + "\"";
      return false;
    }
    rest = rest.substr(0, star);
  }
  const std::size_t at = rest.find('@');
  if (at != std::string_view::npos) {
    if (!ToChance(rest.substr(at + 1), f.chance)) {
      error = "bad fault chance in \"" + std::string(text) + "\" (a percentage 0..100)";
      return false;
    }
    rest = rest.substr(0, at);
  }
  std::string_view name = rest;
  std::string_view param;
  const std::size_t eq = rest.find('=');
  if (eq != std::string_view::npos) {
    name = rest.substr(0, eq);
    param = rest.substr(eq + 1);
  }
  bool known = false;
  for (const auto& k : kKindNames) {
    if (k.name == name) {
      f.kind = k.kind;
      known = true;
    }
  }
  if (!known) {
    error = "unknown fault \"" + std::string(text) + "\"";
    return false;
  }
  const bool takesNumber = f.kind == FaultKind::Drop || f.kind == FaultKind::Extra ||
                           f.kind == FaultKind::Lose || f.kind == FaultKind::Wait ||
                           f.kind == FaultKind::Flood;
  if (f.kind == FaultKind::Flood) f.param = kDefaultFlood;
  if (f.kind == FaultKind::Result) {
    const std::size_t colon = param.find(':');
    if (colon == std::string_view::npos || !ToInt(param.substr(0, colon), f.param) ||
        !ToInt(param.substr(colon + 1), f.result) || f.param < 0 || f.param > 255 || f.result < 0 ||
        f.result > 255) {
      error = "fault \"" + std::string(text) + "\" needs result=COMMAND:CODE";
      return false;
    }
  } else if (f.kind == FaultKind::Wait && param.find(':') != std::string_view::npos) {
    const std::size_t colon = param.find(':');
    if (!ToInt(param.substr(0, colon), f.param) || !ToInt(param.substr(colon + 1), f.command) || f.param < 1 ||
        f.param > kMaxParam || f.command < 0 || f.command > 255) {
      error = "fault \"" + std::string(text) + "\" needs wait=COUNT:COMMAND";
      return false;
    }
  } else if (!param.empty()) {
    if (!takesNumber || !ToInt(param, f.param) || f.param < 1 || f.param > kMaxParam) {
      error = "bad fault parameter in \"" + std::string(text) + "\"";
      return false;
    }
  }
  out = f;
  return true;
}

std::string FaultText(const Fault& f) {
  std::string text;
  for (const auto& k : kKindNames) {
    if (k.kind == f.kind) text = std::string(k.name);
  }
  if (f.kind == FaultKind::Result) {
    text += "=" + std::to_string(f.param) + ":" + std::to_string(f.result);
  } else if (f.kind == FaultKind::Drop || f.kind == FaultKind::Extra || f.kind == FaultKind::Lose ||
             f.kind == FaultKind::Wait || f.kind == FaultKind::Flood) {
    text += "=" + std::to_string(f.param);
    if (f.kind == FaultKind::Wait && f.command >= 0) text += ":" + std::to_string(f.command);
  }
  if (f.chance != kChanceScale) text += "@" + ChanceText(f.chance);
  if (f.count == kFaultForever) {
    text += "*inf";
  } else if (f.count != 1) {
    text += "*" + std::to_string(f.count);
  }
  return text;
}

const Fault* FaultSet::Fire(FaultKind kind, int command) {
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->kind != kind) continue;
    if (kind == FaultKind::Result && it->param != command) continue;
    if (kind == FaultKind::Wait && it->command >= 0 && it->command != command) continue;
    if (it->chance < kChanceScale &&
        std::uniform_int_distribution<int>(0, kChanceScale - 1)(random_) >= it->chance)
      continue;
    fired_ = *it;
    ++firedCount_[static_cast<int>(kind)];
    if (it->count != kFaultForever && --it->count <= 0) faults_.erase(it);
    return &fired_;
  }
  return nullptr;
}

std::vector<Fault> FaultSet::Armed() const {
  return faults_;
}

int FaultSet::Fired(FaultKind kind) const {
  return firedCount_[static_cast<int>(kind)];
}

}  // namespace zarvik::sim
