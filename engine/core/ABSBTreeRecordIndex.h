// ABSBTreeRecordIndex: the B+-tree index of a table, one leaf entry (key
// of the record, record identifier) per record, over the table's page
// manager (or a session's temporary one).
//
// Contract
//  1. The index owns its copy of the index definition; its root page
//     number is -1 until Create and is kept current by Create, Drop and
//     Rebuild. Every operation that needs the tree raises "Invalid page
//     number" (20119) while there is none.
//  2. InsertKey / DeleteKey add and remove exactly the entry (key of the
//     record, identifier); a missing entry raises 20027. UpdateKey does
//     nothing when the old and new full keys are equal; else phase 1
//     removes the old entry and phase 0 inserts the new one.
//  3. A unique or primary index reports a duplicate only for a record of
//     equal full key: every entry whose stored (maybe truncated) key ties
//     is checked against the full key of its record, and an update skips
//     the record's own entry. Other indexes never report duplicates.
//  4. Record numbers are 1-based in index order; GetRecordIdAt raises
//     20074 on an empty index and 20075 past the last entry, and takes a
//     number below 1 as 1.
//  5. GetRecord answers 0 found, 1 before first, 2 after last, 3 not found
//     (the request codes of the record manager); mode current raises
//     20053.
//  6. Search conditions: 1 equal, 2 lower, 3 greater, 4 lower or equal,
//     5 greater or equal. BoundSide is -1 for 3 and 5, +1 for 2 and 4.
//
// Thread use: under the caller's database lock; no locks of its own.
#pragma once

#include <functional>
#include <memory>

#include "core/ABSBTree.h"
#include "core/ABSBTreeRecordKey.h"

// Where an index finds the records of its table.
class TABSIndexRecordSource {
 public:
  virtual ~TABSIndexRecordSource() = default;
  // Copies the memory record of `id` to `destination`; false when absent.
  virtual bool ReadRecord(int32_t sessionID, const TABSRecordID& id, char* destination) = 0;
  // Visits every record of the table in physical order.
  virtual void ForEachRecord(int32_t sessionID,
                             const std::function<void(const char* record, const TABSRecordID& id)>& visit) = 0;
};

enum TABSBTreeGetMode : uint8_t { kGetCurrent = 0, kGetNext = 1, kGetPrior = 2 };
enum TABSBTreeGetResult : uint8_t { kGetFound = 0, kGetBOF = 1, kGetEOF = 2, kGetNotFound = 3 };

class TABSBTreeRecordIndex {
 public:
  // `fields` must outlive the index.
  TABSBTreeRecordIndex(TABSPageManager* manager, const TABSFieldDefs& fields, TABSIndexRecordSource* records);
  ~TABSBTreeRecordIndex();
  TABSBTreeRecordIndex(const TABSBTreeRecordIndex&) = delete;
  TABSBTreeRecordIndex& operator=(const TABSBTreeRecordIndex&) = delete;

  const TABSIndexDef& Definition() const { return def_; }
  const TABSRecordKeyRef& KeyRef() const { return *keyRef_; }
  TABSBTree& Tree() { return *tree_; }

  void Create(int32_t sessionID, const TABSIndexDef& def);
  void Open(const TABSIndexDef& def);
  void Drop(int32_t sessionID);
  void Empty(int32_t sessionID);
  void Rebuild(int32_t sessionID);

  void InsertKey(int32_t sessionID, const char* record, const TABSRecordID& id);
  void DeleteKey(int32_t sessionID, const char* record, const TABSRecordID& id);
  void UpdateKey(int32_t sessionID, const char* oldRecord, const char* newRecord, const TABSRecordID& id, int phase);
  bool IsDuplicateForInsert(int32_t sessionID, const char* record);
  bool IsDuplicateForUpdate(int32_t sessionID, const char* oldRecord, const char* newRecord, const TABSRecordID& id);
  // Whether another record than `id` holds the stored record's key.
  bool IsDuplicateOfOther(int32_t sessionID, const char* record, const TABSRecordID& id);

  // Steps through the index and reads the record it lands on into
  // `destination` (when given). Contract 5.
  TABSBTreeGetResult GetRecord(int32_t sessionID, TABSBTreeGetMode mode, bool beforeFirst, bool afterLast,
                               TABSBTreePath& path, TABSRecordID& id, char* destination);
  bool First(int32_t sessionID, TABSBTreePath& path) { return RootedTree().First(sessionID, path); }
  bool Last(int32_t sessionID, TABSBTreePath& path) { return RootedTree().Last(sessionID, path); }
  bool Next(int32_t sessionID, TABSBTreePath& path) { return RootedTree().Next(sessionID, path); }
  bool Prior(int32_t sessionID, TABSBTreePath& path) { return RootedTree().Prior(sessionID, path); }
  TABSRecordID RecordIdAtPath(int32_t sessionID, const TABSBTreePath& path);

  // The path of the entry (key of `record`, `id`); false when absent.
  bool FindKeyPath(int32_t sessionID, const char* record, const TABSRecordID& id, TABSBTreePath& path);
  // The first entry satisfying `condition` against the first `columnCount`
  // columns of `record` going forward, or the last one going backward.
  bool FindNearest(int32_t sessionID, const char* record, int32_t columnCount, uint8_t condition, bool forward,
                   TABSBTreePath& path);
  // The entry after (forward) or before the place of (key of `record`,
  // `id`), whether or not that entry is still in the index.
  bool StepFrom(int32_t sessionID, const char* record, const TABSRecordID& id, bool forward, TABSBTreePath& path);
  // Whether the entry at `path` satisfies `condition` against the first
  // `columnCount` columns of `record`.
  bool EntrySatisfies(int32_t sessionID, const TABSBTreePath& path, const char* record, int32_t columnCount,
                      uint8_t condition);
  int CompareKeyPaths(const TABSBTreePath& a, const TABSBTreePath& b) const { return TABSBTree::ComparePaths(a, b); }
  // -1, 0, +1 of the full keys of two records over `columnCount` columns.
  int CompareRecordKeys(const char* a, const char* b, int32_t columnCount) const;
  static int BoundSide(uint8_t condition);

  // Contract 4; GetRecNo is -1 for a record the index does not hold.
  int64_t GetRecNo(int32_t sessionID, const char* record, const TABSRecordID& id);
  TABSRecordID GetRecordIdAt(int32_t sessionID, int64_t recNo);
  // Records between a lower and an upper bound, estimated from the paths.
  int64_t EstimateRecordCount(int32_t sessionID, const char* lower, int32_t lowerColumns, uint8_t lowerCondition,
                              const char* upper, int32_t upperColumns, uint8_t upperCondition, int64_t recordCount);
  int32_t EntriesPerPage() const;
  int64_t EntryCount(int32_t sessionID) { return RootedTree().EntryCount(sessionID); }
  void CheckIntegrity(int32_t sessionID) { Tree().CheckIntegrity(sessionID); }

 private:
  void BuildKeyRef();
  TABSBTreeSearchKey ExactEntry(const char* record, const TABSRecordID& id, std::vector<uint8_t>& key,
                                uint8_t (&value)[kRecordIDSize]) const;
  // The tree, refused while the definition has no root page (contract 1).
  TABSBTree& RootedTree();
  // Whether an entry of another record than `skip` has the full key of
  // `record` (contract 3).
  bool HasEqualKey(int32_t sessionID, const char* record, const TABSRecordID* skip);
  bool SameFullKey(const char* a, const char* b) const;
  bool Satisfies(int32_t sessionID, const TABSBTreePath& path, const TABSBTreeSearchKey& search, uint8_t condition);
  // A search key for `record` over `columnCount` columns (exact order).
  TABSBTreeSearchKey SearchFor(const char* record, int32_t columnCount, std::vector<uint8_t>& key) const;

  TABSPageManager* manager_;
  const TABSFieldDefs& fields_;
  TABSIndexRecordSource* records_;
  TABSIndexDef def_;
  std::unique_ptr<TABSRecordKeyRef> keyRef_;
  std::unique_ptr<TABSBTree> tree_;
};
