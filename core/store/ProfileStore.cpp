#include "store/ProfileStore.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <limits>

#include "model/U_kkms.h"
#include "shell/DiaLog.h"
#include "shell/TextCodec.h"
#include "shell/U_language.h"
#include "store/RegisterBackup.h"

namespace zarvik {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kSecondsPerHour = 3600;
constexpr std::int64_t kSecondsPerMinute = 60;
// Days from 1899-12-30 to 1970-01-01.
constexpr std::int64_t kKeyEpochDays = 25569;
constexpr int kTmBaseYear = 1900;

// Days of the proleptic Gregorian date from 1970-01-01.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// Whole decimal number (sign allowed, blanks around ignored).
bool ParseKey(std::string_view text, std::int64_t& out) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return false;
  bool negative = false;
  if (text.front() == '-' || text.front() == '+') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 18) return false;
  std::int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  out = negative ? -v : v;
  return true;
}

// Dept.dbf status code of a status text.
int StatusCode(const std::string& status) {
  if (status == LangResStrHandler.Text(ltDepGoods)) return kDeptStatusGoods;
  if (status == LangResStrHandler.Text(ltDepService)) return kDeptStatusService;
  return kDeptStatusClosed;
}

std::string StatusText(std::int64_t code) {
  if (code == kDeptStatusGoods) return LangResStrHandler.Text(ltDepGoods);
  if (code == kDeptStatusService) return LangResStrHandler.Text(ltDepService);
  return LangResStrHandler.Text(ltDepClosed);
}

// `ng` of a tax-group letter: its code in code page 1251, 32 for none.
int TaxGroupCode(const std::string& letter) {
  if (letter.empty()) return kDeptNoTaxGroup;
  const std::string bytes = Utf8ToCp1251(Utf8Left(letter, 1));
  return bytes.empty() ? kDeptNoTaxGroup : static_cast<unsigned char>(bytes[0]);
}

// The letter of an `ng` code; none for 32 and for codes that are no
// printable character.
std::string TaxGroupLetter(std::int64_t code) {
  if (code <= kDeptNoTaxGroup || code > 0xFF) return {};
  return Cp1251ToUtf8(std::string(1, static_cast<char>(code)));
}

// The print font number a font caption begins with; 0 when none.
int FontNumber(const std::string& caption) {
  if (caption.empty() || caption[0] < '0' || caption[0] > '9') return 0;
  return caption[0] - '0';
}

}  // namespace

std::int64_t ProfileKeyAt(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  // to_time_t may round; the key drops the fraction.
  std::time_t whole = t;
  if (std::chrono::system_clock::from_time_t(whole) > when) --whole;
  std::tm local{};
  localtime_r(&whole, &local);
  const std::int64_t days =
      DaysFromCivil(static_cast<std::int64_t>(local.tm_year) + kTmBaseYear,
                    static_cast<unsigned>(local.tm_mon + 1), static_cast<unsigned>(local.tm_mday)) +
      kKeyEpochDays;
  return days * kSecondsPerDay + local.tm_hour * kSecondsPerHour + local.tm_min * kSecondsPerMinute +
         local.tm_sec;
}

bool IsTemplateKey(std::string_view ln) {
  return ln.substr(0, kTemplateKeyPrefix.size()) == kTemplateKeyPrefix;
}

TProfileStore::TProfileStore(TBD& bd, std::string folder) : bd_(bd), folder_(std::move(folder)) {
  bd_.mtProfile.beforeScroll = [this](TWorkTable& t) { mtProfileBeforeScroll(t); };
  bd_.mtProfile.afterScroll = [this](TWorkTable& t) { mtProfileAfterScroll(t); };
  bd_.mtProfile.afterPost = [this](TWorkTable& t) { mtProfileAfterPost(t); };
}

TProfileStore::~TProfileStore() {
  bd_.mtProfile.beforeScroll = nullptr;
  bd_.mtProfile.afterScroll = nullptr;
  bd_.mtProfile.afterPost = nullptr;
}

const TKKMInfo* TProfileStore::Info() const {
  return bd_.kkm != nullptr ? bd_.kkm->info.get() : nullptr;
}

bool TProfileStore::Check(DbfResult result, const TDbfTable& file) {
  if (result == DbfResult::Ok) return true;
  Error(file.LastError().empty() ? DbfResultText(result) : file.LastError(), false, true, true);
  return false;
}

bool TProfileStore::CheckWt(WtResult result, const TWorkTable& table) {
  if (result == WtResult::Ok) return true;
  Error(table.LastError().empty() ? WtResultText(result) : table.LastError(), false, true, true);
  return false;
}

bool TProfileStore::OpenFiles() {
  std::error_code ec;
  const std::string folder = std::filesystem::absolute(folder_, ec).string();
  for (int i = 0; i < kProfileFileCount; ++i) {
    const auto file = static_cast<ProfileFile>(i);
    if (File(file).IsOpen()) continue;
    if (!Check(bd_.OpenProfileFile(file, ec ? folder_ : folder), File(file))) return false;
  }
  return true;
}

bool TProfileStore::FilterProfiles(std::vector<DbfCondition> conditions) {
  TDbfTable& p = File(ProfileFile::Profile);
  p.SetFiltered(false);
  if (!Check(p.SetFilterConditions(std::move(conditions)), p)) return false;
  p.SetFiltered(true);
  return true;
}

// ---- the list -------------------------------------------------------------

bool TProfileStore::RefreshProfileList(const std::string& serialNumber, const std::string& version) {
  if (!OpenFiles()) return false;
  TWorkTable& list = bd_.mtProfile;
  // The entries being removed are not loaded on the way out.
  suppressLoad_ = true;
  while (list.RecordCount() > 1) {
    list.Last();
    if (list.Delete() != WtResult::Ok) break;
  }
  suppressLoad_ = false;

  TDbfTable& p = File(ProfileFile::Profile);
  storedFound_ = 0;
  struct Entry {
    std::string name;
    std::string ln;
    std::int64_t key = 0;
  };
  const auto read = [&]() {
    std::vector<Entry> entries;
    for (bool more = p.First(); more; more = p.Next()) {
      Entry e;
      p.GetText("NAME", e.name);
      p.GetText("LN", e.ln);
      ParseKey(e.ln, e.key);
      entries.push_back(std::move(e));
    }
    return entries;
  };
  const auto append = [&](const Entry& e, const std::string& prefix) {
    list.Append();
    list.SetText("Name", e.name);
    list.SetText("LN", prefix + e.ln);
    list.Post();
  };
  if (!FilterProfiles({{"sn", serialNumber}})) return false;
  // The stored profile first, then the backups, newest first.
  std::vector<Entry> backups;
  for (Entry& e : read()) {
    if (IsBackupName(e.name)) {
      backups.push_back(std::move(e));
    } else {
      append(e, {});
      ++storedFound_;
    }
  }
  std::stable_sort(backups.begin(), backups.end(),
                   [](const Entry& a, const Entry& b) { return a.key > b.key; });
  for (const Entry& e : backups) append(e, {});
  if (!FilterProfiles({{"sn", ""}, {"TypeKKM", version}})) return false;
  bd_.profileOptionCopy = bd_.registerOptionCopy;
  for (const Entry& e : read()) append(e, std::string(kTemplateKeyPrefix));
  p.SetFiltered(false);

  // Settles on row 1 after the change events ran (the stored profile's rows
  // are loaded on the way).
  list.First();
  list.Next();
  list.First();
  return true;
}

bool TProfileStore::SetProfileFilters(std::string_view name, std::string_view key) {
  if (!OpenFiles()) return false;
  if (IsTemplateKey(key)) key.remove_prefix(kTemplateKeyPrefix.size());
  if (!FilterProfiles({{"Name", std::string(name)}, {"LN", std::string(key)}})) return false;
  TDbfTable& p = File(ProfileFile::Profile);
  std::int64_t detailKey = kNoDetailKey;
  if (p.First()) {
    std::string ln;
    p.GetText("LN", ln);
    if (!ParseKey(ln, detailKey)) detailKey = kNoDetailKey;
  }
  const std::string detail = std::to_string(detailKey);
  for (ProfileFile f : {ProfileFile::Options, ProfileFile::Dept, ProfileFile::CheckFont, ProfileFile::Check,
                        ProfileFile::Operators, ProfileFile::Tax}) {
    TDbfTable& t = File(f);
    t.SetFiltered(false);
    if (!Check(t.SetFilterConditions({{"OLN", detail}}), t)) return false;
    t.SetFiltered(true);
  }
  return true;
}

void TProfileStore::ApplyProfileFilter() {
  const std::string filter = "LN='" + bd_.mtProfile.Text("LN") + "'";
  for (TWorkTable* t : bd_.ProfileTables()) {
    t->SetFilter(filter);
    t->SetFiltered(false);
    t->SetFiltered(true);
  }
}

void TProfileStore::mtProfileBeforeScroll(TWorkTable&) {
  for (TWorkTable* t : {&bd_.mtDepatment, &bd_.mtOptions, &bd_.mtTax, &bd_.mtTitle, &bd_.tmOperators,
                        &bd_.mtFooter, &bd_.mtCheckFont})
    if (t->GetState() == TWorkTable::State::Edit) t->Post();
}

void TProfileStore::mtProfileAfterScroll(TWorkTable&) {
  TWorkTable& options = bd_.mtOptions;
  options.DisableControls();
  const int distance = std::max(options.RecNo() - 1, 0);
  ApplyProfileFilter();
  // A profile is read from the files only while none of its rows is in
  // memory: rows edited on any tab stay until the profile is saved, deleted
  // or dropped (a backup may hold departments and no options at all).
  const auto tables = bd_.ProfileTables();
  const bool inMemory =
      std::any_of(tables.begin(), tables.end(), [](const TWorkTable* t) { return t->RecordCount() > 0; });
  if (!inMemory && !suppressLoad_) LoadProfileRows();
  options.First();
  for (int i = 0; i < distance && !options.Eof(); ++i) options.Next();
  options.EnableControls();
}

void TProfileStore::mtProfileAfterPost(TWorkTable&) {
  ApplyProfileFilter();
}

// ---- loading ----------------------------------------------------------------

bool TProfileStore::LoadProfileRows() {
  TWorkTable& list = bd_.mtProfile;
  const std::string name = list.Text("Name");
  if (name.empty() || list.RecNo() == 1) return false;
  if (!SetProfileFilters(name, list.Text("LN"))) return false;
  ++loads_;
  return LoadOptions(Info()) && LoadDepartments() && LoadTaxes() && LoadOperators() && LoadReceiptLines() &&
         LoadFonts();
}

bool TProfileStore::LoadRows(TDbfTable& f, int limit, const std::function<TWorkTable*(int row)>& fill) {
  int row = 0;
  for (bool more = f.First(); more && row < limit; more = f.Next()) {
    ++row;
    TWorkTable* t = fill(row);
    if (t == nullptr || !CheckWt(t->Post(), *t)) return false;
  }
  return true;
}

bool TProfileStore::SetTextOrCancel(TWorkTable& t, const char* field, const std::string& text) {
  if (CheckWt(t.SetText(field, text), t)) return true;
  t.Cancel();
  return false;
}

bool TProfileStore::LoadOptions(const TKKMInfo* info) {
  TDbfTable& f = File(ProfileFile::Options);
  TWorkTable& t = bd_.mtOptions;
  ClearRows(t);
  return LoadRows(f, std::numeric_limits<int>::max(), [&](int position) -> TWorkTable* {
    std::int64_t num = 0, value = 0;
    if (!Check(f.GetInt("NUM", num), f) || !Check(f.GetInt("VAL", value), f)) return nullptr;
    std::uint8_t min = 0, max = 0;
    bool canNull = false;
    if (info != nullptr) {
      info->OptionLimits(static_cast<int>(num), min, max);
      // The descriptor at the row's position (the option's own for a
      // profile saved in option order).
      if (position <= kOptionSlotCount)
        canNull = info->options[static_cast<std::size_t>(position - 1)].canNull;
    }
    t.Append();
    t.SetInteger("num", num);
    t.SetInteger("Value", value);
    t.SetInteger("Min", min);
    t.SetInteger("Max", max);
    t.SetInteger("CanNul", canNull ? 1 : 0);
    return &t;
  });
}

bool TProfileStore::LoadDepartments() {
  TDbfTable& f = File(ProfileFile::Dept);
  TWorkTable& t = bd_.mtDepatment;
  ClearRows(t);
  return LoadRows(f, std::numeric_limits<int>::max(), [&](int) -> TWorkTable* {
    std::int64_t sec = 0, status = 0, ng = 0;
    std::string name, price;
    if (!Check(f.GetInt("Sec", sec), f) || !Check(f.GetInt("Status", status), f) ||
        !Check(f.GetText("Name", name), f) || !Check(f.GetInt("ng", ng), f) ||
        !Check(f.GetText("Price", price), f))
      return nullptr;
    t.Append();
    t.SetInteger("Num", sec);
    t.SetText("Status", StatusText(status));
    t.SetText("Name", name);
    t.SetText("NG", TaxGroupLetter(ng));
    return SetTextOrCancel(t, "Price", price) ? &t : nullptr;
  });
}

bool TProfileStore::LoadTaxes() {
  TDbfTable& f = File(ProfileFile::Tax);
  TWorkTable& t = bd_.mtTax;
  ClearRows(t);
  return LoadRows(f, std::numeric_limits<int>::max(), [&](int) -> TWorkTable* {
    std::int64_t num = 0, type = 0;
    bool defined = false;
    std::string name, percent;
    if (!Check(f.GetInt("NUM", num), f) || !Check(f.GetBool("ISDEFINED", defined), f) ||
        !Check(f.GetText("NAME", name), f) || !Check(f.GetInt("TYPE", type), f) ||
        !Check(f.GetText("PERCENT", percent), f))
      return nullptr;
    t.Append();
    t.SetInteger("Num", num);
    t.SetBoolean("isDefined", defined);
    t.SetText("Name", name);
    t.SetInteger("Type", type);
    return SetTextOrCancel(t, "Percent", percent) ? &t : nullptr;
  });
}

bool TProfileStore::LoadOperators() {
  TDbfTable& f = File(ProfileFile::Operators);
  TWorkTable& t = bd_.tmOperators;
  ClearRows(t);
  return LoadRows(f, kProfileMaxOperators, [&](int) -> TWorkTable* {
    std::string name, position;
    if (!Check(f.GetText("NAME", name), f) || !Check(f.GetText("DOLGN", position), f)) return nullptr;
    t.Append();
    t.SetText("operator", name);
    t.SetText("dolgn", position);
    return &t;
  });
}

bool TProfileStore::LoadReceiptLines() {
  TDbfTable& f = File(ProfileFile::Check);
  ClearRows(bd_.mtTitle);
  ClearRows(bd_.mtFooter);
  return LoadRows(f, kProfileLastReceiptRow, [&](int row) -> TWorkTable* {
    std::int64_t line = 0;
    std::string text;
    if (!Check(f.GetInt("LINE", line), f) || !Check(f.GetText("NAME", text), f)) return nullptr;
    const bool footer = row >= kProfileFooterFirstRow;
    TWorkTable& t = footer ? bd_.mtFooter : bd_.mtTitle;
    t.Append();
    t.SetInteger("Num", footer ? line - kFooterLineOffset : line);
    t.SetText("Caption", text);
    return &t;
  });
}

bool TProfileStore::LoadFonts() {
  TDbfTable& f = File(ProfileFile::CheckFont);
  TWorkTable& t = bd_.mtCheckFont;
  ClearRows(t);
  std::int64_t title = 0, footer = 0;
  if (f.First() && (!Check(f.GetInt("TITLEFONT", title), f) || !Check(f.GetInt("FOOTERFONT", footer), f)))
    return false;
  const TKKMInfo* info = Info();
  const auto name = [info](std::int64_t n) {
    if (n < 0 || n >= kPrintFontCount) return std::string();
    return info != nullptr ? info->FontName(static_cast<int>(n))
                           : std::string(PrintFontNames[static_cast<std::size_t>(n)]);
  };
  t.Append();
  t.SetText("TitleFont", name(title));
  t.SetText("footerFont", name(footer));
  return CheckWt(t.Post(), t);
}

// ---- saving -------------------------------------------------------------------

std::int64_t TProfileStore::NewProfileKey() {
  std::int64_t key = ProfileKeyAt(clock());
  TDbfTable& p = File(ProfileFile::Profile);
  if (!p.IsOpen()) return key;
  p.SetFiltered(false);
  for (bool more = p.First(); more; more = p.Next()) {
    std::string ln;
    std::int64_t used = 0;
    if (p.GetText("LN", ln) == DbfResult::Ok && ParseKey(ln, used) && used >= key) key = used + 1;
  }
  return key;
}

bool TProfileStore::WriteRows(TDbfTable& file, int skip, TWorkTable& table, const std::string& key,
                              const std::function<bool(TDbfTable&, TWorkTable&, int)>& fill) {
  const int count = file.RecordCount();
  file.First();
  for (int k = 0; k < skip && !file.Eof(); ++k) file.Next();
  const int keep = table.RecNo();
  table.DisableControls();
  bool ok = true;
  int i = skip;
  for (table.First(); ok && !table.Eof(); table.Next()) {
    ++i;
    ok = Check(i <= count ? file.Edit() : file.Append(), file) && fill(file, table, i) &&
         Check(file.SetText("OLN", key), file) && Check(file.Post(), file);
    if (ok && i < count) file.Next();
  }
  if (!ok) file.Cancel();
  if (keep > 0) table.SetRecNo(keep);
  table.EnableControls();
  return ok;
}

bool TProfileStore::FlushAll(bool profileFirst) {
  const auto flush = [this](ProfileFile f) { return Check(File(f).Flush(), File(f)); };
  if (profileFirst && !flush(ProfileFile::Profile)) return false;
  for (ProfileFile f : {ProfileFile::Options, ProfileFile::Dept, ProfileFile::Tax, ProfileFile::Check,
                        ProfileFile::Operators, ProfileFile::CheckFont})
    if (!flush(f)) return false;
  return profileFirst || flush(ProfileFile::Profile);
}

bool TProfileStore::SaveProfile(const std::string& name, const std::string& serialNumber,
                                const std::string& version) {
  if (!OpenFiles()) return false;
  TDbfTable& p = File(ProfileFile::Profile);
  std::vector<DbfCondition> byName{{"Name", name}};
  if (!serialNumber.empty()) byName.push_back({"sn", serialNumber});
  if (!FilterProfiles(std::move(byName))) return false;
  std::string key;
  if (p.First()) {
    p.GetText("LN", key);
  } else {
    key = std::to_string(NewProfileKey());
    if (!Check(p.Append(), p) || !Check(p.SetText("LN", key), p) || !Check(p.SetText("NAME", name), p) ||
        !Check(p.SetText("SN", serialNumber), p) || !Check(p.SetText("TYPEKKM", version), p) ||
        !Check(p.Post(), p))
      return false;
  }
  if (!SetProfileFilters(name, key)) return false;

  const auto text = [this](TDbfTable& f, std::string_view field, const std::string& value) {
    return Check(f.SetText(field, value), f);
  };
  const auto number = [this](TDbfTable& f, std::string_view field, std::int64_t value) {
    return Check(f.SetInt(field, value), f);
  };
  bool ok =
      WriteRows(File(ProfileFile::Options), 0, bd_.mtOptions, key, [&](TDbfTable& f, TWorkTable& t, int) {
        return number(f, "NUM", t.Int("num")) && number(f, "VAL", t.Int("Value"));
      });
  ok = ok &&
       WriteRows(File(ProfileFile::Dept), 0, bd_.mtDepatment, key, [&](TDbfTable& f, TWorkTable& t, int) {
         return number(f, "Sec", t.Int("Num")) && number(f, "Status", StatusCode(t.Text("Status"))) &&
                text(f, "Name", t.Text("Name")) && number(f, "ng", TaxGroupCode(t.Text("NG"))) &&
                text(f, "Price", t.Text("Price"));
       });
  ok = ok && WriteRows(File(ProfileFile::Tax), 0, bd_.mtTax, key, [&](TDbfTable& f, TWorkTable& t, int) {
         return number(f, "NUM", t.Int("Num")) && Check(f.SetBool("ISDEFINED", t.Bool("isDefined")), f) &&
                text(f, "NAME", t.Text("Name")) && text(f, "TYPE", std::to_string(t.Int("Type"))) &&
                text(f, "PERCENT", t.Text("Percent"));
       });
  const int headerRows = CountRows(bd_.mtTitle);
  ok = ok && WriteRows(File(ProfileFile::Check), 0, bd_.mtTitle, key, [&](TDbfTable& f, TWorkTable& t, int) {
         return number(f, "LINE", t.Int("Num")) && text(f, "NAME", t.Text("Caption"));
       });
  ok = ok && WriteRows(File(ProfileFile::Operators), 0, bd_.tmOperators, key,
                       [&](TDbfTable& f, TWorkTable& t, int) {
                         return text(f, "NAME", t.Text("operator")) && text(f, "DOLGN", t.Text("dolgn"));
                       });
  ok = ok && WriteRows(File(ProfileFile::Check), headerRows, bd_.mtFooter, key,
                       [&](TDbfTable& f, TWorkTable& t, int) {
                         return number(f, "LINE", t.Int("Num") + headerRows) &&
                                text(f, "NAME", t.Text("Caption"));
                       });
  if (ok) {
    TWorkTable& fonts = bd_.mtCheckFont;
    const int keep = fonts.RecNo();
    fonts.First();
    const std::string title = fonts.Eof() ? std::string() : fonts.Text("TitleFont");
    const std::string footer = fonts.Eof() ? std::string() : fonts.Text("footerFont");
    if (keep > 0) fonts.SetRecNo(keep);
    TDbfTable& f = File(ProfileFile::CheckFont);
    ok = Check(f.First() ? f.Edit() : f.Append(), f) && number(f, "TITLEFONT", FontNumber(title)) &&
         number(f, "FOOTERFONT", FontNumber(footer)) && text(f, "OLN", key) && Check(f.Post(), f);
    if (!ok) f.Cancel();
  }
  // What was written so far reaches the files, details before the profile
  // row that refers to them.
  const bool flushed = FlushAll(false);
  return ok && flushed;
}

bool TProfileStore::DeleteProfile() {
  TWorkTable& list = bd_.mtProfile;
  if (!SetProfileFilters(list.Text("Name"), list.Text("LN"))) return false;
  if (!DeleteDetailRows()) return false;
  for (TWorkTable* t : {&bd_.mtDepatment, &bd_.mtOptions, &bd_.mtTax, &bd_.mtTitle, &bd_.tmOperators,
                        &bd_.mtFooter, &bd_.mtCheckFont})
    ClearRows(*t);
  TDbfTable& p = File(ProfileFile::Profile);
  if (p.First() && !Check(p.Delete(), p)) return false;
  // The profile row goes first: a crash then leaves unused detail rows
  // behind, never a profile without its details.
  if (!FlushAll(true)) return false;
  list.Delete();
  ApplyProfileFilter();
  return true;
}

bool TProfileStore::DeleteDetailRows() {
  bool ok = true;
  for (ProfileFile f : {ProfileFile::Tax, ProfileFile::Check, ProfileFile::Operators, ProfileFile::CheckFont,
                        ProfileFile::Options, ProfileFile::Dept}) {
    TDbfTable& t = File(f);
    for (t.First(); ok && !t.Eof();) ok = Check(t.Delete(), t);
  }
  return ok;
}

bool TProfileStore::SaveStoredProfile(const std::string& serialNumber, const std::string& version,
                                      bool& savedRegisterRow) {
  TWorkTable& list = bd_.mtProfile;
  savedRegisterRow = list.RecNo() == 1;
  if (!SaveProfile(std::string(kStoredProfileName), serialNumber, version)) return false;
  if (!RefreshProfileList(serialNumber, version)) return false;
  // The stored profile is shown loaded afresh from the files.
  if (list.SetRecNo(2)) {
    const std::string stored = list.Text("LN");
    list.SetRecNo(1);
    DropProfileRows(stored);
    list.SetRecNo(2);
  }
  return true;
}

std::string TProfileStore::ProposedTemplateName() const {
  const TWorkTable& list = bd_.mtProfile;
  return IsTemplateKey(list.Text("LN")) ? list.Text("Name") : std::string();
}

bool TProfileStore::SaveTemplate(const std::string& name, const std::string& serialNumber,
                                 const std::string& version) {
  TWorkTable& list = bd_.mtProfile;
  const int position = list.RecNo();
  const std::string shown = list.Text("LN");
  if (!SaveProfile(name, {}, version)) return false;
  // A template written over from another profile is read again from the
  // files when it is next selected; rows kept in memory would be the old ones.
  TDbfTable& p = File(ProfileFile::Profile);
  std::string savedKey;
  if (p.First()) p.GetText("LN", savedKey);
  const std::string savedLn = std::string(kTemplateKeyPrefix) + savedKey;
  if (!savedKey.empty() && savedLn != shown) DropProfileRows(savedLn);
  if (!RefreshProfileList(serialNumber, version)) return false;
  Mess(std::string(kTemplateSavedText), false, true, true);
  if (position > 0) list.SetRecNo(std::min(position, list.RecordCount()));
  return true;
}

bool TProfileStore::DeleteSelectedProfile() {
  TWorkTable& list = bd_.mtProfile;
  if (list.RecNo() <= 1) return false;
  if (list.Text("Name") == kStoredProfileName) bd_.profileOptionCopy = bd_.registerOptionCopy;
  return DeleteProfile();
}

// ---- backups ------------------------------------------------------------------

void TProfileStore::DropProfileRows(const std::string& ln) {
  mtProfileBeforeScroll(bd_.mtProfile);
  for (TWorkTable* t : bd_.ProfileTables()) {
    t->DisableControls();
    t->SetFilter("LN='" + ln + "'");
    t->SetFiltered(false);
    t->SetFiltered(true);
    ClearRows(*t);
  }
  ApplyProfileFilter();
  for (TWorkTable* t : bd_.ProfileTables()) t->EnableControls();
}

bool TProfileStore::SaveSnapshot(const std::string& name, const std::string& serialNumber,
                                 const std::string& version, const TRegisterSnapshot& snapshot,
                                 std::string& key) {
  if (!OpenFiles()) return false;
  TDbfTable& p = File(ProfileFile::Profile);
  p.SetFiltered(false);
  key = std::to_string(NewProfileKey());
  if (!Check(p.Append(), p) || !Check(p.SetText("LN", key), p) || !Check(p.SetText("NAME", name), p) ||
      !Check(p.SetText("SN", serialNumber), p) || !Check(p.SetText("TYPEKKM", version), p) ||
      !Check(p.Post(), p))
    return false;
  if (!SetProfileFilters(name, key)) return false;
  const auto row = [&](ProfileFile which, const std::function<bool(TDbfTable&)>& fill) {
    TDbfTable& f = File(which);
    const bool ok = Check(f.Append(), f) && fill(f) && Check(f.SetText("OLN", key), f) && Check(f.Post(), f);
    if (!ok) f.Cancel();
    return ok;
  };
  const auto number = [this](TDbfTable& f, std::string_view field, std::int64_t value) {
    return Check(f.SetInt(field, value), f);
  };
  const auto text = [this](TDbfTable& f, std::string_view field, const std::string& value) {
    return Check(f.SetText(field, value), f);
  };
  bool ok = true;
  if (snapshot.options) {
    std::int64_t n = 0;
    for (const std::uint8_t value : *snapshot.options) {
      ++n;
      ok = ok && row(ProfileFile::Options,
                     [&](TDbfTable& f) { return number(f, "NUM", n) && number(f, "VAL", value); });
    }
  }
  if (snapshot.departments) {
    std::int64_t n = 0;
    for (const TDepRec& d : *snapshot.departments) {
      ++n;
      Currency price;
      if (!CurrencyFromDouble(d.price, price)) price = Currency{};
      ok = ok && row(ProfileFile::Dept, [&](TDbfTable& f) {
             return number(f, "Sec", n) && number(f, "Status", StatusCode(d.status)) &&
                    text(f, "Name", d.name) && number(f, "ng", TaxGroupCode(d.taxGroup)) &&
                    text(f, "Price", CurrencyToText(price, DecimalSeparator()));
           });
    }
  }
  if (snapshot.receipt) {
    const TReceiptSnapshot& r = *snapshot.receipt;
    for (int part = 0; part < 2; ++part) {
      const auto& lines = part == 0 ? r.header : r.footer;
      for (int n = 1; n <= kReceiptLineCount; ++n) {
        ok = ok && row(ProfileFile::Check, [&](TDbfTable& f) {
               return number(f, "LINE", part == 0 ? n : n + kFooterLineOffset) &&
                      text(f, "NAME", lines[static_cast<std::size_t>(n - 1)]);
             });
      }
    }
    ok = ok && row(ProfileFile::CheckFont, [&](TDbfTable& f) {
           return number(f, "TITLEFONT", r.headerFont) && number(f, "FOOTERFONT", r.footerFont);
         });
  }
  if (snapshot.operators) {
    for (const TOperatorSnapshot& o : *snapshot.operators) {
      ok = ok && row(ProfileFile::Operators,
                     [&](TDbfTable& f) { return text(f, "NAME", o.name) && text(f, "DOLGN", o.position); });
    }
  }
  // Details before the profile row that refers to them.
  const bool flushed = FlushAll(false);
  return ok && flushed;
}

int TProfileStore::PruneBackups(const std::string& serialNumber, int keep, std::string_view shownKey) {
  if (!OpenFiles()) return -1;
  TDbfTable& p = File(ProfileFile::Profile);
  struct Backup {
    std::string name;
    std::string ln;
    std::int64_t key = 0;
  };
  std::vector<Backup> backups;
  if (!FilterProfiles({{"sn", serialNumber}})) return -1;
  for (bool more = p.First(); more; more = p.Next()) {
    Backup b;
    p.GetText("NAME", b.name);
    p.GetText("LN", b.ln);
    if (IsBackupName(b.name) && ParseKey(b.ln, b.key)) backups.push_back(std::move(b));
  }
  p.SetFiltered(false);
  std::stable_sort(backups.begin(), backups.end(),
                   [](const Backup& a, const Backup& b) { return a.key > b.key; });
  int deleted = 0;
  for (std::size_t i = static_cast<std::size_t>(std::max(keep, 1)); i < backups.size(); ++i) {
    const Backup& b = backups[i];
    if (b.ln == shownKey) continue;
    if (!SetProfileFilters(b.name, b.ln) || !DeleteDetailRows()) return -1;
    if (p.First() && !Check(p.Delete(), p)) return -1;
    DropProfileRows(b.ln);
    ++deleted;
  }
  if (deleted > 0 && !FlushAll(true)) return -1;
  return deleted;
}

bool TProfileStore::SelectEntry(std::string_view ln) {
  TWorkTable& list = bd_.mtProfile;
  const int field = list.FieldIndex("LN");
  for (int r = 0; r < list.ViewRowCount(); ++r)
    if (list.ViewText(r, field) == ln) return list.RecNo() == r + 1 || list.SetRecNo(r + 1);
  return false;
}

std::string TProfileStore::StoredProfileKey() const {
  const TWorkTable& list = bd_.mtProfile;
  const int name = list.FieldIndex("Name");
  const int ln = list.FieldIndex("LN");
  for (int r = 1; r < list.ViewRowCount(); ++r) {
    const std::string key = list.ViewText(r, ln);
    if (list.ViewText(r, name) == kStoredProfileName && !IsTemplateKey(key)) return key;
  }
  return {};
}

}  // namespace zarvik
