#include "protocol/TransferResume.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "journal/U_magazineoperation.h"
#include "shell/DiaLog.h"
#include "shell/UiHooks.h"

namespace zarvik {
namespace {

// A streamed answer: 01, the command, the result code, then the data.
constexpr std::size_t kResultOffset = 2;
constexpr std::size_t kGoodsRecordOffset = 3;
constexpr std::size_t kGoodsCodeOffset = 2;  // in the record
constexpr std::size_t kGoodsCodeWidth = 3;
constexpr int kHighestGoodsCode = 9999;
constexpr std::uint8_t kJournalEndCode = 9;

// The goods code of a streamed answer that carries a record (result 0).
bool FrameGoodsCode(std::span<const std::uint8_t> frame, std::int64_t& code) {
  if (frame.size() < kGoodsRecordOffset + kGoodsRecordSize || frame[kResultOffset] != 0) return false;
  code = 0;
  for (std::size_t i = kGoodsCodeWidth; i-- > 0;) {
    const std::uint8_t b = frame[kGoodsRecordOffset + kGoodsCodeOffset + i];
    const int high = b >> 4;
    const int low = b & 0x0F;
    if (high > 9 || low > 9) return false;
    code = code * 100 + high * 10 + low;
  }
  return true;
}

void Pause(TProtocolKKM& protocol, std::chrono::milliseconds d) {
  if (protocol.sleep) {
    protocol.sleep(d);
  } else {
    std::this_thread::sleep_for(d);
  }
}

bool StopRequested(const TResumeControl& control) {
  return UiHooks().IsTerminating() || (control.stopRequested && control.stopRequested());
}

// Counts the resumptions in a row at one place and prepares the next
// attempt. False when the transfer must give up.
class TResumer {
 public:
  TResumer(TProtocolKKM& protocol, const TResumeControl& control) : protocol_(protocol), control_(control) {}

  bool Next(std::int64_t place, const char* what) {
    if (StopRequested(control_)) return false;
    inRow_ = place == lastPlace_ ? inRow_ + 1 : 1;
    lastPlace_ = place;
    if (count_ >= kMaxResumptions) {
      WT(std::string(what) + ": " + std::to_string(kMaxResumptions) + " resumptions, given up", mdFunctional);
      return false;
    }
    if (inRow_ > kMaxResumptionsInRow) {
      WT(std::string(what) + ": " + std::to_string(kMaxResumptionsInRow) +
             " resumptions without progress, given up",
         mdFunctional);
      return false;
    }
    ++count_;
    ++protocol_.lineCounts.resumptions;
    WT(std::string(what) + ": resumed (" + std::to_string(count_) + ")", mdFunctional);
    if (control_.onResume) control_.onResume(count_);
    // Whatever the register still holds of the abandoned exchange is given
    // up before it is asked again.
    protocol_.SendControl(kDISC);
    Pause(protocol_, kResumePause);
    if (IByteStream* line = protocol_.Line()) line->DiscardInput();
    return !StopRequested(control_);
  }

 private:
  TProtocolKKM& protocol_;
  const TResumeControl& control_;
  std::int64_t lastPlace_ = -1;
  int inRow_ = 0;
  int count_ = 0;
};

}  // namespace

bool ReadAllGoodsResuming(TProtocolKKM& protocol, const TOnData& handler, const TResumeControl& control) {
  TResumer resumer(protocol, control);
  std::int64_t lastCode = 0;
  bool endSeen = false;
  bool stopped = false;
  for (;;) {
    const bool resumed = lastCode > 0;
    const TOnData take = [&](TMessageBuffer& answer, bool& more) {
      const bool last = !more;
      std::int64_t code = 0;
      const bool hasCode = FrameGoodsCode(answer.View(), code);
      if (resumed && hasCode && code <= lastCode) {
        // Taken before the stream was asked again.
        if (StopRequested(control)) more = false;
      } else {
        handler(answer, more);
        if (hasCode) lastCode = std::max(lastCode, code);
      }
      if (last) {
        endSeen = true;
      } else if (!more) {
        stopped = true;
      }
    };
    // From the next code when the register can hold it; else from the first
    // (the records taken are skipped).
    const int maxCodes =
        protocol.kkm != nullptr && protocol.kkm->info ? protocol.kkm->info->MaxCountGoods() : 0;
    const int firstCode =
        lastCode > 0 && lastCode < std::min(maxCodes, kHighestGoodsCode) ? static_cast<int>(lastCode + 1) : 1;
    const bool ok = protocol.ReadAllGoods(take, firstCode);
    if (ok || stopped) return ok;
    // The register's last frame was taken: only the closing polls failed.
    if (endSeen) return true;
    if (!resumer.Next(lastCode, "ReadAllGoods")) return false;
  }
}

bool ReadJournalResuming(TProtocolKKM& protocol, const TOnData& handler, const TResumeControl& control) {
  TResumer resumer(protocol, control);
  std::vector<std::vector<std::uint8_t>> taken;
  // The last frame refused for its form and how many times it came.
  std::vector<std::uint8_t> doubted;
  int copies = 0;
  bool endSeen = false;
  bool stopped = false;
  bool changed = false;
  for (;;) {
    std::size_t position = 0;
    const TOnData take = [&](TMessageBuffer& answer, bool& more) {
      const bool last = !more;
      const std::span<const std::uint8_t> frame = answer.View();
      if (position < taken.size()) {
        // Taken before the stream was asked again: it must be the same.
        const std::vector<std::uint8_t>& before = taken[position++];
        if (!std::equal(frame.begin(), frame.end(), before.begin(), before.end())) {
          changed = true;
          more = false;
        } else if (StopRequested(control)) {
          more = false;
        }
        if (!more && !last) stopped = true;
        return;
      }
      ++position;
      taken.emplace_back(frame.begin(), frame.end());
      handler(answer, more);
      if (last || TProtocolKKM::AnswerCode(answer) == kJournalEndCode) {
        endSeen = true;
      } else if (!more) {
        stopped = true;
      }
    };
    protocol.frameForm = [&doubted, &copies](std::span<const std::uint8_t> frame) {
      if (JournalReplyWhole(frame)) {
        copies = 0;
        return true;
      }
      if (copies > 0 && std::equal(frame.begin(), frame.end(), doubted.begin(), doubted.end())) {
        ++copies;
      } else {
        doubted.assign(frame.begin(), frame.end());
        copies = 1;
      }
      if (copies < kJournalFrameCopies) return false;
      WT("ReadJournal: a frame of an unknown form came " + std::to_string(copies) + " times, taken",
         mdFunctional);
      copies = 0;
      return true;
    };
    const bool ok = protocol.ReadJournal(take);
    if (changed) {
      Warning("Журнал ККМ изменился во время чтения, чтение не продолжено", false, true, true);
      return false;
    }
    if (ok || stopped) return ok;
    if (endSeen) return true;
    if (!resumer.Next(static_cast<std::int64_t>(taken.size()), "ReadJournal")) return false;
  }
}

bool RunResuming(TProtocolKKM& protocol, const TResumeControl& control,
                 const std::function<bool()>& command) {
  TResumer resumer(protocol, control);
  for (;;) {
    if (command()) return true;
    // Refused by the register (reported by the command): not the line's doing.
    if (!protocol.LastExchangeFailed()) return false;
    if (!resumer.Next(0, "command")) return false;
  }
}

bool SetGoodsResuming(TProtocolKKM& protocol, const TResumeControl& control) {
  if (protocol.kkm == nullptr || !protocol.kkm->info) return false;
  return RunResuming(protocol, control, [&protocol] { return protocol.SetGoods(); });
}

std::string LineCountsText(const TLineCounts& c) {
  return "Линия: повторов запрошено " + std::to_string(c.repeatsAsked) + ", кадров переслано " +
         std::to_string(c.framesResent) + ", ресинхронизаций " + std::to_string(c.resyncs) +
         ", возобновлений " + std::to_string(c.resumptions) + ", команд повторено " +
         std::to_string(c.commandsRepeated);
}

}  // namespace zarvik
