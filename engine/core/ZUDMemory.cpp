#include "core/ZUDMemory.h"

#include <cstdlib>
#include <cstring>

#include "core/ZUDExcept.h"
#include "os/OsMemory.h"

namespace {

// The method table, searched from its last row backwards: the first row
// whose largest block size holds the request gives the method.
struct MethodRow {
  uint64_t largestBlock;
  uint8_t method;
};
constexpr uint8_t kProcessHeap = 0;
constexpr MethodRow kMethods[] = {{2147483647u, kProcessHeap}};

int ChooseMethod(uint64_t size) {
  int method = -1;
  for (int i = static_cast<int>(std::size(kMethods)) - 1; i >= 0; --i)
    if (size <= kMethods[i].largestBlock) method = kMethods[i].method;
  return method;
}

void PutU32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

uint32_t GetU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

unsigned char* RawOf(const void* p) {
  return static_cast<unsigned char*>(const_cast<void*>(p)) - TABSMemoryManager::kHeaderSize;
}

}  // namespace

void* TABSMemoryManager::GetMem(uint64_t size) {
  if (size == 0) throw EABSException(30286, "Cannot allocate 0 bytes");
  // The bytes are reserved under the same lock that checks the limit, so
  // two threads can never both pass the check and overrun the limit.
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (limit_ != 0 && (allocated_ + size > limit_ || allocated_ + size < allocated_))
      throw EABSException(30004, "Memory limit exceeded (Limit = %d bytes)", {static_cast<unsigned long long>(limit_)});
    allocated_ += size;
  }
  auto unreserve = [this, size] {
    std::lock_guard<std::mutex> lock(mutex_);
    allocated_ -= size;
  };
  const int method = ChooseMethod(size);
  if (method != kProcessHeap) {
    unreserve();
    throw EABSException(30340, "Unknown GetMem method type: %d", {method});
  }
  auto* raw = static_cast<unsigned char*>(std::malloc(size + kHeaderSize + kTrailerSize));
  if (!raw) {
    unreserve();
    throw EABSException(30015, "GetMem error: %s", {"Out of memory"});
  }
  PutU32(raw, static_cast<uint32_t>(size));
  raw[4] = static_cast<unsigned char>(method);
  PutU32(raw + 5, kHeaderGuard);
  PutU32(raw + kHeaderSize + size, kTrailerGuard);
  return raw + kHeaderSize;
}

void* TABSMemoryManager::GetMemZero(uint64_t size) {
  void* p = GetMem(size);
  std::memset(p, 0, size);
  return p;
}

TABSMemoryManager::FreeResult TABSMemoryManager::Release(void* p) noexcept {
  unsigned char* raw = RawOf(p);
  if (GetU32(raw + 5) != kHeaderGuard) return FreeResult::kBadHeader;
  const uint32_t size = GetU32(raw);
  const bool overrun = GetU32(raw + kHeaderSize + size) != kTrailerGuard;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    allocated_ -= size;
  }
  std::free(raw);
  return overrun ? FreeResult::kOverrun : FreeResult::kOk;
}

void TABSMemoryManager::FreeAndNillMem(void*& p) {
  if (!p) return;
  switch (Release(p)) {
    case FreeResult::kBadHeader: throw EABSException(30001, "Invalid pointer");
    case FreeResult::kOverrun: p = nullptr; throw EABSException(30137, "Memory overrun detected");
    case FreeResult::kOk: p = nullptr; return;
  }
}

bool TABSMemoryManager::FreeNoThrow(void* p) noexcept {
  if (!p) return true;
  return Release(p) == FreeResult::kOk;
}

void TABSMemoryManager::ReallocMem(void*& p, uint64_t newSize, bool zeroNewBytes) {
  uint64_t oldSize = 0;
  if (p) {
    if (GetU32(RawOf(p) + 5) != kHeaderGuard) throw EABSException(30002, "Invalid pointer");
    oldSize = GetU32(RawOf(p));
  }
  void* fresh = GetMem(newSize);
  if (oldSize) std::memcpy(fresh, p, oldSize < newSize ? oldSize : newSize);
  if (zeroNewBytes && newSize > oldSize) std::memset(static_cast<char*>(fresh) + oldSize, 0, newSize - oldSize);
  try {
    FreeAndNillMem(p);
  } catch (...) {
    FreeNoThrow(fresh);
    throw;
  }
  p = fresh;
}

uint32_t TABSMemoryManager::GetMemSize(const void* p) const {
  if (!p || GetU32(RawOf(p) + 5) != kHeaderGuard) throw EABSException(30005, "Invalid pointer");
  return GetU32(RawOf(p));
}

void TABSMemoryManager::SetLimit(uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  limit_ = bytes;
}

uint64_t TABSMemoryManager::Limit() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return limit_;
}

uint64_t TABSMemoryManager::AllocatedBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return allocated_;
}

uint64_t TABSMemoryManager::UsableMemory() const {
  const uint64_t physical = tiv::os::AvailablePhysicalMemory();
  const uint64_t limit = Limit();
  return limit != 0 && limit < physical ? limit : physical;
}

TABSMemoryManager& MemoryManager() {
  static TABSMemoryManager manager;
  return manager;
}

TABSMemBlock AllocBlock(uint64_t size, bool zero) {
  return TABSMemBlock(static_cast<char*>(zero ? MemoryManager().GetMemZero(size) : MemoryManager().GetMem(size)));
}
