// Test-only storage for the B+-tree tests, in core over memory pages and
// in disk over a database file: the in-memory page manager with small
// pages (tests damage its stored bytes and put them back), a table of
// memory records the record index reads through, index definitions by
// column text, and the index's leaf order walked both ways.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/ABSBTreePageIndex.h"
#include "core/ABSBTreeRecordIndex.h"
#include "core/MemoryPageManager.h"
#include "core/ZUDExcept.h"
#include "support/EngineError.h"
#include "support/FieldList.h"

namespace btreetest {

constexpr int32_t kSession = 0;

// Small pages with the 40-byte header make deep trees from few keys and
// keep the page type checked.
class MemoryPageManager : public TABSMemoryPageManager {
 public:
  explicit MemoryPageManager(uint16_t pageSize = 512) : TABSMemoryPageManager(pageSize, tiv::page::kPageHeaderSize) {
    SetCacheCapacity(64);
  }
  // Every committed page image, to put back after a test damaged one.
  using Snapshot = std::map<int32_t, std::vector<uint8_t>>;
  Snapshot Save() {
    Snapshot saved;
    for (int32_t n = 0; n < GetPageCount(); ++n)
      if (const uint8_t* image = StoredPage(n)) saved[n].assign(image, image + PageSize());
    return saved;
  }
  void Restore(const Snapshot& saved) {
    for (const auto& [n, image] : saved) std::memcpy(StoredPage(n), image.data(), image.size());
  }
};

// The records of one table, by slot (record identifier page number).
class RecordTable : public TABSIndexRecordSource {
 public:
  explicit RecordTable(const std::vector<FieldShape>& columns) { AddFields(fields, columns); }
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
