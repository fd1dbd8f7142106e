// The cursor operations of the table data: fetching in the cursor's order,
// positioning, key search, the filter bitmap, counts and record numbers,
// and record changes made through a cursor (ZUDTableData.h contracts 5-7).
#include <algorithm>
#include <cstring>

#include "core/ZUDExcept.h"
#include "core/ZUDTableData.h"

using Guard = std::lock_guard<std::recursive_mutex>;

void TABSTableCursor::PrepareBuffer(const TABSCursorRecordLayout& recordLayout) {
  layout = recordLayout;
  buffer.assign(static_cast<size_t>(layout.bufferSize), '\0');
  SetBeforeFirst();
  recordID = TABSRecordID{};
  positionCache.Clear();
  bitmap.Reset();
}

void TABSTableCursor::WriteTrailer(const TABSRecordID& id, uint8_t bookmarkFlag) {
  if (static_cast<int32_t>(buffer.size()) < layout.bufferSize || layout.bufferSize < layout.bookmarkFlagOffset + 1)
    throw EABSException(10015, "Nil pointer occured");
  id.Write(buffer.data() + layout.recordIDOffset);
  buffer[static_cast<size_t>(layout.bookmarkFlagOffset)] = static_cast<char>(bookmarkFlag);
}

void TABSTableData::PrepareCursor(TABSTableCursor& cursor) {
  Guard guard(database_.Lock());
  cursor.PrepareBuffer(GetRecordLayout());
}

// ---- passing records --------------------------------------------------------

bool TABSTableData::UsesBitmap(const TABSTableCursor& cursor) const {
  // Distinct is a property of the whole set of passing records, which only
  // the bitmap holds.
  return cursor.IsFiltered() && (cursor.useBitmap || cursor.distinctColumns > 0);
}

bool TABSTableData::InRange(TABSTableCursor& cursor, const char* record) {
  const TABSCursorRange& range = cursor.range;
  if (!range.active) return true;
  if (cursor.indexID < 0)
    throw EABSException(20258,
                        "No active index is set for Key search. Set Table.IndexName to the index on search fields.");
  TABSIndex& index = indexManager_->IndexByID(cursor.indexID);
  if (!range.startKey.empty()) {
    const int c = index.CompareRecordKeys(record, range.startKey.data(), range.startFieldCount);
    if (c < 0 || (c == 0 && range.startExclusive)) return false;
  }
  if (!range.endKey.empty()) {
    const int c = index.CompareRecordKeys(record, range.endKey.data(), range.endFieldCount);
    if (c > 0 || (c == 0 && range.endExclusive)) return false;
  }
  return true;
}

bool TABSTableData::PassesWithoutBitmap(TABSTableCursor& cursor, const char* record) {
  if (cursor.scan.active && cursor.scan.empty) return false;
  return InRange(cursor, record) && (!cursor.recordFilter || cursor.recordFilter(record));
}

bool TABSTableData::Passes(TABSSessionInfo& session, TABSTableCursor& cursor, const char* record,
                           const TABSRecordID& id) {
  if (!cursor.IsFiltered()) return true;
  if (!UsesBitmap(cursor)) return PassesWithoutBitmap(cursor, record);
  RefreshBitmap(session, cursor);
  const int64_t position = RecordIdToPosition(session, id);
  return position >= 0 && position < cursor.bitmap.bits.Count() && cursor.bitmap.bits.Get(position);
}

void TABSTableData::WalkScanRange(TABSSessionInfo& session, TABSTableCursor& cursor,
                                  const std::function<void(const char*, const TABSRecordID&)>& visit) {
  const TABSCursorScan& scan = cursor.scan;
  indexManager_->RebuildTemporaryIndexes(session.sessionID);
  TABSIndex& index = indexManager_->IndexByID(scan.indexID);
  std::vector<char> record(static_cast<size_t>(FieldDefs().MemoryRecordSize()) + 1, '\0');
  TABSGetRecordRequest request;
  request.mode = grmNext;
  request.indexID = scan.indexID;
  request.destination = record.data();
  if (scan.lowerKey.empty()) {
    request.beforeFirst = true;
  } else {
    TABSIndexBound lower;
    lower.keyRecord = scan.lowerKey.data();
    lower.keyFieldCount = scan.lowerFieldCount;
    lower.condition = scan.lowerExclusive ? scGreater : scGreaterOrEqual;
    TABSKeyPath path;
    if (!index.FindNearest(session.sessionID, lower, true, path)) return;
    request.recordID = index.RecordIdAtPath(path);
    if (!ReadRecord(session, request.recordID, record)) throw EABSException(10127, "Error retrieving record");
    request.destination = record.data();
    request.result = grrFound;
  }
  TABSIndexPositionCache cache;
  for (bool first = true;; first = false) {
    if (!first || scan.lowerKey.empty()) {
      indexManager_->GetRecord(session.sessionID, request, &cache);
      if (request.result != grrFound) return;
      request.beforeFirst = false;
    }
    if (!scan.upperKey.empty()) {
      const int c = index.CompareRecordKeys(record.data(), scan.upperKey.data(), scan.upperFieldCount);
      if (c > 0 || (c == 0 && scan.upperExclusive)) return;
    }
    visit(record.data(), request.recordID);
  }
}

void TABSTableData::BuildBitmap(TABSSessionInfo& session, TABSTableCursor& cursor) {
  TABSRecordBitmap& bitmap = cursor.bitmap;
  bitmap.bits.Resize(0);
  const auto mark = [&](const char* record, const TABSRecordID& id) {
    bitmap.bits.SetGrowing(RecordIdToPosition(session, id), PassesWithoutBitmap(cursor, record));
  };
  // Contract 4 of ZUDTableCursor.h: the bits outside the scan stay clear.
  if (!cursor.scan.active)
    indexManager_->ForEachRecord(session.sessionID, mark);
  else if (!cursor.scan.empty)
    WalkScanRange(session, cursor, mark);
  if (cursor.distinctColumns > 0) {
    if (cursor.indexID < 0)
      throw EABSException(20258,
                          "No active index is set for Key search. Set Table.IndexName to the index on search fields.");
    indexManager_->RebuildTemporaryIndexes(session.sessionID);
    indexManager_->IndexByID(cursor.indexID).ApplyDistinct(session.sessionID, bitmap, cursor.distinctColumns);
  }
  bitmap.active = true;
  bitmap.wholeTable = true;
  bitmap.stamp = RecordManager().ChangeCounter();
}

void TABSTableData::RefreshBitmap(TABSSessionInfo& session, TABSTableCursor& cursor) {
  Guard guard(database_.Lock());
  ReadScope read(*this, session);
  if (!cursor.bitmap.active || cursor.bitmap.IsStale(RecordManager().ChangeCounter())) BuildBitmap(session, cursor);
}

void TABSTableData::MarkBit(TABSSessionInfo& session, TABSTableCursor& cursor, const TABSRecordID& id, bool passes) {
  if (!cursor.bitmap.active) return;
  const int64_t position = RecordIdToPosition(session, id);
  if (position >= 0) cursor.bitmap.bits.SetGrowing(position, passes);
}

// ---- stepping ---------------------------------------------------------------

// Contracts 2 and 4 of ZUDTableCursor.h.
void TABSTableData::CursorBounds(const TABSTableCursor& cursor, std::vector<KeyBound>& lower,
                                 std::vector<KeyBound>& upper) {
  if (cursor.indexID < 0) return;
  const TABSCursorRange& range = cursor.range;
  if (range.active && !range.startKey.empty())
    lower.push_back({&range.startKey, range.startFieldCount, range.startExclusive});
  if (range.active && !range.endKey.empty()) upper.push_back({&range.endKey, range.endFieldCount, range.endExclusive});
  const TABSCursorScan& scan = cursor.scan;
  if (!scan.active || scan.empty || scan.indexID != cursor.indexID) return;
  if (!scan.lowerKey.empty()) lower.push_back({&scan.lowerKey, scan.lowerFieldCount, scan.lowerExclusive});
  if (!scan.upperKey.empty()) upper.push_back({&scan.upperKey, scan.upperFieldCount, scan.upperExclusive});
}

bool TABSTableData::JumpToBound(TABSSessionInfo& session, TABSTableCursor& cursor, TABSGetRecordRequest& request,
                                const std::vector<KeyBound>& bounds) {
  const bool forward = request.mode == grmNext;
  if (bounds.empty() || !(forward ? request.beforeFirst : request.afterLast)) return false;
  TABSIndex& index = indexManager_->IndexByID(cursor.indexID);
  // Any bound is a valid start; the tightest skips the most.
  const KeyBound* start = &bounds[0];
  for (const KeyBound& b : bounds) {
    const int32_t n = std::min(b.fieldCount, start->fieldCount);
    const int c = index.CompareRecordKeys(b.key->data(), start->key->data(), n);
    if (forward ? c > 0 : c < 0) start = &b;
  }
  TABSIndexBound bound;
  bound.keyRecord = start->key->data();
  bound.keyFieldCount = start->fieldCount;
  bound.condition =
      forward ? (start->exclusive ? scGreater : scGreaterOrEqual) : (start->exclusive ? scLower : scLowerOrEqual);
  TABSKeyPath path;
  if (!index.FindNearest(session.sessionID, bound, forward, path)) {
    request.result = forward ? grrEOF : grrBOF;
    return true;
  }
  TABSGetRecordRequest read;
  read.mode = grmCurrent;
  read.recordID = index.RecordIdAtPath(path);
  read.destination = request.destination;
  RecordManager().GetRecord(session.sessionID, read);
  if (read.result != grrFound) throw EABSException(10127, "Error retrieving record");
  request.recordID = read.recordID;
  request.result = grrFound;
  request.beforeFirst = request.afterLast = false;
  return true;
}

void TABSTableData::Step(TABSSessionInfo& session, TABSTableCursor& cursor, TABSGetRecordRequest& request) {
  const TABSGetRecordMode mode = request.mode;
  request.indexID = cursor.indexID;
  std::vector<KeyBound> lower, upper;
  CursorBounds(cursor, lower, upper);
  // From an end, a walk starts at its near bound instead of the index's end.
  bool landed = JumpToBound(session, cursor, request, mode == grmNext ? lower : upper);
  if (landed && request.result != grrFound) return;
  for (;;) {
    if (!landed) {
      if (cursor.indexID >= 0)
        indexManager_->GetRecord(session.sessionID, request, &cursor.positionCache);
      else
        RecordManager().GetRecord(session.sessionID, request);
      if (request.result != grrFound) return;
    }
    landed = false;
    if (Passes(session, cursor, request.destination, request.recordID)) return;
    // Past the far bound nothing further can pass: in index order the keys
    // only move away from it.
    if (cursor.indexID >= 0) {
      TABSIndex& index = indexManager_->IndexByID(cursor.indexID);
      for (const KeyBound& b : mode == grmNext ? upper : lower) {
        const int c = index.CompareRecordKeys(request.destination, b.key->data(), b.fieldCount);
        if (mode == grmNext ? (c > 0 || (c == 0 && b.exclusive)) : (c < 0 || (c == 0 && b.exclusive))) {
          request.result = mode == grmNext ? grrEOF : grrBOF;
          return;
        }
      }
    }
    request.beforeFirst = request.afterLast = false;
  }
}

void TABSTableData::Accept(TABSTableCursor& cursor, const char* record, const TABSRecordID& id) {
  std::memcpy(cursor.Record(), record, static_cast<size_t>(FieldDefs().MemoryRecordSize()));
  cursor.recordID = id;
  cursor.beforeFirst = cursor.afterLast = false;
  cursor.WriteTrailer(id, 0);
}

void TABSTableData::FillPositionCache(TABSSessionInfo& session, TABSTableCursor& cursor) {
  TABSIndexPositionCache& cache = cursor.positionCache;
  cache.Clear();
  if (cursor.indexID < 0) return;
  if (!indexManager_->IndexByID(cursor.indexID)
           .FindKeyPath(session.sessionID, cursor.Record(), cursor.recordID, cache.path))
    return;
  cache.indexID = cursor.indexID;
  cache.recordID = cursor.recordID;
  cache.stamp = RecordManager().ChangeCounter();
}

TABSGetRecordResult TABSTableData::FetchRecord(TABSSessionInfo& session, TABSTableCursor& cursor,
                                               TABSGetRecordMode mode) {
  Guard guard(database_.Lock());
  ReadScope read(*this, session);
  if (cursor.indexID >= 0) indexManager_->RebuildTemporaryIndexes(session.sessionID);
  // The step starts from the cursor's record (ZUDIndex.h contract 3).
  std::vector<char> scratch(cursor.Record(), cursor.Record() + FieldDefs().MemoryRecordSize());
  scratch.push_back('\0');
  TABSGetRecordRequest request;
  request.destination = scratch.data();
  request.recordID = cursor.recordID;
  request.beforeFirst = cursor.beforeFirst;
  request.afterLast = cursor.afterLast;
  if (mode == grmCurrent) {
    if (cursor.beforeFirst) return grrBOF;
    if (cursor.afterLast) return grrEOF;
    request.mode = grmCurrent;
    RecordManager().GetRecord(session.sessionID, request);
    if (request.result != grrFound || !Passes(session, cursor, scratch.data(), cursor.recordID)) return grrNotFound;
    Accept(cursor, scratch.data(), request.recordID);
    return grrFound;
  }
  // An empty table has nothing before or after: both directions end; so
  // has a scan that nothing can pass, without reading the table.
  if (RecordManager().RecordCount() == 0 || (cursor.scan.active && cursor.scan.empty)) {
    cursor.SetAfterLast();
    return grrEOF;
  }
  request.mode = mode;
  Step(session, cursor, request);
  switch (request.result) {
    case grrFound: Accept(cursor, scratch.data(), request.recordID); break;
    case grrBOF: cursor.SetBeforeFirst(); break;
    case grrEOF: cursor.SetAfterLast(); break;
    case grrNotFound: break;
  }
  return request.result;
}

bool TABSTableData::PositionOnKey(TABSSessionInfo& session, TABSTableCursor& cursor, const TABSRecordID& id) {
  Guard guard(database_.Lock());
  ReadScope read(*this, session);
  std::vector<char> record;
  if (!ReadRecord(session, id, record) || !Passes(session, cursor, record.data(), id)) return false;
  Accept(cursor, record.data(), id);
  if (cursor.indexID >= 0) {
    indexManager_->RebuildTemporaryIndexes(session.sessionID);
    FillPositionCache(session, cursor);
  }
  return true;
}

bool TABSTableData::SearchRange(TABSSessionInfo& session, TABSTableCursor& cursor, const TABSIndexBound& key,
                                bool forward) {
  Guard guard(database_.Lock());
  ReadScope read(*this, session);
  if (cursor.indexID < 0)
    throw EABSException(20258,
                        "No active index is set for Key search. Set Table.IndexName to the index on search fields.");
  indexManager_->RebuildTemporaryIndexes(session.sessionID);
  TABSIndex& index = indexManager_->IndexByID(cursor.indexID);
  TABSKeyPath path;
  if (!index.FindNearest(session.sessionID, key, forward, path)) return false;
  std::vector<char> record;
  TABSRecordID id = index.RecordIdAtPath(path);
  if (!ReadRecord(session, id, record)) throw EABSException(10127, "Error retrieving record");
  const bool passed = Passes(session, cursor, record.data(), id);
  if (!passed) {
    // The nearest entry is filtered out: go on in the search direction.
    TABSGetRecordRequest request;
    request.mode = forward ? grmNext : grmPrior;
    request.recordID = id;
    request.destination = record.data();
    TABSIndexPositionCache unused;
    std::swap(unused, cursor.positionCache);
    Step(session, cursor, request);
    std::swap(unused, cursor.positionCache);
    if (request.result != grrFound) return false;
    id = request.recordID;
  }
  // An exact search wants the key itself, not merely the nearest one.
  if (key.condition == scEqual && key.keyRecord &&
      index.CompareRecordKeys(record.data(), key.keyRecord, key.keyFieldCount) != 0)
    return false;
  Accept(cursor, record.data(), id);
  if (!passed) {
    FillPositionCache(session, cursor);
    return true;
  }
  // The search's own path is the entry's: no second descent.
  TABSIndexPositionCache& cache = cursor.positionCache;
  cache.Clear();
  cache.path = path;
  cache.indexID = cursor.indexID;
  cache.recordID = id;
  cache.stamp = RecordManager().ChangeCounter();
  return true;
}

// ---- counts and record numbers ----------------------------------------------

int64_t TABSTableData::GetCursorRecordCount(TABSSessionInfo& session, TABSTableCursor& cursor) {
  Guard guard(database_.Lock());
  ReadScope read(*this, session);
  if (!cursor.IsFiltered()) return GetRecordCount(session);
  RefreshBitmap(session, cursor);
  return cursor.bitmap.bits.SetCount();
}

int64_t TABSTableData::WalkIndex(TABSSessionInfo& session, TABSTableCursor& cursor,
                                 const std::function<bool(const TABSRecordID&, int64_t)>& stop) {
  std::vector<char> scratch(static_cast<size_t>(FieldDefs().MemoryRecordSize()) + 1);
  TABSGetRecordRequest request;
  request.mode = grmNext;
  request.beforeFirst = true;
  request.destination = scratch.data();
  TABSIndexPositionCache cache;
  request.indexID = cursor.indexID;
  int64_t seen = 0;
  for (;;) {
    indexManager_->GetRecord(session.sessionID, request, &cache);
    if (request.result != grrFound) return seen;
    if (Passes(session, cursor, scratch.data(), request.recordID) && stop(request.recordID, ++seen)) return seen;
    request.beforeFirst = false;
  }
}

int64_t TABSTableData::GetRecNo(TABSSessionInfo& session, TABSTableCursor& cursor) {
  Guard guard(database_.Lock());
  ReadScope read(*this, session);
  if (cursor.beforeFirst || cursor.afterLast) return -1;
  if (cursor.indexID >= 0) indexManager_->RebuildTemporaryIndexes(session.sessionID);
  if (!cursor.IsFiltered()) {
    if (cursor.indexID >= 0)
      return indexManager_->IndexByID(cursor.indexID).GetRecNo(session.sessionID, cursor.Record(), cursor.recordID);
    return GetPhysicalRecNo(session, cursor.recordID);
  }
  RefreshBitmap(session, cursor);
  if (cursor.indexID < 0) {
    const int64_t position = RecordIdToPosition(session, cursor.recordID);
    if (position < 0 || position >= cursor.bitmap.bits.Count() || !cursor.bitmap.bits.Get(position)) return -1;
    return cursor.bitmap.bits.SetBitsBefore(position) + 1;
  }
  // The bits lie in physical order; the number follows the index order.
  int64_t found = -1;
  WalkIndex(session, cursor, [&](const TABSRecordID& id, int64_t n) {
    if (!(id == cursor.recordID)) return false;
    found = n;
    return true;
  });
  return found;
}

bool TABSTableData::SetRecNo(TABSSessionInfo& session, TABSTableCursor& cursor, int64_t recNo) {
  Guard guard(database_.Lock());
  ReadScope read(*this, session);
  if (cursor.indexID >= 0) indexManager_->RebuildTemporaryIndexes(session.sessionID);
  const int64_t count = GetCursorRecordCount(session, cursor);
  if (count <= 0) return false;
  recNo = recNo < 1 ? 1 : recNo > count ? count : recNo;
  TABSRecordID id;
  if (!cursor.IsFiltered()) {
    if (cursor.indexID >= 0)
      id = indexManager_->IndexByID(cursor.indexID).GetRecordIdAt(session.sessionID, recNo);
    else if (!SetPhysicalRecNo(session, recNo, id))
      return false;
  } else if (cursor.indexID < 0) {
    if (!PositionToRecordId(session, cursor.bitmap.bits.NthSetBit(recNo), id)) return false;
  } else {
    bool reached = false;
    WalkIndex(session, cursor, [&](const TABSRecordID& at, int64_t n) {
      if (n != recNo) return false;
      id = at;
      reached = true;
      return true;
    });
    if (!reached) return false;
  }
  return PositionOnKey(session, cursor, id);
}

// ---- changes through a cursor -----------------------------------------------

TABSRecordID TABSTableData::InsertRecord(TABSSessionInfo& session, TABSTableCursor& cursor, bool checkConstraints) {
  Guard guard(database_.Lock());
  const TABSRecordID id = InsertRecord(session, cursor.Record(), checkConstraints);
  MarkBit(session, cursor, id, PassesWithoutBitmap(cursor, cursor.Record()));
  cursor.recordID = id;
  cursor.beforeFirst = cursor.afterLast = false;
  cursor.WriteTrailer(id, kBookmarkInserted);
  cursor.positionCache.Clear();
  return id;
}

void TABSTableData::UpdateRecord(TABSSessionInfo& session, TABSTableCursor& cursor, bool checkConstraints) {
  Guard guard(database_.Lock());
  if (cursor.beforeFirst || cursor.afterLast) throw EABSException(10127, "Error retrieving record");
  UpdateRecord(session, cursor.recordID, cursor.Record(), checkConstraints);
  MarkBit(session, cursor, cursor.recordID, PassesWithoutBitmap(cursor, cursor.Record()));
  cursor.positionCache.Clear();
}

bool TABSTableData::DeleteRecord(TABSSessionInfo& session, TABSTableCursor& cursor) {
  Guard guard(database_.Lock());
  if (cursor.beforeFirst || cursor.afterLast) return false;
  if (cursor.indexID >= 0) indexManager_->RebuildTemporaryIndexes(session.sessionID);
  const int32_t before = RecordManager().ChangeCounter();
  const bool bitmapWasCurrent = cursor.bitmap.active && !cursor.bitmap.IsStale(before);

  // The neighbour: the next passing record, else the prior one.
  std::vector<char> neighbour(cursor.Record(), cursor.Record() + FieldDefs().MemoryRecordSize());
  neighbour.push_back('\0');
  TABSGetRecordRequest request;
  request.destination = neighbour.data();
  request.recordID = cursor.recordID;
  request.mode = grmNext;
  Step(session, cursor, request);
  if (request.result != grrFound) {
    std::memcpy(neighbour.data(), cursor.Record(), static_cast<size_t>(FieldDefs().MemoryRecordSize()));
    request.recordID = cursor.recordID;
    request.beforeFirst = request.afterLast = false;
    request.mode = grmPrior;
    Step(session, cursor, request);
  }

  const TABSRecordID deleted = cursor.recordID;
  if (!DeleteRecord(session, deleted)) return false;
  MarkBit(session, cursor, deleted, false);
  // The bits are still right when this delete was the only change since
  // they were built; distinct may have hidden a record behind the deleted
  // one, so it always rebuilds.
  if (bitmapWasCurrent && cursor.distinctColumns == 0 && RecordManager().ChangeCounter() == before + 1)
    cursor.bitmap.stamp = RecordManager().ChangeCounter();
  cursor.positionCache.Clear();
  if (request.result == grrFound)
    Accept(cursor, neighbour.data(), request.recordID);
  else
    cursor.SetBeforeFirst();
  return true;
}
