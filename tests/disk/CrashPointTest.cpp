// Every crash point of a commit. The commit runs over the fault-injecting
// file system and is stopped at each of its writes in turn (a kill: what
// was written stays, nothing more is) and, when flushed, at each of its
// flushes (a power cut: what was not flushed is gone). The database is then
// reopened as the next process would open it, and must hold exactly the
// rows of before or of after the commit, pass the engine's check, and have
// no journal left beside it.
//
// One gap stays, and the test holds it to exactly that: pages are taken
// from the free-space map while the transaction runs, before its commit,
// and a process stopped before its journal is whole (the journal's first
// writes) leaves those pages marked in use and reached by nothing, as a
// process killed before it commits does. The check reports them as leaks;
// the data is that of before the commit.
#include <filesystem>
#include <functional>
#include <map>

#include "BlobTestDb.h"
#include "DiskTestUtil.h"
#include "core/ZUDVariant.h"
#include "os/FaultFile.h"
#include "support/FieldList.h"
#include "support/TableConnection.h"

namespace {

// Every row: id -> "grupo|memo".
using Rows = std::multimap<int32_t, std::string>;

constexpr int kForever = 1 << 30;
constexpr const char* kTable = "docs";

bool IsLeakLine(const std::string& line) {
  return line.find("is marked used but nothing uses it") != std::string::npos ||
         line.find(": no page signature") != std::string::npos;
}

// Table "docs": id (unique index), grupo (a second index, not unique) and a
// MEMO whose value follows from the id (small ones share BLOB pages, one in
// five spans several pages).
struct Connection : TableConnection {
  explicit Connection(const std::string& path, tiv::os::FileSystem& fs = tiv::os::FileSystem::Default())
      : TableConnection(path, kTable, "CRASH", true, fs) {}
  void Fill(int32_t id, int32_t grupo, int32_t memoOf) {
    table->InitRecordForInsert(record.data());
    TABSVariant v;
    v.SetAsInteger(id);
    WriteFieldValue(table->FieldDefs(), record.data(), 0, v);
    v.SetAsInteger(grupo);
    WriteFieldValue(table->FieldDefs(), record.data(), 1, v);
    const std::string memo = MemoOf(memoOf);
    table->WriteBlobBuffer(session, record.data(), 2, memo.data(), static_cast<int64_t>(memo.size()));
  }
  void Insert(int32_t id, int32_t grupo) {
    Fill(id, grupo, id);
    table->InsertRecord(session, record.data());
  }
  // Every record id with the row's id.
  std::vector<std::pair<TABSRecordID, int32_t>> Ids() {
    std::vector<std::pair<TABSRecordID, int32_t>> ids;
    TABSTableCursor cursor;
    table->PrepareCursor(cursor);
    while (table->FetchRecord(session, cursor, grmNext) == grrFound) {
      TABSVariant id;
      ReadFieldValue(table->FieldDefs(), cursor.Record(), 0, id);
      ids.emplace_back(cursor.recordID, id.AsInteger());
    }
    return ids;
  }
  Rows Read() {
    Rows rows;
    TABSTableCursor cursor;
    table->PrepareCursor(cursor);
    while (table->FetchRecord(session, cursor, grmNext) == grrFound) {
      TABSVariant id, grupo;
      ReadFieldValue(table->FieldDefs(), cursor.Record(), 0, id);
      ReadFieldValue(table->FieldDefs(), cursor.Record(), 1, grupo);
      rows.emplace(id.AsInteger(),
                   std::to_string(grupo.AsInteger()) + "|" + table->ReadBlobBuffer(session, cursor.Record(), 2));
    }
    EXPECT_EQ(table->GetRecordCount(session), static_cast<int64_t>(rows.size())) << "the count disagrees";
    return rows;
  }
};

void CreateDocsDb(const std::string& path) {
  TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, 4);
  TABSDiskDatabaseData data("MAKE");
  TABSSessionInfo session;
  session.multiUser = true;
  data.Open(path, TABSPassword{}, true, false);
  data.Connect(session);
  TABSFieldDefs fields;
  AddFields(fields, {{"id", aftInteger}, {"grupo", aftInteger}, {"texto", aftMemo}});
  TABSIndexDefs indexes;
  TABSIndexDef* byId = indexes.AddNew();
  byId->SetName("por_id");
  byId->unique = true;
  byId->FillColumns({"id"}, {"ASC"}, {"CASE"});
  TABSIndexDef* byGroup = indexes.AddNew();
  byGroup->SetName("por_grupo");
  byGroup->FillColumns({"grupo"}, {"ASC"}, {"CASE"});
  data.CreateTable(session, kTable, fields, indexes);
  data.Disconnect(session);
}

Rows RowsOf(const std::string& path) { return Connection(path).Read(); }

struct Scenario {
  const char* name;
  int32_t rowsBefore;
  std::function<void(Connection&)> change;  // inside the transaction
};

const Scenario kScenarios[] = {
    {"a commit that grows the file", 20,
     [](Connection& c) {
       for (int32_t id = 21; id <= 120; ++id) c.Insert(id, id % 4);
     }},
    {"a commit that frees pages", 120,
     [](Connection& c) {
       // Every other row deleted, the rest given another memo and group:
       // records, both indexes and BLOB pages change, and pages are freed.
       for (const auto& [at, id] : c.Ids()) {
         if (id % 2 == 0) {
           c.table->DeleteRecord(c.session, at);
         } else {
           c.Fill(id, 9, id + 1000);
           c.table->UpdateRecord(c.session, at, c.record.data());
         }
       }
     }},
    {"a commit that empties the table", 120,
     [](Connection& c) {
       c.data.EmptyTable(c.session, kTable);
       c.Insert(9999, 3);
     }},
    {"a commit that frees the last pages and cuts the file", 120,
     [](Connection& c) {
       // The rows inserted last hold the pages at the end of the file; a
       // recovery must give the check the page count of before the cut.
       for (const auto& [at, id] : c.Ids())
         if (id > 60) c.table->DeleteRecord(c.session, at);
     }},
    {"a commit whose transaction wrote added pages early", 20,
     [](Connection& c) {
       c.data.Pages().SetSpillLimit(64);
       for (int32_t id = 21; id <= 200; ++id) c.Insert(id, id % 4);
     }},
};

class CrashPointTest : public ::testing::TestWithParam<bool> {
 protected:
  ScratchDir dir;
  std::string path = dir.File("crash.zud");
  Bytes base;

  void Build(const Scenario& s) {
    std::filesystem::remove(path);
    CreateDocsDb(path);
    {
      Connection c(path);
      c.data.StartTransaction(c.session);
      for (int32_t id = 1; id <= s.rowsBefore; ++id) c.Insert(id, id % 4);
      c.data.Commit(c.session, false);
    }
    base = ReadAll(path);
  }
  void Restore() {
    WriteAll(path, base);
    std::filesystem::remove(path + "-journal");
  }
  // Runs the scenario's commit over `fs`; `arm` sets the fault after the
  // changes are made. True when the commit reported success.
  bool Run(const Scenario& s, tiv::os::FaultFileSystem& fs, bool flush, const std::function<void()>& arm) {
    bool committed = false;
    {
      Connection c(path, fs);
      c.data.StartTransaction(c.session);
      s.change(c);
      arm();
      try {
        c.data.Commit(c.session, flush);
        committed = true;
      } catch (const EABSException&) {
        // the crash: nothing after it reaches the file
      }
      fs.FailWrite(1, kForever);
    }
    return committed;
  }
  // The scenario's commit run whole from the built state: how many writes
  // and flushes it makes, and how many of its first writes are the
  // journal's, up to its header.
  struct Shape {
    int writes = 0, syncs = 0, journalFirst = 0;
  };
  Shape Learn(const Scenario& s, bool flush) {
    Shape shape;
    tiv::os::FaultFileSystem fs;
    int w0 = 0, s0 = 0;
    Restore();
    const bool committed = Run(s, fs, flush, [&] {
      w0 = fs.WriteCount();
      s0 = fs.SyncCount();
    });
    EXPECT_TRUE(committed);
    shape.writes = fs.WriteCount() - w0;
    shape.syncs = fs.SyncCount() - s0;
    while (shape.journalFirst < shape.writes && fs.WritePath(w0 + shape.journalFirst + 1) == path + "-journal")
      ++shape.journalFirst;
    return shape;
  }
};

TEST_P(CrashPointTest, EveryStopOfACommitLeavesTheStateBeforeOrAfterIt) {
  const bool powerCut = GetParam();
  for (const Scenario& s : kScenarios) {
    SCOPED_TRACE(s.name);
    Build(s);
    const Rows before = RowsOf(path);
    // The commit whole, to learn its rows and how many writes and flushes
    // it makes.
    const auto [writes, syncs, journalFirst] = Learn(s, powerCut);
    ASSERT_GT(journalFirst, 0);
    const Rows after = RowsOf(path);
    ASSERT_NE(before, after);
    ASSERT_GT(writes, 3);
    const int points = powerCut ? syncs : writes;
    ASSERT_GT(points, 0);
    int sawBefore = 0, sawAfter = 0;
    for (int k = 1; k <= points; ++k) {
      SCOPED_TRACE((powerCut ? "power cut at flush " : "kill at write ") + std::to_string(k));
      Restore();
      tiv::os::FaultFileSystem fs;
      Run(s, fs, powerCut, [&] {
        if (powerCut)
          fs.FailSync(k, kForever);
        else
          fs.FailWrite(k, kForever);
      });
      if (powerCut) fs.DropUnflushed();
      // Stopped before its journal was whole: no page was overwritten, and
      // the pages the transaction took stay taken (the gap named above).
      const bool unsealed = !powerCut && k <= journalFirst;
      // The check is the first to open the file: its open plays the journal
      // back as any open does.
      const TABSCheckReport report = CheckDatabase(path, TABSPassword{});
      const Rows rows = RowsOf(path);
      if (rows == before)
        ++sawBefore;
      else if (rows == after)
        ++sawAfter;
      else
        ADD_FAILURE() << "neither the rows of before (" << before.size() << ") nor of after (" << after.size()
                      << "): " << rows.size();
      if (unsealed) {
        EXPECT_EQ(rows, before);
        for (const std::string& p : report.problems) EXPECT_TRUE(IsLeakLine(p)) << p;
      } else {
        EXPECT_TRUE(report.Ok() && report.notes.empty()) << ::testing::PrintToString(report.Lines());
      }
      EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
      // And the next writer goes on.
      Connection next(path);
      next.Insert(123456, 1);
    }
    EXPECT_GT(sawBefore, 0);
  }
}

// A recovery stopped in its turn. The commit is killed half-way through its
// page writes (its journal whole, some pages overwritten); the next open's
// recovery is then stopped at each of its writes (a kill) or flushes (a
// power cut). The journal stays valid until a
// recovery has ended, so the open after that plays it again: the rows are
// those of before the commit and the check finds nothing.
TEST_P(CrashPointTest, ARecoveryStoppedAnywhereIsPlayedAgainByTheNextOpen) {
  const bool powerCut = GetParam();
  const Scenario& s = kScenarios[1];
  Build(s);
  const Rows before = RowsOf(path);
  const Shape shape = Learn(s, false);
  const int writes = shape.writes, journalFirst = shape.journalFirst;
  Restore();
  {
    tiv::os::FaultFileSystem fs;
    ASSERT_FALSE(Run(s, fs, false, [&] { fs.FailWrite(journalFirst + (writes - journalFirst) / 2, kForever); }));
  }
  const std::string journal = path + "-journal";
  ASSERT_TRUE(std::filesystem::exists(journal));
  const Bytes hotDb = ReadAll(path), hotJournal = ReadAll(journal);
  auto restoreHot = [&] {
    WriteAll(path, hotDb);
    WriteAll(journal, hotJournal);
  };
  auto recover = [&](tiv::os::FaultFileSystem& fs) {
    try {
      Connection c(path, fs);
    } catch (const EABSException&) {
      // stopped
    }
  };
  int points = 0;
  {
    restoreHot();
    tiv::os::FaultFileSystem fs;
    recover(fs);
    points = powerCut ? fs.SyncCount() : fs.WriteCount();
  }
  ASSERT_GT(points, 1);
  for (int k = 1; k <= points; ++k) {
    SCOPED_TRACE((powerCut ? "recovery cut at flush " : "recovery killed at write ") + std::to_string(k));
    restoreHot();
    {
      tiv::os::FaultFileSystem fs;
      if (powerCut)
        fs.FailSync(k, kForever);
      else
        fs.FailWrite(k, kForever);
      recover(fs);
      if (powerCut) fs.DropUnflushed();
    }
    const TABSCheckReport report = CheckDatabase(path, TABSPassword{});
    EXPECT_TRUE(report.Ok() && report.notes.empty()) << ::testing::PrintToString(report.Lines());
    EXPECT_EQ(RowsOf(path), before);
    EXPECT_FALSE(std::filesystem::exists(journal));
  }
}

// A commit killed with its journal sealed and State 1 not yet written: the
// next open gives its new pages back. If that open dies before it removes
// the journal, the journal must not give the pages back a second time once
// a live connection (B, open since before the kill) has taken them again.
TEST_F(CrashPointTest, ASealedJournalGivesItsPagesBackOnce) {
  const Scenario& s = kScenarios[0];
  Build(s);
  const std::string journal = path + "-journal";
  const int journalFirst = Learn(s, false).journalFirst;
  Restore();
  const Rows before = RowsOf(path);
  Connection b(path);
  {
    tiv::os::FaultFileSystem fs;
    ASSERT_FALSE(Run(s, fs, false, [&] { fs.FailWrite(journalFirst + 1, kForever); }));
  }
  ASSERT_TRUE(std::filesystem::exists(journal));
  const Bytes sealed = ReadAll(journal);
  { Connection r(path); }     // gives the pages back and removes the journal
  WriteAll(journal, sealed);  // as if r had died before removing it
  b.data.StartTransaction(b.session);
  for (int32_t id = 500; id < 560; ++id) b.Insert(id, 1);
  { Connection c(path); }  // finds the journal again
  b.data.Commit(b.session, false);
  Rows want = before;
  for (const auto& [id, row] : b.Read())
    if (id >= 500) want.emplace(id, row);
  EXPECT_EQ(want.size(), before.size() + 60);
  const TABSCheckReport report = CheckDatabase(path, TABSPassword{});
  EXPECT_TRUE(report.Ok()) << ::testing::PrintToString(report.Lines());
  EXPECT_EQ(b.Read(), want);
}

// A transaction that outgrows the pages a session may hold: the pages it
// added are written to the file before its commit, unseen by another
// connection, and the commit or the rollback is whole (a rollback frees
// them again; no copy of one is served afterwards).
TEST_F(CrashPointTest, ATransactionWrittenEarlyCommitsOrRollsBackWhole) {
  for (const bool commit : {true, false}) {
    SCOPED_TRACE(commit ? "commit" : "rollback");
    Build(kScenarios[0]);
    const Rows before = RowsOf(path);
    Connection other(path);
    Rows after;
    {
      Connection c(path);
      c.data.Pages().SetSpillLimit(64);
      c.data.StartTransaction(c.session);
      for (int32_t id = 21; id <= 400; ++id) c.Insert(id, id % 4);
      EXPECT_LE(c.data.Pages().DirtyPageCount(c.session.sessionID), 64);
      EXPECT_GT(std::filesystem::file_size(path), base.size()) << "nothing was written early";
      EXPECT_EQ(other.Read(), before);
      after = c.Read();
      ASSERT_EQ(after.size(), 400u);
      if (commit)
        c.data.Commit(c.session, false);
      else
        c.data.Rollback(c.session);
      EXPECT_EQ(c.Read(), commit ? after : before);
      c.Insert(1000, 1);  // over the pages the rollback freed
      c.Insert(1001, 1);
    }
    Rows want = commit ? after : before;
    want.emplace(1000, "1|" + MemoOf(1000));
    want.emplace(1001, "1|" + MemoOf(1001));
    EXPECT_EQ(other.Read(), want);
    const TABSCheckReport report = CheckDatabase(path, TABSPassword{});
    EXPECT_TRUE(report.Ok() && report.notes.empty()) << ::testing::PrintToString(report.Lines());
  }
}

INSTANTIATE_TEST_SUITE_P(Stops, CrashPointTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "PowerCut" : "Kill"; });

}  // namespace
