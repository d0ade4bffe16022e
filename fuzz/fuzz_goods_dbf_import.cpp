// The dBASE goods import on arbitrary files, as other programs write them:
// the first byte of the input chooses the .cpg file beside the table (none,
// "UTF-8", "CP1251" or the next 8 bytes), the rest is the table. A file is
// either refused, the goods table left as it was, or read with every row's
// record number; nothing may crash or read outside the image.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "model/U_kkms.h"
#include "shell/DiaLog.h"
#include "store/GoodsExchange.h"
#include "store/UnitBD.h"

namespace {

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// One folder per process, in memory when the system has one; removed when
// the process ends.
struct Folder {
  Folder() {
    const std::filesystem::path base =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    path = (base / ("zarvik-fuzz-goods-dbf-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(path);
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zarvik;
  static TBD* bd = [] {
    NameLogFile = "/dev/null";  // the import reports refused files
    return new TBD();
  }();
  static const Folder folder;
  const std::string& dir = folder.path;
  if (size == 0) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string dbf = dir + "/goods.dbf";
  const std::string cpg = dir + "/goods.cpg";
  std::filesystem::remove(cpg);
  switch (data[0] % 4) {
    case 1: WriteFile(cpg, "UTF-8"); break;
    case 2: WriteFile(cpg, "CP1251"); break;
    case 3:
      WriteFile(cpg, bytes.substr(0, 8));
      bytes.remove_prefix(std::min<std::size_t>(8, bytes.size()));
      break;
    default: break;
  }
  WriteFile(dbf, bytes);

  TWorkTable& t = bd->mtTOBAP;
  ClearRows(t);
  t.Append();
  t.SetText("Name", "marker");
  t.Post();
  GoodsImportReport report;
  const bool ok = ImportGoodsDbf(dbf, t, 50, report);
  const int rows = CountRows(t);
  if (!ok && (rows != 1 || t.Text("Name") != "marker")) std::abort();  // refused: the table as it was
  if (ok && report.rowPlaces.size() != static_cast<std::size_t>(rows)) std::abort();
  if (ok && rows > 50) std::abort();
  TKKMInfo info;
  CheckGoodsForRegister(t, info, report);
  GoodsReportLines(report);
  (void)GoodsCsvText(t);
  return 0;
}
