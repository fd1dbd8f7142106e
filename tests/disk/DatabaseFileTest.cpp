// TABSDatabaseFile: modes, errors with the platform's number and text,
// lock bytes held per open, reconnect-and-retry of a failed call.
#include "DiskTestUtil.h"
#include "os/FaultFile.h"

namespace {

class DatabaseFileTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir.File("x.zud");
};

TEST_F(DatabaseFileTest, ClosedAndOpenedFileErrors) {
  TABSDatabaseFile f;
  uint8_t b[4];
  ExpectEngineError([&] { f.GetSize(); }, 30376, "Cannot perform this operation (GetSize) on a closed file");
  ExpectEngineError([&] { f.ReadBuffer(b, 0, 1); }, 30376, "(ReadBuffer)");
  ExpectEngineError([&] { f.LockByte(1, 0); }, 30376, "(LockByte)");
  ExpectEngineError([&] { f.CloseFile(); }, 30376, "(CloseFile)");
  ExpectEngineError([&] { f.CreateFile(""); }, 30374, "Cannot create file with blank FileName");
  ExpectEngineError([&] { f.OpenFile(path, 0, 1); }, 30364, "Cannot open file:'" + path + "' Error code: 2.");
  WriteAll(path, Bytes(8, 0));
  ExpectEngineError([&] { f.OpenFile(path, 2, 1); }, 30366, "Unknown Access mode: '2'");
  ExpectEngineError([&] { f.OpenFile(path, 1, 3); }, 30367, "Unknown Share mode: '3'");
  f.OpenFile(path, 1, 1);
  ExpectEngineError([&] { f.OpenFile(path, 1, 1); }, 30377,
                    "Cannot perform this operation (OpenFile) on a opened file");
  ExpectEngineError([&] { f.CreateFile(path); }, 30377, "(CreateFile)");
  ExpectEngineError([&] { f.SetPosition(-1); }, 30372, "Cannot Set File Position to -1.");
}

TEST_F(DatabaseFileTest, ReadsAndWritesAreExactOrFailWithTheirDetails) {
  TABSDatabaseFile f;
  f.CreateFile(path);
  const uint8_t data[6] = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(f.WriteBuffer(data, 10, 6));
  EXPECT_EQ(f.GetSize(), 16);
  EXPECT_EQ(f.GetPosition(), 16);
  uint8_t back[6] = {};
  ASSERT_TRUE(f.ReadBuffer(back, 10, 6));
  EXPECT_EQ(0, memcmp(back, data, 6));
  // A read that runs past the end is a failure, with the file's numbers.
  EXPECT_FALSE(f.ReadBuffer(back, 12, 6));
  EABSException e(10464,
                  "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                  "ErrorCode:%d. ErrorMessage: %s",
                  f.FailureArgs());
  EXPECT_EQ(e.Message(), "Cannot Read from file: '" + path +
                             "' Position = 12, Count = 6, FilePosition = 16, FileSize = 16, ErrorCode:0. "
                             "ErrorMessage: Reached the end of the file");
  f.SetSize(4);
  EXPECT_EQ(f.GetSize(), 4);
  f.CloseFile();
  // A read-only open refuses writes with the platform's error.
  f.OpenFile(path, 0, 1);
  EXPECT_FALSE(f.WriteBuffer(data, 0, 1));
  EXPECT_EQ(f.LastFailure().error, 9);
  ExpectEngineError([&] { f.SetSize(0); }, 30370, "Cannot Truncate File '" + path + "' to 0 bytes. ErrorCode:9.");
  EXPECT_EQ(ReadAll(path).size(), 4u);
}

TEST_F(DatabaseFileTest, LockBytesAreHeldPerOpenAndProbesNeverReleaseOwnBytes) {
  WriteAll(path, Bytes(400, 0));
  TABSDatabaseFile a, b;
  a.OpenFile(path, 1, 1);
  b.OpenFile(path, 1, 1);
  ASSERT_TRUE(a.LockByte(1, 360));
  EXPECT_FALSE(a.LockByte(1, 360));  // a second lock through the same open fails
  EXPECT_TRUE(a.IsByteLocked(360));
  EXPECT_TRUE(a.IsRegionLocked(4, 358));
  EXPECT_TRUE(b.IsByteLocked(360));
  EXPECT_FALSE(b.LockByte(1, 360));  // still held after all the probes
  EXPECT_FALSE(b.LockingUnsupported());
  EXPECT_FALSE(b.IsByteLocked(361));
  EXPECT_TRUE(b.LockByte(1, 361));  // the probe released what it tried
  EXPECT_FALSE(a.UnlockByte(1, 361));
  EXPECT_TRUE(a.UnlockByte(1, 360));
  EXPECT_FALSE(a.UnlockByte(1, 360));
  EXPECT_TRUE(b.LockByte(1, 360));
}

TEST_F(DatabaseFileTest, CreateReplacesAReadOnlyFileButNotOneInUse) {
  WriteAll(path, Bytes(10, 5));
  ASSERT_TRUE(tiv::os::FileSystem::Default().SetReadOnly(path, true).ok());
  TABSDatabaseFile f;
  f.CreateFile(path);
  EXPECT_EQ(f.GetSize(), 0);
  EXPECT_EQ(f.AccessMode(), 1);
  EXPECT_EQ(f.ShareMode(), 0);
  // The new file is open exclusively: nobody else may open it.
  TABSDatabaseFile other;
  ExpectEngineError([&] { other.OpenFile(path, 0, 1); }, 30364, "being used by another process");
  f.CloseFile();
  other.OpenFile(path, 0, 1);
  TABSDatabaseFile again;
  ExpectEngineError([&] { again.CreateFile(path); }, 30361, "Cannot create file: '" + path + "'");
  other.CloseFile();
}

TEST_F(DatabaseFileTest, AFailedWriteIsRetriedOnceAfterReconnect) {
  tiv::os::FaultFileSystem fs;
  TABSDatabaseFile f(fs);
  f.CreateFile(path);
  const uint8_t data[3] = {1, 2, 3};
  fs.FailWrite(1);  // one failure: the retry succeeds
  EXPECT_TRUE(f.WriteBuffer(data, 0, 3));
  fs.FailWrite(1, 2);  // two in a row: the call fails with the platform's error
  EXPECT_FALSE(f.WriteBuffer(data, 3, 3));
  EXPECT_EQ(f.LastFailure().error, EIO);
  EXPECT_EQ(f.LastFailure().text, "Input/output error");
  fs.FailSync(1, 2);
  ExpectEngineError([&] { f.FlushFileBuffers(); }, 30379,
                    "Cannot flush file buffers for file: '" + path + "'. ErrorCode:5.");
  EXPECT_EQ(ReadAll(path), Bytes({1, 2, 3}));
}

TEST_F(DatabaseFileTest, DesignModeOpensOnlyAroundEachAccess) {
  WriteAll(path, Bytes(10, 5));
  SetDesignMode(true);
  TABSDatabaseFile f;
  f.OpenFile(path, 1, 1);
  f.CloseFile();
  EXPECT_FALSE(f.IsOpen());
  f.BeginAccess();
  f.BeginAccess();
  EXPECT_TRUE(f.IsOpen());
  EXPECT_EQ(f.OpenCount(), 2);
  f.EndAccess();
  EXPECT_TRUE(f.IsOpen());
  f.EndAccess();
  EXPECT_FALSE(f.IsOpen());
  EXPECT_TRUE(f.UnlockByte(1, 3));  // always succeeds in design mode
  SetDesignMode(false);
}

}  // namespace
