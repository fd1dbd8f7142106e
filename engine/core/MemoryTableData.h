// MemoryTableData: TABSMemoryTableData and TABSMemoryDatabaseData, the
// tables of the process-wide in-memory database "MEMORY": ordinary
// read-write tables (records, indexes, BLOB values, constraints,
// autoincrement fields) that live in this process's memory and vanish with
// it.
//
// A table is its records (MemoryRecordManager.h), its index pages on its
// own in-memory page manager (MemoryPageManager.h) and its BLOB blocks
// (MemoryBlobManager.h). It is never locked between processes.
//
// Contract
//  1. CreateTable builds every index as an empty tree and enforces unique
//     and primary indexes through their derived constraints, as on disk;
//     zero fields raise "Error creating table - no fields were specified"
//     (10025). The database's CreateTable replaces a table of the same name
//     that no cursor has open (an application's start-up creates its tables
//     again); one with open cursors is refused with 20017 (as is dropping it).
//  2. Index pages are committed after every change: a record change is
//     never taken back by a page rollback, so the index pages must never be
//     either. The database refuses transactions (TransactionsAllowed).
//  3. Opening a table that was never created raises "Table not found,
//     table name = %s" (10028).
//  4. Emptying empties the indexes through their trees (their pages are
//     freed once, by the trees themselves), then clears the records, frees
//     the BLOB blocks and restarts the autoincrement counters.
//  5. Record positions are slot numbers; physical record numbers count live
//     slots (MemoryRecordManager.h contract 5).
//
// Thread use: under the database data's lock.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/MemoryBlobManager.h"
#include "core/MemoryPageManager.h"
#include "core/MemoryRecordManager.h"
#include "core/ZUDTableData.h"

class TABSMemoryTableData : public TABSTableData {
 public:
  TABSMemoryTableData(TABSDatabaseData& database, std::string tableName,
                      int32_t growthStep = TABSMemoryRecordManager::kDefaultGrowthStep);

  bool Created() const { return created_; }
  TABSMemoryRecordManager& MemoryRecords() { return static_cast<TABSMemoryRecordManager&>(RecordManager()); }

  std::unique_ptr<TABSBaseRecordManager> CreateRecordManager() override;
  std::unique_ptr<TABSIndex> CreateIndexObject(TABSBaseIndexManager& manager, const TABSIndexDef& def) override;
  std::unique_ptr<TABSBlobManager> CreateBlobManager() override;
  TABSBasePageManager& PageManager() override { return *pages_; }
  void CreateTable(TABSSessionInfo& session) override;
  void CommitHook(TABSSessionInfo& session, bool inTransaction) override;
  void RollbackHook(TABSSessionInfo& session, bool inTransaction) override;
  void EmptyTable(TABSSessionInfo& session) override;

  int64_t GetRecordCount(TABSSessionInfo& session) override;
  int64_t RecordIdToPosition(TABSSessionInfo& session, const TABSRecordID& id) override;
  bool PositionToRecordId(TABSSessionInfo& session, int64_t position, TABSRecordID& id) override;
  int64_t GetPhysicalRecNo(TABSSessionInfo& session, const TABSRecordID& id) override;
  bool SetPhysicalRecNo(TABSSessionInfo& session, int64_t recNo, TABSRecordID& id) override;

 protected:
  // A kind of its own (the temporary tables) brings its page manager.
  TABSMemoryTableData(TABSDatabaseData& database, std::string tableName, int32_t growthStep,
                      std::unique_ptr<TABSPageManager> pages);
  int32_t GrowthStep() const { return growthStep_; }

 private:
  std::unique_ptr<TABSPageManager> pages_;
  int32_t growthStep_;
  bool created_ = false;
};

class TABSMemoryDatabaseData : public TABSDatabaseData {
 public:
  TABSMemoryDatabaseData() : TABSDatabaseData("MEMORY") {}

  // Sessions get identifiers of their own here (1, 2, ...).
  void AttachSession(TABSSessionInfo& session) override;
  std::unique_ptr<TABSTableData> CreateTableData(const std::string& tableName) override;
  int32_t NextObjectID() override { return ids_.Next(); }
  TABSBasePageManager* DatabasePageManager() override { return nullptr; }

  // Contract 1.
  TABSMemoryTableData& CreateTable(TABSSessionInfo& session, const std::string& name, const TABSFieldDefs& fields,
                                   const TABSIndexDefs& indexes, const TABSConstraintDefs* constraints = nullptr);
  // Contract 3.
  TABSMemoryTableData& OpenTable(const std::string& name);
  // A table no cursor has open; 10028 when there is none of the name.
  void DropTable(const std::string& name);
  std::vector<std::string> TableNames() const;
  static bool TransactionsAllowed() { return false; }

 protected:
  explicit TABSMemoryDatabaseData(std::string name) : TABSDatabaseData(std::move(name)) {}

 private:
  TABSObjectIDGenerator ids_;
  int32_t nextSessionID_ = 1;
};
