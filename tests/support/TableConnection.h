// TableConnection: one connection of a TABSDiskDatabaseData to a database
// file, with one table opened and a record buffer of its size: what most
// disk tests and their helper processes hold. Multi-user unless asked, over
// the real file system unless a test gives another. The destructor
// disconnects and reports nothing: a test that ends on an engine error still
// closes.
#pragma once

#include <string>
#include <vector>

#include "disk/DiskDatabaseData.h"

struct TableConnection {
  TABSDiskDatabaseData data;
  TABSSessionInfo session;
  TABSDiskTableData* table = nullptr;
  std::vector<char> record;

  TableConnection(const std::string& path, const std::string& tableName, const char* name = "TEST",
                  bool multiUser = true, tiv::os::FileSystem& fs = tiv::os::FileSystem::Default())
      : data(name, fs) {
    session.multiUser = multiUser;
    data.Open(path, TABSPassword{}, multiUser, false);
    data.Connect(session);
    table = &data.OpenTable(session, tableName);
    record.resize(static_cast<size_t>(table->FieldDefs().MemoryRecordSize()));
  }
  ~TableConnection() {
    try {
      data.Disconnect(session);
    } catch (const EABSException&) {
      // closing anyway
    }
  }
  TableConnection(const TableConnection&) = delete;
  TableConnection& operator=(const TableConnection&) = delete;
};
