// DiskTableData: TABSDiskTableData, one table of a disk database as the
// core's table data sees it, and TABSDiskTableBlobManager, the core BLOB
// manager interface served by the table's TABSDiskBlobManager.
//
// A table on disk is:
//   - its table list entry (TableList.h): name, TableID, the start pages
//     of the three internal files below;
//   - the metadata file (page type 8, zlib level 1), contents in order:
//       field definitions, index definitions, constraint definitions (their
//       stream forms), int32 root page of the record page index, int32 root
//       page of the BLOB page index (-1 for a table without BLOB fields);
//   - the most-updated file (page type 9, uncompressed), rewritten with
//     every change of the table: the field manager's autoincrement counters
//     (int32 count + int64 each), int32 ModificationCounter, int32
//     RecordCount;
//   - the locks file (page type 7, direct), MaxConnections x 12 bytes;
//   - record pages (type 10, OwnerTableID = TableID), BLOB pages (type 11)
//     and the index B-tree pages (type 12).
//
// Contract
//  1. CreateTable works in the system session under the database tables
//     lock: TableID from GetNextObjectID, the three files, the record page
//     index, the BLOB page index when the table has BLOB fields, every
//     index of the definitions, the metadata, the most-updated file, the
//     table list entry, then a flushed commit. Any failure rolls the system
//     session back and raises the error again; nothing of the table stays.
//  2. A table without fields is refused (20142); a record too large for a
//     page is refused (20174) before anything is written; so is a name the
//     table list cannot store (TableList.h contract 1: 30450 at create,
//     30347 at rename), never cut into a name another table may have.
//  3. Load (the first open) reads the list entry, the metadata and the
//     most-updated file in the caller's session; reading never writes.
//     Metadata or most-updated contents that are cut short, or that hold
//     more than their sizes allow, raise "Invalid table header data"
//     (20164); a missing table raises "Table '%s' not exists.".
//  4. Every change of a record is followed by a rewrite of the most-updated
//     file in the same session before it is committed, so what another
//     open reads back always matches the record pages. Its RecordCount is
//     an int32: the insert that would take the count past INT32_MAX is
//     refused before anything changes ("Invalid record count = %d. Limit
//     is %d", 10126), never written cut. A rollback reloads
//     the most-updated state. In multi-user mode a record change and the
//     record count reread that state first (outside a transaction). A
//     record change outside a transaction that fails, its commit included,
//     rolls the session back (ZUDTableData.h contract 3) while it still
//     holds the write lock: the pages go, and the count, the modification
//     counter and the autoincrement counters are reread from the committed
//     most-updated file. (The record manager's hint of a page with room is
//     checked against the record page index before each use, so a hint
//     left by the failed change is never trusted.)
//     An empty outside a transaction that fails rolls the session back the
//     same way: nothing of it reaches a later commit.
//  5. Drop and empty give every page of the table back to the free-space
//     map (drop: also the index roots and the three files); the
//     modification counter keeps growing when the table is emptied
//     (DiskRecordManager.h contract 3). Rename changes only the list entry.
//  6. Create, drop and rename are committed at once in the system
//     session, and a new or dropped index is committed at once too, so a
//     session in a transaction may not run them: "Cannot perform '%s'
//     operation on a database in transaction" (20182 CreateTable, 20175
//     DeleteTable, 20177 RenameTable, 20181 CreateIndex, 20183 DropIndex;
//     temporary indexes are this process's own and always allowed);
//     emptying is a change of the transaction like a delete. A failed
//     index creation or drop leaves nothing in the session. In multi-user
//     mode creating or dropping an index holds the exclusive lock, since
//     other connections keep the definitions they read at open.
//     Drop, empty and rename refuse a table that has cursors in this
//     Drop, empty and rename refuse a table that has cursors in this
//     process open (base table data); in multi-user mode they also hold the
//     table's exclusive lock (kind 6) while they work, so a table another
//     connection has open is refused with 20208.
//  7. OpenCursor loads the table for the first cursor; next to cursors of
//     this process a cursor asking for exclusive access is refused (20242)
//     unless the table was opened exclusively. In multi-user mode every
//     cursor holds the open lock (kind 0) or the exclusive lock (kind 6) of
//     its session's slot until CloseCursor; when the last cursor closes the
//     managers are freed and the files closed.
//  8. Multi-user mode (single-user mode takes no table lock; see below):
//     every read operation (BeginRead/EndRead: positioning, reading,
//     counting, locating, ordinals) holds the read lock (kind 1; 40 ms, 2250
//     attempts; "Table is locked", 20214), rereads the most-updated state
//     and makes the table the session's current table. Insert, update and
//     delete outside a transaction hold the write lock (kind 4, single
//     attempts 40 ms apart 2250 times, a delete 100 ms apart 900 times)
//     until the change is committed; inside a transaction they take the
//     transaction-write lock (kind 3; 100 ms, 900) which lasts until the
//     database commits or rolls back. Refused: "Table is locked" (20223).
//     A table whose locks a slot still holds stays loaded when its last
//     cursor closes, since the lock lists point at its locks file.
//     Single-user mode, where the sessions of the process have their own
//     page-manager sessions (DiskDatabaseData.h contract 2): a change made
//     in a session's transaction holds the table for that session until the
//     transaction ends; another session's insert, update or delete of it is
//     refused with "Table is locked" (20223), and its empty, drop, rename or
//     index change with 20208, as a second process would be. Reading beside
//     the transaction is allowed and sees what is committed. The record
//     count, modification counter and autoincrement counters the table data
//     keeps are one session's view: the outermost read or change of another
//     session, or the first one after a commit (the page manager's
//     StateGeneration moved), rereads them from the most-updated file in
//     the session's own view.
//  9. In a database this process could only open read-only (another
//     process uses it while this one asked for single-user mode) every
//     change is refused with "Dataset is in read only mode" (10106). Other
//     opens commit beside such an open, and it takes no table locks: its
//     outermost read operation holds the header lock (20236 when it is not
//     obtained in 4500 x 20 ms), so no commit starts while it reads, and
//     first checks the header's commit counter (TABSDiskPageManager::
//     FollowOtherCommits): when another open committed, the cached pages go
//     and the table's state is reread, so the operation sees the latest
//     commit whole. Opening a table or a cursor checks the counter too.
// 10. BLOB values are held like records (multi-user mode). A BLOB change
//     (WriteBlobBuffer, StoreBlobStream, FreeFieldBlob of a stored value)
//     takes the transaction-write lock (kind 3; 100 ms, 900; refused:
//     20223) and rereads the table's state first. Inside a transaction the
//     lock lasts until the database commits or rolls back; outside one
//     until the session's changes of the table are committed (by the record
//     change that stores the record, normally) or rolled back, or the
//     session disconnects. BLOB pages and the BLOB page index change before
//     the record that points at them, so without that lock another process
//     could commit the same pages in between and one of the two commits
//     would write over the other's values. A change outside a record change
//     moves the modification counter and writes it to the session's
//     most-updated file: the commit that carries the change moves the
//     table's stamp, so every other process rechecks the pages it cached.
//     Reading a value (ReadBlobBuffer, OpenBlobStream) is a read operation
//     of contract 8.
// 11. A temporary index (a session's own, made for a distinct, a sort or a
//     search) keeps its pages on a temporary page manager (in memory up to
//     its share, then in an unnamed temporary file), never in the database
//     file: the file holds nothing of it to leak when the process ends, and a
//     rollback of the session's pages cannot take pages from under it. A
//     rollback makes every temporary index stale, so it is rebuilt before
//     its next read; unloading the table frees them.
//
// Thread use: under the database data's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "core/TemporaryPageManager.h"
#include "core/ZUDBaseEngine.h"
#include "disk/BlobPageIndexSpace.h"
#include "disk/BlobPages.h"
#include "disk/DiskRecordManager.h"
#include "disk/InternalFile.h"
#include "disk/LockByteArea.h"
#include "disk/LockTablesFile.h"
#include "disk/TableList.h"

class TABSDiskDatabaseData;
class TABSDiskPageManager;

// The core BLOB manager interface over a TABSDiskBlobManager. A value
// written through it is stored at once (WriteRecordBlobs) in the caller's
// session, so the record slot always holds a stored reference and no
// cached value outlives the call.
class TABSDiskTableBlobManager : public TABSBlobManager {
 public:
  TABSDiskTableBlobManager(TABSDiskBlobManager& blobs, const TABSFieldDefs& fields) : blobs_(blobs), fields_(fields) {}

  void StoreStream(int32_t sessionID, const TABSFieldDef& field, int fieldNo, char* record,
                   TABSStream& content) override;
  void FreeFieldValue(int32_t sessionID, const TABSFieldDef& field, int fieldNo, char* record) override;
  std::unique_ptr<TABSStream> OpenStream(int32_t sessionID, const TABSFieldDef& field, int fieldNo,
                                         const char* record) override;
  std::string ReadBuffer(int32_t sessionID, const TABSFieldDef& field, int fieldNo, const char* record) override;
  void WriteBuffer(int32_t sessionID, const TABSFieldDef& field, int fieldNo, char* record, const char* data,
                   int64_t size) override;

 private:
  TABSDiskBlobManager& blobs_;
  const TABSFieldDefs& fields_;
};

class TABSDiskTableData : public TABSTableData {
 public:
  TABSDiskTableData(TABSDiskDatabaseData& database, std::string tableName);
  ~TABSDiskTableData() override;

  int32_t TableID() const { return tableID_; }
  bool Loaded() const { return loaded_; }
  TABSDiskRecordManager& DiskRecords();
  TABSBTreeBlobPageSpace* BlobSpace() { return blobSpace_.get(); }
  // The table's BLOB manager, null for a table without BLOB fields.
  TABSDiskBlobManager* DiskBlobs() { return diskBlobs_.get(); }
  TABSInternalDBTransactedAccessFile& MetadataFile() { return metadata_; }
  TABSInternalDBTransactedAccessFile& MostUpdatedFile() { return mostUpdated_; }
  TABSInternalDBDirectAccessFile& LocksFile() { return locks_; }

  // Contract 3: reads the table's structure once; later calls reread only
  // the most-updated state.
  void Load(TABSSessionInfo& session);
  void ReadMostUpdated(int32_t sessionID);
  void WriteMostUpdated(int32_t sessionID);
  void WriteMetadata(int32_t sessionID);

  std::unique_ptr<TABSBaseRecordManager> CreateRecordManager() override;
  std::unique_ptr<TABSIndex> CreateIndexObject(TABSBaseIndexManager& manager, const TABSIndexDef& def) override;
  std::unique_ptr<TABSBlobManager> CreateBlobManager() override;

  // Contract 8. Table locks of the session's slot on this table, keeping
  // the page cache's read and write counts (TablePagesCache.h) in step;
  // granted at once in single-user mode. UnlockTable never raises.
  bool LockTable(TABSSessionInfo& session, TABSLockKind kind, int32_t baseDelayMs, int32_t attempts);
  void UnlockTable(TABSSessionInfo& session, TABSLockKind kind) noexcept;
  // The record lock of the session's slot on this table (one record per
  // slot and table): one try, false when another connection holds the
  // record or the slot holds another record. Granted at once in
  // single-user mode. UnlockRecord never raises.
  bool LockRecord(TABSSessionInfo& session, const TABSRecordID& record);
  void UnlockRecord(TABSSessionInfo& session, const TABSRecordID& record) noexcept;
  bool IsRecordLocked(TABSSessionInfo& session, const TABSRecordID& record);
  // The database released the session's transaction-write and write locks
  // (commit or rollback): their counts go too; in single-user mode the
  // table is no longer held for the session's transaction.
  void TransactionLocksReleased(TABSSessionInfo& session);
  // A single-user session disconnected: nothing of the table is its any
  // more (its id may be given to the next session).
  void SessionLeft(int32_t sessionID);
  // Whether any slot of this process still holds a lock on the table.
  bool HasTableLocks();
  void BeginRead(TABSSessionInfo& session) override;
  void EndRead(TABSSessionInfo& session) noexcept override;

  // Contract 7.
  void OpenCursor(TABSSessionInfo& session, const void* cursor, bool exclusive);
  void CloseCursor(TABSSessionInfo& session, const void* cursor);
  bool Exclusive() const { return exclusive_; }
  TABSBasePageManager& PageManager() override { return commitPages_; }
  bool RollsBackFailedChanges(const TABSSessionInfo& session) const override { return !session.inTransaction; }
  void CreateTable(TABSSessionInfo& session) override;
  void CommitHook(TABSSessionInfo& session, bool inTransaction) override;
  void RollbackHook(TABSSessionInfo& session, bool inTransaction) override;
  void DeleteTable(TABSSessionInfo& session, bool force) override;
  void EmptyTable(TABSSessionInfo& session) override;
  void RenameTable(TABSSessionInfo& session, const std::string& newName) override;
  int32_t CreateIndex(TABSSessionInfo& session, const TABSIndexDef& def) override;
  void DropIndex(TABSSessionInfo& session, int32_t indexID) override;

  TABSRecordID InsertRecord(TABSSessionInfo& session, char* record, bool checkConstraints = true) override;
  void UpdateRecord(TABSSessionInfo& session, const TABSRecordID& id, const char* record,
                    bool checkConstraints = true) override;
  bool DeleteRecord(TABSSessionInfo& session, const TABSRecordID& id) override;
  using TABSTableData::DeleteRecord;
  using TABSTableData::InsertRecord;
  using TABSTableData::UpdateRecord;

  // Contract 10: BLOB values under the table's locks.
  void StoreBlobStream(TABSSessionInfo& session, char* record, int fieldNo, TABSStream& content) override;
  void FreeFieldBlob(TABSSessionInfo& session, char* record, int fieldNo) override;
  std::unique_ptr<TABSStream> OpenBlobStream(TABSSessionInfo& session, const char* record, int fieldNo) override;
  std::string ReadBlobBuffer(TABSSessionInfo& session, const char* record, int fieldNo) override;
  void WriteBlobBuffer(TABSSessionInfo& session, char* record, int fieldNo, const char* data, int64_t size) override;

  int64_t GetRecordCount(TABSSessionInfo& session) override;
  int64_t RecordIdToPosition(TABSSessionInfo& session, const TABSRecordID& id) override;
  bool PositionToRecordId(TABSSessionInfo& session, int64_t position, TABSRecordID& id) override;
  int64_t GetPhysicalRecNo(TABSSessionInfo& session, const TABSRecordID& id) override;
  bool SetPhysicalRecNo(TABSSessionInfo& session, int64_t recNo, TABSRecordID& id) override;

 private:
  // Commits write the most-updated file first (contract 4).
  class CommitPages : public TABSBasePageManager {
   public:
    explicit CommitPages(TABSDiskTableData& table) : table_(table) {}
    void CommitSession(int32_t sessionID, bool flush) override;
    void RollbackSession(int32_t sessionID) override;

   private:
    TABSDiskTableData& table_;
  };

  // The write lock of one record change in multi-user mode (contract 8),
  // and the reread of the table's state before it.
  class WriteScope {
   public:
    WriteScope(TABSDiskTableData& table, TABSSessionInfo& session, bool isDelete);
    ~WriteScope();
    WriteScope(const WriteScope&) = delete;
    WriteScope& operator=(const WriteScope&) = delete;

   private:
    TABSDiskTableData& table_;
    TABSSessionInfo& session_;
    bool unlock_ = false;
    bool singleUser_ = false;
  };

  // A BLOB change (contract 10): the transaction-write lock, kept until the
  // session's changes of the table are committed or rolled back; the
  // reread of the table's state before it, and a move of the modification
  // counter written to the session's most-updated file after it, unless a
  // record change around it does both.
  class BlobChangeScope {
   public:
    BlobChangeScope(TABSDiskTableData& table, TABSSessionInfo& session);
    ~BlobChangeScope();
    BlobChangeScope(const BlobChangeScope&) = delete;
    BlobChangeScope& operator=(const BlobChangeScope&) = delete;
    // The change is made: the counter moves (outside a record change).
    void Changed();

   private:
    TABSDiskTableData& table_;
    TABSSessionInfo& session_;
    bool entered_ = false;
    bool outermost_ = false;
  };

  // Holds the table's exclusive lock for a DDL step in multi-user mode.
  class ExclusiveUse {
   public:
    ExclusiveUse(TABSDiskTableData& table, TABSSessionInfo& session);
    ~ExclusiveUse();
    ExclusiveUse(const ExclusiveUse&) = delete;
    ExclusiveUse& operator=(const ExclusiveUse&) = delete;

   private:
    TABSDiskTableData& table_;
    int32_t slot_ = -1;
  };

  void CheckLoaded() const;
  void OpenLockFile();
  // Multi-user mode, outermost operation only: the most-updated state as
  // the session sees the file now (another connection may have changed the
  // table), and the table's stamp for the session's page checks.
  void RefreshForSession(TABSSessionInfo& session);
  void CheckWritable() const;
  // The steps every read or change takes once its lock is granted, and
  // gives back at its end: the outermost one rereads the state, each one
  // makes the table the session's current table. A failed entry releases
  // the lock when `release` (it was taken for this operation).
  // `heldThrough`: the session held a write lock of the table since before
  // the operation (an earlier change of its transaction), so no commit of
  // the table can have died since the last operation looked.
  void EnterOperation(TABSSessionInfo& session, TABSLockKind kind, bool release, bool heldThrough = false);
  void LeaveOperation(TABSSessionInfo& session, TABSLockKind kind, bool release) noexcept;
  // UnlockTable for a slot (the session's id).
  void UnlockSlot(int32_t sessionID, TABSLockKind kind) noexcept;
  // Contract 10: the lock a BLOB change outside a transaction took goes
  // once the session's changes are committed or rolled back.
  void ReleasePendingBlobLock(int32_t sessionID) noexcept;
  // The same in single-user mode (contract 8): the outermost operation
  // rereads the most-updated state when it holds another session's view or
  // a commit happened since it was read.
  void EnterSingleUser(TABSSessionInfo& session);
  void LeaveSingleUser() noexcept;
  // Single-user: 20223 / 20208 when another session's open transaction
  // changed the table.
  void CheckNotHeldByOther(const TABSSessionInfo& session, bool exclusive) const;
  // Contract 6: an index definitions change, under the exclusive lock,
  // committed with the metadata or rolled back whole.
  void CommitDefinitionsChange(TABSSessionInfo& session, const std::function<void()>& change);
  void MakeStorage();
  void Unload();
  // Deletes every record's BLOB values, then the records.
  void EmptyStorage(int32_t sessionID);

  TABSDiskDatabaseData& db_;
  TABSDiskPageManager& pm_;
  CommitPages commitPages_;
  int32_t tableID_ = -1;
  int32_t pageIndexRoot_ = -1;
  int32_t blobIndexRoot_ = -1;
  TABSInternalDBTransactedAccessFile metadata_;
  TABSInternalDBTransactedAccessFile mostUpdated_;
  TABSInternalDBDirectAccessFile locks_;
  std::unique_ptr<TABSBTreeBlobPageSpace> blobSpace_;
  // Contract 11: the pages of the temporary indexes.
  std::unique_ptr<TABSTemporaryPageManager> temporaryIndexPages_;
  std::unique_ptr<TABSDiskBlobManager> diskBlobs_;
  std::unique_ptr<TABSLockByteArea> lockArea_;
  std::unique_ptr<TABSTableLocksFile> lockFile_;
  struct CursorLock {
    const void* cursor;
    int32_t slot;
    bool exclusive;
  };
  std::vector<CursorLock> cursorLocks_;
  bool exclusive_ = false;
  bool loaded_ = false;
  // Operations under way on this table (all under the database lock, so
  // one thread): only the outermost rereads the most-updated state, which
  // an inner one would otherwise roll back to what is stored mid-change.
  int operationDepth_ = 0;
  // Record and BLOB changes under way (a BLOB value freed by a delete is
  // part of the delete: the delete moves the counter once).
  int changeDepth_ = 0;
  // Slots holding the transaction-write lock of a BLOB change made outside
  // a transaction, until their changes are committed or rolled back.
  std::set<int32_t> pendingBlobLocks_;
  // Single-user mode: the session whose open transaction changed the table
  // (-1: none); other sessions' changes wait for its end.
  int32_t transactionHolder_ = -1;
  // Whose view of the most-updated state the record manager and the
  // autoincrement counters hold (-1: nobody's, reread before use), and the
  // page manager's StateGeneration when it was read.
  int32_t stateSession_ = -1;
  uint64_t stateGeneration_ = 0;
  // A single-user read-only open holds the header lock for its outermost
  // operation (contract 9).
  bool headerHeld_ = false;
};
