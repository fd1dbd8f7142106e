// A large BLOB's first page states its own page count and size; nothing but
// the file bounds them. A crafted claim (up to 2^31-1 pages, or negative)
// must fail as damage (20162) before memory in proportion to the claim is
// taken, when the value is read and when it is deleted.
//
// Memory is measured, not timed. This program replaces the global operator
// new: while a MemoryCeiling is in force every request is summed, and one
// that would take the sum past the ceiling is refused with std::bad_alloc
// without being allocated (so a fault costs nothing to detect). The engine's
// own buffers come from its memory manager, held to the same ceiling by its
// limit (30004).
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "HostileDb.h"

namespace {

std::atomic<bool> gCounting{false};
std::atomic<uint64_t> gRequested{0};
std::atomic<uint64_t> gCeiling{0};

void* Allocate(std::size_t n) {
  if (gCounting.load() && gRequested.fetch_add(n) + n > gCeiling.load()) throw std::bad_alloc();
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}

void* AllocateNoThrow(std::size_t n) noexcept {
  try {
    return Allocate(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return AllocateNoThrow(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return AllocateNoThrow(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using namespace hostile;

class MemoryCeiling {
 public:
  explicit MemoryCeiling(uint64_t bytes) : engineLimit_(MemoryManager().Limit()) {
    MemoryManager().SetLimit(MemoryManager().AllocatedBytes() + bytes);
    gRequested = 0;
    gCeiling = bytes;
    gCounting = true;
  }
  ~MemoryCeiling() {
    gCounting = false;
    MemoryManager().SetLimit(engineLimit_);
  }
  MemoryCeiling(const MemoryCeiling&) = delete;
  MemoryCeiling& operator=(const MemoryCeiling&) = delete;
  // Bytes asked of operator new so far, refused requests included.
  uint64_t HeapBytes() const { return gRequested; }

 private:
  uint64_t engineLimit_;
};

constexpr uint64_t kCeiling = 50ull << 20;

// The header of a large value's first page (BlobPages.h): StoredSize int64
// at data offset 6, the page list's Count int32 at 22 + 6.
constexpr int kStoredSizeAt = 6;
constexpr int kListCountAt = 22 + 6;

// The size a value of `count` pages has: 32 bytes of the first page are
// its header and locator.
int64_t SizeOfPages(int64_t count) { return (kData - 32) + (count - 1) * kData; }

TEST(HostileBlobHeaderTest, APageCountBeyondTheFileFailsBeforeMemoryFollowsIt) {
  ScratchDir dir;
  const std::string path = dir.File("cabecera.zud");
  TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, 4);
  TABSRecordID row;
  TABSBlobReference blob;
  {
    Connection c(path);
    c.Create("docs", {{"id", aftInteger, 0}, {"contenido", aftBlob, 0}});
    const std::string value = Noise(3 * kData, 11);
    row = c.Insert("docs", 1, [&](TABSDiskTableData& t, char* r) {
      t.WriteBlobBuffer(c.session, r, 1, value.data(), static_cast<int64_t>(value.size()));
    });
    blob = c.lastBlob;
  }
  ASSERT_TRUE(blob.IsLarge());
  const Bytes pristine = ReadAll(path);

  struct Claim {
    const char* what;
    int32_t count;
    int64_t size;
  };
  const Claim claims[] = {
      {"2^31-1 pages with the size they hold", INT32_MAX, SizeOfPages(INT32_MAX)},
      {"2^24 pages with the size they hold", 1 << 24, SizeOfPages(1 << 24)},
      {"a negative size and page count", -1, -1},
  };
  struct Operation {
    const char* what;
    std::function<void(Connection&, char* record)> run;
  };
  const Operation operations[] = {
      {"reading the value",
       [](Connection& c, char* r) { c.data->OpenTable(c.session, "docs").ReadBlobBuffer(c.session, r, 1); }},
      {"deleting the record",
       [&](Connection& c, char*) { c.data->OpenTable(c.session, "docs").DeleteRecord(c.session, row); }},
  };
  for (const Claim& claim : claims) {
    for (const Operation& op : operations) {
      SCOPED_TRACE(std::string(claim.what) + ", " + op.what);
      Bytes damaged = pristine;
      zud::PutU64(&damaged[At(blob.PageNo, kStoredSizeAt)], static_cast<uint64_t>(claim.size));
      PutI32(&damaged[At(blob.PageNo, kListCountAt)], claim.count);
      RestorePlainPageCrcs(damaged);
      WriteAll(path, damaged);
      Connection c(path);
      TABSDiskTableData& t = c.data->OpenTable(c.session, "docs");
      std::vector<char> record(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
      TABSGetRecordRequest q;
      q.mode = grmNext;
      q.beforeFirst = true;
      q.destination = record.data();
      t.RecordManager().GetRecord(c.session.sessionID, q);
      ASSERT_EQ(q.result, grrFound);
      // What escapes as another exception is kept in a fixed buffer: past
      // the ceiling nothing more can be allocated until it ends.
      char escaped[128] = {};
      uint64_t requested = 0;
      {
        MemoryCeiling ceiling(kCeiling);
        try {
          ExpectEngineError([&] { op.run(c, record.data()); }, 20162, "Cannot read BLOB field value");
        } catch (const std::exception& e) {
          std::strncpy(escaped, e.what(), sizeof escaped - 1);
        }
        requested = ceiling.HeapBytes();
      }
      EXPECT_STREQ(escaped, "");
      EXPECT_LT(requested, kCeiling);
      // The next call goes on as usual: a new value is stored and read back.
      const std::string fresh = Noise(2 * kData, 5);
      c.Insert("docs", 2, [&](TABSDiskTableData& table, char* r) {
        table.WriteBlobBuffer(c.session, r, 1, fresh.data(), static_cast<int64_t>(fresh.size()));
      });
      EXPECT_EQ(c.Ids("docs"), (std::multiset<int32_t>{1, 2}));
    }
  }
}

}  // namespace
