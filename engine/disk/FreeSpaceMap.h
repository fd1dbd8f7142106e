// FreeSpaceMap: TABSDatabaseFreeSpaceManager, which decides which page of
// the database file a new page gets, takes pages back, and grows and
// shrinks the file.
//
// Format (see docs/file-format.md). With E pages per extent and D data
// bytes per page (PageSize - 40):
//   P  = D * 8   pages mapped by one PFS page (one bit each, 1 = in use)
//   X  = D * 4   extents mapped by one EAM page (two bits each)
//   XE = X * E   pages mapped by one EAM page
//   PFS page k lies at page k*P; its data bit (p mod P) (byte div 8, bit mod
//   8, least significant first) is the state of page p.
//   EAM page k lies at k*XE, or k*XE + 1 when k*XE is a PFS page; the two
//   bits from bit 2*((e mod X) mod 4) of data byte (e mod X) div 4 are the
//   entry of extent e: 0 never touched, 1 has a free page, 3 full.
//   PageSize 4096, E = 8: P = 32448, X = 16224, XE = 129792.
//
// Contract
//  1. Every allocation and release runs wholly under the header lock of the
//     file, rereads the header first and writes it back last when a field
//     changed (also when a step in between failed); the lock is released on
//     every path. Processes sharing the file never hand out one page twice.
//     The only writer of the file (a writable single-user open) takes
//     neither the lock nor a fresh header: nobody else changes the map or
//     the header, and a read-only open beside it reads no map page and only
//     committed pages, which no allocation or release outside a commit
//     changes (a release inside one runs under the commit's lock).
//  2. Map pages (PFS and EAM) are written back at once through the page
//     write of the disk page manager, and kept in memory while nobody else
//     can change them: while the header lock is held (what one allocation
//     or release read, its next step does not read again), and for as long
//     as the open is the file's only writer (a writable single-user open).
//     The copies go when the lock is released (unless the open is the only
//     writer), when the file's size changes, and when any other write
//     reaches the page. They are never enciphered and never handed out as
//     data pages (CheckNotMapPage).
//  3. Growing and shrinking work from TotalPageCount of the header, never
//     from the size of the file; the file never ends with a map page. The
//     reread header must have -1 <= LastUsedPageNo < TotalPageCount (else
//     30431), and growth is computed in 64 bits: one that would pass
//     2^31 - 1 pages is refused (30431) before the file changes.
//  4. Stored bytes are not trusted: a map page of the wrong type, a page
//     number outside 0..TotalPageCount-1 and a double allocation or release
//     are engine errors, never a read out of bounds.
//  5. A page never goes out twice, also after a crash between an
//     allocation's map write and its header write: growth skips pages
//     marked in use above LastUsedPageNo (they stay marked, reached by
//     nothing, and the check reports them as leaks) and takes the first
//     unmarked page after them, so LastUsedPageNo ends above every marked
//     page growth met.
//
// Thread use: the page manager's caller's database lock.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>

class TABSDiskPageManager;
class TABSPage;

class TABSDatabaseFreeSpaceManager {
 public:
  explicit TABSDatabaseFreeSpaceManager(TABSDiskPageManager& pm);
  ~TABSDatabaseFreeSpaceManager();

  int32_t AllocatePage();
  void ReleasePage(int32_t pageNo);
  bool IsMapPage(int32_t pageNo) const;
  void CheckNotMapPage(int32_t pageNo) const;
  // The PFS update, then the EAM update.
  void MarkPage(int32_t pageNo, bool used);
  // The PFS bit of a page (the "used test"); reads the page count of the
  // header as it is in memory (the page manager's, which a recovery puts
  // back).
  bool IsPageUsed(int32_t pageNo);

  // Figures for tools: pages marked in use and free below TotalPageCount,
  // from the PFS pages on disk (the header is reread first).
  struct Usage {
    int32_t total = 0, used = 0, free = 0, extents = 0;
  };
  Usage CountUsage();

  bool SkipRecordPageCheck = false;

  int32_t PagesPerPfs() const { return pagesPerPfs_; }
  int32_t ExtentsPerEam() const { return extentsPerEam_; }
  int64_t PagesPerEam() const { return pagesPerEam_; }
  int32_t PfsPageNo(int32_t pfsIndex) const;
  int32_t EamPageNo(int32_t eamIndex) const;
  // The PFS and the EAM page that marking `pageNo` used or free writes.
  std::array<int32_t, 2> MapPagesOf(int32_t pageNo) const;
  int32_t LastUsedPageNo() const { return lastUsed_; }
  int32_t TotalPageCount() const { return total_; }

  // Contract 2: the page manager drops the copies kept under the header
  // lock (every one, or the one of a page written by someone else).
  void ForgetMapPages() { kept_.clear(); }
  void ForgetMapPage(int32_t pageNo) {
    if (!kept_.empty() && pageNo != writing_) kept_.erase(pageNo);
  }

 private:
  // A map page to read or change: the kept copy itself while the map is
  // kept (contract 2), else a page read for this use alone.
  class MapPage {
   public:
    MapPage() = default;
    explicit MapPage(TABSPage* kept) : page_(kept) {}
    explicit MapPage(std::unique_ptr<TABSPage> own) : own_(std::move(own)), page_(own_.get()) {}
    TABSPage* operator->() const { return page_; }
    TABSPage& operator*() const { return *page_; }

   private:
    std::unique_ptr<TABSPage> own_;
    TABSPage* page_ = nullptr;
  };

  MapPage ReadMapPage(int32_t pageNo, uint16_t type, int code);
  void WriteMapPage(TABSPage& page);
  bool Keeping() const;
  void Keep(const TABSPage& page);
  void CreateMapPage(int32_t pageNo, uint16_t type);
  int32_t FindFreePage();
  int32_t FindInEam(int32_t eamIndex);
  int32_t Grow();
  int64_t FirstUnmarkedFrom(int64_t from, int32_t lastPfs);
  int32_t GrowthStep() const;
  int32_t LastPfsIndex() const;
  int32_t LastEamIndex() const;
  void UpdatePfs(int32_t pageNo, bool used, bool strict);
  void UpdateEam(int32_t pageNo);
  int32_t FindLastUsedDataPage();
  // The header fields, reread from the file unless the open is its only
  // writer (whose header in memory is the file's).
  void LoadHeader(bool reread = true);
  bool TakeHeader(int code);
  void StoreHeader();

  TABSDiskPageManager& pm_;
  int32_t extent_;         // E
  int32_t pagesPerPfs_;    // P
  int32_t extentsPerEam_;  // X
  int64_t pagesPerEam_;    // XE
  // Copies of the header fields, valid inside one allocation or release
  // (LoadHeader to StoreHeader); outside one the page manager's header is
  // the one to read (a recovery or another process's commit replaces it).
  int32_t lastUsed_ = -1;
  int32_t total_ = 0;
  std::unordered_map<int32_t, std::unique_ptr<TABSPage>> kept_;  // contract 2
  int32_t writing_ = -1;                                         // the page WriteMapPage is writing: its copy stays
};
