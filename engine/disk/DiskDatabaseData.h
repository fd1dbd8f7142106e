// DiskDatabaseData: TABSDiskDatabaseData, the database data object of a disk
// database: the open file (TABSDiskDatabase), the connection slots of the
// active sessions file, the table lock manager sized for MaxConnections
// slots, and the table data objects of the tables this process has named.
//
// Contract
//  1. Open opens the file and sets up the sessions file and a table lock
//     manager with one slot per connection; Close frees the table data
//     objects first, then closes the file. A database data object that is
//     not open refuses every table operation ("Pointer is nil", 20176).
//  2. Connect: a session whose multiUser differs from the open's mode is
//     refused (20235). Multi-user: the session takes a free connection
//     slot of the active sessions file and its number is the session's id
//     (20094 when every slot is taken). Single-user: the first session
//     claims every slot at once, and when some slot is already held by
//     another process the database is read-only for this process
//     (ReadOnly) until its last session leaves. Each session of the process
//     gets its own page-manager session id: the lowest id in 0 ..
//     MaxConnections - 1 that no connected session of this object holds
//     (20094 when all are held), so one session's commit or rollback never
//     takes another's changes. Their changes of one table are kept apart
//     as those of two processes are (DiskTableData.h contract 8).
//     Disconnect rolls back what the session left uncommitted (a running
//     transaction too), gives back the table locks a BLOB change that was
//     never stored still held (DiskTableData.h contract 10) and gives the
//     slot back (single-user: the last session gives all of them back);
//     the session leaves the list even when giving the slot back fails.
//  3. StartTransaction, Commit and Rollback run a session's transaction.
//     Commit outside one, or Rollback outside one, raises 20229. Commit in
//     multi-user mode first turns the session's transaction-write locks
//     into write locks (20233 when they cannot all be had; the transaction
//     stays open and nothing is written), then commits the pages with the
//     flush asked for, then releases the transaction's locks (single-user:
//     the tables its changes held for it). A commit that
//     fails once pages are being written ends the transaction: the session
//     is rolled back and its locks released before the error is raised
//     again, so it never goes on over pages the file does not hold (the
//     file itself then asks for repair). Rollback releases the locks, drops
//     the session's pages, and every loaded table rereads its most-updated
//     state.
//  4. Tables answers the table list as it is in the file now (reread under
//     the database tables lock).
//  5. DropTable removes the table data object after its storage is gone;
//     CreateTable leaves no object behind when the creation fails.
//  6. A single-user open that is read-only (another open holds slots) takes
//     no table locks while that one commits: Tables, OpenTable and the first
//     cursor of a table first check the header's commit counter under the
//     header lock and drop the page cache when it moved (the table's read
//     operations do the same, DiskTableData.h contract 9).
//
// Thread use: any thread, under the database data's lock.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/ZUDBaseEngine.h"
#include "disk/DiskDatabase.h"
#include "disk/DiskTableData.h"
#include "disk/LockDirectFileArea.h"
#include "disk/LockManager.h"
#include "disk/SessionsFile.h"

class TABSDiskDatabaseData : public TABSDatabaseData {
 public:
  explicit TABSDiskDatabaseData(std::string name, tiv::os::FileSystem& fs = tiv::os::FileSystem::Default());
  ~TABSDiskDatabaseData() override;

  // `readOnly` opens the file for reading only (a reader that must never
  // change it, such as a repair); otherwise the open probes whether it may
  // write (DiskPageManagerFile.h).
  void Open(const std::string& fileName, const TABSPassword& password, bool multiUser, bool exclusive,
            bool readOnly = false);
  void Close();
  bool IsOpen() const { return db_ && db_->IsOpen(); }
  bool MultiUser() const { return multiUser_; }

  // Contract 2: what this process was granted.
  bool ReadOnly() const { return readOnly_; }
  // Whether the open found the file in need of a repair: a commit that died
  // half-way with no journal to undo it, or a format older than ours. The
  // file is open all the same; a commit refuses to build on it.
  bool NeedsRepair() const { return needRepair_; }
  // Of those, a file of a format older than ours: its repair is a
  // conversion.
  bool OldFormat() const { return oldFormat_; }
  // Connections that other opens of the file (other processes) hold now,
  // told by their slot bytes without touching them; 0 in single-user mode.
  int32_t OtherConnections(const TABSSessionInfo& session);
  // Contract 6: in a single-user open that is read-only, the cached pages
  // go when another open committed since they were read. Nothing elsewhere.
  void FollowOtherCommits();

  void Connect(TABSSessionInfo& session);
  void Disconnect(TABSSessionInfo& session);
  void StartTransaction(TABSSessionInfo& session);
  void Commit(TABSSessionInfo& session, bool flush);
  void Rollback(TABSSessionInfo& session);

  std::vector<TABSTableListEntry> Tables(TABSSessionInfo& session);
  // The table's data object with its structure loaded.
  TABSDiskTableData& OpenTable(TABSSessionInfo& session, const std::string& name);
  TABSDiskTableData& CreateTable(TABSSessionInfo& session, const std::string& name, const TABSFieldDefs& fields,
                                 const TABSIndexDefs& indexes, const TABSConstraintDefs* constraints = nullptr);
  void DropTable(TABSSessionInfo& session, const std::string& name);
  void EmptyTable(TABSSessionInfo& session, const std::string& name);
  void RenameTable(TABSSessionInfo& session, const std::string& oldName, const std::string& newName);

  // Bounds every lock wait of this open (the header, tables and counter
  // locks, the connection slots, the table and record locks and their
  // release paths) to `retry`: for a caller that owns the file alone, a
  // test or a fuzz target, where a wait can only be on itself.
  void SetLockWaits(const TABSLockRetry& retry);

  TABSDiskDatabase& Disk();
  TABSDiskPageManager& Pages() { return Disk().PageManager(); }
  TABSDatabaseTableLockManager& TableLocks();
  int32_t MaxConnections() const { return db_ ? db_->MaxConnections() : 0; }

  std::unique_ptr<TABSTableData> CreateTableData(const std::string& tableName) override;
  int32_t NextObjectID() override;
  TABSBasePageManager* DatabasePageManager() override;
  void RollbackHook(TABSSessionInfo& session) override;

 private:
  tiv::os::FileSystem& fs_;
  std::unique_ptr<TABSDiskDatabase> db_;
  std::unique_ptr<TABSDirectFileLockArea> sessionsArea_;
  std::unique_ptr<TABSActiveSessionsFile> sessionsFile_;
  std::unique_ptr<TABSDatabaseTableLockManager> tableLocks_;
  // The locks of a finished transaction are gone, in the lists and in the
  // page cache's counts; failures are reported, not raised.
  void EndTransactionLocks(TABSSessionInfo& session) noexcept;

  bool multiUser_ = false;
  bool readOnly_ = false;
  bool needRepair_ = false;
  bool oldFormat_ = false;
  int32_t singleUserSessions_ = 0;
  bool holdsAllSlots_ = false;
};
