#include "core/MemoryTableData.h"

#include "core/ABSBTreeTableIndex.h"
#include "core/ZUDExcept.h"
#include "core/ZUDMetaObjectDef.h"

using Guard = std::lock_guard<std::recursive_mutex>;

TABSMemoryTableData::TABSMemoryTableData(TABSDatabaseData& database, std::string tableName, int32_t growthStep)
    : TABSMemoryTableData(database, std::move(tableName), growthStep, std::make_unique<TABSMemoryPageManager>()) {}

TABSMemoryTableData::TABSMemoryTableData(TABSDatabaseData& database, std::string tableName, int32_t growthStep,
                                         std::unique_ptr<TABSPageManager> pages)
    : TABSTableData(database, std::move(tableName)), pages_(std::move(pages)), growthStep_(growthStep) {
  SetTemporaryBlobsInMemory(true);
}

std::unique_ptr<TABSBaseRecordManager> TABSMemoryTableData::CreateRecordManager() {
  return std::make_unique<TABSMemoryRecordManager>(FieldDefs().MemoryRecordSize(), growthStep_);
}

std::unique_ptr<TABSIndex> TABSMemoryTableData::CreateIndexObject(TABSBaseIndexManager& manager,
                                                                  const TABSIndexDef& def) {
  (void)def;
  return std::make_unique<TABSBTreeTableIndex>(&manager, pages_.get());
}

std::unique_ptr<TABSBlobManager> TABSMemoryTableData::CreateBlobManager() {
  return std::make_unique<TABSMemoryBlobManager>();
}

void TABSMemoryTableData::CreateTable(TABSSessionInfo& session) {
  Guard guard(database_.Lock());
  if (FieldDefs().Count() == 0) throw EABSException(10025, "Error creating table - no fields were specified");
  RecordManager();
  TABSIndexDefs& defs = indexManager_->IndexDefs();
  for (int i = 0; i < defs.Count(); ++i) {
    TABSIndexDef& def = *defs[i];
    TABSIndex& index = indexManager_->IndexByID(def.ObjectID());
    index.Create(session.sessionID, def);
    def.rootPageNo = index.Definition().rootPageNo;
    if (!def.unique && !def.primary) continue;
    TABSConstraintDefs& constraints = constraintManager_->ConstraintDefs();
    bool present = false;
    for (int k = 0; k < constraints.Count(); ++k)
      present = present || ((constraints[k]->Kind() == actPrimaryKey || constraints[k]->Kind() == actUnique) &&
                            constraints[k]->SubjectSlot().id == def.ObjectID());
    if (!present) constraintManager_->AddIndexConstraint(def, database_.NextObjectID());
  }
  pages_->CommitSession(session.sessionID, false);
  created_ = true;
}

// Contract 2: the pages of every change are committed with it.
void TABSMemoryTableData::CommitHook(TABSSessionInfo& session, bool inTransaction) {
  (void)inTransaction;
  pages_->CommitSession(session.sessionID, false);
}

void TABSMemoryTableData::RollbackHook(TABSSessionInfo& session, bool inTransaction) {
  (void)session;
  (void)inTransaction;
}

void TABSMemoryTableData::EmptyTable(TABSSessionInfo& session) {
  Guard guard(database_.Lock());
  TABSTableData::EmptyTable(session);
  pages_->CommitSession(session.sessionID, false);
}

int64_t TABSMemoryTableData::GetRecordCount(TABSSessionInfo& session) {
  (void)session;
  return RecordManager().RecordCount();
}

int64_t TABSMemoryTableData::RecordIdToPosition(TABSSessionInfo& session, const TABSRecordID& id) {
  (void)session;
  return id.pageNo;
}

bool TABSMemoryTableData::PositionToRecordId(TABSSessionInfo& session, int64_t position, TABSRecordID& id) {
  (void)session;
  if (!MemoryRecords().IsLive(position)) return false;
  id = {static_cast<int32_t>(position), 0};
  return true;
}

int64_t TABSMemoryTableData::GetPhysicalRecNo(TABSSessionInfo& session, const TABSRecordID& id) {
  (void)session;
  return MemoryRecords().RecNoOfSlot(id.pageNo);
}

bool TABSMemoryTableData::SetPhysicalRecNo(TABSSessionInfo& session, int64_t recNo, TABSRecordID& id) {
  (void)session;
  int32_t slot = 0;
  if (!MemoryRecords().SlotOfRecNo(recNo, slot)) return false;
  id = {slot, 0};
  return true;
}

// ---- the database -------------------------------------------------------------

void TABSMemoryDatabaseData::AttachSession(TABSSessionInfo& session) {
  Guard guard(lock_);
  if (session.sessionID < 0) session.sessionID = nextSessionID_++;
  TABSDatabaseData::AttachSession(session);
}

std::unique_ptr<TABSTableData> TABSMemoryDatabaseData::CreateTableData(const std::string& tableName) {
  return std::make_unique<TABSMemoryTableData>(*this, tableName);
}

TABSMemoryTableData& TABSMemoryDatabaseData::CreateTable(TABSSessionInfo& session, const std::string& name,
                                                         const TABSFieldDefs& fields, const TABSIndexDefs& indexes,
                                                         const TABSConstraintDefs* constraints) {
  Guard guard(lock_);
  if (TABSTableData* old = FindTableData(name)) {
    if (old->CursorCount() > 0)
      throw EABSException(20017, "Cannot delete table '%s'. Table is open by another dataset", {name});
    RemoveTableData(*old);
  }
  auto& table = static_cast<TABSMemoryTableData&>(FindOrCreateTableData(name));
  BuildNewTable(session, table, fields, indexes, constraints);
  return table;
}

TABSMemoryTableData& TABSMemoryDatabaseData::OpenTable(const std::string& name) {
  Guard guard(lock_);
  auto* table = static_cast<TABSMemoryTableData*>(FindTableData(name));
  if (!table || !table->Created()) throw EABSException(10028, "Table not found, table name = %s", {name});
  return *table;
}

void TABSMemoryDatabaseData::DropTable(const std::string& name) {
  Guard guard(lock_);
  TABSMemoryTableData& table = OpenTable(name);
  if (table.CursorCount() > 0)
    throw EABSException(20017, "Cannot delete table '%s'. Table is open by another dataset", {name});
  RemoveTableData(table);
}

std::vector<std::string> TABSMemoryDatabaseData::TableNames() const {
  Guard guard(lock_);
  std::vector<std::string> names;
  for (const auto& t : tables_) names.push_back(t->TableName());
  return names;
}
