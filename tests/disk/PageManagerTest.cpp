// TABSDiskPageManager, file level: the bytes of a new file, finding the
// database start, bad files, repair flags, locks within one process, the
// object counter, page transfers, growth, commit states and design mode.
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "DiskTestUtil.h"
#include "os/FaultFile.h"

using namespace tiv::disk;

namespace {

class PageManagerTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir.File("db.zud");
};

Bytes Le16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
Bytes Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes Slice(const Bytes& b, size_t at, size_t n) { return Bytes(b.begin() + at, b.begin() + at + n); }

TEST(DiskCrc, IsTheFormatsCrc32) {
  EXPECT_EQ(Crc32("abc", 3), 0xCA6598D0u);
  EXPECT_EQ(Crc32("", 0), 0u);
  const char text[] = "ZORVANTEKSTORAGE with more bytes";
  EXPECT_EQ(Crc32Update(Crc32(text, 10), text + 10, sizeof text - 10), Crc32(text, sizeof text));
}

TEST_F(PageManagerTest, FreshFileHasEveryFixedByte) {
  struct Case {
    uint16_t pageSize, extent;
  } cases[] = {{4096, 8}, {8192, 16}, {512, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pageSize);
    CreateDatabase(path, c.pageSize, c.extent);
    const Bytes f = ReadAll(path);
    ASSERT_EQ(f.size(), 380u);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 16), "ZORVANTEKSTORAGE");
    EXPECT_EQ(Slice(f, 16, 2), Le16(76));
    double version;
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | f[18 + i];
    std::memcpy(&version, &bits, 8);
    EXPECT_EQ(version, 6.09);
    EXPECT_EQ(Slice(f, 26, 2), Le16(c.pageSize));
    EXPECT_EQ(Slice(f, 28, 2), Le16(c.extent));
    EXPECT_EQ(Slice(f, 30, 4), Le32(0));            // TotalPageCount
    EXPECT_EQ(Slice(f, 34, 4), Le32(0xFFFFFFFFu));  // LastUsedPageNo -1
    EXPECT_EQ(Slice(f, 38, 4), Le32(0));            // CommitCounter
    EXPECT_EQ(f[42], 2);                            // State consistent
    EXPECT_EQ(f[43], 0);                            // not encrypted
    EXPECT_EQ(Slice(f, 44, 32), Bytes(32, 0));
    EXPECT_EQ(Slice(f, 76, 2), Le16(280));        // CheckBlockSize
    EXPECT_EQ(Slice(f, 78, 278), Bytes(278, 0));  // algorithm, data, CRC, reserved
    EXPECT_EQ(Slice(f, 356, 2), Le16(20));        // LockAreaSize
    EXPECT_EQ(Slice(f, 358, 18), Bytes(18, 0));
    EXPECT_EQ(Slice(f, 376, 4), Le32(0));  // NextObjectID
  }
}

TEST_F(PageManagerTest, CreateRefusesImpossibleSizesAndLeavesNoFile) {
  TABSDiskPageManager pm;
  ExpectEngineError([&] { pm.CreateDatabaseFile(path, {}, 8, 100); }, 30449, "Create database error");
  ExpectEngineError([&] { pm.CreateDatabaseFile(path, {}, 0, 4096); }, 30449, "Create database error");
  EXPECT_FALSE(std::filesystem::exists(path));
  // A create whose writes fail removes the half-written file.
  tiv::os::FaultFileSystem fs;
  TABSDiskPageManager faulty(fs);
  fs.FailWrite(1, 2);
  ExpectEngineError([&] { faulty.CreateDatabaseFile(path, {}, 8, 4096); }, 10462, "Cannot Write to file");
  EXPECT_FALSE(faulty.IsOpened());
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(PageManagerTest, DatabaseAfterOtherDataIsFoundAndAddressedFromItsStart) {
  CreateDatabase(dir.File("plain.zud"));
  const Bytes db = ReadAll(dir.File("plain.zud"));
  // 9983 and 9990: the signature and its HeaderSize cross the edge of the
  // first 10000-byte scan window.
  for (size_t prefix : {size_t{1}, size_t{9983}, size_t{9990}, size_t{9999}, size_t{25000}}) {
    SCOPED_TRACE(prefix);
    Bytes file(prefix, 0xAB);
    file.insert(file.end(), db.begin(), db.end());
    WriteAll(path, file);
    TABSDiskPageManager pm;
    OpenResult r = OpenDb(pm, path);
    EXPECT_FALSE(r.needRepair);
    EXPECT_EQ(pm.DatabaseStart(), static_cast<int64_t>(prefix));
    EXPECT_EQ(pm.PageAreaOffset(), static_cast<int64_t>(prefix) + 380);
    EXPECT_EQ(pm.GetNextObjectID(), 1);
    pm.ExtendFile(2);
    const uint8_t mark[3] = {'P', 'G', '1'};
    pm.WritePageBytes(mark, 1, 3, 10);
    pm.CloseDatabaseFile();
    const Bytes after = ReadAll(path);
    EXPECT_EQ(Slice(after, 0, prefix), Bytes(prefix, 0xAB));
    EXPECT_EQ(Slice(after, prefix + 376, 4), Le32(1));
    EXPECT_EQ(Slice(after, prefix + 380 + 4096 + 10, 3), Bytes({'P', 'G', '1'}));
  }
}

TEST_F(PageManagerTest, BadFilesGiveTheirErrorsAndStayUnchanged) {
  CreateDatabase(dir.File("good.zud"));
  const Bytes good = ReadAll(dir.File("good.zud"));
  auto with = [&](size_t at, const Bytes& bytes) {
    Bytes b = good;
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<long>(at));
    return b;
  };
  const std::string text = "hello world, this is not a database at all";
  struct Case {
    const char* name;
    Bytes file;
    int32_t code;
    std::string part;
  } cases[] = {
      {"text file", Bytes(text.begin(), text.end()), 10470,
       "Invalid file format. Found signature: 'hello world, thi', expected: 'ZORVANTEKSTORAGE'"},
      {"binary file", Bytes(300, 0x01), 10470, "Found signature: '" + std::string(16, '?') + "'"},
      {"empty file", Bytes(), 10470, "Invalid file format"},
      {"header cut short", Slice(good, 0, 50), 10464, "Position = 0, Count = 76"},
      {"wrong HeaderSize", with(16, Le16(80)), 20237, "Invalid database format"},
      {"page size 100", with(26, Le16(100)), 20237, "Invalid database format"},
      {"page size 0", with(26, Le16(0)), 20237, "Invalid database format"},
      {"no pages per extent", with(28, Le16(0)), 20237, "Invalid database format"},
      {"negative page count", with(30, Le32(0xFFFFFFF0u)), 20237, "Invalid database format"},
      {"unknown Encrypted flag", with(43, {7}), 20237, "Invalid database format"},
      {"wrong CheckBlockSize", with(76, Le16(300)), 20237, "Invalid database format"},
      {"check block cut short", Slice(good, 0, 200), 30439, "Position = 76, Count = 280"},
      {"lock area cut short", Slice(good, 0, 357), 30442, "Position = 356, Count = 2"},
      {"lock area too small", with(356, Le16(2)), 20237, "Invalid database format"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteAll(path, c.file);
    for (bool readOnly : {false, true}) {
      TABSDiskPageManager pm;
      ExpectEngineError([&] { OpenDb(pm, path, true, false, readOnly); }, c.code, c.part);
      EXPECT_FALSE(pm.IsOpened());
      EXPECT_FALSE(pm.File().IsOpen());
    }
    EXPECT_EQ(ReadAll(path), c.file);
  }
}

TEST_F(PageManagerTest, MissingOrUnopenableFilesFailToOpenAndNothingIsCreated) {
  TABSDiskPageManager pm;
  ExpectEngineError([&] { OpenDb(pm, path); }, 30364, "Error code: 2.");
  EXPECT_FALSE(std::filesystem::exists(path));
  std::filesystem::create_directory(dir.File("folder"));
  ExpectEngineError([&] { OpenDb(pm, dir.File("folder")); }, 30364, "Cannot open file:'");
}

TEST_F(PageManagerTest, NeedRepairForOldVersionsAndInterruptedCommits) {
  struct Case {
    double version;
    uint8_t state;
    bool needRepair;
  } cases[] = {{6.09, 2, false}, {2.99, 2, false}, {2.5, 2, true}, {2.98, 2, true}, {6.09, 1, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.version << " state " << int(c.state));
    CreateDatabase(path);
    Bytes f = ReadAll(path);
    uint64_t bits;
    std::memcpy(&bits, &c.version, 8);
    for (int i = 0; i < 8; ++i) f[18 + i] = static_cast<uint8_t>(bits >> (8 * i));
    f[42] = c.state;
    WriteAll(path, f);
    TABSDiskPageManager pm;
    EXPECT_EQ(OpenDb(pm, path).needRepair, c.needRepair);
  }
}

TEST_F(PageManagerTest, ReadOnlyFilesOpenReadOnlyAndAreNeverWritten) {
  CreateDatabase(path);
  const Bytes before = ReadAll(path);
  ASSERT_TRUE(tiv::os::FileSystem::Default().SetReadOnly(path, true).ok());
  {
    TABSDiskPageManager pm;
    OpenResult r = OpenDb(pm, path, true);
    EXPECT_TRUE(r.readOnly);
    EXPECT_FALSE(r.multiUser);
    // Counter: stored value + 1 + a random 0..9999, not written back.
    for (int i = 0; i < 5; ++i) {
      int32_t id = pm.GetNextObjectID();
      EXPECT_GE(id, 1);
      EXPECT_LE(id, 10000);
    }
    const uint8_t b = 1;
    ExpectEngineError([&] { pm.WritePageBytes(&b, 0, 1, 0); }, 10475, "Cannot Write to file");
  }
  ASSERT_TRUE(tiv::os::FileSystem::Default().SetReadOnly(path, false).ok());
  {
    // Asked for reading only: the same, on a writable file.
    TABSDiskPageManager pm;
    EXPECT_TRUE(OpenDb(pm, path, true, false, true).readOnly);
    pm.GetNextObjectID();
  }
  EXPECT_EQ(ReadAll(path), before);
}

TEST_F(PageManagerTest, HeaderLockIsReentrantAndExcludesOtherOpens) {
  CreateDatabase(path);
  TABSDiskPageManager a, b;
  OpenDb(a, path);
  OpenDb(b, path);
  b.SetLockRetry({3, 5});
  ASSERT_TRUE(a.LockHeader());
  ASSERT_TRUE(a.LockHeader());
  EXPECT_EQ(a.HeaderLockCount(), 2);
  EXPECT_FALSE(b.LockHeader());
  ExpectEngineError([&] { b.GetTotalPageCount(); }, 20236, "Database is locked");
  ExpectEngineError([&] { b.BeginCommit(); }, 20213, "Database is locked");
  EXPECT_EQ(a.GetTotalPageCount(), 0);  // the holder itself goes on
  a.UnlockHeader();
  EXPECT_FALSE(b.LockHeader());  // one release of two keeps the byte
  a.UnlockHeader();
  EXPECT_EQ(a.HeaderLockCount(), 0);
  EXPECT_TRUE(b.LockHeader());
  b.UnlockHeader();
  // The tables lock is not re-entrant and is refused to others while held.
  a.LockDatabaseTables();
  ExpectEngineError([&] { b.LockDatabaseTables(); }, 20210, "Database tables are locked");
  ExpectEngineError([&] { b.UnlockDatabaseTables(); }, 20211, "Cannot unlock database tables");
  a.UnlockDatabaseTables();
  b.LockDatabaseTables();
  b.UnlockDatabaseTables();
}

TEST_F(PageManagerTest, OpensThatTheShareModesForbidFail) {
  CreateDatabase(path);
  {
    TABSDiskPageManager a, b;
    OpenDb(a, path, true);
    ExpectEngineError([&] { OpenDb(b, path, true, true); }, 30364, "being used by another process");
  }
  {
    TABSDiskPageManager a, b;
    OpenDb(a, path, true, true);
    EXPECT_FALSE(a.MultiUser());
    ExpectEngineError([&] { OpenDb(b, path, true); }, 30364, "being used by another process");
  }
  {
    TABSDiskPageManager a, b;
    EXPECT_FALSE(OpenDb(a, path, false).readOnly);
    EXPECT_TRUE(OpenDb(b, path, false).readOnly);  // single-user second open: read-only
  }
}

TEST_F(PageManagerTest, NextObjectIdCountsFromOneAcrossOpens) {
  CreateDatabase(path);
  TABSDiskPageManager a, b;
  OpenDb(a, path);
  OpenDb(b, path);
  EXPECT_EQ(a.GetNextObjectID(), 1);
  EXPECT_EQ(a.GetNextObjectID(), 2);
  EXPECT_EQ(b.GetNextObjectID(), 3);
  // While another open holds the counter's byte, the counter is refused.
  ASSERT_TRUE(a.LockNextObjectID());
  b.SetLockRetry({2, 5});
  ExpectEngineError([&] { b.GetNextObjectID(); }, 30401, "Cannot get NextObjectID. File area is Locked.");
  a.UnlockNextObjectID();
  EXPECT_EQ(b.GetNextObjectID(), 4);
  b.CloseDatabaseFile();
  ExpectEngineError([&] { b.GetNextObjectID(); }, 30399, "Error - database file is not opened.");
  ExpectEngineError([&] { b.ReadHeader(); }, 10459, "Error - database file is not opened.");
  ExpectEngineError([&] { OpenDb(a, path); }, 10462, "Error - database file " + path + " is in use.");
  ExpectEngineError([&] { a.CreateDatabaseFile(path, {}); }, 10461, "is in use.");
}

TEST_F(PageManagerTest, PageTransfersStayInsideTheirPage) {
  CreateDatabase(path);
  TABSDiskPageManager pm;
  OpenDb(pm, path);
  pm.ExtendFile(2);
  uint8_t buf[4096] = {};
  struct Case {
    int32_t offset, count;
    bool ok;
  } cases[] = {{0, 4096, true}, {4095, 1, true}, {4096, 0, true}, {4095, 2, false}, {-1, 1, false}, {0, 4097, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.offset << "+" << c.count);
    const std::string msg =
        "Error - invalid page offset = " + std::to_string(int64_t{c.offset} + c.count) + ", page size = 4096";
    if (c.ok) {
      pm.WritePageBytes(buf, 1, c.count, c.offset);
      pm.ReadPageBytes(buf, 1, c.count, c.offset);
    } else {
      ExpectEngineError([&] { pm.WritePageBytes(buf, 1, c.count, c.offset); }, 10477, msg);
      ExpectEngineError([&] { pm.ReadPageBytes(buf, 1, c.count, c.offset); }, 10476, msg);
    }
  }
  ExpectEngineError([&] { pm.PageOffset(-1); }, 10471, "Invalid PageNo = -1");
  ExpectEngineError([&] { pm.ReadPageBytes(buf, 5, 10, 0); }, 10474, "Cannot Read from file");
  EXPECT_FALSE(pm.ReadPage(5, buf));
  EXPECT_EQ(pm.ReadPageVersion(5), 0x7FFFFFFF);
  pm.WritePageVersion(1, 1234);
  EXPECT_EQ(pm.ReadPageVersion(1), 1234);
}

TEST_F(PageManagerTest, GrowingAndShrinkingByWholePages) {
  CreateDatabase(path);
  TABSDiskPageManager pm;
  OpenDb(pm, path);
  pm.ExtendFile(6);
  EXPECT_EQ(pm.Header().TotalPageCount, 6);
  EXPECT_EQ(ReadAll(path).size(), 380u + 6 * 4096);
  pm.Header().LastUsedPageNo = 2;
  pm.TruncateUnusedTail();  // pages 3, 4, 5 go
  EXPECT_EQ(pm.Header().TotalPageCount, 3);
  pm.TruncateFile(7);  // more than there are: nothing happens
  pm.TruncateFile(0);
  EXPECT_EQ(pm.Header().TotalPageCount, 3);
  pm.CloseDatabaseFile();
  const Bytes f = ReadAll(path);
  EXPECT_EQ(f.size(), 380u + 3 * 4096);
  EXPECT_EQ(Slice(f, 30, 4), Le32(3));
  EXPECT_EQ(Slice(f, 34, 4), Le32(2));
}

TEST_F(PageManagerTest, CommitStatesAndACommitCutOffByAWriteError) {
  CreateDatabase(path);
  tiv::os::FaultFileSystem fs;
  {
    TABSDiskPageManager pm(fs);
    OpenDb(pm, path);
    // Growth is written under the header lock, as page allocation does.
    ASSERT_TRUE(pm.LockHeader());
    pm.ExtendFile(1);
    pm.WriteHeader(true);
    pm.UnlockHeader();
    std::vector<uint8_t> page(4096, 0x5A);
    pm.BeginCommit();
    EXPECT_EQ(ReadAll(path)[42], 1);  // State 1 on disk while the commit runs
    pm.WritePage(0, page.data());
    pm.EndCommit();
    EXPECT_EQ(pm.HeaderLockCount(), 0);
    const Bytes f = ReadAll(path);
    EXPECT_EQ(f[42], 2);
    EXPECT_EQ(Slice(f, 38, 4), Le32(1));  // CommitCounter
    EXPECT_EQ(Slice(f, 30, 4), Le32(1));  // the header carries the new page
    // A raw write journals its page first; the journal's write fails, so
    // the page is never touched, and the abort puts the header back.
    pm.BeginCommit();
    fs.FailWrite(1, 2);
    ExpectEngineError([&] { pm.WritePage(0, std::vector<uint8_t>(4096, 0x11).data()); }, 10462, "Cannot Write to file");
    pm.AbortCommit();
    // The page's write fails after its image is in the journal: the abort
    // writes the image back.
    pm.BeginCommit();
    fs.FailWrite(3, 2);
    ExpectEngineError([&] { pm.WritePage(0, std::vector<uint8_t>(4096, 0x22).data()); }, 10469, "Cannot Write to file");
    pm.AbortCommit();
    EXPECT_EQ(pm.HeaderLockCount(), 0);
  }
  TABSDiskPageManager again;
  EXPECT_FALSE(OpenDb(again, path).needRepair);
  EXPECT_EQ(ReadAll(path)[42], 2);
  std::vector<uint8_t> onDisk(4096);
  ASSERT_TRUE(again.ReadPage(0, onDisk.data()));
  EXPECT_EQ(onDisk, std::vector<uint8_t>(4096, 0x5A));
}

// A cipher for the tests: XOR with the password and the algorithm id.
class XorCipher : public TABSCheckBlockCipher {
 public:
  void Encipher(uint8_t* d, size_t n, const TABSPassword& p, uint8_t alg) override { Apply(d, n, p, alg); }
  void Decipher(uint8_t* d, size_t n, const TABSPassword& p, uint8_t alg) override { Apply(d, n, p, alg); }

 private:
  static void Apply(uint8_t* d, size_t n, const TABSPassword& p, uint8_t alg) {
    for (size_t i = 0; i < n; ++i) d[i] ^= static_cast<uint8_t>(p.Password[i % p.Password.size()] + alg);
  }
};

TEST_F(PageManagerTest, CryptoCheckBlockAcceptsOnlyTheRightPassword) {
  XorCipher cipher;
  const TABSPassword right{"secret", 3};
  {
    TABSDiskPageManager pm;
    pm.SetCipher(&cipher);
    pm.CreateDatabaseFile(path, right);
  }
  const Bytes f = ReadAll(path);
  EXPECT_EQ(f[43], 0xFF);
  EXPECT_EQ(f[78], 3);
  Bytes data = Slice(f, 80, 256);
  cipher.Decipher(data.data(), data.size(), right, 3);
  EXPECT_EQ(Slice(f, 336, 4), Le32(Crc32(data.data(), data.size())));
  EXPECT_NE(Slice(f, 80, 256), data);  // stored enciphered
  auto open = [&](const TABSPassword& pw) {
    TABSDiskPageManager pm;
    pm.SetCipher(&cipher);
    bool mu = true, repair = false, ro = false;
    pm.OpenDatabaseFile(path, pw, mu, false, repair, ro);
  };
  open(right);
  ExpectEngineError([&] { open({"Secret", 3}); }, 30445, "Cannot open database - incorrect password");
  // Without a cipher installed the engine's own ciphers serve: check data
  // made by another cipher is refused, never opened blind.
  TABSDiskPageManager plain;
  bool mu = true, repair = false, ro = false;
  ExpectEngineError([&] { plain.OpenDatabaseFile(path, right, mu, false, repair, ro); }, 30445);
  EXPECT_FALSE(plain.IsOpened());
}

TEST_F(PageManagerTest, DesignModeKeepsTheFileClosedBetweenAccesses) {
  CreateDatabase(path);
  SetDesignMode(true);
  struct Reset {
    ~Reset() { SetDesignMode(false); }
  } reset;
  TABSDiskPageManager pm;
  OpenDb(pm, path);
  EXPECT_TRUE(pm.IsOpened());
  EXPECT_FALSE(pm.File().IsOpen());
  EXPECT_EQ(pm.GetNextObjectID(), 1);
  EXPECT_FALSE(pm.File().IsOpen());
  // Another program committed meanwhile and left the header mid-commit.
  Bytes f = ReadAll(path);
  f[38] = 5;
  f[42] = 1;
  WriteAll(path, f);
  ExpectEngineError([&] { pm.WriteHeader(true); }, 20196,
                    "Cannot write changes. Database file was modified by external application");
  pm.WriteHeader(false);
}

}  // namespace
