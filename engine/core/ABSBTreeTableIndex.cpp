// The table data's abstract index over the B+-tree record index.
#include "core/ABSBTreeTableIndex.h"

#include "core/ZUDExcept.h"
#include "core/ZUDTableData.h"

TABSBTreeTableIndex::TABSBTreeTableIndex(TABSBaseIndexManager* manager, TABSPageManager* pages) : TABSIndex(manager) {
  if (!manager) throw EABSException(20077, "Pointer is nil");
  TABSIndexRecordSource* records = this;
  tree_ = std::make_unique<TABSBTreeRecordIndex>(pages, manager->Table().FieldDefs(), records);
}

TABSBTreeTableIndex::~TABSBTreeTableIndex() = default;

bool TABSBTreeTableIndex::ReadRecord(int32_t sessionID, const TABSRecordID& id, char* destination) {
  TABSGetRecordRequest request;
  request.mode = grmCurrent;
  request.recordID = id;
  request.destination = destination;
  manager_->Table().RecordManager().GetRecord(sessionID, request);
  return request.result == grrFound;
}

void TABSBTreeTableIndex::ForEachRecord(int32_t sessionID,
                                        const std::function<void(const char*, const TABSRecordID&)>& visit) {
  manager_->ForEachRecord(sessionID, visit);
}

void TABSBTreeTableIndex::Follow() { def_.rootPageNo = tree_->Definition().rootPageNo; }

void TABSBTreeTableIndex::ToTreePath(const TABSKeyPath& from, TABSBTreePath& to) {
  if (from.levelCount < 0 || from.levelCount > kMaxKeyPathLevels) throw EABSException(20051, "Invalid index key path");
  to.levelCount = from.levelCount;
  for (int32_t i = 0; i < from.levelCount; ++i)
    to.levels[static_cast<size_t>(i)] = {from.levels[static_cast<size_t>(i)].pageNo,
                                         from.levels[static_cast<size_t>(i)].entryIndex,
                                         from.levels[static_cast<size_t>(i)].entryCount};
}

void TABSBTreeTableIndex::FromTreePath(const TABSBTreePath& from, TABSKeyPath& to) {
  to.levelCount = from.levelCount;
  for (int32_t i = 0; i < from.levelCount; ++i)
    to.levels[static_cast<size_t>(i)] = {from.levels[static_cast<size_t>(i)].pageNo,
                                         from.levels[static_cast<size_t>(i)].entryIndex,
                                         from.levels[static_cast<size_t>(i)].entryCount};
}

void TABSBTreeTableIndex::Create(int32_t sessionID, const TABSIndexDef& def) {
  lastSession_ = sessionID;
  TABSIndex::Create(sessionID, def);
  tree_->Create(sessionID, def);
  Follow();
}

void TABSBTreeTableIndex::Open(const TABSIndexDef& def) {
  TABSIndex::Open(def);
  tree_->Open(def);
}

void TABSBTreeTableIndex::Drop(int32_t sessionID) {
  lastSession_ = sessionID;
  tree_->Drop(sessionID);
  Follow();
}

void TABSBTreeTableIndex::Empty(int32_t sessionID) {
  lastSession_ = sessionID;
  tree_->Empty(sessionID);
}

void TABSBTreeTableIndex::Rebuild(int32_t sessionID) {
  lastSession_ = sessionID;
  tree_->Rebuild(sessionID);
  Follow();
}

void TABSBTreeTableIndex::GetRecord(int32_t sessionID, TABSGetRecordRequest& request, TABSIndexPositionCache* cache) {
  lastSession_ = sessionID;
  if (request.mode != grmNext && request.mode != grmPrior)
    throw EABSException(20053, "Invalid 'get record' mode for index: grmCurrent");
  const bool forward = request.mode == grmNext;
  const int32_t counter = manager_->Table().RecordManager().ChangeCounter();
  TABSBTreePath path;
  bool found = false;
  if (forward && request.beforeFirst) {
    found = tree_->First(sessionID, path);
  } else if (!forward && request.afterLast) {
    found = tree_->Last(sessionID, path);
  } else if (cache && cache->Matches(def_.ObjectID(), request.recordID, counter) && cache->path.levelCount > 0) {
    ToTreePath(cache->path, path);
    found = forward ? tree_->Next(sessionID, path) : tree_->Prior(sessionID, path);
  } else {
    if (!request.destination) throw EABSException(20045, "Pointer is nil");
    found = tree_->StepFrom(sessionID, request.destination, request.recordID, forward, path);
  }
  if (!found) {
    request.result = forward ? grrEOF : grrBOF;
    return;
  }
  const TABSRecordID id = tree_->RecordIdAtPath(sessionID, path);
  if (request.destination && !ReadRecord(sessionID, id, request.destination)) {
    request.result = grrNotFound;
    return;
  }
  request.recordID = id;
  request.result = grrFound;
  if (cache) {
    cache->indexID = def_.ObjectID();
    cache->recordID = id;
    cache->stamp = counter;
    FromTreePath(path, cache->path);
  }
}

bool TABSBTreeTableIndex::FindNearest(int32_t sessionID, const TABSIndexBound& key, bool forward, TABSKeyPath& path) {
  lastSession_ = sessionID;
  TABSBTreePath p;
  bool found;
  if (!key.keyRecord || key.condition == scNone)
    found = forward ? tree_->First(sessionID, p) : tree_->Last(sessionID, p);
  else
    found = tree_->FindNearest(sessionID, key.keyRecord, key.keyFieldCount, key.condition, forward, p);
  if (found) FromTreePath(p, path);
  return found;
}

bool TABSBTreeTableIndex::FindKeyPath(int32_t sessionID, const char* record, const TABSRecordID& id,
                                      TABSKeyPath& path) {
  lastSession_ = sessionID;
  TABSBTreePath p;
  if (!tree_->FindKeyPath(sessionID, record, id, p)) return false;
  FromTreePath(p, path);
  return true;
}

int TABSBTreeTableIndex::CompareKeyPaths(const TABSKeyPath& a, const TABSKeyPath& b) {
  TABSBTreePath x, y;
  ToTreePath(a, x);
  ToTreePath(b, y);
  return TABSBTree::ComparePaths(x, y);
}

int64_t TABSBTreeTableIndex::GetRecNo(int32_t sessionID, const char* record, const TABSRecordID& id) {
  lastSession_ = sessionID;
  return tree_->GetRecNo(sessionID, record, id);
}

TABSRecordID TABSBTreeTableIndex::GetRecordIdAt(int32_t sessionID, int64_t recNo) {
  lastSession_ = sessionID;
  return tree_->GetRecordIdAt(sessionID, recNo);
}

// In index order, a record whose leading columns equal those of the last
// record kept loses its bit.
void TABSBTreeTableIndex::ApplyDistinct(int32_t sessionID, TABSRecordBitmap& bitmap, int32_t columnCount) {
  lastSession_ = sessionID;
  TABSSessionInfo session;
  session.sessionID = sessionID;
  const size_t size = static_cast<size_t>(manager_->Table().FieldDefs().MemoryRecordSize());
  std::vector<char> kept(size), current(size);
  bool haveKept = false;
  TABSBTreePath path;
  if (!tree_->First(sessionID, path)) return;
  do {
    const TABSRecordID id = tree_->RecordIdAtPath(sessionID, path);
    const int64_t position = manager_->Table().RecordIdToPosition(session, id);
    if (position < 0 || position >= bitmap.bits.Count() || !bitmap.bits.Get(position)) continue;
    if (!ReadRecord(sessionID, id, current.data())) throw EABSException(20170, "Cannot retrieve record for index");
    if (haveKept && tree_->CompareRecordKeys(kept.data(), current.data(), columnCount) == 0) {
      bitmap.bits.Set(position, false);
    } else {
      kept.swap(current);
      haveKept = true;
    }
  } while (tree_->Next(sessionID, path));
}

std::unique_ptr<TABSIndexScanState> TABSBTreeTableIndex::CreateScanState(const TABSIndexBound& start,
                                                                         const TABSIndexBound& end, bool forward) {
  auto state = std::make_unique<TABSIndexScanState>();
  state->forward = forward;
  state->start = start;
  state->end = end;
  const size_t size = static_cast<size_t>(manager_->Table().FieldDefs().MemoryRecordSize());
  if (start.keyRecord) {
    state->startKey.assign(start.keyRecord, start.keyRecord + size);
    state->start.keyRecord = state->startKey.data();
  }
  if (end.keyRecord) {
    state->endKey.assign(end.keyRecord, end.keyRecord + size);
    state->end.keyRecord = state->endKey.data();
  }
  return state;
}

bool TABSBTreeTableIndex::Bound(int32_t sessionID, const TABSBTreePath& path, const TABSIndexBound& bound) {
  return !bound.keyRecord || bound.condition == scNone ||
         tree_->EntrySatisfies(sessionID, path, bound.keyRecord, bound.keyFieldCount, bound.condition);
}

// The scan starts at the near bound and ends at the first entry past the
// far one.
bool TABSBTreeTableIndex::ScanStep(int32_t sessionID, TABSIndexScanState& state, TABSRecordID& id) {
  lastSession_ = sessionID;
  if (state.finished) return false;
  TABSBTreePath path;
  bool found;
  if (!state.started) {
    state.started = true;
    TABSKeyPath start;
    found = FindNearest(sessionID, state.forward ? state.start : state.end, state.forward, start);
    if (found) ToTreePath(start, path);
  } else {
    ToTreePath(state.path, path);
    found = state.forward ? tree_->Next(sessionID, path) : tree_->Prior(sessionID, path);
  }
  if (!found || !Bound(sessionID, path, state.forward ? state.end : state.start)) {
    state.finished = true;
    return false;
  }
  FromTreePath(path, state.path);
  id = tree_->RecordIdAtPath(sessionID, path);
  return true;
}

int TABSBTreeTableIndex::CompareRecordKeys(const char* a, const char* b, int32_t columnCount) {
  return tree_->CompareRecordKeys(a, b, columnCount);
}

int64_t TABSBTreeTableIndex::EstimateRecordCount(int32_t sessionID, const TABSIndexBound& lower,
                                                 const TABSIndexBound& upper) {
  lastSession_ = sessionID;
  const int64_t count = manager_->Table().RecordManager().RecordCount();
  return tree_->EstimateRecordCount(
      sessionID, lower.condition == scNone ? nullptr : lower.keyRecord, lower.keyFieldCount, lower.condition,
      upper.condition == scNone ? nullptr : upper.keyRecord, upper.keyFieldCount, upper.condition, count);
}

bool TABSBTreeTableIndex::IsDuplicateForInsert(int32_t sessionID, const char* record) {
  lastSession_ = sessionID;
  return tree_->IsDuplicateForInsert(sessionID, record);
}

bool TABSBTreeTableIndex::IsDuplicateForUpdate(int32_t sessionID, const char* oldRecord, const char* newRecord,
                                               const TABSRecordID& id) {
  lastSession_ = sessionID;
  return tree_->IsDuplicateForUpdate(sessionID, oldRecord, newRecord, id);
}

bool TABSBTreeTableIndex::IsDuplicateOfOther(int32_t sessionID, const char* record, const TABSRecordID& id) {
  lastSession_ = sessionID;
  return tree_->IsDuplicateOfOther(sessionID, record, id);
}

void TABSBTreeTableIndex::InsertKey(int32_t sessionID, const char* record, const TABSRecordID& id) {
  lastSession_ = sessionID;
  tree_->InsertKey(sessionID, record, id);
}

void TABSBTreeTableIndex::DeleteKey(int32_t sessionID, const char* record, const TABSRecordID& id) {
  lastSession_ = sessionID;
  tree_->DeleteKey(sessionID, record, id);
}

void TABSBTreeTableIndex::UpdateKey(int32_t sessionID, const char* oldRecord, const char* newRecord,
                                    const TABSRecordID& id, int phase) {
  lastSession_ = sessionID;
  tree_->UpdateKey(sessionID, oldRecord, newRecord, id, phase);
}

TABSRecordID TABSBTreeTableIndex::RecordIdAtPath(const TABSKeyPath& path) {
  TABSBTreePath p;
  ToTreePath(path, p);
  return tree_->RecordIdAtPath(lastSession_, p);
}
