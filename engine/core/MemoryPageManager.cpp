#include "core/MemoryPageManager.h"

#include <cstring>
#include <stdexcept>

#include "core/ZUDExcept.h"

TABSMemoryPageManager::TABSMemoryPageManager(uint16_t pageSize, uint16_t headerSize) {
  if (headerSize != 0 && headerSize != tiv::page::kPageHeaderSize)
    throw std::invalid_argument("TABSMemoryPageManager: a page header is 0 or 40 bytes");
  if (pageSize <= headerSize) throw std::invalid_argument("TABSMemoryPageManager: a page needs a data area");
  SetPageGeometry(pageSize, headerSize);
}

bool TABSMemoryPageManager::IsAllocated(int32_t pageNo) const {
  return pageNo >= 0 && pageNo < Capacity() && allocated_[static_cast<size_t>(pageNo)];
}

int32_t TABSMemoryPageManager::GetPageCount() { return highestPageNo_ + 1; }

void TABSMemoryPageManager::AllocPageNo(TABSPage* page) {
  int32_t pageNo = 0;
  while (pageNo < Capacity() && allocated_[static_cast<size_t>(pageNo)]) ++pageNo;
  if (pageNo == Capacity()) {
    const size_t grown = allocated_.size() + kGrowthPages;
    allocated_.resize(grown, false);
    images_.resize(grown);
  }
  allocated_[static_cast<size_t>(pageNo)] = true;
  ++allocatedCount_;
  if (pageNo > highestPageNo_) highestPageNo_ = pageNo;
  page->PageNo = pageNo;
  page->AllocBuffer();
}

void TABSMemoryPageManager::FreePageNo(int32_t pageNo) {
  if (!IsAllocated(pageNo)) throw EABSException(20064, "Invalid page number");
  allocated_[static_cast<size_t>(pageNo)] = false;
  std::vector<uint8_t>().swap(images_[static_cast<size_t>(pageNo)]);
  --allocatedCount_;
  while (highestPageNo_ >= 0 && !allocated_[static_cast<size_t>(highestPageNo_)]) --highestPageNo_;
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
