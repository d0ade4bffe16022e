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
// More links in a row than this are taken for a loop.
constexpr int kMaxLinkHops = 40;

FileWriteHook g_writeHook = nullptr;

bool HookAllows(FileWriteStage stage) {
  return g_writeHook == nullptr || g_writeHook(stage);
}

// The file a write replaces: the end of a chain of symbolic links, so that a
// link kept by the user stays a link. False for a loop of links.
bool ReplacedFile(const std::string& path, std::filesystem::path& file) {
  file = path;
  std::error_code ec;
  for (int hop = 0; std::filesystem::is_symlink(file, ec); ++hop) {
    const std::filesystem::path target = std::filesystem::read_symlink(file, ec);
    if (ec || hop == kMaxLinkHops) return false;
    file = target.is_absolute() ? target : file.parent_path() / target;
  }
  return true;
}

// Writes all bytes, calling the hook once half of them are written.
bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  bool halfSaid = false;
  const std::size_t half = bytes.size() / 2;
  while (done < bytes.size()) {
    const std::size_t chunk = !halfSaid && done < half ? half - done : bytes.size() - done;
    const ssize_t n = ::write(fd, bytes.data() + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
    if (!halfSaid && done >= half) {
      halfSaid = true;
      if (!HookAllows(FileWriteStage::DataHalf)) return false;
    }
  }
  return true;
}

// A device, a pipe or a socket (say /dev/stdout) is written in place: it
// cannot be replaced, and renaming over it would swap a device node for a
// file.
bool WriteInPlace(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, bytes);
  return ::close(fd) == 0 && written;
}

}  // namespace

void SetFileWriteHook(FileWriteHook hook) {
  g_writeHook = hook;
}

void EnsureFolder(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
}

bool WriteTextFile(const std::string& path, const std::string& bytes) {
  std::filesystem::path target;
  if (path.empty() || !ReplacedFile(path, target)) return false;
  const std::string file = target.string();
  struct stat old {};
  const bool exists = ::stat(file.c_str(), &old) == 0;
  if (exists && S_ISDIR(old.st_mode)) return false;
  if (exists && !S_ISREG(old.st_mode)) return WriteInPlace(file, bytes);

  static std::atomic<unsigned> counter{0};
  const std::string temp = file + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const auto fail = [&] {
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  };
  if (exists) {
    // The new file takes the old one's owner (where allowed) and mode.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
      // Another user's file in a folder we may write: it becomes ours.
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0) return fail();
  }
  if (!HookAllows(FileWriteStage::TempCreated)) return fail();
  if (!WriteAll(fd, bytes)) return fail();
  if (!HookAllows(FileWriteStage::DataWritten)) return fail();
  if (::fsync(fd) != 0) return fail();
  if (!HookAllows(FileWriteStage::Synced)) return fail();
  if (::close(fd) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), file.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  if (!HookAllows(FileWriteStage::Renamed)) return false;
  // The rename itself is made durable; the content is complete either way.
  const std::string folder = target.has_parent_path() ? target.parent_path().string() : std::string(".");
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
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
