#include "disk/BlobPageIndexSpace.h"

#include <stdexcept>

int32_t TABSBTreeBlobPageSpace::FindPageWithRoom(int32_t sessionID, int32_t size) {
  TABSBTreePath path;
  if (roomHint_ != -1 && index_.Find(sessionID, roomHint_, path) &&
      index_.HasRoom(index_.ValueAt(sessionID, path), size))
    return roomHint_;
  for (bool more = index_.First(sessionID, path); more; more = index_.Next(sessionID, path))
    if (index_.HasRoom(index_.ValueAt(sessionID, path), size)) return roomHint_ = index_.KeyAt(sessionID, path);
  return -1;
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
  roomHint_ = pageNo;
}

void TABSBTreeBlobPageSpace::RemovePage(int32_t sessionID, int32_t pageNo) {
  index_.Delete(sessionID, pageNo);
  if (roomHint_ == pageNo) roomHint_ = -1;
}

void TABSBTreeBlobPageSpace::Clear(int32_t sessionID) {
  index_.Empty(sessionID);
  roomHint_ = -1;
}
