// TemporaryPageManager: TABSTemporaryPageManager, the index pages of a
// temporary table or temporary index: in memory up to a share, in a
// temporary file beyond it.
//
// Storage: page numbers and the allocation bitmap are an embedded
// TABSMemoryPageManager's (lowest free number first). The images of pages
// numbered below the memory limit live in it; a page numbered at or past
// the limit lives in the temporary file (TemporaryFile.h) at
// (pageNo - limit) x page size. A manager made in-memory has no limit.
//
// Contract
//  1. The memory limit in pages is (memory share / page size), at least
//     one; the share is a tenth of the usable memory unless the owner passes
//     another.
//  2. ReadPage answers false for a page that is not allocated or was never
//     committed, as the memory page manager does; the file's errors are
//     TemporaryFile.h's.
//  3. Pages reach the storage only through a commit (the generic page
//     manager's session changes), as everywhere.
//
// Thread use: the owner's.
#pragma once

#include <cstdint>

#include "core/MemoryPageManager.h"
#include "core/TemporaryFile.h"
#include "core/ZUDBitsArray.h"

class TABSTemporaryPageManager : public TABSPageManager {
 public:
  explicit TABSTemporaryPageManager(int64_t memoryShare, bool inMemory = false,
                                    uint16_t pageSize = tiv::page::kDefaultPageSize);

  int32_t GetPageCount() override { return memory_.GetPageCount(); }
  void AllocPageNo(TABSPage* page) override;
  void FreePageNo(int32_t pageNo) override;
  bool ReadPage(TABSPage* page) override;
  void WritePage(TABSPage* page) override;

  int32_t AllocatedPageCount() const { return memory_.AllocatedPageCount(); }
  bool Spilled() const { return file_.Exists(); }

 private:
  bool InFile(int32_t pageNo) const { return pageNo >= limit_; }
  int64_t FileOffset(int32_t pageNo) const { return int64_t{pageNo - limit_} * PageSize(); }

  TABSMemoryPageManager memory_;
  int32_t limit_;
  TABSTemporaryFile file_;
  TABSBitsArray written_;  // bit (pageNo - limit) set: the file holds the page's image
};
