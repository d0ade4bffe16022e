// The goods CSV reader on arbitrary file bytes, as a file is read: the
// encoding told apart (byte order mark, UTF-8 or code page 1251), a header
// line skipped, every cut or dropped value reported; then the check before a
// transfer and the report's texts. Nothing may crash or read outside its
// input, the text handed on is always well-formed UTF-8, every row has its
// line number and what the program writes it reads back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/U_kkms.h"
#include "shell/DiaLog.h"
#include "shell/TextCodec.h"
#include "store/GoodsExchange.h"
#include "store/UnitBD.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zarvik;
  static TBD* bd = [] {
    NameLogFile = "/dev/null";  // the import reports bad values
    return new TBD();
  }();
  TWorkTable& t = bd->mtTOBAP;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  GoodsTextEncoding encoding = GoodsTextEncoding::Cp1251;
  const std::string text = GoodsCsvTextOf(bytes, encoding);
  if (!IsUtf8Text(text)) std::abort();
  GoodsImportReport report;
  ImportGoodsCsvText(text, t, report);
  if (report.rowPlaces.size() != static_cast<std::size_t>(CountRows(t))) std::abort();
  TKKMInfo info;
  info.maxCountGoods = 100;
  // Rows of the file left out at the import (a code an earlier row has) are
  // skipped rows of the report too, but never rows of the table.
  const int skippedAtImport = report.rowsSkipped;
  const int toWrite = CheckGoodsForRegister(t, info, report);
  if (toWrite + (report.rowsSkipped - skippedAtImport) != CountRows(t)) std::abort();
  for (const GoodsReportLine& line : GoodsReportLines(report))
    if (!IsUtf8Text(line.text)) std::abort();
  // What the program writes it reads back to the same rows, once the import
  // has trimmed the blanks a cut name may end with.
  ImportGoodsCsvText(GoodsCsvText(t), t, report);
  const std::string once = GoodsCsvText(t);
  ImportGoodsCsvText(once, t, report);
  if (GoodsCsvText(t) != once) std::abort();
  return 0;
}
