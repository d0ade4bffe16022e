// Long transfers that get through a bad line: a streamed read (all goods,
// the journal) or a goods write whose exchange fails in the middle goes on
// from where it stopped, within the same operation, a bounded number of
// times, instead of failing the whole transfer.
//
// - All goods: the stream is asked again from the code after the last
//   record taken (or, when that code lies beyond the goods numbers the
//   register reported, from code 1); records whose code was taken already
//   are not handed over again. The goods code is the key.
// - The journal: the register streams it from its start again; the frames
//   taken already are compared with what comes and skipped. The position in
//   the stream is the key; a journal that differs from what was taken fails
//   the read instead of mixing two journals.
// - A goods write: the record whose exchange failed is sent again (writing a
//   record twice leaves the register as writing it once). A refusal by the
//   register is not a line fault and is never sent again.
//
// A transfer the user stopped is never resumed, nor one of a program that is
// closing. Every resumption counts in TProtocolKKM::lineCounts.
#pragma once

#include <chrono>
#include <functional>

#include "protocol/U_protocolkkm.h"

namespace zarvik {

// Resumptions in a row at the same place (no record taken or written in
// between) before the transfer gives up.
inline constexpr int kMaxResumptionsInRow = 5;
// Resumptions of one transfer in all: a line that fails every few records
// ends the transfer instead of dragging it on.
inline constexpr int kMaxResumptions = 30;
// The pause before a resumption, so that a register that has just restarted
// or a line that has just been disturbed settles first.
inline constexpr std::chrono::milliseconds kResumePause{500};

// A journal frame that has not the form of a register's reply (records cut
// short or a byte of no record kind: a byte lost on the line that the 8-bit
// check cannot see) is asked for again; it is taken as it is once it has come
// the same this many times in a row (what the register holds, then, not the
// line's doing: a record this program does not know).
inline constexpr int kJournalFrameCopies = 3;

struct TResumeControl {
  // True once the user asked the transfer to stop (it is then not resumed).
  std::function<bool()> stopRequested;
  // Told before each resumption: the number of resumptions so far in this
  // transfer (1, 2, ...). Progress displays show it.
  std::function<void(int resumptions)> onResume;
};

// ReadAllGoods with resumption; `handler` sees each record once, in code
// order, as from one stream. True when the register's last frame arrived.
bool ReadAllGoodsResuming(TProtocolKKM& protocol, const TOnData& handler, const TResumeControl& control);
// ReadJournal with resumption; `handler` sees each frame of the journal
// once. True when the journal's end arrived (or the handler ended it). A
// frame of a form no register gives is asked for again (kJournalFrameCopies).
bool ReadJournalResuming(TProtocolKKM& protocol, const TOnData& handler, const TResumeControl& control);
// SetGoods of the record in the register information, sent again while its
// exchange fails. False when the register refused it or the line did not
// get it through.
bool SetGoodsResuming(TProtocolKKM& protocol, const TResumeControl& control);
// Any command of one exchange (a goods read of the backup, ...), run again
// while its exchange fails, as SetGoodsResuming.
bool RunResuming(TProtocolKKM& protocol, const TResumeControl& control, const std::function<bool()>& command);

}  // namespace zarvik
