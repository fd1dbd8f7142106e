// Counters read from the file standing at the ends of their int32 range:
// stepping them on is never a signed overflow (the test build halts on
// one), a count the format cannot hold is refused instead of cut, and an
// object identifier never wraps into identifiers already handed out.
#include <climits>
#include <functional>

#include "DiskTestUtil.h"
#include "core/ZUDRecordLayout.h"
#include "core/ZUDVariant.h"
#include "disk/DiskDatabaseData.h"

using namespace tiv::disk;

namespace {

constexpr const char* kTable = "cuentas";
constexpr int32_t kSys = TABSPageManager::kSystemSession;

int32_t GetLe32(const Bytes& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | b.at(at + static_cast<size_t>(i));
  return static_cast<int32_t>(v);
}
void PutLe32(Bytes& b, size_t at, int32_t v) {
  for (int i = 0; i < 4; ++i)
    b.at(at + static_cast<size_t>(i)) = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}

// A database with table `cuentas` (one int32 field `n`, so its most-updated
// file holds: count 1, one int64, ModificationCounter, RecordCount) and one
// record in it.
struct Db {
  ScratchDir dir;
  std::string path = dir.File("contadores.zud");
  std::unique_ptr<TABSDiskDatabaseData> data;
  TABSSessionInfo session;
  size_t counterAt = 0, countAt = 0;  // file offsets in the most-updated file

  Db() {
    TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, 8);
    Open();
    TABSFieldDefs fields;
    TABSFieldDef* f = fields.AddNew();
    f->SetName("n");
    f->SetDataType(aftInteger);
    data->CreateTable(session, kTable, fields, TABSIndexDefs());
    Insert(1);
    const int32_t page = data->Tables(session).at(0).MostUpdatedPageNo;
    const size_t contents =
        static_cast<size_t>(kNewPageAreaOffset) + static_cast<size_t>(page) * 4096 + kPageHeaderSize + 10;
    counterAt = contents + 4 + 8;
    countAt = counterAt + 4;
    Close();
  }
  ~Db() { Close(); }
  void Open() {
    data = std::make_unique<TABSDiskDatabaseData>("CUENTAS");
    data->Open(path, TABSPassword{}, false, false);
    data->Connect(session);
  }
  void Close() {
    if (!data) return;
    data->Disconnect(session);
    data.reset();
  }
  TABSDiskTableData& Table() { return data->OpenTable(session, kTable); }
  TABSRecordID Insert(int32_t n) {
    TABSDiskTableData& t = Table();
    std::vector<char> record(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
    t.InitRecordForInsert(record.data());
    TABSVariant v;
    v.SetAsInteger(n);
    WriteFieldValue(t.FieldDefs(), record.data(), 0, v);
    return t.InsertRecord(session, record.data());
  }
  TABSRecordID FirstRecord() {
    TABSDiskTableData& t = Table();
    TABSTableCursor cursor;
    t.PrepareCursor(cursor);
    EXPECT_EQ(t.FetchRecord(session, cursor, grmNext), grrFound);
    return cursor.recordID;
  }
  // The file with `value` at `at`, written while the database is closed.
  void Poke(size_t at, int32_t value) {
    Close();
    Bytes file = ReadAll(path);
    PutLe32(file, at, value);
    RestorePlainPageCrcs(file);
    WriteAll(path, file);
    Open();
  }
};

// The modification counter comes from the most-updated file; every change
// steps it on by one, from INT32_MAX to INT32_MIN (it is only ever compared
// for equality), and the table opens again afterwards.
TEST(CounterLimits, AModificationCounterAtInt32MaxStepsOnByWrapping) {
  struct Case {
    const char* name;
    std::function<void(Db&)> change;
    int64_t records;
  } cases[] = {
      {"insert", [](Db& db) { db.Insert(2); }, 2},
      {"update",
       [](Db& db) {
         TABSDiskTableData& t = db.Table();
         std::vector<char> record(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
         t.InitRecordForInsert(record.data());
         TABSVariant v;
         v.SetAsInteger(7);
         WriteFieldValue(t.FieldDefs(), record.data(), 0, v);
         t.UpdateRecord(db.session, db.FirstRecord(), record.data());
       },
       1},
      {"delete", [](Db& db) { EXPECT_TRUE(db.Table().DeleteRecord(db.session, db.FirstRecord())); }, 0},
      {"empty", [](Db& db) { db.data->EmptyTable(db.session, kTable); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Db db;
    db.Poke(db.counterAt, INT32_MAX);
    EXPECT_EQ(db.Table().RecordManager().ChangeCounter(), INT32_MAX);
    c.change(db);
    EXPECT_EQ(db.Table().RecordManager().ChangeCounter(), INT32_MIN);
    db.Close();
    EXPECT_EQ(GetLe32(ReadAll(db.path), db.counterAt), INT32_MIN);
    db.Open();
    EXPECT_EQ(db.Table().GetRecordCount(db.session), c.records);
  }
}

// RecordCount is an int32 in the file, a 64-bit count in memory: the insert
// that would take it past INT32_MAX is refused, not written cut (which made
// the count negative and the table unopenable).
TEST(CounterLimits, TheInsertPastTheLargestStorableRecordCountIsRefused) {
  Db db;
  db.Poke(db.countAt, INT32_MAX);
  EXPECT_EQ(db.Table().GetRecordCount(db.session), INT32_MAX);
  ExpectEngineError([&] { db.Insert(2); }, 10126, "Invalid record count = 2147483647. Limit is 2147483647");
  // Nothing of the refused insert stays, and the next change works.
  EXPECT_EQ(db.Table().GetRecordCount(db.session), INT32_MAX);
  EXPECT_TRUE(db.Table().DeleteRecord(db.session, db.FirstRecord()));
  db.Close();
  EXPECT_EQ(GetLe32(ReadAll(db.path), db.countAt), INT32_MAX - 1);
  db.Open();
  EXPECT_EQ(db.Table().GetRecordCount(db.session), INT32_MAX - 1);
  TABSDiskTableData& t = db.Table();
  TABSTableCursor cursor;
  t.PrepareCursor(cursor);
  EXPECT_EQ(t.FetchRecord(db.session, cursor, grmNext), grrEOF);
}

// The NextObjectID slot: identifiers are never reused, so the counter at
// INT32_MAX is used up (and a negative one is damage) rather than a wrap to
// negative identifiers; the commit counter, compared for equality only,
// wraps.
TEST(CounterLimits, TheObjectIdentifierCounterNeverWrapsAndTheCommitCounterDoes) {
  ScratchDir dir;
  const std::string path = dir.File("ids.zud");
  struct Case {
    const char* name;
    int32_t stored;
    int32_t code;  // 0: answers stored + 1
  } cases[] = {
      {"below the limit", INT32_MAX - 1, 0},
      {"at the limit", INT32_MAX, 10126},
      {"negative", -5, 20237},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, 8);
    Bytes file = ReadAll(path);
    PutLe32(file, static_cast<size_t>(kNewNextObjectIdOffset), c.stored);
    WriteAll(path, file);
    for (bool readOnly : {false, true}) {
      TABSDiskPageManager pm;
      OpenDb(pm, path, true, false, readOnly);
      if (c.code == 0 && !readOnly) {
        EXPECT_EQ(pm.GetNextObjectID(), INT32_MAX);
        EXPECT_EQ(pm.PeekNextObjectID(), INT32_MAX);
        continue;
      }
      if (c.code == 0) continue;  // read-only: stored + 1 + a random part, which may pass the limit
      ExpectEngineError([&] { pm.GetNextObjectID(); }, c.code);
      EXPECT_EQ(pm.PeekNextObjectID(), c.stored);
    }
    // A table that cannot have an identifier is not made; the file keeps
    // its tables as they were.
    if (c.code != 0) {
      TABSDiskDatabaseData data("IDS");
      TABSSessionInfo session;
      data.Open(path, TABSPassword{}, false, false);
      data.Connect(session);
      TABSFieldDefs fields;
      TABSFieldDef* f = fields.AddNew();
      f->SetName("n");
      f->SetDataType(aftInteger);
      ExpectEngineError([&] { data.CreateTable(session, "t", fields, TABSIndexDefs()); }, c.code);
      EXPECT_TRUE(data.Tables(session).empty());
      data.Disconnect(session);
    }
  }
  // The commit counter at INT32_MAX: the next commit stores INT32_MIN.
  TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, 8);
  Bytes file = ReadAll(path);
  PutLe32(file, kHdrCommitCounter, INT32_MAX);
  WriteAll(path, file);
  {
    TABSDiskPageManager pm;
    OpenDb(pm, path);
    TABSPage* page = pm.AddPage(kSys, ptTableMetaData);
    pm.PutPage(page);
    pm.CommitSession(kSys, false);
    EXPECT_EQ(pm.Header().CommitCounter, INT32_MIN);
  }
  EXPECT_EQ(GetLe32(ReadAll(path), kHdrCommitCounter), INT32_MIN);
}

}  // namespace
