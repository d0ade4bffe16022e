// The register's operations journal: record kinds, the record classes that
// decode a record's bytes into a record line (fields separated by ";"), the
// decoding of one ReadJournal reply, and the rendering of a record line as
// receipt text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "journal/JournalKinds.h"
#include "journal/JournalMoney.h"

namespace zarvik {

// ---------------------------------------------------------------------------
// Rendering

// Fixed texts of the rendering.
inline constexpr std::string_view kJournalDash = "--------------------\r\n";
inline constexpr std::string_view kJournalAnnulMark = "----- АННУЛЯЦИЯ ----\r\n";
inline constexpr std::size_t kJournalSeparatorStars = 69;
// CR LF, 69 asterisks, CR LF, CR LF: the line that sets receipts apart.
std::string JournalSeparator();
inline constexpr std::string_view kJournalErrorSuffix = " - ошибка!";
inline constexpr std::string_view kJournalDecodeErrorText = "ошибка декодирования операций чека";
// Fields of a record line beyond this count are not looked at.
inline constexpr std::size_t kJournalMaxFields = 20;

// The receipt kind name of a number 1..5 ("Продажа", "Возврат ", "Внесено ",
// "Выплата ", "Безнал  "), "unknown" for any other number.
std::string_view ReceiptKindName(std::int64_t number);

// Splits a record line at each ";" into at most kJournalMaxFields fields;
// empty fields between two ";" keep their place.
std::vector<std::string_view> SplitJournalLine(std::string_view line);

// Renders one record line as receipt text (possibly several lines joined by
// CR LF, never ending with CR LF). Returns false, and leaves `text` empty,
// when a field that must be a number is not one; reports nothing.
bool TryRenderJournalLine(std::string_view line, std::string& text);

// Renders one record line. A line that cannot be rendered comes back as
// itself followed by " - ошибка!", and the error "ошибка декодирования
// операций чека" is reported once on the console and in the log, and in a
// message box when `box` is set.
std::string RenderJournalLine(std::string_view line, bool box = true);

}  // namespace zarvik
