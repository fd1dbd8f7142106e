// ZUDTableManagers: the pieces a table data object owns besides its
// definitions' storage: the record manager contract, the index object
// contract, and the field, index and constraint managers.
//
// Contract
//  1. Record manager: keeps record count, change counter (+1 for every
//     insert, update and delete) and record size current. Insert returns
//     the new record identifier; Update and Delete report false when the
//     record does not exist. Storage kinds (disk, in-memory, temporary)
//     implement it.
//  2. Index object: keeps the keys of one index over the records. The
//     base takes a private copy of the definition on Create and Open; the
//     rest is the B-tree's (or a storage kind's).
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

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ZUDConstraintDefs.h"
#include "ZUDFieldDefs.h"
#include "ZUDIndexDefs.h"
#include "ZUDRecordLayout.h"

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

enum TABSGetRecordMode : uint8_t { grmCurrent = 0, grmNext = 1, grmPrior = 2 };
enum TABSGetRecordResult : uint8_t { grrFound = 0, grrBOF = 1, grrEOF = 2, grrNotFound = 3 };

struct TABSGetRecordRequest {
  TABSGetRecordMode mode = grmCurrent;
  int32_t indexID = -1;  // -1 = physical order
  TABSRecordID recordID;  // in and out
  char* destination = nullptr;
  bool beforeFirst = false;
  bool afterLast = false;
  TABSGetRecordResult result = grrNotFound;
};

class TABSBaseRecordManager {
 public:
  virtual ~TABSBaseRecordManager() = default;
  int64_t RecordCount() const { return recordCount_; }
  int32_t ChangeCounter() const { return changeCounter_; }
  int32_t RecordSize() const { return recordSize_; }

  virtual void Clear(int32_t sessionID) = 0;  // -2 = all sessions
  virtual bool Insert(int32_t sessionID, const char* record, TABSRecordID& newID) = 0;
  virtual bool Update(int32_t sessionID, const char* record, const TABSRecordID& id) = 0;
  virtual bool Delete(int32_t sessionID, const TABSRecordID& id) = 0;
  virtual void GetRecord(int32_t sessionID, TABSGetRecordRequest& request) = 0;
  virtual int CompareRecordIds(const TABSRecordID& a, const TABSRecordID& b) const { return a.Compare(b); }
  virtual int64_t ApproxRecNo(int32_t sessionID, const TABSRecordID& id) = 0;

 protected:
  int64_t recordCount_ = 0;
  int32_t changeCounter_ = 0;
  int32_t recordSize_ = 0;
};

class TABSBaseIndexManager;

class TABSIndex {
 public:
  explicit TABSIndex(TABSBaseIndexManager* manager) : manager_(manager) {}
  virtual ~TABSIndex() = default;
  virtual void Create(const TABSIndexDef& def) { def_.Assign(def); }
  virtual void Open(const TABSIndexDef& def) { def_.Assign(def); }
  const TABSIndexDef& Definition() const { return def_; }

  virtual void InsertKey(int32_t sessionID, const char* record, const TABSRecordID& id) = 0;
  virtual void DeleteKey(int32_t sessionID, const char* record, const TABSRecordID& id) = 0;
  // True when another record (not `except`) has the key of `record`.
  virtual bool KeyExists(int32_t sessionID, const char* record, const TABSRecordID* except) = 0;
  virtual void Clear(int32_t sessionID) = 0;  // drops every key
  virtual void Drop(int32_t sessionID) = 0;   // drops the pages too
  virtual int32_t RootPageNo() const = 0;

 protected:
  TABSBaseIndexManager* manager_;
  TABSIndexDef def_;
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

  TABSIndexDefs& IndexDefs() { return indexDefs_; }
  const TABSIndexDefs& IndexDefs() const { return indexDefs_; }
  virtual void LoadFromStream(TABSStream& stream) { indexDefs_.LoadFromStream(stream); }
  virtual void SaveToStream(TABSStream& stream) const { indexDefs_.SaveToStream(stream); }
  virtual void AssignDefs(const TABSIndexDefs& defs);

  // The index object of a definition, opened on first use (20018).
  TABSIndex& IndexByID(int32_t id);
  // Adds a definition with a fresh identifier and builds it from the
  // table's records; a failing build removes the definition again.
  TABSIndexDef& AddIndex(int32_t sessionID, const TABSIndexDef& def);
  void DropIndex(int32_t sessionID, int32_t id);

  // Key upkeep over every index, in definition order. A failure part-way
  // undoes the earlier indexes' changes and re-raises.
  void InsertKeys(int32_t sessionID, const char* record, const TABSRecordID& id);
  void DeleteKeys(int32_t sessionID, const char* record, const TABSRecordID& id);
  void ClearKeys(int32_t sessionID);

 private:
  void Stamp(TABSIndexDef& def, TABSIndex& index);

  TABSTableData& table_;
  TABSIndexDefs indexDefs_;
  std::map<int32_t, std::unique_ptr<TABSIndex>> indexes_;
};

class TABSBaseConstraintManager {
 public:
  explicit TABSBaseConstraintManager(TABSTableData& table) : table_(table) {}
  virtual ~TABSBaseConstraintManager() = default;

  TABSConstraintDefs& ConstraintDefs() { return constraintDefs_; }
  // Contract 5. With `raise` false a violation returns false instead.
  bool CheckRecord(int32_t sessionID, const char* record, const TABSRecordID* updating, bool raise);
  void ResolveAndName();
  void AddIndexConstraint(const TABSIndexDef& index, int32_t newID);
  void DropIndexConstraint(int32_t indexID);

 private:
  bool CheckOne(int32_t sessionID, const TABSConstraintDef& c, const char* record, const TABSRecordID* updating);

  TABSTableData& table_;
  TABSConstraintDefs constraintDefs_;
};
