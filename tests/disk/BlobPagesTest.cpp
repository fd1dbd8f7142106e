// BLOB values in BLOB pages: small and large values, their ids, the pages
// they give back, and damaged pages.
#include <gtest/gtest.h>

#include <random>

#include "DiskTestUtil.h"
#include "disk/BlobPageIndexSpace.h"
#include "disk/BlobPages.h"
#include "disk/FreeSpaceMap.h"

namespace {

std::string Bytes(int64_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(static_cast<size_t>(n), '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

TABSBlobValue Value(const std::string& bytes, int32_t blocks = 1) {
  TABSBlobValue v;
  v.BlockCount = blocks;
  v.UncompressedSize = static_cast<int64_t>(bytes.size()) * 3;
  v.SetStoredData(bytes.data(), static_cast<int64_t>(bytes.size()));
  return v;
}

std::string Stored(const TABSBlobValue& v) {
  return std::string(v.Data() ? v.Data() : "", static_cast<size_t>(v.StoredSize));
}

class BlobPagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.File("blobs.ZUD");
    CreateDatabase(path);
    Open();
  }
  // The BLOB page index is the table's B-tree, created with the file and
  // found again by its root page after a reopen.
  void Open() {
    const int32_t root = space ? space->Index().RootPageNo() : -1;
    blobs.reset();
    space.reset();
    pm = std::make_unique<TABSDiskPageManager>();
    OpenDb(*pm, path, false);
    space = std::make_unique<TABSBTreeBlobPageSpace>(*pm);
    if (root == -1) {
      space->Index().Create(s);
      pm->CommitSession(s, true);
    } else {
      space->Index().SetRootPageNo(root);
    }
    blobs = std::make_unique<TABSDiskBlobManager>(*pm, *space);
  }
  void Reopen() {
    blobs.reset();
    pm->CloseDatabaseFile();
    Open();
  }
  bool IndexEmpty() {
    TABSBTreePath p;
    return !space->Index().First(s, p);
  }
  // Pages in use besides the map pages (and the first ones a database has).
  int32_t UsedPages() { return pm->FreeSpaceManager().CountUsage().used; }
  // Grows the file once so that the map pages exist before a baseline.
  int32_t Baseline() {
    auto ref = blobs->StoreValue(s, Value("x"));
    pm->CommitSession(s);
    blobs->DeleteValue(s, ref);
    pm->CommitSession(s);
    return UsedPages();
  }
  int32_t D() const { return pm->PageDataSize(); }

  ScratchDir dir;
  std::string path;
  std::unique_ptr<TABSDiskPageManager> pm;
  std::unique_ptr<TABSBTreeBlobPageSpace> space;
  std::unique_ptr<TABSDiskBlobManager> blobs;
  const int32_t s = 0;
};

TEST_F(BlobPagesTest, ValuesOfEverySizeRoundTripThroughTheFile) {
  struct Case {
    int64_t size;
    bool large;
  };
  const Case cases[] = {{0, false},       {1, false},  {D() - 25, false},    {D() - 24, true},
                        {D() - 23, true}, {D(), true}, {2 * D() - 32, true}, {3 * 1048576 + 7, true}};
  std::vector<std::pair<TABSBlobReference, std::string>> stored;
  for (const Case& c : cases) {
    const std::string bytes = Bytes(c.size, static_cast<uint32_t>(c.size));
    EXPECT_EQ(blobs->IsSmall(c.size), !c.large) << c.size;
    const TABSBlobReference ref = blobs->StoreValue(s, Value(bytes, 4));
    EXPECT_EQ(ref.IsLarge(), c.large) << c.size;
    stored.emplace_back(ref, bytes);
  }
  pm->CommitSession(s, true);
  Reopen();
  for (auto& [ref, bytes] : stored) {
    auto v = blobs->LoadValue(s, ref);
    EXPECT_EQ(Stored(*v), bytes) << bytes.size();
    EXPECT_EQ(v->BlockCount, 4);
    EXPECT_EQ(v->UncompressedSize, static_cast<int64_t>(bytes.size()) * 3);
  }
}

TEST_F(BlobPagesTest, NewIdsAreFreeOnesAndPagesAreShared) {
  const auto a = blobs->StoreValue(s, Value("first"));
  const auto b = blobs->StoreValue(s, Value("second"));
  EXPECT_EQ(a.PageNo, b.PageNo);
  EXPECT_EQ(a.BlobID, 0);
  EXPECT_EQ(b.BlobID, 1);
  auto gone = a;
  blobs->DeleteValue(s, gone);
  EXPECT_EQ(gone.PageNo, -1);
  const auto c = blobs->StoreValue(s, Value("third"));
  EXPECT_EQ(c.PageNo, b.PageNo);
  EXPECT_NE(c.BlobID, b.BlobID);
  EXPECT_EQ(Stored(*blobs->LoadValue(s, b)), "second");
  EXPECT_EQ(Stored(*blobs->LoadValue(s, c)), "third");
  EXPECT_EQ(space->UsedSpaceOf(s, b.PageNo), 2 * 22 + 6 + 5);
  ExpectEngineError([&] { blobs->LoadValue(s, a); }, 20171, "Cannot find blob field");
  pm->CommitSession(s);
}

TEST_F(BlobPagesTest, DeletingAndReplacingValuesGivesTheirPagesBack) {
  const int32_t before = Baseline();
  std::vector<TABSBlobReference> refs;
  for (int64_t size : {int64_t{100}, int64_t{300000}, int64_t{D() - 25}, int64_t{5000}})
    refs.push_back(blobs->StoreValue(s, Value(Bytes(size, 3))));
  pm->CommitSession(s);
  const int32_t withValues = UsedPages();
  EXPECT_GE(withValues - before, 300000 / D() + 3);
  // Replace the large one by a small one: its pages come back.
  blobs->DeleteValue(s, refs[1]);
  refs[1] = blobs->StoreValue(s, Value("short"));
  pm->CommitSession(s);
  EXPECT_LE(UsedPages(), before + 4);
  for (auto& ref : refs) blobs->DeleteValue(s, ref);
  pm->CommitSession(s);
  EXPECT_EQ(UsedPages(), before);
  EXPECT_TRUE(IndexEmpty());
}

TEST_F(BlobPagesTest, AnEntryNeverPassesTheEndOfItsPage) {
  // Fill one page to within 30 bytes of its end, then damage its index
  // entry so that the index claims the page is empty.
  const auto first = blobs->StoreValue(s, Value(Bytes(D() - 2 - 22 - 30, 1)));
  space->Index().Update(s, first.PageNo, 0);
  ExpectEngineError([&] { blobs->StoreValue(s, Value(Bytes(9, 2))); }, 20290, "PageDataSize=" + std::to_string(D()));
  // 30 - 22 = 8 bytes still fit exactly up to the end.
  const auto fits = blobs->StoreValue(s, Value(Bytes(8, 2)));
  EXPECT_EQ(fits.PageNo, first.PageNo);
  pm->CommitSession(s);
}

TEST_F(BlobPagesTest, DamagedPagesAreEngineErrors) {
  const auto small = blobs->StoreValue(s, Value("value"));
  const auto large = blobs->StoreValue(s, Value(Bytes(3 * D(), 5)));
  pm->CommitSession(s);
  auto damage = [&](int32_t pageNo, int at, uint32_t v) {
    TABSPage* p = pm->GetPage(s, pageNo, true, tiv::disk::ptTableBlob);
    zud::PutU32(p->DataBuffer() + at, v);
    p->IsDirty = true;
    pm->PutPage(p);
  };
  damage(small.PageNo, 2 + 6, 0x00FFFFFF);  // StoredSize past the page
  ExpectEngineError([&] { blobs->LoadValue(s, small); }, 20291);
  auto ref = small;
  ExpectEngineError([&] { blobs->DeleteValue(s, ref); }, 20291);
  damage(large.PageNo, 22 + 6, 7);  // page count that does not fit the size
  ExpectEngineError([&] { blobs->LoadValue(s, large); }, 20162);
  pm->RollbackSession(s);
}

TEST_F(BlobPagesTest, ALargeValuePastTheMemoryLimitFailsCleanly) {
  const auto ref = blobs->StoreValue(s, Value(Bytes(2 * 1048576, 9)));
  pm->CommitSession(s);
  MemoryManager().SetLimit(MemoryManager().AllocatedBytes() + 1048576);
  ExpectEngineError([&] { blobs->LoadValue(s, ref); }, 30004);
  MemoryManager().SetLimit(0);
  EXPECT_EQ(blobs->LoadValue(s, ref)->StoredSize, 2 * 1048576);
}

TEST_F(BlobPagesTest, RolledBackValuesLeaveNothing) {
  const int32_t before = Baseline();
  blobs->StoreValue(s, Value(Bytes(50000, 1)));
  pm->RollbackSession(s);
  EXPECT_EQ(UsedPages(), before);
  blobs->Close();  // nothing cached
}

}  // namespace
