// Test-only storage behind the abstract table data interfaces: a record
// manager over a std::map and an index over a std::multimap of key bytes,
// with a switch that makes the Nth key insert fail.
#pragma once

#include <map>
#include <string>

#include "ZUDBaseEngine.h"
#include "ZUDExcept.h"

namespace testsupport {

class MapRecordManager : public TABSBaseRecordManager {
 public:
  explicit MapRecordManager(int32_t size) { recordSize_ = size; }
  std::map<int32_t, std::string> rows;
  int32_t nextSlot = 0;
  bool failNextDelete = false;

  void Clear(int32_t) override {
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
    std::map<int32_t, std::string>::iterator it;
    if (r.mode == grmCurrent)
      it = rows.find(r.recordID.pageNo);
    else if (r.mode == grmNext)
      it = r.beforeFirst ? rows.begin() : rows.upper_bound(r.recordID.pageNo);
    else
      it = rows.end();
    if (it == rows.end()) {
      r.result = r.mode == grmNext ? grrEOF : grrNotFound;
      return;
    }
    r.recordID = {it->first, 0};
    std::copy(it->second.begin(), it->second.end(), r.destination);
    r.result = grrFound;
  }
  int64_t ApproxRecNo(int32_t, const TABSRecordID& id) override {
    int64_t n = 1;
    for (const auto& row : rows) {
      if (row.first == id.pageNo) return n;
      ++n;
    }
    return -1;
  }
};

// Shared across the indexes of one test: the key insert that should fail.
struct IndexFaults {
  int insertsUntilFailure = -1;  // -1 = never; 0 = the next insert fails
};

class MapIndex : public TABSIndex {
 public:
  MapIndex(TABSBaseIndexManager* manager, const TABSFieldDefs& fields, IndexFaults& faults)
      : TABSIndex(manager), fields_(fields), faults_(faults) {}
  std::multimap<std::string, int32_t> keys;

  std::string Key(const char* record) const {
    std::string key;
    for (int i = 0; i < def_.ColumnCount(); ++i) {
      const int fieldNo = fields_.IndexOfName(def_.Column(i).fieldName);
      const TABSFieldDef& f = *fields_[fieldNo];
      if (IsFieldNull(record, fieldNo)) {
        key += '\0';
        continue;
      }
      key += '\1';
      key.append(record + f.MemoryOffset(), static_cast<size_t>(f.MemoryValueSize()));
    }
    return key;
  }
  void InsertKey(int32_t, const char* record, const TABSRecordID& id) override {
    if (faults_.insertsUntilFailure == 0) {
      faults_.insertsUntilFailure = -1;
      throw EABSException(20018, "Index not found");
    }
    if (faults_.insertsUntilFailure > 0) --faults_.insertsUntilFailure;
    keys.emplace(Key(record), id.pageNo);
  }
  void DeleteKey(int32_t, const char* record, const TABSRecordID& id) override {
    auto range = keys.equal_range(Key(record));
    for (auto it = range.first; it != range.second; ++it)
      if (it->second == id.pageNo) {
        keys.erase(it);
        return;
      }
  }
  bool KeyExists(int32_t, const char* record, const TABSRecordID* except) override {
    auto range = keys.equal_range(Key(record));
    for (auto it = range.first; it != range.second; ++it)
      if (!except || it->second != except->pageNo) return true;
    return false;
  }
  void Clear(int32_t) override { keys.clear(); }
  void Drop(int32_t) override { keys.clear(); }
  int32_t RootPageNo() const override { return keys.empty() ? -1 : 0; }

 private:
  const TABSFieldDefs& fields_;
  IndexFaults& faults_;
};

class MapTableData : public TABSTableData {
 public:
  using TABSTableData::TABSTableData;
  IndexFaults faults;

  std::unique_ptr<TABSBaseRecordManager> CreateRecordManager() override {
    return std::make_unique<MapRecordManager>(FieldDefs().MemoryRecordSize());
  }
  std::unique_ptr<TABSIndex> CreateIndexObject(TABSBaseIndexManager& manager) override {
    return std::make_unique<MapIndex>(&manager, FieldDefs(), faults);
  }
  void CreateTable(TABSSessionInfo&) override {}
  int64_t GetRecordCount(TABSSessionInfo&) override { return RecordManager().RecordCount(); }

  MapRecordManager& Records() { return static_cast<MapRecordManager&>(RecordManager()); }
  MapIndex& Index(const std::string& name) {
    return static_cast<MapIndex&>(IndexManager().IndexByID(IndexManager().IndexDefs().IndexByName(name)->ObjectID()));
  }
};

class MapDatabaseData : public TABSDatabaseData {
 public:
  MapDatabaseData() : TABSDatabaseData("TEST") {}
  TABSObjectIDGenerator ids;
  std::unique_ptr<TABSTableData> CreateTableData(const std::string& name) override {
    return std::make_unique<MapTableData>(*this, name);
  }
  int32_t NextObjectID() override { return ids.Next(); }
};

}  // namespace testsupport
