#include "core/ZUDTableManagers.h"

#include <cstring>
#include <limits>

#include "core/ZUDExcept.h"
#include "core/ZUDTableData.h"
#include "os/OsRandom.h"

using namespace zud::defio;

namespace {
constexpr int32_t kWriteCounterCount = 10145, kWriteCounterValue = 10147;
constexpr int32_t kReadCounterCount = 10146, kReadCounterValue = 10148;

// The values an integer storage type can hold.
void StorageRange(TABSStorageType type, int64_t& low, int64_t& high) {
  switch (type) {
    case bftShortint: low = INT8_MIN, high = INT8_MAX; return;
    case bftSmallint: low = INT16_MIN, high = INT16_MAX; return;
    case bftInteger: low = INT32_MIN, high = INT32_MAX; return;
    case bftByte: low = 0, high = UINT8_MAX; return;
    case bftWord: low = 0, high = UINT16_MAX; return;
    case bftCardinal: low = 0, high = UINT32_MAX; return;
    default: low = INT64_MIN, high = INT64_MAX; return;
  }
}

void WriteInteger(const TABSFieldDefs& fields, char* record, int fieldNo, int64_t value) {
  TABSVariant v(bftLargeint);
  v.SetAsLargeint(value);
  WriteFieldValue(fields, record, fieldNo, v);
}
}  // namespace

// ---- field manager ----------------------------------------------------------

void TABSBaseFieldManager::ResetAutoincCounters() {
  lastValues_.assign(static_cast<size_t>(fieldDefs_.Count()), 0);
  for (int i = 0; i < fieldDefs_.Count(); ++i)
    if (fieldDefs_[i]->IsAutoinc()) lastValues_[static_cast<size_t>(i)] = fieldDefs_[i]->InitialValue();
}

void TABSBaseFieldManager::SaveCountersToStream(TABSStream& stream) const {
  WriteI32(stream, static_cast<int32_t>(lastValues_.size()), kWriteCounterCount);
  for (int64_t v : lastValues_) WriteI64(stream, v, kWriteCounterValue);
}

void TABSBaseFieldManager::LoadCountersFromStream(TABSStream& stream) {
  const int32_t count = ReadCount(stream, kReadCounterCount, 8);
  std::vector<int64_t> values(static_cast<size_t>(fieldDefs_.Count()), 0);
  for (int32_t i = 0; i < count; ++i) {
    const int64_t v = ReadI64(stream, kReadCounterValue);
    if (i < fieldDefs_.Count()) values[static_cast<size_t>(i)] = v;
  }
  lastValues_ = std::move(values);
}

int64_t TABSBaseFieldManager::NextAutoincValue(int fieldNo) {
  const TABSFieldDef& f = *fieldDefs_[fieldNo];
  int64_t low, high;
  StorageRange(f.StorageType(), low, high);
  if (f.MaxValue() != 0 && f.MaxValue() < high) high = f.MaxValue();
  const int64_t increment = f.Increment() == 0 ? 1 : f.Increment();
  const int64_t last = lastValues_.at(static_cast<size_t>(fieldNo));
  int64_t next = 0;
  const bool overflow = __builtin_add_overflow(last, increment, &next);
  if (overflow || next > high || next < low) {
    // A cycled field restarts at its minimum, if the column can hold it.
    int64_t typeLow, typeHigh;
    StorageRange(f.StorageType(), typeLow, typeHigh);
    if (!f.Cycled() || f.MinValue() < typeLow || f.MinValue() > typeHigh)
      throw EABSException(20160, "Autoinc max value exceeded for field '%s'", {f.Name()});
    next = f.MinValue();
  }
  lastValues_[static_cast<size_t>(fieldNo)] = next;
  return next;
}

int64_t TABSBaseFieldManager::NextValueForSession(TABSSessionInfo& session, int fieldNo) {
  const int64_t v = NextAutoincValue(fieldNo);
  session.PutSequenceValue(fieldDefs_[fieldNo]->ObjectID(), fieldDefs_[fieldNo]->Name(), v);
  return v;
}

int64_t TABSBaseFieldManager::LastValueForSession(const TABSSessionInfo& session, int fieldNo) const {
  const TABSFieldDef& f = *fieldDefs_[fieldNo];
  if (const auto* recorded = session.FindSequenceValue(f.ObjectID())) return recorded->value;
  if (session.multiUser)
    throw EABSException(30012, "No SequenceLastValue in session for sequence '%s'. Call GetNextVal first", {f.Name()});
  return f.IsAutoinc() ? lastValues_.at(static_cast<size_t>(fieldNo)) : 0;
}

void TABSBaseFieldManager::AssignAutoincValues(TABSSessionInfo& session, char* record) {
  for (int i = 0; i < fieldDefs_.Count(); ++i) {
    const TABSFieldDef& f = *fieldDefs_[i];
    if (!f.IsAutoinc()) continue;
    if (IsFieldNull(record, i)) {
      WriteInteger(fieldDefs_, record, i, NextValueForSession(session, i));
      continue;
    }
    TABSVariant v;
    ReadFieldValue(fieldDefs_, record, i, v);
    const int64_t given = v.AsLargeint();
    if (given > lastValues_[static_cast<size_t>(i)]) {
      lastValues_[static_cast<size_t>(i)] = given;
      session.PutSequenceValue(f.ObjectID(), f.Name(), given);
    }
  }
}

void TABSBaseFieldManager::ApplyDefaults(char* record) {
  for (int i = 0; i < fieldDefs_.Count(); ++i) {
    const TABSFieldDef& f = *fieldDefs_[i];
    if (f.IsBlob() || f.DefaultValue().IsNull()) continue;
    if (const TABSDefaultExpression* e = f.DefaultExpression()) {
      TABSVariant value;
      e->Evaluate(value);
      WriteFieldValue(fieldDefs_, record, i, value);
    } else {
      WriteFieldValue(fieldDefs_, record, i, f.DefaultValue());
    }
    SetFieldNull(record, i, false);
  }
}

// ---- index manager ----------------------------------------------------------

void TABSBaseIndexManager::AssignDefs(const TABSIndexDefs& defs) {
  indexes_.clear();
  indexDefs_.Assign(defs);
}

TABSIndex& TABSBaseIndexManager::IndexByID(int32_t id) {
  auto it = indexes_.find(id);
  if (it != indexes_.end()) return *it->second;
  const TABSIndexDef* def = indexDefs_.IndexByID(id);
  if (!def) throw EABSException(20018, "Index not found");
  auto index = table_.CreateIndexObject(*this, *def);
  index->Open(*def);
  return *(indexes_[id] = std::move(index));
}

void TABSBaseIndexManager::Stamp(TABSIndexDef& def, TABSIndex& index) {
  if (def.IsTemporary())
    def.changeStamp = table_.RecordManager().ChangeCounter();
  else
    def.changeStamp = NextChangeCount(def.changeStamp);
  def.rootPageNo = index.Definition().rootPageNo;
}

void TABSBaseIndexManager::ForEachRecord(int32_t sessionID,
                                         const std::function<void(const char*, const TABSRecordID&)>& visit) {
  TABSBaseRecordManager& records = table_.RecordManager();
  std::vector<char> record(static_cast<size_t>(table_.FieldDefs().MemoryRecordSize()) + 1);
  TABSGetRecordRequest request;
  request.mode = grmNext;
  request.beforeFirst = true;
  request.destination = record.data();
  for (;;) {
    records.GetRecord(sessionID, request);
    if (request.result != grrFound) return;
    visit(record.data(), request.recordID);
    request.beforeFirst = false;
  }
}

TABSIndexDef& TABSBaseIndexManager::AddIndex(int32_t sessionID, const TABSIndexDef& def) {
  auto owned = std::make_unique<TABSIndexDef>();
  owned->Assign(def);
  owned->SetObjectID(table_.Database().NextObjectID());
  TABSIndexDef* added = owned.get();
  indexDefs_.Add(std::move(owned));
  try {
    auto index = table_.CreateIndexObject(*this, *added);
    TABSIndex& live = *(indexes_[added->ObjectID()] = std::move(index));
    live.Create(sessionID, *added);
    Stamp(*added, live);
  } catch (...) {
    const int32_t id = added->ObjectID();
    if (auto it = indexes_.find(id); it != indexes_.end()) {
      try {
        it->second->Drop(sessionID);
      } catch (const EABSException&) {
        // the build error is the one to report
      }
      indexes_.erase(it);
    }
    indexDefs_.Delete(indexDefs_.IndexOfObjectID(id));
    throw;
  }
  return *added;
}

void TABSBaseIndexManager::DropIndex(int32_t sessionID, int32_t id) {
  const int position = indexDefs_.IndexOfObjectID(id);
  if (position < 0) throw EABSException(10324, "Cannot find index by ID = %d", {id});
  IndexByID(id).Drop(sessionID);
  indexes_.erase(id);
  indexDefs_.Delete(position);
}

namespace {
// Runs `step` over the indexes 0..count-1 and, when one raises, `undo` over
// the ones already done, in reverse, before re-raising.
template <typename Step, typename Undo>
void ForEachIndexUndoable(int count, Step step, Undo undo) {
  int done = 0;
  try {
    for (; done < count; ++done) step(done);
  } catch (...) {
    for (int k = done - 1; k >= 0; --k) undo(k);
    throw;
  }
}
}  // namespace

void TABSBaseIndexManager::InsertKeys(int32_t sessionID, const char* record, const TABSRecordID& id) {
  ForEachIndexUndoable(
      indexDefs_.Count(),
      [&](int i) {
        TABSIndex& index = IndexByID(indexDefs_[i]->ObjectID());
        index.InsertKey(sessionID, record, id);
        Stamp(*indexDefs_[i], index);
      },
      [&](int i) {
        TABSIndex& index = IndexByID(indexDefs_[i]->ObjectID());
        index.DeleteKey(sessionID, record, id);
        Stamp(*indexDefs_[i], index);
      });
}

void TABSBaseIndexManager::DeleteKeys(int32_t sessionID, const char* record, const TABSRecordID& id) {
  ForEachIndexUndoable(
      indexDefs_.Count(),
      [&](int i) {
        TABSIndex& index = IndexByID(indexDefs_[i]->ObjectID());
        index.DeleteKey(sessionID, record, id);
        Stamp(*indexDefs_[i], index);
      },
      [&](int i) {
        TABSIndex& index = IndexByID(indexDefs_[i]->ObjectID());
        index.InsertKey(sessionID, record, id);
        Stamp(*indexDefs_[i], index);
      });
}

void TABSBaseIndexManager::UpdateKeys(int32_t sessionID, const char* oldRecord, const char* newRecord,
                                      const TABSRecordID& id, int phase) {
  // Phase p of old -> new is undone by phase (1 - p) of new -> old: the
  // key taken out is put back, the key put in is taken out.
  ForEachIndexUndoable(
      indexDefs_.Count(),
      [&](int i) {
        TABSIndex& index = IndexByID(indexDefs_[i]->ObjectID());
        index.UpdateKey(sessionID, oldRecord, newRecord, id, phase);
        Stamp(*indexDefs_[i], index);
      },
      [&](int i) {
        TABSIndex& index = IndexByID(indexDefs_[i]->ObjectID());
        index.UpdateKey(sessionID, newRecord, oldRecord, id, 1 - phase);
        Stamp(*indexDefs_[i], index);
      });
}

void TABSBaseIndexManager::ClearKeys(int32_t sessionID) {
  for (int i = 0; i < indexDefs_.Count(); ++i) {
    TABSIndexDef& def = *indexDefs_[i];
    TABSIndex& index = IndexByID(def.ObjectID());
    index.Empty(sessionID);
    Stamp(def, index);
  }
}

void TABSBaseIndexManager::GetRecord(int32_t sessionID, TABSGetRecordRequest& request, TABSIndexPositionCache* cache) {
  IndexByID(request.indexID).GetRecord(sessionID, request, cache);
}

int32_t TABSBaseIndexManager::FindOrCreateIndex(int32_t sessionID, const std::vector<std::string>& names,
                                                const std::vector<std::string>& directions,
                                                const std::vector<std::string>& cases) {
  const int32_t found = indexDefs_.FindIndexForColumns(names, directions, cases, table_.FieldDefs(), sessionID);
  if (found >= 0) return found;
  TABSIndexDef def;
  std::string name;
  do {
    name = "TEMPORARY_INDEX_" + tiv::os::NewGuidText();
  } while (indexDefs_.IndexByName(name));
  def.SetName(name);
  def.FillColumns(names, directions, cases);  // maximum indexed size 20 per column
  def.temporary = kTemporaryIndex;
  def.ownerSessionID = sessionID;
  return AddIndex(sessionID, def).ObjectID();
}

void TABSBaseIndexManager::RebuildTemporaryIndexes(int32_t sessionID) {
  if (rebuilding_) return;
  rebuilding_ = true;
  try {
    const int32_t counter = table_.RecordManager().ChangeCounter();
    for (int i = 0; i < indexDefs_.Count(); ++i) {
      TABSIndexDef& def = *indexDefs_[i];
      if (!def.IsTemporary() || def.ownerSessionID != sessionID || def.changeStamp == counter) continue;
      TABSIndex& index = IndexByID(def.ObjectID());
      index.Rebuild(sessionID);
      Stamp(def, index);
    }
  } catch (...) {
    rebuilding_ = false;
    throw;
  }
  rebuilding_ = false;
}

void TABSBaseIndexManager::MarkTemporaryIndexesStale() {
  // Counters take any value and only step on by one (ZUDRecordManager.h
  // contract 1): the stamp half the cycle away is the one the counter
  // reaches last.
  const int32_t counter = table_.RecordManager().ChangeCounter();
  for (int i = 0; i < indexDefs_.Count(); ++i)
    if (indexDefs_[i]->IsTemporary())
      indexDefs_[i]->changeStamp = static_cast<int32_t>(static_cast<uint32_t>(counter) ^ 0x80000000u);
}

void TABSBaseIndexManager::RestampTemporaryIndexes(int32_t before, int32_t after) {
  for (int i = 0; i < indexDefs_.Count(); ++i)
    if (indexDefs_[i]->IsTemporary() && indexDefs_[i]->changeStamp == before) indexDefs_[i]->changeStamp = after;
}

// ---- constraint manager -----------------------------------------------------

void TABSBaseConstraintManager::ResolveAndName() {
  constraintDefs_.Resolve(table_.FieldDefs(), table_.IndexManager().IndexDefs());
  constraintDefs_.NameConstraints();
}

void TABSBaseConstraintManager::AddIndexConstraint(const TABSIndexDef& index, int32_t newID) {
  auto c = DerivedIndexConstraint(index, table_.FieldDefs());
  if (!c) return;
  c->TableSlot().name = table_.TableName();
  c->SetObjectID(newID);
  constraintDefs_.Add(std::move(c));
}

int TABSBaseConstraintManager::IndexOfIndexConstraint(int32_t indexID) const {
  for (int i = 0; i < constraintDefs_.Count(); ++i) {
    const TABSConstraintDef& c = *constraintDefs_[i];
    if ((c.Kind() == actPrimaryKey || c.Kind() == actUnique) && c.SubjectSlot().id == indexID) return i;
  }
  return -1;
}

void TABSBaseConstraintManager::CheckStoredRecords(int32_t sessionID, int32_t indexID) {
  const int position = IndexOfIndexConstraint(indexID);
  if (position < 0) return;
  const TABSConstraintDef& constraint = *constraintDefs_[position];
  TABSIndex& index = table_.IndexManager().IndexByID(indexID);
  table_.IndexManager().ForEachRecord(sessionID, [&](const char* record, const TABSRecordID& id) {
    if (!index.IsDuplicateOfOther(sessionID, record, id)) return;
    if (constraint.Kind() == actPrimaryKey)
      throw EABSException(30319, "Primary Key constraint '%s' violated. Duplicate found.", {constraint.Name()});
    throw EABSException(30320, "Constraint unique '%s' violated. Duplicate found.", {constraint.Name()});
  });
}

void TABSBaseConstraintManager::DropIndexConstraint(int32_t indexID) {
  const int position = IndexOfIndexConstraint(indexID);
  if (position >= 0) constraintDefs_.Delete(position);
}

bool TABSBaseConstraintManager::CheckRecord(int32_t sessionID, const char* record, const TABSRecordID* updating,
                                            const char* oldRecord, bool raise) {
  for (int i = 0; i < constraintDefs_.Count(); ++i) {
    if (raise) {
      CheckOne(sessionID, *constraintDefs_[i], record, updating, oldRecord);
      continue;
    }
    try {
      CheckOne(sessionID, *constraintDefs_[i], record, updating, oldRecord);
    } catch (const EABSException&) {
      return false;
    }
  }
  return true;
}

bool TABSBaseConstraintManager::CheckOne(int32_t sessionID, const TABSConstraintDef& c, const char* record,
                                         const TABSRecordID* updating, const char* oldRecord) {
  const TABSFieldDefs& fields = table_.FieldDefs();
  switch (c.Kind()) {
    case actPrimaryKey:
    case actUnique: {
      const auto& u = static_cast<const TABSConstraintDefUnique&>(c);
      if (c.Kind() == actPrimaryKey) {
        bool allNull = true;
        std::string names;
        for (const auto& column : u.columns) {
          const int fieldNo = fields.IndexOfObjectID(column.id);
          if (fieldNo < 0) throw EABSException(30329, "Field #%d not found", {column.id});
          allNull = allNull && IsFieldNull(record, fieldNo);
          names += (names.empty() ? "" : ",") + fields[fieldNo]->Name();
        }
        if (allNull)
          throw EABSException(30330, "Constraint '%s' violated. Value in field '%s' cannot be null", {c.Name(), names});
      }
      if (table_.RecordManager().RecordCount() == 0) return true;
      TABSIndex& index = table_.IndexManager().IndexByID(u.SubjectSlot().id);
      const bool duplicate = updating && oldRecord ? index.IsDuplicateForUpdate(sessionID, oldRecord, record, *updating)
                                                   : index.IsDuplicateForInsert(sessionID, record);
      if (!duplicate) return true;
      if (c.Kind() == actPrimaryKey)
        throw EABSException(30319, "Primary Key constraint '%s' violated. Duplicate found.", {c.Name()});
      throw EABSException(30320, "Constraint unique '%s' violated. Duplicate found.", {c.Name()});
    }
    case actNotNull: {
      const int fieldNo = fields.IndexOfObjectID(c.SubjectSlot().id);
      if (fieldNo < 0) throw EABSException(30024, "Field #%d not found", {c.SubjectSlot().id});
      if (IsFieldNull(record, fieldNo))
        throw EABSException(30026, "Constraint '%s' violated. Value in field '%s' cannot be null",
                            {c.Name(), fields[fieldNo]->Name()});
      return true;
    }
    case actCheck: {
      const auto& check = static_cast<const TABSConstraintDefCheck&>(c);
      const int fieldNo = fields.IndexOfObjectID(c.SubjectSlot().id);
      if (fieldNo < 0) throw EABSException(30028, "Field #%d not found", {c.SubjectSlot().id});
      if (IsFieldNull(record, fieldNo)) return true;
      TABSVariant value;
      ReadFieldValue(fields, record, fieldNo, value);
      if (!check.minValue.IsNull() && check.minValue.Compare(value) == kCmpGreater)
        throw EABSException(30029, "Constraint '%s' violated. Value in field '%s' cannot be lower than '%s'",
                            {c.Name(), fields[fieldNo]->Name(), check.minValue.AsString()});
      if (!check.maxValue.IsNull() && check.maxValue.Compare(value) == kCmpLower)
        throw EABSException(30030, "Constraint '%s' violated. Value in field '%s' cannot be greater than '%s'",
                            {c.Name(), fields[fieldNo]->Name(), check.maxValue.AsString()});
      return true;
    }
    default: throw EABSException(30036, "Not implemented yet");
  }
}
