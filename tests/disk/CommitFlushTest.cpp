// A flushed commit whose flush fails. On Linux a failed fsync may have
// dropped the dirty pages it could not write and marked them clean, so a
// second sync would succeed over nothing: the commit must fail at once, no
// sync may follow the failed one, and the file must say that a commit died
// half-way (State 1) so that it asks for repair.
#include "DiskTestUtil.h"
#include "SessionTestDb.h"
#include "os/FaultFile.h"

namespace {

TEST(CommitFlushTest, AFailedFlushFailsTheCommitAndTheFileAsksForRepair) {
  // The three flushes of a flushed commit: State 1 before the pages, the
  // pages before State 2, and State 2 itself.
  for (int failing : {1, 2, 3}) {
    SCOPED_TRACE("failing flush " + std::to_string(failing));
    ScratchDir dir;
    const std::string path = dir.File("flush.zud");
    CreateSharedTableDb(path, 4);
    tiv::os::FaultFileSystem faults;
    {
      SharedTableConnection c(path, true, faults);
      c.data.StartTransaction(c.session);
      for (int32_t id = 1; id <= 20; ++id) c.Insert(id, 1);
      const int syncsBefore = faults.SyncCount();
      faults.FailSync(failing);
      ExpectEngineError([&] { c.data.Commit(c.session, true); }, 30379, "Cannot flush file buffers");
      EXPECT_EQ(faults.SyncCount() - syncsBefore, failing) << "a sync after the failed one";
      EXPECT_FALSE(c.session.inTransaction);
      // Nobody builds on it: the next commit finds State 1 and refuses.
      ExpectEngineError([&] { c.Insert(100, 1); }, 20196);
    }
    TABSDiskPageManager pm;
    EXPECT_TRUE(OpenDb(pm, path).needRepair);
  }
}

}  // namespace
