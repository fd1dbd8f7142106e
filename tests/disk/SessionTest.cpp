// Sessions and transactions of the disk database data within one process:
// modes that must agree, transactions that must be running, and a commit
// that fails while it writes.
#include <algorithm>

#include "DiskTestUtil.h"
#include "SessionTestDb.h"
#include "os/FaultFile.h"

namespace {

TEST(SessionTest, ModesAndTransactionsAreCheckedAtTheDatabase) {
  ScratchDir dir;
  const std::string path = dir.File("modes.zud");
  CreateSharedTableDb(path, 4);

  TABSDiskDatabaseData data("MODES");
  data.Open(path, TABSPassword{}, true, false);
  TABSSessionInfo single;  // multiUser false
  ExpectEngineError([&] { data.Connect(single); }, 20235,
                    "Cannot open database in multi-user and signle-user mode at the same time");
  EXPECT_EQ(single.sessionID, -1);
  TABSSessionInfo s;
  s.multiUser = true;
  data.Connect(s);
  ExpectEngineError([&] { data.Commit(s, false); }, 20229,
                    "Database is not within a transaction. Cannot perform operation");
  ExpectEngineError([&] { data.Rollback(s); }, 20229);
  data.StartTransaction(s);
  EXPECT_THROW(data.StartTransaction(s), std::logic_error);
  // What is committed at once in the system session is refused inside a
  // transaction, and nothing of it is done.
  ExpectEngineError([&] { data.DropTable(s, kSharedTable); }, 20175,
                    "Cannot perform 'DeleteTable' operation on a database in transaction");
  ExpectEngineError([&] { data.RenameTable(s, kSharedTable, "otra"); }, 20177, "'RenameTable'");
  TABSFieldDefs fields;
  AddFields(fields, {{"x", aftInteger}});
  ExpectEngineError([&] { data.CreateTable(s, "nueva", fields, TABSIndexDefs()); }, 20182, "'CreateTable'");
  EXPECT_EQ(data.Tables(s).size(), 1u);
  data.Disconnect(s);  // rolls the transaction back
  EXPECT_FALSE(s.inTransaction);

  // Single-user: the sessions of the process have page-manager sessions of
  // their own, the lowest ids free.
  TABSDiskDatabaseData alone("ALONE");
  alone.Open(path, TABSPassword{}, false, false);
  TABSSessionInfo a, b;
  alone.Connect(a);
  alone.Connect(b);
  EXPECT_EQ(a.sessionID, 0);
  EXPECT_EQ(b.sessionID, 1);
  EXPECT_FALSE(alone.ReadOnly());
  alone.Disconnect(a);
  alone.Disconnect(b);
}

// Two sessions of one process share its open of the file, so the lock
// bytes one holds count as held for the other too.
TEST(SessionTest, SessionsOfOneProcessKeepEachOtherOutLikeProcesses) {
  ScratchDir dir;
  const std::string path = dir.File("two-sessions.zud");
  CreateSharedTableDb(path, 4);
  SharedTableConnection c(path);
  c.ShortLockTimes();
  TABSSessionInfo other;
  other.multiUser = true;
  c.data.Connect(other);
  EXPECT_NE(other.sessionID, c.session.sessionID);
  TABSDiskTableData& t = c.data.OpenTable(other, kSharedTable);

  c.data.StartTransaction(c.session);
  c.Insert(1, 1);
  std::vector<char> record(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
  t.InitRecordForInsert(record.data());
  TABSVariant v;
  v.SetAsInteger(2);
  WriteFieldValue(t.FieldDefs(), record.data(), c.Field("id"), v);
  ExpectEngineError([&] { t.InsertRecord(other, record.data()); }, 20223, "Table is locked");
  EXPECT_EQ(t.GetRecordCount(other), 0);  // reading beside the transaction
  c.data.Commit(c.session, false);
  t.InsertRecord(other, record.data());
  EXPECT_EQ(t.GetRecordCount(other), 2);
  c.data.Disconnect(other);
}

// A new or dropped index is committed at once and other connections keep
// the definitions they read at open: index changes need the table to
// themselves and are refused inside a transaction; a failed one leaves
// nothing behind.
TEST(SessionTest, IndexChangesNeedTheTableAloneAndLeaveNothingWhenTheyFail) {
  ScratchDir dir;
  const std::string path = dir.File("indexes.zud");
  CreateSharedTableDb(path, 4);
  SharedTableConnection c(path);
  for (int32_t id = 1; id <= 300; ++id) c.Insert(id, id % 7);
  TABSIndexDef byOwner;
  byOwner.SetName("por_owner");
  byOwner.FillColumns({"owner"}, {"ASC"}, {"CASE"});
  TABSIndexDef uniqueOwner;
  uniqueOwner.SetName("owner_unico");
  uniqueOwner.unique = true;
  uniqueOwner.FillColumns({"owner"}, {"ASC"}, {"CASE"});

  c.data.StartTransaction(c.session);
  ExpectEngineError([&] { c.table->CreateIndex(c.session, byOwner); }, 20181,
                    "Cannot perform 'CreateIndex' operation on a database in transaction");
  c.data.Rollback(c.session);

  {
    SharedTableConnection other(path);
    int cursor = 0;
    other.table->OpenCursor(other.session, &cursor, false);
    ExpectEngineError([&] { c.table->CreateIndex(c.session, byOwner); }, 20208,
                      "Cannot access table 'filas' in exclusive mode. Table is open by another user");
    other.table->CloseCursor(other.session, &cursor);
  }
  const auto usedPages = [&] {
    int64_t used = 0;
    for (int32_t p = 0; p < c.data.Pages().GetPageCount(); ++p) used += c.data.Pages().FreeSpaceManager().IsPageUsed(p);
    return used;
  };
  const int64_t before = usedPages();
  EXPECT_THROW(c.table->CreateIndex(c.session, uniqueOwner), EABSException);  // owners repeat
  EXPECT_EQ(usedPages(), before);
  EXPECT_EQ(c.table->IndexManager().IndexDefs().IndexByName("owner_unico"), nullptr);

  const int32_t id = c.table->CreateIndex(c.session, byOwner);
  EXPECT_EQ(c.Count(), 300);
  c.Insert(301, 3);
  c.data.StartTransaction(c.session);
  ExpectEngineError([&] { c.table->DropIndex(c.session, id); }, 20183, "'DropIndex'");
  c.data.Rollback(c.session);
  {
    // Read back by another open: the index is stored and holds every row.
    SharedTableConnection reader(path);
    const TABSIndexDef* stored = reader.table->IndexManager().IndexDefs().IndexByName("por_owner");
    ASSERT_NE(stored, nullptr);
    TABSTableCursor cursor;
    reader.table->PrepareCursor(cursor);
    cursor.indexID = stored->ObjectID();
    int64_t seen = 0;
    int32_t last = -1;
    while (reader.table->FetchRecord(reader.session, cursor, grmNext) == grrFound) {
      TABSVariant owner;
      ReadFieldValue(reader.table->FieldDefs(), cursor.Record(), reader.Field("owner"), owner);
      EXPECT_LE(last, owner.AsInteger());
      last = owner.AsInteger();
      ++seen;
    }
    EXPECT_EQ(seen, 301);
  }
  c.table->DropIndex(c.session, id);
  EXPECT_EQ(c.table->IndexManager().IndexDefs().IndexByName("por_owner"), nullptr);
}

// A rollback undoes the rows, the count and the unique keys of a
// transaction, in multi-user mode as in single-user mode.
TEST(SessionTest, RollbackUndoesTheTransaction) {
  ScratchDir dir;
  const std::string path = dir.File("rollback.zud");
  CreateSharedTableDb(path, 4);
  for (bool multiUser : {true, false}) {
    SCOPED_TRACE(multiUser ? "multi-user" : "single-user");
    SharedTableConnection c(path, multiUser);
    const int64_t before = c.Count();
    c.data.StartTransaction(c.session);
    const int32_t first = multiUser ? 1000 : 2000;
    for (int32_t id = first; id < first + 40; ++id) c.Insert(id, 1);
    EXPECT_EQ(c.Count(), before + 40);
    c.data.Rollback(c.session);
    EXPECT_EQ(c.Count(), before);
    EXPECT_TRUE(c.data.TableLocks().Entries(c.session.sessionID).empty());
    c.Insert(first, 2);  // the key is free again
    EXPECT_EQ(c.Count(), before + 1);
    // Emptying is a change of the transaction too: it holds the table for
    // the commit, and a rollback brings the rows back.
    c.data.StartTransaction(c.session);
    c.data.EmptyTable(c.session, kSharedTable);
    EXPECT_EQ(c.Count(), 0);
    if (multiUser) {
      const auto entries = c.data.TableLocks().Entries(c.session.sessionID);
      EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
                              [](const TABSTableLockEntry& e) { return e.Kind == ltTransactionWrite; }));
    }
    c.data.Rollback(c.session);
    EXPECT_EQ(c.Count(), before + 1);
  }
}

// A commit that fails once pages are being written ends the transaction:
// the session is rolled back, its locks are gone, and the journal puts the
// file back as it was before the commit: nothing to repair, and the next
// writer goes on at once.
TEST(SessionTest, ACommitThatFailsWhileWritingEndsTheTransaction) {
  ScratchDir dir;
  const std::string path = dir.File("failing.zud");
  CreateSharedTableDb(path, 4);
  tiv::os::FaultFileSystem faults;
  TABSDiskDatabaseData data("FAILING", faults);
  TABSSessionInfo s;
  s.multiUser = true;
  data.Open(path, TABSPassword{}, true, false);
  data.Connect(s);
  TABSDiskTableData& t = data.OpenTable(s, kSharedTable);
  SharedTableConnection other(path);

  data.StartTransaction(s);
  std::vector<char> record(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
  for (int32_t id = 1; id <= 30; ++id) {
    t.InitRecordForInsert(record.data());
    TABSVariant v;
    v.SetAsInteger(id);
    WriteFieldValue(t.FieldDefs(), record.data(), 0, v);
    t.InsertRecord(s, record.data());
  }
  const int writesBefore = faults.WriteCount();
  // The journal's records and header, the State 1 header go through; the
  // first page (and its retry) not.
  faults.FailWrite(4, 2);
  EXPECT_THROW(data.Commit(s, false), EABSException) << faults.WriteCount() - writesBefore;
  EXPECT_FALSE(s.inTransaction);
  EXPECT_TRUE(data.TableLocks().Entries(s.sessionID).empty());
  EXPECT_EQ(t.GetRecordCount(s), 0);

  // The other connection gets the write lock at once (not 20223): the
  // failed commit's locks are gone, and the file holds none of its rows.
  other.Insert(1, 2);
  EXPECT_EQ(other.Count(), 1);
  other.data.Disconnect(other.session);
  other.data.Close();
  data.Disconnect(s);
  data.Close();
  TABSDiskPageManager pm;
  const OpenResult opened = OpenDb(pm, path);
  EXPECT_FALSE(opened.needRepair);
}

}  // namespace
