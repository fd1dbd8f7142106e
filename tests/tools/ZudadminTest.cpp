// The admin tool as a user runs it: create, info (text and JSON), and the
// errors it reports without crashing.
#include "DiskTestUtil.h"
#include "ZudadminRun.h"
#include "disk/DiskDatabase.h"

namespace {

TEST(Zudadmin, CreateThenInfoShowsEveryField) {
  ScratchDir dir;
  const std::string db = dir.File("t.zud");
  ToolRun c = Zudadmin({"create", db, "--page-size", "8192", "--extent", "16"});
  ASSERT_EQ(c.exitCode, 0);
  ToolRun i = Zudadmin({"info", db});
  ASSERT_EQ(i.exitCode, 0);
  const std::vector<std::string> want = {"DatabaseStart: 0",    "Signature: ZORVANTEKSTORAGE",
                                         "HeaderSize: 76",      "Version: 6.09",
                                         "PageSize: 8192",      "PageCountInExtent: 16",
                                         "TotalPageCount: 6",   "LastUsedPageNo: 4",
                                         "CommitCounter: 1",    "State: 2",
                                         "Encrypted: 0",        "CheckBlockSize: 280",
                                         "CryptoAlgorithm: 0",  "CheckCRC: 0x00000000",
                                         "LockAreaSize: 20",    "NextObjectID: 0",
                                         "PageAreaOffset: 380", "NeedRepair: false",
                                         "MaxConnections: 500", "PagesUsed: 5",
                                         "PagesFree: 1",        "Extents: 1"};
  EXPECT_EQ(i.lines, want);
  ToolRun j = Zudadmin({"info", db, "--json"});
  ASSERT_EQ(j.exitCode, 0);
  ASSERT_EQ(j.lines.size(), 1u);
  EXPECT_NE(j.lines[0].find("\"Signature\": \"ZORVANTEKSTORAGE\""), std::string::npos);
  EXPECT_NE(j.lines[0].find("\"PageSize\": 8192"), std::string::npos);
}

TEST(Zudadmin, PagesListsEveryPageWithItsMapState) {
  ScratchDir dir;
  const std::string db = dir.File("p.zud");
  {
    TABSDiskPageManager pm;
    pm.CreateDatabaseFile(db, TABSPassword{});
    for (int i = 0; i < 3; ++i) {
      TABSPage* p = pm.AddPage(TABSPageManager::kSystemSession,
                               i == 0 ? tiv::disk::ptFileSystemDirectory : tiv::disk::ptTableRecord);
      p->SetNextPageNo(i == 0 ? 3 : -1);
      if (i) p->SetOwnerTableID(9);
      pm.PutPage(p);
    }
    pm.CommitSession(TABSPageManager::kSystemSession);
    pm.DeletePage(TABSPageManager::kSystemSession, 3);
    pm.CommitSession(TABSPageManager::kSystemSession);
  }
  ToolRun r = Zudadmin({"pages", db});
  ASSERT_EQ(r.exitCode, 0);
  ASSERT_EQ(r.lines.size(), 7u);
  EXPECT_EQ(r.lines[0], "PageNo\tType\tPageVersion\tNextPageNo\tOwnerTableID\tMap");
  auto starts = [&](size_t i, const std::string& s) { EXPECT_EQ(r.lines[i].rfind(s, 0), 0u) << r.lines[i]; };
  auto ends = [&](size_t i, const std::string& s) {
    EXPECT_EQ(r.lines[i].substr(r.lines[i].size() - s.size()), s) << r.lines[i];
  };
  starts(1, "0\tPFS Page\t");
  starts(2, "1\tEAM Page\t");
  starts(3, "2\tFileSystemDirectory Page\t");
  ends(3, "\t3\t-1\tused");
  starts(4, "3\tTableRecord Page\t2147483647\t-1\t9\tfree");  // released
  ends(5, "\t-1\t9\tused");
  starts(6, "5\t(no page)");
  ends(6, "free");
  // Page 2 here is no real system directory, so info says it could not
  // read the database's system files, after the figures.
  ToolRun i = Zudadmin({"info", db});
  EXPECT_EQ(i.exitCode, 1);
  ASSERT_GE(i.lines.size(), 4u);
  const std::vector<std::string> tail(i.lines.end() - 4, i.lines.end() - 1);
  EXPECT_EQ(tail, (std::vector<std::string>{"PagesUsed: 4", "PagesFree: 2", "Extents: 1"}));
}

TEST(Zudadmin, CreateMakesAWholeDatabaseWithItsConnectionSlots) {
  ScratchDir dir;
  const std::string db = dir.File("m.zud");
  ASSERT_EQ(Zudadmin({"create", db, "--max-connections", "42"}).exitCode, 0);
  ToolRun i = Zudadmin({"info", db});
  ASSERT_EQ(i.exitCode, 0);
  EXPECT_NE(std::find(i.lines.begin(), i.lines.end(), "MaxConnections: 42"), i.lines.end());
  ToolRun j = Zudadmin({"info", db, "--json"});
  ASSERT_EQ(j.exitCode, 0);
  EXPECT_NE(j.lines[0].find("\"MaxConnections\": 42"), std::string::npos);
  TABSDiskDatabase whole;
  bool mu = true, nr = false, ro = true;
  whole.OpenDatabase(db, TABSPassword{}, mu, false, nr, ro);
  EXPECT_EQ(whole.MaxConnections(), 42);
  EXPECT_TRUE(whole.TableList().Entries().empty());
  whole.CloseDatabase();
  // A damaged system directory: the header is still shown, the error names
  // the directory's page and type, and the exit code says it failed.
  Bytes file = ReadAll(db);
  tiv::disk::PutI32(&file[380 + 2 * 4096 + 41], 3);
  tiv::disk::PutI32(&file[380 + 2 * 4096 + 45], 3);
  StorePlainPageCrc(file, 380 + 2 * 4096);
  WriteAll(db, file);
  ToolRun bad = Zudadmin({"info", db});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(std::find(bad.lines.begin(), bad.lines.end(), "PageSize: 4096"), bad.lines.end());
  EXPECT_NE(std::find(bad.lines.begin(), bad.lines.end(), "MaxConnections: -"), bad.lines.end());
  EXPECT_NE(std::find(bad.lines.begin(), bad.lines.end(),
                      "zudadmin: Error reading database file page. Page No: 2, type 4 - Native error: 20299"),
            bad.lines.end());
  EXPECT_EQ(ReadAll(db), file);
}

TEST(Zudadmin, ErrorsGoToStderrWithANonZeroExit) {
  ScratchDir dir;
  const std::string junk = dir.File("junk.bin");
  WriteAll(junk, Bytes(1000, 0x41));
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string part;
  } cases[] = {
      {{"info", junk}, 1, "Invalid file format. Found signature: 'AAAAAAAAAAAAAAAA'"},
      {{"info", dir.File("missing.zud")}, 1, "Native error: 30364"},
      {{"create", dir.File("a.zud"), "--page-size", "100"}, 2, "--page-size needs a whole number"},
      {{"create", dir.File("a.zud"), "--max-connections", "0"}, 2, "--max-connections needs a whole number"},
      {{"frobnicate", junk}, 2, "unknown command"},
      {{"info"}, 2, "usage:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    ToolRun r = Zudadmin(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode);
    std::string all;
    for (auto& l : r.lines) all += l + "\n";
    EXPECT_NE(all.find(c.part), std::string::npos) << all;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("a.zud")));
}

}  // namespace
