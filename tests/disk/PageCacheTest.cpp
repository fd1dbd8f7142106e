// Pages, the page cache and session commits of the disk page manager:
// pinning across sessions, rollback of added and deleted pages, commits
// that write nothing, the order of the writes of a commit, PageVersion
// stepping, damaged or foreign pages, and two opens of one file keeping
// their caches in step.
#include <cstring>

#include <filesystem>

#include "DiskTestUtil.h"
#include "os/FaultFile.h"

using namespace tiv::disk;
namespace os = tiv::os;

namespace {

// Records the writes and flushes that reach the file system, in order.
class RecordingFileSystem final : public os::FileSystem {
 public:
  struct Event {
    char kind;  // 'W' write, 'S' sync
    int64_t pos;
    size_t n;
    uint8_t state;  // the header's State byte of a write at 0 that holds it
    bool journal;   // to the rollback journal, not the database
  };
  std::vector<Event> events;

  os::Status Open(const std::string& path, const os::OpenOptions& o, std::unique_ptr<os::FileHandle>& out) override {
    std::unique_ptr<os::FileHandle> h;
    os::Status s = base_.Open(path, o, h);
    const bool journal = path.size() > 8 && path.compare(path.size() - 8, 8, "-journal") == 0;
    if (s.ok()) out = std::make_unique<Handle>(std::move(h), events, journal);
    return s;
  }
  os::Status Stat(const std::string& p, os::FileInfo& i) override { return base_.Stat(p, i); }
  os::Status SetReadOnly(const std::string& p, bool r) override { return base_.SetReadOnly(p, r); }
  os::Status Remove(const std::string& p) override { return base_.Remove(p); }
  os::Status Rename(const std::string& from, const std::string& to) override { return base_.Rename(from, to); }
  os::Status SyncDirectory(const std::string& path) override { return base_.SyncDirectory(path); }

 private:
  class Handle final : public os::FileHandle {
   public:
    Handle(std::unique_ptr<os::FileHandle> h, std::vector<Event>& ev, bool journal)
        : h_(std::move(h)), ev_(ev), journal_(journal) {}
    os::Status ReadAt(int64_t pos, void* b, size_t n, size_t& done) override { return h_->ReadAt(pos, b, n, done); }
    os::Status WriteAt(int64_t pos, const void* b, size_t n) override {
      const uint8_t state = !journal_ && pos == 0 && n > kHdrState ? static_cast<const uint8_t*>(b)[kHdrState] : 0;
      ev_.push_back({'W', pos, n, state, journal_});
      return h_->WriteAt(pos, b, n);
    }
    os::Status Size(int64_t& s) override { return h_->Size(s); }
    os::Status Truncate(int64_t s) override { return h_->Truncate(s); }
    os::Status Sync() override {
      ev_.push_back({'S', 0, 0, 0, journal_});
      return h_->Sync();
    }
    os::Status Lock(int64_t p, int64_t l) override { return h_->Lock(p, l); }
    os::Status Unlock(int64_t p, int64_t l) override { return h_->Unlock(p, l); }
    bool HoldsLock(int64_t p, int64_t l) override { return h_->HoldsLock(p, l); }
    bool SharedLocksOnly() const override { return h_->SharedLocksOnly(); }
    os::Status Close() override { return h_->Close(); }

   private:
    std::unique_ptr<os::FileHandle> h_;
    std::vector<Event>& ev_;
    bool journal_;
  };
  os::FileSystem& base_ = os::FileSystem::Default();
};

constexpr int32_t kS0 = 0, kS1 = 1;

class PageCacheTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir.File("db.zud");

  void SetUp() override { CreateDatabase(path); }

  // Adds `count` record pages whose first data byte is its number, commits.
  static std::vector<int32_t> AddPages(TABSPageManager& pm, int count, int32_t session = kS0) {
    std::vector<int32_t> numbers;
    for (int i = 0; i < count; ++i) {
      TABSPage* p = pm.AddPage(session, ptTableRecord);
      p->DataBuffer()[0] = static_cast<uint8_t>(p->PageNo);
      numbers.push_back(p->PageNo);
      pm.PutPage(p);
    }
    pm.CommitSession(session);
    return numbers;
  }
  static void Change(TABSPageManager& pm, int32_t session, int32_t pageNo, uint8_t value) {
    TABSPage* p = pm.GetPage(session, pageNo, true, ptTableRecord);
    p->DataBuffer()[0] = value;
    p->IsDirty = true;
    pm.PutPage(p);
  }
  static uint8_t FirstByte(TABSPageManager& pm, int32_t session, int32_t pageNo) {
    TABSPage* p = pm.GetPage(session, pageNo, true, ptTableRecord);
    const uint8_t b = p->DataBuffer()[0];
    pm.PutPage(p);
    return b;
  }
  uint8_t StateOnDisk() { return ReadAll(path)[kHdrState]; }
};

TEST_F(PageCacheTest, APagePinnedByOneSessionIsRefusedToAnother) {
  TABSDiskPageManager pm;
  OpenDb(pm, path, false);
  const int32_t page = AddPages(pm, 1)[0];
  TABSPage* held = pm.GetPage(kS0, page);
  ExpectEngineError([&] { pm.GetPage(kS1, page); }, 20090, "Page is used by other session");
  TABSPage* again = pm.GetPage(kS0, page);  // the holder may pin it twice
  EXPECT_EQ(again, held);
  pm.PutPage(again);
  pm.PutPage(held);
  pm.PutPage(pm.GetPage(kS1, page));
  ExpectEngineError([&] { pm.GetPage(-1, page); }, 20186, "Invalid Session ID");
  ExpectEngineError([&] { pm.GetPage(-7, page); }, 20186, "Invalid Session ID");
  ExpectEngineError([&] { pm.AddPage(-1, ptTableRecord); }, 20186, "Invalid Session ID");
}

TEST_F(PageCacheTest, RollbackGivesAddedNumbersBackAndKeepsDeletedPages) {
  TABSDiskPageManager pm;
  OpenDb(pm, path, false);
  const std::vector<int32_t> pages = AddPages(pm, 2);
  TABSPage* added = pm.AddPage(kS0, ptTableRecord);
  const int32_t number = added->PageNo;
  pm.PutPage(added);
  EXPECT_TRUE(pm.FreeSpaceManager().IsPageUsed(number));
  pm.DeletePage(kS0, pages[0]);
  Change(pm, kS0, pages[1], 0x77);
  pm.RollbackSession(kS0);
  EXPECT_FALSE(pm.FreeSpaceManager().IsPageUsed(number));
  EXPECT_EQ(pm.ReadPageVersion(number), kPageVersionReleased);
  EXPECT_TRUE(pm.FreeSpaceManager().IsPageUsed(pages[0]));
  EXPECT_EQ(FirstByte(pm, kS1, pages[0]), static_cast<uint8_t>(pages[0]));
  EXPECT_EQ(FirstByte(pm, kS1, pages[1]), static_cast<uint8_t>(pages[1]));  // the change is gone
  EXPECT_EQ(pm.DirtyPageCount(kS0), 0);
  TABSPage* next = pm.AddPage(kS0, ptTableRecord);
  EXPECT_EQ(next->PageNo, number);  // the number came back
  pm.PutPage(next);
  ExpectEngineError([&] { pm.FreeAllPages(); }, 20097, "Cannot free non-commited pages");
  TABSPage* pinned = pm.AddPage(kS1, ptTableRecord);
  ExpectEngineError([&] { pm.RollbackSession(kS1); }, 20088, "Cannot remove used page");
  pm.PutPage(pinned);
  pm.RollbackSession(kS1);
  pm.RollbackSession(kS0);
  pm.FreeAllPages();
}

TEST_F(PageCacheTest, ACommitWithoutChangesWritesNothingNotEvenTheHeader) {
  os::FaultFileSystem fs;
  TABSDiskPageManager pm(fs);
  OpenDb(pm, path, false);
  const int32_t page = AddPages(pm, 1)[0];
  const int before = fs.WriteCount();
  pm.CommitSession(kS0);
  pm.CommitSession(kS1);  // a session never seen
  EXPECT_EQ(FirstByte(pm, kS1, page), static_cast<uint8_t>(page));
  pm.CommitSession(kS1);  // pages read, none changed
  EXPECT_EQ(fs.WriteCount(), before);
}

TEST_F(PageCacheTest, CommittedPagesAreServedFromTheCache) {
  TABSDiskPageManager pm;
  OpenDb(pm, path, false);
  const std::vector<int32_t> pages = AddPages(pm, 3);
  EXPECT_EQ(pm.SharedCache().Count(), 3);
  // The file changes under the cache (each page written again whole, with
  // its DataCRC): the cached copies are what is served.
  const uint8_t junk = 0xEE;
  for (int32_t p : pages) {
    std::vector<uint8_t> image(pm.PageSize());
    ASSERT_TRUE(pm.ReadPage(p, image.data()));
    image[kPageHeaderSize] = junk;
    PutU32(image.data() + kPgDataCRC, PlainPageCrc(image.data() + kPageHeaderSize, pm.PageDataSize()));
    pm.WritePage(p, image.data());
  }
  for (int32_t p : pages) {
    TABSPage* page = pm.GetPage(kS1, p, true, ptTableRecord);
    EXPECT_FALSE(page->Reread);
    EXPECT_EQ(page->DataBuffer()[0], static_cast<uint8_t>(p));
    pm.PutPage(page);
  }
  // Past its capacity the cache lets the least recently used pages go.
  pm.SetCacheCapacity(2);
  pm.PutPage(pm.GetPage(kS1, pages[0]));
  EXPECT_EQ(pm.SharedCache().Count(), 2);
  EXPECT_NE(pm.SharedCache().Find(pages[0]), nullptr);
  EXPECT_EQ(pm.SharedCache().Find(pages[1]), nullptr);
  EXPECT_EQ(FirstByte(pm, kS1, pages[1]), junk);  // read from the file again
}

TEST_F(PageCacheTest, PageVersionStepsAndWrapsToZero) {
  TABSDiskPageManager pm;
  OpenDb(pm, path, false);
  const int32_t page = AddPages(pm, 1)[0];
  struct Case {
    int32_t before, after;
  } cases[] = {{0x7FFFFFFC, 0}, {0x7FFFFFFB, 0x7FFFFFFC}, {0, 1}, {5, 6}};
  for (const Case& c : cases) {
    TABSPage* p = pm.GetPage(kS0, page);
    p->SetPageVersion(c.before);
    p->IsDirty = true;
    pm.PutPage(p);
    pm.CommitSession(kS0);
    EXPECT_EQ(pm.ReadPageVersion(page), c.after) << c.before;
  }
}

TEST_F(PageCacheTest, ForeignOrDamagedPagesAreRefusedAndNotCached) {
  TABSDiskPageManager pm;
  OpenDb(pm, path, false);
  const std::vector<int32_t> pages = AddPages(pm, 2);
  pm.SetCacheCapacity(0);  // every read goes to the file
  pm.PutPage(pm.GetPage(kS0, pages[0]));
  ASSERT_EQ(pm.SharedCache().Count(), 0);
  const uint8_t bad[4] = {'N', 'O', 'P', 'E'};
  pm.WritePageBytes(bad, pages[1], 4, 0);
  const int32_t total = pm.Header().TotalPageCount;
  struct Case {
    const char* name;
    int32_t page;
    uint16_t type;
    int32_t code;
    std::string part;
  } cases[] = {
      {"wrong type", pages[0], ptTableIndex, 20153,
       "Invalid page type. Possible data corruption. Expecting type 12, but found 10"},
      {"bad signature", pages[1], ptAny, 20299,
       "Error reading database file page. Page No: " + std::to_string(pages[1])},
      {"past the end", total + 3, ptAny, 20299, "Page No: " + std::to_string(total + 3) + ", type 255"},
      {"a PFS page", 0, ptPFS, 30434, "Cannot delete PFS or EAM page. PageNo=0"},
      {"an EAM page", 1, ptAny, 30434, "Cannot delete PFS or EAM page. PageNo=1"},
      {"a negative number", -5, ptAny, 10471, "Invalid PageNo = -5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectEngineError([&] { pm.GetPage(kS0, c.page, true, c.type); }, c.code, c.part);
    EXPECT_EQ(pm.SharedCache().Count(), 0);
  }
  ExpectEngineError([&] { pm.DeletePage(kS0, 1); }, 30434, "PageNo=1");
  // A page already cached is held to the type asked for all the same.
  pm.SetCacheCapacity(100);
  pm.PutPage(pm.GetPage(kS0, pages[0], true, ptTableRecord));
  ASSERT_EQ(pm.SharedCache().Count(), 1);
  ExpectEngineError([&] { pm.GetPage(kS0, pages[0], true, ptTableIndex); }, 20153, "Expecting type 12, but found 10");
  pm.PutPage(pm.GetPage(kS0, pages[0], true, ptAny));
}

TEST_F(PageCacheTest, ACommitThatCannotWriteRefusesFirstAndNeverHidesAHalfCommit) {
  os::FaultFileSystem fs;
  std::vector<int32_t> pages;
  {
    TABSDiskPageManager pm(fs);
    OpenDb(pm, path, false);
    pages = AddPages(pm, 3);
    // Refusals come before any byte is written.
    TABSPage* pinned = pm.GetPage(kS0, pages[0]);
    Change(pm, kS0, pages[1], 1);
    const int writes = fs.WriteCount();
    ExpectEngineError([&] { pm.CommitSession(kS0); }, 20152, "Some session pages not released");
    EXPECT_EQ(fs.WriteCount(), writes);
    pm.PutPage(pinned);
    // The page that a deleted page was pointed at from fails to be written:
    // the deleted page is still in use and not marked released.
    pm.DeletePage(kS0, pages[2]);
    // The journal's records and header, then the State 1 header go
    // through; the first page (and its retry) not.
    fs.FailWrite(4, 2);
    ExpectEngineError([&] { pm.CommitSession(kS0); }, 10469, "Cannot Write to file");
    // The journal put the file back: State 2, the deleted page in use and
    // not marked released, the session rolled back, no journal left.
    EXPECT_EQ(StateOnDisk(), kStateConsistent);
    EXPECT_TRUE(pm.FreeSpaceManager().IsPageUsed(pages[2]));
    EXPECT_NE(pm.ReadPageVersion(pages[2]), kPageVersionReleased);
    EXPECT_EQ(pm.HeaderLockCount(), 0);
    EXPECT_EQ(pm.DirtyPageCount(kS0), 0);
    EXPECT_FALSE(std::filesystem::exists(pm.JournalPath()));
    // The next change commits as if the failed one never was.
    Change(pm, kS0, pages[1], 7);
    pm.CommitSession(kS0);
    EXPECT_EQ(StateOnDisk(), kStateConsistent);
  }
  TABSDiskPageManager again;
  EXPECT_FALSE(OpenDb(again, path).needRepair);
}

TEST_F(PageCacheTest, AFlushedCommitPutsThePagesOnDiskBeforeTheHeaderSaysConsistent) {
  for (bool flush : {true, false}) {
    SCOPED_TRACE(flush);
    RecordingFileSystem fs;
    TABSDiskPageManager pm(fs);
    OpenDb(pm, path, false);
    const std::vector<int32_t> pages = AddPages(pm, 2);
    Change(pm, kS0, pages[0], 9);
    pm.DeletePage(kS0, pages[1]);
    fs.events.clear();
    pm.CommitSession(kS0, flush);
    auto find = [&](auto pred) {
      for (size_t i = 0; i < fs.events.size(); ++i)
        if (pred(fs.events[i])) return static_cast<long>(i);
      return -1L;
    };
    const long state1 = find([](const auto& e) { return e.kind == 'W' && e.pos == 0 && e.state == 1; });
    const long state2 = find([](const auto& e) { return e.kind == 'W' && e.pos == 0 && e.state == 2; });
    const long firstPage =
        find([&](const auto& e) { return e.kind == 'W' && !e.journal && e.pos >= pm.PageAreaOffset(); });
    long lastPage = -1, lastJournal = -1;
    for (size_t i = 0; i < fs.events.size(); ++i) {
      if (fs.events[i].kind == 'W' && !fs.events[i].journal && fs.events[i].pos >= pm.PageAreaOffset())
        lastPage = static_cast<long>(i);
      if (fs.events[i].kind == 'W' && fs.events[i].journal) lastJournal = static_cast<long>(i);
    }
    ASSERT_GE(state1, 0);
    // The journal is whole (its header written last, at 0) before the
    // database's header says State 1.
    ASSERT_GE(lastJournal, 0);
    EXPECT_LT(lastJournal, state1);
    EXPECT_EQ(fs.events[static_cast<size_t>(lastJournal)].pos, 0);
    ASSERT_GT(firstPage, state1);
    ASSERT_GT(state2, lastPage);
    auto syncBetween = [&](long from, long to) {
      for (long i = from + 1; i < to; ++i)
        if (fs.events[static_cast<size_t>(i)].kind == 'S') return true;
      return false;
    };
    EXPECT_EQ(syncBetween(state1, firstPage), flush);
    EXPECT_EQ(syncBetween(lastPage, state2), flush);
    EXPECT_EQ(fs.events.back().kind == 'S', flush);
    // The release of the deleted page (its version mark) follows the write
    // of the changed page.
    const int64_t changedAt = pm.PageOffset(pages[0]);
    const int64_t versionAt = pm.PageOffset(pages[1]) + kPgVersion;
    EXPECT_LT(find([&](const auto& e) { return e.kind == 'W' && e.pos == changedAt; }),
              find([&](const auto& e) { return e.kind == 'W' && e.pos == versionAt; }));
  }
}

TEST_F(PageCacheTest, ListAndBufferMisuseGiveTheirErrors) {
  TABSSortedPageList list;
  ExpectEngineError([&] { list.Delete(3); }, 20165, "TSortedPageList.Delete - no elements in array!");
  TABSPage* p = list.Add(std::make_unique<TABSPage>(nullptr, 5));
  ExpectEngineError([&] { list.Delete(3); }, 20166, "element not found, key = 3, itemCount = 1");
  TABSPage loose(nullptr, 3);
  ExpectEngineError([&] { list.Touch(&loose); }, 20167, "Page not found");
  list.Touch(p);
  ExpectEngineError([&] { loose.Resize(8192); }, 20038, "Invalid page buffer. Buffer is Nil");
  loose.AllocBuffer();
  ExpectEngineError([&] { loose.Resize(100); }, 20039, "Invalid page modification");
  loose.DataBuffer()[7] = 42;
  loose.Resize(8192);
  EXPECT_EQ(loose.DataBuffer()[7], 42);
  EXPECT_EQ(loose.NextPageNo(), -1);
  EXPECT_EQ(loose.OwnerTableID(), -1);
}

// Two opens of one file in multi-user mode behave like two processes.
TEST_F(PageCacheTest, AfterAnotherOpenCommitsOnlyTheChangedPagesAreReread) {
  TABSDiskPageManager a, b;
  OpenDb(a, path);
  OpenDb(b, path);
  ASSERT_TRUE(a.MultiUser());
  const std::vector<int32_t> pages = AddPages(a, 3);
  constexpr int32_t kTable = 77;
  TABSDiskTablePagesCacheManager& t = b.TablePagesCache();
  auto readAll = [&](int32_t stamp) {
    t.AddReadLock(kS0, kTable);
    t.SetStamp(kS0, kTable, stamp);
    t.PushCurrentTable(kS0, kTable);
    std::vector<bool> reread;
    std::vector<uint8_t> bytes;
    for (int32_t p : pages) {
      TABSPage* page = b.GetPage(kS0, p, true, ptTableRecord);
      reread.push_back(page->Reread);
      bytes.push_back(page->DataBuffer()[0]);
      b.PutPage(page);
    }
    t.PopCurrentTable(kS0);
    t.RemoveReadLock(kS0, kTable);
    EXPECT_FALSE(t.IsStampKnown(kS0, kTable));
    return std::make_pair(reread, bytes);
  };
  EXPECT_EQ(readAll(1).first, std::vector<bool>({true, true, true}));
  Change(a, kS0, pages[1], 0x42);
  a.CommitSession(kS0);
  // Same stamp: trusted without touching the file.
  EXPECT_EQ(readAll(1).first, std::vector<bool>({false, false, false}));
  auto [reread, bytes] = readAll(2);
  EXPECT_EQ(reread, std::vector<bool>({false, true, false}));
  EXPECT_EQ(bytes[1], 0x42);
  // A page released by the other open is dropped, never served unchanged.
  a.DeletePage(kS0, pages[2]);
  a.CommitSession(kS0);
  t.AddReadLock(kS0, kTable);
  t.SetStamp(kS0, kTable, 3);
  t.PushCurrentTable(kS0, kTable);
  ExpectEngineError([&] { b.GetPage(kS0, pages[2], true, ptTableRecord); }, 20299, "Error reading database file page");
  EXPECT_EQ(b.SharedCache().Find(pages[2]), nullptr);
  t.PopCurrentTable(kS0);
  t.RemoveReadLock(kS0, kTable);
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

TEST_F(PageCacheTest, EncipheredPagesKeepTheirHeaderAndTheMapPlain) {
  XorCipher cipher;
  const std::string file = dir.File("enc.zud");
  const TABSPassword pw{"k", 1};
  int32_t page = -1;
  {
    TABSDiskPageManager pm;
    pm.SetCipher(&cipher);
    pm.CreateDatabaseFile(file, pw);
    TABSPage* p = pm.AddPage(kS0, ptTableRecord);
    page = p->PageNo;
    std::memset(p->DataBuffer(), 0x11, p->DataSize());
    pm.PutPage(p);
    pm.CommitSession(kS0);
    EXPECT_EQ(pm.SharedCache().Find(page)->DataBuffer()[0], 0x11);  // the cache stays plain
  }
  const Bytes f = ReadAll(file);
  const size_t at = 380 + static_cast<size_t>(page) * 4096;
  EXPECT_EQ(std::string(f.begin() + static_cast<long>(at), f.begin() + static_cast<long>(at) + 4), "ABSP");
  EXPECT_EQ(f[at + kPgCryptoAlgorithm], 1);
  EXPECT_NE(f[at + kPageHeaderSize], 0x11);
  EXPECT_EQ(f[380 + kPageHeaderSize], 7);  // PFS page 0: pages 0, 1 and 2 in use, plain
  TABSDiskPageManager pm;
  pm.SetCipher(&cipher);
  bool mu = false, repair = false, ro = false;
  pm.OpenDatabaseFile(file, pw, mu, false, repair, ro);
  EXPECT_EQ(FirstByte(pm, kS0, page), 0x11);
  pm.CloseDatabaseFile();
  pm.OpenDatabaseFile(file, {"k", 1}, mu, false, repair, ro);
  // A damaged data area fails its CRC.
  const uint8_t x = 0;
  pm.WritePageBytes(&x, page, 1, kPageHeaderSize + 9);
  ExpectEngineError([&] { pm.GetPage(kS0, page); }, 30446,
                    "Decrypt page error. Check CRC failed. PageNo: " + std::to_string(page));
}

}  // namespace
