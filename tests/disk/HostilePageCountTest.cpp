// The database header's page figures are stored bytes like any other:
// TotalPageCount and LastUsedPageNo crafted past each other, past the file or
// near 2^31 are refused at open, before a growth could start from them (one
// such header grew a file to 8.8 TB on a 300-row import); growth that would
// pass 2^31 - 1 pages is refused before the file changes; and the engine's
// own shrinking never leaves a header that the open would refuse.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "HostileDb.h"
#include "disk/DatabaseCheck.h"
#include "os/FaultFile.h"

namespace {

using namespace hostile;
using tiv::disk::kHdrLastUsedPageNo;
using tiv::disk::kHdrTotalPageCount;

constexpr int32_t kRows = 100;

void AddRows(Connection& c, int32_t from, int32_t count) {
  for (int32_t id = from; id < from + count; ++id)
    c.Insert("t", id, [&](TABSDiskTableData& t, char* r) {
      TABSVariant v;
      v.SetAsString("fila " + std::to_string(id));
      WriteFieldValue(t.FieldDefs(), r, 1, v);
    });
}

// A database with table "t" of kRows rows.
struct Built {
  ScratchDir dir;
  std::string path = dir.File("cabecera.zud");
  Bytes bytes;
  int32_t total = 0, lastUsed = 0;

  Built() {
    TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, 4);
    {
      Connection c(path);
      c.Create("t", {{"id", aftInteger, 0}, {"nombre", aftString, 20}});
      AddRows(c, 0, kRows);
    }
    bytes = ReadAll(path);
    total = GetI32(&bytes[kHdrTotalPageCount]);
    lastUsed = GetI32(&bytes[kHdrLastUsedPageNo]);
  }
};

TEST(HostilePageCountTest, PageFiguresThatNoDatabaseHasAreRefusedAtOpen) {
  const Built db;
  ASSERT_EQ(static_cast<int64_t>(db.bytes.size()),
            tiv::disk::kNewPageAreaOffset + int64_t{db.total} * kPageSize);  // exactly its pages
  struct Case {
    const char* what;
    int32_t total, lastUsed;
  };
  const Case cases[] = {
      {"LastUsedPageNo at TotalPageCount", db.total, db.total},
      {"LastUsedPageNo near 2^31", db.total, INT32_MAX - 1},
      {"LastUsedPageNo 2^31 - 1", db.total, INT32_MAX},
      {"LastUsedPageNo below -1", db.total, -2},
      {"TotalPageCount one page past the end of the file", db.total + 1, db.lastUsed},
      {"TotalPageCount near 2^31 over a short file", INT32_MAX - 1, db.lastUsed},
      // Pages 0..2 are in use in every database: with -1 the next growth
      // would hand out the map and the system directory again.
      {"LastUsedPageNo -1 over a database with tables", db.total, -1},
      {"LastUsedPageNo below the system directory", db.total, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes damaged = db.bytes;
    PutI32(&damaged[kHdrTotalPageCount], c.total);
    PutI32(&damaged[kHdrLastUsedPageNo], c.lastUsed);
    WriteAll(db.path, damaged);
    ExpectEngineError([&] { Connection open(db.path); }, 20237, "Invalid database format");
    EXPECT_EQ(ReadAll(db.path), damaged);  // a refused open writes nothing
  }
}

// The check names the figure that the open refuses with "Invalid database
// format" alone.
TEST(HostilePageCountTest, TheCheckNamesThePageFigureThatTheOpenRefuses) {
  const Built db;
  EXPECT_EQ(CheckDatabase(db.path, TABSPassword{}).Lines(), std::vector<std::string>{"ok"});
  const std::string t = std::to_string(db.total), end = std::to_string(db.bytes.size() + kPageSize);
  struct Case {
    const char* what;
    int32_t total, lastUsed;
    std::vector<std::string> header;  // the "header: " problems, in order
  };
  const Case cases[] = {
      {"LastUsedPageNo at TotalPageCount",
       db.total,
       db.total,
       {"LastUsedPageNo " + t + " is not below TotalPageCount " + t}},
      {"TotalPageCount one page past the end of the file",
       db.total + 1,
       db.lastUsed,
       {"the page area of " + std::to_string(db.total + 1) + " pages ends at byte " + end +
        ", past the end of the file (" + std::to_string(db.bytes.size()) + " bytes)"}},
      {"both",
       db.total + 1,
       db.total + 1,
       {"LastUsedPageNo " + std::to_string(db.total + 1) + " is not below TotalPageCount " +
            std::to_string(db.total + 1),
        "the page area of " + std::to_string(db.total + 1) + " pages ends at byte " + end +
            ", past the end of the file (" + std::to_string(db.bytes.size()) + " bytes)"}},
      {"LastUsedPageNo -1 over a database with tables",
       db.total,
       -1,
       {"LastUsedPageNo -1 is below 2: the system directory at page 2 is in use"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes damaged = db.bytes;
    PutI32(&damaged[kHdrTotalPageCount], c.total);
    PutI32(&damaged[kHdrLastUsedPageNo], c.lastUsed);
    WriteAll(db.path, damaged);
    std::vector<std::string> expected;
    for (const std::string& h : c.header) expected.push_back("header: " + h);
    expected.push_back("database: Invalid database format - Native error: 20237");
    EXPECT_EQ(CheckDatabase(db.path, TABSPassword{}).problems, expected);
    EXPECT_EQ(ReadAll(db.path), damaged);  // the check never writes
  }
}

// A growth cut short leaves the file longer than its page area: that file
// is no damage. It opens, and its next growth ends the file right after the
// pages its header counts.
TEST(HostilePageCountTest, AFileLongerThanItsPageAreaOpensAndGrowsFromItsCount) {
  const Built db;
  Bytes longer = db.bytes;
  longer.resize(longer.size() + 3 * kPageSize, 0);
  WriteAll(db.path, longer);
  constexpr int32_t kMore = 2000;
  {
    Connection c(db.path);
    AddRows(c, kRows, kMore);
  }
  const Bytes after = ReadAll(db.path);
  const int32_t total = GetI32(&after[kHdrTotalPageCount]);
  ASSERT_GT(int64_t{total} * kPageSize, static_cast<int64_t>(longer.size())) << "the rows never grew the file";
  EXPECT_EQ(static_cast<int64_t>(after.size()), tiv::disk::kNewPageAreaOffset + int64_t{total} * kPageSize);
  Connection c(db.path);
  EXPECT_EQ(c.Ids("t").size(), static_cast<size_t>(kRows + kMore));
}

// A file of 2^31 - 3 pages (sparse: nothing is written in it) is a valid
// database; growing it by a step would pass the int32 page numbers. The
// growth is refused before the file or its header change.
TEST(HostilePageCountTest, GrowthPastTwoToTheThirtyOnePagesIsRefusedBeforeTheFileChanges) {
  ScratchDir dir;
  const std::string path = dir.File("enorme.zud");
  CreateDatabase(path);
  {
    // One page makes the map: page 0 is the first PFS page, as in every
    // database start.
    TABSDiskPageManager pm;
    OpenDb(pm, path, false);
    pm.PutPage(pm.AddPage(0, tiv::disk::ptTableRecord));
    pm.CommitSession(0);
  }
  const int32_t total = INT32_MAX - 2;
  const int64_t size = tiv::disk::kNewPageAreaOffset + int64_t{total} * kPageSize;
  {
    Bytes header = ReadAll(path);
    PutI32(&header[kHdrTotalPageCount], total);
    PutI32(&header[kHdrLastUsedPageNo], -1);
    WriteAll(path, header);
    std::error_code ec;
    std::filesystem::resize_file(path, static_cast<uintmax_t>(size), ec);
    ASSERT_FALSE(ec) << "this file system holds no sparse file of " << size << " bytes: " << ec.message();
  }
  struct Case {
    const char* what;
    std::function<void(TABSDiskPageManager&)> grow;
  };
  const Case cases[] = {
      {"allocating a page", [](TABSDiskPageManager& pm) { pm.AddPage(0, tiv::disk::ptTableRecord); }},
      {"extending the file", [](TABSDiskPageManager& pm) { pm.ExtendFile(10); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TABSDiskPageManager pm;
    OpenDb(pm, path, false);
    ExpectEngineError([&] { c.grow(pm); }, 30431, "cannot be addressed");
    pm.CloseDatabaseFile();
    EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(path)), size);
    TABSDiskPageManager again;
    OpenDb(again, path, false);
    EXPECT_EQ(again.Header().TotalPageCount, total);
    EXPECT_EQ(again.Header().LastUsedPageNo, -1);
  }
}

// Releases cut the file's free tail. Whichever write of such a commit fails,
// the file it leaves opens: its header never counts pages past its end.
TEST(HostilePageCountTest, AFailedReleaseNeverLeavesAHeaderPastTheEndOfTheFile) {
  ScratchDir dir;
  const std::string path = dir.File("corte.zud");
  CreateDatabase(path);
  std::vector<int32_t> pages;
  {
    TABSDiskPageManager pm;
    OpenDb(pm, path, false);
    for (int i = 0; i < 60; ++i) {
      TABSPage* p = pm.AddPage(0, tiv::disk::ptTableRecord);
      pages.push_back(p->PageNo);
      pm.PutPage(p);
    }
    pm.CommitSession(0);
  }
  const Bytes pristine = ReadAll(path);
  bool cut = false;
  int failures = 0;
  for (int nth = 1; nth < 500; ++nth) {
    SCOPED_TRACE("write " + std::to_string(nth) + " fails");
    WriteAll(path, pristine);
    bool failed = false;
    {
      tiv::os::FaultFileSystem fs;
      TABSDiskPageManager pm(fs);
      OpenDb(pm, path, false);
      for (int32_t p : pages) pm.DeletePage(0, p);
      fs.FailWrite(nth, 2);  // the write and its retry
      try {
        pm.CommitSession(0);
      } catch (const EABSException&) {
        failed = true;
      }
    }
    cut = cut || ReadAll(path).size() < pristine.size();
    try {
      TABSDiskPageManager again;
      OpenDb(again, path, false);
    } catch (const EABSException& e) {
      ADD_FAILURE() << "the file no longer opens: " << e.what();
    }
    if (!failed) break;  // past the commit's last write
    ++failures;
  }
  EXPECT_TRUE(cut) << "the releases never cut the file: the test shows nothing";
  EXPECT_GT(failures, 60) << "too few writes failed: the test shows nothing";
}

// An allocation writes the page's map bit, then the header. A crash between
// the two leaves the bit set above LastUsedPageNo (and the file longer by
// the growth). The next growth must not hand that page out again: it is
// skipped and stays marked, an honest leak that the check reports, never a
// page given twice ("Page: N already used" on the next insert).
TEST(HostilePageCountTest, APageMarkedUsedAboveLastUsedPageNoIsNeverHandedOutAgain) {
  struct Case {
    const char* what;
    std::vector<int32_t> abovePages;  // set bits, as pages past TotalPageCount
  };
  const Case cases[] = {
      {"the page after the last one", {0}},
      {"two pages, one apart", {0, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Built db;
    Bytes crashed = db.bytes;
    std::vector<int32_t> marked;
    for (int32_t above : c.abovePages) {
      const int32_t page = db.total + above;
      crashed[At(tiv::disk::kFirstPfsPageNo, page / 8)] |= static_cast<uint8_t>(1u << (page % 8));
      marked.push_back(page);
    }
    RestorePlainPageCrcs(crashed);  // the map page was written so
    crashed.resize(crashed.size() + 8 * kPageSize, 0);
    WriteAll(db.path, crashed);
    constexpr int32_t kMore = 2000;
    {
      Connection c(db.path);
      AddRows(c, kRows, kMore);
    }
    const Bytes after = ReadAll(db.path);
    ASSERT_GT(GetI32(&after[kHdrTotalPageCount]), marked.back() + 1) << "the rows never grew the file past the bits";
    EXPECT_GE(GetI32(&after[kHdrLastUsedPageNo]), marked.back());
    {
      Connection c(db.path);
      EXPECT_EQ(c.Ids("t").size(), static_cast<size_t>(kRows + kMore));
    }
    // The crash left the pages themselves unwritten: the check names them
    // twice, as pages without a signature and as leaks.
    std::vector<std::string> expected;
    for (int32_t page : marked) expected.push_back("page " + std::to_string(page) + ": no page signature");
    for (int32_t page : marked) expected.push_back("page " + std::to_string(page) + " is marked used but nothing uses it");
    EXPECT_EQ(CheckDatabase(db.path, TABSPassword{}).problems, expected);
  }
}

}  // namespace
