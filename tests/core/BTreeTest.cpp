// B+-tree edge cases: equal keys, truncated string keys and the duplicate
// test, NULL order, case-insensitive search, splits, merges and root
// collapse, record numbers, and damaged pages that must raise.
#include <gtest/gtest.h>

#include "core/ZUDBytes.h"
#include "support/BTreeTestSupport.h"

using namespace btreetest;

namespace {

std::vector<int32_t> Slots(std::initializer_list<int32_t> s) { return std::vector<int32_t>(s); }

TEST(RecordIndex, EqualKeysKeepRecordIdOrderAndDeleteTakesTheRightOne) {
  MemoryPageManager pm;
  RecordTable table({{"v", aftInteger}});
  TABSBTreeRecordIndex index(&pm, table.fields, &table);
  index.Create(kSession, MakeIndexDef({"v"}));
  std::string five = table.NewRecord(), four = table.NewRecord();
  table.SetInt(five, 0, 5);
  table.SetInt(four, 0, 4);
  for (int32_t slot : {7, 3, 9, 1}) index.InsertKey(kSession, five.data(), {slot, 0});
  index.InsertKey(kSession, four.data(), {8, 0});
  EXPECT_EQ(IndexOrder(index), Slots({8, 1, 3, 7, 9}));
  index.DeleteKey(kSession, five.data(), {7, 0});
  EXPECT_EQ(IndexOrder(index), Slots({8, 1, 3, 9}));
  ExpectEngineError([&] { index.DeleteKey(kSession, five.data(), {7, 0}); }, 20027);
  ExpectEngineError([&] { index.DeleteKey(kSession, four.data(), {1, 0}); }, 20027);
  EXPECT_EQ(IndexOrder(index), Slots({8, 1, 3, 9}));
}

// STRING(40) values that share their first 20 characters are stored with
// equal truncated keys; the records settle their order and duplicates.
class TruncatedKeys : public ::testing::Test {
 protected:
  const std::string prefix = std::string(20, 'm');
  MemoryPageManager pm;
  RecordTable table{{{"s", aftString, 40}}};
  TABSBTreeRecordIndex index{&pm, table.fields, &table};

  TABSRecordID Put(const std::string& text) {
    std::string r = table.NewRecord();
    table.SetText(r, 0, text);
    const TABSRecordID id = table.Add(r);
    index.InsertKey(kSession, r.data(), id);
    return id;
  }
  std::string Rec(const std::string& text) {
    std::string r = table.NewRecord();
    table.SetText(r, 0, text);
    return r;
  }
};

TEST_F(TruncatedKeys, OrderComesFromTheFullValuesAndUniqueRejectsOnlyTrueDuplicates) {
  index.Create(kSession, MakeIndexDef({"s"}, true));
  Put(prefix + "z");  // slot 0
  Put(prefix + "b");  // slot 1
  Put(prefix + "q");  // slot 2
  Put("a");           // slot 3
  EXPECT_EQ(IndexOrder(index), Slots({3, 1, 2, 0}));
  EXPECT_NO_THROW(index.CheckIntegrity(kSession));

  EXPECT_TRUE(index.IsDuplicateForInsert(kSession, Rec(prefix + "q").data()));
  EXPECT_FALSE(index.IsDuplicateForInsert(kSession, Rec(prefix + "c").data()));
  EXPECT_FALSE(index.IsDuplicateForInsert(kSession, Rec(prefix).data()));
  EXPECT_TRUE(index.IsDuplicateForInsert(kSession, Rec("a").data()));

  // An update that the record manager already holds: the record's own entry
  // ties on the truncated key and must not count as a duplicate.
  const std::string before = table.rows[2];
  table.rows[2] = Rec(prefix + "r");
  EXPECT_FALSE(index.IsDuplicateForUpdate(kSession, before.data(), table.rows[2].data(), {2, 0}));
  EXPECT_TRUE(index.IsDuplicateForUpdate(kSession, before.data(), Rec(prefix + "b").data(), {2, 0}));
  index.UpdateKey(kSession, before.data(), table.rows[2].data(), {2, 0}, 1);
  index.UpdateKey(kSession, before.data(), table.rows[2].data(), {2, 0}, 0);
  EXPECT_EQ(IndexOrder(index), Slots({3, 1, 2, 0}));

  // Exact positioning and deletes find the entry of the right record.
  TABSBTreePath path;
  ASSERT_TRUE(index.FindNearest(kSession, Rec(prefix + "r").data(), 1, 1, true, path));
  EXPECT_EQ(index.RecordIdAtPath(kSession, path).pageNo, 2);
  index.DeleteKey(kSession, table.rows[1].data(), {1, 0});
  EXPECT_EQ(IndexOrder(index), Slots({3, 2, 0}));
}

TEST_F(TruncatedKeys, AnEntryWhoseRecordCannotBeReadRaises) {
  index.Create(kSession, MakeIndexDef({"s"}, true));
  Put(prefix + "a");
  table.rows.clear();
  ExpectEngineError([&] { index.IsDuplicateForInsert(kSession, Rec(prefix + "a").data()); }, 20170);
  ExpectEngineError([&] { index.InsertKey(kSession, Rec(prefix + "b").data(), {5, 0}); }, 20170);
}

TEST(RecordIndex, NullsSortFirstAscendingAndLastDescending) {
  struct Case {
    const char* column;
    std::vector<int32_t> order;
  };
  for (const Case& c : {Case{"v", {1, 3, 2, 0}}, Case{"v DESC", {0, 2, 1, 3}}}) {
    MemoryPageManager pm;
    RecordTable table({{"v", aftInteger}});
    TABSBTreeRecordIndex index(&pm, table.fields, &table);
    index.Create(kSession, MakeIndexDef({c.column}));
    const std::vector<std::optional<int>> values = {9, std::nullopt, 4, std::nullopt};
    for (const auto& v : values) {
      std::string r = table.NewRecord();
      if (v) table.SetInt(r, 0, *v);
      index.InsertKey(kSession, r.data(), table.Add(r));
    }
    EXPECT_EQ(IndexOrder(index), c.order) << c.column;
  }
}

TEST(RecordIndex, FixedSizeColumnsAreNeverCutToTheMaximumIndexedSize) {
  MemoryPageManager pm;
  RecordTable table({{"v", aftInteger}});
  TABSBTreeRecordIndex index(&pm, table.fields, &table);
  index.Create(kSession, MakeIndexDef({"v"}, true, 2));
  for (int v : {70000, 4464, -1}) {  // 70000 and 4464 share their low two bytes
    std::string r = table.NewRecord();
    table.SetInt(r, 0, v);
    ASSERT_FALSE(index.IsDuplicateForInsert(kSession, r.data()));
    index.InsertKey(kSession, r.data(), table.Add(r));
  }
  EXPECT_EQ(IndexOrder(index), Slots({2, 1, 0}));
}

TEST(RecordIndex, CaseInsensitiveColumnFindsOtherCase) {
  MemoryPageManager pm;
  RecordTable table({{"s", aftString, 10}});
  TABSBTreeRecordIndex index(&pm, table.fields, &table);
  index.Create(kSession, MakeIndexDef({"s NOCASE"}, true));
  for (const char* text : {"abd", "ABC", "abb"}) {
    std::string r = table.NewRecord();
    table.SetText(r, 0, text);
    index.InsertKey(kSession, r.data(), table.Add(r));
  }
  std::string probe = table.NewRecord();
  table.SetText(probe, 0, "abc");
  TABSBTreePath path;
  ASSERT_TRUE(index.FindNearest(kSession, probe.data(), 1, 1, true, path));
  EXPECT_EQ(index.RecordIdAtPath(kSession, path).pageNo, 1);
  EXPECT_TRUE(index.IsDuplicateForInsert(kSession, probe.data()));
}

TEST(RecordIndex, RootSplitKeepsTheRootAndMergesCollapseItAgain) {
  MemoryPageManager pm;
  RecordTable table({{"v", aftInteger}});
  TABSBTreeRecordIndex index(&pm, table.fields, &table);
  index.Create(kSession, MakeIndexDef({"v"}));
  const int32_t root = index.Definition().rootPageNo;
  std::vector<std::string> records;
  // 512-byte pages hold (472 - 18) / 11 = 41 leaf entries.
  for (int i = 0; i < 42; ++i) {
    std::string r = table.NewRecord();
    table.SetInt(r, 0, i);
    records.push_back(r);
    index.InsertKey(kSession, r.data(), table.Add(r));
    EXPECT_EQ(index.Tree().Depth(kSession), i < 41 ? 1 : 2) << i;
  }
  EXPECT_EQ(index.Definition().rootPageNo, root);
  pm.CommitSession(kSession);
  const uint8_t* area = pm.StoredArea(root);
  EXPECT_EQ(area[btree::kRootFlag], 1);
  EXPECT_EQ(area[btree::kLeafFlag], 0);
  EXPECT_EQ(zud::GetU16(area + btree::kEntryCount), 2);
  EXPECT_EQ(std::vector<uint8_t>(area + btree::kHeaderSize, area + btree::kHeaderSize + 5), std::vector<uint8_t>(5, 0))
      << "the first node key is empty";

  // Grow to three levels, then delete everything but a few: leaves merge
  // into their previous siblings and the root collapses back to a leaf.
  for (int i = 42; i < 3000; ++i) {
    std::string r = table.NewRecord();
    table.SetInt(r, 0, (i * 7919) % 3000);
    records.push_back(r);
    index.InsertKey(kSession, r.data(), table.Add(r));
  }
  EXPECT_EQ(index.Tree().Depth(kSession), 3);
  EXPECT_NO_THROW(index.CheckIntegrity(kSession));
  for (int i = 0; i < 2990; ++i) {
    index.DeleteKey(kSession, records[static_cast<size_t>(i)].data(), {i, 0});
    if (i % 500 == 0) {
      ASSERT_NO_THROW(index.CheckIntegrity(kSession)) << i;
    }
  }
  EXPECT_EQ(index.Tree().Depth(kSession), 1);
  EXPECT_EQ(index.Definition().rootPageNo, root);
  EXPECT_EQ(index.EntryCount(kSession), 10);
  pm.CommitSession(kSession);
  EXPECT_EQ(pm.AllocatedPageCount(), 1) << "every page but the root was freed";
}

TEST(RecordIndex, RecordNumbersAndTheirErrors) {
  MemoryPageManager pm;
  RecordTable table({{"v", aftInteger}});
  TABSBTreeRecordIndex index(&pm, table.fields, &table);
  index.Create(kSession, MakeIndexDef({"v"}));
  ExpectEngineError([&] { index.GetRecordIdAt(kSession, 1); }, 20074);
  for (int i = 0; i < 500; ++i) {
    std::string r = table.NewRecord();
    table.SetInt(r, 0, 499 - i);
    index.InsertKey(kSession, r.data(), table.Add(r));
  }
  EXPECT_EQ(index.GetRecordIdAt(kSession, 1).pageNo, 499);
  EXPECT_EQ(index.GetRecordIdAt(kSession, 500).pageNo, 0);
  EXPECT_EQ(index.GetRecordIdAt(kSession, 0).pageNo, 499) << "a number below 1 is the first";
  ExpectEngineError([&] { index.GetRecordIdAt(kSession, 501); }, 20075);
  EXPECT_EQ(index.GetRecNo(kSession, table.rows[123].data(), {123, 0}), 500 - 123);
  EXPECT_EQ(index.GetRecNo(kSession, table.rows[123].data(), {124, 0}), -1);

  // Estimates from paths: 250..749 of 0..499 keys reversed is about half.
  std::string low = table.NewRecord(), high = table.NewRecord();
  table.SetInt(low, 0, 125);
  table.SetInt(high, 0, 374);
  const int64_t estimate = index.EstimateRecordCount(kSession, low.data(), 1, 5, high.data(), 1, 4, 500);
  EXPECT_NEAR(static_cast<double>(estimate), 250.0, 30.0);
  table.SetInt(low, 0, 1000);
  EXPECT_EQ(index.EstimateRecordCount(kSession, low.data(), 1, 5, high.data(), 1, 4, 500), 0);
}

TEST(RecordIndex, GetRecordStepsAndAnswersTheEnds) {
  MemoryPageManager pm;
  RecordTable table({{"v", aftInteger}});
  TABSBTreeRecordIndex index(&pm, table.fields, &table);
  index.Create(kSession, MakeIndexDef({"v"}));
  TABSBTreePath path;
  TABSRecordID id;
  std::string dest = table.NewRecord();
  EXPECT_EQ(index.GetRecord(kSession, kGetNext, true, false, path, id, dest.data()), kGetEOF);
  for (int v : {20, 10}) {
    std::string r = table.NewRecord();
    table.SetInt(r, 0, v);
    index.InsertKey(kSession, r.data(), table.Add(r));
  }
  ASSERT_EQ(index.GetRecord(kSession, kGetNext, true, false, path, id, dest.data()), kGetFound);
  EXPECT_EQ(id.pageNo, 1);
  EXPECT_EQ(dest, table.rows[1]);
  ASSERT_EQ(index.GetRecord(kSession, kGetNext, false, false, path, id, dest.data()), kGetFound);
  EXPECT_EQ(id.pageNo, 0);
  EXPECT_EQ(index.GetRecord(kSession, kGetNext, false, false, path, id, dest.data()), kGetEOF);
  ASSERT_EQ(index.GetRecord(kSession, kGetPrior, false, true, path, id, dest.data()), kGetFound);
  EXPECT_EQ(id.pageNo, 0);
  ASSERT_EQ(index.GetRecord(kSession, kGetPrior, false, false, path, id, dest.data()), kGetFound);
  EXPECT_EQ(index.GetRecord(kSession, kGetPrior, false, false, path, id, dest.data()), kGetBOF);
  ExpectEngineError([&] { index.GetRecord(kSession, kGetCurrent, false, false, path, id, dest.data()); }, 20053);
  table.rows.erase(1);
  EXPECT_EQ(index.GetRecord(kSession, kGetNext, true, false, path, id, dest.data()), kGetNotFound);
  TABSBTreePath empty;
  ExpectEngineError([&] { index.Next(kSession, empty); }, 20068);
  ExpectEngineError([&] { index.Prior(kSession, empty); }, 20069);
}

TEST(RecordIndex, DefinitionsThatCannotBeIndexedAndMissingTrees) {
  MemoryPageManager pm;
  RecordTable table({{"v", aftInteger}, {"b", aftBlob}, {"big", aftString, 400}});
  struct Case {
    std::vector<std::string> columns;
    int32_t maxIndexed;
    int32_t code;
  };
  for (const Case& c : {Case{{"b"}, 20, 20295}, Case{{"nope"}, 20, 20043}, Case{{"big"}, 400, 20078}}) {
    TABSBTreeRecordIndex index(&pm, table.fields, &table);
    ExpectEngineError([&] { index.Create(kSession, MakeIndexDef(c.columns, false, c.maxIndexed)); }, c.code);
  }
  TABSBTreeRecordIndex index(&pm, table.fields, &table);
  index.Open(MakeIndexDef({"v"}));  // no root page yet
  std::string r = table.NewRecord();
  ExpectEngineError([&] { index.InsertKey(kSession, r.data(), {0, 0}); }, 20119);
  TABSBTreePath path;
  ExpectEngineError([&] { index.First(kSession, path); }, 20119);
}

TEST(RecordIndex, EmptyKeepsTheRootAndDropFreesEveryPage) {
  MemoryPageManager pm;
  RecordTable table({{"v", aftInteger}});
  for (int i = 0; i < 400; ++i) {
    std::string r = table.NewRecord();
    table.SetInt(r, 0, i % 37);
    table.Add(r);
  }
  TABSBTreeRecordIndex index(&pm, table.fields, &table);
  index.Create(kSession, MakeIndexDef({"v"}));  // indexes the existing records
  EXPECT_EQ(index.EntryCount(kSession), 400);
  const int32_t root = index.Definition().rootPageNo;
  index.Empty(kSession);
  pm.CommitSession(kSession);
  EXPECT_EQ(index.EntryCount(kSession), 0);
  EXPECT_EQ(pm.AllocatedPageCount(), 1);
  index.Rebuild(kSession);
  EXPECT_EQ(index.EntryCount(kSession), 400);
  EXPECT_NO_THROW(index.CheckIntegrity(kSession));
  (void)root;
  index.Drop(kSession);
  pm.CommitSession(kSession);
  EXPECT_EQ(pm.AllocatedPageCount(), 0);
  EXPECT_EQ(index.Definition().rootPageNo, -1);
}

TEST(BlobPageIndex, FreeSpaceAndRoom) {
  MemoryPageManager pm;
  TABSBTreeBlobPageIndex index(&pm);
  index.Create(kSession);
  index.Insert(kSession, 12, 100);
  EXPECT_EQ(index.FreeSpaceOf(kSession, 12), 100);
  EXPECT_EQ(index.FreeSpaceOf(kSession, 13), -1);
  const int32_t area = pm.PageDataSize();
  EXPECT_TRUE(index.HasRoom(100, area - 103));
  EXPECT_FALSE(index.HasRoom(100, area - 102));
  EXPECT_TRUE(TABSBTreeRecordPageIndex::HasRoom(9, 10));
  EXPECT_FALSE(TABSBTreeRecordPageIndex::HasRoom(10, 10));
}

// ---------------------------------------------------------------------------
// Damaged pages: a two-level page index is committed, one stored page is
// damaged, and the cache is kept empty so every read sees the damage.

class DamagedPages : public ::testing::Test {
 public:
  void SetUp() override {
    index.Create(kSession);
    for (int32_t k = 0; k < 200; ++k) index.Insert(kSession, k * 2, static_cast<uint16_t>(k));
    pm.CommitSession(kSession);
    pm.SetCacheCapacity(0);
    root = index.RootPageNo();
    ASSERT_EQ(pm.StoredArea(root)[btree::kLeafFlag], 0);
    firstLeaf = zud::GetI32(Node(0) + 4);
    secondLeaf = zud::GetI32(Node(1) + 4);
  }
  uint8_t* Node(int entry) { return pm.StoredArea(root) + btree::kHeaderSize + entry * 8; }
  uint8_t* Leaf(int32_t page, int entry) { return pm.StoredArea(page) + btree::kHeaderSize + entry * 6; }

  MemoryPageManager pm;
  TABSBTreePageIndex index{&pm};
  int32_t root = -1, firstLeaf = -1, secondLeaf = -1;
};

TEST_F(DamagedPages, RaiseEngineErrorsInsteadOfLoopingOrReadingPastThePage) {
  struct Case {
    const char* name;
    std::function<void(DamagedPages&)> damage;
    std::function<void(TABSBTreePageIndex&)> use;
    int32_t code;
  };
  const auto find = [](TABSBTreePageIndex& ix) {
    TABSBTreePath p;
    ix.Find(kSession, 10, p);
  };
  const auto count = [](TABSBTreePageIndex& ix) { ix.Tree().EntryCount(kSession); };
  const auto check = [](TABSBTreePageIndex& ix) { ix.Tree().CheckIntegrity(kSession); };
  const std::vector<Case> cases = {
      {"impossible entry count",
       [](DamagedPages& t) { zud::PutU16(t.pm.StoredArea(t.firstLeaf) + btree::kEntryCount, 60000); }, find, 20028},
      {"wrong key size", [](DamagedPages& t) { zud::PutU16(t.pm.StoredArea(t.firstLeaf) + btree::kKeySize, 8); }, find,
       20028},
      {"node without entries", [](DamagedPages& t) { zud::PutU16(t.pm.StoredArea(t.root) + btree::kEntryCount, 0); },
       find, 20028},
      {"negative child", [](DamagedPages& t) { zud::PutU32(t.Node(0) + 4, static_cast<uint32_t>(-7)); }, find, 20028},
      {"child past the file", [](DamagedPages& t) { zud::PutU32(t.Node(0) + 4, 99999); }, find, 20299},
      {"child is the root", [](DamagedPages& t) { zud::PutU32(t.Node(0) + 4, static_cast<uint32_t>(t.root)); }, find,
       20028},
      {"leaf chain loops",
       [](DamagedPages& t) {
         zud::PutU32(t.pm.StoredArea(t.secondLeaf) + btree::kNextPage, static_cast<uint32_t>(t.firstLeaf));
       },
       count, 20028},
      {"keys out of order", [](DamagedPages& t) { zud::PutU32(t.Leaf(t.firstLeaf, 3), 1000000); }, check, 20028},
      {"separators out of order", [](DamagedPages& t) { zud::PutU32(t.Node(2), 0); }, check, 20029},
      {"sibling link broken",
       [](DamagedPages& t) {
         zud::PutU32(t.pm.StoredArea(t.secondLeaf) + btree::kPrevPage, static_cast<uint32_t>(-1));
       },
       check, 20033},
      {"child listed twice", [](DamagedPages& t) { zud::PutU32(t.Node(1) + 4, static_cast<uint32_t>(t.firstLeaf)); },
       check, 20032},
      {"child listed twice, dropped",
       [](DamagedPages& t) { zud::PutU32(t.Node(1) + 4, static_cast<uint32_t>(t.firstLeaf)); },
       [](TABSBTreePageIndex& ix) { ix.Drop(kSession); }, 20032},
      {"leaf linked to itself",
       [](DamagedPages& t) {
         zud::PutU32(t.pm.StoredArea(t.firstLeaf) + btree::kNextPage, static_cast<uint32_t>(t.firstLeaf));
       },
       find, 20028},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryPageManager::Snapshot saved = pm.Save();
    c.damage(*this);
    ExpectEngineError([&] { c.use(index); }, c.code);
    pm.Restore(saved);
    EXPECT_NO_THROW(index.Tree().CheckIntegrity(kSession));
  }
}

TEST_F(DamagedPages, NavigationRefusesABrokenSiblingLink) {
  zud::PutU32(pm.StoredArea(firstLeaf) + btree::kNextPage, static_cast<uint32_t>(root));
  TABSBTreePath path;
  ASSERT_TRUE(index.First(kSession, path));
  const auto walk = [&] {
    while (index.Next(kSession, path)) {
    }
  };
  ExpectEngineError(walk, 20070);
}

}  // namespace
