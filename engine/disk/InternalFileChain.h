// InternalFileChain: what both kinds of internal file (and the record
// manager) share about following page numbers read from stored bytes.
//
// Contract
//  1. A link is trusted only when it names a data page (not a PFS or EAM
//     page) inside the page area and, within one walk, has not been seen
//     before; otherwise "Invalid page number" (20301). So a walk ends after
//     at most TotalPageCount steps, whatever the bytes say.
//  2. The page count in memory may lag behind another process's growth: a
//     number past it rereads the header once before it is refused.
//  3. PagePin releases a pinned page on every path.
#pragma once

#include <cstdint>
#include <unordered_set>

#include "core/PageManager.h"
#include "disk/DiskPageManagerFile.h"

namespace tiv::disk::chain {

// True when pageNo lies inside the page area. The header in memory may be
// behind another process's growth: a number past it rereads the count once.
bool InPageArea(TABSDiskPageManager& pm, int64_t pageNo);

// True when the database holds at least `pages` pages (rereading as above):
// a stored size that needs more cannot be backed by any chain.
bool PageAreaHolds(TABSDiskPageManager& pm, int64_t pages);

// A link read from a page: a data page inside the page area, not seen
// before in this walk, else "Invalid page number" (20301).
void CheckLink(TABSDiskPageManager& pm, int32_t pageNo, std::unordered_set<int32_t>* seen = nullptr);

// A pinned page released on every path.
class PagePin {
 public:
  PagePin(TABSPageManager& pm, TABSPage* page) : pm_(pm), page_(page) {}
  ~PagePin() {
    if (page_) pm_.PutPage(page_);
  }
  PagePin(const PagePin&) = delete;
  PagePin& operator=(const PagePin&) = delete;
  TABSPage* operator->() const { return page_; }
  TABSPage* Get() const { return page_; }
  void Release() {
    TABSPage* p = page_;
    page_ = nullptr;
    if (p) pm_.PutPage(p);
  }

 private:
  TABSPageManager& pm_;
  TABSPage* page_;
};

}  // namespace tiv::disk::chain
