// Soak of the register link under injected faults: long transfers against
// the register simulator while it garbles, drops and adds bytes, numbers its
// frames wrongly, answers WAIT and BUSY, falls silent and is frozen, and
// while the PC side is killed in the middle of its work.
//
//   bench_soak [--seed N] [--rates 0,1,5,20] [--minutes M] [--rounds N] [--quick]
//              [--batch N] [--receipts N] [--events X] [--mode both|inproc|ctl]
//              [--faults FAULT,...] [--ops settings-write,settings-read,goods-write,goods-read,journal]
//              [--baud N] [--ctl PATH] [--work DIR] [--keep] [--verbose] [--trace]
//
// For each fault rate a fresh simulated shop (16 departments, 8 operators, 64
// options, 4000 goods, a journal) is served on a pseudo-terminal, and rounds
// of operations run against it until the rate's time is up:
//   settings written (options, departments, receipt lines and fonts,
//   operators) and read back; a batch of goods written (the batches go round
//   all 4000 codes) and all goods read back; the whole journal read.
// Each operation runs either in this process (the program's TComPort and
// TProtocolKKM, as the window uses them) or as a zarvikctl process (which
// goes through the goods and journal files as the window does), chosen at
// random. Every operation is judged against the simulator's own state:
//   ok      - it reported success and what it read or wrote is right, field
//             by field;
//   failed  - it reported an error (an in-process command returned false;
//             zarvikctl exited with 1 and an "Error:" text, or refused an
//             argument with 2); whatever it wrote is the old or the new value;
//   wrong   - it reported success but read or left other data, or it left a
//             value that is neither the old nor the new one: must stay 0;
//   killed  - a zarvikctl process this program killed (SIGKILL) at a random
//             point; what it left is judged like a failure.
// Crashes (a zarvikctl ended by a signal it was not sent) and hangs (a
// process still running after its time limit) are counted too.
//
// Faults at rate R %: every packet the simulator sends or hears is faulted
// with a chance of about R % (simulator faults armed with "@" chances: check
// bytes of data frames and control packets, frames cut short or followed by
// junk, wrong packet numbers, WAIT before an answer, BUSY, REJ, a flood of
// ACKs, a packet from the PC not heard). Besides, each operation meets with
// a chance of R × --events % one of: the simulator frozen for 0.2 to 6 s
// (Simulator::Pause, which behaves as SIGSTOP), or a burst of BUSY, WAIT,
// silence or bad check bytes; and each zarvikctl operation is killed with
// that chance at a random point.
//
// The seed is printed at the start; --seed repeats the run's choices (the
#include "soak/SoakReport.h"

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return Usage();
  if (!options.seedGiven)
    options.seed = std::random_device{}() ^ (static_cast<std::uint64_t>(std::random_device{}()) << 32);
  if (options.mode != "inproc" && (options.ctl.empty() || ::access(options.ctl.c_str(), X_OK) != 0)) {
    std::fprintf(stderr, "bench_soak: zarvikctl not found (%s); give --ctl PATH or --mode inproc\n",
                 options.ctl.c_str());
    return 2;
  }
  // The model descriptors are those beside zarvikctl (the build copies them).
  const std::filesystem::path ctlDir = options.ctl.empty() ? std::filesystem::current_path()
                                                           : std::filesystem::path(options.ctl).parent_path();
  zarvik::SetProgramPath((ctlDir / "bench_soak").string());
  std::string work = options.work;
  bool madeWork = false;
  if (work.empty()) {
    char templ[] = "/tmp/zarvik-soak-XXXXXX";
    if (::mkdtemp(templ) == nullptr) {
      std::perror("bench_soak: mkdtemp");
      return 1;
    }
    work = templ;
    madeWork = true;
  } else {
    std::filesystem::create_directories(work);
  }
  zarvik::NameLogFile = work + "/bench_soak.log";
  zarvik::SetConsole(&gConsole);
  zarvik::isAUTONOM = true;
  zarvik::MessDepth = options.trace ? zarvik::mdFunctional : zarvik::mdUser;

  std::printf("bench_soak: seed %llu (repeat with --seed %llu)\n",
              static_cast<unsigned long long>(options.seed), static_cast<unsigned long long>(options.seed));
  std::printf("bench_soak: rates");
  for (double r : options.rates) std::printf(" %g %%", r);
  std::printf(", %.2f min each%s, goods batch %d, %d receipts, events x%g, mode %s, %s, work folder %s\n",
              options.minutes,
              options.rounds > 0 ? (" or " + std::to_string(options.rounds) + " rounds").c_str() : "",
              options.batch, options.receipts, options.events, options.mode.c_str(),
              options.baud > 0 ? ("paced at " + std::to_string(options.baud) + " baud").c_str() : "unpaced",
              work.c_str());
  std::fflush(stdout);

  std::mt19937_64 seeds(options.seed);
  std::vector<RateFigures> figures;
  for (double rate : options.rates) {
    figures.emplace_back();
    std::printf("rate %g %%\n", rate);
    std::fflush(stdout);
    RateRun run(options, rate, seeds(), figures.back());
    if (!run.SetUp(work)) return 1;
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(Seconds(options.minutes * 60.0));
    run.Run(deadline);
    const RateFigures& f = figures.back();
    std::printf(
        "rate %g %%: %d operations, %d ok, %d failed, %d wrong, %d killed, %d hung, %d crashed, %.1f min\n",
        rate, f.all.Total(), f.all[Outcome::Ok], f.all[Outcome::Failed], f.all[Outcome::Wrong],
        f.all[Outcome::Killed], f.all[Outcome::Hung], f.all[Outcome::Crashed], f.seconds / 60.0);
    std::fflush(stdout);
  }
  PrintTable(figures);
  int bad = 0;
  for (const RateFigures& f : figures) {
    for (const std::string& w : f.wrong) std::printf("rate %g %%: %s\n", f.rate, w.c_str());
    bad += f.all[Outcome::Wrong] + f.all[Outcome::Hung] + f.all[Outcome::Crashed];
  }
  std::printf("\nseed %llu; %s\n", static_cast<unsigned long long>(options.seed),
              bad == 0 ? "no wrong data, no hang, no crash" : "WRONG DATA, HANGS OR CRASHES: see above");
  if (madeWork && bad == 0 && !options.keep) {
    std::error_code ec;
    std::filesystem::remove_all(work, ec);
  } else {
    std::printf("work folder kept: %s\n", work.c_str());
  }
  return bad == 0 ? 0 : 1;
}
