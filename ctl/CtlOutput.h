// Output of zarvikctl: tables and key/value lists as aligned text a person
// reads, or with --csv as semicolon-separated values (quoted like the goods
// CSV file) under a header line; progress of long transfers on a terminal.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace zarvik::ctl {

struct CtlTable {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
};

void PrintTable(std::FILE* out, const CtlTable& table, bool csv);
// "key: value" lines with the values aligned; with csv two columns.
void PrintPairs(std::FILE* out, const std::vector<std::pair<std::string, std::string>>& pairs, bool csv);
void PrintLine(std::FILE* out, const std::string& text);

// A counter on standard error, rewritten in place; silent when that is not a
// terminal.
class TProgress {
 public:
  TProgress(std::FILE* err, std::string label);
  ~TProgress() { Done(); }
  TProgress(const TProgress&) = delete;
  TProgress& operator=(const TProgress&) = delete;
  void Show(int done, int total = 0);
  void Done();
  // A worker of a fleet run: progress goes as lines "@fleet progress LABEL
  // DONE TOTAL" (a few a second) for the fleet to show, terminal or not.
  static void SetFleetLines(bool on);
  // From now on the counter says how often the transfer was resumed.
  void SetResumptions(int resumptions) { resumptions_ = resumptions; }

 private:
  std::FILE* err_;
  std::string label_;
  bool active_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point lastLine_{};
  int resumptions_ = 0;
};

}  // namespace zarvik::ctl
