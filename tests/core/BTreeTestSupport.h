// Test-only storage for the B+-tree tests: a page manager that keeps its
// committed pages in a map (so tests can damage stored bytes), and a table
// of memory records the record index reads through.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ABSBTreePageIndex.h"
#include "ABSBTreeRecordIndex.h"
#include "DiskFormat.h"
#include "ZUDExcept.h"
#include "ZUDPage.h"

namespace btreetest {

constexpr int32_t kSession = 0;

// Pages live in `store` once committed; page numbers freed at commit are
// handed out again. Small pages make deep trees from few keys.
class MemoryPageManager : public TABSPageManager {
 public:
  explicit MemoryPageManager(uint16_t pageSize = 512) {
    SetPageGeometry(pageSize, tiv::disk::kPageHeaderSize);
    SetCacheCapacity(64);
  }
  void AllocPageNo(TABSPage* page) override {
    if (!free_.empty()) {
      page->PageNo = free_.back();
      free_.pop_back();
    } else {
      page->PageNo = next_++;
    }
    page->AllocBuffer();
  }
  void FreePageNo(int32_t pageNo) override {
    store.erase(pageNo);
    free_.push_back(pageNo);
  }
  bool ReadPage(TABSPage* page) override {
    auto it = store.find(page->PageNo);
    if (it == store.end()) return false;
    if (!page->OwnsBuffer() || page->BufferSize() < PageSize()) page->AllocBuffer();
    std::memcpy(page->Buffer(), it->second.data(), PageSize());
    return true;
  }
  void WritePage(TABSPage* page) override {
    store[page->PageNo].assign(page->Buffer(), page->Buffer() + PageSize());
  }
  // The index area of a committed page, for tests that damage it.
  uint8_t* StoredArea(int32_t pageNo) { return store.at(pageNo).data() + PageHeaderSize(); }

  using Snapshot = std::map<int32_t, std::vector<uint8_t>>;
  Snapshot store;

 private:
  int32_t next_ = 0;
  std::vector<int32_t> free_;
};

struct ColumnSpec {
  std::string name;
  TABSDataType type;
  int32_t size = 0;
};

// The records of one table, by slot (record identifier page number).
class RecordTable : public TABSIndexRecordSource {
 public:
  explicit RecordTable(const std::vector<ColumnSpec>& columns) {
    for (const ColumnSpec& c : columns) {
      TABSFieldDef* f = fields.AddNew();
      f->SetName(c.name);
      f->SetDataType(c.type, c.size);
    }
    fields.CalculateOffsets();
  }
  bool ReadRecord(int32_t, const TABSRecordID& id, char* destination) override {
    ++reads;
    auto it = rows.find(id.pageNo);
    if (it == rows.end()) return false;
    std::memcpy(destination, it->second.data(), it->second.size());
    return true;
  }
  void ForEachRecord(int32_t, const std::function<void(const char*, const TABSRecordID&)>& visit) override {
    for (const auto& [slot, bytes] : rows) visit(bytes.data(), TABSRecordID{slot, 0});
  }
  std::string NewRecord() const {
    std::string r(static_cast<size_t>(fields.MemoryRecordSize()), '\0');
    InitNewRecord(fields, r.data());
    return r;
  }
  void SetInt(std::string& r, int field, int64_t v) const {
    TABSVariant value;
    value.SetAsLargeint(v);
    WriteFieldValue(fields, r.data(), field, value);
  }
  void SetDouble(std::string& r, int field, double v) const {
    TABSVariant value;
    value.SetAsDouble(v);
    WriteFieldValue(fields, r.data(), field, value);
  }
  void SetText(std::string& r, int field, const std::string& v) const {
    TABSVariant value;
    value.SetAsString(v);
    WriteFieldValue(fields, r.data(), field, value);
  }
  void SetNull(std::string& r, int field) const { SetFieldNull(r.data(), field, true); }
  TABSRecordID Add(const std::string& r) {
    rows[nextSlot] = r;
    return TABSRecordID{nextSlot++, 0};
  }

  TABSFieldDefs fields;
  std::map<int32_t, std::string> rows;
  int32_t nextSlot = 0;
  int64_t reads = 0;
};

// An index definition over named columns: "name", "name DESC",
// "name NOCASE", "name DESC NOCASE"; `maxIndexed` applies to every column.
inline TABSIndexDef MakeIndexDef(const std::vector<std::string>& columns, bool unique = false,
                                 int32_t maxIndexed = kDefaultMaxIndexedSize) {
  TABSIndexDef def;
  def.SetName("ix");
  def.unique = unique;
  def.SetColumnCount(static_cast<int>(columns.size()));
  for (size_t i = 0; i < columns.size(); ++i) {
    TABSIndexColumn& c = def.Column(static_cast<int>(i));
    const std::string& columnText = columns[i];
    c.fieldName = columnText.substr(0, columnText.find(' '));
    c.descending = columnText.find(" DESC") != std::string::npos;
    c.caseInsensitive = columnText.find(" NOCASE") != std::string::npos;
    c.maxIndexedSize = maxIndexed;
  }
  return def;
}

// Runs fn and checks it raises EABSException with this code.
inline void ExpectEngineError(const std::function<void()>& fn, int32_t code) {
  try {
    fn();
    ADD_FAILURE() << "no error raised, expected " << code;
  } catch (const EABSException& e) {
    EXPECT_EQ(e.NativeError(), code) << e.what();
  }
}

// Record identifiers of the index in leaf order, walked forward and checked
// against the walk backward.
inline std::vector<int32_t> IndexOrder(TABSBTreeRecordIndex& index) {
  std::vector<int32_t> forward, backward;
  TABSBTreePath path;
  if (index.First(kSession, path)) {
    do forward.push_back(index.RecordIdAtPath(kSession, path).pageNo);
    while (index.Next(kSession, path));
  }
  if (index.Last(kSession, path)) {
    do backward.push_back(index.RecordIdAtPath(kSession, path).pageNo);
    while (index.Prior(kSession, path));
  }
  std::vector<int32_t> reversed(backward.rbegin(), backward.rend());
  EXPECT_EQ(forward, reversed) << "the leaf chain differs walked both ways";
  return forward;
}

}  // namespace btreetest
