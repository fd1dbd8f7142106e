// ABSBTree: B+-tree indexes over the pages of a page manager. This is the
// main header of the family: the generic tree (this file), its pages and
// controllers (ABSBTreePage.h), record keys (ABSBTreeRecordKey.h), the
// record index (ABSBTreeRecordIndex.h) and the page indexes of the disk
// engine (ABSBTreePageIndex.h). The same code runs over the disk page
// manager, the in-memory one and a session's temporary one.
//
// Shape. Leaves hold every entry, ordered by key and then by leaf value,
// chained both ways at every level. A node entry routes to a child: child
// i holds the entries from separator i on (entry 0's key is meaningless).
// The root page keeps its number for the tree's whole life.
//
// Contract
//  1. Order: in leaf order every entry is lower than the next one in the
//     key description's full order (key, then exact tie-break, then leaf
//     value). For every node entry i >= 1: the keys of child i-1 are not
//     above separator i and the keys of child i are not below it (plain
//     key comparison). Separators may trail the entries after deletes.
//  2. Insert puts an entry where a search for the same (key, value) finds
//     it; Delete removes exactly the entry that compares equal in the full
//     order and raises 20027 when there is none. Ties of truncated key
//     parts are settled the same way by both, so a delete never takes the
//     entry of another record.
//  3. An overfull page splits at N div 2; a root split allocates two pages
//     and the root becomes a node with two entries. An underfull non-root
//     page merges into its previous sibling when both fit in one page,
//     else into its next one; a root node left with one child absorbs it.
//  4. Every walk is bounded: a descent stops at 32 levels, a chain walk at
//     the first page seen twice; either raises the integrity error 20028
//     instead of looping. See ABSBTreePage.h contract 2 for page checks.
//  5. A path is valid until the next change of the tree.
//  6. Every page an operation pins is released when it returns or raises.
//
// Thread use: under the caller's database lock; the tree takes no locks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_set>
#include <vector>

#include "core/ABSBTreePage.h"

class TABSBTree {
 public:
  TABSBTree(TABSPageManager* manager, const TABSBTreeKeyRef& keyRef);
  TABSBTree(const TABSBTree&) = delete;
  TABSBTree& operator=(const TABSBTree&) = delete;

  TABSPageManager* PageManager() const { return manager_; }
  const TABSBTreeKeyRef& KeyRef() const { return *keyRef_; }
  int32_t RootPageNo() const { return root_; }
  void SetRootPageNo(int32_t pageNo) { root_ = pageNo; }

  // Allocates an empty root leaf and makes it the root.
  void CreateRoot(int32_t sessionID);
  // Frees every page; the root number becomes -1.
  void Drop(int32_t sessionID);
  // Frees every page but the root, which becomes an empty leaf.
  void Empty(int32_t sessionID);

  // Full-order comparison of a search key with a leaf entry.
  int CompareEntry(int32_t sessionID, const TABSBTreeSearchKey& search, const uint8_t* key, const uint8_t* value);
  // Full-order comparison with the first entry of a subtree (+1 when the
  // subtree is empty: nothing in it is above the key).
  int CompareWithSubtree(int32_t sessionID, const TABSBTreeSearchKey& search, int32_t pageNo);
  // Key and leaf value of the first entry under `pageNo`; false if none.
  bool FirstLeafEntry(int32_t sessionID, int32_t pageNo, std::vector<uint8_t>& key, std::vector<uint8_t>* value);

  // Positions on the first entry not below (kLower) or above (kUpper) the
  // search key; false when there is none.
  bool SeekFirst(int32_t sessionID, const TABSBTreeSearchKey& search, TABSBTreeBound bound, TABSBTreePath& path);
  // Positions on the last entry below (kLower) or not above (kUpper) the
  // search key; false when there is none.
  bool SeekLast(int32_t sessionID, const TABSBTreeSearchKey& search, TABSBTreeBound bound, TABSBTreePath& path);
  // The entry equal to `search` in the full order (search.value given).
  bool FindExact(int32_t sessionID, const TABSBTreeSearchKey& search, TABSBTreePath& path);

  bool First(int32_t sessionID, TABSBTreePath& path);
  bool Last(int32_t sessionID, TABSBTreePath& path);
  // Steps to the following / preceding entry; false (path unchanged) at
  // the end. An empty path raises 20068 / 20069.
  bool Next(int32_t sessionID, TABSBTreePath& path);
  bool Prior(int32_t sessionID, TABSBTreePath& path);

  // Key and value of the entry a path names.
  void ReadEntry(int32_t sessionID, const TABSBTreePath& path, std::vector<uint8_t>* key, std::vector<uint8_t>* value);
  void WriteValue(int32_t sessionID, const TABSBTreePath& path, const uint8_t* value);

  // Contract 2. `search.key` and `search.value` are the entry.
  void Insert(int32_t sessionID, const TABSBTreeSearchKey& search);
  void Delete(int32_t sessionID, const TABSBTreeSearchKey& search);
  // Removes the entry a path names (found by the caller).
  void DeleteAt(int32_t sessionID, TABSBTreePath& path);

  // 1-based number of the entry at `path` in leaf order: its index + 1
  // plus the entry counts of all earlier leaves.
  int64_t EntryNumber(int32_t sessionID, const TABSBTreePath& path);
  // The path of entry `number` (1-based): 20074 on an empty tree, 20075
  // past the last entry.
  void PathOfNumber(int32_t sessionID, int64_t number, TABSBTreePath& path);
  int64_t EntryCount(int32_t sessionID);
  // Visits the leaves from the first one along the chain until `visit`
  // returns false (contract 4 bounds the walk).
  void ForEachLeaf(int32_t sessionID, const std::function<bool(const TABSBTreePage& leaf)>& visit);
  // The path read as a mixed-radix fraction of the tree, in [0, 1).
  static double PathFraction(const TABSBTreePath& path);
  // -1, 0, +1; paths of different depth or roots raise 20051 / 20052.
  static int ComparePaths(const TABSBTreePath& a, const TABSBTreePath& b);

  // Walks the whole tree and raises the integrity error that names the
  // first fault (20028..20034, 20194).
  void CheckIntegrity(int32_t sessionID);
  int32_t Depth(int32_t sessionID);
  // Appends every page of the tree, root first, each once, for checks and
  // tools. A page reached twice raises 20032, and no walk takes more pages
  // than the manager has (contract 4), so damaged links neither loop nor
  // run away; on an error `pages` keeps the pages loaded so far.
  void CollectPages(int32_t sessionID, std::vector<int32_t>& pages);

 private:
  void CheckRoot() const;
  void LoadRoot(TABSBTreePage& page) const;
  void LoadChild(TABSBTreePage& page, int32_t pageNo) const;
  void LoadWalked(TABSBTreePage& page, int32_t pageNo, int depth) const;
  void Descend(int32_t sessionID, const TABSBTreeSearchKey& search, TABSBTreeBound bound, TABSBTreePath& path);
  void DescendEdge(int32_t sessionID, TABSBTreePath& path, int32_t level, int32_t pageNo, bool last);
  void FreeSubtree(int32_t sessionID, int32_t pageNo, int depth, std::unordered_set<int32_t>& freed);
  void CollectSubtree(int32_t sessionID, int32_t pageNo, int depth, std::unordered_set<int32_t>& seen, int64_t bound,
                      std::vector<int32_t>& pages);
  void SplitRoot(int32_t sessionID, TABSBTreePage& root);
  void AfterRemove(int32_t sessionID, TABSBTreePath& path, int32_t level);
  void CollapseRoot(int32_t sessionID, TABSBTreePage& root);
  void SetSeparatorOfNext(int32_t sessionID, const TABSBTreePath& path, int32_t level, const uint8_t* key);
  void SetSeparatorOfChain(int32_t sessionID, const TABSBTreePath& path, int32_t level, const uint8_t* key);
  struct IntegrityWalk;
  struct Edge {
    std::vector<uint8_t> firstKey, firstValue, lastKey, lastValue;
  };
  void CheckPage(int32_t sessionID, int32_t pageNo, int depth, IntegrityWalk& walk, Edge& edge);
  // Entry order of two adjacent leaf entries: < 0 when in order.
  int CompareStored(const uint8_t* keyA, const uint8_t* valueA, const uint8_t* keyB, const uint8_t* valueB) const;

  TABSPageManager* manager_;
  const TABSBTreeKeyRef* keyRef_;
  int32_t root_ = -1;
  std::unique_ptr<TABSBTreeLeafController> leaf_;
  std::unique_ptr<TABSBTreeNodeController> node_;
};
