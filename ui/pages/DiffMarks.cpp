#include "DiffMarks.h"

#include "ConfigTabSupport.h"
#include "model/RegisterText.h"
#include "store/ProfileStore.h"
#include "store/UnitBD.h"

namespace zarvik::ui {

std::string ComparisonKey(TPageHost& host) {
  const std::string shown = host.Bd().mtProfile.Text("LN");
  if (shown != kRegisterProfileKey) return std::string(kRegisterProfileKey);
  if (!host.Flags().storedProfilesFound) return {};
  return host.Profiles().StoredProfileKey();
}

bool RowDiffers(TPageHost& host, const TWorkTable& table, TDiffTable kind, int row) {
  return ViewRowDiffers(table, kind, row, ComparisonKey(host));
}

void MarkDifference(TCellStyle& style) {
  style.foreground = kDifferColor;
  style.bold = true;
}

QString UnprintableTip(const std::string& utf8) {
  const std::u32string chars = UnprintableChars(utf8);
  if (chars.empty()) return {};
  return QString::fromUtf8(kUnprintableTip) + Utf8(UnprintableList(chars)) +
         QString::fromUtf8(kUnprintableTipEnd);
}

void MarkUnprintable(TCellStyle& style, const std::string& utf8) {
  const QString tip = UnprintableTip(utf8);
  if (tip.isEmpty()) return;
  style.background = kUnprintableColor;
  style.toolTip = tip;
}

}  // namespace zarvik::ui
