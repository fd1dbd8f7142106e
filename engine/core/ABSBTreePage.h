// ABSBTreePage: one page of a B+-tree, the key descriptions the tree
// compares with, the path from the root to a leaf entry, and the page
// controllers that search and edit the entries of one page.
//
// Index page layout, inside the data area of a page of type 12
// ("TableIndex Page"); little-endian, part of the stored format:
//   offset  size  field
//        0     1  root flag (1 on the root page)
//        1     1  leaf flag (1 on leaves, 0 on nodes)
//        2     4  previous page of the same level (int32, -1 = none)
//        6     4  next page of the same level (int32, -1 = none)
//       10     1  1 on a root initialised as an empty leaf; never read
//       11     1  record identifier suffix flag; always 0
//       12     2  key size K (uint16)
//       14     2  entry count N (uint16)
//       16     2  extra header bytes E before the first entry (uint16, 0)
//   18 + E N * S  entries: K key bytes, then the value
// S = K + value size; the value is the 6-byte record identifier on a leaf
// of a record index, a uint16 count on a leaf of a page index, and the
// int32 child page number on a node. The key of a node's first entry is
// meaningless: the first child takes everything below the second key.
//
// Contract
//  1. A page is fetched pinned and released by the TABSBTreePage that
//     holds it, also when an operation fails (RAII).
//  2. Every page read is checked before use: its layout must be an index
//     page of this tree's key size, its entries must lie inside the data
//     area, and its links and child numbers must be page numbers (>= 0, or
//     -1 for a missing sibling). A page that fails raises
//     "Index integrity error. PageNo=%d EntryNo=%d" (20028) and is never
//     read past its data area.
//  3. A page may hold more entries than fit only in memory, between the
//     insert that overfills it and its split (its buffer is enlarged).
//  4. A page that is changed is marked dirty before it is released, so the
//     page manager's session writes it at commit.
//
// Thread use: under the caller's database lock; no locks of its own.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/PageManager.h"

namespace btree {
constexpr int32_t kRootFlag = 0;
constexpr int32_t kLeafFlag = 1;
constexpr int32_t kPrevPage = 2;
constexpr int32_t kNextPage = 6;
constexpr int32_t kEmptyRootFlag = 10;
constexpr int32_t kRecordIdSuffix = 11;
constexpr int32_t kKeySize = 12;
constexpr int32_t kEntryCount = 14;
constexpr int32_t kExtraHeader = 16;
constexpr int32_t kHeaderSize = 18;
constexpr int32_t kNodeValueSize = 4;
constexpr uint16_t kIndexPageType = 12;
constexpr int kMaxLevels = 32;
}  // namespace btree

// The pages visited from the root down to one leaf entry.
struct TABSBTreePathLevel {
  int32_t pageNo = -1;
  int32_t entryIndex = 0;
  int32_t entryCount = 0;
};
struct TABSBTreePath {
  std::array<TABSBTreePathLevel, btree::kMaxLevels> levels{};
  int32_t levelCount = 0;
  void Clear() { levelCount = 0; }
  TABSBTreePathLevel& Leaf() { return levels[static_cast<size_t>(levelCount - 1)]; }
  const TABSBTreePathLevel& Leaf() const { return levels[static_cast<size_t>(levelCount - 1)]; }
};

// What a search looks for. `key` has the tree's key size. `value`, when
// given, orders equal keys by the leaf value (record identifier), so the
// search finds one exact entry. `exact` asks the key description to settle
// ties of truncated key parts through the full values (record keys).
struct TABSBTreeSearchKey {
  const uint8_t* key = nullptr;
  const uint8_t* value = nullptr;
  int32_t columnCount = -1;  // record keys: leading columns that count; -1 all
  bool exact = false;
  const char* record = nullptr;  // the memory record `key` was built from
};

// How keys of one tree compare.
class TABSBTreeKeyRef {
 public:
  TABSBTreeKeyRef(int32_t keySize, int32_t leafValueSize) : keySize_(keySize), leafValueSize_(leafValueSize) {}
  virtual ~TABSBTreeKeyRef() = default;
  TABSBTreeKeyRef(const TABSBTreeKeyRef&) = delete;
  TABSBTreeKeyRef& operator=(const TABSBTreeKeyRef&) = delete;

  int32_t KeySize() const { return keySize_; }
  int32_t LeafValueSize() const { return leafValueSize_; }

  // -1, 0, +1: the search key against a stored key, from the stored bytes.
  virtual int CompareKeys(const TABSBTreeSearchKey& search, const uint8_t* stored) const = 0;
  // Called when CompareKeys said equal and the search is exact: the order
  // of the search key and the entry (stored key, leaf value) from the full
  // values. Keys without truncated parts need nothing more.
  virtual int CompareExact(int32_t sessionID, const TABSBTreeSearchKey& search, const uint8_t* storedKey,
                           const uint8_t* leafValue) const {
    (void)sessionID, (void)search, (void)storedKey, (void)leafValue;
    return 0;
  }
  // Whether stored keys can tie without their values being equal.
  virtual bool HasTruncatedParts() const { return false; }
  // Order of two leaf values of equal keys; unsigned bytes by default.
  virtual int CompareLeafValues(const uint8_t* a, const uint8_t* b) const {
    const int c = std::memcmp(a, b, static_cast<size_t>(leafValueSize_));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }

 private:
  int32_t keySize_;
  int32_t leafValueSize_;
};

// Page keys: one signed 32-bit number; leaf values are uint16 counts.
class TABSPageKeyRef : public TABSBTreeKeyRef {
 public:
  TABSPageKeyRef() : TABSBTreeKeyRef(4, 2) {}
  int CompareKeys(const TABSBTreeSearchKey& search, const uint8_t* stored) const override;
};

// One pinned index page. Accessors read the layout at its offsets; every
// structural fact was checked when the page was taken (contract 2).
class TABSBTreePage {
 public:
  TABSBTreePage(TABSPageManager* manager, int32_t sessionID, const TABSBTreeKeyRef& keyRef)
      : manager_(manager), sessionID_(sessionID), keyRef_(&keyRef) {}
  ~TABSBTreePage() { Release(); }
  TABSBTreePage(const TABSBTreePage&) = delete;
  TABSBTreePage& operator=(const TABSBTreePage&) = delete;

  // Fetches and checks an existing page (contract 2).
  void Load(int32_t pageNo);
  // Allocates a new index page and lays out an empty page.
  void Allocate(bool leaf, bool root);
  // Lays out an empty page over the held one.
  void Init(bool leaf, bool root);
  void Release();
  void MarkDirty() { page_->IsDirty = true; }

  int32_t PageNo() const { return page_->PageNo; }
  bool IsLeaf() const { return Data()[btree::kLeafFlag] != 0; }
  bool IsRoot() const { return Data()[btree::kRootFlag] != 0; }
  int32_t Prev() const;
  int32_t Next() const;
  int32_t Count() const;
  void SetLeaf(bool leaf) {
    Data()[btree::kLeafFlag] = leaf ? 1 : 0;
    MarkDirty();
  }
  void SetRoot(bool root) {
    Data()[btree::kRootFlag] = root ? 1 : 0;
    MarkDirty();
  }
  void SetPrev(int32_t pageNo);
  void SetNext(int32_t pageNo);

  int32_t ValueSize() const { return IsLeaf() ? keyRef_->LeafValueSize() : btree::kNodeValueSize; }
  int32_t EntrySize() const { return keyRef_->KeySize() + ValueSize(); }
  uint8_t* Entry(int32_t i) { return Data() + btree::kHeaderSize + i * EntrySize(); }
  const uint8_t* Entry(int32_t i) const { return Data() + btree::kHeaderSize + i * EntrySize(); }
  const uint8_t* Key(int32_t i) const { return Entry(i); }
  uint8_t* Value(int32_t i) { return Entry(i) + keyRef_->KeySize(); }
  const uint8_t* Value(int32_t i) const { return Entry(i) + keyRef_->KeySize(); }
  // A node's child at entry i, checked to be a page number (contract 2).
  int32_t Child(int32_t i) const;

  // Entry edits; the page grows in memory past its size when needed.
  void InsertEntry(int32_t i, const uint8_t* key, const uint8_t* value);
  void RemoveEntry(int32_t i);
  // Appends entries [first, first + count) of `from` (same leaf flag).
  void AppendFrom(const TABSBTreePage& from, int32_t first, int32_t count);
  // Puts every entry of `from` in front of this page's entries.
  void PrependAllFrom(const TABSBTreePage& from);
  void Truncate(int32_t count);
  void SetKey(int32_t i, const uint8_t* key);
  void SetCount(int32_t n);

  // The data area of one page, equal for every page of the manager.
  int32_t AreaSize() const { return manager_->PageDataSize(); }
  bool Overfull() const { return btree::kHeaderSize + Count() * EntrySize() > AreaSize(); }
  bool Underfull() const { return Count() * EntrySize() < (AreaSize() - btree::kHeaderSize) / 2; }
  // Whether `count` entries of this page's kind fit in one page.
  bool Fits(int32_t count) const { return count * EntrySize() + btree::kHeaderSize < AreaSize(); }

  [[noreturn]] void Corrupt(int32_t entryNo) const;

 private:
  uint8_t* Data() { return page_->DataBuffer(); }
  const uint8_t* Data() const { return page_->Buffer() + page_->HeaderSize(); }
  void Reserve(int32_t count);
  void Check() const;

  TABSPageManager* manager_;
  int32_t sessionID_;
  const TABSBTreeKeyRef* keyRef_;
  TABSPage* page_ = nullptr;
};

// The outcome of searching one page.
enum class TABSBTreeFind { kEmpty, kFound, kNotFound };
// Where a search stops in a run of equal keys: the first entry not below
// the key (lower bound) or the first entry above it (upper bound).
enum class TABSBTreeBound { kLower, kUpper };

// Searching the entries of one page. Reads first keys of child subtrees
// through the tree when a node separator ties with an ordered search.
class TABSBTree;
class TABSBTreePageController {
 public:
  explicit TABSBTreePageController(TABSBTree& tree) : tree_(tree) {}
  virtual ~TABSBTreePageController() = default;
  // The position in `page` where `bound` puts the search key: for a leaf
  // the entry index (0..N), for a node the child entry to descend into.
  virtual int32_t Search(int32_t sessionID, const TABSBTreePage& page, const TABSBTreeSearchKey& search,
                         TABSBTreeBound bound) = 0;

 protected:
  TABSBTree& tree_;
};

class TABSBTreeLeafController : public TABSBTreePageController {
 public:
  using TABSBTreePageController::TABSBTreePageController;
  int32_t Search(int32_t sessionID, const TABSBTreePage& page, const TABSBTreeSearchKey& search,
                 TABSBTreeBound bound) override;
};

class TABSBTreeNodeController : public TABSBTreePageController {
 public:
  using TABSBTreePageController::TABSBTreePageController;
  int32_t Search(int32_t sessionID, const TABSBTreePage& page, const TABSBTreeSearchKey& search,
                 TABSBTreeBound bound) override;
};
