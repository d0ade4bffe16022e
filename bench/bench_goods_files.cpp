// Goods file conversion as `zarvikctl goods convert` does it: a goods CSV
// file of N rows converted to a dBASE goods table and the table back to CSV,
// through the goods table `mtTOBAP`. Prints the time of each direction, the
// total, the time per row, and whether the CSV came back byte for byte.
//
//   bench_goods_files [--rows 10000,100000,1000000] [--utf8] [--dir DIR] [--repeat N]
//
// --utf8 writes the source CSV in UTF-8 with a header line (what the command
// line prints) instead of code page 1251; --repeat takes the best of N runs.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "shell/DiaLog.h"
#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"
#include "store/GoodsExchange.h"
#include "store/UnitBD.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kWords[] = {"Молоко", "Хлеб",     "Сыр",   "Масло",   "Колбаса", "Чай",
                              "Кофе",   "Сок",      "Вода",  "Конфеты", "Печенье", "Рис",
                              "Гречка", "Макароны", "Сахар", "Соль",    "Ёлка",    "Пакет"};

// A deterministic goods row: every type, both sale kinds, prices with and
// without kopecks, barcodes and none, blocked rows, names up to 32 letters.
std::string Row(int code) {
  const auto pick = [&](int salt, int n) {
    return static_cast<int>((static_cast<unsigned>(code) * 2654435761u + static_cast<unsigned>(salt)) %
                            static_cast<unsigned>(n));
  };
  static const int kTypes[] = {170, 170, 170, 165, 160};
  std::string name =
      std::string(kWords[pick(1, 18)]) + " " + kWords[pick(2, 18)] + " №" + std::to_string(code);
  std::string price = std::to_string(pick(3, 100000));
  // A decimal comma is quoted, as the program writes it.
  if (pick(4, 3) != 0)
    price = "\"" + price + "," + std::to_string(pick(5, 10)) + std::to_string(1 + pick(12, 9)) + "\"";
  std::string barcode = pick(6, 4) == 0 ? std::string() : "46" + std::to_string(10000000000LL + code);
  return std::to_string(code) + ";" + std::to_string(kTypes[pick(7, 5)]) + ";" + name + ";" +
         std::to_string(pick(8, 6)) + ";" + price + ";" + std::to_string(pick(9, 5)) + ";" +
         std::to_string(1 + pick(10, 2)) + ";" + barcode + ";" + (pick(11, 10) == 0 ? "True" : "False") +
         ";0\r\n";
}

std::vector<int> ParseRows(const std::string& list) {
  std::vector<int> rows;
  std::stringstream ss(list);
  std::string item;
  while (std::getline(ss, item, ',')) rows.push_back(std::atoi(item.c_str()));
  return rows;
}

double Ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// Processor time of the process: on a loaded machine the wall clock counts
// the time other programs held the processor too.
double CpuMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zarvik;
  std::vector<int> rowCounts = {10000, 100000, 1000000};
  bool utf8 = false;
  int repeat = 1;
  std::string dir = (std::filesystem::temp_directory_path() / "zarvik-bench-goods").string();
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rows" && i + 1 < argc)
      rowCounts = ParseRows(argv[++i]);
    else if (a == "--utf8")
      utf8 = true;
    else if (a == "--dir" && i + 1 < argc)
      dir = argv[++i];
    else if (a == "--repeat" && i + 1 < argc)
      repeat = std::max(1, std::atoi(argv[++i]));
    else {
      std::fprintf(stderr, "usage: bench_goods_files [--rows N,N...] [--utf8] [--dir DIR] [--repeat N]\n");
      return 2;
    }
  }
  NameLogFile = "/dev/null";  // the converter reports its steps
  std::filesystem::create_directories(dir);
  // The locale's decimal separator of a Russian desktop: the source CSV holds
  // decimal commas and comes back the same.
  SetDecimalSeparator(',');

  bool allSame = true;
  std::printf("%-9s %-6s %14s %14s %14s %8s  %s\n", "rows", "text", "csv->dbf ms", "dbf->csv ms", "total ms",
              "us/row", "round trip");
  std::printf("%-9s %-6s %14s %14s %14s %8s\n", "", "", "wall (cpu)", "wall (cpu)", "wall (cpu)", "wall");
  for (const int rows : rowCounts) {
    std::string csv;
    csv.reserve(static_cast<std::size_t>(rows) * 80);
    for (int code = 1; code <= rows; ++code) csv += Row(code);
    const std::string expected = Utf8ToCp1251(csv);
    const std::string source =
        utf8 ? "Code;Type;Name;NG;Price;Section;Vesovoy;Shtrih;isBlock;Count\n" + csv : expected;
    const std::string in = dir + "/in.csv";
    const std::string table = dir + "/goods.dbf";
    const std::string back = dir + "/back.csv";
    WriteTextFile(in, source);

    // Best of the runs for each direction, wall and processor time.
    double wall[2] = {1e300, 1e300};
    double cpu[2] = {1e300, 1e300};
    bool same = true;
    for (int r = 0; r < repeat; ++r) {
      TBD bd;
      GoodsImportReport report;
      const Clock::time_point t0 = Clock::now();
      const double c0 = CpuMs();
      const bool there = ConvertGoodsFile(in, table, bd.mtTOBAP, report);
      const Clock::time_point t1 = Clock::now();
      const double c1 = CpuMs();
      const bool again = ConvertGoodsFile(table, back, bd.mtTOBAP, report);
      const Clock::time_point t2 = Clock::now();
      const double c2 = CpuMs();
      if (!there || !again) {
        std::fprintf(stderr, "conversion failed (%d rows)\n", rows);
        return 1;
      }
      wall[0] = std::min(wall[0], Ms(t0, t1));
      wall[1] = std::min(wall[1], Ms(t1, t2));
      cpu[0] = std::min(cpu[0], c1 - c0);
      cpu[1] = std::min(cpu[1], c2 - c1);
      std::string bytes;
      ReadTextFile(back, bytes);
      same = same && bytes == expected;
    }
    allSame = allSame && same;
    if (!same) break;
    const auto cell = [](double w, double c) {
      char text[64];
      std::snprintf(text, sizeof text, "%.0f (%.0f)", w, c);
      return std::string(text);
    };
    std::printf("%-9d %-6s %14s %14s %14s %8.2f  %s\n", rows, utf8 ? "UTF-8" : "1251",
                cell(wall[0], cpu[0]).c_str(), cell(wall[1], cpu[1]).c_str(),
                cell(wall[0] + wall[1], cpu[0] + cpu[1]).c_str(), (wall[0] + wall[1]) * 1000.0 / rows,
                same ? "identical" : "DIFFERENT");
  }
  // The files of a round trip that changed something are kept for a look.
  if (allSame)
    std::filesystem::remove_all(dir);
  else
    std::printf("files kept in %s\n", dir.c_str());
  return allSame ? 0 : 1;
}
