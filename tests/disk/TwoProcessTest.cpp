// Two real processes on one database file: the header lock, the object
// counter, and opens that the other process's share mode forbids.
#include <set>

#include "DiskTestUtil.h"
#include "support/ChildProcess.h"

namespace {

class TwoProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateDatabase(path); }
  ScratchDir dir;
  std::string path = dir.File("shared.zud");
};

TEST_F(TwoProcessTest, HeaderLockHeldByAnotherProcessIsRefusedUntilReleased) {
  TABSDiskPageManager pm;
  OpenDb(pm, path);  // an open takes the header lock itself: before the child
  pm.SetLockRetry({5, 10});
  ChildProcess holder({"hold-header", path});
  ASSERT_EQ(holder.ReadLine(), "locked");
  EXPECT_FALSE(pm.LockHeader());
  ExpectEngineError([&] { pm.GetTotalPageCount(); }, 20236, "Database is locked");
  {
    // A third process is refused too, and says so.
    ChildProcess probe({"try-header", path});
    EXPECT_EQ(probe.ReadLine(), "refused");
    EXPECT_EQ(probe.Wait(), 0);
  }
  // An open waits for the header lock and gives up with its own error.
  TABSDiskPageManager late;
  late.SetLockRetry({3, 10});
  ExpectEngineError([&] { OpenDb(late, path); }, 20230, "Database is locked");
  holder.WriteLine("");
  ASSERT_EQ(holder.ReadLine(), "released");
  EXPECT_TRUE(pm.LockHeader());
  // Now the child's attempt is the one refused.
  {
    ChildProcess probe({"try-header", path});
    EXPECT_EQ(probe.ReadLine(), "refused");
    EXPECT_EQ(probe.Wait(), 0);
  }
  pm.UnlockHeader();
  holder.WriteLine("");
  EXPECT_EQ(holder.Wait(), 0);
}

TEST_F(TwoProcessTest, ObjectCounterLosesNoValueUnderTwoProcesses) {
  constexpr int kEach = 3000;
  ChildProcess first({"next-ids", path, std::to_string(kEach)});
  ChildProcess second({"next-ids", path, std::to_string(kEach)});
  // This process takes ids at the same time.
  TABSDiskPageManager pm;
  OpenDb(pm, path);
  ASSERT_EQ(first.ReadLine(), "ready");
  ASSERT_EQ(second.ReadLine(), "ready");
  first.WriteLine("go");
  second.WriteLine("go");
  std::multiset<int> ids;
  for (int i = 0; i < kEach; ++i) ids.insert(pm.GetNextObjectID());
  for (ChildProcess* child : {&first, &second}) {
    for (;;) {
      std::string line = child->ReadLine();
      ASSERT_FALSE(line.empty()) << "child stopped early";
      if (line == "done") break;
      ids.insert(std::stoi(line));
    }
    EXPECT_EQ(child->Wait(), 0);
  }
  ASSERT_EQ(ids.size(), 3u * kEach);
  // Every value from 1 to 9000 exactly once: no id handed out twice.
  const std::set<int> unique(ids.begin(), ids.end());
  EXPECT_EQ(unique.size(), ids.size());
  EXPECT_EQ(*unique.begin(), 1);
  EXPECT_EQ(*unique.rbegin(), 3 * kEach);
  EXPECT_EQ(pm.GetNextObjectID(), 3 * kEach + 1);
}

TEST_F(TwoProcessTest, ShareModesHoldAcrossProcesses) {
  {
    ChildProcess other({"open", path, "multi"});
    ASSERT_EQ(other.ReadLine(), "opened readonly=0");
    TABSDiskPageManager pm;
    ExpectEngineError([&] { OpenDb(pm, path, true, true); }, 30364, "being used by another process");
    other.WriteLine("");
    EXPECT_EQ(other.Wait(), 0);
  }
  {
    ChildProcess other({"open", path, "exclusive"});
    ASSERT_EQ(other.ReadLine(), "opened readonly=0");
    TABSDiskPageManager pm;
    ExpectEngineError([&] { OpenDb(pm, path, true); }, 30364, "being used by another process");
    other.WriteLine("");
    EXPECT_EQ(other.Wait(), 0);
  }
  {
    TABSDiskPageManager pm;
    EXPECT_FALSE(OpenDb(pm, path, false).readOnly);
    ChildProcess other({"open", path, "single"});
    EXPECT_EQ(other.ReadLine(), "opened readonly=1");
    other.WriteLine("");
    EXPECT_EQ(other.Wait(), 0);
  }
}

}  // namespace
