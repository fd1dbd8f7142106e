// MemoryPageManager: TABSMemoryPageManager, a page manager whose pages live
// in this process's memory and never in a file. In-memory tables keep their
// index pages on it; the B-tree tests and benchmarks use it as their store.
//
// Storage: committed page images in an array indexed by page number, an
// allocation bitmap beside it, grown 50 pages at a time. A page number is
// allocated from the lowest free bit; freeing it clears the bit and drops
// its image. The page cache and the session transactions are the generic
// page manager's: a page reaches the array only through a commit.
//
// Contract
//  1. Page size and header size are fixed at construction. Tables use
//     4096-byte pages with no header (the whole page is data); a manager
//     built with the 40-byte header keeps the page type and checks it on
//     every fetch, as the disk does.
//  2. ReadPage answers false for a number that is not allocated or was
//     never committed; nothing is read outside a stored image.
//  3. StoredPage gives the committed image itself, so tests can damage
//     stored bytes; with the cache capacity at 0 every fetch sees them.
//  4. The whole page set has a stream form, little-endian:
//       0  int32   page capacity (>= 0)
//       4  int32   highest allocated page number (-1: none)
//       8  int32   growth step (50)
//      12  uint16  page size
//      14  uint16  0
//      16  int32   allocated page count
//      20  the allocation bitmap in the bit array's stream form
//          (ZUDBitsArray.h contract 5), one bit per page of the capacity
//          then capacity x page size bytes: every page, zeros for a page
//          that is free or was never committed.
//     Saving needs no session to hold changes; loading checks what it reads
//     (a short stream 10159, a page size other than the manager's, a
//     bitmap that disagrees with the capacity, the count or the highest
//     number 10093), replaces the whole set only when all of it is sound,
//     and refuses while a session holds changes (20097).
//
// Thread use: as the generic page manager (under the caller's lock).
#pragma once

#include <cstdint>
#include <vector>

#include "core/PageManager.h"
#include "core/ZUDBitsArray.h"

class TABSMemoryPageManager : public TABSPageManager {
 public:
  static constexpr int32_t kGrowthPages = 50;

  explicit TABSMemoryPageManager(uint16_t pageSize = tiv::page::kDefaultPageSize, uint16_t headerSize = 0);

  int32_t GetPageCount() override;  // highest allocated page number + 1
  void AllocPageNo(TABSPage* page) override;
  void FreePageNo(int32_t pageNo) override;
  bool ReadPage(TABSPage* page) override;
  void WritePage(TABSPage* page) override;

  // Contract 4.
  void SaveToStream(TABSStream& stream) override;
  void LoadFromStream(TABSStream& stream) override;

  bool IsAllocated(int32_t pageNo) const;
  int32_t AllocatedPageCount() const { return static_cast<int32_t>(allocated_.SetCount()); }
  int32_t Capacity() const { return static_cast<int32_t>(allocated_.Count()); }
  // The committed image of a page (PageSize bytes), or null.
  uint8_t* StoredPage(int32_t pageNo);
  // The committed data area of a page (after the header), or null.
  uint8_t* StoredArea(int32_t pageNo);

 private:
  std::vector<std::vector<uint8_t>> images_;  // empty until first committed
  TABSBitsArray allocated_;                   // bit n set = page n allocated
  int32_t highestPageNo_ = -1;
};
