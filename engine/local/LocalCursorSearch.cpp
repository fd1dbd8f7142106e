// The cursor's ranges, key search, filters, distinct and locate
// (LocalCursor.h contracts 2 and 8).
#include <algorithm>

#include "core/ZUDExcept.h"
#include "core/ZUDMetaObjectDef.h"
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
  if (!filter_ && !filterCallback_ && !queryCondition_) {
    recordFilter = nullptr;
    return;
  }
  recordFilter = [this](const char* record) {
    if (queryCondition_) {
      querySource_->SetRecord(record);
      if (!queryCondition_->IsTrue()) return false;
    }
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

namespace {

// One index's range while the conditions on it are intersected.
struct Bound {
  bool set = false;
  std::vector<char> key;
  bool exclusive = false;
};

}  // namespace

void TABSLocalCursor::PlanScan() {
  scan = TABSCursorScan{};
  useBitmap = false;
  // The query condition names table fields; the filter names visible
  // fields, which aliases hide from the index columns.
  TABSExpression* planned = queryCondition_.get();
  if (!planned) {
    if (!filter_) return;
    for (const TABSVisibleField& v : visible_)
      if (!SameName(v.name, Table().FieldDefs()[v.tableFieldNo]->Name())) return;
    planned = filter_.get();
  }
  const TABSIndexDefs& defs = Table().IndexManager().IndexDefs();
  std::vector<TABSScanSearchCondition> conditions;
  planned->GetSearchConditions(defs, conditions, session_.sessionID);

  struct Candidate {
    int32_t indexID = -1;
    Bound lower, upper;
    bool equality = false;
  };
  std::vector<Candidate> candidates;
  for (const TABSScanSearchCondition& c : conditions) {
    const TABSIndexDef* def = defs.IndexByID(c.IndexID);
    if (!def || c.KeyFieldCount != 1 || c.KeyValues.empty() || !c.KeyValues[0] || c.Prefix) continue;
    std::vector<char> key;
    if (!KeyFromValue(*def, *c.KeyValues[0], key)) continue;
    auto it =
        std::find_if(candidates.begin(), candidates.end(), [&](const Candidate& x) { return x.indexID == c.IndexID; });
    if (it == candidates.end()) {
      candidates.push_back({c.IndexID, {}, {}, false});
      it = candidates.end() - 1;
    }
    TABSIndex& index = Table().IndexManager().IndexByID(c.IndexID);
    // Keeps the tighter of two bounds on one side (the strict one when
    // both name the same key).
    const auto tighten = [&](Bound& bound, bool lowerSide, bool exclusive) {
      if (bound.set) {
        const int cmp = index.CompareRecordKeys(key.data(), bound.key.data(), 1);
        const bool tighter = lowerSide ? cmp > 0 : cmp < 0;
        if (!tighter && !(cmp == 0 && exclusive)) return;
      }
      bound = {true, key, exclusive};
    };
    switch (c.ConditionType) {
      case sctEqual:
        tighten(it->lower, true, false);
        tighten(it->upper, false, false);
        it->equality = true;
        break;
      case sctGreater: tighten(it->lower, true, true); break;
      case sctGreaterOrEqual: tighten(it->lower, true, false); break;
      case sctLower: tighten(it->upper, false, true); break;
      case sctLowerOrEqual: tighten(it->upper, false, false); break;
      default: break;
    }
  }
  if (candidates.empty()) return;

  // A range whose lower bound lies above its upper bound: nothing passes.
  for (const Candidate& c : candidates) {
    if (!c.lower.set || !c.upper.set) continue;
    const int cmp =
        Table().IndexManager().IndexByID(c.indexID).CompareRecordKeys(c.lower.key.data(), c.upper.key.data(), 1);
    if (cmp > 0 || (cmp == 0 && (c.lower.exclusive || c.upper.exclusive))) {
      scan.active = true;
      scan.empty = true;
      bitmap.Reset();
      return;
    }
  }

  // The driving range: an equality on a one-column unique, primary or
  // autoincrement index at once; else the current index when it is the
  // only one; else the smallest estimate.
  const Candidate* drive = nullptr;
  for (const Candidate& c : candidates) {
    const TABSIndexDef& def = *defs.IndexByID(c.indexID);
    const TABSMetaObjectDef* field = Table().FieldDefs().FindByName(def.Column(0).fieldName);
    const bool autoinc = field && static_cast<const TABSFieldDef*>(field)->IsAutoinc();
    if (c.equality && def.ColumnCount() == 1 && (def.unique || def.primary || autoinc)) {
      drive = &c;
      break;
    }
  }
  if (!drive && candidates.size() == 1 && candidates[0].indexID == indexID) drive = &candidates[0];
  if (!drive) {
    int64_t best = -1;
    for (const Candidate& c : candidates) {
      TABSIndexBound lower, upper;
      if (c.lower.set) lower = {c.lower.key.data(), 1, c.lower.exclusive ? scGreater : scGreaterOrEqual};
      if (c.upper.set) upper = {c.upper.key.data(), 1, c.upper.exclusive ? scLower : scLowerOrEqual};
      TABSTableData::ReadScope read(Table(), session_);
      const int64_t estimate =
          Table().IndexManager().IndexByID(c.indexID).EstimateRecordCount(session_.sessionID, lower, upper);
      if (best < 0 || estimate < best) {
        best = estimate;
        drive = &c;
      }
    }
  }
  scan.active = true;
  scan.indexID = drive->indexID;
  if (drive->lower.set) {
    scan.lowerKey = drive->lower.key;
    scan.lowerFieldCount = 1;
    scan.lowerExclusive = drive->lower.exclusive;
  }
  if (drive->upper.set) {
    scan.upperKey = drive->upper.key;
    scan.upperFieldCount = 1;
    scan.upperExclusive = drive->upper.exclusive;
  }
  // Steps read the bitmap the range builds instead of every record.
  useBitmap = true;
  bitmap.Reset();
}

void TABSLocalCursor::SetFilter(const std::string& text, bool caseInsensitive, bool partial) {
  Table();
  auto parsed = std::make_unique<TABSExpression>();
  parsed->ParseFilter(this, text, partial, caseInsensitive);
  filter_ = std::move(parsed);
  RebuildRecordFilter();
  PlanScan();
}

void TABSLocalCursor::ClearFilter() {
  filter_.reset();
  RebuildRecordFilter();
  PlanScan();
}

void TABSLocalCursor::SetFilterCallback(std::function<bool(const char* record)> callback) {
  filterCallback_ = std::move(callback);
  RebuildRecordFilter();
}

void TABSLocalCursor::SetQueryCondition(std::unique_ptr<TABSExpression> condition) {
  TABSTableData& table = Table();
  queryCondition_.reset();
  querySource_.reset();
  if (condition && !condition->IsEmpty()) {
    querySource_ = std::make_unique<TABSRecordRowSource>(
        table.FieldDefs(), tableName,
        [this](int32_t field, const char* record, TABSVariant& value) { ReadTableField(field, record, value); });
    condition->BindCursor(querySource_.get());
    queryCondition_ = std::move(condition);
  }
  RebuildRecordFilter();
  PlanScan();
}

void TABSLocalCursor::SetDistinct(const std::vector<std::string>& fieldNames) {
  const int32_t id = FindOrCreateIndex(fieldNames, std::vector<std::string>(fieldNames.size(), "ASC"),
                                       std::vector<std::string>(fieldNames.size(), "CASE"));
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

bool TABSLocalCursor::LocateByExpression(const std::string& text, const TABSVariant& value, bool caseInsensitive,
                                         bool partial) {
  Table();
  TABSExpression expression;
  expression.CaseInsensitive = caseInsensitive;
  expression.PartialCompare = partial;
  TABSLexer lexer(text, false, nullptr);
  if (!lexer.NextCommand()) throw EABSException(30119, "Blank SQL command");
  expression.ParseValue(lexer);
  TToken rest;
  if (lexer.GetCurrentToken(rest) || lexer.NextCommand()) {
    lexer.GetCurrentToken(rest);
    throw EABSException(20260, "End of SQL command expected, but '%s' found at line %d, column %d",
                        {rest.Text, rest.Line, rest.Column});
  }
  expression.BindCursor(this);
  const Position saved = SavePosition();
  SetToBegin();
  while (GetRecord(grmNext) == grrFound) {
    evalRecord_ = nullptr;
    const TABSVariant* result = expression.GetValue();
    if (!result) continue;
    if (result->IsNull() || value.IsNull()) {
      if (result->IsNull() && value.IsNull()) return true;
      continue;
    }
    if (result->Compare(value, false, partial, caseInsensitive) == 0) return true;
  }
  RestorePosition(saved);
  return false;
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
