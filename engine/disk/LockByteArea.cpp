#include "disk/LockByteArea.h"

#include <algorithm>

#include "disk/DiskPageManagerFile.h"

using namespace tiv::disk;

namespace {
// Bytes of the internal-file header in front of the contents.
constexpr int32_t kInternalFileHeaderSize = 10;
// The file lock: first byte of the first page (its page header).
constexpr int32_t kFileLockOffset = 0;
}  // namespace

int32_t TABSPageLockByteArea::PagesFor(int32_t size, int32_t pageSize) {
  const int64_t d = pageSize - kPageHeaderSize;
  if (d <= 0) return 0;
  return static_cast<int32_t>((std::max<int64_t>(size, 0) + kInternalFileHeaderSize + d - 1) / d);
}

TABSPageLockByteArea::TABSPageLockByteArea(TABSDiskPageManager& pageManager, std::vector<int32_t> pages, int32_t size)
    : pm_(pageManager), pages_(std::move(pages)), size_(std::max(size, 0)), pageSize_(pageManager.PageSize()) {
  // A chain shorter than its size claims: only what the pages hold is usable.
  const int64_t d = pageSize_ - kPageHeaderSize;
  const int64_t room = static_cast<int64_t>(pages_.size()) * d - kInternalFileHeaderSize;
  if (room < size_) size_ = static_cast<int32_t>(std::max<int64_t>(room, 0));
}

TABSPageLockByteArea::Location TABSPageLockByteArea::Locate(int32_t position) const {
  const int64_t d = pageSize_ - kPageHeaderSize;
  const int64_t at = static_cast<int64_t>(position) + kInternalFileHeaderSize;
  const int32_t inData = static_cast<int32_t>(at % d);
  return {pages_[static_cast<size_t>(at / d)], kPageHeaderSize + inData, static_cast<int32_t>(d) - inData};
}

bool TABSPageLockByteArea::LockFile() { return !pages_.empty() && pm_.LockPageByte(pages_.front(), kFileLockOffset); }

bool TABSPageLockByteArea::UnlockFile() {
  return !pages_.empty() && pm_.UnlockPageByte(pages_.front(), kFileLockOffset);
}

bool TABSPageLockByteArea::LockByte(int32_t position) {
  if (position < 0 || position >= size_) return false;
  const Location at = Locate(position);
  return pm_.LockPageByte(at.pageNo, at.offset);
}

bool TABSPageLockByteArea::UnlockByte(int32_t position) {
  if (position < 0 || position >= size_) return false;
  const Location at = Locate(position);
  return pm_.UnlockPageByte(at.pageNo, at.offset);
}

bool TABSPageLockByteArea::IsByteLocked(int32_t position) {
  if (position < 0 || position >= size_) return false;
  const Location at = Locate(position);
  return pm_.IsPageByteLocked(at.pageNo, at.offset);
}

bool TABSPageLockByteArea::IsRegionLocked(int32_t position, int32_t count) {
  int64_t from = std::max<int64_t>(position, 0);
  const int64_t to = std::min<int64_t>(static_cast<int64_t>(position) + std::max(count, 0), size_);
  // One probe per page: a range never crosses a page in the file.
  while (from < to) {
    const Location at = Locate(static_cast<int32_t>(from));
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(to - from, at.room));
    if (pm_.IsPageRegionLocked(at.pageNo, at.offset, n)) return true;
    from += n;
  }
  return false;
}

void TABSPageLockByteArea::DirectReadBuffer(void* buffer, int32_t count, int32_t position) {
  if (count <= 0) return;
  if (position < 0 || static_cast<int64_t>(position) + count > size_)
    throw EABSException(20159, "Seek position bigger then file size. FileSize=%d. Position=%d",
                        {size_, static_cast<int64_t>(position) + count});
  auto* out = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const Location at = Locate(position);
    const int32_t n = std::min(count, at.room);
    pm_.ReadPageBytes(out, at.pageNo, n, at.offset);
    out += n;
    position += n;
    count -= n;
  }
}

void TABSPageLockByteArea::DirectWriteBuffer(const void* buffer, int32_t count, int32_t position) {
  if (count <= 0) return;
  if (position < 0 || static_cast<int64_t>(position) + count > size_)
    throw EABSException(20158, "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d",
                        {size_, position, count});
  const auto* in = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const Location at = Locate(position);
    const int32_t n = std::min(count, at.room);
    pm_.WritePageBytes(in, at.pageNo, n, at.offset);
    in += n;
    position += n;
    count -= n;
  }
}
