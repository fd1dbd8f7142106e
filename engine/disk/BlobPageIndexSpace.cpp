#include "disk/BlobPageIndexSpace.h"

#include <stdexcept>

// A page keeps its place in the cache while it could still take the smallest
// entry, a header and one byte.
TABSBTreeBlobPageSpace::TABSBTreeBlobPageSpace(TABSPageManager& pm)
    : pm_(pm), index_(&pm), room_(TABSPageRoomCache::kFullestFit, pm.PageDataSize() - 3 - (kBlobHeaderSize + 1)) {}

int32_t TABSBTreeBlobPageSpace::FindPageWithRoom(int32_t sessionID, int32_t size) {
  // Room (ABSBTreePageIndex.h contract 4): used + size < D - 2.
  return room_.Find(sessionID, index_, pm_.PageDataSize() - 3 - size);
}
int32_t TABSBTreeBlobPageSpace::UsedSpaceOf(int32_t sessionID, int32_t pageNo) {
  TABSBTreePath path;
  return index_.Find(sessionID, pageNo, path) ? index_.ValueAt(sessionID, path) : -1;
}

void TABSBTreeBlobPageSpace::SetUsedSpace(int32_t sessionID, int32_t pageNo, int32_t used) {
  if (used < 0 || used > 0xFFFF) throw std::logic_error("BLOB page bytes in use outside 0..65535");
  TABSBTreePath path;
  if (index_.Find(sessionID, pageNo, path))
    index_.Update(sessionID, pageNo, static_cast<uint16_t>(used));
  else
    index_.Insert(sessionID, pageNo, static_cast<uint16_t>(used));
  room_.Note(pageNo, used);
}

void TABSBTreeBlobPageSpace::RemovePage(int32_t sessionID, int32_t pageNo) {
  index_.Delete(sessionID, pageNo);
  room_.Forget(pageNo);
}

void TABSBTreeBlobPageSpace::Clear(int32_t sessionID) {
  index_.Empty(sessionID);
  room_.Clear();
}
