#include "disk/DiskRecordManager.h"

#include <climits>

#include "core/ZUDExcept.h"
#include "disk/DiskBytes.h"
#include "disk/DiskPageManagerFile.h"
#include "disk/InternalFileChain.h"
#include "disk/RecordPage.h"

using namespace tiv::disk;
using tiv::disk::chain::PagePin;

TABSDiskRecordManager::TABSDiskRecordManager(TABSDiskPageManager& pm, const TABSFieldDefs& fields, int32_t tableID)
    : pm_(pm), fields_(fields), tableID_(tableID), index_(&pm) {
  recordSize_ = fields.StoredRecordSize();
  slots_ = RecordSlotsPerPage(pm.PageDataSize(), recordSize_);
  if (slots_ <= 0 || slots_ > 65535)
    throw EABSException(20174,
                        "Cannot create table. Record is too large to fit in current database page. Please increase "
                        "page size of database file or decrease record size");
  stored_.assign(static_cast<size_t>(recordSize_), 0);
  room_ = TABSPageRoomCache(TABSPageRoomCache::kLowestPage, slots_ - 1);
}

TABSDiskRecordManager::~TABSDiskRecordManager() = default;

void TABSDiskRecordManager::SetState(int32_t modificationCounter, int64_t recordCount) {
  // Another process committed a change of the table, or a rollback took
  // this process's back: pages may have free slots the cache does not know.
  if (modificationCounter != changeCounter_) room_.MayHaveGained();
  changeCounter_ = modificationCounter;
  recordCount_ = recordCount;
}

TABSPage* TABSDiskRecordManager::FetchRecordPage(int32_t sessionID, int32_t pageNo) {
  if (!chain::InPageArea(pm_, pageNo) || pm_.FreeSpaceManager().IsMapPage(pageNo)) return nullptr;
  TABSPage* page = nullptr;
  try {
    page = pm_.GetPage(sessionID, pageNo, true, ptAny);
  } catch (const EABSException& e) {
    // A released or unreadable page is no record page: not found.
    if (e.NativeError() == 20299) return nullptr;
    throw;
  }
  const bool checked = !pm_.FreeSpaceManager().SkipRecordPageCheck && pm_.Header().Version >= kOldFormatBelow;
  if (checked && (page->PageVersion() > kPageVersionWrapAt || page->PageType() != ptTableRecord ||
                  page->OwnerTableID() != tableID_)) {
    pm_.PutPage(page);
    return nullptr;
  }
  return page;
}

// ---------------------------------------------------------------------------
// Changes

int32_t TABSDiskRecordManager::FindPageWithRoom(int32_t sessionID) { return room_.Find(sessionID, index_, slots_ - 1); }

bool TABSDiskRecordManager::Insert(int32_t sessionID, const char* record, TABSRecordID& newID) {
  MemoryToStoredRecord(fields_, record, stored_.data());
  int32_t pageNo = FindPageWithRoom(sessionID);
  bool added = false;
  TABSPage* raw = nullptr;
  if (pageNo != -1) {
    raw = FetchRecordPage(sessionID, pageNo);
    if (!raw)
      throw EABSException(20299, "Error reading database file page. Page No: %d, type %d",
                          {pageNo, static_cast<int>(ptTableRecord)});
  } else {
    raw = pm_.AddPage(sessionID, ptTableRecord);
    raw->SetOwnerTableID(tableID_);
    pageNo = raw->PageNo;
    added = true;
  }
  PagePin page(pm_, raw);
  TABSSmallRecordPage rp(*page.Get(), slots_, recordSize_);
  rp.AddRecord(stored_.data(), newID);
  const auto count = static_cast<uint16_t>(rp.RecordCount());
  if (added)
    index_.Insert(sessionID, pageNo, count);
  else
    index_.Update(sessionID, pageNo, count);
  room_.Note(pageNo, count);
  recordCount_ += 1;
  changeCounter_ += 1;
  return true;
}

bool TABSDiskRecordManager::Update(int32_t sessionID, const char* record, const TABSRecordID& id) {
  TABSPage* raw = FetchRecordPage(sessionID, id.pageNo);
  if (!raw) return false;
  PagePin page(pm_, raw);
  MemoryToStoredRecord(fields_, record, stored_.data());
  TABSSmallRecordPage rp(*page.Get(), slots_, recordSize_);
  if (!rp.UpdateRecord(stored_.data(), id)) return false;
  changeCounter_ += 1;
  return true;
}

bool TABSDiskRecordManager::Delete(int32_t sessionID, const TABSRecordID& id) {
  int32_t left = 0;
  {
    TABSPage* raw = FetchRecordPage(sessionID, id.pageNo);
    if (!raw) return false;
    PagePin page(pm_, raw);
    TABSSmallRecordPage rp(*page.Get(), slots_, recordSize_);
    if (!rp.DeleteRecord(id)) return false;
    left = rp.RecordCount();
  }
  if (left == 0) {
    // Contract 2: an empty page leaves the index and goes back.
    index_.Delete(sessionID, id.pageNo);
    pm_.DeletePage(sessionID, id.pageNo);
    room_.Forget(id.pageNo);
  } else {
    index_.Update(sessionID, id.pageNo, static_cast<uint16_t>(left));
    room_.Note(id.pageNo, left);
  }
  recordCount_ -= 1;
  changeCounter_ += 1;
  return true;
}

void TABSDiskRecordManager::Clear(int32_t sessionID) {
  const int32_t session = sessionID == -2 ? TABSPageManager::kSystemSession : sessionID;
  const std::vector<std::pair<int32_t, uint16_t>> pages = IndexedPages(session);
  // Contract 2: every page the index names must be a record page of this
  // table before the first one is given back (a damaged entry must not free
  // the system directory or a page of another table).
  const bool checked = !pm_.FreeSpaceManager().SkipRecordPageCheck && pm_.Header().Version >= kOldFormatBelow;
  for (const auto& [pageNo, count] : pages) {
    (void)count;
    if (!pm_.IsPageOf(session, pageNo, checked ? ptTableRecord : ptAny,
                      checked ? tableID_ : TABSPageManager::kAnyOwner))
      throw EABSException(20299, "Error reading database file page. Page No: %d, type %d",
                          {pageNo, static_cast<int>(ptTableRecord)});
  }
  for (const auto& [pageNo, count] : pages) {
    (void)count;
    pm_.DeletePage(session, pageNo);
  }
  index_.Empty(session);
  room_.Clear();
  recordCount_ = 0;
  changeCounter_ += 1;  // contract 3
}

// ---------------------------------------------------------------------------
// Navigation

void TABSDiskRecordManager::Deliver(int32_t sessionID, TABSPage* page, TABSGetRecordRequest& request) {
  (void)sessionID;
  TABSSmallRecordPage rp(*page, slots_, recordSize_);
  rp.ReadRecord(request.recordID, stored_.data());
  if (request.destination) StoredToMemoryRecord(fields_, stored_.data(), request.destination);
  request.result = grrFound;
}

// The first record on a valid page of the index after `pageNo` (from the
// first page when `after` is false).
bool TABSDiskRecordManager::FirstOnPageFrom(int32_t sessionID, int32_t pageNo, bool after,
                                            TABSGetRecordRequest& request) {
  uint8_t key[4];
  PutI32(key, after ? pageNo : INT32_MIN);
  TABSBTreeSearchKey search;
  search.key = key;
  TABSBTreePath path;
  bool more = index_.Tree().SeekFirst(sessionID, search, after ? TABSBTreeBound::kUpper : TABSBTreeBound::kLower, path);
  for (; more; more = index_.Next(sessionID, path)) {
    TABSPage* raw = FetchRecordPage(sessionID, index_.KeyAt(sessionID, path));
    if (!raw) continue;
    PagePin page(pm_, raw);
    TABSSmallRecordPage rp(*raw, slots_, recordSize_);
    if (rp.RecordCount() == 0) continue;
    rp.FirstRecord(request.recordID);
    Deliver(sessionID, raw, request);
    return true;
  }
  return false;
}

bool TABSDiskRecordManager::LastOnPageFrom(int32_t sessionID, int32_t pageNo, bool before,
                                           TABSGetRecordRequest& request) {
  uint8_t key[4];
  PutI32(key, before ? pageNo : INT32_MAX);
  TABSBTreeSearchKey search;
  search.key = key;
  TABSBTreePath path;
  bool more = index_.Tree().SeekLast(sessionID, search, before ? TABSBTreeBound::kLower : TABSBTreeBound::kUpper, path);
  for (; more; more = index_.Prior(sessionID, path)) {
    TABSPage* raw = FetchRecordPage(sessionID, index_.KeyAt(sessionID, path));
    if (!raw) continue;
    PagePin page(pm_, raw);
    TABSSmallRecordPage rp(*raw, slots_, recordSize_);
    if (rp.RecordCount() == 0) continue;
    rp.LastRecord(request.recordID);
    Deliver(sessionID, raw, request);
    return true;
  }
  return false;
}

void TABSDiskRecordManager::GetRecord(int32_t sessionID, TABSGetRecordRequest& request) {
  if (request.mode == grmCurrent) {
    request.result = grrNotFound;
    TABSPage* raw = FetchRecordPage(sessionID, request.recordID.pageNo);
    if (!raw) return;
    PagePin page(pm_, raw);
    if (TABSSmallRecordPage(*raw, slots_, recordSize_).SlotUsed(request.recordID.rowNo))
      Deliver(sessionID, raw, request);
    return;
  }
  const bool forward = request.mode == grmNext;
  if (recordCount_ == 0 || index_.RootPageNo() < 0) {
    request.result = grrEOF;
    return;
  }
  if (request.beforeFirst) {
    if (!forward || !FirstOnPageFrom(sessionID, 0, false, request)) request.result = forward ? grrEOF : grrBOF;
    return;
  }
  if (request.afterLast) {
    if (forward || !LastOnPageFrom(sessionID, 0, false, request)) request.result = forward ? grrEOF : grrBOF;
    return;
  }
  const TABSRecordID from = request.recordID;
  TABSPage* raw = FetchRecordPage(sessionID, from.pageNo);
  if (raw) {
    PagePin page(pm_, raw);
    TABSSmallRecordPage rp(*raw, slots_, recordSize_);
    TABSRecordID id = from;
    if (forward ? rp.NextRecord(id) : rp.PriorRecord(id)) {
      request.recordID = id;
      Deliver(sessionID, raw, request);
      return;
    }
  } else if (!forward) {
    // Backward from a page that is no record page of this table: as from
    // the end.
    if (!LastOnPageFrom(sessionID, 0, false, request)) request.result = grrBOF;
    return;
  }
  if (forward ? FirstOnPageFrom(sessionID, from.pageNo, true, request)
              : LastOnPageFrom(sessionID, from.pageNo, true, request))
    return;
  request.result = forward ? grrEOF : grrBOF;
}

// ---------------------------------------------------------------------------
// Ordinals and physical record numbers

int64_t TABSDiskRecordManager::OrdinalOf(int32_t sessionID, const TABSRecordID& id) {
  TABSBTreePath path;
  if (index_.RootPageNo() < 0 || !index_.Find(sessionID, id.pageNo, path)) return -1;
  TABSPage* raw = FetchRecordPage(sessionID, id.pageNo);
  if (!raw) return -1;
  PagePin page(pm_, raw);
  TABSSmallRecordPage rp(*raw, slots_, recordSize_);
  if (!rp.SlotUsed(id.rowNo)) return -1;
  return index_.RecNoOf(sessionID, id.pageNo, rp.IndexOf(id)) + 1;
}

int64_t TABSDiskRecordManager::ApproxRecNo(int32_t sessionID, const TABSRecordID& id) {
  return OrdinalOf(sessionID, id);
}

bool TABSDiskRecordManager::RecordByOrdinal(int32_t sessionID, int64_t ordinal, TABSRecordID& id) {
  if (ordinal < 1 || ordinal > recordCount_ || index_.RootPageNo() < 0) return false;
  int32_t pageNo = -1, row = 0;
  index_.GoToRecNo(sessionID, ordinal - 1, pageNo, row);
  TABSPage* raw = FetchRecordPage(sessionID, pageNo);
  if (!raw) return false;
  PagePin page(pm_, raw);
  TABSSmallRecordPage(*raw, slots_, recordSize_).RecordByIndex(row, id);
  return true;
}

int64_t TABSDiskRecordManager::PhysicalRecNo(const TABSRecordID& id) const {
  return int64_t{id.pageNo} * slots_ + id.rowNo;
}

TABSRecordID TABSDiskRecordManager::FromPhysicalRecNo(int64_t recNo) const {
  if (recNo < 0) return {};
  return {static_cast<int32_t>(recNo / slots_), static_cast<uint16_t>(recNo % slots_)};
}

int64_t TABSDiskRecordManager::PhysicalRecNoBound(int32_t sessionID) {
  TABSBTreePath path;
  if (index_.RootPageNo() < 0 || !index_.Last(sessionID, path)) return 1;
  return (int64_t{index_.KeyAt(sessionID, path)} + 1) * slots_;
}

std::vector<std::pair<int32_t, uint16_t>> TABSDiskRecordManager::IndexedPages(int32_t sessionID) {
  std::vector<std::pair<int32_t, uint16_t>> pages;
  if (index_.RootPageNo() < 0) return pages;
  TABSBTreePath path;
  for (bool more = index_.First(sessionID, path); more; more = index_.Next(sessionID, path))
    pages.emplace_back(index_.KeyAt(sessionID, path), index_.ValueAt(sessionID, path));
  return pages;
}

void TABSDiskRecordManager::RebuildPageIndex(int32_t sessionID) {
  index_.Empty(sessionID);
  room_.Clear();
  int64_t total = 0;
  const int32_t pages = pm_.GetTotalPageCount();
  for (int32_t pageNo = 1; pageNo < pages; ++pageNo) {
    if (pm_.FreeSpaceManager().IsMapPage(pageNo) || !pm_.FreeSpaceManager().IsPageUsed(pageNo)) continue;
    TABSPage* raw = FetchRecordPage(sessionID, pageNo);
    if (!raw) continue;
    PagePin page(pm_, raw);
    const int32_t count = TABSSmallRecordPage(*raw, slots_, recordSize_).RecordCount();
    if (count == 0) continue;
    index_.Insert(sessionID, pageNo, static_cast<uint16_t>(count));
    total += count;
  }
  recordCount_ = total;
}
