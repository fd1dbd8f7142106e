// Internal files (transacted and direct page chains), the system directory,
// the table list, and a database created and opened as a whole.
#include <algorithm>
#include <numeric>

#include "DiskTestUtil.h"
#include "disk/DiskDatabase.h"
#include "disk/ZUDCompression.h"

namespace {

using namespace tiv::disk;
constexpr int32_t kSys = TABSPageManager::kSystemSession;
constexpr int64_t kPageArea = kNewPageAreaOffset;  // S = 0 in the files these tests make
constexpr int kD = kDefaultPageSize - kPageHeaderSize;

int64_t PageAt(int32_t pageNo) { return kPageArea + int64_t{pageNo} * kDefaultPageSize; }

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 131 + seed) % 251);
  return b;
}

// A database file with just its fixed blocks, opened read-write.
struct RawDb {
  ScratchDir dir;
  std::string path = dir.File("raw.zud");
  TABSDiskPageManager pm;
  RawDb() {
    CreateDatabase(path);
    OpenDb(pm, path, false);
  }
  void Reopen() {
    pm.CloseDatabaseFile();
    OpenDb(pm, path, false);
  }
};

TEST(TransactedFile, PageCountFollowsTheStoredSize) {
  struct Case {
    int32_t size;
    int64_t pages;
  } cases[] = {{0, 1}, {kD - 10, 1}, {kD - 9, 2}, {2 * kD - 10, 2}, {2 * kD - 9, 3}, {5 * kD, 6}};
  for (const Case& c : cases) {
    EXPECT_EQ(InternalFilePagesFor(c.size, kD), c.pages) << c.size;
    RawDb db;
    TABSInternalDBTransactedAccessFile f(db.pm, ptTableMetaData);
    f.Create(kSys);
    const Bytes data = Pattern(static_cast<size_t>(c.size), 7);
    f.WriteFile(kSys, data.data(), 0, acaNone, c.size);
    db.pm.CommitSession(kSys, true);
    EXPECT_EQ(static_cast<int64_t>(f.ChainPages(kSys).size()), c.pages) << c.size;
    const int32_t start = f.StartPageNo();
    db.Reopen();
    TABSInternalDBTransactedAccessFile g(db.pm, ptTableMetaData);
    g.Open(start);
    const TABSInternalFileSize s = g.GetSize(kSys, true);
    EXPECT_EQ(s.StoredSize, c.size);
    EXPECT_EQ(s.DataSize, c.size);
    Bytes back(static_cast<size_t>(c.size));
    g.ReadFile(kSys, back.data(), true, c.size);
    EXPECT_EQ(back, data) << c.size;
  }
}

TEST(TransactedFile, CompressedRoundTripAndShortRead) {
  RawDb db;
  TABSInternalDBTransactedAccessFile f(db.pm, ptTableMetaData);
  f.Create(kSys);
  // Repetitive bytes compress well; random-looking ones spill over pages.
  for (uint8_t algorithm : {acaZlib, acaPPM})
    for (size_t n : {size_t{1000}, size_t{3 * kD + 17}}) {
      Bytes data = Pattern(n, 3);
      f.WriteFile(kSys, data.data(), kInternalFileMetadataLevel, algorithm, static_cast<int32_t>(n));
      db.pm.CommitSession(kSys, true);
      const TABSInternalFileSize s = f.GetSize(kSys, true);
      EXPECT_EQ(s.CompressionAlgorithm, algorithm);
      EXPECT_EQ(s.DataSize, static_cast<int32_t>(n));
      EXPECT_LT(s.StoredSize, s.DataSize);
      Bytes back(n);
      f.ReadFile(kSys, back.data(), true, static_cast<int32_t>(n));
      EXPECT_EQ(back, data);
      Bytes more(n + 1);
      ExpectEngineError(
          [&] { f.ReadFile(kSys, more.data(), true, static_cast<int32_t>(n + 1)); }, 30387,
          "Cannot Read internal file. FileSize=" + std::to_string(n) + ". ReadSize=" + std::to_string(n + 1));
    }
}

TEST(TransactedFile, ShrinkGivesPagesBackAndGrowthLinksNewOnes) {
  RawDb db;
  TABSInternalDBTransactedAccessFile f(db.pm, ptTableMostUpdated);
  f.Create(kSys);
  Bytes three = Pattern(3 * kD - 10, 1);
  f.WriteFile(kSys, three.data(), 0, acaNone, static_cast<int32_t>(three.size()));
  db.pm.CommitSession(kSys, true);
  const std::vector<int32_t> chain = f.ChainPages(kSys);
  ASSERT_EQ(chain.size(), 3u);
  Bytes one = Pattern(100, 2);
  f.WriteFile(kSys, one.data(), 0, acaNone, 100);
  std::vector<int32_t> deleted = db.pm.DeletedPages(kSys);
  std::sort(deleted.begin(), deleted.end());
  EXPECT_EQ(deleted, (std::vector<int32_t>{chain[1], chain[2]}));
  db.pm.CommitSession(kSys, true);
  EXPECT_EQ(f.ChainPages(kSys), std::vector<int32_t>{chain[0]});
  EXPECT_FALSE(db.pm.FreeSpaceManager().IsPageUsed(chain[1]));
  EXPECT_FALSE(db.pm.FreeSpaceManager().IsPageUsed(chain[2]));
  Bytes two = Pattern(kD + 5, 4);
  f.WriteFile(kSys, two.data(), 0, acaNone, static_cast<int32_t>(two.size()));
  db.pm.CommitSession(kSys, true);
  EXPECT_EQ(f.ChainPages(kSys).size(), 2u);
  db.Reopen();
  Bytes back(two.size());
  f.ReadFile(kSys, back.data(), true, static_cast<int32_t>(two.size()));
  EXPECT_EQ(back, two);
  EXPECT_EQ(f.PageAt(kSys, 1), f.ChainPages(kSys)[1]);
  ExpectEngineError([&] { f.PageAt(kSys, 2); }, 20300, "Error getting 2-th table file page");
}

TEST(TransactedFile, RollbackForgetsTheWrite) {
  RawDb db;
  TABSInternalDBTransactedAccessFile f(db.pm, ptTableMostUpdated);
  f.Create(kSys);
  Bytes a = Pattern(50, 1);
  f.WriteFile(kSys, a.data(), 0, acaNone, 50);
  db.pm.CommitSession(kSys, true);
  Bytes b = Pattern(2 * kD, 9);
  f.WriteFile(kSys, b.data(), 0, acaNone, static_cast<int32_t>(b.size()));
  db.pm.RollbackSession(kSys);
  EXPECT_EQ(f.GetDataSize(kSys), 50);
  Bytes back(50);
  f.ReadFile(kSys, back.data(), true, 50);
  EXPECT_EQ(back, a);
}

TEST(InternalFiles, ClosedAndDoubleCreateAreRefused) {
  RawDb db;
  TABSInternalDBTransactedAccessFile t(db.pm, ptTableMetaData);
  uint8_t buf[4] = {};
  ExpectEngineError([&] { t.GetSize(kSys, true); }, 30389, "operation (GetSize) on closed internal file");
  ExpectEngineError([&] { t.SetSize(kSys, 1, 0, 1); }, 30389, "(SetSize)");
  ExpectEngineError([&] { t.ReadFile(kSys, buf, true, 1); }, 30389, "(ReadFile)");
  ExpectEngineError([&] { t.WriteFile(kSys, buf, 0, 0, 1); }, 30389, "(WriteFile)");
  t.Create(kSys);
  ExpectEngineError([&] { t.Create(kSys); }, 30383, "StartPageNo=" + std::to_string(t.StartPageNo()));
  TABSInternalDBDirectAccessFile d(db.pm, ptTableLocks);
  ExpectEngineError([&] { d.GetSize(); }, 20156, "(GetSize)");
  ExpectEngineError([&] { d.DirectReadBuffer(buf, 1, 0); }, 20156, "(DirectReadBuffer)");
  ExpectEngineError([&] { d.DirectWriteBuffer(buf, 1, 0); }, 20156, "(DirectWriteBuffer)");
  ExpectEngineError([&] { d.LockFile(); }, 20156, "(LockFile)");
  ExpectEngineError([&] { d.IsRegionLocked(0, 1); }, 20156, "(IsRegionLocked)");
  d.Create(10);
  ExpectEngineError([&] { d.Create(10); }, 20157, "File already exists");
}

TEST(DirectFile, PositionsCrossPagesAtTheDataAreaEdge) {
  RawDb db;
  TABSInternalDBDirectAccessFile f(db.pm, ptTableLocks);
  const int32_t size = 2 * kD + 100;  // three pages
  f.Create(size);
  db.pm.CommitSession(kSys, true);
  const int32_t start = f.StartPageNo();
  TABSInternalDBDirectAccessFile g(db.pm, ptTableLocks);
  g.Open(start);
  EXPECT_EQ(g.Size(), size);
  EXPECT_EQ(g.GetSize(), size);
  ASSERT_EQ(g.PageList().size(), 3u);
  EXPECT_EQ(g.PageList(), f.PageList());
  // Position 4045 is the last byte of the first page, 4046 the first data
  // byte of the second.
  const uint8_t x = 0xA5, y = 0x5A;
  g.DirectWriteBuffer(&x, 1, kD - 11);
  g.DirectWriteBuffer(&y, 1, kD - 10);
  Bytes file = ReadAll(db.path);
  EXPECT_EQ(file[static_cast<size_t>(PageAt(g.PageList()[0]) + kDefaultPageSize - 1)], x);
  EXPECT_EQ(file[static_cast<size_t>(PageAt(g.PageList()[1]) + kPageHeaderSize)], y);
  // A transfer over both page edges, straight to and from the file.
  const Bytes data = Pattern(static_cast<size_t>(kD + 200), 5);
  g.DirectWriteBuffer(data.data(), static_cast<int32_t>(data.size()), kD - 100);
  TABSDiskPageManager other;
  OpenDb(other, db.path, true);
  TABSInternalDBDirectAccessFile h(other, ptTableLocks);
  h.Open(start);
  Bytes back(data.size());
  h.DirectReadBuffer(back.data(), static_cast<int32_t>(back.size()), kD - 100);
  EXPECT_EQ(back, data);
  ExpectEngineError([&] { g.DirectWriteBuffer(data.data(), 101, size - 100); }, 20158,
                    "FileSize=" + std::to_string(size));
  ExpectEngineError([&] { g.DirectReadBuffer(back.data(), 101, size - 100); }, 20159, "Seek position bigger");
  ExpectEngineError([&] { g.DirectReadBuffer(back.data(), 1, size + 1); }, 20159, "Seek position bigger");
}

TEST(DirectFile, LockBytesAreSeenByAnotherOpen) {
  RawDb db;
  TABSInternalDBDirectAccessFile f(db.pm, ptActiveSessionList);
  f.Create(kD + 50);
  db.pm.CommitSession(kSys, true);
  TABSDiskPageManager other;
  OpenDb(other, db.path, true);
  TABSInternalDBDirectAccessFile g(other, ptActiveSessionList);
  g.Open(f.StartPageNo());
  ASSERT_TRUE(f.LockByte(kD - 10));  // first byte of the second page
  EXPECT_TRUE(g.IsByteLocked(kD - 10));
  EXPECT_FALSE(g.IsByteLocked(kD - 11));
  EXPECT_FALSE(g.LockByte(kD - 10));
  EXPECT_TRUE(g.IsRegionLocked(kD - 20, 15));  // spans the page edge
  EXPECT_FALSE(g.IsRegionLocked(kD - 20, 10));
  EXPECT_FALSE(g.IsRegionLocked(kD - 10, 0));
  ASSERT_TRUE(f.LockFile());
  EXPECT_FALSE(g.LockFile());
  EXPECT_TRUE(f.UnlockFile());
  EXPECT_TRUE(g.LockFile());
  EXPECT_TRUE(g.UnlockFile());
  EXPECT_TRUE(f.UnlockByte(kD - 10));
  EXPECT_FALSE(g.IsByteLocked(kD - 10));
  ExpectEngineError([&] { g.LockByte(kD + 50); }, 20159, "Seek position bigger");
}

TEST(DirectFile, DeleteGivesEveryPageBack) {
  RawDb db;
  TABSInternalDBDirectAccessFile f(db.pm, ptTableLocks);
  f.Create(3 * kD);
  db.pm.CommitSession(kSys, true);
  const std::vector<int32_t> pages = f.PageList();
  ASSERT_EQ(pages.size(), 4u);
  TABSInternalDBDirectAccessFile g(db.pm, ptTableLocks);
  g.Delete(pages[0]);  // walked from the file
  db.pm.CommitSession(kSys, true);
  for (int32_t p : pages) EXPECT_FALSE(db.pm.FreeSpaceManager().IsPageUsed(p)) << p;
}

// ---------------------------------------------------------------------------
// Damaged chains: engine errors, never a crash or an endless walk.

struct DamagedChain {
  const char* what;
  std::function<void(Bytes&, const std::vector<int32_t>&)> damage;
  int32_t code;
};

TEST(InternalFiles, DamagedChainsRaiseEngineErrors) {
  const DamagedChain cases[] = {
      {"header size byte", [](Bytes& f, auto& p) { f[PageAt(p[0]) + 40] = 11; }, 20300},
      {"negative stored size", [](Bytes& f, auto& p) { PutI32(&f[PageAt(p[0]) + 41], -5); }, 20300},
      {"stored size past the file",
       [](Bytes& f, auto& p) {
         PutI32(&f[PageAt(p[0]) + 41], 1 << 30);
         PutI32(&f[PageAt(p[0]) + 45], 1 << 30);
       },
       20300},
      {"link back to the first page", [](Bytes& f, auto& p) { PutI32(&f[PageAt(p[1]) + kPgNextPageNo], p[0]); }, 20301},
      {"link past the page area", [](Bytes& f, auto& p) { PutI32(&f[PageAt(p[0]) + kPgNextPageNo], 99999); }, 20301},
      {"link to a map page", [](Bytes& f, auto& p) { PutI32(&f[PageAt(p[0]) + kPgNextPageNo], 1); }, 20301},
      {"second page of another type", [](Bytes& f, auto& p) { PutU16(&f[PageAt(p[1]) + kPgType], ptTableRecord); },
       20153},
      {"chain cut short", [](Bytes& f, auto& p) { PutI32(&f[PageAt(p[1]) + kPgNextPageNo], -1); }, 30388},
  };
  for (const DamagedChain& c : cases) {
    SCOPED_TRACE(c.what);
    RawDb db;
    TABSInternalDBTransactedAccessFile f(db.pm, ptTableList);
    f.Create(kSys);
    const Bytes data = Pattern(static_cast<size_t>(2 * kD + 10), 6);
    f.WriteFile(kSys, data.data(), 0, acaNone, static_cast<int32_t>(data.size()));
    db.pm.CommitSession(kSys, true);
    const std::vector<int32_t> pages = f.ChainPages(kSys);
    ASSERT_EQ(pages.size(), 3u);
    db.pm.CloseDatabaseFile();
    Bytes file = ReadAll(db.path);
    c.damage(file, pages);
    // Written so, not damaged after the write: the chain's own checks judge.
    for (const int32_t p : pages) StorePlainPageCrc(file, PageAt(p));
    WriteAll(db.path, file);
    OpenDb(db.pm, db.path, false);
    Bytes back(data.size());
    ExpectEngineError([&] { f.ReadFile(kSys, back.data(), true, static_cast<int32_t>(back.size())); }, c.code);
  }
}

TEST(InternalFiles, DamagedCompressedBytesAndDirectPageType) {
  RawDb db;
  TABSInternalDBTransactedAccessFile f(db.pm, ptTableMetaData);
  f.Create(kSys);
  const Bytes data = Pattern(3000, 1);
  f.WriteFile(kSys, data.data(), 1, acaZlib, 3000);
  TABSInternalDBDirectAccessFile d(db.pm, ptTableLocks);
  d.Create(2 * kD);
  db.pm.CommitSession(kSys, true);
  db.pm.CloseDatabaseFile();
  Bytes file = ReadAll(db.path);
  file[static_cast<size_t>(PageAt(f.StartPageNo()) + 40 + 10 + 20)] ^= 0xFF;
  StorePlainPageCrc(file, PageAt(f.StartPageNo()));  // compressed bytes written wrong, not damaged later
  PutU16(&file[static_cast<size_t>(PageAt(d.PageList()[1]) + kPgType)], ptTableRecord);
  WriteAll(db.path, file);
  OpenDb(db.pm, db.path, false);
  Bytes back(3000);
  ExpectEngineError([&] { f.ReadFile(kSys, back.data(), true, 3000); }, 20189, "decompression error");
  TABSInternalDBDirectAccessFile e(db.pm, ptTableLocks);
  ExpectEngineError([&] { e.Open(d.StartPageNo()); }, 20155, "Invalid PageType found: 10 but expecting: 7");
}

// ---------------------------------------------------------------------------
// The database as a whole.

TEST(DiskDatabase, CreateLaysOutTheSystemFilesAndOpenReadsThemBack) {
  ScratchDir dir;
  const std::string path = dir.File("db.zud");
  {
    TABSDiskDatabase db;
    db.CreateDatabase(path, TABSPassword{}, 37);
    EXPECT_FALSE(db.IsOpen());
  }
  const Bytes file = ReadAll(path);
  ASSERT_EQ(file.size(), static_cast<size_t>(PageAt(6)));
  const uint16_t types[] = {ptPFS, ptEAM, ptFileSystemDirectory, ptActiveSessionList, ptTableList};
  for (int32_t p = 0; p < 5; ++p) EXPECT_EQ(GetU16(&file[static_cast<size_t>(PageAt(p) + kPgType)]), types[p]) << p;
  // Directory: 10 bytes, kind 2 -> 3, kind 1 -> 4.
  const uint8_t* dirData = &file[static_cast<size_t>(PageAt(2) + 40)];
  EXPECT_EQ(GetI32(dirData + 1), 10);
  EXPECT_EQ(dirData[10], 2);
  EXPECT_EQ(GetI32(dirData + 11), 3);
  EXPECT_EQ(dirData[15], 1);
  EXPECT_EQ(GetI32(dirData + 16), 4);
  // The sessions page is never enciphered and holds 37 slot bytes.
  EXPECT_EQ(GetI32(&file[static_cast<size_t>(PageAt(3) + 41)]), 37);

  TABSDiskDatabase db;
  bool multiUser = true, needRepair = false, readOnly = false;
  db.OpenDatabase(path, TABSPassword{}, multiUser, false, needRepair, readOnly);
  EXPECT_FALSE(needRepair);
  EXPECT_EQ(db.MaxConnections(), 37);
  EXPECT_EQ(db.SystemDirectory().Find(sfkActiveSessions), 3);
  EXPECT_EQ(db.SystemDirectory().Find(sfkTableList), 4);
  EXPECT_EQ(db.SystemDirectory().Find(9), -1);
  EXPECT_TRUE(db.TableList().Entries().empty());
  EXPECT_TRUE(db.SessionsFile().LockByte(36));
  EXPECT_TRUE(db.SessionsFile().UnlockByte(36));
}

TEST(DiskDatabase, ManySlotsSpanPagesAndAnEncryptedDatabaseOpens) {
  ScratchDir dir;
  const std::string path = dir.File("big.zud");
  TABSPassword password{"secreto", 1};
  TABSDiskDatabase db;
  db.CreateDatabase(path, password, 10000);
  bool multiUser = false, needRepair = false, readOnly = false;
  db.OpenDatabase(path, password, multiUser, false, needRepair, readOnly);
  EXPECT_EQ(db.MaxConnections(), 10000);
  EXPECT_EQ(db.SessionsFile().PageList().size(), 3u);
}

TEST(TableList, RoundTripOfManyNamesWithTheLongestNameWhole) {
  ScratchDir dir;
  const std::string path = dir.File("list.zud");
  TABSDiskDatabase().CreateDatabase(path, TABSPassword{});
  const std::string longName = std::string(300, 'x') + "TAIL";
  const std::string name255 = longName.substr(0, 255);
  std::vector<TABSTableListEntry> want;
  {
    TABSDiskDatabase db;
    bool mu = true, nr = false, ro = false;
    db.OpenDatabase(path, TABSPassword{}, mu, false, nr, ro);
    TABSDatabaseTablesLock lock(db.PageManager());
    for (int i = 0; i < 60; ++i) {
      TABSTableListEntry e{"tabla" + std::to_string(i), 100 + i, 10 + i, 20 + i, 30 + i};
      db.TableList().AddTable(kSys, e);
      want.push_back(e);
    }
    ExpectEngineError(
        [&] {
          db.TableList().AddTable(kSys, {longName, 7, 8, 9, 10});
        },
        30450, "a table name has at most 255 bytes");
    db.TableList().AddTable(kSys, {name255, 7, 8, 9, 10});
    want.push_back({name255, 7, 8, 9, 10});
    db.PageManager().CommitSession(kSys, true);
  }
  TABSDiskDatabase db;
  bool mu = true, nr = false, ro = false;
  db.OpenDatabase(path, TABSPassword{}, mu, false, nr, ro);
  TABSTableListFile& list = db.TableList();
  ASSERT_EQ(list.Entries().size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    const TABSTableListEntry& e = list.Entries()[i];
    EXPECT_EQ(e.TableName, want[i].TableName);
    EXPECT_EQ((std::vector<int32_t>{e.TableID, e.MetadataPageNo, e.MostUpdatedPageNo, e.LocksPageNo}),
              (std::vector<int32_t>{want[i].TableID, want[i].MetadataPageNo, want[i].MostUpdatedPageNo,
                                    want[i].LocksPageNo}));
  }
  EXPECT_GE(list.Entries().size() * kTableListEntrySize, static_cast<size_t>(3 * kD));  // several pages
  // Lookups: case-insensitive, and only the whole name finds its entry: a
  // longer name that starts with it is another name, which no entry has.
  EXPECT_EQ(list.FindTable(kSys, "TABLA42").TableID, 142);
  EXPECT_EQ(list.FindTable(kSys, name255).TableID, 7);
  EXPECT_FALSE(list.TableExists(kSys, longName));
  EXPECT_FALSE(list.TableExists(kSys, longName.substr(0, 254)));
  ExpectEngineError(
      [&] {
        list.AddTable(kSys, {longName + "other", 1, 1, 1, 1});
      },
      30450, "a table name has at most 255 bytes");
  ExpectEngineError(
      [&] {
        list.AddTable(kSys, {name255, 1, 1, 1, 1});
      },
      30395, "Table '" + name255 + "' already exists");
  ExpectEngineError([&] { list.AddTable(kSys, {"Tabla3", 1, 1, 1, 1}); }, 30395, "'Tabla3' already exists");
  ExpectEngineError([&] { list.FindTable(kSys, "nada"); }, 30396, "Table 'nada' not exists.");
  ExpectEngineError([&] { list.DeleteTable(kSys, "nada"); }, 30397, "Table 'nada' not exists.");
  ExpectEngineError([&] { list.RenameTable(kSys, "nada", "algo"); }, 30405, "Table 'nada' not exists.");
  ExpectEngineError([&] { list.RenameTable(kSys, "tabla1", "TABLA2"); }, 30395, "'TABLA2' already exists");
  // Delete moves the later entries down; rename keeps the place.
  list.DeleteTable(kSys, "tabla0");
  list.RenameTable(kSys, "tabla1", "Tabla1");  // the same entry: no clash
  list.RenameTable(kSys, "tabla2", "otra");
  db.PageManager().CommitSession(kSys, true);
  const std::vector<std::string> names = list.TableNames(kSys);
  ASSERT_EQ(names.size(), want.size() - 1);
  EXPECT_EQ(names[0], "Tabla1");
  EXPECT_EQ(names[1], "otra");
  EXPECT_EQ(names[2], "tabla3");
  EXPECT_EQ(list.FindTable(kSys, "OTRA").TableID, 102);
}

TEST(TableList, AChangeNeverErasesAnotherProcesssNewTable) {
  ScratchDir dir;
  const std::string path = dir.File("two.zud");
  TABSDiskDatabase().CreateDatabase(path, TABSPassword{});
  TABSDiskDatabase a, b;
  bool mu = true, nr = false, ro = false;
  a.OpenDatabase(path, TABSPassword{}, mu, false, nr, ro);
  mu = true;
  b.OpenDatabase(path, TABSPassword{}, mu, false, nr, ro);
  {
    TABSDatabaseTablesLock lock(a.PageManager());
    a.TableList().AddTable(kSys, {"primera", 1, 1, 1, 1});
    a.PageManager().CommitSession(kSys, true);
  }
  // b loaded the list before a's change; its change starts from the file.
  EXPECT_TRUE(b.TableList().Entries().empty());
  {
    TABSDatabaseTablesLock lock(b.PageManager());
    b.TableList().AddTable(kSys, {"segunda", 2, 2, 2, 2});
    b.PageManager().CommitSession(kSys, true);
  }
  EXPECT_EQ(a.TableList().TableNames(kSys), (std::vector<std::string>{"primera", "segunda"}));
}

TEST(DiskDatabase, DamagedDirectoryOrTableListIsNamed) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
    int32_t code;
    std::string part;
  } cases[] = {
      {"directory of 7 bytes",
       [](Bytes& f) {
         PutI32(&f[PageAt(2) + 41], 7);
         PutI32(&f[PageAt(2) + 45], 7);
       },
       20299, "Page No: 2, type 4"},
      {"directory without the table list", [](Bytes& f) { f[PageAt(2) + 40 + 15] = 9; }, 20299, "Page No: 2, type 4"},
      {"page 2 of another type", [](Bytes& f) { PutU16(&f[PageAt(2) + kPgType], ptTableList); }, 20153,
       "Expecting type 4"},
      {"table list of 300 bytes",
       [](Bytes& f) {
         PutI32(&f[PageAt(4) + 41], 300);
         PutI32(&f[PageAt(4) + 45], 300);
       },
       20299, "Page No: 4, type 6"},
      {"table list page of another type", [](Bytes& f) { PutU16(&f[PageAt(4) + kPgType], ptTableRecord); }, 20153,
       "Expecting type 6"},
      {"table list said compressed", [](Bytes& f) { f[PageAt(4) + 49] = 1; }, 20299, "Page No: 4, type 6"},
      {"sessions file of 0 slots", [](Bytes& f) { PutI32(&f[PageAt(3) + 41], 0); }, 20299, "Page No: 3, type 5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string path = dir.File("bad.zud");
    TABSDiskDatabase().CreateDatabase(path, TABSPassword{});
    Bytes file = ReadAll(path);
    c.damage(file);
    // The directory and the table list as written so (the sessions file,
    // a direct file, carries no CRC): their own checks judge them.
    for (const int32_t p : {2, 4}) StorePlainPageCrc(file, PageAt(p));
    WriteAll(path, file);
    TABSDiskDatabase db;
    bool mu = true, nr = false, ro = true;
    ExpectEngineError([&] { db.OpenDatabase(path, TABSPassword{}, mu, false, nr, ro); }, c.code, c.part);
    EXPECT_FALSE(db.IsOpen());
    EXPECT_EQ(ReadAll(path), file);
  }
}

TEST(DiskDatabase, ReadingNeverWrites) {
  ScratchDir dir;
  const std::string path = dir.File("ro.zud");
  TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, 12);
  {
    TABSDiskDatabase db;
    bool mu = true, nr = false, ro = false;
    db.OpenDatabase(path, TABSPassword{}, mu, false, nr, ro);
    TABSDatabaseTablesLock lock(db.PageManager());
    for (int i = 0; i < 20; ++i) db.TableList().AddTable(kSys, {"t" + std::to_string(i), i, i, i, i});
    db.PageManager().CommitSession(kSys, true);
  }
  const Bytes before = ReadAll(path);
  for (bool readOnly : {true, false}) {
    for (bool multiUser : {true, false}) {
      TABSDiskDatabase db;
      bool mu = multiUser, nr = false, ro = readOnly;
      db.OpenDatabase(path, TABSPassword{}, mu, false, nr, ro);
      EXPECT_EQ(db.TableList().TableNames(kSys).size(), 20u);
      EXPECT_EQ(db.TableList().FindTable(kSys, "T7").TableID, 7);
      db.CloseDatabase();
      EXPECT_EQ(ReadAll(path), before) << readOnly << multiUser;
    }
  }
}

}  // namespace
