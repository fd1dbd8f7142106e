#include "disk/PageRoomCache.h"

#include <climits>
#include <stdexcept>

#include "core/ABSBTreePageIndex.h"

void TABSPageRoomCache::Note(int32_t pageNo, int32_t figure) {
  Forget(pageNo);
  if (figure > keepAtMost_) return;
  figureOf_.emplace(pageNo, figure);
  byOrder_.insert(OrderKey(pageNo, figure));
}

void TABSPageRoomCache::Forget(int32_t pageNo) {
  const auto it = figureOf_.find(pageNo);
  if (it == figureOf_.end()) return;
  byOrder_.erase(OrderKey(pageNo, it->second));
  figureOf_.erase(it);
}

void TABSPageRoomCache::Clear() {
  byOrder_.clear();
  figureOf_.clear();
  walked_ = false;
  mayHaveGained_ = false;
  findsSinceWalk_ = 0;
  pagesAtWalk_ = 0;
}

int32_t TABSPageRoomCache::Confirmed(int32_t sessionID, TABSBTreePageIndex& index, int32_t limit) {
  // Each turn answers, or refiles one stale page under the index's figure
  // (dropping it when it is full or gone), so the loop ends within the
  // cache's size.
  for (;;) {
    auto it = byOrder_.upper_bound({order_ == kFullestFit ? limit : 0, INT32_MAX});
    if (it == byOrder_.begin()) return -1;
    --it;
    const int32_t pageNo = -it->second;
    const int32_t figure = figureOf_.at(pageNo);
    TABSBTreePath path;
    if (!index.Find(sessionID, pageNo, path)) {
      Forget(pageNo);
      continue;
    }
    const int32_t now = index.ValueAt(sessionID, path);
    if (now == figure) return pageNo;
    Note(pageNo, now);
  }
}

void TABSPageRoomCache::Walk(int32_t sessionID, TABSBTreePageIndex& index) {
  byOrder_.clear();
  figureOf_.clear();
  int64_t pages = 0;
  TABSBTreePath path;
  for (bool more = index.First(sessionID, path); more; more = index.Next(sessionID, path), ++pages)
    Note(index.KeyAt(sessionID, path), index.ValueAt(sessionID, path));
  walked_ = true;
  mayHaveGained_ = false;
  findsSinceWalk_ = 0;
  pagesAtWalk_ = pages;
}

int32_t TABSPageRoomCache::Find(int32_t sessionID, TABSBTreePageIndex& index, int32_t limit) {
  if (order_ == kLowestPage && limit < keepAtMost_)
    throw std::logic_error("PageRoomCache: a lowest-page search takes every page it keeps");
  ++findsSinceWalk_;
  if (limit < 0) return -1;
  if (!walked_) Walk(sessionID, index);
  const int32_t pageNo = Confirmed(sessionID, index, limit);
  if (pageNo >= 0) return pageNo;
  // A miss: the last page (new pages of other processes end up there, and
  // this process's own last page when it was not remembered).
  TABSBTreePath path;
  if (index.Last(sessionID, path)) {
    const int32_t last = index.KeyAt(sessionID, path);
    const int32_t figure = index.ValueAt(sessionID, path);
    Note(last, figure);
    if (figure <= limit) return last;
  }
  if (!mayHaveGained_ || findsSinceWalk_ < pagesAtWalk_) return -1;
  Walk(sessionID, index);
  return Confirmed(sessionID, index, limit);
}
