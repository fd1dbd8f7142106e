// Connection slots and table locks between real processes (lock_helper).
#include <signal.h>

#include <chrono>
#include <sstream>

#include "LockTestDb.h"
#include "os/OsClock.h"
#include "support/ChildProcess.h"

namespace {

const char* LockHelper() { return LOCK_HELPER_PATH; }

std::unique_ptr<ChildProcess> Spawn(const std::vector<std::string>& args) {
  return std::make_unique<ChildProcess>(args, LockHelper());
}

class LockProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateLockTestDb(path); }
  ScratchDir dir;
  std::string path = dir.File("locks.zud");
};

TEST_F(LockProcessTest, MaxConnectionsIsRespectedAndAFreedSlotIsTakenAgain) {
  auto first = Spawn({"connect", path, "2"});
  auto second = Spawn({"connect", path, "2"});
  const std::string a = first->ReadLine(), b = second->ReadLine();
  EXPECT_TRUE((a == "slot 0" && b == "slot 1") || (a == "slot 1" && b == "slot 0")) << a << " / " << b;
  {
    auto third = Spawn({"connect", path, "2"});
    EXPECT_EQ(third->ReadLine(),
              "error 20094 Cannot connect session. Maximum connections quantity exceeded or database is open in "
              "single-user mode");
    EXPECT_EQ(third->Wait(), 1);
  }
  first->WriteLine("");
  EXPECT_EQ(first->ReadLine(), "disconnected");
  EXPECT_EQ(first->Wait(), 0);
  auto again = Spawn({"connect", path, "2"});
  EXPECT_EQ(again->ReadLine(), a);
  again->WriteLine("");
  second->WriteLine("");
  EXPECT_EQ(again->Wait(), 0);
  EXPECT_EQ(second->Wait(), 0);
}

TEST_F(LockProcessTest, KilledHolderFreesItsSlotAndItsTableLocks) {
  auto holder = Spawn({"hold", path, "1", "6"});
  const std::string line = holder->ReadLine();
  int pid = 0;
  ASSERT_EQ(std::sscanf(line.c_str(), "pid %d slot 0 locked", &pid), 1) << line;
  LockTestView v(path, 1);
  ExpectEngineError([&] { v.sessions->Connect(); }, 20094, "Maximum connections quantity exceeded");
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  EXPECT_EQ(holder->Wait(), 128 + SIGKILL);
  // The kernel dropped its slot byte and the locks file's file lock.
  const int32_t slot = v.sessions->Connect();
  EXPECT_EQ(slot, 0);
  EXPECT_TRUE(v.manager->LockTable(slot, ltExclusive, true, false, 0, 1, v.locks.get()));
  EXPECT_TRUE(v.manager->UnlockTable(slot, ltExclusive, false, false, v.locks.get()));
  v.sessions->Disconnect(slot);
}

TEST_F(LockProcessTest, ExclusiveOpenIsRefusedWhileAnotherProcessHasTheTableOpen) {
  auto reader = Spawn({"open", path, "500", "0"});
  ASSERT_EQ(reader->ReadLine(), "granted");
  LockTestView v(path, 500);
  const int32_t slot = v.sessions->Connect();
  EXPECT_EQ(slot, 1);
  const auto start = std::chrono::steady_clock::now();
  ExpectEngineError([&] { v.manager->LockTableForOpen(slot, v.locks.get(), true, "inicial"); }, 20208,
                    "Cannot access table 'inicial' in exclusive mode. Table is open by another user");
  // 50 attempts, 50 to 99 ms apart.
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_GE(waited.count(), 49 * 50);
  EXPECT_TRUE(v.manager->Entries(slot).empty());

  reader->WriteLine("");
  EXPECT_EQ(reader->Wait(), 0);
  v.manager->LockTableForOpen(slot, v.locks.get(), true, "inicial");

  // Now this process holds it exclusively: another process's exclusive and
  // shared opens both fail, since they cannot even take the file lock.
  auto exclusive = Spawn({"open", path, "500", "1"});
  auto shared = Spawn({"open", path, "500", "0"});
  EXPECT_EQ(exclusive->ReadLine(),
            "error 20208 Cannot access table 'inicial' in exclusive mode. Table is open by another user");
  EXPECT_EQ(shared->ReadLine(), "error 20209 Cannot open table 'inicial'. Table is locked");
  EXPECT_EQ(exclusive->Wait(), 1);
  EXPECT_EQ(shared->Wait(), 1);
  EXPECT_TRUE(v.manager->UnlockTable(slot, ltExclusive, false, false, v.locks.get()));
  v.sessions->Disconnect(slot);
}

TEST_F(LockProcessTest, WriteLocksOfThreeProcessesExcludeEachOther) {
  // Each process adds 1 to a counter in the file under a write lock; a
  // lost update would show as a smaller total.
  constexpr int kEach = 300;
  auto first = Spawn({"count", path, "8", std::to_string(kEach)});
  auto second = Spawn({"count", path, "8", std::to_string(kEach)});
  LockTestView v(path, 8);
  const int32_t slot = v.sessions->Connect();
  ASSERT_EQ(first->ReadLine(), "ready");
  ASSERT_EQ(second->ReadLine(), "ready");
  first->WriteLine("go");
  second->WriteLine("go");
  for (int i = 0; i < kEach; ++i) {
    ASSERT_TRUE(v.manager->LockTable(slot, ltWrite, true, false, 2, 20000, v.locks.get()));
    uint8_t b[4];
    v.pm.ReadPageBytes(b, kCounterPage, 4, tiv::disk::kPageHeaderSize);
    tiv::os::SleepMs(1);
    tiv::disk::PutI32(b, tiv::disk::GetI32(b) + 1);
    v.pm.WritePageBytes(b, kCounterPage, 4, tiv::disk::kPageHeaderSize);
    ASSERT_TRUE(v.manager->UnlockTable(slot, ltWrite, false, false, v.locks.get()));
  }
  EXPECT_EQ(first->ReadLine(60000), "done");
  EXPECT_EQ(second->ReadLine(60000), "done");
  EXPECT_EQ(first->Wait(), 0);
  EXPECT_EQ(second->Wait(), 0);
  uint8_t b[4];
  v.pm.ReadPageBytes(b, kCounterPage, 4, tiv::disk::kPageHeaderSize);
  EXPECT_EQ(tiv::disk::GetI32(b), 3 * kEach);
  v.sessions->Disconnect(slot);
}

TEST_F(LockProcessTest, SingleUserClaimNeedsEverySlotFreeAndThenKeepsOthersOut) {
  {
    auto connected = Spawn({"connect", path, "4"});
    ASSERT_EQ(connected->ReadLine(), "slot 0");
    auto claim = Spawn({"claim", path, "4"});
    EXPECT_EQ(claim->ReadLine(), "claimed 0");
    claim->WriteLine("");
    connected->WriteLine("");
    EXPECT_EQ(claim->Wait(), 0);
    EXPECT_EQ(connected->Wait(), 0);
  }
  LockTestView v(path, 4);
  ASSERT_TRUE(v.sessions->LockAllSlots());
  auto late = Spawn({"connect", path, "4"});
  EXPECT_EQ(late->ReadLine().rfind("error 20094 ", 0), 0u);
  EXPECT_EQ(late->Wait(), 1);
  v.sessions->UnlockAllSlots();
  auto now = Spawn({"connect", path, "4"});
  EXPECT_EQ(now->ReadLine(), "slot 0");
  now->WriteLine("");
  EXPECT_EQ(now->Wait(), 0);
}

}  // namespace
