#include "ZarvikCtl.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>
#include <string_view>

#include "CtlArgs.h"
#include "CtlConsole.h"
#include "CtlOutput.h"
#include "journal/U_magazineoperation.h"
#include "model/U_kkms.h"
#include "port/Comport.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "shell/IniFile.h"
#include "shell/ProjectsVars.h"
#include "shell/TextCodec.h"
#include "shell/U_filedirwork.h"
#include "shell/U_language.h"
#include "store/GoodsExchange.h"
#include "store/UnitBD.h"

namespace zarvik::ctl {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Settings shared with the window program.
constexpr std::string_view kPortSection = "Port";
constexpr std::string_view kNetSection = "NET";
constexpr std::string_view kNetKey = "NUMBER";
constexpr int kDefaultNetworkNumber = 1;

// Register limits of the window program.
constexpr std::int64_t kHighestOptionValue = 255;
constexpr std::size_t kDepartmentNameWidth = 22;
constexpr std::size_t kReceiptLineWidth = 32;
constexpr std::size_t kOperatorNameWidth = 20;  // tmOperators "operator"
constexpr std::size_t kPositionWidth = 18;      // tmOperators "dolgn"
constexpr int kHighestGoodsRequestCode = 9999;
constexpr std::int64_t kPriceLimitKopecks = 9999999999;  // ten BCD digits
constexpr int kOffLineMode = 2;
constexpr int kDefaultBrightness = 0;
constexpr std::uint8_t kTaxDefined = TTaxRec::kDefinedMark;

// Answer layout of the streamed goods and journal frames.
constexpr std::size_t kResultOffset = 2;
constexpr std::size_t kRecordOffset = 3;
constexpr int kResultNotFound = 9;
constexpr int kResultBadGoodsCode = 17;

// The system's texts.
constexpr std::string_view kCannotConnect = "Не удалось подключиться!";
constexpr std::string_view kPortOpenFailed = "не удалось откыть порт";
constexpr std::string_view kNoAnswer = "ККМ не отвечает";
constexpr std::string_view kInfoFailed = "не удалось получить информацию о ККМ";
constexpr std::string_view kDateTimeFailed = "не удалось получить информацию о Дате и времени";
constexpr std::string_view kOptionsFailed = "не удалось получить опции";
constexpr std::string_view kWrongAnswerSize = "Не верный размер полученых данных";
constexpr std::string_view kDefMark = "def:";

const char* const kProgramHelp =
    "Usage: zarvikctl [OPTIONS] COMMAND [SUBCOMMAND] [ARGS]\n"
    "\n"
    "The register's commands from the command line. Port, speed and network number\n"
    "default to those of ZarvikConfig.ini in the current folder (sections \"Port\"\n"
    "and \"NET\"); ports are numbers mapped to devices as in the window program.\n"
    "\n"
    "Commands:\n"
    "  info                          identity, date and time, capacities\n"
    "  options get | set N=V...      the option table\n"
    "  departments get | set N ...   the departments\n"
    "  receipt get | set ...         receipt header and footer lines and fonts\n"
    "  taxes get                     the tax rates (read only)\n"
    "  operators get | set N ...     operator names and positions\n"
    "  goods get CODE                one goods record\n"
    "  goods read-all [--out FILE]   the whole goods database\n"
    "  goods write FILE              goods from a .csv or .dbf exchange file\n"
    "  journal read [--data]         the electronic journal\n"
    "  print [TEXT...]               free text on the register's printer\n"
    "\n"
    "Options:\n"
    "  --port N       port number 1..256 (COMn)\n"
    "  --speed N      9600, 19200, 38400, 57600 or 115200\n"
    "  --net N        network number of the register, 1..98\n"
    "  --depth WORD   trace depth: mdapplied, mdfunctional, mdsystem, mdhardware, debug;\n"
    "                 the trace goes to standard error\n"
    "  --csv          tables as semicolon-separated values\n"
    "  --help, -h     this text; with a command, that command's help\n"
    "\n"
    "Exit status: 0 done, 1 the register, port or a file failed (the message is on\n"
    "standard error), 2 bad arguments.\n";

struct CommandHelp {
  std::string_view name;
  const char* text;
};

constexpr CommandHelp kCommandHelp[] = {
    {"info",
     "Usage: zarvikctl info\n"
     "Identifies the register (model, serial number, version, work mode), reads its\n"
     "date and time, the option count and the number of programmable operators, and\n"
     "shows the capacities of its model descriptor and the largest goods number.\n"},
    {"options",
     "Usage: zarvikctl options get\n"
     "       zarvikctl options set N=V [N=V...]\n"
     "get shows number, value, interval and description of every option. set reads\n"
     "the options, changes option N to value V and writes them all back; a value\n"
     "outside the option's interval (from the model descriptor) is refused and\n"
     "nothing is written.\n"},
    {"departments",
     "Usage: zarvikctl departments get\n"
     "       zarvikctl departments set N [status=S] [name=TEXT] [group=G] [price=P]\n"
     "get shows the departments 1..the model's department count. set reads\n"
     "department N, changes the given fields and writes it. S is Товар, Услуга or\n"
     "Закрыто (or goods, service, closed); a closed department has no name, tax\n"
     "group or price. G is a tax group A..E; TEXT at most 22 characters; P the price\n"
     "limit in roubles with at most two decimals.\n"},
    {"receipt",
     "Usage: zarvikctl receipt get\n"
     "       zarvikctl receipt set [--header-font N] [--footer-font N] [header.L=TEXT]\n"
     "                             [footer.L=TEXT]...\n"
     "get shows the six header and six footer lines with their fonts. set reads them,\n"
     "changes the given lines (L = 1..6, TEXT at most 32 characters) and fonts\n"
     "(0..the model's highest font) and writes all twelve lines back.\n"},
    {"taxes",
     "Usage: zarvikctl taxes get\n"
     "Shows the five tax rates (the register's taxes cannot be written).\n"},
    {"operators",
     "Usage: zarvikctl operators get\n"
     "       zarvikctl operators set N [name=TEXT] [position=TEXT]\n"
     "get shows the names and positions of the register's 4 or 8 operators. set reads\n"
     "them, changes operator N (name at most 20, position at most 18 characters) and\n"
     "writes them all back.\n"},
    {"goods",
     "Usage: zarvikctl goods get CODE\n"
     "       zarvikctl goods read-all [--out FILE]\n"
     "       zarvikctl goods write FILE [--reset-sold]\n"
     "get shows goods record CODE (1..9999). read-all reads the whole goods database\n"
     "and shows it, or writes it to FILE, a goods exchange file: CSV for a name\n"
     "ending in .csv, dBASE for .dbf. write reads such a file and writes every\n"
     "writable row to the register, which must be in OFF-LINE mode; rows with an\n"
     "invalid value or a code above the register's largest goods number are\n"
     "skipped. The quantity sold is kept unless --reset-sold is given.\n"},
    {"journal",
     "Usage: zarvikctl journal read [--data] [--out FILE]\n"
     "Reads the electronic journal and shows it as receipt text, or with --data as\n"
     "record lines (fields separated by \";\"). --out writes it to FILE in code page\n"
     "1251 with CR LF line ends.\n"},
    {"print",
     "Usage: zarvikctl print [--font N] [--brightness N] [TEXT...]\n"
     "Prints each TEXT as one line (without TEXT, the lines of standard input) on\n"
     "the register's printer. N of --font is 0..the model's highest font (default\n"
     "0); brightness 0..5 (default 0). A line prints at most 32 characters.\n"},
};

const char* FindHelp(std::string_view command) {
  for (const CommandHelp& h : kCommandHelp)
    if (h.name == command) return h.text;
  return nullptr;
}

std::string WorkModeText(std::uint8_t mode) {
  switch (mode) {
    case 0: return "AUTONOM";
    case 1: return "ON-LINE";
    case 2: return "OFF-LINE";
    case 3: return "FR";
    default: return "???: " + std::to_string(mode);
  }
}

std::string FixedText(Currency value, int decimals) {
  // Rounded half away from zero to `decimals`, then written with them all.
  std::int64_t scale = 1;
  for (int i = decimals; i < 4; ++i) scale *= 10;
  std::int64_t raw = value.raw;
  const std::int64_t half = scale / 2;
  raw = raw >= 0 ? (raw + half) / scale : -((-raw + half) / scale);
  std::string digits = std::to_string(raw < 0 ? -raw : raw);
  if (digits.size() <= static_cast<std::size_t>(decimals))
    digits.insert(0, static_cast<std::size_t>(decimals) + 1 - digits.size(), '0');
  std::string out =
      (raw < 0 ? "-" : "") + digits.substr(0, digits.size() - static_cast<std::size_t>(decimals));
  if (decimals > 0)
    out += DecimalSeparator() + digits.substr(digits.size() - static_cast<std::size_t>(decimals));
  return out;
}

std::string MoneyText(double roubles) {
  Currency c;
  CurrencyFromDouble(roubles, c);
  return FixedText(c, 2);
}

// Display of the goods codes (the goods grid's texts).
std::string GoodsTypeText(const TWorkTable& t) {
  if (t.IsNull("Type")) return {};
  switch (t.Int("Type")) {
    case kGoodsTypeNone: return {};
    case kGoodsTypeGoods: return "товар";
    case kGoodsTypeService: return "услуга";
    case kGoodsTypeContainer: return "тара";
    case kGoodsInvalid: return "???";
    default: return t.Text("Type");
  }
}

std::string GoodsGroupText(const TWorkTable& t) {
  if (t.IsNull("NG")) return {};
  const std::int64_t ng = t.Int("NG");
  if (ng >= 1 && ng <= kGoodsHighestTaxGroup) return std::string(1, static_cast<char>('A' + ng - 1));
  return ng == kGoodsInvalid ? "?" : std::string();
}

std::string GoodsSaleText(const TWorkTable& t) {
  if (t.IsNull("Vesovoy")) return {};
  switch (t.Int("Vesovoy")) {
    case 1: return "шт.";
    case 2: return "вес.";
    case kGoodsInvalid: return "???";
    default: return {};
  }
}

// The cells of the current goods row: for a person the grid's texts, for
// --csv the values of the goods CSV file.
std::vector<std::string> GoodsCells(const TWorkTable& t, bool csv) {
  if (csv) {
    std::vector<std::string> cells;
    for (const std::string_view f : kGoodsFields) {
      if (t.IsNull(f))
        cells.emplace_back();
      else if (f == "Price" || f == "Count")
        cells.push_back(GoodsNumberText(t.Cur(f)));
      else if (f == "isBlock")
        cells.emplace_back(t.Bool(f) ? "True" : "False");
      else
        cells.push_back(t.Text(f));
    }
    return cells;
  }
  return {t.Text("Code"),
          GoodsTypeText(t),
          t.Text("Name"),
          GoodsGroupText(t),
          t.IsNull("Price") ? std::string() : FixedText(t.Cur("Price"), 2),
          t.Text("Section"),
          GoodsSaleText(t),
          t.Text("Shtrih"),
          t.Bool("isBlock") ? "да" : "",
          t.IsNull("Count") ? std::string() : FixedText(t.Cur("Count"), 3)};
}

std::vector<std::string> GoodsHeader(const TWorkTable& t, bool csv) {
  std::vector<std::string> header;
  for (const std::string_view f : kGoodsFields) {
    const int index = t.FieldIndex(f);
    header.push_back(csv ? std::string(f) : t.Field(index).Caption());
  }
  return header;
}

bool HasExtension(const std::string& path, std::string_view ext) {
  if (path.size() < ext.size()) return false;
  return Utf8Lower(path.substr(path.size() - ext.size())) == ext;
}

// "key=value" operands.
bool SplitAssignment(const std::string& operand, std::string& key, std::string& value) {
  const std::size_t eq = operand.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  key = Utf8Lower(operand.substr(0, eq));
  value = operand.substr(eq + 1);
  return true;
}

class Session {
 public:
  Session(const CtlArgs& args, std::FILE* out, std::FILE* err) : args_(args), out_(out), err_(err) {}
  ~Session() { port_.Close(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  int Run();

 private:
  int Usage(const std::string& text) {
    std::fprintf(err_, "zarvikctl: %s\n", text.c_str());
    std::fprintf(err_, "Try 'zarvikctl %s--help'.\n", words_.empty() ? "" : (words_[0] + " ").c_str());
    return ceUsage;
  }
  static int Fail(std::string_view text) {
    Error(std::string(text), true, true, true);
    return ceFailed;
  }
  // Prints a success message of the system on standard output and logs it.
  void Done(std::string_view text) {
    Mess(std::string(text), false, true, true);
    PrintLine(out_, std::string(text));
  }
  bool Allow(const std::vector<std::string_view>& options);
  bool Setup();
  bool Connect();
  TKKMInfo& Info() { return kkm_.Info(); }

  int CmdInfo();
  int CmdOptionsGet();
  int CmdOptionsSet();
  int CmdDepartmentsGet();
  int CmdDepartmentsSet();
  int CmdReceiptGet();
  int CmdReceiptSet();
  int CmdTaxesGet();
  int CmdOperatorsGet();
  int CmdOperatorsSet();
  int CmdGoodsGet();
  int CmdGoodsReadAll();
  int CmdGoodsWrite();
  int CmdJournalRead();
  int CmdPrint();

  bool ReadReceipt();
  // Operators 1..count into the register model; false after a reported failure.
  bool ReadOperators(int count);

  const CtlArgs& args_;
  std::FILE* out_;
  std::FILE* err_;
  std::vector<std::string> words_;
  std::string usageError_;
  TComPort port_;
  TKKM kkm_{&port_};
  TProtocolKKM protocol_{&kkm_};
  std::unique_ptr<TBD> bd_;
};

bool Session::Allow(const std::vector<std::string_view>& options) {
  static constexpr std::string_view kGlobal[] = {"port", "speed", "net", "depth", "csv", "help"};
  for (const std::string& given : args_.given) {
    const bool global = std::find(std::begin(kGlobal), std::end(kGlobal), given) != std::end(kGlobal);
    const bool own = std::find(options.begin(), options.end(), given) != options.end();
    if (!global && !own) {
      usageError_ = "--" + given + " does not apply to this command";
      return false;
    }
  }
  return true;
}

bool Session::Setup() {
  // Defaults of the window program, then the command line.
  const std::string ini = ProgramIniPath();
  port_.LoadSettings(ini, std::string(kPortSection));
  if (args_.port > 0) port_.SetPortNumber(args_.port);
  if (args_.speed > 0) port_.SetBaudRate(static_cast<std::uint32_t>(args_.speed));
  int net = args_.net;
  if (net <= 0) {
    const TIniFile file(ini);
    net = file.ReadInteger(kNetSection, kNetKey, kDefaultNetworkNumber);
    if (net < 1 || net > 98) net = kDefaultNetworkNumber;
  }
  kkm_.networkNumber = static_cast<std::uint8_t>(net);
  return true;
}

bool Session::Connect() {
  if (!port_.Open()) {
    Error(std::string(kPortOpenFailed), true, true, true);
    Error(std::string(kCannotConnect), true, true, true);
    return false;
  }
  if (!protocol_.GetInfo()) {
    Error(std::string(kkm_.linkState == lsNoAnswer ? kNoAnswer : kInfoFailed), true, true, true);
    port_.Close();
    Error(std::string(kCannotConnect), true, true, true);
    return false;
  }
  return true;
}

// --- info --------------------------------------------------------------------

int Session::CmdInfo() {
  if (!Connect()) return ceFailed;
  if (!protocol_.GetDateTime()) return Fail(kDateTimeFailed);
  if (!protocol_.GetOptions()) return Fail(kOptionsFailed);
  const int operators = protocol_.GetOperatorCount();
  const TKKMInfo& i = Info();
  const bool described = i.OptionDescription(1).find(kDefMark) == std::string::npos;
  PrintPairs(out_,
             {{"Модель", i.model},
              {"Серийный номер", i.serialNumber},
              {"Версия", i.version},
              {"Режим", WorkModeText(i.workMode)},
              {"Дата", i.dateText},
              {"Время", i.timeText},
              {"Порт", "COM" + std::to_string(port_.PortNumber())},
              {"Скорость", std::to_string(port_.BaudRate())},
              {"Сетевой №", std::to_string(kkm_.networkNumber)},
              {"Описание модели", described ? i.DescriptorPath() : "нет"},
              {"Опций", std::to_string(i.OptionCount())},
              {"Отделов", std::to_string(i.maxCountDepat)},
              {"Шрифтов", std::to_string(i.FontCount())},
              {"Макс.№ товара", std::to_string(i.MaxCountGoods())},
              {"Операторов", std::to_string(operators)}},
             args_.csv);
  return ceOk;
}

// --- options -----------------------------------------------------------------

std::string IntervalText(const TOptionsInfo& o) {
  std::string text = std::to_string(o.minValue) + " - " + std::to_string(o.maxValue);
  if (o.canNull && o.minValue != 0) text = "0; " + text;
  return text;
}

bool InInterval(const TOptionsInfo& o, std::int64_t v) {
  return (v >= o.minValue && v <= o.maxValue) || (v == 0 && o.canNull);
}

int Session::CmdOptionsGet() {
  if (!Connect()) return ceFailed;
  if (!protocol_.GetOptions()) return Fail(kOptionsFailed);
  const TKKMInfo& i = Info();
  CtlTable table{{"№", "Знач.", "Интервал", "Описание"}, {}};
  for (int n = 1; n <= i.OptionCount(); ++n) {
    const TOptionsInfo& o = i.options[static_cast<std::size_t>(n - 1)];
    table.rows.push_back({std::to_string(n), std::to_string(i.optionValues[static_cast<std::size_t>(n - 1)]),
                          IntervalText(o), o.description});
  }
  PrintTable(out_, table, args_.csv);
  return ceOk;
}

int Session::CmdOptionsSet() {
  std::map<int, std::int64_t> changes;
  for (std::size_t k = 2; k < words_.size(); ++k) {
    std::string key;
    std::string value;
    std::int64_t n = 0;
    std::int64_t v = 0;
    if (!SplitAssignment(words_[k], key, value) || !ParseInteger(key, 1, kOptionSlotCount, n) ||
        !ParseInteger(value, 0, kHighestOptionValue, v))
      return Usage("\"" + words_[k] + "\" is not N=V with an option number N and a value 0..255");
    changes[static_cast<int>(n)] = v;
  }
  if (changes.empty()) return Usage("options set needs at least one N=V");
  if (!Connect()) return ceFailed;
  if (!protocol_.GetOptions()) return Fail(kOptionsFailed);
  TKKMInfo& i = Info();
  for (const auto& [n, v] : changes) {
    if (n > i.OptionCount())
      return Usage("option " + std::to_string(n) + ": the register has " + std::to_string(i.OptionCount()) +
                   " options");
    const TOptionsInfo& o = i.options[static_cast<std::size_t>(n - 1)];
    if (!InInterval(o, v)) {
      Error("опция вне интервала!", false, true, true);
      return Usage("option " + std::to_string(n) + ": " + std::to_string(v) + " is outside " +
                   IntervalText(o));
    }
  }
  for (const auto& [n, v] : changes)
    i.optionValues[static_cast<std::size_t>(n - 1)] = static_cast<std::uint8_t>(v);
  if (!protocol_.SetOptions()) return Fail("опции не записались");
  Done("опции записаны");
  return ceOk;
}

// --- departments ---------------------------------------------------------------

int Session::CmdDepartmentsGet() {
  if (!Connect()) return ceFailed;
  const TKKMInfo& i = Info();
  CtlTable table{{"№", "Статус", "Наименование", "НГ", "Цена"}, {}};
  TProgress progress(err_, "отделы");
  for (int n = 1; n <= i.DepartmentCount(); ++n) {
    progress.Show(n, i.DepartmentCount());
    if (!protocol_.GetDepartment(n)) return Fail("не удалось получить информацию о отделах");
  }
  progress.Done();
  for (int n = 1; n <= i.DepartmentCount(); ++n) {
    const TDepRec& d = i.departments[static_cast<std::size_t>(n - 1)];
    table.rows.push_back({std::to_string(n), d.status, d.name, d.taxGroup, MoneyText(d.price)});
  }
  PrintTable(out_, table, args_.csv);
  Mess("Отделы загружены", false, true, true);
  return ceOk;
}

int Session::CmdDepartmentsSet() {
  std::int64_t number = 0;
  if (words_.size() < 3 || !ParseInteger(words_[2], 1, kMaxDepartments, number))
    return Usage("departments set needs a department number 1..99");
  if (words_.size() < 4) return Usage("departments set needs at least one of status=, name=, group=, price=");
  const std::string goods = LangResStrHandler.Text(ltDepGoods);
  const std::string service = LangResStrHandler.Text(ltDepService);
  const std::string closed = LangResStrHandler.Text(ltDepClosed);
  std::string status;
  std::string name;
  std::string group;
  Currency price;
  bool hasStatus = false;
  bool hasName = false;
  bool hasGroup = false;
  bool hasPrice = false;
  for (std::size_t k = 3; k < words_.size(); ++k) {
    std::string key;
    std::string value;
    if (!SplitAssignment(words_[k], key, value)) return Usage("\"" + words_[k] + "\" is not KEY=VALUE");
    if (key == "status") {
      const std::string v = Utf8Lower(value);
      if (v == Utf8Lower(goods) || v == "goods")
        status = goods;
      else if (v == Utf8Lower(service) || v == "service")
        status = service;
      else if (v == Utf8Lower(closed) || v == "closed")
        status = closed;
      else
        return Usage("status: \"" + value + "\" is not " + goods + ", " + service + " or " + closed);
      hasStatus = true;
    } else if (key == "name") {
      if (Utf8Length(value) > kDepartmentNameWidth || !IsCp1251Text(value))
        return Usage("name: at most 22 characters of the register's alphabet");
      name = value;
      hasName = true;
    } else if (key == "group") {
      group = Utf8Upper(value);
      if (!(group.size() == 1 && group[0] >= 'A' && group[0] <= 'E'))
        return Usage("group: \"" + value + "\" is not a tax group A..E");
      hasGroup = true;
    } else if (key == "price") {
      if (!CurrencyFromText(value, price) || price.raw < 0 || price.raw % 100 != 0 ||
          price.raw / 100 > kPriceLimitKopecks)
        return Usage("price: \"" + value + "\" is not an amount in roubles with at most two decimals");
      hasPrice = true;
    } else {
      return Usage("unknown department field \"" + key + "\" (status, name, group, price)");
    }
  }
  if (!Connect()) return ceFailed;
  TKKMInfo& i = Info();
  if (number > i.DepartmentCount())
    return Usage("the register has " + std::to_string(i.DepartmentCount()) + " departments");
  const int n = static_cast<int>(number);
  if (!protocol_.GetDepartment(n)) return Fail("не удалось получить информацию о отделах");
  TDepRec& d = i.departments[static_cast<std::size_t>(n - 1)];
  if (hasStatus) d.status = status;
  if (hasName) d.name = name;
  if (hasGroup) d.taxGroup = group;
  if (hasPrice) d.price = HundredthsToMoney(price.raw / 100);
  if (d.status == closed) {
    if (!hasStatus && (hasName || hasGroup || hasPrice))
      return Usage("department " + std::to_string(n) + " is closed; open it with status=" + goods + " or " +
                   service);
    // A closed department keeps neither name, tax group nor price.
    d.name.clear();
    d.taxGroup.clear();
    d.price = 0.0;
  } else if (d.status != goods && d.status != service) {
    return Usage("department " + std::to_string(n) + " needs status=" + goods + " or " + service);
  }
  if (!protocol_.SetDepartment(n)) return Fail("не удалось записать информацию о отделах");
  Done("Записаны отделы");
  return ceOk;
}

// --- receipt -------------------------------------------------------------------

bool Session::ReadReceipt() {
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

int Session::CmdReceiptGet() {
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

int Session::CmdReceiptSet() {
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
    if (Utf8Length(value) > kReceiptLineWidth) return Usage(key + ": at most 32 characters");
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
  if (!ReadReceipt()) return ceFailed;
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

// --- taxes ---------------------------------------------------------------------

int Session::CmdTaxesGet() {
  if (!Connect()) return ceFailed;
  for (int n = 1; n <= kTaxCount; ++n)
    if (!protocol_.GetTax(n)) return Fail("не удалось получить информацию о налогах");
  const TKKMInfo& i = Info();
  CtlTable table{{"№", "Определен", "Наименование", "Тип", "Процент"}, {}};
  for (int n = 1; n <= kTaxCount; ++n) {
    const TTaxRec& t = i.taxes[static_cast<std::size_t>(n - 1)];
    const bool defined = t.defined == kTaxDefined;
    std::string kind;
    if (defined) kind = t.kind == 0 ? "Начисляемый" : t.kind == 1 ? "Выделяемый" : std::to_string(t.kind);
    table.rows.push_back({std::to_string(n), defined ? "да" : "нет", defined ? t.name : "", kind,
                          defined ? MoneyText(t.rate) : ""});
  }
  PrintTable(out_, table, args_.csv);
  Mess("Загружена информация о налогах", false, true, true);
  return ceOk;
}

// --- operators -----------------------------------------------------------------

bool Session::ReadOperators(int count) {
  for (int n = 1; n <= count; ++n) {
    if (!protocol_.GetOperatorName(n)) {
      Error("не удалось получить информацию о операторах", true, true, true);
      return false;
    }
    if (!protocol_.GetPosition(n)) {
      Error("не удалось получить информацию о должностях", true, true, true);
      return false;
    }
  }
  return true;
}

int Session::CmdOperatorsGet() {
  if (!Connect()) return ceFailed;
  const int count = protocol_.GetOperatorCount();
  if (count == 0) return Fail("Данная ККМ не поддерживает программирование операторов");
  if (!ReadOperators(count)) return ceFailed;
  const TKKMInfo& i = Info();
  CtlTable table{{"№", "Оператор", "Должность"}, {}};
  for (int n = 1; n <= count; ++n)
    table.rows.push_back({std::to_string(n), i.operatorNames[static_cast<std::size_t>(n - 1)],
                          i.positions[static_cast<std::size_t>(n - 1)]});
  PrintTable(out_, table, args_.csv);
  Mess("Загружены операторы и должности", false, true, true);
  return ceOk;
}

int Session::CmdOperatorsSet() {
  std::int64_t number = 0;
  if (words_.size() < 3 || !ParseInteger(words_[2], 1, kOperatorCount, number))
    return Usage("operators set needs an operator number 1..8");
  if (words_.size() < 4) return Usage("operators set needs name= or position=");
  std::string name;
  std::string position;
  bool hasName = false;
  bool hasPosition = false;
  for (std::size_t k = 3; k < words_.size(); ++k) {
    std::string key;
    std::string value;
    if (!SplitAssignment(words_[k], key, value)) return Usage("\"" + words_[k] + "\" is not KEY=VALUE");
    if (key == "name") {
      if (Utf8Length(value) > kOperatorNameWidth) return Usage("name: at most 20 characters");
      name = value;
      hasName = true;
    } else if (key == "position") {
      if (Utf8Length(value) > kPositionWidth) return Usage("position: at most 18 characters");
      position = value;
      hasPosition = true;
    } else {
      return Usage("unknown operator field \"" + key + "\" (name, position)");
    }
  }
  if (!Connect()) return ceFailed;
  const int count = protocol_.GetOperatorCount();
  if (count == 0) return Fail("Данная ККМ не поддерживает программирование операторов");
  if (number > count) return Usage("the register has " + std::to_string(count) + " operators");
  if (!ReadOperators(count)) return ceFailed;
  TKKMInfo& i = Info();
  const auto index = static_cast<std::size_t>(number - 1);
  if (hasName) i.operatorNames[index] = name;
  if (hasPosition) i.positions[index] = position;
  Mess("Начало: операторы", false, true, true);
  for (int n = 1; n <= count; ++n) {
    const std::string partly = "Записано только " + std::to_string(n - 1) + " стр.";
    if (!protocol_.SetOperatorName(n))
      return Fail(n == 1 ? std::string("не удалось записать информацию о операторах") : partly);
    if (!protocol_.SetPosition(n))
      return Fail(n == 1 ? std::string("не удалось записать информацию о должностях") : partly);
  }
  Done("Записаны операторы и должности");
  return ceOk;
}

// --- goods ---------------------------------------------------------------------

int Session::CmdGoodsGet() {
  std::int64_t code = 0;
  if (words_.size() != 3 || !ParseInteger(words_[2], 1, kHighestGoodsRequestCode, code))
    return Usage("goods get needs one goods code 1..9999");
  if (!Connect()) return ceFailed;
  if (!protocol_.GetGoods(static_cast<int>(code))) return ceFailed;  // CheckAnswer said why
  TWorkTable& t = bd_->mtTOBAP;
  ClearRows(t);
  t.Append();
  if (!GoodsRecordToRow(Info(), t)) {
    t.Cancel();
    return Fail(ErrorText(kResultBadGoodsCode));
  }
  t.Post();
  const std::vector<std::string> header = GoodsHeader(t, args_.csv);
  const std::vector<std::string> cells = GoodsCells(t, args_.csv);
  if (args_.csv) {
    PrintTable(out_, CtlTable{header, {cells}}, true);
  } else {
    Pairs pairs;
    for (std::size_t k = 0; k < header.size(); ++k) pairs.emplace_back(header[k], cells[k]);
    PrintPairs(out_, pairs, false);
  }
  Mess("1 товар загружен", false, true, true);
  return ceOk;
}

int Session::CmdGoodsReadAll() {
  const std::string& file = args_.out;
  if (!file.empty() && !HasExtension(file, ".csv") && !HasExtension(file, ".dbf"))
    return Usage("--out: a goods exchange file ends in .csv or .dbf");
  if (!Connect()) return ceFailed;
  TWorkTable& t = bd_->mtTOBAP;
  TKKMInfo& i = Info();
  Mess("Загружаем товар...", false, true, true);
  ClearRows(t);
  std::int64_t lastCode = 0;
  int received = 0;
  int errors = 0;
  TProgress progress(err_, "товар");
  t.DisableControls();
  const bool ok = protocol_.ReadAllGoods([&](TMessageBuffer& answer, bool&) {
    progress.Show(++received, i.MaxCountGoods());
    const std::span<const std::uint8_t> bytes = answer.View();
    if (bytes.size() <= kResultOffset) return;
    const int status = bytes[kResultOffset];
    if (status == kResultNotFound || status == kResultBadGoodsCode) return;
    if (status != 0) {
      Error(ErrorText(status), true, true, true);
      ++errors;
      return;
    }
    if (bytes.size() < kRecordOffset + kGoodsRecordSize) {
      Error(std::string(kWrongAnswerSize), true, true, true);
      ++errors;
      return;
    }
    std::copy_n(bytes.begin() + kRecordOffset, kGoodsRecordSize, i.GoodsRecord.begin());
    std::int64_t code = 0;
    if (!GoodsRecordCode(i, code)) {
      // A record whose code is no number is reported and skipped.
      Error(ErrorText(kResultBadGoodsCode), true, true, true);
      ++errors;
      return;
    }
    if (code <= lastCode) return;  // a repeated record
    lastCode = code;
    t.Append();
    GoodsRecordToRow(i, t);
    t.Post();
  });
  t.EnableControls();
  progress.Done();
  if (!ok) return Fail("Сбой при загрузке товара");
  Mess("Товар загружен", false, true, true);
  if (file.empty()) {
    CtlTable table{GoodsHeader(t, args_.csv), {}};
    for (t.First(); !t.Eof(); t.Next()) table.rows.push_back(GoodsCells(t, args_.csv));
    PrintTable(out_, table, args_.csv);
  } else {
    const bool written = HasExtension(file, ".csv") ? ExportGoodsCsv(t, file) : ExportGoodsDbf(t, file);
    if (!written) return ceFailed;
    Done("Записано " + std::to_string(CountRows(t)) + " тов. в " + file);
  }
  return errors == 0 ? ceOk : ceFailed;
}

int Session::CmdGoodsWrite() {
  if (words_.size() != 3) return Usage("goods write needs one file");
  const std::string file = words_[2];
  const bool csv = HasExtension(file, ".csv");
  if (!csv && !HasExtension(file, ".dbf")) return Usage("a goods exchange file ends in .csv or .dbf");
  if (!Connect()) return ceFailed;
  TKKMInfo& i = Info();
  TWorkTable& t = bd_->mtTOBAP;
  if (!(csv ? ImportGoodsCsv(file, t) : ImportGoodsDbf(file, t, GoodsImportLimit(&kkm_)))) return ceFailed;
  if (i.workMode != kOffLineMode) return Fail("Запись возможна только в OFF-LINE режиме");
  Mess("Записываем товар...", false, true, true);
  i.keepSoldCount = !args_.resetSold;
  const int rows = CountRows(t);
  int written = 0;
  int skipped = 0;  // rows the register cannot take, as the goods page skips them
  int row = 0;
  TProgress progress(err_, "товар");
  for (t.First(); !t.Eof(); t.Next()) {
    progress.Show(++row, rows);
    if (!IsGoodsRowWritable(t, i.maxCountDepat) || t.Int("Code") > i.MaxCountGoods()) {
      ++skipped;
      continue;
    }
    if (!GoodsRowToRecord(t, i)) {
      Warning("Товар " + t.Text("Code") + " не записан", false, true, true);
      ++skipped;
      continue;
    }
    if (!protocol_.SetGoods()) {
      progress.Done();
      return Fail("Сбой при записи товара");
    }
    ++written;
  }
  progress.Done();
  if (skipped > 0) Warning("Пропущено " + std::to_string(skipped) + " тов.", false, true, true);
  Done("Записано " + std::to_string(written) + " тов.");
  return ceOk;
}

// --- journal -------------------------------------------------------------------

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

int Session::CmdJournalRead() {
  if (!Connect()) return ceFailed;
  Mess("Загружаем ОТЧЕТ...", false, true, true);
  std::vector<std::string> source;
  std::vector<std::string> text;
  int errors = 0;
  TProgress progress(err_, "записи журнала");
  const bool ok = protocol_.ReadJournal([&](TMessageBuffer& answer, bool& more) {
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
  });
  progress.Done();
  if (!ok) return Fail("Сбой при загрузке ОТЧЕТА");
  Mess("ОТЧЕТ загружен", false, true, true);
  const std::vector<std::string>& lines = args_.data ? source : text;
  if (args_.out.empty()) {
    for (const std::string& line : lines) PrintLine(out_, line);
  } else {
    std::string all;
    for (const std::string& line : lines) all += line + "\r\n";
    if (!WriteTextFile(args_.out, Utf8ToCp1251(all))) return Fail("Не удалось записать файл " + args_.out);
  }
  return errors == 0 ? ceOk : ceFailed;
}

// --- print ---------------------------------------------------------------------

int Session::CmdPrint() {
  std::vector<std::string> lines(words_.begin() + 1, words_.end());
  if (words_.size() == 1) {
    std::string line;
    for (int c = std::fgetc(stdin); c != EOF; c = std::fgetc(stdin)) {
      if (c == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        line.clear();
      } else {
        line.push_back(static_cast<char>(c));
      }
    }
    if (!line.empty()) lines.push_back(line);
  }
  if (!Connect()) return ceFailed;
  const int font = args_.font < 0 ? 0 : args_.font;
  const int brightness = args_.brightness < 0 ? kDefaultBrightness : args_.brightness;
  if (font > Info().maxCountFont)
    return Usage("--font: the register's fonts are 0.." + std::to_string(Info().maxCountFont));
  for (const std::string& line : lines)
    if (!protocol_.PrintLine(font, brightness, line)) return Fail("не удалось напечатать текст");
  Done("напечатано");
  return ceOk;
}

// --- dispatch ------------------------------------------------------------------

int Session::Run() {
  words_ = args_.words;
  if (words_.empty()) {
    std::fputs(kProgramHelp, args_.help ? out_ : err_);
    return args_.help ? ceOk : ceUsage;
  }
  const std::string command = Utf8Lower(words_[0]);
  if (command == "help") {
    const char* text = words_.size() > 1 ? FindHelp(Utf8Lower(words_[1])) : kProgramHelp;
    if (text == nullptr) return Usage("unknown command \"" + words_[1] + "\"");
    std::fputs(text, out_);
    return ceOk;
  }
  const char* help = FindHelp(command);
  if (help == nullptr) return Usage("unknown command \"" + words_[0] + "\"");
  if (args_.help) {
    std::fputs(help, out_);
    return ceOk;
  }
  const std::string sub = words_.size() > 1 ? Utf8Lower(words_[1]) : std::string();
  using Handler = int (Session::*)();
  struct Entry {
    std::string_view command;
    std::string_view sub;  // empty: the command takes no subcommand
    Handler handler;
    std::vector<std::string_view> options;
  };
  static const Entry kEntries[] = {
      {"info", "", &Session::CmdInfo, {}},
      {"options", "get", &Session::CmdOptionsGet, {}},
      {"options", "set", &Session::CmdOptionsSet, {}},
      {"departments", "get", &Session::CmdDepartmentsGet, {}},
      {"departments", "set", &Session::CmdDepartmentsSet, {}},
      {"receipt", "get", &Session::CmdReceiptGet, {}},
      {"receipt", "set", &Session::CmdReceiptSet, {"header-font", "footer-font"}},
      {"taxes", "get", &Session::CmdTaxesGet, {}},
      {"operators", "get", &Session::CmdOperatorsGet, {}},
      {"operators", "set", &Session::CmdOperatorsSet, {}},
      {"goods", "get", &Session::CmdGoodsGet, {}},
      {"goods", "read-all", &Session::CmdGoodsReadAll, {"out"}},
      {"goods", "write", &Session::CmdGoodsWrite, {"reset-sold"}},
      {"journal", "read", &Session::CmdJournalRead, {"data", "out"}},
      {"print", "", &Session::CmdPrint, {"font", "brightness"}},
  };
  for (const Entry& e : kEntries) {
    if (e.command != command) continue;
    if (!e.sub.empty() && e.sub != sub) continue;
    if (e.sub.empty() && command != "print" && words_.size() > 1)
      return Usage(command + " takes no arguments");
    if (!Allow(e.options)) return Usage(usageError_);
    Setup();
    bd_ = std::make_unique<TBD>();
    return (this->*e.handler)();
  }
  return Usage(sub.empty() ? command + " needs a subcommand" : "unknown subcommand \"" + words_[1] + "\"");
}

}  // namespace

int RunZarvikCtl(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  CtlArgs parsed;
  std::string error;
  if (!ParseCtlArgs(args, parsed, error)) {
    std::fprintf(err, "zarvikctl: %s\nTry 'zarvikctl --help'.\n", error.c_str());
    return ceUsage;
  }
  // Switches as the window program's command line would set them, with
  // "autonom" always on.
  ResetSwitches();
  std::vector<std::string> switches{"autonom"};
  if (!parsed.depth.empty()) switches.push_back(parsed.depth);
  ParseSwitches(switches);
  TStderrConsole console(MessDepth > mdUser, err);
  SetConsole(&console);
  int result = ceFailed;
  {
    Session session(parsed, out, err);
    result = session.Run();
  }
  SetConsole(nullptr);
  std::fflush(out);
  return result;
}

}  // namespace zarvik::ctl
