// One journal reply frame taken apart for display: result code, record lines
// and their receipt text line by line.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "journal/JournalFrame.h"
#include "journal/U_magazineoperation.h"

namespace zarvik {
namespace {

using Lines = std::vector<std::string>;

TEST(JournalFrameLines, SplitAtCrLf) {
  struct Case {
    std::string text;
    Lines lines;
  };
  const Case cases[] = {
      {"", {""}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"\r\na", {"", "a"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\r\n\r\n", {"a", ""}},
      {"\r\n", {""}},
      // A lone CR or LF is part of its line.
      {"a\rb\nc", {"a\rb\nc"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitCrLfLines(c.text), c.lines) << c.text;
}

// 01 0F code, a sale (operation 1), its subtotal, and the closing record.
std::vector<std::uint8_t> Reply(std::uint8_t code) {
  std::vector<std::uint8_t> r{0x01, 0x0F, code};
  const std::vector<std::uint8_t> sale{0xA1, 0x01, 0x00, 0x10, 0x00, 0x00, 0x00, 0x50,
                                       0x12, 0x00, 0x00, 0x00, 0x01, 0x02, 0xAA};
  const std::vector<std::uint8_t> subtotal{0xB5, 0x02, 0x50, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAA};
  const std::vector<std::uint8_t> close{0xCA, 0x01, 0x23, 0x01, 0x00, 0x00, 0x15,
                                        0x12, 0x10, 0x14, 0x05, 75,   0x01, 0xAA};
  for (const auto* part : {&sale, &subtotal, &close}) r.insert(r.end(), part->begin(), part->end());
  return r;
}

TEST(JournalFrame, RecordsAndTheirTextLineByLine) {
  test::MessageStateGuard guard;
  test::RecordingHooks hooks;
  SetUiHooks(&hooks);
  const std::vector<std::uint8_t> reply = Reply(0);
  const TJournalFrame frame = TakeJournalFrame(reply, true);
  EXPECT_EQ(frame.resultCode, 0);
  EXPECT_EQ(frame.records, (Lines{"A1;1;1000;1250;1;2", "B5;2;1250", "CA;1;123;15.12.10;14:05;F;1"}));
  Lines text;
  for (const std::string& record : frame.records) {
    for (const std::string& line : SplitCrLfLines(RenderJournalLine(record, false))) text.push_back(line);
  }
  EXPECT_EQ(frame.text, text);
  // The sale opens a receipt: an empty line, the stars, an empty line, the
  // dashes and the sale; the closing is the dashes and two lines.
  ASSERT_EQ(frame.text.size(), 5u + 1u + 3u);
  EXPECT_EQ(frame.text[0], "");
  EXPECT_EQ(frame.text[1], std::string(kJournalSeparatorStars, '*'));
  EXPECT_EQ(frame.text[2], "");
  EXPECT_EQ(frame.text[3], "--------------------");
  EXPECT_EQ(frame.text.back(), "ЧЕК:123     ФИСКАЛЬНЫЙ");
  EXPECT_TRUE(hooks.boxes.empty());
}

TEST(JournalFrame, ResultCodeAndShortReplies) {
  struct Case {
    std::vector<std::uint8_t> reply;
    int code;
    std::size_t records;
  };
  const Case cases[] = {
      {{}, -1, 0},      {{0x01, 0x0F}, -1, 0}, {{0x01, 0x0F, 0x09}, 9, 0}, {{0x01, 0x0F, 0x05}, 5, 0},
      {Reply(9), 9, 3}, {Reply(15), 15, 3},
  };
  for (const Case& c : cases) {
    const TJournalFrame frame = TakeJournalFrame(c.reply, false);
    EXPECT_EQ(frame.resultCode, c.code) << c.reply.size();
    EXPECT_EQ(frame.records.size(), c.records) << c.reply.size();
    EXPECT_EQ(frame.text.empty(), c.records == 0) << c.reply.size();
  }
}

TEST(JournalFrame, DamagedRecordKeptWithItsMarkAndReportedOnce) {
  test::MessageStateGuard guard;
  test::RecordingHooks hooks;
  SetUiHooks(&hooks);
  // A sale whose quantity holds a nibble above 9, then a good sale.
  const std::vector<std::uint8_t> reply{0x01, 0x0F, 0x00, 0xA1, 0x02, 0x00, 0x1A, 0x00, 0x00, 0x00, 0x50,
                                        0x12, 0x00, 0x00, 0x00, 0x01, 0x02, 0xAA, 0xA1, 0x03, 0x00, 0x10,
                                        0x00, 0x00, 0x00, 0x50, 0x12, 0x00, 0x00, 0x00, 0x01, 0x02, 0xAA};
  const TJournalFrame frame = TakeJournalFrame(reply, true);
  ASSERT_EQ(frame.records.size(), 2u);
  EXPECT_EQ(frame.records[0], "A1;2;1A00;1250;1;2");
  ASSERT_EQ(frame.text.size(), 2u);
  EXPECT_EQ(frame.text[0], "A1;2;1A00;1250;1;2 - ошибка!");
  EXPECT_EQ(frame.text[1], RenderJournalLine(frame.records[1], false));
  ASSERT_EQ(hooks.boxes.size(), 1u);
  EXPECT_EQ(hooks.boxes[0].text, "ошибка декодирования операций чека");
}

}  // namespace
}  // namespace zarvik
