// The goods dBASE import on arbitrary file bytes (a file from another
// program): at most the row limit is read, every row converts to a register
// record and back without a fault, and what was read survives an export and
// a second import unchanged.
//
// With ZARVIK_FUZZ_SEEDS=<folder> set, the target writes seed inputs there
// (goods exchange tables as the export writes them) and ends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "model/U_kkms.h"
#include "shell/DiaLog.h"
#include "store/GoodsExchange.h"
#include "store/UnitBD.h"

namespace {

constexpr int kLimit = 300;

void WriteSeeds(const std::string& folder) {
  using namespace zarvik;
  TBD bd;
  const char* const tables[] = {
      "1;170;Молоко «Домик в деревне»;1;25,50;1;1;4601234567890;False;0\r\n"
      "2;165;Услуга;2;100;2;2;;True;0\r\n"
      "3;160;Тара, ящик;5;0,01;0;1;123;False;0\r\n",
      "999999;255;;;999999,99;99;2;00000000000000000001;False;0\r\n",
      "7;170;Без цены;;;;;;;\r\n",
  };
  int n = 0;
  for (const char* csv : tables) {
    if (!ImportGoodsCsvText(csv, bd.mtTOBAP) ||
        !ExportGoodsDbf(bd.mtTOBAP, folder + "/goods" + std::to_string(++n) + ".dbf")) {
      std::exit(1);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zarvik::NameLogFile = "/dev/null";
  zarvik::isAUTONOM = true;
  if (const char* folder = std::getenv("ZARVIK_FUZZ_SEEDS"); folder != nullptr && *folder != '\0') {
    WriteSeeds(folder);
    std::exit(0);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zarvik;
  static TBD* bd = new TBD();
  static const std::string in = fuzz::ScratchFile("in.dbf");
  static const std::string out = fuzz::ScratchFile("out.dbf");
  fuzz::WriteBytes(in, fuzz::AsText(data, size));
  TWorkTable& t = bd->mtTOBAP;
  ClearRows(t);
  if (!ImportGoodsDbf(in, t, kLimit)) return 0;
  FUZZ_CHECK(CountRows(t) <= kLimit);
  const std::string first = GoodsCsvText(t);

  TKKMInfo info;
  for (t.First(); !t.Eof(); t.Next()) {
    IsGoodsRowWritable(t, kMaxDepartments);
    if (GoodsRowToRecord(t, info)) {
      std::int64_t code = -1;
      FUZZ_CHECK(GoodsRecordCode(info, code) && code >= 0 && code <= kHighestGoodsNumber);
    }
  }
  FUZZ_CHECK_EQ(GoodsCsvText(t), first);

  // Export and import again: the same rows, unless a text held the one byte
  // code page 1251 has no character for (it reads as U+FFFD and is written
  // as "?") or a NUL, which the reader takes for padding at the end of a
  // field.
  FUZZ_CHECK(ExportGoodsDbf(t, out));
  ClearRows(t);
  FUZZ_CHECK(ImportGoodsDbf(out, t, kLimit));
  if (first.find("\uFFFD") == std::string::npos && first.find('\0') == std::string::npos) {
    FUZZ_CHECK_EQ(GoodsCsvText(t), first);
  }
  return 0;
}
