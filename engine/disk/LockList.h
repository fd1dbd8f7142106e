// LockList: TABSTableLockList, the table locks one connection slot holds,
// as this process knows them (the bytes in the locks files are what other
// processes see).
//
// Contract
//  1. At most one entry per (Kind, Table): a repeated grant counts up.
//  2. OwnsByte tells whether the entry set its own byte in the locks file
//     (or, for kind 6, holds the locks file's file lock); an entry without
//     it was granted because another entry of the list on the same table
//     covers it (LockCovers), or is a record lock inside an exclusive
//     access.
//  3. Tables are identified by the start page of their locks file; File is
//     that locks file, borrowed: the table closes it only after every entry
//     on it is gone.
//  4. The destructor never raises. CheckEmpty raises "Some table locks still
//     exist" (20201) for a list that still has entries; the destructor of a
//     non-empty list reports that error on the standard error stream and
//     forgets the entries (their bytes go when the file closes).
//
// Thread use: guarded by the lock manager's critical section.
#pragma once

#include <cstdint>
#include <vector>

#include "core/ZUDRecordLayout.h"
#include "disk/LockKinds.h"

class TABSTableLocksFile;

struct TABSTableLockEntry {
  TABSLockKind Kind = ltOpen;
  int32_t Table = -1;
  int32_t Count = 0;
  bool OwnsByte = false;
  bool Flag = false;
  TABSTableLocksFile* File = nullptr;
  TABSRecordID Record;  // kind 5: the locked record
};

class TABSTableLockList {
 public:
  TABSTableLockList() = default;
  ~TABSTableLockList();
  TABSTableLockList(const TABSTableLockList&) = delete;
  TABSTableLockList& operator=(const TABSTableLockList&) = delete;
  TABSTableLockList(TABSTableLockList&&) = default;

  // The entry of this kind on this table, or nullptr.
  TABSTableLockEntry* Find(TABSLockKind kind, int32_t table);
  bool Holds(TABSLockKind kind, int32_t table) { return Find(kind, table) != nullptr; }
  // An entry on this table, other than of `kind`, whose kind covers `kind`.
  TABSTableLockEntry* FindCovering(TABSLockKind kind, int32_t table);
  void Add(const TABSTableLockEntry& entry);
  // Removes the entry of this kind on this table; false when there is none.
  bool Remove(TABSLockKind kind, int32_t table);

  const std::vector<TABSTableLockEntry>& Entries() const { return entries_; }
  bool Empty() const { return entries_.empty(); }
  void CheckEmpty() const;
  void Clear() { entries_.clear(); }

 private:
  std::vector<TABSTableLockEntry> entries_;
};
