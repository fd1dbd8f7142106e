// Database files whose sizes lie, as the file-reader fuzz target
// (fuzz/FuzzDatabaseFile.cpp) made them: a header page count far past the
// file, an internal file header claiming almost 2 GB of contents. Reading
// them is an engine error or a line of the check; nothing is allocated by
// what the file claims. In this test program any single allocation past
// kAllocationBound fails with std::bad_alloc, as -malloc_limit_mb makes it
// a fault of the fuzz target, so such a reader fails its test.
#include <algorithm>
#include <cstdlib>
#include <new>

#include "DiskTestUtil.h"
#include "core/ZUDVariant.h"
#include "disk/DiskDatabaseData.h"

namespace {
constexpr size_t kAllocationBound = size_t{256} << 20;

void* Allocate(size_t n) {
  if (n > kAllocationBound) throw std::bad_alloc();
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(size_t n) { return Allocate(n); }
void* operator new[](size_t n) { return Allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

namespace td = tiv::disk;

constexpr int kPageSize = 512;

// A small database like the fuzz target's seed: page size 512, table
// "personas" (id with a unique index, nombre, nota MEMO), a few rows.
void Build(const std::string& path) {
  TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, 4, 4, kPageSize);
  TABSDiskDatabaseData data("HOSTILE");
  TABSSessionInfo s;
  data.Open(path, TABSPassword{}, false, false);
  data.Connect(s);
  TABSFieldDefs fields;
  const struct {
    const char* name;
    TABSDataType type;
    int32_t size;
  } columns[] = {{"id", aftInteger, 0}, {"nombre", aftString, 20}, {"nota", aftMemo, 0}};
  for (const auto& c : columns) {
    TABSFieldDef* f = fields.AddNew();
    f->SetName(c.name);
    f->SetDataType(c.type, c.size);
  }
  TABSIndexDefs indexes;
  TABSIndexDef* pk = indexes.AddNew();
  pk->SetName("pk");
  pk->unique = true;
  pk->FillColumns({"id"}, {"ASC"}, {"CASE"});
  TABSDiskTableData& t = data.CreateTable(s, "personas", fields, indexes);
  std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
  for (int32_t i = 0; i < 6; ++i) {
    t.InitRecordForInsert(r.data());
    TABSVariant id, nombre;
    id.SetAsInteger(i);
    WriteFieldValue(t.FieldDefs(), r.data(), 0, id);
    nombre.SetAsString("nombre " + std::to_string(i));
    WriteFieldValue(t.FieldDefs(), r.data(), 1, nombre);
    const std::string memo = "nota " + std::to_string(i);
    t.WriteBlobBuffer(s, r.data(), 2, memo.data(), static_cast<int64_t>(memo.size()));
    t.InsertRecord(s, r.data());
  }
  data.Disconnect(s);
}

int64_t PageAt(int32_t pageNo) { return td::kNewPageAreaOffset + int64_t{pageNo} * kPageSize; }

struct Pages {
  int32_t tableList = -1, metadata = -1;
};

Pages Find(const std::string& path) {
  TABSDiskDatabaseData data("HOSTILE");
  TABSSessionInfo s;
  data.Open(path, TABSPassword{}, false, false);
  data.Connect(s);
  Pages p;
  p.tableList = data.Disk().TableList().StartPageNo();
  p.metadata = data.OpenTable(s, "personas").MetadataFile().StartPageNo();
  data.Disconnect(s);
  return p;
}

// Internal file header, at data offset 0 of a chain's first page: uint8
// header size, int32 StoredSize at 1, int32 DataSize at 5.
void SetSizes(Bytes& file, int32_t pageNo, int32_t stored, int32_t data) {
  uint8_t* header = file.data() + PageAt(pageNo) + td::kPageHeaderSize;
  if (stored >= 0) td::PutI32(header + 1, stored);
  td::PutI32(header + 5, data);
  StorePlainPageCrc(file, PageAt(pageNo), kPageSize);  // written so, not damaged later
}

void SetTotalPageCount(Bytes& file, int32_t count) { td::PutI32(file.data() + td::kHdrTotalPageCount, count); }

TEST(HostileFile, AHeaderPageCountFarPastTheFileIsALineOfTheCheck) {
  ScratchDir dir;
  const std::string db = dir.File("total.zud");
  Build(db);
  Bytes file = ReadAll(db);
  SetTotalPageCount(file, 0x7FFFFFFF);
  WriteAll(db, file);
  const TABSCheckReport report = CheckDatabase(db, TABSPassword{});
  EXPECT_FALSE(report.Ok());
  ASSERT_FALSE(report.problems.empty());
  EXPECT_EQ(report.problems.at(0).rfind("header: the page area of 2147483647 pages ends at byte ", 0), 0u)
      << report.problems.at(0);
}

TEST(HostileFile, AnInternalFileClaimingAlmostTwoGigabytesIsAnEngineError) {
  struct Case {
    const char* what;
    std::function<void(Bytes&, const Pages&)> damage;
    std::function<void(const std::string&)> read;
    int32_t code;
  };
  const Case cases[] = {
      {"compressed metadata whose contents claim 2 GB",
       [](Bytes& f, const Pages& p) { SetSizes(f, p.metadata, -1, 0x7FFFFF00); },
       [](const std::string& db) {
         TABSDiskDatabaseData data("HOSTILE");
         TABSSessionInfo s;
         data.Open(db, TABSPassword{}, false, false);
         data.Connect(s);
         try {
           data.OpenTable(s, "personas");
         } catch (...) {
           data.Disconnect(s);
           throw;
         }
         data.Disconnect(s);
       },
       20189},
      // The header's count alone is refused at open, before the list is read.
      {"a table list of 2 GB (272-byte entries) in a file whose header counts 2^31 - 1 pages",
       [](Bytes& f, const Pages& p) {
         SetSizes(f, p.tableList, 272 * 7895160, 272 * 7895160);
         SetTotalPageCount(f, 0x7FFFFFFF);
       },
       [](const std::string& db) { TABSDiskDatabaseData("HOSTILE").Open(db, TABSPassword{}, false, false); }, 20237},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string db = dir.File("sizes.zud");
    Build(db);
    const Pages pages = Find(db);
    Bytes file = ReadAll(db);
    c.damage(file, pages);
    WriteAll(db, file);
    ExpectEngineError([&] { c.read(db); }, c.code);
  }
}

TEST(HostileFile, AnIndexEntryAheadOfItsRecordsKeyIsWalkedOnceByTheCheck) {
  // Record 4's id made 1 by a write that bypassed the index (its page
  // written whole, the CRC right), and the most-updated file counting 1000
  // records: stepping from each record's key to the next entry runs in a
  // circle 2, 3, 4 (key 1 again), 2, ... for as long as the count allows.
  // The check walks the tree's own order: six entries.
  ScratchDir dir;
  const std::string db = dir.File("circle.zud");
  Build(db);
  int32_t mostUpdated = -1;
  {
    TABSDiskDatabaseData data("HOSTILE");
    TABSSessionInfo s;
    data.Open(db, TABSPassword{}, false, false);
    data.Connect(s);
    TABSDiskTableData& t = data.OpenTable(s, "personas");
    mostUpdated = t.MostUpdatedFile().StartPageNo();
    std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
    TABSRecordID fourth;
    t.IndexManager().ForEachRecord(s.sessionID, [&](const char* record, const TABSRecordID& id) {
      TABSVariant v;
      ReadFieldValue(t.FieldDefs(), record, 0, v);
      if (v.AsInteger() == 4) {
        fourth = id;
        std::copy(record, record + r.size(), r.begin());
      }
    });
    TABSVariant one;
    one.SetAsInteger(1);
    WriteFieldValue(t.FieldDefs(), r.data(), 0, one);
    ASSERT_TRUE(t.DiskRecords().Update(s.sessionID, r.data(), fourth));
    data.Pages().CommitSession(s.sessionID, true);
    data.Disconnect(s);
  }
  // Most-updated contents from data offset 10 (StoredSize at data offset
  // 1), the RecordCount in their last four bytes.
  Bytes file = ReadAll(db);
  uint8_t* data = file.data() + PageAt(mostUpdated) + td::kPageHeaderSize;
  td::PutI32(data + 10 + td::GetI32(data + 1) - 4, 1000);
  StorePlainPageCrc(file, PageAt(mostUpdated), kPageSize);
  WriteAll(db, file);
  const TABSCheckReport report = CheckDatabase(db, TABSPassword{});
  const std::vector<std::string> lines = report.Lines();
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), "problem: table 'personas': index 'pk': 6 entries, the table counts 1000"),
      lines.end())
      << ::testing::PrintToString(lines);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "problem: table 'personas': index 'pk': entries out of order"),
            lines.end());
}

}  // namespace
