// A profile's settings and the configuration text file (ConfigText.h): the
// rows a profile shows in the working tables read into a register model, and
// a register model's values put back into those rows. The profile panel's
// "Экспорт в файл" and "Импорт из файла" go through here.
#pragma once

#include <string>
#include <vector>

#include "model/U_kkms.h"
#include "store/ConfigText.h"

namespace zarvik {

class TBD;

// The settings of the profile on display (the rows the working tables show)
// over `base`, the connected register's model (its limits, option
// descriptions and counts): option values from mtOptions (as many as the
// register has, with its intervals and descriptions),
// departments 1..base's count, the receipt lines and fonts, the operators
// (the rows shown, at most eight). Taxes are not part of a profile's text.
void ProfileConfig(TBD& bd, const TKKMInfo& base, TKKMInfo& out, TConfigTables& which);

// Puts the values of `info` of the tables `which` names into the rows of the
// profile on display; rows missing beyond the first ones are appended. False
// with the working table's error after a failed row.
bool StoreProfileConfig(TBD& bd, const TKKMInfo& info, const TConfigTables& which, std::string& error);

// The text of a configuration file read into the profile on display: checked
// against the profile's values and `base`'s limits like a write to the
// register (`errors` with their lines; nothing changed then), the values that
// differ put into the rows. `changes` says what differed.
bool ImportProfileConfig(TBD& bd, const TKKMInfo& base, std::string_view text,
                         std::vector<TConfigChange>& changes, std::vector<TConfigError>& errors);

}  // namespace zarvik
