// Shared helpers of the protocol tests: a console that records trace lines,
// frame builders for the register's side, and a scripted register that
// answers each thing the PC writes with the next reply of a list.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "protocol/LinkFrames.h"
#include "protocol/ScriptedStream.h"
#include "shell/DiaLog.h"
#include "shell/TextCodec.h"

namespace zarvik::test {

using Bytes = std::vector<std::uint8_t>;

// Traces at mdFunctional into a log file of its own (the log keeps the
// bodies literally; the console would read "<-" as markup); everything is
// restored afterwards. Lines() gives the bodies without the timestamp.
class TraceCapture {
 public:
  TraceCapture() {
    savedDepth_ = MessDepth;
    savedLog_ = NameLogFile;
    savedDebug_ = isDEBUG;
    MessDepth = mdFunctional;
    isDEBUG = false;
    static int serial = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("zarvik_protocol_trace_" + std::to_string(::getpid()) + "_" + std::to_string(++serial) + ".log");
    std::filesystem::remove(path_);
    NameLogFile = path_.string();
  }
  ~TraceCapture() {
    MessDepth = savedDepth_;
    NameLogFile = savedLog_;
    isDEBUG = savedDebug_;
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::ifstream in(path_, std::ios::binary);
    std::string raw;
    while (std::getline(in, raw)) {
      if (!raw.empty() && raw.back() == '\r') raw.pop_back();
      const std::string text = Cp1251ToUtf8(raw);
      lines.push_back(text.size() >= kStampLength ? text.substr(kStampLength) : text);
    }
    return lines;
  }
  int Count(const std::string& line) const {
    int n = 0;
    for (const auto& l : Lines()) n += l == line ? 1 : 0;
    return n;
  }
  bool Contains(const std::string& line) const { return Count(line) > 0; }

 private:
  static constexpr std::size_t kStampLength = 18;  // "dd.mm.yy hh:nn:ss "
  std::filesystem::path path_;
  TMessDepth savedDepth_;
  std::string savedLog_;
  bool savedDebug_;
};

inline Bytes Ctl(std::uint8_t control, std::uint8_t address = 0x01) {
  const auto p = BuildControlPacket(address, control);
  return Bytes(p.begin(), p.end());
}
// A register control packet (direction bit set).
inline Bytes RCtl(std::uint8_t kind, std::uint8_t address = 0x01) {
  return Ctl(static_cast<std::uint8_t>(kind | kDirectionBit), address);
}
inline Bytes Frame(const Bytes& payload) {
  return BuildDataFrame(payload, payload.size());
}
// A register data header with packet number seq, and its frame.
inline Bytes RData(std::uint8_t seq, bool more, const Bytes& payload, std::uint8_t address = 0x01) {
  const auto header =
      static_cast<std::uint8_t>(kClassDataHeader | kDirectionBit | (seq & 7) | (more ? kContinuationBit : 0));
  Bytes out = Ctl(header, address);
  const Bytes f = Frame(payload);
  out.insert(out.end(), f.begin(), f.end());
  return out;
}
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The register as a list of replies: each write of the PC except a data
// header (whose frame follows in the next write) takes the next reply. An
// empty reply is silence; when the list is used up the register is silent.
class ScriptedRegister {
 public:
  explicit ScriptedRegister(TScriptedStream& line) : line_(line) {
    line_.onWrite = [this](std::span<const std::uint8_t> w) { OnWrite(w); };
  }
  ~ScriptedRegister() { line_.onWrite = nullptr; }
  ScriptedRegister(const ScriptedRegister&) = delete;
  ScriptedRegister& operator=(const ScriptedRegister&) = delete;

  void Then(Bytes reply) { replies_.push_back(std::move(reply)); }
  void Then(int times, const Bytes& reply) {
    for (int i = 0; i < times; ++i) replies_.push_back(reply);
  }
  std::size_t Left() const { return replies_.size(); }
  // The control bytes of the PC's control packets, in order.
  std::vector<std::uint8_t> pcControls;
  // The PC's data frames, unstuffed payloads.
  std::vector<Bytes> pcFrames;

 private:
  void OnWrite(std::span<const std::uint8_t> w) {
    if (w.size() == kControlPacketSize && w[0] == kFrameStart && w[1] == kControlMark) {
      pcControls.push_back(w[3]);
      if (IsDataHeader(w[3])) return;
    } else if (!w.empty() && w[0] == kDataLeadByte) {
      Bytes payload;
      for (std::size_t i = 1; i + 3 < w.size(); ++i) {
        payload.push_back(w[i]);
        if (w[i] == kEscapedByte) ++i;
      }
      pcFrames.push_back(payload);
    }
    if (replies_.empty()) return;
    line_.Feed(replies_.front());
    replies_.pop_front();
  }

  TScriptedStream& line_;
  std::deque<Bytes> replies_;
};

// A register that answers commands: RDY to a poll while it has nothing to
// send, ACK to the PC's data frame (with the continuation bit the frame's
// header had), then the answer that `respond` gives for the request, at
// once when the header had the continuation bit, else on the next poll. It
// keeps its own packet numbers. Each request, and each DISC, is recorded.
class AnsweringRegister {
 public:
  using Respond = std::function<Bytes(const Bytes& request)>;
  AnsweringRegister(TScriptedStream& line, Respond respond, std::uint8_t address = 0x01)
      : line_(line), respond_(std::move(respond)), address_(address) {
    line_.onWrite = [this](std::span<const std::uint8_t> w) { OnWrite(w); };
  }
  ~AnsweringRegister() { line_.onWrite = nullptr; }
  AnsweringRegister(const AnsweringRegister&) = delete;
  AnsweringRegister& operator=(const AnsweringRegister&) = delete;

  std::vector<Bytes> requests;
  // The PC's control bytes in order.
  Bytes controls;
  int Discs() const { return static_cast<int>(std::count(controls.begin(), controls.end(), kDISC)); }

 private:
  void OnWrite(std::span<const std::uint8_t> w) {
    if (w.size() == kControlPacketSize && w[0] == kFrameStart && w[1] == kControlMark) {
      const std::uint8_t c = w[3];
      controls.push_back(c);
      if (IsDataHeader(c)) {
        headerMore_ = (c & kContinuationBit) != 0;
        return;
      }
      const std::uint8_t kind = ControlKind(c);
      if (kind == kRDY) {
        if (pending_.empty()) {
          line_.Feed(RCtl(kRDY, address_));
        } else {
          line_.Feed(RData(seq_, false, pending_, address_));
          pending_.clear();
        }
      } else if (kind == kACK) {
        ++seq_;
      } else if (IsResyncKind(c)) {
        seq_ = 0;
      }
      return;
    }
    if (w.empty() || w[0] != kDataLeadByte) return;
    Bytes payload;
    for (std::size_t i = 1; i + 3 < w.size(); ++i) {
      payload.push_back(w[i]);
      if (w[i] == kEscapedByte) ++i;
    }
    requests.push_back(payload);
    const Bytes answer = respond_(payload);
    if (headerMore_) {
      line_.Feed(Cat({RCtl(static_cast<std::uint8_t>(kACK | kContinuationBit), address_),
                      RData(seq_, false, answer, address_)}));
    } else {
      line_.Feed(RCtl(kACK, address_));
      pending_ = answer;
    }
  }

  TScriptedStream& line_;
  Respond respond_;
  std::uint8_t address_;
  bool headerMore_ = false;
  std::uint8_t seq_ = 0;
  Bytes pending_;
};

}  // namespace zarvik::test
