// LockByteArea: the content bytes of a direct internal file (the active
// sessions file, a table's locks file) seen as lock targets, plus the file
// lock that serialises changes of them.
//
// The lock layer reaches those files only through TABSLockByteArea, so the
// protocol does not depend on how the file finds its pages.
// TABSPageLockByteArea is the one implementation over the database file: it
// is given the chain's page numbers and maps content positions the way
// every direct internal file lays out its bytes.
//
// Contract
//  1. Content positions run from 0 to Size() - 1. A position outside them
//     is never locked nor transferred: LockByte/UnlockByte answer false,
//     IsByteLocked answers false, DirectRead/WriteBuffer fail with 20159 /
//     20158.
//  2. Locks are non-blocking byte-range locks of the database file's open
//     (TABSDatabaseFile): a byte held through the same open counts as
//     locked (IsByteLocked true, a second LockByte false), and every lock
//     held through an open disappears when that open is closed, including
//     when its process dies.
//  3. The file lock is the byte at offset 0 of the first page, inside the
//     page header, so it never coincides with a content byte.
//  4. Content position pos lies on chain page (pos + 10) div D at page
//     offset 40 + (pos + 10) mod D, D = PageSize - 40 (the 10 bytes being
//     the internal-file header in front of the contents).
//  5. The page manager is used without a lock of its own: callers
//     serialise (the lock manager's critical section, or the caller's
//     database lock).
#pragma once

#include <cstdint>
#include <vector>

#include "core/ZUDRecordLayout.h"

class TABSDiskPageManager;

class TABSLockByteArea {
 public:
  virtual ~TABSLockByteArea() = default;

  // The first page of the file: identifies the table in lock bookkeeping.
  virtual int32_t StartPageNo() const = 0;
  virtual int32_t Size() const = 0;
  virtual bool LockFile() = 0;
  virtual bool UnlockFile() = 0;
  virtual bool LockByte(int32_t position) = 0;
  virtual bool UnlockByte(int32_t position) = 0;
  virtual bool IsByteLocked(int32_t position) = 0;
  // True when any byte of [position, position + count) is locked; the part
  // outside 0..Size()-1 is ignored, and count <= 0 answers false.
  virtual bool IsRegionLocked(int32_t position, int32_t count) = 0;
  virtual void DirectReadBuffer(void* buffer, int32_t count, int32_t position) = 0;
  virtual void DirectWriteBuffer(const void* buffer, int32_t count, int32_t position) = 0;
};

class TABSPageLockByteArea : public TABSLockByteArea {
 public:
  // pages: the chain in order; size: the content size stored in the file.
  // The chain must hold PagesFor(size) pages (20155 otherwise).
  TABSPageLockByteArea(TABSDiskPageManager& pageManager, std::vector<int32_t> pages, int32_t size);

  // Pages a direct file of `size` content bytes needs.
  static int32_t PagesFor(int32_t size, int32_t pageSize);

  int32_t StartPageNo() const override { return pages_.empty() ? -1 : pages_.front(); }
  int32_t Size() const override { return size_; }
  bool LockFile() override;
  bool UnlockFile() override;
  bool LockByte(int32_t position) override;
  bool UnlockByte(int32_t position) override;
  bool IsByteLocked(int32_t position) override;
  bool IsRegionLocked(int32_t position, int32_t count) override;
  void DirectReadBuffer(void* buffer, int32_t count, int32_t position) override;
  void DirectWriteBuffer(const void* buffer, int32_t count, int32_t position) override;

 private:
  struct Location {
    int32_t pageNo;
    int32_t offset;  // within the page
    int32_t room;    // bytes from offset to the end of the page
  };
  Location Locate(int32_t position) const;

  TABSDiskPageManager& pm_;
  std::vector<int32_t> pages_;
  int32_t size_;
  int32_t pageSize_;
};
