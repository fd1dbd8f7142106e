// A database shared by the session tests' processes: table "filas" with an
// int32 `id` (unique index `por_id`), an int32 `owner` and a string `nombre`,
// and one connection of a TABSDiskDatabaseData to it (over the real file
// system or one a test gives) with the helpers the tests need: insert a row,
// read every row the way a cursor does (under the table's read locks), count.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/ZUDVariant.h"
#include "disk/DiskDatabase.h"
#include "disk/DiskDatabaseData.h"
#include "os/OsFile.h"
#include "support/FieldList.h"
#include "support/TableConnection.h"

constexpr const char* kSharedTable = "filas";

inline void CreateSharedTableDb(const std::string& path, int32_t maxConnections) {
  TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, maxConnections);
  TABSDiskDatabaseData data("MAKE");
  TABSSessionInfo session;
  session.multiUser = true;
  data.Open(path, TABSPassword{}, true, false);
  data.Connect(session);
  TABSFieldDefs fields;
  AddFields(fields, {{"id", aftInteger}, {"owner", aftInteger}, {"nombre", aftString, 20}});
  TABSIndexDefs indexes;
  TABSIndexDef* byId = indexes.AddNew();
  byId->SetName("por_id");
  byId->unique = true;
  byId->FillColumns({"id"}, {"ASC"}, {"CASE"});
  data.CreateTable(session, kSharedTable, fields, indexes);
  data.Disconnect(session);
}

// One row as a cursor reads it; a row is whole when its name is the one
// Insert gives its id.
struct SharedRow {
  int32_t id = 0;
  int32_t owner = 0;
  std::string nombre;
  bool Whole() const { return nombre == "fila " + std::to_string(id); }
};

struct SharedTableConnection : TableConnection {
  explicit SharedTableConnection(const std::string& path, bool multiUser = true,
                                 tiv::os::FileSystem& fs = tiv::os::FileSystem::Default())
      : TableConnection(path, kSharedTable, "SHARED", multiUser, fs) {}

  TABSRecordID Insert(int32_t id, int32_t owner) {
    Fill(id, owner);
    return table->InsertRecord(session, record.data());
  }
  // The record `at` becomes row `id` of `owner`.
  void Update(const TABSRecordID& at, int32_t id, int32_t owner) {
    Fill(id, owner);
    table->UpdateRecord(session, at, record.data());
  }
  bool Delete(const TABSRecordID& at) { return table->DeleteRecord(session, at); }

  // The record buffer as row `id` of `owner`, named "fila <id>".
  void Fill(int32_t id, int32_t owner) {
    table->InitRecordForInsert(record.data());
    TABSVariant v;
    v.SetAsInteger(id);
    WriteFieldValue(table->FieldDefs(), record.data(), Field("id"), v);
    TABSVariant o;
    o.SetAsInteger(owner);
    WriteFieldValue(table->FieldDefs(), record.data(), Field("owner"), o);
    TABSVariant n;
    n.SetAsString("fila " + std::to_string(id));
    WriteFieldValue(table->FieldDefs(), record.data(), Field("nombre"), n);
  }

  // id -> owner of every record, stepped through like a cursor in physical
  // order (each step is a read operation with its read lock).
  std::multimap<int32_t, int32_t> Rows() {
    TABSTableCursor cursor;
    table->PrepareCursor(cursor);
    std::multimap<int32_t, int32_t> rows;
    while (table->FetchRecord(session, cursor, grmNext) == grrFound) {
      TABSVariant id, owner;
      ReadFieldValue(table->FieldDefs(), cursor.Record(), Field("id"), id);
      ReadFieldValue(table->FieldDefs(), cursor.Record(), Field("owner"), owner);
      rows.emplace(id.AsInteger(), owner.AsInteger());
    }
    return rows;
  }

  // Every row in physical order with its name, one read operation a step.
  std::vector<SharedRow> RowsInOrder() {
    TABSTableCursor cursor;
    table->PrepareCursor(cursor);
    std::vector<SharedRow> rows;
    while (table->FetchRecord(session, cursor, grmNext) == grrFound) {
      TABSVariant id, owner, nombre;
      ReadFieldValue(table->FieldDefs(), cursor.Record(), Field("id"), id);
      ReadFieldValue(table->FieldDefs(), cursor.Record(), Field("owner"), owner);
      ReadFieldValue(table->FieldDefs(), cursor.Record(), Field("nombre"), nombre);
      rows.push_back({id.AsInteger(), owner.AsInteger(), nombre.IsNull() ? std::string() : nombre.AsString()});
    }
    return rows;
  }

  int64_t Count() { return table->GetRecordCount(session); }

  // Short waits for the refusals a test provokes on purpose.
  void ShortLockTimes() {
    TABSTableLockTimes times;
    times.readAttempts = times.writeRetries = times.deleteRetries = times.transactionAttempts = 5;
    times.readDelayMs = times.writeRetryDelayMs = times.deleteRetryDelayMs = times.transactionDelayMs = 10;
    data.TableLocks().SetTableLockTimes(times);
    data.TableLocks().SetCommitLockTimes(10, 5);
  }
  int Field(const std::string& name) const { return table->FieldDefs().IndexOfName(name); }
};
