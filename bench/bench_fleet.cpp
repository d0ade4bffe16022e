// zarvikctl fleet: "config apply" on 1, 4, 8 and 16 registers at once, each
// a simulator paced as a 19200 baud line, against the same apply on one
// register alone.
//
//   bench_fleet [--counts 1,4,8,16] [--runs 2] [--baud 19200]
//
// Each run writes the same edit (an option, four departments and the twelve
// receipt lines: 17 writes after the reads of those tables) to every
// register, whose state is put back before the next run. Printed per count:
// the wall time of the fleet (median of the runs), that time divided by the
// time of one register alone (`zarvikctl config apply`, no fleet), and the
// load average at the start.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Scenario.h"
#include "Simulator.h"

#ifndef ZARVIK_CTL_EXE
#define ZARVIK_CTL_EXE ""
#endif

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFirstPort = 160;

constexpr const char* kEdit = R"([options]
1 = 0
[departments]
1.name = "Бакалея и чай"
2.name = "Молоко и сыр"
3.price = 2500.00
4.name = "Доставка на дом"
[receipt]
header.1 = "ООО ПРОДУКТЫ-2"
header.2 = "г. Тверь"
header.3 = "ул. Мира, 1"
header.4 = "ИНН 6900000000"
header.5 = "тел. 55-55-55"
header.6 = "Добро пожаловать"
footer.1 = "Спасибо за покупку!"
footer.2 = "Ждём вас снова"
footer.3 = "www.example.ru"
footer.4 = "---"
footer.5 = "Касса 1"
footer.6 = "До свидания"
)";

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Runs zarvikctl with `args` in `folder`, output to /dev/null; its exit
// status and wall time in seconds.
int RunCtl(const std::string& folder, const std::vector<std::string>& args, double& seconds) {
  std::vector<std::string> store{ZARVIK_CTL_EXE};
  store.insert(store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    std::FILE* null = std::fopen("/dev/null", "w");
    if (null != nullptr) {
      ::dup2(::fileno(null), 1);
      ::dup2(::fileno(null), 2);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

double LoadAverage() {
  double load[1] = {0.0};
  return ::getloadavg(load, 1) == 1 ? load[0] : -1.0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> counts{1, 4, 8, 16};
  int runs = 2;
  int baud = 19200;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--counts")
      counts = zarvik::bench::IntList(argv[i + 1]);
    else if (name == "--runs")
      runs = std::max(1, std::atoi(argv[i + 1]));
    else if (name == "--baud")
      baud = std::atoi(argv[i + 1]);
  }
  if (std::string(ZARVIK_CTL_EXE).empty()) {
    std::fprintf(stderr, "bench_fleet: built without zarvikctl\n");
    return 1;
  }
  const int most = *std::max_element(counts.begin(), counts.end());
  const std::string folder =
      (std::filesystem::temp_directory_path() / ("bench_fleet_" + std::to_string(::getpid()))).string();
  std::filesystem::create_directories(folder);
  std::vector<std::unique_ptr<zarvik::sim::Simulator>> sims;
  std::vector<zarvik::sim::RegisterState> initial;
  std::string devices;
  for (int k = 0; k < most; ++k) {
    zarvik::sim::Scenario scenario;
    std::string error;
    std::string text = zarvik::bench::ShopScenario(10, 0, 100);
    const std::string serial = "00210045" + std::to_string(7000 + k);
    text.replace(text.find("002100457731"), 12, serial);
    if (!zarvik::sim::LoadScenarioText(text, scenario, error)) {
      std::fprintf(stderr, "bench_fleet: %s\n", error.c_str());
      return 1;
    }
    auto sim = std::make_unique<zarvik::sim::Simulator>(scenario);
    sim->SetPacing(baud, true);
    std::string slave;
    if (!sim->OpenPty(slave) || !sim->Start()) {
      std::fprintf(stderr, "bench_fleet: simulator %d: %s\n", k, sim->LastError().c_str());
      return 1;
    }
    initial.push_back(sim->State());
    devices += "COM" + std::to_string(kFirstPort + k) + "=" + slave + "\r\n";
    sims.push_back(std::move(sim));
  }
  WriteFile(folder + "/ZarvikConfig.ini", "[Port]\r\nCOMPort=" + std::to_string(kFirstPort) + "\r\nSpeed=" +
                                              std::to_string(baud) + "\r\n[Devices]\r\n" + devices);
  WriteFile(folder + "/edit.conf", kEdit);
  const auto reset = [&] {
    for (std::size_t k = 0; k < sims.size(); ++k)
      sims[k]->ModifyState([&](zarvik::sim::RegisterState& s) {
        const auto executed = s.commandsExecuted;
        s = initial[k];
        s.commandsExecuted = executed;
      });
  };

  std::printf("config apply at %d baud, paced; %d run(s) each, median; %ld cores online\n", baud, runs,
              ::sysconf(_SC_NPROCESSORS_ONLN));
  std::vector<double> single;
  for (int r = 0; r < runs; ++r) {
    reset();
    double s = 0;
    const int status = RunCtl(folder, {"config", "apply", "edit.conf", "--no-backup"}, s);
    if (status != 0) {
      std::fprintf(stderr, "bench_fleet: single apply failed with %d\n", status);
      return 1;
    }
    single.push_back(s);
  }
  const double one = Median(single);
  std::printf("%-10s %10s %10s %10s\n", "registers", "time, s", "ratio", "load");
  std::printf("%-10s %10.2f %10s %10.2f\n", "single", one, "1.00", LoadAverage());
  for (const int n : counts) {
    std::string fleet;
    for (int k = 0; k < n; ++k)
      fleet += "[r" + std::to_string(k) + "]\r\nport=" + std::to_string(kFirstPort + k) + "\r\n";
    WriteFile(folder + "/fleet.ini", fleet);
    std::vector<double> times;
    const double load = LoadAverage();
    for (int r = 0; r < runs; ++r) {
      reset();
      double s = 0;
      const int status =
          RunCtl(folder, {"fleet", "fleet.ini", "config", "apply", "edit.conf", "--no-backup"}, s);
      if (status != 0) {
        std::fprintf(stderr, "bench_fleet: fleet of %d failed with %d\n", n, status);
        return 1;
      }
      times.push_back(s);
    }
    const double t = Median(times);
    std::printf("%-10d %10.2f %10.2f %10.2f\n", n, t, t / one, load);
    std::fflush(stdout);
  }
  for (auto& s : sims) s->Close();
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return 0;
}
