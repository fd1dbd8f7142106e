// The record index: keys of records in a B+-tree, duplicate tests, record
// numbers and positioning by key.
#include "core/ABSBTreeRecordIndex.h"

#include <cmath>

#include "core/ZUDExcept.h"
#include "core/ZUDRecordManager.h"

TABSBTreeRecordIndex::TABSBTreeRecordIndex(TABSPageManager* manager, const TABSFieldDefs& fields,
                                           TABSIndexRecordSource* records)
    : manager_(manager), fields_(fields), records_(records) {
  if (!manager_) throw EABSException(20077, "Pointer is nil");
}

TABSBTreeRecordIndex::~TABSBTreeRecordIndex() = default;

void TABSBTreeRecordIndex::BuildKeyRef() {
  tree_.reset();
  TABSIndexRecordSource* records = records_;
  keyRef_ = std::make_unique<TABSRecordKeyRef>(fields_, def_, manager_->PageDataSize(),
                                               [records](int32_t sessionID, const TABSRecordID& id, char* out) {
                                                 return records && records->ReadRecord(sessionID, id, out);
                                               });
  tree_ = std::make_unique<TABSBTree>(manager_, *keyRef_);
  tree_->SetRootPageNo(def_.rootPageNo);
}

TABSBTree& TABSBTreeRecordIndex::RootedTree() {
  if (!tree_ || def_.rootPageNo < 0) throw EABSException(20119, "Invalid page number");
  tree_->SetRootPageNo(def_.rootPageNo);
  return *tree_;
}

void TABSBTreeRecordIndex::Create(int32_t sessionID, const TABSIndexDef& def) {
  def_.Assign(def);
  def_.rootPageNo = -1;
  BuildKeyRef();
  tree_->CreateRoot(sessionID);
  def_.rootPageNo = tree_->RootPageNo();
  if (!records_) return;
  records_->ForEachRecord(sessionID,
                          [&](const char* record, const TABSRecordID& id) { InsertKey(sessionID, record, id); });
}

void TABSBTreeRecordIndex::Open(const TABSIndexDef& def) {
  def_.Assign(def);
  BuildKeyRef();
}

void TABSBTreeRecordIndex::Drop(int32_t sessionID) {
  RootedTree().Drop(sessionID);
  def_.rootPageNo = -1;
}

void TABSBTreeRecordIndex::Empty(int32_t sessionID) { RootedTree().Empty(sessionID); }

void TABSBTreeRecordIndex::Rebuild(int32_t sessionID) {
  Drop(sessionID);
  TABSIndexDef copy;
  copy.Assign(def_);
  Create(sessionID, copy);
}

// ---------------------------------------------------------------------------
// Keys of records

// The exact leaf entry of a record: its key built from the record and its
// identifier as the value. `key` and `value` hold the bytes `search` points at.
TABSBTreeSearchKey TABSBTreeRecordIndex::ExactEntry(const char* record, const TABSRecordID& id,
                                                    std::vector<uint8_t>& key, uint8_t (&value)[kRecordIDSize]) const {
  if (!record) throw EABSException(20044, "Pointer is nil");
  key.assign(static_cast<size_t>(keyRef_->KeySize()), 0);
  keyRef_->BuildKey(record, key.data());
  id.Write(value);
  TABSBTreeSearchKey search;
  search.key = key.data();
  search.value = value;
  search.exact = true;
  search.record = record;
  return search;
}

void TABSBTreeRecordIndex::InsertKey(int32_t sessionID, const char* record, const TABSRecordID& id) {
  std::vector<uint8_t> key;
  uint8_t value[kRecordIDSize];
  const TABSBTreeSearchKey search = ExactEntry(record, id, key, value);
  RootedTree().Insert(sessionID, search);
  def_.changeStamp = NextChangeCount(def_.changeStamp);
}

void TABSBTreeRecordIndex::DeleteKey(int32_t sessionID, const char* record, const TABSRecordID& id) {
  std::vector<uint8_t> key;
  uint8_t value[kRecordIDSize];
  const TABSBTreeSearchKey search = ExactEntry(record, id, key, value);
  RootedTree().Delete(sessionID, search);
  def_.changeStamp = NextChangeCount(def_.changeStamp);
}

bool TABSBTreeRecordIndex::SameFullKey(const char* a, const char* b) const {
  std::vector<uint8_t> ka(static_cast<size_t>(keyRef_->FullKeySize())), kb(ka.size());
  keyRef_->BuildFullKey(a, ka.data());
  keyRef_->BuildFullKey(b, kb.data());
  return keyRef_->CompareFullKeys(ka.data(), kb.data()) == 0;
}

void TABSBTreeRecordIndex::UpdateKey(int32_t sessionID, const char* oldRecord, const char* newRecord,
                                     const TABSRecordID& id, int phase) {
  if (!oldRecord || !newRecord) throw EABSException(20044, "Pointer is nil");
  RootedTree();
  if (SameFullKey(oldRecord, newRecord)) return;
  if (phase == 1)
    DeleteKey(sessionID, oldRecord, id);
  else if (phase == 0)
    InsertKey(sessionID, newRecord, id);
  else
    throw EABSException(20078, "Index error: invalid params");
}

bool TABSBTreeRecordIndex::HasEqualKey(int32_t sessionID, const char* record, const TABSRecordID* skip) {
  TABSBTree& tree = RootedTree();
  std::vector<uint8_t> key(static_cast<size_t>(keyRef_->KeySize()));
  keyRef_->BuildKey(record, key.data());
  TABSBTreeSearchKey search;
  search.key = key.data();
  TABSBTreePath path;
  if (!tree.SeekFirst(sessionID, search, TABSBTreeBound::kLower, path)) return false;
  std::vector<uint8_t> entryKey, entryValue;
  std::vector<char> other(static_cast<size_t>(fields_.MemoryRecordSize()));
  // Every entry whose stored key ties, in order; truncated ties are
  // settled by the full key of the entry's record.
  do {
    tree.ReadEntry(sessionID, path, &entryKey, &entryValue);
    if (keyRef_->CompareKeys(search, entryKey.data()) != 0) return false;
    const TABSRecordID id = TABSRecordID::Read(entryValue.data());
    if (skip && id == *skip) continue;
    if (!keyRef_->HasTruncatedParts()) return true;
    if (!records_ || !records_->ReadRecord(sessionID, id, other.data()))
      throw EABSException(20170, "Cannot retrieve record for index");
    if (SameFullKey(record, other.data())) return true;
  } while (tree.Next(sessionID, path));
  return false;
}

bool TABSBTreeRecordIndex::IsDuplicateForInsert(int32_t sessionID, const char* record) {
  if (!record) throw EABSException(20044, "Pointer is nil");
  if (!def_.unique && !def_.primary) return false;
  return HasEqualKey(sessionID, record, nullptr);
}

bool TABSBTreeRecordIndex::IsDuplicateForUpdate(int32_t sessionID, const char* oldRecord, const char* newRecord,
                                                const TABSRecordID& id) {
  if (!oldRecord || !newRecord) throw EABSException(20044, "Pointer is nil");
  if (!def_.unique && !def_.primary) return false;
  if (SameFullKey(oldRecord, newRecord)) return false;
  return HasEqualKey(sessionID, newRecord, &id);
}

bool TABSBTreeRecordIndex::IsDuplicateOfOther(int32_t sessionID, const char* record, const TABSRecordID& id) {
  if (!record) throw EABSException(20044, "Pointer is nil");
  if (!def_.unique && !def_.primary) return false;
  return HasEqualKey(sessionID, record, &id);
}

// ---------------------------------------------------------------------------
// Positioning

TABSRecordID TABSBTreeRecordIndex::RecordIdAtPath(int32_t sessionID, const TABSBTreePath& path) {
  std::vector<uint8_t> value;
  RootedTree().ReadEntry(sessionID, path, nullptr, &value);
  return TABSRecordID::Read(value.data());
}

TABSBTreeGetResult TABSBTreeRecordIndex::GetRecord(int32_t sessionID, TABSBTreeGetMode mode, bool beforeFirst,
                                                   bool afterLast, TABSBTreePath& path, TABSRecordID& id,
                                                   char* destination) {
  TABSBTree& tree = RootedTree();
  bool found = false;
  switch (mode) {
    case kGetNext:
      found = beforeFirst ? tree.First(sessionID, path) : tree.Next(sessionID, path);
      if (!found) return kGetEOF;
      break;
    case kGetPrior:
      found = afterLast ? tree.Last(sessionID, path) : tree.Prior(sessionID, path);
      if (!found) return kGetBOF;
      break;
    default: throw EABSException(20053, "Invalid 'get record' mode for index: grmCurrent");
  }
  id = RecordIdAtPath(sessionID, path);
  if (destination && (!records_ || !records_->ReadRecord(sessionID, id, destination))) return kGetNotFound;
  return kGetFound;
}

bool TABSBTreeRecordIndex::FindKeyPath(int32_t sessionID, const char* record, const TABSRecordID& id,
                                       TABSBTreePath& path) {
  if (!record) throw EABSException(20044, "Pointer is nil");
  TABSBTree& tree = RootedTree();
  std::vector<uint8_t> key(static_cast<size_t>(keyRef_->KeySize()));
  uint8_t value[kRecordIDSize];
  keyRef_->BuildKey(record, key.data());
  id.Write(value);
  TABSBTreeSearchKey search;
  search.key = key.data();
  search.value = value;
  search.exact = true;
  search.record = record;
  return tree.FindExact(sessionID, search, path);
}

bool TABSBTreeRecordIndex::Satisfies(int32_t sessionID, const TABSBTreePath& path, const TABSBTreeSearchKey& search,
                                     uint8_t condition) {
  std::vector<uint8_t> key, value;
  tree_->ReadEntry(sessionID, path, &key, &value);
  const int c = -tree_->CompareEntry(sessionID, search, key.data(), value.data());  // entry against key
  switch (condition) {
    case 1: return c == 0;
    case 2: return c < 0;
    case 3: return c > 0;
    case 4: return c <= 0;
    case 5: return c >= 0;
    default: return false;
  }
}

TABSBTreeSearchKey TABSBTreeRecordIndex::SearchFor(const char* record, int32_t columnCount,
                                                   std::vector<uint8_t>& key) const {
  key.resize(static_cast<size_t>(keyRef_->KeySize()));
  keyRef_->BuildKey(record, key.data());
  TABSBTreeSearchKey search;
  search.key = key.data();
  search.columnCount = columnCount;
  search.exact = true;
  search.record = record;
  return search;
}

bool TABSBTreeRecordIndex::StepFrom(int32_t sessionID, const char* record, const TABSRecordID& id, bool forward,
                                    TABSBTreePath& path) {
  if (!record) throw EABSException(20044, "Pointer is nil");
  TABSBTree& tree = RootedTree();
  std::vector<uint8_t> key;
  uint8_t value[kRecordIDSize];
  id.Write(value);
  TABSBTreeSearchKey search = SearchFor(record, -1, key);
  search.value = value;
  return forward ? tree.SeekFirst(sessionID, search, TABSBTreeBound::kUpper, path)
                 : tree.SeekLast(sessionID, search, TABSBTreeBound::kLower, path);
}

bool TABSBTreeRecordIndex::EntrySatisfies(int32_t sessionID, const TABSBTreePath& path, const char* record,
                                          int32_t columnCount, uint8_t condition) {
  if (!record) throw EABSException(20044, "Pointer is nil");
  RootedTree();
  std::vector<uint8_t> key;
  return Satisfies(sessionID, path, SearchFor(record, columnCount, key), condition);
}

bool TABSBTreeRecordIndex::FindNearest(int32_t sessionID, const char* record, int32_t columnCount, uint8_t condition,
                                       bool forward, TABSBTreePath& path) {
  if (!record) throw EABSException(20044, "Pointer is nil");
  if (condition < 1 || condition > 5) throw EABSException(20078, "Index error: invalid params");
  TABSBTree& tree = RootedTree();
  std::vector<uint8_t> key(static_cast<size_t>(keyRef_->KeySize()));
  keyRef_->BuildKey(record, key.data());
  TABSBTreeSearchKey search;
  search.key = key.data();
  search.columnCount = columnCount;
  search.exact = true;
  search.record = record;
  bool found = false;
  if (forward) {
    switch (condition) {
      case 1:
      case 5: found = tree.SeekFirst(sessionID, search, TABSBTreeBound::kLower, path); break;
      case 3: found = tree.SeekFirst(sessionID, search, TABSBTreeBound::kUpper, path); break;
      default: found = tree.First(sessionID, path); break;  // upper-bound types start at the first entry
    }
  } else {
    switch (condition) {
      case 1:
      case 4: found = tree.SeekLast(sessionID, search, TABSBTreeBound::kUpper, path); break;
      case 2: found = tree.SeekLast(sessionID, search, TABSBTreeBound::kLower, path); break;
      default: found = tree.Last(sessionID, path); break;  // lower-bound types start at the last entry
    }
  }
  return found && Satisfies(sessionID, path, search, condition);
}

int TABSBTreeRecordIndex::CompareRecordKeys(const char* a, const char* b, int32_t columnCount) const {
  if (!a || !b) throw EABSException(20044, "Pointer is nil");
  if (!keyRef_) throw EABSException(20119, "Invalid page number");
  std::vector<uint8_t> ka(static_cast<size_t>(keyRef_->FullKeySize())), kb(ka.size());
  keyRef_->BuildFullKey(a, ka.data());
  keyRef_->BuildFullKey(b, kb.data());
  return keyRef_->CompareFullKeys(ka.data(), kb.data(), columnCount);
}

int TABSBTreeRecordIndex::BoundSide(uint8_t condition) {
  if (condition == 3 || condition == 5) return -1;
  if (condition == 2 || condition == 4) return 1;
  return 0;
}

// ---------------------------------------------------------------------------
// Record numbers and estimates

int64_t TABSBTreeRecordIndex::GetRecNo(int32_t sessionID, const char* record, const TABSRecordID& id) {
  TABSBTreePath path;
  if (!FindKeyPath(sessionID, record, id, path)) return -1;
  return tree_->EntryNumber(sessionID, path);
}

TABSRecordID TABSBTreeRecordIndex::GetRecordIdAt(int32_t sessionID, int64_t recNo) {
  TABSBTreePath path;
  RootedTree().PathOfNumber(sessionID, recNo, path);
  return RecordIdAtPath(sessionID, path);
}

int64_t TABSBTreeRecordIndex::EstimateRecordCount(int32_t sessionID, const char* lower, int32_t lowerColumns,
                                                  uint8_t lowerCondition, const char* upper, int32_t upperColumns,
                                                  uint8_t upperCondition, int64_t recordCount) {
  TABSBTreePath from, to;
  if (lower) {
    if (!FindNearest(sessionID, lower, lowerColumns, lowerCondition, true, from)) return 0;
  } else if (!RootedTree().First(sessionID, from)) {
    return 0;
  }
  if (upper) {
    if (!FindNearest(sessionID, upper, upperColumns, upperCondition, false, to)) return 0;
  } else if (!RootedTree().Last(sessionID, to)) {
    return 0;
  }
  const double share = TABSBTree::PathFraction(to) - TABSBTree::PathFraction(from);
  const double estimate = std::round(share * static_cast<double>(recordCount));
  if (estimate <= 0) return 0;
  return estimate >= static_cast<double>(recordCount) ? recordCount : static_cast<int64_t>(estimate);
}

int32_t TABSBTreeRecordIndex::EntriesPerPage() const {
  if (!keyRef_) throw EABSException(20120, "Invalid page number");
  return manager_->PageDataSize() / (keyRef_->KeySize() + 4);
}
