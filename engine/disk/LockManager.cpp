#include "disk/LockManager.h"

#include <cstdio>
#include <stdexcept>

#include "os/OsClock.h"
#include "os/OsRandom.h"

namespace os = tiv::os;

namespace {

// Holds a locks file's file lock until the scope ends, unless kept (the
// exclusive lock keeps it).
class FileLockHold {
 public:
  explicit FileLockHold(TABSTableLocksFile& file) : file_(file) {}
  ~FileLockHold() {
    if (!held_) return;
    try {
      file_.UnlockFile();
    } catch (const std::exception& x) {
      // Contract 7: reported, never raised (the handle may be gone after a
      // failed reconnect, and the byte went with it).
      std::fprintf(stderr, "tivoran: releasing a locks file's file lock: %s\n", x.what());
    }
  }
  FileLockHold(const FileLockHold&) = delete;
  FileLockHold& operator=(const FileLockHold&) = delete;
  void Keep() { held_ = false; }

 private:
  TABSTableLocksFile& file_;
  bool held_ = true;
};

}  // namespace

TABSDatabaseTableLockManager::TABSDatabaseTableLockManager(int32_t maxConnections, bool exclusiveDatabase)
    : lists_(static_cast<size_t>(maxConnections > 0 ? maxConnections : 0)), exclusiveDatabase_(exclusiveDatabase) {}

TABSDatabaseTableLockManager::~TABSDatabaseTableLockManager() = default;

TABSTableLockList* TABSDatabaseTableLockManager::List(int32_t slot) {
  if (slot < 0 || static_cast<size_t>(slot) >= lists_.size()) return nullptr;
  return &lists_[static_cast<size_t>(slot)];
}

std::vector<TABSTableLockEntry> TABSDatabaseTableLockManager::Entries(int32_t slot) {
  std::lock_guard guard(mutex_);
  TABSTableLockList* list = List(slot);
  return list ? list->Entries() : std::vector<TABSTableLockEntry>{};
}

void TABSDatabaseTableLockManager::SleepBetweenAttempts(std::unique_lock<std::recursive_mutex>& guard, bool insideLock,
                                                        int64_t ms) {
  if (!insideLock) guard.unlock();
  os::SleepMs(ms);
  if (!insideLock) guard.lock();
}

bool TABSDatabaseTableLockManager::TakeFileLockRetried(TABSTableLocksFile& file) {
  for (int attempt = 0; attempt < retry_.Attempts; ++attempt) {
    if (attempt > 0) os::SleepMs(retry_.DelayMs);
    if (file.LockFile()) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Table locks

bool TABSDatabaseTableLockManager::LockTable(int32_t slot, TABSLockKind kind, bool flag, bool insideLock,
                                             int32_t baseDelayMs, int32_t attempts, TABSTableLocksFile* file) {
  if (exclusiveDatabase_) return true;
  if (!file) throw EABSException(10489, "Nil pointer occured");
  // Record locks go through LockRecord, which stores the record too.
  if (!IsLockKind(kind) || kind == ltRecord)
    throw std::logic_error("LockTable takes a table lock kind; record locks go through LockRecord");
  std::unique_lock guard(mutex_, std::defer_lock);
  if (!insideLock) guard.lock();
  TABSTableLockList* list = List(slot);
  if (!list)
    throw EABSException(20200,
                        "Cannot set table lock. Try to repair database or to increase number of allowed connections");
  const int32_t table = file->TableId();
  const int64_t halfDelay = baseDelayMs > 0 ? baseDelayMs / 2 : 0;

  for (int32_t attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) SleepBetweenAttempts(guard, insideLock, halfDelay + os::RandomBelow(halfDelay));
    // Looked at on every attempt: another thread of this slot may have
    // taken the lock while the critical section was free.
    if (TABSTableLockEntry* held = list->Find(kind, table)) {
      if (kind == ltEdit) return false;  // one edit at a time per table
      ++held->Count;
      return true;
    }
    if (list->FindCovering(kind, table)) {
      list->Add({kind, table, 1, false, flag, file, {}});
      return true;
    }
    if (!file->LockFile()) continue;  // busy, or held exclusively by another
    FileLockHold hold(*file);
    if (!file->IsCompatible(slot, kind, flag)) continue;
    if (kind == ltExclusive) {
      hold.Keep();
    } else {
      if (slot >= file->SlotCount())
        throw EABSException(
            20200, "Cannot set table lock. Try to repair database or to increase number of allowed connections");
      if (!file->SetLockByte(slot, kind)) throw EABSException(20203, "Cannot set table lock");
    }
    list->Add({kind, table, 1, true, flag, file, {}});
    return true;
  }
  return false;
}

bool TABSDatabaseTableLockManager::SetCoveredBytes(TABSTableLockList& list, int32_t slot, TABSTableLocksFile& file,
                                                   int32_t table) {
  // The caller holds the file lock. Entries that no remaining owner covers
  // take their own byte; on a failure the bytes set here go again.
  std::vector<TABSTableLockEntry*> promoted;
  bool ok = true;
  for (const TABSTableLockEntry& e : list.Entries()) {
    if (e.Table != table || e.OwnsByte || list.FindCovering(e.Kind, table)) continue;
    TABSTableLockEntry* entry = list.Find(e.Kind, table);
    ok = e.Kind == ltRecord ? file.SetRecordLock(slot, e.Record) : file.SetLockByte(slot, e.Kind);
    if (!ok) break;
    promoted.push_back(entry);
  }
  if (!ok) {
    for (TABSTableLockEntry* e : promoted) {
      if (e->Kind == ltRecord)
        file.ClearRecordLock(slot);
      else
        file.ClearLockByte(slot, e->Kind);
    }
    return false;
  }
  for (TABSTableLockEntry* e : promoted) e->OwnsByte = true;
  return true;
}

bool TABSDatabaseTableLockManager::ReleaseOwnedLock(TABSTableLockList& list, int32_t slot,
                                                    const TABSTableLockEntry& removed, TABSTableLocksFile& file) {
  if (removed.Kind == ltExclusive) {
    // The file lock is ours already; nobody set a byte while we held it.
    if (!SetCoveredBytes(list, slot, file, removed.Table)) return false;
    file.UnlockFile();
    return true;
  }
  if (!TakeFileLockRetried(file)) return false;
  FileLockHold hold(file);
  if (!SetCoveredBytes(list, slot, file, removed.Table)) return false;
  const bool cleared = removed.Kind == ltRecord ? file.ClearRecordLock(slot) : file.ClearLockByte(slot, removed.Kind);
  if (!cleared) throw EABSException(20204, "Cannot unlock table");
  return true;
}

bool TABSDatabaseTableLockManager::UnlockTable(int32_t slot, TABSLockKind kind, bool force, bool checkHeld,
                                               TABSTableLocksFile* file) {
  if (exclusiveDatabase_) return true;
  if (!file) throw EABSException(10490, "Nil pointer occured");
  std::lock_guard guard(mutex_);
  const int32_t table = file->TableId();
  TABSTableLockList* list = List(slot);
  TABSTableLockEntry* entry = list ? list->Find(kind, table) : nullptr;
  if (!entry) {
    if (checkHeld) return true;
    throw EABSException(20202, "Cannot remove table lock. Lock not found");
  }
  const TABSTableLockEntry saved = *entry;
  if (--entry->Count > 0 && !force) return true;
  list->Remove(kind, table);
  if (!saved.OwnsByte) return true;
  bool released = false;
  try {
    released = ReleaseOwnedLock(*list, slot, saved, *file);
  } catch (...) {
    list->Add(saved);
    throw;
  }
  if (!released) list->Add(saved);
  return released;
}

// ---------------------------------------------------------------------------
// Record locks

bool TABSDatabaseTableLockManager::LockRecord(int32_t slot, TABSTableLocksFile* file, int32_t delayMs, int32_t attempts,
                                              const TABSRecordID& record) {
  if (exclusiveDatabase_) return true;
  if (!file) throw EABSException(10491, "Nil pointer occured");
  std::unique_lock guard(mutex_);
  TABSTableLockList* list = List(slot);
  if (!list) throw EABSException(20205, "Cannot lock record");
  const int32_t table = file->TableId();
  const int64_t delay = delayMs > 0 ? delayMs : 0;
  const int64_t budget = delay * (attempts > 0 ? attempts : 0);
  const int64_t start = os::TickCountMs();

  for (int32_t attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) {
      SleepBetweenAttempts(guard, false, delay);
      if (os::TickCountMs() - start > budget) break;
    }
    if (list->Holds(ltRecord, table)) return false;  // one record per table
    if (list->Holds(ltExclusive, table)) {
      list->Add({ltRecord, table, 1, false, false, file, record});
      return true;
    }
    if (!file->LockFile()) continue;
    FileLockHold hold(*file);
    if (file->IsRecordLockedByOthers(slot, record)) continue;
    if (!file->SetRecordLock(slot, record)) throw EABSException(20205, "Cannot lock record");
    list->Add({ltRecord, table, 1, true, false, file, record});
    return true;
  }
  return false;
}

bool TABSDatabaseTableLockManager::UnlockRecord(int32_t slot, TABSTableLocksFile* file, const TABSRecordID& record) {
  (void)record;  // one record lock per slot and table: the table names it
  if (exclusiveDatabase_) return true;
  if (!file) throw EABSException(10492, "Nil pointer occured");
  std::lock_guard guard(mutex_);
  TABSTableLockList* list = List(slot);
  const int32_t table = file->TableId();
  TABSTableLockEntry* entry = list ? list->Find(ltRecord, table) : nullptr;
  if (!entry) return false;
  const TABSTableLockEntry saved = *entry;
  list->Remove(ltRecord, table);
  if (!saved.OwnsByte) return true;
  if (!TakeFileLockRetried(*file)) {
    list->Add(saved);
    return false;
  }
  FileLockHold hold(*file);
  if (!file->ClearRecordLock(slot)) {
    list->Add(saved);
    throw EABSException(20206, "Cannot unlock record");
  }
  return true;
}

bool TABSDatabaseTableLockManager::IsRecordLocked(int32_t slot, TABSTableLocksFile* file, const TABSRecordID& record) {
  if (exclusiveDatabase_) return false;
  if (!file) throw EABSException(10493, "Nil pointer occured");
  std::lock_guard guard(mutex_);
  // One attempt at the file lock: a query never waits. Without it the
  // answer may miss a lock being set at this moment, which a query allows.
  const bool locked = file->LockFile();
  const bool answer = file->IsRecordLockedByOthers(slot, record);
  if (locked) file->UnlockFile();
  return answer;
}

// ---------------------------------------------------------------------------
// Transactions

bool TABSDatabaseTableLockManager::LockModifiedTables(int32_t slot) {
  if (exclusiveDatabase_) return true;
  std::lock_guard guard(mutex_);
  TABSTableLockList* list = List(slot);
  if (!list) return true;
  std::vector<TABSTableLocksFile*> taken;
  bool failed = false;
  const std::vector<TABSTableLockEntry> entries = list->Entries();
  for (const TABSTableLockEntry& e : entries) {
    if (e.Kind != ltTransactionWrite || list->Holds(ltWrite, e.Table)) continue;
    if (!LockTable(slot, ltWrite, true, true, commitDelayMs_, commitAttempts_, e.File)) {
      failed = true;
      break;
    }
    taken.push_back(e.File);
  }
  if (!failed) return true;
  // Give back the write locks this call took; the tables stay as they were.
  for (TABSTableLocksFile* f : taken) {
    try {
      UnlockTable(slot, ltWrite, true, true, f);
    } catch (const EABSException&) {
      // Checked below: the lock is then still in the list.
    }
  }
  for (TABSTableLocksFile* f : taken)
    if (list->Holds(ltWrite, f->TableId())) throw EABSException(20234, "Some table locks still exist");
  return false;
}

bool TABSDatabaseTableLockManager::ReleaseTransactionLocks(int32_t slot) {
  if (exclusiveDatabase_) return true;
  std::lock_guard guard(mutex_);
  TABSTableLockList* list = List(slot);
  if (!list) return true;
  bool ok = true;
  // A record still being edited keeps an edit lock once the transaction's
  // locks go (it is granted at once under them, and takes its own byte
  // when they are released).
  std::vector<TABSTableLockEntry> entries = list->Entries();
  for (const TABSTableLockEntry& e : entries) {
    if (e.Kind != ltRecord || list->Holds(ltEdit, e.Table)) continue;
    ok = LockTable(slot, ltEdit, true, true, commitDelayMs_, commitAttempts_, e.File) && ok;
  }
  entries = list->Entries();
  for (const TABSTableLockEntry& e : entries) {
    if (e.Kind != ltTransactionWrite && e.Kind != ltWrite) continue;
    ok = UnlockTable(slot, e.Kind, true, true, e.File) && ok;
  }
  return ok;
}

// ---------------------------------------------------------------------------
// Cursor open

void TABSDatabaseTableLockManager::LockTableForOpen(int32_t slot, TABSTableLocksFile* file, bool exclusive,
                                                    const std::string& tableName) {
  if (LockTable(slot, exclusive ? ltExclusive : ltOpen, true, false, TABSCursorLockTimes::kOpenDelayMs,
                TABSCursorLockTimes::kOpenAttempts, file))
    return;
  if (exclusive)
    throw EABSException(20208, "Cannot access table '%s' in exclusive mode. Table is open by another user",
                        {tableName});
  throw EABSException(20209, "Cannot open table '%s'. Table is locked", {tableName});
}
