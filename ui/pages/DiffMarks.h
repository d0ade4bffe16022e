// How the configuration grids mark what a write would change or lose: the
// number of a row that differs from the comparison profile in blue and bold
// (as the options page marks its options), and a text cell holding
// characters the register cannot print in the error colour, with a tooltip
// naming them.
#pragma once

#include <QColor>
#include <string>

#include "PageHost.h"
#include "WorkTableModel.h"
#include "store/ProfileDiff.h"

namespace zarvik::ui {

inline const QColor kDifferColor(0x00, 0x00, 0xFF);       // blue
inline const QColor kUnprintableColor(0xFF, 0xD9, 0xD9);  // the goods grid's error colour
inline constexpr const char* kUnprintableTip = "ККМ не печатает знаки ";
inline constexpr const char* kUnprintableTipEnd = "; они не будут записаны";

// The profile the rows on display are compared with: the register's values
// ("0") for a stored profile, a backup or a template; for the register's own
// values its stored profile ("Сохраненная") when the list has one, else
// none ("").
std::string ComparisonKey(TPageHost& host);

// Whether row `row` of what `table` shows differs from the comparison profile.
bool RowDiffers(TPageHost& host, const TWorkTable& table, TDiffTable kind, int row);

// Blue and bold.
void MarkDifference(TCellStyle& style);
// The error colour and the tooltip naming the characters of `utf8` the
// register cannot print; nothing when it prints them all.
void MarkUnprintable(TCellStyle& style, const std::string& utf8);
// The tooltip text, "" when every character prints.
QString UnprintableTip(const std::string& utf8);

}  // namespace zarvik::ui
