// Several real processes on one database through the database data: rows
// inserted side by side, transactions against writers and readers, killed
// holders, single-user claims. The other processes are table_helper runs.
#include <chrono>
#include <csignal>
#include <fstream>
#include <iostream>
#include <set>

#include "DiskTestUtil.h"
#include "SessionTestDb.h"
#include "ZudadminRun.h"
#include "support/ChildProcess.h"

namespace {

const char* TableHelper() { return TABLE_HELPER_PATH; }

ChildProcess Helper(const std::vector<std::string>& args) { return ChildProcess(args, TableHelper()); }

class SessionProcessTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir.File("shared.zud");
};

// The soak: one process inserts row by row, the other in transactions of 25
// rows, while this one counts through read locks. Every row arrives exactly
// once with its owner, the count never goes back, and the file checks ok.
TEST_F(SessionProcessTest, TwoProcessesInsertIntoOneTableAndEveryRowArrivesOnce) {
  constexpr int kRows = 3000;
  CreateSharedTableDb(path, 8);
  ChildProcess single = Helper({"insert", path, "0", std::to_string(kRows), "1", "0"});
  ChildProcess batched = Helper({"insert", path, "100000", std::to_string(kRows), "2", "25"});
  ASSERT_EQ(single.ReadLine(), "ready");
  ASSERT_EQ(batched.ReadLine(), "ready");
  SharedTableConnection reader(path);
  const auto start = std::chrono::steady_clock::now();
  single.WriteLine("go");
  batched.WriteLine("go");
  int64_t last = 0, counts = 0;
  std::vector<std::string> done;
  for (ChildProcess* child : {&single, &batched}) {
    for (;;) {
      int64_t now = reader.Count();
      EXPECT_GE(now, last);
      last = now;
      ++counts;
      std::string line = child->ReadLine(100);
      if (line.empty()) continue;
      done.push_back(line);
      break;
    }
  }
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(done.size(), 2u);
  EXPECT_EQ(done[0].rfind("done ", 0), 0u) << done[0];
  EXPECT_EQ(done[1].rfind("done ", 0), 0u) << done[1];
  EXPECT_EQ(single.Wait(), 0);
  EXPECT_EQ(batched.Wait(), 0);

  const std::multimap<int32_t, int32_t> rows = reader.Rows();
  ASSERT_EQ(rows.size(), 2u * kRows);
  EXPECT_EQ(reader.Count(), 2 * kRows);
  std::set<int32_t> ids;
  for (const auto& [id, owner] : rows) {
    EXPECT_TRUE(ids.insert(id).second) << "id " << id << " twice";
    EXPECT_EQ(owner, id >= 100000 ? 2 : 1) << "id " << id;
  }
  EXPECT_EQ(*ids.begin(), 0);
  EXPECT_EQ(*ids.rbegin(), 100000 + kRows - 1);
  std::cout << "soak: 2 processes x " << kRows << " rows (one row by row, one in transactions of 25) while a "
            << "third counted " << counts << " times: " << ms << " ms; children said '" << done[0] << "', '" << done[1]
            << "'" << std::endl;
  reader.data.Disconnect(reader.session);
  reader.data.Close();
  ExpectCheckOk(path);
}

// Two processes insert and delete side by side, so record pages fill,
// empty, go back to the map and come back as pages of the other process's
// rows: every row a process kept is there once, none it deleted is, and
// the file checks ok.
TEST_F(SessionProcessTest, TwoProcessesInsertingAndDeletingKeepExactlyTheirRows) {
  constexpr int kRounds = 60;
  CreateSharedTableDb(path, 8);
  ChildProcess first = Helper({"churn", path, "1", std::to_string(kRounds)});
  ChildProcess second = Helper({"churn", path, "2", std::to_string(kRounds)});
  ASSERT_EQ(first.ReadLine(), "ready");
  ASSERT_EQ(second.ReadLine(), "ready");
  first.WriteLine("go");
  second.WriteLine("go");
  EXPECT_EQ(first.ReadLine(60000), "kept " + std::to_string(kRounds * 20));
  EXPECT_EQ(second.ReadLine(60000), "kept " + std::to_string(kRounds * 20));
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);
  {
    SharedTableConnection reader(path);
    std::multimap<int32_t, int32_t> expected;
    for (int32_t owner : {1, 2})
      for (int32_t n = 0; n < kRounds * 40; ++n)
        if (n % 2 == 1) expected.emplace(owner * 1000000 + n, owner);
    EXPECT_EQ(reader.Rows(), expected);
    EXPECT_EQ(reader.Count(), static_cast<int64_t>(expected.size()));
  }
  ExpectCheckOk(path);
}

// What another process commits is seen at the next operation; what it has
// not committed yet, or rolled back, is not.
TEST_F(SessionProcessTest, AReaderSeesCommittedRowsAtItsNextOperation) {
  CreateSharedTableDb(path, 8);
  SharedTableConnection reader(path);
  EXPECT_EQ(reader.Count(), 0);
  {
    ChildProcess writer = Helper({"insert", path, "1", "5", "7", "0"});
    ASSERT_EQ(writer.ReadLine(), "ready");
    writer.WriteLine("go");
    ASSERT_EQ(writer.ReadLine().rfind("done", 0), 0u);
    EXPECT_EQ(writer.Wait(), 0);
  }
  EXPECT_EQ(reader.Count(), 5);
  EXPECT_EQ(reader.Rows().size(), 5u);

  ChildProcess committing = Helper({"txn", path, "50"});
  ASSERT_EQ(committing.ReadLine(), "inserted");
  EXPECT_EQ(reader.Count(), 5);  // reading is allowed beside the transaction
  EXPECT_EQ(reader.Rows().count(50), 0u);
  committing.WriteLine("commit");
  ASSERT_EQ(committing.ReadLine(), "ended");
  EXPECT_EQ(reader.Count(), 6);
  EXPECT_EQ(reader.Rows().count(50), 1u);
  committing.WriteLine("");
  EXPECT_EQ(committing.Wait(), 0);

  ChildProcess rollingBack = Helper({"txn", path, "60"});
  ASSERT_EQ(rollingBack.ReadLine(), "inserted");
  rollingBack.WriteLine("rollback");
  ASSERT_EQ(rollingBack.ReadLine(), "ended");
  EXPECT_EQ(reader.Count(), 6);
  reader.Insert(60, 3);  // the rolled-back key is free
  EXPECT_EQ(reader.Rows().count(60), 1u);
  rollingBack.WriteLine("");
  EXPECT_EQ(rollingBack.Wait(), 0);
}

// A transaction's table lock keeps writers out until it commits; a reader's
// lock keeps a commit from taking its write lock (20233) without ending the
// transaction.
TEST_F(SessionProcessTest, TransactionLocksHoldOffWritersAndReadersHoldOffCommits) {
  CreateSharedTableDb(path, 8);
  SharedTableConnection here(path);
  here.ShortLockTimes();

  ChildProcess txn = Helper({"txn", path, "1"});
  ASSERT_EQ(txn.ReadLine(), "inserted");
  ExpectEngineError([&] { here.Insert(2, 0); }, 20223, "Table is locked");
  here.data.StartTransaction(here.session);
  ExpectEngineError([&] { here.Insert(2, 0); }, 20223, "Table is locked");
  here.data.Rollback(here.session);
  txn.WriteLine("commit");
  ASSERT_EQ(txn.ReadLine(), "ended");
  here.Insert(2, 0);
  EXPECT_EQ(here.Count(), 2);
  txn.WriteLine("");
  EXPECT_EQ(txn.Wait(), 0);

  ChildProcess reading = Helper({"read-lock", path});
  ASSERT_EQ(reading.ReadLine(), "reading");
  here.data.StartTransaction(here.session);
  here.Insert(3, 0);  // a transaction-write lock gets along with a read lock
  ExpectEngineError([&] { here.data.Commit(here.session, false); }, 20233,
                    "Cannot commit changes. Locks of modified tables failed");
  EXPECT_TRUE(here.session.inTransaction);
  reading.WriteLine("");
  ASSERT_EQ(reading.ReadLine(), "released");
  here.data.Commit(here.session, true);
  EXPECT_FALSE(here.session.inTransaction);
  EXPECT_EQ(here.Count(), 3);
  EXPECT_TRUE(here.data.TableLocks().Entries(here.session.sessionID).empty());
  reading.WriteLine("");
  EXPECT_EQ(reading.Wait(), 0);
}

// A process killed in the middle of a transaction frees its slot and its
// table locks with its file handle; what it had not committed is not there.
TEST_F(SessionProcessTest, AKilledProcessFreesItsSlotAndLocks) {
  CreateSharedTableDb(path, 2);
  {
    ChildProcess txn = Helper({"txn", path, "10"});
    ASSERT_EQ(txn.ReadLine(), "inserted");
    ChildProcess other = Helper({"hold", path});
    ASSERT_EQ(other.ReadLine().rfind("slot ", 0), 0u);
    // Both slots taken.
    TABSDiskDatabaseData data("THIRD");
    TABSSessionInfo s;
    s.multiUser = true;
    data.Open(path, TABSPassword{}, true, false);
    ExpectEngineError([&] { data.Connect(s); }, 20094,
                      "Cannot connect session. Maximum connections quantity exceeded or database is open in "
                      "single-user mode");
  }  // both children are killed here, the transaction unfinished
  SharedTableConnection here(path);
  here.ShortLockTimes();
  here.Insert(10, 1);  // the key the dead transaction held is free, the lock gone
  EXPECT_EQ(here.Count(), 1);
  here.data.Disconnect(here.session);
  here.data.Close();
  ExpectCheckOk(path);
}

// Single-user: a process that finds another connected gets the database
// read-only; one that holds every slot keeps multi-user processes out.
TEST_F(SessionProcessTest, SingleUserClaimsEverySlotOrGetsReadOnly) {
  CreateSharedTableDb(path, 4);
  {
    ChildProcess holder = Helper({"hold", path});
    ASSERT_EQ(holder.ReadLine().rfind("slot ", 0), 0u);
    SharedTableConnection alone(path, false);
    EXPECT_TRUE(alone.data.ReadOnly());
    ExpectEngineError([&] { alone.Insert(1, 0); }, 10106, "Dataset is in read only mode");
    EXPECT_EQ(alone.Count(), 0);
  }
  SharedTableConnection alone(path, false);
  EXPECT_FALSE(alone.data.ReadOnly());
  alone.Insert(1, 0);
  {
    ChildProcess refused = Helper({"hold", path});
    const std::string line = refused.ReadLine();
    EXPECT_EQ(line.rfind("error 20094 ", 0), 0u) << line;
    EXPECT_EQ(refused.Wait(), 1);
  }
  // And a process asking for single-user beside it is read-only.
  ChildProcess second = Helper({"single", path});
  EXPECT_EQ(second.ReadLine(), "readonly 1");
  second.WriteLine("");
  EXPECT_EQ(second.ReadLine().rfind("error 10106 ", 0), 0u);
  EXPECT_EQ(second.Wait(), 1);
}

// The admin tool is one more multi-user connection: it imports into, lists
// and checks a table that two other processes have open (its check prints
// what the engine's check answers beside them), and what it stores is seen
// by them at their next operation.
TEST_F(SessionProcessTest, TheAdminToolWorksBesideRunningPrograms) {
  CreateSharedTableDb(path, 8);
  ChildProcess other = Helper({"hold", path});
  ASSERT_EQ(other.ReadLine().rfind("slot ", 0), 0u);
  SharedTableConnection here(path);
  int cursor = 0;
  here.table->OpenCursor(here.session, &cursor, false);
  here.Insert(1, 1);

  {
    std::ofstream csv(dir.File("rows.csv"));
    csv << "id,owner,nombre\n2,5,dos\n3,5,tres\n";
  }
  const ToolRun imported = Zudadmin({"import", path, kSharedTable, dir.File("rows.csv")});
  EXPECT_EQ(imported.exitCode, 0);
  EXPECT_TRUE(imported.Has("2 records imported"));
  EXPECT_EQ(here.Count(), 3);
  EXPECT_EQ(here.Rows().count(3), 1u);
  const ToolRun tables = Zudadmin({"tables", path});
  EXPECT_EQ(tables.exitCode, 0);
  EXPECT_TRUE(tables.HasPart(kSharedTable));
  const ToolRun check = ExpectToolCheckAsEngine(path);
  EXPECT_EQ(check.exitCode, 0);
  EXPECT_EQ(check.lines, std::vector<std::string>{"ok"});

  here.table->CloseCursor(here.session, &cursor);
  other.WriteLine("");
  EXPECT_EQ(other.Wait(), 0);
}

// Pages another process took for a transaction it has not committed look
// like leaks; beside it the check notes them instead of calling them
// faults, and judges them once the database is its own again.
TEST_F(SessionProcessTest, CheckDoesNotCallAnotherProcesssUnfinishedPagesLeaks) {
  CreateSharedTableDb(path, 8);
  ChildProcess txn = Helper({"txn", path, "1"});  // the table's first record page
  ASSERT_EQ(txn.ReadLine(), "inserted");
  const TABSCheckReport report = CheckDatabase(path, TABSPassword{});
  EXPECT_TRUE(report.Ok());
  const std::vector<std::string> beside = report.Lines();
  ASSERT_EQ(beside.size(), 2u);
  EXPECT_EQ(beside[0].rfind("note: ", 0), 0u) << beside[0];
  EXPECT_NE(beside[0].find(" marked used that nothing reaches; not judged as leaks while 1 other connection "
                           "is open"),
            std::string::npos)
      << beside[0];
  EXPECT_EQ(beside[1], "ok");
  txn.WriteLine("rollback");
  ASSERT_EQ(txn.ReadLine(), "ended");
  txn.WriteLine("");
  EXPECT_EQ(txn.Wait(), 0);
  ExpectCheckOk(path);
}

}  // namespace
