// ABSBTreePageIndex: B+-trees of page numbers that the disk engine keeps
// beside a table: how many records each record page holds, and how much
// room each BLOB page has. Keys are signed 32-bit page numbers (unique in
// a tree); leaf values are uint16 figures.
//
// Contract
//  1. The root page number is -1 until Create; operations that need the
//     tree raise "Invalid page number" (20121) while there is none.
//  2. Insert of a key already present raises 20078; Update and Delete of
//     a missing key raise 20250.
//  3. Record page index: the record number of (page, row) is the sum of
//     the counts of all earlier pages plus the row; GoToRecNo inverts it
//     and raises 20113 when the counts do not reach the number; Verify
//     raises 20292 when the counts do not add up to the stored count.
//  4. BLOB page index: a page has room for `size` more bytes while its free
//     space plus `size` stays below the data area size - 2.
//
// Thread use: under the caller's database lock.
#pragma once

#include "core/ABSBTree.h"

class TABSBTreePageIndex {
 public:
  explicit TABSBTreePageIndex(TABSPageManager* manager);
  virtual ~TABSBTreePageIndex() = default;
  TABSBTreePageIndex(const TABSBTreePageIndex&) = delete;
  TABSBTreePageIndex& operator=(const TABSBTreePageIndex&) = delete;

  int32_t RootPageNo() const { return tree_.RootPageNo(); }
  void SetRootPageNo(int32_t pageNo) { tree_.SetRootPageNo(pageNo); }
  TABSBTree& Tree() { return tree_; }

  void Create(int32_t sessionID) { tree_.CreateRoot(sessionID); }
  void Drop(int32_t sessionID) { tree_.Drop(sessionID); }
  void Empty(int32_t sessionID) { tree_.Empty(sessionID); }

  bool First(int32_t sessionID, TABSBTreePath& path) { return tree_.First(sessionID, path); }
  bool Last(int32_t sessionID, TABSBTreePath& path) { return tree_.Last(sessionID, path); }
  bool Next(int32_t sessionID, TABSBTreePath& path) { return tree_.Next(sessionID, path); }
  bool Prior(int32_t sessionID, TABSBTreePath& path) { return tree_.Prior(sessionID, path); }
  bool Find(int32_t sessionID, int32_t key, TABSBTreePath& path);
  int32_t KeyAt(int32_t sessionID, const TABSBTreePath& path);
  uint16_t ValueAt(int32_t sessionID, const TABSBTreePath& path);

  void Insert(int32_t sessionID, int32_t key, uint16_t value);
  void Update(int32_t sessionID, int32_t key, uint16_t value);
  void Delete(int32_t sessionID, int32_t key);

 protected:
  TABSPageManager* manager_;
  TABSPageKeyRef keyRef_;
  TABSBTree tree_;
};

class TABSBTreeRecordPageIndex : public TABSBTreePageIndex {
 public:
  using TABSBTreePageIndex::TABSBTreePageIndex;
  static bool HasRoom(uint16_t count, int32_t maxRecordsPerPage) { return count < maxRecordsPerPage; }
  int64_t RecNoOf(int32_t sessionID, int32_t pageNo, int32_t row);
  void GoToRecNo(int32_t sessionID, int64_t recNo, int32_t& pageNo, int32_t& row);
  int64_t RecordCount(int32_t sessionID);
  void Verify(int32_t sessionID, int64_t storedRecordCount);
};

class TABSBTreeBlobPageIndex : public TABSBTreePageIndex {
 public:
  using TABSBTreePageIndex::TABSBTreePageIndex;
  bool HasRoom(int32_t freeSpace, int32_t size) const { return freeSpace + size < manager_->PageDataSize() - 2; }
  // The free space recorded for a page, -1 when the page is not indexed.
  int32_t FreeSpaceOf(int32_t sessionID, int32_t pageNo);
};
