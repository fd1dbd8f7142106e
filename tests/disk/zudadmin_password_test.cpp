// The admin tool with encrypted databases: --password and --algorithm at
// create, --password at info and pages, the typed text taken as its
// Windows-1252 bytes.
#include "ChildProcess.h"
#include "DiskTestUtil.h"

namespace {

struct ToolRun {
  int exitCode;
  std::vector<std::string> lines;
  bool Has(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
};

ToolRun Zudadmin(const std::vector<std::string>& args) {
  ChildProcess p(args, ZUDADMIN_PATH);
  ToolRun r;
  for (std::string line = p.ReadLine(20000); !line.empty(); line = p.ReadLine(20000)) r.lines.push_back(line);
  r.exitCode = p.Wait();
  return r;
}

const std::string kTyped = "Contrase\xC3\xB1" "a";  // as a UTF-8 terminal sends it
const std::string kWin1252 = "Contrase\xF1" "a";

}  // namespace

TEST(ZudadminPassword, CreatesAnEncryptedDatabaseThatOpensOnlyWithItsPassword) {
  ScratchDir dir;
  const std::string db = dir.File("e.zud");
  ASSERT_EQ(Zudadmin({"create", db, "--password", kTyped, "--algorithm", "5"}).exitCode, 0);

  const ToolRun ok = Zudadmin({"info", db, "--password", kTyped});
  ASSERT_EQ(ok.exitCode, 0);
  EXPECT_TRUE(ok.Has("Encrypted: 255"));
  EXPECT_TRUE(ok.Has("CryptoAlgorithm: 5"));
  EXPECT_EQ(Zudadmin({"pages", db, "--password", kTyped}).exitCode, 0);

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"info", db}, {"info", db, "--password", "contrase\xC3\xB1" "a"}, {"pages", db}}) {
    const ToolRun bad = Zudadmin(args);
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(bad.Has("zudadmin: Cannot open database - incorrect password - Native error: 30445"));
  }

  // The engine sees the Windows-1252 bytes of what was typed.
  TABSDiskPageManager pm;
  bool multiUser = false, needRepair = false, readOnly = true;
  pm.OpenDatabaseFile(db, TABSPassword{kWin1252, 0}, multiUser, false, needRepair, readOnly);
  EXPECT_EQ(pm.CheckBlock().CryptoAlgorithm, 5);
}

TEST(ZudadminPassword, AnEmptyPasswordIsPlainAndAnUnknownAlgorithmIsAUsageError) {
  ScratchDir dir;
  const std::string db = dir.File("p.zud");
  ASSERT_EQ(Zudadmin({"create", db, "--password", "", "--algorithm", "3"}).exitCode, 0);
  const ToolRun info = Zudadmin({"info", db});
  ASSERT_EQ(info.exitCode, 0);
  EXPECT_TRUE(info.Has("Encrypted: 0"));
  EXPECT_EQ(Zudadmin({"create", dir.File("x.zud"), "--password", "k", "--algorithm", "8"}).exitCode, 2);
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.zud")));
}
