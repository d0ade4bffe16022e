// dBASE IV tables: round trips, filters, editing, damaged files, interrupted
// writes, and interoperability with dBASE readers and writers from Debian
// (python3-dbfread, GDAL's ogr2ogr).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "shell/TextCodec.h"
#include "store/Dbf.h"
#include "WriterKill.h"

namespace zarvik {
namespace {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::string templ = (fs::temp_directory_path() / "zarvik-dbf-XXXXXX").string();
    path_ = ::mkdtemp(templ.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (fs::path(path_) / name).string(); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Runs a shell command; its standard output, and its exit status in `status`.
std::string RunCommand(const std::string& command, int& status) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) {
    status = -1;
    return out;
  }
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  const int raw = ::pclose(p);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

// Debian's own interpreter, where python3-dbfread is installed.
constexpr const char* kDebianPython = "/usr/bin/python3";

// Prints what dbfread sees in each file given: the language driver byte, the
// encoding it chose, the number of deleted records, the fields and the
// records ("<None>" for a null value, "<T>"/"<F>" for logicals, repr of
// numbers, text as it is).
constexpr const char* kDbfreadScript = R"PY(
import sys
from dbfread import DBF
for path in sys.argv[1:]:
    t = DBF(path, load=True)
    print('FILE %d %s %d' % (t.header.language_driver, t.encoding, len(t.deleted)))
    for f in t.fields:
        print('F %s %s %d %d' % (f.name, f.type, f.length, f.decimal_count))
    for r in t.records:
        out = []
        for v in r.values():
            if v is None: out.append('<None>')
            elif v is True: out.append('<T>')
            elif v is False: out.append('<F>')
            elif isinstance(v, str): out.append(v)
            else: out.append(repr(v))
        print('R ' + '|'.join(out))
)PY";

std::string RunDbfread(const TempDir& dir, const std::vector<std::string>& files, int& status) {
  const std::string script = dir.File("read_dbf.py");
  WriteBytes(script, kDbfreadScript);
  std::string command = std::string("PYTHONIOENCODING=utf-8 ") + kDebianPython + " " + script;
  for (const std::string& f : files) command += " '" + f + "'";
  return RunCommand(command + " 2>&1", status);
}

const std::vector<DbfFieldDef> kProfileLike = {
    {"Name", DbfFieldKind::Character, 30}, {"Sn", DbfFieldKind::Character, 12},
    {"Num", DbfFieldKind::Numeric, 9},     {"Price", DbfFieldKind::Numeric, 12, 2},
    {"IsBlock", DbfFieldKind::Logical, 1}, {"OLN", DbfFieldKind::Character, 20},
};

struct Row {
  std::string name, sn, num, price, isBlock, oln;
};

// Rows used by the round trip and interoperability tests: Cyrillic text of
// the whole code page's letter range, signs, blanks, and a too long name.
const std::vector<Row> kRows = {
    {"Сохраненная", "00012345", "42", "25.50", "T", "3912345678901"},
    {"Ёлка, ёж № 5 «тест»", "", "-7", "-0.01", "F", "-3912345678901"},
    {"", "AB'CD", "", "", "", "0"},
    {"абвгдеёжзийклмнопрстуфхцчшщъыьэюя", "x", "999999999", "123456789.99", "T", "0"},
};

void AppendRows(TDbfTable& t, const std::vector<Row>& rows) {
  for (const Row& r : rows) {
    ASSERT_EQ(t.Append(), DbfResult::Ok);
    ASSERT_EQ(t.SetText("NAME", r.name), DbfResult::Ok);
    ASSERT_EQ(t.SetText("sn", r.sn), DbfResult::Ok);
    ASSERT_EQ(t.SetText("Num", r.num), DbfResult::Ok) << t.LastError();
    ASSERT_EQ(t.SetText("Price", r.price), DbfResult::Ok) << t.LastError();
    ASSERT_EQ(t.SetText("IsBlock", r.isBlock), DbfResult::Ok);
    ASSERT_EQ(t.SetText("oln", r.oln), DbfResult::Ok);
    ASSERT_EQ(t.Post(), DbfResult::Ok);
  }
}

std::string Text(const TDbfTable& t, const char* field) {
  std::string s;
  EXPECT_EQ(t.GetText(field, s), DbfResult::Ok) << t.LastError();
  return s;
}

// Names of every visible record's field, in cursor order.
std::vector<std::string> Column(TDbfTable& t, const char* field) {
  std::vector<std::string> out;
  for (bool ok = t.First(); ok; ok = t.Next()) out.push_back(Text(t, field));
  return out;
}

TEST(Dbf, RoundTripKeepsValuesAndWritesTheDbaseLayout) {
  TempDir dir;
  const std::string path = dir.File("Profile.dbf");
  TDbfTable t;
  ASSERT_EQ(t.CreateAndOpen(path, kProfileLike), DbfResult::Ok) << t.LastError();
  AppendRows(t, kRows);
  ASSERT_EQ(t.Close(), DbfResult::Ok) << t.LastError();

  const std::string b = ReadBytes(path);
  const std::size_t recordLength = 1 + 30 + 12 + 9 + 12 + 1 + 20;
  const std::size_t headerLength = 32 + 6 * 32 + 1;
  ASSERT_EQ(b.size(), headerLength + kRows.size() * recordLength + 1);
  EXPECT_EQ(static_cast<unsigned char>(b[0]), 0x03);
  EXPECT_EQ(static_cast<unsigned char>(b[4]), kRows.size());
  EXPECT_EQ(static_cast<unsigned char>(b[8]) | (static_cast<unsigned char>(b[9]) << 8), headerLength);
  EXPECT_EQ(static_cast<unsigned char>(b[10]) | (static_cast<unsigned char>(b[11]) << 8), recordLength);
  EXPECT_EQ(static_cast<unsigned char>(b[29]), 0xC9);
  EXPECT_EQ(static_cast<unsigned char>(b[headerLength - 1]), 0x0D);
  EXPECT_EQ(static_cast<unsigned char>(b.back()), 0x1A);
  EXPECT_EQ(b.substr(32, 5), std::string("NAME\0", 5));
  EXPECT_EQ(b[32 + 11], 'C');
  EXPECT_EQ(b.substr(32 + 3 * 32, 6), std::string("PRICE\0", 6));
  EXPECT_EQ(b[32 + 3 * 32 + 16], 12);
  EXPECT_EQ(b[32 + 3 * 32 + 17], 2);
  // Numbers right-aligned with their decimals, text in code page 1251 padded with blanks.
  const std::string first = b.substr(headerLength, recordLength);
  EXPECT_EQ(first.substr(0, 1 + 30), " " + Utf8ToCp1251("Сохраненная") + std::string(19, ' '));
  EXPECT_EQ(first.substr(1 + 30 + 12, 9 + 12), "       42       25.50");

  ASSERT_EQ(t.Open(path, kProfileLike), DbfResult::Ok) << t.LastError();
  EXPECT_EQ(t.RecordCount(), 4);
  std::vector<Row> back;
  for (bool ok = t.First(); ok; ok = t.Next())
    back.push_back({Text(t, "name"), Text(t, "SN"), Text(t, "num"), Text(t, "price"), Text(t, "isblock"),
                    Text(t, "OLN")});
  ASSERT_EQ(back.size(), kRows.size());
  for (std::size_t i = 0; i < back.size(); ++i) {
    const std::string name = Utf8Left(kRows[i].name, 30);  // cut to 30 characters, not bytes
    EXPECT_EQ(back[i].name, name) << i;
    EXPECT_EQ(back[i].sn, kRows[i].sn) << i;
    EXPECT_EQ(back[i].num, kRows[i].num) << i;
    EXPECT_EQ(back[i].price, kRows[i].price) << i;
    EXPECT_EQ(back[i].isBlock, kRows[i].isBlock) << i;
    EXPECT_EQ(back[i].oln, kRows[i].oln) << i;
  }
  t.First();
  std::int64_t n = 0;
  double price = 0;
  bool block = false;
  EXPECT_EQ(t.GetInt("NUM", n), DbfResult::Ok);
  EXPECT_EQ(n, 42);
  EXPECT_EQ(t.GetDouble("PRICE", price), DbfResult::Ok);
  EXPECT_DOUBLE_EQ(price, 25.5);
  EXPECT_EQ(t.GetBool("ISBLOCK", block), DbfResult::Ok);
  EXPECT_TRUE(block);
  EXPECT_EQ(t.GetInt("OLN", n), DbfResult::Ok);  // keys beyond 32 bits
  EXPECT_EQ(n, 3912345678901);
  t.Next();
  t.Next();
  EXPECT_TRUE(t.IsBlank(t.FieldIndex("num")));
  EXPECT_EQ(t.GetInt("NUM", n), DbfResult::Ok);  // a blank number reads as 0
  EXPECT_EQ(n, 0);
  EXPECT_EQ(t.GetBool("ISBLOCK", block), DbfResult::Ok);
  EXPECT_FALSE(block);
}

TEST(Dbf, NumericFieldsFormatAndRejectWhatDoesNotFit) {
  TempDir dir;
  TDbfTable t;
  ASSERT_EQ(t.CreateAndOpen(dir.File("n.dbf"), {{"A", DbfFieldKind::Numeric, 5},
                                                {"B", DbfFieldKind::Numeric, 7, 2},
                                                {"C", DbfFieldKind::Character, 3}}),
            DbfResult::Ok);
  ASSERT_EQ(t.Append(), DbfResult::Ok);
  struct Case {
    const char* field;
    const char* in;
    DbfResult result;
    const char* stored;  // text read back after success
  };
  const Case cases[] = {
      {"A", "12345", DbfResult::Ok, "12345"},
      {"A", "123456", DbfResult::ValueTooLarge, nullptr},
      {"A", "-1234", DbfResult::Ok, "-1234"},
      {"A", "007", DbfResult::Ok, "7"},
      {"A", " 8 ", DbfResult::Ok, "8"},
      {"A", "1.5", DbfResult::BadValue, nullptr},
      {"A", "1.00", DbfResult::Ok, "1"},
      {"A", "abc", DbfResult::BadValue, nullptr},
      {"A", "-", DbfResult::BadValue, nullptr},
      {"A", "", DbfResult::Ok, ""},
      {"B", "3", DbfResult::Ok, "3.00"},
      {"B", "3,5", DbfResult::Ok, "3.50"},
      {"B", "-0.00", DbfResult::Ok, "0.00"},
      {"B", "1234.56", DbfResult::Ok, "1234.56"},
      {"B", "12345.6", DbfResult::ValueTooLarge, nullptr},
      {"B", "0.125", DbfResult::BadValue, nullptr},
      {"C", "12345", DbfResult::Ok, "123"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(t.SetText(c.field, c.in), c.result) << c.field << " '" << c.in << "'";
    if (c.stored != nullptr) {
      EXPECT_EQ(Text(t, c.field), c.stored) << c.field << " '" << c.in << "'";
    }
  }
  EXPECT_EQ(t.SetDouble("B", 2.5), DbfResult::Ok);
  EXPECT_EQ(Text(t, "B"), "2.50");
  EXPECT_EQ(t.SetInt("A", 99999), DbfResult::Ok);
  EXPECT_EQ(t.SetInt("A", 100000), DbfResult::ValueTooLarge);
  EXPECT_NE(t.LastError().find("n.dbf"), std::string::npos);
  EXPECT_EQ(t.SetBool("A", true), DbfResult::BadValue);
  std::int64_t v = 0;
  EXPECT_EQ(t.GetInt("C", v), DbfResult::Ok);  // "123" in a character field
  EXPECT_EQ(v, 123);
  t.SetText("C", "x1");
  EXPECT_EQ(t.GetInt("C", v), DbfResult::BadValue);
  EXPECT_EQ(t.GetInt("nosuch", v), DbfResult::UnknownField);
}

TEST(Dbf, OpenMatchesFieldsByNameWithoutCaseAndReportsMissingOrWrongKinds) {
  TempDir dir;
  const std::string path = dir.File("goods.dbf");
  ASSERT_EQ(TDbfTable::CreateTable(path, kProfileLike), DbfResult::Ok);
  TDbfTable t;
  EXPECT_EQ(t.Open(path, {{"name", DbfFieldKind::Character},
                          {"PRICE", DbfFieldKind::Numeric},
                          {"isblock", DbfFieldKind::Logical}}),
            DbfResult::Ok);
  EXPECT_EQ(t.FieldIndex("oLn"), 5);
  EXPECT_EQ(t.FieldIndex("OLN2"), -1);
  t.Close();
  EXPECT_EQ(t.Open(path, {{"NAME", DbfFieldKind::Character}, {"SHTRIH", DbfFieldKind::Character}}),
            DbfResult::MissingField);
  EXPECT_FALSE(t.IsOpen());
  EXPECT_NE(t.LastError().find("SHTRIH"), std::string::npos) << t.LastError();
  EXPECT_EQ(t.Open(path, {{"Price", DbfFieldKind::Character}}), DbfResult::WrongFieldKind);
  EXPECT_NE(t.LastError().find("Price"), std::string::npos) << t.LastError();
  EXPECT_EQ(t.Open(dir.File("absent.dbf")), DbfResult::CannotOpen);
  EXPECT_NE(t.LastError().find("absent.dbf"), std::string::npos);

  // Definitions a dBASE table cannot hold are refused before any file is made.
  const std::vector<std::vector<DbfFieldDef>> bad = {
      {},
      {{"TOOLONGNAME", DbfFieldKind::Character, 5}},
      {{"1ST", DbfFieldKind::Character, 5}},
      {{"A", DbfFieldKind::Character, 0}},
      {{"A", DbfFieldKind::Character, 255}},
      {{"A", DbfFieldKind::Logical, 2}},
      {{"A", DbfFieldKind::Numeric, 21}},
      {{"A", DbfFieldKind::Numeric, 5, 4}},
      {{"A", DbfFieldKind::Character, 5}, {"a", DbfFieldKind::Numeric, 5}},
  };
  for (std::size_t i = 0; i < bad.size(); ++i) {
    std::string error;
    EXPECT_EQ(TDbfTable::CreateTable(dir.File("bad.dbf"), bad[i], &error), DbfResult::BadDefinition) << i;
    EXPECT_FALSE(fs::exists(dir.File("bad.dbf"))) << i;
    EXPECT_FALSE(error.empty());
  }
}

TEST(Dbf, OpenOrCreateMakesAMissingFileAndKeepsAnExistingOne) {
  TempDir dir;
  const std::string path = dir.File("Dept.dbf");
  TDbfTable t;
  ASSERT_EQ(t.OpenOrCreate(path, kProfileLike), DbfResult::Ok);
  EXPECT_EQ(t.RecordCount(), 0);
  EXPECT_TRUE(t.Eof());
  AppendRows(t, {kRows[0]});
  t.Close();
  ASSERT_EQ(t.OpenOrCreate(path, kProfileLike), DbfResult::Ok);
  EXPECT_EQ(t.RecordCount(), 1);
  // CreateAndOpen replaces.
  ASSERT_EQ(t.CreateAndOpen(path, kProfileLike), DbfResult::Ok);
  EXPECT_EQ(t.RecordCount(), 0);
}

TEST(Dbf, FilterParsingAcceptsTheProgramsFormsAndRejectsOthers) {
  struct Case {
    const char* text;
    bool ok;
    std::vector<DbfCondition> conditions;
  };
  const Case cases[] = {
      {"OLN='123'", true, {{"OLN", "123"}}},
      {"Name = 'Сохраненная' and sn='A1'", true, {{"Name", "Сохраненная"}, {"sn", "A1"}}},
      {"sn = '' and TypeKKM='ЧПМ-01'", true, {{"sn", ""}, {"TypeKKM", "ЧПМ-01"}}},
      {"Name = 'x' AND LN = '5'", true, {{"Name", "x"}, {"LN", "5"}}},
      {"Name = 'Bob''s'", true, {{"Name", "Bob's"}}},
      {"Name = \"a'b\"", true, {{"Name", "a'b"}}},
      {"Name = 'and' and LN='1'", true, {{"Name", "and"}, {"LN", "1"}}},
      {"OLN=5", false, {}},
      {"OLN='5", false, {}},
      {"='5'", false, {}},
      {"OLN='1' or LN='2'", false, {}},
      {"OLN='1' andLN='2'", false, {}},
      {"OLN='1' and", false, {}},
      {"OLN<>'1'", false, {}},
      {"", false, {}},
  };
  for (const Case& c : cases) {
    std::vector<DbfCondition> got;
    EXPECT_EQ(ParseDbfFilter(c.text, got), c.ok) << c.text;
    if (!c.ok) continue;
    ASSERT_EQ(got.size(), c.conditions.size()) << c.text;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].field, c.conditions[i].field) << c.text;
      EXPECT_EQ(got[i].value, c.conditions[i].value) << c.text;
    }
    // The generated text parses back to the same conditions.
    std::vector<DbfCondition> again;
    ASSERT_TRUE(ParseDbfFilter(DbfFilterText(got), again)) << DbfFilterText(got);
    ASSERT_EQ(again.size(), got.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(again[i].value, got[i].value);
  }
}

TEST(Dbf, FiltersSelectExactTextAndNavigationFollowsThem) {
  TempDir dir;
  TDbfTable t;
  ASSERT_EQ(t.CreateAndOpen(dir.File("Profile.dbf"), kProfileLike), DbfResult::Ok);
  const std::vector<Row> rows = {
      {"Сохраненная", "S1", "1", "", "", "10"}, {"Шаблон", "", "2", "", "", "11"},
      {"сохраненная", "S1", "3", "", "", "12"}, {"Сохраненная", "S2", "4", "", "", "13"},
      {"Шаблон 2", "", "5", "", "", "110"},     {"Сохраненная ", "S1", "6", "", "", "14"},
  };
  AppendRows(t, rows);
  struct Case {
    const char* filter;
    std::vector<std::string> nums;
  };
  const Case cases[] = {
      {"Name = 'Сохраненная'", {"1", "4", "6"}},  // exact case; the stored trailing blank does not count
      {"Name = 'Сохраненная' and sn='S1'", {"1", "6"}},
      {"Name = 'Сохраненная ' and sn='S1'", {"1", "6"}},  // nor does one in the value
      {"sn = ''", {"2", "5"}},
      {"OLN='11'", {"2"}},  // not "110"
      {"OLN='1'", {}},
      {"Num='3'", {"3"}},  // a number compared by its text
      {"Name='Ω'", {}},    // a character the code page lacks matches nothing
  };
  for (const Case& c : cases) {
    ASSERT_EQ(t.SetFilter(c.filter), DbfResult::Ok) << c.filter;
    t.SetFiltered(true);
    EXPECT_EQ(Column(t, "Num"), c.nums) << c.filter;
    EXPECT_EQ(t.RecordCount(), static_cast<int>(c.nums.size())) << c.filter;
    t.SetFiltered(false);
  }
  EXPECT_EQ(t.SetFilter("Nope='1'"), DbfResult::BadFilter);
  EXPECT_EQ(t.SetFilter("Name = 'x' or"), DbfResult::BadFilter);
  EXPECT_EQ(t.RecordCount(), 6);  // filter off shows all

  // Edit in place through the filter, then delete: the cursor moves on.
  ASSERT_EQ(t.SetFilter("sn='S1'"), DbfResult::Ok);
  t.SetFiltered(true);
  ASSERT_TRUE(t.First());
  ASSERT_TRUE(t.Next());  // Num 3
  ASSERT_EQ(t.Edit(), DbfResult::Ok);
  ASSERT_EQ(t.SetText("Name", "Изменено"), DbfResult::Ok);
  ASSERT_EQ(t.Post(), DbfResult::Ok);
  EXPECT_EQ(Text(t, "Num"), "3");
  ASSERT_EQ(t.Delete(), DbfResult::Ok);
  EXPECT_EQ(Text(t, "Num"), "6");  // next visible
  ASSERT_EQ(t.Delete(), DbfResult::Ok);
  EXPECT_EQ(Text(t, "Num"), "1");  // the last one went: the one before
  ASSERT_EQ(t.Delete(), DbfResult::Ok);
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(t.RecordCount(), 0);
  EXPECT_EQ(t.Delete(), DbfResult::NoCurrentRecord);
  t.SetFiltered(false);
  EXPECT_EQ(Column(t, "Num"), (std::vector<std::string>{"2", "4", "5"}));
  EXPECT_EQ(t.PhysicalRecordCount(), 6);
  ASSERT_EQ(t.Close(), DbfResult::Ok);

  // Deleted records stay in the file, marked; Pack drops them.
  const std::string bytes = ReadBytes(dir.File("Profile.dbf"));
  ASSERT_EQ(t.Open(dir.File("Profile.dbf")), DbfResult::Ok);
  EXPECT_EQ(t.PhysicalRecordCount(), 6);
  EXPECT_EQ(Column(t, "Num"), (std::vector<std::string>{"2", "4", "5"}));
  ASSERT_EQ(t.SetFilter("Name='Изменено'"), DbfResult::Ok);
  t.SetFiltered(true);
  EXPECT_EQ(t.RecordCount(), 0);  // edited, then deleted
  t.SetFiltered(false);
  ASSERT_EQ(t.Pack(), DbfResult::Ok);
  ASSERT_EQ(t.Close(), DbfResult::Ok);
  ASSERT_EQ(t.Open(dir.File("Profile.dbf")), DbfResult::Ok);
  EXPECT_EQ(t.PhysicalRecordCount(), 3);
  EXPECT_LT(ReadBytes(dir.File("Profile.dbf")).size(), bytes.size());
}

TEST(Dbf, EditingNeedsEditStateAndCancelOrCloseDropsThePendingRow) {
  TempDir dir;
  const std::string path = dir.File("t.dbf");
  TDbfTable t;
  ASSERT_EQ(t.CreateAndOpen(path, kProfileLike), DbfResult::Ok);
  EXPECT_EQ(t.SetText("Name", "x"), DbfResult::NotEditing);
  EXPECT_EQ(t.Edit(), DbfResult::NoCurrentRecord);
  AppendRows(t, {kRows[0]});
  EXPECT_EQ(t.SetText("Name", "x"), DbfResult::NotEditing);
  ASSERT_EQ(t.Edit(), DbfResult::Ok);
  ASSERT_EQ(t.SetText("Name", "Новое"), DbfResult::Ok);
  EXPECT_EQ(Text(t, "Name"), "Новое");  // the pending row is what reads
  t.Cancel();
  EXPECT_EQ(Text(t, "Name"), "Сохраненная");
  ASSERT_EQ(t.Append(), DbfResult::Ok);
  ASSERT_EQ(t.SetText("Name", "не записано"), DbfResult::Ok);
  ASSERT_EQ(t.Close(), DbfResult::Ok);
  ASSERT_EQ(t.Open(path), DbfResult::Ok);
  EXPECT_EQ(Column(t, "Name"), (std::vector<std::string>{"Сохраненная"}));
}

TEST(Dbf, ChangesReachTheFileOnFlushOrAtOnceWithAutoFlush) {
  TempDir dir;
  const std::string path = dir.File("Operators.dbf");
  TDbfTable writer;
  ASSERT_EQ(writer.CreateAndOpen(path, kProfileLike), DbfResult::Ok);
  const auto rowsOnDisk = [&] {
    TDbfTable reader;
    EXPECT_EQ(reader.Open(path), DbfResult::Ok) << reader.LastError();
    return reader.RecordCount();
  };
  AppendRows(writer, {kRows[0], kRows[1]});
  EXPECT_TRUE(writer.Modified());
  EXPECT_EQ(rowsOnDisk(), 0);
  ASSERT_EQ(writer.Flush(), DbfResult::Ok);
  EXPECT_FALSE(writer.Modified());
  EXPECT_EQ(rowsOnDisk(), 2);
  writer.SetAutoFlush(true);
  AppendRows(writer, {kRows[2]});
  EXPECT_EQ(rowsOnDisk(), 3);
  writer.First();
  ASSERT_EQ(writer.Delete(), DbfResult::Ok);
  EXPECT_EQ(rowsOnDisk(), 2);
  ASSERT_EQ(writer.Pack(), DbfResult::Ok);
  EXPECT_EQ(fs::file_size(path), 32u + 6 * 32 + 1 + 2 * (1 + 30 + 12 + 9 + 12 + 1 + 20) + 1);
}

// ---- damaged files -------------------------------------------------------

std::string ValidImage() {
  TDbfTable t;
  EXPECT_EQ(t.OpenBytes([] {
    TempDir dir;
    const std::string path = dir.File("v.dbf");
    TDbfTable w;
    EXPECT_EQ(w.CreateAndOpen(path, kProfileLike), DbfResult::Ok);
    AppendRows(w, kRows);
    w.Close();
    return ReadBytes(path);
  }()),
            DbfResult::Ok);
  return t.Image();
}

TEST(Dbf, DamagedFilesGiveAClearErrorAndNoCrash) {
  const std::string good = ValidImage();
  const std::size_t headerLength = 32 + 6 * 32 + 1;
  const std::size_t firstDescriptor = 32;
  struct Case {
    const char* what;
    std::string bytes;
    DbfResult result;
  };
  const auto with = [&](std::size_t at, unsigned char value) {
    std::string b = good;
    b[at] = static_cast<char>(value);
    return b;
  };
  const Case cases[] = {
      {"empty file", "", DbfResult::TruncatedHeader},
      {"truncated header", good.substr(0, 20), DbfResult::TruncatedHeader},
      {"truncated descriptors", good.substr(0, 100), DbfResult::TruncatedHeader},
      {"not a dBASE file", with(0, 0x44), DbfResult::BadVersion},
      {"record count beyond the file", with(4, 200), DbfResult::RecordsBeyondEnd},
      {"huge record count", with(7, 0xFF), DbfResult::RecordsBeyondEnd},
      {"record count one short", with(4, 3), DbfResult::MissingEndMark},
      {"missing end mark", good.substr(0, good.size() - 1), DbfResult::MissingEndMark},
      {"end mark overwritten", with(good.size() - 1, ' '), DbfResult::MissingEndMark},
      {"truncated records", good.substr(0, good.size() - 50), DbfResult::RecordsBeyondEnd},
      {"field length 0", with(firstDescriptor + 16, 0), DbfResult::BadFieldDescriptor},
      {"field length 255", with(firstDescriptor + 16, 255), DbfResult::BadFieldDescriptor},
      {"logical of length 2", with(firstDescriptor + 4 * 32 + 16, 2), DbfResult::BadFieldDescriptor},
      {"decimals beyond the length", with(firstDescriptor + 3 * 32 + 17, 12), DbfResult::BadFieldDescriptor},
      {"empty field name", with(firstDescriptor, 0), DbfResult::BadFieldDescriptor},
      {"no descriptor terminator", with(headerLength - 1, 'X'), DbfResult::BadFieldDescriptor},
      {"header length too small", with(8, 40), DbfResult::BadHeader},
      {"header length beyond the file", with(9, 0xFF), DbfResult::TruncatedHeader},
      {"record length smaller than the fields", with(10, 50), DbfResult::BadHeader},
      {"invalid deleted flag", with(headerLength, 'X'), DbfResult::BadDeletedFlag},
  };
  for (const Case& c : cases) {
    TDbfTable t;
    EXPECT_EQ(t.OpenBytes(c.bytes, {}, "damaged.dbf"), c.result) << c.what << ": " << t.LastError();
    EXPECT_FALSE(t.IsOpen()) << c.what;
    EXPECT_NE(t.LastError().find("damaged.dbf"), std::string::npos) << c.what;
    EXPECT_NE(t.LastError().find(DbfResultText(c.result)), std::string::npos) << c.what;
  }

  // Random bytes, and random damage to a good image: never a crash (the
  // sanitizer build catches reads past the end), always a result.
  std::mt19937 rng(12345);
  for (int i = 0; i < 3000; ++i) {
    std::string b;
    if (i % 2 == 0) {
      b.resize(rng() % 600);
      for (char& c : b) c = static_cast<char>(rng() & 0xFF);
      if (b.size() > 0) b[0] = 0x03;
    } else {
      b = good;
      for (int k = 0; k < 1 + static_cast<int>(rng() % 4); ++k)
        b[rng() % b.size()] = static_cast<char>(rng() & 0xFF);
      if (rng() % 3 == 0) b.resize(rng() % b.size());
    }
    TDbfTable t;
    const DbfResult r = t.OpenBytes(b);
    if (r != DbfResult::Ok) {
      EXPECT_FALSE(t.LastError().empty());
      continue;
    }
    std::string s;
    std::int64_t n = 0;
    bool v = false;
    for (bool ok = t.First(); ok; ok = t.Next())
      for (int f = 0; f < t.FieldCount(); ++f) {
        t.GetText(f, s);
        t.GetInt(f, n);
        t.GetBool(f, v);
      }
  }
}

TEST(Dbf, ToleratesWhatOtherWritersProduce) {
  const std::string good = ValidImage();
  const std::size_t headerLength = 32 + 6 * 32 + 1;
  const std::size_t recordLength = 1 + 30 + 12 + 9 + 12 + 1 + 20;
  const auto field = [&](std::size_t record, std::size_t offset) {
    return headerLength + record * recordLength + offset;
  };

  // A longer header (Visual FoxPro's trailer, reserved room): records start at the header length.
  std::string longer = good.substr(0, headerLength) + std::string(263, '\0') + good.substr(headerLength);
  longer[8] = static_cast<char>((headerLength + 263) & 0xFF);
  longer[9] = static_cast<char>((headerLength + 263) >> 8);
  // Bytes after the end mark, garbage after a name's NUL, NUL padding of text,
  // a left-aligned number, "?" in a logical, F as the numeric type.
  std::string quirks = good + std::string("\0\0junk", 6);
  quirks[32 + 5] = 'Z';                                         // "NAME\0Z..."
  quirks.replace(field(0, 1 + 11), 19, std::string(19, '\0'));  // after "Сохраненная"
  quirks.replace(field(0, 1 + 30 + 12), 9, "42       ");
  quirks[field(0, 1 + 30 + 12 + 9 + 12)] = '?';
  quirks[32 + 2 * 32 + 11] = 'F';
  for (const std::string* image : {&longer, &quirks}) {
    TDbfTable t;
    ASSERT_EQ(t.OpenBytes(*image, kProfileLike), DbfResult::Ok) << t.LastError();
    EXPECT_EQ(t.RecordCount(), 4);
    EXPECT_EQ(Text(t, "Name"), "Сохраненная");
    EXPECT_EQ(Text(t, "Num"), "42");
    EXPECT_EQ(Text(t, "OLN"), "3912345678901");
    if (image == &quirks) {
      EXPECT_TRUE(t.IsBlank(t.FieldIndex("IsBlock")));
    }
    t.Next();
    EXPECT_EQ(Text(t, "Name"), "Ёлка, ёж № 5 «тест»");
  }
}

TEST(Dbf, ReadsTheGdalFixtureWithDeletedRecordsAndBlankNumbers) {
  TDbfTable t;
  const std::string path = std::string(ZARVIK_TEST_DATA) + "/store/gdal_deleted_blank.dbf";
  ASSERT_EQ(t.Open(path, {{"CODE", DbfFieldKind::Numeric},
                          {"NAME", DbfFieldKind::Character},
                          {"PRICE", DbfFieldKind::Numeric},
                          {"SHTRIH", DbfFieldKind::Character}}),
            DbfResult::Ok)
      << t.LastError();
  EXPECT_EQ(t.PhysicalRecordCount(), 6);
  EXPECT_EQ(t.RecordCount(), 4);
  std::vector<std::string> rows;
  for (bool ok = t.First(); ok; ok = t.Next()) {
    std::string row;
    for (const char* f : {"CODE", "TYPE", "NAME", "NG", "PRICE", "SECTION", "SHTRIH"})
      row += Text(t, f) + (t.IsBlank(t.FieldIndex(f)) ? "<blank>" : "") + "|";
    rows.push_back(row);
  }
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "1|170|Молоко «Домик в деревне»|1|25.50|1|4601234567890|",
                      "3|<blank>|Хлеб ржаной|<blank>|<blank>|3|<blank>|",
                      "4|160|Тара, ящик|5|0.01|<blank>|123|",
                      "6|255|Ёлка № 6|<blank>|999999.99|99|000|",
                  }));
  t.First();
  t.Next();
  std::int64_t type = -1;
  EXPECT_EQ(t.GetInt("TYPE", type), DbfResult::Ok);  // "*********" is blank, read as 0
  EXPECT_EQ(type, 0);
  ASSERT_EQ(t.SetFilter("NAME='Ёлка № 6'"), DbfResult::Ok);
  t.SetFiltered(true);
  EXPECT_EQ(t.RecordCount(), 1);
  ASSERT_EQ(t.SetFilter("NAME='Тоже удалена'"), DbfResult::Ok);
  EXPECT_EQ(t.RecordCount(), 0);  // deleted records never pass a filter
}

// ---- other programs ------------------------------------------------------

TEST(DbfInterop, DbfreadReadsWhatTheProgramWrites) {
  TempDir dir;
  const std::string path = dir.File("Profile.dbf");
  TDbfTable t;
  ASSERT_EQ(t.CreateAndOpen(path, kProfileLike), DbfResult::Ok);
  AppendRows(t, kRows);
  // One more record, deleted: dbfread counts it among the deleted.
  AppendRows(t, {{"Удалённая", "", "1", "1", "T", "9"}});
  ASSERT_EQ(t.Delete(), DbfResult::Ok);
  ASSERT_EQ(t.Close(), DbfResult::Ok);

  int status = -1;
  const std::string out = RunDbfread(dir, {path}, status);
  ASSERT_EQ(status, 0) << "dbfread through " << kDebianPython << " failed:\n" << out;
  std::string expected = "FILE 201 cp1251 1\n";
  expected += "F NAME C 30 0\nF SN C 12 0\nF NUM N 9 0\nF PRICE N 12 2\nF ISBLOCK L 1 0\nF OLN C 20 0\n";
  for (const Row& r : kRows) {
    const auto number = [](const std::string& s, bool decimals) {
      if (s.empty()) return std::string("<None>");
      if (!decimals) return s;
      std::string v = s;  // Python's repr of the float
      while (v.back() == '0') v.pop_back();
      if (v.back() == '.') v += "0";
      if (v == "-0.0") v = "-0.0";
      return v;
    };
    const std::string flag = r.isBlock.empty() ? "<None>" : (r.isBlock == "T" ? "<T>" : "<F>");
    expected += "R " + Utf8Left(r.name, 30) + "|" + r.sn + "|" + number(r.num, false) + "|" +
                number(r.price, true) + "|" + flag + "|" + r.oln + "\n";
  }
  EXPECT_EQ(out, expected);
}

TEST(DbfInterop, ProgramReadsWhatOgr2ogrWrites) {
  TempDir dir;
  WriteBytes(dir.File("goods.csv"),
             "CODE,NAME,PRICE,SHTRIH,NG\n"
             "12,Сыр «Российский»,25.5,4601234567890,1\n"
             "13,\"Ёжик, в тумане\",,0001,\n"
             "-14,ЪЫЬЭЮЯ абвгд ёЁ №,1000000.25,,5\n");
  WriteBytes(dir.File("goods.csvt"), "Integer(9),String(32),Real(12.2),String(20),Integer(9)\n");
  int status = -1;
  const std::string out = RunCommand("ogr2ogr -f 'ESRI Shapefile' '" + dir.File("goods.dbf") + "' '" +
                                         dir.File("goods.csv") + "' -lco ENCODING=CP1251 2>&1",
                                     status);
  ASSERT_EQ(status, 0) << "ogr2ogr failed (package gdal-bin):\n" << out;
  TDbfTable t;
  ASSERT_EQ(t.Open(dir.File("goods.dbf"), {{"code", DbfFieldKind::Numeric},
                                           {"name", DbfFieldKind::Character},
                                           {"price", DbfFieldKind::Numeric},
                                           {"shtrih", DbfFieldKind::Character},
                                           {"ng", DbfFieldKind::Numeric}}),
            DbfResult::Ok)
      << t.LastError();
  EXPECT_EQ(t.Field(t.FieldIndex("NAME")).length, 32);
  EXPECT_EQ(t.Field(t.FieldIndex("PRICE")).decimals, 2);
  std::vector<std::string> rows;
  for (bool ok = t.First(); ok; ok = t.Next()) {
    std::int64_t code = 0, ng = -1;
    double price = -1;
    EXPECT_EQ(t.GetInt("CODE", code), DbfResult::Ok);
    EXPECT_EQ(t.GetDouble("PRICE", price), DbfResult::Ok);
    EXPECT_EQ(t.GetInt("NG", ng), DbfResult::Ok);
    std::ostringstream row;
    row << code << "|" << Text(t, "NAME") << "|" << Text(t, "PRICE") << "=" << price << "|"
        << Text(t, "SHTRIH") << "|" << ng << "|" << t.IsBlank(t.FieldIndex("PRICE"))
        << t.IsBlank(t.FieldIndex("NG"));
    rows.push_back(row.str());
  }
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], "12|Сыр «Российский»|25.50=25.5|4601234567890|1|00");
  EXPECT_EQ(rows[1], "13|Ёжик, в тумане|=0|0001|0|11");
  EXPECT_EQ(rows[2], "-14|ЪЫЬЭЮЯ абвгд ёЁ №|1000000.25=1e+06||5|00");
}

// ---- interrupted writes --------------------------------------------------

// Old content: 300 rows "old N"; new content: 10000 rows "new N" (a few MB,
// so that a timed kill can land inside the write).
constexpr int kOldRows = 300;
constexpr int kNewRows = 10000;
const std::vector<DbfFieldDef> kKillFields = {{"NAME", DbfFieldKind::Character, 60},
                                              {"NUM", DbfFieldKind::Numeric, 9},
                                              {"NOTE", DbfFieldKind::Character, 100}};

void FillTable(const std::string& path, const char* prefix, int rows, bool flush) {
  TDbfTable t;
  ASSERT_EQ(t.CreateAndOpen(path, kKillFields), DbfResult::Ok);
  for (int i = 0; i < rows; ++i) {
    t.Append();
    t.SetText("NAME", std::string(prefix) + " Строка " + std::to_string(i));
    t.SetInt("NUM", i);
    t.SetText("NOTE", std::string(90, 'x'));
    t.Post();
  }
  if (flush) {
    ASSERT_EQ(t.Flush(), DbfResult::Ok);
  }
}

// Checks the file holds exactly the old or exactly the new rows; returns which.
std::string OldOrNew(const std::string& path) {
  TDbfTable t;
  if (t.Open(path, kKillFields) != DbfResult::Ok) return "unreadable: " + t.LastError();
  const int count = t.RecordCount();
  const std::string prefix = count == kOldRows ? "old" : count == kNewRows ? "new" : "";
  if (prefix.empty()) return "row count " + std::to_string(count);
  int i = 0;
  for (bool ok = t.First(); ok; ok = t.Next(), ++i) {
    std::string name;
    t.GetText("NAME", name);
    if (name != prefix + " Строка " + std::to_string(i)) return "row " + std::to_string(i) + ": " + name;
  }
  return prefix;
}

DbfWriteStage g_killAt = DbfWriteStage::TempCreated;
bool KillHere(DbfWriteStage stage) {
  if (stage == g_killAt) ::raise(SIGKILL);
  return true;
}
bool FailHere(DbfWriteStage stage) {
  return stage != g_killAt;
}

TEST(DbfAtomicWrite, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir.File("Dept.dbf");
  FillTable(path, "old", kOldRows, true);
  const std::string before = ReadBytes(path);
  for (DbfWriteStage stage : {DbfWriteStage::TempCreated, DbfWriteStage::DataHalf, DbfWriteStage::DataWritten,
                              DbfWriteStage::Synced}) {
    TDbfTable t;
    ASSERT_EQ(t.Open(path, kKillFields), DbfResult::Ok);
    t.First();
    t.Edit();
    t.SetText("NAME", "changed");
    t.Post();
    g_killAt = stage;
    SetDbfWriteHook(FailHere);
    EXPECT_EQ(t.Flush(), DbfResult::CannotWrite);
    SetDbfWriteHook(nullptr);
    EXPECT_FALSE(t.LastError().empty());
    EXPECT_EQ(ReadBytes(path), before) << static_cast<int>(stage);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.Path())) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"Dept.dbf"}));
    t.Cancel();
    ASSERT_EQ(t.Close(), DbfResult::Ok);  // the change is still pending and now written
    EXPECT_NE(ReadBytes(path), before);
    WriteBytes(path, before);
  }
  // A folder that cannot take the temporary file.
  TDbfTable t;
  ASSERT_EQ(t.Open(path), DbfResult::Ok);
  fs::remove_all(dir.Path());
  t.First();
  t.Delete();
  EXPECT_EQ(t.Flush(), DbfResult::CannotWrite);
  EXPECT_NE(t.LastError().find("cannot create"), std::string::npos) << t.LastError();
}

// In a writer child: each stage of the table's write is reported as a step.
const test::StepReport* g_dbfReport = nullptr;
bool ReportDbfStage(DbfWriteStage) {
  (*g_dbfReport)();
  return true;
}

// Replaces the rows of the table at `path` with the new ones and writes it.
int RewriteWithNewRows(const std::string& path) {
  TDbfTable t;
  if (t.Open(path, kKillFields) != DbfResult::Ok) return 2;
  while (t.First()) t.Delete();
  t.Pack();
  for (int i = 0; i < kNewRows; ++i) {
    t.Append();
    t.SetText("NAME", "new Строка " + std::to_string(i));
    t.SetInt("NUM", i);
    t.SetText("NOTE", std::string(90, 'y'));
    t.Post();
  }
  return t.Flush() == DbfResult::Ok ? 0 : 1;
}

TEST(DbfAtomicWrite, AKilledWriteLeavesTheOldOrTheNewRows) {
  TempDir dir;
  std::vector<std::string> files;
  std::vector<std::string> expected;
  int killedInside = 0;
  const DbfWriteStage stages[] = {DbfWriteStage::TempCreated, DbfWriteStage::DataHalf,
                                  DbfWriteStage::DataWritten, DbfWriteStage::Synced, DbfWriteStage::Renamed};
  int n = 0;
  // Killed at each stage of the write, from inside (deterministic).
  for (int k = 0; k < static_cast<int>(std::size(stages)); ++k, ++n) {
    const std::string path = dir.File("kill" + std::to_string(n) + ".dbf");
    FillTable(path, "old", kOldRows, true);
    const int raw = test::RunInChild([&] {
      g_killAt = stages[k];
      SetDbfWriteHook(KillHere);
      ::_exit(RewriteWithNewRows(path));
    });
    EXPECT_TRUE(test::KilledBySigkill(raw)) << "stage " << k;
    if (test::KilledBySigkill(raw)) ++killedInside;
    // Killed before the rename: old rows; at the rename or after: new rows.
    const std::string got = OldOrNew(path);
    EXPECT_EQ(got, stages[k] == DbfWriteStage::Renamed ? "new" : "old") << "stage " << k;
    files.push_back(path);
    expected.push_back(got);
  }
  // Killed from outside as soon as the writer reports a stage: the writer runs
  // on meanwhile, so the kill falls somewhere after that stage.
  for (int k = 0; k < static_cast<int>(std::size(stages)); ++k, ++n) {
    const std::string path = dir.File("kill" + std::to_string(n) + ".dbf");
    FillTable(path, "old", kOldRows, true);
    const test::WriterKill kill = test::KillWriterAtStep(
        [&](const test::StepReport& report) {
          g_dbfReport = &report;
          SetDbfWriteHook(ReportDbfStage);
          ::_exit(RewriteWithNewRows(path));
        },
        k + 1);
    // The writer runs on after its report until the kill lands: on a busy
    // machine it may finish the write and end by itself first (after the
    // sync only the rename is left), and then the table holds the new rows.
    EXPECT_EQ(kill.steps, k + 1) << "stage " << k;
    const std::string got = OldOrNew(path);
    if (stages[k] == DbfWriteStage::Renamed || !kill.killed) {
      EXPECT_EQ(got, "new") << "stage " << k << (kill.killed ? "" : ", the writer ended by itself");
    } else {
      EXPECT_TRUE(got == "old" || got == "new") << "stage " << k << ": " << got;
    }
    files.push_back(path);
    expected.push_back(got);
  }
  EXPECT_GE(killedInside, 5);
  // The independent reader sees the same rows in every file.
  int status = -1;
  const std::string out = RunDbfread(dir, files, status);
  ASSERT_EQ(status, 0) << out.substr(0, 2000);
  std::istringstream lines(out);
  std::string line;
  std::size_t file = 0;
  int records = 0;
  std::string firstRecord;
  const auto check = [&] {
    if (file == 0) return;
    const std::string& want = expected[file - 1];
    EXPECT_EQ(records, want == "old" ? kOldRows : kNewRows) << files[file - 1];
    EXPECT_EQ(firstRecord.rfind("R " + want + " Строка 0|0|", 0), 0u) << firstRecord;
  };
  while (std::getline(lines, line)) {
    if (line.rfind("FILE ", 0) == 0) {
      check();
      ++file;
      records = 0;
      firstRecord.clear();
    } else if (line.rfind("R ", 0) == 0) {
      if (records++ == 0) firstRecord = line;
    }
  }
  check();
  EXPECT_EQ(file, files.size());
}

}  // namespace
}  // namespace zarvik
