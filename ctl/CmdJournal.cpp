#include "CtlSession.h"

#include <span>

#include "CtlOutput.h"
#include "journal/U_magazineoperation.h"
#include "protocol/TransferResume.h"
#include "shell/DiaLog.h"
#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"

namespace zarvik::ctl {
namespace {

// Splits at CR LF; no empty piece after the last one.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = text.find("\r\n");
    lines.emplace_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 2);
  }
  return lines;
}

}  // namespace

bool TCtlSession::ShowJournalLines(const std::vector<std::string>& lines) {
  if (Json()) report_->Counts().Int("lines", static_cast<std::int64_t>(lines.size()));
  if (args_.out.empty()) {
    if (!Json()) {
      for (const std::string& line : lines) PrintLine(out_, line);
      return true;
    }
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    report_->Result().Str("text", all);
    return true;
  }
  std::string all;
  for (const std::string& line : lines) all += line + "\r\n";
  if (!WriteTextFile(args_.out, Utf8ToCp1251(all))) return false;
  if (Json()) report_->Result().Str("out", args_.out);
  return true;
}

int TCtlSession::CmdJournalRead() {
  if (!Connect()) return ceFailed;
  Mess("Загружаем ОТЧЕТ...", false, true, true);
  std::vector<std::string> source;
  std::vector<std::string> text;
  int errors = 0;
  bool stopped = false;
  TProgress progress(err_, "записи журнала");
  const TStopSignals signals;
  protocol_.lineCounts = {};
  TResumeControl control;
  control.stopRequested = [] { return TStopSignals::Requested(); };
  control.onResume = [&](int resumptions) {
    progress.SetResumptions(resumptions);
    progress.Done();
    Warning("Связь с ККМ прервалась, продолжаем после " + std::to_string(source.size()) + " записей", false,
            true, true);
  };
  const bool ok = ReadJournalResuming(
      protocol_,
      [&](TMessageBuffer& answer, bool& more) {
        if (TStopSignals::Requested() && !stopped) {
          // As the window's stop button: DISC, and the receipt of this frame
          // without the continuation bit ends the transfer.
          protocol_.SendControl(kDISC);
          more = false;
          stopped = true;
        }
        const std::span<const std::uint8_t> bytes = answer.View();
        const int code = bytes.size() > kResultOffset ? bytes[kResultOffset] : 0;
        if (code == kResultNotFound) {
          more = false;
        } else if (code != 0) {
          Error(ErrorText(code), true, true, true);
          ++errors;
        }
        for (const std::string& line : SplitLines(DecodeJournalReply(bytes))) {
          source.push_back(line);
          for (std::string& rendered : SplitLines(RenderJournalLine(line, false)))
            text.push_back(std::move(rendered));
        }
        progress.Show(static_cast<int>(source.size()));
      },
      control);
  progress.Done();
  ShowLineCounts();
  if (Json()) report_->Counts().Int("records", static_cast<std::int64_t>(source.size()));
  const std::string got = "получено " + std::to_string(source.size()) + " записей журнала";
  if (!ok) return Fail("Сбой при загрузке ОТЧЕТА: " + got);
  // Stopped: nothing is shown or written, an existing file stays as it was.
  if (stopped || TStopSignals::Requested()) return Interrupted("ОТЧЕТ частично загружен: " + got);
  Mess("ОТЧЕТ загружен", false, true, true);
  journalRecords_ = source;
  if (journalRecordsOnly_) return errors == 0 ? ceOk : ceFailed;
  const std::vector<std::string>& lines = args_.data ? source : text;
  if (!ShowJournalLines(lines)) return Fail("Не удалось записать файл " + args_.out);
  return errors == 0 ? ceOk : ceFailed;
}

}  // namespace zarvik::ctl
