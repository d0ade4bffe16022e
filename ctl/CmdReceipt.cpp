#include "CtlSession.h"

#include <map>

#include "CtlOutput.h"
#include "shell/DiaLog.h"
#include "shell/TextCodec.h"

namespace zarvik::ctl {
namespace {

constexpr std::size_t kReceiptLineWidth = 32;

}  // namespace

bool TCtlSession::ReadReceipt() {
  for (int n = 1; n <= kReceiptLineCount; ++n) {
    if (!protocol_.GetHeaderLine(n)) {
      Error("не удалось получить информацию о заголовках", true, true, true);
      return false;
    }
  }
  for (int n = 1; n <= kReceiptLineCount; ++n) {
    if (!protocol_.GetFooterLine(n)) {
      Error("не удалось получить информацию об окончании чека", true, true, true);
      return false;
    }
  }
  return true;
}

int TCtlSession::CmdReceiptGet() {
  if (!Connect()) return ceFailed;
  if (!ReadReceipt()) return ceFailed;
  const TKKMInfo& i = Info();
  CtlTable table{{"Блок", "№", "Шрифт", "Текст"}, {}};
  for (int part = 0; part < 2; ++part) {
    const auto& lines = part == 0 ? i.headerLines : i.footerLines;
    const std::uint8_t font = part == 0 ? i.headerFont : i.footerFont;
    for (int n = 1; n <= kReceiptLineCount; ++n)
      table.rows.push_back({part == 0 ? "Заголовок" : "Окончание", std::to_string(n), std::to_string(font),
                            lines[static_cast<std::size_t>(n - 1)]});
  }
  PrintTable(out_, table, args_.csv);
  Mess("Загружены заголовок и окончание чека", false, true, true);
  return ceOk;
}

int TCtlSession::CmdReceiptSet() {
  std::map<std::pair<int, int>, std::string> changes;  // (0 header / 1 footer, line) -> text
  for (std::size_t k = 2; k < words_.size(); ++k) {
    std::string key;
    std::string value;
    std::int64_t line = 0;
    if (!SplitAssignment(words_[k], key, value)) return Usage("\"" + words_[k] + "\" is not header.L=TEXT");
    int part = -1;
    if (key.rfind("header.", 0) == 0) part = 0;
    if (key.rfind("footer.", 0) == 0) part = 1;
    if (part < 0 || !ParseInteger(key.substr(7), 1, kReceiptLineCount, line))
      return Usage("\"" + words_[k] + "\" is not header.L=TEXT or footer.L=TEXT with L = 1..6");
    std::string error;
    if (!FitsRegisterText(key, value, kReceiptLineWidth, error)) return Usage(error);
    changes[{part, static_cast<int>(line)}] = value;
  }
  if (changes.empty() && args_.headerFont < 0 && args_.footerFont < 0)
    return Usage("receipt set needs a line or a font to change");
  if (!Connect()) return ceFailed;
  TKKMInfo& i = Info();
  for (const int font : {args_.headerFont, args_.footerFont}) {
    if (font > i.maxCountFont)
      return Usage("font " + std::to_string(font) + ": the register's fonts are 0.." +
                   std::to_string(i.maxCountFont));
  }
  if (BackupsOn() ? !BackupSettings(stReceipt) : !ReadReceipt()) return ceFailed;
  // A font the register reported that has no name here is written as 0, as
  // the window program's font list does.
  const auto keep = [&](std::uint8_t font) {
    return static_cast<std::uint8_t>(i.FontName(font).empty() ? 0 : font);
  };
  i.headerFont = args_.headerFont >= 0 ? static_cast<std::uint8_t>(args_.headerFont) : keep(i.headerFont);
  i.footerFont = args_.footerFont >= 0 ? static_cast<std::uint8_t>(args_.footerFont) : keep(i.footerFont);
  for (const auto& [where, text] : changes) {
    auto& lines = where.first == 0 ? i.headerLines : i.footerLines;
    lines[static_cast<std::size_t>(where.second - 1)] = text;
  }
  for (int n = 1; n <= kReceiptLineCount; ++n)
    if (!protocol_.SetHeaderLine(n)) return Fail("не удалось записать информацию о заголовках");
  Mess("Начало Footer", false, true, true);
  for (int n = 1; n <= kReceiptLineCount; ++n)
    if (!protocol_.SetFooterLine(n)) return Fail("не удалось записать информацию об окончаниях");
  Done("Записаны заголовок и окончание чека");
  return ceOk;
}

}  // namespace zarvik::ctl
