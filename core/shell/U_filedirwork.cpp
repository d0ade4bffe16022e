#include "shell/U_filedirwork.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
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

namespace {

bool WriteInPlace(const std::string& path, const std::string& bytes) {
  FilePtr f(std::fopen(path.c_str(), "wb"));
  if (!f) return false;
  const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), f.get());
  const bool flushed = std::fflush(f.get()) == 0;
  return written == bytes.size() && flushed;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool WriteTextFile(const std::string& path, const std::string& bytes) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path target(path);
  // Through a symbolic link the file it points to is replaced; the link stays.
  if (fs::is_symlink(target, ec)) {
    const fs::path real = fs::canonical(target, ec);
    if (!ec) target = real;
  }
  const fs::file_status status = fs::status(target, ec);
  // A device or a pipe is written as it is.
  if (fs::exists(status) && !fs::is_regular_file(status)) return WriteInPlace(target.string(), bytes);

  // The text goes to a new file beside the old one, which is synced and then
  // renamed over it: a crash, a full disk or a size limit leaves the old file
  // or the new one, never a part of either.
  static std::atomic<unsigned> counter{0};
  const std::string finalPath = target.string();
  const std::string temp =
      finalPath + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  struct stat old {};
  if (::stat(finalPath.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);  // keep the old file's mode
  const bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temp.c_str(), finalPath.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);  // makes the rename last; the content is complete either way
    ::close(dirFd);
  }
  return true;
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
