// SessionsFile: TABSActiveSessionsFile, the connection slots of a database.
//
// Format: the contents of a direct internal file (page type 5) of
// MaxConnections bytes, fixed when the database is created (default 500).
// Content byte n is connection slot n: a connection that holds the
// byte-range lock on it is connected with SessionID n. The file lock
// (offset 0 of the first page) serialises connects and disconnects. The
// protocol as a whole is in LockManager.h.
//
// The byte's value is the slot's mark: 0, or 1 while the connection that
// holds the slot may have taken pages from the free-space map that no
// structure reaches yet (a transaction's new pages before its commit). A
// connection that dies keeps its mark with its slot free: a dead mark. The
// pages it took then stay marked used and reached by nothing until the
// sweep of a connection that owns the file alone gives them back. Files of
// writers that leave every byte 0 read as having no dead connection; a
// byte such a writer left set costs one sweep.
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
//  5. Marks, only when a sweep is set (an open that may write). MarkTaking
//     sets the mark of a slot this object holds (slot 0 for the single-user
//     claim) before the connection first takes a page from the map; a
//     connection that only reads never writes a mark. Disconnect and
//     UnlockAllSlots clear the mark they set, never a dead mark the slot
//     came with that no sweep has answered for. A mark is one byte written
//     in place: direct file pages carry no CRC and are never enciphered, so
//     the write tears nothing.
//  6. The sweep runs when a dead mark is found (a set byte whose slot is
//     free, or the slot just taken) by a Connect or Disconnect that holds
//     the file lock and finds every other slot free, or by LockAllSlots.
//     It is called with the caller's slot while every slot and the file
//     lock are held, so no connection can come and take pages meanwhile;
//     when it answers true every mark is cleared (the caller's too: it
//     holds no page the walk did not reach), otherwise they all stay for a
//     later sweep. A sweep that
//     raises leaves the marks and the locks as before the call and the
//     error goes to the caller.
//
// Thread use: one caller at a time (the database's lock).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "disk/DiskPageManagerFile.h"
#include "disk/LockByteArea.h"

class TABSActiveSessionsFile {
 public:
  // The area must outlive this object.
  explicit TABSActiveSessionsFile(TABSLockByteArea& area) : area_(area) {}

  void SetLockRetry(TABSLockRetry retry) { retry_ = retry; }
  // Contract 6: called with the caller's slot; true when the dead
  // connections' pages are accounted for.
  using Sweep = std::function<bool(int32_t slot)>;
  // Contracts 5 and 6 hold from now on; an empty sweep turns both off.
  void SetSweep(Sweep sweep) { sweep_ = std::move(sweep); }

  int32_t MaxConnections() const { return area_.Size(); }
  int32_t StartPageNo() const { return area_.StartPageNo(); }

  int32_t Connect();
  // Contract 5: before the holder of `slot` takes its first page.
  void MarkTaking(int32_t slot);
  void Disconnect(int32_t sessionID);
  bool LockAllSlots();
  void UnlockAllSlots();

 private:
  bool TakeFileLock();
  std::vector<uint8_t> ReadMarks();
  void WriteMark(int32_t slot, uint8_t value);
  // Contract 6 for a caller holding `slot`: true when the dead marks were
  // swept (or there were none).
  bool SweepWhenAlone(int32_t slot, bool fileLocked, const std::vector<uint8_t>& marks, bool ownMarkDead);

  // The mark of a slot this object holds: none, its own (set by
  // MarkTaking), or a dead one it came with that no sweep answered for.
  enum class Mark : uint8_t { kClear, kOwn, kInherited };
  Mark& MarkOf(int32_t slot);

  TABSLockByteArea& area_;
  TABSLockRetry retry_;
  Sweep sweep_;
  std::vector<Mark> marks_;  // per slot
};
