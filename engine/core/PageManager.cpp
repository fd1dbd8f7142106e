#include "core/PageManager.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "core/ZUDBytes.h"
#include "core/ZUDExcept.h"
#include "os/OsRandom.h"

using namespace tiv::page;
using zud::GetI32;
using zud::GetU16;
using zud::GetU32;
using zud::PutI32;
using zud::PutU16;
using zud::PutU32;

// ---------------------------------------------------------------------------
// TABSPage

TABSPage::TABSPage(TABSPageManager* manager, int32_t pageNo, int32_t sessionID)
    : Manager(manager), PageNo(pageNo), SessionID(sessionID) {}

void TABSPage::AllocBuffer() {
  const int32_t size = Manager ? Manager->PageSize() : kDefaultPageSize;
  buffer_ = AllocBlock(static_cast<uint64_t>(size), true);
  bufferSize_ = size;
  if (HeaderSize() >= kPageHeaderSize) InitHeader();
}

void TABSPage::FreeBuffer() {
  buffer_.reset();
  bufferSize_ = 0;
}

void TABSPage::Resize(int32_t newSize) {
  if (!buffer_) throw EABSException(20038, "Invalid page buffer. Buffer is Nil");
  if (newSize < (Manager ? Manager->PageSize() : kDefaultPageSize))
    throw EABSException(20039, "Invalid page modification");
  if (newSize == bufferSize_) return;
  // Growing keeps every byte; shrinking keeps the first newSize.
  TABSMemBlock moved = AllocBlock(static_cast<uint64_t>(newSize), true);
  std::memcpy(moved.get(), buffer_.get(), static_cast<size_t>(std::min(newSize, bufferSize_)));
  buffer_ = std::move(moved);
  bufferSize_ = newSize;
}

void TABSPage::InitHeader() {
  if (bufferSize_ < kPageHeaderSize) throw EABSException(20038, "Invalid page buffer. Buffer is Nil");
  uint8_t* b = Buffer();
  std::memset(b, 0, kPageHeaderSize);
  std::memcpy(b + kPgSignature, kPageSignature, 4);
  PutI32(b + kPgVersion, 0);
  PutU16(b + kPgType, ptUnknown);
  PutI32(b + kPgNextPageNo, -1);
  PutU32(b + kPgDataCRC, 0);
  PutI32(b + kPgOwnerTableID, -1);
  PutI32(b + kPgReserved26, -1);
  PutU16(b + kPgReserved30, 0);
}

// Header accessors: a page without a 40-byte header (a page of a headerless
// manager, or one without its buffer) reads as an unknown, released page
// rather than reading its data or out of bounds, and ignores writes.
int32_t TABSPage::PageVersion() const { return HasHeader() ? GetI32(Buffer() + kPgVersion) : kPageVersionReleased; }
void TABSPage::SetPageVersion(int32_t v) {
  if (HasHeader()) PutI32(Buffer() + kPgVersion, v);
}
uint16_t TABSPage::PageType() const {
  return HasHeader() ? GetU16(Buffer() + kPgType) : static_cast<uint16_t>(ptUnknown);
}
void TABSPage::SetPageType(uint16_t t) {
  if (HasHeader()) PutU16(Buffer() + kPgType, t);
}
int32_t TABSPage::NextPageNo() const { return HasHeader() ? GetI32(Buffer() + kPgNextPageNo) : -1; }
void TABSPage::SetNextPageNo(int32_t n) {
  if (HasHeader()) PutI32(Buffer() + kPgNextPageNo, n);
}
uint32_t TABSPage::DataCRC() const { return HasHeader() ? GetU32(Buffer() + kPgDataCRC) : 0; }
void TABSPage::SetDataCRC(uint32_t crc) {
  if (HasHeader()) PutU32(Buffer() + kPgDataCRC, crc);
}
uint8_t TABSPage::CryptoAlgorithm() const { return HasHeader() ? Buffer()[kPgCryptoAlgorithm] : 0; }
void TABSPage::SetCryptoAlgorithm(uint8_t a) {
  if (HasHeader()) Buffer()[kPgCryptoAlgorithm] = a;
}
int32_t TABSPage::OwnerTableID() const { return HasHeader() ? GetI32(Buffer() + kPgOwnerTableID) : -1; }
void TABSPage::SetOwnerTableID(int32_t id) {
  if (HasHeader()) PutI32(Buffer() + kPgOwnerTableID, id);
}
bool TABSPage::HasHeader() const { return bufferSize_ >= kPageHeaderSize && HeaderSize() >= kPageHeaderSize; }
bool TABSPage::HasSignature() const {
  return HasHeader() && std::memcmp(Buffer() + kPgSignature, kPageSignature, 4) == 0;
}

TABSPageValidation& TABSPage::ValidationFor(int32_t sessionID) {
  const size_t index = static_cast<size_t>(sessionID + 2);  // callers refuse sessionID < -2
  if (Validations.size() <= index) Validations.resize(index + 1);
  return Validations[index];
}

// ---------------------------------------------------------------------------
// TABSSortedPageList

TABSPage* TABSSortedPageList::Find(int32_t pageNo) const {
  const auto it = pages_.find(pageNo);
  return it == pages_.end() ? nullptr : it->second.page.get();
}

TABSPage* TABSSortedPageList::FindAndTouch(int32_t pageNo) {
  const auto it = pages_.find(pageNo);
  if (it == pages_.end()) return nullptr;
  uses_.splice(uses_.end(), uses_, it->second.use);
  return it->second.page.get();
}

TABSPage* TABSSortedPageList::Add(std::unique_ptr<TABSPage> page) {
  TABSPage* raw = page.get();
  const auto [it, added] = pages_.try_emplace(raw->PageNo);
  if (!added) throw std::logic_error("TABSSortedPageList::Add: page number already in the list");
  raw->OwnerList = this;
  it->second.page = std::move(page);
  it->second.use = uses_.insert(uses_.end(), raw);
  return raw;
}

std::unique_ptr<TABSPage> TABSSortedPageList::Delete(int32_t pageNo) {
  if (pages_.empty()) throw EABSException(20165, "TSortedPageList.Delete - no elements in array!");
  const auto it = pages_.find(pageNo);
  if (it == pages_.end())
    throw EABSException(20166, "TSortedPageList.Delete - element not found, key = %d, itemCount = %d",
                        {pageNo, Count()});
  std::unique_ptr<TABSPage> page = std::move(it->second.page);
  uses_.erase(it->second.use);
  pages_.erase(it);
  page->OwnerList = nullptr;
  return page;
}

void TABSSortedPageList::Touch(TABSPage* page) {
  const auto it = page ? pages_.find(page->PageNo) : pages_.end();
  if (it == pages_.end() || it->second.page.get() != page) throw EABSException(20167, "Page not found");
  uses_.splice(uses_.end(), uses_, it->second.use);
}

TABSPage* TABSSortedPageList::FindOldest() const {
  // Pinned pages are few (those a call holds right now): the walk from the
  // oldest end passes them and stops at the first unpinned one.
  for (TABSPage* page : uses_)
    if (page->UseCount == 0) return page;
  return nullptr;
}

void TABSSortedPageList::Clear() {
  uses_.clear();
  pages_.clear();
}

std::vector<TABSPage*> TABSSortedPageList::Pages() const { return std::vector<TABSPage*>(uses_.begin(), uses_.end()); }

std::vector<int32_t> TABSSortedPageList::SortedPageNos() const {
  std::vector<int32_t> numbers;
  numbers.reserve(pages_.size());
  for (const auto& [pageNo, entry] : pages_) numbers.push_back(pageNo);
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

// ---------------------------------------------------------------------------
// TABSPageManager

TABSPageManager::TABSPageManager() {
  const uint64_t pages = MemoryManager().UsableMemory() / 65536;
  cacheCapacity_ = static_cast<int32_t>(std::min<uint64_t>(pages, kMaxCacheCapacity));
}

TABSPageManager::~TABSPageManager() {
  // Nothing may escape a destructor: pages still held by a session are
  // freed with the rest (FreeAllPages is where the refusal is raised).
  sessions_.clear();
  cache_.Clear();
  pinnedInCache_ = 0;
}

void TABSPageManager::FreeAllPages() {
  for (const auto& s : sessions_)
    if (s->DirtyPages.Count() > 0) throw EABSException(20097, "Cannot free non-commited pages");
  sessions_.clear();
  cache_.Clear();
  pinnedInCache_ = 0;
}

void TABSPageManager::SetPageGeometry(uint16_t pageSize, uint16_t headerSize) {
  pageSize_ = pageSize;
  pageHeaderSize_ = headerSize;
  pageDataSize_ = static_cast<uint16_t>(pageSize - headerSize);
}

int32_t TABSPageManager::GetPageCount() { return pageCount_; }
bool TABSPageManager::HoldsPages(int64_t pages) { return pages <= GetPageCount(); }
bool TABSPageManager::IsPageValidated(int32_t, TABSPage*) { return false; }
TABSPage::Refresh TABSPageManager::RefreshCachedPage(TABSPage*) { return TABSPage::Refresh::kUnchanged; }
void TABSPageManager::MarkPageValidated(int32_t, TABSPage*) {}
// Only managers that keep their pages in memory have anything to save.
void TABSPageManager::SaveToStream(TABSStream&) {}
void TABSPageManager::LoadFromStream(TABSStream&) {}

void TABSPageManager::CheckSessionID(int32_t sessionID) {
  if (sessionID == -1 || sessionID < kSystemSession) throw EABSException(20186, "Invalid Session ID");
}

TABSPageManager::Session* TABSPageManager::FindSession(int32_t sessionID) const {
  for (const auto& s : sessions_)
    if (s->SessionID == sessionID) return s.get();
  return nullptr;
}

TABSPageManager::Session& TABSPageManager::FindOrCreateSession(int32_t sessionID) {
  if (Session* s = FindSession(sessionID)) return *s;
  sessions_.push_back(std::make_unique<Session>());
  sessions_.back()->SessionID = sessionID;
  return *sessions_.back();
}

int32_t TABSPageManager::DirtyPageCount(int32_t sessionID) const {
  const Session* s = FindSession(sessionID);
  return s ? s->DirtyPages.Count() : 0;
}
std::vector<int32_t> TABSPageManager::AddedPages(int32_t sessionID) const {
  const Session* s = FindSession(sessionID);
  return s ? s->AddedPages : std::vector<int32_t>{};
}
std::vector<int32_t> TABSPageManager::DeletedPages(int32_t sessionID) const {
  const Session* s = FindSession(sessionID);
  return s ? s->DeletedPages : std::vector<int32_t>{};
}

void TABSPageManager::DropFromCache(int32_t pageNo) {
  TABSPage* cached = cache_.Find(pageNo);
  if (!cached) return;
  if (cached->UseCount > 0)
    cached->Stale = true;
  else
    cache_.Delete(pageNo);
}

void TABSPageManager::EvictIfOverCapacity() {
  while (cache_.Count() > cacheCapacity_) {
    TABSPage* oldest = cache_.FindOldest();
    if (!oldest) break;
    cache_.Delete(oldest->PageNo);
  }
}

void TABSPageManager::SpillIfOverLimit(Session& s) {
  const int32_t limit = SpillLimit();
  if (s.DirtyPages.Count() <= std::max(limit, s.SpillAt)) return;
  // Down to three quarters of the limit, so that spills come in batches.
  const int32_t target = limit - limit / 4;
  // Called from PutPage, which releases pins on every path (destructors
  // included): nothing here is raised.
  try {
    std::vector<TABSPage*> chosen;
    for (TABSPage* page : s.DirtyPages.Pages()) {
      if (s.DirtyPages.Count() - static_cast<int32_t>(chosen.size()) <= target) break;
      // A copy of the same number still in the cache (pinned by another
      // session when the number was handed out again) keeps the page here.
      if (page->UseCount == 0 && page->IsDirty && page->BufferSize() == pageSize_ && s.Added.count(page->PageNo) != 0 &&
          !cache_.Find(page->PageNo))
        chosen.push_back(page);
    }
    for (TABSPage* page : chosen) {
      WritePage(page);
      page->IsDirty = false;
      TABSPage* cached = cache_.Add(s.DirtyPages.Delete(page->PageNo));
      MarkPageValidated(s.SessionID, cached);
    }
  } catch (...) {
    // The page that failed is left dirty: the commit writes it, or fails.
  }
  // What stays dirty is what could not go: the next try waits until a
  // quarter of the limit more has come.
  s.SpillAt = s.DirtyPages.Count() + limit / 4;
  EvictIfOverCapacity();
}

TABSPage* TABSPageManager::AddPage(int32_t sessionID, uint16_t pageType) {
  CheckSessionID(sessionID);
  Session& s = FindOrCreateSession(sessionID);
  auto page = std::make_unique<TABSPage>(this, -1, sessionID);
  AllocPageNo(page.get());
  if (page->PageNo == -1) throw EABSException(20064, "Invalid page number");
  page->UseCount = 1;
  page->IsDirty = true;
  page->Reread = false;
  if (pageHeaderSize_ > 0) {
    page->SetPageType(pageType);
    page->SetPageVersion(static_cast<int32_t>(tiv::os::RandomBelow(kPageVersionRandomBelow)));
  }
  DropFromCache(page->PageNo);
  const int32_t pageNo = page->PageNo;
  if (s.DirtyPages.Find(pageNo)) {
    // A number the free-space map handed out twice would overwrite a page
    // this session is changing: give it back untouched and refuse.
    throw EABSException(20064, "Invalid page number");
  }
  TABSPage* raw = s.DirtyPages.Add(std::move(page));
  s.AddAdded(pageNo);
  return raw;
}

// Pages without a header have no type to check.
void TABSPageManager::CheckPageType(const TABSPage* page, uint16_t pageType) const {
  if (SkipTypeCheck || pageType == ptAny || pageHeaderSize_ < kPageHeaderSize || page->PageType() == pageType) return;
  throw EABSException(20153, "Invalid page type. Possible data corruption. Expecting type %d, but found %d",
                      {static_cast<int>(pageType), static_cast<int>(page->PageType())});
}

TABSPage* TABSPageManager::GetPage(int32_t sessionID, int32_t pageNo, bool checkCache, uint16_t pageType) {
  CheckSessionID(sessionID);
  Session& s = FindOrCreateSession(sessionID);
  // Touched: the dirty pages a spill writes first are those used longest
  // ago (contract 8).
  TABSPage* page = s.DirtyPages.FindAndTouch(pageNo);
  if (!page) {
    page = cache_.Find(pageNo);
    if (page) {
      if (page->UseCount > 0 && page->SessionID != sessionID)
        throw EABSException(20090, "Page is used by other session");
      // A pinned copy this session changed is its own, never reread.
      if (checkCache && !page->IsDirty && !IsPageValidated(sessionID, page)) {
        const TABSPage::Refresh r = RefreshCachedPage(page);
        if (r == TABSPage::Refresh::kGone) {
          // Released by another process or unreadable now: never served as
          // if unchanged. An unpinned copy leaves the cache.
          const uint16_t type = page->PageType();
          DropFromCache(pageNo);
          throw EABSException(20299, "Error reading database file page. Page No: %d, type %d", {pageNo, type});
        }
        MarkPageValidated(sessionID, page);
      }
      // A cached page is held to the type asked for as a page read from
      // the file is: a damaged link must not pass because its target
      // happens to be cached already.
      if (!page->IsDirty) CheckPageType(page, pageType);
    } else {
      page = cache_.Add(std::make_unique<TABSPage>(this, pageNo, sessionID));
      try {
        if (!ReadPage(page))
          throw EABSException(20299, "Error reading database file page. Page No: %d, type %d",
                              {pageNo, static_cast<int>(pageType)});
        CheckPageType(page, pageType);
        MarkPageValidated(sessionID, page);
      } catch (...) {
        cache_.Delete(pageNo);
        throw;
      }
    }
  }
  if (page->UseCount > 0 && page->SessionID != sessionID) throw EABSException(20090, "Page is used by other session");
  page->SessionID = sessionID;
  if (page->UseCount == 0 && page->OwnerList == &cache_) ++pinnedInCache_;
  page->UseCount += 1;
  return page;
}

void TABSPageManager::PutPage(TABSPage* page) {
  if (!page || page->UseCount <= 0) throw std::logic_error("PutPage of a page that is not pinned");
  page->UseCount -= 1;
  if (page->UseCount == 0) page->Reread = false;
  if (page->OwnerList != &cache_) {
    if (page->UseCount == 0 && page->OwnerList && CanSpill())
      if (Session* s = FindSession(page->SessionID); s && page->OwnerList == &s->DirtyPages) SpillIfOverLimit(*s);
    return;
  }
  if (page->UseCount == 0) {
    --pinnedInCache_;
    if (page->Stale && !page->IsDirty) {
      cache_.Delete(page->PageNo);
      return;
    }
    if (page->IsDirty) {
      Session& s = FindOrCreateSession(page->SessionID);
      const int32_t pageNo = page->PageNo;
      std::unique_ptr<TABSPage> moved = cache_.Delete(pageNo);
      moved->Stale = false;
      if (s.DirtyPages.Find(pageNo)) throw std::logic_error("PutPage: the session already holds this page dirty");
      s.DirtyPages.Add(std::move(moved));
      if (CanSpill()) SpillIfOverLimit(s);
      return;
    }
    cache_.Touch(page);
  }
  EvictIfOverCapacity();
}

void TABSPageManager::DeletePage(int32_t sessionID, int32_t pageNo) {
  CheckSessionID(sessionID);
  Session& s = FindOrCreateSession(sessionID);
  if (std::find(s.DeletedPages.begin(), s.DeletedPages.end(), pageNo) == s.DeletedPages.end())
    s.DeletedPages.push_back(pageNo);
}

bool TABSPageManager::IsPageOf(int32_t sessionID, int32_t pageNo, uint16_t pageType, int32_t ownerTableID) {
  if (pageNo < 0 || pageNo >= GetPageCount()) return false;
  TABSPage* page = nullptr;
  try {
    page = GetPage(sessionID, pageNo, true, tiv::page::ptAny);
  } catch (const EABSException& e) {
    if (e.NativeError() == 20299 || e.NativeError() == 20064) return false;  // not there, unreadable
    throw;
  }
  const bool matches = (pageType == tiv::page::ptAny || page->PageType() == pageType) &&
                       (ownerTableID == kAnyOwner || page->OwnerTableID() == ownerTableID);
  PutPage(page);
  return matches;
}

void TABSPageManager::CheckCommit(int32_t sessionID, Session& s) {
  // Most commits find no pinned page in the cache: the count spares them
  // a walk of the whole cache on every change.
  if (pinnedInCache_ > 0)
    for (const TABSPage* p : cache_.Pages())
      if (p->UseCount > 0 && p->SessionID == sessionID) throw EABSException(20152, "Some session pages not released");
  // A deleted page must not be held by anyone: freeing it would pull it
  // from under its holder.
  for (int32_t pageNo : s.DeletedPages) {
    const TABSPage* cached = cache_.Find(pageNo);
    const TABSPage* dirty = s.DirtyPages.Find(pageNo);
    if ((cached && cached->UseCount > 0) || (dirty && dirty->UseCount > 0))
      throw EABSException(20152, "Some session pages not released");
  }
  const std::unordered_set<int32_t> deletedPages(s.DeletedPages.begin(), s.DeletedPages.end());
  const auto deleted = [&](int32_t pageNo) { return deletedPages.count(pageNo) != 0; };
  for (const TABSPage* p : s.DirtyPages.Pages()) {
    if (deleted(p->PageNo)) continue;
    if (!p->IsDirty) throw EABSException(20085, "Invalid page");
    if (p->UseCount > 0) throw EABSException(20086, "Cannot write used page");
  }
}

void TABSPageManager::WriteSession(Session& s) {
  // Deleted pages are never written; they leave the lists first.
  for (int32_t pageNo : s.DeletedPages) {
    if (s.DirtyPages.Find(pageNo)) s.DirtyPages.Delete(pageNo);
    DropFromCache(pageNo);
  }
  // Dirty pages in ascending PageNo order. A failure leaves the pages not
  // yet written in DirtyPages.
  for (const int32_t dirtyNo : s.DirtyPages.SortedPageNos()) {
    TABSPage* p = s.DirtyPages.Find(dirtyNo);
    WritePage(p);
    p->IsDirty = false;
    const int32_t pageNo = p->PageNo;
    std::unique_ptr<TABSPage> written = s.DirtyPages.Delete(pageNo);
    if (TABSPage* old = cache_.Find(pageNo)) {
      if (old->UseCount > 0) {
        old->Stale = true;  // superseded; leaves at its last PutPage
        continue;           // the written copy is freed
      }
      cache_.Delete(pageNo);
    }
    if (cache_.Count() < cacheCapacity_) cache_.Add(std::move(written));
  }
  s.TakeAdded();
  s.SpillAt = 0;
  // Only now, with every page that pointed at them rewritten, do the
  // deleted pages go back to the free-space map.
  std::vector<int32_t> deleted;
  deleted.swap(s.DeletedPages);
  for (size_t i = 0; i < deleted.size(); ++i) {
    try {
      FreePageNo(deleted[i]);
    } catch (...) {
      s.DeletedPages.assign(deleted.begin() + static_cast<long>(i), deleted.end());
      throw;
    }
  }
}

void TABSPageManager::CommitSession(int32_t sessionID, bool) {
  Session* s = FindSession(sessionID);
  if (!s) {
    CheckCommit(sessionID, FindOrCreateSession(sessionID));
    return;
  }
  CheckCommit(sessionID, *s);
  WriteSession(*s);
}

void TABSPageManager::RollbackSession(int32_t sessionID) {
  Session* s = FindSession(sessionID);
  if (!s) return;
  for (const TABSPage* p : s->DirtyPages.Pages()) {
    if (!p->IsDirty) throw EABSException(20087, "Invalid index page");
    if (p->UseCount > 0) throw EABSException(20088, "Cannot remove used page");
  }
  s->DirtyPages.Clear();
  const std::vector<int32_t> added = s->TakeAdded();
  s->DeletedPages.clear();
  s->SpillAt = 0;
  for (size_t i = 0; i < added.size(); ++i) {
    // A copy a spill left in the cache holds what never was committed.
    DropFromCache(added[i]);
    try {
      FreePageNo(added[i]);
    } catch (...) {
      s->SetAdded(std::vector<int32_t>(added.begin() + static_cast<long>(i), added.end()));
      throw;
    }
  }
}
