// The engine's check (CheckDatabase) holding the free-space map against the
// pages the database's structures reach: a database worked through inserts, updates
// and deletes with small and multi-page BLOBs, an emptied and a dropped
// table checks clean; a map bit cleared under each kind of page in use, a
// page marked used that nothing reaches, a page reached by two tables and
// a reached page of the wrong type are each reported; damage that stops a
// walk gives no flood of leaks.
#include <algorithm>
#include <functional>
#include <random>
#include <set>

#include "DiskTestUtil.h"
#include "core/ABSBTreeTableIndex.h"
#include "core/ZUDRecordLayout.h"
#include "core/ZUDVariant.h"
#include "disk/DiskBytes.h"
#include "disk/DiskDatabaseData.h"
#include "disk/FreeSpaceMap.h"

namespace {

// The check's verdict on the file and its report as `zudadmin check`
// prints it.
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

struct Column {
  const char* name;
  TABSDataType type;
  int32_t size;
};

void AddFields(TABSFieldDefs& fields, std::initializer_list<Column> columns) {
  for (const Column& c : columns) {
    TABSFieldDef* f = fields.AddNew();
    f->SetName(c.name);
    f->SetDataType(c.type, c.size);
  }
}

void AddIndex(TABSIndexDefs& defs, const std::string& name, const std::vector<std::string>& columns, bool unique) {
  TABSIndexDef* def = defs.AddNew();
  def->SetName(name);
  def->unique = unique;
  def->FillColumns(columns, std::vector<std::string>(columns.size(), "ASC"),
                   std::vector<std::string>(columns.size(), "CASE"));
}

void Set(const TABSFieldDefs& fields, char* record, int n, const std::function<void(TABSVariant&)>& set) {
  TABSVariant v;
  set(v);
  WriteFieldValue(fields, record, n, v);
}

// Bytes that no compression shrinks, so a value's stored size is its size.
std::string Noise(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// Sizes of large BLOB values around the ends of their data pages: the page
// list then lies after the data on the last data page, on a page of its
// own, or runs on into a chained page.
std::vector<size_t> LargeSizes(int32_t dataSize) {
  std::vector<size_t> sizes;
  const int32_t firstRoom = dataSize - 32;
  for (int32_t pages = 0; pages < 3; ++pages)
    for (int32_t delta = -14; delta <= 14; delta += 2)
      sizes.push_back(static_cast<size_t>(firstRoom + pages * dataSize + delta));
  return sizes;
}

struct Open {
  TABSDiskDatabaseData data{"CHECK"};
  TABSSessionInfo s;
  explicit Open(const std::string& path) {
    data.Open(path, TABSPassword{}, false, false);
    data.Connect(s);
  }
  ~Open() { data.Disconnect(s); }
};

// Table "personas" (two indexes, a memo and a BLOB field) after inserts,
// deletes and updates that swap small and large values; "gastos" emptied
// and refilled; "vacia" never written; "temporal" dropped.
void BuildDatabase(const std::string& path) {
  TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, 8);
  Open db(path);
  TABSIndexDefs personasIndexes;
  AddIndex(personasIndexes, "pk", {"id"}, true);
  AddIndex(personasIndexes, "by_nombre", {"nombre", "id"}, false);
  TABSFieldDefs personasFields;
  AddFields(personasFields, {{"id", aftInteger, 0},
                             {"nombre", aftString, 30},
                             {"alta", aftDate, 0},
                             {"saldo", aftDouble, 0},
                             {"hecho", aftLogical, 0},
                             {"nota", aftMemo, 0},
                             {"datos", aftBlob, 0}});
  TABSDiskTableData& p = db.data.CreateTable(db.s, "personas", personasFields, personasIndexes);
  const std::vector<size_t> large = LargeSizes(db.data.Pages().PageDataSize());
  std::vector<char> r(static_cast<size_t>(p.FieldDefs().MemoryRecordSize()));
  std::vector<TABSRecordID> ids;
  for (int32_t i = 0; i < 1500; ++i) {
    p.InitRecordForInsert(r.data());
    const TABSFieldDefs& f = p.FieldDefs();
    Set(f, r.data(), 0, [&](TABSVariant& v) { v.SetAsInteger(i); });
    Set(f, r.data(), 1, [&](TABSVariant& v) { v.SetAsString("Nombre " + std::to_string(i * 37 % 1013)); });
    Set(f, r.data(), 2, [&](TABSVariant& v) { v.SetAsDate(730000 + i); });
    Set(f, r.data(), 3, [&](TABSVariant& v) { v.SetAsDouble(i / 8.0); });
    Set(f, r.data(), 4, [&](TABSVariant& v) { v.SetAsLogical(i % 2 == 0); });
    if (i % 4 != 0) {
      const std::string memo = "nota " + std::to_string(i);
      p.WriteBlobBuffer(db.s, r.data(), 5, memo.data(), static_cast<int64_t>(memo.size()));
    }
    const std::string blob = Noise(i % 3 == 0 ? large[static_cast<size_t>(i / 3) % large.size()] : 10 + i % 700, i);
    p.WriteBlobBuffer(db.s, r.data(), 6, blob.data(), static_cast<int64_t>(blob.size()));
    ids.push_back(p.InsertRecord(db.s, r.data()));
  }
  for (int32_t i = 0; i < 1500; i += 7) ASSERT_TRUE(p.DeleteRecord(db.s, ids[static_cast<size_t>(i)]));
  for (int32_t i = 1; i < 1500; i += 11) {
    if (i % 7 == 0) continue;
    TABSGetRecordRequest q;
    q.recordID = ids[static_cast<size_t>(i)];
    q.destination = r.data();
    p.RecordManager().GetRecord(db.s.sessionID, q);
    ASSERT_EQ(q.result, grrFound);
    const std::string blob = Noise(i % 3 == 0 ? 40 : large[static_cast<size_t>(i) % large.size()], i + 1);
    p.WriteBlobBuffer(db.s, r.data(), 6, blob.data(), static_cast<int64_t>(blob.size()));
    p.UpdateRecord(db.s, ids[static_cast<size_t>(i)], r.data());
  }

  TABSFieldDefs moneyFields;
  AddFields(moneyFields,
            {{"id", aftInteger, 0}, {"importe", aftCurrency, 0}, {"fecha", aftDateTime, 0}, {"nota", aftMemo, 0}});
  TABSIndexDefs moneyIndexes;
  AddIndex(moneyIndexes, "by_importe", {"importe"}, false);
  auto fillMoney = [&](TABSDiskTableData& t, int count) {
    std::vector<char> m(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
    for (int32_t i = 0; i < count; ++i) {
      t.InitRecordForInsert(m.data());
      Set(t.FieldDefs(), m.data(), 0, [&](TABSVariant& v) { v.SetAsInteger(i); });
      Set(t.FieldDefs(), m.data(), 1, [&](TABSVariant& v) { v.SetAsCurrency(i * 1.25); });
      Set(t.FieldDefs(), m.data(), 2, [&](TABSVariant& v) { v.SetAsTDateTime(45000.5 + i); });
      const std::string memo = Noise(i % 5 == 0 ? 6000 : 30, i);
      t.WriteBlobBuffer(db.s, m.data(), 3, memo.data(), static_cast<int64_t>(memo.size()));
      t.InsertRecord(db.s, m.data());
    }
  };
  fillMoney(db.data.CreateTable(db.s, "gastos", moneyFields, moneyIndexes), 400);
  db.data.EmptyTable(db.s, "gastos");
  fillMoney(db.data.OpenTable(db.s, "gastos"), 20);
  TABSFieldDefs emptyFields;
  AddFields(emptyFields, {{"id", aftInteger, 0}, {"foto", aftBlob, 0}});
  db.data.CreateTable(db.s, "vacia", emptyFields, TABSIndexDefs());
  fillMoney(db.data.CreateTable(db.s, "temporal", moneyFields, moneyIndexes), 300);
  db.data.DropTable(db.s, "temporal");
}

// The database built once; each case works on a copy.
class DatabaseCheckPages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir;
    BuildDatabase(dir_->File("base.zud"));
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

ScratchDir* DatabaseCheckPages::dir_ = nullptr;
Bytes DatabaseCheckPages::base_;

// Flips a page's bit in its PFS page. Map pages are never enciphered; their
// DataCRC is stored again, so the map reads as one written with that bit.
void FlipMapBit(const std::string& path, int32_t pageNo) {
  int64_t page = 0, at = 0;
  int32_t bit = 0;
  {
    Open db(path);
    TABSDatabaseFreeSpaceManager& map = db.data.Pages().FreeSpaceManager();
    bit = pageNo % map.PagesPerPfs();
    page = db.data.Pages().PageOffset(map.PfsPageNo(pageNo / map.PagesPerPfs()));
    at = page + tiv::disk::kPageHeaderSize + bit / 8;
  }
  Bytes bytes = ReadAll(path);
  bytes.at(static_cast<size_t>(at)) ^= static_cast<uint8_t>(1u << (bit % 8));
  StorePlainPageCrc(bytes, page);
  WriteAll(path, bytes);
}

// The first record of "personas" whose BLOB is large, and its pages.
std::pair<TABSRecordID, std::vector<int32_t>> LargeBlobPages(Open& db) {
  TABSDiskTableData& t = db.data.OpenTable(db.s, "personas");
  const TABSFieldDef& field = *t.FieldDefs()[6];
  std::pair<TABSRecordID, std::vector<int32_t>> found;
  t.IndexManager().ForEachRecord(db.s.sessionID, [&](const char* record, const TABSRecordID& id) {
    bool small = true;
    std::vector<int32_t> pages =
        t.DiskBlobs()->ValuePages(db.s.sessionID, TABSBlobReference::Read(record + field.MemoryOffset()), small);
    if (found.second.empty() && !small && pages.size() >= 3) found = {id, std::move(pages)};
  });
  if (found.second.empty()) ADD_FAILURE() << "no BLOB of three pages";
  return found;
}

TEST_F(DatabaseCheckPages, AWorkedDatabaseChecksCleanAndEveryPageInUseIsReached) {
  const std::string db = Copy("clean.zud");
  const Checked check = Check(db);
  EXPECT_TRUE(check.ok);
  EXPECT_EQ(check.lines, std::vector<std::string>{"ok"});
  // The database is what the test means it to be: an index of more than
  // one level, small BLOB pages and three tables left (the sizes of the
  // large values cover every place their page list can take).
  Open o(db);
  TABSDiskTableData& t = o.data.OpenTable(o.s, "personas");
  auto& byNombre = static_cast<TABSBTreeTableIndex&>(
      t.IndexManager().IndexByID(t.IndexManager().IndexDefs().IndexByName("by_nombre")->ObjectID()));
  EXPECT_GE(byNombre.Tree().Tree().Depth(o.s.sessionID), 2);
  std::vector<int32_t> treePages;
  byNombre.Tree().Tree().CollectPages(o.s.sessionID, treePages);
  EXPECT_GT(treePages.size(), 3u);
  EXPECT_EQ(treePages.front(), byNombre.Tree().Tree().RootPageNo());
  EXPECT_EQ(std::set<int32_t>(treePages.begin(), treePages.end()).size(), treePages.size());
  TABSBTreePath path;
  EXPECT_TRUE(t.BlobSpace()->Index().First(o.s.sessionID, path));
  EXPECT_EQ(o.data.Tables(o.s).size(), 3u);
}

TEST_F(DatabaseCheckPages, APageInUseThatTheMapCallsFreeIsNamedWithItsOwner) {
  struct Case {
    std::string owner;
    std::function<int32_t(Open&)> page;
  };
  auto personas = [](Open& db) -> TABSDiskTableData& { return db.data.OpenTable(db.s, "personas"); };
  const Case cases[] = {
      {"free-space map", [](Open&) { return tiv::disk::kFirstEamPageNo; }},
      {"system directory", [](Open&) { return tiv::disk::kSystemDirectoryPageNo; }},
      {"table list", [](Open& db) { return db.data.Disk().TableList().StartPageNo(); }},
      {"active sessions file", [](Open& db) { return db.data.Disk().SessionsFile().PageList().back(); }},
      {"table 'gastos' metadata",
       [](Open& db) { return db.data.OpenTable(db.s, "gastos").MetadataFile().StartPageNo(); }},
      {"table 'personas' most-updated file", [&](Open& db) { return personas(db).MostUpdatedFile().StartPageNo(); }},
      {"table 'personas' locks file", [&](Open& db) { return personas(db).LocksFile().PageList().back(); }},
      {"table 'personas' record page index",
       [&](Open& db) { return personas(db).DiskRecords().PageIndex().RootPageNo(); }},
      {"table 'personas' record pages",
       [&](Open& db) { return personas(db).DiskRecords().IndexedPages(db.s.sessionID).at(3).first; }},
      {"table 'personas' index 'by_nombre'",
       [&](Open& db) {
         TABSDiskTableData& t = personas(db);
         auto& index = static_cast<TABSBTreeTableIndex&>(
             t.IndexManager().IndexByID(t.IndexManager().IndexDefs().IndexByName("by_nombre")->ObjectID()));
         std::vector<int32_t> pages;
         index.Tree().Tree().CollectPages(db.s.sessionID, pages);
         return pages.back();  // a leaf under the root
       }},
      {"table 'vacia' BLOB page index",
       [](Open& db) { return db.data.OpenTable(db.s, "vacia").BlobSpace()->Index().RootPageNo(); }},
      {"table 'personas' small BLOB pages",
       [&](Open& db) {
         TABSBTreeBlobPageIndex& index = personas(db).BlobSpace()->Index();
         TABSBTreePath path;
         EXPECT_TRUE(index.Last(db.s.sessionID, path));
         return index.KeyAt(db.s.sessionID, path);
       }},
      {"record", [](Open& db) { return LargeBlobPages(db).second.back(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.owner);
    const std::string db = Copy("cleared.zud");
    int32_t page = -1;
    std::string owner = c.owner;
    {
      Open o(db);
      page = c.page(o);
      if (owner == "record") {
        const TABSRecordID id = LargeBlobPages(o).first;
        owner =
            "table 'personas' record " + std::to_string(id.pageNo) + ":" + std::to_string(id.rowNo) + " field datos";
      }
    }
    ASSERT_GT(page, 0);
    FlipMapBit(db, page);
    const Checked check = Check(db);
    EXPECT_FALSE(check.ok);
    EXPECT_EQ(check.lines, std::vector<std::string>{"problem: page " + std::to_string(page) + " (" + owner +
                                                    ") is in use but free in the free-space map"});
  }
}

TEST_F(DatabaseCheckPages, APageMarkedUsedThatNothingReachesIsALeak) {
  // Allocated and committed without being linked anywhere: the map has it
  // in use, every structure walks past it.
  const std::string added = Copy("leak.zud");
  int32_t leaked = -1;
  {
    Open o(added);
    TABSPage* page = o.data.Pages().AddPage(o.s.sessionID, tiv::disk::ptTableBlob);
    leaked = page->PageNo;
    o.data.Pages().PutPage(page);
    o.data.Pages().CommitSession(o.s.sessionID, true);
  }
  Checked check = Check(added);
  EXPECT_FALSE(check.ok);
  EXPECT_EQ(check.lines, std::vector<std::string>{"problem: page " + std::to_string(leaked) +
                                                  " is marked used but nothing uses it"});

  // A page that is free in the map (given back by the deletes) set in use.
  const std::string set = Copy("set.zud");
  int32_t freed = -1;
  {
    Open o(set);
    for (int32_t p = o.data.Pages().GetPageCount() - 1; p > 2 && freed < 0; --p)
      if (!o.data.Pages().FreeSpaceManager().IsPageUsed(p)) freed = p;
  }
  ASSERT_GT(freed, 2);
  FlipMapBit(set, freed);
  check = Check(set);
  EXPECT_FALSE(check.ok);
  EXPECT_TRUE(check.Has("problem: page " + std::to_string(freed) + " is marked used but nothing uses it"));
  EXPECT_FALSE(check.HasPart("in use but free"));
}

TEST_F(DatabaseCheckPages, APageReachedByTwoTablesIsUsedTwice) {
  // The only entry of the record page index of "gastos" is made to name a
  // record page of "personas". Page index entries: the key (int32 page
  // number) first, at data offset 18 of the root leaf. The page it named
  // before and the BLOB values of its records are no longer reached; the
  // records of the foreign page are not read, so they are not called
  // leaks.
  const std::string db = Copy("twice.zud");
  int32_t shared = -1, orphan = -1;
  int64_t at = -1;
  {
    Open o(db);
    shared = o.data.OpenTable(o.s, "personas").DiskRecords().IndexedPages(o.s.sessionID).at(0).first;
    TABSDiskRecordManager& gastos = o.data.OpenTable(o.s, "gastos").DiskRecords();
    const auto pages = gastos.IndexedPages(o.s.sessionID);
    ASSERT_EQ(pages.size(), 1u);
    orphan = pages[0].first;
    at = o.data.Pages().PageOffset(gastos.PageIndex().RootPageNo()) + tiv::disk::kPageHeaderSize + 18;
  }
  Bytes bytes = ReadAll(db);
  ASSERT_EQ(tiv::disk::GetI32(bytes.data() + at), orphan);
  tiv::disk::PutI32(bytes.data() + at, shared);
  StorePlainPageCrc(bytes, at - tiv::disk::kPageHeaderSize - 18);
  WriteAll(db, bytes);
  const Checked check = Check(db);
  EXPECT_FALSE(check.ok);
  EXPECT_TRUE(check.Has("problem: page " + std::to_string(shared) +
                        " is used twice: table 'personas' record pages and table 'gastos' record pages"));
  EXPECT_FALSE(check.HasPart("page " + std::to_string(orphan) + " "));
  EXPECT_TRUE(check.HasPart(" marked used not reached; not judged as leaks, the walk of table 'gastos' record page " +
                            std::to_string(shared) + " stopped at damage"));
  EXPECT_TRUE(
      check.Has("problem: table 'gastos': record page " + std::to_string(shared) + " belongs to another table"));
}

TEST(DatabaseCheckPageTypes, ACachedPageOfAnotherTypeIsStillRefused) {
  // The root of a BLOB page index made a record page. The database is
  // small enough for the page cache to keep every page the check's first
  // pass read; the tree walk must be refused the page all the same, and
  // the pages behind it are not called leaks.
  ScratchDir dir;
  const std::string db = dir.File("retyped.zud");
  TABSDiskDatabase().CreateDatabase(db, TABSPassword{}, 8);
  int32_t root = -1;
  int64_t at = -1;
  {
    Open o(db);
    TABSFieldDefs fields;
    AddFields(fields, {{"id", aftInteger, 0}, {"foto", aftBlob, 0}});
    TABSDiskTableData& t = o.data.CreateTable(o.s, "fotos", fields, TABSIndexDefs());
    std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
    for (int32_t i = 0; i < 30; ++i) {
      t.InitRecordForInsert(r.data());
      Set(t.FieldDefs(), r.data(), 0, [&](TABSVariant& v) { v.SetAsInteger(i); });
      const std::string blob = Noise(500, i);
      t.WriteBlobBuffer(o.s, r.data(), 1, blob.data(), static_cast<int64_t>(blob.size()));
      t.InsertRecord(o.s, r.data());
    }
    root = t.BlobSpace()->Index().RootPageNo();
    at = o.data.Pages().PageOffset(root) + tiv::disk::kPgType;
    ASSERT_LT(o.data.Pages().GetPageCount(), o.data.Pages().CacheCapacity());
  }
  ASSERT_TRUE(Check(db).ok);
  Bytes bytes = ReadAll(db);
  tiv::disk::PutU16(bytes.data() + at, tiv::disk::ptTableRecord);
  WriteAll(db, bytes);
  const Checked check = Check(db);
  EXPECT_FALSE(check.ok);
  EXPECT_TRUE(
      check.Has("problem: table 'fotos': page index: Invalid page type. Possible data corruption. "
                "Expecting type 12, but found 10 - Native error: 20153"));
  EXPECT_FALSE(check.HasPart("nothing uses it"));
}

TEST_F(DatabaseCheckPages, AWalkStoppedByDamageSumsUpWhatItCouldNotReachInsteadOfListingLeaks) {
  // Each damage hides pages in use from the walks (an index's pages, the
  // BLOB values of a record page's records); the check must not call them
  // leaks one by one.
  struct Case {
    const char* what;
    std::function<int32_t(TABSDiskTableData&, TABSSessionInfo&)> page;
    int offset;
    uint16_t value;
    std::string walk;  // named in the summary line
  };
  const Case cases[] = {
      {"index root of another type",
       [](TABSDiskTableData& t, TABSSessionInfo&) {
         return t.IndexManager().IndexDefs().IndexByName("by_nombre")->rootPageNo;
       },
       tiv::disk::kPgType, tiv::disk::ptTableMetaData, "table 'personas' index 'by_nombre'"},
      {"record page of another table",
       [](TABSDiskTableData& t, TABSSessionInfo& s) { return t.DiskRecords().IndexedPages(s.sessionID).at(2).first; },
       tiv::disk::kPgOwnerTableID, 0x7777, "table 'personas' record page "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string db = Copy("damaged.zud");
    int32_t page = -1;
    int64_t at = -1;
    {
      Open o(db);
      page = c.page(o.data.OpenTable(o.s, "personas"), o.s);
      at = o.data.Pages().PageOffset(page) + c.offset;
    }
    Bytes bytes = ReadAll(db);
    tiv::disk::PutU16(bytes.data() + at, c.value);
    WriteAll(db, bytes);
    const Checked check = Check(db);
    EXPECT_FALSE(check.ok);
    EXPECT_FALSE(check.HasPart("nothing uses it"));
    EXPECT_FALSE(check.HasPart("in use but free"));
    EXPECT_TRUE(check.HasPart(" marked used not reached; not judged as leaks, the walk of " + c.walk));
    for (const std::string& line : check.lines) EXPECT_EQ(line.rfind("problem: ", 0), 0u) << line;
  }
}

}  // namespace
