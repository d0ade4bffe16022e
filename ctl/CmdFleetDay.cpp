// fleet FLEETFILE journal summary [--out FILE]: the shop's day, one row per
// register and day, from the journals the workers read.
#include "CtlOutput.h"
#include "CtlSession.h"
#include "journal/JournalExport.h"
#include "journal/ShopDay.h"
#include "shell/DiaLog.h"
#include "store/WorkTable.h"

namespace zarvik::ctl {

int TCtlSession::FleetDaySummary(const std::vector<TShopJournal>& journals) {
  const TDataTable table = ShopDayDataTable(BuildShopDay(journals));
  if (args_.out.empty()) {
    CtlTable out;
    out.header = table.header;
    for (const auto& row : table.rows) {
      std::vector<std::string> cells;
      for (const TDataCell& cell : row) cells.push_back(cell.Text());
      out.rows.push_back(std::move(cells));
    }
    PrintTable(out_, out, args_.csv);
    return ceOk;
  }
  std::string error;
  const bool ok = HasExtension(args_.out, ".xlsx")
                      ? WriteDataWorkbook({&table}, args_.out, error)
                      : WriteDataTableCsv(table, args_.out, args_.utf8 ? TCsvEncoding::Utf8Bom : TCsvEncoding::Cp1251,
                                          DecimalSeparator());
  if (!ok) return Fail("Не удалось записать файл " + args_.out + (error.empty() ? "" : ": " + error));
  Done("Сводка дня записана в " + args_.out + " (строк: " + std::to_string(table.rows.size()) + ")");
  return ceOk;
}

}  // namespace zarvik::ctl
