// Test-only storage behind the abstract table data interfaces: a record
// manager over a std::map of slots, an index over a sorted vector of
// (record, identifier) entries that compares typed values column by column,
// a BLOB manager over a handle table, and a page manager that counts
// commits and rollbacks. Fault switches make chosen steps fail.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "core/ZUDBaseEngine.h"
#include "core/ZUDExcept.h"

namespace testsupport {

class MapRecordManager : public TABSBaseRecordManager {
 public:
  explicit MapRecordManager(int32_t size) { recordSize_ = size; }
  std::map<int32_t, std::string> rows;
  int32_t nextSlot = 0;
  bool failNextDelete = false;
  bool failNextUpdate = false;
  bool failNextClear = false;
  int64_t reads = 0;  // every GetRecord: what a walk touched

  void Clear(int32_t) override {
    if (failNextClear) {
      failNextClear = false;
      throw EABSException(10019, "Error retrieving record");
    }
    rows.clear();
    recordCount_ = 0;
    ++changeCounter_;
  }
  bool Insert(int32_t, const char* record, TABSRecordID& id) override {
    id = {nextSlot++, 0};
    rows[id.pageNo] = std::string(record, static_cast<size_t>(recordSize_));
    ++recordCount_;
    ++changeCounter_;
    return true;
  }
  bool Update(int32_t, const char* record, const TABSRecordID& id) override {
    if (failNextUpdate) {
      failNextUpdate = false;
      return false;
    }
    auto it = rows.find(id.pageNo);
    if (it == rows.end()) return false;
    it->second.assign(record, static_cast<size_t>(recordSize_));
    ++changeCounter_;
    return true;
  }
  bool Delete(int32_t, const TABSRecordID& id) override {
    if (failNextDelete) {
      failNextDelete = false;
      throw EABSException(10019, "Error retrieving record");
    }
    if (rows.erase(id.pageNo) == 0) return false;
    --recordCount_;
    ++changeCounter_;
    return true;
  }
  void GetRecord(int32_t, TABSGetRecordRequest& r) override {
    ++reads;
    std::map<int32_t, std::string>::iterator it;
    if (r.mode == grmCurrent) {
      it = rows.find(r.recordID.pageNo);
      if (it == rows.end()) {
        r.result = grrNotFound;
        return;
      }
    } else if (r.mode == grmNext) {
      it = r.beforeFirst ? rows.begin() : r.afterLast ? rows.end() : rows.upper_bound(r.recordID.pageNo);
      if (it == rows.end()) {
        r.result = grrEOF;
        return;
      }
    } else {
      it = r.afterLast ? rows.end() : r.beforeFirst ? rows.begin() : rows.lower_bound(r.recordID.pageNo);
      if (it == rows.begin()) {
        r.result = grrBOF;
        return;
      }
      --it;
    }
    r.recordID = {it->first, 0};
    std::copy(it->second.begin(), it->second.end(), r.destination);
    r.result = grrFound;
  }
  int64_t ApproxRecNo(int32_t, const TABSRecordID& id) override {
    auto it = rows.find(id.pageNo);
    return it == rows.end() ? -1 : std::distance(rows.begin(), it) + 1;
  }
};

// Shared across the indexes of one test: the key insert that should fail.
struct IndexFaults {
  int insertsUntilFailure = -1;  // -1 = never; 0 = the next insert fails
};

// Orders entries by the typed values of the index columns (NULL lowest,
// descending columns reversed, case-insensitive columns folded), then by
// record identifier: the order the B-tree keeps.
class MapIndex : public TABSIndex {
 public:
  struct Entry {
    std::string record;
    TABSRecordID id;
  };
  static constexpr int32_t kModelPageEntries = 16;

  MapIndex(TABSBaseIndexManager* manager, IndexFaults& faults) : TABSIndex(manager), faults_(faults) {}
  std::vector<Entry> entries;
  int rebuilds = 0;

  const TABSFieldDefs& Fields() const { return manager_->Table().FieldDefs(); }
  int CompareKeys(const char* a, const char* b, int32_t columnCount) const {
    const int n = columnCount <= 0 || columnCount > def_.ColumnCount() ? def_.ColumnCount() : columnCount;
    for (int i = 0; i < n; ++i) {
      const TABSIndexColumn& column = def_.Column(i);
      const int fieldNo = Fields().IndexOfName(column.fieldName);
      const TABSFieldDef& f = *Fields()[fieldNo];
      int c = CompareCodeToSign(CompareValueBuffers(
          a + f.MemoryOffset(), f.StorageType(), f.MemoryValueSize(), IsFieldNull(a, fieldNo), b + f.MemoryOffset(),
          f.StorageType(), f.MemoryValueSize(), IsFieldNull(b, fieldNo), column.caseInsensitive));
      if (column.descending) c = -c;
      if (c != 0) return c;
    }
    return 0;
  }
  static bool Satisfies(int c, TABSSearchCondition condition) {
    switch (condition) {
      case scEqual: return c == 0;
      case scLower: return c < 0;
      case scGreater: return c > 0;
      case scLowerOrEqual: return c <= 0;
      case scGreaterOrEqual: return c >= 0;
      default: return true;
    }
  }
  bool EntrySatisfies(const Entry& e, const TABSIndexBound& bound) const {
    return !bound.keyRecord ||
           Satisfies(CompareKeys(e.record.data(), bound.keyRecord, bound.keyFieldCount), bound.condition);
  }
  int Find(const TABSRecordID& id) const {
    for (size_t i = 0; i < entries.size(); ++i)
      if (entries[i].id == id) return static_cast<int>(i);
    return -1;
  }
  void SetPath(TABSKeyPath& path, int entry) const {
    path.levelCount = 1;
    path.levels[0] = {0, entry, static_cast<int32_t>(entries.size())};
  }
  std::string Copy(const char* record) const {
    return std::string(record, static_cast<size_t>(Fields().MemoryRecordSize()));
  }

  void Create(int32_t sessionID, const TABSIndexDef& def) override {
    TABSIndex::Create(sessionID, def);
    def_.rootPageNo = 0;
    entries.clear();
    manager_->ForEachRecord(sessionID,
                            [&](const char* record, const TABSRecordID& id) { InsertKey(sessionID, record, id); });
  }
  void Drop(int32_t) override {
    entries.clear();
    def_.rootPageNo = -1;
  }
  void Empty(int32_t) override { entries.clear(); }
  void Rebuild(int32_t sessionID) override {
    ++rebuilds;
    TABSIndexDef copy;
    copy.Assign(def_);
    Drop(sessionID);
    Create(sessionID, copy);
  }
  void GetRecord(int32_t sessionID, TABSGetRecordRequest& r, TABSIndexPositionCache* cache) override {
    if (r.mode == grmCurrent) throw EABSException(20053, "Invalid 'get record' mode for index: grmCurrent");
    const int n = static_cast<int>(entries.size());
    // Where the step starts: the entry of the current record, or, when it
    // has gone, the place its key and identifier would take.
    int from = Find(r.recordID);
    bool present = from >= 0;
    if (!present && !r.beforeFirst && !r.afterLast)
      from = static_cast<int>(std::find_if(entries.begin(), entries.end(),
                                           [&](const Entry& e) {
                                             const int c = CompareKeys(e.record.data(), r.destination, 0);
                                             return c > 0 || (c == 0 && e.id.Compare(r.recordID) > 0);
                                           }) -
                              entries.begin());
    int at;
    if (r.mode == grmNext)
      at = r.beforeFirst ? 0 : r.afterLast ? n : present ? from + 1 : from;
    else
      at = r.afterLast ? n - 1 : r.beforeFirst ? -1 : from - 1;
    if (at < 0 || at >= n) {
      r.result = at < 0 ? grrBOF : grrEOF;
      return;
    }
    TABSGetRecordRequest read;
    read.recordID = entries[static_cast<size_t>(at)].id;
    read.destination = r.destination;
    manager_->Table().RecordManager().GetRecord(sessionID, read);
    r.result = read.result;
    if (r.result != grrFound) return;
    r.recordID = read.recordID;
    if (cache) {
      cache->indexID = def_.ObjectID();
      cache->recordID = r.recordID;
      cache->stamp = manager_->Table().RecordManager().ChangeCounter();
      SetPath(cache->path, at);
    }
  }
  bool FindNearest(int32_t, const TABSIndexBound& key, bool forward, TABSKeyPath& path) override {
    const int n = static_cast<int>(entries.size());
    for (int k = 0; k < n; ++k) {
      const int i = forward ? k : n - 1 - k;
      if (EntrySatisfies(entries[static_cast<size_t>(i)], key)) {
        SetPath(path, i);
        return true;
      }
    }
    return false;
  }
  std::unique_ptr<TABSKeyPath> CreateKeyPath() override { return std::make_unique<TABSKeyPath>(); }
  void FreeKeyPath(std::unique_ptr<TABSKeyPath>& path) override { path.reset(); }
  bool FindKeyPath(int32_t, const char*, const TABSRecordID& id, TABSKeyPath& path) override {
    const int i = Find(id);
    if (i < 0) return false;
    SetPath(path, i);
    return true;
  }
  int CompareKeyPaths(const TABSKeyPath& a, const TABSKeyPath& b) override {
    if (a.levelCount != b.levelCount || a.levelCount == 0) throw EABSException(20051, "Invalid index key path");
    return a.levels[0].entryIndex < b.levels[0].entryIndex ? -1 : a.levels[0].entryIndex > b.levels[0].entryIndex;
  }
  int64_t GetRecNo(int32_t, const char*, const TABSRecordID& id) override {
    const int i = Find(id);
    return i < 0 ? -1 : i + 1;
  }
  TABSRecordID GetRecordIdAt(int32_t, int64_t recNo) override {
    if (entries.empty()) throw EABSException(20074, "Cannot retrieve record from empty index");
    if (recNo > static_cast<int64_t>(entries.size()))
      throw EABSException(20075, "Cannot set RecNo greater than RecordCount");
    return entries[static_cast<size_t>(recNo < 1 ? 0 : recNo - 1)].id;
  }
  void ApplyDistinct(int32_t, TABSRecordBitmap& bitmap, int32_t columnCount) override {
    const Entry* kept = nullptr;
    for (const Entry& e : entries) {
      const int64_t position = e.id.pageNo;
      if (position >= bitmap.bits.Count() || !bitmap.bits.Get(position)) continue;
      if (kept && CompareKeys(kept->record.data(), e.record.data(), columnCount) == 0)
        bitmap.bits.Set(position, false);
      else
        kept = &e;
    }
  }
  std::unique_ptr<TABSIndexScanState> CreateScanState(const TABSIndexBound& start, const TABSIndexBound& end,
                                                      bool forward) override {
    auto state = std::make_unique<TABSIndexScanState>();
    state->forward = forward;
    state->start = start;
    state->end = end;
    const size_t size = static_cast<size_t>(Fields().MemoryRecordSize());
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
  void FreeScanState(std::unique_ptr<TABSIndexScanState>& state) override { state.reset(); }
  bool ScanStep(int32_t sessionID, TABSIndexScanState& s, TABSRecordID& id) override {
    if (s.finished) return false;
    int at;
    if (!s.started) {
      s.started = true;
      if (!FindNearest(sessionID, s.forward ? s.start : s.end, s.forward, s.path)) {
        s.finished = true;
        return false;
      }
      at = s.path.levels[0].entryIndex;
    } else {
      at = s.path.levels[0].entryIndex + (s.forward ? 1 : -1);
    }
    if (at < 0 || at >= static_cast<int>(entries.size()) ||
        !EntrySatisfies(entries[static_cast<size_t>(at)], s.forward ? s.end : s.start)) {
      s.finished = true;
      return false;
    }
    SetPath(s.path, at);
    id = entries[static_cast<size_t>(at)].id;
    return true;
  }
  int CompareRecordKeys(const char* a, const char* b, int32_t columnCount) override {
    return CompareKeys(a, b, columnCount);
  }
  int BoundSide(TABSSearchCondition condition) override {
    return condition == scGreater || condition == scGreaterOrEqual ? -1
           : condition == scLower || condition == scLowerOrEqual   ? 1
                                                                   : 0;
  }
  int64_t EstimateRecordCount(int32_t, const TABSIndexBound& lower, const TABSIndexBound& upper) override {
    return std::count_if(entries.begin(), entries.end(),
                         [&](const Entry& e) { return EntrySatisfies(e, lower) && EntrySatisfies(e, upper); });
  }
  bool IsDuplicateForInsert(int32_t, const char* record) override {
    if (!def_.unique && !def_.primary) return false;
    return std::any_of(entries.begin(), entries.end(),
                       [&](const Entry& e) { return CompareKeys(e.record.data(), record, 0) == 0; });
  }
  bool IsDuplicateForUpdate(int32_t, const char* oldRecord, const char* newRecord, const TABSRecordID& id) override {
    if (!def_.unique && !def_.primary) return false;
    if (CompareKeys(oldRecord, newRecord, 0) == 0) return false;
    return std::any_of(entries.begin(), entries.end(), [&](const Entry& e) {
      return !(e.id == id) && CompareKeys(e.record.data(), newRecord, 0) == 0;
    });
  }
  bool IsDuplicateOfOther(int32_t, const char* record, const TABSRecordID& id) override {
    if (!def_.unique && !def_.primary) return false;
    return std::any_of(entries.begin(), entries.end(),
                       [&](const Entry& e) { return !(e.id == id) && CompareKeys(e.record.data(), record, 0) == 0; });
  }
  void InsertKey(int32_t, const char* record, const TABSRecordID& id) override {
    if (faults_.insertsUntilFailure == 0) {
      faults_.insertsUntilFailure = -1;
      throw EABSException(20018, "Index not found");
    }
    if (faults_.insertsUntilFailure > 0) --faults_.insertsUntilFailure;
    auto at = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) {
      const int c = CompareKeys(e.record.data(), record, 0);
      return c > 0 || (c == 0 && e.id.Compare(id) > 0);
    });
    entries.insert(at, Entry{Copy(record), id});
  }
  void DeleteKey(int32_t, const char* record, const TABSRecordID& id) override {
    for (auto it = entries.begin(); it != entries.end(); ++it)
      if (it->id == id && CompareKeys(it->record.data(), record, 0) == 0) {
        entries.erase(it);
        return;
      }
    throw EABSException(20027, "Index error: cannot delete entry. Entry not found");
  }
  void UpdateKey(int32_t sessionID, const char* oldRecord, const char* newRecord, const TABSRecordID& id,
                 int phase) override {
    if (CompareKeys(oldRecord, newRecord, 0) == 0) return;
    if (phase == 1)
      DeleteKey(sessionID, oldRecord, id);
    else
      InsertKey(sessionID, newRecord, id);
  }
  int32_t EntriesPerPage() override { return kModelPageEntries; }
  TABSRecordID RecordIdAtPath(const TABSKeyPath& path) override {
    if (path.levelCount != 1 || path.levels[0].entryIndex < 0 ||
        path.levels[0].entryIndex >= static_cast<int32_t>(entries.size()))
      throw EABSException(20068, "Index error: invalid position");
    return entries[static_cast<size_t>(path.levels[0].entryIndex)].id;
  }

 private:
  IndexFaults& faults_;
};

// BLOB values in a handle table; handle 0 means none.
class MapBlobManager : public TABSBlobManager {
 public:
  std::map<uint32_t, std::string> values;
  uint32_t nextHandle = 1;

  void StoreStream(int32_t sessionID, const TABSFieldDef& field, int fieldNo, char* record,
                   TABSStream& content) override {
    std::string bytes(static_cast<size_t>(content.Size()), '\0');
    content.Seek(0);
    content.Read(bytes.data(), content.Size());
    WriteBuffer(sessionID, field, fieldNo, record, bytes.data(), static_cast<int64_t>(bytes.size()));
  }
  void FreeFieldValue(int32_t, const TABSFieldDef& field, int, char* record) override {
    values.erase(GetBlobHandle(field, record));
    SetBlobHandle(field, record, 0);
  }
  std::unique_ptr<TABSStream> OpenStream(int32_t sessionID, const TABSFieldDef& field, int fieldNo,
                                         const char* record) override {
    return std::make_unique<TABSMemoryStream>(ReadBuffer(sessionID, field, fieldNo, record));
  }
  std::string ReadBuffer(int32_t, const TABSFieldDef& field, int fieldNo, const char* record) override {
    if (IsFieldNull(record, fieldNo)) return {};
    auto it = values.find(GetBlobHandle(field, record));
    return it == values.end() ? std::string() : it->second;
  }
  void WriteBuffer(int32_t sessionID, const TABSFieldDef& field, int fieldNo, char* record, const char* data,
                   int64_t size) override {
    FreeFieldValue(sessionID, field, fieldNo, record);
    values[nextHandle] = std::string(data, static_cast<size_t>(size));
    SetBlobHandle(field, record, nextHandle++);
    SetFieldNull(record, fieldNo, false);
  }
};

class MapPageManager : public TABSBasePageManager {
 public:
  int commits = 0, rollbacks = 0;
  int failCommits = 0;  // the next this many commits raise "Database is locked"
  void CommitSession(int32_t, bool) override {
    if (failCommits > 0) {
      --failCommits;
      throw EABSException(20213, "Database is locked");
    }
    ++commits;
  }
  void RollbackSession(int32_t) override { ++rollbacks; }
};

class MapTableData : public TABSTableData {
 public:
  using TABSTableData::TABSTableData;
  IndexFaults faults;
  MapPageManager pages;
  MapBlobManager* blobs = nullptr;  // owned by the table data once created
  std::vector<std::string> hookCalls;

  std::unique_ptr<TABSBaseRecordManager> CreateRecordManager() override {
    return std::make_unique<MapRecordManager>(FieldDefs().MemoryRecordSize());
  }
  std::unique_ptr<TABSIndex> CreateIndexObject(TABSBaseIndexManager& manager, const TABSIndexDef&) override {
    return std::make_unique<MapIndex>(&manager, faults);
  }
  std::unique_ptr<TABSBlobManager> CreateBlobManager() override {
    auto made = std::make_unique<MapBlobManager>();
    blobs = made.get();
    return made;
  }
  TABSBasePageManager& PageManager() override { return pages; }
  void CommitHook(TABSSessionInfo&, bool inTransaction) override {
    hookCalls.push_back(inTransaction ? "commit in transaction" : "commit");
  }
  void RollbackHook(TABSSessionInfo&, bool inTransaction) override {
    hookCalls.push_back(inTransaction ? "rollback in transaction" : "rollback");
  }
  void CreateTable(TABSSessionInfo&) override {}
  int64_t GetRecordCount(TABSSessionInfo&) override { return RecordManager().RecordCount(); }
  int64_t RecordIdToPosition(TABSSessionInfo&, const TABSRecordID& id) override { return id.pageNo; }
  bool PositionToRecordId(TABSSessionInfo&, int64_t position, TABSRecordID& id) override {
    if (!Records().rows.count(static_cast<int32_t>(position))) return false;
    id = {static_cast<int32_t>(position), 0};
    return true;
  }
  int64_t GetPhysicalRecNo(TABSSessionInfo& session, const TABSRecordID& id) override {
    return RecordManager().ApproxRecNo(session.sessionID, id);
  }
  bool SetPhysicalRecNo(TABSSessionInfo&, int64_t recNo, TABSRecordID& id) override {
    if (recNo < 1 || recNo > static_cast<int64_t>(Records().rows.size())) return false;
    id = {std::next(Records().rows.begin(), recNo - 1)->first, 0};
    return true;
  }

  MapRecordManager& Records() { return static_cast<MapRecordManager&>(RecordManager()); }
  MapIndex& Index(const std::string& name) {
    return static_cast<MapIndex&>(IndexManager().IndexByID(IndexManager().IndexDefs().IndexByName(name)->ObjectID()));
  }
};

class MapDatabaseData : public TABSDatabaseData {
 public:
  MapDatabaseData() : TABSDatabaseData("TEST") {}
  TABSObjectIDGenerator ids;
  MapPageManager pages;
  std::unique_ptr<TABSTableData> CreateTableData(const std::string& name) override {
    return std::make_unique<MapTableData>(*this, name);
  }
  int32_t NextObjectID() override { return ids.Next(); }
  TABSBasePageManager* DatabasePageManager() override { return &pages; }
};

}  // namespace testsupport
