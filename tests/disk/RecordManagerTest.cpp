// Record pages and the disk record manager: slot layout, a differential run
// against a std::map, emptied pages leaving the record page index, emptying
// the table, and damaged record pages.
#include <map>
#include <random>

#include "DiskTestUtil.h"
#include "core/ZUDRecordLayout.h"
#include "disk/DiskDatabase.h"
#include "disk/DiskRecordManager.h"
#include "disk/RecordPage.h"
#include "support/FieldList.h"

namespace {

using namespace tiv::disk;
constexpr int32_t kSession = 0;
constexpr int32_t kTableID = 77;

struct Row {
  int32_t n;
  std::string s;
  bool operator==(const Row&) const = default;
};

struct IdLess {
  bool operator()(const TABSRecordID& a, const TABSRecordID& b) const { return a.Compare(b) < 0; }
};

// A database with one table's worth of record storage: n INTEGER, s
// STRING(stringSize).
struct Store {
  ScratchDir dir;
  std::string path = dir.File("rec.zud");
  TABSFieldDefs fields;
  std::unique_ptr<TABSDiskDatabase> db;
  std::unique_ptr<TABSDiskRecordManager> rm;
  std::vector<char> buffer;

  explicit Store(int32_t stringSize = 94) {
    AddFields(fields, {{"n", aftInteger}, {"s", aftString, stringSize}});
    TABSDiskDatabase().CreateDatabase(path, TABSPassword{});
    Open(-1);
    rm->PageIndex().Create(kSession);
    Commit();
  }
  void Open(int32_t root, int32_t counter = 0, int64_t count = 0) {
    rm.reset();
    db = std::make_unique<TABSDiskDatabase>();
    bool mu = false, nr = false, ro = false;
    db->OpenDatabase(path, TABSPassword{}, mu, false, nr, ro);
    rm = std::make_unique<TABSDiskRecordManager>(db->PageManager(), fields, kTableID);
    if (root != -1) rm->PageIndex().SetRootPageNo(root);
    rm->SetState(counter, count);
    buffer.assign(static_cast<size_t>(fields.MemoryRecordSize()), 0);
  }
  void Reopen() { Open(rm->PageIndex().RootPageNo(), rm->ModificationCounter(), rm->RecordCount()); }
  void Commit() { db->PageManager().CommitSession(kSession, true); }
  const char* Record(const Row& r) {
    InitNewRecord(fields, buffer.data());
    TABSVariant v;
    v.SetAsInteger(r.n);
    WriteFieldValue(fields, buffer.data(), 0, v);
    TABSVariant t;
    t.SetAsString(r.s);
    WriteFieldValue(fields, buffer.data(), 1, t);
    return buffer.data();
  }
  Row Read(const char* record) {
    TABSVariant n, s;
    ReadFieldValue(fields, record, 0, n);
    ReadFieldValue(fields, record, 1, s);
    return {n.AsInteger(), s.AsString()};
  }
  TABSRecordID Insert(const Row& r) {
    TABSRecordID id;
    EXPECT_TRUE(rm->Insert(kSession, Record(r), id));
    return id;
  }
  // Every record in physical order, walked forward or backward.
  std::vector<std::pair<TABSRecordID, Row>> Walk(bool forward) {
    std::vector<std::pair<TABSRecordID, Row>> out;
    std::vector<char> dest(buffer.size());
    TABSGetRecordRequest q;
    q.mode = forward ? grmNext : grmPrior;
    q.beforeFirst = forward;
    q.afterLast = !forward;
    q.destination = dest.data();
    for (;;) {
      rm->GetRecord(kSession, q);
      if (q.result != grrFound) {
        EXPECT_EQ(q.result, forward ? grrEOF : grrBOF);
        break;
      }
      out.emplace_back(q.recordID, Read(dest.data()));
      q.beforeFirst = q.afterLast = false;
    }
    if (!forward) std::reverse(out.begin(), out.end());
    return out;
  }
  int64_t PageAt(int32_t pageNo) const { return kNewPageAreaOffset + int64_t{pageNo} * kDefaultPageSize; }
};

TEST(RecordPage, SlotsAndLayout) {
  EXPECT_EQ(RecordSlotsPerPage(4056, 100), 40);
  EXPECT_EQ(RecordSlotsPerPage(4056, 4054), 1);
  EXPECT_EQ(RecordSlotsPerPage(4056, 4055), 0);  // 4055 / 4055.125
  EXPECT_EQ(RecordSlotsPerPage(4056, 1), 3604);  // 451 bitmap bytes + 3604 slots
  Store st;
  ASSERT_EQ(st.fields.StoredRecordSize(), 100);
  ASSERT_EQ(st.rm->SlotsPerPage(), 40);
  std::vector<TABSRecordID> ids;
  for (int i = 0; i < 3; ++i) ids.push_back(st.Insert({1000 + i, "r" + std::to_string(i)}));
  EXPECT_TRUE(st.rm->Delete(kSession, ids[1]));
  st.Commit();
  const Bytes file = ReadAll(st.path);
  const int64_t data = st.PageAt(ids[0].pageNo) + kPageHeaderSize;
  EXPECT_EQ(GetU16(&file[st.PageAt(ids[0].pageNo) + kPgType]), ptTableRecord);
  EXPECT_EQ(GetI32(&file[st.PageAt(ids[0].pageNo) + kPgOwnerTableID]), kTableID);
  EXPECT_EQ(file[data], 0b101);                  // slots 0 and 2 used
  EXPECT_EQ(GetI32(&file[data + 5 + 1]), 1000);  // slot 0 after the 5 bitmap bytes and the null bitmap
  EXPECT_EQ(GetI32(&file[data + 5 + 200 + 1]), 1002);
  // A record no page can hold is refused when the manager is set up.
  TABSFieldDefs huge;
  AddFields(huge, {{"big", aftString, 5000}});
  ExpectEngineError([&] { TABSDiskRecordManager(st.db->PageManager(), huge, 1); }, 20174, "Record is too large");
}

TEST(DiskRecordManager, RandomChangesMatchAModelAcrossCommitsAndReopen) {
  Store st;
  std::map<TABSRecordID, Row, IdLess> model;
  std::mt19937 rng(4242);
  for (int step = 0; step < 4000; ++step) {
    const int op = static_cast<int>(rng() % 10);
    if (model.empty() || op < 5) {
      const Row r{static_cast<int32_t>(rng()), std::string(rng() % 60, static_cast<char>('a' + step % 26))};
      const TABSRecordID id = st.Insert(r);
      ASSERT_TRUE(model.emplace(id, r).second) << "identifier handed out twice";
    } else {
      auto it = model.begin();
      std::advance(it, static_cast<long>(rng() % model.size()));
      if (op < 7) {
        it->second.n = static_cast<int32_t>(rng());
        ASSERT_TRUE(st.rm->Update(kSession, st.Record(it->second), it->first));
      } else {
        ASSERT_TRUE(st.rm->Delete(kSession, it->first));
        EXPECT_FALSE(st.rm->Delete(kSession, it->first));
        EXPECT_FALSE(st.rm->Update(kSession, st.Record(it->second), it->first));
        model.erase(it);
      }
    }
    if (step % 500 == 499) st.Commit();
  }
  st.Commit();
  const auto check = [&] {
    ASSERT_EQ(st.rm->RecordCount(), static_cast<int64_t>(model.size()));
    EXPECT_EQ(st.rm->PageIndex().RecordCount(kSession), static_cast<int64_t>(model.size()));
    const std::vector<std::pair<TABSRecordID, Row>> want(model.begin(), model.end());
    const auto fwd = st.Walk(true);
    ASSERT_EQ(fwd.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(fwd[i].first, want[i].first);
      EXPECT_EQ(fwd[i].second, want[i].second);
    }
    const auto bwd = st.Walk(false);
    ASSERT_EQ(bwd.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(bwd[i].first, want[i].first);
    // Ordinals follow the index order (page number, then slot): the model's.
    for (size_t i = 0; i < want.size(); i += 37) {
      TABSRecordID id;
      ASSERT_TRUE(st.rm->RecordByOrdinal(kSession, static_cast<int64_t>(i) + 1, id));
      EXPECT_EQ(id, want[i].first);
      EXPECT_EQ(st.rm->OrdinalOf(kSession, want[i].first), static_cast<int64_t>(i) + 1);
      EXPECT_EQ(st.rm->FromPhysicalRecNo(st.rm->PhysicalRecNo(id)), id);
    }
    TABSRecordID none;
    EXPECT_FALSE(st.rm->RecordByOrdinal(kSession, static_cast<int64_t>(want.size()) + 1, none));
    for (uint16_t slot = 0; slot < 40; ++slot) {
      const TABSRecordID empty{want[0].first.pageNo, slot};
      if (!model.count(empty)) {
        EXPECT_EQ(st.rm->OrdinalOf(kSession, empty), -1);
      }
    }
  };
  check();
  st.Reopen();
  check();
}

TEST(DiskRecordManager, AnEmptiedPageLeavesTheIndexAndTheMap) {
  Store st;
  std::vector<TABSRecordID> ids;
  for (int i = 0; i < 100; ++i) ids.push_back(st.Insert({i, "x"}));  // pages of 40, 40, 20
  st.Commit();
  const auto pages = st.rm->IndexedPages(kSession);
  ASSERT_EQ(pages.size(), 3u);
  const int32_t middle = pages[1].first;
  for (const TABSRecordID& id : ids)
    if (id.pageNo == middle) {
      ASSERT_TRUE(st.rm->Delete(kSession, id));
    }
  EXPECT_EQ(st.db->PageManager().DeletedPages(kSession), std::vector<int32_t>{middle});
  st.Commit();
  for (const auto& [pageNo, count] : st.rm->IndexedPages(kSession)) EXPECT_NE(pageNo, middle);
  EXPECT_FALSE(st.db->PageManager().FreeSpaceManager().IsPageUsed(middle));
  // Later inserts fill the page with room first, then new pages; every
  // record stays readable.
  for (int i = 0; i < 60; ++i) st.Insert({1000 + i, "y"});
  st.Commit();
  st.Reopen();
  EXPECT_EQ(st.Walk(true).size(), 120u);
  EXPECT_EQ(st.rm->PageIndex().RecordCount(kSession), 120);
}

TEST(DiskRecordManager, EmptyingGivesPagesBackAndTheCounterOnlyGrows) {
  Store st;
  for (int i = 0; i < 90; ++i) st.Insert({i, "z"});
  st.Commit();
  const auto pages = st.rm->IndexedPages(kSession);
  const int32_t before = st.rm->ModificationCounter();
  st.rm->Clear(kSession);
  st.Commit();
  EXPECT_EQ(st.rm->ModificationCounter(), before + 1);
  EXPECT_EQ(st.rm->RecordCount(), 0);
  EXPECT_TRUE(st.rm->IndexedPages(kSession).empty());
  for (const auto& [pageNo, count] : pages) EXPECT_FALSE(st.db->PageManager().FreeSpaceManager().IsPageUsed(pageNo));
  EXPECT_TRUE(st.Walk(true).empty());
  EXPECT_EQ(st.rm->PhysicalRecNoBound(kSession), 1);
  st.Insert({5, "again"});
  EXPECT_EQ(st.Walk(true).size(), 1u);
}

TEST(DiskRecordManager, DamagedRecordPagesAreNotFoundAndRebuildRecovers) {
  Store st;
  std::vector<TABSRecordID> ids;
  for (int i = 0; i < 100; ++i) ids.push_back(st.Insert({i, "d"}));
  st.Commit();
  const int32_t root = st.rm->PageIndex().RootPageNo();
  const auto pages = st.rm->IndexedPages(kSession);
  ASSERT_EQ(pages.size(), 3u);
  st.rm.reset();
  st.db.reset();
  Bytes file = ReadAll(st.path);
  PutI32(&file[st.PageAt(pages[0].first) + kPgOwnerTableID], 999);  // another table's page
  WriteAll(st.path, file);
  st.Open(root, 100, 100);
  TABSGetRecordRequest q;
  q.mode = grmCurrent;
  q.recordID = ids[0];
  st.rm->GetRecord(kSession, q);
  EXPECT_EQ(q.result, grrNotFound);
  EXPECT_FALSE(st.rm->Update(kSession, st.Record({1, "u"}), ids[0]));
  EXPECT_FALSE(st.rm->Delete(kSession, ids[0]));
  EXPECT_EQ(st.Walk(true).size(), 60u);  // the walk passes over it
  // An index that says the foreign page has room sends an insert there:
  // the disagreement is an error naming the page, not a write into it.
  st.rm->PageIndex().Update(kSession, pages[0].first, 10);
  ExpectEngineError([&] { st.Insert({7, "i"}); }, 20299, "Page No: " + std::to_string(pages[0].first) + ", type 10");
  st.db->PageManager().RollbackSession(kSession);
  // The repair path rebuilds the index from the pages that are this
  // table's: the foreign page drops out.
  st.rm->RebuildPageIndex(kSession);
  EXPECT_EQ(st.rm->RecordCount(), 60);
  EXPECT_EQ(st.rm->PageIndex().RecordCount(kSession), 60);
}

}  // namespace
