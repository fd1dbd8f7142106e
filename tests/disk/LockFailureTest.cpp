// Lock calls that fail otherwise than by another holder: a file system
// without byte-range locks, a lock call refused as invalid, and a file that
// goes away while locks are held through it.
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <vector>

#include "DiskTestUtil.h"
#include "SessionTestDb.h"
#include "os/FaultFile.h"

namespace {

// Without byte-range locks every lock "succeeds", so two multi-user
// processes would both hold the header lock: a multi-user open is refused
// there, while a single-user open (one process, every slot its own) goes
// on. EINVAL is no such answer: the lock is refused, not granted.
TEST(LockFailureTest, WithoutLocksAMultiUserOpenIsRefusedAndEinvalIsAnError) {
  const struct {
    int error;
    bool unsupported;
  } cases[] = {{ENOLCK, true}, {EOPNOTSUPP, true}, {ENOSYS, true}, {EINVAL, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE("lock error " + std::to_string(c.error));
    ScratchDir dir;
    const std::string path = dir.File("locks.zud");
    CreateSharedTableDb(path, 4);
    tiv::os::FaultFileSystem faults;
    faults.FailLocks(c.error);

    TABSDatabaseFile file(faults);
    file.OpenFile(path, 1, 1);
    EXPECT_EQ(file.LockByte(1, 100), c.unsupported);
    EXPECT_EQ(file.LockingUnsupported(), c.unsupported);
    file.CloseFile();

    if (c.unsupported) {
      TABSDiskDatabaseData data("NOLOCKS", faults);
      ExpectEngineError([&] { data.Open(path, TABSPassword{}, true, false); }, 30364,
                        "byte-range locks are not supported by this file system");
      EXPECT_FALSE(data.IsOpen());
      SharedTableConnection single(path, false, faults);
      EXPECT_FALSE(single.data.ReadOnly());
      single.Insert(1, 1);
      EXPECT_EQ(single.Count(), 1);
    } else {
      TABSDiskPageManager pm(faults);
      pm.SetLockRetry({2, 1});
      ExpectEngineError([&] { OpenDb(pm, path, true); }, 20230, "Database is locked");
      EXPECT_FALSE(pm.IsOpened());
    }
  }
}

// A lock call that finds the file gone (the volume went away and the
// reopen failed) drops the handle, and every unlock after it fails: also
// those that destructors make on the way out of the failed operation, which
// report and go on instead of ending the process. Whichever lock call of an
// insert, an emptying and a count finds the file gone, the process lives
// through them and through closing the database.
TEST(LockFailureTest, LockHoldersLiveThroughTheirFileGoingAway) {
  for (int nth : {1, 2, 3, 4, 5, 6, 8, 10, 12, 16}) {
    SCOPED_TRACE("file lost at lock call " + std::to_string(nth));
    ScratchDir dir;
    const std::string path = dir.File("lost.zud");
    CreateSharedTableDb(path, 4);
    EXPECT_EXIT(
        {
          {
            tiv::os::FaultFileSystem faults;
            SharedTableConnection c(path, true, faults);
            c.ShortLockTimes();
            c.data.Pages().SetLockRetry({2, 1});
            c.data.TableLocks().SetLockRetry({2, 1});
            c.Insert(1, 1);
            faults.LoseFilesAtLock(nth);
            for (const auto& step : std::vector<std::function<void()>>{
                     [&] { c.Insert(2, 1); }, [&] { c.data.EmptyTable(c.session, kSharedTable); },
                     [&] { c.Count(); }}) {
              try {
                step();
              } catch (const EABSException&) {
                // the file is gone; what matters is that the process lives
              }
            }
          }
          std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
  }
}

}  // namespace
