// The profile files as the profile database opens them, on arbitrary bytes
// (a file damaged or written by another program). Input: one byte choosing
// which of the seven files, then the file's bytes. Every field the program
// reads is read from every row; a filter on the first row's own key finds
// that row; a row appended the way a profile is saved is written and reads
// back with the values given, after the rows that were there.
//
// With ZARVIK_FUZZ_SEEDS=<folder> set, the target writes seed inputs there
// (each file as the program creates it, with two rows) and ends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "shell/DiaLog.h"
#include "shell/TextCodec.h"
#include "store/Dbf.h"
#include "store/UnitBD.h"

namespace {

using namespace zarvik;

constexpr ProfileFile kFiles[] = {ProfileFile::Profile,  ProfileFile::Options, ProfileFile::Dept,
                                  ProfileFile::Tax,      ProfileFile::Check,   ProfileFile::CheckFont,
                                  ProfileFile::Operators};

// Gives field `def` the value a saved row gets; false when the file's field
// cannot take it (a number too wide for it).
bool SetSavedValue(TDbfTable& t, const DbfFieldDef& def, int row) {
  switch (def.kind) {
    case DbfFieldKind::Numeric: return t.SetInt(def.name, 160 + row) == DbfResult::Ok;
    case DbfFieldKind::Logical: return t.SetBool(def.name, row % 2 == 0) == DbfResult::Ok;
    default: return t.SetText(def.name, "Сохраненная " + std::to_string(row)) == DbfResult::Ok;
  }
}

void CheckSavedValue(const TDbfTable& t, const DbfFieldDef& def, int row) {
  std::string text;
  std::int64_t number = 0;
  bool flag = false;
  switch (def.kind) {
    case DbfFieldKind::Numeric:
      FUZZ_CHECK(t.GetInt(def.name, number) == DbfResult::Ok && number == 160 + row);
      break;
    case DbfFieldKind::Logical:
      FUZZ_CHECK(t.GetBool(def.name, flag) == DbfResult::Ok && flag == (row % 2 == 0));
      break;
    default: {
      // A damaged value is reported, never read as something else.
      const DbfResult r = t.GetText(def.name, text);
      FUZZ_CHECK(r == DbfResult::Ok || r == DbfResult::BadValue);
      const std::string want = "Сохраненная " + std::to_string(row);
      // A field narrower in the file than in the definition cuts the text.
      FUZZ_CHECK(want.starts_with(text));
      break;
    }
  }
}

void WriteSeeds(const std::string& folder) {
  for (ProfileFile f : kFiles) {
    const std::string path = folder + "/" + std::string(ProfileFileName(f));
    TDbfTable t;
    if (t.CreateAndOpen(path, ProfileFileFields(f)) != DbfResult::Ok) std::exit(1);
    for (int row = 0; row < 2; ++row) {
      t.Append();
      for (const DbfFieldDef& def : ProfileFileFields(f)) FUZZ_CHECK(SetSavedValue(t, def, row));
      t.Post();
    }
    const std::string image = t.Image();
    t.Close();
    fuzz::WriteBytes(path, std::string(1, static_cast<char>(static_cast<int>(f))) + image);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  NameLogFile = "/dev/null";
  isAUTONOM = true;
  if (const char* folder = std::getenv("ZARVIK_FUZZ_SEEDS"); folder != nullptr && *folder != '\0') {
    WriteSeeds(folder);
    std::exit(0);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TBD* bd = new TBD();
  if (size == 0) return 0;
  const ProfileFile file = kFiles[data[0] % std::size(kFiles)];
  const std::vector<DbfFieldDef>& defs = ProfileFileFields(file);
  const std::string path = fuzz::ScratchFile(std::string(ProfileFileName(file)));
  fuzz::WriteBytes(path, fuzz::AsText(data + 1, size - 1));

  TDbfTable& t = bd->ProfileTable(file);
  if (bd->OpenProfileFile(file, fuzz::ScratchFolder()) != DbfResult::Ok) {
    FUZZ_CHECK(!t.IsOpen());
    return 0;
  }
  // Every field of every row, as the profile loading reads them.
  std::string text;
  std::int64_t number = 0;
  bool flag = false;
  int rows = 0;
  std::string firstKey;
  const std::string keyField = file == ProfileFile::Profile ? "LN" : "OLN";
  for (bool ok = t.First(); ok; ok = t.Next(), ++rows) {
    for (const DbfFieldDef& def : defs) {
      // A damaged value is reported, never read as something else.
      const DbfResult r = t.GetText(def.name, text);
      FUZZ_CHECK(r == DbfResult::Ok || r == DbfResult::BadValue);
      if (def.kind == DbfFieldKind::Numeric) t.GetInt(def.name, number);
      if (def.kind == DbfFieldKind::Logical) t.GetBool(def.name, flag);
    }
    if (rows == 0) t.GetText(keyField, firstKey);
  }
  FUZZ_CHECK(rows == t.RecordCount());
  // The filter of the profile loading on the first row's own key finds it
  // (a key the program can have written: no byte code page 1251 lacks).
  if (rows > 0 && IsCp1251Text(firstKey)) {
    FUZZ_CHECK(t.SetFilter(DbfFilterText({{keyField, firstKey}})) == DbfResult::Ok);
    t.SetFiltered(true);
    FUZZ_CHECK(t.First() && t.RecordCount() >= 1);
    t.GetText(keyField, text);
    FUZZ_CHECK(text == firstKey);
    t.SetFiltered(false);
  }
  // A saved profile row is appended and written; reopened, the old rows are
  // there and the new one reads back.
  FUZZ_CHECK(t.Append() == DbfResult::Ok);
  bool taken = true;
  for (const DbfFieldDef& def : defs) taken = SetSavedValue(t, def, rows) && taken;
  if (!taken) {
    t.Cancel();
    t.Close();
    return 0;
  }
  FUZZ_CHECK(t.Post() == DbfResult::Ok);
  if (t.Close() != DbfResult::Ok) return 0;  // a write may fail; the file is then untouched
  FUZZ_CHECK(bd->OpenProfileFile(file, fuzz::ScratchFolder()) == DbfResult::Ok);
  FUZZ_CHECK(t.RecordCount() == rows + 1);
  int row = 0;
  for (bool ok = t.First(); ok; ok = t.Next(), ++row) {
    if (row == rows) {
      for (const DbfFieldDef& def : defs) CheckSavedValue(t, def, rows);
    }
  }
  FUZZ_CHECK(row == rows + 1);
  t.Close();
  return 0;
}
