// The platform file layer: lock semantics per open, share modes, and the
// fault-injecting file system.
#include <cctype>
#include <cerrno>

#include <gtest/gtest.h>

#include "os/FaultFile.h"
#include "os/OsFile.h"
#include "os/OsRandom.h"
#include "support/ChildProcess.h"
#include "support/FileBytes.h"
#include "support/ScratchDir.h"

namespace os = tiv::os;

namespace {

std::unique_ptr<os::FileHandle> OpenOrDie(const std::string& path, unsigned access, unsigned share,
                                          os::FileSystem& fs = os::FileSystem::Default()) {
  std::unique_ptr<os::FileHandle> h;
  os::OpenOptions o;
  o.access = access;
  o.share = share;
  os::Status s = fs.Open(path, o, h);
  EXPECT_TRUE(s.ok()) << s.text;
  return h;
}

class OsFileTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteAll(path, Bytes(100, 7)); }
  ScratchDir dir;
  std::string path = dir.File("f.bin");
};

TEST_F(OsFileTest, LocksBelongToOneOpenAndRefuseRelockingThroughIt) {
  auto a = OpenOrDie(path, os::kAccessRead | os::kAccessWrite, os::kShareRead | os::kShareWrite);
  auto b = OpenOrDie(path, os::kAccessRead | os::kAccessWrite, os::kShareRead | os::kShareWrite);
  ASSERT_TRUE(a->Lock(10, 1).ok());
  // Through the same open: refused, not silently granted again.
  EXPECT_EQ(a->Lock(10, 1).error, os::kLockHeld);
  EXPECT_EQ(a->Lock(5, 10).error, os::kLockHeld);  // overlapping range
  EXPECT_TRUE(a->HoldsLock(10, 1));
  // Another open of the same file in the same process: refused as "held".
  EXPECT_EQ(b->Lock(10, 1).error, os::kLockHeld);
  EXPECT_FALSE(os::IsLockingUnsupported(b->Lock(10, 1).error));
  EXPECT_TRUE(b->Lock(11, 1).ok());
  // Unlock needs the exact range that is held.
  EXPECT_EQ(a->Unlock(10, 2).error, os::kNotLocked);
  EXPECT_EQ(b->Unlock(10, 1).error, os::kNotLocked);
  EXPECT_TRUE(a->Unlock(10, 1).ok());
  EXPECT_TRUE(b->Lock(10, 1).ok());
  // Closing an open drops its locks.
  b->Close();
  EXPECT_TRUE(a->Lock(10, 2).ok());
}

TEST_F(OsFileTest, ReadAccessStillTakesExclusiveLocksButCannotWrite) {
  auto r = OpenOrDie(path, os::kAccessRead, os::kShareRead | os::kShareWrite);
  auto w = OpenOrDie(path, os::kAccessRead | os::kAccessWrite, os::kShareRead | os::kShareWrite);
  ASSERT_TRUE(r->Lock(20, 1).ok());
  EXPECT_EQ(w->Lock(20, 1).error, os::kLockHeld);
  uint8_t b = 1;
  EXPECT_FALSE(r->WriteAt(0, &b, 1).ok());
  EXPECT_FALSE(r->Truncate(0).ok());
  EXPECT_EQ(ReadAll(path), Bytes(100, 7));
}

TEST_F(OsFileTest, ShareModesRefuseConflictingOpens) {
  const unsigned R = os::kAccessRead, RW = os::kAccessRead | os::kAccessWrite;
  const unsigned none = os::kShareNone, rd = os::kShareRead, all = os::kShareRead | os::kShareWrite;
  struct Case {
    unsigned firstAccess, firstShare, secondAccess, secondShare;
    bool allowed;
  } cases[] = {
      {RW, all, RW, all, true},
      {RW, none, R, all, false},
      {R, all, RW, none, false},
      {R, rd, R, rd, true},
      {R, rd, RW, all, false},
      {RW, all, R, rd, false},
      {RW, os::kShareWrite, R, all, false},
      {R, all, RW, os::kShareWrite, false},
      {RW, os::kShareWrite, RW, os::kShareWrite, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.firstAccess << "/" << c.firstShare << " then " << c.secondAccess << "/"
                                    << c.secondShare);
    auto first = OpenOrDie(path, c.firstAccess, c.firstShare);
    std::unique_ptr<os::FileHandle> second;
    os::Status s = os::FileSystem::Default().Open(path, {c.secondAccess, c.secondShare, false}, second);
    EXPECT_EQ(s.ok(), c.allowed) << s.text;
    if (!c.allowed) {
      EXPECT_EQ(s.error, os::kShareViolation);
    }
    second.reset();
    first->Close();
    // Once the first open is gone, the second is always allowed.
    EXPECT_TRUE(os::FileSystem::Default().Open(path, {c.secondAccess, c.secondShare, false}, second).ok());
  }
}

TEST_F(OsFileTest, AStartedProgramInheritsNeitherDescriptorNorLocks) {
  auto a = OpenOrDie(path, os::kAccessRead | os::kAccessWrite, os::kShareRead | os::kShareWrite);
  ASSERT_TRUE(a->Lock(30, 1).ok());
  ChildProcess child({"sleep"});
  ASSERT_EQ(child.ReadLine(), "ready");
  a->Close();  // had the child inherited the open, the lock would live on
  auto b = OpenOrDie(path, os::kAccessRead | os::kAccessWrite, os::kShareRead | os::kShareWrite);
  EXPECT_TRUE(b->Lock(30, 1).ok());
  child.WriteLine("");
  EXPECT_EQ(child.Wait(), 0);
}

TEST_F(OsFileTest, FaultFileSystemFailsChosenWritesAndSyncs) {
  os::FaultFileSystem fs;
  auto h = OpenOrDie(path, os::kAccessRead | os::kAccessWrite, os::kShareRead | os::kShareWrite, fs);
  uint8_t b = 9;
  fs.FailWrite(2, 2);
  EXPECT_TRUE(h->WriteAt(0, &b, 1).ok());
  EXPECT_EQ(h->WriteAt(1, &b, 1).error, EIO);
  EXPECT_EQ(h->WriteAt(2, &b, 1).error, EIO);
  EXPECT_TRUE(h->WriteAt(3, &b, 1).ok());
  Bytes want(100, 7);
  want[0] = want[3] = 9;
  EXPECT_EQ(ReadAll(path), want);
  fs.FailSync(1);
  EXPECT_FALSE(h->Sync().ok());
  EXPECT_TRUE(h->Sync().ok());
  EXPECT_EQ(fs.WriteCount(), 4);
  EXPECT_EQ(fs.SyncCount(), 2);
}

TEST_F(OsFileTest, DropUnflushedRestoresTheLastFlushedState) {
  os::FaultFileSystem fs;
  auto h = OpenOrDie(path, os::kAccessRead | os::kAccessWrite, os::kShareRead | os::kShareWrite, fs);
  Bytes ones(50, 1);
  ASSERT_TRUE(h->WriteAt(0, ones.data(), ones.size()).ok());
  ASSERT_TRUE(h->Sync().ok());
  Bytes flushed = ReadAll(path);
  Bytes twos(80, 2);
  ASSERT_TRUE(h->WriteAt(60, twos.data(), twos.size()).ok());  // grows the file
  ASSERT_TRUE(h->WriteAt(10, twos.data(), 5).ok());
  ASSERT_TRUE(h->Truncate(20).ok());
  h->Close();
  fs.DropUnflushed();
  EXPECT_EQ(ReadAll(path), flushed);
}

// A power cut loses the name of a file whose folder was not flushed after
// it was created, even when its bytes were; the folder's flush is one of the
// flushes FailSync chooses among.
TEST_F(OsFileTest, APowerCutLosesNamesTheFolderNeverFlushed) {
  for (const bool folderFlushed : {false, true}) {
    SCOPED_TRACE(folderFlushed ? "folder flushed" : "folder not flushed");
    const std::string created = dir.File(folderFlushed ? "kept.bin" : "lost.bin");
    os::FaultFileSystem fs;
    std::unique_ptr<os::FileHandle> h;
    os::OpenOptions o;
    o.access = os::kAccessRead | os::kAccessWrite;
    o.create = true;
    ASSERT_TRUE(fs.Open(created, o, h).ok());
    uint8_t b = 5;
    ASSERT_TRUE(h->WriteAt(0, &b, 1).ok());
    ASSERT_TRUE(h->Sync().ok());
    if (folderFlushed) {
      fs.FailSync(1);
      EXPECT_EQ(fs.SyncDirectory(created).error, EIO);
      EXPECT_TRUE(fs.SyncDirectory(created).ok());
      EXPECT_EQ(fs.SyncCount(), 3);
    }
    h->Close();
    fs.DropUnflushed();
    os::FileInfo info;
    ASSERT_TRUE(os::FileSystem::Default().Stat(created, info).ok());
    EXPECT_EQ(info.exists, folderFlushed);
    EXPECT_TRUE(fs.Stat(path, info).ok() && info.exists) << "a file that was there before keeps its name";
  }
  EXPECT_EQ(os::FileSystem::Default().SyncDirectory(dir.File("no-such-folder/x")).error, ENOENT);
}

}  // namespace

namespace {

TEST(OsRandom, GuidsAreVersion4TextAndDiffer) {
  const std::string a = tiv::os::NewGuidText(), b = tiv::os::NewGuidText();
  ASSERT_EQ(a.size(), 38u);
  EXPECT_NE(a, b);
  for (size_t i = 0; i < a.size(); ++i) {
    SCOPED_TRACE(i);
    if (i == 0)
      EXPECT_EQ(a[i], '{');
    else if (i == 37)
      EXPECT_EQ(a[i], '}');
    else if (i == 9 || i == 14 || i == 19 || i == 24)
      EXPECT_EQ(a[i], '-');
    else
      EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(a[i])) && !std::islower(a[i]));
  }
  EXPECT_EQ(a[15], '4');                                          // version
  EXPECT_NE(std::string("89AB").find(a[20]), std::string::npos);  // variant
  for (int i = 0; i < 1000; ++i) {
    int64_t r = tiv::os::RandomBelow(10000);
    ASSERT_GE(r, 0);
    ASSERT_LT(r, 10000);
  }
}

}  // namespace
