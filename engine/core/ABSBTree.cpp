// The generic B+-tree: descent, navigation, insert with splits, delete
// with merges, entry numbers and the integrity walk.
#include "core/ABSBTree.h"

#include "core/ZUDBytes.h"
#include "core/ZUDExcept.h"

using namespace btree;

TABSBTree::TABSBTree(TABSPageManager* manager, const TABSBTreeKeyRef& keyRef)
    : manager_(manager),
      keyRef_(&keyRef),
      leaf_(std::make_unique<TABSBTreeLeafController>(*this)),
      node_(std::make_unique<TABSBTreeNodeController>(*this)) {
  if (!manager_) throw EABSException(20044, "Pointer is nil");
}

void TABSBTree::CheckRoot() const {
  if (root_ < 0) throw EABSException(20119, "Invalid page number");
}

void TABSBTree::LoadRoot(TABSBTreePage& page) const {
  CheckRoot();
  page.Load(root_);
  if (!page.IsRoot()) page.Corrupt(-1);
}

// A child is never the root: a link back to it would make a cycle.
void TABSBTree::LoadChild(TABSBTreePage& page, int32_t pageNo) const {
  page.Load(pageNo);
  if (page.IsRoot() || pageNo == root_) page.Corrupt(-1);
}

// ---------------------------------------------------------------------------
// Creating and freeing

void TABSBTree::CreateRoot(int32_t sessionID) {
  TABSBTreePage page(manager_, sessionID, *keyRef_);
  page.Allocate(true, true);
  root_ = page.PageNo();
}

// A page of a walk from the root: the root itself at depth 0, else a child
// page; a walk deeper than any tree can be is a damaged one.
void TABSBTree::LoadWalked(TABSBTreePage& page, int32_t pageNo, int depth) const {
  if (depth == 0)
    LoadRoot(page);
  else
    LoadChild(page, pageNo);
  if (depth >= kMaxLevels) page.Corrupt(-1);
}

// A page reached twice is a damaged tree: freeing stops there instead of
// walking a shared subtree over and over.
void TABSBTree::FreeSubtree(int32_t sessionID, int32_t pageNo, int depth, std::unordered_set<int32_t>& freed) {
  if (!freed.insert(pageNo).second)
    throw EABSException(20032, "Index integrity error. Circular links. PageNo=%d EntryNo=%d", {pageNo, -1});
  TABSBTreePage page(manager_, sessionID, *keyRef_);
  LoadWalked(page, pageNo, depth);
  if (!page.IsLeaf())
    for (int32_t i = 0; i < page.Count(); ++i) FreeSubtree(sessionID, page.Child(i), depth + 1, freed);
  page.Release();
  manager_->DeletePage(sessionID, pageNo);
}

void TABSBTree::CollectSubtree(int32_t sessionID, int32_t pageNo, int depth, std::unordered_set<int32_t>& seen,
                               int64_t bound, std::vector<int32_t>& pages) {
  if (!seen.insert(pageNo).second || static_cast<int64_t>(seen.size()) > bound)
    throw EABSException(20032, "Index integrity error. Circular links. PageNo=%d EntryNo=%d", {pageNo, -1});
  TABSBTreePage page(manager_, sessionID, *keyRef_);
  LoadWalked(page, pageNo, depth);
  pages.push_back(pageNo);
  if (page.IsLeaf()) return;
  std::vector<int32_t> children;
  for (int32_t i = 0; i < page.Count(); ++i) children.push_back(page.Child(i));
  page.Release();  // one pinned page at a time, whatever the depth
  for (const int32_t child : children) CollectSubtree(sessionID, child, depth + 1, seen, bound, pages);
}

void TABSBTree::CollectPages(int32_t sessionID, std::vector<int32_t>& pages) {
  std::unordered_set<int32_t> seen;
  CollectSubtree(sessionID, root_, 0, seen, manager_->GetPageCount(), pages);
}

void TABSBTree::Drop(int32_t sessionID) {
  std::unordered_set<int32_t> freed;
  FreeSubtree(sessionID, root_, 0, freed);
  root_ = -1;
}

void TABSBTree::Empty(int32_t sessionID) {
  TABSBTreePage root(manager_, sessionID, *keyRef_);
  LoadRoot(root);
  std::unordered_set<int32_t> freed{root_};
  if (!root.IsLeaf())
    for (int32_t i = 0; i < root.Count(); ++i) FreeSubtree(sessionID, root.Child(i), 1, freed);
  root.Init(true, true);
}

// ---------------------------------------------------------------------------
// Comparison

int TABSBTree::CompareEntry(int32_t sessionID, const TABSBTreeSearchKey& search, const uint8_t* key,
                            const uint8_t* value) {
  int c = keyRef_->CompareKeys(search, key);
  if (c != 0) return c;
  if (search.exact) {
    c = keyRef_->CompareExact(sessionID, search, key, value);
    if (c != 0) return c;
  }
  return search.value ? keyRef_->CompareLeafValues(search.value, value) : 0;
}

bool TABSBTree::FirstLeafEntry(int32_t sessionID, int32_t pageNo, std::vector<uint8_t>& key,
                               std::vector<uint8_t>* value) {
  TABSBTreePage page(manager_, sessionID, *keyRef_);
  page.Load(pageNo);
  for (int depth = 0; !page.IsLeaf(); ++depth) {
    if (depth >= kMaxLevels) page.Corrupt(0);
    LoadChild(page, page.Child(0));
  }
  if (page.Count() == 0) return false;
  key.assign(page.Key(0), page.Key(0) + keyRef_->KeySize());
  if (value) value->assign(page.Value(0), page.Value(0) + keyRef_->LeafValueSize());
  return true;
}

int TABSBTree::CompareWithSubtree(int32_t sessionID, const TABSBTreeSearchKey& search, int32_t pageNo) {
  std::vector<uint8_t> key, value;
  if (!FirstLeafEntry(sessionID, pageNo, key, &value)) return 1;
  return CompareEntry(sessionID, search, key.data(), value.data());
}

// ---------------------------------------------------------------------------
// Descent and navigation

void TABSBTree::Descend(int32_t sessionID, const TABSBTreeSearchKey& search, TABSBTreeBound bound,
                        TABSBTreePath& path) {
  if (!search.key) throw EABSException(20045, "Pointer is nil");
  TABSBTreePage page(manager_, sessionID, *keyRef_);
  LoadRoot(page);
  path.Clear();
  for (int level = 0;; ++level) {
    if (level >= kMaxLevels) page.Corrupt(-1);
    TABSBTreePathLevel& l = path.levels[static_cast<size_t>(level)];
    l.pageNo = page.PageNo();
    l.entryCount = page.Count();
    path.levelCount = level + 1;
    if (page.IsLeaf()) {
      l.entryIndex = leaf_->Search(sessionID, page, search, bound);
      return;
    }
    l.entryIndex = node_->Search(sessionID, page, search, bound);
    LoadChild(page, page.Child(l.entryIndex));
  }
}

// Fills levels from `level` on along the first (or last) entries.
void TABSBTree::DescendEdge(int32_t sessionID, TABSBTreePath& path, int32_t level, int32_t pageNo, bool last) {
  TABSBTreePage page(manager_, sessionID, *keyRef_);
  if (level == 0)
    LoadRoot(page);
  else
    LoadChild(page, pageNo);
  for (;; ++level) {
    if (level >= kMaxLevels) page.Corrupt(-1);
    TABSBTreePathLevel& l = path.levels[static_cast<size_t>(level)];
    l.pageNo = page.PageNo();
    l.entryCount = page.Count();
    l.entryIndex = last && page.Count() > 0 ? page.Count() - 1 : 0;
    path.levelCount = level + 1;
    if (page.IsLeaf()) return;
    LoadChild(page, page.Child(l.entryIndex));
  }
}

bool TABSBTree::First(int32_t sessionID, TABSBTreePath& path) {
  DescendEdge(sessionID, path, 0, root_, false);
  return path.Leaf().entryCount > 0;
}

bool TABSBTree::Last(int32_t sessionID, TABSBTreePath& path) {
  DescendEdge(sessionID, path, 0, root_, true);
  return path.Leaf().entryCount > 0;
}

bool TABSBTree::Next(int32_t sessionID, TABSBTreePath& path) {
  if (path.levelCount <= 0 || path.levelCount > kMaxLevels) throw EABSException(20068, "Index error: invalid position");
  TABSBTreePage page(manager_, sessionID, *keyRef_);
  page.Load(path.Leaf().pageNo);
  TABSBTreePathLevel& leaf = path.Leaf();
  if (leaf.entryIndex + 1 < page.Count()) {
    ++leaf.entryIndex;
    leaf.entryCount = page.Count();
    return true;
  }
  const int32_t link = page.Next();
  int32_t l = path.levelCount - 2;
  for (; l >= 0; --l) {
    page.Load(path.levels[static_cast<size_t>(l)].pageNo);
    if (path.levels[static_cast<size_t>(l)].entryIndex + 1 < page.Count()) break;
  }
  if (l < 0) {
    if (link != -1) throw EABSException(20070, "Index error: invalid page number");
    return false;
  }
  TABSBTreePath moved = path;
  TABSBTreePathLevel& at = moved.levels[static_cast<size_t>(l)];
  ++at.entryIndex;
  at.entryCount = page.Count();
  DescendEdge(sessionID, moved, l + 1, page.Child(at.entryIndex), false);
  if (moved.Leaf().pageNo != link) throw EABSException(20070, "Index error: invalid page number");
  if (moved.Leaf().entryCount == 0) page.Corrupt(-1);
  path = moved;
  return true;
}

bool TABSBTree::Prior(int32_t sessionID, TABSBTreePath& path) {
  if (path.levelCount <= 0 || path.levelCount > kMaxLevels) throw EABSException(20069, "Index error: invalid position");
  TABSBTreePage page(manager_, sessionID, *keyRef_);
  page.Load(path.Leaf().pageNo);
  TABSBTreePathLevel& leaf = path.Leaf();
  if (leaf.entryIndex > 0 && leaf.entryIndex - 1 < page.Count()) {
    --leaf.entryIndex;
    leaf.entryCount = page.Count();
    return true;
  }
  const int32_t link = page.Prev();
  int32_t l = path.levelCount - 2;
  for (; l >= 0; --l) {
    page.Load(path.levels[static_cast<size_t>(l)].pageNo);
    if (path.levels[static_cast<size_t>(l)].entryIndex > 0) break;
  }
  if (l < 0) {
    if (link != -1) throw EABSException(20071, "Index error: invalid page number");
    return false;
  }
  TABSBTreePath moved = path;
  TABSBTreePathLevel& at = moved.levels[static_cast<size_t>(l)];
  if (at.entryIndex > page.Count()) page.Corrupt(at.entryIndex);
  --at.entryIndex;
  at.entryCount = page.Count();
  DescendEdge(sessionID, moved, l + 1, page.Child(at.entryIndex), true);
  if (moved.Leaf().pageNo != link) throw EABSException(20071, "Index error: invalid page number");
  if (moved.Leaf().entryCount == 0) page.Corrupt(-1);
  path = moved;
  return true;
}

bool TABSBTree::SeekFirst(int32_t sessionID, const TABSBTreeSearchKey& search, TABSBTreeBound bound,
                          TABSBTreePath& path) {
  Descend(sessionID, search, bound, path);
  TABSBTreePathLevel& leaf = path.Leaf();
  if (leaf.entryIndex < leaf.entryCount) return true;
  if (leaf.entryCount == 0) {
    if (path.levelCount > 1)
      throw EABSException(20028, "Index integrity error. PageNo=%d EntryNo=%d", {leaf.pageNo, 0});
    return false;
  }
  leaf.entryIndex = leaf.entryCount - 1;
  return Next(sessionID, path);
}

bool TABSBTree::SeekLast(int32_t sessionID, const TABSBTreeSearchKey& search, TABSBTreeBound bound,
                         TABSBTreePath& path) {
  Descend(sessionID, search, bound, path);
  TABSBTreePathLevel& leaf = path.Leaf();
  if (leaf.entryIndex > 0) {
    --leaf.entryIndex;
    return true;
  }
  if (leaf.entryCount == 0) {
    if (path.levelCount > 1)
      throw EABSException(20028, "Index integrity error. PageNo=%d EntryNo=%d", {leaf.pageNo, 0});
    return false;
  }
  return Prior(sessionID, path);
}

bool TABSBTree::FindExact(int32_t sessionID, const TABSBTreeSearchKey& search, TABSBTreePath& path) {
  if (!SeekLast(sessionID, search, TABSBTreeBound::kUpper, path)) return false;
  TABSBTreePage page(manager_, sessionID, *keyRef_);
  page.Load(path.Leaf().pageNo);
  const int32_t i = path.Leaf().entryIndex;
  if (i < 0 || i >= page.Count()) page.Corrupt(i);
  return CompareEntry(sessionID, search, page.Key(i), page.Value(i)) == 0;
}

void TABSBTree::ReadEntry(int32_t sessionID, const TABSBTreePath& path, std::vector<uint8_t>* key,
                          std::vector<uint8_t>* value) {
  if (path.levelCount <= 0 || path.levelCount > kMaxLevels) throw EABSException(20051, "Invalid index key path");
  TABSBTreePage page(manager_, sessionID, *keyRef_);
  page.Load(path.Leaf().pageNo);
  const int32_t i = path.Leaf().entryIndex;
  if (!page.IsLeaf() || i < 0 || i >= page.Count()) throw EABSException(20052, "Invalid index key path");
  if (key) key->assign(page.Key(i), page.Key(i) + keyRef_->KeySize());
  if (value) value->assign(page.Value(i), page.Value(i) + keyRef_->LeafValueSize());
}

void TABSBTree::WriteValue(int32_t sessionID, const TABSBTreePath& path, const uint8_t* value) {
  if (path.levelCount <= 0 || path.levelCount > kMaxLevels) throw EABSException(20051, "Invalid index key path");
  TABSBTreePage page(manager_, sessionID, *keyRef_);
  page.Load(path.Leaf().pageNo);
  const int32_t i = path.Leaf().entryIndex;
  if (!page.IsLeaf() || i < 0 || i >= page.Count()) throw EABSException(20052, "Invalid index key path");
  std::memcpy(page.Value(i), value, static_cast<size_t>(keyRef_->LeafValueSize()));
  page.MarkDirty();
}

// ---------------------------------------------------------------------------
// Insert and split

void TABSBTree::Insert(int32_t sessionID, const TABSBTreeSearchKey& search) {
  if (!search.key || !search.value) throw EABSException(20045, "Pointer is nil");
  TABSBTreePath path;
  Descend(sessionID, search, TABSBTreeBound::kUpper, path);
  const int32_t keySize = keyRef_->KeySize();
  std::vector<uint8_t> key(search.key, search.key + keySize);
  std::vector<uint8_t> value(search.value, search.value + keyRef_->LeafValueSize());
  int32_t level = path.levelCount - 1;
  int32_t pos = path.Leaf().entryIndex;
  for (;;) {
    TABSBTreePage page(manager_, sessionID, *keyRef_);
    page.Load(path.levels[static_cast<size_t>(level)].pageNo);
    page.InsertEntry(pos, key.data(), value.data());
    if (!page.Overfull()) return;
    if (page.IsRoot()) {
      SplitRoot(sessionID, page);
      return;
    }
    if (level == 0) page.Corrupt(-1);  // a non-root page at the top of a path
    TABSBTreePage right(manager_, sessionID, *keyRef_);
    right.Allocate(page.IsLeaf(), false);
    const int32_t n = page.Count(), keep = n / 2;
    right.AppendFrom(page, keep, n - keep);
    page.Truncate(keep);
    const int32_t oldNext = page.Next();
    right.SetPrev(page.PageNo());
    right.SetNext(oldNext);
    if (oldNext != -1) {
      TABSBTreePage next(manager_, sessionID, *keyRef_);
      LoadChild(next, oldNext);
      next.SetPrev(right.PageNo());
      next.MarkDirty();
    }
    page.SetNext(right.PageNo());
    page.MarkDirty();
    key.assign(right.Key(0), right.Key(0) + keySize);
    value.resize(kNodeValueSize);
    zud::PutU32(value.data(), static_cast<uint32_t>(right.PageNo()));
    --level;
    pos = path.levels[static_cast<size_t>(level)].entryIndex + 1;
  }
}

// The root keeps its number: its entries move to two new pages and it
// becomes a node over them, one level higher.
void TABSBTree::SplitRoot(int32_t sessionID, TABSBTreePage& root) {
  const bool leaf = root.IsLeaf();
  const int32_t n = root.Count(), keep = n / 2;
  TABSBTreePage a(manager_, sessionID, *keyRef_), b(manager_, sessionID, *keyRef_);
  a.Allocate(leaf, false);
  b.Allocate(leaf, false);
  a.AppendFrom(root, 0, keep);
  b.AppendFrom(root, keep, n - keep);
  a.SetNext(b.PageNo());
  b.SetPrev(a.PageNo());
  root.Truncate(0);
  root.SetLeaf(false);
  const std::vector<uint8_t> emptyKey(static_cast<size_t>(keyRef_->KeySize()), 0);
  uint8_t child[kNodeValueSize];
  zud::PutU32(child, static_cast<uint32_t>(a.PageNo()));
  root.InsertEntry(0, emptyKey.data(), child);
  zud::PutU32(child, static_cast<uint32_t>(b.PageNo()));
  root.InsertEntry(1, b.Key(0), child);
}

// ---------------------------------------------------------------------------
// Delete and merge

void TABSBTree::Delete(int32_t sessionID, const TABSBTreeSearchKey& search) {
  TABSBTreePath path;
  if (!FindExact(sessionID, search, path))
    throw EABSException(20027, "Index error: cannot delete entry. Entry not found");
  DeleteAt(sessionID, path);
}

void TABSBTree::DeleteAt(int32_t sessionID, TABSBTreePath& path) {
  if (path.levelCount <= 0 || path.levelCount > kMaxLevels) throw EABSException(20068, "Index error: invalid position");
  {
    TABSBTreePage page(manager_, sessionID, *keyRef_);
    page.Load(path.Leaf().pageNo);
    if (!page.IsLeaf()) throw EABSException(20024, "Internal index error");
    if (path.Leaf().entryIndex >= page.Count() && page.Count() > 0)
      throw EABSException(20250, "Index error: cannot delete entry. Entry not found");
    page.RemoveEntry(path.Leaf().entryIndex);
    path.Leaf().entryCount = page.Count();
  }
  AfterRemove(sessionID, path, path.levelCount - 1);
}

void TABSBTree::CollapseRoot(int32_t sessionID, TABSBTreePage& root) {
  if (!root.IsLeaf() && root.Count() == 0) {
    root.Init(true, true);  // cannot stay a node without children
    return;
  }
  while (!root.IsLeaf() && root.Count() == 1) {
    const int32_t childNo = root.Child(0);
    TABSBTreePage child(manager_, sessionID, *keyRef_);
    LoadChild(child, childNo);
    root.Truncate(0);
    root.SetLeaf(child.IsLeaf());
    root.AppendFrom(child, 0, child.Count());
    child.Release();
    manager_->DeletePage(sessionID, childNo);
  }
}

// The separator that routes to the subtree right after the one `path`
// follows at `level`: in the nearest ancestor where the path is not on the
// last entry.
void TABSBTree::SetSeparatorOfNext(int32_t sessionID, const TABSBTreePath& path, int32_t level, const uint8_t* key) {
  TABSBTreePage page(manager_, sessionID, *keyRef_);
  for (int32_t l = level; l >= 0; --l) {
    page.Load(path.levels[static_cast<size_t>(l)].pageNo);
    const int32_t i = path.levels[static_cast<size_t>(l)].entryIndex;
    if (i + 1 < page.Count()) {
      page.SetKey(i + 1, key);
      return;
    }
  }
}

// The separator that routes to the subtree `path` follows at `level`: in
// the nearest ancestor where the path is not on the first entry.
void TABSBTree::SetSeparatorOfChain(int32_t sessionID, const TABSBTreePath& path, int32_t level, const uint8_t* key) {
  TABSBTreePage page(manager_, sessionID, *keyRef_);
  for (int32_t l = level - 1; l >= 0; --l) {
    const int32_t i = path.levels[static_cast<size_t>(l)].entryIndex;
    if (i > 0) {
      page.Load(path.levels[static_cast<size_t>(l)].pageNo);
      if (i >= page.Count()) page.Corrupt(i);
      page.SetKey(i, key);
      return;
    }
  }
}

void TABSBTree::AfterRemove(int32_t sessionID, TABSBTreePath& path, int32_t level) {
  TABSBTreePage page(manager_, sessionID, *keyRef_);
  page.Load(path.levels[static_cast<size_t>(level)].pageNo);
  if (level == 0) {
    if (!page.IsRoot()) page.Corrupt(-1);
    CollapseRoot(sessionID, page);
    return;
  }
  if (page.IsRoot()) page.Corrupt(-1);
  if (!page.Underfull()) return;
  const int32_t parentLevel = level - 1;
  const int32_t index = path.levels[static_cast<size_t>(parentLevel)].entryIndex;
  const int32_t pageNo = page.PageNo(), prevNo = page.Prev(), nextNo = page.Next();
  const bool leaf = page.IsLeaf();
  const int32_t keySize = keyRef_->KeySize();
  bool mergedLeft = false;

  TABSBTreePage prev(manager_, sessionID, *keyRef_), next(manager_, sessionID, *keyRef_);
  if (prevNo != -1) {
    LoadChild(prev, prevNo);
    if (prev.IsLeaf() != leaf || prev.Next() != pageNo) throw EABSException(20071, "Index error: invalid page number");
  }
  if (nextNo != -1) {
    LoadChild(next, nextNo);
    if (next.IsLeaf() != leaf || next.Prev() != pageNo) throw EABSException(20070, "Index error: invalid page number");
  }
  std::vector<uint8_t> key;
  if (prevNo != -1 && page.Fits(prev.Count() + page.Count())) {
    // The first entry of a node stops being first: it needs a real key.
    if (!leaf && page.Count() > 0 && FirstLeafEntry(sessionID, page.Child(0), key, nullptr)) page.SetKey(0, key.data());
    prev.AppendFrom(page, 0, page.Count());
    prev.SetNext(nextNo);
    if (nextNo != -1) next.SetPrev(prevNo);
    mergedLeft = true;
  } else if (nextNo != -1 && page.Fits(next.Count() + page.Count())) {
    if (!leaf && next.Count() > 0 && FirstLeafEntry(sessionID, next.Child(0), key, nullptr)) next.SetKey(0, key.data());
    // The next page now begins with this page's entries: the separator
    // that routes to it must not exceed them.
    if (page.Count() > 0 && FirstLeafEntry(sessionID, pageNo, key, nullptr))
      SetSeparatorOfNext(sessionID, path, parentLevel, key.data());
    next.PrependAllFrom(page);
    next.SetPrev(prevNo);
    if (prevNo != -1) prev.SetNext(nextNo);
  } else {
    return;  // no sibling can take the entries; the page stays underfull
  }
  prev.Release();
  next.Release();
  page.Release();
  manager_->DeletePage(sessionID, pageNo);

  TABSBTreePage parent(manager_, sessionID, *keyRef_);
  parent.Load(path.levels[static_cast<size_t>(parentLevel)].pageNo);
  if (index < 0 || index >= parent.Count() || parent.Child(index) != pageNo) parent.Corrupt(index);
  parent.RemoveEntry(index);
  path.levels[static_cast<size_t>(parentLevel)].entryCount = parent.Count();
  // Entries left this subtree for the one before it: the separator that
  // routes here must now start at what remains.
  if (mergedLeft && index == 0 && parent.Count() > 0 && FirstLeafEntry(sessionID, parent.Child(0), key, nullptr)) {
    (void)keySize;
    SetSeparatorOfChain(sessionID, path, parentLevel, key.data());
  }
  parent.Release();
  AfterRemove(sessionID, path, parentLevel);
}

// ---------------------------------------------------------------------------
// Entry numbers and positions

namespace {
// Remembers the pages of one chain walk (contract 4).
class TABSWalkGuard {
 public:
  void Visit(int32_t pageNo) {
    if (!seen_.insert(pageNo).second)
      throw EABSException(20028, "Index integrity error. PageNo=%d EntryNo=%d", {pageNo, -1});
  }

 private:
  std::unordered_set<int32_t> seen_;
};
}  // namespace

int64_t TABSBTree::EntryNumber(int32_t sessionID, const TABSBTreePath& path) {
  if (path.levelCount <= 0 || path.levelCount > kMaxLevels) throw EABSException(20068, "Index error: invalid position");
  int64_t number = path.Leaf().entryIndex + 1;
  TABSWalkGuard guard;
  TABSBTreePage page(manager_, sessionID, *keyRef_);
  page.Load(path.Leaf().pageNo);
  guard.Visit(page.PageNo());
  for (int32_t prev = page.Prev(); prev != -1; prev = page.Prev()) {
    guard.Visit(prev);
    LoadChild(page, prev);
    number += page.Count();
  }
  return number;
}

void TABSBTree::PathOfNumber(int32_t sessionID, int64_t number, TABSBTreePath& path) {
  if (!First(sessionID, path)) throw EABSException(20074, "Cannot retrieve record from empty index");
  if (number < 1) number = 1;  // below the first entry: the first one
  TABSWalkGuard guard;
  for (;;) {
    TABSBTreePathLevel& leaf = path.Leaf();
    guard.Visit(leaf.pageNo);
    if (number <= leaf.entryCount) {
      leaf.entryIndex = static_cast<int32_t>(number - 1);
      return;
    }
    number -= leaf.entryCount;
    leaf.entryIndex = leaf.entryCount - 1;
    if (!Next(sessionID, path)) throw EABSException(20075, "Cannot set RecNo greater than RecordCount");
  }
}

void TABSBTree::ForEachLeaf(int32_t sessionID, const std::function<bool(const TABSBTreePage& leaf)>& visit) {
  TABSBTreePath path;
  DescendEdge(sessionID, path, 0, root_, false);
  TABSWalkGuard guard;
  TABSBTreePage page(manager_, sessionID, *keyRef_);
  for (int32_t no = path.Leaf().pageNo; no != -1; no = page.Next()) {
    guard.Visit(no);
    page.Load(no);
    if (!page.IsLeaf()) page.Corrupt(-1);
    if (!visit(page)) return;
  }
}

int64_t TABSBTree::EntryCount(int32_t sessionID) {
  int64_t count = 0;
  ForEachLeaf(sessionID, [&](const TABSBTreePage& leaf) {
    count += leaf.Count();
    return true;
  });
  return count;
}

double TABSBTree::PathFraction(const TABSBTreePath& path) {
  double fraction = 0, scale = 1;
  for (int32_t l = 0; l < path.levelCount && l < kMaxLevels; ++l) {
    const TABSBTreePathLevel& level = path.levels[static_cast<size_t>(l)];
    if (level.entryCount <= 0) break;
    scale /= level.entryCount;
    fraction += level.entryIndex * scale;
  }
  return fraction;
}

int TABSBTree::ComparePaths(const TABSBTreePath& a, const TABSBTreePath& b) {
  if (a.levelCount != b.levelCount || a.levelCount <= 0 || a.levelCount > kMaxLevels)
    throw EABSException(20051, "Invalid index key path");
  for (int32_t l = 0; l < a.levelCount; ++l) {
    const TABSBTreePathLevel& x = a.levels[static_cast<size_t>(l)];
    const TABSBTreePathLevel& y = b.levels[static_cast<size_t>(l)];
    if (x.pageNo != y.pageNo) throw EABSException(20052, "Invalid index key path");
    if (x.entryIndex != y.entryIndex) return x.entryIndex < y.entryIndex ? -1 : 1;
  }
  return 0;
}

int32_t TABSBTree::Depth(int32_t sessionID) {
  TABSBTreePath path;
  DescendEdge(sessionID, path, 0, root_, false);
  return path.levelCount;
}

// ---------------------------------------------------------------------------
// Integrity

struct TABSBTree::IntegrityWalk {
  std::unordered_set<int32_t> visited;
  // Pages of each level in key order, with their sibling links.
  struct Link {
    int32_t pageNo, prev, next;
  };
  std::vector<std::vector<Link>> levels;
  int leafDepth = -1;
};

int TABSBTree::CompareStored(const uint8_t* keyA, const uint8_t* valueA, const uint8_t* keyB,
                             const uint8_t* valueB) const {
  TABSBTreeSearchKey a;
  a.key = keyA;
  const int c = keyRef_->CompareKeys(a, keyB);
  if (c != 0) return c;
  // Keys with truncated parts tie on their stored bytes without being equal:
  // their order is settled by the records, so ties are accepted as they are.
  if (keyRef_->HasTruncatedParts()) return -1;
  return keyRef_->CompareLeafValues(valueA, valueB);
}

void TABSBTree::CheckPage(int32_t sessionID, int32_t pageNo, int depth, IntegrityWalk& walk, Edge& edge) {
  TABSBTreePage page(manager_, sessionID, *keyRef_);
  if (depth == 0)
    LoadRoot(page);
  else
    LoadChild(page, pageNo);
  if (depth >= kMaxLevels) page.Corrupt(-1);
  if (walk.levels.size() <= static_cast<size_t>(depth)) walk.levels.resize(static_cast<size_t>(depth) + 1);
  walk.levels[static_cast<size_t>(depth)].push_back({pageNo, page.Prev(), page.Next()});
  const int32_t n = page.Count();
  const int32_t keySize = keyRef_->KeySize(), valueSize = keyRef_->LeafValueSize();
  if (page.Overfull() || (depth > 0 && n == 0)) page.Corrupt(n);
  if (page.IsLeaf()) {
    if (walk.leafDepth == -1) walk.leafDepth = depth;
    if (walk.leafDepth != depth) page.Corrupt(-1);
    for (int32_t i = 0; i + 1 < n; ++i)
      if (CompareStored(page.Key(i), page.Value(i), page.Key(i + 1), page.Value(i + 1)) >= 0)
        throw EABSException(20028, "Index integrity error. PageNo=%d EntryNo=%d", {pageNo, i});
    if (n > 0) {
      edge.firstKey.assign(page.Key(0), page.Key(0) + keySize);
      edge.firstValue.assign(page.Value(0), page.Value(0) + valueSize);
      edge.lastKey.assign(page.Key(n - 1), page.Key(n - 1) + keySize);
      edge.lastValue.assign(page.Value(n - 1), page.Value(n - 1) + valueSize);
    }
    return;
  }
  Edge previous;
  TABSBTreeSearchKey separator;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t child = page.Child(i);
    if (!walk.visited.insert(child).second)
      throw EABSException(20032, "Index integrity error. Circular links. PageNo=%d EntryNo=%d", {pageNo, i});
    Edge current;
    CheckPage(sessionID, child, depth + 1, walk, current);
    if (i >= 1) {
      separator.key = page.Key(i);
      if (i >= 2) {
        TABSBTreeSearchKey before;
        before.key = page.Key(i - 1);
        if (keyRef_->CompareKeys(before, page.Key(i)) > 0)
          throw EABSException(20029, "Index integrity error. PageNo=%d EntryNo=%d", {pageNo, i});
      }
      if (!previous.lastKey.empty() && keyRef_->CompareKeys(separator, previous.lastKey.data()) < 0)
        throw EABSException(20030, "Index integrity error. PageNo=%d EntryNo=%d", {pageNo, i});
      if (!current.firstKey.empty() && keyRef_->CompareKeys(separator, current.firstKey.data()) > 0)
        throw EABSException(20031, "Index integrity error. PageNo=%d EntryNo=%d", {pageNo, i});
      if (!previous.lastKey.empty() && !current.firstKey.empty() &&
          CompareStored(previous.lastKey.data(), previous.lastValue.data(), current.firstKey.data(),
                        current.firstValue.data()) >= 0)
        throw EABSException(20194, "Index integrity error. PageNo=%d EntryNo=%d", {pageNo, i});
    }
    if (i == 0) {
      edge.firstKey = current.firstKey;
      edge.firstValue = current.firstValue;
    }
    if (!current.lastKey.empty()) previous = current;
  }
  edge.lastKey = previous.lastKey;
  edge.lastValue = previous.lastValue;
}

void TABSBTree::CheckIntegrity(int32_t sessionID) {
  IntegrityWalk walk;
  walk.visited.insert(root_);
  Edge edge;
  CheckPage(sessionID, root_, 0, walk, edge);
  // Every level is one chain, linked both ways in key order.
  for (const auto& level : walk.levels) {
    for (size_t j = 0; j < level.size(); ++j) {
      const int32_t wantPrev = j == 0 ? -1 : level[j - 1].pageNo;
      const int32_t wantNext = j + 1 == level.size() ? -1 : level[j + 1].pageNo;
      if (level[j].prev != wantPrev)
        throw EABSException(20033, "Index integrity error. Invlaid leaf link. PageNo=%d EntryNo=%d",
                            {level[j].pageNo, static_cast<int>(j)});
      if (level[j].next != wantNext)
        throw EABSException(20034, "Index integrity error. Invlaid leaf link. PageNo=%d EntryNo=%d",
                            {level[j].pageNo, static_cast<int>(j)});
    }
  }
}
