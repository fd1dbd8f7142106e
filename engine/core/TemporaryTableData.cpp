#include "core/TemporaryTableData.h"

TABSTemporaryTableData::TABSTemporaryTableData(TABSDatabaseData& database, std::string tableName, int64_t memoryShare,
                                               bool inMemory, int32_t growthStep, int32_t recordsPerBlock)
    : TABSMemoryTableData(database, std::move(tableName), growthStep,
                          std::make_unique<TABSTemporaryPageManager>(memoryShare, inMemory)),
      memoryShare_(memoryShare),
      inMemory_(inMemory),
      recordsPerBlock_(recordsPerBlock) {}

std::unique_ptr<TABSBaseRecordManager> TABSTemporaryTableData::CreateRecordManager() {
  return std::make_unique<TABSTemporaryRecordManager>(FieldDefs().MemoryRecordSize(), memoryShare_, inMemory_,
                                                      GrowthStep(), recordsPerBlock_);
}

int64_t TABSTemporaryTableData::RecordIdToPosition(TABSSessionInfo& session, const TABSRecordID& id) {
  (void)session;
  return id.pageNo;
}

bool TABSTemporaryTableData::PositionToRecordId(TABSSessionInfo& session, int64_t position, TABSRecordID& id) {
  (void)session;
  if (position < 0 || position >= RecordManager().RecordCount()) return false;
  id = {static_cast<int32_t>(position), 0};
  return true;
}

int64_t TABSTemporaryTableData::GetPhysicalRecNo(TABSSessionInfo& session, const TABSRecordID& id) {
  return RecordManager().ApproxRecNo(session.sessionID, id);
}

bool TABSTemporaryTableData::SetPhysicalRecNo(TABSSessionInfo& session, int64_t recNo, TABSRecordID& id) {
  return PositionToRecordId(session, recNo - 1, id);
}

// ---- the database -------------------------------------------------------------

TABSTemporaryDatabaseData::TABSTemporaryDatabaseData()
    : TABSMemoryDatabaseData("TEMP"), memoryShare_(TemporaryMemoryShare()) {}

std::unique_ptr<TABSTableData> TABSTemporaryDatabaseData::CreateTableData(const std::string& tableName) {
  // A work table made through a cursor may spill; one the SQL layer wants
  // in memory is made with its own TABSTemporaryTableData.
  return std::make_unique<TABSTemporaryTableData>(*this, tableName, memoryShare_, false);
}
