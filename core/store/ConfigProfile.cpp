#include "store/ConfigProfile.h"

#include <algorithm>

#include "store/ProfileDiff.h"
#include "store/RegisterBackup.h"
#include "store/UnitBD.h"

namespace zarvik {
namespace {

// Visits the rows the table shows, in order, with the 0-based row number;
// `visit` returns false to stop.
template <typename Visit>
void EachRow(TWorkTable& t, Visit visit) {
  int n = 0;
  for (t.First(); !t.Eof(); t.Next())
    if (!visit(n++)) break;
}

// Edits row `index` (0-based) of what the table shows, appending rows up to
// it; `set` fills it.
template <typename Set>
bool EditRow(TWorkTable& t, int index, Set set, std::string& error) {
  if (index < t.RecordCount()) {
    t.SetRecNo(index + 1);
    if (t.Edit() != WtResult::Ok) {
      error = t.LastError();
      return false;
    }
  } else {
    while (t.RecordCount() < index) {
      t.Append();
      t.Post();
    }
    if (t.Append() != WtResult::Ok) {
      error = t.LastError();
      return false;
    }
  }
  set(t);
  if (t.Post() != WtResult::Ok) {
    error = t.Name() + ": " + t.LastError();
    t.Cancel();
    return false;
  }
  return true;
}

}  // namespace

void ProfileConfig(TBD& bd, const TKKMInfo& base, TKKMInfo& out, TConfigTables& which) {
  out = base;
  which = TConfigTables{};
  // The register's options: their intervals and descriptions are its
  // model's, whatever rows the profile has beyond them.
  const int most = base.OptionCount() > 0 ? base.OptionCount() : kOptionSlotCount;
  int options = 0;
  EachRow(bd.mtOptions, [&](int n) {
    if (n >= most) return false;
    const auto i = static_cast<std::size_t>(n);
    out.optionValues[i] =
        static_cast<std::uint8_t>(std::clamp<std::int64_t>(bd.mtOptions.Int("Value"), 0, 255));
    options = n + 1;
    return true;
  });
  out.optionCount = static_cast<std::uint8_t>(options);
  if (options > 0) which.tables |= stOptions;
  const int departments = std::min(bd.mtDepatment.RecordCount(), static_cast<int>(base.DepartmentCount()));
  for (int n = 0; n < departments; ++n)
    out.departments[static_cast<std::size_t>(n)] = DepartmentOfViewRow(bd.mtDepatment, n);
  if (departments > 0) which.tables |= stDepartments;
  for (int part = 0; part < 2; ++part) {
    TWorkTable& t = part == 0 ? bd.mtTitle : bd.mtFooter;
    auto& lines = part == 0 ? out.headerLines : out.footerLines;
    lines = {};
    EachRow(t, [&](int n) {
      if (n >= kReceiptLineCount) return false;
      lines[static_cast<std::size_t>(n)] = t.Text("Caption");
      return true;
    });
  }
  bd.mtCheckFont.First();
  out.headerFont = static_cast<std::uint8_t>(
      bd.mtCheckFont.Eof() ? 0 : FontNumberOfCaption(bd.mtCheckFont.Text("TitleFont")));
  out.footerFont = static_cast<std::uint8_t>(
      bd.mtCheckFont.Eof() ? 0 : FontNumberOfCaption(bd.mtCheckFont.Text("footerFont")));
  which.tables |= stReceipt;
  out.operatorNames = {};
  out.positions = {};
  EachRow(bd.tmOperators, [&](int n) {
    if (n >= kOperatorCount) return false;
    out.operatorNames[static_cast<std::size_t>(n)] = bd.tmOperators.Text("operator");
    out.positions[static_cast<std::size_t>(n)] = bd.tmOperators.Text("dolgn");
    which.operatorCount = n + 1;
    return true;
  });
  if (which.operatorCount > 0) which.tables |= stOperators;
  // A profile keeps what its columns hold, no more.
  which.operatorNameWidth = kProfileOperatorNameWidth;
  which.positionWidth = kProfilePositionWidth;
}

bool StoreProfileConfig(TBD& bd, const TKKMInfo& info, const TConfigTables& which, std::string& error) {
  bool ok = true;
  if ((which.tables & stOptions) != 0) {
    for (int n = 0; ok && n < info.OptionCount(); ++n)
      ok = EditRow(
          bd.mtOptions, n,
          [&](TWorkTable& t) {
            if (t.IsNull("num")) t.SetInteger("num", n + 1);
            t.SetInteger("Value", info.optionValues[static_cast<std::size_t>(n)]);
          },
          error);
  }
  if (ok && (which.tables & stDepartments) != 0) {
    for (int n = 0; ok && n < info.DepartmentCount(); ++n) {
      const TDepRec& d = info.departments[static_cast<std::size_t>(n)];
      ok = EditRow(
          bd.mtDepatment, n,
          [&](TWorkTable& t) {
            t.SetInteger("Num", n + 1);
            t.SetText("Status", d.status);
            const bool open = IsOpenDepartment(d);
            t.SetText("Name", open ? d.name : std::string());
            t.SetText("NG", open && d.taxGroup.size() == 1 ? d.taxGroup : std::string());
            t.SetCurrency("Price", Currency::FromRaw(open ? DepartmentPriceHundredths(d.price) * 100 : 0));
          },
          error);
    }
  }
  if (ok && (which.tables & stReceipt) != 0) {
    for (int part = 0; ok && part < 2; ++part) {
      const auto& lines = part == 0 ? info.headerLines : info.footerLines;
      for (int n = 0; ok && n < kReceiptLineCount; ++n)
        ok = EditRow(
            part == 0 ? bd.mtTitle : bd.mtFooter, n,
            [&](TWorkTable& t) {
              t.SetInteger("Num", n + 1);
              t.SetText("Caption", lines[static_cast<std::size_t>(n)]);
            },
            error);
    }
    ok = ok && EditRow(
                   bd.mtCheckFont, 0,
                   [&](TWorkTable& t) {
                     t.SetText("TitleFont", info.FontName(info.headerFont));
                     t.SetText("footerFont", info.FontName(info.footerFont));
                   },
                   error);
  }
  if (ok && (which.tables & stOperators) != 0) {
    for (int n = 0; ok && n < std::min(which.operatorCount, kOperatorCount); ++n)
      ok = EditRow(
          bd.tmOperators, n,
          [&](TWorkTable& t) {
            t.SetInteger("Num", n + 1);
            t.SetText("operator", info.operatorNames[static_cast<std::size_t>(n)]);
            t.SetText("dolgn", info.positions[static_cast<std::size_t>(n)]);
          },
          error);
  }
  return ok;
}

bool ImportProfileConfig(TBD& bd, const TKKMInfo& base, std::string_view text,
                         std::vector<TConfigChange>& changes, std::vector<TConfigError>& errors) {
  changes.clear();
  TConfigFile file;
  if (!ParseConfigText(text, file, errors)) return false;
  TKKMInfo profile;
  TConfigTables which;
  ProfileConfig(bd, base, profile, which);
  if (!DiffConfig(file, profile, which, changes, errors)) return false;
  if (changes.empty()) return true;
  ApplyConfigChanges(changes, profile);
  std::string error;
  if (!StoreProfileConfig(bd, profile, which, error)) {
    errors.push_back({0, error});
    return false;
  }
  return true;
}

}  // namespace zarvik
