// LocalSession: TABSLocalSession, a session of this process on one
// database, and the process-wide list of the database data objects the
// sessions share.
//
// A session names its database by file name and database name. Every
// session of the process on the same database shares one database data
// object (and so one page cache, one lock list and one set of table data
// objects); the list creates it on the first connection and frees it when
// the last session leaves.
//
// Contract
//  1. Database name "MEMORY" (any case) selects the process's in-memory
//     database and "TEMP" its temporary database (ZUDMemEngine.h), shared
//     by every session on them and living from the engine's start to its
//     shutdown (Engine.h; before the start 20007); they have no
//     transactions (30350). Any other name is a disk database: file name
//     and database name identify it. The database name
//     compares case-insensitively; the file name compares exactly after
//     making it absolute and normal, since on Linux two files may differ in
//     case only.
//  2. Connect: the first session opens the file with the session's mode
//     (multi-user or single-user, exclusive) and password; a later session
//     on an open database whose password differs is refused with "Database
//     password is invalid." (20298). A session connected twice is refused
//     (it stays connected once).
//  3. Disconnect rolls back what the session left (the disk database does)
//     and, when no session is left, closes the database and frees the
//     object. It never raises: a failure to give something back is
//     reported on the standard error stream.
//  4. CreateDatabase makes a new file; on a database open in this process
//     it raises "Cannot create database. Database is already open" (20092).
//  5. StartTransaction, Commit and Rollback run the session's transaction;
//     Commit and Rollback outside one raise 20229.
//
// Thread use: one thread at a time per session; the list is guarded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/ZUDMemEngine.h"
#include "disk/ZUDDiskEngine.h"
#include "local/BaseSession.h"

struct TABSConnectOptions {
  std::string databaseName = "DEFAULT";
  std::string fileName;
  TABSPassword password;
  bool multiUser = false;
  bool exclusive = false;
};

class TABSLocalSession : public TABSBaseSession {
 public:
  TABSLocalSession() = default;
  ~TABSLocalSession() override;
  TABSLocalSession(const TABSLocalSession&) = delete;
  TABSLocalSession& operator=(const TABSLocalSession&) = delete;

  void Connect(const TABSConnectOptions& options);
  void Disconnect() noexcept;
  bool Connected() const { return data_ != nullptr; }
  // Contract 4.
  static void CreateDatabase(const std::string& fileName, const TABSPassword& password,
                             int32_t maxConnections = TABSDiskDatabase::kDefaultMaxConnections);

  void StartTransaction();
  void Commit(bool flush = true);
  void Rollback();
  bool InTransaction() const { return inTransaction; }

  bool TableExists(const std::string& tableName);
  std::vector<std::string> TableNames();
  // The database data of the connection; "Pointer is nil" (20151) when
  // not connected.
  TABSDatabaseData& DatabaseData();
  // The disk database data, or null for another kind.
  TABSDiskDatabaseData* DiskData() const;
  // Whether the disk database was found in need of a repair when it was
  // opened (DiskDatabaseData.h); false for the other kinds.
  bool NeedsRepair() const { return DiskData() && DiskData()->NeedsRepair(); }
  bool OldFormat() const { return DiskData() && DiskData()->OldFormat(); }
  // The in-memory or temporary database data, or null for a disk one.
  TABSMemoryDatabaseData* MemoryData() const;
  const TABSConnectOptions& Options() const { return options_; }

  // The number of database data objects the process holds (for tests of
  // contract 3).
  static int OpenDatabaseCount();

 private:
  // The disk database data; "Pointer is nil" (20151) for another kind.
  TABSDiskDatabaseData& Disk();

  TABSConnectOptions options_;
  TABSDatabaseData* data_ = nullptr;
};
