#include "disk/BlobPages.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "core/PageManager.h"
#include "core/ZUDExcept.h"
#include "core/ZUDRecordLayout.h"
#include "core/ZUDRecordManager.h"
#include "disk/BlobFieldStream.h"
#include "disk/DiskBytes.h"

using tiv::disk::GetI16;
using tiv::disk::GetI32;
using tiv::disk::GetU16;
using tiv::disk::GetU32;
using tiv::disk::PutI16;
using tiv::disk::PutI32;
using tiv::disk::PutU16;
using tiv::disk::PutU32;
using tiv::page::ptTableBlob;

namespace {

// Pins a page for the scope; PutPage on every path.
class PinnedPage {
 public:
  PinnedPage(TABSPageManager& pm, TABSPage* page) : pm_(pm), page_(page) {}
  ~PinnedPage() {
    if (page_) pm_.PutPage(page_);
  }
  PinnedPage(const PinnedPage&) = delete;
  PinnedPage& operator=(const PinnedPage&) = delete;
  TABSPage* operator->() const { return page_; }
  TABSPage& operator*() const { return *page_; }

 private:
  TABSPageManager& pm_;
  TABSPage* page_;
};

struct BlobHeader {
  int16_t blobID = 0;
  int32_t blockCount = 0;
  int64_t storedSize = 0;
  int64_t uncompressedSize = 0;
};

void PutHeader(uint8_t* p, const BlobHeader& h) {
  PutI16(p, h.blobID);
  PutI32(p + 2, h.blockCount);
  zud::PutU64(p + 6, static_cast<uint64_t>(h.storedSize));
  PutU32(p + 14, static_cast<uint32_t>(static_cast<uint64_t>(h.uncompressedSize)));
  PutU32(p + 18, static_cast<uint32_t>(static_cast<uint64_t>(h.uncompressedSize) >> 32));
}

BlobHeader GetHeader(const uint8_t* p) {
  BlobHeader h;
  h.blobID = GetI16(p);
  h.blockCount = GetI32(p + 2);
  h.storedSize = zud::GetI64(p + 6);
  h.uncompressedSize =
      static_cast<int64_t>(static_cast<uint64_t>(GetU32(p + 14)) | static_cast<uint64_t>(GetU32(p + 18)) << 32);
  return h;
}

}  // namespace

void TABSBlobReference::Write(void* sixBytes) const {
  auto* b = static_cast<uint8_t*>(sixBytes);
  PutI32(b, PageNo);
  PutI16(b + 4, BlobID);
}

TABSBlobReference TABSBlobReference::Read(const void* sixBytes) {
  const auto* b = static_cast<const uint8_t*>(sixBytes);
  return {GetI32(b), GetI16(b + 4)};
}

void TABSBlobValue::SetStoredData(const void* data, int64_t size) {
  TABSMemBlock block;
  if (size > 0) {
    block = AllocBlock(static_cast<uint64_t>(size));
    std::memcpy(block.get(), data, static_cast<size_t>(size));
  }
  StoredData = std::move(block);
  StoredSize = std::max<int64_t>(size, 0);
}

// --- small BLOB page -----------------------------------------------------

TABSSmallBlobPage::TABSSmallBlobPage(TABSPage& page)
    : page_(page), data_(page.DataBuffer()), dataSize_(page.DataSize()) {}

uint16_t TABSSmallBlobPage::BlobCount() const { return GetU16(data_); }

std::vector<int32_t> TABSSmallBlobPage::Entries() const {
  std::vector<int32_t> offsets;
  int64_t at = 2;
  for (int i = 0; i < BlobCount(); ++i) {
    if (at + kBlobHeaderSize > dataSize_) throw EABSException(20291, "Cannot read BLOB field value");
    const BlobHeader h = GetHeader(data_ + at);
    if (h.storedSize < 0 || h.storedSize > dataSize_ - at - kBlobHeaderSize)
      throw EABSException(20291, "Cannot read BLOB field value");
    offsets.push_back(static_cast<int32_t>(at));
    at += kBlobHeaderSize + h.storedSize;
  }
  return offsets;
}

int32_t TABSSmallBlobPage::UsedBytes() const {
  const std::vector<int32_t> e = Entries();
  if (e.empty()) return 0;
  return e.back() + kBlobHeaderSize + static_cast<int32_t>(GetHeader(data_ + e.back()).storedSize) - 2;
}

int32_t TABSSmallBlobPage::Find(int16_t blobID) const {
  for (int32_t at : Entries())
    if (GetI16(data_ + at) == blobID) return at;
  return -1;
}

int16_t TABSSmallBlobPage::NewBlobID() const {
  const std::vector<int32_t> entries = Entries();
  auto inUse = [&](int16_t id) {
    if (id == 255) return true;  // contract 2: never an ambiguous id
    for (int32_t at : entries)
      if (GetI16(data_ + at) == id) return true;
    return false;
  };
  int16_t id = static_cast<int16_t>(BlobCount());
  for (int tries = 0; tries < 65536; ++tries) {
    if (id == -1) throw EABSException(20172, "Invalid blob field ID");
    if (!inUse(id)) return id;
    id = id == -2 ? 0 : static_cast<int16_t>(id + 1);
  }
  throw EABSException(20172, "Invalid blob field ID");
}

int16_t TABSSmallBlobPage::Add(const TABSBlobValue& value) {
  const int16_t id = NewBlobID();
  uint8_t* at = data_ + 2 + UsedBytes();
  PutHeader(at, {id, value.BlockCount, value.StoredSize, value.UncompressedSize});
  if (value.StoredSize > 0) std::memcpy(at + kBlobHeaderSize, value.Data(), static_cast<size_t>(value.StoredSize));
  PutU16(data_, static_cast<uint16_t>(BlobCount() + 1));
  page_.IsDirty = true;
  return id;
}

void TABSSmallBlobPage::Read(int16_t blobID, TABSBlobValue& out) const {
  const int32_t at = Find(blobID);
  if (at < 0) throw EABSException(20171, "Cannot find blob field");
  const BlobHeader h = GetHeader(data_ + at);
  out.BlockCount = h.blockCount;
  out.UncompressedSize = h.uncompressedSize;
  out.SetStoredData(data_ + at + kBlobHeaderSize, h.storedSize);
}

int32_t TABSSmallBlobPage::Remove(int16_t blobID) {
  const int32_t at = Find(blobID);
  if (at < 0) throw EABSException(20171, "Cannot find blob field");
  const int32_t size = kBlobHeaderSize + static_cast<int32_t>(GetHeader(data_ + at).storedSize);
  const int32_t end = 2 + UsedBytes();
  std::memmove(data_ + at, data_ + at + size, static_cast<size_t>(end - at - size));
  std::memset(data_ + end - size, 0, static_cast<size_t>(size));
  PutU16(data_, static_cast<uint16_t>(BlobCount() - 1));
  page_.IsDirty = true;
  return size;
}

// --- the manager -----------------------------------------------------------

TABSDiskBlobManager::TABSDiskBlobManager(TABSPageManager& pages, TABSBlobPageSpace& index)
    : pages_(pages), index_(index) {}

TABSDiskBlobManager::~TABSDiskBlobManager() = default;

void TABSDiskBlobManager::Close() {
  if (CachedValueCount() > 0) throw EABSException(20150, "Blob cache not released");
}

bool TABSDiskBlobManager::IsSmall(int64_t storedSize) const {
  return storedSize + kBlobHeaderSize + 2 < pages_.PageDataSize();
}

TABSBlobReference TABSDiskBlobManager::StoreValue(int32_t sessionID, const TABSBlobValue& value) {
  return IsSmall(value.StoredSize) ? StoreSmall(sessionID, value) : StoreLarge(sessionID, value);
}

TABSBlobReference TABSDiskBlobManager::StoreSmall(int32_t sessionID, const TABSBlobValue& value) {
  const int32_t entrySize = kBlobHeaderSize + static_cast<int32_t>(value.StoredSize);
  const int32_t found = index_.FindPageWithRoom(sessionID, entrySize);
  PinnedPage page(pages_, found >= 0 ? pages_.GetPage(sessionID, found, true, ptTableBlob)
                                     : pages_.AddPage(sessionID, ptTableBlob));
  TABSSmallBlobPage blobs(*page);
  const int32_t used = blobs.UsedBytes();
  // Contract 1: the entry must end inside the data area, BlobCount counted.
  if (2 + used + entrySize > page->DataSize())
    throw EABSException(
        20290,
        "Cannot add blob. Page is full: BlobCount=%d, BlobOffset=%d, BlobSize=%d, PageDataSize=%d, "
        "SizeInBlobPageIndex=%d",
        {blobs.BlobCount(), 2 + used, entrySize, page->DataSize(), index_.UsedSpaceOf(sessionID, page->PageNo)});
  const int16_t id = blobs.Add(value);
  index_.SetUsedSpace(sessionID, page->PageNo, used + entrySize);
  return {page->PageNo, id};
}

TABSBlobReference TABSDiskBlobManager::StoreLarge(int32_t sessionID, const TABSBlobValue& value) {
  const int32_t dataSize = pages_.PageDataSize();
  std::vector<int32_t> dataPages;
  PinnedPage first(pages_, pages_.AddPage(sessionID, ptTableBlob));
  dataPages.push_back(first->PageNo);
  PutHeader(first->DataBuffer(), {0, value.BlockCount, value.StoredSize, value.UncompressedSize});
  first->IsDirty = true;

  // Data: from 32 on the first page, from 0 on the others.
  const char* src = value.Data();
  int64_t left = value.StoredSize;
  int32_t n = static_cast<int32_t>(std::min<int64_t>(left, dataSize - kLargeBlobDataOffset));
  if (n > 0) std::memcpy(first->DataBuffer() + kLargeBlobDataOffset, src, static_cast<size_t>(n));
  src += n;
  left -= n;
  int32_t lastPage = first->PageNo;
  int32_t lastEnd = kLargeBlobDataOffset + n;
  while (left > 0) {
    PinnedPage p(pages_, pages_.AddPage(sessionID, ptTableBlob));
    n = static_cast<int32_t>(std::min<int64_t>(left, dataSize));
    std::memcpy(p->DataBuffer(), src, static_cast<size_t>(n));
    src += n;
    left -= n;
    dataPages.push_back(p->PageNo);
    lastPage = p->PageNo;
    lastEnd = n;
  }

  // The page list after the last data byte, chained through NextPageNo.
  std::vector<uint8_t> list(dataPages.size() * 4);
  for (size_t i = 0; i < dataPages.size(); ++i) PutI32(list.data() + 4 * i, dataPages[i]);
  int32_t listPage = lastPage;
  int32_t listOffset = lastEnd;
  std::unique_ptr<PinnedPage> at;
  if (listOffset >= dataSize) {
    at = std::make_unique<PinnedPage>(pages_, pages_.AddPage(sessionID, ptTableBlob));
    listPage = (*at)->PageNo;
    listOffset = 0;
  } else {
    at = std::make_unique<PinnedPage>(pages_, listPage == first->PageNo
                                                  ? pages_.GetPage(sessionID, listPage, true, ptTableBlob)
                                                  : pages_.GetPage(sessionID, listPage, true, ptTableBlob));
  }
  size_t written = 0;
  int32_t offset = listOffset;
  for (;;) {
    const size_t room = static_cast<size_t>(dataSize - offset);
    const size_t k = std::min(room, list.size() - written);
    std::memcpy((*at)->DataBuffer() + offset, list.data() + written, k);
    (*at)->IsDirty = true;
    written += k;
    if (written == list.size()) break;
    auto next = std::make_unique<PinnedPage>(pages_, pages_.AddPage(sessionID, ptTableBlob));
    (*at)->SetNextPageNo((*next)->PageNo);
    at = std::move(next);
    offset = 0;
  }
  at.reset();
  uint8_t* loc = first->DataBuffer() + kBlobLocatorOffset;
  PutI32(loc, listPage);
  PutU16(loc + 4, static_cast<uint16_t>(listOffset));
  PutI32(loc + 6, static_cast<int32_t>(dataPages.size()));
  first->IsDirty = true;
  return {first->PageNo, -1};
}

TABSDiskBlobManager::LargeLayout TABSDiskBlobManager::ReadLargeLayout(int32_t sessionID, int32_t firstPage) {
  const int32_t dataSize = pages_.PageDataSize();
  LargeLayout l;
  int32_t listPage, listOffset, count;
  {
    PinnedPage first(pages_, pages_.GetPage(sessionID, firstPage, true, ptTableBlob));
    const BlobHeader h = GetHeader(first->DataBuffer());
    const uint8_t* loc = first->DataBuffer() + kBlobLocatorOffset;
    listPage = GetI32(loc);
    listOffset = GetU16(loc + 4);
    count = GetI32(loc + 6);
    l.blockCount = h.blockCount;
    l.storedSize = h.storedSize;
    l.uncompressedSize = h.uncompressedSize;
  }
  // Count and size come from the same page, so only the file bounds them:
  // at least one page and no more than the file holds, and the count the
  // one the size gives (the list and the data then stay inside their
  // pages), all before anything is allocated for them.
  const int64_t firstRoom = dataSize - kLargeBlobDataOffset;
  const int64_t expected =
      l.storedSize < 0 ? -1 : 1 + (std::max<int64_t>(l.storedSize - firstRoom, 0) + dataSize - 1) / dataSize;
  if (count < 1 || count != expected || listOffset > dataSize || !pages_.HoldsPages(count))
    throw EABSException(20162, "Cannot read BLOB field value");
  // The list page by page; an int32 entry may straddle two of them.
  const int64_t listBytes = int64_t{count} * 4;
  const size_t maxPages = static_cast<size_t>(listBytes / dataSize + 2);
  uint8_t entry[4];
  int filled = 0;
  int64_t got = 0;
  int32_t pageNo = listPage;
  int32_t offset = listOffset;
  while (got < listBytes) {
    if (l.listPages.size() >= maxPages || pageNo < 0) throw EABSException(20162, "Cannot read BLOB field value");
    PinnedPage p(pages_, pages_.GetPage(sessionID, pageNo, true, ptTableBlob));
    l.listPages.push_back(pageNo);
    const int64_t k = std::min<int64_t>(dataSize - offset, listBytes - got);
    for (const uint8_t* b = p->DataBuffer() + offset; b < p->DataBuffer() + offset + k; ++b) {
      entry[filled++] = *b;
      if (filled == 4) {
        l.dataPages.push_back(GetI32(entry));
        filled = 0;
      }
    }
    got += k;
    pageNo = p->NextPageNo();
    offset = 0;
  }
  if (l.dataPages.front() != firstPage) throw EABSException(20162, "Cannot read BLOB field value");
  return l;
}

std::unique_ptr<TABSBlobValue> TABSDiskBlobManager::LoadLarge(int32_t sessionID, int32_t firstPage) {
  const LargeLayout l = ReadLargeLayout(sessionID, firstPage);
  auto value = std::make_unique<TABSBlobValue>();
  value->BlockCount = l.blockCount;
  value->UncompressedSize = l.uncompressedSize;
  value->StoredSize = l.storedSize;
  if (l.storedSize > 0) value->StoredData = AllocBlock(static_cast<uint64_t>(l.storedSize));
  const int32_t dataSize = pages_.PageDataSize();
  int64_t done = 0;
  for (size_t i = 0; i < l.dataPages.size() && done < l.storedSize; ++i) {
    PinnedPage p(pages_, pages_.GetPage(sessionID, l.dataPages[i], true, ptTableBlob));
    const int32_t from = i == 0 ? kLargeBlobDataOffset : 0;
    const int64_t n = std::min<int64_t>(dataSize - from, l.storedSize - done);
    std::memcpy(value->StoredData.get() + done, p->DataBuffer() + from, static_cast<size_t>(n));
    done += n;
  }
  return value;
}

std::unique_ptr<TABSBlobValue> TABSDiskBlobManager::LoadSmall(int32_t sessionID, TABSBlobReference ref) {
  PinnedPage page(pages_, pages_.GetPage(sessionID, ref.PageNo, true, ptTableBlob));
  auto value = std::make_unique<TABSBlobValue>();
  TABSSmallBlobPage(*page).Read(ref.BlobID, *value);
  return value;
}

bool TABSDiskBlobManager::LooksLarge(int32_t sessionID, int32_t pageNo) {
  // A large value's size lies between the capacity of its page list less
  // two pages and that capacity.
  PinnedPage page(pages_, pages_.GetPage(sessionID, pageNo, true, ptTableBlob));
  const int64_t stored = GetHeader(page->DataBuffer()).storedSize;
  const int64_t count = GetI32(page->DataBuffer() + kBlobLocatorOffset + 6);
  const int64_t capacity = count * page->DataSize() - kLargeBlobDataOffset;
  return count >= 1 && stored <= capacity && stored >= capacity - 2 * page->DataSize();
}

template <typename Large, typename Small>
auto TABSDiskBlobManager::ByKind(int32_t sessionID, TABSBlobReference ref, Large large, Small small) {
  if (ref.IsLarge()) return large();
  if (ref.BlobID != 255) return small();
  const bool likelyLarge = LooksLarge(sessionID, ref.PageNo);
  try {
    return likelyLarge ? large() : small();
  } catch (const EABSException&) {
    return likelyLarge ? small() : large();
  }
}

std::unique_ptr<TABSBlobValue> TABSDiskBlobManager::LoadValue(int32_t sessionID, TABSBlobReference ref) {
  if (ref.IsNone()) return std::make_unique<TABSBlobValue>();
  return ByKind(
      sessionID, ref, [&] { return LoadLarge(sessionID, ref.PageNo); }, [&] { return LoadSmall(sessionID, ref); });
}

std::vector<int32_t> TABSDiskBlobManager::ValuePages(int32_t sessionID, TABSBlobReference ref, bool& small) {
  small = false;
  if (ref.IsNone()) return {};
  return ByKind(
      sessionID, ref,
      [&] {
        const LargeLayout l = ReadLargeLayout(sessionID, ref.PageNo);
        small = false;
        std::set<int32_t> all(l.dataPages.begin(), l.dataPages.end());
        all.insert(l.listPages.begin(), l.listPages.end());
        return std::vector<int32_t>(all.begin(), all.end());
      },
      [&] {
        LoadSmall(sessionID, ref);  // the entry must be there
        small = true;
        return std::vector<int32_t>{ref.PageNo};
      });
}

void TABSDiskBlobManager::DeleteSmall(int32_t sessionID, TABSBlobReference ref) {
  PinnedPage page(pages_, pages_.GetPage(sessionID, ref.PageNo, true, ptTableBlob));
  TABSSmallBlobPage blobs(*page);
  blobs.Remove(ref.BlobID);
  if (blobs.BlobCount() == 0) {
    pages_.DeletePage(sessionID, ref.PageNo);
    if (index_.UsedSpaceOf(sessionID, ref.PageNo) >= 0) index_.RemovePage(sessionID, ref.PageNo);
  } else {
    index_.SetUsedSpace(sessionID, ref.PageNo, blobs.UsedBytes());
  }
}

void TABSDiskBlobManager::DeleteLarge(int32_t sessionID, int32_t firstPage) {
  const LargeLayout l = ReadLargeLayout(sessionID, firstPage);
  std::set<int32_t> all(l.dataPages.begin(), l.dataPages.end());
  all.insert(l.listPages.begin(), l.listPages.end());
  // Contract 4: the list is stored bytes. A page it names that is no BLOB
  // page (the system directory, a record page of another table, a page past
  // the end) is damage, and then no page of the value is given back.
  for (int32_t p : all)
    if (!pages_.IsPageOf(sessionID, p, ptTableBlob, TABSPageManager::kAnyOwner))
      throw EABSException(20162, "Cannot read BLOB field value");
  for (int32_t p : all) pages_.DeletePage(sessionID, p);
}

void TABSDiskBlobManager::DeleteValue(int32_t sessionID, TABSBlobReference& ref) {
  if (ref.IsNone()) return;
  if (ref.IsLarge()) {
    DeleteLarge(sessionID, ref.PageNo);
  } else if (ref.BlobID != 255) {
    DeleteSmall(sessionID, ref);
  } else {
    const bool large = LooksLarge(sessionID, ref.PageNo);
    try {
      large ? DeleteLarge(sessionID, ref.PageNo) : DeleteSmall(sessionID, ref);
    } catch (const EABSException&) {
      large ? DeleteSmall(sessionID, ref) : DeleteLarge(sessionID, ref.PageNo);
    }
  }
  ref = {-1, -1};
}

// --- record level ------------------------------------------------------------

TABSBlobValue* TABSDiskBlobManager::Cached(uint32_t handle) const {
  if (handle == 0 || handle > cache_.size()) return nullptr;
  return cache_[handle - 1].get();
}

uint32_t TABSDiskBlobManager::Cache(std::unique_ptr<TABSBlobValue> value) {
  for (size_t i = 0; i < cache_.size(); ++i)
    if (!cache_[i]) {
      cache_[i] = std::move(value);
      return static_cast<uint32_t>(i + 1);
    }
  cache_.push_back(std::move(value));
  return static_cast<uint32_t>(cache_.size());
}

void TABSDiskBlobManager::Uncache(uint32_t handle) {
  if (Cached(handle)) cache_[handle - 1].reset();
}

int32_t TABSDiskBlobManager::CachedValueCount() const {
  return static_cast<int32_t>(std::count_if(cache_.begin(), cache_.end(), [](const auto& v) { return v != nullptr; }));
}

TABSBlobValue& TABSDiskBlobManager::RecordValue(int32_t sessionID, const TABSFieldDef& field, char* record) {
  if (TABSBlobValue* v = Cached(GetBlobHandle(field, record))) return *v;
  const TABSBlobReference ref = TABSBlobReference::Read(record + field.MemoryOffset());
  std::unique_ptr<TABSBlobValue> value;
  try {
    value = LoadValue(sessionID, ref);
  } catch (const EABSException& e) {
    // The memory limit and the page layer's own errors say more; 20300 is
    // a page whose DataCRC failed, named by its number.
    if (e.NativeError() == 20162 || e.NativeError() == 20171 || e.NativeError() == 20291) throw;
    if (e.NativeError() == 30004 || e.NativeError() == 20300) throw;
    throw EABSException(20162, "Cannot read BLOB field value");
  }
  const uint32_t handle = Cache(std::move(value));
  SetBlobHandle(field, record, handle);
  return *Cached(handle);
}

void TABSDiskBlobManager::WriteRecordBlobs(int32_t sessionID, const TABSFieldDefs& fields, char* record) {
  for (int i = 0; i < fields.Count(); ++i) {
    const TABSFieldDef& field = *fields[i];
    if (!field.IsBlob()) continue;
    TABSBlobValue* value = Cached(GetBlobHandle(field, record));
    if (!value || !value->Modified) continue;
    char* slot = record + field.MemoryOffset();
    TABSBlobReference ref = TABSBlobReference::Read(slot);
    DeleteValue(sessionID, ref);
    if (value->UncompressedSize > 0) ref = StoreValue(sessionID, *value);
    ref.Write(slot);
    value->Modified = false;
    Uncache(GetBlobHandle(field, record));
    SetBlobHandle(field, record, 0);
  }
}

void TABSDiskBlobManager::DeleteRecordBlobs(int32_t sessionID, const TABSFieldDefs& fields, char* record) {
  for (int i = 0; i < fields.Count(); ++i) {
    const TABSFieldDef& field = *fields[i];
    if (!field.IsBlob()) continue;
    char* slot = record + field.MemoryOffset();
    TABSBlobReference ref = TABSBlobReference::Read(slot);
    DeleteValue(sessionID, ref);
    ref.Write(slot);
  }
}

void TABSDiskBlobManager::FreeRecordValues(const TABSFieldDefs& fields, char* record) {
  for (int i = 0; i < fields.Count(); ++i) {
    const TABSFieldDef& field = *fields[i];
    if (!field.IsBlob()) continue;
    Uncache(GetBlobHandle(field, record));
    SetBlobHandle(field, record, 0);
  }
}

void TABSDiskBlobManager::DeleteAllBlobs(int32_t sessionID, TABSBaseRecordManager& records,
                                         const TABSFieldDefs& fields) {
  std::vector<char> record(static_cast<size_t>(fields.MemoryRecordSize()));
  TABSGetRecordRequest request;
  request.mode = grmNext;
  request.beforeFirst = true;
  request.destination = record.data();
  for (;;) {
    std::fill(record.begin(), record.end(), 0);  // no handles: stored references only
    request.result = grrNotFound;
    records.GetRecord(sessionID, request);
    if (request.result != grrFound) break;
    request.beforeFirst = false;
    DeleteRecordBlobs(sessionID, fields, record.data());
  }
  index_.Clear(sessionID);
}

std::unique_ptr<TABSBlobFieldStream> TABSDiskBlobManager::OpenFieldStream(int32_t sessionID, const TABSFieldDef& field,
                                                                          int fieldNo, char* record,
                                                                          bool temporaryFilesDisabled) {
  if (field.BlobBlockSize() == 0) throw EABSException(20149, "Stream block size = 0 is not allowed");
  TABSBlobValue& value = RecordValue(sessionID, field, record);
  if (value.StoredSize < 0 || value.UncompressedSize < 0 || value.BlockCount < 0)
    throw EABSException(20248, "Invalid blob field size");
  return std::make_unique<TABSBlobFieldStream>(*this, sessionID, field, fieldNo, record, value, temporaryFilesDisabled);
}
