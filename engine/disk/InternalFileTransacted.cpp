// TABSInternalDBTransactedAccessFile: an internal file read and written
// through the page cache inside a session (layout in InternalFile.h).
#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "disk/DiskBytes.h"
#include "disk/DiskPageManagerFile.h"
#include "disk/InternalFile.h"
#include "disk/InternalFileChain.h"
#include "disk/ZUDCompression.h"

using namespace tiv::disk;
using tiv::disk::chain::CheckLink;
using tiv::disk::chain::PagePin;

int64_t InternalFilePagesFor(int64_t storedSize, int32_t dataSize) {
  if (dataSize <= 0) return 0;
  return (storedSize + kInternalFileHeaderSize + dataSize - 1) / dataSize;
}

TABSInternalDBTransactedAccessFile::TABSInternalDBTransactedAccessFile(TABSDiskPageManager& pm, uint16_t pageType)
    : pm_(pm), pageType_(pageType) {}

void TABSInternalDBTransactedAccessFile::CheckOpen(const char* operation) const {
  if (startPageNo_ == -1)
    throw EABSException(30389, "Cannot perform this operation (%s) on closed internal file", {operation});
}

void TABSInternalDBTransactedAccessFile::CheckLink(int32_t pageNo) const { chain::CheckLink(pm_, pageNo); }

void TABSInternalDBTransactedAccessFile::Create(int32_t sessionID) {
  if (startPageNo_ != -1)
    throw EABSException(30383, "Cannot create Internal file. File already exists. StartPageNo=%d", {startPageNo_});
  PagePin page(pm_, pm_.AddPage(sessionID, pageType_));
  uint8_t* data = page->DataBuffer();
  data[kIfhHeaderSize] = kInternalFileHeaderSize;
  PutI32(data + kIfhStoredSize, 0);
  PutI32(data + kIfhDataSize, 0);
  data[kIfhAlgorithm] = acaNone;
  page->SetNextPageNo(-1);
  startPageNo_ = page->PageNo;
}

void TABSInternalDBTransactedAccessFile::Delete(int32_t sessionID, int32_t startPageNo) {
  const bool own = startPageNo == -1 || startPageNo == startPageNo_;
  if (startPageNo == -1) {
    CheckOpen("Delete");
    startPageNo = startPageNo_;
  }
  // The whole chain is read first: nothing is marked deleted when a link
  // turns out to be damaged halfway.
  std::unordered_set<int32_t> seen;
  std::vector<int32_t> pages;
  for (int32_t pageNo = startPageNo; pageNo != -1;) {
    chain::CheckLink(pm_, pageNo, &seen);
    PagePin page(pm_, pm_.GetPage(sessionID, pageNo, true, pageType_));
    pages.push_back(pageNo);
    pageNo = page->NextPageNo();
  }
  for (int32_t pageNo : pages) pm_.DeletePage(sessionID, pageNo);
  if (own) startPageNo_ = -1;
}

TABSInternalFileSize TABSInternalDBTransactedAccessFile::GetSize(int32_t sessionID, bool checkCache) {
  CheckOpen("GetSize");
  CheckLink(startPageNo_);
  PagePin page(pm_, pm_.GetPage(sessionID, startPageNo_, checkCache, pageType_));
  const uint8_t* data = page->DataBuffer();
  TABSInternalFileSize s;
  s.StoredSize = GetI32(data + kIfhStoredSize);
  s.DataSize = GetI32(data + kIfhDataSize);
  s.CompressionAlgorithm = data[kIfhAlgorithm];
  s.Reread = page->Reread;
  const bool headerOk = data[kIfhHeaderSize] == kInternalFileHeaderSize && s.StoredSize >= 0 && s.DataSize >= 0 &&
                        s.CompressionAlgorithm <= acaPPM &&
                        (s.CompressionAlgorithm != acaNone || s.DataSize == s.StoredSize);
  if (!headerOk)
    throw EABSException(20300, "Error getting %d-th table file page. Probably database is corrupted and needs repair.",
                        {0});
  const int64_t pages = InternalFilePagesFor(s.StoredSize, pm_.PageDataSize());
  if (!chain::PageAreaHolds(pm_, pages))
    throw EABSException(20300, "Error getting %d-th table file page. Probably database is corrupted and needs repair.",
                        {pages - 1});
  return s;
}

int32_t TABSInternalDBTransactedAccessFile::PageAt(int32_t sessionID, int32_t index) {
  CheckOpen("PageAt");
  int32_t pageNo = startPageNo_;
  std::unordered_set<int32_t> seen;
  for (int32_t i = 0; i < index; ++i) {
    chain::CheckLink(pm_, pageNo, &seen);
    PagePin page(pm_, pm_.GetPage(sessionID, pageNo, true, pageType_));
    pageNo = page->NextPageNo();
    if (pageNo == -1)
      throw EABSException(
          20300, "Error getting %d-th table file page. Probably database is corrupted and needs repair.", {i + 1});
  }
  return pageNo;
}

std::vector<int32_t> TABSInternalDBTransactedAccessFile::ChainPages(int32_t sessionID) {
  CheckOpen("ChainPages");
  std::vector<int32_t> pages;
  std::unordered_set<int32_t> seen;
  for (int32_t pageNo = startPageNo_; pageNo != -1;) {
    chain::CheckLink(pm_, pageNo, &seen);
    PagePin page(pm_, pm_.GetPage(sessionID, pageNo, true, pageType_));
    pages.push_back(pageNo);
    pageNo = page->NextPageNo();
  }
  return pages;
}

void TABSInternalDBTransactedAccessFile::SetSize(int32_t sessionID, int32_t storedSize, uint8_t algorithm,
                                                 int32_t dataSize) {
  CheckOpen("SetSize");
  const int64_t newPages = InternalFilePagesFor(std::max(storedSize, 0), pm_.PageDataSize());
  CheckLink(startPageNo_);
  // Walk the chain as far as the new size needs, reusing linked pages and
  // adding pages where the chain ends; then cut whatever lies beyond
  // (contract 4). Each page is released before the next is fetched, so a
  // long chain pins one page at a time.
  std::unordered_set<int32_t> seen{startPageNo_};
  int32_t pageNo = startPageNo_;
  for (int64_t i = 1; i < newPages; ++i) {
    PagePin page(pm_, pm_.GetPage(sessionID, pageNo, true, pageType_));
    int32_t next = page->NextPageNo();
    if (next == -1) {
      PagePin added(pm_, pm_.AddPage(sessionID, pageType_));
      added->SetNextPageNo(-1);
      next = added->PageNo;
      seen.insert(next);
      page->SetNextPageNo(next);
      page->IsDirty = true;
    } else {
      chain::CheckLink(pm_, next, &seen);
    }
    pageNo = next;
  }
  // pageNo is now the last page the file needs; what follows it goes back.
  std::vector<int32_t> cut;
  {
    PagePin last(pm_, pm_.GetPage(sessionID, pageNo, true, pageType_));
    for (int32_t next = last->NextPageNo(); next != -1;) {
      chain::CheckLink(pm_, next, &seen);
      PagePin page(pm_, pm_.GetPage(sessionID, next, true, pageType_));
      cut.push_back(next);
      next = page->NextPageNo();
    }
    if (!cut.empty()) {
      last->SetNextPageNo(-1);
      last->IsDirty = true;
    }
  }
  for (int32_t p : cut) pm_.DeletePage(sessionID, p);
  PagePin first(pm_, pm_.GetPage(sessionID, startPageNo_, true, pageType_));
  uint8_t* data = first->DataBuffer();
  data[kIfhHeaderSize] = kInternalFileHeaderSize;
  PutI32(data + kIfhStoredSize, storedSize);
  PutI32(data + kIfhDataSize, dataSize);
  data[kIfhAlgorithm] = algorithm;
  first->IsDirty = true;
}

int64_t TABSInternalDBTransactedAccessFile::TransferChain(int32_t sessionID, uint8_t* bytes, int64_t count,
                                                          bool checkCache, bool write) {
  const int32_t d = pm_.PageDataSize();
  int64_t done = 0;
  int32_t offset = kInternalFileHeaderSize;
  int32_t pageNo = startPageNo_;
  std::unordered_set<int32_t> seen;
  while (done < count) {
    chain::CheckLink(pm_, pageNo, &seen);
    PagePin page(pm_, pm_.GetPage(sessionID, pageNo, write || checkCache, pageType_));
    const int64_t n = std::min<int64_t>(count - done, d - offset);
    if (write) {
      std::memcpy(page->DataBuffer() + offset, bytes + done, static_cast<size_t>(n));
      page->IsDirty = true;
    } else {
      std::memcpy(bytes + done, page->DataBuffer() + offset, static_cast<size_t>(n));
    }
    done += n;
    offset = 0;
    pageNo = page->NextPageNo();
    if (pageNo == -1) break;
  }
  return done;
}

void TABSInternalDBTransactedAccessFile::WriteFile(int32_t sessionID, const void* buffer, uint8_t level,
                                                   uint8_t algorithm, int32_t count) {
  CheckOpen("WriteFile");
  if (count < 0) count = 0;
  // Nothing to compress: an empty file is stored plain.
  if (count == 0) algorithm = acaNone;
  TABSMemBlock packed;
  int64_t storedSize = count;
  const uint8_t* stored = static_cast<const uint8_t*>(buffer);
  if (algorithm != acaNone) {
    if (!CompressBuffer(algorithm, level, buffer, count, packed, storedSize) || storedSize > INT32_MAX)
      throw EABSException(20187, "Table file compression error");
    stored = reinterpret_cast<const uint8_t*>(packed.get());
  }
  SetSize(sessionID, static_cast<int32_t>(storedSize), algorithm, count);
  if (TransferChain(sessionID, const_cast<uint8_t*>(stored), storedSize, true, true) < storedSize)
    throw EABSException(20300, "Error getting %d-th table file page. Probably database is corrupted and needs repair.",
                        {InternalFilePagesFor(storedSize, pm_.PageDataSize()) - 1});
}

std::string TABSInternalDBTransactedAccessFile::ReadContents(int32_t sessionID, bool checkCache) {
  CheckOpen("ReadContents");
  const TABSInternalFileSize s = GetSize(sessionID, checkCache);
  if (s.DataSize == 0) return {};
  std::string stored;
  const int32_t d = pm_.PageDataSize();
  int32_t offset = kInternalFileHeaderSize;
  std::unordered_set<int32_t> seen;
  for (int32_t pageNo = startPageNo_; static_cast<int64_t>(stored.size()) < s.StoredSize && pageNo != -1;) {
    chain::CheckLink(pm_, pageNo, &seen);
    PagePin page(pm_, pm_.GetPage(sessionID, pageNo, checkCache, pageType_));
    const int64_t n = std::min<int64_t>(s.StoredSize - static_cast<int64_t>(stored.size()), d - offset);
    stored.append(reinterpret_cast<const char*>(page->DataBuffer()) + offset, static_cast<size_t>(n));
    offset = 0;
    pageNo = page->NextPageNo();
  }
  if (static_cast<int64_t>(stored.size()) < s.StoredSize)
    throw EABSException(30388, "Cannot Read % bytes from internal file. FileSize=%d. ReadSize=%d, Count=%d",
                        {s.DataSize, static_cast<int64_t>(stored.size()), s.StoredSize});
  if (s.CompressionAlgorithm == acaNone) return stored;
  // The codec starts from what the stored bytes plausibly give and grows
  // as they really decompress, up to DataSize.
  int64_t plainSize = std::min<int64_t>(s.DataSize, 4 * s.StoredSize + 4096);
  TABSMemBlock plain;
  if (s.StoredSize == 0 ||
      !DecompressBuffer(s.CompressionAlgorithm, stored.data(), s.StoredSize, plainSize, plain, s.DataSize) ||
      plainSize != s.DataSize)
    throw EABSException(20189, "Table file decompression error. Possible table corruption");
  return std::string(plain.get(), static_cast<size_t>(plainSize));
}

void TABSInternalDBTransactedAccessFile::ReadFile(int32_t sessionID, void* buffer, bool checkCache, int32_t count) {
  CheckOpen("ReadFile");
  const TABSInternalFileSize s = GetSize(sessionID, checkCache);
  if (s.DataSize < count)
    throw EABSException(30387, "Cannot Read internal file. FileSize=%d. ReadSize=%d", {s.DataSize, count});
  if (count <= 0) return;
  const bool compressed = s.CompressionAlgorithm != acaNone;
  TABSMemBlock packed;
  uint8_t* target = static_cast<uint8_t*>(buffer);
  const int64_t want = compressed ? s.StoredSize : count;
  if (compressed) {
    packed = AllocBlock(static_cast<uint64_t>(std::max<int64_t>(want, 1)));
    target = reinterpret_cast<uint8_t*>(packed.get());
  }
  const int64_t found = TransferChain(sessionID, target, want, checkCache, false);
  if (found < want)
    throw EABSException(30388, "Cannot Read % bytes from internal file. FileSize=%d. ReadSize=%d, Count=%d",
                        {s.DataSize, found, want});
  if (!compressed) return;
  TABSMemBlock plain;
  int64_t plainSize = s.DataSize;
  if (!DecompressBuffer(s.CompressionAlgorithm, packed.get(), s.StoredSize, plainSize, plain, s.DataSize) ||
      plainSize != s.DataSize)
    throw EABSException(20189, "Table file decompression error. Possible table corruption");
  std::memcpy(buffer, plain.get(), static_cast<size_t>(count));
}
