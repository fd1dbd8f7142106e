// ZUDTableData: the database data object (open tables, attached sessions,
// the object identifier generator, the lock) and the table data object that
// one table shares among its cursors, with the record operations that keep
// the indexes in step.
//
// Contract
//  1. Every public operation of a table data object runs under its
//     database data's lock (a re-entrant mutex), for its whole duration.
//  2. Insert: autoincrement values, constraint checks, the record manager
//     stores the record, every index gets its key in definition order (each
//     index's change stamp +1, root page refreshed), then outside a
//     transaction the changes are committed.
//     Update: checks, every index drops the old key, the record manager
//     overwrites, every index inserts the new key, commit.
//     Delete: every index drops the key, the record manager deletes, the
//     record's BLOB values are freed, commit.
//  3. A failed insert, update or delete leaves the record manager, every
//     index and the autoincrement counters (with the session's record of
//     them) exactly as before: completed steps are undone in reverse order
//     before the error is re-raised. Change stamps only ever grow.
//  4. Object identifiers come from the database data's generator and are
//     never reused within the database.
//  5. Cursor-facing operations (fetching, positioning, filter bitmaps,
//     BLOB streams) belong to the cursor and storage layers and are added
//     there.
//
// Thread use: any thread, serialised by the database data's lock.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ZUDTableManagers.h"

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

  std::recursive_mutex& Lock() { return lock_; }
  const std::string& DatabaseName() const { return name_; }

  virtual void AttachSession(TABSSessionInfo& session);
  virtual void DetachSession(TABSSessionInfo& session);
  // True when no session is attached any more: the owner may free it.
  virtual bool UnusedNow() const;
  virtual std::vector<std::string> OpenTableNames() const;
  virtual std::unique_ptr<TABSTableData> CreateTableData(const std::string& tableName) = 0;
  virtual TABSTableData* FindTableData(const std::string& tableName) const;
  virtual TABSTableData& FindOrCreateTableData(const std::string& tableName);
  virtual void RemoveTableData(TABSTableData& table);
  virtual int32_t NextObjectID() = 0;
  virtual void CommitHook(TABSSessionInfo& session) { (void)session; }
  virtual void RollbackHook(TABSSessionInfo& session);

 protected:
  std::recursive_mutex lock_;
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
  virtual std::unique_ptr<TABSIndex> CreateIndexObject(TABSBaseIndexManager& manager) = 0;
  virtual void CreateTable(TABSSessionInfo& session) = 0;

  virtual void SetFieldDefs(const TABSFieldDefs& defs);
  virtual void SetIndexDefs(const TABSIndexDefs& defs);
  virtual void SetConstraintDefs(const TABSConstraintDefs& defs);
  TABSCursorRecordLayout GetRecordLayout() const { return CursorRecordLayout(FieldDefs()); }
  virtual void CommitHook(TABSSessionInfo& session, bool inTransaction) { (void)session, (void)inTransaction; }
  virtual void RollbackHook(TABSSessionInfo& session, bool inTransaction) { (void)session, (void)inTransaction; }
  virtual void DeleteTable(TABSSessionInfo& session, bool force);
  virtual void EmptyTable(TABSSessionInfo& session);
  virtual void RenameTable(TABSSessionInfo& session, const std::string& newName);
  virtual void AttachCursor(const void* cursor);
  virtual void DetachCursor(const void* cursor);
  int CursorCount() const { return static_cast<int>(cursors_.size()); }
  virtual void RenameField(const std::string& oldName, const std::string& newName);
  virtual int32_t CreateIndex(TABSSessionInfo& session, const TABSIndexDef& def);
  virtual void DropIndex(TABSSessionInfo& session, int32_t indexID);
  virtual int64_t GetRecordCount(TABSSessionInfo& session) = 0;
  // Frees the BLOB values a record holds; tables with BLOB fields override.
  virtual void FreeRecordBlobs(char* record) { (void)record; }

  // A new memory record for insertion: contract 1 of ZUDRecordLayout.h,
  // then the defaults.
  void InitRecordForInsert(char* record);
  // Contract 2 and 3. `checkConstraints` is false for temporary tables.
  virtual TABSRecordID InsertRecord(TABSSessionInfo& session, char* record, bool checkConstraints = true);
  virtual void UpdateRecord(TABSSessionInfo& session, const TABSRecordID& id, const char* record,
                            bool checkConstraints = true);
  // False when the record no longer exists (nothing is changed then).
  virtual bool DeleteRecord(TABSSessionInfo& session, const TABSRecordID& id);
  int64_t GetLastAutoincValue(TABSSessionInfo& session, const std::string& fieldName);

 protected:
  // Outside a transaction the session's changes are committed after every
  // record operation; storage kinds with pages override.
  virtual void CommitChanges(TABSSessionInfo& session) { (void)session; }
  // Reads the current bytes of a record; false when it does not exist.
  bool ReadRecord(TABSSessionInfo& session, const TABSRecordID& id, std::vector<char>& record);

  TABSDatabaseData& database_;
  std::string tableName_;
  std::unique_ptr<TABSBaseFieldManager> fieldManager_;
  std::unique_ptr<TABSBaseIndexManager> indexManager_;
  std::unique_ptr<TABSBaseConstraintManager> constraintManager_;
  std::unique_ptr<TABSBaseRecordManager> recordManager_;
  std::vector<const void*> cursors_;
  bool temporaryBlobsInMemory_ = false;
  std::recursive_mutex ownLock_;
};
