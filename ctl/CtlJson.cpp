#include "CtlJson.h"

namespace zarvik::ctl {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr char kHex[] = "0123456789abcdef";

// The length of the valid UTF-8 sequence at `text[at]`, or 0.
std::size_t Utf8SequenceAt(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
  const unsigned char b = byte(0);
  std::size_t length = 0;
  char32_t least = 0;
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
    least = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    least = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    least = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  char32_t c = b & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(k) & 0x3F);
  }
  // No overlong forms, no surrogates, nothing beyond U+10FFFF.
  if (c < least || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0;
  return length;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (std::size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c >= 0x80) {
      const std::size_t length = Utf8SequenceAt(text, at);
      if (length == 0) {
        out += kReplacement;
        ++at;
      } else {
        out.append(text.substr(at, length));
        at += length;
      }
      continue;
    }
    ++at;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\u00";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 0xF]);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
  return out;
}

TJson& TJson::Member(std::string_view key, std::string raw) {
  items_.push_back(array_ ? std::move(raw) : JsonString(key) + ":" + raw);
  return *this;
}

TJson& TJson::Str(std::string_view key, std::string_view value) {
  return Member(key, JsonString(value));
}
TJson& TJson::Int(std::string_view key, std::int64_t value) {
  return Member(key, std::to_string(value));
}
TJson& TJson::Bool(std::string_view key, bool value) {
  return Member(key, value ? "true" : "false");
}
TJson& TJson::Sub(std::string_view key, const TJson& value) {
  return Member(key, value.Text());
}
TJson& TJson::PushStr(std::string_view value) {
  return Member({}, JsonString(value));
}
TJson& TJson::PushInt(std::int64_t value) {
  return Member({}, std::to_string(value));
}
TJson& TJson::Push(const TJson& value) {
  return Member({}, value.Text());
}

std::string TJson::Text() const {
  std::string out(1, array_ ? '[' : '{');
  for (std::size_t k = 0; k < items_.size(); ++k) {
    if (k > 0) out.push_back(',');
    out += items_[k];
  }
  out.push_back(array_ ? ']' : '}');
  return out;
}

void TCtlReport::Message(std::string_view level, const std::string& text) {
  messages_.Push(TJson::Object().Str("level", level).Str("text", text));
}

std::string TCtlReport::Text(int exitStatus) const {
  return TJson::Object()
      .Str("command", command_)
      .Int("exit", exitStatus)
      .Bool("ok", exitStatus == 0)
      .Sub("result", result_)
      .Sub("counts", counts_)
      .Sub("messages", messages_)
      .Text();
}

}  // namespace zarvik::ctl
