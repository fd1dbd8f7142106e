#include "disk/DiskTableData.h"

#include <cstring>
#include <functional>
#include <optional>

#include "core/ABSBTreeTableIndex.h"
#include "core/ZUDExcept.h"
#include "disk/BlobFieldStream.h"
#include "disk/DiskBytes.h"
#include "disk/DiskDatabaseData.h"
#include "disk/DiskFormat.h"
#include "disk/DiskPageManagerFile.h"
#include "disk/LockDirectFileArea.h"
#include "disk/LockManager.h"
#include "disk/LockTablesFile.h"

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;
constexpr int32_t kSystem = TABSPageManager::kSystemSession;

void WriteInt32(TABSStream& stream, int32_t value) {
  uint8_t bytes[4];
  tiv::disk::PutI32(bytes, value);
  stream.Write(bytes, 4);
}

int32_t ReadInt32(TABSStream& stream) {
  uint8_t bytes[4];
  if (stream.Read(bytes, 4) != 4) throw EABSException(20164, "Invalid table header data");
  return tiv::disk::GetI32(bytes);
}

// The whole contents of a transacted internal file.
std::string ReadWhole(TABSInternalDBTransactedAccessFile& file, int32_t sessionID, bool checkCache) {
  return file.ReadContents(sessionID, checkCache);
}

}  // namespace

// ---- BLOB values ------------------------------------------------------------

void TABSDiskTableBlobManager::StoreStream(int32_t sessionID, const TABSFieldDef& field, int fieldNo, char* record,
                                           TABSStream& content) {
  std::string bytes(static_cast<size_t>(content.Size()), '\0');
  content.Seek(0);
  if (!bytes.empty()) content.Read(bytes.data(), static_cast<int64_t>(bytes.size()));
  WriteBuffer(sessionID, field, fieldNo, record, bytes.data(), static_cast<int64_t>(bytes.size()));
}

void TABSDiskTableBlobManager::FreeFieldValue(int32_t sessionID, const TABSFieldDef& field, int fieldNo, char* record) {
  (void)fieldNo;
  char* slot = record + field.MemoryOffset();
  TABSBlobReference ref = TABSBlobReference::Read(slot);
  blobs_.FreeRecordValues(fields_, record);
  if (!ref.IsNone()) blobs_.DeleteValue(sessionID, ref);
  TABSBlobReference{}.Write(slot);
}

std::unique_ptr<TABSStream> TABSDiskTableBlobManager::OpenStream(int32_t sessionID, const TABSFieldDef& field,
                                                                 int fieldNo, const char* record) {
  return std::make_unique<TABSMemoryStream>(ReadBuffer(sessionID, field, fieldNo, record));
}

std::string TABSDiskTableBlobManager::ReadBuffer(int32_t sessionID, const TABSFieldDef& field, int fieldNo,
                                                 const char* record) {
  if (IsFieldNull(record, fieldNo)) return {};
  // The stream caches the value under the record's handle; the handle is
  // cleared again before returning, so the record keeps only its reference.
  char* writable = const_cast<char*>(record);
  std::string bytes;
  try {
    auto stream = blobs_.OpenFieldStream(sessionID, field, fieldNo, writable);
    bytes.assign(static_cast<size_t>(stream->Size()), '\0');
    stream->Seek(0);
    if (!bytes.empty()) stream->Read(bytes.data(), static_cast<int64_t>(bytes.size()));
  } catch (...) {
    blobs_.FreeRecordValues(fields_, writable);
    throw;
  }
  blobs_.FreeRecordValues(fields_, writable);
  return bytes;
}

void TABSDiskTableBlobManager::WriteBuffer(int32_t sessionID, const TABSFieldDef& field, int fieldNo, char* record,
                                           const char* data, int64_t size) {
  try {
    auto stream = blobs_.OpenFieldStream(sessionID, field, fieldNo, record);
    stream->SetSize(0);
    stream->Seek(0);
    if (size > 0) stream->Write(data, size);
    stream->Close();
    stream.reset();
    blobs_.WriteRecordBlobs(sessionID, fields_, record);
  } catch (...) {
    blobs_.FreeRecordValues(fields_, record);
    throw;
  }
  // An empty value reads as NULL through the stream; a value written
  // through the buffer is non-NULL even when empty.
  SetFieldNull(record, fieldNo, false);
}

// ---- commits ----------------------------------------------------------------

void TABSDiskTableData::CommitPages::CommitSession(int32_t sessionID, bool flush) {
  if (table_.loaded_) table_.WriteMostUpdated(sessionID);
  table_.pm_.CommitSession(sessionID, flush);
  table_.ReleasePendingBlobLock(sessionID);
  // The committer's view is what is committed now.
  if (table_.stateSession_ == sessionID) table_.stateGeneration_ = table_.pm_.StateGeneration();
}

void TABSDiskTableData::CommitPages::RollbackSession(int32_t sessionID) {
  table_.pm_.RollbackSession(sessionID);
  table_.ReleasePendingBlobLock(sessionID);
  if (table_.loaded_) table_.ReadMostUpdated(sessionID);
}

// ---- life -------------------------------------------------------------------

TABSDiskTableData::TABSDiskTableData(TABSDiskDatabaseData& database, std::string tableName)
    : TABSTableData(database, std::move(tableName)),
      db_(database),
      pm_(database.Pages()),
      commitPages_(*this),
      metadata_(pm_, tiv::disk::ptTableMetaData),
      mostUpdated_(pm_, tiv::disk::ptTableMostUpdated),
      locks_(pm_, tiv::disk::ptTableLocks) {}

TABSDiskTableData::~TABSDiskTableData() {
  // Index objects and the record manager read through the BLOB and page
  // structures: free them in reverse order of their making.
  indexManager_.reset();
  blobManager_.reset();
  recordManager_.reset();
  diskBlobs_.reset();
  blobSpace_.reset();
}

void TABSDiskTableData::CheckLoaded() const {
  if (!loaded_) throw EABSException(20135, "Nil pointer occured");
}

TABSDiskRecordManager& TABSDiskTableData::DiskRecords() { return static_cast<TABSDiskRecordManager&>(RecordManager()); }

std::unique_ptr<TABSBaseRecordManager> TABSDiskTableData::CreateRecordManager() {
  if (tableID_ < 0) throw EABSException(20136, "Nil pointer occured");
  auto made = std::make_unique<TABSDiskRecordManager>(pm_, FieldDefs(), tableID_);
  if (pageIndexRoot_ != -1) made->PageIndex().SetRootPageNo(pageIndexRoot_);
  return made;
}

std::unique_ptr<TABSIndex> TABSDiskTableData::CreateIndexObject(TABSBaseIndexManager& manager,
                                                                const TABSIndexDef& def) {
  if (!def.IsTemporary()) return std::make_unique<TABSBTreeTableIndex>(&manager, &pm_);
  // Contract 11: a temporary index's pages stay in this process.
  if (!temporaryIndexPages_)
    temporaryIndexPages_ = std::make_unique<TABSTemporaryPageManager>(TemporaryMemoryShare(), false, pm_.PageSize());
  return std::make_unique<TABSBTreeTableIndex>(&manager, temporaryIndexPages_.get());
}

std::unique_ptr<TABSBlobManager> TABSDiskTableData::CreateBlobManager() {
  if (!diskBlobs_) throw EABSException(20137, "Nil pointer occured");
  return std::make_unique<TABSDiskTableBlobManager>(*diskBlobs_, FieldDefs());
}

// The record, BLOB and index objects over the table's pages; the roots come
// from pageIndexRoot_ and blobIndexRoot_.
void TABSDiskTableData::MakeStorage() {
  blobManager_.reset();
  recordManager_.reset();
  diskBlobs_.reset();
  blobSpace_.reset();
  recordManager_ = CreateRecordManager();
  if (HasBlobFields()) {
    blobSpace_ = std::make_unique<TABSBTreeBlobPageSpace>(pm_);
    if (blobIndexRoot_ != -1) blobSpace_->Index().SetRootPageNo(blobIndexRoot_);
    diskBlobs_ = std::make_unique<TABSDiskBlobManager>(pm_, *blobSpace_);
  }
}

void TABSDiskTableData::OpenLockFile() {
  lockArea_ = std::make_unique<TABSDirectFileLockArea>(locks_);
  lockFile_ = std::make_unique<TABSTableLocksFile>(*lockArea_);
}

void TABSDiskTableData::Unload() {
  lockFile_.reset();
  lockArea_.reset();
  indexManager_ = std::make_unique<TABSBaseIndexManager>(*this);
  temporaryIndexPages_.reset();
  blobManager_.reset();
  recordManager_.reset();
  diskBlobs_.reset();
  blobSpace_.reset();
  metadata_.Close();
  mostUpdated_.Close();
  locks_.Close();
  loaded_ = false;
  stateSession_ = -1;
}

// ---- the table's files ------------------------------------------------------

void TABSDiskTableData::WriteMetadata(int32_t sessionID) {
  TABSMemoryStream stream;
  FieldDefs().SaveToStream(stream);
  indexManager_->SaveToStream(stream);
  constraintManager_->ConstraintDefs().SaveToStream(stream);
  WriteInt32(stream, DiskRecords().PageIndex().RootPageNo());
  WriteInt32(stream, blobSpace_ ? blobSpace_->Index().RootPageNo() : -1);
  const std::string& bytes = stream.Bytes();
  metadata_.WriteFile(sessionID, bytes.data(), kInternalFileMetadataLevel, 1, static_cast<int32_t>(bytes.size()));
}

void TABSDiskTableData::WriteMostUpdated(int32_t sessionID) {
  TABSMemoryStream stream;
  fieldManager_->SaveCountersToStream(stream);
  TABSDiskRecordManager& records = DiskRecords();
  WriteInt32(stream, records.ModificationCounter());
  // The stored count is an int32; InsertRecord refuses the record that
  // would pass it, so a larger count here is never cut into a negative one.
  if (records.RecordCount() > INT32_MAX)
    throw EABSException(10126, "Invalid record count = %d. Limit is %d", {records.RecordCount(), INT32_MAX});
  WriteInt32(stream, static_cast<int32_t>(records.RecordCount()));
  const std::string& bytes = stream.Bytes();
  const int64_t limit = 4 * (8 * static_cast<int64_t>(FieldDefs().Count()) + 8);
  if (static_cast<int64_t>(bytes.size()) > limit) throw EABSException(20164, "Invalid table header data");
  mostUpdated_.WriteFile(sessionID, bytes.data(), 0, 0, static_cast<int32_t>(bytes.size()));
}

void TABSDiskTableData::ReadMostUpdated(int32_t sessionID) {
  CheckLoaded();
  // Nobody's view until the whole state is read: a failure here is reread.
  stateSession_ = -1;
  const std::string bytes = ReadWhole(mostUpdated_, sessionID, true);
  const int64_t limit = 4 * (8 * static_cast<int64_t>(FieldDefs().Count()) + 8);
  if (static_cast<int64_t>(bytes.size()) > limit) throw EABSException(20164, "Invalid table header data");
  TABSMemoryStream stream(bytes);
  try {
    fieldManager_->LoadCountersFromStream(stream);
  } catch (const EABSException&) {
    throw EABSException(20164, "Invalid table header data");
  }
  const int32_t counter = ReadInt32(stream);
  const int32_t count = ReadInt32(stream);
  if (count < 0) throw EABSException(20164, "Invalid table header data");
  // Another process committed a change of the table, or a rollback took
  // this process's back: BLOB pages may have room the cache does not know.
  if (blobSpace_ && counter != DiskRecords().ModificationCounter()) blobSpace_->MayHaveGained();
  DiskRecords().SetState(counter, count);
  stateSession_ = sessionID;
  stateGeneration_ = pm_.StateGeneration();
}

void TABSDiskTableData::Load(TABSSessionInfo& session) {
  Guard guard(database_.Lock());
  if (loaded_) {
    ReadMostUpdated(session.sessionID);
    return;
  }
  TABSTableListEntry entry;
  {
    TABSDatabaseTablesLock tablesLock(pm_);
    entry = db_.Disk().TableList().FindTable(session.sessionID, tableName_);
  }
  try {
    tableID_ = entry.TableID;
    metadata_.Open(entry.MetadataPageNo);
    mostUpdated_.Open(entry.MostUpdatedPageNo);
    locks_.Open(entry.LocksPageNo);
    OpenLockFile();
    const std::string bytes = ReadWhole(metadata_, session.sessionID, true);
    TABSMemoryStream stream(bytes);
    TABSFieldDefs fields;
    TABSIndexDefs indexes;
    TABSConstraintDefs constraints;
    try {
      fields.LoadFromStream(stream);
      indexes.LoadFromStream(stream);
      constraints.LoadFromStream(stream);
    } catch (const EABSException&) {
      throw EABSException(20164, "Invalid table header data");
    }
    pageIndexRoot_ = ReadInt32(stream);
    blobIndexRoot_ = ReadInt32(stream);
    if (stream.Position() != stream.Size() || fields.Count() == 0)
      throw EABSException(20164, "Invalid table header data");
    fieldManager_->FieldDefs().Assign(fields);
    fieldManager_->FieldDefs().CalculateOffsets();
    indexManager_->AssignDefs(indexes);
    constraintManager_->ConstraintDefs().Assign(constraints);
    constraintManager_->ResolveAndName();
    MakeStorage();
    loaded_ = true;
    ReadMostUpdated(session.sessionID);
  } catch (...) {
    Unload();
    throw;
  }
}

// ---- create, drop, rename, empty --------------------------------------------

void TABSDiskTableData::CreateTable(TABSSessionInfo& session) {
  Guard guard(database_.Lock());
  CheckWritable();
  if (session.inTransaction)
    throw EABSException(20182, "Cannot perform '%s' operation on a database in transaction", {"CreateTable"});
  CheckNewTableName(database_.DatabaseName(), tableName_);
  if (FieldDefs().Count() == 0) throw EABSException(20142, "Error creating table - no fields were specified");
  if (loaded_) throw EABSException(30395, "Cannot create table. Table '%s' already exists", {tableName_});
  TABSDatabaseTablesLock tablesLock(pm_);
  if (db_.Disk().TableList().TableExists(kSystem, tableName_))
    throw EABSException(30395, "Cannot create table. Table '%s' already exists", {tableName_});
  try {
    tableID_ = pm_.GetNextObjectID();
    pageIndexRoot_ = -1;
    blobIndexRoot_ = -1;
    MakeStorage();  // 20174 here for a record that fits no page
    locks_.Create(db_.MaxConnections() * TABSTableLocksFile::kBytesPerSlot);
    OpenLockFile();
    metadata_.Create(kSystem);
    mostUpdated_.Create(kSystem);
    DiskRecords().PageIndex().Create(kSystem);
    if (blobSpace_) blobSpace_->Index().Create(kSystem);
    loaded_ = true;
    TABSIndexDefs& defs = indexManager_->IndexDefs();
    for (int i = 0; i < defs.Count(); ++i) {
      TABSIndexDef& def = *defs[i];
      TABSIndex& index = indexManager_->IndexByID(def.ObjectID());
      index.Create(kSystem, def);
      def.rootPageNo = index.Definition().rootPageNo;
      // A unique or primary index is enforced through its derived
      // constraint, as for an index added later.
      if (def.unique || def.primary) {
        TABSConstraintDefs& constraints = constraintManager_->ConstraintDefs();
        bool present = false;
        for (int k = 0; k < constraints.Count(); ++k)
          present = present || ((constraints[k]->Kind() == actPrimaryKey || constraints[k]->Kind() == actUnique) &&
                                constraints[k]->SubjectSlot().id == def.ObjectID());
        if (!present) constraintManager_->AddIndexConstraint(def, db_.NextObjectID());
      }
    }
    WriteMetadata(kSystem);
    WriteMostUpdated(kSystem);
    TABSTableListEntry entry;
    entry.TableName = tableName_;
    entry.TableID = tableID_;
    entry.MetadataPageNo = metadata_.StartPageNo();
    entry.MostUpdatedPageNo = mostUpdated_.StartPageNo();
    entry.LocksPageNo = locks_.StartPageNo();
    db_.Disk().TableList().AddTable(kSystem, entry);
    pm_.CommitSession(kSystem, true);
  } catch (...) {
    // The direct locks file is written outside the session: give its pages
    // back before the rollback forgets the rest.
    try {
      if (locks_.IsOpen()) locks_.Delete();
    } catch (const EABSException&) {
      // the creation error is the one to report
    }
    pm_.RollbackSession(kSystem);
    Unload();
    throw;
  }
}

void TABSDiskTableData::EmptyStorage(int32_t sessionID) {
  if (diskBlobs_) {
    TABSDiskRecordManager& records = DiskRecords();
    std::vector<char> record(static_cast<size_t>(FieldDefs().MemoryRecordSize()) + 1);
    TABSGetRecordRequest request;
    request.mode = grmNext;
    request.beforeFirst = true;
    request.destination = record.data();
    for (;;) {
      records.GetRecord(sessionID, request);
      if (request.result != grrFound) break;
      diskBlobs_->DeleteRecordBlobs(sessionID, FieldDefs(), record.data());
      request.beforeFirst = false;
    }
    blobSpace_->Clear(sessionID);
  }
  DiskRecords().Clear(sessionID);
}

void TABSDiskTableData::DeleteTable(TABSSessionInfo& session, bool force) {
  Guard guard(database_.Lock());
  CheckWritable();
  if (session.inTransaction)
    throw EABSException(20175, "Cannot perform '%s' operation on a database in transaction", {"DeleteTable"});
  TABSTableData::DeleteTable(session, force);
  if (!loaded_) Load(session);
  TABSDatabaseTablesLock tablesLock(pm_);
  std::optional<ExclusiveUse> alone;
  alone.emplace(*this, session);
  try {
    EmptyStorage(kSystem);
    TABSIndexDefs& defs = indexManager_->IndexDefs();
    for (int i = 0; i < defs.Count(); ++i) indexManager_->IndexByID(defs[i]->ObjectID()).Drop(kSystem);
    DiskRecords().PageIndex().Drop(kSystem);
    if (blobSpace_) blobSpace_->Index().Drop(kSystem);
    metadata_.Delete(kSystem);
    mostUpdated_.Delete(kSystem);
    db_.Disk().TableList().DeleteTable(kSystem, tableName_);
    // The locks file's pages go back in the system session too: a rollback
    // keeps them allocated with the rest of the table.
    alone.reset();
    lockFile_.reset();
    lockArea_.reset();
    locks_.Delete();
    pm_.CommitSession(kSystem, true);
  } catch (...) {
    alone.reset();
    pm_.RollbackSession(kSystem);
    Unload();
    throw;
  }
  Unload();
}

void TABSDiskTableData::EmptyTable(TABSSessionInfo& session) {
  Guard guard(database_.Lock());
  CheckWritable();
  if (!loaded_) Load(session);
  ExclusiveUse alone(*this, session);
  // A change of the table like any other: inside a transaction its
  // transaction-write lock makes the commit lock the table.
  WriteScope write(*this, session, true);
  try {
    EmptyStorage(session.sessionID);
    indexManager_->ClearKeys(session.sessionID);
    fieldManager_->ResetAutoincCounters();
    if (session.inTransaction)
      WriteMostUpdated(session.sessionID);
    else
      commitPages_.CommitSession(session.sessionID, false);
  } catch (...) {
    if (!session.inTransaction) commitPages_.RollbackSession(session.sessionID);
    throw;
  }
}

void TABSDiskTableData::RenameTable(TABSSessionInfo& session, const std::string& newName) {
  Guard guard(database_.Lock());
  CheckWritable();
  if (session.inTransaction)
    throw EABSException(20177, "Cannot perform '%s' operation on a database in transaction", {"RenameTable"});
  CheckRenamedTableName(newName);
  const std::string& stored = newName;
  const std::string oldName = tableName_;
  if (!cursors_.empty())
    throw EABSException(10150, "Cannot rename table '%s'. Table is open by another dataset", {tableName_});
  {
    if (!loaded_) Load(session);
    TABSDatabaseTablesLock tablesLock(pm_);
    ExclusiveUse alone(*this, session);
    try {
      db_.Disk().TableList().RenameTable(kSystem, oldName, stored);
      pm_.CommitSession(kSystem, true);
    } catch (...) {
      pm_.RollbackSession(kSystem);
      throw;
    }
  }
  TABSTableData::RenameTable(session, stored);
}

int32_t TABSDiskTableData::CreateIndex(TABSSessionInfo& session, const TABSIndexDef& def) {
  Guard guard(database_.Lock());
  CheckLoaded();
  // A temporary index lives for this process only; nothing else changes.
  if (def.IsTemporary()) return TABSTableData::CreateIndex(session, def);
  CheckWritable();
  if (session.inTransaction)
    throw EABSException(20181, "Cannot perform '%s' operation on a database in transaction", {"CreateIndex"});
  int32_t id = -1;
  CommitDefinitionsChange(session, [&] { id = TABSTableData::CreateIndex(session, def); });
  return id;
}

void TABSDiskTableData::DropIndex(TABSSessionInfo& session, int32_t indexID) {
  Guard guard(database_.Lock());
  CheckLoaded();
  const TABSIndexDef* def = indexManager_->IndexDefs().IndexByID(indexID);
  if (def && def->IsTemporary()) {
    TABSTableData::DropIndex(session, indexID);
    return;
  }
  CheckWritable();
  if (session.inTransaction)
    throw EABSException(20183, "Cannot perform '%s' operation on a database in transaction", {"DropIndex"});
  CommitDefinitionsChange(session, [&] { TABSTableData::DropIndex(session, indexID); });
}

void TABSDiskTableData::CommitDefinitionsChange(TABSSessionInfo& session, const std::function<void()>& change) {
  // Other connections keep the index definitions they read when they
  // opened the table, and would not maintain an index made behind them.
  ExclusiveUse alone(*this, session);
  try {
    change();
    WriteMetadata(session.sessionID);
    commitPages_.CommitSession(session.sessionID, false);
  } catch (...) {
    commitPages_.RollbackSession(session.sessionID);
    throw;
  }
}

// ---- records ----------------------------------------------------------------

TABSRecordID TABSDiskTableData::InsertRecord(TABSSessionInfo& session, char* record, bool checkConstraints) {
  Guard guard(database_.Lock());
  CheckLoaded();
  CheckWritable();
  WriteScope write(*this, session, false);
  // The most-updated file stores RecordCount as an int32 (contract 4).
  if (DiskRecords().RecordCount() >= INT32_MAX)
    throw EABSException(10126, "Invalid record count = %d. Limit is %d", {DiskRecords().RecordCount(), INT32_MAX});
  TABSRecordID id = TABSTableData::InsertRecord(session, record, checkConstraints);
  if (session.inTransaction) WriteMostUpdated(session.sessionID);
  return id;
}

void TABSDiskTableData::UpdateRecord(TABSSessionInfo& session, const TABSRecordID& id, const char* record,
                                     bool checkConstraints) {
  Guard guard(database_.Lock());
  CheckLoaded();
  CheckWritable();
  WriteScope write(*this, session, false);
  TABSTableData::UpdateRecord(session, id, record, checkConstraints);
  if (session.inTransaction) WriteMostUpdated(session.sessionID);
}

bool TABSDiskTableData::DeleteRecord(TABSSessionInfo& session, const TABSRecordID& id) {
  Guard guard(database_.Lock());
  CheckLoaded();
  CheckWritable();
  WriteScope write(*this, session, true);
  try {
    const bool deleted = TABSTableData::DeleteRecord(session, id);
    if (deleted && session.inTransaction) WriteMostUpdated(session.sessionID);
    return deleted;
  } catch (...) {
    // Outside a transaction the delete is the session's only change: one
    // that failed half-way (the record gone, its BLOB refused as damaged)
    // must leave nothing for the next commit of this session to write.
    if (!session.inTransaction) commitPages_.RollbackSession(session.sessionID);
    throw;
  }
}

void TABSDiskTableData::CommitHook(TABSSessionInfo& session, bool inTransaction) {
  (void)inTransaction;
  if (loaded_) WriteMostUpdated(session.sessionID);
}

void TABSDiskTableData::RollbackHook(TABSSessionInfo& session, bool inTransaction) {
  (void)inTransaction;
  ReleasePendingBlobLock(session.sessionID);
  if (!loaded_) return;
  ReadMostUpdated(session.sessionID);
  // The rolled-back changes went into the temporary indexes too, and the
  // change counter read back may equal a stamp they reached meanwhile.
  indexManager_->MarkTemporaryIndexesStale();
}

// ---- BLOB values under the table's locks (contract 10) ----------------------

void TABSDiskTableData::StoreBlobStream(TABSSessionInfo& session, char* record, int fieldNo, TABSStream& content) {
  Guard guard(database_.Lock());
  CheckLoaded();
  CheckWritable();
  BlobChangeScope change(*this, session);
  TABSTableData::StoreBlobStream(session, record, fieldNo, content);
  change.Changed();
}

void TABSDiskTableData::WriteBlobBuffer(TABSSessionInfo& session, char* record, int fieldNo, const char* data,
                                        int64_t size) {
  Guard guard(database_.Lock());
  CheckLoaded();
  CheckWritable();
  BlobChangeScope change(*this, session);
  TABSTableData::WriteBlobBuffer(session, record, fieldNo, data, size);
  change.Changed();
}

void TABSDiskTableData::FreeFieldBlob(TABSSessionInfo& session, char* record, int fieldNo) {
  Guard guard(database_.Lock());
  CheckLoaded();
  const TABSFieldDef& field = BlobField(fieldNo);
  // A slot that refers to no stored value changes no page: no lock.
  if (TABSBlobReference::Read(record + field.MemoryOffset()).IsNone()) {
    TABSTableData::FreeFieldBlob(session, record, fieldNo);
    return;
  }
  CheckWritable();
  BlobChangeScope change(*this, session);
  TABSTableData::FreeFieldBlob(session, record, fieldNo);
  change.Changed();
}

std::unique_ptr<TABSStream> TABSDiskTableData::OpenBlobStream(TABSSessionInfo& session, const char* record,
                                                              int fieldNo) {
  Guard guard(database_.Lock());
  CheckLoaded();
  ReadScope read(*this, session);
  return TABSTableData::OpenBlobStream(session, record, fieldNo);
}

std::string TABSDiskTableData::ReadBlobBuffer(TABSSessionInfo& session, const char* record, int fieldNo) {
  Guard guard(database_.Lock());
  CheckLoaded();
  ReadScope read(*this, session);
  return TABSTableData::ReadBlobBuffer(session, record, fieldNo);
}

int64_t TABSDiskTableData::GetRecordCount(TABSSessionInfo& session) {
  Guard guard(database_.Lock());
  CheckLoaded();
  ReadScope read(*this, session);
  return DiskRecords().RecordCount();
}

int64_t TABSDiskTableData::RecordIdToPosition(TABSSessionInfo& session, const TABSRecordID& id) {
  Guard guard(database_.Lock());
  CheckLoaded();
  ReadScope read(*this, session);
  return DiskRecords().PhysicalRecNo(id);
}

bool TABSDiskTableData::PositionToRecordId(TABSSessionInfo& session, int64_t position, TABSRecordID& id) {
  Guard guard(database_.Lock());
  CheckLoaded();
  ReadScope read(*this, session);
  if (position < 0) return false;
  TABSRecordID candidate = DiskRecords().FromPhysicalRecNo(position);
  TABSGetRecordRequest request;
  request.recordID = candidate;
  DiskRecords().GetRecord(session.sessionID, request);
  if (request.result != grrFound) return false;
  id = candidate;
  return true;
}

int64_t TABSDiskTableData::GetPhysicalRecNo(TABSSessionInfo& session, const TABSRecordID& id) {
  Guard guard(database_.Lock());
  CheckLoaded();
  ReadScope read(*this, session);
  return DiskRecords().OrdinalOf(session.sessionID, id);
}

bool TABSDiskTableData::SetPhysicalRecNo(TABSSessionInfo& session, int64_t recNo, TABSRecordID& id) {
  Guard guard(database_.Lock());
  CheckLoaded();
  ReadScope read(*this, session);
  return DiskRecords().RecordByOrdinal(session.sessionID, recNo, id);
}
