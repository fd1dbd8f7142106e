// The BLOB page index over its B-tree: the BLOB manager stores, replaces
// and deletes values through it; the index keeps each small page's bytes in
// use, survives a reopen and ends empty when every value is gone.
#include <map>
#include <random>

#include "DiskTestUtil.h"
#include "core/PageManager.h"
#include "disk/BlobPageIndexSpace.h"

namespace {

constexpr int32_t kSession = 0;

struct Blobs {
  ScratchDir dir;
  std::string path = dir.File("blobidx.zud");
  std::unique_ptr<TABSDiskPageManager> pm;
  std::unique_ptr<TABSBTreeBlobPageSpace> space;
  std::unique_ptr<TABSDiskBlobManager> blobs;

  Blobs() {
    CreateDatabase(path);
    Open(-1);
    space->Index().Create(kSession);
    pm->CommitSession(kSession, true);
  }
  void Open(int32_t root) {
    blobs.reset();
    space.reset();
    pm = std::make_unique<TABSDiskPageManager>();
    OpenDb(*pm, path, false);
    space = std::make_unique<TABSBTreeBlobPageSpace>(*pm);
    if (root != -1) space->Index().SetRootPageNo(root);
    blobs = std::make_unique<TABSDiskBlobManager>(*pm, *space);
  }
  static TABSBlobValue Value(const std::string& bytes) {
    TABSBlobValue v;
    v.BlockCount = 1;
    v.UncompressedSize = static_cast<int64_t>(bytes.size());
    v.SetStoredData(bytes.data(), static_cast<int64_t>(bytes.size()));
    return v;
  }
  // Every indexed page against the page itself.
  void CheckIndex() {
    TABSBTreeBlobPageIndex& index = space->Index();
    TABSBTreePath path;
    for (bool more = index.First(kSession, path); more; more = index.Next(kSession, path)) {
      const int32_t pageNo = index.KeyAt(kSession, path);
      TABSPage* page = pm->GetPage(kSession, pageNo, true, tiv::disk::ptTableBlob);
      EXPECT_EQ(index.ValueAt(kSession, path), TABSSmallBlobPage(*page).UsedBytes()) << pageNo;
      EXPECT_GT(TABSSmallBlobPage(*page).BlobCount(), 0) << pageNo;
      pm->PutPage(page);
    }
  }
};

struct RefLess {
  bool operator()(const TABSBlobReference& a, const TABSBlobReference& b) const {
    return a.PageNo != b.PageNo ? a.PageNo < b.PageNo : a.BlobID < b.BlobID;
  }
};

TEST(BlobPageIndex, ValuesThroughTheManagerMatchAModelAcrossReopen) {
  Blobs b;
  std::map<TABSBlobReference, std::string, RefLess> model;
  std::mt19937 rng(99);
  for (int step = 0; step < 1500; ++step) {
    if (model.empty() || rng() % 3 != 0) {
      std::string bytes(1 + rng() % 1500, static_cast<char>('A' + step % 26));
      const TABSBlobReference ref = b.blobs->StoreValue(kSession, Blobs::Value(bytes));
      ASSERT_TRUE(model.emplace(ref, bytes).second) << "reference handed out twice";
    } else {
      auto it = model.begin();
      std::advance(it, static_cast<long>(rng() % model.size()));
      TABSBlobReference ref = it->first;
      b.blobs->DeleteValue(kSession, ref);
      model.erase(it);
    }
    if (step % 300 == 299) b.pm->CommitSession(kSession, true);
  }
  b.pm->CommitSession(kSession, true);
  b.CheckIndex();
  b.Open(b.space->Index().RootPageNo());
  b.CheckIndex();
  for (const auto& [ref, bytes] : model) {
    auto v = b.blobs->LoadValue(kSession, ref);
    ASSERT_EQ(std::string(v->Data(), static_cast<size_t>(v->StoredSize)), bytes);
  }
  const int32_t usedBefore = b.pm->FreeSpaceManager().CountUsage().used;
  for (auto& [ref, bytes] : model) {
    TABSBlobReference r = ref;
    b.blobs->DeleteValue(kSession, r);
  }
  b.pm->CommitSession(kSession, true);
  TABSBTreePath path;
  EXPECT_FALSE(b.space->Index().First(kSession, path));
  EXPECT_LT(b.pm->FreeSpaceManager().CountUsage().used, usedBefore);
  EXPECT_EQ(b.space->FindPageWithRoom(kSession, 10), -1);
}

}  // namespace
