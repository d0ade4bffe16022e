#include "CtlArgs.h"

#include <array>
#include <charconv>

#include "port/Comport.h"
#include "port/PortDevices.h"
#include "shell/TextCodec.h"

namespace zarvik::ctl {
namespace {

constexpr int kHighestNetworkNumber = 98;
constexpr std::string_view kConfigStopWord = "CONFIG_STOP";
constexpr int kHighestFontOption = 8;
constexpr int kHighestBrightness = 5;
constexpr int kMostJobs = 256;
constexpr std::array<std::string_view, 5> kDepthWords = {"mdapplied", "mdfunctional", "mdsystem",
                                                         "mdhardware", "debug"};

bool IntOption(std::string_view name, std::string_view value, std::int64_t min, std::int64_t max, int& out,
               std::string& error) {
  std::int64_t v = 0;
  if (!ParseInteger(value, min, max, v)) {
    error = "--" + std::string(name) + ": \"" + std::string(value) + "\" is not a number from " +
            std::to_string(min) + " to " + std::to_string(max);
    return false;
  }
  out = static_cast<int>(v);
  return true;
}

// The text options of the journal's data commands.
std::string* JournalFileOption(CtlArgs& out, std::string_view name) {
  if (name == "in") return &out.in;
  if (name == "receipts") return &out.receipts;
  if (name == "lines") return &out.lines;
  if (name == "xlsx") return &out.xlsx;
  if (name == "from") return &out.from;
  if (name == "to") return &out.to;
  if (name == "goods") return &out.goods;
  return nullptr;
}

}  // namespace

bool ParseInteger(std::string_view text, std::int64_t min, std::int64_t max, std::int64_t& out) {
  std::int64_t v = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, v);
  if (text.empty() || ec != std::errc() || ptr != end || v < min || v > max) return false;
  out = v;
  return true;
}

bool IsDepthWord(std::string_view word) {
  const std::string lower = Utf8Lower(word);
  for (const std::string_view w : kDepthWords)
    if (lower == w) return true;
  return false;
}

bool ParseCtlArgs(const std::vector<std::string>& args, CtlArgs& out, std::string& error) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == kConfigStopWord) {
      out.configStop = true;
      continue;
    }
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      out.words.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    if (a == "-h") {
      out.help = true;
      out.given.insert("help");
      continue;
    }
    if (a.rfind("--", 0) != 0) {
      error = "unknown option " + a;
      return false;
    }
    std::string name = a.substr(2);
    std::string value;
    bool hasValue = false;
    if (const std::size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      hasValue = true;
    }
    const auto flag = [&](bool& target) {
      if (hasValue) {
        error = "--" + name + " takes no value";
        return false;
      }
      target = true;
      return true;
    };
    const auto takeValue = [&]() {
      if (hasValue) return true;
      if (i + 1 >= args.size()) {
        error = "--" + name + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    out.given.insert(name);
    bool ok = true;
    if (name == "csv") {
      ok = flag(out.csv);
    } else if (name == "json") {
      ok = flag(out.json);
    } else if (name == "help") {
      ok = flag(out.help);
    } else if (name == "data") {
      ok = flag(out.data);
    } else if (name == "reset-sold") {
      ok = flag(out.resetSold);
    } else if (name == "all") {
      ok = flag(out.all);
    } else if (name == "save") {
      ok = flag(out.save);
    } else if (name == "no-backup") {
      ok = flag(out.noBackup);
    } else if (name == "dry-run") {
      ok = flag(out.dryRun);
    } else if (name == "serial" || name == "report" || name == "fleet-worker") {
      ok = takeValue();
      if (ok && value.empty()) {
        error = "--" + name + " needs a value";
        ok = false;
      }
      (name == "serial" ? out.serial : name == "report" ? out.report : out.fleetWorker) = value;
    } else if (name == "jobs") {
      ok = takeValue() && IntOption(name, value, 1, kMostJobs, out.jobs, error);
    } else if (name == "port") {
      ok = takeValue() && IntOption(name, value, kMinPortNumber, kMaxPortNumber, out.port, error);
    } else if (name == "speed") {
      ok = takeValue() && IntOption(name, value, 1, INT32_MAX, out.speed, error);
      if (ok && !IsAllowedBaudRate(static_cast<std::uint32_t>(out.speed))) {
        error = "--speed: " + value + " is not a speed of the port (9600, 19200, 38400, 57600, 115200)";
        ok = false;
      }
    } else if (name == "net") {
      ok = takeValue() && IntOption(name, value, 1, kHighestNetworkNumber, out.net, error);
    } else if (name == "depth") {
      ok = takeValue();
      if (ok && !IsDepthWord(value)) {
        error =
            "--depth: \"" + value + "\" is not one of mdapplied, mdfunctional, mdsystem, mdhardware, debug";
        ok = false;
      }
      out.depth = value;
    } else if (name == "out") {
      ok = takeValue();
      if (ok && value.empty()) {
        error = "--out needs a file name";
        ok = false;
      }
      out.out = value;
    } else if (name == "font") {
      ok = takeValue() && IntOption(name, value, 0, kHighestFontOption, out.font, error);
    } else if (name == "brightness") {
      ok = takeValue() && IntOption(name, value, 0, kHighestBrightness, out.brightness, error);
    } else if (name == "header-font") {
      ok = takeValue() && IntOption(name, value, 0, kHighestFontOption, out.headerFont, error);
    } else if (name == "footer-font") {
      ok = takeValue() && IntOption(name, value, 0, kHighestFontOption, out.footerFont, error);
    } else if (name == "sheet" || name == "column") {
      ok = takeValue();
      if (ok && value.empty()) {
        error = "--" + name + " needs a value";
        ok = false;
      }
      if (name == "sheet")
        out.sheet = value;
      else
        out.columns.push_back(value);
    } else if (name == "utf8") {
      ok = flag(out.utf8);
    } else if (std::string* file = JournalFileOption(out, name)) {
      ok = takeValue();
      if (ok && value.empty()) {
        error = "--" + name + " needs a value";
        ok = false;
      }
      *file = value;
    } else {
      error = "unknown option --" + name;
      ok = false;
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace zarvik::ctl
