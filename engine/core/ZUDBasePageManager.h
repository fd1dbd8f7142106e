// ZUDBasePageManager: what the table and database data need of a page
// manager: committing and rolling back one session's changes. The disk
// page manager (storage layer) and the memory page manager of in-memory
// tables implement it (TABSPageManager derives from it); the page
// operations themselves are theirs.
//
// Contract
//  1. CommitSession makes every change the session made through this page
//     manager durable (for the disk kind: written under the commit
//     protocol, flushed when `flush` is set).
//  2. RollbackSession forgets every change the session made since its last
//     commit; a table's page manager also brings what the table data caches
//     of its stored state (counts, counters) back to what is committed.
//
// Thread use: under the database data's lock.
#pragma once

#include <cstdint>

class TABSBasePageManager {
 public:
  virtual ~TABSBasePageManager() = default;
  virtual void CommitSession(int32_t sessionID, bool flush) = 0;
  virtual void RollbackSession(int32_t sessionID) = 0;
};
