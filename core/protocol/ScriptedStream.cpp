#include "protocol/ScriptedStream.h"

#include <algorithm>

namespace zarvik {

bool TScriptedStream::Read(std::uint8_t* buffer, std::uint32_t& count) {
  const std::uint32_t wanted = count;
  readSizes.push_back(wanted);
  count = 0;
  if (!open_) return false;
  if (input_.size() < wanted && onStarve) {
    std::size_t before = 0;
    do {
      before = input_.size();
      onStarve();
    } while (input_.size() < wanted && input_.size() > before);
  }
  const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(wanted, input_.size()));
  std::copy_n(input_.begin(), n, buffer);
  input_.erase(input_.begin(), input_.begin() + n);
  count = n;
  return n == wanted;
}

bool TScriptedStream::Write(const std::uint8_t* buffer, std::uint32_t& count) {
  if (!open_ || failWrites || (refuseWrite && refuseWrite(std::span<const std::uint8_t>(buffer, count)))) {
    count = 0;
    return false;
  }
  std::vector<std::uint8_t> bytes(buffer, buffer + count);
  written_.insert(written_.end(), bytes.begin(), bytes.end());
  writes_.push_back(bytes);
  if (onWrite) onWrite(std::span<const std::uint8_t>(bytes));
  return true;
}

bool TScriptedStream::Open() {
  if (open_) return true;
  if (failOpen) return false;
  open_ = true;
  ++opens;
  if (purgeOnOpen) input_.clear();
  return true;
}

bool TScriptedStream::Close() {
  if (!open_) return false;
  open_ = false;
  ++closes;
  return true;
}

void TScriptedStream::Feed(std::span<const std::uint8_t> bytes) {
  input_.insert(input_.end(), bytes.begin(), bytes.end());
}

}  // namespace zarvik
