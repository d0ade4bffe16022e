// Every command of the register against the simulator over its line: what
// is written reads back equal, and the register's refusals.
#include <gtest/gtest.h>

#include <algorithm>

#include "SimTestLine.h"
#include "shell/TextCodec.h"

namespace zarvik::sim {
namespace {

using simtest::Bytes;

class SimCommands : public simtest::SimOnPty {
 protected:
  // Request bytes: 01, command, then `params`, zero-filled to `size`.
  static Bytes Req(std::uint8_t cmd, Bytes params = {}, std::size_t size = 0) {
    Bytes r;
    r.push_back(0x01);
    r.push_back(cmd);
    for (const std::uint8_t b : params) r.push_back(b);
    while (r.size() < size) r.push_back(0);
    return r;
  }
  static void PutField(Bytes& r, std::size_t at, std::size_t width, const std::string& utf8) {
    const std::string b = Utf8ToCp1251(utf8);
    for (std::size_t i = 0; i < width; ++i) r[at + i] = i < b.size() ? static_cast<std::uint8_t>(b[i]) : 0;
  }
  static std::string Field(const Bytes& a, std::size_t at, std::size_t width) {
    std::string s;
    for (std::size_t i = 0; i < width && a[at + i] != 0; ++i) s.push_back(static_cast<char>(a[at + i]));
    return Cp1251ToUtf8(s);
  }
  std::uint8_t Result(const Bytes& request, bool continued = true) {
    const Bytes a = pc_.One(request, continued);
    return a.size() >= 3 ? a[2] : 0xFF;
  }
};

TEST_F(SimCommands, InfoAndDateTime) {
  const Bytes a = pc_.One(Req(1));
  ASSERT_EQ(a.size(), 44U);
  EXPECT_EQ(Field(a, 3, 16), "Зарвик-02Ф");
  EXPECT_EQ(Field(a, 19, 12), "002100457731");
  EXPECT_EQ(Field(a, 31, 12), "B 003");
  EXPECT_EQ(a[43], 2);
  EXPECT_EQ(pc_.One(Req(2)), (Bytes{0x01, 0x02, 0x00, 0x15, 0x12, 0x10, 0x14, 0x05, 0x00}));
  sim_->ModifyState([](RegisterState& s) { s.dateTime.clear(); });  // the computer's clock
  const Bytes now = pc_.One(Req(2));
  ASSERT_EQ(now.size(), 9U);
  for (std::size_t i = 3; i < 9; ++i) EXPECT_GE(BcdValue(now[i]), 0);
  EXPECT_EQ(Result(Req(1, {0x00})), rcBadFormat);  // wrong request length
  EXPECT_EQ(Result(Req(0x63)), rcUnknownCommand);
}

TEST_F(SimCommands, HeaderAndFooterLinesWithFonts) {
  for (const std::uint8_t cmd : {std::uint8_t{4}, std::uint8_t{6}}) {
    for (std::uint8_t n = 0; n < 6; ++n) {
      Bytes w = Req(cmd, {n, static_cast<std::uint8_t>(n + 2)}, 36);
      PutField(w, 4, 32, "Строка " + std::to_string(n + 1) + " «Ёлка» с очень длинным текстом");
      ASSERT_EQ(Result(w), rcOk);
    }
    for (std::uint8_t n = 0; n < 6; ++n) {
      const Bytes a = pc_.One(Req(static_cast<std::uint8_t>(cmd - 1), {n}));
      ASSERT_EQ(a.size(), 37U);
      EXPECT_EQ(a[4], n + 2);
      EXPECT_EQ(Field(a, 5, 32),
                Utf8Left("Строка " + std::to_string(n + 1) + " «Ёлка» с очень длинным текстом", 32));
    }
    EXPECT_EQ(Result(Req(static_cast<std::uint8_t>(cmd - 1), {6})), rcBadFormat);  // line 7
    EXPECT_EQ(Result(Req(cmd, {0, 9}, 36)), rcBadFormat);                          // font 9
    EXPECT_EQ(Result(Req(cmd, {0, 0xCC}, 36)), rcOk);                              // the letter М
  }
  EXPECT_EQ(sim_->State().header[5].font, 7);
}

TEST_F(SimCommands, DepartmentsWriteReadAndClose) {
  Bytes w = Req(8, {2, 0xA2}, 35);
  PutField(w, 4, 22, "Доставка на дом");
  w[29] = 3;
  w[30] = 0x34;  // 12.34 -> 34 12 00 00 00
  w[31] = 0x12;
  ASSERT_EQ(Result(w), rcOk);
  Bytes a = pc_.One(Req(7, {2}));
  ASSERT_EQ(a.size(), 36U);
  EXPECT_EQ(a[4], 0xA2);
  EXPECT_EQ(Field(a, 5, 22), "Доставка на дом");
  EXPECT_EQ(a[30], 3);
  EXPECT_EQ(Bytes(a.begin() + 31, a.end()), (Bytes{0x34, 0x12, 0, 0, 0}));
  EXPECT_EQ(sim_->State().departments[1].priceLimit, 1234U);

  ASSERT_EQ(Result(Req(8, {2, 0xA3}, 35)), rcOk);  // closed: everything else zero
  a = pc_.One(Req(7, {2}));
  EXPECT_EQ(a, (Bytes{0x01, 0x07, 0x00, 0x00, 0xA3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                      0,    0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  // Tax group 0 is taken (the PC sends it for a letter outside A..E).
  w[29] = 0;
  EXPECT_EQ(Result(w), rcOk);

  const std::uint8_t maxDep = static_cast<std::uint8_t>(sim_->State().maxCountDepat);
  struct Bad {
    const char* what;
    Bytes req;
  };
  Bytes badPrice = w;
  badPrice[30] = 0x3A;
  Bytes badTax = w;
  badTax[29] = 6;
  Bytes badStatus = w;
  badStatus[3] = 0xA4;
  const Bad bad[] = {{"department 0 read", Req(7, {0})},
                     {"department past maxCountDepat", Req(7, {static_cast<std::uint8_t>(maxDep + 1)})},
                     {"write past maxCountDepat", Req(8, {static_cast<std::uint8_t>(maxDep + 1), 0xA3}, 35)},
                     {"non-BCD price", badPrice},
                     {"tax group 6", badTax},
                     {"status A4", badStatus},
                     {"short write", Req(8, {2, 0xA3}, 34)}};
  for (const auto& b : bad) EXPECT_EQ(Result(b.req), rcBadFormat) << b.what;
}

TEST_F(SimCommands, OptionsWriteAndReadBackAndCounts) {
  const std::size_t count = sim_->State().options.size();
  ASSERT_EQ(count, 32U);
  Bytes w = Req(10);
  for (std::size_t i = 0; i < count; ++i) w.push_back(static_cast<std::uint8_t>(i * 3));
  ASSERT_EQ(Result(w), rcOk);
  const Bytes a = pc_.One(Req(9));
  ASSERT_EQ(a.size(), 3 + count);
  EXPECT_EQ(Bytes(a.begin() + 3, a.end()), Bytes(w.begin() + 2, w.end()));
  w.push_back(1);  // one value too many
  EXPECT_EQ(Result(w), rcBadFormat);

  for (const std::size_t n : {std::size_t{0}, std::size_t{67}}) {
    sim_->ModifyState([n](RegisterState& s) { s.options.assign(n, 5); });
    EXPECT_EQ(pc_.One(Req(9)).size(), 3 + n) << n;
  }
}

TEST_F(SimCommands, TaxesAreReadOnly) {
  sim_->ModifyState([](RegisterState& s) { s.taxes[0] = Tax{0xAA, 1, 1850, "НДС 18,5%"}; });
  const Bytes a = pc_.One(Req(13, {1}));
  ASSERT_EQ(a.size(), 19U);
  EXPECT_EQ(Bytes(a.begin() + 3, a.begin() + 7), (Bytes{0xAA, 0x01, 0x50, 0x18}));
  EXPECT_EQ(Field(a, 7, 12), "НДС 18,5%");
  const Bytes undefined = pc_.One(Req(13, {5}));
  EXPECT_EQ(undefined[3], 0);
  for (const std::uint8_t n : {std::uint8_t{0}, std::uint8_t{6}})
    EXPECT_EQ(Result(Req(13, {n})), rcBadFormat) << int{n};
  EXPECT_EQ(Result(Req(14)), rcUnknownCommand);  // there is no tax write
}

TEST_F(SimCommands, OperatorsAndPositions) {
  for (std::uint8_t n = 1; n <= 4; ++n) {
    Bytes w = Req(22, {n}, 35);
    PutField(w, 3, 32, "Оператор №" + std::to_string(n));
    ASSERT_EQ(Result(w), rcOk);
    Bytes p = Req(24, {n}, 35);
    PutField(p, 3, 32, "Должность " + std::to_string(n));
    ASSERT_EQ(Result(p), rcOk);
  }
  for (std::uint8_t n = 1; n <= 4; ++n) {
    const Bytes a = pc_.One(Req(21, {n}));
    ASSERT_EQ(a.size(), 37U);
    EXPECT_EQ(Field(a, 4, 32), "Оператор №" + std::to_string(n));
    EXPECT_EQ(Field(pc_.One(Req(23, {n})), 4, 32), "Должность " + std::to_string(n));
  }
  // Four operators: operator 5 and 8 are refused with code 3.
  EXPECT_EQ(Result(Req(21, {5})), rcBadFormat);
  EXPECT_EQ(Result(Req(21, {8})), rcBadFormat);
  EXPECT_EQ(Result(Req(23, {5})), rcBadFormat);
  sim_->ModifyState([](RegisterState& s) { s.operatorCount = 8; });
  EXPECT_EQ(Result(Req(21, {8})), rcOk);
  sim_->ModifyState([](RegisterState& s) { s.operatorCount = 0; });
  EXPECT_EQ(Result(Req(21, {1})), rcUnknownCommand);
  EXPECT_EQ(Result(Req(22, {1}, 35)), rcUnknownCommand);
}

TEST_F(SimCommands, GoodsWriteReadResetAndDelete) {
  Goods g;
  g.code = 1999;
  g.flags = 2;  // by weight, blocked
  g.name = "Сыр «Пошехонский» весовой";
  g.price = 64990;
  g.taxGroup = 2;
  g.section = 2;
  g.barcode = "12345678901234567890";
  auto rec = EncodeGoods(g);
  Bytes w = Req(17);
  w.insert(w.end(), rec.begin(), rec.begin() + 54);
  w.push_back(0x00);  // keep the quantity sold
  ASSERT_EQ(Result(w), rcOk);
  Bytes a = pc_.One(Req(16, {0x99, 0x19}), false);
  ASSERT_EQ(a.size(), 67U);
  EXPECT_EQ(a[2], 0);
  Goods back;
  ASSERT_TRUE(DecodeGoods(&a[3], back));
  EXPECT_EQ(back, g);

  // The quantity sold survives a write with 0x00 and is reset by 0xAA.
  sim_->ModifyState([](RegisterState& s) { s.goods[1999].sold = 12345; });
  ASSERT_EQ(Result(w), rcOk);
  EXPECT_EQ(sim_->State().goods.at(1999).sold, 12345U);
  w.back() = 0xAA;
  ASSERT_EQ(Result(w), rcOk);
  EXPECT_EQ(sim_->State().goods.at(1999).sold, 0U);

  // Type 0 deletes; the number then reads as "not found".
  Bytes del = w;
  del[2] = 0x00;
  ASSERT_EQ(Result(del), rcOk);
  EXPECT_EQ(Result(Req(16, {0x99, 0x19}), false), rcNotFound);

  struct Bad {
    const char* what;
    std::size_t offset;
    std::uint8_t value;
    std::uint8_t result;
  };
  const Bad bad[] = {{"goods number 0", 2 + 2, 0x00, rcBadGoodsCode},
                     {"non-BCD price", 2 + 37, 0xAB, rcBadFormat},
                     {"tax group 6", 2 + 42, 6, rcBadFormat},
                     {"section past maxCountDepat", 2 + 43, 17, rcBadFormat},
                     {"non-BCD barcode", 2 + 44, 0xF0, rcBadFormat}};
  for (const auto& b : bad) {
    Bytes r = w;
    if (b.offset == 4) {  // the whole code
      r[4] = r[5] = r[6] = 0;
    } else {
      r[b.offset] = b.value;
    }
    EXPECT_EQ(Result(r), b.result) << b.what;
  }
  Bytes beyond = w;
  beyond[4] = 0x01;  // 2001 with a capacity of 2000
  beyond[5] = 0x20;
  EXPECT_EQ(Result(beyond), rcBadGoodsCode);
}

TEST_F(SimCommands, GoodsNumberProbes) {
  // Capacity 2000: 100..2000 answer 0 or 9, 3000 and 4000 answer 3.
  const struct {
    Bytes code;
    std::uint8_t result;
  } probes[] = {{{0x01, 0x00}, rcOk},        {{0x00, 0x01}, rcNotFound},  {{0x00, 0x05}, rcNotFound},
                {{0x00, 0x10}, rcNotFound},  {{0x00, 0x20}, rcNotFound},  {{0x00, 0x30}, rcBadFormat},
                {{0x00, 0x40}, rcBadFormat}, {{0x00, 0x00}, rcBadFormat}, {{0x0A, 0x00}, rcBadFormat}};
  for (const auto& p : probes) {
    EXPECT_EQ(Result(Req(16, p.code), false), p.result) << int{p.code[1]};
  }
  sim_->ModifyState([](RegisterState& s) { s.goodsCapacity = 4000; });
  EXPECT_EQ(Result(Req(16, {0x00, 0x40}), false), rcNotFound);
}

TEST_F(SimCommands, PrintLinesAreCollected) {
  Bytes w = Req(25, {3, 5}, 39);
  PutField(w, 4, 32, "ИТОГО: 123.45");
  w[36] = 0x0A;
  w[37] = 0x0D;
  ASSERT_EQ(Result(w), rcOk);
  EXPECT_EQ(Result(Req(25, {9, 5}, 39)), rcBadFormat);  // font 9
  EXPECT_EQ(Result(Req(25, {0, 6}, 39)), rcBadFormat);  // brightness 6
  EXPECT_EQ(Result(Req(25, {0, 0}, 38)), rcBadFormat);  // short
  const auto printed = sim_->State().printed;
  ASSERT_EQ(printed.size(), 1U);
  EXPECT_EQ(printed[0], (PrintedLine{3, 5, "ИТОГО: 123.45"}));
}

TEST_F(SimCommands, CommandsAreLoggedInOrder) {
  pc_.One(Req(1));
  pc_.One(Req(9));
  pc_.One(Req(13, {1}));
  EXPECT_EQ(sim_->State().commandsExecuted, (std::vector<std::uint8_t>{1, 9, 13}));
}

}  // namespace
}  // namespace zarvik::sim
