// The page level of TABSDiskPageManager: page numbers from the free-space
// map, reads and writes of whole pages with their PageVersion and the place
// of encryption, the multi-user checks of cached pages, and the disk commit
// (its state diagram is in DiskPageManagerFile.h).
#include <array>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "disk/DiskBytes.h"
#include "disk/DiskCrc.h"
#include "disk/DiskPageManagerFile.h"
#include "disk/InternalFileChain.h"
#include "disk/ZUDSecurity.h"

using namespace tiv::disk;

TABSDatabaseFreeSpaceManager& TABSDiskPageManager::FreeSpaceManager() {
  if (!freeSpace_) throw std::logic_error("The free-space map exists only while a database file is open");
  return *freeSpace_;
}

int32_t TABSDiskPageManager::GetPageCount() { return GetTotalPageCount(); }

bool TABSDiskPageManager::HoldsPages(int64_t pages) { return chain::PageAreaHolds(*this, pages); }

// ---------------------------------------------------------------------------
// Multi-user checks

bool TABSDiskPageManager::IsPageValidated(int32_t sessionID, TABSPage* page) {
  if (!multiUser_) return true;
  int32_t table = 0, stamp = 0;
  if (!tablePagesCache_.GetCurrentStamp(sessionID, table, stamp)) return false;
  const TABSPageValidation& v = page->ValidationFor(sessionID);
  return v.Valid && v.TableID == table && v.Stamp == stamp;
}

void TABSDiskPageManager::MarkPageValidated(int32_t sessionID, TABSPage* page) {
  if (!multiUser_) return;
  int32_t table = 0, stamp = 0;
  if (tablePagesCache_.GetCurrentStamp(sessionID, table, stamp)) page->ValidationFor(sessionID) = {table, stamp, true};
}

TABSPage::Refresh TABSDiskPageManager::RefreshCachedPage(TABSPage* page) {
  if (!MultiUser()) return TABSPage::Refresh::kUnchanged;
  const int32_t onDisk = ReadPageVersion(page->PageNo);
  // Released by another process, or unreadable: the cached bytes are no
  // longer the page's, whatever version they carry.
  if (onDisk == kPageVersionReleased) return TABSPage::Refresh::kGone;
  if (onDisk == page->PageVersion()) return TABSPage::Refresh::kUnchanged;
  try {
    return ReadPage(page) ? TABSPage::Refresh::kReread : TABSPage::Refresh::kGone;
  } catch (const EABSException&) {
    // The reread bytes failed their CRC and overwrote the cached ones: the
    // copy must not be served again.
    DropFromCache(page->PageNo);
    throw;
  }
}

// ---------------------------------------------------------------------------
// Page numbers

void TABSDiskPageManager::AllocPageNo(TABSPage* page) {
  page->PageNo = FreeSpaceManager().AllocatePage();
  page->AllocBuffer();
}

void TABSDiskPageManager::FreePageNo(int32_t pageNo) {
  // The version mark first: a process that cached the page sees it gone
  // before the number can be handed out again.
  WritePageVersion(pageNo, kPageVersionReleased);
  FreeSpaceManager().ReleasePage(pageNo);
}

void TABSDiskPageManager::DeletePage(int32_t sessionID, int32_t pageNo) {
  FreeSpaceManager().CheckNotMapPage(pageNo);
  // Refused now: the commit would only fail on it half-way, at State 1.
  if (!chain::InPageArea(*this, pageNo)) throw EABSException(10471, "Invalid PageNo = %d", {pageNo});
  TABSPageManager::DeletePage(sessionID, pageNo);
}

bool TABSDiskPageManager::IsPageOf(int32_t sessionID, int32_t pageNo, uint16_t pageType, int32_t ownerTableID) {
  CheckSessionID(sessionID);
  // No list or index of a table may name the map or the system directory.
  if (pageNo <= kSystemDirectoryPageNo || FreeSpaceManager().IsMapPage(pageNo) || !chain::InPageArea(*this, pageNo))
    return false;
  // The session's own changed copy is what it sees; otherwise the file is
  // (a clean cached copy is the file's page, or older than it).
  const TABSPage* held = nullptr;
  if (const Session* s = FindSession(sessionID)) held = s->DirtyPages.Find(pageNo);
  if (const TABSPage* cached = held ? nullptr : cache_.Find(pageNo); cached && cached->IsDirty)
    held = cached->SessionID == sessionID ? cached : nullptr;
  std::array<uint8_t, kPageHeaderSize> header{};
  if (held) {
    std::memcpy(header.data(), held->Buffer(), kPageHeaderSize);
  } else {
    try {
      ReadPageBytes(header.data(), pageNo, kPageHeaderSize, 0);
    } catch (const EABSException& e) {
      if (e.NativeError() == 10474) return false;  // cut short: no page there
      throw;
    }
  }
  return std::memcmp(header.data() + kPgSignature, kPageSignature, 4) == 0 &&
         GetI32(header.data() + kPgVersion) <= kPageVersionWrapAt &&
         (pageType == ptAny || GetU16(header.data() + kPgType) == pageType) &&
         (ownerTableID == kAnyOwner || GetI32(header.data() + kPgOwnerTableID) == ownerTableID);
}

TABSPage* TABSDiskPageManager::GetPage(int32_t sessionID, int32_t pageNo, bool checkCache, uint16_t pageType) {
  FreeSpaceManager().CheckNotMapPage(pageNo);
  return TABSPageManager::GetPage(sessionID, pageNo, checkCache, pageType);
}

// ---------------------------------------------------------------------------
// Reading and writing whole pages

namespace {

// The pages of the direct internal files (active sessions, table locks) are
// changed in place, a few bytes at a time, by WritePageBytes: they are
// written plain, never enciphered, and carry no DataCRC.
bool IsDirectFilePageType(uint16_t type) { return type == ptActiveSessionList || type == ptTableLocks; }

}  // namespace

bool TABSDiskPageManager::ReadPage(TABSPage* page) {
  if (!page->OwnsBuffer() || page->BufferSize() < pageSize_) page->AllocBuffer();
  if (!ReadPage(page->PageNo, page->Buffer())) {
    page->SetPageVersion(kPageVersionReleased);
    return false;
  }
  // A page without its signature (never written, or foreign bytes) and a
  // released page are not pages of this database; repair tools look at them
  // with SkipTypeCheck.
  if (!SkipTypeCheck && (!page->HasSignature() || page->PageVersion() == kPageVersionReleased)) {
    page->SetPageVersion(kPageVersionReleased);
    return false;
  }
  // The map pages and the pages of the direct files are written plain,
  // never through the enciphering commit; a reader that meets one through
  // the cache (a whole-file check) takes it as stored.
  const bool directFilePage = IsDirectFilePageType(GetU16(page->Buffer() + kPgType));
  if (header_.Encrypted == kEncryptedYes && !FreeSpaceManager().IsMapPage(page->PageNo) && !directFilePage) {
    DecipherPage(Cipher(), password_, page->Buffer(), pageSize_, page->PageNo, SkipTypeCheck);
  } else if (!directFilePage && !SkipTypeCheck &&
             !PlainPageCrcHolds(page->DataCRC(), page->DataBuffer(), page->DataSize())) {
    // Bytes changed since the page was written (a bad sector, a torn or
    // foreign write): never served as the page. Not 20299, which readers
    // take for a page another process released.
    page->SetPageVersion(kPageVersionReleased);
    throw EABSException(20300, "Error getting %d-th table file page. Probably database is corrupted and needs repair.",
                        {page->PageNo});
  }
  page->Reread = true;
  return true;
}

// Every page write of a commit, map pages included, passes through here and
// then through the raw WritePage: the one place where page bytes meet the
// file.
void TABSDiskPageManager::WritePage(TABSPage* page) {
  if (!page->OwnsBuffer() || page->BufferSize() < pageSize_)
    throw EABSException(20038, "Invalid page buffer. Buffer is Nil");
  int64_t version = static_cast<int64_t>(page->PageVersion()) + 1;
  if (version >= kPageVersionWrapAt) version = 0;
  page->SetPageVersion(static_cast<int32_t>(version));
  const bool encipher =
      header_.Encrypted == kEncryptedYes && page->EncryptOnWrite && !FreeSpaceManager().IsMapPage(page->PageNo);
  if (!encipher) {
    // Plain pages carry the CRC of their data area too (DiskCrc.h contract
    // 3); the direct files' pages change in place later and carry none.
    page->SetDataCRC(IsDirectFilePageType(page->PageType()) ? kNoPageCrc
                                                            : PlainPageCrc(page->DataBuffer(), page->DataSize()));
    WritePage(page->PageNo, page->Buffer());
    return;
  }
  page->SetCryptoAlgorithm(checkBlock_.CryptoAlgorithm);
  page->SetDataCRC(Crc32(page->DataBuffer(), page->DataSize()));
  // Enciphered into a copy: the cached page stays plain whatever happens,
  // and a page that cannot be enciphered is not written at all.
  WriteEncipheredPage(*this, Cipher(), password_, checkBlock_.CryptoAlgorithm, page->PageNo, page->Buffer());
}

// ---------------------------------------------------------------------------
// The disk commit

void TABSDiskPageManager::CommitSession(int32_t sessionID, bool flush) {
  Session* s = FindSession(sessionID);
  // Nothing to commit writes nothing, not even the header.
  if (!s || !HasChanges(*s)) return;
  // Every refusal before the first byte: a refused commit leaves State 2.
  CheckCommit(sessionID, *s);
  flush = flush || durable_;
  ++stateGeneration_;
  // The pages the session allocated: a failed commit gives them back to its
  // rollback, as the journal restores the map that marks them in use.
  const std::vector<int32_t> added = s->AddedPages;
  BeginCommit(s, flush);
  try {
    if (flush) FlushFileBuffers();  // State 1 is on the disk before any page
    WriteSession(*s);
    if (flush) FlushFileBuffers();  // every page is on the disk before State 2
  } catch (...) {
    AbortCommit();
    AfterFailedCommit(sessionID, added);
    throw;
  }
  try {
    EndCommit(flush);
  } catch (...) {
    AfterFailedCommit(sessionID, added);
    throw;
  }
}

// The journal put every page back, so nothing of the commit happened; the
// pages it wrote left the session, so it cannot be tried again either. The
// session is rolled back: what it allocated is freed, nothing else.
void TABSDiskPageManager::AfterFailedCommit(int32_t sessionID, const std::vector<int32_t>& added) noexcept {
  try {
    if (Session* s = FindSession(sessionID)) {
      s->SetAdded(added);
      s->DeletedPages.clear();
    }
    RollbackSession(sessionID);
  } catch (const std::exception& x) {
    std::fprintf(stderr, "tivoran: rolling back a failed commit: %s\n", x.what());
  }
}
