// The executor of query statements between connections: the read lock of a
// snapshot against another connection's write lock, its release after a
// failure in the middle of the copy, a live result that sees another
// connection's change, and a large table.
#include <gtest/gtest.h>

#include "CursorTestDb.h"
#include "sql/ABSSQLProcessor.h"
#include "support/EngineError.h"
#include "support/ScratchDir.h"

namespace {

struct SelectFixture : ::testing::Test {
  TABSEngineScope engine;
  ScratchDir dir;
  std::string path = dir.File("items.zud");
  void SetUp() override { CreateItemsDb(path, 200); }

  // Runs `sql` on `connection`; the result's first column, or the error
  // code as the only element after "error".
  static std::vector<std::string> Run(ItemsConnection& connection, const std::string& sql, bool live = false) {
    TABSSelectExecution executor(connection.session);
    executor.lockAttempts = 2;
    executor.lockDelayMs = 5;
    TABSLocalSQLProcessor processor(TABSSQLQueryInfo{"s", "items", false, live});
    processor.SetExecutor(&executor);
    processor.SetSQL(sql);
    try {
      processor.Execute();
    } catch (const EABSException& x) {
      return {"error", std::to_string(x.NativeError())};
    }
    std::unique_ptr<TABSQueryResultCursor> result = executor.TakeResult();
    std::vector<std::string> values;
    TABSVariant v;
    while (result->GetRecord(grmNext) == grrFound) {
      result->GetFieldValue(0, v);
      values.push_back(v.IsNull() ? "NULL" : v.AsString());
    }
    return values;
  }
};

TEST_F(SelectFixture, ReadLockWaitsForAWriterAndIsReleasedOnEveryPath) {
  ItemsConnection a(path, "A"), b(path, "B");
  ASSERT_TRUE(b->LockTable(ltWrite, 10, 10));
  EXPECT_EQ(Run(a, "select k from items where k = 3"), (std::vector<std::string>{"error", "20225"}));
  b->UnlockTable(ltWrite);
  EXPECT_EQ(Run(a, "select k from items where k = 3"), (std::vector<std::string>{"3"}));

  // A division by zero at k = 5, in the middle of the copy: the error
  // comes through and the read lock went with it.
  EXPECT_EQ(Run(a, "select k / (k - 5) from items"), (std::vector<std::string>{"error", "30128"}));
  ASSERT_TRUE(b->LockTable(ltWrite, 0, 1)) << "a's read lock is still held";
  b->UnlockTable(ltWrite);
  // The next query of a runs as before.
  EXPECT_EQ(Run(a, "select top 3 k from items where n is null order by k desc"),
            (std::vector<std::string>{"200", "198", "196"}));
}

TEST_F(SelectFixture, LiveResultReadsTheTableItselfAndSnapshotDoesNot) {
  ItemsConnection a(path, "A"), b(path, "B");
  TABSSelectExecution live(a.session), snapshot(a.session);
  for (auto* executor : {&live, &snapshot}) {
    TABSLocalSQLProcessor processor(TABSSQLQueryInfo{"s", "items", false, executor == &live});
    processor.SetExecutor(executor);
    processor.SetSQL("select s, k from items where k between 10 and 12 order by k");
    processor.Execute();
    EXPECT_EQ(processor.ResultReadOnly(), executor == &snapshot);
  }
  std::unique_ptr<TABSQueryResultCursor> l = live.TakeResult(), s = snapshot.TakeResult();
  ASSERT_TRUE(b.Goto(11));
  ASSERT_EQ(b->Edit(), crOK);
  b.SetS("changed");
  ASSERT_EQ(b->Post(false), crOK);
  const auto read = [](TABSQueryResultCursor& c) {
    std::vector<std::string> values;
    TABSVariant v;
    c.SetToBegin();
    while (c.GetRecord(grmNext) == grrFound) {
      c.GetFieldValue(0, v);
      values.push_back(v.AsString());
    }
    return values;
  };
  EXPECT_EQ(read(*l), (std::vector<std::string>{"item10", "changed", "item12"}));
  EXPECT_EQ(read(*s), (std::vector<std::string>{"item10", "item11", "item12"}));
  EXPECT_FALSE(l->Snapshot());
  EXPECT_TRUE(s->Snapshot());
}

TEST_F(SelectFixture, LargeTableThroughAnIndexRangeAndAFullScan) {
  {
    ItemsConnection a(path, "A");
    for (int k = 201; k <= 20000; ++k) {
      a->InitRecordBuffer();
      TABSVariant key, text;
      key.SetAsInteger(k);
      a->SetFieldValue(kItemK, key);
      text.SetAsString("item" + std::to_string(k));
      a->SetFieldValue(kItemS, text);
      ASSERT_EQ(a->Post(true), crOK);
    }
  }
  ItemsConnection a(path, "A");
  EXPECT_EQ(Run(a, "select k from items where k > 19997 order by k"),
            (std::vector<std::string>{"19998", "19999", "20000"}));
  EXPECT_EQ(Run(a, "select top 1 k from items where s = 'item15000'"), (std::vector<std::string>{"15000"}));
  EXPECT_EQ(Run(a, "select k from items where k = 12345 or k = 7").size(), 2u);
}

}  // namespace
