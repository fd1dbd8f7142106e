// Pages a connection took from the free-space map for a transaction it
// never committed, because its process died: the next connection that has
// the file to itself gives them back, and no connection ever gives back
// pages a live one may still commit.
//
// The deaths are real: a forked child connects, inserts rows (with memos,
// some larger than a page) inside a transaction and leaves with _exit, so
// no destructor, rollback or disconnect runs and the kernel drops its locks.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "KillTestDb.h"
#include "disk/DatabaseCheck.h"
#include "disk/FreeSpaceMap.h"
#include "support/ScratchDir.h"

namespace {

// Rows `first` .. `first + count - 1` of version 1 inserted by `c`.
void InsertRows(KillTableConnection& c, int32_t first, int32_t count) {
  for (int32_t id = first; id < first + count; ++id) {
    c.table->InitRecordForInsert(c.record.data());
    c.FillRow(c.record.data(), id, 1);
    c.table->InsertRecord(c.session, c.record.data());
  }
}

// A child that inserts `count` rows in a transaction and dies before its
// commit. True when it got that far.
bool DieInsideATransaction(const std::string& path, int32_t first, int32_t count) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    int code = 0;
    try {
      auto* c = new KillTableConnection(path);  // never destroyed: the process dies holding it
      c->data.StartTransaction(c->session);
      InsertRows(*c, first, count);
    } catch (...) {
      code = 1;
    }
    _exit(code);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

size_t RowCount(const std::string& path) { return KillTableConnection(path).ReadAll(false).size(); }

int32_t PagesUsed(const std::string& path) {
  KillTableConnection c(path);
  return c.data.Pages().FreeSpaceManager().CountUsage().used;
}

struct DeadConnectionTest : ::testing::Test {
  ScratchDir dir{"tivoran-dead"};
  std::string path = dir.File("dead.abs");
  void SetUp() override {
    CreateKillTableDb(path, 8);
    KillTableConnection c(path);
    InsertRows(c, 1, 5);
  }
};

// Whoever comes first after the death has the file to itself: a
// multi-user connection, a single-user open (its claim of every slot), or
// the check's own connection. Each gives the pages back before anything
// reads, so the check finds every page reached and the map as before.
TEST_F(DeadConnectionTest, TheNextConnectionAloneGivesTheDeadOnesPagesBack) {
  enum class First { kMultiUser, kSingleUser, kCheck };
  for (const First first : {First::kMultiUser, First::kSingleUser, First::kCheck}) {
    SCOPED_TRACE(static_cast<int>(first));
    const int32_t usedBefore = PagesUsed(path);
    ASSERT_TRUE(DieInsideATransaction(path, 100, 12));
    if (first == First::kMultiUser) KillTableConnection{path};
    if (first == First::kSingleUser) TableConnection(path, kKillTable, "SOLO", false);
    const TABSCheckReport report = CheckDatabase(path, TABSPassword{});
    EXPECT_TRUE(report.Ok() && report.notes.empty()) << ::testing::PrintToString(report.Lines());
    EXPECT_EQ(PagesUsed(path), usedBefore);
    EXPECT_EQ(RowCount(path), 5u);
  }
}

// A connection that is not alone never sweeps: another one (B, connected
// before the death) is in the middle of a transaction whose new pages
// nothing reaches yet. The slot the dead child held is taken and given back
// by C meanwhile; its mark must outlive C, so that B, leaving last, still
// sweeps.
TEST_F(DeadConnectionTest, NoSweepWhileAnotherConnectionMayCommitItsNewPages) {
  const int32_t usedBefore = PagesUsed(path);
  {
    KillTableConnection b(path);
    ASSERT_TRUE(DieInsideATransaction(path, 100, 12));
    b.data.StartTransaction(b.session);
    InsertRows(b, 50, 10);
    { KillTableConnection c(path); }  // takes the dead one's slot and leaves
    const TABSCheckReport beside = CheckDatabase(path, TABSPassword{});
    EXPECT_TRUE(beside.Ok()) << ::testing::PrintToString(beside.Lines());
    EXPECT_EQ(beside.notes.size(), 1u) << "the dead one's and B's pages, unjudged";
    b.data.Commit(b.session, false);
  }
  const TABSCheckReport report = CheckDatabase(path, TABSPassword{});
  EXPECT_TRUE(report.Ok() && report.notes.empty()) << ::testing::PrintToString(report.Lines());
  EXPECT_EQ(RowCount(path), 15u);
  // B's rows hold pages of their own now; the dead one's are free again.
  EXPECT_GT(PagesUsed(path), usedBefore);
  KillTableConnection again(path);
  EXPECT_EQ(again.ReadAll(true).size(), 15u);
  for (const KillRow& row : again.ReadAll(true)) EXPECT_TRUE(row.Whole()) << row.id;
}

}  // namespace
