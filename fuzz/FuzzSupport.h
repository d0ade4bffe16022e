// Small helpers shared by the fuzz targets.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

// Stops the run with a crash report when a property does not hold.
#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::zarvik::fuzz::CheckFailed(#condition, __FILE__, __LINE__))

// The same for two texts that must be equal; both are shown when they differ.
#define FUZZ_CHECK_EQ(a, b) ::zarvik::fuzz::CheckEqual((a), (b), #a " == " #b, __FILE__, __LINE__)

namespace zarvik::fuzz {

[[noreturn]] inline void CheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

// Control characters as \xNN, so that a NUL does not end the text shown.
inline std::string Shown(const std::string& s) {
  std::string out;
  for (const char c : s) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\n') {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

inline void CheckEqual(const std::string& a, const std::string& b, const char* what, const char* file, int line) {
  if (a == b) return;
  std::fprintf(stderr, "--- got:\n%s\n--- wanted:\n%s\n---\n", Shown(a).c_str(), Shown(b).c_str());
  CheckFailed(what, file, line);
}

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A folder of this process for the files a target reads and writes, removed
// when the process ends (in memory when /dev/shm exists).
inline const std::string& ScratchFolder() {
  // Never destroyed, so the removal at exit can still read it.
  static const std::string* const folder = [] {
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    std::string tmpl = (base / "zarvik-fuzz-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(ScratchFolder(), ec);
    });
    return new std::string(tmpl);
  }();
  return *folder;
}

inline std::string ScratchFile(const std::string& name) {
  return (std::filesystem::path(ScratchFolder()) / name).string();
}

inline void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace zarvik::fuzz
