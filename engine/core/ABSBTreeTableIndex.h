// ABSBTreeTableIndex: the abstract index of the table data (ZUDIndex.h)
// served by the B+-tree record index over a page manager. The table data
// kinds create it from CreateIndexObject with their page manager: the
// table's for permanent indexes, the session's temporary one otherwise.
//
// Contract
//  1. Records are read through the table's record manager and the index
//     is built from the index manager's walk over the records; the index
//     copy of the definition (root page number, stamp) follows the tree.
//  2. A step through GetRecord starts from the cursor's cached path when
//     the cache names this index, the record and the current change
//     counter; otherwise from the place of the record in `destination`
//     and `recordID`, which need not be in the index any more.
//  3. Key paths are the tree's paths, level by level.
//  4. Operations without a session (RecordIdAtPath) read with the session
//     of the index's last operation.
//
// Thread use: under the table data's database lock.
#pragma once

#include <memory>

#include "core/ABSBTreeRecordIndex.h"
#include "core/ZUDIndex.h"

class TABSBTreeTableIndex : public TABSIndex, private TABSIndexRecordSource {
 public:
  TABSBTreeTableIndex(TABSBaseIndexManager* manager, TABSPageManager* pages);
  ~TABSBTreeTableIndex() override;

  TABSBTreeRecordIndex& Tree() { return *tree_; }

  void Create(int32_t sessionID, const TABSIndexDef& def) override;
  void Drop(int32_t sessionID) override;
  void Empty(int32_t sessionID) override;
  void Open(const TABSIndexDef& def) override;
  void Rebuild(int32_t sessionID) override;
  void GetRecord(int32_t sessionID, TABSGetRecordRequest& request, TABSIndexPositionCache* cache) override;
  bool FindNearest(int32_t sessionID, const TABSIndexBound& key, bool forward, TABSKeyPath& path) override;
  std::unique_ptr<TABSKeyPath> CreateKeyPath() override { return std::make_unique<TABSKeyPath>(); }
  void FreeKeyPath(std::unique_ptr<TABSKeyPath>& path) override { path.reset(); }
  bool FindKeyPath(int32_t sessionID, const char* record, const TABSRecordID& id, TABSKeyPath& path) override;
  int CompareKeyPaths(const TABSKeyPath& a, const TABSKeyPath& b) override;
  int64_t GetRecNo(int32_t sessionID, const char* record, const TABSRecordID& id) override;
  TABSRecordID GetRecordIdAt(int32_t sessionID, int64_t recNo) override;
  void ApplyDistinct(int32_t sessionID, TABSRecordBitmap& bitmap, int32_t columnCount) override;
  std::unique_ptr<TABSIndexScanState> CreateScanState(const TABSIndexBound& start, const TABSIndexBound& end,
                                                      bool forward) override;
  void FreeScanState(std::unique_ptr<TABSIndexScanState>& state) override { state.reset(); }
  bool ScanStep(int32_t sessionID, TABSIndexScanState& state, TABSRecordID& id) override;
  int CompareRecordKeys(const char* a, const char* b, int32_t columnCount) override;
  int BoundSide(TABSSearchCondition condition) override { return TABSBTreeRecordIndex::BoundSide(condition); }
  int64_t EstimateRecordCount(int32_t sessionID, const TABSIndexBound& lower, const TABSIndexBound& upper) override;
  bool IsDuplicateForInsert(int32_t sessionID, const char* record) override;
  bool IsDuplicateForUpdate(int32_t sessionID, const char* oldRecord, const char* newRecord,
                            const TABSRecordID& id) override;
  bool IsDuplicateOfOther(int32_t sessionID, const char* record, const TABSRecordID& id) override;
  void InsertKey(int32_t sessionID, const char* record, const TABSRecordID& id) override;
  void DeleteKey(int32_t sessionID, const char* record, const TABSRecordID& id) override;
  void UpdateKey(int32_t sessionID, const char* oldRecord, const char* newRecord, const TABSRecordID& id,
                 int phase) override;
  int32_t EntriesPerPage() override { return tree_->EntriesPerPage(); }
  TABSRecordID RecordIdAtPath(const TABSKeyPath& path) override;

  static void ToTreePath(const TABSKeyPath& from, TABSBTreePath& to);
  static void FromTreePath(const TABSBTreePath& from, TABSKeyPath& to);

 private:
  bool ReadRecord(int32_t sessionID, const TABSRecordID& id, char* destination) override;
  void ForEachRecord(int32_t sessionID,
                     const std::function<void(const char* record, const TABSRecordID& id)>& visit) override;
  void Follow();  // contract 1: the copy of the definition follows the tree
  bool Bound(int32_t sessionID, const TABSBTreePath& path, const TABSIndexBound& bound);

  std::unique_ptr<TABSBTreeRecordIndex> tree_;
  int32_t lastSession_ = TABSPageManager::kSystemSession;
};
