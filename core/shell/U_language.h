// The language table: 48 numbered user texts (register error texts, start and
// stop log lines, window caption, connect button captions, department states)
// with built-in Russian defaults, replaceable from a language file
// "<name>.lng" in the folder "lang" beside the program.
#pragma once

#include <array>
#include <cstddef>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik {

inline constexpr int kLangTextCount = 48;
// A language file line holds at most this many characters; the rest of a
// longer line is ignored.
inline constexpr std::size_t kLangMaxLineLength = 999;
inline constexpr std::string_view kLangFolderName = "lang";
inline constexpr std::string_view kLangFileSuffix = ".lng";
inline constexpr std::string_view kLangIniName = "lang.ini";
inline constexpr std::string_view kLangIniSection = "MAIN";
inline constexpr std::string_view kLangIniKey = "CurLang";

// Indices of the entries the program uses by name.
enum TLangText : int {
  ltStart = 0,
  ltStop = 1,
  ltMaker = 2,
  ltCaption = 3,
  ltNoError = 4,             // register error code 0; codes 1..32 follow in order
  ltFiscalMemoryError = 37,  // register error code 90
  ltEndOfData = 38,          // register error code 91
  ltUserDefinedError = 39,   // register error code 99
  ltUnknownError = 40,       // any other code, followed by the code
  ltSamplesCreated = 41,
  ltRegister = 42,
  ltConnect = 43,
  ltDisconnect = 44,
  ltDepGoods = 45,
  ltDepService = 46,
  ltDepClosed = 47,
};

class TLangResStrHandler {
 public:
  // Entries 0 to 47 with the built-in texts.
  TLangResStrHandler();

  // Entry `index`; an empty text outside 0..47.
  const std::string& Text(int index) const;
  // Sets entry `index` (UTF-8); ignored outside 0..47.
  void SetText(int index, std::string text);
  // Back to the built-in texts.
  void SetDefaults();

  static const std::string& DefaultText(int index);

 private:
  std::array<std::string, kLangTextCount> texts_;
};

// The one table of the run, filled with the built-in texts at start.
extern TLangResStrHandler LangResStrHandler;

// The folder "lang" beside the program.
std::string LanguageFolder();

// Reads the language file `name` + ".lng" of the language folder into the
// table. False, table unchanged, when there is no such file (or the name could
// reach outside the folder).
bool LoadLanguageFile(TLangResStrHandler& table, std::string_view name);
// Reads language-file text (code page 1251): line k gives entry k - 1, up to
// the first ";", NUL or end of line; at most 48 lines of at most 999
// characters. Entries without a line keep their texts.
void ReadLanguageText(TLangResStrHandler& table, std::istream& in);
// Writes CurLang = name into "lang.ini" (section MAIN) of the language
// folder, then loads the language file. The result is that of the load.
bool SwitchLanguage(TLangResStrHandler& table, std::string_view name);

// Names of the "*.lng" files of the language folder (file names without
// ".lng"), sorted.
std::vector<std::string> LanguageNameList();
// The same names separated by CR LF.
std::string LanguageNames();

}  // namespace zarvik
