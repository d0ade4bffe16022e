#include "WriteGuard.h"

#include <vector>

#include "model/U_kkms.h"
#include "protocol/U_protocolkkm.h"
#include "shell/DiaLog.h"
#include "store/ProfileStore.h"
#include "store/UnitBD.h"

namespace zarvik::ui {

TWriteGuard::TWriteGuard(TPageHost& host, unsigned tables) : host_(host), tables_(tables) {}

TWriteGuard::~TWriteGuard() {
  std::optional<TWriteBatch>& batch = host_.WriteSafety().batch;
  if (batchOwner_ && batch) {
    const TWriteBatch done = std::move(*batch);
    batch.reset();
    Finish(done.backupKey, done.shownKey);
    return;
  }
  Finish(backupKey_, shownKey_);
}

void TWriteGuard::Finish(const std::string& backupKey, const std::string& shownKey) {
  if (backupKey.empty()) return;
  // The new backup joins the list, the oldest leave it; the profile on
  // display stays on display.
  const TKKMInfo* info = host_.Info();
  if (info == nullptr) return;
  TProfileStore& store = host_.Profiles();
  // The rebuild moves through the list; the user's place in each table is
  // kept.
  std::vector<int> places;
  for (TWorkTable* t : host_.Bd().ProfileTables()) places.push_back(t->RecNo());
  store.PruneBackups(info->serialNumber, host_.WriteSafety().backup.keep, shownKey);
  host_.RefreshProfileList();
  if (!store.SelectEntry(shownKey)) return;
  std::size_t i = 0;
  for (TWorkTable* t : host_.Bd().ProfileTables()) {
    const int place = places[i++];
    if (place > 0 && place <= t->RecordCount()) t->SetRecNo(place);
  }
}

void TWriteGuard::BeginBatch() {
  TWriteBatch b;
  b.tables = tables_;
  host_.WriteSafety().batch = std::move(b);
  batchOwner_ = true;
}

const TRegisterSnapshot* TWriteGuard::Snapshot() const {
  if (haveOwn_) return &own_;
  const std::optional<TWriteBatch>& batch = host_.WriteSafety().batch;
  return batch && batch->read ? &batch->snapshot : nullptr;
}

bool TWriteGuard::Read(unsigned tables, TRegisterSnapshot& snapshot, std::string& backupKey,
                       std::string& shownKey) {
  const TWriteSafety& safety = host_.WriteSafety();
  ShowWait(kBackupReadWait);
  TProtocolKKM& protocol = host_.Protocol();
  const int operators = (tables & stOperators) != 0 ? protocol.GetOperatorCount() : 0;
  if (safety.backup.enabled) {
    shownKey = host_.Bd().mtProfile.Text("LN");
    TBackupMade made;
    if (!BackupRegisterTables(protocol, host_.Profiles(), tables, operators, snapshot, made)) {
      Error(std::string(kBackupFailedText), true, true, true);
      return false;
    }
    backupKey = made.key;
  } else if (!ReadRegisterSnapshot(protocol, tables, operators, snapshot)) {
    Error(std::string(kSnapshotFailedText), true, true, true);
    return false;
  }
  return true;
}

bool TWriteGuard::Prepare() {
  TWriteSafety& safety = host_.WriteSafety();
  if (!safety.backup.enabled && !safety.onlyDifferences) return true;
  if (safety.batch) {
    TWriteBatch& b = *safety.batch;
    if (b.failed) return false;
    if (b.read) return true;
    // The first step of write-all that reached the register reads for all.
    b.failed = !Read(b.tables, b.snapshot, b.backupKey, b.shownKey);
    b.read = !b.failed;
    return b.read;
  }
  haveOwn_ = Read(tables_, own_, backupKey_, shownKey_);
  return haveOwn_;
}

}  // namespace zarvik::ui
