// The table data's cursor operations (fetching, key search, filters with
// their bitmap, counts and record numbers, the neighbour after a delete),
// temporary indexes, BLOB values and the commit hooks, over the test-only
// storage of TableTestSupport.h. Orders are checked against a plain model:
// the rows sorted by (key, slot).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "TableTestSupport.h"
#include "support/EngineError.h"
#include "support/FieldList.h"

using namespace testsupport;

namespace {

// Table t(k INTEGER, s STRING(10), b BLOB) with an index on k.
class Fixture {
 public:
  Fixture() {
    session.sessionID = 1;
    db.AttachSession(session);
    data = static_cast<MapTableData*>(&db.FindOrCreateTableData("t"));
    TABSFieldDefs fields;
    data->SetFieldDefs(AddFields(fields, {{"k", aftInteger}, {"s", aftString, 10}, {"b", aftBlob}}));
    TABSIndexDef def;
    def.SetName("by_k");
    def.FillColumns({"k"}, {"ASC"}, {"CASE"});
    byK = data->CreateIndex(session, def);
    data->PrepareCursor(cursor);
  }
  std::vector<char> Row(int64_t k) {
    std::vector<char> r(static_cast<size_t>(data->FieldDefs().MemoryRecordSize()));
    data->InitRecordForInsert(r.data());
    TABSVariant v(bftLargeint);
    v.SetAsLargeint(k);
    WriteFieldValue(data->FieldDefs(), r.data(), 0, v);
    return r;
  }
  TABSRecordID Insert(int64_t k) {
    auto r = Row(k);
    return data->InsertRecord(session, r.data());
  }
  static int64_t K(const char* record, const TABSFieldDefs& fields) {
    TABSVariant v;
    ReadFieldValue(fields, record, 0, v);
    return v.AsLargeint();
  }
  int64_t CursorK() { return K(cursor.Record(), data->FieldDefs()); }
  // Every key the cursor sees stepping in `mode` from its end.
  std::vector<int64_t> Walk(TABSGetRecordMode mode = grmNext) {
    if (mode == grmNext)
      cursor.SetBeforeFirst();
    else
      cursor.SetAfterLast();
    std::vector<int64_t> seen;
    while (data->FetchRecord(session, cursor, mode) == grrFound) seen.push_back(CursorK());
    return seen;
  }

  MapDatabaseData db;
  TABSSessionInfo session;
  MapTableData* data;
  int32_t byK = -1;
  TABSTableCursor cursor;
};

}  // namespace

TEST(BitsArray, AgreesWithModel) {
  std::mt19937 rng(7);
  TABSBitsArray bits;
  std::vector<bool> model;
  for (int step = 0; step < 4000; ++step) {
    const int what = static_cast<int>(rng() % 10);
    if (what == 0) {
      const int64_t n = rng() % 70;
      bits.Resize(n);
      model.resize(static_cast<size_t>(n), false);
    } else if (!model.empty()) {
      const int64_t i = rng() % model.size();
      const bool v = rng() % 3 != 0;
      bits.Set(i, v);
      model[static_cast<size_t>(i)] = v;
    }
    const int64_t set = std::count(model.begin(), model.end(), true);
    ASSERT_EQ(bits.Count(), static_cast<int64_t>(model.size()));
    ASSERT_EQ(bits.SetCount(), set);
    const int64_t p = model.empty() ? 0 : rng() % (model.size() + 1);
    ASSERT_EQ(bits.SetBitsBefore(p), std::count(model.begin(), model.begin() + p, true));
    if (set > 0) {
      const int64_t n = 1 + rng() % set;
      int64_t at = -1;
      for (int64_t i = 0, seen = 0; i < static_cast<int64_t>(model.size()); ++i)
        if (model[static_cast<size_t>(i)] && ++seen == n) at = i;
      ASSERT_EQ(bits.NthSetBit(n), at);
    }
    int64_t next = -1, prior = -1;
    for (int64_t i = p + 1; i < static_cast<int64_t>(model.size()) && next < 0; ++i)
      if (model[static_cast<size_t>(i)]) next = i;
    for (int64_t i = std::min<int64_t>(p, model.size()) - 1; i >= 0 && prior < 0; --i)
      if (model[static_cast<size_t>(i)]) prior = i;
    ASSERT_EQ(bits.NextSetBit(p), next) << p;
    ASSERT_EQ(bits.PriorSetBit(p), prior) << p;
    const auto clear = std::find(model.begin(), model.end(), false);
    ASSERT_EQ(bits.FindFirst(false), clear == model.end() ? -1 : clear - model.begin());
  }
  // Shrinking forgets the cut bits: growing again gives clear ones.
  bits.Resize(16);
  bits.SetAll(true);
  bits.Resize(3);
  bits.Resize(16);
  EXPECT_EQ(bits.SetCount(), 3);
  EXPECT_FALSE(bits.Get(15));
  EXPECT_EQ(bits.NthSetBit(2), 1);

  EXPECT_EQ(NativeCodeOf([&] { bits.Get(16); }), 10394);
  EXPECT_EQ(NativeCodeOf([&] { bits.Set(-1, true); }), 10395);
  EXPECT_EQ(NativeCodeOf([&] { bits.NthSetBit(4); }), 10428);
}

TEST(CursorFetch, OrdersEndsAndVanishedRecords) {
  Fixture f;
  // Empty: both directions end after the last record.
  EXPECT_EQ(f.data->FetchRecord(f.session, f.cursor, grmNext), grrEOF);
  EXPECT_EQ(f.data->FetchRecord(f.session, f.cursor, grmPrior), grrEOF);

  const std::vector<int64_t> keys = {5, 3, 9, 3, 1};
  for (int64_t k : keys) f.Insert(k);
  // Physical order is insertion order; the index orders by key, then slot.
  EXPECT_EQ(f.Walk(), keys);
  EXPECT_EQ(f.Walk(grmPrior), std::vector<int64_t>(keys.rbegin(), keys.rend()));
  f.cursor.indexID = f.byK;
  EXPECT_EQ(f.Walk(), (std::vector<int64_t>{1, 3, 3, 5, 9}));
  EXPECT_EQ(f.Walk(grmPrior), (std::vector<int64_t>{9, 5, 3, 3, 1}));
  EXPECT_TRUE(f.cursor.beforeFirst);
  EXPECT_EQ(f.data->FetchRecord(f.session, f.cursor, grmCurrent), grrBOF);

  // On a record: the trailer names it; when another cursor deletes it, a
  // re-read reports it gone and leaves the buffer alone.
  f.cursor.SetBeforeFirst();
  ASSERT_EQ(f.data->FetchRecord(f.session, f.cursor, grmNext), grrFound);
  EXPECT_EQ(TABSRecordID::Read(f.cursor.buffer.data() + f.cursor.layout.recordIDOffset), f.cursor.recordID);
  const TABSRecordID one = f.cursor.recordID;
  ASSERT_TRUE(f.data->DeleteRecord(f.session, one));
  EXPECT_EQ(f.data->FetchRecord(f.session, f.cursor, grmCurrent), grrNotFound);
  EXPECT_EQ(f.CursorK(), 1);
  EXPECT_FALSE(f.data->PositionOnKey(f.session, f.cursor, one));
  // Stepping on from the vanished record still follows the index.
  EXPECT_EQ(f.data->FetchRecord(f.session, f.cursor, grmNext), grrFound);
  EXPECT_EQ(f.CursorK(), 3);
  ASSERT_EQ(f.data->FetchRecord(f.session, f.cursor, grmNext), grrFound);
  const TABSRecordID three = f.cursor.recordID;
  ASSERT_TRUE(f.data->DeleteRecord(f.session, three));
  EXPECT_EQ(f.data->FetchRecord(f.session, f.cursor, grmPrior), grrFound);
  EXPECT_EQ(f.CursorK(), 3);
  EXPECT_LT(f.cursor.recordID.Compare(three), 0);
}

TEST(CursorFilter, CountsNumbersAndStepsMatchModel) {
  struct Case {
    const char* what;
    bool index, bitmap, range, filter;
  };
  const Case cases[] = {
      {"filter, physical", false, false, false, true},
      {"filter, physical, bitmap", false, true, false, true},
      {"filter, index", true, false, false, true},
      {"filter, index, bitmap", true, true, false, true},
      {"range", true, false, true, false},
      {"range and filter, bitmap", true, true, true, true},
  };
  const std::vector<int64_t> keys = {8, 2, 7, 4, 4, 10, 1, 6, 3};
  for (const Case& c : cases) {
    Fixture f;
    std::vector<std::pair<int64_t, int32_t>> rows;  // model: (key, slot)
    for (int64_t k : keys) rows.push_back({k, f.Insert(k).pageNo});
    auto lo = f.Row(3), hi = f.Row(8);
    if (c.index) f.cursor.indexID = f.byK;
    f.cursor.useBitmap = c.bitmap;
    if (c.range) {
      f.cursor.range.active = true;
      f.cursor.range.startKey = lo, f.cursor.range.startFieldCount = 1;
      f.cursor.range.endKey = hi, f.cursor.range.endFieldCount = 1, f.cursor.range.endExclusive = true;
    }
    if (c.filter) f.cursor.recordFilter = [&](const char* r) { return Fixture::K(r, f.data->FieldDefs()) % 2 == 0; };
    auto passes = [&](int64_t k) { return (!c.range || (k >= 3 && k < 8)) && (!c.filter || k % 2 == 0); };

    if (c.index) std::sort(rows.begin(), rows.end());
    std::vector<int64_t> expected;
    for (const auto& row : rows)
      if (passes(row.first)) expected.push_back(row.first);

    EXPECT_EQ(f.Walk(), expected) << c.what;
    EXPECT_EQ(f.Walk(grmPrior), std::vector<int64_t>(expected.rbegin(), expected.rend())) << c.what;
    EXPECT_EQ(f.data->GetCursorRecordCount(f.session, f.cursor), static_cast<int64_t>(expected.size())) << c.what;
    for (size_t n = 1; n <= expected.size(); ++n) {
      ASSERT_TRUE(f.data->SetRecNo(f.session, f.cursor, static_cast<int64_t>(n))) << c.what;
      EXPECT_EQ(f.CursorK(), expected[n - 1]) << c.what << " #" << n;
      EXPECT_EQ(f.data->GetRecNo(f.session, f.cursor), static_cast<int64_t>(n)) << c.what;
    }
    // Past the count: the last record; below 1: the first.
    f.data->SetRecNo(f.session, f.cursor, 99);
    EXPECT_EQ(f.CursorK(), expected.back()) << c.what;
    f.data->SetRecNo(f.session, f.cursor, -4);
    EXPECT_EQ(f.CursorK(), expected.front()) << c.what;

    // A change through another path is seen at once: the bitmap is stale.
    f.Insert(6);
    EXPECT_EQ(f.data->GetCursorRecordCount(f.session, f.cursor), static_cast<int64_t>(expected.size()) + 1) << c.what;
  }
}

// A walk from an end starts at the near bound of the cursor's range or of
// its scan on the same index; a scan builds the bitmap from its range alone
// and an empty one reads nothing.
TEST(CursorFilter, WalksAndScansTouchOnlyTheirRange) {
  Fixture f;
  for (int64_t k = 1; k <= 200; ++k) f.Insert(k);
  auto& records = static_cast<MapRecordManager&>(f.data->RecordManager());
  f.cursor.indexID = f.byK;
  const std::vector<char> at190 = f.Row(190), at10 = f.Row(10);
  f.cursor.range.active = true;
  f.cursor.range.startKey = at190, f.cursor.range.startFieldCount = 1;
  records.reads = 0;
  EXPECT_EQ(f.Walk().size(), 11u);
  EXPECT_LT(records.reads, 30) << "the walk started at 190";
  f.cursor.range = TABSCursorRange{};
  f.cursor.range.active = true;
  f.cursor.range.endKey = at10, f.cursor.range.endFieldCount = 1, f.cursor.range.endExclusive = true;
  records.reads = 0;
  EXPECT_EQ(f.Walk(grmPrior), (std::vector<int64_t>{9, 8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_LT(records.reads, 30) << "the walk back started below 10";
  f.cursor.range = TABSCursorRange{};

  // A scan above 195 (its filter says the same), stepping and counting.
  f.cursor.recordFilter = [&](const char* r) { return Fixture::K(r, f.data->FieldDefs()) > 195; };
  f.cursor.scan.active = true;
  f.cursor.scan.indexID = f.byK;
  const std::vector<char> at195 = f.Row(195);
  f.cursor.scan.lowerKey = at195, f.cursor.scan.lowerFieldCount = 1, f.cursor.scan.lowerExclusive = true;
  for (const bool bitmap : {false, true}) {
    f.cursor.useBitmap = bitmap;
    f.cursor.bitmap.Reset();
    records.reads = 0;
    EXPECT_EQ(f.Walk(), (std::vector<int64_t>{196, 197, 198, 199, 200}));
    EXPECT_EQ(f.data->GetCursorRecordCount(f.session, f.cursor), 5);
    EXPECT_LT(records.reads, 60) << (bitmap ? "bitmap" : "no bitmap");
  }
  f.cursor.scan.empty = true;
  f.cursor.bitmap.Reset();
  records.reads = 0;
  EXPECT_EQ(f.data->GetCursorRecordCount(f.session, f.cursor), 0);
  EXPECT_EQ(f.Walk(), std::vector<int64_t>{});
  EXPECT_EQ(records.reads, 0);
}

TEST(CursorFilter, DistinctKeepsFirstOfEachKey) {
  Fixture f;
  for (int64_t k : {4, 2, 4, 2, 7}) f.Insert(k);
  f.cursor.indexID = f.byK;
  f.cursor.distinctColumns = 1;
  EXPECT_EQ(f.Walk(), (std::vector<int64_t>{2, 4, 7}));
  EXPECT_EQ(f.data->GetCursorRecordCount(f.session, f.cursor), 3);
  f.cursor.indexID = -1;
  f.cursor.bitmap.Reset();
  EXPECT_EQ(NativeCodeOf([&] { f.data->GetCursorRecordCount(f.session, f.cursor); }), 20258);
}

TEST(CursorDelete, MovesToNeighbour) {
  struct Case {
    const char* what;
    std::vector<int64_t> keys;
    int64_t remove;
    bool index;
    int64_t expected;  // -1 = before the first record
  };
  const Case cases[] = {
      {"middle of three", {1, 2, 3}, 2, false, 3},
      {"last in order goes back", {1, 2, 3}, 3, false, 2},
      {"the only record", {1}, 1, false, -1},
      {"index order", {30, 10, 20}, 20, true, 30},
      {"index order, last", {30, 10, 20}, 30, true, 20},
  };
  for (const Case& c : cases) {
    Fixture f;
    for (int64_t k : c.keys) f.Insert(k);
    if (c.index) f.cursor.indexID = f.byK;
    f.Walk();
    f.cursor.SetBeforeFirst();
    while (f.data->FetchRecord(f.session, f.cursor, grmNext) == grrFound && f.CursorK() != c.remove) {
    }
    ASSERT_TRUE(f.data->DeleteRecord(f.session, f.cursor)) << c.what;
    if (c.expected < 0) {
      EXPECT_TRUE(f.cursor.beforeFirst) << c.what;
    } else {
      EXPECT_FALSE(f.cursor.beforeFirst || f.cursor.afterLast) << c.what;
      EXPECT_EQ(f.CursorK(), c.expected) << c.what;
    }
    EXPECT_EQ(f.data->Records().rows.size(), c.keys.size() - 1) << c.what;
  }
}

TEST(CursorDelete, FilteredNeighbourAndBitmapKeptCurrent) {
  Fixture f;
  for (int64_t k : {2, 3, 4, 5, 6}) f.Insert(k);
  f.cursor.useBitmap = true;
  f.cursor.recordFilter = [&](const char* r) { return Fixture::K(r, f.data->FieldDefs()) % 2 == 0; };
  ASSERT_EQ(f.data->SetRecNo(f.session, f.cursor, 2), true);
  ASSERT_EQ(f.CursorK(), 4);
  ASSERT_TRUE(f.data->DeleteRecord(f.session, f.cursor));
  EXPECT_EQ(f.CursorK(), 6);  // 5 does not pass
  // Only this cursor changed the table: its bits still hold, re-stamped.
  EXPECT_FALSE(f.cursor.bitmap.IsStale(f.data->RecordManager().ChangeCounter()));
  EXPECT_EQ(f.data->GetCursorRecordCount(f.session, f.cursor), 2);
  EXPECT_EQ(f.data->GetRecNo(f.session, f.cursor), 2);
  // Insert and update through the cursor keep its bit of the record right.
  auto r = f.Row(8);
  std::copy(r.begin(), r.end(), f.cursor.buffer.begin());
  const TABSRecordID id = f.data->InsertRecord(f.session, f.cursor);
  EXPECT_EQ(f.cursor.buffer[static_cast<size_t>(f.cursor.layout.bookmarkFlagOffset)], kBookmarkInserted);
  EXPECT_TRUE(f.cursor.bitmap.bits.Get(id.pageNo));
  auto odd = f.Row(9);
  std::copy(odd.begin(), odd.end(), f.cursor.buffer.begin());
  f.data->UpdateRecord(f.session, f.cursor);
  EXPECT_FALSE(f.cursor.bitmap.bits.Get(id.pageNo));
  EXPECT_EQ(f.data->GetCursorRecordCount(f.session, f.cursor), 2);
}

TEST(CursorSearch, ExactNearestAndBackward) {
  Fixture f;
  for (int64_t k : {10, 20, 20, 30}) f.Insert(k);
  auto key = [&](int64_t k) { return f.Row(k); };
  EXPECT_EQ(NativeCodeOf([&] {
              auto k = key(20);
              f.data->SearchRange(f.session, f.cursor, {k.data(), 1, scEqual}, true);
            }),
            20258);
  f.cursor.indexID = f.byK;
  struct Case {
    int64_t key;
    TABSSearchCondition condition;
    bool forward;
    int64_t expected;  // -1 = not found
  };
  const Case cases[] = {
      {20, scEqual, true, 20},          {25, scEqual, true, -1},         {25, scGreaterOrEqual, true, 30},
      {31, scGreaterOrEqual, true, -1}, {25, scLowerOrEqual, false, 20}, {5, scLowerOrEqual, false, -1},
      {20, scGreater, true, 30},        {20, scEqual, false, 20},
  };
  for (const Case& c : cases) {
    f.cursor.SetBeforeFirst();
    auto k = key(c.key);
    const bool found = f.data->SearchRange(f.session, f.cursor, {k.data(), 1, c.condition}, c.forward);
    EXPECT_EQ(found, c.expected >= 0) << c.key << " " << int(c.condition);
    if (found) {
      EXPECT_EQ(f.CursorK(), c.expected) << c.key;
    } else {
      EXPECT_TRUE(f.cursor.beforeFirst) << c.key;  // not moved
    }
  }
  // Equal keys: forward finds the first of the run, backward the last, and
  // the steps go on from there.
  auto k20 = key(20);
  ASSERT_TRUE(f.data->SearchRange(f.session, f.cursor, {k20.data(), 1, scEqual}, false));
  const TABSRecordID last20 = f.cursor.recordID;
  ASSERT_TRUE(f.data->SearchRange(f.session, f.cursor, {k20.data(), 1, scEqual}, true));
  EXPECT_LT(f.cursor.recordID.Compare(last20), 0);
  ASSERT_EQ(f.data->FetchRecord(f.session, f.cursor, grmNext), grrFound);
  EXPECT_EQ(f.cursor.recordID, last20);
  // A filter that hides the nearest entry: the search moves past it, but an
  // exact search does not accept another key.
  f.cursor.recordFilter = [&](const char* r) { return Fixture::K(r, f.data->FieldDefs()) != 20; };
  EXPECT_FALSE(f.data->SearchRange(f.session, f.cursor, {k20.data(), 1, scEqual}, true));
  ASSERT_TRUE(f.data->SearchRange(f.session, f.cursor, {k20.data(), 1, scGreaterOrEqual}, true));
  EXPECT_EQ(f.CursorK(), 30);
}

TEST(TemporaryIndexes, CreatedByNameKeptAndRebuiltWhenStale) {
  Fixture f;
  for (int64_t k : {3, 1, 2}) f.Insert(k);
  // A permanent index serves k; s needs a temporary one.
  EXPECT_EQ(f.data->FindOrCreateIndex(f.session, {"K"}, {"ASC"}, {"CASE"}), f.byK);
  const int32_t temp = f.data->FindOrCreateIndex(f.session, {"s"}, {"DESC"}, {"CASE"});
  const TABSIndexDef& def = *f.data->IndexManager().IndexDefs().IndexByID(temp);
  EXPECT_TRUE(def.IsTemporary());
  EXPECT_EQ(def.ownerSessionID, 1);
  EXPECT_EQ(def.Name().rfind("TEMPORARY_INDEX_{", 0), 0u);
  EXPECT_EQ(def.Name().size(), std::string("TEMPORARY_INDEX_").size() + 38);
  EXPECT_EQ(def.Column(0).maxIndexedSize, 20);
  EXPECT_EQ(f.data->FindOrCreateIndex(f.session, {"s"}, {"DESC"}, {"CASE"}), temp);
  TABSSessionInfo other;
  other.sessionID = 2;
  const int32_t otherTemp = f.data->FindOrCreateIndex(other, {"s"}, {"DESC"}, {"CASE"});
  EXPECT_NE(otherTemp, temp);
  EXPECT_NE(f.data->IndexManager().IndexDefs().IndexByID(otherTemp)->Name(), def.Name());
  // Temporary indexes are no constraint sources.
  EXPECT_EQ(f.data->ConstraintManager().ConstraintDefs().Count(), 0);

  auto& index = static_cast<MapIndex&>(f.data->IndexManager().IndexByID(temp));
  f.cursor.indexID = temp;
  // Changes through the table data keep it current: no rebuild.
  f.Insert(4);
  ASSERT_TRUE(f.data->DeleteRecord(f.session, TABSRecordID{0, 0}));
  EXPECT_EQ(f.Walk().size(), 3u);
  EXPECT_EQ(index.rebuilds, 0);
  // A change behind its back leaves it stale: the next read rebuilds it.
  auto r = f.Row(7);
  TABSRecordID id;
  f.data->Records().Insert(1, r.data(), id);
  EXPECT_EQ(f.Walk().size(), 4u);
  EXPECT_EQ(index.rebuilds, 1);
  EXPECT_EQ(f.Walk().size(), 4u);
  EXPECT_EQ(index.rebuilds, 1);
  // Another session's temporary index is not this session's to rebuild.
  EXPECT_EQ(static_cast<MapIndex&>(f.data->IndexManager().IndexByID(otherTemp)).rebuilds, 0);
}

TEST(BlobValues, StoredReadFreedAndRefusedForOtherFields) {
  Fixture f;
  auto r = f.Row(1);
  EXPECT_EQ(f.data->ReadBlobBuffer(f.session, r.data(), 2), "");
  f.data->WriteBlobBuffer(f.session, r.data(), 2, "first", 5);
  EXPECT_FALSE(IsFieldNull(r.data(), 2));
  TABSMemoryStream content(std::string("second value"));
  f.data->StoreBlobStream(f.session, r.data(), 2, content);
  EXPECT_EQ(f.data->ReadBlobBuffer(f.session, r.data(), 2), "second value");
  EXPECT_EQ(f.data->blobs->values.size(), 1u);  // the replaced value was freed
  auto stream = f.data->OpenBlobStream(f.session, r.data(), 2);
  EXPECT_EQ(stream->Size(), 12);
  for (int bad : {0, 1, 3, -1})
    EXPECT_EQ(NativeCodeOf([&] { f.data->ReadBlobBuffer(f.session, r.data(), bad); }), 20171) << bad;

  // A deleted record's values go with it, and only once it is gone.
  const TABSRecordID id = f.data->InsertRecord(f.session, r.data());
  f.data->Records().failNextDelete = true;
  EXPECT_NE(NativeCodeOf([&] { f.data->DeleteRecord(f.session, id); }), 0);
  EXPECT_EQ(f.data->blobs->values.size(), 1u);
  ASSERT_TRUE(f.data->DeleteRecord(f.session, id));
  EXPECT_TRUE(f.data->blobs->values.empty());
}

TEST(CommitHooks, CommitOutsideTransactionsAndRollBackEveryTable) {
  Fixture f;
  const int before = f.data->pages.commits;
  const TABSRecordID id = f.Insert(1);
  auto r = f.Row(2);
  f.data->UpdateRecord(f.session, id, r.data());
  EXPECT_EQ(f.data->pages.commits, before + 2);
  // A failed update commits nothing.
  f.data->Records().failNextUpdate = true;
  EXPECT_EQ(NativeCodeOf([&] { f.data->UpdateRecord(f.session, id, f.Row(3).data()); }), 10127);
  EXPECT_EQ(f.data->pages.commits, before + 2);
  f.cursor.indexID = f.byK;
  EXPECT_EQ(f.Walk(), std::vector<int64_t>{2});
  f.session.inTransaction = true;
  f.Insert(4);
  f.data->DeleteRecord(f.session, id);
  EXPECT_EQ(f.data->pages.commits, before + 2);

  f.db.CommitHook(f.session, true);
  EXPECT_EQ(f.db.pages.commits, 1);
  f.db.RollbackHook(f.session);
  EXPECT_EQ(f.db.pages.rollbacks, 1);
  EXPECT_EQ(f.data->hookCalls, std::vector<std::string>{"rollback in transaction"});
}

TEST(BitsArray, StreamFormRoundTripsAndRefusesDamage) {
  for (int64_t count : {0, 1, 8, 13, 64}) {
    TABSBitsArray bits;
    bits.Resize(count);
    for (int64_t i = 0; i < count; i += 3) bits.Set(i, true);
    TABSMemoryStream stream;
    bits.SaveToStream(stream);
    ASSERT_EQ(stream.Size(), 8 + (count + 7) / 8) << count;
    TABSBitsArray back;
    stream.Seek(0);
    back.LoadFromStream(stream);
    ASSERT_EQ(back.Count(), count);
    ASSERT_EQ(back.SetCount(), bits.SetCount());
    for (int64_t i = 0; i < count; ++i) ASSERT_EQ(back.Get(i), bits.Get(i)) << count << " " << i;
  }
  // 13 bits, bits 0, 2 and 9 set: the layout written down.
  TABSBitsArray bits;
  bits.Resize(13);
  for (int64_t i : {0, 2, 9}) bits.Set(i, true);
  TABSMemoryStream stream;
  bits.SaveToStream(stream);
  const std::string good = stream.Bytes();
  EXPECT_EQ(good, std::string("\x0d\x00\x00\x00\x03\x00\x00\x00\x05\x02", 10));

  struct Damage {
    const char* what;
    std::string bytes;
    int32_t code;
  };
  const Damage cases[] = {
      {"header cut short", good.substr(0, 6), 10426},
      {"bytes cut short", good.substr(0, 9), 10510},
      {"negative count", std::string("\xff\xff\xff\xff\x00\x00\x00\x00", 8), 10510},
      {"huge count", std::string("\xff\xff\xff\x7f\x00\x00\x00\x00", 8), 10510},
      {"set count too high", std::string("\x0d\x00\x00\x00\x04\x00\x00\x00\x05\x02", 10), 10429},
      // A bit past the count does not exist, so it cannot be counted.
      {"stray bit past the count", std::string("\x0d\x00\x00\x00\x04\x00\x00\x00\x05\x22", 10), 10429},
  };
  for (const Damage& d : cases) {
    TABSBitsArray target;
    target.Resize(3);
    target.Set(1, true);
    TABSMemoryStream damaged(d.bytes);
    EXPECT_EQ(NativeCodeOf([&] { target.LoadFromStream(damaged); }), d.code) << d.what;
    EXPECT_EQ(target.Count(), 3) << d.what;
    EXPECT_EQ(target.SetCount(), 1) << d.what;
  }
  // Stray bits past the count are dropped when the set count agrees.
  TABSMemoryStream stray(std::string("\x0d\x00\x00\x00\x03\x00\x00\x00\x05\x22", 10));
  TABSBitsArray loaded;
  loaded.LoadFromStream(stray);
  loaded.Resize(16);
  EXPECT_EQ(loaded.SetCount(), 3);
  EXPECT_FALSE(loaded.Get(13));
}
