// TABSInternalDBDirectAccessFile: a fixed-size internal file read and
// written straight in the database file (layout in InternalFile.h).
#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "disk/DiskBytes.h"
#include "disk/DiskPageManagerFile.h"
#include "disk/InternalFile.h"
#include "disk/InternalFileChain.h"

using namespace tiv::disk;
using tiv::disk::chain::PagePin;

TABSInternalDBDirectAccessFile::TABSInternalDBDirectAccessFile(TABSDiskPageManager& pm, uint16_t pageType)
    : pm_(pm), pageType_(pageType) {}

void TABSInternalDBDirectAccessFile::CheckOpen(const char* operation) const {
  if (startPageNo_ == -1)
    throw EABSException(20156, "Cannot perform this operation (%s) on closed internal file", {operation});
}

void TABSInternalDBDirectAccessFile::CheckLink(int32_t pageNo) const { chain::CheckLink(pm_, pageNo); }

void TABSInternalDBDirectAccessFile::Create(int32_t size) {
  if (startPageNo_ != -1)
    throw EABSException(20157, "Cannot create Internal file. File already exists. StartPageNo=%d", {startPageNo_});
  if (size < 0) size = 0;
  const int64_t pages = InternalFilePagesFor(size, pm_.PageDataSize());
  std::vector<int32_t> list;
  {
    PagePin first(pm_, pm_.AddPage(TABSPageManager::kSystemSession, pageType_));
    first->EncryptOnWrite = false;
    first->SetNextPageNo(-1);
    uint8_t* data = first->DataBuffer();
    data[kIfhHeaderSize] = kInternalFileHeaderSize;
    PutI32(data + kIfhStoredSize, size);
    PutI32(data + kIfhDataSize, 0);
    data[kIfhAlgorithm] = 0;
    list.push_back(first->PageNo);
    TABSPage* prev = first.Get();
    std::unique_ptr<PagePin> prevPin;  // pins of pages after the first
    for (int64_t i = 1; i < pages; ++i) {
      auto next = std::make_unique<PagePin>(pm_, pm_.AddPage(TABSPageManager::kSystemSession, pageType_));
      (*next)->EncryptOnWrite = false;
      (*next)->SetNextPageNo(-1);
      prev->SetNextPageNo((*next)->PageNo);
      list.push_back((*next)->PageNo);
      prev = next->Get();
      prevPin = std::move(next);  // the page before is released here
    }
  }
  startPageNo_ = list.front();
  size_ = size;
  pageList_ = std::move(list);
}

int32_t TABSInternalDBDirectAccessFile::ReadNextPageNo(int32_t pageNo, uint16_t& pageType) {
  uint8_t header[kPageHeaderSize];
  pm_.ReadPageBytes(header, pageNo, kPageHeaderSize, 0);
  pageType = GetU16(header + kPgType);
  return GetI32(header + kPgNextPageNo);
}

int32_t TABSInternalDBDirectAccessFile::GetSize() {
  CheckOpen("GetSize");
  uint8_t header[kInternalFileHeaderSize];
  pm_.ReadPageBytes(header, startPageNo_, kInternalFileHeaderSize, kPageHeaderSize);
  return GetI32(header + kIfhStoredSize);
}

void TABSInternalDBDirectAccessFile::Open(int32_t startPageNo) {
  CheckLink(startPageNo);
  uint8_t header[kInternalFileHeaderSize];
  pm_.ReadPageBytes(header, startPageNo, kInternalFileHeaderSize, kPageHeaderSize);
  const int32_t size = GetI32(header + kIfhStoredSize);
  const int64_t expected = InternalFilePagesFor(size, pm_.PageDataSize());
  if (header[kIfhHeaderSize] != kInternalFileHeaderSize || size < 0 || !chain::PageAreaHolds(pm_, expected))
    throw EABSException(20300, "Error getting %d-th table file page. Probably database is corrupted and needs repair.",
                        {0});
  std::vector<int32_t> list;
  std::unordered_set<int32_t> seen;
  int32_t pageNo = startPageNo;
  for (int64_t i = 0; i < expected; ++i) {
    chain::CheckLink(pm_, pageNo, &seen);
    uint16_t type = 0;
    const int32_t next = ReadNextPageNo(pageNo, type);
    if (type != pageType_)
      throw EABSException(20155, "Invalid PageType found: %d but expecting: %d",
                          {static_cast<int>(type), static_cast<int>(pageType_)});
    list.push_back(pageNo);
    // A size fixed at creation that the chain cannot hold is damage: taking
    // it for a smaller file would offer fewer connection slots or lock bytes
    // than the other processes use.
    if (i + 1 < expected && next == -1)
      throw EABSException(20299, "Error reading database file page. Page No: %d, type %d",
                          {startPageNo, static_cast<int>(pageType_)});
    pageNo = next;
  }
  startPageNo_ = startPageNo;
  size_ = size;
  pageList_ = std::move(list);
}

void TABSInternalDBDirectAccessFile::Close() {
  startPageNo_ = -1;
  size_ = 0;
  pageList_.clear();
}

void TABSInternalDBDirectAccessFile::Delete(int32_t startPageNo) {
  std::vector<int32_t> pages;
  const bool own = startPageNo == -1 || startPageNo == startPageNo_;
  if (own) {
    CheckOpen("Delete");
    pages = pageList_;
  } else {
    std::unordered_set<int32_t> seen;
    for (int32_t pageNo = startPageNo; pageNo != -1;) {
      chain::CheckLink(pm_, pageNo, &seen);
      uint16_t type = 0;
      const int32_t next = ReadNextPageNo(pageNo, type);
      if (type != pageType_)
        throw EABSException(20155, "Invalid PageType found: %d but expecting: %d",
                            {static_cast<int>(type), static_cast<int>(pageType_)});
      pages.push_back(pageNo);
      pageNo = next;
    }
  }
  for (int32_t pageNo : pages) pm_.DeletePage(TABSPageManager::kSystemSession, pageNo);
  if (own) Close();
}

void TABSInternalDBDirectAccessFile::CheckPosition(int64_t end) const {
  if (end < 0 || end > size_)
    throw EABSException(20159, "Seek position bigger then file size. FileSize=%d. Position=%d", {size_, end});
}

void TABSInternalDBDirectAccessFile::Locate(int32_t position, int32_t& pageNo, int32_t& pageOffset) const {
  const int64_t at = static_cast<int64_t>(position) + kInternalFileHeaderSize;
  const int64_t index = at / pm_.PageDataSize();
  if (position < 0 || position >= size_ || index >= static_cast<int64_t>(pageList_.size()))
    throw EABSException(20159, "Seek position bigger then file size. FileSize=%d. Position=%d", {size_, position});
  pageNo = pageList_[static_cast<size_t>(index)];
  pageOffset = kPageHeaderSize + static_cast<int32_t>(at % pm_.PageDataSize());
}

void TABSInternalDBDirectAccessFile::DirectReadBuffer(void* buffer, int32_t count, int32_t position) {
  CheckOpen("DirectReadBuffer");
  CheckPosition(position);
  if (count <= 0) return;
  CheckPosition(static_cast<int64_t>(position) + count);
  uint8_t* out = static_cast<uint8_t*>(buffer);
  int32_t done = 0;
  while (done < count) {
    int32_t pageNo = 0, offset = 0;
    Locate(position + done, pageNo, offset);
    const int32_t n = std::min(count - done, static_cast<int32_t>(pm_.PageSize()) - offset);
    pm_.ReadPageBytes(out + done, pageNo, n, offset);
    done += n;
  }
}

void TABSInternalDBDirectAccessFile::DirectWriteBuffer(const void* buffer, int32_t count, int32_t position) {
  CheckOpen("DirectWriteBuffer");
  if (count <= 0) return;
  if (position < 0 || static_cast<int64_t>(position) + count > size_)
    throw EABSException(20158, "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d",
                        {size_, position, count});
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  int32_t done = 0;
  while (done < count) {
    int32_t pageNo = 0, offset = 0;
    Locate(position + done, pageNo, offset);
    const int32_t n = std::min(count - done, static_cast<int32_t>(pm_.PageSize()) - offset);
    pm_.WritePageBytes(in + done, pageNo, n, offset);
    done += n;
  }
}

bool TABSInternalDBDirectAccessFile::LockFile() {
  CheckOpen("LockFile");
  return pm_.LockPageByte(startPageNo_, 0);
}

bool TABSInternalDBDirectAccessFile::UnlockFile() {
  CheckOpen("UnlockFile");
  return pm_.UnlockPageByte(startPageNo_, 0);
}

bool TABSInternalDBDirectAccessFile::LockByte(int32_t position) {
  CheckOpen("LockByte");
  int32_t pageNo = 0, offset = 0;
  Locate(position, pageNo, offset);
  return pm_.LockPageByte(pageNo, offset);
}

bool TABSInternalDBDirectAccessFile::UnlockByte(int32_t position) {
  CheckOpen("UnlockByte");
  int32_t pageNo = 0, offset = 0;
  Locate(position, pageNo, offset);
  return pm_.UnlockPageByte(pageNo, offset);
}

bool TABSInternalDBDirectAccessFile::IsByteLocked(int32_t position) {
  CheckOpen("IsByteLocked");
  int32_t pageNo = 0, offset = 0;
  Locate(position, pageNo, offset);
  return pm_.IsPageByteLocked(pageNo, offset);
}

bool TABSInternalDBDirectAccessFile::IsRegionLocked(int32_t position, int32_t count) {
  CheckOpen("IsRegionLocked");
  if (count <= 0) return false;
  int32_t done = 0;
  while (done < count) {
    int32_t pageNo = 0, offset = 0;
    Locate(position + done, pageNo, offset);
    const int32_t n = std::min(count - done, static_cast<int32_t>(pm_.PageSize()) - offset);
    if (pm_.IsPageRegionLocked(pageNo, offset, n)) return true;
    done += n;
  }
  return false;
}
