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
//
// Thread use: as the generic page manager (under the caller's lock).
#pragma once

#include <cstdint>
#include <vector>

#include "core/PageManager.h"

class TABSMemoryPageManager : public TABSPageManager {
 public:
  static constexpr int32_t kGrowthPages = 50;

  explicit TABSMemoryPageManager(uint16_t pageSize = tiv::page::kDefaultPageSize, uint16_t headerSize = 0);

  int32_t GetPageCount() override;  // highest allocated page number + 1
  void AllocPageNo(TABSPage* page) override;
  void FreePageNo(int32_t pageNo) override;
  bool ReadPage(TABSPage* page) override;
  void WritePage(TABSPage* page) override;

  int32_t AllocatedPageCount() const { return allocatedCount_; }
  int32_t Capacity() const { return static_cast<int32_t>(allocated_.size()); }
  // The committed image of a page (PageSize bytes), or null.
  uint8_t* StoredPage(int32_t pageNo);
  // The committed data area of a page (after the header), or null.
  uint8_t* StoredArea(int32_t pageNo);

 private:
  bool IsAllocated(int32_t pageNo) const;

  std::vector<std::vector<uint8_t>> images_;  // empty until first committed
  std::vector<bool> allocated_;
  int32_t highestPageNo_ = -1;
  int32_t allocatedCount_ = 0;
};
