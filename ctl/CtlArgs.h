// The command line of zarvikctl: the command words, the operands and the
// options ("--name value", "--name=value" or a flag), "--" ending the options.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik::ctl {

struct CtlArgs {
  std::vector<std::string> words;  // command, subcommand and operands, in order
  // Options.
  int port = -1;        // --port, 1..256
  int speed = -1;       // --speed, an allowed baud rate
  int net = -1;         // --net, 1..98
  std::string depth;    // --depth, a switch word
  std::string out;      // --out FILE
  int font = -1;        // --font
  int brightness = -1;  // --brightness
  int headerFont = -1;  // --header-font
  int footerFont = -1;  // --footer-font
  bool csv = false;
  bool json = false;  // --json: one JSON object with the result, the counts and the messages
  bool help = false;
  bool data = false;            // --data
  bool resetSold = false;       // --reset-sold
  bool all = false;             // --all (ports)
  bool save = false;            // --save (find)
  bool noBackup = false;        // --no-backup
  bool dryRun = false;          // --dry-run (config apply)
  std::string serial;           // --serial: the serial number the register must have
  int jobs = -1;                // --jobs (fleet)
  std::string report;           // --report FILE (fleet)
  std::string fleetWorker;      // --fleet-worker NAME: run as a worker of fleet
  // The journal as data.
  std::string in;        // --in FILE: a saved journal (record lines) instead of the register
  std::string receipts;  // --receipts FILE
  std::string lines;     // --lines FILE
  std::string xlsx;      // --xlsx FILE
  std::string from;      // --from DD.MM.YY
  std::string to;        // --to DD.MM.YY
  std::string goods;     // --goods FILE: goods names for the summary
  bool utf8 = false;     // --utf8: CSV files in UTF-8 with a byte order mark
  // Goods from a spreadsheet.
  std::string sheet;                 // --sheet NAME
  std::vector<std::string> columns;  // --column FIELD=HEADER, each as given
  std::set<std::string> given;  // names of the options given (without "--")
  // The word "CONFIG_STOP" (exact case) was given, anywhere: the settings
  // cannot be written in this run, as in the window program.
  bool configStop = false;
};

// Parses `args`; false with `error` for an unknown option, a missing value or
// a value that is not a number in range.
bool ParseCtlArgs(const std::vector<std::string>& args, CtlArgs& out, std::string& error);

// A decimal integer within [min, max] (the whole text, no blanks).
bool ParseInteger(std::string_view text, std::int64_t min, std::int64_t max, std::int64_t& out);

// The switch words --depth accepts.
bool IsDepthWord(std::string_view word);

}  // namespace zarvik::ctl
