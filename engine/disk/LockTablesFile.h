// LockTablesFile: TABSTableLocksFile, the lock bytes of one table.
//
// Format (the contents of the table's direct internal file, page type 7;
// N = the number of connection slots when the table was created, so the
// contents are 12 * N bytes and N is read back as size div 12):
//
//   offset            size  meaning
//   k * N + s         1     lock byte of kind k (0..5) of slot s; only its
//                           byte-range lock means anything, never its value
//   6 * N + 6 * s     4     int32 PageNo  } the record slot s has locked
//   6 * N + 6 * s + 4 2     uint16 RowNo  } (valid while byte 5 * N + s is
//                                           locked)
//
// Contract
//  1. Every method but LockFile/UnlockFile expects the caller to hold the
//     file lock, so that each test and change of the bytes is atomic
//     between processes (the lock manager does; see LockManager.h).
//  2. A slot outside 0..N-1 owns no byte: SetLockByte, ClearLockByte,
//     SetRecordLock and ClearRecordLock answer false for it; the tests of
//     "others" then look at all N slots.
//  3. "Others" are the other slots, whichever process holds them: a byte
//     held by another slot of this process counts as held.
//  4. A record identifier is read back only for a slot whose record byte is
//     locked; stale identifiers of free slots are never compared.
//
// Thread use: one caller at a time (the lock manager's critical section).
#pragma once

#include <cstdint>

#include "core/ZUDRecordLayout.h"
#include "disk/LockByteArea.h"
#include "disk/LockKinds.h"

class TABSTableLocksFile {
 public:
  static constexpr int32_t kBytesPerSlot = 12;

  // The area must outlive this object.
  explicit TABSTableLocksFile(TABSLockByteArea& area);

  // The start page of the locks file: the table's identity for locks.
  int32_t TableId() const { return area_.StartPageNo(); }
  int32_t SlotCount() const { return slots_; }

  bool LockFile() { return area_.LockFile(); }
  bool UnlockFile() { return area_.UnlockFile(); }

  bool SetLockByte(int32_t slot, TABSLockKind kind);
  bool ClearLockByte(int32_t slot, TABSLockKind kind);
  bool IsHeldByOthers(int32_t slot, TABSLockKind kind);
  // True when no lock of another slot forbids `kind` (kLockCompatible);
  // with `flag`, a transaction-write request ignores others' edit locks.
  bool IsCompatible(int32_t slot, TABSLockKind kind, bool flag);

  bool SetRecordLock(int32_t slot, const TABSRecordID& record);
  bool ClearRecordLock(int32_t slot);
  bool IsRecordLockedByOthers(int32_t slot, const TABSRecordID& record);

 private:
  bool OwnsSlot(int32_t slot) const { return slot >= 0 && slot < slots_; }
  int32_t BytePosition(int32_t slot, int kind) const { return kind * slots_ + slot; }
  int32_t RecordPosition(int32_t slot) const { return kLockByteKindCount * slots_ + kRecordIDSize * slot; }

  TABSLockByteArea& area_;
  int32_t slots_;
};
