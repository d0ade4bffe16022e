// The JSON text of zarvikctl --json: strings escaped as JSON requires, UTF-8
// kept, bytes that are not UTF-8 replaced so the text stays valid, members
// in the order given, and the report of a run.
#include "CtlJson.h"

#include <gtest/gtest.h>

#include <string>

namespace zarvik::ctl {
namespace {

TEST(CtlJson, StringsAreEscapedAndInvalidUtf8IsReplaced) {
  struct Case {
    std::string text;
    std::string json;
  };
  const Case cases[] = {
      {"", "\"\""},
      {"Молоко \"3,2%\"", "\"Молоко \\\"3,2%\\\"\""},
      {"C:\\касса", "\"C:\\\\касса\""},
      {"a\nb\r\tc", "\"a\\nb\\r\\tc\""},
      {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
      {std::string("nul\0end", 7), "\"nul\\u0000end\""},
      {"/ stays", "\"/ stays\""},
      {"€ 𝄞", "\"€ 𝄞\""},
      // A code page 1251 byte, a lone continuation byte, a cut sequence.
      {"\xC0\xE1", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"a\x80z", "\"a\xEF\xBF\xBDz\""},
      {"\xD0", "\"\xEF\xBF\xBD\""},
      {"\xE2\x82", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
      // Overlong forms, a surrogate, beyond U+10FFFF.
      {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xE0\x80\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
  };
  for (const Case& c : cases) EXPECT_EQ(JsonString(c.text), c.json) << c.text;
}

TEST(CtlJson, ObjectsAndArraysKeepTheirOrder) {
  const TJson object = TJson::Object()
                           .Str("b", "x")
                           .Int("a", -5)
                           .Bool("ok", false)
                           .Sub("list", TJson::Array().PushInt(1).PushStr("два").Push(TJson::Object()))
                           .Sub("empty", TJson::Array());
  EXPECT_EQ(object.Text(), R"({"b":"x","a":-5,"ok":false,"list":[1,"два",{}],"empty":[]})");
  EXPECT_EQ(TJson::Object().Str("ke\"y", "v").Text(), R"({"ke\"y":"v"})");
}

TEST(CtlJson, TheReportHasItsMembersWhateverTheRunGave) {
  TCtlReport empty;
  EXPECT_EQ(empty.Text(2), R"({"command":"","exit":2,"ok":false,"result":{},"counts":{},"messages":[]})");
  TCtlReport report;
  report.SetCommand("config apply");
  report.Result().Str("file", "a.conf");
  report.Counts().Int("written", 3);
  report.Message("warning", "Линия: \"шум\"");
  report.Message("info", "готово");
  EXPECT_EQ(
      report.Text(0),
      R"({"command":"config apply","exit":0,"ok":true,"result":{"file":"a.conf"},"counts":{"written":3},)"
      R"("messages":[{"level":"warning","text":"Линия: \"шум\""},{"level":"info","text":"готово"}]})");
}

}  // namespace
}  // namespace zarvik::ctl
