// Goods from a spreadsheet: a workbook of N goods rows in ten columns (the
// header the program writes, barcodes as text, prices with kopecks) read into
// the goods table `mtTOBAP` as `zarvikctl goods write FILE.xlsx` reads it
// (libzip and expat), beside two other readers of the same file: GDAL's
// XLSX driver (`ogr2ogr -f CSV`) and openpyxl in read-only mode, each run
// as its program. Prints wall and processor time of each.
//
//   bench_goods_sheet [--rows 100000] [--dir DIR] [--repeat N] [--no-others]
//
// --repeat takes the best of N runs of the program's own reader.
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "shell/DiaLog.h"
#include "store/GoodsSheet.h"
#include "store/SheetReader.h"
#include "store/UnitBD.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kWords[] = {"Молоко", "Хлеб", "Сыр",     "Масло",   "Колбаса", "Чай",  "Кофе",  "Сок",   "Вода",
                              "Конфеты", "Печенье", "Рис", "Гречка", "Макароны", "Сахар", "Соль", "Ёлка", "Пакет"};

double Ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

double CpuMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Processor time of the finished children.
double ChildCpuMs() {
  rusage u{};
  ::getrusage(RUSAGE_CHILDREN, &u);
  return (static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec)) * 1000.0 +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

// Runs a shell command; prints its wall and processor time, or why it failed.
void TimeCommand(const char* label, const std::string& command) {
  const double cpu0 = ChildCpuMs();
  const auto t0 = Clock::now();
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  const auto t1 = Clock::now();
  const double cpu = ChildCpuMs() - cpu0;
  if (status != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    std::printf("%-34s failed (%s)\n", label, command.c_str());
  else
    std::printf("%-34s %9.0f ms wall %9.0f ms cpu\n", label, Ms(t0, t1), cpu);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zarvik;
  int rows = 100000;
  int repeat = 1;
  bool others = true;
  std::string dir = (std::filesystem::temp_directory_path() / "bench_goods_sheet").string();
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rows" && i + 1 < argc)
      rows = std::atoi(argv[++i]);
    else if (a == "--dir" && i + 1 < argc)
      dir = argv[++i];
    else if (a == "--repeat" && i + 1 < argc)
      repeat = std::max(1, std::atoi(argv[++i]));
    else if (a == "--no-others")
      others = false;
    else {
      std::fprintf(stderr, "usage: bench_goods_sheet [--rows N] [--dir DIR] [--repeat N] [--no-others]\n");
      return 2;
    }
  }
  std::filesystem::create_directories(dir);
  const std::string book = dir + "/goods.xlsx";
  SetConsole(nullptr);

  // The workbook, written by the program's own export.
  {
    TBD bd;
    TWorkTable& t = bd.mtTOBAP;
    t.DisableControls();
    for (int code = 1; code <= rows; ++code) {
      const auto pick = [&](int salt, int n) {
        return static_cast<int>((static_cast<unsigned>(code) * 2654435761u + static_cast<unsigned>(salt)) %
                                static_cast<unsigned>(n));
      };
      t.Append();
      t.SetInteger("Code", code);
      t.SetInteger("Type", 170);
      t.SetText("Name", std::string(kWords[pick(1, 18)]) + " " + kWords[pick(2, 18)] + " №" + std::to_string(code));
      t.SetInteger("NG", pick(8, 6));
      t.SetCurrency("Price", Currency::FromRaw(static_cast<std::int64_t>(pick(3, 10000000)) * 100));
      t.SetInteger("Section", pick(9, 5));
      t.SetInteger("Vesovoy", 1 + pick(10, 2));
      if (pick(6, 4) != 0) t.SetText("Shtrih", "46" + std::to_string(10000000000LL + code));
      t.SetBoolean("isBlock", pick(11, 10) == 0);
      t.SetCurrency("Count", Currency::FromRaw(static_cast<std::int64_t>(pick(12, 100000)) * 10));
      t.Post();
    }
    t.EnableControls();
    const auto t0 = Clock::now();
    if (!ExportGoodsXlsx(t, book)) {
      std::fprintf(stderr, "could not write %s\n", book.c_str());
      return 1;
    }
    std::printf("rows %d, workbook %s: %.1f MB, written in %.0f ms\n", rows, book.c_str(),
                static_cast<double>(std::filesystem::file_size(book)) / 1e6, Ms(t0, Clock::now()));
  }

  // The program's reader: the sheet, then the goods table.
  double bestRead = 1e300, bestImport = 1e300, bestCpu = 1e300, bestReadCpu = 1e300;
  int imported = 0;
  for (int r = 0; r < repeat; ++r) {
    TBD bd;
    const double cpu0 = CpuMs();
    const auto t0 = Clock::now();
    TSheet sheet;
    std::string error;
    if (!ReadSheet(book, {}, sheet, error)) {
      std::fprintf(stderr, "read failed: %s\n", error.c_str());
      return 1;
    }
    const auto t1 = Clock::now();
    const double cpu1 = CpuMs();
    const GoodsSheetLayout layout = FindGoodsSheetLayout(sheet, {});
    GoodsImportReport report;
    ImportGoodsSheet(sheet, layout, bd.mtTOBAP, report);
    const auto t2 = Clock::now();
    bestRead = std::min(bestRead, Ms(t0, t1));
    bestImport = std::min(bestImport, Ms(t1, t2));
    bestCpu = std::min(bestCpu, CpuMs() - cpu0);
    bestReadCpu = std::min(bestReadCpu, cpu1 - cpu0);
    imported = report.rowsRead;
  }
  std::printf("%-34s %9.0f ms wall %9.0f ms cpu  (sheet %.0f ms, %.0f ms cpu; goods table %.0f ms; %d rows)\n",
              "libzip+expat into mtTOBAP", bestRead + bestImport, bestCpu, bestRead, bestReadCpu, bestImport,
              imported);
  if (imported != rows) {
    std::fprintf(stderr, "imported %d rows of %d\n", imported, rows);
    return 1;
  }
  if (!others) return 0;
  TimeCommand("GDAL ogr2ogr -f CSV", "rm -f '" + dir + "/ogr.csv' && ogr2ogr -f CSV '" + dir + "/ogr.csv' '" + book +
                                         "'");
  TimeCommand("openpyxl read-only, all rows",
              "/usr/bin/python3 -c \"import sys, openpyxl\n"
              "b = openpyxl.load_workbook(sys.argv[1], read_only=True)\n"
              "n = sum(1 for _ in b.active.iter_rows(values_only=True))\n"
              "assert n == " +
                  std::to_string(rows + 1) + "\" '" + book + "'");
  return 0;
}
