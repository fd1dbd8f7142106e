// A change made outside a transaction commits at its end. When that commit
// fails (the header lock is busy, a write fails), or the change fails after
// its first page change, nothing of it may stay pending in the session: the
// next statement of the connection would commit it, over what other
// connections committed in between.
#include <filesystem>
#include <functional>
#include <set>

#include "DiskTestUtil.h"
#include "SessionTestDb.h"
#include "ZudadminRun.h"
#include "os/FaultFile.h"

namespace {

enum class Change { kInsert, kUpdate, kDelete };

const char* Name(Change change) {
  switch (change) {
    case Change::kInsert: return "insert";
    case Change::kUpdate: return "update";
    case Change::kDelete: return "delete";
  }
  return "";
}

// Row 5 is committed; the change that fails inserts row 1, turns row 5
// into row 1, or deletes row 5.
void MakeChange(SharedTableConnection& c, Change change, const TABSRecordID& five) {
  switch (change) {
    case Change::kInsert: c.Insert(1, 9); break;
    case Change::kUpdate: c.Update(five, 1, 9); break;
    case Change::kDelete: c.Delete(five); break;
  }
}

std::set<int32_t> Ids(SharedTableConnection& c) {
  std::set<int32_t> ids;
  for (const SharedRow& row : c.RowsInOrder()) {
    EXPECT_TRUE(row.Whole()) << row.id << " '" << row.nombre << "'";
    ids.insert(row.id);
  }
  return ids;
}

// Two connections of the file: b's change fails at its commit because a
// holds the header lock; a then commits row 100, and b goes on with row 2.
// Row 100 stays, nothing of b's failed change arrives, and b's next
// statement works.
TEST(AutocommitFailureTest, AChangeWhoseCommitFailsLeavesNothingForTheNextStatement) {
  for (Change change : {Change::kInsert, Change::kUpdate, Change::kDelete}) {
    SCOPED_TRACE(Name(change));
    ScratchDir dir;
    const std::string path = dir.File("autocommit.zud");
    CreateSharedTableDb(path, 4);
    {
      SharedTableConnection a(path), b(path);
      const TABSRecordID five = a.Insert(5, 1);
      b.data.Pages().SetLockRetry({3, 1});
      ASSERT_TRUE(a.data.Pages().LockHeader());
      ExpectEngineError([&] { MakeChange(b, change, five); }, 20213, "Database is locked");
      a.data.Pages().UnlockHeader();
      EXPECT_EQ(b.Count(), 1);
      EXPECT_EQ(b.data.Pages().DirtyPageCount(b.session.sessionID), 0);

      a.Insert(100, 1);
      b.Insert(2, 2);
      EXPECT_EQ(Ids(b), (std::set<int32_t>{2, 5, 100}));
    }
    SharedTableConnection reader(path);
    EXPECT_EQ(Ids(reader), (std::set<int32_t>{2, 5, 100}));
    EXPECT_EQ(reader.Count(), 3);
    reader.data.Disconnect(reader.session);
    reader.data.Close();
    ExpectCheckOk(path);
  }
}

// Single-user, where nothing rereads the table's state before a change:
// the commit's first write fails. The count the connection keeps is the
// committed one at once, and the failed row never arrives.
TEST(AutocommitFailureTest, ASingleUserChangeWhoseWriteFailsIsRolledBackWhole) {
  for (Change change : {Change::kInsert, Change::kUpdate, Change::kDelete}) {
    SCOPED_TRACE(Name(change));
    ScratchDir dir;
    const std::string path = dir.File("single.zud");
    CreateSharedTableDb(path, 4);
    tiv::os::FaultFileSystem faults;
    {
      SharedTableConnection c(path, false, faults);
      const TABSRecordID five = c.Insert(5, 1);
      faults.FailWrite(1);  // the commit's first write: its rollback journal
      ExpectEngineError([&] { MakeChange(c, change, five); }, 10462, "Cannot Write to file");
      EXPECT_EQ(c.Count(), 1);
      EXPECT_EQ(c.data.Pages().DirtyPageCount(c.session.sessionID), 0);
      c.Insert(2, 2);
    }
    SharedTableConnection reader(path, false);
    EXPECT_EQ(Ids(reader), (std::set<int32_t>{2, 5}));
    EXPECT_EQ(reader.Count(), 2);
  }
}

// The single-user writer keeps the free-space map's pages in memory. A
// commit that frees pages (and cuts the file) fails at each of its writes
// in turn; its journal puts the map back on the file, and the writer's next
// transaction allocates from what the file says, never from the map as the
// failed commit had left it: no row of the first 300 loses a page to the
// next 300, and the check finds every page where the map says it is.
// Then each database write of the commit fails with the undo's first write
// after it, so the journal stays hot under the writer: its next read and
// its next allocation play it back first (allocating from the map it kept,
// the playback would free the next 300 rows' pages again).
TEST(AutocommitFailureTest, ASingleUserWriterAllocatesFromTheMapAFailedCommitPutBack) {
  constexpr int kRows = 300;
  auto insertRows = [](SharedTableConnection& c, int32_t from) {
    c.data.StartTransaction(c.session);
    for (int32_t id = from; id < from + kRows; ++id) c.Insert(id, 1);
    c.data.Commit(c.session, false);
  };
  // Runs the freeing commit with `fail` armed (nothing armed: it succeeds);
  // the writes it made, by number from the arming.
  auto run = [&](const std::function<void(tiv::os::FaultFileSystem&)>& fail, bool expectFailure) {
    ScratchDir dir;
    const std::string path = dir.File("single.zud");
    CreateSharedTableDb(path, 4);
    tiv::os::FaultFileSystem faults;
    std::vector<std::string> writes;
    {
      SharedTableConnection c(path, false, faults);
      insertRows(c, 0);
      std::vector<TABSRecordID> ids;
      TABSTableCursor cursor;
      c.table->PrepareCursor(cursor);
      while (c.table->FetchRecord(c.session, cursor, grmNext) == grrFound) ids.push_back(cursor.recordID);
      EXPECT_EQ(ids.size(), static_cast<size_t>(kRows));
      c.data.StartTransaction(c.session);
      for (size_t i = ids.size() / 3; i < ids.size(); ++i) EXPECT_TRUE(c.Delete(ids[i]));
      const int before = faults.WriteCount();
      fail(faults);
      if (!expectFailure) {
        c.data.Commit(c.session, false);
        for (int n = before + 1; n <= faults.WriteCount(); ++n) writes.push_back(faults.WritePath(n));
        return writes;
      }
      EXPECT_THROW(c.data.Commit(c.session, false), EABSException);  // and the session rolled back
      EXPECT_EQ(c.Count(), kRows);
      insertRows(c, 1000);
      EXPECT_EQ(c.Count(), 2 * kRows);
    }
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
    SharedTableConnection reader(path, false);
    const std::vector<SharedRow> rows = reader.RowsInOrder();
    EXPECT_EQ(rows.size(), static_cast<size_t>(2 * kRows));
    for (const SharedRow& row : rows) EXPECT_TRUE(row.Whole()) << row.id;
    reader.data.Disconnect(reader.session);
    reader.data.Close();
    ExpectCheckOk(path);
    return writes;
  };
  // A journal write is made once; a database write is retried once after
  // the handle is reopened.
  const std::vector<std::string> writes = run([](tiv::os::FaultFileSystem&) {}, false);
  ASSERT_GT(writes.size(), 10u);
  for (const bool undoFails : {false, true}) {
    for (int failAt = 1; failAt <= static_cast<int>(writes.size()); ++failAt) {
      const bool toJournal = writes[static_cast<size_t>(failAt - 1)].ends_with("-journal");
      if (undoFails && toJournal) continue;
      SCOPED_TRACE(std::to_string(failAt) + (undoFails ? ", its undo failing too" : ""));
      run([&](tiv::os::FaultFileSystem& f) { f.FailWrite(failAt, undoFails ? 4 : toJournal ? 1 : 2); }, true);
      if (HasFailure()) return;
    }
  }
}

// The autoincrement counter of the table and the session's record of it
// go back with a failed insert: the next insert gets the value again.
TEST(AutocommitFailureTest, AFailedInsertGivesItsAutoincrementValueBack) {
  ScratchDir dir;
  const std::string path = dir.File("autoinc.zud");
  TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, 4);
  tiv::os::FaultFileSystem faults;
  const auto values = [](TABSDiskTableData& t, TABSSessionInfo& s) {
    std::vector<std::pair<int64_t, int64_t>> rows;
    TABSTableCursor cursor;
    t.PrepareCursor(cursor);
    while (t.FetchRecord(s, cursor, grmNext) == grrFound) {
      TABSVariant n, v;
      ReadFieldValue(t.FieldDefs(), cursor.Record(), 0, n);
      ReadFieldValue(t.FieldDefs(), cursor.Record(), 1, v);
      rows.emplace_back(n.AsLargeint(), v.AsLargeint());
    }
    return rows;
  };
  {
    TABSDiskDatabaseData data("AUTOINC", faults);
    TABSSessionInfo s;
    data.Open(path, TABSPassword{}, false, false);
    data.Connect(s);
    TABSFieldDefs fields;
    fields.AddNew()->SetName("n");
    fields[0]->SetDataType(aftAutoIncInteger, 0);
    fields.AddNew()->SetName("v");
    fields[1]->SetDataType(aftInteger, 0);
    TABSDiskTableData& t = data.CreateTable(s, "contador", fields, TABSIndexDefs());
    std::vector<char> record(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
    const auto insert = [&](int32_t v) {
      t.InitRecordForInsert(record.data());
      TABSVariant value;
      value.SetAsInteger(v);
      WriteFieldValue(t.FieldDefs(), record.data(), 1, value);
      t.InsertRecord(s, record.data());
    };
    insert(10);
    faults.FailWrite(1);
    ExpectEngineError([&] { insert(20); }, 10462);
    EXPECT_EQ(t.GetLastAutoincValue(s, "n"), 1);
    insert(30);
    EXPECT_EQ(values(t, s), (std::vector<std::pair<int64_t, int64_t>>{{1, 10}, {2, 30}}));
    data.Disconnect(s);
  }
  TABSDiskDatabaseData data("AUTOINC");
  TABSSessionInfo s;
  data.Open(path, TABSPassword{}, false, false);
  data.Connect(s);
  TABSDiskTableData& t = data.OpenTable(s, "contador");
  EXPECT_EQ(values(t, s), (std::vector<std::pair<int64_t, int64_t>>{{1, 10}, {2, 30}}));
  data.Disconnect(s);
}

}  // namespace
