// The lock layer over the real internal files of a database: the active
// sessions file of TABSDiskDatabase and a locks file made like a table's.
// Two opens of the file stand for two processes.
#include "DiskTestUtil.h"
#include "disk/DiskDatabase.h"
#include "disk/LockDirectFileArea.h"
#include "disk/LockManager.h"
#include "disk/SessionsFile.h"

namespace {

struct Connection {
  explicit Connection(const std::string& path) {
    bool multiUser = true, needRepair = false, readOnly = false;
    db.OpenDatabase(path, TABSPassword{}, multiUser, false, needRepair, readOnly);
    area = std::make_unique<TABSDirectFileLockArea>(db.SessionsFile());
    slots = std::make_unique<TABSActiveSessionsFile>(*area);
    slots->SetLockRetry({5, 5});
  }
  TABSDiskDatabase db;
  std::unique_ptr<TABSDirectFileLockArea> area;
  std::unique_ptr<TABSActiveSessionsFile> slots;
  TABSActiveSessionsFile& sessions() { return *slots; }
};

TEST(LockDatabaseTest, SlotsAndTableLocksLiveInTheDatabasesOwnInternalFiles) {
  ScratchDir dir;
  const std::string path = dir.File("db.zud");
  {
    TABSDiskDatabase db;
    db.CreateDatabase(path, TABSPassword{}, 3);
  }
  Connection a(path), b(path);
  EXPECT_EQ(a.sessions().MaxConnections(), 3);
  EXPECT_EQ(a.sessions().Connect(), 0);
  EXPECT_EQ(b.sessions().Connect(), 1);
  EXPECT_EQ(a.sessions().Connect(), 2);
  ExpectEngineError([&] { b.sessions().Connect(); }, 20094);

  // A locks file for 3 slots, made in the system session as a table's is.
  TABSInternalDBDirectAccessFile made(a.db.PageManager(), tiv::disk::ptTableLocks);
  made.Create(3 * TABSTableLocksFile::kBytesPerSlot);
  a.db.PageManager().CommitSession(TABSPageManager::kSystemSession, true);
  TABSInternalDBDirectAccessFile mine(a.db.PageManager(), tiv::disk::ptTableLocks);
  TABSInternalDBDirectAccessFile theirs(b.db.PageManager(), tiv::disk::ptTableLocks);
  mine.Open(made.StartPageNo());
  theirs.Open(made.StartPageNo());
  TABSDirectFileLockArea mineArea(mine), theirsArea(theirs);
  TABSTableLocksFile mineLocks(mineArea), theirsLocks(theirsArea);
  EXPECT_EQ(mineLocks.SlotCount(), 3);
  EXPECT_EQ(mineLocks.TableId(), made.StartPageNo());

  TABSDatabaseTableLockManager ma(3, false), mb(3, false);
  ASSERT_TRUE(ma.LockTable(0, ltOpen, true, false, 0, 1, &mineLocks));
  ASSERT_TRUE(ma.LockRecord(0, &mineLocks, 0, 1, TABSRecordID{12, 1}));
  EXPECT_TRUE(mb.IsRecordLocked(1, &theirsLocks, TABSRecordID{12, 1}));
  ExpectEngineError([&] { mb.LockTableForOpen(1, &theirsLocks, true, "inicial"); }, 20208,
                    "Cannot access table 'inicial' in exclusive mode");
  EXPECT_TRUE(ma.UnlockRecord(0, &mineLocks, TABSRecordID{12, 1}));
  EXPECT_TRUE(ma.UnlockTable(0, ltOpen, false, false, &mineLocks));
  mb.LockTableForOpen(1, &theirsLocks, true, "inicial");
  EXPECT_TRUE(mb.UnlockTable(1, ltExclusive, false, false, &theirsLocks));

  a.sessions().Disconnect(2);
  EXPECT_EQ(b.sessions().Connect(), 2);
}

}  // namespace
