// Page numbers read from a damaged or hostile file never free a page that is
// not theirs: a large BLOB's page list and a table's record page index are
// crafted to name the system directory (page 2), another table's record page
// or a page past the end, and the operation that would free them (deleting
// the record, emptying or dropping the table) fails instead; page 2 and the
// other table stay whole, also after the next call commits.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "HostileDb.h"

namespace {

using namespace hostile;

// A database of three tables, built once per test and kept as bytes:
//   "docs" (id, contenido BLOB): row 1 with a large BLOB of several pages;
//   "otra" (id, nombre): rows 1..60, whose record pages nobody else owns;
//   "uno"  (id): rows 1..5 on one record page, its index a single leaf.
struct Pristine {
  ScratchDir dir;
  std::string path = dir.File("hostil.zud");
  Bytes bytes;
  TABSRecordID docsRow;
  TABSBlobReference blob;
  int32_t otraPage = -1;  // a record page of "otra"
  int32_t unoPage = -1;   // the record page of "uno"
  int32_t unoIndexRoot = -1;
  std::multiset<int32_t> otraIds;

  Pristine() {
    TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, 4);
    {
      Connection c(path);
      c.Create("docs", {{"id", aftInteger, 0}, {"contenido", aftBlob, 0}});
      c.Create("otra", {{"id", aftInteger, 0}, {"nombre", aftString, 20}});
      TABSDiskTableData& uno = c.Create("uno", {{"id", aftInteger, 0}});
      const std::string value = Noise(3 * kData, 7);
      docsRow = c.Insert("docs", 1, [&](TABSDiskTableData& t, char* r) {
        t.WriteBlobBuffer(c.session, r, 1, value.data(), static_cast<int64_t>(value.size()));
      });
      blob = c.lastBlob;
      for (int32_t id = 1; id <= 60; ++id) {
        otraPage = c.Insert("otra", id, [&](TABSDiskTableData& t, char* r) {
                      TABSVariant v;
                      v.SetAsString("fila " + std::to_string(id));
                      WriteFieldValue(t.FieldDefs(), r, 1, v);
                    }).pageNo;
        otraIds.insert(id);
      }
      for (int32_t id = 1; id <= 5; ++id) unoPage = c.Insert("uno", id, nullptr).pageNo;
      unoIndexRoot = uno.DiskRecords().PageIndex().RootPageNo();
    }
    bytes = ReadAll(path);
  }

  // Entry `n` of the large BLOB's page list: its file offset.
  size_t BlobListEntry(int n) const {
    const size_t loc = At(blob.PageNo, 22);
    const int32_t listPage = GetI32(&bytes[loc]);
    const int32_t listOffset = GetU16(&bytes[loc + 4]);
    EXPECT_LE(listOffset + 4 * (n + 1), kData) << "the list must lie on one page for this test";
    return At(listPage, listOffset + 4 * n);
  }
};

struct Target {
  const char* what;
  std::function<int32_t(const Pristine&)> page;
};

const Target kTargets[] = {
    {"the system directory", [](const Pristine&) { return tiv::disk::kSystemDirectoryPageNo; }},
    {"another table's record page", [](const Pristine& p) { return p.otraPage; }},
    {"a page past the end", [](const Pristine& p) { return static_cast<int32_t>(p.bytes.size() / kPageSize) + 50; }},
};

bool Page2Unchanged(const Pristine& p, const Bytes& after) {
  const auto from = static_cast<long>(At(2, -tiv::disk::kPageHeaderSize));
  const auto to = static_cast<long>(At(3, -tiv::disk::kPageHeaderSize));
  return static_cast<long>(after.size()) >= to &&
         std::equal(p.bytes.begin() + from, p.bytes.begin() + to, after.begin() + from);
}

// What must still hold after a refused operation and one more committed
// call: the file opens with page 2 unchanged, "otra" reads every row it had
// plus the one added after the failure, and `table` still counts `rows`.
void ExpectIntact(const Pristine& p, const std::string& table, int64_t rows) {
  EXPECT_TRUE(Page2Unchanged(p, ReadAll(p.path)));
  Connection c(p.path);
  std::multiset<int32_t> expected = p.otraIds;
  expected.insert(1000);
  EXPECT_EQ(c.Ids("otra"), expected);
  EXPECT_EQ(c.data->OpenTable(c.session, table).GetRecordCount(c.session), rows);
}

// The failure is followed by a committed insert in the same session: a
// refused operation leaves nothing that this commit could write.
void InsertAfterFailure(Connection& c) {
  c.Insert("otra", 1000, [&](TABSDiskTableData& t, char* r) {
    TABSVariant v;
    v.SetAsString("despues");
    WriteFieldValue(t.FieldDefs(), r, 1, v);
  });
}

TEST(HostilePageNumberTest, ALargeBlobPageListNamingAPageNotItsOwnFreesNothing) {
  const Pristine p;
  ASSERT_TRUE(p.blob.IsLarge());
  struct Operation {
    const char* what;
    std::function<void(Connection&, const Pristine&)> run;
  };
  const Operation operations[] = {
      {"deleting the record",
       [](Connection& c, const Pristine& p) {
         c.data->OpenTable(c.session, "docs").DeleteRecord(c.session, p.docsRow);
       }},
      {"emptying the table", [](Connection& c, const Pristine&) { c.data->EmptyTable(c.session, "docs"); }},
      {"dropping the table", [](Connection& c, const Pristine&) { c.data->DropTable(c.session, "docs"); }},
  };
  for (const Target& target : kTargets) {
    for (const Operation& op : operations) {
      SCOPED_TRACE(std::string(target.what) + ", " + op.what);
      Bytes damaged = p.bytes;
      ASSERT_EQ(GetI32(&damaged[p.BlobListEntry(0)]), p.blob.PageNo);
      PutI32(&damaged[p.BlobListEntry(1)], target.page(p));
      RestorePlainPageCrcs(damaged);
      WriteAll(p.path, damaged);
      {
        Connection c(p.path);
        ExpectEngineError([&] { op.run(c, p); }, 20162, "Cannot read BLOB field value");
        InsertAfterFailure(c);
      }
      ExpectIntact(p, "docs", 1);
      EXPECT_EQ(Connection(p.path).Ids("docs").size(), 1u);
    }
  }
}

TEST(HostilePageNumberTest, ARecordPageIndexNamingAPageNotItsOwnFreesNothing) {
  const Pristine p;
  const size_t key = At(p.unoIndexRoot, 18);  // the leaf's first entry: int32 page number, uint16 count
  struct Operation {
    const char* what;
    std::function<void(Connection&)> run;
  };
  const Operation operations[] = {
      {"emptying the table", [](Connection& c) { c.data->EmptyTable(c.session, "uno"); }},
      {"dropping the table", [](Connection& c) { c.data->DropTable(c.session, "uno"); }},
  };
  for (const Target& target : kTargets) {
    for (const Operation& op : operations) {
      SCOPED_TRACE(std::string(target.what) + ", " + op.what);
      Bytes damaged = p.bytes;
      ASSERT_EQ(GetI32(&damaged[key]), p.unoPage);
      PutI32(&damaged[key], target.page(p));
      RestorePlainPageCrcs(damaged);
      WriteAll(p.path, damaged);
      const int32_t page = target.page(p);
      {
        Connection c(p.path);
        ExpectEngineError([&] { op.run(c); }, 20299,
                          "Page No: " + std::to_string(page) + ", type " + std::to_string(tiv::disk::ptTableRecord));
        InsertAfterFailure(c);
      }
      // "uno" keeps its counted rows (which the damaged index no longer
      // reaches); nothing else was touched.
      ExpectIntact(p, "uno", 5);
    }
  }
}

// What IsPageOf answers, seen from the session that changes pages and from
// a second open of the file whose page count lags behind.
TEST(HostilePageNumberTest, OnlyAPageOfTheNamedTypeAndOwnerPassesAsOne) {
  using namespace tiv::disk;
  ScratchDir dir;
  const std::string path = dir.File("paginas.zud");
  TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, 4);
  TABSDiskPageManager a, b;
  OpenDb(a, path);
  OpenDb(b, path);
  const int32_t s = 0, t = 1, u = 2;  // u: a's session with a change under way
  auto add = [&](int32_t session, uint16_t type, int32_t owner) {
    TABSPage* page = a.AddPage(session, type);
    page->SetOwnerTableID(owner);
    const int32_t n = page->PageNo;
    a.PutPage(page);
    return n;
  };
  const int32_t released = add(s, ptTableRecord, 7);
  const int32_t record = add(s, ptTableRecord, 7);
  const int32_t blob = add(s, ptTableBlob, -1);
  a.CommitSession(s);
  const int32_t pending = add(u, ptTableRecord, 7);  // added, not written yet
  a.DeletePage(s, released);
  a.CommitSession(s);
  const int32_t past = a.GetPageCount() + 40;
  struct Case {
    const char* what;
    int32_t page;
    uint16_t type;
    int32_t owner;
    bool forA, forB;
  };
  const Case cases[] = {
      {"the PFS page", 0, ptAny, TABSPageManager::kAnyOwner, false, false},
      {"the EAM page", 1, ptAny, TABSPageManager::kAnyOwner, false, false},
      {"the system directory", 2, ptFileSystemDirectory, TABSPageManager::kAnyOwner, false, false},
      {"a record page of table 7", record, ptTableRecord, 7, true, true},
      {"a record page of table 7 as one of table 8", record, ptTableRecord, 8, false, false},
      {"a record page as a BLOB page", record, ptTableBlob, TABSPageManager::kAnyOwner, false, false},
      {"a BLOB page", blob, ptTableBlob, TABSPageManager::kAnyOwner, true, true},
      {"a released page", released, ptTableRecord, 7, false, false},
      {"a page added and not committed", pending, ptTableRecord, 7, true, false},
      {"a page past the end", past, ptAny, TABSPageManager::kAnyOwner, false, false},
      {"a negative number", -3, ptAny, TABSPageManager::kAnyOwner, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(a.IsPageOf(u, c.page, c.type, c.owner), c.forA);
    EXPECT_EQ(b.IsPageOf(t, c.page, c.type, c.owner), c.forB);
  }
  // A number outside the page area is refused when it is deleted, not half
  // way through the commit that would free it.
  ExpectEngineError([&] { a.DeletePage(u, past); }, 10471, "Invalid PageNo = " + std::to_string(past));
  ExpectEngineError([&] { a.DeletePage(u, -3); }, 10471);
  EXPECT_TRUE(a.DeletedPages(u).empty());
  a.CommitSession(u);
  EXPECT_TRUE(b.IsPageOf(t, pending, ptTableRecord, 7));
}

}  // namespace
