#include "shell/IniFile.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <set>
#include <sstream>

#include "shell/DiaLog.h"
#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"

namespace zarvik {
namespace {

std::string_view Trim(std::string_view s) {
  const auto notBlank = [](char c) { return c != ' ' && c != '\t' && c != '\r' && c != '\n'; };
  std::size_t b = 0;
  while (b < s.size() && !notBlank(s[b])) ++b;
  std::size_t e = s.size();
  while (e > b && !notBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

constexpr std::size_t npos = static_cast<std::size_t>(-1);

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
  std::error_code ec;
  const auto status = std::filesystem::status(path_, ec);
  if (ec || !std::filesystem::exists(status)) return;  // missing: empty, nothing to say
  if (std::filesystem::is_directory(status)) {
    problem_ = "it is a folder";
    return;
  }
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    problem_ = "it cannot be read (" + std::string(std::strerror(errno)) + ")";
    return;
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  const std::string bytes = ss.str();
  // A settings file is text: any control byte but tab, CR and LF (and the
  // end-of-file mark 0x1A that old editors leave at the end) means something
  // else has taken its place (random bytes, a binary file). What can be read
  // of it is still read.
  constexpr unsigned char kEndOfFileMark = 0x1A;
  std::size_t line = 1;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b == '\n') ++line;
    if (b == kEndOfFileMark && i + 1 == bytes.size()) break;
    if (b < 0x20 && b != '\t' && b != '\r' && b != '\n') {
      problem_ = "it is not a text file (a control byte in line " + std::to_string(line) + ")";
      break;
    }
  }
  Parse(Cp1251ToUtf8(bytes));
  // Line ends are single bytes in both texts, so the lines correspond.
  std::size_t pos = 0;
  for (Line& l : lines_) {
    std::size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string_view raw(bytes.data() + pos, end - pos);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    l.fileBytes = std::string(raw);
    pos = end + 1;
  }
}

bool TIniFile::ReportProblem() const {
  if (problem_.empty()) return false;
  static std::mutex mutex;
  static std::set<std::string> reported;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!reported.insert(path_).second) return false;
  }
  Warning(path_ + ": " + problem_ + "; the default settings are used where it gives none", false, true, true);
  return true;
}

TIniFile TIniFile::FromText(std::string_view utf8Text) {
  TIniFile f;
  f.Parse(utf8Text);
  return f;
}

void TIniFile::Parse(std::string_view text) {
  lines_.clear();
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(pos, end - pos);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    pos = end + 1;

    Line line;
    line.raw = std::string(raw);
    const std::string_view t = Trim(raw);
    if (!t.empty() && t.front() == '[') {
      const std::size_t close = t.find(']');
      if (close != std::string_view::npos) {
        line.kind = Line::kSection;
        line.section = std::string(Trim(t.substr(1, close - 1)));
      }
    } else if (!t.empty() && t.front() != ';' && t.front() != '#') {
      const std::size_t eq = t.find('=');
      if (eq != std::string_view::npos && eq > 0) {
        line.kind = Line::kKey;
        line.key = std::string(Trim(t.substr(0, eq)));
        line.value = std::string(Trim(t.substr(eq + 1)));
      }
    }
    // Anything else (comments, garbage) is kept as it stands and never read.
    lines_.push_back(std::move(line));
  }
}

std::size_t TIniFile::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == Line::kSection && Utf8EqualNoCase(lines_[i].section, section)) return i;
  }
  return npos;
}

std::size_t TIniFile::SectionEnd(std::size_t sectionLine) const {
  std::size_t i = sectionLine + 1;
  while (i < lines_.size() && lines_[i].kind != Line::kSection) ++i;
  return i;
}

std::optional<std::size_t> TIniFile::FindKey(std::string_view section, std::string_view key) const {
  const std::size_t s = FindSection(section);
  if (s == npos) return std::nullopt;
  const std::size_t e = SectionEnd(s);
  for (std::size_t i = s + 1; i < e; ++i) {
    if (lines_[i].kind == Line::kKey && Utf8EqualNoCase(lines_[i].key, Trim(key))) return i;
  }
  return std::nullopt;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const {
  const auto k = FindKey(section, key);
  return k ? lines_[*k].value : std::string(def);
}

std::int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t def) const {
  const auto k = FindKey(section, key);
  if (!k) return def;
  std::string_view v = lines_[*k].value;
  if (!v.empty() && v.front() == '+') v.remove_prefix(1);
  std::int64_t n = 0;
  const auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
  if (ec != std::errc() || ptr != v.data() + v.size() || v.empty()) return def;
  if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max()) {
    return def;
  }
  return static_cast<std::int32_t>(n);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  const auto k = FindKey(section, key);
  if (!k) return def;
  constexpr std::int32_t kMissing = std::numeric_limits<std::int32_t>::min();
  const std::int32_t n = ReadInteger(section, key, kMissing);
  if (n == kMissing) return def;
  return n != 0;
}

bool TIniFile::SectionExists(std::string_view section) const { return FindSection(section) != npos; }

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
  return FindKey(section, key).has_value();
}

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const {
  std::vector<std::string> keys;
  const std::size_t s = FindSection(section);
  if (s == npos) return keys;
  const std::size_t e = SectionEnd(s);
  for (std::size_t i = s + 1; i < e; ++i) {
    if (lines_[i].kind == Line::kKey) keys.push_back(lines_[i].key);
  }
  return keys;
}

std::vector<std::string> TIniFile::ReadSections() const {
  std::vector<std::string> out;
  for (const Line& l : lines_) {
    if (l.kind == Line::kSection) out.push_back(l.section);
  }
  return out;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  modified_ = true;
  Line kl;
  kl.kind = Line::kKey;
  kl.key = std::string(Trim(key));
  kl.value = std::string(Trim(value));
  kl.raw = kl.key + "=" + kl.value;
  if (const auto k = FindKey(section, key)) {
    // The key keeps the spelling it has in the file.
    kl.key = lines_[*k].key;
    kl.raw = kl.key + "=" + kl.value;
    lines_[*k] = std::move(kl);
    return;
  }
  std::size_t s = FindSection(section);
  if (s == npos) {
    // A blank line between sections, as the Windows writer leaves it.
    if (!lines_.empty() && !Trim(lines_.back().raw).empty()) lines_.push_back(Line{});
    Line sl;
    sl.kind = Line::kSection;
    sl.section = std::string(section);
    sl.raw = "[" + sl.section + "]";
    lines_.push_back(std::move(sl));
    lines_.push_back(std::move(kl));
    return;
  }
  // After the last key of the section (before trailing blank lines).
  std::size_t at = SectionEnd(s);
  while (at > s + 1 && Trim(lines_[at - 1].raw).empty()) --at;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(kl));
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, std::int64_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(std::string_view section) {
  const std::size_t s = FindSection(section);
  if (s == npos) return;
  modified_ = true;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(s),
               lines_.begin() + static_cast<std::ptrdiff_t>(SectionEnd(s)));
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key) {
  if (const auto k = FindKey(section, key)) {
    modified_ = true;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*k));
  }
}

bool TIniFile::UpdateFile() const {
  std::string bytes;
  for (const Line& l : lines_) {
    bytes += l.fileBytes ? *l.fileBytes : Utf8ToCp1251(l.raw);
    bytes += "\r\n";
  }
  return WriteTextFile(path_, bytes);
}

}  // namespace zarvik
