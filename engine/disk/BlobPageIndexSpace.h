// BlobPageIndexSpace: TABSBTreeBlobPageSpace, the BLOB page index of a disk
// table as the BLOB manager sees it (TABSBlobPageSpace, BlobPages.h): a
// B-tree keyed by small BLOB page number whose uint16 value is the bytes in
// use of that page.
//
// Contract
//  1. The index lists exactly the small BLOB pages of the table that hold
//     entries, each with its bytes in use; SetUsedSpace inserts or updates,
//     RemovePage takes a page out, Clear leaves an empty tree (its root
//     page stays, so the root page number kept in the metadata holds).
//  2. FindPageWithRoom answers a listed page with used + size below the
//     page data size - 2, else -1: among the pages this process remembers
//     with room (PageRoomCache.h), the fullest one that takes the value,
//     looked up in the index before it is answered, so a page another
//     process filled or freed is never trusted beyond what the index says.
//     Its cost does not grow with the number of BLOB pages (no walk of the
//     index but the ones PageRoomCache.h contract 2 spreads out).
//  3. A bytes-in-use figure outside 0..65535 is a programming error of the
//     caller (a small page's data area is below 65536 bytes).
//
// Thread use: under the table data's lock.
#pragma once

#include <cstdint>

#include "core/ABSBTreePageIndex.h"
#include "disk/BlobPages.h"
#include "disk/PageRoomCache.h"

class TABSBTreeBlobPageSpace : public TABSBlobPageSpace {
 public:
  explicit TABSBTreeBlobPageSpace(TABSPageManager& pm);

  TABSBTreeBlobPageIndex& Index() { return index_; }

  int32_t FindPageWithRoom(int32_t sessionID, int32_t size) override;
  int32_t UsedSpaceOf(int32_t sessionID, int32_t pageNo) override;
  void SetUsedSpace(int32_t sessionID, int32_t pageNo, int32_t used) override;
  void RemovePage(int32_t sessionID, int32_t pageNo) override;
  void Clear(int32_t sessionID) override;
  // Contract 2: pages may have gained room that this process did not make
  // (another process's commit, a rollback).
  void MayHaveGained() { room_.MayHaveGained(); }

 private:
  TABSPageManager& pm_;
  TABSBTreeBlobPageIndex index_;
  TABSPageRoomCache room_;
};
