#include "SimWire.h"

#include <cctype>

#include "shell/TextCodec.h"

namespace zarvik::sim {

std::uint8_t NetworkAddress(int networkNumber) {
  if (networkNumber < 1 || networkNumber > 98) return 0;
  return static_cast<std::uint8_t>((networkNumber / 10) * 16 + networkNumber % 10);
}

std::uint8_t CheckByte(const std::uint8_t* bytes, std::size_t length) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < length; ++i) sum += bytes[i];
  return static_cast<std::uint8_t>((256U - (sum & 0xFFU)) & 0xFFU);
}

Bytes BuildControlPacket(std::uint8_t address, std::uint8_t control) {
  const std::uint8_t body[2] = {address, control};
  return Bytes{kSync0, kSync1, address, control, CheckByte(body, 2)};
}

Bytes BuildDataFrame(const std::uint8_t* payload, std::size_t length) {
  if (length > kMaxPayload) length = kMaxPayload;
  Bytes out;
  out.reserve(length * 2 + 4);
  out.push_back(kLeadByte);
  for (std::size_t i = 0; i < length; ++i) {
    out.push_back(payload[i]);
    if (payload[i] == kEscape) out.push_back(kStuffed);
  }
  out.push_back(kEscape);
  out.push_back(kEndMark);
  out.push_back(CheckByte(payload, length));
  return out;
}

void FrameReceiver::Reset() {
  state_ = State::Hunt;
  payload_.clear();
  sum_ = 0;
}

std::optional<FrameReceiver::Event> FrameReceiver::FrameFailed() {
  Event ev;
  ev.kind = EventKind::BadFrame;
  ev.control = header_;
  Reset();
  return ev;
}

std::optional<FrameReceiver::Event> FrameReceiver::Feed(std::uint8_t byte) {
  switch (state_) {
    case State::Hunt:
      if (byte == kSync0) state_ = State::Sync1;
      return std::nullopt;
    case State::Sync1:
      if (byte == kSync1) {
        state_ = State::Address;
      } else if (byte != kSync0) {
        state_ = State::Hunt;
      }
      return std::nullopt;
    case State::Address:
      packet_[2] = byte;
      state_ = State::Control;
      return std::nullopt;
    case State::Control:
      packet_[3] = byte;
      state_ = State::Check;
      return std::nullopt;
    case State::Check: {
      packet_[4] = byte;
      state_ = State::Hunt;
      Event ev;
      ev.control = packet_[3];
      const unsigned sum = unsigned{packet_[2]} + packet_[3] + packet_[4];
      if ((sum & 0xFFU) != 0 || packet_[2] != address_) {
        ev.kind = EventKind::Ignored;
        return ev;
      }
      if ((packet_[3] & kClassMask) == kClassData) {
        header_ = packet_[3];
        payload_.clear();
        sum_ = 0;
        state_ = State::Lead;
        return std::nullopt;
      }
      ev.kind = EventKind::Control;
      return ev;
    }
    case State::Lead: state_ = State::Payload; return std::nullopt;
    case State::Payload:
      if (byte == kEscape) {
        state_ = State::Escape;
        return std::nullopt;
      }
      if (payload_.size() >= kMaxPayload) return FrameFailed();
      payload_.push_back(byte);
      sum_ = static_cast<std::uint8_t>(sum_ + byte);
      return std::nullopt;
    case State::Escape:
      if (byte == kEndMark) {
        state_ = State::FrameCheck;
        return std::nullopt;
      }
      if (byte == kStuffed && payload_.size() < kMaxPayload) {
        payload_.push_back(kEscape);
        sum_ = static_cast<std::uint8_t>(sum_ + kEscape);
        state_ = State::Payload;
        return std::nullopt;
      }
      {
        auto failed = FrameFailed();
        // 0x7F 0x02 inside a broken frame is taken as the start of a new packet.
        if (byte == kSync1) state_ = State::Address;
        return failed;
      }
    case State::FrameCheck: {
      if (static_cast<std::uint8_t>(sum_ + byte) != 0) return FrameFailed();
      Event ev;
      ev.kind = EventKind::Data;
      ev.control = header_;
      ev.payload = std::move(payload_);
      Reset();
      return ev;
    }
  }
  return std::nullopt;
}

bool PutBcd(std::uint8_t* out, std::size_t width, std::uint64_t value) {
  Bytes tmp(width, 0);
  for (std::size_t i = 0; i < width; ++i) {
    const auto lo = static_cast<unsigned>(value % 10);
    value /= 10;
    const auto hi = static_cast<unsigned>(value % 10);
    value /= 10;
    tmp[i] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  if (value != 0) return false;
  for (std::size_t i = 0; i < width; ++i) out[i] = tmp[i];
  return true;
}

std::optional<std::uint64_t> GetBcd(const std::uint8_t* in, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;) {
    const int v = BcdValue(in[i]);
    if (v < 0) return std::nullopt;
    value = value * 100 + static_cast<std::uint64_t>(v);
  }
  return value;
}

std::uint8_t BcdByte(int value) {
  if (value < 0 || value > 99) value = 0;
  return static_cast<std::uint8_t>((value / 10) * 16 + value % 10);
}

int BcdValue(std::uint8_t byte) {
  const int hi = byte >> 4;
  const int lo = byte & 0x0F;
  if (hi > 9 || lo > 9) return -1;
  return hi * 10 + lo;
}

std::optional<std::uint64_t> ParseScaled(std::string_view text, int decimals) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t whole = 0;
  std::uint64_t frac = 0;
  int fracDigits = 0;
  bool point = false;
  bool digits = false;
  for (const char c : text) {
    if (c == '.' || c == ',') {
      if (point) return std::nullopt;
      point = true;
      continue;
    }
    if (c < '0' || c > '9') return std::nullopt;
    digits = true;
    const auto d = static_cast<std::uint64_t>(c - '0');
    if (!point) {
      if (whole > 100000000000000ULL) return std::nullopt;
      whole = whole * 10 + d;
    } else {
      if (fracDigits >= decimals) return std::nullopt;
      frac = frac * 10 + d;
      ++fracDigits;
    }
  }
  if (!digits) return std::nullopt;
  for (; fracDigits < decimals; ++fracDigits) frac *= 10;
  std::uint64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  return whole * scale + frac;
}

std::string FormatScaled(std::uint64_t value, int decimals) {
  std::uint64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  std::string out = std::to_string(value / scale);
  if (decimals > 0) {
    std::string frac = std::to_string(value % scale);
    while (frac.size() < static_cast<std::size_t>(decimals)) frac.insert(frac.begin(), '0');
    out += "." + frac;
  }
  return out;
}

void PutText(std::uint8_t* out, std::size_t width, std::string_view utf8) {
  const std::string bytes = Utf8ToCp1251(utf8);
  for (std::size_t i = 0; i < width; ++i) {
    out[i] = i < bytes.size() ? static_cast<std::uint8_t>(bytes[i]) : std::uint8_t{0};
  }
}

std::string GetText(const std::uint8_t* in, std::size_t width) {
  std::string bytes;
  for (std::size_t i = 0; i < width && in[i] != 0; ++i) bytes.push_back(static_cast<char>(in[i]));
  return Cp1251ToUtf8(bytes);
}

std::optional<Bytes> ParseHexBytes(std::string_view text) {
  Bytes out;
  int pending = -1;
  for (const char c : text) {
    int v = -1;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else if (c == ' ' || c == ',' || c == '\t') {
      if (pending >= 0) return std::nullopt;
      continue;
    } else {
      return std::nullopt;
    }
    if (pending < 0) {
      pending = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(pending * 16 + v));
      pending = -1;
    }
  }
  if (pending >= 0) return std::nullopt;
  return out;
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    if (i) out.push_back(' ');
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return out;
}

}  // namespace zarvik::sim
