// SessionsFile: TABSActiveSessionsFile, the connection slots of a database.
//
// Format: the contents of a direct internal file (page type 5) of
// MaxConnections bytes, fixed when the database is created (default 500).
// Content byte n is connection slot n: a connection that holds the
// byte-range lock on it is connected with SessionID n. The byte values mean
// nothing. The file lock (offset 0 of the first page) serialises connects
// and disconnects. The protocol as a whole is in LockManager.h.
//
// Contract
//  1. Connect takes the first slot whose byte it can lock, in order 0, 1,
//     2, ..., and keeps it locked for the life of the connection; a slot
//     held by any open, in this process or another, is skipped. No free
//     slot: 20094.
//  2. A process that dies frees its slots: the kernel drops its locks, and
//     a slot counts as taken only while its byte is locked, never by what
//     the file contains.
//  3. The file lock is retried 4500 x 20 ms (TABSLockRetry); Connect
//     searches even when it was not obtained, and releases it only when it
//     was. Every path releases what it took before it raises.
//  4. LockAllSlots (the single-user claim) succeeds only when no slot is
//     held by anyone, and then holds all of them; it takes all or none.
//     While they are held every Connect fails with 20094.
//
// Thread use: one caller at a time (the database's lock).
#pragma once

#include <cstdint>

#include "disk/DiskPageManagerFile.h"
#include "disk/LockByteArea.h"

class TABSActiveSessionsFile {
 public:
  // The area must outlive this object.
  explicit TABSActiveSessionsFile(TABSLockByteArea& area) : area_(area) {}

  void SetLockRetry(TABSLockRetry retry) { retry_ = retry; }

  int32_t MaxConnections() const { return area_.Size(); }
  int32_t StartPageNo() const { return area_.StartPageNo(); }

  int32_t Connect();
  void Disconnect(int32_t sessionID);
  bool LockAllSlots();
  void UnlockAllSlots();

 private:
  bool TakeFileLock();

  TABSLockByteArea& area_;
  TABSLockRetry retry_;
};
