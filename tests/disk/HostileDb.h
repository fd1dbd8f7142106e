// Helpers of the hostile-file tests: a database built by the engine, read
// and changed through one single-user connection, then damaged at known
// offsets of its file (docs/file-format.md).
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "DiskTestUtil.h"
#include "core/ZUDRecordLayout.h"
#include "core/ZUDVariant.h"
#include "disk/DiskDatabaseData.h"

namespace hostile {

using tiv::disk::GetI32;
using tiv::disk::GetU16;
using tiv::disk::PutI32;

constexpr int kPageSize = 4096;
constexpr int kData = kPageSize - tiv::disk::kPageHeaderSize;

// File offset of data byte `offset` of page `pageNo` (a new file: S = 0).
inline size_t At(int32_t pageNo, int offset) {
  return static_cast<size_t>(tiv::disk::kNewPageAreaOffset + int64_t{pageNo} * kPageSize + tiv::disk::kPageHeaderSize +
                             offset);
}

struct Column {
  const char* name;
  TABSDataType type;
  int32_t size;
};

// One single-user connection to a database file.
struct Connection {
  std::unique_ptr<TABSDiskDatabaseData> data;
  TABSSessionInfo session;

  explicit Connection(const std::string& path) {
    data = std::make_unique<TABSDiskDatabaseData>("HOSTIL");
    data->Open(path, TABSPassword{}, false, false);
    data->Connect(session);
  }
  ~Connection() {
    try {
      data->Disconnect(session);
    } catch (const EABSException&) {
      // closing anyway
    }
  }

  TABSDiskTableData& Create(const std::string& name, std::initializer_list<Column> columns) {
    TABSFieldDefs fields;
    for (const Column& c : columns) {
      TABSFieldDef* f = fields.AddNew();
      f->SetName(c.name);
      f->SetDataType(c.type, c.size);
    }
    return data->CreateTable(session, name, fields, TABSIndexDefs());
  }

  // Inserts a row with `id` (field 0); `more` fills the rest.
  TABSRecordID Insert(const std::string& table, int32_t id,
                      const std::function<void(TABSDiskTableData&, char*)>& more) {
    TABSDiskTableData& t = data->OpenTable(session, table);
    std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
    t.InitRecordForInsert(r.data());
    TABSVariant v;
    v.SetAsInteger(id);
    WriteFieldValue(t.FieldDefs(), r.data(), 0, v);
    if (more) more(t, r.data());
    const TABSRecordID rid = t.InsertRecord(session, r.data());
    if (t.FieldDefs().Count() > 1 && t.FieldDefs()[1]->IsBlob())
      lastBlob = TABSBlobReference::Read(r.data() + t.FieldDefs()[1]->MemoryOffset());
    return rid;
  }

  // The ids of every row the table's record pages hold, walked like a cursor.
  std::multiset<int32_t> Ids(const std::string& table) {
    TABSDiskTableData& t = data->OpenTable(session, table);
    std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
    TABSGetRecordRequest q;
    q.mode = grmNext;
    q.beforeFirst = true;
    q.destination = r.data();
    std::multiset<int32_t> ids;
    for (;;) {
      t.RecordManager().GetRecord(session.sessionID, q);
      if (q.result != grrFound) break;
      q.beforeFirst = false;
      TABSVariant v;
      ReadFieldValue(t.FieldDefs(), r.data(), 0, v);
      ids.insert(v.AsInteger());
    }
    return ids;
  }

  TABSBlobReference lastBlob;
};

inline std::string Noise(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (char& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  return s;
}

}  // namespace hostile
