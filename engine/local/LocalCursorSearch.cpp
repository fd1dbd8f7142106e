// The cursor's ranges, key search, filters, distinct and locate
// (LocalCursor.h contracts 2 and 8).
#include "core/ZUDExcept.h"
#include "local/LocalCursor.h"

void TABSLocalCursor::SetRange(const std::vector<char>& startKey, int32_t startFieldCount, bool startExclusive,
                               const std::vector<char>& endKey, int32_t endFieldCount, bool endExclusive) {
  if (indexID < 0)
    throw EABSException(20258,
                        "No active index is set for Key search. Set Table.IndexName to the index on search fields.");
  range.active = true;
  range.startKey = startKey;
  range.endKey = endKey;
  range.startFieldCount = startFieldCount;
  range.endFieldCount = endFieldCount;
  range.startExclusive = startExclusive;
  range.endExclusive = endExclusive;
  bitmap.Reset();
  positionCache.Clear();
}

void TABSLocalCursor::ClearRange() {
  range = TABSCursorRange{};
  bitmap.Reset();
  positionCache.Clear();
}

bool TABSLocalCursor::GotoKey(const std::vector<char>& key, int32_t keyFieldCount, bool exact, bool forward) {
  if (indexID < 0)
    throw EABSException(20258,
                        "No active index is set for Key search. Set Table.IndexName to the index on search fields.");
  if (key.size() < static_cast<size_t>(layout.memoryRecordSize)) throw EABSException(20222, "Pointer is nil");
  TABSIndexBound bound;
  bound.keyRecord = key.data();
  bound.keyFieldCount = keyFieldCount;
  bound.condition = exact ? scEqual : forward ? scGreaterOrEqual : scLowerOrEqual;
  return Table().SearchRange(session_, *this, bound, exact || forward);
}

void TABSLocalCursor::RebuildRecordFilter() {
  bitmap.Reset();
  positionCache.Clear();
  if (!filter_ && !filterCallback_) {
    recordFilter = nullptr;
    return;
  }
  recordFilter = [this](const char* record) {
    if (filter_) {
      // The expression reads the candidate, not the cursor's buffer.
      struct Candidate {
        const char*& slot;
        const char* saved;
        ~Candidate() { slot = saved; }
      } candidate{evalRecord_, evalRecord_};
      evalRecord_ = record;
      if (!filter_->IsTrue()) return false;
    }
    return !filterCallback_ || filterCallback_(record);
  };
}

void TABSLocalCursor::SetFilter(const std::string& text, bool caseInsensitive, bool partial) {
  Table();
  auto parsed = std::make_unique<TABSExpression>();
  parsed->ParseFilter(this, text, partial, caseInsensitive);
  filter_ = std::move(parsed);
  RebuildRecordFilter();
}

void TABSLocalCursor::ClearFilter() {
  filter_.reset();
  RebuildRecordFilter();
}

void TABSLocalCursor::SetFilterCallback(std::function<bool(const char* record)> callback) {
  filterCallback_ = std::move(callback);
  RebuildRecordFilter();
}

void TABSLocalCursor::SetDistinct(const std::vector<std::string>& fieldNames) {
  const int32_t id = FindOrCreateIndex(fieldNames, {}, {});
  const TABSIndexDef* def = Table().IndexManager().IndexDefs().IndexByID(id);
  if (!def) throw EABSException(20021, "Cannot delete index '%s'. Index not found", {std::to_string(id)});
  SetIndexName(def->Name());
  distinctColumns = static_cast<int32_t>(fieldNames.size());
  bitmap.Reset();
}

void TABSLocalCursor::ClearDistinct() {
  distinctColumns = 0;
  bitmap.Reset();
}

bool TABSLocalCursor::Locate(const std::string& fieldNames, const std::vector<TABSVariant>& values,
                             bool caseInsensitive, bool partial) {
  Table();
  std::vector<const TABSVariant*> pointers;
  for (const TABSVariant& v : values) pointers.push_back(&v);
  TABSExpression condition;
  condition.BuildLocate(this, fieldNames, pointers, caseInsensitive, partial);
  const Position saved = SavePosition();
  SetToBegin();
  for (;;) {
    const TABSGetRecordResult r = GetRecord(grmNext);
    if (r != grrFound) break;
    evalRecord_ = nullptr;
    if (condition.IsTrue()) return true;
  }
  RestorePosition(saved);
  return false;
}
