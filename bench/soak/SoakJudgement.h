// Part of bench_soak, which alone includes it (each part includes the one
// before it: Options, Judgement, Faults, Process, Operations, Report): the
// register's state as items, the judgement of a write or a read against it,
// and the figures of the outcomes.
#pragma once

#include "SoakOptions.h"

namespace {

// ---------------------------------------------------------------------------
// The register's state as items: each setting and each goods record has a
// key and a canonical text of its value as the register holds it. A write is
// judged item by item (new, old, or neither), a read by comparing the items
// the PC decoded with the register's.

using Items = std::map<std::string, std::string>;

std::string Hex2(unsigned v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return std::string{kDigits[(v >> 4) & 0xF], kDigits[v & 0xF]};
}

std::string Key(const char* what, int n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s %04d", what, n);
  return buf;
}

std::string DepartmentText(std::uint8_t status, const std::string& name, int tax, std::uint64_t price) {
  if (status != kDepGoods && status != kDepService) return "closed";
  return Hex2(status) + "|" + name + "|" + std::to_string(tax) + "|" + std::to_string(price);
}

std::string LineText(int font, const std::string& text) {
  return std::to_string(font) + "|" + text;
}

// A goods record: everything the register stores.
std::string GoodsText(const sim::Goods& g) {
  return std::to_string(g.type) + "|" + Hex2(g.flags) + "|" + g.name + "|" + std::to_string(g.price) + "|" +
         std::to_string(g.taxGroup) + "|" + std::to_string(g.section) + "|" + g.barcode + "|" +
         std::to_string(g.sold);
}

// A goods record as the PC shows it: the sale kind and the barcode only for
// goods, the quantity sold only when the PC read it. An all-zero barcode
// field (no barcode) is shown as "0", which writes the same field back; an
// empty text and "0" are the same field.
std::string GoodsSeenText(int type, bool byPiece, bool blocked, const std::string& name, std::int64_t price,
                          int tax, int section, const std::string& barcode,
                          std::optional<std::int64_t> sold) {
  std::string text = std::to_string(type) + "|" + (blocked ? "blocked" : "open") + "|" + name + "|" +
                     std::to_string(price) + "|" + std::to_string(tax) + "|" + std::to_string(section);
  if (type == kTypeGoods)
    text += std::string("|") + (byPiece ? "piece" : "weight") + "|" + (barcode.empty() ? "0" : barcode);
  if (sold) text += "|" + std::to_string(*sold);
  return text;
}

std::string GoodsSeenText(const sim::Goods& g, bool withSold) {
  return GoodsSeenText(
      g.type, (g.flags & kFlagByPiece) != 0, (g.flags & kFlagBlocked) != 0, g.name,
      static_cast<std::int64_t>(g.price), g.taxGroup, g.section, g.barcode,
      withSold ? std::optional<std::int64_t>(static_cast<std::int64_t>(g.sold)) : std::nullopt);
}

struct ItemGroups {
  bool options = true, departments = true, receipt = true, operators = true, goods = true;
};

Items ItemsOf(const sim::RegisterState& s, ItemGroups g = {}) {
  Items items;
  if (g.options) {
    for (std::size_t i = 0; i < s.options.size(); ++i)
      items[Key("option", static_cast<int>(i + 1))] = std::to_string(s.options[i]);
  }
  if (g.departments) {
    for (int n = 1; n <= kDepartments; ++n) {
      const sim::Department& d = s.departments[static_cast<std::size_t>(n - 1)];
      items[Key("department", n)] = DepartmentText(d.status, d.name, d.taxGroup, d.priceLimit);
    }
  }
  if (g.receipt) {
    for (int n = 1; n <= kLines; ++n) {
      const auto i = static_cast<std::size_t>(n - 1);
      items[Key("header", n)] = LineText(s.header[i].font, s.header[i].text);
      items[Key("footer", n)] = LineText(s.footer[i].font, s.footer[i].text);
    }
  }
  if (g.operators) {
    for (int n = 1; n <= kOperators; ++n) {
      const auto i = static_cast<std::size_t>(n - 1);
      items[Key("operator", n)] = s.operatorNames[i];
      items[Key("position", n)] = s.positions[i];
    }
  }
  if (g.goods) {
    for (const auto& [code, goods] : s.goods) items[Key("goods", code)] = GoodsText(goods);
  }
  return items;
}

// How a write came out, item by item.
struct WriteJudgement {
  int changed = 0;                    // items the write was to change
  int fresh = 0;                      // of them, holding the new value
  std::vector<std::string> neither;   // items holding neither the old nor the new value
  std::vector<std::string> stale;     // changed items still holding the old value
  std::vector<std::string> unwanted;  // items the write was not to change that changed
};

std::string ItemValue(const Items& items, const std::string& key) {
  const auto it = items.find(key);
  return it == items.end() ? std::string("(none)") : it->second;
}

WriteJudgement JudgeWrite(const Items& before, const Items& intended, const Items& after) {
  WriteJudgement j;
  std::set<std::string> keys;
  for (const Items* m : {&before, &intended, &after})
    for (const auto& kv : *m) keys.insert(kv.first);
  for (const std::string& key : keys) {
    const std::string b = ItemValue(before, key);
    const std::string w = ItemValue(intended, key);
    const std::string a = ItemValue(after, key);
    const std::string line = key + ": before \"" + b + "\", written \"" + w + "\", now \"" + a + "\"";
    if (b != w) {
      ++j.changed;
      if (a == w) {
        ++j.fresh;
      } else if (a == b) {
        j.stale.push_back(line);
      } else {
        j.neither.push_back(line);
      }
    } else if (a != b) {
      j.unwanted.push_back(line);
    }
  }
  return j;
}

// Differences between what the PC read and what the register holds.
std::vector<std::string> CompareRead(const Items& expected, const Items& read) {
  std::vector<std::string> diffs;
  std::set<std::string> keys;
  for (const Items* m : {&expected, &read})
    for (const auto& kv : *m) keys.insert(kv.first);
  for (const std::string& key : keys) {
    const std::string e = ItemValue(expected, key);
    const std::string r = ItemValue(read, key);
    if (e != r) diffs.push_back(key + ": register \"" + e + "\", read \"" + r + "\"");
  }
  return diffs;
}

// The settings items as the PC shows them.
Items SeenSettings(const sim::RegisterState& s, ItemGroups g) {
  g.goods = false;
  Items items = ItemsOf(s, g);
  // The PC reads one font per block: that of line 1.
  if (g.receipt) {
    for (int n = 1; n <= kLines; ++n) {
      items[Key("header", n)] = LineText(s.header[0].font, s.header[static_cast<std::size_t>(n - 1)].text);
      items[Key("footer", n)] = LineText(s.footer[0].font, s.footer[static_cast<std::size_t>(n - 1)].text);
    }
  }
  return items;
}


// ---------------------------------------------------------------------------
// Figures

enum class Outcome { Ok, Failed, Wrong, Killed, Hung, Crashed };
constexpr int kOutcomeCount = 6;

struct Tally {
  std::array<int, kOutcomeCount> n{};
  int& operator[](Outcome o) { return n[static_cast<std::size_t>(o)]; }
  int operator[](Outcome o) const { return n[static_cast<std::size_t>(o)]; }
  int Total() const {
    int t = 0;
    for (int v : n) t += v;
    return t;
  }
};

struct RateFigures {
  double rate = 0;
  Tally all;
  std::map<std::string, Tally> byOperation;
  int freezes = 0;
  int longFreezes = 0;
  int bursts = 0;
  int kills = 0;
  int faultsFired = 0;
  int stalls = 0;
  int goodsWritten = 0;   // goods records the register holds as written by operations that succeeded
  int goodsChecked = 0;   // goods records read back and compared
  int journalFrames = 0;  // journal frames (or record lines) read and compared
  double seconds = 0;
  std::vector<std::string> wrong;  // what each wrong result was
};

const char* OutcomeName(Outcome o) {
  switch (o) {
    case Outcome::Ok: return "ok";
    case Outcome::Failed: return "failed";
    case Outcome::Wrong: return "WRONG";
    case Outcome::Killed: return "killed";
    case Outcome::Hung: return "HUNG";
    case Outcome::Crashed: return "CRASHED";
  }
  return "?";
}

}  // namespace
