// TablePagesCache: what a process knows about the tables its sessions are
// working on, so that pages cached from the file are checked against other
// processes' commits at most once per change of a table.
//
// Contract
//  1. TABSDiskTablePagesCacheManager keeps one TABSDTPCSessionInfo per
//     SessionID (index SessionID + 2, created on demand; SessionID below -2
//     is refused with "Invalid Session ID"). A session info keeps one
//     TABSDTPCTableInfo per table id, created on first use, and a stack of
//     current table ids.
//  2. A table info's stamp is the table's modification counter, known only
//     while the session holds a read or write lock on the table: whenever
//     both counters are 0 after a change, StampKnown is false and TableStamp
//     -1. SetStamp takes effect only while the stamp is unknown.
//  3. GetCurrentStamp answers true only when the session has a current
//     table, holds a lock on it and its stamp is known; it names the table.
//  4. ForgetWriteLocks drops every write count of a session on a table at
//     once: a commit or rollback releases its transaction locks whatever
//     their counts.
//
// Thread use: the caller's database lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

struct TABSDTPCTableInfo {
  int32_t TableID = 0;
  int32_t ReadLocks = 0;
  int32_t WriteLocks = 0;
  bool StampKnown = false;
  int32_t TableStamp = -1;

  void ForgetStampIfUnlocked();
};

class TABSDTPCSessionInfo {
 public:
  TABSDTPCTableInfo& Table(int32_t tableId);
  TABSDTPCTableInfo* FindTable(int32_t tableId);
  std::vector<int32_t> CurrentTables;

 private:
  std::map<int32_t, TABSDTPCTableInfo> tables_;
};

class TABSDiskTablePagesCacheManager {
 public:
  void AddReadLock(int32_t sessionID, int32_t tableId);
  void RemoveReadLock(int32_t sessionID, int32_t tableId);
  void AddWriteLock(int32_t sessionID, int32_t tableId);
  void RemoveWriteLock(int32_t sessionID, int32_t tableId);
  bool IsStampKnown(int32_t sessionID, int32_t tableId);
  void SetStamp(int32_t sessionID, int32_t tableId, int32_t stamp);
  void PushCurrentTable(int32_t sessionID, int32_t tableId);
  void PopCurrentTable(int32_t sessionID);
  void ForgetWriteLocks(int32_t sessionID, int32_t tableId);
  bool HoldsWriteLock(int32_t sessionID, int32_t tableId);
  bool GetCurrentStamp(int32_t sessionID, int32_t& tableId, int32_t& stamp);

 private:
  TABSDTPCSessionInfo& Session(int32_t sessionID);
  std::vector<std::unique_ptr<TABSDTPCSessionInfo>> sessions_;
};
