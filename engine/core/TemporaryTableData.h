// TemporaryTableData: TABSTemporaryTableData and TABSTemporaryDatabaseData,
// the tables of the process-wide temporary database "TEMP": the SQL
// layer's work tables (results, sorted copies), append only, kept in
// memory up to a share and spilled to temporary files beyond it.
//
// A temporary table is an in-memory table (MemoryTableData.h) whose
// records are a TABSTemporaryRecordManager (TemporaryRecordManager.h) and
// whose index pages are a TABSTemporaryPageManager (TemporaryPageManager.h);
// creating, opening, emptying and dropping are the in-memory database's.
//
// Contract
//  1. Records are only appended: updates and deletes fail (the cursor
//     refuses them with its own codes, -9 and -10). The cursor appends
//     without checking constraints: a work table holds what its statement
//     computed, already checked where it came from.
//  2. Record positions and physical record numbers are sequence numbers:
//     the record appended k-th (from 0) is at position k and has record
//     number k + 1.
//  3. Each table's records and index pages may keep in memory the
//     database's memory share (a tenth of the usable memory unless set
//     otherwise) before they go to temporary files; a table created
//     in-memory never spills. The share is read when a table is created.
//
// Thread use: under the database data's lock.
#pragma once

#include <memory>
#include <string>

#include "core/MemoryTableData.h"
#include "core/TemporaryPageManager.h"
#include "core/TemporaryRecordManager.h"

class TABSTemporaryTableData : public TABSMemoryTableData {
 public:
  TABSTemporaryTableData(TABSDatabaseData& database, std::string tableName, int64_t memoryShare, bool inMemory,
                         int32_t growthStep = TABSTemporaryRecordManager::kDefaultGrowthStep,
                         int32_t recordsPerBlock = TABSTemporaryRecordManager::kDefaultRecordsPerBlock);

  TABSTemporaryRecordManager& TemporaryRecords() { return static_cast<TABSTemporaryRecordManager&>(RecordManager()); }
  TABSTemporaryPageManager& TemporaryPages() { return static_cast<TABSTemporaryPageManager&>(PageManager()); }

  std::unique_ptr<TABSBaseRecordManager> CreateRecordManager() override;
  int64_t RecordIdToPosition(TABSSessionInfo& session, const TABSRecordID& id) override;
  bool PositionToRecordId(TABSSessionInfo& session, int64_t position, TABSRecordID& id) override;
  int64_t GetPhysicalRecNo(TABSSessionInfo& session, const TABSRecordID& id) override;
  bool SetPhysicalRecNo(TABSSessionInfo& session, int64_t recNo, TABSRecordID& id) override;

 private:
  int64_t memoryShare_;
  bool inMemory_;
  int32_t recordsPerBlock_;
};

class TABSTemporaryDatabaseData : public TABSMemoryDatabaseData {
 public:
  TABSTemporaryDatabaseData();

  std::unique_ptr<TABSTableData> CreateTableData(const std::string& tableName) override;
  // Contract 3.
  int64_t MemoryShare() const { return memoryShare_; }
  void SetMemoryShare(int64_t bytes) { memoryShare_ = bytes < 1 ? 1 : bytes; }

 private:
  int64_t memoryShare_;
};
