#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "core/ZUDExcept.h"
#include "core/ZUDMemory.h"
#include "support/EngineError.h"

namespace {

// A manager of its own per test, so the counts start at zero.
class MemoryManagerTest : public ::testing::Test {
 protected:
  TABSMemoryManager mm;
};

}  // namespace

TEST_F(MemoryManagerTest, BlocksCarryGuardsAndAreCounted) {
  void* p = mm.GetMem(5);
  const auto* raw = static_cast<const unsigned char*>(p) - 9;
  EXPECT_EQ(raw[0] | raw[1] << 8 | raw[2] << 16 | raw[3] << 24, 5);
  EXPECT_EQ(raw[4], 0);  // process heap
  const unsigned char header[] = {0xAC, 0xCC, 0xCA, 0xAC};
  const unsigned char trailer[] = {0xCE, 0xAC, 0xCE, 0xAC};
  EXPECT_EQ(std::memcmp(raw + 5, header, 4), 0);
  EXPECT_EQ(std::memcmp(raw + 9 + 5, trailer, 4), 0);
  EXPECT_EQ(mm.AllocatedBytes(), 5u);
  EXPECT_EQ(mm.GetMemSize(p), 5u);

  void* z = mm.GetMemZero(64);
  EXPECT_EQ(std::memcmp(z, std::vector<char>(64, 0).data(), 64), 0);
  EXPECT_EQ(mm.AllocatedBytes(), 69u);
  mm.FreeAndNillMem(p);
  mm.FreeAndNillMem(z);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(z, nullptr);
  EXPECT_EQ(mm.AllocatedBytes(), 0u);
}

TEST_F(MemoryManagerTest, ReallocKeepsBytesAndZeroesTheGrowth) {
  void* p = mm.GetMem(4);
  std::memcpy(p, "abcd", 4);
  mm.ReallocMem(p, 8, true);
  EXPECT_EQ(std::memcmp(p, "abcd\0\0\0\0", 8), 0);
  mm.ReallocMem(p, 2, false);
  EXPECT_EQ(std::memcmp(p, "ab", 2), 0);
  EXPECT_EQ(mm.AllocatedBytes(), 2u);
  mm.FreeAndNillMem(p);
  void* fresh = nullptr;
  mm.ReallocMem(fresh, 3, true);
  EXPECT_EQ(mm.GetMemSize(fresh), 3u);
  mm.FreeAndNillMem(fresh);
}

TEST_F(MemoryManagerTest, LimitAndErrors) {
  EXPECT_EQ(NativeCodeOf([&] { mm.GetMem(0); }), 30286);
  mm.SetLimit(100);
  void* a = mm.GetMem(60);
  std::string message;
  EXPECT_EQ(NativeCodeOf([&] { mm.GetMem(41); }, &message), 30004);
  EXPECT_EQ(message, "Memory limit exceeded (Limit = 100 bytes)");
  EXPECT_EQ(mm.AllocatedBytes(), 60u);  // the refused request took nothing
  void* b = mm.GetMem(40);              // exactly at the limit
  EXPECT_EQ(mm.UsableMemory(), 100u);
  EXPECT_EQ(NativeCodeOf([&] { mm.ReallocMem(a, 61, false); }), 30004);  // an engine error passes unchanged
  EXPECT_NE(a, nullptr);
  mm.FreeAndNillMem(a);
  mm.FreeAndNillMem(b);
  mm.SetLimit(0);
  EXPECT_GT(mm.UsableMemory(), 0u);
  EXPECT_EQ(NativeCodeOf([&] { mm.GetMem(3000000000ULL); }), 30340);  // no method for blocks past 2 GiB
}

TEST_F(MemoryManagerTest, DamagedGuards) {
  // Overrun: still freed, pointer cleared, count reduced, then the error.
  void* p = mm.GetMem(8);
  std::memset(p, 'x', 9);
  std::string message;
  EXPECT_EQ(NativeCodeOf([&] { mm.FreeAndNillMem(p); }, &message), 30137);
  EXPECT_EQ(message, "Memory overrun detected");
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(mm.AllocatedBytes(), 0u);

  // A damaged header: nothing is released, every entry point refuses it.
  void* q = mm.GetMem(8);
  auto* header = static_cast<unsigned char*>(q) - 4;
  header[0] ^= 0xFF;
  EXPECT_EQ(NativeCodeOf([&] { mm.FreeAndNillMem(q); }), 30001);
  EXPECT_EQ(NativeCodeOf([&] { mm.ReallocMem(q, 16, false); }), 30002);
  EXPECT_EQ(NativeCodeOf([&] { mm.GetMemSize(q); }), 30005);
  EXPECT_NE(q, nullptr);
  header[0] ^= 0xFF;
  mm.FreeAndNillMem(q);
  EXPECT_EQ(mm.AllocatedBytes(), 0u);
}

TEST_F(MemoryManagerTest, BookkeepingIsSafeAcrossThreads) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([this] {
      for (int i = 0; i < 2000; ++i) {
        void* p = mm.GetMem(static_cast<uint64_t>(1 + i % 64));
        mm.FreeAndNillMem(p);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(mm.AllocatedBytes(), 0u);
}
