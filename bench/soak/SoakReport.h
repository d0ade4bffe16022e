// Part of bench_soak, which alone includes it (each part includes the one
// before it: Options, Judgement, Faults, Process, Operations, Report): the
// report of the figures.
#pragma once

#include "SoakOperations.h"

namespace {

// ---------------------------------------------------------------------------

void PrintTable(const std::vector<RateFigures>& all) {
  std::printf(
      "\n| fault rate | operations | ok | failed, error reported | wrong data, no error | killed | hung | "
      "crashed "
      "| faults fired | freezes (over 3 s) | bursts | goods written | goods read and compared | journal "
      "frames "
      "compared | minutes |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const RateFigures& f : all) {
    std::printf("| %g %% | %d | %d | %d | %d | %d | %d | %d | %d | %d (%d) | %d | %d | %d | %d | %.1f |\n",
                f.rate, f.all.Total(), f.all[Outcome::Ok], f.all[Outcome::Failed], f.all[Outcome::Wrong],
                f.all[Outcome::Killed], f.all[Outcome::Hung], f.all[Outcome::Crashed], f.faultsFired,
                f.freezes, f.longFreezes, f.bursts, f.goodsWritten, f.goodsChecked, f.journalFrames,
                f.seconds / 60.0);
  }
  std::printf("\nby operation (ok / failed / wrong / killed, all rates):\n\n");
  std::map<std::string, Tally> ops;
  for (const RateFigures& f : all)
    for (const auto& [name, t] : f.byOperation)
      for (int k = 0; k < kOutcomeCount; ++k)
        ops[name].n[static_cast<std::size_t>(k)] += t.n[static_cast<std::size_t>(k)];
  std::printf("| operation | ok | failed | wrong | killed |\n|---|---:|---:|---:|---:|\n");
  for (const auto& [name, t] : ops)
    std::printf("| %s | %d | %d | %d | %d |\n", name.c_str(), t[Outcome::Ok], t[Outcome::Failed],
                t[Outcome::Wrong], t[Outcome::Killed]);
}

}  // namespace
