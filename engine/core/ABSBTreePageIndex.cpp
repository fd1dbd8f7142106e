// Page indexes of the disk engine over the generic B+-tree.
#include "core/ABSBTreePageIndex.h"

#include "core/ZUDBytes.h"
#include "core/ZUDExcept.h"

TABSBTreePageIndex::TABSBTreePageIndex(TABSPageManager* manager) : manager_(manager), tree_(manager, keyRef_) {}

bool TABSBTreePageIndex::Find(int32_t sessionID, int32_t key, TABSBTreePath& path) {
  if (tree_.RootPageNo() < 0) throw EABSException(20121, "Invalid page number");
  uint8_t k[4];
  zud::PutU32(k, static_cast<uint32_t>(key));
  TABSBTreeSearchKey search;
  search.key = k;
  if (!tree_.SeekFirst(sessionID, search, TABSBTreeBound::kLower, path)) return false;
  return KeyAt(sessionID, path) == key;
}

int32_t TABSBTreePageIndex::KeyAt(int32_t sessionID, const TABSBTreePath& path) {
  std::vector<uint8_t> key;
  tree_.ReadEntry(sessionID, path, &key, nullptr);
  return zud::GetI32(key.data());
}

uint16_t TABSBTreePageIndex::ValueAt(int32_t sessionID, const TABSBTreePath& path) {
  std::vector<uint8_t> value;
  tree_.ReadEntry(sessionID, path, nullptr, &value);
  return zud::GetU16(value.data());
}

void TABSBTreePageIndex::Insert(int32_t sessionID, int32_t key, uint16_t value) {
  TABSBTreePath path;
  if (Find(sessionID, key, path)) throw EABSException(20078, "Index error: invalid params");
  uint8_t k[4], v[2];
  zud::PutU32(k, static_cast<uint32_t>(key));
  zud::PutU16(v, value);
  TABSBTreeSearchKey search;
  search.key = k;
  search.value = v;
  tree_.Insert(sessionID, search);
}

void TABSBTreePageIndex::Update(int32_t sessionID, int32_t key, uint16_t value) {
  TABSBTreePath path;
  if (!Find(sessionID, key, path)) throw EABSException(20250, "Index error: cannot delete entry. Entry not found");
  uint8_t v[2];
  zud::PutU16(v, value);
  tree_.WriteValue(sessionID, path, v);
}

void TABSBTreePageIndex::Delete(int32_t sessionID, int32_t key) {
  TABSBTreePath path;
  if (!Find(sessionID, key, path)) throw EABSException(20250, "Index error: cannot delete entry. Entry not found");
  tree_.DeleteAt(sessionID, path);
}

// ---------------------------------------------------------------------------
// Record page index

// The walks read the counts straight from the leaves, one page at a time.
int64_t TABSBTreeRecordPageIndex::RecNoOf(int32_t sessionID, int32_t pageNo, int32_t row) {
  int64_t before = 0;
  bool found = false;
  tree_.ForEachLeaf(sessionID, [&](const TABSBTreePage& leaf) {
    for (int32_t i = 0; i < leaf.Count(); ++i) {
      if (zud::GetI32(leaf.Key(i)) == pageNo) {
        found = true;
        return false;
      }
      before += zud::GetU16(leaf.Value(i));
    }
    return true;
  });
  if (!found) throw EABSException(20250, "Index error: cannot delete entry. Entry not found");
  return before + row;
}

void TABSBTreeRecordPageIndex::GoToRecNo(int32_t sessionID, int64_t recNo, int32_t& pageNo, int32_t& row) {
  int64_t before = 0;
  bool found = false;
  if (recNo >= 0) {
    tree_.ForEachLeaf(sessionID, [&](const TABSBTreePage& leaf) {
      for (int32_t i = 0; i < leaf.Count(); ++i) {
        const uint16_t count = zud::GetU16(leaf.Value(i));
        if (before + count > recNo) {
          pageNo = zud::GetI32(leaf.Key(i));
          row = static_cast<int32_t>(recNo - before);
          found = true;
          return false;
        }
        before += count;
      }
      return true;
    });
  }
  if (!found) throw EABSException(20113, "Cannot set RecNo greater than RecordCount");
}

int64_t TABSBTreeRecordPageIndex::RecordCount(int32_t sessionID) {
  int64_t total = 0;
  tree_.ForEachLeaf(sessionID, [&](const TABSBTreePage& leaf) {
    for (int32_t i = 0; i < leaf.Count(); ++i) total += zud::GetU16(leaf.Value(i));
    return true;
  });
  return total;
}

void TABSBTreeRecordPageIndex::Verify(int32_t sessionID, int64_t storedRecordCount) {
  const int64_t counted = RecordCount(sessionID);
  if (counted != storedRecordCount)
    throw EABSException(20292,
                        "Invalid table RecordPageIndex or MostUpdated. RecordPageIndex.RecordCount=%d, "
                        "MostUpdated.RecordCount=%d",
                        {static_cast<long long>(counted), static_cast<long long>(storedRecordCount)});
}

// ---------------------------------------------------------------------------
// BLOB page index

int32_t TABSBTreeBlobPageIndex::FreeSpaceOf(int32_t sessionID, int32_t pageNo) {
  TABSBTreePath path;
  return Find(sessionID, pageNo, path) ? ValueAt(sessionID, path) : -1;
}
