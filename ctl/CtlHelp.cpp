#include "CtlHelp.h"

namespace zarvik::ctl {

namespace {

constexpr std::string_view kIntro =
    "Usage: zarvikctl [OPTIONS] COMMAND [SUBCOMMAND] [ARGS]\n"
    "\n"
    "The register's commands from the command line. Port, speed and network number\n"
    "default to those of ZarvikConfig.ini (sections \"Port\" and \"NET\"): in the\n"
    "current folder, or for an installed program in $XDG_CONFIG_HOME/ZarvikConfig\n"
    "(~/.config/ZarvikConfig; ZARVIK_PORTABLE=1: the current folder). Ports are\n"
    "numbers mapped to devices as in the window program (see zarvikctl(1)).\n"
    "\n";

constexpr std::string_view kCommands =
    "Commands:\n"
    "  info                          identity, date and time, capacities\n"
    "  options get | set N=V...      the option table\n"
    "  departments get | set N ...   the departments\n"
    "  receipt get | set ...         receipt header and footer lines and fonts\n"
    "  taxes get                     the tax rates (read only)\n"
    "  operators get | set N ...     operator names and positions\n"
    "  goods get CODE                one goods record\n"
    "  goods read-all [--out FILE]   the whole goods database\n"
    "  goods write FILE              goods from a .csv, .dbf, .xlsx or .ods file\n"
    "  goods diff FILE               what goods write FILE would change\n"
    "  goods convert IN OUT          a goods file to another kind, no register\n"
    "  journal read [--data]         the electronic journal\n"
    "  journal summary | check       the journal's totals, or its figures checked\n"
    "  print [TEXT...]               free text on the register's printer\n"
    "  ports [--all]                 the serial ports: device, by-id name, state\n"
    "  find [PORT...] [--save]       searches the ports and speeds for the register\n"
    "  config export | diff | apply FILE  the settings as a text file\n"
    "  fleet FLEETFILE COMMAND ...   one command on many registers at once\n";

constexpr std::string_view kOptionsAndStatus =
    "\n"
    "Options:\n"
    "  --port N       port number 1..256 (COMn)\n"
    "  --speed N      9600, 19200, 38400, 57600 or 115200\n"
    "  --net N        network number of the register, 1..98\n"
    "  --depth WORD   trace depth: mdapplied, mdfunctional, mdsystem, mdhardware, debug;\n"
    "                 the trace goes to standard error\n"
    "  --csv          tables as semicolon-separated values\n"
    "  --json         (info, config diff, config apply, goods diff, goods write,\n"
    "                 journal read) one JSON\n"
    "                 object on standard output: the result, the counts and every\n"
    "                 message, which then go nowhere else\n"
    "  --no-backup    (commands that write) no backup of the register's values first\n"
    "  --help, -h     this text; with a command, that command's help\n"
    "\n"
    "Before a command writes settings or goods, the register's values of what it\n"
    "writes are read and kept, as the window program keeps them: settings as a\n"
    "profile \"Авто DD.MM.YYYY HH:MM:SS\" of the register in bd/ (the window's\n"
    "profile list shows it; select it there and write it back to undo the change),\n"
    "goods as bd/backup/goods_SERIAL_YYYYMMDD_HHMMSS.dbf (zarvikctl goods write takes\n"
    "it back): the goods written when they are at most 50, else all of them. The\n"
    "last 10 of each kind are kept per register ([Backup] KEEP of ZarvikConfig.ini);\n"
    "[Backup] ENABLED=0 or --no-backup skips the backup. The read costs one command\n"
    "per department, receipt line, operator name and position and goods record\n"
    "(at 9600 baud about 0.14 s each, 0.23 s per goods record read alone, 0.09 s\n"
    "per goods record of a whole table).\n"
    "\n"
    "The word CONFIG_STOP among the arguments switches off the commands that write\n"
    "settings (options, departments, receipt and operators set), as it does in the\n"
    "window program; goods, journal and print stay available.\n"
    "\n"
    "SIGINT (Ctrl-C) or SIGTERM during goods read-all, goods write or journal read\n"
    "stops the transfer at the next record, says how far it got, leaves an --out\n"
    "file as it was and exits with 130; a second signal ends the program at once.\n"
    "During find it stops the search the same way.\n"
    "\n"
    "Exit status: 0 done, 1 the register, port or a file failed (the message is on\n"
    "standard error), 2 bad arguments or a command CONFIG_STOP refuses, 130 stopped\n"
    "by a signal.\n";

}  // namespace

std::string ProgramHelp() {
  return std::string(kIntro) + std::string(kCommands) + std::string(kOptionsAndStatus);
}

std::string CommandList() {
  return std::string(kCommands);
}

namespace {

struct CommandHelp {
  std::string_view name;
  const char* text;
};

constexpr CommandHelp kCommandHelp[] = {
    {"info",
     "Usage: zarvikctl info [--json]\n"
     "Identifies the register (model, serial number, version, work mode), reads its\n"
     "date and time, the option count and the number of programmable operators, and\n"
     "shows the capacities of its model descriptor and the largest goods number.\n"},
    {"options",
     "Usage: zarvikctl options get\n"
     "       zarvikctl options set N=V [N=V...]\n"
     "get shows number, value, interval and description of every option. set reads\n"
     "the options, changes option N to value V and writes them all back; a value\n"
     "outside the option's interval (from the model descriptor) is refused and\n"
     "nothing is written. set keeps the register's options as a backup first\n"
     "(--no-backup skips it).\n"},
    {"departments",
     "Usage: zarvikctl departments get\n"
     "       zarvikctl departments set N [status=S] [name=TEXT] [group=G] [price=P]\n"
     "get shows the departments 1..the model's department count. set reads\n"
     "department N, changes the given fields and writes it. S is Товар, Услуга or\n"
     "Закрыто (or goods, service, closed); a closed department has no name, tax\n"
     "group or price. G is a tax group A..E; TEXT at most 22 characters; P the price\n"
     "limit in roubles with at most two decimals. A character the register cannot\n"
     "print (outside its code page 1251 letters, digits and signs) is refused with\n"
     "its name. set keeps all the register's departments as a backup first\n"
     "(--no-backup skips it).\n"},
    {"receipt",
     "Usage: zarvikctl receipt get\n"
     "       zarvikctl receipt set [--header-font N] [--footer-font N] [header.L=TEXT]\n"
     "                             [footer.L=TEXT]...\n"
     "get shows the six header and six footer lines with their fonts. set reads them,\n"
     "changes the given lines (L = 1..6, TEXT at most 32 characters) and fonts\n"
     "(0..the model's highest font) and writes all twelve lines back. Characters the\n"
     "register cannot print are refused; the lines are kept as a backup first\n"
     "(--no-backup skips it).\n"},
    {"taxes",
     "Usage: zarvikctl taxes get\n"
     "Shows the five tax rates (the register's taxes cannot be written).\n"},
    {"operators",
     "Usage: zarvikctl operators get\n"
     "       zarvikctl operators set N [name=TEXT] [position=TEXT]\n"
     "get shows the names and positions of the register's 4 or 8 operators. set reads\n"
     "them, changes operator N (name at most 20, position at most 18 characters) and\n"
     "writes them all back. Characters the register cannot print are refused; the\n"
     "operators are kept as a backup first (--no-backup skips it).\n"},
    {"goods",
     "Usage: zarvikctl goods get CODE\n"
     "       zarvikctl goods read-all [--out FILE]\n"
     "       zarvikctl goods write FILE [--reset-sold] [--all] [--dry-run] [--json]\n"
     "       zarvikctl goods diff FILE [--reset-sold] [--json]\n"
     "       zarvikctl goods convert IN OUT\n"
     "       (write, diff and convert take [--sheet NAME] [--column FIELD=HEADER]...)\n"
     "get shows goods record CODE (1..9999). read-all reads the whole goods database\n"
     "and shows it (with --csv the ten columns of the goods CSV file under a header\n"
     "line), or writes it to FILE, a goods exchange file: CSV for a name ending in\n"
     ".csv, dBASE for .dbf, a workbook for .xlsx. write reads such a file (or a\n"
     "spreadsheet's .ods) and writes every writable row to the register, which must\n"
     "be in OFF-LINE mode. convert reads one goods file and writes another kind (or\n"
     "the same), without a register and without a row limit.\n"
     "A CSV file is read as UTF-8 when it starts with a byte order mark or is valid\n"
     "UTF-8 with letters beyond ASCII, else as code page 1251; a header line whose\n"
     "first value is Code (what --csv prints) is skipped. CSV files are written in\n"
     "code page 1251. A dBASE file may come from another program: its text is read\n"
     "in the code page a .cpg file beside it names (1251 or UTF-8).\n"
     "A spreadsheet (.xlsx, .ods; the first sheet, or the one --sheet names) is read\n"
     "by its header row, the first of the first 10 rows that names the code and the\n"
     "name or the price; columns are matched by name (Code or Код, Код товара, ПЛУ,\n"
     "PLU; Name or Наименование, Название, Товар; Price or Цена, Цена продажи,\n"
     "Розничная цена; Shtrih or Штрихкод, Штрих-код, EAN, Barcode; Section or Отдел,\n"
     "Секция; NG or Налоговая группа, НГ, Налог; Type or Тип; Vesovoy or Весовой;\n"
     "isBlock or Блокировка; Count or Продано), in any case, without regard to\n"
     "blanks, dots, hyphens and ё. --column FIELD=HEADER (once per field; HEADER may\n"
     "be a column letter) names the others. Rows without a code (a total line) and\n"
     "cells that cannot be taken are named as Лист1!D7 and skipped.\n"
     "Before writing, every row is checked against the connected register: the code\n"
     "within its goods numbers and once in the file, a known type, a price of at\n"
     "most two decimals that the price field holds, an open department, a tax group\n"
     "the register has, piece or weight, a barcode of EAN-13, EAN-8 or UPC-A with\n"
     "its check digit. Any error refuses the whole file, each named with its line or\n"
     "record, code, field and what the register allows, and nothing is written (exit\n"
     "status 2). Warnings (a name cut to 32 characters or with characters the\n"
     "register cannot print, a barcode of the shop's own range starting with 2, the\n"
     "same barcode on two codes) are listed and the write goes on.\n"
     "Then the register's goods are read (those of the file one by one when they are\n"
     "at most 50, else the whole table as one stream) and only the rows that differ\n"
     "from them are sent; codes the register lacks are written. The quantity sold is\n"
     "kept unless --reset-sold is given (then a row whose record has sold is sent\n"
     "too). --all sends every row. The same read makes the backup file of the\n"
     "register's goods (--no-backup skips it). The result line is \"записано N (новых\n"
     "M), без изменений K, пропущено с ошибками 0\".\n"
     "diff (and write --dry-run) checks and prints what a write would change, one\n"
     "line per field (CODE: field: register -> file, new codes as CODE: новый\n"
     "товар), and \"изменится N, новых M, без изменений K\"; --dry-run exits with 0\n"
     "when the file passes the checks, 2 when it does not.\n"},
    {"journal",
     "Usage: zarvikctl journal read [--data] [--out FILE] [--json]\n"
     "Reads the electronic journal and shows it as receipt text, or with --data as\n"
     "record lines (fields separated by \";\"). --out writes it to FILE in code page\n"
     "1251 with CR LF line ends.\n"
     "       zarvikctl journal read [--receipts FILE] [--lines FILE] [--xlsx FILE] [--utf8]\n"
     "       zarvikctl journal summary [--from DD.MM.YY] [--to DD.MM.YY] [--goods FILE] [--csv]\n"
     "       zarvikctl journal check\n"
     "--receipts writes one row per receipt (kind, number, date, time, operator,\n"
     "sums, discounts and surcharges, payment, change, sums by tax rate, annulled,\n"
     "repeated), --lines one row per operation (receipt, position, record, goods\n"
     "code, department, quantity, price, sum, tax group, annulled); as CSV (\";\",\n"
     "code page 1251, or UTF-8 with a byte order mark with --utf8), or as a workbook\n"
     "when FILE ends in .xlsx. --xlsx writes both tables as the sheets of one\n"
     "workbook.\n"
     "summary prints the totals of sales, returns, annulments, discounts and\n"
     "surcharges, the receipt count and the average receipt, and the sales by\n"
     "payment kind, tax group, department, goods (named from the goods file of\n"
     "--goods: .csv, .dbf, .xlsx or .ods), hour and day; --from and --to keep the\n"
     "receipts of those days.\n"
     "check names every receipt whose lines, discounts and surcharges do not give\n"
     "its subtotal and total, whose sums by tax rate differ from its lines, whose\n"
     "payment does not cover its total or gives change on a card, and every gap or\n"
     "repeat in the receipt numbers; exit status 1 when it finds any.\n"
     "--in FILE takes the journal from a file saved with --data (or by the window\n"
     "program's \"Сохранить данные в файл\") instead of the register.\n"},
    {"print",
     "Usage: zarvikctl print [--font N] [--brightness N] [TEXT...]\n"
     "Prints each TEXT as one line (without TEXT, the lines of standard input) on\n"
     "the register's printer. N of --font is 0..the model's highest font (default\n"
     "0); brightness 0..5 (default 0). A line prints at most 32 characters. A line\n"
     "with characters the register cannot print is printed all the same, with a\n"
     "warning naming them.\n"},
    {"ports",
     "Usage: zarvikctl ports [--all]\n"
     "Shows the serial ports the window program lists: the port (COMn), the device\n"
     "behind it, its stable name in /dev/serial/by-id (USB adapters keep it whatever\n"
     "ttyUSBn they get; use it in the section \"Devices\" of ZarvikConfig.ini), and\n"
     "its state: free, BUSY (another program holds it), NO ACCESS (your user may not\n"
     "open it, with the remedy: membership of the group dialout), NOT SERIAL (the\n"
     "device is no serial line). --all also shows ports mapped in \"Devices\" whose\n"
     "device is missing.\n"},
    {"find",
     "Usage: zarvikctl find [PORT...] [--save]\n"
     "Searches for the register: every PORT given (numbers or COMn; without them\n"
     "--port, else every port \"zarvikctl ports\" lists) at 9600, 19200, 38400, 57600\n"
     "and 115200 baud, the configured speed (--speed or ZarvikConfig.ini) first, with\n"
     "the configured network number. A port that does not open is skipped. Each speed\n"
     "gets one poll; a port and speed that answer are confirmed by identifying the\n"
     "register. One line per attempt says what was tried and what answered; the\n"
     "first register found ends the search. A silent port costs about 1.5 s (five\n"
     "polls of 0.3 s). --save writes the port and speed found into the section\n"
     "\"Port\" of ZarvikConfig.ini. Exit status 1 when no register answered, 130 when\n"
     "stopped by SIGINT or SIGTERM.\n"},
    {"config",
     "Usage: zarvikctl config export FILE\n"
     "       zarvikctl config diff FILE [--json]\n"
     "       zarvikctl config apply FILE [--dry-run] [--no-backup] [--json]\n"
     "export reads the register's settings and writes them to FILE as UTF-8 text:\n"
     "the options (number = value, the description and interval as a comment), the\n"
     "departments, the receipt header and footer with their fonts, the operators, and\n"
     "the taxes as comments (they are never written). One value per line, always in\n"
     "the same order, so the file can be edited, compared and kept under version\n"
     "control; lines starting with # are comments.\n"
     "diff reads the values FILE mentions from the register and prints each one that\n"
     "differs as FILE:LINE: [section] key: register -> file.\n"
     "apply writes only what differs: the options (in one command), each department,\n"
     "receipt line (all lines of a block whose font changes) and operator name or\n"
     "position that differs; the register's values of those tables are kept as a\n"
     "backup first (--no-backup skips it). Before anything is written the whole file\n"
     "is checked: an option or department the register does not have, a value\n"
     "outside the option's interval, a font it does not have, a text longer than its\n"
     "field or with a character it cannot print refuses the whole file, naming each\n"
     "line, with exit status 2. --dry-run checks and shows what would be written,\n"
     "and writes nothing. A file may hold only some tables or values: what it does\n"
     "not mention is left as the register has it.\n"
     "--serial SN (any command) refuses to go on when the register's serial number\n"
     "is another one.\n"},
    {"fleet",
     "Usage: zarvikctl fleet FLEETFILE COMMAND [--jobs N] [--report FILE.csv|FILE.json]\n"
     "COMMAND is info, config diff FILE, config apply FILE [--dry-run] [--no-backup],\n"
     "goods write FILE [--reset-sold] [--no-backup] [--all] [--dry-run] [--sheet NAME]\n"
     "[--column F=H]..., goods read-all --out DIR, journal read [--data] --out DIR or\n"
     "journal summary [--out FILE.csv|FILE.xlsx] [--utf8].\n"
     "Runs COMMAND on every register of FLEETFILE at once, each in its own zarvikctl\n"
     "process (its own port, exchange, backup and log prefix \"[NAME] \"). FLEETFILE\n"
     "has one section per register:\n"
     "  [shop 1]\n"
     "  port=5          port number, mapped in \"Devices\" of ZarvikConfig.ini\n"
     "  speed=19200     optional, as --speed\n"
     "  net=1           optional, as --net\n"
     "  serial=002100457731   optional: another serial number there is refused\n"
     "FLEETFILE is code page 1251 as ZarvikConfig.ini, or UTF-8. Two sections naming\n"
     "the same device (a network line: the same host and port, rfc2217:// or tcp://),\n"
     "a section or a key named twice, an unknown key or a port without device\n"
     "refuse the run before anything starts. --jobs N runs at most N registers at a\n"
     "time (default: all). On a terminal a live table shows each register's state\n"
     "and progress; elsewhere a line per register as it ends. Files of --out DIR are\n"
     "named by the register's serial number (SERIAL.csv for goods, SERIAL.txt for the\n"
     "journal). At the end a table gives per register the serial number, the result\n"
     "(готово, ошибка, отказ, остановлен), the time and what was changed or read;\n"
     "--report writes it as CSV (code page 1251) or JSON.\n"
     "Ctrl-C (SIGINT) or SIGTERM stops every worker at its next record, as it stops\n"
     "a single transfer; registers not started yet are not started.\n"
     "journal summary reads every register's journal and gives the shop's day: one\n"
     "row per register and day with the sales, returns and annulled receipts and\n"
     "lines with their sums, the sales by payment kind, the first and last receipt\n"
     "number and the gaps or repeats in the numbers; printed after the register\n"
     "table, or written to --out as CSV (code page 1251, --utf8 for UTF-8) or .xlsx.\n"
     "Exit status 0 only when every register succeeded, 130 when stopped, else 1.\n"},
};

}  // namespace

const char* FindHelp(std::string_view command) {
  for (const CommandHelp& h : kCommandHelp)
    if (h.name == command) return h.text;
  return nullptr;
}

}  // namespace zarvik::ctl
