// ZarvikConfig.ini as the program reads and rewrites it, on arbitrary bytes
// (a hand-edited file): the INI reader, the port settings of both ports, the
// port device table and the network number. Then the settings of the ports
// are saved as the window does when it closes: read again, they are what was
// saved, and every other section reads exactly as before.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "FuzzSupport.h"
#include "port/Comport.h"
#include "port/PortDevices.h"
#include "shell/DiaLog.h"
#include "shell/IniFile.h"
#include "shell/ProjectsVars.h"
#include "shell/TextCodec.h"

namespace {

using namespace zarvik;

using Values = std::map<std::pair<std::string, std::string>, std::string>;

// Every key of every section but `skip`, as ReadString gives it.
Values AllValues(const TIniFile& ini, std::string_view skip) {
  Values v;
  for (const std::string& section : ini.ReadSections()) {
    if (Utf8EqualNoCase(section, skip)) continue;
    for (const std::string& key : ini.ReadSection(section)) {
      v[{Utf8Lower(section), Utf8Lower(key)}] = ini.ReadString(section, key, "\x01missing");
    }
  }
  return v;
}

bool SamePort(const TComPort& a, const TComPort& b) {
  return a.PortNumber() == b.PortNumber() && a.BaudRate() == b.BaudRate() &&
         a.readTotalTimeoutConstant == b.readTotalTimeoutConstant &&
         a.readTotalTimeoutMultiplier == b.readTotalTimeoutMultiplier &&
         a.readIntervalTimeout == b.readIntervalTimeout &&
         a.writeTotalTimeoutConstant == b.writeTotalTimeoutConstant &&
         a.writeTotalTimeoutMultiplier == b.writeTotalTimeoutMultiplier;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  NameLogFile = "/dev/null";
  isAUTONOM = true;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = fuzz::ScratchFile(std::string(kProgramIniName));
  fuzz::WriteBytes(path, fuzz::AsText(data, size));

  const TIniFile ini(path);
  for (const std::string& section : ini.ReadSections()) {
    FUZZ_CHECK(ini.SectionExists(section));
    for (const std::string& key : ini.ReadSection(section)) {
      FUZZ_CHECK(ini.ValueExists(section, key));
      const std::string value = ini.ReadString(section, key, "");
      FUZZ_CHECK(value.find('\n') == std::string::npos);
      ini.ReadInteger(section, key, 0);
      ini.ReadBool(section, key, false);
    }
  }
  // What the programs read from it; the device table reads the file of the
  // working folder.
  static const int home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (home < 0 || ::chdir(fuzz::ScratchFolder().c_str()) != 0) std::abort();
  const auto table = PortDeviceTable();
  if (::fchdir(home) != 0) std::abort();
  for (const std::string& device : table) FUZZ_CHECK(device.find('\n') == std::string::npos);
  ini.ReadInteger("NET", "NetNumber", 1);
  TComPort port;
  TComPort scanner;
  port.LoadSettings(path, "Port");
  scanner.LoadSettings(path, "PortScan");
  FUZZ_CHECK(port.PortNumber() >= kMinPortNumber && port.PortNumber() <= kMaxPortNumber);
  FUZZ_CHECK(IsAllowedBaudRate(port.BaudRate()));

  // Saved as the window saves it when it closes.
  const Values others = AllValues(ini, "Port");
  port.SaveSettings(path, "Port");
  const TIniFile again(path);
  FUZZ_CHECK(AllValues(again, "Port") == others);
  TComPort back;
  back.LoadSettings(path, "Port");
  FUZZ_CHECK(SamePort(port, back));
  return 0;
}
