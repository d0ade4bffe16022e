#include "shell/U_filedirwork.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

namespace zarvik {
namespace {
constexpr std::size_t kReadBlock = 65536;
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
}  // namespace

void EnsureFolder(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
}

bool WriteTextFile(const std::string& path, const std::string& bytes) {
  FilePtr f(std::fopen(path.c_str(), "wb"));
  if (!f) return false;
  const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), f.get());
  const bool flushed = std::fflush(f.get()) == 0;
  return written == bytes.size() && flushed;
}

bool ReadTextFile(const std::string& path, std::string& bytes) {
  FilePtr f(std::fopen(path.c_str(), "rb"));
  if (!f) return false;
  bytes.clear();
  std::string block(kReadBlock, '\0');
  for (;;) {
    const std::size_t n = std::fread(block.data(), 1, block.size(), f.get());
    bytes.append(block, 0, n);
    if (n < block.size()) break;
  }
  std::replace(bytes.begin(), bytes.end(), '\0', ' ');
  return true;
}

std::vector<std::string> ListFiles(const std::string& folder, const std::string& suffix) {
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    const std::string name = it->path().filename().string();
    if (name.size() >= suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return (std::filesystem::path(folder) / name).string();
}

}  // namespace zarvik
