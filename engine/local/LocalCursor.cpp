// The cursor's tables, index and navigation (LocalCursor.h contracts 1, 2
// and 7).
#include "local/LocalCursor.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/ZUDExcept.h"
#include "core/ZUDMetaObjectDef.h"

TABSLocalCursor::TABSLocalCursor(TABSLocalSession& session) : session_(session) {}

TABSLocalCursor::~TABSLocalCursor() { CloseTable(); }

TABSTableData& TABSLocalCursor::Table() {
  if (!table_) throw EABSException(20221, "Pointer is nil");
  return *table_;
}

bool TABSLocalCursor::MultiUserDisk() const { return DiskTable() && session_.multiUser; }

// ---- tables -------------------------------------------------------------------

void TABSLocalCursor::CreateTable(const TABSFieldDefs& fields, const TABSIndexDefs& indexes,
                                  const TABSConstraintDefs* constraints) {
  if (TABSMemoryDatabaseData* memory = session_.MemoryData()) {
    memory->CreateTable(session_, tableName, fields, indexes, constraints);
    return;
  }
  TABSDiskDatabaseData* disk = session_.DiskData();
  if (!disk) throw EABSException(20151, "Pointer is nil");
  disk->CreateTable(session_, tableName, fields, indexes, constraints);
}

void TABSLocalCursor::DeleteTable() {
  if (TABSMemoryDatabaseData* memory = session_.MemoryData()) {
    if (!session_.TableExists(tableName)) throw EABSException(20132, "Table '%s' not found", {tableName});
    TABSMemoryTableData& table = memory->OpenTable(tableName);
    std::vector<int32_t> fieldIDs;
    for (int i = 0; i < table.FieldDefs().Count(); ++i) fieldIDs.push_back(table.FieldDefs()[i]->ObjectID());
    memory->DropTable(tableName);
    for (int32_t id : fieldIDs) session_.RemoveNamedValue(id);
    return;
  }
  TABSDiskDatabaseData* disk = session_.DiskData();
  if (!disk) throw EABSException(20151, "Pointer is nil");
  if (!session_.TableExists(tableName)) {
    throw EABSException(20132, "Table '%s' not found", {tableName});
  }
  // The fields' autoincrement entries of this session go with the table.
  TABSDiskTableData& table = disk->OpenTable(session_, tableName);
  std::vector<int32_t> fieldIDs;
  for (int i = 0; i < table.FieldDefs().Count(); ++i) fieldIDs.push_back(table.FieldDefs()[i]->ObjectID());
  disk->DropTable(session_, tableName);
  for (int32_t id : fieldIDs) session_.RemoveNamedValue(id);
}

void TABSLocalCursor::EmptyTable() {
  if (!session_.TableExists(tableName)) throw EABSException(20133, "Table '%s' not found", {tableName});
  if (TABSMemoryDatabaseData* memory = session_.MemoryData()) {
    memory->OpenTable(tableName).EmptyTable(session_);
    if (table_) SetToBegin();
    return;
  }
  TABSDiskDatabaseData* disk = session_.DiskData();
  if (!disk) throw EABSException(20151, "Pointer is nil");
  if (table_) {
    // The cursor's own table: its cursors are this process's, so the
    // table data empties it through the open object.
    table_->EmptyTable(session_);
    SetToBegin();
    return;
  }
  disk->EmptyTable(session_, tableName);
}

void TABSLocalCursor::RenameTable(const std::string& newName) {
  if (!session_.TableExists(tableName)) throw EABSException(20134, "Table '%s' not found", {tableName});
  if (newName == tableName) throw EABSException(30452, "Cannot rename table '%s' into itself", {tableName});
  if (UpperName(newName) != UpperName(tableName) && session_.TableExists(newName))
    throw EABSException(30451, "Table %s already exists", {newName});
  if (TABSMemoryDatabaseData* memory = session_.MemoryData()) {
    memory->OpenTable(tableName).RenameTable(session_, newName);
    tableName = newName;
    return;
  }
  TABSDiskDatabaseData* disk = session_.DiskData();
  if (!disk) throw EABSException(20151, "Pointer is nil");
  disk->RenameTable(session_, tableName, newName);
  tableName = newName;
}

void TABSLocalCursor::OpenTable() {
  if (table_) return;
  if (TABSMemoryDatabaseData* memory = session_.MemoryData()) {
    TABSMemoryTableData& table = memory->OpenTable(tableName);
    table.AttachCursor(this);
    table_ = &table;
    temporary = dynamic_cast<TABSTemporaryTableData*>(&table) != nullptr;
  } else {
    TABSDiskDatabaseData* disk = session_.DiskData();
    if (!disk) throw EABSException(10028, "Table not found, table name = %s", {tableName});
    TABSDiskTableData& table = disk->OpenTable(session_, tableName);
    table.OpenCursor(session_, this, exclusive);
    table_ = &table;
  }
  try {
    table_->PrepareCursor(*this);
    indexDefs_.Assign(table_->IndexManager().IndexDefs());
    BuildFieldLayout();
    indexID = -1;
    indexName_.clear();
  } catch (...) {
    CloseTable();
    throw;
  }
}

void TABSLocalCursor::CloseTable() noexcept {
  if (!table_) return;
  if (editing_) Cancel();
  FreeBlobStreams();
  filter_.reset();
  filterCallback_ = nullptr;
  queryCondition_.reset();
  querySource_.reset();
  recordFilter = nullptr;
  range = TABSCursorRange{};
  scan = TABSCursorScan{};
  useBitmap = false;
  distinctColumns = 0;
  bitmap.Reset();
  positionCache.Clear();
  try {
    if (TABSDiskTableData* disk = DiskTable())
      disk->CloseCursor(session_, this);
    else
      table_->DetachCursor(this);
  } catch (const std::exception& x) {
    std::fprintf(stderr, "tivoran: closing table '%s': %s\n", tableName.c_str(), x.what());
  }
  table_ = nullptr;
  visible_.clear();
}

void TABSLocalCursor::BuildFieldLayout() {
  visible_.clear();
  const TABSFieldDefs& fields = Table().FieldDefs();
  for (int i = 0; i < fields.Count(); ++i) visible_.push_back({fields[i]->Name(), i});
}

void TABSLocalCursor::RenameField(const std::string& oldName, const std::string& newName) {
  const TABSFieldDefs& fields = Table().FieldDefs();
  if (!fields.FindByName(oldName)) throw EABSException(30345, "Field '%s' not found", {oldName});
  if (UpperName(oldName) != UpperName(newName) && fields.FindByName(newName))
    throw EABSException(30346, "Cannot rename field '%s'. Field '%s' already exists", {oldName, newName});
  Table().RenameField(oldName, newName);
  for (TABSVisibleField& v : visible_)
    if (UpperName(v.name) == UpperName(oldName)) v.name = newName;
  indexDefs_.Assign(Table().IndexManager().IndexDefs());
}

const TABSIndexDefs& TABSLocalCursor::GetIndexDefs() {
  indexDefs_.Assign(Table().IndexManager().IndexDefs());
  return indexDefs_;
}

void TABSLocalCursor::AddIndex(const TABSIndexDef& def) {
  if (Table().IndexManager().IndexDefs().IndexByName(def.Name()))
    throw EABSException(20022, "Cannot create index '%s'. Index already exists", {def.Name()});
  Table().CreateIndex(session_, def);
  GetIndexDefs();
  PlanScan();
}

void TABSLocalCursor::DeleteIndex(const std::string& name) {
  const TABSIndexDef* def = Table().IndexManager().IndexDefs().IndexByName(name);
  if (!def) throw EABSException(20021, "Cannot delete index '%s'. Index not found", {name});
  const int32_t id = def->ObjectID();
  if (id == indexID) SetIndexName("");
  Table().DropIndex(session_, id);
  GetIndexDefs();
  PlanScan();
}

void TABSLocalCursor::DeleteAllIndexes() {
  SetIndexName("");
  for (;;) {
    const TABSIndexDefs& defs = Table().IndexManager().IndexDefs();
    int32_t id = -1;
    for (int i = 0; i < defs.Count() && id < 0; ++i)
      if (!defs[i]->IsTemporary()) id = defs[i]->ObjectID();
    if (id < 0) break;
    Table().DropIndex(session_, id);
  }
  GetIndexDefs();
  PlanScan();
}

int32_t TABSLocalCursor::FindOrCreateIndex(const std::vector<std::string>& names,
                                           const std::vector<std::string>& directions,
                                           const std::vector<std::string>& cases) {
  // Visible names stand for their table fields.
  std::vector<std::string> tableNames;
  for (const std::string& name : names) {
    const int32_t n = FindField(name);
    if (n < 0) throw EABSException(10323, "Cannot find field %s", {name});
    tableNames.push_back(Table().FieldDefs()[visible_[static_cast<size_t>(n)].tableFieldNo]->Name());
  }
  const int32_t id = Table().FindOrCreateIndex(session_, tableNames, directions, cases);
  GetIndexDefs();
  PlanScan();
  return id;
}

bool TABSLocalCursor::IndexServesFields(const std::string& indexName, const std::vector<std::string>& names) {
  const TABSIndexDef* def = Table().IndexManager().IndexDefs().IndexByName(indexName);
  if (!def || def->ColumnCount() < static_cast<int>(names.size())) return false;
  for (size_t i = 0; i < names.size(); ++i) {
    const int32_t n = FindField(names[i]);
    if (n < 0) return false;
    const std::string& field = Table().FieldDefs()[visible_[static_cast<size_t>(n)].tableFieldNo]->Name();
    if (UpperName(def->Column(static_cast<int>(i)).fieldName) != UpperName(field)) return false;
  }
  return true;
}

void TABSLocalCursor::LockDatabase() { session_.DatabaseData().Lock().lock(); }

void TABSLocalCursor::UnlockDatabase() noexcept {
  if (session_.Connected()) session_.DatabaseData().Lock().unlock();
}

bool TABSLocalCursor::LockTable(TABSLockKind kind, int32_t delayMs, int32_t attempts) {
  TABSDiskTableData* disk = DiskTable();
  if (!disk) return true;
  return disk->LockTable(session_, kind, delayMs, attempts);
}

void TABSLocalCursor::UnlockTable(TABSLockKind kind) noexcept {
  if (TABSDiskTableData* disk = DiskTable()) disk->UnlockTable(session_, kind);
}

// ---- the current index and navigation ---------------------------------------

void TABSLocalCursor::SetIndexName(const std::string& name) {
  Table();
  if (name.empty()) {
    indexID = -1;
    indexName_.clear();
  } else {
    const TABSIndexDef* def = Table().IndexManager().IndexDefs().IndexByName(name);
    indexID = def ? def->ObjectID() : -1;
    indexName_ = def ? def->Name() : std::string();
  }
  positionCache.Clear();
  // A range is a range of one index, and distinct counts its columns.
  range = TABSCursorRange{};
  distinctColumns = 0;
  bitmap.Reset();
  PlanScan();
}

TABSGetRecordResult TABSLocalCursor::GetRecord(TABSGetRecordMode mode) {
  return Table().FetchRecord(session_, *this, mode);
}

void TABSLocalCursor::SetToBegin() {
  SetBeforeFirst();
  positionCache.Clear();
}

void TABSLocalCursor::SetToEnd() {
  SetAfterLast();
  positionCache.Clear();
}

int64_t TABSLocalCursor::GetRecordCount() { return Table().GetCursorRecordCount(session_, *this); }

int64_t TABSLocalCursor::GetRecNo() { return Table().GetRecNo(session_, *this); }

void TABSLocalCursor::SetRecNo(int64_t recNo) { Table().SetRecNo(session_, *this, recNo); }

void TABSLocalCursor::RestorePosition(const Position& position) {
  beforeFirst = position.beforeFirst;
  afterLast = position.afterLast;
  recordID = position.recordID;
  positionCache.Clear();
  if (!beforeFirst && !afterLast) Table().PositionOnKey(session_, *this, recordID);
}

int TABSLocalCursor::CompareBookmarks(const char* first, const char* second) {
  if (!first || !second) throw EABSException(20222, "Pointer is nil");
  const TABSRecordID a = TABSRecordID::Read(first), b = TABSRecordID::Read(second);
  const auto byID = [&] { return a.Compare(b); };
  if (indexID < 0 || a == b) return byID();
  std::vector<char> ra, rb;
  const bool hasA = Table().RereadRecord(session_, a, ra), hasB = Table().RereadRecord(session_, b, rb);
  // A bookmark whose record is gone sorts low as the first argument and
  // high as the second.
  if (!hasA) return -1;
  if (!hasB) return 1;
  TABSIndex& index = Table().IndexManager().IndexByID(indexID);
  const TABSIndexDef* def = Table().IndexManager().IndexDefs().IndexByID(indexID);
  const int c = index.CompareRecordKeys(ra.data(), rb.data(), def ? def->ColumnCount() : 0);
  if (c != 0) return c < 0 ? -1 : 1;
  return byID();
}
