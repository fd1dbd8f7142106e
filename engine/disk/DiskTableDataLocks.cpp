// The table locks of a disk table: cursor opens, read operations, record
// changes and DDL steps (DiskTableData.h contracts 6 to 9). The protocol
// between processes is LockManager.h's; this file decides which lock each
// operation of the table holds and for how long.
#include <cstdio>

#include "core/ZUDExcept.h"
#include "disk/DiskDatabaseData.h"
#include "disk/DiskPageManagerFile.h"
#include "disk/DiskTableData.h"
#include "disk/LockManager.h"
#include "os/OsClock.h"

namespace {
using Guard = std::lock_guard<std::recursive_mutex>;

bool IsWriteKind(TABSLockKind kind) { return kind == ltWrite || kind == ltTransactionWrite; }
}  // namespace

// ---- locks and the page cache's counts --------------------------------------

bool TABSDiskTableData::LockTable(TABSSessionInfo& session, TABSLockKind kind, int32_t baseDelayMs, int32_t attempts) {
  if (!db_.MultiUser()) return true;
  if (!lockFile_) throw EABSException(10483, "Nil pointer occured");
  if (!db_.TableLocks().LockTable(session.sessionID, kind, true, false, baseDelayMs, attempts, lockFile_.get()))
    return false;
  if (kind == ltRead) pm_.TablePagesCache().AddReadLock(session.sessionID, tableID_);
  if (IsWriteKind(kind)) pm_.TablePagesCache().AddWriteLock(session.sessionID, tableID_);
  return true;
}

void TABSDiskTableData::UnlockTable(TABSSessionInfo& session, TABSLockKind kind) noexcept {
  UnlockSlot(session.sessionID, kind);
}

void TABSDiskTableData::UnlockSlot(int32_t sessionID, TABSLockKind kind) noexcept {
  if (!db_.MultiUser()) return;
  try {
    if (!lockFile_) throw EABSException(10494, "Nil pointer occured");
    if (kind == ltRead) pm_.TablePagesCache().RemoveReadLock(sessionID, tableID_);
    if (IsWriteKind(kind)) pm_.TablePagesCache().RemoveWriteLock(sessionID, tableID_);
    if (!db_.TableLocks().UnlockTable(sessionID, kind, false, true, lockFile_.get()))
      std::fprintf(stderr, "tivoran: table '%s': %s\n", tableName_.c_str(), "Cannot unlock table");
  } catch (const std::exception& x) {
    // Reported, not raised: the caller is finishing an operation, and the
    // byte goes with the file's handle at the latest.
    std::fprintf(stderr, "tivoran: table '%s': %s\n", tableName_.c_str(), x.what());
  }
}

bool TABSDiskTableData::LockRecord(TABSSessionInfo& session, const TABSRecordID& record) {
  if (!db_.MultiUser()) return true;
  if (!lockFile_) throw EABSException(10491, "Nil pointer occured");
  return db_.TableLocks().LockRecord(session.sessionID, lockFile_.get(), 0, 1, record);
}

void TABSDiskTableData::UnlockRecord(TABSSessionInfo& session, const TABSRecordID& record) noexcept {
  if (!db_.MultiUser()) return;
  try {
    if (!lockFile_) throw EABSException(10492, "Nil pointer occured");
    if (!db_.TableLocks().UnlockRecord(session.sessionID, lockFile_.get(), record))
      std::fprintf(stderr, "tivoran: table '%s': %s\n", tableName_.c_str(), "Cannot unlock record");
  } catch (const std::exception& x) {
    std::fprintf(stderr, "tivoran: table '%s': %s\n", tableName_.c_str(), x.what());
  }
}

bool TABSDiskTableData::IsRecordLocked(TABSSessionInfo& session, const TABSRecordID& record) {
  if (!db_.MultiUser()) return false;
  if (!lockFile_) throw EABSException(10493, "Nil pointer occured");
  return db_.TableLocks().IsRecordLocked(session.sessionID, lockFile_.get(), record);
}

void TABSDiskTableData::TransactionLocksReleased(TABSSessionInfo& session) {
  // The database released every transaction-write lock of the slot, the
  // one of a pending BLOB change too.
  pendingBlobLocks_.erase(session.sessionID);
  if (transactionHolder_ == session.sessionID) transactionHolder_ = -1;
  if (loaded_ && db_.MultiUser()) pm_.TablePagesCache().ForgetWriteLocks(session.sessionID, tableID_);
}

void TABSDiskTableData::SessionLeft(int32_t sessionID) {
  if (transactionHolder_ == sessionID) transactionHolder_ = -1;
  if (stateSession_ == sessionID) stateSession_ = -1;
}

void TABSDiskTableData::CheckNotHeldByOther(const TABSSessionInfo& session, bool exclusive) const {
  if (transactionHolder_ < 0 || transactionHolder_ == session.sessionID) return;
  if (exclusive)
    throw EABSException(20208, "Cannot access table '%s' in exclusive mode. Table is open by another user",
                        {tableName_});
  throw EABSException(20223, "Table is locked");
}

void TABSDiskTableData::ReleasePendingBlobLock(int32_t sessionID) noexcept {
  if (pendingBlobLocks_.erase(sessionID) == 0) return;
  UnlockSlot(sessionID, ltTransactionWrite);
}

bool TABSDiskTableData::HasTableLocks() {
  if (!db_.MultiUser() || !lockFile_) return false;
  TABSDatabaseTableLockManager& locks = db_.TableLocks();
  for (int32_t slot = 0; slot < locks.MaxConnections(); ++slot)
    for (const TABSTableLockEntry& e : locks.Entries(slot))
      if (e.File == lockFile_.get()) return true;
  return false;
}

// ---- operations -------------------------------------------------------------

void TABSDiskTableData::RefreshForSession(TABSSessionInfo& session) {
  ReadMostUpdated(session.sessionID);
  pm_.TablePagesCache().SetStamp(session.sessionID, tableID_, DiskRecords().ModificationCounter());
}

void TABSDiskTableData::CheckWritable() const {
  if (db_.ReadOnly()) throw EABSException(10106, "Dataset is in read only mode");
}

void TABSDiskTableData::EnterOperation(TABSSessionInfo& session, TABSLockKind kind, bool release, bool heldThrough) {
  try {
    if (operationDepth_ == 0) {
      // A writer that died inside its commit of this table let its lock go
      // with State 1 on the file: its journal is played back before this
      // operation reads a page of it. Held through since an operation that
      // looked, the lock let no such writer in (the pages of other tables
      // this one's change touches, the free-space map's, are read under
      // the header lock, whose taking plays a dead commit back too).
      if (!heldThrough) pm_.RecoverIfCommitDied();
      RefreshForSession(session);
    }
    // While the lock is held no other connection commits a change of the
    // table, so its stamp vouches for the pages the operation reads.
    pm_.TablePagesCache().PushCurrentTable(session.sessionID, tableID_);
  } catch (...) {
    if (release) UnlockTable(session, kind);
    throw;
  }
  ++operationDepth_;
}

void TABSDiskTableData::LeaveOperation(TABSSessionInfo& session, TABSLockKind kind, bool release) noexcept {
  --operationDepth_;
  try {
    pm_.TablePagesCache().PopCurrentTable(session.sessionID);
  } catch (const std::exception&) {
    // Only a session id below -2 raises here, and that one never got in.
  }
  if (release) UnlockTable(session, kind);
}

void TABSDiskTableData::EnterSingleUser(TABSSessionInfo& session) {
  if (operationDepth_ == 0) {
    // A failed commit of this open that could not be undone is played back
    // before the operation reads a page it may have half-written.
    if (pm_.UndoFailed()) pm_.RecoverIfCommitDied();
    // Contract 9: beside a writer the operation reads one commit whole.
    const bool follow = db_.ReadOnly();
    if (follow && !pm_.LockHeader()) throw EABSException(20236, "Database is locked");
    try {
      if (follow) pm_.FollowOtherCommits();
      if (stateSession_ != session.sessionID || stateGeneration_ != pm_.StateGeneration())
        ReadMostUpdated(session.sessionID);
    } catch (...) {
      if (follow) pm_.UnlockHeader();
      throw;
    }
    headerHeld_ = follow;
  }
  ++operationDepth_;
}

void TABSDiskTableData::LeaveSingleUser() noexcept {
  if (operationDepth_ == 0 || --operationDepth_ > 0 || !headerHeld_) return;
  headerHeld_ = false;
  try {
    pm_.UnlockHeader();
  } catch (const std::exception& x) {
    std::fprintf(stderr, "tivoran: table '%s': %s\n", tableName_.c_str(), x.what());
  }
}

void TABSDiskTableData::BeginRead(TABSSessionInfo& session) {
  if (!loaded_) return;
  if (!db_.MultiUser()) {
    EnterSingleUser(session);
    return;
  }
  const TABSTableLockTimes& times = db_.TableLocks().TableLockTimes();
  if (!LockTable(session, ltRead, times.readDelayMs, times.readAttempts)) throw EABSException(20214, "Table is locked");
  EnterOperation(session, ltRead, true);
}

void TABSDiskTableData::EndRead(TABSSessionInfo& session) noexcept {
  if (!loaded_ || operationDepth_ == 0) return;
  if (!db_.MultiUser()) {
    LeaveSingleUser();
    return;
  }
  LeaveOperation(session, ltRead, true);
}

TABSDiskTableData::WriteScope::WriteScope(TABSDiskTableData& table, TABSSessionInfo& session, bool isDelete)
    : table_(table), session_(session) {
  if (!table.db_.MultiUser()) {
    table.CheckNotHeldByOther(session, false);
    table.EnterSingleUser(session);
    singleUser_ = true;
    if (session.inTransaction) table.transactionHolder_ = session.sessionID;
    return;
  }
  const TABSTableLockTimes& times = table.db_.TableLocks().TableLockTimes();
  bool heldThrough = false;
  if (session.inTransaction) {
    // Kept until the database commits or rolls back.
    heldThrough = table.pm_.TablePagesCache().HoldsWriteLock(session.sessionID, table.tableID_);
    if (!table.LockTable(session, ltTransactionWrite, times.transactionDelayMs, times.transactionAttempts))
      throw EABSException(20223, "Table is locked");
  } else {
    const int32_t retries = isDelete ? times.deleteRetries : times.writeRetries;
    const int32_t delayMs = isDelete ? times.deleteRetryDelayMs : times.writeRetryDelayMs;
    bool granted = false;
    for (int32_t i = 0; i < retries && !granted; ++i) {
      if (i > 0) tiv::os::SleepMs(delayMs);
      granted = table.LockTable(session, ltWrite, 0, 1);
    }
    if (!granted) throw EABSException(20223, "Table is locked");
    unlock_ = true;
  }
  table.EnterOperation(session, ltWrite, unlock_, heldThrough);
  ++table.changeDepth_;
}

TABSDiskTableData::WriteScope::~WriteScope() {
  if (singleUser_) {
    table_.LeaveSingleUser();
  } else if (table_.db_.MultiUser()) {
    --table_.changeDepth_;
    table_.LeaveOperation(session_, ltWrite, unlock_);
  }
}

TABSDiskTableData::BlobChangeScope::BlobChangeScope(TABSDiskTableData& table, TABSSessionInfo& session)
    : table_(table), session_(session) {
  if (!table.db_.MultiUser()) {
    // Another session's open transaction holds the table (contract 8).
    table.CheckNotHeldByOther(session, false);
    if (session.inTransaction) table.transactionHolder_ = session.sessionID;
    return;
  }
  const bool pending = table.pendingBlobLocks_.count(session.sessionID) > 0;
  if (session.inTransaction || !pending) {
    const TABSTableLockTimes& times = table.db_.TableLocks().TableLockTimes();
    if (!table.LockTable(session, ltTransactionWrite, times.transactionDelayMs, times.transactionAttempts))
      throw EABSException(20223, "Table is locked");
    // Outside a transaction the lock waits for the commit of the record
    // change that stores the value: its pages are this session's until then.
    if (!session.inTransaction) table.pendingBlobLocks_.insert(session.sessionID);
  }
  table.EnterOperation(session, ltTransactionWrite, false);
  entered_ = true;
  outermost_ = table.changeDepth_ == 0;
  ++table.changeDepth_;
}

TABSDiskTableData::BlobChangeScope::~BlobChangeScope() {
  if (!entered_) return;
  --table_.changeDepth_;
  table_.LeaveOperation(session_, ltTransactionWrite, false);
}

void TABSDiskTableData::BlobChangeScope::Changed() {
  if (!entered_ || !outermost_) return;
  table_.DiskRecords().NoteChange();
  table_.WriteMostUpdated(session_.sessionID);
}

// ---- DDL steps ----------------------------------------------------------------

TABSDiskTableData::ExclusiveUse::ExclusiveUse(TABSDiskTableData& table, TABSSessionInfo& session) : table_(table) {
  if (!table.db_.MultiUser()) {
    table.CheckNotHeldByOther(session, true);
    return;
  }
  if (!table.lockFile_) return;
  table.db_.TableLocks().LockTableForOpen(session.sessionID, table.lockFile_.get(), true, table.tableName_);
  slot_ = session.sessionID;
}

TABSDiskTableData::ExclusiveUse::~ExclusiveUse() {
  if (slot_ < 0 || !table_.lockFile_) return;
  try {
    table_.db_.TableLocks().UnlockTable(slot_, ltExclusive, false, false, table_.lockFile_.get());
  } catch (const std::exception& x) {
    // Reported, never raised: the byte goes with the file's handle at the
    // latest.
    std::fprintf(stderr, "tivoran: table '%s': %s\n", table_.tableName_.c_str(), x.what());
  }
}

// ---- cursors ------------------------------------------------------------------

void TABSDiskTableData::OpenCursor(TABSSessionInfo& session, const void* cursor, bool exclusive) {
  Guard guard(database_.Lock());
  if (!cursors_.empty() && exclusive && !exclusive_)
    throw EABSException(20242, "Cannot access table '%s' in exclusive mode. Table is open by another cursors",
                        {tableName_});
  const bool first = cursors_.empty();
  if (first) {
    db_.FollowOtherCommits();
    if (loaded_)
      ReadMostUpdated(session.sessionID);
    else
      Load(session);
  }
  if (db_.MultiUser()) db_.TableLocks().LockTableForOpen(session.sessionID, lockFile_.get(), exclusive, tableName_);
  AttachCursor(cursor);
  cursorLocks_.push_back({cursor, session.sessionID, exclusive});
  if (first) exclusive_ = exclusive;
}

void TABSDiskTableData::CloseCursor(TABSSessionInfo& session, const void* cursor) {
  Guard guard(database_.Lock());
  (void)session;
  for (auto it = cursorLocks_.begin(); it != cursorLocks_.end(); ++it) {
    if (it->cursor != cursor) continue;
    if (db_.MultiUser() && lockFile_)
      db_.TableLocks().UnlockTable(it->slot, it->exclusive ? ltExclusive : ltOpen, false, false, lockFile_.get());
    cursorLocks_.erase(it);
    break;
  }
  DetachCursor(cursor);
  if (cursors_.empty()) {
    exclusive_ = false;
    // The lock lists point at the locks file while a transaction holds
    // the table: the managers go when it ends or the database closes.
    if (!HasTableLocks()) Unload();
  }
}
