#include "disk/DiskDatabaseData.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "core/ZUDExcept.h"

namespace {
using Guard = std::lock_guard<std::recursive_mutex>;
}  // namespace

TABSDiskDatabaseData::TABSDiskDatabaseData(std::string name, tiv::os::FileSystem& fs)
    : TABSDatabaseData(std::move(name)), fs_(fs) {}

TABSDiskDatabaseData::~TABSDiskDatabaseData() {
  try {
    Close();
  } catch (const std::exception& x) {
    // Reported, never raised from a destructor; the file's handle and its
    // locks are gone either way.
    std::fprintf(stderr, "tivoran: closing database '%s': %s\n", name_.c_str(), x.what());
  }
}

void TABSDiskDatabaseData::Open(const std::string& fileName, const TABSPassword& password, bool multiUser,
                                bool exclusive, bool readOnly) {
  Guard guard(lock_);
  Close();
  auto db = std::make_unique<TABSDiskDatabase>(fs_);
  bool needRepair = false;
  db->OpenDatabase(fileName, password, multiUser, exclusive, needRepair, readOnly);
  needRepair_ = needRepair;
  oldFormat_ = needRepair && db->PageManager().Header().Version < tiv::disk::kOldFormatBelow;
  sessionsArea_ = std::make_unique<TABSDirectFileLockArea>(db->SessionsFile());
  sessionsFile_ = std::make_unique<TABSActiveSessionsFile>(*sessionsArea_);
  tableLocks_ = std::make_unique<TABSDatabaseTableLockManager>(db->MaxConnections(), exclusive);
  multiUser_ = multiUser;
  db_ = std::move(db);
}

void TABSDiskDatabaseData::Close() {
  Guard guard(lock_);
  tables_.clear();
  tableLocks_.reset();
  sessionsFile_.reset();
  sessionsArea_.reset();
  if (db_) db_->CloseDatabase();
  db_.reset();
  // Every slot lock went with the file's handle.
  readOnly_ = false;
  needRepair_ = false;
  oldFormat_ = false;
  holdsAllSlots_ = false;
  singleUserSessions_ = 0;
}

void TABSDiskDatabaseData::SetLockWaits(const TABSLockRetry& retry) {
  Guard guard(lock_);
  Pages().SetLockRetry(retry);
  sessionsFile_->SetLockRetry(retry);
  TABSDatabaseTableLockManager& locks = TableLocks();
  locks.SetLockRetry(retry);
  locks.SetCommitLockTimes(retry.DelayMs, retry.Attempts);
  TABSTableLockTimes times;
  times.readDelayMs = times.writeRetryDelayMs = times.deleteRetryDelayMs = times.transactionDelayMs = retry.DelayMs;
  times.readAttempts = times.writeRetries = times.deleteRetries = times.transactionAttempts = retry.Attempts;
  locks.SetTableLockTimes(times);
}

TABSDiskDatabase& TABSDiskDatabaseData::Disk() {
  if (!db_ || !db_->IsOpen()) throw EABSException(20176, "Pointer is nil");
  return *db_;
}

TABSDatabaseTableLockManager& TABSDiskDatabaseData::TableLocks() {
  if (!tableLocks_) throw EABSException(20176, "Pointer is nil");
  return *tableLocks_;
}

void TABSDiskDatabaseData::Connect(TABSSessionInfo& session) {
  Guard guard(lock_);
  Disk();
  if (session.multiUser != multiUser_)
    throw EABSException(20235, "Cannot open database in multi-user and signle-user mode at the same time");
  if (multiUser_) {
    session.sessionID = sessionsFile_->Connect();
  } else {
    // The process claims every slot once; its sessions take the lowest
    // page-manager session ids that none of them holds (contract 2).
    int32_t id = 0;
    while (id < MaxConnections() && std::any_of(sessions_.begin(), sessions_.end(),
                                                [&](const TABSSessionInfo* s) { return s->sessionID == id; }))
      ++id;
    if (id >= MaxConnections())
      throw EABSException(
          20094,
          "Cannot connect session. Maximum connections quantity exceeded or database is open in single-user mode");
    if (singleUserSessions_ == 0) {
      holdsAllSlots_ = sessionsFile_->LockAllSlots();
      readOnly_ = !holdsAllSlots_;
    }
    ++singleUserSessions_;
    session.sessionID = id;
  }
  session.inTransaction = false;
  AttachSession(session);
}

void TABSDiskDatabaseData::Disconnect(TABSSessionInfo& session) {
  Guard guard(lock_);
  const int32_t id = session.sessionID;
  const bool wasConnected = IsOpen() && id >= 0;
  if (wasConnected && session.inTransaction) {
    try {
      Rollback(session);
    } catch (const std::exception& x) {
      std::fprintf(stderr, "tivoran: disconnect: %s\n", x.what());
    }
  }
  session.inTransaction = false;
  // A BLOB change outside a transaction keeps its table's transaction-write
  // lock until its record is stored (DiskTableData.h contract 10): leaving
  // without storing it gives the lock back with the session's pages.
  if (wasConnected) EndTransactionLocks(session);
  DetachSession(session);
  session.sessionID = -1;
  if (!wasConnected) return;
  if (multiUser_) {
    Pages().RollbackSession(id);
    sessionsFile_->Disconnect(id);
    return;
  }
  Pages().RollbackSession(id);
  for (const auto& t : tables_) static_cast<TABSDiskTableData&>(*t).SessionLeft(id);
  if (singleUserSessions_ > 0 && --singleUserSessions_ > 0) return;
  if (holdsAllSlots_) sessionsFile_->UnlockAllSlots();
  holdsAllSlots_ = false;
  readOnly_ = false;
}

int32_t TABSDiskDatabaseData::OtherConnections(const TABSSessionInfo& session) {
  Guard guard(lock_);
  if (!IsOpen() || !multiUser_) return 0;
  int32_t others = 0;
  for (int32_t slot = 0; slot < sessionsArea_->Size(); ++slot)
    if (slot != session.sessionID && sessionsArea_->IsByteLocked(slot)) ++others;
  return others;
}

void TABSDiskDatabaseData::StartTransaction(TABSSessionInfo& session) {
  Guard guard(lock_);
  Disk();
  if (session.inTransaction) throw std::logic_error("Database is already within a transaction");
  session.inTransaction = true;
}

void TABSDiskDatabaseData::Commit(TABSSessionInfo& session, bool flush) {
  Guard guard(lock_);
  if (!session.inTransaction)
    throw EABSException(20229, "Database is not within a transaction. Cannot perform operation");
  if (multiUser_ && !TableLocks().LockModifiedTables(session.sessionID))
    throw EABSException(20233, "Cannot commit changes. Locks of modified tables failed");
  try {
    Pages().CommitSession(session.sessionID, flush);
  } catch (...) {
    // Contract 3: the session does not go on over pages the file may not
    // hold; the commit's journal has already put the file back.
    session.inTransaction = false;
    EndTransactionLocks(session);
    try {
      RollbackHook(session);
    } catch (const std::exception& x) {
      std::fprintf(stderr, "tivoran: rollback after a failed commit: %s\n", x.what());
    }
    throw;
  }
  session.inTransaction = false;
  EndTransactionLocks(session);
}

void TABSDiskDatabaseData::Rollback(TABSSessionInfo& session) {
  Guard guard(lock_);
  if (!session.inTransaction)
    throw EABSException(20229, "Database is not within a transaction. Cannot perform operation");
  session.inTransaction = false;
  EndTransactionLocks(session);
  RollbackHook(session);
}

void TABSDiskDatabaseData::EndTransactionLocks(TABSSessionInfo& session) noexcept {
  if (multiUser_ && tableLocks_) {
    try {
      if (!tableLocks_->ReleaseTransactionLocks(session.sessionID))
        std::fprintf(stderr, "tivoran: %s\n", "Cannot unlock table");
    } catch (const std::exception& x) {
      std::fprintf(stderr, "tivoran: %s\n", x.what());
    }
  }
  for (const auto& t : tables_) {
    try {
      static_cast<TABSDiskTableData&>(*t).TransactionLocksReleased(session);
    } catch (const std::exception& x) {
      std::fprintf(stderr, "tivoran: %s\n", x.what());
    }
  }
}

void TABSDiskDatabaseData::RollbackHook(TABSSessionInfo& session) {
  Guard guard(lock_);
  Pages().RollbackSession(session.sessionID);
  for (const auto& t : tables_)
    if (static_cast<TABSDiskTableData&>(*t).Loaded()) t->RollbackHook(session, session.inTransaction);
}

void TABSDiskDatabaseData::FollowOtherCommits() {
  Guard guard(lock_);
  if (multiUser_ || !readOnly_ || !IsOpen()) return;
  if (!Pages().LockHeader()) throw EABSException(20236, "Database is locked");
  try {
    Pages().FollowOtherCommits();
  } catch (...) {
    Pages().UnlockHeader();
    throw;
  }
  Pages().UnlockHeader();
}

std::vector<TABSTableListEntry> TABSDiskDatabaseData::Tables(TABSSessionInfo& session) {
  Guard guard(lock_);
  FollowOtherCommits();
  TABSDatabaseTablesLock tablesLock(Pages());
  Disk().TableList().Load(session.sessionID);
  return Disk().TableList().Entries();
}

TABSDiskTableData& TABSDiskDatabaseData::OpenTable(TABSSessionInfo& session, const std::string& name) {
  Guard guard(lock_);
  Disk();
  FollowOtherCommits();
  auto& table = static_cast<TABSDiskTableData&>(FindOrCreateTableData(name));
  try {
    table.Load(session);
  } catch (...) {
    if (!table.Loaded()) RemoveTableData(table);
    throw;
  }
  return table;
}

TABSDiskTableData& TABSDiskDatabaseData::CreateTable(TABSSessionInfo& session, const std::string& name,
                                                     const TABSFieldDefs& fields, const TABSIndexDefs& indexes,
                                                     const TABSConstraintDefs* constraints) {
  Guard guard(lock_);
  Disk();
  const std::string& stored = name;
  if (TABSTableData* open = FindTableData(stored); open && static_cast<TABSDiskTableData*>(open)->Loaded())
    throw EABSException(30395, "Cannot create table. Table '%s' already exists", {stored});
  if (fields.Count() == 0) throw EABSException(20128, "Error creating table - no fields were specified");
  auto& table = static_cast<TABSDiskTableData&>(FindOrCreateTableData(stored));
  BuildNewTable(session, table, fields, indexes, constraints);
  return table;
}

void TABSDiskDatabaseData::DropTable(TABSSessionInfo& session, const std::string& name) {
  Guard guard(lock_);
  TABSDiskTableData& table = OpenTable(session, name);
  table.DeleteTable(session, false);
  RemoveTableData(table);
}

void TABSDiskDatabaseData::EmptyTable(TABSSessionInfo& session, const std::string& name) {
  Guard guard(lock_);
  OpenTable(session, name).EmptyTable(session);
}

void TABSDiskDatabaseData::RenameTable(TABSSessionInfo& session, const std::string& oldName,
                                       const std::string& newName) {
  Guard guard(lock_);
  OpenTable(session, oldName).RenameTable(session, newName);
}

std::unique_ptr<TABSTableData> TABSDiskDatabaseData::CreateTableData(const std::string& tableName) {
  return std::make_unique<TABSDiskTableData>(*this, tableName);
}

int32_t TABSDiskDatabaseData::NextObjectID() { return Pages().GetNextObjectID(); }

TABSBasePageManager* TABSDiskDatabaseData::DatabasePageManager() { return db_ ? &db_->PageManager() : nullptr; }
