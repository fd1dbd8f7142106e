// Lock kinds, the locks file, the lock manager and the sessions file within
// one process. Two opens of one file exclude each other like two processes
// (their locks are open-file-description locks), so each LockTestView here
// stands for a process of its own.
#include "LockTestDb.h"

namespace {

class LockTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateLockTestDb(path); }
  ScratchDir dir;
  std::string path = dir.File("locks.zud");
};

TEST(LockKindsTest, CompatibilityIsSymmetricAndCoverageFollowsIt) {
  for (int a = 0; a < kLockKindCount; ++a)
    for (int b = 0; b < kLockKindCount; ++b) EXPECT_EQ(kLockCompatible[a][b], kLockCompatible[b][a]) << a << b;
  struct Case {
    int x, y;
    bool covers;
  } cases[] = {
      {ltExclusive, ltOpen, true},
      {ltExclusive, ltWrite, true},
      {ltExclusive, ltRecord, false},
      {ltWrite, ltRead, true},
      {ltWrite, ltEdit, true},
      {ltWrite, ltTransactionWrite, false},
      {ltTransactionWrite, ltEdit, true},
      {ltTransactionWrite, ltWrite, false},
      {ltRead, ltOpen, true},
      {ltOpen, ltRead, false},
      {ltRecord, ltOpen, false},
      {ltOpen, ltRecord, false},
  };
  for (const Case& c : cases) EXPECT_EQ(LockCovers(c.x, c.y), c.covers) << c.x << " covers " << c.y;
}

TEST_F(LockTest, ContentPositionsFollowThePageChain) {
  LockTestView v(path, 500);  // 6000 bytes: two pages
  const uint8_t last = 0xA5, first = 0x5A;
  v.locksArea->DirectWriteBuffer(&last, 1, 4045);
  v.locksArea->DirectWriteBuffer(&first, 1, 4046);
  uint8_t b = 0;
  v.pm.ReadPageBytes(&b, kLocksFirstPage, 1, 4095);
  EXPECT_EQ(b, last);
  v.pm.ReadPageBytes(&b, kLocksFirstPage + 1, 1, 40);
  EXPECT_EQ(b, first);
  // A transfer across the page edge, and a lock seen across it.
  const uint8_t two[2] = {1, 2};
  v.locksArea->DirectWriteBuffer(two, 2, 4045);
  uint8_t back[2] = {};
  v.locksArea->DirectReadBuffer(back, 2, 4045);
  EXPECT_EQ(back[0], 1);
  EXPECT_EQ(back[1], 2);
  LockTestView other(path, 500);
  ASSERT_TRUE(other.locksArea->LockByte(4046));
  EXPECT_TRUE(v.locksArea->IsRegionLocked(4040, 10));
  EXPECT_FALSE(v.locksArea->IsRegionLocked(4040, 6));
  EXPECT_FALSE(v.locksArea->IsRegionLocked(4046, 0));
  ExpectEngineError([&] { v.locksArea->DirectReadBuffer(back, 2, 5999); }, 20159, "FileSize=6000");
  ExpectEngineError([&] { v.locksArea->DirectWriteBuffer(two, 1, 6000); }, 20158, "Position=6000");
  EXPECT_FALSE(v.locksArea->LockByte(6000));
  EXPECT_FALSE(v.locksArea->LockByte(-1));
}

TEST_F(LockTest, EveryHeldKindAllowsExactlyTheRequestsOfTheTable) {
  LockTestView mine(path, 4), theirs(path, 4);
  for (int held = 0; held < kLockByteKindCount; ++held) {
    ASSERT_TRUE(theirs.locks->SetLockByte(1, static_cast<TABSLockKind>(held)));
    for (int requested = 0; requested < kLockKindCount; ++requested) {
      const auto kind = static_cast<TABSLockKind>(requested);
      EXPECT_EQ(mine.locks->IsCompatible(0, kind, false), kLockCompatible[held][requested] == 1)
          << "held " << held << " requested " << requested;
      const bool flagged = kLockCompatible[held][requested] || (held == ltEdit && kind == ltTransactionWrite);
      EXPECT_EQ(mine.locks->IsCompatible(0, kind, true), flagged) << "flagged, held " << held;
      // A slot's own byte never stands in its way.
      EXPECT_TRUE(theirs.locks->IsCompatible(1, kind, false));
    }
    ASSERT_TRUE(theirs.locks->ClearLockByte(1, static_cast<TABSLockKind>(held)));
  }
  // Another slot of the same open counts as another connection.
  ASSERT_TRUE(mine.locks->SetLockByte(2, ltWrite));
  EXPECT_FALSE(mine.locks->IsCompatible(0, ltRead, true));
  EXPECT_FALSE(mine.locks->SetLockByte(4, ltOpen));  // no such slot
}

TEST_F(LockTest, RepeatedLocksCountAndTheLastReleaseFreesTheByte) {
  LockTestView a(path, 4), b(path, 4);
  auto& m = *a.manager;
  ASSERT_TRUE(m.LockTable(0, ltOpen, true, false, 0, 1, a.locks.get()));
  ASSERT_TRUE(m.LockTable(0, ltOpen, true, false, 0, 1, a.locks.get()));
  EXPECT_TRUE(m.UnlockTable(0, ltOpen, false, false, a.locks.get()));
  EXPECT_FALSE(b.manager->LockTable(1, ltExclusive, true, false, 0, 2, b.locks.get()));
  EXPECT_TRUE(m.UnlockTable(0, ltOpen, false, false, a.locks.get()));
  EXPECT_TRUE(m.Entries(0).empty());
  ExpectEngineError([&] { m.UnlockTable(0, ltOpen, false, false, a.locks.get()); }, 20202,
                    "Cannot remove table lock. Lock not found");
  EXPECT_TRUE(m.UnlockTable(0, ltOpen, false, true, a.locks.get()));  // CheckHeld: nothing to do
  // A second edit lock of the same slot on the same table is refused.
  ASSERT_TRUE(m.LockTable(0, ltEdit, true, false, 0, 1, a.locks.get()));
  EXPECT_FALSE(m.LockTable(0, ltEdit, true, false, 0, 1, a.locks.get()));
  EXPECT_TRUE(m.UnlockTable(0, ltEdit, false, false, a.locks.get()));
  EXPECT_TRUE(b.manager->LockTable(1, ltExclusive, true, false, 0, 1, b.locks.get()));
  EXPECT_TRUE(b.manager->UnlockTable(1, ltExclusive, false, false, b.locks.get()));
}

TEST_F(LockTest, ACoveredLockTakesItsOwnByteWhenItsCoverGoes) {
  LockTestView a(path, 4), b(path, 4);
  auto& m = *a.manager;
  ASSERT_TRUE(m.LockTable(0, ltWrite, true, false, 0, 1, a.locks.get()));
  ASSERT_TRUE(m.LockTable(0, ltRead, true, false, 0, 1, a.locks.get()));
  auto entries = m.Entries(0);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_FALSE(entries[1].OwnsByte);
  EXPECT_FALSE(b.locks->IsHeldByOthers(1, ltRead));
  EXPECT_TRUE(m.UnlockTable(0, ltWrite, false, false, a.locks.get()));
  // The read lock now stands on its own byte: another writer waits for it.
  EXPECT_TRUE(b.locks->IsHeldByOthers(1, ltRead));
  EXPECT_FALSE(b.locks->IsHeldByOthers(1, ltWrite));
  EXPECT_FALSE(b.manager->LockTable(1, ltWrite, true, false, 1, 3, b.locks.get()));
  EXPECT_TRUE(m.UnlockTable(0, ltRead, false, false, a.locks.get()));
  EXPECT_TRUE(b.manager->LockTable(1, ltWrite, true, false, 1, 1, b.locks.get()));
  EXPECT_TRUE(b.manager->UnlockTable(1, ltWrite, false, false, b.locks.get()));
}

TEST_F(LockTest, ExclusiveAccessKeepsEveryoneOutAndHandsItsLocksOverWhenItEnds) {
  LockTestView a(path, 4), b(path, 4);
  auto& m = *a.manager;
  const TABSRecordID record{7, 3};
  ASSERT_TRUE(m.LockTable(0, ltExclusive, true, false, 0, 1, a.locks.get()));
  ASSERT_TRUE(m.LockTable(0, ltOpen, true, false, 0, 1, a.locks.get()));   // covered
  ASSERT_TRUE(m.LockRecord(0, a.locks.get(), 0, 1, record));               // no byte
  EXPECT_FALSE(m.LockRecord(0, a.locks.get(), 0, 1, TABSRecordID{8, 0}));  // one per table
  // Every request of another process fails at once, delays 0 and 1 too.
  for (int delay : {0, 1})
    for (int kind : {ltOpen, ltRead, ltWrite, ltExclusive})
      EXPECT_FALSE(b.manager->LockTable(1, static_cast<TABSLockKind>(kind), true, false, delay, 3, b.locks.get()));
  EXPECT_FALSE(b.manager->LockRecord(1, b.locks.get(), 0, 3, TABSRecordID{9, 9}));

  EXPECT_TRUE(m.UnlockTable(0, ltExclusive, false, false, a.locks.get()));
  // The open lock and the record lock now have their bytes.
  EXPECT_TRUE(b.locks->IsHeldByOthers(1, ltOpen));
  EXPECT_TRUE(b.manager->IsRecordLocked(1, b.locks.get(), record));
  EXPECT_FALSE(b.manager->IsRecordLocked(1, b.locks.get(), TABSRecordID{7, 4}));
  EXPECT_FALSE(b.manager->LockTable(1, ltExclusive, true, false, 0, 2, b.locks.get()));
  EXPECT_TRUE(b.manager->LockTable(1, ltRead, true, false, 0, 1, b.locks.get()));
  EXPECT_TRUE(b.manager->UnlockTable(1, ltRead, false, false, b.locks.get()));
  EXPECT_TRUE(m.UnlockRecord(0, a.locks.get(), record));
  EXPECT_FALSE(m.UnlockRecord(0, a.locks.get(), record));
  EXPECT_TRUE(m.UnlockTable(0, ltOpen, false, false, a.locks.get()));
  EXPECT_TRUE(b.manager->LockTable(1, ltExclusive, true, false, 0, 1, b.locks.get()));
  EXPECT_TRUE(b.manager->UnlockTable(1, ltExclusive, false, false, b.locks.get()));
}

TEST_F(LockTest, TwoConnectionsCannotLockTheSameRecord) {
  LockTestView a(path, 4), b(path, 4);
  const TABSRecordID r1{5, 1}, r2{5, 2};
  ASSERT_TRUE(a.manager->LockRecord(0, a.locks.get(), 0, 1, r1));
  EXPECT_FALSE(b.manager->LockRecord(1, b.locks.get(), 1, 3, r1));
  EXPECT_TRUE(b.manager->IsRecordLocked(1, b.locks.get(), r1));
  EXPECT_FALSE(a.manager->IsRecordLocked(0, a.locks.get(), r1));  // its own lock
  // Two slots of one process exclude each other too.
  EXPECT_FALSE(a.manager->LockRecord(2, a.locks.get(), 0, 1, r1));
  EXPECT_TRUE(b.manager->LockRecord(1, b.locks.get(), 0, 1, r2));
  EXPECT_TRUE(a.manager->UnlockRecord(0, a.locks.get(), r1));
  EXPECT_FALSE(b.manager->IsRecordLocked(1, b.locks.get(), r1));
  EXPECT_TRUE(a.manager->LockRecord(2, a.locks.get(), 0, 1, r1));
  EXPECT_TRUE(a.manager->UnlockRecord(2, a.locks.get(), r1));
  EXPECT_TRUE(b.manager->UnlockRecord(1, b.locks.get(), r2));
}

TEST_F(LockTest, CommitTakesWriteLocksAndKeepsTheEditOfARecordStillLocked) {
  LockTestView a(path, 4), b(path, 4);
  auto& m = *a.manager;
  m.SetCommitLockTimes(0, 2);
  const TABSRecordID record{4, 4};
  ASSERT_TRUE(m.LockTable(0, ltTransactionWrite, true, false, 0, 1, a.locks.get()));
  ASSERT_TRUE(m.LockRecord(0, a.locks.get(), 0, 1, record));

  // A reader of another process makes the commit's write lock fail, and
  // the failed attempt leaves no write lock behind.
  ASSERT_TRUE(b.manager->LockTable(1, ltRead, true, false, 0, 1, b.locks.get()));
  EXPECT_FALSE(m.LockModifiedTables(0));
  for (const auto& e : m.Entries(0)) EXPECT_NE(e.Kind, ltWrite);
  ASSERT_TRUE(b.manager->UnlockTable(1, ltRead, false, false, b.locks.get()));

  ASSERT_TRUE(m.LockModifiedTables(0));
  EXPECT_FALSE(b.manager->LockTable(1, ltRead, true, false, 0, 2, b.locks.get()));
  ASSERT_TRUE(m.ReleaseTransactionLocks(0));
  auto entries = m.Entries(0);
  ASSERT_EQ(entries.size(), 2u);  // the record lock and its edit lock
  for (const auto& e : entries) {
    EXPECT_TRUE(e.Kind == ltRecord || e.Kind == ltEdit) << int(e.Kind);
    EXPECT_TRUE(e.OwnsByte);
  }
  // The edit lock keeps out unflagged transaction writes and exclusive
  // opens, not flagged ones nor readers.
  EXPECT_TRUE(b.manager->LockTable(1, ltRead, true, false, 0, 1, b.locks.get()));
  EXPECT_FALSE(b.manager->LockTable(1, ltTransactionWrite, false, false, 0, 1, b.locks.get()));
  EXPECT_TRUE(b.manager->LockTable(1, ltTransactionWrite, true, false, 0, 1, b.locks.get()));
  EXPECT_TRUE(b.manager->ReleaseTransactionLocks(1));
  EXPECT_TRUE(b.manager->UnlockTable(1, ltRead, false, false, b.locks.get()));
  EXPECT_FALSE(b.manager->LockTable(1, ltExclusive, true, false, 0, 1, b.locks.get()));
  EXPECT_TRUE(m.UnlockRecord(0, a.locks.get(), record));
  EXPECT_TRUE(m.UnlockTable(0, ltEdit, false, false, a.locks.get()));
  EXPECT_TRUE(m.Entries(0).empty());
}

TEST_F(LockTest, BadSlotsAndMissingFilesAreEngineErrors) {
  LockTestView v(path, 4);
  auto& m = *v.manager;
  ExpectEngineError([&] { m.LockTable(4, ltOpen, true, false, 0, 1, v.locks.get()); }, 20200,
                    "increase number of allowed connections");
  ExpectEngineError([&] { m.LockTable(0, ltOpen, true, false, 0, 1, nullptr); }, 10489, "Nil pointer occured");
  ExpectEngineError([&] { m.UnlockTable(0, ltOpen, false, false, nullptr); }, 10490);
  ExpectEngineError([&] { m.LockRecord(0, nullptr, 0, 1, {}); }, 10491);
  ExpectEngineError([&] { m.UnlockRecord(0, nullptr, {}); }, 10492);
  ExpectEngineError([&] { m.IsRecordLocked(0, nullptr, {}); }, 10493);
  // A locks file made for fewer slots than the database now allows.
  TABSPageLockByteArea small(v.pm, {kLocksFirstPage}, 2 * TABSTableLocksFile::kBytesPerSlot);
  TABSTableLocksFile smallFile(small);
  EXPECT_TRUE(m.LockTable(3, ltExclusive, true, false, 0, 1, &smallFile));  // no byte needed
  EXPECT_TRUE(m.UnlockTable(3, ltExclusive, false, false, &smallFile));
  ExpectEngineError([&] { m.LockTable(3, ltOpen, true, false, 0, 1, &smallFile); }, 20200);
  EXPECT_TRUE(m.Entries(3).empty());
}

TEST_F(LockTest, AnExclusiveDatabaseGrantsEverythingWithoutTouchingTheFile) {
  LockTestView a(path, 4, true);
  EXPECT_TRUE(a.manager->LockTable(0, ltExclusive, true, false, 0, 1, a.locks.get()));
  EXPECT_TRUE(a.manager->LockTable(1, ltExclusive, true, false, 0, 1, a.locks.get()));
  EXPECT_TRUE(a.manager->LockRecord(0, a.locks.get(), 0, 1, {1, 1}));
  EXPECT_TRUE(a.manager->LockRecord(1, a.locks.get(), 0, 1, {1, 1}));
  EXPECT_TRUE(a.manager->Entries(0).empty());
  EXPECT_FALSE(a.locks->IsHeldByOthers(3, ltOpen));
  EXPECT_TRUE(a.locks->LockFile());
  EXPECT_TRUE(a.locks->UnlockFile());
}

TEST_F(LockTest, ListsThatStillHoldLocksReportInsteadOfRaising) {
  TABSTableLockList list;
  list.Add({ltOpen, 11, 1, true, true, nullptr, {}});
  ExpectEngineError([&] { list.CheckEmpty(); }, 20201, "Some table locks still exist");
  EXPECT_NO_THROW({
    LockTestView v(path, 4);
    ASSERT_TRUE(v.manager->LockTable(0, ltOpen, true, false, 0, 1, v.locks.get()));
    // The view goes with a lock still listed: reported, not raised.
  });
  // Its byte went with its open.
  LockTestView w(path, 4);
  EXPECT_FALSE(w.locks->IsHeldByOthers(1, ltOpen));
}

TEST_F(LockTest, SessionsOfOneProcessTakeSuccessiveSlots) {
  LockTestView a(path, 3), b(path, 3);
  EXPECT_EQ(a.sessions->Connect(), 0);
  EXPECT_EQ(a.sessions->Connect(), 1);
  EXPECT_EQ(b.sessions->Connect(), 2);
  ExpectEngineError([&] { b.sessions->Connect(); }, 20094);
  ExpectEngineError([&] { b.sessions->Disconnect(0); }, 20095, "Cannot disconnect session");
  EXPECT_FALSE(b.sessions->LockAllSlots());
  a.sessions->Disconnect(0);
  EXPECT_EQ(b.sessions->Connect(), 0);
  // The file lock was given back on every path: a holder elsewhere can
  // take it.
  EXPECT_TRUE(a.sessionsArea->LockFile());
  EXPECT_TRUE(a.sessionsArea->UnlockFile());
}

}  // namespace
