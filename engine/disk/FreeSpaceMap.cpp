#include "disk/FreeSpaceMap.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "core/PageManager.h"
#include "disk/DiskPageManagerFile.h"
#include "os/OsRandom.h"

using namespace tiv::disk;

namespace {

// Which reader of a map page found the wrong type: each has its own code.
enum class MapSite { kSearch, kPfsUpdate, kEamUpdate, kUsedTest, kLastUsedScan };

[[noreturn]] void WrongType(MapSite site, uint16_t found, uint16_t expected) {
  const char* f = PageTypeText(found);
  const char* e = PageTypeText(expected);
  switch (site) {
    case MapSite::kSearch: throw EABSException(30423, "Wrong page type. Found '%s', but expecting: '%s'", {f, e});
    case MapSite::kPfsUpdate: throw EABSException(30424, "Wrong page type. Found '%s', but expecting: '%s'", {f, e});
    case MapSite::kEamUpdate: throw EABSException(30428, "Wrong page type. Found '%s', but expecting: '%s'", {f, e});
    case MapSite::kUsedTest: throw EABSException(30430, "Wrong page type. Found '%s', but expecting: '%s'", {f, e});
    case MapSite::kLastUsedScan: break;
  }
  throw EABSException(30432, "Wrong page type. Found '%s', but expecting: '%s'", {f, e});
}

bool BitSet(const uint8_t* data, int64_t bit) { return (data[bit / 8] >> (bit % 8)) & 1; }

}  // namespace

TABSDatabaseFreeSpaceManager::TABSDatabaseFreeSpaceManager(TABSDiskPageManager& pm) : pm_(pm) {
  extent_ = std::max<int32_t>(pm.Header().PageCountInExtent, 1);
  const int32_t data = pm.PageDataSize();
  pagesPerPfs_ = data * 8;
  extentsPerEam_ = data * 4;
  pagesPerEam_ = static_cast<int64_t>(extentsPerEam_) * extent_;
  lastUsed_ = pm.Header().LastUsedPageNo;
  total_ = pm.Header().TotalPageCount;
}

TABSDatabaseFreeSpaceManager::~TABSDatabaseFreeSpaceManager() = default;

// ---------------------------------------------------------------------------
// Positions

bool TABSDatabaseFreeSpaceManager::IsMapPage(int32_t pageNo) const {
  if (pageNo < 0) return false;
  const int64_t p = pageNo;
  if (p % pagesPerPfs_ == 0 || p % pagesPerEam_ == 0) return true;
  return p >= 1 && (p - 1) % pagesPerPfs_ == 0 && (p - 1) % pagesPerEam_ == 0;
}

void TABSDatabaseFreeSpaceManager::CheckNotMapPage(int32_t pageNo) const {
  if (IsMapPage(pageNo)) throw EABSException(30434, "Cannot delete PFS or EAM page. PageNo=%d", {pageNo});
}

int32_t TABSDatabaseFreeSpaceManager::PfsPageNo(int32_t pfsIndex) const {
  return static_cast<int32_t>(static_cast<int64_t>(pfsIndex) * pagesPerPfs_);
}

std::array<int32_t, 2> TABSDatabaseFreeSpaceManager::MapPagesOf(int32_t pageNo) const {
  const int64_t extent = pageNo / extent_;
  return {PfsPageNo(pageNo / pagesPerPfs_), EamPageNo(static_cast<int32_t>(extent / extentsPerEam_))};
}

int32_t TABSDatabaseFreeSpaceManager::EamPageNo(int32_t eamIndex) const {
  const int64_t at = static_cast<int64_t>(eamIndex) * pagesPerEam_;
  return static_cast<int32_t>(at % pagesPerPfs_ == 0 ? at + 1 : at);
}

int32_t TABSDatabaseFreeSpaceManager::GrowthStep() const { return total_ == 0 ? 6 : std::max(total_ / 10, extent_); }

int32_t TABSDatabaseFreeSpaceManager::LastPfsIndex() const { return std::max(total_ - 1, 0) / pagesPerPfs_; }

int32_t TABSDatabaseFreeSpaceManager::LastEamIndex() const {
  return static_cast<int32_t>(std::max(total_ - 1, 0) / pagesPerEam_);
}

// ---------------------------------------------------------------------------
// Map pages on disk

TABSDatabaseFreeSpaceManager::MapPage TABSDatabaseFreeSpaceManager::ReadMapPage(int32_t pageNo, uint16_t type,
                                                                                int site) {
  if (const auto kept = kept_.find(pageNo); kept != kept_.end()) {
    // Kept only once its type was right; a use asking another type is
    // still a damaged link.
    if (kept->second->PageType() != type) WrongType(static_cast<MapSite>(site), kept->second->PageType(), type);
    return MapPage(kept->second.get());
  }
  auto page = std::make_unique<TABSPage>(&pm_, pageNo, TABSPageManager::kSystemSession);
  page->EncryptOnWrite = false;
  // An unreadable page, or one without a page signature, has no type.
  const bool ok = pm_.ReadPage(page.get()) && page->HasSignature();
  const uint16_t found = ok ? page->PageType() : static_cast<uint16_t>(ptUnknown);
  if (found != type) WrongType(static_cast<MapSite>(site), found, type);
  if (!Keeping()) return MapPage(std::move(page));
  TABSPage* raw = page.get();
  kept_[pageNo] = std::move(page);
  return MapPage(raw);
}

bool TABSDatabaseFreeSpaceManager::Keeping() const { return pm_.HeaderLockCount() > 0 || pm_.SoleWriter(); }

// A copy of a page written from outside the kept ones (contract 2).
void TABSDatabaseFreeSpaceManager::Keep(const TABSPage& page) {
  if (!Keeping()) return;
  std::unique_ptr<TABSPage>& copy = kept_[page.PageNo];
  if (copy.get() == &page) return;
  if (!copy) {
    copy = std::make_unique<TABSPage>(&pm_, page.PageNo, TABSPageManager::kSystemSession);
    copy->EncryptOnWrite = false;
    copy->AllocBuffer();
  }
  std::memcpy(copy->Buffer(), page.Buffer(), static_cast<size_t>(copy->BufferSize()));
}

// The page is written as it stands: the kept copy itself, changed in place,
// or a page of its own, copied into the kept ones. A failed write keeps no
// copy: the file may hold either version.
void TABSDatabaseFreeSpaceManager::WriteMapPage(TABSPage& page) {
  writing_ = page.PageNo;
  try {
    pm_.WritePage(&page);
  } catch (...) {
    writing_ = -1;
    kept_.erase(page.PageNo);
    throw;
  }
  writing_ = -1;
  Keep(page);
}

void TABSDatabaseFreeSpaceManager::CreateMapPage(int32_t pageNo, uint16_t type) {
  TABSPage page(&pm_, pageNo, TABSPageManager::kSystemSession);
  page.EncryptOnWrite = false;
  page.AllocBuffer();
  page.SetPageType(type);
  page.SetPageVersion(static_cast<int32_t>(tiv::os::RandomBelow(kPageVersionRandomBelow)));
  page.DataBuffer()[0] = 1;
  WriteMapPage(page);
}

// ---------------------------------------------------------------------------
// Header fields

void TABSDatabaseFreeSpaceManager::LoadHeader(bool reread) {
  if (reread) pm_.ReadHeader();
  const TABSDatabaseHeader& h = pm_.Header();
  if (h.TotalPageCount < 0 || h.LastUsedPageNo < -1 || h.LastUsedPageNo >= h.TotalPageCount)
    throw EABSException(30431, "Page: %d cannot be addressed. TotalPageCount=%d", {h.LastUsedPageNo, h.TotalPageCount});
  lastUsed_ = h.LastUsedPageNo;
  total_ = h.TotalPageCount;
}

void TABSDatabaseFreeSpaceManager::StoreHeader() {
  TABSDatabaseHeader& h = pm_.Header();
  if (h.LastUsedPageNo == lastUsed_ && h.TotalPageCount == total_) return;
  h.LastUsedPageNo = lastUsed_;
  h.TotalPageCount = total_;
  pm_.WriteHeader(true);
}

// Contract 1: the header lock for an allocation or a release, taken unless
// the open is the file's only writer; false when it was not taken.
bool TABSDatabaseFreeSpaceManager::TakeHeader(int code) {
  if (pm_.SoleWriter()) return false;
  if (!pm_.LockHeader()) throw EABSException(code, "Database is locked");
  return true;
}

// Runs `work` with the header loaded (reread when `locked`); the fields are
// written back and the lock, when taken, released on every path.
template <typename Work>
static auto UnderHeaderLock(TABSDiskPageManager& pm, bool locked, Work&& work,
                            void (TABSDatabaseFreeSpaceManager::*store)(), TABSDatabaseFreeSpaceManager* self) {
  bool loaded = false;
  try {
    auto result = work(loaded);
    (self->*store)();
    if (locked) pm.UnlockHeader();
    return result;
  } catch (...) {
    if (loaded) {
      try {
        (self->*store)();
      } catch (...) {
        // The first failure is the one reported.
      }
    }
    if (locked) pm.UnlockHeader();
    throw;
  }
}

// ---------------------------------------------------------------------------
// Allocation

int32_t TABSDatabaseFreeSpaceManager::AllocatePage() {
  const bool locked = TakeHeader(20231);
  return UnderHeaderLock(
      pm_, locked,
      [&](bool& loaded) {
        LoadHeader(locked);
        loaded = true;
        int32_t result = FindFreePage();
        if (result < 0) result = Grow();
        lastUsed_ = std::max(lastUsed_, result);
        return result;
      },
      &TABSDatabaseFreeSpaceManager::StoreHeader, this);
}

int32_t TABSDatabaseFreeSpaceManager::FindFreePage() {
  if (lastUsed_ == -1 || total_ == 0) return -1;
  const int32_t last = LastEamIndex();
  int32_t found = FindInEam(last);
  for (int32_t k = 0; found < 0 && k < last; ++k) found = FindInEam(k);
  if (found >= 0) MarkPage(found, true);
  return found;
}

int32_t TABSDatabaseFreeSpaceManager::FindInEam(int32_t eamIndex) {
  MapPage eam = ReadMapPage(EamPageNo(eamIndex), ptEAM, static_cast<int>(MapSite::kSearch));
  const uint8_t* data = eam->DataBuffer();
  const int32_t size = pm_.PageDataSize();
  int64_t extent = -1;
  for (int32_t i = 0; i < size && extent < 0; ++i) {
    if (data[i] == 0xFF) continue;
    for (int j = 0; j < 4; ++j) {
      if (((data[i] >> (2 * j)) & 2) == 0) {
        extent = static_cast<int64_t>(eamIndex) * extentsPerEam_ + i * 4 + j;
        break;
      }
    }
  }
  if (extent < 0) return -1;
  const int32_t pf = static_cast<int32_t>(extent * extent_ / pagesPerPfs_);
  int32_t pl = static_cast<int32_t>(((extent + 1) * extent_ - 1) / pagesPerPfs_);
  if (static_cast<int64_t>(pf) * pagesPerPfs_ >= total_) return -1;
  while (pl >= pf && static_cast<int64_t>(pl) * pagesPerPfs_ >= total_) --pl;
  for (int32_t idx = pf; idx <= pl; ++idx) {
    MapPage pfs = ReadMapPage(PfsPageNo(idx), ptPFS, static_cast<int>(MapSite::kSearch));
    const uint8_t* bits = pfs->DataBuffer();
    for (int32_t b = 0; b < size; ++b) {
      if (bits[b] == 0xFF) continue;
      int bit = 0;
      while ((bits[b] >> bit) & 1) ++bit;
      const int64_t page = static_cast<int64_t>(PfsPageNo(idx)) + b * 8 + bit;
      return page < total_ ? static_cast<int32_t>(page) : -1;
    }
  }
  return -1;
}

int32_t TABSDatabaseFreeSpaceManager::Grow() {
  const int32_t oldPfs = lastUsed_ == -1 ? -1 : LastPfsIndex();
  const int32_t oldEam = lastUsed_ == -1 ? -1 : LastEamIndex();
  // In 64 bits: near 2^31 pages the sums below pass the int32 range, and a
  // count that does would address no page.
  const int64_t candidate = FirstUnmarkedFrom(int64_t{lastUsed_} + 1, oldPfs);
  int64_t end = int64_t{total_} + GrowthStep();
  if (candidate >= end) end = candidate + 1;
  while (end <= INT32_MAX && IsMapPage(static_cast<int32_t>(end - 1))) ++end;
  if (end > INT32_MAX) throw EABSException(30431, "Page: %d cannot be addressed. TotalPageCount=%d", {end - 1, total_});
  pm_.ExtendFile(static_cast<int32_t>(end - total_));
  total_ = pm_.Header().TotalPageCount;
  const int32_t newPfs = LastPfsIndex(), newEam = LastEamIndex();
  for (int32_t k = oldPfs + 1; k <= newPfs; ++k) CreateMapPage(PfsPageNo(k), ptPFS);
  for (int32_t k = oldEam + 1; k <= newEam; ++k) CreateMapPage(EamPageNo(k), ptEAM);
  lastUsed_ = static_cast<int32_t>(candidate);
  // An EAM page recreated after the file shrank below it may still have its
  // bit set in a PFS page that stayed: setting it again is no fault.
  for (int32_t k = oldEam + 1; k <= newEam; ++k) UpdatePfs(EamPageNo(k), true, false);
  for (int32_t k = oldPfs + 1; k <= newPfs; ++k) UpdateEam(PfsPageNo(k));
  MarkPage(lastUsed_, true);
  return lastUsed_;
}

// A page marked in use above LastUsedPageNo is an allocation whose header
// was never written (a crash between the map write and the header write):
// nothing reaches it, but it is not free to hand out again either. Growth
// starts after such pages, so LastUsedPageNo ends above every one it met.
// Only the PFS pages up to `lastPfs` exist; past them no page is marked.
int64_t TABSDatabaseFreeSpaceManager::FirstUnmarkedFrom(int64_t from, int32_t lastPfs) {
  MapPage pfs;
  int64_t pfsIndex = -1;
  for (int64_t p = from; p < INT32_MAX; ++p) {
    if (IsMapPage(static_cast<int32_t>(p))) continue;
    const int64_t idx = p / pagesPerPfs_;
    if (idx > lastPfs) return p;
    if (idx != pfsIndex) {
      pfs = ReadMapPage(PfsPageNo(static_cast<int32_t>(idx)), ptPFS, static_cast<int>(MapSite::kSearch));
      pfsIndex = idx;
    }
    if (!BitSet(pfs->DataBuffer(), p % pagesPerPfs_)) return p;
  }
  return INT32_MAX;  // no page left to address: the growth refuses
}

// ---------------------------------------------------------------------------
// Release

void TABSDatabaseFreeSpaceManager::ReleasePage(int32_t pageNo) {
  const bool locked = TakeHeader(20232);
  UnderHeaderLock(
      pm_, locked,
      [&](bool& loaded) {
        LoadHeader(locked);
        loaded = true;
        MarkPage(pageNo, false);
        lastUsed_ = FindLastUsedDataPage();
        const int32_t step = GrowthStep();
        const int32_t tail = total_ - lastUsed_ - 1;
        if (tail >= step) {
          int32_t cut = (tail / step) * step;
          // The file never ends with a map page: keep one more page instead.
          while (cut > 0 && IsMapPage(total_ - cut - 1)) --cut;
          if (cut > 0) {
            pm_.Header().LastUsedPageNo = lastUsed_;
            pm_.TruncateFile(cut);
            total_ = pm_.Header().TotalPageCount;
          }
        }
        return 0;
      },
      &TABSDatabaseFreeSpaceManager::StoreHeader, this);
}

int32_t TABSDatabaseFreeSpaceManager::FindLastUsedDataPage() {
  if (total_ == 0) return -1;
  const int32_t size = pm_.PageDataSize();
  for (int32_t idx = LastPfsIndex(); idx >= 0; --idx) {
    MapPage pfs = ReadMapPage(PfsPageNo(idx), ptPFS, static_cast<int>(MapSite::kLastUsedScan));
    const uint8_t* bits = pfs->DataBuffer();
    for (int32_t b = size - 1; b >= 0; --b) {
      if (bits[b] == 0) continue;
      for (int bit = 7; bit >= 0; --bit) {
        if (!((bits[b] >> bit) & 1)) continue;
        const int64_t page = static_cast<int64_t>(PfsPageNo(idx)) + b * 8 + bit;
        if (page < total_ && !IsMapPage(static_cast<int32_t>(page))) return static_cast<int32_t>(page);
      }
    }
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Marking

void TABSDatabaseFreeSpaceManager::MarkPage(int32_t pageNo, bool used) {
  UpdatePfs(pageNo, used, true);
  UpdateEam(pageNo);
}

void TABSDatabaseFreeSpaceManager::UpdatePfs(int32_t pageNo, bool used, bool strict) {
  if (pageNo < 0 || pageNo >= total_)
    throw EABSException(30430, "Page: %d cannot be addressed. TotalPageCount=%d", {pageNo, total_});
  MapPage pfs = ReadMapPage(PfsPageNo(pageNo / pagesPerPfs_), ptPFS, static_cast<int>(MapSite::kPfsUpdate));
  const int32_t bit = pageNo % pagesPerPfs_;
  uint8_t& byte = pfs->DataBuffer()[bit / 8];
  const uint8_t mask = static_cast<uint8_t>(1u << (bit % 8));
  const bool set = (byte & mask) != 0;
  if (used && set) {
    if (!strict) return;
    throw EABSException(30425, "Page: %d already used", {pageNo});
  }
  if (!used && !set) throw EABSException(30427, "Page: %d already free", {pageNo});
  byte = static_cast<uint8_t>(byte ^ mask);
  WriteMapPage(*pfs);
}

void TABSDatabaseFreeSpaceManager::UpdateEam(int32_t pageNo) {
  if (pageNo < 0 || pageNo >= total_)
    throw EABSException(30431, "Page: %d cannot be addressed. TotalPageCount=%d", {pageNo, total_});
  const int64_t extent = pageNo / extent_;
  const int32_t eamIndex = static_cast<int32_t>(extent / extentsPerEam_);
  MapPage eam = ReadMapPage(EamPageNo(eamIndex), ptEAM, static_cast<int>(MapSite::kEamUpdate));
  bool seenUsed = false, seenFree = false;
  MapPage pfs;
  int32_t pfsIndex = -1;
  for (int64_t q = extent * extent_; q < (extent + 1) * extent_ && !(seenUsed && seenFree); ++q) {
    const int32_t idx = static_cast<int32_t>(q / pagesPerPfs_);
    if (static_cast<int64_t>(idx) * pagesPerPfs_ > lastUsed_) {
      seenFree = true;
      continue;
    }
    if (idx != pfsIndex) {
      pfs = ReadMapPage(PfsPageNo(idx), ptPFS, static_cast<int>(MapSite::kEamUpdate));
      pfsIndex = idx;
    }
    if (BitSet(pfs->DataBuffer(), q % pagesPerPfs_))
      seenUsed = true;
    else
      seenFree = true;
  }
  const uint8_t entry = seenFree ? 1 : (seenUsed ? 3 : 0);
  const int64_t slot = extent % extentsPerEam_;
  uint8_t& byte = eam->DataBuffer()[slot / 4];
  const int shift = static_cast<int>(2 * (slot % 4));
  const uint8_t updated = static_cast<uint8_t>((byte & ~(3u << shift)) | (entry << shift));
  if (updated == byte) return;
  byte = updated;
  WriteMapPage(*eam);
}

bool TABSDatabaseFreeSpaceManager::IsPageUsed(int32_t pageNo) {
  // The page count of the header in memory, not this map's copy: a
  // recovery puts back the header of before a commit that had cut the
  // file, and the copy would still end the file where the cut left it.
  if (pageNo < 0 || pageNo >= pm_.Header().TotalPageCount) return false;
  MapPage pfs = ReadMapPage(PfsPageNo(pageNo / pagesPerPfs_), ptPFS, static_cast<int>(MapSite::kUsedTest));
  return BitSet(pfs->DataBuffer(), pageNo % pagesPerPfs_);
}

TABSDatabaseFreeSpaceManager::Usage TABSDatabaseFreeSpaceManager::CountUsage() {
  LoadHeader();
  Usage u;
  u.total = total_;
  u.extents = static_cast<int32_t>((static_cast<int64_t>(total_) + extent_ - 1) / extent_);
  for (int32_t idx = 0; total_ > 0 && idx <= LastPfsIndex(); ++idx) {
    MapPage pfs = ReadMapPage(PfsPageNo(idx), ptPFS, static_cast<int>(MapSite::kUsedTest));
    const int64_t first = PfsPageNo(idx);
    const int64_t end = std::min<int64_t>(first + pagesPerPfs_, total_);
    for (int64_t p = first; p < end; ++p)
      if (BitSet(pfs->DataBuffer(), p - first)) ++u.used;
  }
  u.free = u.total - u.used;
  return u;
}
