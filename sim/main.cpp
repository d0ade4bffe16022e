// zarvik-sim: a simulated register on a pseudo-terminal or a serial device.
//
//   zarvik-sim [--scenario FILE] [--com N] [--device PATH] [--baud N] [--pace] [--match-speed]
//              [--fault FAULT]... [--fault-seed N]
//
// With --com N the device is written as COM<N> into the section "Devices" of
// ZarvikConfig.ini (in the current directory, or the user's configuration
// folder of an installed program), so that the window program
// reaches it as port N; the key is removed again on a clean exit. Runs until
// SIGINT or SIGTERM.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Simulator.h"
#include "port/PortDevices.h"
#include "shell/IniFile.h"
#include "shell/ProjectsVars.h"
#include "shell/U_filedirwork.h"
#include "shell/UserFiles.h"

namespace {

std::atomic<bool> gStop{false};
extern "C" void OnSignal(int) {
  gStop = true;
}

constexpr auto kMainLoopTick = std::chrono::milliseconds(100);

void Usage() {
  std::fprintf(stderr,
               "usage: zarvik-sim [--scenario FILE] [--com N] [--device PATH] [--baud N] [--pace] "
               "[--match-speed] [--fault FAULT]... [--fault-seed N]\n"
               "--match-speed: answer only a PC that set the line to --baud (pseudo-terminal)\n"
               "FAULT: KIND[=PARAM][@PERCENT][*COUNT], KIND one of crc ctlcrc drop extra lose garble seq\n"
               "            wait busy rej silence flood result=CMD:CODE; PERCENT the chance it fires where it could;\n"
               "            COUNT a number or inf (see sim/README.md)\n");
}

bool ToInt(const char* text, int lo, int hi, int& out) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zarvik;
  // The program's own path decides where ZarvikConfig.ini lies (UserFiles.h).
  InitProgram(argc > 0 ? 1 : 0, argv);
  std::string scenarioPath, device;
  int com = 0;
  int baud = sim::kDefaultBaud;
  bool pace = false;
  bool matchSpeed = false;
  std::vector<std::string> faults;
  unsigned long long faultSeed = sim::kDefaultFaultSeed;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--scenario" && hasValue) {
      scenarioPath = argv[++i];
    } else if (a == "--com" && hasValue) {
      if (!ToInt(argv[++i], kMinPortNumber, kMaxPortNumber, com)) {
        std::fprintf(stderr, "zarvik-sim: --com needs a port number 1..256\n");
        return 2;
      }
    } else if (a == "--device" && hasValue) {
      device = argv[++i];
    } else if (a == "--baud" && hasValue) {
      if (!ToInt(argv[++i], 50, 4000000, baud)) {
        std::fprintf(stderr, "zarvik-sim: --baud needs a speed\n");
        return 2;
      }
    } else if (a == "--pace") {
      pace = true;
    } else if (a == "--match-speed") {
      matchSpeed = true;
    } else if (a == "--fault" && hasValue) {
      faults.emplace_back(argv[++i]);
    } else if (a == "--fault-seed" && hasValue) {
      const char* text = argv[++i];
      char* end = nullptr;
      errno = 0;
      faultSeed = std::strtoull(text, &end, 10);
      if (end == text || *end != '\0' || errno != 0 || text[0] == '-') {
        std::fprintf(stderr, "zarvik-sim: --fault-seed needs a number\n");
        return 2;
      }
    } else {
      Usage();
      return a == "--help" || a == "-h" ? 0 : 2;
    }
  }

  sim::Scenario scenario;
  std::string error;
  if (scenarioPath.empty()) {
    // Without --scenario the shop scenario shipped with the program (beside
    // it in a build tree, in its data folder when installed) is served; a
    // bare register only when it is missing.
    std::error_code ec;
    const auto shipped = std::filesystem::path(SharedDataFolder()) / "scenarios" / "default.ini";
    if (std::filesystem::exists(shipped, ec)) scenarioPath = shipped.string();
  }
  const bool loaded = scenarioPath.empty() ? sim::LoadScenarioText("", scenario, error)
                                           : sim::LoadScenarioFile(scenarioPath, scenario, error);
  if (!loaded) {
    std::fprintf(stderr, "zarvik-sim: %s\n", error.c_str());
    return 1;
  }
  sim::Simulator simulator(scenario);
  simulator.SeedFaults(faultSeed);
  for (const auto& text : faults) {
    if (!simulator.AddFault(text)) {
      std::fprintf(stderr, "zarvik-sim: %s\n", simulator.LastError().c_str());
      return 2;
    }
  }
  std::string path;
  if (device.empty()) {
    if (!simulator.OpenPty(path)) {
      std::fprintf(stderr, "zarvik-sim: %s\n", simulator.LastError().c_str());
      return 1;
    }
  } else if (!simulator.OpenDevice(device, baud)) {
    std::fprintf(stderr, "zarvik-sim: %s\n", simulator.LastError().c_str());
    return 1;
  } else {
    path = device;
  }
  simulator.SetPacing(baud, pace);
  simulator.SetSpeedMatch(matchSpeed);

  if (com > 0) {
    EnsureFolder(UserConfigFolder());
    TIniFile ini(ProgramIniPath());
    ini.WriteString(kDevicesSection, PortKey(com), path);
    if (!ini.UpdateFile()) {
      std::fprintf(stderr, "zarvik-sim: cannot write %s\n", ini.FileName().c_str());
      return 1;
    }
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  if (!simulator.Start()) {
    std::fprintf(stderr, "zarvik-sim: %s\n", simulator.LastError().c_str());
    return 1;
  }
  const auto state = simulator.State();
  if (com > 0) {
    std::printf("zarvik-sim: serving port %d (%s) on %s\n", com, PortKey(com).c_str(), path.c_str());
  } else {
    std::printf("zarvik-sim: serving %s (no port number; give --com N to map one)\n", path.c_str());
  }
  std::printf(
      "zarvik-sim: register \"%s\" %s, version \"%s\", network number %d, %zu goods, %zu journal "
      "records, %s\n",
      state.model.c_str(), state.serialNumber.c_str(), state.version.c_str(), state.networkNumber,
      state.goods.size(), state.journal.size(),
      (pace ? "paced at " + std::to_string(baud) + " baud" : std::string("unpaced")).c_str());
  if (matchSpeed) std::printf("zarvik-sim: answering only at %d baud\n", baud);
  std::fflush(stdout);
  while (!gStop) std::this_thread::sleep_for(kMainLoopTick);
  simulator.Close();
  if (com > 0) {
    TIniFile ini(ProgramIniPath());
    if (ini.ReadString(kDevicesSection, PortKey(com), "") == path) {
      ini.DeleteKey(kDevicesSection, PortKey(com));
      if (ini.ReadSection(kDevicesSection).empty()) ini.EraseSection(kDevicesSection);
      ini.UpdateFile();
    }
  }
  std::printf("zarvik-sim: stopped\n");
  return 0;
}
