// ZUDIndex: the abstract index of a table (the B-tree record index derives
// from it) and the small objects its operations exchange: key paths, the
// position cache of a cursor, key bounds and range-scan states.
//
// An index keeps one entry per record of its table, ordered by key (the
// index columns in index order, each ascending or descending, NULL lowest)
// and then by record identifier. A key is always taken from a memory record
// (ZUDRecordLayout.h): a bound names the record that holds the key values
// and how many leading index columns count.
//
// Contract
//  1. Create and Open take a private copy of the index definition; Create
//     also builds the index from every record of the table. The copy's root
//     page number is what the index manager writes back to the table's
//     definition after every change.
//  2. InsertKey / DeleteKey add and remove exactly the entry (key of
//     `record`, `id`); DeleteKey of a missing entry raises. UpdateKey works
//     in two phases: phase 1 removes the old key, phase 0 inserts the new
//     one; both do nothing when the old and new full keys are equal.
//  3. GetRecord steps next or prior (from the start when the request says
//     before-first, from the end when it says after-last) and reads the
//     record it lands on through the record manager; mode current raises
//     20053. On entry `destination` holds the record the step starts from:
//     when its entry has gone meanwhile, its key and identifier still place
//     the step among the remaining entries. After a step that found a record the position cache, when
//     given, holds the index, record identifier, change counter and path.
//  4. A unique or primary index reports a duplicate for an insert when an
//     entry with an equal key exists; for an update only when the full keys
//     of the old and new record differ and an entry of another record has
//     the new key. Other indexes never report duplicates.
//  5. Record numbers through an index are 1-based in index order.
//     GetRecordIdAt raises 20074 on an empty index and 20075 past the last
//     entry.
//  6. BoundSide: -1 for the lower-bound conditions (3 greater, 5 greater or
//     equal), +1 for the upper-bound ones (2 lower, 4 lower or equal), 0
//     otherwise.
//
// Thread use: every operation runs under the database data's lock taken by
// the table data; index objects take no locks of their own.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/ZUDBitsArray.h"
#include "core/ZUDIndexDefs.h"
#include "core/ZUDRecordManager.h"

class TABSBaseIndexManager;

// Search condition types of ranges, key searches and scans.
enum TABSSearchCondition : uint8_t {
  scNone = 0,
  scEqual = 1,
  scLower = 2,
  scGreater = 3,
  scLowerOrEqual = 4,
  scGreaterOrEqual = 5,
};

constexpr int kMaxKeyPathLevels = 32;

struct TABSKeyPathLevel {
  int32_t pageNo = -1;
  int32_t entryIndex = 0;
  int32_t entryCount = 0;
};

// One leaf entry, as the pages visited from the root down.
struct TABSKeyPath {
  std::array<TABSKeyPathLevel, kMaxKeyPathLevels> levels{};
  int32_t levelCount = 0;
  void Clear() { levelCount = 0; }
};

// Where a cursor last stood in an index. Valid only while `stamp` equals
// the record manager's change counter.
struct TABSIndexPositionCache {
  int32_t indexID = -1;
  TABSRecordID recordID;
  int32_t stamp = -1;
  TABSKeyPath path;

  void Clear() {
    indexID = -1;
    stamp = -1;
    path.Clear();
  }
  bool Matches(int32_t index, const TABSRecordID& id, int32_t changeCounter) const {
    return indexID == index && indexID != -1 && recordID == id && stamp == changeCounter;
  }
};

// One end of a key range or the key of a search: the values of the first
// `keyFieldCount` index columns, taken from the memory record `keyRecord`.
// A null `keyRecord` is an open end.
struct TABSIndexBound {
  const char* keyRecord = nullptr;
  int32_t keyFieldCount = 0;
  TABSSearchCondition condition = scNone;
};

// A range scan in progress: its flags, where it stands, and the far bound
// (copied, so the scan does not depend on the caller's buffers).
struct TABSIndexScanState {
  bool forward = true;
  bool started = false;
  bool finished = false;
  TABSKeyPath path;
  std::vector<char> startKey, endKey;
  TABSIndexBound start, end;  // keyRecord points into startKey / endKey
};

class TABSIndex {
 public:
  explicit TABSIndex(TABSBaseIndexManager* manager) : manager_(manager) {}
  virtual ~TABSIndex() = default;
  TABSIndex(const TABSIndex&) = delete;
  TABSIndex& operator=(const TABSIndex&) = delete;

  const TABSIndexDef& Definition() const { return def_; }
  TABSBaseIndexManager* Manager() const { return manager_; }

  // Contract 1.
  virtual void Create(int32_t sessionID, const TABSIndexDef& def) {
    (void)sessionID;
    def_.Assign(def);
  }
  virtual void Drop(int32_t sessionID) = 0;
  virtual void Empty(int32_t sessionID) = 0;
  virtual void Open(const TABSIndexDef& def) { def_.Assign(def); }
  virtual void Rebuild(int32_t sessionID) = 0;
  // Contract 3.
  virtual void GetRecord(int32_t sessionID, TABSGetRecordRequest& request, TABSIndexPositionCache* cache) = 0;
  // The first entry satisfying `key` going forward, or the last one going
  // backward; false when no entry does.
  virtual bool FindNearest(int32_t sessionID, const TABSIndexBound& key, bool forward, TABSKeyPath& path) = 0;
  virtual std::unique_ptr<TABSKeyPath> CreateKeyPath() = 0;
  virtual void FreeKeyPath(std::unique_ptr<TABSKeyPath>& path) = 0;
  // The path of the entry (key of `record`, `id`); false when absent.
  virtual bool FindKeyPath(int32_t sessionID, const char* record, const TABSRecordID& id, TABSKeyPath& path) = 0;
  virtual int CompareKeyPaths(const TABSKeyPath& a, const TABSKeyPath& b) = 0;
  // Contract 5.
  virtual int64_t GetRecNo(int32_t sessionID, const char* record, const TABSRecordID& id) = 0;
  virtual TABSRecordID GetRecordIdAt(int32_t sessionID, int64_t recNo) = 0;
  // Clears the bit of every record whose first `columnCount` key columns
  // equal those of an earlier record whose bit is set.
  virtual void ApplyDistinct(int32_t sessionID, TABSRecordBitmap& bitmap, int32_t columnCount) = 0;
  virtual std::unique_ptr<TABSIndexScanState> CreateScanState(const TABSIndexBound& start, const TABSIndexBound& end,
                                                              bool forward) = 0;
  virtual void FreeScanState(std::unique_ptr<TABSIndexScanState>& state) = 0;
  // The next record of the range; false once the range is exhausted.
  virtual bool ScanStep(int32_t sessionID, TABSIndexScanState& state, TABSRecordID& id) = 0;
  // -1, 0, +1 over the first `columnCount` index columns, in index order.
  virtual int CompareRecordKeys(const char* a, const char* b, int32_t columnCount) = 0;
  // Contract 6.
  virtual int BoundSide(TABSSearchCondition condition) = 0;
  virtual int64_t EstimateRecordCount(int32_t sessionID, const TABSIndexBound& lower, const TABSIndexBound& upper) = 0;
  // Contract 4.
  virtual bool IsDuplicateForInsert(int32_t sessionID, const char* record) = 0;
  virtual bool IsDuplicateForUpdate(int32_t sessionID, const char* oldRecord, const char* newRecord,
                                    const TABSRecordID& id) = 0;
  // A stored record's key held by another record too (a unique index made
  // over records already stored).
  virtual bool IsDuplicateOfOther(int32_t sessionID, const char* record, const TABSRecordID& id) = 0;
  // Contract 2.
  virtual void InsertKey(int32_t sessionID, const char* record, const TABSRecordID& id) = 0;
  virtual void DeleteKey(int32_t sessionID, const char* record, const TABSRecordID& id) = 0;
  virtual void UpdateKey(int32_t sessionID, const char* oldRecord, const char* newRecord, const TABSRecordID& id,
                         int phase) = 0;
  virtual int32_t EntriesPerPage() = 0;
  virtual TABSRecordID RecordIdAtPath(const TABSKeyPath& path) = 0;

 protected:
  TABSBaseIndexManager* manager_;
  TABSIndexDef def_;
};
