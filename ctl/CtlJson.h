// zarvikctl --json: one JSON object a run, for scripts and the modules that
// run zarvikctl on the machine a register hangs on. A small writer of JSON
// text (strings escaped, UTF-8 kept as it is, bytes that are not UTF-8
// replaced by U+FFFD so that the text is always valid) and the report of a
// run: the command, its exit status, its result, its counts and every
// message it gave.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik::ctl {

// `text` as a JSON string, quotes included.
std::string JsonString(std::string_view text);

// An object or an array being built; members stay in the order given.
class TJson {
 public:
  static TJson Object() { return TJson(false); }
  static TJson Array() { return TJson(true); }

  // Members of an object.
  TJson& Str(std::string_view key, std::string_view value);
  TJson& Int(std::string_view key, std::int64_t value);
  TJson& Bool(std::string_view key, bool value);
  TJson& Sub(std::string_view key, const TJson& value);
  // Elements of an array.
  TJson& PushStr(std::string_view value);
  TJson& PushInt(std::int64_t value);
  TJson& Push(const TJson& value);

  bool Empty() const { return items_.empty(); }
  // The JSON text on one line.
  std::string Text() const;

 private:
  explicit TJson(bool array) : array_(array) {}
  TJson& Member(std::string_view key, std::string raw);

  bool array_;
  std::vector<std::string> items_;  // "key":value or value, as JSON text
};

// The report of one run with --json.
class TCtlReport {
 public:
  // A message of the run: "error", "warning" or "info".
  void Message(std::string_view level, const std::string& text);
  TJson& Result() { return result_; }
  TJson& Counts() { return counts_; }
  void SetCommand(std::string command) { command_ = std::move(command); }
  // {"command":…,"exit":…,"ok":…,"result":{…},"counts":{…},"messages":[…]}
  std::string Text(int exitStatus) const;

 private:
  std::string command_;
  TJson result_ = TJson::Object();
  TJson counts_ = TJson::Object();
  TJson messages_ = TJson::Array();
};

}  // namespace zarvik::ctl
