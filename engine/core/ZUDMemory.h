// ZUDMemory: the engine memory manager. Every engine value buffer comes
// from the one process-wide TABSMemoryManager.
//
// Block layout (little-endian, offsets from the start of the raw block):
//   0  4  caller's byte count (unsigned 32-bit)
//   4  1  allocation method: 0 process heap, 1 virtual memory, 2 global
//   5  4  header guard 0xACCACCAC
//   9  n  the caller's bytes (the address handed out)
//   9+n 4 trailer guard 0xACCEACCE
//
// Contract
//  1. GetMem(0) raises 30286; with a limit set, a request that would take
//     the bytes handed out past the limit raises 30004 and allocates
//     nothing. Platform failures surface as 30015.
//  2. FreeAndNillMem on a block whose header guard is wrong raises 30001
//     and touches nothing else. A block whose trailer guard was overwritten
//     is still released, the caller's pointer cleared and the count
//     reduced, and only then is 30137 raised.
//  3. ReallocMem checks the header guard (30002), allocates the new block,
//     copies the smaller size, zeroes the grown part when asked, frees the
//     old block; other failures become 30014, engine errors pass unchanged.
//     The size query checks the guard too (30005).
//  4. Only the bookkeeping (bytes handed out, limit) is guarded by the
//     manager's mutex; the allocation itself uses the thread-safe heap.
//  5. Every block comes from the process heap: the method table has one row
//     (2147483647, heap), so a request past 2147483647 bytes has no method
//     and raises 30340.
//
// Thread use: any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

class TABSMemoryManager {
 public:
  static constexpr uint32_t kHeaderGuard = 0xACCACCAC;
  static constexpr uint32_t kTrailerGuard = 0xACCEACCE;
  static constexpr size_t kHeaderSize = 9;
  static constexpr size_t kTrailerSize = 4;

  TABSMemoryManager() = default;
  TABSMemoryManager(const TABSMemoryManager&) = delete;
  TABSMemoryManager& operator=(const TABSMemoryManager&) = delete;

  void* GetMem(uint64_t size);
  void* GetMemZero(uint64_t size);
  // Frees the block `p` holds and sets `p` to null (contract 2). A null
  // pointer is left alone.
  void FreeAndNillMem(void*& p);
  template <typename T>
  void FreeAndNillMem(T*& p) {
    void* raw = p;
    try {
      FreeAndNillMem(raw);
    } catch (...) {
      p = static_cast<T*>(raw);
      throw;
    }
    p = static_cast<T*>(raw);
  }
  // Releases without raising: for destructors. Returns false when a guard
  // was wrong (a block with a bad header guard is not released).
  bool FreeNoThrow(void* p) noexcept;
  // Reallocates the block `p` holds (null allocates a new one).
  void ReallocMem(void*& p, uint64_t newSize, bool zeroNewBytes);
  uint32_t GetMemSize(const void* p) const;

  void SetLimit(uint64_t bytes);
  uint64_t Limit() const;
  uint64_t AllocatedBytes() const;
  // The smaller of the limit and the available physical memory; the
  // physical memory alone when no limit is set.
  uint64_t UsableMemory() const;

 private:
  enum class FreeResult { kOk, kBadHeader, kOverrun };
  FreeResult Release(void* p) noexcept;

  mutable std::mutex mutex_;
  uint64_t limit_ = 0;
  uint64_t allocated_ = 0;
};

// The process-wide instance.
TABSMemoryManager& MemoryManager();

// Owns one block of the memory manager; frees it on destruction.
struct TABSMemFree {
  void operator()(char* p) const noexcept { MemoryManager().FreeNoThrow(p); }
};
using TABSMemBlock = std::unique_ptr<char, TABSMemFree>;
TABSMemBlock AllocBlock(uint64_t size, bool zero = false);
