// PageRoomCache: TABSPageRoomCache, what one process remembers of the pages
// of a page index (the record page index of a table, its BLOB page index)
// that had room, so that placing a record or a small BLOB value costs the
// same at any table size instead of a walk over the whole index.
//
// A page index (core/ABSBTreePageIndex.h) maps a page number to a figure:
// the records on a record page, the bytes in use of a small BLOB page. A
// page has room for a value when its figure is at most a limit the caller
// works out from the value's size.
//
// Contract
//  1. The cache is a hint, never the truth: every page Find offers has just
//     been looked up in the index and holds the figure the index gives it
//     now. A page the index no longer lists leaves the cache; one whose
//     figure moved (another process filled or emptied it, a rollback took a
//     change back) is filed again under the index's figure. So no state of
//     the cache, however stale, makes Find offer a page without room.
//  2. Find(limit) offers, among the pages it remembers, one whose figure
//     is not above `limit`, and -1 when none is left: in order kLowestPage
//     the lowest page number (the record pages: every page kept takes a
//     record, so the limit is the keep limit), in order kFullestFit the
//     largest figure, lowest page number among equal ones (small BLOB
//     pages: the fullest page that still takes the value). The first Find,
//     and the first after Clear, walks the whole index. On a miss it looks
//     at the last page of the index (where another process's new pages
//     appear), and walks the index again only when MayHaveGained was
//     called since the last walk and at least as many Finds ran since it
//     as it saw pages: a walk's cost is spread over as many placements as
//     it read entries, constant per placement.
//  3. The caller reports what it changes: Note after it placed or removed
//     a value (the index's new figure), Forget when a page left the index,
//     Clear when the index was emptied or rebuilt, MayHaveGained when pages
//     may have gained room behind the cache's back (another process's
//     commit, a rollback).
//  4. Pages whose figure is above the keep limit given at construction (no
//     value fits any more) are not kept.
//
// Thread use: under the table data's lock, like the index it serves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <unordered_map>
#include <utility>

class TABSBTreePageIndex;

class TABSPageRoomCache {
 public:
  enum Order { kLowestPage, kFullestFit };
  TABSPageRoomCache(Order order, int32_t keepAtMost) : order_(order), keepAtMost_(keepAtMost) {}

  // Contract 2: a page of `index` with figure <= limit, or -1. In order
  // kLowestPage a limit below the keep limit is a programming error.
  int32_t Find(int32_t sessionID, TABSBTreePageIndex& index, int32_t limit);
  // Contract 3.
  void Note(int32_t pageNo, int32_t figure);
  void Forget(int32_t pageNo);
  void Clear();
  void MayHaveGained() { mayHaveGained_ = true; }

  // Pages remembered now, for tests.
  size_t Size() const { return figureOf_.size(); }

 private:
  // The remembered page with the largest figure <= limit that the index
  // confirms, or -1.
  int32_t Confirmed(int32_t sessionID, TABSBTreePageIndex& index, int32_t limit);
  void Walk(int32_t sessionID, TABSBTreePageIndex& index);

  // The place of a page in byOrder_: the figure (kFullestFit, 0 in
  // kLowestPage), then minus the page number, so the last entry not above
  // (limit, max) is the one contract 2 offers.
  std::pair<int32_t, int32_t> OrderKey(int32_t pageNo, int32_t figure) const {
    return {order_ == kFullestFit ? figure : 0, -pageNo};
  }

  Order order_;
  int32_t keepAtMost_;
  std::set<std::pair<int32_t, int32_t>> byOrder_;
  std::unordered_map<int32_t, int32_t> figureOf_;  // page -> figure
  bool walked_ = false;
  bool mayHaveGained_ = false;
  int64_t findsSinceWalk_ = 0;
  int64_t pagesAtWalk_ = 0;
};
