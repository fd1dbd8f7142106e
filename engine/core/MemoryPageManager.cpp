#include "core/MemoryPageManager.h"

#include <cstring>
#include <stdexcept>

#include "core/ZUDBytes.h"
#include "core/ZUDExcept.h"
#include "core/ZUDStream.h"

TABSMemoryPageManager::TABSMemoryPageManager(uint16_t pageSize, uint16_t headerSize) {
  if (headerSize != 0 && headerSize != tiv::page::kPageHeaderSize)
    throw std::invalid_argument("TABSMemoryPageManager: a page header is 0 or 40 bytes");
  if (pageSize <= headerSize) throw std::invalid_argument("TABSMemoryPageManager: a page needs a data area");
  SetPageGeometry(pageSize, headerSize);
}

bool TABSMemoryPageManager::IsAllocated(int32_t pageNo) const {
  return pageNo >= 0 && pageNo < Capacity() && allocated_.Get(pageNo);
}

int32_t TABSMemoryPageManager::GetPageCount() { return highestPageNo_ + 1; }

void TABSMemoryPageManager::AllocPageNo(TABSPage* page) {
  int32_t pageNo = static_cast<int32_t>(allocated_.FindFirst(false));
  if (pageNo < 0) {
    pageNo = Capacity();
    allocated_.Resize(int64_t{Capacity()} + kGrowthPages);
    images_.resize(static_cast<size_t>(Capacity()));
  }
  allocated_.Set(pageNo, true);
  if (pageNo > highestPageNo_) highestPageNo_ = pageNo;
  page->PageNo = pageNo;
  page->AllocBuffer();
}

void TABSMemoryPageManager::FreePageNo(int32_t pageNo) {
  if (!IsAllocated(pageNo)) throw EABSException(20064, "Invalid page number");
  allocated_.Set(pageNo, false);
  std::vector<uint8_t>().swap(images_[static_cast<size_t>(pageNo)]);
  if (pageNo == highestPageNo_) highestPageNo_ = static_cast<int32_t>(allocated_.PriorSetBit(pageNo));
}

bool TABSMemoryPageManager::ReadPage(TABSPage* page) {
  if (!IsAllocated(page->PageNo)) return false;
  const std::vector<uint8_t>& image = images_[static_cast<size_t>(page->PageNo)];
  if (image.empty()) return false;
  if (!page->OwnsBuffer() || page->BufferSize() < PageSize()) page->AllocBuffer();
  std::memcpy(page->Buffer(), image.data(), PageSize());
  return true;
}

void TABSMemoryPageManager::WritePage(TABSPage* page) {
  if (!IsAllocated(page->PageNo)) throw EABSException(20064, "Invalid page number");
  images_[static_cast<size_t>(page->PageNo)].assign(page->Buffer(), page->Buffer() + PageSize());
}

uint8_t* TABSMemoryPageManager::StoredPage(int32_t pageNo) {
  if (!IsAllocated(pageNo) || images_[static_cast<size_t>(pageNo)].empty()) return nullptr;
  return images_[static_cast<size_t>(pageNo)].data();
}

uint8_t* TABSMemoryPageManager::StoredArea(int32_t pageNo) {
  uint8_t* image = StoredPage(pageNo);
  return image ? image + PageHeaderSize() : nullptr;
}

// ---- stream form (contract 4) -------------------------------------------------

namespace {

constexpr int kStreamHeaderSize = 20;
constexpr int32_t kShortWrite = 10149, kShortRead = 10159;

}  // namespace

void TABSMemoryPageManager::SaveToStream(TABSStream& stream) {
  uint8_t header[kStreamHeaderSize];
  zud::PutI32(header + 0, Capacity());
  zud::PutI32(header + 4, highestPageNo_);
  zud::PutI32(header + 8, kGrowthPages);
  zud::PutU16(header + 12, PageSize());
  zud::PutU16(header + 14, 0);
  zud::PutI32(header + 16, AllocatedPageCount());
  WriteStreamExact(stream, header, kStreamHeaderSize, kShortWrite);
  allocated_.SaveToStream(stream);
  const std::vector<uint8_t> zeros(PageSize(), 0);
  for (const std::vector<uint8_t>& image : images_)
    WriteStreamExact(stream, image.empty() ? zeros.data() : image.data(), PageSize(), kShortWrite);
}

void TABSMemoryPageManager::LoadFromStream(TABSStream& stream) {
  uint8_t header[kStreamHeaderSize];
  ReadStreamExact(stream, header, kStreamHeaderSize, kShortRead);
  const int32_t capacity = zud::GetI32(header + 0);
  const int32_t highest = zud::GetI32(header + 4);
  const uint16_t pageSize = zud::GetU16(header + 12);
  const int32_t allocatedCount = zud::GetI32(header + 16);
  auto refuse = [](int64_t found, int64_t expected) -> void {
    throw EABSException(10093, "Invalid stream size = %d. Should be = %d", {found, expected});
  };
  if (pageSize != PageSize()) refuse(pageSize, PageSize());
  if (zud::GetU16(header + 14) != 0) refuse(zud::GetU16(header + 14), 0);
  if (capacity < 0) refuse(capacity, 0);
  TABSBitsArray allocated;
  allocated.LoadFromStream(stream);
  if (allocated.Count() != capacity) refuse(allocated.Count(), capacity);
  if (allocated.SetCount() != allocatedCount) refuse(allocatedCount, allocated.SetCount());
  if (highest != allocated.PriorSetBit(capacity)) refuse(highest, allocated.PriorSetBit(capacity));
  // The pages: the stream must hold all of them before any memory is taken
  // for them, so a hostile capacity cannot make us allocate gigabytes.
  const int64_t pagesBytes = int64_t{capacity} * PageSize();
  if (stream.Size() - stream.Position() < pagesBytes) refuse(stream.Size() - stream.Position(), pagesBytes);
  std::vector<std::vector<uint8_t>> images(static_cast<size_t>(capacity));
  std::vector<uint8_t> image(PageSize());
  for (int32_t pageNo = 0; pageNo < capacity; ++pageNo) {
    ReadStreamExact(stream, image.data(), PageSize(), kShortRead);
    if (allocated.Get(pageNo)) images[static_cast<size_t>(pageNo)] = image;
  }
  FreeAllPages();  // 20097 while a session holds changes; drops the cache
  images_ = std::move(images);
  allocated_ = std::move(allocated);
  highestPageNo_ = highest;
}
