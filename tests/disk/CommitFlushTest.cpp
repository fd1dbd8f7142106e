// A flushed commit whose flush fails. On Linux a failed fsync may have
// dropped the dirty pages it could not write and marked them clean, so a
// second sync would succeed over nothing: the commit must fail at once and
// nothing may be built on what the failed flush covered. The rollback
// journal puts the file back as it was before the commit (it rewrites what
// it restores and flushes that), so the file neither holds the commit nor
// asks for repair, and the next commit goes on.
#include <filesystem>
#include <memory>

#include "DiskTestUtil.h"
#include "SessionTestDb.h"
#include "os/FaultFile.h"

namespace {

// A connection over `faults` to a new database of one row, inside a
// transaction of 20 more: the commit the test flushes.
std::unique_ptr<SharedTableConnection> BeforeTheCommit(const std::string& path, tiv::os::FaultFileSystem& faults) {
  CreateSharedTableDb(path, 4);
  auto c = std::make_unique<SharedTableConnection>(path, true, faults);
  c->Insert(500, 1);
  c->data.StartTransaction(c->session);
  for (int32_t id = 1; id <= 20; ++id) c->Insert(id, 1);
  return c;
}

TEST(CommitFlushTest, AFailedFlushFailsTheCommitAndPutsTheFileBack) {
  // The flushes of the commit, learnt from one that succeeds: the journal,
  // its folder (so that its name survives), State 1 before the pages, the
  // pages before State 2, and State 2 itself.
  int flushes = 0;
  {
    ScratchDir dir;
    tiv::os::FaultFileSystem faults;
    const auto c = BeforeTheCommit(dir.File("count.zud"), faults);
    const int before = faults.SyncCount();
    c->data.Commit(c->session, true);
    flushes = faults.SyncCount() - before;
  }
  EXPECT_GE(flushes, 5);
  for (int failing = 1; failing <= flushes; ++failing) {
    SCOPED_TRACE("failing flush " + std::to_string(failing));
    ScratchDir dir;
    const std::string path = dir.File("flush.zud");
    tiv::os::FaultFileSystem faults;
    {
      const auto c = BeforeTheCommit(path, faults);
      faults.FailSync(failing);
      ExpectEngineError([&] { c->data.Commit(c->session, true); }, 30379, "Cannot flush file buffers");
      EXPECT_FALSE(c->session.inTransaction);
      EXPECT_EQ(c->Count(), 1);
      // The next commit goes on over the file as it was.
      c->Insert(100, 1);
      EXPECT_EQ(c->Count(), 2);
    }
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
    TABSDiskPageManager pm;
    EXPECT_FALSE(OpenDb(pm, path).needRepair);
    pm.CloseDatabaseFile();
    SharedTableConnection reader(path);
    EXPECT_EQ(reader.Count(), 2);
  }
}

}  // namespace
