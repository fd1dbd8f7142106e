#include "core/ZUDTableData.h"

#include <algorithm>
#include <cstdio>

#include "core/ZUDExcept.h"

using Guard = std::lock_guard<std::recursive_mutex>;

// ---- identifiers ------------------------------------------------------------

int32_t TABSObjectIDGenerator::Next() {
  // Identifiers are never reused (contract 4): running out is an error,
  // never a wrap to identifiers already handed out.
  if (last_ == INT32_MAX) throw EABSException(10126, "Invalid record count = %d. Limit is %d", {last_, INT32_MAX});
  return ++last_;
}

// ---- database data ----------------------------------------------------------

TABSDatabaseData::~TABSDatabaseData() = default;

void TABSDatabaseData::AttachSession(TABSSessionInfo& session) {
  Guard guard(lock_);
  session.counter = 0;
  if (std::find(sessions_.begin(), sessions_.end(), &session) == sessions_.end()) sessions_.push_back(&session);
}

void TABSDatabaseData::DetachSession(TABSSessionInfo& session) {
  Guard guard(lock_);
  sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), &session), sessions_.end());
}

bool TABSDatabaseData::UnusedNow() const {
  Guard guard(lock_);
  return sessions_.empty();
}

std::vector<std::string> TABSDatabaseData::OpenTableNames() const {
  Guard guard(lock_);
  std::vector<std::string> names;
  for (const auto& t : tables_) names.push_back(t->TableName());
  return names;
}

TABSTableData* TABSDatabaseData::FindTableData(const std::string& tableName) const {
  Guard guard(lock_);
  for (const auto& t : tables_)
    if (SameName(t->TableName(), tableName)) return t.get();
  return nullptr;
}

TABSTableData& TABSDatabaseData::FindOrCreateTableData(const std::string& tableName) {
  Guard guard(lock_);
  if (TABSTableData* found = FindTableData(tableName)) return *found;
  tables_.push_back(CreateTableData(tableName));
  return *tables_.back();
}

void TABSDatabaseData::RemoveTableData(TABSTableData& table) {
  Guard guard(lock_);
  tables_.erase(std::remove_if(tables_.begin(), tables_.end(), [&](const auto& t) { return t.get() == &table; }),
                tables_.end());
}

void TABSDatabaseData::BuildNewTable(TABSSessionInfo& session, TABSTableData& table, const TABSFieldDefs& fields,
                                     const TABSIndexDefs& indexes, const TABSConstraintDefs* constraints) {
  Guard guard(lock_);
  try {
    table.SetFieldDefs(fields);
    table.SetIndexDefs(indexes);
    if (constraints) table.SetConstraintDefs(*constraints);
    table.CreateTable(session);
  } catch (...) {
    RemoveTableData(table);
    throw;
  }
}

void TABSDatabaseData::CommitHook(TABSSessionInfo& session, bool flush) {
  Guard guard(lock_);
  if (TABSBasePageManager* pages = DatabasePageManager()) pages->CommitSession(session.sessionID, flush);
}

void TABSDatabaseData::RollbackHook(TABSSessionInfo& session) {
  Guard guard(lock_);
  if (TABSBasePageManager* pages = DatabasePageManager()) pages->RollbackSession(session.sessionID);
  for (const auto& t : tables_) t->RollbackHook(session, session.inTransaction);
}

// ---- table data -------------------------------------------------------------

TABSTableData::TABSTableData(TABSDatabaseData& database, std::string tableName)
    : database_(database),
      tableName_(std::move(tableName)),
      fieldManager_(std::make_unique<TABSBaseFieldManager>(*this)),
      indexManager_(std::make_unique<TABSBaseIndexManager>(*this)),
      constraintManager_(std::make_unique<TABSBaseConstraintManager>(*this)) {}

TABSTableData::~TABSTableData() {
  // Index objects refer to the index manager: free them first.
  indexManager_.reset();
}

TABSBaseRecordManager& TABSTableData::RecordManager() {
  Guard guard(database_.Lock());
  if (!recordManager_) recordManager_ = CreateRecordManager();
  if (!recordManager_) throw EABSException(10380, "Nil pointer occured");
  return *recordManager_;
}

void TABSTableData::SetFieldDefs(const TABSFieldDefs& defs) {
  Guard guard(database_.Lock());
  if (defs.Count() == 0) throw EABSException(10025, "Error creating table - no fields were specified");
  TABSFieldDefs& own = fieldManager_->FieldDefs();
  own.Assign(defs);
  for (int i = 0; i < own.Count(); ++i) own[i]->SetObjectID(database_.NextObjectID());
  own.CalculateOffsets();
  fieldManager_->ResetAutoincCounters();
}

void TABSTableData::SetIndexDefs(const TABSIndexDefs& defs) {
  Guard guard(database_.Lock());
  indexManager_->AssignDefs(defs);
  TABSIndexDefs& own = indexManager_->IndexDefs();
  for (int i = 0; i < own.Count(); ++i) own[i]->SetObjectID(database_.NextObjectID());
}

void TABSTableData::SetConstraintDefs(const TABSConstraintDefs& defs) {
  Guard guard(database_.Lock());
  for (int i = 0; i < defs.Count(); ++i) {
    const auto kind = static_cast<const TABSConstraintDef*>(defs.Get(i))->Kind();
    if (kind != actPrimaryKey && kind != actUnique && kind != actNotNull && kind != actCheck)
      throw EABSException(30058, "Not implemented yet");
  }
  TABSConstraintDefs& own = constraintManager_->ConstraintDefs();
  own.Assign(defs);
  for (int i = 0; i < own.Count(); ++i) {
    own[i]->TableSlot().name = tableName_;
    if (own[i]->ObjectID() < 0) own[i]->SetObjectID(database_.NextObjectID());
  }
  constraintManager_->ResolveAndName();
}

void TABSTableData::DeleteTable(TABSSessionInfo& session, bool force) {
  Guard guard(database_.Lock());
  (void)session;
  if (!cursors_.empty() && !force)
    throw EABSException(20017, "Cannot delete table '%s'. Table is open by another dataset", {tableName_});
}

void TABSTableData::EmptyTable(TABSSessionInfo& session) {
  Guard guard(database_.Lock());
  // The records' BLOB values are freed only once the records are gone (as
  // for a delete), so their slots are kept aside first.
  std::vector<std::vector<char>> withBlobs;
  if (HasBlobFields()) {
    indexManager_->ForEachRecord(session.sessionID, [&](const char* record, const TABSRecordID&) {
      withBlobs.emplace_back(record, record + FieldDefs().MemoryRecordSize());
    });
  }
  // The records go first: a clear that fails has changed nothing, and the
  // counters never restart while records still hold their values.
  RecordManager().Clear(session.sessionID);
  indexManager_->ClearKeys(session.sessionID);
  fieldManager_->ResetAutoincCounters();
  for (auto& record : withBlobs) FreeRecordBlobs(session, record.data());
}

bool TABSTableData::HasBlobFields() const {
  for (int i = 0; i < FieldDefs().Count(); ++i)
    if (FieldDefs()[i]->IsBlob()) return true;
  return false;
}

void TABSTableData::RenameTable(TABSSessionInfo& session, const std::string& newName) {
  Guard guard(database_.Lock());
  (void)session;
  if (!cursors_.empty())
    throw EABSException(10150, "Cannot rename table '%s'. Table is open by another dataset", {tableName_});
  tableName_ = newName;
}

void TABSTableData::AttachCursor(const void* cursor) {
  Guard guard(database_.Lock());
  cursors_.push_back(cursor);
}

void TABSTableData::DetachCursor(const void* cursor) {
  Guard guard(database_.Lock());
  cursors_.erase(std::remove(cursors_.begin(), cursors_.end(), cursor), cursors_.end());
}

void TABSTableData::RenameField(const std::string& oldName, const std::string& newName) {
  Guard guard(database_.Lock());
  TABSFieldDefs& fields = fieldManager_->FieldDefs();
  TABSFieldDef* field = fields.FieldByName(oldName);
  if (!field) throw EABSException(30343, "Field '%s' not found", {oldName});
  if (fields.FieldByName(newName) && fields.FieldByName(newName) != field)
    throw EABSException(30344, "Cannot rename field '%s'. Field '%s' already exists", {oldName, newName});
  // Contract 11: the constraints that name the field take the new name, so
  // every refusal comes before the first change.
  TABSConstraintDefs& constraints = constraintManager_->ConstraintDefs();
  auto namesField = [&](const TABSConstraintDef& c) {
    return (c.Kind() == actNotNull || c.Kind() == actCheck) && SameName(c.SubjectSlot().name, oldName);
  };
  for (int i = 0; i < constraints.Count(); ++i)
    if (namesField(*constraints[i]) && newName.size() > kMaxByteSlotNameLength)
      throw EABSException(30347, "Restructure table error: '%s'",
                          {"constraint '" + constraints[i]->Name() + "' holds field names of at most " +
                           std::to_string(kMaxByteSlotNameLength) + " bytes"});
  field->SetName(newName);
  TABSIndexDefs& indexes = indexManager_->IndexDefs();
  for (int i = 0; i < indexes.Count(); ++i)
    for (int k = 0; k < indexes[i]->ColumnCount(); ++k)
      if (SameName(indexes[i]->Column(k).fieldName, oldName)) indexes[i]->Column(k).fieldName = newName;
  for (int i = 0; i < constraints.Count(); ++i) {
    TABSConstraintDef& c = *constraints[i];
    if (namesField(c)) c.SubjectSlot().name = newName;
    if (c.Kind() == actPrimaryKey || c.Kind() == actUnique)
      for (auto& column : static_cast<TABSConstraintDefUnique&>(c).columns)
        if (SameName(column.name, oldName)) column.name = newName;
  }
}

int32_t TABSTableData::CreateIndex(TABSSessionInfo& session, const TABSIndexDef& def) {
  Guard guard(database_.Lock());
  TABSIndexDef& added = indexManager_->AddIndex(session.sessionID, def);
  const int32_t id = added.ObjectID();
  if (!added.IsTemporary() && (added.unique || added.primary)) {
    try {
      constraintManager_->AddIndexConstraint(added, database_.NextObjectID());
      // A unique index over records that already repeat a key is refused.
      constraintManager_->CheckStoredRecords(session.sessionID, id);
    } catch (...) {
      constraintManager_->DropIndexConstraint(id);
      indexManager_->DropIndex(session.sessionID, id);
      throw;
    }
  }
  return id;
}

void TABSTableData::DropIndex(TABSSessionInfo& session, int32_t indexID) {
  Guard guard(database_.Lock());
  indexManager_->DropIndex(session.sessionID, indexID);
  constraintManager_->DropIndexConstraint(indexID);
}

int32_t TABSTableData::FindOrCreateIndex(TABSSessionInfo& session, const std::vector<std::string>& names,
                                         const std::vector<std::string>& directions,
                                         const std::vector<std::string>& cases) {
  Guard guard(database_.Lock());
  return indexManager_->FindOrCreateIndex(session.sessionID, names, directions, cases);
}

void TABSTableData::RebuildTemporaryIndexes(TABSSessionInfo& session) {
  Guard guard(database_.Lock());
  ReadScope read(*this, session);
  indexManager_->RebuildTemporaryIndexes(session.sessionID);
}

void TABSTableData::CommitChanges(TABSSessionInfo& session) { PageManager().CommitSession(session.sessionID, false); }

void TABSTableData::RollbackFailedChange(TABSSessionInfo& session) noexcept {
  try {
    PageManager().RollbackSession(session.sessionID);
  } catch (const std::exception& x) {
    // The change's own error is the one raised; this one is told.
    std::fprintf(stderr, "tivoran: table '%s': rollback after a failed change: %s\n", tableName_.c_str(), x.what());
  }
}

// ---- BLOB values ------------------------------------------------------------

TABSBlobManager& TABSTableData::BlobManager() {
  if (!blobManager_) blobManager_ = CreateBlobManager();
  if (!blobManager_) throw EABSException(20058, "Pointer is nil");
  return *blobManager_;
}

const TABSFieldDef& TABSTableData::BlobField(int fieldNo) const {
  if (fieldNo < 0 || fieldNo >= FieldDefs().Count() || !FieldDefs()[fieldNo]->IsBlob())
    throw EABSException(20171, "Cannot find blob field");
  return *FieldDefs()[fieldNo];
}

void TABSTableData::StoreBlobStream(TABSSessionInfo& session, char* record, int fieldNo, TABSStream& content) {
  Guard guard(database_.Lock());
  BlobManager().StoreStream(session.sessionID, BlobField(fieldNo), fieldNo, record, content);
}

void TABSTableData::FreeFieldBlob(TABSSessionInfo& session, char* record, int fieldNo) {
  Guard guard(database_.Lock());
  BlobManager().FreeFieldValue(session.sessionID, BlobField(fieldNo), fieldNo, record);
}

void TABSTableData::FreeRecordBlobs(TABSSessionInfo& session, char* record) {
  Guard guard(database_.Lock());
  for (int i = 0; i < FieldDefs().Count(); ++i)
    if (FieldDefs()[i]->IsBlob()) FreeFieldBlob(session, record, i);
}

std::unique_ptr<TABSStream> TABSTableData::OpenBlobStream(TABSSessionInfo& session, const char* record, int fieldNo) {
  Guard guard(database_.Lock());
  return BlobManager().OpenStream(session.sessionID, BlobField(fieldNo), fieldNo, record);
}

std::string TABSTableData::ReadBlobBuffer(TABSSessionInfo& session, const char* record, int fieldNo) {
  Guard guard(database_.Lock());
  return BlobManager().ReadBuffer(session.sessionID, BlobField(fieldNo), fieldNo, record);
}

void TABSTableData::WriteBlobBuffer(TABSSessionInfo& session, char* record, int fieldNo, const char* data,
                                    int64_t size) {
  Guard guard(database_.Lock());
  BlobManager().WriteBuffer(session.sessionID, BlobField(fieldNo), fieldNo, record, data, size);
}

void TABSTableData::InitRecordForInsert(char* record) {
  Guard guard(database_.Lock());
  InitNewRecord(FieldDefs(), record);
  fieldManager_->ApplyDefaults(record);
}

bool TABSTableData::RereadRecord(TABSSessionInfo& session, const TABSRecordID& id, std::vector<char>& record) {
  Guard guard(database_.Lock());
  ReadScope read(*this, session);
  return ReadRecord(session, id, record);
}

bool TABSTableData::ReadRecord(TABSSessionInfo& session, const TABSRecordID& id, std::vector<char>& record) {
  record.assign(static_cast<size_t>(FieldDefs().MemoryRecordSize()) + 1, '\0');
  TABSGetRecordRequest request;
  request.mode = grmCurrent;
  request.recordID = id;
  request.destination = record.data();
  RecordManager().GetRecord(session.sessionID, request);
  return request.result == grrFound;
}

TABSRecordID TABSTableData::InsertRecord(TABSSessionInfo& session, char* record, bool checkConstraints) {
  Guard guard(database_.Lock());
  const std::vector<int64_t> counters = fieldManager_->SnapshotCounters();
  const auto sessionValues = session.SequenceValues();
  std::vector<char> original(record, record + FieldDefs().MemoryRecordSize());
  auto restore = [&] {
    fieldManager_->RestoreCounters(counters);
    session.RestoreSequenceValues(sessionValues);
    std::copy(original.begin(), original.end(), record);
  };
  TABSRecordID id;
  try {
    try {
      fieldManager_->AssignAutoincValues(session, record);
      if (checkConstraints) constraintManager_->CheckRecord(session.sessionID, record, nullptr, nullptr, true);
      if (!RecordManager().Insert(session.sessionID, record, id)) throw EABSException(10019, "Error retrieving record");
    } catch (...) {
      restore();
      throw;
    }
    try {
      indexManager_->InsertKeys(session.sessionID, record, id);
    } catch (...) {
      RecordManager().Delete(session.sessionID, id);
      restore();
      throw;
    }
    if (!session.inTransaction) CommitChanges(session);
  } catch (...) {
    if (!session.inTransaction) {
      restore();
      RollbackFailedChange(session);
    }
    throw;
  }
  return id;
}

void TABSTableData::UpdateRecord(TABSSessionInfo& session, const TABSRecordID& id, const char* record,
                                 bool checkConstraints) {
  Guard guard(database_.Lock());
  try {
    std::vector<char> old;
    if (!ReadRecord(session, id, old)) throw EABSException(10127, "Error retrieving record");
    if (checkConstraints) constraintManager_->CheckRecord(session.sessionID, record, &id, old.data(), true);
    indexManager_->UpdateKeys(session.sessionID, old.data(), record, id, 1);
    bool overwritten = false;
    try {
      if (!RecordManager().Update(session.sessionID, record, id)) throw EABSException(10127, "Error retrieving record");
      overwritten = true;
      indexManager_->UpdateKeys(session.sessionID, old.data(), record, id, 0);
    } catch (...) {
      if (overwritten) RecordManager().Update(session.sessionID, old.data(), id);
      indexManager_->UpdateKeys(session.sessionID, record, old.data(), id, 0);
      throw;
    }
    if (!session.inTransaction) CommitChanges(session);
  } catch (...) {
    if (!session.inTransaction) RollbackFailedChange(session);
    throw;
  }
}

bool TABSTableData::DeleteRecord(TABSSessionInfo& session, const TABSRecordID& id) {
  Guard guard(database_.Lock());
  try {
    std::vector<char> old;
    if (!ReadRecord(session, id, old)) return false;
    indexManager_->DeleteKeys(session.sessionID, old.data(), id);
    const int32_t before = RecordManager().ChangeCounter();
    try {
      if (!RecordManager().Delete(session.sessionID, id)) throw EABSException(10127, "Error retrieving record");
    } catch (...) {
      indexManager_->InsertKeys(session.sessionID, old.data(), id);
      throw;
    }
    // The temporary indexes lost the key before the counter moved.
    indexManager_->RestampTemporaryIndexes(before, RecordManager().ChangeCounter());
    // Freed only once the record is gone, so a failed delete keeps its BLOBs.
    FreeRecordBlobs(session, old.data());
    if (!session.inTransaction) CommitChanges(session);
  } catch (...) {
    if (!session.inTransaction) RollbackFailedChange(session);
    throw;
  }
  return true;
}

int64_t TABSTableData::GetLastAutoincValue(TABSSessionInfo& session, const std::string& fieldName) {
  Guard guard(database_.Lock());
  const int fieldNo = FieldDefs().IndexOfName(fieldName);
  if (fieldNo < 0) throw EABSException(30027, "Field '%s' not found", {fieldName});
  return fieldManager_->LastValueForSession(session, fieldNo);
}
