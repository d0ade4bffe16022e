#include "shell/DiaLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <optional>
#include <random>
#include <string_view>
#include <thread>

#include "TestSupport.h"
#include "WriterKill.h"
#include "shell/TextCodec.h"

namespace zarvik {
namespace {

using test::MessageStateGuard;
using test::RecordingConsole;
using test::RecordingHooks;

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

// Whether `line` starts with a time stamp of `mask` (every letter of the mask
// a digit, everything else as it stands); `rest` is what follows it.
bool MatchStamp(std::string_view line, std::string_view mask, std::string& rest) {
  if (line.size() < mask.size()) return false;
  for (std::size_t i = 0; i < mask.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (std::isalpha(static_cast<unsigned char>(mask[i])) != 0 ? std::isdigit(c) == 0 : line[i] != mask[i]) {
      return false;
    }
  }
  rest = std::string(line.substr(mask.size()));
  return true;
}

// Whether `cut` is the beginning of a line that holds a stamp of `mask` and
// then `text`.
bool StartsLikeALine(std::string_view cut, std::string_view mask, std::string_view text) {
  const std::size_t stamp = std::min(cut.size(), mask.size());
  for (std::size_t i = 0; i < stamp; ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(cut[i])) != 0;
    if (std::isalpha(static_cast<unsigned char>(mask[i])) != 0 ? !digit : cut[i] != mask[i]) return false;
  }
  return text.starts_with(cut.substr(stamp));
}

TEST(Log, LinesAreCp1251WithCrLfAndTheTimestampMask) {
  MessageStateGuard guard;
  Mess("Старт", false, false, true);
  Warning("осторожно", false, false, true);
  Error("сбой", false, false, true);
  const auto lines = SplitCrLf(guard.LogText());
  ASSERT_EQ(lines.size(), 3u);
  const std::string_view mask = "dd.mm.yy hh:nn:ss ";
  std::string text;
  ASSERT_TRUE(MatchStamp(lines[0], mask, text)) << lines[0];
  EXPECT_EQ(text, "\xD1\xF2\xE0\xF0\xF2");  // "Старт" in code page 1251
  ASSERT_TRUE(MatchStamp(lines[1], mask, text)) << lines[1];
  EXPECT_EQ(Cp1251ToUtf8(text), "Warning:осторожно");
  ASSERT_TRUE(MatchStamp(lines[2], mask, text)) << lines[2];
  EXPECT_EQ(Cp1251ToUtf8(text), "Error:сбой");
  // A digit missing or a separator changed is no stamp.
  EXPECT_FALSE(MatchStamp("01.02.2x 10:11:12 a", mask, text));
  EXPECT_FALSE(MatchStamp("01.02.23 10-11:12 a", mask, text));
  EXPECT_FALSE(MatchStamp("01.02.23", mask, text));
  EXPECT_EQ(NameLogFile, guard.LogPath());
}

TEST(Log, DebugStampsCarryMilliseconds) {
  MessageStateGuard guard;
  RecordingConsole console;
  SetConsole(&console);
  ParseSwitches({"debug"});
  Mess("x", false, true, true);
  const std::string_view mask = "dd.mm.yy hh:nn:ss zzz ";
  std::string text;
  EXPECT_TRUE(MatchStamp(guard.LogText(), mask, text) && text == "x\r\n") << guard.LogText();
  ASSERT_EQ(console.lines.size(), 1u);
  EXPECT_TRUE(MatchStamp(console.lines[0].text, mask, text) && text == "x") << console.lines[0].text;
}

TEST(Log, LineBreaksStayInTheLogButNotOnTheConsole) {
  MessageStateGuard guard;
  RecordingConsole console;
  SetConsole(&console);
  Mess("one\r\ntwo", false, true, true);
  EXPECT_NE(guard.LogText().find("one\r\ntwo\r\n"), std::string::npos);
  ASSERT_EQ(console.lines.size(), 1u);
  EXPECT_TRUE(console.lines[0].text.ends_with(" one  two")) << console.lines[0].text;
}

TEST(Log, MarkupInATextIsWrittenLiterally) {
  MessageStateGuard guard;
  Mess("<B>bold<b>", false, false, true);
  EXPECT_NE(guard.LogText().find("<B>bold<b>\r\n"), std::string::npos);
}

TEST(Log, FallsBackToTheStateFolderWhenTheProgramFolderIsNotWritable) {
  MessageStateGuard guard;
  test::TempDir state;
  SetProgramPath("/proc/no-such-folder/ZarvikConfig");  // cannot be written, even by root
  const char* old = std::getenv("XDG_STATE_HOME");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("XDG_STATE_HOME", state.Path().c_str(), 1);
  Mess("kept", false, false, true);
  const std::string fallback = state.File("ZarvikConfig/ZarvikConfig.log");
  EXPECT_EQ(NameLogFile, fallback);
  EXPECT_NE(test::ReadAll(fallback).find("kept\r\n"), std::string::npos);
  if (old != nullptr) {
    ::setenv("XDG_STATE_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_STATE_HOME");
  }
}

TEST(Log, AFirstLineAfterACutLineStartsOnALineOfItsOwn) {
  MessageStateGuard guard;
  test::WriteAll(guard.LogPath(), "01.02.23 10:11:12 cut sho");
  Mess("next", false, false, true);
  Mess("and on", false, false, true);
  const auto lines = SplitCrLf(guard.LogText());
  ASSERT_EQ(lines.size(), 3u) << guard.LogText();
  EXPECT_EQ(lines[0], "01.02.23 10:11:12 cut sho");
  std::string text;
  EXPECT_TRUE(MatchStamp(lines[1], DateMaskaForLog, text) && text == "next") << lines[1];
  EXPECT_TRUE(MatchStamp(lines[2], DateMaskaForLog, text) && text == "and on") << lines[2];
}

TEST(Log, AWriterKilledWhileLoggingLosesAtMostItsLastLine) {
  MessageStateGuard guard;
  const std::string filler(1500, 'x');
  const auto line = [&](int round, int number) {
    return "r" + std::to_string(round) + " n" + std::to_string(number) + " " + filler;
  };
  // Each round's writer is killed as soon as it reports a chosen number of
  // whole lines, so the kill falls while it writes the next one, whatever
  // the speed of the machine.
  std::minstd_rand random(1234);
  std::uniform_int_distribution<int> linesBeforeKill(1, 6);
  constexpr int kRounds = 20;
  std::vector<int> reported(kRounds, 0);
  for (int round = 0; round < kRounds; ++round) {
    const int want = linesBeforeKill(random);
    const test::WriterKill kill = test::KillWriterAtStep(
        [&](const test::StepReport& report) {
          for (int i = 0;; ++i) {
            Mess(line(round, i), false, false, true);
            report();
          }
        },
        want);
    EXPECT_TRUE(kill.killed) << "round " << round;
    EXPECT_EQ(kill.steps, want) << "round " << round;
    reported[static_cast<std::size_t>(round)] = kill.steps;
  }
  Mess("after", false, false, true);
  // Every round's lines are numbered from 0 without a gap and hold at least
  // the lines it reported; only a round's last line may be cut, and the line
  // after it starts on a line of its own.
  const auto lines = SplitCrLf(guard.LogText());
  ASSERT_FALSE(lines.empty());
  const auto parse = [&](const std::string& text, int& r, int& n) {
    std::string body;
    if (!MatchStamp(text, DateMaskaForLog, body) || !body.ends_with(" " + filler)) return false;
    return std::sscanf(body.c_str(), "r%d n%d ", &r, &n) == 2 && body == line(r, n);
  };
  std::vector<int> whole(kRounds, 0);
  int round = -1;
  int next = 0;
  bool cutBefore = false;
  for (std::size_t k = 0; k + 1 < lines.size(); ++k) {
    int r = 0;
    int n = 0;
    if (parse(lines[k], r, n)) {
      if (r == round) {
        EXPECT_FALSE(cutBefore) << "line " << k << " follows a cut line of its own round";
        EXPECT_EQ(n, next) << "line " << k;
      } else {
        // Each round wrote its first line whole before it was killed.
        EXPECT_EQ(r, round + 1) << "line " << k;
        EXPECT_EQ(n, 0) << "line " << k;
        round = r;
      }
      ASSERT_TRUE(r >= 0 && r < kRounds) << "line " << k;
      ++whole[static_cast<std::size_t>(r)];
      next = n + 1;
      cutBefore = false;
    } else {
      // A cut line: the beginning of the line the round was writing, its
      // stamp included.
      EXPECT_TRUE(round >= 0 && StartsLikeALine(lines[k], DateMaskaForLog, line(round, next) + "\r\n"))
          << "line " << k << ": " << lines[k].substr(0, 60);
      EXPECT_FALSE(cutBefore) << "line " << k;
      cutBefore = true;
    }
  }
  EXPECT_EQ(round, kRounds - 1);
  for (int r = 0; r < kRounds; ++r) {
    const auto i = static_cast<std::size_t>(r);
    EXPECT_GE(whole[i], reported[i]) << "round " << r << " lost a line it had written";
  }
  std::string text;
  EXPECT_TRUE(MatchStamp(lines.back(), DateMaskaForLog, text) && text == "after") << lines.back();
}

TEST(Messages, ErrorUnderAutonomWritesEverywhereButShowsNoBox) {
  MessageStateGuard guard;
  RecordingConsole console;
  RecordingHooks hooks;
  SetConsole(&console);
  SetUiHooks(&hooks);
  ParseSwitches({"autonom"});
  Error("нет связи", true, true, true);
  EXPECT_EQ(LastErrorMessage, "нет связи");
  EXPECT_TRUE(hooks.boxes.empty());
  EXPECT_NE(Cp1251ToUtf8(guard.LogText()).find("Error:нет связи"), std::string::npos);
  ASSERT_EQ(console.lines.size(), 1u);
  EXPECT_TRUE(console.lines[0].text.ends_with("Error:нет связи"));
}

TEST(Messages, BoxesHaveTheirKindAndCaption) {
  MessageStateGuard guard;
  RecordingHooks hooks;
  SetUiHooks(&hooks);
  Mess("i", true, false, false);
  Warning("w", true, false, false);
  Error("e", true, false, false);
  ASSERT_EQ(hooks.boxes.size(), 3u);
  EXPECT_EQ(hooks.boxes[0].kind, BoxKind::Information);
  EXPECT_EQ(hooks.boxes[0].caption, "Information");
  EXPECT_EQ(hooks.boxes[1].caption, "Warning");
  EXPECT_EQ(hooks.boxes[2].caption, "Error");
  EXPECT_EQ(hooks.boxes[2].text, "e");
}

TEST(Messages, WarningAndErrorConsoleColours) {
  MessageStateGuard guard;
  RecordingConsole console;
  SetConsole(&console);
  Warning("w", false, true, false);
  Error("e", false, true, false);
  ASSERT_EQ(console.lines.size(), 2u);
  // Timestamp in yellow, the word in its colour, the text in green.
  const auto& w = console.lines[0];
  ASSERT_EQ(w.colors.size(), 3u);
  EXPECT_EQ(w.colors[0].color, C_DataTime);
  EXPECT_EQ(w.colors[0].first, 0);
  EXPECT_EQ(w.colors[1].color, C_Warning);
  EXPECT_EQ(w.colors[1].first, 9);  // after "hh:nn:ss "
  EXPECT_EQ(w.colors[2].color, C_Message);
  EXPECT_EQ(w.colors[2].first, 9 + 8);  // after "Warning:"
  EXPECT_EQ(console.lines[1].colors[1].color, C_Error);
}

TEST(Messages, TraceDepthFilter) {
  struct Case {
    std::vector<std::string> args;
    bool functional;  // MT(.., mdFunctional) emitted
    bool hardware;    // MT(.., mdHardWare) emitted
    bool user;
  };
  const Case cases[] = {
      {{}, false, false, true},
      {{"mdapplied"}, false, false, true},
      {{"mdfunctional"}, true, false, true},
      {{"mdsystem"}, true, false, true},
      {{"mdhardware"}, true, true, true},
      {{"debug"}, true, false, true},
  };
  for (const auto& c : cases) {
    MessageStateGuard guard;
    RecordingConsole console;
    SetConsole(&console);
    ParseSwitches(c.args);
    MT("f", mdFunctional);
    WT("h", mdHardWare);
    ET("u", mdUser);
    const std::string label = c.args.empty() ? "(none)" : c.args[0];
    const std::string log = guard.LogText();
    EXPECT_EQ(log.find(" f\r\n") != std::string::npos, c.functional) << label;
    EXPECT_EQ(log.find("Warning:h") != std::string::npos, c.hardware) << label;
    EXPECT_EQ(log.find("Error:u") != std::string::npos, c.user) << label;
    EXPECT_EQ(console.AllText().find("Error:u") != std::string::npos, c.user) << label;
  }
}

TEST(Questions, AutonomAnswersTheDefaultAndLogsTheSuffix) {
  struct Case {
    bool yesNo;
    QueryButton def;
    QueryButton expected;
    const char* suffix;
  };
  const Case cases[] = {
      {true, QueryButton::Yes, QueryButton::Yes, " - Yes"},
      {true, QueryButton::No, QueryButton::No, " - No"},
      {true, QueryButton::Cancel, QueryButton::Cancel, " - Cancel"},
      {true, QueryButton::Ok, QueryButton::Cancel, " - Cancel"},
      {false, QueryButton::Ok, QueryButton::Ok, " - OK"},
      {false, QueryButton::Cancel, QueryButton::Cancel, " - cancel"},
      {false, QueryButton::Yes, QueryButton::Cancel, " - cancel"},
  };
  for (const auto& c : cases) {
    MessageStateGuard guard;
    RecordingHooks hooks;
    RecordingConsole console;
    SetUiHooks(&hooks);
    SetConsole(&console);
    ParseSwitches({"autonom"});
    const QueryButton answer = c.yesNo ? QueryYesNoCancel("Сохранить?", true, true, c.def)
                                       : QueryOkCancel("Сохранить?", true, true, c.def);
    EXPECT_EQ(answer, c.expected) << c.suffix;
    EXPECT_TRUE(hooks.questions.empty());
    const std::string log = Cp1251ToUtf8(guard.LogText());
    EXPECT_NE(log.find(std::string("Query:Сохранить?") + c.suffix + "\r\n"), std::string::npos) << log;
    ASSERT_EQ(console.lines.size(), 1u);
    EXPECT_EQ(console.lines[0].colors.back().color, C_Query);
  }
}

TEST(Questions, WithoutAutonomTheUserAnswers) {
  MessageStateGuard guard;
  RecordingHooks hooks;
  SetUiHooks(&hooks);
  hooks.answer = QueryButton::Cancel;
  EXPECT_EQ(QueryOkCancel("q", false, true, QueryButton::Ok), QueryButton::Cancel);
  hooks.answer = QueryButton::No;
  EXPECT_EQ(QueryYesNoCancel("q2", false, true, QueryButton::Yes), QueryButton::No);
  ASSERT_EQ(hooks.questions.size(), 2u);
  EXPECT_EQ(hooks.questions[0].first, QueryKind::OkCancel);
  EXPECT_EQ(hooks.questions[1].first, QueryKind::YesNoCancel);
  const std::string log = guard.LogText();
  EXPECT_NE(log.find("Query:q - cancel\r\n"), std::string::npos);
  EXPECT_NE(log.find("Query:q2 - No\r\n"), std::string::npos);
}

TEST(Console, KeepsTheLastHundredLines) {
  MessageStateGuard guard;
  RecordingConsole console;
  SetConsole(&console);
  EXPECT_EQ(console.resetBackground, C_Face);
  for (int i = 1; i <= 101; ++i) Mess("line " + std::to_string(i), false, true, false);
  ASSERT_EQ(console.lines.size(), 100u);
  EXPECT_TRUE(console.lines.front().text.ends_with("line 2"));
  EXPECT_TRUE(console.lines.back().text.ends_with("line 101"));
  EXPECT_EQ(console.scrolls, 101);
}

TEST(Console, NoConsoleAttachedIsSilent) {
  MessageStateGuard guard;
  Mess("only log", false, true, true);
  EXPECT_NE(guard.LogText().find("only log"), std::string::npos);
}

TEST(ConsoleMarkup, Cases) {
  struct Case {
    const char* markup;
    const char* text;
    std::vector<TextRange> bold;
    std::vector<TextRange> italic;
    std::vector<TextRange> underline;
    std::vector<ColorRange> colors;
  };
  const Case cases[] = {
      {"plain", "plain", {}, {}, {}, {}},
      {"a<B>bc<b>d", "abcd", {{1, 2}}, {}, {}, {}},
      {"a<B>bcd", "abcd", {{1, 3}}, {}, {}, {}},          // unclosed bold runs to the end
      {"a{I>b{i>c", "abc", {}, {{1, 1}}, {}, {}},         // "{" acts as "<"
      {"<U>x<u>y<u>", "xy", {}, {}, {{0, 1}}, {}},        // a second close moves the end
      {"x<b>y", "xy", {}, {}, {}, {}},                    // close without open is ignored
      {"<c:000000FF>red", "red", {}, {}, {}, {{0, 2, 0x0000FF}}},
      {"a<c:0000FF00>b<c:000000FF>c", "abc", {}, {}, {}, {{1, 2, 0x00FF00}, {2, 2, 0x0000FF}}},
      {"1<<x2", "1<2", {}, {}, {}, {}},                   // "<<" and one more show one "<"
      {"1{{x2", "1{2", {}, {}, {}, {}},
      {"a<zb", "azb", {}, {}, {}, {}},                    // unknown letter: opener dropped
      {"end<", "end<", {}, {}, {}, {}},                   // opener at the very end is text
      {"<B>Привет<b>!", "Привет!", {{0, 5}}, {}, {}, {}},  // ranges count characters
  };
  for (const auto& c : cases) {
    const ConsoleLine line = ParseConsoleMarkup(c.markup);
    EXPECT_EQ(line.text, c.text) << c.markup;
    EXPECT_EQ(line.bold, c.bold) << c.markup;
    EXPECT_EQ(line.italic, c.italic) << c.markup;
    EXPECT_EQ(line.underline, c.underline) << c.markup;
    EXPECT_EQ(line.colors, c.colors) << c.markup;
  }
}

TEST(ConsoleMarkup, MalformedTagsNeverFail) {
  const char* inputs[] = {"<c:", "<c:12", "<c:zzzzzzzz>x", "<", "{", "<B", "<c:00000000", "<<"};
  for (const char* s : inputs) {
    const ConsoleLine line = ParseConsoleMarkup(s);
    for (const auto& r : line.colors) {
      EXPECT_LE(r.first, r.last) << s;
      EXPECT_LT(r.last, static_cast<int>(Utf8Length(line.text))) << s;
    }
  }
}

TEST(ConsoleMarkup, ColorTag) {
  EXPECT_EQ(colorToStrR(0x00FF00), "<c:0000FF00>");
  EXPECT_EQ(colorToStrR(0xF0CAA6), "<c:00F0CAA6>");
}

// A listener that keeps what it received; removed again on destruction.
class RecordingListener {
 public:
  explicit RecordingListener(TMessDepth depth)
      : id_(AddTraceListener(
            [this](const TTraceEvent& e) {
              events.push_back({e.depth, e.kind, std::string(e.text), e.time});
            },
            depth)) {}
  ~RecordingListener() { RemoveTraceListener(id_); }
  RecordingListener(const RecordingListener&) = delete;
  RecordingListener& operator=(const RecordingListener&) = delete;
  int Id() const { return id_; }
  std::string Texts() const {
    std::string s;
    for (const Event& e : events) s += e.text + "\n";
    return s;
  }
  struct Event {
    TMessDepth depth;
    TTraceKind kind;
    std::string text;
    std::chrono::system_clock::time_point time;
  };
  std::vector<Event> events;

 private:
  int id_;
};

// The log without its timestamps: what a listener must never change.
std::vector<std::string> LogBodies(const std::string& log) {
  std::vector<std::string> bodies;
  for (const std::string& line : SplitCrLf(log)) {
    std::string body;
    bodies.push_back(MatchStamp(line, "dd.mm.yy hh:nn:ss ", body) ? body : line);
  }
  return bodies;
}

TEST(TraceListener, GetsTracesDownToItsDepthWhateverMessDepthSays) {
  struct Case {
    const char* depthWord;  // switch word for MessDepth, "" for the default
    TMessDepth listenerDepth;
    TMessDepth traceDepth;
    bool listened;  // the listener gets the trace
    bool logged;    // console and log get it
  };
  const Case cases[] = {
      {"", mdFunctional, mdFunctional, true, false},
      {"", mdFunctional, mdHardWare, false, false},
      {"", mdHardWare, mdHardWare, true, false},
      {"", mdUser, mdUser, true, true},
      {"", mdUser, mdApplied, false, false},
      {"mdfunctional", mdUser, mdFunctional, true, true},  // what goes to the log reaches every listener
      {"mdfunctional", mdFunctional, mdHardWare, false, false},
      {"mdhardware", mdFunctional, mdHardWare, true, true},
      {"mdsystem", mdHardWare, mdHardWare, true, false},
  };
  for (const Case& c : cases) {
    MessageStateGuard guard;
    RecordingConsole console;
    SetConsole(&console);
    if (*c.depthWord != '\0') ParseSwitches({c.depthWord});
    RecordingListener listener(c.listenerDepth);
    MT("m", c.traceDepth);
    WT("w", c.traceDepth);
    ET("e", c.traceDepth);
    const std::string label =
        std::string(c.depthWord) + "/" + std::to_string(c.listenerDepth) + "/" + std::to_string(c.traceDepth);
    if (c.listened) {
      ASSERT_EQ(listener.events.size(), 3u) << label;
      const TTraceKind kinds[] = {TTraceKind::Trace, TTraceKind::Warning, TTraceKind::Error};
      for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(listener.events[i].kind, kinds[i]) << label;
        EXPECT_EQ(listener.events[i].depth, c.traceDepth) << label;
      }
      EXPECT_EQ(listener.Texts(), "m\nw\ne\n") << label;
    } else {
      EXPECT_TRUE(listener.events.empty()) << label << ": " << listener.Texts();
    }
    EXPECT_EQ(console.lines.size(), c.logged ? 3u : 0u) << label;
    EXPECT_EQ(LogBodies(guard.LogText()).size(), c.logged ? 3u : 0u) << label;
    // An error trace kept from the log is not the last error either.
    EXPECT_EQ(LastErrorMessage, c.logged ? "e" : "") << label;
  }
}

TEST(TraceListener, ConsoleAndLogAreTheSameWithAndWithoutListeners) {
  const auto script = [] {
    Mess("Подключились!", false, true, true);
    MT("----- начало синхронизации с ККМ -----", mdFunctional);
    MT("ReadFromCOM:7F 02 01 C5 3A", mdHardWare);
    WT("Sync>WaitKvit:нет ответа", mdFunctional);
    ET("зацикливание", mdFunctional);
    Warning("осторожно", false, true, true);
    Error("сбой", false, true, false);
    MT("всегда", mdUser);
  };
  for (const char* word : {"", "mdfunctional", "mdhardware"}) {
    std::vector<std::string> consoles[2];
    std::vector<std::string> logs[2];
    for (int withListener = 0; withListener < 2; ++withListener) {
      MessageStateGuard guard;
      RecordingConsole console;
      SetConsole(&console);
      if (*word != '\0') ParseSwitches({word});
      std::optional<RecordingListener> listener;
      if (withListener == 1) listener.emplace(mdHardWare);
      script();
      for (const ConsoleLine& l : console.lines) consoles[withListener].push_back(l.text.substr(9));
      logs[withListener] = LogBodies(guard.LogText());
      if (listener) {
        EXPECT_EQ(listener->events.size(), 8u) << word;
      }
    }
    EXPECT_EQ(consoles[0], consoles[1]) << word;
    EXPECT_EQ(logs[0], logs[1]) << word;
  }
}

TEST(TraceListener, MessagesAndQuestionsThatReachConsoleOrLog) {
  MessageStateGuard guard;
  RecordingHooks hooks;
  SetUiHooks(&hooks);
  RecordingListener listener(mdUser);
  const auto before = std::chrono::system_clock::now();
  Mess("сведения", false, true, false);
  Warning("осторожно", false, false, true);
  Error("сбой", true, true, true);
  Mess("только в окне", true, false, false);  // a box alone is no trace
  hooks.answer = QueryButton::Yes;
  QueryYesNoCancel("Записать?", true, true, QueryButton::No);
  QueryOkCancel("не пишется", false, false, QueryButton::Ok);
  const auto after = std::chrono::system_clock::now();
  ASSERT_EQ(listener.events.size(), 4u) << listener.Texts();
  EXPECT_EQ(listener.Texts(), "сведения\nосторожно\nсбой\nQuery:Записать? - Yes\n");
  const TTraceKind kinds[] = {TTraceKind::Message, TTraceKind::Warning, TTraceKind::Error,
                              TTraceKind::Message};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(listener.events[i].kind, kinds[i]) << i;
    EXPECT_EQ(listener.events[i].depth, mdUser) << i;
    EXPECT_GE(listener.events[i].time, before) << i;
    EXPECT_LE(listener.events[i].time, after) << i;
    if (i > 0) {
      EXPECT_GE(listener.events[i].time, listener.events[i - 1].time) << i;
    }
  }
  // The boxes are shown as before.
  EXPECT_EQ(hooks.boxes.size(), 2u);
}

TEST(TraceListener, SeveralListenersDepthChangesAndRemoval) {
  MessageStateGuard guard;
  EXPECT_FALSE(TraceWanted(mdFunctional));
  std::optional<RecordingListener> shallow(std::in_place, mdFunctional);
  RecordingListener deep(mdHardWare);
  EXPECT_TRUE(TraceWanted(mdFunctional));
  EXPECT_TRUE(TraceWanted(mdHardWare));
  MT("f", mdFunctional);
  MT("h", mdHardWare);
  EXPECT_EQ(shallow->Texts(), "f\n");
  EXPECT_EQ(deep.Texts(), "f\nh\n");

  SetTraceListenerDepth(deep.Id(), mdApplied);
  EXPECT_TRUE(TraceWanted(mdFunctional));
  EXPECT_FALSE(TraceWanted(mdHardWare));
  MT("h2", mdHardWare);
  MT("f2", mdFunctional);
  EXPECT_EQ(deep.Texts(), "f\nh\n");
  EXPECT_EQ(shallow->Texts(), "f\nf2\n");

  shallow.reset();
  EXPECT_FALSE(TraceWanted(mdFunctional));
  MT("f3", mdFunctional);
  MT("a", mdApplied);
  EXPECT_EQ(deep.Texts(), "f\nh\na\n");
  RemoveTraceListener(12345);  // an unknown id changes nothing
  MT("a2", mdApplied);
  EXPECT_EQ(deep.events.size(), 4u);
  // Nothing of it reached the log.
  EXPECT_EQ(guard.LogText(), "");
}

TEST(TraceListener, MessagesRaisedByAListenerAreNotPassedOnAgain) {
  MessageStateGuard guard;
  int calls = 0;
  const int id = AddTraceListener(
      [&](const TTraceEvent& e) {
        ++calls;
        Mess("heard: " + std::string(e.text), false, false, true);
        MT("deeper", mdFunctional);
      },
      mdFunctional);
  MT("one", mdFunctional);
  RemoveTraceListener(id);
  EXPECT_EQ(calls, 1);
  // The listener's own message still goes where its flags say.
  EXPECT_EQ(LogBodies(guard.LogText()), std::vector<std::string>{"heard: one"});
  MT("two", mdFunctional);
  EXPECT_EQ(calls, 1);
}

TEST(TraceListener, ReportsFromAnotherThreadWhileListenersComeAndGo) {
  MessageStateGuard guard;
  std::atomic<bool> stop{false};
  std::atomic<int> heard{0};
  std::thread reporter([&] {
    while (!stop) MT("x", mdFunctional);
  });
  for (int i = 0; i < 200; ++i) {
    const int id = AddTraceListener([&](const TTraceEvent&) { ++heard; }, mdFunctional);
    std::this_thread::sleep_for(std::chrono::microseconds(50));
    RemoveTraceListener(id);
  }
  stop = true;
  reporter.join();
  const int total = heard.load();
  MT("after", mdFunctional);
  EXPECT_EQ(heard.load(), total);  // nothing is called once every listener is gone
  EXPECT_EQ(guard.LogText(), "");
}

}  // namespace
}  // namespace zarvik
