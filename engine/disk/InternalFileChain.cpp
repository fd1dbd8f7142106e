#include "disk/InternalFileChain.h"

#include "core/ZUDExcept.h"

namespace tiv::disk::chain {

bool PageAreaHolds(TABSDiskPageManager& pm, int64_t pages) {
  if (pages <= pm.Header().TotalPageCount) return true;
  return pages <= pm.GetTotalPageCount();
}

bool InPageArea(TABSDiskPageManager& pm, int64_t pageNo) { return pageNo >= 0 && PageAreaHolds(pm, pageNo + 1); }

void CheckLink(TABSDiskPageManager& pm, int32_t pageNo, std::unordered_set<int32_t>* seen) {
  const bool fresh = !seen || seen->insert(pageNo).second;
  if (!fresh || !InPageArea(pm, pageNo) || pm.FreeSpaceManager().IsMapPage(pageNo))
    throw EABSException(20301, "Invalid page number");
}

}  // namespace tiv::disk::chain
