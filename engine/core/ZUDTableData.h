// ZUDTableData: the database data object (open tables, attached sessions,
// the object identifier generator, the lock) and the table data object that
// one table shares among its cursors, with the record operations that keep
// the indexes in step.
//
// Contract
//  1. Every public operation of a table data object runs under its
//     database data's lock (a re-entrant mutex), for its whole duration.
//     The database data's lists of sessions and open tables are read and
//     changed under the same lock.
//  2. Insert: autoincrement values, constraint checks, the record manager
//     stores the record, every index gets its key in definition order (its
//     change stamp moves on, its root page is refreshed), then outside a
//     transaction the changes are committed.
//     Update: checks, every index whose key changes drops the old key
//     (phase 1), the record manager overwrites, those indexes insert the
//     new key (phase 0), commit.
//     Delete: every index drops the key, the record manager deletes, the
//     record's BLOB values are freed, commit.
//  3. A failed insert, update or delete leaves the record manager, every
//     index and the autoincrement counters (with the session's record of
//     them) exactly as before: completed steps are undone in reverse order
//     before the error is re-raised. Change stamps only ever grow. Outside
//     a transaction the change is its own commit: when any step fails, the
//     commit included, the session is rolled back through the table's page
//     manager (RollbackSession) before the error is re-raised, so no page it
//     changed stays pending for the session's next commit, and the storage
//     kind brings what its table data caches back to the committed state
//     (ZUDBasePageManager.h contract 2). BLOB values stored for the record
//     in the same session before the change go with it. Inside a
//     transaction the transaction decides.
//  4. Object identifiers come from the database data's generator and are
//     never reused within the database.
//  5. Cursor operations (ZUDTableCursor.h) step in the cursor's order: its
//     current index, else physical order. A filtered cursor sees only the
//     records that pass; its count and record numbers come from its filter
//     bitmap, rebuilt whenever stale. Record numbers are 1-based and follow
//     the cursor's order, also when filtered.
//  6. Record operations made through a cursor keep its bitmap bit of the
//     record current; after a delete the cursor stands on the next passing
//     record, else the prior one, else before the first.
//  7. Before a session reads through an index, its stale temporary indexes
//     are rebuilt (ZUDTableManagers.h contract 2).
//  8. BLOB values are reached only through the table's BLOB manager
//     (ZUDBlobManager.h); a field number that is not a BLOB field of the
//     table raises 20171.
//  9. Commit: outside a transaction every record operation ends with the
//     table's page manager committing the session. The database data's
//     commit hook commits its own page manager; its rollback hook rolls
//     that back and then calls every open table's rollback hook.
// 10. Emptying a table drops every record, then every index key, restarts
//     the autoincrement counters and frees the records' BLOB values through
//     the BLOB manager. When the record manager fails to drop the records,
//     nothing has changed.
// 11. RenameField renames the field everywhere it is named: index columns,
//     the subject slot of its not-null and check constraints, the columns
//     of unique and primary-key constraints. A name those slots cannot
//     hold (ZUDConstraintDefs.h contract 6) is refused with "Restructure
//     table error: '%s'" (30347) before anything changes.
//
// Thread use: any thread, serialised by the database data's lock.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/ZUDBasePageManager.h"
#include "core/ZUDBlobManager.h"
#include "core/ZUDTableCursor.h"
#include "core/ZUDTableManagers.h"

class TABSTableData;

// A counter that hands out object identifiers; its last value is part of
// the database's stored state.
class TABSObjectIDGenerator {
 public:
  int32_t Next();
  int32_t Last() const { return last_; }
  void SetLast(int32_t last) { last_ = last; }

 private:
  int32_t last_ = 0;
};

class TABSDatabaseData {
 public:
  explicit TABSDatabaseData(std::string name) : name_(std::move(name)) {}
  virtual ~TABSDatabaseData();

  std::recursive_mutex& Lock() const { return lock_; }
  const std::string& DatabaseName() const { return name_; }

  virtual void AttachSession(TABSSessionInfo& session);
  virtual void DetachSession(TABSSessionInfo& session);
  // True when no session is attached any more: the owner may free it.
  virtual bool UnusedNow() const;
  virtual std::vector<std::string> OpenTableNames() const;
  // An extension slot between listing and creating tables: no storage kind
  // gives it behaviour, so it does nothing.
  virtual void ReservedHook() {}
  virtual std::unique_ptr<TABSTableData> CreateTableData(const std::string& tableName) = 0;
  virtual TABSTableData* FindTableData(const std::string& tableName) const;
  virtual TABSTableData& FindOrCreateTableData(const std::string& tableName);
  virtual void RemoveTableData(TABSTableData& table);
  // A new table on `table` (made by FindOrCreateTableData): its
  // definitions set, then its storage kind's CreateTable; on any failure
  // the object leaves the list and the error is raised again.
  void BuildNewTable(TABSSessionInfo& session, TABSTableData& table, const TABSFieldDefs& fields,
                     const TABSIndexDefs& indexes, const TABSConstraintDefs* constraints);
  virtual int32_t NextObjectID() = 0;
  // The page manager for database-level work; null for a database that
  // has none (the in-memory one).
  virtual TABSBasePageManager* DatabasePageManager() = 0;
  // Contract 9.
  virtual void CommitHook(TABSSessionInfo& session, bool flush);
  virtual void RollbackHook(TABSSessionInfo& session);
  // The last extension slot: no storage kind gives it behaviour.
  virtual void ExtraHook() {}

 protected:
  // Mutable: the read-only questions (open tables, unused) take it too.
  mutable std::recursive_mutex lock_;
  std::string name_;
  std::vector<TABSSessionInfo*> sessions_;
  std::vector<std::unique_ptr<TABSTableData>> tables_;
};

class TABSTableData {
 public:
  TABSTableData(TABSDatabaseData& database, std::string tableName);
  virtual ~TABSTableData();
  TABSTableData(const TABSTableData&) = delete;
  TABSTableData& operator=(const TABSTableData&) = delete;

  const std::string& TableName() const { return tableName_; }
  TABSDatabaseData& Database() { return database_; }
  TABSBaseFieldManager& FieldManager() { return *fieldManager_; }
  TABSBaseIndexManager& IndexManager() { return *indexManager_; }
  TABSBaseConstraintManager& ConstraintManager() { return *constraintManager_; }
  TABSBaseRecordManager& RecordManager();
  const TABSFieldDefs& FieldDefs() const { return fieldManager_->FieldDefs(); }

  // Storage kinds make these.
  virtual std::unique_ptr<TABSBaseRecordManager> CreateRecordManager() = 0;
  // The index object of `def` over the storage kind's pages; a temporary
  // index (this process's own, rebuilt when stale) may live elsewhere than
  // the table's stored indexes.
  virtual std::unique_ptr<TABSIndex> CreateIndexObject(TABSBaseIndexManager& manager, const TABSIndexDef& def) = 0;
  virtual std::unique_ptr<TABSBlobManager> CreateBlobManager() = 0;
  virtual TABSBasePageManager& PageManager() = 0;
  virtual void CreateTable(TABSSessionInfo& session) = 0;

  virtual void SetFieldDefs(const TABSFieldDefs& defs);
  virtual void SetIndexDefs(const TABSIndexDefs& defs);
  virtual void SetConstraintDefs(const TABSConstraintDefs& defs);
  TABSCursorRecordLayout GetRecordLayout() const { return CursorRecordLayout(FieldDefs()); }
  // Commit and rollback of the session as this table's storage kind sees
  // them (a disk table reloads its state after a rollback).
  virtual void CommitHook(TABSSessionInfo& session, bool inTransaction) = 0;
  virtual void RollbackHook(TABSSessionInfo& session, bool inTransaction) = 0;
  virtual void DeleteTable(TABSSessionInfo& session, bool force);
  // Contract 10.
  virtual void EmptyTable(TABSSessionInfo& session);
  virtual void RenameTable(TABSSessionInfo& session, const std::string& newName);
  virtual void AttachCursor(const void* cursor);
  virtual void DetachCursor(const void* cursor);
  int CursorCount() const { return static_cast<int>(cursors_.size()); }
  virtual void RenameField(const std::string& oldName, const std::string& newName);
  virtual int32_t CreateIndex(TABSSessionInfo& session, const TABSIndexDef& def);
  virtual void DropIndex(TABSSessionInfo& session, int32_t indexID);
  // The identifier of an index serving the columns, else of a new
  // temporary index over them (ZUDTableManagers.h).
  int32_t FindOrCreateIndex(TABSSessionInfo& session, const std::vector<std::string>& names,
                            const std::vector<std::string>& directions, const std::vector<std::string>& cases);
  // A read operation (positioning, reading, counting, locating, ordinals)
  // as one bracket: a storage kind shared between processes takes its read
  // lock and rereads its current state in BeginRead, and gives them back in
  // EndRead. Brackets nest; EndRead never raises.
  virtual void BeginRead(TABSSessionInfo& session) { (void)session; }
  virtual void EndRead(TABSSessionInfo& session) noexcept { (void)session; }
  class ReadScope {
   public:
    ReadScope(TABSTableData& table, TABSSessionInfo& session) : table_(table), session_(session) {
      table.BeginRead(session);
    }
    ~ReadScope() { table_.EndRead(session_); }
    ReadScope(const ReadScope&) = delete;
    ReadScope& operator=(const ReadScope&) = delete;

   private:
    TABSTableData& table_;
    TABSSessionInfo& session_;
  };
  virtual int64_t GetRecordCount(TABSSessionInfo& session) = 0;
  // Record positions: one per record slot of the storage kind, stable while
  // the record exists; the filter bitmap has one bit per position.
  virtual int64_t RecordIdToPosition(TABSSessionInfo& session, const TABSRecordID& id) = 0;
  virtual bool PositionToRecordId(TABSSessionInfo& session, int64_t position, TABSRecordID& id) = 0;
  // Physical record numbers, 1-based in physical order.
  virtual int64_t GetPhysicalRecNo(TABSSessionInfo& session, const TABSRecordID& id) = 0;
  virtual bool SetPhysicalRecNo(TABSSessionInfo& session, int64_t recNo, TABSRecordID& id) = 0;

  // ---- BLOB values (contract 8) ----
  // Virtual so that a storage kind shared between processes can bracket
  // them with its table locks, as it does its record changes and reads.
  virtual void StoreBlobStream(TABSSessionInfo& session, char* record, int fieldNo, TABSStream& content);
  virtual void FreeFieldBlob(TABSSessionInfo& session, char* record, int fieldNo);
  void FreeRecordBlobs(TABSSessionInfo& session, char* record);
  virtual std::unique_ptr<TABSStream> OpenBlobStream(TABSSessionInfo& session, const char* record, int fieldNo);
  virtual std::string ReadBlobBuffer(TABSSessionInfo& session, const char* record, int fieldNo);
  virtual void WriteBlobBuffer(TABSSessionInfo& session, char* record, int fieldNo, const char* data, int64_t size);
  // Whether the BLOB streams a cursor opens for new values keep their
  // content in memory rather than in a temporary file.
  bool TemporaryBlobsInMemory() const { return temporaryBlobsInMemory_; }
  void SetTemporaryBlobsInMemory(bool inMemory) { temporaryBlobsInMemory_ = inMemory; }
  // Called when a cursor frees one of its record buffers; the buffer owns
  // no table resources (its BLOB values are freed through FreeRecordBlobs),
  // so there is nothing to do unless a storage kind adds something.
  virtual void FreeRecordBufferHook(TABSSessionInfo& session, char* recordBuffer) {
    (void)session;
    (void)recordBuffer;
  }

  // A new memory record for insertion: contract 1 of ZUDRecordLayout.h,
  // then the defaults.
  void InitRecordForInsert(char* record);
  // Whether a record change that fails for `session` takes back everything
  // the session changed since its last commit (contract 3: outside a
  // transaction, for a storage kind with page transactions).
  virtual bool RollsBackFailedChanges(const TABSSessionInfo& session) const {
    (void)session;
    return false;
  }
  // Contract 2 and 3. `checkConstraints` is false for temporary tables.
  virtual TABSRecordID InsertRecord(TABSSessionInfo& session, char* record, bool checkConstraints = true);
  virtual void UpdateRecord(TABSSessionInfo& session, const TABSRecordID& id, const char* record,
                            bool checkConstraints = true);
  // False when the record no longer exists (nothing is changed then).
  virtual bool DeleteRecord(TABSSessionInfo& session, const TABSRecordID& id);
  int64_t GetLastAutoincValue(TABSSessionInfo& session, const std::string& fieldName);
  // The stored bytes of a record as one read operation (a memory record
  // and one spare byte); false when the record no longer exists.
  bool RereadRecord(TABSSessionInfo& session, const TABSRecordID& id, std::vector<char>& record);

  // ---- cursor operations (contracts 5 to 7) ----
  // Sizes the cursor's buffer and puts it before the first record.
  void PrepareCursor(TABSTableCursor& cursor);
  // Current (re-read), next or prior record in the cursor's order. Found:
  // the record is in the cursor's buffer. Before first / after last: the
  // cursor stands there. Not found (mode current only): the record is gone
  // or no longer passes; the cursor keeps its buffer.
  TABSGetRecordResult FetchRecord(TABSSessionInfo& session, TABSTableCursor& cursor, TABSGetRecordMode mode);
  // Puts the cursor on the record `id` (bytes re-read); false, and the
  // cursor unchanged, when it is gone or does not pass.
  bool PositionOnKey(TABSSessionInfo& session, TABSTableCursor& cursor, const TABSRecordID& id);
  // Key search in the cursor's current index (20258 without one): the
  // first passing entry satisfying `key` going forward (equal: exact
  // search, greater or equal: nearest), or the last one going backward.
  // False, and the cursor unchanged, when there is none.
  bool SearchRange(TABSSessionInfo& session, TABSTableCursor& cursor, const TABSIndexBound& key, bool forward);
  // Brings the cursor's filter bitmap up to date when it is stale.
  void RefreshBitmap(TABSSessionInfo& session, TABSTableCursor& cursor);
  virtual int64_t GetCursorRecordCount(TABSSessionInfo& session, TABSTableCursor& cursor);
  // 1-based number of the cursor's record in its order; -1 off a record.
  int64_t GetRecNo(TABSSessionInfo& session, TABSTableCursor& cursor);
  // Numbers below 1 count as 1, past the count as the last record; with
  // nothing to see the cursor does not move. False when it did not move.
  bool SetRecNo(TABSSessionInfo& session, TABSTableCursor& cursor, int64_t recNo);
  // The cursor's buffer inserted, updated or deleted (contract 6).
  TABSRecordID InsertRecord(TABSSessionInfo& session, TABSTableCursor& cursor, bool checkConstraints = true);
  void UpdateRecord(TABSSessionInfo& session, TABSTableCursor& cursor, bool checkConstraints = true);
  bool DeleteRecord(TABSSessionInfo& session, TABSTableCursor& cursor);
  void RebuildTemporaryIndexes(TABSSessionInfo& session);

 protected:
  // Contract 9.
  void CommitChanges(TABSSessionInfo& session);
  // Contract 3: a change outside a transaction that failed, its commit
  // included, leaves nothing in the session. A rollback that fails itself is
  // reported on the standard error stream; the change's error is raised.
  void RollbackFailedChange(TABSSessionInfo& session) noexcept;
  // Reads the current bytes of a record; false when it does not exist.
  bool ReadRecord(TABSSessionInfo& session, const TABSRecordID& id, std::vector<char>& record);
  TABSBlobManager& BlobManager();
  const TABSFieldDef& BlobField(int fieldNo) const;
  bool HasBlobFields() const;

  // Cursor helpers (ZUDTableDataCursor.cpp).
  bool UsesBitmap(const TABSTableCursor& cursor) const;
  bool InRange(TABSTableCursor& cursor, const char* record);
  bool PassesWithoutBitmap(TABSTableCursor& cursor, const char* record);
  bool Passes(TABSSessionInfo& session, TABSTableCursor& cursor, const char* record, const TABSRecordID& id);
  void BuildBitmap(TABSSessionInfo& session, TABSTableCursor& cursor);
  // The records of the cursor's scan range in its index's order.
  void WalkScanRange(TABSSessionInfo& session, TABSTableCursor& cursor,
                     const std::function<void(const char*, const TABSRecordID&)>& visit);
  void MarkBit(TABSSessionInfo& session, TABSTableCursor& cursor, const TABSRecordID& id, bool passes);
  // One filtered step from the request's position; the request ends on the
  // record found (in its destination) or with the end reached.
  void Step(TABSSessionInfo& session, TABSTableCursor& cursor, TABSGetRecordRequest& request);
  // A key bound every passing record keeps in the order of the cursor's
  // index: of its range, and of its scan when that runs on the same index.
  struct KeyBound {
    const std::vector<char>* key;
    int32_t fieldCount;
    bool exclusive;
  };
  static void CursorBounds(const TABSTableCursor& cursor, std::vector<KeyBound>& lower, std::vector<KeyBound>& upper);
  // A step from an end lands on the tightest of `bounds` (those of the side
  // it starts from) instead of the index's end; false when it does not
  // start from an end or has no bound to jump to.
  bool JumpToBound(TABSSessionInfo& session, TABSTableCursor& cursor, TABSGetRecordRequest& request,
                   const std::vector<KeyBound>& bounds);
  void Accept(TABSTableCursor& cursor, const char* record, const TABSRecordID& id);
  void FillPositionCache(TABSSessionInfo& session, TABSTableCursor& cursor);
  // Walks the cursor's index in order over passing records; stops when
  // `stop` returns true. Returns the number of passing records seen.
  int64_t WalkIndex(TABSSessionInfo& session, TABSTableCursor& cursor,
                    const std::function<bool(const TABSRecordID&, int64_t)>& stop);

  TABSDatabaseData& database_;
  std::string tableName_;
  std::unique_ptr<TABSBaseFieldManager> fieldManager_;
  std::unique_ptr<TABSBaseIndexManager> indexManager_;
  std::unique_ptr<TABSBaseConstraintManager> constraintManager_;
  std::unique_ptr<TABSBaseRecordManager> recordManager_;
  std::unique_ptr<TABSBlobManager> blobManager_;
  std::vector<const void*> cursors_;
  bool temporaryBlobsInMemory_ = false;
  std::recursive_mutex ownLock_;
};
