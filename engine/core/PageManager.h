// PageManager: pages, the ordered page list and the abstract page manager:
// the shared page cache, pinning, and per-session transactions of pages.
// The disk page manager (disk/DiskPageManagerFile.h) and the in-memory one
// (core/MemoryPageManager.h) implement its storage operations.
//
// Contract
//  1. A page lives in exactly one list at a time: the shared cache (clean
//     pages not held by a transaction) or one session's DirtyPages. The list
//     owns it; a caller holds a raw pointer only between AddPage/GetPage and
//     the matching PutPage (UseCount counts these pins).
//  2. A page pinned (UseCount > 0) is never freed, evicted or moved away
//     from under its holder; a page pinned by one session is refused to
//     every other session ("Page is used by other session").
//  3. A session's changes (DirtyPages, AddedPages, DeletedPages) reach the
//     file only through CommitSession and vanish through RollbackSession.
//     A commit checks everything it can refuse before it writes anything;
//     deleted pages are given back to the free-space map only after every
//     dirty page of the commit is written, so no page that is still pointed
//     at on disk is ever handed out again.
//  4. The shared cache holds at most CacheCapacity() pages and evicts
//     unpinned pages in least-recently-used order.
//  5. SessionID -2 is the system session, values >= 0 connection slots;
//     -1 (and anything below -2) is refused with "Invalid Session ID".
//  6. Page lists find a page by its number in constant time, keep the
//     order of use in a list (touching a page is constant time too), and
//     sort only when a commit asks for its pages in ascending order.
//  7. DeletePage trusts its caller to name a page the caller owns. A page
//     number read from stored bytes (a list, an index entry) is first held
//     to what it claims with IsPageOf, for every page, before the first one
//     is deleted: a damaged number must fail the operation, never free a
//     page of someone else.
//  8. A transaction may outgrow memory: when a session holds more than
//     SpillLimit() dirty pages and the storage can take pages early
//     (CanSpill), unpinned dirty pages the session itself added in this
//     transaction, least recently used first, are written to their place
//     ahead of the commit and become clean cached pages. Nothing committed
//     points at an added page, so no reader reaches what is written there,
//     a rollback or a crash leaves it as unreached as before (the page goes
//     back to the free-space map, or is left marked as a leak), and the
//     commit journals no image of it. Pages that existed before the
//     transaction stay in memory until the commit: their old image is
//     what a crash must find. A failed spill write leaves the page dirty
//     for the commit to write (and fail on) and is never raised.
//
// Thread use: every entry point is called under the caller's database lock;
// the lists have no locks of their own. CriticalSection is for callers.
#pragma once

#include <climits>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/PageFormat.h"
#include "core/ZUDBasePageManager.h"
#include "core/ZUDMemory.h"

class TABSPageManager;
class TABSSortedPageList;
class TABSStream;

// One session's check of a cached page against its table's stamp. The
// table is part of it: a page freed by another process may come back as a
// page of another table whose counter happens to have the same value.
struct TABSPageValidation {
  int32_t TableID = 0;
  int32_t Stamp = 0;
  bool Valid = false;
};

class TABSPage {
 public:
  TABSPage(TABSPageManager* manager, int32_t pageNo = -1, int32_t sessionID = -1);
  ~TABSPage() = default;
  TABSPage(const TABSPage&) = delete;
  TABSPage& operator=(const TABSPage&) = delete;

  TABSPageManager* Manager;
  int32_t PageNo;
  bool IsDirty = false;
  int32_t UseCount = 0;
  TABSSortedPageList* OwnerList = nullptr;
  int32_t SessionID;
  bool Reread = false;
  bool EncryptOnWrite = true;
  // Set on a cached copy that a commit superseded while it was pinned; it
  // leaves the cache at its last PutPage.
  bool Stale = false;
  std::vector<TABSPageValidation> Validations;  // index SessionID + 2

  uint8_t* Buffer() { return reinterpret_cast<uint8_t*>(buffer_.get()); }
  const uint8_t* Buffer() const { return reinterpret_cast<const uint8_t*>(buffer_.get()); }
  bool OwnsBuffer() const { return buffer_ != nullptr; }
  int32_t BufferSize() const { return bufferSize_; }
  uint16_t HeaderSize() const;
  uint16_t DataSize() const;
  uint8_t* DataBuffer() { return Buffer() + HeaderSize(); }

  // The 40-byte disk page header (offsets in PageFormat.h). Only pages of a
  // manager with header size 40 have one; the accessors are for them.
  void InitHeader();
  int32_t PageVersion() const;
  void SetPageVersion(int32_t v);
  uint16_t PageType() const;
  void SetPageType(uint16_t t);
  int32_t NextPageNo() const;
  void SetNextPageNo(int32_t n);
  uint32_t DataCRC() const;
  void SetDataCRC(uint32_t crc);
  uint8_t CryptoAlgorithm() const;
  void SetCryptoAlgorithm(uint8_t a);
  int32_t OwnerTableID() const;
  void SetOwnerTableID(int32_t id);
  bool HasHeader() const;
  bool HasSignature() const;

  void AllocBuffer();  // PageSize bytes, zero-filled, then InitHeader
  void FreeBuffer();
  void Resize(int32_t newSize);  // at least PageSize: grows keeping every byte, shrinks keeping the first

  // What a check of a cached page against its storage found.
  enum class Refresh { kUnchanged, kReread, kGone };

  TABSPageValidation& ValidationFor(int32_t sessionID);

 private:
  TABSMemBlock buffer_;
  int32_t bufferSize_ = 0;
};

// The pages of the shared cache or of one session's transaction, found by
// page number in constant time, with the order of their use for eviction.
class TABSSortedPageList {
 public:
  TABSSortedPageList() = default;
  ~TABSSortedPageList() = default;
  TABSSortedPageList(const TABSSortedPageList&) = delete;
  TABSSortedPageList& operator=(const TABSSortedPageList&) = delete;

  // Takes the page (its PageNo must not be in the list yet); it counts as
  // just used.
  TABSPage* Add(std::unique_ptr<TABSPage> page);
  // Removes PageNo and hands the page back (the caller frees or moves it).
  std::unique_ptr<TABSPage> Delete(int32_t pageNo);
  TABSPage* Find(int32_t pageNo) const;
  // Find, marking the page found as used last.
  TABSPage* FindAndTouch(int32_t pageNo);
  // Marks the page as used last.
  void Touch(TABSPage* page);
  // The unpinned page used longest ago, or none.
  TABSPage* FindOldest() const;
  void Clear();

  int32_t Count() const { return static_cast<int32_t>(pages_.size()); }
  // Every page, in no particular order.
  std::vector<TABSPage*> Pages() const;
  // Every page number, ascending (the order a commit writes in).
  std::vector<int32_t> SortedPageNos() const;

 private:
  struct Entry {
    std::unique_ptr<TABSPage> page;
    std::list<TABSPage*>::iterator use;  // its place in uses_
  };
  std::unordered_map<int32_t, Entry> pages_;
  std::list<TABSPage*> uses_;  // least recently used first
};

// The table and database data see a page manager only through
// TABSBasePageManager (commit and rollback of a session).
class TABSPageManager : public TABSBasePageManager {
 public:
  TABSPageManager();
  virtual ~TABSPageManager();
  TABSPageManager(const TABSPageManager&) = delete;
  TABSPageManager& operator=(const TABSPageManager&) = delete;

  static constexpr int32_t kSystemSession = -2;
  static constexpr int32_t kMaxCacheCapacity = 1000;

  virtual int32_t GetPageCount();
  // Whether the storage holds at least `pages` pages: the bound of a page
  // count read from stored bytes. The disk answers from its header in
  // memory and rereads it only for more (another process may have grown it).
  virtual bool HoldsPages(int64_t pages);
  virtual bool IsPageValidated(int32_t sessionID, TABSPage* page);
  // Checks a cached page against the storage another process may have
  // changed, rereading it when its version moved. Storage that only this
  // process writes keeps the default: unchanged.
  virtual TABSPage::Refresh RefreshCachedPage(TABSPage* page);
  virtual void MarkPageValidated(int32_t sessionID, TABSPage* page);
  virtual void SaveToStream(TABSStream& stream);
  virtual void LoadFromStream(TABSStream& stream);
  virtual void AllocPageNo(TABSPage* page) = 0;
  virtual void FreePageNo(int32_t pageNo) = 0;
  virtual bool ReadPage(TABSPage* page) = 0;
  virtual void WritePage(TABSPage* page) = 0;
  virtual void DeletePage(int32_t sessionID, int32_t pageNo);
  // Contract 7: whether `pageNo` is, as this session sees it, a page of
  // `pageType` (ptAny: of any type) whose OwnerTableID is `ownerTableID`
  // (kAnyOwner: any). False, never an error, for a page that is not there,
  // unreadable or released; storage adds the pages it never hands out.
  static constexpr int32_t kAnyOwner = INT32_MIN;
  virtual bool IsPageOf(int32_t sessionID, int32_t pageNo, uint16_t pageType, int32_t ownerTableID);
  virtual TABSPage* GetPage(int32_t sessionID, int32_t pageNo, bool checkCache = true,
                            uint16_t pageType = tiv::page::ptAny);
  // flush: the committing layer asks for the data to be on the disk.
  void CommitSession(int32_t sessionID, bool flush = false) override;

  TABSPage* AddPage(int32_t sessionID, uint16_t pageType);
  void PutPage(TABSPage* page);
  void RollbackSession(int32_t sessionID) override;

  // Frees every page; "Cannot free non-commited pages" while a session still
  // has changes (then nothing is freed). The destructor frees regardless.
  void FreeAllPages();

  uint16_t PageSize() const { return pageSize_; }
  uint16_t PageHeaderSize() const { return pageHeaderSize_; }
  uint16_t PageDataSize() const { return pageDataSize_; }
  bool MultiUser() const { return multiUser_; }
  int32_t CacheCapacity() const { return cacheCapacity_; }
  // Fixed at creation from the memory figures; tests and tools may bound it.
  void SetCacheCapacity(int32_t capacity) { cacheCapacity_ = capacity < 0 ? 0 : capacity; }
  // Contract 8: dirty pages a session may hold before its added ones are
  // written early (at least 64). The default, 64 MiB of 4 KiB pages, keeps
  // loads of some hundred thousand rows wholly in memory, where they are
  // fastest, and bounds what a larger one takes.
  static constexpr int32_t kDefaultSpillLimit = 16384;
  int32_t SpillLimit() const { return spillLimit_; }
  void SetSpillLimit(int32_t pages) { spillLimit_ = pages < 64 ? 64 : pages; }
  const TABSSortedPageList& SharedCache() const { return cache_; }
  // A session's pending changes, for tests and tools.
  int32_t DirtyPageCount(int32_t sessionID) const;
  std::vector<int32_t> AddedPages(int32_t sessionID) const;
  std::vector<int32_t> DeletedPages(int32_t sessionID) const;

  bool SkipTypeCheck = false;
  std::recursive_mutex CriticalSection;

 protected:
  struct Session {
    int32_t SessionID;
    TABSSortedPageList DirtyPages;
    std::vector<int32_t> AddedPages;    // changed only through the three below
    std::unordered_set<int32_t> Added;  // the same numbers, to look one up
    std::vector<int32_t> DeletedPages;
    void AddAdded(int32_t pageNo) {
      AddedPages.push_back(pageNo);
      Added.insert(pageNo);
    }
    void SetAdded(std::vector<int32_t> pages) {
      AddedPages = std::move(pages);
      Added = std::unordered_set<int32_t>(AddedPages.begin(), AddedPages.end());
    }
    std::vector<int32_t> TakeAdded() {
      Added.clear();
      return std::exchange(AddedPages, {});
    }
    // Contract 8: the dirty page count at which the next spill is tried;
    // raised after a spill that found too little to write, so that a
    // transaction of changed old pages does not walk its list each time.
    int32_t SpillAt = 0;
  };
  Session* FindSession(int32_t sessionID) const;
  Session& FindOrCreateSession(int32_t sessionID);
  static void CheckSessionID(int32_t sessionID);
  // 20153 when a page with a header is not of the type asked for.
  void CheckPageType(const TABSPage* page, uint16_t pageType) const;
  static bool HasChanges(const Session& s) {
    return s.DirtyPages.Count() > 0 || !s.AddedPages.empty() || !s.DeletedPages.empty();
  }
  // The two halves of a commit: every refusal first, nothing written yet;
  // then the writes (dirty pages in ascending order, then the releases).
  void CheckCommit(int32_t sessionID, Session& s);
  void WriteSession(Session& s);
  // Drops an unpinned cached page (freeing it); a pinned one is marked stale.
  void DropFromCache(int32_t pageNo);
  void EvictIfOverCapacity();
  // Contract 8. CanSpill: whether the storage takes a page of a session
  // before its commit (the disk file does, memory storage does not).
  virtual bool CanSpill() const { return false; }
  void SpillIfOverLimit(Session& s);
  void SetPageGeometry(uint16_t pageSize, uint16_t headerSize);

  int32_t cacheCapacity_;
  int32_t spillLimit_ = kDefaultSpillLimit;
  TABSSortedPageList cache_;
  int32_t pinnedInCache_ = 0;  // pages of cache_ with UseCount > 0
  std::vector<std::unique_ptr<Session>> sessions_;
  uint16_t pageSize_ = tiv::page::kDefaultPageSize;
  uint16_t pageHeaderSize_ = tiv::page::kPageHeaderSize;
  uint16_t pageDataSize_ = tiv::page::kDefaultPageSize - tiv::page::kPageHeaderSize;
  int32_t pageCount_ = 0;
  bool multiUser_ = false;
};

// Asked for on every access of a page's data: inline.
inline uint16_t TABSPage::HeaderSize() const {
  return Manager ? Manager->PageHeaderSize() : tiv::page::kPageHeaderSize;
}
inline uint16_t TABSPage::DataSize() const {
  return static_cast<uint16_t>((Manager ? Manager->PageSize() : tiv::page::kDefaultPageSize) - HeaderSize());
}
