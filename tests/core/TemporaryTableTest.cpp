// Temporary tables: the record manager appends into memory up to its share
// and then into file blocks, and reads every record back in order (from the
// array, the file and the block not yet written); a temporary table whose
// records and index pages both spill walks its index and its records as
// appended; updates and deletes change nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>

#include "core/ZUDMemEngine.h"
#include "support/EngineError.h"
#include "support/FieldList.h"
#include "support/RecordSteps.h"

namespace {

constexpr int32_t kSize = 24;

std::string Bytes(int32_t v) {
  std::string r(kSize, '\0');
  for (int i = 0; i < kSize; i += 4) std::memcpy(r.data() + i, &v, sizeof v);
  r[5] = static_cast<char>(v * 7);
  return r;
}

TABSGetRecordRequest Step(TABSTemporaryRecordManager& m, std::string& buffer, TABSGetRecordMode mode, TABSRecordID from,
                          bool beforeFirst, bool afterLast) {
  return StepRecords(m, buffer.data(), mode, from, beforeFirst, afterLast);
}

TEST(TemporaryTableTest, RecordsSpillToFileBlocksAndReadBackInOrder) {
  struct Case {
    const char* what;
    int64_t share;  // bytes
    bool inMemory;
    int32_t growth, perBlock, count;
    int64_t inMemoryCount;
  };
  const Case cases[] = {
      {"spills past 25 records, the last block half full", 25 * kSize, false, 10, 10, 1003, 25},
      {"spills, the last block full", 25 * kSize, false, 10, 10, 1025, 25},
      {"a share smaller than a record keeps one", 3, false, 1000, 7, 50, 1},
      {"growth steps that overshoot the limit stop at it", 15 * kSize, false, 1000, 10, 99, 15},
      {"in-memory never spills", 25 * kSize, true, 10, 10, 1003, 1003},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TABSTemporaryRecordManager m(kSize, c.share, c.inMemory, c.growth, c.perBlock);
    for (int round = 0; round < 2; ++round) {  // again after Clear
      for (int32_t i = 0; i < c.count; ++i) {
        TABSRecordID id;
        ASSERT_TRUE(m.Insert(0, Bytes(i).data(), id));
        ASSERT_EQ(id.pageNo, i);
      }
      EXPECT_EQ(m.RecordCount(), c.count);
      EXPECT_EQ(m.InMemoryCount(), c.inMemoryCount);
      EXPECT_EQ(m.Spilled(), c.inMemoryCount < c.count);
      std::string buffer(kSize, '\0');
      // Every record by its identifier, then both walks.
      for (int32_t i = 0; i < c.count; ++i) {
        ASSERT_EQ(Step(m, buffer, grmCurrent, {i, 0}, false, false).result, grrFound);
        ASSERT_EQ(buffer, Bytes(i)) << "record " << i;
      }
      TABSGetRecordRequest r = Step(m, buffer, grmNext, {}, true, false);
      for (int32_t i = 0; i < c.count; ++i, r = Step(m, buffer, grmNext, r.recordID, false, false)) {
        ASSERT_EQ(r.result, grrFound);
        ASSERT_EQ(buffer, Bytes(i));
      }
      EXPECT_EQ(r.result, grrEOF);
      r = Step(m, buffer, grmPrior, {}, false, true);
      for (int32_t i = c.count - 1; i >= 0; --i, r = Step(m, buffer, grmPrior, r.recordID, false, false)) {
        ASSERT_EQ(r.result, grrFound);
        ASSERT_EQ(buffer, Bytes(i));
      }
      EXPECT_EQ(r.result, grrBOF);
      EXPECT_EQ(Step(m, buffer, grmCurrent, {c.count, 0}, false, false).result, grrNotFound);
      EXPECT_EQ(Step(m, buffer, grmCurrent, {-1, 0}, false, false).result, grrNotFound);
      EXPECT_EQ(m.ApproxRecNo(0, {4, 0}), 5);
      EXPECT_EQ(m.ApproxRecNo(0, {c.count, 0}), -1);
      // Append only: nothing changes.
      const int32_t counter = m.ChangeCounter();
      EXPECT_FALSE(m.Update(0, Bytes(-1).data(), {0, 0}));
      EXPECT_FALSE(m.Delete(0, {c.count - 1, 0}));
      EXPECT_EQ(m.ChangeCounter(), counter);
      ASSERT_EQ(Step(m, buffer, grmCurrent, {c.count - 1, 0}, false, false).result, grrFound);
      EXPECT_EQ(buffer, Bytes(c.count - 1));
      m.Clear(0);
      EXPECT_EQ(m.RecordCount(), 0);
      EXPECT_FALSE(m.Spilled()) << "Clear drops the file";
      EXPECT_EQ(Step(m, buffer, grmNext, {}, true, false).result, grrEOF);
      EXPECT_EQ(Step(m, buffer, grmPrior, {}, false, true).result, grrEOF);
    }
  }
  EXPECT_EQ(NativeCodeOf([] { TABSTemporaryRecordManager(0, 100); }), 10011);
}

// A table of TEMP whose records and index pages both pass a small share:
// the index walks in key order, the records in the order appended.
TEST(TemporaryTableTest, ATableWhoseRecordsAndIndexPagesSpill) {
  TABSTemporaryDatabaseData db;
  db.SetMemoryShare(4 * 4096);
  TABSSessionInfo session;
  db.AttachSession(session);
  TABSFieldDefs fields;
  AddFields(fields, {{"k", aftInteger}, {"s", aftString, 60}});
  TABSIndexDefs indexes;
  AddIndexes(indexes, {{"k", {"k"}}});
  auto& t = static_cast<TABSTemporaryTableData&>(db.CreateTable(session, "resultado", fields, indexes));
  const int32_t indexID = t.IndexManager().IndexDefs().IndexByName("k")->ObjectID();
  constexpr int kRows = 6000;
  std::vector<int32_t> keys(kRows);
  std::iota(keys.begin(), keys.end(), 0);
  std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
  std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
  for (int32_t k : keys) {
    t.InitRecordForInsert(r.data());
    TABSVariant v;
    v.SetAsInteger(k);
    WriteFieldValue(t.FieldDefs(), r.data(), 0, v);
    TABSVariant s;
    s.SetAsString("fila " + std::to_string(k));
    WriteFieldValue(t.FieldDefs(), r.data(), 1, s);
    t.InsertRecord(session, r.data());
  }
  EXPECT_TRUE(t.TemporaryRecords().Spilled());
  EXPECT_TRUE(t.TemporaryPages().Spilled());
  EXPECT_EQ(t.GetRecordCount(session), kRows);
  const auto walk = [&](int32_t index) {
    TABSTableCursor c;
    t.PrepareCursor(c);
    c.indexID = index;
    c.SetBeforeFirst();
    std::vector<int32_t> seen;
    while (t.FetchRecord(session, c, grmNext) == grrFound) {
      TABSVariant v, s;
      ReadFieldValue(t.FieldDefs(), c.Record(), 0, v);
      ReadFieldValue(t.FieldDefs(), c.Record(), 1, s);
      EXPECT_EQ(s.AsString(), "fila " + std::to_string(v.AsInteger()));
      seen.push_back(v.AsInteger());
    }
    return seen;
  };
  std::vector<int32_t> sorted = keys;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(walk(indexID), sorted);
  EXPECT_EQ(walk(-1), keys);
  TABSRecordID id;
  ASSERT_TRUE(t.SetPhysicalRecNo(session, 4321, id));
  EXPECT_EQ(t.GetPhysicalRecNo(session, id), 4321);
  EXPECT_FALSE(t.SetPhysicalRecNo(session, kRows + 1, id));
  // Emptied and filled again: the same, from a fresh file.
  t.EmptyTable(session);
  EXPECT_EQ(walk(indexID), std::vector<int32_t>{});
  EXPECT_FALSE(t.TemporaryRecords().Spilled());
  db.DetachSession(session);
}

}  // namespace
