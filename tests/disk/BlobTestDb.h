// A database for the BLOB tests between processes: table "notas" with an
// int32 `id` (unique index `por_id`) and a MEMO `texto`, one connection to
// it, and the memo each id carries. Memos are derived from their id alone,
// so any process can tell whether a row holds its own value: small ones
// (below a page, several share a small BLOB page) and large ones (over a
// page, several data pages and a page list) mixed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/ZUDVariant.h"
#include "disk/DiskDatabase.h"
#include "disk/DiskDatabaseData.h"
#include "support/TableConnection.h"

constexpr const char* kMemoTable = "notas";

// Letters from a per-id generator: no two ids share a memo, and nothing in
// it compresses to a different size class.
inline std::string MemoOf(int32_t id) {
  uint32_t x = static_cast<uint32_t>(id) * 2654435761u + 12345u;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  // One id in five is large (4.5 to 10 KB on 4 KB pages); the others run
  // from 20 bytes to 2.6 KB, so a small page holds one to many of them.
  const uint32_t size = id % 5 == 0 ? 4500 + next() % 5500 : 20 + next() % 2600;
  std::string memo = "id" + std::to_string(id) + ":";
  while (memo.size() < size) memo += static_cast<char>('a' + next() % 26);
  return memo;
}

inline void CreateMemoTableDb(const std::string& path, int32_t maxConnections) {
  TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, maxConnections);
  TABSDiskDatabaseData data("MAKE");
  TABSSessionInfo session;
  session.multiUser = true;
  data.Open(path, TABSPassword{}, true, false);
  data.Connect(session);
  TABSFieldDefs fields;
  TABSFieldDef* id = fields.AddNew();
  id->SetName("id");
  id->SetDataType(aftInteger);
  TABSFieldDef* memo = fields.AddNew();
  memo->SetName("texto");
  memo->SetDataType(aftMemo);
  TABSIndexDefs indexes;
  TABSIndexDef* byId = indexes.AddNew();
  byId->SetName("por_id");
  byId->unique = true;
  byId->FillColumns({"id"}, {"ASC"}, {"CASE"});
  data.CreateTable(session, kMemoTable, fields, indexes);
  data.Disconnect(session);
}

struct MemoTableConnection : TableConnection {
  explicit MemoTableConnection(const std::string& path) : TableConnection(path, kMemoTable, "MEMOS") {}

  // The memo goes in the way a program fills a new record: written into
  // the record buffer first, the record inserted after.
  TABSRecordID Insert(int32_t id) {
    table->InitRecordForInsert(record.data());
    TABSVariant v;
    v.SetAsInteger(id);
    WriteFieldValue(table->FieldDefs(), record.data(), 0, v);
    const std::string memo = MemoOf(id);
    table->WriteBlobBuffer(session, record.data(), 1, memo.data(), static_cast<int64_t>(memo.size()));
    return table->InsertRecord(session, record.data());
  }

  // id -> memo of every record, stepped through like a cursor.
  std::multimap<int32_t, std::string> Rows() {
    TABSTableCursor cursor;
    table->PrepareCursor(cursor);
    std::multimap<int32_t, std::string> rows;
    while (table->FetchRecord(session, cursor, grmNext) == grrFound) {
      TABSVariant id;
      ReadFieldValue(table->FieldDefs(), cursor.Record(), 0, id);
      rows.emplace(id.AsInteger(), table->ReadBlobBuffer(session, cursor.Record(), 1));
    }
    return rows;
  }
};
