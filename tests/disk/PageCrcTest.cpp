// Damaged pages of a plain database: a flipped byte in a record, a memo, an
// index page or a free-space map page is an engine error when it is read
// and a problem line of the check, never a changed value; a lost index-page
// write (an older image of the page put back) leaves index entries the
// check reports; pages whose DataCRC is 0 (files of other writers) still
// open; a page whose data area has a CRC-32 of 0 still has its damage found.
#include <algorithm>
#include <functional>

#include "DiskTestUtil.h"
#include "core/ABSBTreeTableIndex.h"
#include "core/ZUDRecordLayout.h"
#include "core/ZUDVariant.h"
#include "disk/DiskBytes.h"
#include "disk/DiskCrc.h"
#include "disk/DiskDatabaseData.h"
#include "disk/FreeSpaceMap.h"

namespace {

namespace td = tiv::disk;

constexpr int kRows = 20;
constexpr int kPageSize = 4096;

std::string TwoDigits(int i) { return (i < 10 ? "0" : "") + std::to_string(i); }
std::string Name(int i) { return "persona-" + TwoDigits(i); }
std::string Memo(int i) { return "memo de la persona " + TwoDigits(i); }

// What the engine says of a plain page whose DataCRC does not hold.
std::string CrcError(int32_t pageNo) {
  return "Error getting " + std::to_string(pageNo) +
         "-th table file page. Probably database is corrupted and needs repair. - Native error: 20300";
}

struct Checked {
  bool ok = false;
  std::vector<std::string> lines;
  bool Has(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
  bool HasPart(const std::string& part) const {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(part) != std::string::npos; });
  }
};

Checked Check(const std::string& path) {
  const TABSCheckReport report = CheckDatabase(path, TABSPassword{});
  return {report.Ok(), report.Lines()};
}

struct Open {
  TABSDiskDatabaseData data{"CRC"};
  TABSSessionInfo s;
  explicit Open(const std::string& path) {
    data.Open(path, TABSPassword{}, false, false);
    data.Connect(s);
  }
  ~Open() { data.Disconnect(s); }
  TABSDiskTableData& Table() { return data.OpenTable(s, "personas"); }
  int64_t PageOffset(int32_t pageNo) { return data.Pages().PageOffset(pageNo); }
};

void SetInteger(TABSDiskTableData& t, char* record, int n, int32_t value) {
  TABSVariant v;
  v.SetAsInteger(value);
  WriteFieldValue(t.FieldDefs(), record, n, v);
}

void InsertRow(Open& db, int i) {
  TABSDiskTableData& t = db.Table();
  std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
  t.InitRecordForInsert(r.data());
  SetInteger(t, r.data(), 0, i);
  TABSVariant name;
  name.SetAsString(Name(i));
  WriteFieldValue(t.FieldDefs(), r.data(), 1, name);
  const std::string memo = Memo(i);
  t.WriteBlobBuffer(db.s, r.data(), 2, memo.data(), static_cast<int64_t>(memo.size()));
  t.InsertRecord(db.s, r.data());
}

// Table "personas": id (unique index pk), nombre (index by_nombre), nota
// (memo); rows 1..kRows, all on one record page, every index a single leaf.
void Build(const std::string& path) {
  TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, 8);
  Open db(path);
  TABSFieldDefs fields;
  const struct {
    const char* name;
    TABSDataType type;
    int32_t size;
  } columns[] = {{"id", aftInteger, 0}, {"nombre", aftString, 30}, {"nota", aftMemo, 0}};
  for (const auto& c : columns) {
    TABSFieldDef* f = fields.AddNew();
    f->SetName(c.name);
    f->SetDataType(c.type, c.size);
  }
  TABSIndexDefs indexes;
  const struct {
    const char* name;
    const char* column;
    bool unique;
  } defs[] = {{"pk", "id", true}, {"by_nombre", "nombre", false}};
  for (const auto& d : defs) {
    TABSIndexDef* def = indexes.AddNew();
    def->SetName(d.name);
    def->unique = d.unique;
    def->FillColumns({d.column}, {"ASC"}, {"CASE"});
  }
  db.data.CreateTable(db.s, "personas", fields, indexes);
  for (int i = 1; i <= kRows; ++i) InsertRow(db, i);
}

struct Row {
  int32_t id;
  std::string nombre, nota;
  bool operator==(const Row&) const = default;
};

// Every row in physical order, memos read.
std::vector<Row> ReadRows(Open& db) {
  TABSDiskTableData& t = db.Table();
  std::vector<Row> rows;
  t.IndexManager().ForEachRecord(db.s.sessionID, [&](const char* record, const TABSRecordID&) {
    TABSVariant id, nombre;
    ReadFieldValue(t.FieldDefs(), record, 0, id);
    ReadFieldValue(t.FieldDefs(), record, 1, nombre);
    rows.push_back({id.AsInteger(), nombre.AsString(), t.ReadBlobBuffer(db.s, record, 2)});
  });
  return rows;
}

std::vector<Row> ExpectedRows() {
  std::vector<Row> rows;
  for (int i = 1; i <= kRows; ++i) rows.push_back({i, Name(i), Memo(i)});
  return rows;
}

// Every record through the index `name`, in its order.
void ReadThroughIndex(Open& db, const std::string& name) {
  TABSDiskTableData& t = db.Table();
  TABSIndex& index = t.IndexManager().IndexByID(t.IndexManager().IndexDefs().IndexByName(name)->ObjectID());
  std::vector<char> record(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
  TABSGetRecordRequest q;
  q.mode = grmNext;
  q.indexID = t.IndexManager().IndexDefs().IndexByName(name)->ObjectID();
  q.beforeFirst = true;
  q.destination = record.data();
  for (int n = 0; n <= kRows; ++n) {
    index.GetRecord(db.s.sessionID, q, nullptr);
    if (q.result != grrFound) break;
    q.beforeFirst = false;
  }
}

int32_t IndexRoot(Open& db, const std::string& name) {
  return db.Table().IndexManager().IndexDefs().IndexByName(name)->rootPageNo;
}

int32_t RecordPage(Open& db) {
  const auto pages = db.Table().DiskRecords().IndexedPages(db.s.sessionID);
  EXPECT_EQ(pages.size(), 1u);
  return pages.at(0).first;
}

// The page holding row i's memo.
int32_t MemoPage(Open& db, int i) {
  TABSDiskTableData& t = db.Table();
  int32_t page = -1;
  t.IndexManager().ForEachRecord(db.s.sessionID, [&](const char* record, const TABSRecordID&) {
    TABSVariant id;
    ReadFieldValue(t.FieldDefs(), record, 0, id);
    if (id.AsInteger() != i) return;
    bool small = false;
    const auto pages = t.DiskBlobs()->ValuePages(
        db.s.sessionID, TABSBlobReference::Read(record + t.FieldDefs()[2]->MemoryOffset()), small);
    EXPECT_EQ(pages.size(), 1u);
    page = pages.at(0);
  });
  return page;
}

// File offset of the last byte of `text` inside the page at pageOffset.
size_t LastByteOf(const Bytes& file, int64_t pageOffset, const std::string& text) {
  const auto begin = file.begin() + pageOffset;
  const auto at = std::search(begin, begin + kPageSize, text.begin(), text.end());
  EXPECT_NE(at, begin + kPageSize) << text;
  return static_cast<size_t>(at - file.begin()) + text.size() - 1;
}

class PageCrc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir;
    Build(dir_->File("base.zud"));
    base_ = ReadAll(dir_->File("base.zud"));
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  std::string Copy(const std::string& name) {
    const std::string path = dir_->File(name);
    WriteAll(path, base_);
    return path;
  }

  static ScratchDir* dir_;
  static Bytes base_;
};

ScratchDir* PageCrc::dir_ = nullptr;
Bytes PageCrc::base_;

TEST_F(PageCrc, TheDatabaseChecksCleanAndReadsBack) {
  const std::string db = Copy("clean.zud");
  ExpectCheckOk(db);
  Open o(db);
  EXPECT_EQ(ReadRows(o), ExpectedRows());
  ReadThroughIndex(o, "by_nombre");
}

TEST_F(PageCrc, AFlippedByteInARecordAMemoAnIndexOrAMapPageIsAnEngineErrorAndAProblemOfTheCheck) {
  struct Case {
    const char* what;
    // The page and the file offset of the byte to flip, found on a clean open.
    std::function<std::pair<int32_t, size_t>(Open&, const Bytes&)> locate;
    // What reads the page.
    std::function<void(Open&)> read;
  };
  auto inPage = [](int32_t page, const std::string& text) {
    return [page, text](Open& o, const Bytes& file) -> std::pair<int32_t, size_t> {
      return {page, LastByteOf(file, o.PageOffset(page), text)};
    };
  };
  const Case cases[] = {
      {"record value", [&](Open& o, const Bytes& file) { return inPage(RecordPage(o), Name(7))(o, file); },
       [](Open& o) { ReadRows(o); }},
      {"memo value", [&](Open& o, const Bytes& file) { return inPage(MemoPage(o, 7), Memo(7))(o, file); },
       [](Open& o) { ReadRows(o); }},
      {"index key", [&](Open& o, const Bytes& file) { return inPage(IndexRoot(o, "by_nombre"), Name(7))(o, file); },
       [](Open& o) { ReadThroughIndex(o, "by_nombre"); }},
      {"free-space map bit",
       [](Open& o, const Bytes&) -> std::pair<int32_t, size_t> {
         return {td::kFirstPfsPageNo, static_cast<size_t>(o.PageOffset(td::kFirstPfsPageNo)) + td::kPageHeaderSize};
       },
       [](Open& o) { o.data.Pages().FreeSpaceManager().CountUsage(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string db = Copy("flipped.zud");
    Bytes bytes = ReadAll(db);
    int32_t page = -1;
    size_t at = 0;
    {
      Open o(db);
      std::tie(page, at) = c.locate(o, bytes);
    }
    bytes.at(at) ^= 0x01;
    WriteAll(db, bytes);
    const Checked check = Check(db);
    EXPECT_FALSE(check.ok);
    EXPECT_TRUE(check.HasPart(CrcError(page))) << ::testing::PrintToString(check.lines);
    for (const std::string& line : check.lines) EXPECT_EQ(line.rfind("problem: ", 0), 0u) << line;
    ExpectEngineError(
        [&] {
          Open o(db);
          c.read(o);
        },
        20300, "Error getting " + std::to_string(page) + "-th");
    EXPECT_EQ(ReadAll(db), bytes);  // reading never mends nor writes
  }
}

// A commit whose index page write was lost: the page's older image is put
// back over it, so every page is whole and its CRC holds, yet the index
// keeps entries the records no longer have.
TEST_F(PageCrc, ALostIndexPageWriteLeavesEntriesThatTheCheckReports) {
  struct Case {
    const char* what;
    std::function<void(Open&)> change;
    std::vector<std::string> lines;  // of the index 'pk', among others
  };
  auto byId = [](Open& o, int32_t id) {
    TABSDiskTableData& t = o.Table();
    TABSRecordID found;
    t.IndexManager().ForEachRecord(o.s.sessionID, [&](const char* record, const TABSRecordID& rid) {
      TABSVariant v;
      ReadFieldValue(t.FieldDefs(), record, 0, v);
      if (v.AsInteger() == id) found = rid;
    });
    return found;
  };
  const std::string pk = "problem: table 'personas': index 'pk': ";
  const Case cases[] = {
      {"delete of the last key",
       [&](Open& o) { ASSERT_TRUE(o.Table().DeleteRecord(o.s, byId(o, kRows))); },
       {pk + "1 entries point at no record"}},
      {"delete of a key in the middle",
       [&](Open& o) { ASSERT_TRUE(o.Table().DeleteRecord(o.s, byId(o, 7))); },
       {pk + "1 entries point at no record"}},
      {"update of a key",
       [&](Open& o) {
         TABSDiskTableData& t = o.Table();
         const TABSRecordID id = byId(o, 5);
         std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
         TABSGetRecordRequest q;
         q.recordID = id;
         q.destination = r.data();
         t.RecordManager().GetRecord(o.s.sessionID, q);
         ASSERT_EQ(q.result, grrFound);
         SetInteger(t, r.data(), 0, 50);
         t.UpdateRecord(o.s, id, r.data());
       },
       {pk + "1 entries hold another key than their record's", pk + "1 records not found by their key"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string db = Copy("lost.zud");
    int64_t at = -1;
    {
      Open o(db);
      at = o.PageOffset(IndexRoot(o, "pk"));
    }
    const Bytes before = ReadAll(db);
    {
      Open o(db);
      c.change(o);
    }
    Bytes after = ReadAll(db);
    ASSERT_NE(after, before);
    std::copy(before.begin() + at, before.begin() + at + kPageSize, after.begin() + at);
    WriteAll(db, after);
    const Checked check = Check(db);
    EXPECT_FALSE(check.ok);
    for (const std::string& line : c.lines) EXPECT_TRUE(check.Has(line)) << line;
    EXPECT_FALSE(check.HasPart("index 'by_nombre'"));
  }
}

TEST_F(PageCrc, AnIndexEntryNamingAnotherRecordMakesThatRecordOneWithTwoEntries) {
  // Leaf layout (data area): uint16 key size K at 12, uint16 entry count
  // at 14, entries of K key bytes and a 6-byte record identifier from 18.
  // The second entry is given the identifier of the fourth: the keys stay
  // in order, the tree stays sound, and the second record has no entry.
  const std::string db = Copy("twice.zud");
  int64_t at = -1;
  {
    Open o(db);
    at = o.PageOffset(IndexRoot(o, "pk")) + td::kPageHeaderSize;
  }
  Bytes bytes = ReadAll(db);
  const size_t key = td::GetU16(bytes.data() + at + 12), entry = key + 6;
  ASSERT_EQ(td::GetU16(bytes.data() + at + 14), kRows);
  uint8_t* second = bytes.data() + at + 18 + entry + key;
  std::copy(second + 2 * entry, second + 2 * entry + 6, second);
  StorePlainPageCrc(bytes, at - td::kPageHeaderSize);
  WriteAll(db, bytes);
  const Checked check = Check(db);
  EXPECT_FALSE(check.ok);
  const std::string pk = "problem: table 'personas': index 'pk': ";
  for (const std::string& line : {pk + "1 entries hold another key than their record's",
                                  pk + "1 records with more than one entry", pk + "1 records not found by their key"})
    EXPECT_TRUE(check.Has(line)) << line << "\n" << ::testing::PrintToString(check.lines);
}

TEST_F(PageCrc, PagesWithoutADataCrcAsOtherWritersLeaveThemStillOpenCheckAndChange) {
  const std::string db = Copy("nocrc.zud");
  Bytes bytes = ReadAll(db);
  int cleared = 0;
  for (size_t off = static_cast<size_t>(td::kNewPageAreaOffset); off + kPageSize <= bytes.size(); off += kPageSize) {
    if (std::memcmp(bytes.data() + off, td::kPageSignature, 4) != 0) continue;
    if (td::GetU32(bytes.data() + off + td::kPgDataCRC) != 0) ++cleared;
    td::PutU32(bytes.data() + off + td::kPgDataCRC, 0);
  }
  EXPECT_GT(cleared, 5);  // the engine wrote CRCs on plain pages
  WriteAll(db, bytes);
  ExpectCheckOk(db);
  {
    Open o(db);
    EXPECT_EQ(ReadRows(o), ExpectedRows());
    ReadThroughIndex(o, "by_nombre");
    InsertRow(o, kRows + 1);
  }
  ExpectCheckOk(db);
}

TEST(PageCrcZero, APageWhoseDataAreaHasACrcOfZeroStillHasItsDamageFound) {
  // The CRC-32 of an all-zero data area is 0, the value that means "no
  // CRC": a large BLOB of zero bytes fills whole data pages with them.
  ScratchDir dir;
  const std::string db = dir.File("zeros.zud");
  TABSDiskDatabase().CreateDatabase(db, TABSPassword{}, 8);
  std::vector<int32_t> pages;
  {
    Open o(db);
    TABSFieldDefs fields;
    TABSFieldDef* id = fields.AddNew();
    id->SetName("id");
    id->SetDataType(aftInteger, 0);
    TABSFieldDef* blob = fields.AddNew();
    blob->SetName("datos");
    blob->SetDataType(aftBlob, 0);
    TABSDiskTableData& t = o.data.CreateTable(o.s, "ceros", fields, TABSIndexDefs());
    std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
    t.InitRecordForInsert(r.data());
    SetInteger(t, r.data(), 0, 1);
    const std::string zeros(4 * kPageSize, '\0');
    t.WriteBlobBuffer(o.s, r.data(), 1, zeros.data(), static_cast<int64_t>(zeros.size()));
    t.InsertRecord(o.s, r.data());
    t.IndexManager().ForEachRecord(o.s.sessionID, [&](const char* record, const TABSRecordID&) {
      bool small = true;
      pages = t.DiskBlobs()->ValuePages(o.s.sessionID,
                                        TABSBlobReference::Read(record + t.FieldDefs()[1]->MemoryOffset()), small);
    });
  }
  ExpectCheckOk(db);
  Bytes bytes = ReadAll(db);
  int64_t zeroPage = -1;
  int32_t zeroPageNo = -1;
  for (const int32_t p : pages) {
    const int64_t off = static_cast<int64_t>(td::kNewPageAreaOffset) + int64_t{p} * kPageSize;
    const uint8_t* data = bytes.data() + off + td::kPageHeaderSize;
    if (std::all_of(data, data + kPageSize - td::kPageHeaderSize, [](uint8_t b) { return b == 0; })) {
      zeroPage = off;
      zeroPageNo = p;
    }
  }
  ASSERT_GE(zeroPage, 0) << "no BLOB page of zero bytes";
  bytes.at(static_cast<size_t>(zeroPage) + 1000) ^= 0x40;
  WriteAll(db, bytes);
  EXPECT_TRUE(Check(db).HasPart(CrcError(zeroPageNo)));
  ExpectEngineError(
      [&] {
        Open o(db);
        TABSDiskTableData& t = o.data.OpenTable(o.s, "ceros");
        t.IndexManager().ForEachRecord(
            o.s.sessionID, [&](const char* record, const TABSRecordID&) { (void)t.ReadBlobBuffer(o.s, record, 1); });
      },
      20300);
}

}  // namespace
