// dBASE IV tables without memo files: the profile database in "bd" and the
// goods exchange files. Character (C), numeric (N) and logical (L) fields,
// the deleted flag, the end-of-file mark and the code page mark of 1251.
//
// A table is read whole into memory when it is opened; changes are kept in
// memory and written by Flush or Close (or by every Post, Delete and Pack
// after SetAutoFlush(true)). A table that stays open must be flushed after
// each batch of changes, or a crash of the program loses them (the file then
// keeps its old content). Every write replaces the file
// atomically (a temporary file in the same folder, synced, renamed over the
// old one), so a failure or a killed process leaves either the old or the new
// content, never a mix. Two tables open on the same file do not see each
// other's changes; the last one written wins.
//
// Text is UTF-8 on the program side and code page 1251 in the file; field
// lengths count characters (one byte each in the file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik {

enum class DbfFieldKind : char {
  Character = 'C',
  Numeric = 'N',
  Logical = 'L',
  Other = '?',  // any other dBASE type found in a file: kept as bytes, not readable
};

struct DbfFieldDef {
  std::string name;  // ASCII letters, digits and "_", at most 10 characters
  DbfFieldKind kind = DbfFieldKind::Character;
  int length = 0;     // in characters; L fields are 1 long
  int decimals = 0;   // N fields only
  char typeChar = 0;  // the type letter in the file (set when read; 0 = from `kind`)
};

enum class DbfResult {
  Ok = 0,
  NotOpen,
  CannotOpen,
  CannotWrite,
  TooLarge,
  TruncatedHeader,
  BadVersion,
  BadHeader,
  BadFieldDescriptor,
  RecordsBeyondEnd,
  MissingEndMark,
  BadDeletedFlag,
  BadDefinition,
  MissingField,
  WrongFieldKind,
  BadFilter,
  UnknownField,
  NoCurrentRecord,
  NotEditing,
  BadValue,
  ValueTooLarge,
};

// One short English text per result code.
std::string DbfResultText(DbfResult result);

// One condition of a filter: the field's text equals `value` exactly (case
// matters; trailing blanks on either side do not count).
struct DbfCondition {
  std::string field;
  std::string value;  // UTF-8
};

// Parses a filter expression: conditions "Field = 'text'" joined by "and"
// (any case). Inside the quotes an apostrophe is written twice. False on any
// other form.
bool ParseDbfFilter(std::string_view expression, std::vector<DbfCondition>& conditions);
// The filter text of `conditions`, apostrophes doubled, so that any value
// survives a round trip through ParseDbfFilter.
std::string DbfFilterText(const std::vector<DbfCondition>& conditions);

class TDbfTable {
 public:
  enum class State { Inactive, Browse, Edit, Insert };

  TDbfTable() = default;
  // Closes the table; pending changes are written (a failure is traced).
  ~TDbfTable();
  TDbfTable(const TDbfTable&) = delete;
  TDbfTable& operator=(const TDbfTable&) = delete;

  // Creates `path` (replacing an existing file) as an empty table of `fields`.
  static DbfResult CreateTable(const std::string& path, const std::vector<DbfFieldDef>& fields,
                               std::string* error = nullptr);

  // Opens an existing table. Every field of `required` must exist (name
  // compared without regard to case) with the same kind; lengths are not
  // compared. On failure the table stays closed and LastError says why.
  DbfResult Open(const std::string& path, const std::vector<DbfFieldDef>& required = {});
  // Opens `path`, creating it with `fields` first when it does not exist.
  DbfResult OpenOrCreate(const std::string& path, const std::vector<DbfFieldDef>& fields);
  // Creates `path` anew (an existing file is replaced) and opens it.
  DbfResult CreateAndOpen(const std::string& path, const std::vector<DbfFieldDef>& fields);
  // Opens a table image held in memory (no file behind it: Flush fails).
  DbfResult OpenBytes(std::string_view bytes, const std::vector<DbfFieldDef>& required = {},
                      std::string name = "(memory)");
  // Cancels a pending row, writes pending changes and closes.
  DbfResult Close();
  // Writes pending changes (posted rows, deletions) to the file atomically.
  DbfResult Flush();
  bool IsOpen() const { return state_ != State::Inactive; }
  State GetState() const { return state_; }
  bool Modified() const { return dirty_; }
  // Write the file on every Post, Delete and Pack (their result is then the
  // write's). Off by default: a file is rewritten whole, so writing after
  // each of many rows costs time growing with the square of the rows.
  void SetAutoFlush(bool on) { autoFlush_ = on; }
  bool AutoFlush() const { return autoFlush_; }
  const std::string& Path() const { return path_; }
  // Text of the last failure, with the file name and the details.
  const std::string& LastError() const { return lastError_; }
  // The code page mark (language driver byte) of the file.
  std::uint8_t LanguageDriver() const { return languageDriver_; }

  // Fields
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  const DbfFieldDef& Field(int index) const { return fields_[static_cast<std::size_t>(index)]; }
  int FieldIndex(std::string_view name) const;  // -1 when missing

  // Filter. Changing the filter or switching it puts the cursor on the first
  // visible record.
  DbfResult SetFilter(std::string_view expression);
  DbfResult SetFilterConditions(std::vector<DbfCondition> conditions);
  const std::string& Filter() const { return filterText_; }
  void SetFiltered(bool on);
  bool Filtered() const { return filtered_; }

  // Navigation over the records that are not deleted and pass the filter.
  bool First();
  bool Next();
  bool Eof() const;
  int RecordCount() const;  // visible records
  int PhysicalRecordCount() const { return static_cast<int>(records_.size()); }

  // Reading the current record (the pending one in edit or insert state).
  // C text without trailing blanks; N text without surrounding blanks; L "T",
  // "F" or "" (blank). A blank N field reads as 0, a blank L field as false.
  DbfResult GetText(int field, std::string& out) const;
  DbfResult GetInt(int field, std::int64_t& out) const;
  DbfResult GetDouble(int field, double& out) const;
  DbfResult GetBool(int field, bool& out) const;
  bool IsBlank(int field) const;
  // The bytes of a field as the file holds them, without the padding GetText
  // removes and without conversion: for text in a code page the caller knows
  // (from a .cpg file beside the table).
  DbfResult GetBytes(int field, std::string& out) const;
  // 1-based position of the current record among all records of the file,
  // deleted ones included (what other dBASE programs show); 0 when none.
  int PhysicalRecNo() const {
    return IsOpen() && cursor_ < records_.size() ? static_cast<int>(cursor_) + 1 : 0;
  }
  // By name; an unknown name gives UnknownField.
  DbfResult GetText(std::string_view field, std::string& out) const;
  DbfResult GetInt(std::string_view field, std::int64_t& out) const;
  DbfResult GetDouble(std::string_view field, double& out) const;
  DbfResult GetBool(std::string_view field, bool& out) const;

  // Changing. Set* need edit or insert state. Text longer than a C field is
  // cut to the field's length; characters code page 1251 lacks become "?".
  DbfResult Append();  // blank record, insert state
  DbfResult Edit();    // current record, edit state
  DbfResult Post();
  void Cancel();
  DbfResult Delete();  // marks the current record deleted; the next visible one becomes current
  // Drops the records marked deleted (written by the next Flush).
  DbfResult Pack();
  DbfResult SetText(int field, std::string_view utf8);
  DbfResult SetInt(int field, std::int64_t value);
  DbfResult SetDouble(int field, double value);
  DbfResult SetBool(int field, bool value);
  DbfResult SetBlank(int field);
  DbfResult SetText(std::string_view field, std::string_view utf8);
  DbfResult SetInt(std::string_view field, std::int64_t value);
  DbfResult SetDouble(std::string_view field, double value);
  DbfResult SetBool(std::string_view field, bool value);

  // The whole file image as it would be written now.
  std::string Image() const;

 private:
  DbfResult Fail(DbfResult result, const std::string& detail) const;
  DbfResult Parse(std::string_view bytes, const std::vector<DbfFieldDef>& required);
  bool Visible(std::size_t record) const;
  bool Matches(std::size_t record) const;
  void SeekVisible(std::size_t from);
  const std::string* CurrentBytes() const;
  DbfResult CheckField(int field) const;
  DbfResult CheckWritable(int field) const;
  std::string FieldBytes(const std::string& record, std::size_t field) const;
  void PutBytes(std::size_t field, std::string_view bytes);
  void ResetState();

  std::string path_;
  std::string name_;  // file name for messages
  mutable std::string lastError_;
  State state_ = State::Inactive;
  std::uint8_t version_ = 0;
  std::uint8_t languageDriver_ = 0;
  std::string descriptors_;  // raw header bytes after the first 32, kept on rewrite
  std::vector<DbfFieldDef> fields_;
  std::vector<std::size_t> offsets_;  // of each field inside a record
  std::size_t recordLength_ = 0;
  std::vector<std::string> records_;  // raw, deleted flag first
  std::size_t cursor_ = 0;            // == records_.size() at the end
  std::string pending_;               // the row being edited or inserted
  bool dirty_ = false;
  bool autoFlush_ = false;
  std::string filterText_;
  std::vector<DbfCondition> conditions_;
  std::vector<int> conditionFields_;
  std::vector<std::optional<std::string>> conditionBytes_;  // code page 1251, trimmed
  bool filtered_ = false;
};

// Hook for tests of interrupted writes: called at each stage of an atomic
// file write; returning false makes the write fail at that point as if the
// system call had failed. Null (the default) means no hook.
enum class DbfWriteStage { TempCreated, DataHalf, DataWritten, Synced, Renamed };
using DbfWriteHook = bool (*)(DbfWriteStage stage);
void SetDbfWriteHook(DbfWriteHook hook);

}  // namespace zarvik
