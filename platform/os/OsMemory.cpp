#include "os/OsMemory.h"

#include <unistd.h>

namespace tiv::os {

namespace {
uint64_t Pages(int name) {
  long pages = sysconf(name);
  long size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || size <= 0) return 0;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(size);
}
}  // namespace

uint64_t AvailablePhysicalMemory() { return Pages(_SC_AVPHYS_PAGES); }
uint64_t TotalPhysicalMemory() { return Pages(_SC_PHYS_PAGES); }

}  // namespace tiv::os
