#include "store/Dbf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <optional>
#include <utility>

#include "shell/DiaLog.h"
#include "shell/TextCodec.h"

namespace zarvik {
namespace {

// File layout.
constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kDescriptorSize = 32;
constexpr std::size_t kOffVersion = 0;
constexpr std::size_t kOffUpdateYear = 1;  // then month and day
constexpr std::size_t kOffRecordCount = 4;
constexpr std::size_t kOffHeaderLength = 8;
constexpr std::size_t kOffRecordLength = 10;
constexpr std::size_t kOffMdxFlag = 28;
constexpr std::size_t kOffLanguageDriver = 29;
constexpr std::size_t kDescName = 0;
constexpr std::size_t kDescNameSize = 11;
constexpr std::size_t kDescType = 11;
constexpr std::size_t kDescLength = 16;
constexpr std::size_t kDescDecimals = 17;
constexpr std::size_t kDescMdxFlag = 31;

constexpr unsigned char kHeaderTerminator = 0x0D;
constexpr unsigned char kEndOfFileMark = 0x1A;
constexpr char kActiveFlag = ' ';
constexpr char kDeletedFlag = '*';
constexpr std::uint8_t kVersionDbase = 0x03;          // dBASE III/IV, no memo
constexpr std::uint8_t kLanguageDriverCp1251 = 0xC9;  // Russian Windows (1251)
constexpr std::size_t kMaxFieldNameLength = 10;
constexpr int kMaxFieldLength = 254;   // 255 and above: damaged (see Parse)
constexpr int kMaxNumericLength = 20;  // dBASE IV limit for fields this program creates
constexpr std::size_t kMaxFieldsOnCreate = 255;
constexpr std::size_t kMaxRecordLength = 65535;
constexpr std::size_t kMaxFileSize = std::size_t{1} << 30;  // far above any table of the program

// Version bytes of the dBASE III/IV family whose header and records this
// reader understands. Memo versions (0x83, 0x8B, 0xF5) and Visual FoxPro
// (0x30, 0x31, whose 263-byte trailer sits inside the header length) are read
// because real goods files come from such programs; their memo fields are
// kept as bytes and cannot be required.
constexpr std::uint8_t kKnownVersions[] = {0x03, 0x83, 0x8B, 0xF5, 0x30, 0x31};

DbfWriteHook g_writeHook = nullptr;

bool HookAllows(DbfWriteStage stage) {
  return g_writeHook == nullptr || g_writeHook(stage);
}

std::uint8_t Byte(std::string_view s, std::size_t at) {
  return static_cast<std::uint8_t>(s[at]);
}

std::uint32_t Le32(std::string_view s, std::size_t at) {
  return static_cast<std::uint32_t>(Byte(s, at)) | (static_cast<std::uint32_t>(Byte(s, at + 1)) << 8) |
         (static_cast<std::uint32_t>(Byte(s, at + 2)) << 16) |
         (static_cast<std::uint32_t>(Byte(s, at + 3)) << 24);
}

std::uint16_t Le16(std::string_view s, std::size_t at) {
  return static_cast<std::uint16_t>(Byte(s, at) | (Byte(s, at + 1) << 8));
}

void PutLe32(std::string& s, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFFu);
}

void PutLe16(std::string& s, std::size_t at, std::size_t v) {
  s[at] = static_cast<char>(v & 0xFFu);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFFu);
}

bool IsPadding(char c) {
  return c == ' ' || c == '\0';
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsPadding(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  s = TrimRight(s);
  while (!s.empty() && IsPadding(s.front())) s.remove_prefix(1);
  return s;
}

// The text of an N field without its padding. Numbers are taken left- or
// right-aligned (writers differ); a field full of "*" is blank: shapelib, the
// dBASE writer of GDAL, stores a missing number that way (dBASE itself writes
// "*" for a number too wide for its field, which has no value either).
std::string_view NumericText(std::string_view raw) {
  const std::string_view t = Trim(raw);
  if (!t.empty() && t.find_first_not_of('*') == std::string_view::npos) return {};
  return t;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ValidFieldName(std::string_view name) {
  if (name.empty() || name.size() > kMaxFieldNameLength) return false;
  const auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (!alpha(name[0])) return false;
  for (char c : name)
    if (!alpha(c) && !(c >= '0' && c <= '9') && c != '_') return false;
  return true;
}

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// Decimal number text "[-]digits[.digits]" (a comma is accepted for the
// point); its parts for formatting into an N field.
bool SplitNumber(std::string_view text, bool& negative, std::string& whole, std::string& fraction) {
  negative = false;
  whole.clear();
  fraction.clear();
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') whole.push_back(text[i++]);
  if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') fraction.push_back(text[i++]);
  }
  return i == text.size() && (!whole.empty() || !fraction.empty());
}

// Writes `bytes` to `path` through a temporary file in the same folder that is
// synced and renamed over `path`; the folder is synced after the rename. On
// any failure the temporary file is removed and `path` is left as it was.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
  static std::atomic<unsigned> counter{0};
  const std::string temp = path + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = "cannot create " + temp + ": " + std::strerror(errno);
    return false;
  }
  const auto fail = [&](const std::string& what) {
    error = what;
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  };
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);  // keep the old file's mode
  if (!HookAllows(DbfWriteStage::TempCreated)) return fail("write interrupted after creating " + temp);
  std::size_t done = 0;
  bool halfReported = false;
  while (done < bytes.size()) {
    std::size_t chunk = bytes.size() - done;
    if (!halfReported && done < bytes.size() / 2) chunk = bytes.size() / 2 - done;
    if (chunk == 0) chunk = bytes.size() - done;
    const ssize_t n = ::write(fd, bytes.data() + done, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("cannot write " + temp + ": " + std::strerror(errno));
    }
    done += static_cast<std::size_t>(n);
    if (!halfReported && done >= bytes.size() / 2) {
      halfReported = true;
      if (!HookAllows(DbfWriteStage::DataHalf)) return fail("write interrupted in " + temp);
    }
  }
  if (!HookAllows(DbfWriteStage::DataWritten)) return fail("write interrupted in " + temp);
  if (::fsync(fd) != 0) return fail("cannot sync " + temp + ": " + std::strerror(errno));
  if (!HookAllows(DbfWriteStage::Synced)) return fail("write interrupted after syncing " + temp);
  if (::close(fd) != 0) {
    error = "cannot close " + temp + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot rename " + temp + " to " + path + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  if (!HookAllows(DbfWriteStage::Renamed)) {
    error = "write interrupted after renaming " + temp;
    return false;
  }
  const auto slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);  // makes the rename durable; the content is already complete either way
    ::close(dirFd);
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error, bool& tooLarge) {
  tooLarge = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "not a regular file";
    ::close(fd);
    return false;
  }
  if (static_cast<std::uint64_t>(st.st_size) > kMaxFileSize) {
    tooLarge = true;
    ::close(fd);
    return false;
  }
  bytes.clear();
  char block[65536];
  for (;;) {
    const ssize_t n = ::read(fd, block, sizeof block);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    bytes.append(block, static_cast<std::size_t>(n));
    if (bytes.size() > kMaxFileSize) {
      tooLarge = true;
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  return true;
}

void BuildDescriptors(const std::vector<DbfFieldDef>& fields, std::string& descriptors,
                      std::size_t& recordLength) {
  descriptors.assign(fields.size() * kDescriptorSize + 1, '\0');
  recordLength = 1;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const DbfFieldDef& f = fields[i];
    const std::size_t at = i * kDescriptorSize;
    const std::string name = AsciiUpper(f.name);
    std::memcpy(descriptors.data() + at + kDescName, name.data(), name.size());
    descriptors[at + kDescType] = static_cast<char>(f.kind);
    descriptors[at + kDescLength] = static_cast<char>(f.length);
    descriptors[at + kDescDecimals] = static_cast<char>(f.decimals);
    recordLength += static_cast<std::size_t>(f.length);
  }
  descriptors.back() = static_cast<char>(kHeaderTerminator);
}

}  // namespace

void SetDbfWriteHook(DbfWriteHook hook) {
  g_writeHook = hook;
}

std::string DbfResultText(DbfResult result) {
  switch (result) {
    case DbfResult::Ok: return "ok";
    case DbfResult::NotOpen: return "table is not open";
    case DbfResult::CannotOpen: return "file cannot be opened";
    case DbfResult::CannotWrite: return "file cannot be written";
    case DbfResult::TooLarge: return "file is too large";
    case DbfResult::TruncatedHeader: return "file header is truncated";
    case DbfResult::BadVersion: return "not a dBASE III/IV table";
    case DbfResult::BadHeader: return "file header is inconsistent";
    case DbfResult::BadFieldDescriptor: return "field descriptor is damaged";
    case DbfResult::RecordsBeyondEnd: return "record count goes beyond the end of the file";
    case DbfResult::MissingEndMark: return "end-of-file mark is missing";
    case DbfResult::BadDeletedFlag: return "record has an invalid deleted flag";
    case DbfResult::BadDefinition: return "table definition is invalid";
    case DbfResult::MissingField: return "field is missing";
    case DbfResult::WrongFieldKind: return "field is of another kind";
    case DbfResult::BadFilter: return "filter expression is invalid";
    case DbfResult::UnknownField: return "no such field";
    case DbfResult::NoCurrentRecord: return "no current record";
    case DbfResult::NotEditing: return "table is not in edit or insert state";
    case DbfResult::BadValue: return "value cannot be converted";
    case DbfResult::ValueTooLarge: return "number does not fit the field";
  }
  return "unknown result";
}

bool ParseDbfFilter(std::string_view e, std::vector<DbfCondition>& conditions) {
  conditions.clear();
  std::size_t i = 0;
  const auto skipBlanks = [&] {
    while (i < e.size() && (e[i] == ' ' || e[i] == '\t')) ++i;
  };
  for (;;) {
    skipBlanks();
    DbfCondition c;
    while (i < e.size() && ((e[i] >= 'A' && e[i] <= 'Z') || (e[i] >= 'a' && e[i] <= 'z') ||
                            (e[i] >= '0' && e[i] <= '9') || e[i] == '_'))
      c.field.push_back(e[i++]);
    if (c.field.empty()) return false;
    skipBlanks();
    if (i >= e.size() || e[i] != '=') return false;
    ++i;
    skipBlanks();
    if (i >= e.size() || (e[i] != '\'' && e[i] != '"')) return false;
    const char quote = e[i++];
    for (;;) {
      if (i >= e.size()) return false;
      if (e[i] == quote) {
        if (i + 1 < e.size() && e[i + 1] == quote) {
          c.value.push_back(quote);
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      c.value.push_back(e[i++]);
    }
    conditions.push_back(std::move(c));
    skipBlanks();
    if (i == e.size()) return true;
    if (i + 3 > e.size() || !Utf8EqualNoCase(e.substr(i, 3), "and")) return false;
    i += 3;
    if (i >= e.size() || (e[i] != ' ' && e[i] != '\t')) return false;
  }
}

std::string DbfFilterText(const std::vector<DbfCondition>& conditions) {
  std::string text;
  for (const DbfCondition& c : conditions) {
    if (!text.empty()) text += " and ";
    text += c.field + "='";
    for (char ch : c.value) {
      text.push_back(ch);
      if (ch == '\'') text.push_back('\'');
    }
    text += "'";
  }
  return text;
}

TDbfTable::~TDbfTable() {
  if (IsOpen() && Close() != DbfResult::Ok) ET("dBASE: " + lastError_, mdUser);
}

DbfResult TDbfTable::Fail(DbfResult result, const std::string& detail) const {
  lastError_ = name_ + ": " + DbfResultText(result);
  if (!detail.empty()) lastError_ += " (" + detail + ")";
  return result;
}

void TDbfTable::ResetState() {
  state_ = State::Inactive;
  fields_.clear();
  offsets_.clear();
  records_.clear();
  descriptors_.clear();
  pending_.clear();
  cursor_ = 0;
  dirty_ = false;
  filterText_.clear();
  conditions_.clear();
  conditionFields_.clear();
  conditionBytes_.clear();
  filtered_ = false;
  recordLength_ = 0;
}

DbfResult TDbfTable::CreateTable(const std::string& path, const std::vector<DbfFieldDef>& fields,
                                 std::string* error) {
  std::string detail;
  const auto fail = [&](DbfResult r, const std::string& what) {
    if (error) *error = BaseName(path) + ": " + DbfResultText(r) + (what.empty() ? "" : " (" + what + ")");
    return r;
  };
  if (fields.empty() || fields.size() > kMaxFieldsOnCreate)
    return fail(DbfResult::BadDefinition, "field count");
  std::size_t recordLength = 1;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const DbfFieldDef& f = fields[i];
    if (!ValidFieldName(f.name)) return fail(DbfResult::BadDefinition, "field name '" + f.name + "'");
    for (std::size_t j = 0; j < i; ++j)
      if (Utf8EqualNoCase(fields[j].name, f.name))
        return fail(DbfResult::BadDefinition, "field '" + f.name + "' twice");
    bool ok = false;
    switch (f.kind) {
      case DbfFieldKind::Character:
        ok = f.length >= 1 && f.length <= kMaxFieldLength && f.decimals == 0;
        break;
      case DbfFieldKind::Numeric:
        ok = f.length >= 1 && f.length <= kMaxNumericLength && f.decimals >= 0 &&
             (f.decimals == 0 || f.decimals <= f.length - 2);
        break;
      case DbfFieldKind::Logical: ok = f.length == 1 && f.decimals == 0; break;
      case DbfFieldKind::Other: ok = false; break;
    }
    if (!ok) return fail(DbfResult::BadDefinition, "field '" + f.name + "' length or kind");
    recordLength += static_cast<std::size_t>(f.length);
  }
  if (recordLength > kMaxRecordLength) return fail(DbfResult::BadDefinition, "record too long");
  TDbfTable t;
  t.path_ = path;
  t.name_ = BaseName(path);
  t.version_ = kVersionDbase;
  t.languageDriver_ = kLanguageDriverCp1251;
  BuildDescriptors(fields, t.descriptors_, t.recordLength_);
  t.fields_ = fields;
  t.state_ = State::Browse;
  if (!WriteFileAtomically(path, t.Image(), detail)) {
    t.ResetState();
    return fail(DbfResult::CannotWrite, detail);
  }
  t.ResetState();
  return DbfResult::Ok;
}

DbfResult TDbfTable::Open(const std::string& path, const std::vector<DbfFieldDef>& required) {
  if (IsOpen()) Close();
  path_ = path;
  name_ = BaseName(path);
  std::string bytes, detail;
  bool tooLarge = false;
  if (!ReadWholeFile(path, bytes, detail, tooLarge))
    return tooLarge ? Fail(DbfResult::TooLarge, "") : Fail(DbfResult::CannotOpen, detail);
  return Parse(bytes, required);
}

DbfResult TDbfTable::OpenOrCreate(const std::string& path, const std::vector<DbfFieldDef>& fields) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) {
    std::string detail;
    const DbfResult r = CreateTable(path, fields, &detail);
    if (r != DbfResult::Ok) {
      name_ = BaseName(path);
      lastError_ = detail;
      return r;
    }
  }
  return Open(path, fields);
}

DbfResult TDbfTable::CreateAndOpen(const std::string& path, const std::vector<DbfFieldDef>& fields) {
  if (IsOpen()) Close();
  std::string detail;
  const DbfResult r = CreateTable(path, fields, &detail);
  if (r != DbfResult::Ok) {
    name_ = BaseName(path);
    lastError_ = detail;
    return r;
  }
  return Open(path, fields);
}

DbfResult TDbfTable::OpenBytes(std::string_view bytes, const std::vector<DbfFieldDef>& required,
                               std::string name) {
  if (IsOpen()) Close();
  path_.clear();
  name_ = std::move(name);
  if (bytes.size() > kMaxFileSize) return Fail(DbfResult::TooLarge, "");
  return Parse(bytes, required);
}

DbfResult TDbfTable::Parse(std::string_view b, const std::vector<DbfFieldDef>& required) {
  ResetState();
  if (b.size() < kHeaderSize) return Fail(DbfResult::TruncatedHeader, std::to_string(b.size()) + " bytes");
  const std::uint8_t version = Byte(b, kOffVersion);
  bool known = false;
  for (std::uint8_t v : kKnownVersions) known = known || v == version;
  if (!known) return Fail(DbfResult::BadVersion, "version byte " + std::to_string(version));
  const std::uint64_t count = Le32(b, kOffRecordCount);
  const std::size_t headerLength = Le16(b, kOffHeaderLength);
  const std::size_t recordLength = Le16(b, kOffRecordLength);
  if (headerLength < kHeaderSize + kDescriptorSize + 1)
    return Fail(DbfResult::BadHeader, "header length " + std::to_string(headerLength));
  if (headerLength > b.size()) return Fail(DbfResult::TruncatedHeader, "header length beyond the file");
  if (recordLength < 2) return Fail(DbfResult::BadHeader, "record length " + std::to_string(recordLength));

  // Field descriptors up to the terminator. The header may be longer than the
  // descriptors: Visual FoxPro keeps a 263-byte trailer there and some
  // writers reserve room for more fields, so the records start at the header
  // length, not after the terminator.
  std::vector<DbfFieldDef> fields;
  std::vector<std::size_t> offsets;
  std::size_t at = kHeaderSize;
  std::size_t offset = 1;
  bool terminated = false;
  while (at < headerLength) {
    if (Byte(b, at) == kHeaderTerminator) {
      terminated = true;
      break;
    }
    if (at + kDescriptorSize > headerLength)
      return Fail(DbfResult::BadFieldDescriptor, "descriptor crosses the header end");
    const std::string_view raw = b.substr(at + kDescName, kDescNameSize);
    // The name ends at the first NUL; dBASE itself leaves stray bytes after it.
    const std::string name(raw.substr(0, raw.find('\0')));
    const char type = static_cast<char>(Byte(b, at + kDescType));
    const int length = Byte(b, at + kDescLength);
    const int decimals = Byte(b, at + kDescDecimals);
    const std::string which = "field " + std::to_string(fields.size() + 1);
    if (name.empty() || name[0] == ' ') return Fail(DbfResult::BadFieldDescriptor, which + " has no name");
    if (length == 0 || length > kMaxFieldLength)
      return Fail(DbfResult::BadFieldDescriptor, which + " '" + name + "' length " + std::to_string(length));
    DbfFieldDef f;
    f.name = name;
    f.length = length;
    f.decimals = decimals;
    f.typeChar = type;
    switch (type) {
      case 'C': f.kind = DbfFieldKind::Character; break;
      // dBASE IV writes floating numbers as F with the same text layout as N.
      case 'N':
      case 'F': f.kind = DbfFieldKind::Numeric; break;
      case 'L': f.kind = DbfFieldKind::Logical; break;
      default: f.kind = DbfFieldKind::Other; break;
    }
    if (f.kind == DbfFieldKind::Logical && length != 1)
      return Fail(DbfResult::BadFieldDescriptor,
                  which + " '" + name + "' logical of length " + std::to_string(length));
    if (f.kind == DbfFieldKind::Numeric && decimals >= length)
      return Fail(DbfResult::BadFieldDescriptor,
                  which + " '" + name + "' decimals " + std::to_string(decimals));
    offsets.push_back(offset);
    offset += static_cast<std::size_t>(length);
    fields.push_back(std::move(f));
    at += kDescriptorSize;
  }
  if (!terminated) return Fail(DbfResult::BadFieldDescriptor, "no terminator of the field descriptors");
  if (fields.empty()) return Fail(DbfResult::BadFieldDescriptor, "no fields");
  // Some writers pad each record beyond its fields; the padding is kept as it
  // is. Fields longer than the record are damage.
  if (offset > recordLength)
    return Fail(DbfResult::BadHeader, "fields need " + std::to_string(offset) + " bytes, record length " +
                                          std::to_string(recordLength));
  const std::uint64_t dataEnd = headerLength + count * recordLength;
  if (dataEnd > b.size())
    return Fail(DbfResult::RecordsBeyondEnd,
                std::to_string(count) + " records of " + std::to_string(recordLength) + " bytes");
  if (dataEnd == b.size() || Byte(b, static_cast<std::size_t>(dataEnd)) != kEndOfFileMark)
    return Fail(DbfResult::MissingEndMark, "after record " + std::to_string(count));
  // Bytes after the end mark are ignored: writers that preallocate or shrink a
  // file in place leave them there.
  records_.reserve(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < count; ++i) {
    std::string record(b.substr(headerLength + i * recordLength, recordLength));
    if (record[0] != kActiveFlag && record[0] != kDeletedFlag) {
      records_.clear();
      return Fail(DbfResult::BadDeletedFlag, "record " + std::to_string(i + 1));
    }
    records_.push_back(std::move(record));
  }
  for (const DbfFieldDef& want : required) {
    int index = -1;
    for (std::size_t i = 0; i < fields.size() && index < 0; ++i)
      if (Utf8EqualNoCase(fields[i].name, want.name)) index = static_cast<int>(i);
    if (index < 0) {
      ResetState();
      return Fail(DbfResult::MissingField, want.name);
    }
    const DbfFieldDef& have = fields[static_cast<std::size_t>(index)];
    if (have.kind != want.kind) {
      ResetState();
      return Fail(DbfResult::WrongFieldKind, want.name + " is " + std::string(1, have.typeChar) +
                                                 ", expected " +
                                                 std::string(1, static_cast<char>(want.kind)));
    }
  }
  version_ = version;
  languageDriver_ = Byte(b, kOffLanguageDriver);
  descriptors_ = std::string(b.substr(kHeaderSize, headerLength - kHeaderSize));
  fields_ = std::move(fields);
  offsets_ = std::move(offsets);
  recordLength_ = recordLength;
  state_ = State::Browse;
  SeekVisible(0);
  lastError_.clear();
  return DbfResult::Ok;
}

std::string TDbfTable::Image() const {
  std::string out(kHeaderSize, '\0');
  out[kOffVersion] = static_cast<char>(version_);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  out[kOffUpdateYear] = static_cast<char>(local.tm_year % 256);
  out[kOffUpdateYear + 1] = static_cast<char>(local.tm_mon + 1);
  out[kOffUpdateYear + 2] = static_cast<char>(local.tm_mday);
  PutLe32(out, kOffRecordCount, static_cast<std::uint32_t>(records_.size()));
  PutLe16(out, kOffHeaderLength, kHeaderSize + descriptors_.size());
  PutLe16(out, kOffRecordLength, recordLength_);
  // The table is rewritten without its production index, so the index flag
  // is cleared; otherwise dBASE would trust a stale index.
  out[kOffMdxFlag] = 0;
  // Text is always written as code page 1251 and marked so.
  out[kOffLanguageDriver] = static_cast<char>(kLanguageDriverCp1251);
  std::string descriptors = descriptors_;
  for (std::size_t at = 0; at + kDescriptorSize <= descriptors.size() &&
                           static_cast<unsigned char>(descriptors[at]) != kHeaderTerminator;
       at += kDescriptorSize)
    descriptors[at + kDescMdxFlag] = 0;
  out += descriptors;
  out.reserve(out.size() + records_.size() * recordLength_ + 1);
  for (const std::string& r : records_) out += r;
  out.push_back(static_cast<char>(kEndOfFileMark));
  return out;
}

DbfResult TDbfTable::Flush() {
  if (!IsOpen()) return Fail(DbfResult::NotOpen, "");
  if (!dirty_) return DbfResult::Ok;
  if (path_.empty()) return Fail(DbfResult::CannotWrite, "no file");
  std::string detail;
  if (!WriteFileAtomically(path_, Image(), detail)) return Fail(DbfResult::CannotWrite, detail);
  dirty_ = false;
  return DbfResult::Ok;
}

DbfResult TDbfTable::Close() {
  if (!IsOpen()) return DbfResult::Ok;
  Cancel();
  // An image opened from memory has no file to go back to.
  const DbfResult r = path_.empty() ? DbfResult::Ok : Flush();
  ResetState();
  return r;
}

int TDbfTable::FieldIndex(std::string_view name) const {
  for (std::size_t i = 0; i < fields_.size(); ++i)
    if (Utf8EqualNoCase(fields_[i].name, name)) return static_cast<int>(i);
  return -1;
}

std::string TDbfTable::FieldBytes(const std::string& record, std::size_t field) const {
  return record.substr(offsets_[field], static_cast<std::size_t>(fields_[field].length));
}

bool TDbfTable::Matches(std::size_t record) const {
  const std::string& r = records_[record];
  for (std::size_t i = 0; i < conditions_.size(); ++i) {
    const auto f = static_cast<std::size_t>(conditionFields_[i]);
    const std::string raw = FieldBytes(r, f);
    const std::string_view have = fields_[f].kind == DbfFieldKind::Character ? TrimRight(raw)
                                  : fields_[f].kind == DbfFieldKind::Numeric ? NumericText(raw)
                                                                             : Trim(raw);
    if (!conditionBytes_[i] || have != *conditionBytes_[i]) return false;
  }
  return true;
}

bool TDbfTable::Visible(std::size_t record) const {
  if (records_[record][0] == kDeletedFlag) return false;
  return !filtered_ || Matches(record);
}

void TDbfTable::SeekVisible(std::size_t from) {
  cursor_ = from;
  while (cursor_ < records_.size() && !Visible(cursor_)) ++cursor_;
}

DbfResult TDbfTable::SetFilter(std::string_view expression) {
  if (!IsOpen()) return Fail(DbfResult::NotOpen, "");
  std::vector<DbfCondition> conditions;
  if (!ParseDbfFilter(expression, conditions)) return Fail(DbfResult::BadFilter, std::string(expression));
  return SetFilterConditions(std::move(conditions));
}

DbfResult TDbfTable::SetFilterConditions(std::vector<DbfCondition> conditions) {
  if (!IsOpen()) return Fail(DbfResult::NotOpen, "");
  std::vector<int> fieldsOf;
  std::vector<std::optional<std::string>> bytesOf;
  for (const DbfCondition& c : conditions) {
    const int f = FieldIndex(c.field);
    if (f < 0) return Fail(DbfResult::BadFilter, "no field '" + c.field + "'");
    fieldsOf.push_back(f);
    // A value with characters the code page lacks can never be in the file.
    if (!IsCp1251Text(c.value)) {
      bytesOf.emplace_back();
      continue;
    }
    const std::string bytes = Utf8ToCp1251(c.value);
    bytesOf.emplace_back(std::string(fields_[static_cast<std::size_t>(f)].kind == DbfFieldKind::Character
                                         ? TrimRight(bytes)
                                         : Trim(bytes)));
  }
  Cancel();
  filterText_ = DbfFilterText(conditions);
  conditions_ = std::move(conditions);
  conditionFields_ = std::move(fieldsOf);
  conditionBytes_ = std::move(bytesOf);
  SeekVisible(0);
  return DbfResult::Ok;
}

void TDbfTable::SetFiltered(bool on) {
  if (!IsOpen()) return;
  Cancel();
  filtered_ = on;
  SeekVisible(0);
}

bool TDbfTable::First() {
  if (!IsOpen()) return false;
  Cancel();
  SeekVisible(0);
  return !Eof();
}

bool TDbfTable::Next() {
  if (!IsOpen() || cursor_ >= records_.size()) return false;
  Cancel();
  SeekVisible(cursor_ + 1);
  return !Eof();
}

bool TDbfTable::Eof() const {
  return !IsOpen() || cursor_ >= records_.size();
}

int TDbfTable::RecordCount() const {
  int n = 0;
  for (std::size_t i = 0; i < records_.size(); ++i)
    if (Visible(i)) ++n;
  return n;
}

const std::string* TDbfTable::CurrentBytes() const {
  if (state_ == State::Edit || state_ == State::Insert) return &pending_;
  if (!IsOpen() || cursor_ >= records_.size()) return nullptr;
  return &records_[cursor_];
}

DbfResult TDbfTable::CheckField(int field) const {
  if (!IsOpen()) return Fail(DbfResult::NotOpen, "");
  if (field < 0 || field >= FieldCount()) return Fail(DbfResult::UnknownField, std::to_string(field));
  if (CurrentBytes() == nullptr) return Fail(DbfResult::NoCurrentRecord, "");
  return DbfResult::Ok;
}

DbfResult TDbfTable::GetText(int field, std::string& out) const {
  out.clear();
  if (const DbfResult r = CheckField(field); r != DbfResult::Ok) return r;
  const auto f = static_cast<std::size_t>(field);
  const std::string raw = FieldBytes(*CurrentBytes(), f);
  switch (fields_[f].kind) {
    // Trailing NULs count as padding: some writers fill with NUL, not blanks.
    case DbfFieldKind::Character: out = Cp1251ToUtf8(TrimRight(raw)); break;
    case DbfFieldKind::Numeric: out = Cp1251ToUtf8(NumericText(raw)); break;
    case DbfFieldKind::Logical: {
      bool v = false;
      if (IsBlank(field)) break;
      if (const DbfResult r = GetBool(field, v); r != DbfResult::Ok) return r;
      out = v ? "T" : "F";
      break;
    }
    case DbfFieldKind::Other: out = Cp1251ToUtf8(TrimRight(raw)); break;
  }
  return DbfResult::Ok;
}

DbfResult TDbfTable::GetBytes(int field, std::string& out) const {
  out.clear();
  if (const DbfResult r = CheckField(field); r != DbfResult::Ok) return r;
  const std::string* record = CurrentBytes();
  if (record == nullptr) return Fail(DbfResult::NoCurrentRecord, "");
  const auto f = static_cast<std::size_t>(field);
  const std::string_view raw =
      std::string_view(*record).substr(offsets_[f], static_cast<std::size_t>(fields_[f].length));
  out = fields_[f].kind == DbfFieldKind::Numeric ? NumericText(raw) : TrimRight(raw);
  return DbfResult::Ok;
}

bool TDbfTable::IsBlank(int field) const {
  if (CheckField(field) != DbfResult::Ok) return true;
  const auto f = static_cast<std::size_t>(field);
  const std::string raw = FieldBytes(*CurrentBytes(), f);
  // "?" is dBASE's mark of a logical value never set.
  if (fields_[f].kind == DbfFieldKind::Logical) return raw[0] == ' ' || raw[0] == '?' || raw[0] == '\0';
  if (fields_[f].kind == DbfFieldKind::Numeric) return NumericText(raw).empty();
  return Trim(raw).empty();
}

DbfResult TDbfTable::GetInt(int field, std::int64_t& out) const {
  out = 0;
  if (const DbfResult r = CheckField(field); r != DbfResult::Ok) return r;
  if (fields_[static_cast<std::size_t>(field)].kind == DbfFieldKind::Logical)
    return Fail(DbfResult::BadValue, fields_[static_cast<std::size_t>(field)].name + " is logical");
  std::string text;
  if (const DbfResult r = GetText(field, text); r != DbfResult::Ok) return r;
  if (text.empty()) return DbfResult::Ok;
  std::string_view t = text;
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  // N fields with decimals hold whole numbers as "12.00".
  if (const auto dot = t.find('.');
      dot != std::string_view::npos && t.find_first_not_of('0', dot + 1) == std::string_view::npos)
    t = t.substr(0, dot);
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
  if (ec != std::errc() || end != t.data() + t.size()) {
    out = 0;
    return Fail(DbfResult::BadValue, fields_[static_cast<std::size_t>(field)].name + " = '" + text + "'");
  }
  return DbfResult::Ok;
}

DbfResult TDbfTable::GetDouble(int field, double& out) const {
  out = 0;
  if (const DbfResult r = CheckField(field); r != DbfResult::Ok) return r;
  if (fields_[static_cast<std::size_t>(field)].kind == DbfFieldKind::Logical)
    return Fail(DbfResult::BadValue, fields_[static_cast<std::size_t>(field)].name + " is logical");
  std::string text;
  if (const DbfResult r = GetText(field, text); r != DbfResult::Ok) return r;
  if (text.empty()) return DbfResult::Ok;
  bool negative = false;
  std::string whole, fraction;
  if (!SplitNumber(text, negative, whole, fraction))
    return Fail(DbfResult::BadValue, fields_[static_cast<std::size_t>(field)].name + " = '" + text + "'");
  // Writers under some locales put a decimal comma into N fields; it is read
  // as the point.
  const std::string canonical = (negative ? "-" : "") + (whole.empty() ? "0" : whole) + "." + fraction + "0";
  std::from_chars(canonical.data(), canonical.data() + canonical.size(), out);
  return DbfResult::Ok;
}

DbfResult TDbfTable::GetBool(int field, bool& out) const {
  out = false;
  if (const DbfResult r = CheckField(field); r != DbfResult::Ok) return r;
  const auto f = static_cast<std::size_t>(field);
  if (fields_[f].kind != DbfFieldKind::Logical)
    return Fail(DbfResult::BadValue, fields_[f].name + " is not logical");
  const char c = FieldBytes(*CurrentBytes(), f)[0];
  switch (c) {
    case 'T':
    case 't':
    case 'Y':
    case 'y': out = true; return DbfResult::Ok;
    case 'F':
    case 'f':
    case 'N':
    case 'n':
    case ' ':
    case '?':
    case '\0': return DbfResult::Ok;
    default:
      return Fail(DbfResult::BadValue,
                  fields_[f].name + " holds byte " + std::to_string(static_cast<unsigned char>(c)));
  }
}

DbfResult TDbfTable::GetText(std::string_view field, std::string& out) const {
  const int f = FieldIndex(field);
  if (f < 0) return Fail(DbfResult::UnknownField, std::string(field));
  return GetText(f, out);
}
DbfResult TDbfTable::GetInt(std::string_view field, std::int64_t& out) const {
  const int f = FieldIndex(field);
  if (f < 0) return Fail(DbfResult::UnknownField, std::string(field));
  return GetInt(f, out);
}
DbfResult TDbfTable::GetDouble(std::string_view field, double& out) const {
  const int f = FieldIndex(field);
  if (f < 0) return Fail(DbfResult::UnknownField, std::string(field));
  return GetDouble(f, out);
}
DbfResult TDbfTable::GetBool(std::string_view field, bool& out) const {
  const int f = FieldIndex(field);
  if (f < 0) return Fail(DbfResult::UnknownField, std::string(field));
  return GetBool(f, out);
}

DbfResult TDbfTable::Append() {
  if (!IsOpen()) return Fail(DbfResult::NotOpen, "");
  Cancel();
  pending_.assign(recordLength_, ' ');
  state_ = State::Insert;
  return DbfResult::Ok;
}

DbfResult TDbfTable::Edit() {
  if (!IsOpen()) return Fail(DbfResult::NotOpen, "");
  if (state_ == State::Edit || state_ == State::Insert) return DbfResult::Ok;
  if (cursor_ >= records_.size()) return Fail(DbfResult::NoCurrentRecord, "");
  pending_ = records_[cursor_];
  state_ = State::Edit;
  return DbfResult::Ok;
}

DbfResult TDbfTable::Post() {
  if (!IsOpen()) return Fail(DbfResult::NotOpen, "");
  if (state_ == State::Insert) {
    records_.push_back(std::move(pending_));
    cursor_ = records_.size() - 1;
  } else if (state_ == State::Edit) {
    records_[cursor_] = std::move(pending_);
  } else {
    return DbfResult::Ok;
  }
  pending_.clear();
  state_ = State::Browse;
  dirty_ = true;
  return autoFlush_ ? Flush() : DbfResult::Ok;
}

void TDbfTable::Cancel() {
  if (state_ == State::Edit || state_ == State::Insert) {
    pending_.clear();
    state_ = State::Browse;
  }
}

DbfResult TDbfTable::Delete() {
  if (!IsOpen()) return Fail(DbfResult::NotOpen, "");
  if (state_ == State::Insert) {
    Cancel();
    return DbfResult::Ok;
  }
  Cancel();
  if (cursor_ >= records_.size()) return Fail(DbfResult::NoCurrentRecord, "");
  records_[cursor_][0] = kDeletedFlag;
  dirty_ = true;
  const std::size_t deleted = cursor_;
  SeekVisible(deleted + 1);
  if (cursor_ >= records_.size()) {
    // The last visible record went: the one before it becomes current.
    for (std::size_t i = deleted; i-- > 0;)
      if (Visible(i)) {
        cursor_ = i;
        break;
      }
  }
  return autoFlush_ ? Flush() : DbfResult::Ok;
}

DbfResult TDbfTable::Pack() {
  if (!IsOpen()) return Fail(DbfResult::NotOpen, "");
  Cancel();
  std::vector<std::string> kept;
  for (std::string& r : records_)
    if (r[0] != kDeletedFlag) kept.push_back(std::move(r));
  if (kept.size() != records_.size()) dirty_ = true;
  records_ = std::move(kept);
  SeekVisible(0);
  return autoFlush_ ? Flush() : DbfResult::Ok;
}

DbfResult TDbfTable::CheckWritable(int field) const {
  if (!IsOpen()) return Fail(DbfResult::NotOpen, "");
  if (field < 0 || field >= FieldCount()) return Fail(DbfResult::UnknownField, std::to_string(field));
  if (state_ != State::Edit && state_ != State::Insert) return Fail(DbfResult::NotEditing, "");
  if (fields_[static_cast<std::size_t>(field)].kind == DbfFieldKind::Other)
    return Fail(DbfResult::BadValue,
                fields_[static_cast<std::size_t>(field)].name + " has an unsupported type");
  return DbfResult::Ok;
}

void TDbfTable::PutBytes(std::size_t field, std::string_view bytes) {
  pending_.replace(offsets_[field], static_cast<std::size_t>(fields_[field].length), bytes);
}

DbfResult TDbfTable::SetText(int field, std::string_view utf8) {
  if (const DbfResult r = CheckWritable(field); r != DbfResult::Ok) return r;
  const auto f = static_cast<std::size_t>(field);
  const DbfFieldDef& def = fields_[f];
  const auto length = static_cast<std::size_t>(def.length);
  switch (def.kind) {
    case DbfFieldKind::Character: {
      std::string bytes = Utf8ToCp1251(Utf8Left(utf8, length));
      bytes.resize(length, ' ');
      PutBytes(f, bytes);
      return DbfResult::Ok;
    }
    case DbfFieldKind::Numeric: {
      const std::string_view t = Trim(utf8);
      if (t.empty()) return SetBlank(field);
      bool negative = false;
      std::string whole, fraction;
      if (!SplitNumber(t, negative, whole, fraction))
        return Fail(DbfResult::BadValue, def.name + " = '" + std::string(utf8) + "'");
      const auto decimals = static_cast<std::size_t>(def.decimals);
      if (fraction.size() > decimals) {
        if (fraction.find_first_not_of('0', decimals) != std::string::npos)
          return Fail(DbfResult::BadValue, def.name + " takes " + std::to_string(decimals) + " decimals");
        fraction.resize(decimals);
      }
      fraction.resize(decimals, '0');
      const auto first = whole.find_first_not_of('0');
      whole = first == std::string::npos ? "0" : whole.substr(first);
      const bool zero = whole == "0" && fraction.find_first_not_of('0') == std::string::npos;
      std::string text = (negative && !zero ? "-" : "") + whole + (decimals ? "." + fraction : "");
      if (text.size() > length) return Fail(DbfResult::ValueTooLarge, def.name + " = " + text);
      PutBytes(f, std::string(length - text.size(), ' ') + text);
      return DbfResult::Ok;
    }
    case DbfFieldKind::Logical: {
      const std::string_view t = Trim(utf8);
      if (t.empty()) return SetBlank(field);
      switch (t[0]) {
        case 'T':
        case 't':
        case 'Y':
        case 'y': return SetBool(field, true);
        case 'F':
        case 'f':
        case 'N':
        case 'n': return SetBool(field, false);
        default: return Fail(DbfResult::BadValue, def.name + " = '" + std::string(utf8) + "'");
      }
    }
    case DbfFieldKind::Other: break;
  }
  return Fail(DbfResult::BadValue, def.name);
}

DbfResult TDbfTable::SetInt(int field, std::int64_t value) {
  if (const DbfResult r = CheckWritable(field); r != DbfResult::Ok) return r;
  if (fields_[static_cast<std::size_t>(field)].kind == DbfFieldKind::Logical)
    return Fail(DbfResult::BadValue, fields_[static_cast<std::size_t>(field)].name + " is logical");
  return SetText(field, std::to_string(value));
}

DbfResult TDbfTable::SetDouble(int field, double value) {
  if (const DbfResult r = CheckWritable(field); r != DbfResult::Ok) return r;
  const DbfFieldDef& def = fields_[static_cast<std::size_t>(field)];
  if (def.kind == DbfFieldKind::Logical || !std::isfinite(value)) return Fail(DbfResult::BadValue, def.name);
  char buffer[400];
  std::to_chars_result res{};
  if (def.kind == DbfFieldKind::Numeric)
    res = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, def.decimals);
  else
    res = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (res.ec != std::errc()) return Fail(DbfResult::ValueTooLarge, def.name);
  return SetText(field, std::string_view(buffer, static_cast<std::size_t>(res.ptr - buffer)));
}

DbfResult TDbfTable::SetBool(int field, bool value) {
  if (const DbfResult r = CheckWritable(field); r != DbfResult::Ok) return r;
  const auto f = static_cast<std::size_t>(field);
  if (fields_[f].kind != DbfFieldKind::Logical)
    return Fail(DbfResult::BadValue, fields_[f].name + " is not logical");
  PutBytes(f, value ? "T" : "F");
  return DbfResult::Ok;
}

DbfResult TDbfTable::SetBlank(int field) {
  if (const DbfResult r = CheckWritable(field); r != DbfResult::Ok) return r;
  const auto f = static_cast<std::size_t>(field);
  PutBytes(f, std::string(static_cast<std::size_t>(fields_[f].length), ' '));
  return DbfResult::Ok;
}

DbfResult TDbfTable::SetText(std::string_view field, std::string_view utf8) {
  const int f = FieldIndex(field);
  if (f < 0) return Fail(DbfResult::UnknownField, std::string(field));
  return SetText(f, utf8);
}
DbfResult TDbfTable::SetInt(std::string_view field, std::int64_t value) {
  const int f = FieldIndex(field);
  if (f < 0) return Fail(DbfResult::UnknownField, std::string(field));
  return SetInt(f, value);
}
DbfResult TDbfTable::SetDouble(std::string_view field, double value) {
  const int f = FieldIndex(field);
  if (f < 0) return Fail(DbfResult::UnknownField, std::string(field));
  return SetDouble(f, value);
}
DbfResult TDbfTable::SetBool(std::string_view field, bool value) {
  const int f = FieldIndex(field);
  if (f < 0) return Fail(DbfResult::UnknownField, std::string(field));
  return SetBool(f, value);
}

}  // namespace zarvik
