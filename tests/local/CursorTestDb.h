// CursorTestDb: the shared file of the cursor tests that use more than one
// connection: a table "items" (k INTEGER unique, s STRING(20), n INTEGER
// that may be NULL, memo MEMO) with rows k = 1..rows, s = "item<k>", n NULL
// for even k; and a connection to it with one cursor on the table.
#pragma once

#include <memory>
#include <string>

#include "local/ZUDLocalEngine.h"
#include "support/FieldList.h"

enum ItemColumn { kItemK, kItemS, kItemN, kItemMemo };

inline void CreateItemsDb(const std::string& path, int rows) {
  TABSLocalSession::CreateDatabase(path, TABSPassword{}, 8);
  TABSLocalSession session;
  TABSConnectOptions options;
  options.fileName = path;
  session.Connect(options);
  TABSLocalCursor c(session);
  c.tableName = "items";
  TABSFieldDefs fields;
  AddFields(fields, {{"k", aftInteger, 0}, {"s", aftString, 20}, {"n", aftInteger, 0}, {"memo", aftMemo, 0}});
  TABSIndexDefs indexes;
  TABSIndexDef* byK = indexes.AddNew();
  byK->SetName("by_k");
  byK->unique = true;
  byK->FillColumns({"k"}, {"ASC"}, {"CASE"});
  c.CreateTable(fields, indexes);
  c.OpenTable();
  for (int k = 1; k <= rows; ++k) {
    c.InitRecordBuffer();
    TABSVariant key, text, number;
    key.SetAsInteger(k);
    c.SetFieldValue(kItemK, key);
    text.SetAsString("item" + std::to_string(k));
    c.SetFieldValue(kItemS, text);
    if (k % 2 == 1) {
      number.SetAsInteger(k * 10);
      c.SetFieldValue(kItemN, number);
    }
    if (c.Post(true) != crOK) throw std::runtime_error(c.LastErrorText());
  }
}

// One multi-user connection (database name `name`: connections with
// different names behave as different processes) with a cursor on "items"
// ordered by k.
struct ItemsConnection {
  TABSLocalSession session;
  std::unique_ptr<TABSLocalCursor> cursor;

  ItemsConnection(const std::string& path, const std::string& name) {
    TABSConnectOptions options;
    options.fileName = path;
    options.databaseName = name;
    options.multiUser = true;
    session.Connect(options);
    // Every wait of the engine bounded to half a second: a test that would
    // wait for a lock fails soon instead of after the default 90 seconds.
    session.DiskData()->SetLockWaits(TABSLockRetry{50, 10});
    cursor = std::make_unique<TABSLocalCursor>(session);
    cursor->tableName = "items";
    cursor->OpenTable();
    cursor->SetIndexName("by_k");
    // Short waits: a test waits for a refusal, never for long.
    cursor->lockWaits = {2, 10, 2, 10, 2, 10, 100};
  }
  TABSLocalCursor& operator*() { return *cursor; }
  TABSLocalCursor* operator->() { return cursor.get(); }

  bool Goto(int32_t k) {
    std::vector<char> key = cursor->NewKeyRecord();
    TABSVariant v;
    v.SetAsInteger(k);
    cursor->SetKeyField(key, "k", v);
    return cursor->GotoKey(key, 1, true);
  }
  std::string S() {
    TABSVariant v;
    cursor->GetFieldValue(kItemS, v);
    return v.IsNull() ? "<null>" : v.AsString();
  }
  void SetS(const std::string& s) {
    TABSVariant v;
    v.SetAsString(s);
    cursor->SetFieldValue(kItemS, v);
  }
};
