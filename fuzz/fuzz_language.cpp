// Language file reader: any bytes must give at most 48 entries of at most 999
// characters, without ";" or line ends, and leave the rest at their texts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "shell/TextCodec.h"
#include "shell/U_language.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zarvik;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  TLangResStrHandler table;
  ReadLanguageText(table, in);

  std::size_t lines = 0;
  for (std::size_t i = 0; i < size; ++i) lines += data[i] == '\n' ? 1u : 0u;
  if (size > 0 && data[size - 1] != '\n') ++lines;

  for (int i = 0; i < kLangTextCount; ++i) {
    const std::string& t = table.Text(i);
    Check(Utf8Length(t) <= kLangMaxLineLength);
    Check(t.find(';') == std::string::npos);
    Check(t.find('\n') == std::string::npos);
    Check(t.find('\0') == std::string::npos);
    if (static_cast<std::size_t>(i) >= lines) Check(t == TLangResStrHandler::DefaultText(i));
  }
  Check(table.Text(kLangTextCount).empty());
  return 0;
}
