// ZUDTableManagers: the field, index and constraint managers a table data
// object owns (the record manager contract is ZUDRecordManager.h, the index
// object's ZUDIndex.h).
//
// Contract
//  1. Index manager: one index object per definition, opened on first
//     use. Key upkeep runs over every index (temporary ones included) in
//     definition order; a failure part-way undoes the earlier indexes'
//     changes and re-raises.
//  2. Change stamps: a permanent index's stamp grows by 1 with every key
//     change; a temporary index's stamp is the record manager's change
//     counter its keys are current with, so it is stale when the two
//     differ, and is then rebuilt before its session reads through it.
//  3. Autoincrement: each autoincrement field (data types 12..19) has a
//     last value, set to the initial value when the structure is set or the
//     table emptied. Next = last + increment (+1 when the increment is 0).
//     A value past the maximum (when non-zero) or outside the range of the
//     column's type restarts at the minimum for a cycled field, else raises
//     20160: a value never wraps into the column. The stored form of the
//     counters is an int32 count followed by one int64 per field.
//  4. Defaults: every non-BLOB field with a non-NULL default receives it
//     on a new record (an expression default is evaluated now, a literal
//     copied) and its null bit is cleared.
//  5. Constraint checks run in definition order and stop at the first
//     violation; the duplicate test of unique and primary-key constraints is
//     skipped on an empty table and, on update, ignores the updated record.
//
// Thread use: every call runs under the database data's lock, which the
// table data object takes.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/ZUDConstraintDefs.h"
#include "core/ZUDFieldDefs.h"
#include "core/ZUDIndex.h"
#include "core/ZUDIndexDefs.h"
#include "core/ZUDRecordLayout.h"
#include "core/ZUDRecordManager.h"

// The session as the table data sees it: its identifier, its modes, and
// the last autoincrement value it drew per field (by object identifier).
class TABSSessionInfo {
 public:
  int32_t sessionID = -1;
  bool multiUser = false;
  bool inTransaction = false;
  int32_t counter = 0;  // reset when the session is attached to a database

  struct SequenceValue {
    std::string name;
    int64_t value = 0;
  };
  void PutSequenceValue(int32_t objectID, const std::string& name, int64_t value) {
    sequenceValues_[objectID] = {name, value};
  }
  const SequenceValue* FindSequenceValue(int32_t objectID) const {
    auto it = sequenceValues_.find(objectID);
    return it == sequenceValues_.end() ? nullptr : &it->second;
  }
  void RemoveSequenceValue(int32_t objectID) { sequenceValues_.erase(objectID); }
  std::map<int32_t, SequenceValue> SequenceValues() const { return sequenceValues_; }
  void RestoreSequenceValues(std::map<int32_t, SequenceValue> values) { sequenceValues_ = std::move(values); }

 private:
  std::map<int32_t, SequenceValue> sequenceValues_;
};

class TABSTableData;

class TABSBaseFieldManager {
 public:
  explicit TABSBaseFieldManager(TABSTableData& table) : table_(table) {}
  virtual ~TABSBaseFieldManager() = default;

  TABSFieldDefs& FieldDefs() { return fieldDefs_; }
  const TABSFieldDefs& FieldDefs() const { return fieldDefs_; }
  // Contract 3: the counters back at the initial values.
  void ResetAutoincCounters();
  int64_t LastValue(int fieldNo) const { return lastValues_.at(static_cast<size_t>(fieldNo)); }
  void SaveCountersToStream(TABSStream& stream) const;
  void LoadCountersFromStream(TABSStream& stream);

  virtual int64_t NextAutoincValue(int fieldNo);
  virtual void ApplyDefaults(char* record);
  virtual void AssignAutoincValues(TABSSessionInfo& session, char* record);
  virtual int64_t NextValueForSession(TABSSessionInfo& session, int fieldNo);
  virtual int64_t LastValueForSession(const TABSSessionInfo& session, int fieldNo) const;

  std::vector<int64_t> SnapshotCounters() const { return lastValues_; }
  void RestoreCounters(std::vector<int64_t> values) { lastValues_ = std::move(values); }

 private:
  TABSTableData& table_;
  TABSFieldDefs fieldDefs_;
  std::vector<int64_t> lastValues_;
};

class TABSBaseIndexManager {
 public:
  explicit TABSBaseIndexManager(TABSTableData& table) : table_(table) {}
  virtual ~TABSBaseIndexManager() = default;

  TABSTableData& Table() { return table_; }
  TABSIndexDefs& IndexDefs() { return indexDefs_; }
  const TABSIndexDefs& IndexDefs() const { return indexDefs_; }
  virtual void LoadFromStream(TABSStream& stream) { indexDefs_.LoadFromStream(stream); }
  virtual void SaveToStream(TABSStream& stream) const { indexDefs_.SaveToStream(stream); }
  virtual void AssignDefs(const TABSIndexDefs& defs);

  // The index object of a definition, opened on first use (20018).
  TABSIndex& IndexByID(int32_t id);
  // Adds a definition with a fresh identifier and builds the index from
  // the table's records; a failing build removes the definition again.
  TABSIndexDef& AddIndex(int32_t sessionID, const TABSIndexDef& def);
  void DropIndex(int32_t sessionID, int32_t id);
  // Calls `visit` with every record of the table in physical order (the
  // buffer holds the memory record); index objects build from it.
  void ForEachRecord(int32_t sessionID, const std::function<void(const char*, const TABSRecordID&)>& visit);

  // Contract 1: key upkeep over every index.
  void InsertKeys(int32_t sessionID, const char* record, const TABSRecordID& id);
  void DeleteKeys(int32_t sessionID, const char* record, const TABSRecordID& id);
  // One phase of an update (1: old keys out, 0: new keys in).
  void UpdateKeys(int32_t sessionID, const char* oldRecord, const char* newRecord, const TABSRecordID& id, int phase);
  void ClearKeys(int32_t sessionID);
  // A record through an index (ZUDIndex.h contract 3).
  void GetRecord(int32_t sessionID, TABSGetRecordRequest& request, TABSIndexPositionCache* cache);

  // The index serving the columns, else a new temporary index over them
  // named "TEMPORARY_INDEX_" + a new GUID, owned by the session and built
  // at once. Returns its identifier.
  int32_t FindOrCreateIndex(int32_t sessionID, const std::vector<std::string>& names,
                            const std::vector<std::string>& directions, const std::vector<std::string>& cases);
  // Contract 2: rebuilds the session's stale temporary indexes. Not
  // re-entered while it runs.
  void RebuildTemporaryIndexes(int32_t sessionID);
  // Every temporary index is rebuilt before its next read (a rollback
  // took back changes their keys followed).
  void MarkTemporaryIndexesStale();
  // After a change that the temporary indexes already followed: stamps
  // that were current at `before` become `after`.
  void RestampTemporaryIndexes(int32_t before, int32_t after);

 private:
  void Stamp(TABSIndexDef& def, TABSIndex& index);

  TABSTableData& table_;
  TABSIndexDefs indexDefs_;
  std::map<int32_t, std::unique_ptr<TABSIndex>> indexes_;
  bool rebuilding_ = false;
};

class TABSBaseConstraintManager {
 public:
  explicit TABSBaseConstraintManager(TABSTableData& table) : table_(table) {}
  virtual ~TABSBaseConstraintManager() = default;

  TABSConstraintDefs& ConstraintDefs() { return constraintDefs_; }
  // Contract 5. On update `updating` names the record and `oldRecord`
  // holds its stored bytes. With `raise` false a violation returns false.
  bool CheckRecord(int32_t sessionID, const char* record, const TABSRecordID* updating, const char* oldRecord,
                   bool raise);
  void ResolveAndName();
  void AddIndexConstraint(const TABSIndexDef& index, int32_t newID);
  // The records already stored, held to the unique or primary key
  // constraint of the index `indexID` (none: nothing to check); raises
  // the constraint's violation for the first record another one repeats.
  void CheckStoredRecords(int32_t sessionID, int32_t indexID);
  void DropIndexConstraint(int32_t indexID);

 private:
  bool CheckOne(int32_t sessionID, const TABSConstraintDef& c, const char* record, const TABSRecordID* updating,
                const char* oldRecord);
  // Position of the unique or primary key constraint an index derives, or -1.
  int IndexOfIndexConstraint(int32_t indexID) const;

  TABSTableData& table_;
  TABSConstraintDefs constraintDefs_;
};
