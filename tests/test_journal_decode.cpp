// Journal record kinds and the decoding of ReadJournal replies into record
// lines.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "journal/U_magazineoperation.h"

namespace zarvik {
namespace {

// "01 0F 00 A1 ..." to bytes; anything but hexadecimal digits is ignored.
std::vector<std::uint8_t> Bytes(std::string_view hex) {
  std::vector<std::uint8_t> out;
  int high = -1;
  for (char c : hex) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

// Decodes from a heap block of exactly the reply's size, so that a read past
// its end is caught by the address sanitizer builds.
std::string Decode(std::string_view hex) {
  const std::vector<std::uint8_t> bytes = Bytes(hex);
  auto exact = std::make_unique<std::uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), exact.get());
  return DecodeJournalReply(std::span<const std::uint8_t>(exact.get(), bytes.size()));
}

constexpr const char* kSaleA1 = "A1 01 00 10 00 00 00 50 12 00 00 00 01 02 AA";
constexpr const char* kSaleA1Line = "A1;1;1000;1250;1;2\r\n";

struct DecodeCase {
  const char* name;
  std::string reply;
  std::string expected;
};

TEST(JournalDecode, RepliesToRecordLines) {
  const std::string sale(kSaleA1);
  const std::string line(kSaleA1Line);
  const DecodeCase cases[] = {
      {"end of journal", "01 0F 09", ""},
      {"empty reply", "", ""},
      {"one sale", "01 0F 00 " + sale, line},
      {"command bytes in mid-reply", "01 0F 00 " + sale + " 01 0F 00 CB 03 AA", line + "CB;3\r\n"},
      {"command bytes right after a record", sale + " 01 0F 00 " + sale, line + line},
      {"unknown bytes up to AA", "AF 12 AA " + sale, "AF12AA\r\n" + line},
      {"unknown run", "01 02 AA", "0102AA\r\n"},
      {"unknown run to the end", "BA 01 02", "BA0102\r\n"},
      {"lone AA", "AA AA", "AA\r\nAA\r\n"},
      {"command bytes inside an unknown run", "C6 01 0F 00 AA CC 01 AA", "C6010F00AA\r\nCC;1\r\n"},
      {"01 without 0F", "01 0E AA", "010EAA\r\n"},
      {"command bytes at the very end", "CB 03 AA 01 0F", "CB;3\r\n"},
      {"01 at the very end", "CB 03 AA 01", "CB;3\r\n01\r\n"},
      // The last byte is stepped over without being read.
      {"last byte not AA", "A1 02 00 10 00 00 00 50 12 00 00 00 01 02 77 CB 01 AA",
       "A1;2;1000;1250;1;2\r\nCB;1\r\n"},
      {"BCD letter passed on", "A1 01 00 10 00 00 00 5A 12 00 00 00 01 02 AA", "A1;1;1000;125A;1;2\r\n"},
      {"sale by code", "A3 01 42 00 00 00 25 00 00 00 90 39 00 00 00 02 FF AA",
       "A3;1;42;2500;3990;2;255\r\n"},
      {"discount", "B1 02 34 12 00 05 00 00 00 02 01 AA", "B1;2;1234;500;2;1\r\n"},
      {"subtotal", "B5 02 50 12 00 00 00 00 99 AA", "B5;2;99000000001250\r\n"},
      {"tax sum without name", "C4 06 03 00 54 00 00 00 00 00 AA", "C4;6;3;5400\r\n"},
      {"payment with cash", "C9 03 00 50 12 00 00 00 00 00 00 20 00 00 00 00 00 AA", "C9;3;1;1250;2000\r\n"},
      {"payment kind 4 shows 5", "C9 03 04 50 12 00 00 00 00 00 00 00 00 00 00 00 00 AA",
       "C9;3;5;1250;0\r\n"},
      {"payment kind 255", "C9 03 FF 50 12 00 00 00 00 00 00 00 00 00 00 00 00 AA", "C9;3;256;1250;0\r\n"},
      {"fiscal closing", "CA 01 23 01 00 00 15 12 10 14 05 4B 01 AA", "CA;1;123;15.12.10;14:05;F;1\r\n"},
      {"non-fiscal closing", "CA 01 23 01 00 00 15 12 10 14 05 4C 01 AA", "CA;1;123;15.12.10;14:05;NF;1\r\n"},
      {"closing with mark 0", "CA 02 00 00 00 00 15 12 10 14 05 00 0C AA", "CA;2;0;15.12.10;14:05;NF;12\r\n"},
      {"FF in the date", "CA 01 23 01 00 00 FF 12 10 14 05 4B 01 AA", "CA;1;123;;14:05;F;1\r\n"},
      {"00 in the date, FF in the time", "CA 01 23 01 00 00 15 00 10 FF 05 4B 01 AA", "CA;1;123;;;F;1\r\n"},
      {"repeat print and annulment", "CB 03 AA CC 0C AA", "CB;3\r\nCC;12\r\n"},
      // A record cut by the end of the reply is shown as its bytes.
      {"cut sale", "01 0F 00 A1 01 00 10", "A1010010\r\n"},
      {"cut closing after a record", "CB 03 AA CA 01 23", "CB;3\r\nCA0123\r\n"},
      {"cut by one byte", "C9 03 00 50 12 00 00 00 00 00 00 20 00 00 00 00 00",
       "C903005012000000000000200000000000\r\n"},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Decode(c.reply), c.expected);
  }
}

// Every prefix of a reply decodes to the whole records it holds and, when it
// ends inside a record, one hexadecimal line of that record's bytes.
TEST(JournalDecode, EveryCutOfAReplyStaysInside) {
  const std::vector<std::uint8_t> reply = Bytes(
      "01 0F 00 A1 01 00 10 00 00 00 50 12 00 00 00 01 02 AA B5 02 50 12 00 00 00 00 00 AA "
      "CA 01 23 01 00 00 15 12 10 14 05 4B 01 AA");
  const std::size_t ends[] = {3, 18, 28, 42};  // byte counts after each piece
  const std::string lines[] = {"", kSaleA1Line, "B5;2;1250\r\n", "CA;1;123;15.12.10;14:05;F;1\r\n"};
  for (std::size_t n = 0; n <= reply.size(); ++n) {
    SCOPED_TRACE(n);
    auto exact = std::make_unique<std::uint8_t[]>(n);
    std::copy_n(reply.begin(), n, exact.get());
    std::string expected;
    std::size_t done = 0;
    for (std::size_t k = 0; k < std::size(ends) && ends[k] <= n; ++k) {
      expected += lines[k];
      done = ends[k];
    }
    if (n == 1) {
      expected = "01\r\n";  // a lone 01 is not the command bytes
    } else if (done > 0 && done < n) {
      expected += HexText(reply.data() + done, n - done, "") + "\r\n";
    }
    EXPECT_EQ(DecodeJournalReply(std::span<const std::uint8_t>(exact.get(), n)), expected);
  }
}

TEST(JournalDecode, RepliesOfTwoReceiptsGiveTheirRecordLines) {
  const std::filesystem::path dir = std::filesystem::path(ZARVIK_TEST_DATA) / "journal";
  std::ifstream replies(dir / "receipts_replies.hex");
  std::ifstream records(dir / "receipts_records.txt");
  ASSERT_TRUE(replies && records);
  std::string decoded;
  for (std::string reply; std::getline(replies, reply);) decoded += Decode(reply);
  std::string expected;
  for (std::string record; std::getline(records, record);) expected += record + "\r\n";
  EXPECT_EQ(decoded, expected);
}

TEST(JournalKinds, CodesNamesClassesAndLengths) {
  struct Kind {
    std::uint8_t code;
    TMagOperClass cls;
    int length;
    const char* name;
  };
  const Kind kinds[] = {
      {0xA1, TMagOperClass::Sum, 15, "суммовая продажа"},
      {0xA2, TMagOperClass::Sum, 15, "суммовая покупка"},
      {0xA3, TMagOperClass::Code, 18, "пр. по коду"},
      {0xA4, TMagOperClass::Code, 18, "пок.по коду"},
      {0xA5, TMagOperClass::Code, 18, "прием оплаты за услугу"},
      {0xA6, TMagOperClass::Sum, 15, "аннуляция суммовой подажи"},
      {0xA7, TMagOperClass::Sum, 15, "аннуляция суммовой покупки"},
      {0xA8, TMagOperClass::Code, 18, "аннуляция продажи по коду"},
      {0xA9, TMagOperClass::Code, 18, "аннуляция покупки по коду"},
      {0xAB, TMagOperClass::Code, 18, "аннуляция оплаты за услугу"},
      {0xAC, TMagOperClass::Sum, 15, "суммовой возврат"},
      {0xAD, TMagOperClass::Code, 18, "возврат продажи по коду"},
      {0xAE, TMagOperClass::Code, 18, "возврат оплаты за услугу"},
      {0xB1, TMagOperClass::SkidkiOper, 12, "скидка на операцию"},
      {0xB2, TMagOperClass::SkidkiOper, 12, "надбавка операцию"},
      {0xB3, TMagOperClass::SkidkiOper, 12, "анн. скидки на операцию"},
      {0xB4, TMagOperClass::SkidkiOper, 12, "анн. надбавки на операцию"},
      {0xB5, TMagOperClass::Pi, 10, "сумма ПИ (ИТОГО)"},
      {0xB6, TMagOperClass::Pi, 10, "скидка на ПИ"},
      {0xB7, TMagOperClass::Pi, 10, "надбавка на ПИ"},
      {0xB8, TMagOperClass::Pi, 10, "анн скидки на ПИ"},
      {0xB9, TMagOperClass::Pi, 10, "анн набавки на ПИ"},
      {0xC1, TMagOperClass::SumTax, 11,
       "0x\xD0\xA1"
       "5 суммы по налоговым ставкам"},  // Cyrillic С
      {0xC2, TMagOperClass::SumTax, 11, "???"},
      {0xC3, TMagOperClass::SumTax, 11, "???"},
      {0xC4, TMagOperClass::SumTax, 11, "???"},
      {0xC5, TMagOperClass::SumTax, 11, "???"},
      {0xC9, TMagOperClass::Nalich, 18, "сумма к оплате с типом оплаты и суммой внесения"},
      {0xCA, TMagOperClass::CloseCheck, 14, "запись закрытия чека"},
      {0xCB, TMagOperClass::CheckOper, 3, "регистрация повторной печати чека"},
      {0xCC, TMagOperClass::CheckOper, 3, "аннуляция чека"},
  };
  int named = 0;
  for (const Kind& k : kinds) {
    SCOPED_TRACE(static_cast<int>(k.code));
    EXPECT_EQ(JournalRecordClass(k.code), k.cls);
    EXPECT_EQ(JournalRecordLength(k.cls), k.length);
    EXPECT_EQ(JournalRecordName(k.code), k.name);
  }
  // Every other byte is no record kind and has no name.
  for (int b = 0; b < 256; ++b) {
    const auto code = static_cast<std::uint8_t>(b);
    if (JournalRecordClass(code) != TMagOperClass::None) {
      ++named;
      continue;
    }
    EXPECT_EQ(JournalRecordName(code), "???") << b;
  }
  EXPECT_EQ(named, static_cast<int>(std::size(kinds)));
  for (int b : {0xAA, 0xAF, 0xB0, 0xBA, 0xC0, 0xC6, 0xC8, 0xA0, 0xCD, 0x01}) {
    EXPECT_EQ(JournalRecordClass(static_cast<std::uint8_t>(b)), TMagOperClass::None) << b;
  }
}

// Attach binds the codecs inside the record and reports its length; the
// codecs read the bytes where they stand (no copy).
TEST(JournalRecords, AttachBindsTheCodecsInPlace) {
  std::vector<std::uint8_t> rec = Bytes("A3 07 42 00 00 00 25 00 00 00 90 39 00 00 00 02 01 AA");
  TCodeMagOper oper;
  EXPECT_EQ(oper.Decode(), ";er;er;er;er;er;er");  // not attached yet: nothing to read
  EXPECT_EQ(oper.Attach(rec.data()), 18);
  EXPECT_EQ(oper.goodsCode.data, rec.data() + 2);
  EXPECT_EQ(oper.department.data, rec.data() + 16);
  EXPECT_EQ(oper.Decode(), "A3;7;42;2500;3990;2;1");
  rec[1] = 0x08;
  rec[16] = 0x03;
  EXPECT_EQ(oper.Decode(), "A3;8;42;2500;3990;2;3");

  std::vector<std::uint8_t> close = Bytes("CA 05 99 99 99 99 31 12 99 23 59 4B FF AA");
  TCloseCheckMagOper closing;
  EXPECT_EQ(closing.Attach(close.data()), 14);
  EXPECT_EQ(closing.date.data, close.data() + 6);
  EXPECT_EQ(closing.time.data, close.data() + 9);
  EXPECT_EQ(closing.Decode(), "CA;5;99999999;31.12.99;23:59;F;255");

  const std::unique_ptr<TAbstMagOper> all[] = {
      std::make_unique<TSumMagOper>(),        std::make_unique<TCodeMagOper>(),
      std::make_unique<TSkidkiOperMagOper>(), std::make_unique<TPiMagOper>(),
      std::make_unique<TSumTaxMagOper>(),     std::make_unique<TNalichMagOper>(),
      std::make_unique<TCloseCheckMagOper>(), std::make_unique<TCheckOperMagOper>()};
  const int lengths[] = {15, 18, 12, 10, 11, 18, 14, 3};
  std::uint8_t zeros[kMaxJournalRecordLength] = {};
  for (std::size_t i = 0; i < std::size(all); ++i) {
    EXPECT_EQ(all[i]->Attach(zeros), lengths[i]) << i;
  }
}

}  // namespace
}  // namespace zarvik
