// An in-memory line: the bytes "the register" sends are queued with Feed,
// everything written is recorded, and a callback may answer each write. A
// read that finds too few bytes behaves like a port time-out: it takes what
// is there and fails. Used by the tests and the fuzz target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <vector>

#include "protocol/ByteStream.h"

namespace zarvik {

class TScriptedStream final : public IByteStream {
 public:
  TScriptedStream() = default;

  bool Read(std::uint8_t* buffer, std::uint32_t& count) override;
  bool Write(const std::uint8_t* buffer, std::uint32_t& count) override;
  bool Open() override;
  bool Close() override;
  bool IsOpen() const override { return open_; }
  void DiscardInput() override {
    ++discards;
    input_.clear();
  }

  // Queues bytes for the reader.
  void Feed(std::span<const std::uint8_t> bytes);
  void Feed(std::initializer_list<std::uint8_t> bytes) { Feed(std::span(bytes.begin(), bytes.size())); }
  std::size_t Pending() const { return input_.size(); }
  void DropPending() { input_.clear(); }

  // Everything written, in order, and the writes one by one.
  const std::vector<std::uint8_t>& Written() const { return written_; }
  const std::vector<std::vector<std::uint8_t>>& Writes() const { return writes_; }
  void ClearWritten() {
    written_.clear();
    writes_.clear();
  }

  // Called after each successful write with its bytes; may Feed an answer.
  std::function<void(std::span<const std::uint8_t>)> onWrite;
  // Called when a read finds fewer bytes than wanted; may Feed more (an
  // endless source). The read is retried while the queue grows.
  std::function<void()> onStarve;

  // Fault switches.
  bool failOpen = false;
  bool failWrites = false;
  // When set and true for the bytes of a write, that write fails.
  std::function<bool(std::span<const std::uint8_t>)> refuseWrite;
  // Opening empties the input queue, as opening a port purges it.
  bool purgeOnOpen = true;
  // Number of Open and Close calls that changed the state.
  int opens = 0;
  int closes = 0;
  int discards = 0;  // DiscardInput calls
  // Read calls, for tests of how the reader asks for bytes.
  std::vector<std::uint32_t> readSizes;

 private:
  std::deque<std::uint8_t> input_;
  std::vector<std::uint8_t> written_;
  std::vector<std::vector<std::uint8_t>> writes_;
  bool open_ = true;
};

}  // namespace zarvik
