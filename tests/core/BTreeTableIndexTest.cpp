// The B+-tree behind the table data's abstract index: a table whose
// indexes are B-trees on a memory page manager keeps them in step through
// inserts, updates and deletes, refuses true duplicates of long strings
// only, and steps through an index from the cursor's record.
#include <gtest/gtest.h>

#include "TableTestSupport.h"
#include "core/ABSBTreeTableIndex.h"
#include "support/BTreeTestSupport.h"
#include "support/FieldList.h"

namespace {

class BTreeTableData : public testsupport::MapTableData {
 public:
  using MapTableData::MapTableData;
  btreetest::MemoryPageManager indexPages;
  std::unique_ptr<TABSIndex> CreateIndexObject(TABSBaseIndexManager& manager, const TABSIndexDef&) override {
    return std::make_unique<TABSBTreeTableIndex>(&manager, &indexPages);
  }
};

class BTreeDatabase : public testsupport::MapDatabaseData {
 public:
  std::unique_ptr<TABSTableData> CreateTableData(const std::string& name) override {
    return std::make_unique<BTreeTableData>(*this, name);
  }
};

class BTreeTable : public ::testing::Test {
 protected:
  void SetUp() override {
    session.sessionID = 1;
    db.AttachSession(session);
    data = static_cast<BTreeTableData*>(&db.FindOrCreateTableData("t"));
    TABSFieldDefs fields;
    data->SetFieldDefs(AddFields(fields, {{"n", aftInteger}, {"s", aftString, 40}}));
    TABSIndexDef def;
    def.SetName("by_s");
    def.unique = true;
    def.FillColumns({"s"}, {"ASC"}, {"CASE"});
    indexID = data->CreateIndex(session, def);
  }
  std::vector<char> Record(int n, const std::string& s) {
    std::vector<char> r(static_cast<size_t>(data->FieldDefs().MemoryRecordSize()));
    data->InitRecordForInsert(r.data());
    TABSVariant v;
    v.SetAsInteger(n);
    WriteFieldValue(data->FieldDefs(), r.data(), 0, v);
    TABSVariant t;
    t.SetAsString(s);
    WriteFieldValue(data->FieldDefs(), r.data(), 1, t);
    return r;
  }
  TABSIndex& Index() { return data->IndexManager().IndexByID(indexID); }
  // The `n` of every record in index order.
  std::vector<int> Order() {
    std::vector<int> order;
    TABSGetRecordRequest request;
    request.mode = grmNext;
    request.beforeFirst = true;
    std::vector<char> r(static_cast<size_t>(data->FieldDefs().MemoryRecordSize()));
    request.destination = r.data();
    TABSIndexPositionCache cache;
    for (;;) {
      Index().GetRecord(session.sessionID, request, &cache);
      if (request.result != grrFound) break;
      TABSVariant v;
      ReadFieldValue(data->FieldDefs(), r.data(), 0, v);
      order.push_back(static_cast<int>(v.AsLargeint()));
      request.beforeFirst = false;
    }
    return order;
  }

  BTreeDatabase db;
  TABSSessionInfo session;
  BTreeTableData* data = nullptr;
  int32_t indexID = -1;
  const std::string prefix = std::string(20, 'x');
};

TEST_F(BTreeTable, KeepsTheIndexInStepAndRefusesOnlyTrueDuplicates) {
  std::vector<TABSRecordID> ids;
  for (const auto& [n, s] :
       std::vector<std::pair<int, std::string>>{{1, prefix + "d"}, {2, prefix + "b"}, {3, "a"}, {4, prefix + "c"}}) {
    auto r = Record(n, s);
    ids.push_back(data->InsertRecord(session, r.data()));
  }
  EXPECT_EQ(Order(), (std::vector<int>{3, 2, 4, 1}));
  auto same = Record(5, prefix + "b");
  EXPECT_THROW(data->InsertRecord(session, same.data()), EABSException);
  EXPECT_EQ(Order(), (std::vector<int>{3, 2, 4, 1}));

  // Updating a record to another long value with the same first 20
  // characters is not a duplicate of itself.
  auto changed = Record(2, prefix + "e");
  data->UpdateRecord(session, ids[1], changed.data());
  EXPECT_EQ(Order(), (std::vector<int>{3, 4, 1, 2}));
  ASSERT_TRUE(data->DeleteRecord(session, ids[3]));
  EXPECT_EQ(Order(), (std::vector<int>{3, 1, 2}));
  auto& tree = static_cast<TABSBTreeTableIndex&>(Index()).Tree();
  EXPECT_NO_THROW(tree.CheckIntegrity(session.sessionID));
  EXPECT_EQ(Index().GetRecNo(session.sessionID, changed.data(), ids[1]), 3);
}

TEST_F(BTreeTable, StepsFromARecordWhoseEntryHasGone) {
  std::vector<TABSRecordID> ids;
  std::vector<std::vector<char>> records;
  for (int n = 0; n < 300; ++n) {
    records.push_back(Record(n, "k" + std::to_string(1000 + n)));
    ids.push_back(data->InsertRecord(session, records.back().data()));
  }
  ASSERT_TRUE(data->DeleteRecord(session, ids[150]));
  std::vector<char> r = records[150];
  TABSGetRecordRequest request;
  request.mode = grmNext;
  request.recordID = ids[150];
  request.destination = r.data();
  Index().GetRecord(session.sessionID, request, nullptr);
  ASSERT_EQ(request.result, grrFound);
  EXPECT_EQ(request.recordID, ids[151]);
  r = records[150];
  request.mode = grmPrior;
  request.recordID = ids[150];
  Index().GetRecord(session.sessionID, request, nullptr);
  ASSERT_EQ(request.result, grrFound);
  EXPECT_EQ(request.recordID, ids[149]);
}

// Range scans both ways, DISTINCT over leading columns, and estimates.
TEST_F(BTreeTable, ScansRangesAppliesDistinctAndEstimates) {
  data->DropIndex(session, indexID);
  TABSIndexDef def;
  def.SetName("by_s_again");
  def.FillColumns({"s"}, {"ASC"}, {"CASE"});
  indexID = data->CreateIndex(session, def);
  std::vector<TABSRecordID> ids;
  for (int n = 0; n < 200; ++n) {
    auto r = Record(n, "k" + std::to_string(100 + n / 2));  // each key twice
    ids.push_back(data->InsertRecord(session, r.data()));
  }
  auto low = Record(0, "k120"), high = Record(0, "k124");
  const TABSIndexBound from{low.data(), 1, scGreaterOrEqual}, to{high.data(), 1, scLower};
  struct Case {
    bool forward;
    std::vector<int> slots;
  };
  for (const Case& c : {Case{true, {40, 41, 42, 43, 44, 45, 46, 47}}, Case{false, {47, 46, 45, 44, 43, 42, 41, 40}}}) {
    auto state = Index().CreateScanState(from, to, c.forward);
    std::vector<int> slots;
    TABSRecordID id;
    while (Index().ScanStep(session.sessionID, *state, id)) slots.push_back(id.pageNo);
    EXPECT_EQ(slots, c.slots) << (c.forward ? "forward" : "backward");
    Index().FreeScanState(state);
  }

  TABSRecordBitmap bitmap;
  bitmap.bits.Resize(200);
  bitmap.bits.SetAll(true);
  bitmap.bits.Set(10, false);  // a filtered-out record never counts as kept
  Index().ApplyDistinct(session.sessionID, bitmap, 1);
  EXPECT_EQ(bitmap.bits.SetCount(), 100);
  EXPECT_TRUE(bitmap.bits.Get(11));
  EXPECT_TRUE(bitmap.bits.Get(12));
  EXPECT_FALSE(bitmap.bits.Get(13));

  const int64_t estimate = Index().EstimateRecordCount(session.sessionID, {low.data(), 1, scGreaterOrEqual},
                                                       {high.data(), 1, scLowerOrEqual});
  EXPECT_NEAR(static_cast<double>(estimate), 10.0, 6.0);
}

}  // namespace
