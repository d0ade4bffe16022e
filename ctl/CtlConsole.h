// The console of zarvikctl: message lines as plain text on standard error.
// Quiet (the default) it passes on only errors and warnings, without the
// time; verbose (a trace depth was asked for) every line as it stands.
#pragma once

#include <cstdio>
#include <string>

#include "shell/DiaLog.h"

namespace zarvik::ctl {
class TCtlReport;
}

namespace zarvik::ctl {

class TStderrConsole final : public IConsole {
 public:
  explicit TStderrConsole(bool verbose, std::FILE* stream = stderr) : verbose_(verbose), stream_(stream) {}

  void Reset(TColor) override { lines_ = 0; }
  int LineCount() const override { return 0; }  // nothing is kept, nothing to delete
  void DeleteFirstLine() override {}
  void AppendLine(const ConsoleLine& line) override;
  void ScrollToEnd() override { std::fflush(stream_); }

  // Lines written so far.
  int Written() const { return lines_; }
  // With --json: every line goes into the run's report instead.
  void CollectInto(TCtlReport* report) { report_ = report; }

 private:
  bool verbose_;
  std::FILE* stream_;
  int lines_ = 0;
  TCtlReport* report_ = nullptr;
};

// The text of a console line after its time stamp, and whether it is an
// error or a warning (its colour says so).
std::string MessageOfLine(const ConsoleLine& line, bool& errorOrWarning);

}  // namespace zarvik::ctl
