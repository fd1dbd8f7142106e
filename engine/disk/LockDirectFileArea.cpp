#include "disk/LockDirectFileArea.h"

#include <algorithm>

bool TABSDirectFileLockArea::IsRegionLocked(int32_t position, int32_t count) {
  // Only the part inside the file is probed (LockByteArea.h, invariant 1).
  const int64_t from = std::max<int64_t>(position, 0);
  const int64_t to = std::min<int64_t>(static_cast<int64_t>(position) + std::max(count, 0), file_.Size());
  if (from >= to) return false;
  return file_.IsRegionLocked(static_cast<int32_t>(from), static_cast<int32_t>(to - from));
}
