#include "core/TemporaryPageManager.h"

#include <algorithm>
#include <climits>

#include "core/ZUDExcept.h"

TABSTemporaryPageManager::TABSTemporaryPageManager(int64_t memoryShare, bool inMemory, uint16_t pageSize)
    : memory_(pageSize, 0) {
  SetPageGeometry(pageSize, 0);
  limit_ = inMemory ? INT32_MAX : static_cast<int32_t>(std::clamp<int64_t>(memoryShare / pageSize, 1, INT32_MAX));
}

void TABSTemporaryPageManager::AllocPageNo(TABSPage* page) {
  memory_.AllocPageNo(page);
  if (InFile(page->PageNo)) written_.SetGrowing(page->PageNo - limit_, false);
}

void TABSTemporaryPageManager::FreePageNo(int32_t pageNo) {
  memory_.FreePageNo(pageNo);  // 20064 for a page that is not allocated
  if (InFile(pageNo)) written_.SetGrowing(pageNo - limit_, false);
}

bool TABSTemporaryPageManager::ReadPage(TABSPage* page) {
  if (!InFile(page->PageNo)) return memory_.ReadPage(page);
  if (!memory_.IsAllocated(page->PageNo) || page->PageNo - limit_ >= written_.Count() ||
      !written_.Get(page->PageNo - limit_))
    return false;
  if (!page->OwnsBuffer() || page->BufferSize() < PageSize()) page->AllocBuffer();
  file_.Read(FileOffset(page->PageNo), page->Buffer(), PageSize());
  return true;
}

void TABSTemporaryPageManager::WritePage(TABSPage* page) {
  if (!InFile(page->PageNo)) {
    memory_.WritePage(page);
    return;
  }
  if (!memory_.IsAllocated(page->PageNo)) throw EABSException(20064, "Invalid page number");
  file_.Write(FileOffset(page->PageNo), page->Buffer(), PageSize());
  written_.SetGrowing(page->PageNo - limit_, true);
}
