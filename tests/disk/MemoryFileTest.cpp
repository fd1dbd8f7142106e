// The in-memory file system (os/MemoryFile.h): handles that read and write
// like files, byte-range locks and share modes that refuse as two processes
// refuse each other, a size bound that is an error and never a larger file,
// a whole database made, changed, checked and read back through it, and
// Rename on it and on the real file system.
#include <gtest/gtest.h>

#include <cerrno>

#include "DiskTestUtil.h"
#include "core/ZUDVariant.h"
#include "disk/DiskDatabaseData.h"
#include "os/FaultFile.h"
#include "os/MemoryFile.h"

namespace {

namespace os = tiv::os;

std::unique_ptr<os::FileHandle> OpenOk(os::FileSystem& fs, const std::string& path, unsigned access,
                                       unsigned share = os::kShareRead | os::kShareWrite, bool create = false) {
  os::OpenOptions o;
  o.access = access;
  o.share = share;
  o.create = create;
  std::unique_ptr<os::FileHandle> h;
  const os::Status s = fs.Open(path, o, h);
  EXPECT_TRUE(s.ok()) << s.text;
  return h;
}

TEST(MemoryFile, HandlesReadWriteAndTruncateLikeFiles) {
  os::MemoryFileSystem fs(100);
  const unsigned rw = os::kAccessRead | os::kAccessWrite;
  auto w = OpenOk(fs, "f", rw, os::kShareRead | os::kShareWrite, true);
  ASSERT_TRUE(w);
  ASSERT_TRUE(w->WriteAt(4, "abc", 3).ok());
  EXPECT_EQ(fs.Contents("f"), std::string("\0\0\0\0abc", 7));  // the gap is zeros
  char buf[10] = {};
  size_t done = 0;
  ASSERT_TRUE(w->ReadAt(5, buf, sizeof buf, done).ok());
  EXPECT_EQ(std::string(buf, done), "bc");  // short only at the end
  // Past the bound nothing is written, in one write or by a truncation.
  EXPECT_EQ(w->WriteAt(98, "abc", 3).error, EFBIG);
  EXPECT_EQ(w->Truncate(101).error, EFBIG);
  EXPECT_EQ(fs.Contents("f").size(), 7u);
  ASSERT_TRUE(w->Truncate(2).ok());
  os::FileInfo info;
  ASSERT_TRUE(fs.Stat("f", info).ok());
  EXPECT_TRUE(info.exists);
  EXPECT_EQ(info.size, 2);
  auto r = OpenOk(fs, "f", os::kAccessRead);
  EXPECT_EQ(r->WriteAt(0, "x", 1).error, EBADF);
  EXPECT_EQ(r->Truncate(0).error, EBADF);
  ASSERT_TRUE(w->Close().ok());
  EXPECT_EQ(w->WriteAt(0, "x", 1).error, EBADF);
  ASSERT_TRUE(fs.Stat("missing", info).ok());
  EXPECT_FALSE(info.exists);
  std::unique_ptr<os::FileHandle> none;
  EXPECT_EQ(fs.Open("missing", os::OpenOptions{}, none).error, ENOENT);
  os::OpenOptions create;
  create.create = true;
  EXPECT_EQ(fs.Open("f", create, none).error, EEXIST);
  ASSERT_TRUE(fs.SetReadOnly("f", true).ok());
  os::OpenOptions write;
  write.access = rw;
  EXPECT_EQ(fs.Open("f", write, none).error, EACCES);
}

TEST(MemoryFile, LocksAndShareModesRefuseAsTwoProcessesDo) {
  os::MemoryFileSystem fs;
  ASSERT_TRUE(fs.SetContents("f", std::string(100, 'x')));
  const unsigned rw = os::kAccessRead | os::kAccessWrite;
  auto a = OpenOk(fs, "f", rw);
  auto b = OpenOk(fs, "f", rw);
  ASSERT_TRUE(a->Lock(10, 5).ok());
  EXPECT_EQ(a->Lock(12, 1).error, os::kLockHeld);  // the same handle
  EXPECT_EQ(b->Lock(14, 3).error, os::kLockHeld);  // another open
  EXPECT_TRUE(b->Lock(15, 3).ok());
  EXPECT_TRUE(a->HoldsLock(14, 1));
  EXPECT_FALSE(b->HoldsLock(14, 1));
  EXPECT_EQ(b->Unlock(10, 5).error, os::kNotLocked);
  EXPECT_EQ(a->Unlock(10, 4).error, os::kNotLocked);
  EXPECT_EQ(a->Lock(-1, 2).error, ERANGE);
  ASSERT_TRUE(a->Close().ok());  // its locks go with it
  EXPECT_TRUE(b->Lock(10, 5).ok());

  // Share modes: an open that denies writing refuses a writer, and a
  // writer refuses an open that denies writing.
  std::unique_ptr<os::FileHandle> h;
  os::OpenOptions denyWrite;
  denyWrite.access = os::kAccessRead;
  denyWrite.share = os::kShareRead;
  EXPECT_EQ(fs.Open("f", denyWrite, h).error, os::kShareViolation);  // b writes
  ASSERT_TRUE(b->Close().ok());
  auto reader = OpenOk(fs, "f", os::kAccessRead, os::kShareRead);
  os::OpenOptions writer;
  writer.access = rw;
  EXPECT_EQ(fs.Open("f", writer, h).error, os::kShareViolation);
  ASSERT_TRUE(reader->Close().ok());
  EXPECT_TRUE(fs.Open("f", writer, h).ok());
}

TEST(MemoryFile, ADatabaseIsMadeChangedCheckedAndReadBackInMemory) {
  os::MemoryFileSystem fs(1 << 20);
  const std::string path = "mem.zud";
  TABSDiskDatabase(fs).CreateDatabase(path, TABSPassword{}, 8);
  {
    TABSDiskDatabaseData data("MEM", fs);
    TABSSessionInfo s;
    s.multiUser = true;
    data.Open(path, TABSPassword{}, true, false);
    data.Connect(s);
    TABSFieldDefs fields;
    TABSFieldDef* id = fields.AddNew();
    id->SetName("id");
    id->SetDataType(aftInteger, 0);
    TABSFieldDef* blob = fields.AddNew();
    blob->SetName("datos");
    blob->SetDataType(aftBlob, 0);
    TABSDiskTableData& t = data.CreateTable(s, "t", fields, TABSIndexDefs());
    std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
    for (int32_t i = 0; i < 10; ++i) {
      t.InitRecordForInsert(r.data());
      TABSVariant v;
      v.SetAsInteger(i);
      WriteFieldValue(t.FieldDefs(), r.data(), 0, v);
      const std::string value(5000, static_cast<char>('a' + i));
      t.WriteBlobBuffer(s, r.data(), 1, value.data(), static_cast<int64_t>(value.size()));
      t.InsertRecord(s, r.data());
    }
    // A value the bounded file cannot take: growing the file fails as on a
    // full disk, and the file stays within the bound.
    t.InitRecordForInsert(r.data());
    const std::string huge(2 << 20, 'h');
    ExpectEngineError(
        [&] {
          t.WriteBlobBuffer(s, r.data(), 1, huge.data(), static_cast<int64_t>(huge.size()));
          t.InsertRecord(s, r.data());
        },
        30370, "File too large");
    t.FreeFieldBlob(s, r.data(), 1);
    EXPECT_EQ(t.GetRecordCount(s), 10);
    data.Disconnect(s);
  }
  EXPECT_LE(fs.Contents(path).size(), size_t{1} << 20);
  EXPECT_EQ(fs.Contents(path).compare(0, 16, "ZORVANTEKSTORAGE"), 0);
  TABSCheckOptions options;
  options.fileSystem = &fs;
  EXPECT_EQ(CheckDatabase(path, TABSPassword{}, options).Lines(), std::vector<std::string>{"ok"});
  // The real file system never saw the name.
  os::FileInfo info;
  ASSERT_TRUE(os::FileSystem::Default().Stat(path, info).ok());
  EXPECT_FALSE(info.exists);
}

}  // namespace

namespace {

std::string ReadWhole(os::FileHandle& h) {
  std::string bytes(64, '\0');
  size_t done = 0;
  EXPECT_TRUE(h.ReadAt(0, bytes.data(), bytes.size(), done).ok());
  bytes.resize(done);
  return bytes;
}

void Make(os::FileSystem& fs, const std::string& path, const std::string& bytes) {
  auto h = OpenOk(fs, path, os::kAccessRead | os::kAccessWrite, os::kShareRead | os::kShareWrite, true);
  ASSERT_TRUE(h->WriteAt(0, bytes.data(), bytes.size()).ok());
}

// Rename as a repair uses it, on the real file system and in memory alike:
// the file takes the new name in one step, replacing a file of that name,
// whose open handles keep their bytes; a missing file is ENOENT; a fault
// injected on a rename changes nothing.
TEST(FileSystemRename, ReplacesTheTargetKeepsOpenHandlesAndRefusesAMissingFile) {
  ScratchDir dir;
  os::MemoryFileSystem memory;
  struct Case {
    const char* name;
    os::FileSystem& fs;
    std::string a, b;
  } cases[] = {{"posix", os::FileSystem::Default(), dir.File("a"), dir.File("b")}, {"memory", memory, "a", "b"}};
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make(c.fs, c.a, "new bytes");
    Make(c.fs, c.b, "old");
    auto oldHandle = OpenOk(c.fs, c.b, os::kAccessRead);
    ASSERT_TRUE(c.fs.Rename(c.a, c.b).ok());
    os::FileInfo info;
    c.fs.Stat(c.a, info);
    EXPECT_FALSE(info.exists);
    auto reopened = OpenOk(c.fs, c.b, os::kAccessRead);
    EXPECT_EQ(ReadWhole(*reopened), "new bytes");
    EXPECT_EQ(ReadWhole(*oldHandle), "old");
    EXPECT_EQ(c.fs.Rename(c.a, c.b).error, ENOENT);

    os::FaultFileSystem faulty(c.fs);
    faulty.FailRename(1);
    EXPECT_EQ(faulty.Rename(c.b, c.a).error, EIO);
    c.fs.Stat(c.b, info);
    EXPECT_TRUE(info.exists);
    EXPECT_TRUE(faulty.Rename(c.b, c.a).ok());
  }
}

}  // namespace
