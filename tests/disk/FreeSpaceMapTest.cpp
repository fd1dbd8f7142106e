// The free-space map: map page positions, the first allocations of a new
// file, a randomized run against a set of live pages across several PFS and
// EAM pages with the file growing and shrinking, and the errors of damaged
// maps, double releases and a held header lock.
#include <gmock/gmock.h>

#include <algorithm>
#include <random>
#include <set>

#include "DiskTestUtil.h"

using namespace tiv::disk;

namespace {

class FreeSpaceTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir.File("db.zud");

  TABSDatabaseFreeSpaceManager& Open(TABSDiskPageManager& pm, uint16_t pageSize = 4096, uint16_t extent = 8,
                                     bool multiUser = true) {
    CreateDatabase(path, pageSize, extent);
    OpenDb(pm, path, multiUser);
    return pm.FreeSpaceManager();
  }
  uint16_t TypeOnDisk(TABSDiskPageManager& pm, int32_t pageNo) {
    uint8_t b[2];
    pm.ReadPageBytes(b, pageNo, 2, kPgType);
    return GetU16(b);
  }
};

TEST_F(FreeSpaceTest, MapPagesSitAtTheirFixedPlaces) {
  TABSDiskPageManager pm;
  TABSDatabaseFreeSpaceManager& fsm = Open(pm);
  EXPECT_EQ(fsm.PagesPerPfs(), 32448);
  EXPECT_EQ(fsm.ExtentsPerEam(), 16224);
  EXPECT_EQ(fsm.PagesPerEam(), 129792);
  struct Case {
    int32_t page;
    bool map;
  } cases[] = {{0, true},      {1, true},      {2, false},      {32447, false}, {32448, true},  {32449, false},
               {129792, true}, {129793, true}, {129794, false}, {259584, true}, {259585, true}, {-3, false}};
  for (const Case& c : cases) EXPECT_EQ(fsm.IsMapPage(c.page), c.map) << c.page;
  EXPECT_EQ(fsm.PfsPageNo(4), 129792);
  EXPECT_EQ(fsm.EamPageNo(0), 1);
  EXPECT_EQ(fsm.EamPageNo(1), 129793);
  ExpectEngineError([&] { fsm.CheckNotMapPage(129793); }, 30434, "Cannot delete PFS or EAM page. PageNo=129793");
  fsm.CheckNotMapPage(2);
}

TEST_F(FreeSpaceTest, NewFileGrowsToSixPagesThenByAtLeastOneExtent) {
  TABSDiskPageManager pm;
  TABSDatabaseFreeSpaceManager& fsm = Open(pm);
  EXPECT_EQ(fsm.AllocatePage(), 2);
  EXPECT_EQ(pm.Header().TotalPageCount, 6);
  EXPECT_EQ(ReadAll(path).size(), 380u + 6 * 4096);
  EXPECT_EQ(TypeOnDisk(pm, 0), ptPFS);
  EXPECT_EQ(TypeOnDisk(pm, 1), ptEAM);
  EXPECT_EQ(fsm.AllocatePage(), 3);
  EXPECT_EQ(fsm.AllocatePage(), 4);
  EXPECT_EQ(fsm.AllocatePage(), 5);
  EXPECT_EQ(pm.Header().TotalPageCount, 6);
  EXPECT_EQ(fsm.AllocatePage(), 6);
  EXPECT_EQ(pm.Header().TotalPageCount, 14);  // max(6 / 10, 8) more
  EXPECT_EQ(pm.Header().LastUsedPageNo, 6);
  // A released page in the middle is found again before the file grows.
  fsm.ReleasePage(3);
  EXPECT_FALSE(fsm.IsPageUsed(3));
  EXPECT_EQ(fsm.AllocatePage(), 3);
  ExpectEngineError([&] { fsm.ReleasePage(9); }, 30427, "Page: 9 already free");
  ExpectEngineError([&] { fsm.ReleasePage(14); }, 30430, "Page: 14 cannot be addressed. TotalPageCount=14");
  EXPECT_EQ(pm.HeaderLockCount(), 0);
  // What the header on disk says is what the map says.
  pm.CloseDatabaseFile();
  const Bytes f = ReadAll(path);
  EXPECT_EQ(GetI32(&f[30]), 14);
  EXPECT_EQ(GetI32(&f[34]), 6);
}

// Allocations and releases in random order against the set of live pages,
// with small pages so that several PFS and EAM pages come and go. E = 1
// puts EAM pages on PFS positions (EAM page 2 at 3777); E = 3 puts them
// apart (EAM page 1 at 5664).
// Multi-user, every step reads the map from the file; single-user, the only
// writer keeps the map pages it read and wrote, and the file must still end
// up holding what it kept.
TEST_F(FreeSpaceTest, RandomRunAgainstTheLivePagesAcrossSeveralMapPages) {
  for (const auto& [extent, multiUser] : {std::pair<uint16_t, bool>{1, true}, {3, true}, {3, false}}) {
    SCOPED_TRACE(::testing::Message() << "extent " << extent << (multiUser ? ", multi-user" : ", single-user"));
    std::filesystem::remove(path);
    TABSDiskPageManager pm;
    TABSDatabaseFreeSpaceManager& fsm = Open(pm, 512, extent, multiUser);
    std::mt19937 rng(extent);
    std::set<int32_t> live;
    int32_t maxTotal = 0;
    auto step = [&](bool alloc) {
      if (alloc || live.empty()) {
        const int32_t p = fsm.AllocatePage();
        ASSERT_FALSE(fsm.IsMapPage(p)) << p;
        ASSERT_TRUE(live.insert(p).second) << "handed out twice: " << p;
      } else {
        auto it = live.begin();
        std::advance(it, static_cast<long>(rng() % live.size()));
        fsm.ReleasePage(*it);
        live.erase(it);
      }
      const TABSDatabaseHeader& h = pm.Header();
      ASSERT_EQ(h.LastUsedPageNo, live.empty() ? -1 : *live.rbegin());
      ASSERT_EQ(std::filesystem::file_size(path), 380u + static_cast<size_t>(h.TotalPageCount) * 512);
      ASSERT_FALSE(fsm.IsMapPage(h.TotalPageCount - 1));
      maxTotal = std::max(maxTotal, h.TotalPageCount);
    };
    for (int i = 0; i < 12000 && !HasFatalFailure(); ++i) step(rng() % 20 < 17);
    EXPECT_GT(maxTotal, 7000);  // past PFS page 1 (3776) and more than one EAM page
    for (int32_t p : {3776, 3777, 5664, 1888})
      if (p < pm.Header().TotalPageCount) {
        EXPECT_TRUE(fsm.IsPageUsed(p)) << p;
      }
    for (int i = 0; i < 3000 && !HasFatalFailure(); ++i) step(rng() % 10 < 3);
    // As the file says it, read by an open that keeps nothing.
    TABSDiskPageManager other;
    OpenDb(other, path, multiUser, false, true);
    for (int32_t p = 0; p < pm.Header().TotalPageCount; ++p)
      if (!fsm.IsMapPage(p)) {
        ASSERT_EQ(fsm.IsPageUsed(p), live.count(p) == 1) << p;
        ASSERT_EQ(other.FreeSpaceManager().IsPageUsed(p), live.count(p) == 1) << p;
      }
    other.CloseDatabaseFile();
    while (!live.empty() && !HasFatalFailure()) step(false);
    // Shrunk by whole growth steps: what is left is shorter than one step.
    EXPECT_LT(pm.Header().TotalPageCount, std::max<int32_t>(maxTotal / 10, extent) + 2);
    EXPECT_EQ(pm.Header().LastUsedPageNo, -1);
  }
}

TEST_F(FreeSpaceTest, GrowthFollowsTheHeaderNotTheFileSize) {
  TABSDiskPageManager pm;
  TABSDatabaseFreeSpaceManager& fsm = Open(pm);
  for (int i = 0; i < 4; ++i) fsm.AllocatePage();
  pm.CloseDatabaseFile();
  // A growth cut off before its header was written leaves a longer file.
  Bytes f = ReadAll(path);
  f.resize(f.size() + 3 * 4096 + 100, 0xEE);
  WriteAll(path, f);
  OpenDb(pm, path);
  EXPECT_EQ(pm.FreeSpaceManager().AllocatePage(), 6);
  EXPECT_EQ(pm.Header().TotalPageCount, 14);
  EXPECT_EQ(ReadAll(path).size(), 380u + 14 * 4096);
}

TEST_F(FreeSpaceTest, DamagedMapPagesAndAHeldLockAreEngineErrors) {
  TABSDiskPageManager pm;
  TABSDatabaseFreeSpaceManager& fsm = Open(pm);
  fsm.AllocatePage();
  const Bytes good = ReadAll(path);
  struct Case {
    const char* name;
    int32_t page;
    Bytes bytes;
  } cases[] = {
      {"EAM page of another type", 1, {12, 0}},
      {"PFS page of another type", 0, {2, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pm.WritePageBytes(c.bytes.data(), c.page, 2, kPgType);
    std::string message;
    EXPECT_THAT(NativeCodeOf([&] { fsm.AllocatePage(); }, &message), ::testing::AnyOf(30423, 30424)) << message;
    EXPECT_NE(message.find("Wrong page type. Found '"), std::string::npos) << message;
    EXPECT_EQ(pm.HeaderLockCount(), 0);
    pm.WritePageBytes(good.data() + 380 + c.page * 4096 + kPgType, c.page, 2, kPgType);
  }
  // A page signature wiped out: the map page reads as no page at all.
  const uint8_t junk[4] = {'X', 'X', 'X', 'X'};
  pm.WritePageBytes(junk, 0, 4, 0);
  ExpectEngineError([&] { fsm.ReleasePage(2); }, 30424, "Found 'Unknown Page', but expecting: 'PFS Page'");
  pm.WritePageBytes(good.data() + 380, 0, 4, 0);
  // Another open holds the header lock.
  TABSDiskPageManager other;
  OpenDb(other, path);
  ASSERT_TRUE(other.LockHeader());
  pm.SetLockRetry({2, 1});
  ExpectEngineError([&] { fsm.AllocatePage(); }, 20231, "Database is locked");
  ExpectEngineError([&] { fsm.ReleasePage(2); }, 20232, "Database is locked");
  other.UnlockHeader();
  fsm.ReleasePage(2);
  EXPECT_EQ(pm.Header().LastUsedPageNo, -1);
}

}  // namespace
