// A database file laid out for the lock tests: a sessions area at page 10
// and one table's locks file from page 11 (two pages, so 500 slots cross a
// page), built over pages the file really has. Every process derives the
// same layout from MaxConnections alone.
#pragma once

#include <memory>
#include <string>

#include "DiskTestUtil.h"
#include "disk/LockByteArea.h"
#include "disk/LockManager.h"
#include "disk/LockTablesFile.h"
#include "disk/SessionsFile.h"

constexpr int32_t kSessionsPage = 10;
constexpr int32_t kLocksFirstPage = 11;
constexpr int32_t kCounterPage = 14;  // data for the contention test
constexpr int32_t kLockTestPages = 16;

inline void CreateLockTestDb(const std::string& path) {
  CreateDatabase(path);
  TABSDiskPageManager pm;
  OpenDb(pm, path);
  pm.ExtendFile(kLockTestPages);
  pm.CloseDatabaseFile();
}

// One process's view: its own open of the file, the sessions area, one
// table's locks file and a lock manager.
struct LockTestView {
  explicit LockTestView(const std::string& path, int32_t maxConnections, bool exclusive = false) {
    OpenDb(pm, path, true, exclusive);
    sessionsArea = std::make_unique<TABSPageLockByteArea>(pm, std::vector<int32_t>{kSessionsPage}, maxConnections);
    locksArea = std::make_unique<TABSPageLockByteArea>(pm, std::vector<int32_t>{kLocksFirstPage, kLocksFirstPage + 1},
                                                       maxConnections * TABSTableLocksFile::kBytesPerSlot);
    sessions = std::make_unique<TABSActiveSessionsFile>(*sessionsArea);
    locks = std::make_unique<TABSTableLocksFile>(*locksArea);
    manager = std::make_unique<TABSDatabaseTableLockManager>(maxConnections, exclusive);
    sessions->SetLockRetry({5, 5});
    manager->SetLockRetry({5, 5});
  }

  TABSDiskPageManager pm;
  std::unique_ptr<TABSPageLockByteArea> sessionsArea, locksArea;
  std::unique_ptr<TABSActiveSessionsFile> sessions;
  std::unique_ptr<TABSTableLocksFile> locks;
  std::unique_ptr<TABSDatabaseTableLockManager> manager;
};
