// The steps around every write of settings to the register: before it, the
// register's current values of the tables written are read when a backup is
// to be kept (page 4) or only the differences are to be written (the box
// "только отличия"), and the backup is stored as a profile; after it, the
// oldest backups beyond the number kept are deleted and the profile list is
// rebuilt, back on the profile on display.
//
// "Записать все настройки в ККМ" opens a batch (BeginBatch): the first of
// its steps that reaches the register reads and backs up all the batch's
// tables at once, the later steps use that snapshot, and the guard that
// opened the batch finishes it.
#pragma once

#include <string>

#include "PageHost.h"

namespace zarvik::ui {

inline constexpr std::string_view kSnapshotFailedText = "Значения ККМ не прочитаны, запись отменена";
// How long the wait window stays up while the register's values are read.
inline constexpr std::chrono::milliseconds kBackupReadWait{25000};

class TWriteGuard {
 public:
  // `tables`: TSnapshotTable bits of what the write changes.
  TWriteGuard(TPageHost& host, unsigned tables);
  ~TWriteGuard();
  TWriteGuard(const TWriteGuard&) = delete;
  TWriteGuard& operator=(const TWriteGuard&) = delete;

  // Opens the batch of write-all for `tables`; this guard finishes it.
  void BeginBatch();

  // Inside the frame of a register action, before anything is written:
  // reads and backs up as the settings say. False after a reported failure
  // (or, in a batch, once its read failed); the write must not go on.
  bool Prepare();

  // The register's values of the tables, nullptr when none were read.
  const TRegisterSnapshot* Snapshot() const;
  // Only what differs from the register is to be written (and its values
  // are known).
  bool OnlyDifferences() const { return host_.WriteSafety().onlyDifferences && Snapshot() != nullptr; }

 private:
  // Reads `tables` (and backs them up); false after a reported failure.
  bool Read(unsigned tables, TRegisterSnapshot& snapshot, std::string& backupKey, std::string& shownKey);
  void Finish(const std::string& backupKey, const std::string& shownKey);

  TPageHost& host_;
  unsigned tables_;
  bool batchOwner_ = false;
  bool haveOwn_ = false;
  TRegisterSnapshot own_;
  std::string backupKey_;
  std::string shownKey_;
};

}  // namespace zarvik::ui
