// Rollback journals that must not be played: torn (never sealed), stale (its
// commit ended), damaged (a record fails its CRC), of another page size, or
// met by an open that cannot write. None is ever played over a good file;
// a journal that should be played but cannot be is refused with the file
// left as it is.
#include <filesystem>
#include <functional>

#include "DiskTestUtil.h"
#include "SessionTestDb.h"
#include "disk/RollbackJournal.h"
#include "os/FaultFile.h"
#include "support/ChildProcess.h"

namespace {

constexpr int kForever = 1 << 30;
// A commit's writes before its first page: the journal's records, its
// header, then the State 1 header.
constexpr int kFirstPageWrite = 4;

struct Killed {
  Bytes file;     // the database as the killed commit left it (State 1)
  Bytes journal;  // its hot journal
  Bytes before;   // the database before that commit
};

// A database of 50 rows, then a transaction updating all of them and
// inserting 100 more, killed at its first page write.
Killed KillACommit(const std::string& path) {
  CreateSharedTableDb(path, 4);
  {
    SharedTableConnection c(path);
    c.data.StartTransaction(c.session);
    for (int32_t id = 1; id <= 50; ++id) c.Insert(id, 1);
    c.data.Commit(c.session, false);
  }
  Killed k;
  k.before = ReadAll(path);
  {
    tiv::os::FaultFileSystem fs;
    SharedTableConnection c(path, true, fs);
    c.data.StartTransaction(c.session);
    for (int32_t id = 51; id <= 150; ++id) c.Insert(id, 2);
    fs.FailWrite(kFirstPageWrite, kForever);
    EXPECT_THROW(c.data.Commit(c.session, false), EABSException);
  }
  k.file = ReadAll(path);
  k.journal = ReadAll(path + "-journal");
  EXPECT_EQ(k.file[tiv::disk::kHdrState], tiv::disk::kStateCommitting);
  EXPECT_GT(k.journal.size(), static_cast<size_t>(kJournalHeaderSize));
  return k;
}

int64_t Rows(const std::string& path) {
  SharedTableConnection c(path);
  return static_cast<int64_t>(c.Rows().size());
}

TEST(JournalDamage, AHotJournalIsPlayedBackAndOneThatIsNotIsNeverPlayedOverTheFile) {
  ScratchDir dir;
  const std::string path = dir.File("j.zud");
  const std::string journal = path + "-journal";
  const Killed killed = KillACommit(path);

  // The journal as the kill left it: played back, 50 rows, no journal.
  EXPECT_EQ(Rows(path), 50);
  EXPECT_FALSE(std::filesystem::exists(journal));
  EXPECT_TRUE(CheckDatabase(path, TABSPassword{}).Ok());
  const Bytes recovered = ReadAll(path);

  // A journal whose header never reached the file (cut inside it, or zero)
  // beside a file at State 2: nothing was overwritten under it. It goes,
  // unread, and the file is what it was.
  struct Torn {
    const char* what;
    std::function<void(Bytes&)> damage;
  };
  const Torn torn[] = {
      {"cut inside its header", [](Bytes& j) { j.resize(100); }},
      {"header zeroed", [](Bytes& j) { std::fill(j.begin(), j.begin() + kJournalHeaderSize, 0); }},
      {"header CRC wrong", [](Bytes& j) { j[20] ^= 0x01; }},
  };
  for (const Torn& t : torn) {
    SCOPED_TRACE(t.what);
    Bytes j = killed.journal;
    t.damage(j);
    WriteAll(path, recovered);
    WriteAll(journal, j);
    EXPECT_EQ(Rows(path), 50);
    EXPECT_FALSE(std::filesystem::exists(journal));
    EXPECT_TRUE(CheckDatabase(path, TABSPassword{}).Ok());
  }

  // A stale journal: whole, but its commit ended (the counter moved on).
  // Played over the file it would undo commits made since.
  {
    WriteAll(path, recovered);
    {
      SharedTableConnection c(path);
      c.Insert(500, 5);
    }
    WriteAll(journal, killed.journal);
    EXPECT_EQ(Rows(path), 51);
    EXPECT_FALSE(std::filesystem::exists(journal));
    EXPECT_TRUE(CheckDatabase(path, TABSPassword{}).Ok());
  }
}

// What a process killed while it starts its journal leaves beside the file:
// the file just created, nothing in it yet, or part of the journal's first
// write. Neither was sealed, so nothing of the database was overwritten
// under it; the next open removes it unread and the rows are those of
// before.
TEST(JournalDamage, AJournalKilledBeforeItsSealIsRemovedByTheNextOpen) {
  const struct {
    const char* name;
    std::string contents;
  } leftovers[] = {{"created, never written", ""}, {"part of its records", std::string(700, '\x5a')}};
  for (const auto& leftover : leftovers) {
    SCOPED_TRACE(leftover.name);
    ScratchDir dir;
    const std::string path = dir.File("journal.zud");
    CreateSharedTableDb(path, 4);
    {
      SharedTableConnection c(path);
      for (int32_t id = 1; id <= 5; ++id) c.Insert(id, id);
    }
    WriteAll(path + "-journal", Bytes(leftover.contents.begin(), leftover.contents.end()));
    ASSERT_TRUE(std::filesystem::exists(path + "-journal"));
    EXPECT_EQ(Rows(path), 5);
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
    EXPECT_TRUE(CheckDatabase(path, TABSPassword{}).Ok());
  }
}

TEST(JournalDamage, AHotJournalThatCannotBePlayedIsRefusedAndTheFileLeftAsItIs) {
  ScratchDir dir;
  const std::string path = dir.File("j.zud");
  const std::string journal = path + "-journal";
  const Killed killed = KillACommit(path);
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
    bool readOnly;
    int32_t code;
  };
  const Case cases[] = {
      // A byte of the first record's image: the header is whole, so the
      // record was written before it; a mismatch is damage.
      {"a record fails its CRC", [](Bytes& j) { j[kJournalHeaderSize + 100] ^= 0x40; }, false, 20300},
      {"the records stop short of the count", [](Bytes& j) { j.resize(static_cast<size_t>(kJournalHeaderSize) + 10); },
       false, 20300},
      {"an open that cannot write", [](Bytes&) {}, true, 20230},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes j = killed.journal;
    c.damage(j);
    WriteAll(path, killed.file);
    WriteAll(journal, j);
    ExpectEngineError(
        [&] {
          TABSDiskDatabaseData data("REFUSE");
          data.Open(path, TABSPassword{}, !c.readOnly, false, c.readOnly);
        },
        c.code);
    EXPECT_EQ(ReadAll(path), killed.file) << "the file was changed";
    EXPECT_EQ(ReadAll(journal), j) << "the journal was changed";
  }
  // With the journal as it was, the next open plays it back.
  WriteAll(journal, killed.journal);
  EXPECT_EQ(Rows(path), 50);
  EXPECT_TRUE(CheckDatabase(path, TABSPassword{}).Ok());
}

// Two processes meet the hot journal at once: each opens and connects while
// the other does, so one plays the journal back under the header lock and
// the other must then find nothing to play (played a second time, after
// the first had committed, it would undo those commits). Then both insert
// 20 rows, in transactions of 5.
TEST(JournalDamage, TwoProcessesOpeningOverAHotJournalPlayItOnceAndBothCommit) {
  ScratchDir dir;
  const std::string path = dir.File("j.zud");
  KillACommit(path);
  ChildProcess first({"insert", path, "1000", "20", "7", "5"}, TABLE_HELPER_PATH);
  ChildProcess second({"insert", path, "2000", "20", "8", "5"}, TABLE_HELPER_PATH);
  ASSERT_EQ(first.ReadLine(), "ready");
  ASSERT_EQ(second.ReadLine(), "ready");
  first.WriteLine("go");
  second.WriteLine("go");
  EXPECT_EQ(first.ReadLine().rfind("done ", 0), 0u);
  EXPECT_EQ(second.ReadLine().rfind("done ", 0), 0u);
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);
  EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
  EXPECT_EQ(Rows(path), 90);
  const TABSCheckReport report = CheckDatabase(path, TABSPassword{});
  EXPECT_TRUE(report.Ok()) << (report.problems.empty() ? "" : report.problems.front());
}

}  // namespace
