// The admin tool as a user runs it: create, info (text and JSON), and the
// errors it reports without crashing.
#include "ChildProcess.h"
#include "DiskTestUtil.h"

namespace {

struct ToolRun {
  int exitCode;
  std::vector<std::string> lines;
};

ToolRun Zudadmin(const std::vector<std::string>& args) {
  ChildProcess p(args, ZUDADMIN_PATH);
  ToolRun r;
  for (;;) {
    std::string line = p.ReadLine(20000);
    if (line.empty()) break;
    r.lines.push_back(line);
  }
  r.exitCode = p.Wait();
  return r;
}

TEST(Zudadmin, CreateThenInfoShowsEveryField) {
  ScratchDir dir;
  const std::string db = dir.File("t.zud");
  ToolRun c = Zudadmin({"create", db, "--page-size", "8192", "--extent", "16"});
  ASSERT_EQ(c.exitCode, 0);
  ToolRun i = Zudadmin({"info", db});
  ASSERT_EQ(i.exitCode, 0);
  const std::vector<std::string> want = {
      "DatabaseStart: 0",      "Signature: ZORVANTEKSTORAGE", "HeaderSize: 76",        "Version: 6.09",
      "PageSize: 8192",        "PageCountInExtent: 16",       "TotalPageCount: 0",     "LastUsedPageNo: -1",
      "CommitCounter: 0",      "State: 2",                    "Encrypted: 0",          "CheckBlockSize: 280",
      "CryptoAlgorithm: 0",    "CheckCRC: 0x00000000",        "LockAreaSize: 20",      "NextObjectID: 0",
      "PageAreaOffset: 380",   "NeedRepair: false"};
  EXPECT_EQ(i.lines, want);
  ToolRun j = Zudadmin({"info", db, "--json"});
  ASSERT_EQ(j.exitCode, 0);
  ASSERT_EQ(j.lines.size(), 1u);
  EXPECT_NE(j.lines[0].find("\"Signature\": \"ZORVANTEKSTORAGE\""), std::string::npos);
  EXPECT_NE(j.lines[0].find("\"PageSize\": 8192"), std::string::npos);
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
      {{"create", dir.File("a.zud"), "--max-connections", "10"}, 1, "not available yet"},
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
