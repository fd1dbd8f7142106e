// Index pages: layout access, the checks every page read passes, entry
// edits and the in-page binary search.
#include "core/ABSBTreePage.h"

#include <algorithm>

#include "core/ABSBTree.h"
#include "core/ZUDBytes.h"
#include "core/ZUDExcept.h"

using namespace btree;

// ---------------------------------------------------------------------------
// TABSPageKeyRef

int TABSPageKeyRef::CompareKeys(const TABSBTreeSearchKey& search, const uint8_t* stored) const {
  const int32_t a = zud::GetI32(search.key), b = zud::GetI32(stored);
  return a < b ? -1 : (a > b ? 1 : 0);
}

// ---------------------------------------------------------------------------
// TABSBTreePage

void TABSBTreePage::Corrupt(int32_t entryNo) const {
  throw EABSException(20028, "Index integrity error. PageNo=%d EntryNo=%d", {page_ ? page_->PageNo : -1, entryNo});
}

void TABSBTreePage::Release() {
  if (!page_) return;
  TABSPage* p = page_;
  page_ = nullptr;
  manager_->PutPage(p);
}

void TABSBTreePage::Load(int32_t pageNo) {
  Release();
  if (pageNo < 0) throw EABSException(20070, "Index error: invalid page number");
  page_ = manager_->GetPage(sessionID_, pageNo, true, kIndexPageType);
  Check();
}

// Contract 2: nothing about a page read from storage is trusted.
void TABSBTreePage::Check() const {
  if (page_->BufferSize() < page_->HeaderSize() + kHeaderSize || AreaSize() < kHeaderSize) Corrupt(-1);
  const uint8_t* d = Data();
  if (d[kRootFlag] > 1 || d[kLeafFlag] > 1 || d[kRecordIdSuffix] != 0) Corrupt(-1);
  if (zud::GetU16(d + kKeySize) != keyRef_->KeySize() || zud::GetU16(d + kExtraHeader) != 0) Corrupt(-1);
  if (Prev() < -1 || Next() < -1 || Prev() == PageNo() || Next() == PageNo()) Corrupt(-1);
  const int64_t used = kHeaderSize + static_cast<int64_t>(Count()) * EntrySize();
  // Only a page waiting for its split may exceed the area, and only in
  // its enlarged buffer.
  if (used > page_->BufferSize() - page_->HeaderSize()) Corrupt(Count());
  // A node may be left without entries for the moment between losing its
  // last child and its own merge; descending through one raises (Child).
}

void TABSBTreePage::Allocate(bool leaf, bool root) {
  Release();
  page_ = manager_->AddPage(sessionID_, kIndexPageType);
  Init(leaf, root);
}

void TABSBTreePage::Init(bool leaf, bool root) {
  uint8_t* d = Data();
  std::memset(d, 0, kHeaderSize);
  d[kRootFlag] = root ? 1 : 0;
  d[kLeafFlag] = leaf ? 1 : 0;
  zud::PutU32(d + kPrevPage, static_cast<uint32_t>(-1));
  zud::PutU32(d + kNextPage, static_cast<uint32_t>(-1));
  d[kEmptyRootFlag] = root && leaf ? 1 : 0;
  zud::PutU16(d + kKeySize, static_cast<uint16_t>(keyRef_->KeySize()));
  MarkDirty();
}

int32_t TABSBTreePage::Prev() const { return zud::GetI32(Data() + kPrevPage); }
int32_t TABSBTreePage::Next() const { return zud::GetI32(Data() + kNextPage); }
int32_t TABSBTreePage::Count() const { return zud::GetU16(Data() + kEntryCount); }
void TABSBTreePage::SetPrev(int32_t pageNo) {
  zud::PutU32(Data() + kPrevPage, static_cast<uint32_t>(pageNo));
  MarkDirty();
}
void TABSBTreePage::SetNext(int32_t pageNo) {
  zud::PutU32(Data() + kNextPage, static_cast<uint32_t>(pageNo));
  MarkDirty();
}

void TABSBTreePage::SetCount(int32_t n) {
  if (n < 0 || n > 0xFFFF) throw EABSException(20078, "Index error: invalid params");
  zud::PutU16(Data() + kEntryCount, static_cast<uint16_t>(n));
}

int32_t TABSBTreePage::Child(int32_t i) const {
  if (i < 0 || i >= Count()) Corrupt(i);
  const int32_t child = zud::GetI32(Value(i));
  if (child < 0 || child == PageNo()) Corrupt(i);
  return child;
}

// Contract 3: the buffer grows so `count` entries fit behind the header.
void TABSBTreePage::Reserve(int32_t count) {
  const int32_t needed = page_->HeaderSize() + kHeaderSize + count * EntrySize();
  if (needed > page_->BufferSize()) page_->Resize(std::max(needed, page_->BufferSize() + page_->BufferSize() / 2));
}

void TABSBTreePage::InsertEntry(int32_t i, const uint8_t* key, const uint8_t* value) {
  const int32_t n = Count(), s = EntrySize(), k = keyRef_->KeySize();
  if (i < 0 || i > n) throw EABSException(20078, "Index error: invalid params");
  Reserve(n + 1);
  uint8_t* at = Entry(i);
  std::memmove(at + s, at, static_cast<size_t>((n - i) * s));
  std::memcpy(at, key, static_cast<size_t>(k));
  std::memcpy(at + k, value, static_cast<size_t>(s - k));
  SetCount(n + 1);
  MarkDirty();
}

void TABSBTreePage::RemoveEntry(int32_t i) {
  const int32_t n = Count(), s = EntrySize();
  if (n == 0) throw EABSException(20025, "Index error: page is empty");
  if (i < 0 || i >= n) throw EABSException(20078, "Index error: invalid params");
  uint8_t* at = Entry(i);
  std::memmove(at, at + s, static_cast<size_t>((n - i - 1) * s));
  SetCount(n - 1);
  MarkDirty();
}

void TABSBTreePage::AppendFrom(const TABSBTreePage& from, int32_t first, int32_t count) {
  if (from.IsLeaf() != IsLeaf() || first < 0 || count < 0 || first + count > from.Count())
    throw EABSException(20024, "Internal index error");
  const int32_t n = Count();
  Reserve(n + count);
  std::memmove(Entry(n), from.Entry(first), static_cast<size_t>(count * EntrySize()));
  SetCount(n + count);
  MarkDirty();
}

void TABSBTreePage::PrependAllFrom(const TABSBTreePage& from) {
  if (from.IsLeaf() != IsLeaf()) throw EABSException(20024, "Internal index error");
  const int32_t n = Count(), m = from.Count(), s = EntrySize();
  Reserve(n + m);
  std::memmove(Entry(m), Entry(0), static_cast<size_t>(n * s));
  std::memmove(Entry(0), from.Entry(0), static_cast<size_t>(m * s));
  SetCount(n + m);
  MarkDirty();
}

void TABSBTreePage::Truncate(int32_t count) {
  if (count < 0 || count > Count()) throw EABSException(20078, "Index error: invalid params");
  SetCount(count);
  // A page enlarged to wait for its split goes back to a page's buffer once
  // its entries fit again: an enlarged page can be neither cached cheaply
  // nor written before its commit.
  const int32_t pageSize = page_->Manager ? page_->Manager->PageSize() : page_->BufferSize();
  if (page_->BufferSize() > pageSize && page_->HeaderSize() + kHeaderSize + count * EntrySize() <= pageSize)
    page_->Resize(pageSize);
  MarkDirty();
}

void TABSBTreePage::SetKey(int32_t i, const uint8_t* key) {
  if (i < 0 || i >= Count()) throw EABSException(20078, "Index error: invalid params");
  std::memmove(Entry(i), key, static_cast<size_t>(keyRef_->KeySize()));
  MarkDirty();
}

// ---------------------------------------------------------------------------
// Controllers: binary search for the first entry the bound places after
// the search key. A lower bound stops at the first entry >= key, an upper
// bound at the first entry > key.

int32_t TABSBTreeLeafController::Search(int32_t sessionID, const TABSBTreePage& page, const TABSBTreeSearchKey& search,
                                        TABSBTreeBound bound) {
  int32_t lo = 0, hi = page.Count();
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    const int c = tree_.CompareEntry(sessionID, search, page.Key(mid), page.Value(mid));
    const bool before = bound == TABSBTreeBound::kLower ? c <= 0 : c < 0;
    if (before)
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo;
}

// In a node, child i holds keys from separator i on; the child to descend
// into is the one before the first separator that the bound places after
// the key. A separator that ties with an ordered search is settled by the
// first entry its child actually holds, since separators can trail the
// entries after deletes.
int32_t TABSBTreeNodeController::Search(int32_t sessionID, const TABSBTreePage& page, const TABSBTreeSearchKey& search,
                                        TABSBTreeBound bound) {
  int32_t lo = 1, hi = page.Count();
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    int c = tree_.KeyRef().CompareKeys(search, page.Key(mid));
    if (c == 0 && (search.value || search.exact)) c = tree_.CompareWithSubtree(sessionID, search, page.Child(mid));
    const bool before = bound == TABSBTreeBound::kLower ? c <= 0 : c < 0;
    if (before)
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo - 1;
}
