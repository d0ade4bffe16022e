// The goods CSV import on arbitrary file bytes, then the export of what was
// read, a second import of that text and the conversion of every row to a
// register record and back: nothing may crash or read outside its input.
#include <cstddef>
#include <cstdint>
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
  ImportGoodsCsvText(Cp1251ToUtf8(bytes), t);
  const std::string text = GoodsCsvText(t);
  ImportGoodsCsvText(text, t);
  TKKMInfo info;
  for (t.First(); !t.Eof(); t.Next()) {
    IsGoodsRowWritable(t, 4);
    if (GoodsRowToRecord(t, info) && t.Edit() == WtResult::Ok) {
      GoodsRecordToRow(info, t);
      t.Post();
    }
  }
  return 0;
}
