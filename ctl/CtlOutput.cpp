#include "CtlOutput.h"

#include <algorithm>

#include <unistd.h>

#include "shell/TextCodec.h"
#include "store/GoodsExchange.h"

namespace zarvik::ctl {
namespace {

constexpr std::string_view kColumnGap = "  ";

void Write(std::FILE* out, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out);
}

std::string CsvLine(const std::vector<std::string>& cells) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) line.push_back(';');
    line += QuoteCsvField(cells[i]);
  }
  return line;
}

}  // namespace

void PrintLine(std::FILE* out, const std::string& text) {
  Write(out, text);
  Write(out, "\n");
}

void PrintTable(std::FILE* out, const CtlTable& table, bool csv) {
  if (csv) {
    PrintLine(out, CsvLine(table.header));
    for (const auto& row : table.rows) PrintLine(out, CsvLine(row));
    return;
  }
  std::vector<std::size_t> widths(table.header.size(), 0);
  const auto measure = [&](const std::vector<std::string>& cells) {
    for (std::size_t i = 0; i < cells.size() && i < widths.size(); ++i)
      widths[i] = std::max(widths[i], Utf8Length(cells[i]));
  };
  measure(table.header);
  for (const auto& row : table.rows) measure(row);
  const auto print = [&](const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t i = 0; i < cells.size() && i < widths.size(); ++i) {
      if (i > 0) line += kColumnGap;
      line += cells[i];
      // The last column is not padded, so lines carry no trailing blanks.
      if (i + 1 < cells.size()) line.append(widths[i] - Utf8Length(cells[i]), ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    PrintLine(out, line);
  };
  print(table.header);
  for (const auto& row : table.rows) print(row);
}

void PrintPairs(std::FILE* out, const std::vector<std::pair<std::string, std::string>>& pairs, bool csv) {
  if (csv) {
    for (const auto& [key, value] : pairs) PrintLine(out, CsvLine({key, value}));
    return;
  }
  std::size_t width = 0;
  for (const auto& p : pairs) width = std::max(width, Utf8Length(p.first));
  for (const auto& [key, value] : pairs) {
    std::string line = key + ":";
    line.append(width - Utf8Length(key) + 1, ' ');
    line += value;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    PrintLine(out, line);
  }
}

TProgress::TProgress(std::FILE* err, std::string label)
    : err_(err), label_(std::move(label)), active_(::isatty(::fileno(err)) == 1) {}

namespace {
bool gFleetLines = false;
constexpr std::chrono::milliseconds kFleetLineInterval{250};
}  // namespace

void TProgress::SetFleetLines(bool on) {
  gFleetLines = on;
}

void TProgress::Show(int done, int total) {
  if (gFleetLines) {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastLine_ < kFleetLineInterval && done != total) return;
    lastLine_ = now;
    Write(err_, "@fleet progress " + label_ + " " + std::to_string(done) + " " + std::to_string(total) + "\n");
    std::fflush(err_);
    return;
  }
  if (!active_) return;
  std::string text = "\r" + label_ + ": " + std::to_string(done);
  if (total > 0) text += " / " + std::to_string(total);
  if (resumptions_ > 0) text += " (возобновлений: " + std::to_string(resumptions_) + ")";
  Write(err_, text);
  std::fflush(err_);
  shown_ = true;
}

void TProgress::Done() {
  if (!shown_) return;
  Write(err_, "\n");
  std::fflush(err_);
  shown_ = false;
}

}  // namespace zarvik::ctl
