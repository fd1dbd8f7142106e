// LockManager: TABSDatabaseTableLockManager, the table and record locks of
// every connection of this process on one database, and the place where
// the whole multi-process lock protocol is written down.
//
// The lock protocol (every state shared between processes is a
// non-blocking byte-range lock on one byte of the database file, held
// through the process's one open of it; nothing is ever waited on inside
// the platform, and the kernel drops every lock of an open when it closes,
// also when its process dies, so a dead process never blocks the others):
//
//  byte                             holder / for how long       a waiter
//  -------------------------------  --------------------------  -----------------------------
//  sessions file, file lock         a connecting or             retries 4500 x 20 ms; Connect
//  (offset 0 of its first page)     disconnecting process,      searches even without it
//                                   for the slot search only    (SessionsFile.h)
//  sessions file, content byte n    connection with SessionID   Connect moves on to byte n+1;
//                                   n, connect to disconnect;   none free: 20094
//                                   a single-user process
//                                   holds all of them
//  locks file, file lock            a connection, around each   LockTable: BaseDelay/2 + a
//  (offset 0 of its first page)     test-and-change of the      random part below BaseDelay/2
//                                   table's lock bytes; for     ms, then again, Attempts times;
//                                   kind 6, for the whole       release paths: 4500 x 20 ms
//                                   exclusive access
//  locks file, byte k*N + s         slot s holds table lock of  is never waited on directly:
//  (k = 0..4)                       kind k, grant to release    the file lock holder tests it
//  locks file, byte 5*N + s and     slot s has locked the       LockRecord: DelayMs, Attempts
//  6 bytes at 6*N + 6*s             record whose id the 6       times, at most Attempts x
//                                   bytes hold                  DelayMs ms in all
//
//  Order: a thread takes the manager's critical section, then a locks
//  file's file lock, then changes lock bytes; it never holds two locks
//  files' file locks at once, except for tables it holds exclusively. The
//  header lock and the tables lock of the database (DiskPageManagerFile.h)
//  are never requested while a locks file's file lock is held by the same
//  thread, except under an exclusive access.
//
// Contract
//  1. In a database opened Exclusive every request is granted at once and
//     no byte, list or file is touched.
//  2. A request is granted only when, under the locks file's file lock, no
//     other slot holds a byte of a kind that forbids it (kLockCompatible);
//     a flagged transaction-write request ignores others' edit locks. Kind
//     6 is granted by keeping that file lock, so while it lasts every other
//     request on the table fails its attempt at once.
//  3. A slot's list and the locks files agree: an entry with OwnsByte has
//     its byte set (kind 6: the file lock held); an entry without it is
//     covered by an entry of the same slot and table that owns its byte,
//     or is a record lock inside an exclusive access. Before the covering
//     byte goes, the covered entries set their own (record locks: with
//     their identifier), so a lock never stands unprotected.
//  4. A release that cannot be done (file lock not obtained in 4500 x 20
//     ms) puts the entry back as it was and answers false; the bytes then
//     still say what the list says.
//  5. The critical section is released while sleeping between attempts
//     (unless InsideLock: the caller holds it and keeps it).
//  6. A delay of 0 (or 1) ms is valid everywhere: no sleep, no division.
//  7. The destructor never raises and touches no locks file (they may be
//     closed by then); lists that still hold entries report 20201 on the
//     standard error stream. The bytes go with the file's handle. No
//     destructor of the lock protocol raises: the file lock a request holds
//     for its test-and-change is released by a guard that reports a failed
//     release (the file's handle gone after a failed reconnect) on the
//     standard error stream and goes on.
//
// Thread use: any thread; the critical section guards the lists and every
// locks-file change. The page manager under the locks files is used only
// inside it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "disk/DiskPageManagerFile.h"
#include "disk/LockList.h"
#include "disk/LockTablesFile.h"

// Delays and attempts with which cursors take their locks.
struct TABSCursorLockTimes {
  static constexpr int32_t kOpenDelayMs = 100, kOpenAttempts = 50;
  static constexpr int32_t kReadDelayMs = 40, kReadAttempts = 2250;
  static constexpr int32_t kEditDelayMs = 100, kEditAttempts = 900;
  static constexpr int32_t kRecordDelayMs = 100, kRecordAttempts = 15;
  // Post: single attempts (0 ms, 1) repeated this often this far apart.
  static constexpr int32_t kPostRetries = 2250, kPostRetryDelayMs = 40;
  static constexpr int32_t kDeleteRetries = 900, kDeleteRetryDelayMs = 100;
  // Write locks of a commit.
  static constexpr int32_t kCommitDelayMs = 100, kCommitAttempts = 900;
};

// The delays and attempts with which the disk table data takes its read,
// write and transaction-write locks: the cursor times above unless a test
// sets shorter ones.
struct TABSTableLockTimes {
  int32_t readDelayMs = TABSCursorLockTimes::kReadDelayMs;
  int32_t readAttempts = TABSCursorLockTimes::kReadAttempts;
  int32_t writeRetries = TABSCursorLockTimes::kPostRetries;
  int32_t writeRetryDelayMs = TABSCursorLockTimes::kPostRetryDelayMs;
  int32_t deleteRetries = TABSCursorLockTimes::kDeleteRetries;
  int32_t deleteRetryDelayMs = TABSCursorLockTimes::kDeleteRetryDelayMs;
  int32_t transactionDelayMs = TABSCursorLockTimes::kEditDelayMs;
  int32_t transactionAttempts = TABSCursorLockTimes::kEditAttempts;
};

class TABSDatabaseTableLockManager {
 public:
  TABSDatabaseTableLockManager(int32_t maxConnections, bool exclusiveDatabase);
  ~TABSDatabaseTableLockManager();
  TABSDatabaseTableLockManager(const TABSDatabaseTableLockManager&) = delete;
  TABSDatabaseTableLockManager& operator=(const TABSDatabaseTableLockManager&) = delete;

  // Attempts and delay of the release paths (4500 x 20 ms unless a test
  // sets fewer).
  void SetLockRetry(TABSLockRetry retry) { retry_ = retry; }
  // Delay and attempts of the write locks LockModifiedTables takes and of
  // the edit locks ReleaseTransactionLocks keeps (100 ms, 900 unless a
  // test sets others).
  void SetCommitLockTimes(int32_t delayMs, int32_t attempts) {
    commitDelayMs_ = delayMs;
    commitAttempts_ = attempts;
  }

  void SetTableLockTimes(const TABSTableLockTimes& times) { tableTimes_ = times; }
  const TABSTableLockTimes& TableLockTimes() const { return tableTimes_; }

  bool LockTable(int32_t slot, TABSLockKind kind, bool flag, bool insideLock, int32_t baseDelayMs, int32_t attempts,
                 TABSTableLocksFile* file);
  bool UnlockTable(int32_t slot, TABSLockKind kind, bool force, bool checkHeld, TABSTableLocksFile* file);
  bool LockRecord(int32_t slot, TABSTableLocksFile* file, int32_t delayMs, int32_t attempts,
                  const TABSRecordID& record);
  bool UnlockRecord(int32_t slot, TABSTableLocksFile* file, const TABSRecordID& record);
  bool IsRecordLocked(int32_t slot, TABSTableLocksFile* file, const TABSRecordID& record);
  bool LockModifiedTables(int32_t slot);
  bool ReleaseTransactionLocks(int32_t slot);

  // The cursor open's lock: kind 6 when exclusive, else kind 0, with the
  // open's delay and attempts; refused: 20208 (exclusive) or 20209.
  void LockTableForOpen(int32_t slot, TABSTableLocksFile* file, bool exclusive, const std::string& tableName);

  int32_t MaxConnections() const { return static_cast<int32_t>(lists_.size()); }
  bool ExclusiveDatabase() const { return exclusiveDatabase_; }
  // A copy of a slot's entries (empty for a slot out of range).
  std::vector<TABSTableLockEntry> Entries(int32_t slot);

 private:
  TABSTableLockList* List(int32_t slot);
  bool TakeFileLockRetried(TABSTableLocksFile& file);
  void SleepBetweenAttempts(std::unique_lock<std::recursive_mutex>& guard, bool insideLock, int64_t ms);
  bool ReleaseOwnedLock(TABSTableLockList& list, int32_t slot, const TABSTableLockEntry& removed,
                        TABSTableLocksFile& file);
  bool SetCoveredBytes(TABSTableLockList& list, int32_t slot, TABSTableLocksFile& file, int32_t table);

  std::recursive_mutex mutex_;
  std::vector<TABSTableLockList> lists_;
  bool exclusiveDatabase_;
  TABSLockRetry retry_;
  int32_t commitDelayMs_ = TABSCursorLockTimes::kCommitDelayMs;
  int32_t commitAttempts_ = TABSCursorLockTimes::kCommitAttempts;
  TABSTableLockTimes tableTimes_;
};
