// Finding a page with room for a record or a small BLOB value: the work of
// one placement does not grow with the table (counted in page fetches, the
// unit a walk of the page index costs), and the pages remembered with room
// are held to what the index says when another connection filled or freed
// them.
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "DiskTestUtil.h"
#include "SessionTestDb.h"
#include "ZudadminRun.h"
#include "core/ZUDRecordLayout.h"
#include "disk/BlobPageIndexSpace.h"
#include "disk/DiskRecordManager.h"

namespace {

constexpr int32_t kSession = 0;

// A disk page manager that counts the pages it is asked for.
class CountingPages : public TABSDiskPageManager {
 public:
  TABSPage* GetPage(int32_t sessionID, int32_t pageNo, bool checkCache = true,
                    uint16_t pageType = tiv::disk::ptAny) override {
    ++gets;
    return TABSDiskPageManager::GetPage(sessionID, pageNo, checkCache, pageType);
  }
  int64_t gets = 0;
};

struct CountedFile {
  ScratchDir dir;
  std::string path = dir.File("room.zud");
  CountingPages pm;
  CountedFile() {
    CreateDatabase(path);
    OpenDb(pm, path, false);
  }
  ~CountedFile() {
    pm.RollbackSession(kSession);
    pm.CloseDatabaseFile();
  }
  // Page fetches of `work`.
  template <typename Work>
  int64_t Count(Work work) {
    const int64_t before = pm.gets;
    work();
    return pm.gets - before;
  }
};

// Records of about 400 bytes: 10 to a page, so a table of many pages stays
// small; the record page index keeps one leaf up to some 600 pages, so its
// depth is the same at both sizes measured.
struct RecordTable : CountedFile {
  TABSFieldDefs fields;
  std::unique_ptr<TABSDiskRecordManager> rm;
  std::vector<char> buffer;
  int32_t next = 0;

  RecordTable() {
    TABSFieldDef* n = fields.AddNew();
    n->SetName("n");
    n->SetDataType(aftInteger);
    TABSFieldDef* s = fields.AddNew();
    s->SetName("s");
    s->SetDataType(aftString, 400);
    fields.CalculateOffsets();
    rm = std::make_unique<TABSDiskRecordManager>(pm, fields, 77);
    rm->PageIndex().Create(kSession);
    buffer.assign(static_cast<size_t>(fields.MemoryRecordSize()), 0);
  }
  void Insert() {
    InitNewRecord(fields, buffer.data());
    TABSVariant v;
    v.SetAsInteger(next++);
    WriteFieldValue(fields, buffer.data(), 0, v);
    TABSRecordID id;
    ASSERT_TRUE(rm->Insert(kSession, buffer.data(), id));
  }
};

struct BlobStore : CountedFile {
  std::unique_ptr<TABSBTreeBlobPageSpace> space;
  std::unique_ptr<TABSDiskBlobManager> blobs;
  BlobStore() {
    space = std::make_unique<TABSBTreeBlobPageSpace>(pm);
    space->Index().Create(kSession);
    blobs = std::make_unique<TABSDiskBlobManager>(pm, *space);
  }
  // A 2.1 KB value: small, and no page that holds one takes another.
  TABSBlobReference Store() {
    const std::string bytes(2100, 'm');
    TABSBlobValue v;
    v.BlockCount = 1;
    v.UncompressedSize = static_cast<int64_t>(bytes.size());
    v.SetStoredData(bytes.data(), static_cast<int64_t>(bytes.size()));
    return blobs->StoreValue(kSession, v);
  }
};

// Page fetches of the next `window` placements once the table holds
// `pages` full pages; the window spans several new pages.
struct CostCase {
  const char* what;
  std::function<int64_t(int32_t pages, int32_t window)> cost;
};

class PlacementCost : public ::testing::TestWithParam<CostCase> {};

TEST_P(PlacementCost, DoesNotGrowWithTheTable) {
  const CostCase& c = GetParam();
  const int64_t small = c.cost(20, 40);
  const int64_t large = c.cost(500, 40);
  // Before, every placement that missed its hinted page read the whole
  // index: three fetches per indexed page.
  EXPECT_LE(large, 2 * small) << c.what << ": " << small << " fetches at 20 pages, " << large << " at 500";
}

INSTANTIATE_TEST_SUITE_P(Placements, PlacementCost,
                         ::testing::Values(CostCase{"record inserts",
                                                    [](int32_t pages, int32_t window) {
                                                      RecordTable t;
                                                      const int32_t slots = t.rm->SlotsPerPage();
                                                      for (int32_t i = 0; i < pages * slots; ++i) t.Insert();
                                                      return t.Count([&] {
                                                        for (int32_t i = 0; i < window; ++i) t.Insert();
                                                      });
                                                    }},
                                           CostCase{"small BLOB stores",
                                                    [](int32_t pages, int32_t window) {
                                                      BlobStore b;
                                                      for (int32_t i = 0; i < pages; ++i) b.Store();
                                                      return b.Count([&] {
                                                        for (int32_t i = 0; i < window; ++i) b.Store();
                                                      });
                                                    }}),
                         [](const ::testing::TestParamInfo<CostCase>& info) {
                           return std::string(info.param.what) == "record inserts" ? std::string("Records")
                                                                                   : std::string("SmallBlobs");
                         });

// The pages a connection remembers with room are another connection's to
// fill or free: a full one is never handed out (no "Error reading database
// file page", no lost row), and slots the other one freed are found again,
// so the table does not grow while it has room.
TEST(PageRoomCache, TwoConnectionsFillAndFreeEachOthersPages) {
  ScratchDir dir;
  const std::string path = dir.File("two.zud");
  CreateSharedTableDb(path, 8);
  SharedTableConnection a(path);
  SharedTableConnection b(path);
  std::map<int32_t, TABSRecordID> ids;
  // a: 7 pages' worth and a bit; its last page has room it remembers.
  const int32_t slots = a.table->DiskRecords().SlotsPerPage();
  for (int32_t id = 0; id < 7 * slots + 3; ++id) ids[id] = a.Insert(id, 1);
  // b fills a's last page, then frees half of every page.
  int32_t id = 100000;
  for (int32_t k = 0; k < slots - 3; ++k, ++id) ids[id] = b.Insert(id, 2);
  for (auto it = ids.begin(); it != ids.end();) {
    if (it->first % 2 == 0 && it->first < 100000) {
      ASSERT_TRUE(b.table->DeleteRecord(b.session, it->second));
      it = ids.erase(it);
    } else {
      ++it;
    }
  }
  std::set<int32_t> pagesBefore;
  for (const auto& [n, rid] : ids) pagesBefore.insert(rid.pageNo);
  // a fills the freed slots: no new page while there is room.
  const int32_t freed = 8 * slots - static_cast<int32_t>(ids.size());
  for (int32_t k = 0; k < freed; ++k, ++id) {
    ids[id] = a.Insert(id, 1);
    EXPECT_EQ(pagesBefore.count(ids[id].pageNo), 1u) << "insert " << k << " of " << freed << " took a new page";
  }
  std::multimap<int32_t, int32_t> expected;
  for (const auto& [n, rid] : ids) expected.emplace(n, n >= 100000 && n < 100000 + slots - 3 ? 2 : 1);
  EXPECT_EQ(b.Rows(), expected);
  EXPECT_EQ(a.Count(), static_cast<int64_t>(ids.size()));
  a.data.Disconnect(a.session);
  a.data.Close();
  b.data.Disconnect(b.session);
  b.data.Close();
  ExpectCheckOk(path);
}

}  // namespace
