// Field codecs: small views over the fixed-width binary fields the register
// sends and receives (packed-BCD dates, times and numbers, raw bytes shown in
// hexadecimal, little-endian binary integers), and helpers for fixed-width
// text fields.
//
// A codec points at a run of bytes inside a larger buffer (a request, an
// answer, the goods record, a journal record) and converts between those bytes
// and the text the user sees. It never owns, allocates or frees the bytes.
// Texts on this side are UTF-8; text fields on the register side are code page
// 1251 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zarvik {

// Text shown for a field that cannot be read (wrong length or no bytes).
inline constexpr std::string_view kFieldErrorText = "er";

class TBaseTypeKKM {
 public:
  std::int32_t length = 0;       // number of bytes viewed
  std::uint8_t* data = nullptr;  // first byte viewed; not owned

  virtual std::string ToText() const = 0;
  // Writes the field from a text; false (and, unless stated otherwise, the
  // bytes unchanged) when the text is refused.
  virtual bool FromText(std::string_view text) = 0;
  virtual bool IsValid() const = 0;
  // Copies `length` bytes from `source`; false when there is nothing to copy
  // from or to.
  virtual bool Assign(const std::uint8_t* source);
  // Hexadecimal digits of the text in order, every other character ignored;
  // digit pair k becomes byte k, an odd count is completed with a "0" at the
  // end, the rest of the field is cleared to 0x00. False for an empty text or
  // more digits than the field holds (nothing written then).
  virtual bool FromHex(std::string_view text);
  // Marks the field as unset: every byte 0xFF.
  virtual void Erase();

 protected:
  TBaseTypeKKM(std::uint8_t* bytes, std::int32_t count) : length(count), data(bytes) {}
  TBaseTypeKKM(const TBaseTypeKKM&) = default;
  TBaseTypeKKM& operator=(const TBaseTypeKKM&) = default;
  // Not virtual: codecs are plain values and never deleted through the base.
  ~TBaseTypeKKM() = default;

  bool HasBytes() const { return data != nullptr && length > 0; }
  std::size_t Size() const { return length > 0 ? static_cast<std::size_t>(length) : 0; }
};

// Date DD.MM.YY: byte 0 day, byte 1 month, byte 2 year within 2000..2099, each
// two packed BCD digits. A byte 0x00 or 0xFF marks the date as unset.
class TDateKKM final : public TBaseTypeKKM {
 public:
  static constexpr std::int32_t kLength = 3;
  explicit TDateKKM(std::uint8_t* bytes) : TBaseTypeKKM(bytes, kLength) {}
  std::string ToText() const override;
  bool FromText(std::string_view text) override;
  bool IsValid() const override;
};

// Time HH:MM: byte 0 hours, byte 1 minutes, packed BCD. 24:00 is accepted; a
// byte 0xFF marks the time as unset.
class TTimeKKM final : public TBaseTypeKKM {
 public:
  static constexpr std::int32_t kLength = 2;
  explicit TTimeKKM(std::uint8_t* bytes) : TBaseTypeKKM(bytes, kLength) {}
  std::string ToText() const override;
  bool FromText(std::string_view text) override;
  bool IsValid() const override;
};

// Unsigned decimal number in packed BCD, least significant byte first (byte 0
// holds the two lowest digits, tens in the high nibble).
class TNumberKKM final : public TBaseTypeKKM {
 public:
  TNumberKKM(std::uint8_t* bytes, std::int32_t count) : TBaseTypeKKM(bytes, count) {}
  // The bytes as hexadecimal from the last to the first, leading zeros
  // removed, "0" for zero. Non-BCD nibbles show as letters.
  std::string ToText() const override;
  // Decimal digits only, at most two per byte; the field is cleared and the
  // digit pairs are written from the right end.
  bool FromText(std::string_view text) override;
  bool IsValid() const override;
};

// Any bytes, shown as hexadecimal separated by blanks.
class THEXKKM final : public TBaseTypeKKM {
 public:
  THEXKKM(std::uint8_t* bytes, std::int32_t count) : TBaseTypeKKM(bytes, count) {}
  std::string ToText() const override;
  bool FromText(std::string_view text) override;
  bool IsValid() const override;
};

// Unsigned little-endian integer of up to 8 bytes, shown in decimal; a longer
// field behaves as THEXKKM.
class TBinKKM final : public TBaseTypeKKM {
 public:
  static constexpr std::int32_t kMaxNumberLength = 8;
  TBinKKM(std::uint8_t* bytes, std::int32_t count) : TBaseTypeKKM(bytes, count) {}
  // Decimal value; with 8 bytes printed as a signed 64-bit number.
  std::string ToText() const override;
  // A decimal 64-bit integer (optional sign); its lowest `length` bytes are
  // written, higher bytes are dropped.
  bool FromText(std::string_view text) override;
  bool IsValid() const override;
};

// Each byte as two upper-case hexadecimal digits, `separator` between bytes.
std::string HexText(const std::uint8_t* bytes, std::size_t count, std::string_view separator);
// Two packed BCD digits as a number; nibbles are not checked.
int BcdToInt(std::uint8_t b);
// Not empty and only the digits 0-9.
bool IsNumberText(std::string_view text);
// Little-endian unsigned value of a field of at most 4 bytes; -1 for a longer
// field or a field without bytes.
std::int64_t BinValue(const TBinKKM& codec);

// The text of a fixed-width register text field: the bytes up to `width` or
// up to the first 0x00, whichever comes first, code page 1251 to UTF-8.
std::string TextFromField(const std::uint8_t* bytes, std::size_t width);
// Copies the first min(characters of `text`, `width`) characters into the
// buffer as code page 1251 bytes, leaving out every character that is not a
// register character (the later ones move up). The buffer is neither
// terminated nor padded: callers clear it first. Returns the bytes written.
std::size_t FieldFromText(std::uint8_t* buffer, std::string_view text, std::size_t width);
// Code page 1251 bytes the register prints: 0x20..0x7F, 0xA8 (Ё), 0xB8 (ё),
// 0xC0..0xFF (А..я).
bool IsRegisterChar(std::uint8_t c);

}  // namespace zarvik
